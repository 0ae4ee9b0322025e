// Tests of the MR signal models of the Kinmodels plug-in (diffusion, relaxometry, flip-angle series,
// inversion recovery, T1rho, gamma variate) through its exports only, the library loaded with dlopen.
//
// References are independent of the models: signals written here from their closed forms, and the
// IVIM fits of dipy run by Debian's own python3.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "KinmodelsApi.h"
#include "ModelTestHost.h"
#include "TestFolder.h"
#include "TestTools.h"

namespace {

constexpr double kVoid = 1e60;
constexpr double kPi = std::numbers::pi;

using modeltest::Api;
using modeltest::api;
using modeltest::connectHost;
using modeltest::MessageRecorder;
using modeltest::relativeError;
using modeltest::sample;


// Spoiled gradient echo with flip angle alpha (radians), E1 = exp(-TR / T1).
double spoiledEcho(double m0, double t1, double tr, double alpha) {
  const double e1 = std::exp(-tr / t1);
  return m0 * (1 - e1) * std::sin(alpha) / (1 - e1 * std::cos(alpha));
}

std::vector<double> degrees(double first, double step, int count) {
  std::vector<double> v(count);
  for (int i = 0; i < count; ++i) v[i] = first + step * i;
  return v;
}

const std::vector<double> kIvimB = {0, 10, 20, 50, 100, 200, 400, 600, 800, 1000};

double ivimSignal(double b, double s0, double f, double d, double dStar) {
  return s0 * ((1 - f) * std::exp(-b * d) + f * std::exp(-b * dStar));
}

class MrModelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(api().missing.empty()) << api().missing.front();
    recorder_.defaultAnswer = 1;  // IDOK
    connectHost(recorder_, callbacks_);
  }
  void TearDown() override {
    const Api& a = api();
    for (int type : kTypes) {
      a.DIDU_ModelClose(type);
      a.DIDU_DefaultFreeParms(type);
    }
    a.DIDU_SetParmReq(nullptr, 0);
    a.DIDU_SetCallbacks(nullptr);
  }

  // The acquisition: n points on every axis the models read.
  void setAxis(void (*define)(const double*, int), const std::vector<double>& values) {
    const int n = int(values.size());
    const std::vector<double> times = degrees(0, 1, n);
    api().DIDU_DefineTimeProfile(times.data(), n);
    define(values.data(), n);
  }
  void requestAll(int type) {
    const int flags[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    api().DIDU_SetParmReq(flags, api().DIDU_GetNumOutParms(type));
  }
  void setParm(int type, int index, double value) {
    double values[11];
    api().DIDU_GetFreeParms(type, values);
    values[index] = value;
    api().DIDU_SetFreeParms(type, values);
  }
  void setBudget(int type, int method, int optB) {
    int optA = 0;
    api().DIDU_GetCurrentOptimization(type, &optA, nullptr);
    api().DIDU_SetCurrentOptimization(type, method, optA, optB);
  }
  bool init(int type) {
    recorder_.texts.clear();
    return api().DIDU_ModelInit(type, nullptr, nullptr, nullptr);
  }
  std::wstring lastMessage() const { return recorder_.texts.empty() ? L"" : recorder_.texts.back(); }

  // One curve (and its neighbours) through DIDU_ComputeParmArray with every output requested;
  // records start as a sentinel so that writes show.
  std::vector<DEMPOUT> compute(int type, const std::vector<double>& curve, std::vector<double>* fit = nullptr,
                               const std::vector<std::vector<double>>& neighbours = {}) {
    const int records = api().DIDU_GetNumOutParms(type);
    std::vector<DEMPOUT> out(records + 1, DEMPOUT{-7, -7, -7, -7});
    std::vector<const double*> curves = {curve.data()};
    for (const auto& c : neighbours) curves.push_back(c.data());
    if (fit) fit->assign(curve.size(), -7);
    api().DIDU_ComputeParmArray(type, curves.data(), int(curves.size()), fit ? fit->data() : nullptr, out.data(),
                                nullptr, 0);
    EXPECT_EQ(out.back().value, -7) << "a record beyond the requested outputs was written";
    out.pop_back();
    return out;
  }

  static constexpr int kTypes[] = {7, 17, 18, 19, 21, 22, 23, 24, 25, 26, 28, 42, 50, 51, 52, 53, 54};
  MessageRecorder recorder_;
  DIDU_CALLBACKS callbacks_{};
};

// --- IVIM: segmented (17), global (18) and three-parameter (54) fits ---

TEST_F(MrModelsTest, IvimNoiseFreeCurve) {
  setAxis(api().DIDU_DefineBfactorProfile, kIvimB);
  const auto curve = sample(kIvimB, [](double b) { return ivimSignal(b, 1000, 0.1, 0.001, 0.02); });
  std::vector<double> fit;

  // Global fit: the truth, with the truth inside its confidence box.
  requestAll(18);
  ASSERT_TRUE(init(18));
  auto out = compute(18, curve, &fit);
  const double truth18[3] = {0.1, 0.001, 0.02};  // f, Dt, Dp
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_LT(relativeError(out[i].value, truth18[i]), 0.02);
    EXPECT_LE(out[i].aux1, truth18[i]);
    EXPECT_GE(out[i].aux2, truth18[i]);
  }
  for (size_t i = 0; i < kIvimB.size(); ++i) EXPECT_NEAR(fit[i], curve[i], 1);
  EXPECT_LE(out[3].aux1, out[3].value);
  EXPECT_LE(out[3].value, out[3].aux2);

  // Segmented fit: its own exact solution, by scipy (curve_fit of the tail at b >= 200, then the
  // excess at the low b-values with its intercept fixed at b = 0). The perfusion signal that
  // survives in the tail biases f by -2.3 % and D* by +3.7 % on this curve: the method's, not the
  // optimiser's.
  requestAll(17);
  ASSERT_TRUE(init(17));
  out = compute(17, curve, &fit);
  const double tailAmplitude = 902.3345696756012, dt = 0.0010036197119675217, dp = 0.020732459927979282,
               f = 0.09766543032439882;
  const double expected17[6] = {tailAmplitude / (1 - f), f, dt, dp, (1 - f) * dt, dp * f};
  for (int i = 0; i < 6; ++i) EXPECT_LT(relativeError(out[i].value, expected17[i]), 1e-4) << i;
  EXPECT_LT(relativeError(out[2].value, 0.001), 0.02);
  EXPECT_LT(out[6].value, 1);
  EXPECT_EQ(out[2].aux1, kVoid);

  // Three-parameter fit: it stops as soon as the fit explains 99.9 % of the curve's variance, so
  // it is coarse by design; its residual keeps that promise and its confidence box holds the truth.
  requestAll(54);
  ASSERT_TRUE(init(54));
  out = compute(54, curve, &fit);
  double mean = 0, variance = 0;
  for (double v : curve) mean += v / curve.size();
  for (double v : curve) variance += (v - mean) * (v - mean) / curve.size();
  EXPECT_LE(out[3].value, std::sqrt(0.001 * variance) * (1 + 1e-9));
  const double truth54[3] = {0.1, 0.001, 0.02};  // f, D, Dstar
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_LE(out[i].aux1, truth54[i]);
    EXPECT_GE(out[i].aux2, truth54[i]);
  }
  EXPECT_LT(relativeError(out[1].value, 0.001), 0.05);
}

// dipy's IvimModel fits, run by Debian's own python3, for curves with Rician-free Gaussian noise.
std::vector<std::vector<double>> dipyIvimFits(const std::vector<double>& b, const std::vector<std::vector<double>>& curves) {
  const std::string dir = twk::testing::testFolder().string();
  const std::string input = dir + "/mr_models_ivim_input.txt";
  {
    std::ofstream f(input);
    f.precision(17);
    for (double v : b) f << v << ' ';
    f << '\n';
    for (const auto& c : curves) {
      for (double v : c) f << v << ' ';
      f << '\n';
    }
  }
  const std::string command = "/usr/bin/python3 '" IVIM_REFERENCE_SCRIPT "' < '" + input + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return {};
  std::string text;
  char buffer[4096];
  while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) text.append(buffer, got);
  if (pclose(pipe) != 0) return {};
  std::vector<std::vector<double>> fits;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream values(line);
    std::vector<double> p;
    for (double v; values >> v;) p.push_back(v);
    if (p.size() == 4) fits.push_back(p);
  }
  return fits;
}

bool dipyAvailable() {
  return std::system("/usr/bin/python3 -c 'import dipy.reconst.ivim' >/dev/null 2>&1") == 0;
}

TEST_F(MrModelsTest, IvimAgreesWithDipy) {
  TWK_REQUIRE_TOOL(dipyAvailable(), "python3-dipy of Debian");
  // Curves around f 0.1, D 0.001, D* 0.02 with 0.5 % Gaussian noise from a fixed seed.
  const struct { double f, d, dStar; } truths[] = {
      {0.10, 0.0010, 0.020}, {0.15, 0.0008, 0.030}, {0.08, 0.0012, 0.015}, {0.12, 0.0009, 0.025}};
  std::mt19937 random(20240611);
  std::normal_distribution<double> noise(0, 5);
  std::vector<std::vector<double>> curves;
  for (const auto& t : truths)
    curves.push_back(sample(kIvimB, [&](double b) { return ivimSignal(b, 1000, t.f, t.d, t.dStar) + noise(random); }));
  const auto reference = dipyIvimFits(kIvimB, curves);
  ASSERT_EQ(reference.size(), curves.size()) << "dipy gave no fit";

  setAxis(api().DIDU_DefineBfactorProfile, kIvimB);
  // Output indices of f, D, D* per model.
  const struct { int type, f, d, dStar; double fTol, dTol, dStarTol; } models[] = {
      {18, 0, 1, 2, 0.01, 0.03, 0.15}, {17, 1, 2, 3, 0.025, 0.03, 0.25}, {54, 0, 1, 2, 0.03, 0.08, 0.5}};
  for (const auto& m : models) {
    requestAll(m.type);
    ASSERT_TRUE(init(m.type));
    for (size_t c = 0; c < curves.size(); ++c) {
      SCOPED_TRACE(testing::Message() << "model " << m.type << " curve " << c);
      const auto out = compute(m.type, curves[c]);
      const auto& ref = reference[c];  // S0, f, D*, D
      EXPECT_NEAR(out[m.f].value, ref[1], m.fTol);
      EXPECT_LT(relativeError(out[m.d].value, ref[3]), m.dTol);
      EXPECT_LT(relativeError(out[m.dStar].value, ref[2]), m.dStarTol);
    }
    api().DIDU_ModelClose(m.type);
  }
}

// The interval IVIM fits against dipy's on many noisy curves (10 b-values 0-1000 s/mm2, SNR 100 at
// b = 0), each over its own ranges: the full fit (type 18) on f 0.05-0.25, D 0.5-2.5e-3 mm2/s,
// D* 0.01-0.05 mm2/s, and the three-parameter fit (type 54, whose default box lets D* reach
// 0.3 mm2/s) on f 0.05-0.3, D 0.3-3e-3 mm2/s, D* 0.01-0.2 mm2/s. The median absolute errors of f, D
// and D* against the truth are no worse than dipy's on the same curves. 250 curves each, 1000 with
// TWK_FULL_SWEEPS=1.
TEST_F(MrModelsTest, GlobalIvimIsAsAccurateAsDipyOnNoisyCurves) {
  TWK_REQUIRE_TOOL(dipyAvailable(), "python3-dipy of Debian");
  const char* full = std::getenv("TWK_FULL_SWEEPS");
  const int count = full && std::string(full) == "1" ? 1000 : 250;
  const std::vector<double> b = {0, 10, 20, 40, 60, 100, 200, 400, 700, 1000};
  struct Case {
    int type;
    double fLow, fHigh, dLow, dHigh, dStarLow, dStarHigh;
  };
  for (const Case& k :
       {Case{18, 0.05, 0.25, 0.5e-3, 2.5e-3, 0.01, 0.05}, Case{54, 0.05, 0.3, 0.3e-3, 3e-3, 0.01, 0.2}}) {
    SCOPED_TRACE(k.type);
    std::mt19937 random(k.type);
    std::uniform_real_distribution<double> fDraw(k.fLow, k.fHigh), dDraw(k.dLow, k.dHigh),
        dStarDraw(k.dStarLow, k.dStarHigh);
    std::normal_distribution<double> noise(0, 10);
    struct Truth { double f, d, dStar; };
    std::vector<Truth> truths;
    std::vector<std::vector<double>> curves;
    for (int c = 0; c < count; ++c) {
      const Truth t{fDraw(random), dDraw(random), dStarDraw(random)};
      truths.push_back(t);
      curves.push_back(sample(b, [&](double x) { return ivimSignal(x, 1000, t.f, t.d, t.dStar) + noise(random); }));
    }
    const auto reference = dipyIvimFits(b, curves);
    ASSERT_EQ(reference.size(), curves.size()) << "dipy gave no fit";

    setAxis(api().DIDU_DefineBfactorProfile, b);
    requestAll(k.type);
    ASSERT_TRUE(init(k.type));
    std::vector<double> ours[3], theirs[3];
    for (int c = 0; c < count; ++c) {
      const auto out = compute(k.type, curves[c]);  // f, D, D*
      const auto& ref = reference[c];                // S0, f, D*, D
      const Truth& t = truths[c];
      ours[0].push_back(std::fabs(out[0].value - t.f));
      ours[1].push_back(std::fabs(out[1].value - t.d));
      ours[2].push_back(std::fabs(out[2].value - t.dStar));
      theirs[0].push_back(std::fabs(ref[1] - t.f));
      theirs[1].push_back(std::fabs(ref[3] - t.d));
      theirs[2].push_back(std::fabs(ref[2] - t.dStar));
    }
    api().DIDU_ModelClose(k.type);
    const char* names[3] = {"f", "D", "D*"};
    for (int j = 0; j < 3; ++j) {
      SCOPED_TRACE(names[j]);
      const double mine = modeltest::median(ours[j]), dipys = modeltest::median(theirs[j]);
      std::printf("IVIM median |error| of %s: type %d %.4g, dipy %.4g\n", names[j], k.type, mine, dipys);
      EXPECT_LE(mine, dipys);
    }
  }
}

TEST_F(MrModelsTest, IvimInitChecksTheBValues) {
  const struct { int type; std::vector<double> b; const wchar_t* message; } cases[] = {
      {17, {0, 50, 100, 200, 400, 800}, nullptr},
      {17, {0, 50, 100, 400}, L"M17_ModelInit : IVIM with segmented fit requires at least two bvalues\nlarger than 200 mm^2/s. Use the regular IVIM instead."},
      {17, {0, 200, 400, 800}, L"M17_ModelInit : IVIM with segmented fit requires at least two bvalues\n<=200 mm^2/s. Use the regular IVIM instead."},
      {17, {0, 100, 400}, L"M17_ModelInit : IVIM with segmented fit requires at least 4 b-values"},
      {18, {0, 50, 100, 400}, L"M18_ModelInit : IVIM3 requires at least 5 b-values"},
      {54, {0, 50, 100, 400}, L"M54_ModelInit : IVIM3 requires at least 5 b-values"},
      {18, {0, 50, 100, 400, 800}, nullptr},
      {54, {100, 100, 100, 100, 100}, L"IsValidDynamicComponent : Dynamic component b-value: all values are constant"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << " with " << c.b.size() << " b-values");
    setAxis(api().DIDU_DefineBfactorProfile, c.b);
    EXPECT_EQ(init(c.type), c.message == nullptr);
    EXPECT_EQ(lastMessage(), c.message ? c.message : L"");
    api().DIDU_ModelClose(c.type);
  }
}

TEST_F(MrModelsTest, SegmentedIvimWithoutPerfusionComponent) {
  // A mono-exponential tail whose low b-values lie 1 % below it: no excess to fit.
  const std::vector<double> b = {0, 50, 100, 200, 400, 800};
  setAxis(api().DIDU_DefineBfactorProfile, b);
  requestAll(17);
  ASSERT_TRUE(init(17));
  const auto out = compute(17, sample(b, [](double x) { return 800 * std::exp(-0.0015 * x) * (x < 200 ? 0.99 : 1); }));
  EXPECT_NEAR(out[0].value, 800, 0.01);      // S0 = the tail intercept
  EXPECT_EQ(out[1].value, 0);                // f
  EXPECT_NEAR(out[2].value, 0.0015, 1e-7);   // Dt
  EXPECT_EQ(out[3].value, kVoid);            // Dp has no value
  EXPECT_EQ(out[4].value, out[2].value);     // Dt_x_1-f
  EXPECT_EQ(out[5].value, 0);                // Dp_x_f
}

TEST_F(MrModelsTest, GlobalIvimScalesWithTheCurveAndSkipsEmptyAndUndefinedCurves) {
  setAxis(api().DIDU_DefineBfactorProfile, kIvimB);
  const auto curve = sample(kIvimB, [](double b) { return ivimSignal(b, 1000, 0.2, 0.0012, 0.04); });
  auto scaled = curve;
  for (double& v : scaled) v *= 7.5;
  for (int type : {18, 54}) {
    SCOPED_TRACE(type);
    requestAll(type);
    ASSERT_TRUE(init(type));
    const auto a = compute(type, curve), b = compute(type, scaled);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(b[i].value, a[i].value, 1e-9 * std::fabs(a[i].value)) << i;
    EXPECT_NEAR(b[3].value, 7.5 * a[3].value, 1e-9 + 1e-9 * b[3].value);
    // An all-zero curve succeeds without writing anything.
    std::vector<double> fit;
    const auto empty = compute(type, std::vector<double>(kIvimB.size(), 0.0), &fit);
    for (const DEMPOUT& r : empty) EXPECT_EQ(r.value, -7);
    EXPECT_EQ(fit[0], kVoid);
    // A sample without a value: the failure values, at once.
    auto withNan = curve;
    withNan[3] = std::nan("");
    for (const DEMPOUT& r : compute(type, withNan)) EXPECT_EQ(r.value, kVoid);
    api().DIDU_ModelClose(type);
  }
}

// --- ADC (19), stretched exponential (21) and kurtosis (28) ---

TEST_F(MrModelsTest, AdcFromTwoBValuesIsExact) {
  setAxis(api().DIDU_DefineBfactorProfile, {0, 1000});
  requestAll(19);
  ASSERT_TRUE(init(19));
  std::vector<double> fit;
  auto out = compute(19, {1000, 368}, &fit);
  EXPECT_NEAR(out[0].value, std::log(1000.0 / 368) / 1000, 1e-15);
  EXPECT_EQ(out[1].value, 0);
  EXPECT_NEAR(fit[1], 368, 1e-9);
  // No decay: no ADC.
  out = compute(19, {1000, 1000});
  EXPECT_EQ(out[0].value, kVoid);
  EXPECT_EQ(out[1].aux2, kVoid);
}

TEST_F(MrModelsTest, DiffusionModelsRecoverTheirParameters) {
  const std::vector<double> b = {0, 100, 250, 500, 750, 1000, 1500, 2000, 2500};
  setAxis(api().DIDU_DefineBfactorProfile, b);
  const struct {
    int type, method;
    std::function<double(double)> signal;
    std::vector<double> truth;  // the leading outputs
    double tolerance;
  } cases[] = {
      {19, 2, [](double x) { return 1200 * std::exp(-x * 0.0009); }, {0.0009}, 1e-4},
      {21, 2, [](double x) { return 1000 * std::exp(-std::pow(x * 0.001, 0.7)); }, {0.001, 0.7}, 0.01},
      {28, 2, [](double x) { const double u = x * 0.001; return 1000 * std::exp(-u + u * u / 6); }, {0.001, 1.0}, 0.01},
      {28, 3, [](double x) { const double u = x * 0.001; return 1000 * std::exp(-u + u * u / 6); }, {0.001, 1.0}, 0.01},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "model " << c.type << " method " << c.method);
    int optA = 0, optB = 0;
    api().DIDU_GetCurrentOptimization(c.type, &optA, &optB);
    api().DIDU_SetCurrentOptimization(c.type, c.method, optA, optB);
    requestAll(c.type);
    ASSERT_TRUE(init(c.type));
    std::vector<double> fit;
    const auto curve = sample(b, c.signal);
    const auto out = compute(c.type, curve, &fit);
    for (size_t i = 0; i < c.truth.size(); ++i) {
      EXPECT_LT(relativeError(out[i].value, c.truth[i]), c.tolerance) << out[i].value;
      if (c.method == 2) {
        EXPECT_LE(out[i].aux1, c.truth[i] * (1 + 1e-9));
        EXPECT_GE(out[i].aux2, c.truth[i] * (1 - 1e-9));
      }
    }
    const DEMPOUT& residual = out[c.truth.size()];
    EXPECT_LT(residual.value, 0.5);
    for (size_t i = 0; i < b.size(); ++i) EXPECT_NEAR(fit[i], curve[i], 1.5) << "b " << b[i];
    api().DIDU_ModelClose(c.type);
    api().DIDU_SetCurrentOptimization(c.type, 2, optA, optB);
  }
}

TEST_F(MrModelsTest, DiffusionModelChecks) {
  // Model 21 needs b = 0; model 28 takes at most 256 points.
  setAxis(api().DIDU_DefineBfactorProfile, {50, 100, 500, 1000});
  EXPECT_FALSE(init(21));
  EXPECT_EQ(lastMessage(), L"M21_ModelInit : bval=0 is required in this model");
  std::vector<double> many(257);
  for (int i = 0; i < 257; ++i) many[i] = 10.0 * i;
  setAxis(api().DIDU_DefineBfactorProfile, many);
  EXPECT_FALSE(init(28));
  EXPECT_EQ(lastMessage(), L"M28_ModelInit : Number of timepoints exceeds the maximum allowed for this model");
  many.pop_back();
  setAxis(api().DIDU_DefineBfactorProfile, many);
  EXPECT_TRUE(init(28));
  setAxis(api().DIDU_DefineBfactorProfile, {0, 1000});
  EXPECT_FALSE(init(21));
  EXPECT_EQ(lastMessage(), L"M21_ModelInit : This model requires at least 3 dynamic points");
  setAxis(api().DIDU_DefineBfactorProfile, {0});
  EXPECT_FALSE(init(19));
  EXPECT_EQ(lastMessage(), L"M19_ModelInit : This model requires at least 2 dynamic points");

  const std::vector<double> b = {0, 200, 500, 1000, 2000};
  setAxis(api().DIDU_DefineBfactorProfile, b);
  const auto curve = sample(b, [](double x) { return 1000 * std::exp(-std::pow(x * 0.001, 0.7)); });
  // The tail cut-off above the third-lowest signal refuses the curve, though the fit would use all.
  requestAll(21);
  setParm(21, 0, curve[2] + 1);
  ASSERT_TRUE(init(21));
  EXPECT_EQ(compute(21, curve)[0].value, kVoid);
  setParm(21, 0, curve[2] - 1);
  ASSERT_TRUE(init(21));
  EXPECT_NEAR(compute(21, curve)[0].value, 0.001, 1e-5);
  // A lowest-b signal below 1 has nothing to fit in model 28.
  requestAll(28);
  ASSERT_TRUE(init(28));
  EXPECT_EQ(compute(28, sample(b, [](double x) { return 0.9 * std::exp(-x * 0.001); }))[0].value, kVoid);
}

TEST_F(MrModelsTest, DiffusionModelsExtrapolateToWantedBValues) {
  const std::vector<double> b = {0, 500, 1000};
  setAxis(api().DIDU_DefineBfactorProfile, b);
  const auto adc = [](double x) { return 1000 * std::exp(-x * 0.001); };
  auto curve = sample(b, adc);
  curve[1] += 3;  // a measured value that the model does not reproduce
  requestAll(19);
  ASSERT_TRUE(init(19));
  const double* curves[1] = {curve.data()};
  const auto run = [&](std::vector<double> wanted, std::vector<DEMPOUT>& out) {
    // One guard value past the wanted ones: the buffer holds only as many values as are wanted,
    // fewer than the curve's points in the first call.
    std::vector<double> buffer(wanted.size() + 1, -7);
    out.assign(2, DEMPOUT{-7, -7, -7, -7});
    api().DIDU_ComputeParmArray(19, curves, 1, buffer.data(), out.data(), wanted.data(), int(wanted.size()));
    EXPECT_EQ(buffer.back(), -7) << "written past the wanted values";
    buffer.pop_back();
    return buffer;
  };
  std::vector<DEMPOUT> out;
  // No more wanted values than points: all of them are model values.
  auto values = run({500, 3000}, out);
  EXPECT_NEAR(values[0], adc(500), 3);
  EXPECT_NE(values[0], curve[1]);
  EXPECT_NEAR(values[1], adc(3000), 1);
  EXPECT_EQ(out[0].value, -7) << "extrapolation writes no output";
  // More wanted values than points: acquired b-values keep their measured signal.
  values = run({0, 250, 500, 1000, 3000}, out);
  EXPECT_EQ(values[0], curve[0]);
  EXPECT_EQ(values[2], curve[1]);
  EXPECT_EQ(values[3], curve[2]);
  EXPECT_NEAR(values[1], adc(250), 3);
  EXPECT_NEAR(values[4], adc(3000), 1);
  EXPECT_EQ(out[0].value, -7);
}

// --- variable flip angle T1: plain (24), with bias field (42), per-point TR (51), two TRs (53) ---

// T1 1 s, TR 10 ms, flip angles 2 to 20 degrees.
const std::vector<double> kFlipDegrees = degrees(2, 2, 10);
constexpr double kTr = 0.01, kT1 = 1.0, kM0 = 5000;

std::vector<double> vfaCurve(const std::vector<double>& flipDegrees, const std::vector<double>& tr, double bias,
                             const std::vector<double>& scale, const std::vector<double>& t2Decay) {
  std::vector<double> s(flipDegrees.size());
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = spoiledEcho(scale[i], kT1, tr[i], bias * flipDegrees[i] * kPi / 180) * t2Decay[i];
  return s;
}

TEST_F(MrModelsTest, VariableFlipAngleT1ByEveryMethod) {
  const int n = int(kFlipDegrees.size());
  const std::vector<double> ones(n, 1.0), m0(n, kM0), tr(n, kTr);
  setAxis(api().DIDU_DefineFlipAngleProfile, kFlipDegrees);
  api().DIDU_SetTR(kTr);
  api().DIDU_DefineRepetitionTimeProfile(tr.data(), n);
  api().DIDU_DefineEchoTmsProfile(std::vector<double>(n, 0.002).data(), n);
  const auto plain = vfaCurve(kFlipDegrees, tr, 1.0, m0, ones);
  const auto biased = vfaCurve(kFlipDegrees, tr, 0.9, m0, ones);

  const struct {
    int type, method;
    const std::vector<double>* curve;
    int t1, m0, bias;  // output indices (-1: none)
    double minBias, maxBias;
  } cases[] = {
      {24, 2, &plain, 0, 1, -1, 0, 0},  {24, 6, &plain, 0, 1, -1, 0, 0},
      {42, 2, &biased, 0, 1, 2, 0.5, 2}, {42, 6, &biased, 0, 1, 2, 0.9, 0.9},
      {51, 2, &biased, 0, 1, 2, 0.5, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "model " << c.type << " method " << c.method);
    setBudget(c.type, c.method, c.type == 24 ? 20000 : 200000);
    if (c.bias >= 0) {
      const int first = c.type == 51 ? 1 : 0;
      setParm(c.type, first, c.minBias);
      setParm(c.type, first + 1, c.maxBias);
    }
    requestAll(c.type);
    ASSERT_TRUE(init(c.type)) << std::string(lastMessage().begin(), lastMessage().end());
    std::vector<double> fit;
    const auto out = compute(c.type, *c.curve, &fit);
    EXPECT_LT(relativeError(out[c.t1].value, kT1), 0.01) << out[c.t1].value;
    EXPECT_LT(relativeError(out[c.m0].value, kM0), 0.02) << out[c.m0].value;
    if (c.bias >= 0) {
      EXPECT_NEAR(out[c.bias].value, 0.9, 0.005);
    }
    for (int i = 0; i < n; ++i) EXPECT_NEAR(fit[i], (*c.curve)[i], 0.5) << kFlipDegrees[i] << " deg";
    api().DIDU_ModelClose(c.type);
  }
}

// The global fit at the catalogue's budget (1000 bisections) over T1 0.3 to 4 s, flip angles 2 to
// 20 degrees: R1 within 0.05 /s + 5 %, and voxels of nearly equal T1 get their own values, not the
// centre of a box the budget left. With noise (SNR 100 at the largest signal) no fit ends above the
// residual of the true parameters.
TEST_F(MrModelsTest, VariableFlipAngleGlobalFitAtTheDefaultBudget) {
  const int n = int(kFlipDegrees.size());
  const std::vector<double> tr(n, kTr), m0(n, kM0), ones(n, 1.0);
  setAxis(api().DIDU_DefineFlipAngleProfile, kFlipDegrees);
  api().DIDU_SetTR(kTr);
  requestAll(24);
  api().DIDU_DefaultFreeParms(24);
  api().DIDU_SetCurrentOptimization(24, 2, 0, 1000);  // the global fit at the catalogue's budget
  ASSERT_TRUE(init(24));
  auto curveOf = [&](double t1) {
    std::vector<double> s(n);
    for (int i = 0; i < n; ++i) s[i] = spoiledEcho(kM0, t1, kTr, kFlipDegrees[i] * kPi / 180);
    return s;
  };
  std::mt19937 random(24);
  for (double t1 : {0.3, 0.5, 0.8, 1.0 / 0.97, 1.0 / 0.5, 1.0 / 0.46, 1.0 / 0.45, 1.0 / 0.44, 3.0, 4.0}) {
    SCOPED_TRACE(t1);
    const std::vector<double> clean = curveOf(t1);
    const auto out = compute(24, clean);
    EXPECT_LE(std::fabs(1 / out[0].value - 1 / t1), 0.05 + 0.05 / t1) << out[0].value;
    EXPECT_LT(relativeError(out[0].value, t1), 0.01) << out[0].value;
    const double largest = *std::max_element(clean.begin(), clean.end());
    std::normal_distribution<double> noise(0, largest / 100);
    for (int k = 0; k < 5; ++k) {
      std::vector<double> noisy = clean;
      for (double& v : noisy) v += noise(random);
      double atTruth = 0;
      for (int i = 0; i < n; ++i) atTruth += (noisy[i] - clean[i]) * (noisy[i] - clean[i]);
      EXPECT_LE(compute(24, noisy)[2].value, 1.0001 * std::sqrt(atTruth / n)) << k;
    }
  }
}

// The ranges the interval search reports for the flip-angle fit with a bias field (type 42) are
// enclosures: on noisy curves they contain the optimum that a dense brute-force search finds here
// (bias by T1 on a 400 x 400 grid, M0 solved by least squares at each node), and the reported
// residual is no larger than the grid's best. (T1 and bias trade along a shallow valley of the cost,
// so the reported point may lie a few per cent from the grid's node of equal cost.)
TEST_F(MrModelsTest, BiasFieldFitRangesContainTheBruteForceOptimum) {
  const int n = int(kFlipDegrees.size());
  setAxis(api().DIDU_DefineFlipAngleProfile, kFlipDegrees);
  api().DIDU_SetTR(kTr);
  requestAll(42);
  api().DIDU_DefaultFreeParms(42);
  api().DIDU_SetCurrentOptimization(42, 2, 0, 20000);  // the catalogue's method and budget
  ASSERT_TRUE(init(42));
  const double biasMin = 0.5, biasMax = 2, t1Min = 0.5, t1Max = 3;  // the catalogue's box
  std::mt19937 random(42);
  for (const auto& [t1, bias] : {std::pair{0.8, 1.0}, std::pair{1.5, 0.9}, std::pair{2.5, 1.15}}) {
    SCOPED_TRACE(t1);
    std::vector<double> s(n);
    for (int i = 0; i < n; ++i) s[i] = spoiledEcho(kM0, t1, kTr, bias * kFlipDegrees[i] * kPi / 180);
    std::normal_distribution<double> noise(0, 0.005 * *std::max_element(s.begin(), s.end()));
    for (double& v : s) v += noise(random);
    // Brute force: the sum of squared residuals at each (bias, T1), M0 by least squares.
    const int steps = 400;
    const double biasStep = (biasMax - biasMin) / steps, t1Step = (t1Max - t1Min) / steps;
    double best = HUGE_VAL, bestBias = 0, bestT1 = 0, bestM0 = 0;
    std::vector<double> f(n);
    for (int a = 0; a <= steps; ++a)
      for (int b = 0; b <= steps; ++b) {
        const double bi = biasMin + a * biasStep, ti = t1Min + b * t1Step;
        double sf = 0, ff = 0;
        for (int i = 0; i < n; ++i) {
          f[i] = spoiledEcho(1, ti, kTr, std::min(kPi, bi * kFlipDegrees[i] * kPi / 180));
          sf += s[i] * f[i];
          ff += f[i] * f[i];
        }
        const double m0 = sf / ff;
        double cost = 0;
        for (int i = 0; i < n; ++i) cost += (s[i] - m0 * f[i]) * (s[i] - m0 * f[i]);
        if (cost < best) {
          best = cost;
          bestBias = bi;
          bestT1 = ti;
          bestM0 = m0;
        }
      }
    const auto out = compute(42, s);
    const double gridRmse = std::sqrt(best / n);
    EXPECT_LE(out[3].value, gridRmse * (1 + 1e-9));
    EXPECT_LE(out[3].aux1, out[3].value);
    EXPECT_LE(out[3].aux1, gridRmse);
    EXPECT_GE(out[3].aux2, out[3].value);
    // The grid's optimum lies within one grid step of the true optimum.
    EXPECT_LE(out[0].aux1, bestT1 + t1Step) << out[0].aux1;
    EXPECT_GE(out[0].aux2, bestT1 - t1Step) << out[0].aux2;
    EXPECT_LE(out[2].aux1, bestBias + biasStep) << out[2].aux1;
    EXPECT_GE(out[2].aux2, bestBias - biasStep) << out[2].aux2;
    EXPECT_LE(out[1].aux1, bestM0 * 1.01) << out[1].aux1;
    EXPECT_GE(out[1].aux2, bestM0 * 0.99) << out[1].aux2;
  }
}

TEST_F(MrModelsTest, VariableFlipAngleBackgroundAndChecks) {
  const int n = int(kFlipDegrees.size());
  setAxis(api().DIDU_DefineFlipAngleProfile, kFlipDegrees);
  api().DIDU_SetTR(kTr);
  api().DIDU_SetNoiseLev(10);
  // Every signal at or below 5 x noise: background, reported as no value, but a success.
  requestAll(24);
  ASSERT_TRUE(init(24));
  for (const DEMPOUT& r : compute(24, std::vector<double>(n, 50.0))) {
    EXPECT_EQ(r.value, kVoid);
    EXPECT_EQ(r.aux1, kVoid);
  }
  // The linear form needs a single bias; flip angles stop at 90 degrees.
  setBudget(42, 6, 1000);
  EXPECT_FALSE(init(42));
  EXPECT_EQ(lastMessage(), L"M42_ModelInit : Linearized solution requires constant bias field");
  setBudget(42, 2, 20000);
  setAxis(api().DIDU_DefineFlipAngleProfile, {10, 45, 90});
  EXPECT_TRUE(init(42));
  for (int type : {42, 51, 53}) {
    SCOPED_TRACE(type);
    setAxis(api().DIDU_DefineFlipAngleProfile, {10, 45, 91});
    EXPECT_FALSE(init(type));
    EXPECT_EQ(lastMessage(), L"M" + std::to_wstring(type) + L"_ModelInit : Flip Angle should be in [0,90] deg");
  }
  const std::vector<double> threeTr = {0.01, 0.02, 0.03};
  api().DIDU_DefineRepetitionTimeProfile(threeTr.data(), 3);
  setAxis(api().DIDU_DefineFlipAngleProfile, {10, 20, 30});
  EXPECT_FALSE(init(53));
  EXPECT_EQ(lastMessage(), L"M53_ModelInit : This model requires exactly two different TR values");
}

TEST_F(MrModelsTest, BiasFieldLinearFormWithOneBiasStep) {
  // "Bias precision" 1: the single bias is "Min bias".
  const int n = int(kFlipDegrees.size());
  setAxis(api().DIDU_DefineFlipAngleProfile, kFlipDegrees);
  api().DIDU_SetTR(kTr);
  const std::vector<double> tr(n, kTr), m0(n, kM0), ones(n, 1.0);
  setBudget(42, 6, 1000);
  setParm(42, 0, 0.8);
  setParm(42, 1, 0.8);
  setParm(42, 2, 1);
  requestAll(42);
  ASSERT_TRUE(init(42));
  const auto out = compute(42, vfaCurve(kFlipDegrees, tr, 0.8, m0, ones));
  EXPECT_EQ(out[2].value, 0.8);
  EXPECT_LT(relativeError(out[0].value, kT1), 1e-6);
  EXPECT_LT(out[3].value, 1e-6);
}

TEST_F(MrModelsTest, VariableFlipAngleWithRepetitionTimesPerPoint) {
  // Two interleaved repetition times; model 53 scales each with its own M.
  const int n = int(kFlipDegrees.size());
  std::vector<double> tr(n), scale(n), te(n);
  for (int i = 0; i < n; ++i) {
    tr[i] = i % 2 ? 0.03 : 0.01;
    scale[i] = i % 2 ? 6000 : kM0;
    te[i] = 0.002 + 0.001 * i;
  }
  setAxis(api().DIDU_DefineFlipAngleProfile, kFlipDegrees);
  api().DIDU_DefineRepetitionTimeProfile(tr.data(), n);
  const std::vector<double> ones(n, 1.0), m0(n, kM0);

  // The flip-angle scale and T1 are nearly confounded in flip-angle series (at small angles the
  // signal depends on them through b^2 / T1 alone), so these fits end on their evaluation budget in a
  // long, flat valley: on this noise-free curve they land within 3 % of T1 and 0.015 of the scale.
  // Model 53: T1, then T2 = 0, M0, M1, bias.
  setBudget(53, 2, 500000);
  requestAll(53);
  ASSERT_TRUE(init(53));
  auto out = compute(53, vfaCurve(kFlipDegrees, tr, 0.9, scale, ones));
  EXPECT_LT(relativeError(out[0].value, kT1), 0.03) << out[0].value;
  EXPECT_EQ(out[1].value, 0);
  EXPECT_LT(relativeError(out[2].value, kM0), 0.03);
  EXPECT_LT(relativeError(out[3].value, 6000), 0.03);
  EXPECT_NEAR(out[4].value, 0.9, 0.015);
  EXPECT_LE(out[0].aux1, kT1);
  EXPECT_GE(out[0].aux2, kT1);
  EXPECT_LT(out[5].value, 0.5);

  // Model 51, equal echo times: no T2 term; the neighbours' mean is fitted.
  api().DIDU_DefineEchoTmsProfile(std::vector<double>(n, 0.002).data(), n);
  setBudget(51, 2, 200000);
  requestAll(51);
  ASSERT_TRUE(init(51));
  const auto curve = vfaCurve(kFlipDegrees, tr, 0.9, m0, ones);
  auto above = curve, below = curve;
  for (int i = 0; i < n; ++i) above[i] += 20 * (i % 3), below[i] -= 20 * (i % 3);
  out = compute(51, above, nullptr, {below});
  EXPECT_LT(relativeError(out[0].value, kT1), 0.03) << out[0].value;
  EXPECT_NEAR(out[2].value, 0.9, 0.015);
  EXPECT_EQ(out[3].value, 0);
  EXPECT_EQ(out[3].aux1, kVoid);
  EXPECT_LT(out[4].value, 0.5);

  // Model 51, echo times that differ: the T2 decay enters (T2 50 ms within its 40..60 ms limits).
  // The T2 term deepens the valley: the fit reproduces the curve, its confidence box holds the
  // truth, but T1 is not pinned within the budget.
  api().DIDU_DefineEchoTmsProfile(te.data(), n);
  ASSERT_TRUE(init(51));
  std::vector<double> decay(n);
  for (int i = 0; i < n; ++i) decay[i] = std::exp(-te[i] / 0.05);
  out = compute(51, vfaCurve(kFlipDegrees, tr, 0.9, m0, decay));
  EXPECT_LT(out[4].value, 1) << out[4].value;
  const double truth51[4] = {kT1, kM0, 0.9, 0.05};
  for (int i = 0; i < 4; ++i) {
    EXPECT_LE(out[i].aux1, truth51[i]) << i;
    EXPECT_GE(out[i].aux2, truth51[i]) << i;
  }
}

// --- inversion recovery (7) ---

TEST_F(MrModelsTest, InversionRecoveryRealAndMagnitude) {
  // Acquisition order differs from inversion-time order.
  const std::vector<double> ti = {0.4, 0.05, 3.0, 0.1, 0.7, 0.2, 1.5, 1.0, 2.0};
  const double tr = 5, m0 = 2000, t1 = 1;
  setAxis(api().DIDU_DefineInvTmsProfile, ti);
  api().DIDU_SetTR(tr);
  const auto real = sample(ti, [&](double x) { return m0 * (1 - 2 * std::exp(-x / t1) + std::exp(-tr / t1)); });
  auto magnitude = real;
  for (double& v : magnitude) v = std::fabs(v);

  requestAll(7);
  ASSERT_TRUE(init(7));
  auto out = compute(7, real);
  EXPECT_LT(relativeError(out[1].value, t1), 0.01);
  EXPECT_LT(relativeError(out[0].value, m0), 0.01);
  // Real-valued fitting of magnitudes cannot explain the points before the null.
  EXPECT_GT(compute(7, magnitude)[2].value, 100);

  setParm(7, 0, 1);
  ASSERT_TRUE(init(7));
  std::vector<double> fit;
  out = compute(7, magnitude, &fit);
  EXPECT_LT(relativeError(out[1].value, t1), 0.01) << out[1].value;
  EXPECT_LE(out[1].aux1, t1);
  EXPECT_GE(out[1].aux2, t1);
  // The fitted curve shows magnitudes, the negative points included.
  for (size_t i = 0; i < ti.size(); ++i) EXPECT_NEAR(fit[i], magnitude[i], 10) << "TI " << ti[i];

  // Background: a span below "Air threhsold".
  EXPECT_EQ(compute(7, std::vector<double>(ti.size(), 15.0))[1].value, kVoid);
  setParm(7, 0, 2);
  EXPECT_FALSE(init(7));
  EXPECT_EQ(lastMessage(), L"M7_ModelInit : Choose Method 0 or 1");
}

// --- saturation recovery (22, 23) ---

TEST_F(MrModelsTest, SaturationRecoveryT1) {
  const std::vector<double> td = {350, 700, 1050, 1750, 2450, 4000};
  const auto recovery = [](double m0, double t1) {
    std::vector<double> s(6);
    const double delays[6] = {350, 700, 1050, 1750, 2450, 4000};
    for (int i = 0; i < 6; ++i) s[i] = m0 * (1 - std::exp(-delays[i] / t1));
    return s;
  };
  setAxis(api().DIDU_DefineTimeProfile, td);
  // Model 22 takes M0 from the last point: a T1 of 500 ms has recovered fully by 4000 ms.
  requestAll(22);
  ASSERT_TRUE(init(22));
  auto out = compute(22, recovery(1000, 500));
  EXPECT_EQ(out[0].value, 500);  // rounded
  EXPECT_EQ(out[2].value, 500);
  EXPECT_EQ(out[3].value, 0);
  setParm(22, 0, 0);
  ASSERT_TRUE(init(22));
  out = compute(22, recovery(1000, 500.3));
  EXPECT_NEAR(out[0].value, 500.3, 0.5);
  EXPECT_NE(out[0].value, std::floor(out[0].value));
  EXPECT_LT(out[1].value, 1e-5);
  // The 700 ms point not below the 4000 ms point: no analytic T1, the fit still runs.
  auto flat = recovery(1000, 500);
  flat[1] = flat[5];
  out = compute(22, flat);
  EXPECT_EQ(out[2].value, kVoid);
  EXPECT_LT(out[0].value, 1000);

  // Model 23 fits M0 too: T1 1200 ms, far from recovered at 4000 ms.
  requestAll(23);
  ASSERT_TRUE(init(23));
  out = compute(23, recovery(1000, 1200));
  EXPECT_LT(relativeError(out[1].value, 1200), 0.005) << out[1].value;
  const double last = 1000 * (1 - std::exp(-4000.0 / 1200)), at700 = 1000 * (1 - std::exp(-700.0 / 1200));
  EXPECT_NEAR(out[0].value, 700 / -std::log(1 - at700 / last), 1e-9);
  EXPECT_NEAR(out[3].value, std::fabs(out[0].value - out[1].value), 1e-9);
  EXPECT_NEAR(out[5].value, (out[0].value - out[1].value) * 100 / out[1].value, 1e-9);
  // Two points: the analytic T1 pairs the first with the last.
  setAxis(api().DIDU_DefineTimeProfile, {700, 4000});
  ASSERT_TRUE(init(23));
  out = compute(23, {at700, last});
  EXPECT_NEAR(out[0].value, 700 / -std::log(1 - at700 / last), 1e-9);
  setAxis(api().DIDU_DefineTimeProfile, {700, 2000, 4000});
  EXPECT_FALSE(init(23));
  EXPECT_EQ(lastMessage(), L"M23_ModelInit : 2 or 6 dynamic poitns are required");
  EXPECT_FALSE(init(22));
  EXPECT_EQ(lastMessage(), L"M22_ModelInit : 6 dynamic poitns are required here");
}

// --- bi-exponential T2 (25), T1rho mono- (26) and bi-exponential (50) ---

TEST_F(MrModelsTest, BiExponentialT2) {
  const std::vector<double> te = degrees(0.01, 0.01, 32);
  setAxis(api().DIDU_DefineEchoTmsProfile, te);
  const auto curve = sample(te, [](double x) { return 1 + 1000 * (0.3 * std::exp(-x / 0.02) + 0.7 * std::exp(-x / 0.1)); });
  requestAll(25);
  setBudget(25, 2, 500000);
  ASSERT_TRUE(init(25));
  std::vector<double> fit;
  const auto out = compute(25, curve, &fit);
  EXPECT_LT(relativeError(out[0].value, 1000), 0.01);
  EXPECT_LT(relativeError(out[1].value, 0.02), 0.01);
  EXPECT_LT(relativeError(out[2].value, 0.1), 0.01);
  EXPECT_NEAR(out[3].value, 1 / out[1].value, 1e-9);
  EXPECT_NEAR(out[5].value, 0.3, 0.005);
  EXPECT_NEAR(out[5].value + out[6].value, 1, 1e-12);
  EXPECT_NEAR(fit[0], curve[0] - 1, 1);  // the fitted curve has no noise floor
  setParm(25, 2, 0);
  EXPECT_FALSE(init(25));
  EXPECT_EQ(lastMessage(), L"M25_ModelInit : T2 lower limits should be >0");
}

TEST_F(MrModelsTest, T1rhoModels) {
  const std::vector<double> tsl = {0, 0.002, 0.005, 0.01, 0.02, 0.03, 0.04, 0.06, 0.08, 0.1};
  setAxis(api().DIDU_DefineTSLProfile, tsl);
  const auto mono = sample(tsl, [](double x) { return 1 + 800 * std::exp(-x / 0.045); });

  requestAll(26);
  setBudget(26, 2, 20000);
  ASSERT_TRUE(init(26));
  std::vector<double> fit;
  auto out = compute(26, mono, &fit);
  EXPECT_LT(relativeError(out[0].value, 0.045), 0.01);
  EXPECT_LE(out[0].aux1, 0.045);
  EXPECT_GE(out[0].aux2, 0.045);
  EXPECT_NEAR(out[1].value, 1 / out[0].value, 1e-9);
  EXPECT_NEAR(out[1].aux1, 1 / out[0].aux2, 1e-9);
  EXPECT_LT(out[3].value, 0.01);  // RRSE
  EXPECT_NEAR(fit[0], mono[0], 2);

  // Model 50: two components, then one long component.
  requestAll(50);
  ASSERT_TRUE(init(50));
  const auto two = sample(tsl, [](double x) { return 1 + 1000 * (0.3 * std::exp(-x / 0.005) + 0.7 * std::exp(-x / 0.06)); });
  out = compute(50, two, &fit);
  EXPECT_EQ(out[4].value, 2);
  EXPECT_LT(relativeError(out[0].value, 0.005), 0.05) << out[0].value;
  EXPECT_NEAR(out[1].value, 0.3, 0.02);
  EXPECT_LT(relativeError(out[2].value, 0.06), 0.05) << out[2].value;
  EXPECT_NEAR(out[3].value, 1 - out[1].value, 1e-12);
  EXPECT_LT(out[6].value, 0.05);
  out = compute(50, mono);
  EXPECT_EQ(out[4].value, 1);
  EXPECT_EQ(out[0].value, kVoid);
  EXPECT_LT(relativeError(out[2].value, 0.045), 0.02) << out[2].value;
  EXPECT_EQ(out[3].value, 1);
}

// --- gamma variate (52) ---

TEST_F(MrModelsTest, GammaVariateFindsArrivalAndShape) {
  const std::vector<double> t = degrees(10, 2, 31);  // 10 .. 70 s; Tspan 60 s
  const double arrival = 5, k = 50, alpha = 1.2, beta = 0.4;
  const auto curve = sample(t, [&](double x) {
    const double rel = x - t[0];
    if (rel < arrival) return 0.0;
    const double u = (rel - arrival) / 60;
    return k * std::pow(u, alpha) * std::exp(-u / beta);
  });
  api().DIDU_DefineTimeProfile(t.data(), int(t.size()));
  setParm(52, 0, 4.5);
  setParm(52, 1, 5.5);
  requestAll(52);
  ASSERT_TRUE(init(52));
  std::vector<double> fit;
  const auto out = compute(52, curve, &fit);
  EXPECT_NEAR(out[3].value, arrival, 0.05);
  EXPECT_LT(relativeError(out[1].value, alpha), 0.02) << out[1].value;
  EXPECT_LT(relativeError(out[2].value, beta), 0.02) << out[2].value;
  EXPECT_LT(relativeError(out[0].value, k), 0.05) << out[0].value;
  EXPECT_LT(out[4].value, 0.05);
  for (size_t i = 0; i < t.size(); ++i) EXPECT_NEAR(fit[i], curve[i], 0.1);
  // No arrival time in range: nothing is fitted.
  setParm(52, 0, 6);
  setParm(52, 1, 5);
  ASSERT_TRUE(init(52));
  EXPECT_EQ(compute(52, curve)[0].value, kVoid);
  api().DIDU_DefineTimeProfile(t.data(), 3);
  EXPECT_FALSE(init(52));
  EXPECT_EQ(lastMessage(), L"M52_ModelInit : This model requires at least 4 dynamic points");
}

// --- maps: many threads give the bits of one ---

TEST_F(MrModelsTest, ParallelMapsEqualSequentialBitForBit) {
  setAxis(api().DIDU_DefineBfactorProfile, kIvimB);
  std::vector<std::vector<double>> curves;
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0, 4);
  for (int c = 0; c < 24; ++c)
    curves.push_back(sample(kIvimB, [&](double b) { return ivimSignal(b, 1000, 0.05 + 0.01 * c, 0.001, 0.02) + noise(random); }));
  for (int type : {17, 18, 19, 21, 28, 54}) {
    SCOPED_TRACE(type);
    requestAll(type);
    ASSERT_TRUE(init(type));
    const int records = api().DIDU_GetNumOutParms(type);
    const auto run = [&](std::vector<DEMPOUT>& out, std::vector<double>& fits, int first, int step) {
      for (size_t c = first; c < curves.size(); c += step) {
        const double* one[1] = {curves[c].data()};
        api().DIDU_ComputeParmArray(type, one, 1, &fits[c * kIvimB.size()], &out[c * records], nullptr, 0);
      }
    };
    std::vector<DEMPOUT> sequential(curves.size() * records), parallel(curves.size() * records);
    std::vector<double> fitsS(curves.size() * kIvimB.size()), fitsP(fitsS.size());
    run(sequential, fitsS, 0, 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back([&, t] { run(parallel, fitsP, t, 4); });
    for (auto& th : threads) th.join();
    EXPECT_EQ(std::memcmp(sequential.data(), parallel.data(), sequential.size() * sizeof(DEMPOUT)), 0);
    EXPECT_EQ(std::memcmp(fitsS.data(), fitsP.data(), fitsS.size() * sizeof(double)), 0);
    api().DIDU_ModelClose(type);
  }
}

}  // namespace
