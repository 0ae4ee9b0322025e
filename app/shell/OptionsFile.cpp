#include "OptionsFile.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "TwkUi.h"
#include "docsupport/DocSupport.h"
#include "paths/FilePaths.h"

namespace {

enum class Kind { Flag8, Int, Unsigned, Text };

struct Key {
  const char* name;
  Kind kind;
  uint8_t USEROPT::*flag = nullptr;
  int32_t USEROPT::*number = nullptr;
  uint32_t USEROPT::*unsignedNumber = nullptr;
  CString USEROPT::*text = nullptr;
};

constexpr Key flagKey(const char* n, uint8_t USEROPT::*m) { return Key{n, Kind::Flag8, m, nullptr, nullptr, nullptr}; }
constexpr Key intKey(const char* n, int32_t USEROPT::*m) { return Key{n, Kind::Int, nullptr, m, nullptr, nullptr}; }
constexpr Key unsignedKey(const char* n, uint32_t USEROPT::*m) {
  return Key{n, Kind::Unsigned, nullptr, nullptr, m, nullptr};
}
Key textKey(const char* n, CString USEROPT::*m) { return Key{n, Kind::Text, nullptr, nullptr, nullptr, m}; }

// The keys in the order they are written.
const Key kKeys[] = {
    flagKey("DICOM compress", &USEROPT::dicomCompress),
    textKey("Temp Folder", &USEROPT::tempFolder),
    textKey("RAW Load Folder", &USEROPT::rawLoadFolder),
    textKey("RAW Save3D Folder", &USEROPT::rawSave3DFolder),
    textKey("RAW Save4D Folder", &USEROPT::rawSave4DFolder),
    textKey("TWK Load Folder", &USEROPT::twkLoadFolder),
    textKey("TWK Save Folder", &USEROPT::twkSaveFolder),
    textKey("DCM Load Folder", &USEROPT::dcmLoadFolder),
    textKey("TAC Load Folder", &USEROPT::tacLoadFolder),
    textKey("VROI Load Folder", &USEROPT::vroiLoadFolder),
    textKey("VTF Folder", &USEROPT::vtfFolder),
    textKey("Current Work Folder", &USEROPT::currentWorkFolder),
    textKey("RAW Load extension", &USEROPT::rawLoadExt),
    textKey("RAW Save3D extension", &USEROPT::rawSave3DExt),
    textKey("RAW Save4D extension", &USEROPT::rawSave4DExt),
    textKey("TWK Load extension", &USEROPT::twkLoadExt),
    textKey("TWK Save extension", &USEROPT::twkSaveExt),
    intKey("RAW Load FilterInx", &USEROPT::rawLoadFilterInx),
    intKey("RAW Save3D FilterInx", &USEROPT::rawSave3DFilterInx),
    intKey("RAW Save4D FilterInx", &USEROPT::rawSave4DFilterInx),
    intKey("TWK Load FilterInx", &USEROPT::twkLoadFilterInx),
    intKey("TWK Save FilterInx", &USEROPT::twkSaveFilterInx),
    flagKey("InterpVols", &USEROPT::interpVols),
    flagKey("InterpRois", &USEROPT::interpRois),
    flagKey("InterpPmaps", &USEROPT::interpPmaps),
    flagKey("InterpAllowFilmView", &USEROPT::interpFilmView),
    flagKey("DisplayOrient", &USEROPT::displayOrient),
    flagKey("LoadDMDBfromTWK", &USEROPT::loadDmdbFromTwk),
    intKey("VolCursor", &USEROPT::volCursor),
    flagKey("MainframeAutoTile", &USEROPT::autoTile),
    flagKey("VerifyModality", &USEROPT::verifyModality),
    flagKey("CompressDICOMinTWK", &USEROPT::compressDicomInTwk),
    intKey("DefaultInterpolation", &USEROPT::defaultInterpolation),
    intKey("ToolbarAlign", &USEROPT::toolbarAlign),
    intKey("ImageOpenLayout", &USEROPT::imageOpenLayout),
    intKey("ProjViewConvention", &USEROPT::projViewConvention),
    intKey("VisualStyle", &USEROPT::visualStyle),
    unsignedKey("DocBakgroundColor", &USEROPT::docBackgroundColor),
};

std::string valueText(USEROPT* o, const Key& k) {
  switch (k.kind) {
    case Kind::Flag8: return o->*k.flag ? "1" : "0";
    case Kind::Int: return std::to_string(uint32_t(o->*k.number));
    case Kind::Unsigned: return std::to_string(o->*k.unsignedNumber);
    case Kind::Text: return (o->*k.text).toUtf8();
  }
  return {};
}

// One unsigned decimal at the start of the text (blanks before it skipped), as "%u" reads it.
bool readUnsigned(const std::string& text, uint32_t* value) {
  unsigned v = 0;
  if (std::sscanf(text.c_str(), "%u", &v) != 1) return false;
  *value = v;
  return true;
}

}  // namespace

void TW_CheckUserOptionFolders(USEROPT* o) {
  if (!o) return;
  CString* folders[] = {&o->rawLoadFolder, &o->rawSave3DFolder, &o->rawSave4DFolder, &o->twkLoadFolder,
                        &o->twkSaveFolder, &o->dcmLoadFolder,   &o->tacLoadFolder,   &o->vroiLoadFolder,
                        &o->vtfFolder,     &o->currentWorkFolder};
  for (CString* folder : folders)
    if (folder->IsEmpty() || !PR_FolderExists(*folder, false)) *folder = o->tempFolder;
}

bool TW_LoadUserOptions(const wchar_t* path, USEROPT* o) {
  if (!o) return false;
  TW_SetUserOptionDefaults(o);
  std::ifstream in(CString(path).toUtf8(), std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t split = line.find(":=");
    if (split == std::string::npos) continue;
    const std::string key = line.substr(0, split);
    const std::string value = line.substr(split + 2);
    for (const Key& k : kKeys) {
      if (key != k.name) continue;
      uint32_t number = 0;
      switch (k.kind) {
        case Kind::Flag8:
          if (readUnsigned(value, &number)) o->*k.flag = number != 0;
          break;
        case Kind::Int:
          if (readUnsigned(value, &number)) o->*k.number = int32_t(number);
          break;
        case Kind::Unsigned:
          if (readUnsigned(value, &number)) o->*k.unsignedNumber = number;
          break;
        case Kind::Text:
          if (!value.empty()) o->*k.text = CString::fromUtf8(value);
          break;
      }
      break;
    }
  }
  TW_CheckUserOptionFolders(o);
  return true;
}

bool TW_SaveUserOptions(const wchar_t* path, USEROPT* o) {
  if (!o || !path) return false;
  TW_CheckUserOptionFolders(o);
  const std::string target = CString(path).toUtf8();
  const std::string temporary = target + ".tmp";
  FILE* fp = std::fopen(temporary.c_str(), "w+b");
  if (!fp) return false;
  for (const Key& k : kKeys) {
    const std::string text = std::string(k.name) + ":=" + valueText(o, k) + "\n";
    if (std::fwrite(text.data(), 1, text.size(), fp) != text.size()) {
      std::fclose(fp);
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::fclose(fp) != 0 || std::rename(temporary.c_str(), target.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

CString TW_UserOptionsText(const USEROPT& options) {
  USEROPT o = options;
  auto find = [](const char* name) -> const Key& {
    for (const Key& k : kKeys)
      if (std::string(name) == k.name) return k;
    return kKeys[0];
  };
  CString text;
  auto add = [&](const char* name, const CString& value) { text += CString(name) + L":=" + value + L"\n"; };
  auto plain = [&](const char* name) { add(name, CString::fromUtf8(valueText(&o, find(name)))); };
  for (const char* name : {"Temp Folder", "RAW Load Folder", "RAW Save3D Folder", "DCM Load Folder",
                           "RAW Save4D Folder", "TWK Load Folder", "TWK Save Folder", "VTF Folder", "TAC Load Folder",
                           "VROI Load Folder", "Current Work Folder", "RAW Load extension", "RAW Save3D extension",
                           "RAW Save4D extension", "TWK Load extension", "TWK Save extension", "InterpVols",
                           "DICOM compress", "RAW Load FilterInx", "RAW Save3D FilterInx", "RAW Save4D FilterInx",
                           "TWK Load FilterInx", "TWK Save FilterInx", "InterpRois", "InterpPmaps",
                           "InterpAllowFilmView", "DisplayOrient"})
    plain(name);
  add("ImageOpenLayout", VA_ImageOpenLayoutTypeName(o.imageOpenLayout));
  add("ProjViewConvention", VA_ProjViewConventionTypeName(o.projViewConvention));
  for (const char* name : {"LoadDMDBfromTWK", "VolCursor", "MainframeAutoTile", "VerifyModality", "CompressDICOMinTWK"})
    plain(name);
  add("DefaultInterpolation", VA_GetInterpolationName(o.defaultInterpolation));
  plain("ToolbarAlign");
  return text;
}

void TW_ShowUserOptions() { twk::ui().messageBox(TW_UserOptionsText(), L"Tarnwick", MB_OK | MB_ICONINFORMATION); }
