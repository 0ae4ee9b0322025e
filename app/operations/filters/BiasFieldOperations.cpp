// The bias-field correction operations of the layer sets.
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "FilterDialogs.h"
#include "FilterOperationKit.h"
#include "OperationScope.h"
#include "Vol.h"
#include "filters/BiasField.h"
#include "volume/Frame.h"

using twk::filterops::AddFrameAsLayer;
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
