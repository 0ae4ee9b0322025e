#pragma once
// ROI operations that derive new layers from the operand ROI of a layer set. Each returns true on
// success.

class CDrawSet;
class CDrawView;

namespace twk::roiops {

// The enclosed holes of a 3D ROI as a new layer.
bool RoiExtractHoles3D(CDrawSet& set);
// The 3D ROI made a 4D ROI at the view's time point of the 4D signal layer; it takes the old
// layer's place, look and mark, and the old layer goes.
bool RoiConvert3Dto4D(CDrawSet& set, CDrawView* view);
// Mode 0 the skeleton ("skeleton", per slice on request), 1 the ridges of the depth map, 2 the
// medial axis, as a new active layer; modes 1 and 2 report the average depth.
bool RoiSkeleton(CDrawSet& set, CDrawView* view, int mode);

}  // namespace twk::roiops
