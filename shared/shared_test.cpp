// Tests of the shared imaging types: CVol accessors and copies, polynomials, array, interval, box
// and stream helpers.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <vector>

#include "ArrayHelpers.h"
#include "BoxHelpers.h"
#include "DicomRec.h"
#include "DynExp.h"
#include "Polynom.h"
#include "StreamHelpers.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "Vol.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// A volume of the given size holding an integer frame.
void giveFrame(CVol& v, int w, int h, int d, int t) { v.frame = VA_VolCreateUniform(FRM_INT, DIM3D{w, h, d, t}, 0.0, 16); }

TEST(CVolAccessors, CentralCoordinatesShiftByTruncatedHalves) {
  CVol v;
  giveFrame(v, 5, 4, 3, 1);
  const RECT3D start{0, 1, 2, 4, 3, 2};
  RECT3D r = start;
  v.RectToCentralCoords(&r);
  EXPECT_EQ(r.x0, -2);  // width 5: shift 2
  EXPECT_EQ(r.x1, 2);
  EXPECT_EQ(r.y0, -1);  // height 4: shift 2
  EXPECT_EQ(r.z0, 1);   // depth 3: shift 1
  v.RectFromCentralCoords(&r);
  EXPECT_EQ(0, std::memcmp(&r, &start, sizeof r));
}

TEST(CVolAccessors, DynamicTimesNeedDynamicCoordinates) {
  CVol v;
  giveFrame(v, 2, 2, 1, 3);
  EXPECT_EQ(v.GetMaxTime(), 0.0);
  EXPECT_EQ(v.TimeSpan(), 0.0);
  EXPECT_EQ(v.GetDynType(), DYN_UNKNOWN);

  DYNCRD dyn[3];
  for (int i = 0; i < 3; ++i) {
    dyn[i].time = 10.0 * i + 5;
    dyn[i].timeEnd = 10.0 * i + 12;
  }
  ASSERT_TRUE(v.SetDynamicCoords(dyn, 3));
  EXPECT_EQ(v.TimeSpan(), 20.0);
  EXPECT_EQ(v.GetMaxTime(), 32.0);
  EXPECT_EQ(v.GetDynType(), DYN_TIME);
  EXPECT_FALSE(v.SetDynamicCoords(dyn, 2));  // one record per time point
}

TEST(CVolAccessors, KindSizeAndSpacingQueries) {
  CVol v;
  v.frame = VA_VolCreateUniform(FRM_REAL, DIM3D{4, 3, 2, 1}, 0.0);
  v.spc = SPC{0.5, 0.505, 2.0};
  v.SetModality(MODALITY_PET);
  EXPECT_TRUE(v.IsReal3D() && v.IsParamMap() && v.IsPET() && !v.IsPET4D() && !v.IsROI());
  EXPECT_EQ(v.NumSlices(), 2);
  EXPECT_EQ(v.NP(), 12);
  EXPECT_EQ(v.TotNumVox(), 24);
  EXPECT_EQ(v.Bpv(), 64);
  EXPECT_DOUBLE_EQ(v.IsoVox(), 0.5);
  EXPECT_DOUBLE_EQ(v.GetVoxCM3(), 0.5 * 0.505 * 2.0 * 0.001);
  EXPECT_TRUE(v.IsIsoPix());
  EXPECT_FALSE(v.IsIsotropic());
  EXPECT_EQ(v.effT(3), 0);
  EXPECT_TRUE(v.AllowedDyn(true, false));
  EXPECT_FALSE(v.AllowedDyn(false, true));
}

TEST(CVolCopy, CopiesAreIndependent) {
  CVol a;
  giveFrame(a, 3, 2, 2, 2);
  twk::setVoxelValue(a.frame, 1, 1, 1, 1, 77);
  a.name = L"/data/a.nii";
  DYNCRD dyn[2];
  dyn[1].time = 4;
  a.SetDynamicCoords(dyn, 2);
  a.imgPos = static_cast<DPOINT3D*>(pf_calloc(2 * sizeof(DPOINT3D)));
  a.imgPos[1].z = 3.5;
  a.dicom = static_cast<DICOMREC**>(pf_calloc(2 * sizeof(DICOMREC*)));
  a.numDicom = 2;
  a.dicom[0] = new DICOMREC;
  a.dicom[0]->seriesDescription = L"T1";
  const double o[6] = {0, 1, 0, 0, 0, 1};
  a.SetOrientation(o);

  CVol b(a);
  ASSERT_NE(b.frame, a.frame);
  ASSERT_NE(b.frame->data, a.frame->data);
  ASSERT_NE(b.dyn, a.dyn);
  ASSERT_NE(b.imgPos, a.imgPos);
  ASSERT_NE(b.dicom, a.dicom);
  EXPECT_EQ(twk::voxelValue(b.frame, 1, 1, 1, 1), 77.0);
  EXPECT_EQ(b.dyn[1].time, 4.0);
  EXPECT_EQ(b.imgPos[1].z, 3.5);
  EXPECT_EQ(b.dicom[0]->seriesDescription, L"T1");
  EXPECT_EQ(b.dicom[1], nullptr);
  double ob[6];
  b.GetOrientation(ob);
  EXPECT_EQ(0, std::memcmp(ob, o, sizeof o));

  twk::setVoxelValue(b.frame, 1, 1, 1, 1, 5);
  b.dyn[1].time = 9;
  b.dicom[0]->seriesDescription = L"changed";
  EXPECT_EQ(twk::voxelValue(a.frame, 1, 1, 1, 1), 77.0);
  EXPECT_EQ(a.dyn[1].time, 4.0);
  EXPECT_EQ(a.dicom[0]->seriesDescription, L"T1");

  CVol c;
  giveFrame(c, 1, 1, 1, 1);
  c = a;
  c = c;  // self-assignment keeps the volume
  ASSERT_NE(c.frame, a.frame);
  EXPECT_EQ(c.W(), 3);
  EXPECT_EQ(twk::voxelValue(c.frame, 1, 1, 1, 1), 77.0);
  EXPECT_EQ(c.name, L"/data/a.nii");
}

TEST(CVolCopy, CopyAndDestructionReleaseEverything) {
  const int64_t before = PR_GetTotalAllocSize();
  {
    CVol a;
    giveFrame(a, 8, 8, 2, 1);
    a.dicom = static_cast<DICOMREC**>(pf_calloc(sizeof(DICOMREC*)));
    a.numDicom = 1;
    a.dicom[0] = new DICOMREC;
    CVol b(a);
    CVol c;
    c = b;
  }
  EXPECT_EQ(PR_GetTotalAllocSize(), before);
}

TEST(CVolSetters, ModalityAndOrientationRefuseInvalidValues) {
  CVol v;
  const struct { int value; bool ok; } modalities[] = {{0, true}, {1, true}, {2, true}, {10000, true}, {3, false},
                                                         {-1, false}};
  for (const auto& c : modalities) {
    SCOPED_TRACE(c.value);
    v.modality = MODALITY_MR;
    EXPECT_EQ(v.SetModality(c.value), c.ok);
    EXPECT_EQ(v.GetModality(), c.ok ? c.value : MODALITY_MR);
  }
  const double zeroRow[6] = {0, 0, 0, 0, 1, 0};
  const double notFinite[6] = {kNaN, 0, 0, 0, 1, 0};
  EXPECT_FALSE(v.SetOrientation(zeroRow));
  EXPECT_FALSE(v.SetOrientation(notFinite));
  CVol other;
  const double tilted[6] = {0.6, 0.8, 0, 0, 0, 1};
  ASSERT_TRUE(other.SetOrientation(tilted));
  EXPECT_TRUE(v.SetOrientation(&other));
  EXPECT_EQ(v.orient[1], 0.8);
  EXPECT_FALSE(v.SetOrientation(static_cast<CVol*>(nullptr)));
}

TEST(DicomRecord, CopyDuplicatesTexts) {
  DICOMREC a;
  a.filePath = L"/dicom/IM0001";
  a.seriesInstanceUid = L"1.2.3";
  a.echoTime = 0.01;
  DICOMREC b(a);
  b.filePath += L"x";
  EXPECT_EQ(a.filePath, L"/dicom/IM0001");
  EXPECT_EQ(b.seriesInstanceUid, L"1.2.3");
  EXPECT_EQ(b.echoTime, 0.01);
}

TEST(DynExp, CopyKeepsCurvesAndNames) {
  auto a = std::make_unique<CDynExp>();
  a->ifunc[2].count = 3;
  a->ifunc[2].values[19999] = 7.5;
  a->ifunc[2].times[1] = 2.0;
  a->ifuncName[2] = L"AIF";
  auto b = std::make_unique<CDynExp>(*a);
  a->ifuncName[2] = L"changed";
  EXPECT_EQ(b->ifunc[2].count, 3);
  EXPECT_EQ(b->ifunc[2].values[19999], 7.5);
  EXPECT_EQ(b->ifunc[2].times[1], 2.0);
  EXPECT_EQ(b->ifuncName[2], L"AIF");
}

// Terms written at a stride that leaves the doubles unaligned.
struct PolyFixture {
  std::vector<uint8_t> bytes;
  Polynom p;
  PolyFixture(int numVars, std::initializer_list<std::pair<double, std::vector<int32_t>>> terms) {
    p.numVars = numVars;
    p.numTerms = int(terms.size());
    p.termStride = 8 + 4 * numVars + 1;
    bytes.assign(size_t(p.termStride) * terms.size() + 1, 0);
    size_t at = 1;
    for (const auto& [c, e] : terms) {
      std::memcpy(&bytes[at], &c, 8);
      if (!e.empty()) std::memcpy(&bytes[at + 8], e.data(), 4 * e.size());
      at += size_t(p.termStride);
    }
    p.terms = reinterpret_cast<TERM*>(&bytes[1]);
  }
};

TEST(Polynomials, EvaluateTermsAndAffineTransforms) {
  // 3 + 2 x^2 y - 0.5 z with a negative exponent counting as power 0.
  PolyFixture f(3, {{3.0, {0, 0, 0}}, {2.0, {2, 1, 0}}, {-0.5, {0, -3, 1}}});
  f.p.order = 3;
  const double x[3] = {1.5, -2.0, 4.0};
  EXPECT_DOUBLE_EQ(f.p.TermExponent(1, x), 1.5 * 1.5 * -2.0);
  EXPECT_DOUBLE_EQ(f.p.TermExponent(2, x), 4.0);
  EXPECT_DOUBLE_EQ(f.p.Calc(x), 3.0 + 2.0 * 2.25 * -2.0 - 0.5 * 4.0);

  PolyFixture noVars(0, {{2.5, {}}});
  EXPECT_EQ(noVars.p.TermExponent(0, x), 1.0);
  PolyFixture noTerms(3, {});
  EXPECT_EQ(noTerms.p.Calc(x), 0.0);

  // x' = 1 + 2x, y' = y - z, z' = 3: affine.
  PolyFixture px(3, {{1.0, {0, 0, 0}}, {2.0, {1, 0, 0}}});
  PolyFixture py(3, {{1.0, {0, 1, 0}}, {-1.0, {0, 0, 1}}});
  PolyFixture pz(3, {{3.0, {0, 0, 0}}});
  px.p.order = py.p.order = pz.p.order = 1;
  Poly3D t{&px.p, &py.p, &pz.p};
  EXPECT_TRUE(t.IsAffine());
  DPOINT3D pt{1, 2, 5};
  t.Calc(&pt, &pt);
  EXPECT_EQ(pt.x, 3.0);
  EXPECT_EQ(pt.y, -3.0);
  EXPECT_EQ(pt.z, 3.0);
  pz.p.order = 2;
  EXPECT_FALSE(t.IsAffine());
}

TEST(DoubleArrays, SearchAndReduce) {
  const double v[] = {3, kNaN, 7, 7, -1};
  const struct { double x; int64_t index; } finds[] = {{7, 2}, {kNaN, -1}, {4, -1}, {-1, 4}};
  for (const auto& c : finds) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(PR_FindValueD(v, 5, c.x), c.index);
  }
  const double w[] = {2, 9, 1, 9, 4};
  int64_t at = 99;
  EXPECT_EQ(PR_ArrayMaxD(w, 5, &at), 9.0);
  EXPECT_EQ(at, 1);  // first of equal maxima
  EXPECT_EQ(PR_ArrayMinD(w, 5), 1.0);
  EXPECT_EQ(PR_ArrayMinD(w, 1), 2.0);
  EXPECT_EQ(PR_ArraySumD(w, 5), 25.0);
  // Empty arrays are not read.
  EXPECT_EQ(PR_ArrayMinD(nullptr, 0), VOID_VALUE);
  EXPECT_EQ(PR_ArrayMaxD(nullptr, 0, &at), VOID_VALUE);
  EXPECT_EQ(at, -1);

  double u[] = {1, 5, 2, 8, 3};
  PR_ArraySubtractClipD(u, 5, 2.5);
  const double clipped[] = {0, 2.5, 0, 5.5, 0.5};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(u[i], clipped[i]);
  PR_ArrayDivideD(u, 0.5, 5);
  EXPECT_EQ(u[3], 11.0);
}

TEST(Intervals, SquareRoots) {
  const struct { INTERVAL in; INTERVAL ordered; } cases[] = {
      {{-4, 9}, {0, 3}}, {{4, -1}, {-VOID_VALUE, VOID_VALUE}}, {{9, 4}, {2, 3}}, {{0, 0}, {0, 0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in.lo);
    INTERVAL out{};
    PR_IntervalSqrtOrdered(&out, &c.in);
    EXPECT_EQ(out.lo, c.ordered.lo);
    EXPECT_EQ(out.hi, c.ordered.hi);
    INTERVAL same = c.in;
    PR_IntervalSqrtOrdered(&same, &same);
    EXPECT_EQ(same.lo, c.ordered.lo);
  }
  INTERVAL r{-1, 16};
  PR_IntervalSqrt(&r);
  EXPECT_EQ(r.lo, VOID_VALUE);
  EXPECT_EQ(r.hi, 4.0);
}

TEST(ArrayHelpers, MinMaxExcludingVoid) {
  const double allVoid[] = {VOID_VALUE, VOID_VALUE};
  const double mixed[] = {VOID_VALUE, 3, -2};
  double lo = VOID_VALUE, hi = 0;
  EXPECT_FALSE(PR_ArrayMinMaxExcludingD(allVoid, 2, VOID_VALUE, &lo, &hi));
  EXPECT_FALSE(PR_ArrayMinMaxExcludingD(mixed, 0, VOID_VALUE, &lo, &hi));
  ASSERT_TRUE(PR_ArrayMinMaxExcludingD(mixed, 3, VOID_VALUE, &lo, &hi));
  EXPECT_EQ(lo, -2.0);
  EXPECT_EQ(hi, 3.0);

  // The int-count form continues from the caller's values unless *min is the ignored value.
  lo = -10;
  hi = 1;
  ASSERT_TRUE(PR_ArrayMinMaxExcludingD(mixed, 3, VOID_VALUE, &lo, &hi));
  EXPECT_EQ(lo, -10.0);
  EXPECT_EQ(hi, 3.0);
  // The 64-bit form always starts afresh.
  lo = -10;
  hi = 100;
  ASSERT_TRUE(PR_ArrayMinMaxExcludingD(mixed, int64_t(3), VOID_VALUE, &lo, &hi));
  EXPECT_EQ(lo, -2.0);
  EXPECT_EQ(hi, 3.0);
  // A null max is neither read nor written.
  lo = 0.5;
  ASSERT_TRUE(PR_ArrayMinMaxExcludingD(mixed, 3, VOID_VALUE, &lo, nullptr));
  EXPECT_EQ(lo, -2.0);
  lo = VOID_VALUE;
  ASSERT_TRUE(PR_ArrayMinMaxExcludingD(mixed, int64_t(3), VOID_VALUE, &lo, nullptr));
  EXPECT_EQ(lo, -2.0);

  double s[] = {2, VOID_VALUE, -1};
  PR_ArrayScaleExcludingVoid(s, 3, 3);
  EXPECT_EQ(s[0], 6.0);
  EXPECT_EQ(s[1], VOID_VALUE);
  EXPECT_EQ(s[2], -3.0);

  const uint32_t big[] = {0xFFFFFFFFu, 2};
  EXPECT_EQ(PR_SumU32(big, 2), 1u);  // wraps
}

TEST(ArrayHelpers, PercentPosition) {
  const struct { double value, low, high; int pos; } cases[] = {
      {-5, 0, 10, 0}, {15, 0, 10, 1000}, {5, 0, 10, 500}, {0.0004, 0, 1, 0}, {0.0006, 0, 1, 1}, {3, 3, 3, 0},
      {4, 3, 3, 1000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(PR_PercentPos1000(c.value, c.low, c.high), c.pos);
  }
}

TEST(ArrayHelpers, IntArrayGrowsAndSorts) {
  IntArray a;
  for (int v : {5, -2, 9, 0, 5}) ASSERT_TRUE(a.Append(v));
  EXPECT_TRUE(PR_BubbleSortInt(&a));
  const int32_t sorted[] = {-2, 0, 5, 5, 9};
  ASSERT_EQ(a.count, 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(a.values[i], sorted[i]);
}

TEST(ArrayHelpers, CountedCopies) {
  void* filled = nullptr;
  ASSERT_TRUE(PR_AllocFilled(&filled, 5, 0xAB));
  EXPECT_EQ(static_cast<uint8_t*>(filled)[4], 0xAB);
  pf_free(&filled);

  int x = 1, y = 2;
  void* ptrs[] = {&x, nullptr, &y};
  void** dup = nullptr;
  ASSERT_TRUE(PR_DupPtrArray(&dup, 3, ptrs));
  EXPECT_EQ(dup[2], &y);
  pf_free(&dup);

  DYNCRD dyn[2];
  dyn[1].bValue = 800;
  void* records = nullptr;
  ASSERT_TRUE(PR_DupRecords72(&records, 2, dyn));
  EXPECT_EQ(static_cast<DYNCRD*>(records)[1].bValue, 800.0);
  pf_free(&records);
}

TEST(ArrayHelpers, FreeArraysWithEmptySlots) {
  const int64_t before = PR_GetTotalAllocSize();
  FRAME** frames = static_cast<FRAME**>(pf_calloc(3 * sizeof(FRAME*)));
  frames[0] = VA_VolCreateUniform(FRM_ROI, DIM3D{3, 3, 1, 1}, 1.0);
  frames[2] = VA_VolCreateUniform(FRM_REAL, DIM3D{3, 3, 1, 1}, 1.0);
  TW_FreeFrameArray(&frames, 3);
  EXPECT_EQ(frames, nullptr);
  DICOMREC** recs = static_cast<DICOMREC**>(pf_calloc(2 * sizeof(DICOMREC*)));
  recs[1] = new DICOMREC;
  TW_FreeDicomRecArray(&recs, 2);
  EXPECT_EQ(recs, nullptr);
  EXPECT_EQ(PR_GetTotalAllocSize(), before);

  FRAME** none = nullptr;
  TW_FreeFrameArray(&none, 4);  // a null array does nothing
  FRAME** empty = static_cast<FRAME**>(pf_calloc(sizeof(FRAME*)));
  TW_FreeFrameArray(&empty, 0);  // only the array is freed
  EXPECT_EQ(empty, nullptr);
  EXPECT_EQ(PR_GetTotalAllocSize(), before);
}

TEST(BoxHelpers, DoubleBoxToVoxelBounds) {
  const DIM3D dims{10, 10, 10, 1};
  const struct {
    const char* name;
    DRECT3D in;
    bool withDims;
    bool ok;
    RECT3D out;
  } cases[] = {
      {"integer upper bound ends before it", {2.0, 0, 0, 5.0, 1.5, 1.5}, false, true, {2, 0, 0, 4, 1, 1}},
      {"fractional upper bound", {2.0, 0, 0, 5.3, 1.5, 1.5}, false, true, {2, 0, 0, 5, 1, 1}},
      {"zero-size box keeps its voxel", {2.0, 0, 0, 2.0, 0.5, 0.5}, false, true, {2, 0, 0, 2, 0, 0}},
      {"just above an integer", {1.2, 0, 0, 3.000001, 0.5, 0.5}, false, true, {1, 0, 0, 2, 0, 0}},
      {"negative bounds floor downwards", {-1.5, 0, 0, -0.5, 0.5, 0.5}, false, true, {-2, 0, 0, -1, 0, 0}},
      {"clipped to the volume", {-3, 4, 8.5, 12, 6.5, 20}, true, true, {0, 4, 8, 9, 6, 9}},
      {"wholly outside", {11, 0, 0, 14, 1, 1}, true, false, {}},
      {"not finite", {kNaN, 0, 0, 1, 1, 1}, false, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RECT3D r{};
    ASSERT_EQ(PR_DRect3DToRect3D(&c.in, &r, c.withDims ? &dims : nullptr), c.ok);
    if (c.ok) {
      EXPECT_EQ(0, std::memcmp(&r, &c.out, sizeof r));
    }
  }
}

TEST(BoxHelpers, MarginStaysInsideTheVolume) {
  const DIM3D dims{40, 40, 40, 1};
  const struct { const char* name; RECT3D in, out; } cases[] = {
      {"touching the lower x edge", {0, 10, 10, 5, 20, 20}, {0, 7, 7, 5, 23, 23}},
      {"ten voxels inside", {10, 10, 10, 29, 29, 29}, {7, 7, 7, 32, 32, 32}},
      {"one voxel from the upper edge", {20, 20, 20, 38, 30, 30}, {19, 17, 17, 39, 33, 33}},
      {"beyond an edge", {-2, 10, 10, 45, 12, 12}, {-2, 7, 7, 45, 15, 15}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RECT3D r = c.in;
    PR_ExpandBoxByMargin(&r, &dims);
    EXPECT_EQ(0, std::memcmp(&r, &c.out, sizeof r));
  }
}

TEST(BoxHelpers, OverlapOfClosedBoxes) {
  const DRECT3D a{0, 0, 0, 2, 2, 2};
  const DRECT3D touching{2, 1, 1, 3, 3, 3};
  const DRECT3D apart{2.1, 0, 0, 3, 1, 1};
  DRECT3D out;
  ASSERT_TRUE(PR_BoxesOverlap(&a, &touching, &out));
  EXPECT_EQ(out.x0, 2.0);
  EXPECT_EQ(out.x1, 2.0);
  EXPECT_EQ(out.y0, 1.0);
  EXPECT_FALSE(PR_BoxesOverlap(&a, &apart, nullptr));
}

TEST(BoxHelpers, ClipBoxToDimsCropsTheFrame) {
  FRAME* f = VA_VolCreateUniform(FRM_INT, DIM3D{6, 5, 4, 3}, 0.0, 8);
  twk::setVoxelValue(f, 2, 1, 3, 2, 42);
  FRAME* whole = PR_ClipBoxToDims(f, nullptr, -1, 2, false);
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(whole->dim.t, 3);
  EXPECT_EQ(twk::voxelValue(whole, 2, 1, 3, 2), 42.0);
  const RECT3D box{1, 1, 2, 3, 4, 3};
  FRAME* part = PR_ClipBoxToDims(f, &box, 2, 2, false);
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(part->dim.w, 3);
  EXPECT_EQ(part->dim.t, 1);
  EXPECT_EQ(twk::voxelValue(part, 1, 0, 1, 0), 42.0);
  const RECT3D outside{4, 0, 0, 9, 1, 1};
  EXPECT_EQ(PR_ClipBoxToDims(f, &outside, 0, 0, false), nullptr);
  PR_FrameDelete(&whole);
  PR_FrameDelete(&part);
  PR_FrameDelete(&f);
}

TEST(StreamHelpers, ReadFieldsAndRecords) {
  const std::filesystem::path dir = twk::testing::testFolder("shared_test_streams");
  const std::string path = (dir / "records.bin").string();
  {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const uint32_t big = 0xF0000001u;
    fwrite(&big, 4, 1, f);
    DYNCRD r[2];
    r[0].time = 1;
    r[1].time = 2;
    fwrite(r, sizeof r, 1, f);
    fclose(f);
  }
  FILE* f = fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  uint64_t u = 0;
  ASSERT_EQ(PR_FileReadUInt32To64(f, &u), 1u);
  EXPECT_EQ(u, 0xF0000001ull);
  // More records to read than to allocate is refused before anything is read.
  EXPECT_EQ(PR_FileReadRecords72(f, 1, 2), nullptr);
  DYNCRD* recs = static_cast<DYNCRD*>(PR_FileReadRecords72(f, 3, 2));
  ASSERT_NE(recs, nullptr);
  EXPECT_EQ(recs[1].time, 2.0);
  EXPECT_EQ(recs[2].time, 0.0);  // the rest is zero
  pf_free(&recs);
  // At the end of the file the read fails and nothing stays allocated.
  const int64_t before = PR_GetTotalAllocSize();
  EXPECT_EQ(PR_FileReadRecords72(f, 1, 1), nullptr);
  EXPECT_EQ(PR_GetTotalAllocSize(), before);
  int32_t i32 = 5;
  EXPECT_EQ(PR_FileReadInt32(f, &i32), 0u);
  fclose(f);
}

}  // namespace
