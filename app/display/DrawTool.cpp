// The selection, zoom and rectangle tools and the tool list.

#include "DrawTool.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawShapes.h"
#include "HighObj.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "render/RectHelpers.h"

TW_TOOLSTATE g_ToolState;
double g_MagTraceSmoothing = 0;

namespace {

std::vector<CDrawTool*>& toolList() {
  static std::vector<CDrawTool*> list;
  return list;
}

RECT2D normalised(POINT2D a, POINT2D b) {
  return RECT2D{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

bool samePoint(POINT2D a, POINT2D b) { return a.x == b.x && a.y == b.y; }

// The tool objects of the program, in order of creation.
CRectTool g_vectorRoiTool(2);
CRectTool g_ellipseTool(4);
CRectTool g_arcTool(6);
CZoomTool g_zoomTool;
CSelectTool g_selectTool;

}  // namespace

// ---------------------------------------------------------------------------------------------
// CDrawTool
// ---------------------------------------------------------------------------------------------

CDrawTool::CDrawTool(int toolId) : id(toolId) { toolList().push_back(this); }

CDrawTool::~CDrawTool() {
  std::vector<CDrawTool*>& list = toolList();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

CDrawTool* CDrawTool::FindTool(int toolId) {
  for (CDrawTool* tool : toolList())
    if (tool->id == toolId) return tool;
  return nullptr;
}

const std::vector<CDrawTool*>& CDrawTool::Tools() { return toolList(); }

void CDrawTool::OnLButtonDown(CDrawView* view, unsigned, POINT2D point) {
  view->SetCapture();
  g_ToolState.down = g_ToolState.last = point;
}

void CDrawTool::OnLButtonDblClk(CDrawView*, unsigned, POINT2D) {}

void CDrawTool::OnLButtonUp(CDrawView* view, unsigned, POINT2D point) {
  view->ReleaseCapture();
  if (samePoint(point, g_ToolState.down)) {
    g_CurrentTool = 0;
    view->SetViewCursor(TW_CURSOR::Arrow);
  } else if (g_CurrentTool == 1) {
    g_CurrentTool = 0;
    view->SetViewCursor(TW_CURSOR::Arrow);
  } else if (g_CurrentTool == 0) {
    view->SetViewCursor(TW_CURSOR::Arrow);
  }
}

void CDrawTool::OnRButtonDown(CDrawView* view, unsigned, POINT2D point) {
  view->SetCapture();
  g_ToolState.down = g_ToolState.last = point;
}

void CDrawTool::OnRButtonUp(CDrawView* view, unsigned, POINT2D) { view->ReleaseCapture(); }

void CDrawTool::OnEditProperties(CDrawView*) {}

void CDrawTool::OnMouseMove(CDrawView*, unsigned, POINT2D point) { g_ToolState.last = point; }

void CDrawTool::OnCancel(CDrawView*, int) {}

void CDrawTool::OnSpaceAction(CDrawView*) {}

// ---------------------------------------------------------------------------------------------
// Selection tool
// ---------------------------------------------------------------------------------------------

void CSelectTool::OnLButtonDown(CDrawView* view, unsigned flags, POINT2D point) {
  TW_TOOLSTATE& s = g_ToolState;
  s.selectMode = 0;
  s.handle = -1;
  CDrawDoc* doc = view->GetDocument();
  if (doc && doc->selection.size() == 1) {
    s.handle = doc->selection.front()->HitTest(point, view, true);
    if (s.handle > 0) {
      s.selectMode = 5;
      view->SetViewCursor(TW_CURSOR::Edit);
      view->SetCapture();
      s.down = s.last = point;
      return;
    }
  }
  s.selectMode = (flags & TW_MK_SHIFT) ? 2 : (flags & TW_MK_CONTROL) ? 3 : 1;
  view->SetViewCursor(TW_CURSOR::Arrow);
  view->SetCapture();
  s.down = s.last = point;
}

void CSelectTool::OnMouseMove(CDrawView* view, unsigned flags, POINT2D point) {
  TW_TOOLSTATE& s = g_ToolState;
  if (point.x < 0 || point.y < 0 || point.x >= view->clientWidth || point.y >= view->clientHeight) return;
  CDrawDoc* doc = view->GetDocument();
  if (view->HasCapture()) {
    if (s.selectMode >= 1 && s.selectMode <= 3) {
      const RECT2D band = normalised(s.down, point);
      view->SetFocusRect(&band);
    }
    if ((flags & (TW_MK_LBUTTON | TW_MK_RBUTTON)) && doc && doc->selection.size() == 1 && s.handle >= 0) {
      CDrawObj* obj = doc->selection.front();
      if (s.selectMode == 4) {
        int whole = 0;
        obj->MoveControlPoint(view, &whole, s.last, point);
      } else {
        obj->MoveControlPoint(view, &s.handle, s.last, point);
      }
      // The panel shows the box as it moves; its binding (and the undo copy) stays.
      doc->RefreshVectorRoiPanel();
    }
    s.last = point;
    return;
  }
  view->SetViewCursor(TW_CURSOR::Arrow);
  if (g_CurrentTool != 0 || !doc) {
    s.last = point;
    return;
  }
  for (auto it = doc->objects.rbegin(); it != doc->objects.rend(); ++it) {
    CDrawObj* obj = *it;
    const int hit = obj->HitTest(point, view, true);
    if (hit > 0 || (hit == 0 && obj->kind != DRAWOBJ_SET && obj->kind != DRAWOBJ_VOL)) {
      view->SetViewCursor(TW_CURSOR::Edit);
      break;
    }
  }
  s.last = point;
}

void CSelectTool::OnLButtonUp(CDrawView* view, unsigned, POINT2D point) {
  TW_TOOLSTATE& s = g_ToolState;
  CDrawDoc* doc = view->GetDocument();
  const bool click = samePoint(s.down, s.last);
  if (view->HasCapture() && s.selectMode >= 1 && s.selectMode <= 3 && doc) {
    view->SetFocusRect(nullptr);
    RECT2D area = normalised(s.down, s.last);
    bool pointClick = false;
    if (click) {
      area = RECT2D{s.down.x - 5, s.down.y - 5, s.down.x + 5, s.down.y + 5};
      pointClick = view->ObjectAtPoint(s.down) != nullptr;
    }
    view->ClearSelection();
    CDrawSet* active = doc->GetActiveSet();
    for (auto it = doc->objects.rbegin(); it != doc->objects.rend(); ++it) {
      CDrawObj* obj = *it;
      if (obj == active || !obj->IsVisibleInView(view) || !obj->Intersects(view, area)) continue;
      view->Select(obj);
      if (pointClick) break;
    }
    doc->RedrawAllViews(false);
  }
  view->SetViewCursor(TW_CURSOR::Arrow);
  view->ReleaseCapture();
  if (samePoint(point, s.down) || g_CurrentTool == 1) g_CurrentTool = 0;
  s.handle = -1;
  s.selectMode = 0;
  g_MovingSelectionWithRightButton = false;
}

void CSelectTool::OnRButtonDown(CDrawView* view, unsigned, POINT2D point) {
  TW_TOOLSTATE& s = g_ToolState;
  CDrawDoc* doc = view->GetDocument();
  if (s.selectMode == 0 && doc) {
    const RECT2D square{point.x - 5, point.y - 5, point.x + 5, point.y + 5};
    for (auto it = doc->objects.rbegin(); it != doc->objects.rend(); ++it) {
      CDrawObj* obj = *it;
      if (!obj->IsVisibleInView(view) || !obj->Intersects(view, square)) continue;
      if (std::find(doc->selection.begin(), doc->selection.end(), obj) != doc->selection.end()) {
        s.selectMode = 4;
        s.handle = 0;
        g_MovingSelectionWithRightButton = true;
        view->SetViewCursor(TW_CURSOR::Move);
      }
      break;
    }
  }
  view->SetCapture();
  s.down = s.last = point;
}

void CSelectTool::OnRButtonUp(CDrawView* view, unsigned, POINT2D) {
  TW_TOOLSTATE& s = g_ToolState;
  if (s.selectMode == 4) {
    view->SetViewCursor(TW_CURSOR::Arrow);
    s.selectMode = 0;
    s.handle = -1;
    g_MovingSelectionWithRightButton = false;
  }
  view->ReleaseCapture();
}

void CSelectTool::OnLButtonDblClk(CDrawView* view, unsigned flags, POINT2D) {
  if (flags & TW_MK_SHIFT) return;
  CDrawDoc* doc = view->GetDocument();
  if (!doc) return;
  if (doc->selection.size() == 1) doc->selection.front()->OnEditProperties(view);
  else if (doc->selection.empty())
    if (CDrawSet* set = doc->GetActiveSet()) set->OnEditProperties(view);
}

void CSelectTool::OnEditProperties(CDrawView* view) {
  CDrawDoc* doc = view->GetDocument();
  if (doc && doc->selection.size() == 1) doc->selection.front()->OnEditProperties(view);
}

// ---------------------------------------------------------------------------------------------
// Zoom tool
// ---------------------------------------------------------------------------------------------

void CZoomTool::OnLButtonDown(CDrawView* view, unsigned, POINT2D point) {
  if (view->clientWidth <= 0 || view->clientHeight <= 0) return;
  TW_TOOLSTATE& s = g_ToolState;
  s.zoomAspect = double(view->clientHeight) / view->clientWidth;
  const RECT2D empty{point.x, point.y, point.x, point.y};
  view->SetFocusRect(&empty);
  s.zoomDragging = true;
  view->SetCapture();
  s.down = s.last = point;
  view->SetViewCursor(TW_CURSOR::Zoom);
}

void CZoomTool::OnMouseMove(CDrawView* view, unsigned, POINT2D point) {
  TW_TOOLSTATE& s = g_ToolState;
  view->SetViewCursor(TW_CURSOR::Zoom);
  if (!s.zoomDragging || samePoint(point, s.last)) return;
  int dx = std::abs(point.x - s.down.x), dy = std::abs(point.y - s.down.y);
  if (dy > dx * s.zoomAspect)
    dx = int(std::floor(dy / s.zoomAspect + 0.5));
  else
    dy = int(std::floor(dx * s.zoomAspect + 0.5));
  const POINT2D corner{point.x >= s.down.x ? s.down.x + dx : s.down.x - dx,
                       point.y >= s.down.y ? s.down.y + dy : s.down.y - dy};
  const RECT2D band = normalised(s.down, corner);
  view->SetFocusRect(&band);
  s.last = corner;
}

void CZoomTool::OnLButtonUp(CDrawView* view, unsigned, POINT2D point) {
  TW_TOOLSTATE& s = g_ToolState;
  if (s.zoomDragging) {
    view->SetFocusRect(nullptr);
    const RECT2D band = normalised(s.down, s.last);
    if (band.right > band.left && band.bottom > band.top) {
      const DRECT w = view->ClientToWorldRect(band);
      view->worldLeft = w.x0;
      view->worldTop = w.y1;
      view->scale = std::min(view->clientWidth / (w.x1 - w.x0), view->clientHeight / (w.y1 - w.y0));
      view->InvalidateClient();
    }
  }
  s.zoomDragging = false;
  view->ReleaseCapture();
  if (samePoint(point, s.down) || g_CurrentTool == 1) g_CurrentTool = 0;
  view->SetViewCursor(TW_CURSOR::Arrow);
}

// ---------------------------------------------------------------------------------------------
// Rectangle tools: vector-ROI box (2), ellipse (4), arc (6)
// ---------------------------------------------------------------------------------------------

void CRectTool::OnLButtonDown(CDrawView* view, unsigned flags, POINT2D point) {
  CDrawDoc* doc = view->GetDocument();
  if (object) {
    // The second click fixes the object.
    g_selectTool.OnLButtonUp(view, flags, point);
    g_CurrentTool = 0;
    g_ToolState.creating = false;
    object = nullptr;
    view->SetViewCursor(TW_CURSOR::Arrow);
    return;
  }
  CDrawSet* active = doc ? doc->GetActiveSet() : nullptr;
  if (!active) return;
  active->ComputeBounds();
  const DPOINT w = view->ClientToWorldPoint(point);
  view->SetCapture();
  g_ToolState.down = g_ToolState.last = point;
  const DRECT rect{w.x, w.y, w.x + 1.0, w.y + 1.0};
  CDrawObj* made = nullptr;
  if (id == DRAWOBJ_ARC) {
    made = new CDrawArc(rect);
    g_ToolState.handle = 1;
  } else {
    auto* r = new CDrawRect(id, rect);
    r->document = doc;
    DRECT activeRect;
    active->GetWorldRect(&activeRect);
    if (!PR_IntersectDrects(&rect, &activeRect, nullptr)) {
      delete r;
      view->ReleaseCapture();
      return;
    }
    if (id == DRAWOBJ_ELLIPSE) {
      made = r;
      g_ToolState.handle = 1;
    } else {
      // A vector-ROI box: a set holding the rectangle and the record of its box in the volume.
      int time = 0;
      DRECT3D box;
      if (!active->GetInVolCoords(view, &rect, &time, &box, nullptr)) {
        delete r;
        view->ReleaseCapture();
        return;
      }
      auto* record = static_cast<HIGHOBJ*>(pf_calloc(sizeof(HIGHOBJ)));
      if (!record) {
        delete r;
        view->ReleaseCapture();
        return;
      }
      std::snprintf(record->label, sizeof(record->label), "vroi_%u", g_ToolState.vroiCounter++);
      record->kind = HIGHOBJ_VECTOR_ROI;
      record->shape = HIGHOBJ_SHAPE_BOX;
      record->owner = active;
      record->t0 = record->t1 = time;
      record->x0 = box.x0;
      record->y0 = box.y0;
      record->z0 = box.z0;
      record->x1 = box.x1;
      record->y1 = box.y1;
      record->z1 = box.z1;
      auto* set = new CDrawSet(doc);
      set->AppendLayer(r);
      set->vroi = record;
      made = set;
      g_ToolState.handle = 2;
    }
  }
  object = made;
  CDrawObj* add = made;
  doc->AddObject(&add, true);
  view->ClearSelection();
  view->Select(made);
  view->InvalidateClient();
  g_ToolState.creating = true;
}

void CRectTool::OnLButtonDblClk(CDrawView*, unsigned, POINT2D) {}

void CRectTool::OnLButtonUp(CDrawView*, unsigned, POINT2D) {}

void CRectTool::OnMouseMove(CDrawView* view, unsigned, POINT2D point) {
  view->SetViewCursor(TW_CURSOR::Edit);
  CDrawDoc* doc = view->GetDocument();
  if (g_ToolState.creating && object && doc && !doc->selection.empty()) {
    CDrawObj* made = doc->selection.back();
    if (made->kind == DRAWOBJ_SET && static_cast<CDrawSet*>(made)->vroi) {
      // A new box spans the pressed point and the pointer. Its rectangle is rebuilt in order from
      // the box at every draw, so a corner handle would stop following the pointer once the box is
      // drawn upwards or to the left of where it was started.
      const DPOINT corners[2] = {view->ClientToWorldPoint(g_ToolState.down), view->ClientToWorldPoint(point)};
      doc->SetModifiedFlag();
      if (made->SetControlSeq(view, corners)) {
        made->ComputeBounds();
        doc->RedrawAllViews(false);
      }
    } else {
      made->MoveControlPoint(view, &g_ToolState.handle, g_ToolState.last, point);
    }
  }
  g_ToolState.last = point;
}

void CRectTool::OnCancel(CDrawView* view, int) {
  CDrawDoc* doc = view->GetDocument();
  if (doc) doc->RedrawAllViews(false);
  view->InvalidateClient();
  // The object being sized goes; one that is no longer in the view's document (its document was
  // closed meanwhile) is only forgotten.
  if (object && doc && std::find(doc->objects.begin(), doc->objects.end(), object) != doc->objects.end()) {
    doc->RemoveObject(object);
    delete object;
  }
  object = nullptr;
  g_CurrentTool = 0;
  g_ToolState.creating = false;
  view->SetViewCursor(TW_CURSOR::Arrow);
}

void CRectTool::OnSpaceAction(CDrawView*) { twk::messageBox(L"Edit Rectangle coordinate now"); }
