#pragma once
// The parameter records of the filter, denoising, noise and bias-field commands and the runners of
// their dialogs (described as TW_DIALOG data: the program shows them in its Qt record dialog,
// headless runs answer them through twk::ui()).

#include "CString.h"
#include "filters/BiasField.h"
#include "filters/Denoise.h"
#include "filters/Filters.h"

class CVol;

// "Volume Smooth Parameters": the record of "Smooth over (optional) ROI" and the second preset
// (multi-echo extrapolation). Opening without a mask clears the record's constrain flag (also on
// Cancel); the kernel is refused beyond "Median". True on OK.
extern VA_VOLSMOOTH g_VolSmoothParms;
extern VA_VOLSMOOTH g_VolSmoothParms2;
bool TW_DlgVolSmooth(VA_VOLSMOOTH* record, bool maskAvailable);

// "Edge Constrained Smooth" on g_IvcsParms, shown with the two volumes' names and the edge noise
// level rounded to one decimal. The edge detector's settings are edited in the same window;
// "Default edge settings" resets them on OK to metric and weights 0, radii 3.0 and an edge
// threshold of twice the rounded noise level. True on OK.
extern VA_IVCS g_IvcsParms;
bool TW_DlgIntervolConstrSmooth(const CString& edgeName, const CString& smoothedName, double noise);

// "N4 nonuniformity correction" on an N4 record (g_N4Parms for the view's command). True on OK.
extern VA_N4PARAM g_N4Parms;
bool TW_DlgAntsN4(VA_N4PARAM* record);

// "Non-local Means Denoising" in its variant: 0 NLM, 1 TSM (patch and search radius greyed and
// unlabelled), 2 STSM (the search radius field holds the temporal group size); any other variant
// is refused ("CDlgNLMdenoise::OnInitDialog : Invalid dialog variant"). The records of the NLM,
// TSM, STSM and shared (complex and model-based TSM) commands. True on OK.
extern VA_NLMDENOISE g_NlmParms;
extern VA_NLMDENOISE g_TsmParms;
extern VA_NLMDENOISE g_StsmParms;
extern VA_NLMDENOISE g_SharedTsmParms;
bool TW_DlgNLMdenoise(bool silent, int variant, VA_NLMDENOISE* record, CVol* volume);

// Sets the records above to their start values (the program's defaults step).
void TW_InitFilterDefaults();
