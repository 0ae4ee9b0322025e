#include "FilterDialogs.h"

#include <cmath>
#include <utility>

#include "ParameterDialog.h"
#include "TwkUi.h"

VA_VOLSMOOTH g_VolSmoothParms;
VA_VOLSMOOTH g_VolSmoothParms2{0, 0, 3.0, 0, VA_VOXWGHT_GAUSSIAN};
VA_IVCS g_IvcsParms;
VA_N4PARAM g_N4Parms;
VA_NLMDENOISE g_NlmParms;
VA_NLMDENOISE g_TsmParms{0, 0, 0, 1.0, 1.0};
VA_NLMDENOISE g_StsmParms{0, 0, 100, 1.0, 1.0};
VA_NLMDENOISE g_SharedTsmParms{0, 0, 0, 1.0, 1.0};

void TW_InitFilterDefaults() {
  g_VolSmoothParms = VA_VOLSMOOTH{};
  g_VolSmoothParms2 = VA_VOLSMOOTH{0, 0, 3.0, 0, VA_VOXWGHT_GAUSSIAN};
  g_IvcsParms = VA_IVCS{};
  g_N4Parms = VA_N4PARAM{};
  g_NlmParms = VA_NLMDENOISE{};
  g_TsmParms = g_SharedTsmParms = VA_NLMDENOISE{0, 0, 0, 1.0, 1.0};
  g_StsmParms = VA_NLMDENOISE{0, 0, 100, 1.0, 1.0};
}

bool TW_DlgVolSmooth(VA_VOLSMOOTH* record, bool maskAvailable) {
  if (!record) return false;
  if (!maskAvailable) record->constrainByMask = 0;
  TW_DIALOG d(L"Volume Smooth Parameters", L"CDlgVolSmooth");
  d.Flag(L"Process 3D", &record->process3D);
  d.Flag(L"Separable", &record->separable);
  d.Real(L"Radius (vox)", &record->radius);
  d.Flag(L"Constrain by mask", &record->constrainByMask).EnabledWhen([maskAvailable](const TW_DIALOG_VALUES&) {
    return maskAvailable;
  });
  d.Choice(L"Kernel", &record->kernel,
           {L"Uniform", L"Gaussian", L"Radial", L"Raleigh", L"Median", L"Minimal SI", L"Maximal SI"});
  d.onCheck = [title = d.title](const TW_DIALOG_VALUES& v) {
    if (v.Choice(L"Kernel") <= 4) return true;
    twk::ui().messageBox(L"Kernel : Please enter an integer between 0 and 4.", title, MB_OK | MB_ICONEXCLAMATION);
    return false;
  };
  return TW_RunDialog(d);
}

bool TW_DlgIntervolConstrSmooth(const CString& edgeName, const CString& smoothedName, double noise) {
  VA_IVCS& r = g_IvcsParms;
  const double level = std::floor(noise / 0.1 + 0.5) * 0.1;
  CString edgeText = edgeName, smoothedText = smoothedName, noiseText;
  noiseText.Format(L"%8.2lf", level);
  int32_t reset = 0;
  auto never = [](const TW_DIALOG_VALUES&) { return false; };
  TW_DIALOG d(L"Edge Constrained Smooth", L"CDlgIntervolConstrSmooth");
  d.Text(L"Edge volume:", &edgeText).EnabledWhen(never);
  d.Text(L"Smoothed volume:", &smoothedText).EnabledWhen(never);
  d.Text(L"Edge Noise level =", &noiseText).EnabledWhen(never);
  d.Choice(L"Distance metric", &r.edge.distanceMetric, {L"Signal Difference", L"Earth Mover Distance"});
  d.Choice(L"Voxel weights", &r.edge.voxelWeights, {L"Constant", L"Gaussian", L"Rayleigh", L"Radial"});
  d.Real(L"Low radius (vox)", &r.edge.lowRadius, 1, 20);
  d.Real(L"High radius (vox)", &r.edge.highRadius, 1, 20);
  d.Real(L"Edge signal threshold", &r.edge.edgeThreshold, 0, 65535);
  d.Flag(L"Default edge settings", &reset);
  d.Choice(L"Regional smooth filter", &r.filter, {L"Average", L"Median", L"Gaussian"});
  d.Integer(L"Regional smooth radius (vox)", &r.regionalRadius, 1, 100);
  d.Integer(L"Final smooth radius (vox)", &r.finalRadius, -1, 100);
  if (!TW_RunDialog(d)) return false;
  if (r.edge.lowRadius > r.edge.highRadius) std::swap(r.edge.lowRadius, r.edge.highRadius);
  if (reset) r.edge = VA_URALEDGE{0, 0, 3.0, 3.0, 2.0 * level};
  return true;
}

bool TW_DlgAntsN4(VA_N4PARAM* record) {
  if (!record) return false;
  TW_DIALOG d(L"N4 nonuniformity correction", L"CDlgAntsN4");
  d.Real(L"Air threshold", &record->airThreshold, 0, 1e6);
  d.Integer(L"Number of iterations", &record->iterations, 1, 10000);
  d.Real(L"Spline distance (mm)", &record->splineDistance, 1, 1000);
  d.Real(L"FWHM", &record->fwhm, 1e-7, 100);
  d.Real(L"Noise [0-1.0]", &record->noise, 1e-6, 1);
  d.Flag(L"Output bias field", &record->outputBiasField);
  return TW_RunDialog(d);
}

bool TW_DlgNLMdenoise(bool silent, int variant, VA_NLMDENOISE* record, CVol* volume) {
  (void)volume;
  if (!record) return false;
  TW_DIALOG d(L"Non-local Means Denoising", L"CDlgNLMdenoise");
  d.onInit = [variant](TW_DIALOG_VALUES&) {
    if (variant >= 0 && variant <= 2) return true;
    twk::showNamedError(L"CDlgNLMdenoise::OnInitDialog", L"Invalid dialog variant");
    return false;
  };
  auto radiiEnabled = [variant](const TW_DIALOG_VALUES&) { return variant != 1; };
  d.Flag(L"Use 3D", &record->use3D);
  // The TSM variant shows the two radii greyed without their labels.
  d.Integer(variant == 1 ? L" " : L"Patch radius (vox)", &record->patchRadius).EnabledWhen(radiiEnabled);
  d.Integer(variant == 1 ? L"  " : variant == 2 ? L"Temporal group [2,10000]" : L"Search radius (vox)",
            &record->searchRadius)
      .EnabledWhen(radiiEnabled);
  d.Real(L"Noise sigma", &record->sigma, 1e-6, 1e6);
  d.Real(L"Noise coefficient", &record->coefficient);
  return TW_RunDialog(silent, d);
}
