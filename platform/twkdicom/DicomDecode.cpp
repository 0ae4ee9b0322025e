// Pixel data into native form, and native pixel data read row by row.

#include "DicomDecode.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dcmtk/dcmdata/dccodec.h"
#include "dcmtk/dcmdata/dcpixel.h"
#include "dcmtk/dcmdata/dcpixseq.h"

#include "DicomInternal.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pixel words are read as little-endian bytes");

namespace twk::dicom {

namespace {

const DcmTagKey kFloatPixelData(0x7FE0, 0x0008);
const DcmTagKey kDoubleFloatPixelData(0x7FE0, 0x0009);

bool fail(std::string* reason, const std::string& why) {
  if (reason) *reason = why;
  return false;
}

bool number(DcmItem* data, const DcmTagKey& key, double& value) {
  return elementNumber(findElement(data, tagOf(key)), 0, value);
}

bool isPartialRange(const std::string& photometric) { return photometric == "YBR_PARTIAL_422"; }

}  // namespace

std::string transferSyntaxUid(DcmFileFormat& file) {
  std::string uid;
  if (DcmMetaInfo* meta = file.getMetaInfo(); meta && elementString(findElement(meta, TWKDCM_TAG(0x0002, 0x0010)), uid)) {
    while (!uid.empty() && (uid.back() == ' ' || uid.back() == '\0')) uid.pop_back();
    if (!uid.empty()) return uid;
  }
  const char* id = DcmXfer(file.getDataset()->getOriginalXfer()).getXferID();
  return id ? id : "";
}

std::string describeTransferSyntax(const std::string& uid) {
  const char* name = nullptr;
  if (uid == "1.2.840.10008.1.2.4.201") name = "High-Throughput JPEG 2000 Image Compression (Lossless Only)";
  else if (uid == "1.2.840.10008.1.2.4.202") name = "High-Throughput JPEG 2000 with RPCL Options Image Compression (Lossless Only)";
  else if (uid == "1.2.840.10008.1.2.4.203") name = "High-Throughput JPEG 2000 Image Compression";
  const DcmXfer xfer(uid.c_str());
  if (!name && xfer.getXfer() != EXS_Unknown) name = xfer.getXferName();
  return name ? uid + " (" + name + ")" : uid;
}

bool decodeToNative(DcmFileFormat& file, std::string* reason) {
  DcmDataset* data = file.getDataset();
  DcmElement* element = nullptr;
  if (data->findAndGetElement(DCM_PixelData, element).bad() || !element) return true;
  const std::string uid = transferSyntaxUid(file);
  if (isHighThroughputJpeg2000(uid)) {
    // The toolkit reads these files as explicit little endian with an encapsulated pixel sequence,
    // which no codec of its own can decode: the frames are decoded here and replace the sequence.
    if (element->ident() != EVR_PixelData) return fail(reason, "the pixel data of " + describeTransferSyntax(uid) + " are not encapsulated");
    auto* pixels = static_cast<DcmPixelData*>(element);
    E_TransferSyntax key = EXS_Unknown;
    const DcmRepresentationParameter* parameter = nullptr;
    pixels->getOriginalRepresentationKey(key, parameter);
    DcmPixelSequence* sequence = nullptr;
    if (pixels->getEncapsulatedRepresentation(key, parameter, sequence).bad() || !sequence)
      return fail(reason, "the pixel data of " + describeTransferSyntax(uid) + " are not encapsulated");
    std::vector<uint8_t> native;
    bool transformed = false;
    std::string why;
    if (!decodeJpeg2000Frames(data, sequence, native, transformed, &why))
      return fail(reason, describeTransferSyntax(uid) + ": " + why);
    Uint16 allocated = 0;
    data->findAndGetUint16(DCM_BitsAllocated, allocated);
    auto* fresh = new DcmPixelData(DCM_PixelData);
    OFCondition status;
    if (allocated <= 8) {
      fresh->setVR(EVR_OB);
      status = fresh->putUint8Array(native.data(), Uint32(native.size()));
    } else {
      fresh->setVR(EVR_OW);
      status = fresh->putUint16Array(reinterpret_cast<const Uint16*>(native.data()), Uint32(native.size() / 2));
    }
    if (status.bad() || data->insert(fresh, OFTrue).bad()) {
      delete fresh;
      return fail(reason, "the decoded pixel data cannot be stored");
    }
    return true;
  }
  if (!uid.empty() && DcmXfer(uid.c_str()).getXfer() == EXS_Unknown)
    return fail(reason, "the transfer syntax " + uid + " is not supported");
  const E_TransferSyntax original = data->getOriginalXfer();
  if (!DcmXfer(original).isEncapsulated()) return true;
  if (!DcmCodecList::canChangeCoding(original, EXS_LittleEndianExplicit))
    return fail(reason, "no decoder reads the transfer syntax " + describeTransferSyntax(uid));
  const OFCondition status = data->chooseRepresentation(EXS_LittleEndianExplicit, nullptr);
  if (status.bad() || !data->canWriteXfer(EXS_LittleEndianExplicit))
    return fail(reason, "the pixel data of " + describeTransferSyntax(uid) + " cannot be decoded: " + status.text());
  return true;
}

bool PixelDescription::subsampled() const {
  return samples == 3 && (photometric == "YBR_FULL_422" || photometric == "YBR_PARTIAL_422");
}

int64_t PixelDescription::bitsPerFrame() const {
  const int64_t perPixel = subsampled() ? 2 : samples;
  return int64_t(rows) * columns * perPixel * bitsAllocated;
}

bool describePixels(DcmItem* data, PixelDescription& d, std::string* reason) {
  d = PixelDescription();
  if (!data) return fail(reason, "no data set");
  if (!findElement(data, TWKDCM_TAG(0x7FE0, 0x0010))) {
    if (findElement(data, tagOf(kFloatPixelData))) d.storage = PixelDescription::Storage::Float32;
    else if (findElement(data, tagOf(kDoubleFloatPixelData))) d.storage = PixelDescription::Storage::Float64;
  }
  double v = 0;
  if (!number(data, DCM_Rows, v) || !(v >= 1 && v <= 65535)) return fail(reason, "no valid number of rows");
  d.rows = int(v);
  if (!number(data, DCM_Columns, v) || !(v >= 1 && v <= 65535)) return fail(reason, "no valid number of columns");
  d.columns = int(v);
  d.samples = number(data, DCM_SamplesPerPixel, v) ? int(v) : 1;
  if (d.samples != 1 && d.samples != 3) return fail(reason, "unsupported samples per pixel");
  switch (d.storage) {
    case PixelDescription::Storage::Integer:
      if (!number(data, DCM_BitsAllocated, v)) return fail(reason, "no bits allocated");
      d.bitsAllocated = int(v);
      if (v != 1 && v != 8 && v != 16 && v != 32) return fail(reason, "unsupported bits allocated");
      break;
    case PixelDescription::Storage::Float32: d.bitsAllocated = 32; break;
    case PixelDescription::Storage::Float64: d.bitsAllocated = 64; break;
  }
  if (d.storage != PixelDescription::Storage::Integer && d.samples != 1)
    return fail(reason, "float pixel data of several samples are not supported");
  d.bitsStored = number(data, DCM_BitsStored, v) && v >= 1 && v <= d.bitsAllocated ? int(v) : d.bitsAllocated;
  d.highBit = number(data, DCM_HighBit, v) && v >= d.bitsStored - 1 && v < d.bitsAllocated ? int(v) : d.bitsStored - 1;
  d.isSigned = d.storage == PixelDescription::Storage::Integer && number(data, DCM_PixelRepresentation, v) && v == 1;
  d.planar = number(data, DCM_PlanarConfiguration, v) && v == 1;
  if (number(data, DCM_NumberOfFrames, v)) {
    if (!(v <= 2147483647.0)) return fail(reason, "no valid number of frames");
    d.frames = v >= 1 ? int64_t(v) : 1;
  }
  elementString(findElement(data, TWKDCM_TAG(0x0028, 0x0004)), d.photometric);
  while (!d.photometric.empty() && d.photometric.back() == ' ') d.photometric.pop_back();
  return true;
}

bool PixelReader::open(DcmFileFormat& file, std::string* reason) {
  DcmDataset* data = file.getDataset();
  bytes_ = nullptr;
  floats_ = nullptr;
  doubles_ = nullptr;
  if (!describePixels(data, d_, reason)) return false;
  const std::string& p = d_.photometric;
  const bool monochrome = p.empty() || p == "MONOCHROME1" || p == "MONOCHROME2";
  const bool colour = p == "RGB" || p == "YBR_FULL" || p == "YBR_FULL_422" || p == "YBR_PARTIAL_422";
  if ((d_.samples == 1 && !monochrome) || (d_.samples == 3 && !colour))
    return fail(reason, "the photometric interpretation " + (p.empty() ? std::string("(none)") : p) +
                            " of " + std::to_string(d_.samples) + " samples per pixel is not supported");
  if (d_.subsampled() && (d_.planar || d_.columns % 2))
    return fail(reason, "the photometric interpretation " + p + " needs interleaved samples and an even number of columns");
  DcmDataset* set = data;
  DcmElement* element = nullptr;
  const DcmTagKey key = d_.storage == PixelDescription::Storage::Float32   ? kFloatPixelData
                        : d_.storage == PixelDescription::Storage::Float64 ? kDoubleFloatPixelData
                                                                           : DCM_PixelData;
  if (set->findAndGetElement(key, element).bad() || !element) return fail(reason, "the file has no pixel data");
  bigEndian_ = DcmXfer(data->getOriginalXfer()).isBigEndian();
  words_ = false;
  OFCondition status = EC_IllegalCall;
  switch (d_.storage) {
    case PixelDescription::Storage::Float32: {
      Float32* values = nullptr;
      status = element->getFloat32Array(values);
      floats_ = values;
      break;
    }
    case PixelDescription::Storage::Float64: {
      Float64* values = nullptr;
      status = element->getFloat64Array(values);
      doubles_ = values;
      break;
    }
    case PixelDescription::Storage::Integer:
      if (d_.bitsAllocated > 8 && element->getVR() == EVR_OW) {
        Uint16* values = nullptr;
        status = element->getUint16Array(values);
        bytes_ = reinterpret_cast<const uint8_t*>(values);
        words_ = true;
      } else {
        Uint8* values = nullptr;
        status = element->getUint8Array(values);
        bytes_ = values;
      }
      break;
  }
  if (status.bad() || (!bytes_ && !floats_ && !doubles_)) return fail(reason, "the pixel data cannot be read");
  length_ = int64_t(element->getLength());
  // Compared by division: a damaged header's frame count times the frame size can overflow.
  const int64_t bits = d_.bitsPerFrame();
  if (bits <= 0 || d_.frames > length_ * 8 / bits)
    return fail(reason, "the pixel data are shorter than the image");
  return true;
}

int64_t PixelReader::sample(int64_t frame, int64_t index) const {
  const int64_t bit = d_.bitsPerFrame() * frame + index * d_.bitsAllocated;
  const uint8_t* s = bytes_ + (bit >> 3);
  uint64_t raw = 0;
  switch (d_.bitsAllocated) {
    case 1: raw = (s[0] >> (bit & 7)) & 1; break;
    case 8: raw = s[0]; break;
    case 16: raw = words_ || !bigEndian_ ? uint64_t(s[0] | (s[1] << 8)) : uint64_t((s[0] << 8) | s[1]); break;
    default:
      if (words_) {
        const uint64_t w0 = uint64_t(s[0] | (s[1] << 8)), w1 = uint64_t(s[2] | (s[3] << 8));
        raw = bigEndian_ ? (w0 << 16) | w1 : (w1 << 16) | w0;
      } else {
        raw = bigEndian_ ? (uint64_t(s[0]) << 24) | (uint64_t(s[1]) << 16) | (uint64_t(s[2]) << 8) | s[3]
                         : (uint64_t(s[3]) << 24) | (uint64_t(s[2]) << 16) | (uint64_t(s[1]) << 8) | s[0];
      }
      break;
  }
  const int shift = d_.highBit + 1 - d_.bitsStored;
  const uint64_t stored = (raw >> shift) & ((uint64_t(1) << d_.bitsStored) - 1);
  if (d_.isSigned && ((stored >> (d_.bitsStored - 1)) & 1)) return int64_t(stored) - (int64_t(1) << d_.bitsStored);
  return int64_t(stored);
}

void PixelReader::row(int64_t frame, int y, double* out) const {
  const int W = d_.columns;
  const int64_t first = int64_t(y) * W;
  if (floats_ || doubles_) {
    const int64_t at = int64_t(d_.rows) * W * frame + first;
    if (floats_)
      for (int x = 0; x < W; ++x) out[x] = double(floats_[at + x]);
    else
      std::memcpy(out, doubles_ + at, size_t(W) * sizeof(double));
    return;
  }
  if (d_.samples == 1) {
    // The common layouts of 16-bit images read directly.
    if (d_.bitsAllocated == 16 && d_.bitsStored == 16 && d_.highBit == 15 && (words_ || !bigEndian_)) {
      const uint8_t* s = bytes_ + (int64_t(d_.rows) * W * frame + first) * 2;
      if (d_.isSigned) {
        for (int x = 0; x < W; ++x) {
          int16_t v;
          std::memcpy(&v, s + 2 * x, 2);
          out[x] = v;
        }
      } else {
        for (int x = 0; x < W; ++x) {
          uint16_t v;
          std::memcpy(&v, s + 2 * x, 2);
          out[x] = v;
        }
      }
      return;
    }
    for (int x = 0; x < W; ++x) out[x] = double(sample(frame, first + x));
    return;
  }
  const int64_t count = int64_t(d_.rows) * W;
  if (d_.subsampled()) {
    // Two pixels share four samples: Y of the first, Y of the second, then Cb and Cr.
    const double full = double((uint64_t(1) << d_.bitsStored) - 1);
    const double offset = 16.0 * (full + 1) / 256.0, range = 219.0 * (full + 1) / 256.0;
    for (int x = 0; x < W; ++x) {
      const double luma = double(sample(frame, (first + (x & ~1)) * 2 + (x & 1)));
      out[x] = isPartialRange(d_.photometric) ? std::clamp(std::round((luma - offset) * full / range), 0.0, full) : luma;
    }
    return;
  }
  const bool rgb = d_.photometric == "RGB";
  for (int x = 0; x < W; ++x) {
    const int64_t i = first + x;
    int64_t c[3];
    for (int s = 0; s < 3; ++s) c[s] = sample(frame, d_.planar ? s * count + i : i * 3 + s);
    // Full-range YCbCr carries the luminance in its first sample.
    out[x] = rgb ? double(std::llround(0.299 * double(c[0]) + 0.587 * double(c[1]) + 0.114 * double(c[2]))) : double(c[0]);
  }
}

bool PixelReader::frameBytes(int64_t frame, std::vector<uint8_t>& out) const {
  if (frame < 0 || frame >= d_.frames) return false;
  const int64_t bits = d_.bitsPerFrame();
  out.assign(size_t((bits + 7) / 8), 0);
  if (floats_ || doubles_) {
    const uint8_t* from = floats_ ? reinterpret_cast<const uint8_t*>(floats_) : reinterpret_cast<const uint8_t*>(doubles_);
    std::memcpy(out.data(), from + bits / 8 * frame, out.size());
    return true;
  }
  const int64_t firstBit = bits * frame;
  if (firstBit % 8 == 0) {
    std::memcpy(out.data(), bytes_ + firstBit / 8, out.size());
  } else {
    for (int64_t b = 0; b < bits; ++b) {
      const int64_t at = firstBit + b;
      if ((bytes_[at >> 3] >> (at & 7)) & 1) out[size_t(b >> 3)] |= uint8_t(1u << (b & 7));
    }
  }
  if (!bigEndian_ || d_.bitsAllocated < 16) return true;
  // Into little-endian order: words of the toolkit are in host order already; a 32-bit value still
  // has its two words in the file's order.
  const size_t width = size_t(d_.bitsAllocated / 8);
  for (size_t i = 0; i + width <= out.size(); i += width) {
    if (words_) {
      if (width == 4) {
        std::swap(out[i], out[i + 2]);
        std::swap(out[i + 1], out[i + 3]);
      }
    } else {
      std::reverse(out.begin() + long(i), out.begin() + long(i + width));
    }
  }
  return true;
}

}  // namespace twk::dicom
