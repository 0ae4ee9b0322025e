#include "roi/MaskDistance.h"

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>

#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace twk::maskdist {

namespace {

constexpr float kFar = std::numeric_limits<float>::infinity();

// One line of squared distances (stride apart) replaced by min over q of ((p - q) s)^2 + f(q),
// sites with f beyond cap left out; scratch for n sites and n + 1 bounds.
void line(float* f, int64_t stride, int n, double s, double cap, std::vector<double>& in, std::vector<int>& v,
          std::vector<double>& z) {
  for (int q = 0; q < n; ++q) in[size_t(q)] = f[q * stride];
  int k = -1;
  for (int q = 0; q < n; ++q) {
    if (!(in[size_t(q)] <= cap)) continue;
    const double xq = q * s;
    double sx = -std::numeric_limits<double>::infinity();
    while (k >= 0) {
      const double xv = v[size_t(k)] * s;
      sx = ((in[size_t(q)] + xq * xq) - (in[size_t(v[size_t(k)])] + xv * xv)) / (2 * (xq - xv));
      if (sx <= z[size_t(k)]) --k;
      else break;
    }
    if (k < 0) sx = -std::numeric_limits<double>::infinity();
    ++k;
    v[size_t(k)] = q;
    z[size_t(k)] = sx;
  }
  if (k < 0) {
    for (int p = 0; p < n; ++p) f[p * stride] = kFar;
    return;
  }
  int j = 0;
  for (int p = 0; p < n; ++p) {
    const double xp = p * s;
    while (j < k && z[size_t(j) + 1] < xp) ++j;
    const double dx = xp - v[size_t(j)] * s;
    const double d = dx * dx + in[size_t(v[size_t(j)])];
    f[p * stride] = d <= cap ? float(d) : kFar;
  }
}

}  // namespace

bool peelOrGrow(uint8_t* mask, const DIM3D& dim, const SPC* spc, bool mode3D, double distance, float* scratch) {
  if (distance == 0) return true;
  const bool peel = distance > 0;
  const double r = std::fabs(distance) * (1.0 + 1e-6);
  const double cap = r * r;
  const SPC s = spc ? *spc : SPC{1, 1, 1};
  const int w = dim.w, h = dim.h, d = dim.d;
  const int64_t plane = int64_t(w) * h;
  const int64_t n = int64_t(w) * h * d;
  std::unique_ptr<float[]> own;
  float* f = scratch;
  if (!f) {
    own.reset(new (std::nothrow) float[size_t(n)]);
    if (!own) return false;
    f = own.get();
  }
  // Sites: the clear voxels when peeling, the mask voxels when growing.
  tbb::parallel_for(int64_t(0), n, [&](int64_t i) { f[i] = (mask[i] != 0) != peel ? 0.f : kFar; });
  const auto pass = [&](int64_t lines, int length, double spacing, auto first, int64_t stride) {
    tbb::parallel_for(tbb::blocked_range<int64_t>(0, lines), [&](const tbb::blocked_range<int64_t>& range) {
      const size_t count = static_cast<size_t>(length);
      std::vector<double> in(count), z(count + 1);
      std::vector<int> v(count);
      for (int64_t l = range.begin(); l != range.end(); ++l) line(f + first(l), stride, length, spacing, cap, in, v, z);
    });
  };
  pass(int64_t(h) * d, w, s.x, [&](int64_t l) { return l * w; }, 1);
  pass(int64_t(w) * d, h, s.y, [&](int64_t l) { return (l / w) * plane + l % w; }, w);
  if (mode3D && d > 1) pass(plane, d, s.z, [&](int64_t l) { return l; }, plane);
  // Peel: a mask voxel stays when no clear voxel is within reach; grow: a voxel joins when a mask
  // voxel is.
  tbb::parallel_for(int64_t(0), n, [&](int64_t i) {
    const bool near = f[i] <= cap;
    mask[i] = peel ? uint8_t(mask[i] && !near) : uint8_t(near);
  });
  return true;
}

}  // namespace twk::maskdist
