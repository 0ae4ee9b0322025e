// The ROI brush of the views: paint, erase and radius change.

#include <algorithm>
#include <cmath>

#include "AppOptions.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "UndoRec.h"
#include "Vol.h"
#include "ViewGeometry.h"
#include "ViewInput.h"
#include "render/ProjectionGeometry.h"
#include "volume/Frame.h"



namespace {

// The layer the brush works on for a paint or an erase (mode 0 or 1), or the active layer for a
// radius change; null when the brush may not work. makeRoi says whether a "draw ROI" layer is
// still to be made.
CDrawVol* brushTarget(CDrawSet* set, int mode, bool* makeRoi) {
  *makeRoi = false;
  CDrawVol* active = set->GetActiveLayer();
  if (!active || !active->vol || !active->vol->frame) return nullptr;
  if (mode == 2) return active;
  const CVol* vol = active->vol;
  const bool allowed = !(vol->IsINT() && !g_BrushParms.onIntegerVolumes) && !(vol->IsReal() && !g_BrushParms.onRealVolumes);
  if (active->IsMarked() && allowed) return active;
  int count = 0;
  CVol* roi = set->WorkVolROI(&count);
  if (count > 1) return nullptr;
  if (roi) return set->GetLayerOfVol(roi);
  *makeRoi = true;
  return active;
}

}  // namespace

bool CDrawView::RoiBrush(int mode, POINT2D point, int delta) {
  CDrawDoc* doc = GetDocument();
  CDrawSet* set = doc ? doc->GetActiveSet() : nullptr;
  if (!set || !set->IsVolumeSet()) return false;
  const VA_VOLPROJ* record = GetProjection();
  bool makeRoi = false;
  CDrawVol* target = brushTarget(set, mode, &makeRoi);
  if (!target) return false;
  // An ROI target with ROIs not allowed: refused before any layer is made.
  if ((makeRoi || target->vol->IsROI()) && !g_BrushParms.onRois) return false;

  bool paint = mode == 0;
  if (mode == 2) {
    g_BrushParms.radius = std::max(0.0, g_BrushParms.radius + delta);
    paint = lastStrokePainted;
  }
  if (!UpdateBrushCursor(point, paint, g_BrushParms.radius)) return true;
  if (mode == 2) return true;

  VA_BRUSHPOINT current;
  if (!record || !set->ClientToVoxelCentre(this, point, &current.x, &current.y, &current.z, &current.time)) return false;
  if (makeRoi) {
    // An empty ROI of the active layer's size, named "draw ROI".
    const CVol* templateVol = target->vol;
    const DIM3D dims{templateVol->W(), templateVol->H(), templateVol->D(), 1};
    FramePtr frame(VA_VolCreateUniform(FRM_ROI, dims, 0.0));
    if (!frame) return false;
    FRAME* lent = frame.release();
    const bool added = set->AddResultLayer(false, false, L"draw ROI", target->vol, &lent, -1, 0, -1);
    frame.reset(lent);
    if (!added) return false;
    target = set->GetLayer(set->NumLayers() - 1);
    if (!target || !target->vol || !target->vol->frame) return false;
  }
  lastStrokePainted = paint;

  if (g_BrushParms.centerZoomOnMouse && !IsFilmView(nullptr) && TW_IsProjUnrotated(record)) {
    DRECT shown;
    const DRECT v = GetVisibleWorldRect();
    if (set->DisplayedBounds(this, &shown) &&
        !(shown.x0 >= v.x0 - 1 && shown.x1 <= v.x1 + 1 && shown.y0 >= v.y0 - 1 && shown.y1 <= v.y1 + 1))
      CenterOnCursor();
  }
  if (brushTime == -1) {
    brushAnchor[0] = current.x;
    brushAnchor[1] = current.y;
    brushAnchor[2] = current.z;
    brushTime = current.time;
  }
  const VA_BRUSHPOINT anchor{brushAnchor[0], brushAnchor[1], brushAnchor[2], brushTime};
  target->FreeViewCaches();
  UNDOREC* undo = nullptr;
  if (!target->vol->ApplyBrush(&g_BrushParms, record, &anchor, &current, paint, g_BrushParms.shape, &undo)) return false;
  if (undo) {
    undo->filter = target->filter;
    undo->owner = target->LayerId();
  }
  brushAnchor[0] = current.x;
  brushAnchor[1] = current.y;
  brushAnchor[2] = current.z;
  brushTime = current.time;

  doc->interactiveRedraw = 1;
  doc->RedrawAllViews(false);
  doc->interactiveRedraw = 0;
  if (TW_Options().undoEnabled && undo) doc->PushUndo(&undo);
  doc->SetModifiedFlag();
  delete undo;  // a record the history did not take
  return true;
}

bool CDrawView::UpdateBrushCursor(POINT2D point, bool paint, double radius) {
  CDrawDoc* doc = GetDocument();
  CDrawSet* set = doc ? doc->GetActiveSet() : nullptr;
  if (!set) return false;
  const DPOINT w = ClientToWorldPoint(point);
  const DRECT r{w.x, w.y, w.x, w.y};
  DRECT3D box;
  if (!set->GetInVolCoords(this, &r, nullptr, nullptr, &box)) return false;
  box.x0 -= radius;
  box.x1 += radius;
  box.y0 -= radius;
  box.y1 += radius;
  DRECT world;
  if (!set->VolBoxToWorldRect(this, &box, int(std::floor(box.z0)), &world)) return false;
  const POINT2D a = WorldToClientPoint({world.x0, world.y1}), b = WorldToClientPoint({world.x1, world.y0});
  int pixels = (std::abs(b.x - a.x) + std::abs(b.y - a.y)) / 4;
  if (pixels < 2) pixels = 1;
  SetViewCursor(TW_CURSOR::Brush, pixels, paint);
  return true;
}
