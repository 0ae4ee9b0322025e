#pragma once
// In-slice motion correction of a mosaic series (one 2D image per time point that tiles the
// slices): the mosaic is unfolded into a volume in an intermediate document, motion-corrected there
// by the 4D AutoFocus registration in its in-slice form, folded back into a mosaic and added to the
// source set as "MC" between the signal and the ROI.
#include "registration/AutoFocus.h"

class CDrawSet;

// The set must be the only open document's set of exactly a signal layer and an ROI layer. flag
// makes the unfolding ask the number of tiles and the registration show its dialog. True when the
// "MC" layer was added; false on every refusal or failure (reported), the source set unchanged.
bool TW_MosaicMotionCorrectionInSlice_MI(CDrawSet* set, bool flag, VA_AF4D* parms);
