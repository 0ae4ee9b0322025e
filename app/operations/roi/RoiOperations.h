#pragma once
// ROI operations that change the operand ROI of a layer set in place. Each returns true on success;
// a failure has shown its message (or is the user's cancel).

class CDrawSet;
class CDrawView;
struct ROIPEELGROW;

namespace twk::roiops {

// The largest connected component of the operand ROI (in each slice with twoD), or with bySeeds
// the components the set's vector ROIs touch, at the view's time point; one undo record.
bool RoiExtractMaxCC(CDrawSet& set, CDrawView* view, bool twoD, bool bySeeds);
// Fills the closed contours of every slice of the operand ROI; one undo record.
bool RoiFillContours2D(CDrawSet& set);
// Peels or grows the operand ROI (or every ROI layer) by the record's radius, after the
// "Inflate\Deflate ROI" dialog on the record when showDialog is set; one undo record per layer.
bool RoiPeelGrow(CDrawSet& set, bool showDialog, ROIPEELGROW& record);

}  // namespace twk::roiops
