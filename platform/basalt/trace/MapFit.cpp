// MapFit: the multi-agent contour evolution over a slice range.
#include "trace/MapFit.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "TwkMem.h"
#include "TwkUi.h"
#include "trace/MagTrace.h"
#include "volume/Frame.h"

namespace {

struct SliceGradient {
  int w = 0, h = 0;
  double* g = nullptr;  // 3 per voxel
  double* values = nullptr;
  ~SliceGradient() {
    pf_free(&g);
    pf_free(&values);
  }
  bool compute(const FRAME* frame, int z, int t, double sigma) {
    pf_free(&g);
    pf_free(&values);
    FRAME* slice = VA_VolCropSlice(frame, z, t);
    values = slice ? VA_GetEdgeWorkVol(slice) : nullptr;
    PR_FrameDelete(&slice);
    if (!values) return false;
    w = frame->dim.w;
    h = frame->dim.h;
    VA_URALGRAD grad{};
    grad.normalization = sigma;
    const DIM3D dims{w, h, 1, 1};
    g = VA_DetectGrad3D(&grad, 0, 1, values, nullptr, &dims, false);
    return g != nullptr;
  }
  // Bilinear between voxel centres; false outside the slice.
  bool at(double x, double y, double* gx, double* gy, double* v) const {
    if (x < 0 || y < 0 || x >= w || y >= h) return false;
    const double fx = std::clamp(x - 0.5, 0.0, double(w - 1)), fy = std::clamp(y - 0.5, 0.0, double(h - 1));
    const int x0 = std::min(int(fx), w - 1), y0 = std::min(int(fy), h - 1);
    const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
    const double ax = fx - x0, ay = fy - y0;
    const double wts[4] = {(1 - ax) * (1 - ay), ax * (1 - ay), (1 - ax) * ay, ax * ay};
    const int64_t idx[4] = {int64_t(y0) * w + x0, int64_t(y0) * w + x1, int64_t(y1) * w + x0, int64_t(y1) * w + x1};
    *gx = *gy = *v = 0;
    for (int k = 0; k < 4; ++k) {
      *gx += wts[k] * g[idx[k] * 3];
      *gy += wts[k] * g[idx[k] * 3 + 1];
      *v += wts[k] * values[idx[k]];
    }
    return true;
  }
};

// Unit normals of a closed contour (the direction through the neighbours turned by 90 degrees).
std::vector<DPOINT> normals(const std::vector<DPOINT3D>& c) {
  const size_t n = c.size();
  std::vector<DPOINT> out(n);
  for (size_t i = 0; i < n; ++i) {
    const DPOINT3D& a = c[(i + n - 1) % n];
    const DPOINT3D& b = c[(i + 1) % n];
    double nx = -(b.y - a.y), ny = b.x - a.x;
    const double len = std::hypot(nx, ny);
    out[i] = len > 0 ? DPOINT{nx / len, ny / len} : DPOINT{0, 0};
  }
  return out;
}

// One step of the evolution onto the slice of grad: each agent's signed move along its normal.
void evolve(const VA_MAPFITAGPARM& p, const SliceGradient& grad, const std::vector<DPOINT3D>& contour,
            std::vector<DPOINT>& lastGradient, std::vector<DPOINT3D>& out) {
  const size_t n = contour.size();
  const std::vector<DPOINT> nrm = normals(contour);
  std::vector<double> move(n, 0.0);
  const double step = std::max(0.0, p.evolutionStep);
  for (size_t i = 0; i < n; ++i) {
    double best = 0, bestS = 0, bestV = 0;
    bool found = false;
    for (double s = -step; s <= step + 1e-9; s += 0.25) {
      double gx, gy, v;
      if (!grad.at(contour[i].x + s * nrm[i].x, contour[i].y + s * nrm[i].y, &gx, &gy, &v)) continue;
      const double mag = std::hypot(gx, gy);
      if (mag <= 1e-12) continue;
      if (p.similarGradientDirection && (lastGradient[i].x != 0 || lastGradient[i].y != 0) &&
          gx * lastGradient[i].x + gy * lastGradient[i].y < 0)
        continue;
      double score = p.maxGradient ? mag : 1.0;
      if (p.gradientContourNormal) score *= std::fabs(gx * nrm[i].x + gy * nrm[i].y) / mag;
      const bool tie = found && std::fabs(score - best) <= 1e-12 * std::max(1.0, best);
      const bool better = !found || score > best * (1 + 1e-12) ||
                          (tie && (p.preferDark ? v < bestV : std::fabs(s) < std::fabs(bestS)));
      if (better) {
        best = score;
        bestS = s;
        bestV = v;
        found = true;
      }
    }
    move[i] = found ? bestS : 0.0;
  }
  // Smoothing of the moves along the closed contour.
  const int r = std::max(0, p.smoothness);
  out.resize(n);
  for (size_t i = 0; i < n; ++i) {
    double sum = 0;
    int m = 0;
    for (int k = -r; k <= r && m < int(n); ++k, ++m) sum += move[(i + n + size_t((k % int(n) + int(n)) % int(n))) % n];
    const double s = m ? sum / m : 0.0;
    out[i] = DPOINT3D{contour[i].x + s * nrm[i].x, contour[i].y + s * nrm[i].y, contour[i].z};
    double gx, gy, v;
    if (grad.at(out[i].x, out[i].y, &gx, &gy, &v) && std::hypot(gx, gy) > 1e-12) lastGradient[i] = DPOINT{gx, gy};
  }
}

}  // namespace

void VA_FreeMorphContours(DPOINT3D*** contours, int** counts, int slices) {
  if (contours && *contours) {
    for (int i = 0; i < slices; ++i) pf_free(&(*contours)[i]);
    pf_free(contours);
  }
  if (counts) pf_free(counts);
}

DPOINT3D** VA_MorphContourMultiAgent(const VA_MAPFITAGPARM* parms, const FRAME* frame, const SPC*, int t, int z0,
                                     int z1, const DPOINT3D* contour, int count, int** counts, bool show) {
  const wchar_t* fn = L"VA_MorphContourMultiAgent";
  if (counts) *counts = nullptr;
  if (!parms || !frame || !frame->data || !contour || !counts || count < 3 || t < 0 || t >= frame->dim.t) {
    if (show) twk::showNamedError(fn, L"Invalid parameters");
    return nullptr;
  }
  const int depth = frame->dim.d;
  const int seed = int(std::floor(contour[0].z));
  if (z0 > z1 || z0 < 0 || z1 >= depth || seed < 0 || seed >= depth) {
    if (show) twk::showNamedError(fn, L"Invalid slice range");
    return nullptr;
  }
  const int slices = z1 - z0 + 1;
  auto** out = static_cast<DPOINT3D**>(pf_calloc(int64_t(slices) * int64_t(sizeof(DPOINT3D*))));
  *counts = static_cast<int*>(pf_calloc(int64_t(slices) * int64_t(sizeof(int))));
  if (!out || !*counts) {
    VA_FreeMorphContours(&out, counts, slices);
    return nullptr;
  }
  auto keep = [&](int z, const std::vector<DPOINT3D>& c) {
    if (z < z0 || z > z1) return true;
    auto* copy = static_cast<DPOINT3D*>(pf_malloc(int64_t(c.size()) * int64_t(sizeof(DPOINT3D))));
    if (!copy) return false;
    std::copy(c.begin(), c.end(), copy);
    out[z - z0] = copy;
    (*counts)[z - z0] = int(c.size());
    return true;
  };
  const std::vector<DPOINT3D> start(contour, contour + count);
  bool ok = keep(seed, start);
  const double sigma = std::max(0.5, parms->edgeRadius / 2);
  SliceGradient grad;
  twk::ProgressGuard progress(L"MapFit", show);
  int done = 0;
  // Up from the contour's slice, then down from it; each direction starts from the drawn contour.
  for (int direction : {1, -1}) {
    std::vector<DPOINT3D> current = start;
    std::vector<DPOINT> lastGradient(size_t(count), DPOINT{0, 0});
    if (grad.compute(frame, seed, t, sigma))
      for (size_t i = 0; i < current.size(); ++i) {
        double gx, gy, v;
        if (grad.at(current[i].x, current[i].y, &gx, &gy, &v)) lastGradient[i] = DPOINT{gx, gy};
      }
    for (int z = seed + direction; ok && z >= z0 && z <= z1; z += direction) {
      if (!progress.Step(++done, slices)) {
        ok = false;
        break;
      }
      if (!grad.compute(frame, z, t, sigma)) {
        ok = false;
        break;
      }
      for (DPOINT3D& q : current) q.z = z + 0.5;
      std::vector<DPOINT3D> next;
      evolve(*parms, grad, current, lastGradient, next);
      current = next;
      ok = keep(z, current);
    }
  }
  progress.End();
  if (!ok) {
    VA_FreeMorphContours(&out, counts, slices);
    return nullptr;
  }
  return out;
}
