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
