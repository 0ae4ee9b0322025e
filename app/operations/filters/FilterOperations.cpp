// The smoothing and noise operations of the layer sets.
#include "FilterOperations.h"

#include <utility>

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

namespace twk::filterops {

bool SmoothVolume(CDrawSet& set, bool withoutDialog) {
  const wchar_t* operation = L"CDrawSet::SmoothVolume";
  TW_OPERATION_END end(set.GetDocument(), false);
  CVol* vol = set.WorkVolNonRoi();
  if (!vol) return false;
  CVol* roi = nullptr;
  if (!set.WorkVolROI_SingleOptional(&roi)) return false;
  if (roi && !roi->Is3D()) {
    Named(operation, L"3D ROI is required");
    return false;
  }
  VA_VOLSMOOTH& r = g_VolSmoothParms;
  if (!withoutDialog && !TW_DlgVolSmooth(&r, roi != nullptr)) return false;
  MarkModified(set);
  FramePtr result(r.separable
                       ? VA_VolConvoluteSeparable3D(vol->frame, 0, vol->Spc(), r.kernel, r.radius, true)
                       : VA_VolSmoothWithROI(&r, vol->frame, -1, roi ? roi->frame : nullptr, vol->Spc(), false, true));
  if (!AddFrameAsLayer(set, false, nullptr, vol, std::move(result), LayerFilter(set, vol))) return false;
  set.SetActiveLayerLast();
  return true;
}

bool SingleVolConstrainedSmooth(CDrawSet& set) {
  const wchar_t* operation = L"CDrawSet::SingleVolConstrainedSmooth";
  TW_OPERATION_END end(set.GetDocument(), false);
  CVol* vol = set.WorkVolNonRoi();
  if (!vol) {
    Named(operation, L"No suitable volume is present or enabled");
    return false;
  }
  double noise = 0;
  if (!VA_VolEffectiveNoise(vol, 0, &noise, true)) return false;
  if (!TW_DlgIntervolConstrSmooth(vol->name, vol->name, noise)) return false;
  MarkModified(set);
  FramePtr result(VA_SingleVolConstrainedSmooth(&g_IvcsParms, vol->frame, vol->Spc(), true));
  return AddFrameAsLayer(set, false, nullptr, vol, std::move(result), LayerFilter(set, vol));
}

bool ConstrainedSmooth(CDrawSet& set, CDrawView* view) {
  const wchar_t* operation = L"CDrawSet::ConstrainedSmooth";
  TW_OPERATION_END end(set.GetDocument(), false);
  CVol* edges = set.WorkVolSI();
  if (!edges) {
    Named(operation, L"No suitable volume is present or enabled");
    return false;
  }
  CVol* smoothed = nullptr;
  for (int i = 0; i < set.NumLayers() && !smoothed; ++i) {
    CVol* v = set.GetLayerVol(i);
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
  MarkModified(set);
  FramePtr result(VA_IntervolConstrainedSmooth(&g_IvcsParms, smoothed->effT(t), allTimes, edges->frame,
                                                smoothed->frame, smoothed->Spc(), true));
  return AddFrameAsLayer(set, false, nullptr, smoothed, std::move(result), LayerFilter(set, smoothed));
}

bool RoiSmoothShape(CDrawSet& set) {
  TW_OPERATION_END end(set.GetDocument(), true);
  CVol* roi = twk::roiops::RoiOperand(&set);
  if (!roi) return false;
  static double radius = 2.0;
  if (!TW_EnterDouble(L"Smooth Rad (vox)", &radius)) return false;
  FramePtr result(VA_RoiSmoothShape(roi->frame, radius));
  if (!result) return false;
  MarkModified(set);
  if (!AddFrameAsLayer(set, true, nullptr, roi, std::move(result), nullptr, -1, 0x0000FF)) return false;
  set.SetActiveLayerLast();
  return true;
}

bool MeasureNoise(CDrawSet& set, CDrawView* view, int algorithm) {
  CVol* vol = set.WorkVolNonRoi();
  if (!vol) return false;
  const int t = view ? view->CurrentTime() : 0;
  return VA_VolMeasureNoise(vol, algorithm, t, nullptr, true, true);
}

}  // namespace twk::filterops
