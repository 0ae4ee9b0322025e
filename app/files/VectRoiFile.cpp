// Vector-ROI files: writer, reader and the UTF-16LE key readers.

#include "VectRoiFile.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <sys/stat.h>

#include "HighObj.h"
#include "TextCodec.h"
#include "TwkMem.h"

namespace {

// Appends a wide text as UTF-16LE code units (surrogate pairs above the basic plane).
void appendUtf16(std::string* out, const std::wstring& text) {
  auto unit = [out](uint32_t u) {
    out->push_back(char(u & 0xFF));
    out->push_back(char((u >> 8) & 0xFF));
  };
  for (wchar_t wc : text) {
    uint32_t c = uint32_t(wc);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      unit(0xD800 + (c >> 10));
      unit(0xDC00 + (c & 0x3FF));
    } else {
      unit(c);
    }
  }
}

bool writeLine(std::FILE* fp, const std::wstring& line) {
  std::string bytes;
  appendUtf16(&bytes, line);
  appendUtf16(&bytes, L"\n");
  return std::fwrite(bytes.data(), 1, bytes.size(), fp) == bytes.size();
}

std::wstring widen(const char* ascii) {
  std::wstring w;
  for (const char* p = ascii; *p; ++p) w.push_back(wchar_t(static_cast<unsigned char>(*p)));
  return w;
}

std::wstring formatDouble(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%e", v);
  return widen(buf);
}

// Reads one line (without its line feed) into *line; false at the end of the file with nothing read.
bool readLine(std::FILE* fp, std::wstring* line) {
  line->clear();
  bool any = false;
  for (;;) {
    const int lo = std::fgetc(fp);
    if (lo == EOF) return any;
    const int hi = std::fgetc(fp);
    if (hi == EOF) return any;  // a lone last byte is no character
    any = true;
    uint32_t u = uint32_t(lo) | (uint32_t(hi) << 8);
    if (u == L'\n') return true;
    if (u >= 0xD800 && u < 0xDC00) {
      const int lo2 = std::fgetc(fp);
      const int hi2 = lo2 == EOF ? EOF : std::fgetc(fp);
      if (hi2 == EOF) return true;
      const uint32_t v = uint32_t(lo2) | (uint32_t(hi2) << 8);
      if (v >= 0xDC00 && v < 0xE000) u = 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00);
      else u = 0xFFFD;
    }
    line->push_back(wchar_t(u));
  }
}

// The value of the next line when its key is key (the line is then consumed), else null.
const std::wstring* peekValue(PR_USTREAM* stream, const wchar_t* key, std::wstring* value) {
  if (!stream || !stream->file || !key) return nullptr;
  if (!stream->havePending) {
    if (stream->eof || !readLine(stream->file, &stream->pending)) {
      stream->eof = true;
      return nullptr;
    }
    stream->havePending = true;
  }
  const size_t keyLength = std::wcslen(key);
  const std::wstring& line = stream->pending;
  if (line.size() <= keyLength || line.compare(0, keyLength, key) != 0 || line[keyLength] != L'=') return nullptr;
  *value = line.substr(keyLength + 1);
  return value;
}

void consume(PR_USTREAM* stream) {
  stream->havePending = false;
  stream->pending.clear();
}

}  // namespace

bool PR_Uread_str(PR_USTREAM* stream, const wchar_t* key, std::wstring* value) {
  std::wstring text;
  if (!peekValue(stream, key, &text)) return false;
  consume(stream);
  if (value) *value = text;
  return true;
}

bool PR_Uread_uint(PR_USTREAM* stream, const wchar_t* key, uint32_t* value) {
  std::wstring text;
  if (!peekValue(stream, key, &text)) return false;
  consume(stream);  // the key's line is taken even when its value does not parse
  if (text.empty()) return false;
  for (wchar_t c : text)
    if (c < L'0' || c > L'9') return false;
  errno = 0;
  wchar_t* end = nullptr;
  const unsigned long long v = std::wcstoull(text.c_str(), &end, 10);
  if (errno != 0 || v > 0xFFFFFFFFull) return false;
  if (value) *value = uint32_t(v);
  return true;
}

bool PR_Uread_int(PR_USTREAM* stream, const wchar_t* key, int* value) {
  std::wstring text;
  if (!peekValue(stream, key, &text)) return false;
  consume(stream);
  if (text.empty()) return false;
  errno = 0;
  wchar_t* end = nullptr;
  const long long v = std::wcstoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != L'\0' || v < INT32_MIN || v > INT32_MAX) return false;
  if (value) *value = int(v);
  return true;
}

bool PR_Uread_double(PR_USTREAM* stream, const wchar_t* key, double* value) {
  std::wstring text;
  if (!peekValue(stream, key, &text)) return false;
  consume(stream);
  if (text.empty()) return false;
  wchar_t* end = nullptr;
  const double v = std::wcstod(text.c_str(), &end);
  if (end == text.c_str() || *end != L'\0') return false;
  if (value) *value = v;
  return true;
}

int TW_WriteVectRoiFile(HIGHOBJ* const* records, const uint32_t* colours, uint32_t n, const wchar_t* path) {
  if (!path || (n > 0 && (!records || !colours))) return 0;
  std::FILE* fp = std::fopen(twk::pathToNative(path).c_str(), "w+b");
  if (!fp) return 0;
  bool ok = writeLine(fp, L"Number of ROIs=" + std::to_wstring(n));
  for (uint32_t i = 0; ok && i < n; ++i) {
    const HIGHOBJ* r = records[i];
    if (!r) {
      ok = false;
      break;
    }
    char label[sizeof(r->label)];
    std::memcpy(label, r->label, sizeof label);
    label[sizeof label - 1] = '\0';
    wchar_t wide[sizeof(r->label)];
    CstrToTstr(label, wide, sizeof(r->label));
    ok = writeLine(fp, std::wstring(L"Roi Label=") + wide) &&
         writeLine(fp, L"color=" + std::to_wstring(colours[i])) &&
         writeLine(fp, L"t0=" + std::to_wstring(uint32_t(r->t0))) &&
         writeLine(fp, L"t1=" + std::to_wstring(uint32_t(r->t1))) && writeLine(fp, L"x0=" + formatDouble(r->x0)) &&
         writeLine(fp, L"x1=" + formatDouble(r->x1)) && writeLine(fp, L"y0=" + formatDouble(r->y0)) &&
         writeLine(fp, L"y1=" + formatDouble(r->y1)) && writeLine(fp, L"z0=" + formatDouble(r->z0)) &&
         writeLine(fp, L"z1=" + formatDouble(r->z1));
  }
  if (std::fclose(fp) != 0) ok = false;
  return ok ? 1 : 0;
}

HIGHOBJ* TW_ReadVectRoiFile(CDrawSet* owner, const wchar_t* path, uint32_t** colours, uint32_t* count) {
  if (!path || !colours || !count) return nullptr;
  const std::string native = twk::pathToNative(path);
  struct stat st {};
  if (::stat(native.c_str(), &st) != 0) return nullptr;
  std::FILE* fp = std::fopen(native.c_str(), "rb");
  if (!fp) return nullptr;
  PR_USTREAM stream;
  stream.file = fp;
  uint32_t n = 0;
  if (!PR_Uread_uint(&stream, L"Number of ROIs", &n)) {
    std::fclose(fp);
    return nullptr;
  }
  // Every ROI needs at least its "Roi Label=" line and a line feed: 11 characters of 2 bytes.
  const uint64_t smallestBlock = 11 * 2;
  if (uint64_t(n) * smallestBlock > uint64_t(st.st_size)) {
    std::fclose(fp);
    return nullptr;
  }
  auto* records = static_cast<HIGHOBJ*>(pf_calloc(int64_t(n > 0 ? n : 1) * int64_t(sizeof(HIGHOBJ))));
  auto* cols = static_cast<uint32_t*>(pf_calloc(int64_t(n > 0 ? n : 1) * int64_t(sizeof(uint32_t))));
  bool ok = records && cols;
  for (uint32_t i = 0; ok && i < n; ++i) {
    HIGHOBJ* r = &records[i];
    std::wstring label;
    if (!PR_Uread_str(&stream, L"Roi Label", &label)) {
      ok = false;
      break;
    }
    std::memset(r->label, 0, sizeof r->label);
    // One narrow character per wide character: cut to the field's 127 characters before narrowing.
    if (label.size() > sizeof r->label - 1) label.resize(sizeof r->label - 1);
    TstrToCstr(label.c_str(), r->label, sizeof r->label);
    uint32_t colour = TW_VROI_DEFAULT_COLOR;
    if (!PR_Uread_uint(&stream, L"color", &colour)) colour = TW_VROI_DEFAULT_COLOR;
    cols[i] = colour;
    r->owner = owner;
    r->kind = HIGHOBJ_VECTOR_ROI;
    r->shape = HIGHOBJ_SHAPE_BOX;
    uint32_t t = 0;
    r->t0 = PR_Uread_uint(&stream, L"t0", &t) ? int32_t(t) : 0;
    t = 0;
    r->t1 = PR_Uread_uint(&stream, L"t1", &t) ? int32_t(t) : 0;
    double* bounds[6] = {&r->x0, &r->x1, &r->y0, &r->y1, &r->z0, &r->z1};
    const wchar_t* keys[6] = {L"x0", L"x1", L"y0", L"y1", L"z0", L"z1"};
    for (int k = 0; k < 6; ++k) {
      double v = 0;
      *bounds[k] = PR_Uread_double(&stream, keys[k], &v) && std::isfinite(v) ? v : 0.0;
    }
  }
  std::fclose(fp);
  if (!ok) {
    pf_free(&records);
    pf_free(&cols);
    return nullptr;
  }
  *colours = cols;
  *count = n;
  return records;
}
