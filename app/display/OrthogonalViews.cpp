// Conventional planes of a view and the orthogonal views of a document.
//
// A plane is named by its projection text ("AX R>L A>P": the plane, the patient ends of the
// screen's left and right edge, then of its top and bottom edge). The option "ProjViewConvention"
// says which text each plane should have (1 radiological, 2 neurological, 0 none); the views reach
// it by trying the current angles and then 64 quarter-turn angle triples in a fixed order.

#include <algorithm>
#include <cmath>
#include <vector>

#include "AppOptions.h"
#include "DocDraw.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "ViewGeometry.h"
#include "Vol.h"
#include "render/ProjectionGeometry.h"
#include "volops/VolumeOperations.h"

namespace {

constexpr int kCandidates = 64;

// Candidate i turns the plane by (i mod 4, (i div 4) mod 4, i div 16) quarter turns about x, y, z.
void setCandidateAngles(VA_VOLPROJ* proj, int i) {
  proj->rotation[0] = (i % 4) * 90.0;
  proj->rotation[1] = ((i / 4) % 4) * 90.0;
  proj->rotation[2] = (i / 16) * 90.0;
}

// The slice of the new plane through the centre of the shown slice of the old one, so that a turn
// keeps the place the user looks at (and never leaves the slice outside the new depth).
int sliceThroughSameCentre(const CVol* vol, const VA_VOLPROJ& from, const VA_VOLPROJ& to) {
  DIM3D fromDims, toDims;
  if (!VA_VolProjGridDimensions(vol->Dim(), vol->Spc(), &from, &fromDims) ||
      !VA_VolProjGridDimensions(vol->Dim(), vol->Spc(), &to, &toDims))
    return to.slice;
  const DPOINT3D centre{fromDims.w / 2.0, fromDims.h / 2.0, std::clamp(from.slice, 0, fromDims.d - 1) + 0.5};
  DPOINT3D inVolume, inNew;
  if (!VA_VolProjGridConversion(vol->Dim(), vol->Spc(), &from, &centre, &inVolume, 0) ||
      !VA_VolProjGridConversion(vol->Dim(), vol->Spc(), &to, &inVolume, &inNew, 1))
    return std::clamp(to.slice, 0, toDims.d - 1);
  return std::clamp(int(std::floor(inNew.z)), 0, toDims.d - 1);
}

}  // namespace

void CDrawView::ApplyProjectionConvention() {
  const int convention = TW_Options().projViewConvention;
  if (convention == VA_PROJ_CONVENTION_NONE) return;
  CDrawDoc* doc = GetDocument();
  CDrawSet* set = doc ? doc->GetActiveSet() : nullptr;
  const CVol* base = set ? set->GetBaseVol() : nullptr;
  if (!base || !base->frame || !base->IsValidOrientation()) return;
  VA_VOLPROJ* record = GetProjection();
  if (!record) return;
  DPOINT3D angles{record->rotation[0], record->rotation[1], record->rotation[2]};
  if (!VA_RotateToSpecifiedOrient(base, convention, base->GetMajorProjType(record), &angles, false)) return;
  if (angles.x == record->rotation[0] && angles.y == record->rotation[1] && angles.z == record->rotation[2]) return;
  VA_VOLPROJ candidate = *record;
  candidate.rotation[0] = angles.x;
  candidate.rotation[1] = angles.y;
  candidate.rotation[2] = angles.z;
  candidate.slice = sliceThroughSameCentre(base, *record, candidate);
  VA_CopyVOLPROJ(record, &candidate);
}

void CDrawView::OnCreateOrthogonalViews() {
  const wchar_t* fn = L"CDrawView::OnCreateOrthogonalViews";
  const VA_VOLPROJ* record = GetProjection();
  if (!record) {
    twk::doc::message(fn, L"Valid Projection is required");
    return;
  }
  CDrawDoc* doc = GetDocument();
  CDrawSet* set = GetActiveSet();
  const CVol* base = set && set->IsVolumeSet() ? set->GetBaseVol() : nullptr;
  if (!base || !base->frame) {
    twk::doc::message(fn, L"Volumetric Entity is required");
    return;
  }
  TW_VIEW_HOOKS& hooks = TW_ViewHooks();
  RECT2D frame{0, 0, 0, 0};
  const bool haveRect = hooks.frameRect && hooks.frameRect(this, &frame);
  double orientation[6];
  if (base->GetProjOrientation(record, orientation)) {
    // Without a convention the orthogonal views are laid out radiologically.
    int convention = TW_Options().projViewConvention;
    if (!VA_GetProjectionConventionName(convention, 1)) convention = VA_PROJ_CONVENTION_RADIOLOGICAL;
    const CString names[3] = {VA_GetProjectionConventionName(convention, 1),
                              VA_GetProjectionConventionName(convention, 2),
                              VA_GetProjectionConventionName(convention, 0)};
    // The texts the document's views show in the active set (new views join as they open).
    auto shown = [&](const CString& text) {
      CDrawSet* active = doc->GetActiveSet();
      const CVol* activeBase = active ? active->GetBaseVol() : nullptr;
      for (CDrawView* view : doc->Views()) {
        const VA_VOLPROJ* p = active ? active->FindViewProjection(view) : nullptr;
        CString viewText;
        if (p && activeBase && activeBase->GetProjText(p, &viewText) && viewText == text) return true;
      }
      return false;
    };
    VA_VOLPROJ candidate = *record;
    for (int i = 0; i < kCandidates; ++i) {
      setCandidateAngles(&candidate, i);
      CString text;
      if (!base->GetProjText(&candidate, &text)) break;
      if (std::find(std::begin(names), std::end(names), text) == std::end(names) || shown(text)) continue;
      DIM3D dims;
      if (!VA_VolProjGridDimensions(base->Dim(), base->Spc(), &candidate, &dims)) continue;
      candidate.slice = dims.d / 2;
      doc->CreateNewProjectionView(haveRect ? &frame : nullptr, &candidate);
    }
    if (hooks.tileWindows) hooks.tileWindows();
  }
  CDrawDoc::RedrawAllViews(doc, true);
  if (TW_DocDrawHooks().waitCursor) TW_DocDrawHooks().waitCursor(false);
}

CDrawView* CDrawDoc::CreateNewProjectionView(const RECT2D* frameRect, const VA_VOLPROJ* projection) {
  TW_VIEW_HOOKS& hooks = TW_ViewHooks();
  if (!hooks.createView) return nullptr;
  CDrawView* view = hooks.createView(this, frameRect);
  if (!view) return nullptr;
  CDrawSet* set = GetActiveSet();
  if (VA_VOLPROJ* record = set && projection ? set->FindViewProjection(view) : nullptr)
    VA_CopyVOLPROJ(record, projection);
  view->ZoomAll();
  if (hooks.showFitted) hooks.showFitted(view);
  return view;
}
