// Spot detection on phantoms with spots at known centres, bright and dark, in 3D and per slice.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "ScriptedUi.h"
#include "TwkMem.h"
#include "roi/Detectors.h"
#include "roi/RunComponents.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

struct Centre {
  int x, y, z;
};

// Centroids of the ROI's components (26-connected, or 8-connected per slice).
std::vector<std::array<double, 3>> centroids(const FRAME* roi, bool twoD) {
  twk::cc::RunLabels labels;
  EXPECT_TRUE(twk::cc::labelRoi(roi, 0, 26, twoD, false, &labels));
  std::vector<std::array<double, 4>> sums(size_t(labels.count), {0, 0, 0, 0});
  for (int z = 0; z < labels.dim.d; ++z)
    for (int y = 0; y < labels.dim.h; ++y) {
      const int64_t line = labels.lineOf(z, y);
      for (int64_t r = labels.lineStart[size_t(line)]; r < labels.lineStart[size_t(line) + 1]; ++r)
        for (int x = labels.runs[size_t(r)].x0; x <= labels.runs[size_t(r)].x1; ++x) {
          auto& s = sums[labels.label[size_t(r)]];
          s[0] += x;
          s[1] += y;
          s[2] += z;
          s[3] += 1;
        }
    }
  std::vector<std::array<double, 3>> out;
  for (const auto& s : sums) out.push_back({s[0] / s[3], s[1] / s[3], s[2] / s[3]});
  return out;
}

bool near(const std::array<double, 3>& c, const Centre& e) {
  return std::fabs(c[0] - e.x) <= 1 && std::fabs(c[1] - e.y) <= 1 && std::fabs(c[2] - e.z) <= 1;
}

}  // namespace

// Background 100 with noise; bright spots of 160 and dark spots of 40 (a voxel and its six
// neighbours, in 2D its four) at known centres: each polarity finds exactly its own spots.
TEST(DetectSpots, FindsBrightAndDarkSpotsAtTheirCentres) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  for (const bool threeD : {true, false}) {
    SCOPED_TRACE(threeD ? "3D" : "per slice");
    const int w = 40, h = 40, d = threeD ? 30 : 1;
    const std::vector<Centre> brightCentres = threeD ? std::vector<Centre>{{8, 8, 8}, {30, 12, 20}, {15, 30, 14}}
                                                     : std::vector<Centre>{{8, 8, 0}, {30, 12, 0}, {15, 30, 0}};
    const std::vector<Centre> darkCentres = threeD ? std::vector<Centre>{{25, 28, 9}, {10, 20, 22}}
                                                   : std::vector<Centre>{{25, 28, 0}, {10, 20, 0}};
    std::vector<double> v(size_t(w) * h * d);
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0, 2.0);
    for (double& x : v) x = 100 + noise(rng);
    auto paint = [&](const Centre& c, double value) {
      const int offsets[7][3] = {{0, 0, 0}, {1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
      for (const auto& o : offsets) {
        if (!threeD && o[2] != 0) continue;
        v[(size_t(c.z + o[2]) * h + (c.y + o[1])) * w + (c.x + o[0])] = value;
      }
    };
    for (const Centre& c : brightCentres) paint(c, 160);
    for (const Centre& c : darkCentres) paint(c, 40);
    FRAME* volume = VA_CreateVol(v.data(), 64, w, h, d, 1);
    VA_DETECTSPOTS record;
    record.mode3D = threeD ? 1 : 0;
    record.maxSpotSize = 20;
    for (const bool bright : {true, false}) {
      SCOPED_TRACE(bright ? "bright" : "dark");
      FRAME* spots = VA_VolDetectSpots(bright, &record, volume, nullptr, true);
      ASSERT_TRUE(spots);
      const auto& expected = bright ? brightCentres : darkCentres;
      const auto found = centroids(spots, !threeD);
      EXPECT_EQ(found.size(), expected.size());
      for (const auto& c : found) {
        bool matched = false;
        for (const Centre& e : expected) matched = matched || near(c, e);
        EXPECT_TRUE(matched) << c[0] << " " << c[1] << " " << c[2];
      }
      PR_FrameDelete(&spots);
    }
    PR_FrameDelete(&volume);
  }
  EXPECT_TRUE(ui.messages.empty());
}
