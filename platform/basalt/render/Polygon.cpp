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
  std::vector<double> crossings;
  for (int y = ymin; y <= ymax; ++y) {
    crossings.clear();
    const double yc = y;
    for (const Edge& e : edges) {
      // Half-open in y, so that a vertex on the scan line is counted once.
      if ((e.y0 <= yc) == (e.y1 <= yc)) continue;
      crossings.push_back(e.x0 + (yc - e.y0) * (e.x1 - e.x0) / (e.y1 - e.y0));
    }
    std::sort(crossings.begin(), crossings.end());
    for (size_t k = 0; k + 1 < crossings.size(); k += 2) {
      const double a = std::max(std::ceil(crossings[k]), 0.0);
      const double b = std::min(std::floor(crossings[k + 1]), double(w - 1));
      for (double x = a; x <= b; ++x) s.set(int(x), y, fillValue != 0);
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
