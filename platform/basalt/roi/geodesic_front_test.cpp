// The parallel geodesic fronts against one best-first front visiting voxels in order of (distance,
// position): the same labels bit for bit, whatever the slabs and the number of threads, with many
// ties (unit spacing), anisotropic steps, edge voxels that are reached but not passed, competing
// labels and a bounded or unbounded reach. The byte-mask peel and grow against the ROI operations'.

#include <gtest/gtest.h>

#include <oneapi/tbb/global_control.h>

#include <cmath>
#include <limits>
#include <queue>
#include <random>
#include <vector>

#include "TwkMem.h"
#include "roi/GeodesicFront.h"
#include "roi/MaskDistance.h"
#include "roi/RoiDistance.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

// One front over the whole grid: a voxel takes the label of the first voxel whose step strictly
// shortens its distance, voxels leave the queue in order of (distance, index).
std::vector<uint32_t> referenceGrow(const twk::geo::Grid& g, std::vector<uint32_t> labels,
                                    const std::vector<uint8_t>& pass, double reach) {
  const DIM3D& d = g.dim;
  std::vector<float> dist(labels.size(), std::numeric_limits<float>::infinity());
  using Item = std::pair<float, int64_t>;
  std::priority_queue<Item, std::vector<Item>, std::greater<Item>> queue;
  for (size_t i = 0; i < labels.size(); ++i)
    if (labels[i]) {
      dist[i] = 0.f;
      queue.push({0.f, int64_t(i)});
    }
  while (!queue.empty()) {
    const auto [distance, i] = queue.top();
    queue.pop();
    if (distance > dist[size_t(i)] || (pass[size_t(i)] == 2 && distance > 0.f)) continue;
    const int x = int(i % d.w), y = int((i / d.w) % d.h), z = int(i / (int64_t(d.w) * d.h));
    for (int dz = -1; dz <= 1; ++dz)
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          if ((dx | dy | dz) == 0 || (!g.mode3D && dz != 0)) continue;
          const int nx = x + dx, ny = y + dy, nz = z + dz;
          if (nx < 0 || ny < 0 || nz < 0 || nx >= d.w || ny >= d.h || nz >= d.d) continue;
          const size_t j = (size_t(nz) * d.h + ny) * d.w + nx;
          if (!pass[j]) continue;
          const float nd = distance + float(std::sqrt(dx * dx * g.sx * g.sx + dy * dy * g.sy * g.sy + dz * dz * g.sz * g.sz));
          if (nd > reach + 1e-4 || nd >= dist[j]) continue;
          dist[j] = nd;
          labels[j] = labels[size_t(i)];
          queue.push({nd, int64_t(j)});
        }
  }
  return labels;
}

}  // namespace

TEST(GeodesicFront, SameLabelsAsOneFrontWhateverTheSlabsAndThreads) {
  struct Case {
    const char* name;
    double sx, sy, sz;
    bool mode3D;
    double reach;
  };
  const Case cases[] = {{"unit spacing, many ties", 1, 1, 1, true, 7.0},
                        {"anisotropic", 0.8, 1.1, 2.5, true, 9.3},
                        {"unbounded reach", 1, 1, 1, true, std::numeric_limits<double>::max()},
                        {"per slice", 1, 1, 3, false, 6.0}};
  const DIM3D dim{37, 29, 23, 1};
  const size_t n = size_t(dim.w) * dim.h * dim.d;
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<uint8_t> pass(n);
  std::vector<uint32_t> seeds(n, 0);
  for (size_t i = 0; i < n; ++i) {
    const double r = u(rng);
    pass[i] = r < 0.25 ? 0 : r < 0.3 ? 2 : 1;  // blocked, edge, free
    if (u(rng) < 0.004) seeds[i] = 1 + uint32_t(u(rng) * 4);
  }
  twk::ProgressGuard progress(L"test", false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const twk::geo::Grid g{dim, c.sx, c.sy, c.sz, c.mode3D};
    const std::vector<uint32_t> expected = referenceGrow(g, seeds, pass, c.reach);
    int grown = 0;
    for (size_t i = 0; i < n; ++i) grown += expected[i] != 0 && seeds[i] == 0;
    EXPECT_GT(grown, int(n / 10));
    for (const int threads : {1, 8})
      for (const int planes : {0, 1, 3, 23}) {
        SCOPED_TRACE(::testing::Message() << threads << " threads, " << planes << " planes a slab");
        tbb::global_control limit(tbb::global_control::max_allowed_parallelism, size_t(threads));
        std::vector<uint32_t> labels = seeds;
        ASSERT_TRUE(twk::geo::grow(g, labels.data(), pass.data(), c.reach, progress, planes));
        ASSERT_TRUE(labels == expected);
      }
  }
}

// The byte-mask peel and grow agree voxel for voxel with the ROI operations' (ITK's exact distance
// map), in 3D and per slice, on anisotropic voxels and in voxel units.
TEST(MaskDistance, AgreesWithTheRoiPeelAndGrow) {
  const DIM3D dim{41, 33, 19, 1};
  const size_t n = size_t(dim.w) * dim.h * dim.d;
  std::mt19937 rng(23);
  std::uniform_real_distribution<double> u(0, 1);
  // Overlapping balls of random centres and radii.
  std::vector<uint8_t> mask(n, 0);
  for (int b = 0; b < 12; ++b) {
    const double cx = u(rng) * dim.w, cy = u(rng) * dim.h, cz = u(rng) * dim.d, r = 2 + 6 * u(rng);
    for (int z = 0; z < dim.d; ++z)
      for (int y = 0; y < dim.h; ++y)
        for (int x = 0; x < dim.w; ++x)
          if ((x - cx) * (x - cx) + (y - cy) * (y - cy) + (z - cz) * (z - cz) <= r * r)
            mask[(size_t(z) * dim.h + y) * dim.w + x] = 1;
  }
  const SPC anisotropic{0.8, 1.1, 2.5};
  for (const SPC* spc : {&anisotropic, static_cast<const SPC*>(nullptr)})
    for (const bool mode3D : {true, false})
      for (const double distance : {2.9, -2.1, 1.0}) {
        SCOPED_TRACE(::testing::Message() << (spc ? "mm" : "voxels") << (mode3D ? " 3D " : " per slice ") << distance);
        std::vector<uint8_t> ours = mask;
        ASSERT_TRUE(twk::maskdist::peelOrGrow(ours.data(), dim, spc, mode3D, distance));
        FRAME* roi = VA_CreateVol(mask.data(), 1, dim.w, dim.h, dim.d, 1);
        const double r = std::fabs(distance);
        ASSERT_TRUE(distance > 0 ? VA_RoiDeflate(roi, spc, mode3D, false, r, r, r, false)
                                 : VA_RoiInflate(roi, spc, mode3D, false, r, r, r, false));
        int64_t differ = 0, changed = 0;
        for (int z = 0; z < dim.d; ++z)
          for (int y = 0; y < dim.h; ++y)
            for (int x = 0; x < dim.w; ++x) {
              const size_t i = (size_t(z) * dim.h + y) * dim.w + x;
              differ += twk::roiBit(roi, x, y, z, 0) != (ours[i] != 0);
              changed += ours[i] != mask[i];
            }
        EXPECT_EQ(differ, 0);
        EXPECT_GT(changed, 100);
        PR_FrameDelete(&roi);
      }
}
