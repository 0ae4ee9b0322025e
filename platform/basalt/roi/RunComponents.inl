#pragma once
// The template part of RunComponents.h.

#include <cstring>

#include "volume/VoxelAccess.h"

namespace twk::cc {

void parallelLines(int64_t lines, void (*fn)(void*, int64_t, int64_t), void* context);

// Sets bits x0..x1 (inclusive) of a packed line, whole bytes at once.
inline void setBitRange(uint8_t* bits, int64_t x0, int64_t x1) {
  int64_t x = x0;
  for (; x <= x1 && (x & 7); ++x) bits[x >> 3] |= uint8_t(0x80u >> (x & 7));
  if (x + 8 <= x1 + 1) {
    const int64_t bytes = (x1 + 1 - x) >> 3;
    std::memset(bits + (x >> 3), 0xFF, size_t(bytes));
    x += bytes << 3;
  }
  for (; x <= x1; ++x) bits[x >> 3] |= uint8_t(0x80u >> (x & 7));
}

template <class Keep>
void writeRuns(const RunLabels& labels, FRAME* dst, int t, bool clear, Keep keep) {
  struct Ctx {
    const RunLabels* labels;
    FRAME* dst;
    int t;
    bool clear;
    Keep* keep;
  } ctx{&labels, dst, t, clear, &keep};
  parallelLines(int64_t(labels.dim.h) * labels.dim.d, [](void* p, int64_t begin, int64_t end) {
    Ctx& c = *static_cast<Ctx*>(p);
    const int64_t h = c.labels->dim.h;
    for (int64_t line = begin; line < end; ++line) {
      uint8_t* bits = frameLine(c.dst, line % h, line / h, c.t);
      if (c.clear) std::memset(bits, 0, size_t(c.dst->lineBytes));
      for (int64_t r = c.labels->lineStart[size_t(line)]; r < c.labels->lineStart[size_t(line) + 1]; ++r) {
        if (!(*c.keep)(c.labels->label[size_t(r)])) continue;
        const Run& run = c.labels->runs[size_t(r)];
        setBitRange(bits, run.x0, run.x1);
      }
    }
  }, &ctx);
}

}  // namespace twk::cc
