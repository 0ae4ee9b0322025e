// Comparison measures against numpy (histogram2d for mutual information), closed forms for ZNCC,
// and the patient-geometry transform between an axial and a sagittal grid of one phantom.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ScriptedUi.h"
#include "TwkMem.h"
#include "Vol.h"
#include "geometry/GeometryTestKit.h"
#include "registration/DicomTransform.h"
#include "registration/Measures.h"
#include "registration/Reslice.h"
#include "roi/RoiComponents.h"

namespace {

using twk::geotest::FrameGuard;
using twk::geotest::runPython;
using twk::geotest::testDir;
using twk::geotest::writeRaw;

constexpr char kMeasuresFolder[] = "measures_test";
using Measures = twk::geotest::ScriptedSuite<kMeasuresFolder>;

// All voxels, t slowest then z, y, x.
std::vector<double> allValues(const FRAME* f) {
  std::vector<double> v;
  for (int t = 0; t < f->dim.t; ++t)
    for (int z = 0; z < f->dim.d; ++z)
      for (int y = 0; y < f->dim.h; ++y)
        for (int x = 0; x < f->dim.w; ++x) v.push_back(twk::voxelValue(f, x, y, z, t));
  return v;
}

std::vector<double> numbers(const std::string& text) {
  std::istringstream in(text);
  std::vector<double> out;
  for (double v; in >> v;) out.push_back(v);
  return out;
}

TEST_F(Measures, RmsdMutualInformationZnccAndTvEqualNumpy) {
  const DIM3D dims{11, 9, 5, 3};
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(0, 100);
  FrameGuard a(PR_FrameCreate(FRM_REAL, 64, dims, false)), b(PR_FrameCreate(FRM_REAL, 64, dims, false));
  FrameGuard roi(PR_FrameCreate(FRM_ROI, 1, DIM3D{dims.w, dims.h, dims.d, 1}, true));
  for (int t = 0; t < dims.t; ++t)
    for (int z = 0; z < dims.d; ++z)
      for (int y = 0; y < dims.h; ++y)
        for (int x = 0; x < dims.w; ++x) {
          const double va = 50 + 30 * std::sin(0.4 * x + t) + 10 * std::cos(0.3 * y * z) + u(rng) * 0.1;
          twk::setVoxelValue(a.f, x, y, z, t, va);
          // A non-monotonic remap of a with noise: information, not correlation.
          twk::setVoxelValue(b.f, x, y, z, t, std::fabs(va - 55) * 2 + u(rng) * 0.2);
          if (t == 0) twk::setRoiBit(roi.f, x, y, z, 0, (x + y + z) % 3 != 0);
        }
  // A void voxel in a is left out everywhere.
  twk::setVoxelValue(a.f, 2, 2, 2, 1, VOID_VALUE);
  writeRaw("a.raw", allValues(a.f));
  writeRaw("b.raw", allValues(b.f));
  writeRaw("roi.raw", allValues(roi.f));
  const std::string shape = "(3, 5, 9, 11)";
  const std::string out = runPython(
      "a = np.fromfile('a.raw').reshape" + shape + "\nb = np.fromfile('b.raw').reshape" + shape +
      "\nm = np.fromfile('roi.raw').reshape(5, 9, 11) > 0\n"
      "ok = (a != 1e60) & m[None]\n"
      "print(repr(np.sqrt(np.mean((a[ok] - b[ok])**2))))\n"
      "def H(c):\n  p = c[c > 0] / c.sum()\n  return -np.sum(p * np.log(p))\n"
      "for t in range(3):\n"
      "  k = ok[t]\n  j = np.histogram2d(a[t][k], b[t][k], bins=64)[0]\n"
      "  ha, hb, hab = H(j.sum(1)), H(j.sum(0)), H(j)\n"
      "  print(repr(ha + hb - hab), repr((ha + hb) / hab))\n"
      "x, y = a[0].ravel(), b[0].ravel()\nprint(repr(np.corrcoef(x, y)[0, 1]))\n"
      "tv = 0.0\nfor t in range(3):\n  for z in range(5):\n    s = a[t, z]\n"
      "    dx = np.zeros_like(s); dy = np.zeros_like(s)\n"
      "    dx[:, :-1] = s[:, 1:] - s[:, :-1]; dy[:-1, :] = s[1:, :] - s[:-1, :]\n"
      "    bad = s == 1e60\n    dx[bad] = 0; dy[bad] = 0\n"
      "    dx[:, :-1][bad[:, 1:]] = 0; dy[:-1, :][bad[1:, :]] = 0\n"
      "    tv += np.sqrt(dx**2 + dy**2).sum()\nprint(repr(tv))\n");
  const std::vector<double> ref = numbers(out);
  ASSERT_EQ(ref.size(), 9u) << out;
  const FRAME* pair[2] = {a.f, b.f};
  double v = 0;
  ASSERT_TRUE(VA_VolumeSingleMeasurement(2, pair, roi.f, VA_SINGLEMEASURE_RMSD, &v, true));
  EXPECT_NEAR(v, ref[0], 1e-9 * ref[0]);
  for (int t = 0; t < 3; ++t) {
    ASSERT_TRUE(VA_VolPairCalculateMutualInfoOverROI(3, a.f, b.f, roi.f, t, &v, true));
    EXPECT_NEAR(v, ref[size_t(1 + 2 * t)], 1e-9) << t;
    ASSERT_TRUE(VA_VolPairCalculateMutualInfoOverROI(4, a.f, b.f, roi.f, t, &v, true));
    EXPECT_NEAR(v, ref[size_t(2 + 2 * t)], 1e-9) << t;
  }
  FRAME a0 = *a.f, b0 = *b.f;
  a0.dim.t = b0.dim.t = 1;
  ASSERT_TRUE(VA_VolCalcZNCC(&a0, &b0, nullptr, &v, true));
  EXPECT_NEAR(v, ref[7], 1e-12);
  ASSERT_TRUE(VA_VolMeasureTV(true, a.f, &v, true));
  EXPECT_NEAR(v, ref[8], 1e-9 * ref[8]);
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(Measures, ZnccOfAnAffineRemapIsOneAndBadPairsAreRefused) {
  const DIM3D dims{6, 5, 4, 1};
  FrameGuard a(twk::geotest::smoothVolume(dims)), b(PR_FrameCreate(FRM_REAL, 64, dims, false));
  FrameGuard flat(VA_VolCreateUniform(FRM_REAL, dims, 7.0));
  for (int z = 0; z < dims.d; ++z)
    for (int y = 0; y < dims.h; ++y)
      for (int x = 0; x < dims.w; ++x) twk::setVoxelValue(b.f, x, y, z, 0, 1e6 - 2.5 * twk::voxelValue(a.f, x, y, z, 0));
  double v = 0;
  ASSERT_TRUE(VA_VolCalcZNCC(a.f, b.f, nullptr, &v, true));
  EXPECT_NEAR(v, -1.0, 1e-12);
  EXPECT_FALSE(VA_VolCalcZNCC(a.f, flat.f, nullptr, &v, true));
  FrameGuard emptyRoi(PR_FrameCreate(FRM_ROI, 1, dims, true));
  const FRAME* pair[2] = {a.f, b.f};
  EXPECT_FALSE(VA_VolumeSingleMeasurement(2, pair, emptyRoi.f, 0, &v, true));
  FrameGuard four(twk::geotest::smoothVolume(DIM3D{6, 5, 4, 3})), five(twk::geotest::smoothVolume(DIM3D{6, 5, 4, 2}));
  EXPECT_FALSE(VA_VolPairCalculateMutualInfoOverROI(3, four.f, five.f, nullptr, 0, &v, true));
  ASSERT_EQ(ui_.messages.size(), 3u);
  EXPECT_EQ(ui_.messages[0], L"VA_VolCalcZNCC : The correlation of a constant volume is undefined");
  EXPECT_EQ(ui_.messages[2], L"VA_VolPairCalculateMutualInfoOverROI : Equal numbers of time points are expected");
}

TEST_F(Measures, RoiDifferenceCountsTheVoxelsOfOneROIOnly) {
  const DIM3D one{9, 7, 3, 1}, three{9, 7, 3, 3};
  FrameGuard a(PR_FrameCreate(FRM_ROI, 1, one, true)), b(PR_FrameCreate(FRM_ROI, 1, three, true));
  for (int x = 0; x < 6; ++x) twk::setRoiBit(a.f, x, 1, 1, 0, true);  // 6 voxels
  for (int x = 3; x < 9; ++x) twk::setRoiBit(b.f, x, 1, 1, 0, true);  // 6 voxels, 3 shared
  twk::setRoiBit(b.f, 0, 0, 0, 2, true);
  FrameGuard x(VA_RoisXOR(a.f, b.f, true));
  ASSERT_TRUE(x.f);
  EXPECT_EQ(x.f->dim.t, 3);
  int64_t n = 0;
  ASSERT_TRUE(VA_RoiNumVox(x.f, -1, -1, &n));
  // t0: 6 of the XOR; t1: a alone (6); t2: a alone plus b's one voxel (7).
  EXPECT_EQ(n, 6 + 6 + 7);
  FrameGuard deeper(PR_FrameCreate(FRM_ROI, 1, DIM3D{9, 7, 4, 1}, true));
  EXPECT_EQ(VA_RoisXOR(a.f, deeper.f, true), nullptr);
  EXPECT_EQ(ui_.messages.size(), 1u);
}

// A phantom of the patient frame: smooth in every direction.
double phantom(double x, double y, double z) {
  return 100 + 20 * std::sin(0.11 * x) + 15 * std::cos(0.09 * y + 0.03 * z) + 0.4 * z;
}

CVol* sampled(const DIM3D& dims, const SPC& spc, const double orient[6], const DPOINT3D& first, const double slice[3]) {
  auto* v = new CVol;
  v->frame = PR_FrameCreate(FRM_REAL, 64, dims, false);
  v->spc = spc;
  std::copy(orient, orient + 6, v->orient);
  v->imgPos = static_cast<DPOINT3D*>(pf_malloc(int64_t(dims.d) * int64_t(sizeof(DPOINT3D))));
  for (int k = 0; k < dims.d; ++k)
    v->imgPos[k] = {first.x + slice[0] * spc.z * k, first.y + slice[1] * spc.z * k, first.z + slice[2] * spc.z * k};
  for (int k = 0; k < dims.d; ++k)
    for (int j = 0; j < dims.h; ++j)
      for (int i = 0; i < dims.w; ++i) {
        const DPOINT3D& o = v->imgPos[k];
        const double p[3] = {o.x + orient[0] * spc.x * i + orient[3] * spc.y * j,
                             o.y + orient[1] * spc.x * i + orient[4] * spc.y * j,
                             o.z + orient[2] * spc.x * i + orient[5] * spc.y * j};
        twk::setVoxelValue(v->frame, i, j, k, 0, phantom(p[0], p[1], p[2]));
      }
  return v;
}

TEST_F(Measures, AxialAndSagittalGridsOfOnePhantomResliceIntoEachOtherByTheirTags) {
  // Axial: rows along x (L), columns along y (P), slices up (S). Sagittal: rows along y, columns
  // down (-z), slices along x.
  const double axialOrient[6] = {1, 0, 0, 0, 1, 0}, axialSlice[3] = {0, 0, 1};
  const double sagOrient[6] = {0, 1, 0, 0, 0, -1}, sagSlice[3] = {1, 0, 0};
  std::unique_ptr<CVol> axial(sampled(DIM3D{40, 36, 20, 1}, SPC{1.0, 1.0, 2.0}, axialOrient, DPOINT3D{-20, -18, -20},
                                      axialSlice));
  std::unique_ptr<CVol> sagittal(sampled(DIM3D{48, 30, 26, 1}, SPC{0.9, 1.5, 1.8}, sagOrient, DPOINT3D{-24, -21, 22},
                                         sagSlice));
  const struct {
    CVol* source;
    CVol* target;
  } pairs[] = {{sagittal.get(), axial.get()}, {axial.get(), sagittal.get()}};
  for (const auto& p : pairs) {
    double m[16];
    ASSERT_TRUE(VA_GetInitTransformWithDicomTags(p.source, p.target, false, m, true));
    const DIM3D td = p.target->frame->dim;
    FrameGuard out(VA_ResliceTB(2, 1, m, p.source->frame, &td, 1, 0.0, true));
    ASSERT_TRUE(out.f);
    int64_t compared = 0;
    double worst = 0;
    for (int k = 0; k < td.d; ++k)
      for (int j = 0; j < td.h; ++j)
        for (int i = 0; i < td.w; ++i) {
          const double s[3] = {m[0] * i + m[1] * j + m[2] * k + m[3], m[4] * i + m[5] * j + m[6] * k + m[7],
                               m[8] * i + m[9] * j + m[10] * k + m[11]};
          const DIM3D& sd = p.source->frame->dim;
          if (s[0] < 0 || s[1] < 0 || s[2] < 0 || s[0] > sd.w - 1 || s[1] > sd.h - 1 || s[2] > sd.d - 1) continue;
          ++compared;
          worst = std::max(worst, std::fabs(twk::voxelValue(out.f, i, j, k, 0) - twk::voxelValue(p.target->frame, i, j, k, 0)));
        }
    EXPECT_GT(compared, 2000);
    // Linear interpolation of the phantom at these spacings errs by well under one unit.
    EXPECT_LT(worst, 0.5);
  }
  // Centring ignores the positions: the grid centres meet.
  double c[16];
  ASSERT_TRUE(VA_GetInitTransformWithDicomTags(sagittal.get(), axial.get(), true, c, true));
  const double centre[3] = {19.5, 17.5, 9.5};
  for (int r = 0; r < 3; ++r) {
    const double s = c[4 * r] * centre[0] + c[4 * r + 1] * centre[1] + c[4 * r + 2] * centre[2] + c[4 * r + 3];
    EXPECT_NEAR(s, (r == 0 ? 47 : r == 1 ? 29 : 25) / 2.0, 1e-12);
  }
  CVol bare;
  bare.frame = PR_FrameCreate(FRM_REAL, 64, DIM3D{4, 4, 4, 1}, true);
  EXPECT_FALSE(VA_GetInitTransformWithDicomTags(&bare, axial.get(), false, c, true));
  EXPECT_EQ(ui_.messages.back(), L"VA_GetInitTransformWithDicomTags : Image positions are required in both volumes");
}

}  // namespace
