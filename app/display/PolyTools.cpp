// The polyline tool (id 5) and the view commands that finish, close and shorten the polyline
// being drawn; the magnetic-trace tool (id 11) and the trace commands (re-snap, copy, edge overlay,
// MapFit).

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawShapes.h"
#include "DrawTool.h"
#include "DrawView.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "VolProj.h"
#include "Prompts.h"
#include "ViewGeometry.h"
#include "trace/MapFit.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

CPolyTool g_polyTool;

bool insideClient(const CDrawView* view, POINT2D p) {
  return p.x >= 0 && p.y >= 0 && p.x < view->clientWidth && p.y < view->clientHeight;
}

// The single selected object when it is a polyline, else null.
CDrawPoly* singleSelectedPoly(const CDrawView* view) {
  const CDrawDoc* doc = view->GetDocument();
  if (!doc || doc->selection.size() != 1 || doc->selection[0]->kind != DRAWOBJ_POLY) return nullptr;
  return static_cast<CDrawPoly*>(doc->selection[0]);
}

// Appends a point to the first contour whatever the points before it.
bool appendRaw(CDrawPoly* poly, DPOINT p) {
  if (!poly->points || !poly->pointsPerContour) return false;
  const int total = poly->NumPoints();
  if (!pf_realloc(&poly->points, int64_t(total + 1) * int64_t(sizeof(DPOINT)))) return false;
  const int n = poly->pointsPerContour[0];
  std::copy_backward(poly->points + n, poly->points + total, poly->points + total + 1);
  poly->points[n] = p;
  poly->pointsPerContour[0] = n + 1;
  return true;
}

void redrawAll(CDrawView* view) {
  if (CDrawDoc* doc = view->GetDocument()) doc->RedrawAllViews(false);
}

// A new one-contour polyline on the view's slice and plane holding the point twice (a contour
// starts with its rubber-band point), appended to the document as its only selected object; null
// when memory runs out.
CDrawPoly* startPolyline(CDrawView* view, CDrawDoc* doc, bool isSpline, double tension, bool isClosed, DPOINT w) {
  const VA_VOLPROJ* record = view->GetProjection();
  double plane[3] = {0, 0, 0};
  if (record) std::copy(record->rotation, record->rotation + 3, plane);
  auto* made = new CDrawPoly(1, 0, isSpline, tension, isClosed, record ? record->slice : 0, plane);
  if (!made->points) {
    delete made;
    return nullptr;
  }
  made->document = doc;
  made->AppendPoint(w);
  made->AppendPoint(w);
  CDrawObj* add = made;
  doc->AddObject(&add, true);
  doc->SetModifiedFlag();
  view->ClearSelection();
  view->Select(made);
  view->InvalidateClient();
  return made;
}

}  // namespace

CPolyTool* TW_PolyTool() { return &g_polyTool; }

namespace {
const bool g_forgetHooked = (g_PolylineDestroyed = TW_ToolsForgetPolyline, true);
}  // namespace

void CPolyTool::OnLButtonDown(CDrawView* view, unsigned, POINT2D point) {
  if (view->IsFilmView(nullptr)) {
    twk::doc::message(L"CPolyTool::OnLButtonDown", L"Film View is not allowed");
    return;
  }
  CDrawDoc* doc = view->GetDocument();
  if (!doc) return;
  if (!poly) {
    CDrawPoly* chosen = singleSelectedPoly(view);
    if (chosen && !chosen->spline && chosen->IsVisibleInView(view)) poly = chosen;
  }
  if (!insideClient(view, point)) return;
  view->SetCapture();
  g_ToolState.down = g_ToolState.last = point;
  view->SetViewCursor(TW_CURSOR::Edit);
  const DPOINT w = view->ClientToWorldPoint(point);
  if (!poly) {
    if (!view->GetActiveSet()) return;
    CDrawPoly* made = startPolyline(view, doc, false, 0.0, false, w);
    if (!made) return;
    poly = made;
  } else {
    poly->AppendPoint(w);
  }
  g_ToolState.last = point;
}

void CPolyTool::OnMouseMove(CDrawView* view, unsigned flags, POINT2D point) {
  if (!insideClient(view, point)) return;
  if (poly) {
    if (flags & TW_MK_LBUTTON) {
      // A drag lays a freehand line: every move appends as a press does.
      OnLButtonDown(view, flags, point);
    } else {
      int handle = poly->NumPoints();
      poly->MoveControlPoint(view, &handle, g_ToolState.last, point);
    }
    redrawAll(view);
  }
  g_ToolState.last = point;
  view->SetViewCursor(TW_CURSOR::Edit);
}

void CPolyTool::OnCancel(CDrawView* view, int) {
  // A polyline of one contour loses its rubber-band point (contours under 3 points are kept whole).
  if (poly && poly->contourCount == 1) poly->RemovePoint(-1);
  poly = nullptr;
  redrawAll(view);
  view->SetViewCursor(TW_CURSOR::Arrow);
}

void CPolyTool::OnSpaceAction(CDrawView* view) {
  twk::messageBox(L"Edit Poly node coordinate");
  view->SetCapture();
}

void TW_ToolsForgetPolyline(const CDrawPoly* poly) {
  if (g_polyTool.poly == poly) g_polyTool.poly = nullptr;
  if (CMagtraceTool* trace = TW_MagtraceTool(); trace->poly == poly) trace->poly = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Finishing, closing and shortening the polyline being drawn
// ---------------------------------------------------------------------------------------------

void CDrawView::OnFinishPolyline() {
  if (g_CurrentTool == 5 && singleSelectedPoly(this)) g_polyTool.OnCancel(this, 5);
}

void CDrawView::OnRemoveLastNode() {
  CDrawPoly* poly = singleSelectedPoly(this);
  if (!poly || poly->contourCount > 1) return;
  poly->RemovePoint(-1);
  redrawAll(this);
  SetViewCursor(TW_CURSOR::Arrow);
}

void CDrawView::OnClosePolyline() {
  CDrawPoly* poly = singleSelectedPoly(this);
  if (g_CurrentTool != 5 || !poly || !poly->pointsPerContour || !poly->points) return;
  int n = poly->pointsPerContour[0];
  // The rubber-band point goes.
  if (n > 0) {
    std::copy(poly->points + n, poly->points + poly->NumPoints(), poly->points + n - 1);
    poly->pointsPerContour[0] = --n;
  }
  if (n > 2) {
    appendRaw(poly, poly->points[0]);
    // An unfilled contour keeps a copy of its first point after the finish drops the last one.
    if (poly->contourCount == 1 && !poly->style.filled) appendRaw(poly, poly->points[0]);
  }
  poly->ComputeBounds();
  if (CDrawDoc* doc = GetDocument()) doc->SetModifiedFlag();
  g_polyTool.OnCancel(this, 5);
}

// ---------------------------------------------------------------------------------------------
// The magnetic-trace tool
// ---------------------------------------------------------------------------------------------

VA_MAGTRACE g_MagTraceParms;

namespace {

CMagtraceTool g_magtraceTool;

// World point of continuous projection voxel coordinates (the view's tile of that slice).
bool voxelToWorld(const CDrawSet* set, const CDrawView* view, const DPOINT3D& v, DPOINT* w) {
  const DRECT3D box{v.x, v.y, v.z, v.x, v.y, v.z};
  DRECT world;
  if (!set->VolBoxToWorldRect(view, &box, int(std::floor(v.z)), &world)) return false;
  *w = DPOINT{world.x0, world.y1};
  return true;
}

// Continuous volume voxel coordinates of a world point in the view.
bool worldToVoxel(const CDrawSet* set, const CDrawView* view, DPOINT w, DPOINT3D* v) {
  const DRECT r{w.x, w.y, w.x, w.y};
  DRECT3D box;
  int t = 0;
  if (!set->GetInVolCoords(view, &r, &t, nullptr, &box)) return false;
  *v = DPOINT3D{box.x0, box.y0, box.z0};
  return true;
}

}  // namespace

CMagtraceTool* TW_MagtraceTool() { return &g_magtraceTool; }

CMagtraceTool::~CMagtraceTool() { VA_FreeSliceMaps(&maps); }

void CMagtraceTool::OnLButtonDown(CDrawView* view, unsigned flags, POINT2D point) {
  if (busy) return;
  busy = true;
  struct NotBusy {
    bool* flag;
    ~NotBusy() { *flag = false; }
  } notBusy{&busy};
  if (view->IsFilmView(nullptr)) return;
  CDrawDoc* doc = view->GetDocument();
  if (!doc) return;
  if (!poly) {
    CDrawPoly* chosen = singleSelectedPoly(view);
    if (chosen && chosen->spline && chosen->IsVisibleInView(view)) poly = chosen;
  } else if (!poly->IsVisibleInView(view)) {
    poly = nullptr;
  }
  if (!insideClient(view, point)) return;
  CDrawSet* set = doc->GetActiveSet();
  if (!set) return;
  const VA_VOLPROJ* record = view->GetProjection();
  DPOINT w = view->ClientToWorldPoint(point);
  bool snapped = false;
  if (!(flags & TW_MK_CONTROL) && record && TW_IsProjUnrotated(record)) {
    CVol* vol = set->WorkVolNonRoi();
    if (!vol) return;
    view->UpdateBrushCursor(point, true, g_MagTraceParms.snapRadius);
    double x = 0, y = 0, z = 0;
    int t = 0;
    if (!set->ClientToVoxelCentre(view, point, &x, &y, &z, &t)) return;
    const DPOINT3D seed{std::floor(x), std::floor(y), std::floor(z)};
    std::vector<DPOINT3D> nodes;
    if (poly && poly->pointsPerContour && poly->pointsPerContour[0] > 0) {
      for (int i = 0; i < poly->pointsPerContour[0]; ++i) {
        DPOINT3D v;
        if (worldToVoxel(set, view, poly->points[i], &v)) nodes.push_back(v);
      }
    } else if (g_MagTraceParms.wholeSliceMaps) {
      VA_SliceMapsFor(&g_MagTraceParms, vol->frame, int(seed.z), vol->effT(t), &maps);
    }
    DPOINT3D found;
    // The cached maps serve only their own frame, slice, time point and size; others are computed.
    if (!VA_MagPoly(vol, &g_MagTraceParms, &maps, nodes.data(), int(nodes.size()), &seed, vol->effT(t), &found))
      return;
    if (!voxelToWorld(set, view, found, &w)) return;
    const POINT2D at = view->WorldToClientPoint(w);
    view->UpdateBrushCursor(at, true, g_MagTraceParms.snapRadius);
    snapped = true;
  } else {
    view->SetViewCursor(TW_CURSOR::Edit);
  }
  if (!poly) {
    view->SetCapture();
    CDrawPoly* made =
        startPolyline(view, doc, true, g_MagTraceParms.tension, g_MagTraceParms.connectEndToStart != 0, w);
    if (!made) return;
    poly = made;
  } else if (!snapped) {
    poly->AppendPoint(w);
  } else {
    // The rubber-band point gives way to the snapped node and a new rubber-band point on it.
    if (poly->pointsPerContour[0] > 0) {
      const int n = poly->pointsPerContour[0];
      std::copy(poly->points + n, poly->points + poly->NumPoints(), poly->points + n - 1);
      poly->pointsPerContour[0] = n - 1;
    }
    appendRaw(poly, w);
    appendRaw(poly, w);
    poly->ComputeBounds();
    doc->SetModifiedFlag();
    view->InvalidateClient();
  }
  g_ToolState.last = view->WorldToClientPoint(w);
  if (g_MagTraceParms.centeredAutoZoom) {
    // Only when zoomed into the set: its bounds do not fit in the visible rectangle widened by 1.
    DRECT visible = view->GetVisibleWorldRect();
    visible.x0 -= 1, visible.y0 -= 1, visible.x1 += 1, visible.y1 += 1;
    const DRECT& b = set->position;
    const bool inside = b.x0 >= std::min(visible.x0, visible.x1) && b.x1 <= std::max(visible.x0, visible.x1) &&
                        b.y0 >= std::min(visible.y0, visible.y1) && b.y1 <= std::max(visible.y0, visible.y1);
    if (!inside) {
      view->CenterOnWorldPoint(w, true);
      view->SetCursorClientPos(view->WorldToClientPoint(w));
    }
  }
}

void CMagtraceTool::OnMouseMove(CDrawView* view, unsigned flags, POINT2D point) {
  if (!insideClient(view, point)) return;
  if (poly) {
    int handle = poly->NumPoints();
    poly->MoveControlPoint(view, &handle, g_ToolState.last, point);
    redrawAll(view);
  }
  g_ToolState.last = point;
  if (flags & TW_MK_CONTROL) view->SetViewCursor(TW_CURSOR::Edit);
  else view->UpdateBrushCursor(point, true, g_MagTraceParms.snapRadius);
}

void CMagtraceTool::OnCancel(CDrawView* view, int) {
  if (poly && poly->pointsPerContour && !(poly->contourCount == 1 && poly->pointsPerContour[0] < 3)) {
    const int n = poly->pointsPerContour[0];
    std::copy(poly->points + n, poly->points + poly->NumPoints(), poly->points + n - 1);
    poly->pointsPerContour[0] = n - 1;
    poly->ComputeBounds();
    if (CDrawDoc* doc = poly->GetDocument()) doc->SetModifiedFlag();
  }
  poly = nullptr;
  redrawAll(view);
  view->SetViewCursor(TW_CURSOR::Arrow);
}

// ---------------------------------------------------------------------------------------------
// Trace commands: re-snap, copy, edge overlay
// ---------------------------------------------------------------------------------------------

bool CDrawPoly::MagTrace_Resnap(CDrawView* view, int mode) {
  if (contourCount != 1) {
    twk::doc::message(L"CDrawPoly::MagTrace_Resnap", L"Single contour polyline is expected");
    return false;
  }
  if (!view || view->IsFilmView(nullptr) || !document || !points || !pointsPerContour) return false;
  CDrawSet* set = document->GetActiveSet();
  CVol* vol = set ? set->WorkVolSI() : nullptr;
  const VA_VOLPROJ* record = view->GetProjection();
  bool done = false;
  if (vol && record && TW_IsProjUnrotated(record)) {
    const int n = pointsPerContour[0];
    std::vector<DPOINT3D> voxels(size_t(std::max(0, n)));
    bool mapped = n > 0;
    for (int i = 0; i < n && mapped; ++i) mapped = worldToVoxel(set, view, points[i], &voxels[size_t(i)]);
    if (mapped && VA_MagTraceResnap(vol, &g_MagTraceParms, mode, vol->effT(record->timeIndex), voxels.data(), n, true)) {
      std::vector<DPOINT> moved(static_cast<size_t>(n));
      done = true;
      for (int i = 0; i < n && done; ++i) done = voxelToWorld(set, view, voxels[size_t(i)], &moved[size_t(i)]);
      // Only a complete result replaces the points.
      if (done) {
        std::copy(moved.begin(), moved.end(), points);
        ComputeBounds();
        document->SetModifiedFlag();
      }
    }
  }
  document->RedrawAllViews(false);
  view->SetViewCursor(TW_CURSOR::Arrow);
  return done;
}

bool CDrawView::MagTrace_ResnapSelectedSpline(int mode) {
  if (IsFilmView(nullptr)) {
    twk::doc::message(L"CDrawView::MagTrace_ResnapSelectedSpline", L"Film View is not allowed");
    return false;
  }
  CDrawDoc* doc = GetDocument();
  if (!doc) return false;
  const std::vector<CDrawObj*> chosen = doc->selection;
  for (CDrawObj* obj : chosen) {
    if (obj->kind != DRAWOBJ_POLY || !obj->IsVisibleInView(this)) continue;
    auto* poly = static_cast<CDrawPoly*>(obj);
    if (poly->contourCount > 1) continue;
    if (!poly->MagTrace_Resnap(this, mode)) return false;
  }
  return true;
}

bool CDrawView::CopyPolyContoursFromAdjacentSlice() {
  const wchar_t* fn = L"CDrawView::CopyPolyContoursFromAdjacentSlice";
  if (IsFilmView(nullptr)) {
    twk::doc::message(fn, L"Film View is not allowed");
    return false;
  }
  CDrawDoc* doc = GetDocument();
  CDrawPoly* source = singleSelectedPoly(this);
  if (!doc || !source) {
    twk::doc::message(fn, L"Single selected polyline is required");
    return false;
  }
  const VA_VOLPROJ* record = GetProjection();
  const double zero[3] = {0, 0, 0};
  const double* plane = record ? record->rotation : zero;
  for (int a = 0; a < 3; ++a)
    if (std::fabs(source->planePoint[a] - plane[a]) > 1e-100) {
      twk::doc::message(fn, L"Selected object should be in the same projection");
      return false;
    }
  CDrawPoly* copy = source->Clone();
  if (!copy) return false;
  copy->slice = record ? record->slice : 0;
  ClearSelection();
  CDrawObj* add = copy;
  doc->AddObject(&add, true);
  doc->SetModifiedFlag();
  Select(copy);
  doc->RedrawAllViews(false);
  return true;
}

void CDrawView::OnTrace_OverlayEdges() {
  const wchar_t* fn = L"CDrawView::OnTrace_OverlayEdges";
  if (IsFilmView(nullptr)) {
    twk::doc::message(fn, L"Film View is not allowed");
    return;
  }
  CDrawSet* set = GetActiveSet();
  CVol* vol = set ? set->WorkVolNonRoi() : nullptr;
  const VA_VOLPROJ* record = GetProjection();
  if (!vol || !vol->frame || !record) return;
  const int z = record->slice, t = vol->effT(record->timeIndex);
  double* values = nullptr;
  if (const FramePtr slice{VA_VolCropSlice(vol->frame, z, t)}) values = VA_GetEdgeWorkVol(slice.get());
  VA_URALEDGE edge;
  VA_URALGRADtoURALEDGE(&g_MagTraceParms.edge, g_MagTraceParms.strength, &edge);
  const DIM3D dims{vol->frame->dim.w, vol->frame->dim.h, 1, 1};
  double* map = values ? VA_DetectEdge3D(&edge, 1, values, nullptr, &dims, true) : nullptr;
  pf_free(&values);
  if (map) {
    FramePtr result(PR_FrameCreate(FRM_REAL, 64, DIM3D{dims.w, dims.h, vol->frame->dim.d, 1}, true));
    if (result) {
      for (int y = 0; y < dims.h; ++y)
        std::memcpy(twk::frameLine(result.get(), y, z, 0), map + int64_t(y) * dims.w, sizeof(double) * size_t(dims.w));
      CString name;
      name.Format(L"edge slice=%u", unsigned(z));
      FRAME* lent = result.release();
      if (set->AddResultLayer(false, false, name, vol, &lent, -1, 0, -1)) set->SetActive(set->NumLayers() - 1);
      result.reset(lent);
    }
    pf_free(&map);
  }
  if (CDrawDoc* doc = GetDocument()) doc->RedrawAllViews(false);
  SetViewCursor(TW_CURSOR::Arrow);
}

// ---------------------------------------------------------------------------------------------
// MapFit
// ---------------------------------------------------------------------------------------------

VA_MAPFITAGPARM g_MapFitAGParms;

bool CDrawView::MapFitMultiAgent() {
  const wchar_t* fn = L"CDrawView::MapFitMultiAgent";
  CDrawDoc* doc = GetDocument();
  CDrawSet* set = GetActiveSet();
  if (!doc || !set) {
    twk::doc::message(fn, L"Volumetric Entity is required");
    return false;
  }
  CDrawPoly* source = nullptr;
  int polylines = 0;
  for (CDrawObj* obj : doc->objects)
    if (obj->kind == DRAWOBJ_POLY) {
      source = static_cast<CDrawPoly*>(obj);
      ++polylines;
    }
  if (polylines != 1 || !source->points || !source->pointsPerContour) {
    twk::doc::message(fn, L"Polyline object should be selected");
    return false;
  }
  if (!TW_ViewHooks().mapFitDialog || !TW_ViewHooks().mapFitDialog(&g_MapFitAGParms)) return false;
  CVol* vol = set->WorkVolSI();
  if (!vol || !vol->frame) return false;
  for (CDrawView* v : doc->Views()) set->VolChangeSlice(v, 7, 0, source->slice, 3);
  const int n = source->pointsPerContour[0];
  std::vector<DPOINT3D> voxels(static_cast<size_t>(std::max(0, n)));
  for (int i = 0; i < n; ++i)
    if (!worldToVoxel(set, this, source->points[i], &voxels[size_t(i)])) return false;
  int z0 = 0, z1 = vol->D() - 1;
  // Cancel ends the command; a range the volume does not hold is refused.
  if (!TW_SpecifyTwoInt(L"Specify [Z0,Z1]", L"Z0", &z0, L"Z1", &z1)) return false;
  if (z0 > z1 || z0 < 0 || z1 > vol->D() - 1) {
    twk::doc::message(fn, L"Invalid slice range");
    return false;
  }
  int* counts = nullptr;
  DPOINT3D** contours = VA_MorphContourMultiAgent(&g_MapFitAGParms, vol->frame, vol->Spc(), 0, z0, z1, voxels.data(),
                                                  n, &counts, true);
  doc->RedrawAllViews(false);
  if (!contours) return false;
  for (int k = 0; k <= z1 - z0; ++k) {
    if (!contours[k] || counts[k] < 1) continue;
    const int slice = int(std::floor(contours[k][0].z));
    auto* made = new CDrawPoly(1, counts[k], source->spline != 0, source->tension, source->closed != 0, slice,
                               source->planePoint);
    if (!made->points) {
      delete made;
      continue;
    }
    made->pointsPerContour[0] = counts[k];
    bool mapped = true;
    for (int i = 0; i < counts[k] && mapped; ++i) mapped = voxelToWorld(set, this, contours[k][i], &made->points[i]);
    if (!mapped) {
      delete made;
      continue;
    }
    made->style = source->style;
    made->style.lineColor = source->style.lineColor ^ 0xFFFFFF;
    CDrawObj* add = made;
    doc->AddObject(&add, true);
    doc->SetModifiedFlag();
  }
  VA_FreeMorphContours(&contours, &counts, z1 - z0 + 1);
  doc->RedrawAllViews(false);
  return true;
}
