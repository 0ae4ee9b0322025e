#include "FilterDialogs.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <utility>

#include "BicalBatch.h"
#include "PackedText.h"
#include "ParameterDialog.h"
#include "RoiStat3D.h"
#include "TextureEdgeDialog.h"
#include "Vol.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"
#include "roi/RoiStatistics.h"
#include "TwkUi.h"

VA_VOLSMOOTH g_VolSmoothParms;
VA_VOLSMOOTH g_VolSmoothParms2{0, 0, 3.0, 0, VA_VOXWGHT_GAUSSIAN};
VA_IVCS g_IvcsParms;
VA_N4PARAM g_N4Parms;
VA_N3PARM g_N3Parms = [] {
  VA_N3PARM r;
  VA_N3setBasicParms(&r, 2.0);
  return r;
}();
VA_NLMDENOISE g_NlmParms;
VA_BICALZF g_BicalParms;
VA_N4EXPLR g_N4ExplrParms;
VA_BICALEXPLR g_BicalExplrParms;
VA_BICALZF g_BicalBreastFgtParms = [] {
  VA_BICALZF r;
  r.outputReal = 1;
  return r;
}();
VA_NLMDENOISE g_TsmParms{0, 0, 0, 1.0, 1.0};
VA_NLMDENOISE g_StsmParms{0, 0, 100, 1.0, 1.0};
VA_NLMDENOISE g_SharedTsmParms{0, 0, 0, 1.0, 1.0};
VA_PARM_RADIOM2D g_Radiom2DReal;
VA_PARM_RADIOM2D g_Radiom2DInt;
VA_PARM_RADIOM2D g_Radiom2DBatch;

void TW_InitFilterDefaults() {
  g_VolSmoothParms = VA_VOLSMOOTH{};
  g_VolSmoothParms2 = VA_VOLSMOOTH{0, 0, 3.0, 0, VA_VOXWGHT_GAUSSIAN};
  g_IvcsParms = VA_IVCS{};
  g_N4Parms = VA_N4PARAM{};
  VA_N3setBasicParms(&g_N3Parms, 2.0);
  g_NlmParms = VA_NLMDENOISE{};
  g_BicalParms = g_BicalBreastFgtParms = VA_BICALZF{};
  g_N4ExplrParms = VA_N4EXPLR{};
  g_BicalExplrParms = VA_BICALEXPLR{};
  g_BicalExplrParms.bical = g_BicalParms;
  g_BicalBreastFgtParms.outputReal = 1;
  TW_InitBicalBatchDefaults();
  g_TsmParms = g_SharedTsmParms = VA_NLMDENOISE{0, 0, 0, 1.0, 1.0};
  g_StsmParms = VA_NLMDENOISE{0, 0, 100, 1.0, 1.0};
  g_Radiom2DReal = g_Radiom2DInt = g_Radiom2DBatch = VA_PARM_RADIOM2D{};
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
  auto never = [](const TW_DIALOG_VALUES&) { return false; };
  TW_DIALOG d(L"Edge Constrained Smooth", L"CDlgIntervolConstrSmooth");
  d.Text(L"Edge volume:", &edgeText).EnabledWhen(never);
  d.Text(L"Smoothed volume:", &smoothedText).EnabledWhen(never);
  d.Text(L"Edge Noise level =", &noiseText).EnabledWhen(never);
  d.Choice(L"Regional smooth filter", &r.filter, {L"Average", L"Median", L"Gaussian"});
  d.Integer(L"Regional smooth radius (vox)", &r.regionalRadius, 1, 100);
  d.Integer(L"Final smooth radius (vox)", &r.finalRadius, -1, 100);
  // Both buttons change the record's edge settings at once: the change stays when the dialog is
  // then cancelled.
  d.Button(L"Edge Settings", [&r](TW_DIALOG_VALUES&) { TW_DlgTextureEdge(&r.edge); });
  d.Button(L"Default", [&r, level](TW_DIALOG_VALUES&) { r.edge = VA_URALEDGE{0, 0, 3.0, 3.0, 2.0 * level}; });
  return TW_RunDialog(d);
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

bool TW_DlgN3(VA_N3PARM* record) {
  if (!record) return false;
  TW_DIALOG d(L"N3 - Bias Field Correction", L"CDlgN3");
  d.Real(L"Field smoothness (mm)", &record->fieldSmoothness, 0.001, 1000);
  d.Integer(L"Number of iterations", &record->iterations, 0, 100000);
  d.Real(L"Subsample [1.0-5.0]", &record->subsample, 1, 5);
  d.Real(L"FWHM", &record->fwhm, 0, 100000);
  d.Real(L"Noise [0-1.0]", &record->noise, 0, 1);
  d.Flag(L"Pad volume", &record->padVolume).EnabledWhen([](const TW_DIALOG_VALUES&) { return false; });
  d.Flag(L"Dynamic field", &record->dynamicField);
  d.Flag(L"Output bias field", &record->outputBiasField);
  return TW_RunDialog(d);
}

bool TW_DlgBicalZF(bool silent, CVol* volume, VA_BICALZF* record) {
  if (!record) return false;
  double noise = 0;
  CString noiseText, degreeText;
  // The background transition is an integer edit: truncated on the way in, a double again on OK.
  int32_t transition = int32_t(std::trunc(std::clamp(record->backgroundTransition, -2e9, 2e9)));
  TW_DIALOG d(L"BiCal Parameters", L"CDlgBicalZF");
  auto never = [](const TW_DIALOG_VALUES&) { return false; };
  auto notGradient = [](const TW_DIALOG_VALUES& v) { return v.Choice(L"Region separation") != 2; };
  auto gradient = [](const TW_DIALOG_VALUES& v) { return v.Choice(L"Region separation") == 2; };
  d.Choice(L"Basis functions", &record->basis,
           {L"Legendre polynomial", L"Chebyshev first kind", L"Chebyshev second kind", L"Regular polynomial", L"Cosine"});
  d.Real(L"Processing scale", &record->processingScale, 0.1, 10);
  d.Real(L"Field precision (mm)", &record->fieldPrecision, 1, 1000);
  d.Text(L"max deg", &degreeText).EnabledWhen(never);
  d.Real(L"Max correction", &record->maxCorrection, 1, 100);
  d.Real(L"Air level (*noise)", &record->airLevel);
  d.Text(L"Noise", &noiseText).EnabledWhen(never);
  d.Real(L"Low signal level", &record->lowSignal, 0, 10000).EnabledWhen(notGradient);
  d.Choice(L"Region separation", &record->separation, {L"Regular Edge", L"Thin Edge", L"Gradient (time+)"});
  d.Flag(L"Adaptive edge (time+)", &record->adaptiveEdge).EnabledWhen(notGradient);
  d.Real(L"Gradient radius (vox)", &record->gradientRadius);
  d.Real(L"Edge level (*noise)", &record->edgeLevel).EnabledWhen(notGradient);
  d.Real(L"Gradient inclusion [0,1]", &record->gradientInclusion).EnabledWhen(gradient);
  d.Real(L"Region smooth eps", &record->regionSmoothEps).EnabledWhen(notGradient);
  d.Integer(L"Background transition (mm)", &transition);
  d.Flag(L"Real voxels", &record->outputReal);
  d.Flag(L"Field", &record->outputField);
  d.Flag(L"Work mask", &record->outputWorkMask);
  d.Flag(L"All documents", &record->allDocuments);
  d.onInit = [&](TW_DIALOG_VALUES& v) {
    if (volume && volume->frame) {
      if (!VA_VolDiffNoise2D(volume->frame, 0, &noise, true)) return false;
      noiseText.Format(L"(noise=%8.5lf)", noise);
      v.SetText(L"Noise", noiseText);
    }
    const int degree =
        volume && volume->frame ? VA_BicalFieldDegree(volume->Dim(), volume->Spc(), record->fieldPrecision) : 0;
    degreeText.Format(L"max deg=%u", unsigned(degree));
    v.SetText(L"max deg", degreeText);
    return true;
  };
  if (!TW_RunDialog(silent, d)) return false;
  record->backgroundTransition = double(transition);
  return true;
}

bool TW_DlgN4Explr() {
  // The record is byte-packed: the dialog edits aligned copies and writes them back on OK.
  VA_N4PARAM n4 = g_N4ExplrParms.n4;
  double minSpline = g_N4ExplrParms.minSplineDistance, maxSpline = g_N4ExplrParms.maxSplineDistance;
  double minFwhm = g_N4ExplrParms.minFwhm, maxFwhm = g_N4ExplrParms.maxFwhm;
  double minNoise = g_N4ExplrParms.minNoise, maxNoise = g_N4ExplrParms.maxNoise;
  int32_t splineGrid = g_N4ExplrParms.splineDistanceGrid, fwhmGrid = g_N4ExplrParms.fwhmGrid,
          noiseGrid = g_N4ExplrParms.noiseGrid;
  TW_DIALOG d(L"N4 Explorer", L"CDlgN4Explr");
  d.Real(L"Min spline distance (mm)", &minSpline, 1, 1000);
  d.Real(L"Max spline distance (mm)", &maxSpline, 1, 1000);
  d.Integer(L"Spline distance grid", &splineGrid, 1, 100);
  d.Real(L"Min FWHM", &minFwhm, 1e-4, 1);
  d.Real(L"Max FWHM", &maxFwhm, 1e-4, 1);
  d.Integer(L"FWHM grid", &fwhmGrid, 1, 100);
  d.Real(L"Min noise", &minNoise, 1e-4, 1);
  d.Real(L"Max noise", &maxNoise, 0.001, 1);
  d.Integer(L"Noise grid", &noiseGrid, 1, 100);
  d.Button(L"N4 Parameters", [&n4](TW_DIALOG_VALUES&) { TW_DlgAntsN4(&n4); });
  if (!TW_RunDialog(d)) return false;
  g_N4ExplrParms.n4 = n4;
  g_N4ExplrParms.minSplineDistance = minSpline, g_N4ExplrParms.maxSplineDistance = maxSpline;
  g_N4ExplrParms.splineDistanceGrid = splineGrid;
  g_N4ExplrParms.minFwhm = minFwhm, g_N4ExplrParms.maxFwhm = maxFwhm, g_N4ExplrParms.fwhmGrid = fwhmGrid;
  g_N4ExplrParms.minNoise = minNoise, g_N4ExplrParms.maxNoise = maxNoise, g_N4ExplrParms.noiseGrid = noiseGrid;
  return true;
}

bool TW_DlgBicalExplorer(VA_BICALEXPLR* record) {
  if (!record) return false;
  VA_BICALZF bical = record->bical;
  double minRadius = record->minEdgeRadius, maxRadius = record->maxEdgeRadius;
  int32_t minPower = std::min(record->minSmoothPower, record->maxSmoothPower),
          maxPower = std::max(record->minSmoothPower, record->maxSmoothPower), powerGrid = record->smoothPowerGrid;
  int32_t minDegree = std::min(record->minDegree, record->maxDegree),
          maxDegree = std::max(record->minDegree, record->maxDegree);
  TW_DIALOG d(L"BiCal Explorer Parameters", L"CDlgBicalExplorer");
  d.Real(L"Min edge radius", &minRadius, 1, 20);
  d.Real(L"Max edge radius", &maxRadius, 1, 20);
  d.Integer(L"Min smooth power [0,200]", &minPower, 0, 1000);
  d.Integer(L"Max smooth power [0,200]", &maxPower, 0, 1000);
  d.Integer(L"Smooth power grid", &powerGrid, 1, 1000);
  d.Integer(L"Min polynomial degree [0,22]", &minDegree, 0, 100);
  d.Integer(L"Max polynomial degree [0,22]", &maxDegree, 0, 100);
  d.Button(L"BiCal parameters", [&bical](TW_DIALOG_VALUES&) { TW_DlgBicalZF(false, nullptr, &bical); });
  if (!TW_RunDialog(d)) return false;
  record->bical = bical;
  record->minEdgeRadius = minRadius, record->maxEdgeRadius = maxRadius;
  record->minSmoothPower = minPower, record->maxSmoothPower = maxPower, record->smoothPowerGrid = powerGrid;
  record->minDegree = minDegree, record->maxDegree = maxDegree;
  return true;
}

bool TW_DlgNLMdenoise(bool silent, int variant, VA_NLMDENOISE* record, CVol* volume) {
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
  // "Get noise": the operand's in-plane difference noise (the median over its time points) replaces
  // the shown sigma; a failed estimate leaves it as it was.
  d.Button(L"Get noise", [volume](TW_DIALOG_VALUES& v) {
    double sigma = 0;
    if (volume && volume->frame && VA_VolDiffNoise2D(volume->frame, -1, &sigma, true))
      v.SetText(L"Noise sigma", TW_RoundTripText(sigma));
  });
  return TW_RunDialog(silent, d);
}

namespace {

// The histogram step: the 3D ROI statistics of the volume at time point t over the ROI (the whole
// volume without one), whose OK writes range, bin width and clip into preset. The dialog only
// reads the ROI, so its frame is handed over as it is.
bool histogramStep(CVol* volume, int t, CVol* roi, const CString& roiName, int colour, ROISTATPRESET* preset) {
  if (!volume) return false;
  return TW_DlgRoiStat3D(volume, t, roi ? roi->frame : nullptr, roiName, colour, preset, nullptr, false);
}

bool defined(const ROISTATPRESET& p) {
  return p.rangeLow != VOID_VALUE && p.rangeHigh != VOID_VALUE && p.binWidth != VOID_VALUE;
}

CString discretisationText(const ROISTATPRESET& p) {
  if (!defined(p)) return L"Undefined";
  double width = p.binWidth;
  int bins = 0;
  if (!VA_CalcRangeBins(p.rangeLow, p.rangeHigh, &width, &bins)) bins = 0;
  CString text;
  text.Format(L"Range [%e,%e]  Bin width (%e)  Bins (%u)  Clip range (%u)", p.rangeLow, p.rangeHigh, p.binWidth, unsigned(bins),
              unsigned(p.clip));
  return text;
}

}  // namespace

bool TW_DlgRadiomics2D(bool silent, CVol* volume, int t, CVol* roi, int colour, VA_PARM_RADIOM2D* record) {
  if (!record) return false;
  // The dialog edits copies; the record is written only by an OK that passes.
  VA_PARM_RADIOM2D r = *record;
  CString distances = twk::packedText(r.distances, 32);
  const CString roiName = roi ? PR_GetFileTitleName(roi->name) : CString(L"whole volume");
  CString shown = discretisationText(r.discretisation);
  int32_t change = 0;
  TW_DIALOG d(L"Radiomics Features 2D", L"CDlgRadiomics2D");
  d.Flag(L"First order", &r.firstOrder);
  d.Flag(L"Gray Level Co-occurrence Matrix (GLCM)", &r.glcm);
  d.Flag(L"Symmetric", &r.symmetric);
  d.Text(L"Distance list", &distances);
  d.Choice(L"Averaging weights", &r.weights,
           {L"No averaging", L"Constant", L"Infinity norm", L"Euclidinan norm", L"Manhattan norm"});
  d.Flag(L"Gray Level Run Length Matrix (GLRLM)", &r.glrlm);
  d.Flag(L"Gray Level Dependence Matrix (GLDM)", &r.gldm);
  d.Integer(L"Dependence eps", &r.dependenceEps);
  d.Real(L"Working resolution (mm)", &r.resolution);
  d.Flag(L"Include header row", &r.headerRow);
  d.Flag(L"To tab-delimited file", &r.toFile);
  d.Flag(L"To Clipboard", &r.toClipboard);
  const CString group = roi ? L"Discretization (over ROI : " + roiName + L")" : CString(L"Discretization (over whole volume)");
  auto withVolume = [volume](const TW_DIALOG_VALUES&) { return volume != nullptr; };
  d.Text(group, &shown).EnabledWhen([](const TW_DIALOG_VALUES&) { return false; });
  d.Flag(L"Change discretization", &change).EnabledWhen(withVolume);
  // The histogram step on a copy of the ROI (or the whole volume) writes the dialog's discretisation.
  auto step = [&]() { return histogramStep(volume, t, roi, roiName, colour, &r.discretisation); };
  d.onCheck = [&, title = d.title](const TW_DIALOG_VALUES& v) {
    if (v.Text(L"Distance list").GetLength() > 31) {
      if (!silent)
        twk::ui().messageBox(L"Distance list : at most 31 characters", title, MB_OK | MB_ICONEXCLAMATION);
      return false;
    }
    if (!volume) return true;
    if (v.Checked(L"Change discretization")) {
      if (silent) return false;
      step();
      return defined(r.discretisation);
    }
    if (defined(r.discretisation)) return true;
    // Undefined: refused; outside a silent run the user is told and the histogram step runs.
    if (silent) return false;
    PR_ShowStop(L"Histogram-based discretization is undefined.");
    if (step() && defined(r.discretisation)) record->discretisation = r.discretisation;
    return false;
  };
  if (!TW_RunDialog(silent, d)) return false;
  twk::setPackedText(r.distances, 32, distances);
  *record = r;
  return true;
}
