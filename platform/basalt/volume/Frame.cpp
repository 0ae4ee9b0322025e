#include "Frame.h"

#include <new>

#include "BoxTransfer.h"
#include "TwkMem.h"
#include "VoxelAccess.h"

namespace {

bool kindAndWidthMatch(FRMTYPE type, int bpv) {
  switch (type) {
    case FRM_ROI: return bpv == 1;
    case FRM_INT: return bpv == 8 || bpv == 16 || bpv == 32;
    case FRM_REAL: return bpv == 64;
    default: return false;
  }
}

FRMTYPE kindOfBpv(int bpv) {
  switch (bpv) {
    case 1: return FRM_ROI;
    case 8: case 16: case 32: return FRM_INT;
    case 64: return FRM_REAL;
    default: return FRM_INVALID;
  }
}

}  // namespace

FRAME* PR_FrameCreate(FRMTYPE type, int bpv, const DIM3D& dims, bool zero) {
  if (bpv == 0) bpv = PR_VolBpv(type);
  if (!kindAndWidthMatch(type, bpv) || dims.w < 1 || dims.h < 1 || dims.d < 1 || dims.t < 1) return nullptr;
  const int64_t lineBytes = twk::voxelLineBytes(dims.w, twk::voxelElemOfBpv(bpv));
  // Refuse sizes whose byte count does not fit in 63 bits.
  const __int128 bytes = __int128(lineBytes) * dims.h * dims.d * dims.t;
  if (bytes > __int128(INT64_MAX / 2)) return nullptr;

  void* record = pf_calloc(int64_t(sizeof(FRAME)));
  if (!record) return nullptr;
  FRAME* f = new (record) FRAME;
  f->type = type;
  f->dim = dims;
  f->bpv = bpv;
  f->lineBytes = lineBytes;
  f->data = static_cast<uint8_t*>(zero || type == FRM_ROI ? pf_calloc(int64_t(bytes)) : pf_malloc(int64_t(bytes)));
  if (!f->data) PR_FrameDelete(&f);
  return f;
}

void PR_FrameDelete(FRAME** frame) {
  if (!frame || !*frame) return;
  pf_free(&(*frame)->data);
  pf_free(frame);
}

void PR_FrameArrDelete(FRAME*** frames, int n) {
  if (!frames || !*frames) return;
  for (int i = 0; i < n; ++i) PR_FrameDelete(&(*frames)[i]);
  pf_free(frames);
}

uint64_t PR_FrameMemSize(const FRAME* frame) {
  if (!frame) return 0;
  return uint64_t(frame->lineBytes) * uint64_t(frame->dim.h) * uint64_t(frame->dim.d) * uint64_t(frame->dim.t);
}

int PR_VolBpv(const FRAME* frame) { return frame ? frame->bpv : 0; }

int PR_VolBpv(FRMTYPE type) {
  switch (type) {
    case FRM_ROI: return 1;
    case FRM_INT: return 32;
    case FRM_REAL: return 64;
    default: return 0;
  }
}

FRAME* VA_CreateVol(const void* values, int bpv, int w, int h, int d, int t) {
  const FRMTYPE type = kindOfBpv(bpv);
  if (!values || type == FRM_INVALID) return nullptr;
  FRAME* f = PR_FrameCreate(type, bpv, DIM3D{w, h, d, t}, false);
  if (!f) return nullptr;
  // ROI frames are made from one byte per voxel.
  const twk::VoxelElem srcElem = bpv == 1 ? twk::VoxelElem::U8 : twk::voxelElemOfBpv(bpv);
  twk::transferBox(twk::bufferBoxLines(values, srcElem, w, h, d), twk::frameBoxLines(f, 0, 0, 0, 0, d), w, h,
                   int64_t(d) * t, 1.0, 0.0);
  return f;
}

FRAME* VA_VolCreateUniform(int type, const DIM3D& dims, double value, int bpv) {
  const bool zero = value == 0.0 || (type == FRM_ROI && !twk::roiInsideFromDouble(value));
  FRAME* f = PR_FrameCreate(FRMTYPE(type), bpv, dims, zero);
  if (f && !zero)
    twk::fillBox(twk::frameBoxLines(f, 0, 0, 0, 0, dims.d), dims.w, dims.h, int64_t(dims.d) * dims.t, value);
  return f;
}

FRAME* VA_VolCreateUniform(int type, const DIM3D& dims, double value) { return VA_VolCreateUniform(type, dims, value, 0); }

FRAME* VA_VolCreateUniform(int type, const DIM3D* dims, double value) {
  return dims ? VA_VolCreateUniform(type, *dims, value, 0) : nullptr;
}

FRAME* VA_VolCreateUniform(const DIM3D* dims, int bpv, double value) {
  return dims ? VA_VolCreateUniform(kindOfBpv(bpv), *dims, value, bpv) : nullptr;
}

FRAME* VA_VolClone(const FRAME* frame) {
  if (!frame || !frame->data) return nullptr;
  FRAME* f = PR_FrameCreate(frame->type, frame->bpv, frame->dim, false);
  if (!f) return nullptr;
  const int64_t d = frame->dim.d;
  twk::transferBox(twk::frameBoxLines(frame, 0, 0, 0, 0, d), twk::frameBoxLines(f, 0, 0, 0, 0, d), frame->dim.w,
                   frame->dim.h, d * frame->dim.t, 1.0, 0.0);
  return f;
}
