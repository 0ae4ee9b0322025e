// The bias-field correction operations of the layer sets.
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

using twk::filterops::AddFrameAsLayer;
using twk::filterops::LayerFilter;
using twk::filterops::MarkModified;

bool CDrawSet::N4BiasCorrection(CDrawSet* set, CDrawView* view) { return set && set->N4BiasCorrection(view); }

bool CDrawSet::N4BiasCorrection(CDrawView* view) {
  TW_OPERATION_END end(GetDocument(), false);
  CVol* vol = WorkVolNonRoi();
  if (!vol) return false;
  const int t = view ? view->CurrentTime() : 0;
  if (!TW_DlgAntsN4(&g_N4Parms)) return false;
  FRAME* result = VA_VolN4(vol, &g_N4Parms, t, nullptr, nullptr, true);
  if (!result) return false;
  MarkModified(this);
  // The text is the whole layer name.
  if (!AddFrameAsLayer(this, false, g_N4Parms.outputBiasField ? L"_N4_BiasField" : L"_N4", vol, &result, nullptr))
    return false;
  SetActiveLayerLast();
  return true;
}

bool CDrawSet::VolProc_N3(CDrawSet* set, CDrawView* view, bool withDialog) {
  return set && set->VolProc_N3(view, withDialog);
}

bool CDrawSet::VolProc_N3(CDrawView* view, bool withDialog) {
  TW_OPERATION_END end(GetDocument(), true);
  CVol* vol = WorkVolNonRoi();
  if (!vol) {
    twk::filterops::Named(L"CDrawSet::VolProc_N3", L"Integer or Real volume is required");
    return false;
  }
  const int t = vol->effT(view ? view->CurrentTime() : 0);
  if (t != 0 && !PR_AskYesNo(L"Generally a starting timepoint would be specified.\nProceed anyway?")) return false;
  // A cancelled dialog counts as done.
  if (withDialog && !TW_DlgN3(&g_N3Parms)) return true;
  FRAME* result = VA_N3padded(vol->frame, nullptr, vol->Spc(), t, &g_N3Parms, true);
  if (!result) return false;
  MarkModified(this);
  const CString layerName = PR_AddFileNameSfx(vol->name, g_N3Parms.outputBiasField ? L"_N3_BiasField" : L"_N3");
  if (!AddFrameAsLayer(this, true, layerName, vol, &result, nullptr, 100)) return false;
  SetActiveLayerLast();
  return true;
}

bool CDrawSet::Bical(CDrawSet* set, int mode, VA_BICALZF* record) { return set && set->Bical(mode, record); }

bool CDrawSet::Bical(int mode, VA_BICALZF* record) {
  (void)mode;  // both menu rows pass 0
  TW_OPERATION_END end(GetDocument(), true);
  CVol* vol = WorkVolNonRoi();
  if (!vol || !record) return false;
  if (!TW_DlgBicalZF(false, vol, record)) return false;
  FRAME* result = VA_VolBicalZF(record, vol->frame, vol->Spc(), 0, true);
  if (!result) return false;
  MarkModified(this);
  const CString layerName = PR_AddFileNameSfx(vol->name, record->outputField ? L"_BiCalField" : L"_BiCal");
  if (!AddFrameAsLayer(this, false, layerName, vol, &result, record->outputWorkMask ? nullptr : LayerFilter(this, vol)))
    return false;
  SetActiveLayerLast();
  return true;
}
