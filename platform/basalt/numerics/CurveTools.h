#pragma once
// Time grids, resampling and shifting of curves, and small curve models used by the kinetic models.
// Curves are values over ascending times and linear in between; outside their first and last time
// they hold their end values. Arrays that a function returns are new pf_malloc blocks the caller
// frees with pf_free; null means invalid arguments or failed allocation.

#include <cstdint>

struct INPUTFUNC;  // the host's input-function record (DynExp.h)

// times[i] - times[0].
double* PR_MakeRelativeArr(const double* times, int n);
// A uniform grid from times[0] to at least times[n-1] whose step is the smallest positive difference
// of consecutive times (coarsened so that the grid holds at most 20000 points); its size in *m.
double* PR_MakeUniformSamplingArray(const double* times, int n, int* m);
// The curve (values over times, n points) at the m new times. With validate set, times must ascend
// and every value and time must be finite and not 1e60, else null.
double* PR_ResampleFunction(const double* values, const double* times, int n, const double* newTimes, int m,
                            bool validate);
// The input function at the n relative times; null when it has no points or its times do not ascend.
double* PR_PrepareInputFunc(const INPUTFUNC* input, const double* times, int n);
// The curve shifted later by delay seconds on the same times: out[i] = curve(times[i] - delay).
double* PR_DelayThisFunction(const double* values, const double* times, int n, double delay);
// out[i] = times[i] + delay: resampling a curve from these times onto a grid delays it by `delay`.
void PR_GetDelayedTimes(const double* times, int n, double delay, double* out);
// Sorts the curve by its dynamic coordinate (ascending, stable) into sortedValues and sortedAxis;
// either output may alias its input. False on null arguments.
bool PR_SortByDynamicComponent(const double* values, const double* axis, double* sortedValues, double* sortedAxis,
                               int n);
// Point-wise mean of nCurves curves of n points, skipping values of 1e60 or not finite; a point with
// no valid value becomes 1e60. False on null arguments.
bool PR_AverageOfCurves(const double* const* curves, int nCurves, int n, double* out);
// The distinct values in order of first appearance, written to `distinct` (room for n values) when
// it is not null; returns their count.
int PR_ExtractDiffentVals(const double* values, int n, double* distinct);
// Tofts curve on the times: ktrans * integral of Cp(tau - delay) exp(-ktrans/ve (t - tau)) d tau,
// Cp the input function over the same times. Null when |ve| < 1e-100.
double* PR_MakeModel_Ktrans2P(const double* input, const double* times, int n, double ktrans, double ve,
                              double delay);
// The curve fitted by a stretched copy of the input function, a * input(t / s) with a >= 0 and s in
// [0.25, 4] (the vessel hypothesis: the curve is the input itself, scaled and slowed or hastened).
// Returns the fitted curve (n points); the amplitude and stretch through the optional pointers.
double* PR_StretchFit(const double* curve, const double* times, const double* input, int n, double* amplitude,
                      double* stretch);
