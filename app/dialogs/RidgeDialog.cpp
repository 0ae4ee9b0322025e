#include "RidgeDialog.h"

#include "ParameterDialog.h"
#include "TwkUi.h"

VA_RIDGEPARM g_RidgeParms;

bool TW_DlgRidgeDetect(VA_RIDGEPARM* record, bool silent) {
  if (!record) return false;
  // Aligned copies of the packed record's fields, written back on OK.
  double coefficient = record->resolutionCoefficient, radius = record->smoothRadius,
         threshold = record->strengthThreshold;
  int32_t kernel = record->kernel, interpolation = record->interpolation, output = record->output;
  TW_DIALOG d(L"Ridge Detection Parameters", L"CDlgRidgeDetect");
  d.Flag(L"3D processing", &record->mode3D);
  d.Real(L"Increase resolution coefficient", &coefficient, 1, 10);
  d.Real(L"Smooth radius (vox)", &radius, 1, 1000);
  d.Choice(L"Kernel", &kernel, {L"Uniform", L"Gaussian", L"Radial", L"Raleigh", L"Median", L"Minimal SI", L"Maximal SI"});
  d.Choice(L"Interpolation", &interpolation, {L"Nearest Neighbor", L"Tri linear", L"Wsinc2", L"Wsinc3", L"Wsinc4"});
  d.Choice(L"Output", &output, {L"Elevation Map", L"Ridge Mask", L"Ridge Skeletons"});
  d.Real(L"Strength threshold [0,1]", &threshold);
  // The kernel list offers seven items, of which the first five are accepted.
  d.onCheck = [](const TW_DIALOG_VALUES& v) {
    if (v.Choice(L"Kernel") <= 4) return true;
    twk::messageBox(L"Kernel : Please enter a number between 0 and 4.");
    return false;
  };
  if (!TW_RunDialog(silent, d)) return false;
  record->resolutionCoefficient = coefficient;
  record->smoothRadius = radius;
  record->kernel = kernel;
  record->interpolation = interpolation;
  record->output = output;
  record->strengthThreshold = threshold;
  return true;
}
