// The texture gradient, the edge detector built on it, and the edge-constrained smoothing that
// smooths the regions between the edges one by one.
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <set>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "filters/FilterCore.h"
#include "filters/Filters.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

using namespace twk::filters;

namespace {

// Texture weights of the gradient records: 0 constant, 1 Gaussian, 2 Rayleigh, 3 radial.
double textureWeight(int weights, double rho, double radius) {
  switch (weights) {
    case 1: return kernelWeight(1, rho, radius);
    case 2: return kernelWeight(3, rho, radius);
    case 3: return kernelWeight(2, rho, radius);
    default: return 1.0;
  }
}

// The gradient of one time point at one radius: per voxel the three components.
void gradientAtRadius(const Volume3& vol, int metric, int weights, double radius, bool inPlane, double* g) {
  std::vector<Offset> ball = ballOffsets(radius, nullptr, inPlane, 0);
  for (Offset& o : ball) o.weight = textureWeight(weights, o.rho, radius);
  const int w = vol.w, h = vol.h, d = vol.d;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, int64_t(h) * d, 4), [&](const tbb::blocked_range<int64_t>& r) {
    std::vector<double> plus[3], minus[3];
    for (int64_t line = r.begin(); line != r.end(); ++line) {
      const int y = int(line % h), z = int(line / h);
      for (int x = 0; x < w; ++x) {
        const int64_t i = vol.index(x, y, z);
        double sp[3] = {0, 0, 0}, sm[3] = {0, 0, 0}, wp[3] = {0, 0, 0}, wm[3] = {0, 0, 0};
        for (int a = 0; a < 3; ++a) plus[a].clear(), minus[a].clear();
        for (const Offset& o : ball) {
          const int64_t j = vol.index(mirror(x + o.dx, w), mirror(y + o.dy, h), mirror(z + o.dz, d));
          if (!vol.valid[size_t(j)]) continue;
          const double v = vol.v[size_t(j)];
          const int da[3] = {o.dx, o.dy, o.dz};
          for (int a = 0; a < 3; ++a) {
            if (da[a] > 0) {
              sp[a] += o.weight * v, wp[a] += o.weight;
              if (metric == 1) plus[a].push_back(v);
            } else if (da[a] < 0) {
              sm[a] += o.weight * v, wm[a] += o.weight;
              if (metric == 1) minus[a].push_back(v);
            }
          }
        }
        for (int a = 0; a < 3; ++a) {
          double value = 0;
          if (wp[a] > 0 && wm[a] > 0) {
            value = sp[a] / wp[a] - sm[a] / wm[a];
            if (metric == 1 && !plus[a].empty() && plus[a].size() == minus[a].size()) {
              // Earth mover's distance of two equal-sized samples: the mean distance of their
              // sorted values, with the sign of the difference of the means.
              std::sort(plus[a].begin(), plus[a].end());
              std::sort(minus[a].begin(), minus[a].end());
              double emd = 0;
              for (size_t k = 0; k < plus[a].size(); ++k) emd += std::fabs(plus[a][k] - minus[a][k]);
              emd /= double(plus[a].size());
              value = value < 0 ? -emd : emd;
            }
          }
          g[size_t(i) * 3 + size_t(a)] = vol.valid[size_t(i)] ? value : 0.0;
        }
      }
    }
  });
}

// Gradient components (3 per voxel) of a time point over the admissible radii low..high: at each
// voxel the components of the radius of largest magnitude. False when stopped.
bool multiscaleGradient(const Volume3& vol, int metric, int weights, double low, double high, std::vector<double>* g,
                        twk::ProgressGuard& progress) {
  if (low > high) std::swap(low, high);
  int count = 0;
  double* radii = VA_RerazoRadiusSet(std::max(high, 1.0), &count);
  std::vector<double> scales;
  for (int k = 0; k < count; ++k)
    if (radii[k] >= low - 1e-9 && radii[k] <= high + 1e-9) scales.push_back(radii[k]);
  pf_free(&radii);
  if (scales.empty()) scales.push_back(std::max(1.0, high));
  const bool inPlane = vol.d == 1;
  const size_t n = size_t(vol.size());
  g->assign(n * 3, 0.0);
  std::vector<double> scale(scales.size() > 1 ? n * 3 : 0);
  for (size_t s = 0; s < scales.size(); ++s) {
    double* target = scales.size() > 1 ? scale.data() : g->data();
    gradientAtRadius(vol, metric, weights, scales[s], inPlane, target);
    if (scales.size() > 1)
      for (size_t i = 0; i < n; ++i) {
        const double* a = &scale[i * 3];
        double* b = &(*g)[i * 3];
        if (a[0] * a[0] + a[1] * a[1] + a[2] * a[2] > b[0] * b[0] + b[1] * b[1] + b[2] * b[2])
          std::copy(a, a + 3, b);
      }
    if (!progress.Step(int64_t(s) + 1, int64_t(scales.size()))) return false;
  }
  return true;
}

FRAME* realFrameOf(int w, int h, int d, const std::vector<double>& values, size_t stride, size_t offset) {
  FRAME* f = PR_FrameCreate(FRM_REAL, 64, DIM3D{w, h, d, 1}, false);
  if (!f) return nullptr;
  double* p = reinterpret_cast<double*>(f->data);
  const size_t n = size_t(w) * size_t(h) * size_t(d);
  for (size_t i = 0; i < n; ++i) p[i] = values[i * stride + offset];
  return f;
}

// Edge flags of a time point (1 = edge); false when stopped or the noise cannot be had.
bool edgeMap(const VA_URALEDGE* record, const FRAME* frame, const Volume3& vol, int t, const std::vector<uint8_t>* within,
             bool thin, std::vector<uint8_t>* edges, twk::ProgressGuard& progress, bool show) {
  std::vector<double> g;
  if (!multiscaleGradient(vol, record->distanceMetric, record->voxelWeights, record->lowRadius, record->highRadius, &g,
                          progress))
    return false;
  double threshold = record->edgeThreshold;
  if (!(threshold > 0)) {
    double noise = 0;
    if (!VA_VolEffectiveNoise(frame, t, &noise, show)) return false;
    threshold = 2.0 * noise;
  }
  const size_t n = size_t(vol.size());
  std::vector<double> mag(n);
  for (size_t i = 0; i < n; ++i) mag[i] = std::sqrt(g[3 * i] * g[3 * i] + g[3 * i + 1] * g[3 * i + 1] + g[3 * i + 2] * g[3 * i + 2]);
  edges->assign(n, 0);
  const int w = vol.w, h = vol.h, d = vol.d;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, int64_t(h) * d, 16), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t line = r.begin(); line != r.end(); ++line) {
      const int y = int(line % h), z = int(line / h);
      for (int x = 0; x < w; ++x) {
        const int64_t i = vol.index(x, y, z);
        if (!vol.valid[size_t(i)] || mag[size_t(i)] <= threshold) continue;
        if (within && !(*within)[size_t(i)]) continue;
        if (thin) {
          // The ridge along the gradient's main axis: no neighbour on that axis is larger.
          const double* gi = &g[size_t(i) * 3];
          int a = 0;
          for (int k = 1; k < 3; ++k)
            if (std::fabs(gi[k]) > std::fabs(gi[a])) a = k;
          const int p[3] = {x, y, z}, n3[3] = {w, h, d};
          bool ridge = true;
          for (int s = -1; s <= 1; s += 2) {
            int q[3] = {p[0], p[1], p[2]};
            q[a] += s;
            if (q[a] < 0 || q[a] >= n3[a]) continue;
            if (mag[size_t(vol.index(q[0], q[1], q[2]))] > mag[size_t(i)]) ridge = false;
          }
          if (!ridge) continue;
        }
        (*edges)[size_t(i)] = 1;
      }
    }
  });
  return true;
}

// Labels of the 6-connected parts of the non-edge voxels (1, 2, ...); edge and void voxels 0.
std::vector<int32_t> labelRegions(const Volume3& vol, const std::vector<uint8_t>& edges) {
  const int64_t n = vol.size();
  std::vector<int32_t> parent(size_t(n), -1);
  auto find = [&](int32_t a) {
    while (parent[size_t(a)] != a) a = parent[size_t(a)] = parent[size_t(parent[size_t(a)])];
    return a;
  };
  auto open = [&](int64_t i) { return vol.valid[size_t(i)] && !edges[size_t(i)]; };
  for (int z = 0; z < vol.d; ++z)
    for (int y = 0; y < vol.h; ++y)
      for (int x = 0; x < vol.w; ++x) {
        const int64_t i = vol.index(x, y, z);
        if (!open(i)) continue;
        parent[size_t(i)] = int32_t(i);
        const int64_t back[3] = {x > 0 ? i - 1 : -1, y > 0 ? i - vol.w : -1, z > 0 ? i - int64_t(vol.w) * vol.h : -1};
        for (int64_t j : back)
          if (j >= 0 && open(j)) {
            const int32_t a = find(int32_t(i)), b = find(int32_t(j));
            if (a != b) parent[size_t(std::max(a, b))] = std::min(a, b);
          }
      }
  std::vector<int32_t> label(size_t(n), 0);
  int32_t next = 0;
  for (int64_t i = 0; i < n; ++i) {
    if (parent[size_t(i)] < 0) continue;
    const int32_t root = find(int32_t(i));
    if (root == i) label[size_t(i)] = ++next;
    else label[size_t(i)] = label[size_t(root)];
  }
  return label;
}

// Each edge voxel joins the neighbouring region whose neighbours' mean is nearest its own value,
// in passes from the regions inward, so the edge itself is not blurred.
void assignEdgeVoxels(const Volume3& vol, std::vector<int32_t>& label) {
  const int w = vol.w, h = vol.h, d = vol.d;
  for (int pass = 0; pass < 64; ++pass) {
    std::vector<std::pair<int64_t, int32_t>> joins;
    for (int z = 0; z < d; ++z)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int64_t i = vol.index(x, y, z);
          if (label[size_t(i)] != 0 || !vol.valid[size_t(i)]) continue;
          int32_t best = 0;
          double bestDistance = 0;
          std::vector<std::pair<int32_t, std::pair<double, int>>> sums;
          for (int dz = -1; dz <= 1; ++dz)
            for (int dy = -1; dy <= 1; ++dy)
              for (int dx = -1; dx <= 1; ++dx) {
                const int xx = x + dx, yy = y + dy, zz = z + dz;
                if (xx < 0 || yy < 0 || zz < 0 || xx >= w || yy >= h || zz >= d) continue;
                const int64_t j = vol.index(xx, yy, zz);
                const int32_t l = label[size_t(j)];
                if (l == 0) continue;
                auto it = std::find_if(sums.begin(), sums.end(), [&](const auto& s) { return s.first == l; });
                if (it == sums.end()) sums.push_back({l, {vol.v[size_t(j)], 1}});
                else it->second.first += vol.v[size_t(j)], ++it->second.second;
              }
          for (const auto& s : sums) {
            const double distance = std::fabs(s.second.first / s.second.second - vol.v[size_t(i)]);
            if (best == 0 || distance < bestDistance) best = s.first, bestDistance = distance;
          }
          if (best) joins.push_back({i, best});
        }
    if (joins.empty()) return;
    for (const auto& j : joins) label[size_t(j.first)] = j.second;
  }
}

// Smooths values within the regions of label (voxels of label 0 keep their values).
bool smoothRegions(const VA_IVCS* record, const Volume3& vol, const std::vector<int32_t>& label, double* out,
                   twk::ProgressGuard& progress) {
  const bool inPlane = vol.d == 1;
  const int kernel = record->filter == 1 ? VA_VOXWGHT_MEDIAN : record->filter == 2 ? VA_VOXWGHT_GAUSSIAN : VA_VOXWGHT_UNIFORM;
  auto counts = [&](int64_t i, int64_t j) { return label[size_t(i)] == label[size_t(j)]; };
  auto change = [&](int64_t i) { return label[size_t(i)] != 0; };
  auto quiet = [&](int, int) { return progress.Poll(); };
  if (!neighbourhoodFilter(vol, ballOffsets(record->regionalRadius, nullptr, inPlane, kernel), kernel, counts, change,
                           out, quiet))
    return false;
  if (record->finalRadius > 0) {
    Volume3 first = vol;
    first.v.assign(out, out + vol.size());
    if (!neighbourhoodFilter(first, ballOffsets(record->finalRadius, nullptr, inPlane, 0), 0, counts, change, out, quiet))
      return false;
  }
  return true;
}

bool checkIvcs(const wchar_t* name, const VA_IVCS* record, bool show) {
  if (!record || record->filter < 0 || record->filter > 2 || record->regionalRadius < 1 || record->regionalRadius > 100 ||
      record->finalRadius < -1 || record->finalRadius > 100) {
    reportError(name, L"Invalid parameters", show);
    return false;
  }
  return true;
}

}  // namespace

double* VA_RerazoRadiusSet(double maxRadius, int* count) {
  if (count) *count = 0;
  if (!(maxRadius >= 1) || maxRadius > 1000 || !count) return nullptr;
  const int top = int(std::floor(maxRadius * maxRadius + 1e-9));
  std::vector<double> radii;
  for (int n = 1; n <= top; ++n) {
    // Legendre: n is a sum of three squares unless n = 4^a (8b + 7).
    int m = n;
    while (m % 4 == 0) m /= 4;
    if (m % 8 != 7) radii.push_back(std::sqrt(double(n)));
  }
  auto* out = static_cast<double*>(pf_malloc(int64_t(radii.size() * sizeof(double))));
  if (!out) return nullptr;
  std::copy(radii.begin(), radii.end(), out);
  *count = int(radii.size());
  return out;
}

bool VA_DetectGrad3D(const VA_URALGRAD* record, const FRAME* frame, int t, const SPC* spc, FRAME** gx, FRAME** gy,
                     FRAME** gz, FRAME** magnitude, bool show) {
  (void)spc;  // radii are in voxels
  const wchar_t* name = L"VA_DetectGrad3D";
  if (!record || !isSignalFrame(frame)) {
    reportError(name, L"Integer or Real volume is required", show);
    return false;
  }
  Volume3 vol;
  if (!readTimePoint(frame, t, &vol)) {
    reportError(name, L"Invalid time point", show);
    return false;
  }
  twk::ProgressGuard progress(L"Texture gradient", show);
  std::vector<double> g;
  if (!multiscaleGradient(vol, record->metric, record->weights, record->lowRadius, record->highRadius, &g, progress))
    return false;
  const double c = record->normalization > 0 ? record->normalization : 1.0;
  const size_t n = size_t(vol.size());
  FRAME** outs[3] = {gx, gy, gz};
  for (int a = 0; a < 3; ++a)
    if (outs[a] && !(*outs[a] = realFrameOf(vol.w, vol.h, vol.d, g, 3, size_t(a)))) return false;
  if (magnitude) {
    std::vector<double> m(n);
    std::vector<double> mean;
    if (record->magnitude == 2) {
      mean.resize(n);
      auto all = [](int64_t, int64_t) { return true; };
      auto every = [](int64_t) { return true; };
      neighbourhoodFilter(vol, ballOffsets(std::max(1.0, record->highRadius), nullptr, vol.d == 1, 0), 0, all, every,
                          mean.data(), [](int, int) { return true; });
    }
    for (size_t i = 0; i < n; ++i) {
      const double len = std::sqrt(g[3 * i] * g[3 * i] + g[3 * i + 1] * g[3 * i + 1] + g[3 * i + 2] * g[3 * i + 2]);
      m[i] = !vol.valid[i] ? VOID_VALUE
             : record->magnitude == 1 ? std::log1p(len / c)
             : record->magnitude == 2 ? len / (c + std::fabs(mean[i]))
                                      : len;
    }
    if (!(*magnitude = realFrameOf(vol.w, vol.h, vol.d, m, 1, 0))) return false;
  }
  return true;
}

FRAME* VA_DetectEdge3D(const VA_URALEDGE* record, const FRAME* frame, int t, const SPC* spc, const FRAME* roi, bool thin,
                       bool show) {
  (void)spc;
  const wchar_t* name = L"VA_DetectEdge3D";
  if (!record || !isSignalFrame(frame)) {
    reportError(name, L"Integer or Real volume is required", show);
    return nullptr;
  }
  Volume3 vol;
  if (!readTimePoint(frame, t, &vol)) {
    reportError(name, L"Invalid time point", show);
    return nullptr;
  }
  std::vector<uint8_t> within;
  if (roi) {
    if (roi->type != FRM_ROI || roi->dim.w != vol.w || roi->dim.h != vol.h || roi->dim.d != vol.d) {
      reportError(name, L"The ROI does not match the volume", show);
      return nullptr;
    }
    within.resize(size_t(vol.size()));
    for (int z = 0; z < vol.d; ++z)
      for (int y = 0; y < vol.h; ++y)
        for (int x = 0; x < vol.w; ++x) within[size_t(vol.index(x, y, z))] = twk::roiBit(roi, x, y, z, 0);
  }
  twk::ProgressGuard progress(L"Edge detection", show);
  std::vector<uint8_t> edges;
  if (!edgeMap(record, frame, vol, t, roi ? &within : nullptr, thin, &edges, progress, show)) return nullptr;
  return VA_CreateVol(edges.data(), 1, vol.w, vol.h, vol.d, 1);
}

namespace {

// The regions of time point te of the edge volume, edge voxels joined to their nearest region.
bool constrainedRegions(const VA_IVCS* record, const FRAME* edges, int te, std::vector<int32_t>* label,
                        twk::ProgressGuard& progress, bool show) {
  Volume3 edgeVol;
  if (!readTimePoint(edges, te, &edgeVol)) return false;
  std::vector<uint8_t> edgeFlags;
  if (!edgeMap(&record->edge, edges, edgeVol, te, nullptr, record->thinEdges != 0, &edgeFlags, progress, show))
    return false;
  *label = labelRegions(edgeVol, edgeFlags);
  assignEdgeVoxels(edgeVol, *label);
  return true;
}

// Smooths time point k of smoothed into the same time point of result within the regions.
bool smoothTimePoint(const VA_IVCS* record, const FRAME* smoothed, int k, const std::vector<int32_t>& label,
                     FRAME* result, twk::ProgressGuard& progress) {
  Volume3 vol;
  if (!readTimePoint(smoothed, k, &vol)) return false;
  std::vector<double> out(vol.v.size());
  return smoothRegions(record, vol, label, out.data(), progress) && writeTimePoint(result, k, out.data());
}

}  // namespace

FRAME* VA_IntervolConstrainedSmooth(const VA_IVCS* record, int t, bool allTimes, const FRAME* edges,
                                    const FRAME* smoothed, const SPC* spc, bool show) {
  (void)spc;
  const wchar_t* name = L"VA_IntervolConstrainedSmooth";
  if (!checkIvcs(name, record, show)) return nullptr;
  if (!isSignalFrame(edges) || !isSignalFrame(smoothed)) {
    reportError(name, L"Integer or Real volume is required", show);
    return nullptr;
  }
  if (edges->dim.w != smoothed->dim.w || edges->dim.h != smoothed->dim.h || edges->dim.d != smoothed->dim.d) {
    reportError(name, L"Equal dimensions are expected", show);
    return nullptr;
  }
  const int te = std::min(t, edges->dim.t - 1);
  if (t < 0 || t >= smoothed->dim.t || te < 0) {
    reportError(name, L"Invalid time point", show);
    return nullptr;
  }
  twk::ProgressGuard progress(L"Edge-constrained smoothing", show);
  std::vector<int32_t> label;
  if (!constrainedRegions(record, edges, te, &label, progress, show)) return nullptr;
  FRAME* result = VA_VolClone(smoothed);
  if (!result) return nullptr;
  const int t0 = allTimes ? 0 : t, t1 = allTimes ? smoothed->dim.t - 1 : t;
  for (int k = t0; k <= t1; ++k)
    if (!smoothTimePoint(record, smoothed, k, label, result, progress)) {
      PR_FrameDelete(&result);
      return nullptr;
    }
  return result;
}

FRAME* VA_SingleVolConstrainedSmooth(const VA_IVCS* record, const FRAME* frame, const SPC* spc, bool show) {
  (void)spc;
  const wchar_t* name = L"VA_SingleVolConstrainedSmooth";
  if (!checkIvcs(name, record, show)) return nullptr;
  if (!isSignalFrame(frame)) {
    reportError(name, L"Integer or Real volume is required", show);
    return nullptr;
  }
  twk::ProgressGuard progress(L"Edge-constrained smoothing", show);
  FRAME* result = VA_VolClone(frame);
  if (!result) return nullptr;
  for (int t = 0; t < frame->dim.t; ++t) {
    std::vector<int32_t> label;
    if (!constrainedRegions(record, frame, t, &label, progress, show) ||
        !smoothTimePoint(record, frame, t, label, result, progress)) {
      PR_FrameDelete(&result);
      return nullptr;
    }
  }
  return result;
}
