// Vector ROIs, polylines and splines burnt into the ROI layer, and the length of a polyline.

#include "VectorRaster.h"

#include <tbb/parallel_for.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "BoxHelpers.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawShapes.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "HighObj.h"
#include "TwkMem.h"
#include "Vol.h"
#include "paths/ValueText.h"
#include "render/Polygon.h"
#include "render/ProjectionGeometry.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"

namespace {

// The ROI operand of the active set when there is exactly one, else null.
CVol* singleRoiOperand(CDrawDoc* doc) {
  CDrawSet* set = doc ? doc->GetActiveSet() : nullptr;
  if (!set || !set->IsVolumeSet()) return nullptr;
  int count = 0;
  CVol* roi = set->WorkVolROI(&count);
  return count == 1 && roi && roi->frame ? roi : nullptr;
}

bool drawnInOwnSlices(const CDrawPoly* poly) {
  return std::fabs(poly->planePoint[0]) < 1e-100 && std::fabs(poly->planePoint[1]) < 1e-100 &&
         std::fabs(poly->planePoint[2]) < 1e-100;
}

// The first contour's points (a spline sampled) in voxel coordinates of the view's volume, each
// vertex the floor of its voxel box's centre plus shift. False when a point does not map.
bool contourVertices(const CDrawPoly* poly, CDrawView* view, const CDrawSet* set, double shift,
                     std::vector<POINT2D>* out) {
  int n = 0;
  DPOINT* points = poly->ContourPoints(0, &n);
  if (!points) return false;
  bool ok = n > 0;
  for (int i = 0; ok && i < n; ++i) {
    const DRECT world{points[i].x, points[i].y, points[i].x, points[i].y};
    DRECT3D box;
    int time = 0;
    ok = set->GetInVolCoords(view, &world, &time, &box, nullptr);
    if (!ok) break;
    const double x = std::floor((box.x0 + box.x1) / 2 + shift), y = std::floor((box.y0 + box.y1) / 2 + shift);
    ok = std::isfinite(x) && std::isfinite(y) && std::fabs(x) < 1e9 && std::fabs(y) < 1e9;
    if (ok) out->push_back(POINT2D{int32_t(x), int32_t(y)});
  }
  pf_free(&points);
  return ok;
}

// Draws polygons into slice z of time point 0 of the ROI.
bool burnSlice(CVol* roi, int z, const std::vector<POINT2D>& vertices, const std::vector<int>& counts) {
  FRAME* f = roi->frame;
  if (z < 0 || z >= f->dim.d) return false;
  const RECT3D slice{0, 0, z, f->dim.w - 1, f->dim.h - 1, z};
  auto* buffer = static_cast<uint8_t*>(VA_VolGetBox(f, 0, &slice));
  if (!buffer) return false;
  bool ok = PR_DrawPolypolygon(buffer, f->dim.w, f->dim.h, vertices.data(), counts.data(), int(counts.size()), -1, 1);
  ok = ok && VA_VolSetSlice(f, 0, z, buffer, 0);
  pf_free(&buffer);
  return ok;
}

}  // namespace

bool TW_VectRoiToRoi(CDrawSet* object) {
  if (!object || !object->IsVectorRoi() || !object->vroi->owner) return false;
  CDrawSet* owner = object->vroi->owner;
  if (!owner->IsVolumeSet()) return false;
  int count = 0;
  CVol* roi = owner->WorkVolROI(&count);
  if (count != 1 || !roi || !roi->frame) return false;
  const HIGHOBJ* r = object->vroi;
  const DRECT3D box{r->x0, r->y0, r->z0, r->x1, r->y1, r->z1};
  RECT3D voxels;
  // Clipped to the volume: a box wholly outside fills nothing and is no failure.
  if (!PR_DRect3DToRect3D(&box, &voxels, &roi->frame->dim)) return true;
  return VA_VolFillBox(roi->frame, 0, &voxels, true, 1.0);
}

bool TW_RasterizeContoursToRoi(CDrawPoly* poly, CDrawView* view) {
  if (!poly || !view || !drawnInOwnSlices(poly)) return false;
  CDrawDoc* doc = view->GetDocument();
  CVol* roi = singleRoiOperand(doc);
  if (!roi) return false;
  std::vector<POINT2D> vertices;
  if (!contourVertices(poly, view, doc->GetActiveSet(), 0.0, &vertices)) return false;
  return burnSlice(roi, poly->slice, vertices, {int(vertices.size())});
}

bool TW_PolylinesToRoi(CDrawDoc* doc, CDrawView* view, bool splines, bool polylines) {
  CVol* roi = singleRoiOperand(doc);
  if (!roi || !view) return false;
  const CDrawSet* set = doc->GetActiveSet();
  std::vector<CDrawPoly*> chosen;
  for (CDrawObj* o : doc->objects) {
    if (!o || o->kind != DRAWOBJ_POLY) continue;
    auto* poly = static_cast<CDrawPoly*>(o);
    if (!drawnInOwnSlices(poly) || (poly->spline && !splines) || (!poly->spline && !polylines)) continue;
    chosen.push_back(poly);
  }
  // Every polygon is mapped into voxels first, so that a point that fails to map leaves the ROI
  // untouched; then the slices, which do not share voxels, are drawn side by side.
  struct SlicePolygons {
    std::vector<POINT2D> vertices;
    std::vector<int> counts;
  };
  const int depth = roi->frame->dim.d;
  std::vector<std::vector<POINT2D>> mapped(chosen.size());
  // Without a projection the mapping fails with its message: said once, from this thread.
  if (!chosen.empty() && !view->GetProjection()) {
    contourVertices(chosen.front(), view, set, 0.5, &mapped[0]);
    return false;
  }
  std::atomic<bool> ok{true};
  tbb::parallel_for(size_t(0), chosen.size(), [&](size_t i) {
    const CDrawPoly* poly = chosen[i];
    if (poly->slice >= 0 && poly->slice < depth && !contourVertices(poly, view, set, 0.5, &mapped[i])) ok = false;
  });
  if (!ok) return false;
  std::vector<SlicePolygons> slices(size_t(std::max(depth, 0)));
  for (size_t i = 0; i < chosen.size(); ++i) {
    if (chosen[i]->slice < 0 || chosen[i]->slice >= depth) continue;
    SlicePolygons& target = slices[size_t(chosen[i]->slice)];
    target.vertices.insert(target.vertices.end(), mapped[i].begin(), mapped[i].end());
    target.counts.push_back(int(mapped[i].size()));
  }
  tbb::parallel_for(0, depth, [&](int z) {
    const SlicePolygons& p = slices[size_t(z)];
    if (!p.vertices.empty() && !burnSlice(roi, z, p.vertices, p.counts)) ok = false;
  });
  return ok;
}

CDrawPoly* TW_GetSingleSplineOnSlice(CDrawDoc* doc, int slice) {
  if (!doc) return nullptr;
  CDrawPoly* found = nullptr;
  for (CDrawObj* o : doc->objects) {
    if (!o || o->kind != DRAWOBJ_POLY) continue;
    auto* poly = static_cast<CDrawPoly*>(o);
    if (!poly->spline || poly->slice != slice) continue;
    if (found) return nullptr;
    found = poly;
  }
  return found;
}

bool CDrawView::VectorObjectsToRoi(int mode) {
  static const wchar_t* const prefix = L"CDrawView::VectorObjectsToRoi";
  CDrawDoc* doc = GetDocument();
  CDrawSet* set = doc ? doc->GetActiveSet() : nullptr;
  if (!set || !set->IsVolumeSet()) {
    twk::doc::message(prefix, L"Volumetric Entity is required");
    return false;
  }
  doc->SetModifiedFlag();
  int count = 0;
  CVol* roi = set->WorkVolROI(&count);
  if (count > 1) {
    // Two marked ROIs: the ambiguity is reported before anything is added.
    twk::doc::message(prefix, TW_AMBIGUOUS_LAYERS);
    return false;
  }
  if (!roi) {
    if (!set->NewRoiLayer(false)) return false;
    roi = set->WorkVolROI(&count);
    if (!roi || count != 1) {
      twk::doc::message(prefix, L"ROI is not present or enabled");
      return false;
    }
  }
  CDrawVol* layer = set->GetLayerOfVol(roi);
  if (!layer) return false;
  const int undoBefore = doc->UndoCurrent();
  doc->PushUndoForLayer(layer);
  const bool recorded = doc->UndoCurrent() > undoBefore;
  bool ok = true;
  switch (mode) {
    case 0:
      for (CDrawObj* o : std::vector<CDrawObj*>(doc->selection)) {
        if (o && o->kind == DRAWOBJ_SET && static_cast<CDrawSet*>(o)->IsVectorRoi())
          ok = TW_VectRoiToRoi(static_cast<CDrawSet*>(o));
        else if (o && o->kind == DRAWOBJ_POLY)
          ok = TW_RasterizeContoursToRoi(static_cast<CDrawPoly*>(o), this);
        if (!ok) break;
      }
      break;
    case 1:
      ok = TW_PolylinesToRoi(doc, this, true, false);
      break;
    case 2:
      ok = TW_PolylinesToRoi(doc, this, false, true);
      break;
    case 3:
      for (CDrawObj* o : std::vector<CDrawObj*>(doc->objects)) {
        auto* s = o && o->kind == DRAWOBJ_SET ? static_cast<CDrawSet*>(o) : nullptr;
        if (s && s->IsVectorRoi() && s->vroi->owner == set) ok = TW_VectRoiToRoi(s);
        if (!ok) break;
      }
      break;
    default:
      ok = false;
  }
  // A failed object leaves no part of the command behind: its record restores the ROI.
  if (!ok && recorded) doc->Undo();
  layer->FreeViewCaches();
  CDrawDoc::RedrawAllViews(doc, false);
  return ok;
}

void CDrawView::MeasurePolylineLength() {
  static const wchar_t* const prefix = L"CDrawView::MeasurePolylineLength";
  CDrawDoc* doc = GetDocument();
  if (!doc || doc->selection.size() != 1 || !doc->selection.front() ||
      doc->selection.front()->kind != DRAWOBJ_POLY) {
    twk::doc::message(prefix, L"Single polyline needs to be selected");
    return;
  }
  auto* poly = static_cast<CDrawPoly*>(doc->selection.front());
  if (!poly->IsVisibleInView(this)) return;
  if (poly->spline) {
    twk::doc::message(prefix, L"Non-spline is required");
    return;
  }
  if (poly->contourCount > 1) {
    twk::doc::message(prefix, L"Single contour polyline is required");
    return;
  }
  CDrawSet* set = doc->GetActiveSet();
  const CVol* base = set ? set->GetBaseVol() : nullptr;
  const VA_VOLPROJ* projection = GetProjection();
  if (!base || !projection) return;
  SPC spacing;
  if (!VA_GetProjSpc(projection, base->Spc(), &spacing)) return;
  // The points in projection voxels (world units follow the picture's aspect, not the voxels).
  const int n = poly->pointsPerContour ? poly->pointsPerContour[0] : 0;
  std::vector<DPOINT> voxels;
  for (int i = 0; i < n; ++i) {
    const DRECT world{poly->points[i].x, poly->points[i].y, poly->points[i].x, poly->points[i].y};
    DRECT3D box, inProjection;
    int time = 0;
    if (!set->GetInVolCoords(this, &world, &time, &box, &inProjection)) return;
    voxels.push_back(DPOINT{(inProjection.x0 + inProjection.x1) / 2, (inProjection.y0 + inProjection.y1) / 2});
  }
  auto step = [&spacing](const DPOINT& a, const DPOINT& b) {
    return std::hypot((a.x - b.x) * spacing.x, (a.y - b.y) * spacing.y);
  };
  double length = 0;
  for (size_t i = 1; i < voxels.size(); ++i) length += step(voxels[i - 1], voxels[i]);
  const double closedLength = voxels.size() > 1 ? length + step(voxels.front(), voxels.back()) : length;
  PR_DisplayTwoDoubleValues(L"Poly length (mm)", length, L"Closed Poly length (mm)", closedLength);
}
