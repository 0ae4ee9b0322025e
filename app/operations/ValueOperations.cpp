// Operations of the view's commands on voxel values and layers: replacing a value, void voxels,
// scaling to an interval, copying a time point (in place, with an undo record of the layer),
// inserting a uniform layer, the headers and dynamic coordinates of every layer, and the histogram
// equalisation and logarithm into new layers.
#include "ValueOperations.h"

#include <cmath>
#include <memory>

#include "CommandTable.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "OperationScope.h"
#include "Prompts.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "docsupport/DocSupport.h"
#include "ops/VolumeOps.h"
#include "ops/VoxelValues.h"
#include "roi/RoiStatistics.h"
#include "paths/FilePaths.h"
#include "volume/Frame.h"

namespace {

// Before voxels change in place: the document is changed, the layer's cached values and render
// caches go, and its voxels are kept for undo.
void prepareInPlaceChange(CDrawSet& set, CVol* vol) {
  CDrawDoc* doc = set.GetDocument();
  CDrawVol* layer = set.GetLayerOfVol(vol);
  if (doc) doc->SetModifiedFlag();
  if (!layer) return;
  for (double& v : layer->unsetValues) v = 1e60;
  if (doc) doc->PushUndoForLayer(layer);
  else layer->FreeViewCaches();
}

// A new layer's window from its own voxels; the new layer becomes the active one.
void activateNewLayer(CDrawSet& set) {
  const int last = set.NumLayers() - 1;
  CDrawVol* layer = set.GetLayer(last);
  if (layer && layer->vol && layer->vol->frame) VA_OptimalIntensWindow(1, layer->vol->frame, 0, &layer->filter, false);
  set.SetActiveLayerLast();
}

// The frame as a new layer made like the template volume (AddResultLayer, default opacity and
// colour); the layer takes the frame, and what it did not take goes with the holder.
bool addResultLayer(CDrawSet& set, bool askSpatial, const wchar_t* name, CVol* templateVol, FramePtr frame,
                    int scheme) {
  FRAME* handed = frame.release();
  const bool added = set.AddResultLayer(askSpatial, true, name, templateVol, &handed, -1, scheme, -1);
  frame.reset(handed);
  return added;
}

}  // namespace

namespace twk::ops {

bool ReplaceSignalValue(CDrawSet& set, ReplaceValueRecord& record) {
  TW_OPERATION_END end(set.GetDocument(), true);
  CVol* vol = nullptr;
  CVol* roi = nullptr;
  if (!set.WorkVolNonROIandROI(false, false, false, &vol, &roi) || !vol) return false;
  CString title = L"Specify Value Replacement";
  if (roi) title += L" over <" + PR_GetFileTitle(roi->name) + L">";
  double value = record.value, replacement = record.replacement;
  if (!TW_SpecifyTwoDouble(title, L"Signal value", &value, L"Replacement", &replacement)) return false;
  record.value = value;
  record.replacement = replacement;
  // The change is undoable and marks the document changed.
  prepareInPlaceChange(set, vol);
  return VA_VolReplaceValue(vol->frame, roi ? roi->frame : nullptr, value, replacement, true);
}

bool MakeSignalVoid(CDrawSet& set, CDrawView* view) {
  TW_OPERATION_END end(view ? set.GetDocument() : nullptr, false);
  CVol* vol = set.WorkVolNonRoi();
  if (!vol) return false;
  double value = 0.0;
  if (!TW_EnterDouble(L"Signal to become Transparent", &value)) return false;
  prepareInPlaceChange(set, vol);
  return VA_VolMakeSignalVoid(vol->frame, value, true);
}

bool ChangeVoidToSignal(CDrawSet& set) {
  TW_OPERATION_END end(set.GetDocument(), false);
  CVol* vol = set.WorkVolNonRoi();
  if (!vol) return false;
  double value = 0.0;
  if (!TW_EnterDouble(L"New value for VOID voxels", &value)) return false;
  prepareInPlaceChange(set, vol);
  return VA_VolChangeVoidToSignal(vol->frame, value, true);
}

void ScaleToInterval(CDrawSet& set) {
  TW_OPERATION_END end(set.GetDocument(), false);
  CVol* vol = set.WorkVolNonRoi();
  if (!vol) return;
  double m = 0, M = 0;
  if (!VA_VolMinMax(vol->frame, -1, nullptr, &m, &M)) return;
  double a = m, b = M;
  if (!TW_SpecifyTwoDouble(L"Specify Signal Range", L"Min Value", &a, L"Max Value", &b)) return;
  if (!std::isfinite(a) || !std::isfinite(b) || a > b) {
    twk::doc::message(L"CDrawSet::ScaleToInterval", L"Min Value must not be above Max Value");
    return;
  }
  VA_LINCONV conversion;
  conversion.coefficient = std::fabs(m - M) >= 1e-100 ? (b - a) / (M - m) : 1.0;
  conversion.bias = b - conversion.coefficient * M;
  conversion.lowLimit = a;
  conversion.highLimit = b;
  prepareInPlaceChange(set, vol);
  vol->LinearConversionWithClamp(&conversion, nullptr, true);
}

bool CopyTimepointToTarget(CDrawSet& set, CDrawView* view) {
  TW_OPERATION_END end(set.GetDocument(), false);
  CVol* vol = set.WorkVolNonROI4D();
  if (!vol || !view) return false;
  const int current = view->CurrentTime();
  int target = current + 1;
  if (!TW_SpecifyInt(L"Target dynamic point index", &target)) return false;
  if (target < 1 || target > vol->T() || current < 0 || current >= vol->T()) {
    twk::doc::message(L"CDrawSet::CopyTimepointToTarget", L"Invalid dynamic points");
    return false;
  }
  prepareInPlaceChange(set, vol);
  return VA_VolCopy(vol->frame, target - 1, vol->frame, current);
}

bool InsertUniformLayer(CDrawSet& set) {
  TW_OPERATION_END end(set.GetDocument(), true);
  CVol* base = set.GetBaseVol();
  if (!base || !base->frame) return false;
  double value = 0.0;
  CString layerName;
  if (!TW_EnterDouble(L"Uniform signal value", &value) || !TW_SpecifyStr(L"New Layer name", &layerName)) return false;
  DIM3D dims = *base->Dim();
  if (base->Is4D()) {
    const int answer = twk::messageBox(L"Base layer is 4D. Create 3D layer anyway?", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return false;
    if (answer == IDYES) dims.t = 1;
  }
  FramePtr frame(VA_VolCreateUniform(FRM_REAL, dims, value));
  if (!frame) return false;
  return addResultLayer(set, true, layerName.IsEmpty() ? nullptr : layerName.GetString(), base, std::move(frame), 1);
}

bool MinimizeDicomHeaders(CDrawSet& set) {
  CDrawDoc* document = set.GetDocument();
  TW_OPERATION_END end(document, false);
  if (document) document->SetModifiedFlag();
  for (int i = 0; i < set.NumLayers(); ++i)
    if (CVol* vol = set.GetLayerVol(i); vol && !vol->MinimizeDicomHeaders(true)) return false;
  return true;
}

void RemoveDynamicDimensionsExceptTime(CDrawSet& set) {
  CDrawDoc* document = set.GetDocument();
  TW_OPERATION_END end(document, false);
  if (document) document->SetModifiedFlag();
  {
    twk::ProgressGuard progress(L"Remove all dynamic components except time", true);
    for (int i = 0; i < set.NumLayers(); ++i) {
      if (CVol* vol = set.GetLayerVol(i)) vol->RemoveAllDynamicDimensionsExceptTime();
      progress.Step(i + 1, set.NumLayers());
    }
  }
  if (document)
    for (CDrawView* view : document->Views()) view->RedrawNow();
}

bool ReplaceEchoTimeByTSL(CDrawSet& set) {
  CDrawDoc* document = set.GetDocument();
  TW_OPERATION_END end(document, false);
  if (document) document->SetModifiedFlag();
  for (int i = 0; i < set.NumLayers(); ++i) {
    CVol* vol = set.GetLayerVol(i);
    if (!vol || !vol->frame || !vol->Is4D() || vol->GetDynType() != DYN_ECHO_TIME) continue;
    if (!vol->DynDimReplaceEchoTimeByTSL()) return false;
  }
  return true;
}

bool EqualizeHistogram(CDrawSet& set) {
  CDrawDoc* document = set.GetDocument();
  TW_OPERATION_END end(document, true);
  CVol* vol = set.WorkVolSI();
  if (!vol) return false;
  if (document) document->SetModifiedFlag();
  FramePtr frame(VA_VolEqualizeHist(vol->frame, true));
  if (!frame) return false;
  const bool added = addResultLayer(set, false, nullptr, vol, std::move(frame), 0);
  if (added) activateNewLayer(set);
  return added;
}

bool LogConvert(CDrawSet& set) {
  CDrawDoc* document = set.GetDocument();
  TW_OPERATION_END end(document, true);
  CVol* vol = set.GetActiveVol();
  if (!vol || !vol->frame || !vol->IsINT()) return false;  // only integer layers, without a message
  if (document) document->SetModifiedFlag();
  FramePtr frame(VA_VolLogConvert(vol->frame, true));
  if (!frame) return false;
  const bool added = addResultLayer(set, true, nullptr, vol, std::move(frame), 0);
  if (added) activateNewLayer(set);
  return added;
}

}  // namespace twk::ops

TW_COMMAND_BINDINGS(value_operations) {
  // The prompt's last values belong to the command: they stay for the program's run.
  auto lastReplacement = std::make_shared<twk::ops::ReplaceValueRecord>();
  TW_BindOperation("CDrawSet::ReplaceSignalValue", [lastReplacement](const TW_COMMAND_CALL& c) {
    if (c.set) twk::ops::ReplaceSignalValue(*c.set, *lastReplacement);
  });
  TW_BindOperation("CDrawSet::MakeSignalVoid", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::ops::MakeSignalVoid(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::ChangeVoidToSignal", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::ops::ChangeVoidToSignal(*c.set);
  });
  TW_BindOperation("CDrawSet::ScaleToInterval", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::ops::ScaleToInterval(*c.set);
  });
  TW_BindOperation("CDrawSet::CopyTimepointToTarget", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::ops::CopyTimepointToTarget(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::InsertUniformLayer", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::ops::InsertUniformLayer(*c.set);
  });
  TW_BindOperation("CDrawSet::MinimizeDicomHeaders", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::ops::MinimizeDicomHeaders(*c.set);
  });
  TW_BindOperation("CDrawSet::RemoveDynamicDimensionsExceptTime", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::ops::RemoveDynamicDimensionsExceptTime(*c.set);
  });
  TW_BindOperation("CDrawSet::ReplaceEchoTimeByTSL", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::ops::ReplaceEchoTimeByTSL(*c.set);
  });
  TW_BindOperation("CDrawSet::EqualizeHistogram", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::ops::EqualizeHistogram(*c.set);
  });
  TW_BindOperation("CDrawSet::LogConvert", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::ops::LogConvert(*c.set);
  });
}
