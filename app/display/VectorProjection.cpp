// Vector ROIs in a view: the per-slice rectangles of each box on the slices the view shows
// (CDrawDoc::ProjectHighObjects, before every draw), and the edit of a box's cross-section when one
// of those rectangles is moved or sized (CDrawSet::ModifyHighObjCrossectionXY).

#include <algorithm>
#include <cmath>

#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawShapes.h"
#include "DrawView.h"
#include "HighObj.h"
#include "TwkUi.h"
#include "Vol.h"
#include "VolProj.h"
#include "render/ProjectionGeometry.h"
#include "volume/VolumeProjection.h"

namespace {

// The view's record in the active set of the view's document, with the message when there is none.
const VA_VOLPROJ* recordOf(const CDrawView* view, const wchar_t* fn) {
  const VA_VOLPROJ* p = view->GetProjection();
  if (!p) twk::doc::message(fn, L"Valid Projection is required");
  return p;
}

}  // namespace

bool CDrawDoc::ProjectHighObjects(CDrawView* view) {
  const wchar_t* fn = L"CDrawDoc::ProjectHighObjects";
  if (!view) {
    twk::doc::message(fn, L"Existing view is required");
    return false;
  }
  if (!view->showVector) return true;
  for (CDrawObj* obj : objects) {
    if (obj->kind != DRAWOBJ_SET) continue;
    auto* set = static_cast<CDrawSet*>(obj);
    if (!set->IsVectorRoi() || !set->vroi) continue;
    while (set->NumEntries() > 0) set->RemoveLayer(set->NumEntries() - 1, true);
    const HIGHOBJ& h = *set->vroi;
    const int now = view->CurrentTime();
    if (!set->marked || now < h.t0 || now > h.t1) continue;
    const VA_VOLPROJ* p = recordOf(view, fn);
    if (!p) return false;
    if (!VA_IsOrthoProj(p)) continue;
    CDrawSet* owner = h.owner;
    const CVol* vol = owner ? owner->GetActiveVol() : nullptr;
    if (!vol || !vol->frame) continue;
    DIM3D pd;
    DRECT3D box{h.x0, h.y0, h.z0, h.x1, h.y1, h.z1}, pb;
    if (!VA_VolProjDimensions(vol->Dim(), vol->Spc(), p, &pd) ||
        !VA_VolBoxProjConversion(vol->Dim(), vol->Spc(), p, &box, &pb, 1))
      continue;
    // Depth bounds a hair off a slice border belong to that border.
    if (pb.z0 < std::ceil(pb.z0) && std::ceil(pb.z0) - pb.z0 < 0.0001) pb.z0 = std::ceil(pb.z0);
    if (pb.z1 > std::floor(pb.z1) && pb.z1 - std::floor(pb.z1) < 0.0001) pb.z1 = std::floor(pb.z1);
    int first = 0, last = -1;
    if (!VA_DetermineVisibleSlices(pb.z0, pb.z1, pd.d, &first, &last)) continue;
    // Outside the film view only the shown slice is visible.
    if (!VA_IsFilmView(vol->Dim(), vol->Spc(), p)) {
      first = std::max(first, p->slice);
      last = std::min(last, p->slice);
    }
    for (int s = first; s <= last; ++s) {
      const DRECT3D slab{pb.x0, pb.y0, double(s), pb.x1, pb.y1, double(s)};
      DRECT world;
      if (!owner->VolBoxToWorldRect(view, &slab, s, &world)) return false;
      if (h.shape != HIGHOBJ_SHAPE_BOX) continue;
      auto* r = new CDrawRect(DRAWOBJ_RECT, world);
      r->marked = 1;
      r->opacity = 100;
      r->style = set->style;
      r->ComputeBounds();
      set->AppendLayer(r);
    }
    set->ComputeBounds();
  }
  return true;
}

bool CDrawSet::ModifyHighObjCrossectionXY(CDrawView* view, const double rect[4]) {
  const wchar_t* fn = L"CDrawSet::ModifyHighObjCrossectionXY";
  if (!view || !rect || !vroi) return false;
  const VA_VOLPROJ* p = recordOf(view, fn);
  if (!p) return false;
  const CDrawSet* owner = vroi->owner;
  const CVol* vol = owner ? owner->GetActiveVol() : nullptr;
  if (!vol || !vol->frame) return false;
  const DRECT world{std::min(rect[0], rect[2]), std::min(rect[1], rect[3]), std::max(rect[0], rect[2]),
                    std::max(rect[1], rect[3])};
  DRECT3D edited;
  DIM3D pd;
  if (!owner->GetInVolCoords(view, &world, nullptr, nullptr, &edited) ||
      !VA_VolProjDimensions(vol->Dim(), vol->Spc(), p, &pd))
    return false;
  edited.x0 = std::clamp(edited.x0, 0.0, double(pd.w));
  edited.x1 = std::clamp(edited.x1, 0.0, double(pd.w));
  edited.y0 = std::clamp(edited.y0, 0.0, double(pd.h));
  edited.y1 = std::clamp(edited.y1, 0.0, double(pd.h));
  // The box keeps its extent along the view's axis; its in-plane bounds become the edited ones.
  DRECT3D box{vroi->x0, vroi->y0, vroi->z0, vroi->x1, vroi->y1, vroi->z1}, pb;
  if (!VA_VolBoxProjConversion(vol->Dim(), vol->Spc(), p, &box, &pb, 1)) return false;
  pb.x0 = edited.x0, pb.x1 = edited.x1, pb.y0 = edited.y0, pb.y1 = edited.y1;
  if (!VA_VolBoxProjConversion(vol->Dim(), vol->Spc(), p, &pb, &box, 0)) return false;
  vroi->x0 = box.x0, vroi->y0 = box.y0, vroi->z0 = box.z0;
  vroi->x1 = box.x1, vroi->y1 = box.y1, vroi->z1 = box.z1;
  if (document) document->SetModifiedFlag();
  return true;
}
