#pragma once
// Steps the brain functions share (internal to the library): region arithmetic on ROI frames of one
// grid, statistics of a volume inside a region, the small-piece cleaning, the EdgeWave records of
// the brain mask and the ventricle wave, and the rotation into the isotropic standard orientation.
// Every FRAME* returned is new; null on failure.

#include <cstdint>
#include <vector>

#include "CString.h"
#include "TwkTypes.h"
#include "roi/EdgeWave.h"

class CVol;

namespace gyrelab {

// Frees the frames it holds when it goes out of scope (release() hands one on).
class Frames {
 public:
  Frames() = default;
  Frames(const Frames&) = delete;
  Frames& operator=(const Frames&) = delete;
  ~Frames();
  FRAME*& add(FRAME* frame = nullptr);
  FRAME* release(FRAME*& slot);

 private:
  std::vector<FRAME**> slots_;
};

// "<function> : <message>" in a message box.
void reportFailure(const wchar_t* function, const CString& message);

// a = a and not b (time point 0 of both; the same width, height and depth). False otherwise.
bool roiAndNot(FRAME* a, const FRAME* b);
// a = a and b (as above).
bool roiAnd(FRAME* a, const FRAME* b);
// a = a or b (as above).
bool roiOr(FRAME* a, const FRAME* b);
// Clears every voxel of slice z (time point 0).
void roiClearSlice(FRAME* roi, int z);
// The ROI's voxels of time point 0 in every slice.
std::vector<int64_t> roiSliceCounts(const FRAME* roi);
// Mean and maximum of time point 0 of a signal frame over the ROI (voids skipped); false when no
// voxel counts.
bool volOverRoiMeanMax(const FRAME* frame, const FRAME* roi, double* mean, double* maximum);
// The most frequent integer level (floor of the value) of a signal frame inside the ROI; false when
// no voxel counts.
bool volRoiHistogramPeak(const FRAME* frame, const FRAME* roi, double* level);
// A real copy of time point 0 scaled so that its largest defined value becomes top (voids stay
// void); a copy unchanged when the largest value is not positive.
FRAME* scaleSignalRange(const FRAME* frame, double top, bool show);
// An ROI of the box's voxels (inclusive) in a grid of dims.
FRAME* boxRoi(const DIM3D& dims, const RECT3D& box);
// Removes the ROI's 6-connected 3D pieces smaller than n voxels (the salt-and-pepper filter).
FRAME* removeSmallPieces(const FRAME* roi, int64_t n, bool show);
// A copy of the ROI reslicing through the target-to-source matrix onto a grid (linear weights,
// inside above one half).
FRAME* resliceRoi(const double matrix[16], const FRAME* roi, const DIM3D& dims, bool show);

// The EdgeWave record of the brain mask: 3D, signal interval relative to the seed average, mm,
// seed components, strict core surface, no edges, no texture, binary output, no downscale.
VA_EW brainMaskRecord(double siLow, double siHigh, double peel, double grow);
// The ventricle wave on the holes of the brain mask: the brain record with interval [0, 0], all
// components and the given peel and grow.
VA_EW ventricleRecord(const VA_EW& brain, double peel, double grow);

// The volume rotated into the standard axial orientation on isotropic voxels of its smallest
// spacing s. matrix receives the target-to-source matrix (rotated grid -> voxels' grid). Null
// when the volume has no usable orientation (reported by the core) or on failure.
FRAME* rotateToStandardIsotropic(const CVol* volume, const FRAME* voxels, double* s, double matrix[16], bool show);

}  // namespace gyrelab
