// Ridge detection on a tube network with known centrelines, bright and dark.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "ScriptedUi.h"
#include "TwkMem.h"
#include "roi/Ridges.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

// Three tubes of radius 1.5 along the axes: (x, 12, 10), (28, y, 20), (12, 30, z).
constexpr int kW = 40, kH = 40, kD = 30;

// Distance of (x, y, z) to the nearest centreline, in the cross-section's Chebyshev metric.
int offCentre(int x, int y, int z) {
  const int a = std::max(std::abs(y - 12), std::abs(z - 10));
  const int b = std::max(std::abs(x - 28), std::abs(z - 20));
  const int c = std::max(std::abs(x - 12), std::abs(y - 30));
  return std::min({a, b, c});
}

bool inTube(int x, int y, int z) {
  auto r2 = [](int u, int v) { return u * u + v * v; };
  return r2(y - 12, z - 10) <= 2 || r2(x - 28, z - 20) <= 2 || r2(x - 12, y - 30) <= 2;
}

}  // namespace

TEST(Ridges, SkeletonsOfATubeNetworkLieOnItsCentrelines) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  for (const bool bright : {true, false}) {
    SCOPED_TRACE(bright ? "bright" : "dark");
    std::vector<double> v(size_t(kW) * kH * kD);
    std::mt19937 rng(2);
    std::normal_distribution<double> noise(0, 2.0);
    for (int z = 0; z < kD; ++z)
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
          v[(size_t(z) * kH + y) * kW + x] = (inTube(x, y, z) ? (bright ? 160.0 : 40.0) : 100.0) + noise(rng);
    FRAME* volume = VA_CreateVol(v.data(), 64, kW, kH, kD, 1);
    VA_RIDGEPARM record;
    record.mode3D = 1;
    record.output = 2;
    record.smoothRadius = 4.0;
    FRAME* base = nullptr;
    FRAME* ridges = nullptr;
    SPC spacing;
    ASSERT_TRUE(VA_VolDetectRelativeRidges(bright, &record, volume, 0, nullptr, false, &base, &ridges, &spacing, true));
    ASSERT_TRUE(base && ridges);
    EXPECT_EQ(ridges->type, FRM_ROI);
    int64_t voxels = 0, off = 0;
    std::vector<int> covered(3, 0);
    for (int z = 0; z < kD; ++z)
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
          if (!twk::roiBit(ridges, x, y, z, 0)) continue;
          ++voxels;
          // Away from the grid's faces, where the smoothing runs out of background.
          const bool interior = x >= 3 && y >= 3 && z >= 3 && x < kW - 3 && y < kH - 3 && z < kD - 3;
          if (interior && offCentre(x, y, z) > 1) ++off;
        }
    // Each centreline is found along most of its interior length.
    for (int x = 4; x < kW - 4; ++x) {
      bool hit = false;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dz = -1; dz <= 1; ++dz) hit = hit || twk::roiBit(ridges, x, 12 + dy, 10 + dz, 0);
      covered[0] += hit;
    }
    EXPECT_GT(voxels, 0);
    EXPECT_EQ(off, 0);
    EXPECT_GE(covered[0], (kW - 8) * 8 / 10);
    // The elevation map lies in [0, 1] and peaks on a tube.
    record.output = 0;
    FRAME* map = nullptr;
    FRAME* base2 = nullptr;
    ASSERT_TRUE(VA_VolDetectRelativeRidges(bright, &record, volume, 0, nullptr, false, &base2, &map, nullptr, true));
    EXPECT_EQ(map->type, FRM_REAL);
    EXPECT_GT(twk::voxelValue(map, 20, 12, 10, 0), twk::voxelValue(map, 20, 22, 10, 0));
    PR_FrameDelete(&map);
    PR_FrameDelete(&base2);
    PR_FrameDelete(&base);
    PR_FrameDelete(&ridges);
    PR_FrameDelete(&volume);
  }
  // A resolution coefficient of 2 doubles the base grid and halves its spacing.
  std::vector<double> flat(size_t(10) * 8 * 6, 5.0);
  FRAME* small = VA_CreateVol(flat.data(), 64, 10, 8, 6, 1);
  VA_RIDGEPARM record;
  record.resolutionCoefficient = 2.0;
  FRAME* base = nullptr;
  FRAME* ridges = nullptr;
  SPC spacing;
  const SPC spc{1.0, 1.0, 3.0};
  ASSERT_TRUE(VA_VolDetectRelativeRidges(true, &record, small, 0, &spc, false, &base, &ridges, &spacing, true));
  EXPECT_EQ(base->dim.w, 20);
  EXPECT_EQ(base->dim.h, 16);
  EXPECT_EQ(base->dim.d, 6);  // per slice: only in-plane
  EXPECT_DOUBLE_EQ(spacing.x, 0.5);
  EXPECT_DOUBLE_EQ(spacing.z, 3.0);
  PR_FrameDelete(&base);
  PR_FrameDelete(&ridges);
  PR_FrameDelete(&small);
  EXPECT_TRUE(ui.messages.empty());
}
