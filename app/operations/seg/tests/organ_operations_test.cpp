// The organ recipes and reports on small documents: the heart of a chest CT, cartilage next to a bone
// mask, segments along an ROI's longest axis, the structure graph of a slice, the blood-vessel map,
// the mean over ROIs and the vicinity irregularity reports of all documents.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "DrawDoc.h"
#include "DrawShapes.h"
#include "BolusCurve.h"
#include "DynExp.h"
#include "DynExpDialogs.h"
#include "VolProj.h"
#include "DrawSet.h"
#include "OperationsTestKit.h"
#include "ScriptedUi.h"
#include "OrganOperations.h"
#include "VesselMapOperation.h"
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
  ASSERT_TRUE(twk::seg::DetectCartilage(*set));
  CVol* cartilage = set->GetLayerVol(2);
  EXPECT_EQ(cartilage->name, L"cartilage");
  EXPECT_EQ(count(cartilage->frame), 16 * 16 * 2);
  EXPECT_TRUE(twk::roiBit(cartilage->frame, 5, 5, 9, 0));
  EXPECT_FALSE(twk::roiBit(cartilage->frame, 14, 14, 11, 0));
  set->SetLayerMarked(cartilage, false);  // the bone stays the one operand ROI
  ui.answerValuesText({L"2", L"1"});
  ASSERT_TRUE(twk::seg::DetectCartilage(*set));
  EXPECT_EQ(count(set->GetLayerVol(3)->frame), 16 * 16);
  ui.cancelValues();
  EXPECT_FALSE(twk::seg::DetectCartilage(*set));
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
  EXPECT_FALSE(twk::seg::Pancreas_MeasurementAlongCentralAxis(*set));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::Pancreas_MeasurementAlongCentralAxis : At least 2 segments are expected");
  ui.answerValues({3});
  ASSERT_TRUE(twk::seg::Pancreas_MeasurementAlongCentralAxis(*set));
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
  ASSERT_TRUE(twk::seg::AllDocumentsMeanOverRois());
  // Mean of x + 2y + z^2 over x in {0, 1}: 0.5 + 4 + 5/3.
  EXPECT_EQ(shownText(ui), CString(L"first\nROI\tramp.nii\nleft.nii\t") + FmtStr(L"%e", 0.5 + 4.0 + 5.0 / 3.0) +
                               L"\n\nsecond\n");

  ASSERT_TRUE(twk::seg::AllDocumentsIrregularity2D());
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

namespace {

double sq(double v) { return v * v; }

// A small chest at 1 mm: two lung cylinders (-800) with mediastinal fat (-100) between them and a
// heart ball of radius 6 (40) in the fat; the rest 40. Native plane axial or coronal.
CDrawDoc* openChest(Documents& docs, bool axial, bool fourDLung) {
  const DIM3D dims{48, 40, 20, 1};
  const auto lungA = [](int x, int y, int z) { return z >= 1 && z < 19 && sq((x - 10) / 7.0) + sq((y - 20) / 15.0) <= 1; };
  const auto lungB = [](int x, int y, int z) { return z >= 1 && z < 19 && sq((x - 38) / 7.0) + sq((y - 20) / 15.0) <= 1; };
  CVol* ct = makeVolume(FRM_REAL, 64, dims, [&](int x, int y, int z, int) {
    if (lungA(x, y, z) || lungB(x, y, z)) return -800.0;
    if (sq(x - 24) + sq(y - 20) + sq(z - 10) <= 36) return 40.0;
    return x > 17 && x < 31 && y > 5 && y < 35 ? -100.0 : 40.0;
  }, L"/data/chest.nii");
  ct->spc = SPC{1, 1, 1};
  ct->SetModality(0);
  const double axialRows[6] = {1, 0, 0, 0, 1, 0}, coronalRows[6] = {1, 0, 0, 0, 0, -1};
  ct->SetOrientation(axial ? axialRows : coronalRows);
  CVol* second = fourDLung ? makeVolume(FRM_ROI, 1, DIM3D{48, 40, 20, 2}, [&](int x, int y, int z, int) {
    return lungB(x, y, z) ? 1.0 : 0.0;
  }, L"/data/lungB.nii")
                           : roiOf(dims, lungB, L"/data/lungB.nii");
  return docs.open({twk::testkit::makeLayer(ct), twk::testkit::makeLayer(roiOf(dims, lungA, L"/data/lungA.nii")),
                    twk::testkit::makeLayer(second)});
}

}  // namespace

// The heart recipe adds "heart mask" on the lungs' grid; a coronal view, a 4D lung and a fourth
// layer are refused with their messages and add nothing.
TEST(OrganRecipes, HeartFromChestCT) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc* doc = openChest(docs, true, false);
  CDrawSet* set = doc->GetActiveSet();
  ASSERT_TRUE(twk::seg::SegmentHeartCT(*set, Documents::viewOf(doc))) << ui.lastMessage().toUtf8();
  ASSERT_EQ(set->NumLayers(), 4);
  CVol* heart = set->GetLayerVol(3);
  EXPECT_EQ(heart->name, L"heart mask");
  EXPECT_TRUE(heart->IsROI3D());
  EXPECT_TRUE(twk::roiBit(heart->frame, 24, 20, 10, 0));
  EXPECT_FALSE(twk::roiBit(heart->frame, 24, 8, 10, 0));  // fat
  EXPECT_NEAR(double(count(heart->frame)), 4.0 / 3.0 * M_PI * 216, 0.15 * 4.0 / 3.0 * M_PI * 216);
  EXPECT_FALSE(twk::seg::SegmentHeartCT(*set, Documents::viewOf(doc)));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::SegmentHeartCT : 3 layers are expected");

  struct Case {
    bool axial, fourD;
    const wchar_t* message;
  };
  for (const Case& c : {Case{false, false, L"CDrawSet::SegmentHeartCT : Axial projection is expected"},
                        Case{true, true, L"CDrawSet::SegmentHeartCT : 3D lung ROI is expected"}}) {
    CDrawDoc* other = openChest(docs, c.axial, c.fourD);
    EXPECT_FALSE(twk::seg::SegmentHeartCT(*other->GetActiveSet(), Documents::viewOf(other)));
    EXPECT_EQ(ui.lastMessage(), c.message);
    EXPECT_EQ(other->GetActiveSet()->NumLayers(), 3);
  }
}

// The structure graph of the view's slice: one closed red triangle per lattice triangle, the
// interior ones filled blue; film view refused; a cancelled size adds nothing.
TEST(OrganRecipes, CurrentSliceStructureGraph) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const DIM3D dims{10, 10, 3, 1};
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(roiOf(dims, [](int x, int y, int z) {
    return z == 1 && x >= 1 && x <= 7 && y >= 1 && y <= 7;
  }, L"/data/square.nii"))});
  CDrawView* view = Documents::viewOf(doc);
  ASSERT_EQ(view->GetProjection()->slice, 1);
  view->GetProjection()->filmView = 0;  // one slice shown
  const auto polylines = [&]() {
    int n = 0;
    CDrawObj** objects = doc->GetObjectsArray(&n);
    std::vector<CDrawPoly*> out;
    for (int i = 0; i < n; ++i) out.push_back(static_cast<CDrawPoly*>(objects[i]));
    pf_free(&objects);
    return out;
  };
  ui.cancelValues();
  EXPECT_FALSE(twk::seg::CurrentSliceStructureGraph(*doc->GetActiveSet(), view));
  EXPECT_TRUE(polylines().empty());
  ui.answerValues({2.0});
  ASSERT_TRUE(twk::seg::CurrentSliceStructureGraph(*doc->GetActiveSet(), view)) << ui.lastMessage().toUtf8();
  const std::vector<CDrawPoly*> made = polylines();
  ASSERT_EQ(made.size(), 8u);
  int filled = 0;
  for (const CDrawPoly* p : made) {
    ASSERT_EQ(p->NumPoints(), 4);
    EXPECT_EQ(p->points[0].x, p->points[3].x);
    EXPECT_EQ(p->points[0].y, p->points[3].y);
    EXPECT_EQ(p->style.lineColor, COLORREF(0x0000FF));
    EXPECT_EQ(p->slice, 1);
    if (p->style.filled) {
      ++filled;
      EXPECT_EQ(p->style.fillColor, COLORREF(0xFF0000));
    }
  }
  EXPECT_EQ(filled, 2);
  EXPECT_TRUE(doc->IsModified());
  EXPECT_EQ(static_cast<twk::testkit::CountingView*>(view)->zooms, 1);

  view->GetProjection()->filmView = 1;
  EXPECT_FALSE(twk::seg::CurrentSliceStructureGraph(*doc->GetActiveSet(), view));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::CurrentSliceStructureGraph : Film View is not allowed");
  EXPECT_EQ(polylines().size(), 8u);
}

// Two input functions give three layers named after them and "Organ" (the last one active); 11
// functions or none are refused, and so is a series along b-values; the host's filled slots are
// the functions of the bound command.
TEST(VesselMapCommand, LayersPerInputFunctionAndOrgan) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const int T = 12;
  const DIM3D dims{12, 12, 2, T};
  const auto artery = [](int x, int, int) { return x >= 2 && x <= 4; };
  const auto vein = [](int x, int, int) { return x >= 8 && x <= 10; };
  CVol* series = makeVolume(FRM_INT, 16, dims, [&](int x, int y, int z, int t) {
    if (artery(x, y, z)) return 80 + 300 * twk::phantom::bolus(t, 1, 2);
    if (vein(x, y, z)) return 60 + 200 * twk::phantom::bolus(t, 3, 3);
    return 100 + 2.0 * t;
  }, L"/data/perfusion.nii");
  std::vector<DYNCRD> dyn(T);
  for (int t = 0; t < T; ++t) dyn[size_t(t)].time = dyn[size_t(t)].timeEnd = 2.0 * t;
  ASSERT_TRUE(series->SetDynamicCoords(dyn.data(), T));
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(series),
                             twk::testkit::makeLayer(roiOf(DIM3D{12, 12, 2, 1}, [](int, int, int) { return true; },
                                                           L"/data/all.nii"))});
  CDrawSet* set = doc->GetActiveSet();
  auto host = std::make_unique<CDynExp>();
  for (int t = 0; t < T; ++t) {
    host->ifunc[1].values[t] = 300 * twk::phantom::bolus(t, 1, 2);
    host->ifunc[3].values[t] = 200 * twk::phantom::bolus(t, 3, 3);
  }
  host->ifunc[1].count = host->ifunc[3].count = T;
  host->ifuncName[1] = L"Aorta";
  host->ifuncName[3] = L"Portal vein";
  TW_SetDynExpHost(host.get());
  ASSERT_TRUE(twk::seg::SegmentVesselMap(*set, TW_DynExpHost())) << ui.lastMessage().toUtf8();
  TW_SetDynExpHost(nullptr);
  ASSERT_EQ(set->NumLayers(), 5);
  EXPECT_EQ(set->GetLayerVol(2)->name, L"Aorta");
  EXPECT_EQ(set->GetLayerVol(3)->name, L"Portal vein");
  EXPECT_EQ(set->GetLayerVol(4)->name, L"Organ");
  EXPECT_EQ(set->GetActiveVol(), set->GetLayerVol(4));
  EXPECT_EQ(count(set->GetLayerVol(2)->frame), 3 * 12 * 2);
  EXPECT_EQ(count(set->GetLayerVol(3)->frame), 3 * 12 * 2);
  EXPECT_EQ(count(set->GetLayerVol(4)->frame), 6 * 12 * 2);

  std::vector<INPUTFUNC> eleven(11, host->ifunc[1]);
  std::vector<CString> names(11, L"f");
  for (CVol* extra : {set->GetLayerVol(2), set->GetLayerVol(3), set->GetLayerVol(4)}) set->SetLayerMarked(extra, false);
  for (const int n : {11, 0}) {
    EXPECT_FALSE(twk::seg::SegmentVesselMapWith(*set, eleven.data(), names.data(), n));
    EXPECT_EQ(ui.lastMessage(), L"CDrawSet::SegmentVesselMap : Invalid number of Input Functions");
  }
  for (int t = 0; t < T; ++t) {
    dyn[size_t(t)].time = 0;
    dyn[size_t(t)].bValue = 100.0 * t;
  }
  ASSERT_TRUE(series->SetDynamicCoords(dyn.data(), T));
  EXPECT_FALSE(twk::seg::SegmentVesselMapWith(*set, eleven.data(), names.data(), 2));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::SegmentVesselMap : Time dynamic dimension is required");
  EXPECT_EQ(set->NumLayers(), 5);
}
