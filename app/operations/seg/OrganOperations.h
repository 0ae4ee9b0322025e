#pragma once
// The organ recipes and reports of the layer sets: the heart of a chest CT, cartilage beside a bone
// mask, segments along a pancreas's axis, the structure graph of an ROI slice, and the reports over
// all open documents. A set that is not a volume set ends each recipe silently.

class CDrawSet;
class CDrawView;

namespace twk::seg {

// "Cartilage detection": cartilage beside the bone mask (the operand ROI) of the operand volume,
// as the layer "cartilage".
bool DetectCartilage(CDrawSet& set);
// "Measurement along the central axis": the first marked ROI cut into segments along its longest
// axis, the segments as the layer "layers" and their measurements in Notepad and the clipboard.
bool Pancreas_MeasurementAlongCentralAxis(CDrawSet& set);
// The all-document reports in Notepad: the mean of each marked real volume over each marked 3D
// ROI, and the vicinity irregularity of each marked real 3D layer. False (no report) when there is
// no document or a measurement fails.
bool AllDocumentsMeanOverRois();
bool AllDocumentsIrregularity2D();
// "Segment heart from CT": a set of exactly three layers (a 3D CT and two 3D lung ROIs) seen in an
// axial view gives the layer "heart mask".
bool SegmentHeartCT(CDrawSet& set, CDrawView* view);
// "Current Slice Structure Graph": the triangles of the first marked ROI's slice in the view, as
// red polylines of the document, the interior ones filled blue.
bool CurrentSliceStructureGraph(CDrawSet& set, CDrawView* view);

}  // namespace twk::seg
