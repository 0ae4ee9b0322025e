// Tests of the curve-shape and curve-measure models (peak analysis, interleaved profile, reference
// distance, active rise, baseline integral, two-input labelling) and of the input-function
// convolution models (RPF by integration, flow-extraction-transit, transit, exchange with water
// exchange, dual-input exchange) of the Kinmodels plug-in, through its exports. References are
// closed forms and quadratures written here.

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>
#include <vector>

#include "ModelTestHost.h"

namespace {

using namespace modeltest;

// Bi-exponential input sum a_i exp(-m_i t) that starts at 0 (t in the unit of the rates).
struct BiExp {
  double a[2], m[2];
  double at(double t) const { return t <= 0 ? 0 : a[0] * std::exp(-m[0] * t) + a[1] * std::exp(-m[1] * t); }
  // integral of at(tau) exp(-k (t - tau)) d tau from 0 to t.
  double convolved(double t, double k) const {
    if (t <= 0) return 0;
    double sum = 0;
    for (int i = 0; i < 2; ++i) sum += a[i] * (std::exp(-m[i] * t) - std::exp(-k * t)) / (k - m[i]);
    return sum;
  }
};
constexpr BiExp kInput{{6, -6}, {1.0 / 200, 1.0 / 20}};   // per second
constexpr BiExp kPortal{{4, -4}, {1.0 / 300, 1.0 / 40}};  // slower, later peak

using CurveModelTest = ModelTest;

// --- active rise (type 5) ---

TEST_F(CurveModelTest, ActiveRiseOfALinearRise) {
  setTimes(range(0, 1, 11));
  ASSERT_TRUE(init(5));
  const auto out = compute(5, range(0, 1, 11));  // 0 to 10 over 10 s
  EXPECT_NEAR(out[0].value, 7.5, 1e-12);  // from 2 (20 %) to 9.5 (95 %)
  EXPECT_NEAR(out[1].value, 1, 1e-12);
  EXPECT_EQ(out[0].aux1, kVoid);
  // A curve whose first sample is its peak has no rise.
  std::vector<double> falling = range(10, -1, 11);
  for (const DEMPOUT& r : compute(5, falling)) EXPECT_EQ(r.value, kVoid);
}

// --- peak analysis (type 2) ---

TEST_F(CurveModelTest, PeakAnalysisFindsTheRise) {
  setTimes(range(0, 1, 16));
  // Baseline 1 up to t = 4, a straight rise to 11 at t = 9, then a wash-out.
  std::vector<double> c = {1, 1, 1, 1, 1, 3, 5, 7, 9, 11, 10, 9, 8, 7, 6, 5};
  ASSERT_TRUE(init(2));
  const auto out = compute(2, c);
  EXPECT_EQ(out[0].value, 9);   // effective peak reach: first value >= 0.9 * 11 = 9.9
  EXPECT_EQ(out[1].value, 4);   // from the arrival at 4 to the rise end at 8
  double sum = 0, weighted = 0;
  for (size_t k = 0; k < c.size(); ++k) sum += c[k], weighted += c[k] * times_[k];
  EXPECT_NEAR(out[2].value, weighted / sum, 1e-12);
  EXPECT_EQ(out[3].value, 4);
  EXPECT_EQ(out[4].value, 9);
  EXPECT_EQ(out[5].value, 8);
}

// A curve that peaks in its first three frames has no rise: the arrival and both mTTP outputs are
// "no value" while the peak times and the weighted peak are reported.
TEST_F(CurveModelTest, PeakAnalysisOfAnEarlyPeak) {
  setTimes(range(0, 2, 10));
  const std::vector<double> c = {1, 5, 10, 8, 6, 5, 4, 3, 2, 1};
  ASSERT_TRUE(init(2));
  const auto out = compute(2, c);
  EXPECT_EQ(out[0].value, 4);  // first value >= 9 at frame 2
  EXPECT_EQ(out[1].value, kVoid);
  double sum = 0, weighted = 0;
  for (size_t k = 0; k < c.size(); ++k) sum += c[k], weighted += c[k] * times_[k];
  EXPECT_NEAR(out[2].value, weighted / sum, 1e-12);
  EXPECT_EQ(out[3].value, kVoid);
  EXPECT_EQ(out[4].value, 4);
  EXPECT_EQ(out[5].value, kVoid);
}

// --- interleaved profile (type 3) ---

TEST_F(CurveModelTest, InterleavedProfileSplitsOddAndEvenFrames) {
  setTimes(range(0, 1, 5));
  ASSERT_TRUE(init(3));
  const auto out = compute(3, {1, 10, 3, 20, 5});
  EXPECT_NEAR(out[0].value, 3, 1e-12);              // frames 1, 3, 5 (indices 0, 2, 4)
  EXPECT_NEAR(out[1].value, 2, 1e-12);              // sample deviation of 1, 3, 5
  EXPECT_NEAR(out[2].value, 15, 1e-12);             // indices 1, 3
  EXPECT_NEAR(out[3].value, std::sqrt(50.0), 1e-12);
}

// --- reference distance (type 4) ---

TEST_F(CurveModelTest, ReferenceDistanceAndCorrelation) {
  setTimes(range(0, 2, 31));
  const std::vector<double> reference = sample(times_, [](double t) { return kInput.at(t); });
  std::vector<double> curve = reference;
  for (double& v : curve) v += 1;
  setInputs({reference});
  ASSERT_TRUE(init(4));
  auto out = compute(4, curve);
  EXPECT_NEAR(out[0].value, std::sqrt(60.0), 1e-9);  // root of the integral of 1 over 60 s
  EXPECT_NEAR(out[1].value, 1, 1e-12);
  // L1 over frames 2 to 4 (1-based): 4 s.
  setParms(4, {{0, 1}, {1, 2}, {2, 4}});
  ASSERT_TRUE(init(4));
  out = compute(4, curve);
  EXPECT_NEAR(out[0].value, 4, 1e-9);
  // Start 0 with end 5 is the whole curve; start 3 with end 2 is refused.
  setParms(4, {{0, 1}, {1, 0}, {2, 5}});
  ASSERT_TRUE(init(4));
  EXPECT_NEAR(compute(4, curve)[0].value, 60, 1e-9);
  const struct { double start, end, metric; const wchar_t* text; } refused[] = {
      {3, 2, 2, L"M4_ModelInit : Invalid time index"},
      {1, 32, 2, L"M4_ModelInit : Invalid time index"},
      {0, 0, 3, L"M4_ModelInit : Specify L1 or L2 metric only"}};
  for (const auto& c : refused) {
    setParms(4, {{0, c.metric}, {1, c.start}, {2, c.end}});
    EXPECT_FALSE(init(4));
    EXPECT_EQ(lastMessage(), c.text);
  }
}

// --- baseline integral (type 6) ---

// A drop below a constant baseline that comes back to it: the integral is that of -ln(S / S0)
// over the drop.
TEST_F(CurveModelTest, BaselineIntegralOfADrop) {
  setTimes(range(0, 1.5, 60));
  std::vector<double> s(times_.size(), 100);
  for (size_t i = 20; i < 32; ++i) s[i] = 100 - 40 * std::sin(M_PI * double(i - 19) / 13);
  api().DIDU_SetGlobalTac(s.data());
  api().DIDU_SetNoiseLev(1);
  ASSERT_TRUE(init(6));
  double expected = 0;
  for (size_t i = 1; i < s.size(); ++i)
    expected += (times_[i] - times_[i - 1]) * (-std::log(s[i] / 100) - std::log(s[i - 1] / 100)) / 2;
  EXPECT_NEAR(compute(6, s)[0].value, expected, 1e-9 * expected);
  // A flat curve has no drop; a curve below the background level (20 x noise 1) is background.
  EXPECT_EQ(compute(6, std::vector<double>(times_.size(), 100))[0].value, kVoid);
  std::vector<double> faint = s;
  faint[40] = 10;
  EXPECT_EQ(compute(6, faint)[0].value, kVoid);
}

// --- two-input labelling (type 20) ---

TEST_F(CurveModelTest, TwoInputLabelling) {
  setTimes(range(0, 2, 60));
  const std::vector<double> first = sample(times_, [](double t) { return kInput.at(t); });
  const std::vector<double> second = sample(times_, [](double t) { return kPortal.at(t); });
  setInputs({first, second});
  ASSERT_TRUE(init(20));
  std::vector<double> scaled = first;
  for (double& v : scaled) v *= 3;
  auto out = compute(20, scaled);
  EXPECT_EQ(out[1].value, 2);  // the shape of input 1
  EXPECT_NEAR(out[0].value, 0, 1e-20);
  out = compute(20, second);
  EXPECT_EQ(out[1].value, 1);  // the shape of input 2
  // A shape like neither is beyond the distance threshold: no value.
  std::vector<double> other = sample(times_, [](double t) { return t < 60 ? 1.0 : 0.0; });
  EXPECT_EQ(compute(20, other)[1].value, kVoid);
  // A flat curve writes nothing.
  EXPECT_EQ(compute(20, std::vector<double>(times_.size(), 5))[0].value, -7);
  // Inputs of another length.
  ifuncs_[1].count = 59;
  EXPECT_FALSE(init(20));
  EXPECT_EQ(lastMessage(), L"M20_ModelInit : Input functions is missing or incorrect");
}

// --- input-function convolution models ---

TEST_F(CurveModelTest, RpfIntegrationRecoversTheFilterRate) {
  setTimes(range(0, 2, 121));
  setInputs({sample(times_, [](double t) { return kInput.at(t); })});
  const double k = 0.03;  // RPF / vACx per second
  const std::vector<double> curve = sample(times_, [&](double t) { return k * kInput.convolved(t, k); });
  ASSERT_TRUE(init(10));
  std::vector<double> fit;
  const auto out = compute(10, curve, &fit);
  EXPECT_LT(relativeError(out[0].value / out[1].value, k), 0.02) << out[0].value << " " << out[1].value;
  EXPECT_LT(out[2].value, 0.01);
  EXPECT_NEAR(fit[60], curve[60], 0.02);
}

TEST_F(CurveModelTest, DualInputExchangeRecoversItsParameters) {
  setTimes(range(0, 2, 151));
  setInputs({sample(times_, [](double t) { return kInput.at(t); }),
             sample(times_, [](double t) { return kPortal.at(t); })});
  const double K = 0.004, k = 0.01, f = 0.3;  // per second
  const std::vector<double> curve = sample(
      times_, [&](double t) { return K * (f * kInput.convolved(t, k) + (1 - f) * kPortal.convolved(t, k)); });
  setParms(15, {{0, 0.0005}, {1, 0.02}, {2, 0.001}, {3, 0.05}});
  ASSERT_TRUE(init(15));
  const auto out = compute(15, curve);
  EXPECT_LT(relativeError(out[0].value, K * 60), 0.03) << out[0].value;
  EXPECT_LT(relativeError(out[1].value, K / k), 0.03) << out[1].value;
  EXPECT_NEAR(out[2].value, f, 0.02);
  EXPECT_LT(out[3].value, 0.01);
}

TEST_F(CurveModelTest, WaterExchangeModelRecoversKtransAndVe) {
  // Times in seconds; the model works in minutes.
  setTimes(range(0, 5, 73));
  const BiExp perMinute{{6, -6}, {60.0 / 200, 60.0 / 20}};
  setInputs({sample(times_, [&](double t) { return perMinute.at(t / 60); })});
  const double ktrans = 0.6, kep = 1.5;  // per minute
  const std::vector<double> curve =
      sample(times_, [&](double t) { return ktrans * perMinute.convolved(t / 60, kep); });
  setParms(14, {{0, 0.05}, {1, 2}, {2, 0.05}, {3, 4}, {4, 0.05}, {5, 0.2}});
  ASSERT_TRUE(init(14));
  const auto out = compute(14, curve);
  EXPECT_LT(relativeError(out[0].value, ktrans), 0.02) << out[0].value;
  EXPECT_LT(relativeError(out[1].value, ktrans / kep), 0.02) << out[1].value;
  // The curve does not depend on tau: it stays within one tau step of "Tau_Min".
  EXPECT_GE(out[2].value, 0.05 - 0.01);
  EXPECT_LE(out[2].value, 0.05 + 0.01);
  EXPECT_LT(out[3].value, 0.01);
}

// The transit model's impulse response, convolved with the input by fine quadrature.
double transitReference(double t, double b, double ti, double level) {
  const double h = 0.01;
  double sum = 0;
  for (double tau = 0; tau < t; tau += h) {
    const double u = t - tau - h / 2;
    const double impulse = u <= ti ? level : level * std::exp(-b * (u - ti));
    sum += kInput.at(tau + h / 2) * impulse * h;
  }
  return sum;
}

TEST_F(CurveModelTest, TransitModelFitsAConvolvedCurve) {
  setTimes(range(0, 1, 61));
  setInputs({sample(times_, [](double t) { return kInput.at(t); })});
  // With 6 grid points per parameter the grid holds b = 1, 6.8, ..., Ti = 0, 4, 8, ... and K = 0, 2, 4, ...
  const std::vector<double> curve = sample(times_, [](double t) { return transitReference(t, 6.8, 8, 4); });
  setOptimisation(13, 6, 200);
  ASSERT_TRUE(init(13));
  const auto out = compute(13, curve);
  // The decay after Ti lasts a fraction of a second and carries little of the area, so its rate is
  // weakly determined (the impulse is sampled no finer than 0.1 s); the plateau is not.
  EXPECT_GT(out[0].value, 1);
  EXPECT_LT(out[0].value, 12.6);
  EXPECT_NEAR(out[1].value, 8, 0.5);
  EXPECT_LT(relativeError(out[2].value, 4), 0.05) << out[2].value;
  EXPECT_LT(out[3].value, 0.01 * *std::max_element(curve.begin(), curve.end()));
  // A curve below 0.01 everywhere fails without a fit.
  for (const DEMPOUT& r : compute(13, std::vector<double>(times_.size(), 0.001))) EXPECT_EQ(r.value, kVoid);
}

TEST_F(CurveModelTest, FlowExtractionModel) {
  setTimes(range(0, 2, 61));
  setInputs({sample(times_, [](double t) { return kInput.at(t); })});
  ASSERT_TRUE(init(12));
  // A curve that never reaches 0.01 gives no values.
  for (const DEMPOUT& r : compute(12, std::vector<double>(times_.size(), 0.005))) EXPECT_EQ(r.value, kVoid);
  // A tissue curve of the model's own form: the input scaled by the flow during the transit.
  const double F = 0.02;
  const std::vector<double> curve = sample(times_, [&](double t) { return F * kInput.convolved(t, 0.0); });
  const auto out = compute(12, curve);
  ASSERT_NE(out[4].value, kVoid);
  double scale = 0;
  for (double v : curve) scale = std::max(scale, v);
  EXPECT_LT(out[4].value, 0.05 * scale * std::sqrt(times_.back()));
  // More than 256 points are refused.
  setTimes(range(0, 1, 257));
  setInputs({sample(times_, [](double t) { return kInput.at(t); })});
  EXPECT_FALSE(init(12));
  EXPECT_EQ(lastMessage(), L"M12_ModelInit : Number of timepoints exceeds the maximum allowed for this model");
  setTimes(range(0, 1, 256));
  setInputs({sample(times_, [](double t) { return kInput.at(t); })});
  EXPECT_TRUE(init(12));
}

}  // namespace
