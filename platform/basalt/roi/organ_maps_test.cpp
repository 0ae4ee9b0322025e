// The heart of a chest CT phantom, the structure graph of an ROI slice and the blood-vessel map of
// a perfusion phantom, against their known truth.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "DynExp.h"
#include "ScriptedUi.h"
#include "TwkMem.h"
#include "Vol.h"
#include "roi/OrganRecipes.h"
#include "roi/VesselMap.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

using Inside = std::function<bool(int, int, int)>;

FRAME* roiFrame(const DIM3D& d, const Inside& inside) {
  FRAME* f = PR_FrameCreate(FRM_ROI, 1, DIM3D{d.w, d.h, d.d, 1}, true);
  for (int z = 0; z < d.d; ++z)
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x)
        if (inside(x, y, z)) twk::setRoiBit(f, x, y, z, 0, true);
  return f;
}

double dice(const FRAME* roi, const Inside& truth) {
  int64_t a = 0, b = 0, both = 0;
  for (int z = 0; z < roi->dim.d; ++z)
    for (int y = 0; y < roi->dim.h; ++y)
      for (int x = 0; x < roi->dim.w; ++x) {
        const bool r = twk::roiBit(roi, x, y, z, 0), t = truth(x, y, z);
        a += r;
        b += t;
        both += r && t;
      }
  return a + b ? 2.0 * double(both) / double(a + b) : 0.0;
}

std::unique_ptr<CVol> volOf(FRAME* frame) {
  auto vol = std::make_unique<CVol>();
  vol->frame = frame;
  vol->spc = SPC{1, 1, 1};
  return vol;
}

double sq(double v) { return v * v; }

}  // namespace

// A chest phantom at 1 mm: body 40 HU in air, two lungs of -800, between them mediastinal fat of
// -100 holding the heart (a ball of radius 9, 40 HU), an aorta touching it behind (radius 3, 40 HU)
// and the spine behind that (radius 5, 700 HU); noise SD 10. The recipe finds the ball; lungs that
// never share a slice are refused, and so is a lung on another grid.
TEST(HeartCT, FindsTheHeartBetweenTheLungs) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const DIM3D d{80, 64, 26, 1};
  const auto leftLung = [](int x, int y, int z) { return z >= 2 && z < 24 && sq((x - 18) / 11.0) + sq((y - 32) / 22.0) <= 1; };
  const auto rightLung = [](int x, int y, int z) { return z >= 2 && z < 24 && sq((x - 62) / 11.0) + sq((y - 32) / 22.0) <= 1; };
  const auto heart = [](int x, int y, int z) { return sq(x - 40) + sq(y - 26) + sq(z - 13) <= 81; };
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0, 10);
  std::vector<double> hu(size_t(d.w) * d.h * d.d);
  for (int z = 0; z < d.d; ++z)
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x) {
        double v = -1000;
        if (sq((x - 40) / 38.0) + sq((y - 32) / 30.0) <= 1) {
          v = 40;
          if (leftLung(x, y, z) || rightLung(x, y, z)) v = -800;
          else if (x > 28 && x < 52 && y > 10 && y < 56) v = -100;
          if (heart(x, y, z) || sq(x - 40) + sq(y - 38) <= 9) v = 40;
          if (sq(x - 40) + sq(y - 47) <= 25) v = 700;
        }
        hu[(size_t(z) * d.h + y) * d.w + x] = v + noise(rng);
      }
  auto ct = volOf(VA_CreateVol(hu.data(), 64, d.w, d.h, d.d, 1));
  auto left = volOf(roiFrame(d, leftLung));
  auto right = volOf(roiFrame(d, rightLung));
  VA_HEARTSEGCT record;
  FRAME* found = VA_VolSegmentHeartCT(&record, ct.get(), left.get(), right.get(), true);
  ASSERT_NE(found, nullptr) << ui.lastMessage().toUtf8();
  EXPECT_GE(dice(found, heart), 0.9);
  EXPECT_FALSE(twk::roiBit(found, 40, 47, 13, 0));  // the spine is not heart
  EXPECT_FALSE(twk::roiBit(found, 40, 40, 3, 0));   // nor the aorta away from it
  PR_FrameDelete(&found);

  auto upper = volOf(roiFrame(d, [&](int x, int y, int z) { return z < 10 && leftLung(x, y, z); }));
  auto lower = volOf(roiFrame(d, [&](int x, int y, int z) { return z >= 12 && rightLung(x, y, z); }));
  EXPECT_EQ(VA_VolSegmentHeartCT(&record, ct.get(), upper.get(), lower.get(), true), nullptr);
  EXPECT_NE(ui.lastMessage().Find(L"Lung ROIs do not overlap in any slice"), -1) << ui.lastMessage().toUtf8();
  auto small = volOf(roiFrame(DIM3D{10, 10, 10, 1}, [](int, int, int) { return true; }));
  EXPECT_EQ(VA_VolSegmentHeartCT(&record, ct.get(), left.get(), small.get(), true), nullptr);
}

// A 7 x 7 square (pixels 1..7) on a lattice of step 2: vertices 2, 4, 6 give 2 x 2 cells and eight
// triangles, two of them with three neighbours. On a blob, neighbours are mutual and share the edge.
TEST(StructureGraph, LatticeTrianglesAndTheirNeighbours) {
  const DIM3D d{10, 10, 1, 1};
  FRAME* square = roiFrame(d, [](int x, int y, int) { return x >= 1 && x <= 7 && y >= 1 && y <= 7; });
  VA_STRUCGRAPHPARM parameters;
  int count = 0;
  TRINODE* t = VA_RoiSliceStructureGraph(&parameters, square, &count);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(count, 8);
  int interior = 0;
  for (int i = 0; i < count; ++i) {
    int n = 0;
    for (const uint32_t k : t[i].neighbour) n += k != VA_TRINODE_NONE;
    interior += n == 3;
    for (int k = 0; k < 3; ++k) {
      EXPECT_TRUE(twk::roiBit(square, t[i].x[k], t[i].y[k], 0, 0));
      EXPECT_EQ((t[i].x[k] - 2) % 2 + (t[i].y[k] - 2) % 2, 0);
    }
  }
  EXPECT_EQ(interior, 2);
  pf_free(&t);
  PR_FrameDelete(&square);

  const DIM3D big{40, 30, 1, 1};
  FRAME* blob = roiFrame(big, [](int x, int y, int) { return sq(x - 15) + sq(y - 14) <= 120 || (x > 20 && std::abs(y - 14) < 3); });
  parameters.sizeThreshold = 1.0;
  t = VA_RoiSliceStructureGraph(&parameters, blob, &count);
  ASSERT_NE(t, nullptr);
  for (int i = 0; i < count; ++i)
    for (int k = 0; k < 3; ++k) {
      const uint32_t j = t[i].neighbour[k];
      if (j == VA_TRINODE_NONE) continue;
      ASSERT_LT(j, uint32_t(count));
      int back = 0, shared = 0;
      for (int m = 0; m < 3; ++m) {
        back += t[j].neighbour[m] == uint32_t(i);
        for (int e : {k, (k + 1) % 3}) shared += t[j].x[m] == t[i].x[e] && t[j].y[m] == t[i].y[e];
      }
      EXPECT_EQ(back, 1);
      EXPECT_EQ(shared, 2);
    }
  pf_free(&t);
  FRAME* empty = roiFrame(big, [](int, int, int) { return false; });
  EXPECT_EQ(VA_RoiSliceStructureGraph(&parameters, empty, &count), nullptr);
  EXPECT_EQ(count, 0);
  PR_FrameDelete(&empty);
  PR_FrameDelete(&blob);
}

namespace {

// A bolus: 0 before start, then a gamma-variate shape of the given width, peak 1.
double bolus(double t, double start, double width) {
  if (t <= start) return 0;
  const double s = (t - start) / width;
  return s * s * std::exp(2.0 - 2.0 * s);
}

}  // namespace

// 20 time points stored in reverse order; an artery tube and a vein tube follow their input
// functions (scaled, noisy), a three-voxel blob of arterial curves is too small to be a vessel, and
// the organ enhances slowly: two vessel maps with DICE >= 0.9 and the organ with the rest.
// Functions shorter than the series, or flat ones, are refused.
TEST(VesselMap, VoxelCurvesFollowTheirInputFunctions) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const DIM3D d{20, 20, 4, 20};
  const int T = d.t;
  const auto artery = [](int x, int y, int) { return x >= 3 && x <= 5 && y >= 2 && y <= 17; };
  const auto vein = [](int x, int y, int) { return x >= 13 && x <= 15 && y >= 2 && y <= 17; };
  const auto blob = [](int x, int y, int z) { return z == 1 && y == 10 && x >= 9 && x <= 11; };
  const auto organ = [&](int x, int y, int z) { return !artery(x, y, z) && !vein(x, y, z); };
  auto functions = std::make_unique<INPUTFUNC[]>(2);
  for (int k = 0; k < T; ++k) {
    functions[0].values[k] = 50 + 400 * bolus(k, 2, 3);
    functions[1].values[k] = 50 + 250 * bolus(k, 5, 5);
    functions[0].times[k] = functions[1].times[k] = k;
  }
  functions[0].count = functions[1].count = T;
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0, 4);
  std::vector<double> values(size_t(d.w) * d.h * d.d * T);
  for (int k = 0; k < T; ++k) {
    const int stored = T - 1 - k;
    for (int z = 0; z < d.d; ++z)
      for (int y = 0; y < d.h; ++y)
        for (int x = 0; x < d.w; ++x) {
          double v = 100 + 40 * (1 - std::exp(-k / 8.0));
          if (artery(x, y, z) || blob(x, y, z)) v = 80 + 0.8 * 400 * bolus(k, 2, 3);
          else if (vein(x, y, z)) v = 60 + 0.9 * 250 * bolus(k - 1, 5, 5);  // one time point late
          values[((size_t(stored) * d.d + z) * d.h + y) * d.w + x] = v + noise(rng);
        }
  }
  FRAME* frame = VA_CreateVol(values.data(), 64, d.w, d.h, d.d, T);
  FRAME* roi = roiFrame(d, [](int, int, int) { return true; });
  std::vector<int> order(static_cast<size_t>(T));
  for (int k = 0; k < T; ++k) order[size_t(k)] = T - 1 - k;
  const VA_VESSMAP_PARM record{1, 10, 2, 10.0, 10.0, 10.0, 1};
  const SPC spc{1, 1, 1};
  FRAME** maps = VA_VolVesselMap(&record, frame, roi, &spc, order.data(), functions.get(), 2, true, true);
  ASSERT_NE(maps, nullptr) << ui.lastMessage().toUtf8();
  EXPECT_GE(dice(maps[0], artery), 0.9);
  EXPECT_GE(dice(maps[1], vein), 0.9);
  EXPECT_GE(dice(maps[2], organ), 0.95);
  EXPECT_TRUE(twk::roiBit(maps[2], 10, 10, 1, 0));  // the small blob is organ
  for (int z = 0; z < d.d; ++z)  // a partition of the ROI
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x)
        ASSERT_EQ(twk::roiBit(maps[0], x, y, z, 0) + twk::roiBit(maps[1], x, y, z, 0) + twk::roiBit(maps[2], x, y, z, 0), 1);
  PR_FrameArrDelete(&maps, 3);

  functions[1].count = T - 1;
  EXPECT_EQ(VA_VolVesselMap(&record, frame, roi, &spc, order.data(), functions.get(), 2, true, true), nullptr);
  EXPECT_NE(ui.lastMessage().Find(L"Input function 2 is shorter than the series"), -1) << ui.lastMessage().toUtf8();
  functions[1].count = T;
  for (int k = 0; k < T; ++k) functions[1].values[k] = 50;
  EXPECT_EQ(VA_VolVesselMap(&record, frame, roi, &spc, order.data(), functions.get(), 2, true, true), nullptr);
  EXPECT_NE(ui.lastMessage().Find(L"Input function 2 does not enhance"), -1) << ui.lastMessage().toUtf8();
  PR_FrameDelete(&roi);
  PR_FrameDelete(&frame);
}
