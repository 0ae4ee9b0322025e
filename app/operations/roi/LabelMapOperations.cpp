// Operations that split an ROI into layers or combine several layers into one.
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "DocMessages.h"
#include "RoiOperationFrame.h"
#include "TwkMem.h"
#include "Vol.h"
#include "roi/RoiComponents.h"
#include "volume/Frame.h"

using namespace twk::roiops;

bool CDrawSet::RoiSplitComponentsToLayers(CDrawSet* set) {
  if (!set) {
    CDrawSet::WorkVolROI(nullptr, nullptr);
    return false;
  }
  return set->RoiSplitComponentsToLayers();
}

bool CDrawSet::RoiSplitComponentsToLayers() {
  OperationEnd end(GetDocument(), true);
  int candidates = 0;
  CVol* roi = WorkVolROI(&candidates);
  if (!roi) {
    if (candidates > 1) twk::doc::message(nullptr, TW_AMBIGUOUS_LAYERS);
    else if (IsVolumeSet()) twk::doc::message(nullptr, L"ROI is not present or enabled");
    return false;
  }
  int n = 0;
  FRAME** parts = VA_RoiSplitConnectedComponents(roi->frame, 26, &n, true);
  if (!parts) return false;
  if (CDrawDoc* doc = GetDocument()) doc->SetModifiedFlag();
  twk::ProgressGuard progress(L"Adding layers", true);
  bool ok = true;
  for (int i = 0; i < n && ok; ++i) {
    // Esc keeps the layers added so far and the source ROI.
    if (!progress.Step(i, n, 1, 98)) {
      ok = false;
      break;
    }
    ok = AddResultLayer(false, false, FmtStr(L"region %u", unsigned(i)), roi, &parts[i], 30, 0, int(NewRoiColor()));
  }
  if (ok) DeleteLayerVol(&roi);
  progress.End();
  PR_FrameArrDelete(&parts, n);
  return ok;
}
