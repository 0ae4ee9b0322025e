#include "BrainSteps.h"

#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "TwkUi.h"
#include "Vol.h"
#include "geometry/Geometry.h"
#include "registration/Reslice.h"
#include "ops/VolumeOps.h"
#include "roi/RoiShape.h"
#include "roi/RoiStatistics.h"
#include "volops/VolumeOperations.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace gyrelab {

Frames::~Frames() {
  for (FRAME** slot : slots_) PR_FrameDelete(slot);
  for (FRAME** slot : slots_) delete slot;
}

FRAME*& Frames::add(FRAME* frame) {
  slots_.push_back(new FRAME*(frame));
  return *slots_.back();
}

FRAME* Frames::release(FRAME*& slot) {
  FRAME* frame = slot;
  slot = nullptr;
  return frame;
}

void reportFailure(const wchar_t* function, const CString& message) { twk::showNamedError(function, message); }

namespace {

bool sameGridRois(const FRAME* a, const FRAME* b) {
  return a && b && a->data && b->data && a->type == FRM_ROI && b->type == FRM_ROI && a->dim.w == b->dim.w &&
         a->dim.h == b->dim.h && a->dim.d == b->dim.d && a->lineBytes == b->lineBytes;
}

// Time point 0 of two ROIs of one grid, byte by byte (padding bits are zero in both).
template <class Op>
bool combineRois(FRAME* a, const FRAME* b, Op op) {
  if (!sameGridRois(a, b)) return false;
  const int64_t bytes = a->lineBytes * a->dim.h * a->dim.d;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, bytes, 1 << 16), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t i = r.begin(); i != r.end(); ++i) a->data[i] = op(a->data[i], b->data[i]);
  });
  return true;
}

bool isSignal(const FRAME* f) {
  return f && f->data && (f->type == FRM_INT || f->type == FRM_REAL) &&
         twk::voxelElemOf(f) != twk::VoxelElem::Invalid;
}

bool sameGrid(const FRAME* a, const FRAME* b) {
  return a && b && a->dim.w == b->dim.w && a->dim.h == b->dim.h && a->dim.d == b->dim.d;
}

bool isVoid(const FRAME* f, double v) {
  return f->type == FRM_REAL ? v == VOID_VALUE : (PR_VolBpv(f) == 32 && v == double(VOID_INT_VALUE));
}

}  // namespace

bool roiAndNot(FRAME* a, const FRAME* b) {
  return combineRois(a, b, [](uint8_t x, uint8_t y) { return uint8_t(x & ~y); });
}

bool roiAnd(FRAME* a, const FRAME* b) {
  return combineRois(a, b, [](uint8_t x, uint8_t y) { return uint8_t(x & y); });
}

bool roiOr(FRAME* a, const FRAME* b) {
  return combineRois(a, b, [](uint8_t x, uint8_t y) { return uint8_t(x | y); });
}

void roiClearSlice(FRAME* roi, int z) {
  if (!roi || !roi->data || z < 0 || z >= roi->dim.d) return;
  std::memset(twk::frameLine(roi, 0, z, 0), 0, size_t(roi->lineBytes * roi->dim.h));
}

std::vector<int64_t> roiSliceCounts(const FRAME* roi) {
  std::vector<int64_t> counts;
  if (!roi || !roi->data || roi->type != FRM_ROI) return counts;
  counts.assign(size_t(roi->dim.d), 0);
  tbb::parallel_for(0, roi->dim.d, [&](int z) {
    int64_t n = 0;
    for (int y = 0; y < roi->dim.h; ++y) {
      const uint8_t* line = twk::frameLine(roi, y, z, 0);
      for (int x = 0; x < roi->dim.w; ++x) n += twk::getBit(line, x);
    }
    counts[size_t(z)] = n;
  });
  return counts;
}

bool volOverRoiMeanMax(const FRAME* frame, const FRAME* roi, double* mean, double* maximum) {
  if (!isSignal(frame) || !roi || roi->type != FRM_ROI || !sameGrid(frame, roi)) return false;
  double sum = 0, top = -1e300;
  int64_t count = 0;
  for (int z = 0; z < frame->dim.d; ++z)
    for (int y = 0; y < frame->dim.h; ++y) {
      const uint8_t* mask = twk::frameLine(roi, y, z, 0);
      for (int x = 0; x < frame->dim.w; ++x) {
        if (!twk::getBit(mask, x)) continue;
        const double v = twk::voxelValue(frame, x, y, z, 0);
        if (isVoid(frame, v)) continue;
        sum += v;
        top = std::max(top, v);
        ++count;
      }
    }
  if (count == 0) return false;
  if (mean) *mean = sum / double(count);
  if (maximum) *maximum = top;
  return true;
}

bool volRoiHistogramPeak(const FRAME* frame, const FRAME* roi, double* level) {
  if (!isSignal(frame) || !roi || roi->type != FRM_ROI || !sameGrid(frame, roi)) return false;
  std::unordered_map<int64_t, int64_t> histogram;
  for (int z = 0; z < frame->dim.d; ++z)
    for (int y = 0; y < frame->dim.h; ++y) {
      const uint8_t* mask = twk::frameLine(roi, y, z, 0);
      for (int x = 0; x < frame->dim.w; ++x) {
        if (!twk::getBit(mask, x)) continue;
        const double v = twk::voxelValue(frame, x, y, z, 0);
        if (!isVoid(frame, v)) ++histogram[int64_t(std::floor(v))];
      }
    }
  if (histogram.empty()) return false;
  // The most frequent level; the lowest of equally frequent ones.
  int64_t best = 0, bestCount = -1;
  for (const auto& [value, count] : histogram)
    if (count > bestCount || (count == bestCount && value < best)) best = value, bestCount = count;
  *level = double(best);
  return true;
}

FRAME* scaleSignalRange(const FRAME* frame, double top, bool show) {
  double low = 0, high = 0;
  if (!isSignal(frame) || !VA_VolMinMax(frame, 0, nullptr, &low, &high)) return nullptr;
  const double divisor = high > 0 ? high / top : 1.0;
  return VA_VolSubAndDivide(FRM_REAL, frame, 0.0, divisor, show);
}

FRAME* boxRoi(const DIM3D& dims, const RECT3D& box) {
  FRAME* roi = PR_FrameCreate(FRM_ROI, 1, DIM3D{dims.w, dims.h, dims.d, 1}, true);
  if (!roi) return nullptr;
  for (int z = std::max(0, box.z0); z <= std::min(dims.d - 1, box.z1); ++z)
    for (int y = std::max(0, box.y0); y <= std::min(dims.h - 1, box.y1); ++y)
      for (int x = std::max(0, box.x0); x <= std::min(dims.w - 1, box.x1); ++x) twk::setRoiBit(roi, x, y, z, 0, true);
  return roi;
}

FRAME* removeSmallPieces(const FRAME* roi, int64_t n, bool show) {
  VA_SALTPEPPER record;
  record.connectivity = 6;
  record.mode2D = 0;
  record.saltRemoval = 0;
  record.saltThreshold = 0;
  record.pepperRemoval = 1;
  record.pepperThreshold = int32_t(std::clamp<int64_t>(n, 0, INT32_MAX));
  return VA_FilterSaltPepper(&record, roi, show);
}

FRAME* resliceRoi(const double matrix[16], const FRAME* roi, const DIM3D& dims, bool show) {
  const DIM3D target{dims.w, dims.h, dims.d, 1};
  return VA_ResliceAffine(matrix, roi, &target, 1, 0.0, show);
}

VA_EW brainMaskRecord(double siLow, double siHigh, double peel, double grow) {
  VA_EW r;
  r.mode3D = 1;
  r.siLow = siLow;
  r.siHigh = siHigh;
  r.siUnits = 1;
  r.textureSimilarity = 0;
  r.distanceUnits = 1;
  r.peel = peel;
  r.grow = grow;
  r.competitiveGrowth = 0;
  r.connectedComponents = 2;
  r.strictCoreSurface = 1;
  r.useEdges = 0;
  r.thinEdge = 0;
  r.edge = VA_URALEDGE{0, 0, 0.0, 0.0, 0.0};
  r.subvoxelLevel = 1;
  r.outputBinaryRoi = 1;
  r.gaussianDownscale = 0;
  return r;
}

VA_EW ventricleRecord(const VA_EW& brain, double peel, double grow) {
  VA_EW r = brain;
  r.siLow = 0;
  r.siHigh = 0;
  r.textureSimilarity = 0;
  r.peel = peel;
  r.grow = grow;
  r.connectedComponents = 1;
  return r;
}

FRAME* rotateToStandardIsotropic(const CVol* volume, const FRAME* voxels, double* s, double matrix[16], bool show) {
  DPOINT3D angles{0, 0, 0};
  if (!volume || !voxels || !VA_RotateToSpecifiedOrient(volume, VA_PROJ_CONVENTION_RADIOLOGICAL, 1, &angles, true))
    return nullptr;
  *s = volume->IsoVox();
  const SPC iso{*s, *s, *s};
  return VA_VolRotation(voxels, &volume->spc, nullptr, &iso, angles.x, angles.y, angles.z, false, false, 1, false, 0,
                        matrix, show);
}

}  // namespace gyrelab
