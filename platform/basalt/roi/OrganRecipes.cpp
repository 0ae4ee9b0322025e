#include "roi/OrganRecipes.h"

#include <Eigen/Dense>
#include <oneapi/tbb/blocked_range.h>
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
#include "roi/RoiDistance.h"
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
