// Detectors of the layer sets: dark or bright spots and ridges of a 3D signal volume.
#include "DetectorOperations.h"

#include "DetectSpotsDialog.h"
#include "DocHooks.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "SegOperationEnd.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "ImageOpen.h"
#include "RidgeDialog.h"
#include "docsupport/DocSupport.h"
#include "paths/FilePaths.h"
#include "TwkMem.h"
#include "Vol.h"
#include "roi/Detectors.h"
#include "roi/Ridges.h"
#include "volume/Frame.h"

namespace twk::seg {

bool DetectSpots(CDrawSet& set, bool bright) {
  RedrawAtEnd end{set.GetDocument()};
  CVol* vol = set.IsVolumeSet() ? set.WorkVolNonRoi() : nullptr;
  if (!vol || !vol->frame || vol->Is4D()) {
    twk::doc::message(L"CDrawSet::DetectSpots", L"3D volume is required");
    return false;
  }
  if (!TW_DlgDetectSpots()) return false;
  // The command's polarity decides which spots are found.
  FramePtr spots(VA_VolDetectSpots(bright, &g_DetectSpotsParms, vol->frame, &vol->spc, true));
  if (!spots) return false;
  return set.AddResultLayer(false, false, L"spots", vol, FrameHandOff(spots), -1, 0, -1);
}

bool SegmentRidges(CDrawSet& set, bool bright, VA_RIDGEPARM* record, bool silent) {
  const wchar_t* operation = L"CDrawSet::SegmentRidges";
  CVol* vol = set.IsVolumeSet() ? set.WorkVolNonRoi() : nullptr;
  if (!vol || !vol->frame || vol->Is4D()) {
    twk::doc::message(operation, L"3D volume is required");
    return false;
  }
  if (!record || !TW_DlgRidgeDetect(record, silent)) return false;
  FRAME* baseOut = nullptr;
  FRAME* ridgesOut = nullptr;
  SPC spacing;
  const bool detected = VA_VolDetectRelativeRidges(bright, record, vol->frame, 0, &vol->spc, false, &baseOut,
                                                   &ridgesOut, &spacing, true);
  FramePtr base(baseOut), ridges(ridgesOut);
  if (!detected) return false;
  // The base becomes a document of its own, the ridges its layer "Ridges".
  CVol* baseVol = VA_CloneByReformat(vol, FrameHandOff(base), &spacing, nullptr, nullptr, false);
  base.reset();
  CDrawDoc* doc = baseVol ? TW_CreateDocumentByClone(PR_AddFileNameSfx(vol->name, L"_base"), baseVol, nullptr, nullptr,
                                                     nullptr, true)
                          : nullptr;
  delete baseVol;
  CDrawSet* target = doc ? doc->GetActiveSet() : nullptr;
  bool added = false;
  if (target) {
    doc->SetModifiedFlag();
    added = target->AddResultLayer(true, false, L"Ridges", target->GetBaseVol(), FrameHandOff(ridges), -1, 0, -1);
  }
  ridges.reset();
  if (doc && !added) {
    CDrawDoc::RedrawAllViews(doc, false);
    if (TW_DocumentHooks().closeDocument) TW_DocumentHooks().closeDocument(doc);
    return false;
  }
  if (doc) {
    if (CDrawView* view = doc->GetActiveOrFirstView()) view->ZoomAll();
    CDrawDoc::RedrawAllViews(doc, true);
  }
  return added;
}

}  // namespace twk::seg
