#include "VolumeProjection.h"

#include <cmath>
#include <cstring>

namespace {

// For each projection axis: the volume axis it runs along and whether it runs against it.
struct AxisMap {
  int axis[3];
  bool reversed[3];
};

// Quarter turns of an angle in degrees (0..3); false when it is not a multiple of 90.
bool quarterTurns(double degrees, int* turns) {
  if (!std::isfinite(degrees)) return false;
  const double q = degrees / 90.0, r = std::nearbyint(q);
  if (std::fabs(q - r) > 1e-6) return false;
  *turns = int(std::fmod(std::fmod(r, 4.0) + 4.0, 4.0));
  return true;
}

using Matrix = int[3][3];

void multiply(const Matrix a, const Matrix b, Matrix out) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      int s = 0;
      for (int k = 0; k < 3; ++k) s += a[i][k] * b[k][j];
      out[i][j] = s;
    }
}

// R = Rz * Ry * Rx; column k of R is the volume direction of projection axis k.
bool computeAxisMap(const VA_VOLPROJ* proj, AxisMap* map) {
  int qx, qy, qz;
  if (!quarterTurns(proj->rotation[0], &qx) || !quarterTurns(proj->rotation[1], &qy) ||
      !quarterTurns(proj->rotation[2], &qz))
    return false;
  static const int cosTable[4] = {1, 0, -1, 0}, sinTable[4] = {0, 1, 0, -1};
  const int cx = cosTable[qx], sx = sinTable[qx], cy = cosTable[qy], sy = sinTable[qy];
  const int cz = cosTable[qz], sz = sinTable[qz];
  const Matrix rx = {{1, 0, 0}, {0, cx, -sx}, {0, sx, cx}};
  const Matrix ry = {{cy, 0, sy}, {0, 1, 0}, {-sy, 0, cy}};
  const Matrix rz = {{cz, -sz, 0}, {sz, cz, 0}, {0, 0, 1}};
  Matrix ryx, r;
  multiply(ry, rx, ryx);
  multiply(rz, ryx, r);
  for (int k = 0; k < 3; ++k)
    for (int row = 0; row < 3; ++row)
      if (r[row][k] != 0) {
        map->axis[k] = row;
        map->reversed[k] = r[row][k] < 0;
      }
  return true;
}

// The map of the last rotations asked for on this thread: a view maps every point of a contour and
// every box it draws through the same record.
bool axisMap(const VA_VOLPROJ* proj, AxisMap* map) {
  struct Last {
    double rotation[3];
    bool ok = false;
    bool valid = false;
    AxisMap map;
  };
  thread_local Last last;
  if (last.valid && std::memcmp(last.rotation, proj->rotation, sizeof last.rotation) == 0) {
    if (last.ok) *map = last.map;
    return last.ok;
  }
  std::memcpy(last.rotation, proj->rotation, sizeof last.rotation);
  last.ok = computeAxisMap(proj, &last.map);
  last.valid = true;
  if (last.ok) *map = last.map;
  return last.ok;
}

}  // namespace

bool VA_IsOrthoProj(const VA_VOLPROJ* proj) {
  AxisMap m;
  return proj && axisMap(proj, &m);
}

bool VA_VolProjDimensions(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, DIM3D* out, SPC* outSpc) {
  AxisMap m;
  if (!dims || !proj || !out || !axisMap(proj, &m)) return false;
  const int size[3] = {dims->w, dims->h, dims->d};
  const DIM3D r{size[m.axis[0]], size[m.axis[1]], size[m.axis[2]], dims->t};
  if (outSpc) {
    if (!spc) return false;
    const double s[3] = {spc->x, spc->y, spc->z};
    *outSpc = SPC{s[m.axis[0]], s[m.axis[1]], s[m.axis[2]]};
  }
  *out = r;
  return true;
}

bool VA_VolBoxProjConversion(const DIM3D* dims, const SPC* /*spc*/, const VA_VOLPROJ* proj, const DRECT3D* in,
                             DRECT3D* out, int direction) {
  AxisMap m;
  if (!dims || !proj || !in || !out || (direction != 0 && direction != 1) || !axisMap(proj, &m)) return false;
  const double size[3] = {double(dims->w), double(dims->h), double(dims->d)};
  const double lo[3] = {in->x0, in->y0, in->z0}, hi[3] = {in->x1, in->y1, in->z1};
  double rlo[3], rhi[3];
  for (int k = 0; k < 3; ++k) {
    const int a = m.axis[k];
    // Projection axis k runs along volume axis a: direction 1 reads axis a into k, direction 0 the reverse.
    const int from = direction == 1 ? a : k, to = direction == 1 ? k : a;
    if (m.reversed[k]) {
      rlo[to] = size[a] - hi[from];
      rhi[to] = size[a] - lo[from];
    } else {
      rlo[to] = lo[from];
      rhi[to] = hi[from];
    }
  }
  *out = DRECT3D{rlo[0], rlo[1], rlo[2], rhi[0], rhi[1], rhi[2]};
  return true;
}

bool VA_VolProjConversion(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, const DPOINT3D* in,
                          DPOINT3D* out, int direction) {
  if (!in || !out) return false;
  const DRECT3D box{in->x, in->y, in->z, in->x, in->y, in->z};
  DRECT3D r;
  if (!VA_VolBoxProjConversion(dims, spc, proj, &box, &r, direction)) return false;
  *out = DPOINT3D{r.x0, r.y0, r.z0};
  return true;
}
