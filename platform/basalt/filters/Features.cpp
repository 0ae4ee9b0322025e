// Structure-tensor feature points and response maps.
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "filters/Features.h"
#include "filters/FilterCore.h"
#include "filters/Filters.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

using namespace twk::filters;

namespace {

// Smallest eigenvalue of the symmetric 3x3 matrix (xx, yy, zz, xy, xz, yz), closed form.
double smallestEigenvalue(double a, double b, double c, double d, double e, double f) {
  const double p1 = d * d + e * e + f * f;
  const double q = (a + b + c) / 3;
  if (p1 <= 1e-300) return std::min({a, b, c});
  const double p2 = (a - q) * (a - q) + (b - q) * (b - q) + (c - q) * (c - q) + 2 * p1;
  const double p = std::sqrt(p2 / 6);
  const double ba = (a - q) / p, bb = (b - q) / p, bc = (c - q) / p, bd = d / p, be = e / p, bf = f / p;
  const double det = ba * (bb * bc - bf * bf) - bd * (bd * bc - bf * be) + be * (bd * bf - bb * be);
  const double r = std::clamp(det / 2, -1.0, 1.0);
  const double phi = std::acos(r) / 3;
  return q + 2 * p * std::cos(phi + 2 * M_PI / 3);
}

// A real frame smoothed by a Gaussian of sigma mm (the separable kernel of sigma r / 2).
FRAME* gaussian(const FRAME* f, const SPC* spc, double sigmaMm, int axes) {
  const SPC s = spc ? *spc : SPC{};
  const double r = 2 * sigmaMm / std::min({s.x, s.y, s.z});
  if (r < 1) return VA_VolClone(f);
  return VA_VolConvoluteSeparable3D(f, axes, spc, VA_VOXWGHT_GAUSSIAN, r, false);
}

bool response(const VA_FEATUREDETECT* record, const FRAME* frame, const SPC* spc, const FRAME* roi,
              std::vector<double>* out, const wchar_t* name, bool show) {
  if (!record || record->type < 0 || record->type > 1 || !(record->scale > 0)) {
    reportError(name, L"Invalid parameters", show);
    return false;
  }
  if (!frame || !frame->data || (frame->type != FRM_INT && frame->type != FRM_REAL)) {
    reportError(name, L"Integer or Real volume is required", show);
    return false;
  }
  const int w = frame->dim.w, h = frame->dim.h, d = frame->dim.d;
  if (roi && (roi->type != FRM_ROI || roi->dim.w != w || roi->dim.h != h || roi->dim.d != d)) {
    reportError(name, L"The ROI does not match the volume", show);
    return false;
  }
  const bool flat = d == 1;
  const int axes = flat ? 3 : 7;
  Volume3 vol;
  if (!readTimePoint(frame, 0, &vol)) return false;
  for (size_t i = 0; i < vol.v.size(); ++i)
    if (!vol.valid[i]) vol.v[i] = 0;
  FRAME* one = VA_CreateVol(vol.v.data(), 64, w, h, d, 1);
  FRAME* smooth = one ? gaussian(one, spc, record->scale / 2, axes) : nullptr;
  PR_FrameDelete(&one);
  if (!smooth) return false;
  const SPC s = spc ? *spc : SPC{};
  const double* v = reinterpret_cast<const double*>(smooth->data);
  const int64_t n = int64_t(w) * h * d;
  // Products of the gradient components: xx, yy, zz, xy, xz, yz.
  std::vector<std::vector<double>> products(flat ? 3 : 6, std::vector<double>(static_cast<size_t>(n)));
  tbb::parallel_for(0, d, [&](int z) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        auto at = [&](int xx, int yy, int zz) {
          return v[(int64_t(mirror(zz, d)) * h + mirror(yy, h)) * w + mirror(xx, w)];
        };
        const double gx = (at(x + 1, y, z) - at(x - 1, y, z)) / (2 * s.x);
        const double gy = (at(x, y + 1, z) - at(x, y - 1, z)) / (2 * s.y);
        const double gz = flat ? 0 : (at(x, y, z + 1) - at(x, y, z - 1)) / (2 * s.z);
        const size_t i = size_t((int64_t(z) * h + y) * w + x);
        products[0][i] = gx * gx;
        products[1][i] = gy * gy;
        products[2][i] = flat ? gx * gy : gz * gz;
        if (!flat) products[3][i] = gx * gy, products[4][i] = gx * gz, products[5][i] = gy * gz;
      }
  });
  PR_FrameDelete(&smooth);
  for (auto& p : products) {
    FRAME* f = VA_CreateVol(p.data(), 64, w, h, d, 1);
    FRAME* g = f ? gaussian(f, spc, record->scale, axes) : nullptr;
    PR_FrameDelete(&f);
    if (!g) return false;
    std::copy_n(reinterpret_cast<const double*>(g->data), n, p.begin());
    PR_FrameDelete(&g);
  }
  out->assign(static_cast<size_t>(n), 0.0);
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, n, 4096), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t k = r.begin(); k != r.end(); ++k) {
      const size_t i = size_t(k);
      double value;
      if (flat) {
        const double a = products[0][i], b = products[2][i], c = products[1][i];
        value = record->type == 1 ? (a + c) / 2 - std::sqrt((a - c) * (a - c) / 4 + b * b)
                                  : a * c - b * b - 0.04 * (a + c) * (a + c);
      } else {
        const double a = products[0][i], b = products[1][i], c = products[2][i], xy = products[3][i],
                     xz = products[4][i], yz = products[5][i];
        if (record->type == 1) {
          value = smallestEigenvalue(a, b, c, xy, xz, yz);
        } else {
          const double det = a * (b * c - yz * yz) - xy * (xy * c - yz * xz) + xz * (xy * yz - b * xz);
          const double tr = a + b + c;
          value = det - 0.005 * tr * tr * tr;
        }
      }
      (*out)[i] = vol.valid[i] ? value : 0.0;
    }
  });
  if (roi)
    for (int z = 0; z < d; ++z)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          if (!twk::roiBit(roi, x, y, z, 0)) (*out)[size_t((int64_t(z) * h + y) * w + x)] = 0;
  return true;
}

}  // namespace

FRAME* VA_VolFeatureResponseMap(const VA_FEATUREDETECT* record, const FRAME* frame, const SPC* spc, const FRAME* roi,
                                bool show) {
  std::vector<double> r;
  if (!response(record, frame, spc, roi, &r, L"VA_VolFeatureResponseMap", show)) return nullptr;
  return VA_CreateVol(r.data(), 64, frame->dim.w, frame->dim.h, frame->dim.d, 1);
}

POINT3D* VA_VolFeaturePointCoords(const VA_FEATUREDETECT* record, const FRAME* frame, const SPC* spc,
                                  const FRAME* roi, int* count, bool show) {
  if (count) *count = 0;
  const wchar_t* name = L"VA_VolFeaturePointCoords";
  std::vector<double> r;
  if (!count || !response(record, frame, spc, roi, &r, name, show)) return nullptr;
  std::vector<double> positive;
  for (double v : r)
    if (v > 0) positive.push_back(v);
  if (positive.empty()) return nullptr;
  auto mid = positive.begin() + positive.size() / 2;
  std::nth_element(positive.begin(), mid, positive.end());
  const double level = record->threshold * *mid;
  const int w = frame->dim.w, h = frame->dim.h, d = frame->dim.d;
  const std::vector<Offset> ball = ballOffsets(std::max(record->density, 0.0) /
                                                   std::min({spc ? spc->x : 1.0, spc ? spc->y : 1.0, spc ? spc->z : 1.0}),
                                               spc, d == 1, 0);
  // Candidates above the level, strongest first; a candidate is kept when no stronger voxel lies
  // within the density (ties go to the lower index).
  std::vector<int64_t> candidates;
  for (int64_t i = 0; i < int64_t(r.size()); ++i)
    if (r[size_t(i)] > level) candidates.push_back(i);
  std::vector<uint8_t> keep(candidates.size(), 0);
  tbb::parallel_for(size_t(0), candidates.size(), [&](size_t c) {
    const int64_t i = candidates[c];
    const int x = int(i % w), y = int(i / w % h), z = int(i / (int64_t(w) * h));
    for (const Offset& o : ball) {
      const int xx = x + o.dx, yy = y + o.dy, zz = z + o.dz;
      if (xx < 0 || yy < 0 || zz < 0 || xx >= w || yy >= h || zz >= d) continue;
      const int64_t j = (int64_t(zz) * h + yy) * w + xx;
      if (r[size_t(j)] > r[size_t(i)] || (r[size_t(j)] == r[size_t(i)] && j < i)) return;
    }
    keep[c] = 1;
  });
  std::vector<int64_t> points;
  for (size_t c = 0; c < candidates.size(); ++c)
    if (keep[c]) points.push_back(candidates[c]);
  std::sort(points.begin(), points.end(), [&](int64_t a, int64_t b) { return r[size_t(a)] > r[size_t(b)]; });
  if (points.empty()) return nullptr;
  auto* out = static_cast<POINT3D*>(pf_malloc(int64_t(points.size() * sizeof(POINT3D))));
  if (!out) return nullptr;
  for (size_t k = 0; k < points.size(); ++k) {
    const int64_t i = points[k];
    out[k] = POINT3D{int(i % w), int(i / w % h), int(i / (int64_t(w) * h))};
  }
  *count = int(points.size());
  return out;
}
