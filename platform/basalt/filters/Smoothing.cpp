// Smoothing of signal volumes: separable, over an ROI, edge-constrained; and of ROI outlines.
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "filters/FilterCore.h"
#include "filters/Filters.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

using namespace twk::filters;

namespace {

// One axis of the separable convolution: out = weights (2 half + 1) * in along the axis, mirrored.
void convolveAxis(const std::vector<double>& in, std::vector<double>& out, int w, int h, int d, int axis,
                  const std::vector<double>& weights) {
  const int half = int(weights.size() / 2);
  const int n = axis == 0 ? w : axis == 1 ? h : d;
  const int64_t stride = axis == 0 ? 1 : axis == 1 ? w : int64_t(w) * h;
  // Lines along the axis, each one task: their first voxel and how many there are.
  const int64_t lines = int64_t(w) * h * d / n;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, lines, 64), [&](const tbb::blocked_range<int64_t>& r) {
    std::vector<double> line(static_cast<size_t>(n));
    for (int64_t l = r.begin(); l != r.end(); ++l) {
      int64_t first;
      if (axis == 0) first = l * w;
      else if (axis == 1) first = (l / w) * int64_t(w) * h + l % w;
      else first = l;
      for (int i = 0; i < n; ++i) line[size_t(i)] = in[size_t(first + i * stride)];
      for (int i = 0; i < n; ++i) {
        double s = 0;
        for (int k = -half; k <= half; ++k) s += weights[size_t(k + half)] * line[size_t(mirror(i + k, n))];
        out[size_t(first + i * stride)] = s;
      }
    }
  });
}

// Copies every time point of frame into a new frame of the same kind, then runs fn(t, result)
// on the time points asked for. Null (result freed) when fn fails.
template <class Fn>
FRAME* eachTimePoint(const FRAME* frame, int t, Fn&& fn) {
  FRAME* result = VA_VolClone(frame);
  if (!result) return nullptr;
  const int t0 = t < 0 ? 0 : t, t1 = t < 0 ? frame->dim.t - 1 : t;
  for (int k = t0; k <= t1; ++k)
    if (!fn(k, result)) {
      PR_FrameDelete(&result);
      return nullptr;
    }
  return result;
}

}  // namespace

FRAME* VA_VolConvoluteSeparable3D(const FRAME* frame, int axisMask, const SPC* spc, int kernel, double radius,
                                  bool show) {
  const wchar_t* name = L"VA_VolConvoluteSeparable3D";
  if (!isSignalFrame(frame)) {
    reportError(name, L"Integer or Real volume is required", show);
    return nullptr;
  }
  if (kernel < 0 || kernel > 3) {
    reportError(name, kernel <= 6 ? L"Separable smoothing needs a weighted kernel" : L"Unknown kernel type", show);
    return nullptr;
  }
  if (!(radius > 0) || radius > 1000) {
    reportError(name, L"Smoothing radius must lie in (0, 1000] voxels", show);
    return nullptr;
  }
  const int mask = axisMask == 0 ? 7 : axisMask;
  int half[3];
  separableHalfWidths(radius, spc, half);
  const SPC s = spc ? *spc : SPC{};
  const double smallest = std::min({s.x, s.y, s.z}), spacing[3] = {s.x, s.y, s.z};
  twk::ProgressGuard progress(L"Smoothing", show);
  return eachTimePoint(frame, -1, [&](int t, FRAME* result) {
    Volume3 vol;
    if (!readTimePoint(frame, t, &vol)) return false;
    const int dims[3] = {vol.w, vol.h, vol.d};
    // Voids: normalised convolution, the weights of the defined voxels alone.
    std::vector<double> num(vol.v), den, tmp(vol.v.size());
    if (vol.hasVoid) {
      den.assign(vol.valid.begin(), vol.valid.end());
      for (size_t i = 0; i < num.size(); ++i)
        if (!vol.valid[i]) num[i] = 0;
    }
    for (int a = 0; a < 3; ++a) {
      if (!(mask & (1 << a)) || half[a] == 0 || dims[a] == 1) continue;
      // The kernel along the axis, by the distance in voxels of the smallest spacing.
      std::vector<double> weights(static_cast<size_t>(2 * half[a] + 1));
      for (int k = -half[a]; k <= half[a]; ++k)
        weights[size_t(k + half[a])] = kernelWeight(kernel, std::abs(k) * spacing[a] / smallest, radius);
      const double total = std::accumulate(weights.begin(), weights.end(), 0.0);
      for (double& wgt : weights) wgt /= total;
      convolveAxis(num, tmp, vol.w, vol.h, vol.d, a, weights);
      num.swap(tmp);
      if (vol.hasVoid) {
        convolveAxis(den, tmp, vol.w, vol.h, vol.d, a, weights);
        den.swap(tmp);
      }
      if (!progress.Step(int64_t(t) * 3 + a + 1, int64_t(frame->dim.t) * 3)) return false;
    }
    if (vol.hasVoid)
      for (size_t i = 0; i < num.size(); ++i)
        num[i] = !vol.valid[i] ? VOID_VALUE : den[i] > 0 ? num[i] / den[i] : vol.v[i];
    return writeTimePoint(result, t, num.data());
  });
}

FRAME* VA_VolSmoothWithROI(const VA_VOLSMOOTH* record, const FRAME* frame, int t, const FRAME* roi, const SPC* spc,
                           bool voidOutside, bool show) {
  const wchar_t* name = L"VA_VolSmoothWithROI";
  if (!record || !isSignalFrame(frame)) {
    reportError(name, L"Integer or Real volume is required", show);
    return nullptr;
  }
  if (t >= frame->dim.t || t < -1) {
    reportError(name, L"Invalid time point", show);
    return nullptr;
  }
  if (roi && (roi->type != FRM_ROI || roi->dim.w != frame->dim.w || roi->dim.h != frame->dim.h ||
              roi->dim.d != frame->dim.d)) {
    reportError(name, L"The ROI does not match the volume", show);
    return nullptr;
  }
  if (record->kernel < 0 || record->kernel > 6) {
    reportError(name, L"Unknown kernel type", show);
    return nullptr;
  }
  if (!(record->radius > 0) || record->radius > 1000) {
    reportError(name, L"Smoothing radius must lie in (0, 1000] voxels", show);
    return nullptr;
  }
  const std::vector<Offset> offsets = ballOffsets(record->radius, spc, !record->process3D, record->kernel);
  std::vector<uint8_t> inside;
  if (roi) {
    inside.resize(size_t(int64_t(frame->dim.w) * frame->dim.h * frame->dim.d));
    int64_t i = 0;
    for (int z = 0; z < frame->dim.d; ++z)
      for (int y = 0; y < frame->dim.h; ++y) {
        const uint8_t* line = twk::frameLine(roi, y, z, 0);
        for (int x = 0; x < frame->dim.w; ++x) inside[size_t(i++)] = twk::getBit(line, x);
      }
  }
  const bool constrain = roi && record->constrainByMask;
  twk::ProgressGuard progress(L"Smoothing", show);
  const int numT = t < 0 ? frame->dim.t : 1;
  return eachTimePoint(frame, t, [&](int k, FRAME* result) {
    Volume3 vol;
    if (!readTimePoint(frame, k, &vol)) return false;
    std::vector<double> out(vol.v.size());
    const int done = t < 0 ? k : 0;
    auto step = [&](int z, int d) { return progress.Step(int64_t(done) * d + z, int64_t(numT) * d); };
    auto counts = [&](int64_t, int64_t j) { return !constrain || inside[size_t(j)] != 0; };
    auto change = [&](int64_t i) { return !roi || inside[size_t(i)] != 0; };
    if (!neighbourhoodFilter(vol, offsets, record->kernel, counts, change, out.data(), step)) return false;
    if (roi && voidOutside)
      for (size_t i = 0; i < out.size(); ++i)
        if (!inside[i]) out[i] = VOID_VALUE;
    return writeTimePoint(result, k, out.data());
  });
}

FRAME* VA_RoiSmoothShape(const FRAME* roi, double radius) {
  if (!roi || !roi->data || roi->type != FRM_ROI || !(radius > 0)) return nullptr;
  FRAME* result = PR_FrameCreate(FRM_ROI, 1, roi->dim, true);
  if (!result) return nullptr;
  const std::vector<Offset> offsets = ballOffsets(radius, nullptr, roi->dim.d == 1, 0);
  const int w = roi->dim.w, h = roi->dim.h, d = roi->dim.d;
  const size_t need = offsets.size() / 2 + 1;  // more than half of the ball
  for (int t = 0; t < roi->dim.t; ++t)
    tbb::parallel_for(tbb::blocked_range<int>(0, h * d, 4), [&](const tbb::blocked_range<int>& r) {
      for (int line = r.begin(); line != r.end(); ++line) {
        const int y = line % h, z = line / h;
        uint8_t* out = twk::frameLine(result, y, z, t);
        for (int x = 0; x < w; ++x) {
          size_t n = 0;
          for (const Offset& o : offsets) {
            const int xx = x + o.dx, yy = y + o.dy, zz = z + o.dz;
            // Outside the volume counts as outside the ROI.
            if (xx >= 0 && yy >= 0 && zz >= 0 && xx < w && yy < h && zz < d && twk::roiBit(roi, xx, yy, zz, t)) ++n;
          }
          twk::setBit(out, x, n >= need);
        }
      }
    });
  return result;
}
