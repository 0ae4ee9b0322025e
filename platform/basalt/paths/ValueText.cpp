#include "paths/ValueText.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "TwkMem.h"
#include "TwkTypes.h"
#include "TwkUi.h"
#include "paths/FilePaths.h"

namespace {

std::vector<std::wstring> tokens(const wchar_t* text) {
  std::vector<std::wstring> out;
  std::wstring current;
  for (const wchar_t* p = text; p && *p; ++p) {
    if (std::iswspace(*p) || *p == L',' || *p == L';') {
      if (!current.empty()) out.push_back(current);
      current.clear();
    } else {
      current += *p;
    }
  }
  if (!current.empty()) out.push_back(current);
  return out;
}

bool parseDouble(const std::wstring& token, double* value) {
  if (token == L"void") {
    *value = VOID_VALUE;
    return true;
  }
  wchar_t* end = nullptr;
  errno = 0;
  double v = std::wcstod(token.c_str(), &end);
  if (end == token.c_str() || *end != 0 || errno == ERANGE) return false;
  *value = v;
  return true;
}

template <class T>
bool toPfArray(const std::vector<T>& values, T** out, int* count) {
  *out = nullptr;
  *count = 0;
  if (values.empty()) return false;
  *out = static_cast<T*>(pf_malloc(values.size() * sizeof(T)));
  if (!*out) return false;
  std::copy(values.begin(), values.end(), *out);
  *count = int(values.size());
  return true;
}

}  // namespace

bool PR_ExtractDoubles(const wchar_t* text, double** values, int* count) {
  if (!values || !count) return false;
  *values = nullptr;
  *count = 0;
  std::vector<double> parsed;
  for (const auto& t : tokens(text)) {
    double v = 0;
    if (!parseDouble(t, &v)) return false;
    parsed.push_back(v);
  }
  return toPfArray(parsed, values, count);
}

bool PR_ExtractIntegers(const wchar_t* text, int** values, int* count) {
  if (!values || !count) return false;
  *values = nullptr;
  *count = 0;
  std::vector<int> parsed;
  for (const auto& t : tokens(text)) {
    wchar_t* end = nullptr;
    errno = 0;
    long long v = std::wcstoll(t.c_str(), &end, 10);
    if (end == t.c_str() || *end != 0 || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    parsed.push_back(int(v));
  }
  return toPfArray(parsed, values, count);
}

CString PR_MakeValueString(const double* values, int64_t count) {
  CString out;
  for (int64_t i = 0; i < count; ++i) {
    if (i) out += L", ";
    if (values[i] == VOID_VALUE) {
      out += L"void";
      continue;
    }
    CString item;
    for (int digits = 6; digits <= 17; ++digits) {
      item.Format(L"%.*g", digits, values[i]);
      if (std::wcstod(item.GetString(), nullptr) == values[i]) break;
    }
    out += item;
  }
  return out;
}

double PR_SetValuePrecision(double value, int digits) {
  if (!std::isfinite(value) || value == VOID_VALUE || value == 0 || digits < 1) return value;
  const double magnitude = std::floor(std::log10(std::fabs(value)));
  const double scale = std::pow(10.0, double(digits - 1) - magnitude);
  return std::round(value * scale) / scale;
}

bool PR_StringIsPermutation(const wchar_t* text, const wchar_t* reference) {
  if (!text || !reference) return false;
  std::wstring a(text), b(reference);
  if (a.size() != b.size()) return false;
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  return a == b;
}

bool PR_StringContainsSubstring(const wchar_t* text, const wchar_t* sub, bool ignoreCase) {
  if (!text || !sub) return false;
  CString a(text), b(sub);
  if (ignoreCase) {
    a.MakeLower();
    b.MakeLower();
  }
  return a.Find(b.GetString()) >= 0;
}

bool PR_ExtractInxFromString(const wchar_t* name, int64_t* index) {
  const std::wstring title = PR_GetFileTitleName(name).wstr();
  size_t end = title.size();
  while (end > 0 && !std::iswdigit(title[end - 1])) --end;
  if (end == 0) return false;
  size_t start = end;
  while (start > 0 && std::iswdigit(title[start - 1])) --start;
  if (end - start > 18) return false;
  if (index) *index = std::stoll(title.substr(start, end - start));
  return true;
}

bool PR_AskYesNo(const wchar_t* text) { return twk::ui().messageBox(text, L"Tarnwick", MB_YESNO | MB_ICONQUESTION) == IDYES; }

bool PR_AskYesNoCancel(const wchar_t* text, bool* yes) {
  const int answer = twk::ui().messageBox(text, L"Tarnwick", MB_YESNOCANCEL | MB_ICONQUESTION);
  if (answer == IDCANCEL) return false;
  if (yes) *yes = answer == IDYES;
  return true;
}

void PR_ShowStop(const wchar_t* text) { twk::ui().messageBox(text, L"Tarnwick", MB_OK | MB_ICONSTOP); }

void PR_ShowInfo(const wchar_t* text) { twk::ui().messageBox(text, L"Tarnwick", MB_OK | MB_ICONINFORMATION); }

void PR_DisplayDoubleValue(const wchar_t* title, double value) {
  CString s;
  s.Format(L"%s = %.10g", title ? title : L"", value);
  PR_ShowInfo(s);
}

void PR_DisplayTwoDoubleValues(const wchar_t* title1, double value1, const wchar_t* title2, double value2) {
  CString s;
  s.Format(L"%s = %.10g\n%s = %.10g", title1 ? title1 : L"", value1, title2 ? title2 : L"", value2);
  PR_ShowInfo(s);
}

void PR_DisplayInteger(const wchar_t* title, int64_t value) {
  CString s;
  s.Format(L"%s %I64d", title ? title : L"", value);
  PR_ShowInfo(s);
}
