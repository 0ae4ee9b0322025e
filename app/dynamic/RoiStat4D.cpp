// ROI statistics of a 4D volume.

#include "RoiStat4D.h"

#include <algorithm>
#include <cmath>

#include "AppOptions.h"
#include "ConcConv.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "FilePickers.h"
#include "ParametricMaps.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "VolProj.h"
#include "numerics/CurveStats.h"
#include "paths/FilePaths.h"
#include "roi/RoiComponents.h"

namespace {

constexpr double kVoid = 1e60;
TW_ROISTAT4DVIEW g_view;

}  // namespace

TW_ROISTAT4D::TW_ROISTAT4D() {
  conc.method = 0;
  conc.hct = 0.4;
  conc.flipAngle = 10;
  conc.tr = 0.0057;
  conc.te = 0.0015;
  conc.r1 = 4.2;
  conc.waterFraction = 0.8;
  conc.lifetime = 0.69;
  conc.relaxationRate = 1.1;
  conc.manualBaseline = 0;
  conc.skipFirst = 0;
  conc.averageNext = 1;
}

void TW_SetRoiStat4DView(TW_ROISTAT4DVIEW view) { g_view = std::move(view); }

bool TW_RoiStat4DOpen(TW_ROISTAT4D* s) {
  const COLORREF c = s->roiColour;
  const int mean = (int(c & 0xFF) + int((c >> 8) & 0xFF) + int((c >> 16) & 0xFF)) / 3;
  s->background = mean <= 128 ? 0xFFFFFF : 0x5C5C5C;
  if (!s->roi) {
    twk::showNamedError(L"CDlgRoiStat4D::OnInitDialog", L"At least one ROI is required");
    return false;
  }
  int64_t voxels = 0;
  if (!VA_RoiNumVox(s->roi, -1, -1, &voxels) || voxels == 0) return false;
  if (!s->vol || !s->vol->frame) return false;
  s->label = s->roiName;
  double* axis = nullptr;
  if (!s->vol->GetDynamicDimension(&s->axisName, &s->axisUnits, &axis)) return false;
  const int n = s->vol->T();
  s->axis.assign(axis, axis + n);
  pf_free(&axis);
  uint8_t* flags = nullptr;
  double* tac = s->vol->GetRoiTac(s->roi, &flags);
  if (!tac) return false;
  std::vector<double> curve(tac, tac + n);
  std::vector<uint8_t> valid(flags, flags + n);
  pf_free(&tac);
  pf_free(&flags);
  if (!s->vol->TacToDynamicOrder(curve.data())) return false;
  s->curves = {std::move(curve)};
  s->valid = {std::move(valid)};
  s->colours = {s->roiColour};
  s->attribs = {VA_TISSUEATTRIB{}};
  return true;
}

CString TW_RoiStat4DCaption(const TW_ROISTAT4D& s) {
  return FmtStr(L"ROI Stats 4D > [%s] over [%s]", PR_GetFileTitleName(s.vol ? s.vol->name.GetString() : L"").GetString(),
                s.roiName.GetString());
}

void TW_RoiStat4DSpan(const TW_ROISTAT4D& s, int* first, int* last) {
  const int n = int(s.axis.size());
  // Skips up to 10,000 are accepted: clamp them into the curve instead of reading past it.
  *first = std::clamp(s.skipStart, 0, n);
  *last = std::max(*first, n - std::clamp(s.skipEnd, 0, n));
}

TW_ROISTAT4DINFO TW_RoiStat4DInfo(const TW_ROISTAT4D& s) {
  TW_ROISTAT4DINFO info;
  info.units = s.axisUnits;
  VA_GetConcentrationName(int(s.conc.method), &info.method);
  if (s.curves.empty() || s.axis.empty()) return info;
  const std::vector<double>& c = s.curves[0];
  int peak = -1;
  for (int i = 0; i < int(c.size()); ++i)
    if (c[size_t(i)] != kVoid && (peak < 0 || c[size_t(i)] > c[size_t(peak)])) peak = i;
  const bool time = s.axisName == L"Time";
  const double origin = time ? s.axis[0] : 0.0;
  auto value = [&](double v) { return time ? FmtStr(L"%6.3lf", v - origin) : FmtStr(L"%e", v); };
  int first = 0, last = 0;
  TW_RoiStat4DSpan(s, &first, &last);
  if (last > first) {
    info.start = value(s.axis[size_t(first)]);
    info.end = value(s.axis[size_t(last - 1)]);
  }
  info.axisLine = s.axisName;
  if (peak >= 0) info.axisLine += FmtStr(L",  max at %u (%e)", unsigned(peak + 1), s.axis[size_t(peak)] - origin);
  return info;
}

bool TW_RoiStat4DConverted(const TW_ROISTAT4D& s, int i, std::vector<double>* conc) {
  if (i < 0 || i >= int(s.curves.size())) return false;
  int first = 0, last = 0;
  TW_RoiStat4DSpan(s, &first, &last);
  conc->assign(s.curves[size_t(i)].begin() + first, s.curves[size_t(i)].begin() + last);
  VA_CONCSETUP setup;
  setup.record = s.conc;
  setup.t10 = s.attribs[size_t(i)].t1;
  if (!VA_ConcConvProblem(setup).IsEmpty()) return false;
  return VA_TacToConc(&s.attribs[size_t(i)], &s.conc, conc->data(), int(conc->size()));
}

bool TW_RoiStat4DValueRange(const TW_ROISTAT4D& s, double* low, double* high) {
  double lo = kVoid, hi = -kVoid;
  bool any = false;
  const int shown = s.allRoiTacs ? int(s.curves.size()) : std::min<int>(1, int(s.curves.size()));
  for (int i = 0; i < shown; ++i) {
    std::vector<double> conc;
    if (!TW_RoiStat4DConverted(s, i, &conc)) return false;
    for (double v : conc)
      if (v != kVoid && std::isfinite(v)) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        any = true;
      }
  }
  if (!any || (lo == 0 && hi == 0)) return false;
  *low = std::min(0.0, lo);
  *high = 1.05 * hi;
  return *high > *low;
}

bool TW_RoiStat4DPeak(const TW_ROISTAT4D& s, int* dynIndex) {
  if (s.curves.empty()) return false;
  const std::vector<double>& c = s.curves[0];
  int peak = -1;
  for (int i = 0; i < int(c.size()); ++i)
    if (c[size_t(i)] != kVoid && (peak < 0 || c[size_t(i)] > c[size_t(peak)])) peak = i;
  if (peak < 0) return false;
  *dynIndex = peak;
  return true;
}

bool TW_RoiStat4DBolusArrival(const TW_ROISTAT4D& s, int* dynIndex) {
  if (s.curves.empty() || s.axisName != L"Time") return false;
  const std::vector<double>& c = s.curves[0];
  if (std::any_of(c.begin(), c.end(), [](double v) { return v == kVoid; })) return false;
  // The rise is found on the curve over the times relative to the first.
  std::vector<double> relative(s.axis.size());
  for (size_t i = 0; i < s.axis.size(); ++i) relative[i] = s.axis[i] - s.axis[0];
  int start = 0;
  if (!PR_GetBolusStart(c.data(), relative.data(), int(c.size()), 0.25, &start)) return false;
  *dynIndex = start;
  return true;
}

bool TW_RoiStat4DGoTo(const TW_ROISTAT4D& s, int dynIndex) {
  int timeIndex = 0;
  if (!s.vol || !s.vol->DynInxToTimeInx(dynIndex, &timeIndex)) return false;
  VA_VOLPROJ* projection = s.set && s.view ? s.set->FindViewProjection(s.view) : nullptr;
  if (!projection) return false;
  projection->timeIndex = timeIndex;
  s.view->RedrawNow();
  return true;
}

bool TW_RoiStat4DCurveText(const TW_ROISTAT4D& s, const wchar_t* path, CString* text) {
  if (s.curves.empty()) return false;
  std::vector<double> conc;
  if (!TW_RoiStat4DConverted(s, 0, &conc)) return false;
  int first = 0, last = 0;
  TW_RoiStat4DSpan(s, &first, &last);
  CString header = s.label + L" average\n" + s.axisName + L"(" + s.axisUnits + L")\tavgVal";
  double cm3 = -1;
  if (s.roi) {
    header += L"\t vol_cm3";
    int64_t voxels = 0;
    VA_RoiNumVox(s.roi, -1, -1, &voxels);
    const SPC& spc = s.vol->spc;
    cm3 = double(voxels) * spc.x * spc.y * spc.z / 1000.0;
  }
  return VA_SaveTacFile(path, text, header.GetString(), last - first, s.axis.data() + first, conc.data(), cm3);
}

bool TW_RoiStat4DSave(const TW_ROISTAT4D& s) {
  CString path, extension;
  int filterIndex = 0;
  if (!TW_GetFileSaveName(TW_FILTER_TAC, &TW_EditOptions().tacLoadFolder, &filterIndex, &extension, &path)) return false;
  std::vector<double> conc;
  if (!TW_RoiStat4DConverted(s, 0, &conc)) return false;  // no message: nothing is saved
  if (!TW_RoiStat4DCurveText(s, path.GetString(), nullptr)) {
    twk::showNamedError(L"CDlgRoiStat4D::SaveCurve", L"Failed to save TAC file");
    return false;
  }
  return true;
}

bool TW_RoiStat4DCopy(const TW_ROISTAT4D& s) {
  std::vector<double> conc;
  if (!TW_RoiStat4DConverted(s, 0, &conc)) return false;
  CString text;
  if (!TW_RoiStat4DCurveText(s, nullptr, &text)) {
    twk::showNamedError(L"CDlgRoiStat4D::SaveCurve", L"Failed to obtain information");
    return false;
  }
  return PR_CopyStrToClipboard(text.GetString());
}

bool TW_RoiStat4DGammaFit(const TW_ROISTAT4D& s) {
  if (!s.set) return false;
  const int all[DYNEXP_NUM_OUTPUTS] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  return twk::dynamic::ActivateParametricMapCalculation(*s.set, 52, all, 15, 0, nullptr, nullptr, true, true, 1);
}

bool TW_DlgRoiStat4D(bool silent, CDrawView* view, CDrawSet* set, const CVol* vol, const FRAME* roi,
                     COLORREF roiColour, const CString& roiName) {
  TW_ROISTAT4D state;
  state.view = view;
  state.set = set;
  state.vol = vol;
  state.roi = roi;
  state.roiColour = roiColour;
  state.roiName = roiName;
  if (!TW_RoiStat4DOpen(&state)) return false;
  if (silent || !g_view) return true;
  return g_view(&state, false);
}
