// The anatomical plane and the patient orientation of a view's plane, and mosaic images.

#include <tbb/parallel_for.h>

#include <cmath>
#include <cstdint>

#include "TwkUi.h"
#include "Vol.h"
#include "render/ProjectionGeometry.h"
#include "volops/VolumeOperations.h"
#include "volume/BoxTransfer.h"
#include "volume/Frame.h"

namespace {

// Patient directions (unit vectors) of the projection's right, down and slice axes.
bool projectionAxes(const CVol* vol, const VA_VOLPROJ* proj, double axes[3][3]) {
  double normal[3];
  if (!vol || !vol->frame || !VA_VolSliceDirection(vol, normal)) return false;
  VA_VOLPROJ native;
  VA_InitVOLPROJ(&native);
  VA_PROJMAP m;
  if (!VA_VolProjMap(vol->Dim(), vol->Spc(), proj ? proj : &native, &m)) return false;
  const double* o = vol->orient;
  const double* volumeAxes[3] = {o, o + 3, normal};
  const double sp[3] = {vol->spc.x, vol->spc.y, vol->spc.z};
  for (int k = 0; k < 3; ++k) {
    double length = 0;
    for (int c = 0; c < 3; ++c) {
      axes[k][c] = 0;
      for (int j = 0; j < 3; ++j) axes[k][c] += m.matrix[j][k] * sp[j] * volumeAxes[j][c];
      length += axes[k][c] * axes[k][c];
    }
    length = std::sqrt(length);
    if (!(length > 0)) return false;
    for (int c = 0; c < 3; ++c) axes[k][c] /= length;
  }
  return true;
}

}  // namespace

int VA_VolGetMajorProjType(const CVol* vol, const VA_VOLPROJ* proj) {
  double axes[3][3];
  if (!projectionAxes(vol, proj, axes)) return -1;
  const double* n = axes[2];
  const double x = std::fabs(n[0]), y = std::fabs(n[1]), z = std::fabs(n[2]);
  if (z >= x && z >= y) return 1;  // head-foot: axial
  return x >= y ? 0 : 2;           // left-right: sagittal; front-back: coronal
}

bool VA_VolGetProjOrientation(const CVol* vol, const VA_VOLPROJ* proj, double orient[6]) {
  double axes[3][3];
  if (!orient || !projectionAxes(vol, proj, axes)) return false;
  for (int c = 0; c < 3; ++c) {
    orient[c] = axes[0][c];
    orient[3 + c] = axes[1][c];
  }
  return true;
}

namespace {

// The anatomical end a patient direction points to and the one it comes from, by its strongest
// component (ties go to x, then y): +x left, +y posterior, +z superior.
void directionEnds(const double d[3], wchar_t* from, wchar_t* to) {
  static const wchar_t positive[3] = {L'L', L'P', L'S'}, negative[3] = {L'R', L'A', L'I'};
  int k = 0;
  for (int c = 1; c < 3; ++c)
    if (std::fabs(d[c]) > std::fabs(d[k])) k = c;
  *from = d[k] > 0 ? negative[k] : positive[k];
  *to = d[k] > 0 ? positive[k] : negative[k];
}

}  // namespace

bool VA_VolGetProjText(const CVol* vol, const VA_VOLPROJ* proj, CString* text) {
  static const wchar_t* const planes[3] = {L"SAG", L"AX", L"COR"};
  double axes[3][3];
  if (!text || !projectionAxes(vol, proj, axes)) return false;
  const int type = VA_VolGetMajorProjType(vol, proj);
  if (type < 0 || type > 2) return false;
  wchar_t leftEnd, rightEnd, topEnd, bottomEnd;
  directionEnds(axes[0], &leftEnd, &rightEnd);
  directionEnds(axes[1], &topEnd, &bottomEnd);
  text->Format(L"%s %c>%c %c>%c", planes[type], leftEnd, rightEnd, topEnd, bottomEnd);
  return true;
}

const wchar_t* VA_GetProjectionConventionName(int convention, int type) {
  // Indexed by projection type: sagittal, axial, coronal.
  static const wchar_t* const radiological[3] = {L"SAG A>P S>I", L"AX R>L A>P", L"COR R>L S>I"};
  static const wchar_t* const neurological[3] = {L"SAG A>P S>I", L"AX L>R A>P", L"COR L>R S>I"};
  if (type < 0 || type > 2) return nullptr;
  if (convention == VA_PROJ_CONVENTION_RADIOLOGICAL) return radiological[type];
  if (convention == VA_PROJ_CONVENTION_NEUROLOGICAL) return neurological[type];
  return nullptr;
}

bool VA_RotateToSpecifiedOrient(const CVol* vol, int convention, int plane, DPOINT3D* angles, bool show) {
  auto fail = [&](const wchar_t* why) {
    if (show) twk::showNamedError(L"VA_RotateToSpecifiedOrient", why);
    return false;
  };
  if (!vol || !vol->frame || !angles) return fail(L"Volumetric Entity is required");
  if (plane < 0 || plane > 2) return fail(L"Unknown orientation");
  if (!vol->IsValidOrientation()) return fail(L"Valid orientation is required");
  const wchar_t* name = VA_GetProjectionConventionName(convention, plane);
  VA_VOLPROJ candidate;
  VA_InitVOLPROJ(&candidate);
  // The current angles first, then the quarter-turn triples (i mod 4, (i div 4) mod 4, i div 16).
  for (int i = -1; i < 64; ++i) {
    if (i < 0) {
      candidate.rotation[0] = angles->x;
      candidate.rotation[1] = angles->y;
      candidate.rotation[2] = angles->z;
    } else {
      candidate.rotation[0] = (i % 4) * 90.0;
      candidate.rotation[1] = ((i / 4) % 4) * 90.0;
      candidate.rotation[2] = (i / 16) * 90.0;
    }
    bool match;
    if (name) {
      CString text;
      match = VA_VolGetProjText(vol, &candidate, &text) && text == name;
    } else {
      match = VA_VolGetMajorProjType(vol, &candidate) == plane;
    }
    if (!match) continue;
    *angles = DPOINT3D{candidate.rotation[0], candidate.rotation[1], candidate.rotation[2]};
    return true;
  }
  return fail(L"No quarter turn shows the requested plane");
}

FRAME* VA_VolumeMosaicToVolumeUser(const FRAME* frame, int n, bool show) {
  auto fail = [&](const wchar_t* why) -> FRAME* {
    if (show) twk::showNamedError(L"VA_VolumeMosaicToVolumeUser", why);
    return nullptr;
  };
  if (!frame || !frame->data || twk::voxelElemOf(frame) == twk::VoxelElem::Invalid) return fail(L"Invalid volume");
  if (frame->dim.d != 1) return fail(L"A single slice mosaic is required");
  if (n < 1) return fail(L"Invalid number of images in the Mosaic");
  int grid = 1;
  while (int64_t(grid) * grid < n) ++grid;
  if (frame->dim.w % grid != 0 || frame->dim.h % grid != 0) return fail(L"Mosaic grid does not fit the image");
  const DIM3D dims{frame->dim.w / grid, frame->dim.h / grid, n, frame->dim.t};
  FRAME* out = PR_FrameCreate(frame->type, frame->bpv, dims, false);
  if (!out) return fail(L"Not enough memory");
  // Every tile of every time point is a slice of its own: copied in parallel.
  tbb::parallel_for(int64_t(0), int64_t(dims.t) * n, [&](int64_t i) {
    const int t = int(i / n), k = int(i % n);
    const int x0 = (k % grid) * dims.w, y0 = (k / grid) * dims.h;
    twk::transferBox(twk::frameBoxLines(frame, x0, y0, 0, t, 1), twk::frameBoxLines(out, 0, 0, k, t, 1), dims.w,
                     dims.h, 1, 1.0, 0.0);
  });
  return out;
}
