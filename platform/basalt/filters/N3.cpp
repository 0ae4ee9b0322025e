// N3 bias-field correction: histogram sharpening of the log intensities and a least-squares
// cubic B-spline fit of the residual field on sampled voxels.
//
// The fit is a penalised least-squares fit over the whole control lattice, not the local
// (multilevel B-spline approximation) fit of a scattered-data filter: with knots 200 mm apart a
// head spans about one knot interval, and a local fit averages every control point over four
// intervals, which flattens a field that varies inside one interval to a small fraction of its
// size. The normal matrix depends only on the samples, so it is factored once per fitted time
// point and each iteration solves for a new right-hand side.
#include <Eigen/Dense>
#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/combinable.h>
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "filters/BiasField.h"
#include "filters/FilterCore.h"
#include "volume/Frame.h"

using namespace twk::filters;

namespace {

constexpr int kBins = 200;

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

// A uniform cubic B-spline over a box: along each axis the domain [origin, origin + extent] is
// split into spans intervals, and spans + 3 control points carry the field.
struct SplineLattice {
  double origin[3] = {0, 0, 0}, extent[3] = {1, 1, 1};
  int spans[3] = {1, 1, 1};
  int points(int a) const { return spans[a] + 3; }
  int unknowns() const { return points(0) * points(1) * points(2); }
  // The first control point of the 4 that carry position p along axis a, and their weights.
  int weights(int a, double p, double w[4]) const {
    const double u = std::clamp((p - origin[a]) / extent[a], 0.0, 1.0 - 1e-12) * spans[a];
    const int first = std::min(int(u), spans[a] - 1);
    const double t = u - first, s = 1 - t;
    w[0] = s * s * s / 6;
    w[1] = (3 * t * t * t - 6 * t * t + 4) / 6;
    w[2] = (-3 * t * t * t + 3 * t * t + 3 * t + 1) / 6;
    w[3] = t * t * t / 6;
    return first;
  }
  // Calls add(control point index, weight) for the 64 control points of a position.
  template <class Add>
  void forEach(const double position[3], Add&& add) const {
    double wx[4], wy[4], wz[4];
    const int x0 = weights(0, position[0], wx), y0 = weights(1, position[1], wy), z0 = weights(2, position[2], wz);
    for (int c = 0; c < 4; ++c)
      for (int b = 0; b < 4; ++b) {
        const int row = ((z0 + c) * points(1) + y0 + b) * points(0) + x0;
        const double wzy = wz[c] * wy[b];
        for (int a = 0; a < 4; ++a) add(row + a, wzy * wx[a]);
      }
  }
  double value(const Eigen::VectorXd& phi, const double position[3]) const {
    double v = 0;
    forEach(position, [&](int i, double w) { v += phi[i] * w; });
    return v;
  }
};

// The least-squares fit of sampled values by the lattice, with a small penalty on the second
// differences of the control points (the field stays smooth where no sample constrains it).
class SplineFit {
 public:
  SplineFit(const SplineLattice& lattice, std::vector<std::array<double, 3>> positions)
      : lattice_(lattice), positions_(std::move(positions)) {}

  bool Factor() {
    const int n = lattice_.unknowns();
    tbb::combinable<Eigen::MatrixXd> partial([n] { return Eigen::MatrixXd::Zero(n, n); });
    tbb::parallel_for(tbb::blocked_range<size_t>(0, positions_.size(), 4096), [&](const tbb::blocked_range<size_t>& r) {
      Eigen::MatrixXd& m = partial.local();
      int index[64];
      double weight[64];
      for (size_t k = r.begin(); k != r.end(); ++k) {
        int j = 0;
        lattice_.forEach(positions_[k].data(), [&](int i, double w) { index[j] = i, weight[j++] = w; });
        for (int a = 0; a < 64; ++a)
          for (int b = 0; b <= a; ++b) m(std::max(index[a], index[b]), std::min(index[a], index[b])) += weight[a] * weight[b];
      }
    });
    Eigen::MatrixXd normal = partial.combine([](const Eigen::MatrixXd& a, const Eigen::MatrixXd& b) { return a + b; });
    normal = normal.selfadjointView<Eigen::Lower>();
    // Second differences along each axis of the lattice.
    const double lambda = 1e-3 * normal.diagonal().mean();
    const int p[3] = {lattice_.points(0), lattice_.points(1), lattice_.points(2)};
    const int stride[3] = {1, p[0], p[0] * p[1]};
    for (int a = 0; a < 3; ++a)
      for (int z = 0; z < p[2]; ++z)
        for (int y = 0; y < p[1]; ++y)
          for (int x = 0; x < p[0]; ++x) {
            const int at[3] = {x, y, z};
            if (at[a] + 2 >= p[a]) continue;
            const int i[3] = {(z * p[1] + y) * p[0] + x, 0, 0};
            const int idx[3] = {i[0], i[0] + stride[a], i[0] + 2 * stride[a]};
            const double c[3] = {1, -2, 1};
            for (int u = 0; u < 3; ++u)
              for (int v = 0; v < 3; ++v) normal(idx[u], idx[v]) += lambda * c[u] * c[v];
          }
    normal.diagonal().array() += 1e-9 * normal.diagonal().mean();
    solver_.compute(normal);
    return solver_.info() == Eigen::Success;
  }

  // The control points that fit values (one per sample), and the fitted values at the samples.
  Eigen::VectorXd Solve(const std::vector<double>& values, std::vector<double>* fitted) const {
    const int n = lattice_.unknowns();
    tbb::combinable<Eigen::VectorXd> partial([n] { return Eigen::VectorXd::Zero(n); });
    tbb::parallel_for(tbb::blocked_range<size_t>(0, positions_.size(), 4096), [&](const tbb::blocked_range<size_t>& r) {
      Eigen::VectorXd& rhs = partial.local();
      for (size_t k = r.begin(); k != r.end(); ++k)
        lattice_.forEach(positions_[k].data(), [&](int i, double w) { rhs[i] += w * values[k]; });
    });
    const Eigen::VectorXd phi =
        solver_.solve(partial.combine([](const Eigen::VectorXd& a, const Eigen::VectorXd& b) { return Eigen::VectorXd(a + b); }));
    fitted->resize(positions_.size());
    tbb::parallel_for(size_t(0), positions_.size(), [&](size_t k) { (*fitted)[k] = lattice_.value(phi, positions_[k].data()); });
    return phi;
  }

 private:
  const SplineLattice& lattice_;
  std::vector<std::array<double, 3>> positions_;
  Eigen::LDLT<Eigen::MatrixXd> solver_;
};

// The lattice of the record's knot distance over the volume, grown by half a knot on each side
// when padded.
SplineLattice latticeFor(const Volume3& vol, const SPC& s, const VA_N3PARM* record) {
  SplineLattice lattice;
  const double spacing[3] = {s.x, s.y, s.z};
  const int size[3] = {vol.w, vol.h, vol.d};
  for (int a = 0; a < 3; ++a) {
    const double full = (size[a] - 1) * spacing[a];
    const double pad = record->padVolume ? 0.5 * record->fieldSmoothness : 0.0;
    lattice.origin[a] = -pad;
    lattice.extent[a] = std::max(full + 2 * pad, spacing[a]);
    lattice.spans[a] = int(std::max(1.0, std::ceil(lattice.extent[a] / record->fieldSmoothness)));
  }
  return lattice;
}

// The log field of one time point as fitted control points; false when stopped or failed.
bool fitField(const Volume3& vol, const std::vector<int64_t>& samples, const SPC& s, const VA_N3PARM* record,
              const SplineLattice& lattice, Eigen::VectorXd* phi, twk::ProgressGuard& progress, bool show) {
  const size_t n = samples.size();
  std::vector<double> u(n), field(n, 0.0);
  std::vector<std::array<double, 3>> positions(n);
  for (size_t k = 0; k < n; ++k) {
    const int64_t i = samples[k];
    u[k] = std::log(vol.v[size_t(i)]);
    positions[k] = {double(i % vol.w) * s.x, double(i / vol.w % vol.h) * s.y, double(i / (int64_t(vol.w) * vol.h)) * s.z};
  }
  SplineFit fit(lattice, std::move(positions));
  if (!fit.Factor()) {
    if (show) twk::showNamedError(L"VA_N3padded", L"The field cannot be fitted");
    return false;
  }
  *phi = Eigen::VectorXd::Zero(lattice.unknowns());
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
    for (double& v : residual) v -= mean;
    std::vector<double> next;
    *phi = fit.Solve(residual, &next);
    double change = 0, total = 0;
    for (size_t k = 0; k < n; ++k) {
      change += (next[k] - field[k]) * (next[k] - field[k]);
      total += next[k] * next[k];
    }
    field.swap(next);
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
      const SplineLattice lattice = latticeFor(*source, s, record);
      if (lattice.unknowns() > 4096) {
        PR_FrameDelete(&result);
        return fail(L"The field smoothness is too fine for the volume");
      }
      Eigen::VectorXd phi;
      if (!fitField(*source, samples, s, record, lattice, &phi, progress, show)) {
        PR_FrameDelete(&result);
        return nullptr;
      }
      // The field at every voxel; scaled so that the fitted voxels keep their mean.
      field.assign(source->v.size(), 1.0);
      tbb::parallel_for(0, source->d, [&](int z) {
        for (int y = 0; y < source->h; ++y)
          for (int x = 0; x < source->w; ++x) {
            const double position[3] = {x * s.x, y * s.y, z * s.z};
            field[size_t(source->index(x, y, z))] = std::exp(lattice.value(phi, position));
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
