#pragma once
// Helpers that many operations, dialogs and workflows share: the body-mask parameters and their
// prompt, and the services that later parts of the program supply to the command layer.

#include <functional>

#include "TwkTypes.h"
#include "ops/BodyForeground.h"

// The record of "Detect Body Mask" (registered as the preset g_BodyMaskParms).
extern VA_BODYFORG g_BodyMaskParms;

// The three-value prompt "Detect Body Mask" on the record's radius, threshold and peel/grow; on OK
// the peel/grow is also copied into the field the detection applies. True on OK.
bool TW_AskBodyMaskParms(VA_BODYFORG* parms);
void TW_SetDefaultBodyMaskParms(VA_BODYFORG* parms);

// The writer of transform files (the registration engine supplies it): path, transform kind,
// source dimensions and spacing, target dimensions and spacing (may be null), the 4x4 transform;
// true when written. Setting it makes "Save Alignment (*.vtf)" available; null removes it.
using TW_TRANSFORM_FILE_WRITER = std::function<bool(const wchar_t* path, int kind, const DIM3D* dims,
                                                    const SPC* spacing, const DIM3D* targetDims,
                                                    const SPC* targetSpacing, const double transform[16])>;
void TW_SetTransformFileWriter(TW_TRANSFORM_FILE_WRITER writer);
