// The denoising operations of the layer sets.
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "FilterDialogs.h"
#include "FilterOperationKit.h"
#include "OperationScope.h"
#include "Vol.h"
#include "filters/Denoise.h"
#include "Prompts.h"
#include "TwkUi.h"
#include "paths/FilePaths.h"
#include "volume/Frame.h"

using twk::filterops::AddFrameAsLayer;
using twk::filterops::LayerFilter;
using twk::filterops::MarkModified;

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
