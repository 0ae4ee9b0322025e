// N3 bias-field correction: histogram sharpening of the log intensities and a cubic B-spline fit
// of the residual field on sampled voxels (ITK's scattered-data B-spline filter).
#include <itkBSplineControlPointImageFunction.h>
#include <itkBSplineScatteredDataPointSetToImageFilter.h>
#include <itkPointSet.h>
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "filters/BiasField.h"
#include "filters/FilterCore.h"
#include "itk/ItkImageViews.h"
#include "volume/Frame.h"

using namespace twk::filters;

namespace {

using Value = itk::Vector<float, 1>;
using PointSet = itk::PointSet<Value, 3>;
using LatticeImage = itk::Image<Value, 3>;
using Fitter = itk::BSplineScatteredDataPointSetToImageFilter<PointSet, LatticeImage>;
using Evaluator = itk::BSplineControlPointImageFunction<LatticeImage, double>;

constexpr int kBins = 200;

// The field function takes parametric points: the domain [origin, origin + extent] onto [0, 1).
Evaluator::PointType parametric(const double position[3], const double origin[3], const double extent[3]) {
  Evaluator::PointType u;
  for (int a = 0; a < 3; ++a) u[a] = std::clamp((position[a] - origin[a]) / extent[a], 0.0, 1.0 - 1e-9);
  return u;
}

// Sharpened expectation of every histogram bin: the histogram of values deconvolved (Wiener) by a
// Gaussian of the FWHM, then E[true | observed] per bin.
std::vector<double> sharpen(const std::vector<double>& values, double lo, double binWidth, double fwhm, double noise) {
  const int n = 2 * kBins;  // zero-padded
  std::vector<std::complex<double>> h(size_t(n), 0.0), g(size_t(n), 0.0);
  for (double v : values) {
    const int b = std::clamp(int((v - lo) / binWidth), 0, kBins - 1);
    h[size_t(b)] += 1.0;
  }
  const double sigmaBins = fwhm / (2 * std::sqrt(2 * std::log(2.0))) / binWidth;
  double gsum = 0;
  for (int k = 0; k < n; ++k) {
    const int d = k <= n / 2 ? k : k - n;  // centred, wrapped
    const double w = std::exp(-0.5 * d * d / std::max(sigmaBins * sigmaBins, 1e-12));
    g[size_t(k)] = w;
    gsum += w;
  }
  for (auto& x : g) x /= gsum;
  auto dft = [n](const std::vector<std::complex<double>>& in, bool inverse) {
    std::vector<std::complex<double>> out(static_cast<size_t>(n));
    const double sign = inverse ? 1.0 : -1.0;
    for (int k = 0; k < n; ++k) {
      std::complex<double> s = 0;
      for (int j = 0; j < n; ++j) s += in[size_t(j)] * std::polar(1.0, sign * 2 * M_PI * double(k) * j / n);
      out[size_t(k)] = inverse ? s / double(n) : s;
    }
    return out;
  };
  const auto H = dft(h, false), G = dft(g, false);
  std::vector<std::complex<double>> F(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k)
    F[size_t(k)] = std::conj(G[size_t(k)]) * H[size_t(k)] / (std::norm(G[size_t(k)]) + noise);
  std::vector<std::complex<double>> f = dft(F, true);
  std::vector<double> truth(kBins);
  for (int b = 0; b < kBins; ++b) truth[size_t(b)] = std::max(0.0, f[size_t(b)].real());
  // E[true | observed b] = sum_x x f(x) g(b - x) / sum_x f(x) g(b - x).
  std::vector<double> expected(kBins);
  for (int b = 0; b < kBins; ++b) {
    double num = 0, den = 0;
    for (int x = 0; x < kBins; ++x) {
      const int d = b - x;
      const double w = truth[size_t(x)] * g[size_t(d >= 0 ? d : d + n)].real();
      num += (lo + (x + 0.5) * binWidth) * w;
      den += w;
    }
    expected[size_t(b)] = den > 0 ? num / den : lo + (b + 0.5) * binWidth;
  }
  return expected;
}

// The log field of one time point as a fitted B-spline lattice; false when stopped or failed.
bool fitField(const Volume3& vol, const std::vector<int64_t>& samples, const SPC& s, const VA_N3PARM* record,
              LatticeImage::Pointer* lattice, Fitter::ArrayType* controlPoints, double origin[3], double extent[3],
              twk::ProgressGuard& progress, bool show) {
  const size_t n = samples.size();
  std::vector<double> u(n), field(n, 0.0);
  for (size_t k = 0; k < n; ++k) u[k] = std::log(vol.v[size_t(samples[k])]);
  const double spacing[3] = {s.x, s.y, s.z};
  const int size[3] = {vol.w, vol.h, vol.d};
  Fitter::ArrayType levels, order;
  for (int a = 0; a < 3; ++a) {
    // The domain: the volume, grown by half a knot on each side when padded.
    const double full = (size[a] - 1) * spacing[a];
    const double pad = record->padVolume ? 0.5 * record->fieldSmoothness : 0.0;
    origin[a] = -pad;
    extent[a] = std::max(full + 2 * pad, spacing[a]);
    (*controlPoints)[a] = unsigned(std::max(1.0, std::ceil(extent[a] / record->fieldSmoothness))) + 3;
    levels[a] = 1;
    order[a] = 3;
  }
  auto points = PointSet::New();
  points->GetPoints()->Reserve(n);
  for (size_t k = 0; k < n; ++k) {
    const int64_t i = samples[k];
    PointSet::PointType p;
    p[0] = double(i % vol.w) * s.x;
    p[1] = double(i / vol.w % vol.h) * s.y;
    p[2] = double(i / (int64_t(vol.w) * vol.h)) * s.z;
    points->SetPoint(itk::IdentifierType(k), p);
  }
  for (int it = 0; it < std::max(1, record->iterations); ++it) {
    std::vector<double> r(n);
    double lo = 1e300, hi = -1e300;
    for (size_t k = 0; k < n; ++k) r[k] = u[k] - field[k], lo = std::min(lo, r[k]), hi = std::max(hi, r[k]);
    const double binWidth = std::max(hi - lo, 1e-9) / kBins;
    const std::vector<double> expected = sharpen(r, lo, binWidth, record->fwhm, record->noise);
    // The residual of the log intensities against their sharpened expectation, its mean removed
    // (a constant is no field).
    std::vector<double> residual(n);
    double mean = 0;
    for (size_t k = 0; k < n; ++k) {
      const double pos = (r[k] - lo) / binWidth - 0.5;
      const int b = std::clamp(int(std::floor(pos)), 0, kBins - 2);
      const double f = std::clamp(pos - b, 0.0, 1.0);
      residual[k] = u[k] - (expected[size_t(b)] * (1 - f) + expected[size_t(b + 1)] * f);
      mean += residual[k] / double(n);
    }
    for (size_t k = 0; k < n; ++k) {
      Value v;
      v[0] = float(residual[k] - mean);
      points->SetPointData(itk::IdentifierType(k), v);
    }
    auto fitter = Fitter::New();
    fitter->SetInput(points);
    fitter->SetGenerateOutputImage(false);
    LatticeImage::PointType o;
    LatticeImage::SpacingType sp;
    LatticeImage::SizeType sz;
    for (int a = 0; a < 3; ++a) o[a] = origin[a], sp[a] = extent[a] / 31.0, sz[a] = 32;
    fitter->SetOrigin(o);
    fitter->SetSpacing(sp);
    fitter->SetSize(sz);
    fitter->SetSplineOrder(order);
    fitter->SetNumberOfLevels(levels);
    fitter->SetNumberOfControlPoints(*controlPoints);
    if (!twk::itkv::update(fitter, L"VA_N3padded", show, 1, 90)) return false;
    *lattice = fitter->GetPhiLattice();
    auto eval = Evaluator::New();
    eval->SetSplineOrder(3);
    eval->SetOrigin(o);
    eval->SetSpacing(sp);
    eval->SetSize(sz);
    eval->SetInputImage(*lattice);
    double change = 0, total = 0;
    for (size_t k = 0; k < n; ++k) {
      const PointSet::PointType q = points->GetPoint(itk::IdentifierType(k));
      const double position[3] = {q[0], q[1], q[2]};
      const double next = eval->Evaluate(parametric(position, origin, extent))[0];
      change += (next - field[k]) * (next - field[k]);
      total += next * next;
      field[k] = next;
    }
    if (!progress.Step(it + 1, std::max(1, record->iterations))) return false;
    if (it > 0 && change <= 1e-6 * std::max(total, 1e-300)) break;  // 0.1 % in RMS
  }
  return true;
}

}  // namespace

void VA_N3setBasicParms(VA_N3PARM* record, double subsample) {
  if (!record) return;
  *record = VA_N3PARM{};
  record->subsample = subsample;
}

FRAME* VA_N3padded(const FRAME* frame, const RECT3D* box, const SPC* spc, int t, const VA_N3PARM* record, bool show) {
  const wchar_t* name = L"VA_N3padded";
  auto fail = [&](const wchar_t* text) -> FRAME* {
    if (show) twk::showNamedError(name, text);
    return nullptr;
  };
  if (!record || !frame || !frame->data || (frame->type != FRM_INT && frame->type != FRM_REAL))
    return fail(L"Integer or Real volume is required");
  if (!(record->fieldSmoothness > 0) || record->iterations < 0 || !(record->subsample >= 1) || !(record->fwhm > 0) ||
      record->noise < 0)
    return fail(L"Invalid parameters");
  if (frame->dim.d < 4) return fail(L"A volume of at least 4 slices is required");
  if (t < 0 || t >= frame->dim.t) return fail(L"Invalid time point");
  const SPC s = spc ? *spc : SPC{};
  twk::itkv::capThreads();
  twk::ProgressGuard progress(L"N3 bias field correction", show);
  FRAME* result = PR_FrameCreate(FRM_REAL, 64, frame->dim, false);
  if (!result) return fail(L"Not enough memory");
  const int step = std::max(1, int(std::lround(record->subsample)));
  std::vector<double> field;
  for (int k = 0; k < frame->dim.t; ++k) {
    Volume3 vol;
    if (!readTimePoint(frame, k, &vol)) {
      PR_FrameDelete(&result);
      return fail(L"Not enough memory");
    }
    if (field.empty() || record->dynamicField) {
      Volume3 fitted;
      const Volume3* source = &vol;
      if (k != t && !record->dynamicField) {
        if (!readTimePoint(frame, t, &fitted)) {
          PR_FrameDelete(&result);
          return fail(L"Not enough memory");
        }
        source = &fitted;
      }
      // Samples: every step-th voxel above a tenth of the 99th percentile (and inside the box).
      std::vector<double> sorted;
      for (size_t i = 0; i < source->v.size(); ++i)
        if (source->valid[i]) sorted.push_back(source->v[i]);
      if (sorted.empty()) {
        PR_FrameDelete(&result);
        return fail(L"No defined voxels");
      }
      auto p99 = sorted.begin() + size_t(0.99 * double(sorted.size() - 1));
      std::nth_element(sorted.begin(), p99, sorted.end());
      const double floor = std::max(0.1 * *p99, 1e-12);
      std::vector<int64_t> samples;
      std::vector<uint8_t> fittedVoxel(source->v.size(), 0);
      for (int z = 0; z < source->d; ++z)
        for (int y = 0; y < source->h; ++y)
          for (int x = 0; x < source->w; ++x) {
            if (box && (x < box->x0 || x > box->x1 || y < box->y0 || y > box->y1 || z < box->z0 || z > box->z1)) continue;
            const int64_t i = source->index(x, y, z);
            if (!source->valid[size_t(i)] || source->v[size_t(i)] < floor) continue;
            fittedVoxel[size_t(i)] = 1;
            if (x % step == 0 && y % step == 0 && z % step == 0) samples.push_back(i);
          }
      if (samples.size() < 64) {
        PR_FrameDelete(&result);
        return fail(L"Too few voxels above the background");
      }
      LatticeImage::Pointer lattice;
      Fitter::ArrayType controlPoints;
      double origin[3], extent[3];
      if (!fitField(*source, samples, s, record, &lattice, &controlPoints, origin, extent, progress, show)) {
        PR_FrameDelete(&result);
        return nullptr;
      }
      // The field at every voxel; scaled so that the fitted voxels keep their mean.
      auto eval = Evaluator::New();
      eval->SetSplineOrder(3);
      LatticeImage::PointType o;
      LatticeImage::SpacingType sp;
      LatticeImage::SizeType sz;
      for (int a = 0; a < 3; ++a) o[a] = origin[a], sp[a] = extent[a] / 31.0, sz[a] = 32;
      eval->SetOrigin(o);
      eval->SetSpacing(sp);
      eval->SetSize(sz);
      eval->SetInputImage(lattice);
      field.assign(source->v.size(), 1.0);
      tbb::parallel_for(0, source->d, [&](int z) {
        for (int y = 0; y < source->h; ++y)
          for (int x = 0; x < source->w; ++x) {
            const double position[3] = {x * s.x, y * s.y, z * s.z};
            field[size_t(source->index(x, y, z))] = std::exp(eval->Evaluate(parametric(position, origin, extent))[0]);
          }
      });
      double before = 0, after = 0;
      for (size_t i = 0; i < field.size(); ++i)
        if (fittedVoxel[i]) before += source->v[i], after += source->v[i] / field[i];
      const double scale = before > 0 ? after / before : 1.0;
      for (double& f : field) f *= scale;
    }
    for (size_t i = 0; i < vol.v.size(); ++i)
      vol.v[i] = !vol.valid[i] ? VOID_VALUE : record->outputBiasField ? field[i] : vol.v[i] / field[i];
    writeTimePoint(result, k, vol.v.data());
  }
  return result;
}
