// The EdgeWave commands of the layer sets: EdgeWave from seeds on one volume, its result layer,
// competing ROI layers (MultiLabel) and the N largest EdgeWave components of an ROI.
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
CVol* edgeWaveOperand(CDrawSet* set) {
  CVol* active = set->GetActiveVol();
  if (active && set->IsLayerMarked(active)) return active;
  for (int i = 0; i < set->NumLayers(); ++i)
    if (CVol* vol = set->GetLayerVol(i); vol && set->IsLayerMarked(vol)) return vol;
  return nullptr;
}

}  // namespace

bool CDrawSet::EdgeWave(CDrawSet* set, bool ask, bool silent, CDrawView* view, VA_EW* record) {
  if (!set || !set->IsVolumeSet()) {
    named(L"CDrawSet::EdgeWave", L"No suitable volume is present or enabled");
    return false;
  }
  return set->EdgeWave(ask, silent, view, record);
}

bool CDrawSet::EdgeWave(bool ask, bool silent, CDrawView* view, VA_EW* record) {
  const wchar_t* operation = L"CDrawSet::EdgeWave";
  twk::seg::RedrawAtEnd end{GetDocument()};
  if (!record) return false;
  CVol* operand = IsVolumeSet() ? edgeWaveOperand(this) : nullptr;
  if (!operand || !operand->frame) {
    named(operation, L"No suitable volume is present or enabled");
    return false;
  }
  if (!view && GetDocument()) view = GetDocument()->GetActiveOrFirstView();
  const int viewTime = view ? view->CurrentTime() : 0;
  const int t = operand->Is4D() ? std::min(std::max(viewTime, 0), operand->T() - 1) : 0;
  FRAME* timePoint = VA_VolCropTimepoint(operand->frame, t, true);
  if (!timePoint) return false;
  const int wh[2] = {operand->frame->dim.w, operand->frame->dim.h};
  DRECT3D* seeds = nullptr;
  int numSeeds = 0;
  twk::ops::GetSeedBoxes(*this, view, wh, &seeds, &numSeeds, nullptr, nullptr);
  struct Release {
    FRAME** frame;
    DRECT3D** seeds;
    ~Release() {
      PR_FrameDelete(frame);
      pf_free(seeds);
    }
  } release{&timePoint, &seeds};

  if (ask) {
    const double spacing[3] = {operand->spc.x, operand->spc.y, operand->spc.z};
    if (!TW_DlgEdgeWave(silent, timePoint, spacing, unsigned(t), seeds, numSeeds, record)) return false;
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
  FRAME* result = VA_VolEdgeWave(operand, record, seeds, numSeeds, eachTimePoint, t, true);
  if (!result) return false;
  if (VA_CheckRoiIsEmpty(false, result, nullptr, nullptr)) {
    PR_FrameDelete(&result);
    named(operation, L"ROI is empty");
    return false;
  }
  return AddEdgeWaveMaskLayer(record->outputBinaryRoi != 0, t, operand, &result);
}

bool CDrawSet::AddEdgeWaveMaskLayer(bool binary, int t, CVol* operand, FRAME** result) {
  struct Release {
    FRAME** frame;
    ~Release() { PR_FrameDelete(frame); }
  } release{result};
  if (!operand || !operand->frame || !result || !*result) return false;
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
    added = AddResultLayer(true, false, layerName, operand, result, -1, 0, -1);
  } else {
    FRAME* masked = VA_VolCropTimepoint(operand->frame, t, true);
    // A result of every time point masks with its own time point t.
    FRAME* mask = (*result)->dim.t > 1 ? VA_VolCropTimepoint(*result, t, true) : nullptr;
    if (masked && VA_VolCleanMask(masked, 0, mask ? mask : *result, false, 0.0, true)) {
      const CDrawVol* source = GetLayerOfVol(operand);
      const PR_VIEWFILT* filter = source ? &source->filter : nullptr;
      added = AddResultLayer(true, false, layerName, operand, &masked, -1, filter ? filter->scheme : 0, -1, nullptr, nullptr,
                             nullptr, filter);
    }
    PR_FrameDelete(&mask);
    PR_FrameDelete(&masked);
  }
  if (added) SetActiveLayerLast();
  return added;
}

bool CDrawSet::EdgeWaveML(CDrawSet* set, bool boundaryOnly) {
  if (!set) {
    named(L"CDrawSet::EdgeWaveML", L"At least two enabled ROIs are required");
    return false;
  }
  return set->EdgeWaveML(boundaryOnly);
}

bool CDrawSet::EdgeWaveML(bool boundaryOnly) {
  const wchar_t* operation = L"CDrawSet::EdgeWaveML";
  twk::seg::RedrawAtEnd end{GetDocument()};
  std::vector<CVol*> rois;
  for (int i = 0; i < NumLayers(); ++i)
    if (CVol* vol = GetLayerVol(i); vol && vol->frame && vol->IsROI() && IsLayerMarked(vol)) rois.push_back(vol);
  if (rois.size() < 2) {
    named(operation, L"At least two enabled ROIs are required");
    return false;
  }
  double peel = 1.0;
  if (!TW_EnterDouble(L"Peel size (vox)", &peel)) return false;
  std::vector<const FRAME*> frames;
  for (CVol* vol : rois) frames.push_back(vol->frame);
  const CVol* base = GetBaseVol();
  FRAME* map = VA_EdgeWaveML(frames.data(), base ? &base->spc : nullptr, int(frames.size()), 0, peel, boundaryOnly, true);
  if (!map) return false;
  // Split by label value: ROI i always receives label i + 1, empty when that label was lost.
  FRAME** parts = VA_LabelMapToRoiArr(map, int(rois.size()), true);
  PR_FrameDelete(&map);
  if (!parts) return false;
  CDrawDoc* doc = GetDocument();
  if (doc) doc->SetModifiedFlag();
  for (size_t i = 0; i < rois.size(); ++i) {
    CDrawVol* layer = GetLayerOfVol(rois[i]);
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

bool CDrawSet::EdgeWaveNLargest(CDrawSet* set, CDrawView* view) {
  if (!set) {
    twk::doc::message(nullptr, L"Operand is not present");
    return false;
  }
  return set->EdgeWaveNLargest(view);
}

bool CDrawSet::EdgeWaveNLargest(CDrawView*) {
  twk::seg::RedrawAtEnd end{GetDocument()};
  int count = 0;
  CVol* roi = IsVolumeSet() ? WorkVolROI(&count) : nullptr;
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
    const int colour = int(NewRoiColor());
    ok = AddResultLayerNewGeometry(roi, false, FmtStr(L"CC_%u", unsigned(i)), &parts[i], 25, 0, colour);
  }
  PR_FrameArrDelete(&parts, found);
  return ok;
}
