#pragma once
// Measures of curves and of the fit between two curves: errors, correlation, spread, the bolus
// arrival of a dynamic curve. Curves are arrays of n doubles; no function keeps state.

#include <cstdint>

// Root of the mean of (a[i] - b[i])^2; 0 for n < 1.
double PR_ComputeRMSE(const double* a, const double* b, int n);
// Sum of |a[i] - b[i]|.
double PR_FuncDistL1(const double* a, const double* b, int n);
// Pearson correlation coefficient; 0 when either curve is constant or n < 2.
double PR_Correlation(const double* a, const double* b, int n);
// Root relative squared error: sqrt(sum (fit - measured)^2 / sum (measured - mean)^2). A constant
// measured curve gives 0 for an exact fit and 1e60 otherwise.
double PR_RRSE(const double* measured, const double* fit, int n);
// The RMSE that a coefficient of determination cod implies for this curve:
// sqrt((1 - cod) * sum (curve - mean)^2 / n); cod above 1 counts as 1.
double PR_CODtoRMSE(double cod, const double* curve, int n);
// RMSE of the curve against the best constant (its mean): the population standard deviation.
double PR_FlatlineRMSE(const double* curve, int n);
// Mean of n values; the sample standard deviation (divisor n - 1, 0 for n < 2) through stdDev when
// it is not null. n < 1 gives 0.
double PR_ArrStats(const double* values, int64_t n, double* stdDev);
// True when all n values are equal (n < 2 counts as constant).
bool PR_IsConstantArray(const double* values, int n);
// Scales the values in place to a sum of squares of 1; false (values unchanged) when that sum is
// below 1e-200 or not finite.
bool PR_FuncNormalizeSumL2(double* values, int n);

// Bolus arrival of a dynamic curve. With the peak the first largest value and the baseline the
// smallest value before it, the start is the last frame before the peak whose value does not exceed
// baseline + fraction * (peak - baseline) (so the rise begins right after it). firstPassEnd
// (optional) receives the frame where the first pass ends: the first frame from the start on that
// lies above baseline + 0.5 * (peak - baseline) and is followed by a lower value (the peak frame
// when the curve keeps rising). times may be null (the frames are found by index). False when
// n < 3, fraction is not in (0, 1), a value is not finite or 1e60, or the curve never rises above
// its baseline before its peak.
bool PR_GetBolusStart(const double* curve, const double* times, int n, double fraction, int* start,
                      int* firstPassEnd = nullptr);
