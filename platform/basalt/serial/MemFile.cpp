#include "serial/MemFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <new>
#include <string>

#include "TextCodec.h"
#include "TwkUi.h"

namespace {

void report(bool show, const wchar_t* function, const CString& text) {
  if (show) twk::showNamedError(function, text);
}

CString systemReason() { return CString(std::strerror(errno)); }

}  // namespace

MFILE* PR_MemFileOpen(int64_t initialBytes) {
  if (initialBytes < 0) return nullptr;
  auto* mf = new (std::nothrow) MFILE;
  if (!mf) return nullptr;
  try {
    mf->bytes.reserve(size_t(initialBytes));
  } catch (const std::exception&) {
    delete mf;
    return nullptr;
  }
  return mf;
}

bool PR_MemFileWrite(MFILE* mf, const void* data, int64_t count) {
  if (!mf || count < 0 || (count > 0 && !data)) return false;
  if (count == 0) return true;
  try {
    const auto* p = static_cast<const uint8_t*>(data);
    mf->bytes.insert(mf->bytes.end(), p, p + count);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

bool PR_MemFileWriteString(MFILE* mf, const wchar_t* format, ...) {
  if (!mf || !format) return false;
  va_list args;
  va_start(args, format);
  std::wstring text = twk::formatWide(format, args);
  va_end(args);
  std::string utf16 = twk::toUtf16LE(text);
  return PR_MemFileWrite(mf, utf16.data(), int64_t(utf16.size()));
}

int64_t PR_MemFileSize(const MFILE* mf) { return mf ? int64_t(mf->bytes.size()) : 0; }

bool twk::saveMemFile(const MFILE* mf, const wchar_t* path, int64_t start, const wchar_t* shownName,
                      CString* failure) {
  auto fail = [&](const CString& text) {
    if (failure) *failure = text;
    return false;
  };
  if (!mf || !path || !*path) return fail(L"No memory file or file name");
  const CString shown = shownName ? shownName : path;
  if (start < 0 || start > int64_t(mf->bytes.size())) return fail(L"Invalid start offset for " + shown);
  const std::string target = twk::pathToNative(path);
  const std::string temp = target + ".~save" + std::to_string(::getpid());
  FILE* fp = std::fopen(temp.c_str(), "wb");
  if (!fp) return fail(L"Unable to create file " + shown + L" : " + systemReason());
  const size_t count = mf->bytes.size() - size_t(start);
  bool ok = count == 0 || std::fwrite(mf->bytes.data() + start, 1, count, fp) == count;
  ok = (std::fflush(fp) == 0) && ok;
  ok = (::fsync(::fileno(fp)) == 0) && ok;
  ok = (std::fclose(fp) == 0) && ok;
  if (!ok) {
    CString reason = systemReason();
    std::remove(temp.c_str());
    return fail(L"Unable to write file " + shown + L" : " + reason);
  }
  if (std::rename(temp.c_str(), target.c_str()) != 0) {
    CString reason = systemReason();
    std::remove(temp.c_str());
    return fail(L"Unable to replace file " + shown + L" : " + reason);
  }
  return true;
}

bool PR_MemFileSaveToFile(const MFILE* mf, const wchar_t* path, int64_t start, bool show) {
  CString failure;
  if (twk::saveMemFile(mf, path, start, path, &failure)) return true;
  report(show, L"PR_MemFileSaveToFile", failure);
  return false;
}

bool PR_MemFileCompareToFile(const MFILE* mf, const wchar_t* path, int64_t start, bool* equal, bool show) {
  const wchar_t* fn = L"PR_MemFileCompareToFile";
  if (equal) *equal = false;
  if (!mf || !path || !equal || start < 0 || start > int64_t(mf->bytes.size())) {
    report(show, fn, L"Invalid arguments");
    return false;
  }
  FILE* fp = std::fopen(twk::pathToNative(path).c_str(), "rb");
  if (!fp) {
    report(show, fn, CString(L"Unable to open file ") + path + L" : " + systemReason());
    return false;
  }
  const uint8_t* expected = mf->bytes.data() + start;
  const size_t total = mf->bytes.size() - size_t(start);
  std::vector<uint8_t> block(1 << 20);
  size_t done = 0;
  bool same = true;
  for (;;) {
    size_t got = std::fread(block.data(), 1, block.size(), fp);
    if (got == 0) break;
    if (done + got > total || std::memcmp(block.data(), expected + done, got) != 0) {
      same = false;
      break;
    }
    done += got;
  }
  const bool readError = std::ferror(fp) != 0;
  std::fclose(fp);
  if (readError) {
    report(show, fn, CString(L"Unable to read file ") + path);
    return false;
  }
  *equal = same && done == total;
  return true;
}

void PR_MemFileClose(MFILE** mf) {
  if (!mf) return;
  delete *mf;
  *mf = nullptr;
}

bool PR_fgetts(FILE* fp, CString* line, int64_t maxChars) {
  if (!fp || !line) return false;
  std::u16string units;
  bool any = false;
  for (;;) {
    int lo = std::fgetc(fp);
    if (lo == EOF) break;
    int hi = std::fgetc(fp);
    if (hi == EOF) return false;  // half a character: the stream is damaged
    any = true;
    char16_t unit = char16_t(lo | (hi << 8));
    if (unit == u'\n') break;
    if (int64_t(units.size()) >= maxChars) return false;
    units.push_back(unit);
  }
  if (!any) return false;
  *line = CString(twk::fromUtf16LE(units.data(), units.size() * 2, false));
  return true;
}
