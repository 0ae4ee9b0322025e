// Even-odd polygon fill and outline into one-bit slices.

#include "render/Polygon.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

struct BitSlice {
  uint8_t* bits;
  int w, h;
  int64_t lineBytes;
  void set(int x, int y, bool on) const {
    if (x < 0 || y < 0 || x >= w || y >= h) return;
    uint8_t& byte = bits[int64_t(y) * lineBytes + x / 8];
    const uint8_t mask = uint8_t(0x80 >> (x % 8));
    byte = on ? uint8_t(byte | mask) : uint8_t(byte & ~mask);
  }
  // Pixels a..b (inclusive, within the row) of row y, whole bytes at a time.
  void span(int a, int b, int y, bool on) const {
    uint8_t* row = bits + int64_t(y) * lineBytes;
    while (a <= b && a % 8 != 0) set(a++, y, on);
    while (b >= a && b % 8 != 7) set(b--, y, on);
    if (a <= b) std::fill(row + a / 8, row + b / 8 + 1, on ? uint8_t(0xFF) : uint8_t(0));
  }
};

// The pixels of a segment, one per step along its major axis (both ends included), walked only
// over the slice's extent along that axis.
void line(const BitSlice& s, POINT2D a, POINT2D b, bool on) {
  const double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
  if (std::fabs(dx) >= std::fabs(dy)) {
    if (dx == 0) {
      s.set(a.x, a.y, on);
      return;
    }
    const double lo = std::max(std::min(double(a.x), double(b.x)), 0.0);
    const double hi = std::min(std::max(double(a.x), double(b.x)), double(s.w - 1));
    for (double x = lo; x <= hi; ++x) s.set(int(x), int(std::floor(a.y + (x - a.x) * dy / dx + 0.5)), on);
  } else {
    const double lo = std::max(std::min(double(a.y), double(b.y)), 0.0);
    const double hi = std::min(std::max(double(a.y), double(b.y)), double(s.h - 1));
    for (double y = lo; y <= hi; ++y) s.set(int(std::floor(a.x + (y - a.y) * dx / dy + 0.5)), int(y), on);
  }
}

}  // namespace

bool PR_DrawPolypolygon(uint8_t* bits, int w, int h, const POINT2D* vertices, const int* counts, int n,
                        int outlineValue, int fillValue) {
  if (!bits || !vertices || !counts || w < 1 || h < 1 || n < 0) return false;
  const BitSlice s{bits, w, h, int64_t((w + 15) / 16) * 2};
  int64_t total = 0;
  for (int i = 0; i < n; ++i) {
    if (counts[i] < 0) return false;
    total += counts[i];
  }
  // Every edge of every polygon, for the one even-odd scan of all of them.
  struct Edge {
    double x0, y0, x1, y1;
  };
  std::vector<Edge> edges;
  edges.reserve(size_t(total));
  int64_t first = 0;
  int ymin = h, ymax = -1;
  for (int i = 0; i < n; ++i) {
    const int c = counts[i];
    for (int k = 0; k < c; ++k) {
      const POINT2D& a = vertices[first + k];
      const POINT2D& b = vertices[first + (k + 1) % c];
      edges.push_back(Edge{double(a.x), double(a.y), double(b.x), double(b.y)});
      ymin = std::min(ymin, a.y);
      ymax = std::max(ymax, a.y);
    }
    first += c;
  }
  ymin = std::max(ymin, 0);
  ymax = std::min(ymax, h - 1);
  if (ymax >= ymin) {
    // Each edge adds its crossing to the rows it spans (half-open in y, so that a vertex on a row is
    // counted once): the work follows the outline's length, not rows times edges.
    std::vector<std::vector<double>> rows(size_t(ymax - ymin + 1));
    for (const Edge& e : edges) {
      if (e.y0 == e.y1) continue;
      const int lo = std::max(int(std::min(e.y0, e.y1)), ymin), hi = std::min(int(std::max(e.y0, e.y1)) - 1, ymax);
      // The same arithmetic for every row, so that a crossing on a pixel centre lands exactly on it.
      for (int y = lo; y <= hi; ++y)
        rows[size_t(y - ymin)].push_back(e.x0 + (double(y) - e.y0) * (e.x1 - e.x0) / (e.y1 - e.y0));
    }
    for (int y = ymin; y <= ymax; ++y) {
      std::vector<double>& crossings = rows[size_t(y - ymin)];
      std::sort(crossings.begin(), crossings.end());
      for (size_t k = 0; k + 1 < crossings.size(); k += 2) {
        const double a = std::max(std::ceil(crossings[k]), 0.0);
        const double b = std::min(std::floor(crossings[k + 1]), double(w - 1));
        if (a <= b) s.span(int(a), int(b), y, fillValue != 0);
      }
    }
  }
  const int edgeValue = outlineValue >= 0 ? outlineValue : fillValue;
  first = 0;
  for (int i = 0; i < n; ++i) {
    const int c = counts[i];
    for (int k = 0; k < c; ++k) line(s, vertices[first + k], vertices[first + (k + 1) % c], edgeValue != 0);
    first += c;
  }
  return true;
}
