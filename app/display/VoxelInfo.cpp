// The voxel information of the status bar: what lies under the mouse pointer (value, coordinates,
// time point, layer, ROI and vector ROI), the position the linked cursor follows, and the curve
// panels that follow the pointer.

#include <climits>
#include <cmath>

#include "BoxHelpers.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "HighObj.h"
#include "TwkMem.h"
#include "Vol.h"
#include "ViewGeometry.h"
#include "ViewInput.h"
#include "paths/FilePaths.h"
#include "render/ProjectionGeometry.h"
#include "volume/VolumeProjection.h"
#include "volume/VoxelAccess.h"

CString TW_VoxelValueText(int frameType, double value, const CString& secondText) {
  CString text;
  if (value == VOID_VALUE) return L"VOID";
  switch (frameType) {
    case FRM_REAL: {
      const double rounded = std::floor(value + 0.5);
      // An integral value beyond the int range keeps the exponent form.
      if (value == rounded && rounded >= double(INT_MIN) && rounded <= double(INT_MAX))
        text.Format(L"Real=%i (%s)", int(rounded), secondText.GetString());
      else
        text.Format(L"Real=%e (%s)", value, secondText.GetString());
      break;
    }
    case FRM_ROI: text = value != 0 ? L"ROI=ON" : L"ROI=OFF"; break;
    default: text.Format(L"SI=%u", unsigned(std::floor(value + 0.5))); break;
  }
  return text;
}

namespace {

void updateCurvePanels(CDrawView* view, CDrawSet* set, const RECT3D* voxel) {
  if (TW_ViewHooks().updateCurvePanels) TW_ViewHooks().updateCurvePanels(view, set, voxel);
}

void sendStatus(const CString& text) { PR_SendSingleMessage(text.GetString(), false); }

}  // namespace

void CDrawView::DisplayVoxelInfo(CDrawSet* set, bool readValue) {
  CVol* vol = CDrawSet::WorkVolAny(set);
  POINT2D point;
  if (!vol || !vol->frame || !GetCursorClientPos(&point)) return;
  const DPOINT w = ClientToWorldPoint(point);
  const DRECT r{w.x, w.y, w.x, w.y};
  int time = 0;
  DRECT3D vb, pb;
  RECT3D voxel;
  // A pointer beside the volume (no tile of the film, or a voxel outside the frame) is out of bounds.
  if (!set->GetInVolCoords(this, &r, &time, &vb, &pb) || !PR_DRect3DToRect3D(&vb, &voxel, vol->Dim())) {
    sendStatus(L"Out of Volume Bounds");
    updateCurvePanels(this, set, nullptr);
    return;
  }
  double x = (vb.x0 + vb.x1) / 2, y = (vb.y0 + vb.y1) / 2, z = (vb.z0 + vb.z1) / 2;
  const VA_VOLPROJ* p = GetProjection();
  if (!p) {
    twk::doc::message(L"CDrawView::DisplayVoxelInfo", L"Valid Projection is required");
    return;
  }
  const bool unrotated = TW_IsProjUnrotated(p);
  if (p->projType == 0 && VA_IsOrthoProj(p)) z = std::floor(z);

  double value = VOID_VALUE;
  CString roiTag;
  if (readValue) {
    value = twk::voxelValue(vol->frame, voxel.x0, voxel.y0, voxel.z0, vol->effT(time));
    if (set->NumMarkedRoiLayers() > 1) {
      int containing = 0;
      CString title;
      for (int i = 0; i < set->NumLayers(); ++i) {
        CDrawVol* layer = set->GetLayer(i);
        const CVol* roi = layer ? layer->vol : nullptr;
        if (!layer || !layer->IsMarked() || !roi || !roi->frame || !roi->IsROI()) continue;
        if (voxel.x0 >= roi->W() || voxel.y0 >= roi->H() || voxel.z0 >= roi->D()) return;
        if (twk::roiBit(roi->frame, voxel.x0, voxel.y0, voxel.z0, roi->effT(time))) {
          ++containing;
          title = PR_GetFileTitle(roi->name.GetString());
        }
      }
      if (containing == 1) roiTag.Format(L"(%s)", title.GetString());
    }
  }

  CString coords;
  if (unrotated)
    coords.Format(L", xyz=(%4.3f, %4.3f, %u) ", x, y, unsigned(std::floor(z + 0.5) + 1));
  else
    coords.Format(L", xyz=(%4.3f, %4.3f, %4.3f)", x, y, z + 1);

  if (CDrawDoc* doc = GetDocument()) {
    doc->lastCursor.volume = DPOINT3D{x, y, z};
    doc->lastCursor.time = time;
    doc->lastCursor.projection = DPOINT3D{pb.x0, pb.y0, pb.z0};
    doc->lastCursor.slice = time;
  }

  CString text;
  if (value != VOID_VALUE && vol->IsINT() && PR_GetFileTitle(vol->name.GetString()) == L"CerebrA_atlas" &&
      TW_ViewHooks().atlasRegionName) {
    text = TW_VoxelValueText(FRM_INT, value, vol->unit) + L" " + TW_ViewHooks().atlasRegionName(int(std::floor(value + 0.5)));
  } else {
    text = TW_VoxelValueText(vol->Type(), value, vol->unit);
  }
  text += coords;

  const CVol* timed = vol->T() >= 2 ? vol : set->GetBaseVol();
  if (timed && timed->frame && timed->T() >= 2) {
    int dyn = 0;
    CString name, unit;
    double* values = nullptr;
    if (!timed->TimeInxToDynInx(time, &dyn) || !timed->GetDynamicDimension(&name, &unit, &values) || !values ||
        dyn < 0 || dyn >= timed->T()) {
      pf_free(&values);
      return;
    }
    double shown = values[dyn];
    if (name == L"Time") shown -= values[0];
    pf_free(&values);
    if (text.GetLength() > 0 && text[text.GetLength() - 1] == L' ') text = text.Left(text.GetLength() - 1);
    text.AppendFormat(L", %s=%3.9lf %s (%u)", name.GetString(), shown, unit.GetString(), unsigned(dyn + 1));
  }
  if (!vol->name.IsEmpty()) text.AppendFormat(L" (%s)", PR_GetFileTitle(vol->name.GetString()).GetString());
  text += roiTag;
  if (CDrawDoc* doc = GetDocument(); doc && doc->selection.size() == 1 && doc->selection.front()->kind == DRAWOBJ_SET) {
    const auto* roi = static_cast<const CDrawSet*>(doc->selection.front());
    if (roi->IsVectorRoi() && (!set || roi->vroi->owner == set))
      text.AppendFormat(L" vroi(%S)", roi->vroi->label);
  }
  sendStatus(text);
  updateCurvePanels(this, set, &voxel);
}
