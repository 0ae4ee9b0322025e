// Operations that split an ROI into layers or combine several layers into one.
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "DocMessages.h"
#include "RoiOperationFrame.h"
#include "TwkMem.h"
#include "Vol.h"
#include <cmath>
#include <vector>

#include "Prompts.h"
#include "roi/LabelMaps.h"
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

bool CDrawSet::CreateLabelMapFromROIs(CDrawSet* set) { return set ? set->CreateLabelMapFromROIs() : false; }

bool CDrawSet::CreateLabelMapFromROIs() {
  const wchar_t* operation = L"CDrawSet::CreateLabelMapFromROIs";
  OperationEnd end(GetDocument(), true);
  CVol** rois = nullptr;
  int count = 0;
  if (!GetMarkedRoiLayers(true, true, &rois, &count)) return false;
  if (count == 0) {
    pf_free(&rois);
    Named(operation, L"ROI is not present or enabled");
    return false;
  }
  std::vector<const FRAME*> frames;
  for (int i = 0; i < count; ++i) frames.push_back(rois[i]->frame);
  CVol* first = rois[0];
  pf_free(&rois);
  FRAME* labels = VA_MakeAtlas(frames.data(), count);
  if (!labels) return false;
  const bool ok = AddResultLayer(false, false, L"label map", first, &labels, 30, 1, int(NewRoiColor()));
  PR_FrameDelete(&labels);
  return ok;
}

bool CDrawSet::AverageRoiLayers(CDrawSet* set) { return set ? set->AverageRoiLayers() : false; }

bool CDrawSet::AverageRoiLayers() {
  OperationEnd end(GetDocument(), true);
  std::vector<const FRAME*> frames;
  CVol* templateVol = nullptr;
  for (int i = 0; i < NumLayers(); ++i) {
    CVol* vol = GetLayerVol(i);
    if (vol && vol->frame && vol->IsROI3D() && IsLayerMarked(vol)) {
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
  FRAME* average = VA_AverageRois(frames.data(), int(frames.size()), normalisation, background);
  if (!average) return false;
  if (CDrawDoc* doc = GetDocument()) doc->SetModifiedFlag();
  const bool ok = AddResultLayer(false, true, L"rois average", templateVol, &average, -1, 0, int(NewRoiColor()));
  PR_FrameDelete(&average);
  if (!ok) return false;
  SetActiveLayerLast();
  CDrawVol* layer = GetActiveLayer();
  layer->filter.level = normalisation * 0.5;
  layer->filter.width = normalisation;
  return true;
}

bool CDrawSet::RoiOnionPeel(CDrawSet* set, int* unused) { return set ? set->RoiOnionPeel(unused) : false; }

bool CDrawSet::RoiOnionPeel(int* /*unused*/) {
  OperationEnd end(GetDocument(), true);
  int candidates = 0;
  CVol* roi = WorkVolROI(&candidates);
  if (!roi) {
    if (candidates > 1) twk::doc::message(nullptr, TW_AMBIGUOUS_LAYERS);
    return false;
  }
  double layers = 3.0, width = 2.0;
  if (!TW_SpecifyTwoDouble(L"Onion Peel parameters", L"Number of layers", &layers, L"Layer width (mm)", &width))
    return false;
  if (CDrawDoc* doc = GetDocument()) doc->SetModifiedFlag();
  const int n = int(std::floor(layers + 0.5));
  if (n <= 1) return false;
  FRAME** shells = VA_RoiOnionPeel(roi->frame, roi->Spc(), 0, width, n, true);
  if (!shells) return false;
  bool ok = true;
  for (int i = 0; i < n && ok; ++i) ok = AddResultLayer(true, true, nullptr, roi, &shells[i], -1, 0, -1);
  PR_FrameArrDelete(&shells, n);
  return ok;
}
