// The ROI operations of the layer sets on small documents: operand checks and their messages,
// in-place changes with undo, result layers, prompts and measurement texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "CommandTable.h"
#include "DocTestKit.h"
#include "DrawDoc.h"
#include "CurveViewer.h"
#include "HighObj.h"
#include "MultiLayerOperations.h"
#include "RoiContourOperations.h"
#include "RoiDerived.h"
#include "RoiDialogs.h"
#include "RoiLabelMapOperations.h"
#include "RoiMeasurements.h"
#include "RoiOperations.h"
#include "RoiRecords.h"
#include "RoiShapeOperations.h"
#include "RoiSignalOperations.h"
#include "RoiViewOperations.h"
#include "ScriptedUi.h"
#include "TwkMem.h"
#include "VectorRois.h"
#include "roi/RoiComponents.h"
#include "roi/RoiDistance.h"
#include "roi/RoiStatistics.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

using namespace twk::testkit;
using namespace twk::roiops;

namespace {

const wchar_t* const kAmbiguous =
    L"Ambiguous Layer Configuration.\nUse Layer Control dialog to remove, disable or activate the layers";

// A document with one set: an integer base layer and the given ROI layers, and a view.
struct Fixture {
  CDrawDoc doc;
  CountingView view;
  CDrawSet* set = nullptr;
  twk::ScriptedUi script;
  twk::ScopedUi installed{script};

  explicit Fixture(std::vector<std::pair<CVol*, bool>> rois, DIM3D dims = DIM3D{12, 10, 6, 1}) {
    std::vector<CDrawVol*> layers{makeLayer(makeVol(FRM_INT, dims.w, dims.h, dims.d, dims.t, L"base"))};
    for (auto& [vol, marked] : rois) layers.push_back(makeLayer(vol, marked));
    set = addSet(&doc, layers);
    doc.AddView(&view);
    set->AddViewProjection(&view);
  }
  ~Fixture() { doc.RemoveView(&view); }
  CVol* layer(int i) const { return set->GetLayerVol(i); }
};

CVol* roiVol(DIM3D dims, std::initializer_list<RECT3D> boxes, int t = 0, const wchar_t* name = L"roi") {
  CVol* vol = makeVol(FRM_ROI, dims.w, dims.h, dims.d, dims.t, name);
  for (const RECT3D& b : boxes) VA_VolFillBox(vol->frame, t, &b, true, 1.0);
  return vol;
}

int64_t voxels(const CVol* vol, int t = -1) {
  int64_t n = 0;
  VA_RoiNumVox(vol->frame, t, -1, &n);
  return n;
}

// A view that counts its invalidations (the redraw of the view alone).
struct InvalidationView : CountingView {
  void InvalidateClient() override { ++invalidations; }
  int invalidations = 0;
};

// The messages of the operation's first row run for a view without a document (no active set).
std::vector<CString> messagesWithoutSet(const char* operation, CDrawView* view = nullptr) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  InvalidationView alone;
  for (const TW_COMMAND_ROW* row : TW_CommandRows()) {
    if (!row->operation || std::strcmp(row->operation, operation) != 0) continue;
    const TW_COMMAND_CALL call = TW_MakeCommandCall(row, view ? view : &alone);
    EXPECT_EQ(call.set, nullptr);
    const TW_OPERATION_BINDING* binding = TW_FindBinding(operation);
    if (!binding) {
      ADD_FAILURE() << operation << " is not bound";
      return {};
    }
    binding->run(call);
    return script.messages;
  }
  ADD_FAILURE() << operation << " has no row";
  return {};
}

}  // namespace

TEST(RoiOperations, CommonOperandChecksShowBareMessages) {
  const DIM3D dims{12, 10, 6, 1};
  // Without an active set a row ends at once, changing nothing: silently for the holes,
  // "Operand is not present" for the filling.
  EXPECT_TRUE(messagesWithoutSet("CDrawSet::RoiExtractHoles3D").empty());
  const std::vector<CString> filling = messagesWithoutSet("CDrawSet::RoiFillContours2D");
  ASSERT_FALSE(filling.empty());
  EXPECT_EQ(filling.back(), CString(L"Operand is not present"));

  const struct {
    const char* what;
    std::vector<bool> marked;  // ROI layers and their marks
    CString message;
  } cases[] = {
      {"no ROI marked", {false}, L"ROI is not present or enabled"},
      {"two ROIs marked", {true, true}, kAmbiguous},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::pair<CVol*, bool>> rois;
    for (bool m : c.marked) rois.push_back({roiVol(dims, {{1, 1, 1, 3, 3, 3}}), m});
    Fixture f(rois);
    EXPECT_FALSE(RoiExtractMaxCC(*f.set, &f.view, false, false));
    EXPECT_EQ(f.script.lastMessage(), c.message);
    EXPECT_EQ(f.doc.UndoCount(), 0);
  }
}

TEST(RoiOperations, MaxComponentOf4DRoiChangesOnlyTheViewsTimePointWithUndo) {
  const DIM3D dims{12, 10, 6, 3};
  CVol* roi = roiVol(dims, {{0, 0, 0, 1, 1, 1}, {5, 5, 2, 9, 8, 4}}, 1);
  for (int t : {0, 2}) {
    const RECT3D small{0, 0, 0, 0, 0, 0};
    VA_VolFillBox(roi->frame, t, &small, true, 1.0);
  }
  Fixture f({{roi, true}}, dims);
  const FramePtr before(VA_VolClone(roi->frame));
  f.set->FindViewProjection(&f.view)->timeIndex = 1;
  ASSERT_TRUE(RoiExtractMaxCC(*f.set, &f.view, false, false));
  EXPECT_EQ(voxels(roi, 1), 5 * 4 * 3);
  EXPECT_EQ(voxels(roi, 0), 1);
  EXPECT_EQ(voxels(roi, 2), 1);
  EXPECT_TRUE(f.doc.IsModified());
  ASSERT_TRUE(f.doc.Undo());
  EXPECT_EQ(std::memcmp(roi->frame->data, before->data, PR_FrameMemSize(before.get())), 0);
}

TEST(RoiOperations, SeededComponentsNeedASeedAndKeepWhatTheSeedsTouch) {
  const DIM3D dims{12, 10, 6, 1};
  CVol* roi = roiVol(dims, {{0, 0, 0, 2, 2, 2}, {6, 5, 2, 9, 8, 4}});
  Fixture f({{roi, true}}, dims);
  const FramePtr before(VA_VolClone(roi->frame));
  EXPECT_FALSE(RoiExtractMaxCC(*f.set, &f.view, false, true));
  EXPECT_EQ(f.script.lastMessage(), CString(L"CDrawSet::RoiExtractMaxCC : At least one seed is expected"));
  // The undo record pushed first restores an identical ROI.
  ASSERT_EQ(f.doc.UndoCount(), 1);
  ASSERT_TRUE(f.doc.Undo());
  EXPECT_EQ(std::memcmp(roi->frame->data, before->data, PR_FrameMemSize(before.get())), 0);

  // A vector ROI over the smaller cube (x and y given in reverse order) keeps only that cube.
  auto* seed = new CDrawSet(&f.doc);
  seed->vroi = static_cast<HIGHOBJ*>(pf_calloc(sizeof(HIGHOBJ)));
  *seed->vroi = HIGHOBJ{};
  seed->vroi->kind = HIGHOBJ_VECTOR_ROI;
  seed->vroi->shape = HIGHOBJ_SHAPE_BOX;
  seed->vroi->owner = f.set;
  seed->vroi->x0 = 2;
  seed->vroi->x1 = 1;
  seed->vroi->y0 = 2;
  seed->vroi->y1 = 1;
  seed->vroi->z0 = 1;
  seed->vroi->z1 = 2;
  CDrawObj* obj = seed;
  f.doc.AddObject(&obj, true);
  ASSERT_TRUE(RoiExtractMaxCC(*f.set, &f.view, false, true));
  EXPECT_EQ(voxels(roi), 27);
  EXPECT_TRUE(twk::roiBit(roi->frame, 0, 0, 0, 0));
}

TEST(RoiOperations, PeelWithAllLayersChangesEveryRoiLayerWithOneUndoEach) {
  const DIM3D dims{12, 10, 6, 1};
  CVol* a = roiVol(dims, {{2, 2, 1, 8, 7, 4}});
  CVol* b = roiVol(dims, {{1, 1, 1, 9, 8, 4}}, 0, L"unmarked");
  Fixture f({{a, true}, {b, false}}, dims);
  ROIPEELGROW record = g_RoiPeelParms;
  record.allLayers = 1;
  f.script.answerValues({1.0, 1, 1, 1});
  ASSERT_TRUE(RoiPeelGrow(*f.set, true, record));
  EXPECT_EQ(f.script.messages.back(), CString(L"Peel ROI"));
  EXPECT_EQ(voxels(a), 5 * 4 * 2);
  EXPECT_EQ(voxels(b), 7 * 6 * 2);
  EXPECT_EQ(f.doc.UndoCount(), 2);

  // Cancelling the dialog changes nothing; grow asks under its own title.
  ROIPEELGROW grow = g_RoiGrowParms;
  f.script.cancelValues();
  EXPECT_FALSE(RoiPeelGrow(*f.set, true, grow));
  EXPECT_EQ(f.script.messages.back(), CString(L"Grow ROI"));
  EXPECT_EQ(voxels(a), 40);
  EXPECT_EQ(f.doc.UndoCount(), 2);
  // Grow by 1 voxel without the dialog: the operand only.
  ASSERT_TRUE(RoiPeelGrow(*f.set, false, grow));
  EXPECT_EQ(voxels(a), 40 + 2 * (5 * 4 + 5 * 2 + 4 * 2));
  EXPECT_EQ(voxels(b), 7 * 6 * 2);
}

TEST(RoiOperations, ClearSlicesTakesOneBasedRangesSwapsAndUndoes) {
  const DIM3D dims{8, 8, 6, 1};
  CVol* roi = roiVol(dims, {{0, 0, 0, 7, 7, 5}});
  Fixture f({{roi, true}}, dims);
  const int64_t all = voxels(roi);

  f.script.answerValues({1, 6});
  ASSERT_TRUE(RoiClearSlicesZ0Z1(*f.set, false));
  EXPECT_EQ(voxels(roi), all);
  EXPECT_EQ(f.script.prompts.back()[1].number, 6.0);  // offered 1 and the depth

  f.script.answerValues({0, 3});
  EXPECT_FALSE(RoiClearSlicesZ0Z1(*f.set, false));
  EXPECT_EQ(f.script.lastMessage(), CString(L"CDrawSet::RoiClearSlicesZ0Z1 : Z0,Z1 are outside allowed interval"));

  f.script.answerValues({5, 3});
  ASSERT_TRUE(RoiClearSlicesZ0Z1(*f.set, true));
  EXPECT_EQ(voxels(roi), all / 2);
  int64_t n = 0;
  VA_RoiNumVox(roi->frame, 0, 2, &n);
  EXPECT_EQ(n, 0);
  ASSERT_TRUE(f.doc.Undo());
  EXPECT_EQ(voxels(roi), all);
}

TEST(RoiOperations, SplittingThreeBlobsAddsThreeRegionsAndDropsTheSource) {
  const DIM3D dims{12, 10, 6, 1};
  CVol* roi = roiVol(dims, {{0, 0, 0, 1, 1, 1}, {5, 5, 0, 6, 6, 0}, {9, 0, 4, 11, 2, 5}});
  Fixture f({{roi, true}}, dims);
  ASSERT_TRUE(RoiSplitComponentsToLayers(*f.set));
  ASSERT_EQ(f.set->NumLayers(), 4);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(f.layer(i + 1)->name, FmtStr(L"region %u", unsigned(i)));
    EXPECT_EQ(f.set->GetLayer(i + 1)->opacity, 30);
    EXPECT_TRUE(f.layer(i + 1)->IsROI());
  }
  EXPECT_EQ(voxels(f.layer(1)), 8);
  EXPECT_EQ(voxels(f.layer(3)), 18);
}

TEST(RoiOperations, HolesNeedA3DRoi) {
  const DIM3D dims{8, 8, 4, 2};
  Fixture f({{roiVol(dims, {{1, 1, 1, 5, 5, 2}}), true}}, dims);
  EXPECT_FALSE(RoiExtractHoles3D(*f.set));
  EXPECT_EQ(f.script.lastMessage(), CString(L"CDrawSet::RoiExtractHoles3D : 3D ROI is required"));
  EXPECT_EQ(f.set->NumLayers(), 2);

  const DIM3D d3{8, 8, 5, 1};
  CVol* hollow = roiVol(d3, {{1, 1, 1, 5, 5, 3}});
  const RECT3D centre{3, 3, 2, 3, 3, 2};
  VA_VolFillBox(hollow->frame, 0, &centre, true, 0.0);
  Fixture g({{hollow, true}}, d3);
  ASSERT_TRUE(RoiExtractHoles3D(*g.set));
  ASSERT_EQ(g.set->NumLayers(), 3);
  EXPECT_EQ(voxels(g.layer(2)), 1);
}

TEST(RoiOperations, MeasurementsOfTwoRois) {
  // Cubes 10 mm apart in x on 0.625 x 0.8 x 2.5 mm voxels (16 voxels).
  const DIM3D dims{40, 12, 6, 1};
  CVol* a = roiVol(dims, {{2, 2, 1, 5, 5, 3}});
  CVol* b = roiVol(dims, {{18, 2, 1, 21, 5, 3}});
  for (CVol* v : {a, b}) v->spc = SPC{0.625, 0.8, 2.5};
  Fixture f({{a, true}, {b, true}}, dims);
  ASSERT_TRUE(RoiMassCenterDistance(*f.set));
  EXPECT_EQ(f.script.lastMessage(), CString(L"ROI mass center distance = 10"));

  // DICE: first run offers 1 and the depth; a bad range is refused but remembered.
  DiceSliceRange dice;
  f.script.answerValues({5, 3});
  EXPECT_FALSE(MeasureDICE_SelectSlices(*f.set, &f.view, dice));
  EXPECT_EQ(f.script.prompts.back()[0].number, 1.0);
  EXPECT_EQ(f.script.prompts.back()[1].number, 6.0);
  EXPECT_EQ(f.script.lastMessage(), CString(L"CDrawSet::MeasureDICE_SelectSlices : Invalid slice selection"));
  f.script.answerValues({1, 6});
  ASSERT_TRUE(MeasureDICE_SelectSlices(*f.set, &f.view, dice));
  EXPECT_EQ(f.script.prompts.back()[0].number, 5.0);
  EXPECT_EQ(f.script.lastMessage(), CString(L"DICE coefficient on slices [1,6] = 0.000000e+00"));

  ASSERT_TRUE(RoiHausdorffDistance(*f.set, false));
  // Farthest voxel 16 voxels away; on average 14.5 (13 to 16) voxels of 0.625 mm.
  EXPECT_EQ(f.script.lastMessage(), CString(L"Hausdorff distance =   10.000 mm\nAverage distance=   9.062 mm"));

  ASSERT_TRUE(RoiSurfaceWaveDistance(*f.set, false, false) == false);  // two ROIs marked: ambiguous
  EXPECT_EQ(f.script.lastMessage(), CString(kAmbiguous));
  f.set->SetLayerMarked(b, false);
  EXPECT_FALSE(RoiMassCenterDistance(*f.set));
  EXPECT_EQ(f.script.lastMessage(), CString(L"CDrawSet::RoiMassCenterDistance : Two ROIs are required"));
  ASSERT_TRUE(RoiSurfaceWaveDistance(*f.set, true, false));
  EXPECT_EQ(f.set->GetActiveVol()->name, CString(L"surface wave distance"));
  EXPECT_TRUE(f.set->GetActiveVol()->IsINT());
}


TEST(RoiSignalOperations, NormalizeRefusesAZeroDivisorAndZScoresTheRoi) {
  const DIM3D dims{10, 10, 4, 1};
  Fixture f({{roiVol(dims, {{0, 0, 0, 9, 9, 1}}), true}}, dims);
  uint32_t* v = reinterpret_cast<uint32_t*>(f.layer(0)->frame->data);
  for (int i = 0; i < 400; ++i) v[i] = uint32_t(i % 50);
  // Division by a coefficient of 0: a named message and no layer.
  f.script.answerValues({0, 0.0, 1.0});
  EXPECT_FALSE(NormalizeByROI(*f.set, &f.view));
  EXPECT_EQ(f.script.lastMessage(), CString(L"CDrawSet::NormalizeByROI : Normalization coefficient is zero"));
  EXPECT_EQ(f.set->NumLayers(), 2);
  // Z-score with the ROI's own standard deviation: the ROI's mean becomes 0.
  f.script.answerValues({1, 24.5, 14.430869689661812});
  ASSERT_TRUE(NormalizeByROI(*f.set, &f.view));
  EXPECT_EQ(f.script.prompts.back()[0].label.Find(L"0.000000e+00 / 4.900000e+01 / 2.450000e+01"), 30);
  ASSERT_EQ(f.set->NumLayers(), 3);
  CVol* normalized = f.layer(2);
  EXPECT_EQ(normalized->name, CString(L"normalized"));
  EXPECT_EQ(f.set->GetActiveVol(), normalized);
  VA_ROIINFO info;
  ASSERT_TRUE(VA_VolCalcRoiInfoCutPct(normalized->frame, 0, f.layer(1)->frame, 0, 0, 0, &info, false));
  EXPECT_NEAR(info.mean, 0.0, 1e-12);
  EXPECT_NEAR(info.stdev, 1.0, 1e-9);
}

TEST(RoiSignalOperations, ClipKeepsAnUndoRecordAndHidesTheRoi) {
  const DIM3D dims{10, 10, 4, 1};
  Fixture f({{roiVol(dims, {{0, 0, 0, 9, 9, 1}}), true}}, dims);
  CVol* vol = f.layer(0);
  uint32_t* v = reinterpret_cast<uint32_t*>(vol->frame->data);
  for (int i = 0; i < 400; ++i) v[i] = uint32_t(i % 50);
  f.script.answerValuesText({L"nan"});
  ASSERT_TRUE(VolumeClipByRoi(*f.set));
  EXPECT_EQ(v[399], VOID_INT_VALUE);  // transparent outside
  EXPECT_EQ(v[0], 0u);
  EXPECT_FALSE(f.set->GetLayer(1)->IsMarked());
  ASSERT_TRUE(f.doc.Undo());
  EXPECT_EQ(v[399], 399u % 50);
}

TEST(RoiSignalOperations, BandLinearConversionAndInversion) {
  const DIM3D dims{10, 10, 4, 1};
  Fixture f({{roiVol(dims, {{0, 0, 0, 9, 9, 1}}), true}}, dims);
  CVol* vol = f.layer(0);
  uint32_t* v = reinterpret_cast<uint32_t*>(vol->frame->data);
  for (int i = 0; i < 400; ++i) v[i] = i < 100 ? 10 : 20;  // ROI mean 15, SD 5
  // k = 0: the ROI voxels whose signal equals the mean, none here.
  f.script.answerValues({0.0});
  ASSERT_TRUE(BandOfAverageSignal(*f.set));
  EXPECT_EQ(f.script.prompts.back()[0].label, CString(L"Band Radius in StdDev (     5.0)"));
  EXPECT_EQ(voxels(f.layer(2)), 0);
  f.set->GetLayer(2)->SetMarked(false);  // one ROI operand again
  f.script.answerValues({1.0});
  ASSERT_TRUE(BandOfAverageSignal(*f.set));
  EXPECT_EQ(voxels(f.layer(3)), 200);  // clipped to the ROI: slices 0 and 1 only

  // No ROI marked: the whole volume is converted.
  for (int i = 2; i < f.set->NumLayers(); ++i) f.set->GetLayer(i)->SetMarked(false);
  f.set->GetLayer(1)->SetMarked(false);
  f.set->SetActive(0);
  f.script.answerValues({2.0, 1.0, 0.0, 30.0});
  ASSERT_TRUE(LinearConversionOverROI(*f.set));
  EXPECT_EQ(v[0], 21u);
  EXPECT_EQ(v[399], 30u);
  ASSERT_TRUE(InvertActiveLayer(*f.set));
  EXPECT_EQ(v[0], 30u);
  EXPECT_EQ(v[399], 21u);
  ASSERT_TRUE(f.doc.Undo());
  EXPECT_EQ(v[0], 21u);
}

TEST(RoiContourOperations, ContourEditsKeepAnUndoRecord) {
  const DIM3D dims{12, 12, 5, 1};
  CVol* roi = roiVol(dims, {{4, 4, 0, 6, 6, 0}, {2, 2, 4, 8, 8, 4}});
  Fixture f({{roi, true}}, dims);
  const int64_t drawn = voxels(roi);
  const struct {
    const char* what;
    bool (*run)(CDrawSet*);
    int64_t expected;
  } cases[] = {
      {"union cylinder", [](CDrawSet* s) { return RoiUnionCylinder2D(*s); }, 49 * 5},
      {"intersect cylinder", [](CDrawSet* s) { return RoiIntersectCylinder2D(*s); }, 9 * 5},
      {"morph convex", [](CDrawSet* s) { return RoiMorphConvex(*s, false); }, -1},
      {"arc morph", [](CDrawSet* s) { return RoiFillContoursArcMorph(*s); }, -1},
      {"convex hull", [](CDrawSet* s) { return RoiMakeConvex2D(*s); }, drawn},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int undo = f.doc.UndoCurrent();
    ASSERT_TRUE(c.run(f.set));
    CVol* now = f.layer(1);
    if (c.expected >= 0) EXPECT_EQ(voxels(now), c.expected);
    else EXPECT_GT(voxels(now), drawn);
    EXPECT_EQ(f.doc.UndoCurrent(), undo + 1);
    ASSERT_TRUE(f.doc.Undo());
    EXPECT_EQ(voxels(f.layer(1)), drawn);
  }
  // Salt and pepper through its dialog: a single voxel (pepper) goes; Cancel changes nothing.
  const RECT3D speck{11, 0, 2, 11, 0, 2};
  VA_VolFillBox(f.layer(1)->frame, 0, &speck, true, 1.0);
  f.script.cancelValues();
  EXPECT_FALSE(RoiRemoveSaltPepper(*f.set));
  EXPECT_EQ(voxels(f.layer(1)), drawn + 1);
  f.script.answerValues({1, 1, 4, 1, 4});
  ASSERT_TRUE(RoiRemoveSaltPepper(*f.set));
  EXPECT_EQ(f.script.messages.back(), CString(L"\"Salt & Pepper\" Artefact Removal"));
  EXPECT_EQ(voxels(f.layer(1)), drawn);
}

TEST(RoiDerivedOperations, SkeletonAsksForSlicesAndConversionTo4DKeepsTheLayersPlace) {
  const DIM3D dims{12, 12, 6, 1};
  CVol* roi = roiVol(dims, {{2, 2, 1, 9, 9, 4}}, 0, L"lesion");
  Fixture f({{roi, true}}, dims);
  f.script.answerMessage(IDYES);
  ASSERT_TRUE(RoiSkeleton(*f.set, &f.view, 0));
  EXPECT_EQ(f.set->GetActiveVol()->name, CString(L"skeleton"));
  EXPECT_EQ(f.script.messages[0], CString(L"Process each slice individually?"));
  f.set->GetActiveLayer()->SetMarked(false);
  ASSERT_TRUE(RoiSkeleton(*f.set, &f.view, 2));
  EXPECT_EQ(f.set->GetActiveVol()->name, CString(L"medial axis"));
  EXPECT_EQ(f.script.lastMessage().Left(26), CString(L"lesion : Average depth =  "));
  f.set->GetActiveLayer()->SetMarked(false);

  // 3D to 4D needs a 4D volume; with one the ROI keeps its place, name, colour and opacity.
  EXPECT_FALSE(RoiConvert3Dto4D(*f.set, &f.view));
  EXPECT_EQ(f.script.lastMessage(), CString(L"CDrawSet::RoiConvert3Dto4D : 4D volume is required"));
  const DIM3D dims4{12, 12, 6, 3};
  Fixture g({{roiVol(DIM3D{12, 12, 6, 1}, {{2, 2, 1, 4, 4, 2}}, 0, L"lesion"), true}}, dims4);
  g.set->GetLayer(1)->filter.roiColor = 0x00FF00;
  g.set->GetLayer(1)->opacity = 45;
  g.set->FindViewProjection(&g.view)->timeIndex = 2;
  ASSERT_TRUE(RoiConvert3Dto4D(*g.set, &g.view));
  ASSERT_EQ(g.set->NumLayers(), 2);
  CVol* four = g.layer(1);
  EXPECT_EQ(four->T(), 3);
  EXPECT_EQ(four->name, CString(L"lesion"));
  EXPECT_EQ(g.set->GetLayer(1)->filter.roiColor, 0x00FF00u);
  EXPECT_EQ(g.set->GetLayer(1)->opacity, 45);
  EXPECT_EQ(voxels(four, 2), 18);
  EXPECT_EQ(voxels(four, 0), 0);
}

TEST(LabelMapOperations, LabelMapAverageAndOnionPeel) {
  const DIM3D dims{12, 12, 6, 1};
  Fixture f({{roiVol(dims, {{1, 1, 1, 10, 10, 4}}), true}}, dims);
  // Onion peel: 1.4 layers round to 1 and add nothing; 2.6 round to 3 shells.
  f.script.answerValuesText({L"1.4", L"1.0"});
  EXPECT_FALSE(RoiOnionPeel(*f.set, nullptr));
  EXPECT_EQ(f.set->NumLayers(), 2);
  f.script.answerValuesText({L"2.6", L"1.0"});
  ASSERT_TRUE(RoiOnionPeel(*f.set, nullptr));
  ASSERT_EQ(f.set->NumLayers(), 5);
  EXPECT_EQ(voxels(f.layer(2)) + voxels(f.layer(3)) + voxels(f.layer(4)), voxels(f.layer(1)));
  EXPECT_EQ(voxels(f.layer(4)), 6 * 6 * 0);  // a 10 x 10 x 4 box is only 2 voxels deep in z

  // Label map of one marked ROI: one label.
  for (int i = 2; i < 5; ++i) f.set->GetLayer(i)->SetMarked(false);
  ASSERT_TRUE(CreateLabelMapFromROIs(*f.set));
  CVol* labels = f.layer(5);
  EXPECT_EQ(labels->name, CString(L"label map"));
  EXPECT_EQ(f.set->GetLayer(5)->opacity, 30);
  EXPECT_EQ(twk::voxelValue(labels->frame, 1, 1, 1, 0), 1.0);
  EXPECT_EQ(twk::voxelValue(labels->frame, 0, 0, 0, 0), 0.0);

  // Average of two ROIs normalised to 100, background transparent.
  f.set->GetLayer(2)->SetMarked(true);
  f.script.answerValuesText({L"100", L"-1"});
  ASSERT_TRUE(AverageRoiLayers(*f.set));
  CVol* average = f.set->GetActiveVol();
  EXPECT_EQ(average->name, CString(L"rois average"));
  EXPECT_EQ(twk::voxelValue(average->frame, 1, 1, 1, 0), 100.0);  // in both (surface shell)
  EXPECT_EQ(twk::voxelValue(average->frame, 5, 5, 2, 0), 50.0);   // deeper: only the box
  EXPECT_EQ(twk::voxelValue(average->frame, 0, 0, 0, 0), VOID_VALUE);
  EXPECT_EQ(f.set->GetActiveLayer()->filter.width, 100.0);

  for (int i = 0; i < f.set->NumLayers(); ++i) f.set->GetLayer(i)->SetMarked(false);
  EXPECT_FALSE(CreateLabelMapFromROIs(*f.set));
  EXPECT_EQ(f.script.lastMessage(), CString(L"CDrawSet::CreateLabelMapFromROIs : ROI is not present or enabled"));
}

TEST(RoiShapeOperations, ConcentricZonesBetweenTwoRois) {
  const DIM3D dims{21, 21, 3, 1};
  // The outer ROI first in layer order: the smaller one is the inner object all the same.
  Fixture f({{roiVol(dims, {{1, 1, 0, 19, 19, 2}}, 0, L"outer"), true},
             {roiVol(dims, {{8, 8, 0, 12, 12, 2}}, 0, L"inner"), true}},
            dims);
  f.script.answerValues({2});
  ASSERT_TRUE(MultipleZonesConcentricObjects(*f.set));
  ASSERT_EQ(f.set->NumLayers(), 4);
  const FRAME* zones = f.layer(3)->frame;
  EXPECT_EQ(f.set->GetLayer(3)->opacity, 50);
  EXPECT_EQ(twk::voxelValue(zones, 10, 10, 1, 0), 0.0);  // inside the inner ROI
  EXPECT_EQ(twk::voxelValue(zones, 7, 10, 1, 0), 1.0);   // next to it
  EXPECT_EQ(twk::voxelValue(zones, 1, 10, 1, 0), 2.0);   // near the outer surface
  EXPECT_EQ(twk::voxelValue(zones, 0, 0, 0, 0), 0.0);   // outside the outer ROI
  f.set->GetLayer(2)->SetMarked(false);
  f.script.answerValues({2});
  EXPECT_FALSE(MultipleZonesConcentricObjects(*f.set));
  EXPECT_EQ(f.script.lastMessage(), CString(L"CDrawSet::GetTwoMarkedROIs : Two ROIs are required"));
}

TEST(RoiShapeOperations, ClosingBrokenContoursBridgesGapsAndUndoes) {
  const DIM3D dims{16, 16, 2, 1};
  // A square outline 2..12 in slice 0 with a gap of two voxels in its top side.
  CVol* roi = roiVol(dims, {{2, 2, 0, 12, 2, 0}, {2, 12, 0, 12, 12, 0}, {2, 2, 0, 2, 12, 0}, {12, 2, 0, 12, 12, 0}});
  const RECT3D gap{6, 2, 0, 7, 2, 0};
  VA_VolFillBox(roi->frame, 0, &gap, true, 0.0);
  Fixture f({{roi, true}}, dims);
  const FramePtr before(VA_VolClone(roi->frame));
  for (const wchar_t* steps : {L"0", L"101"}) {
    f.script.answerValuesText({L"3", steps});
    EXPECT_FALSE(MorphologyCloseContours2D(*f.set));
    EXPECT_EQ(f.script.lastMessage(),
              CString(L"CDrawSet::MorphologyCloseContours2D : Num steps should be within [0,100] range"));
  }
  EXPECT_EQ(f.doc.UndoCount(), 0);
  f.script.answerValuesText({L"3", L"1"});
  ASSERT_TRUE(MorphologyCloseContours2D(*f.set));
  EXPECT_TRUE(twk::roiBit(roi->frame, 6, 2, 0, 0));   // the gap is bridged
  EXPECT_TRUE(twk::roiBit(roi->frame, 7, 7, 0, 0));   // and the square filled
  EXPECT_FALSE(twk::roiBit(roi->frame, 0, 0, 0, 0));
  EXPECT_EQ(voxels(roi, 0), 11 * 11);
  ASSERT_TRUE(f.doc.Undo());
  EXPECT_EQ(std::memcmp(roi->frame->data, before->data, PR_FrameMemSize(before.get())), 0);
}

namespace {

// A set of the given volume layers (all marked) in a document with one view.
struct LayersFixture {
  CDrawDoc doc;
  CountingView view;
  CDrawSet* set = nullptr;
  twk::ScriptedUi script;
  twk::ScopedUi installed{script};

  explicit LayersFixture(const std::vector<CVol*>& vols) {
    std::vector<CDrawVol*> layers;
    for (CVol* v : vols) layers.push_back(makeLayer(v));
    set = addSet(&doc, layers);
    doc.AddView(&view);
    set->AddViewProjection(&view);
  }
  ~LayersFixture() { doc.RemoveView(&view); }
};

CVol* realVol(DIM3D dims, const wchar_t* name, std::function<double(int, int, int)> value) {
  CVol* vol = makeVol(FRM_REAL, dims.w, dims.h, dims.d, dims.t, name);
  for (int z = 0; z < dims.d; ++z)
    for (int y = 0; y < dims.h; ++y)
      for (int x = 0; x < dims.w; ++x) twk::setVoxelValue(vol->frame, x, y, z, 0, value(x, y, z));
  return vol;
}

}  // namespace

TEST(MultiLayerOperations, TemplateSharpeningAndProbabilityAtlasCheckTheirLayers) {
  const DIM3D dims{6, 5, 3, 1};
  auto real = [&](double v) { return realVol(dims, L"p", [v](int x, int, int) { return x < 3 ? v : 1 - v; }); };
  auto labels = [&] {
    CVol* vol = makeVol(FRM_INT, dims.w, dims.h, dims.d, 1, L"atlas");
    for (int z = 0; z < dims.d; ++z)
      for (int y = 0; y < dims.h; ++y)
        for (int x = 0; x < dims.w; ++x) twk::setVoxelValue(vol->frame, x, y, z, 0, x < 3 ? 1 : 0);
    return vol;
  };
  const struct {
    const char* what;
    std::function<std::vector<CVol*>()> layers;
    const wchar_t* message;
  } refused[] = {
      {"three layers", [&] { return std::vector<CVol*>{real(0.2), labels(), real(0.3)}; },
       L"CDrawSet::SharpenTemplateUsingAtlas : Exactly two raster layers should be present"},
      {"wrong order", [&] { return std::vector<CVol*>{labels(), real(0.2)}; },
       L"CDrawSet::SharpenTemplateUsingAtlas : first layer should be real3D"},
      {"two real", [&] { return std::vector<CVol*>{real(0.2), real(0.3)}; },
       L"CDrawSet::SharpenTemplateUsingAtlas : second layer should be int3D"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.what);
    LayersFixture f(c.layers());
    const int before = f.set->NumLayers();
    EXPECT_FALSE(SharpenTemplateUsingAtlas(*f.set, false));
    EXPECT_EQ(f.script.lastMessage(), CString(c.message));
    EXPECT_EQ(f.set->NumLayers(), before);
  }
  {
    // The template varies inside label 1 (x < 3): it becomes its mean there.
    LayersFixture f({realVol(dims, L"t", [](int x, int y, int) { return x < 3 ? 10.0 * y : 7.0; }), labels()});
    ASSERT_TRUE(SharpenTemplateUsingAtlas(*f.set, false));
    CVol* sharp = f.set->GetLayerVol(2);
    EXPECT_EQ(sharp->name, CString(L"templ"));
    EXPECT_EQ(twk::voxelValue(sharp->frame, 1, 0, 0, 0), 20.0);
    EXPECT_EQ(twk::voxelValue(sharp->frame, 2, 4, 2, 0), 20.0);
    EXPECT_EQ(twk::voxelValue(sharp->frame, 4, 4, 2, 0), 7.0);
  }
  {
    LayersFixture f({labels(), real(0.2)});
    EXPECT_FALSE(CombineProbMapsToAtlas(*f.set, false));
    EXPECT_EQ(f.script.lastMessage(),
              CString(L"CDrawSet::CombineProbMapsToAtlas : At least two probability layers are required"));
  }
  {
    LayersFixture f({labels(), real(0.2), real(0.7)});
    ASSERT_TRUE(CombineProbMapsToAtlas(*f.set, false));
    CVol* atlas = f.set->GetLayerVol(3);
    EXPECT_EQ(atlas->name, CString(L"atlas"));
    EXPECT_EQ(twk::voxelValue(atlas->frame, 0, 0, 0, 0), 2.0);  // 0.7 > 0.2
    EXPECT_EQ(twk::voxelValue(atlas->frame, 5, 0, 0, 0), 1.0);  // 0.8 > 0.3
    EXPECT_TRUE(f.doc.IsModified());
  }
}

TEST(MultiLayerOperations, PrincipalComponentsOpenANewDocumentLastComponentFirst) {
  const DIM3D dims{7, 6, 4, 1};
  LayersFixture f({realVol(dims, L"a", [](int x, int y, int z) { return x + 0.3 * y + z * z; }),
                   realVol(dims, L"b", [](int x, int y, int) { return 2.0 * x - y; }),
                   realVol(dims, L"c", [](int x, int, int z) { return std::sin(x + z); })});
  f.script.answerValues({4});
  EXPECT_FALSE(VolMultilayerPCA(*f.set, false));
  EXPECT_EQ(f.script.lastMessage(), CString(L"CDrawSet::VolMultilayerPCA : Invalid number of components requested"));
  f.script.answerValues({2});
  ASSERT_TRUE(VolMultilayerPCA(*f.set, false));
  int count = 0;
  CDrawDoc** docs = TW_GetAllDocuments(&count);
  CDrawDoc* pca = nullptr;
  for (int i = 0; i < count; ++i)
    if (docs[i] != &f.doc) pca = docs[i];
  pf_free(&docs);
  ASSERT_TRUE(pca);
  std::unique_ptr<CDrawDoc> owned(pca);
  CDrawSet* set = pca->GetActiveSet();
  ASSERT_EQ(set->NumLayers(), 2);
  EXPECT_EQ(set->GetLayerVol(0)->name, CString(L"pca component #1"));
  EXPECT_EQ(set->GetLayerVol(1)->name, CString(L"pca component #0"));
  // The first component carries the most variance.
  VA_ROIINFO first, second;
  ASSERT_TRUE(VA_VolCalcRoiInfoCutPct(set->GetLayerVol(1)->frame, 0, nullptr, 0, 0, 0, &first, false));
  ASSERT_TRUE(VA_VolCalcRoiInfoCutPct(set->GetLayerVol(0)->frame, 0, nullptr, 0, 0, 0, &second, false));
  EXPECT_GT(first.variance, second.variance);
  EXPECT_NEAR(first.mean, 0.0, 1e-9);
}

TEST(MultiLayerOperations, JointHistogramChecksItsOperandsAndBins) {
  const DIM3D dims{8, 6, 3, 1};
  auto ramp = [&](const wchar_t* name) { return realVol(dims, name, [](int x, int, int) { return double(x); }); };
  {
    LayersFixture f({ramp(L"a")});
    EXPECT_FALSE(GenerateTwoLayerJointHist(*f.set));
    EXPECT_EQ(f.script.lastMessage(),
              CString(L"CDrawSet::GenerateTwoLayerJointHist : 2 or 3 enabled volume layers are required"));
  }
  {
    LayersFixture f({ramp(L"a"), roiVol(dims, {{0, 0, 0, 3, 5, 2}}), roiVol(dims, {{0, 0, 0, 1, 1, 1}})});
    EXPECT_FALSE(GenerateTwoLayerJointHist(*f.set));
    EXPECT_EQ(f.script.lastMessage(),
              CString(L"CDrawSet::GenerateTwoLayerJointHist : Two Non-Roi operands are expected"));
  }
  LayersFixture f({ramp(L"a"), ramp(L"b"), roiVol(dims, {{0, 0, 0, 3, 5, 2}})});
  for (double bins : {0.0, 1.0, 5000.0}) {
    f.script.answerValues({bins});
    EXPECT_FALSE(GenerateTwoLayerJointHist(*f.set));
    EXPECT_EQ(f.script.lastMessage(),
              CString(L"CDrawSet::GenerateTwoLayerJointHist : Number of bins should be within [2,4096] range"));
  }
  f.script.answerValues({4});
  ASSERT_TRUE(GenerateTwoLayerJointHist(*f.set));
  CDrawDoc* joint = nullptr;
  int count = 0;
  CDrawDoc** docs = TW_GetAllDocuments(&count);
  for (int i = 0; i < count; ++i)
    if (docs[i] != &f.doc) joint = docs[i];
  pf_free(&docs);
  ASSERT_TRUE(joint);
  std::unique_ptr<CDrawDoc> owned(joint);
  // Inside the ROI x runs 0..3 on both axes: the diagonal of a 4 x 4 histogram, 6 x 3 voxels each.
  const FRAME* h = joint->GetActiveSet()->GetLayerVol(0)->frame;
  ASSERT_EQ(h->dim.w, 4);
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) EXPECT_EQ(twk::voxelValue(h, i, j, 0, 0), i == j ? 18.0 : 0.0) << i << "," << j;
  EXPECT_TRUE(joint->IsModified());
}

TEST(MultiLayerOperations, UnclumpingTwoTouchingBallsGivesTwoRegionsOrOneAtlas) {
  const DIM3D dims{30, 16, 16, 1};
  auto makeBalls = [&] {
    CVol* balls = makeVol(FRM_ROI, dims.w, dims.h, dims.d, 1, L"balls");
    for (int z = 0; z < dims.d; ++z)
      for (int y = 0; y < dims.h; ++y)
        for (int x = 0; x < dims.w; ++x) {
          const double a = std::hypot(x - 8.0, y - 8.0, z - 8.0), b = std::hypot(x - 21.0, y - 8.0, z - 8.0);
          if (a < 7 || b < 7) twk::setRoiBit(balls->frame, x, y, z, 0, true);
        }
    return balls;
  };
  CVol* balls = makeBalls();
  const int64_t total = voxels(balls);
  {
    Fixture f({{makeBalls(), true}}, dims);
    f.script.answerValues({0});
    ASSERT_TRUE(RoiUnclumpComponents(*f.set, false, 0));
    CVol* atlas = f.layer(2);
    EXPECT_EQ(atlas->name, CString(L"base"));
    EXPECT_EQ(twk::voxelValue(atlas->frame, 8, 8, 8, 0) + twk::voxelValue(atlas->frame, 21, 8, 8, 0), 3.0);
    EXPECT_EQ(twk::voxelValue(atlas->frame, 0, 0, 0, 0), 0.0);
  }
  Fixture f({{balls, true}}, dims);
  f.script.answerValues({0});
  ASSERT_TRUE(RoiUnclumpComponents(*f.set, false, 1));
  const auto& shown = f.script.messages;
  EXPECT_NE(std::find(shown.begin(), shown.end(), CString(L"Number of Regions created 2")), shown.end());
  // The source ROI is gone; two regions of about equal size cover it.
  ASSERT_EQ(f.set->NumLayers(), 3);
  EXPECT_EQ(f.layer(1)->name, CString(L"region 0"));
  EXPECT_EQ(f.layer(2)->name, CString(L"region 1"));
  EXPECT_EQ(f.set->GetLayer(1)->opacity, 20);
  EXPECT_EQ(voxels(f.layer(1)) + voxels(f.layer(2)), total);
  EXPECT_NEAR(double(voxels(f.layer(1))), double(voxels(f.layer(2))), 0.05 * double(total));
  f.script.cancelValues();
  EXPECT_FALSE(RoiUnclumpComponents(*f.set, false, 1));
  EXPECT_EQ(f.set->NumLayers(), 3);
}
TEST(RoiOperations, RingProfilesAreCopiedAsATableAndPlottedAsMeanAndDeviation) {
  const DIM3D dims{12, 10, 6, 1};
  CVol* roi = roiVol(dims, {{1, 1, 0, 10, 8, 5}});
  Fixture f({{roi, true}}, dims);
  // Values grow towards the middle of the box, so the ring means rise inwards.
  for (int z = 0; z < 6; ++z)
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 12; ++x)
        twk::setVoxelValue(f.layer(0)->frame, x, y, z, 0, 100 - 3 * (std::abs(2 * x - 11) + std::abs(2 * y - 9)) + z);
  TW_CURVEVIEWER shown;
  std::vector<std::vector<double>> curves;
  TW_SetCurveViewerView([&](const TW_CURVEVIEWER& c) {
    shown = c;
    curves.assign(size_t(c.count), {});
    for (int i = 0; i < c.count; ++i) curves[size_t(i)].assign(c.curves[i], c.curves[i] + c.n);
    return true;
  });
  f.script.answerValues({1});
  ASSERT_TRUE(RoiRingProfiles(*f.set));
  TW_SetCurveViewerView(nullptr);
  double* expected[5] = {};
  int count = 0;
  ASSERT_TRUE(VA_RoiGetPeelProfile(f.layer(0)->frame, 0, roi->frame, 1, &expected[0], &expected[1], &expected[2],
                                   &expected[3], &expected[4], &count, false));
  ASSERT_GE(count, 2);
  EXPECT_LT(expected[0][0], expected[0][count - 1]);
  CString table;
  const wchar_t* rows[5] = {L"Mean", L"Stdev", L"Skew", L"Kurt", L"Median"};
  for (int r = 0; r < 5; ++r) {
    table += rows[r];
    for (int k = 0; k < count; ++k) table += FmtStr(L"\t %8.5lf", expected[r][k]);
    table += L"\n";
  }
  char* clip = PR_LoadStrFromClipboard();
  ASSERT_TRUE(clip);
  EXPECT_EQ(CString(clip), table);
  pf_free(&clip);
  EXPECT_EQ(shown.title, CString(L"ROI concentric Ring Profiles"));
  EXPECT_EQ(shown.valueName, CString(L"Mean"));
  EXPECT_EQ(shown.argName, CString(L"LayerInx"));
  ASSERT_EQ(curves.size(), 2u);
  ASSERT_EQ(shown.n, count);
  for (int k = 0; k < count; ++k) {
    EXPECT_EQ(curves[0][size_t(k)], expected[0][k]);
    EXPECT_EQ(curves[1][size_t(k)], expected[1][k]);
  }
  for (double*& p : expected) pf_free(&p);
  // A step below one voxel is refused by name; cancelling the prompt ends quietly.
  f.script.answerValues({0});
  EXPECT_FALSE(RoiRingProfiles(*f.set));
  EXPECT_EQ(f.script.lastMessage(), CString(L"VA_RoiGetPeelProfile : Layer step should be positive"));
  f.script.cancelValues();
  EXPECT_FALSE(RoiRingProfiles(*f.set));
}

TEST(RoiDialogs, LungSegmentationDialogWritesBothRecordsOnOkOnly) {
  twk::ScriptedUi script;
  twk::ScopedUi installed{script};
  VA_SEGLUNG4D lung;
  VA_SEGTRACHEA4D trachea;
  // Silent: the records keep their values.
  ASSERT_TRUE(TW_DlgLungSeg4D(&lung, &trachea, true));
  EXPECT_EQ(lung.smoothRadius, 4.0);
  EXPECT_EQ(lung.internal4, 3);
  // Cancel writes nothing.
  script.cancelValues();
  EXPECT_FALSE(TW_DlgLungSeg4D(&lung, &trachea, false));
  EXPECT_EQ(lung.biasFieldPrecision, 200.0);
  // The sixteen controls in order; flags stored as 1, the fields the dialog does not show kept.
  script.answerValues({1, 50, 8, 1000, 400, 0.6, 12, 7, 1, 0, 1, 25, 9, 0.2, 4, 1});
  ASSERT_TRUE(TW_DlgLungSeg4D(&lung, &trachea, false));
  EXPECT_EQ(script.messages.back(), CString(L"Lung and Trachea Segmentation 4D"));
  EXPECT_EQ(lung.nonuniformityCorrection, 1);
  EXPECT_EQ(lung.biasFieldPrecision, 50.0);
  EXPECT_EQ(lung.smoothRadius, 8.0);
  EXPECT_EQ(lung.airThreshold, 1000.0);
  EXPECT_EQ(lung.bodyFilterRadius, 400.0);
  EXPECT_EQ(lung.bodyFilterThreshold, 0.6);
  EXPECT_EQ(lung.lungSplit, 12.0);
  EXPECT_EQ(lung.minLungThickness, 7.0);
  EXPECT_EQ(lung.correctFringes, 1);
  EXPECT_EQ(lung.excludeTrachea, 0);
  EXPECT_EQ(lung.outputLungMask, 1);
  EXPECT_EQ(lung.internal0, 40.0);
  EXPECT_EQ(lung.internal5, 6.0);
  EXPECT_EQ(trachea.centralZoneWidth, 25.0);
  EXPECT_EQ(trachea.adaptiveFilterRadius, 9.0);
  EXPECT_EQ(trachea.filterThreshold, 0.2);
  EXPECT_EQ(trachea.minRadius, 4.0);
  EXPECT_EQ(trachea.outputTracheaMask, 1);
}

TEST(RoiCommandRows, RowsOfTheRoiOperationsRunThem) {
  // Every row of these operations is available; FLEXR's morph waits for its engine.
  for (const char* operation :
       {"CDrawSet::RoiExtractMaxCC", "CDrawSet::RoiPeelGrow", "CDrawSet::RoiSkeleton", "CDrawSet::NormalizeByROI",
        "CDrawSet::RoiUnclumpComponents", "CDrawSet::GenerateTwoLayerJointHist", "CDrawSet::VolMultilayerPCA",
        "CDrawSet::MultipleZonesConcentricObjects", "CDrawSet::MorphologyCloseContours2D",
        "CDrawSet::RoiHausdorffDistance", "CDrawSet::RoiRingProfiles"}) {
    SCOPED_TRACE(operation);
    int rows = 0;
    for (const TW_COMMAND_ROW* row : TW_CommandRows())
      if (row->operation && std::strcmp(row->operation, operation) == 0) {
        ++rows;
        EXPECT_TRUE(TW_RowAvailable(row)) << row->path;
      }
    EXPECT_GT(rows, 0);
  }
  for (const TW_COMMAND_ROW* row : TW_CommandRows()) {
    if (row->operation && std::strcmp(row->operation, "CDrawSet::FlexrRoiMorph") == 0) {
      EXPECT_FALSE(TW_RowAvailable(row));
    }
  }

  // "Max Connected Component 3D" through its row keeps the larger box; "Peel (all timepoints)"
  // shows its dialog on the row's record (cancelled here: nothing changes).
  const DIM3D dims{12, 10, 6, 1};
  CVol* roi = roiVol(dims, {{0, 0, 0, 1, 1, 1}, {5, 5, 2, 9, 8, 4}});
  Fixture f({{roi, true}}, dims);
  int maxCC = 0, peel = 0;
  for (const TW_COMMAND_ROW* row : TW_CommandRows()) {
    const std::string path = row->path ? row->path : "";
    if (path == "Morphology > Max Connected Component 3D") maxCC = row->id;
    if (path == "Morphology > Peel (all timepoints)") peel = row->id;
  }
  ASSERT_TRUE(TW_DispatchCommand(maxCC, &f.view));
  EXPECT_EQ(voxels(roi), 5 * 4 * 3);
  f.script.cancelValues();
  ASSERT_TRUE(TW_DispatchCommand(peel, &f.view));
  EXPECT_EQ(voxels(roi), 5 * 4 * 3);
}

TEST(RoiCommandRows, WithoutAnActiveSetEachRowSaysWhatItsOperandCheckSays) {
  const CString missing = L"Operand is not present";
  const CString volume = L"Volumetric Entity is required";
  const struct {
    const char* operation;
    std::vector<CString> messages;
  } cases[] = {
      {"CDrawSet::RoiExtractMaxCC", {missing}},
      {"CDrawSet::RoiFillContours2D", {missing}},
      {"CDrawSet::RoiPeelGrow", {missing}},
      {"CDrawSet::RoiMakeConvex2D", {missing}},
      {"CDrawSet::RoiFillContoursArcMorph", {missing}},
      {"CDrawSet::RoiMorphConvex", {missing}},
      {"CDrawSet::RoiRemoveSaltPepper", {missing}},
      {"CDrawSet::RoiUnionCylinder2D", {missing}},
      {"CDrawSet::RoiIntersectCylinder2D", {missing}},
      {"CDrawSet::RoiExtractHoles3D", {}},
      {"CDrawSet::RoiConvert3Dto4D", {missing, L"CDrawSet::RoiConvert3Dto4D : 3D ROI is required"}},
      {"CDrawSet::RoiSkeleton", {}},
      {"CDrawSet::BandOfAverageSignal", {missing}},
      {"CDrawSet::LinearConversionOverROI", {}},
      {"CDrawSet::NormalizeByROI", {missing}},
      {"CDrawSet::VolumeClipByRoi", {missing}},
      {"CDrawSet::InvertActiveLayer", {}},
      {"CDrawSet::NodVolume", {missing}},
      {"CDrawSet::RoiSplitComponentsToLayers", {volume}},
      {"CDrawSet::CreateLabelMapFromROIs", {}},
      {"CDrawSet::AverageRoiLayers", {}},
      {"CDrawSet::RoiOnionPeel", {}},
      {"CDrawSet::SharpenTemplateUsingAtlas", {}},
      {"CDrawSet::CombineProbMapsToAtlas", {}},
      {"CDrawSet::VolMultilayerPCA", {}},
      {"CDrawSet::GenerateTwoLayerJointHist", {}},
      {"CDrawSet::RoiUnclumpComponents", {volume}},
      {"CDrawSet::RoiOptimalZoom", {missing, L"CDrawSet::RoiOptimalZoom : ROI is not present or enabled"}},
      {"CDrawSet::RoiEncloseCCByVectRois", {missing}},
      {"CDrawSet::DetectBodyMask", {}},
      {"CDrawSet::RoiClearSlicesZ0Z1", {}},
      {"CDrawSet::RoiPeelGrowExternal", {}},
      {"CDrawSet::MultipleZonesConcentricObjects", {}},
      {"CDrawSet::MorphologyCloseContours2D", {}},
      {"CDrawSet::RoiMassCenterDistance", {L"CDrawSet::RoiMassCenterDistance : Two ROIs are required"}},
      {"CDrawSet::MeasureDICE_SelectSlices", {L"CDrawSet::MeasureDICE_SelectSlices : Two ROIs are required"}},
      {"CDrawSet::RoiHausdorffDistance", {L"CDrawSet::RoiHausdorffDistance : Two ROIs are required"}},
      {"CDrawSet::RoiSplitUsingHist", {}},
      {"CDrawSet::RoiRingProfiles", {}},
      {"CDrawSet::RoiSurfaceWaveDistance", {missing}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.operation);
    EXPECT_EQ(messagesWithoutSet(c.operation), c.messages);
  }
  // The zoom still redraws its view.
  InvalidationView view;
  messagesWithoutSet("CDrawSet::RoiOptimalZoom", &view);
  EXPECT_EQ(view.invalidations, 1);
}

TEST(RoiCommandRows, TheDiceRowOffersTheRangeLastEntered) {
  const DIM3D dims{12, 10, 6, 1};
  Fixture f({{roiVol(dims, {{2, 2, 1, 5, 5, 3}}), true}, {roiVol(dims, {{3, 2, 1, 6, 5, 3}}), true}}, dims);
  int dice = 0;
  for (const TW_COMMAND_ROW* row : TW_CommandRows())
    if (row->operation && std::strcmp(row->operation, "CDrawSet::MeasureDICE_SelectSlices") == 0) dice = row->id;
  ASSERT_NE(dice, 0);
  // An invalid range is remembered all the same.
  f.script.answerValues({4, 2});
  ASSERT_TRUE(TW_DispatchCommand(dice, &f.view));
  EXPECT_EQ(f.script.lastMessage(), CString(L"CDrawSet::MeasureDICE_SelectSlices : Invalid slice selection"));
  f.script.answerValues({2, 3});
  ASSERT_TRUE(TW_DispatchCommand(dice, &f.view));
  EXPECT_EQ(f.script.prompts.back()[0].number, 4.0);
  EXPECT_EQ(f.script.prompts.back()[1].number, 2.0);
  EXPECT_NE(f.script.lastMessage().Find(L"DICE coefficient on slices [2,3] = "), -1);
  f.script.cancelValues();
  ASSERT_TRUE(TW_DispatchCommand(dice, &f.view));
  EXPECT_EQ(f.script.prompts.back()[0].number, 2.0);
  EXPECT_EQ(f.script.prompts.back()[1].number, 3.0);
}

TEST(RoiSignalOperations, NoduleVolumeChecksItsOperandsAndReportsWithoutTabs) {
  const DIM3D dims{12, 10, 6, 1};
  // A 4D signal volume is refused before the dialog.
  {
    Fixture f({{roiVol(DIM3D{12, 10, 6, 2}, {{2, 2, 1, 8, 7, 4}}), true}}, DIM3D{12, 10, 6, 2});
    EXPECT_FALSE(NodVolume(*f.set, true));
    EXPECT_EQ(f.script.lastMessage(), CString(L"CDrawSet::NodVolume : 3D volume is required"));
  }
  Fixture f({{roiVol(dims, {{2, 2, 1, 8, 7, 4}}), true}}, dims);
  for (int i = 0; i < 12 * 10 * 6; ++i) twk::setVoxelValue(f.layer(0)->frame, i % 12, (i / 12) % 10, i / 120, 0, 300);
  const RECT3D core{4, 4, 2, 6, 5, 3};
  VA_VolFillBox(f.layer(0)->frame, 0, &core, true, 1020.0);
  // The dialog: cancelled, nothing happens; an attenuation of 820.9 is stored as 820.
  f.script.cancelValues();
  EXPECT_FALSE(NodVolume(*f.set, true));
  const VA_VOLNODEPARM saved = g_NodVolParms;
  f.script.answerValues({300, 620, 1020, 820.9, 7.5, 0.2, 0.8, 1.5});
  ASSERT_TRUE(NodVolume(*f.set, true));
  EXPECT_EQ(g_NodVolParms.threshold, 820);
  // The report without tabs, the values on the clipboard.
  EXPECT_NE(f.script.lastMessage().Find(L"Volume (mm3)=12.00\n"), -1) << f.script.lastMessage().toUtf8();
  EXPECT_EQ(f.script.lastMessage().Find(L"\t"), -1);
  char* clip = PR_LoadStrFromClipboard();
  ASSERT_TRUE(clip);
  EXPECT_EQ(std::string(clip).find("12.000\t"), std::string(clip).find('\n') + 1);
  pf_free(&clip);
  f.script.answerValues({300, 620, 1020, 820, 7.5, 0.2, 0.8, 1.5});
  ASSERT_TRUE(NodVolume(*f.set, false));
  EXPECT_NE(f.script.lastMessage().Find(L"Iterations="), -1);
  g_NodVolParms = saved;
}

TEST(RoiViewOperations, EnclosingComponentsByVectorRoisOnceAndZoomingOntoTheRoi) {
  const DIM3D dims{12, 10, 6, 1};
  CVol* roi = roiVol(dims, {{0, 0, 0, 1, 1, 1}, {5, 4, 2, 9, 8, 4}});
  Fixture f({{roi, true}}, dims);
  ASSERT_TRUE(RoiEncloseCCByVectRois(*f.set, &f.view));
  EXPECT_EQ(f.script.lastMessage(), CString(L"2 VROIs were created"));
  int count = 0;
  CDrawSet** made = TW_CollectVectRoiObjects(f.set, &count);
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(made[1]->vroi->label, "cc_1_t0");
  EXPECT_EQ(made[1]->vroi->x1, 10.0);  // one past the last voxel
  pf_free(&made);
  // The view shows the larger box's middle slice.
  EXPECT_EQ(f.set->FindViewProjection(&f.view)->slice, 3);
  // Again: every component has its vector ROI already.
  ASSERT_TRUE(RoiEncloseCCByVectRois(*f.set, &f.view));
  EXPECT_EQ(f.script.lastMessage(),
            CString(L"No new VROIs were created because matching VROI instances were present"));

  // Zoom whole extent: the ROI's middle slice; without an ROI two messages.
  f.set->FindViewProjection(&f.view)->slice = 0;
  ASSERT_TRUE(RoiOptimalZoom(*f.set, &f.view));
  EXPECT_EQ(f.set->FindViewProjection(&f.view)->slice, 2);
  f.set->GetLayer(1)->SetMarked(false);
  f.script.clear();
  EXPECT_FALSE(RoiOptimalZoom(*f.set, &f.view));
  ASSERT_EQ(f.script.messages.size(), 2u);
  EXPECT_EQ(f.script.messages[0], CString(L"ROI is not present or enabled"));
  EXPECT_EQ(f.script.messages[1], CString(L"CDrawSet::RoiOptimalZoom : ROI is not present or enabled"));
}
