#pragma once
// Operations that split an ROI of a layer set into layers or combine ROI layers into one. Each
// returns true on success.

class CDrawSet;

namespace twk::roiops {

// Each connected component of the operand ROI as a layer "region <i>"; the source ROI goes when
// all were added (Esc keeps those added so far and the source).
bool RoiSplitComponentsToLayers(CDrawSet& set);
// The marked ROI layers as one label map "label map".
bool CreateLabelMapFromROIs(CDrawSet& set);
// The average of at least two marked 3D ROI layers ("rois average") with a normalisation value
// and a background asked, made active.
bool AverageRoiLayers(CDrawSet& set);
// Shells of the operand ROI (number and width asked) as new layers.
bool RoiOnionPeel(CDrawSet& set, int* unused);

}  // namespace twk::roiops
