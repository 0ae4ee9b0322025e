#include "RoiDialogs.h"

#include "ParameterDialog.h"
#include "TwkMem.h"

// The records are byte-packed, so their multi-byte fields are edited through aligned copies that
// an OK writes back.

bool TW_DlgRoiInflate(ROIPEELGROW* record) {
  if (!record) return false;
  double radius = record->radius;
  TW_DIALOG d(record->grow ? L"Grow ROI" : L"Peel ROI", L"CDlgRoiInflate");
  d.Real(L"Radius", &radius);
  d.Flag(L"Use voxels (uncheck for mm)", &record->useVoxels);
  d.Flag(L"All layers", &record->allLayers);
  d.Flag(L"3D mode", &record->mode3D);
  if (!TW_RunDialog(d)) return false;
  record->radius = radius;
  return true;
}

VA_SALTPEPPER g_SaltPepperParms;

bool TW_DlgSaltPepper() {
  VA_SALTPEPPER& r = g_SaltPepperParms;
  int32_t salt = r.saltThreshold, pepper = r.pepperThreshold;
  TW_DIALOG d(L"\"Salt & Pepper\" Artefact Removal", L"CDlgSaltPepper");
  d.Flag(L"2D mode", &r.mode2D);
  d.Flag(L"Salt removal", &r.saltRemoval);
  d.Integer(L"Salt weight threshold", &salt, 0, 1000000);
  d.Flag(L"Pepper removal", &r.pepperRemoval);
  d.Integer(L"Pepper weight threshold", &pepper, 0, 1000000);
  if (!TW_RunDialog(d)) return false;
  r.saltThreshold = salt;
  r.pepperThreshold = pepper;
  return true;
}

VA_LINCONV g_LinConvParms;

bool TW_DlgVolLinAmplif() {
  VA_LINCONV& r = g_LinConvParms;
  double coefficient = r.coefficient, bias = r.bias, low = r.lowLimit, high = r.highLimit;
  TW_DIALOG d(L" Linear Converison", L"CDlgVolLinAmplif");
  d.Real(L"Coefficient", &coefficient);
  d.Real(L"Bias", &bias);
  d.Real(L"Low limit", &low);
  d.Real(L"High limit", &high);
  if (!TW_RunDialog(d)) return false;
  r = VA_LINCONV{coefficient, bias, low, high};
  return true;
}

bool TW_DlgVolNormalize(const VA_ROIINFO* info, int* type, double* stdev, double* coefficient) {
  if (!info || !type || !stdev || !coefficient) return false;
  int32_t method = 0;  // "Division by coefficient" each time
  double mean = info->mean, deviation = info->stdev;
  TW_DIALOG d(L"Volume Normalization", L"CDlgVolNormalize");
  d.Choice(L"MIN / MAX / AVERAGE / STDDEV: " +
               FmtStr(L"%e / %e / %e / %e", info->minimum, info->maximum, info->mean, info->stdev),
           &method, {L"Division by coefficient", L"Z-score"});
  d.Real(L"Normalization coefficient", &mean);
  d.Real(L"Region stdev", &deviation);
  if (!TW_RunDialog(d)) return false;
  *type = method;
  *coefficient = mean;
  *stdev = deviation;
  return true;
}

VA_VOLNODEPARM g_NodVolParms;

bool TW_DlgNodVol() {
  VA_VOLNODEPARM& r = g_NodVolParms;
  double background = r.background, groundGlass = r.groundGlass, solid = r.solid, threshold = r.threshold;
  double pure = r.purePercent, low = r.lowClamp, high = r.highClamp, deltaR = r.targetDeltaR;
  TW_DIALOG d(L"Nodule Volume Measurement", L"CDlgNodVol");
  d.Real(L"Background attenuation", &background, 0, 65200);
  d.Real(L"Ground glass nodule attenuation", &groundGlass, 0, 65200);
  d.Real(L"Solid nodule attenuation", &solid, 0, 65200);
  d.Real(L"Assumed threshold  GG\\SN", &threshold, 0, 65200);
  d.Real(L"Pure percent", &pure, 0, 100);
  d.Real(L"Low clamp", &low, 0, 1);
  d.Real(L"High clamp", &high, 0, 100);
  d.Real(L"Target DeltaR", &deltaR, 0, 100);
  if (!TW_RunDialog(d)) return false;
  r.background = int32_t(background);
  r.groundGlass = int32_t(groundGlass);
  r.solid = int32_t(solid);
  r.threshold = int32_t(threshold);
  r.purePercent = pure;
  r.lowClamp = low;
  r.highClamp = high;
  r.targetDeltaR = deltaR;
  return true;
}

bool TW_DlgLungSeg4D(VA_SEGLUNG4D* lung, VA_SEGTRACHEA4D* trachea, bool silent) {
  if (!lung || !trachea) return false;
  // Aligned copies of the packed fields, written back on OK.
  uint8_t nonuniformity = lung->nonuniformityCorrection, fringes = lung->correctFringes;
  uint8_t excludeTrachea = lung->excludeTrachea, lungMask = lung->outputLungMask;
  uint8_t tracheaMask = trachea->outputTracheaMask;
  double precision = lung->biasFieldPrecision, smooth = lung->smoothRadius, air = lung->airThreshold;
  double bodyRadius = lung->bodyFilterRadius, bodyThreshold = lung->bodyFilterThreshold, split = lung->lungSplit;
  double thickness = lung->minLungThickness;
  double zone = trachea->centralZoneWidth, adaptive = trachea->adaptiveFilterRadius;
  double filter = trachea->filterThreshold, radius = trachea->minRadius;
  TW_DIALOG d(L"Lung and Trachea Segmentation 4D", L"CDlgLungSeg4D");
  d.Flag(L"Nonuniformity correction", &nonuniformity);
  d.Real(L"Bias field precision (mm)", &precision, 5, 200);
  d.Real(L"Smooth radius (mm)", &smooth, 0, 100);
  d.Real(L"Air threshold (xNoise)", &air);
  d.Real(L"Body filter radius (mm)", &bodyRadius, 1, 1000);
  d.Real(L"Body filter threshold [0,1]", &bodyThreshold);
  d.Real(L"L\\R lung split (mm)", &split, 0, 100);
  d.Real(L"Min lung thickness (mm)", &thickness);
  d.Flag(L"Correct fringes", &fringes);
  d.Flag(L"Exclude trachea mask", &excludeTrachea);
  d.Flag(L"Output lung mask", &lungMask);
  d.Real(L"Central zone width (mm)", &zone, 0, 200);
  d.Real(L"Adaptive filter radius (mm)", &adaptive, 0, 200);
  d.Real(L"Filter threshold [0,1]", &filter, 0, 200);
  d.Real(L"Trachea min radius(mm)", &radius, 2, 100);
  d.Flag(L"Output trachea mask", &tracheaMask);
  if (!TW_RunDialog(silent, d)) return false;
  if (silent) return true;
  lung->nonuniformityCorrection = nonuniformity ? 1 : 0;
  lung->biasFieldPrecision = precision;
  lung->smoothRadius = smooth;
  lung->airThreshold = air;
  lung->bodyFilterRadius = bodyRadius;
  lung->bodyFilterThreshold = bodyThreshold;
  lung->lungSplit = split;
  lung->minLungThickness = thickness;
  lung->correctFringes = fringes ? 1 : 0;
  lung->excludeTrachea = excludeTrachea ? 1 : 0;
  lung->outputLungMask = lungMask ? 1 : 0;
  trachea->centralZoneWidth = zone;
  trachea->adaptiveFilterRadius = adaptive;
  trachea->filterThreshold = filter;
  trachea->minRadius = radius;
  trachea->outputTracheaMask = tracheaMask ? 1 : 0;
  return true;
}
