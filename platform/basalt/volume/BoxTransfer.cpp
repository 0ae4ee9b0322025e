#include "BoxTransfer.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <cstring>

namespace twk {

namespace {

struct BitElem {};

// Below this many bytes a box is copied on the calling thread: starting workers costs more.
constexpr int64_t kParallelBytes = int64_t(1) << 18;
// Aim for chunks of about this many bytes per task.
constexpr int64_t kChunkBytes = int64_t(1) << 16;

inline uint64_t loadBigEndian64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}
inline void storeBigEndian64(uint8_t* p, uint64_t v) {
  v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}

// k (1..8) bits from bit sp, right-aligned; reads no byte beyond the last of those bits.
inline unsigned readBits(const uint8_t* src, int64_t sp, int k) {
  const uint8_t* s = src + (sp >> 3);
  const int shift = int(sp & 7);
  unsigned w = unsigned(s[0]) << 8;
  if (shift + k > 8) w |= s[1];
  return ((w << shift) & 0xFFFFu) >> (16 - k);
}

// Writes k bits (right-aligned in bits) at bit dp, all within one byte of dst.
inline void writeBitsInByte(uint8_t* dst, int64_t dp, int k, unsigned bits) {
  const int shift = 8 - int(dp & 7) - k;
  const unsigned mask = ((1u << k) - 1u) << shift;
  uint8_t& d = dst[dp >> 3];
  d = uint8_t((d & ~mask) | ((bits << shift) & mask));
}

// Sets bits dp .. dp+n-1 of dst to one value.
void fillBits(uint8_t* dst, int64_t dp, int64_t n, bool value) {
  while (n > 0 && (dp & 7)) {
    setBit(dst, dp, value);
    ++dp;
    --n;
  }
  const int64_t bytes = n >> 3;
  if (bytes > 0) {
    std::memset(dst + (dp >> 3), value ? 0xFF : 0x00, size_t(bytes));
    dp += bytes * 8;
    n -= bytes * 8;
  }
  while (n > 0) {
    setBit(dst, dp, value);
    ++dp;
    --n;
  }
}

template <class T>
inline int64_t elemSize() {
  if constexpr (std::is_same_v<T, BitElem>) return 0;
  else return int64_t(sizeof(T));
}

// One run of n voxels of one line: source starting at voxel sx, target at voxel dx.
template <class S, class D>
void copyRun(const uint8_t* sLine, int64_t sx, uint8_t* dLine, int64_t dx, int64_t n, double inValue,
             double outValue) {
  if constexpr (std::is_same_v<S, BitElem> && std::is_same_v<D, BitElem>) {
    copyBits(sLine, sx, dLine, dx, n);
  } else if constexpr (std::is_same_v<S, BitElem>) {
    const D in = voxelFromDouble<D>(inValue), out = voxelFromDouble<D>(outValue);
    D* d = reinterpret_cast<D*>(dLine) + dx;
    for (int64_t i = 0; i < n; ++i) d[i] = getBit(sLine, sx + i) ? in : out;
  } else if constexpr (std::is_same_v<D, BitElem>) {
    const S* s = reinterpret_cast<const S*>(sLine) + sx;
    int64_t i = 0, dp = dx;
    for (; i < n && (dp & 7); ++i, ++dp) setBit(dLine, dp, roiInside(s[i]));
    uint8_t* d = dLine + (dp >> 3);
    for (; i + 8 <= n; i += 8, ++d, dp += 8) {
      uint8_t b = 0;
      for (int k = 0; k < 8; ++k) b = uint8_t((b << 1) | (roiInside(s[i + k]) ? 1 : 0));
      *d = b;
    }
    for (; i < n; ++i, ++dp) setBit(dLine, dp, roiInside(s[i]));
  } else if constexpr (std::is_same_v<S, D>) {
    std::memcpy(dLine + dx * sizeof(D), sLine + sx * sizeof(S), size_t(n) * sizeof(D));
  } else {
    const S* s = reinterpret_cast<const S*>(sLine) + sx;
    D* d = reinterpret_cast<D*>(dLine) + dx;
    for (int64_t i = 0; i < n; ++i) d[i] = convertVoxel<S, D>(s[i]);
  }
}

// Runs body(firstLine, endLine) over all lines, in parallel when the box is large.
template <class Body>
void forLines(int64_t lines, int64_t bytesPerLine, const Body& body) {
  if (lines <= 0) return;
  const int64_t perLine = bytesPerLine > 0 ? bytesPerLine : 1;
  if (lines * perLine < kParallelBytes) {
    body(int64_t(0), lines);
    return;
  }
  const int64_t grain = std::max<int64_t>(1, kChunkBytes / perLine);
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, lines, size_t(grain)),
                    [&](const tbb::blocked_range<int64_t>& r) { body(r.begin(), r.end()); });
}

// Calls body(source line, target line) for the box lines first .. end-1 (line i is line i % h of
// slab i / h), locating each slab once.
template <class Body>
void forEachLine(const BoxLines& src, const BoxLines& dst, int64_t h, int64_t first, int64_t end, const Body& body) {
  int64_t slab = first / h, y = first % h;
  const uint8_t* s = src.line(slab, 0);
  uint8_t* d = dst.line(slab, 0);
  for (int64_t i = first; i < end; ++i) {
    body(s + y * src.lineBytes, d + y * dst.lineBytes);
    if (++y == h && i + 1 < end) {
      y = 0;
      ++slab;
      s = src.line(slab, 0);
      d = dst.line(slab, 0);
    }
  }
}

// True when every slab of the box is one contiguous block in both places, so that a slab can be
// copied with one memcpy: equal kinds, the box spans whole lines, and (for ROIs) no padding bits.
bool slabsContiguous(const BoxLines& src, const BoxLines& dst, int64_t w) {
  if (src.elem != dst.elem || src.x0 != 0 || dst.x0 != 0) return false;
  const int64_t runBytes = src.elem == VoxelElem::Bit ? (w % 8 == 0 ? w / 8 : -1) : voxelLineBytes(w, src.elem);
  return runBytes > 0 && runBytes == src.lineBytes && runBytes == dst.lineBytes;
}

template <class S, class D>
void transferTyped(const BoxLines& src, const BoxLines& dst, int64_t w, int64_t h, int64_t slabs, double inValue,
                   double outValue) {
  if constexpr (std::is_same_v<S, D>) {
    if (slabsContiguous(src, dst, w)) {
      const int64_t slabBytes = h * src.lineBytes;
      // Slabs that follow one another in both places form one block.
      const bool allContiguous = src.line(slabs - 1, 0) == src.line(0, 0) + (slabs - 1) * slabBytes &&
                                 dst.line(slabs - 1, 0) == dst.line(0, 0) + (slabs - 1) * slabBytes;
      if (allContiguous) {
        const int64_t total = slabs * slabBytes;
        forLines((total + kChunkBytes - 1) / kChunkBytes, kChunkBytes, [&](int64_t b, int64_t e) {
          const int64_t first = b * kChunkBytes, last = std::min(total, e * kChunkBytes);
          std::memcpy(dst.line(0, 0) + first, src.line(0, 0) + first, size_t(last - first));
        });
      } else {
        forLines(slabs, slabBytes, [&](int64_t b, int64_t e) {
          for (int64_t s = b; s < e; ++s) std::memcpy(dst.line(s, 0), src.line(s, 0), size_t(slabBytes));
        });
      }
      return;
    }
  }
  const int64_t bytesPerLine = std::max(voxelLineBytes(w, src.elem), voxelLineBytes(w, dst.elem));
  forLines(slabs * h, bytesPerLine, [&](int64_t b, int64_t e) {
    forEachLine(src, dst, h, b, e, [&](const uint8_t* sLine, uint8_t* dLine) {
      copyRun<S, D>(sLine, src.x0, dLine, dst.x0, w, inValue, outValue);
    });
  });
}

template <class S>
void transferFrom(const BoxLines& src, const BoxLines& dst, int64_t w, int64_t h, int64_t slabs, double in,
                  double out) {
  switch (dst.elem) {
    case VoxelElem::Bit: transferTyped<S, BitElem>(src, dst, w, h, slabs, in, out); break;
    case VoxelElem::U8: transferTyped<S, uint8_t>(src, dst, w, h, slabs, in, out); break;
    case VoxelElem::U16: transferTyped<S, uint16_t>(src, dst, w, h, slabs, in, out); break;
    case VoxelElem::U32: transferTyped<S, uint32_t>(src, dst, w, h, slabs, in, out); break;
    case VoxelElem::F64: transferTyped<S, double>(src, dst, w, h, slabs, in, out); break;
    default: break;
  }
}

template <class D>
void fillTyped(const BoxLines& dst, int64_t w, int64_t h, int64_t slabs, double value) {
  forLines(slabs * h, voxelLineBytes(w, dst.elem), [&](int64_t b, int64_t e) {
    if constexpr (std::is_same_v<D, BitElem>) {
      const bool inside = roiInsideFromDouble(value);
      forEachLine(dst, dst, h, b, e, [&](const uint8_t*, uint8_t* line) { fillBits(line, dst.x0, w, inside); });
    } else {
      const D v = voxelFromDouble<D>(value);
      forEachLine(dst, dst, h, b, e, [&](const uint8_t*, uint8_t* line) {
        D* d = reinterpret_cast<D*>(line) + dst.x0;
        std::fill(d, d + w, v);
      });
    }
  });
}

}  // namespace

void copyBits(const uint8_t* src, int64_t sp, uint8_t* dst, int64_t dp, int64_t n) {
  if (n <= 0) return;
  // Bring the target to a byte boundary, then copy whole bytes (words where possible).
  if (dp & 7) {
    const int k = int(std::min<int64_t>(8 - (dp & 7), n));
    writeBitsInByte(dst, dp, k, readBits(src, sp, k));
    sp += k;
    dp += k;
    n -= k;
  }
  const uint8_t* s = src + (sp >> 3);
  uint8_t* d = dst + (dp >> 3);
  const int shift = int(sp & 7);
  if (shift == 0) {
    const int64_t bytes = n >> 3;
    std::memcpy(d, s, size_t(bytes));
    s += bytes;
    d += bytes;
    sp += bytes * 8;
    dp += bytes * 8;
    n -= bytes * 8;
  } else {
    // With a shift, 64 target bits need source bytes s[0] .. s[8], all inside the run.
    for (; n >= 64; n -= 64, s += 8, d += 8, sp += 64, dp += 64)
      storeBigEndian64(d, (loadBigEndian64(s) << shift) | (s[8] >> (8 - shift)));
    for (; n >= 8; n -= 8, ++s, ++d, sp += 8, dp += 8) *d = uint8_t((s[0] << shift) | (s[1] >> (8 - shift)));
  }
  if (n > 0) writeBitsInByte(dst, dp, int(n), readBits(src, sp, int(n)));
}

BoxLines frameBoxLines(const FRAME* f, int64_t x0, int64_t y0, int64_t z0, int64_t t0, int64_t boxDepth) {
  BoxLines b;
  b.data = f->data;
  b.lineBytes = f->lineBytes;
  b.height = f->dim.h;
  b.depth = f->dim.d;
  b.x0 = x0;
  b.y0 = y0;
  b.z0 = z0;
  b.t0 = t0;
  b.boxDepth = boxDepth;
  b.elem = voxelElemOf(f);
  return b;
}

BoxLines bufferBoxLines(const void* data, VoxelElem elem, int64_t w, int64_t h, int64_t boxDepth) {
  BoxLines b;
  b.data = static_cast<uint8_t*>(const_cast<void*>(data));
  b.lineBytes = voxelLineBytes(w, elem);
  b.height = h;
  b.depth = boxDepth;
  b.boxDepth = boxDepth;
  b.elem = elem;
  return b;
}

void transferBox(const BoxLines& src, const BoxLines& dst, int64_t w, int64_t h, int64_t slabs, double inValue,
                 double outValue) {
  if (w <= 0 || h <= 0 || slabs <= 0) return;
  switch (src.elem) {
    case VoxelElem::Bit: transferFrom<BitElem>(src, dst, w, h, slabs, inValue, outValue); break;
    case VoxelElem::U8: transferFrom<uint8_t>(src, dst, w, h, slabs, inValue, outValue); break;
    case VoxelElem::U16: transferFrom<uint16_t>(src, dst, w, h, slabs, inValue, outValue); break;
    case VoxelElem::U32: transferFrom<uint32_t>(src, dst, w, h, slabs, inValue, outValue); break;
    case VoxelElem::F64: transferFrom<double>(src, dst, w, h, slabs, inValue, outValue); break;
    default: break;
  }
}

void fillBox(const BoxLines& dst, int64_t w, int64_t h, int64_t slabs, double value) {
  if (w <= 0 || h <= 0 || slabs <= 0) return;
  switch (dst.elem) {
    case VoxelElem::Bit: fillTyped<BitElem>(dst, w, h, slabs, value); break;
    case VoxelElem::U8: fillTyped<uint8_t>(dst, w, h, slabs, value); break;
    case VoxelElem::U16: fillTyped<uint16_t>(dst, w, h, slabs, value); break;
    case VoxelElem::U32: fillTyped<uint32_t>(dst, w, h, slabs, value); break;
    case VoxelElem::F64: fillTyped<double>(dst, w, h, slabs, value); break;
    default: break;
  }
}

}  // namespace twk
