#pragma once
// The engine under every box function of the volume family: copies a box of voxels between
// frames and buffers with kind conversion, and fills boxes, in one pass over the lines (in parallel
// for large boxes). Whole runs of equal kind are copied with memcpy, ROI runs word by word.

#include <cstdint>

#include "TwkTypes.h"
#include "VoxelAccess.h"

namespace twk {

// Where the lines of a 4D box lie: in a frame (the box's corner at x0, y0, z0, t0) or in a buffer
// that holds exactly the box (corner 0, depth = box depth). A box "slab" is one slice of the box;
// slab s is slice z0 + s % boxDepth of time point t0 + s / boxDepth.
struct BoxLines {
  uint8_t* data = nullptr;
  int64_t lineBytes = 0;
  int64_t height = 0;    // lines per slice of the frame or buffer
  int64_t depth = 0;     // slices per time point of the frame or buffer
  int64_t x0 = 0, y0 = 0, z0 = 0, t0 = 0;
  int64_t boxDepth = 1;  // slices of the box per time point
  VoxelElem elem = VoxelElem::Invalid;

  uint8_t* line(int64_t slab, int64_t y) const {
    const int64_t t = slab / boxDepth, z = slab % boxDepth;
    return data + (((t0 + t) * depth + z0 + z) * height + y0 + y) * lineBytes;
  }
};

// The lines of a box inside a frame.
BoxLines frameBoxLines(const FRAME* f, int64_t x0, int64_t y0, int64_t z0, int64_t t0, int64_t boxDepth);
// The lines of a buffer holding a box of w x h x boxDepth voxels per time point.
BoxLines bufferBoxLines(const void* data, VoxelElem elem, int64_t w, int64_t h, int64_t boxDepth);

// Copies w voxels x h lines x slabs slabs from src to dst, converting kinds; ROI sources give
// inValue/outValue to numeric targets. src and dst must not overlap.
void transferBox(const BoxLines& src, const BoxLines& dst, int64_t w, int64_t h, int64_t slabs, double inValue,
                 double outValue);

// Sets w voxels x h lines x slabs slabs of dst to one value.
void fillBox(const BoxLines& dst, int64_t w, int64_t h, int64_t slabs, double value);

// Copies n bits from bit sp of src to bit dp of dst (most significant bit first), touching no
// other bit of dst.
void copyBits(const uint8_t* src, int64_t sp, uint8_t* dst, int64_t dp, int64_t n);

}  // namespace twk
