// The magnetic trace of the imaging core on phantoms with known edges: a blurred noisy disc, a cone
// whose radius shrinks slice by slice, and the Canny edge map against scikit-image's.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <unistd.h>
#include <string>
#include <vector>

#include "TestFolder.h"
#include "TwkMem.h"
#include "Vol.h"
#include "render/HermiteSpline.h"
#include "trace/MagTrace.h"
#include "trace/MapFit.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace fs = std::filesystem;

namespace {

constexpr double kCx = 32, kCy = 32;  // disc centre (continuous voxel coordinates)

// A real volume of 64 x 64 x depth: 1000 inside a disc of radius r(z) about (32, 32), 0 outside,
// the edge blurred by a Gaussian of sigma 1, plus Gaussian noise of SD 50 (5 %).
std::unique_ptr<CVol> disc(int depth, double (*radius)(int z), unsigned seed = 7) {
  auto vol = std::make_unique<CVol>();
  vol->frame = PR_FrameCreate(FRM_REAL, 64, DIM3D{64, 64, depth, 1}, true);
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 50.0);
  for (int z = 0; z < depth; ++z)
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x) {
        const double r = std::hypot(x + 0.5 - kCx, y + 0.5 - kCy);
        const double v = 1000 * 0.5 * std::erfc((r - radius(z)) / std::sqrt(2.0));
        twk::setVoxelValue(vol->frame, x, y, z, 0, v + noise(rng));
      }
  return vol;
}

double twenty(int) { return 20.0; }
double cone(int z) { return 20.0 - 2.0 * z; }

VA_MAGTRACE parms(double snapRadius) {
  VA_MAGTRACE p;
  p.snapRadius = snapRadius;
  p.edge.normalization = 1.0;  // sigma 1
  p.strength = 70.0;
  return p;
}

double radiusOf(const DPOINT3D& p) { return std::hypot(p.x - kCx, p.y - kCy); }

std::vector<DPOINT3D> circle(double r, int n, double z) {
  std::vector<DPOINT3D> out;
  for (int i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n;
    out.push_back(DPOINT3D{kCx + r * std::cos(a), kCy + r * std::sin(a), z});
  }
  return out;
}

std::string run(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    if (pclose(p) != 0) return "failed: " + out;
  }
  return out;
}

}  // namespace

TEST(MagTrace, ClicksThreeVoxelsOffTheEdgeSnapOntoTheCircleAndTheSplineKeepsItsArea) {
  auto vol = disc(1, twenty);
  const VA_MAGTRACE p = parms(4.0);
  VA_SLICEMAPS maps;
  ASSERT_TRUE(VA_SliceMapsFor(&p, vol->frame, 0, 0, &maps));
  std::vector<DPOINT3D> nodes;
  for (int i = 0; i < 16; ++i) {
    SCOPED_TRACE(i);
    const double a = 2 * M_PI * i / 16;
    const double off = i % 2 ? 3.0 : -3.0;  // alternately inside and outside
    const DPOINT3D seed{kCx + (20 + off) * std::cos(a), kCy + (20 + off) * std::sin(a), 0.5};
    DPOINT3D snapped;
    ASSERT_TRUE(VA_MagPoly(vol.get(), &p, &maps, nodes.data(), int(nodes.size()), &seed, 0, &snapped));
    EXPECT_NEAR(radiusOf(snapped), 20.0, 1.0);
    EXPECT_EQ(snapped.z, 0.5);
    nodes.push_back(snapped);
  }
  // The closed spline through the nodes (tension 0.5) encloses pi 20^2 within 3 %.
  std::vector<DPOINT> plane;
  for (const DPOINT3D& n : nodes) plane.push_back(DPOINT{n.x, n.y});
  int count = 0;
  DPOINT* s = PR_CubicHermiteSpline2D(true, 0, 0.5, plane.data(), int(plane.size()), 0.1, &count);
  ASSERT_NE(s, nullptr);
  double area = 0;
  for (int i = 0; i < count; ++i) {
    const DPOINT& a = s[i];
    const DPOINT& b = s[(i + 1) % count];
    area += a.x * b.y - b.x * a.y;
  }
  pf_free(&s);
  EXPECT_NEAR(std::fabs(area) / 2, M_PI * 400, 0.03 * M_PI * 400);

  // No edge within reach of a click in the flat middle: false, the point untouched.
  const DPOINT3D middle{kCx, kCy, 0.5};
  DPOINT3D untouched{-1, -1, -1};
  EXPECT_FALSE(VA_MagPoly(vol.get(), &p, &maps, nullptr, 0, &middle, 0, &untouched));
  EXPECT_EQ(untouched.x, -1);
  // Without maps the call computes the seed's slice itself.
  DPOINT3D own;
  const DPOINT3D seed{kCx + 23, kCy, 0.5};
  ASSERT_TRUE(VA_MagPoly(vol.get(), &p, nullptr, nullptr, 0, &seed, 0, &own));
  EXPECT_NEAR(radiusOf(own), 20.0, 1.0);
  VA_FreeSliceMaps(&maps);
}

TEST(MagTrace, TheSliceMapsAreKeyedByFrameSliceTimeAndSize) {
  auto small = disc(2, twenty, 1);
  auto other = disc(2, cone, 2);
  const VA_MAGTRACE p = parms(3.0);
  VA_SLICEMAPS maps;
  ASSERT_TRUE(VA_SliceMapsFor(&p, small->frame, 1, 0, &maps));
  const double* first = maps.edges;
  ASSERT_TRUE(VA_SliceMapsFor(&p, small->frame, 1, 0, &maps));
  EXPECT_EQ(maps.edges, first);  // the same key: kept
  // Another frame of the same size (the cone's slice 1 has radius 18): recomputed.
  ASSERT_TRUE(VA_SliceMapsFor(&p, other->frame, 1, 0, &maps));
  EXPECT_EQ(maps.frame, other->frame);
  EXPECT_EQ(maps.edges[int64_t(32) * 64 + 32 + 19], 0.0);  // no edge at radius 19.5 any more
  bool edgeNear18 = false;
  for (int x = 49; x <= 51; ++x) edgeNear18 = edgeNear18 || maps.edges[int64_t(32) * 64 + x] > 0;
  EXPECT_TRUE(edgeNear18);
  // Another slice and a bad one.
  ASSERT_TRUE(VA_SliceMapsFor(&p, other->frame, 0, 0, &maps));
  EXPECT_EQ(maps.z, 0);
  EXPECT_FALSE(VA_SliceMapsFor(&p, other->frame, 2, 0, &maps));
  EXPECT_EQ(maps.edges, nullptr);
  VA_FreeSliceMaps(&maps);
}

TEST(MagTrace, ResnapMovesAContourOntoTheEdgeAlongItsNormalOrAnyDirection) {
  auto vol = disc(1, twenty);
  const VA_MAGTRACE p = parms(4.0);
  // Mode 1: a contour drawn 2 voxels outside lands within 1 voxel, order and count kept.
  std::vector<DPOINT3D> points = circle(22, 24, 0.5);
  ASSERT_TRUE(VA_MagTraceResnap(vol.get(), &p, 1, 0, points.data(), int(points.size()), false));
  for (size_t i = 0; i < points.size(); ++i) {
    EXPECT_NEAR(radiusOf(points[i]), 20.0, 1.0) << i;
    const double a = std::atan2(points[i].y - kCy, points[i].x - kCx);
    EXPECT_NEAR(std::remainder(a - 2 * M_PI * double(i) / 24, 2 * M_PI), 0.0, 0.05) << i;  // along the normal
  }
  // A contour far from every edge: false and unchanged.
  std::vector<DPOINT3D> far = circle(5, 8, 0.5);
  const std::vector<DPOINT3D> before = far;
  EXPECT_FALSE(VA_MagTraceResnap(vol.get(), &p, 0, 0, far.data(), int(far.size()), false));
  for (size_t i = 0; i < far.size(); ++i) EXPECT_EQ(far[i].x, before[i].x);
  // Bad time point.
  EXPECT_FALSE(VA_MagTraceResnap(vol.get(), &p, 0, 1, points.data(), int(points.size()), false));

  // Copy and snap on a cone: each slice's contour, copied to the next slice and re-snapped in
  // any direction, follows the shrinking radius.
  auto coneVol = disc(4, cone);
  std::vector<DPOINT3D> contour = circle(20, 24, 0.5);
  for (int z = 1; z < 4; ++z) {
    SCOPED_TRACE(z);
    for (DPOINT3D& q : contour) q.z = z + 0.5;
    ASSERT_TRUE(VA_MagTraceResnap(coneVol.get(), &p, 0, 0, contour.data(), int(contour.size()), false));
    double mean = 0;
    for (const DPOINT3D& q : contour) mean += radiusOf(q) / double(contour.size());
    EXPECT_NEAR(mean, cone(z), 0.75);
  }
}

TEST(MagTrace, TheEdgeMapAgreesWithScikitImagesCanny) {
  auto vol = disc(1, twenty);
  const fs::path folder = twk::testing::testFolder("trace_canny");
  double* values = VA_GetEdgeWorkVol(vol->frame);
  ASSERT_NE(values, nullptr);
  {
    std::ofstream out(folder / "slice.f64", std::ios::binary);
    out.write(reinterpret_cast<const char*>(values), 64 * 64 * sizeof(double));
  }
  // scikit-image's gradient is the Sobel response, 8 times the derivative in intensity per voxel.
  const std::string script =
      "import numpy as np; from skimage import feature; "
      "a = np.fromfile('" + (folder / "slice.f64").string() + "', dtype='<f8').reshape(64, 64); "
      "e = feature.canny(a, sigma=1.0, low_threshold=8 * 35.0, high_threshold=8 * 70.0); "
      "e.astype(np.uint8).tofile('" + (folder / "canny.u8").string() + "')";
  const std::string out = run("/usr/bin/python3 -c \"" + script + "\" 2>&1");
  ASSERT_EQ(out.find("failed"), std::string::npos) << out;
  std::vector<uint8_t> reference(64 * 64);
  std::ifstream(folder / "canny.u8", std::ios::binary).read(reinterpret_cast<char*>(reference.data()), 64 * 64);

  VA_URALGRAD grad{};
  grad.normalization = 1.0;
  VA_URALEDGE edge;
  VA_URALGRADtoURALEDGE(&grad, 70.0, &edge);
  EXPECT_EQ(edge.lowRadius, 1.0);
  EXPECT_EQ(edge.edgeThreshold, 70.0);
  const DIM3D dims{64, 64, 1, 1};
  double* ours = VA_DetectEdge3D(&edge, 1, values, nullptr, &dims, false);
  ASSERT_NE(ours, nullptr);
  auto near = [](auto&& isEdge, int x, int y) {
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        if (x + dx >= 0 && y + dy >= 0 && x + dx < 64 && y + dy < 64 && isEdge(x + dx, y + dy)) return true;
    return false;
  };
  auto theirs = [&](int x, int y) { return reference[size_t(y * 64 + x)] != 0; };
  auto mine = [&](int x, int y) { return ours[y * 64 + x] > 0; };
  int total = 0, matched = 0, ownTotal = 0, ownMatched = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      if (theirs(x, y)) ++total, matched += near(mine, x, y);
      if (mine(x, y)) ++ownTotal, ownMatched += near(theirs, x, y);
    }
  EXPECT_GT(total, 100);  // about the circle's circumference
  EXPECT_GE(matched, 0.9 * total) << matched << " of " << total;
  EXPECT_GE(ownMatched, 0.9 * ownTotal) << ownMatched << " of " << ownTotal;
  pf_free(&ours);
  pf_free(&values);
  fs::remove_all(folder);
}

TEST(MapFit, TheContourIsCarriedAlongTheConeFromItsOwnSliceAndBadRangesAreRefused) {
  auto coneVol = disc(6, cone);  // radius 20, 18, ... 10
  VA_MAPFITAGPARM parms;
  const std::vector<DPOINT3D> drawn = circle(14, 32, 3.5);  // on slice 3, at its edge
  int* counts = nullptr;
  DPOINT3D** out = VA_MorphContourMultiAgent(&parms, coneVol->frame, nullptr, 0, 0, 5, drawn.data(),
                                             int(drawn.size()), &counts, false);
  ASSERT_NE(out, nullptr);
  for (int z = 0; z < 6; ++z) {
    SCOPED_TRACE(z);
    ASSERT_EQ(counts[z], 32);
    double mean = 0;
    for (int i = 0; i < counts[z]; ++i) {
      EXPECT_EQ(std::floor(out[z][i].z), z);
      mean += radiusOf(out[z][i]) / counts[z];
    }
    EXPECT_NEAR(mean, cone(z), 0.75);
  }
  EXPECT_EQ(out[3][7].x, drawn[7].x);  // the drawn slice keeps the contour as drawn
  VA_FreeMorphContours(&out, &counts, 6);
  EXPECT_EQ(out, nullptr);

  // Z0 > Z1, a range outside the volume, a bad time point or too few points: null.
  struct Bad {
    int z0, z1, t, n;
  };
  for (const Bad& b : {Bad{4, 2, 0, 32}, Bad{-1, 3, 0, 32}, Bad{0, 6, 0, 32}, Bad{0, 5, 1, 32}, Bad{0, 5, 0, 2}}) {
    EXPECT_EQ(VA_MorphContourMultiAgent(&parms, coneVol->frame, nullptr, b.t, b.z0, b.z1, drawn.data(), b.n, &counts,
                                        false),
              nullptr);
    EXPECT_EQ(counts, nullptr);
  }
}
