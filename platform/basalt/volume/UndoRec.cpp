#include "UndoRec.h"

#include <algorithm>
#include <cstring>

#include "Frame.h"
#include "VolumeBox.h"
#include "VoxelAccess.h"

namespace {

bool sameShape(const FRAME* a, const FRAME* b) {
  return a->type == b->type && a->bpv == b->bpv && a->lineBytes == b->lineBytes && a->dim.w == b->dim.w &&
         a->dim.h == b->dim.h && a->dim.d == b->dim.d && a->dim.t == b->dim.t;
}

bool hasRecordedShape(const UNDOREC& r) {
  const FRAME* f = r.frame;
  return f && f->type == r.frameType && f->bpv == r.frameBpv && f->dim.w == r.frameDim.w &&
         f->dim.h == r.frameDim.h && f->dim.d == r.frameDim.d && f->dim.t == r.frameDim.t;
}

RECT4D wholeBox(const FRAME* f) { return RECT4D{0, 0, 0, f->dim.w - 1, f->dim.h - 1, f->dim.d - 1, 0, f->dim.t - 1}; }

bool isWholeBox(const RECT4D& b, const FRAME* f) {
  return b.x0 == 0 && b.y0 == 0 && b.z0 == 0 && b.t0 == 0 && b.x1 == f->dim.w - 1 && b.y1 == f->dim.h - 1 &&
         b.z1 == f->dim.d - 1 && b.t1 == f->dim.t - 1;
}

UNDOREC* makeRecord(const PR_VIEWFILT* filter, FRAME* frame, const RECT4D& box, bool whole) {
  FRAME* snapshot = whole ? VA_VolClone(frame) : VA_VolCrop(frame, &box);
  if (!snapshot) return nullptr;
  UNDOREC* record = new UNDOREC;
  record->kind = UNDO_FRAME_CHANGE;
  record->frame = frame;
  if (filter) record->filter = *filter;
  record->snapshot = snapshot;
  record->box = box;
  record->frameDim = frame->dim;
  record->frameType = frame->type;
  record->frameBpv = frame->bpv;
  record->wholeFrame = whole ? 1 : 0;
  return record;
}

// Whether voxel x of snapshot line s differs from voxel x0 + x of frame line f.
inline bool voxelDiffers(twk::VoxelElem e, const uint8_t* s, const uint8_t* f, int64_t x, int64_t x0) {
  switch (e) {
    case twk::VoxelElem::Bit: return twk::getBit(s, x) != twk::getBit(f, x0 + x);
    case twk::VoxelElem::U8: return s[x] != f[x0 + x];
    case twk::VoxelElem::U16: return std::memcmp(s + 2 * x, f + 2 * (x0 + x), 2) != 0;
    case twk::VoxelElem::U32: return std::memcmp(s + 4 * x, f + 4 * (x0 + x), 4) != 0;
    case twk::VoxelElem::F64: return std::memcmp(s + 8 * x, f + 8 * (x0 + x), 8) != 0;
    default: return true;
  }
}

}  // namespace

UNDOREC::UNDOREC(const UNDOREC& other)
    : kind(other.kind),
      frame(other.frame),
      filter(other.filter),
      snapshot(VA_VolClone(other.snapshot)),
      owner(other.owner),
      box(other.box),
      frameDim(other.frameDim),
      frameType(other.frameType),
      frameBpv(other.frameBpv),
      wholeFrame(other.wholeFrame) {}

UNDOREC& UNDOREC::operator=(const UNDOREC& other) {
  if (this == &other) return *this;
  FRAME* copy = VA_VolClone(other.snapshot);
  PR_FrameDelete(&snapshot);
  kind = other.kind;
  frame = other.frame;
  filter = other.filter;
  snapshot = copy;
  owner = other.owner;
  box = other.box;
  frameDim = other.frameDim;
  frameType = other.frameType;
  frameBpv = other.frameBpv;
  wholeFrame = other.wholeFrame;
  return *this;
}

UNDOREC::~UNDOREC() { PR_FrameDelete(&snapshot); }

UNDOREC* UNDOREC::GetFrameCurrentState(const PR_VIEWFILT* currentFilter) const {
  const PR_VIEWFILT* f = currentFilter ? currentFilter : &filter;
  if (!frame) return nullptr;
  UNDOREC* record = nullptr;
  if (wholeFrame) {
    record = VA_CompleteUndoRec(f, frame);
  } else {
    if (!hasRecordedShape(*this)) return nullptr;
    if (!snapshot) {
      // Nothing of the frame is kept: the inverse keeps nothing either.
      record = new UNDOREC(*this);
      if (f) record->filter = *f;
      return record;
    }
    record = makeRecord(f, frame, box, false);
  }
  if (record) record->owner = owner;
  return record;
}

bool UNDOREC::ApplyFrameChange() {
  if (!frame) return false;
  if (!wholeFrame) {
    if (!hasRecordedShape(*this)) return false;
    if (!snapshot) return true;
    const RECT3D dst{box.x0, box.y0, box.z0, box.x1, box.y1, box.z1};
    for (int t = box.t0; t <= box.t1; ++t)
      if (!VA_VolSetBox(frame, t, &dst, snapshot, t - box.t0, nullptr)) return false;
    return true;
  }
  if (!snapshot || !snapshot->data) return false;
  if (sameShape(frame, snapshot) && frame->data) {
    std::memcpy(frame->data, snapshot->data, size_t(PR_FrameMemSize(snapshot)));
    return true;
  }
  // The layer's frame changed shape since the snapshot: give it the snapshot's voxels and layout,
  // keeping the frame's address.
  FRAME* copy = VA_VolClone(snapshot);
  if (!copy) return false;
  const FRAME old = *frame;
  *frame = *copy;
  *copy = old;
  PR_FrameDelete(&copy);
  return true;
}

bool UNDOREC::ShrinkToChanges() {
  if (!frame || !snapshot) return snapshot == nullptr && frame != nullptr;
  if (!hasRecordedShape(*this)) return false;
  const twk::VoxelElem e = twk::voxelElemOf(frame);
  if (e == twk::VoxelElem::Invalid || twk::voxelElemOf(snapshot) != e) return false;
  const DIM3D& s = snapshot->dim;
  // Bounds of the differing voxels, in snapshot coordinates.
  int64_t lo[4] = {s.w, s.h, s.d, s.t}, hi[4] = {-1, -1, -1, -1};
  const int64_t rowBytes = twk::voxelLineBytes(s.w, e);
  const bool alignedRows = e != twk::VoxelElem::Bit ? true : box.x0 == 0;
  for (int64_t t = 0; t < s.t; ++t)
    for (int64_t z = 0; z < s.d; ++z)
      for (int64_t y = 0; y < s.h; ++y) {
        const uint8_t* sl = twk::frameLine(snapshot, y, z, t);
        const uint8_t* fl = twk::frameLine(frame, y + box.y0, z + box.z0, t + box.t0);
        if (alignedRows) {
          // Whole-line comparison first: most lines of a large record did not change.
          const uint8_t* fx = e == twk::VoxelElem::Bit ? fl : fl + (rowBytes / std::max<int64_t>(1, s.w)) * box.x0;
          if (e == twk::VoxelElem::Bit) {
            if (s.w == frame->dim.w && std::memcmp(sl, fx, size_t(rowBytes)) == 0) continue;
          } else if (std::memcmp(sl, fx, size_t(rowBytes)) == 0) {
            continue;
          }
        }
        int64_t first = -1, last = -1;
        for (int64_t x = 0; x < s.w; ++x)
          if (voxelDiffers(e, sl, fl, x, box.x0)) {
            if (first < 0) first = x;
            last = x;
          }
        if (first < 0) continue;
        lo[0] = std::min(lo[0], first);
        hi[0] = std::max(hi[0], last);
        lo[1] = std::min(lo[1], y), hi[1] = std::max(hi[1], y);
        lo[2] = std::min(lo[2], z), hi[2] = std::max(hi[2], z);
        lo[3] = std::min(lo[3], t), hi[3] = std::max(hi[3], t);
      }
  if (hi[0] < 0) {
    // Nothing differs: the record keeps no voxels.
    PR_FrameDelete(&snapshot);
    wholeFrame = 0;
    box = RECT4D{box.x0, box.y0, box.z0, box.x0 - 1, box.y0 - 1, box.z0 - 1, box.t0, box.t0 - 1};
    return true;
  }
  const RECT4D inner{int32_t(lo[0]), int32_t(lo[1]), int32_t(lo[2]), int32_t(hi[0]),
                     int32_t(hi[1]), int32_t(hi[2]), int32_t(lo[3]), int32_t(hi[3])};
  if (inner.x0 == 0 && inner.y0 == 0 && inner.z0 == 0 && inner.t0 == 0 && inner.x1 == s.w - 1 &&
      inner.y1 == s.h - 1 && inner.z1 == s.d - 1 && inner.t1 == s.t - 1) {
    wholeFrame = 0;
    return true;
  }
  FRAME* smaller = VA_VolCrop(snapshot, &inner);
  if (!smaller) return false;
  PR_FrameDelete(&snapshot);
  snapshot = smaller;
  box = RECT4D{box.x0 + inner.x0, box.y0 + inner.y0, box.z0 + inner.z0, box.x0 + inner.x1,
               box.y0 + inner.y1, box.z0 + inner.z1, box.t0 + inner.t0, box.t0 + inner.t1};
  wholeFrame = 0;
  return true;
}

uint64_t UNDOREC::MemSize() const {
  return sizeof(UNDOREC) + (snapshot ? sizeof(FRAME) + PR_FrameMemSize(snapshot) : 0);
}

UNDOREC* VA_CompleteUndoRec(const PR_VIEWFILT* filter, FRAME* frame) {
  if (!frame) return nullptr;
  return makeRecord(filter, frame, wholeBox(frame), true);
}

UNDOREC* VA_CompleteUndoRecBox(const PR_VIEWFILT* filter, FRAME* frame, const RECT4D* box) {
  if (!frame) return nullptr;
  if (!box) return VA_CompleteUndoRec(filter, frame);
  RECT4D b{std::max(box->x0, 0), std::max(box->y0, 0), std::max(box->z0, 0), std::min(box->x1, frame->dim.w - 1),
           std::min(box->y1, frame->dim.h - 1), std::min(box->z1, frame->dim.d - 1), std::max(box->t0, 0),
           std::min(box->t1, frame->dim.t - 1)};
  if (b.x0 > b.x1 || b.y0 > b.y1 || b.z0 > b.z1 || b.t0 > b.t1) return nullptr;
  return makeRecord(filter, frame, b, isWholeBox(b, frame));
}
