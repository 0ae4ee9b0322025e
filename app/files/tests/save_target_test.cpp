// Saves never write a document over a file that is not a document: an image opened as a document has
// no document path, its quick save asks for a name, and every save refuses a target of another kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "DocHooks.h"
#include "DocumentFile.h"
#include "FilesTestKit.h"
#include "ImageOpen.h"
#include "io/ImageFiles.h"
#include "paths/FilePaths.h"

using namespace twk::filestest;

namespace {

class SaveView : public CDrawView {
 public:
  void RedrawNow() override {}
  void ZoomAll() override {}
};

// Every opened document gets one view, owned here.
class ViewServices {
 public:
  ViewServices() {
    TW_OPENSERVICES s;
    s.createView = [this](CDrawDoc* doc) {
      views.push_back(std::make_unique<SaveView>());
      doc->AddView(views.back().get());
      views.back()->SetActive(true);
      return views.back().get();
    };
    TW_DocumentHooks().open = s;
  }
  ~ViewServices() { TW_DocumentHooks().open = {}; }
  std::vector<std::unique_ptr<SaveView>> views;
};

// The images of every format the program opens, written by nibabel and numpy (independent writers),
// plus the program's own ".im". Each entry lists the files that make up the image.
struct ImageCase {
  const char* name;
  std::vector<std::string> files;  // the first is the one opened
};

const ImageCase kImages[] = {
    {"NIfTI", {"brain.nii"}},
    {"gzip NIfTI", {"brain_gz.nii.gz"}},
    {"ANALYZE", {"brain_an.hdr", "brain_an.img"}},
    {"MGH", {"brain_mgh.mgh"}},
    {"MGZ", {"brain_mgz.mgz"}},
    {"NRRD", {"brain_nrrd.nrrd"}},
    {"im", {"brain_im.im"}},
};

class SaveTarget : public DocumentFileTest {
 protected:
  void SetUp() override {
    DocumentFileTest::SetUp();
    TW_EditOptions().twkSaveFolder = scratch_.folder();
    TW_InstallDocumentFileServices();
    writeImages();
  }
  void TearDown() override {
    TW_DocumentHooks().saveDocument = nullptr;
    DocumentFileTest::TearDown();
  }

  void writeImages() {
    const std::string folder = scratch_.folder().toUtf8();
    const std::string script = folder + "/make.py";
    std::ofstream(script) << R"(import sys, numpy as np, nibabel as nib
d = sys.argv[1]
v = (np.arange(6 * 5 * 4, dtype=np.int16).reshape(6, 5, 4) - 30) * 3
aff = np.diag([0.8, 0.9, 2.0, 1.0])
nib.save(nib.Nifti1Image(v, aff), d + '/brain.nii')
nib.save(nib.Nifti1Image(v, aff), d + '/brain_gz.nii.gz')
nib.save(nib.AnalyzeImage(v, aff), d + '/brain_an.hdr')
nib.save(nib.MGHImage(v.astype(np.int32), aff), d + '/brain_mgh.mgh')
nib.save(nib.MGHImage(v.astype(np.int32), aff), d + '/brain_mgz.mgz')
np.save(d + '/brain_np.npy', (np.arange(2 * 3 * 4 * 5) % 50).astype('<u2').reshape(2, 3, 4, 5))
hdr = ('NRRD0004\ntype: short\ndimension: 3\nsizes: 6 5 4\nspacings: 0.8 0.9 2.0\n'
       'endian: little\nencoding: raw\n\n')
with open(d + '/brain_nrrd.nrrd', 'wb') as f:
    f.write(hdr.encode('ascii'))
    f.write(v.astype('<i2').tobytes(order='F'))
)";
    ASSERT_EQ(std::system(("/usr/bin/python3 '" + script + "' '" + folder + "'").c_str()), 0) << "nibabel fixtures";
    std::remove(script.c_str());
    std::unique_ptr<CVol> vol(makeVolume(FRM_INT, 6, 5, 4, 1, L"img", 16));
    ASSERT_TRUE(VA_RAW_VolSaveFile(scratch_.file("brain_im.im"), vol->frame, -1, vol->Spc(), nullptr, nullptr, nullptr,
                                   MODALITY_MR, 0, L"", nullptr, nullptr, false));
  }

  std::vector<std::vector<uint8_t>> bytesOf(const ImageCase& c) const {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& f : c.files) out.push_back(readAll(scratch_.file(f)));
    return out;
  }
};

TEST_F(SaveTarget, NoSavePathWritesOverTheImageADocumentWasOpenedFrom) {
  for (const auto& c : kImages) {
    SCOPED_TRACE(c.name);
    ViewServices services;
    const CString image = scratch_.file(c.files.front());
    const auto before = bytesOf(c);
    ASSERT_FALSE(before.front().empty());
    ui.clear();
    std::unique_ptr<CDrawDoc> doc(TW_OpenImageDocument(image, false, false));
    ASSERT_TRUE(doc) << (ui.messages.empty() ? CString() : ui.messages.front()).toUtf8();
    CDrawView* view = doc->GetActiveOrFirstView();
    ASSERT_TRUE(view);
    // The image stays the document's name and title, but is no document path.
    EXPECT_EQ(doc->GetPathName(), image);
    EXPECT_FALSE(doc->HasDocumentPath());
    const CString title = PR_GetFileTitle(image);
    EXPECT_EQ(doc->GetTitle(), title);
    doc->SetModifiedFlag(true);
    ui.clear();

    // Quick Save from the view becomes Save As: the dialog starts in the save folder with the
    // image's title and the document extension. Cancelled: nothing written.
    bool cancelled = false;
    ui.cancelPicker();
    EXPECT_FALSE(doc->Save(nullptr, view, false, false, true, &cancelled));
    EXPECT_TRUE(cancelled);
    ASSERT_EQ(ui.fileRequests.size(), 1u);
    const CString initial = PR_GetFileTitle(ui.fileRequests.back().initialPath);
    EXPECT_EQ(PR_GetFileExt(initial), L"twk");
    EXPECT_EQ(initial.Find(L".nii"), -1);
    EXPECT_EQ(initial.Left(5), L"brain");

    // A workflow save without a name and without a view: the quick-save message, nothing written.
    ui.clear();
    EXPECT_FALSE(doc->Save(nullptr, nullptr, false, false, true));
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages.front(), L"CDrawDoc::Save : QuickSave name does not exist : ");

    // "Save before closing?" Yes, and the user picks the image itself and confirms the replacement:
    // the save refuses to write a document over it.
    ui.clear();
    ui.answerMessage(IDYES).answerSaveFile(image).answerMessage(IDYES);
    EXPECT_FALSE(doc->SaveModified());
    EXPECT_FALSE(ui.pendingAnswers());
    EXPECT_NE(std::find(ui.messages.begin(), ui.messages.end(),
                        L"CDrawDoc::Save : " + image + L" is not a Tarnwick document: not overwritten"),
              ui.messages.end());
    EXPECT_EQ(bytesOf(c), before);

    // A new name: saved, verified, and from then on the document's own path for quick saves.
    const CString target = scratch_.file(std::string("saved_") + std::to_string(&c - kImages) + ".twk");
    ui.clear();
    ui.answerSaveFile(target);
    EXPECT_TRUE(doc->Save(nullptr, view, false, false, true));
    EXPECT_TRUE(doc->HasDocumentPath());
    EXPECT_EQ(doc->GetPathName(), target);
    std::unique_ptr<CDrawDoc> back(TW_LoadDocumentNoView(target, false));
    ASSERT_TRUE(back);
    bool identical = false;
    EXPECT_TRUE(TW_DocumentsIdentical(doc.get(), back.get(), &identical));
    EXPECT_TRUE(identical);
    doc->SetModifiedFlag(true);
    ui.clear();
    EXPECT_TRUE(doc->Save(nullptr, view, false, false, true));
    EXPECT_TRUE(ui.fileRequests.empty());

    EXPECT_EQ(bytesOf(c), before);
    doc->SetModifiedFlag(false);
  }
}

TEST_F(SaveTarget, ExistingFilesOfOtherKindsAreNeverReplaced) {
  std::unique_ptr<CDrawDoc> doc(makeFixtureDocument());
  const CString text = scratch_.file("notes.txt");
  std::ofstream(text.toUtf8()) << "my notes\n";
  const struct {
    const char* name;
    CString path;
  } targets[] = {{"text", text}, {"image", scratch_.file("brain.nii")}, {"empty", scratch_.file("empty.twk")}};
  std::ofstream(scratch_.file("empty.twk").toUtf8()).flush();
  for (const auto& t : targets) {
    SCOPED_TRACE(t.name);
    const auto before = readAll(t.path);
    const auto namesBefore = scratch_.names();
    ui.clear();
    EXPECT_FALSE(doc->Save(t.path, nullptr, false, false, true));
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0], L"CDrawDoc::Save : " + t.path + L" is not a Tarnwick document: not overwritten");
    EXPECT_EQ(ui.messages[1], L"TWK file save failed");
    EXPECT_EQ(readAll(t.path), before);
    EXPECT_EQ(scratch_.names(), namesBefore);  // no temporary file left behind
  }
}

TEST_F(SaveTarget, SaveAsOverAnExistingDocumentAsksFirst) {
  std::unique_ptr<CDrawDoc> doc(makeFixtureDocument());
  const CString path = scratch_.file("old.twk");
  ASSERT_TRUE(doc->Save(path, nullptr, false, false, false));
  const auto before = readAll(path);
  ASSERT_TRUE(TW_IsTarnwickDocumentFile(path));

  // No: as a cancelled dialog, nothing written.
  bool cancelled = false;
  ui.clear();
  ui.answerSaveFile(path).answerMessage(IDNO);
  EXPECT_FALSE(doc->Save(nullptr, nullptr, true, true, true, &cancelled));
  EXPECT_TRUE(cancelled);
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages.front(), path + L" already exists.\nDo you want to replace it?");
  EXPECT_EQ(readAll(path), before);

  // Yes: replaced through the verified temporary file.
  CDrawObj* rect = new CDrawRect(DRAWOBJ_RECT, DRECT{1, 1, 3, 2});
  doc->AddObject(&rect, true);
  ui.clear();
  ui.answerSaveFile(path).answerMessage(IDYES);
  EXPECT_TRUE(doc->Save(nullptr, nullptr, true, true, true));
  EXPECT_NE(readAll(path), before);
  EXPECT_TRUE(doc->HasDocumentPath());
  std::unique_ptr<CDrawDoc> back(TW_LoadDocumentNoView(path, false));
  ASSERT_TRUE(back);
  bool identical = false;
  EXPECT_TRUE(TW_DocumentsIdentical(doc.get(), back.get(), &identical));
  EXPECT_TRUE(identical);
  for (const auto& name : scratch_.names()) EXPECT_EQ(name.find(".~verify"), std::string::npos) << name;
}

TEST_F(SaveTarget, DocumentsOpenedFromDocumentFilesQuickSaveWithoutADialog) {
  ViewServices services;
  std::unique_ptr<CDrawDoc> original(makeFixtureDocument());
  const CString path = scratch_.file("kept.twk");
  ASSERT_TRUE(original->Save(path, nullptr, false, false, false));
  original.reset();
  std::unique_ptr<CDrawDoc> doc(TW_OpenImageDocument(path, false, false));
  ASSERT_TRUE(doc);
  EXPECT_TRUE(doc->HasDocumentPath());
  doc->SetModifiedFlag(true);
  ui.clear();
  EXPECT_TRUE(doc->Save(nullptr, doc->GetActiveOrFirstView(), false, false, true));
  EXPECT_TRUE(ui.fileRequests.empty());
  EXPECT_FALSE(doc->IsModified());
  EXPECT_TRUE(TW_IsTarnwickDocumentFile(path));
}

TEST_F(SaveTarget, NumpyArrayOpenedThroughTheRawDialogKeepsItsBytes) {
  ViewServices services;
  TW_EditOptions().imageOpenLayout = 1;
  const CString array = scratch_.file("brain_np.npy");
  const auto before = readAll(array);
  ui.answerValues({5, 4, 3, 2, 0.5, 0.5, 2, 0}, {L"", L"tzyx"});
  ASSERT_TRUE(TW_OpenRawVolumeFile(array));
  std::unique_ptr<CDrawDoc> doc(TW_FindDocumentByPath(array));
  ASSERT_TRUE(doc);
  EXPECT_FALSE(doc->HasDocumentPath());
  doc->SetModifiedFlag(true);
  ui.clear();
  ui.cancelPicker();
  EXPECT_FALSE(doc->Save(nullptr, doc->GetActiveOrFirstView(), false, false, true));
  EXPECT_EQ(ui.fileRequests.size(), 1u);
  ui.clear();
  EXPECT_FALSE(doc->Save(nullptr, nullptr, false, false, true));
  EXPECT_EQ(readAll(array), before);
  doc->SetModifiedFlag(false);
}

}  // namespace
