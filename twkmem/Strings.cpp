// String helpers and formatting into CString.

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <new>
#include <string>

#include "MsRand.h"
#include "TextCodec.h"
#include "TwkMem.h"

namespace {

std::wstring lowered(const wchar_t* s) {
  std::wstring out(s ? s : L"");
  for (wchar_t& c : out) c = wchar_t(std::towlower(wint_t(c)));
  return out;
}

std::wstring uppered(const wchar_t* s) {
  std::wstring out(s ? s : L"");
  for (wchar_t& c : out) c = wchar_t(std::towupper(wint_t(c)));
  return out;
}

// The field number index between delimiters; false when the text has fewer fields.
bool extractField(const std::wstring& text, int index, wchar_t d, std::wstring& field) {
  size_t begin = 0;
  for (int k = 0; k < index; ++k) {
    const size_t next = text.find(d, begin);
    if (next == std::wstring::npos) return false;
    begin = next + 1;
  }
  const size_t end = text.find(d, begin);
  field = text.substr(begin, end == std::wstring::npos ? std::wstring::npos : end - begin);
  return true;
}

}  // namespace

CString FmtStr(const char* format, ...) {
  if (!format) return CString();
  const CString wideFormat(format);
  va_list args;
  va_start(args, format);
  CString out(twk::formatWide(wideFormat.GetString(), args));
  va_end(args);
  return out;
}

CString FmtStr(const wchar_t* format, ...) {
  if (!format) return CString();
  va_list args;
  va_start(args, format);
  CString out(twk::formatWide(format, args));
  va_end(args);
  return out;
}

wchar_t* PR_CopyString(const wchar_t* s) {
  if (!s) return nullptr;
  const size_t length = std::wcslen(s);
  auto* copy = static_cast<wchar_t*>(pf_malloc(int64_t((length + 1) * sizeof(wchar_t))));
  if (!copy) return nullptr;
  std::wmemcpy(copy, s, length + 1);
  return copy;
}

void CstrToTstr(const char* src, wchar_t* dst) {
  if (!src || !dst) return;
  const std::wstring wide = twk::fromCodePage1252(src);
  std::wmemcpy(dst, wide.c_str(), wide.size() + 1);
}

void CstrToTstr(const char* src, wchar_t* dst, size_t dstCount) {
  if (!src || !dst || dstCount == 0) return;
  const std::wstring wide = twk::fromCodePage1252(src);
  const size_t n = wide.size() < dstCount - 1 ? wide.size() : dstCount - 1;
  std::wmemcpy(dst, wide.c_str(), n);
  dst[n] = 0;
}

void TstrToCstr(const wchar_t* src, char* dst) {
  if (!src || !dst) return;
  const std::string narrow = twk::toCodePage1252(src);
  std::memcpy(dst, narrow.c_str(), narrow.size() + 1);
}

void TstrToCstr(const wchar_t* src, char* dst, size_t dstSize) {
  if (!src || !dst || dstSize == 0) return;
  const std::string narrow = twk::toCodePage1252(src);
  const size_t n = narrow.size() < dstSize - 1 ? narrow.size() : dstSize - 1;
  std::memcpy(dst, narrow.c_str(), n);
  dst[n] = 0;
}

void PR_StringToLower(char* s) {
  if (!s) return;
  for (; *s; ++s) *s = char(std::tolower(static_cast<unsigned char>(*s)));
}

void PR_RemoveRepeatingDelimiters(CString& s, wchar_t d) {
  std::wstring out;
  out.reserve(size_t(s.GetLength()));
  for (wchar_t c : s.wstr()) {
    if (c == d && !out.empty() && out.back() == d) continue;
    out += c;
  }
  s = out;
}

CString** PR_ExtractAllSubstrings(const wchar_t* text, wchar_t d, int* count) {
  if (count) *count = 0;
  if (!text) return nullptr;
  CString collapsed(text);
  PR_RemoveRepeatingDelimiters(collapsed, d);

  CString** fields = nullptr;
  int n = 0;
  std::wstring field;
  while (extractField(collapsed.wstr(), n, d, field) && !field.empty()) {
    CString* item = new (std::nothrow) CString(field);
    if (!item || !pf_realloc(&fields, int64_t(n + 1) * int64_t(sizeof(CString*)))) {
      delete item;
      for (int k = 0; k < n; ++k) delete fields[k];
      pf_free(&fields);
      return nullptr;
    }
    fields[n++] = item;
  }
  if (count) *count = n;
  return fields;
}

int PR_FindStringInx(CString** arr, int n, const wchar_t* s) {
  if (!arr || !s) return -1;
  for (int k = 0; k < n; ++k)
    if (arr[k] && arr[k]->Compare(s) == 0) return k;
  return -1;
}

bool PR_StringEndsWith(CString s, CString tail, bool caseSensitive) {
  if (!caseSensitive) {
    s.MakeLower();
    tail.MakeLower();
  }
  return s.Right(tail.GetLength()) == tail;
}

int PR_SubstringPosNonCase(const wchar_t* text, const wchar_t* sub) {
  if (!text || !sub) return -1;
  const size_t pos = lowered(text).find(lowered(sub));
  return pos == std::wstring::npos ? -1 : int(pos);
}

bool PR_SubstringPresentNonCase(const wchar_t* text, const wchar_t* sub) { return PR_SubstringPosNonCase(text, sub) >= 0; }

bool PR_StringPresentInArrNonCase(const wchar_t** arr, int64_t n, const wchar_t* s) {
  if (!arr || !s) return false;
  const std::wstring wanted = uppered(s);
  for (int64_t k = 0; k < n; ++k)
    if (arr[k] && uppered(arr[k]) == wanted) return true;
  return false;
}

int PR_CountMatchingStrings(bool exact, const wchar_t** arr, int n, const wchar_t* s) {
  if (!arr || n <= 0 || !s) return 0;
  const std::wstring wanted = exact ? std::wstring(s) : lowered(s);
  int matches = 0;
  for (int k = 0; k < n; ++k) {
    if (!arr[k]) continue;
    if ((exact ? std::wstring(arr[k]) : lowered(arr[k])) == wanted) ++matches;
  }
  return matches;
}

bool PR_AbsPresentInBuf(const int* buf, int64_t n, int v) {
  if (!buf) return false;
  const int64_t wanted = std::llabs(int64_t(v));
  for (int64_t k = 0; k < n; ++k)
    if (std::llabs(int64_t(buf[k])) == wanted) return true;
  return false;
}

void PR_DoubleFloatRemoveNonDigits(wchar_t* s) {
  if (!s) return;
  wchar_t* out = s;
  for (const wchar_t* in = s; *in; ++in)
    if ((*in >= L'0' && *in <= L'9') || *in == L'.') *out++ = *in;
  *out = 0;
}

int PR_NumReqDigits(int v) {
  if (v < 0) return 0;
  int digits = 1;
  while (v >= 10) {
    v /= 10;
    ++digits;
  }
  return digits;
}

CString PR_GetFixedWidthIndexString(int index, int width) {
  CString text = FmtStr(L"%u", unsigned(index));
  // A negative width asks for as many digits as the number -width has.
  const int wanted = width < 0 ? PR_NumReqDigits(width == INT32_MIN ? INT32_MAX : -width) : width;
  if (text.GetLength() < wanted) text = CString(L'0', wanted - text.GetLength()) + text;
  return text;
}

void PR_GenerateRandom128bit(CString& s) {
  uint64_t number = 0;
  for (int k = 0; k < 8; ++k) {
    const double scaled = double(twk::msRand()) * (255.0 / 32767.0);
    const uint64_t byte = uint64_t(std::floor(scaled + 0.5)) & 0xFF;
    number |= byte << (8 * k);
  }
  s = number == 0 ? CString(L"0") : FmtStr(L"%I64u", number);
}
