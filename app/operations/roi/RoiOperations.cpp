// ROI operations that change the ROI layer of the active set in place, and the frame that the ROI
// operations share (operand checks, cache reset, redraw at the end).
#include <cmath>
#include <vector>

#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "RoiDialogs.h"
#include "RoiOperationFrame.h"
#include "RoiOperations.h"
#include "RoiRecords.h"
#include "TwkMem.h"
#include "Vol.h"
#include "HighObj.h"
#include "render/RectHelpers.h"
#include "roi/EdgeWave.h"
#include "roi/RoiComponents.h"
#include "roi/RoiDistance.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"

ROIPEELGROW g_RoiPeelParms{1.0, 1, 0, 0, 1};
ROIPEELGROW g_RoiGrowParms{1.0, 1, 0, 1, 1};

namespace twk::roiops {

void Named(const wchar_t* operation, const CString& text) { twk::doc::message(operation, text); }

CVol* RoiOperand(CDrawSet* set, bool quietWithoutSet) {
  if (!set) {
    if (!quietWithoutSet) twk::doc::message(nullptr, L"Operand is not present");
    return nullptr;
  }
  if (!set->IsVolumeSet()) {
    twk::doc::message(nullptr, L"Volumetric Entity is required");
    return nullptr;
  }
  int count = 0;
  CVol* roi = set->WorkVolROI(&count);
  if (count > 1) {
    twk::doc::message(nullptr, TW_AMBIGUOUS_LAYERS);
    return nullptr;
  }
  if (!roi) twk::doc::message(nullptr, L"ROI is not present or enabled");
  return roi;
}

void ResetLayerCache(CDrawVol* layer) {
  if (!layer) return;
  for (double& v : layer->unsetValues) v = 1e60;
  layer->reserved = 0;
  layer->FreeViewCaches();
}

OperationEnd::~OperationEnd() {
  if (doc_) CDrawDoc::RedrawAllViews(doc_, refreshPanel_);
}

namespace {

// The seed boxes of the set: the boxes of the document's vector ROIs that belong to it, x and y
// ordered and clipped to the slice (0, 0)-(width, height), z as stored.
std::vector<DRECT3D> seedBoxes(const CDrawSet& set, int width, int height) {
  std::vector<DRECT3D> boxes;
  const CDrawDoc* doc = set.GetDocument();
  if (!doc) return boxes;
  for (const CDrawObj* obj : doc->objects) {
    if (!obj || obj->Kind() != DRAWOBJ_SET) continue;
    const HIGHOBJ* record = static_cast<const CDrawSet*>(obj)->vroi;
    if (!record || record->kind != HIGHOBJ_VECTOR_ROI || record->owner != &set) continue;
    DRECT xy{record->x0, record->y0, record->x1, record->y1};
    PR_DrectNormalize(&xy);
    const DRECT slice{0, 0, double(width), double(height)};
    DRECT clipped;
    if (!PR_IntersectDrects(&xy, &slice, &clipped)) clipped = DRECT{0, 0, 0, 0};
    boxes.push_back(DRECT3D{clipped.x0, clipped.y0, record->z0, clipped.x1, clipped.y1, record->z1});
  }
  return boxes;
}

// "Connected Component by Seed ": EdgeWave's binary branch keeps the ROI components that the
// set's vector ROIs touch.
FRAME* componentsBySeeds(const CDrawSet& set, const FRAME* work) {
  const std::vector<DRECT3D> seeds = seedBoxes(set, work->dim.w, work->dim.h);
  if (seeds.empty()) {
    Named(L"CDrawSet::RoiExtractMaxCC", L"At least one seed is expected");
    return nullptr;
  }
  VA_EW record;
  record.mode3D = 1;
  record.distanceUnits = 0;
  record.peel = 0.0;
  record.grow = 0.0;
  record.competitiveGrowth = 1;
  record.connectedComponents = 2;
  record.strictCoreSurface = 1;
  record.useEdges = 0;
  record.subvoxelLevel = 1;
  record.outputBinaryRoi = 1;
  record.gaussianDownscale = 1;
  return VA_EdgeWave(&record, work, nullptr, seeds.data(), int(seeds.size()), nullptr, nullptr, true);
}

}  // namespace

bool RoiExtractMaxCC(CDrawSet& set, CDrawView* view, bool twoD, bool bySeeds) {
  const wchar_t* operation = L"CDrawSet::RoiExtractMaxCC";
  OperationEnd end(set.GetDocument(), true);
  CVol* roi = RoiOperand(&set);
  if (!roi) return false;
  const VA_VOLPROJ* projection = view ? set.FindViewProjection(view) : nullptr;
  if (!projection) {
    Named(operation, L"Valid Projection is required");
    return false;
  }
  const int t = roi->Is4D() ? projection->timeIndex : 0;
  FramePtr work(roi->Is4D() ? VA_VolCropTimepoint(roi->frame, t, true) : VA_VolClone(roi->frame));
  if (!work) return false;
  CDrawVol* layer = set.GetLayerOfVol(roi);
  if (CDrawDoc* doc = set.GetDocument()) {
    doc->SetModifiedFlag();
    doc->PushUndoForLayer(layer);
  }
  FramePtr result(bySeeds ? componentsBySeeds(set, work.get()) : VA_RoiExtractMaxCC(work.get(), 0, 26, twoD, true));
  if (!result || VA_CheckRoiIsEmpty(true, result.get(), nullptr, nullptr)) return false;
  const RECT3D whole{0, 0, 0, roi->W() - 1, roi->H() - 1, roi->D() - 1};
  ResetLayerCache(layer);
  return VA_VolSetBox(roi->frame, t, &whole, result.get(), 0, &whole);
}

bool RoiFillContours2D(CDrawSet& set) {
  OperationEnd end(set.GetDocument(), false);
  CVol* roi = RoiOperand(&set);
  if (!roi) return false;
  CDrawVol* layer = set.GetLayerOfVol(roi);
  ResetLayerCache(layer);
  if (CDrawDoc* doc = set.GetDocument()) {
    doc->SetModifiedFlag();
    // The contours are changed for good otherwise: an undo record keeps them.
    doc->PushUndoForLayer(layer);
  }
  return VA_FillSliceContours(roi->frame, true);
}

bool RoiPeelGrow(CDrawSet& set, bool showDialog, ROIPEELGROW& record) {
  OperationEnd end(set.GetDocument(), false);
  CVol* operand = RoiOperand(&set);
  if (!operand) return false;
  if (showDialog && !TW_DlgRoiInflate(&record)) return false;
  CDrawDoc* doc = set.GetDocument();
  if (doc) doc->SetModifiedFlag();
  const SPC* spacing = record.useVoxels ? nullptr : operand->Spc();
  const double r = std::fabs(record.radius);
  for (int i = 0; i < set.NumLayers(); ++i) {
    CDrawVol* layer = set.GetLayer(i);
    CVol* vol = layer ? layer->GetVol() : nullptr;
    if (!vol || !vol->frame || !vol->IsROI()) continue;
    if (!record.allLayers && vol != operand) continue;
    ResetLayerCache(layer);
    if (doc) {
      UNDOREC* undo = VA_CompleteUndoRec(&layer->filter, vol->frame);
      if (undo) {
        undo->owner = layer->LayerId();
        doc->PushUndo(&undo);
        delete undo;  // left only when the push failed
      }
    }
    const bool ok = record.grow ? VA_RoiInflate(vol->frame, spacing, record.mode3D != 0, true, r, r, r, true)
                                : VA_RoiDeflate(vol->frame, spacing, record.mode3D != 0, true, r, r, r, true);
    if (!ok) return false;
  }
  return true;
}

}  // namespace twk::roiops
