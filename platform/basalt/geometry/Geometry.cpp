#include "geometry/Geometry.h"

#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "DicomRec.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "docsupport/DocSupport.h"
#include "render/ProjectionGeometry.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

bool validSpacing(const SPC& s) {
  for (double v : {s.x, s.y, s.z})
    if (!std::isfinite(v) || !(v > 0)) return false;
  return true;
}

bool validDims(const DIM3D* d) { return d && d->w >= 1 && d->h >= 1 && d->d >= 1; }

// Quarter-turn matrix of one axis code (1 x, 2 y, 3 z) and angle; false off quarter turns.
bool quarterTurn(int axis, double angle, double r[3][3]) {
  const double turns = angle / 90.0;
  if (!std::isfinite(turns) || std::fabs(turns - std::round(turns)) > 1e-9) return false;
  VA_RotationMatrix(axis == 1 ? angle : 0, axis == 2 ? angle : 0, axis == 3 ? angle : 0, r);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r[i][j] = std::round(r[i][j]);
  return true;
}

void multiply(const double a[3][3], const double b[3][3], double out[3][3]) {
  double m[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
  std::memcpy(out, m, sizeof m);
}

// The signed permutation of an orthogonal rotation record. The turns act on the volume in order
// (the first turn first): the target-to-source map is R = R1 * R2 * R3.
bool orthoMatrix(const VA_ROT* rot, double r[3][3]) {
  double total[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (int k = 0; k < 3; ++k) {
    if (rot->axis[k] < 0 || rot->axis[k] > 3) return false;
    if (rot->axis[k] == 0) continue;
    double q[3][3];
    if (!quarterTurn(rot->axis[k], rot->angle[k], q)) return false;
    multiply(total, q, total);
  }
  std::memcpy(r, total, sizeof total);
  return true;
}

// Replaces the records of a new volume by the source's cloned for its dimensions.
void cloneRecordsForGrid(const CVol* source, CVol* vol) {
  DICOMREC** records = nullptr;
  int64_t count = 0;
  if (!VA_CloneDicomRecsWithNewGeometry(source, vol->Dim(), vol->Type(), &records, &count)) return;
  for (int64_t i = 0; i < vol->numDicom; ++i) delete vol->dicom[i];
  pf_free(&vol->dicom);
  vol->dicom = records;
  vol->numDicom = count;
}

}  // namespace

void VA_VolPatientFrame(const CVol* vol, double origin[3], double axes[3][3]) {
  double rows[3] = {1, 0, 0}, cols[3] = {0, 1, 0}, slice[3] = {0, 0, 1};
  if (vol && VA_IsValidOrientation(vol->orient) && VA_VolSliceDirection(vol, slice))
    for (int c = 0; c < 3; ++c) {
      rows[c] = vol->orient[c];
      cols[c] = vol->orient[3 + c];
    }
  for (int r = 0; r < 3; ++r) {
    axes[r][0] = rows[r];
    axes[r][1] = cols[r];
    axes[r][2] = slice[r];
  }
  origin[0] = origin[1] = origin[2] = 0;
  if (vol && vol->imgPos) {
    origin[0] = vol->imgPos[0].x;
    origin[1] = vol->imgPos[0].y;
    origin[2] = vol->imgPos[0].z;
  }
}

void VA_RotationMatrix(double ax, double ay, double az, double r[3][3]) {
  const double a = ax * kPi / 180, b = ay * kPi / 180, c = az * kPi / 180;
  const double rx[3][3] = {{1, 0, 0}, {0, std::cos(a), -std::sin(a)}, {0, std::sin(a), std::cos(a)}};
  const double ry[3][3] = {{std::cos(b), 0, std::sin(b)}, {0, 1, 0}, {-std::sin(b), 0, std::cos(b)}};
  const double rz[3][3] = {{std::cos(c), -std::sin(c), 0}, {std::sin(c), std::cos(c), 0}, {0, 0, 1}};
  double ryx[3][3];
  multiply(ry, rx, ryx);
  multiply(rz, ryx, r);
}

bool VA_RotationGrid(const DIM3D* dims, const SPC* spc, const SPC* targetSpc, double ax, double ay, double az,
                     bool preserve, bool singleSlice, DIM3D* targetDims, double matrix[16]) {
  if (!validDims(dims) || !spc || !targetSpc || !validSpacing(*spc) || !validSpacing(*targetSpc)) return false;
  if (!std::isfinite(ax) || !std::isfinite(ay) || !std::isfinite(az)) return false;
  double r[3][3];
  VA_RotationMatrix(ax, ay, az, r);
  const double n[3] = {double(dims->w), double(dims->h), double(dims->d)};
  const double s[3] = {spc->x, spc->y, spc->z}, t[3] = {targetSpc->x, targetSpc->y, targetSpc->z};
  int m[3];
  for (int k = 0; k < 3; ++k) {
    if (preserve) {
      m[k] = int(n[k]);
      continue;
    }
    double extent = 0;
    for (int j = 0; j < 3; ++j) extent += std::fabs(r[j][k]) * n[j] * s[j];
    // A thousandth of a voxel of overhang (a turn just off a quarter) adds no voxel.
    m[k] = std::max(1, int(std::ceil(extent / t[k] - 1e-3)));
  }
  if (singleSlice) m[2] = 1;
  // source index = S^-1 (R (T q - ct) + cs)
  double out[16] = {};
  for (int j = 0; j < 3; ++j) {
    double offset = (n[j] - 1) / 2 * s[j];
    for (int k = 0; k < 3; ++k) {
      out[4 * j + k] = r[j][k] * t[k] / s[j];
      offset -= r[j][k] * (m[k] - 1) / 2.0 * t[k];
    }
    out[4 * j + 3] = offset / s[j];
  }
  out[15] = 1;
  if (targetDims) *targetDims = DIM3D{m[0], m[1], m[2], dims->t};
  if (matrix) std::memcpy(matrix, out, sizeof out);
  return true;
}

FRAME* VA_VolRotation(const FRAME* frame, const SPC* spc, const DIM3D* targetDims, const SPC* targetSpc, double ax,
                      double ay, double az, bool preserve, bool singleSlice, int interpolation,
                      bool gaussianDownscale, int binaryThreshold, double matrix[16], bool show) {
  double m[16];
  DIM3D grid;
  const SPC target = targetSpc ? *targetSpc : (spc ? *spc : SPC{});
  if (!frame || !VA_RotationGrid(&frame->dim, spc, &target, ax, ay, az, preserve, singleSlice, &grid, m)) {
    if (show) twk::showNamedError(L"VA_VolRotation", L"Invalid volume, voxel size or angles");
    return nullptr;
  }
  if (targetDims && validDims(targetDims)) {
    // The caller's grid, centred the same way.
    const DIM3D wanted{targetDims->w, targetDims->h, targetDims->d, frame->dim.t};
    const int d[3] = {wanted.w, wanted.h, wanted.d}, g[3] = {grid.w, grid.h, grid.d};
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) m[4 * j + 3] += m[4 * j + k] * (g[k] - d[k]) / 2.0;
    grid = wanted;
  }
  if (matrix) std::memcpy(matrix, m, sizeof m);
  return VA_VolResample(frame, spc, m, &grid, &target, interpolation, gaussianDownscale, binaryThreshold, show);
}

bool VA_GeometryThroughMatrix(const CVol* source, const double matrix[16], const DIM3D* targetDims,
                              const SPC* targetSpc, double orient[6], DPOINT3D* positions) {
  if (!source || !matrix || !validDims(targetDims) || !targetSpc || !validSpacing(*targetSpc)) return false;
  double o[3], a[3][3];
  VA_VolPatientFrame(source, o, a);
  const double s[3] = {source->spc.x, source->spc.y, source->spc.z};
  // Patient step of one target voxel along axis k: A S M(:, k); the origin moves by A S m.
  double step[3][3], origin[3];
  for (int r = 0; r < 3; ++r) {
    origin[r] = o[r];
    for (int j = 0; j < 3; ++j) origin[r] += a[r][j] * s[j] * matrix[4 * j + 3];
    for (int k = 0; k < 3; ++k) {
      step[r][k] = 0;
      for (int j = 0; j < 3; ++j) step[r][k] += a[r][j] * s[j] * matrix[4 * j + k];
    }
  }
  double dir[3][3];
  for (int k = 0; k < 3; ++k) {
    const double len = std::sqrt(step[0][k] * step[0][k] + step[1][k] * step[1][k] + step[2][k] * step[2][k]);
    if (!(len > 0)) return false;
    for (int r = 0; r < 3; ++r) dir[r][k] = step[r][k] / len;
  }
  if (orient)
    for (int r = 0; r < 3; ++r) {
      orient[r] = dir[r][0];
      orient[3 + r] = dir[r][1];
    }
  if (positions)
    for (int z = 0; z < targetDims->d; ++z)
      positions[z] = DPOINT3D{origin[0] + step[0][2] * z, origin[1] + step[1][2] * z, origin[2] + step[2][2] * z};
  return true;
}

bool VA_DicomOrientation_ChangeByRotation(const CVol* vol, double ax, double ay, double az, const DIM3D* rotatedDims,
                                          const SPC* targetSpc, double orient[6], DPOINT3D* position) {
  if (!vol || !vol->frame || !validDims(rotatedDims) || !targetSpc) return false;
  DIM3D grid;
  double m[16];
  if (!VA_RotationGrid(vol->Dim(), vol->Spc(), targetSpc, ax, ay, az, false, false, &grid, m)) return false;
  // The same turn about the centre, on the caller's grid.
  const int g[3] = {grid.w, grid.h, grid.d}, d[3] = {rotatedDims->w, rotatedDims->h, rotatedDims->d};
  for (int j = 0; j < 3; ++j)
    for (int k = 0; k < 3; ++k) m[4 * j + 3] += m[4 * j + k] * (g[k] - d[k]) / 2.0;
  std::vector<DPOINT3D> positions(size_t(rotatedDims->d));
  if (!VA_GeometryThroughMatrix(vol, m, rotatedDims, targetSpc, orient, positions.data())) return false;
  if (position) *position = positions[0];
  return true;
}

CVol* VA_CloneResampled(const CVol* vol, FRAME** frame, const double matrix[16], const SPC* targetSpc, bool show) {
  if (!vol || !frame || !*frame || !targetSpc) return nullptr;
  const DIM3D tdims = (*frame)->dim;
  double orient[6];
  std::vector<DPOINT3D> positions(size_t(tdims.d));
  if (!VA_GeometryThroughMatrix(vol, matrix, &tdims, targetSpc, orient, positions.data())) {
    if (show) twk::showNamedError(L"VA_CloneResampled", L"Invalid geometry");
    return nullptr;
  }
  CVol* out = VA_CloneByReformat(vol, frame, targetSpc, orient, nullptr, show);
  if (!out) return nullptr;
  pf_free(&out->imgPos);
  out->imgPos = pf_duplicate(positions.data(), tdims.d);
  cloneRecordsForGrid(vol, out);
  return out;
}

CVol* VA_VolChangeResolution(const CVol* vol, const SPC* voxelSize, int interpolation, bool show) {
  auto fail = [&](const wchar_t* why) -> CVol* {
    if (show) twk::showNamedError(L"VA_VolChangeResolution", why);
    return nullptr;
  };
  if (!vol || !vol->frame || !vol->frame->data) return fail(L"Volumetric Entity is required");
  if (!voxelSize) return fail(L"Invalid resolution is specified");
  for (double v : {voxelSize->x, voxelSize->y, voxelSize->z})
    if (!std::isfinite(v) || v < 0.001) return fail(L"Invalid resolution is specified");
  if (!validSpacing(vol->spc)) return fail(L"Invalid voxel size");
  const double n[3] = {double(vol->W()), double(vol->H()), double(vol->D())};
  const double s[3] = {vol->spc.x, vol->spc.y, vol->spc.z};
  const double t[3] = {voxelSize->x, voxelSize->y, voxelSize->z};
  int m[3];
  double matrix[16] = {};
  for (int k = 0; k < 3; ++k) {
    m[k] = std::max(1, int(std::floor(n[k] * s[k] / t[k] + 0.5)));
    // Centres on centres: source index = (t (q - (m - 1) / 2) + s (n - 1) / 2) / s.
    matrix[5 * k] = t[k] / s[k];
    matrix[4 * k + 3] = ((n[k] - 1) / 2 * s[k] - (m[k] - 1) / 2.0 * t[k]) / s[k];
  }
  matrix[15] = 1;
  const DIM3D tdims{m[0], m[1], m[2], vol->T()};
  FRAME* frame = VA_VolResample(vol->frame, &vol->spc, matrix, &tdims, voxelSize, interpolation, false, 50, show);
  if (!frame) return nullptr;
  CVol* out = VA_CloneResampled(vol, &frame, matrix, voxelSize, show);
  PR_FrameDelete(&frame);
  return out;
}

bool VA_RotIsIdentity(const VA_ROT* rot) {
  if (!rot) return true;
  for (int k = 0; k < 3; ++k)
    if (rot->axis[k] != 0 && std::fmod(std::fabs(rot->angle[k]), 360.0) > 1e-9 &&
        std::fabs(std::fmod(std::fabs(rot->angle[k]), 360.0) - 360.0) > 1e-9)
      return false;
  return true;
}

bool VA_FitOrthoRotation_DstToSrcMatx(bool dstToSrc, const SPC* spc, const DIM3D* dims, const VA_ROT* rot,
                                      SPC* targetSpc, DIM3D* targetDims, double matrix[12]) {
  double r[3][3];
  if (!validDims(dims) || !rot || !orthoMatrix(rot, r)) return false;
  const int n[3] = {dims->w, dims->h, dims->d};
  const double s[3] = {spc ? spc->x : 1, spc ? spc->y : 1, spc ? spc->z : 1};
  int tn[3];
  double ts[3];
  double m[12] = {};
  for (int k = 0; k < 3; ++k)
    for (int j = 0; j < 3; ++j)
      if (r[j][k] != 0) {
        tn[k] = n[j];
        ts[k] = s[j];
      }
  for (int j = 0; j < 3; ++j) {
    double offset = 0;
    for (int k = 0; k < 3; ++k) {
      m[4 * j + k] = r[j][k];
      if (r[j][k] < 0) offset = n[j] - 1;
    }
    m[4 * j + 3] = offset;
  }
  if (!dstToSrc) {
    // q = R^T (src - offset)
    double inv[12] = {};
    for (int k = 0; k < 3; ++k) {
      double offset = 0;
      for (int j = 0; j < 3; ++j) {
        inv[4 * k + j] = r[j][k];
        offset -= r[j][k] * m[4 * j + 3];
      }
      inv[4 * k + 3] = offset;
    }
    std::memcpy(m, inv, sizeof m);
  }
  if (targetSpc) *targetSpc = SPC{ts[0], ts[1], ts[2]};
  if (targetDims) *targetDims = DIM3D{tn[0], tn[1], tn[2], dims->t};
  if (matrix) std::memcpy(matrix, m, sizeof m);
  return true;
}

CVol* VA_VolOrthoRotate(const CVol* vol, const VA_ROT* rot, bool keepWorld, bool show) {
  auto fail = [&](const wchar_t* why) -> CVol* {
    if (show) twk::showNamedError(L"CVol::OrthoRotate", why);
    return nullptr;
  };
  if (!vol || !vol->frame || !vol->frame->data || twk::voxelElemOf(vol->frame) == twk::VoxelElem::Invalid)
    return fail(L"Volumetric Entity is required");
  if (!rot || VA_RotIsIdentity(rot)) return fail(L"Rotation is not specified");
  double m[12];
  SPC tspc;
  DIM3D tdims;
  if (!VA_FitOrthoRotation_DstToSrcMatx(true, vol->Spc(), vol->Dim(), rot, &tspc, &tdims, m))
    return fail(L"Rotation must be made of quarter turns about the volume axes");
  const FRAME* src = vol->frame;
  FRAME* out = PR_FrameCreate(src->type, src->bpv, tdims, src->type == FRM_ROI);
  if (!out) return fail(L"Not enough memory");
  const twk::VoxelElem elem = twk::voxelElemOf(src);
  const int bytes = elem == twk::VoxelElem::Bit ? 0 : src->bpv / 8;
  // One pass over the target lines: every voxel is copied from the voxel the matrix points at.
  tbb::parallel_for(int64_t(0), int64_t(tdims.t) * tdims.d * tdims.h, [&](int64_t i) {
    const int y = int(i % tdims.h), z = int(i / tdims.h % tdims.d), t = int(i / (int64_t(tdims.h) * tdims.d));
    const int64_t bx = int64_t(m[1] * y + m[2] * z + m[3]), by = int64_t(m[5] * y + m[6] * z + m[7]),
                  bz = int64_t(m[9] * y + m[10] * z + m[11]);
    const int dx = int(m[0]), dy = int(m[4]), dz = int(m[8]);
    uint8_t* dst = twk::frameLine(out, y, z, t);
    if (dy == 0 && dz == 0 && dx == 1) {
      std::memcpy(dst, twk::frameLine(src, by, bz, t), size_t(src->lineBytes));
      return;
    }
    for (int64_t x = 0; x < tdims.w; ++x) {
      const uint8_t* line = twk::frameLine(src, by + dy * x, bz + dz * x, t);
      const int64_t sx = bx + dx * x;
      if (bytes == 0) twk::setBit(dst, x, twk::getBit(line, sx));
      else std::memcpy(dst + x * bytes, line + sx * bytes, size_t(bytes));
    }
  });
  double matrix[16] = {m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8], m[9], m[10], m[11], 0, 0, 0, 1};
  CVol* result = nullptr;
  if (keepWorld) {
    result = VA_CloneResampled(vol, &out, matrix, &tspc, show);
  } else {
    result = VA_CloneByReformat(vol, &out, &tspc, nullptr, nullptr, show);
    if (result) {
      pf_free(&result->imgPos);
      cloneRecordsForGrid(vol, result);
    }
  }
  PR_FrameDelete(&out);
  return result;
}

FRAME* VA_VolumePad(const FRAME* frame, int px, int py, int pz, bool endOnly, double value, DIM3D* dims, bool show) {
  auto fail = [&](const wchar_t* why) -> FRAME* {
    if (show) twk::showNamedError(L"VA_VolumePad", why);
    return nullptr;
  };
  if (!frame || !frame->data || twk::voxelElemOf(frame) == twk::VoxelElem::Invalid) return fail(L"Invalid volume");
  if (px < 0 || py < 0 || pz < 0) return fail(L"Pad size must not be negative");
  const int k = endOnly ? 1 : 2;
  const int64_t w = int64_t(frame->dim.w) + int64_t(k) * px, h = int64_t(frame->dim.h) + int64_t(k) * py,
                d = int64_t(frame->dim.d) + int64_t(k) * pz;
  if (w > INT_MAX || h > INT_MAX || d > INT_MAX) return fail(L"Pad size is too large");
  const DIM3D nd{int(w), int(h), int(d), frame->dim.t};
  FRAME* out = VA_VolCreateUniform(frame->type, nd, value, frame->bpv);
  if (!out) return fail(L"Not enough memory");
  const int ox = endOnly ? 0 : px, oy = endOnly ? 0 : py, oz = endOnly ? 0 : pz;
  const int64_t lines = int64_t(frame->dim.t) * frame->dim.d * frame->dim.h;
  const bool bits = frame->type == FRM_ROI;
  const int bytes = bits ? 0 : frame->bpv / 8;
  tbb::parallel_for(int64_t(0), lines, [&](int64_t i) {
    const int y = int(i % frame->dim.h), z = int(i / frame->dim.h % frame->dim.d),
              t = int(i / (int64_t(frame->dim.h) * frame->dim.d));
    const uint8_t* src = twk::frameLine(frame, y, z, t);
    uint8_t* dst = twk::frameLine(out, y + oy, z + oz, t);
    if (bits) {
      for (int64_t x = 0; x < frame->dim.w; ++x) twk::setBit(dst, x + ox, twk::getBit(src, x));
    } else {
      std::memcpy(dst + int64_t(ox) * bytes, src, size_t(frame->dim.w) * size_t(bytes));
    }
  });
  if (dims) *dims = nd;
  return out;
}

namespace {

bool roiBox(const FRAME* roi, int t0, int t1, RECT3D* box) {
  if (!roi || !box || roi->type != FRM_ROI || !roi->data) return false;
  RECT3D b{INT_MAX, INT_MAX, INT_MAX, -1, -1, -1};
  for (int t = t0; t <= t1; ++t)
    for (int z = 0; z < roi->dim.d; ++z)
      for (int y = 0; y < roi->dim.h; ++y) {
        const uint8_t* line = twk::frameLine(roi, y, z, t);
        for (int64_t byte = 0; byte < roi->lineBytes; ++byte) {
          if (!line[byte]) continue;
          for (int x = int(byte * 8); x < std::min<int64_t>(roi->dim.w, byte * 8 + 8); ++x) {
            if (!twk::getBit(line, x)) continue;
            b.x0 = std::min(b.x0, x); b.x1 = std::max(b.x1, x);
            b.y0 = std::min(b.y0, y); b.y1 = std::max(b.y1, y);
            b.z0 = std::min(b.z0, z); b.z1 = std::max(b.z1, z);
          }
        }
      }
  *box = b;
  return true;
}

}  // namespace

bool VA_RoiBoundRectAllTimes(const FRAME* roi, RECT3D* box) { return roi && roiBox(roi, 0, roi->dim.t - 1, box); }
bool VA_GetSingleBoundRect(const FRAME* roi, RECT3D* box) { return roiBox(roi, 0, 0, box); }

void VA_SetIdentityTransform(double matrix[16]) {
  if (!matrix) return;
  for (int i = 0; i < 16; ++i) matrix[i] = i % 5 == 0 ? 1.0 : 0.0;
}

DPOINT3D* VA_LoadLandmarkFile(const FRAME* frame, const wchar_t* path, int* count, bool show) {
  auto fail = [&](const CString& why) -> DPOINT3D* {
    if (show) twk::showNamedError(L"VA_LoadLandmarkFile", why);
    return nullptr;
  };
  if (count) *count = 0;
  if (!frame || !path || !count) return fail(L"Volumetric Entity is required");
  std::ifstream in(CString(path).toUtf8());
  if (!in) return fail(CString(L"Unable to open ") + path);
  std::vector<DPOINT3D> points;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    for (char& c : line)
      if (c == ',' || c == '\t' || c == '\r') c = ' ';
    const size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos || line[first] == '#') continue;
    std::istringstream fields(line);
    double v[3];
    std::string rest;
    if (!(fields >> v[0] >> v[1] >> v[2]) || (fields >> rest) || !std::isfinite(v[0]) || !std::isfinite(v[1]) ||
        !std::isfinite(v[2]))
      return fail(FmtStr(L"Invalid landmark line %d", number));
    if (v[0] < -0.5 || v[1] < -0.5 || v[2] < -0.5 || v[0] > frame->dim.w - 0.5 || v[1] > frame->dim.h - 0.5 ||
        v[2] > frame->dim.d - 0.5)
      return fail(FmtStr(L"Landmark %d is outside the volume", int(points.size()) + 1));
    points.push_back(DPOINT3D{v[0], v[1], v[2]});
  }
  if (points.empty()) return fail(L"No landmarks are found");
  DPOINT3D* out = pf_duplicate(points.data(), int64_t(points.size()));
  if (!out) return fail(L"Not enough memory");
  *count = int(points.size());
  return out;
}

bool VA_VolSetSpecifiedOrientation3AXIS(CVol* vol, const wchar_t* letters, bool show) {
  auto fail = [&](const wchar_t* why) {
    if (show) twk::showNamedError(L"CVol::SetSpecifiedOrientation3AXIS", why);
    return false;
  };
  if (!vol || !vol->frame) return fail(L"Volumetric Entity is required");
  // L, P, S point along +x, +y, +z of the patient; R, A, I against them.
  auto direction = [](wchar_t c, int* axis, int* sign) {
    switch (c == 0 ? 0 : std::towupper(c)) {
      case L'L': *axis = 0; *sign = 1; return true;
      case L'R': *axis = 0; *sign = -1; return true;
      case L'P': *axis = 1; *sign = 1; return true;
      case L'A': *axis = 1; *sign = -1; return true;
      case L'S': *axis = 2; *sign = 1; return true;
      case L'I': *axis = 2; *sign = -1; return true;
      default: return false;
    }
  };
  const wchar_t* bad = L"Orientation letters should be three pairs of opposite directions";
  if (!letters || std::wcslen(letters) != 6) return fail(bad);
  int axis[6], sign[6];
  for (int i = 0; i < 6; ++i)
    if (!direction(letters[i], &axis[i], &sign[i])) return fail(bad);
  bool used[3] = {false, false, false};
  for (int p = 0; p < 3; ++p) {
    if (axis[2 * p] != axis[2 * p + 1] || sign[2 * p] == sign[2 * p + 1] || used[axis[2 * p]]) return fail(bad);
    used[axis[2 * p]] = true;
  }
  // Row towards the right edge (letter 4), column towards the bottom (letter 2), slices towards the
  // last slice (letter 6).
  double orient[6] = {0, 0, 0, 0, 0, 0};
  orient[axis[3]] = sign[3];
  orient[3 + axis[1]] = sign[1];
  double slice[3] = {0, 0, 0};
  slice[axis[5]] = sign[5];
  if (!vol->SetOrientation(orient)) return fail(bad);
  const int d = vol->D();
  if (!vol->imgPos) vol->imgPos = static_cast<DPOINT3D*>(pf_calloc(int64_t(d) * int64_t(sizeof(DPOINT3D))));
  if (!vol->imgPos) return fail(L"Not enough memory");
  const DPOINT3D first = vol->imgPos[0];
  for (int z = 0; z < d; ++z)
    vol->imgPos[z] = DPOINT3D{first.x + slice[0] * vol->spc.z * z, first.y + slice[1] * vol->spc.z * z,
                              first.z + slice[2] * vol->spc.z * z};
  return true;
}

bool VA_VolSetImagePositions(CVol* vol, const DPOINT3D* start) {
  if (!vol || !vol->frame || !start || !VA_IsValidOrientation(vol->orient)) return false;
  const double* o = vol->orient;
  const double n[3] = {o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5], o[0] * o[4] - o[1] * o[3]};
  const int d = vol->D();
  if (!vol->imgPos) vol->imgPos = static_cast<DPOINT3D*>(pf_calloc(int64_t(d) * int64_t(sizeof(DPOINT3D))));
  if (!vol->imgPos) return false;
  for (int z = 0; z < d; ++z)
    vol->imgPos[z] = DPOINT3D{start->x + n[0] * vol->spc.z * z, start->y + n[1] * vol->spc.z * z,
                              start->z + n[2] * vol->spc.z * z};
  return true;
}

namespace {

// Resamples every time point of the volume through the target-to-source matrix onto its own grid
// and swaps the new voxels into its frame, which keeps its address (undo records and views that
// hold the frame stay valid).
bool resampleInPlace(CVol* vol, const double matrix[16], int interpolation, bool show) {
  FRAME* out = VA_VolResample(vol->frame, vol->Spc(), matrix, &vol->frame->dim, vol->Spc(), interpolation, false, 50,
                              show);
  if (!out) return false;
  std::swap(vol->frame->data, out->data);
  PR_FrameDelete(&out);
  return true;
}

bool lineGuideFail(const wchar_t* name, const wchar_t* why, bool show) {
  if (show) twk::showNamedError(name, why);
  return false;
}

}  // namespace

bool VA_VolShiftUsingVector(CVol* vol, const DPOINT3D points[2], int interpolation, bool show) {
  const wchar_t* name = L"CVol::ShiftUsingVector";
  if (!vol || !vol->frame || !points) return lineGuideFail(name, L"Volume is required", show);
  const double v[3] = {points[1].x - points[0].x, points[1].y - points[0].y, points[1].z - points[0].z};
  if (!std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[2]))
    return lineGuideFail(name, L"Invalid shift vector", show);
  if (v[0] == 0 && v[1] == 0 && v[2] == 0) return lineGuideFail(name, L"Shift vector is zero", show);
  // The voxel that lands at index i came from i - v.
  const double m[16] = {1, 0, 0, -v[0], 0, 1, 0, -v[1], 0, 0, 1, -v[2], 0, 0, 0, 1};
  return resampleInPlace(vol, m, interpolation, show);
}

bool VA_VolRotateUsingSector(CVol* vol, const DPOINT3D points[3], int interpolation, bool show) {
  const wchar_t* name = L"CVol::RotateUsingSector";
  if (!vol || !vol->frame || !points) return lineGuideFail(name, L"Volume is required", show);
  const double s[3] = {vol->spc.x, vol->spc.y, vol->spc.z};
  const double c[3] = {points[1].x, points[1].y, points[1].z};
  // The arms in millimetres.
  const double a[3] = {(points[0].x - c[0]) * s[0], (points[0].y - c[1]) * s[1], (points[0].z - c[2]) * s[2]};
  const double b[3] = {(points[2].x - c[0]) * s[0], (points[2].y - c[1]) * s[1], (points[2].z - c[2]) * s[2]};
  const double n[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
  const double cross = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  const double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  const double la = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
  const double lb = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
  if (!(la > 0) || !(lb > 0) || !std::isfinite(cross) || !std::isfinite(dot))
    return lineGuideFail(name, L"Sector arms should not be empty", show);
  if (cross <= 1e-12 * la * lb) {
    if (dot > 0) return lineGuideFail(name, L"Rotation is not specified", show);
    return lineGuideFail(name, L"Sector arms should not lie on one line", show);
  }
  // Q turns arm a onto arm b (Rodrigues); the voxel at x came from c + Q^T (x - c), in millimetres.
  const double k[3] = {n[0] / cross, n[1] / cross, n[2] / cross};
  const double cs = dot / (la * lb), sn = cross / (la * lb);
  double q[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) q[i][j] = (i == j ? cs : 0.0) + (1 - cs) * k[i] * k[j];
  q[0][1] -= sn * k[2];
  q[0][2] += sn * k[1];
  q[1][0] += sn * k[2];
  q[1][2] -= sn * k[0];
  q[2][0] -= sn * k[1];
  q[2][1] += sn * k[0];
  // Index form: source = S^-1 Q^T S x + (c - S^-1 Q^T S c).
  double m[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  for (int i = 0; i < 3; ++i) {
    double t = c[i];
    for (int j = 0; j < 3; ++j) {
      m[i * 4 + j] = q[j][i] * s[j] / s[i];
      t -= m[i * 4 + j] * c[j];
    }
    m[i * 4 + 3] = t;
  }
  return resampleInPlace(vol, m, interpolation, show);
}
