#pragma once
// CString: the wide-character string of every interface of the program and its libraries.
//
// Text is held as wchar_t (UTF-32 on Linux). Formatting follows the MSVC printf conventions that
// the program's message and file texts are written in:
//   wide format (Format, FormatV, AppendFormat, twk::formatWide):
//     %s  wide string (const wchar_t*)      %S / %hs  narrow string (const char*, UTF-8)
//     %ls wide string                        %c  wide char (wchar_t passed as int)   %C / %hc narrow char
//   narrow format (twk::formatNarrow): %s narrow, %S / %ls wide, %c narrow char, %C wide char.
//   Both: %I64d %I64u %I64x %I32d %lld %ld %hd %d %i %u %x %X %o, %e %f %g %E %G %a with
//   %Lf/%le/%lf all taking a double (MSVC's long double is a double), %p, %%, flags - + 0 # blank,
//   width and precision including '*'. %n is refused (nothing is written through arguments).
// A null string argument prints "(null)", as the MSVC runtime does.

#include <cstdarg>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#ifndef _T
#define _T(x) L##x
#endif

using TCHAR = wchar_t;
using LPCTSTR = const wchar_t*;
using LPTSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using LPWSTR = wchar_t*;
using LPCSTR = const char*;

class CString {
 public:
  CString() = default;
  CString(const CString&) = default;
  CString(CString&&) noexcept = default;
  CString(const wchar_t* s) : s_(s ? s : L"") {}                   // NOLINT: implicit as in MFC
  CString(const wchar_t* s, int length) : s_(s ? std::wstring(s, s + (length > 0 ? length : 0)) : std::wstring()) {}
  CString(const char* utf8);                                         // NOLINT: 8-bit text is UTF-8
  CString(wchar_t ch, int repeat = 1) : s_(repeat > 0 ? size_t(repeat) : 0, ch) {}
  CString(const std::wstring& s) : s_(s) {}                          // NOLINT
  CString(std::wstring&& s) noexcept : s_(std::move(s)) {}           // NOLINT
  CString(std::wstring_view s) : s_(s) {}                            // NOLINT

  CString& operator=(const CString&) = default;
  CString& operator=(CString&&) noexcept = default;
  CString& operator=(const wchar_t* s) { s_ = s ? s : L""; return *this; }
  CString& operator=(const char* utf8) { *this = CString(utf8); return *this; }
  CString& operator=(wchar_t ch) { s_.assign(1, ch); return *this; }
  CString& operator=(const std::wstring& s) { s_ = s; return *this; }

  // Length and access.
  int GetLength() const { return int(s_.size()); }
  bool IsEmpty() const { return s_.empty(); }
  void Empty() { s_.clear(); }
  const wchar_t* GetString() const { return s_.c_str(); }
  operator const wchar_t*() const { return s_.c_str(); }             // NOLINT: LPCTSTR conversion
  wchar_t GetAt(int i) const { return s_.at(size_t(i)); }
  void SetAt(int i, wchar_t ch) { s_.at(size_t(i)) = ch; }
  wchar_t operator[](int i) const { return s_.at(size_t(i)); }

  // Concatenation.
  CString& operator+=(const CString& s) { s_ += s.s_; return *this; }
  CString& operator+=(const wchar_t* s) { if (s) s_ += s; return *this; }
  CString& operator+=(const char* utf8) { s_ += CString(utf8).s_; return *this; }
  CString& operator+=(wchar_t ch) { s_ += ch; return *this; }
  void Append(const wchar_t* s) { *this += s; }
  void AppendChar(wchar_t ch) { s_ += ch; }

  // Comparison: Compare is ordinal; CompareNoCase lower-cases both sides first.
  int Compare(const wchar_t* s) const;
  int CompareNoCase(const wchar_t* s) const;

  // Substrings (counts and positions out of range are clamped, as MFC does).
  CString Mid(int first) const;
  CString Mid(int first, int count) const;
  CString Left(int count) const;
  CString Right(int count) const;
  CString SpanIncluding(const wchar_t* set) const;
  CString SpanExcluding(const wchar_t* set) const;

  // Searching: positions are 0-based, -1 when absent.
  int Find(wchar_t ch, int start = 0) const;
  int Find(const wchar_t* sub, int start = 0) const;
  int ReverseFind(wchar_t ch) const;
  int FindOneOf(const wchar_t* set) const;

  // Editing; each returns what MFC returns (counts or the new length).
  int Replace(wchar_t from, wchar_t to);
  int Replace(const wchar_t* from, const wchar_t* to);
  int Remove(wchar_t ch);
  int Insert(int index, wchar_t ch);
  int Insert(int index, const wchar_t* s);
  int Delete(int index, int count = 1);
  CString& Trim();
  CString& Trim(wchar_t ch);
  CString& Trim(const wchar_t* set);
  CString& TrimLeft();
  CString& TrimLeft(wchar_t ch);
  CString& TrimLeft(const wchar_t* set);
  CString& TrimRight();
  CString& TrimRight(wchar_t ch);
  CString& TrimRight(const wchar_t* set);
  CString& MakeUpper();
  CString& MakeLower();
  CString& MakeReverse();
  // Next token after position start (separators skipped); start becomes -1 after the last token.
  CString Tokenize(const wchar_t* separators, int& start) const;

  // Formatting with the MSVC conventions above.
  void Format(const wchar_t* format, ...);
  void FormatV(const wchar_t* format, va_list args);
  void AppendFormat(const wchar_t* format, ...);
  void AppendFormatV(const wchar_t* format, va_list args);

  // Raw buffer access: GetBuffer gives room for at least minLength characters plus the terminator;
  // ReleaseBuffer(-1) takes the length up to the first zero.
  wchar_t* GetBuffer(int minLength = 0);
  wchar_t* GetBufferSetLength(int length);
  void ReleaseBuffer(int newLength = -1);

  // Bridges to the standard library.
  const std::wstring& wstr() const { return s_; }
  std::wstring& wstr() { return s_; }
  std::string toUtf8() const;
  static CString fromUtf8(std::string_view utf8);

 private:
  std::wstring s_;
};

CString operator+(const CString& a, const CString& b);
CString operator+(const CString& a, const wchar_t* b);
CString operator+(const wchar_t* a, const CString& b);
CString operator+(const CString& a, wchar_t b);
CString operator+(wchar_t a, const CString& b);

inline bool operator==(const CString& a, const CString& b) { return a.wstr() == b.wstr(); }
inline bool operator==(const CString& a, const wchar_t* b) { return a.Compare(b) == 0; }
inline bool operator==(const wchar_t* a, const CString& b) { return b.Compare(a) == 0; }
inline bool operator!=(const CString& a, const CString& b) { return !(a == b); }
inline bool operator!=(const CString& a, const wchar_t* b) { return !(a == b); }
inline bool operator!=(const wchar_t* a, const CString& b) { return !(b == a); }
inline bool operator<(const CString& a, const CString& b) { return a.wstr() < b.wstr(); }
inline bool operator>(const CString& a, const CString& b) { return b < a; }
inline bool operator<=(const CString& a, const CString& b) { return !(b < a); }
inline bool operator>=(const CString& a, const CString& b) { return !(a < b); }

template <>
struct std::hash<CString> {
  size_t operator()(const CString& s) const noexcept { return std::hash<std::wstring>()(s.wstr()); }
};

// Prints the text as UTF-8 in quotes (GoogleTest finds it for failure messages).
void PrintTo(const CString& s, std::ostream* os);

namespace twk {
// printf-style formatting with the MSVC conventions described at the top of this file.
std::wstring formatWide(const wchar_t* format, va_list args);
std::string formatNarrow(const char* format, va_list args);
std::wstring formatWideArgs(const wchar_t* format, ...);
std::string formatNarrowArgs(const char* format, ...);
}  // namespace twk
