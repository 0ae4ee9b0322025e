// Slice edge and gradient maps (ITK), edge snapping and contour re-snapping.
#include "trace/MagTrace.h"

// GCC's bounds check misreads the 2D instantiation of ITK's Canny filter (a 3D index loop in
// itkSize.h, inlined); the filter itself is sound.
#pragma GCC diagnostic ignored "-Warray-bounds"
#include <itkCannyEdgeDetectionImageFilter.h>
#include <itkGradientRecursiveGaussianImageFilter.h>
#include <itkImage.h>
#include <itkImageRegionConstIterator.h>
#include <itkImageRegionIterator.h>
#include <tbb/parallel_invoke.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "itk/ItkImageViews.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

using Slice = itk::Image<double, 2>;
using Volume = itk::Image<double, 3>;

double sigmaOf(double s) { return s > 0 && std::isfinite(s) ? s : 1.0; }

template <class TImage>
typename TImage::Pointer imageOf(const double* values, const int* size) {
  auto image = TImage::New();
  typename TImage::RegionType region;
  for (unsigned a = 0; a < TImage::ImageDimension; ++a) region.SetSize(a, itk::SizeValueType(size[a]));
  image->SetRegions(region);
  image->Allocate();
  std::memcpy(image->GetBufferPointer(), values, sizeof(double) * region.GetNumberOfPixels());
  return image;
}

bool validDims(const DIM3D* dims) { return dims && dims->w > 0 && dims->h > 0 && dims->d > 0; }

void report(const wchar_t* function, const wchar_t* text, bool show) {
  if (show) twk::showNamedError(function, text);
}

}  // namespace

FRAME* VA_VolCropSlice(const FRAME* frame, int z, int t) {
  if (!frame || !frame->data || z < 0 || z >= frame->dim.d || t < 0 || t >= frame->dim.t) return nullptr;
  FRAME* out = PR_FrameCreate(frame->type, frame->bpv, DIM3D{frame->dim.w, frame->dim.h, 1, 1}, false);
  if (!out) return nullptr;
  for (int y = 0; y < frame->dim.h; ++y)
    std::memcpy(twk::frameLine(out, y, 0, 0), twk::frameLine(frame, y, z, t), size_t(frame->lineBytes));
  return out;
}

double* VA_GetEdgeWorkVol(const FRAME* frame) {
  if (!frame || !frame->data || frame->type == FRM_ROI) return nullptr;
  const int64_t w = frame->dim.w, h = frame->dim.h, d = frame->dim.d;
  if (w < 1 || h < 1 || d < 1) return nullptr;
  auto* out = static_cast<double*>(pf_malloc(w * h * d * int64_t(sizeof(double))));
  if (!out) return nullptr;
  for (int64_t z = 0; z < d; ++z)
    for (int64_t y = 0; y < h; ++y)
      for (int64_t x = 0; x < w; ++x) {
        const double v = twk::voxelValue(frame, x, y, z, 0);
        out[(z * h + y) * w + x] = v == VOID_VALUE || !std::isfinite(v) ? 0.0 : v;
      }
  return out;
}

void VA_URALGRADtoURALEDGE(const VA_URALGRAD* grad, double strength, VA_URALEDGE* edge) {
  *edge = VA_URALEDGE{};
  edge->distanceMetric = grad->metric;
  edge->voxelWeights = grad->weights;
  edge->lowRadius = edge->highRadius = sigmaOf(grad->normalization);
  edge->edgeThreshold = strength;
}

double* VA_DetectGrad3D(const VA_URALGRAD* grad, double, int perSlice, const double* values, const uint8_t* mask,
                        const DIM3D* dims, bool show) {
  const wchar_t* fn = L"VA_DetectGrad3D";
  if (!grad || !values || !validDims(dims)) {
    report(fn, L"Invalid parameters", show);
    return nullptr;
  }
  const int64_t plane = int64_t(dims->w) * dims->h, n = plane * dims->d;
  auto* out = static_cast<double*>(pf_calloc(n * 3 * int64_t(sizeof(double))));
  if (!out) return nullptr;
  const double sigma = sigmaOf(grad->normalization);
  twk::itkv::capThreads();
  try {
    if (perSlice || dims->d == 1) {
      const int size[2] = {dims->w, dims->h};
      for (int z = 0; z < dims->d; ++z) {
        auto filter = itk::GradientRecursiveGaussianImageFilter<Slice>::New();
        filter->SetInput(imageOf<Slice>(values + z * plane, size));
        filter->SetSigma(sigma);
        filter->Update();
        const auto* g = filter->GetOutput()->GetBufferPointer();
        for (int64_t i = 0; i < plane; ++i) {
          out[(z * plane + i) * 3] = g[i][0];
          out[(z * plane + i) * 3 + 1] = g[i][1];
        }
      }
    } else {
      const int size[3] = {dims->w, dims->h, dims->d};
      auto filter = itk::GradientRecursiveGaussianImageFilter<Volume>::New();
      filter->SetInput(imageOf<Volume>(values, size));
      filter->SetSigma(sigma);
      filter->Update();
      const auto* g = filter->GetOutput()->GetBufferPointer();
      for (int64_t i = 0; i < n; ++i)
        for (int a = 0; a < 3; ++a) out[i * 3 + a] = g[i][unsigned(a)];
    }
  } catch (const itk::ExceptionObject& e) {
    report(fn, CString(e.GetDescription()), show);
    pf_free(&out);
    return nullptr;
  }
  if (mask)
    for (int64_t i = 0; i < n; ++i)
      if (!mask[i]) out[i * 3] = out[i * 3 + 1] = out[i * 3 + 2] = 0;
  return out;
}

double* VA_DetectEdge3D(const VA_URALEDGE* edge, int perSlice, const double* values, const uint8_t* mask,
                        const DIM3D* dims, bool show) {
  const wchar_t* fn = L"VA_DetectEdge3D";
  if (!edge || !values || !validDims(dims) || !perSlice) {
    report(fn, L"Invalid parameters", show);
    return nullptr;
  }
  const int64_t plane = int64_t(dims->w) * dims->h, n = plane * dims->d;
  auto* out = static_cast<double*>(pf_calloc(n * int64_t(sizeof(double))));
  if (!out) return nullptr;
  const double sigma = sigmaOf(edge->lowRadius);
  const int size[2] = {dims->w, dims->h};
  twk::itkv::capThreads();
  try {
    for (int z = 0; z < dims->d; ++z) {
      auto filter = itk::CannyEdgeDetectionImageFilter<Slice, Slice>::New();
      filter->SetInput(imageOf<Slice>(values + z * plane, size));
      filter->SetVariance(sigma * sigma);
      filter->SetMaximumError(0.01);
      filter->SetUpperThreshold(edge->edgeThreshold);
      filter->SetLowerThreshold(edge->edgeThreshold / 2);
      filter->Update();
      const double* e = filter->GetOutput()->GetBufferPointer();
      for (int64_t i = 0; i < plane; ++i) out[z * plane + i] = e[i] > 0 ? 1.0 : 0.0;
    }
  } catch (const itk::ExceptionObject& e) {
    report(fn, CString(e.GetDescription()), show);
    pf_free(&out);
    return nullptr;
  }
  if (mask)
    for (int64_t i = 0; i < n; ++i)
      if (!mask[i]) out[i] = 0;
  return out;
}

void VA_FreeSliceMaps(VA_SLICEMAPS* maps) {
  if (!maps) return;
  pf_free(&maps->edges);
  pf_free(&maps->gradient);
  *maps = VA_SLICEMAPS{};
}

bool VA_SliceMapsFor(const VA_MAGTRACE* parms, const FRAME* frame, int z, int t, VA_SLICEMAPS* maps) {
  if (!parms || !frame || !maps) return false;
  // The maps are reused only for the same frame, slice, time point and size.
  if (maps->edges && maps->gradient && maps->frame == frame && maps->z == z && maps->t == t &&
      maps->w == frame->dim.w && maps->h == frame->dim.h)
    return true;
  VA_FreeSliceMaps(maps);
  FRAME* slice = VA_VolCropSlice(frame, z, t);
  double* values = slice ? VA_GetEdgeWorkVol(slice) : nullptr;
  PR_FrameDelete(&slice);
  if (!values) return false;
  const DIM3D dims{frame->dim.w, frame->dim.h, 1, 1};
  VA_URALEDGE edge;
  VA_URALGRADtoURALEDGE(&parms->edge, parms->strength, &edge);
  // The two maps do not depend on each other: they are computed side by side, so that a click on a
  // new slice costs about one filter's time rather than two.
  tbb::parallel_invoke(
      [&] { maps->gradient = VA_DetectGrad3D(&parms->edge, parms->strength, 1, values, nullptr, &dims, false); },
      [&] { maps->edges = VA_DetectEdge3D(&edge, 1, values, nullptr, &dims, false); });
  pf_free(&values);
  if (!maps->edges || !maps->gradient) {
    VA_FreeSliceMaps(maps);
    return false;
  }
  maps->frame = frame;
  maps->z = z;
  maps->t = t;
  maps->w = frame->dim.w;
  maps->h = frame->dim.h;
  return true;
}

namespace {

// Gradient magnitude at a continuous in-plane point (bilinear between voxel centres).
double magnitudeAt(const VA_SLICEMAPS& m, double x, double y) {
  const double fx = std::clamp(x - 0.5, 0.0, double(m.w - 1)), fy = std::clamp(y - 0.5, 0.0, double(m.h - 1));
  const int x0 = std::min(int(fx), m.w - 1), y0 = std::min(int(fy), m.h - 1);
  const int x1 = std::min(x0 + 1, m.w - 1), y1 = std::min(y0 + 1, m.h - 1);
  const double ax = fx - x0, ay = fy - y0;
  auto mag = [&](int xx, int yy) {
    const double* g = m.gradient + (int64_t(yy) * m.w + xx) * 3;
    return std::hypot(g[0], g[1]);
  };
  return (1 - ay) * ((1 - ax) * mag(x0, y0) + ax * mag(x1, y0)) + ay * ((1 - ax) * mag(x0, y1) + ax * mag(x1, y1));
}

const double* gradientAt(const VA_SLICEMAPS& m, int x, int y) { return m.gradient + (int64_t(y) * m.w + x) * 3; }

// The edge voxel centre moved along its gradient to the magnitude's peak (a parabola through the
// magnitudes one voxel either side), at most half a voxel.
DPOINT refine(const VA_SLICEMAPS& m, int x, int y) {
  const double* g = gradientAt(m, x, y);
  const double len = std::hypot(g[0], g[1]);
  DPOINT p{x + 0.5, y + 0.5};
  if (len <= 0) return p;
  const double ux = g[0] / len, uy = g[1] / len;
  const double a = magnitudeAt(m, p.x - ux, p.y - uy), b = magnitudeAt(m, p.x, p.y), c = magnitudeAt(m, p.x + ux, p.y + uy);
  const double den = a - 2 * b + c;
  if (den >= 0) return p;
  const double s = std::clamp(0.5 * (a - c) / den, -0.5, 0.5);
  return DPOINT{p.x + s * ux, p.y + s * uy};
}

// The best edge voxel within radius of the continuous point c, favouring the direction prefer
// (unit vector or zero). False when there is none.
bool bestEdgeNear(const VA_SLICEMAPS& m, DPOINT c, double radius, const double* prefer, int* bx, int* by) {
  const int r = int(std::ceil(radius)) + 1;
  const int cx = int(std::floor(c.x)), cy = int(std::floor(c.y));
  double bestScore = -1, bestDistance = 0;
  for (int y = std::max(0, cy - r); y <= std::min(m.h - 1, cy + r); ++y)
    for (int x = std::max(0, cx - r); x <= std::min(m.w - 1, cx + r); ++x) {
      if (m.edges[int64_t(y) * m.w + x] <= 0) continue;
      const double distance = std::hypot(x + 0.5 - c.x, y + 0.5 - c.y);
      if (distance > radius + 1e-9) continue;
      const double* g = gradientAt(m, x, y);
      const double len = std::hypot(g[0], g[1]);
      double score = len;
      // Edges whose gradient turns the same way as the previous node's keep their full strength;
      // those turned against it count down to half.
      if (len > 0 && prefer && (prefer[0] != 0 || prefer[1] != 0))
        score *= 0.75 + 0.25 * (g[0] * prefer[0] + g[1] * prefer[1]) / len;
      const bool better = score > bestScore * (1 + 1e-9) ||
                          (std::fabs(score - bestScore) <= 1e-9 * std::max(1.0, bestScore) && distance < bestDistance);
      if (better) {
        bestScore = score;
        bestDistance = distance;
        *bx = x;
        *by = y;
      }
    }
  return bestScore >= 0;
}

bool preferredDirection(const VA_SLICEMAPS& m, const DPOINT3D& node, double* u) {
  const int x = int(std::floor(node.x)), y = int(std::floor(node.y));
  u[0] = u[1] = 0;
  if (x < 0 || y < 0 || x >= m.w || y >= m.h) return false;
  const double* g = gradientAt(m, x, y);
  const double len = std::hypot(g[0], g[1]);
  if (len <= 0) return false;
  u[0] = g[0] / len;
  u[1] = g[1] / len;
  return true;
}

}  // namespace

bool VA_MagPoly(const CVol* vol, const VA_MAGTRACE* parms, const VA_SLICEMAPS* maps, const DPOINT3D* nodes,
                int numNodes, const DPOINT3D* seed, int t, DPOINT3D* snapped) {
  const FRAME* frame = vol ? vol->frame : nullptr;
  if (!parms || !seed || !snapped || !frame) return false;
  const int z = int(std::floor(seed->z));
  if (z < 0 || z >= frame->dim.d || t < 0 || t >= frame->dim.t) return false;
  VA_SLICEMAPS own;
  const VA_SLICEMAPS* m = maps;
  if (!m || !m->edges || !m->gradient || m->frame != frame || m->z != z || m->t != t || m->w != frame->dim.w ||
      m->h != frame->dim.h) {
    if (!VA_SliceMapsFor(parms, frame, z, t, &own)) return false;
    m = &own;
  }
  double prefer[2] = {0, 0};
  if (nodes && numNodes > 0) preferredDirection(*m, nodes[numNodes - 1], prefer);
  int bx = 0, by = 0;
  const bool found = bestEdgeNear(*m, DPOINT{std::floor(seed->x) + 0.5, std::floor(seed->y) + 0.5},
                                  std::max(0.0, parms->snapRadius), prefer, &bx, &by);
  if (found) {
    const DPOINT p = refine(*m, bx, by);
    *snapped = DPOINT3D{p.x, p.y, z + 0.5};
  }
  VA_FreeSliceMaps(&own);
  return found;
}

bool VA_MagTraceResnap(const CVol* vol, const VA_MAGTRACE* parms, int mode, int t, DPOINT3D* points, int count,
                       bool show) {
  const wchar_t* fn = L"VA_MagTraceResnap";
  const FRAME* frame = vol ? vol->frame : nullptr;
  if (!parms || !points || count < 1 || !frame || t < 0 || t >= frame->dim.t) {
    report(fn, L"Invalid parameters", show);
    return false;
  }
  std::vector<DPOINT3D> moved(points, points + count);
  VA_SLICEMAPS maps;
  bool any = false;
  const double radius = std::max(0.0, parms->snapRadius);
  for (int i = 0; i < count; ++i) {
    const DPOINT3D& p = points[i];
    const int z = int(std::floor(p.z));
    if (z < 0 || z >= frame->dim.d || !VA_SliceMapsFor(parms, frame, z, t, &maps)) continue;
    if (mode == 1) {
      // Along the normal: the contour's direction through the neighbours, turned by 90 degrees.
      const DPOINT3D& a = points[i > 0 ? i - 1 : i];
      const DPOINT3D& b = points[i + 1 < count ? i + 1 : i];
      double nx = -(b.y - a.y), ny = b.x - a.x;
      const double len = std::hypot(nx, ny);
      if (len <= 0) continue;
      nx /= len, ny /= len;
      double best = -1, bestS = 0;
      for (double s = -radius; s <= radius + 1e-9; s += 0.125) {
        const double x = p.x + s * nx, y = p.y + s * ny;
        const int vx = int(std::floor(x)), vy = int(std::floor(y));
        if (vx < 0 || vy < 0 || vx >= maps.w || vy >= maps.h) continue;
        // Only where an edge lies within a voxel of the line.
        bool nearEdge = false;
        for (int dy = -1; dy <= 1 && !nearEdge; ++dy)
          for (int dx = -1; dx <= 1 && !nearEdge; ++dx) {
            const int ex = vx + dx, ey = vy + dy;
            nearEdge = ex >= 0 && ey >= 0 && ex < maps.w && ey < maps.h && maps.edges[int64_t(ey) * maps.w + ex] > 0;
          }
        if (!nearEdge) continue;
        const double v = magnitudeAt(maps, x, y);
        if (v > best * (1 + 1e-12) || (std::fabs(v - best) <= 1e-12 * std::max(1.0, best) && std::fabs(s) < std::fabs(bestS))) {
          best = v;
          bestS = s;
        }
      }
      if (best < 0) continue;
      moved[size_t(i)] = DPOINT3D{p.x + bestS * nx, p.y + bestS * ny, p.z};
      any = true;
    } else {
      double prefer[2] = {0, 0};
      if (i > 0) preferredDirection(maps, moved[size_t(i - 1)], prefer);
      int bx = 0, by = 0;
      if (!bestEdgeNear(maps, DPOINT{p.x, p.y}, radius, prefer, &bx, &by)) continue;
      const DPOINT q = refine(maps, bx, by);
      moved[size_t(i)] = DPOINT3D{q.x, q.y, p.z};
      any = true;
    }
  }
  VA_FreeSliceMaps(&maps);
  if (!any) {
    report(fn, L"No edge was found near the contour", show);
    return false;
  }
  std::copy(moved.begin(), moved.end(), points);
  return true;
}
