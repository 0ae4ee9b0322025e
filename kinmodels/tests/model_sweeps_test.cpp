// Sweeps of the grid-and-simplex models fed by an input function or a reference curve (types 10,
// 14, 15 and 49) and of the kurtosis model's grid search (type 28, method 3) over a 4 x 4 grid of
// each model's two main parameters, with the catalogue's defaults unless a test says otherwise.
// Models that convert the curve (10, 15, 49) are swept in the concentration domain and in the
// signal domain of the spoiled gradient-echo conversion; type 14 fits the measured curve as it is
// and type 28 fits diffusion-weighted signals, so they have one domain.
//
// The curves are Runge-Kutta integrations of each model's equations (or closed forms) written
// here, driven by the population input in closed form, never the models' own builders. A fit has
// reached the global minimum when its residual is no larger than the residual of the true
// parameters, that is of the reference driven by the input as the model sees it (linear between
// the samples), allowing 2 % (plus a floor far below any false minimum, for rounding). Parameters
// are checked where the data determine them, with the tolerance each test states.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "KinmodelsApi.h"
#include "ModelTestHost.h"

namespace {

using namespace modeltest;

constexpr double kBaseline = 1000;  // pre-contrast signal

// The population input in closed form (bolus 30 s after the start: the conversion's baseline
// frames come before it).
double input(double t) { return populationInput(t); }

// First-order filter of an input: C' = k (A - C) (k per second).
std::vector<double> filtered(const std::vector<double>& times, double k, const InputCurve& a) {
  return integrate(
      times, 0.02, 1, [&](double t, const double* y, double* dy) { dy[0] = k * (a(t) - y[0]); },
      [](const double* y) { return y[0]; });
}

class ModelSweepTest : public ModelTest {
 protected:
  // Every fit's residual against the true parameters' (both in the units the model reports).
  static void expectGlobalMinimum(double fitResidual, double truthResidual, double floor) {
    EXPECT_LE(fitResidual, 1.02 * truthResidual + floor) << "truth's residual " << truthResidual;
  }
  // The curves in the domain asked for (the spoiled gradient-echo signal of a 1000 baseline, with
  // the host's conversion connected), or as they are.
  std::vector<std::vector<double>> inDomain(std::vector<std::vector<double>> curves, bool signal) {
    if (signal) {
      connectSpoiledGradientEcho();
      for (auto& c : curves) c = spgrSignal(c, kBaseline);
    } else {
      connectHost(recorder_, callbacks_);
    }
    return curves;
  }
};

// Type 14 (general kinetic model with an exchange time that does not enter the curve), catalogue
// defaults (Ktrans and kep grids of 20 points from 0.01 to 10 /min), Ktrans 0.1 to 1.2 /min by ve
// 0.15 to 0.6 (kep 0.17 to 8 /min), 10 min at 2 s. The grid's step (0.53 /min) is coarse for the
// slow curves: before the global search was added, 6 of these 16 fits ended in another basin with
// residuals 20 to 1,600 times the truth's (Ktrans 0.1, ve 0.15 gave Ktrans 0.46, ve 0.11): false
// minima, not a trade-off with the exchange time, which the curve does not depend on. Tofts curves
// are the model's own form, so Ktrans and ve come within 2 % (the sampled input shifts them by up
// to 1.3 % at the fastest exchange); the exchange time stays within one of its steps of "Tau_Min".
TEST_F(ModelSweepTest, WaterExchangeModelReachesTheGlobalMinimum) {
  setTimes(range(0, 2, 301));
  const std::vector<double> samples = sample(times_, input);
  setInputs({samples});
  const InputCurve seen = sampledInput(times_, samples);
  std::vector<std::pair<double, double>> cases;
  std::vector<std::vector<double>> curves, truths;
  for (double ktrans : {0.1, 0.3, 0.6, 1.2})
    for (double ve : {0.15, 0.25, 0.4, 0.6}) {
      cases.emplace_back(ktrans, ve);
      curves.push_back(toftsReference(times_, ktrans / 60, ve));
      truths.push_back(toftsReference(times_, ktrans / 60, ve, 0, 0.05, seen));
    }
  ASSERT_TRUE(init(14));
  const auto out = computeMany(14, curves);
  for (size_t i = 0; i < cases.size(); ++i) {
    const auto [ktrans, ve] = cases[i];
    SCOPED_TRACE(testing::Message() << "Ktrans " << ktrans << " ve " << ve);
    expectGlobalMinimum(out[i][3].value, rmse(truths[i], curves[i]), 1e-9);
    EXPECT_LT(relativeError(out[i][0].value, ktrans), 0.02) << out[i][0].value;
    EXPECT_LT(relativeError(out[i][1].value, ve), 0.02) << out[i][1].value;
    EXPECT_NEAR(out[i][2].value, 0.05, 0.01);
  }
}

// Type 10 (first-order filter of the input, rate k = RPF / vACx), catalogue defaults (20 grid
// points per parameter on [0.001, 5]), RPF 0.005 to 0.05 by vACx 0.2 to 2 (k 0.0025 to 0.25 /s),
// 10 min at 2 s. Only the ratio reaches the curve (pairs of one ratio give one cost), so the ratio
// is checked, within 2 %: the curve is the model's own form.
TEST_F(ModelSweepTest, RpfIntegrationReachesTheGlobalMinimumInBothDomains) {
  setTimes(range(0, 2, 301));
  const std::vector<double> samples = sample(times_, input);
  setInputs({samples});
  const InputCurve seen = sampledInput(times_, samples);
  std::vector<std::pair<double, double>> cases;
  std::vector<std::vector<double>> concentrations, truthConcentrations;
  for (double rpf : {0.005, 0.01, 0.02, 0.05})
    for (double vacx : {0.2, 0.5, 1.0, 2.0}) {
      cases.emplace_back(rpf, vacx);
      concentrations.push_back(filtered(times_, rpf / vacx, input));
      truthConcentrations.push_back(filtered(times_, rpf / vacx, seen));
    }
  for (bool signal : {false, true}) {
    SCOPED_TRACE(signal ? "signal" : "concentration");
    const auto curves = inDomain(concentrations, signal), truths = inDomain(truthConcentrations, signal);
    ASSERT_TRUE(init(10));
    const auto out = computeMany(10, curves);
    for (size_t i = 0; i < cases.size(); ++i) {
      const auto [rpf, vacx] = cases[i];
      SCOPED_TRACE(testing::Message() << "RPF " << rpf << " vACx " << vacx);
      expectGlobalMinimum(out[i][2].value, rmse(truths[i], curves[i]), 1e-9 * (signal ? kBaseline : 1));
      EXPECT_LT(relativeError(out[i][0].value / out[i][1].value, rpf / vacx), 0.02)
          << out[i][0].value << " / " << out[i][1].value;
    }
  }
}

// Type 15 (one exchange compartment fed by a mixture of an arterial and a portal input), Ktrans
// 0.1 to 1 /min by ve 0.1 to 0.6 at an arterial fraction of 0.3, 10 min at 2 s, on the box of the
// model's worked example widened to hold every kep of the grid (K 0.0005 to 0.025 /s, kep 0.001
// to 0.2 /s). The portal input is the population input 15 s later and 30 % lower. Ktrans and ve
// within 2 % and the fraction within 0.02: the curve is the model's own form.
TEST_F(ModelSweepTest, DualInputExchangeReachesTheGlobalMinimumInBothDomains) {
  setTimes(range(0, 2, 301));
  const auto portal = [](double t) { return 0.7 * populationInput(t, 45); };
  const std::vector<double> arterialSamples = sample(times_, input), portalSamples = sample(times_, portal);
  setInputs({arterialSamples, portalSamples});
  const InputCurve arterialSeen = sampledInput(times_, arterialSamples), portalSeen = sampledInput(times_, portalSamples);
  constexpr double kFraction = 0.3;
  const auto curveOf = [&](double ktrans, double ve, const InputCurve& ca, const InputCurve& cp) {
    const double K = ktrans / 60, k = K / ve;
    return integrate(
        times_, 0.02, 1,
        [&](double t, const double* y, double* dy) { dy[0] = K * (kFraction * ca(t) + (1 - kFraction) * cp(t)) - k * y[0]; },
        [](const double* y) { return y[0]; });
  };
  std::vector<std::pair<double, double>> cases;
  std::vector<std::vector<double>> concentrations, truthConcentrations;
  for (double ktrans : {0.1, 0.3, 0.6, 1.0})
    for (double ve : {0.1, 0.2, 0.4, 0.6}) {
      cases.emplace_back(ktrans, ve);
      concentrations.push_back(curveOf(ktrans, ve, input, portal));
      truthConcentrations.push_back(curveOf(ktrans, ve, arterialSeen, portalSeen));
    }
  setParms(15, {{0, 0.0005}, {1, 0.025}, {2, 0.001}, {3, 0.2}});
  for (bool signal : {false, true}) {
    SCOPED_TRACE(signal ? "signal" : "concentration");
    const auto curves = inDomain(concentrations, signal), truths = inDomain(truthConcentrations, signal);
    ASSERT_TRUE(init(15));
    const auto out = computeMany(15, curves);
    for (size_t i = 0; i < cases.size(); ++i) {
      const auto [ktrans, ve] = cases[i];
      SCOPED_TRACE(testing::Message() << "Ktrans " << ktrans << " ve " << ve);
      expectGlobalMinimum(out[i][3].value, rmse(truths[i], curves[i]), 1e-9 * (signal ? kBaseline : 1));
      EXPECT_LT(relativeError(out[i][0].value, ktrans), 0.02) << out[i][0].value;
      EXPECT_LT(relativeError(out[i][1].value, ve), 0.02) << out[i][1].value;
      EXPECT_NEAR(out[i][2].value, kFraction, 0.02);
    }
  }
}

// Type 49 (Tofts parameters relative to a reference region of Ktrans 0.15 /min and ve 0.12, the
// catalogue's values), catalogue defaults, Ktrans 0.05 to 0.5 /min by ve 0.1 to 0.5, 10 min at
// 2 s. The tissue and the reference are Tofts curves of one plasma input. The model sees the
// reference as linear between samples; its curve at the true parameters is then
// C = R Cr + D with D' = R (kep_RR - kep) Cr - kep D, R = Ktrans / Ktrans_RR, integrated here. Ktrans
// and ve within 2 %.
TEST_F(ModelSweepTest, ReferenceRegionReachesTheGlobalMinimumInBothDomains) {
  setTimes(range(0, 2, 301));
  constexpr double kRefKtrans = 0.15 / 60, kRefVe = 0.12;
  const std::vector<double> reference = toftsReference(times_, kRefKtrans, kRefVe);
  setInputs({reference});
  const InputCurve referenceSeen = sampledInput(times_, reference);
  std::vector<std::pair<double, double>> cases;
  std::vector<std::vector<double>> concentrations, truthConcentrations;
  for (double ktrans : {0.05, 0.1, 0.25, 0.5})
    for (double ve : {0.1, 0.2, 0.35, 0.5}) {
      cases.emplace_back(ktrans, ve);
      concentrations.push_back(toftsReference(times_, ktrans / 60, ve));
      const double ratio = ktrans / 60 / kRefKtrans, kep = ktrans / 60 / ve;
      truthConcentrations.push_back(integrate(
          times_, 0.02, 1,
          [&](double t, const double* y, double* dy) {
            dy[0] = ratio * (kRefKtrans / kRefVe - kep) * referenceSeen(t) - kep * y[0];
          },
          [](const double* y) { return y[0]; }));
      for (size_t k = 0; k < times_.size(); ++k) truthConcentrations.back()[k] += ratio * reference[k];
    }
  for (bool signal : {false, true}) {
    SCOPED_TRACE(signal ? "signal" : "concentration");
    const auto curves = inDomain(concentrations, signal), truths = inDomain(truthConcentrations, signal);
    ASSERT_TRUE(init(49));
    const auto out = computeMany(49, curves);
    for (size_t i = 0; i < cases.size(); ++i) {
      const auto [ktrans, ve] = cases[i];
      SCOPED_TRACE(testing::Message() << "Ktrans " << ktrans << " ve " << ve);
      expectGlobalMinimum(out[i][2].value, rmse(truths[i], curves[i]), 1e-9 * (signal ? kBaseline : 1));
      EXPECT_LT(relativeError(out[i][0].value, ktrans), 0.02) << out[i][0].value;
      EXPECT_LT(relativeError(out[i][1].value, ve), 0.02) << out[i][1].value;
    }
  }
}

// Type 28 with its grid search (method 3, 5 grid points per parameter, budget 20000), D 0.5 to
// 2e-3 mm2/s by K 0.3 to 1.4, b 0 to 2000 s/mm2 in steps of 200, S0 1000: the closed form is the
// model's own, so D within 0.5 % and K within 1 % with a residual below 1e-6 of S0.
TEST_F(ModelSweepTest, KurtosisGridSearchReachesTheGlobalMinimum) {
  const std::vector<double> b = range(0, 200, 11);
  setTimes(range(0, 1, int(b.size())));
  api().DIDU_DefineBfactorProfile(b.data(), int(b.size()));
  std::vector<std::pair<double, double>> cases;
  std::vector<std::vector<double>> curves;
  for (double d : {0.5e-3, 1e-3, 1.5e-3, 2e-3})
    for (double k : {0.3, 0.6, 1.0, 1.4}) {
      cases.emplace_back(d, k);
      curves.push_back(sample(b, [&](double x) { return 1000 * std::exp(-x * d + x * x * d * d * k / 6); }));
    }
  touch(28);
  api().DIDU_SetCurrentOptimization(28, 3, 5, 20000);
  ASSERT_TRUE(init(28));
  const auto out = computeMany(28, curves);
  for (size_t i = 0; i < cases.size(); ++i) {
    const auto [d, k] = cases[i];
    SCOPED_TRACE(testing::Message() << "D " << d << " K " << k);
    EXPECT_LT(relativeError(out[i][0].value, d), 0.005) << out[i][0].value;
    EXPECT_LT(relativeError(out[i][1].value, k), 0.01) << out[i][1].value;
    EXPECT_LT(out[i][2].value, 1e-3);
  }
}

}  // namespace
