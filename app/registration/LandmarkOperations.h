#pragma once
// Landmarks of a layer set (its vector ROIs, each at the centre of its box) and the alignment that
// turns a volume so that its landmarks lie in one axial slice (LandmarkOperations.cpp).

class CDrawSet;
class CDrawView;
struct HIGHOBJ;

// The centres of the landmarks' boxes (voxel coordinates): 3 doubles per landmark into out.
void TW_LandmarkCentres(HIGHOBJ* const* landmarks, int count, double* out);

namespace twk::registration {

// Turns the volume so that the landmarks at the view's time point lie in one axial slice (a new
// document "_Z").
bool FitPlaneToLandmarks(CDrawSet& set, CDrawView* view);

}  // namespace twk::registration
