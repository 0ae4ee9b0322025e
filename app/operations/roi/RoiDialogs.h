#pragma once
// The dialogs of the ROI operations as the operations see them: runners that edit a record and
// return true on OK. Each runs the view installed by the program (the Qt dialog); without one it
// asks through a value prompt of twk::ui(), so that tests and headless runs script the answers.

#include <functional>

#include "RoiRecords.h"
#include "CString.h"
#include "roi/RoiShape.h"
#include "roi/RoiStatistics.h"

// "Inflate\Deflate ROI" on a peel/grow record; titled "Grow ROI" or "Peel ROI" by the record's
// grow flag, which it passes through unchanged. OK writes the radius and the three check boxes.
bool TW_DlgRoiInflate(ROIPEELGROW* record);
using TW_ROIINFLATEVIEW = std::function<bool(ROIPEELGROW* record)>;
void TW_SetRoiInflateView(TW_ROIINFLATEVIEW view);

// The "Salt & Pepper" Artefact Removal dialog on the program's record: "2D mode", "Salt removal",
// "Salt weight threshold" (0 to 1000000), "Pepper removal", "Pepper weight threshold" (0 to
// 1000000); the first field is not shown. True on OK, when the record holds the edited values.
bool TW_DlgSaltPepper();
using TW_SALTPEPPERVIEW = std::function<bool(VA_SALTPEPPER* record)>;
void TW_SetSaltPepperView(TW_SALTPEPPERVIEW view);

// " Linear Converison" on the program's record ("Coefficient", "Bias", "Low limit", "High limit").
bool TW_DlgVolLinAmplif();
extern VA_LINCONV g_LinConvParms;
using TW_LINCONVVIEW = std::function<bool(VA_LINCONV* record)>;
void TW_SetVolLinAmplifView(TW_LINCONVVIEW view);

// "Volume Normalization" for the ROI statistics: shows "%e / %e / %e / %e" (minimum, maximum,
// mean, standard deviation); the type starts at "Division by coefficient" (0, else "Z-score"),
// the coefficient at the mean and the region standard deviation at the standard deviation. On OK
// writes the three outputs and gives true; otherwise writes nothing.
bool TW_DlgVolNormalize(const VA_ROIINFO* info, int* type, double* stdev, double* coefficient);
struct TW_NORMALIZECHOICE {
  CString summary;  // the statistics line
  int type = 0;
  double coefficient = 0, stdev = 0;
};
using TW_NORMALIZEVIEW = std::function<bool(TW_NORMALIZECHOICE* choice)>;
void TW_SetVolNormalizeView(TW_NORMALIZEVIEW view);
