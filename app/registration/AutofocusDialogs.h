#pragma once
// The two AutoFocus parameter dialogs ("3D Registration with AutoFocus", "4D Registration with
// AutoFocus") over the VA_AF3D / VA_AF4D records, with their two-mode runners. The record changes
// only on an accepted OK; Cancel, a refused OK or a silent run whose values fail a check leave it as
// it was.
#include "registration/AutoFocus.h"

class CVol;
struct SPC;

// The 3D dialog. source / target may be null (both are needed only by "From DICOM"); spacing gives
// the smallest voxel size for the inflate-units switch (1.0 without one); an empty or null target
// ROI name clears and disables the ROI choice. Silent: the stored values pass through the dialog's
// checks without user input. True when the values were accepted and written back.
bool TW_DlgAutofocus3D(VA_AF3D* record, CVol* source, CVol* target, const SPC* spacing, const wchar_t* targetRoiName,
                       bool silent);

// The 4D dialog: currentDynamic is the zero-based time point shown as "Current dynamic index %u"
// (plus one); disable2D greys "2D mode" (single-slice volumes).
bool TW_DlgAutofocus4D(VA_AF4D* record, int currentDynamic, const SPC* spacing, bool disable2D, bool silent);

// Whether a record needs noise levels: a gradient measure (5, 6) with the "Normalized" magnitude.
bool TW_AutofocusNeedsNoise(const VA_AF3D& record);
