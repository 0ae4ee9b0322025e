// Landmark fits against closed forms and numpy.linalg.lstsq, Gaussian RBF fields, planes.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ScriptedUi.h"
#include "TwkMem.h"
#include "geometry/Geometry.h"
#include "geometry/GeometryTestKit.h"
#include "registration/Landmarks.h"
#include "registration/Transform.h"

namespace {

using twk::geotest::runPython;
using twk::geotest::testDir;

// A known target-to-source affine map (voxel indices).
const double kAffine[16] = {1.05, 0.03, -0.02, 4.5, -0.04, 0.97, 0.06, -3.25, 0.01, -0.05, 1.1, 2.0, 0, 0, 0, 1};

std::vector<DPOINT3D> sixTargets() {
  return {{10, 12, 3}, {40, 15, 5}, {22, 44, 8}, {35, 38, 14}, {8, 30, 11}, {28, 6, 17}};
}

DPOINT3D apply(const double* m, int type, int degree, const DPOINT3D& p) {
  const double in[3] = {p.x, p.y, p.z};
  double out[3];
  VA_TransformPoint(type, degree, m, in, out);
  return {out[0], out[1], out[2]};
}

constexpr char kLandmarksFolder[] = "landmarks_test";
using Landmarks = twk::geotest::ScriptedSuite<kLandmarksFolder>;

TEST_F(Landmarks, ExactPairsGiveTheirAffineAndRigidAndPolynomialTransforms) {
  const SPC ss{0.8, 0.8, 2.5}, ts{1.0, 1.2, 1.5};
  const std::vector<DPOINT3D> target = sixTargets();
  std::vector<DPOINT3D> source;
  for (const auto& p : target) source.push_back(apply(kAffine, 2, 1, p));
  std::vector<double> e1(6), e2(6);
  double r1 = -1, r2 = -1;
  double* c = VA_FindOptimalTransform(2, 0, source.data(), target.data(), 6, &ss, &ts, e1.data(), e2.data(), &r1, &r2,
                                      true, nullptr);
  ASSERT_TRUE(c);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(c[i], kAffine[i], 1e-9) << i;
  EXPECT_LT(r1, 1e-9);
  EXPECT_LT(r2, 1e-9);
  pf_free(&c);

  // Rigid in millimetres: a rotation of 5, -3, 4 degrees and a shift, through anisotropic grids.
  double r[3][3];
  VA_RotationMatrix(5, -3, 4, r);
  const double shift[3] = {3, -2, 4};
  std::vector<DPOINT3D> rigidSource;
  for (const auto& p : target) {
    const double q[3] = {p.x * ts.x, p.y * ts.y, p.z * ts.z};
    double s[3];
    for (int i = 0; i < 3; ++i) s[i] = r[i][0] * q[0] + r[i][1] * q[1] + r[i][2] * q[2] + shift[i];
    rigidSource.push_back({s[0] / ss.x, s[1] / ss.y, s[2] / ss.z});
  }
  c = VA_FindOptimalTransform(1, 0, rigidSource.data(), target.data(), 6, &ss, &ts, e1.data(), e2.data(), &r1, &r2,
                              true, nullptr);
  ASSERT_TRUE(c);
  const double sv[3] = {ss.x, ss.y, ss.z}, tv[3] = {ts.x, ts.y, ts.z};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(c[4 * i + j], r[i][j] * tv[j] / sv[i], 1e-9);
    EXPECT_NEAR(c[4 * i + 3], shift[i] / sv[i], 1e-9);
  }
  EXPECT_LT(r1, 1e-9);
  pf_free(&c);

  // A quadratic from twelve landmarks in general position.
  std::vector<double> quad(30, 0.0);
  for (int row = 0; row < 3; ++row)
    for (int k = 0; k < 4; ++k) quad[size_t(10 * row + k)] = kAffine[4 * row + k];
  quad[4] = 0.002, quad[15] = -0.003, quad[29] = 0.004, quad[22] = 0.001;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> at(0, 40);
  std::vector<DPOINT3D> qt, qs;
  for (int i = 0; i < 14; ++i) {
    qt.push_back({at(rng), at(rng), at(rng) / 2});
    qs.push_back(apply(quad.data(), 3, 2, qt.back()));
  }
  e1.resize(14);
  c = VA_FindOptimalTransform(3, 2, qs.data(), qt.data(), 14, &ss, &ts, e1.data(), nullptr, &r1, nullptr, true, nullptr);
  ASSERT_TRUE(c);
  for (int i = 0; i < 30; ++i) EXPECT_NEAR(c[i], quad[size_t(i)], 1e-8) << i;
  EXPECT_LT(r1, 1e-8);
  pf_free(&c);
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(Landmarks, NoisyPairsGiveNumpyLeastSquares) {
  const SPC spc{1, 1, 1};
  const std::vector<DPOINT3D> target = sixTargets();
  std::mt19937 rng(17);
  std::normal_distribution<double> noise(0, 0.5);
  std::vector<DPOINT3D> source;
  for (const auto& p : target) {
    DPOINT3D s = apply(kAffine, 2, 1, p);
    source.push_back({s.x + noise(rng), s.y + noise(rng), s.z + noise(rng)});
  }
  std::ostringstream py;
  py.precision(17);
  py << "t = np.array([";
  for (const auto& p : target) py << "[" << p.x << "," << p.y << "," << p.z << ",1],";
  py << "])\ns = np.array([";
  for (const auto& p : source) py << "[" << p.x << "," << p.y << "," << p.z << "],";
  py << "])\nx = np.linalg.lstsq(t, s, rcond=None)[0]\nprint(' '.join(repr(v) for v in x.T.ravel()))\n";
  std::istringstream in(runPython(py.str()));
  std::vector<double> ref;
  for (double v; in >> v;) ref.push_back(v);
  ASSERT_EQ(ref.size(), 12u);
  double r1 = 0, r2 = 0;
  double* c = VA_FindOptimalTransform(2, 0, source.data(), target.data(), 6, &spc, &spc, nullptr, nullptr, &r1, &r2,
                                      true, nullptr);
  ASSERT_TRUE(c);
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(c[i], ref[size_t(i)], 1e-9) << i;
  EXPECT_GT(r1, 0.05);
  pf_free(&c);
}

TEST_F(Landmarks, TooFewOrDegenerateLandmarksAreRefused) {
  const SPC spc{1, 1, 1};
  const std::vector<DPOINT3D> line = {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {5, 5, 5}};
  const std::vector<DPOINT3D> flat = {{0, 0, 4}, {10, 0, 4}, {0, 10, 4}, {10, 10, 4}, {5, 3, 4}};
  const std::vector<DPOINT3D> six = sixTargets();
  const struct {
    int type, degree, count;
    const std::vector<DPOINT3D>* points;
    const wchar_t* message;
  } cases[] = {
      {2, 0, 3, &six, L"At least 4 landmark pairs are required"},
      {1, 0, 2, &six, L"At least 3 landmark pairs are required"},
      {3, 2, 6, &six, L"At least 10 landmark pairs are required"},
      {2, 0, 5, &flat, L"Landmarks are degenerate (all in one plane)"},
      {1, 0, 5, &line, L"Landmarks are degenerate (all on one line)"},
      {5, 0, 6, &six, L"Unknown transform type"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(testing::Message() << k.type << " " << k.count);
    ui_.clear();
    EXPECT_EQ(VA_FindOptimalTransform(k.type, k.degree, k.points->data(), k.points->data(), k.count, &spc, &spc,
                                      nullptr, nullptr, nullptr, nullptr, true, nullptr),
              nullptr);
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0], CString(L"VA_FindOptimalTransform : ") + k.message);
  }
  // Two coinciding target landmarks leave the radial basis functions without a solution.
  const std::vector<DPOINT3D> twice = {{3, 3, 3}, {3, 3, 3}};
  const DIM3D dims{8, 8, 8, 1};
  ui_.clear();
  EXPECT_EQ(VA_PerformGaussRBF(20, 0, false, twice.data(), twice.data(), 2, &dims, &spc, &dims, &spc, nullptr, true),
            nullptr);
  EXPECT_EQ(ui_.messages.size(), 1u);
}

TEST_F(Landmarks, GaussianRbfWithoutRegularisationCarriesEveryLandmark) {
  const SPC ss{1.0, 1.0, 2.0}, ts{0.5, 0.5, 1.0};
  const DIM3D sd{30, 30, 12, 1}, td{48, 44, 20, 1};
  const std::vector<DPOINT3D> target = {{10, 12, 3}, {40, 15, 5}, {22, 30, 8}, {35, 38, 14}, {8, 30, 11}};
  std::vector<DPOINT3D> source;
  for (const auto& p : target) source.push_back({p.x * 0.5 + 1.5 - 0.02 * p.y, p.y * 0.5 - 0.7, p.z * 0.5 + 0.3});
  for (bool affine : {false, true}) {
    SCOPED_TRACE(affine);
    VA_FLOWFIELDINFO info;
    DPOINT3D* field = VA_PerformGaussRBF(15.0, 0.0, affine, source.data(), target.data(), 5, &sd, &ss, &td, &ts, &info,
                                         true);
    ASSERT_TRUE(field);
    for (size_t i = 0; i < target.size(); ++i) {
      const auto& t = target[i];
      const DPOINT3D& v = field[(size_t(t.z) * td.h + size_t(t.y)) * td.w + size_t(t.x)];
      EXPECT_NEAR(t.x + v.x, source[i].x, 1e-9);
      EXPECT_NEAR(t.y + v.y, source[i].y, 1e-9);
      EXPECT_NEAR(t.z + v.z, source[i].z, 1e-9);
    }
    EXPECT_EQ(info.targetDim.w, 48);
    EXPECT_EQ(info.sourceSpc.z, 2.0);
    pf_free(&field);
  }
}

TEST_F(Landmarks, PlaneAndItsRotationMakeTheLandmarksOneSlice) {
  // Points on the plane with normal n through (20, 30, 10), with a little spread off it.
  const double n[3] = {0.2, -0.3, 0.932737905308882};
  const double u[3] = {1, 0, -n[0] / n[2]}, w[3] = {0, 1, -n[1] / n[2]};
  std::vector<DPOINT3D> pts;
  const double off[6] = {0.1, -0.1, 0.05, -0.05, 0.0, 0.0};
  for (int i = 0; i < 6; ++i) {
    const double a = 7.0 * i - 15, b = 5.0 * ((i * 3) % 6) - 12;
    pts.push_back({20 + a * u[0] + b * w[0] + off[i] * n[0], 30 + a * u[1] + b * w[1] + off[i] * n[1],
                   10 + a * u[2] + b * w[2] + off[i] * n[2]});
  }
  double plane[4], error = -1;
  ASSERT_TRUE(VA_CalculateOptimalPlane(pts.data(), 6, plane, &error, true));
  const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(plane[k], n[k] / len, 1e-2);
  // The error is the RMS distance from the fitted plane, no more than that from the true one.
  double sum = 0;
  for (const auto& p : pts) {
    const double dist = plane[0] * p.x + plane[1] * p.y + plane[2] * p.z + plane[3];
    sum += dist * dist;
  }
  EXPECT_NEAR(error, std::sqrt(sum / 6), 1e-12);
  EXPECT_LE(error, std::sqrt((0.01 + 0.01 + 0.0025 + 0.0025) / 6) + 1e-12);
  double ax = 0, ay = 0;
  ASSERT_TRUE(VA_CalculateRotationByPlane(plane, &ax, &ay, true));
  double r[3][3];
  VA_RotationMatrix(ax, ay, 0, r);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(r[k][2], plane[k], 1e-12);
  const DPOINT3D collinear[3] = {{0, 0, 0}, {1, 2, 3}, {2, 4, 6}};
  EXPECT_FALSE(VA_CalculateOptimalPlane(collinear, 3, plane, &error, true));
  EXPECT_FALSE(VA_CalculateOptimalPlane(collinear, 2, plane, &error, true));
  EXPECT_EQ(ui_.messages.size(), 2u);
}

}  // namespace
