// The smoothing and noise operations of the layer sets.
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "FilterDialogs.h"
#include "FilterOperationKit.h"
#include "OperationScope.h"
#include "Prompts.h"
#include "RoiOperationFrame.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "filters/Filters.h"
#include "volume/Frame.h"

using twk::filterops::AddFrameAsLayer;
using twk::filterops::LayerFilter;
using twk::filterops::MarkModified;
using twk::filterops::Named;

bool CDrawSet::SmoothVolume(CDrawSet* set, bool withoutDialog) { return set && set->SmoothVolume(withoutDialog); }

bool CDrawSet::SmoothVolume(bool withoutDialog) {
  const wchar_t* operation = L"CDrawSet::SmoothVolume";
  TW_OPERATION_END end(GetDocument(), false);
  CVol* vol = WorkVolNonRoi();
  if (!vol) return false;
  CVol* roi = nullptr;
  if (!WorkVolROI_SingleOptional(&roi)) return false;
  if (roi && !roi->Is3D()) {
    Named(operation, L"3D ROI is required");
    return false;
  }
  VA_VOLSMOOTH& r = g_VolSmoothParms;
  if (!withoutDialog && !TW_DlgVolSmooth(&r, roi != nullptr)) return false;
  MarkModified(this);
  FRAME* result = r.separable
                      ? VA_VolConvoluteSeparable3D(vol->frame, 0, vol->Spc(), r.kernel, r.radius, true)
                      : VA_VolSmoothWithROI(&r, vol->frame, -1, roi ? roi->frame : nullptr, vol->Spc(), false, true);
  if (!AddFrameAsLayer(this, false, nullptr, vol, &result, LayerFilter(this, vol))) return false;
  SetActiveLayerLast();
  return true;
}

bool CDrawSet::SingleVolConstrainedSmooth(CDrawSet* set) {
  if (!set) {
    Named(L"CDrawSet::SingleVolConstrainedSmooth", L"No suitable volume is present or enabled");
    return false;
  }
  return set->SingleVolConstrainedSmooth();
}

bool CDrawSet::SingleVolConstrainedSmooth() {
  const wchar_t* operation = L"CDrawSet::SingleVolConstrainedSmooth";
  TW_OPERATION_END end(GetDocument(), false);
  CVol* vol = WorkVolNonRoi();
  if (!vol) {
    Named(operation, L"No suitable volume is present or enabled");
    return false;
  }
  double noise = 0;
  if (!VA_VolEffectiveNoise(vol, 0, &noise, true)) return false;
  if (!TW_DlgIntervolConstrSmooth(vol->name, vol->name, noise)) return false;
  MarkModified(this);
  FRAME* result = VA_SingleVolConstrainedSmooth(&g_IvcsParms, vol->frame, vol->Spc(), true);
  return AddFrameAsLayer(this, false, nullptr, vol, &result, LayerFilter(this, vol));
}

bool CDrawSet::ConstrainedSmooth(CDrawSet* set, CDrawView* view) {
  if (!set) {
    Named(L"CDrawSet::ConstrainedSmooth", L"No suitable volume is present or enabled");
    return false;
  }
  return set->ConstrainedSmooth(view);
}

bool CDrawSet::ConstrainedSmooth(CDrawView* view) {
  const wchar_t* operation = L"CDrawSet::ConstrainedSmooth";
  TW_OPERATION_END end(GetDocument(), false);
  CVol* edges = WorkVolSI();
  if (!edges) {
    Named(operation, L"No suitable volume is present or enabled");
    return false;
  }
  CVol* smoothed = nullptr;
  for (int i = 0; i < NumLayers() && !smoothed; ++i) {
    CVol* v = GetLayerVol(i);
    if (v && v != edges && v->frame && !v->IsROI()) smoothed = v;
  }
  if (!smoothed) {
    Named(operation, L"No suitable volume is present or enabled");
    return false;
  }
  bool allTimes = false;
  if (smoothed->Is4D()) {
    const int answer = TW_ThreeButtonMsgBox(L"Constrained smooth", nullptr, 0, L"All timepoints",
                                            L"Current timepoint only", L"Cancel");
    if (answer != 0 && answer != 1) return false;
    allTimes = answer == 0;
  }
  const int t = view ? view->CurrentTime() : 0;
  double noise = 0;
  if (!VA_VolEffectiveNoise(edges, t, &noise, true)) return false;
  if (!TW_DlgIntervolConstrSmooth(edges->name, smoothed->name, noise)) return false;
  MarkModified(this);
  FRAME* result = VA_IntervolConstrainedSmooth(&g_IvcsParms, smoothed->effT(t), allTimes, edges->frame,
                                               smoothed->frame, smoothed->Spc(), true);
  return AddFrameAsLayer(this, false, nullptr, smoothed, &result, LayerFilter(this, smoothed));
}

bool CDrawSet::RoiSmoothShape(CDrawSet* set) {
  if (!set) {
    twk::roiops::RoiOperand(nullptr);
    return false;
  }
  return set->RoiSmoothShape();
}

bool CDrawSet::RoiSmoothShape() {
  TW_OPERATION_END end(GetDocument(), true);
  CVol* roi = twk::roiops::RoiOperand(this);
  if (!roi) return false;
  static double radius = 2.0;
  if (!TW_EnterDouble(L"Smooth Rad (vox)", &radius)) return false;
  FRAME* result = VA_RoiSmoothShape(roi->frame, radius);
  if (!result) return false;
  MarkModified(this);
  if (!AddFrameAsLayer(this, true, nullptr, roi, &result, nullptr, -1, 0x0000FF)) return false;
  SetActiveLayerLast();
  return true;
}

bool CDrawSet::MeasureNoise(CDrawSet* set, CDrawView* view, int algorithm) {
  return set && set->MeasureNoise(view, algorithm);
}

bool CDrawSet::MeasureNoise(CDrawView* view, int algorithm) {
  CVol* vol = WorkVolNonRoi();
  if (!vol) return false;
  const int t = view ? view->CurrentTime() : 0;
  return VA_VolMeasureNoise(vol, algorithm, t, nullptr, true, true);
}
