#include "roi/RoiShape.h"

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "itk/ItkImageViews.h"
#include "roi/RoiComponents.h"
#include "roi/RoiDistance.h"
#include "roi/RunComponents.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

namespace twk::roi {
itkv::FloatImage::Pointer distanceToSet(itkv::MaskImage* mask, const wchar_t* name, bool show);
}

namespace {

using twk::itkv::FloatImage;
using twk::itkv::MaskImage;

bool isRoi(const FRAME* f) { return f && f->type == FRM_ROI && f->data && f->bpv == 1; }

void report(const wchar_t* name, const CString& text, bool show) {
  if (show) twk::showNamedError(name, text);
}

// One slice of a frame as bytes (w x h), and back.
std::vector<uint8_t> sliceBytes(const FRAME* f, int z, int t) {
  std::vector<uint8_t> s(size_t(f->dim.w) * f->dim.h);
  for (int y = 0; y < f->dim.h; ++y) {
    const uint8_t* bits = twk::frameLine(f, y, z, t);
    for (int x = 0; x < f->dim.w; ++x) s[size_t(y) * f->dim.w + x] = twk::getBit(bits, x);
  }
  return s;
}
void setSlice(FRAME* f, int z, int t, const std::vector<uint8_t>& s) {
  for (int y = 0; y < f->dim.h; ++y) {
    uint8_t* bits = twk::frameLine(f, y, z, t);
    std::memset(bits, 0, size_t(f->lineBytes));
    for (int x = 0; x < f->dim.w; ++x)
      if (s[size_t(y) * f->dim.w + x]) twk::setBit(bits, x, true);
  }
}
bool sliceEmpty(const FRAME* f, int z, int t) {
  int64_t n = 0;
  return !VA_RoiNumVox(f, t, z, &n) || n == 0;
}

// ---- convex hull ----

struct P2 {
  double x, y;
};
double cross(const P2& o, const P2& a, const P2& b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }

std::vector<P2> hull(std::vector<P2> pts) {
  std::sort(pts.begin(), pts.end(), [](const P2& a, const P2& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
  pts.erase(std::unique(pts.begin(), pts.end(), [](const P2& a, const P2& b) { return a.x == b.x && a.y == b.y; }),
            pts.end());
  if (pts.size() < 3) return pts;
  std::vector<P2> h(2 * pts.size());
  size_t k = 0;
  for (size_t i = 0; i < pts.size(); ++i) {
    while (k >= 2 && cross(h[k - 2], h[k - 1], pts[i]) <= 0) --k;
    h[k++] = pts[i];
  }
  for (size_t i = pts.size() - 1, lower = k + 1; i > 0; --i) {
    while (k >= lower && cross(h[k - 2], h[k - 1], pts[i - 1]) <= 0) --k;
    h[k++] = pts[i - 1];
  }
  h.resize(k - 1);
  return h;
}

void hullSlice(std::vector<uint8_t>& s, int w, int h) {
  std::vector<P2> corners;
  int y0 = h, y1 = -1;
  for (int y = 0; y < h; ++y) {
    int xl = -1, xr = -1;
    for (int x = 0; x < w; ++x)
      if (s[size_t(y) * w + x]) {
        if (xl < 0) xl = x;
        xr = x;
      }
    if (xl < 0) continue;
    y0 = std::min(y0, y);
    y1 = std::max(y1, y);
    // The four edge midpoints of the outermost voxels of the row (a diamond around each centre).
    for (int x : {xl, xr}) {
      corners.push_back({x - 0.5, double(y)});
      corners.push_back({x + 0.5, double(y)});
      corners.push_back({double(x), y - 0.5});
      corners.push_back({double(x), y + 0.5});
    }
  }
  if (corners.empty()) return;
  const std::vector<P2> poly = hull(corners);
  const double eps = 1e-9;
  for (int y = y0; y <= y1; ++y) {
    // The hull's extent on the line through the voxel centres of row y.
    double lo = 1e300, hi = -1e300;
    for (size_t i = 0; i < poly.size(); ++i) {
      const P2& a = poly[i];
      const P2& b = poly[(i + 1) % poly.size()];
      if ((a.y - y) * (b.y - y) > 0) continue;
      if (a.y == b.y) {
        lo = std::min({lo, a.x, b.x});
        hi = std::max({hi, a.x, b.x});
      } else {
        const double x = a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y);
        lo = std::min(lo, x);
        hi = std::max(hi, x);
      }
    }
    for (int x = std::max(0, int(std::ceil(lo - eps))); x <= std::min(w - 1, int(std::floor(hi + eps))); ++x)
      s[size_t(y) * w + x] = 1;
  }
}

template <class Fn>
void forEachSlice(const FRAME* f, Fn&& fn) {
  const int slices = f->dim.d * f->dim.t;
  tbb::parallel_for(tbb::blocked_range<int>(0, slices, 1), [&](const tbb::blocked_range<int>& r) {
    for (int i = r.begin(); i < r.end(); ++i) fn(i % f->dim.d, i / f->dim.d);
  });
}

}  // namespace

FRAME* VA_RoiConvexHull2D(const FRAME* roi, bool show) {
  if (!isRoi(roi)) {
    report(L"VA_RoiConvexHull2D", L"ROI is required", show);
    return nullptr;
  }
  FRAME* out = VA_VolClone(roi);
  if (!out) return nullptr;
  forEachSlice(roi, [&](int z, int t) {
    if (sliceEmpty(roi, z, t)) return;
    std::vector<uint8_t> s = sliceBytes(roi, z, t);
    hullSlice(s, roi->dim.w, roi->dim.h);
    setSlice(out, z, t, s);
  });
  return out;
}

namespace {

// Signed distance of a slice (negative inside; the boundary half-way between voxels), in voxels.
bool signedDistance(const std::vector<uint8_t>& s, int w, int h, std::vector<float>* out) {
  using namespace twk::itkv;
  const DIM3D dims{w, h, 1, 1};
  auto in = newImage<uint8_t>(dims, nullptr, false);
  auto clear = newImage<uint8_t>(dims, nullptr, false);
  uint8_t* pi = in->GetBufferPointer();
  uint8_t* pc = clear->GetBufferPointer();
  for (size_t i = 0; i < s.size(); ++i) {
    pi[i] = s[i] ? 1 : 0;
    pc[i] = s[i] ? 0 : 1;
  }
  auto toRoi = twk::roi::distanceToSet(in, L"VA_RoiIntersliceMorph", false);
  auto toClear = twk::roi::distanceToSet(clear, L"VA_RoiIntersliceMorph", false);
  if (!toRoi || !toClear) return false;
  out->resize(s.size());
  const float* a = toRoi->GetBufferPointer();
  const float* b = toClear->GetBufferPointer();
  for (size_t i = 0; i < s.size(); ++i) {
    // A slice without clear voxels is inside everywhere.
    const float inside = std::isfinite(b[i]) ? b[i] : 1e6f;
    (*out)[i] = s[i] ? -(inside - 0.5f) : a[i] - 0.5f;
  }
  return true;
}

float bilinear(const std::vector<float>& m, int w, int h, double x, double y) {
  x = std::clamp(x, 0.0, double(w - 1));
  y = std::clamp(y, 0.0, double(h - 1));
  const int x0 = std::min(int(x), w - 2 < 0 ? 0 : w - 2), y0 = std::min(int(y), h - 2 < 0 ? 0 : h - 2);
  const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
  const double fx = x - x0, fy = y - y0;
  const auto at = [&](int xx, int yy) { return double(m[size_t(yy) * w + xx]); };
  return float((1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x1, y0)) + fy * ((1 - fx) * at(x0, y1) + fx * at(x1, y1)));
}

P2 centroid(const std::vector<uint8_t>& s, int w) {
  double n = 0, sx = 0, sy = 0;
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i]) {
      n += 1;
      sx += double(i % size_t(w));
      sy += double(i / size_t(w));
    }
  return n > 0 ? P2{sx / n, sy / n} : P2{0, 0};
}

// Interpolates every time point of out between its drawn slices; arc moves the maps along the
// Catmull-Rom curve through the drawn slices' centroids.
bool morphSlices(FRAME* out, bool fillFirst, bool arc, bool show) {
  const int w = out->dim.w, h = out->dim.h;
  if (fillFirst && !VA_FillSliceContours(out, false)) return false;
  twk::ProgressGuard progress(L"Interslice morph", show);
  for (int t = 0; t < out->dim.t; ++t) {
    std::vector<int> drawn;
    for (int z = 0; z < out->dim.d; ++z)
      if (!sliceEmpty(out, z, t)) drawn.push_back(z);
    std::vector<std::vector<float>> maps(drawn.size());
    std::vector<P2> centres(drawn.size());
    for (size_t k = 0; k < drawn.size(); ++k) {
      const std::vector<uint8_t> s = sliceBytes(out, drawn[k], t);
      if (!signedDistance(s, w, h, &maps[k])) return false;
      centres[k] = centroid(s, w);
    }
    for (size_t k = 0; k + 1 < drawn.size(); ++k) {
      const int za = drawn[k], zb = drawn[k + 1];
      const P2 c0 = centres[k > 0 ? k - 1 : k], c1 = centres[k], c2 = centres[k + 1];
      const P2 c3 = centres[k + 2 < drawn.size() ? k + 2 : k + 1];
      for (int z = za + 1; z < zb; ++z) {
        const double a = double(z - za) / double(zb - za);
        P2 shiftA{0, 0}, shiftB{0, 0};
        if (arc) {
          // Catmull-Rom point between c1 and c2 at a.
          const double a2 = a * a, a3 = a2 * a;
          const auto cr = [&](double p0, double p1, double p2, double p3) {
            return 0.5 * (2 * p1 + (-p0 + p2) * a + (2 * p0 - 5 * p1 + 4 * p2 - p3) * a2 + (-p0 + 3 * p1 - 3 * p2 + p3) * a3);
          };
          const P2 c{cr(c0.x, c1.x, c2.x, c3.x), cr(c0.y, c1.y, c2.y, c3.y)};
          shiftA = P2{c.x - c1.x, c.y - c1.y};
          shiftB = P2{c.x - c2.x, c.y - c2.y};
        }
        std::vector<uint8_t> s(size_t(w) * h, 0);
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            const double va = arc ? bilinear(maps[k], w, h, x - shiftA.x, y - shiftA.y) : maps[k][size_t(y) * w + x];
            const double vb =
                arc ? bilinear(maps[k + 1], w, h, x - shiftB.x, y - shiftB.y) : maps[k + 1][size_t(y) * w + x];
            s[size_t(y) * w + x] = (1 - a) * va + a * vb < 0;
          }
        setSlice(out, z, t, s);
      }
      if (!progress.Step(int64_t(k) + 1, int64_t(drawn.size()))) return false;
    }
  }
  return true;
}

}  // namespace

bool VA_RoiIntersliceMorph(FRAME* roi, bool fillFirst, bool show) {
  if (!isRoi(roi)) {
    report(L"VA_RoiIntersliceMorph", L"ROI is required", show);
    return false;
  }
  FRAME* work = VA_VolClone(roi);
  const bool ok = work && morphSlices(work, fillFirst, false, show);
  if (ok) std::memcpy(roi->data, work->data, PR_FrameMemSize(roi));
  PR_FrameDelete(&work);
  return ok;
}

FRAME* VA_RoiIntesliceArcMorph(const FRAME* roi, bool fillFirst, bool show) {
  if (!isRoi(roi)) {
    report(L"VA_RoiIntesliceArcMorph", L"ROI is required", show);
    return nullptr;
  }
  FRAME* out = VA_VolClone(roi);
  if (out && !morphSlices(out, fillFirst, true, show)) PR_FrameDelete(&out);
  return out;
}

bool VA_FormCylinderFrom2Dcontours(FRAME* roi, int mode, bool show) {
  if (!isRoi(roi) || (mode != 0 && mode != 1)) {
    report(L"VA_FormCylinderFrom2Dcontours", L"ROI is required", show);
    return false;
  }
  FRAME* filled = VA_VolClone(roi);
  if (!filled || !VA_FillSliceContours(filled, false)) {
    PR_FrameDelete(&filled);
    return false;
  }
  const int64_t sliceBytesCount = roi->lineBytes * roi->dim.h;
  std::vector<uint8_t> combined(static_cast<size_t>(sliceBytesCount));
  for (int t = 0; t < roi->dim.t; ++t) {
    bool first = true;
    std::fill(combined.begin(), combined.end(), uint8_t(0));
    for (int z = 0; z < roi->dim.d; ++z) {
      if (sliceEmpty(filled, z, t)) continue;
      const uint8_t* s = twk::frameLine(filled, 0, z, t);
      for (int64_t i = 0; i < sliceBytesCount; ++i)
        combined[size_t(i)] = first ? s[i] : mode == 0 ? uint8_t(combined[size_t(i)] | s[i]) : uint8_t(combined[size_t(i)] & s[i]);
      first = false;
    }
    if (first) continue;  // nothing drawn at this time point
    for (int z = 0; z < roi->dim.d; ++z) std::memcpy(twk::frameLine(roi, 0, z, t), combined.data(), combined.size());
  }
  PR_FrameDelete(&filled);
  return true;
}

FRAME* VA_FilterSaltPepper(const VA_SALTPEPPER* record, const FRAME* roi, bool show) {
  if (!record || !isRoi(roi)) {
    report(L"VA_FilterSaltPepper", L"ROI is required", show);
    return nullptr;
  }
  const int connectivity = record->connectivity == 6 ? 6 : 26;
  const bool twoD = record->mode2D != 0;
  FRAME* out = VA_VolClone(roi);
  if (!out) return nullptr;
  twk::ProgressGuard progress(L"Salt and pepper", show);
  for (int t = 0; t < roi->dim.t; ++t) {
    twk::cc::RunLabels labels;
    if (record->pepperRemoval) {
      if (!twk::cc::labelRoi(out, t, connectivity, twoD, false, &labels)) {
        PR_FrameDelete(&out);
        return nullptr;
      }
      // The whole time point is rewritten from the kept pieces.
      twk::cc::writeRuns(labels, out, t, true,
                         [&](uint32_t c) { return labels.size[c] >= int64_t(record->pepperThreshold); });
    }
    if (record->saltRemoval) {
      if (!twk::cc::labelRoi(out, t, connectivity, twoD, true, &labels)) {
        PR_FrameDelete(&out);
        return nullptr;
      }
      twk::cc::writeRuns(labels, out, t, false,
                         [&](uint32_t c) { return labels.size[c] < int64_t(record->saltThreshold); });
    }
    if (!progress.Step(t + 1, roi->dim.t)) {
      PR_FrameDelete(&out);
      return nullptr;
    }
  }
  return out;
}

// ---- thinning ----

namespace {

// The 3x3x3 neighbourhood as 27 flags, index (dz + 1) * 9 + (dy + 1) * 3 + (dx + 1); 13 is p.
using Cube = std::array<uint8_t, 27>;

// Components of the set voxels among those in use, under the adjacency; with seeds, only the
// components that hold a seed are counted.
int countComponents(const Cube& set, const std::array<std::vector<int>, 27>& adjacency,
                    const std::array<uint8_t, 27>& use, std::initializer_list<int> seeds = {}) {
  std::array<uint8_t, 27> seen{};
  int components = 0;
  const auto flood = [&](int s) {
    if (!use[size_t(s)] || !set[size_t(s)] || seen[size_t(s)]) return;
    ++components;
    int stack[27], top = 0;
    stack[top++] = s;
    seen[size_t(s)] = 1;
    while (top) {
      const int v = stack[--top];
      for (int n : adjacency[size_t(v)])
        if (use[size_t(n)] && set[size_t(n)] && !seen[size_t(n)]) {
          seen[size_t(n)] = 1;
          stack[top++] = n;
        }
    }
  };
  if (seeds.size() == 0) {
    for (int s = 0; s < 27; ++s) flood(s);
  } else {
    for (int s : seeds) flood(s);
  }
  return components;
}

Cube complement(const Cube& c) {
  Cube clear{};
  for (size_t i = 0; i < 27; ++i) clear[i] = !c[i];
  clear[13] = 0;
  return clear;
}

struct Topology {
  std::array<std::vector<int>, 27> adj26, adj6;
  std::array<uint8_t, 27> all26{}, n18{};
  std::array<std::vector<int>, 27> adj8, adj4;  // in-plane (dz = 0)
  std::array<uint8_t, 27> plane{};
  Topology() {
    for (int i = 0; i < 27; ++i) {
      const int x = i % 3 - 1, y = i / 3 % 3 - 1, z = i / 9 - 1;
      all26[size_t(i)] = i != 13;
      n18[size_t(i)] = i != 13 && std::abs(x) + std::abs(y) + std::abs(z) <= 2;
      plane[size_t(i)] = i != 13 && z == 0;
      for (int j = 0; j < 27; ++j) {
        if (j == i) continue;
        const int dx = std::abs(j % 3 - 1 - x), dy = std::abs(j / 3 % 3 - 1 - y), dz = std::abs(j / 9 - 1 - z);
        if (dx > 1 || dy > 1 || dz > 1) continue;
        adj26[size_t(i)].push_back(j);
        if (dx + dy + dz == 1) adj6[size_t(i)].push_back(j);
        if (dz == 0) adj8[size_t(i)].push_back(j);
        if (dz == 0 && dx + dy == 1) adj4[size_t(i)].push_back(j);
      }
    }
  }
  // Simple in 3D: one 26-component of the ROI in N26 - p, and one 6-component of the clear voxels
  // of N18 that touches p's six faces.
  bool simple3D(const Cube& c) const {
    return countComponents(c, adj26, all26) == 1 &&
           countComponents(complement(c), adj6, n18, {4, 10, 12, 14, 16, 22}) == 1;
  }
  // Simple in a slice: one 8-component of the ROI and one 4-component of the clear voxels around p.
  bool simple2D(const Cube& c) const {
    return countComponents(c, adj8, plane) == 1 && countComponents(complement(c), adj4, plane, {10, 12, 14, 16}) == 1;
  }
};

// Thins a w x h x d byte volume in place (flat: only in-plane neighbours count).
void thin(std::vector<uint8_t>& v, int w, int h, int d, bool flat) {
  static const Topology topo;
  const auto at = [&](int x, int y, int z) -> uint8_t {
    if (x < 0 || y < 0 || z < 0 || x >= w || y >= h || z >= d) return 0;
    return v[(size_t(z) * h + y) * w + x];
  };
  const int directions[6][3] = {{0, -1, 0}, {0, 1, 0}, {1, 0, 0}, {-1, 0, 0}, {0, 0, 1}, {0, 0, -1}};
  bool changed = true;
  while (changed) {
    changed = false;
    for (const auto& dir : directions) {
      if (flat && dir[2] != 0) continue;
      std::vector<size_t> candidates;
      for (int z = 0; z < d; ++z)
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x)
            if (at(x, y, z) && !at(x + dir[0], y + dir[1], z + dir[2])) candidates.push_back((size_t(z) * h + y) * w + x);
      for (size_t idx : candidates) {
        const int x = int(idx % size_t(w)), y = int(idx / size_t(w) % size_t(h)), z = int(idx / (size_t(w) * h));
        Cube c{};
        int neighbours = 0;
        for (int i = 0; i < 27; ++i) {
          const int dx = i % 3 - 1, dy = i / 3 % 3 - 1, dz = i / 9 - 1;
          if (flat && dz != 0) continue;
          c[size_t(i)] = at(x + dx, y + dy, z + dz);
          if (i != 13) neighbours += c[size_t(i)];
        }
        if (neighbours <= 1) continue;  // a curve end stays
        if (flat ? topo.simple2D(c) : topo.simple3D(c)) {
          v[idx] = 0;
          changed = true;
        }
      }
    }
  }
}

}  // namespace

FRAME* VA_RoiMakeMiddlePlain(const FRAME* roi, double reserved, const void* unused, bool perSlice) {
  (void)reserved;
  (void)unused;
  if (!isRoi(roi)) return nullptr;
  const int w = roi->dim.w, h = roi->dim.h, d = roi->dim.d;
  std::vector<uint8_t> v(size_t(w) * h * d);
  for (int z = 0; z < d; ++z) {
    const std::vector<uint8_t> s = sliceBytes(roi, z, 0);
    std::copy(s.begin(), s.end(), v.begin() + long(size_t(z) * w * h));
  }
  if (perSlice) {
    tbb::parallel_for(0, d, [&](int z) {
      std::vector<uint8_t> s(v.begin() + long(size_t(z) * w * h), v.begin() + long(size_t(z + 1) * w * h));
      thin(s, w, h, 1, true);
      std::copy(s.begin(), s.end(), v.begin() + long(size_t(z) * w * h));
    });
  } else {
    thin(v, w, h, d, false);
  }
  FRAME* out = PR_FrameCreate(FRM_ROI, 1, DIM3D{w, h, d, 1}, true);
  if (!out) return nullptr;
  for (int z = 0; z < d; ++z)
    setSlice(out, z, 0, std::vector<uint8_t>(v.begin() + long(size_t(z) * w * h), v.begin() + long(size_t(z + 1) * w * h)));
  return out;
}

namespace {

// Ridge voxels (local maxima of the depth map) and their mean depth, or the medial axis: the
// centres of maximal balls, taken from the deepest down; a centre already inside a painted ball at
// least as deep adds nothing and is dropped (this prunes the grid's small surface balls), the
// others paint their ball, and the mean depth is the mean painted radius over the ROI.
FRAME* medialVoxels(const wchar_t* name, const FRAME* roi, const SPC* spc, bool blum, double* averageDepth, bool show) {
  if (!isRoi(roi)) {
    report(name, L"ROI is required", show);
    return nullptr;
  }
  FRAME* depth = VA_RoiInsideDistance(roi, 0, spc, show);
  if (!depth) return nullptr;
  const int w = roi->dim.w, h = roi->dim.h, d = roi->dim.d;
  const double* m = reinterpret_cast<const double*>(depth->data);
  const SPC s = spc ? *spc : SPC{1, 1, 1};
  FRAME* out = PR_FrameCreate(FRM_ROI, 1, DIM3D{w, h, d, 1}, true);
  if (!out) {
    PR_FrameDelete(&depth);
    return nullptr;
  }
  const auto index = [&](int x, int y, int z) { return (size_t(z) * h + y) * w + x; };
  std::vector<size_t> kept;
  for (int z = 0; z < d; ++z)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const double dp = m[index(x, y, z)];
        if (dp <= 0) continue;
        bool keep = true;
        for (int i = 0; i < 27 && keep; ++i) {
          if (i == 13) continue;
          const int dx = i % 3 - 1, dy = i / 3 % 3 - 1, dz = i / 9 - 1;
          const int nx = x + dx, ny = y + dy, nz = z + dz;
          if (nx < 0 || ny < 0 || nz < 0 || nx >= w || ny >= h || nz >= d) continue;
          const double dq = m[index(nx, ny, nz)];
          if (blum) {
            const double step = std::sqrt(dx * dx * s.x * s.x + dy * dy * s.y * s.y + dz * dz * s.z * s.z);
            keep = dq < dp + step - 1e-6;
          } else {
            keep = dq <= dp;
          }
        }
        if (keep) kept.push_back(index(x, y, z));
      }
  double sum = 0;
  int64_t count = 0;
  if (!blum) {
    for (size_t i : kept) {
      twk::setRoiBit(out, int64_t(i % size_t(w)), int64_t(i / size_t(w) % size_t(h)), int64_t(i / (size_t(w) * h)), 0, true);
      sum += m[i];
      ++count;
    }
  } else {
    std::sort(kept.begin(), kept.end(), [&](size_t a, size_t b) { return m[a] > m[b]; });
    std::vector<double> painted(size_t(w) * h * d, 0.0);
    for (size_t c : kept) {
      const double r = m[c];
      if (painted[c] >= r - 1e-9) continue;
      const int cx = int(c % size_t(w)), cy = int(c / size_t(w) % size_t(h)), cz = int(c / (size_t(w) * h));
      twk::setRoiBit(out, cx, cy, cz, 0, true);
      const int rx = int(r / s.x), ry = int(r / s.y), rz = int(r / s.z);
      for (int z = std::max(0, cz - rz); z <= std::min(d - 1, cz + rz); ++z)
        for (int y = std::max(0, cy - ry); y <= std::min(h - 1, cy + ry); ++y)
          for (int x = std::max(0, cx - rx); x <= std::min(w - 1, cx + rx); ++x) {
            const double ex = (x - cx) * s.x, ey = (y - cy) * s.y, ez = (z - cz) * s.z;
            if (ex * ex + ey * ey + ez * ez < r * r) {
              double& p = painted[index(x, y, z)];
              p = std::max(p, r);
            }
          }
    }
    for (size_t i = 0; i < painted.size(); ++i)
      if (m[i] > 0) {
        sum += painted[i];
        ++count;
      }
  }
  PR_FrameDelete(&depth);
  if (averageDepth) *averageDepth = count ? sum / double(count) : 0.0;
  return out;
}

}  // namespace

FRAME* VA_RoiMAT(const FRAME* roi, const SPC* spc, double reserved, double* averageDepth, bool show) {
  (void)reserved;
  return medialVoxels(L"VA_RoiMAT", roi, spc, false, averageDepth, show);
}

FRAME* VA_MAT3D_Blums(const FRAME* roi, const SPC* spc, double reserved, double* averageDepth, bool show) {
  (void)reserved;
  return medialVoxels(L"VA_MAT3D_Blums", roi, spc, true, averageDepth, show);
}

FRAME* VA_RoiConvert3Dto4D(const FRAME* roi, int t, const DIM3D* dims) {
  if (!isRoi(roi) || !dims || roi->dim.t != 1 || dims->w != roi->dim.w || dims->h != roi->dim.h ||
      dims->d != roi->dim.d || dims->t < 1 || t < 0 || t >= dims->t)
    return nullptr;
  FRAME* out = PR_FrameCreate(FRM_ROI, 1, *dims, true);
  if (!out) return nullptr;
  const RECT3D whole{0, 0, 0, roi->dim.w - 1, roi->dim.h - 1, roi->dim.d - 1};
  if (!VA_VolSetBox(out, t, &whole, roi, 0, &whole)) PR_FrameDelete(&out);
  return out;
}
