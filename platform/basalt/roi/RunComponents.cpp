#include "roi/RunComponents.h"

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>

#include <atomic>
#include <memory>
#include <new>

namespace twk::cc {

void parallelLines(int64_t lines, void (*fn)(void*, int64_t, int64_t), void* context) {
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, lines, 16),
                    [&](const tbb::blocked_range<int64_t>& r) { fn(context, r.begin(), r.end()); });
}

namespace {

// Runs of set (invert: clear) voxels of one packed line; out null only counts them.
int64_t scanLine(const uint8_t* bits, int64_t w, bool invert, Run* out) {
  int64_t n = 0;
  bool in = false;
  int64_t start = 0;
  const int64_t bytes = (w + 7) / 8;
  for (int64_t b = 0; b < bytes; ++b) {
    const uint8_t v = invert ? uint8_t(~bits[b]) : bits[b];
    const int64_t x0 = b * 8;
    if (!in && v == 0) continue;
    if (in && v == 0xFF && x0 + 8 <= w) continue;
    for (int k = 0; k < 8 && x0 + k < w; ++k) {
      const bool set = (v >> (7 - k)) & 1;
      if (set && !in) {
        in = true;
        start = x0 + k;
      } else if (!set && in) {
        if (out) out[n] = Run{int32_t(start), int32_t(x0 + k - 1)};
        ++n;
        in = false;
      }
    }
  }
  if (in) {
    if (out) out[n] = Run{int32_t(start), int32_t(w - 1)};
    ++n;
  }
  return n;
}

// Lock-free union-find whose root is the smallest index of its set: a link only ever points a
// root to a smaller index, so concurrent unions and finds stay consistent.
class UnionFind {
 public:
  explicit UnionFind(size_t n) : parent_(new std::atomic<uint32_t>[n]) {}
  void init(size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) parent_[i].store(uint32_t(i), std::memory_order_relaxed);
  }
  uint32_t find(uint32_t i) {
    for (;;) {
      uint32_t p = parent_[i].load(std::memory_order_relaxed);
      if (p == i) return i;
      const uint32_t g = parent_[p].load(std::memory_order_relaxed);
      if (g != p) parent_[i].compare_exchange_weak(p, g, std::memory_order_relaxed);  // path halving
      i = g;
    }
  }
  void unite(uint32_t a, uint32_t b) {
    for (;;) {
      a = find(a);
      b = find(b);
      if (a == b) return;
      if (a < b) std::swap(a, b);
      uint32_t expected = a;
      if (parent_[a].compare_exchange_strong(expected, b, std::memory_order_acq_rel)) return;
    }
  }

 private:
  std::unique_ptr<std::atomic<uint32_t>[]> parent_;
};

struct Neighbour {
  int dz, dy;
  int extend;  // 1: runs that touch diagonally connect too
};

std::vector<Neighbour> neighbours(int connectivity, bool twoD) {
  if (twoD) return {{0, -1, connectivity == 6 ? 0 : 1}};
  switch (connectivity) {
    case 6: return {{0, -1, 0}, {-1, 0, 0}};
    case 18: return {{0, -1, 1}, {-1, 0, 1}, {-1, -1, 0}, {-1, 1, 0}};
    default: return {{0, -1, 1}, {-1, -1, 1}, {-1, 0, 1}, {-1, 1, 1}};
  }
}

}  // namespace

bool labelRoi(const FRAME* roi, int t, int connectivity, bool twoD, bool invert, RunLabels* out,
              bool (*stop)(void*), void* stopContext) {
  if (!roi || !out || roi->type != FRM_ROI || !roi->data || t < 0 || t >= roi->dim.t) return false;
  if (connectivity != 6 && connectivity != 18 && connectivity != 26) return false;
  auto stopped = [&] { return stop && stop(stopContext); };
  try {
    RunLabels& L = *out;
    L = RunLabels{};
    L.dim = DIM3D{roi->dim.w, roi->dim.h, roi->dim.d, 1};
    const int64_t w = roi->dim.w, h = roi->dim.h, lines = h * roi->dim.d;
    L.lineStart.assign(size_t(lines) + 1, 0);

    // Pass 1: runs per line, then their offsets, then the runs themselves.
    tbb::parallel_for(tbb::blocked_range<int64_t>(0, lines, 64), [&](const tbb::blocked_range<int64_t>& r) {
      for (int64_t line = r.begin(); line < r.end(); ++line)
        L.lineStart[size_t(line) + 1] = scanLine(frameLine(roi, line % h, line / h, t), w, invert, nullptr);
    });
    for (int64_t line = 0; line < lines; ++line) L.lineStart[size_t(line) + 1] += L.lineStart[size_t(line)];
    const int64_t numRuns = L.lineStart[size_t(lines)];
    if (numRuns >= int64_t(UINT32_MAX)) return false;
    L.runs.resize(size_t(numRuns));
    if (stopped()) return false;
    tbb::parallel_for(tbb::blocked_range<int64_t>(0, lines, 64), [&](const tbb::blocked_range<int64_t>& r) {
      for (int64_t line = r.begin(); line < r.end(); ++line)
        scanLine(frameLine(roi, line % h, line / h, t), w, invert, L.runs.data() + L.lineStart[size_t(line)]);
    });
    if (stopped()) return false;

    // Pass 2: join touching runs of neighbouring lines.
    UnionFind sets(size_t(numRuns) + 1);
    tbb::parallel_for(tbb::blocked_range<size_t>(0, size_t(numRuns), 1 << 16),
                      [&](const tbb::blocked_range<size_t>& r) { sets.init(r.begin(), r.end()); });
    const std::vector<Neighbour> near = neighbours(connectivity, twoD);
    tbb::parallel_for(tbb::blocked_range<int64_t>(0, lines, 64), [&](const tbb::blocked_range<int64_t>& r) {
      for (int64_t line = r.begin(); line < r.end(); ++line) {
        const int64_t z = line / h, y = line % h;
        const int64_t a0 = L.lineStart[size_t(line)], a1 = L.lineStart[size_t(line) + 1];
        if (a0 == a1) continue;
        for (const Neighbour& nb : near) {
          const int64_t nz = z + nb.dz, ny = y + nb.dy;
          if (nz < 0 || ny < 0 || ny >= h) continue;
          const int64_t other = L.lineOf(nz, ny);
          int64_t i = a0, j = L.lineStart[size_t(other)];
          const int64_t j1 = L.lineStart[size_t(other) + 1];
          const int e = nb.extend;
          while (i < a1 && j < j1) {
            const Run& a = L.runs[size_t(i)];
            const Run& b = L.runs[size_t(j)];
            if (a.x1 + e < b.x0) {
              ++i;
            } else if (b.x1 + e < a.x0) {
              ++j;
            } else {
              sets.unite(uint32_t(i), uint32_t(j));
              if (a.x1 < b.x1) ++i;
              else ++j;
            }
          }
        }
      }
    });
    if (stopped()) return false;

    // Pass 3: number the roots in raster order (a root is its set's first run) and sum the sizes.
    L.label.resize(size_t(numRuns));
    for (int64_t i = 0; i < numRuns; ++i) {
      const uint32_t root = sets.find(uint32_t(i));
      const Run& run = L.runs[size_t(i)];
      if (root == uint32_t(i)) {
        L.label[size_t(i)] = uint32_t(L.count++);
        L.size.push_back(0);
      } else {
        L.label[size_t(i)] = L.label[root];
      }
      L.size[L.label[size_t(i)]] += run.x1 - run.x0 + 1;
    }
    return true;
  } catch (const std::bad_alloc&) {
    *out = RunLabels{};
    return false;
  }
}

int64_t largestComponent(const RunLabels& labels) {
  int64_t best = -1;
  for (int64_t c = 0; c < labels.count; ++c)
    if (best < 0 || labels.size[size_t(c)] > labels.size[size_t(best)]) best = c;
  return best;
}

std::vector<RECT3D> componentBoxes(const RunLabels& labels) {
  std::vector<RECT3D> boxes(size_t(labels.count),
                            RECT3D{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN, INT32_MIN});
  const int64_t h = labels.dim.h, lines = h * labels.dim.d;
  for (int64_t line = 0; line < lines; ++line) {
    const int32_t z = int32_t(line / h), y = int32_t(line % h);
    for (int64_t r = labels.lineStart[size_t(line)]; r < labels.lineStart[size_t(line) + 1]; ++r) {
      RECT3D& b = boxes[labels.label[size_t(r)]];
      const Run& run = labels.runs[size_t(r)];
      b.x0 = std::min(b.x0, run.x0);
      b.x1 = std::max(b.x1, run.x1);
      b.y0 = std::min(b.y0, y);
      b.y1 = std::max(b.y1, y);
      b.z0 = std::min(b.z0, z);
      b.z1 = std::max(b.z1, z);
    }
  }
  return boxes;
}

std::vector<uint8_t> componentsOnBorder(const RunLabels& labels, bool twoD) {
  std::vector<uint8_t> border(size_t(labels.count), 0);
  const int64_t w = labels.dim.w, h = labels.dim.h, d = labels.dim.d, lines = h * d;
  for (int64_t line = 0; line < lines; ++line) {
    const int64_t z = line / h, y = line % h;
    const bool edgeLine = y == 0 || y == h - 1 || (!twoD && (z == 0 || z == d - 1));
    for (int64_t r = labels.lineStart[size_t(line)]; r < labels.lineStart[size_t(line) + 1]; ++r) {
      const Run& run = labels.runs[size_t(r)];
      if (edgeLine || run.x0 == 0 || run.x1 == w - 1) border[labels.label[size_t(r)]] = 1;
    }
  }
  return border;
}

}  // namespace twk::cc
