// Signal-to-concentration conversions (formulas and sources in ConcConv.h).

#include "ConcConv.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <cmath>
#include <cwchar>
#include <numbers>
#include <vector>

#include "DicomRec.h"
#include "TextCodec.h"
#include "TwkUi.h"
#include "TwkMem.h"
#include "paths/FilePaths.h"
#include "TwkTypes.h"

namespace {

const wchar_t* const kMethodNames[VA_NUM_CONC_METHODS] = {
    L"Signal",
    L"Relative enhancement",
    L"Absolute enhancement",
    L"T2* susceptibility (DSC)",
    L"Spoiled gradient echo (tissue T1)",
    L"Spoiled gradient echo (blood T1)",
    L"Water exchange (two-site)",
    L"CT enhancement (HU)",
    L"Spoiled gradient echo (linear)",
};

bool isSpgr(uint32_t method) { return method == 4 || method == 5 || method == 6 || method == 8; }

// The steady-state spoiled-gradient-echo signal per unit M0 for a longitudinal rate R.
double spgr(double r1, double tr, double cosA) {
  const double e = std::exp(-tr * r1);
  return (1 - e) / (1 - cosA * e);
}

// The rate R whose SPGR signal is q times that of R0; NaN when no rate gives it.
double spgrRate(double q, double r0, double tr, double cosA) {
  const double f = q * spgr(r0, tr, cosA);  // (1-E)/(1-cE) = f  ->  E = (1-f)/(1-c f)
  const double e = (1 - f) / (1 - cosA * f);
  if (!(e > 0 && e < 1)) return std::nan("");
  return -std::log(e) / tr;
}

// Two-site exchange: extracellular water fraction pe holding the agent, intracellular rate R1i
// and lifetime ti; ke = ki * (1 - pe) / pe balances the exchange. The observed rate is the smaller
// eigenvalue of the exchange matrix, so for a given observed rate the extracellular rate follows
// in closed form.
struct Exchange {
  double pe, r1i, ki, ke;
  explicit Exchange(const VA_CONCCONV& r)
      : pe(r.waterFraction), r1i(r.relaxationRate), ki(1 / r.lifetime), ke(ki * (1 - r.waterFraction) / r.waterFraction) {}
  double observed(double r1e) const {
    const double a = r1e + ke, b = r1i + ki;
    return 0.5 * ((a + b) - std::sqrt((a - b) * (a - b) + 4 * ke * ki));
  }
  double extracellular(double r1) const {
    const double b = r1i + ki;
    return r1 - ke + ke * ki / (b - r1);
  }
};

double plasmaScale(const VA_CONCSETUP& s) {
  return s.blood && s.record.hct > 0 && s.record.hct < 1 ? 1 / (1 - s.record.hct) : 1.0;
}

VA_CONCSETUP& installed() {
  static VA_CONCSETUP setup;
  return setup;
}

}  // namespace

bool VA_GetConcentrationName(int method, CString* text) {
  if (!text) return false;
  if (method < 0 || method >= VA_NUM_CONC_METHODS) {
    text->Empty();
    return false;
  }
  *text = kMethodNames[method];
  return true;
}

int VA_GetConcentrationByName(const wchar_t* text) {
  if (!text) return -1;
  for (int i = 0; i < VA_NUM_CONC_METHODS; ++i)
    if (std::wcscmp(text, kMethodNames[i]) == 0) return i;
  return -1;
}

bool VA_ConcRequiresTissueAttrib(int method) { return method == 4 || method == 6 || method == 8; }

bool VA_UpdateCurrentConc(int mask, int* method) {
  if (!method) return false;
  if (*method >= 0 && *method < VA_NUM_CONC_METHODS && (mask >> *method & 1)) return true;
  for (int i = 0; i < VA_NUM_CONC_METHODS; ++i)
    if (mask >> i & 1) {
      *method = i;
      return true;
    }
  return false;
}

bool VA_GetConcentrationAttributes(const DICOMREC* header, VA_CONCCONV* record) {
  if (!header || !record) return false;
  if (header->repetitionTime != VOID_VALUE) record->tr = header->repetitionTime;
  if (header->echoTime != VOID_VALUE) record->te = header->echoTime;
  if (header->flipAngle != VOID_VALUE) record->flipAngle = header->flipAngle;
  return true;
}

double VA_GetContrastRelaxivity(int agent, int medium, int field) {
  // r1 at 37 C, 1/(mM*s), fields 1.5 T, 3 T, 7 T.
  // Human blood: Shen et al., Invest Radiol 2015;50:330 (all six agents, all three fields).
  // Human plasma: Szomolanyi et al., Invest Radiol 2019;54:559 (Gadavist, ProHance, Dotarem at all
  //   fields); Rohrer et al., Invest Radiol 2005;40:715 (Magnevist, Omniscan, MultiHance at 1.5 and
  //   3 T), their 7 T value scaled by the agent's 7 T / 3 T ratio in human blood.
  // Bovine plasma: Rohrer et al. 2005 (plasma, 1.5 and 3 T), 7 T scaled as above.
  // Bovine and canine blood: Rohrer et al. 2005 (blood, 1.5 and 3 T), 7 T scaled as above.
  // Canine plasma: no published series covers it; the bovine plasma values stand in.
  static const double humanBlood[6][3] = {
      {4.3, 3.8, 3.1}, {4.5, 3.9, 3.7}, {6.2, 5.4, 4.7}, {4.6, 4.5, 4.2}, {4.4, 3.5, 3.4}, {3.9, 3.4, 2.8}};
  static const double plasma15_3[6][2] = {{4.1, 3.7}, {4.3, 4.0}, {6.3, 5.5}, {5.2, 5.0}, {4.1, 3.7}, {3.6, 3.5}};
  static const double blood15_3[6][2] = {{4.3, 3.8}, {4.6, 4.2}, {6.7, 6.2}, {5.3, 5.4}, {4.4, 3.7}, {4.2, 3.5}};
  static const double humanPlasmaMacro[3][3] = {{4.78, 4.97, 3.83}, {3.80, 3.28, 3.21}, {3.32, 3.00, 2.84}};
  if (agent < 0 || agent > 5 || medium < 0 || medium > 5 || field < 0 || field > 2) return 0;
  const double ratio73 = humanBlood[agent][2] / humanBlood[agent][1];
  auto scaled = [&](const double row[2]) { return field < 2 ? row[field] : row[1] * ratio73; };
  switch (medium) {
    case 0: return humanBlood[agent][field];
    case 1: return agent >= 3 ? humanPlasmaMacro[agent - 3][field] : scaled(plasma15_3[agent]);
    case 2:
    case 4: return scaled(blood15_3[agent]);
    default: return scaled(plasma15_3[agent]);
  }
}

void VA_ConcBaselineSpan(const VA_CONCCONV& record, int n, int* first, int* count) {
  int f = 0, c = 0;
  if (n > 0) {
    if (record.manualBaseline) {
      f = std::clamp(int(record.skipFirst), 0, n - 1);
      c = std::clamp(int(record.averageNext), 1, n - f);
    } else {
      c = std::max(1, std::min(5, n / 10));
    }
  }
  if (first) *first = f;
  if (count) *count = c;
}

bool VA_SignalToConcentration(const VA_CONCSETUP& setup, const double* signal, int64_t n, double* conc,
                              double* baseline) {
  const VA_CONCCONV& r = setup.record;
  if (r.method >= uint32_t(VA_NUM_CONC_METHODS) || !signal || !conc || n < 0) return false;
  int first = 0, count = 0;
  VA_ConcBaselineSpan(r, int(std::min<int64_t>(n, 1 << 30)), &first, &count);
  double s0 = 0;
  for (int i = first; i < first + count; ++i) s0 += signal[i];
  s0 = count > 0 ? s0 / count : 0;
  if (baseline) *baseline = s0;
  if (r.method == 0) {
    if (conc != signal) std::copy_n(signal, n, conc);
    return true;
  }
  const double scale = plasmaScale(setup);
  const double r10 = setup.t10 > 0 ? 1 / setup.t10 : 0;
  const double cosA = std::cos(r.flipAngle * std::numbers::pi / 180);
  for (int64_t i = 0; i < n; ++i) {
    const double s = signal[i];
    double c = VOID_VALUE;
    if (s != VOID_VALUE) switch (r.method) {
        case 1: c = (s / s0 - 1) / r.r1; break;
        case 2:
        case 7: c = (s - s0) / r.r1; break;
        case 3: c = s > 0 && s0 > 0 ? -std::log(s / s0) / (r.r1 * r.te) : VOID_VALUE; break;
        case 4:
        case 5: c = (spgrRate(s / s0, r10, r.tr, cosA) - r10) / r.r1; break;
        case 6: {
          const Exchange x(r);
          const double r1 = spgrRate(s / s0, r10, r.tr, cosA);
          c = r.waterFraction * (x.extracellular(r1) - x.extracellular(r10)) / r.r1;
          break;
        }
        case 8: {
          const double e0 = std::exp(-r.tr * r10);
          const double k = r.tr * e0 * (1 - cosA) / ((1 - e0) * (1 - cosA * e0));
          c = (s / s0 - 1) / (k * r.r1);
          break;
        }
        default: break;
      }
    conc[i] = std::isfinite(c) && c != VOID_VALUE ? c * scale : VOID_VALUE;
  }
  return true;
}

bool VA_ConcentrationToSignal(const VA_CONCSETUP& setup, double s0, const double* conc, int64_t n, double* signal) {
  const VA_CONCCONV& r = setup.record;
  if (r.method >= uint32_t(VA_NUM_CONC_METHODS) || !conc || !signal || n < 0) return false;
  if (r.method == 0) {
    if (conc != signal) std::copy_n(conc, n, signal);
    return true;
  }
  const double scale = plasmaScale(setup);
  const double r10 = setup.t10 > 0 ? 1 / setup.t10 : 0;
  const double cosA = std::cos(r.flipAngle * std::numbers::pi / 180);
  // The pre-contrast SPGR factor is the same for every point (the fits call this for every trial).
  const double base = spgr(r10, r.tr, cosA);
  for (int64_t i = 0; i < n; ++i) {
    if (conc[i] == VOID_VALUE) {
      signal[i] = VOID_VALUE;
      continue;
    }
    const double c = conc[i] / scale;
    double s = VOID_VALUE;
    switch (r.method) {
      case 1: s = s0 * (1 + r.r1 * c); break;
      case 2:
      case 7: s = s0 + r.r1 * c; break;
      case 3: s = s0 * std::exp(-r.r1 * r.te * c); break;
      case 4:
      case 5: s = s0 * spgr(r10 + r.r1 * c, r.tr, cosA) / base; break;
      case 6: {
        const Exchange x(r);
        const double r1 = x.observed(x.extracellular(r10) + r.r1 * c / r.waterFraction);
        s = s0 * spgr(r1, r.tr, cosA) / base;
        break;
      }
      case 8: {
        const double e0 = std::exp(-r.tr * r10);
        const double k = r.tr * e0 * (1 - cosA) / ((1 - e0) * (1 - cosA * e0));
        s = s0 * (1 + k * r.r1 * c);
        break;
      }
      default: break;
    }
    signal[i] = std::isfinite(s) ? s : VOID_VALUE;
  }
  return true;
}

CString VA_ConcConvProblem(const VA_CONCSETUP& setup) {
  const VA_CONCCONV& r = setup.record;
  if (r.method >= uint32_t(VA_NUM_CONC_METHODS)) return L"Unknown concentration conversion method";
  if (r.method == 0) return L"";
  if (!(r.r1 > 0)) return L"The relaxivity r1 of the contrast agent must be positive";
  if (setup.blood && !(r.hct >= 0 && r.hct < 1)) return L"The haematocrit must lie in [0, 1)";
  if (r.method == 3 && !(r.te > 0)) return L"The echo time TE must be positive for the susceptibility conversion";
  if (isSpgr(r.method)) {
    if (!(r.tr > 0)) return L"The repetition time TR must be positive for the gradient-echo conversion";
    if (!(r.flipAngle > 0 && r.flipAngle < 180))
      return L"The flip angle must lie between 0 and 180 degrees for the gradient-echo conversion";
    if (setup.t10 >= 0 && !(setup.t10 > 0)) return L"The pre-contrast T1 must be positive for the gradient-echo conversion";
  }
  if (r.method == 6) {
    if (!(r.waterFraction > 0 && r.waterFraction <= 1)) return L"The tissue water fraction fw must lie in (0, 1]";
    if (!(r.lifetime > 0)) return L"The mean intracellular lifetime must be positive";
    if (!(r.relaxationRate > 0)) return L"The intracellular relaxation rate must be positive";
  }
  return L"";
}

void VA_PrepareSigToConcCallbacks(const VA_CONCSETUP& setup) { installed() = setup; }

void VA_SigToConcCallback(const double* signal, int64_t n, double* conc, int64_t /*mode*/, void* info) {
  const VA_CONCSETUP& setup = installed();
  double s0 = 1;
  if (!VA_SignalToConcentration(setup, signal, n, conc, &s0)) return;
  if (auto* record = static_cast<double*>(info)) {
    record[0] = s0;
    record[1] = setup.record.method;
    record[2] = setup.t10 > 0 ? 1 / setup.t10 : 0;
  }
}

void VA_ConcToSigCallback(const double* conc, int64_t n, double* signal, int64_t /*mode*/, const void* info) {
  const auto* record = static_cast<const double*>(info);
  VA_ConcentrationToSignal(installed(), record ? record[0] : 1.0, conc, n, signal);
}

namespace {

// The shortest decimal text that reads back to the same double.
CString shortestText(double v) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
  return CString(std::string(buffer, result.ptr).c_str());
}

bool parseNumber(const std::string& text, double* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && errno != ERANGE && std::isfinite(*value);
}

}  // namespace

bool VA_ReadCurveText(const wchar_t* path, CString* header, CString* name, std::vector<double>* times,
                      std::vector<double>* values, CString* problem) {
  times->clear();
  values->clear();
  if (header) header->Empty();
  if (name) name->Empty();
  const CString file = path ? CString(path) : CString();
  std::ifstream in(twk::pathToNative(file), std::ios::binary);
  if (!in) {
    *problem = L"Unable to read " + file;
    return false;
  }
  std::string line;
  int lineNo = 0;
  auto fail = [&](const wchar_t* why) {
    *problem = FmtStr(L"%s, line %d: %s", file.GetString(), lineNo, why);
    return false;
  };
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (lineNo == 1 && line.size() >= 3 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    if (line[start] == '#') {
      std::string body = line.substr(start + 1);
      if (!body.empty() && body[0] == ' ') body.erase(0, 1);
      if (header) *header += CString(body.c_str()) + L"\n";
      const size_t key = body.find_first_not_of(" \t");
      if (name && key != std::string::npos && body.compare(key, 5, "name:") == 0) {
        CString named = CString(body.substr(key + 5).c_str());
        named.Trim();
        if (!named.IsEmpty()) *name = named;
      }
      continue;
    }
    std::string fields = line;
    for (char& c : fields)
      if (c == ',' || c == ';' || c == '\t') c = ' ';
    std::istringstream split(fields);
    std::string a, b, extra;
    split >> a >> b >> extra;
    double t = 0, v = 0;
    if (b.empty() || !extra.empty() || !parseNumber(a, &t) || !parseNumber(b, &v))
      return fail(L"expected a time and a value");
    if (!times->empty() && !(t > times->back())) return fail(L"times must increase");
    times->push_back(t);
    values->push_back(v);
  }
  return true;
}

bool PR_LoadTacFile(const wchar_t* path, CString* header, double** times, int* count, double** values, bool show) {
  if (!times || !count || !values) return false;
  *times = *values = nullptr;
  *count = 0;
  std::vector<double> t, v;
  CString problem;
  if (!VA_ReadCurveText(path, header, nullptr, &t, &v, &problem)) {
    if (show) twk::showNamedError(L"PR_LoadTacFile", problem);
    return false;
  }
  if (t.empty()) return true;
  *times = static_cast<double*>(pf_malloc(int64_t(t.size() * sizeof(double))));
  *values = static_cast<double*>(pf_malloc(int64_t(v.size() * sizeof(double))));
  if (!*times || !*values) {
    pf_free(times);
    pf_free(values);
    return false;
  }
  std::copy(t.begin(), t.end(), *times);
  std::copy(v.begin(), v.end(), *values);
  *count = int(t.size());
  return true;
}

bool VA_TacToConc(const VA_TISSUEATTRIB* attrib, const VA_CONCCONV* record, double* curve, int n,
                  const VA_TISSUEATTRIB* /*base*/) {
  if (!record || !curve || n < 0 || record->method >= uint32_t(VA_NUM_CONC_METHODS)) return false;
  VA_CONCSETUP setup;
  setup.record = *record;
  setup.t10 = attrib ? attrib->t1 : 0;
  setup.blood = record->hct != 0;
  std::vector<double> defined;
  defined.reserve(size_t(n));
  for (int i = 0; i < n; ++i)
    if (curve[i] != VOID_VALUE) defined.push_back(curve[i]);
  if (!VA_SignalToConcentration(setup, defined.data(), int64_t(defined.size()), defined.data())) return false;
  size_t k = 0;
  for (int i = 0; i < n; ++i)
    if (curve[i] != VOID_VALUE) curve[i] = defined[k++];
  return true;
}

bool VA_SaveTacFile(const wchar_t* path, CString* text, const wchar_t* header, int n, const double* times,
                    const double* values, double roiVolumeCm3) {
  if (n < 1 || !times || !values || (!path && !text)) return false;
  CString out;
  CString lines = header ? CString(header) : CString();
  while (!lines.IsEmpty()) {
    const int end = lines.Find(L'\n');
    const CString line = end < 0 ? lines : lines.Left(end);
    out += L"# " + line + L"\n";
    lines = end < 0 ? CString() : lines.Mid(end + 1);
  }
  if (roiVolumeCm3 >= 0) out += L"# vol_cm3: " + shortestText(roiVolumeCm3) + L"\n";
  for (int i = 0; i < n; ++i) out += shortestText(times[i]) + L"\t" + shortestText(values[i]) + L"\n";
  if (text) *text = out;
  return !path || PR_SaveTextToFile(path, out.GetString());
}
