// The parametric-map driver of the layer sets.
#include "ParametricMaps.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "AppOptions.h"
#include "CommandTable.h"
#include "ConcConv.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "DynExp.h"
#include "DynExpDialogs.h"
#include "ImageOpen.h"
#include "OperationHelpers.h"
#include "RegularisedMapDriver.h"
#include "TacVolume.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "dynamics/Dynamics.h"
#include "paths/FilePaths.h"
#include "volume/Frame.h"

namespace {

constexpr const wchar_t* kDriver = L"CDrawSet::ActivateParametricMapCalculation";
constexpr double kUndefined = 1e60;

void stopBox(const CString& text) { twk::ui().messageBox(text, L"Tarnwick", MB_OK | MB_ICONSTOP); }

// Frees the driver's buffers on every way out.
struct Buffers {
  double** maps = nullptr;
  int count = 0;
  std::vector<double> fitted, intervals;
  FramePtr fitFrame;
  ~Buffers() { pf_free_parr(&maps, count); }
};

}  // namespace

// Merges the defined values of src into dst (a later ROI's voxels over an earlier result).
static void combineRealVols(double* dst, const double* src, int64_t n) {
  for (int64_t i = 0; i < n; ++i)
    if (src[i] != kUndefined) dst[i] = src[i];
}

namespace {

// The extrapolation of the driver: the tissue attributes (the ROI's record, else asked when the
// conversion needs a T1), the wanted values typed by the user, and the extrapolated volume as a new
// document whose layer keeps the source layer's display window.
bool extrapolateIntoDocument(CDrawSet& set, CDynExp* host, CVol* vol, CVol* roi, int allowed) {
  VA_TISSUEATTRIB attrib = roi ? roi->tissue : VA_TISSUEATTRIB{};
  if (!roi && allowed != 1 && VA_ConcRequiresTissueAttrib(int(host->tissueConc.method)) &&
      !TW_DlgTissueProp(nullptr, 5, &attrib))
    return false;
  const int n = vol->T();
  std::vector<int> order(size_t(std::max(n, 1)));
  DYNDIM kind = DYN_UNKNOWN;
  CString name, unit;
  if (!host->IsLoaded() || !VA_MainDynComponentToChronoOrder(vol->dyn, n, order.data(), &kind, &name, &unit))
    return false;
  std::vector<twk::PromptField> fields = {
      twk::PromptField::string(FmtStr(L"Enter additional %s (%s)", name.GetString(), unit.GetString()), L"")};
  if (!twk::ui().askValues(L"Extrapolate", fields)) return false;
  CVol* result = host->VolExtrapolateModel(vol, roi ? roi->frame : nullptr, &attrib, host->GetCurrentModel(),
                                           fields[0].text.GetString());
  if (!result) return false;
  result->name = TW_Options().tempFolder + L"\\" + PR_GetFileName(result->name.GetString());
  CDrawDoc* doc = TW_CreateDocumentByClone(result->name.GetString(), result, nullptr, nullptr, nullptr, false);
  delete result;
  if (!doc) return false;
  CDrawVol* source = set.GetLayerOfVol(vol);
  CDrawSet* made = doc->GetActiveSet();
  if (CDrawVol* layer = made ? made->GetLayer(0) : nullptr; layer && source) {
    layer->filter.level = source->filter.level;
    layer->filter.width = source->filter.width;
  }
  return true;
}

}  // namespace

namespace twk::dynamic {

bool ActivateParametricMapCalculation(CDrawSet& set, int model, const int* requested, int mask, int mode,
                                      CString* text, int* chosenMode, bool redraw, bool showResults, int flag) {
  // 1. (A run stopped in its fits gives the flag back: the document did not change.)
  CDrawDoc* document = set.GetDocument();
  const bool wasModified = document && document->IsModified();
  if (document) document->SetModifiedFlag(true);
  if (text) text->Empty();
  struct Finish {
    CDrawSet& set;
    bool redraw;
    ~Finish() {
      if (redraw && set.GetDocument()) CDrawDoc::RedrawAllViews(set.GetDocument(), true);
    }
  } finish{set, redraw};

  // 2. A set of volume layers with a 4D layer; the host loaded.
  if (!set.IsVolumeSet()) return false;
  bool found4D = false;
  for (int i = 0; i < set.NumEntries() && !found4D; ++i) {
    CDrawObj* entry = set.GetEntry(i);
    if (!entry || entry->Kind() != DRAWOBJ_VOL) {
      twk::doc::message(L"CDrawObj::IsVolumetricVoxelData4D", L"Volumetric Entity is required");
      break;
    }
    const CVol* v = static_cast<CDrawVol*>(entry)->GetVol();
    found4D = v && v->frame && v->T() > 1;
  }
  if (!found4D) {
    stopBox(L"4D volume is required");
    return false;
  }
  CDynExp* host = TW_DynExpHost();
  if (!host || !host->IsLoaded()) return false;

  // 3. Operands.
  CVol* vol = set.WorkVolNonROI4D();
  if (!vol) return false;
  CVol* atlas = twk::ops::FindLayerContaining(set, false, L"segment atlas", true);
  int roiCandidates = 0;
  CVol* singleRoi = set.WorkVolROI(&roiCandidates);

  // 4. Conversions the volume allows.
  int allowed = 511;
  if (!host->VerifyAndChangeDefaultConcConv(vol, &allowed)) return false;
  const int modality = vol->GetModality();

  // 5..8. The dialog loop.
  int chosen = 0;
  bool fitVolumeFlag = false;
  std::vector<CVol*> rois;
  bool regularised = false;
  for (;;) {
    if (model >= 0) host->SetCurrentModel(model);
    else if (!host->ModelIsAllowed(vol, host->GetCurrentModel())) host->SetCurrentModel(0);
    TW_PPMCALC dialog;
    dialog.host = host;
    dialog.vol = vol;
    dialog.roiCount = roiCandidates;
    dialog.mask = mask;
    dialog.requested = requested;
    dialog.allowedConc = allowed;
    dialog.press = mode >= 1 && mode <= 3 ? mode : 0;
    if (mode > 3) dialog.mode = mode;
    if (!TW_DlgPpmCalc(&dialog)) return false;
    chosen = mode > 3 ? mode : dialog.mode;
    if (chosenMode) *chosenMode = chosen;
    fitVolumeFlag = dialog.fitVolume && (chosen == 1 || chosen == 2);

    // 7. ROIs by mode.
    rois.clear();
    if (chosen == 2 || chosen == 3) {
      if (singleRoi && roiCandidates == 1) {
        rois.push_back(singleRoi);
      } else {
        CVol** markedRois = nullptr;
        int count = 0;
        if (set.GetMarkedRoiLayers(true, false, &markedRois, &count)) {
          rois.assign(markedRois, markedRois + count);
          pf_free(&markedRois);
        } else if (chosen == 2) {
          return false;
        }
      }
      if (chosen == 2 && rois.empty()) {
        twk::doc::message(kDriver, L"ROI is not present or enabled");
        return false;
      }
    } else if (chosen == 5) {
      // 9. Extrapolation into a new document.
      CVol** markedRois = nullptr;
      int count = 0;
      CVol* roi = nullptr;
      if (set.GetMarkedRoiLayers(true, false, &markedRois, &count) && count > 0) roi = markedRois[0];
      pf_free(&markedRois);
      return extrapolateIntoDocument(set, host, vol, roi, allowed);
    }
    regularised = (chosen == 1 || chosen == 2) && host->GetCurrentOptimization(host->GetCurrentModel(), nullptr, nullptr) == 7;
    // 8. An interactive run is checked before fitting; a refusal reopens the dialog.
    if (mode == 0 && chosen != 3 && !host->VerifyProcessing(chosen, vol, rois.data(), int(rois.size()), regularised))
      continue;
    break;
  }

  // 10. Requested outputs and their names.
  const int current = host->GetCurrentModel();
  const int nOut = host->NumOutputParms(), nReq = host->NumReqOutputParms();
  if (nReq == 0) {
    twk::doc::message(kDriver, L"At least one Output parameter is required");
    return false;
  }
  std::vector<int> outputIndex;
  for (int k = 0; k < nOut; ++k)
    if (host->parmReq[k]) {
      const int j = int(outputIndex.size());
      outputIndex.push_back(k);
      host->outPath[j] = TW_Options().tempFolder + L"\\" + host->GetOutParmName(current, k) + L".im";
      host->outName[j] = host->GetOutParmName(current, k);
      host->outUnits[j] = host->GetOutParmUnits(current, k);
    }

  // 12. One fit per curve, merged into the first.
  CString nameText;
  if (!VA_GetConcentrationName(int(host->tissueConc.method), &nameText)) return false;
  if (host->GetNumRequiredIfuncs(current) > 0 && !VA_GetConcentrationName(int(host->ifuncConc.method), &nameText))
    return false;
  const int curves = std::max(1, int(rois.size()));
  const int T = vol->T();
  Buffers b;
  b.count = nReq;
  if (chosen == 3) {
    b.fitted.assign(size_t(curves) * size_t(T + 1), kUndefined);
    b.intervals.assign(size_t(curves) * size_t(nReq) * 4, kUndefined);
  }
  const int64_t values = chosen == 3 ? 1 : vol->NumVox();
  // 11. Regularised maps fit the whole ROI at once.
  if (regularised) {
    b.maps = GOMR_CalculateMap(mode != 0, current, host, vol, atlas, rois.data(), int(rois.size()), flag != 0);
    if (!b.maps) {
      if (document) document->SetModifiedFlag(wasModified);
      return false;
    }
  }
  for (int i = 0; i < curves && !regularised; ++i) {
    CVol* roi = rois.empty() ? nullptr : rois[size_t(i)];
    VA_TISSUEATTRIB attrib;
    if ((modality == MODALITY_CT || modality == MODALITY_MR) && allowed != 1 &&
        VA_ConcRequiresTissueAttrib(int(host->tissueConc.method)) && !TW_DlgTissueProp(nullptr, 5, &attrib))
      return false;
    FRAME* fitted = nullptr;
    double** maps = host->CalculateDynamicExperiment(
        vol, roi ? roi->frame : nullptr, &attrib, current, chosen, chosen == 3 ? &b.fitted[size_t(i) * size_t(T + 1)] : nullptr,
        chosen == 3 ? &b.intervals[size_t(i) * size_t(nReq) * 4] : nullptr, fitVolumeFlag ? &fitted : nullptr, flag);
    FramePtr fit(fitted);
    if (!maps) {
      if (document) document->SetModifiedFlag(wasModified);
      return false;
    }
    if (!b.maps) {
      b.maps = maps;
      b.fitFrame = std::move(fit);
      continue;
    }
    if (chosen != 3)
      for (int j = 0; j < nReq; ++j) combineRealVols(b.maps[j], maps[j], values);
    pf_free_parr(&maps, nReq);
    if (fit && b.fitFrame) {
      const int64_t all = vol->TotNumVox();
      auto* dst = reinterpret_cast<double*>(b.fitFrame->data);
      const auto* src = reinterpret_cast<const double*>(fit->data);
      if (b.fitFrame->lineBytes == int64_t(sizeof(double)) * vol->W()) combineRealVols(dst, src, all);
    }
  }

  // 13. Mode 3: the single-curve results.
  if (chosen == 3) {
    // Each curve's values were written into its interval records.
    TW_SINGLECURVE results;
    results.vol = vol;
    results.rois = rois.empty() ? nullptr : rois.data();
    results.count = curves;
    results.fitted = b.fitted.data();
    results.intervals = b.intervals.data();
    results.names = host->outName;
    results.units = host->outUnits;
    results.nReq = nReq;
    CString report;
    if (!TW_DlgDiduSingleCurveResult(!showResults, results, &report)) return false;
    if (text) *text = report;
    return true;
  }

  // 14. Map layers, each in its output's colour scheme, and the fit volume.
  CDrawVol* sourceLayer = set.GetLayerOfVol(vol);
  const PR_VIEWFILT sourceFilter = sourceLayer ? sourceLayer->filter : PR_VIEWFILT{};
  for (int j = 0; j < nReq; ++j) {
    FramePtr map(VA_CreateVol(b.maps[j], 64, vol->W(), vol->H(), vol->D(), 1));
    if (!map) return false;
    FRAME* handed = map.release();
    const bool added = set.AddResultLayerNewGeometry(vol, false, host->outPath[j], &handed, 100,
                                                     host->GetDefaultClrScheme(current, outputIndex[size_t(j)]), -1);
    map.reset(handed);  // what the layer did not take
    if (!added) return false;
  }
  if (b.fitFrame) {
    FRAME* handed = b.fitFrame.release();
    const bool added = set.AddResultLayerNewGeometry(vol, false, L"fit volume", &handed, 100, 0, -1);
    b.fitFrame.reset(handed);
    if (!added) return false;
    if (CDrawVol* layer = set.GetLayer(set.NumLayers() - 1)) {
      layer->filter.level = sourceFilter.level;
      layer->filter.width = sourceFilter.width;
    }
  }
  return true;
}

}  // namespace twk::dynamic

// The rows "Calculate Parametric Map" and "DCDI modelling": model; requested (none); mask; mode;
// text (none); chosen mode (none); redraw; showResults; flag.
TW_COMMAND_BINDINGS(dynexp_operations) {
  // "Open TAC as 4D": modality; path (empty: asked); silent.
  TW_BindOperation("TW_OpenTacAs4D", [](const TW_COMMAND_CALL& c) {
    const CString path = c.Text(1);
    TW_OpenTacAs4D(c.Int(0), path.GetString(), c.Flag(2));
  });
  TW_BindOperation("CDrawSet::ActivateParametricMapCalculation", [](const TW_COMMAND_CALL& c) {
    if (c.set)
      twk::dynamic::ActivateParametricMapCalculation(*c.set, c.Int(0), nullptr, c.Int(2), c.Int(3), nullptr, nullptr,
                                                     c.Flag(6), c.Flag(7), c.Int(8));
  });
}
