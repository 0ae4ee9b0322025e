// Thresholds to ROI: local Otsu against scikit-image's filters.rank.otsu run by Debian's Python on
// the same levels and window, the histogram split threshold, the signal-to-gradient mask and the
// live split, on phantoms with known truth.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "roi/RoiStatistics.h"
#include "roi/Thresholds.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

struct Frame {
  FRAME* f = nullptr;
  explicit Frame(FRAME* frame) : f(frame) {}
  ~Frame() { PR_FrameDelete(&f); }
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;
};

bool runPython(const std::string& script) {
  const std::string file = twk::testing::testFile("twk_thresholds.py");
  std::ofstream(file) << script;
  const int rc = std::system(("/usr/bin/python3 " + file).c_str());
  return rc == 0;
}

}  // namespace

// A shaded two-class phantom: discs of 150 on a background of 60, both shaded by a ramp of 70
// across x, with noise. Local Otsu (radius 5) finds the discs, and agrees with scikit-image.
TEST(Thresholds, LocalOtsuFindsShadedDiscsAsScikitImageDoes) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const int w = 64, h = 48, d = 2;
  std::vector<double> v(size_t(w) * h * d);
  std::vector<uint8_t> truth(v.size());
  std::mt19937 rng(11);
  std::normal_distribution<double> noise(0.0, 4.0);
  for (int z = 0; z < d; ++z)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        // Discs of radius 4 on a 12-pixel grid: every window of radius 5 sees both classes.
        const int cx = (x / 12) * 12 + 6, cy = (y / 12) * 12 + 6;
        const bool disc = (x - cx) * (x - cx) + (y - cy) * (y - cy) <= 16;
        const size_t i = (size_t(z) * h + y) * w + x;
        truth[i] = disc;
        v[i] = (disc ? 150.0 : 60.0) + 70.0 * x / (w - 1) + noise(rng);
      }
  Frame volume(VA_CreateVol(v.data(), 64, w, h, d, 1));
  VA_ADAPTIVETHR record;
  record.radius = 5.0;
  Frame roi(VA_LocalOtzuThresholdToROI(&record, volume.f, nullptr, 0, true));
  ASSERT_TRUE(roi.f);
  int64_t a = 0, b = 0, both = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    const int x = int(i % w), y = int((i / w) % h), z = int(i / (size_t(w) * h));
    const bool r = twk::roiBit(roi.f, x, y, z, 0);
    a += r;
    b += truth[i];
    both += r && truth[i];
  }
  EXPECT_GE(2.0 * double(both) / double(a + b), 0.95);

  // The same levels through scikit-image.
  const std::string dir = twk::testing::testFolder().string() + "/";
  {
    std::ofstream out(dir + "twk_otsu_in.raw", std::ios::binary);
    out.write(reinterpret_cast<const char*>(v.data()), std::streamsize(v.size() * sizeof(double)));
  }
  ASSERT_TRUE(runPython("import numpy as np\nfrom skimage.filters import rank\nfrom skimage.morphology import disk\n"
                        "v = np.fromfile('" + dir + "twk_otsu_in.raw', dtype=np.float64).reshape((" +
                        std::to_string(d) + "," + std::to_string(h) + "," + std::to_string(w) + "))\n"
                        "lv = np.clip(np.rint((v - v.min()) / (v.max() - v.min()) * 255), 0, 255).astype(np.uint8)\n"
                        "m = np.stack([lv[z] >= rank.otsu(lv[z], disk(5)) for z in range(lv.shape[0])])\n"
                        "m.astype(np.uint8).tofile('" + dir + "twk_otsu_out.raw')\n"));
  std::vector<uint8_t> reference(v.size());
  std::ifstream in(dir + "twk_otsu_out.raw", std::ios::binary);
  in.read(reinterpret_cast<char*>(reference.data()), std::streamsize(reference.size()));
  ASSERT_TRUE(in);
  int64_t same = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    const int x = int(i % w), y = int((i / w) % h), z = int(i / (size_t(w) * h));
    same += twk::roiBit(roi.f, x, y, z, 0) == (reference[i] != 0);
  }
  EXPECT_GE(double(same) / double(v.size()), 0.98);

  record.radius = 0.5;
  EXPECT_FALSE(VA_LocalOtzuThresholdToROI(&record, volume.f, nullptr, 0, true));
  EXPECT_EQ(ui.lastMessage(), CString(L"VA_LocalOtzuThresholdToROI : Radius should be at least 1"));
}

// Two modes inside an ROI (100 with 60 % of the voxels, 200 with 40 %, within the record's
// default mass and peak ratios), a third one (at 900) outside it: the split falls between the
// ROI's two modes, whatever the outside holds.
TEST(Thresholds, HistogramSplitFallsBetweenTheRoisModes) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const int n = 40;
  std::vector<double> v(size_t(n) * n * n);
  std::mt19937 rng(5);
  std::normal_distribution<double> low(100, 12), high(200, 12), far(900, 10);
  FRAME* roi = PR_FrameCreate(FRM_ROI, 1, DIM3D{n, n, n, 1}, true);
  for (int z = 0; z < n; ++z)
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        const size_t i = (size_t(z) * n + y) * n + x;
        if (z >= 30) {
          v[i] = far(rng);
        } else {
          v[i] = x < 24 ? low(rng) : high(rng);
          twk::setRoiBit(roi, x, y, z, 0, true);
        }
      }
  Frame volume(VA_CreateVol(v.data(), 64, n, n, n, 1));
  Frame mask(roi);
  for (const int method : {VA_HISTSEG_OTSU, VA_HISTSEG_BIGAUSS}) {
    SCOPED_TRACE(method);
    VA_BIMODALSPLIT record;
    double threshold = 0;
    ASSERT_TRUE(VA_VolSegHistSingleThreshold(method, &record, volume.f, mask.f, 0, &threshold, true));
    EXPECT_GT(threshold, 130.0);
    EXPECT_LT(threshold, 170.0);
  }
  FRAME* empty = PR_FrameCreate(FRM_ROI, 1, DIM3D{n, n, n, 1}, true);
  double threshold = 0;
  EXPECT_FALSE(VA_VolSegHistSingleThreshold(0, nullptr, volume.f, empty, 0, &threshold, true));
  EXPECT_EQ(ui.lastMessage(), CString(L"VA_VolSegHistSingleThreshold : ROI is empty"));
  PR_FrameDelete(&empty);
}

TEST(Thresholds, SignalOverGradientKeepsFlatTissueAndDropsEdgesAndBackground) {
  // A 9 x 9 x 1 slice: 100 inside x 2..6, 0 outside; a ramp would give s / |g| = x / 1.
  std::vector<double> v(81, 0.0);
  for (int y = 0; y < 9; ++y)
    for (int x = 2; x <= 6; ++x) v[size_t(y) * 9 + x] = 100;
  Frame volume(VA_CreateVol(v.data(), 64, 9, 9, 1, 1));
  uint8_t* mask = VA_VolSignalOverGradMask(volume.f, 0, 1.5);
  ASSERT_TRUE(mask);
  // Interior: gradient 0, kept; the border columns x = 2 and 6: s = 100, |g| = 50 -> 100 >= 75, kept;
  // background: s = 0, dropped.
  for (int x = 0; x < 9; ++x) EXPECT_EQ(mask[4 * 9 + x], x >= 2 && x <= 6 ? 1 : 0) << x;
  pf_free(&mask);
  mask = VA_VolSignalOverGradMask(volume.f, 0, 2.5);  // 100 < 2.5 * 50: the border columns go
  ASSERT_TRUE(mask);
  for (int x = 0; x < 9; ++x) EXPECT_EQ(mask[4 * 9 + x], x >= 3 && x <= 5 ? 1 : 0) << x;
  pf_free(&mask);
  EXPECT_FALSE(VA_VolSignalOverGradMask(volume.f, 1, 0.1));
}

TEST(Thresholds, LiveSplitSharesTheMaskAtTheThreshold) {
  const double values[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  FRAME* upper = PR_FrameCreate(FRM_ROI, 1, DIM3D{2, 2, 2, 1}, true);
  for (int i = 0; i < 7; ++i) twk::setRoiBit(upper, i % 2, (i / 2) % 2, i / 4, 0, true);  // not the last voxel
  Frame up(upper);
  Frame low(VA_VolClone(upper));
  ASSERT_TRUE(VA_ThresholdVol(values, 4.0, up.f, low.f));
  int64_t nUp = 0, nLow = 0;
  for (int i = 0; i < 8; ++i) {
    const bool u = twk::roiBit(up.f, i % 2, (i / 2) % 2, i / 4, 0), l = twk::roiBit(low.f, i % 2, (i / 2) % 2, i / 4, 0);
    EXPECT_FALSE(u && l);
    EXPECT_EQ(u, i < 7 && values[i] >= 4.0) << i;
    nUp += u;
    nLow += l;
  }
  EXPECT_EQ(nUp, 4);
  EXPECT_EQ(nLow, 3);
}
