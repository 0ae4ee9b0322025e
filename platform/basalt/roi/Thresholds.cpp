#include "roi/Thresholds.h"

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "ops/VolumeOps.h"
#include "roi/RoiStatistics.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

void report(const wchar_t* name, const CString& text, bool show) {
  if (show) twk::showNamedError(name, text);
}

bool validTimePoint(const FRAME* frame, int t) {
  return frame && frame->data && twk::voxelElemOf(frame) != twk::VoxelElem::Invalid && t >= 0 && t < frame->dim.t;
}

double definedValue(const FRAME* f, int x, int y, int z, int t) {
  const double v = twk::voxelValue(f, x, y, z, t);
  if (v == VOID_VALUE || (f->type == FRM_INT && f->bpv == 32 && v == double(VOID_INT_VALUE))) return 0.0;
  return v;
}

}  // namespace

int VA_OtsuLevel256(const int32_t* histogram) {
  int64_t total = 0;
  double sumAll = 0;
  for (int i = 0; i < 256; ++i) {
    total += histogram[i];
    sumAll += double(i) * histogram[i];
  }
  if (total == 0) return 0;
  int64_t below = 0;
  double sumBelow = 0, best = -1;
  int level = 0;
  for (int t = 1; t < 256; ++t) {
    below += histogram[t - 1];
    sumBelow += double(t - 1) * histogram[t - 1];
    const int64_t above = total - below;
    if (below == 0 || above == 0) continue;
    const double m0 = sumBelow / double(below), m1 = (sumAll - sumBelow) / double(above);
    const double between = double(below) * double(above) * (m0 - m1) * (m0 - m1);
    if (between > best) {
      best = between;
      level = t;
    }
  }
  return level;
}

uint8_t* VA_VolSignalOverGradMask(const FRAME* frame, int t, double threshold) {
  if (!validTimePoint(frame, t)) return nullptr;
  const DIM3D& d = frame->dim;
  auto* mask = static_cast<uint8_t*>(pf_malloc(int64_t(d.w) * d.h * d.d));
  if (!mask) return nullptr;
  tbb::parallel_for(tbb::blocked_range<int>(0, d.d), [&](const tbb::blocked_range<int>& r) {
    for (int z = r.begin(); z != r.end(); ++z)
      for (int y = 0; y < d.h; ++y)
        for (int x = 0; x < d.w; ++x) {
          auto diff = [&](int x0, int y0, int z0, int x1, int y1, int z1) {
            const double span = double((x1 - x0) + (y1 - y0) + (z1 - z0));
            return span > 0 ? (definedValue(frame, x1, y1, z1, t) - definedValue(frame, x0, y0, z0, t)) / span : 0.0;
          };
          const double gx = diff(std::max(x - 1, 0), y, z, std::min(x + 1, d.w - 1), y, z);
          const double gy = diff(x, std::max(y - 1, 0), z, x, std::min(y + 1, d.h - 1), z);
          const double gz = d.d > 1 ? diff(x, y, std::max(z - 1, 0), x, y, std::min(z + 1, d.d - 1)) : 0.0;
          const double s = definedValue(frame, x, y, z, t);
          const double gradient = std::sqrt(gx * gx + gy * gy + gz * gz);
          mask[(int64_t(z) * d.h + y) * d.w + x] = s > 0 && s >= threshold * gradient ? 1 : 0;
        }
  });
  return mask;
}

FRAME* VA_LocalOtzuThresholdToROI(const VA_ADAPTIVETHR* record, const FRAME* frame, const SPC*, int t, bool show) {
  const wchar_t* name = L"VA_LocalOtzuThresholdToROI";
  if (!record || !validTimePoint(frame, t) || frame->type == FRM_ROI) {
    report(name, L"Invalid parameters", show);
    return nullptr;
  }
  const int radius = int(std::floor(record->radius));
  if (radius < 1) {
    report(name, L"Radius should be at least 1", show);
    return nullptr;
  }
  double lo = 0, hi = 0;
  if (!VA_VolMinMax(frame, t, nullptr, &lo, &hi)) {
    report(name, L"No defined voxel", show);
    return nullptr;
  }
  const DIM3D& d = frame->dim;
  FRAME* roi = PR_FrameCreate(FRM_ROI, 1, DIM3D{d.w, d.h, d.d, 1}, true);
  if (!roi) return nullptr;
  twk::ProgressGuard progress(L"Local Otsu threshold", show);
  const double scale = hi > lo ? 255.0 / (hi - lo) : 0.0;
  std::vector<int> halfWidth(size_t(2 * radius + 1));
  for (int dy = -radius; dy <= radius; ++dy)
    halfWidth[size_t(dy + radius)] = int(std::floor(std::sqrt(double(radius * radius - dy * dy)) + 1e-9));
  tbb::parallel_for(tbb::blocked_range<int>(0, d.d), [&](const tbb::blocked_range<int>& r) {
    std::vector<uint8_t> levels(size_t(d.w) * d.h);
    for (int z = r.begin(); z != r.end(); ++z) {
      if (progress.Stopped()) return;
      for (int y = 0; y < d.h; ++y)
        for (int x = 0; x < d.w; ++x) {
          const double v = twk::voxelValue(frame, x, y, z, t);
          const bool undefined = v == VOID_VALUE || (frame->type == FRM_INT && frame->bpv == 32 && v == double(VOID_INT_VALUE));
          levels[size_t(y) * d.w + x] = undefined ? 0 : uint8_t(std::clamp(std::lround((v - lo) * scale), 0L, 255L));
        }
      for (int y = 0; y < d.h; ++y) {
        int32_t histogram[256] = {};
        // The disk at x = 0.
        for (int dy = -radius; dy <= radius; ++dy) {
          const int yy = y + dy;
          if (yy < 0 || yy >= d.h) continue;
          const int hw = halfWidth[size_t(dy + radius)];
          for (int xx = 0; xx <= std::min(hw, d.w - 1); ++xx) ++histogram[levels[size_t(yy) * d.w + xx]];
        }
        uint8_t* line = twk::frameLine(roi, y, z, 0);
        for (int x = 0; x < d.w; ++x) {
          if (x > 0) {
            // Slide by one: the left column of every row of the disk leaves, the right one enters.
            for (int dy = -radius; dy <= radius; ++dy) {
              const int yy = y + dy;
              if (yy < 0 || yy >= d.h) continue;
              const int hw = halfWidth[size_t(dy + radius)];
              const int out = x - 1 - hw, in = x + hw;
              if (out >= 0) --histogram[levels[size_t(yy) * d.w + out]];
              if (in < d.w) ++histogram[levels[size_t(yy) * d.w + in]];
            }
          }
          if (levels[size_t(y) * d.w + x] >= VA_OtsuLevel256(histogram)) twk::setBit(line, x, true);
        }
      }
    }
  });
  if (progress.Stopped()) {
    PR_FrameDelete(&roi);
    return nullptr;
  }
  return roi;
}

bool VA_VolSegHistSingleThreshold(int method, const VA_BIMODALSPLIT* record, const FRAME* frame, const FRAME* roi,
                                  int t, double* threshold, bool show) {
  const wchar_t* name = L"VA_VolSegHistSingleThreshold";
  if (!validTimePoint(frame, t) || !threshold || (roi && (roi->type != FRM_ROI || !roi->data))) {
    report(name, L"Invalid parameters", show);
    return false;
  }
  const int maskT = roi && roi->dim.t > 1 ? t : 0;
  double lo = 0, hi = 0;
  FRAME* mask = nullptr;
  if (roi) {
    mask = PR_FrameCreate(FRM_ROI, 1, DIM3D{roi->dim.w, roi->dim.h, roi->dim.d, 1}, true);
    if (!mask) return false;
    const size_t bytes = size_t(roi->lineBytes) * size_t(roi->dim.h) * size_t(roi->dim.d);
    std::copy_n(roi->data + bytes * size_t(maskT), bytes, mask->data);
  }
  struct Release {
    FRAME** f;
    ~Release() { PR_FrameDelete(f); }
  } release{&mask};
  if (!VA_VolMinMax(frame, t, mask, &lo, &hi)) {
    report(name, L"ROI is empty", show);
    return false;
  }
  const int bins = 256;
  VA_ROIINFO info;
  uint64_t* histogram = VA_VolCalcRoiInfo(show, frame, t, mask, 0, lo, hi, true, 1e60, bins, &info);
  if (!histogram) return false;
  int* cuts = VA_SegHist(histogram, bins, method, 2, record, nullptr, nullptr, nullptr, nullptr, show);
  pf_free(&histogram);
  if (!cuts) return false;
  const double width = hi > lo ? (hi - lo) / bins : 1.0;
  *threshold = lo + cuts[1] * width;
  pf_free(&cuts);
  return true;
}

bool VA_ThresholdVol(const double* values, double threshold, FRAME* upper, FRAME* lower) {
  if (!values || !upper || !lower || upper->type != FRM_ROI || lower->type != FRM_ROI || !upper->data ||
      !lower->data || upper->dim.w != lower->dim.w || upper->dim.h != lower->dim.h || upper->dim.d != lower->dim.d)
    return false;
  const DIM3D& d = upper->dim;
  tbb::parallel_for(tbb::blocked_range<int>(0, d.d), [&](const tbb::blocked_range<int>& r) {
    for (int z = r.begin(); z != r.end(); ++z)
      for (int y = 0; y < d.h; ++y) {
        uint8_t* up = twk::frameLine(upper, y, z, 0);
        uint8_t* low = twk::frameLine(lower, y, z, 0);
        const double* v = values + (int64_t(z) * d.h + y) * d.w;
        for (int x = 0; x < d.w; ++x) {
          if (v[x] >= threshold) twk::setBit(low, x, false);
          else twk::setBit(up, x, false);
        }
      }
  });
  return true;
}
