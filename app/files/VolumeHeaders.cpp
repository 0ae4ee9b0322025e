#include "VolumeHeaders.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <atomic>
#include <vector>

#include "ArrayHelpers.h"
#include "DicomRec.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "Vol.h"
#include "dicom/DicomHeaderBlob.h"
#include "dicom/DicomRecords.h"
#include "dicom/DicomVolume.h"
#include "volume/Frame.h"

namespace twk::files {

void* storedHeaderBytes(const CVol* vol, int64_t* headerSize, int64_t* storedSize) {
  return VA_VolCompressDicomHeaders(vol, true, headerSize, storedSize);
}

void* volumeHeaderBytes(const CVol* vol, int64_t* size) {
  int64_t stored = 0;
  return VA_VolCompressDicomHeaders(vol, false, size, &stored);
}

uint8_t* unpackHeaderBytes(const void* stored, int64_t storedSize, int64_t headerSize, int64_t count) {
  if (!stored || storedSize <= 0 || headerSize <= 0) return nullptr;
  auto* out = static_cast<uint8_t*>(pf_malloc(headerSize));
  if (out && !VA_VolDecompressDicomHeaders(stored, storedSize, count, out, headerSize)) pf_free(&out);
  return out;
}

DICOMREC** recordsFromHeaderBytes(const uint8_t* bytes, int64_t size, int64_t count) {
  // Every header takes at least its 8-byte length.
  if (!bytes || size <= 0 || count <= 0 || count > size / 8) return nullptr;
  // The blocks must fill the bytes exactly: a 64-bit length, then that many bytes.
  std::vector<int64_t> at(size_t(count) + 1, 0);
  for (int64_t i = 0; i < count; ++i) {
    const int64_t start = at[size_t(i)];
    if (size - start < 8) return nullptr;
    uint64_t length = 0;
    for (int b = 0; b < 8; ++b) length |= uint64_t(bytes[start + b]) << (8 * b);
    if (length == 0 || length > uint64_t(size - start - 8)) return nullptr;
    at[size_t(i) + 1] = start + 8 + int64_t(length);
  }
  if (at[size_t(count)] != size) return nullptr;
  auto** records = static_cast<DICOMREC**>(pf_calloc(count * int64_t(sizeof(DICOMREC*))));
  if (!records) return nullptr;
  // A 4D volume has thousands of headers; each is read on its own, so they are read in parallel.
  std::atomic<bool> ok{true};
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, count), [&](const tbb::blocked_range<int64_t>& range) {
    for (int64_t i = range.begin(); i != range.end() && ok; ++i) {
      DCMFF** one = TWKDCM_LoadHeaders(bytes + at[size_t(i)], at[size_t(i) + 1] - at[size_t(i)], 1);
      auto* rec = new DICOMREC;
      if (!one || !VA_DicomRecFromHeader(one[0], rec)) {
        delete rec;
        ok = false;
      } else {
        records[i] = rec;
      }
      TWKDCM_DeleteFFarr(&one, 1);
    }
  });
  if (!ok) TW_FreeDicomRecArray(&records, int(count));
  return records;
}

CVol* volumeFromRecords(FRAME** frame, DICOMREC*** records, int64_t count) {
  if (!frame || !*frame || !records || !*records) return nullptr;
  const DIM3D dim = (*frame)->dim;
  if (count <= 0 || count != int64_t(dim.d) * dim.t) return nullptr;
  FRMTYPE kind = FRM_INVALID;
  CVol* vol = VA_LoadByItem_VolHeader(&dim, *records, nullptr, &kind, false);
  if (!vol) return nullptr;
  TW_FreeDicomRecArray(records, int(count));
  vol->frame = *frame;
  *frame = nullptr;
  return vol;
}

DICOMREC* recordFromTree(const DCMNODE* tree, const FRAME* frame, int timeIndex, int sliceIndex, const DYNCRD* dyn) {
  if (!tree || !frame) return nullptr;
  DCMFF* header = TWKDCM_CreateBasicDCMFF(tree, frame->dim.w, frame->dim.h, PR_VolBpv(frame), timeIndex, sliceIndex, dyn);
  if (!header) return nullptr;
  DICOMREC** one = VA_GetDicomRecArr(&header, 1);
  TWKDCM_DeleteFF(&header);
  if (!one) return nullptr;
  DICOMREC* rec = one[0];
  one[0] = nullptr;
  pf_free(&one);
  return rec;
}

}  // namespace twk::files
