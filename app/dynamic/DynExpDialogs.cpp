// Runners of the parametric-map dialogs and the single-curve report.

#include "DynExpDialogs.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "ConcConv.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"

namespace {

TW_PPMCALCVIEW g_ppmView;
TW_TISSUEPROPVIEW g_tissueView;
TW_SINGLECURVEVIEW g_singleCurveView;
TW_CONCCONVVIEW g_concConvView;
TW_RELAXIVITYVIEW g_relaxivityView;

constexpr double kUndefined = 1e60;

CString curveName(const TW_SINGLECURVE& r, int i) {
  return r.rois && r.rois[i] ? r.rois[i]->name : CString(L"whole volume");
}

}  // namespace

const DICOMREC* TW_FirstDicom(const CVol* vol) {
  return vol && vol->dicom && vol->numDicom > 0 ? vol->dicom[0] : nullptr;
}

void TW_SetPpmCalcView(TW_PPMCALCVIEW view) { g_ppmView = std::move(view); }
void TW_SetTissuePropView(TW_TISSUEPROPVIEW view) { g_tissueView = std::move(view); }
void TW_SetSingleCurveView(TW_SINGLECURVEVIEW view) { g_singleCurveView = std::move(view); }
void TW_SetConcConvView(TW_CONCCONVVIEW view) { g_concConvView = std::move(view); }
void TW_SetRelaxivityView(TW_RELAXIVITYVIEW view) { g_relaxivityView = std::move(view); }

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

// --- optimisation names ---

namespace {
// Method 5 is not used by the catalogue and has no name.
const wchar_t* const kOptimizationNames[8] = {
    nullptr,                          // 0: none
    L"Direct computation",            // 1: the model's own closed-form computation
    L"Global interval optimization",  // 2: guaranteed global search over the parameter box
    L"Grid + simplex, stepped delay", // 3: simplex from the best grid point, delay stepped apart
    L"Grid + simplex",                // 4: simplex from the best grid point over all parameters
    nullptr,                          // 5
    L"Linearized solution",           // 6: the model's linear form
    L"Regularized maps",              // 7: fits coupled over neighbouring voxels
};
}  // namespace

bool VA_GetOptimizationName(int method, CString* name) {
  const wchar_t* text = method >= 0 && method < 8 ? kOptimizationNames[method] : nullptr;
  if (name) *name = text ? CString(text) : CString();
  return text != nullptr;
}

int VA_GetOptimizationFromName(const wchar_t* name) {
  if (!name) return -1;
  for (int m = 0; m < 8; ++m)
    if (kOptimizationNames[m] && CString(kOptimizationNames[m]) == name) return m;
  return -1;
}

// --- the parametric-map dialog's lists ---

std::vector<CString> TW_PpmCalcModelEntries(const CDynExp& host, const CVol* vol, std::vector<int>* models) {
  std::vector<CString> entries;
  if (models) models->clear();
  for (int m = 0; m < host.GetNumModels(); ++m) {
    const CString name = host.GetModelName(m);
    if (name.IsEmpty() || !host.ModelIsAllowed(vol, m)) continue;
    const int n = host.GetNumRequiredIfuncs(m);
    entries.push_back(n >= 1 ? FmtStr(L"%s : %uIF", name.GetString(), unsigned(n)) : name);
    if (models) models->push_back(m);
  }
  return entries;
}

int TW_PpmCalcSelectedEntry(const CDynExp& host, const std::vector<CString>& entries) {
  const CString name = host.GetModelName(host.GetCurrentModel());
  if (name.IsEmpty()) return -1;
  int found = -1;
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].Find(name) >= 0) found = int(i);
  return found;
}

bool TW_PpmCalcOptimizations(const CDynExp& host, int model, std::vector<int>* methods, int* current) {
  const int allowed = host.GetAllowedOptimization(model);
  const int method = host.GetCurrentOptimization(model, nullptr, nullptr);
  if (methods) methods->clear();
  if (current) *current = -1;
  if (method < 0 || method > 30 || !(allowed & (1 << method))) {
    twk::showNamedError(L"CDlgPpmCalc::OnModelChange_UpdateOptimization", L"Invalid Optimization method");
    return false;
  }
  for (int m = 1; m <= 7; ++m) {
    if (!(allowed & (1 << m))) continue;
    if (!VA_GetOptimizationName(m, nullptr)) break;
    if (m == method && current) *current = methods ? int(methods->size()) : 0;
    if (methods) methods->push_back(m);
  }
  return true;
}

int TW_PpmCalcConcMask(CDynExp* host, int model, int allowedConc) {
  if (!host) return 0;
  const int mask = host->GetAllowedConcConv(model) & allowedConc;
  int method = int(host->tissueConc.method);
  if (VA_UpdateCurrentConc(mask, &method)) host->tissueConc.method = uint32_t(method);
  method = int(host->ifuncConc.method);
  if (VA_UpdateCurrentConc(mask, &method)) host->ifuncConc.method = uint32_t(method);
  return mask;
}

uint32_t TW_PpmCalcSlotColour(const CDynExp& host, int slot) {
  static const uint32_t colours[DYNEXP_NUM_INPUTFUNCS] = {0x0000FF, 0xFF0000, 0x00FF00, 0x00FFFF};
  if (slot < 0 || slot >= DYNEXP_NUM_INPUTFUNCS || host.ifuncName[slot].IsEmpty()) return 0xFFFFFF;
  return colours[slot];
}

// --- concentration conversion settings ---

unsigned TW_ConcConvControls(int method, bool tissue, bool manual) {
  if (method <= 0 || method >= VA_NUM_CONC_METHODS) return 0;
  unsigned c = CONCCTRL_R1 | CONCCTRL_MANUAL;
  if (!tissue) c |= CONCCTRL_HCT;
  if (manual) c |= CONCCTRL_BASELINE;
  switch (method) {
    case 3: c |= CONCCTRL_TE; break;
    case 4:
    case 5:
    case 8: c |= CONCCTRL_TR | CONCCTRL_FLIP; break;
    case 6: c |= CONCCTRL_TR | CONCCTRL_FLIP | CONCCTRL_FW | CONCCTRL_LIFETIME | CONCCTRL_RATE; break;
    default: break;
  }
  return c;
}

std::vector<int> TW_ConcConvMethods(int mask, bool tissue) {
  std::vector<int> methods;
  for (int m = 0; m < VA_NUM_CONC_METHODS; ++m)
    if ((mask & (1 << m)) && (m != 6 || tissue)) methods.push_back(m);
  return methods;
}

CString TW_ConcConvRangeProblem(const VA_CONCCONV& r, unsigned controls) {
  struct RANGE {
    unsigned control;
    const wchar_t* label;
    double value, low, high;
  };
  const RANGE ranges[] = {
      {CONCCTRL_HCT, L"HCT", r.hct, 0, 1},
      {CONCCTRL_R1, L"Relaxivity r1 of contrast agent (1/(mM*s))", r.r1, 0, 10000},
      {CONCCTRL_FW, L"Tissue water fraction (fw)", r.waterFraction, 0, 10000},
      {CONCCTRL_LIFETIME, L"Mean intracellular lifetime (sec)", r.lifetime, 0, 10000},
      {CONCCTRL_RATE, L"Intracellular relaxation rate without exchange (1/sec)", r.relaxationRate, 0, 10000},
      {CONCCTRL_BASELINE, L"Skip first", double(r.skipFirst), 0, 1000},
      {CONCCTRL_BASELINE, L"Average next", double(r.averageNext), 1, 1000},
  };
  for (const RANGE& range : ranges)
    if ((controls & range.control) && !(range.value >= range.low && range.value <= range.high))
      return FmtStr(L"%s : enter a value from %g to %g", range.label, range.low, range.high);
  return CString();
}

namespace {

// Headless form of the conversion dialog: the method first, then the values it enables.
bool askConcConv(TW_CONCCONVDLG* d) {
  VA_CONCCONV& r = d->record;
  std::vector<CString> names;
  int pick = 0;
  for (size_t i = 0; i < d->methods.size(); ++i) {
    CString name;
    VA_GetConcentrationName(d->methods[i], &name);
    names.push_back(name);
    if (d->methods[i] == int(r.method)) pick = int(i);
  }
  std::vector<twk::PromptField> method = {twk::PromptField::choice(L"Method:", names, pick)};
  if (!twk::ui().askValues(L"Concentration Conversion", method)) return false;
  pick = int(method[0].number);
  if (pick < 0 || pick >= int(d->methods.size())) return false;
  r.method = uint32_t(d->methods[size_t(pick)]);
  if (d->tissue) r.hct = 0;
  for (;;) {
    // "Manual" decides whether the baseline counts are asked: the check first, then the values.
    unsigned controls = TW_ConcConvControls(int(r.method), d->tissue, r.manualBaseline != 0);
    if (!(controls & ~CONCCTRL_BASELINE)) return true;
    struct FIELD {
      unsigned control;
      twk::PromptField field;
      double* real;
      int32_t* integer;
    };
    std::vector<FIELD> all = {
        {CONCCTRL_HCT, twk::PromptField::real(L"HCT", r.hct), &r.hct, nullptr},
        {CONCCTRL_FLIP, twk::PromptField::real(L"Flip angle (deg)", r.flipAngle), &r.flipAngle, nullptr},
        {CONCCTRL_TR, twk::PromptField::real(L"TR (sec)", r.tr), &r.tr, nullptr},
        {CONCCTRL_TE, twk::PromptField::real(L"TE (sec)", r.te), &r.te, nullptr},
        {CONCCTRL_R1, twk::PromptField::real(L"Relaxivity r1 of contrast agent (1/(mM*s))", r.r1), &r.r1, nullptr},
        {CONCCTRL_FW, twk::PromptField::real(L"Tissue water fraction (fw)", r.waterFraction), &r.waterFraction,
         nullptr},
        {CONCCTRL_LIFETIME, twk::PromptField::real(L"Mean intracellular lifetime (sec)", r.lifetime), &r.lifetime,
         nullptr},
        {CONCCTRL_RATE,
         twk::PromptField::real(L"Intracellular relaxation rate without exchange (1/sec)", r.relaxationRate),
         &r.relaxationRate, nullptr},
        {CONCCTRL_MANUAL, twk::PromptField::check(L"Manual", r.manualBaseline != 0), nullptr, &r.manualBaseline},
        {CONCCTRL_BASELINE, twk::PromptField::integer(L"Skip first", r.skipFirst), nullptr, &r.skipFirst},
        {CONCCTRL_BASELINE, twk::PromptField::integer(L"Average next", r.averageNext), nullptr, &r.averageNext},
    };
    std::vector<FIELD> shown;
    std::vector<twk::PromptField> fields;
    for (FIELD& f : all)
      if (controls & f.control) {
        shown.push_back(f);
        fields.push_back(f.field);
      }
    if (!twk::ui().askValues(L"Concentration Conversion", fields)) return false;
    const VA_CONCCONV before = r;
    for (size_t i = 0; i < shown.size(); ++i) {
      if (shown[i].real) *shown[i].real = fields[i].number;
      else if (fields[i].kind == twk::PromptField::Kind::Bool) *shown[i].integer = fields[i].number != 0 ? 1 : 0;
      else *shown[i].integer = int32_t(std::llround(fields[i].number));
    }
    controls = TW_ConcConvControls(int(r.method), d->tissue, r.manualBaseline != 0);
    const CString problem = TW_ConcConvRangeProblem(r, controls);
    if (!problem.IsEmpty()) {
      twk::ui().messageBox(problem, L"Concentration Conversion", MB_OK | MB_ICONEXCLAMATION);
      r = before;
      continue;
    }
    // Ticking "Manual" opens the baseline counts: ask once more for them.
    if (r.manualBaseline != 0 && before.manualBaseline == 0) continue;
    return true;
  }
}

}  // namespace

bool TW_DlgConcConv(void* /*parent*/, int mask, bool tissue, VA_CONCCONV* record, const DICOMREC* dicom) {
  if (!record) return false;
  if (record->method >= uint32_t(VA_NUM_CONC_METHODS) || !(mask & (1 << record->method))) {
    twk::showNamedError(L"CDlgConcConv::OnInitDialog", L"Invalid Initial Concentration method in the dialog");
    return false;
  }
  TW_CONCCONVDLG d;
  d.methods = TW_ConcConvMethods(mask, tissue);
  d.tissue = tissue;
  d.dicom = dicom;
  d.record = *record;
  // A blood record whose method is 6 cannot be shown: the list does not offer it.
  if (std::find(d.methods.begin(), d.methods.end(), int(record->method)) == d.methods.end()) return false;
  if (tissue) d.record.hct = 0;
  const bool ok = g_concConvView ? g_concConvView(&d) : askConcConv(&d);
  if (ok) *record = d.record;
  return ok;
}

const std::vector<CString>& TW_RelaxivityAgents() {
  static const std::vector<CString> items = {L"Magnevist", L"Omniscan", L"MultiHance",
                                             L"Gadavist",  L"ProHance", L"Dotarem\\ClariScan"};
  return items;
}
const std::vector<CString>& TW_RelaxivityFields() {
  static const std::vector<CString> items = {L"1.5 T", L" 3T", L" 7T"};
  return items;
}
const std::vector<CString>& TW_RelaxivityMedia() {
  static const std::vector<CString> items = {L"Human blood",   L" Human plasma",  L" Bovine blood",
                                             L" Bovine plasma", L" Canine blood", L" Canine plasma"};
  return items;
}

CString TW_RelaxivityText(double r1) { return FmtStr(L"%3.3lf  (1/(mM*s))", r1); }

bool TW_DlgRelaxivity(double* r1) {
  if (!r1) return false;
  if (g_relaxivityView) return g_relaxivityView(r1);
  std::vector<twk::PromptField> fields = {twk::PromptField::choice(L"Contrast agent", TW_RelaxivityAgents(), 0),
                                          twk::PromptField::choice(L"Field strength", TW_RelaxivityFields(), 0),
                                          twk::PromptField::choice(L"Medium", TW_RelaxivityMedia(), 0)};
  if (!twk::ui().askValues(L"Contrast Relaxivity Lookup", fields)) return false;
  *r1 = VA_GetContrastRelaxivity(int(fields[0].number), int(fields[2].number), int(fields[1].number));
  return true;
}
