// Tests of the contrast-enhanced perfusion models of the Kinmodels plug-in (Tofts, modified Tofts,
// the global Tofts fit, the exchange, filtration and uptake models, Kety-Schmidt and the
// reference-region model) through the plug-in's exports, with the library loaded by dlopen as the
// host loads it.
//
// Every reference curve is independent of the models' own builders: closed forms of the models
// for a bi-exponential input function, or a fine-step Runge-Kutta integration of the compartment
// equations written here.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "KinmodelsApi.h"
#include "ModelTestHost.h"

namespace {

constexpr double kVoid = 1e60;

using modeltest::Api;
using modeltest::api;
using modeltest::connectHost;
using modeltest::integrate;
using modeltest::MessageRecorder;
using modeltest::range;
using modeltest::relativeError;
using modeltest::sample;

// A conversion of the host besides the identity: relative enhancement, whose baseline (the first
// value of the curve) travels in the conversion record.
void enhancement(const double* in, int64_t n, double* out, int64_t, void* info) {
  const double base = in[0];
  if (info) static_cast<double*>(info)[0] = base;
  for (int64_t i = 0; i < n; ++i) out[i] = in[i] / base - 1;
}
void enhancementBack(const double* in, int64_t n, double* out, int64_t, const void* info) {
  const double base = info ? static_cast<const double*>(info)[0] : 0.0;
  for (int64_t i = 0; i < n; ++i) out[i] = base * (1 + in[i]);
}

// --- independent references ---

// The input function Cp(t) = 6 (exp(-t/200) - exp(-t/20)) (t in seconds), zero before the delay:
// a bi-exponential sum a_i exp(-m_i t) that starts at zero.
constexpr double kA[2] = {6.0, -6.0};
constexpr double kM[2] = {1.0 / 200, 1.0 / 20};

double inputAt(double t, double delay = 0) {
  t -= delay;
  if (t <= 0) return 0;
  return kA[0] * std::exp(-kM[0] * t) + kA[1] * std::exp(-kM[1] * t);
}

// Closed form of the Tofts curve for the bi-exponential input:
// Ct = Ktrans * sum a_i (exp(-m_i t) - exp(-kep t)) / (kep - m_i), rates per second.
double toftsAt(double t, double ktrans, double ve, double delay = 0) {
  t -= delay;
  if (t <= 0) return 0;
  const double kep = ktrans / ve;
  double sum = 0;
  for (int i = 0; i < 2; ++i) sum += kA[i] * (std::exp(-kM[i] * t) - std::exp(-kep * t)) / (kep - kM[i]);
  return ktrans * sum;
}

// Two-compartment exchange: vp Cp' = Fp (Ca - Cp) + PS (Ce - Cp), ve Ce' = PS (Cp - Ce).
std::vector<double> exchangeReference(const std::vector<double>& times, double vp, double ve, double fp, double ps) {
  return integrate(
      times, 0.005, 2,
      [=](double t, const double* y, double* dy) {
        dy[0] = (fp * (inputAt(t) - y[0]) + ps * (y[1] - y[0])) / vp;
        dy[1] = ps * (y[0] - y[1]) / ve;
      },
      [=](const double* y) { return vp * y[0] + ve * y[1]; });
}

// Two-compartment filtration: vp Cp' = Fp (Ca - Cp) (the filtrate leaves the plasma with its
// outflow), ve Ce' = PS (Cp - Ce) (the extravascular space drains with time constant ve/PS).
std::vector<double> filtrationReference(const std::vector<double>& times, double vp, double ve, double fp, double ps) {
  return integrate(
      times, 0.005, 2,
      [=](double t, const double* y, double* dy) {
        dy[0] = fp * (inputAt(t) - y[0]) / vp;
        dy[1] = ps * (y[0] - y[1]) / ve;
      },
      [=](const double* y) { return vp * y[0] + ve * y[1]; });
}

// Tissue uptake: vp Cp' = Fp (Ca - Cp) - PS Cp, and the taken-up amount grows by PS Cp.
std::vector<double> uptakeReference(const std::vector<double>& times, double vp, double fp, double ps) {
  return integrate(
      times, 0.005, 2,
      [=](double t, const double* y, double* dy) {
        dy[0] = (fp * (inputAt(t) - y[0]) - ps * y[0]) / vp;
        dy[1] = ps * y[0];
      },
      [=](const double* y) { return vp * y[0] + y[1]; });
}

class PerfusionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(api().missing.empty()) << api().missing.front();
    recorder_.defaultAnswer = 1;  // IDOK
    connectHost(recorder_, callbacks_);
  }
  void TearDown() override {
    const Api& a = api();
    for (int type : {8, 9, 43, 44, 45, 46, 47, 48, 49, 57}) {
      a.DIDU_ModelClose(type);
      a.DIDU_DefaultFreeParms(type);
    }
    restoreOptimisations();
    a.DIDU_SetParmReq(nullptr, 0);
    a.DIDU_SetCallbacks(nullptr);
  }

  // The catalogue's initial optimisation choices, restored after each test.
  static void restoreOptimisations() {
    const struct { int type, method, a, b; } initial[] = {{8, 4, 11, 2000},  {9, 4, 7, 2000},  {43, 3, 5, 2000},
                                                         {44, 2, 0, 10000}, {45, 1, 0, 0},    {46, 3, 5, 2000},
                                                         {47, 3, 5, 2000},  {48, 3, 50, 5000}, {49, 3, 4, 20000},
                                                         {57, 7, 1, 200000}};
    for (const auto& o : initial) api().DIDU_SetCurrentOptimization(o.type, o.method, o.a, o.b);
  }

  void requestAll(int type) {
    const int flags[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    api().DIDU_SetParmReq(flags, api().DIDU_GetNumOutParms(type));
  }
  // Sets free parameters by index over the defaults.
  void setParms(int type, std::initializer_list<std::pair<int, double>> values) {
    double current[11] = {};
    api().DIDU_DefaultFreeParms(type);
    api().DIDU_GetFreeParms(type, current);
    for (const auto& [index, value] : values) current[index] = value;
    api().DIDU_SetFreeParms(type, current);
  }
  void setTimes(const std::vector<double>& times) {
    times_ = times;
    api().DIDU_DefineTimeProfile(times.data(), int(times.size()));
  }
  // The input function record of the current times.
  void setInput(const std::vector<double>& values) {
    ifunc_.assign(1, INPUTFUNC{});
    ifunc_[0].count = int(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
      ifunc_[0].times[i] = times_[i] - times_[0];
      ifunc_[0].values[i] = values[i];
    }
  }
  bool init(int type) { return api().DIDU_ModelInit(type, ifunc_.data(), nullptr, nullptr); }

  // All outputs of one curve (every output requested), and the fitted curve when asked.
  std::vector<DEMPOUT> compute(int type, const std::vector<double>& curve, std::vector<double>* fit = nullptr) {
    requestAll(type);
    const int count = api().DIDU_GetNumOutParms(type);
    std::vector<DEMPOUT> out(count + 1, DEMPOUT{-7, -7, -7, -7});
    const double* curves[1] = {curve.data()};
    if (fit) fit->assign(curve.size(), 0.0);
    api().DIDU_ComputeParmArray(type, curves, 1, fit ? fit->data() : nullptr, out.data(), nullptr, 0);
    EXPECT_EQ(out.back().value, -7) << "a record beyond the requested outputs was written";
    out.pop_back();
    return out;
  }

  std::wstring lastMessage() const { return recorder_.texts.empty() ? L"" : recorder_.texts.back(); }

  MessageRecorder recorder_;
  DIDU_CALLBACKS callbacks_{};
  std::vector<double> times_;
  std::vector<INPUTFUNC> ifunc_;
};

// --- Tofts (type 8) ---

TEST_F(PerfusionTest, ToftsRecoversKtransAndVeOfTheClosedForm) {
  setTimes(range(0, 2, 151));
  setInput(sample(times_, [](double t) { return inputAt(t); }));
  const double ktrans = 0.25 / 60, ve = 0.3;
  const std::vector<double> curve = sample(times_, [&](double t) { return toftsAt(t, ktrans, ve); });
  for (int method : {3, 4}) {
    SCOPED_TRACE(method);
    api().DIDU_SetCurrentOptimization(8, method, method == 4 ? 11 : 11, 2000);
    ASSERT_TRUE(init(8));
    std::vector<double> fit;
    const auto out = compute(8, curve, &fit);
    EXPECT_LT(relativeError(out[0].value, 0.25), 0.01) << out[0].value;
    EXPECT_LT(relativeError(out[1].value, 0.3), 0.01) << out[1].value;
    EXPECT_EQ(out[2].value, 0);
    EXPECT_LT(out[3].value, 0.01);
    for (const DEMPOUT& r : out) {
      EXPECT_EQ(r.aux1, kVoid);
      EXPECT_EQ(r.aux2, kVoid);
    }
    // The fitted curve is the model on the acquisition times, close to the measured one.
    for (size_t i = 0; i < curve.size(); ++i) EXPECT_NEAR(fit[i], curve[i], 0.02) << i;
  }
}

TEST_F(PerfusionTest, ToftsFindsTheArterialDelay) {
  setTimes(range(0, 1, 241));
  setInput(sample(times_, [](double t) { return inputAt(t); }));
  const double ktrans = 0.25 / 60, ve = 0.3;
  const std::vector<double> curve = sample(times_, [&](double t) { return toftsAt(t, ktrans, ve, 5); });
  setParms(8, {{2, 0}, {3, 10}});
  for (int method : {3, 4}) {
    SCOPED_TRACE(method);
    api().DIDU_SetCurrentOptimization(8, method, 11, 2000);
    ASSERT_TRUE(init(8));
    const auto out = compute(8, curve);
    EXPECT_NEAR(out[2].value, 5, method == 3 ? 1e-12 : 0.05);
    EXPECT_LT(relativeError(out[0].value, 0.25), 0.01) << out[0].value;
    EXPECT_LT(relativeError(out[1].value, 0.3), 0.01) << out[1].value;
  }
}

// The delay grid runs in whole seconds from the minimum: with 3.5..6 the delays 3.5, 4.5 and 5.5 are
// tried, so a true delay of 6 s is reported as 5.5 s.
TEST_F(PerfusionTest, ToftsDelayGridStepsInWholeSecondsFromTheMinimum) {
  setTimes(range(0, 1, 181));
  setInput(sample(times_, [](double t) { return inputAt(t); }));
  const std::vector<double> curve = sample(times_, [&](double t) { return toftsAt(t, 0.3 / 60, 0.4, 6); });
  setParms(8, {{2, 3.5}, {3, 6}});
  api().DIDU_SetCurrentOptimization(8, 3, 11, 2000);
  ASSERT_TRUE(init(8));
  EXPECT_EQ(compute(8, curve)[2].value, 5.5);
}

// A relative-enhancement conversion: the fit compares signals, built back from the model's
// concentration with the record that the conversion of the measured curve filled.
TEST_F(PerfusionTest, ToftsFitsInTheSignalDomainThroughTheConversionRecord) {
  api().DIDU_SetTissue_SigToConc(enhancement);
  api().DIDU_SetTissue_ConcToSig(enhancementBack);
  setTimes(range(0, 2, 151));
  setInput(sample(times_, [](double t) { return inputAt(t); }));
  const std::vector<double> signal = sample(times_, [](double t) { return 250 * (1 + toftsAt(t, 0.2 / 60, 0.25)); });
  ASSERT_TRUE(init(8));
  std::vector<double> fit;
  const auto out = compute(8, signal, &fit);
  EXPECT_LT(relativeError(out[0].value, 0.2), 0.01) << out[0].value;
  EXPECT_LT(relativeError(out[1].value, 0.25), 0.01) << out[1].value;
  EXPECT_NEAR(fit[100], signal[100], 0.5);
}

TEST_F(PerfusionTest, ToftsKeepsResultsInsideTinyBounds) {
  setTimes(range(0, 2, 151));
  setInput(sample(times_, [](double t) { return inputAt(t); }));
  const std::vector<double> curve = sample(times_, [&](double t) { return toftsAt(t, 0.25 / 60, 0.3); });
  // Below 0.00006 per minute the bound becomes [Kmax/60, 1e-6] per second.
  setParms(8, {{0, 0.00003}});
  ASSERT_TRUE(init(8));
  const auto out = compute(8, curve);
  EXPECT_GE(out[0].value, 0.00003 - 1e-15);
  EXPECT_LE(out[0].value, 1e-6 * 60 + 1e-15);
}

TEST_F(PerfusionTest, OnlyTheResidualRequestedFillsTheFirstRecord) {
  setTimes(range(0, 2, 151));
  setInput(sample(times_, [](double t) { return inputAt(t); }));
  const std::vector<double> curve = sample(times_, [&](double t) { return toftsAt(t, 0.25 / 60, 0.3); });
  ASSERT_TRUE(init(8));
  const int flags[4] = {0, 0, 0, 1};
  api().DIDU_SetParmReq(flags, 4);
  DEMPOUT out[2] = {{-7, -7, -7, -7}, {-7, -7, -7, -7}};
  const double* curves[1] = {curve.data()};
  api().DIDU_ComputeParmArray(8, curves, 1, nullptr, out, nullptr, 0);
  EXPECT_GE(out[0].value, 0);
  EXPECT_LT(out[0].value, 0.01);
  EXPECT_EQ(out[0].aux1, kVoid);
  EXPECT_EQ(out[1].value, -7);
}

TEST_F(PerfusionTest, InitRefusesBadSettingsWithTheirMessages) {
  setTimes(range(0, 2, 31));
  setInput(sample(times_, [](double t) { return inputAt(t); }));
  const struct {
    int type;
    std::initializer_list<std::pair<int, double>> parms;
    const wchar_t* message;  // null: init succeeds
  } cases[] = {
      {8, {{4, 1.4}}, nullptr},  // rounds to L1
      {8, {{4, 2.6}}, L"M8_ModelInit : Specify L1 or L2 metric only"},
      {8, {{2, 5}, {3, 4}}, L"M8_ModelInit : Invalid Input Function delay interval"},
      {9, {{4, 0}}, L"M9_ModelInit : Specify L1 or L2 metric only"},
      {9, {{2, 1}, {3, 0}}, L"M9_ModelInit : Invalid Input Function delay interval"},
      {57, {{2, 1}, {3, 0}}, L"M57_ModelInit : Invalid Input Function delay interval"},
      {57, {{4, 0}}, L"M57_ModelInit : Time delta should be greater than 0"},
      {43, {{4, 3}}, L"M43_ModelInit : Specify L1 or L2 metric only"},
      {43, {{5, 2}, {6, 1}}, L"M43_ModelInit : Min Arterial delay exceeds Max Arterial delay"},
      {43, {{5, 0}, {6, 2}, {7, 0}}, L"M43_ModelInit : Arterial delay delta should be greater than 0"},
      {46, {{4, 0.2}}, L"M46_ModelInit : Specify L1 or L2 metric only"},
      {47, {{4, 3}, {5, 0}}, L"M47_ModelInit : Min Arterial delay exceeds Max Arterial delay"},
      {48, {{5, 5}}, L"M48_ModelInit : Specify L1 or L2 metric only"},
      {48, {{2, 0}}, L"M48_ModelInit : Insufficient number of timepoints"},
      {48, {{2, 1e9}}, nullptr},  // a length beyond the last time uses all points
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    setParms(c.type, c.parms);
    recorder_.texts.clear();
    EXPECT_EQ(init(c.type), c.message == nullptr);
    if (c.message) {
      ASSERT_EQ(recorder_.texts.size(), 1u);
      EXPECT_EQ(recorder_.texts[0], c.message);
    } else {
      EXPECT_TRUE(recorder_.texts.empty());
    }
    api().DIDU_ModelClose(c.type);
    api().DIDU_DefaultFreeParms(c.type);
  }
}

TEST_F(PerfusionTest, GridModelsRefuseTooManyGridPoints) {
  const struct { int type, points; } cases[] = {{44, 2001}, {45, 2001}, {43, 5001}, {46, 5001}, {47, 5001}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    setTimes(range(0, 1, c.points));
    setInput(sample(times_, [](double t) { return inputAt(t); }));
    recorder_.texts.clear();
    EXPECT_FALSE(init(c.type));
    EXPECT_EQ(lastMessage(), (L"M" + std::to_wstring(c.type) + L"_ModelInit : Too many timepoints"));
    setTimes(range(0, 1, c.points - 1));
    setInput(sample(times_, [](double t) { return inputAt(t); }));
    EXPECT_TRUE(init(c.type));
    api().DIDU_ModelClose(c.type);
  }
}

// --- modified Tofts (type 9) ---

TEST_F(PerfusionTest, ModifiedToftsRecoversTheVascularFraction) {
  setTimes(range(0, 2, 151));
  setInput(sample(times_, [](double t) { return inputAt(t); }));
  const double ktrans = 0.25 / 60, ve = 0.3, va = 0.05;
  const std::vector<double> curve =
      sample(times_, [&](double t) { return va * inputAt(t) + (1 - va) * toftsAt(t, ktrans, ve); });
  for (int method : {3, 4}) {
    SCOPED_TRACE(method);
    api().DIDU_SetCurrentOptimization(9, method, 7, 2000);
    ASSERT_TRUE(init(9));
    const auto out = compute(9, curve);
    EXPECT_LT(relativeError(out[0].value, 0.25), 0.01) << out[0].value;
    EXPECT_LT(relativeError(out[1].value, 0.3), 0.01) << out[1].value;
    EXPECT_LT(relativeError(out[2].value, 0.05), 0.02) << out[2].value;
    EXPECT_EQ(out[3].value, 0);
    EXPECT_LT(out[4].value, 0.01);
  }
}

// --- global Tofts fit with vessel and flat-line rejection (type 57) ---

TEST_F(PerfusionTest, GlobalToftsFitsATissueCurveWithGuaranteedRanges) {
  setTimes(range(0, 2, 151));
  setInput(sample(times_, [](double t) { return inputAt(t); }));
  const std::vector<double> curve = sample(times_, [&](double t) { return toftsAt(t, 0.25 / 60, 0.3); });
  api().DIDU_SetCurrentOptimization(57, 7, 1, 20000);
  ASSERT_TRUE(init(57));
  std::vector<double> fit;
  const auto out = compute(57, curve, &fit);
  // The grid model is a running sum of step D: its Ktrans lies within a few per cent of the
  // continuous one.
  EXPECT_LT(relativeError(out[0].value, 0.25), 0.05) << out[0].value;
  EXPECT_LT(relativeError(out[1].value, 0.3), 0.05) << out[1].value;
  EXPECT_LE(out[0].aux1, out[0].value);
  EXPECT_GE(out[0].aux2, out[0].value);
  EXPECT_LE(out[1].aux1, out[1].value);
  EXPECT_GE(out[1].aux2, out[1].value);
  EXPECT_EQ(out[2].value, 0);
  EXPECT_LT(out[3].value, 0.05);
  EXPECT_LE(out[3].aux1, out[3].value);
  // The fifth output compares the fitted curve with the measured one on the acquisition times.
  double sum = 0;
  for (size_t i = 0; i < curve.size(); ++i) sum += (fit[i] - curve[i]) * (fit[i] - curve[i]);
  EXPECT_NEAR(out[4].value, std::sqrt(sum / curve.size()), 1e-12);
}

TEST_F(PerfusionTest, GlobalToftsRejectsVesselsAndFlatCurves) {
  setTimes(range(0, 2, 121));
  const std::vector<double> input = sample(times_, [](double t) { return inputAt(t); });
  setInput(input);
  api().DIDU_SetCurrentOptimization(57, 7, 1, 5000);

  // A scaled copy of the input function is a vessel.
  std::vector<double> vessel = input;
  for (double& v : vessel) v *= 2.5;
  ASSERT_TRUE(init(57));
  std::vector<double> fit;
  auto out = compute(57, vessel, &fit);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(out[i].value, kVoid) << i;
    EXPECT_EQ(out[i].aux1, kVoid) << i;
    EXPECT_EQ(out[i].aux2, kVoid) << i;
  }
  EXPECT_LT(out[3].value, 0.01);
  EXPECT_NEAR(fit[20], vessel[20], 0.05);

  // Without vessel removal only the Tofts fit and the flat line compete; the Tofts model cannot
  // follow a bolus of this height within its bounds, so the flat line wins.
  setParms(57, {{6, 0}});
  ASSERT_TRUE(init(57));
  out = compute(57, vessel);
  EXPECT_EQ(out[0].value, kVoid);
  EXPECT_GT(out[3].value, 1);

  // A constant curve is flat: no parameters, the flat-line RMSE 0 and a constant fitted curve.
  api().DIDU_DefaultFreeParms(57);
  ASSERT_TRUE(init(57));
  const std::vector<double> flat(times_.size(), 3.0);
  out = compute(57, flat, &fit);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(out[i].value, kVoid) << i;
  EXPECT_EQ(out[3].value, 0);
  EXPECT_EQ(out[4].value, 0);
  for (double v : fit) EXPECT_EQ(v, 3.0);
}

// The global Tofts model's cost, written here from its definition: the measured signal and the
// input taken linearly onto the grid 0, D, 2D, ..., the discrete curve
// C_i = Ktrans D sum over j <= i of exp(-k D (i - j)) Cp_(j - d) (k = Ktrans / ve, d the delay in grid
// steps, Cp held at its first value before the grid) summed term by term, the host's conversion
// back to signal, and the mean squared error.
using SigToConcFunc = void (*)(const double*, int64_t, double*, int64_t, void*);
using ConcToSigFunc = void (*)(const double*, int64_t, double*, int64_t, const void*);
struct GridToftsCost {
  double delta = 2;
  ConcToSigFunc toSignal;
  std::vector<double> input, measured;
  double info[3] = {};

  GridToftsCost(const std::vector<double>& times, const std::vector<double>& in, const std::vector<double>& curve,
                double step, SigToConcFunc toConc, ConcToSigFunc back)
      : delta(step), toSignal(back) {
    const int m = int(std::ceil((times.back() - times.front()) / step)) + 1;
    auto onGrid = [&](const std::vector<double>& values) {
      std::vector<double> out(m);
      for (int i = 0; i < m; ++i) {
        const double t = std::min(i * step, times.back());
        const size_t k = std::clamp(size_t(std::upper_bound(times.begin(), times.end(), t) - times.begin()),
                                    size_t(1), times.size() - 1);
        const double f = (t - times[k - 1]) / (times[k] - times[k - 1]);
        out[i] = values[k - 1] + f * (values[k] - values[k - 1]);
      }
      return out;
    };
    input = onGrid(in);
    measured = onGrid(curve);
    std::vector<double> conc(m);
    toConc(measured.data(), m, conc.data(), 1, info);
  }
  // ktrans per second, delay in grid steps.
  double operator()(double ktrans, double ve, int delay) const {
    const int m = int(measured.size());
    std::vector<double> power(m), conc(m), signal(m);
    for (int n = 0; n < m; ++n) power[n] = std::exp(-ktrans / ve * delta * n);
    for (int i = 0; i < m; ++i) {
      double sum = 0;
      for (int j = 0; j <= i; ++j) sum += power[i - j] * input[std::max(j - delay, 0)];
      conc[i] = ktrans * delta * sum;
    }
    toSignal(conc.data(), m, signal.data(), 1, info);
    double squares = 0;
    for (int i = 0; i < m; ++i) squares += (signal[i] - measured[i]) * (signal[i] - measured[i]);
    return squares / m;
  }
};

// A convex conversion besides the concave gradient-echo one: the signal falls exponentially with
// the concentration, S = S0 exp(-C) (as a susceptibility contrast does), S0 the mean of the first
// five frames, kept in the record.
void decaySigToConc(const double* in, int64_t n, double* out, int64_t, void* info) {
  double base = 0;
  const int64_t frames = std::min<int64_t>(n, 5);
  for (int64_t i = 0; i < frames; ++i) base += in[i] / double(frames);
  if (info) static_cast<double*>(info)[0] = base;
  for (int64_t i = 0; i < n; ++i) out[i] = in[i] > 0 ? -std::log(in[i] / base) : 50;
}
void decayConcToSig(const double* in, int64_t n, double* out, int64_t, const void* info) {
  const double base = info ? static_cast<const double*>(info)[0] : 1.0;
  for (int64_t i = 0; i < n; ++i) out[i] = base * std::exp(-in[i]);
}

// Noisy signal curves of the concave spoiled gradient-echo conversion and of a convex one, with the
// catalogue's settings (and one with a delay range): the reported cost range and parameter ranges
// are checked against the cost on dense grids over the whole search box and around the answer. No
// grid point lies below the reported lower bound, the answer is within the search's tolerance of
// every grid point, and every grid point at or below the answer's cost lies inside the reported
// parameter ranges.
TEST_F(PerfusionTest, GlobalToftsEnclosesTheDenseGridMinimumOfNoisySignalCurves) {
  setTimes(range(0, 5, 61));
  const std::vector<double> cleanInput = sample(times_, [](double t) { return modeltest::populationInput(t); });
  std::mt19937 random(57);
  std::normal_distribution<double> noise(0, 20), inputNoise(0, 0.05);
  // Ktrans (1/min), ve, the true delay and the largest delay searched (s), the Ktrans tolerance,
  // the conversion (false: gradient echo, true: exponential decay) and whether the input function
  // is measured with noise (so that its baseline dips below zero).
  // The grid model weighs the input's current sample fully, so with fast exchange (k D = 0.23) its
  // best Ktrans lies well below the continuous model's: that case is held to the grid alone.
  struct Case {
    double ktrans, ve, delay, maxDelay, tolerance;
    bool decay, noisyInput = false;
  };
  for (const Case c : {Case{0.05, 0.1, 0, 0, 0.1, false}, Case{0.1, 0.5, 0, 0, 0.1, false},
                       Case{0.2, 0.2, 0, 0, 0.1, false}, Case{0.35, 0.05, 0, 0, 1, false},
                       Case{0.15, 0.3, 2, 4, 0.1, false}, Case{0.1, 0.2, 0, 0, 0.1, true},
                       Case{0.3, 0.4, 0, 0, 0.1, true}, Case{0.1, 0.2, 0, 0, 0.1, false, true}}) {
    SCOPED_TRACE(testing::Message() << "Ktrans " << c.ktrans << " ve " << c.ve << " delay " << c.delay
                                    << (c.decay ? " exponential" : " gradient echo")
                                    << (c.noisyInput ? " noisy input" : ""));
    std::vector<double> input = cleanInput;
    if (c.noisyInput)
      for (double& v : input) v += inputNoise(random);
    setInput(input);
    const SigToConcFunc toConc = c.decay ? decaySigToConc : modeltest::spgrSigToConc;
    const ConcToSigFunc toSignal = c.decay ? decayConcToSig : modeltest::spgrConcToSig;
    api().DIDU_SetTissue_SigToConc(toConc);
    api().DIDU_SetTissue_ConcToSig(toSignal);
    setParms(57, {{3, c.maxDelay}});
    ASSERT_TRUE(init(57));
    const modeltest::InputCurve delayed = [&](double t) { return modeltest::populationInput(t - c.delay); };
    const std::vector<double> conc = modeltest::toftsReference(times_, c.ktrans / 60, c.ve, 0, 0.05, delayed);
    std::vector<double> curve(conc.size());
    const double record[3] = {1000, 1 / modeltest::spoiledGradientEcho().t10, 0};
    if (c.decay)
      decayConcToSig(conc.data(), int64_t(conc.size()), curve.data(), 1, record);
    else
      curve = modeltest::spgrSignal(conc, 1000);
    for (double& v : curve) v += noise(random);
    const auto out = compute(57, curve);
    ASSERT_LT(out[0].value, kVoid);
    const double best = out[3].value * out[3].value, lower = out[3].aux1 * out[3].aux1;
    EXPECT_LE(lower, best);
    EXPECT_LT(relativeError(out[0].value, c.ktrans), c.tolerance) << out[0].value;
    EXPECT_LT(std::fabs(out[1].value - c.ve), 0.1 * c.ve + 0.01) << out[1].value;
    // The delay counts in whole grid steps (2 s), on curves sampled every 5 s.
    EXPECT_LE(std::fabs(std::lround(out[2].value / 2) - c.delay / 2), 1) << out[2].value;

    const GridToftsCost cost(times_, input, curve, 2, toConc, toSignal);
    double gridMin = HUGE_VAL;
    auto visit = [&](double ktransPerMin, double ve, int steps) {
      if (ktransPerMin < 0 || ktransPerMin > 1 || ve < 0.01 || ve > 10) return;
      const double value = cost(ktransPerMin / 60, ve, steps);
      gridMin = std::min(gridMin, value);
      EXPECT_GE(value, lower * (1 - 1e-12)) << ktransPerMin << " " << ve << " " << steps;
      if (value <= best) {
        EXPECT_GE(ktransPerMin, out[0].aux1 * (1 - 1e-12)) << ve;
        EXPECT_LE(ktransPerMin, out[0].aux2 * (1 + 1e-12)) << ve;
        EXPECT_GE(ve, out[1].aux1 * (1 - 1e-12)) << ktransPerMin;
        EXPECT_LE(ve, out[1].aux2 * (1 + 1e-12)) << ktransPerMin;
      }
    };
    for (int steps = 0; steps <= int(c.maxDelay / 2); ++steps) {
      for (int a = 0; a <= 100; ++a)
        for (int b = 0; b <= 100; ++b) visit(a / 100.0, 0.01 * std::pow(1000.0, b / 100.0), steps);
      for (int a = -30; a <= 30; ++a)
        for (int b = -30; b <= 30; ++b) visit(out[0].value * (1 + a * 1e-3), out[1].value * (1 + b * 1e-3), steps);
    }
    EXPECT_LE(best, gridMin + 1e-8);
  }
}

// Curves the fit cannot use give the failure values (1e60 for the parameters) without spending the
// search's budget: samples of 1e60, NaN or infinity, and an input function that is zero everywhere
// (the flat line then wins).
TEST_F(PerfusionTest, GlobalToftsGivesFailureValuesForUnusableCurves) {
  modeltest::connectSpoiledGradientEcho();
  setTimes(range(0, 5, 61));
  const std::vector<double> input = sample(times_, [](double t) { return modeltest::populationInput(t); });
  const std::vector<double> good = modeltest::spgrSignal(modeltest::toftsReference(times_, 0.1 / 60, 0.2), 1000);
  auto withSample = [&](double value) {
    std::vector<double> curve = good;
    curve[20] = value;
    return curve;
  };
  const struct {
    const char* name;
    std::vector<double> curve;
    bool zeroInput;
  } cases[] = {{"all 1e60", std::vector<double>(times_.size(), kVoid), false},
               {"a NaN sample", withSample(std::nan("")), false},
               {"an infinite sample", withSample(HUGE_VAL), false},
               {"a 1e60 sample", withSample(kVoid), false},
               {"a zero input function", good, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    setInput(c.zeroInput ? std::vector<double>(times_.size(), 0.0) : input);
    ASSERT_TRUE(init(57));
    const auto out = compute(57, c.curve);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(out[i].value, kVoid) << i;
    EXPECT_TRUE(recorder_.texts.empty());
  }
}

// --- exchange, filtration and uptake models (types 43 to 47) ---

class ExchangeTest : public PerfusionTest {
 protected:
  void SetUp() override {
    PerfusionTest::SetUp();
    setTimes(range(0, 1, 301));
    setInput(sample(times_, [](double t) { return inputAt(t); }));
  }
  // vp 0.05, ve 0.2, Fp 1/min, PS 0.2/min.
  static constexpr double kVp = 0.05, kVe = 0.2, kFp = 1.0 / 60, kPs = 0.2 / 60;
};

TEST_F(ExchangeTest, ExchangeModelsRecoverANumericallyIntegratedCurve) {
  const std::vector<double> curve = exchangeReference(times_, kVp, kVe, kFp, kPs);
  const struct { int type; double tolerance; } cases[] = {{43, 0.05}, {45, 0.01}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    ASSERT_TRUE(init(c.type));
    std::vector<double> fit;
    const auto out = compute(c.type, curve, &fit);
    EXPECT_LT(relativeError(out[0].value, kVp), c.tolerance) << out[0].value;
    EXPECT_LT(relativeError(out[1].value, kVe), c.tolerance) << out[1].value;
    EXPECT_LT(relativeError(out[2].value, 1.0), c.tolerance) << out[2].value;
    EXPECT_LT(relativeError(out[3].value, 0.2), c.tolerance) << out[3].value;
    EXPECT_NEAR(fit[60], curve[60], 0.02);
    EXPECT_LT(out.back().value, 0.01);
    if (c.type == 43) {
      EXPECT_EQ(out[4].value, 0);
    }
  }
}

// At the catalogue's budget of bisections: the answer is the best point the search evaluated.
TEST_F(ExchangeTest, IntervalExchangeModelRecoversANumericallyIntegratedCurve) {
  setTimes(range(0, 2, 151));
  setInput(sample(times_, [](double t) { return inputAt(t); }));
  const std::vector<double> curve = exchangeReference(times_, kVp, kVe, kFp, kPs);
  ASSERT_TRUE(init(44));
  std::vector<double> fit;
  const auto out = compute(44, curve, &fit);
  EXPECT_LT(relativeError(out[0].value, kVp), 0.05) << out[0].value;
  EXPECT_LT(relativeError(out[1].value, kVe), 0.05) << out[1].value;
  EXPECT_LT(relativeError(out[2].value, 1.0), 0.05) << out[2].value;
  EXPECT_LT(relativeError(out[3].value, 0.2), 0.05) << out[3].value;
  EXPECT_LT(out[4].value, 0.01);
  EXPECT_NEAR(fit[30], curve[30], 0.02);
}

TEST_F(ExchangeTest, FiltrationModelRecoversANumericallyIntegratedCurve) {
  const std::vector<double> curve = filtrationReference(times_, kVp, kVe, kFp, kPs);
  for (int metric : {1, 2}) {
    SCOPED_TRACE(metric);
    setParms(46, {{4, double(metric)}});
    ASSERT_TRUE(init(46));
    const auto out = compute(46, curve);
    EXPECT_LT(relativeError(out[0].value, kVp), 0.05) << out[0].value;
    EXPECT_LT(relativeError(out[1].value, kVe), 0.05) << out[1].value;
    EXPECT_LT(relativeError(out[2].value, 1.0), 0.05) << out[2].value;
    EXPECT_LT(relativeError(out[3].value, 0.2), 0.05) << out[3].value;
  }
}

// Fp = PS = 1/min gives Ktrans = 0.5/min, the series combination of the two.
TEST_F(ExchangeTest, UptakeModelReportsKtransOfFlowAndPermeability) {
  const std::vector<double> curve = uptakeReference(times_, 0.1, 1.0 / 60, 1.0 / 60);
  ASSERT_TRUE(init(47));
  const auto out = compute(47, curve);
  EXPECT_LT(relativeError(out[0].value, 0.1), 0.05) << out[0].value;
  EXPECT_LT(relativeError(out[1].value, 1.0), 0.05) << out[1].value;
  EXPECT_LT(relativeError(out[2].value, 1.0), 0.05) << out[2].value;
  EXPECT_LT(relativeError(out[4].value, 0.5), 0.02) << out[4].value;
  EXPECT_DOUBLE_EQ(out[4].value, out[1].value * out[2].value / (out[1].value + out[2].value));
}

// Delays 0 to 2 in steps of 0.75 try 0, 0.75, 1.5 and 2 (the maximum always last).
TEST_F(ExchangeTest, DelayGridEndsAtTheMaximumDelay) {
  setParms(47, {{4, 0}, {5, 2}, {6, 0.75}});
  const struct { double delay, expected; } cases[] = {{2, 2}, {0.75, 0.75}, {1.5, 1.5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.delay);
    std::vector<double> shifted = times_;
    for (double& t : shifted) t -= c.delay;
    std::vector<double> curve = uptakeReference(range(0, 1, 301), 0.1, 1.0 / 60, 0.5 / 60);
    // The tissue curve of the delayed input: its value at t - delay, zero before.
    std::vector<double> delayed(curve.size(), 0.0);
    for (size_t i = 0; i < curve.size(); ++i) {
      const double t = times_[i] - c.delay;
      if (t <= 0) continue;
      const size_t j = size_t(std::floor(t));
      const double f = t - double(j);
      delayed[i] = curve[j] + (j + 1 < curve.size() ? f * (curve[j + 1] - curve[j]) : 0);
    }
    ASSERT_TRUE(init(47));
    EXPECT_EQ(compute(47, delayed)[3].value, c.expected);
  }
}

TEST_F(ExchangeTest, LinearExchangeExcludesInvalidSolutionsOnlyWhenAsked) {
  // An oscillation over the exchange curve drives the solution to a negative PS.
  std::vector<double> curve = exchangeReference(times_, kVp, kVe, kFp, kPs);
  for (size_t i = 0; i < curve.size(); ++i) curve[i] += 0.1 * std::sin(0.3 * times_[i]);
  setParms(45, {{0, 0}});
  ASSERT_TRUE(init(45));
  const auto reported = compute(45, curve);
  EXPECT_LT(reported[3].value, 0);
  setParms(45, {{0, 1}});
  ASSERT_TRUE(init(45));
  for (const DEMPOUT& r : compute(45, curve)) EXPECT_EQ(r.value, kVoid);
  // The clean curve passes the check.
  const auto clean = compute(45, exchangeReference(times_, kVp, kVe, kFp, kPs));
  EXPECT_LT(relativeError(clean[3].value, 0.2), 0.01);
}

// --- Kety-Schmidt (type 48) ---

TEST_F(PerfusionTest, KetySchmidtRecoversFlowDelayAndDispersion) {
  setTimes(range(0, 1, 121));
  setInput(sample(times_, [](double t) { return inputAt(t); }));
  // K = f/lambda = 0.01 per second, reported as 60 ml/(100 g min); the curve is f times the
  // input convolved with exp(-K t), arriving 2 s late.
  const double lambda = 0.95, k = 0.01, f = lambda * k;
  const std::vector<double> curve = sample(times_, [&](double t) {
    t -= 2;
    if (t <= 0) return 0.0;
    double sum = 0;
    for (int i = 0; i < 2; ++i) sum += kA[i] * (std::exp(-kM[i] * t) - std::exp(-k * t)) / (k - kM[i]);
    return f * sum;
  });
  setParms(48, {{3, 3}, {4, 0.6}});
  api().DIDU_SetCurrentOptimization(48, 3, 20, 2000);
  ASSERT_TRUE(init(48));
  std::vector<double> fit;
  const auto out = compute(48, curve, &fit);
  EXPECT_LT(relativeError(out[0].value, 60), 0.01) << out[0].value;
  EXPECT_DOUBLE_EQ(out[1].value, out[0].value * lambda);
  EXPECT_EQ(out[2].value, 2);
  EXPECT_EQ(out[3].value, 0);
  EXPECT_LT(out[4].value, 0.05);
  // The analysis length (300 s) covers the whole curve here.
  EXPECT_NEAR(fit[60], curve[60], 0.01);
}

TEST_F(PerfusionTest, KetySchmidtFitsOnlyTheAnalysisLength) {
  setTimes(range(0, 1, 121));
  setInput(sample(times_, [](double t) { return inputAt(t); }));
  std::vector<double> curve = sample(times_, [&](double t) {
    double sum = 0;
    for (int i = 0; i < 2; ++i) sum += kA[i] * (std::exp(-kM[i] * t) - std::exp(-0.01 * t)) / (0.01 - kM[i]);
    return 0.0095 * sum;
  });
  // The tail after 60 s is spoiled; a 60 s analysis does not see it.
  for (size_t i = 61; i < curve.size(); ++i) curve[i] = 50;
  setParms(48, {{2, 60}, {3, 0}, {4, 0}});
  api().DIDU_SetCurrentOptimization(48, 3, 20, 2000);
  ASSERT_TRUE(init(48));
  std::vector<double> fit;
  const auto out = compute(48, curve, &fit);
  EXPECT_LT(relativeError(out[0].value, 60), 0.01) << out[0].value;
  EXPECT_EQ(out[3].value, 0);  // dispersion 0 is tried even with a maximum of 0
  EXPECT_NE(fit[60], kVoid);
  EXPECT_EQ(fit[61], kVoid);
}

// --- reference region (type 49) ---

TEST_F(PerfusionTest, ReferenceRegionRecoversTheTissueOfAToftsPair) {
  setTimes(range(0, 2, 151));
  const double ktransRR = 0.15 / 60, veRR = 0.12;
  setInput(sample(times_, [&](double t) { return toftsAt(t, ktransRR, veRR); }));
  const std::vector<double> tissue = sample(times_, [&](double t) { return toftsAt(t, 0.3 / 60, 0.35); });
  ASSERT_TRUE(init(49));
  const auto out = compute(49, tissue);
  EXPECT_LT(relativeError(out[0].value, 0.3), 0.02) << out[0].value;
  EXPECT_LT(relativeError(out[1].value, 0.35), 0.02) << out[1].value;
  EXPECT_LT(out[2].value, 0.01);
}

TEST_F(PerfusionTest, ReferenceRegionNeedsAReferenceOfTheDataLength) {
  setTimes(range(0, 2, 31));
  setInput(sample(range(0, 2, 30), [](double t) { return inputAt(t); }));
  EXPECT_FALSE(init(49));
  EXPECT_EQ(lastMessage(), L"M49_ModelInit : Input functions are missing or incorrect");
  setTimes(range(0, 2, 2));
  EXPECT_FALSE(init(49));
  EXPECT_EQ(lastMessage(), L"M49_ModelInit : Insufficient number of timepoints");
  std::vector<double> backwards = range(0, 2, 5);
  std::swap(backwards[1], backwards[2]);
  setTimes(backwards);
  setInput(std::vector<double>(5, 1.0));
  EXPECT_FALSE(init(49));
  EXPECT_EQ(lastMessage(), L"IsValidDynamicComponent : Dynamic component Time: values should be in the increasing order");
}

TEST_F(PerfusionTest, ReferenceRegionSelfTestIsDeterministicAndLeavesTheModelClosed) {
  setTimes(range(0, 2, 31));
  setInput(sample(times_, [&](double t) { return toftsAt(t, 0.15 / 60, 0.12); }));
  ASSERT_TRUE(init(49));
  api().DIDU_ModelAutoTest(49);
  api().DIDU_ModelAutoTest(49);
  ASSERT_EQ(recorder_.texts.size(), 2u);
  EXPECT_EQ(recorder_.texts[0], recorder_.texts[1]);
  EXPECT_EQ(recorder_.texts[0].rfind(L"MaxErr = ", 0), 0u) << std::string(recorder_.texts[0].begin(), recorder_.texts[0].end());
  // The figure of the same procedure with the integrals of the piecewise-linear curves taken by
  // scipy's adaptive quadrature (scipy.integrate.quad, relative tolerance 1e-13) and the MSVC
  // generator's sequence (state * 214013 + 2531011, bits 16..30).
  EXPECT_NEAR(std::stod(recorder_.texts[0].substr(9)), 0.11023929701759355, 1e-8);
  // The test leaves 21 points; the model's tables are gone until the next init.
  const auto out = compute(49, std::vector<double>(21, 1.0));
  for (const DEMPOUT& r : out) EXPECT_EQ(r.value, kVoid);
  api().DIDU_ModelAutoTest(48);  // other types have no self test
  EXPECT_EQ(recorder_.texts.size(), 2u);
}

// --- noise and maps ---

// 100 Tofts curves with Gaussian noise of 5 % of their peak: the median relative error of Ktrans
// stays under 5 % and every result lies inside its search box.
TEST_F(PerfusionTest, ToftsUnderNoiseStaysAccurateAndInsideItsBox) {
  setTimes(range(0, 4, 76));
  setInput(sample(times_, [](double t) { return inputAt(t); }));
  setParms(8, {{0, 2}, {1, 1}});
  ASSERT_TRUE(init(8));
  std::mt19937 random(20240611);
  std::uniform_real_distribution<double> ktransDist(0.1, 0.6), veDist(0.15, 0.6);
  std::vector<double> errors;
  for (int c = 0; c < 100; ++c) {
    const double ktrans = ktransDist(random), ve = veDist(random);
    std::vector<double> curve = sample(times_, [&](double t) { return toftsAt(t, ktrans / 60, ve); });
    const double peak = *std::max_element(curve.begin(), curve.end());
    std::normal_distribution<double> noise(0, 0.05 * peak);
    for (double& v : curve) v += noise(random);
    const auto out = compute(8, curve);
    errors.push_back(relativeError(out[0].value, ktrans));
    EXPECT_GE(out[0].value, 1e-6 * 60 - 1e-15);
    EXPECT_LE(out[0].value, 2 + 1e-12);
    EXPECT_GE(out[1].value, 0.01);
    EXPECT_LE(out[1].value, 1);
  }
  std::nth_element(errors.begin(), errors.begin() + 50, errors.end());
  EXPECT_LT(errors[50], 0.05);
}

// Curves computed at once from many threads give the same bits as one after another.
TEST_F(PerfusionTest, ParallelMapEqualsSequentialBitForBit) {
  setTimes(range(0, 3, 61));
  setInput(sample(times_, [](double t) { return inputAt(t); }));
  std::vector<std::vector<double>> curves;
  for (int c = 0; c < 24; ++c)
    curves.push_back(sample(times_, [&](double t) { return toftsAt(t, (0.1 + 0.02 * c) / 60, 0.2 + 0.01 * c, c % 4); }));
  api().DIDU_SetCurrentOptimization(57, 7, 1, 2000);
  api().DIDU_SetCurrentOptimization(44, 2, 0, 2000);
  setParms(8, {{3, 4}});
  setParms(57, {{3, 4}});
  for (int type : {8, 9, 43, 44, 57}) {
    SCOPED_TRACE(type);
    requestAll(type);
    ASSERT_TRUE(init(type));
    const int count = api().DIDU_GetNumOutParms(type);
    auto run = [&](int c, std::vector<DEMPOUT>& out, std::vector<double>& fit) {
      out.assign(count, DEMPOUT{});
      fit.assign(times_.size(), 0.0);
      const double* one[1] = {curves[c].data()};
      api().DIDU_ComputeParmArray(type, one, 1, fit.data(), out.data(), nullptr, 0);
    };
    std::vector<std::vector<DEMPOUT>> sequential(curves.size()), parallel(curves.size());
    std::vector<std::vector<double>> fitsSequential(curves.size()), fitsParallel(curves.size());
    for (size_t c = 0; c < curves.size(); ++c) run(int(c), sequential[c], fitsSequential[c]);
    std::vector<std::thread> threads;
    for (int w = 0; w < 6; ++w)
      threads.emplace_back([&, w] {
        for (size_t c = w; c < curves.size(); c += 6) run(int(c), parallel[c], fitsParallel[c]);
      });
    for (std::thread& t : threads) t.join();
    for (size_t c = 0; c < curves.size(); ++c) {
      EXPECT_EQ(std::memcmp(sequential[c].data(), parallel[c].data(), count * sizeof(DEMPOUT)), 0) << c;
      EXPECT_EQ(fitsSequential[c], fitsParallel[c]) << c;
    }
    api().DIDU_ModelClose(type);
  }
}

}  // namespace
