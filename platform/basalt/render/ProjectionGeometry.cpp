#include "ProjectionGeometry.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "Vol.h"
#include "volume/VolumeProjection.h"

void VA_InitVOLPROJ(VA_VOLPROJ* proj) {
  if (!proj) return;
  *proj = VA_VOLPROJ{};
  proj->mode = 1;
}

bool VA_CopyVOLPROJ(VA_VOLPROJ* dst, const VA_VOLPROJ* src) {
  if (!dst || !src) return false;
  CDrawView* view = dst->view;
  *dst = *src;
  dst->view = view;
  return true;
}

namespace {

constexpr double kPi = 3.14159265358979323846;

// R = Rz * Ry * Rx for angles in degrees; column k is the volume direction of projection axis k.
void rotationMatrix(const double degrees[3], double r[3][3]) {
  const double ax = degrees[0] * kPi / 180, ay = degrees[1] * kPi / 180, az = degrees[2] * kPi / 180;
  const double cx = std::cos(ax), sx = std::sin(ax), cy = std::cos(ay), sy = std::sin(ay);
  const double cz = std::cos(az), sz = std::sin(az);
  const double rx[3][3] = {{1, 0, 0}, {0, cx, -sx}, {0, sx, cx}};
  const double ry[3][3] = {{cy, 0, sy}, {0, 1, 0}, {-sy, 0, cy}};
  const double rz[3][3] = {{cz, -sz, 0}, {sz, cz, 0}, {0, 0, 1}};
  double ryx[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      ryx[i][j] = 0;
      for (int k = 0; k < 3; ++k) ryx[i][j] += ry[i][k] * rx[k][j];
    }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      r[i][j] = 0;
      for (int k = 0; k < 3; ++k) r[i][j] += rz[i][k] * ryx[k][j];
    }
}

// Projection point to volume point and back through a map.
DPOINT3D toVolume(const VA_PROJMAP& m, DPOINT3D q) {
  const double in[3] = {q.x, q.y, q.z};
  double out[3];
  for (int j = 0; j < 3; ++j) out[j] = m.matrix[j][0] * in[0] + m.matrix[j][1] * in[1] + m.matrix[j][2] * in[2] + m.matrix[j][3];
  return {out[0], out[1], out[2]};
}

// Inverse of the affine map (its 3x3 part is a scaled rotation or a signed permutation).
DPOINT3D toProjection(const VA_PROJMAP& m, DPOINT3D v) {
  const double a[3][3] = {{m.matrix[0][0], m.matrix[0][1], m.matrix[0][2]},
                          {m.matrix[1][0], m.matrix[1][1], m.matrix[1][2]},
                          {m.matrix[2][0], m.matrix[2][1], m.matrix[2][2]}};
  const double d[3] = {v.x - m.matrix[0][3], v.y - m.matrix[1][3], v.z - m.matrix[2][3]};
  const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                     a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  double inv[3][3];
  inv[0][0] = (a[1][1] * a[2][2] - a[1][2] * a[2][1]) / det;
  inv[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det;
  inv[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det;
  inv[1][0] = (a[1][2] * a[2][0] - a[1][0] * a[2][2]) / det;
  inv[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
  inv[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det;
  inv[2][0] = (a[1][0] * a[2][1] - a[1][1] * a[2][0]) / det;
  inv[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det;
  inv[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det;
  double q[3];
  for (int k = 0; k < 3; ++k) q[k] = inv[k][0] * d[0] + inv[k][1] * d[1] + inv[k][2] * d[2];
  return {q[0], q[1], q[2]};
}

}  // namespace

bool VA_VolProjMap(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, VA_PROJMAP* map) {
  if (!dims || !proj || !map || dims->w < 1 || dims->h < 1 || dims->d < 1) return false;
  for (double a : proj->rotation)
    if (!std::isfinite(a)) return false;
  const SPC s = spc ? *spc : SPC{};
  if (!(s.x > 0) || !(s.y > 0) || !(s.z > 0)) return false;
  const double size[3] = {double(dims->w), double(dims->h), double(dims->d)};
  const double sp[3] = {s.x, s.y, s.z};
  VA_PROJMAP m;
  if (VA_IsOrthoProj(proj)) {
    // The quarter-turn map of the volume family, read off its box conversion of unit boxes.
    if (!VA_VolProjDimensions(dims, &s, proj, &m.dims, &m.spc)) return false;
    const DRECT3D origin{0, 0, 0, 0, 0, 0};
    DRECT3D o;
    VA_VolBoxProjConversion(dims, &s, proj, &origin, &o, 0);
    const double o3[3] = {o.x0, o.y0, o.z0};
    for (int k = 0; k < 3; ++k) {
      DRECT3D unit = origin, u;
      (&unit.x0)[k] = 1;
      (&unit.x1)[k] = 1;
      VA_VolBoxProjConversion(dims, &s, proj, &unit, &u, 0);
      const double u3[3] = {u.x0, u.y0, u.z0};
      for (int j = 0; j < 3; ++j) {
        m.matrix[j][k] = u3[j] - o3[j];
        if (m.matrix[j][k] != 0) {
          m.axis[k] = j;
          m.reversed[k] = m.matrix[j][k] < 0;
        }
      }
    }
    for (int j = 0; j < 3; ++j) m.matrix[j][3] = o3[j];
    m.ortho = true;
  } else {
    double r[3][3];
    rotationMatrix(proj->rotation, r);
    const double iso = std::min({s.x, s.y, s.z});
    int n[3];
    for (int k = 0; k < 3; ++k) {
      double extent = 0;
      for (int j = 0; j < 3; ++j) extent += std::fabs(r[j][k]) * size[j] * sp[j];
      // A thousandth of a voxel of overhang, as a plane just off a quarter turn has, adds no voxel.
      n[k] = std::max(1, int(std::ceil(extent / iso - 1e-3)));
    }
    m.dims = DIM3D{n[0], n[1], n[2], dims->t};
    m.spc = SPC{iso, iso, iso};
    for (int j = 0; j < 3; ++j) {
      double offset = size[j] * sp[j] / 2;
      for (int k = 0; k < 3; ++k) {
        m.matrix[j][k] = iso * r[j][k] / sp[j];
        offset -= n[k] / 2.0 * iso * r[j][k];
      }
      m.matrix[j][3] = offset / sp[j];
    }
    m.ortho = false;
  }
  *map = m;
  return true;
}

bool VA_GetProjSpc(const VA_VOLPROJ* proj, const SPC* spc, SPC* out) {
  if (!proj || !out) return false;
  // The spacing of the map does not depend on the volume's size.
  const DIM3D one{1, 1, 1, 1};
  VA_PROJMAP map;
  if (!VA_VolProjMap(&one, spc, proj, &map)) return false;
  *out = map.spc;
  return true;
}

bool VA_VolProjGridDimensions(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, DIM3D* out, SPC* outSpc) {
  VA_PROJMAP m;
  if (!out || !VA_VolProjMap(dims, spc, proj, &m)) return false;
  *out = m.dims;
  if (outSpc) *outSpc = m.spc;
  return true;
}

bool VA_VolProjGridBoxConversion(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, const DRECT3D* in,
                                 DRECT3D* out, int direction) {
  if (!in || !out || (direction != 0 && direction != 1)) return false;
  if (proj && VA_IsOrthoProj(proj)) {
    const SPC s = spc ? *spc : SPC{};
    return VA_VolBoxProjConversion(dims, &s, proj, in, out, direction);
  }
  VA_PROJMAP m;
  if (!VA_VolProjMap(dims, spc, proj, &m)) return false;
  DRECT3D r{VOID_VALUE, VOID_VALUE, VOID_VALUE, -VOID_VALUE, -VOID_VALUE, -VOID_VALUE};
  for (int c = 0; c < 8; ++c) {
    const DPOINT3D p{c & 1 ? in->x1 : in->x0, c & 2 ? in->y1 : in->y0, c & 4 ? in->z1 : in->z0};
    const DPOINT3D q = direction == 0 ? toVolume(m, p) : toProjection(m, p);
    r.x0 = std::min(r.x0, q.x); r.y0 = std::min(r.y0, q.y); r.z0 = std::min(r.z0, q.z);
    r.x1 = std::max(r.x1, q.x); r.y1 = std::max(r.y1, q.y); r.z1 = std::max(r.z1, q.z);
  }
  *out = r;
  return true;
}

bool VA_VolProjGridConversion(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, const DPOINT3D* in,
                              DPOINT3D* out, int direction) {
  if (!in || !out || (direction != 0 && direction != 1)) return false;
  VA_PROJMAP m;
  if (!VA_VolProjMap(dims, spc, proj, &m)) return false;
  *out = direction == 0 ? toVolume(m, *in) : toProjection(m, *in);
  return true;
}

bool VA_IsFilmView(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj) {
  DIM3D pd;
  return proj && proj->filmView && VA_VolProjGridDimensions(dims, spc, proj, &pd) && pd.d > 1;
}

namespace {

struct FilmLayout {
  DIM3D pd;
  SPC ps;
  int cols = 1, rows = 1;
};

bool filmLayout(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, FilmLayout* f) {
  if (!VA_VolProjGridDimensions(dims, spc, proj, &f->pd, &f->ps)) return false;
  f->cols = f->rows = 1;
  if (proj->filmView && f->pd.d > 1) {
    // Columns for a film of roughly square millimetre extent.
    const double tileW = f->pd.w * f->ps.x, tileH = f->pd.h * f->ps.y;
    int cols = int(std::floor(std::sqrt(f->pd.d * tileH / tileW) + 0.5));
    cols = std::clamp(cols, 1, f->pd.d);
    f->cols = cols;
    f->rows = (f->pd.d + cols - 1) / cols;
  }
  return true;
}

}  // namespace

bool VA_VolProjFilmViewLayout(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, int* cols, int* rows) {
  FilmLayout f;
  if (!filmLayout(dims, spc, proj, &f)) return false;
  if (cols) *cols = f.cols;
  if (rows) *rows = f.rows;
  return true;
}

bool VA_FilmViewDimensions(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, int* width, int* height) {
  FilmLayout f;
  if (!filmLayout(dims, spc, proj, &f)) return false;
  if (width) *width = f.cols * f.pd.w;
  if (height) *height = f.rows * f.pd.h;
  return true;
}

bool VA_FilmViewTilePos(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, int slice, RECT2D* tile) {
  FilmLayout f;
  if (!tile || !filmLayout(dims, spc, proj, &f) || slice < 0 || slice >= f.pd.d) return false;
  const int cell = f.cols * f.rows > 1 ? slice : 0;
  const int col = cell % f.cols, row = cell / f.cols;
  *tile = RECT2D{col * f.pd.w, row * f.pd.h, (col + 1) * f.pd.w, (row + 1) * f.pd.h};
  return true;
}

bool VA_VolDisplayActualWorldRect(const DRECT* setRect, const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj,
                                  DRECT* out) {
  FilmLayout f;
  if (!setRect || !out || !filmLayout(dims, spc, proj, &f)) return false;
  DRECT r = *setRect;
  PR_DrectNormalize(&r);
  const double pictureW = f.cols * f.pd.w * f.ps.x, pictureH = f.rows * f.pd.h * f.ps.y;
  const double rw = r.x1 - r.x0, rh = r.y1 - r.y0;
  if (!(pictureW > 0) || !(pictureH > 0)) return false;
  if (!(rw > 0) || !(rh > 0)) {
    *out = r;
    return true;
  }
  const double scale = std::min(rw / pictureW, rh / pictureH);
  const double w = pictureW * scale, h = pictureH * scale;
  const double cx = (r.x0 + r.x1) / 2, cy = (r.y0 + r.y1) / 2;
  *out = DRECT{cx - w / 2, cy - h / 2, cx + w / 2, cy + h / 2};
  return true;
}

bool VA_DetermineVisibleSlices(double z0, double z1, int depth, int* first, int* last) {
  if (!first || !last || depth < 1 || !std::isfinite(z0) || !std::isfinite(z1)) return false;
  if (z0 > z1) std::swap(z0, z1);
  double a = std::floor(z0), b = z1 > z0 ? std::ceil(z1) - 1 : std::floor(z1);
  a = std::max(a, 0.0);
  b = std::min(b, double(depth - 1));
  if (a > b) return false;
  *first = int(a);
  *last = int(b);
  return true;
}

bool VA_IsValidOrientation(const double o[6]) {
  if (!o) return false;
  for (int i = 0; i < 6; ++i)
    if (!std::isfinite(o[i])) return false;
  const double n0 = o[0] * o[0] + o[1] * o[1] + o[2] * o[2];
  const double n1 = o[3] * o[3] + o[4] * o[4] + o[5] * o[5];
  const double dot = o[0] * o[3] + o[1] * o[4] + o[2] * o[5];
  return std::fabs(n0 - 1) < 1e-3 && std::fabs(n1 - 1) < 1e-3 && std::fabs(dot) < 1e-3;
}

bool VA_VolSliceDirection(const CVol* vol, double n[3]) {
  if (!vol || !n || !VA_IsValidOrientation(vol->orient)) return false;
  const double* o = vol->orient;
  n[0] = o[1] * o[5] - o[2] * o[4];
  n[1] = o[2] * o[3] - o[0] * o[5];
  n[2] = o[0] * o[4] - o[1] * o[3];
  const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (!(length > 0)) return false;
  for (int c = 0; c < 3; ++c) n[c] /= length;
  // Slices may be stored against the normal (a left-handed voxel grid, as many NIfTI files are).
  if (vol->imgPos && vol->frame && vol->frame->dim.d > 1) {
    const DPOINT3D& a = vol->imgPos[0];
    const DPOINT3D& b = vol->imgPos[vol->frame->dim.d - 1];
    const double along = (b.x - a.x) * n[0] + (b.y - a.y) * n[1] + (b.z - a.z) * n[2];
    if (std::isfinite(along) && along < 0)
      for (int c = 0; c < 3; ++c) n[c] = -n[c];
  }
  return true;
}

namespace {

// Letters of a patient direction, the strongest component first.
CString directionLetters(const double d[3]) {
  static const wchar_t positive[3] = {L'L', L'P', L'S'}, negative[3] = {L'R', L'A', L'I'};
  int order[3] = {0, 1, 2};
  std::sort(order, order + 3, [&](int a, int b) { return std::fabs(d[a]) > std::fabs(d[b]); });
  CString text;
  for (int k : order)
    if (std::fabs(d[k]) > 1e-3) text += d[k] > 0 ? positive[k] : negative[k];
  return text;
}

}  // namespace

bool VA_GenerateOrientTxt(const CVol* vol, const VA_VOLPROJ* proj, CString texts[4]) {
  if (!vol || !vol->frame || !proj || !texts) return false;
  double o[6] = {1, 0, 0, 0, 1, 0};
  double normal[3] = {0, 0, 1};
  if (VA_IsValidOrientation(vol->orient)) {
    std::copy(vol->orient, vol->orient + 6, o);
    VA_VolSliceDirection(vol, normal);
  }
  const double* axes[3] = {o, o + 3, normal};
  VA_PROJMAP m;
  if (!VA_VolProjMap(vol->Dim(), vol->Spc(), proj, &m)) return false;
  // Patient direction of projection axes 0 (right) and 1 (down): the volume step of each axis in
  // millimetres, carried into patient space.
  const double sp[3] = {vol->spc.x, vol->spc.y, vol->spc.z};
  double dir[2][3] = {{0, 0, 0}, {0, 0, 0}};
  for (int k = 0; k < 2; ++k)
    for (int j = 0; j < 3; ++j)
      for (int c = 0; c < 3; ++c) dir[k][c] += m.matrix[j][k] * sp[j] * axes[j][c];
  const double left[3] = {-dir[0][0], -dir[0][1], -dir[0][2]}, up[3] = {-dir[1][0], -dir[1][1], -dir[1][2]};
  texts[0] = directionLetters(up);
  texts[1] = directionLetters(dir[1]);
  texts[2] = directionLetters(left);
  texts[3] = directionLetters(dir[0]);
  return true;
}
