// Random augmentation of a batch of FlexDim samples: one geometric map per sample applied to the
// image planes, the label and the mask alike, then intensity changes of the image.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "AnnData.h"

namespace {

struct Point {
  double x, y;
};

// Where each target pixel samples its source: an affine map about the centre plus displacement
// fields, after an optional left-right mirror of the target.
class SampleMap {
 public:
  SampleMap(int w, int h) : w_(w), h_(h) {}

  bool identity() const { return !affine_ && warp_.empty() && rbfCentres_.empty() && !mirror_; }

  void setAffine(double scale, double rotationDeg, double shearDeg, double tx, double ty) {
    const double r = rotationDeg * M_PI / 180, sh = std::tan(shearDeg * M_PI / 180);
    const double c = std::cos(r), s = std::sin(r);
    // rotation x shear x scale
    m_[0] = scale * c;
    m_[1] = scale * (c * sh - s);
    m_[2] = scale * s;
    m_[3] = scale * (s * sh + c);
    tx_ = tx, ty_ = ty;
    affine_ = true;
  }
  // Control points every `spacing` pixels, each moved by up to `distance` in x and y.
  void setWarp(PR_RANDGEN* gen, double spacing, double distance) {
    step_ = std::max(spacing, 2.0);
    nx_ = int(std::ceil((w_ - 1) / step_)) + 1;
    ny_ = int(std::ceil((h_ - 1) / step_)) + 1;
    warp_.resize(size_t(nx_) * size_t(ny_));
    for (Point& p : warp_) p = {PR_RandUniform(gen, -distance, distance), PR_RandUniform(gen, -distance, distance)};
  }
  // grid x grid Gaussian radial-basis centres, each moved by up to maxDisp.
  void setRadialBasis(PR_RANDGEN* gen, int grid, double maxDisp, double smoothK) {
    const double spacing = double(std::max(w_, h_)) / grid;
    sigma2_ = std::max(1e-6, std::pow(smoothK * spacing, 2));
    for (int j = 0; j < grid; ++j)
      for (int i = 0; i < grid; ++i) {
        rbfCentres_.push_back({(i + 0.5) * w_ / grid, (j + 0.5) * h_ / grid});
        rbfMoves_.push_back({PR_RandUniform(gen, -maxDisp, maxDisp), PR_RandUniform(gen, -maxDisp, maxDisp)});
      }
  }
  void setMirror() { mirror_ = true; }

  Point source(int x, int y) const {
    Point q{double(mirror_ ? w_ - 1 - x : x), double(y)};
    Point s = q;
    if (affine_) {
      const double cx = 0.5 * (w_ - 1), cy = 0.5 * (h_ - 1);
      const double dx = q.x - cx, dy = q.y - cy;
      s = {m_[0] * dx + m_[1] * dy + cx + tx_, m_[2] * dx + m_[3] * dy + cy + ty_};
    }
    if (!warp_.empty()) {
      const double gx = q.x / step_, gy = q.y / step_;
      const int i = std::min(int(gx), nx_ - 2 < 0 ? 0 : nx_ - 2), j = std::min(int(gy), ny_ - 2 < 0 ? 0 : ny_ - 2);
      const double fx = std::clamp(gx - i, 0.0, 1.0), fy = std::clamp(gy - j, 0.0, 1.0);
      auto node = [&](int a, int b) { return warp_[size_t(std::min(b, ny_ - 1)) * size_t(nx_) + size_t(std::min(a, nx_ - 1))]; };
      const Point p00 = node(i, j), p10 = node(i + 1, j), p01 = node(i, j + 1), p11 = node(i + 1, j + 1);
      s.x += (1 - fy) * ((1 - fx) * p00.x + fx * p10.x) + fy * ((1 - fx) * p01.x + fx * p11.x);
      s.y += (1 - fy) * ((1 - fx) * p00.y + fx * p10.y) + fy * ((1 - fx) * p01.y + fx * p11.y);
    }
    for (size_t k = 0; k < rbfCentres_.size(); ++k) {
      const double dx = q.x - rbfCentres_[k].x, dy = q.y - rbfCentres_[k].y;
      const double g = std::exp(-(dx * dx + dy * dy) / (2 * sigma2_));
      s.x += g * rbfMoves_[k].x;
      s.y += g * rbfMoves_[k].y;
    }
    return s;
  }

 private:
  int w_, h_;
  bool affine_ = false, mirror_ = false;
  double m_[4] = {1, 0, 0, 1}, tx_ = 0, ty_ = 0;
  double step_ = 1;
  int nx_ = 0, ny_ = 0;
  std::vector<Point> warp_;
  std::vector<Point> rbfCentres_, rbfMoves_;
  double sigma2_ = 1;
};

void resample(const SampleMap& map, int w, int h, int channels, float* pixels, uint8_t* label, uint8_t* mask) {
  const int64_t plane = int64_t(w) * h;
  std::vector<float> image(pixels, pixels + plane * channels);
  std::vector<uint8_t> labelCopy(label, label + plane);
  std::vector<uint8_t> maskCopy = mask ? std::vector<uint8_t>(mask, mask + plane) : std::vector<uint8_t>();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int64_t k = int64_t(y) * w + x;
      const Point s = map.source(x, y);
      const bool inside = s.x > -0.5 && s.y > -0.5 && s.x < w - 0.5 && s.y < h - 0.5;
      if (!inside) {
        for (int c = 0; c < channels; ++c) pixels[c * plane + k] = 0;
        label[k] = 0;
        if (mask) mask[k] = 0;
        continue;
      }
      const double cx = std::clamp(s.x, 0.0, double(w - 1)), cy = std::clamp(s.y, 0.0, double(h - 1));
      const int x0 = std::min(int(cx), std::max(w - 2, 0)), y0 = std::min(int(cy), std::max(h - 2, 0));
      const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
      const double fx = cx - x0, fy = cy - y0;
      for (int c = 0; c < channels; ++c) {
        const float* src = image.data() + c * plane;
        pixels[c * plane + k] = float((1 - fy) * ((1 - fx) * src[y0 * w + x0] + fx * src[y0 * w + x1]) +
                                      fy * ((1 - fx) * src[y1 * w + x0] + fx * src[y1 * w + x1]));
      }
      const int64_t nearest = int64_t(std::lround(cy)) * w + std::lround(cx);
      label[k] = labelCopy[size_t(nearest)];
      if (mask) mask[k] = maskCopy[size_t(nearest)];
    }
}

}  // namespace

bool VA_PerformBatchAugmentation_ImageAndBytemap_FlexDim(PR_RANDGEN* gen, const VA_AUGMENT3D* aug, int /*tensorType*/,
                                                        void** images, void** labels, void** masks, int64_t count,
                                                        int channels) {
  if (!gen || !aug || (count > 0 && (!images || !labels))) return false;
  for (int64_t i = 0; i < count; ++i) {
    if (!images[i] || !labels[i]) return false;
    const VA_FLEXDIM_HEAD* head = VA_FlexDimHead(images[i]);
    const int w = head->width, h = head->height;
    if (head->channels != channels || VA_FlexDimHead(labels[i])->width != w || VA_FlexDimHead(labels[i])->height != h)
      return false;
    float* pixels = VA_FlexDimPixels(images[i]);
    const int64_t values = int64_t(w) * h * channels;

    SampleMap map(w, h);
    if (PR_RandChance(gen, aug->ProbAffine)) {
      const double maxScale = std::max(1.0, aug->affMaxScale);
      const double scale = std::exp(PR_RandUniform(gen, -std::log(maxScale), std::log(maxScale)));
      const double rotation = PR_RandUniform(gen, -aug->affMaxRot, aug->affMaxRot);
      const double shear = PR_RandUniform(gen, -aug->affMaxShear, aug->affMaxShear);
      const double tx = PR_RandUniform(gen, -aug->affMaxTrans, aug->affMaxTrans);
      const double ty = PR_RandUniform(gen, -aug->affMaxTrans, aug->affMaxTrans);
      map.setAffine(scale, rotation, shear, tx, ty);
    }
    if (PR_RandChance(gen, aug->WarpProb) && aug->WarpDist > 0) map.setWarp(gen, aug->WarpGaussRad, aug->WarpDist);
    if (PR_RandChance(gen, aug->ProbGRBF) && aug->GRBFgrid > 0 && aug->GRBFmaxdisp > 0)
      map.setRadialBasis(gen, aug->GRBFgrid, aug->GRBFmaxdisp, aug->GRBFsmoothK);
    if (PR_RandChance(gen, aug->ProbMirrorX)) map.setMirror();
    if (!map.identity())
      resample(map, w, h, channels, pixels, VA_FlexDimBytes(labels[i]), masks && masks[i] ? VA_FlexDimBytes(masks[i]) : nullptr);

    if (PR_RandChance(gen, aug->ProbInputGaussNoise))
      for (int64_t k = 0; k < values; ++k) pixels[k] += float(aug->InputGaussNoiseStdev * PR_RandNormal(gen));
    if (PR_RandChance(gen, aug->ProbSigScaleAndShift)) {
      const double scale = 1 + PR_RandUniform(gen, -aug->SigScaleMax, aug->SigScaleMax);
      const double shift = PR_RandUniform(gen, -aug->SigShiftMax, aug->SigShiftMax);
      for (int64_t k = 0; k < values; ++k) pixels[k] = float(pixels[k] * scale + shift);
    }
    if (PR_RandChance(gen, aug->ProbContrastAdjustment)) {
      double mean = 0;
      for (int64_t k = 0; k < values; ++k) mean += pixels[k];
      mean /= double(std::max<int64_t>(values, 1));
      const double factor = 1 + PR_RandUniform(gen, -aug->ContrastAdjMax, aug->ContrastAdjMax);
      for (int64_t k = 0; k < values; ++k) pixels[k] = float((pixels[k] - mean) * factor + mean);
    }
    if (PR_RandChance(gen, aug->ProbPoisson) && aug->PoissonScale > 0)
      for (int64_t k = 0; k < values; ++k)
        if (pixels[k] > 0)
          pixels[k] = float(double(PR_RandPoisson(gen, pixels[k] * aug->PoissonScale)) / aug->PoissonScale);
  }
  return true;
}
