// The volume calls of layer insertion and the box form of undo records.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "ArrayHelpers.h"
#include "DicomRec.h"
#include "ScriptedUi.h"
#include "UndoRec.h"
#include "Vol.h"
#include "docsupport/DocSupport.h"
#include "volops/VolumeOperations.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

CVol* makeVol(FRMTYPE type, const DIM3D& dim) {
  auto* vol = new CVol;
  vol->frame = PR_FrameCreate(type, 0, dim, true);
  vol->name = L"/data/template";
  vol->spc = SPC{0.5, 0.5, 2};
  vol->modality = 2;
  vol->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(dim.t) * int64_t(sizeof(DYNCRD))));
  for (int t = 0; t < dim.t; ++t) vol->dyn[t].time = 10.0 * t;
  return vol;
}

std::vector<uint8_t> bytesOf(const FRAME* f) { return std::vector<uint8_t>(f->data, f->data + PR_FrameMemSize(f)); }

}  // namespace

TEST(DocSupport, CloneByReformatTakesTheFrameAndKeepsTheTemplate) {
  std::unique_ptr<CVol> tmpl(makeVol(FRM_INT, DIM3D{4, 3, 2, 3}));
  FRAME* frame = PR_FrameCreate(FRM_ROI, 0, DIM3D{4, 3, 2, 3}, true);
  std::unique_ptr<CVol> clone(VA_CloneByReformat(tmpl.get(), &frame, nullptr, nullptr, nullptr, false));
  ASSERT_NE(clone, nullptr);
  EXPECT_EQ(frame, nullptr);
  EXPECT_TRUE(clone->IsROI());
  EXPECT_EQ(clone->dyn[2].time, 20.0);
  EXPECT_EQ(clone->modality, 2);
  EXPECT_EQ(clone->name, L"/data/template");

  // Another time-point count gets default dynamic coordinates; a new spacing replaces the old.
  FRAME* three = PR_FrameCreate(FRM_REAL, 0, DIM3D{4, 3, 2, 1}, true);
  const SPC spacing{1, 1, 1};
  std::unique_ptr<CVol> other(VA_CloneByReformat(tmpl.get(), &three, &spacing, nullptr, nullptr, false));
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->Vz(), 1.0);
  EXPECT_EQ(other->dyn[0].time, 0.0);

  // Without a frame the template's voxels are copied.
  std::unique_ptr<CVol> copy(VA_CloneByReformat(tmpl.get(), nullptr, nullptr, nullptr, nullptr, false));
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->frame, tmpl->frame);
  EXPECT_EQ(copy->T(), 3);
}

TEST(DocSupport, OptimalWindowLeavesVoidVoxelsOut) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  FRAME* f = PR_FrameCreate(FRM_REAL, 0, DIM3D{10, 10, 2, 2}, true);
  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) {
        twk::setVoxelValue(f, x, y, z, 0, x < 5 ? 1e60 : 100.0 + x);
        twk::setVoxelValue(f, x, y, z, 1, 1000.0 + x);
      }
  PR_VIEWFILT filter;
  ASSERT_TRUE(VA_OptimalIntensWindow(0, f, 0, &filter, false));
  EXPECT_DOUBLE_EQ(filter.level, 107.0);
  EXPECT_DOUBLE_EQ(filter.width, 4.0);
  int t = -1;
  ASSERT_TRUE(VA_VolGetTimeOfMaxSignal(f, &t));
  EXPECT_EQ(t, 1);
  EXPECT_FALSE(VA_OptimalIntensWindow(1, f, 2, &filter, true));
  EXPECT_EQ(ui.lastMessage(), L"VA_OptimalIntensWindow : Invalid time point");
  PR_FrameDelete(&f);

  FRAME* flat = PR_FrameCreate(FRM_INT, 16, DIM3D{3, 3, 1, 1}, true);
  ASSERT_TRUE(VA_OptimalIntensWindow(1, flat, 0, &filter, false));
  EXPECT_EQ(filter.width, 1.0);
  PR_FrameDelete(&flat);
}

TEST(DocSupport, OptimalWindowInAnRoiIgnoresTheOutsideOfEveryVoxelKind) {
  // The ROI (a block, the same for every time point) holds values 200..260; the outside reaches
  // 0 and 4000. The window is the range inside: on a real frame the same as mode 0 on a copy with
  // the outside voided, and on a 16-bit frame too, where a voided copy would hold 65535 outside.
  const DIM3D dims{12, 10, 3, 2};
  FRAME* roi = PR_FrameCreate(FRM_ROI, 1, DIM3D{12, 10, 3, 1}, true);
  for (int z = 1; z < 3; ++z)
    for (int y = 2; y < 6; ++y)
      for (int x = 3; x < 9; ++x) twk::setRoiBit(roi, x, y, z, 0, true);
  for (FRMTYPE type : {FRM_REAL, FRM_INT}) {
    SCOPED_TRACE(type);
    FRAME* f = PR_FrameCreate(type, type == FRM_REAL ? 64 : 16, dims, true);
    for (int t = 0; t < 2; ++t)
      for (int z = 0; z < 3; ++z)
        for (int y = 0; y < 10; ++y)
          for (int x = 0; x < 12; ++x)
            twk::setVoxelValue(f, x, y, z, t, twk::roiBit(roi, x, y, z, 0) ? 200 + 10 * t + x + y : (x + y) % 2 * 4000);
    for (int t = 0; t < 2; ++t) {
      PR_VIEWFILT inside;
      ASSERT_TRUE(VA_OptimalIntensWindowInMask(0, f, t, roi, &inside, false));
      const double lo = 200 + 10 * t + 3 + 2, hi = 200 + 10 * t + 8 + 5;
      EXPECT_DOUBLE_EQ(inside.level, (lo + hi) / 2);
      EXPECT_DOUBLE_EQ(inside.width, hi - lo);
      if (type == FRM_REAL) {
        FRAME* voided = VA_VolClone(f);
        ASSERT_TRUE(VA_VolCleanMask(voided, -1, roi, false, 1e60, false));
        PR_VIEWFILT whole;
        ASSERT_TRUE(VA_OptimalIntensWindow(0, voided, t, &whole, false));
        EXPECT_DOUBLE_EQ(whole.level, inside.level);
        EXPECT_DOUBLE_EQ(whole.width, inside.width);
        PR_FrameDelete(&voided);
      }
    }
    PR_FrameDelete(&f);
  }
  // An empty ROI has no defined voxel; a mask of another size is refused.
  FRAME* f = PR_FrameCreate(FRM_INT, 16, dims, true);
  FRAME* empty = PR_FrameCreate(FRM_ROI, 1, DIM3D{12, 10, 3, 1}, true);
  FRAME* other = PR_FrameCreate(FRM_ROI, 1, DIM3D{12, 10, 4, 1}, true);
  PR_VIEWFILT filter;
  EXPECT_FALSE(VA_OptimalIntensWindowInMask(0, f, 0, empty, &filter, false));
  EXPECT_FALSE(VA_OptimalIntensWindowInMask(0, f, 0, other, &filter, false));
  PR_FrameDelete(&f);
  PR_FrameDelete(&empty);
  PR_FrameDelete(&other);
  PR_FrameDelete(&roi);
}

TEST(DocSupport, FullRangeWindowSeesEveryVoxelOfALargeVolume) {
  // Over four million voxels the percentile window samples; the full range must not: the largest
  // and smallest values sit on voxels a sample of every second voxel would skip.
  FRAME* f = PR_FrameCreate(FRM_INT, 8, DIM3D{2048, 2048, 2, 1}, true);
  std::memset(f->data, 100, size_t(PR_FrameMemSize(f)));
  twk::setVoxelValue(f, 1, 0, 0, 0, 250);
  twk::setVoxelValue(f, 2047, 2047, 1, 0, 3);
  PR_VIEWFILT filter;
  ASSERT_TRUE(VA_OptimalIntensWindow(0, f, 0, &filter, false));
  EXPECT_DOUBLE_EQ(filter.width, 247);
  EXPECT_DOUBLE_EQ(filter.level, 3 + 247 / 2.0);
  PR_FrameDelete(&f);
}

TEST(DocSupport, VolumeNamesAndReshapedRecords) {
  DICOMREC rec;
  rec.seriesNumber = 7;
  rec.seriesDescription = L"T1 / MPRAGE sagittal long name";
  CString name;
  ASSERT_TRUE(VA_ConstructVolumeName(&rec, true, true, 16, L"/tmp/work", L"_N3", &name));
  EXPECT_EQ(name, L"/tmp/work\\7_T1 - MPRAGE sagi_N3");
  ASSERT_TRUE(VA_ConstructVolumeName(nullptr, true, true, 16, L"", L"", &name));
  EXPECT_EQ(name, L"Volume");

  std::unique_ptr<CVol> src(makeVol(FRM_INT, DIM3D{4, 3, 2, 1}));
  src->numDicom = 2;
  src->dicom = static_cast<DICOMREC**>(pf_calloc(2 * sizeof(DICOMREC*)));
  src->dicom[0] = new DICOMREC(rec);
  src->dicom[1] = new DICOMREC(rec);
  DICOMREC** out = nullptr;
  int64_t n = 0;
  const DIM3D dim{8, 6, 3, 2};
  ASSERT_TRUE(VA_CloneDicomRecsWithNewGeometry(src.get(), &dim, FRM_REAL, &out, &n));
  ASSERT_EQ(n, 6);
  EXPECT_EQ(out[5]->width, 8);
  EXPECT_EQ(out[5]->instanceNumber, 6);
  EXPECT_EQ(out[5]->temporalPosition, 2);
  EXPECT_EQ(out[5]->bitsAllocated, 32);
  TW_FreeDicomRecArray(&out, int(n));
  ASSERT_TRUE(VA_MinimizeDicomHeaders(src.get()));
  EXPECT_EQ(src->numDicom, 1);
}

TEST(UndoRecordBox, ShrinksToTheChangedVoxelsOfEveryKind) {
  const FRMTYPE kinds[] = {FRM_ROI, FRM_INT, FRM_REAL};
  for (FRMTYPE kind : kinds) {
    SCOPED_TRACE(int(kind));
    FRAME* f = PR_FrameCreate(kind, 0, DIM3D{37, 9, 3, 2}, true);
    std::mt19937 rng(5);
    for (int i = 0; i < 200; ++i) twk::setVoxelValue(f, rng() % 37, rng() % 9, rng() % 3, rng() % 2, double(rng() % 2));
    const std::vector<uint8_t> before = bytesOf(f);
    // A box record that starts at an odd x, then a whole-frame one.
    const RECT4D box{3, 1, 0, 30, 8, 2, 0, 1};
    UNDOREC* boxRecord = VA_CompleteUndoRecBox(nullptr, f, &box);
    UNDOREC* whole = VA_CompleteUndoRec(nullptr, f);
    ASSERT_NE(boxRecord, nullptr);
    ASSERT_NE(whole, nullptr);
    for (int x = 17; x <= 19; ++x) twk::setVoxelValue(f, x, 4, 2, 1, twk::voxelValue(f, x, 4, 2, 1) == 0 ? 1.0 : 0.0);
    const std::vector<uint8_t> after = bytesOf(f);
    for (UNDOREC* r : {boxRecord, whole}) {
      ASSERT_TRUE(r->ShrinkToChanges());
      EXPECT_EQ(r->box.x0, 17);
      EXPECT_EQ(r->box.x1, 19);
      EXPECT_EQ(r->box.y0, 4);
      EXPECT_EQ(r->box.z1, 2);
      EXPECT_EQ(r->box.t0, 1);
      UNDOREC* inverse = r->GetFrameCurrentState(nullptr);
      ASSERT_NE(inverse, nullptr);
      ASSERT_TRUE(r->ApplyFrameChange());
      EXPECT_EQ(bytesOf(f), before);
      ASSERT_TRUE(inverse->ApplyFrameChange());
      EXPECT_EQ(bytesOf(f), after);
      delete inverse;
    }
    // Nothing changed since: the record keeps no voxels and applies as a no-op.
    UNDOREC* unchanged = VA_CompleteUndoRec(nullptr, f);
    ASSERT_TRUE(unchanged->ShrinkToChanges());
    EXPECT_EQ(unchanged->snapshot, nullptr);
    EXPECT_TRUE(unchanged->ApplyFrameChange());
    EXPECT_EQ(bytesOf(f), after);
    delete unchanged;
    delete boxRecord;
    delete whole;
    PR_FrameDelete(&f);
  }
}

TEST(UndoRecordBox, BoxRecordsRefuseAFrameOfAnotherShape) {
  FRAME* f = PR_FrameCreate(FRM_INT, 16, DIM3D{8, 8, 2, 1}, true);
  const RECT4D box{0, 0, 0, 3, 3, 0, 0, 0};
  UNDOREC* record = VA_CompleteUndoRecBox(nullptr, f, &box);
  ASSERT_NE(record, nullptr);
  FRAME* other = PR_FrameCreate(FRM_INT, 16, DIM3D{4, 4, 2, 1}, true);
  std::swap(*f, *other);
  EXPECT_FALSE(record->ApplyFrameChange());
  EXPECT_EQ(record->GetFrameCurrentState(nullptr), nullptr);
  const RECT4D outside{20, 20, 0, 30, 30, 0, 0, 0};
  EXPECT_EQ(VA_CompleteUndoRecBox(nullptr, f, &outside), nullptr);
  delete record;
  PR_FrameDelete(&f);
  PR_FrameDelete(&other);
}
