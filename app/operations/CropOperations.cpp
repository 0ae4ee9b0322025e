// Crops of the active set into new documents: a box of a 4D vector ROI (one layer or all of them,
// with the other vector ROIs that meet the box), the current slice, a list of time points, and a 4D
// volume split into one layer per time point. The new document opens in its own window with the
// projection of the view the command came from; the source keeps its layers.
#include "CropOperations.h"

#include <algorithm>
#include <vector>

#include "CommandTable.h"
#include "DocHooks.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "HighObj.h"
#include "BoxHelpers.h"
#include "ImageOpen.h"
#include "OperationScope.h"
#include "Prompts.h"
#include "TwkMem.h"
#include "ViewGeometry.h"
#include "Vol.h"
#include "VectorRois.h"
#include "dynamics/Dynamics.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"

bool TW_SyncCroppedDocumentView(CDrawDoc* newDoc, CDrawView* sourceView);

namespace {

// "<file title of name with the suffix>.twk".
CString documentName(const wchar_t* name, const wchar_t* suffix) {
  return PR_GetFileTitleName(PR_AddFileNameSfx(name, suffix)) + L".twk";
}

void destroyDocument(CDrawDoc* doc) {
  if (!doc) return;
  const auto& close = TW_DocumentHooks().closeDocument;
  if (close) close(doc);
  else delete doc;
}

// The new document's window fitted into the frame and shown, its views redrawn (the active one last).
void showNewDocument(CDrawDoc* doc) {
  if (CDrawView* view = doc->GetActiveOrFirstView(); view && TW_ViewHooks().showFitted) TW_ViewHooks().showFitted(view);
  CDrawDoc::RedrawAllViews(doc, true);
}

// A time list {count, t0, t1, ...}.
std::vector<int32_t> timeList(const std::vector<int32_t>& times) {
  std::vector<int32_t> list{int32_t(times.size())};
  list.insert(list.end(), times.begin(), times.end());
  return list;
}

// The list of a 3D layer in a crop by time points: its one time point.
const int32_t kFirstTimePoint[2] = {1, 0};

void takeDisplay(CDrawVol* target, const CDrawVol* source) {
  if (target && source) target->filter = source->filter;
}

}  // namespace

bool TW_SyncCroppedDocumentView(CDrawDoc* newDoc, CDrawView* sourceView) {
  CDrawSet* newSet = newDoc ? newDoc->GetActiveSet() : nullptr;
  CDrawView* newView = newDoc ? newDoc->GetActiveOrFirstView() : nullptr;
  CDrawDoc* sourceDoc = sourceView ? sourceView->GetDocument() : nullptr;
  CDrawSet* sourceSet = sourceDoc ? sourceDoc->GetActiveSet() : nullptr;
  VA_VOLPROJ* target = newSet && newView ? newSet->FindViewProjection(newView) : nullptr;
  const VA_VOLPROJ* source = sourceSet ? sourceSet->FindViewProjection(sourceView) : nullptr;
  if (!target || !source) return true;
  CDrawView* owner = target->view;
  *target = *source;
  target->view = owner;
  // The middle slice of the projection, the first time point ...
  const CVol* base = newSet->GetBaseVol();
  DIM3D projected;
  if (base && base->frame && base->ProjDimensions(target, &projected)) target->slice = projected.d / 2;
  target->timeIndex = 0;
  // ... unless the source shows a time point whose dynamic value the crop kept.
  int sourceT = 0, sourceIndex = 0, newT = 0, newIndex = 0;
  if (sourceSet->MaxT(&sourceT, &sourceIndex) && sourceT > 1 && newSet->MaxT(&newT, &newIndex)) {
    const CVol* from = sourceSet->GetLayerVol(sourceIndex);
    const CVol* to = newSet->GetLayerVol(newIndex);
    const int t = source->timeIndex;
    if (from && to && from->dyn && to->dyn && t >= 0 && t < from->T()) {
      const DYNDIM kind = from->GetDynType();
      const double value = VA_DynCoordinate(from->dyn[t], kind);
      for (int i = 0; i < to->T(); ++i)
        if (VA_DynCoordinate(to->dyn[i], kind) == value) {
          target->timeIndex = i;
          break;
        }
    }
  }
  return true;
}

namespace twk::ops {

CDrawSet* OperVectRoi(CDrawView& view, bool report) {
  const wchar_t* name = L"CDrawView::OperVectRoi";
  CDrawSet* owner = view.GetActiveSet();
  CDrawSet** rois = nullptr;
  int count = 0;
  if (owner) TW_CollectVectRoisOfVolume(owner, &view, &rois, &count);
  CDrawSet* chosen = nullptr;
  if (count == 1) {
    chosen = rois[0];
  } else if (report) {
    twk::doc::message(name, count == 0 ? L"4D Vector ROI is required"
                                       : L"More than one Vector ROI is present and none selected");
  }
  pf_free(&rois);
  return chosen;
}

CDrawDoc* VolumeCrop(CDrawView& view, bool allLayers, const RECT4D* givenBox, const wchar_t* suffix, bool cloneFlag) {
  const wchar_t* name = L"CDrawView::VolumeCrop";
  if (!suffix) suffix = L"_cropped";
  CDrawSet* vroi = nullptr;
  if (!givenBox && !(vroi = OperVectRoi(view, true))) return nullptr;
  CDrawDoc* doc = view.GetDocument();
  if (!doc) return nullptr;
  doc->SetModifiedFlag();
  CDrawSet* active = view.GetActiveSet();
  if (!active || !active->FindViewProjection(&view)) return nullptr;
  CDrawSet* set = givenBox ? active : vroi->vroi->owner;
  if (!set || !set->GetBaseVol()) {
    twk::doc::message(name, L"Base entity is not present");
    return nullptr;
  }
  RECT4D box;
  if (givenBox) {
    box = *givenBox;
  } else {
    const HIGHOBJ* r = vroi->vroi;
    const DRECT3D d{r->x0, r->y0, r->z0, r->x1, r->y1, r->z1};
    RECT3D b;
    if (!PR_DRect3DToRect3D(&d, &b, set->GetBaseVol()->Dim())) {
      twk::doc::message(name, L"Invalid Box");
      return nullptr;
    }
    box = RECT4D{b.x0, b.y0, b.z0, b.x1, b.y1, b.z1, r->t0, r->t1};
  }
  CDrawVol* sourceLayer = allLayers ? set->GetLayer(0) : set->GetActiveLayer();
  CVol* source = sourceLayer ? sourceLayer->vol : nullptr;
  if (!source || !source->frame) return nullptr;
  auto boxFor = [&box](const CVol* v) {
    RECT4D b = box;
    if (v->Is3D()) b.t0 = b.t1 = 0;
    return b;
  };
  const RECT4D first = boxFor(source);
  CDrawDoc* newDoc = TW_CreateDocumentByCrop(documentName(source->name, suffix), source, &first, nullptr, cloneFlag, true);
  if (!newDoc) return nullptr;
  CDrawSet* newSet = newDoc->GetActiveSet();
  auto fail = [newDoc]() -> CDrawDoc* {
    destroyDocument(newDoc);
    return nullptr;
  };
  if (!newSet || !TW_SyncCroppedDocumentView(newDoc, &view)) return fail();
  newDoc->SetModifiedFlag();
  takeDisplay(newSet->GetLayer(0), sourceLayer);
  if (allLayers) {
    // Named after the source document; a name to save under, not a file that exists.
    newDoc->SetPathName(documentName(doc->GetTitle(), suffix), false);
    for (int i = 1; i < set->NumLayers(); ++i) {
      CDrawVol* layer = set->GetLayer(i);
      if (!layer || !layer->vol || !layer->vol->frame) continue;
      const RECT4D b = boxFor(layer->vol);
      if (!TW_CropToNewLayer(newSet, true, PR_AddFileNameSfx(layer->vol->name, suffix), layer->vol, &b, nullptr,
                             layer->opacity, layer->filter.scheme, int(layer->filter.roiColor), cloneFlag, true))
        return fail();
      CDrawVol* added = newSet->GetLayer(newSet->NumLayers() - 1);
      takeDisplay(added, layer);
      if (added) added->SetMarked(set->IsLayerMarked(layer->vol));
    }
    // The other vector ROIs of the set that meet the box come along, in the crop's coordinates.
    int count = 0;
    CDrawSet** rois = TW_CollectVectRoiObjects(set, &count);
    const int32_t limits[8] = {box.x0, box.y0, box.z0, box.x1, box.y1, box.z1, box.t0, box.t1};
    for (int i = 0; i < count; ++i) {
      if (rois[i] == vroi) continue;
      HIGHOBJ r = *rois[i]->vroi;
      if (!TW_IntersectVectRoiBounds(&r, limits)) continue;
      const double b[6] = {r.x0, r.y0, r.z0, r.x1, r.y1, r.z1};
      TW_CreateVectRoiFromLabel(newSet, b, r.t0, r.t1, static_cast<const char*>(nullptr));
    }
    pf_free(&rois);
  }
  newSet->RefreshLayerPanel();
  showNewDocument(newDoc);
  return newDoc;
}

bool CropSpecifiedDynPnts(CDrawSet& set, CDrawView* view, const int32_t* givenList, bool keep, bool current) {
  const wchar_t* where = L"CDrawSet::CropSpecifiedDynPnts";
  CDrawDoc* document = set.GetDocument();
  TW_OPERATION_END end(document, false);
  int T = 0;
  if (!set.MaxT(&T, nullptr) || T < 1) return false;
  if (document) document->SetModifiedFlag();
  std::vector<int32_t> times;
  if (givenList) {
    times.assign(givenList + 1, givenList + 1 + givenList[0]);
    for (int32_t t : times)
      if (t < 0 || t >= T) {
        twk::doc::message(where, L"Invalid dynamic points");
        return false;
      }
  } else if (current) {
    if (!view) return false;
    times.push_back(view->CurrentTime());
  } else {
    CString text;
    if (!TW_SpecifyStr(L"Enter dynamic indices (base 1) separated by commas", &text)) return false;
    int* values = nullptr;
    int count = 0;
    if (!PR_ExtractIntegers(text, &values, &count) || count < 1) {
      pf_free(&values);
      return false;
    }
    for (int i = 0; i < count; ++i) {
      if (values[i] < 1 || values[i] > T) {
        pf_free(&values);
        twk::doc::message(where, L"Invalid dynamic points");
        return false;
      }
      times.push_back(values[i] - 1);
    }
    pf_free(&values);
  }
  if (!keep) {
    std::vector<int32_t> rest;
    for (int t = 0; t < T; ++t)
      if (std::find(times.begin(), times.end(), t) == times.end()) rest.push_back(t);
    if (rest.empty()) {
      twk::doc::message(where, L"No dynamic points present");
      return false;
    }
    times = rest;
  }
  const std::vector<int32_t> list = timeList(times);
  // The marked layers; with none, nothing is made.
  std::vector<CDrawVol*> layers;
  for (int i = 0; i < set.NumLayers(); ++i)
    if (CDrawVol* layer = set.GetLayer(i); layer && layer->IsMarked() && layer->vol && layer->vol->frame)
      layers.push_back(layer);
  if (layers.empty()) return false;
  const CString sourceName = document ? document->GetPathName() : CString(L"volume");
  CDrawDoc* newDoc = nullptr;
  CDrawSet* newSet = nullptr;
  for (CDrawVol* layer : layers) {
    const int32_t* layerList = layer->vol->Is3D() ? kFirstTimePoint : list.data();
    if (!newDoc) {
      newDoc = TW_CreateDocumentByCrop(documentName(sourceName.IsEmpty() ? layer->vol->name : sourceName, L"_cropped"),
                                       layer->vol, nullptr, layerList, true, true);
      if (!newDoc) return false;
      newSet = newDoc->GetActiveSet();
      if (!newSet || !TW_SyncCroppedDocumentView(newDoc, view)) {
        destroyDocument(newDoc);
        return false;
      }
    } else if (!TW_CropToNewLayer(newSet, true, PR_AddFileNameSfx(layer->vol->name, L"_cropped"), layer->vol, nullptr,
                                  layerList, layer->opacity, layer->filter.scheme, int(layer->filter.roiColor), true,
                                  true)) {
      destroyDocument(newDoc);
      return false;
    }
    takeDisplay(newSet->GetLayer(newSet->NumLayers() - 1), layer);
  }
  showNewDocument(newDoc);
  return true;
}

bool CropCurrentSlice(CDrawSet& set, CDrawView* view) {
  const wchar_t* where = L"CDrawSet::CropCurrentSlice";
  TW_OPERATION_END end(set.GetDocument(), false);
  if (view && view->IsFilmView(nullptr)) {
    twk::doc::message(where, L"Film View is not allowed");
    return false;
  }
  CVol* base = set.GetBaseVol();
  const VA_VOLPROJ* record = view ? set.FindViewProjection(view) : nullptr;
  if (!base || !base->frame || !record) return false;
  int T = 1;
  set.MaxT(&T, nullptr);
  const RECT4D box{0, 0, record->slice, base->W() - 1, base->H() - 1, record->slice, 0, std::max(T, 1) - 1};
  CString suffix;
  suffix.Format(L" slice%u", unsigned(record->slice + 1));
  CDrawDoc* newDoc = VolumeCrop(*view, true, &box, suffix, true);
  if (!newDoc) return false;
  TW_SyncCroppedDocumentView(newDoc, view);
  CDrawDoc::RedrawAllViews(newDoc, false);
  return true;
}

bool Split4DToLayers(CDrawSet& set, CDrawView* view) {
  CDrawDoc* document = set.GetDocument();
  TW_OPERATION_END end(document, false);
  CVol* vol = set.WorkVolNonROI4D();
  if (!vol) return false;
  const CString sourceName = document && !document->GetPathName().IsEmpty() ? document->GetPathName() : vol->name;
  const int32_t first[2] = {1, 0};
  CDrawDoc* newDoc = TW_CreateDocumentByCrop(documentName(sourceName, L"_layers"), vol, nullptr, first, false, true);
  if (!newDoc) return false;
  CDrawSet* newSet = newDoc->GetActiveSet();
  auto fail = [newDoc] {
    destroyDocument(newDoc);
    return false;
  };
  if (!newSet || !TW_SyncCroppedDocumentView(newDoc, view)) return fail();
  const int scheme = newSet->GetLayer(0) ? newSet->GetLayer(0)->filter.scheme : 0;
  for (int t = 1; t < vol->T(); ++t) {
    CString suffix;
    suffix.Format(L"_t%u", unsigned(t));
    const int32_t list[2] = {1, t};
    if (!TW_CropToNewLayer(newSet, true, PR_AddFileNameSfx(vol->name, suffix), vol, nullptr, list, 100, scheme,
                           int(0xFFFFFFFF), false, true))
      return fail();
  }
  // The 3D ROI layers of the source come whole.
  for (int i = 0; i < set.NumLayers(); ++i) {
    CDrawVol* layer = set.GetLayer(i);
    CVol* roi = layer ? layer->vol : nullptr;
    if (!roi || !roi->frame || !roi->IsROI3D()) continue;
    const RECT4D whole{0, 0, 0, roi->W() - 1, roi->H() - 1, roi->D() - 1, 0, 0};
    if (!TW_CropToNewLayer(newSet, true, roi->name, roi, &whole, nullptr, layer->opacity, 0,
                           int(layer->filter.roiColor), false, true))
      return fail();
  }
  showNewDocument(newDoc);
  return true;
}

}  // namespace twk::ops

TW_COMMAND_BINDINGS(crop_operations) {
  TW_BindOperation("CDrawView::VolumeCrop", [](const TW_COMMAND_CALL& c) {
    if (c.view) twk::ops::VolumeCrop(*c.view, c.Flag(0), nullptr, nullptr, c.Flag(3));
  });
  TW_BindOperation("CDrawSet::CropSpecifiedDynPnts", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::ops::CropSpecifiedDynPnts(*c.set, c.view, nullptr, c.Flag(2), c.Flag(3));
  });
  TW_BindOperation("CDrawSet::CropCurrentSlice", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::ops::CropCurrentSlice(*c.set, c.view);
  });
  TW_BindOperation("CDrawSet::Split4DToLayers", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::ops::Split4DToLayers(*c.set, c.view);
  });
}
