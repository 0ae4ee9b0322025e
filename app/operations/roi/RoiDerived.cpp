// ROI operations that derive new layers from the ROI of the active set.
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "RoiOperationFrame.h"
#include "TwkMem.h"
#include "Vol.h"
#include "DocMessages.h"
#include "DrawView.h"
#include "paths/ValueText.h"
#include "roi/RoiComponents.h"
#include "roi/RoiShape.h"
#include "volume/Frame.h"

using namespace twk::roiops;

bool CDrawSet::RoiExtractHoles3D(CDrawSet* set) { return set ? set->RoiExtractHoles3D() : false; }

bool CDrawSet::RoiExtractHoles3D() {
  OperationEnd end(GetDocument(), true);
  CVol* roi = RoiOperand(this);
  if (!roi) return false;
  if (!roi->Is3D()) {
    Named(L"CDrawSet::RoiExtractHoles3D", L"3D ROI is required");
    return false;
  }
  FRAME* holes = VA_RoiExtractHoles3D(roi->frame, true);
  if (!holes) return false;
  const bool ok = AddResultLayer(false, false, nullptr, roi, &holes, -1, 0, -1);
  PR_FrameDelete(&holes);
  return ok;
}

bool CDrawSet::RoiConvert3Dto4D(CDrawSet* set, CDrawView* view) {
  OperationEnd end(set ? set->GetDocument() : nullptr, true);
  const wchar_t* name = L"CDrawSet::RoiConvert3Dto4D";
  CVol* roi = RoiOperand(set);
  if (!roi) {
    Named(name, L"3D ROI is required");
    return false;
  }
  if (!roi->Is3D()) {
    Named(name, L"3D ROI is required");
    return false;
  }
  CVol* volume = set->WorkVolNonRoi();
  if (!volume) {
    Named(name, L"No suitable volume is present or enabled");
    return false;
  }
  if (volume->Is3D()) {
    Named(name, L"4D volume is required");
    return false;
  }
  FRAME* frame = VA_RoiConvert3Dto4D(roi->frame, view ? view->CurrentTime() : 0, volume->Dim());
  if (!frame) return false;
  if (CDrawDoc* doc = set->GetDocument()) doc->SetModifiedFlag();
  const CString roiName = roi->name;
  const bool ok = set->AddResultLayer(false, false, roiName, volume, &frame, -1, 0, -1);
  PR_FrameDelete(&frame);
  if (!ok) return false;
  // The new layer takes the old one's place, look and mark; the old layer goes.
  CDrawVol* old = set->GetLayerOfVol(roi);
  CDrawVol* added = set->GetLayer(set->NumLayers() - 1);
  added->filter = old->filter;
  added->SetMarked(old->IsMarked());
  added->opacity = old->opacity;
  set->SwapLayers(set->IndexOfLayer(old), set->IndexOfLayer(added));
  return set->DeleteLayerVol(&roi);
}
bool CDrawSet::RoiConvert3Dto4D(CDrawView* view) { return RoiConvert3Dto4D(this, view); }

bool CDrawSet::RoiSkeleton(CDrawSet* set, CDrawView* view, int mode) {
  (void)view;
  if (!set) return false;
  OperationEnd end(set->GetDocument(), true);
  CVol* roi = RoiOperand(set);
  if (!roi) return false;
  twk::ProgressGuard progress(L"Detect ROI skeleton", true);
  FRAME* result = nullptr;
  double depth = 0;
  const wchar_t* layerName = L"skeleton";
  CDrawDoc* doc = set->GetDocument();
  if (mode == 0) {
    if (doc) doc->SetModifiedFlag();
    // Per slice when asked (a single slice needs no question).
    const bool perSlice = roi->D() > 1 && PR_AskYesNo(L"Process each slice individually?");
    result = VA_RoiMakeMiddlePlain(roi->frame, 1.0, nullptr, perSlice || roi->D() == 1);
  } else if (mode == 1) {
    if (doc) doc->SetModifiedFlag();
    result = VA_RoiMAT(roi->frame, roi->Spc(), 1.0, &depth, false);
    layerName = L"ridges in the depth map";
  } else if (mode == 2) {
    result = VA_MAT3D_Blums(roi->frame, roi->Spc(), 1.0, &depth, true);
    layerName = L"medial axis";
  }
  bool ok = result && set->AddResultLayer(false, false, layerName, roi, &result, -1, 0, -1);
  PR_FrameDelete(&result);
  if (ok) {
    set->SetActiveLayerLast();
    if (mode != 0) twk::doc::information(FmtStr(L"%s : Average depth = %8.3lf mm", roi->name.GetString(), depth));
  }
  return ok;
}
bool CDrawSet::RoiSkeleton(CDrawView* view, int mode) { return RoiSkeleton(this, view, mode); }
