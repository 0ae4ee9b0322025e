#pragma once
// Operations on 4D volumes (time points of a dynamic series, b-values, echo times, ...): maps over
// an interval of time points, subtraction of the first time point, aggregation of equal dynamic
// values, the mono-exponential fold of a multi-echo series, mutual information between
// consecutive time points, and trading the time axis for the depth axis.
//
// Voxel loops run in parallel in one pass over the frame, which is read in place. Void voxels
// (1e60 in real frames, 16777215 in integer ones) are left out of every sum and give void where
// no defined value is left. Frames and volumes returned are new and belong to the caller;
// failures are reported (prefix: the function's name) when show is set.

#include <cstdint>

#include "CString.h"
#include "TwkTypes.h"

class CVol;
struct VA_URALGRAD;
struct VA_VOLSMOOTH;

// V[t] - V[0] for every time point as a real frame (negatives kept; time point 0 is all 0).
// "4D volume is required" for fewer than two time points.
FRAME* VA_VolDynSubtraction(const FRAME* frame, bool show);

// Mean, maximum and trapezoid integral of each voxel over time points t0..t1 (inclusive) as a 3D
// real frame. The interval must lie in 0..T-1 with t0 <= t1: "Invalid time interval" otherwise.
FRAME* VA_VolDynamicAverage(const FRAME* frame, int t0, int t1, bool show);
FRAME* VA_VolDynamicMax(const FRAME* frame, int t0, int t1, bool show);
// The integral runs over the time points in chronological order (order[i]: the time index of the
// i-th time point by time, VA_SpecifiedDynComponentToChronoOrder) from position t0 to t1, by
// trapezoids on their times (dyn[order[i]].time, seconds).
FRAME* VA_VolDynamicIntegral(const FRAME* frame, const DYNCRD* dyn, const int* order, int t0, int t1, bool show);

// Aggregation of time points with equal values of the varying dynamic coordinate (b-value, echo
// time, ...): runs of consecutive equal values, or with all every time point of a value wherever it
// stands (groups in order of first appearance). Per voxel and group: type 0 the mean, 1 the median
// (the mean of the two middle values for an even count), 2 the residual (root mean square of the
// deviations from the mean), 3 the relative residual (residual / |mean|, 0 where the mean is 0).
// A new real volume of one time point per group, with the group's first dynamic record, the
// source's geometry, name and records of its first time point. The time coordinate itself cannot be
// aggregated ("Invalid Dynamic dimension").
CVol* VA_AggregateVolume4D(int type, bool all, const CVol* vol, bool show);

// Orders volumes by the time of their first time point (stable: equal times keep their order).
bool VA_SortVolumeArrayByTime(CVol** volumes, int n, bool show);

// Fits S(TE) = S0 exp(-TE / T2) in every voxel of an echo-time series (echo times from the
// dynamic coordinates, seconds) by log-linear least squares weighted by the squared signal, which
// is exact on model data. With a smoothing record every echo is smoothed by it first (the fit then
// runs on the smoothed copy). Voxels whose largest echo is at most airThreshold, or that do not
// decay, give S0 = 0 and T2 = 0. *s0 and *t2 get new real 3D volumes ("S0" and "T2 [s]" maps).
bool VA_FoldMultiechoVolume4D(const CVol* vol, const VA_VOLSMOOTH* smooth, double airThreshold, CVol** s0, CVol** t2,
                              bool show);

// The RMS residual of the bi-exponential diffusion model
//   S(b) = S0 ((1 - f) exp(-b Dt) + f exp(-b Dp))        (b in s/mm^2, D in mm^2/s)
// against the b-value series of base (b-values from its dynamic coordinates), voxel by voxel:
// sqrt(sum over the defined b-values of (S(b) - model)^2 / their count). Where Dp is void the
// mono-exponential S0 exp(-b Dt) is used. Without an S0 map the amplitude is the least-squares one,
// sum(S m) / sum(m^2) for the model shape m. The maps are 3D of base's width, height and depth; a
// void f, Dt or S0 gives void. A new real 3D frame; null with a named message on bad input.
FRAME* VA_RecoverIvimResidual(const CVol* base, const CVol* s0, const CVol* f, const CVol* dp, const CVol* dt,
                              bool show);

// The mean over time of every voxel less the smallest such mean (so the image starts at 0) into
// *averaged (a new real 3D frame), and its gradient: for every voxel (x fastest, then y, then z) the
// three components of the central differences per voxel step (one-sided at the grid's ends, 0
// along an axis of one voxel and next to a void voxel). A new pf_malloc array of 3 w h d doubles;
// null on bad input.
double* VA_ImageGradAverageOverTimeSubtractMin(const FRAME* frame, FRAME** averaged, bool show);

// Breast background parenchymal enhancement (BPE) of a dynamic contrast series (time point 0 the
// pre-contrast baseline, times in seconds) inside a 3D ROI of the breast tissue. For every ROI
// voxel with a baseline S0 > 0 the relative enhancement RE(t) = 100 (S(t) - S0) / S0 (percent);
// the voxel enhances when its early enhancement RE at the first post-contrast time point reaches
// the threshold percentage. The map (a new real 3D frame) holds, for every enhancing voxel, the
// least-squares slope of RE over the post-contrast time points in percent per minute (the early
// enhancement itself when there is one post-contrast point), 0 elsewhere. The report is one line
// of tab-separated values (with header, a line of their names before it):
//   ROI voxels, ROI volume (cm3), BPE voxels, BPE volume (cm3), BPE fraction (%), mean early
//   enhancement of the BPE voxels (%), mean slope of the BPE voxels (%/min)
// (means 0 without BPE voxels). Thresholds outside 0..100, fewer than two time points, an ROI of
// another size or an empty one: a named message and null.
FRAME* VA_BreastBPEmapAnalysisAndReport(const FRAME* frame, const FRAME* roi, const SPC* spc, const double* times,
                                        double threshold, bool header, CString* report, bool show = true);

// The texture gradient (VA_DetectGrad3D with the record) of every time point, its magnitude's
// largest value over time per voxel as a new real 3D frame; voxels outside the ROI (3D, may be
// null) are 0. A noise above 0 is the normalisation coefficient of magnitude measure 2 (the
// gradient relative to the noise and the local mean); otherwise the record's coefficient holds.
// Null on failure or Esc.
FRAME* VA_MSTG_Aggregate4D(const CVol* vol, const VA_URALGRAD* record, double noise, const FRAME* roi, bool show);

// The time point at which the mean of the defined voxels inside the box (voxel corners, inclusive,
// clipped to the frame) is largest; the earliest on ties. "Box is outside the volume" when the
// clipped box is empty, "4D volume is required" for a single time point.
bool VA_VolGetBoxPeak(const FRAME* frame, const RECT3D* box, int* timeIndex, bool show);

// The 4D gradient magnitude of a dynamic series, type 0 (the only one):
//   |grad V| = sqrt(Vx^2 + Vy^2 + Vz^2 + Vt^2)
// at every voxel and time point, the spatial derivatives per voxel step and the temporal one per
// second of the dynamic coordinates' times, all by central differences (one-sided at the ends;
// unequally spaced times weighted by their distance), so a series linear in x, y, z and time gives
// a constant. Neighbours run in chronological order, whatever the stored one. Voxels outside the
// ROI (3D, or of the frame's time points) and those next to a void give 0 and void. A new real
// frame of the series' size; "Times should differ" when two time points share a time.
FRAME* VA_VolBasicGradient4D(const FRAME* frame, const DYNCRD* dyn, const FRAME* roi, int type, bool show);

// Mutual information between consecutive time points, averaged over the T-1 pairs, on the voxels
// of the ROI (a 3D ROI applies to every time point; none: all voxels); measure 3 gives the mutual
// information, 4 the normalised form (H(A) + H(B)) / H(A, B). Each pair's joint histogram has 64
// bins per axis spanning each time point's smallest to largest value (numpy's histogram2d bins).
bool VA_Vol4D_CalculateMutualInfoOverROI(int measure, const FRAME* frame, const FRAME* roi, double* value, bool show);

// The mutual information (measure 3) or its normalised form (4) of n paired samples, from their
// joint histogram of 64 bins per axis spanning each sample's smallest to largest value, as
// numpy's histogram2d bins them; returned and written to value when given.
double VA_SampleMutualInfo(int measure, const double* a, const double* b, int64_t n, double* value);

// The time points laid one after the other along the depth: w x h x (d * T) x 1, time point t's
// slices at depth t * d .. t * d + d - 1 (the frame's own slice order, so the voxels are copied as
// one block).
FRAME* VA_VolumeTimeToDepth(const FRAME* frame, bool show);
// The inverse for a volume whose slice positions repeat: the period d is the first slice whose
// image position equals the first one's (within 0.001 mm), T = depth / d. "No repeating slice
// positions are found" when none does or the depth is no multiple of it.
FRAME* VA_VolumeDepthToTime(const CVol* vol, DIM3D* dims, bool show);

// n dynamic records with times 0, 1, ..., n - 1 (new pf_malloc array).
DYNCRD* VA_AllocDynCrd(int n);

// The inverse of VA_VolumeMosaicToVolumeUser: the d slices of every time point tiled row by row
// from the top left into one slice of a square grid of ceil(sqrt(d)) tiles (unused tiles 0).
FRAME* VA_VolumeUserToVolumeMosaic(const FRAME* frame, bool show);

// The standardised uptake value of a PET volume in activity concentration (units "BQML"):
//   SUV = value x patient weight (g) / injected dose (Bq) decayed to the reference time,
// the dose and its half-life, the injection time from the radiopharmaceutical information, the
// reference time by the header's decay correction: "START" the series time (the images are decay
// corrected to it), "NONE" each time point's acquisition time (no correction in the images),
// "ADMIN" the injection itself (no decay). An injection later in the day than the reference time
// was on the day before (a scan past midnight). A new real volume named with "_SUV", unit "SUV".
// Missing or zero weight, dose or half-life, another unit, or a header that cannot be read: a
// named message and null.
CVol* VA_SUVmapCalculation(const CVol* vol, bool show);
