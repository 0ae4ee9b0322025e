// The brain commands on a brain-like phantom document: FLAIR lesions through the lesion dialog
// (silent and prompted) with their four layers, the operand refusals, the dialog's record rules,
// and the lateral-ventricle command with its dialog.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "BrainDialogs.h"
#include "BrainOperations.h"
#include "BrainPhantom.h"
#include "CommandTable.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "OperationsTestKit.h"
#include "RecordDialog.h"
#include "ScriptedUi.h"
#include "SegTestApp.h"
#include "TestFolder.h"
#include "Vol.h"
#include "io/ImageFiles.h"

using twk::optest::Documents;
using twk::segtest::app;

namespace {

VA_WMLVENTRSEG phantomRecord() {
  VA_WMLVENTRSEG r = g_WmlVentrSeg;
  r.DoN3 = 0;  // the phantom has no bias field
  return r;
}

CDrawSet* openPhantom(Documents& docs) {
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(twk::brainphantom::brainPhantom())});
  return doc->GetActiveSet();
}

}  // namespace

TEST(BrainDefaults, RecordsStartWithTheDialogsDefaults) {
  VA_WMLVENTRSEG r;
  TW_InitWmlVentrSegDefaults(&r);
  EXPECT_EQ(r.AlgoVersion, 2);
  EXPECT_EQ(r.DoN3, 1);
  EXPECT_EQ(r.AF3Dparms.measure, 3);
  EXPECT_EQ(r.AF3Dparms.miBins, 32);
  EXPECT_EQ(r.AF3Dparms.transformType, 1);
  EXPECT_EQ(r.AF3Dparms.interpolation, 1);
  EXPECT_DOUBLE_EQ(r.AF3Dparms.translationMax[2], 20.0);
  EXPECT_DOUBLE_EQ(r.BmPeel, 3.1);
  EXPECT_DOUBLE_EQ(r.VentGrow, 30.0);
  EXPECT_DOUBLE_EQ(r.WMLminSize, 12.0);
  VA_LATERALVENTRSEG v;
  TW_InitLateralVentrSegDefaults(&v);
  EXPECT_DOUBLE_EQ(v.brainMaskPeel, 2.9);
  EXPECT_DOUBLE_EQ(v.ventricleGrow, 3.0);
  EXPECT_EQ(v.maxComponents, 1);
  // The brain rows are bound.
  for (int id : {35100, 35101, 34353}) EXPECT_TRUE(TW_RowAvailable(TW_FindCommandRow(id))) << id;
}

TEST(FlairLesions, SilentRunAddsTheLesionAndTissueLayers) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawSet* set = openPhantom(docs);
  VA_WMLVENTRSEG record = phantomRecord();
  record.AlgoVersion = 4;
  ASSERT_TRUE(TW_SegmentFlairLesions(set, true, nullptr, &record));
  ASSERT_EQ(set->NumLayers(), 5);
  const std::wstring lesion = set->GetLayerVol(1)->name.GetString();
  EXPECT_EQ(lesion.rfind(L"WML_thr_", 0), 0u) << lesion;
  EXPECT_EQ(set->GetLayerVol(2)->name, L"gray matter");
  EXPECT_EQ(set->GetLayerVol(3)->name, L"lateral ventricle");
  EXPECT_EQ(set->GetLayerVol(4)->name, L"white matter");
  EXPECT_EQ(set->GetActiveVol(), set->GetLayerVol(4));
  EXPECT_TRUE(set->GetLayerVol(1)->IsROI3D());
  EXPECT_TRUE(ui.messages.empty());
}

TEST(FlairLesions, RefusalsAddNothing) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  // A 4D operand.
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(twk::optest::makeVolume(
      FRM_INT, 16, DIM3D{8, 8, 8, 2}, [](int, int, int, int) { return 1.0; }, L"/data/series.nii"))});
  VA_WMLVENTRSEG record = phantomRecord();
  EXPECT_FALSE(TW_SegmentFlairLesions(doc->GetActiveSet(), true, nullptr, &record));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::SegmentFlairLesionsAlgo2 : 3D volume is required");
  EXPECT_EQ(doc->GetActiveSet()->NumLayers(), 1);
  // An unknown algorithm variant, after the dialog.
  CDrawSet* set = openPhantom(docs);
  record.AlgoVersion = 3;
  EXPECT_FALSE(TW_SegmentFlairLesions(set, true, nullptr, &record));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::SegmentFlairLesionsAlgo2 : Invalid algorithm variant");
  EXPECT_EQ(set->NumLayers(), 1);
  // Cancel in the dialog.
  ui.cancelValues();
  record.AlgoVersion = 2;
  EXPECT_FALSE(TW_SegmentFlairLesions(set, false, nullptr, &record));
  EXPECT_EQ(set->NumLayers(), 1);
  EXPECT_FALSE(ui.pendingAnswers());
}

// With two documents open and a one-layer document beside, that layer is the T1: the dialog shows
// its name (with one document open there is none).
TEST(FlairLesions, TheOtherDocumentsSingleLayerIsTheMprage) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawSet* set = openPhantom(docs);
  docs.open({twk::testkit::makeLayer(twk::optest::makeVolume(
                FRM_INT, 16, DIM3D{8, 8, 8, 1}, [](int, int, int, int) { return 1.0; }, L"/data/t1_mprage.nii"))},
            L"/data/t1.twk");
  VA_WMLVENTRSEG record = phantomRecord();
  ui.cancelValues();
  EXPECT_FALSE(TW_SegmentFlairLesions(set, false, nullptr, &record));
  ASSERT_EQ(ui.prompts.size(), 1u);
  EXPECT_EQ(ui.prompts[0][3].text, L"t1_mprage.nii");
  // One document: no MPRAGE name.
  docs.close(Documents::openedAfter(1).front());
  ui.cancelValues();
  EXPECT_FALSE(TW_SegmentFlairLesions(set, false, nullptr, &record));
  EXPECT_EQ(ui.prompts[1][3].text, L"");
}

TEST(LesionDialog, OkWritesCancelKeepsAndNoMaskUnchecksTheMaskFlag) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  VA_WMLVENTRSEG record = phantomRecord();
  record.UseGMmask = 1;
  const VA_WMLVENTRSEG before = record;
  ui.cancelValues();
  EXPECT_FALSE(TW_DlgLVWMLSeg(false, &record, nullptr, nullptr, false));
  EXPECT_EQ(record.UseGMmask, 1);
  EXPECT_DOUBLE_EQ(record.BmPeel, before.BmPeel);
  // Fields in order: version, N3, GM mask, (MPRAGE text), use MPRAGE, coefficient, signal low, peel,
  // signal high, grow, stem, ventricle peel, components, ventricle grow, seed, healthy peel,
  // multiplier, cortical peel, largest WM, minimal size.
  ui.answerValues({4, 0, 1, 1, 1.7, 0.5, 3.3, 1.4, 6.0, 0.1, 2.5, 2, 25, 1, 4.0, 2.5, 2.0, 0, 20},
                  {L""});
  ASSERT_TRUE(TW_DlgLVWMLSeg(false, &record, nullptr, nullptr, false));
  EXPECT_EQ(record.AlgoVersion, 4);
  EXPECT_EQ(record.DoN3, 0);
  EXPECT_EQ(record.UseGMmask, 0);  // no mask: unchecked and greyed
  EXPECT_EQ(record.UseMprage, 0);  // no MPRAGE: greyed
  EXPECT_DOUBLE_EQ(record.GMbrightThrKoff, 1.7);
  EXPECT_DOUBLE_EQ(record.BmCoreSiLo, 0.5);
  EXPECT_DOUBLE_EQ(record.BmPeel, 3.3);
  EXPECT_DOUBLE_EQ(record.BmCoreSiHi, 1.4);
  EXPECT_DOUBLE_EQ(record.BmGrow, 6.0);
  EXPECT_DOUBLE_EQ(record.StemWeightThr, 0.1);
  EXPECT_DOUBLE_EQ(record.VentPeel, 2.5);
  EXPECT_EQ(record.VentMaxCC, 2);
  EXPECT_DOUBLE_EQ(record.VentGrow, 25);
  EXPECT_DOUBLE_EQ(record.WMLzoneDeflate, 2.0);
  EXPECT_EQ(record.WmMaxCCOnly, 0);
  EXPECT_DOUBLE_EQ(record.WMLminSize, 20);
  // With an MPRAGE given later (a batch) "Use MPRAGE" is open and the name stays empty.
  ui.answerValues({2, 1, 0, 1, 1.5, 0.4, 3.1, 1.5, 6.4, 0.05, 2, 1, 30, 0, 5, 2, 3, 1, 12}, {L""});
  ASSERT_TRUE(TW_DlgLVWMLSeg(false, &record, nullptr, TW_MPRAGE_GIVEN_LATER, false));
  EXPECT_EQ(record.UseMprage, 1);
  ASSERT_FALSE(ui.prompts.empty());
  EXPECT_EQ(ui.prompts.back()[3].text, L"");
}

TEST(LateralVentricleCommand, AddsTheVentricleLayerAndRefusesA4DVolume) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc* series = docs.open({twk::testkit::makeLayer(twk::optest::makeVolume(
      FRM_INT, 16, DIM3D{8, 8, 8, 2}, [](int, int, int, int) { return 1.0; }, L"/data/series.nii"))});
  EXPECT_FALSE(TW_BrainSegmentLateralVentricle(series->GetActiveSet()));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::BrainSegmentLateralVentricle : 3D MR volume is required");
  CDrawSet* set = openPhantom(docs);
  const VA_LATERALVENTRSEG before = g_LateralVentrSeg;
  ui.cancelValues();
  EXPECT_FALSE(TW_BrainSegmentLateralVentricle(set));
  EXPECT_EQ(set->NumLayers(), 1);
  ui.answerValues({0.4, 2.9, 6.4, 2.0, 3.0, 1});
  ASSERT_TRUE(TW_BrainSegmentLateralVentricle(set));
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(set->GetLayerVol(1)->name, L"lateral ventricle");
  EXPECT_DOUBLE_EQ(g_LateralVentrSeg.brainMaskPeel, before.brainMaskPeel);
  EXPECT_FALSE(ui.pendingAnswers());
}

// The Qt window: typing 4 greys the healthy white-matter fields at once, typing 2 opens them again;
// Cancel keeps the record whole, also after the N3 button changed the dialog's copy.
TEST(LesionDialogWindow, AlgorithmVersionGreysTheHealthyGroupAndCancelKeepsTheRecord) {
  app();
  twk::ScriptedUi ui;
  twk::ScopedUi installedUi(ui);
  TW_InstallRecordDialog();
  VA_WMLVENTRSEG record = phantomRecord();
  {
    twk::DialogScript script;
    twk::ScopedDialogScript installed(script);
    script.set(L"Algorithm version (2,4)", L"4")
        .set(L"WML threshold stdev multiplier", L"9")  // greyed: not taken
        .set(L"Algorithm version (2,4)", L"2")
        .set(L"Peel Brain mask to obtain healthy WM voxels (mm)", L"7")
        .set(L"Algorithm version (2,4)", L"4")
        .ok();
    ASSERT_TRUE(TW_DlgLVWMLSeg(false, &record, nullptr, nullptr, false));
    EXPECT_FALSE(script.pending());
  }
  EXPECT_EQ(record.AlgoVersion, 4);
  EXPECT_DOUBLE_EQ(record.WMLThresholdStddevMult, 2.0);
  EXPECT_DOUBLE_EQ(record.WmDeflateToNormal, 7.0);
  const VA_WMLVENTRSEG before = record;
  {
    twk::DialogScript script;
    twk::ScopedDialogScript installed(script);
    script.press(L"N3 Parameters").set(L"Field smoothness (mm)", L"55").ok().set(L"Peel to exclude cortical lesions (mm)", L"1").cancel();
    EXPECT_FALSE(TW_DlgLVWMLSeg(false, &record, nullptr, nullptr, false));
    EXPECT_FALSE(script.pending());
    ASSERT_EQ(script.titles.size(), 2u);
    EXPECT_EQ(script.titles[1], L"N3 - Bias Field Correction");
  }
  EXPECT_DOUBLE_EQ(record.N3parms.fieldSmoothness, before.N3parms.fieldSmoothness);
  EXPECT_DOUBLE_EQ(record.WMLzoneDeflate, before.WMLzoneDeflate);
  // The N3 button's change is kept by OK.
  {
    twk::DialogScript script;
    twk::ScopedDialogScript installed(script);
    script.press(L"N3 Parameters").set(L"Field smoothness (mm)", L"55").ok().ok();
    ASSERT_TRUE(TW_DlgLVWMLSeg(false, &record, nullptr, nullptr, false));
  }
  EXPECT_DOUBLE_EQ(record.N3parms.fieldSmoothness, 55);
  // The registration button (an MPRAGE given later): Cancel keeps the record's registration values,
  // OK takes them.
  for (const bool accept : {false, true}) {
    twk::DialogScript script;
    twk::ScopedDialogScript installed(script);
    script.press(L"Registration Parameters").set(L"Mutual Info number of bins", L"48").ok();
    if (accept) script.ok();
    else script.cancel();
    EXPECT_EQ(TW_DlgLVWMLSeg(false, &record, nullptr, TW_MPRAGE_GIVEN_LATER, false), accept);
    EXPECT_FALSE(script.pending());
    EXPECT_EQ(record.AF3Dparms.miBins, accept ? 48 : 32);
  }
  TW_RemoveRecordDialog();
}

// The NIfTI batch: the two folders, the lesion dialog (its values stored for the next run), the
// question, then one lesion mask per 3D volume in the target folder.
TEST(LesionBatch, NiftiFolderRunsTheLibrarysBatchWithTheDialogsValues) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const std::filesystem::path root = twk::testing::testFolder("brain_nifti_batch");
  std::filesystem::create_directories(root / "src");
  std::filesystem::create_directories(root / "dst");
  std::unique_ptr<CVol> flair(twk::brainphantom::brainPhantom());
  const double orient[6] = {1, 0, 0, 0, 1, 0};
  const CString src = CString((root / "src").wstring().c_str()), dst = CString((root / "dst").wstring().c_str());
  ASSERT_TRUE(VA_RAW_VolSaveFile(src + L"/case7.nii", flair->frame, 0, &flair->spc, orient, &flair->imgPos[0], nullptr,
                                 MODALITY_MR, RAWSAVE_SINGLE, L"", nullptr, nullptr, false));
  const VA_WMLVENTRSEG saved = g_WmlVentrSeg;
  // Cancel in the folder prompt ends the command.
  ui.cancelValues();
  EXPECT_FALSE(TW_WMLBatchFromNiftiFolder());
  ui.answerValuesText({src, dst});
  ui.answerValues({2, 0, 0, 0, 1.5, 0.4, 3.1, 1.5, 6.4, 0.05, 2, 1, 30, 0, 5, 2, 3, 1, 12}, {L""});
  ui.answerMessage(IDYES);
  ASSERT_TRUE(TW_WMLBatchFromNiftiFolder());
  EXPECT_FALSE(ui.pendingAnswers());
  EXPECT_TRUE(std::filesystem::exists(root / "dst" / "case7_lesion_mask.nii"));
  EXPECT_EQ(g_WmlVentrSeg.DoN3, 0);
  EXPECT_EQ(g_WmlBatchSourceFolder, src);
  g_WmlVentrSeg = saved;
}
