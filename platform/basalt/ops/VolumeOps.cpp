#include "ops/VolumeOps.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

bool isVoid(const FRAME* f, double v) {
  return f->type == FRM_REAL ? v == VOID_VALUE : (f->type == FRM_INT && f->bpv == 32 && v == VOID_INT_VALUE);
}

double maxOfBits(int bpv) { return bpv == 8 ? 255.0 : bpv == 16 ? 65535.0 : 4294967295.0; }

// Runs body(slice index over z + t * depth) in parallel.
template <class F>
void forSlices(const FRAME* f, F body) {
  const int64_t slices = int64_t(f->dim.d) * f->dim.t;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, slices), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t s = r.begin(); s < r.end(); ++s) body(int(s % f->dim.d), int(s / f->dim.d));
  });
}

// Real lines into integer lines of one element type, a line pointer per row (the loader converts
// whole-number real volumes of hundreds of millions of voxels this way).
template <class D>
void realIntoInteger(const FRAME* src, FRAME* dst, double scale, double offset, double bias, bool round, double maxValue) {
  const double voidOut = dst->bpv == 32 ? double(VOID_INT_VALUE) : 0.0;
  forSlices(src, [&](int z, int t) {
    for (int y = 0; y < src->dim.h; ++y) {
      const auto* in = reinterpret_cast<const double*>(twk::frameLine(src, y, z, t));
      D* out = reinterpret_cast<D*>(twk::frameLine(dst, y, z, t));
      for (int x = 0; x < src->dim.w; ++x) {
        double v = in[x];
        if (v == VOID_VALUE) {
          v = voidOut;
        } else {
          v = v * scale + offset + bias;
          if (round) v = std::floor(v + 0.5);
          v = std::clamp(v, 0.0, maxValue);
        }
        out[x] = twk::voxelFromDouble<D>(v);
      }
    }
  });
}

// Value conversion of every voxel from src into dst (same dimensions).
void convertInto(const FRAME* src, FRAME* dst, double scale, double offset, double bias, bool round, double maxValue) {
  if (src->type == FRM_REAL && src->bpv == 64 && dst->type == FRM_INT) {
    if (dst->bpv == 8) return realIntoInteger<uint8_t>(src, dst, scale, offset, bias, round, maxValue);
    if (dst->bpv == 16) return realIntoInteger<uint16_t>(src, dst, scale, offset, bias, round, maxValue);
    if (dst->bpv == 32) return realIntoInteger<uint32_t>(src, dst, scale, offset, bias, round, maxValue);
  }
  forSlices(src, [&](int z, int t) {
    for (int y = 0; y < src->dim.h; ++y)
      for (int x = 0; x < src->dim.w; ++x) {
        double v = twk::voxelValue(src, x, y, z, t);
        if (src->type == FRM_ROI) v = v != 0 ? 1 : 0;
        if (isVoid(src, v)) {
          v = dst->type == FRM_REAL ? VOID_VALUE : (dst->bpv == 32 ? double(VOID_INT_VALUE) : 0.0);
        } else {
          v = v * scale + offset + bias;
          if (dst->type == FRM_INT) {
            if (round) v = std::floor(v + 0.5);
            v = std::clamp(v, 0.0, maxValue);
          }
        }
        twk::setVoxelValue(dst, x, y, z, t, v);
      }
  });
}

void copyVolumeInfo(const CVol* from, CVol* to) {
  to->name = from->name;
  to->unit = from->unit;
  to->spc = from->spc;
  to->modality = from->modality;
  std::copy(from->orient, from->orient + 6, to->orient);
  if (from->imgPos) to->imgPos = pf_duplicate(from->imgPos, from->D());
  if (from->dyn) to->SetDynamicCoords(from->dyn, from->T());
}

// A volume like vol around a new frame (records of the volume are not copied: their voxel kind
// would no longer match).
CVol* volumeAround(const CVol* vol, FRAME* frame) {
  CVol* out = new CVol;
  out->frame = frame;
  copyVolumeInfo(vol, out);
  return out;
}

}  // namespace

FRAME* VA_VolRealToInteger(const FRAME* frame, double bias, int bits, bool show) {
  if (!frame || frame->type != FRM_REAL || bits < 1 || bits > 32) {
    if (show) twk::showNamedError(L"VA_VolRealToInteger", L"Real valued volume and 1 to 32 bits are required");
    return nullptr;
  }
  const int bpv = bits <= 8 ? 8 : bits <= 16 ? 16 : 32;
  FRAME* out = PR_FrameCreate(FRM_INT, bpv, frame->dim, false);
  if (!out) return nullptr;
  convertInto(frame, out, 1.0, 0.0, bias, true, std::ldexp(1.0, bits) - 1);
  return out;
}

FRAME* VA_VolConvertBits(const FRAME* frame, int bpv, int, int) {
  if (!frame || (bpv != 8 && bpv != 16 && bpv != 32 && bpv != 64)) return nullptr;
  FRAME* out = PR_FrameCreate(bpv == 64 ? FRM_REAL : FRM_INT, bpv, frame->dim, false);
  if (!out) return nullptr;
  convertInto(frame, out, 1.0, 0.0, 0.0, true, bpv == 64 ? 0 : maxOfBits(bpv));
  return out;
}

CVol* VA_VolIntegerToReal(const CVol* vol, bool show) {
  if (!vol || !vol->frame || vol->Type() != FRM_INT) {
    if (show) twk::showNamedError(L"VA_VolIntegerToReal", L"Signal Intensity volume is required");
    return nullptr;
  }
  FRAME* real = VA_VolConvertBits(vol->frame, 64);
  return real ? volumeAround(vol, real) : nullptr;
}

bool VA_VolIntegerToReal(CVol* vol, double scale, double offset) {
  if (!vol || !vol->frame || vol->Type() != FRM_INT) return false;
  FRAME* real = PR_FrameCreate(FRM_REAL, 64, vol->frame->dim, false);
  if (!real) return false;
  convertInto(vol->frame, real, scale, offset, 0.0, false, 0);
  PR_FrameDelete(&vol->frame);
  vol->frame = real;
  return true;
}

CVol* VA_RoiToInteger(const CVol* roi, bool show) {
  if (!roi || !roi->frame || roi->Type() != FRM_ROI) {
    if (show) twk::showNamedError(L"VA_RoiToInteger", L"ROI is not present or enabled");
    return nullptr;
  }
  FRAME* ints = VA_VolConvertBits(roi->frame, 8);
  return ints ? volumeAround(roi, ints) : nullptr;
}

bool VA_VolMinMax(const FRAME* frame, int t, const FRAME* mask, double* minimum, double* maximum) {
  if (!frame || !frame->data || t < -1 || t >= frame->dim.t) return false;
  if (mask && (mask->type != FRM_ROI || mask->dim.w != frame->dim.w || mask->dim.h != frame->dim.h ||
               mask->dim.d != frame->dim.d || (mask->dim.t != 1 && mask->dim.t != frame->dim.t)))
    return false;
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  std::mutex m;
  forSlices(frame, [&](int z, int tt) {
    if (t >= 0 && tt != t) return;
    double l = std::numeric_limits<double>::infinity(), h = -l;
    const int mt = mask && mask->dim.t > 1 ? tt : 0;
    for (int y = 0; y < frame->dim.h; ++y)
      for (int x = 0; x < frame->dim.w; ++x) {
        if (mask && !twk::roiBit(mask, x, y, z, mt)) continue;
        const double v = twk::voxelValue(frame, x, y, z, tt);
        if (isVoid(frame, v) || std::isnan(v)) continue;
        l = std::min(l, v);
        h = std::max(h, v);
      }
    std::lock_guard<std::mutex> lock(m);
    lo = std::min(lo, l);
    hi = std::max(hi, h);
  });
  if (lo > hi) return false;
  if (minimum) *minimum = lo;
  if (maximum) *maximum = hi;
  return true;
}

bool VA_IsQuasiInteger(const FRAME* frame) {
  if (!frame || !frame->data) return false;
  if (frame->type != FRM_REAL) return true;
  std::atomic<bool> whole{true};
  forSlices(frame, [&](int z, int t) {
    for (int y = 0; y < frame->dim.h && whole; ++y)
      for (int x = 0; x < frame->dim.w; ++x) {
        const double v = twk::voxelValue(frame, x, y, z, t);
        if (v != VOID_VALUE && v != std::floor(v)) whole = false;
      }
  });
  return whole;
}

bool VA_VolRealRange(const FRAME* frame, double* minimum, double* maximum, bool* whole) {
  if (!frame || !frame->data || frame->type != FRM_REAL || frame->bpv != 64) return false;
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  bool allWhole = true;
  std::mutex m;
  forSlices(frame, [&](int z, int t) {
    double l = std::numeric_limits<double>::infinity(), h = -l;
    bool w = true;
    for (int y = 0; y < frame->dim.h; ++y) {
      const auto* line = reinterpret_cast<const double*>(twk::frameLine(frame, y, z, t));
      for (int x = 0; x < frame->dim.w; ++x) {
        const double v = line[x];
        if (v == VOID_VALUE) continue;
        if (std::isnan(v)) {
          w = false;
          continue;
        }
        l = std::min(l, v);
        h = std::max(h, v);
        w = w && v == std::floor(v);
      }
    }
    std::lock_guard<std::mutex> lock(m);
    lo = std::min(lo, l);
    hi = std::max(hi, h);
    allWhole = allWhole && w;
  });
  if (lo > hi) return false;
  if (minimum) *minimum = lo;
  if (maximum) *maximum = hi;
  if (whole) *whole = allWhole;
  return true;
}

int64_t VA_VolCountVoidVoxels(const FRAME* frame) {
  if (!frame || !frame->data || frame->type == FRM_ROI || (frame->type == FRM_INT && frame->bpv != 32)) return 0;
  std::atomic<int64_t> count{0};
  forSlices(frame, [&](int z, int t) {
    int64_t n = 0;
    for (int y = 0; y < frame->dim.h; ++y)
      for (int x = 0; x < frame->dim.w; ++x) n += isVoid(frame, twk::voxelValue(frame, x, y, z, t));
    count += n;
  });
  return count;
}

bool VA_VoidVoxPresent(const FRAME* frame) { return VA_VolCountVoidVoxels(frame) > 0; }

bool VA_VolMirror(CVol* vol, bool keepWorld, int axis) {
  if (!vol || !vol->frame || !vol->frame->data || axis < 0 || axis > 3) return false;
  FRAME* f = vol->frame;
  const DIM3D d = f->dim;
  FRAME* out = PR_FrameCreate(f->type, f->bpv, d, true);
  if (!out) return false;
  const int64_t line = f->lineBytes;
  forSlices(f, [&](int z, int t) {
    const int sz = axis == 2 ? d.d - 1 - z : z, st = axis == 3 ? d.t - 1 - t : t;
    for (int y = 0; y < d.h; ++y) {
      const int sy = axis == 1 ? d.h - 1 - y : y;
      const uint8_t* src = twk::frameLine(f, sy, sz, st);
      uint8_t* dst = twk::frameLine(out, y, z, t);
      if (axis != 0) {
        std::memcpy(dst, src, size_t(line));
      } else {
        for (int x = 0; x < d.w; ++x) twk::setVoxelValue(out, x, y, z, t, twk::voxelValue(f, d.w - 1 - x, sy, sz, st));
      }
    }
  });
  // The frame keeps its address (undo records and views hold it): the mirrored voxels move in.
  std::swap(vol->frame->data, out->data);
  PR_FrameDelete(&out);
  if (axis == 3 && vol->dyn) std::reverse(vol->dyn, vol->dyn + d.t);
  if (axis == 2 && vol->dicom && vol->numDicom == int64_t(d.d) * d.t)
    for (int t = 0; t < d.t; ++t) std::reverse(vol->dicom + int64_t(t) * d.d, vol->dicom + int64_t(t + 1) * d.d);
  if (keepWorld && axis < 3) {
    // The first voxel now lies where the last one was along the axis; the axis direction turns.
    const double spacing = axis == 0 ? vol->spc.x : vol->spc.y;
    if (axis < 2) {
      double* dir = vol->orient + 3 * axis;
      const int n = axis == 0 ? d.w : d.h;
      if (vol->imgPos)
        for (int z = 0; z < d.d; ++z) {
          vol->imgPos[z].x += dir[0] * spacing * (n - 1);
          vol->imgPos[z].y += dir[1] * spacing * (n - 1);
          vol->imgPos[z].z += dir[2] * spacing * (n - 1);
        }
      for (int i = 0; i < 3; ++i) dir[i] = -dir[i];
    } else if (vol->imgPos) {
      std::reverse(vol->imgPos, vol->imgPos + d.d);
    }
  }
  return true;
}

bool VA_MakeCheckerBoard(FRAME* frame, bool show) {
  if (!frame || !frame->data) {
    if (show) twk::showNamedError(L"VA_MakeCheckerBoard", L"Volume is required");
    return false;
  }
  const double high = frame->type == FRM_ROI ? 1 : (frame->type == FRM_INT && frame->bpv == 8) ? 255 : 1000;
  forSlices(frame, [&](int z, int t) {
    for (int y = 0; y < frame->dim.h; ++y)
      for (int x = 0; x < frame->dim.w; ++x)
        twk::setVoxelValue(frame, x, y, z, t, ((x / 8 + y / 8 + z / 8) % 2) ? high : 0);
  });
  return true;
}
