#pragma once
// The voxel frame in document files. Documents store frames in this layout, so it never changes;
// a new layout would take a new magic.
//
//   offset  size  field (little-endian, no padding)
//   0       8     magic "TWKFRM01"
//   8       4     int32 voxel kind (FRMTYPE: 1 ROI, 4 integer, 5 real)
//   12      16    int32 width, height, depth, time points
//   28      4     int32 bits per voxel (ROI 1; integer 8, 16 or 32; real 64)
//   32      8     int64 bytes per line (the frame's lineBytes: ROI lines padded to 16-bit words)
//   40      8     int64 voxel bytes N = lineBytes * height * depth * time points
//   48      N     the voxels in the frame layout (slices z + t * depth, lines of lineBytes bytes)

#include <cstdio>

#include "TwkTypes.h"
#include "serial/MemFile.h"

// Appends the frame to the memory file; false for an invalid frame or when the file cannot grow.
bool PR_FrameWrite(MFILE* mf, const FRAME* frame);
// Reads a frame at the stream's position. Kind, bits, dimensions and sizes are checked against each
// other and against the bytes left in the stream before anything is allocated; a damaged record
// gives null (and the stream position is undefined). With show set, progress runs up to
// progressEnd percent while the voxels are read (PR_SendMessageInterval); a stop by the user fails
// the read.
FRAME* PR_FrameReadFile(FILE* fp, bool show, int progressEnd);
