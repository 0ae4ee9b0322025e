#pragma once
// Vector objects burnt into the ROI layer of a set: vector-ROI boxes, polylines and splines, each
// into time point 0 of the ROI.

class CDrawDoc;
class CDrawPoly;
class CDrawSet;
class CDrawView;

// Fills a vector ROI's box, clipped to the volume, with 1 in its owner's ROI operand.
bool TW_VectRoiToRoi(CDrawSet* vectorRoi);
// Fills the first contour of a polyline drawn in the volume's own slices into its slice of the
// active set's ROI operand; false (nothing written) when a point does not map into the volume.
bool TW_RasterizeContoursToRoi(CDrawPoly* polyline, CDrawView* view);
// Every polyline (splines, plain ones or both) drawn in the volume's own slices, slice by slice.
bool TW_PolylinesToRoi(CDrawDoc* doc, CDrawView* view, bool splines, bool polylines);
// The only spline of the document on a slice; null when there is none or more than one.
CDrawPoly* TW_GetSingleSplineOnSlice(CDrawDoc* doc, int slice);
