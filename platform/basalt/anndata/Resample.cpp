// In-plane and isotropic resampling, thresholds to regions, region boxes, crops with a fill value
// and box sizes rounded to a multiple.
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "AnnData.h"
#include "docsupport/DocSupport.h"
#include "volume/Frame.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "volume/VolumeBox.h"

namespace {

struct DoubleBuffer {
  double* p = nullptr;
  ~DoubleBuffer() { pf_free(&p); }
};

// A new frame of the source's kind and width from doubles of every time point.
FRAME* frameFromDoubles(const FRAME* like, FRMTYPE type, const DIM3D& dims, const double* values) {
  FRAME* out = PR_FrameCreate(type, type == like->type ? like->bpv : 0, dims, type == FRM_ROI);
  if (!out) return nullptr;
  const int64_t volume = int64_t(dims.w) * dims.h * dims.d;
  for (int t = 0; t < dims.t; ++t)
    if (!VA_VolSetBox(out, t, nullptr, values + t * volume, 64)) {
      PR_FrameDelete(&out);
      return nullptr;
    }
  return out;
}

// Source coordinate of target index i when n source samples become m, centres aligned.
inline double sourceCoordinate(int i, int n, int m) { return (i + 0.5) * double(n) / m - 0.5; }
inline int nearestIndex(int i, int n, int m) { return std::clamp(int(std::floor((i + 0.5) * double(n) / m)), 0, n - 1); }

}  // namespace

FRAME* VA_ResampleSlices(const FRAME* frame, int newW, int newH, int interpolation) {
  if (!frame || newW < 1 || newH < 1 || frame->dim.t < 1) return nullptr;
  const DIM3D src = frame->dim;
  DoubleBuffer in;
  in.p = static_cast<double*>(VA_VolGetAll(frame, 0, 64, src.t, false));
  if (!in.p) return nullptr;
  const DIM3D dst{newW, newH, src.d, src.t};
  DoubleBuffer out;
  out.p = static_cast<double*>(pf_malloc(int64_t(newW) * newH * src.d * src.t * 8));
  if (!out.p) return nullptr;
  const int64_t srcPlane = int64_t(src.w) * src.h, dstPlane = int64_t(newW) * newH;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, int64_t(src.d) * src.t), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t s = r.begin(); s < r.end(); ++s) {
      const double* a = in.p + s * srcPlane;
      double* b = out.p + s * dstPlane;
      for (int y = 0; y < newH; ++y)
        for (int x = 0; x < newW; ++x) {
          if (interpolation == 0) {
            b[int64_t(y) * newW + x] = a[int64_t(nearestIndex(y, src.h, newH)) * src.w + nearestIndex(x, src.w, newW)];
            continue;
          }
          const double sx = std::clamp(sourceCoordinate(x, src.w, newW), 0.0, double(src.w - 1));
          const double sy = std::clamp(sourceCoordinate(y, src.h, newH), 0.0, double(src.h - 1));
          const int x0 = std::min(int(sx), std::max(src.w - 2, 0)), y0 = std::min(int(sy), std::max(src.h - 2, 0));
          const int x1 = std::min(x0 + 1, src.w - 1), y1 = std::min(y0 + 1, src.h - 1);
          const double fx = sx - x0, fy = sy - y0;
          const double v00 = a[int64_t(y0) * src.w + x0], v10 = a[int64_t(y0) * src.w + x1];
          const double v01 = a[int64_t(y1) * src.w + x0], v11 = a[int64_t(y1) * src.w + x1];
          b[int64_t(y) * newW + x] = (1 - fy) * ((1 - fx) * v00 + fx * v10) + fy * ((1 - fx) * v01 + fx * v11);
        }
    }
  });
  return frameFromDoubles(frame, frame->type, dst, out.p);
}

CVol* VA_ResampleToVoxelSize(const CVol* vol, double mm, int mode, bool show) {
  const wchar_t* name = L"VA_ResampleToVoxelSize";
  if (!vol || !vol->frame || !(mm > 0) || !vol->IsValidSpc()) {
    if (show) twk::showNamedError(name, L"Invalid volume or voxel size");
    return nullptr;
  }
  const DIM3D src = *vol->Dim();
  const double sp[3] = {vol->Vx(), vol->Vy(), vol->Vz()};
  const int n[3] = {src.w, src.h, src.d};
  int m[3];
  for (int a = 0; a < 3; ++a) m[a] = std::max(1, int(std::lround(n[a] * sp[a] / mm)));
  const DIM3D dst{m[0], m[1], m[2], src.t};
  DoubleBuffer in, out;
  in.p = static_cast<double*>(VA_VolGetAll(vol->frame, 0, 64, src.t, false));
  out.p = in.p ? static_cast<double*>(pf_malloc(int64_t(m[0]) * m[1] * m[2] * src.t * 8)) : nullptr;
  if (!out.p) {
    if (show) twk::showNamedError(name, L"Not enough memory");
    return nullptr;
  }
  // Per axis: the two source indices and the weight of the second for every target index.
  std::vector<int> lo[3], hi[3];
  std::vector<double> weight[3];
  for (int a = 0; a < 3; ++a) {
    for (int i = 0; i < m[a]; ++i) {
      const double step = mm / sp[a];
      if (mode == 0) {
        const int k = std::clamp(int(std::floor((i + 0.5) * step)), 0, n[a] - 1);
        lo[a].push_back(k), hi[a].push_back(k), weight[a].push_back(0);
        continue;
      }
      const double s = std::clamp((i + 0.5) * step - 0.5, 0.0, double(n[a] - 1));
      const int k0 = std::min(int(s), std::max(n[a] - 2, 0));
      lo[a].push_back(k0), hi[a].push_back(std::min(k0 + 1, n[a] - 1)), weight[a].push_back(s - k0);
    }
  }
  const int64_t srcPlane = int64_t(src.w) * src.h, dstPlane = int64_t(m[0]) * m[1];
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, int64_t(m[2]) * src.t), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t s = r.begin(); s < r.end(); ++s) {
      const int z = int(s % m[2]), t = int(s / m[2]);
      const double* a0 = in.p + (int64_t(t) * src.d + lo[2][size_t(z)]) * srcPlane;
      const double* a1 = in.p + (int64_t(t) * src.d + hi[2][size_t(z)]) * srcPlane;
      const double wz = weight[2][size_t(z)];
      double* b = out.p + s * dstPlane;
      for (int y = 0; y < m[1]; ++y) {
        const int64_t r0 = int64_t(lo[1][size_t(y)]) * src.w, r1 = int64_t(hi[1][size_t(y)]) * src.w;
        const double wy = weight[1][size_t(y)];
        for (int x = 0; x < m[0]; ++x) {
          const int c0 = lo[0][size_t(x)], c1 = hi[0][size_t(x)];
          const double wx = weight[0][size_t(x)];
          auto plane = [&](const double* p) {
            return (1 - wy) * ((1 - wx) * p[r0 + c0] + wx * p[r0 + c1]) + wy * ((1 - wx) * p[r1 + c0] + wx * p[r1 + c1]);
          };
          b[int64_t(y) * m[0] + x] = (1 - wz) * plane(a0) + wz * plane(a1);
        }
      }
    }
  });
  const FRMTYPE type = mode == 1 && !vol->IsROI() ? FRM_REAL : vol->Type();
  FRAME* frame = frameFromDoubles(vol->frame, type, dst, out.p);
  if (!frame) {
    if (show) twk::showNamedError(name, L"Not enough memory");
    return nullptr;
  }
  // The first target voxel's centre, in source voxel coordinates, placed in the patient.
  const double* o = vol->orient;
  const double normal[3] = {o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5], o[0] * o[4] - o[1] * o[3]};
  double offset[3];
  for (int a = 0; a < 3; ++a) offset[a] = (0.5 * mm / sp[a] - 0.5) * sp[a];
  DPOINT3D first = vol->imgPos ? vol->imgPos[0] : DPOINT3D{};
  first.x += o[0] * offset[0] + o[3] * offset[1] + normal[0] * offset[2];
  first.y += o[1] * offset[0] + o[4] * offset[1] + normal[1] * offset[2];
  first.z += o[2] * offset[0] + o[5] * offset[1] + normal[2] * offset[2];
  const SPC spacing{mm, mm, mm};
  CVol* result = VA_CloneByReformat(vol, &frame, &spacing, nullptr, &first, show);
  if (!result) PR_FrameDelete(&frame);
  return result;
}

FRAME* VA_VolThresholdToRoi(const FRAME* frame, double lo, double hi) {
  if (!frame) return nullptr;
  DIM3D dims = frame->dim;
  dims.t = 1;
  if (frame->type == FRM_ROI) {
    const RECT4D box{0, 0, 0, dims.w - 1, dims.h - 1, dims.d - 1, 0, 0};
    return VA_VolCrop(frame, &box);
  }
  DoubleBuffer values;
  values.p = static_cast<double*>(VA_VolGetBox(frame, 0, nullptr, 64));
  if (!values.p) return nullptr;
  const int64_t n = int64_t(dims.w) * dims.h * dims.d;
  for (int64_t i = 0; i < n; ++i) values.p[i] = values.p[i] >= lo && values.p[i] <= hi ? 1.0 : 0.0;
  FRAME* roi = PR_FrameCreate(FRM_ROI, 1, dims, true);
  if (roi && !VA_VolSetBox(roi, 0, nullptr, values.p, 64)) PR_FrameDelete(&roi);
  return roi;
}

bool VA_RoiBoundingBox(const FRAME* roi, RECT3D* box) {
  if (!roi || !box) return false;
  auto* inside = static_cast<uint8_t*>(VA_VolGetBox(roi, 0, nullptr, 8, 1, 0));
  if (!inside) return false;
  const DIM3D d = roi->dim;
  RECT3D b{d.w, d.h, d.d, -1, -1, -1};
  for (int z = 0; z < d.d; ++z)
    for (int y = 0; y < d.h; ++y) {
      const uint8_t* line = inside + (int64_t(z) * d.h + y) * d.w;
      for (int x = 0; x < d.w; ++x)
        if (line[x]) {
          b.x0 = std::min(b.x0, x), b.x1 = std::max(b.x1, x);
          b.y0 = std::min(b.y0, y), b.y1 = std::max(b.y1, y);
          b.z0 = std::min(b.z0, z), b.z1 = std::max(b.z1, z);
        }
    }
  pf_free(&inside);
  if (b.x1 < 0) return false;
  *box = b;
  return true;
}

FRAME* VA_VolCropWithFill(const FRAME* frame, const RECT3D* box, double fill) {
  if (!frame || !box || box->x1 < box->x0 || box->y1 < box->y0 || box->z1 < box->z0) return nullptr;
  const DIM3D dims{box->x1 - box->x0 + 1, box->y1 - box->y0 + 1, box->z1 - box->z0 + 1, 1};
  FRAME* out = PR_FrameCreate(frame->type, frame->bpv, dims, true);
  if (!out) return nullptr;
  if (!VA_VolFillBox(out, 0, nullptr, fill)) {
    PR_FrameDelete(&out);
    return nullptr;
  }
  // The part of the box inside the frame.
  const RECT3D src{std::max(box->x0, 0), std::max(box->y0, 0), std::max(box->z0, 0),
                   std::min(box->x1, frame->dim.w - 1), std::min(box->y1, frame->dim.h - 1), std::min(box->z1, frame->dim.d - 1)};
  if (src.x0 <= src.x1 && src.y0 <= src.y1 && src.z0 <= src.z1) {
    const RECT3D dst{src.x0 - box->x0, src.y0 - box->y0, src.z0 - box->z0,
                     src.x1 - box->x0, src.y1 - box->y0, src.z1 - box->z0};
    if (!VA_VolSetBox(out, 0, &dst, frame, 0, &src)) PR_FrameDelete(&out);
  }
  return out;
}

void PR_MakeDimensionsMultipleOfBase(RECT3D* box, int base) {
  if (!box || base < 1) return;
  auto widen = [base](int32_t& lo, int32_t& hi) {
    const int size = hi - lo + 1;
    const int grow = (base - size % base) % base;
    lo -= grow / 2;
    hi += grow - grow / 2;
  };
  widen(box->x0, box->x1);
  widen(box->y0, box->y1);
  widen(box->z0, box->z1);
}

bool VA_AreCompatibleDimensions(const CVol* a, const CVol* b) {
  return a && b && a->frame && b->frame && a->W() == b->W() && a->H() == b->H() && a->D() == b->D();
}
