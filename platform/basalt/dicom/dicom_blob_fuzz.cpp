// libFuzzer target of the DICOM headers that a document stores: the input is the stored block as a
// ".twk" file holds it, compressed ("TWKH" prefix) or not. It is unpacked, read back as headers and
// records, and a volume header is made from the records, as the document reader does. Any crash,
// leak, hang or sanitizer report is a finding. Built with clang.

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "ArrayHelpers.h"
#include "DicomRec.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "Vol.h"
#include "dicom/DicomHeaderBlob.h"
#include "dicom/DicomRecords.h"
#include "dicom/DicomVolume.h"

namespace {

uint64_t getLE(const uint8_t* p) {
  uint64_t v = 0;
  for (int b = 0; b < 8; ++b) v |= uint64_t(p[b]) << (8 * b);
  return v;
}

// The number of header blocks at the start of the bytes (each a 64-bit length and that many bytes).
int64_t countBlocks(const uint8_t* bytes, int64_t size) {
  int64_t at = 0, count = 0;
  while (size - at >= 8) {
    const uint64_t n = getLE(bytes + at);
    if (n == 0 || n > uint64_t(size - at - 8)) break;
    at += 8 + int64_t(n);
    ++count;
  }
  return count;
}

void readHeaders(const uint8_t* bytes, int64_t size, int64_t count) {
  if (count < 1) count = 1;
  DCMFF** headers = TWKDCM_LoadHeaders(bytes, size, count);
  if (!headers) return;
  DICOMREC** records = VA_GetDicomRecArr(headers, count);
  for (int64_t i = 0; i < count; ++i) {
    DCMNODE* tree = TWKDCM_CreateDCMNODE(headers[i]);
    TWKDCM_DeleteDCMNODE(&tree);
    double bvalue = 0;
    TWKDCM_GetDiffusionBvalue(headers[i], &bvalue);
  }
  if (records) {
    // The document's frame gives the dimensions; its slices and time points are the records.
    for (const DIM3D dims : {DIM3D{4, 4, int(count), 1}, DIM3D{4, 4, 1, int(count)}}) {
      FRMTYPE kind = FRM_INVALID;
      std::unique_ptr<CVol> vol(VA_LoadByItem_VolHeader(&dims, records, nullptr, &kind, false));
    }
    TW_FreeDicomRecArray(&records, int(count));
  }
  TWKDCM_DeleteFFarr(&headers, count);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  TWKDCM_Initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 24 && std::memcmp(data, "TWKH", 4) == 0) {
    const int64_t count = int64_t(getLE(data + 8));
    const uint64_t headerSize = getLE(data + 16);
    // zlib inflates at most about 1032 bytes from one stored byte: a larger size is not this blob's,
    // and the document reader's buffer of that size is not what is tested here.
    if (headerSize == 0 || headerSize > uint64_t(size) * 1032 + 64) return 0;
    auto* out = static_cast<uint8_t*>(pf_malloc(int64_t(headerSize)));
    if (!out) return 0;
    if (VA_VolDecompressDicomHeaders(data, int64_t(size), count, out, int64_t(headerSize)))
      readHeaders(out, int64_t(headerSize), count);
    VA_VolDecompressDicomHeaders(data, int64_t(size), 0, out, int64_t(headerSize));
    pf_free(&out);
    return 0;
  }
  const int64_t count = countBlocks(data, int64_t(size));
  readHeaders(data, int64_t(size), count);
  if (count > 1) readHeaders(data, int64_t(size), 1);
  return 0;
}
