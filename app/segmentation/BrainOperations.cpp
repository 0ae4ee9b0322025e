#include "BrainOperations.h"

#include "AppOptions.h"
#include "BrainDialogs.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "Prompts.h"
#include "TwkMem.h"
#include "Vol.h"
#include "volume/Frame.h"

namespace {

// Redraws the document with the Layers panel when the command ends, whatever its outcome.
struct RedrawAtEnd {
  CDrawDoc* doc;
  ~RedrawAtEnd() {
    if (doc) CDrawDoc::RedrawAllViews(doc, true);
  }
};

// The first ROI layer of the set in layer order, or null.
CVol* firstRoiLayer(CDrawSet* set) {
  for (int i = 0; i < set->NumLayers(); ++i)
    if (CVol* vol = set->GetLayerVol(i); vol && vol->frame && vol->IsROI()) return vol;
  return nullptr;
}

// The frame as a new layer made like vol (AddResultLayer, no progress); the layer takes the frame,
// and what it did not take stays in the holder.
bool addResultLayer(CDrawSet* set, bool askSpatial, const wchar_t* name, CVol* vol, FramePtr& frame) {
  FRAME* handed = frame.release();
  const bool added = set->AddResultLayer(askSpatial, false, name, vol, &handed, -1, 0, -1);
  frame.reset(handed);
  return added;
}

// With exactly two documents open, the other one's volume when its active set holds one layer.
CVol* singleLayerOfOtherDocument(CDrawDoc* doc) {
  int count = 0;
  CDrawDoc** docs = TW_GetAllDocuments(&count);
  CVol* found = nullptr;
  if (docs && count == 2) {
    CDrawDoc* other = docs[0] == doc ? docs[1] : docs[0];
    CDrawSet* set = other && other != doc ? other->GetActiveSet() : nullptr;
    if (set && set->NumLayers() == 1) found = set->GetLayerVol(0);
  }
  pf_free(&docs);
  return found;
}

}  // namespace

bool TW_SegmentFlairLesions(CDrawSet* set, bool silent, CDrawView*, VA_WMLVENTRSEG* record) {
  const wchar_t* name = L"CDrawSet::SegmentFlairLesionsAlgo2";
  CVol* flair = set && set->IsVolumeSet() ? set->WorkVolNonRoi() : nullptr;
  if (!flair || !flair->frame || !flair->Is3D()) {
    twk::doc::message(name, L"3D volume is required");
    return false;
  }
  if (!record) return false;
  RedrawAtEnd end{set->GetDocument()};
  CVol* grayMatter = firstRoiLayer(set);
  CVol* t1 = singleLayerOfOtherDocument(set->GetDocument());
  if (!TW_DlgLVWMLSeg(silent, record, flair, t1, grayMatter != nullptr)) return false;
  auto segment = record->AlgoVersion == 2   ? &BP_SegmentWMlesionsMriFlairUsingVentricle_Algo2
                 : record->AlgoVersion == 4 ? &BP_SegmentWMlesionsMriFlairUsingVentricle_Algo4
                                            : nullptr;
  if (!segment) {
    twk::doc::message(name, L"Invalid algorithm variant");
    return false;
  }
  double threshold = 0;
  FRAME *grayOut = nullptr, *ventricleOut = nullptr, *whiteOut = nullptr;
  FramePtr lesions(
      segment(record, flair, t1, grayMatter, &threshold, &grayOut, &ventricleOut, nullptr, &whiteOut, nullptr, true));
  FramePtr gray(grayOut), ventricle(ventricleOut), white(whiteOut);
  if (!lesions) return false;
  CString lesionName;
  lesionName.Format(L"WML_thr_%8.3lf", threshold);
  if (!addResultLayer(set, true, lesionName, flair, lesions)) return false;
  const struct {
    FramePtr* frame;
    const wchar_t* name;
  } parts[] = {{&gray, L"gray matter"}, {&ventricle, L"lateral ventricle"}, {&white, L"white matter"}};
  for (const auto& part : parts)
    if (*part.frame && !addResultLayer(set, false, part.name, flair, *part.frame)) return false;
  set->SetActiveLayerLast();
  return true;
}

bool TW_BrainSegmentLateralVentricle(CDrawSet* set) {
  const wchar_t* name = L"CDrawSet::BrainSegmentLateralVentricle";
  CVol* vol = set && set->IsVolumeSet() ? set->WorkVolNonRoi() : nullptr;
  if (!vol || !vol->frame) {
    twk::doc::message(name, L"No suitable volume is present or enabled");
    return false;
  }
  if (!vol->Is3D()) {
    twk::doc::message(name, L"3D MR volume is required");
    return false;
  }
  VA_LATERALVENTRSEG edited = g_LateralVentrSeg;
  if (!TW_DlgLateralVentrSeg(&edited)) return false;
  g_LateralVentrSeg = edited;
  RedrawAtEnd end{set->GetDocument()};
  FramePtr ventricle(BP_BrainSegmentLateralVentricle(&g_LateralVentrSeg, vol, vol->frame, true));
  if (!ventricle) return false;
  return addResultLayer(set, false, L"lateral ventricle", vol, ventricle);
}

CString g_WmlBatchSourceFolder, g_WmlBatchTargetFolder;

bool TW_WMLBatchFromNiftiFolder() {
  if (g_WmlBatchSourceFolder.IsEmpty()) g_WmlBatchSourceFolder = TW_Options().tempFolder;
  if (g_WmlBatchTargetFolder.IsEmpty()) g_WmlBatchTargetFolder = TW_Options().tempFolder;
  if (!TW_SpecifyTwoFolders(L"Source", L"Target", &g_WmlBatchSourceFolder, &g_WmlBatchTargetFolder, true)) return false;
  if (!TW_DlgLVWMLSeg(false, &g_WmlVentrSeg, nullptr, nullptr, false)) return false;
  return BP_WMlesionsFlair_BatchProcess(&g_WmlVentrSeg, g_WmlBatchSourceFolder, g_WmlBatchTargetFolder);
}
