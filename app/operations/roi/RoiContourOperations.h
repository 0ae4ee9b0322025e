#pragma once
// ROI operations on slice contours: hulls, interslice morphs, salt-and-pepper cleaning and
// cylinders. Each changes the operand ROI of the set in place with an undo record of its layer
// and returns true on success.

class CDrawSet;

namespace twk::roiops {

// Each slice's ROI replaced by its convex hull.
bool RoiMakeConvex2D(CDrawSet& set);
// Fills the slice contours and morphs arcs between drawn slices.
bool RoiFillContoursArcMorph(CDrawSet& set);
// Morphs convex shapes between the drawn slices (the contours filled first with fillFirst).
bool RoiMorphConvex(CDrawSet& set, bool fillFirst);
// Isolated voxels and holes removed after the "Salt & Pepper" dialog on the program's record.
bool RoiRemoveSaltPepper(CDrawSet& set);
// A cylinder through all slices from the union (or the intersection) of the drawn contours.
bool RoiUnionCylinder2D(CDrawSet& set);
bool RoiIntersectCylinder2D(CDrawSet& set);

}  // namespace twk::roiops
