#pragma once
// Calculus of piecewise-linear curves with exact closed forms.
//
// A curve is given either as values over ascending times (values[i] at times[i], linear in between)
// or as interleaved points (t0, v0, t1, v1, ...). Two points with the same time make a jump. No
// function here keeps state; arrays that a function returns are new pf_malloc blocks that the caller
// frees with pf_free.

#include "TwkTypes.h"

// Trapezoid integral of the curve over its times (exact for a piecewise-linear curve); 0 for n < 2.
double PR_CalculateIntegral(const double* values, const double* times, int n);
// Running form: out[0] = 0, out[i] = integral from times[0] to times[i]. out may not alias values.
void PR_CalculateIntegral(const double* values, const double* times, int n, double* out);

// Integral of a curve given as `count` interleaved (time, value) points.
double PR_IntegratePWL(const double* points, int count);

// Integral over the times of (a - b)^2 and of |a - b|, both curves piecewise linear on the same times.
double PR_IntegrateDiffL2_PWL(const double* a, const double* b, const double* times, int n);
double PR_IntegrateDiffL1_PWL(const double* a, const double* b, const double* times, int n);

// out[i] = integral from times[0] to times[i] of values(tau) * exp(-k * (times[i] - tau)) d tau,
// the curve piecewise linear. Exact per interval, and stable for k * dt near 0 (k = 0 gives the
// running integral) and for large k. out may alias values.
void PR_IntegralFunc_PWL_NegExp(double k, const double* values, const double* times, int n, double* out);

// Interval form over every rate in k: out[i] encloses the integral above for all k in [k.lo, k.hi].
// The bounds are exact up to a relative rounding margin (the integral is monotone in k for each
// sign of the curve). False when n < 1 or the arguments are null.
bool PR_IntegralFuncUniX_PWL_NegExp(INTERVAL k, const double* values, const double* times, int n, INTERVAL* out);

// y' = input(t) - rate * y with y(times[0]) = y0, input piecewise linear: out[i] = y(times[i]), exact.
void PR_SolveLinearFirstOrderDE_PWL(double rate, const double* input, const double* times, int n, double* out,
                                    double y0 = 0.0);

// Convolution (f * g)(t) = integral of f(tau) g(t - tau) d tau of two piecewise-linear functions given
// as interleaved points (each zero outside its first and last time), at nTimes sample times, exact
// (the convolution of two linear pieces is a cubic; it is integrated in closed form).
// False on null arguments or counts below 1; a function of one point is zero everywhere.
bool PR_ConvolutePWL(const double* pointsF, int countF, const double* pointsG, int countG, const double* times,
                     int nTimes, double* out);

// A smooth function with its second derivative: returns f(t) and writes f''(t).
using PR_ANALYTICFUNC = double (*)(void* context, double t, double* secondDerivative);

// Samples f on [breakpoints[0], breakpoints[nBreakpoints-1]] as interleaved (time, value) points so
// that linear interpolation stays within `tolerance` of f: within each piece between breakpoints
// the step h satisfies h^2 * max|f''| / 8 <= tolerance, but is never shorter than minStep (which
// bounds the point count). Breakpoints are always points. Returns a new pf_malloc array of *count
// points (2 * *count doubles), null on invalid arguments or allocation failure.
double* PR_InterpolateAnalyticFunctionD3_PWL(PR_ANALYTICFUNC f, void* context, const double* breakpoints,
                                             int nBreakpoints, double tolerance, double minStep, int* count);
