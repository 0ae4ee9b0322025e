#pragma once
// ROI shape operations of a layer set: clearing slabs of slices, moving the external surface,
// concentric zones between two ROIs, closing broken contours and the body mask of a volume. Each
// returns true on success.

class CDrawSet;
class CDrawView;
struct VA_BODYFORG;

namespace twk::roiops {

// The ROI cleared inside (or outside) the slices [Z0,Z1] asked (1-based), with an undo record.
bool RoiClearSlicesZ0Z1(CDrawSet& set, bool inside);
// The external surface of the first marked ROI peeled and grown by the millimetres asked, with an
// undo record.
bool RoiPeelGrowExternal(CDrawSet& set);
// Concentric zones (how many asked; the last number entered is offered next) between the two
// marked ROIs as a new label layer.
bool MultipleZonesConcentricObjects(CDrawSet& set);
// Broken contours of the first marked ROI closed and filled slice by slice (distance and steps
// asked), with an undo record.
bool MorphologyCloseContours2D(CDrawSet& set);
// The body foreground of the signal operand at the view's time point as a new ROI layer, after
// the "Detect Body Mask" prompt on the record.
bool DetectBodyMask(CDrawSet& set, bool unused, CDrawView* view, VA_BODYFORG& record);

}  // namespace twk::roiops
