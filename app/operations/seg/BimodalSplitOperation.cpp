// "Threshold to ROI using Bimodal Histogram Split": the operand's histogram inside the ROI split in
// two modes, and the voxels below and above the split as two new ROI layers.
#include "BimodalSplitOperation.h"

#include <cmath>

#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "SegOperationEnd.h"
#include "RoiStat3D.h"
#include "TwkMem.h"
#include "Vol.h"
#include "VolProj.h"
#include "ops/VolumeOps.h"
#include "roi/RoiStatistics.h"
#include "roi/Thresholds.h"
#include "volume/Frame.h"

namespace twk::seg {

bool ThresholdBimodalHistSplit(CDrawSet& set, CDrawView* view) {
  RedrawAtEnd end{set.GetDocument()};
  CVol* vol = nullptr;
  CVol* roi = nullptr;
  if (!set.WorkVolNonROIandROI(false, false, true, &vol, &roi) || !vol || !roi) return false;
  const VA_VOLPROJ* projection = view ? set.FindViewProjection(view) : nullptr;
  const int t = std::clamp(projection ? projection->timeIndex : 0, 0, vol->T() - 1);
  if (!TW_DlgBimodalHistSplit(1, &g_BimodalSplitParms)) return false;
  double split = 0;
  if (!VA_VolSegHistSingleThreshold(1, &g_BimodalSplitParms, vol->frame, roi->frame, t, &split, true)) return false;
  // The low mask starts at the volume's minimum, so negative signal is not lost between the masks.
  double minimum = 0, maximum = 0;
  if (!VA_VolMinMax(vol->frame, t, nullptr, &minimum, &maximum)) return false;
  FramePtr low(VA_VolThreshold(vol->frame, t, std::min(minimum, split), split, true));
  FramePtr high(low ? VA_VolThreshold(vol->frame, t, split, 1e60, true) : nullptr);
  if (!low || !high) return false;
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  // The threshold in the names as a signed integer (negative splits keep their sign).
  const int named = int(split);
  const bool added =
      set.AddResultLayer(false, false, FmtStr(L"mask_lo_thr%d", named), vol, FrameHandOff(low), -1, 0, -1) &&
      set.AddResultLayer(false, false, FmtStr(L"mask_hi_thr%d", named), vol, FrameHandOff(high), -1, 0, -1);
  if (added) set.SetActiveLayerLast();
  return added;
}

}  // namespace twk::seg
