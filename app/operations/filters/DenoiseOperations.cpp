// The denoising operations of the layer sets.
#include <chrono>
#include <functional>

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

using twk::filterops::AddFrameAsLayer;
using twk::filterops::LayerFilter;
using twk::filterops::MarkModified;
using twk::filterops::Named;

bool CDrawSet::NLMdenoising(CDrawSet* set) { return set && set->NLMdenoising(); }

bool CDrawSet::NLMdenoising() {
  TW_OPERATION_END end(GetDocument(), false);
  CVol* vol = WorkVolNonRoi();
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
  FRAME* result = fourD ? VA_VolDenoiseNLMD(&g_NlmParms, vol->frame, vol->Spc(), true)
                        : VA_VolDenoiseNLM(&g_NlmParms, vol->frame, vol->Spc(), -1, true);
  if (!result) return false;
  MarkModified(this);
  if (!AddFrameAsLayer(this, false, nullptr, vol, &result, LayerFilter(this, vol))) return false;
  SetActiveLayerLast();
  return true;
}

bool CDrawSet::Incoherence2Map(CDrawSet* set) { return set && set->Incoherence2Map(); }

bool CDrawSet::Incoherence2Map() {
  TW_OPERATION_END end(GetDocument(), false);
  CVol* vol = WorkVolNonRoi();
  if (!vol) return false;
  static double delta = 0.1;
  if (!TW_EnterDouble(L"Time delta (sec)", &delta)) return false;
  FRAME *map = nullptr, *second = nullptr;
  if (!VA_VolIncoherence2map(vol, delta, &map, &second, true)) return false;
  PR_FrameDelete(&second);
  MarkModified(this);
  const CString layerName = PR_GetFileTitleName(vol->name) + L"_" + L"incogerence2";
  return AddFrameAsLayer(this, false, layerName, vol, &map, nullptr, -1, -1, 1);
}

bool CDrawSet::RemoveSliceStreaks(CDrawSet* set, CDrawView* view) { return set && set->RemoveSliceStreaks(view); }

bool CDrawSet::RemoveSliceStreaks(CDrawView* view) {
  TW_OPERATION_END end(GetDocument(), true);
  CVol* vol = WorkVolSI();
  if (!vol) return false;
  const int t = view ? view->CurrentTime() : 0;
  FRAME* result = VA_VolRemoveSliceStreaks(vol->frame, vol->effT(t), true);
  if (!result) return false;
  MarkModified(this);
  return AddFrameAsLayer(this, true, nullptr, vol, &result, LayerFilter(this, vol));
}

namespace {

// Steps 2 to 5 of the TSM family: the dialog on the record, the filter, the result as the new
// active layer (with the source's display filter when copyFilter).
bool runShapeMeans(CDrawSet* set, const wchar_t* layerName, VA_NLMDENOISE* record, int variant, CVol* vol,
                   bool copyFilter, const std::function<FRAME*()>& filter) {
  if (!TW_DlgNLMdenoise(false, variant, record, vol)) return false;
  FRAME* result = filter();
  if (!result) return false;
  MarkModified(set);
  if (!AddFrameAsLayer(set, false, layerName, vol, &result, copyFilter ? LayerFilter(set, vol) : nullptr)) return false;
  set->SetActiveLayerLast();
  return true;
}

}  // namespace

bool CDrawSet::TSMdenoising(CDrawSet* set) { return set && set->TSMdenoising(); }

bool CDrawSet::TSMdenoising() {
  TW_OPERATION_END end(GetDocument(), false);
  CVol *vol = nullptr, *roi = nullptr;
  if (!WorkVolNonROIandROI(false, true, false, &vol, &roi)) return false;
  const auto start = std::chrono::steady_clock::now();
  const bool ok = runShapeMeans(this, L"TSM denoising", &g_TsmParms, 1, vol, true, [&] {
    return VA_VolTemporalShapeMeans(&g_TsmParms, vol->frame, roi ? roi->frame : nullptr, true);
  });
  if (ok) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    PR_DisplayDoubleValue(L"TSM time (sec)", seconds);
  }
  return ok;
}

bool CDrawSet::STSMdenoising(CDrawSet* set) { return set && set->STSMdenoising(); }

bool CDrawSet::STSMdenoising() {
  TW_OPERATION_END end(GetDocument(), false);
  CVol *vol = nullptr, *roi = nullptr;
  if (!WorkVolNonROIandROI(false, true, false, &vol, &roi)) return false;
  return runShapeMeans(this, L"STSM denoising", &g_StsmParms, 2, vol, true, [&] {
    return VA_VolSpaceTemporalShapeMeans(&g_StsmParms, vol->frame, roi ? roi->frame : nullptr, nullptr, true);
  });
}

bool CDrawSet::ModelBasedTSMdenoising(CDrawSet* set) { return set && set->ModelBasedTSMdenoising(); }

bool CDrawSet::ModelBasedTSMdenoising() {
  const wchar_t* operation = L"CDrawSet::ModelBasedTSMdenoising";
  TW_OPERATION_END end(GetDocument(), false);
  CVol *vol = nullptr, *roi = nullptr;
  if (!WorkVolNonROIandROI(false, true, false, &vol, &roi)) return false;
  CVol* model = twk::ops::FindLayerContaining(*this, true, L"model", true);
  if (!model) {
    Named(operation, L"Model volume is required");
    return false;
  }
  if (!model->IsReal() || model->T() < 2) {
    Named(operation, L"wrong model type");
    return false;
  }
  return runShapeMeans(this, L"MTSM denoising", &g_SharedTsmParms, 1, vol, true, [&] {
    return VA_VolModelBasedTemporalShapeMeans(&g_SharedTsmParms, vol->frame, roi ? roi->frame : nullptr, model->frame,
                                              true);
  });
}

bool CDrawSet::ComplexTSMdenoising(CDrawSet* set) {
  if (!set) {
    twk::messageBox(L"Operand is not present", MB_OK | MB_ICONERROR);
    return false;
  }
  return set->ComplexTSMdenoising();
}

bool CDrawSet::ComplexTSMdenoising() {
  TW_OPERATION_END end(GetDocument(), false);
  CVol* roi = twk::roiops::RoiOperand(this);
  if (!roi) return false;
  CVol* re = twk::ops::FindLayerContaining(*this, true, L"complex_re", true);
  CVol* im = re ? twk::ops::FindLayerContaining(*this, true, L"complex_im", true) : nullptr;
  if (!re || !im) return false;
  return runShapeMeans(this, L"Complex TSM denoising", &g_SharedTsmParms, 1, re, false, [&] {
    return VA_ComplexVolTemporalShapeMeans(&g_SharedTsmParms, re->frame, im->frame, roi->frame, true);
  });
}
