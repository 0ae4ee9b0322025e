#include "dicom/DicomRecords.h"

#include <tbb/parallel_for.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include "ArrayHelpers.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "DicomDecode.h"
#include "dicom/DicomCore.h"

using namespace twk::dcm;

DICOMREC* VA_ReadDicomRec(const wchar_t* path, bool withHeader, int* kind, CString* reason) {
  auto give = [&](VA_DICOMFILEKIND k, const std::string& why) -> DICOMREC* {
    if (kind) *kind = k;
    if (reason) *reason = CString::fromUtf8(why);
    return nullptr;
  };
  if (!path || !*path) return give(DCMFILE_NOT_DICOM, "no file name");
  DcmFileFormat file;
  std::string why;
  bool notDicom = false;
  if (!loadFile(native(path), file, false, &why, &notDicom)) return give(notDicom ? DCMFILE_NOT_DICOM : DCMFILE_DAMAGED, why);
  DcmDataset* data = file.getDataset();
  std::string sopClass;
  DcmMetaInfo* meta = file.getMetaInfo();
  if (meta) getText(meta, DCM_MediaStorageSOPClassUID, sopClass);
  if (sopClass.empty()) getText(data, DCM_SOPClassUID, sopClass);
  DcmElement* pixels = nullptr;
  for (const DcmTagKey& key : {DCM_PixelData, DcmTagKey(0x7FE0, 0x0008), DcmTagKey(0x7FE0, 0x0009)})
    if (!pixels && (data->findAndGetElement(key, pixels).bad() || !pixels)) pixels = nullptr;
  if (!pixels) {
    // An image object without pixel data was cut short; other objects carry none.
    double rows = 0;
    if (dcmIsImageStorageSOPClassUID(sopClass.c_str()) || getNumber(data, DCM_Rows, rows))
      return give(DCMFILE_DAMAGED, "the file ends before its pixel data");
    return give(DCMFILE_NOT_IMAGE, sopClass == UID_MediaStorageDirectoryStorage ? "DICOMDIR" : "no pixel data");
  }
  twk::dicom::PixelDescription format;
  if (!twk::dicom::describePixels(data, format, &why)) return give(DCMFILE_DAMAGED, why);
  // Native pixel data must hold every frame; compressed data, and data of transfer syntaxes the
  // toolkit cannot name, are checked when they are decoded.
  const std::string syntax = twk::dicom::transferSyntaxUid(file);
  const bool native = DcmXfer(syntax.c_str()).getXfer() != EXS_Unknown && !DcmXfer(syntax.c_str()).isEncapsulated() &&
                      pixels->getLength() != DCM_UndefinedLength;
  // Compared by division: the product of a damaged file's frame count and image size can overflow.
  if (native && format.frames > int64_t(pixels->getLength()) * 8 / format.bitsPerFrame())
    return give(DCMFILE_DAMAGED, "the pixel data are shorter than the image");
  auto rec = std::make_unique<DICOMREC>();
  rec->filePath = path;
  fillRecord(file, *rec);
  if (withHeader) rec->header = headerBlock(file);
  if (kind) *kind = format.frames > 1 ? DCMFILE_MULTIFRAME : DCMFILE_IMAGE;
  if (reason) reason->Empty();
  return rec.release();
}

bool VA_IsDicomFileLoading(const wchar_t* path) {
  if (!path || !*path) return false;
  DcmFileFormat file;
  return loadFile(native(path), file, false, nullptr);
}

bool VA_DicomRecFromHeader(const DCMFF* header, DICOMREC* rec) {
  if (!header || !rec) return false;
  DCMFF* one = const_cast<DCMFF*>(header);
  int64_t size = 0;
  void* bytes = TWKDCM_SaveHeaders(&one, 1, &size);
  if (!bytes) return false;
  std::vector<uint8_t> block(static_cast<uint8_t*>(bytes), static_cast<uint8_t*>(bytes) + size);
  pf_free(&bytes);
  std::unique_ptr<DcmFileFormat> file = fileFromBlock(block);
  if (!file) return false;
  const CString path = rec->filePath;
  fillRecord(*file, *rec);
  rec->filePath = path;
  rec->header = std::move(block);
  return true;
}

DICOMREC** VA_GetDicomRecArr(DCMFF* const* headers, int64_t count) {
  if (!headers || count <= 0) return nullptr;
  auto** out = static_cast<DICOMREC**>(pf_calloc(count * int64_t(sizeof(DICOMREC*))));
  if (!out) return nullptr;
  // Each record reads its own header; a header given twice is read by one thread at a time, since
  // reading a DCMTK data set moves its list cursor.
  std::vector<DCMFF*> distinct(headers, headers + count);
  std::sort(distinct.begin(), distinct.end());
  const bool shared = std::adjacent_find(distinct.begin(), distinct.end()) != distinct.end();
  std::atomic<bool> failed{false};
  auto read = [&](int64_t i) {
    out[i] = new DICOMREC;
    if (!failed && !VA_DicomRecFromHeader(headers[i], out[i])) failed = true;
  };
  if (shared) {
    for (int64_t i = 0; i < count; ++i) read(i);
  } else {
    tbb::parallel_for(int64_t(0), count, read);
  }
  if (failed) {
    TW_FreeDicomRecArray(&out, int(count));
    return nullptr;
  }
  return out;
}

DCMFF* VA_DicomRecGetHeader(const DICOMREC* rec) {
  if (!rec) return nullptr;
  if (!rec->header.empty()) {
    DCMFF** one = TWKDCM_LoadHeaders(rec->header.data(), int64_t(rec->header.size()), 1);
    if (!one) return nullptr;
    DCMFF* header = one[0];
    one[0] = nullptr;
    TWKDCM_DeleteFFarr(&one, 1);
    return header;
  }
  if (!rec->filePath.IsEmpty()) return TWKDCM_LoadDcmFF(rec->filePath);
  return nullptr;
}

bool VA_DicomRecSetHeader(DICOMREC* rec, const DCMFF* header) { return VA_DicomRecFromHeader(header, rec); }

bool VA_DicomRecLoadHeader(DICOMREC* rec) {
  if (!rec) return false;
  if (!rec->header.empty()) return true;
  if (rec->filePath.IsEmpty()) return false;
  DcmFileFormat file;
  if (!loadFile(native(rec->filePath), file, false, nullptr)) return false;
  rec->header = headerBlock(file);
  return !rec->header.empty();
}

void VA_SortDICOMRECbySeriesUID(DICOMREC** records, int64_t count) {
  if (!records || count < 2) return;
  std::stable_sort(records, records + count, [](const DICOMREC* a, const DICOMREC* b) {
    if (!a || !b) return a && !b;
    const int c = a->seriesInstanceUid.Compare(b->seriesInstanceUid);
    if (c != 0) return c < 0;
    return a->instanceNumber < b->instanceNumber;
  });
}

void VA_SortDICOMRECbyIncreasingZ(DICOMREC** records, int64_t count) {
  if (!records || count < 2) return;
  std::stable_sort(records, records + count, [](const DICOMREC* a, const DICOMREC* b) {
    if (!a || !b) return a && !b;
    const bool da = a->sliceZ != VOID_VALUE, db = b->sliceZ != VOID_VALUE;
    if (da != db) return da;
    if (da && a->sliceZ != b->sliceZ) return a->sliceZ < b->sliceZ;
    return a->instanceNumber < b->instanceNumber;
  });
}
