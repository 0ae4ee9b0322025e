#include "roi/VesselMap.h"

#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "CString.h"
#include "DynExp.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "roi/RunComponents.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

void report(const CString& text, bool show) {
  if (show) twk::showNamedError(L"VA_VolVesselMap", text);
}

// A curve minus the mean of its first `base` values, and its peak (largest value).
struct Enhancement {
  std::vector<double> e;
  double peak = 0;
};

Enhancement enhancementOf(const double* values, int count, int base) {
  Enhancement out;
  double b = 0;
  for (int k = 0; k < base; ++k) b += values[k];
  b /= base;
  out.e.resize(size_t(count));
  out.peak = -1e300;
  for (int k = 0; k < count; ++k) {
    out.e[size_t(k)] = values[k] - b;
    out.peak = std::max(out.peak, out.e[size_t(k)]);
  }
  return out;
}

// The smallest RMS difference in percent of the peak-normalised curves over the lags.
double shapeError(const std::vector<double>& voxel, double voxelPeak, const Enhancement& f, int maxLag) {
  const int count = int(voxel.size());
  double best = 1e300;
  for (int lag = 0; lag <= maxLag && lag < count; ++lag) {
    double sum = 0;
    for (int k = 0; k < count; ++k) {
      const double g = f.e[size_t(std::max(0, k - lag))] / f.peak;
      const double diff = voxel[size_t(k)] / voxelPeak - g;
      sum += diff * diff;
    }
    best = std::min(best, 100.0 * std::sqrt(sum / count));
  }
  return best;
}

}  // namespace

FRAME** VA_VolVesselMap(const VA_VESSMAP_PARM* record, const FRAME* frame, const FRAME* roi, const SPC* spc,
                        const int* order, const INPUTFUNC* ifuncs, int n, bool smooth, bool show) {
  if (!record || !frame || !frame->data || frame->type == FRM_ROI || frame->dim.t < 2 || !roi ||
      roi->type != FRM_ROI || roi->dim.w != frame->dim.w || roi->dim.h != frame->dim.h ||
      roi->dim.d != frame->dim.d || !order || !ifuncs || n < 1 || record->minVoxels < 0 || record->maxLag < 0) {
    report(L"Invalid parameters", show);
    return nullptr;
  }
  const DIM3D& d = frame->dim;
  const int T = d.t;
  for (int k = 0; k < T; ++k)
    if (order[k] < 0 || order[k] >= T) {
      report(L"Invalid parameters", show);
      return nullptr;
    }
  const int base = std::clamp(int(record->baselinePoints), 1, T);
  std::vector<Enhancement> functions;
  for (int j = 0; j < n; ++j) {
    if (ifuncs[j].count < T) {
      report(FmtStr(L"Input function %d is shorter than the series", j + 1), show);
      return nullptr;
    }
    functions.push_back(enhancementOf(ifuncs[j].values, T, base));
    if (!(functions.back().peak > 0)) {
      report(FmtStr(L"Input function %d does not enhance", j + 1), show);
      return nullptr;
    }
  }
  twk::ProgressGuard progress(L"Blood vessel map", show);
  const bool inPlaneOnly = spc && spc->z > 2.0 * std::max(spc->x, spc->y);
  const int64_t plane = int64_t(d.w) * d.h;
  // The class of every voxel: 0 outside the ROI, 1 + j vessel of function j, n + 1 organ.
  std::vector<uint16_t> klass(size_t(plane) * size_t(d.d), 0);
  tbb::parallel_for(0, d.d, [&](int z) {
    if (progress.Stopped()) return;
    // The slice's curves (and its neighbours' when smoothing across slices), chronological.
    const int z0 = smooth && !inPlaneOnly ? std::max(0, z - 1) : z;
    const int z1 = smooth && !inPlaneOnly ? std::min(d.d - 1, z + 1) : z;
    std::vector<double> values(size_t(z1 - z0 + 1) * size_t(plane) * size_t(T));
    const auto at = [&](int zz, int64_t p, int k) -> double& {
      return values[(size_t(zz - z0) * size_t(plane) + size_t(p)) * size_t(T) + size_t(k)];
    };
    for (int zz = z0; zz <= z1; ++zz)
      for (int k = 0; k < T; ++k)
        for (int y = 0; y < d.h; ++y)
          for (int x = 0; x < d.w; ++x) at(zz, int64_t(y) * d.w + x, k) = twk::voxelValue(frame, x, y, zz, order[k]);
    const auto defined = [&](int zz, int64_t p) {
      for (int k = 0; k < T; ++k)
        if (at(zz, p, k) == VOID_VALUE) return false;
      return true;
    };
    std::vector<double> curve(static_cast<size_t>(T));
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x) {
        if (!twk::roiBit(roi, x, y, z, 0)) continue;
        const int64_t p = int64_t(y) * d.w + x;
        uint16_t& c = klass[size_t(int64_t(z) * plane + p)];
        c = uint16_t(n + 1);
        if (!defined(z, p)) continue;
        std::fill(curve.begin(), curve.end(), 0.0);
        int used = 0;
        const auto add = [&](int xx, int yy, int zz) {
          if (xx < 0 || yy < 0 || xx >= d.w || yy >= d.h || zz < z0 || zz > z1) return;
          const int64_t q = int64_t(yy) * d.w + xx;
          if (!twk::roiBit(roi, xx, yy, zz, 0) || !defined(zz, q)) return;
          for (int k = 0; k < T; ++k) curve[size_t(k)] += at(zz, q, k);
          ++used;
        };
        add(x, y, z);
        if (smooth) {
          add(x - 1, y, z);
          add(x + 1, y, z);
          add(x, y - 1, z);
          add(x, y + 1, z);
          add(x, y, z - 1);
          add(x, y, z + 1);
        }
        for (double& v : curve) v /= used;
        const Enhancement e = enhancementOf(curve.data(), T, base);
        double best = record->maxShapeError;
        for (int j = 0; j < n; ++j) {
          const double fp = functions[size_t(j)].peak;
          if (!(e.peak >= 0.01 * record->minEnhancement * fp && e.peak <= record->maxEnhancement * fp && e.peak > 0))
            continue;
          const double error = shapeError(e.e, e.peak, functions[size_t(j)], record->maxLag);
          if (error <= best && (c == uint16_t(n + 1) || error < best)) {
            best = error;
            c = uint16_t(1 + j);
          }
        }
      }
  });
  if (progress.Stopped()) return nullptr;
  // The frames; small vessel pieces go back to the organ.
  auto** out = static_cast<FRAME**>(pf_malloc(size_t(n + 1) * sizeof(FRAME*)));
  if (!out) return nullptr;
  const DIM3D one{d.w, d.h, d.d, 1};
  for (int j = 0; j <= n; ++j) out[j] = PR_FrameCreate(FRM_ROI, 1, one, true);
  const auto fail = [&]() {
    PR_FrameArrDelete(&out, n + 1);
    return nullptr;
  };
  for (int j = 0; j <= n; ++j)
    if (!out[j]) return fail();
  tbb::parallel_for(0, d.d, [&](int z) {
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x) {
        const uint16_t c = klass[size_t(int64_t(z) * plane + int64_t(y) * d.w + x)];
        if (c) twk::setRoiBit(out[c - 1], x, y, z, 0, true);
      }
  });
  for (int j = 0; j < n; ++j) {
    twk::cc::RunLabels runs;
    if (!twk::cc::labelRoi(out[j], 0, 26, record->mode3D == 0, false, &runs)) return fail();
    std::vector<uint8_t> small(size_t(runs.count), 0);
    bool any = false;
    for (int64_t c = 0; c < runs.count; ++c)
      if (runs.size[size_t(c)] < record->minVoxels) {
        small[size_t(c)] = 1;
        any = true;
      }
    if (!any) continue;
    twk::cc::writeRuns(runs, out[n], 0, false, [&](uint32_t label) { return small[label] != 0; });
    twk::cc::writeRuns(runs, out[j], 0, true, [&](uint32_t label) { return small[label] == 0; });
  }
  return out;
}
