// Tests of the numerics against closed forms and scipy references (computed once with scipy 1.10
// quad / numpy lstsq and written in below).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "DynExp.h"
#include "TwkMem.h"
#include "TwkTypes.h"
#include "numerics/CurveStats.h"
#include "numerics/CurveTools.h"
#include "numerics/IntervalArith.h"
#include "numerics/LinearAlgebra.h"
#include "numerics/Optimize.h"
#include "numerics/PwlCalculus.h"

namespace {

// Relative closeness with an absolute floor.
void expectClose(double actual, double expected, double rel, double abs = 1e-300) {
  EXPECT_LE(std::fabs(actual - expected), rel * std::fabs(expected) + abs) << "actual " << actual << " expected "
                                                                           << expected;
}

struct FreeOnExit {
  double* p;
  ~FreeOnExit() { pf_free(&p); }
};

// ------------------------------------------------------------------------------------------------
// Piecewise-linear calculus
// ------------------------------------------------------------------------------------------------

TEST(NegExpIntegral, LinearInputMatchesClosedFormOverRatesAndTimes) {
  // Cp(t) = t: J(t) = t/k - (1 - e^-kt)/k^2, exact for a piecewise-linear integrator on any grid.
  const std::vector<double> t = {0, 0.25, 1, 2.5, 7, 13, 30, 60, 100};
  std::vector<double> cp(t);
  const double rates[] = {0.0, 1e-9, 1e-5, 1e-3, 0.02, 0.3, 1.0, 5.0, 80.0};
  for (double k : rates) {
    SCOPED_TRACE(k);
    std::vector<double> out(t.size());
    PR_IntegralFunc_PWL_NegExp(k, cp.data(), t.data(), int(t.size()), out.data());
    for (size_t i = 0; i < t.size(); ++i) {
      const long double T = t[i], K = k, z = K * T;
      long double expected;
      if (z < 1e-3L) {
        // t^2/2 - k t^3/6 + k^2 t^4/24 - k^3 t^5/120: the closed form cancels badly here.
        expected = T * T / 2 - K * T * T * T / 6 + K * K * T * T * T * T / 24 - K * K * K * T * T * T * T * T / 120;
      } else {
        expected = (z + std::expm1(-z)) / (K * K);
      }
      expectClose(out[i], double(expected), 1e-12, 1e-15);
    }
  }
}

TEST(NegExpIntegral, SingleIntervalWeightsHoldFullPrecisionAcrossTheSeriesBounds) {
  // One interval of length 2 at rate z / 2: a constant 1 integrates to 2 phi1(z) and a line from 1
  // down to 0 to 2 phi2(z), phi1 = (1 - e^-z) / z, phi2 = (1 - e^-z (1 + z)) / z^2. The rates sit on
  // both sides of every change between series lengths and the closed form, and both signs.
  const auto phi1 = [](long double z) { return z == 0 ? 1.0L : -std::expm1(-z) / z; };
  const auto phi2 = [](long double z) {
    if (std::fabs(z) >= 2) return (-std::expm1(-z) - z * std::exp(-z)) / (z * z);
    long double sum = 0, power = 1, factorial = 2;  // sum over p >= 2 of (-z)^(p-2) (p - 1) / p!
    for (int p = 2; p < 45; ++p) {
      sum += (p % 2 == 0 ? 1 : -1) * (p - 1) / factorial * power;
      power *= z;
      factorial *= p + 1;
    }
    return sum;
  };
  const double rates[] = {0,      1e-12, -1e-9, 1e-6,    0.0155, 0.015625, 0.0157, -0.0157, 0.1,    0.125,
                          0.1251, -0.13, 0.3,   0.49999, 0.5,    -0.5,     0.75,   0.99999, 1.0,    -1.0,
                          1.00001, 3,    -3,    30,      700};
  const double t[] = {0, 2};
  for (double z : rates) {
    SCOPED_TRACE(z);
    const double constant[] = {1, 1}, falling[] = {1, 0};
    double out[2];
    PR_IntegralFunc_PWL_NegExp(z / 2, constant, t, 2, out);
    expectClose(out[1], double(2 * phi1(z)), 1e-15);
    PR_IntegralFunc_PWL_NegExp(z / 2, falling, t, 2, out);
    expectClose(out[1], double(2 * phi2(z)), 1e-15);
  }
}

TEST(NegExpIntegral, SignChangingCurveMatchesScipyQuad) {
  const std::vector<double> t = {0, 1.5, 3, 4, 7, 9.5, 12, 20};
  const std::vector<double> v = {0, 4.2, -1.3, 2.0, 2.0, -0.5, 3.1, 0.7};
  const struct {
    double k;
    std::vector<double> ref;
  } cases[] = {
      {0.05, {0, 3.0727046879792397, 4.8964489595412637, 5.0124517038426122, 9.8859381059403955, 10.425672620413444,
              12.343808709448792, 20.276054043886482}},
      {0.7, {0, 2.2853585663494593, 1.7073752820194794, 1.2368863077235746, 2.6587320272474706, 0.93741127899142529,
             2.2875004275981166, 1.6020635109965051}},
      {3.0, {0, 1.0923450211452312, -0.033869551499539588, 0.33814338901819468, 0.66662612367333396,
             -0.055617031798156989, 0.87348324664991417, 0.26666666665937383}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.k);
    std::vector<double> out(t.size());
    PR_IntegralFunc_PWL_NegExp(c.k, v.data(), t.data(), int(t.size()), out.data());
    for (size_t i = 0; i < t.size(); ++i) expectClose(out[i], c.ref[i], 1e-9, 1e-11);

    // The interval form encloses the integral for every rate of a box around k, and is tight at a
    // degenerate box.
    std::vector<INTERVAL> box(t.size()), point(t.size());
    ASSERT_TRUE(PR_IntegralFuncUniX_PWL_NegExp(INTERVAL{c.k * 0.8, c.k * 1.3}, v.data(), t.data(), int(t.size()),
                                               box.data()));
    ASSERT_TRUE(PR_IntegralFuncUniX_PWL_NegExp(IntervalPoint(c.k), v.data(), t.data(), int(t.size()), point.data()));
    for (int s = 0; s <= 20; ++s) {
      const double k = c.k * (0.8 + 0.5 * s / 20.0);
      PR_IntegralFunc_PWL_NegExp(k, v.data(), t.data(), int(t.size()), out.data());
      for (size_t i = 0; i < t.size(); ++i) {
        EXPECT_LE(box[i].lo, out[i]);
        EXPECT_GE(box[i].hi, out[i]);
      }
    }
    for (size_t i = 0; i < t.size(); ++i) {
      EXPECT_LE(point[i].lo, c.ref[i] + 1e-9);
      EXPECT_GE(point[i].hi, c.ref[i] - 1e-9);
      EXPECT_LE(point[i].hi - point[i].lo, 1e-10);
    }
  }
}

TEST(NegExpIntegral, AliasedOutputAndHugeRate) {
  std::vector<double> t = {0, 1, 2, 3};
  std::vector<double> v = {1, 1, 1, 1};
  PR_IntegralFunc_PWL_NegExp(1e6, v.data(), t.data(), 4, v.data());  // in place
  EXPECT_EQ(v[0], 0);
  for (int i = 1; i < 4; ++i) expectClose(v[i], 1e-6, 1e-9);  // (1 - e^-kt)/k
}

TEST(FirstOrderDE, ConstantInputApproachesSteadyState) {
  const std::vector<double> t = {0, 0.5, 2, 5, 11, 40};
  const double u = 3.5;
  const std::vector<double> input(t.size(), u);
  for (double r : {1e-7, 0.01, 0.4, 2.0, 30.0, -0.05}) {
    SCOPED_TRACE(r);
    std::vector<double> y(t.size());
    PR_SolveLinearFirstOrderDE_PWL(r, input.data(), t.data(), int(t.size()), y.data());
    for (size_t i = 0; i < t.size(); ++i) expectClose(y[i], u * -std::expm1(-r * t[i]) / r, 1e-12, 1e-14);
    // A start value decays on top of it.
    PR_SolveLinearFirstOrderDE_PWL(r, input.data(), t.data(), int(t.size()), y.data(), 2.0);
    for (size_t i = 0; i < t.size(); ++i)
      expectClose(y[i], 2.0 * std::exp(-r * t[i]) + u * -std::expm1(-r * t[i]) / r, 1e-12, 1e-14);
  }
}

TEST(PiecewiseIntegrals, MatchTrapezoidSumsAndClosedForms) {
  const std::vector<double> t = {1, 2, 4, 4.5, 8, 10};
  const std::vector<double> a = {0, 3, -2, 5, 1, 1};
  const std::vector<double> b = {1, 1, 1, 1, 1, 1};
  double trapezoid = 0;
  std::vector<double> running(t.size());
  for (size_t i = 1; i < t.size(); ++i) trapezoid += (t[i] - t[i - 1]) * (a[i] + a[i - 1]) / 2;
  EXPECT_DOUBLE_EQ(PR_CalculateIntegral(a.data(), t.data(), int(t.size())), trapezoid);
  PR_CalculateIntegral(a.data(), t.data(), int(t.size()), running.data());
  EXPECT_EQ(running[0], 0);
  EXPECT_DOUBLE_EQ(running.back(), trapezoid);

  std::vector<double> points;
  for (size_t i = 0; i < t.size(); ++i) points.insert(points.end(), {t[i], a[i]});
  EXPECT_DOUBLE_EQ(PR_IntegratePWL(points.data(), int(t.size())), trapezoid);
  EXPECT_EQ(PR_CalculateIntegral(a.data(), t.data(), 1), 0);

  // Exact integrals of (a - b)^2 and |a - b| against fine sampling of the same piecewise-linear curves.
  double l2 = 0, l1 = 0;
  const int steps = 200000;
  for (size_t i = 1; i < t.size(); ++i) {
    const double h = (t[i] - t[i - 1]) / steps;
    for (int s = 0; s < steps; ++s) {
      const double u = (s + 0.5) / steps;
      const double d = (a[i - 1] - b[i - 1]) * (1 - u) + (a[i] - b[i]) * u;
      l2 += d * d * h;
      l1 += std::fabs(d) * h;
    }
  }
  expectClose(PR_IntegrateDiffL2_PWL(a.data(), b.data(), t.data(), int(t.size())), l2, 1e-9);
  expectClose(PR_IntegrateDiffL1_PWL(a.data(), b.data(), t.data(), int(t.size())), l1, 1e-8);

  // One crossing: d goes from 1 to -1 over a unit interval, two triangles of area 1/4.
  const double ta[] = {0, 1}, da[] = {1, -1}, zero[] = {0, 0};
  EXPECT_DOUBLE_EQ(PR_IntegrateDiffL1_PWL(da, zero, ta, 2), 0.5);
  EXPECT_DOUBLE_EQ(PR_IntegrateDiffL2_PWL(da, zero, ta, 2), 1.0 / 3.0);
}

TEST(Convolution, LinearPiecesMatchClosedForms) {
  const double T = 10;
  const double ramp[] = {0, 0, T, T};    // f(t) = t on [0, T]
  const double flat[] = {0, 1, T, 1};    // g(t) = 1 on [0, T]
  const double box[] = {0, 1, 2, 1, 2, 0, 5, 0};  // 1 on [0, 2), then a jump to 0
  const std::vector<double> times = {0, 0.7, 2, 3.3, 9.9, 10, 10.5, 11.6, 12, 15, 21};
  std::vector<double> out(times.size());

  ASSERT_TRUE(PR_ConvolutePWL(ramp, 2, flat, 2, times.data(), int(times.size()), out.data()));
  for (size_t i = 0; i < times.size(); ++i) {
    const double t = times[i];
    const double expected = t <= T ? t * t / 2 : (t <= 2 * T ? (T * T - (t - T) * (t - T)) / 2 : 0);
    expectClose(out[i], expected, 1e-12, 1e-12);
  }
  ASSERT_TRUE(PR_ConvolutePWL(ramp, 2, ramp, 2, times.data(), int(times.size()), out.data()));
  for (size_t i = 0; i < times.size(); ++i)
    if (times[i] <= T) expectClose(out[i], times[i] * times[i] * times[i] / 6, 1e-12, 1e-12);

  // The jump: (f * box)(t) is the integral of f over [t - 2, t] within f's support.
  ASSERT_TRUE(PR_ConvolutePWL(ramp, 2, box, 4, times.data(), int(times.size()), out.data()));
  for (size_t i = 0; i < times.size(); ++i) {
    const double t = times[i];
    const double lo = std::max(0.0, t - 2), hi = std::min(T, t);
    const double expected = hi > lo ? (hi * hi - lo * lo) / 2 : 0;
    expectClose(out[i], expected, 1e-12, 1e-12);
  }
}

TEST(Convolution, JumpsAndSignChangesMatchScipyQuad) {
  const double f[] = {0, 0, 1, 2, 2.5, -1, 4, 0.5, 4, 3, 6, 1};
  const double g[] = {0, 1, 0.5, 3, 2, 0, 3, -1};
  const std::vector<double> times = {0.3, 1, 2.2, 3.7, 5, 6.4, 8, 9, 9.5};
  const double ref[] = {0.12599999999999997, 2.083333333333333, 3.097999999999999, -2.184333333333333,
                        6.1458333333333339, 3.5989999999999984, -0.83333333333333348, 0, 0};
  std::vector<double> out(times.size());
  ASSERT_TRUE(PR_ConvolutePWL(f, 6, g, 4, times.data(), int(times.size()), out.data()));
  for (size_t i = 0; i < times.size(); ++i) expectClose(out[i], ref[i], 1e-12, 1e-12);
  EXPECT_FALSE(PR_ConvolutePWL(f, 0, g, 4, times.data(), 1, out.data()));
}

// f(t) = K exp(-b (t - Ti)) after Ti, K before: the impulse of a transit model.
struct Transit {
  double b, ti, k;
};
double transitImpulse(void* context, double t, double* secondDerivative) {
  const auto* p = static_cast<const Transit*>(context);
  if (t <= p->ti) {
    *secondDerivative = 0;
    return p->k;
  }
  const double v = p->k * std::exp(-p->b * (t - p->ti));
  *secondDerivative = p->b * p->b * v;
  return v;
}

TEST(AnalyticInterpolation, StaysWithinToleranceAndKeepsBreakpoints) {
  Transit p{0.8, 3.0, 2.0};
  const double breaks[] = {0, 3.0, 20};
  for (double tolerance : {1e-2, 1e-4}) {
    SCOPED_TRACE(tolerance);
    int count = 0;
    double* pts = PR_InterpolateAnalyticFunctionD3_PWL(transitImpulse, &p, breaks, 3, tolerance, 1e-3, &count);
    ASSERT_NE(pts, nullptr);
    FreeOnExit guard{pts};
    EXPECT_EQ(pts[0], 0);
    EXPECT_EQ(pts[2 * (count - 1)], 20);
    bool hasTi = false;
    double worst = 0;
    for (int i = 0; i + 1 < count; ++i) {
      hasTi |= pts[2 * i] == 3.0;
      EXPECT_LT(pts[2 * i], pts[2 * i + 2]);
      for (int s = 1; s < 10; ++s) {
        const double u = s / 10.0, t = pts[2 * i] * (1 - u) + pts[2 * i + 2] * u;
        double d2;
        worst = std::max(worst, std::fabs(pts[2 * i + 1] * (1 - u) + pts[2 * i + 3] * u - transitImpulse(&p, t, &d2)));
      }
    }
    EXPECT_TRUE(hasTi);
    EXPECT_LE(worst, tolerance * 1.01);
    EXPECT_LT(count, 5 + int(17 / std::sqrt(8 * tolerance / (0.64 * 2.0))) + 20);  // no needless points
  }
  int count = 7;
  const double unordered[] = {0, 5, 3};
  EXPECT_EQ(PR_InterpolateAnalyticFunctionD3_PWL(transitImpulse, &p, unordered, 3, 1e-3, 0.1, &count), nullptr);
  EXPECT_EQ(count, 0);
}

// ------------------------------------------------------------------------------------------------
// Interval arithmetic
// ------------------------------------------------------------------------------------------------

TEST(IntervalArithmetic, EnclosesEveryPointResult) {
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> uniform(-5, 5);
  auto randomInterval = [&](bool positive) {
    double a = uniform(rng), b = uniform(rng);
    if (positive) {
      a = std::fabs(a) + 1e-3;
      b = std::fabs(b) + 1e-3;
    }
    return IntervalOf(a, b);
  };
  auto pick = [&](INTERVAL a) {
    const double u = std::uniform_real_distribution<double>(0, 1)(rng);
    const double v = a.lo + u * (a.hi - a.lo);
    return std::min(a.hi, std::max(a.lo, v));
  };
  for (int trial = 0; trial < 2000; ++trial) {
    const INTERVAL a = randomInterval(false), b = randomInterval(false), p = randomInterval(true);
    for (int s = 0; s < 5; ++s) {
      const double x = s == 0 ? a.lo : (s == 1 ? a.hi : pick(a));
      const double y = s == 0 ? b.hi : (s == 1 ? b.lo : pick(b));
      const double q = s == 0 ? p.lo : (s == 1 ? p.hi : pick(p));
      auto inside = [](INTERVAL r, double v) { return r.lo <= v && v <= r.hi; };
      EXPECT_TRUE(inside(a + b, x + y));
      EXPECT_TRUE(inside(a - b, x - y));
      EXPECT_TRUE(inside(a * b, x * y));
      if (!(b.lo <= 0 && b.hi >= 0)) {
        EXPECT_TRUE(inside(a / b, x / y));
      }
      EXPECT_TRUE(inside(IntervalExp(a), std::exp(x)));
      EXPECT_TRUE(inside(IntervalLog(p), std::log(q)));
      EXPECT_TRUE(inside(IntervalSquareRoot(p), std::sqrt(q)));
      EXPECT_TRUE(inside(IntervalSquare(a), x * x));
      EXPECT_TRUE(inside(IntervalPowInt(a, 3), x * x * x));
      EXPECT_TRUE(inside(IntervalPowInt(a, 4), x * x * x * x));
      EXPECT_TRUE(inside(IntervalPow(p, 0.37), std::pow(q, 0.37)));
      EXPECT_TRUE(inside(IntervalPow(p, -1.5), std::pow(q, -1.5)));
      EXPECT_TRUE(inside(IntervalPow(p, a), std::pow(q, x)));
    }
  }
  // Outward rounding: 0.1 + 0.2 is not a double, so the enclosure must be wider than a point.
  const INTERVAL sum = IntervalPoint(0.1) + IntervalPoint(0.2);
  EXPECT_LT(sum.lo, 0.1 + 0.2);
  EXPECT_GT(sum.hi, 0.1 + 0.2);
  EXPECT_EQ(IntervalSquare(INTERVAL{-1, 2}).lo, 0);
  const INTERVAL whole = INTERVAL{1, 2} / INTERVAL{-1, 1};
  EXPECT_TRUE(std::isinf(whole.lo) && std::isinf(whole.hi));
  const INTERVAL zeroTimesInf = INTERVAL{0, 0} * whole;
  EXPECT_FALSE(std::isnan(zeroTimesInf.lo) || std::isnan(zeroTimesInf.hi));
}

// ------------------------------------------------------------------------------------------------
// Interval branch and bound
// ------------------------------------------------------------------------------------------------

double twoWell(double x, double y) { return (x * x - 1) * (x * x - 1) + (y - 0.5) * (y - 0.5) + 0.3 * x; }

void twoWellBox(void*, const INTERVAL* b, const double*, const double*, double* lower, double* centre,
                double* upper) {
  const INTERVAL f = IntervalSquare(IntervalSquare(b[0]) - 1.0) + IntervalSquare(b[1] - 0.5) + 0.3 * b[0];
  *lower = f.lo;
  *upper = f.hi;
  *centre = twoWell(IntervalMid(b[0]), IntervalMid(b[1]));
}

// The exact minimiser: y = 0.5 and x the root of 4x^3 - 4x + 0.3 in the left well.
double twoWellTrueMinimum(double* xStar) {
  long double lo = -1.5, hi = -0.5;
  for (int i = 0; i < 200; ++i) {
    const long double mid = (lo + hi) / 2;
    if (4 * mid * mid * mid - 4 * mid + 0.3L < 0) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  *xStar = double(lo);
  return twoWell(*xStar, 0.5);
}

TEST(IntervalSearch, FindsTheGlobalWellOfTwoAndBoundsItValidly) {
  double xStar;
  const double fStar = twoWellTrueMinimum(&xStar);
  // A dense grid confirms the right well holds no lower point.
  double gridMin = 1e300;
  for (int i = 0; i <= 800; ++i)
    for (int j = 0; j <= 600; ++j) gridMin = std::min(gridMin, twoWell(-2 + 4.0 * i / 800, -1 + 3.0 * j / 600));
  ASSERT_LE(fStar, gridMin);

  const INTERVAL box[2] = {{-2, 2}, {-1, 2}};
  INTERVAL best[2], confidence[2], range;
  double cost = 0, bisections = 0;
  ASSERT_TRUE(PR_GO_NonconstrCostOptimizeSLX(2, twoWellBox, nullptr, box, nullptr, nullptr, 1e-8, 1e-9, 200000,
                                             best, &cost, confidence, &range, &bisections, false));
  EXPECT_NEAR(IntervalMid(best[0]), xStar, 1e-4);
  EXPECT_NEAR(IntervalMid(best[1]), 0.5, 1e-4);
  EXPECT_GE(cost, fStar);
  EXPECT_LE(cost - fStar, 1e-8);
  EXPECT_LE(range.lo, fStar);
  EXPECT_EQ(range.hi, cost);
  EXPECT_TRUE(IntervalContains(confidence[0], xStar));
  EXPECT_TRUE(IntervalContains(confidence[1], 0.5));
  EXPECT_LT(confidence[0].hi, 0);  // the right well has been ruled out
  EXPECT_GT(bisections, 0);

  // Whatever the budget, the reported lower bound never exceeds the true minimum.
  for (int budget : {0, 1, 5, 20, 100, 1000}) {
    SCOPED_TRACE(budget);
    ASSERT_TRUE(PR_GO_NonconstrCostOptimizeSLX(2, twoWellBox, nullptr, box, nullptr, nullptr, 1e-8, 1e-9, budget,
                                               best, &cost, confidence, &range, nullptr, false));
    EXPECT_LE(range.lo, fStar);
    EXPECT_GE(range.hi, fStar);
    EXPECT_TRUE(IntervalContains(confidence[0], xStar));
  }

  // The target-cost form stops as soon as a point is good enough.
  const double target = fStar + 1e-3;
  ASSERT_TRUE(PR_GOWSS_OptimizeBestSol(2, twoWellBox, nullptr, box, target, 100000, best, &cost, confidence, &range,
                                       &bisections, false));
  EXPECT_LE(cost, target);
  EXPECT_LE(range.lo, fStar);
  EXPECT_LT(IntervalMid(best[0]), 0);
}

void infeasibleBox(void*, const INTERVAL*, const double*, const double*, double* lower, double* centre, double*) {
  *lower = VOID_VALUE;
  *centre = VOID_VALUE;
}

TEST(IntervalSearch, RejectsBadArgumentsAndBoxesWithoutAdmissiblePoints) {
  const INTERVAL box[1] = {{0, 1}};
  INTERVAL best[1];
  double cost = 0;
  EXPECT_FALSE(PR_GO_NonconstrCostOptimizeSLX(1, infeasibleBox, nullptr, box, nullptr, nullptr, 1e-8, 1e-6, 100,
                                              best, &cost, nullptr, nullptr, nullptr, false));
  EXPECT_FALSE(PR_GO_NonconstrCostOptimizeSLX(0, twoWellBox, nullptr, box, nullptr, nullptr, 1e-8, 1e-6, 100, best,
                                              &cost, nullptr, nullptr, nullptr, false));
  const INTERVAL unbounded[2] = {{-HUGE_VAL, 1}, {0, 1}};
  INTERVAL best2[2];
  EXPECT_FALSE(PR_GOWSS_OptimizeBestSol(2, twoWellBox, nullptr, unbounded, 1e-8, 100, best2, &cost, nullptr, nullptr,
                                        nullptr, false));
}

// Mono-exponential y = A exp(-r t) as a box cost (mean squared residual) over data in y and x.
struct Series {
  int n;
};
void monoExpBox(void* context, const INTERVAL* b, const double* y, const double* x, double* lower, double* centre,
                double* upper) {
  const int n = static_cast<const Series*>(context)->n;
  INTERVAL sum = IntervalPoint(0);
  const double a = IntervalMid(b[0]), r = IntervalMid(b[1]);
  double plain = 0;
  for (int i = 0; i < n; ++i) {
    sum = sum + IntervalSquaredResidual(b[0] * IntervalExp(-b[1] * x[i]), y[i]);
    const double d = y[i] - a * std::exp(-r * x[i]);
    plain += d * d;
  }
  *lower = sum.lo / n;
  *upper = sum.hi / n;
  *centre = plain / n;
}

TEST(IntervalSearch, RecoversMonoExponentialParameters) {
  std::vector<double> t(20), y(20);
  for (int i = 0; i < 20; ++i) {
    t[i] = 3.0 * i;
    y[i] = 120.0 * std::exp(-0.045 * t[i]);
  }
  Series s{20};
  const INTERVAL box[2] = {{100, 140}, {0, 0.2}};
  INTERVAL best[2], confidence[2], range;
  double cost = 0;
  ASSERT_TRUE(PR_GO_NonconstrCostOptimizeSLX(2, monoExpBox, &s, box, y.data(), t.data(), 1e-10, 1e-12, 100000, best,
                                             &cost, confidence, &range, nullptr, false));
  EXPECT_NEAR(IntervalMid(best[0]), 120.0, 1e-3);
  EXPECT_NEAR(IntervalMid(best[1]), 0.045, 1e-6);
  EXPECT_LE(range.lo, 0.0);
  EXPECT_TRUE(IntervalContains(confidence[0], 120.0));
  EXPECT_TRUE(IntervalContains(confidence[1], 0.045));
}

// The least-squares box bound of y = A exp(-r t) + noise over boxes (A, r): never above the box's
// minimum (found by a dense grid of the box, which can only overestimate it), closing as the square
// of the box around the least-squares minimum, and pruning a box away from it (the step of the
// linearisation is kept within the box).
struct ExpProblem {
  std::vector<double> t, y;
  double sse(double a, double r) const {
    double s = 0;
    for (size_t i = 0; i < t.size(); ++i) s += (a * std::exp(-r * t[i]) - y[i]) * (a * std::exp(-r * t[i]) - y[i]);
    return s;
  }
  double bound(double aLo, double aHi, double rLo, double rHi) const {
    const int n = int(t.size());
    const double a = 0.5 * (aLo + aHi), r = 0.5 * (rLo + rHi);
    const double h[2] = {0.5 * (aHi - aLo), 0.5 * (rHi - rLo)};
    std::vector<double> residual(n), jacobian(2 * n), work(2 * n);
    std::vector<INTERVAL> slopes(2 * n);
    for (int i = 0; i < n; ++i) {
      const double e = std::exp(-r * t[i]);
      residual[i] = a * e - y[i];
      jacobian[2 * i] = e;
      jacobian[2 * i + 1] = -a * t[i] * e;
      const INTERVAL eBox = IntervalExp(-(INTERVAL{rLo, rHi} * t[i]));
      slopes[2 * i] = eBox;
      slopes[2 * i + 1] = -(INTERVAL{aLo, aHi} * t[i] * eBox);
    }
    return PR_LeastSquaresBoxBound(n, 2, residual.data(), jacobian.data(), slopes.data(), h, nullptr, work.data());
  }
  double gridMinimum(double aLo, double aHi, double rLo, double rHi) const {
    double best = HUGE_VAL;
    for (int i = 0; i <= 200; ++i)
      for (int j = 0; j <= 200; ++j) best = std::min(best, sse(aLo + (aHi - aLo) * i / 200, rLo + (rHi - rLo) * j / 200));
    return best;
  }
};

TEST(LeastSquaresBoxBound, EnclosesTheBoxMinimumAndClosesQuadratically) {
  ExpProblem p;
  std::mt19937 random(5);
  std::normal_distribution<double> noise(0, 1);
  for (int i = 0; i < 12; ++i) {
    p.t.push_back(5.0 * i);
    p.y.push_back(100 * std::exp(-0.04 * p.t.back()) + noise(random));
  }
  // The least-squares minimum, by the grid and a fine grid around its best point.
  double aMin = 0, rMin = 0, best = HUGE_VAL;
  for (int pass = 0; pass < 3; ++pass) {
    const double aStep = pass == 0 ? 0.5 : 0.5 / std::pow(100, pass), rStep = pass == 0 ? 2e-4 : 2e-4 / std::pow(100, pass);
    const double a0 = pass == 0 ? 50 : aMin - 100 * aStep, r0 = pass == 0 ? 0 : rMin - 100 * rStep;
    for (int i = 0; i <= 200; ++i)
      for (int j = 0; j <= 200; ++j) {
        const double v = p.sse(a0 + i * aStep, r0 + j * rStep);
        if (v < best) best = v, aMin = a0 + i * aStep, rMin = r0 + j * rStep;
      }
  }
  // Boxes: wide, around the minimum, off the minimum, touching it.
  const struct { double aLo, aHi, rLo, rHi; } boxes[] = {
      {50, 150, 0, 0.1}, {aMin - 2, aMin + 2, rMin - 0.002, rMin + 0.002}, {80, 90, 0.03, 0.035},
      {105, 110, 0.04, 0.05}, {aMin, aMin + 1, rMin - 0.001, rMin}};
  for (const auto& b : boxes) {
    SCOPED_TRACE(testing::Message() << "A " << b.aLo << ".." << b.aHi << " r " << b.rLo << ".." << b.rHi);
    const double bound = p.bound(b.aLo, b.aHi, b.rLo, b.rHi);
    EXPECT_GE(bound, 0.0);
    EXPECT_LE(bound, p.gridMinimum(b.aLo, b.aHi, b.rLo, b.rHi));
  }
  // Around the minimum the gap falls as the square of the box: a tenth of the box, at most a
  // fiftieth of the gap.
  const double wide = best - p.bound(aMin - 1, aMin + 1, rMin - 1e-3, rMin + 1e-3);
  const double narrow = best - p.bound(aMin - 0.1, aMin + 0.1, rMin - 1e-4, rMin + 1e-4);
  EXPECT_GT(wide, 0.0);
  EXPECT_GE(narrow, 0.0);
  EXPECT_LT(narrow, wide / 50);
  // A box away from the minimum whose own minimum lies well above it is pruned by its bound.
  const double offMinimum = p.gridMinimum(aMin + 3, aMin + 4, rMin, rMin + 0.001);
  ASSERT_GT(offMinimum, best + 10);
  EXPECT_GT(p.bound(aMin + 3, aMin + 4, rMin, rMin + 0.001), best + 0.9 * (offMinimum - best));
}

// A box cost that names a side is obeyed: with every box asking for its second side, the first
// side of every box the search evaluates stays whole while the second is above the tolerance.
struct SideLog {
  double narrowestFirst = HUGE_VAL, narrowestSecond = HUGE_VAL;
};
void secondSideBox(void* context, const INTERVAL* b, const double*, const double*, double* lower, double* centre,
                   double*) {
  auto* log = static_cast<SideLog*>(context);
  if (b[0].hi > b[0].lo) {  // boxes, not the point searches
    log->narrowestFirst = std::min(log->narrowestFirst, b[0].hi - b[0].lo);
    log->narrowestSecond = std::min(log->narrowestSecond, b[1].hi - b[1].lo);
  }
  const double x = IntervalMid(b[0]), y = IntervalMid(b[1]);
  *centre = (x - 0.3) * (x - 0.3) + (y - 0.6) * (y - 0.6);
  *lower = -1;  // never prunes: the search runs its whole budget
  PR_SuggestBisectionAxis(1);
}

TEST(IntervalSearch, HalvesTheSideTheCostNames) {
  SideLog log;
  const INTERVAL box[2] = {{0, 1}, {0, 1}};
  INTERVAL best[2];
  double cost = 0;
  ASSERT_TRUE(PR_GO_NonconstrCostOptimizeSLX(2, secondSideBox, &log, box, nullptr, nullptr, 1e-3, 0, 200, best, &cost,
                                             nullptr, nullptr, nullptr, false));
  EXPECT_EQ(log.narrowestFirst, 1.0);
  EXPECT_LT(log.narrowestSecond, 1e-2);
  EXPECT_NEAR(IntervalMid(best[0]), 0.3, 1e-6);
  EXPECT_NEAR(IntervalMid(best[1]), 0.6, 1e-6);
}

// ------------------------------------------------------------------------------------------------
// Simplex
// ------------------------------------------------------------------------------------------------

double rosenbrock(void*, const double* x, const double* dx) {
  const double a = x[0] + (dx ? dx[0] : 0), b = x[1] + (dx ? dx[1] : 0);
  return (1 - a) * (1 - a) + 100 * (b - a * a) * (b - a * a);
}

struct Curve {
  std::vector<double> t, y;
};
double monoExpRmse(void* context, const double* p, const double* dx) {
  const auto* c = static_cast<const Curve*>(context);
  const double a = p[0] + (dx ? dx[0] : 0), r = p[1] + (dx ? dx[1] : 0);
  double sum = 0;
  for (size_t i = 0; i < c->t.size(); ++i) {
    const double d = c->y[i] - a * std::exp(-r * c->t[i]);
    sum += d * d;
  }
  return std::sqrt(sum / c->t.size());
}

TEST(AmoebaOverGrid, RosenbrockAndCurveFitReachTheirMinima) {
  const INTERVAL box[2] = {{-2, 2}, {-1, 3}};
  double cost = 0, best[2];
  ASSERT_TRUE(PR_OptimizeAmoebaOverGrid(5, 2, box, true, rosenbrock, nullptr, 5000, 0, &cost, best));
  EXPECT_NEAR(best[0], 1, 1e-6);
  EXPECT_NEAR(best[1], 1, 1e-6);
  EXPECT_LT(cost, 1e-12);

  Curve c;
  for (int i = 0; i < 20; ++i) {
    c.t.push_back(2.5 * i);
    c.y.push_back(80 * std::exp(-0.07 * c.t.back()));
  }
  const INTERVAL fitBox[2] = {{10, 200}, {0.001, 1}};
  ASSERT_TRUE(PR_OptimizeAmoebaOverGrid(11, 2, fitBox, true, monoExpRmse, &c, 2000, 0, &cost, best));
  EXPECT_NEAR(best[0], 80, 1e-5);
  EXPECT_NEAR(best[1], 0.07, 1e-8);
  EXPECT_LT(cost, 1e-6);
}

double bowl(void* context, const double* x, const double* dx) {
  const double* centre = static_cast<const double*>(context);
  double s = 0;
  for (int i = 0; i < 3; ++i) {
    const double v = x[i] + (dx ? dx[i] : 0) - centre[i];
    s += v * v;
  }
  return s + 1.0;
}

TEST(AmoebaOverGrid, BoundsFixedVariablesAndFailures) {
  // Minimum outside the box: the clamped simplex ends on the nearest face.
  const double centre[3] = {5, 0.25, -1};
  const INTERVAL box[3] = {{0, 1}, {0, 1}, {-3, -3}};  // the third variable is held at -3
  double cost = 0, best[3];
  ASSERT_TRUE(PR_OptimizeAmoebaOverGrid(4, 3, box, true, bowl, (void*)centre, 1000, 0, &cost, best));
  EXPECT_NEAR(best[0], 1, 1e-9);
  EXPECT_NEAR(best[1], 0.25, 1e-6);
  EXPECT_EQ(best[2], -3);
  EXPECT_NEAR(cost, 1 + 16 + 4, 1e-9);

  // Without the clamp the simplex may leave the box.
  const INTERVAL free2[3] = {{0, 1}, {0, 1}, {-1, -1}};
  ASSERT_TRUE(PR_OptimizeAmoebaOverGrid(4, 3, free2, false, bowl, (void*)centre, 2000, 0, &cost, best));
  EXPECT_NEAR(best[0], 5, 1e-5);

  // A zero budget keeps the best grid point (cell centres 0.125, 0.375, ...).
  ASSERT_TRUE(PR_OptimizeAmoebaOverGrid(4, 3, box, true, bowl, (void*)centre, 0, 0, &cost, best));
  EXPECT_EQ(best[0], 0.875);
  EXPECT_EQ(best[1], 0.125);  // of the two equally near cells the first visited wins

  // No finite cost anywhere: failure, not a result.
  auto nowhere = [](void*, const double*, const double*) { return VOID_VALUE; };
  EXPECT_FALSE(PR_OptimizeAmoebaOverGrid(3, 3, box, true, nowhere, nullptr, 100, 0, &cost, best));
  const INTERVAL infinite[1] = {{0, HUGE_VAL}};
  EXPECT_FALSE(PR_OptimizeAmoebaOverGrid(3, 1, infinite, true, rosenbrock, nullptr, 100, 0, &cost, best));
}

TEST(AmoebaOverGrid, SearchesTheOtherBasinsTheGridHasSeen) {
  // The best grid point (x = 1 of 1, 3, 5, 7, 9) lies in a shallow basin; the narrow global one at
  // 6.3 shows on the grid only as a local minimum at x = 7.
  auto twoBasins = [](void*, const double* x, const double*) {
    return std::min((x[0] - 1) * (x[0] - 1) + 0.5, 20 * (x[0] - 6.3) * (x[0] - 6.3));
  };
  const INTERVAL box[1] = {{0, 10}};
  double cost = 0, best[1];
  ASSERT_TRUE(PR_OptimizeAmoebaOverGrid(5, 1, box, true, twoBasins, nullptr, 500, 0, &cost, best));
  EXPECT_NEAR(best[0], 6.3, 1e-6);
  EXPECT_LT(cost, 1e-10);
}

// Standard hard functions with known minima inside boxes, each counting its evaluations.
struct HardFunction {
  const char* name;
  int nVars;
  std::vector<INTERVAL> box;
  double (*f)(const double* x);
  std::vector<double> minimiser;  // empty: several minimisers of equal value
  double minimum;
  // Grid counts of the models' defaults (11 and 7 points per variable for the Tofts models, 5 for
  // the exchange and uptake models) at which the deepest basin shows on the grid at all.
  std::vector<int> gridPoints = {11, 7, 5};
};

double countedHard(void* context, const double* x, const double* dx) {
  auto* c = static_cast<std::pair<const HardFunction*, long long>*>(context);
  ++c->second;
  double p[8];
  for (int i = 0; i < c->first->nVars; ++i) p[i] = x[i] + (dx ? dx[i] : 0);
  return c->first->f(p);
}

const std::vector<HardFunction>& hardFunctions() {
  static const std::vector<HardFunction> functions = {
      {"Rosenbrock", 2, {{-2, 2}, {-1, 3}},
       [](const double* x) { return (1 - x[0]) * (1 - x[0]) + 100 * (x[1] - x[0] * x[0]) * (x[1] - x[0] * x[0]); },
       {1, 1}, 0},
      // Rosenbrock's valley squeezed against the corner of a wide box: the minimum (0.004, 0.2) lies
      // inside the first grid cell, and the valley runs into the upper bound of y, where a false
      // minimum on the bound waits (as the Tofts cost does in Ktrans and ve).
      {"curved valley near a bound", 2, {{0, 1}, {0, 10}},
       [](const double* x) {
         const double a = x[0] / 0.004, b = x[1] / 0.2;
         return (1 - a) * (1 - a) + 100 * (b - a * a) * (b - a * a);
       },
       {0.004, 0.2}, 0},
      // A wide shallow basin (minimum 0.02 at (0.6, 0.4)) and a deeper one of radius about 0.02 near
      // the corner (0.06, 0.935), between the grid's centres (its minimum from scipy's Nelder-Mead).
      // A grid of 5 points (spacing 0.2) has no point within its reach.
      {"deep small basin", 2, {{0, 1}, {0, 1}},
       [](const double* x) {
         const double wide = 0.02 + 0.5 * ((x[0] - 0.6) * (x[0] - 0.6) + (x[1] - 0.4) * (x[1] - 0.4));
         const double r2 = (x[0] - 0.06) * (x[0] - 0.06) + (x[1] - 0.935) * (x[1] - 0.935);
         return wide - std::exp(-r2 / (2 * 0.015 * 0.015));
       },
       {0.06012148, 0.93487964}, -0.6911524928007684, {11, 7}},
      // Six-hump camel: two global minima -1.0316285 at +-(0.0898, -0.7126) among four local ones.
      {"six-hump camel", 2, {{-3, 3}, {-2, 2}},
       [](const double* x) {
         const double a = x[0], b = x[1];
         return (4 - 2.1 * a * a + a * a * a * a / 3) * a * a + a * b + (-4 + 4 * b * b) * b * b;
       },
       {}, -1.031628453489877},
      // Shekel's five narrow wells in four dimensions; the deepest, -10.1532, at (4, 4, 4, 4), a corner
      // of the cells of a 5-point grid (centres 1, 3, ..., 9), where it hardly shows.
      {"Shekel 5", 4, {{0, 10}, {0, 10}, {0, 10}, {0, 10}},
       [](const double* x) {
         const double a[5][4] = {{4, 4, 4, 4}, {1, 1, 1, 1}, {8, 8, 8, 8}, {6, 6, 6, 6}, {3, 7, 3, 7}};
         const double c[5] = {0.1, 0.2, 0.2, 0.4, 0.4};
         double sum = 0;
         for (int i = 0; i < 5; ++i) {
           double d = c[i];
           for (int j = 0; j < 4; ++j) d += (x[j] - a[i][j]) * (x[j] - a[i][j]);
           sum -= 1 / d;
         }
         return sum;
       },
       {4, 4, 4, 4}, -10.153199679058231, {11, 7}},
  };
  return functions;
}

TEST(AmoebaOverGrid, FindsTheGlobalMinimumOfHardFunctions) {
  // Each with 2000 simplex iterations, the budget of most models.
  for (const HardFunction& h : hardFunctions())
    for (int gridPoints : h.gridPoints) {
      SCOPED_TRACE(std::string(h.name) + " grid " + std::to_string(gridPoints));
      std::pair<const HardFunction*, long long> context{&h, 0};
      double cost = 0, best[8];
      ASSERT_TRUE(PR_OptimizeAmoebaOverGrid(gridPoints, h.nVars, h.box.data(), true, countedHard, &context, 2000, 0,
                                            &cost, best));
      EXPECT_NEAR(cost, h.minimum, 1e-7);
      for (size_t i = 0; i < h.minimiser.size(); ++i)
        EXPECT_NEAR(best[i], h.minimiser[i], 1e-4 * (h.box[i].hi - h.box[i].lo)) << i;
      // The stated worst case: grid, division, iterations and restarts.
      const long long grid = std::llround(std::pow(gridPoints, h.nVars));
      const long long division = std::min<long long>(4000, std::max<long long>(grid, 40 * h.nVars));
      EXPECT_LE(context.second, grid + division + 2000LL * (h.nVars + 2) + 2000 * 11 / 30 + 44 * (h.nVars + 1));
    }
}

// Curves that no parameter can fit (every cost NaN or 1e60) fail at once, within the budget.
TEST(AmoebaOverGrid, FailsQuicklyWhereNoCostIsDefined) {
  long long calls = 0;
  auto undefined = [](void* c, const double*, const double*) {
    ++*static_cast<long long*>(c);
    return std::nan("");
  };
  const INTERVAL box[3] = {{0, 1}, {0, 1}, {0, 1}};
  double cost = 0, best[3];
  EXPECT_FALSE(PR_OptimizeAmoebaOverGrid(7, 3, box, true, undefined, &calls, 2000, 0.01, &cost, best));
  EXPECT_EQ(calls, 343);  // the grid alone
}

TEST(AmoebaOverGrid, BalancePrefersTheCentreAmongEqualCosts) {
  // Cost flat in y: any y is optimal; the balance term picks the middle of its range.
  auto valley = [](void*, const double* x, const double*) { return (x[0] - 0.3) * (x[0] - 0.3) + 1.0; };
  const INTERVAL box[2] = {{0, 1}, {2, 6}};
  double cost = 0, best[2];
  ASSERT_TRUE(PR_OptimizeAmoebaOverGrid(3, 2, box, true, valley, nullptr, 2000, 0.01, &cost, best));
  EXPECT_NEAR(best[1], 4, 1e-3);
  EXPECT_NEAR(cost, 1.0, 1e-3);
}

TEST(AmoebaPlus, RefinesAnOffsetWithinItsScale) {
  const double centre[3] = {1.3, -0.4, 2.05};
  const double base[3] = {1, 0, 2};
  const double steps[3] = {0.01, 0.01, 0.001};
  double offset[3] = {0, 0, 0};
  double cost = 0;
  ASSERT_TRUE(PR_AmoebaPlus(bowl, (void*)centre, base, 3, offset, steps, 100.0, 2000, &cost));
  EXPECT_NEAR(offset[0], 0.3, 1e-6);
  EXPECT_NEAR(offset[1], -0.4, 1e-6);
  EXPECT_NEAR(offset[2], 0.05, 1e-6);
  EXPECT_NEAR(cost, 1.0, 1e-10);

  // The scale limits the offset: the third variable may move at most 10 * 0.001.
  double limited[3] = {0, 0, 0};
  ASSERT_TRUE(PR_AmoebaPlus(bowl, (void*)centre, base, 3, limited, steps, 10.0, 2000, &cost));
  EXPECT_NEAR(limited[2], 0.01, 1e-9);
  EXPECT_NEAR(limited[0], 0.1, 1e-9);

  // A zero step holds its variable.
  const double holdSteps[3] = {0.01, 0, 0.01};
  double held[3] = {0, 0.2, 0};
  ASSERT_TRUE(PR_AmoebaPlus(bowl, (void*)centre, base, 3, held, holdSteps, 0, 2000, &cost));
  EXPECT_EQ(held[1], 0.2);
  EXPECT_NEAR(held[0], 0.3, 1e-6);
}

// ------------------------------------------------------------------------------------------------
// Linear algebra
// ------------------------------------------------------------------------------------------------

TEST(LinearAlgebra, LeastSquaresAndSvdMatchReferences) {
  // numpy.linalg.lstsq of an 8 x 3 system.
  const double a[24] = {1, 0.5, 2, 2, -1, 0.3, 0.1, 4, 1, 3, 3, -2, -1, 2, 0.5, 0.7, 0.2, 0.9, 5, -2, 1, 2.2, 1.1, -0.4};
  const double b[8] = {1, 2, -1, 0.5, 3, 2.2, -0.7, 1.9};
  double x[3], residual = 0;
  ASSERT_TRUE(PR_SolveLeastSquares(a, 8, 3, b, x, &residual));
  expectClose(x[0], 0.12491566804435683, 1e-12);
  expectClose(x[1], 0.19153599975063249, 1e-12);
  expectClose(x[2], 0.26451478998403888, 1e-12);
  expectClose(residual, 4.6539377646581483, 1e-12);

  double u[24], s[3], v[9];
  ASSERT_TRUE(PR_SingularValueDecomposition(a, 8, 3, u, s, v));
  expectClose(s[0], 6.754809172481604, 1e-12);
  expectClose(s[1], 5.9580616564479678, 1e-12);
  expectClose(s[2], 3.3202491384417061, 1e-12);
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 3; ++c) {
      double rebuilt = 0;
      for (int k = 0; k < 3; ++k) rebuilt += u[r * 3 + k] * s[k] * v[c * 3 + k];
      EXPECT_NEAR(rebuilt, a[r * 3 + c], 1e-12);
    }

  // The normal equations of a quadratic through exact points give its coefficients back.
  double ata[9] = {}, atb[3] = {};
  for (int i = 0; i < 7; ++i) {
    const double t = i * 0.5, row[3] = {1, t, t * t}, y = 2 - 3 * t + 0.5 * t * t;
    for (int p = 0; p < 3; ++p) {
      atb[p] += row[p] * y;
      for (int q = 0; q < 3; ++q) ata[p * 3 + q] += row[p] * row[q];
    }
  }
  double coefficients[3], singular[3];
  ASSERT_TRUE(PR_SolveLinearSystemParSVD(0, 2147483647, ata, 3, atb, coefficients, false, 10, singular));
  EXPECT_NEAR(coefficients[0], 2, 1e-11);
  EXPECT_NEAR(coefficients[1], -3, 1e-11);
  EXPECT_NEAR(coefficients[2], 0.5, 1e-11);
  EXPECT_GE(singular[0], singular[1]);
  EXPECT_GE(singular[1], singular[2]);

  // A singular system (a line through points that share one x) has no unique solution.
  const double singularMatrix[4] = {4, 2, 2, 1};
  const double rhs[2] = {1, 2};
  double out[2] = {7, 7};
  EXPECT_FALSE(PR_SolveLinearSystemParSVD(0, 2147483647, singularMatrix, 2, rhs, out, false, 10, nullptr));
  EXPECT_EQ(out[0], 7);
  // Truncating on purpose gives the minimum-norm solution instead.
  ASSERT_TRUE(PR_SolveLinearSystemParSVD(0, 1, singularMatrix, 2, rhs, out, false, 0, nullptr));
  EXPECT_NEAR(out[0], 0.32, 1e-12);  // (2, 1) * 4 / 25, in the row space of the matrix
  EXPECT_NEAR(out[1], 0.16, 1e-12);
}

TEST(LinearAlgebra, LineFitReturnsItsResidual) {
  const double x[] = {1e6, 1e6 + 1, 1e6 + 2, 1e6 + 3};
  const double y[] = {1, 3, 5, 7.5};
  double slope = 0, intercept = 0;
  const double err = PR_MSlineEquation(x, y, 4, &slope, &intercept);
  // By hand: slope 10.75 / 5, residuals 0.1, -0.05, -0.2, 0.15.
  EXPECT_NEAR(slope, 2.15, 1e-9);
  EXPECT_NEAR(intercept, -2149999.1, 1e-6);
  EXPECT_NEAR(err, 0.075, 1e-9);
  const double same[] = {2, 2, 2};
  EXPECT_EQ(PR_MSlineEquation(same, y, 3, &slope, &intercept), VOID_VALUE);
  EXPECT_EQ(slope, 0);
}

// ------------------------------------------------------------------------------------------------
// Curve measures and tools
// ------------------------------------------------------------------------------------------------

TEST(CurveStats, ErrorsCorrelationAndSpread) {
  const double a[] = {1, 2, 3, 4, 5};
  const double b[] = {2, 4, 6, 8, 10};
  const double c[] = {5, 4, 3, 2, 1};
  const double flat[] = {3, 3, 3, 3, 3};
  EXPECT_DOUBLE_EQ(PR_Correlation(a, b, 5), 1.0);
  EXPECT_DOUBLE_EQ(PR_Correlation(a, c, 5), -1.0);
  EXPECT_EQ(PR_Correlation(a, flat, 5), 0);
  EXPECT_DOUBLE_EQ(PR_ComputeRMSE(a, b, 5), std::sqrt(11.0));
  EXPECT_DOUBLE_EQ(PR_FuncDistL1(a, b, 5), 15.0);
  EXPECT_DOUBLE_EQ(PR_FlatlineRMSE(a, 5), std::sqrt(2.0));
  EXPECT_DOUBLE_EQ(PR_RRSE(a, flat, 5), 1.0);  // the mean is as good as no model
  EXPECT_EQ(PR_RRSE(flat, flat, 5), 0);
  EXPECT_EQ(PR_RRSE(flat, a, 5), VOID_VALUE);
  EXPECT_DOUBLE_EQ(PR_CODtoRMSE(0.75, a, 5), std::sqrt(0.25 * 10 / 5));
  double sd = 0;
  EXPECT_DOUBLE_EQ(PR_ArrStats(a, 5, &sd), 3.0);
  EXPECT_DOUBLE_EQ(sd, std::sqrt(2.5));
  EXPECT_TRUE(PR_IsConstantArray(flat, 5));
  EXPECT_FALSE(PR_IsConstantArray(a, 5));
  double v[] = {3, 4};
  ASSERT_TRUE(PR_FuncNormalizeSumL2(v, 2));
  EXPECT_DOUBLE_EQ(v[0], 0.6);
  double zero[] = {0, 0};
  EXPECT_FALSE(PR_FuncNormalizeSumL2(zero, 2));
}

TEST(CurveStats, BolusStartAndFirstPass) {
  // Baseline 10, arrival after frame 3, peak 110 at frame 6, then wash-out with recirculation.
  const double curve[] = {10, 11, 10, 10, 40, 90, 110, 80, 60, 65, 62};
  int start = -1, end = -1;
  ASSERT_TRUE(PR_GetBolusStart(curve, nullptr, 11, 0.1, &start, &end));
  EXPECT_EQ(start, 3);
  EXPECT_EQ(end, 6);
  ASSERT_TRUE(PR_GetBolusStart(curve, nullptr, 11, 0.5, &start, nullptr));
  EXPECT_EQ(start, 4);
  const double falling[] = {5, 4, 3, 2};
  EXPECT_FALSE(PR_GetBolusStart(falling, nullptr, 4, 0.1, &start, nullptr));
  const double voided[] = {1, 2, VOID_VALUE, 4};
  EXPECT_FALSE(PR_GetBolusStart(voided, nullptr, 4, 0.1, &start, nullptr));
}

TEST(CurveTools, ResamplingDelayAndGrids) {
  const double t[] = {0, 2, 3, 7};
  const double v[] = {0, 4, 2, 10};
  const double at[] = {-1, 0, 1, 2.5, 7, 9};
  double* r = PR_ResampleFunction(v, t, 4, at, 6, true);
  ASSERT_NE(r, nullptr);
  const double expected[] = {0, 0, 2, 3, 10, 10};
  for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(r[i], expected[i]);
  pf_free(&r);
  const double unordered[] = {0, 3, 2, 7};
  EXPECT_EQ(PR_ResampleFunction(v, unordered, 4, at, 6, true), nullptr);

  double* d = PR_DelayThisFunction(v, t, 4, 1.0);  // values at t - 1
  ASSERT_NE(d, nullptr);
  EXPECT_DOUBLE_EQ(d[0], 0);
  EXPECT_DOUBLE_EQ(d[1], 2);
  EXPECT_DOUBLE_EQ(d[2], 4);
  EXPECT_DOUBLE_EQ(d[3], 2 + 8 * 3.0 / 4);
  pf_free(&d);

  int m = 0;
  double* g = PR_MakeUniformSamplingArray(t, 4, &m);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(m, 8);
  EXPECT_DOUBLE_EQ(g[7], 7);
  pf_free(&g);

  // Resampling from delayed times is the same as delaying the curve.
  double shifted[4];
  PR_GetDelayedTimes(t, 4, 1.0, shifted);
  double* viaTimes = PR_ResampleFunction(v, shifted, 4, t, 4, false);
  double* viaDelay = PR_DelayThisFunction(v, t, 4, 1.0);
  ASSERT_TRUE(viaTimes && viaDelay);
  for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(viaTimes[i], viaDelay[i]);
  pf_free(&viaTimes);
  pf_free(&viaDelay);

  // The host's input-function record, sampled at the data times.
  auto input = std::make_unique<INPUTFUNC>();
  input->count = 3;
  const double inputTimes[] = {0, 10, 20}, inputValues[] = {0, 5, 1};
  std::copy(inputTimes, inputTimes + 3, input->times);
  std::copy(inputValues, inputValues + 3, input->values);
  const double dataTimes[] = {0, 4, 15, 30};
  double* prepared = PR_PrepareInputFunc(input.get(), dataTimes, 4);
  ASSERT_NE(prepared, nullptr);
  const double wantPrepared[] = {0, 2, 3, 1};
  for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(prepared[i], wantPrepared[i]);
  pf_free(&prepared);
  input->times[2] = 5;  // out of order
  EXPECT_EQ(PR_PrepareInputFunc(input.get(), dataTimes, 4), nullptr);
  input->count = 0;
  EXPECT_EQ(PR_PrepareInputFunc(input.get(), dataTimes, 4), nullptr);

  const double axis[] = {300, 0, 50, 0};
  const double signal[] = {1, 2, 3, 4};
  double sortedSignal[4], sortedAxis[4];
  ASSERT_TRUE(PR_SortByDynamicComponent(signal, axis, sortedSignal, sortedAxis, 4));
  const double wantSignal[] = {2, 4, 3, 1};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(sortedSignal[i], wantSignal[i]);
  double distinct[4];
  EXPECT_EQ(PR_ExtractDiffentVals(axis, 4, distinct), 3);
  EXPECT_EQ(distinct[2], 50);

  const double c1[] = {1, VOID_VALUE, 3}, c2[] = {3, VOID_VALUE, 5};
  const double* curves[] = {c1, c2};
  double mean[3];
  ASSERT_TRUE(PR_AverageOfCurves(curves, 2, 3, mean));
  EXPECT_EQ(mean[0], 2);
  EXPECT_EQ(mean[1], VOID_VALUE);
}

TEST(CurveTools, ToftsModelAndStretchFit) {
  std::vector<double> t(60), cp(60);
  for (int i = 0; i < 60; ++i) {
    t[i] = 2.0 * i;
    cp[i] = t[i] < 10 ? 0 : 5 * (t[i] - 10) * std::exp(-(t[i] - 10) / 8.0);
  }
  // Tofts with no delay equals ktrans * J(ktrans / ve).
  double* model = PR_MakeModel_Ktrans2P(cp.data(), t.data(), 60, 0.01, 0.3, 0);
  ASSERT_NE(model, nullptr);
  std::vector<double> j(60);
  PR_IntegralFunc_PWL_NegExp(0.01 / 0.3, cp.data(), t.data(), 60, j.data());
  for (int i = 0; i < 60; ++i) EXPECT_DOUBLE_EQ(model[i], 0.01 * j[i]);
  pf_free(&model);
  EXPECT_EQ(PR_MakeModel_Ktrans2P(cp.data(), t.data(), 60, 0.01, 0, 0), nullptr);

  // A curve that is the input stretched by 1.5 and scaled by 0.7 is found again.
  std::vector<double> vessel(60);
  for (int i = 0; i < 60; ++i) {
    double tt = t[i] / 1.5;
    double* s = PR_ResampleFunction(cp.data(), t.data(), 60, &tt, 1, false);
    vessel[i] = 0.7 * s[0];
    pf_free(&s);
  }
  double amplitude = 0, stretch = 0;
  double* fit = PR_StretchFit(vessel.data(), t.data(), cp.data(), 60, &amplitude, &stretch);
  ASSERT_NE(fit, nullptr);
  EXPECT_NEAR(stretch, 1.5, 1e-6);
  EXPECT_NEAR(amplitude, 0.7, 1e-6);
  EXPECT_LT(PR_ComputeRMSE(fit, vessel.data(), 60), 1e-6);
  pf_free(&fit);
}

// ------------------------------------------------------------------------------------------------
// Reentrancy: the same fits on 8 threads give the bits of a sequential run.
// ------------------------------------------------------------------------------------------------

struct FitOutputs {
  double values[12] = {};
};

FitOutputs fitCurve(int index) {
  FitOutputs out;
  Curve c;
  const double amplitude = 50 + 7 * index, rate = 0.02 + 0.003 * (index % 11);
  for (int i = 0; i < 20; ++i) {
    c.t.push_back(3.0 * i);
    c.y.push_back(amplitude * std::exp(-rate * c.t.back()) + 0.5 * std::sin(1.7 * i + index));
  }
  const INTERVAL box[2] = {{1, 300}, {0.001, 0.5}};
  double best[2], cost = 0;
  PR_OptimizeAmoebaOverGrid(7, 2, box, true, monoExpRmse, &c, 500, 0.01, &cost, best);
  out.values[0] = best[0];
  out.values[1] = best[1];
  out.values[2] = cost;

  Series s{20};
  const INTERVAL gbox[2] = {{0.5 * amplitude, 1.5 * amplitude}, {0, 0.2}};
  INTERVAL gbest[2], range;
  PR_GO_NonconstrCostOptimizeSLX(2, monoExpBox, &s, gbox, c.y.data(), c.t.data(), 1e-8, 1e-6, 3000, gbest, &cost,
                                 nullptr, &range, nullptr, false);
  out.values[3] = IntervalMid(gbest[0]);
  out.values[4] = IntervalMid(gbest[1]);
  out.values[5] = cost;
  out.values[6] = range.lo;

  std::vector<double> j(20);
  PR_IntegralFunc_PWL_NegExp(rate, c.y.data(), c.t.data(), 20, j.data());
  out.values[7] = j[19];
  std::vector<double> pf, pg;
  for (int i = 0; i < 20; ++i) pf.insert(pf.end(), {c.t[i], c.y[i]});
  for (int i = 0; i < 10; ++i) pg.insert(pg.end(), {1.7 * i, std::exp(-0.1 * i)});
  const double at[2] = {17.0, 40.0};
  double conv[2];
  PR_ConvolutePWL(pf.data(), 20, pg.data(), 10, at, 2, conv);
  out.values[8] = conv[0];
  out.values[9] = conv[1];
  double offset[2] = {0, 0};
  const double steps[2] = {0.1, 0.0001};
  PR_AmoebaPlus(monoExpRmse, &c, best, 2, offset, steps, 100.0, 300, &cost);
  out.values[10] = offset[0] + offset[1];
  out.values[11] = cost;
  return out;
}

TEST(Reentrancy, ParallelFitsAreBitIdenticalToSequential) {
  constexpr int kCurves = 48, kThreads = 8;
  std::vector<FitOutputs> sequential(kCurves), parallel(kCurves);
  for (int i = 0; i < kCurves; ++i) sequential[i] = fitCurve(i);
  std::vector<std::thread> threads;
  for (int w = 0; w < kThreads; ++w)
    threads.emplace_back([&, w] {
      // Interleaved assignment, so neighbouring curves run on different threads at the same time.
      for (int i = w; i < kCurves; i += kThreads) parallel[i] = fitCurve(i);
    });
  for (auto& th : threads) th.join();
  for (int i = 0; i < kCurves; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(std::memcmp(&sequential[i], &parallel[i], sizeof(FitOutputs)), 0);
    EXPECT_TRUE(std::isfinite(sequential[i].values[0]));
  }
}

}  // namespace
