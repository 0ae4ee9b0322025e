// The noise estimators of the imaging core (see Filters.h for the four methods).
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "filters/FilterCore.h"
#include "filters/Filters.h"
#include "paths/ValueText.h"
#include "volume/VoxelAccess.h"

using namespace twk::filters;

namespace {

constexpr double kMadToSigma = 1.0 / 0.6744897501960817;  // the Gaussian's SD over its median |x|

double median(std::vector<double>& values) {
  auto mid = values.begin() + values.size() / 2;
  std::nth_element(values.begin(), mid, values.end());
  double m = *mid;
  if (values.size() % 2 == 0) m = 0.5 * (m + *std::max_element(values.begin(), mid));
  return m;
}

// Rayleigh sigma from the voxels below 3 sigma, their second moment corrected for the truncation.
double backgroundNoise(const Volume3& vol) {
  std::vector<double> values;
  values.reserve(size_t(vol.size()));
  for (size_t i = 0; i < vol.v.size(); ++i)
    if (vol.valid[i] && vol.v[i] != 0.0) values.push_back(std::fabs(vol.v[i]));  // zero-filled areas are no background
  if (values.empty()) return 0;
  std::vector<double> sorted = values;
  auto p99 = sorted.begin() + size_t(0.99 * double(sorted.size() - 1));
  std::nth_element(sorted.begin(), p99, sorted.end());
  const double start = 0.1 * *p99;
  double s2 = 0;
  int64_t n = 0;
  for (double v : values)
    if (v <= start) s2 += v * v, ++n;
  if (n == 0) return 0;
  double sigma = std::sqrt(s2 / double(n) / 2.0);
  const double k = 3.0, e = std::exp(-k * k / 2);
  const double truncated = (1 - (1 + k * k / 2) * e) / (1 - e);  // E[v^2 | v < k sigma] / (2 sigma^2)
  for (int it = 0; it < 100 && sigma > 0; ++it) {
    s2 = 0;
    n = 0;
    for (double v : values)
      if (v < k * sigma) s2 += v * v, ++n;
    if (n == 0) break;
    const double next = std::sqrt(s2 / double(n) / (2.0 * truncated));
    const bool done = std::fabs(next - sigma) <= 1e-9 * sigma;
    sigma = next;
    if (done) break;
  }
  return sigma;
}

// Finest diagonal Haar coefficients (orthonormal) of 2x2x2 blocks, or 2x2 blocks in single slices.
double effectiveNoise(const Volume3& vol) {
  const bool flat = vol.d < 2;
  const int bw = vol.w / 2, bh = vol.h / 2, bd = flat ? vol.d : vol.d / 2;
  std::vector<double> c(size_t(int64_t(bw) * bh * bd), -1.0);
  tbb::parallel_for(0, bd, [&](int k) {
    for (int j = 0; j < bh; ++j)
      for (int i = 0; i < bw; ++i) {
        double s = 0, magnitude = 0;
        bool ok = true;
        for (int dz = 0; dz < (flat ? 1 : 2) && ok; ++dz)
          for (int dy = 0; dy < 2 && ok; ++dy)
            for (int dx = 0; dx < 2; ++dx) {
              const int64_t p = vol.index(2 * i + dx, 2 * j + dy, flat ? k : 2 * k + dz);
              if (!vol.valid[size_t(p)]) {
                ok = false;
                break;
              }
              s += ((dx + dy + dz) % 2 ? -1.0 : 1.0) * vol.v[size_t(p)];
              magnitude += std::fabs(vol.v[size_t(p)]);
            }
        if (ok && magnitude > 0) c[(size_t(k) * bh + j) * bw + i] = std::fabs(s) / (flat ? 2.0 : std::sqrt(8.0));
      }
  });
  c.erase(std::remove(c.begin(), c.end(), -1.0), c.end());
  return c.empty() ? 0 : median(c) * kMadToSigma;
}

// Median of the local variances, scaled by the median of their chi-square distribution.
double medianNoise(const Volume3& vol) {
  const int rz = vol.d >= 3 ? 1 : 0;
  const int samples = 9 * (2 * rz + 1);
  std::vector<double> vars(static_cast<size_t>(vol.size()), -1.0);
  tbb::parallel_for(rz, vol.d - rz, [&](int z) {
    for (int y = 1; y + 1 < vol.h; ++y)
      for (int x = 1; x + 1 < vol.w; ++x) {
        double s = 0, s2 = 0;
        bool ok = true;
        for (int dz = -rz; dz <= rz && ok; ++dz)
          for (int dy = -1; dy <= 1 && ok; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
              const int64_t p = vol.index(x + dx, y + dy, z + dz);
              if (!vol.valid[size_t(p)]) {
                ok = false;
                break;
              }
              s += vol.v[size_t(p)], s2 += vol.v[size_t(p)] * vol.v[size_t(p)];
            }
        if (ok && s2 > 0) vars[size_t(vol.index(x, y, z))] = std::max(0.0, (s2 - s * s / samples) / (samples - 1));
      }
  });
  vars.erase(std::remove(vars.begin(), vars.end(), -1.0), vars.end());
  if (vars.empty()) return 0;
  const double k = samples - 1;
  const double chiMedian = k * std::pow(1 - 2 / (9 * k), 3);  // Wilson-Hilferty
  return std::sqrt(median(vars) * k / chiMedian);
}

// Robust spread of the in-plane neighbour differences.
double differenceNoise(const Volume3& vol) {
  std::vector<double> diffs;
  diffs.reserve(size_t(vol.size()) * 2);
  for (int z = 0; z < vol.d; ++z)
    for (int y = 0; y < vol.h; ++y)
      for (int x = 0; x < vol.w; ++x) {
        const int64_t i = vol.index(x, y, z);
        if (!vol.valid[size_t(i)]) continue;
        // Pairs of exact zeros are zero-filled background, not measured noise.
        for (const int64_t j : {x + 1 < vol.w ? i + 1 : int64_t(-1), y + 1 < vol.h ? i + vol.w : int64_t(-1)})
          if (j >= 0 && vol.valid[size_t(j)] && (vol.v[size_t(i)] != 0 || vol.v[size_t(j)] != 0))
            diffs.push_back(vol.v[size_t(j)] - vol.v[size_t(i)]);
      }
  if (diffs.empty()) return 0;
  const double centre = median(diffs);
  for (double& d : diffs) d = std::fabs(d - centre);
  return median(diffs) * kMadToSigma / std::sqrt(2.0);
}

const wchar_t* const kNoiseNames[] = {L"Background Noise", L"Effective Noise", L"Median Noise",
                                      L"Local 2D Difference Noise"};

}  // namespace

bool VA_VolMeasureNoise(const FRAME* frame, int algorithm, int t, double* noise, bool show) {
  const wchar_t* name = L"VA_VolMeasureNoise";
  if (noise) *noise = 0;
  auto fail = [&](const wchar_t* text) {
    if (show) twk::showNamedError(name, text);
    return false;
  };
  if (!frame || !frame->data || (frame->type != FRM_INT && frame->type != FRM_REAL)) return fail(L"Integer or Real volume is required");
  if (algorithm < 0 || algorithm > 3) return fail(L"Unknown noise algorithm");
  Volume3 vol;
  if (!readTimePoint(frame, t, &vol)) return fail(L"Invalid time point");
  double lo = VOID_VALUE, hi = -VOID_VALUE;
  for (size_t i = 0; i < vol.v.size(); ++i)
    if (vol.valid[i]) lo = std::min(lo, vol.v[i]), hi = std::max(hi, vol.v[i]);
  if (lo > hi) return fail(L"No defined voxels: noise cannot be measured");
  if (lo == hi) return fail(L"Constant volume: noise cannot be measured");
  double value = 0;
  switch (algorithm) {
    case VA_NOISE_BACKGROUND: value = backgroundNoise(vol); break;
    case VA_NOISE_EFFECTIVE: value = effectiveNoise(vol); break;
    case VA_NOISE_MEDIAN: value = medianNoise(vol); break;
    default: value = differenceNoise(vol); break;
  }
  if (noise) *noise = value;
  return true;
}

bool VA_VolEffectiveNoise(const FRAME* frame, int t, double* noise, bool show) {
  return VA_VolMeasureNoise(frame, VA_NOISE_EFFECTIVE, t, noise, show);
}

bool VA_VolDiffNoise2D(const FRAME* frame, int t, double* noise, bool show) {
  if (t >= 0 || !frame) return VA_VolMeasureNoise(frame, VA_NOISE_DIFFERENCE_2D, t, noise, show);
  std::vector<double> values;
  for (int k = 0; k < frame->dim.t; ++k) {
    double v = 0;
    if (VA_VolMeasureNoise(frame, VA_NOISE_DIFFERENCE_2D, k, &v, false)) values.push_back(v);
  }
  if (values.empty()) return VA_VolMeasureNoise(frame, VA_NOISE_DIFFERENCE_2D, 0, noise, show);
  if (noise) *noise = median(values);
  return true;
}

bool VA_VolMeasureNoise(const CVol* vol, int algorithm, int t, double* noise, bool show, bool reportValue) {
  if (!vol || !vol->frame) return false;
  double value = 0;
  if (!VA_VolMeasureNoise(vol->frame, algorithm, vol->effT(t), &value, show)) return false;
  if (noise) *noise = value;
  if (reportValue) PR_DisplayDoubleValue(kNoiseNames[algorithm], value);
  return true;
}

bool VA_VolEffectiveNoise(const CVol* vol, int t, double* noise, bool show) {
  return vol && vol->frame && VA_VolEffectiveNoise(vol->frame, vol->effT(t), noise, show);
}
