// The denoising operations of the layer sets.
#include "DenoiseOperations.h"

#include <chrono>
#include <functional>
#include <utility>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "FilterDialogs.h"
#include "FilterOperationKit.h"
#include "OperationHelpers.h"
#include "OperationScope.h"
#include "Vol.h"
#include "filters/Denoise.h"
#include "Prompts.h"
#include "RoiOperationFrame.h"
#include "TwkUi.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"
#include "volume/Frame.h"

namespace twk::filterops {

bool NLMdenoising(CDrawSet& set) {
  TW_OPERATION_END end(set.GetDocument(), false);
  CVol* vol = set.WorkVolNonRoi();
  if (!vol) return false;
  if (!TW_DlgNLMdenoise(false, 0, &g_NlmParms, vol)) return false;
  bool fourD = false;
  if (vol->Is4D()) {
    // No is the default answer.
    const int answer = twk::ui().messageBox(L"Volume is 4D. Use the NLM-D variant?", L"Tarnwick",
                                            MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2);
    if (answer == IDCANCEL) return false;
    fourD = answer == IDYES;
  }
  FramePtr result(fourD ? VA_VolDenoiseNLMD(&g_NlmParms, vol->frame, vol->Spc(), true)
                         : VA_VolDenoiseNLM(&g_NlmParms, vol->frame, vol->Spc(), -1, true));
  if (!result) return false;
  MarkModified(set);
  if (!AddFrameAsLayer(set, false, nullptr, vol, std::move(result), LayerFilter(set, vol))) return false;
  set.SetActiveLayerLast();
  return true;
}

bool Incoherence2Map(CDrawSet& set) {
  TW_OPERATION_END end(set.GetDocument(), false);
  CVol* vol = set.WorkVolNonRoi();
  if (!vol) return false;
  static double delta = 0.1;
  if (!TW_EnterDouble(L"Time delta (sec)", &delta)) return false;
  FRAME *mapOut = nullptr, *secondOut = nullptr;
  const bool made = VA_VolIncoherence2map(vol, delta, &mapOut, &secondOut, true);
  FramePtr map(mapOut), second(secondOut);  // only the first map becomes a layer
  if (!made) return false;
  MarkModified(set);
  const CString layerName = PR_GetFileTitleName(vol->name) + L"_" + L"incogerence2";
  return AddFrameAsLayer(set, false, layerName, vol, std::move(map), nullptr, -1, -1, 1);
}

bool RemoveSliceStreaks(CDrawSet& set, CDrawView* view) {
  TW_OPERATION_END end(set.GetDocument(), true);
  CVol* vol = set.WorkVolSI();
  if (!vol) return false;
  const int t = view ? view->CurrentTime() : 0;
  FramePtr result(VA_VolRemoveSliceStreaks(vol->frame, vol->effT(t), true));
  if (!result) return false;
  MarkModified(set);
  return AddFrameAsLayer(set, true, nullptr, vol, std::move(result), LayerFilter(set, vol));
}

namespace {

// Steps 2 to 5 of the TSM family: the dialog on the record, the filter, the result as the new
// active layer (with the source's display filter when copyFilter).
bool runShapeMeans(CDrawSet& set, const wchar_t* layerName, VA_NLMDENOISE* record, int variant, CVol* vol,
                   bool copyFilter, const std::function<FRAME*()>& filter) {
  if (!TW_DlgNLMdenoise(false, variant, record, vol)) return false;
  FramePtr result(filter());
  if (!result) return false;
  MarkModified(set);
  if (!AddFrameAsLayer(set, false, layerName, vol, std::move(result), copyFilter ? LayerFilter(set, vol) : nullptr))
    return false;
  set.SetActiveLayerLast();
  return true;
}

}  // namespace

bool TSMdenoising(CDrawSet& set) {
  TW_OPERATION_END end(set.GetDocument(), false);
  CVol *vol = nullptr, *roi = nullptr;
  if (!set.WorkVolNonROIandROI(false, true, false, &vol, &roi)) return false;
  const auto start = std::chrono::steady_clock::now();
  const bool ok = runShapeMeans(set, L"TSM denoising", &g_TsmParms, 1, vol, true, [&] {
    return VA_VolTemporalShapeMeans(&g_TsmParms, vol->frame, roi ? roi->frame : nullptr, true);
  });
  if (ok) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    PR_DisplayDoubleValue(L"TSM time (sec)", seconds);
  }
  return ok;
}

bool STSMdenoising(CDrawSet& set) {
  TW_OPERATION_END end(set.GetDocument(), false);
  CVol *vol = nullptr, *roi = nullptr;
  if (!set.WorkVolNonROIandROI(false, true, false, &vol, &roi)) return false;
  return runShapeMeans(set, L"STSM denoising", &g_StsmParms, 2, vol, true, [&] {
    return VA_VolSpaceTemporalShapeMeans(&g_StsmParms, vol->frame, roi ? roi->frame : nullptr, nullptr, true);
  });
}

bool ModelBasedTSMdenoising(CDrawSet& set) {
  const wchar_t* operation = L"CDrawSet::ModelBasedTSMdenoising";
  TW_OPERATION_END end(set.GetDocument(), false);
  CVol *vol = nullptr, *roi = nullptr;
  if (!set.WorkVolNonROIandROI(false, true, false, &vol, &roi)) return false;
  CVol* model = twk::ops::FindLayerContaining(set, true, L"model", true);
  if (!model) {
    Named(operation, L"Model volume is required");
    return false;
  }
  if (!model->IsReal() || model->T() < 2) {
    Named(operation, L"wrong model type");
    return false;
  }
  return runShapeMeans(set, L"MTSM denoising", &g_SharedTsmParms, 1, vol, true, [&] {
    return VA_VolModelBasedTemporalShapeMeans(&g_SharedTsmParms, vol->frame, roi ? roi->frame : nullptr, model->frame,
                                              true);
  });
}

bool ComplexTSMdenoising(CDrawSet& set) {
  TW_OPERATION_END end(set.GetDocument(), false);
  CVol* roi = twk::roiops::RoiOperand(&set);
  if (!roi) return false;
  CVol* re = twk::ops::FindLayerContaining(set, true, L"complex_re", true);
  CVol* im = re ? twk::ops::FindLayerContaining(set, true, L"complex_im", true) : nullptr;
  if (!re || !im) return false;
  return runShapeMeans(set, L"Complex TSM denoising", &g_SharedTsmParms, 1, re, false, [&] {
    return VA_ComplexVolTemporalShapeMeans(&g_SharedTsmParms, re->frame, im->frame, roi->frame, true);
  });
}

}  // namespace twk::filterops
