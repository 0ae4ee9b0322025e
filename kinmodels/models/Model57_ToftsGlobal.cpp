// Type 57: the Tofts model fitted by a guaranteed global optimiser on a uniform time grid, with the
// rejection of vessels and flat curves.
//
// On the grid 0, D, 2D, ... (D the "Time delta") the model is the discrete Tofts curve
//   C[i] = Ktrans * D * sum over j <= i of exp(-k * D * (i - j)) * Cp[j - d],  k = Ktrans / ve,
// d the arterial delay in grid steps and Cp held at its end values outside the grid. An interval
// branch and bound over (Ktrans, ve, delay) minimises the mean squared signal error; every box gets
// a guaranteed lower bound of that error from interval enclosures of the curve.
//
// Two other hypotheses compete with the fit: the curve is a vessel (a stretched copy of the input
// function fits it better) or it is flat (a constant fits it nearly as well as the model).

#include <algorithm>
#include <cmath>
#include <vector>

#include "Messages.h"
#include "ModelTable.h"
#include "PerfusionCommon.h"
#include "numerics/CurveStats.h"
#include "numerics/CurveTools.h"
#include "numerics/IntervalArith.h"
#include "numerics/Optimize.h"

namespace kin {
namespace {

using namespace perfusion;

constexpr int kType = 57;

// Prepared by the init, read-only while curves are computed.
struct GlobalToftsTables {
  int n = 0;
  std::vector<double> times;      // seconds from the first acquisition
  std::vector<double> input;      // the input function at those times
  double delta = 2;               // grid step, seconds
  std::vector<double> grid;       // 0, delta, 2 delta, ...
  std::vector<double> gridInput;  // the input function on the grid
  bool inputNonNegative = false;  // no sample of gridInput below 0
  double flatlineFactor = 1.01;
  bool removeVessels = true;
  INTERVAL bounds[3];             // Ktrans (1/s), ve, delay (s)
};

GlobalToftsTables& tables() {
  static GlobalToftsTables t;
  return t;
}

// The working data of one curve, handed to the box cost; its arrays are sized once per curve.
struct GlobalToftsFit {
  const GlobalToftsTables* tables;
  const double* measured;  // the measured signal on the grid
  const double* info;      // its conversion record
  double concScale;        // the largest measured concentration: the scale of the conversion's slope steps
  std::vector<double> lowConc, highConc, lowSignal, highSignal, centreConc, centreSignal, centreRounding;
  // The least-squares bound: concentrations just outside each point's enclosure and their signals,
  // the centre's residuals, slopes (dr/dKtrans, dr/dve per point) and rounding slack, and scratch.
  std::vector<double> outerLowConc, outerHighConc, outerLowSignal, outerHighSignal;
  std::vector<double> residual, jacobian, slack, work;
  std::vector<INTERVAL> concSlopes, slopes;  // enclosures over the box of dC/dp and dr/dp

  GlobalToftsFit(const GlobalToftsTables& t, const double* y, const double* record, double scale)
      : tables(&t), measured(y), info(record), concScale(scale) {
    const size_t m = t.grid.size();
    for (auto* v : {&lowConc, &highConc, &lowSignal, &highSignal, &centreConc, &centreSignal, &centreRounding,
                    &outerLowConc, &outerHighConc, &outerLowSignal, &outerHighSignal, &residual, &slack})
      v->resize(m);
    jacobian.resize(2 * m);
    work.resize(2 * m);
    concSlopes.resize(2 * m);
    slopes.resize(2 * m);
  }
};

int delaySteps(double delay, double delta) { return int(std::lround(delay / delta)); }

// The discrete Tofts curve at one point (Ktrans, ve and the delay in grid steps). With q = exp(-k D),
// k = Ktrans / ve,
//   S_i = q S_(i-1) + Cp[i - d],  U_i = q (U_(i-1) + S_(i-1)) = sum over j <= i of (i - j) q^(i-j) Cp[j - d],
//   C_i = Ktrans D S_i,  dC_i/dKtrans = D (S_i - k D U_i),  dC_i/dve = (k D)^2 U_i.
// The running sum carries its own rounding (the exact errors of each product and sum, by FMA), so
// that the curve is exact to a few units in the last place of the same sum over |Cp| however long
// the recursion runs. With `slopes` (2 per point) the derivatives are written too, and in `rounding`
// a bound of each point's rounding: that of the sum and of the product with Ktrans D, and the
// effect of q's own rounding (one unit from exp and two from k D, relative) on the powers q^n,
// Ktrans D sum of n q^n |Cp| times that.
void discreteTofts(const GlobalToftsTables& t, double ktrans, double ve, int delay, double* out,
                   double* slopes = nullptr, double* rounding = nullptr) {
  constexpr double unit = 0x1p-53;
  const int m = int(t.grid.size());
  const double rateStep = ktrans / ve * t.delta;
  const double decay = std::exp(-rateStep);
  const double scale = ktrans * t.delta;
  const double decayRounding = unit * (1 + 2 * std::fabs(rateStep));
  double sum = 0, carry = 0, lagged = 0, absolute = 0, laggedAbsolute = 0;
  for (int i = 0; i < m; ++i) {
    const double value = t.gridInput[std::clamp(i - delay, 0, m - 1)];
    if (slopes) {
      lagged = decay * (lagged + sum);
      laggedAbsolute = decay * (laggedAbsolute + absolute);
    }
    const double product = decay * sum;
    const double productError = std::fma(decay, sum, -product);
    const double next = product + value;
    const double back = next - product;
    const double sumError = (product - (next - back)) + (value - back);
    carry = decay * carry + (productError + sumError);
    sum = next;
    const double whole = sum + carry;
    out[i] = scale * whole;
    if (slopes) {
      slopes[2 * i] = t.delta * (whole - rateStep * lagged);
      slopes[2 * i + 1] = rateStep * rateStep * lagged;
      absolute = decay * absolute + std::fabs(value);
      // The bound sums are themselves rounded (by far less than the 1 % added).
      rounding[i] = 1.01 * std::fabs(scale) * (8 * unit * absolute + decayRounding * laggedAbsolute) +
                    4 * unit * std::fabs(out[i]);
    }
  }
}

// Interval product with the common case of two non-negative factors (a decay factor and a sum of a
// curve that is never negative) done directly.
INTERVAL product(INTERVAL a, INTERVAL b) {
  if (a.lo >= 0 && b.lo >= 0 && a.hi < HUGE_VAL && b.hi < HUGE_VAL) {
    using namespace twk::interval_detail;
    return INTERVAL{down(a.lo * b.lo), up(a.hi * b.hi)};
  }
  return a * b;
}

// a * b, with the common case of a >= 0 (the slope of a conversion that grows with concentration)
// taken from the two end products it needs (the same bits as the general form).
INTERVAL scaledBy(INTERVAL a, INTERVAL b) {
  if (!(a.lo >= 0 && a.hi < HUGE_VAL && b.lo > -HUGE_VAL && b.hi < HUGE_VAL)) return a * b;
  using namespace twk::interval_detail;
  return INTERVAL{down(b.lo >= 0 ? a.lo * b.lo : a.hi * b.lo), up(b.hi >= 0 ? a.hi * b.hi : a.lo * b.hi)};
}

// Caps a bound as the optimiser expects: finite values at most 1e59, anything else 1e60.
double capped(double value) { return std::isfinite(value) ? std::min(value, 1e59) : VOID_VALUE; }

// The least-squares bound (PR_LeastSquaresBoxBound) of the mean squared error over a box of one
// delay step, linearised in (Ktrans, ve) at the box centre, whose curve, slopes and signal the caller
// has computed, together with the concentration enclosures [a, b] of every point and their signals.
// The slope of the signal conversion over [a, b] comes from the conversion itself: the host's
// conversions are each convex or concave in concentration (linear ones, the exponential of the
// susceptibility method, and the gradient-echo forms, concave in R1), so their derivative is
// monotone and lies on [a, b] between the secants just outside it, over [a - w, a] and [b, b + w].
// A secant over [a, b] outside that range, or a point the conversion cannot convert, shows a
// conversion without that shape there: the box then keeps its first-order bound (0 is returned).
double leastSquaresBound(GlobalToftsFit& fit, const INTERVAL* box, int m) {
  const double floor = 1e-9 * std::max(fit.concScale, 1e-6);
  for (int i = 0; i < m; ++i) {
    const double a = fit.lowConc[i], b = fit.highConc[i], size = std::fabs(a) + std::fabs(b);
    const double w = std::max(std::min(b - a, 0.25 * size), 1e-6 * size + floor);
    fit.outerLowConc[i] = a - w;
    fit.outerHighConc[i] = b + w;
  }
  if (!ConcentrationToSignal(fit.outerLowConc.data(), m, fit.outerLowSignal.data(), fit.info, 2) ||
      !ConcentrationToSignal(fit.outerHighConc.data(), m, fit.outerHighSignal.data(), fit.info, 2))
    return 0;
  for (int i = 0; i < m; ++i) {
    const double a = fit.lowConc[i], b = fit.highConc[i];
    const double sl = fit.outerLowSignal[i], sa = fit.lowSignal[i], sb = fit.highSignal[i],
                 sr = fit.outerHighSignal[i];
    if (!(std::fabs(sl) < 1e59 && std::fabs(sa) < 1e59 && std::fabs(sb) < 1e59 && std::fabs(sr) < 1e59)) return 0;
    // The conversion's own rounding, a few units in the last place of each signal.
    const double noise = 0x1p-48 * (std::fabs(sl) + std::fabs(sa) + std::fabs(sb) + std::fabs(sr)) + 1e-300;
    const double wl = a - fit.outerLowConc[i], wr = fit.outerHighConc[i] - b;
    if (!(wl > 0 && wr > 0)) return 0;
    const double left = (sa - sl) / wl, right = (sr - sb) / wr;
    const double margin = 2 * noise / std::min(wl, wr) + 0x1p-48 * (std::fabs(left) + std::fabs(right));
    const INTERVAL slope{std::min(left, right) - margin, std::max(left, right) + margin};
    if (!std::isfinite(slope.lo) || !std::isfinite(slope.hi)) return 0;
    if (b > a) {
      const double across = (sb - sa) / (b - a), acrossMargin = 2 * noise / (b - a);
      if (across < slope.lo - acrossMargin || across > slope.hi + acrossMargin) return 0;
    }
    const double slopeC = IntervalMid(slope);
    fit.jacobian[2 * i] *= slopeC;
    fit.jacobian[2 * i + 1] *= slopeC;
    fit.slopes[2 * i] = scaledBy(slope, fit.concSlopes[2 * i]);
    fit.slopes[2 * i + 1] = scaledBy(slope, fit.concSlopes[2 * i + 1]);
    fit.residual[i] = fit.centreSignal[i] - fit.measured[i];
    fit.slack[i] = std::max(std::fabs(slope.lo), std::fabs(slope.hi)) * fit.centreRounding[i] +
                   0x1p-48 * (std::fabs(fit.centreSignal[i]) + std::fabs(fit.measured[i])) + 1e-300;
  }
  double halfWidth[2];
  for (int j = 0; j < 2; ++j) {
    const double c = IntervalMid(box[j]);
    halfWidth[j] = std::max(c - box[j].lo, box[j].hi - c) * (1 + 0x1p-50);
  }
  const double bound = PR_LeastSquaresBoxBound(m, 2, fit.residual.data(), fit.jacobian.data(), fit.slopes.data(),
                                               halfWidth, fit.slack.data(), fit.work.data(), true);
  return std::isfinite(bound) ? bound / m : 0;
}

// The enclosures of the curve and of its slopes over a box of one delay step, Ktrans >= 0 and an
// input that is never negative: every factor is then non-negative, so each interval operation of
// the general recursion reduces to its end points (without the sign cases).
void linearEnclosures(const GlobalToftsTables& t, int delay, INTERVAL q, INTERVAL scale, INTERVAL rateStep,
                      INTERVAL rateStepSquared, GlobalToftsFit& fit) {
  using twk::interval_detail::down;
  using twk::interval_detail::up;
  const int m = int(t.grid.size());
  const double* input = t.gridInput.data();
  const double delta = t.delta;
  double sumLo = 0, sumHi = 0, lagLo = 0, lagHi = 0;
  for (int i = 0; i < m; ++i) {
    const double value = input[std::clamp(i - delay, 0, m - 1)];
    lagLo = down(q.lo * down(lagLo + sumLo));
    lagHi = up(q.hi * up(lagHi + sumHi));
    sumLo = down(down(q.lo * sumLo) + value);
    sumHi = up(up(q.hi * sumHi) + value);
    fit.lowConc[i] = down(scale.lo * sumLo);
    fit.highConc[i] = up(scale.hi * sumHi);
    const double decayLo = down(rateStep.lo * lagLo), decayHi = up(rateStep.hi * lagHi);
    fit.concSlopes[2 * i] = INTERVAL{down(delta * down(sumLo - decayHi)), up(delta * up(sumHi - decayLo))};
    fit.concSlopes[2 * i + 1] = INTERVAL{down(rateStepSquared.lo * lagLo), up(rateStepSquared.hi * lagHi)};
  }
}

// The mean squared error of the discrete curve at (Ktrans, ve) and a delay step (the curve and its
// signal left in fit.centreConc and fit.centreSignal, with `slopes` its slopes too); 1e60 when it
// cannot be computed.
double pointError(GlobalToftsFit& fit, double ktrans, double ve, int delay, double* slopes) {
  if (!(std::fabs(ve) >= 1e-100)) return VOID_VALUE;
  const int m = int(fit.tables->grid.size());
  discreteTofts(*fit.tables, ktrans, ve, delay, fit.centreConc.data(), slopes, fit.centreRounding.data());
  if (!ConcentrationToSignal(fit.centreConc.data(), m, fit.centreSignal.data(), fit.info)) return VOID_VALUE;
  const double rmse = PR_ComputeRMSE(fit.centreSignal.data(), fit.measured, m);
  return rmse * rmse;
}

// Lower and upper bounds of the mean squared error over the box's Ktrans and ve at the delay steps
// dLow..dHigh. The curve's enclosure follows the recursion S[i] = q * S[i-1] + Cp[i - d] with q the
// interval of exp(-k D) and Cp[i - d] the range of the input over those steps, so every point of
// the box lies inside it (the growth and decay factors of the closed sum would overflow for long
// curves and fast exchange); converted through the monotone signal conversion it bounds each
// point's squared error (first order in the box). With `linearise` (one step, ve > 0, the centre's
// curve, signal and slopes at hand) the least-squares bound of the centre's linearisation
// (leastSquaresBound) is taken too: it closes as the square of the box around the minimum, so that
// the search ends when its enclosure closes. 1e60 for both when the conversion fails.
void enclosureBounds(GlobalToftsFit& fit, const INTERVAL* box, int dLow, int dHigh, bool linearise, double* lower,
                     double* upper) {
  const GlobalToftsTables& t = *fit.tables;
  const int m = int(t.grid.size());
  // k = Ktrans / ve; unbounded when ve may be 0.
  const INTERVAL ve = box[1];
  const INTERVAL rate = (ve.lo <= 0 && ve.hi >= 0) ? INTERVAL{-VOID_VALUE, VOID_VALUE} : box[0] / ve;
  const INTERVAL q = IntervalExp(-rate * t.delta);
  const INTERVAL scale = box[0] * t.delta;
  const INTERVAL rateStep = linearise ? rate * t.delta : INTERVAL{0, 0};
  const INTERVAL rateStepSquared = IntervalSquare(rateStep);
  const double* input = t.gridInput.data();
  if (linearise && t.inputNonNegative && box[0].lo >= 0 && q.lo >= 0 && q.hi < HUGE_VAL && scale.hi < HUGE_VAL &&
      rateStep.hi < HUGE_VAL) {
    linearEnclosures(t, dLow, q, scale, rateStep, rateStepSquared, fit);
  } else {
    INTERVAL sum{0, 0}, lagged{0, 0};
    for (int i = 0; i < m; ++i) {
      INTERVAL value;
      if (dLow == dHigh) {
        value.lo = value.hi = input[std::clamp(i - dLow, 0, m - 1)];
      } else {
        const int first = std::clamp(i - dHigh, 0, m - 1), last = std::clamp(i - dLow, 0, m - 1);
        const auto [lo, hi] = std::minmax_element(input + first, input + last + 1);
        value = INTERVAL{*lo, *hi};
      }
      if (linearise) lagged = product(q, lagged + sum);
      sum = product(q, sum) + value;
      const INTERVAL c = product(scale, sum);
      fit.lowConc[i] = c.lo;
      fit.highConc[i] = c.hi;
      if (linearise) {
        fit.concSlopes[2 * i] = t.delta * (sum - rateStep * lagged);
        fit.concSlopes[2 * i + 1] = rateStepSquared * lagged;
      }
    }
  }
  double low = 0, high = 0;
  if (ConcentrationToSignal(fit.lowConc.data(), m, fit.lowSignal.data(), fit.info, 2) &&
      ConcentrationToSignal(fit.highConc.data(), m, fit.highSignal.data(), fit.info, 2)) {
    for (int i = 0; i < m; ++i) {
      const double e1 = fit.lowSignal[i] - fit.measured[i], e2 = fit.highSignal[i] - fit.measured[i];
      const double eLow = std::min(e1, e2), eHigh = std::max(e1, e2);
      const double s1 = eLow * eLow, s2 = eHigh * eHigh;
      if (eLow <= 0 && eHigh >= 0) {
        high += std::max(s1, s2);
      } else {
        low += std::min(s1, s2);
        high += std::max(s1, s2);
      }
    }
    low /= m;
    high /= m;
    if (linearise && std::isfinite(low)) low = std::max(low, leastSquaresBound(fit, box, m));
  } else {
    low = high = VOID_VALUE;
  }
  *lower = low;
  *upper = high;
}

// A box spanning at most this many delay steps is bounded step by step (the least of the steps'
// bounds), each with its least-squares bound; a wider one at once, to first order.
constexpr int kStepwiseDelays = 4;

// Lower and upper bounds of the mean squared error over the box (Ktrans, ve, delay) and the error
// at its centre. The delay enters as a whole number of grid steps, so the error is a step function
// of it: a box of a few steps takes the least and the largest of its steps' bounds (a step the box
// only touches at its edge still counts), and a box of many steps has its delay halved first.
void M57_CostBounds(void* context, const INTERVAL* box, const double*, const double*, double* lowerBound,
                    double* centreCost, double* upperBound) {
  GlobalToftsFit& fit = *static_cast<GlobalToftsFit*>(context);
  const GlobalToftsTables& t = *fit.tables;
  const double kCentre = IntervalMid(box[0]), veCentre = IntervalMid(box[1]);
  const int dCentre = delaySteps(IntervalMid(box[2]), t.delta);
  if (box[0].lo == box[0].hi && box[1].lo == box[1].hi && box[2].lo == box[2].hi) {
    // A single point (the optimiser's local fits): its cost is all there is to know.
    const double centre = pointError(fit, kCentre, veCentre, dCentre, nullptr);
    *centreCost = capped(centre);
    *lowerBound = std::isnan(centre) ? 0.0 : capped(centre * (1 - 1e-12));
    if (upperBound) *upperBound = capped(centre * (1 + 1e-12));
    return;
  }
  const int dLow = delaySteps(box[2].lo, t.delta), dHigh = delaySteps(box[2].hi, t.delta);
  double centre = VOID_VALUE, low = HUGE_VAL, high = -HUGE_VAL;
  bool undefined = false;
  if (dHigh - dLow < kStepwiseDelays) {
    for (int d = dLow; d <= dHigh; ++d) {
      const bool linearise = box[1].lo > 0;
      const double error = pointError(fit, kCentre, veCentre, d, linearise ? fit.jacobian.data() : nullptr);
      if (d == dCentre) centre = error;
      double stepLow = VOID_VALUE, stepHigh = VOID_VALUE;
      enclosureBounds(fit, box, d, d, linearise && error < VOID_VALUE, &stepLow, &stepHigh);
      undefined = undefined || std::isnan(stepLow);
      low = std::min(low, stepLow);
      high = std::max(high, stepHigh);
    }
    // Steps a whole step apart are parted by halving the delay.
    if (dHigh > dLow && box[2].hi - box[2].lo >= t.delta) PR_SuggestBisectionAxis(2);
  } else {
    centre = pointError(fit, kCentre, veCentre, dCentre, nullptr);
    enclosureBounds(fit, box, dLow, dHigh, false, &low, &high);
    undefined = std::isnan(low);
    PR_SuggestBisectionAxis(2);
  }
  // A lower bound that is not a number keeps the box: 0 never exceeds the true error.
  *lowerBound = undefined ? 0.0 : capped(low);
  *centreCost = capped(centre);
  if (upperBound) *upperBound = capped(high);
}

void M57_ModelClose() { tables() = GlobalToftsTables{}; }

bool M57_ModelInit(const INPUTFUNC* ifuncs) {
  M57_ModelClose();
  GlobalToftsTables t;
  if (!PrepareTimesAndInput(ifuncs, t.times, t.input)) return false;
  const double* p = freeParms(kType);
  t.delta = p[4];
  t.flatlineFactor = p[5];
  t.removeVessels = kit::Rounded(p[6]) != 0;

  // A step of 0 or less would never cover the curve; a tiny one would make a grid beyond any curve.
  if (!(t.delta > 0)) {
    showNamedMessage(L"M57_ModelInit", L"Time delta should be greater than 0");
    return false;
  }
  const double span = acquisition().time[t.times.size() - 1] - acquisition().time[0];
  const double points = std::ceil(span / t.delta) + 1;
  if (!(points <= kMaxPoints)) {
    showNamedMessage(L"M57_ModelInit", L"Too many timepoints");
    return false;
  }
  const int m = int(points);
  t.grid.resize(m);
  for (int i = 0; i < m; ++i) t.grid[i] = i * t.delta;
  t.gridInput.resize(m);
  if (!Resample(t.input.data(), t.times.data(), int(t.times.size()), t.grid.data(), m, t.gridInput.data()))
    return false;
  t.inputNonNegative = std::all_of(t.gridInput.begin(), t.gridInput.end(), [](double v) { return v >= 0; });

  const double minDelay = p[2], maxDelay = p[3];
  if (minDelay > maxDelay) {
    showNamedMessage(L"M57_ModelInit", L"Invalid Input Function delay interval");
    return false;
  }
  const double kmax = p[0] / 60;
  t.bounds[0] = {std::min(0.0, kmax), std::max(0.0, kmax)};
  t.bounds[1] = {std::min(0.01, p[1]), std::max(0.01, p[1])};
  t.bounds[2] = {minDelay, maxDelay};
  t.n = int(t.times.size());
  tables() = std::move(t);
  return true;
}

bool M57_ComputeParms(const CurveCall& call) {
  const GlobalToftsTables& t = tables();
  const int n = call.n;
  if (t.n != n || n < 1) return false;
  const int m = int(t.grid.size());

  std::vector<double> measured(m), conc(m);
  if (!Resample(call.curve, t.times.data(), n, t.grid.data(), m, measured.data())) return false;
  // A sample without a value leaves the error undefined everywhere: the search would spend its whole
  // budget before failing.
  if (!std::all_of(measured.begin(), measured.end(), [](double v) { return std::isfinite(v); })) return false;
  double info[3] = {};
  if (!SignalToConcentration(measured.data(), m, conc.data(), info)) return false;

  double concScale = 0;
  for (double c : conc)
    if (std::fabs(c) < 1e59) concScale = std::max(concScale, std::fabs(c));
  GlobalToftsFit fit(t, measured.data(), info, concScale);

  const Optimisation choice = optimisation(kType);
  INTERVAL bestBox[3], ranges[3], costRange{VOID_VALUE, VOID_VALUE};
  double bestCost = VOID_VALUE, bisections = 0;
  if (!PR_GOWSS_OptimizeBestSol(3, M57_CostBounds, &fit, t.bounds, 1e-8, choice.optB, bestBox, &bestCost, ranges,
                                &costRange, &bisections, kit::ShowsProgress()))
    return false;

  // The three hypotheses: Tofts fit, vessel (stretched input function), flat line.
  const double fitRmse = std::sqrt(bestCost);
  double vesselRmse = VOID_VALUE;
  std::vector<double> vesselSignal(m);
  kit::CoreArray vessel(PR_StretchFit(conc.data(), t.grid.data(), t.gridInput.data(), m, nullptr, nullptr));
  if (vessel && ConcentrationToSignal(vessel.get(), m, vesselSignal.data(), info))
    vesselRmse = PR_ComputeRMSE(vesselSignal.data(), measured.data(), m);
  const double flatRmse = PR_FlatlineRMSE(measured.data(), m);

  std::vector<double> fitted(n);
  const OutputWriter& out = *call.out;
  if (t.removeVessels && vesselRmse < std::min(fitRmse, flatRmse)) {
    std::vector<double> vesselConc(n);
    if (!Resample(vessel.get(), t.grid.data(), m, t.times.data(), n, vesselConc.data())) return false;
    if (!ConcentrationToSignal(vesselConc.data(), n, fitted.data(), info)) return false;
    out.put(0, VOID_VALUE);
    out.put(1, VOID_VALUE);
    out.put(2, VOID_VALUE);
    out.put(3, vesselRmse);
  } else if (flatRmse > t.flatlineFactor * fitRmse) {
    const double ktrans = IntervalMid(bestBox[0]), ve = IntervalMid(bestBox[1]), delay = IntervalMid(bestBox[2]);
    kit::CoreArray model(PR_MakeModel_Ktrans2P(t.input.data(), t.times.data(), n, ktrans, ve, delay));
    if (!model || !ConcentrationToSignal(model.get(), n, fitted.data(), info)) return false;
    const INTERVAL k60 = IntervalOf(ranges[0].lo * 60, ranges[0].hi * 60);
    out.put(0, ktrans * 60, k60.lo, k60.hi);
    out.put(1, ve, ranges[1].lo, ranges[1].hi);
    out.put(2, delay, ranges[2].lo, ranges[2].hi);
    const double costLow = costRange.lo < 0 ? VOID_VALUE : std::sqrt(costRange.lo);
    const double costHigh = costRange.hi < 0 ? VOID_VALUE : std::sqrt(costRange.hi);
    out.put(3, fitRmse, costLow, costHigh);
  } else {
    double mean = 0;
    for (double v : measured) mean += v;
    mean /= m;
    std::fill(fitted.begin(), fitted.end(), mean);
    out.put(0, VOID_VALUE);
    out.put(1, VOID_VALUE);
    out.put(2, VOID_VALUE);
    out.put(3, flatRmse);
  }
  if (call.fitCurve) std::copy(fitted.begin(), fitted.end(), call.fitCurve);
  out.put(4, PR_ComputeRMSE(fitted.data(), call.curve, n));
  return true;
}

}  // namespace

constexpr OutputSpec kOutputs57[] = {
    {"K-trans", "1/min", 1},
    {"Ve", "", 1},
    {"Ta delay", "sec", 1},
    {"residual", "", 1},
    {"original time fit RMSE", "", 1},
};
constexpr FreeParmSpec kFreeParms57[] = {
    {"K-trans max (1/min)", 1},
    {"Ve max", 10},
    {"Min arterial delay (sec)", 0},
    {"Max arterial delay (sec)", 0},
    {"Time delta", 2},
    {"Flatline advantage", 1.01},
    {"Remove blood vessels", 1},
};
const ModelSpec kModel57 = {
    .type = 57,
    .name = "57.  Tofts two compartment exchange model {k-trans,Ve} - GOMR",
    .outputs = kOutputs57,
    .freeParms = kFreeParms57,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(2) | methodBit(7),
    .method = 7, .optA = 1, .optB = 200000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = {.init = M57_ModelInit, .compute = M57_ComputeParms, .close = M57_ModelClose},
};

}  // namespace kin
