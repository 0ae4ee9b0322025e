// The protected-health-information profile: its text form, the default profile, the PHI records
// of a header and de-identification of headers and files.

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <sstream>

#include <unistd.h>

#include "DicomInternal.h"
#include "TextCodec.h"
#include "TwkMem.h"

using namespace twk::dicom;

namespace {

enum class PhiAction { Remove, Empty, Replace, Keep };

struct PhiRule {
  uint16_t group = 0, groupMask = 0xFFFF;      // a 0 nibble in a mask stands for 'x'
  uint16_t element = 0, elementMask = 0xFFFF;
  PhiAction action = PhiAction::Remove;
  std::string value;  // replacement given in the profile (replace only), UTF-8
  bool hasValue = false;
  int wildcards = 0;

  bool matches(uint32_t tag) const {
    return (TWKDCM_TagGroup(tag) & groupMask) == group && (TWKDCM_TagElement(tag) & elementMask) == element;
  }
};

struct PhiProfile {
  std::vector<PhiRule> rules;
  bool removePrivate = true;
};

// The default: the Basic Application Level Confidentiality Profile (PS3.15 Annex E, table E.1-1).
// Actions X, X/Z, X/D and X/Z/D remove; Z and Z/D empty; D and U replace (U: a new UID). Sequences
// marked X/Z/U* (referenced image and source image sequences) have no rule: the rules apply to their items.
const char kDefaultProfile[] = R"(# Tarnwick PHI profile: one rule a line, "(gggg,eeee) action [value]".
# Actions: remove, empty, replace, keep. 'x' stands for any hexadecimal digit.
# "private remove" or "private keep" decides the private elements (odd groups).
(0002,0003) replace
(0008,0012) remove
(0008,0013) remove
(0008,0014) replace
(0008,0015) remove
(0008,0018) replace
(0008,0020) empty
(0008,0021) remove
(0008,0022) remove
(0008,0023) empty
(0008,0024) remove
(0008,0025) remove
(0008,002A) remove
(0008,0030) empty
(0008,0031) remove
(0008,0032) remove
(0008,0033) empty
(0008,0034) remove
(0008,0035) remove
(0008,0050) empty
(0008,0058) replace
(0008,0080) remove
(0008,0081) remove
(0008,0082) remove
(0008,0090) empty
(0008,0092) remove
(0008,0094) remove
(0008,0096) remove
(0008,010D) replace
(0008,0201) remove
(0008,1010) remove
(0008,1030) remove
(0008,103E) remove
(0008,1040) remove
(0008,1048) remove
(0008,1049) remove
(0008,1050) remove
(0008,1052) remove
(0008,1060) remove
(0008,1062) remove
(0008,1070) remove
(0008,1072) remove
(0008,1080) remove
(0008,1084) remove
(0008,1110) remove
(0008,1111) remove
(0008,1120) remove
(0008,1155) replace
(0008,1195) replace
(0008,2111) remove
(0008,3010) replace
(0008,4000) remove
(0008,9123) replace
(0010,0010) empty
(0010,0020) empty
(0010,0021) remove
(0010,0030) empty
(0010,0032) remove
(0010,0040) empty
(0010,0050) remove
(0010,0101) remove
(0010,0102) remove
(0010,1000) remove
(0010,1001) remove
(0010,1002) remove
(0010,1005) remove
(0010,1010) remove
(0010,1020) remove
(0010,1030) remove
(0010,1040) remove
(0010,1050) remove
(0010,1060) remove
(0010,1080) remove
(0010,1081) remove
(0010,1090) remove
(0010,2000) remove
(0010,2110) remove
(0010,2150) remove
(0010,2152) remove
(0010,2154) remove
(0010,2160) remove
(0010,2180) remove
(0010,21A0) remove
(0010,21B0) remove
(0010,21C0) remove
(0010,21D0) remove
(0010,21F0) remove
(0010,2203) remove
(0010,2297) remove
(0010,2299) remove
(0010,4000) remove
(0018,0010) empty
(0018,1000) remove
(0018,1002) replace
(0018,1004) remove
(0018,1005) remove
(0018,1007) remove
(0018,1008) remove
(0018,1012) remove
(0018,1014) remove
(0018,1030) remove
(0018,1200) remove
(0018,1201) remove
(0018,1202) remove
(0018,1400) remove
(0018,4000) remove
(0018,700A) remove
(0018,700C) remove
(0018,9074) remove
(0018,9151) remove
(0018,9424) remove
(0018,9516) remove
(0018,9517) remove
(0018,A003) remove
(0020,000D) replace
(0020,000E) replace
(0020,0010) empty
(0020,0052) replace
(0020,0200) replace
(0020,3401) remove
(0020,3404) remove
(0020,3406) remove
(0020,4000) remove
(0020,9158) remove
(0020,9161) replace
(0020,9164) replace
(0028,1199) replace
(0028,1214) replace
(0028,4000) remove
(0032,0012) remove
(0032,1020) remove
(0032,1021) remove
(0032,1030) remove
(0032,1032) remove
(0032,1033) remove
(0032,1060) remove
(0032,1070) remove
(0032,4000) remove
(0038,0010) remove
(0038,0011) remove
(0038,001E) remove
(0038,0020) remove
(0038,0021) remove
(0038,0040) remove
(0038,0050) remove
(0038,0060) remove
(0038,0061) remove
(0038,0062) remove
(0038,0300) remove
(0038,0400) remove
(0038,0500) remove
(0038,1234) remove
(0038,4000) remove
(0040,0001) remove
(0040,0002) remove
(0040,0003) remove
(0040,0004) remove
(0040,0005) remove
(0040,0006) remove
(0040,0007) remove
(0040,000B) remove
(0040,0010) remove
(0040,0011) remove
(0040,0012) remove
(0040,0241) remove
(0040,0242) remove
(0040,0243) remove
(0040,0244) remove
(0040,0245) remove
(0040,0250) remove
(0040,0251) remove
(0040,0253) remove
(0040,0254) remove
(0040,0275) remove
(0040,0280) remove
(0040,0555) remove
(0040,1001) remove
(0040,1004) remove
(0040,1005) remove
(0040,1010) remove
(0040,1011) remove
(0040,1101) remove
(0040,1102) remove
(0040,1103) remove
(0040,1400) remove
(0040,2001) remove
(0040,2008) remove
(0040,2009) remove
(0040,2010) remove
(0040,2016) empty
(0040,2017) empty
(0040,2400) remove
(0040,3001) remove
(0040,4023) replace
(0040,4025) remove
(0040,4027) remove
(0040,4030) remove
(0040,4034) remove
(0040,4035) remove
(0040,4036) remove
(0040,4037) remove
(0040,A073) remove
(0040,A075) replace
(0040,A078) remove
(0040,A07A) remove
(0040,A07C) remove
(0040,A088) empty
(0040,A123) replace
(0040,A124) replace
(0040,A730) remove
(0040,DB0C) replace
(0040,DB0D) replace
(0070,0084) empty
(0070,0086) remove
(0070,031A) replace
(0088,0140) replace
(0088,0200) remove
(0088,0904) remove
(0088,0906) remove
(0088,0910) remove
(0088,0912) remove
(0400,0100) remove
(0400,0402) remove
(0400,0403) remove
(0400,0404) remove
(0400,0550) remove
(0400,0561) remove
(2030,0020) remove
(3006,0024) replace
(3006,00C2) replace
(300A,0013) replace
(300E,0008) remove
(4000,0010) remove
(4000,4000) remove
(4008,0042) remove
(4008,0102) remove
(4008,010A) remove
(4008,010B) remove
(4008,010C) remove
(4008,0111) remove
(4008,0114) remove
(4008,0115) remove
(4008,0118) remove
(4008,0119) remove
(4008,011A) remove
(4008,0202) remove
(4008,0300) remove
(4008,4000) remove
(50xx,xxxx) remove
(60xx,3000) remove
(60xx,4000) remove
(FFFA,FFFA) remove
(FFFC,FFFC) remove
private remove
)";

const char kDeidentificationMethod[] = "Tarnwick PHI profile";

std::shared_mutex g_profileMutex;
std::mutex g_uidMutex;
std::map<std::string, std::string> g_replacedUids;

std::string trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Four hexadecimal digits or 'x' into a value and a mask.
bool parseTagHalf(const std::string& text, uint16_t& value, uint16_t& mask, int& wildcards) {
  if (text.size() != 4) return false;
  value = mask = 0;
  for (char c : text) {
    value = uint16_t(value << 4);
    mask = uint16_t(mask << 4);
    if (c == 'x' || c == 'X') {
      ++wildcards;
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    value = uint16_t(value | std::stoi(std::string(1, c), nullptr, 16));
    mask = uint16_t(mask | 0xF);
  }
  return true;
}

bool parseProfile(std::istream& in, PhiProfile& profile, int& badLine, std::string& badText) {
  profile = PhiProfile();
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    const std::string text = trim(line);
    if (text.empty() || text[0] == '#') continue;
    std::istringstream words(text);
    std::string first, action;
    words >> first >> action;
    action = lower(action);
    std::string rest;
    std::getline(words, rest);
    rest = trim(rest);
    auto fail = [&] {
      badLine = number;
      badText = text;
      return false;
    };
    if (lower(first) == "private") {
      if (!rest.empty() || (action != "remove" && action != "keep")) return fail();
      profile.removePrivate = action == "remove";
      continue;
    }
    PhiRule rule;
    if (first.size() != 11 || first[0] != '(' || first[5] != ',' || first[10] != ')' ||
        !parseTagHalf(first.substr(1, 4), rule.group, rule.groupMask, rule.wildcards) ||
        !parseTagHalf(first.substr(6, 4), rule.element, rule.elementMask, rule.wildcards))
      return fail();
    if (action == "remove") rule.action = PhiAction::Remove;
    else if (action == "empty") rule.action = PhiAction::Empty;
    else if (action == "replace") rule.action = PhiAction::Replace;
    else if (action == "keep") rule.action = PhiAction::Keep;
    else return fail();
    if (!rest.empty()) {
      if (rule.action != PhiAction::Replace) return fail();
      rule.value = rest;
      rule.hasValue = true;
    }
    profile.rules.push_back(rule);
  }
  return true;
}

PhiProfile defaultProfile() {
  std::istringstream in(kDefaultProfile);
  PhiProfile profile;
  int line = 0;
  std::string text;
  parseProfile(in, profile, line, text);
  return profile;
}

PhiProfile& currentProfile() {
  static PhiProfile profile = defaultProfile();
  return profile;
}

std::string formatRule(const PhiRule& rule) {
  auto half = [](uint16_t value, uint16_t mask) {
    std::string text;
    for (int shift = 12; shift >= 0; shift -= 4) {
      if (((mask >> shift) & 0xF) == 0) {
        text += 'x';
      } else {
        text += "0123456789ABCDEF"[(value >> shift) & 0xF];
      }
    }
    return text;
  };
  static const char* const names[] = {"remove", "empty", "replace", "keep"};
  std::string text = "(" + half(rule.group, rule.groupMask) + "," + half(rule.element, rule.elementMask) + ") " +
                     names[int(rule.action)];
  if (rule.hasValue) text += " " + rule.value;
  return text;
}

// The rule for a tag: the one with the fewest wildcards, the later one among equals; null when none.
const PhiRule* ruleFor(const PhiProfile& profile, uint32_t tag) {
  const PhiRule* best = nullptr;
  for (const PhiRule& rule : profile.rules)
    if (rule.matches(tag) && (!best || rule.wildcards <= best->wildcards)) best = &rule;
  return best;
}

bool isPrivate(uint32_t tag) { return (TWKDCM_TagGroup(tag) & 1) != 0 && TWKDCM_TagElement(tag) != 0; }

std::string replacedUid(const std::string& uid) {
  std::lock_guard<std::mutex> lock(g_uidMutex);
  auto found = g_replacedUids.find(uid);
  if (found != g_replacedUids.end()) return found->second;
  const std::string fresh = newUid();
  g_replacedUids.emplace(uid, fresh);
  return fresh;
}

// What replace writes into an element of this VR when the profile gives no value; empty: clear it.
std::string neutralValue(DcmEVR vr) {
  switch (vr) {
    case EVR_PN: case EVR_LO: case EVR_SH: case EVR_LT: case EVR_ST: case EVR_UT: case EVR_UC: case EVR_AE:
    case EVR_CS:
      return "ANONYMOUS";
    case EVR_DA: return "19000101";
    case EVR_TM: return "000000";
    case EVR_DT: return "19000101000000";
    case EVR_AS: return "000Y";
    case EVR_DS: case EVR_IS: case EVR_US: case EVR_SS: case EVR_UL: case EVR_SL: case EVR_FL: case EVR_FD:
      return "0";
    default: return "";
  }
}

// The replacement of each UID of a multi-valued UI text.
std::string replaceUids(const std::string& text) {
  std::string result;
  size_t start = 0;
  for (;;) {
    const size_t slash = text.find('\\', start);
    std::string uid = trim(text.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (!result.empty() || start) result += '\\';
    if (!uid.empty()) result += replacedUid(uid);
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return result;
}

void applyProfile(const PhiProfile& profile, DcmItem* item, DcmItem* root) {
  if (!item) return;
  for (unsigned long i = item->card(); i-- > 0;) {
    DcmElement* element = item->getElement(i);
    if (!element) continue;
    const uint32_t tag = tagOf(element->getTag());
    const DcmEVR vr = element->getTag().getEVR();
    const PhiRule* rule = ruleFor(profile, tag);
    const bool exact = rule && rule->wildcards == 0;
    if (isPrivate(tag) && !exact) {
      if (profile.removePrivate) delete item->remove(i);
      continue;
    }
    if (!rule) {
      if (vr == EVR_SQ) {
        auto* sequence = static_cast<DcmSequenceOfItems*>(element);
        for (unsigned long j = 0; j < sequence->card(); ++j) applyProfile(profile, sequence->getItem(j), root);
      }
      continue;
    }
    switch (rule->action) {
      case PhiAction::Keep:
        break;
      case PhiAction::Remove:
        delete item->remove(i);
        break;
      case PhiAction::Empty:
        element->clear();
        break;
      case PhiAction::Replace: {
        std::string value;
        if (vr == EVR_UI) {
          std::string old;
          if (!elementString(element, old)) break;  // nothing to replace
          value = replaceUids(old);
        } else if (rule->hasValue) {
          value = isUtf8(root) ? rule->value : twk::toCodePage1252(twk::fromUtf8(rule->value));
        } else {
          value = neutralValue(vr);
        }
        if (vr == EVR_SQ || value.empty() || element->putString(value.c_str()).bad()) element->clear();
        break;
      }
    }
  }
}

void appendRecord(CString*** records, int64_t* count, const CString& text) {
  CString** grown = *records;
  if (!pf_realloc(&grown, (*count + 1) * int64_t(sizeof(CString*)))) return;
  *records = grown;
  (*records)[(*count)++] = new CString(text);
}

CString recordText(DcmElement* element, DcmItem* root, const std::string& value) {
  const uint32_t tag = tagOf(element->getTag());
  CString text;
  text.Format(L"(%04X,%04X) ", TWKDCM_TagGroup(tag), TWKDCM_TagElement(tag));
  DcmTag dictionaryTag = element->getTag();
  const char* name = dictionaryTag.getTagName();
  text += CString(name ? name : "Unknown");
  text += L" : ";
  text += decodeText(root, value);
  return text;
}

void collectRecords(const PhiProfile& profile, DcmItem* item, DcmItem* root, bool deidentified, CString*** records,
                    int64_t* count, int64_t& privateCount) {
  if (!item) return;
  for (unsigned long i = 0; i < item->card(); ++i) {
    DcmElement* element = item->getElement(i);
    if (!element) continue;
    const uint32_t tag = tagOf(element->getTag());
    const DcmEVR vr = element->getTag().getEVR();
    const PhiRule* rule = ruleFor(profile, tag);
    const bool exact = rule && rule->wildcards == 0;
    if (isPrivate(tag) && !exact) {
      if (profile.removePrivate) ++privateCount;
      continue;
    }
    auto* sequence = vr == EVR_SQ ? static_cast<DcmSequenceOfItems*>(element) : nullptr;
    if (!rule) {
      if (sequence)
        for (unsigned long j = 0; j < sequence->card(); ++j)
          collectRecords(profile, sequence->getItem(j), root, deidentified, records, count, privateCount);
      continue;
    }
    if (rule->action == PhiAction::Keep) continue;
    if (sequence) {
      if (sequence->card() > 0)
        appendRecord(records, count, recordText(element, root, std::to_string(sequence->card()) + " item(s)"));
      continue;
    }
    std::string value;
    if (!elementString(element, value)) continue;  // an empty element holds nothing
    if (rule->action == PhiAction::Replace) {
      if (vr == EVR_UI && deidentified) continue;
      if (vr != EVR_UI && value == (rule->hasValue ? rule->value : neutralValue(vr))) continue;
    }
    appendRecord(records, count, recordText(element, root, value));
  }
}

bool markedDeidentified(DcmDataset* data) {
  std::string mark;
  return elementString(findElement(data, TWKDCM_TAG(0x0012, 0x0062)), mark) && trim(mark) == "YES";
}

void deidentify(DcmFileFormat& file) {
  std::shared_lock<std::shared_mutex> lock(g_profileMutex);
  const PhiProfile& profile = currentProfile();
  DcmDataset* data = file.getDataset();
  applyProfile(profile, file.getMetaInfo(), data);
  applyProfile(profile, data, data);
  data->putAndInsertString(DcmTagKey(0x0012, 0x0062), "YES");
  data->putAndInsertString(DcmTagKey(0x0012, 0x0063), kDeidentificationMethod);
}

}  // namespace

namespace twk::dicom {

void forgetReplacedUids() {
  std::lock_guard<std::mutex> lock(g_uidMutex);
  g_replacedUids.clear();
}

void resetPhiProfile() {
  std::unique_lock<std::shared_mutex> lock(g_profileMutex);
  currentProfile() = defaultProfile();
}

}  // namespace twk::dicom

bool TWKDCM_SetPHItags(const wchar_t* profilePath) {
  const std::string native = twk::pathToNative(profilePath);
  std::error_code error;
  if (!profilePath || !std::filesystem::is_regular_file(native, error)) {
    resetPhiProfile();
    return false;
  }
  std::ifstream in(native, std::ios::binary);
  PhiProfile profile;
  int badLine = 0;
  std::string badText;
  if (!in || !parseProfile(in, profile, badLine, badText)) {
    resetPhiProfile();
    CString message;
    if (badLine > 0)
      message.Format(L"Invalid line %d in %s : %s", badLine, profilePath, CString::fromUtf8(badText).GetString());
    else
      message.Format(L"Unable to read %s", profilePath);
    reportError("TWKDCM_SetPHItags", message);
    return false;
  }
  std::unique_lock<std::shared_mutex> lock(g_profileMutex);
  currentProfile() = std::move(profile);
  return true;
}

bool TWKDCM_SaveCurrentPHIprofile(const wchar_t* path) {
  if (!path) return false;
  std::string text;
  {
    std::shared_lock<std::shared_mutex> lock(g_profileMutex);
    const PhiProfile& profile = currentProfile();
    text = "# Tarnwick PHI profile: one rule a line, \"(gggg,eeee) action [value]\".\n"
           "# Actions: remove, empty, replace, keep. 'x' stands for any hexadecimal digit.\n"
           "# \"private remove\" or \"private keep\" decides the private elements (odd groups).\n";
    for (const PhiRule& rule : profile.rules) text += formatRule(rule) + "\n";
    text += profile.removePrivate ? "private remove\n" : "private keep\n";
  }
  const std::string native = twk::pathToNative(path);
  const std::string temporary = native + ".twktmp" + std::to_string(::getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      std::error_code error;
      std::filesystem::remove(temporary, error);
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, native, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    return false;
  }
  return true;
}

bool TWKDCM_ExtractPHIrecords(const DCMFF* header, CString*** records, int64_t* count) {
  DcmDataset* data = dataset(header);
  if (!data || !records || !count) return false;
  if (!*records) *count = 0;
  std::shared_lock<std::shared_mutex> lock(g_profileMutex);
  const PhiProfile& profile = currentProfile();
  int64_t privateCount = 0;
  collectRecords(profile, data, data, markedDeidentified(data), records, count, privateCount);
  if (privateCount > 0) {
    CString text;
    text.Format(L"(private) Private elements : %I64d", privateCount);
    appendRecord(records, count, text);
  }
  return true;
}

bool TWKDCM_DeidentifyFF(DCMFF* header) {
  if (!header) return false;
  deidentify(header->file);
  return true;
}

bool TWKDCM_DeidentifyFile(const wchar_t* sourcePath, const wchar_t* targetPath) {
  if (!sourcePath) return false;
  DcmFileFormat file;
  std::string reason;
  if (!loadWholeFile(sourcePath, file, &reason)) {
    reportError("TWKDCM_DeidentifyFile", CString(L"Cannot read ") + sourcePath + L" : " + CString(reason.c_str()));
    return false;
  }
  deidentify(file);
  const wchar_t* target = targetPath && *targetPath ? targetPath : sourcePath;
  if (!saveFileSafely(file, twk::pathToNative(target), EXS_Unknown, EWM_createNewMeta, &reason)) {
    reportError("TWKDCM_DeidentifyFile", CString(L"Cannot write ") + target + L" : " + CString(reason.c_str()));
    return false;
  }
  return true;
}
