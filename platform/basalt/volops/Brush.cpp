// The voxel brush: one segment painted into a frame within its own box.

#include "volops/Brush.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "UndoRec.h"
#include "Vol.h"
#include "render/ProjectionGeometry.h"
#include "volume/VolumeProjection.h"
#include "volume/VoxelAccess.h"

namespace {

struct Segment {
  int shape = 0;
  int inPlane[2] = {0, 1};  // volume axes of the plane's x and y
  int normal = 2;           // volume axis of the plane's normal
  double a[3] = {}, c[3] = {};
  double sp[3] = {1, 1, 1};
  double radius = 0;        // voxels
  double radiusMm = 0;      // millimetres
  int slice = 0;            // the disc's slice (shape 0)
  RECT4D box;
};

// Squared distance from p to the segment a..c in n dimensions of the scaled coordinates.
double segmentDistance2(const double* p, const double* a, const double* c, const double* scale, const int* axes, int n) {
  double ac[3], ap[3], len2 = 0, dot = 0;
  for (int i = 0; i < n; ++i) {
    const int k = axes[i];
    ac[i] = (c[k] - a[k]) * scale[k];
    ap[i] = (p[k] - a[k]) * scale[k];
    len2 += ac[i] * ac[i];
    dot += ac[i] * ap[i];
  }
  const double u = len2 > 0 ? std::clamp(dot / len2, 0.0, 1.0) : 0.0;
  double d2 = 0;
  for (int i = 0; i < n; ++i) {
    const double e = ap[i] - u * ac[i];
    d2 += e * e;
  }
  return d2;
}

bool inside(const Segment& s, const double p[3]) {
  static const double unit[3] = {1, 1, 1};
  switch (s.shape) {
    case VA_BRUSH_SPHERE: {
      static const int all[3] = {0, 1, 2};
      return segmentDistance2(p, s.a, s.c, s.sp, all, 3) <= s.radiusMm * s.radiusMm;
    }
    case VA_BRUSH_CYLINDER: {
      const double lo = std::min(s.a[s.normal], s.c[s.normal]), hi = std::max(s.a[s.normal], s.c[s.normal]);
      const double along = p[s.normal] < lo ? lo - p[s.normal] : p[s.normal] > hi ? p[s.normal] - hi : 0.0;
      if (along * s.sp[s.normal] > s.radiusMm) return false;
      return segmentDistance2(p, s.a, s.c, unit, s.inPlane, 2) <= s.radius * s.radius;
    }
    default: return segmentDistance2(p, s.a, s.c, unit, s.inPlane, 2) <= s.radius * s.radius;
  }
}

// The segment's geometry and its clipped box; false when refused.
bool prepare(const FRAME* frame, const SPC* spc, const BRUSHPARMS* parms, const VA_VOLPROJ* proj,
             const VA_BRUSHPOINT* anchor, const VA_BRUSHPOINT* current, int shape, Segment* s) {
  if (!frame || !frame->data || !spc || !parms || !proj || !anchor || !current) return false;
  if (frame->type != FRM_ROI && frame->type != FRM_INT && frame->type != FRM_REAL) return false;
  if (!(parms->radius > 0) || !std::isfinite(parms->radius)) return false;
  const double pts[6] = {anchor->x, anchor->y, anchor->z, current->x, current->y, current->z};
  for (double v : pts)
    if (!std::isfinite(v)) return false;
  VA_PROJMAP map;
  if (!VA_IsOrthoProj(proj) || !VA_VolProjMap(&frame->dim, spc, proj, &map) || !map.ortho) return false;
  const DIM3D& d = frame->dim;
  int t0 = 0, t1 = d.t - 1;
  if (!parms->allTimepoints) {
    const int t = d.t == 1 ? 0 : current->time;
    if (t < 0 || t >= d.t) return false;
    t0 = t1 = t;
  }
  s->shape = shape == VA_BRUSH_SPHERE || shape == VA_BRUSH_CYLINDER ? shape : VA_BRUSH_CIRCLE;
  s->inPlane[0] = map.axis[0];
  s->inPlane[1] = map.axis[1];
  s->normal = map.axis[2];
  for (int k = 0; k < 3; ++k) {
    s->a[k] = pts[k];
    s->c[k] = pts[3 + k];
  }
  s->sp[0] = spc->x;
  s->sp[1] = spc->y;
  s->sp[2] = spc->z;
  if (!(s->sp[0] > 0) || !(s->sp[1] > 0) || !(s->sp[2] > 0)) return false;
  s->radius = parms->radius;
  s->radiusMm = parms->radius * std::min(s->sp[s->inPlane[0]], s->sp[s->inPlane[1]]);
  s->slice = int(std::floor(s->c[s->normal]));

  const int size[3] = {d.w, d.h, d.d};
  int lo[3], hi[3];
  for (int k = 0; k < 3; ++k) {
    double reach = s->radius;  // voxels along axis k
    if (s->shape == VA_BRUSH_SPHERE || (s->shape == VA_BRUSH_CYLINDER && k == s->normal)) reach = s->radiusMm / s->sp[k];
    const double from = std::min(s->a[k], s->c[k]) - reach, to = std::max(s->a[k], s->c[k]) + reach;
    // Voxel i is reached only when its centre i + 0.5 lies within [from, to].
    lo[k] = int(std::clamp(std::ceil(from - 0.5), -1.0, double(size[k])));
    hi[k] = int(std::clamp(std::floor(to - 0.5), -1.0, double(size[k])));
    if (s->shape == VA_BRUSH_CIRCLE && k == s->normal) lo[k] = hi[k] = s->slice;
    lo[k] = std::max(lo[k], 0);
    hi[k] = std::min(hi[k], size[k] - 1);
    if (lo[k] > hi[k]) return false;
  }
  s->box = RECT4D{lo[0], lo[1], lo[2], hi[0], hi[1], hi[2], t0, t1};
  return true;
}

// Sets or clears the bits first..last of an ROI line.
void setBitRange(uint8_t* line, int64_t first, int64_t last, bool on) {
  while (first <= last && (first & 7)) twk::setBit(line, first++, on);
  while (last >= first && ((last + 1) & 7)) twk::setBit(line, last--, on);
  if (first <= last) std::memset(line + first / 8, on ? 0xFF : 0x00, size_t((last - first + 1) / 8));
}

// Every shape is convex, so a line of the box meets it in one run of voxels: the run is found once
// per line and written into every time point of the box.
template <class T>
void paintRows(FRAME* frame, const Segment& s, T value) {
  const RECT4D& b = s.box;
  const int64_t ny = b.y1 - b.y0 + 1, nz = b.z1 - b.z0 + 1;
  const int64_t width = b.x1 - b.x0 + 1, times = b.t1 - b.t0 + 1;
  tbb::parallel_for(
      tbb::blocked_range<int64_t>(0, ny * nz, size_t(std::max<int64_t>(1, 16384 / (width * times)))),
      [&](const tbb::blocked_range<int64_t>& r) {
        for (int64_t row = r.begin(); row != r.end(); ++row) {
          const int64_t y = b.y0 + row % ny, z = b.z0 + row / ny;
          double p[3] = {0, y + 0.5, z + 0.5};
          int64_t first = b.x1 + 1, last = b.x0 - 1;
          for (int64_t x = b.x0; x <= b.x1; ++x) {
            p[0] = x + 0.5;
            if (!inside(s, p)) {
              if (first <= b.x1) break;  // the run has ended
              continue;
            }
            if (first > b.x1) first = x;
            last = x;
          }
          if (first > last) continue;
          for (int64_t t = b.t0; t <= b.t1; ++t) {
            uint8_t* line = twk::frameLine(frame, y, z, t);
            if constexpr (std::is_same_v<T, bool>) setBitRange(line, first, last, value);
            else std::fill(reinterpret_cast<T*>(line) + first, reinterpret_cast<T*>(line) + last + 1, value);
          }
        }
      });
}

}  // namespace

bool VA_BrushSegmentBox(const FRAME* frame, const SPC* spc, const BRUSHPARMS* parms, const VA_VOLPROJ* proj,
                        const VA_BRUSHPOINT* anchor, const VA_BRUSHPOINT* current, int shape, RECT4D* box) {
  Segment s;
  if (!box || !prepare(frame, spc, parms, proj, anchor, current, shape, &s)) return false;
  *box = s.box;
  return true;
}

bool VA_ApplyBrush(FRAME* frame, const SPC* spc, const BRUSHPARMS* parms, const VA_VOLPROJ* proj,
                   const VA_BRUSHPOINT* anchor, const VA_BRUSHPOINT* current, bool paint, int shape, UNDOREC** undo) {
  Segment s;
  if (!prepare(frame, spc, parms, proj, anchor, current, shape, &s)) return false;
  if (undo) {
    *undo = VA_CompleteUndoRecBox(nullptr, frame, &s.box);
    if (!*undo) return false;
  }
  const double signal = paint ? parms->paintSignal : parms->eraseSignal;
  switch (twk::voxelElemOf(frame)) {
    case twk::VoxelElem::Bit: paintRows<bool>(frame, s, paint); break;
    case twk::VoxelElem::U8: paintRows<uint8_t>(frame, s, twk::voxelFromDouble<uint8_t>(signal)); break;
    case twk::VoxelElem::U16: paintRows<uint16_t>(frame, s, twk::voxelFromDouble<uint16_t>(signal)); break;
    case twk::VoxelElem::U32: paintRows<uint32_t>(frame, s, twk::voxelFromDouble<uint32_t>(signal)); break;
    case twk::VoxelElem::F64: paintRows<double>(frame, s, signal); break;
    default:
      if (undo) {
        delete *undo;
        *undo = nullptr;
      }
      return false;
  }
  return true;
}

bool CVol::ApplyBrush(const BRUSHPARMS* parms, const VA_VOLPROJ* proj, const VA_BRUSHPOINT* anchor,
                      const VA_BRUSHPOINT* current, bool paint, int shape, UNDOREC** undo) {
  return VA_ApplyBrush(frame, &spc, parms, proj, anchor, current, paint, shape, undo);
}
