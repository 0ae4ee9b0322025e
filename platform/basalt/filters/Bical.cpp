// BiCal: a smooth multiplicative field fitted by least squares to the log intensities of regions
// between edges, each region with an offset of its own.
#include <Eigen/Dense>
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "filters/BiasField.h"
#include "filters/FilterCore.h"
#include "filters/Filters.h"
#include "roi/RoiDistance.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

using namespace twk::filters;

namespace {

constexpr int kMaxFitDegree = 8;
constexpr size_t kMaxSamples = 40000;

// The 1D basis functions 0..degree at u in [-1, 1].
void basis1D(int family, int degree, double u, double* out) {
  switch (family) {
    case 0:  // Legendre
      out[0] = 1;
      if (degree > 0) out[1] = u;
      for (int n = 2; n <= degree; ++n) out[n] = ((2 * n - 1) * u * out[n - 1] - (n - 1) * out[n - 2]) / n;
      break;
    case 1:  // Chebyshev, first kind
    case 2:  // Chebyshev, second kind
      out[0] = 1;
      if (degree > 0) out[1] = family == 1 ? u : 2 * u;
      for (int n = 2; n <= degree; ++n) out[n] = 2 * u * out[n - 1] - out[n - 2];
      break;
    case 3:  // monomials
      out[0] = 1;
      for (int n = 1; n <= degree; ++n) out[n] = out[n - 1] * u;
      break;
    default:  // cosines
      for (int n = 0; n <= degree; ++n) out[n] = std::cos(n * M_PI * (u + 1) / 2);
      break;
  }
}

// Exponents (a, b, c) of the 3D terms with 0 < a + b + c <= degree (the constant is left to the
// region offsets); c stays 0 in single slices.
std::vector<std::array<int, 3>> terms(int degree, bool flat) {
  std::vector<std::array<int, 3>> out;
  for (int a = 0; a <= degree; ++a)
    for (int b = 0; a + b <= degree; ++b)
      for (int c = 0; a + b + c <= degree; ++c)
        if (a + b + c > 0 && (!flat || c == 0)) out.push_back({a, b, c});
  return out;
}

}  // namespace

int VA_BicalFieldDegree(const DIM3D* dims, const SPC* spc, double precision) {
  if (!dims || !(precision > 0)) return 0;
  const SPC s = spc ? *spc : SPC{};
  const double extent = std::max({dims->w * s.x, dims->h * s.y, dims->d * s.z});
  return std::clamp(int(extent / precision), 0, 22);
}

FRAME* VA_VolBicalZF(const VA_BICALZF* record, const FRAME* frame, const SPC* spc, int t, bool show) {
  const wchar_t* name = L"VA_VolBicalZF";
  auto fail = [&](const wchar_t* text) -> FRAME* {
    if (show) twk::showNamedError(name, text);
    return nullptr;
  };
  if (!record || !frame || !frame->data || (frame->type != FRM_INT && frame->type != FRM_REAL))
    return fail(L"Integer or Real volume is required");
  if (record->basis < 0 || record->basis > 4 || record->separation < 0 || record->separation > 2 ||
      !(record->maxCorrection >= 1) || !(record->processingScale > 0) || !(record->fieldPrecision > 0))
    return fail(L"Invalid parameters");
  Volume3 vol;
  if (!readTimePoint(frame, t, &vol)) return fail(L"Invalid time point");
  double noise = 0;
  if (!VA_VolDiffNoise2D(frame, t, &noise, show)) return nullptr;
  twk::ProgressGuard progress(L"BiCal", show);
  const int64_t n = vol.size();
  // Foreground: above the air level and the low signal level.
  std::vector<uint8_t> fore(size_t(n), 0);
  for (int64_t i = 0; i < n; ++i)
    fore[size_t(i)] = vol.valid[size_t(i)] && vol.v[size_t(i)] > record->airLevel * noise &&
                      vol.v[size_t(i)] > record->lowSignal && vol.v[size_t(i)] > 0;
  // Regions: the foreground cut by edges (or the lowest-gradient part of it).
  FRAME* one = VA_CreateVol(vol.v.data(), 64, vol.w, vol.h, vol.d, 1);
  if (!one) return fail(L"Not enough memory");
  std::vector<uint8_t> edge(size_t(n), 0);
  VA_URALEDGE edgeRecord{0, 0, record->gradientRadius, record->gradientRadius,
                         record->edgeLevel > 0 ? record->edgeLevel * noise : 8.0 * noise};
  if (record->separation == 2) {
    VA_URALGRAD grad;
    grad.lowRadius = grad.highRadius = record->gradientRadius;
    FRAME* magnitude = nullptr;
    const bool ok = VA_DetectGrad3D(&grad, one, 0, spc, nullptr, nullptr, nullptr, &magnitude, false);
    if (!ok) {
      PR_FrameDelete(&one);
      return nullptr;
    }
    std::vector<double> g;
    const double* m = reinterpret_cast<const double*>(magnitude->data);
    for (int64_t i = 0; i < n; ++i)
      if (fore[size_t(i)]) g.push_back(m[i]);
    if (!g.empty()) {
      auto cut = g.begin() + size_t(std::clamp(record->gradientInclusion, 0.0, 1.0) * double(g.size() - 1));
      std::nth_element(g.begin(), cut, g.end());
      for (int64_t i = 0; i < n; ++i) edge[size_t(i)] = m[i] > *cut;
    }
    PR_FrameDelete(&magnitude);
  } else {
    FRAME* edges = VA_DetectEdge3D(&edgeRecord, one, 0, spc, nullptr, record->separation == 1, false);
    if (!edges) {
      PR_FrameDelete(&one);
      return nullptr;
    }
    for (int z = 0; z < vol.d; ++z)
      for (int y = 0; y < vol.h; ++y)
        for (int x = 0; x < vol.w; ++x) edge[size_t(vol.index(x, y, z))] = twk::roiBit(edges, x, y, z, 0);
    PR_FrameDelete(&edges);
  }
  PR_FrameDelete(&one);
  if (!progress.Step(30, 100)) return nullptr;
  // 6-connected regions of the fitted voxels (union-find), small regions left out.
  std::vector<int32_t> parent(static_cast<size_t>(n), -1);
  auto find = [&](int32_t a) {
    while (parent[size_t(a)] != a) a = parent[size_t(a)] = parent[size_t(parent[size_t(a)])];
    return a;
  };
  auto fitted = [&](int64_t i) { return fore[size_t(i)] && !edge[size_t(i)]; };
  for (int z = 0; z < vol.d; ++z)
    for (int y = 0; y < vol.h; ++y)
      for (int x = 0; x < vol.w; ++x) {
        const int64_t i = vol.index(x, y, z);
        if (!fitted(i)) continue;
        parent[size_t(i)] = int32_t(i);
        for (int64_t j : {x > 0 ? i - 1 : -1, y > 0 ? i - vol.w : -1, z > 0 ? i - int64_t(vol.w) * vol.h : -1})
          if (j >= 0 && fitted(j)) {
            const int32_t a = find(int32_t(i)), b = find(int32_t(j));
            if (a != b) parent[size_t(std::max(a, b))] = std::min(a, b);
          }
      }
  std::vector<int32_t> size(static_cast<size_t>(n), 0);
  for (int64_t i = 0; i < n; ++i)
    if (parent[size_t(i)] >= 0) ++size[size_t(find(int32_t(i)))];
  std::vector<int32_t> regionOf(static_cast<size_t>(n), -1), rootRegion(static_cast<size_t>(n), -1);
  int regions = 0;
  const int64_t step = std::max<int64_t>(1, std::lround(record->processingScale));
  std::vector<int64_t> samples;
  for (int z = 0; z < vol.d; ++z)
    for (int y = 0; y < vol.h; ++y)
      for (int x = 0; x < vol.w; ++x) {
        const int64_t i = vol.index(x, y, z);
        if (parent[size_t(i)] < 0) continue;
        const int32_t root = find(int32_t(i));
        if (size[size_t(root)] < 50) continue;
        if (rootRegion[size_t(root)] < 0) rootRegion[size_t(root)] = regions++;
        regionOf[size_t(i)] = rootRegion[size_t(root)];
        if (x % step == 0 && y % step == 0 && (vol.d == 1 || z % step == 0)) samples.push_back(i);
      }
  if (samples.size() < 100 || regions == 0) return fail(L"Too few foreground voxels between the edges");
  if (samples.size() > kMaxSamples) {
    std::mt19937 rng(1);
    std::shuffle(samples.begin(), samples.end(), rng);
    samples.resize(kMaxSamples);
  }
  // Least squares: log v = field(x) + offset(region).
  const bool flat = vol.d == 1;
  const int degree = std::min(kMaxFitDegree, VA_BicalFieldDegree(&frame->dim, spc, record->fieldPrecision));
  const std::vector<std::array<int, 3>> terms3 = terms(degree, flat);
  const int nt = int(terms3.size()), unknowns = nt + regions;
  auto coordinate = [](int i, int size_) { return size_ > 1 ? 2.0 * i / (size_ - 1) - 1.0 : 0.0; };
  // Robust least squares (iteratively reweighted, Tukey's biweight on the residuals): a region
  // that edges did not split into its tissues holds two intensity levels, and the smaller part
  // must not be read as field.
  // The basis terms of the samples are computed once (rows of T); the normal matrix is built by
  // blocks: field x field by weighted rank updates of row chunks, field x region and region x
  // region (diagonal) from the samples of each region, the regions being one-hot columns.
  const int64_t numSamples = int64_t(samples.size());
  Eigen::MatrixXd basisRows(numSamples, nt);
  Eigen::VectorXd logValue(numSamples);
  tbb::parallel_for(int64_t(0), numSamples, [&](int64_t k) {
    std::vector<double> ux(static_cast<size_t>(degree + 1)), uy(static_cast<size_t>(degree + 1)),
        uz(static_cast<size_t>(degree + 1));
    const int64_t i = samples[size_t(k)];
    const int x = int(i % vol.w), y = int(i / vol.w % vol.h), z = int(i / (int64_t(vol.w) * vol.h));
    basis1D(record->basis, degree, coordinate(x, vol.w), ux.data());
    basis1D(record->basis, degree, coordinate(y, vol.h), uy.data());
    basis1D(record->basis, degree, coordinate(z, vol.d), uz.data());
    for (int c = 0; c < nt; ++c)
      basisRows(k, c) = ux[size_t(terms3[size_t(c)][0])] * uy[size_t(terms3[size_t(c)][1])] * uz[size_t(terms3[size_t(c)][2])];
    logValue[k] = std::log(vol.v[size_t(i)]);
  });
  Eigen::VectorXd weight = Eigen::VectorXd::Ones(numSamples);
  Eigen::VectorXd solution;
  constexpr int rounds = 6;
  constexpr int64_t kChunk = 2048;
  for (int round = 0; round < rounds; ++round) {
    Eigen::MatrixXd normal = Eigen::MatrixXd::Zero(unknowns, unknowns);
    Eigen::VectorXd rhs = Eigen::VectorXd::Zero(unknowns);
    for (int64_t k0 = 0; k0 < numSamples; k0 += kChunk) {
      const int64_t m = std::min(kChunk, numSamples - k0);
      const Eigen::MatrixXd scaled =
          basisRows.middleRows(k0, m).array().colwise() * weight.segment(k0, m).array().sqrt();
      normal.topLeftCorner(nt, nt).selfadjointView<Eigen::Lower>().rankUpdate(scaled.transpose());
    }
    const Eigen::VectorXd wy = weight.cwiseProduct(logValue);
    rhs.head(nt) = basisRows.transpose() * wy;
    for (int64_t k = 0; k < numSamples; ++k) {
      const int g = nt + regionOf[size_t(samples[size_t(k)])];
      normal.row(g).head(nt) += weight[k] * basisRows.row(k);
      normal(g, g) += weight[k];
      rhs[g] += wy[k];
    }
    normal = normal.selfadjointView<Eigen::Lower>();
    const double ridge = std::max(record->regionSmoothEps, 1e-9) * normal.diagonal().mean() * 1e-3;
    for (int c = 0; c < nt; ++c) normal(c, c) += ridge;
    solution = normal.ldlt().solve(rhs);
    if (!solution.allFinite()) return fail(L"The field could not be fitted");
    if (round + 1 == rounds) break;
    // Tukey's biweight of the residuals, scaled by their median absolute value.
    Eigen::VectorXd residual = logValue - basisRows * solution.head(nt);
    for (int64_t k = 0; k < numSamples; ++k) residual[k] -= solution[nt + regionOf[size_t(samples[size_t(k)])]];
    std::vector<double> spread(residual.data(), residual.data() + numSamples);
    for (double& v : spread) v = std::abs(v);
    std::nth_element(spread.begin(), spread.begin() + long(spread.size() / 2), spread.end());
    const double scale = 4.685 * 1.4826 * std::max(spread[spread.size() / 2], 1e-6);
    for (int64_t k = 0; k < numSamples; ++k) {
      const double u = residual[k] / scale;
      weight[k] = std::abs(u) < 1 ? (1 - u * u) * (1 - u * u) : 0.0;
    }
  }
  if (!progress.Step(70, 100)) return nullptr;
  // The field at every voxel, capped, centred on the fitted voxels, faded outside the foreground.
  std::vector<double> logField(static_cast<size_t>(n));
  tbb::parallel_for(0, vol.d, [&](int z) {
    std::vector<double> px(static_cast<size_t>(degree + 1)), py(static_cast<size_t>(degree + 1)),
        pz(static_cast<size_t>(degree + 1));
    basis1D(record->basis, degree, coordinate(z, vol.d), pz.data());
    for (int y = 0; y < vol.h; ++y) {
      basis1D(record->basis, degree, coordinate(y, vol.h), py.data());
      for (int x = 0; x < vol.w; ++x) {
        basis1D(record->basis, degree, coordinate(x, vol.w), px.data());
        double f = 0;
        for (int k = 0; k < nt; ++k)
          f += solution[k] * px[size_t(terms3[size_t(k)][0])] * py[size_t(terms3[size_t(k)][1])] *
               pz[size_t(terms3[size_t(k)][2])];
        logField[size_t(vol.index(x, y, z))] = f;
      }
    }
  });
  double mean = 0;
  int64_t count = 0;
  for (int64_t i = 0; i < n; ++i)
    if (regionOf[size_t(i)] >= 0) mean += logField[size_t(i)], ++count;
  mean /= double(std::max<int64_t>(count, 1));
  const double cap = std::log(record->maxCorrection);
  std::vector<uint8_t> foreMask(fore);
  FRAME* mask = VA_CreateVol(foreMask.data(), 1, vol.w, vol.h, vol.d, 1);
  FRAME* distance = mask ? VA_RoiWaveDistance_x100(mask, spc, false, true, false) : nullptr;
  for (int z = 0; z < vol.d; ++z)
    for (int y = 0; y < vol.h; ++y)
      for (int x = 0; x < vol.w; ++x) {
        const size_t i = size_t(vol.index(x, y, z));
        double f = std::clamp(logField[i] - mean, -cap, cap);
        if (!fore[i] && distance) {
          const double d = twk::voxelValue(distance, x, y, z, 0);
          const double mm = d == double(VOID_INT_VALUE) ? 1e300 : d / 100.0;
          f *= std::max(0.0, 1.0 - mm / std::max(record->backgroundTransition, 1e-9));
        }
        logField[i] = f;
      }
  PR_FrameDelete(&distance);
  if (record->outputWorkMask) {
    std::vector<uint8_t> work(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) work[size_t(i)] = regionOf[size_t(i)] >= 0;
    PR_FrameDelete(&mask);
    return VA_CreateVol(work.data(), 1, vol.w, vol.h, vol.d, 1);
  }
  PR_FrameDelete(&mask);
  const bool real = record->outputReal || record->outputField || frame->type == FRM_REAL;
  FRAME* result = real ? PR_FrameCreate(FRM_REAL, 64, frame->dim, false) : VA_VolClone(frame);
  if (!result) return fail(L"Not enough memory");
  const bool ok = mapEachTimePoint(frame, result, [&](size_t i, double v, bool valid) {
    return record->outputField ? std::exp(logField[i]) : valid ? v / std::exp(logField[i]) : VOID_VALUE;
  });
  if (!ok) {
    PR_FrameDelete(&result);
    return fail(L"Not enough memory");
  }
  return result;
}
