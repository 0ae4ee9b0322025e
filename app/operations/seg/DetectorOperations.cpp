// Detectors of the layer sets: dark or bright spots and ridges of a 3D signal volume.
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

bool CDrawSet::DetectSpots(CDrawSet* set, bool bright) {
  if (!set) {
    twk::doc::message(L"CDrawSet::DetectSpots", L"3D volume is required");
    return false;
  }
  return set->DetectSpots(bright);
}

bool CDrawSet::DetectSpots(bool bright) {
  twk::seg::RedrawAtEnd end{GetDocument()};
  CVol* vol = IsVolumeSet() ? WorkVolNonRoi() : nullptr;
  if (!vol || !vol->frame || vol->Is4D()) {
    twk::doc::message(L"CDrawSet::DetectSpots", L"3D volume is required");
    return false;
  }
  if (!TW_DlgDetectSpots()) return false;
  // The command's polarity decides which spots are found.
  FRAME* spots = VA_VolDetectSpots(bright, &g_DetectSpotsParms, vol->frame, &vol->spc, true);
  if (!spots) return false;
  const bool added = AddResultLayer(false, false, L"spots", vol, &spots, -1, 0, -1);
  PR_FrameDelete(&spots);
  return added;
}

bool TW_SegmentRidges(CDrawSet* set, bool bright, VA_RIDGEPARM* record, bool silent) {
  const wchar_t* operation = L"CDrawSet::SegmentRidges";
  CVol* vol = set && set->IsVolumeSet() ? set->WorkVolNonRoi() : nullptr;
  if (!vol || !vol->frame || vol->Is4D()) {
    twk::doc::message(operation, L"3D volume is required");
    return false;
  }
  if (!record || !TW_DlgRidgeDetect(record, silent)) return false;
  FRAME* base = nullptr;
  FRAME* ridges = nullptr;
  SPC spacing;
  if (!VA_VolDetectRelativeRidges(bright, record, vol->frame, 0, &vol->spc, false, &base, &ridges, &spacing, true))
    return false;
  // The base becomes a document of its own, the ridges its layer "Ridges".
  CVol* baseVol = VA_CloneByReformat(vol, &base, &spacing, nullptr, nullptr, false);
  PR_FrameDelete(&base);
  CDrawDoc* doc = baseVol ? TW_CreateDocumentByClone(PR_AddFileNameSfx(vol->name, L"_base"), baseVol, nullptr, nullptr,
                                                     nullptr, true)
                          : nullptr;
  delete baseVol;
  CDrawSet* target = doc ? doc->GetActiveSet() : nullptr;
  bool added = false;
  if (target) {
    doc->SetModifiedFlag();
    added = target->AddResultLayer(true, false, L"Ridges", target->GetBaseVol(), &ridges, -1, 0, -1);
  }
  PR_FrameDelete(&ridges);
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
