#pragma once
// "Ridge Detection Parameters" (CDlgRidgeDetect) on the ridge-detection record of the two ridge
// commands.

#include "roi/Ridges.h"

extern VA_RIDGEPARM g_RidgeParms;

// The two-mode runner (silent last): "3D processing", "Increase resolution coefficient" (1 to 10),
// "Smooth radius (vox)" (1 to 1000), "Kernel" (0 to 4), "Interpolation", "Output", "Strength
// threshold [0,1]" (not ranged). True on OK, when the record holds the values.
bool TW_DlgRidgeDetect(VA_RIDGEPARM* record, bool silent);

class CDrawSet;
// Ridges of the set's 3D signal layer ("CDrawSet::SegmentRidges"): the dialog (silent: without
// showing it), then a new document of the detection's base named "<name>_base" holding the ridges
// as its layer "Ridges". "3D volume is required" without a 3D signal layer. True when made.
bool TW_SegmentRidges(CDrawSet* set, bool bright, VA_RIDGEPARM* record, bool silent);
