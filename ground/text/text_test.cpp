#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "CString.h"
#include "Clock.h"
#include "MsRand.h"
#include "TextCodec.h"

namespace {

using twk::formatNarrowArgs;
using twk::formatWideArgs;

// Each row holds what the format gave; the format text names the row when it fails.
struct WideCase {
  const wchar_t* format;
  std::wstring got;
  std::wstring expected;
};

TEST(Format, WideFormatFollowsMsvcConventions) {
  int written = 12345;
  const WideCase cases[] = {
      {L"%s|%S|%hs|%ls", formatWideArgs(L"%s|%S|%hs|%ls", L"wide", "narrow", "hs", L"ls"), L"wide|narrow|hs|ls"},
      {L"%S utf-8", formatWideArgs(L"%S", "Gr\xc3\xbc\xc3\x9f \xe2\x82\xac"), L"Gr\u00fc\u00df \u20ac"},
      {L"%I64d min", formatWideArgs(L"%I64d", INT64_MIN), L"-9223372036854775808"},
      {L"%I64d large", formatWideArgs(L"%I64d|%I64d", int64_t(1234567890123456789LL), int64_t(-5)), L"1234567890123456789|-5"},
      {L"%I64u", formatWideArgs(L"%I64u", UINT64_MAX), L"18446744073709551615"},
      {L"%I64x %I64X", formatWideArgs(L"%I64x %I64X", uint64_t(0xDEADBEEFCAFEULL), uint64_t(0xABCULL << 40)), L"deadbeefcafe ABC0000000000"},
      {L"%lld %llu", formatWideArgs(L"%lld %llu", LLONG_MIN, ULLONG_MAX), L"-9223372036854775808 18446744073709551615"},
      {L"%I32d %Id %zu", formatWideArgs(L"%I32d %Id %zu", -5, ptrdiff_t(-6000000000LL), size_t(6000000000ULL)), L"-5 -6000000000 6000000000"},
      {L"%ld", formatWideArgs(L"%ld|%lu", 5000000000L, 4000000000UL), L"5000000000|4000000000"},
      {L"%hd %hu", formatWideArgs(L"%hd %hu", 70000, 70000), L"4464 4464"},
      {L"%Lf %le %lf %lg", formatWideArgs(L"%Lf %le %lf %lg", 3.5, 12345.678, 0.25, 1e-5), L"3.500000 1.234568e+04 0.250000 1e-05"},
      {L"%e %E %g %G", formatWideArgs(L"%e %E %g %G", 0.000123, -2e300, 100000.0, 1e20), L"1.230000e-04 -2.000000E+300 100000 1E+20"},
      {L"%u", formatWideArgs(L"%u|%u", 4294967295u, -1), L"4294967295|4294967295"},
      {L"%x %X %o %#x", formatWideArgs(L"%x %X %o %#x", 255, 255, 8, 255), L"ff FF 10 0xff"},
      {L"%d %i %.2d", formatWideArgs(L"%d %i %.2d %.2d", -17, 42, 5, 123), L"-17 42 05 123"},
      {L"flags", formatWideArgs(L"[%+d][% d][%05d][%-5d][%05.1f]", 7, 7, -42, 3, 2.5), L"[+7][ 7][-0042][3    ][002.5]"},
      {L"%8.3lf %5.1lf", formatWideArgs(L"%8.3lf|%5.1lf", 3.14159, 99.44), L"   3.142| 99.4"},
      {L"remaining", formatWideArgs(L"  %u:%.2d min remaining", 3u, 7), L"  3:07 min remaining"},
      {L"string width", formatWideArgs(L"[%-6s][%6s][%.2s][%6.1S]", L"ab", L"ab", L"abc", "\xc3\xa9xyz"), L"[ab    ][    ab][ab][     \u00e9]"},
      {L"%*d", formatWideArgs(L"%*d|%-*d|%.*f|%*d", 5, 42, 4, 7, 2, 3.14159, -4, 1), L"   42|7   |3.14|1   "},
      {L"%c %C %lc %hc", formatWideArgs(L"%c%C%lc%hc", L'\u20ac', 'x', L'\u00e9', 'y'), L"\u20acx\u00e9y"},
      {L"%C cp1252", formatWideArgs(L"%C", 0x80), L"\u20ac"},
      {L"%%", formatWideArgs(L"100%% %d%%", 5), L"100% 5%"},
      {L"null strings", formatWideArgs(L"%s|%S|%5s", static_cast<const wchar_t*>(nullptr), static_cast<const char*>(nullptr), static_cast<const wchar_t*>(nullptr)), L"(null)|(null)|(null)"},
      {L"%p", formatWideArgs(L"%p", reinterpret_cast<void*>(uintptr_t(0x1234abcd))), L"000000001234ABCD"},
      {L"%n", formatWideArgs(L"%d%n|%d", 5, &written, 6), L"5|6"},
      {L"unknown conversion", formatWideArgs(L"%y %d", 3), L"%y 3"},
      {L"trailing %", formatWideArgs(L"50%"), L"50%"},
  };
  for (const WideCase& c : cases) {
    SCOPED_TRACE(twk::toUtf8(c.format));
    EXPECT_EQ(c.got, c.expected);
  }
  EXPECT_EQ(written, 12345);  // %n never writes
}

struct NarrowCase {
  const char* format;
  std::string got;
  std::string expected;
};

TEST(Format, NarrowFormatSwapsStringWidths) {
  const NarrowCase cases[] = {
      {"%s|%S|%ls|%hs", formatNarrowArgs("%s|%S|%ls|%hs", "narrow", L"wide", L"ls", "hs"), "narrow|wide|ls|hs"},
      {"%S euro", formatNarrowArgs("%S", L"\u20ac \U0001F600"), "\xe2\x82\xac \xf0\x9f\x98\x80"},
      {"%I64d %I64u", formatNarrowArgs("%I64d %I64u", INT64_MIN, UINT64_MAX), "-9223372036854775808 18446744073709551615"},
      {"%Lf %le", formatNarrowArgs("%Lf %le", 1.5, 1.5), "1.500000 1.500000e+00"},
      {"width counts characters", formatNarrowArgs("[%-4s][%4S][%.1S]", "\xc3\xa9", L"\u20ac", L"\u20acuro"),
       "[\xc3\xa9   ][   \xe2\x82\xac][\xe2\x82\xac]"},
      {"%c %C", formatNarrowArgs("%c%C%lc", 'a', L'\u20ac', L'\u00e9'), "a\xe2\x82\xac\xc3\xa9"},
      {"null", formatNarrowArgs("%s %S", static_cast<const char*>(nullptr), static_cast<const wchar_t*>(nullptr)), "(null) (null)"},
      {"literal utf-8 kept", formatNarrowArgs("\xc3\xa9=%d", 1), "\xc3\xa9=1"},
  };
  for (const NarrowCase& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(c.got, c.expected);
  }
}

TEST(Format, OutputHasNoLengthLimit) {
  const std::wstring longText(100000, L'x');
  EXPECT_EQ(formatWideArgs(L"<%s>", longText.c_str()), L"<" + longText + L">");
  EXPECT_EQ(formatWideArgs(L"%5000d", 1).size(), 5000u);
  EXPECT_EQ(formatNarrowArgs("%.400f", 1.0).size(), 402u);

  CString s;
  s.Format(L"%d-%s", 7, L"a");
  s.AppendFormat(L"+%S", "b");
  EXPECT_EQ(s, L"7-a+b");
}

TEST(CString, SubstringsClampLikeMfc) {
  const CString s = L"Hello";
  const struct {
    const char* what;
    CString got;
    const wchar_t* expected;
  } cases[] = {
      {"Mid(1,3)", s.Mid(1, 3), L"ell"},       {"Mid(-2,3)", s.Mid(-2, 3), L"Hel"},  {"Mid(3,10)", s.Mid(3, 10), L"lo"},
      {"Mid(5)", s.Mid(5), L""},               {"Mid(7)", s.Mid(7), L""},            {"Mid(2,-1)", s.Mid(2, -1), L""},
      {"Left(-1)", s.Left(-1), L""},           {"Left(10)", s.Left(10), L"Hello"},   {"Right(2)", s.Right(2), L"lo"},
      {"Right(10)", s.Right(10), L"Hello"},    {"Right(-3)", s.Right(-3), L""},
      {"SpanIncluding", CString(L"aabxa").SpanIncluding(L"ab"), L"aab"},
      {"SpanExcluding", CString(L"key=value").SpanExcluding(L"=:"), L"key"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.got, c.expected);
  }
}

TEST(CString, SearchingReturnsMinusOneWhenAbsent) {
  const CString s = L"abcabc";
  const struct {
    const char* what;
    int got, expected;
  } cases[] = {
      {"Find c", s.Find(L'c'), 2},          {"Find c from 3", s.Find(L'c', 3), 5},  {"Find c from 6", s.Find(L'c', 6), -1},
      {"Find z", s.Find(L'z'), -1},         {"Find c from -1", s.Find(L'c', -1), -1},
      {"Find bc from 2", s.Find(L"bc", 2), 4}, {"Find cb", s.Find(L"cb"), -1}, {"Find past end", s.Find(L"a", 7), -1},
      {"ReverseFind a", s.ReverseFind(L'a'), 3}, {"ReverseFind z", s.ReverseFind(L'z'), -1},
      {"FindOneOf", s.FindOneOf(L"xc"), 2},  {"FindOneOf none", s.FindOneOf(L"xyz"), -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.got, c.expected);
  }
}

TEST(CString, EditingReturnsCountsAndLengths) {
  CString s = L"a--b--c";
  EXPECT_EQ(s.Replace(L"--", L"+"), 2);
  EXPECT_EQ(s, L"a+b+c");
  EXPECT_EQ(s.Replace(L"", L"x"), 0);
  EXPECT_EQ(s.Replace(L'+', L'+'), 0);
  EXPECT_EQ(s.Replace(L'+', L'/'), 2);
  EXPECT_EQ(s, L"a/b/c");

  CString overlap = L"aaa";
  EXPECT_EQ(overlap.Replace(L"aa", L"b"), 1);  // left to right, without overlaps
  EXPECT_EQ(overlap, L"ba");
  CString removeAll = L"x.y.z";
  EXPECT_EQ(removeAll.Replace(L".", nullptr), 2);
  EXPECT_EQ(removeAll, L"xyz");

  CString banana = L"banana";
  EXPECT_EQ(banana.Remove(L'a'), 3);
  EXPECT_EQ(banana, L"bnn");

  CString ins = L"abc";
  EXPECT_EQ(ins.Insert(10, L"de"), 5);
  EXPECT_EQ(ins.Insert(-1, L'x'), 6);
  EXPECT_EQ(ins, L"xabcde");

  CString del = L"abcdef";
  EXPECT_EQ(del.Delete(4, 10), 4);
  EXPECT_EQ(del, L"abcd");
  EXPECT_EQ(del.Delete(10), 4);
  EXPECT_EQ(del.Delete(-1, 2), 2);
  EXPECT_EQ(del, L"cd");

  EXPECT_EQ(CString(L"  \t x y \n").Trim(), L"x y");
  EXPECT_EQ(CString(L"xxaxx").Trim(L'x'), L"a");
  EXPECT_EQ(CString(L"=-a-=").Trim(L"-="), L"a");
  EXPECT_EQ(CString(L"  a  ").TrimLeft(), L"a  ");
  EXPECT_EQ(CString(L"  a  ").TrimRight(), L"  a");
  EXPECT_EQ(CString(L"   ").Trim(), L"");
  EXPECT_EQ(CString(L"aBc").MakeUpper(), L"ABC");
  EXPECT_EQ(CString(L"abc").MakeReverse(), L"cba");
}

std::vector<CString> tokens(const CString& s, const wchar_t* separators) {
  std::vector<CString> out;
  int pos = 0;
  CString token = s.Tokenize(separators, pos);
  while (pos != -1) {
    out.push_back(token);
    token = s.Tokenize(separators, pos);
  }
  return out;
}

TEST(CString, TokenizeSkipsSeparatorRunsAndEnds) {
  EXPECT_EQ(tokens(L",,a,,b c,", L","), (std::vector<CString>{L"a", L"b c"}));
  EXPECT_EQ(tokens(L"a b\tc", L" \t"), (std::vector<CString>{L"a", L"b", L"c"}));
  EXPECT_EQ(tokens(L"", L","), std::vector<CString>{});
  EXPECT_EQ(tokens(L",,,", L","), std::vector<CString>{});
  // Without separators the whole rest is one token, and the loop still ends.
  EXPECT_EQ(tokens(L"a,b", L""), (std::vector<CString>{L"a,b"}));
}

TEST(CString, ComparisonAndConversions) {
  EXPECT_EQ(CString(L"ABC").CompareNoCase(L"abc"), 0);
  EXPECT_LT(CString(L"abc").CompareNoCase(L"ABD"), 0);
  EXPECT_GT(CString(L"b").CompareNoCase(L"A"), 0);
  EXPECT_LT(CString(L"").CompareNoCase(L"a"), 0);
  EXPECT_GT(CString(L"a").Compare(L"B"), 0);  // ordinal: 'a' sorts after 'B'
  EXPECT_EQ(CString(L"a").Compare(L"a"), 0);

  EXPECT_EQ(CString("Gr\xc3\xbc\xc3\x9f"), L"Gr\u00fc\u00df");
  EXPECT_EQ(CString(static_cast<const char*>(nullptr)), L"");
  EXPECT_EQ(CString(L"\u20ac\U0001F600").toUtf8(), "\xe2\x82\xac\xf0\x9f\x98\x80");

  CString b = L"old";
  wchar_t* p = b.GetBuffer(10);
  p[0] = L'h';
  p[1] = L'i';
  p[2] = 0;
  b.ReleaseBuffer();
  EXPECT_EQ(b, L"hi");
  p = b.GetBufferSetLength(3);
  p[2] = L'!';
  b.ReleaseBuffer(3);
  EXPECT_EQ(b, L"hi!");
}

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += char(b);
  return s;
}

TEST(TextCodec, Utf16LeRoundTripsWithSurrogatesAndBom) {
  const std::wstring text = L"A\u20ac\U0001F600";
  const std::string encoded = bytes({0x41, 0x00, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE});
  EXPECT_EQ(twk::toUtf16LE(text), encoded);
  EXPECT_EQ(twk::fromUtf16LE(encoded.data(), encoded.size()), text);

  const std::string withBom = bytes({0xFF, 0xFE}) + encoded;
  EXPECT_EQ(twk::fromUtf16LE(withBom.data(), withBom.size(), true), text);
  EXPECT_EQ(twk::fromUtf16LE(withBom.data(), withBom.size(), false), L"\uFEFF" + text);

  // An odd last byte is not a code unit; a lone surrogate survives a round trip.
  EXPECT_EQ(twk::fromUtf16LE(encoded.data(), 3), L"A");
  const std::string lone = bytes({0x3D, 0xD8, 0x41, 0x00});
  EXPECT_EQ(twk::toUtf16LE(twk::fromUtf16LE(lone.data(), lone.size())), lone);
  EXPECT_EQ(twk::fromUtf16LE(nullptr, 4), L"");
}

TEST(TextCodec, Utf8InvalidBytesBecomeReplacementCharacters) {
  const struct {
    const char* what;
    std::string in;
    std::wstring expected;
  } cases[] = {
      {"valid", "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", L"a\u00e9\u20ac\U0001F600"},
      {"lone continuation", "\x80x", L"\uFFFDx"},
      {"invalid lead", "\xff", L"\uFFFD"},
      {"truncated", "a\xe2\x82", L"a\uFFFD"},
      {"truncated before ascii", "\xe2\x82x", L"\uFFFDx"},
      {"overlong", "\xc0\xaf", L"\uFFFD\uFFFD"},
      {"overlong 3-byte", "\xe0\x80\xaf", L"\uFFFD\uFFFD\uFFFD"},
      {"surrogate", "\xed\xa0\x80", L"\uFFFD\uFFFD\uFFFD"},
      {"past U+10FFFF", "\xf4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(twk::fromUtf8(c.in), c.expected);
  }
  EXPECT_EQ(twk::toUtf8(std::wstring(1, wchar_t(0xD800))), "\xef\xbf\xbd");
  EXPECT_EQ(twk::toUtf8(std::wstring(1, wchar_t(0x110000))), "\xef\xbf\xbd");
}

TEST(TextCodec, CodePage1252) {
  EXPECT_EQ(twk::toCodePage1252(L"\u20ac"), "\x80");
  EXPECT_EQ(twk::fromCodePage1252("\x80"), L"\u20ac");
  EXPECT_EQ(twk::toCodePage1252(L"caf\u00e9 \u2019\u0178"), "caf\xe9 \x92\x9f");
  EXPECT_EQ(twk::toCodePage1252(L"\u03a9\U0001F600x"), "??x");
  std::string all;
  for (int b = 0; b < 256; ++b) all += char(b);
  EXPECT_EQ(twk::toCodePage1252(twk::fromCodePage1252(all)), all);
}

TEST(MsRand, MatchesTheMsvcSequence) {
  std::vector<int> fresh;
  // A new thread starts from seed 1, whatever other threads did.
  twk::msSrand(99);
  std::thread([&fresh] {
    for (int i = 0; i < 5; ++i) fresh.push_back(twk::msRand());
  }).join();
  EXPECT_EQ(fresh, (std::vector<int>{41, 18467, 6334, 26500, 19169}));

  twk::msSrand(42);
  EXPECT_EQ(twk::msRand(), 175);
  twk::msSrand(1);
  EXPECT_EQ(twk::msRand(), 41);
  int lowest = twk::kMsRandMax, highest = 0;
  for (int i = 0; i < 100000; ++i) {
    int v = twk::msRand();
    lowest = std::min(lowest, v);
    highest = std::max(highest, v);
  }
  EXPECT_GE(lowest, 0);
  EXPECT_LE(highest, twk::kMsRandMax);
}

TEST(Clock, NeverGoesBackwards) {
  const long ms1 = twk::clockMs();
  const int64_t ns1 = twk::monotonicNanoseconds();
  const double s1 = twk::secondsSinceStart();
  const long ms2 = twk::clockMs();
  const int64_t ns2 = twk::monotonicNanoseconds();
  const double s2 = twk::secondsSinceStart();
  EXPECT_GE(ms1, 0);
  EXPECT_LE(ms1, ms2);
  EXPECT_LE(ns1, ns2);
  EXPECT_LE(s1, s2);
  EXPECT_LE(double(ms1) / TWK_CLOCKS_PER_SEC, s1);
}

}  // namespace
