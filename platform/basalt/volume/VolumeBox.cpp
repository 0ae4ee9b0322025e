#include "VolumeBox.h"

#include "BoxTransfer.h"
#include "Frame.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "VoxelAccess.h"

using twk::BoxLines;
using twk::VoxelElem;

namespace {

// The box, or the whole volume for null, when it lies inside the frame.
bool boxInFrame(const FRAME* f, const RECT3D* box, RECT3D* out) {
  if (box) {
    if (box->x0 < 0 || box->y0 < 0 || box->z0 < 0 || box->x0 > box->x1 || box->y0 > box->y1 || box->z0 > box->z1 ||
        box->x1 >= f->dim.w || box->y1 >= f->dim.h || box->z1 >= f->dim.d)
      return false;
    *out = *box;
  } else {
    *out = RECT3D{0, 0, 0, f->dim.w - 1, f->dim.h - 1, f->dim.d - 1};
  }
  return true;
}

bool frameUsable(const FRAME* f) {
  return f && f->data && twk::voxelElemOf(f) != VoxelElem::Invalid && f->dim.w > 0 && f->dim.h > 0 && f->dim.d > 0 &&
         f->dim.t > 0;
}

// The element kind of a buffer: the frame's own for bpv 0.
VoxelElem bufferElem(const FRAME* f, int bpv) { return bpv == 0 ? twk::voxelElemOf(f) : twk::voxelElemOfBpv(bpv); }

int64_t bufferBytes(int64_t w, int64_t h, int64_t slabs, VoxelElem e) {
  const int64_t line = twk::voxelLineBytes(w, e);
  return line < 0 ? -1 : line * h * slabs;
}

// A new buffer for the box; ROI buffers are zeroed so that their line padding is defined.
void* newBuffer(int64_t bytes, VoxelElem e) { return e == VoxelElem::Bit ? pf_calloc(bytes) : pf_malloc(bytes); }

void report(const wchar_t* function, const wchar_t* message, bool show) {
  if (show) twk::showNamedError(function, message);
}

// Fills the box (already clipped, not empty) for the time points t0..t1.
void fillInside(FRAME* f, const RECT3D& b, int t0, int t1, double value) {
  const int64_t boxDepth = b.z1 - b.z0 + 1;
  const BoxLines lines = twk::frameBoxLines(f, b.x0, b.y0, b.z0, t0, boxDepth);
  twk::fillBox(lines, b.x1 - b.x0 + 1, b.y1 - b.y0 + 1, boxDepth * (t1 - t0 + 1), value);
}

}  // namespace

int64_t VA_VolBoxBytes(const FRAME* frame, const RECT3D* box, int bpv) {
  RECT3D b;
  if (!frameUsable(frame) || !boxInFrame(frame, box, &b)) return -1;
  return bufferBytes(b.x1 - b.x0 + 1, b.y1 - b.y0 + 1, b.z1 - b.z0 + 1, bufferElem(frame, bpv));
}

bool VA_VolGetBox(const FRAME* frame, int t, const RECT3D* box, void* out, int bpv, double inValue, double outValue) {
  RECT3D b;
  if (!out || !frameUsable(frame) || t < 0 || t >= frame->dim.t || !boxInFrame(frame, box, &b)) return false;
  const VoxelElem e = bufferElem(frame, bpv);
  if (e == VoxelElem::Invalid) return false;
  const int64_t w = b.x1 - b.x0 + 1, h = b.y1 - b.y0 + 1, d = b.z1 - b.z0 + 1;
  twk::transferBox(twk::frameBoxLines(frame, b.x0, b.y0, b.z0, t, d), twk::bufferBoxLines(out, e, w, h, d), w, h, d,
                   inValue, outValue);
  return true;
}

void* VA_VolGetBox(const FRAME* frame, int t, const RECT3D* box, int bpv, double inValue, double outValue) {
  const int64_t bytes = VA_VolBoxBytes(frame, box, bpv);
  if (bytes <= 0 || t < 0 || t >= frame->dim.t) return nullptr;
  void* out = newBuffer(bytes, bufferElem(frame, bpv));
  if (!out) return nullptr;
  if (!VA_VolGetBox(frame, t, box, out, bpv, inValue, outValue)) pf_free(&out);
  return out;
}

bool VA_VolSetBox(FRAME* frame, int t, const RECT3D* box, const void* data, int bpv) {
  RECT3D b;
  if (!data || !frameUsable(frame) || t < 0 || t >= frame->dim.t || !boxInFrame(frame, box, &b)) return false;
  const VoxelElem e = bufferElem(frame, bpv);
  if (e == VoxelElem::Invalid) return false;
  const int64_t w = b.x1 - b.x0 + 1, h = b.y1 - b.y0 + 1, d = b.z1 - b.z0 + 1;
  twk::transferBox(twk::bufferBoxLines(data, e, w, h, d), twk::frameBoxLines(frame, b.x0, b.y0, b.z0, t, d), w, h, d,
                   1.0, 0.0);
  return true;
}

bool VA_VolSetBox(FRAME* dst, int t, const RECT3D* dstBox, const FRAME* src, int srcT, const RECT3D* srcBox) {
  RECT3D db, sb;
  if (!frameUsable(dst) || !frameUsable(src) || t < 0 || t >= dst->dim.t || srcT < 0 || srcT >= src->dim.t ||
      !boxInFrame(dst, dstBox, &db) || !boxInFrame(src, srcBox, &sb))
    return false;
  const int64_t w = db.x1 - db.x0 + 1, h = db.y1 - db.y0 + 1, d = db.z1 - db.z0 + 1;
  if (w != sb.x1 - sb.x0 + 1 || h != sb.y1 - sb.y0 + 1 || d != sb.z1 - sb.z0 + 1) return false;
  if (src == dst) {
    // Within one frame the boxes may overlap: go through a copy of the source box.
    void* copy = VA_VolGetBox(src, srcT, &sb, 0, 1.0, 0.0);
    if (!copy) return false;
    const bool ok = VA_VolSetBox(dst, t, &db, copy, 0);
    pf_free(&copy);
    return ok;
  }
  twk::transferBox(twk::frameBoxLines(src, sb.x0, sb.y0, sb.z0, srcT, d),
                   twk::frameBoxLines(dst, db.x0, db.y0, db.z0, t, d), w, h, d, 1.0, 0.0);
  return true;
}

bool VA_VolFillBox(FRAME* frame, int t, const RECT3D* box, bool inside, double value) {
  if (!frameUsable(frame) || t < -1 || t >= frame->dim.t) return false;
  if (box && (box->x0 > box->x1 || box->y0 > box->y1 || box->z0 > box->z1)) return false;
  const int t0 = t < 0 ? 0 : t, t1 = t < 0 ? frame->dim.t - 1 : t;
  const RECT3D all{0, 0, 0, frame->dim.w - 1, frame->dim.h - 1, frame->dim.d - 1};
  RECT3D b = box ? *box : all;
  const bool overlaps = b.x1 >= 0 && b.y1 >= 0 && b.z1 >= 0 && b.x0 <= all.x1 && b.y0 <= all.y1 && b.z0 <= all.z1;
  if (overlaps) {
    b.x0 = std::max(b.x0, 0); b.y0 = std::max(b.y0, 0); b.z0 = std::max(b.z0, 0);
    b.x1 = std::min(b.x1, all.x1); b.y1 = std::min(b.y1, all.y1); b.z1 = std::min(b.z1, all.z1);
  }
  if (inside) {
    if (overlaps) fillInside(frame, b, t0, t1, value);
    return true;
  }
  if (!overlaps) {
    fillInside(frame, all, t0, t1, value);
    return true;
  }
  // The outside of the box: whole slices before and after it, whole lines above and below it
  // within its slices, and the voxels left and right of it within its lines.
  if (b.z0 > 0) fillInside(frame, RECT3D{0, 0, 0, all.x1, all.y1, b.z0 - 1}, t0, t1, value);
  if (b.z1 < all.z1) fillInside(frame, RECT3D{0, 0, b.z1 + 1, all.x1, all.y1, all.z1}, t0, t1, value);
  if (b.y0 > 0) fillInside(frame, RECT3D{0, 0, b.z0, all.x1, b.y0 - 1, b.z1}, t0, t1, value);
  if (b.y1 < all.y1) fillInside(frame, RECT3D{0, b.y1 + 1, b.z0, all.x1, all.y1, b.z1}, t0, t1, value);
  if (b.x0 > 0) fillInside(frame, RECT3D{0, b.y0, b.z0, b.x0 - 1, b.y1, b.z1}, t0, t1, value);
  if (b.x1 < all.x1) fillInside(frame, RECT3D{b.x1 + 1, b.y0, b.z0, all.x1, b.y1, b.z1}, t0, t1, value);
  return true;
}

bool VA_VolFillBox(FRAME* frame, int t, const RECT3D* box, double value) {
  return VA_VolFillBox(frame, t, box, true, value);
}

bool VA_VolSetSlice(FRAME* frame, int t, int z, const void* data, int bpv) {
  if (!frameUsable(frame) || z < 0 || z >= frame->dim.d) return false;
  const RECT3D box{0, 0, z, frame->dim.w - 1, frame->dim.h - 1, z};
  return VA_VolSetBox(frame, t, &box, data, bpv);
}

void* VA_VolGetAll(const FRAME* frame, int t, int bpv, int numT, bool showErrors) {
  if (!frameUsable(frame) || t < 0 || t >= frame->dim.t) {
    report(L"VA_VolGetAll", L"Invalid volume or time point", showErrors);
    return nullptr;
  }
  const int n = numT <= 0 ? frame->dim.t - t : numT;
  if (t + int64_t(n) > frame->dim.t) {
    report(L"VA_VolGetAll", L"Invalid volume or time point", showErrors);
    return nullptr;
  }
  const VoxelElem e = bpv == 0 ? (frame->type == FRM_REAL ? VoxelElem::F64 : VoxelElem::U32) : twk::voxelElemOfBpv(bpv);
  if (e == VoxelElem::Invalid) {
    report(L"VA_VolGetAll", L"Invalid number of bits per voxel", showErrors);
    return nullptr;
  }
  const int64_t w = frame->dim.w, h = frame->dim.h, d = frame->dim.d;
  void* out = newBuffer(bufferBytes(w, h, d * n, e), e);
  if (!out) return nullptr;
  twk::transferBox(twk::frameBoxLines(frame, 0, 0, 0, t, d), twk::bufferBoxLines(out, e, w, h, d), w, h, d * n, 1.0,
                   0.0);
  return out;
}

FRAME* VA_VolCropTimepoint(const FRAME* frame, int t, bool showErrors) {
  if (!frameUsable(frame) || t < 0 || t >= frame->dim.t) {
    report(L"VA_VolCropTimepoint", L"Invalid volume", showErrors);
    return nullptr;
  }
  const RECT4D box{0, 0, 0, frame->dim.w - 1, frame->dim.h - 1, frame->dim.d - 1, t, t};
  return VA_VolCrop(frame, &box, showErrors);
}

FRAME* VA_VolCrop(const FRAME* frame, const RECT4D* box, bool showErrors) {
  if (!frameUsable(frame) || !box) {
    report(L"VA_VolCrop", L"Invalid volume", showErrors);
    return nullptr;
  }
  const RECT3D b3{box->x0, box->y0, box->z0, box->x1, box->y1, box->z1};
  RECT3D b;
  if (!boxInFrame(frame, &b3, &b) || box->t0 < 0 || box->t0 > box->t1 || box->t1 >= frame->dim.t) {
    report(L"VA_VolCrop", L"Crop box lies outside the volume", showErrors);
    return nullptr;
  }
  const DIM3D dims{b.x1 - b.x0 + 1, b.y1 - b.y0 + 1, b.z1 - b.z0 + 1, box->t1 - box->t0 + 1};
  FRAME* out = PR_FrameCreate(frame->type, frame->bpv, dims, false);
  if (!out) return nullptr;
  twk::transferBox(twk::frameBoxLines(frame, b.x0, b.y0, b.z0, box->t0, dims.d),
                   twk::frameBoxLines(out, 0, 0, 0, 0, dims.d), dims.w, dims.h, int64_t(dims.d) * dims.t, 1.0, 0.0);
  return out;
}
