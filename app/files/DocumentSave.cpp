// Saving a document: the protected-health-information choice, the save-file dialog, the write into
// memory, a temporary file beside the target that is read back and compared before it replaces the
// target, and the modified flag cleared only when all of that succeeded.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "AppOptions.h"
#include "DocHooks.h"
#include "DocMessages.h"
#include "DocumentFile.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DynExp.h"
#include "FilePickers.h"
#include "OwnedPtrArray.h"
#include "Prompts.h"
#include "TextCodec.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"
#include "serial/MemFile.h"

namespace {

CDynExp* g_documentDynExp = nullptr;
TW_RECENT_FILE_SINK g_recentFiles;

CString temporaryNameBeside(const CString& target) {
  return target + FmtStr(L".~verify%d", int(::getpid()));
}

// The verification reads the written file like any document, but must not change the application's
// kinetic-model settings while doing so.
class ScopedNoDynExpLoad {
 public:
  ScopedNoDynExpLoad() : saved_(TW_Options().loadDmdbFromTwk) { TW_EditOptions().loadDmdbFromTwk = 0; }
  ~ScopedNoDynExpLoad() { TW_EditOptions().loadDmdbFromTwk = saved_; }

 private:
  uint8_t saved_;
};

// The name the save-file dialog starts with: the title of a document's own file, or for a document
// opened from an image (or made without a file) the image's title with the document extension, so
// that accepting the dialog never names the image itself.
CString initialSaveName(const CDrawDoc& doc) {
  if (doc.HasDocumentPath()) return PR_GetFileTitleName(doc.GetPathName());
  CString title = PR_GetFileTitle(doc.GetPathName());
  if (title.IsEmpty()) title = doc.GetTitle();
  if (title.IsEmpty()) return CString();
  if (PR_GetFileExt(title).CompareNoCase(L"gz") == 0) title = PR_GetFileName(title);
  return PR_GetFileName(title) + L".twk";
}

}  // namespace

CDynExp* TW_DocumentDynExp() {
  if (g_documentDynExp) return g_documentDynExp;
  static const std::unique_ptr<CDynExp> own = std::make_unique<CDynExp>();
  return own.get();
}

void TW_SetDocumentDynExp(CDynExp* dynExp) { g_documentDynExp = dynExp; }

void TW_SetRecentFileSink(TW_RECENT_FILE_SINK sink) { g_recentFiles = std::move(sink); }

void TW_AddToRecentFiles(const CString& path) {
  if (g_recentFiles) g_recentFiles(path);
}

bool TW_CheckTempFolder() {
  const CString folder = TW_Options().tempFolder;
  if (!folder.IsEmpty() && PR_UsableFolder(folder, false)) return true;
  twk::ui().messageBox(FmtStr(L"Current Tarnwick temporary folder %s is not usable.\nPlease set temporary folder to an "
                              L"accessible folder",
                              folder.GetString()),
                       L"Tarnwick", MB_OK | MB_ICONINFORMATION);
  return false;
}

void TW_InstallDocumentFileServices() {
  TW_DocumentHooks().saveDocument = [](CDrawDoc* doc) {
    return doc && doc->Save(nullptr, nullptr, true, true, true);
  };
}

bool CDrawDoc::Save(const wchar_t* path, CDrawView* view, bool askName, bool setPathName, bool showMessages,
                    bool* cancelled) {
  if (cancelled) *cancelled = false;
  twk::OwnedPtrArray<CString, int> phi;
  MFILE* mf = nullptr;
  CString temporary;
  std::optional<twk::ProgressGuard> checking;
  auto cleanUp = [&]() {
    checking.reset();
    PR_MemFileClose(&mf);
    phi.Reset();
    if (!temporary.IsEmpty()) std::remove(twk::pathToNative(temporary).c_str());
  };
  auto fail = [&]() {
    cleanUp();
    if (showMessages) PR_ShowStop(L"TWK file save failed");
    return false;
  };

  // A quick save needs a document path of its own; a caller that gives a name does not. A document
  // opened from an image has none: from a view the quick save becomes "Save As"; a caller without a
  // view (a workflow, where no dialog may appear) gets the message.
  if (!path && !askName && !HasDocumentPath()) {
    if (!view) {
      twk::doc::message(L"CDrawDoc::Save", CString(L"QuickSave name does not exist") + L" : " + GetDocumentPath());
      return fail();
    }
    askName = true;
    setPathName = true;
  }
  if (!TW_CheckTempFolder()) return fail();
  CString target = path ? CString(path) : !askName ? GetPathName() : initialSaveName(*this);
  // Only a Tarnwick document may be replaced: never an image, a text or any other file.
  auto refuseForeignTarget = [&]() {
    if (!PR_FileExists(target) || TW_IsTarnwickDocumentFile(target)) return false;
    twk::doc::message(L"CDrawDoc::Save", target + L" is not a Tarnwick document: not overwritten");
    return true;
  };

  if (askName) {
    CDrawSet* set = GetActiveSet();
    // Every volume set's records, and every set de-identified (a failure has said why: no save).
    if (set && !set->ExtractDocumentPHIrecords(phi.Items(), phi.CountPtr())) return fail();
    if (phi.Count() > 0) {
      std::vector<const wchar_t*> lines;
      for (int i = 0; i < phi.Count(); ++i) lines.push_back(phi[i]->GetString());
      const int choice = TW_ThreeButtonMsgBox(L"Protected Health Info is present", lines.data(), phi.Count(),
                                              L"Deidentify and Save", L"Save", L"Cancel");
      if (choice == 2) return fail();
      if (choice == 0 && !set->Deidentify(false)) return fail();
    }
    if (!TW_GetFileSaveName(TW_FILTER_DOCUMENT, &TW_EditOptions().twkSaveFolder, &TW_EditOptions().twkSaveFilterInx,
                            &TW_EditOptions().twkSaveExt, &target)) {
      // Nothing was written: the caller learns that the save did not happen, without a message.
      if (cancelled) *cancelled = true;
      cleanUp();
      return false;
    }
  }
  if (refuseForeignTarget()) return fail();

  mf = WriteToMemFile(view, showMessages);
  if (!mf) return fail();
  // The bytes go to a file beside the target; only a file that reads back as this document
  // replaces the target, so a failed save keeps the last good file.
  temporary = temporaryNameBeside(target);
  // The bytes go to a temporary file, but a failure names the file the user chose.
  CString writeFailure;
  if (!twk::saveMemFile(mf, temporary, 0, target, &writeFailure)) {
    if (showMessages) twk::showNamedError(L"PR_MemFileSaveToFile", writeFailure);
    return fail();
  }
  checking.emplace(L"Checking file content consistency", showMessages);

  std::unique_ptr<CDrawDoc> check(new CDrawDoc);
  bool loaded = false;
  {
    ScopedNoDynExpLoad keepSettings;
    loaded = check->Load(temporary, false);
  }
  if (!loaded) {
    check.reset();
    twk::doc::information(FmtStr(L"Failed to load document : %s", target.GetString()));
    twk::doc::message(L"CDrawDoc::Save", L"Loading Check document failed");
    return fail();
  }
  bool identical = false;
  if (!TW_DocumentsIdentical(this, check.get(), &identical) || !identical) {
    twk::doc::message(L"CDrawDoc::Save", L"Verify saved document failed");
    return fail();
  }
  checking.reset();
  check.reset();
  bool equal = false;
  if (!PR_MemFileCompareToFile(mf, temporary, 0, &equal, showMessages) || !equal) {
    twk::doc::message(L"CDrawDoc::Save", L"Save failed : MemFile differs from the saved file");
    return fail();
  }
  // Checked again at the last moment: the target may have changed while the document was written.
  if (refuseForeignTarget()) return fail();
  if (std::rename(twk::pathToNative(temporary).c_str(), twk::pathToNative(target).c_str()) != 0) {
    twk::doc::message(L"CDrawDoc::Save",
                      CString(L"Unable to replace file ") + target + L" : " + CString(std::strerror(errno)));
    return fail();
  }
  temporary.Empty();
  SetModifiedFlag(false);
  if (setPathName) {
    SetPathName(target);
    TW_AddToRecentFiles(target);
  }
  cleanUp();
  return true;
}
