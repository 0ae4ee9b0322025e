// Gzip and zlib decompression into memory and into files.
//
// Both functions read every member of a multi-member gzip file (as written by pigz, bgzip or by
// concatenating .gz files), as gzip -d does.

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "TextCodec.h"
#include "TwkMem.h"
#include "TwkUi.h"

namespace {

constexpr int64_t kInitialOutputCap = 1000000;
constexpr int64_t kGrowthCap = 1000000;
constexpr uInt kMaxInflateInput = std::numeric_limits<uInt>::max();
constexpr unsigned kGzReadBuffer = 10000000;
constexpr int64_t kReadBlock = 1000000;

// Window bits 15 plus 32: the header, gzip or zlib, is detected automatically.
constexpr int kAutoHeaderWindowBits = 15 + 32;

// Hands inflate its next piece of input (at most 4 GB - 1 bytes at a time).
void feedInput(z_stream& stream, const uint8_t*& next, int64_t& left) {
  if (stream.avail_in > 0 || left <= 0) return;
  const uInt piece = left > int64_t(kMaxInflateInput) ? kMaxInflateInput : uInt(left);
  stream.next_in = const_cast<Bytef*>(next);
  stream.avail_in = piece;
  next += piece;
  left -= piece;
}

// True when the unread input starts another gzip member.
bool gzipMemberFollows(const z_stream& stream, const uint8_t* next, int64_t left) {
  uint8_t magic[2];
  int64_t have = 0;
  for (uInt k = 0; k < stream.avail_in && have < 2; ++k) magic[have++] = stream.next_in[k];
  for (int64_t k = 0; k < left && have < 2; ++k) magic[have++] = next[k];
  return have == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
}

}  // namespace

uint8_t* PR_gunzip_to_buf(const uint8_t* data, int64_t length, int64_t* outLength) {
  if (outLength) *outLength = 0;
  if (!data || length <= 0) return nullptr;

  int64_t capacity = length < kInitialOutputCap / 4 ? 4 * length : kInitialOutputCap;
  auto* out = static_cast<uint8_t*>(pf_malloc(capacity));
  if (!out) return nullptr;

  z_stream stream{};
  if (inflateInit2(&stream, kAutoHeaderWindowBits) != Z_OK) {
    pf_free(&out);
    return nullptr;
  }

  const uint8_t* next = data;
  int64_t left = length;
  int64_t produced = 0;
  bool failed = false;
  for (;;) {
    if (produced == capacity) {
      // Half the size while the buffer is small, then a million bytes at a time.
      int64_t growth = capacity / 2 < kGrowthCap ? capacity / 2 : kGrowthCap;
      if (growth < 1) growth = 1;
      if (!pf_realloc(&out, capacity + growth)) {
        failed = true;
        break;
      }
      capacity += growth;
    }
    feedInput(stream, next, left);
    const int64_t room = capacity - produced;
    stream.next_out = out + produced;
    stream.avail_out = room > int64_t(kMaxInflateInput) ? kMaxInflateInput : uInt(room);
    const uInt before = stream.avail_out;
    const int result = inflate(&stream, Z_NO_FLUSH);
    produced += before - stream.avail_out;
    if (result == Z_STREAM_END) {
      // Another member follows: start over on it with the same output.
      if (gzipMemberFollows(stream, next, left) && inflateReset(&stream) == Z_OK) continue;
      break;
    }
    if (result != Z_OK) {
      twk::showNamedError(L"PR_gunzip_to_buf", L"No progress possible: likely truncated input");
      failed = true;
      break;
    }
  }
  inflateEnd(&stream);

  if (failed) {
    pf_free(&out);
    return nullptr;
  }
  pf_realloc(&out, produced > 0 ? produced : 1);  // a failed cut keeps the larger buffer
  if (outLength) *outLength = produced;
  return out;
}

bool PR_gunzip_to_file(const wchar_t* gzPath, const wchar_t* outPath, bool show) {
  twk::ProgressGuard progress(L"gunzip to file", show);

  CString error;
  gzFile source = gzopen(twk::pathToNative(gzPath).c_str(), "rb");
  FILE* target = nullptr;
  void* block = nullptr;
  const std::string targetPath = twk::pathToNative(outPath);

  if (!source) {
    error = L"source gzopen failed";
  } else if (!(target = std::fopen(targetPath.c_str(), "wb"))) {
    error = L"target fopen failed";
  } else if (gzbuffer(source, kGzReadBuffer) != 0) {
    error = L"gzbuffer error";
  } else if (!(block = pf_malloc(kReadBlock))) {
    error = L"out of memory";
  } else {
    for (;;) {
      const int got = gzread(source, block, unsigned(kReadBlock));
      if (got == 0) break;
      if (got < 0) {
        int code = Z_OK;
        const char* text = gzerror(source, &code);
        if (code == Z_MEM_ERROR)
          error = L"out of memory";
        else
          error = text ? CString::fromUtf8(text) : CString(L"gzread error");
        break;
      }
      if (std::fwrite(block, 1, size_t(got), target) != size_t(got)) {
        error = L"target write error";
        break;
      }
    }
  }
  pf_free(&block);

  if (target) {
    if (std::fclose(target) != 0 && error.IsEmpty())
      error = FmtStr(L"target close error: %s", CString::fromUtf8(std::strerror(errno)).GetString());
  }
  if (source) {
    // A member cut short or a wrong check value surfaces here when no read reported it.
    if (gzclose(source) != Z_OK && error.IsEmpty()) error = L"gzclose reported CRC/length error";
  }
  progress.End();

  if (!error.IsEmpty()) {
    if (target) std::remove(targetPath.c_str());
    twk::messageBox(error, MB_OK | MB_ICONINFORMATION);
    return false;
  }
  return true;
}
