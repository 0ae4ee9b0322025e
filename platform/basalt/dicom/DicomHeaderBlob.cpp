#include "dicom/DicomHeaderBlob.h"

#include <zlib.h>

#include <cstring>
#include <vector>

#include "TwkMem.h"
#include "Vol.h"
#include "dicom/DicomWrite.h"

namespace {

constexpr char kMagic[4] = {'T', 'W', 'K', 'H'};
constexpr uint32_t kVersion = 1;
constexpr int64_t kPrefix = 24;

void putLE(uint8_t* p, uint64_t v, int bytes) {
  for (int b = 0; b < bytes; ++b) p[b] = uint8_t(v >> (8 * b));
}
uint64_t getLE(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int b = 0; b < bytes; ++b) v |= uint64_t(p[b]) << (8 * b);
  return v;
}

// Walks the header blocks: true when exactly count blocks fill the bytes.
bool wellFormed(const uint8_t* bytes, int64_t size, int64_t count) {
  int64_t at = 0;
  for (int64_t i = 0; i < count; ++i) {
    if (size - at < 8) return false;
    const uint64_t n = getLE(bytes + at, 8);
    if (n == 0 || n > uint64_t(size - at - 8)) return false;
    at += 8 + int64_t(n);
  }
  return at == size;
}

}  // namespace

void* VA_VolCompressDicomHeaders(const CVol* vol, bool compress, int64_t* headerSize, int64_t* storedSize) {
  if (!vol || !vol->frame || !headerSize || !storedSize) return nullptr;
  const int D = vol->D(), T = vol->T();
  std::vector<uint8_t> all;
  twk::dcm::HeaderContext context;
  for (int t = 0; t < T; ++t)
    for (int z = 0; z < D; ++z) {
      std::unique_ptr<DcmFileFormat> file = twk::dcm::sliceHeader(*vol, t, z, context, true);
      if (!file) return nullptr;
      std::vector<uint8_t> block = twk::dcm::headerBlock(*file);
      if (block.empty()) return nullptr;
      all.insert(all.end(), block.begin(), block.end());
    }
  const int64_t raw = int64_t(all.size());
  *headerSize = raw;
  if (compress) {
    uLongf bound = compressBound(uLong(raw));
    auto* out = static_cast<uint8_t*>(pf_malloc(kPrefix + int64_t(bound)));
    if (!out) return nullptr;
    if (::compress2(out + kPrefix, &bound, all.data(), uLong(raw), 6) == Z_OK && kPrefix + int64_t(bound) < raw) {
      std::memcpy(out, kMagic, 4);
      putLE(out + 4, kVersion, 4);
      putLE(out + 8, uint64_t(int64_t(D) * T), 8);
      putLE(out + 16, uint64_t(raw), 8);
      *storedSize = kPrefix + int64_t(bound);
      return out;
    }
    pf_free(&out);
  }
  auto* out = static_cast<uint8_t*>(pf_malloc(raw));
  if (!out) return nullptr;
  std::memcpy(out, all.data(), size_t(raw));
  *storedSize = -raw;
  return out;
}

bool VA_VolDecompressDicomHeaders(const void* stored, int64_t storedSize, int64_t headerCount, void* output,
                                  int64_t outputSize) {
  if (!stored || storedSize <= kPrefix || !output || outputSize <= 0) return false;
  const auto* p = static_cast<const uint8_t*>(stored);
  if (std::memcmp(p, kMagic, 4) != 0 || getLE(p + 4, 4) != kVersion) return false;
  if (headerCount > 0 && getLE(p + 8, 8) != uint64_t(headerCount)) return false;
  if (getLE(p + 16, 8) != uint64_t(outputSize)) return false;
  uLongf produced = uLongf(outputSize);
  if (::uncompress(static_cast<Bytef*>(output), &produced, p + kPrefix, uLong(storedSize - kPrefix)) != Z_OK ||
      int64_t(produced) != outputSize)
    return false;
  return wellFormed(static_cast<const uint8_t*>(output), outputSize, int64_t(getLE(p + 8, 8)));
}
