// Scanner-specific facts: private blocks, the private image header, mosaics and gradient directions.

#include "DicomVendor.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "DicomInternal.h"

namespace twk::dicom {

namespace {

uint32_t readUint32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// count numbers of an element: text or binary kinds, and the raw doubles or floats of a value
// read without its VR (implicit VR files).
bool numbersOf(DcmElement* element, int count, double* values) {
  if (!element) return false;
  bool all = true;
  for (int i = 0; i < count && all; ++i) all = elementNumber(element, i, values[i]);
  if (all) return true;
  const DcmEVR vr = element->getTag().getEVR();
  if (vr != EVR_UN && vr != EVR_UNKNOWN && vr != EVR_OB) return false;
  Uint8* bytes = nullptr;
  const Uint32 length = element->getLength();
  if (element->getUint8Array(bytes).bad() || !bytes) return false;
  for (int i = 0; i < count; ++i) {
    if (length == Uint32(count) * 8) {
      std::memcpy(&values[i], bytes + 8 * i, 8);
    } else if (length == Uint32(count) * 4) {
      float f;
      std::memcpy(&f, bytes + 4 * i, 4);
      values[i] = f;
    } else {
      return false;
    }
    if (!std::isfinite(values[i])) return false;
  }
  return true;
}

bool unitVector(double v[3]) {
  const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (!(length > 1e-6) || !std::isfinite(length)) return false;
  for (int i = 0; i < 3; ++i) v[i] /= length;
  return true;
}

bool firstItem(DcmItem* data, uint32_t sequenceTag, DcmItem*& item) {
  item = nullptr;
  return data && data->findAndGetSequenceItem(key(sequenceTag), item, 0).good() && item;
}

}  // namespace

DcmElement* privateElement(DcmItem* data, unsigned group, const char* creatorPart, unsigned element,
                           const char* excludedPart) {
  if (!data || !creatorPart) return nullptr;
  // The item's elements are kept in tag order: one walk reaches the creators (gggg,0010-00FF) of
  // the group, instead of a search for each of the 240 possible blocks.
  std::vector<unsigned> blocks;
  for (DcmObject* object = data->nextInContainer(nullptr); object; object = data->nextInContainer(object)) {
    const DcmTagKey key = object->getTag();
    if (key.getGroup() < group) continue;
    if (key.getGroup() > group || key.getElement() > 0xFF) break;
    std::string creator;
    if (key.getElement() >= 0x10 && elementString(static_cast<DcmElement*>(object), creator) &&
        creator.find(creatorPart) != std::string::npos && (!excludedPart || creator.find(excludedPart) == std::string::npos))
      blocks.push_back(key.getElement());
  }
  for (unsigned block : blocks)
    if (DcmElement* found = findElement(data, TWKDCM_TAG(group, (block << 8) | (element & 0xFF)))) return found;
  return nullptr;
}

bool privateImageHeaderNumbers(DcmItem* data, const char* name, std::vector<double>& values) {
  DcmElement* element = privateElement(data, 0x0029, "SIEMENS CSA HEADER", 0x10);
  Uint8* bytes = nullptr;
  if (!element || !name || element->getUint8Array(bytes).bad() || !bytes) return false;
  const size_t n = element->getLength();
  size_t at = n >= 8 && std::memcmp(bytes, "SV10", 4) == 0 ? 8 : 0;
  if (at + 8 > n) return false;
  const uint32_t entries = readUint32(bytes + at);
  at += 8;
  if (entries < 1 || entries > 1000) return false;
  // Each entry: a name of 64 bytes, VM, VR (4 bytes), a type number, the item count and a marker;
  // each item: four 32-bit words (the second its length), then its text padded to 4 bytes.
  for (uint32_t e = 0; e < entries; ++e) {
    if (n - at < 84) return false;
    char entryName[65] = {};
    std::memcpy(entryName, bytes + at, 64);
    const uint32_t items = readUint32(bytes + at + 76);
    at += 84;
    if (items > 10000) return false;
    const bool wanted = std::strcmp(entryName, name) == 0;
    std::vector<double> found;
    for (uint32_t i = 0; i < items; ++i) {
      if (n - at < 16) return false;
      const uint32_t length = readUint32(bytes + at + 4);
      at += 16;
      if (length > n - at) return false;
      if (wanted && length > 0) {
        std::string text(reinterpret_cast<const char*>(bytes + at), length);
        text = text.substr(0, text.find('\0'));
        double v = 0;
        char* end = nullptr;
        v = std::strtod(text.c_str(), &end);
        if (end != text.c_str() && std::isfinite(v)) found.push_back(v);
      }
      at += std::min<size_t>((size_t(length) + 3) & ~size_t(3), n - at);
    }
    if (wanted) {
      values = found;
      return !found.empty();
    }
  }
  return false;
}

int mosaicImageCount(DcmItem* data) {
  if (DcmElement* element = privateElement(data, 0x0019, "SIEMENS", 0x0A)) {
    double count = 0;
    Uint8* bytes = nullptr;
    const DcmEVR vr = element->getTag().getEVR();
    if (element->getLength() == 2 && (vr == EVR_UN || vr == EVR_UNKNOWN || vr == EVR_OB) && element->getUint8Array(bytes).good() &&
        bytes)
      count = bytes[0] | (bytes[1] << 8);  // a US value read without its VR: two little-endian bytes
    else if (!numbersOf(element, 1, &count))
      count = 0;
    if (count >= 1) return count <= 65535 ? int(count) : 0;
  }
  std::string type;
  std::vector<double> values;
  if (elementString(findElement(data, TWKDCM_TAG(0x0008, 0x0008)), type) && type.find("MOSAIC") != std::string::npos &&
      privateImageHeaderNumbers(data, "NumberOfImagesInMosaic", values) && values[0] >= 1 && values[0] <= 65535)
    return int(values[0]);
  return 0;
}

bool mosaicSliceNormal(DcmItem* data, double normal[3]) {
  std::vector<double> values;
  if (!privateImageHeaderNumbers(data, "SliceNormalVector", values) || values.size() < 3) return false;
  double v[3] = {values[0], values[1], values[2]};
  if (!unitVector(v)) return false;
  std::copy(v, v + 3, normal);
  return true;
}

bool diffusionGradientDirection(DcmItem* data, double direction[3]) {
  if (!data) return false;
  const uint32_t kDirection = TWKDCM_TAG(0x0018, 0x9089);
  double v[3];
  auto give = [&]() {
    if (!unitVector(v)) return false;
    std::copy(v, v + 3, direction);
    return true;
  };
  if (numbersOf(findElement(data, kDirection), 3, v)) return give();
  // The MR Diffusion macro, as a sequence or (in frames split from enhanced files) flattened.
  DcmItem* diffusion = nullptr;
  DcmItem* gradient = nullptr;
  if (firstItem(data, TWKDCM_TAG(0x0018, 0x9076), gradient) && numbersOf(findElement(gradient, kDirection), 3, v))
    return give();
  if (firstItem(data, TWKDCM_TAG(0x0018, 0x9117), diffusion) &&
      (numbersOf(findElement(diffusion, kDirection), 3, v) ||
       (firstItem(diffusion, TWKDCM_TAG(0x0018, 0x9076), gradient) && numbersOf(findElement(gradient, kDirection), 3, v))))
    return give();
  if (numbersOf(privateElement(data, 0x0019, "SIEMENS", 0x0E), 3, v)) return give();
  std::vector<double> values;
  if (privateImageHeaderNumbers(data, "DiffusionGradientDirection", values) && values.size() >= 3) {
    std::copy(values.begin(), values.begin() + 3, v);
    return give();
  }
  if (numbersOf(privateElement(data, 0x0019, "GEMS", 0xBB), 1, &v[0]) &&
      numbersOf(privateElement(data, 0x0019, "GEMS", 0xBC), 1, &v[1]) &&
      numbersOf(privateElement(data, 0x0019, "GEMS", 0xBD), 1, &v[2]))
    return give();
  if (numbersOf(privateElement(data, 0x2005, "Philips", 0xB0), 1, &v[0]) &&
      numbersOf(privateElement(data, 0x2005, "Philips", 0xB1), 1, &v[1]) &&
      numbersOf(privateElement(data, 0x2005, "Philips", 0xB2), 1, &v[2]))
    return give();
  return false;
}

}  // namespace twk::dicom
