// Operations on 4D series of the layer sets: the SUV map, the subtraction series, aggregation of
// equal dynamic values, 3D layers stacked into one 4D volume, maps over an interval of time
// points, mutual information across time points, principal components, the time axis traded for
// the depth axis and back, the empty border of a PET volume cropped away, and playing the time
// points in every document that shares the dynamic axis.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "AppOptions.h"
#include "BoxHelpers.h"
#include "DicomRec.h"
#include "DocHooks.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawShapes.h"
#include "DrawVol.h"
#include "DynamicOperations.h"
#include "ImageOpen.h"
#include "CropOperations.h"
#include "OperationHelpers.h"
#include "OperationScope.h"
#include "Prompts.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "ViewGeometry.h"
#include "Vol.h"
#include "docsupport/DocSupport.h"
#include "FilterDialogs.h"
#include "GeometryDialogs.h"
#include "dynamics/Dynamics.h"
#include "filters/Filters.h"
#include "geometry/Dynamic4D.h"
#include "geometry/Geometry.h"
#include "ops/VolumeOps.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"
#include "roi/MultiLayer.h"
#include "roi/RoiStatistics.h"
#include "volume/Frame.h"

namespace {

// The program-wide counter of aggregation names; it advances at every call.
unsigned g_AggregateCounter = 0;
// The delay between the time points that Play 4D shows, seconds.
double g_PlayDelay = 0.001;
// The threshold of "PET - Crop empty areas", a fraction of the largest value.
double g_CropThreshold = 0.1;

void showNewDocument(CDrawDoc* doc) {
  if (!doc) return;
  if (CDrawView* view = doc->GetActiveOrFirstView(); view && TW_ViewHooks().showFitted) TW_ViewHooks().showFitted(view);
  CDrawDoc::RedrawAllViews(doc, true);
}

// A computed volume (taken) opened as a new document named in the work folder by the source's
// name with the suffix; the new document's window fitted and shown.
CDrawDoc* openComputed(CVol** vol, const wchar_t* sourceName, const wchar_t* suffix) {
  (*vol)->name = TW_Options().tempFolder + L"/" + PR_GetFileTitle(PR_AddFileNameSfx(sourceName, suffix));
  CDrawDoc* doc = TW_CreateDocumentFromVolume(vol);
  delete *vol;
  *vol = nullptr;
  if (doc) showNewDocument(doc);
  return doc;
}

}  // namespace

namespace twk::geometry {

bool SUVmapCalculation(CDrawSet& set) {
  TW_OPERATION_END end(set.document, true);
  CVol* vol = set.WorkVolSI();
  if (!vol || !vol->IsPET()) {
    twk::doc::message(L"CDrawSet::SUVmapCalculation", L"PET volume is required");
    return false;
  }
  CVol* suv = VA_SUVmapCalculation(vol, true);
  if (!suv) return false;
  const bool ok = set.AddLayer(&suv, 100, 0, -1);
  delete suv;
  if (ok && set.document) set.document->SetModifiedFlag();
  return ok;
}

void DynSubtractionVolume(CDrawSet& set) {
  TW_OPERATION_END end(set.document, false);
  CVol* vol = set.WorkVolNonRoi();
  if (!vol || vol->T() < 2) {
    twk::doc::message(L"CDrawSet::DynSubtractionVolume", L"4D volume is required");
    return;
  }
  FramePtr frame(VA_VolDynSubtraction(vol->frame, true));
  if (!frame) return;
  set.AddResultLayer(false, true, L"subtraction volume", vol, FrameHandOff(frame), 100, 0, -1);
}

bool AggregateDynamicPoints(CDrawSet& set, int type) {
  const wchar_t* where = L"CDrawSet::AggregateDynamicPoints";
  const unsigned counter = g_AggregateCounter++;
  TW_OPERATION_END end(set.document, true);
  if (!set.IsVolumeSet()) return false;
  CDrawVol* layer = set.GetActiveLayer();
  CVol* vol = layer ? layer->vol : nullptr;
  if (!vol || !vol->frame || vol->IsROI()) {
    twk::doc::message(where, L"Integer or Real volume is required");
    return false;
  }
  if (vol->T() < 2) {
    twk::doc::message(where, L"4D volume is required");
    return false;
  }
  const DYNDIM dynKind = vol->GetDynType();
  if (dynKind == DYN_TIME || dynKind == DYN_UNKNOWN) {
    twk::doc::message(where, L"Invalid Dynamic dimension");
    return false;
  }
  if (vol->IsReal() && (type == 2 || type == 3)) {
    twk::doc::message(where, L"Invalid Aggregate type for Real images");
    return false;
  }
  const CString suffix = type == 0   ? CString(L"_Aggregate")
                         : type == 1 ? FmtStr(L"_AggregateMedian_%u", counter)
                         : type == 2 ? FmtStr(L"_AggregateResidual_%u", counter)
                                     : FmtStr(L"_AggregateRelativeResidual_%u", counter);
  bool all = false;
  if (!PR_AskYesNoCancel(L"Aggregate All disregarding chronological order?", &all)) return false;
  CVol* result = VA_AggregateVolume4D(type, all, vol, true);
  if (!result) return false;
  result->name = TW_Options().tempFolder + L"/" + PR_GetFileTitle(PR_AddFileNameSfx(vol->name, suffix));
  CDrawDoc* doc = TW_CreateDocumentFromVolume(&result);
  delete result;
  if (!doc) return false;
  CDrawSet* made = doc->GetActiveSet();
  if (CDrawVol* first = made ? made->GetLayerOfVol(made->GetBaseVol()) : nullptr) first->filter = layer->filter;
  showNewDocument(doc);
  return true;
}

CDrawDoc* ConvertDocumentLayersTo4D(CDrawDoc& doc) {
  const wchar_t* where = L"TW_ConvertDocumentLayersTo4D";
  CDrawSet* set = doc.GetActiveSet();
  if (!set) return nullptr;
  std::vector<CVol*> sources;
  for (int i = 0; i < set->NumLayers(); ++i) {
    CVol* vol = set->GetLayerVol(i);
    if (!vol || !vol->frame || vol->IsROI()) continue;
    if (!vol->Is3D()) {
      twk::doc::message(where, L"3D volume is required");
      return nullptr;
    }
    sources.push_back(vol);
  }
  if (sources.empty()) {
    twk::doc::message(where, L"No suitable Source volume is found");
    return nullptr;
  }
  // Copying volumes of other sizes into one grid would cut or pad them without a word.
  for (const CVol* vol : sources)
    if (!vol->IsEqualDim(sources[0])) {
      twk::doc::message(where, L"Equal dimensions are expected");
      return nullptr;
    }
  const bool real = std::any_of(sources.begin(), sources.end(), [](const CVol* v) { return v->IsReal(); });
  VA_SortVolumeArrayByTime(sources.data(), int(sources.size()), true);
  const int n = int(sources.size());
  const DIM3D dims{sources[0]->W(), sources[0]->H(), sources[0]->D(), n};
  FramePtr frame(VA_VolCreateUniform(real ? FRM_REAL : FRM_INT, dims, VOID_VALUE));
  if (!frame) return nullptr;
  for (int t = 0; t < n; ++t) {
    const RECT3D box{0, 0, 0, dims.w - 1, dims.h - 1, dims.d - 1};
    void* values = VA_VolGetBox(sources[size_t(t)]->frame, 0, &box, real ? 64 : 32, 1.0, 0.0);
    const bool ok = values && VA_VolSetBox(frame.get(), t, &box, values, real ? 64 : 32);
    pf_free(&values);
    if (!ok) return nullptr;
  }
  CVol* vol = VA_CloneByReformat(sources[0], FrameHandOff(frame), nullptr, nullptr, nullptr, true);
  if (!vol) return nullptr;
  // One dynamic record per source, each keeping the source's own acquisition values (echo time
  // among them) and its time.
  for (int t = 0; t < n; ++t)
    if (sources[size_t(t)]->dyn) vol->dyn[t] = sources[size_t(t)]->dyn[0];
  DICOMREC** records = nullptr;
  int64_t count = 0;
  if (VA_CloneDicomRecsWithNewGeometry(sources[0], vol->Dim(), vol->Type(), &records, &count)) {
    for (int64_t i = 0; i < vol->numDicom; ++i) delete vol->dicom[i];
    pf_free(&vol->dicom);
    vol->dicom = records;
    vol->numDicom = count;
  }
  vol->SetBpv(PR_VolBpv(vol->Type()));
  vol->name = TW_Options().tempFolder + L"/CombinedDoc";
  CDrawDoc* made = TW_CreateDocumentFromVolume(&vol);
  delete vol;
  if (made) CDrawDoc::RedrawAllViews(made, true);
  return made;
}

bool Cross4DMutualInfoOverRoi(CDrawSet& set, int measure) {
  CVol* vol = nullptr;
  CVol* roi = nullptr;
  if (!set.WorkVolNonROIandROI(false, false, false, &vol, &roi) || !vol) return false;
  double value = 0;
  if (!VA_Vol4D_CalculateMutualInfoOverROI(measure, vol->frame, roi ? roi->frame : nullptr, &value, true)) return false;
  PR_DisplayDoubleValue(L"Cross4D Mutual Info over ROI", value);
  return true;
}

bool DynamicAccumulate(CDrawSet& set, int mode, bool ask) {
  const wchar_t* where = L"CDrawSet::DynamicAccumulate";
  TW_OPERATION_END end(set.document, true);
  CVol* vol = set.WorkVolNonRoi();
  if (!vol || vol->T() < 2) {
    twk::doc::message(where, L"4D volume is required");
    return false;
  }
  int t0 = 0, t1 = vol->T() - 1;
  if (ask && !TW_SpecifyTwoInt(L"Specify time interval", L"T0 index", &t0, L"T1 index", &t1)) return false;
  // An interval the volume does not have gives no layer.
  if (t0 > t1 || t0 < 0 || t1 > vol->T() - 1) {
    twk::doc::message(where, FmtStr(L"Time interval should lie in 0..%d with T0 <= T1", vol->T() - 1));
    return false;
  }
  FramePtr map;
  const wchar_t* layerName = L"signal average";
  if (mode == 0) {
    map.reset(VA_VolDynamicAverage(vol->frame, t0, t1, true));
  } else if (mode == 1) {
    std::vector<int> order(static_cast<size_t>(vol->T()));
    if (!vol->dyn || !VA_SpecifiedDynComponentToChronoOrder(DYN_TIME, vol->dyn, vol->T(), order.data())) return false;
    map.reset(VA_VolDynamicIntegral(vol->frame, vol->dyn, order.data(), t0, t1, true));
    layerName = L"signal integral";
  } else {
    map.reset(VA_VolDynamicMax(vol->frame, t0, t1, true));
    layerName = L"signal max";
  }
  if (!map) return false;
  const bool ok = set.AddResultLayer(true, true, layerName, vol, FrameHandOff(map), 50, 0, -1);
  if (ok) set.SetActiveLayerLast();
  return ok;
}

bool Volume4DtoPCA(CDrawSet& set, bool withoutPrompt) {
  const wchar_t* where = L"CDrawSet::Volume4DtoPCA";
  CVol* vol = set.WorkVolNonRoi();
  if (!vol || vol->T() < 2) {
    twk::doc::message(where, L"4D volume is required");
    return false;
  }
  int n = vol->T();
  if (!withoutPrompt && !TW_SpecifyInt(L"Number of Principal Components to keep", &n)) return false;
  if (n < 1 || n > vol->T()) {
    twk::doc::message(where, FmtStr(L"Number of Principal Components should be 1..%d", vol->T()));
    return false;
  }
  FramePtr pca(VA_Vol4DtoPCA(vol->frame, n, true));
  if (!pca) return false;
  CVol* result = VA_CloneByReformat(vol, FrameHandOff(pca), nullptr, nullptr, nullptr, true);
  if (!result) return false;
  std::vector<DYNCRD> dyn(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) dyn[size_t(k)].time = dyn[size_t(k)].timeEnd = k + 1;
  result->SetDynamicCoords(dyn.data(), n);
  return openComputed(&result, vol->name, L"_PCA") != nullptr;
}

bool VolumeTimeToDepth(CDrawSet& set) {
  CDrawVol* layer = set.GetActiveLayer();
  if (!layer || !layer->vol || !layer->vol->frame) return false;
  FramePtr frame(VA_VolumeTimeToDepth(layer->vol->frame, true));
  if (!frame) return false;
  // The slices of every time point at their own positions, one period after the other.
  CVol* vol = VA_CloneByReformat(layer->vol, FrameHandOff(frame), nullptr, nullptr, nullptr, true);
  if (!vol) return false;
  const CVol* source = layer->vol;
  pf_free(&vol->imgPos);
  if (source->imgPos) {
    vol->imgPos = static_cast<DPOINT3D*>(pf_malloc(int64_t(vol->D()) * int64_t(sizeof(DPOINT3D))));
    for (int k = 0; vol->imgPos && k < vol->D(); ++k) vol->imgPos[k] = source->imgPos[k % source->D()];
  }
  return openComputed(&vol, source->name, L"_TtoD") != nullptr;
}

bool VolumeDepthToTime(CDrawSet& set, CDrawView* view) {
  (void)view;
  CDrawVol* layer = set.GetActiveLayer();
  if (!layer || !layer->vol || !layer->vol->frame) return false;
  DIM3D dims;
  FramePtr frame(VA_VolumeDepthToTime(layer->vol, &dims, true));
  if (!frame) return false;
  CVol* vol = VA_CloneByReformat(layer->vol, FrameHandOff(frame), nullptr, nullptr, nullptr, true);
  if (!vol) return false;
  DYNCRD* dyn = VA_AllocDynCrd(dims.t);
  if (dyn) vol->SetDynamicCoords(dyn, dims.t);
  pf_free(&dyn);
  CDrawDoc* doc = openComputed(&vol, layer->vol->name, L"_DtoT");
  if (!doc) return false;
  if (CDrawSet* made = doc->GetActiveSet(); made && made->GetLayer(0)) {
    made->GetLayer(0)->filter = layer->filter;
    CDrawDoc::RedrawAllViews(doc, true);
  }
  return true;
}

bool CropEmptyAreas(CDrawSet& set, CDrawView* view) {
  const wchar_t* where = L"CDrawSet::CropEmptyAreas";
  TW_OPERATION_END end(set.document, true);
  CVol* vol = set.WorkVolNonRoi();
  if (!vol) {
    twk::doc::message(where, L"No suitable volume is present or enabled");
    return false;
  }
  if (set.NumLayers() != 1) {
    twk::doc::message(where, L"Single layer entity is expected");
    return false;
  }
  FramePtr max(VA_VolDynamicMax(vol->frame, 0, vol->T() - 1, true));
  if (!max) return false;
  double lo = 0, hi = 0;
  VA_VolMinMax(max.get(), 0, nullptr, &lo, &hi);
  if (!TW_EnterDouble(L"Threshold", &g_CropThreshold)) return false;
  const FramePtr mask(VA_VolThreshold(max.get(), 0, g_CropThreshold * hi, 1e59, true));
  max.reset();
  RECT3D box;
  const bool found = mask && VA_GetSingleBoundRect(mask.get(), &box) && box.x0 <= box.x1;
  if (!found || !view) return false;
  const RECT4D box4{box.x0, box.y0, box.z0, box.x1, box.y1, box.z1, 0, vol->T() - 1};
  return twk::ops::VolumeCrop(*view, true, &box4, nullptr, true) != nullptr;
}

bool FindTimeSyncedSets(CDrawSet& set, CDrawSet*** sets, int* count) {
  if (!sets || !count) return false;
  int maxT = 0, index = 0;
  if (!set.MaxT(&maxT, &index)) return false;
  CString dimName, unit;
  double* values = nullptr;
  const CVol* own = set.GetLayerVol(index);
  if (!own || !own->GetDynamicDimension(&dimName, &unit, &values)) return false;
  std::vector<CDrawSet*> found{&set};
  int docCount = 0;
  CDrawDoc** docs = TW_GetAllDocuments(&docCount);
  for (int i = 0; i < docCount; ++i) {
    CDrawSet* other = docs[i]->GetActiveSet();
    int otherT = 0, otherIndex = 0;
    if (!other || other == &set || !other->MaxT(&otherT, &otherIndex) || otherT != maxT) continue;
    CString otherName, otherUnit;
    double* otherValues = nullptr;
    const CVol* vol = other->GetLayerVol(otherIndex);
    if (vol && vol->GetDynamicDimension(&otherName, &otherUnit, &otherValues) && otherName == dimName &&
        otherUnit == unit && std::memcmp(values, otherValues, size_t(maxT) * sizeof(double)) == 0)
      found.push_back(other);
    pf_free(&otherValues);
  }
  pf_free(&docs);
  pf_free(&values);
  *sets = pf_duplicate(found.data(), int64_t(found.size()));
  if (!*sets) return false;
  *count = int(found.size());
  return true;
}

bool Play4D(CDrawSet& set, CDrawView* view) {
  const wchar_t* where = L"CDrawSet::Play4D";
  int T = 0, index = 0;
  if (!set.MaxT(&T, &index) || T < 2) {
    twk::doc::message(where, L"4D volume is required");
    return false;
  }
  if (!view || !TW_EnterDouble(L"Interframe time delay (.001 sec precision)", &g_PlayDelay)) return false;
  const int delay = int(std::floor(g_PlayDelay * 1000 + 0.5));
  const int start = view->CurrentDynInx();
  CDrawSet** sets = nullptr;
  int count = 0;
  CString dimName, unit;
  double* values = nullptr;
  const CVol* vol = set.GetLayerVol(index);
  if (!FindTimeSyncedSets(set, &sets, &count) || !vol->GetDynamicDimension(&dimName, &unit, &values)) {
    pf_free(&sets);
    return false;
  }
  bool ok = true;
  {
    twk::ProgressGuard progress(L"", true);
    for (int i = start; i <= T && ok; ++i) {
      const int shown = i < T ? i : 0;
      if (i < T && !progress.Step(i, T)) {
        ok = false;
        break;
      }
      twk::ui().setStatusText(FmtStr(L"%s = %8.3lf %s (%u)", static_cast<const wchar_t*>(dimName), values[shown],
                                     static_cast<const wchar_t*>(unit), unsigned(shown)));
      int timeIndex = 0;
      if (!vol->DynInxToTimeInx(shown, &timeIndex)) {
        ok = false;
        break;
      }
      for (int s = 0; s < count && ok; ++s) {
        CDrawDoc* doc = sets[s]->document;
        CDrawView** views = nullptr;
        int viewCount = 0;
        if (doc) views = doc->GetViews(&viewCount);
        for (int v = 0; v < viewCount && ok; ++v) ok = sets[s]->VolChangeSlice(views[v], 1, timeIndex, 0, 0);
        pf_free(&views);
      }
      // The wait pumps events, so that Esc and painting are seen while it lasts.
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay);
      do {
        if (!progress.Poll()) ok = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(delay, 10)));
      } while (ok && std::chrono::steady_clock::now() < until);
    }
  }
  pf_free(&values);
  pf_free(&sets);
  return ok;
}

bool ExtrapolateMultiechoToTE0(CDrawSet& set) {
  const wchar_t* where = L"CDrawSet::ExtrapolateMultiechoToTE0";
  CVol* vol = set.WorkVolNonROI4D();
  if (!vol) {
    twk::doc::message(where, L"4D volume is required");
    return false;
  }
  // OK smooths the echoes by the record before the fit; Cancel fits them as they are.
  const bool smooth = TW_DlgVolSmooth(&g_VolSmoothParms2, false);
  double threshold = 0;
  if (!TW_EnterDouble(L"Air threshold", &threshold)) return false;
  CVol* s0 = nullptr;
  CVol* t2 = nullptr;
  if (!VA_FoldMultiechoVolume4D(vol, smooth ? &g_VolSmoothParms2 : nullptr, threshold, &s0, &t2, true)) return false;
  CDrawDoc* doc = TW_CreateDocumentFromVolume(&s0);
  delete s0;
  CDrawSet* made = doc ? doc->GetActiveSet() : nullptr;
  if (made && made->AddLayer(&t2, 100, 0, 0)) {
    // The T2 map (seconds) is added hidden, windowed on 0..0.1 s.
    if (CDrawVol* layer = made->GetLayer(made->NumLayers() - 1)) {
      layer->filter.level = 0.05;
      layer->filter.width = 0.1;
      layer->SetMarked(false);
    }
  }
  delete t2;
  if (doc) showNewDocument(doc);
  if (set.document) CDrawDoc::RedrawAllViews(set.document, true);
  return doc != nullptr;
}

bool RestoreIvimResidualMap(CDrawSet& set) {
  CVol* dp = twk::ops::FindLayerContaining(set, true, L"Dp component", false);
  CVol* dt = twk::ops::FindLayerContaining(set, true, L"Dt component", false);
  CVol* f = twk::ops::FindLayerContaining(set, true, L"f microcirculation", false);
  if (!dp || !dt || !f) {
    twk::doc::message(L"CDrawSet::RestoreIvimResidualMap", L"Missing parameter map layer");
    return false;
  }
  CVol* s0 = twk::ops::FindLayerContaining(set, false, L"S0", false);
  FramePtr rmse(VA_RecoverIvimResidual(set.GetBaseVol(), s0, f, dp, dt, true));
  if (!rmse) return false;
  const bool ok = set.AddResultLayer(false, false, L"rmse", f, FrameHandOff(rmse), 100, 1, -1);
  return ok;
}

bool AdvanceToTimepointOfVroiPeak(CDrawSet& set, CDrawView* view) {
  TW_OPERATION_END end(set.document, false);
  CVol* vol = set.WorkVolNonROI4D();
  if (!vol) {
    twk::doc::message(L"CDrawSet::AdvanceToTimepointOfVroiPeak", L"4D volume is required");
    return false;
  }
  const int wh[2] = {vol->W(), vol->H()};
  DRECT3D seed;
  RECT3D box;
  if (!twk::ops::ExtractOperSeedBox(set, view, wh, &seed) || !PR_DRect3DToRect3D(&seed, &box, nullptr)) return false;
  int timeIndex = 0;
  if (!VA_VolGetBoxPeak(vol->frame, &box, &timeIndex, true)) return false;
  if (set.document) {
    set.document->SetModifiedFlag();
    int count = 0;
    CDrawView** views = set.document->GetViews(&count);
    for (int v = 0; v < count; ++v) set.VolChangeSlice(views[v], 1, timeIndex, 0, 0);
    pf_free(&views);
  }
  return true;
}

bool Basic4Dgradient(CDrawSet& set) {
  const wchar_t* where = L"CDrawSet::Basic4Dgradient";
  TW_OPERATION_END end(set.document, true);
  CVol* roi = nullptr;
  if (!set.WorkVolROI_SingleOptional(&roi)) return false;
  CVol* vol = set.WorkVolSI();
  if (!vol) {
    twk::doc::message(where, L"No suitable volume is present or enabled");
    return false;
  }
  if (vol->T() < 2) {
    twk::doc::message(where, L"4D volume is required");
    return false;
  }
  FramePtr map(VA_VolBasicGradient4D(vol->frame, vol->dyn, roi ? roi->frame : nullptr, 0, true));
  if (!map) return false;
  const bool ok = set.AddResultLayer(false, true, L"4D gradient", vol, FrameHandOff(map), 100, 0, -1);
  if (ok) set.SetActiveLayerLast();
  return ok;
}

bool ImageGradientAverageOverTime(CDrawSet& set, CDrawView* view) {
  TW_OPERATION_END end(set.document, true);
  CVol* vol = set.WorkVolSI();
  int count = 0;
  CVol* roi = set.WorkVolROI(&count);
  // The ROI gates the command and picks the voxels whose gradient is drawn.
  if (!vol || !roi) return false;
  FRAME* averagedOut = nullptr;
  double* gradient = VA_ImageGradAverageOverTimeSubtractMin(vol->frame, &averagedOut, true);
  FramePtr averaged(averagedOut);
  if (!gradient) return false;
  const bool added =
      !averaged || set.AddResultLayer(false, true, nullptr, vol, FrameHandOff(averaged), 100, 0, -1);
  const DIM3D dims{vol->W(), vol->H(), vol->D(), 1};
  // One line per ROI voxel, the longest one voxel long.
  const bool ok = added && view && TW_AddGradientLines(&set, view, gradient, &dims, 1.0, roi);
  pf_free(&gradient);
  return ok;
}

bool BPEmapAnalysisAndReport(CDrawSet& set, bool) {
  const wchar_t* where = L"CDrawSet::BPEmapAnalysisAndReport";
  CVol* vol = nullptr;
  CVol* roi = nullptr;
  if (!set.WorkVolNonROIandROI(false, true, true, &vol, &roi) || !vol || !roi) return false;
  if (vol->GetDynType() != DYN_TIME) {
    twk::doc::message(where, L"Time dynamic dimension is required");
    return false;
  }
  CString label, unit;
  double* times = nullptr;
  if (!vol->GetDynamicDimension(&label, &unit, &times)) return false;
  double threshold = 45.0;
  bool header = false;
  if (!TW_EnterDouble(L"Threshold percentage [0,100]", &threshold) ||
      !PR_AskYesNoCancel(L"Include header line?", &header)) {
    pf_free(&times);
    return false;
  }
  CString report;
  FramePtr map(VA_BreastBPEmapAnalysisAndReport(vol->frame, roi->frame, vol->Spc(), times, threshold, header, &report));
  pf_free(&times);
  if (!map) return false;
  const CString layerName = FmtStr(L"BPE map _%3.1lf pct", threshold);
  const bool added = set.AddResultLayer(false, false, layerName, vol, FrameHandOff(map), 50, 1, -1);
  // The report is shown only for a map that was added.
  if (added) PR_NotepadExeOpenString(TW_Options().tempFolder, report);
  return added;
}

bool AggregateGrad4D(CDrawSet& set) {
  CVol* vol = nullptr;
  CVol* roi = nullptr;
  if (!set.WorkVolNonROIandROI(false, true, false, &vol, &roi) || !vol) return false;
  if (!TW_DlgMultiScaleTextureGrad(&g_UralGradParms)) return false;
  double noise = 0;
  if (g_UralGradParms.magnitude == 2) {
    if (!VA_VolEffectiveNoise(vol, 0, &noise, true)) return false;
    noise = std::floor(noise / 0.1 + 0.5) * 0.1;
    if (!TW_EnterDouble(L"Noise", &noise) || !(noise > 0)) return false;
  }
  if (set.document) set.document->SetModifiedFlag();
  FramePtr map(vol->MSTG_Aggregate4D(&g_UralGradParms, noise, roi ? roi->frame : nullptr, true));
  if (!map) return false;
  const CString layerName = PR_GetFileTitle(PR_AddFileNameSfx(vol->name, L"_AggregateGrad4D"));
  const bool ok = set.AddResultLayer(true, true, layerName, vol, FrameHandOff(map), 50, 0, -1);
  if (ok) set.SetActiveLayerLast();
  return ok;
}

}  // namespace twk::geometry
