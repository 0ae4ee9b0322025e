#pragma once
// ROI operations that act on the view and the vector ROIs of a layer set. Each returns true on
// success.

class CDrawSet;
class CDrawView;

namespace twk::roiops {

// The view zoomed onto the operand ROI's box at the view's time point, at its middle slice; only
// this view is redrawn.
bool RoiOptimalZoom(CDrawSet& set, CDrawView* view);
// A vector ROI "cc_<c>_t<t>" for each connected component of the operand ROI at every time point
// that has none of the same box yet; the view moves to the largest new one.
bool RoiEncloseCCByVectRois(CDrawSet& set, CDrawView* view);

}  // namespace twk::roiops
