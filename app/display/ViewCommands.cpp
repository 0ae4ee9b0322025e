// The view's display commands (zoom, window/level tool, raster, vector and grid switches, new
// view, projection), its tool choices, the commands on the selection (select all, erase, drawing
// order, lock, pin, properties), the display clock and the optimal window.

#include <algorithm>
#include <cmath>
#include <iterator>

#include "DocHooks.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawShapes.h"
#include "DrawTool.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "Prompts.h"
#include "TwkUi.h"
#include "Vol.h"
#include "ViewGeometry.h"
#include "ViewInput.h"
#include "VolRender.h"
#include "docsupport/DocSupport.h"
#include "paths/ValueText.h"

namespace {

void redrawAll(CDrawView* view) {
  if (CDrawDoc* doc = view->GetDocument()) doc->RedrawAllViews(false);
}

bool isVolumeSet(const CDrawObj* obj) {
  return obj && obj->kind == DRAWOBJ_SET && static_cast<const CDrawSet*>(obj)->IsVolumeSet();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Zoom, window/level, display switches
// ---------------------------------------------------------------------------------------------

void CDrawView::OnZoomIn() { ZoomBy(1.05); }

void CDrawView::OnZoomOut() { ZoomBy(1 / 1.05); }

void CDrawView::OnZoom1x1() {
  scale = 1.0;
  paintMode = 0;
  InvalidateClient();
}

void CDrawView::OnZoomByWindow() {
  g_CurrentTool = g_CurrentTool == 1 ? 0 : 1;
  paintMode = 0;
  SetViewCursor(g_CurrentTool == 1 ? TW_CURSOR::Zoom : TW_CURSOR::Arrow);
  InvalidateClient();
}

void CDrawView::OnUpdateZoomByWindow(TW_CMDUI* ui) const { ui->checked = g_CurrentTool == 1; }

void CDrawView::OnWindowLevelTool() {
  g_CurrentTool = g_CurrentTool == 10 ? 0 : 10;
  paintMode = 0;
  SetViewCursor(g_CurrentTool == 10 ? TW_CURSOR::WindowLevel : TW_CURSOR::Arrow);
  InvalidateClient();
}

void CDrawView::OnUpdateWindowLevelTool(TW_CMDUI* ui) const { ui->checked = g_CurrentTool == 10; }

void CDrawView::OnDisplayRaster() {
  showRaster = !showRaster;
  RedrawNow();
}

void CDrawView::OnUpdateDisplayRaster(TW_CMDUI* ui) const { ui->checked = showRaster != 0; }

void CDrawView::OnDisplayVector() {
  showVector = !showVector;
  RedrawNow();
}

void CDrawView::OnUpdateDisplayVector(TW_CMDUI* ui) const { ui->checked = showVector != 0; }

void CDrawView::OnDisplayGrid() {
  if (!showGrid) {
    double step = gridStep;
    // The prompt takes finite numbers only.
    if (!TW_EnterDouble(L"Grid Step (mm)", &step)) return;
    gridStep = step;
  }
  showGrid = !showGrid;
  RedrawNow();
}

void CDrawView::OnUpdateDisplayGrid(TW_CMDUI* ui) const { ui->checked = showGrid != 0; }

void CDrawView::OnContoursOnly() {
  contoursOnly = !contoursOnly;
  paintMode = 0;
  RedrawNow();
}

void CDrawView::OnUpdateContoursOnly(TW_CMDUI* ui) const { ui->checked = contoursOnly != 0; }

void CDrawView::OnEnumeratePolylines() {
  enumerate = !enumerate;
  RedrawNow();
}

void CDrawView::OnUpdateEnumeratePolylines(TW_CMDUI* ui) const { ui->checked = enumerate != 0; }

void CDrawView::OnNewView() {
  CDrawDoc* doc = GetDocument();
  if (!doc) return;
  TW_VIEW_HOOKS& hooks = TW_ViewHooks();
  RECT2D frame;
  const bool haveRect = hooks.frameRect && hooks.frameRect(this, &frame);
  doc->CreateNewProjectionView(haveRect ? &frame : nullptr, GetProjection());
}

void CDrawView::On3DProjectionSet() {
  if (!GetActiveSet() || !GetDocument() || !GetDocument()->GetActiveSet()) return;
  VA_VOLPROJ* record = GetProjection();
  if (!record) {
    twk::doc::message(L"CDrawView::On3DProjectionSet", L"Valid Projection is required");
    return;
  }
  if (TW_ViewHooks().projectionDialog) TW_ViewHooks().projectionDialog(this, record);
}

// ---------------------------------------------------------------------------------------------
// Tool choices
// ---------------------------------------------------------------------------------------------

void CDrawView::OnChooseSelectTool() {
  g_CurrentTool = g_CurrentTool == 0 ? 1 : 0;
  SetViewCursor(g_CurrentTool == 1 ? TW_CURSOR::Zoom : TW_CURSOR::Arrow);
}

void CDrawView::OnUpdateChooseSelectTool(TW_CMDUI* ui) const { ui->checked = g_CurrentTool == 0; }

void CDrawView::OnVectorRoiTool() { g_CurrentTool = 2; }

void CDrawView::OnUpdateVectorRoiTool(TW_CMDUI* ui) const { ui->checked = g_CurrentTool == 2; }

void CDrawView::OnEllipseTool() { g_CurrentTool = 4; }

void CDrawView::OnArcTool() { g_CurrentTool = 6; }

void CDrawView::OnInsertPolyline() {
  if (showVector) g_CurrentTool = 5;
}

void CDrawView::OnUpdateInsertPolyline(TW_CMDUI* ui) const {
  ui->enabled = showVector != 0;
  ui->checked = g_CurrentTool == 5;
}

void CDrawView::OnVolMagTrace() {
  const VA_VOLPROJ* p = GetProjection();
  if (!p) return;
  if (!TW_IsProjUnrotated(p)) {
    twk::doc::message(L"CDrawView::OnVolMagTrace",
                      L"MagTrace requires the original projection.\nUse Main menu > View > Reset Projection for this View");
    return;
  }
  if (IsFilmView(nullptr)) {
    twk::ui().messageBox(L"Film View is not allowed in this operation", L"Tarnwick", MB_OK | MB_ICONSTOP);
    return;
  }
  g_CurrentTool = 11;
}

void CDrawView::OnUpdateVolMagTrace(TW_CMDUI* ui) const { ui->checked = g_CurrentTool == 11; }

// ---------------------------------------------------------------------------------------------
// The selection
// ---------------------------------------------------------------------------------------------

void CDrawView::OnSelectAll() {
  CDrawDoc* doc = GetDocument();
  if (!doc) return;
  ClearSelection();
  for (CDrawObj* obj : doc->objects) Select(obj);
  InvalidateClient();
}

void CDrawView::OnEditClear() {
  CDrawDoc* doc = GetDocument();
  if (!doc) return;
  const int id = g_CurrentTool;
  if (CDrawTool* tool = CDrawTool::FindTool(id)) tool->OnCancel(this, id);
  const std::vector<CDrawObj*> chosen = doc->selection;
  for (CDrawObj* obj : chosen) {
    if (isVolumeSet(obj)) continue;
    if (std::find(doc->objects.begin(), doc->objects.end(), obj) == doc->objects.end()) continue;
    doc->RemoveObject(obj);
    delete obj;
  }
  doc->SetModifiedFlag();
  g_CurrentTool = 0;
  SetViewCursor(TW_CURSOR::Arrow);
  redrawAll(this);
}

namespace {

// Moves the first selected object within the drawing order: to (the end, the head) or by one step.
void moveSelected(CDrawView* view, int where) {
  CDrawDoc* doc = view->GetDocument();
  if (!doc || doc->selection.empty()) return;
  CDrawObj* obj = doc->selection.front();
  std::vector<CDrawObj*>& list = doc->objects;
  const auto it = std::find(list.begin(), list.end(), obj);
  if (it == list.end()) return;
  const size_t i = size_t(it - list.begin());
  switch (where) {
    case 0: std::rotate(it, it + 1, list.end()); break;                       // to the top (drawn last)
    case 1: std::rotate(list.begin(), it, it + 1); break;                     // to the back
    case 2: if (i + 1 < list.size()) std::swap(list[i], list[i + 1]); break;  // one up
    case 3: if (i > 0) std::swap(list[i], list[i - 1]); break;                // one down
    default: break;
  }
  view->InvalidateObject(obj);
}

}  // namespace

void CDrawView::OnMoveToFront() { moveSelected(this, 0); }
void CDrawView::OnMoveToBack() { moveSelected(this, 1); }
void CDrawView::OnMoveForward() { moveSelected(this, 2); }
void CDrawView::OnMoveBackward() { moveSelected(this, 3); }

void CDrawView::OnObjectLock() {
  CDrawDoc* doc = GetDocument();
  if (!doc) return;
  for (CDrawObj* obj : doc->selection) {
    obj->lockState = isVolumeSet(obj) ? 2 : (obj->lockState + 1) % 3;
    InvalidateObject(obj);
  }
}

void CDrawView::OnUpdateObjectLock(TW_CMDUI* ui) const { OnUpdateNeedsSelection(ui); }

void CDrawView::OnObjectPin() {
  CDrawDoc* doc = GetDocument();
  if (!doc) return;
  for (CDrawObj* obj : doc->selection) {
    obj->lockState = 1;
    InvalidateObject(obj);
  }
}

void CDrawView::OnUpdateNeedsSelection(TW_CMDUI* ui) const {
  const CDrawDoc* doc = GetDocument();
  ui->enabled = doc && !doc->selection.empty();
}

void CDrawView::OnEditProperties() {
  CDrawDoc* doc = GetDocument();
  if (!doc || doc->selection.size() != 1 || g_CurrentTool != 0) return;
  if (CDrawTool* tool = CDrawTool::FindTool(0)) tool->OnEditProperties(this);
}

void CDrawView::OnContourFillProperties() {
  CDrawDoc* doc = GetDocument();
  if (!doc || doc->selection.size() != 1) return;
  CDrawObj* obj = doc->selection.front();
  if (obj->kind == DRAWOBJ_RECT || obj->kind == DRAWOBJ_ELLIPSE || obj->kind == DRAWOBJ_POLY || obj->kind == DRAWOBJ_ARC)
    obj->OnEditProperties(this);
}

void CDrawObj::OnEditProperties(CDrawView* view) {
  TW_VIEW_HOOKS& hooks = TW_ViewHooks();
  switch (kind) {
    case DRAWOBJ_POLY:
      if (hooks.polylineProperties) hooks.polylineProperties(view, this);
      return;
    case DRAWOBJ_SET: {
      auto* set = static_cast<CDrawSet*>(this);
      TW_DOCUMENT_HOOKS& docHooks = TW_DocumentHooks();
      const bool panelsOpen = docHooks.floatingPanelsOpen && docHooks.floatingPanelsOpen();
      if (set->IsVectorRoi()) {
        const bool open = docHooks.vroiPanelOpen && docHooks.vroiPanelOpen();
        if (!open && hooks.vectorRoiPanel) hooks.vectorRoiPanel(view, this, panelsOpen);
      } else if (set->IsVolumeSet()) {
        if (!panelsOpen && hooks.layersPanel) hooks.layersPanel(view);
      } else {
        twk::doc::message(L"CDrawObj::OnEditProperties", L"Volumetric Entity is required");
      }
      return;
    }
    default: return;
  }
}

// ---------------------------------------------------------------------------------------------
// Windows, display clock, optimal window
// ---------------------------------------------------------------------------------------------

void CDrawView::OnTileByAspect() {
  if (TW_ViewHooks().tileWindows) TW_ViewHooks().tileWindows();
}

void CDrawView::OnShowDocDisplayClock() {
  // Before any draw there is nothing to average over.
  const double average = g_DocDisplayCount > 0 ? g_DocDisplayClock / g_DocDisplayCount : 0.0;
  PR_DisplayTwoDoubleValues(L"Doc Display Count", double(g_DocDisplayCount), L"Doc Display Avg Clock", average);
}

void CDrawView::OnResetDocDisplayClock() {
  g_DocDisplayCount = 0;
  g_DocDisplayClock = 0;
}

void CDrawView::OnOptimalWindow(int mode) {
  if (CDrawSet* set = GetActiveSet()) set->OptimalWindow(this, mode);
}

bool CDrawSet::OptimalWindow(CDrawView* view, int mode) {
  const wchar_t* fn = L"CDrawSet::OptimalWindow";
  CVol* signal = nullptr;
  CVol* roi = nullptr;
  if (mode == 2) {
    if (!WorkVolNonROIandROI(false, false, true, &signal, &roi)) return false;
  } else {
    signal = WorkVolNonRoi();
    if (!signal) {
      twk::doc::message(fn, L"No suitable volume is present or enabled");
      return false;
    }
  }
  CDrawVol* layer = GetLayerOfVol(signal);
  const VA_VOLPROJ* p = view ? view->GetProjection() : nullptr;
  if (!layer || !signal->frame || !p) {
    if (!p) twk::doc::message(fn, L"Valid Projection is required");
    return false;
  }
  PR_VIEWFILT filter = layer->filter;
  const int t = signal->effT(p->timeIndex);
  // The ROI's window is the full range of the signal inside the ROI (the outside left void),
  // computed in place.
  const bool done = mode == 2 ? VA_OptimalIntensWindowInMask(0, signal->frame, t, roi->frame, &filter, true)
                              : VA_OptimalIntensWindow(mode, signal->frame, t, &filter, true);
  if (done) {
    layer->filter = filter;
    if (document) document->SetModifiedFlag();
  }
  if (document) document->RedrawAllViews(false);
  if (view) view->SetViewCursor(TW_CURSOR::Arrow);
  return done;
}
