#pragma once
// The toolkit that the models share: checks of the dynamic axis and of the input functions
// against the data, relative time grids, curve arithmetic, small least-squares regressions and
// the interval-arithmetic costs of the mono- and bi-exponential fits.
//
// None of these keeps state: results go to the caller, so a model's init may keep them in its
// tables and a compute may call any of them from many threads at once. Checks that fail show one
// message box, "<function> : <message>", and return false.

#include <vector>

#include "KinmodelsApi.h"
#include "TwkTypes.h"

namespace kin {

// --- checks and time grids ---

// Checks the n values of a dynamic axis: none is 1e60, not all are equal and, for the label
// "Time" only, none is greater than the next.
bool IsValidDynamicComponent(const wchar_t* label, const double* values, int n);
// The n acquisition times relative to the first; needs at least 3 points.
bool PrepareAndCheckTimeArr(int n, std::vector<double>& relativeTimes);
// Every input function has n points whose times equal the acquisition times within 1e-6.
bool CheckIfuncTiming(const INPUTFUNC* ifuncs, int count, int n);
// The 0-based index range of a 1-based start and a length (0: the rest of the curve), inside 0..n-1.
bool RangeFromStartLength(double start1, double length, int n, int* first, int* last);
// Index of the value closest to x (the first of equal distances); 0 when n is 0.
int NearestIndex(const double* values, int n, double x);
void ScatterByIndex(const int* index, const double* src, double* dst, int n);
void TimesToMinutes(std::vector<double>& times);
// The acquisition times from the one before the first change on, relative to it.
std::vector<double> RelativeTimesFromFirstChange(const double* times, int n);

// --- curve arithmetic ---

double CurveStdDev(const double* values, int n);  // divisor n
double SumOfSquares(const double* values, bool skip, int count);
double CurveRmsDiff(const double* a, const double* b, int count);
// Exact integral of |y| for the piecewise-linear curve; without times the sum of |values|.
double IntegralAbs(const double* values, const double* times, int count);
// Distance of two curves by a distance mode: 0 sum |d|, 1 IntegralAbs of d over relativeTimes,
// 2 sum d^2, 3 zero while relative times are given, else sum d^2. A null curve counts as zero.
double CurveDiffIntegralAbs(const double* a, const double* b, int n, int mode, const double* relativeTimes);
void CumulativeTrapezoid(const double* values, const double* times, int n, double* out);
double AreaAbsTrapezoid(const double* values, const double* times, int count);
// Linear interpolation of the curve at x; values[0] at or before the first time, 1e60 beyond the last.
double InterpolateLinear(const double* times, int count, double x, const double* values);
// Largest minus smallest value; the largest through max when it is not null.
double CurveMaxSpan(const double* values, int n, double* max = nullptr);
bool IsAboveMinimum(const double* values, int n, double x);
void PairInterleave(const double* a, const double* b, int count, double* pairs);
double KeepLower(double a, double b, const double* src, double* dst);
// dst = w * table1 + (1 - w) * table2, scaled to unit Euclidean norm.
bool BlendTables(double w, const double* table1, const double* table2, int n, double* dst);

}  // namespace kin
