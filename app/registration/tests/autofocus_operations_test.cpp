// The AutoFocus registration commands and their dialogs, run headless with a scripted UI.

#include <gtest/gtest.h>

#include <QApplication>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "AppOptions.h"
#include "AutofocusDialogs.h"
#include "AutofocusOperations.h"
#include "AutofocusPresets.h"
#include "CommandTable.h"
#include "OperationsTestKit.h"
#include "RecordDialog.h"
#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "registration/DicomTransform.h"
#include "registration/TransformFiles.h"

namespace {

using twk::optest::Documents;
using twk::optest::makeVolume;
using twk::optest::rowId;
using twk::optest::StandIn;
using twk::optest::voxels;

// A smooth blob of peak 1000 centred at (c + shift, c, c), shift along x in voxels.
CVol* blob(int n, double shift, int timePoints = 1, double shiftPerTime = 0.0, const wchar_t* name = L"/data/blob.nii") {
  const double c = (n - 1) / 2.0;
  return makeVolume(FRM_REAL, 64, DIM3D{n, n, n, timePoints},
                    [=](int x, int y, int z, int t) {
                      const double dx = x - c - shift - shiftPerTime * t, dy = y - c, dz = z - c;
                      return 1000.0 * std::exp(-(dx * dx + dy * dy * 0.6 + dz * dz * 0.8) / (2 * 16.0));
                    },
                    name);
}

bool hasMessage(const twk::ScriptedUi& ui, const CString& text) {
  for (const CString& m : ui.messages)
    if (m == text) return true;
  return false;
}

TEST(AutofocusDialogs, UralUniWithoutNoiseIsRefusedAndNothingIsWritten) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  struct Case {
    int measure, magnitude;
    double sourceNoise, targetNoise;
    bool accepted;
  } cases[] = {{5, 2, 0, 2.34, false}, {6, 2, 1.04, 0, false}, {5, 0, 0, 2.34, true}, {3, 2, 0, 0, true},
               {5, 2, 1.24, 2.34, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.measure * 10 + c.magnitude);
    ui.clear();
    VA_AF3D record;
    record.measure = c.measure;
    record.ural.magnitude = c.magnitude;
    record.sourceNoise = c.sourceNoise;
    record.targetNoise = c.targetNoise;
    record.subsample = 2;
    record.rotationGrid = record.scaleGrid = record.shearGrid = 1;
    // A refused silent run returns false and writes nothing (the noise levels keep their second
    // decimal); an accepted one writes them back rounded to one decimal.
    EXPECT_EQ(TW_DlgAutofocus3D(&record, nullptr, nullptr, nullptr, nullptr, true), c.accepted);
    EXPECT_EQ(hasMessage(ui, L"Specify Source and Target noise for URAL-UNI registration measure"), !c.accepted);
    EXPECT_DOUBLE_EQ(record.targetNoise, c.accepted ? std::floor(c.targetNoise * 10 + 0.5) / 10 : c.targetNoise);
    VA_AF4D r4;
    r4.measure = c.measure;
    r4.ural.magnitude = c.magnitude;
    r4.targetNoise = c.targetNoise;
    r4.subsample = 2;
    r4.rotationGrid = r4.scaleGrid = r4.shearGrid = 1;
    r4.power = 7;
    const bool accepted4D = !((c.measure == 5 || c.measure == 6) && c.magnitude == 2 && c.targetNoise == 0);
    ui.clear();
    EXPECT_EQ(TW_DlgAutofocus4D(&r4, 0, nullptr, false, true), accepted4D);
    EXPECT_EQ(hasMessage(ui, L"Specify noise for URAL-UNI registration measure"), !accepted4D);
  }
}

TEST(AutofocusDialogs, EmptyRoiNameClearsTheRoiChoiceAndTheDynamicIndexCountsFromOne) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  TW_InitAutofocus3DDefaults();
  TW_InitAutofocus4DDefaults();
  VA_AF3D record = g_AF3DBuildTest;
  record.useTargetRoi = 1;
  ui.answerValues({});
  ASSERT_TRUE(TW_DlgAutofocus3D(&record, nullptr, nullptr, nullptr, L"", false));
  EXPECT_EQ(record.useTargetRoi, 0);
  EXPECT_EQ(ui.prompts[0][1].label, L"Use Target ROI:");
  ui.clear();
  record.useTargetRoi = 1;
  ui.answerValues({});
  ASSERT_TRUE(TW_DlgAutofocus3D(&record, nullptr, nullptr, nullptr, L"mask", false));
  EXPECT_EQ(record.useTargetRoi, 1);
  EXPECT_EQ(ui.prompts[0][1].label, L"Use Target ROI : mask");

  VA_AF4D r4 = g_AF4DBuildTest;
  ui.clear();
  ui.cancelValues();
  EXPECT_FALSE(TW_DlgAutofocus4D(&r4, 0, nullptr, false, false));
  EXPECT_EQ(ui.prompts[0][0].label, L"Current dynamic index 1");
}

// Each of the three single-measure rows recovers a 2-voxel shift of a blob on a flat background
// (the wide translation range once let signal difference settle on a sliver of background).
// The 3D dialog's buttons in its window: "URAL Settings" edits the dialog's copy of the texture-
// gradient settings (the noise check follows the edited magnitude; Cancel of the AutoFocus dialog
// drops the edit), the two "Browse" buttons fill the file fields, "From DICOM" saves the transform
// of the two volumes' tags as "DicomTags.vtf" and names it as the initial transformation.
TEST(AutofocusDialogs, ButtonsEditTheSettingsCopyAndTheFileFields) {
  static int argc = 1;
  static char name[] = "autofocus_operations_test";
  static char* argv[] = {name, nullptr};
  static QApplication* qapp = QApplication::instance() ? nullptr : new QApplication(argc, argv);
  (void)qapp;
  twk::ScriptedUi ui;
  twk::ScopedUi installedUi(ui);
  TW_InstallRecordDialog();
  TW_InitAutofocus3DDefaults();
  const char* kUral = "URAL Settings";
  for (const bool ok : {false, true}) {
    SCOPED_TRACE(ok ? "OK" : "Cancel");
    VA_AF3D record = g_AF3DSliceBySlice;  // measure 5, logarithm magnitude
    record.sourceNoise = record.targetNoise = 0;
    twk::DialogScript script;
    twk::ScopedDialogScript installed(script);
    // Normalized magnitude without noise levels: OK is refused, the window stays.
    script.press(CString::fromUtf8(kUral)).choose(L"Magnitude measure", 2).set(L"Normalization coefficient", L"3.5").ok();
    script.ok();
    if (ok) script.set(L"Source noise", L"1.5").set(L"Target noise", L"2.5").ok();
    else script.cancel();
    EXPECT_EQ(TW_DlgAutofocus3D(&record, nullptr, nullptr, nullptr, nullptr, false), ok);
    EXPECT_TRUE(hasMessage(ui, L"Specify Source and Target noise for URAL-UNI registration measure"));
    EXPECT_EQ(record.ural.magnitude, ok ? 2 : 1);
    EXPECT_DOUBLE_EQ(record.ural.normalization, ok ? 3.5 : 4.0);
    ui.clear();
  }

  // Browse: the open and save pickers fill the fields; a cancelled picker keeps the text.
  {
    VA_AF3D record = g_AF3DBuildTest;
    twk::DialogScript script;
    twk::ScopedDialogScript installed(script);
    ui.answerOpenFile(L"/data/start.vtf").answerSaveFile(L"/data/final.vtf").cancelPicker();
    script.press(L"Browse initial transformation").press(L"Browse final transformation");
    script.press(L"Browse initial transformation").ok();
    ASSERT_TRUE(TW_DlgAutofocus3D(&record, nullptr, nullptr, nullptr, nullptr, false));
    EXPECT_EQ(record.initialTransformFile, L"/data/start.vtf");
    EXPECT_EQ(record.finalTransformFile, L"/data/final.vtf");
  }

  // From DICOM: two axial grids 3 mm apart along x.
  auto tagged = [](double x0) {
    CVol* v = makeVolume(FRM_REAL, 64, DIM3D{8, 8, 4, 1}, [](int x, int y, int z, int) { return x + y + z; });
    v->spc = SPC{1.0, 1.0, 2.0};
    v->imgPos = static_cast<DPOINT3D*>(pf_malloc(int64_t(sizeof(DPOINT3D)) * 4));
    for (int k = 0; k < 4; ++k) v->imgPos[k] = DPOINT3D{x0, 0.0, 2.0 * k};
    return v;
  };
  std::unique_ptr<CVol> source(tagged(-3.0)), target(tagged(0.0));
  const CString folder = CString::fromUtf8(twk::testing::testFile("af_dicom"));
  ASSERT_EQ(::mkdir(folder.toUtf8().c_str(), 0755), 0);
  const CString savedFolder = TW_Options().rawSave3DFolder;
  TW_EditOptions().rawSave3DFolder = folder;
  VA_AF3D record = g_AF3DBuildTest;
  {
    twk::DialogScript script;
    twk::ScopedDialogScript installed(script);
    script.press(L"From DICOM").ok();
    ASSERT_TRUE(TW_DlgAutofocus3D(&record, source.get(), target.get(), &target->spc, nullptr, false));
  }
  TW_EditOptions().rawSave3DFolder = savedFolder;
  EXPECT_EQ(record.initialTransformFile, folder + L"/DicomTags.vtf");
  VA_VTFINFO info;
  double* k = VTF_Load(record.initialTransformFile, &info, true);
  ASSERT_TRUE(k);
  double expected[16];
  ASSERT_TRUE(VA_GetInitTransformWithDicomTags(source.get(), target.get(), false, expected, true));
  EXPECT_NEAR(expected[3], 3.0, 1e-9);  // target voxel x samples the source 3 voxels further on
  for (int i = 0; i < 12; ++i) EXPECT_DOUBLE_EQ(k[i], expected[i]) << i;
  pf_free(&k);
  std::remove((folder + L"/DicomTags.vtf").toUtf8().c_str());
  ::rmdir(folder.toUtf8().c_str());
  TW_RemoveRecordDialog();
}

TEST(AutofocusCommands, ShiftedBlobIsRegisteredIntoANewLayerAndTheSourceIsKept) {
  for (const char* item : {"Mutual Info with AutoFocus", "Signal Difference with AutoFocus",
                           "Cross Correlation  with AutoFocus"}) {
  SCOPED_TRACE(item);
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  TW_InitAutofocus3DDefaults();
  CDrawDoc* targetDoc = docs.open({twk::testkit::makeLayer(blob(32, 0.0, 1, 0.0, L"/data/target.nii"))}, L"/data/t.twk");
  CDrawDoc* sourceDoc = docs.open({twk::testkit::makeLayer(blob(32, 2.0, 1, 0.0, L"/data/moved.nii"))}, L"/data/s.twk");
  CVol* source = sourceDoc->GetActiveSet()->GetBaseVol();
  const std::vector<double> sourceBefore = voxels(source->frame);
  CDrawSet* set = targetDoc->GetActiveSet();
  const int row = rowId("Register", item);
  ASSERT_TRUE(TW_RowAvailable(TW_FindCommandRow(row)));

  // Cancel in the dialog adds nothing.
  ui.cancelValues();
  TW_DispatchCommand(row, Documents::viewOf(targetDoc));
  EXPECT_EQ(set->NumLayers(), 1);
  EXPECT_EQ(sourceDoc->GetActiveSet()->NumLayers(), 1);

  ui.clear();
  ui.answerValues({});
  TW_DispatchCommand(row, Documents::viewOf(targetDoc));
  ASSERT_EQ(set->NumLayers(), 2) << (ui.messages.empty() ? std::string() : ui.messages.back().toUtf8());
  CVol* result = set->GetLayerVol(1);
  EXPECT_EQ(result->name, L"moved_registered");
  EXPECT_EQ(voxels(source->frame), sourceBefore);
  const FRAME* target = set->GetBaseVol()->frame;
  double worst = 0;
  for (int z = 8; z < 24; ++z)
    for (int y = 8; y < 24; ++y)
      for (int x = 8; x < 24; ++x)
        worst = std::max(worst, std::fabs(twk::voxelValue(result->frame, x, y, z, 0) - twk::voxelValue(target, x, y, z, 0)));
  EXPECT_LT(worst, 15.0);  // of a peak of 1000: the 2-voxel shift undone
  EXPECT_TRUE(targetDoc->IsModified());
  }
}

TEST(AutofocusCommands, RefusalsReportTheirReasonAndAddNothing) {
  TW_InitAutofocus3DDefaults();
  struct Case {
    const char* name;
    int targetT, sourceT, extraDocs;
    bool targetToSource;
    int transformType;
    const wchar_t* message;
  } cases[] = {
      {"two sources", 1, 1, 1, false, 1,
       L"CDrawSet::RegisterAF3D : More than one document is present to be selected as a source"},
      {"4D counts differ", 3, 2, 0, false, 1,
       L"Check4Dcompatibility : Both Source and Target may not be 4D unless have equal number of timepoints"},
      {"4D source to source", 1, 3, 0, true, 1, L"CDrawSet::RegisterAF3D : Target to Source reslice is for 3D->3D only"},
      {"quadratic to source", 1, 1, 0, true, 3, L"CDrawSet::RegisterAF3D : Only Affine transforms permit Target to Source"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Documents docs;
    twk::ScriptedUi ui;
    twk::ScopedUi installed(ui);
    CDrawDoc* targetDoc = docs.open({twk::testkit::makeLayer(blob(12, 0.0, c.targetT))}, L"/data/t.twk");
    CDrawDoc* sourceDoc = docs.open({twk::testkit::makeLayer(blob(12, 1.0, c.sourceT))}, L"/data/s.twk");
    for (int i = 0; i < c.extraDocs; ++i) docs.open({twk::testkit::makeLayer(blob(12, 1.0))}, L"/data/x.twk");
    VA_AF3D record = g_AF3DSignalDifference;
    record.resliceTargetToSource = c.targetToSource;
    record.transformType = c.transformType;
    EXPECT_FALSE(TW_RegisterAF3D(targetDoc->GetActiveSet(), false, Documents::viewOf(targetDoc), &record, nullptr));
    EXPECT_TRUE(hasMessage(ui, c.message));
    EXPECT_EQ(targetDoc->GetActiveSet()->NumLayers(), 1);
    EXPECT_EQ(sourceDoc->GetActiveSet()->NumLayers(), 1);
  }
  // Declining the ROI question ends without a layer, as a success.
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CVol* roi = makeVolume(FRM_ROI, 1, DIM3D{12, 12, 12, 1}, [](int x, int, int, int) { return x > 3 ? 1.0 : 0.0; });
  CDrawDoc* targetDoc = docs.open({twk::testkit::makeLayer(roi)}, L"/data/t.twk");
  docs.open({twk::testkit::makeLayer(blob(12, 1.0))}, L"/data/s.twk");
  ui.answerMessage(IDNO);
  VA_AF3D record = g_AF3DSignalDifference;
  EXPECT_TRUE(TW_RegisterAF3D(targetDoc->GetActiveSet(), true, Documents::viewOf(targetDoc), &record, nullptr));
  EXPECT_TRUE(hasMessage(ui, L"Target is ROI. Proceed?"));
  EXPECT_EQ(targetDoc->GetActiveSet()->NumLayers(), 1);

  // Motion correction of a 3D layer.
  ui.clear();
  VA_AF4D r4 = g_AF4DBuildTest;
  EXPECT_FALSE(TW_RegisterAF4D(targetDoc->GetActiveSet(), false, Documents::viewOf(targetDoc), &r4));
  EXPECT_TRUE(hasMessage(ui, L"CDrawSet::RegisterAF4D : 4D volume is required"));
}

TEST(AutofocusCommands, TwoDocumentRegistrationRefusesMismatchedSeries) {
  struct Case {
    int sourceSize, sourceT;
  } cases[] = {{12, 3}, {16, 1}};
  for (const Case& c : cases) {
    Documents docs;
    twk::ScriptedUi ui;
    twk::ScopedUi installed(ui);
    CDrawDoc* targetDoc = docs.open({twk::testkit::makeLayer(blob(16, 0.0))}, L"/data/t.twk");
    docs.open({twk::testkit::makeLayer(blob(c.sourceSize, 0.0, c.sourceT))}, L"/data/s.twk");
    EXPECT_FALSE(TW_RegisterTwoDocumentsAF(targetDoc->GetActiveSet(), Documents::viewOf(targetDoc)));
    EXPECT_TRUE(hasMessage(ui, L"CDrawSet::RegisterTwoDocumentsAF : Invalid Registration configuration"));
    EXPECT_EQ(targetDoc->GetActiveSet()->NumLayers(), 1);
  }
}

TEST(AutofocusCommands, MotionCorrectionAddsTheActiveMocoLayerBeforeTheMask) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  TW_InitAutofocus4DDefaults();
  CVol* series = blob(20, 0.0, 3, 1.0, L"/data/series.nii");
  CVol* mask = makeVolume(FRM_ROI, 1, DIM3D{20, 20, 20, 1},
                          [](int x, int y, int z, int) { return x > 3 && x < 17 && y > 3 && y < 17 && z > 3 && z < 17; },
                          L"/data/mask.nii");
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(series), twk::testkit::makeLayer(mask)});
  CDrawSet* set = doc->GetActiveSet();
  set->SetActive(0);
  const std::vector<double> before = voxels(series->frame);
  ui.answerValues({});
  TW_DispatchCommand(rowId("Register", "AutoFocus Motion Correction (4D)"), Documents::viewOf(doc));
  ASSERT_EQ(set->NumLayers(), 3) << (ui.messages.empty() ? std::string() : ui.messages.back().toUtf8());
  EXPECT_EQ(set->GetLayerVol(2), mask);
  EXPECT_EQ(set->GetActive(), 1);
  CVol* moco = set->GetLayerVol(1);
  EXPECT_EQ(moco->name, L"series_moco");
  EXPECT_EQ(voxels(series->frame), before);
  // Every time point now matches time point 0 near the blob.
  for (int t = 1; t < 3; ++t) {
    double worst = 0;
    for (int z = 6; z < 14; ++z)
      for (int y = 6; y < 14; ++y)
        for (int x = 6; x < 14; ++x)
          worst = std::max(worst, std::fabs(twk::voxelValue(moco->frame, x, y, z, t) - twk::voxelValue(series->frame, x, y, z, 0)));
    EXPECT_LT(worst, 20.0) << t;
  }
}

TEST(AutofocusCommands, TwoDocumentRegistrationWorksOnACopyOfTheSourceSeries) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  TW_InitAutofocus4DDefaults();
  CDrawDoc* targetDoc = docs.open({twk::testkit::makeLayer(blob(16, 0.0, 1, 0.0, L"/data/target.nii"))}, L"/data/t.twk");
  CDrawDoc* sourceDoc = docs.open({twk::testkit::makeLayer(blob(16, 0.0, 3, 1.0, L"/data/series.nii"))}, L"/data/s.twk");
  CVol* source = sourceDoc->GetActiveSet()->GetBaseVol();
  const std::vector<double> before = voxels(source->frame);
  CDrawSet* set = targetDoc->GetActiveSet();
  // Cross correlation with the record's own ranges (50 mm in z on 16 slices) once ended outside
  // the grid, where only a sliver of background overlapped.
  ui.answerValues({1});
  ASSERT_TRUE(TW_RegisterTwoDocumentsAF(set, Documents::viewOf(targetDoc)))
      << (ui.messages.empty() ? std::string() : ui.messages.back().toUtf8());
  EXPECT_EQ(source->T(), 3);
  EXPECT_EQ(voxels(source->frame), before);
  ASSERT_EQ(set->NumLayers(), 2);
  CVol* result = set->GetLayerVol(1);
  EXPECT_EQ(result->name, L"registered");
  EXPECT_EQ(result->T(), 3);
  EXPECT_EQ(set->GetLayer(1)->opacity, 50);
  double worst = 0;
  for (int t = 0; t < 3; ++t)
    for (int z = 5; z < 11; ++z)
      for (int y = 5; y < 11; ++y)
        for (int x = 5; x < 11; ++x)
          worst = std::max(worst, std::fabs(twk::voxelValue(result->frame, x, y, z, t) -
                                            twk::voxelValue(set->GetBaseVol()->frame, x, y, z, 0)));
  EXPECT_LT(worst, 25.0);

}

// Slice by slice: each slice's own in-plane shift is undone into "<source>_reg" (or
// "_reg_over_<mask>", which then changes places with the mask); the refusals add nothing.
TEST(AutofocusCommands, SliceBySliceRegistersEachSliceInItsPlane) {
  TW_InitAutofocus3DDefaults();
  // A blob whose x shift grows with the slice.
  auto sliced = [](double shiftPerSlice, const wchar_t* name) {
    return makeVolume(FRM_REAL, 64, DIM3D{32, 32, 4, 1},
                      [=](int x, int y, int z, int) {
                        const double dx = x - 15.5 - shiftPerSlice * z, dy = y - 15.5;
                        return 1000.0 * std::exp(-(dx * dx + dy * dy * 0.6) / 32.0);
                      },
                      name);
  };
  for (const bool withMask : {false, true}) {
    SCOPED_TRACE(withMask ? "mask" : "no mask");
    Documents docs;
    twk::ScriptedUi ui;
    twk::ScopedUi installed(ui);
    std::vector<CDrawVol*> layers = {twk::testkit::makeLayer(sliced(0.0, L"/data/target.nii"))};
    if (withMask)
      layers.push_back(twk::testkit::makeLayer(makeVolume(FRM_ROI, 1, DIM3D{32, 32, 4, 1},
                                                          [](int x, int y, int, int) { return x > 4 && x < 27 && y > 4 && y < 27; },
                                                          L"/data/mask.nii")));
    CDrawDoc* targetDoc = docs.open(layers, L"/data/t.twk");
    docs.open({twk::testkit::makeLayer(sliced(1.0, L"/data/moved.nii"))}, L"/data/s.twk");
    CDrawSet* set = targetDoc->GetActiveSet();
    set->SetActive(0);
    VA_AF3D record = g_AF3DSliceBySlice;
    record.measure = 3;  // mutual information (the preset's gradient measure is slower to converge here)
    ui.answerValues({});
    const int row = rowId("Register", "Slice-by-slice with Autofocus");
    ASSERT_TRUE(TW_RowAvailable(TW_FindCommandRow(row)));
    ASSERT_TRUE(TW_RegisterAF3D_Mode2D(set, false, true, Documents::viewOf(targetDoc), &record))
        << (ui.messages.empty() ? std::string() : ui.messages.back().toUtf8());
    ASSERT_EQ(set->NumLayers(), withMask ? 3 : 2);
    const int resultIndex = 1;  // with a mask, the result and the mask changed places
    CVol* result = set->GetLayerVol(resultIndex);
    EXPECT_EQ(result->name, withMask ? L"moved_reg_over_mask" : L"moved_reg");
    if (withMask) {
      EXPECT_EQ(set->GetLayerVol(2)->name, L"/data/mask.nii");
    }
    EXPECT_EQ(set->GetLayer(resultIndex)->opacity, 50);
    const FRAME* target = set->GetBaseVol()->frame;
    for (int z = 0; z < 4; ++z) {
      double worst = 0;
      for (int y = 10; y < 22; ++y)
        for (int x = 10; x < 22; ++x)
          worst = std::max(worst, std::fabs(twk::voxelValue(result->frame, x, y, z, 0) - twk::voxelValue(target, x, y, z, 0)));
      EXPECT_LT(worst, 20.0) << "slice " << z;
    }
  }
  struct Refusal {
    int sourceSlices;
    bool targetToSource;
    const wchar_t* message;
  } refusals[] = {
      {4, true, L"CDrawSet::RegisterAF3D_Mode2D : Target to Source option is not allowed in 2D mode"},
      {5, false, L"Slice-by-slice registration requires the same number of slices and slice spacing"},
  };
  for (const Refusal& r : refusals) {
    Documents docs;
    twk::ScriptedUi ui;
    twk::ScopedUi installed(ui);
    CDrawDoc* targetDoc = docs.open({twk::testkit::makeLayer(sliced(0.0, L"/data/target.nii"))}, L"/data/t.twk");
    docs.open({twk::testkit::makeLayer(makeVolume(FRM_REAL, 64, DIM3D{32, 32, r.sourceSlices, 1},
                                                  [](int x, int, int, int) { return double(x); }))},
              L"/data/s.twk");
    VA_AF3D record = g_AF3DSliceBySlice;
    record.resliceTargetToSource = r.targetToSource;
    EXPECT_FALSE(TW_RegisterAF3D_Mode2D(targetDoc->GetActiveSet(), false, false, Documents::viewOf(targetDoc), &record));
    bool found = false;
    for (const CString& m : ui.messages) found = found || m.Find(r.message) >= 0;
    EXPECT_TRUE(found) << CString(r.message).toUtf8();
    EXPECT_EQ(targetDoc->GetActiveSet()->NumLayers(), 1);
  }
}

// The presets as start-up leaves them, field by field, and the preset every command row passes:
// each "@g_AF..." a row names is one of the table's records (or the neck workflow's), and the rows
// of the commands the table names pass that record.
TEST(AutofocusPresets, StartUpValuesAndEveryCommandsPreset) {
  TW_InitAutofocus3DDefaults();
  TW_InitAutofocus4DDefaults();
  TW_InitNeckAutofocusDefaults();
  struct Expected {
    const char* name;
    int measure, metric;
    double radius;
    int magnitude;
    double normalization;
    int roi;
    double inflate;
    int inflateUnits;
    double subsample, translation[3], rotation[3];
    int rotationGrid;
    double scale[3];
    int scaleGrid, uniform, power, transform, interpolation, bins, multipass, reslice, extra;
    int algorithm, mode2D;  // -1: a 3D record
  } table[] = {
      {"g_AF3DSignalDifference", 0, 0, 2.6, 0, 1, 0, 0, 0, 3, {30, 30, 30}, {0, 0, 0}, 1, {0, 0, 0}, 1, 0, 20, 1, 1, 0, 0, 0, 0, -1, -1},
      {"g_AF3DCrossCorrelation", 1, 0, 2.6, 0, 1, 0, 0, 0, 3, {30, 30, 30}, {0, 0, 0}, 1, {0, 0, 0}, 1, 0, 20, 1, 1, 0, 0, 0, 0, -1, -1},
      {"g_AF3DBuildTest", 3, 0, 2.6, 0, 1, 0, 0, 0, 3, {30, 30, 30}, {0, 0, 0}, 1, {0, 0, 0}, 1, 0, 1, 1, 1, 0, 0, 0, 0, -1, -1},
      {"g_AF3DSliceBySlice", 5, 0, 2.6, 1, 4, 0, 0, 0, 3, {30, 30, 30}, {0, 0, 0}, 1, {0, 0, 0}, 1, 0, 1, 1, 1, 0, 0, 0, 0, -1, -1},
      {"g_AF3DSingleModality", 5, 0, 2.6, 2, 4, 0, 0, 0, 3, {30, 30, 30}, {6, 6, 6}, 7, {0, 0, 0}, 1, 0, 1, 1, 1, 0, 0, 0, 0, -1, -1},
      {"g_AF3DMultiModality", 5, 0, 2.6, 2, 4, 0, 0, 0, 3, {30, 30, 30}, {6, 6, 6}, 7, {0, 0, 0}, 1, 0, 1, 1, 1, 0, 0, 0, 0, -1, -1},
      {"g_AF3DPostmortem", 5, 0, 2.6, 2, 2, 0, 2, 0, 5, {10, 10, 10}, {5, 5, 5}, 7, {0.2, 0.2, 0.2}, 7, 0, 1, 2, 1, 0, 0, 0, 0, -1, -1},
      {"g_AF3DMouseHeadAtlas", 4, 0, 2.6, 0, 1, 0, 0, 0, 5, {5, 5, 15}, {5, 5, 5}, 10, {0, 0, 0}, 1, 1, 1, 1, 1, 32, 0, 0, 0, -1, -1},
      {"g_AF3DMonkeyBrain", 5, 0, 2.6, 0, 1, 0, 5, 0, 5, {10, 10, 10}, {30, 30, 30}, 10, {0, 0, 0}, 1, 1, 1, 1, 1, 0, 0, 0, 0, -1, -1},
      {"g_AF3DMRandPET", 5, 0, 3, 0, 1, 1, 0, 0, 2, {10, 10, 10}, {20, 20, 20}, 7, {0, 0, 0}, 1, 0, 1, 1, 2, 0, 0, 1, 0, -1, -1},
      // The inflate is the texture gradient's high radius rounded up to whole voxels.
      {"g_AF3DBrainFDGDCE", 5, 0, 3, 0, 1, 1, 3, 0, 2, {20, 20, 20}, {20, 20, 20}, 11, {0, 0, 0}, 1, 0, 1, 1, 2, 0, 0, 1, 0, -1, -1},
      {"g_AF3DPalvenSliceA", 5, 0, 4, 1, 2, 0, 8, 0, 1, {12, 25, 10}, {3, 3, 3}, 3, {0, 0, 0}, 1, 0, 100, 2, 1, 0, 0, 0, 1, -1, -1},
      {"g_AF3DPalvenSliceB", 5, 0, 3, 0, 2, 0, 3, 0, 1, {12, 25, 10}, {5, 5, 5}, 55, {0, 0, 0}, 1, 0, 100, 2, 1, 0, 0, 0, 0, -1, -1},
      {"g_AF3DPalvenKidneyRoi", 5, 1, 2.6, 0, 1, 1, 0, 0, 1, {20, 30, 10}, {3, 3, 3}, 7, {0, 0, 0}, 1, 0, 1, 1, 1, 0, 0, 0, 0, -1, -1},
      // The inflate is the high radius as it stands.
      {"g_AF3DPalvenVibe", 5, 0, 3, 0, 2, 0, 3.0, 0, 1, {12, 25, 10}, {5, 5, 5}, 55, {0, 0, 0}, 1, 0, 100, 2, 1, 0, 0, 0, 0, -1, -1},
      {"g_AF3DHipAtlas", 3, 0, 2.6, 0, 1, 0, 20, 0, 4, {70, 70, 70}, {0, 0, 0}, 1, {1.3, 1.3, 1.3}, 100, 1, 1, 1, 1, 64, 1, 0, 0, -1, -1},
      {"g_AF3DBreastEPItoT1", 3, 0, 2.6, 1, 4, 0, 3, 0, 1, {15, 15, 15}, {0, 0, 0}, 1, {0, 0.2, 0}, 20, 0, 0, 1, 1, 0, 0, 0, 0, -1, -1},
      {"g_AF3DBreastPETtoT1", 3, 0, 2.6, 1, 3, 0, 3, 0, 2, {15, 15, 15}, {0, 0, 0}, 1, {0, 0.2, 0}, 20, 0, 1, 1, 1, 0, 0, 0, 0, -1, -1},
      {"g_AF3DLandmarks", 5, 0, 2.6, 2, 5, 0, 0, 0, 3, {30, 30, 30}, {0, 0, 0}, 1, {0, 0, 0}, 1, 0, 20, 1, 1, 0, 0, 0, 0, -1, -1},
      {"g_AF4DBuildTest", 1, 0, 2.6, 0, 4, 0, 0, 0, 1, {20, 20, 20}, {0, 0, 0}, 1, {0, 0, 0}, 1, 0, 1, 1, 2, 0, 0, 0, 0, 1, 0},
      {"g_AF4DIvimKidney", 5, 0, 3, 1, 2, 0, 3, 0, 1, {12, 15, 0}, {5, 5, 5}, 15, {0, 0, 0}, 1, 0, 5, 1, 2, 0, 0, 0, 0, 1, 1},
      {"g_AF4DRodentMI", 4, 0, 2.6, 0, 4, 0, 0, 0, 2, {15, 15, 15}, {5, 5, 5}, 7, {0, 0, 0}, 1, 0, 1, 1, 2, 0, 0, 0, 0, 1, 0},
      {"g_AF4DRodentURAL", 5, 0, 2.6, 0, 3, 0, 0, 0, 2, {15, 15, 15}, {5, 5, 5}, 7, {0, 0, 0}, 1, 0, 1, 1, 2, 0, 0, 0, 0, 1, 0},
      {"g_AF4DRenalURAL", 5, 0, 2.6, 2, 2, 0, 4, 0, 1, {20, 30, 10}, {3, 3, 3}, 3, {0, 0, 0}, 1, 0, 5, 1, 2, 0, 0, 0, 0, 1, 0},
      {"g_AF4DRenalMI", 4, 0, 2.6, 0, 2, 0, 3, 0, 1, {20, 30, 10}, {3, 3, 3}, 3, {0, 0, 0}, 1, 0, 5, 1, 2, 0, 0, 0, 0, 1, 0},
      {"g_AF4DInSliceURAL", 5, 0, 2.6, 2, 2, 0, 4, 0, 1, {20, 30, 0}, {0, 0, 5}, 15, {0, 0, 0}, 1, 0, 5, 1, 2, 0, 0, 0, 0, 1, 1},
      {"g_AF4DInSliceMI", 4, 0, 2.6, 0, 2, 0, 3, 0, 1, {20, 30, 0}, {0, 0, 5}, 15, {0, 0, 0}, 1, 0, 5, 1, 2, 0, 0, 0, 0, 1, 1},
      {"g_AF4DKidneyMIRadial", 3, 0, 4.6, 0, 2, 0, 3, 0, 2, {10, 20, 10}, {2, 2, 12}, 20, {0, 0, 0}, 1, 0, 3, 1, 2, 0, 0, 0, 0, 1, 0},
      {"g_AF4DKidneyMIEnsemble", 3, 0, 4.6, 0, 2, 0, 3, 0, 2.5, {10, 20, 10}, {2, 2, 12}, 20, {0, 0, 0}, 1, 0, 20, 1, 2, 0, 0, 0, 0, 1, 0},
      {"g_AF4DKidney2D", 6, 0, 3.6, 0, 2, 0, 3, 0, 2, {10, 20, 10}, {2, 2, 12}, 20, {0, 0, 0}, 1, 0, 1, 1, 2, 0, 0, 0, 0, 1, 0},
      {"g_AF4DKidney3D", 6, 0, 3.3, 0, 2, 0, 3, 0, 2, {10, 20, 10}, {2, 2, 12}, 20, {0, 0, 0}, 1, 0, 1, 1, 2, 0, 0, 0, 0, 1, 0},
      // Scale grid 1, the least its dialog accepts (no scale range is searched either way).
      {"g_AF4DBrainMaskMR", 5, 0, 2.6, 0, 2, 1, 3, 0, 3, {5, 5, 5}, {20, 20, 20}, 11, {0, 0, 0}, 1, 1, 1, 1, 1, 0, 0, 0, 0, 1, 0},
      {"g_AF4DPetBrainMask", 0, 0, 3, 1, 2, 1, 0, 0, 2, {25, 25, 25}, {10, 10, 10}, 5, {0, 0, 0}, 1, 0, 1, 1, 1, 16, 0, 0, 0, 2, 0},
      {"g_AF4DPalvenPerfusion", 5, 1, 4, 1, 2, 0, 20, 1, 1, {12, 25, 10}, {3, 3, 3}, 33, {0, 0, 0}, 1, 0, 25, 2, 2, 0, 0, 0, 0, 1, 1},
      {"g_AF4DPalvenProtonDensity", 5, 1, 4, 1, 2, 0, 20, 1, 1, {12, 25, 10}, {3, 3, 3}, 33, {0, 0, 0}, 1, 0, 25, 2, 2, 0, 0, 0, 0, 1, 1},
      {"g_AF4DTwoDocuments", 5, 0, 4.1, 2, 2, 0, 0, 0, 2, {10, 10, 50}, {7, 7, 7}, 7, {0, 0, 0}, 1, 0, 1, 1, 2, 0, 0, 0, 0, 1, 0},
      {"g_AF4DSpare", 5, 0, 4, 0, 10, 0, 8, 0, 1, {12, 20, 10}, {5, 5, 5}, 25, {0, 0, 0}, 1, 0, 50, 2, 2, 0, 0, 0, 0, 1, 1},
  };
  for (const Expected& e : table) {
    SCOPED_TRACE(e.name);
    const bool is4D = e.algorithm >= 0;
    const VA_AF3D* r = is4D ? static_cast<const VA_AF3D*>(static_cast<VA_AF4D*>(TW_FindPreset(e.name, typeid(VA_AF4D))))
                            : static_cast<VA_AF3D*>(TW_FindPreset(e.name, typeid(VA_AF3D)));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->measure, e.measure);
    EXPECT_EQ(r->ural.metric, e.metric);
    EXPECT_DOUBLE_EQ(r->ural.highRadius, e.radius);
    EXPECT_EQ(r->ural.magnitude, e.magnitude);
    EXPECT_DOUBLE_EQ(r->ural.normalization, e.normalization);
    EXPECT_EQ(r->useTargetRoi, e.roi);
    EXPECT_DOUBLE_EQ(r->inflate, e.inflate);
    EXPECT_EQ(r->inflateUnits, e.inflateUnits);
    EXPECT_DOUBLE_EQ(r->subsample, e.subsample);
    for (int k = 0; k < 3; ++k) {
      EXPECT_DOUBLE_EQ(r->translationMax[k], e.translation[k]) << k;
      EXPECT_DOUBLE_EQ(r->rotationMax[k], e.rotation[k]) << k;
      EXPECT_DOUBLE_EQ(r->scaleMax[k], e.scale[k]) << k;
    }
    EXPECT_EQ(r->rotationGrid, e.rotationGrid);
    EXPECT_EQ(r->scaleGrid, e.scaleGrid);
    EXPECT_EQ(r->uniformScale, e.uniform);
    EXPECT_EQ(r->power, e.power);
    EXPECT_EQ(r->transformType, e.transform);
    EXPECT_EQ(r->interpolation, e.interpolation);
    EXPECT_EQ(r->miBins, e.bins);
    EXPECT_EQ(r->multipass, e.multipass);
    EXPECT_EQ(r->resliceTargetToSource, e.reslice);
    EXPECT_EQ(r->extraFlag, e.extra);
    // The fields no preset sets.
    EXPECT_TRUE(r->initialTransformFile.IsEmpty() && r->finalTransformFile.IsEmpty());
    EXPECT_EQ(r->sourceNoise, 0.0);
    EXPECT_EQ(r->targetNoise, 0.0);
    EXPECT_EQ(r->shearMax, 0.0);
    EXPECT_EQ(r->shearGrid, 1);
    EXPECT_EQ(r->cleanByMask, 0);
    EXPECT_EQ(r->reserved1, 0.0);
    EXPECT_EQ(r->reserved2, 0.0);
    if (is4D) {
      const VA_AF4D* r4 = static_cast<const VA_AF4D*>(r);
      EXPECT_EQ(r4->algorithm4D, e.algorithm);
      EXPECT_EQ(r4->mode2D, e.mode2D);
      EXPECT_EQ(r4->outputRoiMotion, 0);
      EXPECT_EQ(r4->saveTimepointTransform, 0);
    }
  }

  // The menu texts the records are named for; the rows ending in them pass that record.
  const std::map<std::string, std::string> commands = {
      {"Signal Difference with AutoFocus", "g_AF3DSignalDifference"},
      {"Cross Correlation  with AutoFocus", "g_AF3DCrossCorrelation"},
      {"Mutual Info with AutoFocus", "g_AF3DBuildTest"},
      {"Slice-by-slice with Autofocus", "g_AF3DSliceBySlice"},
      {"Register Single Modality", "g_AF3DSingleModality"},
      {"Register Multi Modality", "g_AF3DMultiModality"},
      {"Register Postmortem volume", "g_AF3DPostmortem"},
      {"Register Mouse head to MRI Brain Atlas", "g_AF3DMouseHeadAtlas"},
      {"Register Monkey brain", "g_AF3DMonkeyBrain"},
      {"Register MR and PET (binary mode)", "g_AF3DMRandPET"},
      {"Register MR and PET (signal mode)", "g_AF3DMRandPET"},
      {"AutoFocus Motion Correction (4D)", "g_AF4DBuildTest"},
      {"IVIM - Kidney > Register", "g_AF4DIvimKidney"},
      {"Register 4D using MI", "g_AF4DRodentMI"},
      {"Register 4D using URAL", "g_AF4DRodentURAL"},
      {"Register 4D with URAL", "g_AF4DRenalURAL"},
      {"Register 4D with MI", "g_AF4DRenalMI"},
      {"Motion correction in-slice (URAL)", "g_AF4DInSliceURAL"},
      {"Motion correction in-slice (MI)", "g_AF4DInSliceMI"},
      {"Mosaic Motion correction in-slice (MI)", "g_AF4DInSliceMI"},
      {"Register Kidney with Mutual Info (Radial)", "g_AF4DKidneyMIRadial"},
      {"Register Kidney with Mutual Info (Ensemble)", "g_AF4DKidneyMIEnsemble"},
      {"Register Kidney (2D+time) ", "g_AF4DKidney2D"},
      {"Register Kidney (3D+time)", "g_AF4DKidney3D"},
      {"MR motion correction (requires brain mask)", "g_AF4DBrainMaskMR"},
      {"PET - motion correction using BrainMask", "g_AF4DPetBrainMask"},
      {"DWI Motion Correction", "g_AF4DNeckDwi"},
  };
  std::set<std::string> known = {"g_AF4DNeckDwi"};
  for (const Expected& e : table) known.insert(e.name);
  size_t matched = 0;
  for (const TW_COMMAND_ROW* row : TW_CommandRows()) {
    const std::string args = row->arguments ? row->arguments : "";
    const size_t at = args.find("@g_AF");
    if (at == std::string::npos) continue;
    const std::string path = row->path;
    SCOPED_TRACE(path);
    const std::string preset = args.substr(at + 1, args.find(';', at) == std::string::npos ? std::string::npos
                                                                                          : args.find(';', at) - at - 1);
    EXPECT_TRUE(known.count(preset)) << preset;
    for (const auto& [text, record] : commands)
      if (path.size() >= text.size() && path.compare(path.size() - text.size(), text.size(), text) == 0) {
        EXPECT_EQ(preset, record);
        ++matched;
      }
  }
  EXPECT_GE(matched, commands.size());  // every named command has its row
}

}  // namespace

TEST(Presets, EveryAutoFocusPresetHoldsItsStartValues) {
  TW_InitAutofocus3DDefaults();
  TW_InitAutofocus4DDefaults();
  TW_InitNeckAutofocusDefaults();
  const struct {
    const char* name;
    const VA_AF3D* r;
    int measure, magnitude;
    double radius, normalization, inflate, subsample, tx, rz;
    int rotationGrid, scaleGrid, power, transform, interpolation;
    bool targetRoi;
  } cases[] = {
      {"SignalDifference", &g_AF3DSignalDifference, 0, 0, 2.6, 1.0, 0, 3, 30, 0, 1, 1, 20, 1, 1, false},
      {"Postmortem", &g_AF3DPostmortem, 5, 2, 2.6, 2.0, 2, 5, 10, 5, 7, 7, 1, 2, 1, false},
      {"MouseHeadAtlas", &g_AF3DMouseHeadAtlas, 4, 0, 2.6, 1.0, 0, 5, 5, 5, 10, 1, 1, 1, 1, false},
      {"BrainFDGDCE", &g_AF3DBrainFDGDCE, 5, 0, 3.0, 1.0, 3, 2, 20, 20, 11, 1, 1, 1, 2, true},
      {"PalvenVibe", &g_AF3DPalvenVibe, 5, 0, 3.0, 2.0, 3.0, 1, 12, 5, 55, 1, 100, 2, 1, false},
      {"Kidney3D", &g_AF4DKidney3D, 6, 0, 3.3, 2.0, 3, 2, 10, 12, 20, 1, 1, 1, 2, false},
      {"Kidney2D", &g_AF4DKidney2D, 6, 0, 3.6, 2.0, 3, 2, 10, 12, 20, 1, 1, 1, 2, false},
      {"BrainMaskMR", &g_AF4DBrainMaskMR, 5, 0, 2.6, 2.0, 3, 3, 5, 20, 11, 1, 1, 1, 1, true},
      {"PalvenPerfusion", &g_AF4DPalvenPerfusion, 5, 1, 4.0, 2.0, 20, 1, 12, 3, 33, 1, 25, 2, 2, false},
      {"NeckDwi", &g_AF4DNeckDwi, 3, 2, 4.1, 2.0, 3, 2, 5, 3, 3, 1, 1, 1, 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const VA_AF3D& r = *c.r;
    EXPECT_EQ(r.measure, c.measure);
    EXPECT_EQ(r.ural.magnitude, c.magnitude);
    EXPECT_EQ(r.ural.highRadius, c.radius);
    EXPECT_EQ(r.ural.normalization, c.normalization);
    EXPECT_EQ(r.inflate, c.inflate);
    EXPECT_EQ(r.subsample, c.subsample);
    EXPECT_EQ(r.translationMax[0], c.tx);
    EXPECT_EQ(r.rotationMax[2], c.rz);
    EXPECT_EQ(r.rotationGrid, c.rotationGrid);
    EXPECT_EQ(r.scaleGrid, c.scaleGrid);  // 1 also for BrainMaskMR: its dialog accepts 1 to 10000
    EXPECT_EQ(r.power, c.power);
    EXPECT_EQ(r.transformType, c.transform);
    EXPECT_EQ(r.interpolation, c.interpolation);
    EXPECT_EQ(r.useTargetRoi != 0, c.targetRoi);
    EXPECT_EQ(r.shearGrid, 1);
    EXPECT_TRUE(r.initialTransformFile.IsEmpty() && r.finalTransformFile.IsEmpty());
  }
  EXPECT_EQ(g_AF4DPalvenPerfusion.inflateUnits, 1);
  EXPECT_EQ(g_AF4DPetBrainMask.algorithm4D, 2);
  EXPECT_EQ(g_AF4DPetBrainMask.miBins, 16);
  EXPECT_EQ(g_AF4DInSliceMI.mode2D, 1);
  EXPECT_EQ(g_AF3DHipAtlas.multipass, 1);
  EXPECT_EQ(g_AF3DPalvenSliceA.extraFlag, 1);
  EXPECT_EQ(g_AF3DMRandPET.resliceTargetToSource, 1);
  // "Uncrop Volume Region" builds its record afresh: a change to one run's record does not stay.
  VA_AF3D uncrop = TW_UncropAutofocusRecord();
  EXPECT_EQ(uncrop.translationMax[1], 100.0);
  EXPECT_EQ(uncrop.interpolation, 0);
  EXPECT_EQ(uncrop.resliceTargetToSource, 1);
  uncrop.translationMax[1] = 5;
  EXPECT_EQ(TW_UncropAutofocusRecord().translationMax[1], 100.0);
  // The rows find their presets by name.
  EXPECT_EQ(TW_FindPreset("g_AF4DKidney3D", typeid(VA_AF4D)), &g_AF4DKidney3D);
  EXPECT_EQ(TW_FindPreset("g_AF3DMouseHeadAtlas", typeid(VA_AF3D)), &g_AF3DMouseHeadAtlas);
}

TEST(Presets, ARowWithAPresetIsAvailableOnlyWithItsRecord) {
  const int id = rowId("Workflows", "IVIM - Kidney > Register");
  const TW_COMMAND_ROW* row = TW_FindCommandRow(id);
  ASSERT_NE(row, nullptr);
  StandIn operation("CDrawSet::RegisterAF4D");
  // The presets of the registration rows are registered at start of the process.
  EXPECT_TRUE(TW_RowAvailable(row));
  StandIn other("CDrawSet::SegmentKidneyFAP");
  const TW_COMMAND_ROW* fap = TW_FindCommandRow(rowId("Workflows", "PALVEN3D > Segment Kidney Arterial Phase (MIP AutoBound)"));
  ASSERT_NE(fap, nullptr);
  EXPECT_FALSE(TW_RowAvailable(fap));  // g_KidneyFAPParms is not registered
  static int record = 0;
  TW_RegisterPreset("g_KidneyFAPParms", &record);
  EXPECT_TRUE(TW_RowAvailable(fap));
  TW_RegisterPresetAddress("g_KidneyFAPParms", nullptr, typeid(int));
}
