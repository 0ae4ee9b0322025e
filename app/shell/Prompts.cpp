#include "Prompts.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "DocMessages.h"
#include "FilePickers.h"
#include "TwkUi.h"
#include "paths/FilePaths.h"

using twk::PromptField;

namespace {

// Parses a whole text as a number (blanks around it allowed).
bool parseNumber(const CString& text, double* value) {
  CString t = text;
  t.Trim();
  if (t.IsEmpty()) return false;
  wchar_t* end = nullptr;
  const double v = std::wcstod(t.GetString(), &end);
  if (!end || *end != 0 || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

CString numberText(double v) {
  CString s;
  s.Format(L"%g", v);
  return s;
}

// Asks until the answers are valid (numbers in their ranges; texts of fields listed in numericText
// convert to numbers) or the user cancels.
bool askValid(const CString& title, std::vector<PromptField>& fields, const std::vector<bool>& numericText = {}) {
  const std::vector<PromptField> shown = fields;
  for (;;) {
    std::vector<PromptField> answer = shown;
    if (!twk::ui().askValues(title, answer)) return false;
    CString problem;
    for (size_t i = 0; i < answer.size() && problem.IsEmpty(); ++i) {
      const PromptField& f = answer[i];
      if (f.kind == PromptField::Kind::Int || f.kind == PromptField::Kind::Double) {
        const bool whole = f.kind != PromptField::Kind::Int || f.number == std::floor(f.number);
        if (!std::isfinite(f.number) || !whole) problem = L"Please enter a number.";
        else if (f.number < f.minimum || f.number > f.maximum)
          problem = L"Please enter a number between " + numberText(f.minimum) + L" and " + numberText(f.maximum) + L".";
      } else if (f.kind == PromptField::Kind::Text && i < numericText.size() && numericText[i]) {
        double v = 0;
        if (!parseNumber(f.text, &v)) problem = L"Please enter a number.";
      }
    }
    if (problem.IsEmpty()) {
      fields = answer;
      return true;
    }
    twk::ui().messageBox(problem, L"Tarnwick", MB_OK | MB_ICONEXCLAMATION);
  }
}

PromptField intField(const CString& label, int v) {
  PromptField f = PromptField::integer(label, v);
  f.minimum = -2147483648.0;
  f.maximum = 2147483647.0;
  return f;
}

}  // namespace

bool TW_SpecifyInt(const CString& prompt, int* value) {
  if (!value) return false;
  std::vector<PromptField> fields{intField(prompt, *value)};
  if (!askValid(L"Specify Integer", fields)) return false;
  *value = int(fields[0].number);
  return true;
}

bool TW_SpecifyTwoInt(const CString& caption, const CString& labelA, int* a, const CString& labelB, int* b) {
  if (!a || !b) return false;
  std::vector<PromptField> fields{intField(labelA, *a), intField(labelB, *b)};
  if (!askValid(caption, fields)) return false;
  *a = int(fields[0].number);
  *b = int(fields[1].number);
  return true;
}

bool TW_SpecifyThreeInt(const CString& caption, const CString& labelA, const CString& labelB, const CString& labelC,
                        int* a, int* b, int* c) {
  if (!a || !b || !c) return false;
  std::vector<PromptField> fields{intField(labelA, *a), intField(labelB, *b), intField(labelC, *c)};
  if (!askValid(caption, fields)) return false;
  *a = int(fields[0].number);
  *b = int(fields[1].number);
  *c = int(fields[2].number);
  return true;
}

bool TW_EnterDouble(const CString& prompt, double* value) {
  if (!value) return false;
  std::vector<PromptField> fields{PromptField::real(prompt, *value)};
  if (!askValid(L"Specify value", fields)) return false;
  *value = fields[0].number;
  return true;
}

bool TW_SpecifyTwoDouble(const CString& caption, const CString& labelA, double* a, const CString& labelB, double* b) {
  if (!a || !b) return false;
  CString textA, textB;
  textA.Format(L"%.8e", *a);
  textB.Format(L"%.8e", *b);
  std::vector<PromptField> fields{PromptField::string(labelA, textA), PromptField::string(labelB, textB)};
  if (!askValid(caption, fields, {true, true})) return false;
  double va = 0, vb = 0;
  parseNumber(fields[0].text, &va);
  parseNumber(fields[1].text, &vb);
  *a = va;
  *b = vb;
  return true;
}

bool TW_SpecifyThreeDoubles(const CString& caption, const CString& labelA, double* a, const CString& labelB, double* b,
                            const CString& labelC, double* c) {
  if (!a || !b || !c) return false;
  std::vector<PromptField> fields{PromptField::real(labelA, *a), PromptField::real(labelB, *b),
                                  PromptField::real(labelC, *c)};
  if (!askValid(caption, fields)) return false;
  *a = fields[0].number;
  *b = fields[1].number;
  *c = fields[2].number;
  return true;
}

bool TW_SpecifyResolution(TW_VOXELSIZE* size, double ref1, double ref2, double ref3) {
  if (!size) return false;
  auto shown = [](double v) { return v == 1e60 ? 1.0 : v; };
  CString title = L"Specify Valid Resolution";
  CString line;
  if (ref1 != 1e60) title += (line.Format(L"\nAverage Interslice Dist = %8.3lf mm", ref1), line);
  if (ref2 != 1e60) title += (line.Format(L"\nSlice Thickness = %8.3lf mm", ref2), line);
  if (ref3 != 1e60) title += (line.Format(L"\nY//X aspect ratio = %8.3lf mm", ref3), line);
  PromptField x = PromptField::real(L"X (mm)", shown(size->x));
  PromptField y = PromptField::real(L"Y (mm)", shown(size->y));
  PromptField z = PromptField::real(L"Z (mm)", shown(size->z));
  x.minimum = y.minimum = z.minimum = 0;
  x.maximum = 100000;
  y.maximum = z.maximum = 10000;
  std::vector<PromptField> fields{x, y, z};
  if (!askValid(title, fields)) return false;
  size->x = fields[0].number;
  size->y = fields[1].number;
  size->z = fields[2].number;
  return true;
}

bool TW_SpecifyStr(const CString& prompt, CString* value) {
  if (!value) return false;
  std::vector<PromptField> fields{PromptField::string(prompt, *value)};
  if (!askValid(L"Specify String", fields)) return false;
  *value = fields[0].text;
  return true;
}

bool TW_EditString(int, int, CString* text) {
  if (!text) return false;
  std::vector<PromptField> fields{PromptField::string(L"", *text)};
  if (!askValid(L"", fields)) return false;
  *text = fields[0].text;
  return true;
}

bool TW_SpecifyTwoFolders(const CString& labelA, const CString& labelB, CString* folderA, CString* folderB,
                          bool mustExist) {
  if (!folderA || !folderB) return false;
  std::vector<PromptField> fields{PromptField::string(labelA, *folderA), PromptField::string(labelB, *folderB)};
  if (!askValid(L"Specify Two Folders", fields)) return false;
  if (mustExist && (!PR_FolderExists(fields[0].text, true) || !PR_FolderExists(fields[1].text, true))) return false;
  *folderA = fields[0].text;
  *folderB = fields[1].text;
  return true;
}

bool TW_SpecifyModality(unsigned* modality) {
  if (!modality) return false;
  const int initial = *modality <= 3 ? int(*modality) : 0;
  std::vector<PromptField> fields{PromptField::choice(L"Modality", {L"CT", L"MR", L"PET", L"US"}, initial)};
  if (!askValid(L"Specify Modality", fields)) return false;
  const int chosen = int(fields[0].number);
  if (chosen < 0 || chosen > 3) return false;
  *modality = unsigned(chosen);
  return true;
}

int TW_ThreeButtonMsgBox(const wchar_t* caption, const wchar_t* const* lines, int lineCount, const CString& textA,
                         const CString& textB, const CString& textC) {
  CString text;
  for (int i = 0; lines && i < lineCount; ++i) {
    if (i > 0) text += L"\n";
    text += lines[i] ? lines[i] : L"";
  }
  const CString texts[3] = {textA, textB, textC};
  const int pressed = twk::ui().threeButtons(text, caption ? caption : L"", textA, textB, textC);
  if (pressed >= 0 && pressed <= 2 && !texts[pressed].IsEmpty()) return pressed;
  // Closed without one of its buttons.
  for (int i = 0; i < 3; ++i)
    if (texts[i].CompareNoCase(L"Cancel") == 0) return i;
  return 2;
}
