// Filters against independent references: scipy.ndimage and scikit-image run by Debian's Python on
// the same volumes (saved as .npy), closed forms and phantoms of known noise.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <random>
#include <string>
#include <vector>

#include "ExternalTools.h"
#include "TestFolder.h"
#include "TestTools.h"
#include "PackedText.h"
#include "ScriptedUi.h"
#include "TwkMem.h"
#include "Vol.h"
#include "filters/BiasField.h"
#include "filters/Denoise.h"
#include "filters/Features.h"
#include "filters/Radiomics.h"
#include "filters/Filters.h"
#include "io/ImageFiles.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

std::string g_dir;

// A frame freed with PR_FrameDelete at the end of the scope.
struct FrameDeleter {
  void operator()(FRAME* frame) const { PR_FrameDelete(&frame); }
};
using FrameGuard = std::unique_ptr<FRAME, FrameDeleter>;

// Runs a script in the test folder with numpy as np and scipy.ndimage as ndi; its output.
std::string python(const std::string& script) {
  std::string out;
  const bool ok = twk::test::runPython("import numpy as np, os\nfrom scipy import ndimage as ndi\nos.chdir('" + g_dir +
                                           "')\n" + script,
                                       &out);
  EXPECT_TRUE(ok) << out;
  return out;
}

// A .npy array of 3 (z, y, x) or 4 (t, z, y, x) axes as a real frame.
FRAME* loadFrame(const std::string& name) {
  int ndim = 0;
  uint64_t shape[VA_NUMPY_MAXDIMS] = {};
  DTYPE type = DTYPE_UNKNOWN;
  void* data = nullptr;
  EXPECT_TRUE(VA_NumpyLoad(CString::fromUtf8(g_dir + "/" + name), &ndim, shape, &type, &data, false)) << name;
  if (!data) return nullptr;
  EXPECT_EQ(type, DTYPE_FLOAT64) << name;
  const int t = ndim == 4 ? int(shape[0]) : 1, o = ndim == 4 ? 1 : 0;
  FRAME* f = VA_CreateVol(data, 64, int(shape[o + 2]), int(shape[o + 1]), int(shape[o]), t);
  pf_free(&data);
  return f;
}

std::vector<double> values(const FRAME* f, int t = 0) {
  std::vector<double> v;
  for (int z = 0; z < f->dim.d; ++z)
    for (int y = 0; y < f->dim.h; ++y)
      for (int x = 0; x < f->dim.w; ++x) v.push_back(twk::voxelValue(f, x, y, z, t));
  return v;
}

double maxDifference(const FRAME* a, const FRAME* b, int t = 0) {
  const std::vector<double> va = values(a, t), vb = values(b, t);
  EXPECT_EQ(va.size(), vb.size());
  double m = 0;
  for (size_t i = 0; i < std::min(va.size(), vb.size()); ++i) m = std::max(m, std::fabs(va[i] - vb[i]));
  return m;
}

class Filters : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_dir = twk::testing::testFolder("filters_test").string();
    // A random volume and the scipy references (z, y, x; reflect borders), an ROI, the ROI
    // smoothing as numpy normalised convolution, and a volume with one void voxel.
    python(R"(
rng = np.random.default_rng(3)
v = rng.normal(100, 20, (8, 10, 12))
np.save('v.npy', v)
zz, yy, xx = np.mgrid[-3:4, -3:4, -3:4]
def ball(r):
    b = (zz**2 + yy**2 + xx**2 <= r * r + 1e-9).astype(float)
    n = int(np.floor(r))
    return b[3-n:4+n, 3-n:4+n, 3-n:4+n]
b2 = ball(2.0)
np.save('gauss2.npy', ndi.gaussian_filter(v, sigma=1.0, truncate=2.0, mode='reflect'))
np.save('box2.npy', ndi.uniform_filter(v, size=5, mode='reflect'))
np.save('ball2.npy', ndi.correlate(v, b2 / b2.sum(), mode='reflect'))
np.save('median15.npy', ndi.median_filter(v, footprint=ball(1.5) > 0, mode='reflect'))
roi = np.zeros(v.shape); roi[1:6, 2:8, 3:10] = 1; roi[3, 4, 5] = 0
np.save('roi.npy', roi)
num = ndi.correlate(v * roi, b2, mode='reflect'); den = ndi.correlate(roi, b2, mode='reflect')
np.save('roismooth.npy', np.where(roi > 0, num / np.where(den > 0, den, 1), v))
full = ndi.correlate(v, b2 / b2.sum(), mode='reflect')
np.save('roismooth_open.npy', np.where(roi > 0, full, v))
w = v.copy(); w[4, 5, 6] = 1e60
valid = (w != 1e60).astype(float)
num = ndi.correlate(np.where(valid > 0, w, 0), b2, mode='reflect'); den = ndi.correlate(valid, b2, mode='reflect')
np.save('void.npy', w)
np.save('voidsmooth.npy', np.where(valid > 0, num / den, 1e60))
)");
  }
};

TEST_F(Filters, SmoothingEqualsScipy) {
  FrameGuard v(loadFrame("v.npy"));
  ASSERT_TRUE(v.get());
  const SPC spc{1, 1, 1};
  {
    SCOPED_TRACE("separable Gaussian");
    FrameGuard r(VA_VolConvoluteSeparable3D(v.get(), 0, &spc, VA_VOXWGHT_GAUSSIAN, 2.0, false));
    FrameGuard ref(loadFrame("gauss2.npy"));
    ASSERT_TRUE(r.get());
    EXPECT_LT(maxDifference(r.get(), ref.get()), 1e-9);
  }
  {
    SCOPED_TRACE("separable uniform");
    FrameGuard r(VA_VolConvoluteSeparable3D(v.get(), 0, &spc, VA_VOXWGHT_UNIFORM, 2.0, false));
    FrameGuard ref(loadFrame("box2.npy"));
    ASSERT_TRUE(r.get());
    EXPECT_LT(maxDifference(r.get(), ref.get()), 1e-9);
  }
  const struct {
    const char* reference;
    int kernel;
    double radius;
  } cases[] = {{"ball2.npy", VA_VOXWGHT_UNIFORM, 2.0}, {"median15.npy", VA_VOXWGHT_MEDIAN, 1.5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reference);
    VA_VOLSMOOTH record;
    record.kernel = c.kernel;
    record.radius = c.radius;
    FrameGuard r(VA_VolSmoothWithROI(&record, v.get(), -1, nullptr, &spc, false, false));
    FrameGuard ref(loadFrame(c.reference));
    ASSERT_TRUE(r.get());
    EXPECT_LT(maxDifference(r.get(), ref.get()), 1e-9);
  }
}

TEST_F(Filters, RoiSmoothingIsNormalisedConvolution) {
  FrameGuard v(loadFrame("v.npy")), roiReal(loadFrame("roi.npy"));
  ASSERT_TRUE(v.get() && roiReal.get());
  const std::vector<double> mask = values(roiReal.get());
  std::vector<uint8_t> bytes(mask.begin(), mask.end());
  FrameGuard roi(VA_CreateVol(bytes.data(), 1, v.get()->dim.w, v.get()->dim.h, v.get()->dim.d, 1));
  const SPC spc{1, 1, 1};
  VA_VOLSMOOTH record;
  record.radius = 2.0;
  for (int constrain = 0; constrain <= 1; ++constrain) {
    SCOPED_TRACE(constrain);
    record.constrainByMask = uint8_t(constrain);
    FrameGuard r(VA_VolSmoothWithROI(&record, v.get(), 0, roi.get(), &spc, false, false));
    FrameGuard ref(loadFrame(constrain ? "roismooth.npy" : "roismooth_open.npy"));
    ASSERT_TRUE(r.get());
    EXPECT_LT(maxDifference(r.get(), ref.get()), 1e-9);
  }
}

TEST_F(Filters, VoidVoxelsAreLeftOutAndStayVoid) {
  FrameGuard v(loadFrame("void.npy")), ref(loadFrame("voidsmooth.npy"));
  ASSERT_TRUE(v.get() && ref.get());
  const SPC spc{1, 1, 1};
  VA_VOLSMOOTH record;
  record.radius = 2.0;
  FrameGuard r(VA_VolSmoothWithROI(&record, v.get(), -1, nullptr, &spc, false, false));
  ASSERT_TRUE(r.get());
  EXPECT_EQ(twk::voxelValue(r.get(), 6, 5, 4, 0), 1e60);
  EXPECT_LT(maxDifference(r.get(), ref.get()), 1e-9);
  FrameGuard s(VA_VolConvoluteSeparable3D(v.get(), 0, &spc, VA_VOXWGHT_GAUSSIAN, 2.0, false));
  ASSERT_TRUE(s.get());
  EXPECT_EQ(twk::voxelValue(s.get(), 6, 5, 4, 0), 1e60);
  EXPECT_LT(std::fabs(twk::voxelValue(s.get(), 5, 5, 4, 0) - 100), 60);  // not dragged towards 1e60
}

TEST_F(Filters, SmoothingRefusesBadInput) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  FrameGuard v(VA_VolCreateUniform(FRM_REAL, DIM3D{6, 5, 4, 1}, 3.0));
  FrameGuard roi(VA_VolCreateUniform(FRM_ROI, DIM3D{6, 5, 3, 1}, 1.0));
  EXPECT_EQ(VA_VolConvoluteSeparable3D(v.get(), 0, nullptr, VA_VOXWGHT_MEDIAN, 2, true), nullptr);
  VA_VOLSMOOTH record;
  EXPECT_EQ(VA_VolSmoothWithROI(&record, v.get(), -1, roi.get(), nullptr, false, true), nullptr);
  EXPECT_EQ(VA_VolSmoothWithROI(&record, v.get(), 3, nullptr, nullptr, false, true), nullptr);
  record.radius = 0;
  EXPECT_EQ(VA_VolSmoothWithROI(&record, v.get(), -1, nullptr, nullptr, false, true), nullptr);
  ASSERT_EQ(ui.messages.size(), 4u);
  EXPECT_EQ(ui.messages[0], L"VA_VolConvoluteSeparable3D : Separable smoothing needs a weighted kernel");
  EXPECT_EQ(ui.messages[1], L"VA_VolSmoothWithROI : The ROI does not match the volume");
  EXPECT_EQ(ui.messages[2], L"VA_VolSmoothWithROI : Invalid time point");
  // A constant volume smooths to itself; one slice smooths in its plane.
  record.radius = 2;
  FrameGuard same(VA_VolSmoothWithROI(&record, v.get(), -1, nullptr, nullptr, false, false));
  ASSERT_TRUE(same.get());
  EXPECT_LT(maxDifference(same.get(), v.get()), 1e-12);
}

// Noise phantoms: blocks, a ramp and a ball (64 x 64 x 16) with Gaussian noise of sigma 10, and
// the magnitude of the same with complex Gaussian noise (Rician, zero background).
TEST_F(Filters, NoiseEstimatorsRecoverSigma) {
  const std::string out = python(R"(
from skimage.restoration import estimate_sigma
rng = np.random.default_rng(11)
zz, yy, xx = np.mgrid[:16, :64, :64]
clean = 100.0 + 0.8 * xx
clean[(xx - 32)**2 + (yy - 32)**2 + (zz - 8)**2 * 4 < 15**2] = 300
clean[:, :10, :] = 40
g = clean + rng.normal(0, 10, clean.shape)
np.save('gauss.npy', g)
obj = np.zeros(clean.shape); obj[:, 12:52, 12:52] = 200
ric = np.abs(obj + rng.normal(0, 10, clean.shape) + 1j * rng.normal(0, 10, clean.shape))
np.save('rician.npy', ric)
print(estimate_sigma(g))
)");
  const double skimageSigma = std::atof(out.c_str());
  FrameGuard g(loadFrame("gauss.npy")), r(loadFrame("rician.npy"));
  ASSERT_TRUE(g.get() && r.get());
  for (int algorithm : {VA_NOISE_EFFECTIVE, VA_NOISE_MEDIAN, VA_NOISE_DIFFERENCE_2D}) {
    SCOPED_TRACE(algorithm);
    double noise = 0;
    ASSERT_TRUE(VA_VolMeasureNoise(g.get(), algorithm, 0, &noise, false));
    EXPECT_NEAR(noise, 10.0, 1.0);
  }
  double noise = 0;
  ASSERT_TRUE(VA_VolMeasureNoise(r.get(), VA_NOISE_BACKGROUND, 0, &noise, false));
  EXPECT_NEAR(noise, 10.0, 1.0);
  ASSERT_TRUE(VA_VolEffectiveNoise(g.get(), 0, &noise, false));
  EXPECT_NEAR(noise, skimageSigma, 0.1 * skimageSigma);
}

TEST_F(Filters, NoiseOfTheAskedTimePointAndBadInput) {
  // Two time points of white noise, sigma 5 and 20.
  std::mt19937 rng(5);
  std::normal_distribution<double> n(0, 1);
  FrameGuard f(PR_FrameCreate(FRM_REAL, 64, DIM3D{40, 40, 6, 2}, true));
  for (int t = 0; t < 2; ++t)
    for (int z = 0; z < 6; ++z)
      for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) twk::setVoxelValue(f.get(), x, y, z, t, 500 + (t ? 20 : 5) * n(rng));
  for (int algorithm : {VA_NOISE_EFFECTIVE, VA_NOISE_MEDIAN, VA_NOISE_DIFFERENCE_2D}) {
    SCOPED_TRACE(algorithm);
    double a = 0, b = 0;
    ASSERT_TRUE(VA_VolMeasureNoise(f.get(), algorithm, 0, &a, false));
    ASSERT_TRUE(VA_VolMeasureNoise(f.get(), algorithm, 1, &b, false));
    EXPECT_NEAR(a, 5, 0.5);
    EXPECT_NEAR(b, 20, 2);
  }
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  FrameGuard flat(VA_VolCreateUniform(FRM_INT, DIM3D{8, 8, 4, 1}, 7.0));
  double noise = -1;
  EXPECT_FALSE(VA_VolMeasureNoise(flat.get(), VA_NOISE_BACKGROUND, 0, &noise, true));
  EXPECT_FALSE(VA_VolMeasureNoise(f.get(), VA_NOISE_MEDIAN, 2, &noise, true));
  EXPECT_FALSE(VA_VolMeasureNoise(f.get(), 4, 0, &noise, true));
  ASSERT_EQ(ui.messages.size(), 3u);
  EXPECT_EQ(ui.messages[0], L"VA_VolMeasureNoise : Constant volume: noise cannot be measured");
  EXPECT_EQ(ui.messages[1], L"VA_VolMeasureNoise : Invalid time point");
  EXPECT_EQ(ui.messages[2], L"VA_VolMeasureNoise : Unknown noise algorithm");
}

// A noisy step along x: the edge-constrained smoothing cuts the noise at least threefold on both
// sides and keeps the rise where it was (from below the midpoint to above it within one voxel).
TEST_F(Filters, EdgeConstrainedSmoothingKeepsTheStep) {
  std::mt19937 rng(9);
  std::normal_distribution<double> n(0, 10);
  const int w = 32, h = 24, d = 6;
  FrameGuard f(PR_FrameCreate(FRM_REAL, 64, DIM3D{w, h, d, 1}, true));
  for (int z = 0; z < d; ++z)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) twk::setVoxelValue(f.get(), x, y, z, 0, (x < 16 ? 100 : 200) + n(rng));
  VA_IVCS record;
  record.edge.lowRadius = record.edge.highRadius = 2.0;
  record.edge.edgeThreshold = 40;
  FrameGuard r(VA_SingleVolConstrainedSmooth(&record, f.get(), nullptr, false));
  ASSERT_TRUE(r.get());
  auto spread = [&](const FRAME* frame, int x0, int x1, double level) {
    double s = 0;
    int count = 0;
    for (int z = 0; z < d; ++z)
      for (int y = 0; y < h; ++y)
        for (int x = x0; x <= x1; ++x) s += std::pow(twk::voxelValue(frame, x, y, z, 0) - level, 2), ++count;
    return std::sqrt(s / count);
  };
  EXPECT_LT(spread(r.get(), 2, 13, 100), spread(f.get(), 2, 13, 100) / 3);
  EXPECT_LT(spread(r.get(), 18, 29, 200), spread(f.get(), 18, 29, 200) / 3);
  // Profile of the row means: below 150 up to x = 15, above from x = 16.
  for (int x = 12; x < 20; ++x) {
    double s = 0;
    for (int z = 0; z < d; ++z)
      for (int y = 0; y < h; ++y) s += twk::voxelValue(r.get(), x, y, z, 0);
    s /= d * h;
    if (x <= 15) EXPECT_LT(s, 125) << x;
    else EXPECT_GT(s, 175) << x;
  }
}

TEST_F(Filters, RadiusSetAndShapeSmoothing) {
  int count = 0;
  double* radii = VA_RerazoRadiusSet(3.0, &count);
  ASSERT_TRUE(radii);
  // sqrt(n) for n = 1..9 without 7 (no sum of three squares).
  const std::vector<double> expected{1, std::sqrt(2.), std::sqrt(3.), 2, std::sqrt(5.), std::sqrt(6.), std::sqrt(8.), 3};
  ASSERT_EQ(count, int(expected.size()));
  for (int i = 0; i < count; ++i) EXPECT_NEAR(radii[i], expected[size_t(i)], 1e-12);
  pf_free(&radii);
  EXPECT_EQ(VA_RerazoRadiusSet(0.5, &count), nullptr);
  // A cube with a one-voxel spike: the spike goes, the cube's inside stays.
  FrameGuard roi(PR_FrameCreate(FRM_ROI, 1, DIM3D{20, 20, 20, 1}, true));
  for (int z = 5; z < 15; ++z)
    for (int y = 5; y < 15; ++y)
      for (int x = 5; x < 15; ++x) twk::setRoiBit(roi.get(), x, y, z, 0, true);
  twk::setRoiBit(roi.get(), 16, 10, 10, 0, true);
  twk::setRoiBit(roi.get(), 15, 10, 10, 0, true);
  FrameGuard s(VA_RoiSmoothShape(roi.get(), 2.0));
  ASSERT_TRUE(s.get());
  EXPECT_FALSE(twk::roiBit(s.get(), 16, 10, 10, 0));
  EXPECT_TRUE(twk::roiBit(s.get(), 10, 10, 10, 0));
  EXPECT_TRUE(twk::roiBit(s.get(), 5, 10, 10, 0));    // a face's middle stays
  EXPECT_FALSE(twk::roiBit(s.get(), 5, 5, 5, 0));     // a corner rounds off
}

// Pearson correlation of two equal-length samples.
double correlation(const std::vector<double>& a, const std::vector<double>& b) {
  double ma = 0, mb = 0;
  for (size_t i = 0; i < a.size(); ++i) ma += a[i], mb += b[i];
  ma /= double(a.size()), mb /= double(b.size());
  double sab = 0, saa = 0, sbb = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    sab += (a[i] - ma) * (b[i] - mb);
    saa += (a[i] - ma) * (a[i] - ma);
    sbb += (b[i] - mb) * (b[i] - mb);
  }
  return sab / std::sqrt(saa * sbb);
}

// Coefficient of variation of the values where label equals the given one.
double variation(const std::vector<double>& v, const std::vector<int>& label, int which) {
  double s = 0, s2 = 0;
  int n = 0;
  for (size_t i = 0; i < v.size(); ++i)
    if (label[i] == which) s += v[i], s2 += v[i] * v[i], ++n;
  const double mean = s / n;
  return std::sqrt(std::max(0.0, s2 / n - mean * mean)) / mean;
}

// A 64^3 two-tissue phantom (a ball of 100 with a core of 300, background 0, noise sigma 2) times
// a smooth field of +-30 %: N4 cuts each tissue's variation to 0.4 of before or less, N3 and BiCal
// to half, and the fields they find correlate with the true one.
TEST_F(Filters, BiasFieldsOfAKnownField) {
  const int n = 64;
  std::mt19937 rng(21);
  std::normal_distribution<double> noise(0, 2);
  std::vector<double> truth;
  std::vector<int> label;
  FrameGuard f(PR_FrameCreate(FRM_REAL, 64, DIM3D{n, n, n, 1}, true));
  for (int z = 0; z < n; ++z)
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        const double c = (n - 1) / 2.0;
        const double r = std::sqrt((x - c) * (x - c) + (y - c) * (y - c) + (z - c) * (z - c));
        const int tissue = r < 0.21 * n ? 2 : r < 0.46 * n ? 1 : 0;
        const double field = 1 + 0.3 * std::sin(M_PI * (x - c) / (n - 1)) * std::cos(M_PI * (y - c) / (2 * n - 2));
        const double clean = tissue == 2 ? 300 : tissue == 1 ? 100 : 0;
        twk::setVoxelValue(f.get(), x, y, z, 0, tissue ? clean * field + noise(rng) : 0);
        label.push_back(tissue);
        truth.push_back(field);
      }
  VA_N4PARAM record;
  record.airThreshold = 10;
  record.splineDistance = 200;
  record.iterations = 200;
  FRAME* fieldFrame = nullptr;
  FrameGuard corrected(VA_N4BiasCorrection(&record, f.get(), nullptr, 0, nullptr, &fieldFrame, false));
  FrameGuard field(fieldFrame);
  ASSERT_TRUE(corrected.get() && field.get());
  const std::vector<double> before = values(f.get()), after = values(corrected.get()), found = values(field.get());
  for (int tissue : {1, 2}) {
    SCOPED_TRACE(tissue);
    EXPECT_LE(variation(after, label, tissue), 0.4 * variation(before, label, tissue));
  }
  std::vector<double> a, b;
  for (size_t i = 0; i < found.size(); ++i)
    if (label[i]) a.push_back(found[i]), b.push_back(truth[i]);
  EXPECT_GE(correlation(a, b), 0.98);
  // The output-field record gives the field itself; too few slices are refused.
  record.outputBiasField = 1;
  FrameGuard only(VA_N4BiasCorrection(&record, f.get(), nullptr, 0, nullptr, nullptr, false));
  ASSERT_TRUE(only.get());
  EXPECT_LT(maxDifference(only.get(), field.get()), 1e-9);
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  FrameGuard thin(VA_VolCreateUniform(FRM_REAL, DIM3D{32, 32, 3, 1}, 5.0));
  EXPECT_EQ(VA_N4BiasCorrection(&record, thin.get(), nullptr, 0, nullptr, nullptr, true), nullptr);
  EXPECT_EQ(ui.lastMessage(), L"VA_N4BiasCorrection : A volume of at least 4 slices is required");
  // BiCal too, and its field degree follows the precision.
  VA_BICALZF bical;
  bical.outputReal = 1;
  FrameGuard bicalCorrected(VA_VolBicalZF(&bical, f.get(), nullptr, 0, true));
  ASSERT_TRUE(bicalCorrected.get()) << ui.lastMessage().toUtf8();
  const std::vector<double> bicalAfter = values(bicalCorrected.get());
  for (int tissue : {1, 2}) {
    SCOPED_TRACE(tissue);
    EXPECT_LE(variation(bicalAfter, label, tissue), 0.5 * variation(before, label, tissue));
  }
  // N3 with its basic settings: each tissue's variation to half of before or less, its field
  // following the true one; the output-field flag gives that field.
  VA_N3PARM n3;
  VA_N3setBasicParms(&n3, 2.0);
  FrameGuard n3Corrected(VA_N3padded(f.get(), nullptr, nullptr, 0, &n3, true));
  ASSERT_TRUE(n3Corrected.get()) << ui.lastMessage().toUtf8();
  const std::vector<double> n3After = values(n3Corrected.get());
  for (int tissue : {1, 2}) {
    SCOPED_TRACE(tissue);
    EXPECT_LE(variation(n3After, label, tissue), 0.5 * variation(before, label, tissue));
  }
  n3.outputBiasField = 1;
  FrameGuard n3Field(VA_N3padded(f.get(), nullptr, nullptr, 0, &n3, true));
  ASSERT_TRUE(n3Field.get());
  const std::vector<double> n3Found = values(n3Field.get());
  a.clear(), b.clear();
  for (size_t i = 0; i < n3Found.size(); ++i)
    if (label[i]) a.push_back(n3Found[i]), b.push_back(truth[i]);
  EXPECT_GE(correlation(a, b), 0.98);
  const DIM3D dims{256, 256, 40, 1};
  const SPC spacing{1, 1, 3};
  EXPECT_EQ(VA_BicalFieldDegree(&dims, &spacing, 20.0), 12);
  EXPECT_EQ(VA_BicalFieldDegree(&dims, &spacing, 5.0), 22);
}

// mricron-data's ch2 head at 2 mm times a smooth field of +-30 %. Tissues: grey and white matter
// as intensity bands of the clean image inside the brain (ch2bet). Each correction must reduce
// both tissues' variation (BiCal's plain least squares made it worse: regions the edges leave
// holding two tissues read the contrast as field). N4 also reads part of the anatomy as field (on
// the clean head alone it finds a field of about +-20 %), so the known field is checked as the
// ratio of the fields N4 finds on the biased and on the clean head, fitted over the brain.
TEST_F(Filters, BiasFieldsOfTheCh2Head) {
  const char* ch2 = "/usr/share/mricron/templates/ch2.nii.gz";
  const char* bet = "/usr/share/mricron/templates/ch2bet.nii.gz";
  TWK_REQUIRE_TOOL(std::filesystem::exists(ch2) && std::filesystem::exists(bet), "the ch2 templates of mricron-data");
  python(std::string("import nibabel as nib\nch2, bet = '") + ch2 + "', '" + bet + R"('
a = np.asanyarray(nib.load(ch2).dataobj).astype(float)[::2, ::2, ::2].transpose(2, 1, 0)  # (z, y, x) at 2 mm
b = np.asanyarray(nib.load(bet).dataobj)[::2, ::2, ::2].transpose(2, 1, 0) > 0
z, y, x = np.mgrid[:a.shape[0], :a.shape[1], :a.shape[2]]
field = 1 + 0.3 * np.sin(np.pi * (x / (a.shape[2] - 1) - 0.5)) * np.cos(0.5 * np.pi * (y / (a.shape[1] - 1) - 0.5) + 0.3 * (z / a.shape[0]))
label = np.where(b & (a >= 78) & (a <= 92), 1.0, np.where(b & (a >= 106) & (a <= 118), 2.0, 0.0))
np.save('ch2_clean.npy', a); np.save('ch2_biased.npy', a * field); np.save('ch2_field.npy', field)
np.save('ch2_label.npy', label); np.save('ch2_brain.npy', b.astype(float))
)");
  FrameGuard clean(loadFrame("ch2_clean.npy")), biased(loadFrame("ch2_biased.npy")), truth(loadFrame("ch2_field.npy")),
      labels(loadFrame("ch2_label.npy")), brainValues(loadFrame("ch2_brain.npy"));
  ASSERT_TRUE(clean.get() && biased.get() && truth.get() && labels.get() && brainValues.get());
  const SPC spacing{2, 2, 2};
  std::vector<int> label;
  for (double v : values(labels.get())) label.push_back(int(v));
  std::vector<uint8_t> brain;
  for (double v : values(brainValues.get())) brain.push_back(v > 0);
  const std::vector<double> before = values(biased.get());
  auto check = [&](const char* method, const FRAME* corrected, double ratio) {
    ASSERT_TRUE(corrected) << method;
    const std::vector<double> after = values(corrected);
    for (int tissue : {1, 2})
      EXPECT_LE(variation(after, label, tissue), ratio * variation(before, label, tissue)) << method << " tissue " << tissue;
  };
  VA_N4PARAM n4;
  n4.airThreshold = 10;
  FrameGuard n4Corrected(VA_N4BiasCorrection(&n4, biased.get(), &spacing, 0, nullptr, nullptr, false));
  check("N4", n4Corrected.get(), 0.8);
  {
    FrameGuard mask(VA_CreateVol(brain.data(), 1, clean->dim.w, clean->dim.h, clean->dim.d, 1));
    FRAME* onBiased = nullptr;
    FRAME* onClean = nullptr;
    FrameGuard a1(VA_N4BiasCorrection(&n4, biased.get(), &spacing, 0, mask.get(), &onBiased, false));
    FrameGuard a2(VA_N4BiasCorrection(&n4, clean.get(), &spacing, 0, mask.get(), &onClean, false));
    FrameGuard f1(onBiased), f2(onClean);
    ASSERT_TRUE(f1.get() && f2.get());
    const std::vector<double> found = values(f1.get()), spurious = values(f2.get()), known = values(truth.get());
    std::vector<double> a, b;
    for (size_t i = 0; i < found.size(); ++i)
      if (brain[i]) a.push_back(found[i] / spurious[i]), b.push_back(known[i]);
    EXPECT_GE(correlation(a, b), 0.97);
  }
  VA_N3PARM n3;
  VA_N3setBasicParms(&n3, 2.0);
  FrameGuard n3Corrected(VA_N3padded(biased.get(), nullptr, &spacing, 0, &n3, false));
  check("N3", n3Corrected.get(), 0.6);
  VA_BICALZF bical;
  bical.outputReal = 1;
  FrameGuard bicalCorrected(VA_VolBicalZF(&bical, biased.get(), &spacing, 0, false));
  check("BiCal", bicalCorrected.get(), 0.95);
}

// Non-local means on a noisy piecewise-constant phantom against scikit-image's fast
// denoise_nl_means with the same patch, search distance, h and sigma.
TEST_F(Filters, NonLocalMeansAgainstScikitImage) {
  const std::string out = python(R"(
from skimage.restoration import denoise_nl_means
from skimage.metrics import peak_signal_noise_ratio as psnr
rng = np.random.default_rng(4)
zz, yy, xx = np.mgrid[:24, :48, :48]
clean = np.full((24, 48, 48), 60.0)
clean[(xx - 24)**2 + (yy - 24)**2 < 14**2] = 160
clean[:, 5:15, 30:44] = 110
noisy = clean + rng.normal(0, 10, clean.shape)
np.save('nlm_clean.npy', clean); np.save('nlm_noisy.npy', noisy)
den = denoise_nl_means(noisy, patch_size=3, patch_distance=3, h=0.8 * 10, sigma=10, fast_mode=True)
print(psnr(clean, noisy, data_range=100), psnr(clean, den, data_range=100))
)");
  double noisyPsnr = 0, skimagePsnr = 0;
  ASSERT_EQ(std::sscanf(out.c_str(), "%lf %lf", &noisyPsnr, &skimagePsnr), 2) << out;
  FrameGuard clean(loadFrame("nlm_clean.npy")), noisy(loadFrame("nlm_noisy.npy"));
  ASSERT_TRUE(clean.get() && noisy.get());
  const VA_NLMDENOISE record{1, 1, 3, 10.0, 0.8};
  FrameGuard den(VA_VolDenoiseNLM(&record, noisy.get(), nullptr, -1, false));
  ASSERT_TRUE(den.get());
  auto psnr = [&](const FRAME* f) {
    const std::vector<double> a = values(clean.get()), b = values(f);
    double mse = 0;
    for (size_t i = 0; i < a.size(); ++i) mse += (a[i] - b[i]) * (a[i] - b[i]);
    return 10 * std::log10(100.0 * 100.0 / (mse / double(a.size())));
  };
  EXPECT_NEAR(psnr(noisy.get()), noisyPsnr, 1e-6);
  EXPECT_GE(psnr(den.get()), noisyPsnr + 6);
  EXPECT_GE(psnr(den.get()), skimagePsnr - 0.3) << "skimage " << skimagePsnr;
}

// Non-local means equals the direct sum over every offset and patch voxel (mirrored borders, a
// void left out and kept void) on a volume that spans several of the work's tiles, in 3D and 2D.
TEST_F(Filters, NonLocalMeansEqualsTheDirectSum) {
  auto reflect = [](int i, int n) {  // d c b a | a b c d | d c b a
    while (i < 0 || i >= n) i = i < 0 ? -i - 1 : 2 * n - i - 1;
    return i;
  };
  const int w = 20, h = 40, d = 20;
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0, 8);
  FrameGuard f(PR_FrameCreate(FRM_REAL, 64, DIM3D{w, h, d, 1}, true));
  for (int z = 0; z < d; ++z)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) twk::setVoxelValue(f.get(), x, y, z, 0, (x + y > 25 ? 100 : 40) + noise(rng));
  twk::setVoxelValue(f.get(), 7, 33, 17, 0, VOID_VALUE);
  const std::vector<double> v = values(f.get());
  double fill = 0;
  for (double a : v)
    if (a != VOID_VALUE) fill += a;
  fill /= double(v.size() - 1);
  auto at = [&](int x, int y, int z) {
    const double a = v[size_t((int64_t(reflect(z, d)) * h + reflect(y, h)) * w +
                              reflect(x, w))];
    return a == VOID_VALUE ? fill : a;
  };
  auto valid = [&](int x, int y, int z) {
    return v[size_t((int64_t(reflect(z, d)) * h + reflect(y, h)) * w +
                    reflect(x, w))] != VOID_VALUE;
  };
  for (uint8_t use3D : {uint8_t(1), uint8_t(0)}) {
    SCOPED_TRACE(int(use3D));
    const VA_NLMDENOISE record{use3D, 1, 2, 6.0, 1.5};
    FrameGuard result(VA_VolDenoiseNLM(&record, f.get(), nullptr, 0, false));
    ASSERT_TRUE(result.get());
    const std::vector<double> got = values(result.get());
    const int pz = use3D ? 1 : 0, sz = use3D ? 2 : 0;
    const double hh = 1.5 * 6.0, patchVolume = 9.0 * (2 * pz + 1);
    double worst = 0;
    for (int z = 0; z < d; ++z)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const size_t i = size_t((int64_t(z) * h + y) * w + x);
          if (v[i] == VOID_VALUE) {
            EXPECT_EQ(got[i], VOID_VALUE);
            continue;
          }
          double sw = 0, sv = 0;
          for (int oz = -sz; oz <= sz; ++oz)
            for (int oy = -2; oy <= 2; ++oy)
              for (int ox = -2; ox <= 2; ++ox) {
                if (!valid(x + ox, y + oy, z + oz)) continue;
                double dist = 0;
                for (int uz = -pz; uz <= pz; ++uz)
                  for (int uy = -1; uy <= 1; ++uy)
                    for (int ux = -1; ux <= 1; ++ux) {
                      const double t = at(x + ux, y + uy, z + uz) - at(x + ox + ux, y + oy + uy, z + oz + uz);
                      dist += t * t;
                    }
                const double e = std::max(dist / patchVolume - 2 * 36.0, 0.0) / (hh * hh);
                if (e > 5.0) continue;
                sw += std::exp(-e);
                sv += std::exp(-e) * at(x + ox, y + oy, z + oz);
              }
          worst = std::max(worst, std::abs(got[i] - sv / sw));
        }
    EXPECT_LT(worst, 1e-9);
  }
}

// NLM-D: one weight set from the patches of all time points beats denoising each on its own.
TEST_F(Filters, NonLocalMeans4DBeatsFrameWise) {
  std::mt19937 rng(8);
  std::normal_distribution<double> noise(0, 10);
  const DIM3D dims{32, 32, 8, 4};
  FrameGuard clean(PR_FrameCreate(FRM_REAL, 64, dims, true)), noisy(PR_FrameCreate(FRM_REAL, 64, dims, true));
  for (int t = 0; t < 4; ++t)
    for (int z = 0; z < 8; ++z)
      for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
          const double v = (x > 8 && x < 22 && y > 10 ? 100 + 15 * t : 50) + (y < 6 ? 40 : 0);
          twk::setVoxelValue(clean.get(), x, y, z, t, v);
          twk::setVoxelValue(noisy.get(), x, y, z, t, v + noise(rng));
        }
  const VA_NLMDENOISE record{1, 1, 2, 10.0, 0.8};
  FrameGuard frameWise(VA_VolDenoiseNLM(&record, noisy.get(), nullptr, -1, false));
  FrameGuard together(VA_VolDenoiseNLMD(&record, noisy.get(), nullptr, false));
  ASSERT_TRUE(frameWise.get() && together.get());
  auto rmse = [&](const FRAME* f) {
    double s = 0;
    int64_t n = 0;
    for (int t = 0; t < 4; ++t) {
      const std::vector<double> a = values(clean.get(), t), b = values(f, t);
      for (size_t i = 0; i < a.size(); ++i) s += (a[i] - b[i]) * (a[i] - b[i]), ++n;
    }
    return std::sqrt(s / double(n));
  };
  EXPECT_LT(rmse(together.get()), rmse(frameWise.get()));
  EXPECT_LT(rmse(frameWise.get()), rmse(noisy.get()) / 2);
}

// The incoherence of a ramp in time is 0; of white noise sigma the map's closed form is
// sqrt(6) sigma / delta^2 and the normalised one 1 (both in expectation).
TEST_F(Filters, IncoherenceOfRampAndNoise) {
  std::mt19937 rng(2);
  std::normal_distribution<double> noise(0, 4);
  CVol vol;
  vol.frame = PR_FrameCreate(FRM_REAL, 64, DIM3D{16, 16, 8, 40}, true);
  for (int t = 0; t < 40; ++t)
    for (int z = 0; z < 8; ++z)
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
          twk::setVoxelValue(vol.frame, x, y, z, t, x < 8 ? 10 + 3.0 * t : 100 + noise(rng));
  FRAME *map = nullptr, *second = nullptr;
  ASSERT_TRUE(VA_VolIncoherence2map(&vol, 0.5, &map, &second, false));
  FrameGuard m(map), n(second);
  double sm = 0, sn = 0;
  int count = 0;
  for (int z = 0; z < 8; ++z)
    for (int y = 0; y < 16; ++y) {
      EXPECT_NEAR(twk::voxelValue(map, 3, y, z, 0), 0.0, 1e-9);
      EXPECT_NEAR(twk::voxelValue(second, 3, y, z, 0), 0.0, 1e-9);
      for (int x = 8; x < 16; ++x) sm += std::pow(twk::voxelValue(map, x, y, z, 0), 2), sn += twk::voxelValue(second, x, y, z, 0), ++count;
    }
  EXPECT_NEAR(std::sqrt(sm / count), std::sqrt(6.0) * 4 / 0.25, 0.05 * std::sqrt(6.0) * 4 / 0.25);
  EXPECT_NEAR(sn / count, 1.0, 0.1);
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CVol flat;
  flat.frame = PR_FrameCreate(FRM_REAL, 64, DIM3D{4, 4, 4, 2}, true);
  EXPECT_FALSE(VA_VolIncoherence2map(&flat, 0.1, &map, &second, true));
  EXPECT_EQ(ui.lastMessage(), L"VA_VolIncoherence2map : 4D volume of at least 3 time points is required");
}

// Slice gains of +-10 % on a volume smooth along z are removed to 1 %.
TEST_F(Filters, SliceStreaksRemoved) {
  const int d = 20;
  std::mt19937 rng(12);
  std::uniform_real_distribution<double> gain(0.9, 1.1);
  std::vector<double> gains(d);
  for (double& g : gains) g = gain(rng);
  FrameGuard f(PR_FrameCreate(FRM_REAL, 64, DIM3D{40, 40, d, 1}, true));
  auto clean = [](int x, int y, int z) {
    return (x - 20) * (x - 20) + (y - 20) * (y - 20) < 300 ? 200 + 2.0 * x + 1.5 * z + y : 5.0;
  };
  for (int z = 0; z < d; ++z)
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 40; ++x) twk::setVoxelValue(f.get(), x, y, z, 0, clean(x, y, z) * gains[size_t(z)]);
  FrameGuard r(VA_VolRemoveSliceStreaks(f.get(), 0, false));
  ASSERT_TRUE(r.get());
  std::vector<double> ratio(d);
  for (int z = 0; z < d; ++z) ratio[size_t(z)] = twk::voxelValue(r.get(), 20, 20, z, 0) / clean(20, 20, z);
  // What remains is a smooth trend at most (left to the anatomy); slice to slice it is gone.
  for (int z = 1; z + 1 < d; ++z)
    EXPECT_NEAR(ratio[size_t(z)], (ratio[size_t(z - 1)] + ratio[size_t(z + 1)]) / 2, 0.01) << z;
}

// Three squares in one slice: the Tomasi detector finds their 12 corners.
TEST_F(Filters, TomasiFindsTwelveCorners) {
  FrameGuard f(PR_FrameCreate(FRM_REAL, 64, DIM3D{80, 40, 1, 1}, true));
  const int corners[3][2] = {{6, 8}, {32, 12}, {56, 6}};
  for (const auto& c : corners)
    for (int y = c[1]; y < c[1] + 16; ++y)
      for (int x = c[0]; x < c[0] + 16; ++x) twk::setVoxelValue(f.get(), x, y, 0, 0, 100);
  const VA_FEATUREDETECT record{1, 1.5, 5.0, 1.0};
  int count = 0;
  POINT3D* points = VA_VolFeaturePointCoords(&record, f.get(), nullptr, nullptr, &count, false);
  ASSERT_EQ(count, 12);
  for (int i = 0; i < count; ++i) {
    bool near = false;
    for (const auto& c : corners)
      for (int cx : {c[0], c[0] + 15})
        for (int cy : {c[1], c[1] + 15}) near |= std::abs(points[i].x - cx) <= 1 && std::abs(points[i].y - cy) <= 1;
    EXPECT_TRUE(near) << points[i].x << "," << points[i].y;
  }
  pf_free(&points);
  FrameGuard map(VA_VolFeatureResponseMap(&record, f.get(), nullptr, nullptr, false));
  ASSERT_TRUE(map.get());
  EXPECT_GT(twk::voxelValue(map.get(), 6, 8, 0, 0), 10 * std::fabs(twk::voxelValue(map.get(), 14, 8, 0, 0)));
}

// The first data row of a radiomics table (settings line, column names, rows) by column name.
std::map<std::string, double> radiomicsRow(const CString& text, int row = 0) {
  std::istringstream lines(text.toUtf8());
  std::string settings, header, line;
  std::getline(lines, settings);
  std::getline(lines, header);
  for (int i = 0; i <= row; ++i) std::getline(lines, line);
  std::map<std::string, double> out;
  std::istringstream names(header), values(line);
  std::string name, value;
  std::getline(names, name, '\t');
  std::getline(values, value, '\t');
  while (std::getline(names, name, '\t') && std::getline(values, value, '\t'))
    out[name] = value == "NaN" ? std::nan("") : std::stod(value);
  return out;
}

// A typed 3 x 3 slice with its GLCM contrast worked out by hand for each aggregation: per
// direction (1,0): 8/12, (0,1): 8/12, (1,1): 20/8, (-1,1): 0.
TEST_F(Filters, RadiomicsOfATypedSlice) {
  const double levels[9] = {1, 1, 2, 1, 2, 3, 2, 3, 3};
  CVol vol;
  vol.frame = VA_CreateVol(levels, 64, 3, 3, 1, 1);
  VA_PARM_RADIOM2D record;
  record.discretisation.rangeLow = 0.5;
  record.discretisation.rangeHigh = 3.5;
  record.discretisation.binWidth = 1;
  const double r2 = std::sqrt(2.0);
  const struct {
    int weights;
    double contrast;
  } cases[] = {{0, (8.0 / 12 + 8.0 / 12 + 20.0 / 8 + 0) / 4},
               {1, 36.0 / 40},
               {2, 36.0 / 40},
               {3, (8 + 8 + 20 / r2) / (24 + 16 / r2)},
               {4, (8 + 8 + 20 / 2.0) / (24 + 16 / 2.0)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.weights);
    record.weights = c.weights;
    CString text;
    ASSERT_TRUE(VA_VolumeRadiomics2D(&record, nullptr, &vol, 0, nullptr, 0, &text, false));
    std::map<std::string, double> row = radiomicsRow(text);
    EXPECT_NEAR(row["GLCM_contrast"], c.contrast, 1e-12);
    EXPECT_NEAR(row["FO_mean"], 2.0, 1e-12);
    EXPECT_NEAR(row["FO_variance"], 6.0 / 9, 1e-12);
    // Runs along (1,0): level 1 of length 2 and 1, level 2 of length 1 (x3), level 3 of 1 and 2.
    if (c.weights == 0) {
      EXPECT_GT(row["GLRLM_short_runs_emphasis"], 0.5);
    }
  }
  // Refusals: an undefined discretisation, a distance list that does not read.
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CString text;
  VA_PARM_RADIOM2D undefined;
  EXPECT_FALSE(VA_VolumeRadiomics2D(&undefined, nullptr, &vol, 0, nullptr, 0, &text, true));
  EXPECT_EQ(ui.lastMessage(), L"VA_VolumeRadiomics2D : Histogram-based discretization is undefined.");
  twk::setPackedText(record.distances, 32, L"1, x");
  EXPECT_FALSE(VA_VolumeRadiomics2D(&record, nullptr, &vol, 0, nullptr, 0, &text, true));
  EXPECT_EQ(ui.lastMessage(), L"VA_VolumeRadiomics2D : The distance list must hold positive integers");
  // 31 characters are the most (the field is byte-packed: written without assuming alignment).
  twk::setPackedText(record.distances, 32, L"1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1");
  ASSERT_TRUE(VA_VolumeRadiomics2D(&record, nullptr, &vol, 0, nullptr, 0, &text, true)) << ui.lastMessage().toUtf8();
  const wchar_t one = L'1';
  std::memcpy(reinterpret_cast<char*>(record.distances) + 31 * sizeof(wchar_t), &one, sizeof one);
  EXPECT_FALSE(VA_VolumeRadiomics2D(&record, nullptr, &vol, 0, nullptr, 0, &text, true));
  EXPECT_EQ(ui.lastMessage(), L"VA_VolumeRadiomics2D : The distance list is longer than 31 characters");
}

// A working resolution other than the volume's own: a 0.5 mm image made of 2 x 2 copies of each
// pixel of a 1 mm one, worked at 1 mm, gives the 1 mm image's table (the resampled centres fall
// between equal copies), for the whole slice and over an ROI; the slices stay as they are.
TEST_F(Filters, RadiomicsAtAnotherResolution) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(0, 100);
  const int n = 12, depth = 3;
  FrameGuard fine(PR_FrameCreate(FRM_REAL, 64, DIM3D{2 * n, 2 * n, depth, 1}, true));
  FrameGuard coarse(PR_FrameCreate(FRM_REAL, 64, DIM3D{n, n, depth, 1}, true));
  FrameGuard fineRoi(PR_FrameCreate(FRM_ROI, 1, DIM3D{2 * n, 2 * n, depth, 1}, true));
  FrameGuard coarseRoi(PR_FrameCreate(FRM_ROI, 1, DIM3D{n, n, depth, 1}, true));
  for (int z = 0; z < depth; ++z)
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        const double v = u(rng);
        const bool inside = (x - 5) * (x - 5) + (y - 6) * (y - 6) < 16;
        twk::setVoxelValue(coarse.get(), x, y, z, 0, v);
        twk::setRoiBit(coarseRoi.get(), x, y, z, 0, inside);
        for (int dy = 0; dy < 2; ++dy)
          for (int dx = 0; dx < 2; ++dx) {
            twk::setVoxelValue(fine.get(), 2 * x + dx, 2 * y + dy, z, 0, v);
            twk::setRoiBit(fineRoi.get(), 2 * x + dx, 2 * y + dy, z, 0, inside);
          }
      }
  auto volume = [](FrameGuard& f, double size, const wchar_t* name) {
    auto v = std::make_unique<CVol>();
    v->frame = f.release();
    v->spc = SPC{size, size, 2.0};
    v->name = name;
    return v;
  };
  auto fineVol = volume(fine, 0.5, L"/data/fine.nii"), coarseVol = volume(coarse, 1.0, L"/data/coarse.nii");
  auto fineRoiVol = volume(fineRoi, 0.5, L"/data/lesion.nii"), coarseRoiVol = volume(coarseRoi, 1.0, L"/data/lesion.nii");
  VA_PARM_RADIOM2D record;
  record.discretisation.rangeLow = 0;
  record.discretisation.rangeHigh = 100;
  record.discretisation.binWidth = 12.5;
  twk::setPackedText(record.distances, 32, L"1,2");
  for (bool withRoi : {false, true}) {
    SCOPED_TRACE(withRoi);
    CVol* fineRois[] = {fineRoiVol.get()};
    CVol* coarseRois[] = {coarseRoiVol.get()};
    CString atNative, atCoarse;
    record.resolution = 0;
    ASSERT_TRUE(VA_VolumeRadiomics2D(&record, nullptr, coarseVol.get(), 0, coarseRois, withRoi, &atNative, false));
    record.resolution = 1.0;
    ASSERT_TRUE(VA_VolumeRadiomics2D(&record, nullptr, fineVol.get(), 0, fineRois, withRoi, &atCoarse, false));
    const std::map<std::string, double> expected = radiomicsRow(atNative), got = radiomicsRow(atCoarse);
    ASSERT_EQ(got.size(), expected.size());
    for (const auto& [feature, value] : expected) {
      if (std::isnan(value)) EXPECT_TRUE(std::isnan(got.at(feature))) << feature;
      else EXPECT_NEAR(got.at(feature), value, 1e-9 * std::max(1.0, std::fabs(value))) << feature;
    }
    if (withRoi) {
      EXPECT_NE(atCoarse.Find(L"lesion\t"), -1) << atCoarse.toUtf8();  // the row keeps the ROI's name
    }
  }
  record.resolution = -1;
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CString text;
  EXPECT_FALSE(VA_VolumeRadiomics2D(&record, nullptr, fineVol.get(), 0, nullptr, 0, &text, true));
  EXPECT_EQ(ui.lastMessage(), L"VA_VolumeRadiomics2D : Invalid working resolution");
}

// GLCM features against scikit-image's graycomatrix/graycoprops (outside-ROI pixels an extra
// level that is dropped), and first order against scipy's population moments.
TEST_F(Filters, RadiomicsAgainstScikitImage) {
  const std::string out = python(R"(
from skimage.feature import graycomatrix, graycoprops
from scipy import stats
rng = np.random.default_rng(6)
img = ndi.gaussian_filter(rng.random((1, 30, 34)), 2) * 400 + rng.normal(0, 5, (1, 30, 34))
img = np.clip(img, 0, 199.9)
yy, xx = np.mgrid[:30, :34]
roi = ((yy - 15)**2 + (xx - 16)**2 < 12**2).astype(float)[None]
np.save('rad_img.npy', img); np.save('rad_roi.npy', roi)
q = np.floor(img[0] / 25).astype(int)
q[roi[0] == 0] = 8
# At Chebyshev distance d the diagonal offsets are (d, d): distance d sqrt 2 at 45 degrees.
def props(dist):
    out = []
    for d in dist:
        for dd, angles in ((d, [0, np.pi / 2]), (d * np.sqrt(2), [np.pi / 4, 3 * np.pi / 4])):
            P = graycomatrix(q, [dd], angles, levels=9, symmetric=True)[:8, :8]
            out.append([graycoprops(P, p)[0] for p in ('contrast', 'dissimilarity', 'homogeneity', 'ASM', 'correlation')])
    return np.concatenate(out, axis=1).mean(axis=1)
for dist in ([1], [1, 2]):
    print(' '.join(repr(float(x)) for x in props(dist)))
v = img[0][roi[0] > 0]
print(repr(float(v.mean())), repr(float(v.var())), repr(float(stats.skew(v))), repr(float(stats.kurtosis(v))))
)");
  std::istringstream lines(out);
  FrameGuard img(loadFrame("rad_img.npy")), roiReal(loadFrame("rad_roi.npy"));
  ASSERT_TRUE(img.get() && roiReal.get());
  CVol vol, roi;
  vol.frame = VA_VolClone(img.get());
  const std::vector<double> mask = values(roiReal.get());
  std::vector<uint8_t> bytes(mask.begin(), mask.end());
  roi.frame = VA_CreateVol(bytes.data(), 1, 34, 30, 1, 1);
  roi.name = L"/data/roi.nii";
  CVol* rois[1] = {&roi};
  VA_PARM_RADIOM2D record;
  record.discretisation.rangeLow = 0;
  record.discretisation.rangeHigh = 200;
  record.discretisation.binWidth = 25;
  record.weights = 0;
  for (const wchar_t* distances : {L"1", L"1,2"}) {
    SCOPED_TRACE(CString(distances).toUtf8());
    twk::setPackedText(record.distances, 32, distances);
    CString text;
    ASSERT_TRUE(VA_VolumeRadiomics2D(&record, nullptr, &vol, 0, rois, 1, &text, false));
    std::map<std::string, double> row = radiomicsRow(text);
    double ref[5];
    lines >> ref[0] >> ref[1] >> ref[2] >> ref[3] >> ref[4];
    const char* names[5] = {"GLCM_contrast", "GLCM_dissimilarity", "GLCM_inverse_difference_moment",
                            "GLCM_angular_second_moment", "GLCM_correlation"};
    for (int k = 0; k < 5; ++k) EXPECT_NEAR(row[names[k]], ref[k], 1e-9 * std::max(1.0, std::fabs(ref[k]))) << names[k];
  }
  double moments[4];
  lines >> moments[0] >> moments[1] >> moments[2] >> moments[3];
  CString text;
  ASSERT_TRUE(VA_VolumeRadiomics2D(&record, nullptr, &vol, 0, rois, 1, &text, false));
  std::map<std::string, double> row = radiomicsRow(text);
  const char* names[4] = {"FO_mean", "FO_variance", "FO_skewness", "FO_kurtosis"};
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(row[names[k]], moments[k], 1e-9 * std::max(1.0, std::fabs(moments[k]))) << names[k];
  EXPECT_NE(text.Find(L"\nROI\tFO_mean"), -1);
  EXPECT_EQ(text.Left(22), L"Radiomics 2D features:");
}

// Three curves (a rise, a washout and a peak) over three regions with noise sigma 10: TSM cuts
// the error to a third or less and keeps each region's mean within 2 %; the complex form of
// the same curves (imaginary part zero) gives their magnitude.
TEST_F(Filters, TemporalShapeMeansOnThreeCurves) {
  const int w = 30, h = 20, d = 4, T = 12;
  std::mt19937 rng(13);
  std::normal_distribution<double> noise(0, 10);
  auto curve = [](int region, int t) {
    switch (region) {
      case 0: return 100 + 150 * (1 - std::exp(-t / 3.0));
      case 1: return 300 - 12.0 * t;
      default: return 120 + 180 * std::exp(-std::pow(t - 4.0, 2) / 4.0);
    }
  };
  const DIM3D dims{w, h, d, T};
  FrameGuard clean(PR_FrameCreate(FRM_REAL, 64, dims, true)), noisy(PR_FrameCreate(FRM_REAL, 64, dims, true)),
      zero(PR_FrameCreate(FRM_REAL, 64, dims, true));
  for (int t = 0; t < T; ++t)
    for (int z = 0; z < d; ++z)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const double v = curve(x / 10, t);
          twk::setVoxelValue(clean.get(), x, y, z, t, v);
          twk::setVoxelValue(noisy.get(), x, y, z, t, v + noise(rng));
        }
  const VA_NLMDENOISE record{0, 0, 0, 10.0, 1.0};
  FrameGuard r(VA_VolTemporalShapeMeans(&record, noisy.get(), nullptr, false));
  ASSERT_TRUE(r.get());
  auto rmse = [&](const FRAME* f) {
    double s = 0;
    int n = 0;
    for (int t = 0; t < T; ++t) {
      const std::vector<double> a = values(clean.get(), t), b = values(f, t);
      for (size_t i = 0; i < a.size(); ++i) s += (a[i] - b[i]) * (a[i] - b[i]), ++n;
    }
    return std::sqrt(s / n);
  };
  EXPECT_LT(rmse(r.get()), rmse(noisy.get()) / 3);
  for (int region = 0; region < 3; ++region) {
    double got = 0, want = 0;
    for (int t = 0; t < T; ++t)
      for (int z = 0; z < d; ++z)
        for (int y = 0; y < h; ++y)
          for (int x = 10 * region; x < 10 * region + 10; ++x)
            got += twk::voxelValue(r.get(), x, y, z, t), want += twk::voxelValue(clean.get(), x, y, z, t);
    EXPECT_NEAR(got / want, 1.0, 0.02) << region;
  }
  FrameGuard m(VA_ComplexVolTemporalShapeMeans(&record, noisy.get(), zero.get(), nullptr, false));
  ASSERT_TRUE(m.get());
  EXPECT_LT(rmse(m.get()), rmse(noisy.get()) / 3);
  // STSM in groups of 6 time points and the model-based form guided by the clean curves.
  VA_NLMDENOISE groups = record;
  groups.searchRadius = 6;
  FrameGuard st(VA_VolSpaceTemporalShapeMeans(&groups, noisy.get(), nullptr, nullptr, false));
  FrameGuard mb(VA_VolModelBasedTemporalShapeMeans(&record, noisy.get(), nullptr, clean.get(), false));
  ASSERT_TRUE(st.get() && mb.get());
  EXPECT_LT(rmse(st.get()), rmse(noisy.get()) / 3);
  EXPECT_LT(rmse(mb.get()), rmse(noisy.get()) / 3);
  FrameGuard flat(PR_FrameCreate(FRM_REAL, 64, DIM3D{w, h, d, 1}, true));
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  EXPECT_EQ(VA_VolModelBasedTemporalShapeMeans(&record, noisy.get(), nullptr, flat.get(), true), nullptr);
  EXPECT_EQ(ui.lastMessage(), L"VA_VolModelBasedTemporalShapeMeans : wrong model type");
}

}  // namespace
