#pragma once
// "Threshold to ROI using Bimodal Histogram Split": the operand's histogram inside the ROI split in
// two modes at the view's time point, and the voxels below and above the split as two new ROI
// layers, "mask_lo_thr%d" (from the volume's minimum up to the threshold) and "mask_hi_thr%d" (from
// the threshold up).

class CDrawSet;
class CDrawView;

namespace twk::seg {

bool ThresholdBimodalHistSplit(CDrawSet& set, CDrawView* view);

}  // namespace twk::seg
