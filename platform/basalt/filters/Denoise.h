#pragma once
// Denoising of the imaging core: non-local means (NLM, and NLM-D with 4D patches), the temporal
// shape means family (TSM) for 4D series, the incoherence map of a series and the removal of
// slice streaks.
//
// Non-local means: each voxel becomes the weighted mean of the voxels within the search radius
// (a cube of 2 s + 1 voxels a side; a square in its slice without "use 3D"), each weighed by the
// similarity of the patches (cubes of 2 p + 1 a side) around the two voxels:
//   w = exp(-max(d2 - 2 sigma^2, 0) / h^2),  h = noise coefficient x noise sigma,
// d2 the mean squared difference of the patches; weights below exp(-5) are dropped. The volume is
// mirrored at its borders. NLM-D takes its d2 over the patches of all time points and gives every
// time point the same weights. Void voxels stay void and weigh nothing.

#include <cstdint>

#include "TwkTypes.h"

class CVol;

#pragma pack(push, 1)
// "Non-local Means Denoising" (25 bytes); the TSM commands read sigma and the coefficient, STSM
// the search radius as its temporal group size.
struct VA_NLMDENOISE {
  uint8_t use3D = 1;
  int32_t patchRadius = 2;    // voxels
  int32_t searchRadius = 10;  // voxels; temporal group size in STSM
  double sigma = 10.0;        // noise sigma
  double coefficient = 0.5;   // h = coefficient x sigma
};
#pragma pack(pop)
static_assert(sizeof(VA_NLMDENOISE) == 25, "VA_NLMDENOISE is 25 bytes");

// NLM of time point t (-1: every time point on its own); a new frame of the operand's kind with
// every time point (those not asked for copied). Null on failure or Esc.
FRAME* VA_VolDenoiseNLM(const VA_NLMDENOISE* record, const FRAME* frame, const SPC* spc, int t, bool show);
// NLM-D of a 4D frame: one weight set from the 4D patches for all time points.
FRAME* VA_VolDenoiseNLMD(const VA_NLMDENOISE* record, const FRAME* frame, const SPC* spc, bool show);

// The second-order temporal incoherence of a 4D volume (at least 3 time points) whose time points
// are delta seconds apart: per voxel the root mean square of the second time derivative,
// (v[t+1] - 2 v[t] + v[t-1]) / delta^2, over the inner time points (map), and the same mean square
// over 6 times the voxel's temporal variance (second: dimensionless, 1 in expectation for white
// noise). A ramp in time gives 0 in both. New real frames of one time point; voids stay void.
bool VA_VolIncoherence2map(const CVol* vol, double delta, FRAME** map, FRAME** second, bool show);

// Removes slice streaks: the gain of every slice against its neighbours (the median of the log
// ratios over the voxels above a tenth of the time point's 99th percentile) is estimated on time
// point t, the gains are solved along the slices (their mean and linear trend left to the
// anatomy) and every time point is divided by them. A new frame of the operand's kind; null on
// failure (fewer than 3 slices, a bad time point).
FRAME* VA_VolRemoveSliceStreaks(const FRAME* frame, int t, bool show);

// Temporal shape means (TSM) of a 4D volume: each curve c_i (its values over the time points)
// becomes the weighted mean of the curves alike to it in shape and level,
//   c_i' = sum_j w_ij c_j / sum_j w_ij,  w_ij = exp(-max(D2 - 2 sigma^2, 0) / h^2),
//   D2 = mean_t (c_i - c_j)^2,  h = coefficient x sigma (weights below exp(-5) dropped).
// The candidates j of a curve are the 512 curves nearest to it along the curves' first principal
// component (a sort, not a search over all pairs), itself included. Only voxels of the ROI (3D,
// may be null: every voxel with a defined curve) change and count. The result is a new real frame
// of the volume's size. Null on failure or Esc.
FRAME* VA_VolTemporalShapeMeans(const VA_NLMDENOISE* record, const FRAME* frame, const FRAME* roi, bool show);
// Space-temporal shape means: TSM on temporal groups of the record's group size (search radius
// field, at least 2; the last group takes the rest), the candidates joined by the curves of the 26
// spatial neighbours. model: null.
FRAME* VA_VolSpaceTemporalShapeMeans(const VA_NLMDENOISE* record, const FRAME* frame, const FRAME* roi,
                                     const FRAME* model, bool show);
// Model-based TSM: the weights and candidates come from the curves of the model frame (real, at
// least 2 time points, the volume's width, height and depth), the averaging from the volume's.
FRAME* VA_VolModelBasedTemporalShapeMeans(const VA_NLMDENOISE* record, const FRAME* frame, const FRAME* roi,
                                          const FRAME* model, bool show);
// Complex TSM: one weight set from the real and imaginary curves together; the result is the
// magnitude of the denoised complex curves (a new real frame).
FRAME* VA_ComplexVolTemporalShapeMeans(const VA_NLMDENOISE* record, const FRAME* real, const FRAME* imaginary,
                                       const FRAME* roi, bool show);
