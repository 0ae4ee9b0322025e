#include "roi/OrganRecipes.h"

#include <Eigen/Dense>
#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/parallel_reduce.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <vector>

#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "paths/FilePaths.h"
#include "render/RectHelpers.h"
#include "roi/RoiDistance.h"
#include "roi/RunComponents.h"
#include "roi/Thresholds.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

namespace {

void report(const wchar_t* name, const CString& text, bool show) {
  if (show) twk::showNamedError(name, text);
}

bool sameGrid(const FRAME* a, const FRAME* b) {
  return a && b && a->dim.w == b->dim.w && a->dim.h == b->dim.h && a->dim.d == b->dim.d;
}

// Sums over slices in parallel: fn(z, sums) adds into an array of N doubles.
template <size_t N, class Fn>
std::array<double, N> sumSlices(int depth, Fn&& fn) {
  using Sums = std::array<double, N>;
  return tbb::parallel_reduce(
      tbb::blocked_range<int>(0, depth), Sums{},
      [&](const tbb::blocked_range<int>& r, Sums s) {
        for (int z = r.begin(); z != r.end(); ++z) fn(z, s);
        return s;
      },
      [](Sums a, const Sums& b) {
        for (size_t i = 0; i < N; ++i) a[i] += b[i];
        return a;
      });
}

}  // namespace

FRAME* VA_VolDetectCartilageFromFemurAndTibia3(const VA_GETCARTILAGE* record, const FRAME* volume, const FRAME* bone,
                                               const SPC* spc, bool show) {
  const wchar_t* name = L"VA_VolDetectCartilageFromFemurAndTibia3";
  if (!record || !volume || volume->type == FRM_ROI || !bone || bone->type != FRM_ROI || !sameGrid(volume, bone) ||
      !(record->maxThickness > 0)) {
    report(name, L"Invalid parameters", show);
    return nullptr;
  }
  const DIM3D& d = volume->dim;
  // The bone average.
  const auto bs = sumSlices<2>(d.d, [&](int z, std::array<double, 2>& s) {
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x) {
        if (!twk::roiBit(bone, x, y, z, 0)) continue;
        const double v = twk::voxelValue(volume, x, y, z, 0);
        if (v == VOID_VALUE) continue;
        s[0] += v;
        s[1] += 1;
      }
  });
  if (bs[1] == 0) {
    report(name, L"Bone mask is empty", show);
    return nullptr;
  }
  const double threshold = record->coefficient * bs[0] / bs[1];
  FRAME* boneOne = VA_VolCropTimepoint(bone, 0, show);
  FRAME* distance = boneOne ? VA_RoiWaveDistance_x100(boneOne, spc, false, true, show) : nullptr;
  PR_FrameDelete(&boneOne);
  if (!distance) return nullptr;
  const double limit = record->maxThickness * 100.0;
  // Next to the bone: within one voxel diagonal of its surface.
  const double sx = spc ? spc->x : 1.0, sy = spc ? spc->y : 1.0, sz = spc ? spc->z : 1.0;
  const double adjacent = 100.0 * std::sqrt(sx * sx + sy * sy + sz * sz);
  const int64_t plane = int64_t(d.w) * d.h, n = plane * d.d;
  std::vector<uint8_t> candidate(size_t(n), 0);
  std::deque<int64_t> front;
  for (int z = 0; z < d.d; ++z)
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x) {
        const double dist = twk::voxelValue(distance, x, y, z, 0);
        if (twk::roiBit(bone, x, y, z, 0) || dist <= 0 || dist > limit || dist >= 16777215) continue;
        const double v = twk::voxelValue(volume, x, y, z, 0);
        if (v == VOID_VALUE || v < threshold) continue;
        const int64_t i = z * plane + int64_t(y) * d.w + x;
        candidate[size_t(i)] = 1;
        if (dist <= adjacent) {
          candidate[size_t(i)] = 2;
          front.push_back(i);
        }
      }
  PR_FrameDelete(&distance);
  // The candidates connected to the bone's neighbourhood.
  while (!front.empty()) {
    const int64_t i = front.front();
    front.pop_front();
    const int x = int(i % d.w), y = int(i / d.w % d.h), z = int(i / plane);
    for (int dz = -1; dz <= 1; ++dz)
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int nx = x + dx, ny = y + dy, nz = z + dz;
          if (nx < 0 || ny < 0 || nz < 0 || nx >= d.w || ny >= d.h || nz >= d.d) continue;
          const int64_t j = nz * plane + int64_t(ny) * d.w + nx;
          if (candidate[size_t(j)] != 1) continue;
          candidate[size_t(j)] = 2;
          front.push_back(j);
        }
  }
  FRAME* out = PR_FrameCreate(FRM_ROI, 1, DIM3D{d.w, d.h, d.d, 1}, true);
  if (!out) {
    report(name, L"Not enough memory", show);
    return nullptr;
  }
  for (int64_t i = 0; i < n; ++i)
    if (candidate[size_t(i)] == 2) twk::setRoiBit(out, int(i % d.w), int(i / d.w % d.h), int(i / plane), 0, true);
  return out;
}

FRAME* VA_RoiLongestAxis_MeasureNonopverlappingSegments(const CVol* volume, const CVol* roi, const double* orientation,
                                                        int segments, int start, CString* text, bool show) {
  const wchar_t* name = L"VA_RoiLongestAxis_MeasureNonopverlappingSegments";
  if (!volume || !volume->frame || !roi || !roi->frame || roi->frame->type != FRM_ROI ||
      !sameGrid(volume->frame, roi->frame) || segments < 2) {
    report(name, L"Invalid parameters", show);
    return nullptr;
  }
  const FRAME* r = roi->frame;
  const DIM3D& d = r->dim;
  const double sx = roi->spc.x, sy = roi->spc.y, sz = roi->spc.z;
  std::vector<Eigen::Vector3d> points;
  std::vector<int64_t> where;
  for (int z = 0; z < d.d; ++z)
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x)
        if (twk::roiBit(r, x, y, z, 0)) {
          points.emplace_back(x * sx, y * sy, z * sz);
          where.push_back((int64_t(z) * d.h + y) * d.w + x);
        }
  if (points.size() < 2) {
    report(name, L"ROI is empty", show);
    return nullptr;
  }
  Eigen::Vector3d mean = Eigen::Vector3d::Zero();
  for (const auto& p : points) mean += p;
  mean /= double(points.size());
  Eigen::Matrix3d cov = Eigen::Matrix3d::Zero();
  for (const auto& p : points) cov += (p - mean) * (p - mean).transpose();
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(cov);
  Eigen::Vector3d axis = eigen.eigenvectors().col(2);  // the largest eigenvalue comes last
  std::vector<double> along(points.size());
  double lo = 1e300, hi = -1e300;
  for (size_t i = 0; i < points.size(); ++i) {
    along[i] = (points[i] - mean).dot(axis);
    lo = std::min(lo, along[i]);
    hi = std::max(hi, along[i]);
  }
  const double length = hi - lo;
  std::vector<int> slab(points.size());
  std::vector<int64_t> count(size_t(segments), 0);
  for (size_t i = 0; i < points.size(); ++i) {
    slab[i] = length > 0 ? std::min(segments - 1, int((along[i] - lo) / length * segments)) : 0;
    ++count[size_t(slab[i])];
  }
  const bool reverse = start == VA_AXISSTART_POSITIVE ||
                       (start == VA_AXISSTART_THICKER && count[size_t(segments - 1)] > count[0]);
  if (reverse) {
    axis = -axis;
    for (int& s : slab) s = segments - 1 - s;
    std::reverse(count.begin(), count.end());
  }
  FRAME* labels = PR_FrameCreate(FRM_INT, 32, DIM3D{d.w, d.h, d.d, 1}, true);
  if (!labels) {
    report(name, L"Not enough memory", show);
    return nullptr;
  }
  std::vector<double> sum(size_t(segments), 0.0);
  std::vector<int64_t> defined(size_t(segments), 0);
  for (size_t i = 0; i < points.size(); ++i) {
    const int64_t w = where[i];
    const int x = int(w % d.w), y = int(w / d.w % d.h), z = int(w / (int64_t(d.w) * d.h));
    twk::setVoxelValue(labels, x, y, z, 0, slab[i] + 1);
    const double v = twk::voxelValue(volume->frame, x, y, z, 0);
    if (v == VOID_VALUE) continue;
    sum[size_t(slab[i])] += v;
    ++defined[size_t(slab[i])];
  }
  if (text) {
    // The axis in patient coordinates: row, column and slice-normal directions.
    const double* o = orientation ? orientation : volume->orient;
    const Eigen::Vector3d row(o[0], o[1], o[2]), column(o[3], o[4], o[5]);
    const Eigen::Vector3d patient = axis.x() * row + axis.y() * column + axis.z() * row.cross(column);
    CString t = FmtStr(L"Axis length (mm) = %.2lf\nAxis direction = (%.3lf, %.3lf, %.3lf)\n", length, patient.x(),
                       patient.y(), patient.z());
    t += L"Segment\tVoxels\tVolume (cm3)\tMean\n";
    for (int s = 0; s < segments; ++s) {
      const CString average = defined[size_t(s)] ? FmtStr(L"%e", sum[size_t(s)] / double(defined[size_t(s)])) : CString(L"void");
      t += FmtStr(L"%u\t%lld\t%.4lf\t%s\n", unsigned(s + 1), static_cast<long long>(count[size_t(s)]),
                  double(count[size_t(s)]) * sx * sy * sz * 0.001, average.GetString());
    }
    *text = t;
  }
  return labels;
}

bool VA_CalcMeanOverAllRois(int t, const CVol* const* volumes, int volumeCount, const CVol* const* rois, int roiCount,
                            CString* text, bool show) {
  const wchar_t* name = L"VA_CalcMeanOverAllRois";
  if (!text || volumeCount < 0 || roiCount < 0 || (volumeCount && !volumes) || (roiCount && !rois)) {
    report(name, L"Invalid parameters", show);
    return false;
  }
  CString out = L"ROI";
  for (int v = 0; v < volumeCount; ++v) out += L"\t" + PR_GetFileTitle(volumes[v]->name);
  out += L"\n";
  for (int k = 0; k < roiCount; ++k) {
    const FRAME* roi = rois[k]->frame;
    out += PR_GetFileTitle(rois[k]->name);
    for (int v = 0; v < volumeCount; ++v) {
      const FRAME* f = volumes[v]->frame;
      if (!sameGrid(f, roi) || roi->type != FRM_ROI) {
        report(name, L"The ROI does not match the volume", show);
        return false;
      }
      const int tv = std::clamp(t, 0, f->dim.t - 1);
      const auto s = sumSlices<2>(f->dim.d, [&](int z, std::array<double, 2>& acc) {
        for (int y = 0; y < f->dim.h; ++y)
          for (int x = 0; x < f->dim.w; ++x) {
            if (!twk::roiBit(roi, x, y, z, 0)) continue;
            const double value = twk::voxelValue(f, x, y, z, tv);
            if (value == VOID_VALUE) continue;
            acc[0] += value;
            acc[1] += 1;
          }
      });
      out += s[1] > 0 ? FmtStr(L"\t%e", s[0] / s[1]) : CString(L"\tvoid");
    }
    out += L"\n";
  }
  *text = out;
  return true;
}

bool VA_VolVicIrregularity2D(const FRAME* frame, double* value) {
  if (!frame || !value || !frame->data || frame->type == FRM_ROI) return false;
  const DIM3D& d = frame->dim;
  const auto s = sumSlices<3>(d.d, [&](int z, std::array<double, 3>& acc) {
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x) {
        const double v = twk::voxelValue(frame, x, y, z, 0);
        if (v == VOID_VALUE) continue;
        double sum = 0;
        int n = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int nx = x + dx, ny = y + dy;
            if ((dx | dy) == 0 || nx < 0 || ny < 0 || nx >= d.w || ny >= d.h) continue;
            const double u = twk::voxelValue(frame, nx, ny, z, 0);
            if (u == VOID_VALUE) continue;
            sum += u;
            ++n;
          }
        if (!n) continue;
        acc[0] += std::fabs(v - sum / n);
        acc[1] += std::fabs(v);
        acc[2] += 1;
      }
  });
  if (s[2] == 0) return false;
  *value = s[1] > 0 ? s[0] / s[1] : 0.0;
  return true;
}

namespace {

// The convex hull (counter-clockwise, no collinear points) of integer points, by the monotone chain.
std::vector<POINT2D> convexHull(std::vector<POINT2D> p) {
  std::sort(p.begin(), p.end(), [](const POINT2D& a, const POINT2D& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
  p.erase(std::unique(p.begin(), p.end(), [](const POINT2D& a, const POINT2D& b) { return a.x == b.x && a.y == b.y; }),
          p.end());
  if (p.size() < 3) return p;
  const auto cross = [](const POINT2D& o, const POINT2D& a, const POINT2D& b) {
    return int64_t(a.x - o.x) * (b.y - o.y) - int64_t(a.y - o.y) * (b.x - o.x);
  };
  std::vector<POINT2D> h(2 * p.size());
  size_t k = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    while (k >= 2 && cross(h[k - 2], h[k - 1], p[i]) <= 0) --k;
    h[k++] = p[i];
  }
  for (size_t i = p.size() - 1, lower = k + 1; i-- > 0;) {
    while (k >= lower && cross(h[k - 2], h[k - 1], p[i]) <= 0) --k;
    h[k++] = p[i];
  }
  h.resize(k - 1);
  return h;
}

// Whether the pixel lies inside or on the convex polygon (counter-clockwise); a hull of one or two
// points holds the pixels on its segment.
bool insideHull(const std::vector<POINT2D>& h, int x, int y) {
  if (h.empty()) return false;
  if (h.size() < 3) {
    const POINT2D& a = h.front();
    const POINT2D& b = h.back();
    const int64_t c = int64_t(b.x - a.x) * (y - a.y) - int64_t(b.y - a.y) * (x - a.x);
    return c == 0 && x >= std::min(a.x, b.x) && x <= std::max(a.x, b.x) && y >= std::min(a.y, b.y) &&
           y <= std::max(a.y, b.y);
  }
  for (size_t i = 0; i < h.size(); ++i) {
    const POINT2D& a = h[i];
    const POINT2D& b = h[(i + 1) % h.size()];
    if (int64_t(b.x - a.x) * (y - a.y) - int64_t(b.y - a.y) * (x - a.x) < 0) return false;
  }
  return true;
}

FRAME* roiFrame(const DIM3D& d) { return PR_FrameCreate(FRM_ROI, 1, DIM3D{d.w, d.h, d.d, 1}, true); }

// Clears the ROI voxels outside `keep` (both ROI frames of one size, time point 0).
void intersectRoi(FRAME* roi, const FRAME* keep) {
  const int64_t lines = int64_t(roi->dim.h) * roi->dim.d;
  tbb::parallel_for(int64_t(0), lines, [&](int64_t l) {
    uint8_t* a = roi->data + l * roi->lineBytes;
    const uint8_t* b = keep->data + l * keep->lineBytes;
    for (int64_t i = 0; i < roi->lineBytes; ++i) a[i] &= b[i];
  });
}

// Keeps the largest 3D (26-connected) component of the ROI (an empty ROI stays empty); false when
// the labelling fails.
bool keepLargest(FRAME* roi) {
  twk::cc::RunLabels runs;
  if (!twk::cc::labelRoi(roi, 0, 26, false, false, &runs)) return false;
  const int64_t best = twk::cc::largestComponent(runs);
  if (best < 0) return true;
  twk::cc::writeRuns(runs, roi, 0, true, [&](uint32_t label) { return int64_t(label) == best; });
  return true;
}

}  // namespace

FRAME* VA_VolSegmentHeartCT(const VA_HEARTSEGCT* record, const CVol* ct, const CVol* lung1, const CVol* lung2,
                            bool show) {
  const wchar_t* name = L"VA_VolSegmentHeartCT";
  const FRAME* v = ct ? ct->frame : nullptr;
  const FRAME* a = lung1 ? lung1->frame : nullptr;
  const FRAME* b = lung2 ? lung2->frame : nullptr;
  if (!record || !v || v->type == FRM_ROI || !a || a->type != FRM_ROI || !b || b->type != FRM_ROI ||
      !sameGrid(v, a) || !sameGrid(v, b) || record->opening < 0 || record->closing < 0) {
    report(name, L"Invalid parameters", show);
    return nullptr;
  }
  const DIM3D& d = v->dim;
  twk::ProgressGuard progress(L"Heart segmentation", show);
  // 1. The mediastinum per slice, and the lungs' mean signal.
  FRAME* mediastinum = roiFrame(d);
  if (!mediastinum) return nullptr;
  std::vector<uint8_t> sliceUsed(size_t(d.d), 0);
  const auto lungSum = sumSlices<2>(d.d, [&](int z, std::array<double, 2>& s) {
    std::vector<POINT2D> points;
    bool inA = false, inB = false;
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x) {
        const bool la = twk::roiBit(a, x, y, z, 0), lb = twk::roiBit(b, x, y, z, 0);
        if (!la && !lb) continue;
        inA |= la;
        inB |= lb;
        points.push_back(POINT2D{x, y});
        const double value = twk::voxelValue(v, x, y, z, 0);
        if (value != VOID_VALUE) {
          s[0] += value;
          s[1] += 1;
        }
      }
    if (!inA || !inB) return;
    sliceUsed[size_t(z)] = 1;
    const std::vector<POINT2D> hull = convexHull(std::move(points));
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x)
        if (!twk::roiBit(a, x, y, z, 0) && !twk::roiBit(b, x, y, z, 0) && insideHull(hull, x, y))
          twk::setRoiBit(mediastinum, x, y, z, 0, true);
  });
  if (std::find(sliceUsed.begin(), sliceUsed.end(), 1) == sliceUsed.end()) {
    PR_FrameDelete(&mediastinum);
    report(name, L"Lung ROIs do not overlap in any slice", show);
    return nullptr;
  }
  // 2. Candidates from the Otsu threshold of the mediastinum's signal between the lungs' mean and
  //    its upper quartile (values above count in the top bin, so that bone does not draw the
  //    threshold up between soft tissue and bone).
  const double lungMean = lungSum[1] > 0 ? lungSum[0] / lungSum[1] : 0.0;
  const double high = record->maxSI;
  std::vector<double> inside;
  for (int z = 0; z < d.d; ++z)
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x)
        if (twk::roiBit(mediastinum, x, y, z, 0)) {
          const double value = twk::voxelValue(v, x, y, z, 0);
          if (value != VOID_VALUE && value >= lungMean && value <= high) inside.push_back(value);
        }
  FRAME* heart = inside.empty() ? nullptr : roiFrame(d);
  if (!heart) {
    PR_FrameDelete(&mediastinum);
    report(name, L"Heart is not found", show);
    return nullptr;
  }
  const size_t quartile = inside.size() * 3 / 4;
  std::nth_element(inside.begin(), inside.begin() + ptrdiff_t(quartile), inside.end());
  const double top = inside[quartile];
  double low = lungMean;
  if (top > lungMean) {
    std::array<int32_t, 256> histogram{};
    for (const double value : inside)
      ++histogram[size_t(std::lround(std::min(1.0, (value - lungMean) / (top - lungMean)) * 255.0))];
    low = lungMean + VA_OtsuLevel256(histogram.data()) / 255.0 * (top - lungMean);
  }
  tbb::parallel_for(0, d.d, [&](int z) {
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x) {
        if (!twk::roiBit(mediastinum, x, y, z, 0)) continue;
        const double value = twk::voxelValue(v, x, y, z, 0);
        if (value != VOID_VALUE && value >= low && value <= high) twk::setRoiBit(heart, x, y, z, 0, true);
      }
  });
  // 3. The opening: peel, the largest piece, grown back inside the candidates.
  const SPC* spc = &ct->spc;
  bool ok = progress.Poll();
  FRAME* candidates = ok ? VA_VolClone(heart) : nullptr;
  ok = candidates != nullptr;
  if (ok && record->opening > 0) {
    const double r = record->opening;
    ok = VA_RoiDeflate(heart, spc, true, false, r, r, r, show) && keepLargest(heart) &&
         VA_RoiInflate(heart, spc, true, false, r, r, r, show);
    if (ok) intersectRoi(heart, candidates);
  }
  ok = ok && progress.Poll() && keepLargest(heart);
  // 4. The per-slice closing inside the mediastinum.
  if (ok && record->closing > 0) {
    const double r = record->closing;
    ok = VA_RoiInflate(heart, spc, false, false, r, r, r, show) && VA_RoiDeflate(heart, spc, false, false, r, r, r, show);
    if (ok) intersectRoi(heart, mediastinum);
  }
  PR_FrameDelete(&candidates);
  PR_FrameDelete(&mediastinum);
  if (ok && !progress.Stopped()) {
    twk::cc::RunLabels runs;
    if (twk::cc::labelRoi(heart, 0, 26, false, false, &runs) && runs.count > 0) return heart;
    report(name, L"Heart is not found", show);
  }
  PR_FrameDelete(&heart);
  return nullptr;
}

TRINODE* VA_RoiSliceStructureGraph(const VA_STRUCGRAPHPARM* parameters, const FRAME* slice, int* count) {
  if (count) *count = 0;
  if (!parameters || !slice || slice->type != FRM_ROI || !count || !(parameters->sizeThreshold > 0)) return nullptr;
  const int s = std::max(1, int(std::lround(parameters->sizeThreshold)));
  const int w = slice->dim.w, h = slice->dim.h;
  const int cw = (w - 1) / s, ch = (h - 1) / s;  // lattice cells
  if (cw < 1 || ch < 1) return nullptr;
  const auto in = [&](int i, int j) { return twk::roiBit(slice, int64_t(i) * s, int64_t(j) * s, 0, 0); };
  // Index of the kept triangle k (0 upper right, 1 lower left) of cell (i, j), or -1.
  std::vector<int64_t> index(size_t(cw) * ch * 2, -1);
  int64_t n = 0;
  for (int j = 0; j < ch; ++j)
    for (int i = 0; i < cw; ++i) {
      const bool pa = in(i, j), pb = in(i + 1, j), pc = in(i, j + 1), pd = in(i + 1, j + 1);
      const size_t cell = (size_t(j) * cw + i) * 2;
      if (pa && pb && pd) index[cell] = n++;
      if (pa && pd && pc) index[cell + 1] = n++;
    }
  if (n == 0 || n >= int64_t(VA_TRINODE_NONE)) return nullptr;
  auto* out = static_cast<TRINODE*>(pf_malloc(size_t(n) * sizeof(TRINODE)));
  if (!out) return nullptr;
  const auto at = [&](int i, int j, int k) -> uint32_t {
    if (i < 0 || j < 0 || i >= cw || j >= ch) return VA_TRINODE_NONE;
    const int64_t t = index[(size_t(j) * cw + i) * 2 + size_t(k)];
    return t < 0 ? VA_TRINODE_NONE : uint32_t(t);
  };
  for (int j = 0; j < ch; ++j)
    for (int i = 0; i < cw; ++i) {
      const int x0 = i * s, y0 = j * s, x1 = x0 + s, y1 = y0 + s;
      const size_t cell = (size_t(j) * cw + i) * 2;
      if (index[cell] >= 0) {  // a, b, d: edges ab (cell above), bd (cell right), da (own lower left)
        TRINODE& t = out[index[cell]];
        t = TRINODE{{x0, x1, x1}, {y0, y0, y1}, {at(i, j - 1, 1), at(i + 1, j, 1), at(i, j, 1)}};
      }
      if (index[cell + 1] >= 0) {  // a, d, c: edges ad (own upper right), dc (cell below), ca (cell left)
        TRINODE& t = out[index[cell + 1]];
        t = TRINODE{{x0, x1, x0}, {y0, y1, y1}, {at(i, j, 0), at(i, j + 1, 0), at(i - 1, j, 0)}};
      }
    }
  *count = int(n);
  return out;
}
