// Pixel access: the first frame of a file as 32-bit values, pixel data facts, and splitting
// multi-frame files into single-frame files.

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "dcmtk/dcmdata/dcpixseq.h"
#include "dcmtk/dcmdata/dcpxitem.h"

#include "DicomInternal.h"
#include "TextCodec.h"
#include "TwkMem.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pixel words are read as little-endian bytes");

using namespace twk::dicom;

namespace {

struct PixelLayout {
  int rows = 0, columns = 0, samples = 1;
  int bitsAllocated = 0, bitsStored = 0, highBit = 0;
  bool isSigned = false;
  int planar = 0;
  int64_t frames = 1;
  std::string photometric;

  int64_t samplesPerFrame() const { return int64_t(rows) * columns * samples; }
  int64_t bitsPerFrame() const { return samplesPerFrame() * bitsAllocated; }
};

bool readLayout(DcmItem* data, PixelLayout& layout, std::string& reason) {
  Uint16 rows = 0, columns = 0, samples = 1, allocated = 0, stored = 0, high = 0, representation = 0, planar = 0;
  if (data->findAndGetUint16(DCM_Rows, rows).bad() || data->findAndGetUint16(DCM_Columns, columns).bad() ||
      rows == 0 || columns == 0) {
    reason = "the image size is missing";
    return false;
  }
  if (data->findAndGetUint16(DCM_BitsAllocated, allocated).bad() ||
      (allocated != 1 && allocated != 8 && allocated != 16 && allocated != 32)) {
    reason = "unsupported bits allocated";
    return false;
  }
  if (data->findAndGetUint16(DCM_BitsStored, stored).bad() || stored == 0) stored = allocated;
  if (data->findAndGetUint16(DCM_HighBit, high).bad()) high = Uint16(stored - 1);
  data->findAndGetUint16(DCM_SamplesPerPixel, samples);
  data->findAndGetUint16(DCM_PixelRepresentation, representation);
  data->findAndGetUint16(DCM_PlanarConfiguration, planar);
  if (stored > allocated || high >= allocated || high + 1 < stored || (samples != 1 && samples != 3)) {
    reason = "inconsistent pixel description";
    return false;
  }
  layout.rows = rows;
  layout.columns = columns;
  layout.samples = samples;
  layout.bitsAllocated = allocated;
  layout.bitsStored = stored;
  layout.highBit = high;
  layout.isSigned = representation == 1;
  layout.planar = planar;
  Sint32 frames = 1;
  if (data->findAndGetSint32(DCM_NumberOfFrames, frames).good() && frames > 1) layout.frames = frames;
  OFString photometric;
  if (data->findAndGetOFString(DCM_PhotometricInterpretation, photometric).good()) layout.photometric = photometric.c_str();
  return true;
}

// The native pixel bytes of the data set in little-endian order (after decompression).
bool nativePixels(DcmDataset* data, const uint8_t*& bytes, int64_t& length, std::string& reason) {
  if (data->chooseRepresentation(EXS_LittleEndianExplicit, nullptr).bad()) {
    reason = "the pixel data cannot be decoded";
    return false;
  }
  DcmElement* element = findElement(data, TWKDCM_TAG(0x7FE0, 0x0010));
  if (!element) {
    reason = "the file has no pixel data";
    return false;
  }
  Uint16 allocated = 0;
  data->findAndGetUint16(DCM_BitsAllocated, allocated);
  if (allocated > 8) {
    // Words in host order, whatever the byte order of the file.
    Uint16* words = nullptr;
    if (element->getUint16Array(words).bad() || !words) {
      reason = "the pixel data cannot be read";
      return false;
    }
    bytes = reinterpret_cast<const uint8_t*>(words);
  } else {
    Uint8* raw = nullptr;
    if (element->getUint8Array(raw).bad() || !raw) {
      reason = "the pixel data cannot be read";
      return false;
    }
    bytes = raw;
  }
  length = element->getLength();
  return true;
}

// The bytes of one frame (bit-exact for 1-bit data), 32-bit values of big-endian files put into
// little-endian order (their 16-bit words arrive swapped).
bool frameBytes(DcmDataset* data, const PixelLayout& layout, const uint8_t* bytes, int64_t length, int64_t frame,
                std::vector<uint8_t>& out) {
  const int64_t bits = layout.bitsPerFrame();
  const int64_t firstBit = bits * frame;
  if ((firstBit + bits + 7) / 8 > length) return false;
  out.assign(size_t((bits + 7) / 8), 0);
  if (firstBit % 8 == 0) {
    std::memcpy(out.data(), bytes + firstBit / 8, out.size());
  } else {
    for (int64_t b = 0; b < bits; ++b) {
      const int64_t at = firstBit + b;
      if ((bytes[at >> 3] >> (at & 7)) & 1) out[size_t(b >> 3)] |= uint8_t(1u << (b & 7));
    }
  }
  if (layout.bitsAllocated == 32 && DcmXfer(data->getOriginalXfer()).isBigEndian())
    for (size_t i = 0; i + 4 <= out.size(); i += 4) {
      std::swap(out[i], out[i + 2]);
      std::swap(out[i + 1], out[i + 3]);
    }
  return true;
}

int32_t sampleValue(const PixelLayout& layout, const uint8_t* frame, int64_t k) {
  uint32_t raw = 0;
  switch (layout.bitsAllocated) {
    case 1: raw = (frame[k >> 3] >> (k & 7)) & 1; break;
    case 8: raw = frame[k]; break;
    case 16: raw = uint32_t(frame[2 * k]) | (uint32_t(frame[2 * k + 1]) << 8); break;
    default: std::memcpy(&raw, frame + 4 * k, 4); break;
  }
  const int shift = layout.highBit + 1 - layout.bitsStored;
  const uint32_t mask = layout.bitsStored >= 32 ? 0xFFFFFFFFu : ((1u << layout.bitsStored) - 1u);
  uint32_t value = (raw >> shift) & mask;
  if (layout.isSigned && layout.bitsStored < 32 && (value & (1u << (layout.bitsStored - 1)))) value |= ~mask;
  return static_cast<int32_t>(value);
}

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
// elements of the target, replacing what stands there.
void flattenFunctionalGroups(DcmItem* groups, DcmItem* target) {
  if (!groups) return;
  for (unsigned long i = 0; i < groups->card(); ++i) {
    DcmElement* macro = groups->getElement(i);
    if (!macro) continue;
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
    setText(data, TWKDCM_TAG(0x0008, 0x0022), when.substr(0, 8));
    std::string clock = when.substr(8);
    const size_t zone = clock.find_first_of("+-");
    if (zone != std::string::npos) clock = clock.substr(0, zone);
    double seconds = 0;
    if (!clock.empty() && parseTime(clock, seconds)) setText(data, TWKDCM_TAG(0x0008, 0x0032), clock);
  }
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
  if (!loadWholeFile(path, file, &reason)) return false;
  DcmDataset* data = file.getDataset();
  PixelLayout layout;
  const uint8_t* bytes = nullptr;
  int64_t length = 0;
  if (!readLayout(data, layout, reason) || !nativePixels(data, bytes, length, reason)) return false;
  // Decoding may have changed the colour model (YBR to RGB); read the description again.
  if (!readLayout(data, layout, reason)) return false;
  if (layout.samples == 3 && layout.photometric != "RGB" && layout.photometric != "YBR_FULL") return false;
  std::vector<uint8_t> frame;
  if (!frameBytes(data, layout, bytes, length, 0, frame)) return false;
  const int64_t count = int64_t(layout.rows) * layout.columns;
  auto* values = static_cast<int32_t*>(pf_malloc(count * int64_t(sizeof(int32_t))));
  if (!values) return false;
  if (layout.samples == 1) {
    for (int64_t i = 0; i < count; ++i) values[i] = sampleValue(layout, frame.data(), i);
  } else {
    for (int64_t i = 0; i < count; ++i) {
      int32_t c[3];
      for (int s = 0; s < 3; ++s) c[s] = sampleValue(layout, frame.data(), layout.planar ? s * count + i : i * 3 + s);
      // YBR_FULL already carries the luminance in its first sample.
      values[i] = layout.photometric == "RGB" ? int32_t(std::lround(0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2])) : c[0];
    }
  }
  *width = layout.columns;
  *height = layout.rows;
  *pixels = values;
  *isSigned = layout.samples == 1 && layout.isSigned;
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

  PixelLayout layout;
  const uint8_t* bytes = nullptr;
  int64_t length = 0;
  if (!readLayout(data, layout, reason) || !nativePixels(data, bytes, length, reason) ||
      !readLayout(data, layout, reason))
    return report.fail(CString(reason.c_str()));
  // Compared by division: the frame count times the frame size of a damaged file can overflow.
  if (layout.frames > length * 8 / layout.bitsPerFrame()) return report.fail(L"The pixel data are truncated");

  // Keep the pixel data and the functional groups aside, so that the per-frame copies stay small.
  std::unique_ptr<DcmElement> pixelData(data->remove(DCM_PixelData));
  std::unique_ptr<DcmElement> shared(data->remove(DcmTagKey(0x5200, 0x9229)));
  std::unique_ptr<DcmElement> perFrame(data->remove(DcmTagKey(0x5200, 0x9230)));
  data->findAndDeleteElement(DCM_NumberOfFrames);
  data->findAndDeleteElement(DCM_FrameIncrementPointer);
  std::string sopClass;
  elementString(findElement(data, TWKDCM_TAG(0x0008, 0x0016)), sopClass);
  if (const char* single = singleFrameClass(sopClass)) setText(data, TWKDCM_TAG(0x0008, 0x0016), single);

  auto itemOf = [](DcmElement* element, unsigned long index) -> DcmItem* {
    if (!element || element->getTag().getEVR() != EVR_SQ) return nullptr;
    auto* sequence = static_cast<DcmSequenceOfItems*>(element);
    return index < sequence->card() ? sequence->getItem(index) : nullptr;
  };

  std::vector<uint8_t> frame;
  for (int64_t f = 0; f < layout.frames; ++f) {
    if (!frameBytes(data, layout, bytes, length, f, frame)) return report.fail(L"The pixel data are truncated");
    auto single = std::make_unique<DcmFileFormat>();
    DcmDataset* out = single->getDataset();
    out->copyFrom(*data);
    flattenFunctionalGroups(itemOf(shared.get(), 0), out);
    flattenFunctionalGroups(itemOf(perFrame.get(), static_cast<unsigned long>(f)), out);
    mapFrameElements(out);
    setText(out, TWKDCM_TAG(0x0008, 0x0018), newUid());
    setNumber(out, TWKDCM_TAG(0x0020, 0x0013), double(f + 1));
    auto* pixels = new DcmPixelData(DCM_PixelData);
    OFCondition status;
    if (layout.bitsAllocated <= 8) {
      pixels->setVR(EVR_OB);
      status = pixels->putUint8Array(frame.data(), static_cast<unsigned long>(frame.size()));
    } else {
      pixels->setVR(EVR_OW);
      status = pixels->putUint16Array(reinterpret_cast<const Uint16*>(frame.data()),
                                      static_cast<unsigned long>(frame.size() / 2));
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
