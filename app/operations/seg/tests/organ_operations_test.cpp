// The organ recipes and reports on small documents: cartilage next to a bone mask, segments along an
// ROI's longest axis, the mean over ROIs and the vicinity irregularity reports of all documents.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "OperationsTestKit.h"
#include "ScriptedUi.h"
#include "SegOperations.h"
#include "TwkMem.h"
#include "Vol.h"
#include "roi/OrganRecipes.h"
#include "roi/RoiComponents.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

using twk::optest::Documents;
using twk::optest::makeVolume;

namespace {

CVol* roiOf(DIM3D dims, const std::function<bool(int, int, int)>& inside, const wchar_t* name) {
  CVol* vol = makeVolume(FRM_ROI, 1, dims, [&](int x, int y, int z, int) { return inside(x, y, z) ? 1.0 : 0.0; }, name);
  vol->spc = SPC{1, 1, 1};
  return vol;
}

int64_t count(const FRAME* roi) {
  int64_t n = 0;
  VA_RoiNumVox(roi, -1, -1, &n);
  return n;
}

CString shownText(const twk::ScriptedUi& ui) { return ui.shownFileTexts.empty() ? CString() : ui.shownFileTexts.back(); }

}  // namespace

// A bone block (signal 10) under a bright layer two voxels thick (signal 30) and a bright blob within
// reach of the bone but not connected to the layer: the cartilage is the layer alone; a thinner maximum thickness keeps one voxel of it.
TEST(OrganRecipes, CartilageIsTheBrightLayerNextToTheBone) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const DIM3D dims{16, 16, 20, 1};
  CVol* volume = makeVolume(FRM_REAL, 64, dims, [](int x, int y, int z, int) {
    if (z < 8) return 10.0;
    if (z < 10) return 30.0;
    return x > 12 && y > 12 && (z == 11 || z == 12) ? 30.0 : 5.0;  // within reach, not connected
  }, L"/data/knee.nii");
  volume->spc = SPC{1, 1, 1};
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(volume),
                             twk::testkit::makeLayer(roiOf(dims, [](int, int, int z) { return z < 8; }, L"/data/bone.nii"))});
  CDrawSet* set = doc->GetActiveSet();
  ui.answerValuesText({L"2", L"5"});
  ASSERT_TRUE(TW_DetectCartilage(set));
  CVol* cartilage = set->GetLayerVol(2);
  EXPECT_EQ(cartilage->name, L"cartilage");
  EXPECT_EQ(count(cartilage->frame), 16 * 16 * 2);
  EXPECT_TRUE(twk::roiBit(cartilage->frame, 5, 5, 9, 0));
  EXPECT_FALSE(twk::roiBit(cartilage->frame, 14, 14, 11, 0));
  set->SetLayerMarked(cartilage, false);  // the bone stays the one operand ROI
  ui.answerValuesText({L"2", L"1"});
  ASSERT_TRUE(TW_DetectCartilage(set));
  EXPECT_EQ(count(set->GetLayerVol(3)->frame), 16 * 16);
  ui.cancelValues();
  EXPECT_FALSE(TW_DetectCartilage(set));
  EXPECT_EQ(set->NumLayers(), 4);
}

// A rod along x (30 voxels), thicker at its high end: 3 segments of 10 voxels' length numbered from
// the thick end, their volumes in the report, which goes to Notepad; fewer than 2 segments refused.
TEST(OrganRecipes, PancreasSegmentsStartAtTheThickEnd) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const DIM3D dims{40, 12, 12, 1};
  auto inRod = [](int x, int y, int z) {
    const int r = x >= 25 ? 3 : 1;
    return x >= 5 && x < 35 && std::abs(y - 6) <= r && std::abs(z - 6) <= r;
  };
  CVol* volume = makeVolume(FRM_REAL, 64, dims, [](int x, int, int, int) { return double(x); }, L"/data/ct.nii");
  volume->spc = SPC{1, 1, 1};
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(volume), twk::testkit::makeLayer(roiOf(dims, inRod, L"/data/p.nii"))});
  CDrawSet* set = doc->GetActiveSet();
  ui.answerValues({1});
  EXPECT_FALSE(TW_PancreasMeasurementAlongCentralAxis(set));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::Pancreas_MeasurementAlongCentralAxis : At least 2 segments are expected");
  ui.answerValues({3});
  ASSERT_TRUE(TW_PancreasMeasurementAlongCentralAxis(set));
  CVol* layers = set->GetLayerVol(2);
  EXPECT_EQ(layers->name, L"layers");
  EXPECT_EQ(twk::voxelValue(layers->frame, 34, 6, 6, 0), 1);  // the thick end first
  EXPECT_EQ(twk::voxelValue(layers->frame, 20, 6, 6, 0), 2);
  EXPECT_EQ(twk::voxelValue(layers->frame, 5, 6, 6, 0), 3);
  EXPECT_EQ(twk::voxelValue(layers->frame, 1, 6, 6, 0), 0);
  const std::string text = shownText(ui).toUtf8();
  EXPECT_NE(text.find("source.twk\nAxis length (mm) = 29.00"), std::string::npos) << text;
  EXPECT_NE(text.find("\n3\t90\t0.0900\t"), std::string::npos) << text;  // 10 x 3 x 3 voxels
}

// The mean report walks every document: the title, then a header and one line per ROI for a
// document with real layers; a document of ROIs only gives its title line. The irregularity report
// gives a header block per document, one line per real 3D layer (against scipy) and an empty line.
TEST(OrganRecipes, AllDocumentReports) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const DIM3D dims{6, 5, 3, 1};
  CVol* ramp = makeVolume(FRM_REAL, 64, dims, [](int x, int y, int z, int) { return double(x + 2 * y + z * z); },
                          L"/data/ramp.nii");
  CDrawDoc* first = docs.open({twk::testkit::makeLayer(ramp),
                               twk::testkit::makeLayer(roiOf(dims, [](int x, int, int) { return x < 2; }, L"/data/left.nii"))},
                              L"/data/first.twk");
  first->SetTitle(L"first");
  CDrawDoc* second = docs.open({twk::testkit::makeLayer(roiOf(dims, [](int, int, int) { return true; }, L"/data/all.nii"))},
                               L"/data/second.twk");
  second->SetTitle(L"second");
  ASSERT_TRUE(TW_AllDocumentsMeanOverRois());
  // Mean of x + 2y + z^2 over x in {0, 1}: 0.5 + 4 + 5/3.
  EXPECT_EQ(shownText(ui), CString(L"first\nROI\tramp.nii\nleft.nii\t") + FmtStr(L"%e", 0.5 + 4.0 + 5.0 / 3.0) +
                               L"\n\nsecond\n");

  ASSERT_TRUE(TW_AllDocumentsIrregularity2D());
  const std::vector<double> reference = twk::optest::numpyReference(
      twk::optest::voxels(ramp->frame), {3, 5, 6}, "float64",
      "[(lambda m: np.abs(a - m)[~np.isnan(m)].sum() / np.abs(a)[~np.isnan(m)].sum())(np.stack(["
      "__import__('scipy.ndimage', fromlist=['x']).generic_filter(a[z], lambda w: np.nanmean(np.delete(w, 4)), "
      "size=3, mode='constant', cval=np.nan) for z in range(3)]))]");
  ASSERT_EQ(reference.size(), 1u);
  double ours = 0;
  ASSERT_TRUE(VA_VolVicIrregularity2D(ramp->frame, &ours));
  EXPECT_NEAR(ours, reference[0], 1e-12);
  EXPECT_EQ(shownText(ui), CString(L"first\nLayer\tIrregularity2D\t\nramp.nii:\t") + FmtStr(L"%e", ours) +
                               L"\n\nsecond\nLayer\tIrregularity2D\t\n\n");
}
