#pragma once
// Basic measurements of one sampled curve y(x), as the single-curve command reports them.

#include "CString.h"

// Measures the curve of n points (x ascending or not; the order of the samples is kept):
//   points, the x range, the minimum and maximum with their x, the mean of y, the area under the
//   curve by trapezoids, the full width at half maximum (between the first crossings of
//   (min + max) / 2 on either side of the maximum, linearly interpolated; "undefined" when the curve
//   does not come back down on a side), and the steepest slope dy/dx between neighbouring samples
//   with the x where it starts.
// The report holds one "name<TAB>value" line per measure. False (report empty, "<function> :
// <reason>" shown) for n < 2, null arrays, non-finite values or equal neighbouring x.
bool VA_CurveBasicMeasurement(const double* y, const double* x, int n, CString* report);
