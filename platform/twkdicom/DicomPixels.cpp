// Pixel access: the first frame of a file as 32-bit values, pixel data facts, and splitting
// multi-frame files into single-frame files.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "dcmtk/dcmdata/dcpixseq.h"
#include "dcmtk/dcmdata/dcpxitem.h"

#include "DicomDecode.h"
#include "DicomInternal.h"
#include "TextCodec.h"
#include "TwkMem.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pixel words are read as little-endian bytes");

using namespace twk::dicom;

namespace {

std::wstring fileTitle(const wchar_t* path) {
  std::filesystem::path p(twk::pathToNative(path));
  return twk::fromUtf8(p.stem().string());
}

// Storage classes of single-frame images that the enhanced classes split into.
const char* singleFrameClass(const std::string& sopClass) {
  static const struct { const char* enhanced; const char* single; } classes[] = {
      {UID_EnhancedMRImageStorage, UID_MRImageStorage},
      {UID_LegacyConvertedEnhancedMRImageStorage, UID_MRImageStorage},
      {UID_EnhancedCTImageStorage, UID_CTImageStorage},
      {UID_LegacyConvertedEnhancedCTImageStorage, UID_CTImageStorage},
      {UID_EnhancedPETImageStorage, UID_PositronEmissionTomographyImageStorage},
      {UID_LegacyConvertedEnhancedPETImageStorage, UID_PositronEmissionTomographyImageStorage},
  };
  for (const auto& entry : classes)
    if (sopClass == entry.enhanced) return entry.single;
  return nullptr;
}

// The elements of one functional-groups item (each macro is a sequence of one item) as plain
// elements of the target, replacing what stands there. Private macros and standard ones are taken
// in separate passes: vendors copy positions into private per-frame sequences that need not agree
// with the standard macros, so the private pass goes first and the standard one overrides it.
void flattenFunctionalGroups(DcmItem* groups, DcmItem* target, bool privateMacros) {
  if (!groups) return;
  for (unsigned long i = 0; i < groups->card(); ++i) {
    DcmElement* macro = groups->getElement(i);
    if (!macro || macro->getTag().isPrivate() != privateMacros) continue;
    if (macro->getTag().getEVR() != EVR_SQ) {
      target->insert(static_cast<DcmElement*>(macro->clone()), OFTrue);
      continue;
    }
    auto* sequence = static_cast<DcmSequenceOfItems*>(macro);
    if (sequence->card() == 0) continue;
    DcmItem* item = sequence->getItem(0);
    for (unsigned long j = 0; j < item->card(); ++j)
      if (DcmElement* element = item->getElement(j)) target->insert(static_cast<DcmElement*>(element->clone()), OFTrue);
  }
}

// Plain elements that single-frame readers look for, from their functional-group forms.
void mapFrameElements(DcmItem* data) {
  double value = 0;
  if (elementNumber(findElement(data, TWKDCM_TAG(0x0018, 0x9082)), 0, value))
    setNumber(data, TWKDCM_TAG(0x0018, 0x0081), value);
  if (elementNumber(findElement(data, TWKDCM_TAG(0x0020, 0x9128)), 0, value))
    setNumber(data, TWKDCM_TAG(0x0020, 0x0100), value);
  std::string when;
  if (elementString(findElement(data, TWKDCM_TAG(0x0018, 0x9074)), when) && when.size() >= 8) {
    // The frame's own acquisition date and time replace the whole file's.
    setText(data, TWKDCM_TAG(0x0008, 0x002A), when);
    setText(data, TWKDCM_TAG(0x0008, 0x0022), when.substr(0, 8));
    std::string clock = when.substr(8);
    const size_t zone = clock.find_first_of("+-");
    if (zone != std::string::npos) clock = clock.substr(0, zone);
    double seconds = 0;
    if (!clock.empty() && parseTime(clock, seconds)) setText(data, TWKDCM_TAG(0x0008, 0x0032), clock);
  }
}

// The planes of a dose grid: frame f lies at the image position moved along the normal of the
// orientation by the frame's offset in the Grid Frame Offset Vector (3004,000C) less the first
// offset, which reads both the relative form (first offset 0) and the absolute one (offsets are the
// planes' z, the first one that of the image position).
struct DosePlanes {
  bool valid = false;
  std::vector<std::array<double, 3>> positions;
};

DosePlanes dosePlanes(DcmItem* data, int64_t frames) {
  DosePlanes planes;
  DcmElement* offsets = findElement(data, TWKDCM_TAG(0x3004, 0x000C));
  double position[3], orientation[6], first = 0;
  if (!offsets || elementCount(offsets) < frames || !getNumbers(data, TWKDCM_TAG(0x0020, 0x0032), position, 3) ||
      !getNumbers(data, TWKDCM_TAG(0x0020, 0x0037), orientation, 6) || !elementNumber(offsets, 0, first))
    return planes;
  const double* r = orientation;
  const double* c = orientation + 3;
  double normal[3] = {r[1] * c[2] - r[2] * c[1], r[2] * c[0] - r[0] * c[2], r[0] * c[1] - r[1] * c[0]};
  const double length = std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
  if (!(length > 0)) return planes;
  for (double& n : normal) n /= length;
  for (int64_t f = 0; f < frames; ++f) {
    double offset = 0;
    if (!elementNumber(offsets, int(f), offset)) return DosePlanes();
    const double along = offset - first;
    planes.positions.push_back({position[0] + normal[0] * along, position[1] + normal[1] * along,
                                position[2] + normal[2] * along});
  }
  planes.valid = true;
  return planes;
}

class SplitReport {
 public:
  SplitReport(bool show, const wchar_t* path) : show_(show), path_(path) {}
  bool fail(const CString& cause) {
    if (show_) reportError("TWKDCM_SplitMultiframeFile", CString(path_) + L" : " + cause);
    return false;
  }

 private:
  bool show_;
  const wchar_t* path_;
};

}  // namespace

bool TWKDCM_GetImage(const wchar_t* path, int* width, int* height, int32_t** pixels, bool* isSigned) {
  if (!path || !width || !height || !pixels || !isSigned) return false;
  DecoderScope decoders;
  DcmFileFormat file;
  std::string reason;
  PixelReader reader;
  if (!loadWholeFile(path, file, &reason) || !decodeToNative(file, &reason) || !reader.open(file, &reason)) return false;
  const PixelDescription& d = reader.description();
  const int64_t count = int64_t(d.rows) * d.columns;
  auto* values = static_cast<int32_t*>(pf_malloc(count * int64_t(sizeof(int32_t))));
  if (!values) return false;
  std::vector<double> row(size_t(d.columns));
  for (int y = 0; y < d.rows; ++y) {
    reader.row(0, y, row.data());
    for (int x = 0; x < d.columns; ++x) {
      const double v = std::clamp(row[size_t(x)], -2147483648.0, 2147483647.0);
      values[int64_t(y) * d.columns + x] = int32_t(std::isfinite(v) ? std::llround(v) : 0);
    }
  }
  *width = d.columns;
  *height = d.rows;
  *pixels = values;
  *isSigned = d.samples == 1 && (d.isSigned || d.storage != PixelDescription::Storage::Integer);
  return true;
}

bool TWKDCM_GetPixelDataInfo(const wchar_t* path, int64_t* pixelDataSize, CString* transferSyntax) {
  if (!path || !pixelDataSize || !transferSyntax) return false;
  const std::string native = twk::pathToNative(path);
  std::error_code error;
  if (!std::filesystem::is_regular_file(native, error)) return false;
  DcmFileFormat file;
  // Large values stay in the file: only their lengths are needed.
  if (file.loadFile(OFFilename(native.c_str())).bad() || !looksLikeDicom(file)) return false;
  DcmDataset* data = file.getDataset();
  DcmElement* element = findElement(data, TWKDCM_TAG(0x7FE0, 0x0010));
  if (!element) return false;
  const E_TransferSyntax xfer = data->getOriginalXfer();
  const DcmXfer info(xfer);
  int64_t size = 0;
  if (info.isEncapsulated()) {
    DcmPixelSequence* sequence = nullptr;
    auto* pixelData = static_cast<DcmPixelData*>(element);
    if (pixelData->getEncapsulatedRepresentation(xfer, nullptr, sequence).bad() || !sequence) return false;
    // Item 0 is the offset table, the others are the compressed fragments.
    for (unsigned long i = 1; i < sequence->card(); ++i) {
      DcmPixelItem* item = nullptr;
      if (sequence->getItem(item, i).good() && item) size += item->getLength();
    }
  } else {
    size = element->getLength();
  }
  *pixelDataSize = size;
  *transferSyntax = CString(info.getXferName());
  return true;
}

bool TWKDCM_SplitMultiframeFile(const wchar_t* path, const wchar_t* targetFolder, const wchar_t* name,
                                bool copySingleFrame, bool showMessages) {
  SplitReport report(showMessages, path);
  if (!path || !targetFolder || !*targetFolder) return report.fail(L"No file or target folder");
  const std::filesystem::path folder(twk::pathToNative(targetFolder));
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!std::filesystem::is_directory(folder, error)) return report.fail(CString(L"Unable to create a folder : ") + targetFolder);

  DecoderScope decoders;
  DcmFileFormat file;
  std::string reason;
  if (!loadWholeFile(path, file, &reason)) return report.fail(CString(reason.c_str()));
  DcmDataset* data = file.getDataset();
  const std::wstring stem = name && *name ? std::wstring(name) : fileTitle(path);

  Sint32 frames = 1;
  if (data->findAndGetSint32(DCM_NumberOfFrames, frames).bad() || frames <= 1) {
    if (!copySingleFrame) return report.fail(L"The file holds a single frame");
    const std::filesystem::path source(twk::pathToNative(path));
    const std::filesystem::path target =
        name && *name ? folder / (twk::toUtf8(stem) + ".dcm") : folder / source.filename();
    if (std::filesystem::exists(target, error) && std::filesystem::equivalent(source, target, error)) return true;
    if (!std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing, error))
      return report.fail(CString(L"Cannot copy to ") + CString(twk::fromUtf8(target.string())));
    return true;
  }

  PixelReader reader;
  if (!decodeToNative(file, &reason) || !reader.open(file, &reason)) return report.fail(CString(reason.c_str()));
  const PixelDescription& layout = reader.description();
  const DcmTagKey pixelTag = layout.storage == PixelDescription::Storage::Float32   ? DcmTagKey(0x7FE0, 0x0008)
                             : layout.storage == PixelDescription::Storage::Float64 ? DcmTagKey(0x7FE0, 0x0009)
                                                                                    : DCM_PixelData;

  // Keep the pixel data and the functional groups aside, so that the per-frame copies stay small
  // (the reader keeps reading the pixel data element, which lives on here).
  std::unique_ptr<DcmElement> pixelData(data->remove(pixelTag));
  std::unique_ptr<DcmElement> shared(data->remove(DcmTagKey(0x5200, 0x9229)));
  std::unique_ptr<DcmElement> perFrame(data->remove(DcmTagKey(0x5200, 0x9230)));
  data->findAndDeleteElement(DCM_NumberOfFrames);
  data->findAndDeleteElement(DCM_FrameIncrementPointer);
  std::string sopClass;
  elementString(findElement(data, TWKDCM_TAG(0x0008, 0x0016)), sopClass);
  if (const char* single = singleFrameClass(sopClass)) setText(data, TWKDCM_TAG(0x0008, 0x0016), single);
  const DosePlanes dose = dosePlanes(data, layout.frames);

  auto itemOf = [](DcmElement* element, unsigned long index) -> DcmItem* {
    if (!element || element->getTag().getEVR() != EVR_SQ) return nullptr;
    auto* sequence = static_cast<DcmSequenceOfItems*>(element);
    return index < sequence->card() ? sequence->getItem(index) : nullptr;
  };

  std::vector<uint8_t> frame;
  for (int64_t f = 0; f < layout.frames; ++f) {
    if (!reader.frameBytes(f, frame)) return report.fail(L"The pixel data are truncated");
    auto single = std::make_unique<DcmFileFormat>();
    DcmDataset* out = single->getDataset();
    out->copyFrom(*data);
    DcmItem* sharedGroups = itemOf(shared.get(), 0);
    DcmItem* frameGroups = itemOf(perFrame.get(), static_cast<unsigned long>(f));
    for (bool privateMacros : {true, false}) {
      flattenFunctionalGroups(sharedGroups, out, privateMacros);
      flattenFunctionalGroups(frameGroups, out, privateMacros);
    }
    mapFrameElements(out);
    if (dose.valid) setMultiNumbers(out, TWKDCM_TAG(0x0020, 0x0032), dose.positions[size_t(f)].data(), 3);
    setText(out, TWKDCM_TAG(0x0008, 0x0018), newUid());
    setNumber(out, TWKDCM_TAG(0x0020, 0x0013), double(f + 1));
    DcmElement* pixels = nullptr;
    OFCondition status;
    switch (layout.storage) {
      case PixelDescription::Storage::Float32: {
        auto* values = new DcmOtherFloat(DcmTag(pixelTag, EVR_OF));
        status = values->putFloat32Array(reinterpret_cast<const Float32*>(frame.data()), Uint32(frame.size() / 4));
        pixels = values;
        break;
      }
      case PixelDescription::Storage::Float64: {
        auto* values = new DcmOtherDouble(DcmTag(pixelTag, EVR_OD));
        status = values->putFloat64Array(reinterpret_cast<const Float64*>(frame.data()), Uint32(frame.size() / 8));
        pixels = values;
        break;
      }
      case PixelDescription::Storage::Integer: {
        auto* values = new DcmPixelData(DCM_PixelData);
        if (layout.bitsAllocated <= 8) {
          values->setVR(EVR_OB);
          status = values->putUint8Array(frame.data(), static_cast<unsigned long>(frame.size()));
        } else {
          values->setVR(EVR_OW);
          status = values->putUint16Array(reinterpret_cast<const Uint16*>(frame.data()),
                                          static_cast<unsigned long>(frame.size() / 2));
        }
        pixels = values;
        break;
      }
    }
    if (status.bad() || out->insert(pixels, OFTrue).bad()) {
      delete pixels;
      return report.fail(L"Cannot build the frame's pixel data");
    }
    wchar_t number[16];
    std::swprintf(number, 16, L"_%04u.dcm", unsigned(f + 1));
    const std::filesystem::path target = folder / twk::toUtf8(stem + number);
    if (!saveFileSafely(*single, target.string(), EXS_LittleEndianExplicit, EWM_createNewMeta, &reason))
      return report.fail(CString(L"Cannot write ") + CString(twk::fromUtf8(target.string())) + L" : " +
                         CString(reason.c_str()));
  }
  return true;
}
