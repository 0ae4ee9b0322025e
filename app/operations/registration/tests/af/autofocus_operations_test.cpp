// The AutoFocus registration commands and their dialogs, run headless with a scripted UI.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "AutofocusDialogs.h"
#include "AutofocusOperations.h"
#include "AutofocusPresets.h"
#include "CommandTable.h"
#include "OperationsTestKit.h"
#include "ScriptedUi.h"

namespace {

using twk::optest::Documents;
using twk::optest::makeVolume;
using twk::optest::rowId;
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

TEST(AutofocusCommands, ShiftedBlobIsRegisteredIntoANewLayerAndTheSourceIsKept) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  TW_InitAutofocus3DDefaults();
  CDrawDoc* targetDoc = docs.open({twk::testkit::makeLayer(blob(32, 0.0, 1, 0.0, L"/data/target.nii"))}, L"/data/t.twk");
  CDrawDoc* sourceDoc = docs.open({twk::testkit::makeLayer(blob(32, 2.0, 1, 0.0, L"/data/moved.nii"))}, L"/data/s.twk");
  CVol* source = sourceDoc->GetActiveSet()->GetBaseVol();
  const std::vector<double> sourceBefore = voxels(source->frame);
  CDrawSet* set = targetDoc->GetActiveSet();
  const int row = rowId("Register", "Mutual Info with AutoFocus");
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
  ui.answerValues({3});  // mutual information
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

}  // namespace
