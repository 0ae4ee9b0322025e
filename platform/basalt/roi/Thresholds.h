#pragma once
// Thresholds of the imaging core that turn a signal time point into ROIs: a signal-to-gradient
// mask, local Otsu thresholds over a sliding window, the single threshold that splits an ROI's
// histogram in two, and the live split of a mask's voxels at a threshold.

#include <cstdint>

#include "TwkTypes.h"

struct VA_BIMODALSPLIT;

#pragma pack(push, 1)
// Adaptive threshold settings (9 bytes).
struct VA_ADAPTIVETHR {
  uint8_t flag = 0;    // reserved, 0
  double radius = 5.0; // window radius, voxels
};
#pragma pack(pop)
static_assert(sizeof(VA_ADAPTIVETHR) == 9, "VA_ADAPTIVETHR is byte-packed");

// One byte per voxel (w * h * d, pf_malloc): 1 where the signal s of time point t is positive and
// s >= threshold * |grad s|, the gradient taken by central differences on the voxel grid (one-sided
// at the borders, in-plane only for a single slice); so flat tissue is kept and the voxels whose
// signal is small against its change (edges, their dark side, noise around zero) are left out.
// Voids count as 0. Null for a bad frame or time point.
uint8_t* VA_VolSignalOverGradMask(const FRAME* frame, int t, double threshold);

// The Otsu level of a 256-bin histogram: the level t that maximises w0 w1 (m0 - m1)^2 of the
// classes [0, t) and [t, 255] (the first on ties); 0 for an empty histogram.
int VA_OtsuLevel256(const int32_t* histogram);

// Local Otsu threshold: every slice of time point t is quantised to 256 levels over the time
// point's defined range ((v - min) / (max - min) * 255, rounded); each voxel is set when its level
// is at least the Otsu threshold of the levels in the disk of the record's radius around it in its
// slice (pixels outside the slice do not count). The window's histogram is kept incrementally as
// it slides along each line (one column of the disk leaves, one enters); slices run in parallel.
// Otsu threshold: the level t that maximises the between-class variance of [0, t) and [t, 255]
// (the first on ties). spc is unused (the radius is in voxels). An ROI frame of one time point;
// null for bad arguments, a radius below 1 ("Radius should be at least 1") or Esc.
FRAME* VA_LocalOtzuThresholdToROI(const VA_ADAPTIVETHR* record, const FRAME* frame, const SPC* spc, int t,
                                  bool show);

// The threshold that splits the histogram of time point t inside the ROI (its time point t, or 0
// for a 3D ROI; null: every voxel) into two classes: 256 bins over the ROI's defined range,
// segmented by VA_SegHist with the method and record; the threshold is the low edge of the upper
// class's first bin. False (reported) for bad arguments, an empty ROI or a failed segmentation.
bool VA_VolSegHistSingleThreshold(int method, const VA_BIMODALSPLIT* record, const FRAME* frame, const FRAME* roi,
                                  int t, double* threshold, bool show);

// The live split of a mask: values holds one value per voxel of the mask's grid (w * h * d, x
// fastest); upper and lower are ROI frames of that grid holding the mask. Voxels below the
// threshold are cleared from upper, the others (at or above it) from lower. False for bad frames.
bool VA_ThresholdVol(const double* values, double threshold, FRAME* upper, FRAME* lower);
