#pragma once
// Plane geometry helpers of the display: world rectangles (DRECT, y upwards: y0 the lower and y1
// the upper edge), their intersection and normalisation, the mapping of a world rectangle into the
// voxel units of a displayed picture, bounding boxes of point sets, and the hit tests of ellipses and
// polylines against rectangles. All functions accept rectangles in either corner order unless said.

#include <cstdint>

#include "TwkTypes.h"

// An integer rectangle with inclusive edges, as client rectangles and film tiles are given.
#pragma pack(push, 1)
struct RECT2D {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};
// An integer point, as client pixels are given.
struct POINT2D {
  int32_t x = 0, y = 0;
};
#pragma pack(pop)

// Orders the corners so that x0 <= x1 and y0 <= y1.
void PR_DrectNormalize(DRECT* r);

// Intersection of two rectangles (normalised first). Rectangles that only touch intersect in a
// rectangle of zero extent. False when they are apart; out may be null or one of the inputs.
bool PR_IntersectDrects(const DRECT* a, const DRECT* b, DRECT* out);

// Maps a world rectangle into the units of a picture of w x h units that fills the world rectangle
// bounds: x to the right from bounds.x0, y downwards from the upper edge bounds.y1. The result is
// normalised. False for degenerate bounds or sizes.
bool PR_GetInnerDrect(const DRECT* bounds, double w, double h, const DRECT* world, DRECT* out);

// Bounding box of n points; n < 1 gives the empty box from 1e60 to -1e60.
void PR_PointSetBndRect(const DPOINT* points, int n, DRECT* out);

// Whether a rectangle meets an ellipse inscribed in the rectangle ellipseBounds. Filled: the
// ellipse's area counts; otherwise only its outline (a rectangle wholly inside the ellipse misses).
bool PR_RectIntersectEllipce(const DRECT* ellipseBounds, const DRECT* rect, bool filled);

// Whether a polyline of n points (closed: the last point joins the first) with the given line width
// passes through a rectangle; the rectangle is widened by half the line width on every side.
bool PR_PolylineDrectIntersect(const DPOINT* points, int n, bool closed, double lineWidth, const DRECT* rect);

// Exact equality of two rectangles.
bool VA_IsEqualRect(const DRECT* a, const DRECT* b);
