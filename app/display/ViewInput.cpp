// Mouse input of the views: the messages routed to the current tool or handled by the view itself
// (brush, window/level drag, wheel, film-view toggle), the selection operations, spline points and
// the step to the next vector ROI.

#include "ViewInput.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "AppOptions.h"
#include "DocHooks.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawShapes.h"
#include "DrawTool.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "HighObj.h"
#include "TwkMem.h"
#include "Vol.h"
#include "ViewGeometry.h"
#include "render/ProjectionGeometry.h"

namespace {

bool insideClient(const CDrawView* view, POINT2D p) {
  return p.x >= 0 && p.y >= 0 && p.x < view->clientWidth && p.y < view->clientHeight;
}

CDrawTool* currentTool() { return CDrawTool::FindTool(g_CurrentTool); }

void redrawAll(CDrawView* view) {
  if (CDrawDoc* doc = view->GetDocument()) doc->RedrawAllViews(false);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Window/level drag
// ---------------------------------------------------------------------------------------------

double TW_WindowLevelStep(double value, double widthForZeroLevel, int move, bool integerLayer) {
  if (move == 0) return 0;
  double measure = std::fabs(value);
  if (!(measure > 0)) measure = std::fabs(widthForZeroLevel);
  const double step = measure * 0.005 * std::fabs(double(move));
  if (!integerLayer) return move > 0 ? step : -step;
  const double rounded = std::max(1.0, std::floor(step + 0.5));
  return move > 0 ? rounded : -rounded;
}

bool TW_WindowLevelDrag(CDrawVol* layer, int dx, int dy) {
  if (!layer || !layer->vol || !layer->vol->frame || (dx == 0 && dy == 0)) return false;
  const bool integer = !layer->vol->IsReal();
  PR_VIEWFILT& f = layer->filter;
  if (std::abs(dx) > std::abs(dy)) {
    const double width = f.width + TW_WindowLevelStep(f.width, f.width, dx, integer);
    // The width never reaches 0: an integer layer stops at 1, a real one halves instead.
    if (width > 0) f.width = width;
    else f.width = integer ? 1.0 : f.width / 2;
  } else {
    f.level += TW_WindowLevelStep(f.level, f.width, dy, integer);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Mouse messages
// ---------------------------------------------------------------------------------------------

void CDrawView::OnLButtonDown(unsigned flags, POINT2D point) {
  lastButtonPoint = point;
  NoteCursor(point);
  if (!insideClient(this, point)) return;
  brushTime = -1;
  CDrawDoc* doc = GetDocument();
  if (!doc) return;
  DisplayVoxelInfo(doc->GetActiveSet(), true);
  if (g_CurrentTool == 0 && TW_Options().volCursor == 1) doc->SyncLinkedCursor(this);
  if (g_CurrentTool == 0 && (flags & TW_MK_CONTROL)) {
    RoiBrush(0, point, 0);
    return;
  }
  if (!IsActive()) return;
  if (CDrawTool* tool = currentTool()) tool->OnLButtonDown(this, flags, point);
}

void CDrawView::OnLButtonUp(unsigned flags, POINT2D point) {
  NoteCursor(point);
  brushTime = -1;
  if (!IsActive()) return;
  if (CDrawTool* tool = currentTool()) tool->OnLButtonUp(this, flags, point);
  redrawAll(this);
  SetViewCursor(TW_CURSOR::Arrow);
}

void CDrawView::OnLButtonDblClk(unsigned flags, POINT2D point) {
  NoteCursor(point);
  if (!IsActive()) return;
  if (CDrawTool* tool = currentTool()) tool->OnLButtonDblClk(this, flags, point);
}

void CDrawView::OnRButtonDown(unsigned flags, POINT2D point) {
  NoteCursor(point);
  brushTime = -1;
  if (flags & TW_MK_CONTROL) {
    RoiBrush(1, point, 0);
    return;
  }
  if (!IsActive()) return;
  if (g_CurrentTool == 1) {
    // A right click ends the zoom tool through the selection tool's cancel.
    g_CurrentTool = 0;
    CancelTool();
    return;
  }
  if (CDrawTool* tool = currentTool()) tool->OnRButtonDown(this, flags, point);
}

void CDrawView::OnRButtonUp(unsigned flags, POINT2D point) {
  NoteCursor(point);
  brushTime = -1;
  if (!IsActive()) return;
  if (CDrawTool* tool = currentTool()) tool->OnRButtonUp(this, flags, point);
  redrawAll(this);
  SetViewCursor(TW_CURSOR::Arrow);
}

void CDrawView::OnRButtonDblClk(unsigned flags, POINT2D point) {
  NoteCursor(point);
  if ((flags & (TW_MK_CONTROL | TW_MK_SHIFT)) || !IsActive()) return;
  CDrawSet* set = GetActiveSet();
  if (!set || !set->IsVolumeSet()) return;
  if (IsFilmView(nullptr)) {
    const DPOINT w = ClientToWorldPoint(point);
    const DRECT r{w.x, w.y, w.x, w.y};
    int time = 0;
    DRECT3D box;
    if (!set->GetInVolCoords(this, &r, &time, nullptr, &box)) return;
    set->VolChangeSlice(this, 1 | 2 | 4, time, int(std::floor(box.z0)), 1);
  } else {
    set->VolChangeSlice(this, 4, 0, 0, 1);
  }
  RedrawNow();
}

void CDrawView::OnMouseMove(unsigned flags, POINT2D point) {
  NoteCursor(point);
  if (!IsActive() || PR_InWorkProcess()) return;
  CDrawDoc* doc = GetDocument();
  if (!doc) return;
  if (!GetCapture() && g_CurrentTool != 0) SetCapture();
  bool readValue = true;
  if (g_CurrentTool != 0 && g_CurrentTool != 10) {
    if (CDrawTool* tool = currentTool()) tool->OnMouseMove(this, flags, point);
  } else if ((flags & TW_MK_CONTROL) && (flags & (TW_MK_LBUTTON | TW_MK_RBUTTON))) {
    RoiBrush((flags & TW_MK_LBUTTON) ? 0 : 1, point, 0);
    readValue = false;
  } else if ((paintMode || eraseMode) && (flags & TW_MK_LBUTTON)) {
    RoiBrush(paintMode ? 0 : 1, point, 0);
    readValue = false;
  } else if (g_CurrentTool == 10) {
    SetViewCursor(TW_CURSOR::WindowLevel);
    if (flags & TW_MK_LBUTTON) {
      const int dx = point.x - lastButtonPoint.x, dy = point.y - lastButtonPoint.y;
      CDrawSet* set = doc->GetActiveSet();
      CVol* vol = (dx || dy) && set ? set->WorkVolNonRoi() : nullptr;
      if (vol && TW_WindowLevelDrag(set->GetLayerOfVol(vol), dx, dy)) {
        doc->RedrawAllViews(false);
        lastButtonPoint = point;
      }
    }
  } else if (CDrawTool* select = CDrawTool::FindTool(0)) {
    select->OnMouseMove(this, flags, point);
  }
  DisplayVoxelInfo(doc->GetActiveSet(), readValue);
  if (TW_Options().volCursor == 2) doc->RedrawAllViews(false);
}

void CDrawView::OnMouseWheel(unsigned flags, int delta, POINT2D point) {
  if (delta == 0) return;
  NoteCursor(point);
  if ((flags & TW_MK_CONTROL) || paintMode || eraseMode) {
    RoiBrush(2, point, delta > 0 ? 1 : -1);
  } else if (g_CurrentTool != 11) {
    ScrollSlices(delta < 0 ? TW_VK_DOWN : TW_VK_UP, 1);
  } else {
    g_MagTraceSmoothing = std::clamp(g_MagTraceSmoothing + (delta > 0 ? 1.0 : -1.0), 0.0, 32.0);
    if (CDrawTool* tool = CDrawTool::FindTool(11)) tool->OnMouseMove(this, flags, point);
  }
}

void CDrawView::OnSetFocus() {
  if (g_CurrentTool != 0) SetCapture();
}

void CDrawView::CancelTool() {
  ReleaseCapture();
  const int id = g_CurrentTool;
  if (CDrawTool* tool = CDrawTool::FindTool(id)) tool->OnCancel(this, id);
  g_CurrentTool = 0;
  SetViewCursor(TW_CURSOR::Arrow);
  redrawAll(this);
}

void CDrawView::SpaceAction() {
  ReleaseCapture();
  if (CDrawTool* tool = currentTool()) tool->OnSpaceAction(this);
}

// ---------------------------------------------------------------------------------------------
// Keys
// ---------------------------------------------------------------------------------------------

bool CDrawView::OnViewKey(int key, bool ctrl) {
  CDrawSet* set = GetActiveSet();
  if (!set) return false;
  TW_VIEW_HOOKS& hooks = TW_ViewHooks();
  if (g_CurrentTool == 11 && ctrl && (key == TW_VK_OEM_PLUS || key == TW_VK_OEM_MINUS)) CenterOnCursor();
  CDrawDoc* doc = GetDocument();
  switch (key) {
    case TW_VK_BACK:
      if (doc->selection.size() == 1 && doc->selection[0]->kind == DRAWOBJ_POLY &&
          static_cast<CDrawPoly*>(doc->selection[0])->contourCount == 1) {
        static_cast<CDrawPoly*>(doc->selection[0])->RemovePoint(-1);
        doc->RedrawAllViews(false);
      }
      return true;
    case TW_VK_ESCAPE:
      CancelTool();
      if (PR_InWorkProcess()) PR_SetInWorkProcess(false);
      return true;
    case TW_VK_SPACE:
      SpaceAction();
      return true;
    case TW_VK_PRIOR: ScrollSlices(TW_VK_LEFT, 10); return true;
    case TW_VK_NEXT: ScrollSlices(TW_VK_RIGHT, 10); return true;
    case TW_VK_LEFT:
    case TW_VK_RIGHT:
    case TW_VK_UP:
    case TW_VK_DOWN: ScrollSlices(key, 1); return true;
    case TW_VK_F3:
    case TW_VK_F4:
      if (hooks.roiStatistics) hooks.roiStatistics(set, this, key == TW_VK_F3 ? 1 : 2);
      return true;
    case TW_VK_F5: doc->RedrawAllViews(false); return true;
    case TW_VK_F7:
      if (hooks.fillContours2D) hooks.fillContours2D(set, this);
      return true;
    case TW_VK_F8:
      if (hooks.viewFilter) hooks.viewFilter(set, this);
      return true;
    case TW_VK_F9:
    case TW_VK_F12:
      On3DProjectionSet();
      return true;
    case TW_VK_F11:
      OnNextLandmark();
      return true;
    case TW_VK_OEM_PLUS:
      if (ctrl) ZoomBy(1.05);
      return true;
    case TW_VK_OEM_MINUS:
      if (ctrl) ZoomBy(1 / 1.05);
      return true;
    default: return false;
  }
}

bool CDrawView::OnViewChar(int ch, bool ctrl) {
  if (ch < 8 || ch > 122) return false;
  CDrawDoc* doc = GetDocument();
  switch (ch) {
    case 8:
      if (doc && doc->selection.size() == 1 && doc->selection[0]->kind == DRAWOBJ_POLY &&
          static_cast<CDrawPoly*>(doc->selection[0])->contourCount == 1) {
        static_cast<CDrawPoly*>(doc->selection[0])->RemovePoint(-1);
        doc->RedrawAllViews(false);
      }
      return true;
    case 27:
      CancelTool();
      return true;
    case 32:
      MaximizeFrame();
      return true;
    case 43:
    case 61:
      if (ctrl) ZoomBy(1.05);
      return true;
    case 45:
    case 95:
      if (ctrl) ZoomBy(1 / 1.05);
      return true;
    case 97:
    case 65:
      paintMode = !paintMode;
      if (paintMode) eraseMode = 0;
      return true;
    case 122:
    case 90:
      eraseMode = !eraseMode;
      if (eraseMode) paintMode = 0;
      return true;
    default: return false;
  }
}

// ---------------------------------------------------------------------------------------------
// Selection and objects
// ---------------------------------------------------------------------------------------------

void CDrawView::Select(CDrawObj* obj) {
  CDrawDoc* doc = GetDocument();
  if (!doc || !obj) return;
  doc->selection.push_back(obj);
  doc->UpdateVectorRoiPanel();
}

void CDrawView::SelectFirst(CDrawObj* obj) {
  CDrawDoc* doc = GetDocument();
  if (!doc || !obj) return;
  doc->selection.insert(doc->selection.begin(), obj);
  doc->UpdateVectorRoiPanel();
}

void CDrawView::ClearSelection() {
  CDrawDoc* doc = GetDocument();
  if (!doc) return;
  doc->selection.clear();
  doc->UpdateVectorRoiPanel();
}

CDrawObj* CDrawView::HitObject(POINT2D point) {
  CDrawDoc* doc = GetDocument();
  if (!doc) return nullptr;
  for (auto it = doc->objects.rbegin(); it != doc->objects.rend(); ++it)
    if ((*it)->HitTest(point, this, true) >= 0) return *it;
  return nullptr;
}

CDrawObj* CDrawView::ObjectAtPoint(POINT2D point) {
  CDrawDoc* doc = GetDocument();
  if (!doc) return nullptr;
  for (auto it = doc->objects.rbegin(); it != doc->objects.rend(); ++it)
    if ((*it)->HitTest(point, this, false) != -1) return *it;
  return nullptr;
}

void CDrawView::InvalidateObject(CDrawObj* obj) {
  if (!obj) return;
  DRECT b;
  if (!obj->DisplayedBounds(this, &b)) b = obj->position;
  const int kind = obj->kind;
  if ((kind == DRAWOBJ_RECT || kind == DRAWOBJ_ELLIPSE || kind == DRAWOBJ_POLY || kind == DRAWOBJ_ARC) &&
      obj->style.outlined) {
    const double w = obj->style.lineWidth;
    b = DRECT{b.x0 - w, b.y0 - w, b.x1 + w, b.y1 + w};
  }
  RECT2D r = WorldToClientRect(b);
  if (r.left > r.right) std::swap(r.left, r.right);
  if (r.top > r.bottom) std::swap(r.top, r.bottom);
  int grow = 0;
  if (kind == DRAWOBJ_POLY && contoursOnly && enumerate) grow += 32;
  CDrawDoc* doc = GetDocument();
  const bool selected = doc && std::find(doc->selection.begin(), doc->selection.end(), obj) != doc->selection.end();
  grow += selected && IsActive() ? 6 : 1;
  if (enumerate) {
    if (kind == DRAWOBJ_SET) {
      r.right = std::max(r.right, r.left + 16 * static_cast<CDrawSet*>(obj)->name.GetLength());
      r.bottom += 16;
    }
    grow += 48;
  }
  InvalidateRect(RECT2D{r.left - grow, r.top - grow, r.right + grow, r.bottom + grow});
}

bool CDrawView::EditSplinePoint(bool insert) {
  CDrawDoc* doc = GetDocument();
  POINT2D point;
  if (!doc || !IsActive() || !GetCursorClientPos(&point)) return false;
  CDrawPoly* poly = nullptr;
  int hit = -1;
  for (auto it = doc->objects.rbegin(); it != doc->objects.rend(); ++it) {
    if (!(*it)->IsVisibleInView(this)) continue;
    const int h = (*it)->HitTest(point, this, true);
    if (h < 0) continue;
    if ((*it)->kind == DRAWOBJ_POLY) {
      poly = static_cast<CDrawPoly*>(*it);
      hit = h;
    }
    break;
  }
  bool changed = false;
  if (poly) {
    if (insert) {
      changed = poly->contourCount == 1 && poly->InsertSplinePoint(ClientToWorldPoint(point));
    } else {
      const int index = hit - 1;
      const int contour = index >= 0 && index < poly->NumPoints() ? poly->ContourOfPoint(index) : -1;
      // A point goes only when its contour keeps at least three.
      if (contour >= 0 && poly->pointsPerContour[contour] > 3) changed = poly->DeletePoint(index);
    }
  }
  if (changed) {
    ClearSelection();
    SelectFirst(poly);
  }
  redrawAll(this);
  SetViewCursor(TW_CURSOR::Arrow);
  return changed;
}

void CDrawView::OnNextLandmark() {
  CDrawDoc* doc = GetDocument();
  CDrawSet* set = GetActiveSet();
  if (!doc || !set) return;
  std::vector<CDrawSet*> rois;
  for (CDrawObj* obj : doc->objects)
    if (obj->kind == DRAWOBJ_SET && static_cast<CDrawSet*>(obj)->IsVectorRoi() &&
        static_cast<CDrawSet*>(obj)->vroi->owner == set)
      rois.push_back(static_cast<CDrawSet*>(obj));
  if (rois.empty()) {
    twk::doc::message(L"CDrawView::OnNextLandmark", L"There are no VROIs in this document");
    return;
  }
  size_t next = 0;
  for (CDrawObj* selected : doc->selection) {
    const auto it = std::find(rois.begin(), rois.end(), selected);
    if (it != rois.end()) {
      next = (size_t(it - rois.begin()) + 1) % rois.size();
      break;
    }
  }
  CDrawSet* roi = rois[next];
  ClearSelection();
  Select(roi);
  const HIGHOBJ& h = *roi->vroi;
  const int time = h.t0 == h.t1 ? h.t0 : CurrentTime();
  const VA_VOLPROJ* p = GetProjection();
  const CVol* base = set->GetBaseVol();
  int slice = p ? p->slice : 0;
  if (p && base && base->frame) {
    const DRECT3D box{h.x0, h.y0, h.z0, h.x1, h.y1, h.z1};
    DRECT3D inView;
    if (VA_VolProjGridBoxConversion(base->Dim(), base->Spc(), p, &box, &inView, 1))
      slice = int(std::floor((inView.z0 + inView.z1) / 2));
  }
  set->VolChangeSlice(this, 1 | 2 | 4, time, slice, 3);
  DisplayVoxelInfo(set, true);
  TW_DOCUMENT_HOOKS& hooks = TW_DocumentHooks();
  if (hooks.vroiPanelOpen && hooks.vroiPanelOpen() && hooks.vroiPanelBind) hooks.vroiPanelBind(roi, true);
  redrawAll(this);
  SetViewCursor(TW_CURSOR::Arrow);
}

void CDrawView::CenterOnCursor() {
  POINT2D p;
  if (!GetCursorClientPos(&p)) return;
  const DPOINT w = ClientToWorldPoint(p);
  CenterOnWorldPoint(w, true);
  SetCursorClientPos(WorldToClientPoint(w));
}
