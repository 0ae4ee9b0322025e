// Element access by tag, the named acquisition values and the in-place rewriting of files.

#include <cmath>
#include <string>

#include "DicomInternal.h"
#include "TextCodec.h"

using namespace twk::dicom;

namespace {

constexpr uint32_t kRepetitionTime = TWKDCM_TAG(0x0018, 0x0080);
constexpr uint32_t kEchoTime = TWKDCM_TAG(0x0018, 0x0081);
constexpr uint32_t kEffectiveEchoTime = TWKDCM_TAG(0x0018, 0x9082);
constexpr uint32_t kFlipAngle = TWKDCM_TAG(0x0018, 0x1314);
constexpr uint32_t kImagePosition = TWKDCM_TAG(0x0020, 0x0032);
constexpr uint32_t kImageOrientation = TWKDCM_TAG(0x0020, 0x0037);
constexpr uint32_t kStudyDescription = TWKDCM_TAG(0x0008, 0x1030);
constexpr uint32_t kStudyUid = TWKDCM_TAG(0x0020, 0x000D);
constexpr uint32_t kRescaleSlope = TWKDCM_TAG(0x0028, 0x1053);
constexpr uint32_t kRescaleIntercept = TWKDCM_TAG(0x0028, 0x1052);
constexpr uint32_t kAcquisitionTime = TWKDCM_TAG(0x0008, 0x0032);
constexpr uint32_t kDiffusionBvalue = TWKDCM_TAG(0x0018, 0x9087);
constexpr uint32_t kInstanceNumber = TWKDCM_TAG(0x0020, 0x0013);

// A vendor's private b-value element: the element, the private creator slot of its block, and the
// creator texts it must (or, for the last one, must not) carry.
struct VendorBvalue {
  uint32_t tag;
  const char* creator;  // substring the creator must contain; null: any creator but Siemens' and GE's
};
constexpr VendorBvalue kVendorBvalues[] = {
    {TWKDCM_TAG(0x0019, 0x100C), "SIEMENS"},
    {TWKDCM_TAG(0x0043, 0x1039), "GEMS"},
    {TWKDCM_TAG(0x2001, 0x1003), "Philips"},
    {TWKDCM_TAG(0x0019, 0x10B0), nullptr},
};
// GE adds this offset to the b-value on some software versions.
constexpr double kGeBvalueOffset = 1e9;

bool vendorCreatorMatches(DcmItem* data, const VendorBvalue& vendor) {
  const uint32_t creatorTag = TWKDCM_TAG(TWKDCM_TagGroup(vendor.tag), TWKDCM_TagElement(vendor.tag) >> 8);
  std::string creator;
  const bool hasCreator = elementString(findElement(data, creatorTag), creator);
  std::string upper = creator;
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  if (vendor.creator) {
    std::string wanted = vendor.creator;
    for (char& c : wanted) c = char(std::toupper(static_cast<unsigned char>(c)));
    return hasCreator && upper.find(wanted) != std::string::npos;
  }
  return !hasCreator || (upper.find("SIEMENS") == std::string::npos && upper.find("GEMS") == std::string::npos);
}

// The first element with the tag at any depth of an item.
DcmElement* findDeep(DcmItem* item, uint32_t tag) {
  if (!item) return nullptr;
  DcmElement* element = nullptr;
  if (item->findAndGetElement(key(tag), element, OFTrue).bad()) return nullptr;
  return element;
}

bool getNumber(const DCMFF* header, uint32_t tag, double& value) {
  return elementNumber(findElement(dataset(header), tag), 0, value);
}

bool fileRewrite(const char* function, const wchar_t* path, bool (*change)(DcmDataset*, double), double value) {
  if (!path) return false;
  DcmFileFormat file;
  std::string reason;
  if (!loadWholeFile(path, file, &reason)) {
    reportError(function, CString(L"Cannot read ") + path + L" : " + CString(reason.c_str()));
    return false;
  }
  if (!change(file.getDataset(), value)) {
    reportError(function, CString(L"Cannot set the value in ") + path);
    return false;
  }
  if (!saveFileSafely(file, twk::pathToNative(path), EXS_Unknown, EWM_updateMeta, &reason)) {
    reportError(function, CString(L"Cannot write ") + path + L" : " + CString(reason.c_str()));
    return false;
  }
  return true;
}

bool setEchoTimeEverywhere(DcmDataset* data, double seconds) {
  if (!setNumber(data, kEchoTime, seconds * 1000.0)) return false;
  replaceNumberEverywhere(data, kEchoTime, seconds * 1000.0);
  replaceNumberEverywhere(data, kEffectiveEchoTime, seconds * 1000.0);
  return true;
}

bool setBvalue(DcmItem* data, double bvalue, bool everywhere) {
  if (!std::isfinite(bvalue) || !setNumber(data, kDiffusionBvalue, bvalue)) return false;
  if (everywhere) replaceNumberEverywhere(data, kDiffusionBvalue, bvalue);
  for (const VendorBvalue& vendor : kVendorBvalues) {
    DcmElement* element = findElement(data, vendor.tag);
    if (!element || !vendorCreatorMatches(data, vendor)) continue;
    if (vendor.tag == TWKDCM_TAG(0x0043, 0x1039)) {
      // Keep the other values and the offset of the first one.
      std::string text;
      if (!elementString(element, text)) continue;
      double first = 0;
      elementNumber(element, 0, first);
      const double offset = first >= kGeBvalueOffset ? kGeBvalueOffset : 0;
      const size_t slash = text.find('\\');
      std::string rest = slash == std::string::npos ? "" : text.substr(slash);
      element->putString((std::to_string(std::llround(bvalue + offset)) + rest).c_str());
    } else {
      putNumber(element, bvalue);
    }
  }
  return true;
}

bool setBvalueEverywhere(DcmDataset* data, double bvalue) { return setBvalue(data, bvalue, true); }

}  // namespace

// ------------------------------------------------------------------------------------------------
// Generic access

bool TWKDCM_GetString(const DCMFF* header, uint32_t tag, CString* value) {
  std::string bytes;
  if (!value || !elementString(findElement(dataset(header), tag), bytes)) return false;
  *value = decodeText(dataset(header), bytes);
  return true;
}

bool TWKDCM_GetDouble(const DCMFF* header, uint32_t tag, double* value, int index) {
  double v = 0;
  if (!value || !elementNumber(findElement(dataset(header), tag), index, v)) return false;
  *value = v;
  return true;
}

bool TWKDCM_GetDoubles(const DCMFF* header, uint32_t tag, double* values, int count) {
  DcmElement* element = findElement(dataset(header), tag);
  if (!values || count <= 0 || elementCount(element) < count) return false;
  std::vector<double> read(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i)
    if (!elementNumber(element, i, read[size_t(i)])) return false;
  std::copy(read.begin(), read.end(), values);
  return true;
}

bool TWKDCM_GetInt(const DCMFF* header, uint32_t tag, int64_t* value, int index) {
  double v = 0;
  if (!value || !elementNumber(findElement(dataset(header), tag), index, v)) return false;
  if (v != std::floor(v) || std::fabs(v) > 9.2e18) return false;
  *value = int64_t(v);
  return true;
}

bool TWKDCM_GetSequenceString(const DCMFF* header, uint32_t sequenceTag, int item, uint32_t tag, CString* value) {
  DcmDataset* data = dataset(header);
  DcmElement* element = findElement(data, sequenceTag);
  if (!element || !value || item < 0 || element->getTag().getEVR() != EVR_SQ) return false;
  auto* sequence = static_cast<DcmSequenceOfItems*>(element);
  if (static_cast<unsigned long>(item) >= sequence->card()) return false;
  std::string bytes;
  if (!elementString(findElement(sequence->getItem(static_cast<unsigned long>(item)), tag), bytes)) return false;
  *value = decodeText(data, bytes);
  return true;
}

bool TWKDCM_GetTimeSeconds(const DCMFF* header, uint32_t tag, double* seconds) {
  std::string text;
  double value = 0;
  if (!seconds || !elementString(findElement(dataset(header), tag), text) || !parseTime(text, value)) return false;
  *seconds = value;
  return true;
}

bool TWKDCM_SetString(DCMFF* header, uint32_t tag, const char* value) {
  DcmDataset* data = dataset(header);
  if (!data || !value) return false;
  std::string bytes = value;
  if (isUtf8(data)) bytes = twk::toUtf8(twk::fromCodePage1252(bytes));
  return setText(data, tag, bytes);
}

bool TWKDCM_SetStringW(DCMFF* header, uint32_t tag, const wchar_t* value) {
  DcmDataset* data = dataset(header);
  if (!data || !value) return false;
  return setText(data, tag, encodeText(data, value));
}

bool TWKDCM_SetInt(DCMFF* header, uint32_t tag, int64_t value) {
  DcmDataset* data = dataset(header);
  if (!data) return false;
  DcmElement* existing = findElement(data, tag);
  DcmEVR vr = existing ? existing->getTag().getEVR() : DcmTag(key(tag)).getEVR();
  // Decimal and other text kinds take the exact integer text rather than a rounded double.
  if (vr == EVR_IS || vr == EVR_DS || vr == EVR_LO || vr == EVR_SH || vr == EVR_CS)
    return setText(data, tag, std::to_string(value));
  return setNumber(data, tag, double(value));
}

bool TWKDCM_SetDouble(DCMFF* header, uint32_t tag, double value) { return setNumber(dataset(header), tag, value); }

bool TWKDCM_SetTimeSeconds(DCMFF* header, uint32_t tag, double seconds) {
  DcmDataset* data = dataset(header);
  if (!data || !std::isfinite(seconds)) return false;
  return setText(data, tag, formatTime(seconds));
}

bool TWKDCM_RemoveElement(DCMFF* header, uint32_t tag) {
  DcmDataset* data = dataset(header);
  return data && data->findAndDeleteElement(key(tag), OFFalse, OFFalse).good();
}

bool TWKDCM_SetImageIndex(DCMFF* header, int index) { return TWKDCM_SetInt(header, kInstanceNumber, index); }

bool TWKDCM_GetImageIndex(const DCMFF* header, int* index) {
  int64_t value = 0;
  if (!index || !TWKDCM_GetInt(header, kInstanceNumber, &value)) return false;
  *index = int(value);
  return true;
}

// ------------------------------------------------------------------------------------------------
// Acquisition values

bool TWKDCM_GetTR(const DCMFF* header, double* seconds) {
  double ms = 0;
  if (!seconds || !getNumber(header, kRepetitionTime, ms)) return false;
  *seconds = ms * 0.001;
  return true;
}

bool TWKDCM_SetTR(DCMFF* header, double seconds) { return setNumber(dataset(header), kRepetitionTime, seconds * 1000.0); }

bool TWKDCM_GetTE(const DCMFF* header, double* seconds) {
  double ms = 0;
  if (!seconds || !(getNumber(header, kEchoTime, ms) || getNumber(header, kEffectiveEchoTime, ms))) return false;
  *seconds = ms * 0.001;
  return true;
}

bool TWKDCM_SetTE(DCMFF* header, double seconds) {
  DcmDataset* data = dataset(header);
  if (!setNumber(data, kEchoTime, seconds * 1000.0)) return false;
  if (DcmElement* effective = findElement(data, kEffectiveEchoTime)) putNumber(effective, seconds * 1000.0);
  return true;
}

bool TWKDCM_GetFlipAngle(const DCMFF* header, double* degrees) {
  double value = 0;
  if (!degrees || !getNumber(header, kFlipAngle, value)) return false;
  *degrees = value;
  return true;
}

bool TWKDCM_SetFlipAngle(DCMFF* header, double degrees) { return setNumber(dataset(header), kFlipAngle, degrees); }

bool TWKDCM_GetImagePosition(const DCMFF* header, DPOINT3D* position) {
  double xyz[3];
  if (!position || !TWKDCM_GetDoubles(header, kImagePosition, xyz, 3)) return false;
  position->x = xyz[0];
  position->y = xyz[1];
  position->z = xyz[2];
  return true;
}

bool TWKDCM_SetImagePosition(DCMFF* header, const DPOINT3D* position) {
  if (!position || !std::isfinite(position->x) || !std::isfinite(position->y) || !std::isfinite(position->z))
    return false;
  const std::string text = formatDecimalString(position->x) + "\\" + formatDecimalString(position->y) + "\\" +
                           formatDecimalString(position->z);
  return setText(dataset(header), kImagePosition, text);
}

bool TWKDCM_GetImageOrientation(const DCMFF* header, double orientation[6]) {
  return TWKDCM_GetDoubles(header, kImageOrientation, orientation, 6);
}

void TWKDCM_GetVoidOrientation(double orientation[6]) {
  if (orientation)
    for (int i = 0; i < 6; ++i) orientation[i] = VOID_VALUE;
}

void TWKDCM_GetVoidPosition(DPOINT3D* position) {
  if (position) position->x = position->y = position->z = VOID_VALUE;
}

bool TWKDCM_GetStudyDescriptionAndUID(const DCMFF* header, CString* description, CString* uid) {
  if (!description || !uid) return false;
  CString foundUid;
  if (!TWKDCM_GetString(header, kStudyUid, &foundUid)) return false;
  CString foundDescription;
  TWKDCM_GetString(header, kStudyDescription, &foundDescription);
  *uid = foundUid;
  *description = foundDescription;
  return true;
}

bool TWKDCM_SetStudyDescriptionAndUID(DCMFF* header, const wchar_t* description, const wchar_t* uid) {
  DcmDataset* data = dataset(header);
  if (!data || !description || !uid || !*uid) return false;
  const std::string uidText = twk::toUtf8(uid);
  for (char c : uidText)
    if (!(c == '.' || (c >= '0' && c <= '9'))) return false;
  return setText(data, kStudyUid, uidText) && setText(data, kStudyDescription, encodeText(data, description));
}

bool TWKDCM_GetSlopeIntercept(const DCMFF* header, double* slope, double* intercept) {
  if (!slope || !intercept) return false;
  double s = 1, i = 0;
  const bool hasSlope = getNumber(header, kRescaleSlope, s);
  const bool hasIntercept = getNumber(header, kRescaleIntercept, i);
  *slope = hasSlope ? s : 1.0;
  *intercept = hasIntercept ? i : 0.0;
  return hasSlope && hasIntercept;
}

bool TWKDCM_SetSlopeIntercept(DCMFF* header, double slope, double intercept) {
  DcmDataset* data = dataset(header);
  return setNumber(data, kRescaleSlope, slope) && setNumber(data, kRescaleIntercept, intercept);
}

bool TWKDCM_GetAcquisitionTime(const DCMFF* header, double* seconds) {
  if (!seconds) return false;
  for (uint32_t tag : {kAcquisitionTime, TWKDCM_TAG(0x0008, 0x0033), TWKDCM_TAG(0x0008, 0x0031)})
    if (TWKDCM_GetTimeSeconds(header, tag, seconds)) return true;
  return false;
}

bool TWKDCM_SetAcquisitionTime(DCMFF* header, double seconds) {
  return TWKDCM_SetTimeSeconds(header, kAcquisitionTime, seconds);
}

bool TWKDCM_GetAbsoluteTime(const DCMFF* header, double* seconds) {
  DcmDataset* data = dataset(header);
  if (!data || !seconds) return false;
  std::string text;
  if (elementString(findElement(data, TWKDCM_TAG(0x0008, 0x002A)), text) && text.size() >= 8) {
    int64_t days = 0;
    double time = 0;
    std::string clock = text.substr(8);
    const size_t zone = clock.find_first_of("+-");
    if (zone != std::string::npos) clock = clock.substr(0, zone);
    if (parseDate(text.substr(0, 8), days) && (clock.empty() || parseTime(clock, time))) {
      *seconds = double(days) * 86400.0 + time;
      return true;
    }
  }
  const uint32_t pairs[][2] = {{TWKDCM_TAG(0x0008, 0x0022), TWKDCM_TAG(0x0008, 0x0032)},
                               {TWKDCM_TAG(0x0008, 0x0023), TWKDCM_TAG(0x0008, 0x0033)},
                               {TWKDCM_TAG(0x0008, 0x0021), TWKDCM_TAG(0x0008, 0x0031)},
                               {TWKDCM_TAG(0x0008, 0x0020), TWKDCM_TAG(0x0008, 0x0030)}};
  for (const auto& pair : pairs) {
    std::string date, clock;
    int64_t days = 0;
    double time = 0;
    if (elementString(findElement(data, pair[0]), date) && parseDate(date, days) &&
        elementString(findElement(data, pair[1]), clock) && parseTime(clock, time)) {
      *seconds = double(days) * 86400.0 + time;
      return true;
    }
  }
  return false;
}

bool TWKDCM_GetDiffusionBvalue(const DCMFF* header, double* bvalue) {
  DcmDataset* data = dataset(header);
  if (!data || !bvalue) return false;
  double value = 0;
  // The standard element, at the top level or inside the functional groups of enhanced files.
  if (elementNumber(findElement(data, kDiffusionBvalue), 0, value) ||
      elementNumber(findDeep(data, kDiffusionBvalue), 0, value)) {
    *bvalue = value;
    return true;
  }
  for (const VendorBvalue& vendor : kVendorBvalues) {
    DcmElement* element = findElement(data, vendor.tag);
    if (!element || !vendorCreatorMatches(data, vendor) || !elementNumber(element, 0, value)) continue;
    if (vendor.tag == TWKDCM_TAG(0x0043, 0x1039)) value = std::fmod(value, kGeBvalueOffset);
    if (value < 0) continue;
    *bvalue = value;
    return true;
  }
  return false;
}

bool TWKDCM_SetDiffusionBvalue(DCMFF* header, double bvalue) { return setBvalue(dataset(header), bvalue, false); }

bool TWKDCM_GetPatientInfo(const DCMFF* header, CString* patientId, CString* sex, CString* birthDate) {
  if (!patientId || !sex || !birthDate) return false;
  CString id;
  if (!TWKDCM_GetString(header, TWKDCM_TAG(0x0010, 0x0020), &id)) return false;
  CString foundSex, foundBirth;
  TWKDCM_GetString(header, TWKDCM_TAG(0x0010, 0x0040), &foundSex);
  TWKDCM_GetString(header, TWKDCM_TAG(0x0010, 0x0030), &foundBirth);
  *patientId = id;
  *sex = foundSex;
  *birthDate = foundBirth;
  return true;
}

bool TWKDCM_GetGeneralDate(const DCMFF* header, CString* date) {
  if (!date) return false;
  for (uint32_t tag : {TWKDCM_TAG(0x0008, 0x0020), TWKDCM_TAG(0x0008, 0x0021), TWKDCM_TAG(0x0008, 0x0022),
                       TWKDCM_TAG(0x0008, 0x0023)})
    if (TWKDCM_GetString(header, tag, date)) return true;
  return false;
}

bool TWKDCM_GetSeriesNumber(const DCMFF* header, int* number) {
  int64_t value = 0;
  if (!number || !TWKDCM_GetInt(header, TWKDCM_TAG(0x0020, 0x0011), &value)) return false;
  *number = int(value);
  return true;
}

const wchar_t* TWKDCM_GetModalityName(int modality) {
  switch (modality) {
    case 0: return L"CT";
    case 1: return L"MR";
    case 2: return L"PET";
    default: return nullptr;
  }
}

bool TWKDCM_ReplaceTEval(const wchar_t* path, double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) {
    twk::dicom::reportError("TWKDCM_ReplaceTEval", L"Invalid echo time");
    return false;
  }
  return fileRewrite("TWKDCM_ReplaceTEval", path, setEchoTimeEverywhere, seconds);
}

bool TWKDCM_ReplaceDiffusionBvalue(const wchar_t* path, double bvalue) {
  if (!std::isfinite(bvalue) || bvalue < 0) {
    twk::dicom::reportError("TWKDCM_ReplaceDiffusionBvalue", L"Invalid b-value");
    return false;
  }
  return fileRewrite("TWKDCM_ReplaceDiffusionBvalue", path, setBvalueEverywhere, bvalue);
}
