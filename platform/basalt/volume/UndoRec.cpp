#include "UndoRec.h"

#include <cstring>

#include "Frame.h"

UNDOREC::UNDOREC(const UNDOREC& other)
    : kind(other.kind), frame(other.frame), filter(other.filter), snapshot(VA_VolClone(other.snapshot)) {}

UNDOREC& UNDOREC::operator=(const UNDOREC& other) {
  if (this == &other) return *this;
  FRAME* copy = VA_VolClone(other.snapshot);
  PR_FrameDelete(&snapshot);
  kind = other.kind;
  frame = other.frame;
  filter = other.filter;
  snapshot = copy;
  return *this;
}

UNDOREC::~UNDOREC() { PR_FrameDelete(&snapshot); }

UNDOREC* UNDOREC::GetFrameCurrentState(const PR_VIEWFILT* currentFilter) const {
  return VA_CompleteUndoRec(currentFilter ? currentFilter : &filter, frame);
}

bool UNDOREC::ApplyFrameChange() {
  if (!frame || !snapshot || !snapshot->data) return false;
  const bool sameShape = frame->type == snapshot->type && frame->bpv == snapshot->bpv &&
                         frame->lineBytes == snapshot->lineBytes && frame->dim.w == snapshot->dim.w &&
                         frame->dim.h == snapshot->dim.h && frame->dim.d == snapshot->dim.d &&
                         frame->dim.t == snapshot->dim.t;
  if (sameShape && frame->data) {
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

UNDOREC* VA_CompleteUndoRec(const PR_VIEWFILT* filter, FRAME* frame) {
  if (!frame) return nullptr;
  FRAME* snapshot = VA_VolClone(frame);
  if (!snapshot) return nullptr;
  UNDOREC* record = new UNDOREC;
  record->kind = UNDO_FRAME_CHANGE;
  record->frame = frame;
  if (filter) record->filter = *filter;
  record->snapshot = snapshot;
  return record;
}
