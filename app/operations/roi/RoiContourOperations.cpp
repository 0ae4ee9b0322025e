// ROI operations on slice contours: hulls, interslice morphs, salt-and-pepper cleaning and
// cylinders. Each pushes an undo record of the ROI layer before it changes the voxels.
#include <cstring>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "RoiDialogs.h"
#include "RoiOperationFrame.h"
#include "TwkMem.h"
#include "Vol.h"
#include "roi/RoiShape.h"
#include "volume/Frame.h"

using namespace twk::roiops;

namespace {

// Steps 1 to 4 of the common frame and the undo record; the ROI or null.
CVol* beginInPlace(CDrawSet* set) {
  CVol* roi = RoiOperand(set);
  if (!roi) return nullptr;
  CDrawVol* layer = set->GetLayerOfVol(roi);
  ResetLayerCache(layer);
  if (CDrawDoc* doc = set->GetDocument()) {
    doc->SetModifiedFlag();
    doc->PushUndoForLayer(layer);
  }
  return roi;
}

// Writes a new frame of the ROI's shape into the ROI's own frame (which keeps its address, so the
// undo record pushed before still belongs to it) and frees it; false for null.
bool replaceFrame(CVol* roi, FRAME* frame) {
  if (!frame) return false;
  const bool fits = frame->type == roi->frame->type && frame->dim.w == roi->W() && frame->dim.h == roi->H() &&
                    frame->dim.d == roi->D() && frame->dim.t == roi->T();
  if (fits) std::memcpy(roi->frame->data, frame->data, PR_FrameMemSize(frame));
  PR_FrameDelete(&frame);
  return fits;
}

}  // namespace

bool CDrawSet::RoiMakeConvex2D(CDrawSet* set) {
  OperationEnd end(set ? set->GetDocument() : nullptr, false);
  CVol* roi = beginInPlace(set);
  return roi && replaceFrame(roi, VA_RoiConvexHull2D(roi->frame, true));
}
bool CDrawSet::RoiMakeConvex2D() { return RoiMakeConvex2D(this); }

bool CDrawSet::RoiFillContoursArcMorph(CDrawSet* set) {
  OperationEnd end(set ? set->GetDocument() : nullptr, false);
  CVol* roi = beginInPlace(set);
  return roi && replaceFrame(roi, VA_RoiIntesliceArcMorph(roi->frame, true, true));
}
bool CDrawSet::RoiFillContoursArcMorph() { return RoiFillContoursArcMorph(this); }

bool CDrawSet::RoiMorphConvex(CDrawSet* set, bool fillFirst) {
  OperationEnd end(set ? set->GetDocument() : nullptr, false);
  CVol* roi = beginInPlace(set);
  return roi && VA_RoiIntersliceMorph(roi->frame, fillFirst, true);
}
bool CDrawSet::RoiMorphConvex(bool fillFirst) { return RoiMorphConvex(this, fillFirst); }

bool CDrawSet::RoiRemoveSaltPepper(CDrawSet* set) {
  OperationEnd end(set ? set->GetDocument() : nullptr, false);
  CVol* roi = RoiOperand(set);
  if (!roi) return false;
  CDrawVol* layer = set->GetLayerOfVol(roi);
  // The cache reset comes before the dialog, also when it is cancelled.
  ResetLayerCache(layer);
  if (CDrawDoc* doc = set->GetDocument()) doc->SetModifiedFlag();
  if (!TW_DlgSaltPepper()) return false;
  if (CDrawDoc* doc = set->GetDocument()) doc->PushUndoForLayer(layer);
  return replaceFrame(roi, VA_FilterSaltPepper(&g_SaltPepperParms, roi->frame, true));
}
bool CDrawSet::RoiRemoveSaltPepper() { return RoiRemoveSaltPepper(this); }

bool CDrawSet::RoiUnionCylinder2D(CDrawSet* set) {
  OperationEnd end(set ? set->GetDocument() : nullptr, false);
  CVol* roi = beginInPlace(set);
  return roi && VA_FormCylinderFrom2Dcontours(roi->frame, 0, true);
}
bool CDrawSet::RoiUnionCylinder2D() { return RoiUnionCylinder2D(this); }

bool CDrawSet::RoiIntersectCylinder2D(CDrawSet* set) {
  OperationEnd end(set ? set->GetDocument() : nullptr, false);
  CVol* roi = beginInPlace(set);
  return roi && VA_FormCylinderFrom2Dcontours(roi->frame, 1, true);
}
bool CDrawSet::RoiIntersectCylinder2D() { return RoiIntersectCylinder2D(this); }
