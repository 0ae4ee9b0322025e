#pragma once
// The parameter records of the brain library's commands and their dialogs: "White Matter Lesions
// Segmentation (FLAIR) Using Lateral Ventricle" (CDlgLVWMLSeg) over g_WmlVentrSeg and "Lateral
// Ventricle Segmentation" (CDlgLateralVentrSeg) over g_LateralVentrSeg. The records keep the last
// accepted values until the program exits; Cancel leaves them as they were, including what the N3
// and registration buttons changed.
#include "Gyrelab.h"

class CVol;

extern VA_WMLVENTRSEG g_WmlVentrSeg;
extern VA_LATERALVENTRSEG g_LateralVentrSeg;

// The start-up values of the two records.
void TW_InitWmlVentrSegDefaults(VA_WMLVENTRSEG* record);
void TW_InitLateralVentrSegDefaults(VA_LATERALVENTRSEG* record);

// The MPRAGE argument of the batches that find the MPRAGE of each case later: the MPRAGE controls
// are enabled but no name is shown.
inline CVol* const TW_MPRAGE_GIVEN_LATER = reinterpret_cast<CVol*>(1);

// The lesion dialog. mprage: a volume (its name is shown), TW_MPRAGE_GIVEN_LATER, or null (the
// MPRAGE controls are greyed); without a gray-matter mask "Use provided Gray Matter mask" is
// unchecked and greyed. The healthy white-matter fields are enabled only for algorithm 2. Silent:
// the stored values pass through without user input. True when the values were written back.
bool TW_DlgLVWMLSeg(bool silent, VA_WMLVENTRSEG* record, CVol* flair, CVol* mprage, bool grayMatterMask);

// The ventricle dialog, modal; true on OK.
bool TW_DlgLateralVentrSeg(VA_LATERALVENTRSEG* record);
