// Operations that change or derive signal layers with the help of an ROI.
#include <cmath>
#include <cwchar>
#include <vector>

#include "DocDraw.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "Prompts.h"
#include "RoiDialogs.h"
#include "RoiOperationFrame.h"
#include "RoiSignalOperations.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "docsupport/DocSupport.h"
#include "roi/RoiStatistics.h"
#include "volops/VolumeOperations.h"
#include "volume/Frame.h"

namespace twk::roiops {

namespace {

// A value prompt that also takes "NAN" (the prompt starts there): a text field read as a number.
bool enterValueOrNan(const CString& prompt, double* value) {
  std::vector<twk::PromptField> fields{twk::PromptField::string(prompt, L"NAN")};
  for (;;) {
    if (!twk::ui().askValues(L"Specify value", fields)) return false;
    const CString text = fields[0].text.Trim();
    wchar_t* end = nullptr;
    const double v = std::wcstod(text.GetString(), &end);
    if (!text.IsEmpty() && end && *end == 0) {
      *value = v;
      return true;
    }
    twk::messageBox(L"Please enter a number or NAN", MB_OK | MB_ICONEXCLAMATION);
  }
}

// The optimal display window of the layer's new voxels; its result is the operation's.
bool refreshWindow(CDrawVol* layer) {
  // The core computes the window on one time point: the first stands for all.
  return layer && VA_OptimalIntensWindow(0, layer->GetVol()->frame, 0, &layer->filter, true);
}

}  // namespace

bool BandOfAverageSignal(CDrawSet& set) {
  const wchar_t* operation = L"CDrawSet::BandOfAverageSignal";
  OperationEnd end(set.GetDocument(), true);
  CVol* roi = RoiOperand(&set);
  if (!roi) return false;
  CVol* vol = set.WorkVolSI();
  if (!vol) {
    Named(operation, L"No suitable volume is present or enabled");
    return false;
  }
  if (!vol->Is3D()) {
    Named(operation, L"3D volume is required");
    return false;
  }
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  VA_ROIINFO info;
  if (!VA_VolCalcRoiInfoCutPct(vol->frame, 0, roi->frame, 0, 0, 0, &info, true)) return false;
  double k = 0.5;
  if (!TW_EnterDouble(FmtStr(L"Band Radius in StdDev (%8.1lf)", info.stdev), &k)) return false;
  FramePtr band(VA_VolThreshold(vol->frame, 0, info.mean - k * info.stdev, info.mean + k * info.stdev, true));
  if (!band) return false;
  return VA_VolCleanMask(band.get(), -1, roi->frame, false, 0.0, true) &&
         set.AddResultLayer(false, false, nullptr, vol, FrameHandOff(band), -1, 0, -1);
}

bool LinearConversionOverROI(CDrawSet& set) {
  OperationEnd end(set.GetDocument(), false);
  CVol* vol = set.WorkVolNonRoi();
  if (!vol) {
    Named(L"CDrawSet::LinearConversionOverROI", L"No suitable volume is present or enabled");
    return false;
  }
  CVol* roi = nullptr;
  if (!set.WorkVolROI_SingleOptional(&roi)) return false;
  if (!TW_DlgVolLinAmplif()) return false;
  CDrawVol* layer = set.GetLayerOfVol(vol);
  if (CDrawDoc* doc = set.GetDocument()) {
    doc->SetModifiedFlag();
    ResetLayerCache(layer);
    doc->PushUndoForLayer(layer);
  }
  if (!VA_VolLinearConversionWithClamp(vol->frame, &g_LinConvParms, roi ? roi->frame : nullptr, true)) return false;
  return refreshWindow(layer);
}

bool NormalizeByROI(CDrawSet& set, CDrawView* view) {
  const wchar_t* operation = L"CDrawSet::NormalizeByROI";
  OperationEnd end(set.GetDocument(), true);
  CVol* roi = RoiOperand(&set);
  if (!roi) return false;
  CVol* vol = set.WorkVolNonRoi();
  if (!vol) {
    Named(operation, L"Signal Intensity volume is required");
    return false;
  }
  const int t = view ? view->CurrentTime() : 0;
  VA_ROIINFO info;
  if (!VA_VolCalcRoiInfoCutPct(vol->frame, vol->effT(t), roi->frame, roi->effT(t), 0, 0, &info, false)) return false;
  info.volumeCm3 = double(info.count) * roi->Vx() * roi->Vy() * roi->Vz() * 0.001;
  int type = 0;
  double stdev = 0, coefficient = 0;
  if (!TW_DlgVolNormalize(&info, &type, &stdev, &coefficient)) return false;
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  const double offset = type == 0 ? 0.0 : info.mean;
  const double divisor = type == 0 ? coefficient : stdev;
  // A divisor of (almost) zero would fill the layer with infinities: refused by name.
  if (!(std::fabs(divisor) >= 1e-100)) {
    Named(operation, type == 0 ? L"Normalization coefficient is zero" : L"Region stdev is zero");
    return false;
  }
  FramePtr result(VA_VolSubAndDivide(FRM_REAL, vol->frame, offset, divisor, true));
  if (!result) return false;
  const bool ok = set.AddResultLayer(false, false, L"normalized", vol, FrameHandOff(result), -1, 0, -1);
  if (ok) set.SetActive(set.NumLayers() - 1);
  return ok;
}

bool VolumeClipByRoi(CDrawSet& set) {
  OperationEnd end(set.GetDocument(), false);
  CVol* roi = RoiOperand(&set);
  if (!roi) return false;
  CVol* vol = set.WorkVolNonRoi();
  if (!vol) {
    Named(L"CDrawSet::VolumeClipByRoi", L"Integer or Real volume is required");
    return false;
  }
  double value = std::nan("");
  if (!enterValueOrNan(L"Value for clipped voxels. Choose NAN for transparent VOIDVOX", &value)) return false;
  CDrawDoc* doc = set.GetDocument();
  if (doc) {
    doc->SetModifiedFlag();
    // The clipped voxels would be lost otherwise: an undo record keeps them.
    doc->PushUndoForLayer(set.GetLayerOfVol(vol));
  }
  if (std::isnan(value)) value = VOID_VALUE;
  ResetLayerCache(set.GetLayerOfVol(vol));
  if (!VA_VolCleanMask(vol->frame, -1, roi->frame, false, value, true)) return false;
  set.SetLayerMarked(roi, false);
  return true;
}

bool InvertActiveLayer(CDrawSet& set) {
  OperationEnd end(set.GetDocument(), false);
  CDrawVol* layer = set.GetActiveLayer();
  if (!layer || !layer->GetVol() || !layer->GetVol()->frame) return false;
  CDrawDoc* doc = set.GetDocument();
  if (doc) doc->SetModifiedFlag();
  ResetLayerCache(layer);
  if (doc) {
    UNDOREC* undo = VA_CompleteUndoRec(&layer->filter, layer->GetVol()->frame);
    if (undo) {
      undo->owner = layer->LayerId();
      doc->PushUndo(&undo);
      delete undo;
    }
  }
  if (!VA_VolInvert(layer->GetVol()->frame, true)) return false;
  return refreshWindow(layer);
}

bool NodVolume(CDrawSet& set, bool basic) {
  const wchar_t* operation = L"CDrawSet::NodVolume";
  OperationEnd end(set.GetDocument(), false);
  CVol* roi = RoiOperand(&set);
  if (!roi) return false;
  CVol* vol = set.WorkVolSI();
  if (!vol || !vol->frame) {
    Named(operation, L"No suitable volume is present or enabled");
    return false;
  }
  if (vol->Is4D()) {
    Named(operation, L"3D volume is required");
    return false;
  }
  if (!TW_DlgNodVol()) return false;
  if (TW_DocDrawHooks().waitCursor) TW_DocDrawHooks().waitCursor(true);
  // The texts are owned strings of any length (a report never overruns a buffer).
  CString report, clipboard;
  const SPC spacing = *vol->Spc();
  const bool ok = basic ? VA_VolNod_Basic(vol->frame, &vol->frame->dim, &spacing, roi->frame, &g_NodVolParms, nullptr,
                                          &report, &clipboard)
                        : VA_VolNod_MatchDeltaR(vol->frame, &vol->frame->dim, &spacing, roi->frame, &g_NodVolParms,
                                                &report, &clipboard);
  if (!ok) return false;
  PR_CopyStrToClipboard(clipboard.toUtf8().c_str());
  report.Replace(L"\t", L"=");
  twk::messageBox(report, MB_OK | MB_ICONINFORMATION);
  return true;
}

}  // namespace twk::roiops
