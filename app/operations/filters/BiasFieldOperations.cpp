// The bias-field correction operations of the layer sets.
#include "BiasFieldOperations.h"

#include <utility>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "FilterDialogs.h"
#include "FilterOperationKit.h"
#include "OperationScope.h"
#include "Vol.h"
#include "filters/BiasField.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"
#include "volume/Frame.h"

namespace twk::filterops {

bool N4BiasCorrection(CDrawSet& set, CDrawView* view) {
  TW_OPERATION_END end(set.GetDocument(), false);
  CVol* vol = set.WorkVolNonRoi();
  if (!vol) return false;
  const int t = view ? view->CurrentTime() : 0;
  if (!TW_DlgAntsN4(&g_N4Parms)) return false;
  FramePtr result(VA_VolN4(vol, &g_N4Parms, t, nullptr, nullptr, true));
  if (!result) return false;
  MarkModified(set);
  // The text is the whole layer name.
  const wchar_t* layerName = g_N4Parms.outputBiasField ? L"_N4_BiasField" : L"_N4";
  if (!AddFrameAsLayer(set, false, layerName, vol, std::move(result), nullptr)) return false;
  set.SetActiveLayerLast();
  return true;
}

bool VolProc_N3(CDrawSet& set, CDrawView* view, bool withDialog) {
  TW_OPERATION_END end(set.GetDocument(), true);
  CVol* vol = set.WorkVolNonRoi();
  if (!vol) {
    Named(L"CDrawSet::VolProc_N3", L"Integer or Real volume is required");
    return false;
  }
  const int t = vol->effT(view ? view->CurrentTime() : 0);
  if (t != 0 && !PR_AskYesNo(L"Generally a starting timepoint would be specified.\nProceed anyway?")) return false;
  // A cancelled dialog counts as done.
  if (withDialog && !TW_DlgN3(&g_N3Parms)) return true;
  FramePtr result(VA_N3padded(vol->frame, nullptr, vol->Spc(), t, &g_N3Parms, true));
  if (!result) return false;
  MarkModified(set);
  const CString layerName = PR_AddFileNameSfx(vol->name, g_N3Parms.outputBiasField ? L"_N3_BiasField" : L"_N3");
  if (!AddFrameAsLayer(set, true, layerName, vol, std::move(result), nullptr, 100)) return false;
  set.SetActiveLayerLast();
  return true;
}

bool Bical(CDrawSet& set, int mode, VA_BICALZF* record) {
  (void)mode;  // both menu rows pass 0
  TW_OPERATION_END end(set.GetDocument(), true);
  CVol* vol = set.WorkVolNonRoi();
  if (!vol || !record) return false;
  if (!TW_DlgBicalZF(false, vol, record)) return false;
  FramePtr result(VA_VolBicalZF(record, vol->frame, vol->Spc(), 0, true));
  if (!result) return false;
  MarkModified(set);
  const CString layerName = PR_AddFileNameSfx(vol->name, record->outputField ? L"_BiCalField" : L"_BiCal");
  const PR_VIEWFILT* filter = record->outputWorkMask ? nullptr : LayerFilter(set, vol);
  if (!AddFrameAsLayer(set, false, layerName, vol, std::move(result), filter)) return false;
  set.SetActiveLayerLast();
  return true;
}

}  // namespace twk::filterops
