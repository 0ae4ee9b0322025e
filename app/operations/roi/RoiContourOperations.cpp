// ROI operations on slice contours: hulls, interslice morphs, salt-and-pepper cleaning and
// cylinders. Each pushes an undo record of the ROI layer before it changes the voxels.
#include <cstring>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "RoiContourOperations.h"
#include "RoiDialogs.h"
#include "RoiOperationFrame.h"
#include "TwkMem.h"
#include "Vol.h"
#include "roi/RoiShape.h"
#include "volume/Frame.h"

namespace twk::roiops {

namespace {

// Steps 1 to 4 of the common frame and the undo record; the ROI or null.
CVol* beginInPlace(CDrawSet& set) {
  CVol* roi = RoiOperand(&set);
  if (!roi) return nullptr;
  CDrawVol* layer = set.GetLayerOfVol(roi);
  ResetLayerCache(layer);
  if (CDrawDoc* doc = set.GetDocument()) {
    doc->SetModifiedFlag();
    doc->PushUndoForLayer(layer);
  }
  return roi;
}

// Writes a new frame of the ROI's shape into the ROI's own frame (which keeps its address, so the
// undo record pushed before still belongs to it); false for null or another shape.
bool replaceFrame(CVol* roi, FramePtr frame) {
  if (!frame) return false;
  const bool fits = frame->type == roi->frame->type && frame->dim.w == roi->W() && frame->dim.h == roi->H() &&
                    frame->dim.d == roi->D() && frame->dim.t == roi->T();
  if (fits) std::memcpy(roi->frame->data, frame->data, PR_FrameMemSize(frame.get()));
  return fits;
}

}  // namespace

bool RoiMakeConvex2D(CDrawSet& set) {
  OperationEnd end(set.GetDocument(), false);
  CVol* roi = beginInPlace(set);
  return roi && replaceFrame(roi, FramePtr(VA_RoiConvexHull2D(roi->frame, true)));
}

bool RoiFillContoursArcMorph(CDrawSet& set) {
  OperationEnd end(set.GetDocument(), false);
  CVol* roi = beginInPlace(set);
  return roi && replaceFrame(roi, FramePtr(VA_RoiIntesliceArcMorph(roi->frame, true, true)));
}

bool RoiMorphConvex(CDrawSet& set, bool fillFirst) {
  OperationEnd end(set.GetDocument(), false);
  CVol* roi = beginInPlace(set);
  return roi && VA_RoiIntersliceMorph(roi->frame, fillFirst, true);
}

bool RoiRemoveSaltPepper(CDrawSet& set) {
  OperationEnd end(set.GetDocument(), false);
  CVol* roi = RoiOperand(&set);
  if (!roi) return false;
  CDrawVol* layer = set.GetLayerOfVol(roi);
  // The cache reset comes before the dialog, also when it is cancelled.
  ResetLayerCache(layer);
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  if (!TW_DlgSaltPepper()) return false;
  if (CDrawDoc* doc = set.GetDocument()) doc->PushUndoForLayer(layer);
  return replaceFrame(roi, FramePtr(VA_FilterSaltPepper(&g_SaltPepperParms, roi->frame, true)));
}

bool RoiUnionCylinder2D(CDrawSet& set) {
  OperationEnd end(set.GetDocument(), false);
  CVol* roi = beginInPlace(set);
  return roi && VA_FormCylinderFrom2Dcontours(roi->frame, 0, true);
}

bool RoiIntersectCylinder2D(CDrawSet& set) {
  OperationEnd end(set.GetDocument(), false);
  CVol* roi = beginInPlace(set);
  return roi && VA_FormCylinderFrom2Dcontours(roi->frame, 1, true);
}

}  // namespace twk::roiops
