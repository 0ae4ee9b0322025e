#include "UiHelpers.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <utility>

#include "AppOptions.h"
#include "DocHooks.h"
#include "DocMessages.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "FilePickers.h"
#include "Prompts.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "io/ImageFiles.h"
#include "paths/FilePaths.h"

namespace {
TW_CURVE_VIEWER g_curveViewer;
TW_COLORVIEW g_colorView;
}

void TW_SetColorChooserView(TW_COLORVIEW view) { g_colorView = std::move(view); }

bool TW_ChooseColor(COLORREF* colour) {
  if (!colour) return false;
  if (g_colorView) return g_colorView(colour);
  const COLORREF start = *colour == 0xFFFFFFFF ? 0 : *colour;
  std::vector<twk::PromptField> fields;
  for (auto [label, value] : {std::pair{L"Red", GetRValue(start)}, std::pair{L"Green", GetGValue(start)},
                              std::pair{L"Blue", GetBValue(start)}}) {
    twk::PromptField f = twk::PromptField::integer(label, value);
    f.minimum = 0;
    f.maximum = 255;
    fields.push_back(f);
  }
  if (!twk::ui().askValues(L"Color", fields)) return false;
  auto channel = [](double v) { return int(std::clamp(v, 0.0, 255.0)); };
  *colour = RGB(channel(fields[0].number), channel(fields[1].number), channel(fields[2].number));
  return true;
}

void TW_ConfirmConstraintLayer(CDrawVol** layer) {
  if (!layer || !*layer || !(*layer)->vol) return;
  const CString& name = (*layer)->vol->name;
  CString question;
  question.Format(L"Layer: %s\nFolder: %s\nUse as a constraint of this operation?", PR_GetFileTitle(name).GetString(),
                  PR_GetFileFolder(name).GetString());
  if (!twk::askYesNo(question)) *layer = nullptr;
}

bool TW_ShowPHIprofile() {
  const CString path = PR_JoinPath(TW_Options().tempFolder, L"CurrPHIprofile.txt");
  if (!TWKDCM_SaveCurrentPHIprofile(path)) {
    twk::doc::message(L"TW_ShowPHIprofile", L"PHI profile is unavailable");
    return false;
  }
  PR_NotepadExeOpenFile(path);
  return true;
}

void TW_SetCurveViewer(TW_CURVE_VIEWER viewer) { g_curveViewer = std::move(viewer); }

bool TW_DisplaySingleCurve() {
  CString path;
  if (!TW_GetFileLoadName(TW_FILTER_TAC, &TW_EditOptions().tacLoadFolder, nullptr, nullptr, &path)) return false;
  wchar_t** names = nullptr;
  int columns = 0, points = 0;
  double* values = nullptr;
  if (!PR_LoadNcolumnFile(path, &names, &columns, &points, &values, true)) return false;
  bool ok = false;
  int xColumn = 1, yColumn = 2;
  if (columns < 2) {
    twk::doc::message(L"TW_DisplaySingleCurve", L"At least 2 columns required");
  } else if (columns == 2 ||
             [&] {
               CString caption;
               for (int c = 0; c < columns; ++c) {
                 CString item;
                 item.Format(L"%s[%u] ", names[c], unsigned(c + 1));
                 caption += (c > 0 ? L"," : L"") + item;
               }
               return TW_SpecifyTwoInt(caption, L"Specify X column", &xColumn, L"Specify Y column", &yColumn);
             }()) {
    if (xColumn == yColumn || xColumn < 1 || yColumn < 1 || xColumn > columns || yColumn > columns) {
      twk::doc::message(L"TW_DisplaySingleCurve", L"Invalid column indices were specified");
    } else {
      const std::vector<double> x(values + int64_t(xColumn - 1) * points, values + int64_t(xColumn) * points);
      const std::vector<double> y(values + int64_t(yColumn - 1) * points, values + int64_t(yColumn) * points);
      if (g_curveViewer) g_curveViewer(L"Single curve", x, y);
      ok = true;
    }
  }
  pf_free_parr(&names, columns);
  pf_free(&values);
  return ok;
}

void TW_InstallShellServices() {
  // The question offers the modality chosen last; a cancelled question leaves it as it was.
  TW_DocumentHooks().specifyModality = [last = unsigned(MODALITY_UNKNOWN)](unsigned* modality) mutable {
    unsigned chosen = last;
    if (!TW_SpecifyModality(&chosen)) return false;
    last = chosen;
    if (modality) *modality = chosen;
    return true;
  };
}

bool TW_DlgTissueProp(int kind, VA_TISSUEATTRIB* attributes) {
  if (!attributes) return false;
  twk::PromptField t1 = twk::PromptField::real(L"T1-value (sec)", attributes->t1);
  t1.minimum = 0;
  t1.maximum = 10000;
  std::vector<twk::PromptField> fields{t1};
  if (!twk::ui().askValues(kind == 5 ? L"Tissue attributes" : L"Tissue Properties", fields)) return false;
  if (!(fields[0].number >= 0 && fields[0].number <= 10000)) return false;
  attributes->t1 = fields[0].number;
  return true;
}

void TW_DeleteFolderFiles(CString folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path dir = fs::path(folder.toUtf8());
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    std::error_code ignored;
    if (it->is_regular_file(ignored) || it->is_symlink(ignored)) fs::remove(it->path(), ignored);
  }
}

int64_t TW_CountFolderFiles(const CString& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  int64_t count = 0;
  for (fs::directory_iterator it(fs::path(folder.toUtf8()), error), end; !error && it != end; it.increment(error)) {
    std::error_code ignored;
    if (it->is_regular_file(ignored) || it->is_symlink(ignored)) ++count;
  }
  return count;
}
