// Operations that split an ROI into layers or combine several layers into one.
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "DocMessages.h"
#include "RoiLabelMapOperations.h"
#include "RoiOperationFrame.h"
#include "TwkMem.h"
#include "Vol.h"
#include <cmath>
#include <vector>

#include "Prompts.h"
#include "roi/LabelMaps.h"
#include "roi/RoiComponents.h"
#include "volume/Frame.h"

namespace twk::roiops {

bool RoiSplitComponentsToLayers(CDrawSet& set) {
  OperationEnd end(set.GetDocument(), true);
  int candidates = 0;
  CVol* roi = set.WorkVolROI(&candidates);
  if (!roi) {
    if (candidates > 1) twk::doc::message(nullptr, TW_AMBIGUOUS_LAYERS);
    else if (set.IsVolumeSet()) twk::doc::message(nullptr, L"ROI is not present or enabled");
    return false;
  }
  int n = 0;
  FRAME** parts = VA_RoiSplitConnectedComponents(roi->frame, 26, &n, true);
  if (!parts) return false;
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  twk::ProgressGuard progress(L"Adding layers", true);
  bool ok = true;
  for (int i = 0; i < n && ok; ++i) {
    // Esc keeps the layers added so far and the source ROI.
    if (!progress.Step(i, n, 1, 98)) {
      ok = false;
      break;
    }
    ok = set.AddResultLayer(false, false, FmtStr(L"region %u", unsigned(i)), roi, &parts[i], 30, 0,
                            int(set.NewRoiColor()));
  }
  if (ok) set.DeleteLayerVol(&roi);
  progress.End();
  PR_FrameArrDelete(&parts, n);
  return ok;
}

bool CreateLabelMapFromROIs(CDrawSet& set) {
  const wchar_t* operation = L"CDrawSet::CreateLabelMapFromROIs";
  OperationEnd end(set.GetDocument(), true);
  CVol** rois = nullptr;
  int count = 0;
  if (!set.GetMarkedRoiLayers(true, true, &rois, &count)) return false;
  if (count == 0) {
    pf_free(&rois);
    Named(operation, L"ROI is not present or enabled");
    return false;
  }
  std::vector<const FRAME*> frames;
  for (int i = 0; i < count; ++i) frames.push_back(rois[i]->frame);
  CVol* first = rois[0];
  pf_free(&rois);
  FramePtr labels(VA_MakeAtlas(frames.data(), count));
  if (!labels) return false;
  return set.AddResultLayer(false, false, L"label map", first, FrameHandOff(labels), 30, 1, int(set.NewRoiColor()));
}

bool AverageRoiLayers(CDrawSet& set) {
  OperationEnd end(set.GetDocument(), true);
  std::vector<const FRAME*> frames;
  CVol* templateVol = nullptr;
  for (int i = 0; i < set.NumLayers(); ++i) {
    CVol* vol = set.GetLayerVol(i);
    if (vol && vol->frame && vol->IsROI3D() && set.IsLayerMarked(vol)) {
      frames.push_back(vol->frame);
      templateVol = vol;
    }
  }
  if (frames.size() < 2) {
    Named(L"CDrawSet::AverageRoiLayers", L"At least two enabled ROIs are required");
    return false;
  }
  double normalisation = 1.0, background = 0.0;
  if (!TW_SpecifyTwoDouble(L"Average ROIs", L"Normalization value", &normalisation, L"Background (-1 for transparent)",
                           &background))
    return false;
  FramePtr average(VA_AverageRois(frames.data(), int(frames.size()), normalisation, background));
  if (!average) return false;
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  if (!set.AddResultLayer(false, true, L"rois average", templateVol, FrameHandOff(average), -1, 0, int(set.NewRoiColor())))
    return false;
  set.SetActiveLayerLast();
  CDrawVol* layer = set.GetActiveLayer();
  layer->filter.level = normalisation * 0.5;
  layer->filter.width = normalisation;
  return true;
}

bool RoiOnionPeel(CDrawSet& set, int* /*unused*/) {
  OperationEnd end(set.GetDocument(), true);
  int candidates = 0;
  CVol* roi = set.WorkVolROI(&candidates);
  if (!roi) {
    if (candidates > 1) twk::doc::message(nullptr, TW_AMBIGUOUS_LAYERS);
    return false;
  }
  double layers = 3.0, width = 2.0;
  if (!TW_SpecifyTwoDouble(L"Onion Peel parameters", L"Number of layers", &layers, L"Layer width (mm)", &width))
    return false;
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  const int n = int(std::floor(layers + 0.5));
  if (n <= 1) return false;
  FRAME** shells = VA_RoiOnionPeel(roi->frame, roi->Spc(), 0, width, n, true);
  if (!shells) return false;
  bool ok = true;
  for (int i = 0; i < n && ok; ++i) ok = set.AddResultLayer(true, true, nullptr, roi, &shells[i], -1, 0, -1);
  PR_FrameArrDelete(&shells, n);
  return ok;
}

}  // namespace twk::roiops
