// The SUV map of a PET volume from the values its DICOM headers give.
#include <cmath>
#include <cwchar>
#include <vector>

#include <oneapi/tbb/parallel_for.h>

#include "DicomRec.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "dicom/DicomRecords.h"
#include "docsupport/DocSupport.h"
#include "geometry/Dynamic4D.h"
#include "paths/FilePaths.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

constexpr uint32_t kPatientWeight = 0x00101030;
constexpr uint32_t kSeriesTime = 0x00080031;
constexpr uint32_t kAcquisitionTime = 0x00080032;
constexpr uint32_t kUnits = 0x00541001;
constexpr uint32_t kDecayCorrection = 0x00541102;
constexpr uint32_t kRadiopharmaceuticalInfo = 0x00540016;
constexpr uint32_t kStartTime = 0x00181072;
constexpr uint32_t kTotalDose = 0x00181074;
constexpr uint32_t kHalfLife = 0x00181075;

// "HHMMSS.FFFFFF" (or "HH:MM:SS") as seconds since midnight; false for text that is no time.
bool timeSeconds(const CString& text, double* seconds) {
  std::wstring s;
  for (wchar_t c : std::wstring(static_cast<const wchar_t*>(text)))
    if (c != L':' && c != L' ') s += c;
  if (s.size() < 4) return false;
  wchar_t* end = nullptr;
  const double hh = std::wcstod(s.substr(0, 2).c_str(), &end), mm = std::wcstod(s.substr(2, 2).c_str(), &end);
  const double ss = s.size() > 4 ? std::wcstod(s.substr(4).c_str(), &end) : 0.0;
  if (!(hh >= 0 && hh < 24 && mm >= 0 && mm < 60 && ss >= 0 && ss < 61)) return false;
  *seconds = hh * 3600 + mm * 60 + ss;
  return true;
}

bool sequenceNumber(const DCMFF* h, uint32_t tag, double* value) {
  CString text;
  if (!TWKDCM_GetSequenceString(h, kRadiopharmaceuticalInfo, 0, tag, &text)) return false;
  wchar_t* end = nullptr;
  *value = std::wcstod(text, &end);
  return end != static_cast<const wchar_t*>(text) && std::isfinite(*value);
}

}  // namespace

CVol* VA_SUVmapCalculation(const CVol* vol, bool show) {
  const wchar_t* name = L"VA_SUVmapCalculation";
  auto fail = [&](const wchar_t* why) -> CVol* {
    if (show) twk::showNamedError(name, why);
    return nullptr;
  };
  if (!vol || !vol->frame || !vol->IsPET()) return fail(L"PET volume is required");
  if (!vol->dicom || vol->numDicom < 1 || !vol->dicom[0]) return fail(L"DICOM header is required");
  std::vector<DCMFF*> headers;
  auto release = [&] {
    for (DCMFF*& h : headers) TWKDCM_DeleteFF(&h);
  };
  DCMFF* first = VA_DicomRecGetHeader(vol->dicom[0]);
  if (!first) return fail(L"DICOM header is required");
  headers.push_back(first);
  CString units, correction, start;
  TWKDCM_GetString(first, kUnits, &units);
  TWKDCM_GetString(first, kDecayCorrection, &correction);
  units.Trim();
  correction.Trim();
  double weight = 0, dose = 0, halfLife = 0, injection = 0, series = 0;
  const wchar_t* problem = nullptr;
  if (units.CompareNoCase(L"BQML") != 0) problem = L"Activity in BQML units is required";
  else if (!TWKDCM_GetDouble(first, kPatientWeight, &weight) || !(weight > 0)) problem = L"Patient weight is missing";
  else if (!sequenceNumber(first, kTotalDose, &dose) || !(dose > 0)) problem = L"Injected dose is missing";
  else if (!sequenceNumber(first, kHalfLife, &halfLife) || !(halfLife > 0)) problem = L"Radionuclide half-life is missing";
  else if (!TWKDCM_GetSequenceString(first, kRadiopharmaceuticalInfo, 0, kStartTime, &start) ||
           !timeSeconds(start, &injection))
    problem = L"Injection time is missing";
  else if (correction.CompareNoCase(L"START") != 0 && correction.CompareNoCase(L"NONE") != 0 &&
           correction.CompareNoCase(L"ADMIN") != 0)
    problem = L"Unknown decay correction";
  else if (correction.CompareNoCase(L"START") == 0 && !TWKDCM_GetTimeSeconds(first, kSeriesTime, &series))
    problem = L"Series time is missing";
  if (problem) {
    release();
    return fail(problem);
  }
  const int T = vol->T(), D = vol->D();
  // Decay of the dose to the reference time of every time point.
  std::vector<double> factor(size_t(T), 1.0);
  for (int t = 0; t < T && !problem; ++t) {
    double reference = injection;
    if (correction.CompareNoCase(L"START") == 0) {
      reference = series;
    } else if (correction.CompareNoCase(L"NONE") == 0) {
      const int64_t r = int64_t(t) * D;
      DCMFF* h = r < vol->numDicom && vol->dicom[r] ? VA_DicomRecGetHeader(vol->dicom[r]) : nullptr;
      if (h) headers.push_back(h);
      if (!h || !TWKDCM_GetTimeSeconds(h, kAcquisitionTime, &reference)) problem = L"Acquisition time is missing";
    }
    if (reference < injection) reference += 86400;  // injected before midnight
    factor[size_t(t)] = weight * 1000.0 / (dose * std::exp2(-(reference - injection) / halfLife));
  }
  release();
  if (problem) return fail(problem);
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, vol->frame->dim, false);
  if (!out) return fail(L"Not enough memory");
  const FRAME* in = vol->frame;
  tbb::parallel_for(int64_t(0), int64_t(T) * D * vol->H(), [&](int64_t i) {
    const int y = int(i % vol->H()), z = int(i / vol->H() % D), t = int(i / (int64_t(vol->H()) * D));
    double* dst = reinterpret_cast<double*>(twk::frameLine(out, y, z, t));
    for (int x = 0; x < vol->W(); ++x) {
      const double v = twk::voxelValue(in, x, y, z, t);
      dst[x] = v == VOID_VALUE || (in->type == FRM_INT && v == VOID_INT_VALUE) ? VOID_VALUE : v * factor[size_t(t)];
    }
  });
  CVol* result = VA_CloneByReformat(vol, &out, nullptr, nullptr, nullptr, show);
  if (!result) {
    PR_FrameDelete(&out);
    return nullptr;
  }
  result->name = PR_AddFileNameSfx(vol->name, L"_SUV");
  result->unit = L"SUV";
  return result;
}
