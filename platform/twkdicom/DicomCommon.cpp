// Life cycle, decoder registration and the conversions that every TwkDicom source uses.

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>

#include "dcmtk/dcmdata/dcrledrg.h"
#include "dcmtk/dcmjpeg/djdecode.h"
#include "dcmtk/dcmjpls/djdecode.h"
#include "dcmtk/oflog/oflog.h"

#include "DicomDecode.h"
#include "DicomInternal.h"
#include "TextCodec.h"
#include "TwkUi.h"

namespace twk::dicom {

namespace {

std::mutex g_decoderMutex;
int g_decoderCount = 0;

// Whole-token number parse: "12.5" yes, "12.5mm" or "" no.
bool parseNumber(const std::string& text, double& value) {
  size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return false;
  size_t last = text.find_last_not_of(" \t\r\n\0");
  std::string token = text.substr(first, last - first + 1);
  char* end = nullptr;
  double v = std::strtod(token.c_str(), &end);
  if (end == token.c_str() || *end != '\0' || !std::isfinite(v)) return false;
  value = v;
  return true;
}

// The raw bytes of a UN/OB element read as text values separated by '\'.
bool rawTextValues(DcmElement* element, std::vector<std::string>& values) {
  Uint8* bytes = nullptr;
  if (element->getUint8Array(bytes).bad() || !bytes) return false;
  Uint32 length = element->getLength();
  std::string text(reinterpret_cast<const char*>(bytes), length);
  while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.pop_back();
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return false;  // binary, not text
  values.clear();
  size_t start = 0;
  for (;;) {
    size_t slash = text.find('\\', start);
    values.push_back(text.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return !text.empty();
}

}  // namespace

DcmElement* findElement(DcmItem* item, uint32_t tag) {
  if (!item) return nullptr;
  DcmElement* element = nullptr;
  if (item->findAndGetElement(key(tag), element, OFFalse).bad()) return nullptr;
  return element;
}

bool elementString(DcmElement* element, std::string& value) {
  if (!element || element->getLength() == 0) return false;
  DcmEVR vr = element->getTag().getEVR();
  if (vr == EVR_SQ) return false;
  if (vr == EVR_UN || vr == EVR_UNKNOWN) {
    std::vector<std::string> values;
    if (!rawTextValues(element, values)) return false;
    std::string joined;
    for (size_t i = 0; i < values.size(); ++i) joined += (i ? "\\" : "") + values[i];
    value = joined;
    return !value.empty();
  }
  OFString text;
  if (element->getOFStringArray(text).bad()) return false;
  value.assign(text.c_str(), text.length());
  while (!value.empty() && (value.back() == ' ' || value.back() == '\0')) value.pop_back();
  return !value.empty();
}

int elementCount(DcmElement* element) {
  if (!element || element->getLength() == 0) return 0;
  const DcmEVR vr = element->getTag().getEVR();
  if (vr == EVR_UN || vr == EVR_UNKNOWN) {
    std::vector<std::string> values;
    return rawTextValues(element, values) ? int(values.size()) : 0;
  }
  return int(element->getVM());
}

bool elementNumber(DcmElement* element, int index, double& value) {
  if (!element || index < 0 || element->getLength() == 0) return false;
  if (index >= elementCount(element)) return false;
  const unsigned long pos = static_cast<unsigned long>(index);
  switch (element->getTag().getEVR()) {
    case EVR_DS: case EVR_FD: case EVR_OD: {
      Float64 v = 0;
      if (element->getFloat64(v, pos).bad() || !std::isfinite(v)) return false;
      value = v;
      return true;
    }
    case EVR_FL: case EVR_OF: {
      Float32 v = 0;
      if (element->getFloat32(v, pos).bad() || !std::isfinite(v)) return false;
      value = v;
      return true;
    }
    case EVR_IS: case EVR_SL: {
      Sint32 v = 0;
      if (element->getSint32(v, pos).bad()) return false;
      value = v;
      return true;
    }
    case EVR_US: {
      Uint16 v = 0;
      if (element->getUint16(v, pos).bad()) return false;
      value = v;
      return true;
    }
    case EVR_SS: {
      Sint16 v = 0;
      if (element->getSint16(v, pos).bad()) return false;
      value = v;
      return true;
    }
    case EVR_UL: {
      Uint32 v = 0;
      if (element->getUint32(v, pos).bad()) return false;
      value = v;
      return true;
    }
    case EVR_UN: case EVR_UNKNOWN: {
      // Private values read without a dictionary VR (implicit VR files): their bytes as text.
      std::vector<std::string> values;
      if (!rawTextValues(element, values) || size_t(index) >= values.size()) return false;
      return parseNumber(values[size_t(index)], value);
    }
    case EVR_SQ: case EVR_OB: case EVR_OW: case EVR_ox: case EVR_px:
      return false;
    default: {
      OFString text;
      if (element->getOFString(text, pos).bad()) return false;
      return parseNumber(std::string(text.c_str()), value);
    }
  }
}

bool putNumber(DcmElement* element, double value) {
  if (!element || !std::isfinite(value)) return false;
  switch (element->getTag().getEVR()) {
    case EVR_FD: return element->putFloat64(value).good();
    case EVR_FL: return element->putFloat32(Float32(value)).good();
    case EVR_IS: {
      if (std::fabs(value) > 2147483647.0) return false;
      std::string text = std::to_string(std::llround(value));
      return element->putString(text.c_str()).good();
    }
    case EVR_US:
      if (value < 0 || value > 65535) return false;
      return element->putUint16(Uint16(std::lround(value))).good();
    case EVR_SS:
      if (value < -32768 || value > 32767) return false;
      return element->putSint16(Sint16(std::lround(value))).good();
    case EVR_UL:
      if (value < 0 || value > 4294967295.0) return false;
      return element->putUint32(Uint32(std::llround(value))).good();
    case EVR_SL:
      if (std::fabs(value) > 2147483647.0) return false;
      return element->putSint32(Sint32(std::llround(value))).good();
    case EVR_DS: case EVR_LO: case EVR_SH: case EVR_ST: case EVR_LT: case EVR_UT: case EVR_CS:
      return element->putString(formatDecimalString(value).c_str()).good();
    default:
      return false;
  }
}

namespace {

// The element with the tag at the top level, created with the dictionary VR when absent.
DcmElement* findOrCreate(DcmItem* item, uint32_t tag) {
  if (!item) return nullptr;
  if (DcmElement* existing = findElement(item, tag)) return existing;
  DcmTag dictionaryTag(key(tag));
  DcmEVR vr = dictionaryTag.getEVR();
  if (vr == EVR_UNKNOWN || vr == EVR_UN || vr == EVR_SQ || vr == EVR_UNKNOWN2B) return nullptr;
  DcmElement* created = nullptr;
  if (DcmItem::newDicomElement(created, dictionaryTag).bad() || !created) return nullptr;
  if (item->insert(created, OFTrue).bad()) {
    delete created;
    return nullptr;
  }
  return created;
}

}  // namespace

bool setNumber(DcmItem* item, uint32_t tag, double value) {
  if (!std::isfinite(value)) return false;
  bool existed = findElement(item, tag) != nullptr;
  DcmElement* element = findOrCreate(item, tag);
  if (!element) return false;
  if (putNumber(element, value)) return true;
  if (!existed) item->findAndDeleteElement(key(tag));
  return false;
}

bool setText(DcmItem* item, uint32_t tag, const std::string& bytes) {
  bool existed = findElement(item, tag) != nullptr;
  DcmElement* element = findOrCreate(item, tag);
  if (!element) return false;
  if (element->putString(bytes.c_str()).good()) return true;
  if (!existed) item->findAndDeleteElement(key(tag));
  return false;
}

int replaceNumberEverywhere(DcmItem* item, uint32_t tag, double value) {
  if (!item) return 0;
  int changed = 0;
  for (unsigned long i = 0; i < item->card(); ++i) {
    DcmElement* element = item->getElement(i);
    if (!element) continue;
    if (tagOf(element->getTag()) == tag && putNumber(element, value)) ++changed;
    if (element->getTag().getEVR() == EVR_SQ) {
      auto* sequence = static_cast<DcmSequenceOfItems*>(element);
      for (unsigned long j = 0; j < sequence->card(); ++j) changed += replaceNumberEverywhere(sequence->getItem(j), tag, value);
    }
  }
  return changed;
}

std::string formatDecimalString(double value) {
  char text[64];
  for (int precision = 15; precision >= 1; --precision) {
    std::snprintf(text, sizeof(text), "%.*g", precision, value);
    if (std::strlen(text) <= 16) return text;
  }
  return "0";
}

std::string formatTime(double seconds) {
  const int64_t day = int64_t(86400) * 1000000;
  int64_t micro = std::llround(seconds * 1e6) % day;
  if (micro < 0) micro += day;
  const int64_t whole = micro / 1000000;
  char text[32];
  std::snprintf(text, sizeof(text), "%02d%02d%02d.%06d", int(whole / 3600), int(whole / 60 % 60), int(whole % 60),
                int(micro % 1000000));
  return text;
}

bool parseTime(const std::string& raw, double& seconds) {
  std::string text;
  for (char c : raw)
    if (c != ':' && c != ' ') text += c;
  size_t dot = text.find('.');
  std::string whole = text.substr(0, dot);
  if (whole.size() < 2 || whole.size() > 6 || whole.size() % 2) return false;
  for (char c : whole)
    if (c < '0' || c > '9') return false;
  int hours = std::stoi(whole.substr(0, 2));
  int minutes = whole.size() >= 4 ? std::stoi(whole.substr(2, 2)) : 0;
  int secs = whole.size() >= 6 ? std::stoi(whole.substr(4, 2)) : 0;
  if (hours > 23 || minutes > 59 || secs > 60) return false;
  double fraction = 0;
  if (dot != std::string::npos) {
    std::string digits = text.substr(dot + 1);
    for (char c : digits)
      if (c < '0' || c > '9') return false;
    if (!digits.empty()) fraction = std::strtod(("0." + digits).c_str(), nullptr);
  }
  seconds = hours * 3600.0 + minutes * 60.0 + secs + fraction;
  return true;
}

bool parseDate(const std::string& raw, int64_t& days) {
  std::string text;
  for (char c : raw)
    if (c != '.' && c != ' ' && c != '-') text += c;
  if (text.size() != 8) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  int64_t y = std::stoi(text.substr(0, 4));
  const unsigned m = unsigned(std::stoi(text.substr(4, 2)));
  const unsigned d = unsigned(std::stoi(text.substr(6, 2)));
  if (m < 1 || m > 12 || d < 1 || d > 31) return false;
  // Days from the civil date (proleptic Gregorian calendar).
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  days = era * 146097 + int64_t(doe) - 719468;
  return true;
}

bool isUtf8(DcmItem* item) {
  std::string charset;
  return item && elementString(findElement(item, TWKDCM_TAG(0x0008, 0x0005)), charset) &&
         charset.find("ISO_IR 192") != std::string::npos;
}

CString decodeText(DcmItem* item, const std::string& bytes) {
  return isUtf8(item) ? CString(twk::fromUtf8(bytes)) : CString(twk::fromCodePage1252(bytes));
}

std::string encodeText(DcmItem* item, const wchar_t* text) {
  std::wstring_view view = text ? std::wstring_view(text) : std::wstring_view();
  return isUtf8(item) ? twk::toUtf8(view) : twk::toCodePage1252(view);
}

std::string newUid() {
  static std::mutex mutex;
  static std::mt19937_64 generator{[] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }()};
  unsigned __int128 value = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    while (value == 0) value = (static_cast<unsigned __int128>(generator()) << 64) | generator();
  }
  std::string digits;
  while (value) {
    digits.insert(digits.begin(), char('0' + int(value % 10)));
    value /= 10;
  }
  return "2.25." + digits;
}

bool looksLikeDicom(DcmFileFormat& file) {
  DcmMetaInfo* meta = file.getMetaInfo();
  if (meta && findElement(meta, TWKDCM_TAG(0x0002, 0x0010))) return true;
  DcmDataset* data = file.getDataset();
  for (uint32_t tag : {TWKDCM_TAG(0x0008, 0x0016), TWKDCM_TAG(0x0008, 0x0060), TWKDCM_TAG(0x0028, 0x0010),
                       TWKDCM_TAG(0x0020, 0x000D)})
    if (findElement(data, tag)) return true;
  return false;
}

bool loadWholeFile(const wchar_t* path, DcmFileFormat& file, std::string* reason) {
  std::string native = twk::pathToNative(path);
  std::error_code error;
  if (!path || !std::filesystem::is_regular_file(native, error)) {
    if (reason) *reason = "the file does not exist";
    return false;
  }
  OFCondition status = file.loadFile(OFFilename(native.c_str()), EXS_Unknown, EGL_noChange, DCM_MaxReadLength,
                                     ERM_autoDetect);
  if (status.good()) status = file.loadAllDataIntoMemory();
  if (status.bad()) {
    if (reason) *reason = status.text();
    return false;
  }
  if (!looksLikeDicom(file)) {
    if (reason) *reason = "not a DICOM file";
    return false;
  }
  return true;
}

bool saveFileSafely(DcmFileFormat& file, const std::string& nativePath, E_TransferSyntax xfer, E_FileWriteMode mode,
                    std::string* reason) {
  const std::string temporary = nativePath + ".twktmp" + std::to_string(::getpid());
  OFCondition status = file.saveFile(OFFilename(temporary.c_str()), xfer, EET_ExplicitLength, EGL_recalcGL,
                                     EPD_noChange, 0, 0, mode);
  std::error_code error;
  if (status.bad()) {
    std::filesystem::remove(temporary, error);
    if (reason) *reason = status.text();
    return false;
  }
  DcmFileFormat check;
  if (check.loadFile(OFFilename(temporary.c_str())).bad() || check.loadAllDataIntoMemory().bad() ||
      !looksLikeDicom(check)) {
    std::filesystem::remove(temporary, error);
    if (reason) *reason = "the written file does not read back";
    return false;
  }
  std::filesystem::rename(temporary, nativePath, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    if (reason) *reason = "cannot replace the file";
    return false;
  }
  return true;
}

void reportError(const char* function, const CString& message) { twk::showNamedError(CString(function), message); }

bool setMultiNumbers(DcmItem* item, uint32_t tag, const double* values, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    if (!std::isfinite(values[i])) return false;
    text += (i ? "\\" : "") + formatDecimalString(values[i]);
  }
  return setText(item, tag, text);
}

bool getNumbers(DcmItem* item, uint32_t tag, double* values, int count) {
  DcmElement* element = findElement(item, tag);
  if (elementCount(element) < count) return false;
  for (int i = 0; i < count; ++i)
    if (!elementNumber(element, i, values[i])) return false;
  return true;
}

}  // namespace twk::dicom

using namespace twk::dicom;

bool TWKDCM_Initialize() {
  OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
  if (!dcmDataDict.isDictionaryLoaded()) {
    reportError("TWKDCM_Initialize", L"The DICOM data dictionary is not available");
    return false;
  }
  resetPhiProfile();
  return true;
}

void TWKDCM_Shutdown() {
  {
    std::lock_guard<std::mutex> lock(g_decoderMutex);
    if (g_decoderCount > 0) {
      DJDecoderRegistration::cleanup();
      DJLSDecoderRegistration::cleanup();
      DcmRLEDecoderRegistration::cleanup();
    cleanupJpeg2000Codec();
    }
    g_decoderCount = 0;
  }
  forgetReplacedUids();
}

void TWKDCM_DJDecodeRegister() {
  std::lock_guard<std::mutex> lock(g_decoderMutex);
  if (g_decoderCount++ == 0) {
    DJDecoderRegistration::registerCodecs();
    DJLSDecoderRegistration::registerCodecs();
    DcmRLEDecoderRegistration::registerCodecs();
    registerJpeg2000Codec();
  }
}

void TWKDCM_DJDecodeClean() {
  std::lock_guard<std::mutex> lock(g_decoderMutex);
  if (g_decoderCount == 0) return;
  if (--g_decoderCount == 0) {
    DJDecoderRegistration::cleanup();
    DJLSDecoderRegistration::cleanup();
    DcmRLEDecoderRegistration::cleanup();
    cleanupJpeg2000Codec();
  }
}
