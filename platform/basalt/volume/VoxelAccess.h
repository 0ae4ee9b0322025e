#pragma once
// Voxel access for the imaging core's families: where a voxel of a frame lies, its value as a
// double for any voxel kind, writing a double into any kind, and the bits of ROI frames.
//
// Conversions, used the same way by every box, fill and voxel function:
//   - to an integer voxel: rounded to the nearest integer, negatives and NaN give 0, values above
//     the type's range give its largest value, and the void value 1e60 gives the integer void
//     16777215 (the largest value for 8- and 16-bit frames);
//   - to an ROI voxel: inside when the value is nonzero and defined (not NaN, not a void value);
//   - from an ROI voxel: the caller's inside and outside values (1 and 0 unless given);
//   - between integer widths: clamped to the target's range; to a real voxel: exact.
//
// These helpers do no bounds checks; callers check coordinates against frame->dim first
// (twk::voxelInFrame). Loops over many voxels should take a line pointer once (twk::frameLine)
// and work on the typed line, as the box functions do.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "TwkTypes.h"

namespace twk {

// The element kinds of frames and voxel buffers.
enum class VoxelElem { Invalid, Bit, U8, U16, U32, F64 };

inline VoxelElem voxelElemOfBpv(int bpv) {
  switch (bpv) {
    case 1: return VoxelElem::Bit;
    case 8: return VoxelElem::U8;
    case 16: return VoxelElem::U16;
    case 32: return VoxelElem::U32;
    case 64: return VoxelElem::F64;
    default: return VoxelElem::Invalid;
  }
}

inline VoxelElem voxelElemOf(const FRAME* f) {
  switch (f->type) {
    case FRM_ROI: return f->bpv == 1 ? VoxelElem::Bit : VoxelElem::Invalid;
    case FRM_INT: return f->bpv == 8 || f->bpv == 16 || f->bpv == 32 ? voxelElemOfBpv(f->bpv) : VoxelElem::Invalid;
    case FRM_REAL: return f->bpv == 64 ? VoxelElem::F64 : VoxelElem::Invalid;
    default: return VoxelElem::Invalid;
  }
}

// Bytes of one line of n voxels: ROI lines are padded to whole 16-bit words.
inline int64_t voxelLineBytes(int64_t n, VoxelElem e) {
  switch (e) {
    case VoxelElem::Bit: return (n + 15) / 16 * 2;
    case VoxelElem::U8: return n;
    case VoxelElem::U16: return 2 * n;
    case VoxelElem::U32: return 4 * n;
    case VoxelElem::F64: return 8 * n;
    default: return -1;
  }
}

inline bool voxelInFrame(const FRAME* f, int64_t x, int64_t y, int64_t z, int64_t t) {
  return x >= 0 && y >= 0 && z >= 0 && t >= 0 && x < f->dim.w && y < f->dim.h && z < f->dim.d && t < f->dim.t;
}

// First byte of line y of slice z of time point t.
inline uint8_t* frameLine(const FRAME* f, int64_t y, int64_t z, int64_t t) {
  return f->data + ((t * f->dim.d + z) * f->dim.h + y) * f->lineBytes;
}

// ---- bits: numbered from the most significant bit of byte 0 ----

inline bool getBit(const uint8_t* p, int64_t i) { return (p[i >> 3] >> (7 - (i & 7))) & 1; }
inline void setBit(uint8_t* p, int64_t i, bool v) {
  const uint8_t m = uint8_t(0x80u >> (i & 7));
  if (v) p[i >> 3] |= m;
  else p[i >> 3] &= uint8_t(~m);
}

// ---- value conversions ----

template <class D>
inline D voxelFromDouble(double v) {
  if constexpr (std::is_floating_point_v<D>) {
    return D(v);
  } else {
    constexpr D top = std::numeric_limits<D>::max();
    if (!(v > 0.0)) return 0;
    if (v == VOID_VALUE) return D(std::min<uint64_t>(VOID_INT_VALUE, top));
    if (v >= double(top)) return top;
    return D(v + 0.5);
  }
}

inline bool roiInsideFromDouble(double v) { return v != 0.0 && v == v && v != VOID_VALUE; }
inline bool roiInsideFromInt(uint32_t v) { return v != 0 && v != VOID_INT_VALUE; }

template <class S, class D>
inline D convertVoxel(S v) {
  if constexpr (std::is_same_v<S, D>) {
    return v;
  } else if constexpr (std::is_floating_point_v<S>) {
    return voxelFromDouble<D>(v);
  } else if constexpr (std::is_floating_point_v<D>) {
    return D(v);
  } else {
    constexpr S top = S(std::numeric_limits<D>::max());
    if constexpr (sizeof(S) > sizeof(D)) return v > top ? std::numeric_limits<D>::max() : D(v);
    else return D(v);
  }
}

template <class S>
inline bool roiInside(S v) {
  if constexpr (std::is_floating_point_v<S>) return roiInsideFromDouble(v);
  else return roiInsideFromInt(uint32_t(v));
}

// ---- single voxels of any kind ----

// The voxel as a double (an ROI voxel gives 1 or 0); 0 for a frame of invalid kind.
inline double voxelValue(const FRAME* f, int64_t x, int64_t y, int64_t z, int64_t t) {
  const uint8_t* line = frameLine(f, y, z, t);
  switch (voxelElemOf(f)) {
    case VoxelElem::Bit: return getBit(line, x) ? 1.0 : 0.0;
    case VoxelElem::U8: return line[x];
    case VoxelElem::U16: return reinterpret_cast<const uint16_t*>(line)[x];
    case VoxelElem::U32: return reinterpret_cast<const uint32_t*>(line)[x];
    case VoxelElem::F64: return reinterpret_cast<const double*>(line)[x];
    default: return 0.0;
  }
}

// Writes a double into the voxel with the conversions above.
inline void setVoxelValue(FRAME* f, int64_t x, int64_t y, int64_t z, int64_t t, double v) {
  uint8_t* line = frameLine(f, y, z, t);
  switch (voxelElemOf(f)) {
    case VoxelElem::Bit: setBit(line, x, roiInsideFromDouble(v)); break;
    case VoxelElem::U8: line[x] = voxelFromDouble<uint8_t>(v); break;
    case VoxelElem::U16: reinterpret_cast<uint16_t*>(line)[x] = voxelFromDouble<uint16_t>(v); break;
    case VoxelElem::U32: reinterpret_cast<uint32_t*>(line)[x] = voxelFromDouble<uint32_t>(v); break;
    case VoxelElem::F64: reinterpret_cast<double*>(line)[x] = v; break;
    default: break;
  }
}

inline bool roiBit(const FRAME* f, int64_t x, int64_t y, int64_t z, int64_t t) {
  return getBit(frameLine(f, y, z, t), x);
}
inline void setRoiBit(FRAME* f, int64_t x, int64_t y, int64_t z, int64_t t, bool inside) {
  setBit(frameLine(f, y, z, t), x, inside);
}

}  // namespace twk
