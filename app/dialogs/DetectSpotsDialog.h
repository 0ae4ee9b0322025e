#pragma once
// "Detect Spots" (CDlgDetectSpots) on the program's spot-detection record.

#include "roi/Detectors.h"

extern VA_DETECTSPOTS g_DetectSpotsParms;

// Runs the dialog on the record: "3D mode", "Feature threshold [0,1]" (0 to 1), "Smooth radius
// (vox)" (0 to 100), "Max spot size (vox)" (1 to 10000). True on OK, when the record holds the
// edited values; otherwise it is unchanged.
bool TW_DlgDetectSpots();
