#include <gtest/gtest.h>

#include <vector>

#include "TwkMem.h"
#include "Vol.h"
#include "dynamics/Dynamics.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

// A 2x1x2 volume of T time points whose voxel values are 100 * stored time index + voxel number.
CVol* dynamicVolume(const std::vector<double>& times) {
  const int T = int(times.size());
  auto* vol = new CVol;
  vol->frame = PR_FrameCreate(FRM_INT, 16, DIM3D{2, 1, 2, T}, true);
  vol->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(T) * sizeof(DYNCRD)));
  for (int t = 0; t < T; ++t) {
    vol->dyn[t].time = times[size_t(t)];
    for (int z = 0; z < 2; ++z)
      for (int x = 0; x < 2; ++x) twk::setVoxelValue(vol->frame, x, 0, z, t, 100 * t + 2 * z + x);
  }
  return vol;
}

}  // namespace

TEST(Dynamics, IndexMapsFollowTheVaryingCoordinate) {
  // Inversion times out of order; two equal values keep acquisition order.
  const double times[] = {0, 1, 2, 3};
  const double ti[] = {0.8, 0.1, 0.4, 0.1};
  const int expected[] = {1, 3, 2, 0};  // time index of each dynamic index
  for (int i = 0; i < 4; ++i) {
    int t = -1, back = -1;
    ASSERT_TRUE(VA_DynInxToTimeInx(times, ti, 4, i, &t));
    EXPECT_EQ(t, expected[i]);
    ASSERT_TRUE(VA_TimeInxToDynInx(times, ti, 4, t, &back));
    EXPECT_EQ(back, i);
  }
  int out;
  EXPECT_FALSE(VA_DynInxToTimeInx(times, ti, 4, 4, &out));
  EXPECT_FALSE(VA_TimeInxToDynInx(times, ti, 4, -1, &out));

  CVol* vol = dynamicVolume({0, 1, 2, 3});
  for (int t = 0; t < 4; ++t) vol->dyn[t].inversionTime = ti[t];
  DYNDIM kind;
  CString name, unit;
  double* values = nullptr;
  ASSERT_TRUE(VA_VolGetDynamicDimension(vol, &kind, &name, &unit, &values));
  EXPECT_EQ(kind, DYN_INVERSION_TIME);
  EXPECT_EQ(name, CString(L"Inversion time"));
  EXPECT_EQ(unit, CString(L"sec"));
  EXPECT_EQ(values[0], 0.1);
  EXPECT_EQ(values[3], 0.8);
  pf_free(&values);
  double curve[] = {10, 11, 12, 13};  // in time order
  ASSERT_TRUE(VA_VolTacToDynamicOrder(vol, curve));
  EXPECT_EQ(curve[0], 11);
  EXPECT_EQ(curve[1], 13);
  EXPECT_EQ(curve[3], 10);
  int t = -1;
  ASSERT_TRUE(VA_VolDynInxToTimeInx(vol, 3, &t));
  EXPECT_EQ(t, 0);
  delete vol;
}

TEST(Dynamics, EnforceChronoOrderMovesVoxelsAndRecordsTogether) {
  CVol* vol = dynamicVolume({20, 0, 10});
  vol->dyn[0].echoTime = 0.02;
  ASSERT_TRUE(VA_EnforceChronoOrder(vol, false));
  EXPECT_EQ(vol->dyn[0].time, 0);
  EXPECT_EQ(vol->dyn[1].time, 10);
  EXPECT_EQ(vol->dyn[2].time, 20);
  EXPECT_EQ(vol->dyn[2].echoTime, 0.02);
  // Time point 0 now holds what was stored at 1, and so on.
  EXPECT_EQ(twk::voxelValue(vol->frame, 1, 0, 1, 0), 100 + 3);
  EXPECT_EQ(twk::voxelValue(vol->frame, 0, 0, 0, 2), 0);
  FRAME* before = vol->frame;
  ASSERT_TRUE(VA_EnforceChronoOrder(vol, false));  // already in order: nothing changes
  EXPECT_EQ(vol->frame, before);
  delete vol;
}

TEST(Dynamics, VoxelCurveIsTheNeighbourhoodMeanWithoutVoidVoxels) {
  FRAME* f = PR_FrameCreate(FRM_REAL, 64, DIM3D{3, 3, 3, 2}, true);
  for (int t = 0; t < 2; ++t)
    for (int z = 0; z < 3; ++z)
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) twk::setVoxelValue(f, x, y, z, t, t == 1 && z == 1 ? VOID_VALUE : x + 3 * y + 9 * z + 100 * t);
  double* c = VA_VolGetTac(f, 1, 1, 1, 1, false);
  ASSERT_NE(c, nullptr);
  EXPECT_DOUBLE_EQ(c[0], 13);        // mean of 0..26
  EXPECT_DOUBLE_EQ(c[1], 113);       // slice 1 void: mean of the other two slices, plus 100
  pf_free(&c);
  c = VA_VolGetTac(f, 1, 1, 1, 1, true);
  EXPECT_EQ(c[1], VOID_VALUE);       // only the void slice
  pf_free(&c);
  c = VA_VolGetTac(f, 0, 0, 0, 1, true);
  EXPECT_DOUBLE_EQ(c[0], (0 + 1 + 3 + 4) / 4.0);  // clipped at the corner
  pf_free(&c);
  EXPECT_EQ(VA_VolGetTac(f, 3, 0, 0, 1, true), nullptr);
  PR_FrameDelete(&f);
}
