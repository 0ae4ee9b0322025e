// "Threshold to ROI using Bimodal Histogram Split": the operand's histogram inside the ROI split in
// two modes, and the voxels below and above the split as two new ROI layers.
#include <cmath>

#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "RoiStat3D.h"
#include "TwkMem.h"
#include "Vol.h"
#include "VolProj.h"
#include "ops/VolumeOps.h"
#include "roi/RoiStatistics.h"
#include "roi/Thresholds.h"
#include "volume/Frame.h"

bool CDrawSet::ThresholdBimodalHistSplit(CDrawSet* set, CDrawView* view) {
  if (!set) {
    twk::doc::message(nullptr, L"Operand is not present");
    return false;
  }
  return set->ThresholdBimodalHistSplit(view);
}

bool CDrawSet::ThresholdBimodalHistSplit(CDrawView* view) {
  struct RedrawAtEnd {
    CDrawDoc* doc;
    ~RedrawAtEnd() {
      if (doc) CDrawDoc::RedrawAllViews(doc, true);
    }
  } end{GetDocument()};
  CVol* vol = nullptr;
  CVol* roi = nullptr;
  if (!WorkVolNonROIandROI(false, false, true, &vol, &roi) || !vol || !roi) return false;
  const VA_VOLPROJ* projection = view ? FindViewProjection(view) : nullptr;
  const int t = std::clamp(projection ? projection->timeIndex : 0, 0, vol->T() - 1);
  if (!TW_DlgBimodalHistSplit(1, &g_BimodalSplitParms)) return false;
  double split = 0;
  if (!VA_VolSegHistSingleThreshold(1, &g_BimodalSplitParms, vol->frame, roi->frame, t, &split, true)) return false;
  // The low mask starts at the volume's minimum, so negative signal is not lost between the masks.
  double minimum = 0, maximum = 0;
  if (!VA_VolMinMax(vol->frame, t, nullptr, &minimum, &maximum)) return false;
  FRAME* low = VA_VolThreshold(vol->frame, t, std::min(minimum, split), split, true);
  FRAME* high = low ? VA_VolThreshold(vol->frame, t, split, 1e60, true) : nullptr;
  bool added = false;
  if (low && high) {
    if (CDrawDoc* doc = GetDocument()) doc->SetModifiedFlag();
    // The threshold in the names as a signed integer (negative splits keep their sign).
    const int named = int(split);
    added = AddResultLayer(false, false, FmtStr(L"mask_lo_thr%d", named), vol, &low, -1, 0, -1) &&
            AddResultLayer(false, false, FmtStr(L"mask_hi_thr%d", named), vol, &high, -1, 0, -1);
    if (added) SetActiveLayerLast();
  }
  PR_FrameDelete(&low);
  PR_FrameDelete(&high);
  return added;
}
