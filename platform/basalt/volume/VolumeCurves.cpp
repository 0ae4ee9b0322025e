#include "VolumeCurves.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <vector>

#include "TwkMem.h"
#include "VoxelAccess.h"

namespace {

bool varies(const DYNCRD* dyn, int n, double DYNCRD::*member) {
  for (int i = 1; i < n; ++i) {
    const double d = dyn[i].*member - dyn[0].*member;
    if (d > 1e-100 || d < -1e-100) return true;
  }
  return false;
}

// Sum and count of the voxels of one slice inside the mask slice (all voxels without a mask).
template <class T>
void sliceSum(const FRAME* f, int64_t z, int64_t t, const FRAME* roi, int64_t roiT, double* sum, int64_t* count) {
  double s = 0.0;
  int64_t c = 0;
  for (int64_t y = 0; y < f->dim.h; ++y) {
    const uint8_t* line = twk::frameLine(f, y, z, t);
    const uint8_t* mask = roi ? twk::frameLine(roi, y, z, roiT) : nullptr;
    for (int64_t x = 0; x < f->dim.w; ++x) {
      if (mask && !twk::getBit(mask, x)) continue;
      double v;
      if constexpr (std::is_same_v<T, bool>) {
        v = twk::getBit(line, x) ? 1.0 : 0.0;
      } else {
        v = double(reinterpret_cast<const T*>(line)[x]);
        if constexpr (std::is_floating_point_v<T>) {
          if (v == VOID_VALUE) continue;
        }
      }
      s += v;
      ++c;
    }
  }
  *sum = s;
  *count = c;
}

template <class T>
void allSliceSums(const FRAME* f, const FRAME* roi, std::vector<double>& sums, std::vector<int64_t>& counts) {
  const int64_t d = f->dim.d, slices = d * f->dim.t;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, slices), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t s = r.begin(); s < r.end(); ++s) {
      const int64_t t = s / d, z = s % d;
      const int64_t roiT = roi && roi->dim.t > 1 ? t : 0;
      sliceSum<T>(f, z, t, roi, roiT, &sums[size_t(s)], &counts[size_t(s)]);
    }
  });
}

}  // namespace

DYNDIM VA_GetDynType(const DYNCRD* dyn, int numTimes) {
  if (!dyn || numTimes < 1) return DYN_UNKNOWN;
  if (varies(dyn, numTimes, &DYNCRD::inversionTime)) return DYN_INVERSION_TIME;
  if (varies(dyn, numTimes, &DYNCRD::echoTime)) return DYN_ECHO_TIME;
  if (varies(dyn, numTimes, &DYNCRD::bValue)) return DYN_BVALUE;
  if (varies(dyn, numTimes, &DYNCRD::flipAngle)) return DYN_FLIP_ANGLE;
  if (varies(dyn, numTimes, &DYNCRD::spinLockTime)) return DYN_SPINLOCK_TIME;
  return DYN_TIME;
}

double* VA_VolGetRoiTac(const FRAME* frame, const FRAME* roi, uint8_t** validFlags) {
  if (validFlags) *validFlags = nullptr;
  if (!frame || !frame->data || twk::voxelElemOf(frame) == twk::VoxelElem::Invalid) return nullptr;
  const DIM3D dim = frame->dim;
  if (roi) {
    if (roi->type != FRM_ROI || !roi->data || roi->dim.w != dim.w || roi->dim.h != dim.h || roi->dim.d != dim.d ||
        (roi->dim.t != 1 && roi->dim.t != dim.t))
      return nullptr;
  }
  const size_t slices = size_t(dim.d) * size_t(dim.t);
  std::vector<double> sums(slices);
  std::vector<int64_t> counts(slices);
  switch (twk::voxelElemOf(frame)) {
    case twk::VoxelElem::Bit: allSliceSums<bool>(frame, roi, sums, counts); break;
    case twk::VoxelElem::U8: allSliceSums<uint8_t>(frame, roi, sums, counts); break;
    case twk::VoxelElem::U16: allSliceSums<uint16_t>(frame, roi, sums, counts); break;
    case twk::VoxelElem::U32: allSliceSums<uint32_t>(frame, roi, sums, counts); break;
    case twk::VoxelElem::F64: allSliceSums<double>(frame, roi, sums, counts); break;
    default: return nullptr;
  }

  double* curve = static_cast<double*>(pf_malloc(int64_t(dim.t) * int64_t(sizeof(double))));
  uint8_t* flags = validFlags ? static_cast<uint8_t*>(pf_malloc(dim.t)) : nullptr;
  if (!curve || (validFlags && !flags)) {
    pf_free(&curve);
    pf_free(&flags);
    return nullptr;
  }
  // Slices are added in order, so the result does not depend on how the work was split.
  for (int t = 0; t < dim.t; ++t) {
    double s = 0.0;
    int64_t c = 0;
    for (int z = 0; z < dim.d; ++z) {
      s += sums[size_t(t) * dim.d + z];
      c += counts[size_t(t) * dim.d + z];
    }
    curve[t] = c > 0 ? s / double(c) : VOID_VALUE;
    if (flags) flags[t] = c > 0 ? 1 : 0;
  }
  if (validFlags) *validFlags = flags;
  return curve;
}
