// Control points, hit tests, visibility and bounds of drawing objects, by object kind.

#include <algorithm>
#include <cmath>
#include <vector>

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
#include "render/ProjectionGeometry.h"
#include "render/RectHelpers.h"

namespace {

bool isRectKind(int kind) { return kind == DRAWOBJ_RECT || kind == DRAWOBJ_ROUNDRECT || kind == DRAWOBJ_ELLIPSE; }

std::vector<DPOINT> controlPoints(const CDrawObj* obj) {
  std::vector<DPOINT> out;
  switch (obj->kind) {
    case DRAWOBJ_RECT: {
      const auto* r = static_cast<const CDrawRect*>(obj);
      out = {{r->rect.x0, r->rect.y0}, {r->rect.x1, r->rect.y1}};
      break;
    }
    case DRAWOBJ_POLY: {
      const auto* p = static_cast<const CDrawPoly*>(obj);
      if (p->points) out.assign(p->points, p->points + p->NumPoints());
      break;
    }
    case DRAWOBJ_ARC: {
      const auto* a = static_cast<const CDrawArc*>(obj);
      out = {{a->rect.x0, a->rect.y0}, {a->rect.x1, a->rect.y1}, a->start, a->end};
      break;
    }
    case DRAWOBJ_SET: {
      const auto* s = static_cast<const CDrawSet*>(obj);
      for (int i = 0; i < s->NumEntries(); ++i) {
        const std::vector<DPOINT> sub = controlPoints(s->GetEntry(i));
        out.insert(out.end(), sub.begin(), sub.end());
      }
      break;
    }
    case DRAWOBJ_VOL: out = {{obj->position.x0, obj->position.y0}, {obj->position.x1, obj->position.y1}}; break;
    default: break;
  }
  return out;
}

bool differs(DPOINT a, DPOINT b) { return a.x != b.x || a.y != b.y; }

}  // namespace

bool CDrawObj::GetControlPoints(int* count, DPOINT** points) const {
  const std::vector<DPOINT> p = controlPoints(this);
  if (count) *count = int(p.size());
  if (!points) return true;
  *points = nullptr;
  if (p.empty()) return true;
  *points = static_cast<DPOINT*>(pf_malloc(int64_t(p.size() * sizeof(DPOINT))));
  if (!*points) return false;
  std::copy(p.begin(), p.end(), *points);
  return true;
}

DPOINT CDrawObj::GetControlPoint(int index) const {
  const std::vector<DPOINT> p = controlPoints(this);
  return index >= 1 && index <= int(p.size()) ? p[size_t(index - 1)] : DPOINT{};
}

bool CDrawObj::SetControlSeq(CDrawView* view, const DPOINT* p) {
  if (highlight != 0 || !p) return false;
  switch (kind) {
    case DRAWOBJ_RECT: {
      auto* r = static_cast<CDrawRect*>(this);
      const bool changed = differs(p[0], {r->rect.x0, r->rect.y0}) || differs(p[1], {r->rect.x1, r->rect.y1});
      r->rect = DRECT{p[0].x, p[0].y, p[1].x, p[1].y};
      return changed;
    }
    case DRAWOBJ_POLY: {
      auto* poly = static_cast<CDrawPoly*>(this);
      const int n = poly->NumPoints();
      bool changed = false;
      for (int i = 0; i < n; ++i) {
        changed = changed || differs(poly->points[i], p[i]);
        poly->points[i] = p[i];
      }
      return changed;
    }
    case DRAWOBJ_ARC: {
      auto* a = static_cast<CDrawArc*>(this);
      const bool changed = differs(p[0], {a->rect.x0, a->rect.y0}) || differs(p[1], {a->rect.x1, a->rect.y1}) ||
                           differs(p[2], a->start) || differs(p[3], a->end);
      a->rect = DRECT{p[0].x, p[0].y, p[1].x, p[1].y};
      a->start = p[2];
      a->end = p[3];
      return changed;
    }
    case DRAWOBJ_VOL: {
      const bool changed = differs(p[0], {position.x0, position.y0}) || differs(p[1], {position.x1, position.y1});
      position = DRECT{p[0].x, p[0].y, p[1].x, p[1].y};
      return changed;
    }
    case DRAWOBJ_SET: {
      auto* s = static_cast<CDrawSet*>(this);
      int at = 0;
      bool changed = false;
      for (int i = 0; i < s->NumEntries(); ++i) {
        CDrawObj* e = s->GetEntry(i);
        int n = 0;
        e->GetControlPoints(&n, nullptr);
        if (s->IsVectorRoi()) {
          if (e->kind != DRAWOBJ_RECT) {
            twk::showNamedError(L"CDrawObj::SetControlSeq", L"Unexpected type in HighObject");
            return false;
          }
          if (e->SetControlSeq(view, p + at)) {
            // The first rectangle that changes edits the box's cross-section in the view's plane.
            const auto* r = static_cast<CDrawRect*>(e);
            const double rect[4] = {r->rect.x0, r->rect.y0, r->rect.x1, r->rect.y1};
            s->ModifyHighObjCrossectionXY(view, rect);
            return true;
          }
        } else {
          changed = e->SetControlSeq(view, p + at) || changed;
        }
        at += n;
      }
      return changed;
    }
    default: return false;
  }
}

void CDrawObj::MoveControlPoint(CDrawView* view, int* handle, POINT2D previous, POINT2D point) {
  if (document) document->SetModifiedFlag();
  if (!view || !handle || *handle < 0 || !IsVisibleInView(view)) return;
  std::vector<DPOINT> p = controlPoints(this);
  if (p.empty()) return;
  if (*handle > 0) {
    if (*handle > int(p.size())) return;
    p[size_t(*handle - 1)] = view->ClientToWorldPoint(point);
  } else {
    const DPOINT a = view->ClientToWorldPoint(previous), b = view->ClientToWorldPoint(point);
    for (DPOINT& q : p) q = DPOINT{q.x + b.x - a.x, q.y + b.y - a.y};
  }
  SetControlSeq(view, p.data());
  ComputeBounds();
  if (document) document->RedrawAllViews(false);
}

bool CDrawObj::Intersects(CDrawView* view, const RECT2D& client) {
  if (!view) return false;
  const DRECT world = view->ClientToWorldRect(client);
  DRECT mine;
  GetWorldRect(&mine);
  if (!PR_IntersectDrects(&world, &mine, nullptr)) return false;
  DRECT w = world, m = mine;
  PR_DrectNormalize(&w);
  PR_DrectNormalize(&m);
  if (m.x0 >= w.x0 && m.x1 <= w.x1 && m.y0 >= w.y0 && m.y1 <= w.y1) return true;
  switch (kind) {
    case DRAWOBJ_ELLIPSE: {
      const RECT2D c = view->WorldToClientRect(mine);
      const DRECT ce{double(c.left), double(c.top), double(c.right), double(c.bottom)};
      const DRECT cr{double(client.left), double(client.top), double(client.right), double(client.bottom)};
      return PR_RectIntersectEllipce(&ce, &cr, style.filled != 0);
    }
    case DRAWOBJ_POLY: {
      bool hit = false;
      static_cast<CDrawPoly*>(this)->HitTestRect(style.filled && !view->contoursOnly, world, &hit);
      return hit;
    }
    case DRAWOBJ_ARC: {
      const DRECT r = static_cast<CDrawArc*>(this)->rect;
      return PR_RectIntersectEllipce(&r, &world, false);
    }
    case DRAWOBJ_SET: {
      auto* s = static_cast<CDrawSet*>(this);
      for (int i = 0; i < s->NumEntries(); ++i)
        if (s->GetEntry(i)->Intersects(view, client)) return true;
      return false;
    }
    default: return true;
  }
}

int CDrawObj::HitTest(POINT2D point, CDrawView* view, bool handles) {
  if (!view || !IsVisibleInView(view)) return -1;
  const RECT2D square{point.x - 5, point.y - 5, point.x + 5, point.y + 5};
  if (handles) {
    DRECT w = view->ClientToWorldRect(square);
    PR_DrectNormalize(&w);
    const std::vector<DPOINT> p = controlPoints(this);
    for (size_t i = 0; i < p.size(); ++i)
      if (p[i].x >= w.x0 && p[i].x <= w.x1 && p[i].y >= w.y0 && p[i].y <= w.y1) return int(i) + 1;
  }
  return Intersects(view, square) ? 0 : -1;
}

bool CDrawObj::IsVisibleInView(const CDrawView* view) const {
  if (!view) return false;
  const VA_VOLPROJ* proj = view->GetProjection();
  if (!proj) return false;
  switch (kind) {
    case DRAWOBJ_RECT: return true;
    case DRAWOBJ_POLY: {
      const auto* p = static_cast<const CDrawPoly*>(this);
      if (view->IsFilmView(nullptr)) return false;
      for (int k = 0; k < 3; ++k)
        if (std::fabs(p->planePoint[k] - proj->rotation[k]) >= 1e-100) return false;
      return p->slice == proj->slice && view->showVector;
    }
    case DRAWOBJ_SET: {
      const auto* s = static_cast<const CDrawSet*>(this);
      if (s->IsVectorRoi()) return view->showVector != 0;
      return s->IsVolumeSet() ? view->showRaster != 0 : view->showVector != 0;
    }
    case DRAWOBJ_VOL: return view->showRaster != 0;
    default: return view->showVector != 0;
  }
}

void CDrawObj::GetWorldRect(DRECT* out) {
  ComputeBounds();
  if (kind == DRAWOBJ_RECT) {
    *out = static_cast<CDrawRect*>(this)->rect;
  } else if (kind == DRAWOBJ_VOL) {
    const CDrawSet* active = document ? document->GetActiveSet() : nullptr;
    *out = active ? active->position : position;
  } else {
    *out = position;
  }
}

bool CDrawObj::DisplayedBounds(const CDrawView* view, DRECT* out) const {
  switch (kind) {
    case DRAWOBJ_SET: {
      const auto* s = static_cast<const CDrawSet*>(this);
      if (!view || (!s->IsVolumeSet() && !s->IsVectorRoi())) return false;
      const VA_VOLPROJ* proj = view->GetProjection();
      const CDrawSet* base = s->IsVolumeSet() ? s : (document ? document->GetActiveSet() : nullptr);
      const CVol* vol = base ? base->GetBaseVol() : nullptr;
      if (!proj || !vol || !vol->frame) return false;
      return VA_VolDisplayActualWorldRect(&base->position, vol->Dim(), vol->Spc(), proj, out);
    }
    case DRAWOBJ_RECT: *out = static_cast<const CDrawRect*>(this)->rect; return true;
    case DRAWOBJ_POLY: static_cast<const CDrawPoly*>(this)->ComputePolyBounds(out); return true;
    default:
      if (isRectKind(kind)) {
        *out = static_cast<const CDrawRect*>(this)->rect;
        return true;
      }
      twk::showNamedError(L"CDrawObj::DisplayedBounds", L"Needs DisplayedBounds()");
      return false;
  }
}

void CDrawObj::Invalidate(bool redraw) {
  if (document && redraw) document->RedrawAllViews(false);
}
