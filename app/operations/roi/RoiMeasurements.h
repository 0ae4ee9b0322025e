#pragma once
// ROI measurements of a layer set: distances between two marked ROIs, their overlap, surface
// distances, ring profiles and the surface-wave map. Each returns true on success.

class CDrawSet;
class CDrawView;

namespace twk::roiops {

// The slice range of the DICE measure, 1-based, as last entered; 0, 0 before the first run, which
// offers 1 and the first ROI's depth.
struct DiceSliceRange {
  int start = 0;
  int end = 0;
};

// The distance (mm) between the mass centres of the two marked ROIs, shown.
bool RoiMassCenterDistance(CDrawSet& set);
// The DICE coefficient of the two marked ROIs over the slices asked (offered from range, which
// keeps what was entered, valid or not) at the view's time point, shown.
bool MeasureDICE_SelectSlices(CDrawSet& set, CDrawView* view, DiceSliceRange& range);
// The Hausdorff and average distances of the two marked ROIs (area- or edge-based), shown.
bool RoiHausdorffDistance(CDrawSet& set, bool edgeBased);
// The distances from the operand ROI's surface (inside and/or outside, in 0.01 mm) as a new
// active layer "surface wave distance".
bool RoiSurfaceWaveDistance(CDrawSet& set, bool inside, bool outside);
// First-order statistics of the rings peeled from the ROI inwards: copied as a table and plotted.
bool RoiRingProfiles(CDrawSet& set);

}  // namespace twk::roiops
