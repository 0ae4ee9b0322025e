#include "HermiteSpline.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "TwkMem.h"

namespace {

DPOINT tangent(const DPOINT* p, int n, int i, bool closed, double tension) {
  const double k = 1.0 - tension;
  if (n < 2) return {0, 0};
  if (closed) {
    const DPOINT& a = p[(i - 1 + n) % n];
    const DPOINT& b = p[(i + 1) % n];
    return {k * (b.x - a.x) / 2, k * (b.y - a.y) / 2};
  }
  if (i == 0) return {k * (p[1].x - p[0].x), k * (p[1].y - p[0].y)};
  if (i == n - 1) return {k * (p[n - 1].x - p[n - 2].x), k * (p[n - 1].y - p[n - 2].y)};
  return {k * (p[i + 1].x - p[i - 1].x) / 2, k * (p[i + 1].y - p[i - 1].y) / 2};
}

DPOINT hermite(DPOINT p0, DPOINT m0, DPOINT p1, DPOINT m1, double t) {
  const double t2 = t * t, t3 = t2 * t;
  const double h00 = 2 * t3 - 3 * t2 + 1, h10 = t3 - 2 * t2 + t, h01 = -2 * t3 + 3 * t2, h11 = t3 - t2;
  return {h00 * p0.x + h10 * m0.x + h01 * p1.x + h11 * m1.x, h00 * p0.y + h10 * m0.y + h01 * p1.y + h11 * m1.y};
}

// Samples of segment i (from point i to point i+1, wrapping for a closed curve), without its end.
void sampleSegment(const DPOINT* p, int n, int i, bool closed, double tension, double step, std::vector<DPOINT>& out) {
  const int j = (i + 1) % n;
  const DPOINT m0 = tangent(p, n, i, closed, tension), m1 = tangent(p, n, j, closed, tension);
  const double chord = std::hypot(p[j].x - p[i].x, p[j].y - p[i].y);
  const double pieces = std::clamp(std::ceil(chord / step), 1.0, 4096.0);
  const int count = int(pieces);
  for (int s = 0; s < count; ++s) out.push_back(hermite(p[i], m0, p[j], m1, double(s) / count));
}

std::vector<DPOINT> sample(bool closed, double tension, const DPOINT* p, int n, double step) {
  std::vector<DPOINT> out;
  if (std::fabs(step) < 1e-100) step = 0.1;
  step = std::fabs(step);
  if (n == 1) {
    out.push_back(p[0]);
    return out;
  }
  const int segments = closed && n > 2 ? n : n - 1;
  for (int i = 0; i < segments; ++i) sampleSegment(p, n, i, closed && n > 2, tension, step, out);
  if (!(closed && n > 2)) out.push_back(p[n - 1]);
  return out;
}

double distanceToSegment(DPOINT p, DPOINT a, DPOINT b) {
  const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

}  // namespace

DPOINT* PR_CubicHermiteSpline2D(bool closed, int /*kind*/, double tension, const DPOINT* points, int n, double step,
                                int* outCount) {
  if (outCount) *outCount = 0;
  if (!points || n < 1 || !outCount) return nullptr;
  const std::vector<DPOINT> s = sample(closed, tension, points, n, step);
  auto* out = static_cast<DPOINT*>(pf_malloc(int64_t(s.size() * sizeof(DPOINT))));
  if (!out) return nullptr;
  std::copy(s.begin(), s.end(), out);
  *outCount = int(s.size());
  return out;
}

bool PR_CubicHermiteSpline2D_InsertPoint(DPOINT** points, int* n, DPOINT point, bool closed, double tension) {
  if (!points || !*points || !n || *n < 1) return false;
  const DPOINT* p = *points;
  const int count = *n;
  int insertAt = count;  // after the last point
  if (count >= 2) {
    const bool wrap = closed && count > 2;
    const int segments = wrap ? count : count - 1;
    double best = VOID_VALUE;
    for (int i = 0; i < segments; ++i) {
      std::vector<DPOINT> s;
      sampleSegment(p, count, i, wrap, tension, 0.1, s);
      s.push_back(p[(i + 1) % count]);
      for (size_t k = 0; k + 1 < s.size(); ++k) {
        const double d = distanceToSegment(point, s[k], s[k + 1]);
        if (d < best) {
          best = d;
          insertAt = i + 1;
        }
      }
    }
    if (!wrap) {
      // Beyond the ends of an open curve the point extends it instead.
      const double toFirst = std::hypot(point.x - p[0].x, point.y - p[0].y);
      const double toLast = std::hypot(point.x - p[count - 1].x, point.y - p[count - 1].y);
      if (insertAt == 1 && toFirst <= best + 1e-12 && toFirst < toLast) insertAt = 0;
      else if (insertAt == count - 1 && toLast <= best + 1e-12) insertAt = count;
    }
  }
  if (!pf_realloc(points, int64_t(count + 1) * int64_t(sizeof(DPOINT)))) return false;
  DPOINT* q = *points;
  for (int i = count; i > insertAt; --i) q[i] = q[i - 1];
  q[insertAt] = point;
  *n = count + 1;
  return true;
}
