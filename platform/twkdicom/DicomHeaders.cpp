// Header handles: loading from files and blobs, serialising, cloning for new geometries and mosaics,
// and the basic header made from an element tree.

#include <tbb/parallel_for.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "dcmtk/dcmdata/dcistrmb.h"
#include "dcmtk/dcmdata/dcostrmb.h"

#include "DicomInternal.h"
#include "DicomVendor.h"
#include "TextCodec.h"
#include "TwkMem.h"

using namespace twk::dicom;

namespace {

constexpr uint32_t kRows = TWKDCM_TAG(0x0028, 0x0010);
constexpr uint32_t kColumns = TWKDCM_TAG(0x0028, 0x0011);
constexpr uint32_t kPixelSpacing = TWKDCM_TAG(0x0028, 0x0030);
constexpr uint32_t kImagePosition = TWKDCM_TAG(0x0020, 0x0032);
constexpr uint32_t kImageOrientation = TWKDCM_TAG(0x0020, 0x0037);
constexpr uint32_t kSliceThickness = TWKDCM_TAG(0x0018, 0x0050);
constexpr uint32_t kSpacingBetweenSlices = TWKDCM_TAG(0x0018, 0x0088);
constexpr uint32_t kInstanceNumber = TWKDCM_TAG(0x0020, 0x0013);
constexpr uint32_t kTemporalPosition = TWKDCM_TAG(0x0020, 0x0100);
constexpr uint32_t kSopInstanceUid = TWKDCM_TAG(0x0008, 0x0018);
constexpr uint32_t kSopClassUid = TWKDCM_TAG(0x0008, 0x0016);

// The header up to (not including) its pixel data group.
const DcmTagKey kPixelGroupStart(0x7FE0, 0x0000);

// The smallest stored header: its 8-byte length, the preamble, "DICM" and one element.
constexpr int64_t kSmallestStoredHeader = 8 + 128 + 4 + 8;

uint32_t littleEndian(const uint8_t* p, int bytes) {
  uint32_t value = 0;
  for (int b = 0; b < bytes; ++b) value |= uint32_t(p[b]) << (8 * b);
  return value;
}

// Whether a stored header (a DICOM file in Explicit VR Little Endian, as TWKDCM_SaveHeaders writes it)
// is sound down to its lengths: every defined length of an element, sequence or item lies within the
// bytes left. The toolkit takes a value's memory at its declared length before it finds the bytes
// short, so a damaged length must be refused before the toolkit reads the header. Sequences and items
// are walked into, so that the elements inside them are checked as well.
bool storedHeaderIsSound(const uint8_t* p, uint64_t n) {
  if (n < 132 || std::memcmp(p + 128, "DICM", 4) != 0) return false;
  static const char kExplicitLittle[] = "1.2.840.10008.1.2.1";
  static const char* const kShortForm[] = {"AE", "AS", "AT", "CS", "DA", "DS", "DT", "FD", "FL", "IS", "LO",
                                           "LT", "PN", "SH", "SL", "SS", "ST", "TM", "UI", "UL", "US"};
  static const char* const kLongForm[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UN", "UR", "UT", "UV"};
  auto oneOf = [](const uint8_t* vr, const auto& list) {
    return std::any_of(std::begin(list), std::end(list), [vr](const char* v) { return vr[0] == v[0] && vr[1] == v[1]; });
  };
  bool explicitLittle = false;
  uint64_t at = 132;
  while (at < n) {
    if (n - at < 8) return false;
    const uint16_t group = uint16_t(littleEndian(p + at, 2)), element = uint16_t(littleEndian(p + at + 2, 2));
    if (group == 0xFFFE) {  // item or delimiter: the item's elements follow
      if (element != 0xE000 && element != 0xE00D && element != 0xE0DD) return false;
      const uint32_t length = littleEndian(p + at + 4, 4);
      at += 8;
      if (element == 0xE000 && length != 0xFFFFFFFFu && length > n - at) return false;
      continue;
    }
    const uint8_t* vr = p + at + 4;
    const bool longForm = oneOf(vr, kLongForm);
    if (!longForm && !oneOf(vr, kShortForm)) return false;
    uint32_t length = 0;
    if (longForm) {
      if (n - at < 12) return false;
      length = littleEndian(p + at + 8, 4);
      at += 12;
    } else {
      length = littleEndian(p + at + 6, 2);
      at += 8;
    }
    const bool sequence = vr[0] == 'S' && vr[1] == 'Q';
    if (length == 0xFFFFFFFFu && !sequence) return false;  // no encapsulated data in a header
    if (length != 0xFFFFFFFFu && length > n - at) return false;
    if (sequence) continue;
    if (group == 0x0002 && element == 0x0010) {
      const uint32_t size = sizeof kExplicitLittle - 1;
      explicitLittle = length >= size && std::memcmp(p + at, kExplicitLittle, size) == 0 &&
                       (length == size || (length == size + 1 && (p[at + size] == 0 || p[at + size] == ' ')));
    }
    at += length;
  }
  return explicitLittle;
}

DCMFF** newHeaderArray(int64_t count) {
  if (count <= 0) return nullptr;
  return static_cast<DCMFF**>(pf_calloc(count * int64_t(sizeof(DCMFF*))));
}

// A new SOP instance UID in the data set and in the meta information.
void giveNewInstanceUid(DCMFF* header) {
  const std::string uid = newUid();
  setText(header->file.getDataset(), kSopInstanceUid, uid);
  if (DcmMetaInfo* meta = header->file.getMetaInfo()) meta->putAndInsertString(DCM_MediaStorageSOPInstanceUID, uid.c_str());
}

// Bits allocated, stored, high bit and pixel representation of one grey sample.
void setPixelFormat(DcmItem* data, int bits, bool isSigned) {
  data->putAndInsertUint16(DCM_BitsAllocated, Uint16(bits));
  data->putAndInsertUint16(DCM_BitsStored, Uint16(bits));
  data->putAndInsertUint16(DCM_HighBit, Uint16(bits - 1));
  data->putAndInsertUint16(DCM_PixelRepresentation, isSigned ? 1 : 0);
  data->putAndInsertUint16(DCM_SamplesPerPixel, 1);
  data->putAndInsertString(DCM_PhotometricInterpretation, "MONOCHROME2");
  data->findAndDeleteElement(DCM_PlanarConfiguration);
  // Their VR follows the pixel representation; the old values no longer describe the pixels.
  data->findAndDeleteElement(DCM_SmallestImagePixelValue);
  data->findAndDeleteElement(DCM_LargestImagePixelValue);
}

void dropPixelData(DcmItem* data) {
  data->findAndDeleteElement(DCM_PixelData);
  data->findAndDeleteElement(DcmTagKey(0x7FE0, 0x0008));
  data->findAndDeleteElement(DcmTagKey(0x7FE0, 0x0009));
  data->findAndDeleteElement(DCM_NumberOfFrames);
}

const wchar_t* nodeValue(const DCMNODE* tree, uint32_t tag) {
  const DCMNODE* node = TWKDCM_FindDCMNODE(tree, tag);
  return node && node->value ? node->value : nullptr;
}

bool nodeNumbers(const DCMNODE* tree, uint32_t tag, double* values, int count) {
  const wchar_t* text = nodeValue(tree, tag);
  if (!text) return false;
  std::wstring all(text);
  size_t start = 0;
  for (int i = 0; i < count; ++i) {
    if (start > all.size()) return false;
    size_t slash = all.find(L'\\', start);
    std::wstring token = all.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start);
    wchar_t* end = nullptr;
    double v = std::wcstod(token.c_str(), &end);
    while (end && *end == L' ') ++end;
    if (token.empty() || !end || *end != L'\0' || !std::isfinite(v)) return false;
    values[i] = v;
    start = slash == std::wstring::npos ? all.size() + 1 : slash + 1;
  }
  return true;
}

}  // namespace

DCMFF* TWKDCM_LoadDcmFF(const wchar_t* path) {
  if (!path) return nullptr;
  const std::string native = twk::pathToNative(path);
  std::error_code error;
  if (!std::filesystem::is_regular_file(native, error)) return nullptr;
  auto header = std::make_unique<DCMFF>();
  OFCondition status = header->file.loadFileUntilTag(OFFilename(native.c_str()), EXS_Unknown, EGL_noChange,
                                                     DCM_MaxReadLength, ERM_autoDetect, kPixelGroupStart);
  // The header must not depend on the file afterwards: files get moved and deleted while headers live.
  if (status.good()) status = header->file.loadAllDataIntoMemory();
  if (status.bad() || !looksLikeDicom(header->file)) return nullptr;
  return header.release();
}

void* TWKDCM_SaveHeaders(DCMFF* const* headers, int64_t headerCount, int64_t* byteCount) {
  if (!headers || headerCount <= 0 || !byteCount) return nullptr;
  std::vector<uint8_t> all;
  all.reserve(size_t(std::min<int64_t>(headerCount, 64)) * 8 * 1024);
  // The stream's buffer is the thread's own, made once: a fresh 64 KB for every header made the
  // records of a large series spend their time in the allocator.
  thread_local std::vector<uint8_t> chunk(64 * 1024);
  for (int64_t h = 0; h < headerCount; ++h) {
    if (!headers[h]) return nullptr;
    DcmFileFormat copy(headers[h]->file);  // writing updates the meta information; the caller's header stays as it is
    const size_t lengthAt = all.size();
    all.resize(all.size() + 8);
    DcmOutputBufferStream stream(chunk.data(), offile_off_t(chunk.size()));
    copy.transferInit();
    auto writeOnce = [&] {
      return copy.write(stream, EXS_LittleEndianExplicit, EET_ExplicitLength, nullptr, EGL_recalcGL, EPD_noChange, 0, 0,
                        0, EWM_updateMeta);
    };
    auto drain = [&] {
      void* bytes = nullptr;
      offile_off_t length = 0;
      stream.flushBuffer(bytes, length);
      if (length > 0) all.insert(all.end(), static_cast<uint8_t*>(bytes), static_cast<uint8_t*>(bytes) + length);
    };
    OFCondition status = writeOnce();
    while (status == EC_StreamNotifyClient) {
      drain();
      status = writeOnce();
    }
    copy.transferEnd();
    if (status.bad()) return nullptr;
    stream.flush();
    drain();
    const uint64_t length = all.size() - lengthAt - 8;
    for (int b = 0; b < 8; ++b) all[lengthAt + size_t(b)] = uint8_t(length >> (8 * b));
  }
  void* block = pf_malloc(int64_t(all.size()));
  if (!block) return nullptr;
  std::memcpy(block, all.data(), all.size());
  *byteCount = int64_t(all.size());
  return block;
}

DCMFF** TWKDCM_LoadHeaders(const void* bytes, int64_t byteCount, int64_t headerCount) {
  if (!bytes || byteCount <= 0 || headerCount <= 0 || headerCount > byteCount / kSmallestStoredHeader) return nullptr;
  const uint8_t* at = static_cast<const uint8_t*>(bytes);
  int64_t left = byteCount;
  DCMFF** headers = newHeaderArray(headerCount);
  if (!headers) return nullptr;
  for (int64_t h = 0; h < headerCount; ++h) {
    uint64_t length = 0;
    if (left < 8) break;
    for (int b = 0; b < 8; ++b) length |= uint64_t(at[b]) << (8 * b);
    at += 8;
    left -= 8;
    if (length == 0 || length > uint64_t(left) || !storedHeaderIsSound(at, length)) break;
    auto header = std::make_unique<DCMFF>();
    DcmInputBufferStream stream;
    stream.setBuffer(at, offile_off_t(length));
    stream.setEos();
    header->file.transferInit();
    OFCondition status = header->file.read(stream, EXS_Unknown, EGL_noChange, 0xFFFFFFFEu);
    header->file.transferEnd();
    if (status.bad() || !looksLikeDicom(header->file)) break;
    headers[h] = header.release();
    at += length;
    left -= int64_t(length);
  }
  if (!headers[headerCount - 1]) TWKDCM_DeleteFFarr(&headers, headerCount);
  return headers;
}

void TWKDCM_DeleteFF(DCMFF** header) {
  if (!header) return;
  delete *header;
  *header = nullptr;
}

void TWKDCM_DeleteFFarr(DCMFF*** headers, int64_t count) {
  if (!headers || !*headers) return;
  for (int64_t i = 0; i < count; ++i) delete (*headers)[i];
  pf_free(headers);
}

DCMFF* TWKDCM_CloneHeader(const DCMFF* header) {
  if (!header) return nullptr;
  return new DCMFF{header->file};
}

DCMFF** TWKDCM_CloneHeaderWithNewGeometryAndType(DCMFF* const* source, int64_t sourceCount, const DIM3D* dim,
                                                 FRMTYPE kind) {
  if (!source || sourceCount <= 0 || !dim || dim->w <= 0 || dim->h <= 0 || dim->d <= 0 || dim->t <= 0 ||
      dim->w > 65535 || dim->h > 65535)
    return nullptr;
  if (kind != FRM_ROI && kind != FRM_INT && kind != FRM_REAL) return nullptr;
  for (int64_t i = 0; i < sourceCount; ++i)
    if (!source[i]) return nullptr;
  const int64_t count = int64_t(dim->d) * dim->t;
  DCMFF** headers = newHeaderArray(count);
  if (!headers) return nullptr;
  for (int64_t i = 0; i < count; ++i) {
    const DCMFF* from = source[i < sourceCount ? i : sourceCount - 1];
    DCMFF* header = new DCMFF{from->file};
    headers[i] = header;
    DcmDataset* data = header->file.getDataset();
    dropPixelData(data);
    data->putAndInsertUint16(DCM_Rows, Uint16(dim->h));
    data->putAndInsertUint16(DCM_Columns, Uint16(dim->w));
    if (kind == FRM_ROI) {
      setPixelFormat(data, 8, false);
    } else if (kind == FRM_INT) {
      Uint16 bits = 16;
      data->findAndGetUint16(DCM_BitsAllocated, bits);
      setPixelFormat(data, bits == 32 ? 32 : 16, false);
    } else {
      setPixelFormat(data, 32, true);
    }
    if (kind != FRM_INT) {
      // The voxel values stand as they are: no rescale.
      setNumber(data, TWKDCM_TAG(0x0028, 0x1053), 1.0);
      setNumber(data, TWKDCM_TAG(0x0028, 0x1052), 0.0);
    }
    setNumber(data, kInstanceNumber, double(i + 1));
    setNumber(data, kTemporalPosition, double(i / dim->d + 1));
    giveNewInstanceUid(header);
  }
  return headers;
}

bool TWKDCM_GetNumImagesInMosaic(const DCMFF* header, int* numImages) {
  DcmDataset* data = dataset(header);
  if (!data || !numImages) return false;
  const int count = mosaicImageCount(data);
  if (count < 1) return false;
  *numImages = count;
  return true;
}

DCMFF** TWKDCM_CloneHeaderFromMosaic(DCMFF* const* mosaics, int64_t mosaicCount, int numImages) {
  if (!mosaics || mosaicCount <= 0 || numImages < 1) return nullptr;
  const int perSide = int(std::ceil(std::sqrt(double(numImages)) - 1e-9));
  const int64_t count = mosaicCount * numImages;
  DCMFF** headers = newHeaderArray(count);
  if (!headers) return nullptr;
  // The slices of one mosaic are made from it alone: mosaics are cloned in parallel unless one is
  // given twice (reading a DCMTK data set moves its list cursor, so no two threads may share one).
  auto cloneMosaic = [&](int64_t t) -> bool {
    DcmDataset* mosaic = dataset(mosaics[t]);
    Uint16 rows = 0, columns = 0;
    if (!mosaic || mosaic->findAndGetUint16(DCM_Rows, rows).bad() || mosaic->findAndGetUint16(DCM_Columns, columns).bad() ||
        rows == 0 || columns == 0 || rows % perSide || columns % perSide)
      return false;
    const int tileRows = rows / perSide, tileColumns = columns / perSide;
    double position[3], orientation[6], spacing[2], step = 0;
    const bool hasGeometry = getNumbers(mosaic, kImagePosition, position, 3) &&
                             getNumbers(mosaic, kImageOrientation, orientation, 6) &&
                             getNumbers(mosaic, kPixelSpacing, spacing, 2);
    if (!getNumbers(mosaic, kSpacingBetweenSlices, &step, 1)) getNumbers(mosaic, kSliceThickness, &step, 1);
    double first[3] = {0, 0, 0}, normal[3] = {0, 0, 0};
    if (hasGeometry) {
      const double* row = orientation;
      const double* column = orientation + 3;
      // The mosaic's position is its top-left pixel as if the whole mosaic were one slice: move it
      // to the top-left pixel of the first tile (spacing[0] is between rows, spacing[1] between columns).
      const double shiftColumns = (columns - tileColumns) / 2.0 * spacing[1];
      const double shiftRows = (rows - tileRows) / 2.0 * spacing[0];
      for (int k = 0; k < 3; ++k) first[k] = position[k] + row[k] * shiftColumns + column[k] * shiftRows;
      normal[0] = row[1] * column[2] - row[2] * column[1];
      normal[1] = row[2] * column[0] - row[0] * column[2];
      normal[2] = row[0] * column[1] - row[1] * column[0];
      // The tiles follow each other along the scanner's slice normal, which may point against the
      // normal of the orientation: then the slices run the other way.
      double scanner[3];
      if (mosaicSliceNormal(mosaic, scanner) &&
          normal[0] * scanner[0] + normal[1] * scanner[1] + normal[2] * scanner[2] < 0)
        for (double& n : normal) n = -n;
    }
    // What every slice of this mosaic shares, made once: no pixels, the tile size, and no mosaic
    // marks (a slice is no mosaic any more).
    DCMFF base{mosaics[t]->file};
    DcmDataset* shared = base.file.getDataset();
    dropPixelData(shared);
    shared->putAndInsertUint16(DCM_Rows, Uint16(tileRows));
    shared->putAndInsertUint16(DCM_Columns, Uint16(tileColumns));
    if (DcmElement* mark = privateElement(shared, 0x0019, "SIEMENS", 0x0A)) delete shared->remove(mark);
    std::string type;
    if (elementString(findElement(shared, TWKDCM_TAG(0x0008, 0x0008)), type)) {
      for (size_t at; (at = type.find("\\MOSAIC")) != std::string::npos;) type.erase(at, 7);
      setText(shared, TWKDCM_TAG(0x0008, 0x0008), type);
    }
    for (int z = 0; z < numImages; ++z) {
      const int64_t i = t * numImages + z;
      DCMFF* header = new DCMFF{base.file};
      headers[i] = header;
      DcmDataset* data = header->file.getDataset();
      if (hasGeometry) {
        double slice[3];
        for (int k = 0; k < 3; ++k) slice[k] = first[k] + normal[k] * step * z;
        setMultiNumbers(data, kImagePosition, slice, 3);
      }
      setNumber(data, kInstanceNumber, double(i + 1));
      giveNewInstanceUid(header);
    }
    return true;
  };
  std::vector<DCMFF*> distinct(mosaics, mosaics + mosaicCount);
  std::sort(distinct.begin(), distinct.end());
  std::atomic<bool> ok{true};
  if (std::adjacent_find(distinct.begin(), distinct.end()) != distinct.end()) {
    for (int64_t t = 0; t < mosaicCount && ok; ++t) ok = cloneMosaic(t);
  } else {
    tbb::parallel_for(int64_t(0), mosaicCount, [&](int64_t t) {
      if (ok && !cloneMosaic(t)) ok = false;
    });
  }
  if (!ok) TWKDCM_DeleteFFarr(&headers, count);
  return headers;
}

bool TWKDCM_GetModality(const DCMFF* header, int* modality) {
  std::string text;
  if (!modality || !elementString(findElement(dataset(header), TWKDCM_TAG(0x0008, 0x0060)), text)) return false;
  *modality = text == "CT" ? 0 : text == "MR" ? 1 : text == "PT" ? 2 : 10000;
  return true;
}

DCMFF* TWKDCM_CreateBasicDCMFF(const DCMNODE* tree, int width, int height, int bitsPerVoxel, int timeIndex,
                               int sliceIndex, const DYNCRD* dyn) {
  if (!tree || width <= 0 || height <= 0 || width > 65535 || height > 65535 || timeIndex < 0 || sliceIndex < 0)
    return nullptr;
  const wchar_t* modality = nodeValue(tree, TWKDCM_TAG(0x0008, 0x0060));
  if (!modality || !*modality) return nullptr;
  auto header = std::make_unique<DCMFF>();
  DcmDataset* data = header->file.getDataset();

  // Texts beyond the single-byte set need UTF-8, declared before any text is written.
  for (uint32_t tag : {TWKDCM_TAG(0x0010, 0x0010), TWKDCM_TAG(0x0010, 0x0020)}) {
    const wchar_t* text = nodeValue(tree, tag);
    for (; text && *text; ++text)
      if (*text > 0xFF) {
        data->putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192");
        break;
      }
  }
  auto copyText = [&](uint32_t tag, bool emptyWhenMissing) {
    const wchar_t* text = nodeValue(tree, tag);
    if (text) return setText(data, tag, encodeText(data, text));
    return emptyWhenMissing ? data->insertEmptyElement(key(tag)).good() : true;
  };
  bool ok = copyText(TWKDCM_TAG(0x0020, 0x000D), false) && copyText(TWKDCM_TAG(0x0020, 0x000E), false) &&
            copyText(kSopInstanceUid, true) && copyText(TWKDCM_TAG(0x0010, 0x0010), false) &&
            copyText(TWKDCM_TAG(0x0010, 0x0020), false) && copyText(TWKDCM_TAG(0x0008, 0x0060), false);
  if (!ok) return nullptr;

  const std::wstring modalityText(modality);
  const char* sopClass = modalityText == L"MR"   ? UID_MRImageStorage
                         : modalityText == L"CT" ? UID_CTImageStorage
                         : modalityText == L"PT" ? UID_PositronEmissionTomographyImageStorage
                                                 : UID_SecondaryCaptureImageStorage;
  setText(data, kSopClassUid, sopClass);

  double orientation[6];
  if (nodeNumbers(tree, kImageOrientation, orientation, 6)) setMultiNumbers(data, kImageOrientation, orientation, 6);
  double position[3] = {0, 0, 0};
  nodeNumbers(tree, kImagePosition, position, 3);
  setMultiNumbers(data, kImagePosition, position, 3);
  double spacing[2];
  if (nodeNumbers(tree, kPixelSpacing, spacing, 2)) setMultiNumbers(data, kPixelSpacing, spacing, 2);
  double thickness = 0, sliceSpacing = 0;
  const bool hasThickness = nodeNumbers(tree, kSliceThickness, &thickness, 1);
  const bool hasSpacing = nodeNumbers(tree, kSpacingBetweenSlices, &sliceSpacing, 1);
  if (hasSpacing || hasThickness) {
    setNumber(data, kSpacingBetweenSlices, hasSpacing ? sliceSpacing : thickness);
    setNumber(data, kSliceThickness, hasThickness ? thickness : sliceSpacing);
  }
  double tr = 0;
  if (nodeNumbers(tree, TWKDCM_TAG(0x0018, 0x0080), &tr, 1)) setNumber(data, TWKDCM_TAG(0x0018, 0x0080), tr);

  data->putAndInsertUint16(DCM_Rows, Uint16(height));
  data->putAndInsertUint16(DCM_Columns, Uint16(width));
  setPixelFormat(data, bitsPerVoxel <= 8 ? 8 : bitsPerVoxel <= 16 ? 16 : 32, false);
  setNumber(data, kTemporalPosition, double(timeIndex + 1));
  setNumber(data, kInstanceNumber, double(sliceIndex + 1));

  if (dyn) {
    auto defined = [](double v) { return std::isfinite(v) && std::fabs(v) < 1e59; };
    if (defined(dyn->echoTime)) setNumber(data, TWKDCM_TAG(0x0018, 0x0081), dyn->echoTime * 1000.0);
    if (defined(dyn->inversionTime)) setNumber(data, TWKDCM_TAG(0x0018, 0x0082), dyn->inversionTime * 1000.0);
    if (defined(dyn->repetitionTime)) setNumber(data, TWKDCM_TAG(0x0018, 0x0080), dyn->repetitionTime * 1000.0);
    if (defined(dyn->flipAngle)) setNumber(data, TWKDCM_TAG(0x0018, 0x1314), dyn->flipAngle);
    if (defined(dyn->bValue)) setNumber(data, TWKDCM_TAG(0x0018, 0x9087), dyn->bValue);
    if (defined(dyn->time)) setText(data, TWKDCM_TAG(0x0008, 0x0032), formatTime(dyn->time));
  }
  return header.release();
}
