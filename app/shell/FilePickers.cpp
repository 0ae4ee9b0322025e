#include "FilePickers.h"

#include <fnmatch.h>

#include <map>
#include <vector>

#include "AppOptions.h"
#include "DocMessages.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "paths/FilePaths.h"

namespace {

const std::map<int, const wchar_t*>& stringTable() {
  static const std::map<int, const wchar_t*> table = {
      {3, L"Volume Transform File (*.vtf)|*.vtf|"},
      {4, L"Transform Task File (*.txt)|*.txt|"},
      {5, L"Text file (*.txt)|*.txt|"},
      {6, L"Time Activity Curve file (*.txt)|*.txt|"},
      {7, L"Input function file (*.txt;*.idwc)|*.txt;*.idwc|"},
      {8, L"Text file (*.txt)|*.txt|"},
      {9, L"All (*.im;*.img;*nii)|*.im;*.img;*nii;*.time|Obrix (*.im)|*.im|ANALYZE (*.img)|*.img|Nifti (*.nii)|*.nii|"},
      {10, L"Matlab image file (*.mat)|*.mat|"},
      {11, L"All (*.npy;)|*.npy|"},
      {12, L"Flow Field File (*.fff)|*.fff|"},
      {13, L"NIFTI file (*.nii)|*.nii|"},
      {113, L"All (*.im;*.img;*nii;*.nia;*.nii.gz;*.mgh;*.mgz;*.nrrd;*.time)|*.im;*.img;*nii;*.nia;*.nii.gz;*.mgh;"
            L"*.mgz;*.nrrd;*.time|Obrix (*.im)|*.im|ANALYZE (*.img)|*.img|Nifti (*.nii;*.nia;*.nii.gz)|*.nii;*.nia;"
            L"*.nii.gz|FreeSurfer (*.mgh;*.mgz)|*.mgh;*.mgz|4D Image (*.time)|*.time|nrrd (*.nrrd)|*.nrrd|"},
      {40579, L"Tarnwick Document (*.twk)|*.twk|"},
      {61188, L"All (*.im;*.img;*nii;*.nia;*.mgh;*.mgz)|*.im;*.img;*nii;*.nia;*.nii.gz;*.mgh;*.mgz;*.time|Obrix "
              L"(*.im)|*.im|ANALYZE (*.img)|*.img|Nifti (*.nii;*.nia;*.nii.gz)|*.nii;*.nia;*.nii.gz|FreeSurfer "
              L"(*.mgh;*.mgz)|*.mgh;*.mgz|"},
  };
  return table;
}

bool filterFromTable(int id, const wchar_t* picker, CString* text) {
  if (TW_LoadResourceString(id, text)) return true;
  twk::doc::message(picker, L"Unable to load a string resource");
  return false;
}

enum class Mode { Load, Save };

bool pickFile(Mode mode, const wchar_t* filter, CString* folder, int* filterIndex, CString* extension,
              CString* path) {
  twk::FileRequest request;
  request.filter = filter ? filter : L"";
  const CString initial = path ? *path : CString();
  request.initialPath = initial;
  request.defaultExtension = extension ? *extension : PR_GetFileExt(initial);
  if (folder && !folder->IsEmpty()) request.initialPath = PR_JoinPath(*folder, PR_GetFileTitle(initial));
  request.filterIndex = filterIndex ? *filterIndex : 0;
  CString chosen;
  const bool ok = mode == Mode::Load ? twk::ui().openFileName(request, chosen) : twk::ui().saveFileName(request, chosen);
  if (!ok || chosen.IsEmpty()) return false;
  // The save dialogs ask before an existing file is replaced; No counts as Cancel.
  if (mode == Mode::Save && PR_FileExists(chosen) &&
      twk::ui().messageBox(chosen + L" already exists.\nDo you want to replace it?", L"Confirm Save As",
                           MB_YESNO | MB_ICONWARNING) != IDYES)
    return false;
  if (path) *path = chosen;
  if (folder) *folder = PR_GetFileFolder(chosen);
  if (filterIndex) {
    const int index = TW_FilterIndexOfPath(request.filter, chosen);
    if (index > 0) *filterIndex = index;
  }
  if (extension) *extension = PR_GetFileExt(chosen);
  return true;
}

}  // namespace

bool TW_LoadResourceString(int id, CString* text) {
  const auto& table = stringTable();
  const auto it = table.find(id);
  if (it == table.end()) return false;
  if (text) *text = it->second;
  return true;
}

int TW_FilterIndexOfPath(const wchar_t* filter, const wchar_t* path) {
  if (!filter || !path) return 0;
  const std::string title = PR_GetFileTitle(path).toUtf8();
  std::vector<CString> parts;
  const CString text = filter;
  int start = 0;
  for (int bar = text.Find(L'|'); bar >= 0; bar = text.Find(L'|', start)) {
    parts.push_back(text.Mid(start, bar - start));
    start = bar + 1;
  }
  for (size_t i = 1; i < parts.size(); i += 2) {
    int at = 0;
    for (CString pattern = parts[i].Tokenize(L";", at); at >= 0; pattern = parts[i].Tokenize(L";", at)) {
      if (fnmatch(pattern.Trim().toUtf8().c_str(), title.c_str(), FNM_CASEFOLD) == 0) return int(i / 2) + 1;
    }
  }
  return 0;
}

bool TW_GetFilteredLoadName(const wchar_t* filter, CString* folder, int* filterIndex, CString* extension,
                            CString* path) {
  return pickFile(Mode::Load, filter, folder, filterIndex, extension, path);
}

bool TW_GetFilteredSaveName(const wchar_t* filter, CString* folder, int* filterIndex, CString* extension,
                            CString* path) {
  return pickFile(Mode::Save, filter, folder, filterIndex, extension, path);
}

bool TW_GetFileLoadName(int filterId, CString* folder, int* filterIndex, CString* extension, CString* path) {
  CString filter;
  return filterFromTable(filterId, L"TW_GetFileLoadName", &filter) &&
         TW_GetFilteredLoadName(filter, folder, filterIndex, extension, path);
}

bool TW_GetFileSaveName(int filterId, CString* folder, int* filterIndex, CString* extension, CString* path) {
  CString filter;
  return filterFromTable(filterId, L"TW_GetFileSaveName", &filter) &&
         TW_GetFilteredSaveName(filter, folder, filterIndex, extension, path);
}

CString** TW_GetMultiFileLoadName(int filterId, CString* folder, int* filterIndex, CString* extension, int* count) {
  CString filter;
  if (!filterFromTable(filterId, L"TW_GetMultiFileLoadName", &filter)) return nullptr;
  twk::FileRequest request;
  request.filter = filter;
  request.initialPath = folder ? *folder : CString();
  request.defaultExtension = extension ? *extension : CString();
  request.filterIndex = filterIndex ? *filterIndex : 0;
  std::vector<CString> chosen;
  if (!twk::ui().openFileNames(request, chosen) || chosen.empty()) return nullptr;
  auto** paths = static_cast<CString**>(pf_calloc(int64_t(chosen.size()) * int64_t(sizeof(CString*))));
  if (!paths) return nullptr;
  for (size_t i = 0; i < chosen.size(); ++i) paths[i] = new CString(chosen[i]);
  if (filterIndex) {
    const int index = TW_FilterIndexOfPath(filter, chosen.front());
    if (index > 0) *filterIndex = index;
  }
  if (folder) *folder = PR_GetFileFolder(chosen.front());
  if (count) *count = int(chosen.size());
  return paths;
}

bool TW_SpecifyFolder(CString* folder) {
  if (!folder) {
    twk::doc::message(L"TW_SpecifyFolder", L"NULL folder is not allowed here");
    return false;
  }
  const CString initial = folder->IsEmpty() ? TW_Options().tempFolder : *folder;
  CString chosen;
  if (!twk::ui().folderName(L"Select Folder", initial, chosen) || chosen.IsEmpty()) return false;
  *folder = chosen;
  return true;
}
