// The ROI statistics command (F3/F4 in a view, the Layers panel's "ROI Stats 3D"/"ROI Stats 4D"):
// the operand's statistics over the selected vector ROI, the operand ROI or the whole volume, in
// the 3D ROI statistics dialog (with the ROI layer's last histogram settings) or the 4D one.
#include <algorithm>

#include "BoxHelpers.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "HighObj.h"
#include "RoiOperationFrame.h"
#include "RoiStat3D.h"
#include "RoiStatisticsOperation.h"
#include "SplitThreshold.h"
#include "Vol.h"
#include "paths/FilePaths.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"

namespace twk::roiops {

namespace {

// The selected vector ROI of the set as an ROI of the operand's dimensions, its box set in the
// vector ROI's time points; null when the document does not have exactly one selected vector ROI
// of this set.
FramePtr selectedVectorRoi(const CDrawSet& set, const CVol* operand, CString* name, int* colour) {
  CDrawDoc* doc = set.GetDocument();
  if (!doc || doc->selection.size() != 1) return nullptr;
  auto* object = dynamic_cast<CDrawSet*>(doc->selection[0]);
  if (!object || !object->IsVectorRoi() || !object->vroi || object->vroi->owner != &set) return nullptr;
  const HIGHOBJ& v = *object->vroi;
  const DIM3D dims = operand->frame->dim;
  FramePtr roi(VA_VolCreateUniform(FRM_ROI, dims, 0.0));
  if (!roi) return nullptr;
  const DRECT3D box{v.x0, v.y0, v.z0, v.x1, v.y1, v.z1};
  RECT3D voxels;
  if (PR_DRect3DToRect3D(&box, &voxels, &dims))
    for (int t = std::max(0, v.t0); t <= v.t1 && t < dims.t; ++t) VA_VolFillBox(roi.get(), t, &voxels, true, 1.0);
  *name = L"VROI " + CString::fromUtf8(v.label);
  *colour = int(object->style.lineColor);
  return roi;
}

}  // namespace

bool RoiStatistics(CDrawSet& set, CDrawView* view, int mode, bool silent, RoiStat4DDialog dialog4D) {
  OperationEnd end(set.GetDocument(), false);
  // The 4D statistics take the set's 4D signal layer; the 3D ones the signal operand, else the
  // first layer (which may be an ROI itself).
  CVol* operand = nullptr;
  if (mode == 2) {
    operand = set.WorkVolNonROI4D();
  } else {
    bool ambiguous = false;
    operand = set.WorkVolNonRoi(&ambiguous);
    if (!operand && !ambiguous && set.NumLayers() > 0) operand = set.GetLayerVol(0);
  }
  if (!operand || !operand->frame) return false;

  CString name;
  int colour = 0x00FF00;
  // The ROI frame made here (rasterised, copied or uniform) is held for the dialog's run.
  FramePtr made = selectedVectorRoi(set, operand, &name, &colour);
  const FRAME* roi = made.get();
  if (!roi) {
    int count = 0;
    CVol* roiVol = set.WorkVolROI(&count);
    if (roiVol == operand) {
      made.reset(VA_VolClone(roiVol->frame));
      roi = made.get();
      name = roiVol->name;
    } else if (roiVol) {
      roi = roiVol->frame;
      name = PR_GetFileTitle(roiVol->name);
      if (CDrawVol* layer = set.GetLayerOfVol(roiVol)) colour = layer->filter.roiColor;
    } else {
      const DIM3D d = operand->frame->dim;
      made.reset(VA_VolCreateUniform(FRM_ROI, DIM3D{d.w, d.h, d.d, 1}, 1.0));
      roi = made.get();
      name = L"whole volume";
    }
    if (!roi) return false;
  }

  if (mode == 2) return dialog4D && dialog4D(silent, view, &set, operand, roi, COLORREF(colour), name);

  // The histogram settings kept on the ROI layer belong to one operand; a fresh record otherwise.
  ROISTATPRESET fresh;
  ROISTATPRESET* preset = &fresh;
  CDrawVol* operandLayer = set.GetLayerOfVol(operand);
  if (CDrawVol* roiLayer = set.FindLayerByFrame(roi)) {
    preset = &roiLayer->roiStats;
    const uint64_t owner = operandLayer ? operandLayer->LayerId() : 0;
    if (preset->owner != owner) preset->Reset(owner);
  }
  const int t = view ? view->CurrentTime() : 0;
  return TW_DlgRoiStat3D(operand, t, roi, name, colour, preset, nullptr, silent);
}

bool RoiSplitUsingHist(CDrawSet& set, CDrawView* view) {
  CVol *vol = nullptr, *roi = nullptr;
  if (!set.WorkVolNonROIandROI(false, false, false, &vol, &roi) || !vol) return false;
  CString name;
  int colour = 0xFF0000;
  if (roi) {
    name = PR_GetFileTitle(roi->name);
    if (CDrawVol* layer = set.GetLayerOfVol(roi)) colour = layer->filter.roiColor;
  }
  // The threshold is picked on the histogram: the segmentation run in the dialog gives it.
  double threshold = 1e60;
  const int t = view ? view->CurrentTime() : 0;
  if (!TW_DlgRoiStat3D(vol, t, roi ? roi->frame : nullptr, name, colour, nullptr, &threshold, false)) return false;
  if (threshold >= 1e60) {
    twk::doc::message(L"CDrawSet::RoiSplitUsingHist", L"Threshold is not specified");
    return false;
  }
  // Mode 0: the record's value is the threshold the split starts from.
  VA_SPLITTHRVALUE split;
  split.mode = 0;
  split.value = threshold;
  return TW_SplitByThreshold(&set, nullptr, 0, &split, L"A", L"B", 0xFFFFFFFFu, 0xFFFFFFFFu, view);
}

}  // namespace twk::roiops
