#include "dicom/DicomCore.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>

#include "dcmtk/dcmdata/dcistrmb.h"
#include "dcmtk/dcmdata/dcostrmb.h"

#include "DicomVendor.h"
#include "TextCodec.h"

namespace twk::dcm {

namespace {

// The group of the program's private element and its creator.
const Uint16 kPrivateGroup = 0x0071;
const char kPrivateCreator[] = "TARNWICK DYNCRD";

void trim(std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\0')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\0')) --e;
  s = s.substr(b, e - b);
}

bool isUtf8Item(DcmItem* item) {
  std::string cs;
  return getText(item, DCM_SpecificCharacterSet, cs) && cs.find("ISO_IR 192") != std::string::npos;
}

CString decode(DcmItem* item, const std::string& bytes) {
  if (isUtf8Item(item)) return CString::fromUtf8(bytes);
  std::wstring w;
  w.reserve(bytes.size());
  for (unsigned char c : bytes) w.push_back(wchar_t(c));
  return CString(w);
}

// The non-empty element of a private creator's block (creator at (group,00xx), element at (group,xxee)).
DcmElement* privateElement(DcmItem* item, Uint16 group, const char* creatorPart, Uint8 element,
                           const char* excludedPart = nullptr) {
  DcmElement* e = twk::dicom::privateElement(item, group, creatorPart, element, excludedPart);
  return e && e->getLength() > 0 ? e : nullptr;
}

// Value index of a binary element through its typed getter.
template <class T>
OFCondition binaryNumber(DcmElement* e, OFCondition (DcmElement::*get)(T&, unsigned long), unsigned long index,
                         double& value) {
  T v{};
  const OFCondition st = (e->*get)(v, index);
  if (st.good()) value = double(v);
  return st;
}

// A number of an element of any VR: binary kinds directly, text kinds (and UN holding text) parsed.
bool elementNumber(DcmElement* e, unsigned long index, double& value) {
  if (!e || e->getLength() == 0) return false;
  OFCondition st = EC_IllegalCall;
  switch (e->ident()) {
    case EVR_FD:
    case EVR_DS: st = binaryNumber(e, &DcmElement::getFloat64, index, value); break;
    case EVR_FL: st = binaryNumber(e, &DcmElement::getFloat32, index, value); break;
    case EVR_IS:
    case EVR_SL: st = binaryNumber(e, &DcmElement::getSint32, index, value); break;
    case EVR_US: st = binaryNumber(e, &DcmElement::getUint16, index, value); break;
    case EVR_SS: st = binaryNumber(e, &DcmElement::getSint16, index, value); break;
    case EVR_UL: st = binaryNumber(e, &DcmElement::getUint32, index, value); break;
    case EVR_UN:
    case EVR_UNKNOWN:
    case EVR_UNKNOWN2B:
    case EVR_OB: {
      // Private values of implicit VR files: text numbers, or one float or double.
      Uint8* bytes = nullptr;
      if (e->getUint8Array(bytes).bad() || !bytes) return false;
      const Uint32 n = e->getLength();
      std::string text(reinterpret_cast<const char*>(bytes), n);
      const bool printable = std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E' || c == ' ' ||
               c == '\\' || c == '\0';
      });
      if (printable) {
        size_t start = 0;
        for (unsigned long i = 0; i < index; ++i) {
          start = text.find('\\', start);
          if (start == std::string::npos) return false;
          ++start;
        }
        std::string token = text.substr(start, text.find('\\', start) - start);
        trim(token);
        if (token.empty()) return false;
        char* end = nullptr;
        value = std::strtod(token.c_str(), &end);
        if (!end || *end != '\0') return false;
        st = EC_Normal;
      } else if (index == 0 && n == 4) {
        float f;
        std::memcpy(&f, bytes, 4);
        value = f;
        st = EC_Normal;
      } else if (index == 0 && n == 8) {
        std::memcpy(&value, bytes, 8);
        st = EC_Normal;
      }
      break;
    }
    default: break;
  }
  return st.good() && std::isfinite(value);
}

// The kind of a derived diffusion image: a value of the image type of a DERIVED image that names a
// computed map (trace, ADC, FA and the like), else ISOTROPIC when the Diffusion Directionality says
// so; empty for acquired images.
CString derivedImageKind(DcmItem* d) {
  std::string type, directionality;
  if (getText(d, DCM_ImageType, type) && type.rfind("DERIVED", 0) == 0) {
    static const char* const kinds[] = {"TRACEW", "TRACE", "ADC", "EADC", "FA", "COLFA", "MD", "TENSOR", "ISOTROPIC", "EXP"};
    size_t start = 0;
    while (start <= type.size()) {
      const size_t end = std::min(type.find('\\', start), type.size());
      std::string value = type.substr(start, end - start);
      trim(value);
      for (const char* kind : kinds)
        if (value == kind) return CString::fromUtf8(value);
      start = end + 1;
    }
  }
  if (getText(d, DcmTagKey(0x0018, 0x9075), directionality) && directionality == "ISOTROPIC") return L"ISOTROPIC";
  return CString();
}

bool loadStatus(OFCondition st, DcmFileFormat& file, std::string* reason, bool* notDicom) {
  if (st.bad()) {
    if (reason) *reason = st.text();
    return false;
  }
  // A file without the meta header parses as a data set from almost any bytes: ask for the
  // elements that every image has.
  DcmMetaInfo* meta = file.getMetaInfo();
  DcmDataset* data = file.getDataset();
  std::string xfer, sop;
  const bool hasMeta = meta && getText(meta, DCM_TransferSyntaxUID, xfer);
  if (!hasMeta && !(getText(data, DCM_SOPClassUID, sop) || getText(data, DCM_SOPInstanceUID, sop) ||
                    getText(data, DCM_Modality, sop))) {
    if (reason) *reason = "not a DICOM file";
    if (notDicom) *notDicom = true;
    return false;
  }
  return true;
}

}  // namespace

std::string native(const wchar_t* path) { return twk::pathToNative(path); }

bool loadFile(const std::string& nativePath, DcmFileFormat& file, bool whole, std::string* reason, bool* notDicom) {
  if (notDicom) *notDicom = false;
  // A quick look at the first bytes keeps DCMTK from parsing large files of other kinds.
  std::ifstream in(nativePath, std::ios::binary);
  if (!in) {
    if (reason) *reason = "cannot open the file";
    return false;
  }
  unsigned char head[132] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  const std::streamsize got = in.gcount();
  in.close();
  const bool preamble = got == 132 && std::memcmp(head + 128, "DICM", 4) == 0;
  if (!preamble) {
    // Without the preamble a data set must start with a tag of a low group (little or big endian).
    const unsigned groupLE = got >= 2 ? unsigned(head[0] | (head[1] << 8)) : 0xFFFF;
    const unsigned groupBE = got >= 2 ? unsigned((head[0] << 8) | head[1]) : 0xFFFF;
    const bool plausible = got >= 8 && ((groupLE >= 0x0002 && groupLE <= 0x0028) || (groupBE >= 0x0002 && groupBE <= 0x0028));
    if (!plausible) {
      if (reason) *reason = got == 0 ? "empty file" : "not a DICOM file";
      if (notDicom) *notDicom = true;
      return false;
    }
  }
  OFCondition st = file.loadFile(OFFilename(nativePath.c_str()), EXS_Unknown, EGL_noChange,
                                 whole ? DCM_MaxReadLength : 1024, ERM_autoDetect);
  if (st.good() && whole) st = file.loadAllDataIntoMemory();
  return loadStatus(st, file, reason, notDicom);
}

std::unique_ptr<DcmFileFormat> fileFromBlock(const uint8_t* bytes, int64_t length) {
  if (!bytes || length < 8) return nullptr;
  uint64_t n = 0;
  for (int b = 0; b < 8; ++b) n |= uint64_t(bytes[b]) << (8 * b);
  if (n == 0 || n > uint64_t(length - 8)) return nullptr;
  auto file = std::make_unique<DcmFileFormat>();
  DcmInputBufferStream stream;
  stream.setBuffer(bytes + 8, offile_off_t(n));
  stream.setEos();
  file->transferInit();
  OFCondition st = file->read(stream, EXS_Unknown, EGL_noChange, 0xFFFFFFFEu);
  file->transferEnd();
  if (!loadStatus(st, *file, nullptr, nullptr)) return nullptr;
  return file;
}

std::vector<uint8_t> headerBlock(DcmFileFormat& file) {
  DcmDataset* data = file.getDataset();
  data->findAndDeleteElement(DCM_PixelData);
  data->findAndDeleteElement(DcmTagKey(0x7FE0, 0x0008));
  data->findAndDeleteElement(DcmTagKey(0x7FE0, 0x0009));
  data->findAndDeleteElement(DcmTagKey(0xFFFC, 0xFFFC));
  std::vector<uint8_t> all(8);
  std::vector<uint8_t> chunk(64 * 1024);
  DcmOutputBufferStream stream(chunk.data(), offile_off_t(chunk.size()));
  auto drain = [&] {
    void* bytes = nullptr;
    offile_off_t length = 0;
    stream.flushBuffer(bytes, length);
    if (length > 0) all.insert(all.end(), static_cast<uint8_t*>(bytes), static_cast<uint8_t*>(bytes) + length);
  };
  file.transferInit();
  auto writeOnce = [&] {
    return file.write(stream, EXS_LittleEndianExplicit, EET_ExplicitLength, nullptr, EGL_recalcGL, EPD_noChange, 0, 0,
                      0, EWM_updateMeta);
  };
  OFCondition st = writeOnce();
  while (st == EC_StreamNotifyClient) {
    drain();
    st = writeOnce();
  }
  file.transferEnd();
  if (st.bad()) return {};
  stream.flush();
  drain();
  const uint64_t n = all.size() - 8;
  for (int b = 0; b < 8; ++b) all[size_t(b)] = uint8_t(n >> (8 * b));
  return all;
}

bool getText(DcmItem* item, const DcmTagKey& key, std::string& value) {
  if (!item) return false;
  DcmElement* e = nullptr;
  if (item->findAndGetElement(key, e).bad() || !e || e->getLength() == 0) return false;
  OFString s;
  if (e->getOFStringArray(s).bad()) return false;
  value.assign(s.c_str(), s.length());
  trim(value);
  return !value.empty();
}

CString getWide(DcmItem* item, const DcmTagKey& key) {
  std::string s;
  return getText(item, key, s) ? decode(item, s) : CString();
}

bool getNumber(DcmItem* item, const DcmTagKey& key, double& value, unsigned long index) {
  if (!item) return false;
  DcmElement* e = nullptr;
  if (item->findAndGetElement(key, e).bad() || !e) return false;
  double v = 0;
  if (!elementNumber(e, index, v)) return false;
  value = v;
  return true;
}

bool getNumbers(DcmItem* item, const DcmTagKey& key, double* values, int count) {
  std::vector<double> v(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i)
    if (!getNumber(item, key, v[size_t(i)], unsigned(i))) return false;
  std::copy(v.begin(), v.end(), values);
  return true;
}

bool getInt32(DcmItem* item, const DcmTagKey& key, int32_t& value) {
  double v = 0;
  // A damaged file may put any number where an integer belongs (a DS or FD of 1e300): values out
  // of the 32-bit range that the integer kinds hold count as absent.
  if (!getNumber(item, key, v) || !(v >= -2147483648.0 && v <= 2147483647.0)) return false;
  value = int32_t(v);
  return true;
}

int valueCount(DcmItem* item, const DcmTagKey& key) {
  DcmElement* e = nullptr;
  if (!item || item->findAndGetElement(key, e).bad() || !e || e->getLength() == 0) return 0;
  return int(e->getVM());
}

bool parseTime(const std::string& text, double& seconds) {
  std::string digits;
  size_t i = 0;
  for (; i < text.size() && (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == ':'); ++i)
    if (text[i] != ':') digits.push_back(text[i]);
  if (digits.size() < 2 || digits.size() % 2) return false;
  const int h = std::stoi(digits.substr(0, 2));
  const int m = digits.size() >= 4 ? std::stoi(digits.substr(2, 2)) : 0;
  const int s = digits.size() >= 6 ? std::stoi(digits.substr(4, 2)) : 0;
  double fraction = 0;
  if (i < text.size() && text[i] == '.') {
    double scale = 0.1;
    for (++i; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i, scale *= 0.1)
      fraction += (text[i] - '0') * scale;
  }
  if (h > 23 || m > 59 || s > 60) return false;
  seconds = h * 3600.0 + m * 60.0 + s + fraction;
  return true;
}

bool parseDate(const std::string& text, int64_t& days) {
  std::string d;
  for (char c : text)
    if (std::isdigit(static_cast<unsigned char>(c))) d.push_back(c);
  if (d.size() != 8) return false;
  const int y = std::stoi(d.substr(0, 4)), m = std::stoi(d.substr(4, 2)), dd = std::stoi(d.substr(6, 2));
  if (m < 1 || m > 12 || dd < 1 || dd > 31) return false;
  // Days from civil (proleptic Gregorian).
  const int yy = y - (m <= 2);
  const int era = (yy >= 0 ? yy : yy - 399) / 400;
  const unsigned yoe = unsigned(yy - era * 400);
  const unsigned doy = unsigned((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + dd - 1);
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  days = int64_t(era) * 146097 + int64_t(doe) - 719468;
  return true;
}

bool putText(DcmItem* item, const DcmTagKey& key, const std::string& value) {
  return item && item->putAndInsertString(key, value.c_str()).good();
}

bool putWide(DcmItem* item, const DcmTagKey& key, const CString& value) {
  if (isUtf8Item(item)) return putText(item, key, value.toUtf8());
  std::string bytes;
  for (wchar_t c : value.wstr()) bytes.push_back(c < 256 ? char(c) : '?');
  return putText(item, key, bytes);
}

std::string formatDS(double value) {
  char buf[32];
  for (int precision = 12; precision > 0; --precision) {
    std::snprintf(buf, sizeof buf, "%.*g", precision, value);
    if (std::strlen(buf) <= 16) return buf;
  }
  return "0";
}

std::string formatTime(double seconds) {
  seconds = std::fmod(seconds, 86400.0);
  if (seconds < 0) seconds += 86400.0;
  const int h = int(seconds / 3600), m = int((seconds - h * 3600) / 60);
  const double s = seconds - h * 3600 - m * 60;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d%02d%09.6f", h, m, s);
  return buf;
}

bool putNumbers(DcmItem* item, const DcmTagKey& key, const double* values, int count) {
  if (!item || count < 1) return false;
  for (int i = 0; i < count; ++i)
    if (!std::isfinite(values[i])) return false;
  DcmTag tag(key);
  switch (tag.getEVR()) {
    case EVR_US: {
      std::vector<Uint16> v(static_cast<size_t>(count));
      for (int i = 0; i < count; ++i) v[size_t(i)] = Uint16(std::clamp(std::lround(values[i]), 0L, 65535L));
      if (count == 1) return item->putAndInsertUint16(key, v[0]).good();
      return item->putAndInsertUint16Array(key, v.data(), unsigned(count)).good();
    }
    case EVR_SS: return count == 1 && item->putAndInsertSint16(key, Sint16(std::lround(values[0]))).good();
    case EVR_UL: return count == 1 && item->putAndInsertUint32(key, Uint32(std::llround(values[0]))).good();
    case EVR_SL: return count == 1 && item->putAndInsertSint32(key, Sint32(std::lround(values[0]))).good();
    case EVR_FD: return item->putAndInsertFloat64Array(key, values, unsigned(count)).good();
    case EVR_FL: {
      if (count != 1) return false;
      return item->putAndInsertFloat32(key, Float32(values[0])).good();
    }
    case EVR_IS: {
      std::string text;
      for (int i = 0; i < count; ++i) text += (i ? "\\" : "") + std::to_string(std::llround(values[i]));
      return putText(item, key, text);
    }
    default: {
      std::string text;
      for (int i = 0; i < count; ++i) text += (i ? "\\" : "") + formatDS(values[i]);
      return putText(item, key, text);
    }
  }
}

std::string newUid() {
  static std::mutex mutex;
  static std::mt19937_64 engine([] {
    std::random_device rd;
    return (uint64_t(rd()) << 32) ^ rd();
  }());
  unsigned __int128 value;
  {
    std::lock_guard<std::mutex> lock(mutex);
    value = (static_cast<unsigned __int128>(engine()) << 64) | engine();
  }
  std::string digits;
  do {
    digits.push_back(char('0' + int(value % 10)));
    value /= 10;
  } while (value != 0);
  std::reverse(digits.begin(), digits.end());
  return "2.25." + digits;
}

void sliceNormal(const double o[6], double n[3]) {
  n[0] = o[1] * o[5] - o[2] * o[4];
  n[1] = o[2] * o[3] - o[0] * o[5];
  n[2] = o[0] * o[4] - o[1] * o[3];
  const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (len > 0)
    for (int i = 0; i < 3; ++i) n[i] /= len;
}

bool validOrientation(const double o[6]) {
  for (int i = 0; i < 6; ++i)
    if (!std::isfinite(o[i]) || o[i] == VOID_VALUE) return false;
  const double r = o[0] * o[0] + o[1] * o[1] + o[2] * o[2];
  const double c = o[3] * o[3] + o[4] * o[4] + o[5] * o[5];
  return r > 1e-6 && c > 1e-6;
}

bool diffusionBvalue(DcmItem* data, double& bvalue) {
  if (!data) return false;
  const DcmTagKey kB(0x0018, 0x9087);
  if (getNumber(data, kB, bvalue)) return true;
  // Functional groups of enhanced files: shared first, then the first frame's.
  for (const DcmTagKey& groups : {DcmTagKey(0x5200, 0x9229), DcmTagKey(0x5200, 0x9230)}) {
    DcmItem* groupItem = nullptr;
    if (data->findAndGetSequenceItem(groups, groupItem, 0).bad() || !groupItem) continue;
    DcmItem* diffusion = nullptr;
    if (groupItem->findAndGetSequenceItem(DcmTagKey(0x0018, 0x9117), diffusion, 0).good() && diffusion &&
        getNumber(diffusion, kB, bvalue))
      return true;
  }
  double v = 0;
  if (DcmElement* e = privateElement(data, 0x0019, "SIEMENS", 0x0C); e && elementNumber(e, 0, v)) {
    bvalue = v;
    return true;
  }
  if (DcmElement* e = privateElement(data, 0x0043, "GEMS", 0x39); e && elementNumber(e, 0, v)) {
    // GE adds multiples of 1e9 to mark the kind of the diffusion scan.
    bvalue = std::fmod(v, 1e9);
    return true;
  }
  if (DcmElement* e = privateElement(data, 0x2001, "Philips", 0x03); e && elementNumber(e, 0, v)) {
    bvalue = v;
    return true;
  }
  if (DcmElement* e = privateElement(data, 0x0019, "", 0xB0, "SIEMENS"); e && elementNumber(e, 0, v)) {
    bvalue = v;
    return true;
  }
  return false;
}

bool putStoredDyn(DcmItem* data, const DYNCRD& dyn) {
  if (!data) return false;
  removeStoredDyn(data);
  const double* v = &dyn.time;
  for (int i = 0; i < 9; ++i)
    if (!std::isfinite(v[i])) return false;
  if (data->putAndInsertString(DcmTagKey(kPrivateGroup, 0x0010), kPrivateCreator).bad()) return false;
  DcmTag tag(kPrivateGroup, 0x1000, kPrivateCreator);
  tag.setVR(EVR_FD);
  auto* element = new DcmFloatingPointDouble(tag);
  if (element->putFloat64Array(v, 9).bad() || data->insert(element, OFTrue).bad()) {
    delete element;
    return false;
  }
  return true;
}

bool getStoredDyn(DcmItem* data, DYNCRD& dyn) {
  std::string creator;
  if (!getText(data, DcmTagKey(kPrivateGroup, 0x0010), creator) || creator != kPrivateCreator) return false;
  DcmElement* e = nullptr;
  if (data->findAndGetElement(DcmTagKey(kPrivateGroup, 0x1000), e).bad() || !e || e->getLength() != 72) return false;
  double v[9];
  if (e->ident() == EVR_FD) {
    for (int i = 0; i < 9; ++i) {
      Float64 f;
      if (e->getFloat64(f, unsigned(i)).bad()) return false;
      v[i] = f;
    }
  } else {
    Uint8* bytes = nullptr;
    if (e->getUint8Array(bytes).bad() || !bytes) return false;
    std::memcpy(v, bytes, 72);
  }
  for (double x : v)
    if (!std::isfinite(x)) return false;
  std::memcpy(&dyn.time, v, sizeof v);
  return true;
}

void removeStoredDyn(DcmItem* data) {
  if (!data) return;
  data->findAndDeleteElement(DcmTagKey(kPrivateGroup, 0x1000));
  data->findAndDeleteElement(DcmTagKey(kPrivateGroup, 0x0010));
}

void fillRecord(DcmFileFormat& file, DICOMREC& rec) {
  DcmDataset* d = file.getDataset();
  DcmMetaInfo* meta = file.getMetaInfo();
  std::string s;
  double v = 0;

  rec.patientName = getWide(d, DCM_PatientName);
  rec.patientId = getWide(d, DCM_PatientID);
  rec.patientBirthDate = getWide(d, DCM_PatientBirthDate);
  rec.patientSex = getWide(d, DCM_PatientSex);
  rec.studyInstanceUid = getWide(d, DCM_StudyInstanceUID);
  rec.studyDate = getWide(d, DCM_StudyDate);
  rec.studyTime = getWide(d, DCM_StudyTime);
  rec.studyDescription = getWide(d, DCM_StudyDescription);
  rec.seriesInstanceUid = getWide(d, DCM_SeriesInstanceUID);
  rec.seriesDescription = getWide(d, DCM_SeriesDescription);
  rec.modality = getWide(d, DCM_Modality);
  rec.protocolName = getWide(d, DCM_ProtocolName);
  rec.acquisitionTime = getWide(d, DCM_AcquisitionTime);
  if (rec.acquisitionTime.IsEmpty()) rec.acquisitionTime = getWide(d, DCM_ContentTime);
  rec.sopInstanceUid = getWide(d, DCM_SOPInstanceUID);
  rec.sopClassUid = getWide(d, DCM_SOPClassUID);
  if (rec.sopClassUid.IsEmpty() && meta) rec.sopClassUid = getWide(meta, DCM_MediaStorageSOPClassUID);
  rec.imageType = getWide(d, DCM_ImageType);
  rec.manufacturer = getWide(d, DCM_Manufacturer);
  rec.imageComments = getWide(d, DCM_ImageComments);
  rec.frameOfReferenceUid = getWide(d, DCM_FrameOfReferenceUID);
  if (meta && getText(meta, DCM_TransferSyntaxUID, s)) rec.transferSyntaxUid = CString::fromUtf8(s);

  int32_t n = 0;
  rec.seriesNumber = getInt32(d, DCM_SeriesNumber, n) ? n : 0;
  rec.instanceNumber = getInt32(d, DCM_InstanceNumber, n) ? n : 0;
  rec.acquisitionNumber = getInt32(d, DCM_AcquisitionNumber, n) ? n : 0;
  rec.bitsAllocated = getInt32(d, DCM_BitsAllocated, n) ? n : 0;
  rec.pixelRepresentation = getInt32(d, DCM_PixelRepresentation, n) ? n : 0;
  rec.samplesPerPixel = getInt32(d, DCM_SamplesPerPixel, n) ? n : 1;
  rec.numberOfFrames = getInt32(d, DCM_NumberOfFrames, n) && n >= 1 ? n : 1;
  rec.temporalPosition = getInt32(d, DCM_TemporalPositionIdentifier, n) ? n : 0;
  rec.width = getNumber(d, DCM_Columns, v) && v >= 0 && v <= 65535 ? uint16_t(v) : 0;
  rec.height = getNumber(d, DCM_Rows, v) && v >= 0 && v <= 65535 ? uint16_t(v) : 0;

  double ps[2];
  if (getNumbers(d, DCM_PixelSpacing, ps, 2) || getNumbers(d, DCM_ImagerPixelSpacing, ps, 2)) {
    // The file gives the row spacing (between rows, y) first, then the column spacing (x).
    if (ps[0] > 0 && ps[1] > 0) {
      rec.pixelSpacing[0] = ps[1];
      rec.pixelSpacing[1] = ps[0];
    }
  }
  double pos[3], orient[6];
  const bool hasPos = getNumbers(d, DCM_ImagePositionPatient, pos, 3);
  if (hasPos) std::copy(pos, pos + 3, rec.imagePosition);
  const bool hasOrient = getNumbers(d, DCM_ImageOrientationPatient, orient, 6) && validOrientation(orient);
  if (hasOrient) std::copy(orient, orient + 6, rec.orientation);
  rec.sliceThickness = getNumber(d, DCM_SliceThickness, v) && v > 0 ? v : VOID_VALUE;
  rec.spacingBetweenSlices = getNumber(d, DCM_SpacingBetweenSlices, v) && v > 0 ? v : VOID_VALUE;
  if (hasPos && hasOrient) {
    double normal[3];
    sliceNormal(orient, normal);
    rec.sliceZ = pos[0] * normal[0] + pos[1] * normal[1] + pos[2] * normal[2];
  } else {
    rec.sliceZ = getNumber(d, DCM_SliceLocation, v) ? v : VOID_VALUE;
  }

  rec.echoTime = getNumber(d, DCM_EchoTime, v) || getNumber(d, DcmTagKey(0x0018, 0x9082), v) ? v * 0.001 : VOID_VALUE;
  rec.inversionTime = getNumber(d, DCM_InversionTime, v) ? v * 0.001 : VOID_VALUE;
  rec.repetitionTime = getNumber(d, DCM_RepetitionTime, v) ? v * 0.001 : VOID_VALUE;
  rec.flipAngle = getNumber(d, DCM_FlipAngle, v) ? v : VOID_VALUE;
  rec.triggerTime = getNumber(d, DCM_TriggerTime, v) ? v * 0.001 : VOID_VALUE;
  rec.bValue = diffusionBvalue(d, v) ? v : VOID_VALUE;
  rec.frameReferenceTime = getNumber(d, DcmTagKey(0x0054, 0x1300), v) ? v * 0.001 : VOID_VALUE;
  rec.frameDuration = getNumber(d, DCM_ActualFrameDuration, v) ? v * 0.001 : VOID_VALUE;

  double seconds = 0;
  rec.acquisitionSeconds = VOID_VALUE;
  for (const DcmTagKey& key : {DCM_AcquisitionTime, DCM_ContentTime})
    if (getText(d, key, s) && parseTime(s, seconds)) {
      rec.acquisitionSeconds = seconds;
      break;
    }
  rec.acquisitionDateTime = VOID_VALUE;
  int64_t days = 0;
  if (getText(d, DCM_AcquisitionDateTime, s) && s.size() >= 8 && parseDate(s.substr(0, 8), days)) {
    rec.acquisitionDateTime = double(days) * 86400.0 + (s.size() > 8 && parseTime(s.substr(8), seconds) ? seconds : 0.0);
  } else {
    const std::pair<DcmTagKey, DcmTagKey> pairs[] = {{DCM_AcquisitionDate, DCM_AcquisitionTime},
                                                     {DCM_ContentDate, DCM_ContentTime}};
    for (const auto& [dateKey, timeKey] : pairs) {
      std::string date, time;
      if (getText(d, dateKey, date) && parseDate(date, days) && getText(d, timeKey, time) && parseTime(time, seconds)) {
        rec.acquisitionDateTime = double(days) * 86400.0 + seconds;
        break;
      }
    }
  }

  rec.rescaleSlope = getNumber(d, DCM_RescaleSlope, v) && v != 0 ? v : 1.0;
  rec.rescaleIntercept = getNumber(d, DCM_RescaleIntercept, v) ? v : 0.0;
  // Dose grids store dose / Dose Grid Scaling.
  if (!getNumber(d, DCM_RescaleSlope, v) && getNumber(d, DcmTagKey(0x3004, 0x000E), v) && v > 0) rec.rescaleSlope = v;
  DcmItem* lut = nullptr;
  rec.modalityLut = d->findAndGetSequenceItem(DCM_ModalityLUTSequence, lut, 0).good() && lut ? 1 : 0;
  DcmElement* floatPixels = nullptr;
  rec.floatPixels = d->findAndGetElement(DCM_PixelData, floatPixels).bad() &&
                            (d->findAndGetElement(DcmTagKey(0x7FE0, 0x0008), floatPixels).good() ||
                             d->findAndGetElement(DcmTagKey(0x7FE0, 0x0009), floatPixels).good())
                        ? 1
                        : 0;

  // Frame Content values of frames split from enhanced files.
  rec.temporalPositionIndex = getInt32(d, DcmTagKey(0x0020, 0x9128), n) && n > 0 ? n : 0;
  rec.inStackPosition = getInt32(d, DcmTagKey(0x0020, 0x9057), n) && n > 0 ? n : 0;
  rec.dimensionIndex.clear();
  for (int k = 0, count = valueCount(d, DcmTagKey(0x0020, 0x9157)); k < count && k < 16; ++k)
    rec.dimensionIndex.push_back(getNumber(d, DcmTagKey(0x0020, 0x9157), v, unsigned(k)) ? int32_t(v) : 0);

  rec.mosaicImages = twk::dicom::mosaicImageCount(d);
  double direction[3];
  if (twk::dicom::diffusionGradientDirection(d, direction)) std::copy(direction, direction + 3, rec.gradientDirection);
  else std::fill(rec.gradientDirection, rec.gradientDirection + 3, VOID_VALUE);
  rec.derivedKind = derivedImageKind(d);
  rec.windowCenter = getNumber(d, DCM_WindowCenter, v) ? v : VOID_VALUE;
  rec.windowWidth = getNumber(d, DCM_WindowWidth, v) ? v : VOID_VALUE;

  std::string rescaleType;
  if (!getText(d, DCM_RescaleType, rescaleType) && lut) getText(lut, DCM_ModalityLUTType, rescaleType);
  std::string doseUnit;
  if (rescaleType == "HU" || rec.modality == L"CT") rec.unit = L"HU";
  else if (getText(d, DcmTagKey(0x3004, 0x0002), doseUnit)) rec.unit = doseUnit == "GY" ? CString(L"Gy") : CString::fromUtf8(doseUnit);
  else if (getText(d, DcmTagKey(0x0054, 0x1001), s)) rec.unit = CString::fromUtf8(s);
  else rec.unit.Empty();

  // The program's stored coordinates keep the times exactly; acquisition values that the header
  // gives win over them, so that a value rewritten in the file is not hidden.
  DYNCRD dyn;
  rec.dynStored = getStoredDyn(d, dyn) ? 1 : 0;
  if (!rec.dynStored) {
    dyn.time = rec.frameReferenceTime != VOID_VALUE ? rec.frameReferenceTime : rec.acquisitionSeconds;
    dyn.timeEnd = VOID_VALUE;
    dyn.spinLockTime = VOID_VALUE;
    dyn.reserved = VOID_VALUE;
  }
  auto take = [&](double& field, double value) {
    if (value != VOID_VALUE || !rec.dynStored) field = value;
  };
  take(dyn.echoTime, rec.echoTime);
  take(dyn.inversionTime, rec.inversionTime);
  take(dyn.bValue, rec.bValue);
  take(dyn.flipAngle, rec.flipAngle);
  take(dyn.repetitionTime, rec.repetitionTime);
  rec.dyn = dyn;
}

}  // namespace twk::dcm
