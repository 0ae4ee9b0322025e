// Runners of the parametric-map dialogs and the single-curve report.

#include "DynExpDialogs.h"

#include <cmath>
#include <vector>

#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"

namespace {

CDynExp* g_host = nullptr;
TW_PPMCALCVIEW g_ppmView;
TW_TISSUEPROPVIEW g_tissueView;
TW_SINGLECURVEVIEW g_singleCurveView;

constexpr double kUndefined = 1e60;

CString curveName(const TW_SINGLECURVE& r, int i) {
  return r.rois && r.rois[i] ? r.rois[i]->name : CString(L"whole volume");
}

}  // namespace

CDynExp* TW_DynExpHost() { return g_host; }
void TW_SetDynExpHost(CDynExp* host) { g_host = host; }

void TW_SetPpmCalcView(TW_PPMCALCVIEW view) { g_ppmView = std::move(view); }
void TW_SetTissuePropView(TW_TISSUEPROPVIEW view) { g_tissueView = std::move(view); }
void TW_SetSingleCurveView(TW_SINGLECURVEVIEW view) { g_singleCurveView = std::move(view); }

CString TW_PpmCalcButtonText(int mode, int roiCount) {
  switch (mode) {
    case 1: return L"Process All voxelwise";
    case 2: return roiCount > 1 ? L"Process all ROIs voxelwise" : L"Process ROI only voxelwise";
    case 3:
      if (roiCount == 0) return L"Process volume as a single curve";
      return roiCount == 1 ? L"Process ROI as a single curve" : L"Process all ROIs as separate curves";
    case 5: return L"Extrapolate";
    default: return L"";
  }
}

bool TW_PpmCalcButtonEnabled(const TW_PPMCALC& d, int mode) {
  switch (mode) {
    case 1: return (d.mask & 1) != 0;
    case 2: return (d.mask & 2) != 0 && d.roiCount >= 1;
    case 3: return (d.mask & 4) != 0;
    case 5: return (d.mask & 8) != 0 && d.host && d.host->ExtrapolateEnabled(d.host->GetCurrentModel());
    default: return false;
  }
}

bool TW_DlgPpmCalc(TW_PPMCALC* d) {
  if (!d || !d->host) return false;
  if (d->requested) d->host->SetParmReq(d->requested, DYNEXP_NUM_OUTPUTS);
  if (d->press >= 1 && d->press <= 3) {
    if (!TW_PpmCalcButtonEnabled(*d, d->press)) return false;
    d->mode = d->press;
    d->fitVolume = false;
    // The button's own check: the dialog stays open with its stop box, the caller carries on.
    if (d->host->NumReqOutputParms() == 0)
      twk::ui().messageBox(L"At least one Output parameter is required", L"Tarnwick", MB_OK | MB_ICONSTOP);
    return true;
  }
  if (g_ppmView) return g_ppmView(d);
  // Headless: the processing button and the model-volume check through a value prompt.
  std::vector<CString> buttons;
  std::vector<int> modes;
  for (int mode : {1, 2, 3, 5})
    if (TW_PpmCalcButtonEnabled(*d, mode)) {
      buttons.push_back(TW_PpmCalcButtonText(mode, d->roiCount));
      modes.push_back(mode);
    }
  if (modes.empty()) return false;
  std::vector<twk::PromptField> fields = {twk::PromptField::choice(L"Processing", buttons, 0),
                                          twk::PromptField::check(L"Create model volume layer", false)};
  if (!twk::ui().askValues(L" Parametric Map Calculation for Dynamic Experiment", fields)) return false;
  const int pick = int(fields[0].number);
  if (pick < 0 || pick >= int(modes.size())) return false;
  d->mode = modes[size_t(pick)];
  d->fitVolume = fields[1].number != 0;
  if (d->mode != 5 && d->host->NumReqOutputParms() == 0) {
    twk::ui().messageBox(L"At least one Output parameter is required", L"Tarnwick", MB_OK | MB_ICONSTOP);
    return false;
  }
  return true;
}

bool TW_DlgTissueProp(void* /*parent*/, int kind, VA_TISSUEATTRIB* record) {
  if (!record || (kind != 4 && kind != 5)) return false;
  if (g_tissueView) return g_tissueView(kind, record);
  std::vector<twk::PromptField> fields = {twk::PromptField::real(L"T1 (sec)", record->t1)};
  fields[0].minimum = 0;
  fields[0].maximum = 10000;
  if (!twk::ui().askValues(kind == 4 ? L"Blood attributes" : L"Tissue attributes", fields)) return false;
  record->t1 = fields[0].number;
  return true;
}

CString TW_SingleCurveReport(const TW_SINGLECURVE& r) {
  CString report = r.vol ? r.vol->name : CString();
  report += L"\n";
  for (int i = 0; i < r.count; ++i) {
    report += curveName(r, i) + L" : ";
    for (int j = 0; j < r.nReq; ++j) {
      const double value = r.intervals ? r.intervals[(int64_t(i) * r.nReq + j) * 4] : kUndefined;
      report += (r.names ? r.names[j] : CString()) + L"\t";
      report += value == kUndefined ? CString(L"undefined\t") : FmtStr(L"%e\t", value);
      report += (r.units ? r.units[j] : CString()) + L"\t";
    }
    report += L"\n";
  }
  return report;
}

TW_SINGLECURVEROW TW_SingleCurveRow(const TW_SINGLECURVE& r, int i, int j) {
  TW_SINGLECURVEROW row;
  if (i < 0 || i >= r.count || j < 0 || j >= r.nReq || !r.intervals) return row;
  const double* rec = r.intervals + (int64_t(i) * r.nReq + j) * 4;
  row.name = r.names ? r.names[j] : CString();
  if (rec[0] == kUndefined) {
    row.value = L"undefined";
    return row;
  }
  row.value = FmtStr(L"%.10g", rec[0]);
  row.units = r.units ? r.units[j] : CString();
  if (rec[1] != kUndefined) {
    const double value = rec[0], low = rec[1], high = rec[2];
    row.bounds = FmtStr(L"[ %lf , %lf ]", low, high);
    const double d = std::max(high - value, value - low);
    row.spread = FmtStr(L"%2.3lf", d >= std::fabs(value) ? 100.0 : 100.0 * d / value);
  }
  return row;
}

bool TW_DlgDiduSingleCurveResult(bool silent, const TW_SINGLECURVE& results, CString* report) {
  if (!results.vol || !results.vol->frame || results.count < 1) return false;
  // The measured curves must be at hand for the plot: every ROI's (or the volume's) mean curve.
  for (int i = 0; i < results.count; ++i) {
    const CVol* roi = results.rois ? results.rois[i] : nullptr;
    double* tac = results.vol->GetRoiTac(roi ? roi->frame : nullptr);
    if (!tac) return false;
    pf_free(&tac);
  }
  const CString text = TW_SingleCurveReport(results);
  if (report) *report = text;
  if (silent || !g_singleCurveView) return true;
  return g_singleCurveView(results, text);
}
