#include "SplitThrParms.h"

#include "FilterDialogs.h"
#include "ParameterDialog.h"

namespace {

VA_SPLITTHRPARMS startValues() {
  VA_SPLITTHRPARMS r;
  VA_N3setBasicParms(&r.n3, 1.0);
  r.smoothing.process3D = 1;
  r.smoothing.radius = 2.0;
  r.smoothing.constrainByMask = 0;
  r.smoothing.kernel = VA_VOXWGHT_MEDIAN;
  VA_UralGradBasicParms(&r.gradient, 1, 3.0, 1, 2.0);
  return r;
}

}  // namespace

VA_SPLITTHRPARMS g_SplitThrParms = startValues();

bool TW_DlgSplitThrParms() {
  VA_SPLITTHRPARMS& record = g_SplitThrParms;
  int32_t initial = record.initialSegmentation, n3 = record.n3Correction, smooth = record.smooth;
  VA_N3PARM n3Block = record.n3;
  VA_VOLSMOOTH smoothing = record.smoothing;
  TW_DIALOG d(L"Preprocess for Split by Threshold", L"CDlgSplitThrParms");
  d.Choice(L"Initial segmentation", &initial, {L"Histogram Optimization", L"Visual Split"});
  d.Flag(L"N3 non-uniformity correction", &n3);
  d.Flag(L"Smooth", &smooth);
  d.Button(L"N3 Parameters", [&n3Block](TW_DIALOG_VALUES&) {
    VA_N3PARM edited = n3Block;
    if (TW_DlgN3(&edited)) n3Block = edited;
  });
  d.Button(L"Smooth Parameters", [&smoothing](TW_DIALOG_VALUES&) {
    VA_VOLSMOOTH edited = smoothing;
    if (TW_DlgVolSmooth(&edited, false)) smoothing = edited;
  });
  if (!TW_RunDialog(d)) return false;
  record.initialSegmentation = initial;
  record.n3Correction = n3;
  record.smooth = smooth;
  record.n3 = n3Block;
  record.smoothing = smoothing;
  return true;
}
