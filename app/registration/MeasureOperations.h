#pragma once
// Layer comparison measurements (MeasureOperations.cpp): two marked layers of a set against each
// other, optionally over an ROI, and the total variation of every marked layer. Nothing is added to
// or changed in the document. Messages read "CDrawSet::SingleMeasurement : ...".

class CDrawSet;
class CDrawView;

namespace twk::registration {

// Code 0 RMSD, 16/17 mutual information plain and normalised (per time point, into the text
// viewer), 18 ROI difference, 19 ZNCC; a third marked layer serves as the ROI. The view is not used.
bool SingleMeasurement(CDrawSet& set, CDrawView* view, int code);
// The total variation of every marked non-ROI layer, shown as a table.
bool MeasureTVTable(CDrawSet& set);

}  // namespace twk::registration
