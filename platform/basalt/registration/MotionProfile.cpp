// The motion profile: lines through a voxel over time, laid side by side.
#include "registration/MotionProfile.h"

#include <vector>

#include "TwkMem.h"

namespace {

struct AXIS {
  int length;
  int64_t stride;  // voxels between neighbours along the axis
  int64_t offset;  // the point's voxel index without its coordinate along the axis
};

// Writes the band of one series starting at row `top`.
void writeBand(const double* series, const uint8_t* mask, bool useMask, bool equalize, const std::vector<AXIS>& axes,
               int64_t volume, int T, int width, int top, double* out) {
  int column = 0;
  for (const AXIS& axis : axes) {
    std::vector<double> rowMean(size_t(T), 0.0);
    std::vector<int64_t> rowCount(size_t(T), 0);
    for (int t = 0; t < T; ++t) {
      double* row = out + int64_t(top + t) * width + column;
      for (int i = 0; i < axis.length; ++i) {
        const int64_t voxel = axis.offset + i * axis.stride;
        double v = series[int64_t(t) * volume + voxel];
        if (useMask && !mask[voxel]) v = VOID_VALUE;
        row[i] = v;
        if (v != VOID_VALUE) {
          rowMean[size_t(t)] += v;
          ++rowCount[size_t(t)];
        }
      }
    }
    if (equalize) {
      double sum = 0;
      int64_t count = 0;
      for (int t = 0; t < T; ++t) {
        sum += rowMean[size_t(t)];
        count += rowCount[size_t(t)];
      }
      const double blockMean = count ? sum / double(count) : 0.0;
      for (int t = 0; t < T; ++t) {
        if (!rowCount[size_t(t)] || rowMean[size_t(t)] == 0) continue;
        const double scale = blockMean / (rowMean[size_t(t)] / double(rowCount[size_t(t)]));
        double* row = out + int64_t(top + t) * width + column;
        for (int i = 0; i < axis.length; ++i)
          if (row[i] != VOID_VALUE) row[i] *= scale;
      }
    }
    column += axis.length + 1;
  }
}

}  // namespace

double* VA_VolMotionProfile(bool equalize, bool xAxis, bool yAxis, bool zAxis, const double* a, const double* b,
                            const uint8_t* mask, const DIM3D* dims, const uint32_t point[3], int* width,
                            int* height) {
  if (width) *width = 0;
  if (height) *height = 0;
  if (!a || !dims || !point || !width || !height) return nullptr;
  const DIM3D d = *dims;
  if (d.w < 1 || d.h < 1 || d.d < 1 || d.t < 1) return nullptr;
  if (point[0] >= uint32_t(d.w) || point[1] >= uint32_t(d.h) || point[2] >= uint32_t(d.d)) return nullptr;
  const int64_t x = point[0], y = point[1], z = point[2];
  const int64_t line = d.w, slice = int64_t(d.w) * d.h;
  std::vector<AXIS> axes;
  if (xAxis) axes.push_back({d.w, 1, y * line + z * slice});
  if (yAxis) axes.push_back({d.h, line, x + z * slice});
  if (zAxis) axes.push_back({d.d, slice, x + y * line});
  if (axes.empty()) return nullptr;

  int w = int(axes.size()) - 1;
  for (const AXIS& axis : axes) w += axis.length;
  const int h = b ? 2 * d.t + 1 : d.t;
  double* out = static_cast<double*>(pf_malloc(int64_t(w) * h * int64_t(sizeof(double))));
  if (!out) return nullptr;
  for (int64_t i = 0; i < int64_t(w) * h; ++i) out[i] = VOID_VALUE;

  const int64_t volume = slice * d.d;
  bool useMask = false;
  for (int64_t i = 0; mask && !useMask && i < volume; ++i) useMask = mask[i] != 0;
  writeBand(a, mask, useMask, equalize, axes, volume, d.t, w, 0, out);
  if (b) writeBand(b, mask, useMask, equalize, axes, volume, d.t, w, d.t + 1, out);
  *width = w;
  *height = h;
  return out;
}
