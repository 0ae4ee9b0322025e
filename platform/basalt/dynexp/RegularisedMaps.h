#pragma once
// Regularised parametric maps: a model fitted over a whole masked region at once, each voxel's
// parameters drawn toward those of its neighbours as far as the voxel's own fit allows.
//
//  1. Every voxel of the mask whose curve has no void point is fitted alone: a grid and simplex
//     search (PR_OptimizeAmoebaOverGrid) over the model's bounds. Its root-mean-square error in
//     signal units, e0, is the voxel's best error.
//  2. Sweeps over the mask (all voxels from the previous sweep's values, in parallel): a voxel's
//     smoothed parameters move toward the mean of its fitted face neighbours (6 in a volume, 4 in
//     a single slice) inside the mask. The largest of the steps 1, 1/2, 1/4, 1/8 whose error stays
//     within e0 + tolerance is taken; when none does, the voxel keeps its values. The sweeps end
//     when no voxel moves, or after kSmoothSweeps sweeps.
//  Parameters that enter a model linearly (the amplitude S0 of the IVIM curve, K of the gamma
//  variate) are not smoothed: every candidate takes its least-squares amplitude. So a tolerance of 0
//  keeps the voxels' own fits (a neighbour mean is taken only where it fits as well), and a larger
//  tolerance gives smoother maps. The additional map holds each voxel's final error (RMSE, signal
//  units). Voxels outside the mask, or with a void point, read 1e60 in every map.
//
// The curves are read from the 4D frame in dynamic order when needed (no copy of the volume).
// Progress is shown; Esc stops the fit (false, silent). Other failures are reported and give false.

#include <vector>

#include "TwkTypes.h"

class CVol;

constexpr int kSmoothSweeps = 40;

// The result: real 3D frames of the volume's size, one per regularised parameter (in the order
// each fit documents), and the additional map. The holder deletes them.
struct VA_SMOOTHMAPS {
  std::vector<FRAME*> maps;
  FRAME* additional = nullptr;
  VA_SMOOTHMAPS() = default;
  VA_SMOOTHMAPS(const VA_SMOOTHMAPS&) = delete;
  VA_SMOOTHMAPS& operator=(const VA_SMOOTHMAPS&) = delete;
  ~VA_SMOOTHMAPS();
  void clear();
};

// The fitting settings: the tolerance (signal units, >= 0), the grid points per variable of the
// single-voxel search (below 2: 4) and its simplex budget (clamped to 100..2000; 0: 300).
struct VA_SMOOTHSETTINGS {
  double tolerance = 1.0;
  int grid = 0;
  int iterations = 0;
};

// The signal-to-concentration callbacks of the kinetic-model host (ConcConv.h): info holds three
// doubles that the first fills and the second reads.
using VA_SIGTOCONCFUNC = void (*)(const double* signal, int64_t n, double* conc, int64_t mode, void* info);
using VA_CONCTOSIGFUNC = void (*)(const double* conc, int64_t n, double* signal, int64_t mode, const void* info);

// IVIM along a b-value axis (s/mm^2): S(b) = S0 * ((1 - f) exp(-b Dt) + f exp(-b Dp)). freeParms are
// those of the per-voxel IVIM model: S0 noise (not used), min f, max f, min Dt, max Dt, min Dp, max Dp.
// Maps: 0 S0, 1 f, 2 Dp, 3 Dt (mm^2/s).
bool VA_SmoothMapIvimM18(const CVol* vol, const FRAME* mask, const VA_SMOOTHSETTINGS& settings,
                         const double* freeParms, VA_SMOOTHMAPS* out);

// Gamma variate along a time axis, fitted to the curve as it is: Y(t) = K u^alpha exp(-u / beta),
// u = t / Tspan, t from the first acquisition and Tspan the last such time (arrival at the first
// point). freeParms are those of the per-voxel gamma-variate model; its arrival range is not
// searched here. Maps: 0 K, 1 alpha, 2 beta.
bool VA_SmoothMapGammaVariateM52(const CVol* vol, const FRAME* mask, const VA_SMOOTHSETTINGS& settings,
                                 const double* freeParms, VA_SMOOTHMAPS* out);

// Tofts model along a time axis with Ktrans and ve smoothed: C(t) = Ktrans * integral of
// Cp(tau - delay) exp(-Ktrans/ve (t - tau)) d tau, fitted in signal units through the conversion
// callbacks (the signal of each voxel sets its baseline). input: the input function in
// concentration at ifTimes (seconds from the first acquisition). freeParms: Ktrans max (1/min),
// ve max, min and max arterial delay (s), time delta (s, the step of the delay search). The delay of
// each voxel is its own fit's. Maps: 0 Ktrans (1/min), 1 ve, 2 delay (s).
bool VA_SmoothKtransM57(const CVol* vol, const FRAME* mask, const VA_SMOOTHSETTINGS& settings,
                        const double* freeParms, const double* ifTimes, const double* input, int ifCount,
                        VA_SIGTOCONCFUNC sigToConc, VA_CONCTOSIGFUNC concToSig, VA_SMOOTHMAPS* out);

// The voxels whose every time point holds a value (not 1e60, not the void integer): a new 3D ROI
// frame, null for a frame that is not a volume.
FRAME* VA_GetNonVoidMask(const FRAME* frame);
