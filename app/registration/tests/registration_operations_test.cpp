// The registration operations of the layer sets, run headless with a scripted UI.

#include <gtest/gtest.h>

#include <cstdio>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>

#include "OperationsTestKit.h"
#include "LandmarkOperations.h"
#include "MeasureOperations.h"
#include "RegistrationBindings.h"
#include "TransformOperations.h"
#include "ScriptedUi.h"
#include "TestFolder.h"
#include "VectorRois.h"
#include "TextCodec.h"
#include "volume/Frame.h"
#include "registration/Measures.h"
#include "registration/Reslice.h"
#include "registration/TransformFiles.h"

namespace {

using twk::optest::Documents;
using twk::optest::rowId;

TEST(RegistrationServices, SaveAlignmentWritesATransformFileThatReadsBackExactly) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CVol* vol = twk::optest::makeVolume(FRM_INT, 16, DIM3D{6, 5, 3, 1}, nullptr);
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol)});
  FRAME* before = VA_VolClone(vol->frame);
  const double transform[16] = {0.1 + 0.2, 0, 0, 7.5, 0, 1, 0, -1.0 / 3.0, 0, 0, 1, 0, 0, 0, 0, 1};
  ASSERT_TRUE(vol->SetAlignment(&before, transform));
  const int row = rowId("Transform", "Save Alignment (*.vtf)");
  TW_RemoveRegistrationServices();
  EXPECT_FALSE(TW_RowAvailable(TW_FindCommandRow(row)));
  TW_InstallRegistrationServices();
  EXPECT_TRUE(TW_RowAvailable(TW_FindCommandRow(row)));
  const std::string file = twk::testing::testFile("alignment.vtf");
  std::remove(file.c_str());
  const CString path = CString::fromUtf8(file);
  ui.answerSaveFile(path);
  twk::registration::OnTransformSaveAlignmentVTF(*Documents::viewOf(doc));
  EXPECT_TRUE(ui.messages.empty());
  VA_VTFINFO info;
  double* back = VTF_Load(path, &info, true);
  ASSERT_TRUE(back);
  EXPECT_EQ(std::memcmp(back, transform, sizeof transform), 0);
  EXPECT_EQ(info.type, 2);
  EXPECT_EQ(info.sourceDim.w, 6);
  EXPECT_EQ(info.sourceSpc.z, 2.0);
  EXPECT_FALSE(info.hasTarget);
  pf_free(&back);
  TW_RemoveRegistrationServices();
}

TEST(RegistrationServices, SaveAlignmentNeedsAnAlignmentAndNamesAFailedWrite) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CVol* vol = twk::testkit::makeVol(FRM_INT, 4, 4, 2, 1);
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol)});
  CDrawView* view = Documents::viewOf(doc);
  TW_InstallRegistrationServices();
  EXPECT_TRUE(TW_RowAvailable(TW_FindCommandRow(rowId("Transform", "Save Alignment (*.vtf)"))));
  // Never registered: the message, and no picker.
  twk::registration::OnTransformSaveAlignmentVTF(*view);
  EXPECT_EQ(ui.lastMessage(), L"CDrawView::OnTransformSaveAlignmentVTF : Alignment transform is not present");
  EXPECT_TRUE(ui.fileRequests.empty());
  FRAME* before = VA_VolClone(vol->frame);
  double transform[16] = {1, 0, 0, 7.5, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  ASSERT_TRUE(vol->SetAlignment(&before, transform));
  // A copy of the volume carries its alignment.
  CVol copy(*vol);
  EXPECT_TRUE(copy.HasAlignment());
  EXPECT_EQ(copy.alignment[3], 7.5);
  // Cancel writes nothing; a failed write (into a folder that does not exist) is named; a good one
  // is silent.
  const std::filesystem::path folder = twk::testing::testFolder("save_alignment");
  const CString unwritable = CString::fromUtf8((folder / "missing" / "a.vtf").string());
  const CString good = CString::fromUtf8((folder / "b.vtf").string());
  ui.clear();
  ui.cancelPicker();
  twk::registration::OnTransformSaveAlignmentVTF(*view);
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  EXPECT_EQ(ui.fileRequests.size(), 1u);
  EXPECT_EQ(ui.fileRequests[0].initialPath.Right(18), L"AlignTransform.vtf");
  ui.answerSaveFile(unwritable);
  twk::registration::OnTransformSaveAlignmentVTF(*view);
  EXPECT_EQ(ui.lastMessage(), L"CDrawView::OnTransformSaveAlignmentVTF : Failed to save the transform file " + unwritable);
  ui.clear();
  ui.answerSaveFile(good);
  twk::registration::OnTransformSaveAlignmentVTF(*view);
  EXPECT_TRUE(ui.messages.empty());
  // Only the good file was written: the alignment as a kind-2 transform of the layer's grid.
  EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
  VA_VTFINFO info;
  double* back = VTF_Load(good, &info, true);
  ASSERT_TRUE(back);
  EXPECT_EQ(info.type, 2);
  EXPECT_EQ(info.sourceDim.w, 4);
  EXPECT_EQ(back[3], 7.5);
  pf_free(&back);
  TW_RemoveRegistrationServices();
  EXPECT_FALSE(TW_RowAvailable(TW_FindCommandRow(rowId("Transform", "Save Alignment (*.vtf)"))));
}

// A set of the given layers in a new document; returns the set.
CDrawSet* setOf(Documents& docs, const std::vector<CDrawVol*>& layers, const wchar_t* path = L"/data/source.twk") {
  return docs.open(layers, path)->GetActiveSet();
}

CVol* ramp(DIM3D dims, double slope, const wchar_t* name) {
  return twk::optest::makeVolume(FRM_REAL, 64, dims, [=](int x, int y, int z, int t) {
    return slope * (x + 2 * y) + 3.0 * z + 10.0 * t + std::sin(x * y + z);
  }, name);
}

CVol* roiBox(DIM3D dims, int x0, int x1, const wchar_t* name) {
  return twk::optest::makeVolume(FRM_ROI, 1, dims, [=](int x, int, int, int) { return x >= x0 && x <= x1 ? 1 : 0; },
                                 name);
}

TEST(LayerMeasurements, ReportsAndRefusalsOfEveryCode) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const DIM3D d3{8, 6, 4, 1}, d4{8, 6, 4, 3}, d5{8, 6, 4, 2};
  CVol* a = ramp(d3, 1.0, L"/data/a.nii");
  CVol* b = ramp(d3, 1.5, L"/data/b.nii");
  CVol* roi = roiBox(d3, 2, 5, L"/data/roi.nii");
  CDrawSet* set = setOf(docs, {twk::testkit::makeLayer(a), twk::testkit::makeLayer(b), twk::testkit::makeLayer(roi)});
  const FRAME* pair[2] = {a->frame, b->frame};
  double withRoi = 0, whole = 0;
  ASSERT_TRUE(VA_VolumeSingleMeasurement(2, pair, roi->frame, 0, &withRoi, false));
  ASSERT_TRUE(VA_VolumeSingleMeasurement(2, pair, nullptr, 0, &whole, false));
  EXPECT_TRUE(twk::registration::SingleMeasurement(*set, nullptr, 0));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::SingleMeasurement : " + FmtStr(L"RMSD over the ROI = %e", withRoi));
  set->GetLayer(2)->SetMarked(false);
  EXPECT_TRUE(twk::registration::SingleMeasurement(*set, nullptr, 0));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::SingleMeasurement : " + FmtStr(L"RMSD = %e", whole));
  double zncc = 0;
  ASSERT_TRUE(VA_VolCalcZNCC(a->frame, b->frame, nullptr, &zncc, false));
  EXPECT_TRUE(twk::registration::SingleMeasurement(*set, nullptr, 19));
  EXPECT_EQ(ui.lastMessage(), FmtStr(L"Zero normalized Cross Correlation = %.10g", zncc));
  // Two ROIs: their difference.
  CVol* roi2 = roiBox(d4, 4, 6, L"/data/roi2.nii");
  set->GetLayer(2)->SetMarked(true);
  CDrawSet* rois = setOf(docs, {twk::testkit::makeLayer(roiBox(d3, 2, 5, L"/data/r1.nii")), twk::testkit::makeLayer(roi2)},
                         L"/data/rois.twk");
  EXPECT_TRUE(twk::registration::SingleMeasurement(*rois, nullptr, 18));
  // t0: x 2,3 and 6 differ; t1 and t2: the 3D ROI stands for every time point -> 3 columns each.
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::SingleMeasurement : Roi difference = " +
                                  FmtStr(L"%u voxels", unsigned(3 * 3 * d3.h * d3.d)));

  // Mutual information: the 3D volume first whatever the order, one line per time point of the 4D.
  CVol* four = ramp(d4, 2.0, L"/data/four.nii");
  CVol* flat = ramp(d3, 1.0, L"/data/flat.nii");
  CDrawSet* mixed = setOf(docs, {twk::testkit::makeLayer(four), twk::testkit::makeLayer(flat)}, L"/data/mixed.twk");
  ui.clear();
  EXPECT_TRUE(twk::registration::SingleMeasurement(*mixed, nullptr, 16));
  ASSERT_EQ(ui.shownFileTexts.size(), 1u);
  CString expected = L"/data/flat.nii : /data/four.nii\nMeasurement of Mutual Info\n";
  for (int t = 0; t < 3; ++t) {
    double v = 0;
    ASSERT_TRUE(VA_VolPairCalculateMutualInfoOverROI(3, flat->frame, four->frame, nullptr, t, &v, false));
    expected += FmtStr(L"t%u\t%e\n", unsigned(t), v);
  }
  EXPECT_NE(ui.shownFileTexts[0].Find(expected), -1) << ui.shownFileTexts[0].GetString();
  // Two 4D series of unequal lengths are refused, nothing shown.
  CDrawSet* unequal = setOf(docs, {twk::testkit::makeLayer(ramp(d4, 1.0, L"/data/p.nii")),
                                   twk::testkit::makeLayer(ramp(d5, 1.0, L"/data/q.nii"))}, L"/data/unequal.twk");
  ui.clear();
  EXPECT_FALSE(twk::registration::SingleMeasurement(*unequal, nullptr, 17));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::SingleMeasurement : Equal numbers of time points are expected");
  EXPECT_TRUE(ui.shownFileTexts.empty());

  // Refusals, one table.
  CDrawSet* three = setOf(docs, {twk::testkit::makeLayer(ramp(d3, 1.0, L"/data/x.nii")),
                                 twk::testkit::makeLayer(ramp(d3, 2.0, L"/data/y.nii")),
                                 twk::testkit::makeLayer(ramp(d3, 3.0, L"/data/z.nii"))}, L"/data/three.twk");
  const struct {
    CDrawSet* set;
    int code;
    const wchar_t* message;
  } refusals[] = {
      {three, 0, L"ROI is not present or enabled"},
      {three, 16, L"CDrawSet::SingleMeasurement : Two Non-Roi operands are expected"},
      {three, 19, L"CDrawSet::SingleMeasurement : Two Non-Roi operands are expected"},
      {set, 18, L"CDrawSet::SingleMeasurement : Two marked ROIs are required"},
      {mixed, 19, L"CDrawSet::SingleMeasurement : 3D volume is required"},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.code);
    ui.clear();
    EXPECT_FALSE(twk::registration::SingleMeasurement(*r.set, nullptr, r.code));
    EXPECT_EQ(ui.lastMessage(), r.message);
  }

  // Total variation: the marked non-ROI layers by file title.
  ui.clear();
  set->GetLayer(1)->SetMarked(false);
  EXPECT_TRUE(twk::registration::MeasureTVTable(*set));
  double tv = 0;
  ASSERT_TRUE(VA_VolMeasureTV(true, a->frame, &tv, false));
  EXPECT_EQ(ui.lastMessage(), L"name\tTV\n" + FmtStr(L"a\t%e\n", tv));
}

TEST(TransformFiles, AVtfFileIsAppliedByItsOwnKindIntoANewDocument) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const DIM3D dims{12, 10, 6, 1};
  CVol* vol = ramp(dims, 1.0, L"/data/scan.nii");
  vol->spc = SPC{1.0, 1.0, 2.0};
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol)});
  const std::vector<double> before = twk::optest::voxels(vol->frame);
  // A quadratic transform file: applied as an affine it would drop its second-order terms.
  VA_VTFINFO info;
  info.type = 3;
  info.degree = 2;
  info.sourceDim = dims;
  info.sourceSpc = vol->spc;
  info.hasTarget = true;
  info.targetDim = DIM3D{9, 8, 5, 1};
  info.targetSpc = SPC{1.2, 1.1, 2.0};
  std::vector<double> quad(30, 0.0);
  quad[0] = 1.0, quad[3] = 0.5, quad[4] = 0.02;
  quad[11] = 1.0, quad[13] = -0.3, quad[17] = 0.01;
  quad[22] = 1.0, quad[23] = 0.2;
  const std::string file = twk::testing::testFile("quad.vtf");
  ASSERT_TRUE(VTF_SaveEx(CString::fromUtf8(file), info, quad.data(), true));
  const int before_docs = Documents::openCount();
  ui.answerValues({1, 0, 50}, {CString::fromUtf8(file)});
  twk::registration::AffineTransformByVTF(*doc->GetActiveSet(), g_VtfTransformTask);
  const std::vector<CDrawDoc*> opened = Documents::openedAfter(before_docs);
  ASSERT_EQ(opened.size(), 1u) << (ui.messages.empty() ? "" : twk::toUtf8(ui.lastMessage().wstr()));
  const CVol* result = opened[0]->GetActiveSet()->GetBaseVol();
  ASSERT_TRUE(result);
  const FramePtr expected(VA_ResliceTB(3, 2, quad.data(), vol->frame, &info.targetDim, 1, 0.0, false));
  ASSERT_TRUE(expected);
  EXPECT_EQ(twk::optest::voxels(result->frame), twk::optest::voxels(expected.get()));
  EXPECT_EQ(result->spc.x, 1.2);
  EXPECT_EQ(twk::optest::voxels(vol->frame), before);

  // A file of three time points against a set of five; a missing file.
  VA_VTFINFO three = info;
  three.type = 2;
  three.degree = 1;
  three.timePoints = 3;
  std::vector<double> sets;
  for (int t = 0; t < 3; ++t) sets.insert(sets.end(), {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
  const std::string threeFile = twk::testing::testFile("three.vtf");
  ASSERT_TRUE(VTF_SaveEx(CString::fromUtf8(threeFile), three, sets.data(), true));
  CDrawDoc* five = docs.open({twk::testkit::makeLayer(ramp(DIM3D{12, 10, 6, 5}, 1.0, L"/data/five.nii"))},
                             L"/data/five.twk");
  five->GetActiveSet()->GetBaseVol()->spc = vol->spc;
  const struct {
    CDrawDoc* doc;
    std::string file;
    const wchar_t* message;
  } refusals[] = {
      {five, threeFile, L"CDrawSet::AffineTransformByVTF : Transformation has unsuitable number of timepoints"},
      {doc, twk::testing::testFile("absent.vtf"), L"CDrawSet::AffineTransformByVTF : Transformation File was not found"},
  };
  for (const auto& r : refusals) {
    ui.clear();
    const int count = Documents::openCount();
    ui.answerValues({1, 0, 50}, {CString::fromUtf8(r.file)});
    twk::registration::AffineTransformByVTF(*r.doc->GetActiveSet(), g_VtfTransformTask);
    EXPECT_EQ(ui.lastMessage(), r.message);
    EXPECT_EQ(Documents::openCount(), count);
  }
}

TEST(TransformFiles, AFlowFieldOfAnotherSourceGridIsRefused) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(ramp(DIM3D{16, 16, 5, 1}, 1.0, L"/data/f.nii"))});
  const DIM3D source{16, 16, 4, 1}, target{6, 5, 4, 1};
  const SPC spc{1, 1, 1};
  std::vector<DPOINT3D> field(size_t(6 * 5 * 4), DPOINT3D{0.5, 0, 0});
  const std::string file = twk::testing::testFile("field.fff");
  ASSERT_TRUE(VA_SaveFlowField(CString::fromUtf8(file), &source, &spc, &target, &spc, field.data(), true));
  const int count = Documents::openCount();
  ui.answerValues({1, 0, 50}, {CString::fromUtf8(file)});
  twk::registration::FlowFieldTransformByFFF(*doc->GetActiveSet(), g_FlowFieldTransformTask);
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::FlowFieldTransformByFFF : Flow Field transform source dimension mismatch");
  EXPECT_EQ(Documents::openCount(), count);
}

TEST(Landmarks, AlignmentToOneSliceFitsThePlaneAndTurnsTheVolume) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CVol* vol = ramp(DIM3D{20, 20, 12, 1}, 1.0, L"/data/plane.nii");
  vol->spc = SPC{1, 1, 1};
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol)});
  CDrawSet* set = doc->GetActiveSet();
  // Landmarks on the plane z = 4 + 0.2 x (points: boxes of no extent).
  const double at[4][2] = {{2, 3}, {15, 4}, {5, 16}, {14, 14}};
  for (int i = 0; i < 4; ++i) {
    const double z = 4 + 0.2 * at[i][0];
    const double box[6] = {at[i][0], at[i][1], z, at[i][0], at[i][1], z};
    ASSERT_TRUE(TW_CreateVectRoiFromLabel(set, box, 0, 0, (const wchar_t*)FmtStr(L"L%d", i)));
  }
  const int before = Documents::openCount();
  EXPECT_TRUE(twk::registration::FitPlaneToLandmarks(*set, Documents::viewOf(doc)));
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages[0].Left(26), L"Plane fitting error (mm) =");
  EXPECT_EQ(Documents::openCount(), before + 1);
  // No landmarks: nothing happens.
  CDrawDoc* bare = docs.open({twk::testkit::makeLayer(ramp(DIM3D{8, 8, 4, 1}, 1.0, L"/data/bare.nii"))}, L"/data/b.twk");
  ui.clear();
  EXPECT_FALSE(twk::registration::FitPlaneToLandmarks(*bare->GetActiveSet(), Documents::viewOf(bare)));
  EXPECT_EQ(Documents::openCount(), before + 2);
}

}  // namespace
