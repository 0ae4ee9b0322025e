#include "DetectSpotsDialog.h"

#include "ParameterDialog.h"

VA_DETECTSPOTS g_DetectSpotsParms;

bool TW_DlgDetectSpots() {
  VA_DETECTSPOTS& r = g_DetectSpotsParms;
  // Aligned copies of the packed record's fields, written back on OK.
  double threshold = r.featureThreshold, radius = r.smoothRadius;
  int32_t size = r.maxSpotSize;
  TW_DIALOG d(L"Detect Spots", L"CDlgDetectSpots");
  d.Flag(L"3D mode", &r.mode3D);
  d.Real(L"Feature threshold [0,1]", &threshold, 0, 1);
  d.Real(L"Smooth radius (vox)", &radius, 0, 100);
  d.Integer(L"Max spot size (vox)", &size, 1, 10000);
  if (!TW_RunDialog(d)) return false;
  r.featureThreshold = threshold;
  r.smoothRadius = radius;
  r.maxSpotSize = size;
  return true;
}
