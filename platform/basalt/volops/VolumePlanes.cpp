// The anatomical plane and the patient orientation of a view's plane, and mosaic images.

#include <cmath>

#include "TwkUi.h"
#include "Vol.h"
#include "render/ProjectionGeometry.h"
#include "volops/VolumeOperations.h"
#include "volume/BoxTransfer.h"
#include "volume/Frame.h"

namespace {

// Patient directions (unit vectors) of the projection's right, down and slice axes.
bool projectionAxes(const CVol* vol, const VA_VOLPROJ* proj, double axes[3][3]) {
  if (!vol || !vol->frame || !VA_IsValidOrientation(vol->orient)) return false;
  VA_VOLPROJ native;
  VA_InitVOLPROJ(&native);
  VA_PROJMAP m;
  if (!VA_VolProjMap(vol->Dim(), vol->Spc(), proj ? proj : &native, &m)) return false;
  const double* o = vol->orient;
  const double normal[3] = {o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5], o[0] * o[4] - o[1] * o[3]};
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
  for (int t = 0; t < dims.t; ++t)
    for (int k = 0; k < n; ++k) {
      const int x0 = (k % grid) * dims.w, y0 = (k / grid) * dims.h;
      twk::transferBox(twk::frameBoxLines(frame, x0, y0, 0, t, 1), twk::frameBoxLines(out, 0, 0, k, t, 1), dims.w,
                       dims.h, 1, 1.0, 0.0);
    }
  return out;
}
