#pragma once
// Crops of the active set into new documents (CropOperations.cpp). The new document opens in its
// own window with the projection of the view the command came from; the source keeps its layers.

#include <cstdint>

#include "TwkTypes.h"

class CDrawDoc;
class CDrawSet;
class CDrawView;

namespace twk::ops {

// The 4D vector ROI of the view's active set to operate on: the selected one, or the only one; null
// after its message (under "CDrawView::OperVectRoi") when report is set.
CDrawSet* OperVectRoi(CDrawView& view, bool report);
// Crops the view's active set (allLayers) or its active layer to the box, or to the operated 4D
// vector ROI when there is no box, into a new document named with the suffix ("_cropped" when
// none); with all layers the other vector ROIs that meet the box come along. Null on failure.
CDrawDoc* VolumeCrop(CDrawView& view, bool allLayers, const RECT4D* box, const wchar_t* suffix, bool cloneFlag);

// The marked layers at a list of time points ({count, t0, t1, ...}, 0-based), at the view's time
// point (current) or at the indices the user types (base 1), kept or (keep false) left out.
bool CropSpecifiedDynPnts(CDrawSet& set, CDrawView* view, const int32_t* timeList, bool keep, bool current);
// Every layer at the view's slice (not in film view).
bool CropCurrentSlice(CDrawSet& set, CDrawView* view);
// The 4D operand, one layer per time point, with the 3D ROI layers of the set.
bool Split4DToLayers(CDrawSet& set, CDrawView* view);

}  // namespace twk::ops
