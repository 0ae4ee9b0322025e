#pragma once
// The parametric-map driver of the layer sets (ParametricMaps.cpp).

class CDrawSet;
class CString;

namespace twk::dynamic {

// Fits a kinetic or signal model of the program's host to the set's 4D volume through the
// parametric-map dialog: model (< 0 keeps the host's), requested outputs (or null), mask of the
// allowed buttons (1, 2, 4, 8), mode (0 modal; 1..3 pressed at once), the single-curve report,
// the mode used, redraw, showResults (mode 3) and a flag handed to the host. True when results
// were produced (map layers, or the report of mode 3). Messages read
// "CDrawSet::ActivateParametricMapCalculation : ...".
bool ActivateParametricMapCalculation(CDrawSet& set, int model, const int* requested, int mask, int mode,
                                      CString* text, int* chosenMode, bool redraw, bool showResults, int flag);

}  // namespace twk::dynamic
