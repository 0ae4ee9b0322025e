// EdgeWave on signal phantoms with known truth (blurred, noisy spheres; a block behind a one-voxel
// bridge), competing ROIs and the N largest components, against hand-computed answers.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "ScriptedUi.h"
#include "TwkMem.h"
#include "roi/EdgeWave.h"
#include "roi/EdgeWaveLive.h"
#include "roi/EdgeWaveRegions.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

struct FrameGuard {
  FRAME* f = nullptr;
  explicit FrameGuard(FRAME* frame) : f(frame) {}
  ~FrameGuard() { PR_FrameDelete(&f); }
  FrameGuard(const FrameGuard&) = delete;
  FrameGuard& operator=(const FrameGuard&) = delete;
};

struct Sphere {
  double cx, cy, cz, r;
  bool inside(int x, int y, int z) const {
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) + (z - cz) * (z - cz) <= r * r;
  }
};

// Separable Gaussian blur of sigma 1 voxel (radius 3), edges clamped.
void blur(std::vector<double>& v, int n) {
  double k[7];
  double sum = 0;
  for (int i = -3; i <= 3; ++i) sum += k[i + 3] = std::exp(-0.5 * i * i);
  for (double& w : k) w /= sum;
  for (int axis = 0; axis < 3; ++axis) {
    std::vector<double> out(v.size());
    for (int z = 0; z < n; ++z)
      for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
          double s = 0;
          for (int i = -3; i <= 3; ++i) {
            int p[3] = {x, y, z};
            p[axis] = std::clamp(p[axis] + i, 0, n - 1);
            s += k[i + 3] * v[(size_t(p[2]) * n + p[1]) * n + p[0]];
          }
          out[(size_t(z) * n + y) * n + x] = s;
        }
    v.swap(out);
  }
}

// An n^3 real frame: value inside the spheres (later ones win), 0 outside, blurred by a 1-voxel
// Gaussian, then noise of noiseSd added.
FRAME* phantom(int n, const std::vector<std::pair<Sphere, double>>& spheres, double noiseSd, bool blurred = true) {
  std::vector<double> v(size_t(n) * n * n, 0.0);
  for (int z = 0; z < n; ++z)
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x)
        for (const auto& [s, value] : spheres)
          if (s.inside(x, y, z)) v[(size_t(z) * n + y) * n + x] = value;
  if (blurred) blur(v, n);
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, noiseSd);
  if (noiseSd > 0)
    for (double& x : v) x += noise(rng);
  return VA_CreateVol(v.data(), 64, n, n, n, 1);
}

double dice(const FRAME* roi, const Sphere& s) {
  int64_t a = 0, b = 0, both = 0;
  for (int z = 0; z < roi->dim.d; ++z)
    for (int y = 0; y < roi->dim.h; ++y)
      for (int x = 0; x < roi->dim.w; ++x) {
        const bool r = twk::roiBit(roi, x, y, z, 0), t = s.inside(x, y, z);
        a += r;
        b += t;
        both += r && t;
      }
  return a + b ? 2.0 * double(both) / double(a + b) : 0.0;
}

int64_t countWhere(const FRAME* roi, int x0, int x1) {
  int64_t n = 0;
  for (int z = 0; z < roi->dim.d; ++z)
    for (int y = 0; y < roi->dim.h; ++y)
      for (int x = x0; x <= x1; ++x) n += twk::roiBit(roi, x, y, z, 0);
  return n;
}

FRAME* boxRoi(int n, int x0, int x1, int y0, int y1, int z0, int z1) {
  FRAME* roi = PR_FrameCreate(FRM_ROI, 1, DIM3D{n, n, n, 1}, true);
  for (int z = z0; z <= z1; ++z)
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) twk::setRoiBit(roi, x, y, z, 0, true);
  return roi;
}

}  // namespace

// Sphere of radius 10, 1-voxel blurred edge, noise SD 5 % of its signal: the default record
// (relative units, seed components) and absolute units (largest component), in 3D and per slice.
TEST(EdgeWave, SegmentsANoisyBlurredSphereFromASeed) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const Sphere truth{20, 20, 20, 10};
  FrameGuard volume(phantom(40, {{truth, 100.0}}, 5.0));
  const DRECT3D seed{19, 19, 11, 22, 22, 30};
  const SPC spc{1, 1, 1};
  const struct {
    const char* name;
    int units;
    uint8_t mode3D;
  } cases[] = {{"relative 3D", 1, 1}, {"relative per slice", 1, 0}, {"absolute 3D", 0, 1}, {"absolute per slice", 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VA_EW record;  // the command's start values
    record.mode3D = c.mode3D;
    if (c.units == 0) {
      record.siUnits = 0;
      record.siLow = 52.8;
      record.siHigh = 135.0;
      record.connectedComponents = 0;
    }
    FrameGuard roi(VA_EdgeWave(&record, volume.f, &spc, &seed, 1, nullptr, nullptr, true));
    ASSERT_TRUE(roi.f);
    EXPECT_EQ(roi.f->type, FRM_ROI);
    EXPECT_GE(dice(roi.f, truth), 0.95);
  }
  EXPECT_TRUE(ui.messages.empty());
}

// Two touching spheres, a seed in each, competitive growth: each label holds its own sphere.
TEST(EdgeWave, CompetingSeedsShareTouchingSpheres) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const Sphere left{12, 20, 20, 8}, right{28, 20, 20, 8};
  FrameGuard volume(phantom(40, {{left, 100.0}, {right, 100.0}}, 5.0));
  const DRECT3D seeds[2] = {{10, 18, 18, 14, 22, 22}, {26, 18, 18, 30, 22, 22}};
  VA_EW record;
  record.competitiveGrowth = 1;
  record.peel = 4.0;  // wider than the blurred neck where the spheres touch
  const SPC spc{1, 1, 1};
  FrameGuard labels(VA_EdgeWaveLabels(&record, volume.f, 0, &spc, seeds, 2, nullptr, true));
  ASSERT_TRUE(labels.f);
  FRAME** rois = VA_LabelMapToRoiArr(labels.f, 2, true);
  ASSERT_TRUE(rois);
  EXPECT_GE(dice(rois[0], left), 0.9);
  EXPECT_GE(dice(rois[1], right), 0.9);
  PR_FrameArrDelete(&rois, 2);
}

// A brighter block behind a one-voxel bridge: without edges the front runs through the bridge into
// the block; with "Use edges" it stops at the block's face.
TEST(EdgeWave, EdgesStopTheFrontAtABridge) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const int n = 40;
  std::vector<double> v(size_t(n) * n * n, 0.0);
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0.0, 3.0);
  const Sphere ball{12, 20, 20, 8};
  for (int z = 0; z < n; ++z)
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        double value = 0;
        if (ball.inside(x, y, z)) value = 100;
        if (x >= 20 && x <= 25 && y == 20 && z == 20) value = 100;  // the bridge
        if (x >= 26 && x <= 36 && y >= 14 && y <= 26 && z >= 14 && z <= 26) value = 170;
        v[(size_t(z) * n + y) * n + x] = value + noise(rng);
      }
  FrameGuard volume(VA_CreateVol(v.data(), 64, n, n, n, 1));
  const DRECT3D seed{10, 18, 18, 14, 22, 22};
  VA_EW record;
  record.siLow = 0.5;
  record.siHigh = 2.0;
  record.gaussianDownscale = 0;
  record.peel = 2.0;
  record.grow = 8.0;
  record.useEdges = 0;
  FrameGuard open(VA_EdgeWave(&record, volume.f, nullptr, &seed, 1, nullptr, nullptr, true));
  ASSERT_TRUE(open.f);
  EXPECT_GT(countWhere(open.f, 27, 36), 5);  // through the bridge
  record.useEdges = 1;
  FrameGuard stopped(VA_EdgeWave(&record, volume.f, nullptr, &seed, 1, nullptr, nullptr, true));
  ASSERT_TRUE(stopped.f);
  EXPECT_EQ(countWhere(stopped.f, 27, 36), 0);
  EXPECT_GE(dice(stopped.f, ball), 0.85);
}

TEST(EdgeWave, RefusesBadIntervalsAndMissingSeeds) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  FrameGuard volume(phantom(12, {{Sphere{6, 6, 6, 4}, 100.0}}, 0.0));
  const DRECT3D seed{5, 5, 5, 7, 7, 7};
  VA_EW record;
  record.siLow = 2.0;
  record.siHigh = 1.0;
  EXPECT_FALSE(VA_EdgeWave(&record, volume.f, nullptr, &seed, 1, nullptr, nullptr, true));
  record = VA_EW{};
  EXPECT_FALSE(VA_EdgeWave(&record, volume.f, nullptr, nullptr, 0, nullptr, nullptr, true));
  const DRECT3D outside{50, 50, 50, 60, 60, 60};
  EXPECT_FALSE(VA_EdgeWave(&record, volume.f, nullptr, &outside, 1, nullptr, nullptr, true));
  ASSERT_EQ(ui.messages.size(), 3u);
  EXPECT_EQ(ui.messages[0], L"VA_EdgeWave : Invalid signal intensity interval");
  EXPECT_EQ(ui.messages[1], L"VA_EdgeWave : At least one seed is expected");
  EXPECT_EQ(ui.messages[2], L"VA_EdgeWave : At least one seed is expected");
}

TEST(EdgeWave, SeedAverageCountsTheBoxVoxelsInRange) {
  const double values[8] = {1, 2, 3, 4, 5, 6, 7, 100};
  FrameGuard volume(VA_CreateVol(values, 64, 2, 2, 2, 1));
  const DRECT3D all{0, 0, 0, 2, 2, 2}, corner{0, 0, 0, 1, 1, 1};
  double average = 0;
  ASSERT_TRUE(VA_VolAverageOverSeeds(volume.f, 0, &all, 1, 0.0, 1e59, &average));
  EXPECT_DOUBLE_EQ(average, 128.0 / 8);
  ASSERT_TRUE(VA_VolAverageOverSeeds(volume.f, 0, &all, 1, 0.0, 50.0, &average));
  EXPECT_DOUBLE_EQ(average, 4.0);
  ASSERT_TRUE(VA_VolAverageOverSeeds(volume.f, 0, &corner, 1, 0.0, 1e59, &average));
  EXPECT_DOUBLE_EQ(average, 1.0);
  ASSERT_TRUE(VA_VolAverageOverSeeds(volume.f, 0, &all, 1, 200.0, 300.0, &average));
  EXPECT_EQ(average, 1e60);
  EXPECT_FALSE(VA_VolAverageOverSeeds(volume.f, 1, &all, 1, 0.0, 1e59, &average));
}

// Competing ROIs give a partition of their union; a label whose ROI lies inside another loses
// every voxel and still has its (empty) frame at its own index.
TEST(EdgeWave, MultiLabelPartitionsTheUnionAndKeepsLostLabelsInPlace) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const int n = 20;
  FrameGuard a(boxRoi(n, 2, 11, 2, 17, 2, 17));
  FrameGuard b(boxRoi(n, 8, 17, 2, 17, 2, 17));
  FrameGuard inner(boxRoi(n, 9, 10, 9, 10, 9, 10));  // inside the overlap of a and b
  for (const bool boundaryOnly : {false, true}) {
    SCOPED_TRACE(boundaryOnly);
    const FRAME* rois[3] = {a.f, inner.f, b.f};
    FrameGuard map(VA_EdgeWaveML(rois, nullptr, 3, 0, 1.0, boundaryOnly, true));
    ASSERT_TRUE(map.f);
    FRAME** parts = VA_LabelMapToRoiArr(map.f, 3, true);
    ASSERT_TRUE(parts);
    int64_t counts[3] = {};
    for (int z = 0; z < n; ++z)
      for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
          const bool inUnion = twk::roiBit(a.f, x, y, z, 0) || twk::roiBit(b.f, x, y, z, 0);
          int owners = 0;
          for (int k = 0; k < 3; ++k) {
            const bool in = twk::roiBit(parts[k], x, y, z, 0);
            owners += in;
            counts[k] += in;
          }
          ASSERT_EQ(owners, inUnion ? 1 : 0) << x << " " << y << " " << z;
        }
    EXPECT_EQ(counts[1], 0);                     // the inner ROI has no voxel of its own
    EXPECT_EQ(counts[0] + counts[2], 16 * 16 * 16);
    EXPECT_NEAR(double(counts[0]), double(counts[2]), 16.0 * 16 * 2);  // split near the middle
    // Voxels held by one ROI only stay with it.
    EXPECT_TRUE(twk::roiBit(parts[0], 3, 5, 5, 0));
    EXPECT_TRUE(twk::roiBit(parts[2], 16, 5, 5, 0));
    PR_FrameArrDelete(&parts, 3);
  }
  const FRAME* one[1] = {a.f};
  EXPECT_FALSE(VA_EdgeWaveML(one, nullptr, 1, 0, 1.0, false, false));
}

TEST(EdgeWave, NLargestComponentsComeLargestFirst) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const int n = 30;
  FrameGuard roi(boxRoi(n, 1, 12, 1, 12, 1, 12));  // 12^3
  for (int z = 1; z <= 8; ++z)
    for (int y = 16; y <= 23; ++y)
      for (int x = 16; x <= 23; ++x) twk::setRoiBit(roi.f, x, y, z, 0, true);  // 8^3
  for (int z = 20; z <= 25; ++z)
    for (int y = 2; y <= 7; ++y)
      for (int x = 20; x <= 25; ++x) twk::setRoiBit(roi.f, x, y, z, 0, true);  // 6^3
  VA_EW record;
  record.distanceUnits = 0;
  record.peel = 1.0;
  record.grow = 2.0;
  const struct {
    int n, count;
  } cases[] = {{2, 2}, {5, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    int count = 0;
    FRAME** parts = VA_RoiEdgeWaveMultiMaxCC(&record, roi.f, nullptr, c.n, &count, true);
    ASSERT_TRUE(parts);
    ASSERT_EQ(count, c.count);
    const int64_t expected[3] = {12 * 12 * 12, 8 * 8 * 8, 6 * 6 * 6};
    for (int k = 0; k < count; ++k) EXPECT_EQ(countWhere(parts[k], 0, n - 1), expected[k]) << k;
    PR_FrameArrDelete(&parts, count);
  }
}

namespace {

int64_t roiCount(const FRAME* roi) { return countWhere(roi, 0, roi->dim.w - 1); }

// A sphere of radius 10 (signal 100) inside a blanket sphere of radius 16 (signal 20 around it),
// noise SD 5 %, 1-voxel blur.
struct LivePhantom {
  const Sphere truth{20, 20, 20, 10};
  FrameGuard volume{phantom(40, {{Sphere{20, 20, 20, 16}, 20.0}, {Sphere{20, 20, 20, 10}, 100.0}}, 5.0)};
  FrameGuard blanket{PR_FrameCreate(FRM_ROI, 1, DIM3D{40, 40, 40, 1}, true)};
  const DRECT3D seed{19, 19, 19, 22, 22, 22};
  const SPC spc{1, 1, 1};
  const DIM3D dims{40, 40, 40, 1};
  double maximum = 0;  // of the edge map
  double* edges = nullptr;
  LivePhantom() {
    const Sphere b{20, 20, 20, 16};
    for (int z = 0; z < 40; ++z)
      for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
          if (b.inside(x, y, z)) twk::setRoiBit(blanket.f, x, y, z, 0, true);
    const VA_EWL defaults;
    edges = VA_EdgeStrengthMap(&defaults.edge, volume.f, 0, blanket.f, &maximum, true);
  }
  ~LivePhantom() { pf_free(&edges); }
  FRAME* run(const VA_EWL& record, VA_EWLCACHE* cache, const DRECT3D* at = nullptr) {
    return VA_EdgeWaveLive(&record, 0, at ? at : &seed, volume.f, &dims, &spc, blanket.f, cache, edges, true);
  }
};

}  // namespace

// The live EdgeWave of the start record finds the sphere (4.19 cm3 at 1 mm voxels), with the plain
// and the corrected values, and keeps its values in the cache between calls.
TEST(EdgeWaveLive, FindsTheSphereInsideItsBlanket) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  LivePhantom p;
  ASSERT_TRUE(p.edges);
  EXPECT_GT(p.maximum, 0);
  for (const uint8_t correct : {0, 1}) {
    SCOPED_TRACE(correct ? "corrected" : "plain");
    VA_EWL record;
    record.correctNonuniformity = correct;
    record.edge.edgeThreshold = p.maximum;  // the dialog's start: no voxel above it
    VA_EWLCACHE cache;
    FrameGuard roi(p.run(record, &cache));
    ASSERT_TRUE(roi.f);
    EXPECT_NEAR(double(roiCount(roi.f)) * 0.001, 4.19, 0.419);
    EXPECT_GE(dice(roi.f, p.truth), 0.9);
    ASSERT_TRUE(cache.values);
    const FRAME* kept = cache.values;
    FrameGuard again(p.run(record, &cache));
    EXPECT_EQ(cache.values, kept);
    EXPECT_EQ(roiCount(again.f), roiCount(roi.f));
    VA_EWLCacheFree(&cache);
    EXPECT_FALSE(cache.values);
  }
  EXPECT_TRUE(ui.messages.empty());
}

// Edges above the threshold are reached but not passed: a threshold of half the map's maximum
// keeps the front inside the sphere's surface that a wide growth would cross; a core peeled away
// gives an empty ROI, not a failure; bad seeds and intervals are refused.
TEST(EdgeWaveLive, EdgesHoldTheFrontAndBadInputIsRefused) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  LivePhantom p;
  ASSERT_TRUE(p.edges);
  VA_EWL record;
  record.correctNonuniformity = 0;
  record.useSiLow = 0;  // the dark rim is allowed too: only edges can hold the front
  record.peel = 3.0;
  record.growFactor = 2.0;  // reach 9 mm past the core
  record.useEdges = 0;
  FrameGuard open(p.run(record, nullptr));
  ASSERT_TRUE(open.f);
  EXPECT_GT(roiCount(open.f), 6000);  // past the sphere into the rim
  record.useEdges = 1;
  record.edge.edgeThreshold = 0.5 * p.maximum;
  FrameGuard held(p.run(record, nullptr));
  ASSERT_TRUE(held.f);
  EXPECT_GE(dice(held.f, p.truth), 0.85);

  record.useEdges = 0;
  record.useSiLow = 1;
  record.peel = 12.0;  // deeper than the sphere
  FrameGuard gone(p.run(record, nullptr));
  ASSERT_TRUE(gone.f);
  EXPECT_EQ(roiCount(gone.f), 0);
  EXPECT_TRUE(ui.messages.empty());

  const DRECT3D outside{50, 50, 50, 52, 52, 52};
  EXPECT_FALSE(p.run(record, nullptr, &outside));
  record.siLow = 2.0;
  record.siHigh = 1.0;
  EXPECT_FALSE(p.run(record, nullptr));
  EXPECT_EQ(ui.messages.size(), 2u);
}
