// Thresholds of a signal volume into new ROI layers: a signal interval, a signal-to-gradient
// ratio and a local Otsu threshold, each at the view's time point (the interval optionally at all).
#include "ThresholdOperations.h"

#include <algorithm>
#include <utility>

#include "DocMessages.h"
#include "DrawDoc.h"
#include "SegOperationEnd.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "Prompts.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "VolProj.h"
#include "ops/VolumeOps.h"
#include "roi/RoiStatistics.h"
#include "roi/Thresholds.h"
#include "volume/Frame.h"

namespace {

// The signal operand of the thresholds, with the named message when there is none.
CVol* signalOperand(CDrawSet& set, const wchar_t* operation) {
  CVol* vol = set.IsVolumeSet() ? set.WorkVolNonRoi() : nullptr;
  if (!vol || !vol->frame) twk::doc::message(operation, L"Integer or Real volume is required");
  return vol;
}

// The time point the view shows of the set (0 without a record), within the operand's time points.
int viewTimePoint(const CDrawSet& set, const CDrawView* view, const CVol* vol) {
  const VA_VOLPROJ* projection = view ? set.FindViewProjection(view) : nullptr;
  const int t = projection ? projection->timeIndex : 0;
  return std::clamp(t, 0, vol->T() - 1);
}

// Adds an ROI frame (taken) named by the imaging core from the operand and makes it active.
bool addRoi(CDrawSet& set, CVol* operand, FramePtr roi) {
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  const bool added = set.AddResultLayer(false, false, nullptr, operand, FrameHandOff(roi), -1, 0, -1);
  if (added) set.SetActiveLayerLast();
  return added;
}

// Every time point thresholded into one ROI of the operand's time points.
FramePtr thresholdAllTimePoints(const FRAME* frame, double low, double high) {
  FramePtr out(PR_FrameCreate(FRM_ROI, 1, frame->dim, true));
  if (!out) return nullptr;
  const size_t bytes = size_t(out->lineBytes) * size_t(out->dim.h) * size_t(out->dim.d);
  for (int t = 0; t < frame->dim.t; ++t) {
    const FramePtr one(VA_VolThreshold(frame, t, low, high, true));
    if (!one) return nullptr;
    std::copy_n(one->data, bytes, out->data + bytes * size_t(t));
  }
  return out;
}

}  // namespace

namespace twk::seg {

bool ThesholdToROI(CDrawSet& set, CDrawView* view) {
  RedrawAtEnd end{set.GetDocument()};
  CVol* vol = signalOperand(set, L"CDrawSet::ThesholdToROI");
  if (!vol) return false;
  double low = 0, high = 0;
  if (!VA_VolMinMax(vol->frame, -1, nullptr, &low, &high)) return false;
  if (!TW_SpecifyTwoDouble(L"Specify signal range", L"Low threshold", &low, L"High threshold", &high)) return false;
  if (low > high) std::swap(low, high);
  int t = viewTimePoint(set, view, vol);
  if (vol->Is4D()) {
    const int answer = twk::messageBox(L"Perform thresholding over all timepoints?", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return false;
    if (answer == IDYES) t = -1;
  }
  FramePtr roi(t < 0 ? thresholdAllTimePoints(vol->frame, low, high)
                      : FramePtr(VA_VolThreshold(vol->frame, t, low, high, true)));
  if (!roi) return false;
  return addRoi(set, vol, std::move(roi));
}

bool ThesholdToROI_SignalToGradRatio(CDrawSet& set, CDrawView* view) {
  RedrawAtEnd end{set.GetDocument()};
  CVol* vol = signalOperand(set, L"CDrawSet::ThesholdToROI_SignalToGradRatio");
  if (!vol) return false;
  double threshold = 0.1;
  if (!TW_EnterDouble(L"Signal-to-Ratio threshold", &threshold)) return false;
  uint8_t* mask = VA_VolSignalOverGradMask(vol->frame, viewTimePoint(set, view, vol), threshold);
  if (!mask) return false;
  const DIM3D& d = vol->frame->dim;
  FramePtr roi(VA_CreateVol(mask, 1, d.w, d.h, d.d, 1));
  pf_free(&mask);
  if (!roi) return false;
  return addRoi(set, vol, std::move(roi));
}

bool LocalOtzuThresholdToROI(CDrawSet& set, CDrawView* view) {
  RedrawAtEnd end{set.GetDocument()};
  CVol* vol = signalOperand(set, L"CDrawSet::LocalOtzuThresholdToROI");
  if (!vol) return false;
  if (CDrawDoc* doc = set.GetDocument()) doc->SetModifiedFlag();
  VA_ADAPTIVETHR record;
  record.flag = 0;
  double radius = 5.0;
  if (!TW_EnterDouble(L"Local radius (vox)", &radius)) return false;
  record.radius = radius;
  FramePtr roi(VA_LocalOtzuThresholdToROI(&record, vol->frame, nullptr, viewTimePoint(set, view, vol), true));
  if (!roi) return false;
  return addRoi(set, vol, std::move(roi));
}

}  // namespace twk::seg
