#pragma once
// Similarity and comparison measures of two frames, and the total variation of one.
//
// Void voxels (1e60 in real frames, 16777215 in 32-bit integer frames) are left out: a voxel
// counts only when it is defined in every frame it is compared in. An ROI of one time point applies
// to every time point; otherwise it must have the time points of the volume. Failures are reported
// with the function's name when show is set.

#include <cstdint>

#include "TwkTypes.h"

// Single-measure codes (VA_SINGLEMEASURE).
enum : int32_t { VA_SINGLEMEASURE_RMSD = 0 };

// Measure of count (2) frames of equal dimensions over the ROI (null: every voxel), all time points:
// RMSD = sqrt(mean((a - b)^2)).
bool VA_VolumeSingleMeasurement(int count, const FRAME* const* frames, const FRAME* roi, int measure, double* value,
                                bool show = true);

// The voxels set in exactly one of two ROIs of equal width, height and depth, as a new ROI of the
// larger time-point count (an ROI of one time point stands for every time point; a time point one
// of them lacks counts as empty). Null on failure.
FRAME* VA_RoisXOR(const FRAME* a, const FRAME* b, bool show = true);

// Mutual information (measure 3) or normalised mutual information (4, (H(A) + H(B)) / H(A, B)) of
// the two frames at time point t (a frame of one time point is taken at 0), over the ROI; 64 bins
// per axis spanning each frame's values in the region (numpy's histogram2d).
bool VA_VolPairCalculateMutualInfoOverROI(int measure, const FRAME* a, const FRAME* b, const FRAME* roi, int t,
                                          double* value, bool show = true);

// Zero-normalised cross correlation (Pearson's r) of two 3D frames over the ROI.
bool VA_VolCalcZNCC(const FRAME* a, const FRAME* b, const FRAME* roi, double* value, bool show = true);

// Total variation, with twoD within each slice: the sum over every voxel of every slice and time
// point of sqrt(dx^2 + dy^2) with forward differences (dx = v(x+1) - v(x); 0 on the last column,
// the last row and next to a void); otherwise dz joins them.
bool VA_VolMeasureTV(bool twoD, const FRAME* frame, double* value, bool show = true);
