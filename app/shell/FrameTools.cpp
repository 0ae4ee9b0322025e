#include "FrameTools.h"

#include <chrono>
#include <cmath>

#include "AppOptions.h"
#include "DocMessages.h"
#include "FilePickers.h"
#include "Prompts.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "io/ImageFiles.h"
#include "numerics/CurveMeasures.h"
#include "paths/ValueText.h"
#include "system/CpuInfo.h"

bool TW_SingleCurveBasicMeasurement() {
  const wchar_t* fn = L"CMainFrame::OnSingleCurveBasicMeasurement";
  static CString folder, extension;
  static int filterIndex = 1;
  CString path;
  if (!TW_GetFileLoadName(TW_FILTER_TAC, &folder, &filterIndex, &extension, &path)) return false;
  wchar_t** names = nullptr;
  double* values = nullptr;
  int columns = 0, points = 0;
  if (!PR_LoadNcolumnFile(path, &names, &columns, &points, &values, true)) return false;
  struct Columns {  // freed on every way out
    wchar_t*** names;
    double** values;
    int columns;
    ~Columns() {
      pf_free_parr(names, columns);
      pf_free(values);
    }
  } owned{&names, &values, columns};
  if (columns < 2) {
    twk::doc::message(fn, L"At least 2 columns required");
    return false;
  }
  int xColumn = 1, yColumn = 2;
  if (columns > 2) {
    CString caption;
    for (int i = 0; i < columns; ++i)
      caption += FmtStr(L"%s[%u] ", names[i], unsigned(i + 1)) + (i + 1 < columns ? L"," : L"");
    if (!TW_SpecifyTwoInt(caption, L"Specify X column", &xColumn, L"Specify Y column", &yColumn)) return false;
    if (xColumn == yColumn || xColumn < 1 || yColumn < 1 || xColumn > columns || yColumn > columns) {
      twk::doc::message(fn, L"Invalid column indices were specified");
      return false;
    }
  }
  CString report;
  if (!VA_CurveBasicMeasurement(values + int64_t(yColumn - 1) * points, values + int64_t(xColumn - 1) * points, points,
                                &report))
    return false;
  return PR_NotepadExeOpenString(TW_Options().tempFolder, report);
}

void TW_TestRounding(long long steps) {
  using Clock = std::chrono::steady_clock;
  double x = 0, runtimeTotal = 0, floorTotal = 0;
  auto start = Clock::now();
  for (long long i = 0; i < steps; ++i) {
    x += 0.0001;
    runtimeTotal += std::round(x);
  }
  const double runtimeSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  x = 0;
  start = Clock::now();
  for (long long i = 0; i < steps; ++i) {
    x += 0.0001;
    floorTotal += std::floor(x + 0.5);
  }
  const double floorSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  PR_DisplayTwoDoubleValues(L"Tm1", floorSeconds, L"Tm2", runtimeSeconds);
  PR_DisplayInteger(L"rsum", int64_t(runtimeTotal + floorTotal));
}

void TW_ShowCpuInfo() {
  CString info;
  PR_GetCpuInfo(&info);
  twk::ui().messageBox(info, L"CPU Info", MB_OK | MB_ICONINFORMATION);
}

CString TW_AllocatedMemoryLine() {
  return FmtStr(L"Allocated Memory : %I64u bytes", static_cast<unsigned long long>(PR_GetTotalAllocSize()));
}
