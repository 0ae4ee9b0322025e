#include "TextCodec.h"

namespace twk {

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

bool isSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Windows-1252 characters of the bytes 0x80..0x9F. The five bytes the code page leaves undefined
// map to the C1 control of the same value, as the system conversion does, so they round-trip.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(std::string& out, uint32_t c) {
  if (c > 0x10FFFF || isSurrogate(c)) c = kReplacement;
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string toUtf16LE(std::wstring_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  auto unit = [&out](uint32_t u) {
    out += char(u & 0xFF);
    out += char((u >> 8) & 0xFF);
  };
  for (wchar_t wc : text) {
    uint32_t c = uint32_t(wc);
    if (c > 0x10FFFF) c = kReplacement;
    if (c >= 0x10000) {
      c -= 0x10000;
      unit(0xD800 | (c >> 10));
      unit(0xDC00 | (c & 0x3FF));
    } else {
      unit(c);  // lone surrogates held in the text are written back as they came
    }
  }
  return out;
}

std::wstring fromUtf16LE(const void* bytes, size_t byteCount, bool skipBom) {
  std::wstring out;
  if (!bytes) return out;
  const auto* b = static_cast<const unsigned char*>(bytes);
  const size_t units = byteCount / 2;  // an odd last byte is not a code unit
  out.reserve(units);
  size_t i = 0;
  if (skipBom && units > 0 && b[0] == 0xFF && b[1] == 0xFE) i = 1;
  for (; i < units; ++i) {
    uint32_t u = uint32_t(b[2 * i]) | (uint32_t(b[2 * i + 1]) << 8);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      uint32_t low = uint32_t(b[2 * i + 2]) | (uint32_t(b[2 * i + 3]) << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        out += wchar_t(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    out += wchar_t(u);  // a lone surrogate is kept, so that the text writes back unchanged
  }
  return out;
}

std::string toUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) appendUtf8(out, uint32_t(wc));
  return out;
}

std::wstring fromUtf8(std::string_view text) {
  // Well-formed sequences only (no overlongs, surrogates or values past U+10FFFF); each maximal
  // ill-formed part becomes one U+FFFD and decoding resumes at the first byte that did not fit.
  std::wstring out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      out += wchar_t(c);
      ++i;
      continue;
    }
    int need = 0;
    uint32_t cp = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      need = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      need = 2;
      cp = c & 0x0F;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      need = 3;
      cp = c & 0x07;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      out += kReplacement;
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool ok = true;
    for (int k = 0; k < need; ++k, ++j) {
      const unsigned char lowest = k == 0 ? lo : 0x80;
      const unsigned char highest = k == 0 ? hi : 0xBF;
      if (j >= n || s[j] < lowest || s[j] > highest) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (s[j] & 0x3F);
    }
    out += ok ? wchar_t(cp) : kReplacement;
    i = j;
  }
  return out;
}

std::string toCodePage1252(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) {
    uint32_t c = uint32_t(wc);
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out += char(c);
      continue;
    }
    char byte = '?';
    for (int k = 0; k < 32; ++k) {
      if (kCp1252High[k] == c) {
        byte = char(0x80 + k);
        break;
      }
    }
    out += byte;
  }
  return out;
}

std::wstring fromCodePage1252(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    out += (c >= 0x80 && c <= 0x9F) ? wchar_t(kCp1252High[c - 0x80]) : wchar_t(c);
  }
  return out;
}

}  // namespace twk
