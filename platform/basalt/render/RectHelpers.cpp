#include "RectHelpers.h"

#include <algorithm>
#include <cmath>

void PR_DrectNormalize(DRECT* r) {
  if (r->x0 > r->x1) std::swap(r->x0, r->x1);
  if (r->y0 > r->y1) std::swap(r->y0, r->y1);
}

bool PR_IntersectDrects(const DRECT* a, const DRECT* b, DRECT* out) {
  DRECT p = *a, q = *b;
  PR_DrectNormalize(&p);
  PR_DrectNormalize(&q);
  const DRECT r{std::max(p.x0, q.x0), std::max(p.y0, q.y0), std::min(p.x1, q.x1), std::min(p.y1, q.y1)};
  if (r.x0 > r.x1 || r.y0 > r.y1) return false;
  if (out) *out = r;
  return true;
}

bool PR_GetInnerDrect(const DRECT* bounds, double w, double h, const DRECT* world, DRECT* out) {
  DRECT b = *bounds;
  PR_DrectNormalize(&b);
  const double bw = b.x1 - b.x0, bh = b.y1 - b.y0;
  if (!(bw > 0) || !(bh > 0) || !(w > 0) || !(h > 0)) return false;
  DRECT r{(world->x0 - b.x0) * w / bw, (b.y1 - world->y1) * h / bh, (world->x1 - b.x0) * w / bw,
          (b.y1 - world->y0) * h / bh};
  PR_DrectNormalize(&r);
  *out = r;
  return true;
}

void PR_PointSetBndRect(const DPOINT* points, int n, DRECT* out) {
  DRECT r{VOID_VALUE, VOID_VALUE, -VOID_VALUE, -VOID_VALUE};
  for (int i = 0; i < n; ++i) {
    r.x0 = std::min(r.x0, points[i].x);
    r.y0 = std::min(r.y0, points[i].y);
    r.x1 = std::max(r.x1, points[i].x);
    r.y1 = std::max(r.y1, points[i].y);
  }
  *out = r;
}

namespace {

// Whether (x, y) lies inside the ellipse with centre (cx, cy) and half axes (ax, ay).
bool insideEllipse(double x, double y, double cx, double cy, double ax, double ay) {
  if (ax <= 0 || ay <= 0) return false;
  const double u = (x - cx) / ax, v = (y - cy) / ay;
  return u * u + v * v <= 1.0;
}

// Segment p-q against an axis-aligned rectangle (Liang-Barsky clipping).
bool segmentMeetsRect(DPOINT p, DPOINT q, const DRECT& r) {
  double t0 = 0, t1 = 1;
  const double dx = q.x - p.x, dy = q.y - p.y;
  const double pk[4] = {-dx, dx, -dy, dy};
  const double qk[4] = {p.x - r.x0, r.x1 - p.x, p.y - r.y0, r.y1 - p.y};
  for (int k = 0; k < 4; ++k) {
    if (pk[k] == 0) {
      if (qk[k] < 0) return false;
    } else {
      const double t = qk[k] / pk[k];
      if (pk[k] < 0) t0 = std::max(t0, t);
      else t1 = std::min(t1, t);
      if (t0 > t1) return false;
    }
  }
  return true;
}

}  // namespace

bool PR_RectIntersectEllipce(const DRECT* ellipseBounds, const DRECT* rect, bool filled) {
  DRECT e = *ellipseBounds, r = *rect;
  PR_DrectNormalize(&e);
  PR_DrectNormalize(&r);
  const double cx = (e.x0 + e.x1) / 2, cy = (e.y0 + e.y1) / 2, ax = (e.x1 - e.x0) / 2, ay = (e.y1 - e.y0) / 2;
  // The point of the rectangle nearest to the centre decides whether the areas meet.
  const double nx = std::clamp(cx, r.x0, r.x1), ny = std::clamp(cy, r.y0, r.y1);
  if (!insideEllipse(nx, ny, cx, cy, ax, ay)) {
    // A degenerate ellipse is a segment: test it as one.
    if (ax <= 0 || ay <= 0) return segmentMeetsRect({e.x0, e.y0}, {e.x1, e.y1}, r);
    return false;
  }
  if (filled) return true;
  // The outline is met unless all four corners lie inside the ellipse.
  return !(insideEllipse(r.x0, r.y0, cx, cy, ax, ay) && insideEllipse(r.x1, r.y0, cx, cy, ax, ay) &&
           insideEllipse(r.x0, r.y1, cx, cy, ax, ay) && insideEllipse(r.x1, r.y1, cx, cy, ax, ay));
}

bool PR_PolylineDrectIntersect(const DPOINT* points, int n, bool closed, double lineWidth, const DRECT* rect) {
  if (!points || n < 1) return false;
  DRECT r = *rect;
  PR_DrectNormalize(&r);
  const double half = std::max(0.0, lineWidth) / 2;
  r.x0 -= half; r.y0 -= half; r.x1 += half; r.y1 += half;
  if (n == 1) return segmentMeetsRect(points[0], points[0], r);
  for (int i = 0; i + 1 < n; ++i)
    if (segmentMeetsRect(points[i], points[i + 1], r)) return true;
  return closed && n > 2 && segmentMeetsRect(points[n - 1], points[0], r);
}

bool VA_IsEqualRect(const DRECT* a, const DRECT* b) {
  return a->x0 == b->x0 && a->y0 == b->y0 && a->x1 == b->x1 && a->y1 == b->y1;
}
