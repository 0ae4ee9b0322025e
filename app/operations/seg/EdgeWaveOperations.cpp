// The EdgeWave commands of the layer sets: EdgeWave from seeds on one volume, its result layer,
// competing ROI layers (MultiLabel) and the N largest EdgeWave components of an ROI.
#include "EdgeWaveOperations.h"

#include <memory>
#include <utility>
#include <vector>

#include "DocMessages.h"
#include "DrawDoc.h"
#include "SegOperationEnd.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "EdgeWaveDialog.h"
#include "OperationHelpers.h"
#include "Prompts.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "paths/FilePaths.h"
#include "roi/EdgeWaveRegions.h"
#include "roi/RoiComponents.h"
#include "volops/VolumeOperations.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"

namespace {

void named(const wchar_t* operation, const CString& text) { twk::doc::message(operation, text); }

// The EdgeWave operand: the active layer when it is marked, else the first marked volume layer.
CVol* edgeWaveOperand(const CDrawSet& set) {
  CVol* active = set.GetActiveVol();
  if (active && set.IsLayerMarked(active)) return active;
  for (int i = 0; i < set.NumLayers(); ++i)
    if (CVol* vol = set.GetLayerVol(i); vol && set.IsLayerMarked(vol)) return vol;
  return nullptr;
}

}  // namespace

namespace twk::seg {

bool EdgeWave(CDrawSet& set, bool ask, bool silent, CDrawView* view, VA_EW* record) {
  const wchar_t* operation = L"CDrawSet::EdgeWave";
  RedrawAtEnd end{set.GetDocument()};
  if (!record) return false;
  CVol* operand = set.IsVolumeSet() ? edgeWaveOperand(set) : nullptr;
  if (!operand || !operand->frame) {
    named(operation, L"No suitable volume is present or enabled");
    return false;
  }
  if (!view && set.GetDocument()) view = set.GetDocument()->GetActiveOrFirstView();
  const int viewTime = view ? view->CurrentTime() : 0;
  const int t = operand->Is4D() ? std::min(std::max(viewTime, 0), operand->T() - 1) : 0;
  const FramePtr timePoint(VA_VolCropTimepoint(operand->frame, t, true));
  if (!timePoint) return false;
  const int wh[2] = {operand->frame->dim.w, operand->frame->dim.h};
  DRECT3D* seedBoxes = nullptr;
  int numSeeds = 0;
  twk::ops::GetSeedBoxes(set, view, wh, &seedBoxes, &numSeeds, nullptr, nullptr);
  const std::unique_ptr<DRECT3D, void (*)(DRECT3D*)> seeds(seedBoxes, [](DRECT3D* boxes) { pf_free(&boxes); });

  if (ask) {
    const double spacing[3] = {operand->spc.x, operand->spc.y, operand->spc.z};
    if (!TW_DlgEdgeWave(silent, timePoint.get(), spacing, unsigned(t), seeds.get(), numSeeds, record)) return false;
  }
  if (record->subvoxelLevel != 1) {
    named(operation, L"This version only allows SubLevel=1 in EdgeWave");
    return false;
  }
  bool eachTimePoint = false;
  if (operand->Is4D())
    eachTimePoint = twk::messageBox(L"Process each timepoint individually?", MB_YESNO | MB_ICONQUESTION) == IDYES;
  if (numSeeds > 0 && record->siUnits == 0 &&
      twk::messageBox(L"Seed is present but Absolute Units mode is specified. Seed will be ignored.",
                      MB_YESNO | MB_ICONQUESTION) != IDYES)
    return true;
  FramePtr result(VA_VolEdgeWave(operand, record, seeds.get(), numSeeds, eachTimePoint, t, true));
  if (!result) return false;
  if (VA_CheckRoiIsEmpty(false, result.get(), nullptr, nullptr)) {
    named(operation, L"ROI is empty");
    return false;
  }
  return AddEdgeWaveMaskLayer(set, record->outputBinaryRoi != 0, t, operand, std::move(result));
}

bool AddEdgeWaveMaskLayer(CDrawSet& set, bool binary, int t, CVol* operand, FramePtr result) {
  if (!operand || !operand->frame || !result) return false;
  CString suffix = L"_ewmask";
  if (operand->Is4D()) {
    CString label, unit;
    double* values = nullptr;
    const bool known = operand->GetDynamicDimension(&label, &unit, &values);
    pf_free(&values);
    if (!known) return false;
    suffix = FmtStr(L"_ewmask-%s#%u", label.GetString(), unsigned(t));
  }
  // The suffix goes before the name's extension, which layer names drop.
  const CString layerName = PR_AddFileNameSfx(PR_GetFileTitle(operand->name), suffix);
  bool added = false;
  if (binary) {
    added = set.AddResultLayer(true, false, layerName, operand, FrameHandOff(result), -1, 0, -1);
  } else {
    FramePtr masked(VA_VolCropTimepoint(operand->frame, t, true));
    // A result of every time point masks with its own time point t.
    const FramePtr mask(result->dim.t > 1 ? VA_VolCropTimepoint(result.get(), t, true) : nullptr);
    if (masked && VA_VolCleanMask(masked.get(), 0, mask ? mask.get() : result.get(), false, 0.0, true)) {
      const CDrawVol* source = set.GetLayerOfVol(operand);
      const PR_VIEWFILT* filter = source ? &source->filter : nullptr;
      added = set.AddResultLayer(true, false, layerName, operand, FrameHandOff(masked), -1,
                                 filter ? filter->scheme : 0, -1, nullptr, nullptr, nullptr, filter);
    }
  }
  if (added) set.SetActiveLayerLast();
  return added;
}

bool EdgeWaveML(CDrawSet& set, bool boundaryOnly) {
  const wchar_t* operation = L"CDrawSet::EdgeWaveML";
  RedrawAtEnd end{set.GetDocument()};
  std::vector<CVol*> rois;
  for (int i = 0; i < set.NumLayers(); ++i)
    if (CVol* vol = set.GetLayerVol(i); vol && vol->frame && vol->IsROI() && set.IsLayerMarked(vol))
      rois.push_back(vol);
  if (rois.size() < 2) {
    named(operation, L"At least two enabled ROIs are required");
    return false;
  }
  double peel = 1.0;
  if (!TW_EnterDouble(L"Peel size (vox)", &peel)) return false;
  std::vector<const FRAME*> frames;
  for (CVol* vol : rois) frames.push_back(vol->frame);
  const CVol* base = set.GetBaseVol();
  FramePtr map(
      VA_EdgeWaveML(frames.data(), base ? &base->spc : nullptr, int(frames.size()), 0, peel, boundaryOnly, true));
  if (!map) return false;
  // Split by label value: ROI i always receives label i + 1, empty when that label was lost.
  FRAME** parts = VA_LabelMapToRoiArr(map.get(), int(rois.size()), true);
  map.reset();
  if (!parts) return false;
  CDrawDoc* doc = set.GetDocument();
  if (doc) doc->SetModifiedFlag();
  for (size_t i = 0; i < rois.size(); ++i) {
    CDrawVol* layer = set.GetLayerOfVol(rois[i]);
    // One undo record per layer, then the new voxels written into the layer's first time point.
    if (doc) doc->PushUndoForLayer(layer);
    FRAME* target = rois[i]->frame;
    const size_t bytes = size_t(target->lineBytes) * size_t(target->dim.h) * size_t(target->dim.d);
    std::memcpy(target->data, parts[i]->data, bytes);
    if (layer) {
      for (double& v : layer->unsetValues) v = 1e60;
      layer->FreeViewCaches();
    }
  }
  PR_FrameArrDelete(&parts, int(rois.size()));
  return true;
}

bool EdgeWaveNLargest(CDrawSet& set, CDrawView*) {
  RedrawAtEnd end{set.GetDocument()};
  int count = 0;
  CVol* roi = set.IsVolumeSet() ? set.WorkVolROI(&count) : nullptr;
  if (count > 1) {
    twk::doc::message(nullptr, TW_AMBIGUOUS_LAYERS);
    return false;
  }
  if (!roi) {
    twk::doc::message(nullptr, L"ROI is not present or enabled");
    return false;
  }
  int n = 1;
  if (!TW_SpecifyInt(L"Number of largest regions to extract", &n)) return false;
  const double spacing[3] = {roi->spc.x, roi->spc.y, roi->spc.z};
  if (!TW_DlgEdgeWave(false, roi->frame, spacing, 0, nullptr, 0, &g_EdgeWaveParms)) return false;
  int found = 0;
  FRAME** parts = VA_RoiEdgeWaveMultiMaxCC(&g_EdgeWaveParms, roi->frame, &roi->spc, n, &found, true);
  if (!parts) return false;
  bool ok = true;
  for (int i = 0; i < found && ok; ++i) {
    const int colour = int(set.NewRoiColor());
    ok = set.AddResultLayerNewGeometry(roi, false, FmtStr(L"CC_%u", unsigned(i)), &parts[i], 25, 0, colour);
  }
  PR_FrameArrDelete(&parts, found);
  return ok;
}

}  // namespace twk::seg
