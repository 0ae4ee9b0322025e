// ROI operations that derive new layers from the ROI of the active set.
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "RoiDerived.h"
#include "RoiOperationFrame.h"
#include "TwkMem.h"
#include "Vol.h"
#include "DocMessages.h"
#include "DrawView.h"
#include "paths/ValueText.h"
#include "roi/RoiComponents.h"
#include "roi/RoiShape.h"
#include "volume/Frame.h"

namespace twk::roiops {

bool RoiExtractHoles3D(CDrawSet& set) {
  OperationEnd end(set.GetDocument(), true);
  CVol* roi = RoiOperand(&set);
  if (!roi) return false;
  if (!roi->Is3D()) {
    Named(L"CDrawSet::RoiExtractHoles3D", L"3D ROI is required");
    return false;
  }
  FramePtr holes(VA_RoiExtractHoles3D(roi->frame, true));
  if (!holes) return false;
  return set.AddResultLayer(false, false, nullptr, roi, FrameHandOff(holes), -1, 0, -1);
}

bool RoiConvert3Dto4D(CDrawSet& set, CDrawView* view) {
  OperationEnd end(set.GetDocument(), true);
  const wchar_t* name = L"CDrawSet::RoiConvert3Dto4D";
  CVol* roi = RoiOperand(&set);
  if (!roi) {
    Named(name, L"3D ROI is required");
    return false;
  }
  if (!roi->Is3D()) {
    Named(name, L"3D ROI is required");
    return false;
  }
  CVol* volume = set.WorkVolNonRoi();
  if (!volume) {
    Named(name, L"No suitable volume is present or enabled");
    return false;
  }
  if (volume->Is3D()) {
    Named(name, L"4D volume is required");
    return false;
  }
  FramePtr frame(VA_RoiConvert3Dto4D(roi->frame, view ? view->CurrentTime() : 0, volume->Dim()));
  if (!frame) return false;
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  const CString roiName = roi->name;
  if (!set.AddResultLayer(false, false, roiName, volume, FrameHandOff(frame), -1, 0, -1)) return false;
  // The new layer takes the old one's place, look and mark; the old layer goes.
  CDrawVol* old = set.GetLayerOfVol(roi);
  CDrawVol* added = set.GetLayer(set.NumLayers() - 1);
  added->filter = old->filter;
  added->SetMarked(old->IsMarked());
  added->opacity = old->opacity;
  set.SwapLayers(set.IndexOfLayer(old), set.IndexOfLayer(added));
  return set.DeleteLayerVol(&roi);
}

bool RoiSkeleton(CDrawSet& set, CDrawView* /*view*/, int mode) {
  OperationEnd end(set.GetDocument(), true);
  CVol* roi = RoiOperand(&set);
  if (!roi) return false;
  twk::ProgressGuard progress(L"Detect ROI skeleton", true);
  FramePtr result;
  double depth = 0;
  const wchar_t* layerName = L"skeleton";
  CDrawDoc* doc = set.GetDocument();
  if (mode == 0) {
    if (doc) doc->SetModifiedFlag();
    // Per slice when asked (a single slice needs no question).
    const bool perSlice = roi->D() > 1 && PR_AskYesNo(L"Process each slice individually?");
    result.reset(VA_RoiMakeMiddlePlain(roi->frame, 1.0, nullptr, perSlice || roi->D() == 1));
  } else if (mode == 1) {
    if (doc) doc->SetModifiedFlag();
    result.reset(VA_RoiMAT(roi->frame, roi->Spc(), 1.0, &depth, false));
    layerName = L"ridges in the depth map";
  } else if (mode == 2) {
    result.reset(VA_MAT3D_Blums(roi->frame, roi->Spc(), 1.0, &depth, true));
    layerName = L"medial axis";
  }
  const bool ok = result && set.AddResultLayer(false, false, layerName, roi, FrameHandOff(result), -1, 0, -1);
  if (ok) {
    set.SetActiveLayerLast();
    if (mode != 0) twk::doc::information(FmtStr(L"%s : Average depth = %8.3lf mm", roi->name.GetString(), depth));
  }
  return ok;
}

}  // namespace twk::roiops
