// Opening every document of a folder, and the checkerboard test volume of the System menu.
#include "DocumentFolder.h"

#include "AppOptions.h"
#include "DocMessages.h"
#include "DrawDoc.h"
#include "ImageOpen.h"
#include "Vol.h"
#include "TwkMem.h"
#include "io/ImageFiles.h"
#include "ops/VolumeOps.h"
#include "paths/FilePaths.h"
#include "volume/Frame.h"

bool TWK_LoadAllTwkDocuments(const wchar_t* folder) {
  const wchar_t* fn = L"TWK_LoadAllTwkDocuments";
  int count = 0;
  wchar_t** files = PR_FindAllFilesInFolder(folder, L"twk", false, false, &count, false);
  if (!files || count < 1) {
    pf_free_parr(&files, count);
    twk::doc::message(fn, L"No TWK files are found");
    return false;
  }
  twk::ProgressGuard progress(L"Load Tarnwick folder", true);
  bool ok = true;
  for (int i = 0; ok && i < count; ++i) {
    if (!progress.Step(i, count, 1, 98)) {
      ok = false;
      break;
    }
    CDrawDoc* doc = TW_OpenImageDocument(files[i], true, true);
    ok = doc != nullptr;
    if (doc) doc->RedrawAllViews(false);
  }
  pf_free_parr(&files, count);
  return ok;
}

bool TW_MakeCheckerboardVolume() {
  const DIM3D dims{65, 65, 1, 1};
  const FramePtr frame(VA_VolCreateUniform(FRM_INT, dims, VOID_VALUE));
  bool ok = frame && VA_MakeCheckerBoard(frame.get(), true);
  const CString path = PR_JoinPath(TW_Options().currentWorkFolder.IsEmpty() ? TW_Options().tempFolder : TW_Options().currentWorkFolder,
                                   L"CheckerBoard.im");
  if (ok) {
    const SPC spc{1, 1, 1};
    ok = VA_RAW_VolSaveFile(path, frame.get(), -1, &spc, nullptr, nullptr, nullptr, MODALITY_UNKNOWN, 5, L"", nullptr,
                            nullptr, true);
  }
  return ok && TW_OpenImageDocument(path, false, true) != nullptr;
}
