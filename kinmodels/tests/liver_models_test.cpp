// Tests of the dual-input liver models (types 35 to 41) of the Kinmodels plug-in through its
// exports. The tissue curves are made here by Runge-Kutta integration of the dual-input uptake
// equations,
//   Ve dCe/dt = F (fa Ca + (1 - fa) Cv) - (F + Ki) Ce,  dCi/dt = Ki Ce,  C = Ve Ce + Ci,
// driven by continuous arterial and portal-venous inputs; the models never see this code.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "ModelTestHost.h"

namespace {

using namespace modeltest;

// A bolus (u/tau)^2 exp(-u/tau) from its arrival, and a slowly washing-out recirculation.
double bolus(double t, double arrival, double height, double tau) {
  const double u = (t - arrival) / tau;
  return u <= 0 ? 0 : height * u * u * std::exp(2 - u);
}
double tail(double t, double arrival) {
  const double u = t - arrival;
  return u <= 0 ? 0 : 1.2 * (1 - std::exp(-u / 25)) * std::exp(-u / 900);
}
// The arterial input, whose bolus arrives at `arrival` seconds, and the portal-venous one.
double arterial(double t, double arrival = 8) { return bolus(t, arrival, 6, 3) + tail(t, arrival); }
double venous(double t) { return bolus(t, 16, 2.5, 7) + tail(t, 16); }

struct Liver {
  double flow;      // ml/min/100ml
  double fa;        // arterial fraction
  double ve;        // fraction
  double ki;        // 1/100/min (ml/min/100ml)
};

// How a data set is acquired: the frame spacing and when the arterial bolus arrives in the
// arterial input; the tissue sees that input `arterialDelay` seconds later.
// `leadIn` seconds of nothing come before everything (so that a signal conversion's baseline frames
// precede the boluses).
struct Acquired {
  double frame = 2;
  double arterialArrival = 8;
  double arterialDelay = 0;
  double leadIn = 0;
};

// The tissue curve driven by the inputs ca and cv as they reach it.
std::vector<double> liverCurveOf(const std::vector<double>& times, const Liver& p, const InputCurve& ca,
                                 const InputCurve& cv) {
  const double F = p.flow / 6000, Ki = p.ki / 6000, fa = p.fa, Ve = p.ve;
  return integrate(
      times, 0.05, 2,
      [&](double t, const double* y, double* dy) {
        dy[0] = (F * (fa * ca(t) + (1 - fa) * cv(t)) - (F + Ki) * y[0]) / Ve;
        dy[1] = Ki * y[0];
      },
      [=](const double* y) { return Ve * y[0] + y[1]; });
}

std::vector<double> liverCurve(const std::vector<double>& times, const Liver& p, const Acquired& a = {}) {
  const double arrival = a.arterialArrival, delay = a.arterialDelay, lead = a.leadIn;
  return liverCurveOf(
      times, p, [=](double t) { return arterial(t - lead - delay, arrival); },
      [=](double t) { return venous(t - lead); });
}

enum { kFlow, kArterialFlow, kVenousFlow, kFa, kVe, kEmtt, kKi, kFi, kArterialDelay, kVenousDelay, kResidual };

class LiverModelTest : public ModelTest {
 protected:
  void makeData(const Liver& truth, double last = 600, const Acquired& a = {}) {
    setTimes(range(0, a.frame, int(last / a.frame) + 1));
    setInputs({sample(times_, [&](double t) { return arterial(t - a.leadIn, a.arterialArrival); }),
               sample(times_, [&](double t) { return venous(t - a.leadIn); })});
    tissue_ = liverCurve(times_, truth, a);
  }
  std::vector<double> tissue_;
};

constexpr Liver kTruth{100, 0.25, 0.25, 3};

// Types 36 to 38 take the arterial delay from the bolus arrivals: the tissue's bolus start minus
// the arterial input's, each the last frame before the curve passes 10 % of its rise. The tissue
// integrates its inputs, so it passes its 10 % level about 3 s after the arterial input passes its
// own (11.5 s against 8.3 s on these data); the rule gives the tissue's true arterial delay only
// when both crossings fall in the same frame. On 4 s frames with the arterial bolus arriving at
// 7.5 s they do, so the delay found is the data's own: 0, or 4 s when the tissue sees the arterial
// input 4 s late. (On 2 s frames with the bolus arriving at 8 s the crossings lie two frames
// apart: the rule shifts the arterial input 4 s too late and F comes out about 11 % low.)
const Acquired kAligned{4, 7.5, 0};
const Acquired kAlignedLate{4, 7.5, 4};

// Every model of the family recovers the flow, Ve and Ki within 10 % on curves integrated from
// the dual-input equations, with the arterial fraction close. Types 35 and 41 fit their delays
// over grids that end at 0 here. Type 37 takes the arterial flow from the first pass, the tissue
// at the frame before the first pass ends (36 s) over the integral of the arterial input: by then
// the portal-venous input has flowed into the tissue for 20 s, so Fa comes out about a third too
// high and fa with it; the fitted venous flow makes up F.
TEST_F(LiverModelTest, FitsRecoverFlowArterialFractionVolumeAndUptake) {
  const struct { int type; Acquired data; double veScale, faTolerance; } cases[] = {
      {35, kAligned, 100, 0.025},     {41, kAligned, 1, 0.025},       {36, kAligned, 100, 0.025},
      {38, kAligned, 100, 0.025},     {37, kAligned, 100, 0.15},      {36, kAlignedLate, 100, 0.025},
      {38, kAlignedLate, 100, 0.025}, {37, kAlignedLate, 100, 0.15},
  };
  setParms(38, {{3, 50}, {4, 0}, {6, 10000}});
  setParms(41, {{4, 0}, {5, 0}, {6, 10000}});
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << ", arterial delay " << c.data.arterialDelay);
    makeData(kTruth, 600, c.data);
    ASSERT_TRUE(init(c.type));
    const auto out = compute(c.type, tissue_);
    EXPECT_EQ(out[kArterialDelay].value, c.data.arterialDelay);
    EXPECT_EQ(out[kVenousDelay].value, 0);
    EXPECT_LT(relativeError(out[kFlow].value, kTruth.flow), 0.1) << out[kFlow].value;
    EXPECT_NEAR(out[kFa].value, kTruth.fa, c.faTolerance);
    EXPECT_LT(relativeError(out[kVe].value / c.veScale, kTruth.ve), 0.1) << out[kVe].value;
    EXPECT_LT(relativeError(out[kKi].value, kTruth.ki), 0.1) << out[kKi].value;
    EXPECT_NEAR(out[kArterialFlow].value, out[kFlow].value * out[kFa].value, 1e-9 * out[kFlow].value);
    EXPECT_NEAR(out[kArterialFlow].value + out[kVenousFlow].value, out[kFlow].value, 1e-9 * out[kFlow].value);
    // The mean transit time of the extracellular space is Ve / (F + Ki) in seconds, for every type.
    const double F = out[kFlow].value / 6000, Ki = out[kKi].value / 6000, Ve = out[kVe].value / c.veScale;
    EXPECT_NEAR(out[kEmtt].value, Ve / (F + Ki), 1e-9 * out[kEmtt].value);
    EXPECT_NEAR(out[kFi].value, Ki / (Ki + F), 1e-12);
  }
}

// The grid-and-simplex fits of the family over a 4 x 4 grid of their two main parameters, flow 40
// to 140 ml/min/100ml (inside the flow box) by uptake Ki 0.5 to 10 ml/min/100ml (fa 0.25, Ve 0.25),
// on the aligned 4 s frames, with the settings of the test above, in the concentration domain and
// in the signal domain of the spoiled gradient-echo conversion (the models convert the curve and
// fit concentrations; the data begin with 24 s of baseline for the conversion).
//
// Types 35 and 41 search their delays over grids that end at 0: flow, Ve and Ki within 10 % (Ki
// within 0.1 ml/min/100ml + 10 %) and fa within 0.025 for every curve. Type 38 takes its arterial
// delay from the bolus arrivals instead; the rule's crossing frames (10 % of each curve's rise) lie
// one frame apart for the slow low-flow curves and for the fast-uptake curve at flow 70, so it
// shifts the arterial input 4 s late there and fa comes out near 0.31 to make up for it. That is
// the rule's answer, not a false minimum: the fit's residual is at or below the residual of the
// true parameters with the delays the model chose (the reference curve driven by the inputs as the
// model sees them, linear between samples and shifted by those delays), allowing 2 %. Where the
// delay found is the data's (0), type 38 meets the tolerances of types 35 and 41; where it is one
// frame late, flow, Ve and Ki are still within 10 %.
TEST_F(LiverModelTest, SimplexFitsRecoverTheParametersOverFlowAndUptake) {
  setParms(38, {{3, 50}, {4, 0}, {6, 10000}});
  setParms(41, {{4, 0}, {5, 0}, {6, 10000}});
  Acquired acquired = kAligned;
  acquired.leadIn = 24;
  makeData(kTruth, 624, acquired);
  std::vector<Liver> truths;
  std::vector<std::vector<double>> concentrations;
  for (double flow : {40.0, 70.0, 100.0, 140.0})
    for (double ki : {0.5, 1.0, 3.0, 10.0}) {
      truths.push_back({flow, 0.25, 0.25, ki});
      concentrations.push_back(liverCurve(times_, truths.back(), acquired));
    }
  const InputCurve arterialSeen = sampledInput(times_, std::vector<double>(ifuncs_[0].values, ifuncs_[0].values + times_.size()));
  const InputCurve venousSeen = sampledInput(times_, std::vector<double>(ifuncs_[1].values, ifuncs_[1].values + times_.size()));
  for (bool signalDomain : {false, true}) {
    SCOPED_TRACE(signalDomain ? "signal" : "concentration");
    std::vector<std::vector<double>> curves = concentrations;
    if (signalDomain) {
      modeltest::connectSpoiledGradientEcho();
      for (auto& c : curves) c = spgrSignal(c, 1000);
    }
    for (const auto& [type, veScale] : {std::pair{35, 100.0}, std::pair{41, 1.0}, std::pair{38, 100.0}}) {
      SCOPED_TRACE(testing::Message() << "type " << type);
      ASSERT_TRUE(init(type));
      const auto out = computeMany(type, curves);
      for (size_t i = 0; i < truths.size(); ++i) {
        const Liver& t = truths[i];
        SCOPED_TRACE(testing::Message() << "flow " << t.flow << " Ki " << t.ki);
        EXPECT_LT(relativeError(out[i][kFlow].value, t.flow), 0.1) << out[i][kFlow].value;
        EXPECT_LT(relativeError(out[i][kVe].value / veScale, t.ve), 0.1) << out[i][kVe].value;
        EXPECT_LE(std::fabs(out[i][kKi].value - t.ki), 0.1 + 0.1 * t.ki) << out[i][kKi].value;
        EXPECT_EQ(out[i][kVenousDelay].value, 0);
        const double ta = out[i][kArterialDelay].value;
        if (type != 38) {
          EXPECT_EQ(ta, 0);
        } else {
          EXPECT_TRUE(ta == 0 || ta == acquired.frame) << ta;
          const std::vector<double> truthSeen = liverCurveOf(
              times_, t, [&](double s) { return arterialSeen(s - ta); }, venousSeen);
          const double atTruth = integralL2(truthSeen, concentrations[i], times_) * std::sqrt(times_.back());
          EXPECT_LE(out[i][kResidual].value, 1.02 * atTruth + 1e-6) << "fa " << out[i][kFa].value;
          if (ta != 0) continue;
        }
        EXPECT_NEAR(out[i][kFa].value, t.fa, 0.025);
      }
    }
    modeltest::connectHost(recorder_, callbacks_);
  }
}

// Model 41 tries whole-second arterial delays up to the maximum (2.5: 0, 1 and 2) and keeps the
// best; data whose arterial input arrives 2 s late give 2.
TEST_F(LiverModelTest, DelayGridFindsTheArterialDelay) {
  const Liver p = kTruth;
  makeData(p, 400, {2, 8, 2});
  setParms(41, {{4, 2.5}, {5, 0}, {6, 10000}});
  ASSERT_TRUE(init(41));
  std::vector<double> fit;
  const auto out = compute(41, tissue_, &fit);
  EXPECT_EQ(out[kArterialDelay].value, 2);
  EXPECT_EQ(out[kVenousDelay].value, 0);
  EXPECT_LT(relativeError(out[kFlow].value, p.flow), 0.1);
  for (size_t i = 0; i < tissue_.size(); i += 20) EXPECT_NEAR(fit[i], tissue_[i], 0.02 * tissue_.back());
  // An analysis length of 100 s compares only the frames before it: the rest of the fitted curve
  // stays "no value".
  setParms(41, {{4, 0}, {5, 0}, {6, 100}});
  ASSERT_TRUE(init(41));
  compute(41, tissue_, &fit);
  EXPECT_NE(fit[49], kVoid);
  EXPECT_EQ(fit[50], kVoid);
}

// Curves computed from many threads at once give the same bits as one after another.
TEST_F(LiverModelTest, ParallelCurvesMatchSequentialOnes) {
  makeData(kTruth, 300);
  setParms(41, {{4, 1}, {5, 0}, {6, 10000}});
  ASSERT_TRUE(init(41));
  std::vector<std::vector<double>> curves;
  for (int c = 0; c < 8; ++c) {
    curves.push_back(tissue_);
    for (double& v : curves.back()) v *= 0.5 + 0.1 * c;
  }
  const int flags[12] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
  api().DIDU_SetParmReq(flags, 12);
  const auto run = [&](int c, std::vector<DEMPOUT>& out) {
    out.assign(11, DEMPOUT{});
    const double* curve[1] = {curves[c].data()};
    api().DIDU_ComputeParmArray(41, curve, 1, nullptr, out.data(), nullptr, 0);
  };
  std::vector<std::vector<DEMPOUT>> sequential(8), parallel(8);
  for (int c = 0; c < 8; ++c) run(c, sequential[c]);
  std::vector<std::thread> threads;
  for (int c = 0; c < 8; ++c) threads.emplace_back([&, c] { run(c, parallel[c]); });
  for (auto& t : threads) t.join();
  for (int c = 0; c < 8; ++c)
    for (int i = 0; i < 11; ++i) EXPECT_EQ(std::memcmp(&sequential[c][i], &parallel[c][i], sizeof(DEMPOUT)), 0);
}

// The first-pass and bolus-arrival values that types 37 and 38 display for a single region curve
// are collected and shown once when the cycle closes; in a map run they are not shown at all, so
// no box waits for the user per voxel.
TEST_F(LiverModelTest, DiagnosticValuesNeverBlockAMap) {
  makeData(kTruth, 300);
  setParms(38, {{3, 50}, {4, 0}, {6, 10000}});
  for (int type : {37, 38}) {
    SCOPED_TRACE(type);
    recorder_.texts.clear();
    ASSERT_TRUE(init(type));
    for (int c = 0; c < 3; ++c) compute(type, tissue_);
    api().DIDU_ModelClose(type);
    EXPECT_TRUE(recorder_.texts.empty());

    api().DIDU_SetCalcMode(3);
    ASSERT_TRUE(init(type));
    compute(type, tissue_);
    EXPECT_TRUE(recorder_.texts.empty()) << "nothing is shown while the curve is computed";
    api().DIDU_ModelClose(type);
    api().DIDU_SetCalcMode(0);
    ASSERT_EQ(recorder_.texts.size(), 1u);
    EXPECT_EQ(recorder_.texts[0].rfind(type == 37 ? L"Fa = " : L"AifBAt = ", 0), 0u) << recorder_.texts[0];
  }
}

TEST_F(LiverModelTest, InitChecksAndQuestions) {
  makeData(kTruth, 300);
  // The venous peak before the arterial one: the question is asked once per init; No stops it.
  setInputs({sample(times_, venous), sample(times_, [](double t) { return arterial(t); })});
  for (int type : {35, 36, 37, 38, 39, 41}) {
    SCOPED_TRACE(type);
    recorder_.texts.clear();
    recorder_.answers = {7};  // IDNO
    EXPECT_FALSE(init(type));
    ASSERT_EQ(recorder_.texts.size(), 1u);
    EXPECT_EQ(recorder_.texts[0], L"Arterial peak seem to happen later than one for vein.\nProceed anyway?");
  }
  setInputs({sample(times_, [](double t) { return arterial(t); }), sample(times_, venous)});
  const struct { int type; int index; double value; const wchar_t* text; } cases[] = {
      {35, 6, 3, L"M35_ModelInit : Specify L1 or L2 metric only"},
      {39, 5, 0, L"M39_ModelInit : Specify L1 or L2 metric only"},
      {41, 7, 2.6, L"M41_ModelInit : Specify L1 or L2 metric only"},
      {38, 7, 2, L"M38_ModelInit : Specify 1 for Linear, or 0 for Log concentration"},
      {39, 1, 1000, L"M39_ModelInit : Invalid Monotail start"},
      {39, 1, 0, L"M39_ModelInit : Invalid Monotail start"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    setParms(c.type, {{c.index, c.value}});
    EXPECT_FALSE(init(c.type));
    EXPECT_EQ(lastMessage(), c.text);
    api().DIDU_DefaultFreeParms(c.type);
  }
  // Timing of the inputs other than the frames'.
  ifuncs_[1].times[3] += 0.5;
  EXPECT_FALSE(init(36));
  EXPECT_EQ(lastMessage(), L"Input function 1 timing info differs from the voxel data");
  // The retired variant refuses once, at init.
  recorder_.texts.clear();
  EXPECT_FALSE(init(40));
  ASSERT_EQ(recorder_.texts.size(), 1u);
  EXPECT_EQ(recorder_.texts[0], L"Function Unavailable # since Build 254");
}

// The tail model fits F and Ve on the tail with the mean input; it reports no arterial split and no
// delays, and Ve as a fraction.
TEST_F(LiverModelTest, TailModelReportsItsFixedOutputs) {
  makeData(kTruth);
  setParms(39, {{1, 200}});
  ASSERT_TRUE(init(39));
  const auto out = compute(39, tissue_);
  ASSERT_NE(out[kFlow].value, kVoid);
  for (int i : {kArterialFlow, kVenousFlow, kFa, kArterialDelay, kVenousDelay}) EXPECT_EQ(out[i].value, 0) << i;
  EXPECT_GT(out[kVe].value, 0);
  EXPECT_LT(out[kVe].value, 1);
}

}  // namespace
