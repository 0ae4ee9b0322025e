#pragma once
// "4D: Blood Vessel Map": the voxels of the ROI whose curves follow one of the given input functions
// become one layer per function, named after it; the rest of the ROI becomes "Organ".

#include "CString.h"

class CDrawSet;
class CDynExp;
struct INPUTFUNC;

namespace twk::seg {

// With the filled input-function slots of the kinetic-model host, in order; false (silently) without
// a host or for a set that is not a volume set.
bool SegmentVesselMap(CDrawSet& set, const CDynExp* host);
// With n given curves and their names (1 to 10, otherwise "Invalid number of Input Functions").
bool SegmentVesselMapWith(CDrawSet& set, const INPUTFUNC* ifuncs, const CString* names, int n);

}  // namespace twk::seg
