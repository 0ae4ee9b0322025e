#include "VolumeHeaders.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <atomic>
#include <cstring>
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
namespace {

uint32_t le(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int b = 0; b < bytes; ++b) v |= uint32_t(p[b]) << (8 * b);
  return v;
}

// Whether a header (a DICOM file in Explicit VR Little Endian, as documents store it) is well
// formed down to its element lengths: every defined length lies within the header. A damaged
// length would otherwise make the DICOM toolkit take that much memory before it finds the header
// short. Sequences and items of undefined length are walked into, as the toolkit reads them.
bool wellFormedHeader(const uint8_t* p, int64_t n) {
  if (n < 132 || std::memcmp(p + 128, "DICM", 4) != 0) return false;
  static const char kExplicitLittle[] = "1.2.840.10008.1.2.1";
  bool explicitLittle = false;
  int64_t at = 132;
  while (at < n) {
    if (n - at < 8) return false;
    const uint32_t group = le(p + at, 2), element = le(p + at + 2, 2);
    if (group == 0xFFFE) {  // item or delimiter: a 4-byte length, contents walked into
      if (element != 0xE000 && element != 0xE00D && element != 0xE0DD) return false;
      at += 8;
      continue;
    }
    const char vr[2] = {char(p[at + 4]), char(p[at + 5])};
    if (vr[0] < 'A' || vr[0] > 'Z' || vr[1] < 'A' || vr[1] > 'Z') return false;
    static const char* const kLong[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UN", "UR", "UT", "UV"};
    bool longForm = false;
    for (const char* l : kLong) longForm = longForm || (vr[0] == l[0] && vr[1] == l[1]);
    uint32_t length = 0;
    if (longForm) {
      if (n - at < 12) return false;
      length = le(p + at + 8, 4);
      at += 12;
    } else {
      length = le(p + at + 6, 2);
      at += 8;
    }
    const bool sequence = vr[0] == 'S' && vr[1] == 'Q';
    if (length == 0xFFFFFFFFu || sequence) {
      if (!longForm) return false;
      continue;
    }
    if (int64_t(length) > n - at) return false;
    if (group == 0x0002 && element == 0x0010)
      explicitLittle = length >= sizeof kExplicitLittle - 1 &&
                       std::memcmp(p + at, kExplicitLittle, sizeof kExplicitLittle - 1) == 0 &&
                       (length == sizeof kExplicitLittle - 1 || p[at + sizeof kExplicitLittle - 1] == 0 ||
                        p[at + sizeof kExplicitLittle - 1] == ' ');
    at += length;
  }
  return explicitLittle;
}

}  // namespace

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
    if (length == 0 || length > uint64_t(size - start - 8) || !wellFormedHeader(bytes + start + 8, int64_t(length)))
      return nullptr;
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
