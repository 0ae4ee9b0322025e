#pragma once
// Voxel frames: creation, copies, release and sizes.
//
// A frame holds one voxel kind: FRM_ROI (1 bit per voxel), FRM_INT (unsigned 8, 16 or 32 bits) or
// FRM_REAL (64-bit doubles); the layout is described in TwkTypes.h. Every frame returned here is
// new and belongs to the caller, who frees it with PR_FrameDelete. The frame record and its voxels
// are counted pf_* blocks. Null means failure (bad arguments or no memory).

#include <cstdint>
#include <memory>

#include "TwkTypes.h"

// A frame of the given kind and bits per voxel (0: the kind's default width, see PR_VolBpv), with
// all dimensions at least 1. The voxels are zero when zero is set (ROI frames are always zeroed,
// so that their line padding is zero), otherwise undefined.
FRAME* PR_FrameCreate(FRMTYPE type, int bpv, const DIM3D& dims, bool zero);

// Frees the voxels and the record and sets *frame to null; null or an empty slot does nothing.
void PR_FrameDelete(FRAME** frame);
// The one owner of a frame: frees it with PR_FrameDelete when it goes out of scope. Every
// intermediate frame is held by one; release() hands a frame on to a caller that takes it over
// (a function that returns it, a layer that adopts it).
struct PR_FrameDeleter {
  void operator()(FRAME* frame) const noexcept { PR_FrameDelete(&frame); }
};
using FramePtr = std::unique_ptr<FRAME, PR_FrameDeleter>;

// Lends a held frame to a call that may take it over through a FRAME** slot (AddResultLayer,
// VA_CloneByReformat and their kind): the call finds the frame in the slot; when it clears the slot
// the frame is its, otherwise the holder has it back at the end of the full expression.
//   FramePtr map(VA_VolDynamicMax(frame, t0, t1, true));
//   set.AddResultLayer(true, true, name, vol, FrameHandOff(map), 50, 0, -1);
// The other arguments of that call must not read the holder: it is empty while the call runs.
class FrameHandOff {
 public:
  explicit FrameHandOff(FramePtr& holder) : holder_(holder), slot_(holder.release()) {}
  ~FrameHandOff() { holder_.reset(slot_); }
  FrameHandOff(const FrameHandOff&) = delete;
  FrameHandOff& operator=(const FrameHandOff&) = delete;
  operator FRAME**() { return &slot_; }

 private:
  FramePtr& holder_;
  FRAME* slot_;
};

// Deletes the n frames of the array (null entries are skipped) and frees the array itself.
void PR_FrameArrDelete(FRAME*** frames, int n);

// Bytes of voxel data of the frame (0 for null).
uint64_t PR_FrameMemSize(const FRAME* frame);

// Bits per voxel of a frame (0 for null), and the default width of a kind: 1 for ROI, 32 for
// integer (wide enough for every integer value, the void value 16777215 included), 64 for real,
// 0 for anything else.
int PR_VolBpv(const FRAME* frame);
int PR_VolBpv(FRMTYPE type);

// A new frame of w x h x d x t voxels with the values copied from a buffer of w*h*d*t values in
// voxel order (x fastest, then y, z, time). bpv gives the values' type: 8, 16 or 32 make an integer
// frame of that width, 64 a real frame of doubles, and 1 an ROI frame from one byte per voxel
// (nonzero = inside). Null for a null buffer.
FRAME* VA_CreateVol(const void* values, int bpv, int w, int h, int d, int t);

// A new frame filled with one value (converted as VoxelAccess.h describes). The kind forms take
// FRM_ROI (1), FRM_INT (4) or FRM_REAL (5) and the kind's default width unless bpv is given; the
// first form takes bits per voxel (1, 8, 16, 32, 64) instead of a kind.
FRAME* VA_VolCreateUniform(const DIM3D* dims, int bpv, double value);
FRAME* VA_VolCreateUniform(int type, const DIM3D& dims, double value);
FRAME* VA_VolCreateUniform(int type, const DIM3D* dims, double value);
FRAME* VA_VolCreateUniform(int type, const DIM3D& dims, double value, int bpv);

// A copy of the frame (kind, dimensions and voxels).
FRAME* VA_VolClone(const FRAME* frame);
