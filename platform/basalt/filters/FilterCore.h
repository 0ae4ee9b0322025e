#pragma once
// The pieces the filters share (internal to the filters family): a time point read as doubles with
// its void voxels, mirrored indices, kernel supports and weights, and the neighbourhood filter that
// every non-separable smoothing runs.

#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkTypes.h"
#include "TwkUi.h"
#include "volume/VoxelAccess.h"

namespace twk::filters {

// "<function> : <text>" in a message box when show is set.
inline void reportError(const wchar_t* function, const CString& text, bool show) {
  if (show) twk::showNamedError(function, text);
}

// An integer or real frame with voxels.
inline bool isSignalFrame(const FRAME* frame) {
  return frame && frame->data && (frame->type == FRM_INT || frame->type == FRM_REAL) &&
         twk::voxelElemOf(frame) != twk::VoxelElem::Invalid;
}

// A time point as doubles (x fastest) with a flag per voxel: 1 defined, 0 void.
struct Volume3 {
  int w = 0, h = 0, d = 0;
  std::vector<double> v;
  std::vector<uint8_t> valid;
  bool hasVoid = false;
  int64_t size() const { return int64_t(w) * h * d; }
  int64_t index(int x, int y, int z) const { return (int64_t(z) * h + y) * w + x; }
};

// True for the void value of the frame's kind (1e60 in real frames, 16,777,215 in 32-bit ones).
bool isVoidVoxel(const FRAME* frame, double value);
// Reads time point t; false for a bad frame or time point, or no memory.
bool readTimePoint(const FRAME* frame, int t, Volume3* out);
// Reads slice z of time point t (w*h doubles into v, 1/0 defined flags into valid; voids read as
// VOID_VALUE); false for a bad frame, time point or slice.
bool readSlice(const FRAME* frame, int t, int z, double* v, uint8_t* valid);
// Writes values (w*h*d doubles) into time point t with the kind's conversion.
bool writeTimePoint(FRAME* frame, int t, const double* values);
// The void value of a frame's kind as a double, written back as void.
inline double voidValue() { return VOID_VALUE; }

// Every time point of frame, each voxel mapped by value(i, v, valid) (i its index in the time
// point), written into result (same dimensions). False when a time point cannot be read.
template <class Fn>
bool mapEachTimePoint(const FRAME* frame, FRAME* result, Fn&& value) {
  for (int k = 0; k < frame->dim.t; ++k) {
    Volume3 tp;
    if (!readTimePoint(frame, k, &tp)) return false;
    for (size_t i = 0; i < tp.v.size(); ++i) tp.v[i] = value(i, tp.v[i], tp.valid[i] != 0);
    if (!writeTimePoint(result, k, tp.v.data())) return false;
  }
  return true;
}

// scipy.ndimage's "reflect" index: d c b a | a b c d | d c b a.
inline int mirror(int i, int n) {
  if (n == 1) return 0;
  for (;;) {
    if (i < 0) i = -i - 1;
    else if (i >= n) i = 2 * n - i - 1;
    else return i;
  }
}

struct Offset {
  int dx, dy, dz;
  double rho;     // distance in voxels of the smallest spacing
  double weight;
};

// Kernel weight at distance rho for a kernel of radius r (rank kernels weigh 1).
double kernelWeight(int kernel, double rho, double radius);
// The offsets of the ball of radius r (voxels of the smallest spacing) with their weights; with
// inPlane the ball is a disc in its slice. spc null: 1 mm.
std::vector<Offset> ballOffsets(double radius, const SPC* spc, bool inPlane, int kernel);
// Per-axis half-widths of the separable box: floor(r * s / s_axis).
void separableHalfWidths(double radius, const SPC* spc, int half[3]);

// The neighbourhood filter: for each voxel where change(i) holds (all when null), the kernel's
// weighted mean (or rank value) of the neighbours j (mirrored at the borders) where counts(i, j)
// holds; voxels without such neighbours, and those that do not change, keep their value; void
// voxels stay void. Runs slice by slice in parallel; false when the progress was stopped.
template <class Counts, class Change, class Progress>
bool neighbourhoodFilter(const Volume3& in, const std::vector<Offset>& offsets, int kernel, const Counts& counts,
                         const Change& change, double* out, Progress&& step) {
  const int w = in.w, h = in.h, d = in.d;
  const bool rank = kernel >= 4;
  for (int z = 0; z < d; ++z) {
    tbb::parallel_for(tbb::blocked_range<int>(0, h, 8), [&](const tbb::blocked_range<int>& r) {
      std::vector<double> values;
      values.reserve(offsets.size());
      for (int y = r.begin(); y != r.end(); ++y)
        for (int x = 0; x < w; ++x) {
          const int64_t i = in.index(x, y, z);
          out[i] = in.v[size_t(i)];
          if (!in.valid[size_t(i)] || !change(i)) continue;
          double sum = 0, sw = 0;
          values.clear();
          for (const Offset& o : offsets) {
            const int64_t j = in.index(mirror(x + o.dx, w), mirror(y + o.dy, h), mirror(z + o.dz, d));
            if (!in.valid[size_t(j)] || !counts(i, j)) continue;
            if (rank) {
              values.push_back(in.v[size_t(j)]);
            } else {
              sum += o.weight * in.v[size_t(j)];
              sw += o.weight;
            }
          }
          if (rank) {
            if (values.empty()) continue;
            if (kernel == 5) out[i] = *std::min_element(values.begin(), values.end());
            else if (kernel == 6) out[i] = *std::max_element(values.begin(), values.end());
            else {
              auto mid = values.begin() + values.size() / 2;
              std::nth_element(values.begin(), mid, values.end());
              out[i] = *mid;
            }
          } else if (sw > 0) {
            out[i] = sum / sw;
          }
        }
    });
    if (!step(z + 1, d)) return false;
  }
  return true;
}

}  // namespace twk::filters
