// The incoherence map of a time series and the removal of slice streaks.
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "filters/Denoise.h"
#include "filters/FilterCore.h"
#include "volume/Frame.h"

using namespace twk::filters;

bool VA_VolIncoherence2map(const CVol* vol, double delta, FRAME** map, FRAME** second, bool show) {
  const wchar_t* name = L"VA_VolIncoherence2map";
  auto fail = [&](const wchar_t* text) {
    if (show) twk::showNamedError(name, text);
    return false;
  };
  if (map) *map = nullptr;
  if (second) *second = nullptr;
  if (!vol || !vol->frame || vol->IsROI()) return fail(L"Integer or Real volume is required");
  if (vol->T() < 3) return fail(L"4D volume of at least 3 time points is required");
  if (!(delta > 0)) return fail(L"Time delta must be positive");
  const FRAME* f = vol->frame;
  const int numT = f->dim.t;
  std::vector<Volume3> series(static_cast<size_t>(numT));
  for (int t = 0; t < numT; ++t)
    if (!readTimePoint(f, t, &series[size_t(t)])) return fail(L"Not enough memory");
  const int64_t n = series[0].size();
  std::vector<double> a(static_cast<size_t>(n)), b(static_cast<size_t>(n));
  const double d2 = delta * delta;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, n, 4096), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t i = r.begin(); i != r.end(); ++i) {
      bool valid = true;
      double mean = 0;
      for (int t = 0; t < numT && valid; ++t) {
        valid = series[size_t(t)].valid[size_t(i)] != 0;
        mean += series[size_t(t)].v[size_t(i)];
      }
      if (!valid) {
        a[size_t(i)] = b[size_t(i)] = VOID_VALUE;
        continue;
      }
      mean /= numT;
      double ss = 0, var = 0;
      for (int t = 0; t < numT; ++t) {
        const double v = series[size_t(t)].v[size_t(i)];
        var += (v - mean) * (v - mean);
        if (t > 0 && t + 1 < numT) {
          const double s = series[size_t(t + 1)].v[size_t(i)] - 2 * v + series[size_t(t - 1)].v[size_t(i)];
          ss += s * s;
        }
      }
      ss /= numT - 2;
      var /= numT - 1;
      a[size_t(i)] = std::sqrt(ss) / d2;
      b[size_t(i)] = var > 0 ? ss / (6 * var) : 0.0;
    }
  });
  const Volume3& v0 = series[0];
  FRAME* fa = map ? VA_CreateVol(a.data(), 64, v0.w, v0.h, v0.d, 1) : nullptr;
  FRAME* fb = second ? VA_CreateVol(b.data(), 64, v0.w, v0.h, v0.d, 1) : nullptr;
  if ((map && !fa) || (second && !fb)) {
    PR_FrameDelete(&fa);
    PR_FrameDelete(&fb);
    return fail(L"Not enough memory");
  }
  if (map) *map = fa;
  if (second) *second = fb;
  return true;
}

FRAME* VA_VolRemoveSliceStreaks(const FRAME* frame, int t, bool show) {
  const wchar_t* name = L"VA_VolRemoveSliceStreaks";
  auto fail = [&](const wchar_t* text) -> FRAME* {
    if (show) twk::showNamedError(name, text);
    return nullptr;
  };
  if (!frame || !frame->data || (frame->type != FRM_INT && frame->type != FRM_REAL))
    return fail(L"Integer or Real volume is required");
  if (frame->dim.d < 3) return fail(L"A volume of at least 3 slices is required");
  Volume3 vol;
  if (!readTimePoint(frame, t, &vol)) return fail(L"Invalid time point");
  std::vector<double> sorted;
  for (size_t i = 0; i < vol.v.size(); ++i)
    if (vol.valid[i]) sorted.push_back(vol.v[i]);
  if (sorted.empty()) return fail(L"No defined voxels");
  auto p99 = sorted.begin() + size_t(0.99 * double(sorted.size() - 1));
  std::nth_element(sorted.begin(), p99, sorted.end());
  const double floor = 0.1 * *p99;
  if (!(floor > 0)) return fail(L"Constant volume: no slice gains can be measured");
  const int d = vol.d;
  const int64_t plane = int64_t(vol.w) * vol.h;
  // r[z]: median log ratio of slice z to the mean of its neighbours (one neighbour at the ends).
  std::vector<double> r(size_t(d), 0.0);
  tbb::parallel_for(0, d, [&](int z) {
    std::vector<double> logs;
    for (int64_t p = 0; p < plane; ++p) {
      const int64_t i = int64_t(z) * plane + p;
      if (!vol.valid[size_t(i)] || vol.v[size_t(i)] < floor) continue;
      double s = 0;
      int k = 0;
      bool ok = true;
      for (int dz : {-1, 1}) {
        const int zz = z + dz;
        if (zz < 0 || zz >= d) continue;
        const int64_t j = int64_t(zz) * plane + p;
        if (!vol.valid[size_t(j)] || vol.v[size_t(j)] < floor) ok = false;
        s += std::log(vol.v[size_t(j)]);
        ++k;
      }
      if (ok && k) logs.push_back(std::log(vol.v[size_t(i)]) - s / k);
    }
    if (!logs.empty()) {
      auto mid = logs.begin() + logs.size() / 2;
      std::nth_element(logs.begin(), mid, logs.end());
      r[size_t(z)] = *mid;
    }
  });
  // Solve l[z] - mean(l of the neighbours) = r[z] by Gauss-Seidel sweeps.
  std::vector<double> l(size_t(d), 0.0);
  for (int sweep = 0; sweep < 20000; ++sweep) {
    double change = 0;
    for (int z = 0; z < d; ++z) {
      double s = 0;
      int k = 0;
      if (z > 0) s += l[size_t(z - 1)], ++k;
      if (z + 1 < d) s += l[size_t(z + 1)], ++k;
      const double next = r[size_t(z)] + s / k;
      change = std::max(change, std::fabs(next - l[size_t(z)]));
      l[size_t(z)] = next;
    }
    // Mean and linear trend belong to the anatomy: keep them zero.
    double sz = 0, sl = 0, szz = 0, szl = 0;
    for (int z = 0; z < d; ++z) sz += z, sl += l[size_t(z)], szz += double(z) * z, szl += z * l[size_t(z)];
    const double slope = (d * szl - sz * sl) / (d * szz - sz * sz), icpt = (sl - slope * sz) / d;
    for (int z = 0; z < d; ++z) l[size_t(z)] -= icpt + slope * z;
    if (change < 1e-12) break;
  }
  FRAME* result = VA_VolClone(frame);
  if (!result) return fail(L"Not enough memory");
  const bool ok = mapEachTimePoint(frame, result, [&](size_t i, double v, bool valid) {
    return valid ? v / std::exp(l[i / size_t(plane)]) : VOID_VALUE;
  });
  if (!ok) {
    PR_FrameDelete(&result);
    return fail(L"Not enough memory");
  }
  return result;
}
