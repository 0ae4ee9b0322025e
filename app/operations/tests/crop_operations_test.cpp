// Crops into new documents against numpy slicing: by a 4D vector ROI (one layer or all, with the
// other vector ROIs that meet the box), by time points, the current slice and a 4D volume split into
// layers; the names and views of the new documents; the seeds of seeded operations; the restriction
// of a vector ROI to a crop.
#include <gtest/gtest.h>

#include <cstring>

#include "CropOperations.h"
#include "HighObj.h"
#include "OperationHelpers.h"
#include "OperationsTestKit.h"
#include "ScriptedUi.h"
#include "VectorRois.h"

using namespace twk::optest;

namespace {

// 16-bit voxels x + 10y + 100z + 1000t of 6 x 5 x 4 x 3, times 0, 10, 20.
CVol* grid4D(const wchar_t* name = L"/data/grid.nii") {
  return makeVolume(FRM_INT, 16, DIM3D{6, 5, 4, 3}, [](int x, int y, int z, int t) { return x + 10 * y + 100 * z + 1000 * t; },
                    name);
}
CVol* roi3D() {
  return makeVolume(FRM_ROI, 1, DIM3D{6, 5, 4, 1}, [](int x, int y, int, int) { return x > y ? 1 : 0; },
                    L"/data/mask.im");
}

std::vector<int> shapeOf(const FRAME* f) { return {f->dim.t, f->dim.d, f->dim.h, f->dim.w}; }

std::string narrow(const CString& s) { return s.toUtf8(); }

}  // namespace

TEST(CropOperations, TimePointsAreCheckedAndNothingIsMadeOnARefusal) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(grid4D())});
  CDrawSet* set = doc->GetActiveSet();
  CDrawView* view = Documents::viewOf(doc);
  const struct {
    const char* text;
    bool keep;
    const wchar_t* message;
  } cases[] = {
      {"1,2,3", false, L"CDrawSet::CropSpecifiedDynPnts : No dynamic points present"},
      {"0,2", true, L"CDrawSet::CropSpecifiedDynPnts : Invalid dynamic points"},
      {"4", false, L"CDrawSet::CropSpecifiedDynPnts : Invalid dynamic points"},
      {"one", true, nullptr},  // a text that is no list ends silently
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ui.clear();
    const int before = Documents::openCount();
    ui.answerValuesText({CString::fromUtf8(c.text)});
    EXPECT_FALSE(twk::ops::CropSpecifiedDynPnts(*set, view, nullptr, c.keep, false));
    EXPECT_EQ(ui.prompts[0][0].label, L"Enter dynamic indices (base 1) separated by commas");
    if (c.message) {
      EXPECT_EQ(ui.lastMessage(), c.message);
    } else {
      EXPECT_EQ(ui.messages.size(), 1u);
    }
    EXPECT_EQ(Documents::openCount(), before);
  }
  // No marked layer: nothing is made, no document shows.
  set->GetLayer(0)->SetMarked(false);
  const int before = Documents::openCount();
  EXPECT_FALSE(twk::ops::CropSpecifiedDynPnts(*set, view, nullptr, true, true));
  EXPECT_EQ(Documents::openCount(), before);
}

TEST(CropOperations, ExtractedTimePointsEqualNumpyAndTheViewKeepsItsTime) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CVol* vol = grid4D();
  const std::vector<double> source = voxels(vol->frame);
  const std::vector<int> shape = shapeOf(vol->frame);
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol), twk::testkit::makeLayer(roi3D())});
  CDrawSet* set = doc->GetActiveSet();
  CDrawView* view = Documents::viewOf(doc);
  set->FindViewProjection(view)->timeIndex = 2;  // time 20
  const int before = Documents::openCount();
  ui.answerValuesText({L"1, 3"});
  ASSERT_TRUE(twk::ops::CropSpecifiedDynPnts(*set, view, nullptr, true, false)) << ui.lastMessage().toUtf8();
  const std::vector<CDrawDoc*> made = Documents::openedAfter(before);
  ASSERT_EQ(made.size(), 1u);
  CDrawSet* cropped = made[0]->GetActiveSet();
  ASSERT_EQ(cropped->NumLayers(), 2);
  EXPECT_EQ(voxels(cropped->GetLayerVol(0)->frame), numpyReference(source, shape, "float64", "a[[0, 2]]"));
  EXPECT_EQ(cropped->GetLayerVol(1)->T(), 1);  // the 3D ROI comes whole
  EXPECT_TRUE(narrow(cropped->GetLayerVol(1)->name).ends_with("mask_cropped")) << narrow(cropped->GetLayerVol(1)->name);
  EXPECT_TRUE(narrow(made[0]->GetPathName()).ends_with("/source_cropped.twk")) << narrow(made[0]->GetPathName());
  // The new view shows the middle slice and the time point with the source's time (20 s).
  const VA_VOLPROJ* record = cropped->FindViewProjection(Documents::viewOf(made[0]));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->slice, 2);
  EXPECT_EQ(record->timeIndex, 1);
  // Removing time point 2 keeps 1 and 3, in order.
  ui.answerValuesText({L"2"});
  const int next = Documents::openCount();
  EXPECT_FALSE(twk::ops::CropSpecifiedDynPnts(*set, view, nullptr, false, false));  // the name is taken by the open crop
  EXPECT_EQ(Documents::openCount(), next);
  docs.close(made[0]);
  ui.answerValuesText({L"2"});
  ASSERT_TRUE(twk::ops::CropSpecifiedDynPnts(*set, view, nullptr, false, false)) << ui.lastMessage().toUtf8();
  const std::vector<CDrawDoc*> again = Documents::openedAfter(next - 1);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(voxels(again[0]->GetActiveSet()->GetLayerVol(0)->frame),
            numpyReference(source, shape, "float64", "a[[0, 2]]"));
}

TEST(CropOperations, CurrentSliceAndSplitIntoLayers) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CVol* vol = grid4D();
  const std::vector<double> source = voxels(vol->frame);
  const std::vector<int> shape = shapeOf(vol->frame);
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol), twk::testkit::makeLayer(roi3D())});
  CDrawSet* set = doc->GetActiveSet();
  CDrawView* view = Documents::viewOf(doc);
  VA_VOLPROJ* record = set->FindViewProjection(view);
  // Film view is refused.
  record->filmView = 1;
  EXPECT_FALSE(twk::ops::CropCurrentSlice(*set, view));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::CropCurrentSlice : Film View is not allowed");
  record->filmView = 0;
  record->slice = 1;
  int before = Documents::openCount();
  ASSERT_TRUE(twk::ops::CropCurrentSlice(*set, view)) << ui.lastMessage().toUtf8();
  std::vector<CDrawDoc*> made = Documents::openedAfter(before);
  ASSERT_EQ(made.size(), 1u);
  CDrawSet* slice = made[0]->GetActiveSet();
  ASSERT_EQ(slice->NumLayers(), 2);
  EXPECT_EQ(slice->GetLayerVol(0)->D(), 1);
  EXPECT_EQ(slice->GetLayerVol(1)->D(), 1);
  EXPECT_EQ(made[0]->GetTitle(), L"grid slice2.twk");
  EXPECT_TRUE(narrow(slice->GetLayerVol(1)->name).ends_with("mask slice2")) << narrow(slice->GetLayerVol(1)->name);
  EXPECT_EQ(voxels(slice->GetLayerVol(0)->frame), numpyReference(source, shape, "float64", "a[:, 1:2]"));

  // Split: one layer per time point, the 3D ROI whole.
  before = Documents::openCount();
  ASSERT_TRUE(twk::ops::Split4DToLayers(*set, view));
  made = Documents::openedAfter(before);
  ASSERT_EQ(made.size(), 1u);
  CDrawSet* split = made[0]->GetActiveSet();
  ASSERT_EQ(split->NumLayers(), 4);
  EXPECT_TRUE(narrow(made[0]->GetPathName()).ends_with("/source_layers.twk"));
  const char* names[] = {nullptr, "grid_t1", "grid_t2", "mask"};
  for (int t = 0; t < 3; ++t) {
    SCOPED_TRACE(t);
    EXPECT_EQ(voxels(split->GetLayerVol(t)->frame),
              numpyReference(source, shape, "float64", "a[" + std::to_string(t) + "]"));
    if (names[t]) {
      EXPECT_TRUE(narrow(split->GetLayerVol(t)->name).ends_with(names[t])) << narrow(split->GetLayerVol(t)->name);
    }
  }
  EXPECT_TRUE(narrow(split->GetLayerVol(3)->name).ends_with(names[3])) << narrow(split->GetLayerVol(3)->name);
  EXPECT_TRUE(split->GetLayerVol(3)->IsROI());
}

TEST(CropOperations, VectorRoiCropEqualsNumpySlicingAndCarriesTheOtherBoxes) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CVol* vol = grid4D();
  const std::vector<double> source = voxels(vol->frame);
  const std::vector<int> shape = shapeOf(vol->frame);
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(vol), twk::testkit::makeLayer(roi3D())});
  CDrawSet* set = doc->GetActiveSet();
  CDrawView* view = Documents::viewOf(doc);
  // Without a vector ROI: its message, nothing made.
  int before = Documents::openCount();
  EXPECT_EQ(twk::ops::VolumeCrop(*view, true, nullptr, nullptr, true), nullptr);
  EXPECT_EQ(ui.lastMessage(), L"CDrawView::OperVectRoi : 4D Vector ROI is required");
  EXPECT_EQ(Documents::openCount(), before);
  // The crop box: voxels x 1..2, y 1..3, z 0, time points 1..2; a second box half inside it.
  const double crop[6] = {1, 1, 0, 3, 4, 1};
  const double other[6] = {2, 0, 0, 6, 2, 1};
  ASSERT_TRUE(TW_CreateVectRoiFromLabel(set, crop, 1, 2, "box"));
  ASSERT_TRUE(TW_CreateVectRoiFromLabel(set, other, 0, 2, "other"));
  CDrawObj* box = doc->objects[1];
  // Two vector ROIs, none selected: which one is not known.
  EXPECT_EQ(twk::ops::VolumeCrop(*view, true, nullptr, nullptr, true), nullptr);
  EXPECT_EQ(ui.lastMessage(), L"CDrawView::OperVectRoi : More than one Vector ROI is present and none selected");
  doc->SetSelection({box});
  CDrawDoc* cropped = twk::ops::VolumeCrop(*view, true, nullptr, nullptr, true);
  ASSERT_NE(cropped, nullptr);
  EXPECT_EQ(cropped->GetTitle(), L"grid_cropped.twk");
  CDrawSet* result = cropped->GetActiveSet();
  ASSERT_EQ(result->NumLayers(), 2);
  EXPECT_EQ(voxels(result->GetLayerVol(0)->frame), numpyReference(source, shape, "float64", "a[1:3, 0:1, 1:4, 1:3]"));
  EXPECT_EQ(result->GetLayerVol(1)->T(), 1);
  EXPECT_TRUE(narrow(result->GetLayerVol(1)->name).ends_with("mask_cropped"));
  // The other box comes along, clipped into the crop's coordinates, without its label.
  int count = 0;
  CDrawSet** carried = TW_CollectVectRoiObjects(result, &count);
  ASSERT_EQ(count, 1);
  const HIGHOBJ* r = carried[0]->vroi;
  EXPECT_STREQ(r->label, "");
  EXPECT_EQ(r->x0, 1);
  EXPECT_EQ(r->x1, 2);
  EXPECT_EQ(r->y0, 0);
  EXPECT_EQ(r->y1, 1);
  EXPECT_EQ(r->t0, 0);
  EXPECT_EQ(r->t1, 1);
  pf_free(&carried);
  // The active layer alone.
  docs.close(cropped);
  set->SetActive(1);
  cropped = twk::ops::VolumeCrop(*view, false, nullptr, L"_roi", true);
  ASSERT_NE(cropped, nullptr);
  ASSERT_EQ(cropped->GetActiveSet()->NumLayers(), 1);
  EXPECT_TRUE(cropped->GetActiveSet()->GetLayerVol(0)->IsROI());
}

TEST(VectorRois, IntersectionWithACropBox) {
  const int32_t limits[8] = {10, 10, 0, 19, 19, 4, 2, 5};  // x, y 10..19, z 0..4, t 2..5
  const struct {
    const char* what;
    double box[6];
    int t0, t1;
    bool meets;
    double out[6];
    int o0, o1;
  } cases[] = {
      {"inside", {12, 12, 1, 14, 15, 2}, 3, 4, true, {2, 2, 1, 4, 5, 2}, 1, 2},
      {"straddling", {5, 15, 0, 12, 30, 9}, 0, 9, true, {0, 5, 0, 2, 10, 5}, 0, 3},
      {"beyond the upper x bound + 1", {21, 12, 0, 25, 14, 1}, 2, 3, false, {}, 0, 0},
      {"before the time range", {12, 12, 0, 14, 14, 1}, 0, 1, false, {}, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HIGHOBJ r;
    r.kind = HIGHOBJ_VECTOR_ROI;
    r.x0 = c.box[0], r.y0 = c.box[1], r.z0 = c.box[2], r.x1 = c.box[3], r.y1 = c.box[4], r.z1 = c.box[5];
    r.t0 = c.t0, r.t1 = c.t1;
    const HIGHOBJ before = r;
    ASSERT_EQ(TW_IntersectVectRoiBounds(&r, limits), c.meets);
    if (!c.meets) {
      EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
      continue;
    }
    const double got[6] = {r.x0, r.y0, r.z0, r.x1, r.y1, r.z1};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(got[i], c.out[i]) << i;
    EXPECT_EQ(r.t0, c.o0);
    EXPECT_EQ(r.t1, c.o1);
  }
}

TEST(Seeds, OneSeedOrTheSelectedOneClippedToTheVolume) {
  Documents docs;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc* doc = docs.open({twk::testkit::makeLayer(grid4D())});
  CDrawSet* set = doc->GetActiveSet();
  const int wh[2] = {6, 5};
  DRECT3D box;
  EXPECT_FALSE(twk::ops::ExtractOperSeedBox(*set, nullptr, wh, &box));
  EXPECT_EQ(ui.lastMessage(), L"CDrawSet::ExtractOperSeedBox : At least one seed is expected");
  // One seed drawn partly outside, corners reversed: ordered and clipped in plane, z as stored.
  const double first[6] = {8, 4, -1, 2, -3, 7};
  ASSERT_TRUE(TW_CreateVectRoiFromLabel(set, first, 0, 0, "s1"));
  ASSERT_TRUE(twk::ops::ExtractOperSeedBox(*set, nullptr, wh, &box));
  EXPECT_EQ(box.x0, 2);
  EXPECT_EQ(box.x1, 6);
  EXPECT_EQ(box.y0, 0);
  EXPECT_EQ(box.y1, 4);
  EXPECT_EQ(box.z0, -1);
  EXPECT_EQ(box.z1, 7);
  const double second[6] = {1, 1, 0, 2, 2, 1};
  ASSERT_TRUE(TW_CreateVectRoiFromLabel(set, second, 0, 0, "s2"));
  CDrawObj* s1 = doc->objects[1];
  CDrawObj* s2 = doc->objects[2];
  const struct {
    const char* what;
    std::vector<CDrawObj*> selection;
    bool ok;
    double x1;
    int selected, selectedCount;
  } cases[] = {{"neither selected", {}, false, 0, -1, 0},
               {"both selected", {s1, s2}, false, 0, 1, 2},
               {"the second selected", {s2}, true, 2, 1, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    doc->SetSelection(c.selection);
    ui.clear();
    EXPECT_EQ(twk::ops::ExtractOperSeedBox(*set, nullptr, wh, &box), c.ok);
    if (c.ok) {
      EXPECT_EQ(box.x1, c.x1);
    } else {
      EXPECT_EQ(ui.lastMessage(), L"CDrawSet::ExtractOperSeedBox : With several seeds present a single one should be selected");
    }
    DRECT3D* boxes = nullptr;
    int count = 0, selected = 0, selectedCount = 0;
    ASSERT_TRUE(twk::ops::GetSeedBoxes(*set, nullptr, wh, &boxes, &count, &selected, &selectedCount));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(selected, c.selected);
    EXPECT_EQ(selectedCount, c.selectedCount);
    EXPECT_EQ(boxes[0].x1, 6);
    pf_free(&boxes);
  }
}
