#pragma once
// Feature points and response maps of the layer sets, and the snapshot of a view.

class CDrawDoc;
class CDrawSet;
class CDrawView;

namespace twk::filterops {

// The feature detector of type 0 (basic) or 1 (Tomasi) over the operand within the optional ROI:
// points become 5 x 5 x 5 vector ROIs, a response map the layer "feature response map". Other
// types: "Unsupported feature type".
bool ProduceFeatureMap(CDrawSet& set, int type, bool points);
// What the view shows of the operand as a new single-slice document "snapshot"; null when there is
// no operand or view record, or the document cannot be made.
CDrawDoc* ProjectionSnapshot(CDrawSet& set, CDrawView* view);

}  // namespace twk::filterops
