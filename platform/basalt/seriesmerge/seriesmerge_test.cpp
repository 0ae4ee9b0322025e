// The VIBE and GRASP merge: exact quarter turns, and the whole merge on a phantom whose VIBE is the
// GRASP baseline scaled, turned and shifted by known amounts.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "ScriptedUi.h"
#include "TwkMem.h"
#include "Vol.h"
#include "seriesmerge/VibeGraspMerge.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

using VoxelFn = std::function<double(int x, int y, int z, int t)>;

std::unique_ptr<CVol> makeVol(FRMTYPE type, int bpv, DIM3D dims, SPC spc, const VoxelFn& fn) {
  auto vol = std::make_unique<CVol>();
  vol->frame = PR_FrameCreate(type, bpv, dims, true);
  vol->spc = spc;
  for (int t = 0; t < dims.t; ++t)
    for (int z = 0; z < dims.d; ++z)
      for (int y = 0; y < dims.h; ++y)
        for (int x = 0; x < dims.w; ++x) twk::setVoxelValue(vol->frame, x, y, z, t, fn(x, y, z, t));
  vol->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(dims.t) * int64_t(sizeof(DYNCRD))));
  for (int t = 0; t < dims.t; ++t) vol->dyn[t].time = vol->dyn[t].timeEnd = 100.0 + 5.0 * t;
  vol->imgPos = static_cast<DPOINT3D*>(pf_calloc(int64_t(dims.d) * int64_t(sizeof(DPOINT3D))));
  for (int z = 0; z < dims.d; ++z) vol->imgPos[z] = DPOINT3D{-30.0, 10.0, 4.0 + z * spc.z};
  return vol;
}

TEST(QuarterTurn, MovesVoxelsAsNumpyRot90) {
  // turns 1 about z: result(x', y') = source(y', h - 1 - x'), numpy rot90(a, 1, axes=(0, 1)) of an
  // array indexed [x, y, z]; about x the (y, z) plane turns, about y the (z, x) plane.
  const DIM3D dims{3, 2, 4, 1};
  FRAME* f = PR_FrameCreate(FRM_INT, 16, dims, true);
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) twk::setVoxelValue(f, x, y, z, 0, 100 * z + 10 * y + x);
  const SPC spc{0.5, 1.0, 2.0};
  const struct {
    int axis, turns;
    DIM3D dims;
    SPC spc;
    std::function<double(int, int, int)> source;  // value of the source voxel at a result voxel
  } cases[] = {
      {2, 1, {2, 3, 4, 1}, {1.0, 0.5, 2.0}, [](int x, int y, int z) { return 100 * z + 10 * (1 - x) + y; }},
      {2, -1, {2, 3, 4, 1}, {1.0, 0.5, 2.0}, [](int x, int y, int z) { return 100 * z + 10 * x + (2 - y); }},
      {2, 2, {3, 2, 4, 1}, {0.5, 1.0, 2.0}, [](int x, int y, int z) { return 100 * z + 10 * (1 - y) + (2 - x); }},
      {0, 1, {3, 4, 2, 1}, {0.5, 2.0, 1.0}, [](int x, int y, int z) { return 100 * (3 - y) + 10 * z + x; }},
      {1, 1, {4, 2, 3, 1}, {2.0, 1.0, 0.5}, [](int x, int y, int z) { return 100 * x + 10 * y + (2 - z); }},
      {1, 4, {3, 2, 4, 1}, {0.5, 1.0, 2.0}, [](int x, int y, int z) { return 100 * z + 10 * y + x; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "axis " << c.axis << " turns " << c.turns);
    SPC out;
    FRAME* r = VA_VolQuarterTurn(f, &spc, c.axis, c.turns, &out);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->dim.w, c.dims.w);
    ASSERT_EQ(r->dim.h, c.dims.h);
    ASSERT_EQ(r->dim.d, c.dims.d);
    EXPECT_EQ(out.x, c.spc.x);
    EXPECT_EQ(out.y, c.spc.y);
    EXPECT_EQ(out.z, c.spc.z);
    for (int z = 0; z < r->dim.d; ++z)
      for (int y = 0; y < r->dim.h; ++y)
        for (int x = 0; x < r->dim.w; ++x) ASSERT_EQ(twk::voxelValue(r, x, y, z, 0), c.source(x, y, z)) << x << y << z;
    PR_FrameDelete(&r);
  }
  EXPECT_EQ(VA_VolQuarterTurn(f, &spc, 3, 1, nullptr), nullptr);
  PR_FrameDelete(&f);
}

// Baseline of the phantom in patient millimetres relative to the grid's first voxel.
double baseline(double x, double y, double z) {
  auto blob = [](double dx, double dy, double dz, double s) { return std::exp(-(dx * dx + dy * dy + dz * dz) / (2 * s * s)); };
  return 100 + 300 * blob(x - 36, y - 40, z - 22, 10) + 200 * blob(x - 48, y - 32, z - 26, 12);
}

class VibeGraspMerge : public ::testing::Test {
 protected:
  static constexpr int W = 44, H = 44, D = 16, T = 10;
  const SPC spc{2.0, 2.0, 3.0};
  const double shift[3] = {3.0, -2.0, 1.5};  // mm

  // GRASP: the baseline with a sphere enhancing over time.
  std::unique_ptr<CVol> grasp() const {
    return makeVol(FRM_INT, 16, {W, H, D, T}, spc, [this](int x, int y, int z, int t) {
      const double px = x * spc.x, py = y * spc.y, pz = z * spc.z;
      const bool sphere = std::hypot(px - 60, py - 60, pz - 20) < 8;
      return baseline(px, py, pz) + (sphere && t >= 3 ? 40.0 * (t - 2) : 0.0);
    });
  }
  // VIBE: twice the baseline moved by the shift, then turned a quarter about z (numpy rot90 of an
  // array indexed [x, y, z]), so that undoing it needs rotation -90 about axis 2.
  std::unique_ptr<CVol> vibe() const {
    return makeVol(FRM_INT, 16, {W, H, D, 1}, spc, [this](int x, int y, int z, int) {
      const int ux = y, uy = H - 1 - x;  // the unturned voxel this turned voxel holds
      return 2.0 * baseline(ux * spc.x - shift[0], uy * spc.y - shift[1], z * spc.z - shift[2]);
    });
  }
  std::unique_ptr<CVol> roiOverVibe() const {
    return makeVol(FRM_ROI, 1, {W, H, D, 1}, spc, [this](int x, int y, int z, int) {
      const int ux = y, uy = H - 1 - x;
      return std::hypot(ux * spc.x - 40, uy * spc.y - 36, z * spc.z - 24) < 14;
    });
  }

  twk::ScriptedUi script;
  twk::ScopedUi installed{script};
};

TEST_F(VibeGraspMerge, RecoversTheBaselineAsTheFirstTimePoint) {
  auto g = grasp(), v = vibe();
  auto roi = roiOverVibe();
  VA_VIBEGRASPPARMS parms;
  parms.axis = 2;
  parms.rotation = -90;
  std::unique_ptr<CVol> merged(VA_VibeGraspMerge(&parms, nullptr, v.get(), roi.get(), g.get(), true));
  ASSERT_TRUE(merged) << (script.messages.empty() ? "" : script.messages[0].toUtf8());
  ASSERT_EQ(merged->T(), T + 1);
  ASSERT_EQ(merged->W(), W);
  EXPECT_DOUBLE_EQ(merged->dyn[0].time, 95.0);
  EXPECT_DOUBLE_EQ(merged->dyn[1].time, 100.0);
  // Time points 1.. are the GRASP series unchanged.
  for (int t = 0; t < T; t += 3)
    EXPECT_EQ(twk::voxelValue(merged->frame, 30, 30, 7, t + 1), twk::voxelValue(g->frame, 30, 30, 7, t));
  // Time point 0 against the baseline inside the ROI (carried back unturned and unshifted), and its
  // mean against the GRASP baseline's there.
  double se = 0, sb = 0, mergedSum = 0, baseSum = 0;
  int n = 0;
  for (int z = 0; z < D; ++z)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        if (std::hypot(x * spc.x + shift[0] - 40, y * spc.y + shift[1] - 36, z * spc.z + shift[2] - 24) >= 12) continue;
        const double b = baseline(x * spc.x, y * spc.y, z * spc.z), m = twk::voxelValue(merged->frame, x, y, z, 0);
        se += (m - b) * (m - b);
        sb += b * b;
        mergedSum += m;
        baseSum += twk::voxelValue(g->frame, x, y, z, 0);
        ++n;
      }
  ASSERT_GT(n, 100);
  EXPECT_LT(std::sqrt(se / sb), 0.02);
  EXPECT_NEAR(mergedSum / baseSum, 1.0, 0.01);
}

TEST_F(VibeGraspMerge, RefusesBadInputWithItsReason) {
  auto g = grasp(), v = vibe();
  auto g3 = makeVol(FRM_INT, 16, {W, H, D, 1}, spc, [](int, int, int, int) { return 1.0; });
  auto smallRoi = makeVol(FRM_ROI, 1, {W, H, 2, 1}, spc, [](int, int, int, int) { return 1.0; });
  VA_VIBEGRASPPARMS turned;
  turned.axis = 2;
  turned.rotation = 45;
  VA_VIBEGRASPPARMS tooMany;
  tooMany.graspFrames = T + 1;
  const struct {
    const char* name;
    const VA_VIBEGRASPPARMS parms;
    const CVol* roi;
    const CVol* grasp;
    const wchar_t* message;
  } cases[] = {
      {"3D GRASP", {}, nullptr, g3.get(), L"VA_VibeGraspMerge : GRASP series should be a 4D signal volume"},
      {"ROI of another size", {}, smallRoi.get(), g.get(), L"VA_VibeGraspMerge : Normalization ROI does not match the VIBE volume"},
      {"45 degrees", turned, nullptr, g.get(), L"VA_VibeGraspMerge : Rotation should be a multiple of 90 degrees"},
      {"frames", tooMany, nullptr, g.get(), L"VA_VibeGraspMerge : Number of GRASP frames to average should be between 1 and 10"},
  };
  const int64_t allocated = PR_GetTotalAllocSize();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    script.messages.clear();
    EXPECT_EQ(VA_VibeGraspMerge(&c.parms, nullptr, v.get(), c.roi, c.grasp, true), nullptr);
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(script.messages[0], c.message);
  }
  EXPECT_EQ(PR_GetTotalAllocSize(), allocated);
}

}  // namespace
