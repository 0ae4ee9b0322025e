#pragma once
// The parameter records of the filter, denoising, noise and bias-field commands and the runners of
// their dialogs (described as TW_DIALOG data: the program shows them in its Qt record dialog,
// headless runs answer them through twk::ui()).

#include "CString.h"
#include "filters/BiasField.h"
#include "filters/Denoise.h"
#include "filters/Filters.h"
#include "filters/Radiomics.h"


class CVol;

// "Volume Smooth Parameters": the record of "Smooth over (optional) ROI" and the second preset
// (multi-echo extrapolation). Opening without a mask clears the record's constrain flag (also on
// Cancel); the kernel is refused beyond "Median". True on OK.
extern VA_VOLSMOOTH g_VolSmoothParms;
extern VA_VOLSMOOTH g_VolSmoothParms2;
bool TW_DlgVolSmooth(VA_VOLSMOOTH* record, bool maskAvailable);

// "Edge Constrained Smooth" on g_IvcsParms, shown with the two volumes' names and the edge noise
// level rounded to one decimal. "Edge Settings" edits the record's edge detector settings in the
// "3D Edge Detector" dialog; "Default" resets them to metric and weights 0, radii 3.0 and an edge
// threshold of twice the rounded noise level; either change stays on Cancel. True on OK.
extern VA_IVCS g_IvcsParms;
bool TW_DlgIntervolConstrSmooth(const CString& edgeName, const CString& smoothedName, double noise);

// "N4 nonuniformity correction" on an N4 record (g_N4Parms for the view's command). True on OK.
extern VA_N4PARAM g_N4Parms;
bool TW_DlgAntsN4(VA_N4PARAM* record);

// "N3 - Bias Field Correction" on an N3 record (g_N3Parms for the view's command, set by
// VA_N3setBasicParms with 2.0); the pad-volume flag passes through unchanged. True on OK.
extern VA_N3PARM g_N3Parms;
bool TW_DlgN3(VA_N3PARM* record);

// "BiCal Parameters" on a BiCal record; with an operand its noise is estimated first (a failure
// refuses the dialog) and shown, with the highest field degree. The two presets of the view's
// commands differ in the real-voxels output only. True on OK (a silent run: when the values
// passed).
extern VA_BICALZF g_BicalParms;
extern VA_BICALZF g_BicalBreastFgtParms;
bool TW_DlgBicalZF(bool silent, CVol* volume, VA_BICALZF* record);

// "N4 Explorer" on g_N4ExplrParms: the sweep's ranges and grids; "N4 Parameters" edits the
// dialog's copy of the embedded N4 record, kept only when the explorer ends with OK. Min and max
// are stored as entered. True on OK.
extern VA_N4EXPLR g_N4ExplrParms;
bool TW_DlgN4Explr();

// "BiCal Explorer Parameters" on a BiCal explorer record: the smooth-power and degree pairs are
// put in order when the dialog opens (the edge radii are not); "BiCal parameters" edits the
// dialog's copy of the embedded BiCal record (without operand). True on OK.
extern VA_BICALEXPLR g_BicalExplrParms;
bool TW_DlgBicalExplorer(VA_BICALEXPLR* record);

// "Non-local Means Denoising" in its variant: 0 NLM, 1 TSM (patch and search radius greyed and
// unlabelled), 2 STSM (the search radius field holds the temporal group size); any other variant
// is refused ("CDlgNLMdenoise::OnInitDialog : Invalid dialog variant"). The records of the NLM,
// TSM, STSM and shared (complex and model-based TSM) commands. True on OK.
extern VA_NLMDENOISE g_NlmParms;
extern VA_NLMDENOISE g_TsmParms;
extern VA_NLMDENOISE g_StsmParms;
extern VA_NLMDENOISE g_SharedTsmParms;
bool TW_DlgNLMdenoise(bool silent, int variant, VA_NLMDENOISE* record, CVol* volume);

// "Radiomics Features 2D" on a record (the view commands: g_Radiom2DReal for real volumes,
// g_Radiom2DInt for the others; g_Radiom2DBatch for the feature batch). With a volume, OK with an
// undefined discretisation shows "Histogram-based discretization is undefined." and runs the
// histogram step (the 3D ROI statistics dialog over the ROI, or the whole volume), and the dialog
// stays open; "Change discretization" runs the step on OK. A
// silent run never opens a window: an OK that refuses returns false and writes nothing. The
// distance list is refused beyond 31 characters. True on OK.
extern VA_PARM_RADIOM2D g_Radiom2DReal;
extern VA_PARM_RADIOM2D g_Radiom2DInt;
extern VA_PARM_RADIOM2D g_Radiom2DBatch;
bool TW_DlgRadiomics2D(bool silent, CVol* volume, int t, CVol* roi, int colour, VA_PARM_RADIOM2D* record);

// Sets the records above to their start values (the program's defaults step).
void TW_InitFilterDefaults();
