#pragma once
// Helpers that many operations, dialogs and workflows share: the body-mask parameters and their
// prompt, the layer lookup by name part and the seeds of a set.

#include "TwkTypes.h"
#include "ops/BodyForeground.h"

class CDrawSet;
class CDrawView;
class CVol;

// The record of "Detect Body Mask" (registered as the preset g_BodyMaskParms).
extern VA_BODYFORG g_BodyMaskParms;

// The three-value prompt "Detect Body Mask" on the record's radius, threshold and peel/grow; on OK
// the peel/grow is also copied into the field the detection applies. True on OK.
bool TW_AskBodyMaskParms(VA_BODYFORG* parms);
void TW_SetDefaultBodyMaskParms(VA_BODYFORG* parms);

namespace twk::ops {

// The first volume layer of the set (marked ones only with markedOnly) whose file title contains
// text, ignoring case; null when none does, with the stop message "Layer containing %s not found"
// when report is set. Multi-step commands find the layers earlier steps made by this lookup.
CVol* FindLayerContaining(const CDrawSet& set, bool report, const wchar_t* text, bool markedOnly);

// Seeds: the vector ROIs of the document that the set owns, their boxes clipped to wh[0] x wh[1]
// (the view is not used). The seed to operate on: the only one, or the one selected among several;
// otherwise a message under "CDrawSet::ExtractOperSeedBox" and false.
bool ExtractOperSeedBox(const CDrawSet& set, CDrawView* view, const int wh[2], DRECT3D* box);
// Every seed's box (a pf_malloc array the caller frees, null when there are none), their count,
// the index of the last selected one (-1: none) and the number selected.
bool GetSeedBoxes(const CDrawSet& set, CDrawView* view, const int wh[2], DRECT3D** boxes, int* count, int* selected,
                  int* selectedCount);

}  // namespace twk::ops
