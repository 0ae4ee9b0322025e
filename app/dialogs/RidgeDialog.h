#pragma once
// "Ridge Detection Parameters" (CDlgRidgeDetect) on the ridge-detection record of the two ridge
// commands.

#include "roi/Ridges.h"

extern VA_RIDGEPARM g_RidgeParms;

// The two-mode runner (silent last): "3D processing", "Increase resolution coefficient" (1 to 10),
// "Smooth radius (vox)" (1 to 1000), "Kernel" (0 to 4), "Interpolation", "Output", "Strength
// threshold [0,1]" (not ranged). True on OK, when the record holds the values.
bool TW_DlgRidgeDetect(VA_RIDGEPARM* record, bool silent);
