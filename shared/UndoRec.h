#pragma once
// UNDOREC, one undo step of a layer whose voxels were changed in place: the layer's frame (which
// identifies the layer; not owned), a snapshot of its voxels and its display filter at that time.
// The imaging core makes records (VA_CompleteUndoRec), captures the present state of a layer as the
// inverse record (GetFrameCurrentState) and puts a snapshot back (ApplyFrameChange). A record owns
// its snapshot; copies duplicate it. Records are made with new and destroyed with delete.

#include <cstdint>

#include "TwkTypes.h"
#include "ViewFilt.h"

enum : int32_t { UNDO_NONE = 0, UNDO_FRAME_CHANGE = 1 };

struct UNDOREC {
  int32_t kind = UNDO_NONE;
  FRAME* frame = nullptr;      // the layer's frame the record belongs to (not owned)
  PR_VIEWFILT filter;          // the layer's display filter when the snapshot was taken
  FRAME* snapshot = nullptr;   // the voxels to put back (owned)

  UNDOREC() = default;
  UNDOREC(const UNDOREC& other);
  UNDOREC& operator=(const UNDOREC& other);
  ~UNDOREC();

  // A new frame-change record holding the present voxels of this record's frame and the given
  // filter; null when the frame is gone or memory runs out.
  UNDOREC* GetFrameCurrentState(const PR_VIEWFILT* filter) const;
  // Writes the snapshot back into the frame (the frame keeps its address, so the layer holding it
  // sees the change); false for a record without frame or snapshot.
  bool ApplyFrameChange();
};

// A frame-change record of the frame's present voxels and the filter; null on failure.
UNDOREC* VA_CompleteUndoRec(const PR_VIEWFILT* filter, FRAME* frame);
