#pragma once
// The dialogs of the ROI operations as the operations see them: runners that edit a record and
// return true on OK. Each is described as a parameter dialog (dialogs/ParameterDialog.h) and run
// by its runner: the program shows it in its Qt window; tests and headless runs answer the value
// prompt of twk::ui().

#include "RoiRecords.h"
#include "roi/LungSegRecords.h"
#include "roi/NoduleVolume.h"
#include "roi/RoiShape.h"
#include "roi/RoiStatistics.h"

// "Inflate\Deflate ROI" on a peel/grow record; titled "Grow ROI" or "Peel ROI" by the record's
// grow flag, which it passes through unchanged. OK writes the radius and the three check boxes.
bool TW_DlgRoiInflate(ROIPEELGROW* record);

// The "Salt & Pepper" Artefact Removal dialog on the program's record: "2D mode", "Salt removal",
// "Salt weight threshold" (0 to 1000000), "Pepper removal", "Pepper weight threshold" (0 to
// 1000000); the first field is not shown. True on OK, when the record holds the edited values.
bool TW_DlgSaltPepper();

// " Linear Converison" on the program's record ("Coefficient", "Bias", "Low limit", "High limit").
bool TW_DlgVolLinAmplif();
extern VA_LINCONV g_LinConvParms;

// "Volume Normalization" for the ROI statistics: shows "%e / %e / %e / %e" (minimum, maximum,
// mean, standard deviation); the type starts at "Division by coefficient" (0, else "Z-score"),
// the coefficient at the mean and the region standard deviation at the standard deviation. On OK
// writes the three outputs and gives true; otherwise writes nothing.
bool TW_DlgVolNormalize(const VA_ROIINFO* info, int* type, double* stdev, double* coefficient);

// "Nodule Volume Measurement" on g_NodVolParms: every field edited as a number; OK stores the four
// attenuations truncated toward zero. True on OK.
bool TW_DlgNodVol();
extern VA_VOLNODEPARM g_NodVolParms;

// "Lung and Trachea Segmentation 4D" on the caller's lung and trachea records (the fields the
// segmentation lets the user set; flags stored as 1 when set). Silent: the records keep their values
// and the runner answers true. Modal: true on OK, when the records hold the edited values.
bool TW_DlgLungSeg4D(VA_SEGLUNG4D* lung, VA_SEGTRACHEA4D* trachea, bool silent);
