#include "filters/FilterCore.h"

#include "volume/Frame.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

namespace twk::filters {

bool isVoidVoxel(const FRAME* frame, double value) {
  if (frame->type == FRM_REAL) return value == VOID_VALUE;
  if (frame->type == FRM_INT && frame->bpv == 32) return value == double(VOID_INT_VALUE);
  return false;
}

bool readSlice(const FRAME* frame, int t, int z, double* v, uint8_t* valid) {
  if (!frame || !frame->data || t < 0 || t >= frame->dim.t || z < 0 || z >= frame->dim.d) return false;
  const RECT3D box{0, 0, z, frame->dim.w - 1, frame->dim.h - 1, z};
  if (!VA_VolGetBox(frame, t, &box, v, 64, 1.0, 0.0)) return false;
  const int64_t n = int64_t(frame->dim.w) * frame->dim.h;
  std::fill(valid, valid + n, uint8_t(1));
  if (frame->type == FRM_REAL || (frame->type == FRM_INT && frame->bpv == 32)) {
    const double voidValue = frame->type == FRM_REAL ? VOID_VALUE : double(VOID_INT_VALUE);
    for (int64_t i = 0; i < n; ++i)
      if (v[i] == voidValue || !std::isfinite(v[i])) valid[i] = 0, v[i] = VOID_VALUE;
  }
  return true;
}

bool readTimePoint(const FRAME* frame, int t, Volume3* out) {
  if (!frame || !frame->data || t < 0 || t >= frame->dim.t) return false;
  out->w = frame->dim.w;
  out->h = frame->dim.h;
  out->d = frame->dim.d;
  const int64_t n = out->size();
  out->v.resize(size_t(n));
  out->valid.assign(size_t(n), 1);
  const RECT3D box{0, 0, 0, out->w - 1, out->h - 1, out->d - 1};
  if (!VA_VolGetBox(frame, t, &box, out->v.data(), 64, 1.0, 0.0)) return false;
  bool anyVoid = false;
  if (frame->type == FRM_REAL || (frame->type == FRM_INT && frame->bpv == 32)) {
    const double voidValue = frame->type == FRM_REAL ? VOID_VALUE : double(VOID_INT_VALUE);
    for (int64_t i = 0; i < n; ++i)
      if (out->v[size_t(i)] == voidValue || !std::isfinite(out->v[size_t(i)])) {
        out->valid[size_t(i)] = 0;
        out->v[size_t(i)] = VOID_VALUE;
        anyVoid = true;
      }
  }
  out->hasVoid = anyVoid;
  return true;
}

bool writeTimePoint(FRAME* frame, int t, const double* values) {
  const RECT3D box{0, 0, 0, frame->dim.w - 1, frame->dim.h - 1, frame->dim.d - 1};
  return VA_VolSetBox(frame, t, &box, values, 64);
}

double kernelWeight(int kernel, double rho, double radius) {
  const double sigma = std::max(radius, 1e-6) / 2.0;
  switch (kernel) {
    case 1: return std::exp(-rho * rho / (2 * sigma * sigma));
    case 2: return 1.0 - rho / (radius + 1.0);
    case 3: {
      const double q = rho + 0.5;
      return q * std::exp(-q * q / (2 * sigma * sigma));
    }
    default: return 1.0;
  }
}

std::vector<Offset> ballOffsets(double radius, const SPC* spc, bool inPlane, int kernel) {
  const SPC s = spc ? *spc : SPC{};
  const double smallest = std::min({s.x, s.y, s.z});
  const double rmm = std::max(radius, 0.0) * smallest;
  const int rx = int(std::floor(rmm / s.x + 1e-9)), ry = int(std::floor(rmm / s.y + 1e-9));
  const int rz = inPlane ? 0 : int(std::floor(rmm / s.z + 1e-9));
  std::vector<Offset> out;
  for (int dz = -rz; dz <= rz; ++dz)
    for (int dy = -ry; dy <= ry; ++dy)
      for (int dx = -rx; dx <= rx; ++dx) {
        const double mm = std::sqrt(dx * s.x * dx * s.x + dy * s.y * dy * s.y + dz * s.z * dz * s.z);
        if (mm > rmm + 1e-9 * std::max(1.0, rmm)) continue;
        const double rho = mm / smallest;
        out.push_back(Offset{dx, dy, dz, rho, kernelWeight(kernel, rho, radius)});
      }
  return out;
}

void separableHalfWidths(double radius, const SPC* spc, int half[3]) {
  const SPC s = spc ? *spc : SPC{};
  const double smallest = std::min({s.x, s.y, s.z});
  const double spacing[3] = {s.x, s.y, s.z};
  for (int a = 0; a < 3; ++a) half[a] = int(std::floor(std::max(radius, 0.0) * smallest / spacing[a] + 1e-9));
}

}  // namespace twk::filters
