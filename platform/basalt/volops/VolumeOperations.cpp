// Voxel-wise operations between layers, masking, and the time point of most signal.

#include "volops/VolumeOperations.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "TwkUi.h"
#include "Vol.h"
#include "docsupport/DocSupport.h"
#include "volops/VoxelLines.h"
#include "volume/Frame.h"

namespace {

using twk::VoxelElem;

CVol* failed(bool show, const wchar_t* function, const wchar_t* why) {
  if (show) twk::showNamedError(function, why);
  return nullptr;
}

bool sameGrid(const FRAME* a, const FRAME* b) {
  return a->dim.w == b->dim.w && a->dim.h == b->dim.h && a->dim.d == b->dim.d;
}

// One line of ROI bits of the result from the operands' lines.
void roiLine(int code, const std::vector<const uint8_t*>& src, uint8_t* dst, int64_t bytes) {
  const size_t n = src.size();
  for (int64_t i = 0; i < bytes; ++i) {
    uint8_t any = 0, all = 0xFF, parity = 0;
    for (size_t k = 0; k < n; ++k) {
      const uint8_t b = src[k][i];
      any |= b;
      all &= b;
      parity ^= b;
    }
    switch (code) {
      case VA_LAYEROP_UNION: dst[i] = any; break;
      case VA_LAYEROP_INTERSECT: dst[i] = all; break;
      case VA_LAYEROP_A_AND_NOT_B: {
        uint8_t rest = 0;
        for (size_t k = 1; k < n; ++k) rest |= src[k][i];
        dst[i] = uint8_t(src[0][i] & ~rest);
        break;
      }
      case VA_LAYEROP_XOR: dst[i] = parity; break;
      default: dst[i] = uint8_t(~any); break;  // NOT
    }
  }
}

}  // namespace

const wchar_t* VA_LayerOperationName(int code) {
  switch (code) {
    case VA_LAYEROP_UNION: return L"Union";
    case VA_LAYEROP_INTERSECT: return L"Intersection";
    case VA_LAYEROP_A_AND_NOT_B: return L"A_AND_NOT_B";
    case VA_LAYEROP_XOR: return L"XOR";
    case VA_LAYEROP_NOT: return L"NOT";
    case VA_LAYEROP_ABS_DIFF: return L"AbsDiff";
    case VA_LAYEROP_MAX_ZERO_DIFF: return L"MaxZeroDiff";
    default: return L"Unknown";
  }
}

CVol* VA_OperationOnVolumes(int code, CVol* const* operands, int count, bool show) {
  const wchar_t* fn = L"VA_OperationOnVolumes";
  if (code < VA_LAYEROP_UNION || code > VA_LAYEROP_MAX_ZERO_DIFF) return failed(show, fn, L"Invalid layer operation");
  if (!operands || count < 1) return failed(show, fn, L"No suitable volume is present or enabled");
  for (int i = 0; i < count; ++i) {
    const CVol* v = operands[i];
    if (!v || !v->frame || !v->frame->data || twk::voxelElemOf(v->frame) == VoxelElem::Invalid)
      return failed(show, fn, L"Invalid operand volume");
  }
  const bool roiOperation = code <= VA_LAYEROP_NOT;
  if (roiOperation) {
    for (int i = 0; i < count; ++i)
      if (!operands[i]->IsROI()) return failed(show, fn, L"ROI operands are required");
    if (count < (code == VA_LAYEROP_NOT ? 1 : 2)) return failed(show, fn, L"At least two ROIs are required");
  } else if (count != 2) {
    return failed(show, fn, L"Exactly two volumes are required");
  }
  const FRAME* first = operands[0]->frame;
  int maxT = 1;
  for (int i = 0; i < count; ++i) {
    if (!sameGrid(first, operands[i]->frame)) return failed(show, fn, L"Equal dimensions are expected");
    maxT = std::max(maxT, operands[i]->T());
  }
  const CVol* templateVol = nullptr;
  for (int i = 0; i < count; ++i) {
    const int T = operands[i]->T();
    if (T != 1 && T != maxT) return failed(show, fn, L"Invalid dynamic points");
    if (!templateVol && T == maxT) templateVol = operands[i];
  }

  const DIM3D dims{first->dim.w, first->dim.h, first->dim.d, maxT};
  FRAME* out = PR_FrameCreate(roiOperation ? FRM_ROI : FRM_REAL, 0, dims, roiOperation);
  if (!out) return failed(show, fn, L"Not enough memory");
  const int64_t slabs = int64_t(dims.d) * maxT;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, slabs), [&](const tbb::blocked_range<int64_t>& r) {
    std::vector<const uint8_t*> lines(static_cast<size_t>(count));
    std::vector<double> a, b;
    for (int64_t s = r.begin(); s != r.end(); ++s) {
      const int64_t z = s % dims.d, t = s / dims.d;
      for (int64_t y = 0; y < dims.h; ++y) {
        uint8_t* dst = twk::frameLine(out, y, z, t);
        if (roiOperation) {
          for (int k = 0; k < count; ++k) {
            const FRAME* f = operands[k]->frame;
            lines[size_t(k)] = twk::frameLine(f, y, z, f->dim.t == 1 ? 0 : t);
          }
          roiLine(code, lines, dst, out->lineBytes);
          twk::clearRoiPadding(dst, dims.w, out->lineBytes);
          continue;
        }
        const FRAME* fa = operands[0]->frame;
        const FRAME* fb = operands[1]->frame;
        twk::lineToDoubles(fa, y, z, fa->dim.t == 1 ? 0 : t, a);
        twk::lineToDoubles(fb, y, z, fb->dim.t == 1 ? 0 : t, b);
        auto* values = reinterpret_cast<double*>(dst);
        for (int64_t x = 0; x < dims.w; ++x) {
          const double p = a[size_t(x)], q = b[size_t(x)];
          if (p == VOID_VALUE || q == VOID_VALUE) {
            values[x] = VOID_VALUE;
          } else {
            const double diff = p - q;
            values[x] = code == VA_LAYEROP_ABS_DIFF ? std::fabs(diff) : std::max(0.0, diff);
          }
        }
      }
    }
  });

  CVol* vol = VA_CloneByReformat(templateVol, &out, nullptr, nullptr, nullptr, show);
  if (!vol) {
    PR_FrameDelete(&out);
    return nullptr;
  }
  if (roiOperation) VA_MinimizeDicomHeaders(vol);
  return vol;
}

bool VA_VolCleanMask(FRAME* frame, int t, const FRAME* mask, bool inside, double value, bool show) {
  auto fail = [&](const wchar_t* why) {
    if (show) twk::showNamedError(L"VA_VolCleanMask", why);
    return false;
  };
  if (!frame || !frame->data || twk::voxelElemOf(frame) == VoxelElem::Invalid) return fail(L"Invalid volume");
  if (!mask || !mask->data || mask->type != FRM_ROI || !sameGrid(frame, mask) ||
      (mask->dim.t != 1 && mask->dim.t != frame->dim.t))
    return fail(L"ROI of the volume's dimensions is required");
  if (t < -1 || t >= frame->dim.t) return fail(L"Invalid time point");
  const DIM3D& d = frame->dim;
  const int64_t t0 = t < 0 ? 0 : t, numT = t < 0 ? d.t : 1;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, numT * d.d), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t s = r.begin(); s != r.end(); ++s) {
      const int64_t z = s % d.d, ti = t0 + s / d.d;
      for (int64_t y = 0; y < d.h; ++y)
        twk::setLineWhereMask(frame, y, z, ti, twk::frameLine(mask, y, z, mask->dim.t == 1 ? 0 : ti), inside, value);
    }
  });
  return true;
}

bool VA_VolGetTimeOfMaxInfo(const FRAME* frame, const FRAME* roi, int64_t* t, bool show) {
  auto fail = [&](const wchar_t* why) {
    if (show) twk::showNamedError(L"VA_VolGetTimeOfMaxInfo", why);
    return false;
  };
  if (!t) return false;
  if (!frame || !frame->data || twk::voxelElemOf(frame) == VoxelElem::Invalid) return fail(L"Invalid volume");
  if (roi && (!roi->data || roi->type != FRM_ROI || !sameGrid(frame, roi) || (roi->dim.t != 1 && roi->dim.t != frame->dim.t)))
    return fail(L"ROI of the volume's dimensions is required");
  *t = 0;
  const DIM3D& d = frame->dim;
  if (d.t <= 1) return true;
  // One partial sum per slice, added up per time point afterwards in a fixed order.
  std::vector<double> sums(size_t(int64_t(d.d) * d.t), 0.0);
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, int64_t(d.d) * d.t), [&](const tbb::blocked_range<int64_t>& r) {
    std::vector<double> line;
    for (int64_t s = r.begin(); s != r.end(); ++s) {
      const int64_t z = s % d.d, ti = s / d.d;
      double sum = 0;
      for (int64_t y = 0; y < d.h; ++y) {
        twk::lineToDoubles(frame, y, z, ti, line);
        const uint8_t* bits = roi ? twk::frameLine(roi, y, z, roi->dim.t == 1 ? 0 : ti) : nullptr;
        for (int64_t x = 0; x < d.w; ++x)
          if (line[size_t(x)] != VOID_VALUE && (!bits || twk::getBit(bits, x))) sum += line[size_t(x)];
      }
      sums[size_t(s)] = sum;
    }
  });
  double best = -HUGE_VAL;
  for (int ti = 0; ti < d.t; ++ti) {
    double sum = 0;
    for (int z = 0; z < d.d; ++z) sum += sums[size_t(int64_t(ti) * d.d + z)];
    if (sum > best) {
      best = sum;
      *t = ti;
    }
  }
  return true;
}
