// Signal normalisation and the 2.5D slabs that the networks read.
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "AnnData.h"
#include "TwkMem.h"
#include "volume/VolumeBox.h"

namespace {

bool defined(double v) { return std::isfinite(v) && v < VOID_VALUE * 0.5; }

// The value at fraction q of the sorted defined values (linear between neighbours).
double percentile(std::vector<double>& values, double q) {
  const double pos = q * double(values.size() - 1);
  const size_t lo = size_t(std::floor(pos));
  std::nth_element(values.begin(), values.begin() + lo, values.end());
  const double a = values[lo];
  if (lo + 1 >= values.size()) return a;
  const double b = *std::min_element(values.begin() + lo + 1, values.end());
  return a + (b - a) * (pos - double(lo));
}

}  // namespace

bool VA_NormalizeSignal(double* values, int64_t n, int method, double lo, double hi) {
  if (method < DATANORM_NONE || method > DATANORM_PERCENTILE || (!values && n > 0)) return false;
  double offset = 0, scale = 1;
  if (method != DATANORM_NONE) {
    double mn = INFINITY, mx = -INFINITY, sum = 0, sum2 = 0;
    int64_t count = 0;
    for (int64_t i = 0; i < n; ++i) {
      const double v = values[i];
      if (!defined(v)) continue;
      mn = std::min(mn, v);
      mx = std::max(mx, v);
      sum += v;
      sum2 += v * v;
      ++count;
    }
    double a = mn, b = mx;
    if (method == DATANORM_ZSCORE && count > 0) {
      const double mean = sum / double(count);
      a = mean;
      b = mean + std::sqrt(std::max(0.0, sum2 / double(count) - mean * mean));
    } else if (method == DATANORM_INTERVAL && hi > lo) {
      a = lo;
      b = hi;
    } else if (method == DATANORM_PERCENTILE && count > 0) {
      std::vector<double> kept;
      kept.reserve(size_t(count));
      for (int64_t i = 0; i < n; ++i)
        if (defined(values[i])) kept.push_back(values[i]);
      a = percentile(kept, 0.005);
      b = percentile(kept, 0.995);
    }
    offset = a;
    scale = count > 0 && b > a ? 1.0 / (b - a) : 0.0;  // a constant volume normalises to zeros
  }
  for (int64_t i = 0; i < n; ++i) values[i] = defined(values[i]) ? (values[i] - offset) * scale : 0.0;
  return true;
}

double* VA_VolGetNormalized(const FRAME* frame, int method, double lo, double hi) {
  if (!frame || frame->dim.t < 1) return nullptr;
  auto* voxels = static_cast<double*>(VA_VolGetAll(frame, 0, 64, frame->dim.t, false));
  if (!voxels) return nullptr;
  const int64_t n = int64_t(frame->dim.w) * frame->dim.h * frame->dim.d * frame->dim.t;
  if (!VA_NormalizeSignal(voxels, n, method, lo, hi)) pf_free(&voxels);
  return voxels;
}

void VA_FillSlabs(const double* voxels, const DIM3D& dims, int slabR, bool timepointsAsChannels, float* out) {
  const int64_t plane = int64_t(dims.w) * dims.h;
  const int width = 2 * slabR + 1;
  const int64_t slabChannels = timepointsAsChannels ? int64_t(width) * dims.t : width;
  const int64_t numSlabs = timepointsAsChannels ? dims.d : int64_t(dims.d) * dims.t;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, numSlabs), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t s = r.begin(); s < r.end(); ++s) {
      float* slab = out + s * slabChannels * plane;
      const int z = int(timepointsAsChannels ? s : s % dims.d);
      const int t0 = timepointsAsChannels ? 0 : int(s / dims.d);
      const int t1 = timepointsAsChannels ? dims.t : t0 + 1;
      for (int t = t0; t < t1; ++t)
        for (int k = 0; k < width; ++k) {
          const int zz = std::clamp(z + k - slabR, 0, dims.d - 1);
          const double* src = voxels + (int64_t(t) * dims.d + zz) * plane;
          float* dst = slab + (int64_t(t - t0) * width + k) * plane;
          for (int64_t i = 0; i < plane; ++i) dst[i] = float(src[i]);
        }
    }
  });
}

namespace {

void* extractSlabs(const FRAME* frame, int torchType, int normMethod, int slabR, bool asChannels, int64_t* slabBytes,
                   int64_t* numSlabs) {
  if (!frame || slabR < 0 || (torchType != TORCHDT_FLOAT32 && torchType != TORCHDT_FLOAT64)) return nullptr;
  const DIM3D dims = frame->dim;
  const int64_t plane = int64_t(dims.w) * dims.h;
  const int64_t channels = int64_t(2 * slabR + 1) * (asChannels ? dims.t : 1);
  const int64_t count = asChannels ? dims.d : int64_t(dims.d) * dims.t;
  double* voxels = VA_VolGetNormalized(frame, normMethod, 0, 0);
  if (!voxels) return nullptr;
  const int64_t elements = count * channels * plane;
  float* slabs = static_cast<float*>(pf_malloc(elements * int64_t(sizeof(float))));
  void* result = slabs;
  if (slabs) {
    VA_FillSlabs(voxels, dims, slabR, asChannels, slabs);
    if (torchType == TORCHDT_FLOAT64) {
      auto* wide = static_cast<double*>(pf_malloc(elements * 8));
      if (wide)
        tbb::parallel_for(tbb::blocked_range<int64_t>(0, elements), [&](const tbb::blocked_range<int64_t>& r) {
          for (int64_t i = r.begin(); i < r.end(); ++i) wide[i] = slabs[i];
        });
      pf_free(&slabs);
      result = wide;
    }
  }
  pf_free(&voxels);
  if (result) {
    if (slabBytes) *slabBytes = channels * plane * VA_TorchDataSize(torchType);
    if (numSlabs) *numSlabs = count;
  }
  return result;
}

}  // namespace

void* VA_ExtractSlabs_SeparateTimepoints(const FRAME* frame, int torchType, int normMethod, int slabR,
                                         int64_t* slabBytes, int64_t* numSlabs) {
  return extractSlabs(frame, torchType, normMethod, slabR, false, slabBytes, numSlabs);
}

void* VA_ExtractSlabs_TimepointsAsChannels(const FRAME* frame, int torchType, int normMethod, int slabR,
                                           int64_t* slabBytes, int64_t* numSlabs) {
  return extractSlabs(frame, torchType, normMethod, slabR, true, slabBytes, numSlabs);
}
