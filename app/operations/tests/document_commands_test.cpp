// The view's commands on documents and windows: closing a document with its save question, closing
// the other views, deleting splines, and de-identifying every volume set of a document (pydicom series with PHI, checked after export by dcmdump).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "../../files/tests/DicomTestKit.h"
#include "DocumentCommands.h"
#include "DrawShapes.h"
#include "OperationsTestKit.h"
#include "ScriptedUi.h"
#include "dicom/DicomVolume.h"
#include "TestFolder.h"

using namespace twk::optest;
namespace fs = std::filesystem;

TEST(DocumentCommands, CloseDocumentAsksOnlyAboutChangesAndCancelKeepsIt) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  int saves = 0;
  TW_DocumentHooks().saveDocument = [&saves](CDrawDoc*) { return ++saves > 0; };
  const struct {
    const char* what;
    bool modified;
    int answer;  // 0: no question
    bool closes;
    int saves;
  } cases[] = {{"unchanged", false, 0, true, 0},
               {"Cancel", true, IDCANCEL, false, 0},
               {"No", true, IDNO, true, 0},
               {"Yes", true, IDYES, true, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    saves = 0;
    ui.clear();
    CDrawDoc* doc = docs.open({twk::testkit::makeLayer(twk::testkit::makeVol(FRM_INT, 4, 4, 2, 1))});
    doc->SetModifiedFlag(c.modified);
    if (c.answer) ui.answerMessage(c.answer);
    const int before = Documents::openCount();
    twk::ops::OnCloseDocument(*Documents::viewOf(doc));
    EXPECT_EQ(Documents::openCount(), before - (c.closes ? 1 : 0));
    EXPECT_EQ(ui.messages.empty(), c.answer == 0);
    if (c.answer) {
      EXPECT_EQ(ui.messages[0], L"Document was modified. Would you like to save it?");
    }
    EXPECT_FALSE(ui.pendingAnswers());
    if (!c.closes) {
      EXPECT_TRUE(doc->IsModified());
      docs.close(doc);
    }
  }
  TW_DocumentHooks().saveDocument = nullptr;
}

TEST(DocumentCommands, OtherViewsCloseAndAViewWithoutAWindowIsSkipped) {
  Documents docs;
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(twk::testkit::makeVol(FRM_INT, 4, 4, 2, 1))});
  CDrawView* first = Documents::viewOf(doc);
  CDrawView* second = docs.addView(doc);
  CDrawView* windowless = docs.addView(doc);
  std::vector<CDrawView*> closed;
  TW_DocumentHooks().closeView = [&](CDrawView* v) {
    if (v == windowless) return false;
    closed.push_back(v);
    doc->RemoveView(v);
    return true;
  };
  twk::ops::CloseOtherViews(*first, 1);
  EXPECT_EQ(closed, std::vector<CDrawView*>{second});
  EXPECT_EQ(doc->Views().size(), 2u);
  TW_DocumentHooks().closeView = nullptr;
}

TEST(DocumentCommands, DeleteAllSplinesSaysWhenThereAreNone) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(twk::testkit::makeVol(FRM_INT, 4, 4, 2, 1))});
  const double plane[3] = {0, 0, 0};
  CDrawObj* polyline = new CDrawPoly(1, 0, false, 0, false, 0, plane);
  CDrawObj* spline = new CDrawPoly(1, 0, true, 0.5, false, 0, plane);
  doc->AddObject(&polyline, false);
  doc->AddObject(&spline, false);
  doc->SetSelection({spline});
  EXPECT_TRUE(doc->DeleteAllSplines());
  EXPECT_EQ(doc->objects.size(), 2u);  // the set and the plain polyline
  EXPECT_TRUE(doc->selection.empty());
  EXPECT_FALSE(doc->DeleteAllSplines());
  EXPECT_EQ(ui.lastMessage(), L"CDrawDoc::DeleteAllSplines : No splines were found");
}

namespace {

CVol* loadSeries(const fs::path& folder) {
  std::vector<CString> files;
  for (const auto& e : fs::directory_iterator(folder)) files.push_back(CString::fromUtf8(e.path().string()));
  std::sort(files.begin(), files.end());
  std::vector<const wchar_t*> list;
  for (const CString& f : files) list.push_back(f);
  return VA_LoadDicomVolume(list.data(), int(list.size()), false);
}

// A document of two volume sets, the CT series of one patient and the dynamic series of another.
CDrawDoc* twoPatients(Documents& docs) {
  CVol* ct = loadSeries(twk::dicomtest::fixtures() / "ct");
  CVol* dyn = loadSeries(twk::dicomtest::fixtures() / "dyn");
  EXPECT_TRUE(ct && dyn);
  if (!ct || !dyn) return nullptr;
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(ct)});
  twk::testkit::addSet(doc, {twk::testkit::makeLayer(dyn)});
  doc->SetModifiedFlag(false);
  return doc;
}

}  // namespace

TEST(Deidentify, EveryVolumeSetOfTheDocumentIsCleanedAndExportsCarryNoPhi) {
  ASSERT_TRUE(TWKDCM_Initialize());
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc* doc = twoPatients(docs);
  ASSERT_NE(doc, nullptr);
  CDrawSet* first = doc->GetActiveSet();
  // Cancel: true, nothing changed.
  ui.answerThreeButtons(1);
  EXPECT_TRUE(first->Deidentify(true));
  EXPECT_FALSE(doc->IsModified());
  // One box lists the records of both patients.
  const CString listed = ui.messages.back();
  EXPECT_EQ(ui.messageTypes.back(), twk::ScriptedUi::kThreeButtonsEntry);
  EXPECT_NE(listed.Find(L"PAT-B"), -1) << listed.toUtf8();
  EXPECT_NE(listed.Find(L"PAT-C"), -1) << listed.toUtf8();
  ui.answerThreeButtons(0);
  EXPECT_TRUE(first->Deidentify(true));
  EXPECT_TRUE(doc->IsModified());
  // Exported as DICOM, no file of either set holds the PHI any more.
  const fs::path out = twk::testing::testFolder() / "deidentify";
  fs::remove_all(out);
  int set = 0;
  for (CDrawObj* obj : doc->objects) {
    if (obj->kind != DRAWOBJ_SET || !static_cast<CDrawSet*>(obj)->IsVolumeSet()) continue;
    const fs::path folder = out / std::to_string(set++);
    fs::create_directories(folder);
    ASSERT_TRUE(CVol::SaveToDicom(static_cast<CDrawSet*>(obj)->GetBaseVol(), true,
                                  CString::fromUtf8((folder / "img.dcm").string()), nullptr, false, true, true, true,
                                  false));
  }
  ASSERT_EQ(set, 2);
  int files = 0;
  for (const auto& e : fs::recursive_directory_iterator(out)) {
    if (!e.is_regular_file()) continue;
    ++files;
    const std::string dump = twk::dicomtest::run("dcmdump +U8 " + twk::dicomtest::quote(e.path().string()) + " 2>&1");
    for (const char* phi : {"PAT-B", "PAT-C", "Hans", "Test^One", "20230210", "20230301"})
      EXPECT_EQ(dump.find(phi), std::string::npos) << phi << " in " << e.path();
  }
  EXPECT_GT(files, 2);
  fs::remove_all(out);
  // Anonymous now: "No PHI is present", unmodified.
  doc->SetModifiedFlag(false);
  ui.clear();
  EXPECT_TRUE(first->Deidentify(true));
  EXPECT_EQ(ui.lastMessage(), L"No PHI is present");
  EXPECT_FALSE(doc->IsModified());
}

TEST(Deidentify, TheSaveQuestionCoversEveryVolumeSet) {
  ASSERT_TRUE(TWKDCM_Initialize());
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc* doc = twoPatients(docs);
  ASSERT_NE(doc, nullptr);
  // "Deidentify and Save", then Cancel in the file picker: both sets are clean, nothing written.
  ui.answerThreeButtons(0).cancelPicker();
  bool cancelled = false;
  EXPECT_FALSE(doc->Save(nullptr, Documents::viewOf(doc), true, true, true, &cancelled));
  EXPECT_TRUE(cancelled);
  CString** lines = nullptr;
  int count = -1;
  ASSERT_TRUE(doc->GetActiveSet()->ExtractDocumentPHIrecords(&lines, &count));
  EXPECT_EQ(count, 0);
  pf_free(&lines);
}
