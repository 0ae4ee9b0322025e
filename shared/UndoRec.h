#pragma once
// UNDOREC, one undo step of a layer whose voxels were changed in place: the layer's frame (not
// owned), the stable identity of the layer that holds it, the voxels of a box of that frame as they
// were, and the layer's display filter at that time. The imaging core makes records
// (VA_CompleteUndoRec for the whole frame, VA_CompleteUndoRecBox for a 4D box), captures the present
// state of the same box as the inverse record (GetFrameCurrentState) and puts a snapshot back
// (ApplyFrameChange). A record owns its snapshot; copies duplicate it. Records are made with new and
// destroyed with delete.
//
// Only the box is kept, so that undoing a brush stroke on a large 4D volume costs the stroke's
// voxels, not a copy of the volume. A whole-frame record can be shrunk, once the change it guards
// has been made, to the box of the voxels that really differ (ShrinkToChanges).

#include <cstdint>

#include "TwkTypes.h"
#include "ViewFilt.h"

enum : int32_t { UNDO_NONE = 0, UNDO_FRAME_CHANGE = 1 };

struct UNDOREC {
  int32_t kind = UNDO_NONE;
  FRAME* frame = nullptr;      // the layer's frame the record belongs to (not owned)
  PR_VIEWFILT filter;          // the layer's display filter when the snapshot was taken
  FRAME* snapshot = nullptr;   // the voxels of box as they were (owned); null for a record without change
  uint64_t owner = 0;          // stable identity of the layer holding frame (0: not known)
  RECT4D box;                  // the part of the frame the snapshot covers (inclusive)
  DIM3D frameDim;              // the frame's shape when the record was made
  int32_t frameType = FRM_INVALID;
  int32_t frameBpv = 0;
  uint8_t wholeFrame = 0;      // the snapshot is the whole frame (may restore a frame of another shape)

  UNDOREC() = default;
  UNDOREC(const UNDOREC& other);
  UNDOREC& operator=(const UNDOREC& other);
  ~UNDOREC();

  // A new frame-change record holding the present voxels of this record's box of its frame and the
  // given filter (this record's filter when null); null when the frame is gone, has changed shape
  // under a box record, or memory runs out. The owner is carried over.
  UNDOREC* GetFrameCurrentState(const PR_VIEWFILT* filter) const;
  // Writes the snapshot back into the frame (the frame keeps its address, so the layer holding it
  // sees the change); false for a record without frame, or a box record whose frame changed shape.
  bool ApplyFrameChange();
  // Reduces the box to the voxels in which the snapshot differs from the frame's present voxels
  // (no snapshot at all when none differs). Call it only after the change the record guards was
  // made. False when the frame no longer has the recorded shape or memory runs out (the record is
  // then unchanged).
  bool ShrinkToChanges();
  // Bytes held by the record and its snapshot.
  uint64_t MemSize() const;
};

// A frame-change record of the frame's present voxels and the filter; null on failure.
UNDOREC* VA_CompleteUndoRec(const PR_VIEWFILT* filter, FRAME* frame);
// The same for the 4D box of the frame only (clipped to the frame); null for a box outside it.
UNDOREC* VA_CompleteUndoRecBox(const PR_VIEWFILT* filter, FRAME* frame, const RECT4D* box);
