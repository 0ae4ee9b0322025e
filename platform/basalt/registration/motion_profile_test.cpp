// The motion profile: lines through a voxel over time (closed forms on small series).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "TwkMem.h"
#include "registration/MotionProfile.h"

namespace {

// A series of w x h x d x T doubles filled by f(x, y, z, t).
template <class F>
std::vector<double> series(const DIM3D& d, F f) {
  std::vector<double> v;
  for (int t = 0; t < d.t; ++t)
    for (int z = 0; z < d.d; ++z)
      for (int y = 0; y < d.h; ++y)
        for (int x = 0; x < d.w; ++x) v.push_back(f(x, y, z, t));
  return v;
}

struct Profile {
  double* v = nullptr;
  int w = 0, h = 0;
  ~Profile() { pf_free(&v); }
  double at(int column, int row) const { return v[int64_t(row) * w + column]; }
};

const DIM3D kDims{6, 5, 4, 3};

double code(int x, int y, int z, int t) { return 1000.0 * t + 100.0 * x + 10.0 * y + z + 1; }

TEST(MotionProfile, BlocksHoldTheLinesThroughThePointOverTimeSideBySide) {
  const std::vector<double> a = series(kDims, code);
  const uint32_t point[3] = {2, 3, 1};
  // Every combination of axes: the blocks in x, y, z order, one void column between them.
  for (int mask = 1; mask < 8; ++mask) {
    SCOPED_TRACE(mask);
    const bool ax[3] = {(mask & 1) != 0, (mask & 2) != 0, (mask & 4) != 0};
    Profile p;
    p.v = VA_VolMotionProfile(false, ax[0], ax[1], ax[2], a.data(), nullptr, nullptr, &kDims, point, &p.w, &p.h);
    ASSERT_TRUE(p.v);
    EXPECT_EQ(p.h, kDims.t);
    const int lengths[3] = {kDims.w, kDims.h, kDims.d};
    int expectedWidth = -1;
    for (int k = 0; k < 3; ++k)
      if (ax[k]) expectedWidth += lengths[k] + 1;
    ASSERT_EQ(p.w, expectedWidth);
    int column = 0;
    for (int k = 0; k < 3; ++k) {
      if (!ax[k]) continue;
      for (int t = 0; t < kDims.t; ++t)
        for (int i = 0; i < lengths[k]; ++i) {
          const int x = k == 0 ? i : 2, y = k == 1 ? i : 3, z = k == 2 ? i : 1;
          ASSERT_EQ(p.at(column + i, t), code(x, y, z, t)) << k << " " << i << " " << t;
        }
      column += lengths[k];
      if (column < p.w) {
        for (int t = 0; t < kDims.t; ++t) EXPECT_EQ(p.at(column, t), VOID_VALUE);
        ++column;
      }
    }
  }
}

TEST(MotionProfile, AMovingEdgeSlantsInItsAxisOnlyAndASecondSeriesFollowsBelow) {
  // An edge at x = 1 + t: voxels right of it are bright. The y and z lines through a voxel right of
  // every edge position stay constant over time; the x line shows the edge one voxel further per row.
  const DIM3D d{8, 4, 3, 4};
  const std::vector<double> a = series(d, [](int x, int, int, int t) { return x > 1 + t ? 200.0 : 50.0; });
  const std::vector<double> b = series(d, [](int x, int y, int z, int t) { return code(x, y, z, t); });
  const uint32_t point[3] = {7, 2, 1};
  Profile p;
  p.v = VA_VolMotionProfile(false, true, true, true, a.data(), b.data(), nullptr, &d, point, &p.w, &p.h);
  ASSERT_TRUE(p.v);
  ASSERT_EQ(p.w, 8 + 1 + 4 + 1 + 3);
  ASSERT_EQ(p.h, 2 * d.t + 1);
  for (int t = 0; t < d.t; ++t) {
    int firstBright = -1;
    for (int x = 0; x < 8 && firstBright < 0; ++x)
      if (p.at(x, t) == 200.0) firstBright = x;
    EXPECT_EQ(firstBright, 2 + t);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(p.at(9 + i, t), 200.0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(p.at(14 + i, t), 200.0);
  }
  for (int c = 0; c < p.w; ++c) EXPECT_EQ(p.at(c, d.t), VOID_VALUE);  // the row between the bands
  for (int t = 0; t < d.t; ++t) {
    for (int i = 0; i < 8; ++i) EXPECT_EQ(p.at(i, d.t + 1 + t), code(i, 2, 1, t));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(p.at(9 + i, d.t + 1 + t), code(7, i, 1, t));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(p.at(14 + i, d.t + 1 + t), code(7, 2, i, t));
  }
}

TEST(MotionProfile, MaskVoidsAndEqualizing) {
  const DIM3D d{5, 3, 2, 3};
  // A pattern scaled by (1 + t): equalized, every row equals the block's mean level pattern.
  const std::vector<double> a = series(d, [](int x, int, int, int t) { return (1.0 + t) * (10.0 + x); });
  const uint32_t point[3] = {1, 1, 1};
  Profile plain, even;
  plain.v = VA_VolMotionProfile(false, true, false, false, a.data(), nullptr, nullptr, &d, point, &plain.w, &plain.h);
  even.v = VA_VolMotionProfile(true, true, false, false, a.data(), nullptr, nullptr, &d, point, &even.w, &even.h);
  ASSERT_TRUE(plain.v && even.v);
  EXPECT_EQ(plain.at(4, 2), 3.0 * 14.0);
  // Block mean = mean over t of (1 + t) x 12 = 24; row t has mean (1 + t) x 12, scale 2 / (1 + t).
  for (int t = 0; t < d.t; ++t)
    for (int x = 0; x < 5; ++x) EXPECT_NEAR(even.at(x, t), 2.0 * (10.0 + x), 1e-12) << x << " " << t;

  // A mask with voxels set voids the line voxels outside it; an all-zero mask keeps every voxel;
  // void input stays void and is left out of the equalizing means.
  std::vector<uint8_t> mask(size_t(d.w) * d.h * d.d, 0);
  Profile unmasked;
  unmasked.v = VA_VolMotionProfile(false, true, false, false, a.data(), nullptr, mask.data(), &d, point, &unmasked.w,
                                   &unmasked.h);
  ASSERT_TRUE(unmasked.v);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(unmasked.at(x, 0), 10.0 + x);
  const int64_t lineStart = 1 * 5 + 1 * 15;  // y = 1, z = 1
  mask[size_t(lineStart + 1)] = mask[size_t(lineStart + 2)] = 1;
  std::vector<double> withVoid = a;
  withVoid[size_t(2 * 30 + lineStart + 2)] = VOID_VALUE;  // t = 2, x = 2
  Profile masked;
  masked.v = VA_VolMotionProfile(true, true, false, false, withVoid.data(), nullptr, mask.data(), &d, point, &masked.w,
                                 &masked.h);
  ASSERT_TRUE(masked.v);
  for (int t = 0; t < d.t; ++t) {
    EXPECT_EQ(masked.at(0, t), VOID_VALUE);
    EXPECT_EQ(masked.at(3, t), VOID_VALUE);
    EXPECT_EQ(masked.at(4, t), VOID_VALUE);
  }
  EXPECT_EQ(masked.at(2, 2), VOID_VALUE);
  // Defined: 11, 12 at t 0; 22, 24 at t 1; 33 at t 2 -> block mean 20.4; each row scaled to it.
  EXPECT_NEAR(masked.at(1, 0), 11.0 * 20.4 / 11.5, 1e-12);
  EXPECT_NEAR(masked.at(1, 2), 20.4, 1e-12);
}

TEST(MotionProfile, RefusesWithoutAxisSeriesOrAPointInside) {
  const std::vector<double> a = series(kDims, code);
  const uint32_t inside[3] = {0, 0, 0}, outsideZ[3] = {0, 0, 4}, outsideX[3] = {6, 0, 0};
  const DIM3D empty{0, 5, 4, 3};
  struct Case {
    bool x, y, z;
    const double* series;
    const DIM3D* dims;
    const uint32_t* point;
  } cases[] = {{false, false, false, a.data(), &kDims, inside}, {true, true, true, nullptr, &kDims, inside},
               {true, false, false, a.data(), &kDims, outsideZ}, {true, false, false, a.data(), &kDims, outsideX},
               {true, false, false, a.data(), &empty, inside},   {true, false, false, a.data(), nullptr, inside}};
  for (const Case& c : cases) {
    int w = 7, h = 7;
    double* p = VA_VolMotionProfile(false, c.x, c.y, c.z, c.series, nullptr, nullptr, c.dims, c.point, &w, &h);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    pf_free(&p);
  }
}

}  // namespace
