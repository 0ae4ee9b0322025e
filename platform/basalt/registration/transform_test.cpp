// Transforms, their files and the reslicers against independent references: scipy.ndimage's
// affine_transform and map_coordinates (orders 0 and 1) on the same target-to-source mapping,
// Eigen's inverse and determinant, bit-exact file round trips and damaged files.

#include <gtest/gtest.h>

#include <Eigen/Dense>

#include <array>
#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ScriptedUi.h"
#include "TextCodec.h"
#include "TwkMem.h"
#include "geometry/GeometryTestKit.h"
#include "paths/FilePaths.h"
#include "registration/Reslice.h"
#include "registration/Transform.h"
#include "registration/TransformFiles.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

using twk::geotest::FrameGuard;
using twk::geotest::readRaw;
using twk::geotest::runPython;
using twk::geotest::smoothVolume;
using twk::geotest::testDir;
using twk::geotest::values;
using twk::geotest::writeRaw;

CString testPath(const std::string& name) { return CString::fromUtf8(testDir() + "/" + name); }

// A quadratic target-to-source map near the identity (degree 2, layout of Transform.h).
std::vector<double> quadraticCoefficients() {
  std::vector<double> c(30, 0.0);
  const double affine[3][4] = {{0.97, 0.05, -0.02, 0.8}, {-0.04, 1.03, 0.03, -0.6}, {0.02, -0.01, 0.95, 0.4}};
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 4; ++k) c[10 * r + k] = affine[r][k];
  c[4] = 0.004, c[5] = -0.002, c[13] = 0.003, c[17] = -0.0025, c[26] = 0.006, c[28] = 0.001;
  return c;
}

constexpr char kRegistrationFolder[] = "registration_test";
using Registration = twk::geotest::ScriptedSuite<kRegistrationFolder>;

// Compares a resliced frame with scipy's result at every target voxel whose source point lies inside
// the source (scipy's constant mode and ours differ only in the half voxel beyond the last centre);
// voxels mapped well outside must hold the outside value.
void expectMatchesReference(const FRAME* out, const std::vector<double>& ref, const DIM3D& src, int order,
                            double outside, const std::function<void(const double*, double*)>& map) {
  const std::vector<double> ours = values(out);
  int64_t inside = 0, outsideCount = 0, bad = 0;
  const int n[3] = {src.w, src.h, src.d};
  for (int z = 0; z < out->dim.d; ++z)
    for (int y = 0; y < out->dim.h; ++y)
      for (int x = 0; x < out->dim.w; ++x) {
        const double t[3] = {double(x), double(y), double(z)};
        double p[3];
        map(t, p);
        bool in = true, far = false;
        for (int k = 0; k < 3; ++k) {
          in = in && p[k] >= 0 && p[k] <= n[k] - 1;
          far = far || p[k] < -1 || p[k] > n[k];
          // Nearest neighbour: a point near a rounding tie may pick either voxel.
          if (order == 0) in = in && std::fabs(p[k] - std::floor(p[k]) - 0.5) > 1e-6;
        }
        const size_t j = (size_t(z) * out->dim.h + y) * out->dim.w + x;
        if (far) {
          ++outsideCount;
          if (ours[j] != outside) ++bad;
        } else if (in) {
          ++inside;
          if (!(std::fabs(ours[j] - ref[j]) <= 1e-9)) ++bad;
        }
      }
  EXPECT_GT(inside, 200);
  EXPECT_GT(outsideCount, 0);
  EXPECT_EQ(bad, 0);
}

TEST_F(Registration, AffineAndPolynomialReslicesEqualScipy) {
  const DIM3D src{15, 13, 9, 1};
  FrameGuard volume(smoothVolume(src));
  writeRaw("src.raw", values(volume.f));
  const DIM3D target{17, 12, 10, 1};
  // Affine: rotation about z with a shear and a translation that pushes part of the grid outside.
  const double m[16] = {0.95, -0.2, 0.05, 2.3, 0.25, 0.9, 0.0, -1.7, 0.02, 0.03, 1.05, -0.8, 0, 0, 0, 1};
  const std::vector<double> quad = quadraticCoefficients();
  std::ostringstream py;
  py.precision(17);
  py << "a = np.fromfile('src.raw').reshape(" << src.d << "," << src.h << "," << src.w << ")\n"
     << "M = np.array([";
  for (int r = 2; r >= 0; --r) py << "[" << m[4 * r + 2] << "," << m[4 * r + 1] << "," << m[4 * r] << "," << m[4 * r + 3] << "],";
  py << "])\nq = np.array([";
  for (double v : quad) py << v << ",";
  py << "]).reshape(3, 10)\n"
     << "z, y, x = np.mgrid[0:" << target.d << ", 0:" << target.h << ", 0:" << target.w << "].astype(float)\n"
     << "terms = [x, y, z, np.ones_like(x), x*x, x*y, x*z, y*y, y*z, z*z]\n"
     << "p = [sum(q[r, i] * terms[i] for i in range(10)) for r in range(3)]\n"
     << "for order in (0, 1):\n"
     << "  ndi.affine_transform(a, M[:, :3], offset=M[:, 3], output_shape=(" << target.d << "," << target.h << ","
     << target.w << "), order=order, mode='constant', cval=-7.0).tofile('aff%d.raw' % order)\n"
     << "  ndi.map_coordinates(a, [p[2], p[1], p[0]], order=order, mode='constant', cval=-7.0).tofile('quad%d.raw' % order)\n";
  runPython(py.str());
  const size_t n = size_t(target.w) * target.h * target.d;
  for (int order : {0, 1}) {
    SCOPED_TRACE(order);
    FrameGuard affine(VA_ResliceAffine(m, volume.f, &target, order, -7.0, true));
    ASSERT_TRUE(affine.f);
    expectMatchesReference(affine.f, readRaw("aff" + std::to_string(order) + ".raw", n), src, order, -7.0,
                           [&](const double* t, double* s) { VA_TransformPoint(2, 1, m, t, s); });
    FrameGuard poly(VA_ResliceTB(VA_TRANSFORM_POLYNOMIAL, 2, quad.data(), volume.f, &target, order, -7.0, true));
    ASSERT_TRUE(poly.f);
    const auto quadMap = [&](const double* t, double* s) { VA_TransformPoint(3, 2, quad.data(), t, s); };
    expectMatchesReference(poly.f, readRaw("quad" + std::to_string(order) + ".raw", n), src, order, -7.0, quadMap);
    // The Poly3D form of the same transform samples identically.
    Poly3D* p = VA_Poly3DCreate(VA_TRANSFORM_POLYNOMIAL, 2, quad.data());
    ASSERT_TRUE(p);
    FrameGuard viaPoly(VA_ResliceTB(p, volume.f, &target, order, -7.0, true));
    VA_Poly3DDelete(&p);
    ASSERT_TRUE(viaPoly.f);
    const std::vector<double> a = values(viaPoly.f), b = values(poly.f);
    for (size_t j = 0; j < n; ++j) ASSERT_NEAR(a[j], b[j], 1e-9) << j;
  }
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(Registration, FlowFieldResliceEqualsScipyAndKeepsIntegerKinds) {
  const DIM3D src{12, 11, 7, 2};
  FrameGuard volume(smoothVolume(src));
  // An integer copy: results are rounded and the outside value 0 is used.
  FrameGuard ints(PR_FrameCreate(FRM_INT, 16, src, false));
  for (int t = 0; t < src.t; ++t)
    for (int z = 0; z < src.d; ++z)
      for (int y = 0; y < src.h; ++y)
        for (int x = 0; x < src.w; ++x) twk::setVoxelValue(ints.f, x, y, z, t, twk::voxelValue(volume.f, x, y, z, t));
  writeRaw("flowsrc.raw", values(volume.f));
  const DIM3D target{10, 12, 8, 1};
  std::vector<DPOINT3D> field(size_t(target.w) * target.h * target.d);
  for (int z = 0; z < target.d; ++z)
    for (int y = 0; y < target.h; ++y)
      for (int x = 0; x < target.w; ++x)
        field[(size_t(z) * target.h + y) * target.w + x] = {1.3 + 0.4 * std::sin(0.7 * y), -0.6 + 0.05 * x * z,
                                                            0.3 * std::cos(0.5 * x) - 0.2};
  std::vector<double> coords;
  for (const auto& v : field) coords.insert(coords.end(), {v.x, v.y, v.z});
  writeRaw("flow.raw", coords);
  runPython("a = np.fromfile('flowsrc.raw').reshape(" + std::to_string(src.d) + "," + std::to_string(src.h) + "," +
            std::to_string(src.w) + ")\nf = np.fromfile('flow.raw').reshape(" + std::to_string(target.d) + "," +
            std::to_string(target.h) + "," + std::to_string(target.w) +
            ", 3)\nz, y, x = np.mgrid[0:" + std::to_string(target.d) + ", 0:" + std::to_string(target.h) + ", 0:" +
            std::to_string(target.w) + "].astype(float)\nfor order in (0, 1):\n"
            "  ndi.map_coordinates(a, [z + f[..., 2], y + f[..., 1], x + f[..., 0]], order=order, mode='constant', "
            "cval=0.0).tofile('flow%d.raw' % order)\n");
  const size_t n = size_t(target.w) * target.h * target.d;
  const auto flowMap = [&](const double* t, double* s) {
    const DPOINT3D& v = field[(size_t(t[2]) * target.h + size_t(t[1])) * target.w + size_t(t[0])];
    s[0] = t[0] + v.x, s[1] = t[1] + v.y, s[2] = t[2] + v.z;
  };
  for (int order : {0, 1}) {
    SCOPED_TRACE(order);
    FrameGuard out(VA_ResliceByFlow(volume.f, -1, field.data(), &target, order, 0.0, true));
    ASSERT_TRUE(out.f);
    EXPECT_EQ(out.f->dim.t, 2);
    expectMatchesReference(out.f, readRaw("flow" + std::to_string(order) + ".raw", n), src, order, 0.0, flowMap);
    // One time point alone gives that time point of the whole.
    FrameGuard second(VA_ResliceByFlow(volume.f, 1, field.data(), &target, order, 0.0, true));
    ASSERT_TRUE(second.f);
    EXPECT_EQ(second.f->dim.t, 1);
    for (int z = 0; z < target.d; ++z)
      for (int x = 0; x < target.w; ++x)
        ASSERT_EQ(twk::voxelValue(second.f, x, 5, z, 0), twk::voxelValue(out.f, x, 5, z, 1));
    FrameGuard integer(VA_ResliceByFlow(ints.f, -1, field.data(), &target, order, 0.0, true));
    ASSERT_TRUE(integer.f);
    EXPECT_EQ(integer.f->bpv, 16);
    // The integer result is the real one rounded (the integer source was rounded too, which
    // moves a linear blend by less than one).
    const std::vector<double> real = values(out.f);
    const std::vector<double> got = values(integer.f);
    for (size_t j = 0; j < n; ++j) ASSERT_LE(std::fabs(got[j] - std::round(real[j])), order == 0 ? 0.0 : 1.0) << j;
  }
}

TEST_F(Registration, TransformFileWithTimePointsReslicesEachTimePointByItsOwnSet) {
  const DIM3D src{9, 8, 6, 3};
  FrameGuard volume(smoothVolume(src));
  std::vector<double> sets;
  for (int t = 0; t < 3; ++t) {
    const double m[16] = {1, 0, 0, 0.5 * t, 0, 1, 0, -0.3 * t, 0, 0, 1, 0.2 * t, 0, 0, 0, 1};
    sets.insert(sets.end(), m, m + 16);
  }
  const DIM3D target{9, 8, 6, 1};
  const SPC spc{1.0, 1.0, 1.0};
  FrameGuard all(VA_ResliceTB_EX(2, 1, sets.data(), 3, volume.f, &src, &spc, &target, &spc, 1, false, 50, 0.0, true));
  ASSERT_TRUE(all.f);
  for (int t = 0; t < 3; ++t) {
    FRAME one = *volume.f;
    one.dim.t = 1;
    one.data = twk::frameLine(volume.f, 0, 0, t);
    FrameGuard single(VA_ResliceAffine(sets.data() + 16 * t, &one, &target, 1, 0.0, true));
    ASSERT_TRUE(single.f);
    for (int z = 0; z < target.d; ++z)
      for (int y = 0; y < target.h; ++y)
        for (int x = 0; x < target.w; ++x)
          ASSERT_EQ(twk::voxelValue(all.f, x, y, z, t), twk::voxelValue(single.f, x, y, z, 0));
  }
  // Three sets for a volume of two time points is refused.
  FRAME two = *volume.f;
  two.dim.t = 2;
  EXPECT_EQ(VA_ResliceTB_EX(2, 1, sets.data(), 3, &two, &src, &spc, &target, &spc, 1, false, 50, 0.0, true), nullptr);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0], L"VA_ResliceTB : Transformation has unsuitable number of timepoints");
}

TEST_F(Registration, MatrixHelpersAgreeWithEigen) {
  using M = Eigen::Matrix<double, 4, 4, Eigen::RowMajor>;
  const double a[16] = {0.9, -0.3, 0.1, 4.0, 0.25, 1.1, -0.05, -2.0, -0.1, 0.2, 0.95, 7.5, 0, 0, 0, 1};
  const double b[16] = {1.2, 0.0, 0.3, -1.0, 0.1, 0.8, 0.0, 3.0, 0.0, -0.2, 1.0, 0.5, 0, 0, 0, 1};
  double product[16], inverse[16], det = 0;
  PR_MatxMultiplyMatx(a, b, product);
  EXPECT_LT((Eigen::Map<const M>(product) - Eigen::Map<const M>(a) * Eigen::Map<const M>(b)).norm(), 1e-14);
  ASSERT_TRUE(PR_MatxInverse(a, inverse));
  EXPECT_LT((Eigen::Map<const M>(inverse) * Eigen::Map<const M>(a) - M::Identity()).norm(), 1e-14);
  ASSERT_TRUE(PR_MatrixDeterminantByMinors(a, 4, &det));
  EXPECT_NEAR(det, Eigen::Map<const M>(a).determinant(), 1e-14);
  // In place, and refusals that leave the output alone.
  double c[16];
  std::copy(a, a + 16, c);
  PR_MatxMultiplyMatx(c, b, c);
  EXPECT_EQ(std::vector<double>(c, c + 16), std::vector<double>(product, product + 16));
  const double singular[16] = {1, 2, 3, 0, 2, 4, 6, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  double untouched[16] = {42};
  EXPECT_FALSE(PR_MatxInverse(singular, untouched));
  EXPECT_EQ(untouched[0], 42);
  EXPECT_TRUE(PR_MatrixDeterminantByMinors(singular, 4, &det));
  EXPECT_EQ(det, 0.0);
  const double nan[16] = {NAN, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  EXPECT_FALSE(PR_MatxInverse(nan, untouched));
  EXPECT_FALSE(PR_MatrixDeterminantByMinors(nan, 4, &det));
  EXPECT_FALSE(PR_MatrixDeterminantByMinors(a, 7, &det));
}

TEST_F(Registration, Poly3DCarriesTheCoefficientLayout) {
  const std::vector<double> quad = quadraticCoefficients();
  Poly3D* p = VA_Poly3DCreate(VA_TRANSFORM_POLYNOMIAL, 2, quad.data());
  ASSERT_TRUE(p);
  EXPECT_FALSE(p->IsAffine());
  const double at[3] = {3.5, -2.0, 7.25};
  DPOINT3D in{at[0], at[1], at[2]}, out;
  p->Calc(&in, &out);
  double expected[3];
  VA_TransformPoint(3, 2, quad.data(), at, expected);
  EXPECT_NEAR(out.x, expected[0], 1e-12);
  EXPECT_NEAR(out.y, expected[1], 1e-12);
  EXPECT_NEAR(out.z, expected[2], 1e-12);
  // Closed form of the x row at that point.
  EXPECT_NEAR(expected[0], 0.97 * 3.5 + 0.05 * -2 - 0.02 * 7.25 + 0.8 + 0.004 * 3.5 * 3.5 - 0.002 * 3.5 * -2, 1e-12);
  int degree = 0;
  double* back = VA_Poly3DCoefficients(p, false, &degree);
  ASSERT_TRUE(back);
  EXPECT_EQ(degree, 2);
  EXPECT_EQ(std::vector<double>(back, back + 30), quad);
  pf_free(&back);
  double linear[16];
  EXPECT_FALSE(p->GetAffineKoff(linear));
  EXPECT_EQ(linear[3], 0.8);
  EXPECT_EQ(linear[5], 1.03);
  EXPECT_EQ(linear[15], 1.0);
  VA_Poly3DDelete(&p);
  EXPECT_EQ(p, nullptr);

  const double m[16] = {1.1, 0.1, 0, 2, 0, 0.9, 0.2, -3, 0.05, 0, 1, 0.5, 0, 0, 0, 1};
  Poly3D* affine = VA_Poly3DCreate(VA_TRANSFORM_AFFINE, 0, m);
  ASSERT_TRUE(affine);
  double koff[16];
  EXPECT_TRUE(affine->GetAffineKoff(koff));
  EXPECT_EQ(std::vector<double>(koff, koff + 16), std::vector<double>(m, m + 16));
  VA_Poly3DDelete(&affine);
  const double bad[16] = {INFINITY};
  EXPECT_EQ(VA_Poly3DCreate(VA_TRANSFORM_AFFINE, 0, bad), nullptr);
  EXPECT_EQ(VA_Poly3DCreate(VA_TRANSFORM_GAUSS_RBF, 0, m), nullptr);
  EXPECT_EQ(VA_TransformCoefficientCount(3, 3), 60);
}

TEST_F(Registration, TransformFilesRoundTripBitExact) {
  // Values whose decimal forms are long: only an exact writer gives them back bit for bit.
  double m[16] = {0.1 + 0.2, 1.0 / 3.0, -2.0 / 7.0, 123.456789012345678, 1e-300, 0.9999999999999999, std::sqrt(2.0),
                  -0.0, 5e-324, -1.7976931348623157e308, 0.7, 3.14159, 0, 0, 0, 1};
  const DIM3D sd{128, 128, 40, 1}, td{256, 250, 100, 5};
  const SPC ss{0.9375, 0.9375, 3.3}, ts{0.5, 0.5, 1.0 / 3.0};
  const CString affinePath = testPath("a.vtf");
  ASSERT_TRUE(VTF_Save(affinePath, 2, &sd, &ss, &td, &ts, m, true));
  VA_VTFINFO info;
  double* back = VTF_Load(affinePath, &info, true);
  ASSERT_TRUE(back);
  EXPECT_EQ(std::memcmp(back, m, sizeof m), 0);
  EXPECT_EQ(info.type, 2);
  EXPECT_EQ(info.timePoints, 1);
  EXPECT_TRUE(info.hasTarget);
  EXPECT_EQ(std::memcmp(&info.sourceSpc, &ss, sizeof ss), 0);
  EXPECT_EQ(std::memcmp(&info.targetSpc, &ts, sizeof ts), 0);
  EXPECT_EQ(info.targetDim.t, 5);
  pf_free(&back);

  // A quadratic of three time points without a target grid.
  VA_VTFINFO poly;
  poly.type = 3;
  poly.degree = 2;
  poly.timePoints = 3;
  poly.sourceDim = sd;
  poly.sourceSpc = ss;
  std::vector<double> sets;
  for (int t = 0; t < 3; ++t)
    for (double v : quadraticCoefficients()) sets.push_back(v * (1 + t / 3.0));
  const CString polyPath = testPath("q.vtf");
  ASSERT_TRUE(VTF_SaveEx(polyPath, poly, sets.data(), true));
  back = VTF_Load(polyPath, &info, true);
  ASSERT_TRUE(back);
  EXPECT_EQ(std::memcmp(back, sets.data(), sets.size() * sizeof(double)), 0);
  EXPECT_EQ(info.type, 3);
  EXPECT_EQ(info.degree, 2);
  EXPECT_EQ(info.timePoints, 3);
  EXPECT_FALSE(info.hasTarget);
  pf_free(&back);

  // Flow fields.
  const DIM3D fd{7, 5, 3, 1};
  std::vector<DPOINT3D> field(size_t(fd.w) * fd.h * fd.d);
  for (size_t i = 0; i < field.size(); ++i) field[i] = {i / 7.0, -std::sqrt(double(i)), 1e-17 * double(i)};
  const CString flowPath = testPath("f.fff");
  ASSERT_TRUE(VA_SaveFlowField(flowPath, &sd, &ss, &fd, &ts, field.data(), true));
  VA_FLOWFIELDINFO fi;
  DPOINT3D* loaded = VA_LoadFlowField(flowPath, &fi, true);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(std::memcmp(loaded, field.data(), field.size() * sizeof(DPOINT3D)), 0);
  EXPECT_EQ(fi.sourceDim.w, 128);
  EXPECT_EQ(fi.targetDim.d, 3);
  EXPECT_EQ(std::memcmp(&fi.targetSpc, &ts, sizeof ts), 0);
  pf_free(&loaded);
  EXPECT_TRUE(ui_.messages.empty());
}

std::string fileBytes(const CString& path) {
  std::ifstream in(twk::pathToNative(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void putBytes(const CString& path, const std::string& bytes) {
  std::ofstream(twk::pathToNative(path), std::ios::binary) << bytes;
}

TEST_F(Registration, DamagedTransformFilesAreRefusedWithTheirCause) {
  const double m[16] = {1, 0, 0, 2, 0, 1, 0, 3, 0, 0, 1, 4, 0, 0, 0, 1};
  const DIM3D sd{10, 10, 5, 1};
  const SPC ss{1, 1, 2};
  const CString good = testPath("good.vtf");
  ASSERT_TRUE(VTF_Save(good, 2, &sd, &ss, nullptr, nullptr, m, true));
  const std::string text = fileBytes(good);
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string s = text;
    s.replace(s.find(from), from.size(), to);
    return s;
  };
  const struct {
    const char* what;
    std::string bytes;
    const wchar_t* cause;
  } cases[] = {
      {"truncated mid-row", text.substr(0, text.size() - 20), L"truncated file"},
      {"without its end", text.substr(0, text.size() - 4), L"truncated file"},
      {"empty", "", L"not a transformation file"},
      {"another file", "P3\n2 2\n", L"not a transformation file"},
      {"newer version", replaced("transform 1", "transform 2"), L"unsupported version of the transformation file"},
      {"unknown kind", replaced("type 2", "type 7"), L"unknown transform type"},
      {"count of another kind", replaced("coefficients 16", "coefficients 30"),
       L"the number of coefficients does not match the transform type"},
      {"bad number", replaced("\n1 0 0 2\n", "\n1 0 x 2\n"), L"damaged coefficient line"},
      {"zero spacing", replaced("source 10 10 5 1 1 1 2", "source 10 10 5 1 1 0 2"), L"invalid source grid"},
      {"trailing text", text + "1 2 3\n", L"unexpected text after the end"},
  };
  const CString bad = testPath("bad.vtf");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    putBytes(bad, c.bytes);
    ui_.clear();
    VA_VTFINFO info;
    info.type = 99;
    EXPECT_EQ(VTF_Load(bad, &info, true), nullptr);
    EXPECT_EQ(info.type, 99);
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0], L"VTF_Load : " + bad + L" : " + c.cause);
  }
  ui_.clear();
  EXPECT_EQ(VTF_Load(testPath("absent.vtf"), nullptr, false), nullptr);
  EXPECT_TRUE(ui_.messages.empty());

  // Flow fields: truncated, grown, another magic, another version.
  const DIM3D fd{4, 3, 2, 1};
  std::vector<DPOINT3D> field(24, DPOINT3D{0.5, 0.25, -1});
  const CString flow = testPath("good.fff");
  ASSERT_TRUE(VA_SaveFlowField(flow, &sd, &ss, &fd, &ss, field.data(), true));
  const std::string bytes = fileBytes(flow);
  std::string otherVersion = bytes;
  otherVersion[8] = 2;
  std::string otherMagic = bytes;
  otherMagic[0] = 'X';
  const struct {
    const char* what;
    std::string bytes;
    const wchar_t* cause;
  } flows[] = {
      {"truncated payload", bytes.substr(0, bytes.size() - 5), L"truncated file"},
      {"truncated header", bytes.substr(0, 30), L"truncated file"},
      {"grown", bytes + "x", L"the file size does not match its grid"},
      {"another magic", otherMagic, L"not a flow field file"},
      {"another version", otherVersion, L"unsupported version of the flow field file"},
  };
  const CString badFlow = testPath("bad.fff");
  for (const auto& c : flows) {
    SCOPED_TRACE(c.what);
    putBytes(badFlow, c.bytes);
    ui_.clear();
    VA_FLOWFIELDINFO info;
    EXPECT_EQ(VA_LoadFlowField(badFlow, &info, true), nullptr);
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0], L"VA_LoadFlowField : " + badFlow + L" : " + c.cause);
  }
}

TEST_F(Registration, SaveNamesAndConfirmation) {
  EXPECT_EQ(VA_VTF_GetSaveName(L"scan.nii", L"/data/out"), CString(L"/data/out/scan.vtf"));
  EXPECT_EQ(VA_VTF_GetSaveName(L"/a/b/T.VTF", L"/data/out"), CString(L"/a/b/T.VTF"));
  EXPECT_EQ(VA_VTF_GetSaveName(L"", L"/data/out"), CString(L""));
  VA_VTFINFO info;
  info.sourceDim = DIM3D{64, 64, 20, 1};
  info.sourceSpc = SPC{1, 1, 3};
  const DIM3D same{64, 64, 20, 4}, other{64, 64, 21, 1};
  const SPC spc{1, 1, 3};
  EXPECT_TRUE(VTF_LoadConfirm(info, &same, &spc));
  EXPECT_TRUE(ui_.messages.empty());
  ui_.answerMessage(IDNO).answerMessage(IDYES);
  EXPECT_FALSE(VTF_LoadConfirm(info, &other, &spc));
  EXPECT_TRUE(VTF_LoadConfirm(info, &other, &spc));
  ASSERT_EQ(ui_.messages.size(), 2u);
  EXPECT_NE(ui_.messages[0].Find(L"64 x 64 x 21"), -1);
}

}  // namespace
