// The brain library on phantoms with known truth: region names, the surface depth map of two
// spheres, the seed finder's cube and refusals, lateral ventricles and lesions of a brain-like
// FLAIR phantom (white matter, gray rim, ventricles, lesions), and the NIfTI folder batch read back
// by Debian's nibabel.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BrainPhantom.h"
#include "Gyrelab.h"
#include "ScriptedUi.h"
#include "TestFolder.h"
#include "TwkMem.h"
#include "Vol.h"
#include "geometry/GeometryTestKit.h"
#include "io/ImageFiles.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

using namespace twk::brainphantom;

namespace {

using twk::geotest::FrameGuard;

double dice(const FRAME* roi, bool (*truth)(int, int, int)) {
  int64_t a = 0, b = 0, both = 0;
  for (int z = 0; z < D; ++z)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const bool r = twk::roiBit(roi, x, y, z, 0), t = truth(x, y, z);
        a += r, b += t, both += r && t;
      }
  return 2.0 * double(both) / double(a + b);
}

VA_WMLVENTRSEG lesionRecord() {
  VA_WMLVENTRSEG r;
  r.DoN3 = 0;  // the phantom has no bias field
  return r;
}

// ---- region names ----

TEST(RegionNames, HemispherePrefixAndParentheses) {
  const struct {
    int label;
    const wchar_t* name;
  } cases[] = {{0, L""},
               {103, L""},
               {-5, L""},
               {1, L"(RH Rostral Middle Frontal)"},
               {15, L"(RH Medial Orbitofrontal)"},
               {66, L"(LH Medial Orbitofrontal)"},
               {26, L"(RH Ventral Diencephalon)"},
               {82, L"(LH Precuneus)"},
               {54, L"(LH Inferior temporal)"},
               {51, L"(RH Supramarginal)"},
               {52, L"(LH Rostral Middle Frontal)"},
               {102, L"(LH Supramarginal)"}};
  for (const auto& c : cases) EXPECT_EQ(BP_GetCerebrAregionName(c.label), CString(c.name)) << c.label;
}

TEST(Reserved, CsfEntryReturnsNull) {
  FrameGuard f(PR_FrameCreate(FRM_INT, 16, DIM3D{4, 4, 4, 1}, true));
  BP_CSFPARM record;
  EXPECT_EQ(BP_SegmentBrainCSF(f.f, &f.f->dim, nullptr, nullptr, &record), nullptr);
  EXPECT_EQ(BP_SegmentBrainCSF(nullptr, nullptr, nullptr, nullptr, nullptr), nullptr);
}

// ---- surface depth ----

FRAME* sphereRoi(int n, double r, int t = 1) {
  FRAME* roi = PR_FrameCreate(FRM_ROI, 1, DIM3D{n, n, n, t}, true);
  const double c = (n - 1) / 2.0;
  for (int tt = 0; tt < t; ++tt)
    for (int z = 0; z < n; ++z)
      for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
          if ((x - c) * (x - c) + (y - c) * (y - c) + (z - c) * (z - c) <= r * r) twk::setRoiBit(roi, x, y, z, tt, true);
  return roi;
}

// Spheres of radius 30 and 27 mm: the inner one's boundary lies 3 mm (300) inside the outer one's
// surface, on 1 mm voxels and on 2 mm voxels (where the spacing must be used).
TEST(SurfaceDepth, BoundaryOfInnerSphereIsThreeMillimetresDeep) {
  for (const double voxel : {1.0, 2.0}) {
    const int n = int(std::ceil(70 / voxel));
    const SPC spc{voxel, voxel, voxel};
    FrameGuard outer(sphereRoi(n, 30 / voxel, 2)), inner(sphereRoi(n, 27 / voxel));
    FrameGuard depth(BP_AtrophySurfaceDepth_x100(outer.f, inner.f, &spc));
    ASSERT_NE(depth.f, nullptr);
    EXPECT_EQ(depth.f->type, FRM_INT);
    EXPECT_EQ(PR_VolBpv(depth.f), 32);
    EXPECT_EQ(depth.f->dim.t, 1);
    int64_t boundary = 0;
    double sum = 0;
    int64_t near = 0;
    const double c = (n - 1) / 2.0;
    for (int z = 0; z < n; ++z)
      for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
          const double v = twk::voxelValue(depth.f, x, y, z, 0);
          const double r = std::sqrt((x - c) * (x - c) + (y - c) * (y - c) + (z - c) * (z - c));
          const bool onBoundary = r <= 27 / voxel && r > 27 / voxel - 2;
          if (v == 16777215.0) continue;
          ++boundary;
          EXPECT_TRUE(onBoundary) << x << "," << y << "," << z;
          // Within 1.5 voxels of 3 mm everywhere (distances run between voxel centres), 3 mm on
          // average and within 1 mm of it for most voxels.
          near += std::fabs(v - 300) <= 100;
          EXPECT_NEAR(v, 300, 150 * voxel) << "voxel " << voxel << " at " << x << "," << y << "," << z;
          sum += v;
        }
    EXPECT_GT(boundary, 100);
    // Distances run from voxel centre to the nearest clear voxel's centre: on average between the
    // 3 mm of the surfaces and one voxel more (without the spacing, 2 mm voxels would give ~220).
    EXPECT_GE(sum / double(boundary), 300) << "voxel " << voxel;
    EXPECT_LE(sum / double(boundary), 300 + 100 * voxel) << "voxel " << voxel;
    if (voxel == 1.0) {
      EXPECT_GE(double(near), 0.8 * double(boundary));
    }
  }
}

TEST(SurfaceDepth, UnequalDimensionsAreRefused) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  FrameGuard a(sphereRoi(20, 8)), b(sphereRoi(21, 8));
  EXPECT_EQ(BP_AtrophySurfaceDepth_x100(a.f, b.f, nullptr), nullptr);
  EXPECT_EQ(script.lastMessage(), L"BP_AtrophySurfaceDepth_x100 : Equal dimensions are expected");
}

// ---- seed finder ----

TEST(SeedFinder, FindsTheUniformBrightCubeWithAnOddSide) {
  // Noise everywhere, a uniform bright block of 15 voxels around (20, 16, 20) holding a void voxel.
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0, 10);
  FrameGuard f(PR_FrameCreate(FRM_REAL, 64, DIM3D{40, 32, 40, 1}, true));
  for (int z = 0; z < 40; ++z)
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 40; ++x) {
        const bool block = std::abs(x - 20) <= 7 && std::abs(y - 16) <= 7 && std::abs(z - 20) <= 7;
        twk::setVoxelValue(f.f, x, y, z, 0, block ? 200 + noise(rng) * 0.1 : 50 + noise(rng));
      }
  twk::setVoxelValue(f.f, 20, 16, 20, 0, VOID_VALUE);
  const SPC spc{1, 1, 1};
  DRECT3D seed;
  ASSERT_TRUE(BP_VoldFindWMseedBasic(f.f, &spc, 0, 10.0, 1, &seed, false));
  // 10 mm at 1 mm voxels: an 11-voxel cube (half size 5) inside the block, in the middle plane.
  EXPECT_DOUBLE_EQ(seed.x1 - seed.x0, 11);
  EXPECT_DOUBLE_EQ(seed.y1 - seed.y0, 11);
  EXPECT_DOUBLE_EQ(seed.z1 - seed.z0, 11);
  EXPECT_DOUBLE_EQ(seed.y0, 16 - 5);
  EXPECT_GE(seed.x0, 13);
  EXPECT_LE(seed.x1, 28);
  EXPECT_GE(seed.z0, 13);
  EXPECT_LE(seed.z1, 28);
}

TEST(SeedFinder, RefusalsAndNoCandidate) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const SPC spc{1, 1, 1};
  DRECT3D seed;
  // Thinner than the 11-voxel cube across each direction: that direction's message.
  const struct {
    DIM3D dims;
    int direction;
    const wchar_t* message;
  } thin[] = {{{8, 30, 30, 1}, 0, L"BP_VoldFindWMseedBasic : Volume is to small in X-direction."},
              {{30, 8, 30, 1}, 1, L"BP_VoldFindWMseedBasic : Volume is to small Y-direction."},
              {{30, 30, 8, 1}, 2, L"BP_VoldFindWMseedBasic : Volume is to small Z-direction."}};
  for (const auto& c : thin) {
    FrameGuard f(PR_FrameCreate(FRM_INT, 16, c.dims, true));
    for (int z = 0; z < c.dims.d; ++z)
      for (int y = 0; y < c.dims.h; ++y)
        for (int x = 0; x < c.dims.w; ++x) twk::setVoxelValue(f.f, x, y, z, 0, (x * 7 + y * 3 + z) % 11);
    EXPECT_FALSE(BP_VoldFindWMseedBasic(f.f, &spc, 0, 10.0, c.direction, &seed, false));
    EXPECT_EQ(script.lastMessage(), c.message);
  }
  script.clear();
  // A constant volume has no cube above its average: false, and no message.
  FrameGuard flat(VA_VolCreateUniform(FRM_INT, DIM3D{30, 30, 30, 1}, 100.0));
  EXPECT_FALSE(BP_VoldFindWMseedBasic(flat.f, &spc, 0, 10.0, 1, &seed, false));
  // An ROI frame or a missing spacing: false at once.
  FrameGuard roi(sphereRoi(30, 10));
  EXPECT_FALSE(BP_VoldFindWMseedBasic(roi.f, &spc, 0, 10.0, 1, &seed, false));
  EXPECT_FALSE(BP_VoldFindWMseedBasic(flat.f, nullptr, 0, 10.0, 1, &seed, false));
  EXPECT_TRUE(script.messages.empty());
}

// ---- lateral ventricle ----

TEST(LateralVentricle, HolesOfTheBrainMaskMatchTheVentricles) {
  std::unique_ptr<CVol> flair(brainPhantom());
  // The seed of the phantom lies in white matter, clear of the ventricles and lesions.
  DRECT3D seed;
  ASSERT_TRUE(BP_VoldFindWMseedBasic(flair->frame, &flair->spc, 0, 10.0, 1, &seed, false));
  for (int z = int(seed.z0); z < int(seed.z1); ++z)
    for (int y = int(seed.y0); y < int(seed.y1); ++y)
      for (int x = int(seed.x0); x < int(seed.x1); ++x) {
        ASSERT_TRUE(kWhite.inside(x, y, z)) << x << "," << y << "," << z;
        ASSERT_FALSE(inVentricle(x, y, z) || lesionOf(x, y, z) >= 0) << x << "," << y << "," << z;
      }
  VA_LATERALVENTRSEG record;
  FrameGuard v(BP_BrainSegmentLateralVentricle(&record, flair.get(), flair->frame, false));
  ASSERT_NE(v.f, nullptr);
  ASSERT_EQ(v.f->dim.w, W);
  ASSERT_EQ(v.f->dim.d, D);
  EXPECT_GE(dice(v.f, inVentricle), 0.85);
}

// ---- lesions ----

struct LesionCounts {
  int64_t inLesion[3] = {0, 0, 0};
  int64_t elsewhere = 0;
};

LesionCounts countLesions(const FRAME* roi) {
  LesionCounts c;
  for (int z = 0; z < D; ++z)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        if (!twk::roiBit(roi, x, y, z, 0)) continue;
        const int i = lesionOf(x, y, z);
        if (i >= 0) ++c.inLesion[i];
        else ++c.elsewhere;
      }
  return c;
}

int64_t truthVoxels(int lesion) {
  int64_t n = 0;
  for (int z = 0; z < D; ++z)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) n += lesionOf(x, y, z) == lesion;
  return n;
}

TEST(Lesions, BothVariantsFindTheLesionsAndDropTheSmallOne) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  std::unique_ptr<CVol> flair(brainPhantom());
  VA_WMLVENTRSEG record = lesionRecord();
  using Variant = FRAME* (*)(const VA_WMLVENTRSEG*, const CVol*, const CVol*, const CVol*, double*, FRAME**, FRAME**,
                             FRAME**, FRAME**, VA_ROIINFO*, bool);
  // Variant 2 works on the signal scaled to a maximum of 10000.
  double top = 0;
  for (int z = 0; z < D; ++z)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) top = std::max(top, twk::voxelValue(flair->frame, x, y, z, 0));
  for (Variant variant : {&BP_SegmentWMlesionsMriFlairUsingVentricle_Algo2,
                          &BP_SegmentWMlesionsMriFlairUsingVentricle_Algo4}) {
    const bool two = variant == &BP_SegmentWMlesionsMriFlairUsingVentricle_Algo2;
    SCOPED_TRACE(two ? "variant 2" : "variant 4");
    const double scale = two ? 10000 / top : 1.0;
    const int64_t baseline = PR_GetTotalAllocSize();
    double threshold = -1;
    FRAME *gray = nullptr, *ventricle = nullptr, *mprage = reinterpret_cast<FRAME*>(1), *white = nullptr;
    VA_ROIINFO info;
    FrameGuard lesions(
        variant(&record, flair.get(), nullptr, nullptr, &threshold, &gray, &ventricle, &mprage, &white, &info, false));
    FrameGuard g(gray), v(ventricle), w(white);
    ASSERT_NE(lesions.f, nullptr);
    EXPECT_EQ(mprage, nullptr);  // no MPRAGE was used
    ASSERT_NE(gray, nullptr);
    ASSERT_NE(ventricle, nullptr);
    ASSERT_NE(white, nullptr);
    EXPECT_GT(threshold / scale, 100);
    EXPECT_LT(threshold / scale, 180);
    EXPECT_NEAR(info.mean / scale, 100, 10);
    EXPECT_GE(dice(ventricle, inVentricle), 0.85);
    const LesionCounts c = countLesions(lesions.f);
    for (int i = 0; i < 2; ++i) EXPECT_NEAR(double(c.inLesion[i]), double(truthVoxels(i)), 0.2 * truthVoxels(i));
    EXPECT_EQ(c.inLesion[2], 0);  // under the smallest lesion size
    EXPECT_LT(c.elsewhere, truthVoxels(0) / 5);
    // Everything but the caller's frames was freed.
    PR_FrameDelete(&lesions.f);
    PR_FrameDelete(&g.f);
    PR_FrameDelete(&v.f);
    PR_FrameDelete(&w.f);
    EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
  }
  EXPECT_TRUE(script.messages.empty());
}

// The gray matter from a given mask, and from an MPRAGE (T1 contrast: WM 100, GM 60, ventricles 10)
// shifted by three voxels and registered onto the FLAIR: the gray rim is found, the registered
// MPRAGE comes back in the FLAIR's grid, and the lesions are still found.
TEST(Lesions, GrayMatterFromAGivenMaskOrARegisteredMprage) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  std::unique_ptr<CVol> flair(brainPhantom());
  auto grayTruth = [](int x, int y, int z) { return kBrain.inside(x, y, z) && !kWhite.inside(x, y, z); };
  // A given mask wins over the MPRAGE; the ventricle guard is taken out of it.
  CVol mask;
  mask.frame = PR_FrameCreate(FRM_ROI, 1, DIM3D{W, H, D, 1}, true);
  for (int z = 0; z < D; ++z)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) twk::setRoiBit(mask.frame, x, y, z, 0, grayTruth(x, y, z) || inVentricle(x, y, z));
  VA_WMLVENTRSEG record = lesionRecord();
  record.UseGMmask = 1;
  FRAME* gray = nullptr;
  FrameGuard lesions(BP_SegmentWMlesionsMriFlairUsingVentricle_Algo4(&record, flair.get(), nullptr, &mask, nullptr,
                                                                     &gray, nullptr, nullptr, nullptr, nullptr, false));
  FrameGuard g(gray);
  ASSERT_NE(lesions.f, nullptr);
  ASSERT_NE(gray, nullptr);
  int64_t inVentricles = 0, rim = 0;
  for (int z = 0; z < D; ++z)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (twk::roiBit(gray, x, y, z, 0)) inVentricle(x, y, z) ? ++inVentricles : rim += grayTruth(x, y, z);
  EXPECT_EQ(inVentricles, 0);
  EXPECT_GT(rim, 1000);

  // The MPRAGE, three voxels off along x.
  CVol t1;
  t1.frame = PR_FrameCreate(FRM_INT, 16, DIM3D{W, H, D, 1}, true);
  t1.spc = flair->spc;
  std::mt19937 rng(11);
  std::normal_distribution<double> noise(0.0, 2.0);
  for (int z = 0; z < D; ++z)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const int sx = x - 3;
        double v = 0;
        if (kBrain.inside(sx, y, z)) v = kWhite.inside(sx, y, z) ? 100 : 60;
        if (inVentricle(sx, y, z)) v = 10;
        if (v > 0) v += noise(rng);
        twk::setVoxelValue(t1.frame, x, y, z, 0, v);
      }
  record = lesionRecord();
  record.UseMprage = 1;
  gray = nullptr;
  FRAME* registered = nullptr;
  FrameGuard found(BP_SegmentWMlesionsMriFlairUsingVentricle_Algo4(&record, flair.get(), &t1, nullptr, nullptr, &gray,
                                                                   nullptr, &registered, nullptr, nullptr, false));
  FrameGuard g2(gray), r(registered);
  ASSERT_NE(found.f, nullptr);
  ASSERT_NE(gray, nullptr);
  ASSERT_NE(registered, nullptr);
  EXPECT_EQ(registered->dim.w, W);
  EXPECT_EQ(registered->dim.d, D);
  // The registered MPRAGE lies on the FLAIR: white matter reads ~100 where the FLAIR's does.
  EXPECT_NEAR(twk::voxelValue(registered, int(kCx) + 10, int(kCy), int(kCz) - 10, 0), 100, 12);
  int64_t grayOnRim = 0, grayTotal = 0;
  for (int z = 0; z < D; ++z)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (twk::roiBit(gray, x, y, z, 0)) ++grayTotal, grayOnRim += grayTruth(x, y, z);
  EXPECT_GT(grayTotal, 1000);
  EXPECT_GE(double(grayOnRim), 0.7 * double(grayTotal));
  const LesionCounts c = countLesions(found.f);
  for (int i = 0; i < 2; ++i) EXPECT_NEAR(double(c.inLesion[i]), double(truthVoxels(i)), 0.2 * truthVoxels(i));
}

// A FLAIR under a smooth bias field (0.8 to 1.2 along x): without correction the healthy white
// matter spreads (7 % of its mean) and variant 2's threshold lets bright white matter through; with
// N3 on the working copy the spread falls to about 2 % and only the lesions remain.
TEST(Lesions, NonuniformityCorrectionRunsOnTheWorkingCopy) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  std::unique_ptr<CVol> flair(brainPhantom());
  for (int z = 0; z < D; ++z)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const double v = twk::voxelValue(flair->frame, x, y, z, 0);
        twk::setVoxelValue(flair->frame, x, y, z, 0, v * (0.8 + 0.4 * x / (W - 1.0)));
      }
  VA_WMLVENTRSEG record = lesionRecord();
  for (const int n3 : {0, 1}) {
    record.DoN3 = uint8_t(n3);
    VA_ROIINFO info;
    FrameGuard lesions(BP_SegmentWMlesionsMriFlairUsingVentricle_Algo2(&record, flair.get(), nullptr, nullptr, nullptr,
                                                                       nullptr, nullptr, nullptr, nullptr, &info,
                                                                       false));
    ASSERT_NE(lesions.f, nullptr);
    const LesionCounts c = countLesions(lesions.f);
    if (!n3) {
      EXPECT_GT(info.stdev / info.mean, 0.05);
      continue;
    }
    EXPECT_LT(info.stdev / info.mean, 0.035);
    for (int i = 0; i < 2; ++i) EXPECT_NEAR(double(c.inLesion[i]), double(truthVoxels(i)), 0.2 * truthVoxels(i));
    EXPECT_EQ(c.inLesion[2], 0);
    EXPECT_LT(c.elsewhere, truthVoxels(0) / 4);
  }
}

// Without a mask, an MPRAGE or a cortical peel there is no gray matter: the variants go on with an
// empty gray-matter region (the white matter is the whole brain mask) instead of a missing one.
TEST(Lesions, NoGrayMatterSourceGivesAnEmptyRegion) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  std::unique_ptr<CVol> flair(brainPhantom());
  VA_WMLVENTRSEG record = lesionRecord();
  record.WMLzoneDeflate = 0;
  FRAME *gray = nullptr, *white = nullptr;
  FrameGuard lesions(BP_SegmentWMlesionsMriFlairUsingVentricle_Algo4(&record, flair.get(), nullptr, nullptr, nullptr,
                                                                     &gray, nullptr, nullptr, &white, nullptr, false));
  FrameGuard g(gray), w(white);
  ASSERT_NE(lesions.f, nullptr);
  ASSERT_NE(gray, nullptr);
  ASSERT_NE(white, nullptr);
  int64_t grayCount = 0, rimInWhite = 0;
  for (int z = 0; z < D; ++z)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        grayCount += twk::roiBit(gray, x, y, z, 0);
        rimInWhite += twk::roiBit(white, x, y, z, 0) && kBrain.inside(x, y, z) && !kWhite.inside(x, y, z);
      }
  EXPECT_EQ(grayCount, 0);
  EXPECT_GT(rimInWhite, 1000);  // the gray rim stays in the searched region
  EXPECT_TRUE(script.messages.empty());
}

// A brain stem (a white-matter column below the brain, slices 0..8): the default cutoff clears the
// slices below the first one holding 5 % of the largest slice's area; a cutoff of 0 keeps it.
TEST(Lesions, BrainStemRemovalClearsTheLowSlicesOnlyWithACutoff) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  std::unique_ptr<CVol> flair(brainPhantom());
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0.0, 2.0);
  for (int z = 0; z <= 8; ++z)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if ((x - kCx) * (x - kCx) + (y - kCy) * (y - kCy) <= 16 && !kBrain.inside(x, y, z))
          twk::setVoxelValue(flair->frame, x, y, z, 0, 100 + noise(rng));
  for (const double cutoff : {0.05, 0.0}) {
    VA_WMLVENTRSEG record = lesionRecord();
    record.StemWeightThr = cutoff;
    FRAME* white = nullptr;
    FrameGuard lesions(BP_SegmentWMlesionsMriFlairUsingVentricle_Algo4(&record, flair.get(), nullptr, nullptr,
                                                                       nullptr, nullptr, nullptr, nullptr, &white,
                                                                       nullptr, false));
    FrameGuard w(white);
    ASSERT_NE(white, nullptr);
    int64_t stem = 0;
    for (int z = 0; z <= 3; ++z)
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) stem += twk::roiBit(white, x, y, z, 0);
    if (cutoff > 0) EXPECT_EQ(stem, 0);
    else EXPECT_GT(stem, 20);
  }
}

TEST(Lesions, RefusalsAndTheEmptyAnswerOfVariantFour) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  // A 4D FLAIR: "3D Volume Required" from both variants.
  CVol series;
  series.frame = PR_FrameCreate(FRM_INT, 16, DIM3D{8, 8, 8, 2}, true);
  VA_WMLVENTRSEG record = lesionRecord();
  EXPECT_EQ(BP_SegmentWMlesionsMriFlairUsingVentricle_Algo2(&record, &series, nullptr, nullptr, nullptr, nullptr,
                                                            nullptr, nullptr, nullptr, nullptr, false),
            nullptr);
  EXPECT_EQ(script.lastMessage(), L"BP_SegmentWMlesionsMriFlairUsingVentricle_Algo2 : 3D Volume Required");
  EXPECT_EQ(BP_SegmentWMlesionsMriFlairUsingVentricle_Algo4(&record, &series, nullptr, nullptr, nullptr, nullptr,
                                                            nullptr, nullptr, nullptr, nullptr, false),
            nullptr);
  EXPECT_EQ(script.lastMessage(), L"BP_SegmentWMlesionsMriFlairUsingVentricle_Algo4 : 3D Volume Required");
  // Variant 2 without seed statistics needs a positive healthy peel.
  std::unique_ptr<CVol> flair(brainPhantom());
  record.UseWMseedForNormVoxels = 0;
  record.WmDeflateToNormal = 0;
  EXPECT_EQ(BP_SegmentWMlesionsMriFlairUsingVentricle_Algo2(&record, flair.get(), nullptr, nullptr, nullptr, nullptr,
                                                            nullptr, nullptr, nullptr, nullptr, false),
            nullptr);
  EXPECT_EQ(script.lastMessage(),
            L"BP_SegmentWMlesionsMriFlairUsingVentricle_Algo2 : Positive deflate is expected in *Lesions deflate to "
            L"Normal voxels*");
  // A FLAIR without a valid orientation: the rotation says so, nothing is made.
  std::unique_ptr<CVol> unoriented(brainPhantom());
  for (double& o : unoriented->orient) o = 0;
  record = lesionRecord();
  EXPECT_EQ(BP_SegmentWMlesionsMriFlairUsingVentricle_Algo4(&record, unoriented.get(), nullptr, nullptr, nullptr,
                                                            nullptr, nullptr, nullptr, nullptr, nullptr, false),
            nullptr);
  EXPECT_EQ(script.lastMessage(), L"VA_RotateToSpecifiedOrient : Valid orientation is required");
  // The refusals free what they made (the counted memory is back to where it was).
  {
    const int64_t baseline = PR_GetTotalAllocSize();
    record = lesionRecord();
    record.WmDeflateToNormal = 0;
    EXPECT_EQ(BP_SegmentWMlesionsMriFlairUsingVentricle_Algo2(&record, flair.get(), nullptr, nullptr, nullptr,
                                                              nullptr, nullptr, nullptr, nullptr, nullptr, false),
              nullptr);
    record = lesionRecord();
    EXPECT_EQ(BP_SegmentWMlesionsMriFlairUsingVentricle_Algo4(&record, unoriented.get(), nullptr, nullptr, nullptr,
                                                              nullptr, nullptr, nullptr, nullptr, nullptr, false),
              nullptr);
    // A failure midway (a flat volume has no white-matter seed, after the copy, N3 and rotation).
    CVol flat;
    flat.frame = VA_VolCreateUniform(FRM_INT, DIM3D{24, 24, 24, 1}, 50.0);
    flat.spc = SPC{2, 2, 2};
    record.DoN3 = 1;
    const int64_t withFlat = PR_GetTotalAllocSize();
    EXPECT_EQ(BP_SegmentWMlesionsMriFlairUsingVentricle_Algo2(&record, &flat, nullptr, nullptr, nullptr, nullptr,
                                                              nullptr, nullptr, nullptr, nullptr, false),
              nullptr);
    EXPECT_EQ(PR_GetTotalAllocSize(), withFlat);
    PR_FrameDelete(&flat.frame);
    EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
  }
  // Variant 4 on a brain whose lesions are no brighter than 1.1 x the white matter: an empty ROI
  // and a threshold of 0.
  std::unique_ptr<CVol> faint(brainPhantom());
  for (int z = 0; z < D; ++z)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (lesionOf(x, y, z) >= 0) twk::setVoxelValue(faint->frame, x, y, z, 0, 104);
  record = lesionRecord();
  double threshold = -1;
  FrameGuard none(BP_SegmentWMlesionsMriFlairUsingVentricle_Algo4(&record, faint.get(), nullptr, nullptr, &threshold,
                                                                  nullptr, nullptr, nullptr, nullptr, nullptr, false));
  ASSERT_NE(none.f, nullptr);
  EXPECT_EQ(threshold, 0);
  EXPECT_EQ(countLesions(none.f).elsewhere + countLesions(none.f).inLesion[0], 0);
}

// ---- batch ----

std::filesystem::path tempFolder(const char* name) {
  return twk::testing::testFolder("gyrelab_" + std::string(name));
}

TEST(Batch, FoldersMustDifferAndNotNest) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const std::filesystem::path root = tempFolder("nest");
  std::filesystem::create_directories(root / "in" / "out");
  const VA_WMLVENTRSEG record = lesionRecord();
  const CString in = CString((root / "in").wstring().c_str());
  const struct {
    CString source, destination;
  } cases[] = {{in, in},
               {in, in + L"/"},
               {in, CString((root / "in" / ".." / "in").wstring().c_str())},
               {in, CString((root / "in" / "out").wstring().c_str())},
               {CString((root / "in" / "out").wstring().c_str()), in}};
  for (const auto& c : cases) {
    script.clear();
    EXPECT_FALSE(BP_WMlesionsFlair_BatchProcess(&record, c.source, c.destination));
    EXPECT_EQ(script.lastMessage(), L"BP_WMlesionsFlair_BatchProcess : Two different folders are required");
  }
  // No NIfTI file: the folder's message.
  script.clear();
  const CString empty = CString((root / "empty").wstring().c_str());
  std::filesystem::create_directories(root / "empty");
  EXPECT_FALSE(BP_WMlesionsFlair_BatchProcess(&record, empty, CString((root / "dst").wstring().c_str())));
  EXPECT_EQ(script.lastMessage(),
            L"BP_WMlesionsFlair_BatchProcess : No NIFTI files are present in the source folder " + empty);
  EXPECT_TRUE(std::filesystem::is_empty(root / "in" / "out"));
}

TEST(Batch, WritesLesionMasksThatNibabelReadsWithTheInputsGeometry) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const std::filesystem::path root = tempFolder("batch");
  std::filesystem::create_directories(root / "src");
  std::filesystem::create_directories(root / "dst");
  std::unique_ptr<CVol> flair(brainPhantom());
  const double orient[6] = {1, 0, 0, 0, 1, 0};
  const CString src = CString((root / "src").wstring().c_str()), dst = CString((root / "dst").wstring().c_str());
  ASSERT_TRUE(VA_RAW_VolSaveFile(src + L"/case1.nii", flair->frame, 0, &flair->spc, orient, &flair->imgPos[0], nullptr,
                                 MODALITY_MR, RAWSAVE_SINGLE, L"", nullptr, nullptr, false));
  // A 4D file is skipped silently.
  FrameGuard series(PR_FrameCreate(FRM_INT, 16, DIM3D{8, 8, 8, 2}, true));
  ASSERT_TRUE(VA_RAW_VolSaveFile(src + L"/series.nii", series.f, -1, &flair->spc, orient, &flair->imgPos[0], nullptr,
                                 MODALITY_MR, RAWSAVE_SINGLE, L"", nullptr, nullptr, false));
  script.answerMessage(IDYES);
  VA_WMLVENTRSEG record = lesionRecord();
  ASSERT_TRUE(BP_WMlesionsFlair_BatchProcess(&record, src, dst));
  EXPECT_FALSE(script.pendingAnswers());
  EXPECT_EQ(script.messages.front(), L"2 Volumes will be processed. Proceed?");
  EXPECT_FALSE(std::filesystem::exists(root / "dst" / "series_lesion_mask.nii"));
  const std::filesystem::path out = root / "dst" / "case1_lesion_mask.nii";
  ASSERT_TRUE(std::filesystem::exists(out));
  // nibabel: the mask has the input's shape and affine, and holds the two large lesions.
  const std::string script_py =
      "import nibabel as nib, numpy as np, sys\n"
      "a = nib.load(sys.argv[1]); b = nib.load(sys.argv[2])\n"
      "assert a.shape == b.shape, (a.shape, b.shape)\n"
      "assert np.allclose(a.affine, b.affine, atol=1e-4), (a.affine, b.affine)\n"
      "m = np.asarray(b.dataobj)\n"
      "print(int((m > 0).sum()))\n";
  const std::filesystem::path py = root / "check.py";
  FILE* f = std::fopen(py.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs(script_py.c_str(), f);
  std::fclose(f);
  const std::string command = std::string(TWK_DEBIAN_PYTHON) + " " + py.string() + " " +
                              (root / "src" / "case1.nii").string() + " " + out.string() + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[512] = {};
  std::string output;
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  ASSERT_EQ(pclose(pipe), 0) << output;
  const long voxels = std::atol(output.c_str());
  EXPECT_NEAR(double(voxels), double(truthVoxels(0) + truthVoxels(1)), 0.3 * double(truthVoxels(0) + truthVoxels(1)));
}

// Declining the question processes nothing.
TEST(Batch, NoToTheQuestionWritesNothing) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const std::filesystem::path root = tempFolder("decline");
  std::filesystem::create_directories(root / "src");
  std::filesystem::create_directories(root / "dst");
  FrameGuard small(PR_FrameCreate(FRM_INT, 16, DIM3D{8, 8, 8, 1}, true));
  const CString src = CString((root / "src").wstring().c_str());
  ASSERT_TRUE(VA_RAW_VolSaveFile(src + L"/a.nii", small.f, 0, nullptr, nullptr, nullptr, nullptr, MODALITY_MR,
                                 RAWSAVE_SINGLE, L"", nullptr, nullptr, false));
  script.answerMessage(IDNO);
  const VA_WMLVENTRSEG record = lesionRecord();
  EXPECT_FALSE(BP_WMlesionsFlair_BatchProcess(&record, src, CString((root / "dst").wstring().c_str())));
  EXPECT_TRUE(std::filesystem::is_empty(root / "dst"));
}

}  // namespace
