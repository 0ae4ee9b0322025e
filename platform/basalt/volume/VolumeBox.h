#pragma once
// Boxes, slices and whole time points of voxel frames: reading them into buffers, writing buffers or
// other frames into them, filling them, and cropping 4D boxes into new frames.
//
// Boxes are inclusive RECT3D voxel bounds of one time point t; a null box means the whole volume.
// Boxes that are read or written must lie inside the frame (no clipping; false or null otherwise);
// fills are clipped to the frame.
//
// Buffer layout: the box's voxels in voxel order (x fastest, then y, then z; after that the next
// time point for VA_VolGetAll), as values of the buffer's bits per voxel:
//   0  the frame's own kind and width ("native");
//   1  ROI bits: each line of the box packed most significant bit first and padded to whole
//      16-bit words, exactly as in an ROI frame of the box's size;
//   8, 16, 32  unsigned integers; 64 doubles.
// Reading an ROI into a numeric buffer gives inValue for voxels inside and outValue for the others;
// writing numbers into an ROI sets voxels whose value is nonzero and defined; other conversions
// are described in VoxelAccess.h.
// New buffers are pf_malloc blocks that the caller releases with pf_free; frames are released with
// PR_FrameDelete.

#include <cstdint>

#include "TwkTypes.h"

// Bytes of a buffer that holds the box (null: whole volume) at bpv (0: native); -1 when the box or
// the width is invalid.
int64_t VA_VolBoxBytes(const FRAME* frame, const RECT3D* box, int bpv);

// The box of time point t in a new buffer; null on failure.
void* VA_VolGetBox(const FRAME* frame, int t, const RECT3D* box, int bpv = 0, double inValue = 1.0,
                   double outValue = 0.0);
// The same with the inside and outside values written as integers (so that a bpv of 0 followed by
// integer values does not read as the caller-buffer form below).
inline void* VA_VolGetBox(const FRAME* frame, int t, const RECT3D* box, int bpv, int inValue, int outValue) {
  return VA_VolGetBox(frame, t, box, bpv, double(inValue), double(outValue));
}
// The box into a caller buffer of at least VA_VolBoxBytes bytes.
bool VA_VolGetBox(const FRAME* frame, int t, const RECT3D* box, void* out, int bpv = 0, double inValue = 1.0,
                  double outValue = 0.0);

// Writes a buffer holding the box into time point t.
bool VA_VolSetBox(FRAME* frame, int t, const RECT3D* box, const void* data, int bpv = 0);
// Copies the box srcBox of time point srcT of src into dstBox of time point t of dst (null boxes:
// the whole volume); the boxes must have the same size. src may be dst.
bool VA_VolSetBox(FRAME* dst, int t, const RECT3D* dstBox, const FRAME* src, int srcT, const RECT3D* srcBox);
// A frame passed where a buffer is expected is a mistake: use the six-argument form.
bool VA_VolSetBox(FRAME* dst, int t, const RECT3D* box, const FRAME* src, int bpv) = delete;

// Sets the voxels of time point t (-1: every time point) to value: inside the box (clipped to the
// frame), or, with inside false, everywhere outside it. False for a bad time point or an inverted
// box.
bool VA_VolFillBox(FRAME* frame, int t, const RECT3D* box, bool inside, double value);
bool VA_VolFillBox(FRAME* frame, int t, const RECT3D* box, double value);

// Writes one whole slice z of time point t from a buffer of width x height voxels.
bool VA_VolSetSlice(FRAME* frame, int t, int z, const void* data, int bpv = 0);

// All voxels of numT time points from t (numT <= 0: up to the last) in a new buffer. Here bpv 0
// means 32-bit integers for ROI and integer frames and doubles for real frames. A failure is
// reported when showErrors is set; null on failure.
void* VA_VolGetAll(const FRAME* frame, int t, int bpv, int numT = 1, bool showErrors = false);

// A new frame of the same kind holding the 4D box (x0..x1, y0..y1, z0..z1, t0..t1), which must lie
// inside the frame. A failure is reported when showErrors is set; null on failure.
FRAME* VA_VolCrop(const FRAME* frame, const RECT4D* box, bool showErrors = false);

// A new frame of one time point holding time point t of the frame (every voxel, same kind); null
// for a bad frame or time point (reported when showErrors is set).
FRAME* VA_VolCropTimepoint(const FRAME* frame, int t, bool showErrors = false);
