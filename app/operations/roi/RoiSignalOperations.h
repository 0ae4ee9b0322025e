#pragma once
// Operations that change or derive signal layers of a layer set with the help of an ROI. Each
// returns true on success.

class CDrawSet;
class CDrawView;

namespace twk::roiops {

// The voxels of the 3D signal operand within k standard deviations of the ROI's mean (k asked),
// kept inside the ROI, as a new layer.
bool BandOfAverageSignal(CDrawSet& set);
// The " Linear Converison" dialog's coefficient, bias and limits applied to the signal operand
// in place (over the optional ROI), with an undo record.
bool LinearConversionOverROI(CDrawSet& set);
// The signal operand divided by a coefficient or z-scored over the ROI at the view's time point
// ("Volume Normalization" dialog), as a new active layer "normalized".
bool NormalizeByROI(CDrawSet& set, CDrawView* view);
// The signal operand cleared outside the ROI to a value asked (NAN: void), with an undo record;
// the ROI is unmarked.
bool VolumeClipByRoi(CDrawSet& set);
// The active layer's voxels inverted in place, with an undo record.
bool InvertActiveLayer(CDrawSet& set);
// The nodule volume of the ROI in the 3D signal operand ("Nodule Volume Measurement" dialog):
// basic or iterative; the report shown and its values copied.
bool NodVolume(CDrawSet& set, bool basic);

}  // namespace twk::roiops
