#pragma once
// "Extract ROIs from LabelMap": the label-map split of the layer sets.

class CDrawSet;

namespace twk::seg {

// One ROI layer "atlas region <label>" per region of the operand label map, all of them or those of
// the entered list. True when every asked layer was added; false (silently) for a set that is not a
// volume set.
bool AtlasSplit(CDrawSet& set);

}  // namespace twk::seg
