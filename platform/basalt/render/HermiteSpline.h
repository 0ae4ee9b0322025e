#pragma once
// Cardinal cubic Hermite splines through 2D control points, as the polyline objects draw and
// hit-test them. The tangent at a point is (1 - tension) times half the difference of its
// neighbours (tension 0: a Catmull-Rom spline; tension 1: straight segments); an open curve's end
// tangents are (1 - tension) times its first and last chords.

#include "TwkTypes.h"

// Samples the spline through n points: every segment is cut into ceil(chord length / step) pieces
// (at least 1, at most 4096; |step| < 1e-100 means 0.1). The result holds the first point, every
// sample and the last point (a closed curve ends on the sample before its first point again) in a
// new pf_malloc array of *outCount points. kind selects the spline family; only 0, the cardinal
// spline, exists. n = 1 gives that point; null for n < 1 or no memory.
DPOINT* PR_CubicHermiteSpline2D(bool closed, int kind, double tension, const DPOINT* points, int n, double step,
                                int* outCount);

// Inserts a point into the control points of a spline: the point goes between the two control
// points of the segment whose sampled curve passes nearest to it (after the last point of an open
// curve when its end is nearer than any segment). *points is a pf_malloc array that grows by one.
// False for a null array, n < 1 or no memory (the points are left as they were).
bool PR_CubicHermiteSpline2D_InsertPoint(DPOINT** points, int* n, DPOINT point, bool closed, double tension);
