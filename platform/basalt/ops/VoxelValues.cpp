#include "ops/VoxelValues.h"

#include <tbb/blocked_range.h>
#include <tbb/combinable.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "TwkMem.h"
#include "ops/VolumeOps.h"
#include "roi/RoiStatistics.h"
#include "TwkUi.h"
#include "Vol.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

void report(bool show, const wchar_t* function, const wchar_t* message) {
  if (show) twk::showNamedError(function, message);
}

bool isValueFrame(const FRAME* f) {
  return f && f->data && (f->type == FRM_INT || f->type == FRM_REAL) && twk::voxelElemOf(f) != twk::VoxelElem::Invalid;
}

bool roiFits(const FRAME* frame, const FRAME* roi) {
  return !roi || (roi->type == FRM_ROI && roi->data && roi->dim.w == frame->dim.w && roi->dim.h == frame->dim.h &&
                  roi->dim.d == frame->dim.d && (roi->dim.t == 1 || roi->dim.t == frame->dim.t));
}

// body(typed line, roi line or null, y, z, t) for every line, slices in parallel.
template <class F>
void forLines(FRAME* frame, const FRAME* roi, F body) {
  const int64_t slices = int64_t(frame->dim.d) * frame->dim.t;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, slices), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t s = r.begin(); s < r.end(); ++s) {
      const int z = int(s % frame->dim.d), t = int(s / frame->dim.d);
      for (int y = 0; y < frame->dim.h; ++y) {
        uint8_t* line = twk::frameLine(frame, y, z, t);
        const uint8_t* mask = roi ? twk::frameLine(roi, y, z, roi->dim.t > 1 ? t : 0) : nullptr;
        switch (twk::voxelElemOf(frame)) {
          case twk::VoxelElem::U8: body(line, mask); break;
          case twk::VoxelElem::U16: body(reinterpret_cast<uint16_t*>(line), mask); break;
          case twk::VoxelElem::U32: body(reinterpret_cast<uint32_t*>(line), mask); break;
          case twk::VoxelElem::F64: body(reinterpret_cast<double*>(line), mask); break;
          default: break;
        }
      }
    }
  });
}

template <class T>
constexpr bool isVoidVoxel(T v) {
  if constexpr (std::is_same_v<T, double>) return v == VOID_VALUE;
  else if constexpr (std::is_same_v<T, uint32_t>) return v == VOID_INT_VALUE;
  else return false;
}

template <class T>
T voidVoxel() {
  if constexpr (std::is_same_v<T, double>) return VOID_VALUE;
  else return T(VOID_INT_VALUE);
}

double topOf(const FRAME* f) { return f->bpv == 8 ? 255.0 : f->bpv == 16 ? 65535.0 : 4294967295.0; }

// A value the frame's voxels can hold exactly: any for real frames; a whole number in range, or
// the void value for 32-bit integers.
bool representable(const FRAME* f, double v) {
  if (f->type == FRM_REAL) return std::isfinite(v) || v == VOID_VALUE;
  if (v == VOID_VALUE) return f->bpv == 32;
  return std::isfinite(v) && v >= 0 && v <= topOf(f) && v == std::floor(v);
}

// Widens an 8- or 16-bit integer frame to 32 bits in place (same record, new voxels).
bool widenTo32(FRAME* frame) {
  FRAME* wide = PR_FrameCreate(FRM_INT, 32, frame->dim, false);
  if (!wide) return false;
  const int64_t n = frame->dim.w;
  const int64_t slices = int64_t(frame->dim.d) * frame->dim.t;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, slices), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t s = r.begin(); s < r.end(); ++s)
      for (int y = 0; y < frame->dim.h; ++y) {
        const int z = int(s % frame->dim.d), t = int(s / frame->dim.d);
        auto* out = reinterpret_cast<uint32_t*>(twk::frameLine(wide, y, z, t));
        const uint8_t* in = twk::frameLine(frame, y, z, t);
        if (frame->bpv == 8)
          for (int64_t x = 0; x < n; ++x) out[x] = in[x];
        else
          for (int64_t x = 0; x < n; ++x) out[x] = reinterpret_cast<const uint16_t*>(in)[x];
      }
  });
  std::swap(frame->data, wide->data);
  std::swap(frame->lineBytes, wide->lineBytes);
  std::swap(frame->bpv, wide->bpv);
  PR_FrameDelete(&wide);
  return true;
}

}  // namespace

bool VA_VolReplaceValue(FRAME* frame, const FRAME* roi, double value, double replacement, bool show) {
  const wchar_t* name = L"VA_VolReplaceValue";
  if (!isValueFrame(frame) || !roiFits(frame, roi)) {
    report(show, name, L"Invalid volume or ROI");
    return false;
  }
  if (!representable(frame, replacement)) {
    report(show, name, L"The replacement value cannot be stored in the volume's voxels");
    return false;
  }
  // A value the voxels cannot hold matches nothing.
  if (!representable(frame, value)) return true;
  const int64_t n = frame->dim.w;
  forLines(frame, roi, [&](auto* line, const uint8_t* mask) {
    using T = std::remove_pointer_t<decltype(line)>;
    const T from = twk::voxelFromDouble<T>(value);
    const T to = twk::voxelFromDouble<T>(replacement);
    for (int64_t x = 0; x < n; ++x)
      if (line[x] == from && (!mask || twk::getBit(mask, x))) line[x] = to;
  });
  return true;
}

bool VA_VolMakeSignalVoid(FRAME* frame, double value, bool show) {
  if (!isValueFrame(frame)) {
    report(show, L"VA_VolMakeSignalVoid", L"Invalid volume");
    return false;
  }
  if (!representable(frame, value) || value == VOID_VALUE) return true;
  if (frame->type == FRM_INT && frame->bpv < 32) {
    // Narrow voxels cannot mark a void: widen them first, only when a voxel is to change.
    std::atomic<bool> any{false};
    const int64_t n = frame->dim.w;
    forLines(frame, nullptr, [&](auto* line, const uint8_t*) {
      using T = std::remove_pointer_t<decltype(line)>;
      const T from = twk::voxelFromDouble<T>(value);
      if (any.load(std::memory_order_relaxed)) return;
      for (int64_t x = 0; x < n; ++x)
        if (line[x] == from) {
          any = true;
          return;
        }
    });
    if (!any) return true;
    if (!widenTo32(frame)) {
      report(show, L"VA_VolMakeSignalVoid", L"Memory allocation error");
      return false;
    }
  }
  const int64_t n = frame->dim.w;
  forLines(frame, nullptr, [&](auto* line, const uint8_t*) {
    using T = std::remove_pointer_t<decltype(line)>;
    if constexpr (std::is_same_v<T, uint32_t> || std::is_same_v<T, double>) {
      const T from = twk::voxelFromDouble<T>(value);
      const T to = voidVoxel<T>();
      for (int64_t x = 0; x < n; ++x)
        if (line[x] == from) line[x] = to;
    }
  });
  return true;
}

bool VA_VolChangeVoidToSignal(FRAME* frame, double value, bool show) {
  const wchar_t* name = L"VA_VolChangeVoidToSignal";
  if (!isValueFrame(frame)) {
    report(show, name, L"Invalid volume");
    return false;
  }
  if (!representable(frame, value)) {
    report(show, name, L"The value cannot be stored in the volume's voxels");
    return false;
  }
  const int64_t n = frame->dim.w;
  forLines(frame, nullptr, [&](auto* line, const uint8_t*) {
    using T = std::remove_pointer_t<decltype(line)>;
    const T to = twk::voxelFromDouble<T>(value);
    for (int64_t x = 0; x < n; ++x)
      if (isVoidVoxel(line[x])) line[x] = to;
  });
  return true;
}

bool VA_VolCopy(FRAME* dst, int dstT, const FRAME* src, int srcT) {
  if (!dst || !src || !dst->data || !src->data || dst->type != src->type || dst->bpv != src->bpv ||
      dst->dim.w != src->dim.w || dst->dim.h != src->dim.h || dst->dim.d != src->dim.d || dstT < 0 ||
      dstT >= dst->dim.t || srcT < 0 || srcT >= src->dim.t)
    return false;
  if (dst == src && dstT == srcT) return true;
  const int64_t bytes = int64_t(dst->dim.d) * dst->dim.h * dst->lineBytes;
  std::memmove(twk::frameLine(dst, 0, 0, dstT), twk::frameLine(src, 0, 0, srcT), size_t(bytes));
  return true;
}

bool VA_VolLinearConversionWithClamp(FRAME* frame, const VA_LINCONV* conversion, const FRAME* roi, bool show) {
  if (!isValueFrame(frame) || !conversion || !roiFits(frame, roi)) {
    report(show, L"VA_VolLinearConversionWithClamp", L"Invalid volume or ROI");
    return false;
  }
  const VA_LINCONV c = *conversion;
  const int64_t n = frame->dim.w;
  forLines(frame, roi, [&](auto* line, const uint8_t* mask) {
    using T = std::remove_pointer_t<decltype(line)>;
    for (int64_t x = 0; x < n; ++x) {
      if (isVoidVoxel(line[x]) || (mask && !twk::getBit(mask, x))) continue;
      const double v = std::min(std::max(c.coefficient * double(line[x]) + c.bias, c.lowLimit), c.highLimit);
      if constexpr (std::is_same_v<T, double>) {
        line[x] = v;
      } else {
        // Whole voxels, within the type's range; an integer result never becomes a void mark.
        T out = twk::voxelFromDouble<T>(v);
        if (isVoidVoxel(out)) out = T(out - 1);
        line[x] = out;
      }
    }
  });
  return true;
}

bool CVol::LinearConversionWithClamp(const VA_LINCONV* conversion, const FRAME* roi, bool show) {
  return VA_VolLinearConversionWithClamp(frame, conversion, roi, show);
}

FRAME* VA_VolEqualizeHist(const FRAME* frame, bool show) {
  const wchar_t* name = L"VA_VolEqualizeHist";
  if (!isValueFrame(frame)) {
    report(show, name, L"Invalid volume");
    return nullptr;
  }
  FRAME* out = VA_VolClone(frame);
  if (!out) {
    report(show, name, L"Memory allocation error");
    return nullptr;
  }
  double lo = 0, hi = 0;
  if (!VA_VolMinMax(frame, -1, nullptr, &lo, &hi) || hi <= lo) return out;  // no or one defined value
  // Bins: one per integer value (up to 2^20 of them, else 256), 256 for real frames.
  const bool perValue = frame->type == FRM_INT && hi - lo < double(1 << 20);
  const int64_t bins = perValue ? int64_t(hi - lo) + 1 : 256;
  const double width = perValue ? 1.0 : (hi - lo) / double(bins);
  auto binOf = [&](double v) {
    const int64_t b = perValue ? int64_t(v - lo) : int64_t((v - lo) / width);
    return std::clamp<int64_t>(b, 0, bins - 1);
  };
  tbb::combinable<std::vector<int64_t>> partial([bins] { return std::vector<int64_t>(size_t(bins), 0); });
  const int64_t n = frame->dim.w;
  forLines(const_cast<FRAME*>(frame), nullptr, [&](auto* line, const uint8_t*) {
    std::vector<int64_t>& h = partial.local();
    for (int64_t x = 0; x < n; ++x)
      if (!isVoidVoxel(line[x]) && line[x] == line[x]) ++h[size_t(binOf(double(line[x])))];
  });
  std::vector<double> cdf(size_t(bins), 0.0);
  partial.combine_each([&cdf](const std::vector<int64_t>& h) {
    for (size_t i = 0; i < h.size(); ++i) cdf[i] += double(h[i]);
  });
  for (size_t i = 1; i < cdf.size(); ++i) cdf[i] += cdf[i - 1];
  const double total = cdf.back();
  for (double& c : cdf) c /= total;
  // The mapping at a value: the cumulative fraction of its bin, or for binned frames the linear
  // interpolation between bin centres (flat beyond the first and last centre).
  auto mapped = [&](double v) {
    double f;
    if (perValue) {
      f = cdf[size_t(binOf(v))];
    } else {
      const double pos = (v - lo) / width - 0.5;
      if (pos <= 0) f = cdf.front();
      else if (pos >= double(bins - 1)) f = cdf.back();
      else {
        const int64_t i = int64_t(pos);
        const double w = pos - double(i);
        f = cdf[size_t(i)] * (1 - w) + cdf[size_t(i + 1)] * w;
      }
    }
    return lo + (hi - lo) * f;
  };
  forLines(out, nullptr, [&](auto* line, const uint8_t*) {
    using T = std::remove_pointer_t<decltype(line)>;
    for (int64_t x = 0; x < n; ++x) {
      if (isVoidVoxel(line[x]) || line[x] != line[x]) continue;
      if constexpr (std::is_same_v<T, double>) line[x] = mapped(line[x]);
      else line[x] = twk::voxelFromDouble<T>(mapped(double(line[x])));
    }
  });
  return out;
}

FRAME* VA_VolLogConvert(const FRAME* frame, bool show) {
  const wchar_t* name = L"VA_VolLogConvert";
  if (!isValueFrame(frame)) {
    report(show, name, L"Invalid volume");
    return nullptr;
  }
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, frame->dim, false);
  if (!out) {
    report(show, name, L"Memory allocation error");
    return nullptr;
  }
  const int64_t n = frame->dim.w;
  forLines(const_cast<FRAME*>(frame), nullptr, [&](auto* line, const uint8_t*) {
    // The output line of the same voxel row: found from the input line's offset.
    const int64_t offset = (reinterpret_cast<const uint8_t*>(line) - frame->data) / frame->lineBytes;
    auto* dst = reinterpret_cast<double*>(out->data + offset * out->lineBytes);
    for (int64_t x = 0; x < n; ++x) {
      const double v = double(line[x]);
      dst[x] = isVoidVoxel(line[x]) || !(v > 0) || !std::isfinite(v) ? VOID_VALUE : std::log(v);
    }
  });
  return out;
}
