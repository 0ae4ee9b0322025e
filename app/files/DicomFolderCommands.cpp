// The main frame's DICOM folder commands.
#include "DicomFolderCommands.h"

#include <set>
#include <string>

#include "AppOptions.h"
#include "DocMessages.h"
#include "DrawSet.h"
#include "FilePickers.h"
#include "ImageOpen.h"
#include "Prompts.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "dicom/DicomFolders.h"
#include "io/ImageFiles.h"
#include "paths/FilePaths.h"

namespace {

bool sameFolder(const CString& a, const CString& b) {
  CString x(a), y(b);
  x.Replace(L'\\', L'/');
  y.Replace(L'\\', L'/');
  x.TrimRight(L'/');
  y.TrimRight(L'/');
  return x == y;
}

// The output name of a file of the source folder: its path below the folder without the extension,
// folders joined by '_'; a name taken already gets "_2", "_3", ...
CString splitName(const CString& source, const CString& file, std::set<std::wstring>* taken) {
  CString folder(source), path(file);
  folder.Replace(L'\\', L'/');
  path.Replace(L'\\', L'/');
  folder.TrimRight(L'/');
  CString relative = path.Left(folder.GetLength() + 1) == folder + L"/" ? path.Mid(folder.GetLength() + 1) : PR_GetFileTitle(path);
  relative = PR_GetFileName(relative);
  relative.Replace(L'/', L'_');
  CString name = relative;
  for (unsigned k = 2;; ++k) {
    CString key = name;
    key.MakeLower();
    if (taken->insert(key.wstr()).second) return name;
    name = relative + FmtStr(L"_%u", k);
  }
}

}  // namespace

bool TW_DeidentifyDicomFolderCommand() {
  CString source = TW_Options().deidentifySourceFolder, target;
  if (!TW_SpecifyTwoFolders(L"Source", L"Target (empty=overwrite)", &source, &target, false)) return false;
  TW_EditOptions().deidentifySourceFolder = source;
  if (!target.IsEmpty() && !sameFolder(source, target)) {
    if (!VA_DicomTreeToFolders(source, target, true, true)) return false;
    return VA_DeidentifyDicomFolder(target, target, true);
  }
  if (!twk::askYesNo(FmtStr(L"Files in folder %s will be overwritten. Proceed?", source.GetString()))) return false;
  return VA_DeidentifyDicomFolder(source, target, true);
}

bool TW_DicomTreeToFoldersCommand() {
  CString source = TW_Options().dcmLoadFolder, target;
  if (!TW_SpecifyTwoFolders(L"Source Folder", L"Target Folder", &source, &target, true)) return false;
  return VA_DicomTreeToFolders(source, target, true, true);
}

bool TW_DicomFolderTotalPixelSizeCommand() {
  CString folder = TW_Options().dcmLoadFolder;
  if (!TW_SpecifyFolder(&folder)) return false;
  int64_t total = 0, pixels = 0;
  if (!VA_DicomFolderTotalPixSize(folder, &total, &pixels, true)) return false;
  twk::ui().messageBox(FmtStr(L"Total DICOM file size = %I64d\nTotal DICOM Pixel Element file size = %I64d",
                              static_cast<long long>(total), static_cast<long long>(pixels)),
                       L"Tarnwick", MB_OK | MB_ICONINFORMATION);
  return true;
}

bool TW_SplitMultiframeDicomFileCommand(const CString& startFolder) {
  CString folder = startFolder, extension, file;
  int filterIndex = 0;
  if (!TW_GetFilteredLoadName(L"", &folder, &filterIndex, &extension, &file)) return false;
  CString target;
  if (!TW_SpecifyFolder(&target)) return false;
  return TWKDCM_SplitMultiframeFile(file, target, nullptr, true, true);
}

bool TW_SplitMultiframeDicomFolderCommand() {
  CString source, target;
  if (!TW_SpecifyTwoFolders(L"Source folder", L"Target folder", &source, &target, true)) return false;
  return TW_SplitMultiframeDicomFolder(source, target);
}

bool TW_SplitMultiframeDicomFolder(const CString& source, const CString& target) {
  int n = 0;
  wchar_t** files = PR_FindAllFilesInFolder(source, nullptr, true, false, &n, false);
  std::set<std::wstring> taken;
  twk::ProgressGuard progress(L"Split Multi-frame DICOMs", true);
  int done = 0;
  bool stopped = false;
  for (; done < n; ++done) {
    if (!progress.Step(done, n, 1, 98)) {
      stopped = true;
      break;
    }
    const CString name = splitName(source, files[done], &taken);
    if (!TWKDCM_SplitMultiframeFile(files[done], target, name, true, false)) break;
  }
  progress.End();
  const CString failed = done < n ? CString(files[done]) : CString();
  pf_free_parr(&files, n);
  if (done == n) return true;
  twk::doc::message(L"Split Multiframe DICOM folder",
                    FmtStr(stopped ? L"Stopped by the user before %s: %u of %u files were split"
                                   : L"Unable to split %s: %u of %u files were split",
                           failed.GetString(), unsigned(done), unsigned(n)));
  return false;
}

CDrawDoc* TW_LoadDwiFolderOfNiiImagesCommand() {
  static CString folder;
  if (!TW_SpecifyFolder(&folder)) return nullptr;
  CVol* vol = VA_Load4DvolumeFromDWIfolderOfNIFTIimages(TW_Options().tempFolder, folder, true);
  if (!vol) return nullptr;
  return TW_OpenVolumeDocument(&vol, true, true);
}
