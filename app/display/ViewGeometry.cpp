#include "ViewGeometry.h"

#include <algorithm>
#include <cmath>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawShapes.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "HighObj.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "VolProj.h"
#include "dynamics/Dynamics.h"
#include "render/ProjectionGeometry.h"
#include "render/RectHelpers.h"

TW_VIEW_HOOKS& TW_ViewHooks() {
  static TW_VIEW_HOOKS hooks;
  return hooks;
}

bool TW_IsProjUnrotated(const VA_VOLPROJ* p) {
  return p && std::fabs(p->rotation[0]) < 1e-100 && std::fabs(p->rotation[1]) < 1e-100 &&
         std::fabs(p->rotation[2]) < 1e-100;
}

// ---- transforms ----

DPOINT CDrawView::ClientToWorldPoint(POINT2D p) const { return {p.x / scale + worldLeft, worldTop - p.y / scale}; }

POINT2D CDrawView::WorldToClientPoint(DPOINT p, int dx, int dy) const {
  return {int32_t(std::floor((p.x - worldLeft) * scale)) + dx, int32_t(std::floor((worldTop - p.y) * scale)) + dy};
}

DRECT CDrawView::ClientToWorldRect(const RECT2D& r) const {
  const DPOINT a = ClientToWorldPoint({r.left, r.top}), b = ClientToWorldPoint({r.right, r.bottom});
  return {a.x, b.y, b.x, a.y};
}

RECT2D CDrawView::WorldToClientRect(const DRECT& r, int dx, int dy) const {
  const POINT2D a = WorldToClientPoint({r.x0, r.y1}, dx, dy), b = WorldToClientPoint({r.x1, r.y0}, dx, dy);
  return {a.x, a.y, b.x, b.y};
}

DRECT CDrawView::GetVisibleWorldRect() const {
  return {worldLeft, worldTop - clientHeight / scale, worldLeft + clientWidth / scale, worldTop};
}

// ---- zoom and scroll ----

void CDrawView::ZoomBy(double factor) {
  const double w = clientWidth, h = clientHeight, s = scale;
  const double cx = worldLeft + w / (2 * s);
  scale = s * factor;
  worldLeft = cx - w / (2 * s) / factor;
  worldTop = (worldTop - h / (2 * s)) + h / (2 * s) / factor;
  InvalidateClient();
}

void CDrawView::ZoomToWorldRect(const DRECT& r) {
  worldLeft = r.x0;
  worldTop = r.y1;
  if (std::fabs(r.x0 - r.x1) < 1e-100 || std::fabs(r.y0 - r.y1) < 1e-100)
    scale = 1.0;
  else
    scale = std::min(clientWidth / (r.x1 - r.x0), clientHeight / (r.y1 - r.y0));
  InvalidateClient();
}

void CDrawView::CenterOnWorldPoint(DPOINT p, bool redraw) {
  const DRECT v = GetVisibleWorldRect();
  const double hw = (v.x1 - v.x0) / 2, hh = (v.y1 - v.y0) / 2;
  ZoomToWorldRect({p.x - hw, p.y - hh, p.x + hw, p.y + hh});
  if (redraw) RedrawNow();
}

void CDrawView::ZoomAllObjects() {
  CDrawDoc* doc = GetDocument();
  if (!doc || doc->objects.empty()) {
    worldLeft = worldTop = 0;
    scale = 1.0;
    InvalidateClient();
    return;
  }
  DRECT u;
  if (!doc->objects.front()->DisplayedBounds(this, &u)) return;
  for (CDrawObj* obj : doc->objects) {
    if (obj->kind != DRAWOBJ_SET || !static_cast<CDrawSet*>(obj)->IsVolumeSet()) continue;
    DRECT b;
    if (!obj->DisplayedBounds(this, &b)) return;
    u.x0 = std::min({u.x0, b.x0, b.x1});
    u.y0 = std::min({u.y0, b.y0, b.y1});
    u.x1 = std::max({u.x1, b.x0, b.x1});
    u.y1 = std::max({u.y1, b.y0, b.y1});
  }
  ZoomToWorldRect(u);
}

bool CDrawView::ScrollSlices(int key, int count) {
  CDrawDoc* doc = GetDocument();
  CDrawSet* set = doc ? doc->GetActiveSet() : nullptr;
  if (set)
    for (int i = 0; i < count; ++i) set->ScrollVolume(this, key);
  if (TW_ViewHooks().activateView) TW_ViewHooks().activateView(this);
  if (doc) doc->RedrawAllViews(false);
  return set != nullptr;
}

// ---- queries ----

CDrawSet* CDrawView::GetActiveSet() const {
  CDrawDoc* doc = GetDocument();
  if (!doc) return nullptr;
  if (doc->selection.size() == 1 && doc->selection[0]->kind == DRAWOBJ_SET &&
      static_cast<CDrawSet*>(doc->selection[0])->IsVolumeSet())
    return static_cast<CDrawSet*>(doc->selection[0]);
  return doc->GetActiveSet();
}

VA_VOLPROJ* CDrawView::GetProjection() const {
  CDrawDoc* doc = GetDocument();
  CDrawSet* set = doc ? doc->GetActiveSet() : nullptr;
  return set ? set->FindViewProjection(this) : nullptr;
}

int CDrawView::CurrentTime() const {
  const VA_VOLPROJ* p = GetProjection();
  return p ? p->timeIndex : 0;
}

int CDrawView::CurrentDynInx() const {
  CDrawDoc* doc = GetDocument();
  CDrawSet* set = doc ? doc->GetActiveSet() : nullptr;
  if (!set) return 0;
  const CVol* vol = set->GetLayerVol(0);
  for (int i = 0; i < set->NumLayers(); ++i) {
    const CVol* v = set->GetLayerVol(i);
    if (v && v->frame && v->T() > 1) {
      vol = v;
      break;
    }
  }
  int dyn = 0;
  if (!vol || !VA_VolTimeInxToDynInx(vol, CurrentTime(), &dyn)) return 0;
  return dyn;
}

bool CDrawView::IsFilmView(int* slice) const {
  if (slice) *slice = 0;
  const VA_VOLPROJ* p = GetProjection();
  const CDrawDoc* doc = GetDocument();
  const CDrawSet* set = doc ? doc->GetActiveSet() : nullptr;
  const CVol* base = set ? set->GetBaseVol() : nullptr;
  if (!p || !base || !base->frame || base->D() <= 1) return false;
  if (slice) *slice = p->slice;
  return p->filmView != 0;
}

bool CDrawView::HasOriginalProjection() const {
  const VA_VOLPROJ* p = GetProjection();
  return p && p->projType == 0;
}

void CDrawView::OnResetProjection() {
  VA_VOLPROJ* p = GetProjection();
  const CDrawSet* set = GetDocument() ? GetDocument()->GetActiveSet() : nullptr;
  const CVol* base = set ? set->GetBaseVol() : nullptr;
  if (!p || !base || !base->frame) return;
  p->rotation[0] = p->rotation[1] = p->rotation[2] = 0;
  p->slice = base->D() / 2;
  RedrawNow();
}

bool CDrawView::ClientToVolume(CDrawSet* set, POINT2D point, DPOINT3D* volume, DPOINT3D* projection) const {
  if (!set) return false;
  const DPOINT w = ClientToWorldPoint(point);
  const DRECT r{w.x, w.y, w.x, w.y};
  DRECT3D vb, pb;
  if (!set->GetInVolCoords(this, &r, nullptr, &vb, &pb)) return false;
  if (volume) *volume = DPOINT3D{(vb.x0 + vb.x1) / 2, (vb.y0 + vb.y1) / 2, (vb.z0 + vb.z1) / 2};
  if (projection) *projection = DPOINT3D{(pb.x0 + pb.x1) / 2, (pb.y0 + pb.y1) / 2, (pb.z0 + pb.z1) / 2};
  return true;
}

bool CDrawView::WorldToVolume(CDrawSet* set, const DPOINT3D* projection, int tile, DPOINT* world) const {
  if (!set || !projection || !world) return false;
  const DRECT3D box{projection->x, projection->y, projection->z, projection->x, projection->y, projection->z};
  DRECT r;
  if (!set->VolBoxToWorldRect(this, &box, tile, &r)) return false;
  *world = DPOINT{(r.x0 + r.x1) / 2, (r.y0 + r.y1) / 2};
  return true;
}

// ---- layer-set geometry ----

namespace {

// The set whose volume a set's coordinates refer to: itself, or a vector ROI's owner (else the
// document's active set).
const CDrawSet* volumeSetOf(const CDrawSet* set) {
  if (set->IsVolumeSet()) return set;
  if (set->IsVectorRoi()) {
    if (set->vroi && set->vroi->owner && set->vroi->owner->IsVolumeSet()) return set->vroi->owner;
    return set->GetDocument() ? set->GetDocument()->GetActiveSet() : nullptr;
  }
  return nullptr;
}

}  // namespace

bool CDrawSet::VolBoxToWorldRect(const CDrawView* view, const DRECT3D* box, int tile, DRECT* out) const {
  if (!IsVolumeSet() || !view || !box || !out) return false;
  const VA_VOLPROJ* p = view->GetProjection();
  const CVol* vol = GetBaseVol();
  DRECT b;
  if (!p || !vol || !vol->frame || !DisplayedBounds(view, &b)) return false;
  DIM3D pd;
  if (!VA_VolProjGridDimensions(vol->Dim(), vol->Spc(), p, &pd)) return false;
  double w = pd.w, h = pd.h, x0 = box->x0, x1 = box->x1, y0 = box->y0, y1 = box->y1;
  if (VA_IsFilmView(vol->Dim(), vol->Spc(), p)) {
    int fw, fh;
    RECT2D t;
    if (!VA_FilmViewDimensions(vol->Dim(), vol->Spc(), p, &fw, &fh) ||
        !VA_FilmViewTilePos(vol->Dim(), vol->Spc(), p, tile, &t))
      return false;
    w = fw;
    h = fh;
    x0 += t.left;
    x1 += t.left;
    y0 += t.top;
    y1 += t.top;
  }
  const double sx = std::fabs(b.x1 - b.x0) / w, sy = std::fabs(b.y1 - b.y0) / h;
  *out = DRECT{x0 * sx + b.x0, b.y1 - y1 * sy, x1 * sx + b.x0, b.y1 - y0 * sy};
  return true;
}

bool CDrawSet::GetInVolCoords(const CDrawView* view, const DRECT* world, int* time, DRECT3D* volumeBox,
                              DRECT3D* projectionBox) const {
  const CDrawSet* volSet = volumeSetOf(this);
  if (!volSet || !world) return false;
  const CVol* vol = volSet->GetLayerVol(volSet->activeLayer);
  const VA_VOLPROJ* p = view ? view->GetProjection() : nullptr;
  if (!p) {
    twk::showNamedError(L"CDrawSet::GetInVolCoords", L"Valid Projection is required");
    return false;
  }
  if (!vol || !vol->frame) return false;
  if (time) *time = p->timeIndex;
  DIM3D pd;
  DRECT b;
  if (!VA_VolProjGridDimensions(vol->Dim(), vol->Spc(), p, &pd) || !volSet->DisplayedBounds(view, &b)) return false;
  DRECT3D box;
  if (!VA_IsFilmView(vol->Dim(), vol->Spc(), p)) {
    DRECT inner;
    if (!PR_GetInnerDrect(&b, pd.w, pd.h, world, &inner)) return false;
    box = DRECT3D{inner.x0, inner.y0, double(p->slice), inner.x1, inner.y1, p->slice + 0.9999};
  } else {
    int fw, fh;
    DRECT inner;
    if (!VA_FilmViewDimensions(vol->Dim(), vol->Spc(), p, &fw, &fh) || !PR_GetInnerDrect(&b, fw, fh, world, &inner))
      return false;
    double best = -1e60;
    int winner = -1;
    RECT2D winnerTile;
    for (int s = 0; s < pd.d; ++s) {
      RECT2D t;
      if (!VA_FilmViewTilePos(vol->Dim(), vol->Spc(), p, s, &t)) continue;
      const DRECT td{double(t.left), double(t.top), double(t.right), double(t.bottom)};
      DRECT x;
      if (!PR_IntersectDrects(&inner, &td, &x)) continue;
      const double area = std::fabs(x.x1 - x.x0) * std::fabs(x.y1 - x.y0);
      if (area > best) {
        best = area;
        winner = s;
        winnerTile = t;
      }
    }
    if (winner < 0) return false;
    box = DRECT3D{inner.x0 - winnerTile.left, inner.y0 - winnerTile.top, double(winner),
                  inner.x1 - winnerTile.left, inner.y1 - winnerTile.top, winner + 1 - 1e-6};
  }
  if (projectionBox) *projectionBox = box;
  if (volumeBox && !VA_VolProjGridBoxConversion(vol->Dim(), vol->Spc(), p, &box, volumeBox, 0)) return false;
  return true;
}

bool CDrawSet::ClientToVoxelCentre(const CDrawView* view, POINT2D point, double* x, double* y, double* z,
                                   int* time) const {
  if (!view) return false;
  const DPOINT w = view->ClientToWorldPoint(point);
  const DRECT r{w.x, w.y, w.x, w.y};
  DRECT3D vb;
  int t = 0;
  if (!GetInVolCoords(view, &r, &t, &vb, nullptr)) return false;
  if (x) *x = (vb.x0 + vb.x1) / 2;
  if (y) *y = (vb.y0 + vb.y1) / 2;
  if (z) *z = (vb.z0 + vb.z1) / 2;
  if (time) *time = t;
  return true;
}

bool CDrawSet::ScrollVolume(CDrawView* view, int key) {
  VA_VOLPROJ* p = view ? view->GetProjection() : nullptr;
  if (!p) return false;
  int maxT = 0, index = 0;
  if (!MaxT(&maxT, &index)) return false;
  const CVol* vol = GetLayerVol(index);
  if (!vol || !vol->frame) return false;
  switch (key) {
    case TW_VK_LEFT:
    case TW_VK_RIGHT: {
      if (maxT == 1) {
        p->timeIndex = 0;
        break;
      }
      int dyn = 0, t = 0;
      if (!VA_VolTimeInxToDynInx(vol, p->timeIndex, &dyn)) return false;
      dyn = key == TW_VK_LEFT ? std::max(0, dyn - 1) : std::min(maxT - 1, dyn + 1);
      if (!VA_VolDynInxToTimeInx(vol, dyn, &t)) return false;
      p->timeIndex = t;
      break;
    }
    case TW_VK_UP:
    case TW_VK_DOWN: {
      DIM3D pd;
      if (!VA_VolProjGridDimensions(vol->Dim(), vol->Spc(), p, &pd)) return false;
      p->slice = key == TW_VK_UP ? std::min(pd.d - 1, p->slice + 1) : std::max(0, p->slice - 1);
      break;
    }
    default:
      twk::showNamedError(L"CDrawSet::ScrollVolume", L"Invalid Character Code in ScrollVolume");
      return false;
  }
  view->DisplayVoxelInfo(this, true);
  return true;
}
