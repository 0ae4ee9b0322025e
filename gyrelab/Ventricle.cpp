// The white-matter seed finder and the lateral-ventricle segmentation.
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "BrainSteps.h"
#include "Gyrelab.h"
#include "TwkMem.h"
#include "Vol.h"
#include "registration/Transform.h"
#include "roi/RoiComponents.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

// The mean of time point t over its defined voxels; false when none is defined.
bool volumeAverage(const FRAME* f, int t, double* mean) {
  const bool real = f->type == FRM_REAL, int32 = PR_VolBpv(f) == 32;
  std::vector<double> sums(size_t(f->dim.d), 0.0);
  std::vector<int64_t> counts(size_t(f->dim.d), 0);
  tbb::parallel_for(0, f->dim.d, [&](int z) {
    double s = 0;
    int64_t c = 0;
    for (int y = 0; y < f->dim.h; ++y)
      for (int x = 0; x < f->dim.w; ++x) {
        const double v = twk::voxelValue(f, x, y, z, t);
        if ((real && v == VOID_VALUE) || (int32 && v == double(VOID_INT_VALUE))) continue;
        s += v;
        ++c;
      }
    sums[size_t(z)] = s;
    counts[size_t(z)] = c;
  });
  double s = 0;
  int64_t c = 0;
  for (size_t z = 0; z < sums.size(); ++z) s += sums[z], c += counts[z];
  if (c == 0) return false;
  *mean = s / double(c);
  return true;
}

// Odd voxel count of a cube side: floor(size / voxel + 0.5) with the lowest bit set.
int cubeVoxels(double sizeMm, double voxel) { return int(std::floor(sizeMm / voxel + 0.5)) | 1; }

}  // namespace

bool BP_VoldFindWMseedBasic(const FRAME* frame, const SPC* spc, int t, double cubeSizeMm, int direction,
                            DRECT3D* seed, bool show) {
  const wchar_t* name = L"BP_VoldFindWMseedBasic";
  if (!frame || !frame->data || frame->type == FRM_ROI || !spc || !seed) return false;
  if (frame->type != FRM_INT && frame->type != FRM_REAL) return false;
  const DIM3D& d = frame->dim;
  const int time = d.t == 1 ? 0 : t;
  if (time < 0 || time >= d.t || direction < 0 || direction > 2) return false;
  const int nx = cubeVoxels(cubeSizeMm, spc->x), ny = cubeVoxels(cubeSizeMm, spc->y),
            nz = cubeVoxels(cubeSizeMm, spc->z);
  const int hx = std::min(d.w, nx) / 2, hy = std::min(d.h, ny) / 2, hz = std::min(d.d, nz) / 2;
  double average = 0;
  if (!volumeAverage(frame, time, &average)) return false;
  twk::ProgressGuard progress(L"Detecting WM seed...", show);
  // A volume thinner than the cube across the search direction has no slab to search in.
  static const wchar_t* const kTooSmall[3] = {L"Volume is to small in X-direction.",
                                              L"Volume is to small Y-direction.",
                                              L"Volume is to small Z-direction."};
  const int size[3] = {d.w, d.h, d.d}, cube[3] = {nx, ny, nz};
  if (size[direction] < cube[direction]) {
    progress.End();
    gyrelab::reportFailure(name, kTooSmall[direction]);
    return false;
  }
  // The slab through the middle across the direction, clamped to the grid, read once as doubles.
  RECT3D slab{0, 0, 0, d.w - 1, d.h - 1, d.d - 1};
  const int half[3] = {hx, hy, hz};
  int* lo[3] = {&slab.x0, &slab.y0, &slab.z0};
  int* hi[3] = {&slab.x1, &slab.y1, &slab.z1};
  const int centre = size[direction] / 2;
  *lo[direction] = std::max(0, centre - half[direction]);
  *hi[direction] = std::min(size[direction] - 1, centre + half[direction]);
  double* box = static_cast<double*>(VA_VolGetBox(frame, time, &slab, 64, 1, 0));
  if (!box) return false;
  const bool voidInt = frame->type == FRM_INT && PR_VolBpv(frame) == 32;
  const int bw = slab.x1 - slab.x0 + 1, bh = slab.y1 - slab.y0 + 1;
  auto at = [&](int x, int y, int z) {
    return box[(int64_t(z - slab.z0) * bh + (y - slab.y0)) * bw + (x - slab.x0)];
  };
  // Candidate centres: the middle plane of the slab, every position whose cube lies in the grid.
  const int inner = direction == 0 ? 1 : 0, outer = direction == 2 ? 1 : 2;
  struct Best {
    double score = 0;
    int64_t order = -1;
    int x = 0, y = 0, z = 0;
  };
  const int outerN = size[outer] - 2 * half[outer], innerN = size[inner] - 2 * half[inner];
  std::vector<Best> rows(size_t(std::max(outerN, 0)));
  tbb::parallel_for(0, std::max(outerN, 0), [&](int oi) {
    Best best;
    for (int ii = 0; ii < innerN; ++ii) {
      int c[3];
      c[direction] = centre;
      c[outer] = half[outer] + oi;
      c[inner] = half[inner] + ii;
      double sum = 0, sum2 = 0;
      int64_t count = 0;
      for (int z = c[2] - hz; z <= c[2] + hz; ++z)
        for (int y = c[1] - hy; y <= c[1] + hy; ++y)
          for (int x = c[0] - hx; x <= c[0] + hx; ++x) {
            if (z < slab.z0 || z > slab.z1 || y < slab.y0 || y > slab.y1 || x < slab.x0 || x > slab.x1) continue;
            const double v = at(x, y, z);
            if (v == VOID_VALUE || (voidInt && v == double(VOID_INT_VALUE))) continue;
            sum += v;
            sum2 += v * v;
            ++count;
          }
      if (count == 0) continue;
      const double mean = sum / double(count);
      if (!(mean > average)) continue;
      const double variance = (sum2 - mean * sum) / double(count);
      if (std::fabs(variance) < 1e-100 || variance < 0) continue;
      const double score = mean / std::sqrt(variance);
      // Strictly greater wins: the first of equal scores in the scan order stays.
      if (score > best.score) best = Best{score, int64_t(oi) * innerN + ii, c[0], c[1], c[2]};
    }
    rows[size_t(oi)] = best;
  });
  pf_free(&box);
  Best best;
  for (const Best& row : rows)
    if (row.order >= 0 && row.score > best.score) best = row;
  progress.End();
  // No cube above the average with a spread: no seed (a box at the corner would seed nonsense).
  if (best.order < 0) return false;
  *seed = DRECT3D{double(best.x - hx), double(best.y - hy), double(best.z - hz),
                  double(best.x + hx + 1), double(best.y + hy + 1), double(best.z + hz + 1)};
  return true;
}

FRAME* BP_BrainSegmentLateralVentricle(const VA_LATERALVENTRSEG* record, const CVol* volume, const FRAME* voxels,
                                       bool show) {
  if (!record || !volume || !voxels || !voxels->data) return nullptr;
  gyrelab::Frames frames;
  double s = 1, m[16];
  FRAME*& rotated = frames.add(gyrelab::rotateToStandardIsotropic(volume, voxels, &s, m, show));
  if (!rotated) return nullptr;
  const SPC iso{s, s, s};
  DRECT3D seed;
  if (!BP_VoldFindWMseedBasic(rotated, &iso, 0, 10.0, 1, &seed, show)) return nullptr;
  const VA_EW brain =
      gyrelab::brainMaskRecord(record->brainMaskSiLow, 100.0, record->brainMaskPeel, record->brainMaskGrow);
  FRAME*& mask = frames.add(VA_EdgeWave(&brain, rotated, &iso, &seed, 1, nullptr, nullptr, show));
  PR_FrameDelete(&rotated);
  if (!mask) return nullptr;
  twk::ProgressGuard progress(L"Detect lateral ventricle MR", show);
  FRAME*& holes = frames.add(VA_RoiExtractHoles3D(mask, show));
  if (!holes) return nullptr;
  const VA_EW wave = gyrelab::ventricleRecord(brain, record->ventricleMinWidth, record->ventricleGrow);
  FRAME*& ventricle = frames.add(VA_EdgeWave(&wave, holes, &iso, nullptr, 0, nullptr, nullptr, false));
  if (!ventricle) return nullptr;
  FRAME*& largest =
      frames.add(VA_RoiExtractUptoNLargestCCs(ventricle, 0, std::max(1, record->maxComponents), 26, false, show));
  if (!largest) return nullptr;
  // Back into the given grid: the inverse of the rotation's target-to-source matrix.
  double back[16];
  if (!PR_MatxInverse(m, back)) return nullptr;
  return gyrelab::resliceRoi(back, largest, voxels->dim, show);
}
