#pragma once
// "Preprocess for Split by Threshold" (CDlgSplitThrParms): the preprocessing record that the
// workflows apply before a threshold split (initial segmentation, N3 correction, smoothing, and the
// texture gradient they keep), with buttons for the N3 and smoothing dialogs.

#include <cstdint>

#include "filters/BiasField.h"
#include "filters/Filters.h"
#include "registration/AutoFocus.h"

#pragma pack(push, 1)
struct VA_SPLITTHRPARMS {
  int32_t initialSegmentation = 0;  // 0 "Histogram Optimization", 1 "Visual Split"
  int32_t n3Correction = 1;
  int32_t smooth = 1;
  VA_N3PARM n3;                     // the basic settings with subsampling 1
  VA_VOLSMOOTH smoothing;           // 3D, radius 2, median kernel
  VA_URALGRAD gradient;             // earth mover distance, radius 3, logarithm, 2.0; not edited here
};
#pragma pack(pop)

extern VA_SPLITTHRPARMS g_SplitThrParms;

// Modal on g_SplitThrParms; the buttons edit the dialog's copies of the N3 and smoothing blocks,
// which only OK keeps. True on OK.
bool TW_DlgSplitThrParms();
