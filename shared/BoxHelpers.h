#pragma once
// Helpers on integer and double boxes in voxel space: overlap, conversion of a double box to
// voxel bounds, cropping a frame to a box and widening a box by a margin inside the volume.
// Boxes are inclusive: x0..x1, y0..y1, z0..z1.

#include <climits>
#include <cmath>
#include <cstdint>

#include "TwkTypes.h"

FRAME* VA_VolCrop(const FRAME* frame, const RECT4D* box, bool showErrors);

// False when the closed boxes are apart on some axis; otherwise true and, when out is given, their
// intersection.
inline bool PR_BoxesOverlap(const DRECT3D* a, const DRECT3D* b, DRECT3D* out) {
  if (b->x0 > a->x1 || a->x0 > b->x1) return false;
  if (b->y0 > a->y1 || a->y0 > b->y1) return false;
  if (b->z0 > a->z1 || a->z0 > b->z1) return false;
  if (out) {
    DRECT3D r;
    r.x0 = a->x0 > b->x0 ? a->x0 : b->x0;
    r.y0 = a->y0 > b->y0 ? a->y0 : b->y0;
    r.z0 = a->z0 > b->z0 ? a->z0 : b->z0;
    r.x1 = a->x1 < b->x1 ? a->x1 : b->x1;
    r.y1 = a->y1 < b->y1 ? a->y1 : b->y1;
    r.z1 = a->z1 < b->z1 ? a->z1 : b->z1;
    *out = r;
  }
  return true;
}

// Voxel bounds of a double box: the floor of every bound, where an upper bound that lies less than
// 1e-5 above an integer ends on the voxel before it (but not below the lower bound). With dims the
// box is clipped to the volume; false when it lies wholly outside. Bounds that are not finite or
// beyond the integer range give false.
inline bool PR_DRect3DToRect3D(const DRECT3D* in, RECT3D* out, const DIM3D* dims) {
  const double lo[3] = {in->x0, in->y0, in->z0};
  const double hi[3] = {in->x1, in->y1, in->z1};
  int32_t ilo[3], ihi[3];
  for (int k = 0; k < 3; ++k) {
    const double fl = std::floor(lo[k]), fh = std::floor(hi[k]);
    if (!(fl >= double(INT_MIN) && fl <= double(INT_MAX) && fh >= double(INT_MIN) && fh <= double(INT_MAX)))
      return false;
    ilo[k] = int32_t(fl);
    ihi[k] = int32_t(fh);
    if (hi[k] - fh < 1e-5) {
      const int64_t lowered = int64_t(ihi[k]) - 1;
      ihi[k] = lowered > ilo[k] ? int32_t(lowered) : ilo[k];
    }
  }
  if (dims) {
    const int32_t size[3] = {dims->w, dims->h, dims->d};
    for (int k = 0; k < 3; ++k)
      if (ihi[k] < 0 || ilo[k] > size[k] - 1) return false;
    for (int k = 0; k < 3; ++k) {
      if (ilo[k] < 0) ilo[k] = 0;
      if (ihi[k] > size[k] - 1) ihi[k] = size[k] - 1;
    }
  }
  out->x0 = ilo[0]; out->y0 = ilo[1]; out->z0 = ilo[2];
  out->x1 = ihi[0]; out->y1 = ihi[1]; out->z1 = ihi[2];
  return true;
}

// A new frame cropped to the box (null: the whole frame) and the time points t0..t1 (either -1:
// all time points); showErrors is passed to VA_VolCrop. Null on failure.
inline FRAME* PR_ClipBoxToDims(const FRAME* frame, const RECT3D* box, int t0, int t1, bool showErrors) {
  if (!frame) return nullptr;
  RECT4D r;
  if (box) {
    r.x0 = box->x0; r.y0 = box->y0; r.z0 = box->z0;
    r.x1 = box->x1; r.y1 = box->y1; r.z1 = box->z1;
  } else {
    r.x0 = 0; r.y0 = 0; r.z0 = 0;
    r.x1 = frame->dim.w - 1; r.y1 = frame->dim.h - 1; r.z1 = frame->dim.d - 1;
  }
  if (t0 == -1 || t1 == -1) {
    r.t0 = 0;
    r.t1 = frame->dim.t - 1;
  } else {
    r.t0 = t0;
    r.t1 = t1;
  }
  return VA_VolCrop(frame, &r, showErrors);
}

// Widens the box by up to 3 voxels per side, the same on both sides of an axis and never across
// the volume's edge; a box already beyond an edge is left as it is on that axis.
inline void PR_ExpandBoxByMargin(RECT3D* box, const DIM3D* dims) {
  int32_t* lo[3] = {&box->x0, &box->y0, &box->z0};
  int32_t* hi[3] = {&box->x1, &box->y1, &box->z1};
  const int32_t size[3] = {dims->w, dims->h, dims->d};
  for (int k = 0; k < 3; ++k) {
    int32_t m = 3;
    if (*lo[k] < m) m = *lo[k];
    if (size[k] - 1 - *hi[k] < m) m = size[k] - 1 - *hi[k];
    if (m <= 0) continue;
    *lo[k] -= m;
    *hi[k] += m;
  }
}
