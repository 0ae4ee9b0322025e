#include "RoiStat3D.h"

#include <algorithm>
#include <cmath>

#include "AppOptions.h"
#include "ParameterDialog.h"
#include "Prompts.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "ops/VolumeOps.h"
#include "paths/FilePaths.h"
#include "roi/RoiComponents.h"
#include "volops/VolumeOperations.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"

namespace {

// The values that the dialog restores when it opens and keeps from its OK until the program ends.
int s_clip = 1, s_method = 0, s_showModel = 0, s_segments = 2;
// The records of the bimodal methods 1 and 2.
VA_BIMODALSPLIT s_bimodal[2] = {VA_BIMODALSPLIT{0, 0.59, 0.77, 1.01, 3.0, 1000000},
                                VA_BIMODALSPLIT{0, 0.59, 0.77, 1.01, 3.0, 1000000}};

TW_ROISTAT3DVIEW& view() {
  static TW_ROISTAT3DVIEW v;
  return v;
}

// A value shown as an unsigned 32-bit integer, as the integer read-outs print it.
uint32_t asUnsigned(double v) { return uint32_t(int64_t(v)); }
uint32_t roundedUnsigned(double v) { return asUnsigned(std::floor(v + 0.5)); }

CString joinLines(std::initializer_list<CString> lines) {
  CString s;
  for (const CString& l : lines) s += l + L"\r\n";
  return s;
}

}  // namespace

VA_BIMODALSPLIT g_BimodalSplitParms;

CDlgRoiStat3D::CDlgRoiStat3D(CVol* vol, int timeIndex, const FRAME* roi, const CString& roiName, int roiColor,
                             ROISTATPRESET* preset)
    : vol_(vol),
      timeIndex_(timeIndex),
      roi_(roi),
      roiName_(roi ? PR_GetFileTitleName(roiName) : CString()),
      roiColor_(roiColor),
      preset_(preset) {}

CDlgRoiStat3D::~CDlgRoiStat3D() {
  pf_free(&histogram_);
  pf_free(&thresholds_);
  freeModels();
}

void CDlgRoiStat3D::freeModels() {
  pf_free(&models_);
  modelCount_ = 0;
}

CString CDlgRoiStat3D::Title() const {
  if (!vol_) return FmtStr(L"ROI Stats3D > [%s]", roiName_.GetString());
  const CString volume = PR_GetFileTitle(vol_->name);
  if (roi_) return FmtStr(L"ROI Stats3D > [%s] over [%s]", volume.GetString(), roiName_.GetString());
  return FmtStr(L"ROI Stats3D > [%s]", volume.GetString());
}

bool CDlgRoiStat3D::OnInitDialog() {
  // The signal at the time point (a 3D volume: its only one); an ROI is measured as 0/1 integers.
  // Without a volume the ROI itself is the signal.
  const FRAME* source = vol_ ? vol_->frame : roi_;
  if (!source || !source->data || timeIndex_ < 0) return false;
  const int t = source->dim.t < 2 ? 0 : timeIndex_;
  if (t >= source->dim.t) return false;
  frame_.reset(VA_VolCropTimepoint(source, t));
  if (!frame_.get()) return false;
  roiSignal_ = frame_->type == FRM_ROI;
  if (roiSignal_) {
    frame_.reset(VA_VolConvertBits(frame_.get(), 32));
    if (!frame_.get()) return false;
  }
  const DIM3D& d = frame_->dim;
  if (roi_) {
    if (roi_->type != FRM_ROI || roi_->dim.w != d.w || roi_->dim.h != d.h || roi_->dim.d != d.d) return false;
    const int rt = roi_->dim.t < 2 ? 0 : timeIndex_;
    if (rt >= roi_->dim.t) return false;
    mask_.reset(VA_VolCropTimepoint(roi_, rt));
    if (!mask_.get()) return false;
    if (VA_CheckRoiIsEmpty(false, mask_.get(), nullptr, nullptr)) {
      twk::showNamedError(L"CDlgRoiStat3D::OnInitDialog", roiName_ + L"- ROI is empty");
      return false;
    }
  } else {
    const DIM3D one{d.w, d.h, d.d, 1};
    mask_.reset(VA_VolCreateUniform(FRM_ROI, one, 1.0));
    if (!mask_.get()) return false;
  }
  // Outside the ROI the signal is void; minimum and maximum are those of the ROI's voxels.
  if (!VA_VolCleanMask(frame_.get(), 0, mask_.get(), false, 1e60, true)) return false;
  if (!VA_VolMinMax(frame_.get(), 0, mask_.get(), &volumeMin_, &volumeMax_)) return false;

  if (preset_) {
    rangeLow_ = preset_->rangeLow == 1e60 ? volumeMin_ : preset_->rangeLow;
    rangeHigh_ = preset_->rangeHigh == 1e60 ? volumeMax_ : preset_->rangeHigh;
    binWidth_ = preset_->binWidth;
    bins_ = binWidth_ != 1e60 ? 0 : 100;
  } else {
    rangeLow_ = volumeMin_;
    rangeHigh_ = volumeMax_;
    binWidth_ = 1e60;
    bins_ = frame_->type == FRM_INT && volumeMax_ - volumeMin_ < 1.01 ? 2 : 100;
  }
  if (rangeLow_ > rangeHigh_) std::swap(rangeLow_, rangeHigh_);
  clip = s_clip;
  method = s_method;
  showModel = s_showModel;
  segments = s_segments;
  if (!recompute(true)) {
    clip = 0;
    if (!recompute(true)) return false;
  }
  return true;
}

bool CDlgRoiStat3D::FullEnabled() const {
  return std::fabs(rangeLow_ - volumeMin_) >= 1e-100 || std::fabs(rangeHigh_ - volumeMax_) >= 1e-100;
}

bool CDlgRoiStat3D::recompute(bool clearModels) {
  // Everything is computed aside and taken over only when it all succeeded, so that a failure
  // leaves the previous display.
  double low = rangeLow_, high = rangeHigh_, width = binWidth_;
  int bins = bins_;
  if (low > volumeMax_ || volumeMin_ > high) {
    low = volumeMin_;
    high = volumeMax_;
  }
  if (!VA_CalcRangeBins(low, high, &width, &bins)) return false;
  VA_ROIINFO info;
  uint64_t* histogram = VA_VolCalcRoiInfo(true, frame_.get(), 0, mask_.get(), 0, low, high, clip != 0, width, bins, &info);
  if (!histogram) return false;
  const int64_t voids = !roiSignal_ ? std::max<int64_t>(0, VA_VolCountVoidVoxels(frame_.get(), mask_.get())) : 0;
  info.volumeCm3 = double(info.count) * (vol_ ? vol_->VoxSz() : 1.0) * 0.001;

  int blobs = 0;
  double blobMean = 0, blobStdev = 0, nonuniformity = 0;
  if (roi_ && !VA_GetBlobStats(frame_.get(), mask_.get(), 0, &blobs, &blobMean, &blobStdev, &nonuniformity)) {
    pf_free(&histogram);
    return false;
  }

  pf_free(&histogram_);
  histogram_ = histogram;
  rangeLow_ = low;
  rangeHigh_ = high;
  binWidth_ = width;
  bins_ = bins;
  info_ = info;
  voidCount_ = voids;
  if (clearModels) {
    freeModels();
    pf_free(&thresholds_);
    thresholdsText_.Empty();
  }

  firstLabels_ = joinLines({L"[Min,Max]", L"Mean", L"StDev", L"Variance", L"CoefOfVar", L"Skewness", L"Kurtosis",
                            L"Entropy (nats)", L"1%", L"5%", L"10%", L"25%", L"50%", L"75%", L"90%", L"95%", L"99%"});
  const bool real = frame_->type == FRM_REAL;
  const double cv = std::fabs(info.mean) < 1e-100 ? 0.0 : info.stdev / info.mean;
  firstValues_ = real ? FmtStr(L"[%e,%e]\r\n", info.minimum, info.maximum)
                      : FmtStr(L"[%u,%u]\r\n", roundedUnsigned(info.minimum), roundedUnsigned(info.maximum));
  firstValues_ += FmtStr(L"%e\r\n%e\r\n%e\r\n%e\r\n%e\r\n%e\r\n%e\r\n", info.mean, info.stdev, info.variance, cv,
                         info.skewness, info.kurtosis, info.entropy);
  for (double p : info.percentile)
    firstValues_ += real ? FmtStr(L"%e\r\n", p) : FmtStr(L"%u\r\n", roundedUnsigned(p));

  geometryLabels_ = joinLines({L"Voxel count", L"Volume", L"Void voxel count", L"Num blobs", L"Blob mean",
                               L"Blob stdev", L"Nonuniformity"});
  geometryValues_ = roi_ ? FmtStr(L"%u\r\n%e cm3\r\n%I64d\r\n%u\r\n%e\r\n%e\r\n%e\r\n", info.count, info.volumeCm3,
                                  voids, unsigned(blobs), blobMean, blobStdev, nonuniformity)
                         : CString();
  return true;
}

int CDlgRoiStat3D::PeakBin() const {
  int peak = 0;
  for (int i = 1; histogram_ && i < bins_; ++i)
    if (histogram_[i] > histogram_[peak]) peak = i;
  return peak;
}

CString CDlgRoiStat3D::BinWidthText() const { return FmtStr(L"%e", binWidth_); }
CString CDlgRoiStat3D::BinsText() const { return FmtStr(L"%u", unsigned(bins_)); }
CString CDlgRoiStat3D::RangeText() const { return FmtStr(L"[%e , %e]", rangeLow_, rangeHigh_); }
CString CDlgRoiStat3D::MaxCountText() const {
  return FmtStr(L"Max Count=%u", histogram_ ? uint32_t(histogram_[PeakBin()]) : 0u);
}
CString CDlgRoiStat3D::MinText() const { return FmtStr(L"Min=%e", rangeLow_); }
CString CDlgRoiStat3D::MaxText() const { return FmtStr(L"Max=%e", rangeHigh_); }
CString CDlgRoiStat3D::MaxBinText() const { return FmtStr(L"Max bin = %u", unsigned(PeakBin())); }

template <typename Change>
void CDlgRoiStat3D::changeBinning(Change change) {
  const double low = rangeLow_, high = rangeHigh_, width = binWidth_;
  const int bins = bins_;
  if (!change()) return;
  if (!recompute(true)) {
    rangeLow_ = low;
    rangeHigh_ = high;
    binWidth_ = width;
    bins_ = bins;
  }
}

void CDlgRoiStat3D::OnFull() {
  changeBinning([&] {
    rangeLow_ = volumeMin_;
    rangeHigh_ = volumeMax_;
    bins_ = 0;
    return true;
  });
}

void CDlgRoiStat3D::OnClip() { recompute(false); }

void CDlgRoiStat3D::OnRangePercent() {
  double low = 0, high = 100;
  if (!TW_SpecifyTwoDouble(L"Specify Range Low and High percent", L"Low", &low, L"High", &high)) return;
  if (!(high > low && low >= 0 && low < 100 && high > 0 && high <= 100)) {
    twk::showNamedError(L"CDlgRoiStat3D::OnBnClickedRangePercent", L"Invalid percentage interval");
    return;
  }
  changeBinning([&] { return VA_VolRangePercent(frame_.get(), 0, low, high, &rangeLow_, &rangeHigh_); });
}

void CDlgRoiStat3D::OnNumberOfBins() {
  int bins = bins_;
  if (!TW_SpecifyInt(L"Number of bins", &bins) || bins < 1) return;
  changeBinning([&] {
    bins_ = bins;
    binWidth_ = 1e60;
    return true;
  });
}

void CDlgRoiStat3D::OnBinWidth() {
  double width = binWidth_;
  if (!TW_EnterDouble(L"Bin Width", &width) || !(width > 0)) return;
  changeBinning([&] {
    binWidth_ = width;
    bins_ = 0;
    return true;
  });
}

void CDlgRoiStat3D::OnRange() {
  double low = rangeLow_, high = rangeHigh_;
  if (!TW_SpecifyTwoDouble(L"Specify Range", L"Range low", &low, L"Range high", &high) || !(high >= low)) return;
  changeBinning([&] {
    rangeLow_ = low;
    rangeHigh_ = high;
    bins_ = 0;
    return true;
  });
}

void CDlgRoiStat3D::OnMethodChanged() {
  if (segments >= 2) recompute(true);
}

void CDlgRoiStat3D::OnShowModelChanged() {}

void CDlgRoiStat3D::OnUpdate() {
  if (!roiSignal_ && segments >= 2 && histogram_) {
    VA_BIMODALSPLIT* record = method == 1 || method == 2 ? &s_bimodal[method - 1] : nullptr;
    if (record && !TW_DlgBimodalHistSplit(method, record)) return;
    double* models = nullptr;
    double residual = 0, peakRatio = 0, massRatio = 0;
    int* thresholds = VA_SegHist(histogram_, bins_, method, segments, record, &models, &residual, &peakRatio,
                                 &massRatio, true);
    if (!thresholds) {
      pf_free(&models);
      return;
    }
    pf_free(&thresholds_);
    freeModels();
    thresholds_ = thresholds;
    models_ = models;
    modelCount_ = models ? segments : 0;
    const double step = (rangeHigh_ - rangeLow_) / bins_;
    outputThreshold_ = rangeLow_ + thresholds[1] * step;
    CString text;
    for (int i = 0; i + 1 < segments; ++i) {
      if (i) text += L", ";
      text += FmtStr(L"threshold[%u]=%e", unsigned(i), rangeLow_ + thresholds[i + 1] * step);
    }
    thresholdsText_ = text + FmtStr(L"\nresidual=%8.3lf\npeak ratio=%e\nmass ratio=%e", residual, peakRatio, massRatio);
  }
  recompute(false);
}

void CDlgRoiStat3D::OnOK() {
  s_clip = clip;
  s_method = method;
  s_showModel = showModel;
  s_segments = segments;
  if (preset_) {
    preset_->rangeLow = rangeLow_;
    preset_->rangeHigh = rangeHigh_;
    preset_->binWidth = binWidth_;
    preset_->clip = clip ? 1 : 0;
  }
}

CString CDlgRoiStat3D::CursorText(int x, int y, const RECT2D& area) const {
  if (!vol_ || !histogram_ || x < area.left || x > area.right || y < area.top || y > area.bottom) return CString();
  const int width = area.right - area.left;
  const double plot = std::floor((width + 1) * 0.99 + 0.5);
  int bin = plot > 0 ? int(std::floor((x - area.left) * double(bins_) / plot)) : 0;
  bin = std::clamp(bin, 0, bins_ - 1);
  const double value = (rangeHigh_ - rangeLow_) * bin / bins_ + rangeLow_;
  return FmtStr(L"val=%e bin=%u count=%u", value, unsigned(bin), uint32_t(histogram_[bin]));
}

CDlgRoiStat3D::Plot CDlgRoiStat3D::PlotIn(const RECT2D& area) const {
  Plot plot;
  if (!histogram_ || bins_ < 1) return plot;
  const int width = area.right - area.left, height = area.bottom - area.top;
  const double plotWidth = std::floor(width * 0.99 + 0.5), plotHeight = std::floor(height * 0.95 + 0.5);
  const uint64_t largest = histogram_[PeakBin()];
  if (largest == 0 || plotWidth <= 0) return plot;
  const double xs = plotWidth / bins_;
  const bool exact = int(plotWidth) == bins_;
  std::vector<int> x0(static_cast<size_t>(bins_)), x1(static_cast<size_t>(bins_));
  for (int i = 0; i < bins_; ++i) {
    x0[size_t(i)] = exact ? area.left + i : area.left + int(std::floor(i * xs));
    x1[size_t(i)] = exact ? area.left + i + 1 : area.left + 1 + int(std::floor((i + 1) * xs));
    const int top = area.bottom - int(std::floor(double(histogram_[i]) * plotHeight / double(largest))) - 1;
    plot.bars.push_back(Bar{RECT2D{x0[size_t(i)], top, x1[size_t(i)], area.bottom}, i % 2 ? 0x0000FFu : 0x0000E1u});
  }
  if (!models_ || modelCount_ < 1 || showModel == 0) return plot;
  auto curve = [&](auto value) {
    std::vector<POINT2D> points;
    for (int i = 0; i < bins_; ++i)
      points.push_back(POINT2D{(x0[size_t(i)] + x1[size_t(i)]) / 2,
                               area.bottom - int(std::floor(value(i) * plotHeight / double(largest)))});
    plot.curves.push_back(std::move(points));
  };
  if (showModel == 1) {
    for (int s = 0; s < modelCount_; ++s) curve([&](int i) { return models_[int64_t(s) * bins_ + i]; });
  } else {
    curve([&](int i) {
      double sum = 0;
      for (int s = 0; s < modelCount_; ++s) sum += models_[int64_t(s) * bins_ + i];
      return sum;
    });
  }
  return plot;
}

CString CDlgRoiStat3D::ReportText() const {
  CString r = L"_________\nROI Stats\n";
  if (roi_ && info_.count != 0) {
    const double cm3 = vol_ ? double(info_.count) * vol_->VoxSz() * 0.001 : 0.0;
    const double cv = std::fabs(info_.mean) < 1e-100 ? 0.0 : info_.stdev / info_.mean;
    r += FmtStr(L"Volume (vox):= %u\n", info_.count);
    r += FmtStr(L"Volume (cm3):= %8.4lf\n", cm3);
    r += FmtStr(L"Signal Min      := %e\n", info_.minimum);
    r += FmtStr(L"Signal Max      := %e\n", info_.maximum);
    r += FmtStr(L"Signal Mean     := %e\n", info_.mean);
    r += FmtStr(L"Signal Median   := %e\n", info_.median);
    r += FmtStr(L"Signal Stddev   := %e\n", info_.stdev);
    r += FmtStr(L"Signal CoeffOfVariation:= %e\n", cv);
  } else {
    r += L"ROI is a full volume\n";
  }
  if (vol_ && vol_->frame && vol_->frame->type != FRM_ROI && histogram_) {
    const int peak = PeakBin();
    r += L"_________\nHistogram stats\n";
    r += FmtStr(L"Number of Bins:= %u\n", unsigned(bins_));
    r += FmtStr(L"Max Bin  := %I64u\n", uint64_t(peak));
    r += FmtStr(L"Max Count:= %I64u\n", histogram_[peak]);
    r += FmtStr(L"Range Min   := %e\n", rangeLow_);
    r += FmtStr(L"Range Max   := %e\n", rangeHigh_);
    r += FmtStr(L"Histogram Skewness    := %e\n", info_.skewness);
    r += FmtStr(L"Histogram Kurtosis    := %e\n", info_.kurtosis);
    r += FmtStr(L"Histogram Entropy     := %e\n", info_.entropy);
    r += L"\nBin           Signal        Count\n";
    const bool integer = vol_->frame->type == FRM_INT;
    for (int i = 0; i < bins_; ++i) {
      const double signal = (rangeHigh_ - rangeLow_) * i / bins_ + rangeLow_;
      const uint32_t count = uint32_t(histogram_[i]);
      r += integer ? FmtStr(L"%u      %u       %u\n", unsigned(i), asUnsigned(std::trunc(signal)), count)
                   : FmtStr(L"%u      %e       %u\n", unsigned(i), signal, count);
    }
  }
  return r;
}

bool CDlgRoiStat3D::OnSaveStats() {
  const CString path = TW_Options().tempFolder + L"/RoiStats3D.txt";
  if (!PR_SaveTextToFile(path, ReportText())) return false;
  PR_NotepadExeOpenFile(path);
  return true;
}

void TW_SetRoiStat3DView(TW_ROISTAT3DVIEW v) { view() = std::move(v); }

bool TW_DlgRoiStat3D(CVol* vol, int timeIndex, const FRAME* roi, const CString& roiName, int roiColor,
                     ROISTATPRESET* preset, double* threshold, bool silent) {
  CDlgRoiStat3D dialog(vol, timeIndex, roi, roiName, roiColor, preset);
  if (!dialog.OnInitDialog()) return false;
  bool ok = true;
  if (silent) {
    dialog.OnOK();
  } else if (view()) {
    ok = view()(dialog);
  } else {
    // Headless: the four controls, then "Update" and OK.
    std::vector<twk::PromptField> fields{
        twk::PromptField::check(L"Clip", dialog.clip != 0),
        twk::PromptField::choice(L"Method",
                                 {L"Otsu", L"Bimodal Gauss ratio constrained", L"Bimodal Laplace ratio constrained",
                                  L"Gaussian Mixture Model"},
                                 dialog.method),
        twk::PromptField::choice(L"Show model", {L"None", L"All Curves", L"Cumulative"}, dialog.showModel),
        twk::PromptField::integer(L"Number of segments", dialog.segments)};
    fields[3].minimum = 0;
    fields[3].maximum = 10;
    ok = twk::ui().askValues(dialog.Title(), fields);
    if (ok) {
      const int clip = fields[0].number != 0 ? 1 : 0;
      dialog.method = int(fields[1].number);
      dialog.showModel = int(fields[2].number);
      dialog.segments = int(fields[3].number);
      if (clip != dialog.clip) {
        dialog.clip = clip;
        dialog.OnClip();
      }
      dialog.OnUpdate();
      dialog.OnOK();
    }
  }
  if (ok && threshold) *threshold = dialog.OutputThreshold();
  return ok;
}

bool TW_DlgBimodalHistSplit(int method, VA_BIMODALSPLIT* record) {
  return TW_RunMethodDialog(L"TW_DlgBimodalHistSplit", (method == 1 || method == 2) && record,
                            L"Invalid histogram segmentation method", [&] {
                              VA_BIMODALSPLIT& r = *record;
                              int32_t constrain = r.constrainMassRatio, iterations = r.iterations;
                              double massLow = r.massRatioLow, massHigh = r.massRatioHigh;
                              double peakLow = r.peakRatioLow, peakHigh = r.peakRatioHigh;
                              TW_DIALOG d(method == 1 ? L"BiGaussian Histogram Split with Ratio constraints"
                                                      : L"BiLaplace Histogram Split with Ratio constraints",
                                          L"CDlgBimodalHistSplit");
                              d.Flag(L"Constrain by (HighSignal/LowSignal) mass ratio interval", &constrain);
                              d.Real(L"Mass ratio low", &massLow);
                              d.Real(L"Mass ratio high", &massHigh);
                              d.Real(L"Peak position ratio low", &peakLow);
                              d.Real(L"Peak position ratio high", &peakHigh);
                              d.Integer(L"Number of iterations", &iterations);
                              if (!TW_RunDialog(d)) return false;
                              r = VA_BIMODALSPLIT{uint8_t(constrain ? 1 : 0), massLow, massHigh, peakLow, peakHigh,
                                                  iterations};
                              return true;
                            });
}
