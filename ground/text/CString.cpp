#include "CString.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "TextCodec.h"

// ---------------------------------------------------------------------------------------------
// Formatting engine.
//
// Each conversion is parsed here (flags, width, precision, length modifier, type) and its argument
// is fetched with the type the MSVC conventions give it. Numbers are rendered by the C library from
// a rebuilt narrow conversion; strings and characters are padded and cut here, counting
// characters, and converted to the output's encoding (wide, or UTF-8 for narrow output).
namespace {

enum class Length { None, Char, Short, Long, LongLong, Int32, Int64, SizeT, IntMax, PtrDiff, LongDouble, Wide };

struct Conversion {
  bool left = false, plus = false, blank = false, alternate = false, zero = false;
  int width = -1;      // -1: none
  int precision = -1;  // -1: none
  Length length = Length::None;
};

// Renders one narrow printf conversion with its argument into a string of any length.
template <typename T>
std::string cFormat(const std::string& conversion, T value) {
  char small[128];
  int n = std::snprintf(small, sizeof small, conversion.c_str(), value);
  if (n < 0) return std::string();
  if (size_t(n) < sizeof small) return std::string(small, size_t(n));
  std::string big(size_t(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), conversion.c_str(), value);
  big.resize(size_t(n));
  return big;
}

std::string numericFormat(const Conversion& s, const char* lengthText, char type) {
  std::string conversion = "%";
  if (s.left) conversion += '-';
  if (s.plus) conversion += '+';
  if (s.blank) conversion += ' ';
  if (s.alternate) conversion += '#';
  if (s.zero) conversion += '0';
  if (s.width >= 0) conversion += std::to_string(s.width);
  if (s.precision >= 0) conversion += '.' + std::to_string(s.precision);
  conversion += lengthText;
  conversion += type;
  return conversion;
}

// One character of text split into the output's code units: for wide output one wchar_t, for
// narrow output the UTF-8 bytes of one character.
template <typename CharT>
struct Output;

template <>
struct Output<wchar_t> {
  using String = std::wstring;
  static void appendAscii(String& out, const std::string& s) { out.append(s.begin(), s.end()); }
  static String fromWide(std::wstring_view s) { return String(s); }
  static String fromNarrow(std::string_view s) { return twk::fromUtf8(s); }
  // Positions of the characters' starts in s (one per code unit).
  static size_t characterCount(const String& s) { return s.size(); }
  static size_t prefixOfCharacters(const String& s, size_t count) { return count < s.size() ? count : s.size(); }
  static String narrowChar(int c) { return twk::fromCodePage1252(std::string(1, char(c))); }
};

template <>
struct Output<char> {
  using String = std::string;
  static void appendAscii(String& out, const std::string& s) { out += s; }
  static String fromWide(std::wstring_view s) { return twk::toUtf8(s); }
  static String fromNarrow(std::string_view s) { return String(s); }
  // Narrow text is kept byte for byte; characters are counted at UTF-8 lead bytes.
  static bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }
  static size_t characterCount(const String& s) {
    size_t n = 0;
    for (char c : s) n += isContinuation(c) ? 0 : 1;
    return n;
  }
  static size_t prefixOfCharacters(const String& s, size_t count) {
    size_t seen = 0;
    for (size_t i = 0; i < s.size(); ++i) {
      if (!isContinuation(s[i])) {
        if (seen == count) return i;
        ++seen;
      }
    }
    return s.size();
  }
  static String narrowChar(int c) { return String(1, char(c)); }
};

template <typename CharT>
void appendPadded(typename Output<CharT>::String& out, typename Output<CharT>::String text, const Conversion& s) {
  using O = Output<CharT>;
  if (s.precision >= 0) text.resize(O::prefixOfCharacters(text, size_t(s.precision)));
  size_t chars = O::characterCount(text);
  size_t pad = s.width > 0 && size_t(s.width) > chars ? size_t(s.width) - chars : 0;
  if (s.left) {
    out += text;
    out.append(pad, CharT(' '));
  } else {
    out.append(pad, CharT(s.zero ? '0' : ' '));
    out += text;
  }
}

template <typename CharT>
int parseNumber(const CharT*& p) {
  long long v = 0;
  while (*p >= CharT('0') && *p <= CharT('9')) {
    if (v < 100000000) v = v * 10 + (*p - CharT('0'));
    ++p;
  }
  return int(v);
}

template <typename CharT>
typename Output<CharT>::String formatImpl(const CharT* format, va_list callerArgs) {
  using O = Output<CharT>;
  typename O::String out;
  if (!format) return out;
  va_list args;
  va_copy(args, callerArgs);
  constexpr bool kWideFormat = std::is_same_v<CharT, wchar_t>;

  const CharT* p = format;
  while (*p) {
    if (*p != CharT('%')) {
      out += *p++;
      continue;
    }
    const CharT* start = p++;
    if (*p == CharT('%')) {
      out += CharT('%');
      ++p;
      continue;
    }
    Conversion s;
    for (;; ++p) {
      if (*p == CharT('-')) s.left = true;
      else if (*p == CharT('+')) s.plus = true;
      else if (*p == CharT(' ')) s.blank = true;
      else if (*p == CharT('#')) s.alternate = true;
      else if (*p == CharT('0')) s.zero = true;
      else break;
    }
    if (*p == CharT('*')) {
      ++p;
      int w = va_arg(args, int);
      if (w < 0) {
        s.left = true;
        w = w == INT32_MIN ? INT32_MAX : -w;
      }
      s.width = w;
    } else if (*p >= CharT('1') && *p <= CharT('9')) {
      s.width = parseNumber(p);
    }
    if (*p == CharT('.')) {
      ++p;
      if (*p == CharT('*')) {
        ++p;
        int prec = va_arg(args, int);
        s.precision = prec < 0 ? -1 : prec;  // a negative precision counts as none
      } else {
        s.precision = parseNumber(p);
      }
    }
    // Length modifiers, MSVC's included.
    if (*p == CharT('h')) {
      ++p;
      if (*p == CharT('h')) { ++p; s.length = Length::Char; }
      else s.length = Length::Short;
    } else if (*p == CharT('l')) {
      ++p;
      if (*p == CharT('l')) { ++p; s.length = Length::LongLong; }
      else s.length = Length::Long;
    } else if (*p == CharT('L')) {
      ++p;
      s.length = Length::LongDouble;
    } else if (*p == CharT('w')) {
      ++p;
      s.length = Length::Wide;
    } else if (*p == CharT('j')) {
      ++p;
      s.length = Length::IntMax;
    } else if (*p == CharT('z')) {
      ++p;
      s.length = Length::SizeT;
    } else if (*p == CharT('t')) {
      ++p;
      s.length = Length::PtrDiff;
    } else if (*p == CharT('I')) {
      ++p;
      if (p[0] == CharT('6') && p[1] == CharT('4')) { p += 2; s.length = Length::Int64; }
      else if (p[0] == CharT('3') && p[1] == CharT('2')) { p += 2; s.length = Length::Int32; }
      else s.length = Length::SizeT;
    }

    const CharT type = *p;
    if (!type) {  // a format ending inside a conversion is copied as it stands
      out.append(start, p);
      break;
    }
    ++p;
    switch (type) {
      case CharT('d'):
      case CharT('i'): {
        const char t = 'd';
        switch (s.length) {
          case Length::Char: O::appendAscii(out, cFormat(numericFormat(s, "", t), int(static_cast<signed char>(va_arg(args, int))))); break;
          case Length::Short: O::appendAscii(out, cFormat(numericFormat(s, "", t), int(static_cast<short>(va_arg(args, int))))); break;
          case Length::Long: O::appendAscii(out, cFormat(numericFormat(s, "l", t), va_arg(args, long))); break;
          case Length::LongLong:
          case Length::LongDouble:
          case Length::Int64: O::appendAscii(out, cFormat(numericFormat(s, "ll", t), va_arg(args, long long))); break;
          case Length::IntMax: O::appendAscii(out, cFormat(numericFormat(s, "j", t), va_arg(args, intmax_t))); break;
          case Length::SizeT:
          case Length::PtrDiff: O::appendAscii(out, cFormat(numericFormat(s, "t", t), va_arg(args, ptrdiff_t))); break;
          default: O::appendAscii(out, cFormat(numericFormat(s, "", t), va_arg(args, int))); break;
        }
        break;
      }
      case CharT('u'):
      case CharT('x'):
      case CharT('X'):
      case CharT('o'): {
        const char t = char(type);
        switch (s.length) {
          case Length::Char: O::appendAscii(out, cFormat(numericFormat(s, "", t), unsigned(static_cast<unsigned char>(va_arg(args, unsigned))))); break;
          case Length::Short: O::appendAscii(out, cFormat(numericFormat(s, "", t), unsigned(static_cast<unsigned short>(va_arg(args, unsigned))))); break;
          case Length::Long: O::appendAscii(out, cFormat(numericFormat(s, "l", t), va_arg(args, unsigned long))); break;
          case Length::LongLong:
          case Length::LongDouble:
          case Length::Int64: O::appendAscii(out, cFormat(numericFormat(s, "ll", t), va_arg(args, unsigned long long))); break;
          case Length::IntMax: O::appendAscii(out, cFormat(numericFormat(s, "j", t), va_arg(args, uintmax_t))); break;
          case Length::SizeT:
          case Length::PtrDiff: O::appendAscii(out, cFormat(numericFormat(s, "z", t), va_arg(args, size_t))); break;
          default: O::appendAscii(out, cFormat(numericFormat(s, "", t), va_arg(args, unsigned))); break;
        }
        break;
      }
      case CharT('e'):
      case CharT('E'):
      case CharT('f'):
      case CharT('F'):
      case CharT('g'):
      case CharT('G'):
      case CharT('a'):
      case CharT('A'):
        // h, l and L change nothing: every floating argument is a double.
        O::appendAscii(out, cFormat(numericFormat(s, "", char(type)), va_arg(args, double)));
        break;
      case CharT('p'): {
        // MSVC prints a pointer as its full width of upper-case hex digits, without "0x".
        Conversion ps;
        ps.left = s.left;
        ps.width = s.width;
        ps.precision = int(2 * sizeof(void*));
        O::appendAscii(out, cFormat(numericFormat(ps, "ll", 'X'), static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(va_arg(args, void*)))));
        break;
      }
      case CharT('c'):
      case CharT('C'): {
        // In a wide format %c is wide and %C narrow; in a narrow one the other way round.
        // h forces narrow, l and w force wide.
        bool wideChar = (type == CharT('c')) == kWideFormat;
        if (s.length == Length::Short) wideChar = false;
        if (s.length == Length::Long || s.length == Length::Wide) wideChar = true;
        int c = va_arg(args, int);
        typename O::String text;
        if (wideChar) {
          wchar_t wc = wchar_t(c);
          text = O::fromWide(std::wstring_view(&wc, 1));
        } else {
          text = O::narrowChar(c);
        }
        Conversion cs = s;
        cs.precision = -1;
        appendPadded<CharT>(out, std::move(text), cs);
        break;
      }
      case CharT('s'):
      case CharT('S'): {
        bool wideString = (type == CharT('s')) == kWideFormat;
        if (s.length == Length::Short) wideString = false;
        if (s.length == Length::Long || s.length == Length::Wide) wideString = true;
        typename O::String text;
        if (wideString) {
          const wchar_t* w = va_arg(args, const wchar_t*);
          text = O::fromWide(w ? std::wstring_view(w) : std::wstring_view(L"(null)"));
        } else {
          const char* n = va_arg(args, const char*);
          text = O::fromNarrow(n ? std::string_view(n) : std::string_view("(null)"));
        }
        appendPadded<CharT>(out, std::move(text), s);
        break;
      }
      case CharT('n'):
        // Writing through an argument is refused: the pointer is consumed, nothing is written.
        (void)va_arg(args, void*);
        break;
      default:
        // Unknown conversion: copied as it stands, no argument consumed.
        out.append(start, p);
        break;
    }
  }
  va_end(args);
  return out;
}

}  // namespace

namespace twk {

std::wstring formatWide(const wchar_t* format, va_list args) { return formatImpl<wchar_t>(format, args); }

std::string formatNarrow(const char* format, va_list args) { return formatImpl<char>(format, args); }

std::wstring formatWideArgs(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring s = formatWide(format, args);
  va_end(args);
  return s;
}

std::string formatNarrowArgs(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string s = formatNarrow(format, args);
  va_end(args);
  return s;
}

}  // namespace twk

// ---------------------------------------------------------------------------------------------
// CString

namespace {

bool inSet(const wchar_t* set, wchar_t ch) { return set && ch != 0 && std::wcschr(set, ch) != nullptr; }

}  // namespace

CString::CString(const char* utf8) : s_(utf8 ? twk::fromUtf8(utf8) : std::wstring()) {}

int CString::Compare(const wchar_t* s) const {
  int r = std::wcscmp(s_.c_str(), s ? s : L"");
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int CString::CompareNoCase(const wchar_t* s) const {
  const wchar_t* a = s_.c_str();
  const wchar_t* b = s ? s : L"";
  for (;; ++a, ++b) {
    wint_t ca = std::towlower(wint_t(*a));
    wint_t cb = std::towlower(wint_t(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

CString CString::Mid(int first) const { return Mid(first, GetLength()); }

CString CString::Mid(int first, int count) const {
  const int length = GetLength();
  if (first < 0) first = 0;
  if (count < 0) count = 0;
  if (first > length) return CString();
  if (count > length - first) count = length - first;
  return CString(s_.substr(size_t(first), size_t(count)));
}

CString CString::Left(int count) const {
  if (count < 0) count = 0;
  return CString(s_.substr(0, size_t(count)));
}

CString CString::Right(int count) const {
  const int length = GetLength();
  if (count < 0) count = 0;
  if (count > length) count = length;
  return CString(s_.substr(size_t(length - count)));
}

CString CString::SpanIncluding(const wchar_t* set) const {
  size_t n = 0;
  while (n < s_.size() && inSet(set, s_[n])) ++n;
  return CString(s_.substr(0, n));
}

CString CString::SpanExcluding(const wchar_t* set) const {
  size_t n = 0;
  while (n < s_.size() && !inSet(set, s_[n])) ++n;
  return CString(s_.substr(0, n));
}

int CString::Find(wchar_t ch, int start) const {
  if (start < 0 || start >= GetLength()) return -1;
  size_t pos = s_.find(ch, size_t(start));
  return pos == std::wstring::npos ? -1 : int(pos);
}

int CString::Find(const wchar_t* sub, int start) const {
  if (!sub || start < 0 || start > GetLength()) return -1;
  size_t pos = s_.find(sub, size_t(start));
  return pos == std::wstring::npos ? -1 : int(pos);
}

int CString::ReverseFind(wchar_t ch) const {
  size_t pos = s_.rfind(ch);
  return pos == std::wstring::npos ? -1 : int(pos);
}

int CString::FindOneOf(const wchar_t* set) const {
  if (!set) return -1;
  size_t pos = s_.find_first_of(set);
  return pos == std::wstring::npos ? -1 : int(pos);
}

int CString::Replace(wchar_t from, wchar_t to) {
  if (from == to) return 0;
  int count = 0;
  for (wchar_t& c : s_) {
    if (c == from) {
      c = to;
      ++count;
    }
  }
  return count;
}

int CString::Replace(const wchar_t* from, const wchar_t* to) {
  if (!from || !*from) return 0;
  const std::wstring_view f(from);
  const std::wstring_view t(to ? to : L"");
  std::wstring result;
  int count = 0;
  size_t pos = 0;
  for (;;) {
    size_t hit = s_.find(f, pos);
    if (hit == std::wstring::npos) break;
    result.append(s_, pos, hit - pos);
    result += t;
    pos = hit + f.size();
    ++count;
  }
  if (count) {
    result.append(s_, pos, std::wstring::npos);
    s_ = std::move(result);
  }
  return count;
}

int CString::Remove(wchar_t ch) {
  size_t before = s_.size();
  std::erase(s_, ch);
  return int(before - s_.size());
}

int CString::Insert(int index, wchar_t ch) {
  if (index < 0) index = 0;
  if (index > GetLength()) index = GetLength();
  s_.insert(size_t(index), 1, ch);
  return GetLength();
}

int CString::Insert(int index, const wchar_t* s) {
  if (index < 0) index = 0;
  if (index > GetLength()) index = GetLength();
  if (s) s_.insert(size_t(index), s);
  return GetLength();
}

int CString::Delete(int index, int count) {
  const int length = GetLength();
  if (index < 0) index = 0;
  if (count < 0) count = 0;
  if (index < length && count > 0) s_.erase(size_t(index), size_t(count > length - index ? length - index : count));
  return GetLength();
}

CString& CString::Trim() { return TrimRight().TrimLeft(); }
CString& CString::Trim(wchar_t ch) { return TrimRight(ch).TrimLeft(ch); }
CString& CString::Trim(const wchar_t* set) { return TrimRight(set).TrimLeft(set); }

CString& CString::TrimLeft() {
  size_t n = 0;
  while (n < s_.size() && std::iswspace(wint_t(s_[n]))) ++n;
  s_.erase(0, n);
  return *this;
}

CString& CString::TrimLeft(wchar_t ch) {
  size_t n = 0;
  while (n < s_.size() && s_[n] == ch) ++n;
  s_.erase(0, n);
  return *this;
}

CString& CString::TrimLeft(const wchar_t* set) {
  size_t n = 0;
  while (n < s_.size() && inSet(set, s_[n])) ++n;
  s_.erase(0, n);
  return *this;
}

CString& CString::TrimRight() {
  size_t n = s_.size();
  while (n > 0 && std::iswspace(wint_t(s_[n - 1]))) --n;
  s_.resize(n);
  return *this;
}

CString& CString::TrimRight(wchar_t ch) {
  size_t n = s_.size();
  while (n > 0 && s_[n - 1] == ch) --n;
  s_.resize(n);
  return *this;
}

CString& CString::TrimRight(const wchar_t* set) {
  size_t n = s_.size();
  while (n > 0 && inSet(set, s_[n - 1])) --n;
  s_.resize(n);
  return *this;
}

CString& CString::MakeUpper() {
  for (wchar_t& c : s_) c = wchar_t(std::towupper(wint_t(c)));
  return *this;
}

CString& CString::MakeLower() {
  for (wchar_t& c : s_) c = wchar_t(std::towlower(wint_t(c)));
  return *this;
}

CString& CString::MakeReverse() {
  std::reverse(s_.begin(), s_.end());
  return *this;
}

CString CString::Tokenize(const wchar_t* separators, int& start) const {
  const int length = GetLength();
  if (start < 0 || start >= length) {
    start = -1;
    return CString();
  }
  if (!separators || !*separators) {
    // Without separators the rest is one token. The position moves to the end so that the next
    // call ends the loop (MFC leaves it where it was, which never ends a tokenizing loop).
    CString rest(s_.substr(size_t(start)));
    start = length;
    return rest;
  }
  int from = start;
  while (from < length && inSet(separators, s_[size_t(from)])) ++from;
  if (from >= length) {
    start = -1;
    return CString();
  }
  int until = from;
  while (until < length && !inSet(separators, s_[size_t(until)])) ++until;
  start = until + 1;
  return CString(s_.substr(size_t(from), size_t(until - from)));
}

void CString::Format(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(format, args);
  va_end(args);
}

void CString::FormatV(const wchar_t* format, va_list args) { s_ = twk::formatWide(format, args); }

void CString::AppendFormat(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormatV(format, args);
  va_end(args);
}

void CString::AppendFormatV(const wchar_t* format, va_list args) { s_ += twk::formatWide(format, args); }

wchar_t* CString::GetBuffer(int minLength) {
  if (minLength > GetLength()) s_.resize(size_t(minLength), L'\0');
  return s_.data();
}

wchar_t* CString::GetBufferSetLength(int length) {
  s_.resize(size_t(length > 0 ? length : 0), L'\0');
  return s_.data();
}

void CString::ReleaseBuffer(int newLength) {
  if (newLength < 0) newLength = int(std::wcslen(s_.c_str()));
  if (size_t(newLength) < s_.size()) s_.resize(size_t(newLength));
}

std::string CString::toUtf8() const { return twk::toUtf8(s_); }

CString CString::fromUtf8(std::string_view utf8) { return CString(twk::fromUtf8(utf8)); }

CString operator+(const CString& a, const CString& b) {
  CString r(a);
  r += b;
  return r;
}

CString operator+(const CString& a, const wchar_t* b) {
  CString r(a);
  r += b;
  return r;
}

CString operator+(const wchar_t* a, const CString& b) {
  CString r(a);
  r += b;
  return r;
}

CString operator+(const CString& a, wchar_t b) {
  CString r(a);
  r += b;
  return r;
}

CString operator+(wchar_t a, const CString& b) {
  CString r(a);
  r += b;
  return r;
}

void PrintTo(const CString& s, std::ostream* os) { *os << "L\"" << s.toUtf8() << '"'; }
