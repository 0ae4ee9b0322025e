#pragma once
// The preset records of the AutoFocus registration commands and workflows: one static record per
// command (or group of commands sharing one), filled once at start-up by the defaults routines and
// then holding whatever its AutoFocus dialog last accepted, until the program exits. The command
// table's rows pass them by name ("@g_AF4DKidney3D"); they are registered as presets under these
// names.

#include "registration/AutoFocus.h"

// 3D: one volume onto another.
extern VA_AF3D g_AF3DSignalDifference, g_AF3DCrossCorrelation, g_AF3DBuildTest, g_AF3DSliceBySlice,
    g_AF3DSingleModality, g_AF3DMultiModality, g_AF3DPostmortem, g_AF3DMouseHeadAtlas, g_AF3DMonkeyBrain,
    g_AF3DMRandPET, g_AF3DBrainFDGDCE, g_AF3DPalvenSliceA, g_AF3DPalvenSliceB, g_AF3DPalvenKidneyRoi,
    g_AF3DPalvenVibe, g_AF3DHipAtlas, g_AF3DBreastEPItoT1, g_AF3DBreastPETtoT1, g_AF3DLandmarks;

// 4D: motion correction.
extern VA_AF4D g_AF4DBuildTest, g_AF4DIvimKidney, g_AF4DRodentMI, g_AF4DRodentURAL, g_AF4DRenalURAL, g_AF4DRenalMI,
    g_AF4DInSliceURAL, g_AF4DInSliceMI, g_AF4DKidneyMIRadial, g_AF4DKidneyMIEnsemble, g_AF4DKidney2D, g_AF4DKidney3D,
    g_AF4DBrainMaskMR, g_AF4DPetBrainMask, g_AF4DPalvenPerfusion, g_AF4DPalvenProtonDensity, g_AF4DTwoDocuments,
    g_AF4DSpare, g_AF4DNeckDwi;

// Write the start values of every preset (called once by the start-up defaults).
void TW_InitAutofocus3DDefaults();
void TW_InitAutofocus4DDefaults();
// The neck workflow's motion-correction preset (g_AF4DNeckDwi).
void TW_InitNeckAutofocusDefaults();

// The record of "Uncrop Volume Region", built afresh on each run so that its values are never kept.
VA_AF3D TW_UncropAutofocusRecord();
