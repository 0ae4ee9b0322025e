#pragma once
// Line helpers of the volume operations: whole lines of a frame as doubles with voids made
// uniform, masked writes, and the padding bits of ROI lines.

#include <cstdint>
#include <vector>

#include "TwkTypes.h"
#include "volume/VoxelAccess.h"

namespace twk {

// Line y of slice z of time point t as doubles: an ROI gives 1 and 0, and the 32-bit integer
// void (16777215) becomes the real void 1e60, so that callers test one value.
inline void lineToDoubles(const FRAME* f, int64_t y, int64_t z, int64_t t, std::vector<double>& out) {
  const int64_t w = f->dim.w;
  out.resize(size_t(w));
  const uint8_t* line = frameLine(f, y, z, t);
  switch (voxelElemOf(f)) {
    case VoxelElem::Bit:
      for (int64_t x = 0; x < w; ++x) out[size_t(x)] = getBit(line, x) ? 1.0 : 0.0;
      break;
    case VoxelElem::U8:
      for (int64_t x = 0; x < w; ++x) out[size_t(x)] = line[x];
      break;
    case VoxelElem::U16:
      for (int64_t x = 0; x < w; ++x) out[size_t(x)] = reinterpret_cast<const uint16_t*>(line)[x];
      break;
    case VoxelElem::U32:
      for (int64_t x = 0; x < w; ++x) {
        const uint32_t v = reinterpret_cast<const uint32_t*>(line)[x];
        out[size_t(x)] = v == VOID_INT_VALUE ? VOID_VALUE : double(v);
      }
      break;
    case VoxelElem::F64:
      for (int64_t x = 0; x < w; ++x) out[size_t(x)] = reinterpret_cast<const double*>(line)[x];
      break;
    default:
      for (int64_t x = 0; x < w; ++x) out[size_t(x)] = 0.0;
      break;
  }
}

// Clears the bits of an ROI line that lie beyond its width, so that lines compare and count
// correctly whatever an operation did to whole bytes.
inline void clearRoiPadding(uint8_t* line, int64_t width, int64_t lineBytes) {
  int64_t i = width / 8;
  if (width % 8 && i < lineBytes) line[i++] &= uint8_t(0xFF << (8 - width % 8));
  for (; i < lineBytes; ++i) line[i] = 0;
}

template <class T>
inline void setTypedWhereMask(T* line, int64_t w, const uint8_t* mask, bool inside, T value) {
  for (int64_t x = 0; x < w; ++x)
    if (getBit(mask, x) == inside) line[x] = value;
}

// Sets the voxels of line y of slice z of time point t to value where the mask line's bit equals
// inside (the value converted to the frame's kind once).
inline void setLineWhereMask(FRAME* f, int64_t y, int64_t z, int64_t t, const uint8_t* mask, bool inside, double value) {
  uint8_t* line = frameLine(f, y, z, t);
  const int64_t w = f->dim.w;
  switch (voxelElemOf(f)) {
    case VoxelElem::Bit: {
      const bool bit = roiInsideFromDouble(value);
      for (int64_t x = 0; x < w; ++x)
        if (getBit(mask, x) == inside) setBit(line, x, bit);
      break;
    }
    case VoxelElem::U8: setTypedWhereMask(line, w, mask, inside, voxelFromDouble<uint8_t>(value)); break;
    case VoxelElem::U16:
      setTypedWhereMask(reinterpret_cast<uint16_t*>(line), w, mask, inside, voxelFromDouble<uint16_t>(value));
      break;
    case VoxelElem::U32:
      setTypedWhereMask(reinterpret_cast<uint32_t*>(line), w, mask, inside, voxelFromDouble<uint32_t>(value));
      break;
    case VoxelElem::F64: setTypedWhereMask(reinterpret_cast<double*>(line), w, mask, inside, value); break;
    default: break;
  }
}

}  // namespace twk
