#include <gtest/gtest.h>

#include <cmath>

#include "TwkMem.h"
#include "Vol.h"
#include "ops/VolumeOps.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

FRAME* realFrame(std::initializer_list<double> values) {
  FRAME* f = PR_FrameCreate(FRM_REAL, 64, DIM3D{int(values.size()), 1, 1, 1}, true);
  int x = 0;
  for (double v : values) twk::setVoxelValue(f, x++, 0, 0, 0, v);
  return f;
}

}  // namespace

TEST(VolumeOps, RealToIntegerRoundsClampsAndKeepsVoids) {
  const struct { int bits; int bpv; double in; double out; } cases[] = {
      {31, 32, 2.5, 3}, {31, 32, -4, 0}, {31, 32, VOID_VALUE, VOID_INT_VALUE}, {8, 8, 300, 255},
      {12, 16, 5000, 4095}, {16, 16, 1.49, 1}, {12, 16, VOID_VALUE, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    FRAME* f = realFrame({c.in});
    FRAME* i = VA_VolRealToInteger(f, 0.0, c.bits, false);
    ASSERT_NE(i, nullptr);
    EXPECT_EQ(i->type, FRM_INT);
    EXPECT_EQ(i->bpv, c.bpv);
    EXPECT_EQ(twk::voxelValue(i, 0, 0, 0, 0), c.out);
    PR_FrameDelete(&i);
    PR_FrameDelete(&f);
  }
  FRAME* f = realFrame({1});
  EXPECT_EQ(VA_VolRealToInteger(f, 0, 33, false), nullptr);
  FRAME* i = VA_VolConvertBits(f, 16);
  EXPECT_EQ(VA_VolRealToInteger(i, 0, 16, false), nullptr);  // not real
  PR_FrameDelete(&i);
  PR_FrameDelete(&f);
}

TEST(VolumeOps, RangeQuasiIntegerAndVoids) {
  FRAME* f = realFrame({3, -2, VOID_VALUE, 7.5});
  double lo, hi;
  ASSERT_TRUE(VA_VolMinMax(f, -1, nullptr, &lo, &hi));
  EXPECT_EQ(lo, -2);
  EXPECT_EQ(hi, 7.5);
  FRAME* mask = PR_FrameCreate(FRM_ROI, 1, f->dim, true);
  twk::setRoiBit(mask, 0, 0, 0, 0, true);
  twk::setRoiBit(mask, 2, 0, 0, 0, true);
  ASSERT_TRUE(VA_VolMinMax(f, 0, mask, &lo, &hi));
  EXPECT_EQ(lo, 3);
  EXPECT_EQ(hi, 3);
  twk::setRoiBit(mask, 0, 0, 0, 0, false);
  EXPECT_FALSE(VA_VolMinMax(f, 0, mask, &lo, &hi));  // only a void voxel inside
  EXPECT_FALSE(VA_IsQuasiInteger(f));
  EXPECT_TRUE(VA_VoidVoxPresent(f));
  EXPECT_EQ(VA_VolCountVoidVoxels(f), 1);
  twk::setVoxelValue(f, 3, 0, 0, 0, 8);
  EXPECT_TRUE(VA_IsQuasiInteger(f));
  PR_FrameDelete(&mask);
  PR_FrameDelete(&f);
}

TEST(VolumeOps, RealRangeInOnePass) {
  const struct {
    std::initializer_list<double> values;
    bool defined;
    double lo, hi;
    bool whole;
  } cases[] = {{{3, -2, VOID_VALUE, 7.5}, true, -2, 7.5, false},
               {{-1024, 5, VOID_VALUE}, true, -1024, 5, true},
               {{VOID_VALUE, VOID_VALUE}, false, 0, 0, false},
               {{1, std::nan(""), 4}, true, 1, 4, false}};
  for (const auto& c : cases) {
    FRAME* f = realFrame(c.values);
    double lo = 0, hi = 0;
    bool whole = false;
    EXPECT_EQ(VA_VolRealRange(f, &lo, &hi, &whole), c.defined);
    if (c.defined) {
      EXPECT_EQ(lo, c.lo);
      EXPECT_EQ(hi, c.hi);
      EXPECT_EQ(whole, c.whole);
    }
    PR_FrameDelete(&f);
  }
  FRAME* integer = PR_FrameCreate(FRM_INT, 16, DIM3D{2, 1, 1, 1}, true);
  EXPECT_FALSE(VA_VolRealRange(integer, nullptr, nullptr, nullptr));
  PR_FrameDelete(&integer);
}

TEST(VolumeOps, MirrorTwiceRestoresVoxelsAndGeometry) {
  for (int axis = 0; axis < 4; ++axis) {
    SCOPED_TRACE(axis);
    CVol vol;
    vol.frame = PR_FrameCreate(FRM_INT, 16, DIM3D{4, 3, 2, 2}, true);
    for (int t = 0; t < 2; ++t)
      for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < 4; ++x) twk::setVoxelValue(vol.frame, x, y, z, t, x + 10 * y + 100 * z + 1000 * t);
    vol.imgPos = static_cast<DPOINT3D*>(pf_malloc(2 * sizeof(DPOINT3D)));
    vol.imgPos[0] = {0, 0, 0};
    vol.imgPos[1] = {0, 0, 2};
    vol.spc = {0.5, 0.5, 2};
    const double orient[6] = {1, 0, 0, 0, 1, 0};
    ASSERT_TRUE(VA_VolMirror(&vol, axis != 3, axis));
    const int w = 3, h = 2, d = 1, t = 1;  // the last voxel comes first along the axis
    EXPECT_EQ(twk::voxelValue(vol.frame, 0, 0, 0, 0), axis == 0 ? w : axis == 1 ? 10 * h : axis == 2 ? 100 * d : 1000 * t);
    if (axis == 0) {
      // The first voxel's world place is the old last voxel's: x = 3 * 0.5.
      EXPECT_DOUBLE_EQ(vol.imgPos[0].x, 1.5);
      EXPECT_DOUBLE_EQ(vol.orient[0], -1);
    }
    ASSERT_TRUE(VA_VolMirror(&vol, axis != 3, axis));
    EXPECT_EQ(twk::voxelValue(vol.frame, 3, 2, 1, 1), 3 + 20 + 100 + 1000);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(vol.orient[i], orient[i]);
    EXPECT_DOUBLE_EQ(vol.imgPos[1].z, 2);
    EXPECT_DOUBLE_EQ(vol.imgPos[0].x, 0);
  }
}

TEST(VolumeOps, ConversionsBetweenKinds) {
  CVol roi;
  roi.frame = PR_FrameCreate(FRM_ROI, 1, DIM3D{3, 1, 1, 1}, true);
  twk::setRoiBit(roi.frame, 1, 0, 0, 0, true);
  roi.name = L"/d/roi";
  CVol* ints = VA_RoiToInteger(&roi, false);
  ASSERT_NE(ints, nullptr);
  EXPECT_EQ(ints->Type(), FRM_INT);
  EXPECT_EQ(twk::voxelValue(ints->frame, 1, 0, 0, 0), 1);
  EXPECT_EQ(twk::voxelValue(ints->frame, 0, 0, 0, 0), 0);
  EXPECT_EQ(ints->name, CString(L"/d/roi"));
  CVol* real = VA_VolIntegerToReal(ints, false);
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(real->Type(), FRM_REAL);
  ASSERT_TRUE(VA_VolIntegerToReal(ints, 2.5, 1.0));
  EXPECT_EQ(twk::voxelValue(ints->frame, 1, 0, 0, 0), 3.5);
  EXPECT_EQ(VA_RoiToInteger(ints, false), nullptr);
  delete real;
  delete ints;

  FRAME* board = PR_FrameCreate(FRM_INT, 16, DIM3D{65, 65, 1, 1}, true);
  ASSERT_TRUE(VA_MakeCheckerBoard(board, false));
  EXPECT_EQ(twk::voxelValue(board, 0, 0, 0, 0), 0);
  EXPECT_EQ(twk::voxelValue(board, 8, 0, 0, 0), 1000);
  EXPECT_EQ(twk::voxelValue(board, 8, 8, 0, 0), 0);
  PR_FrameDelete(&board);
}
