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
  double flatlineFactor = 1.01;
  bool removeVessels = true;
  INTERVAL bounds[3];             // Ktrans (1/s), ve, delay (s)
};

GlobalToftsTables& tables() {
  static GlobalToftsTables t;
  return t;
}

// The working data of one curve, handed to the box cost.
struct GlobalToftsFit {
  const GlobalToftsTables* tables;
  const double* measured;  // the measured signal on the grid
  const double* info;      // its conversion record
  std::vector<double> lowConc{}, highConc{}, lowSignal{}, highSignal{}, centreConc{}, centreSignal{};
};

int delaySteps(double delay, double delta) { return int(std::lround(delay / delta)); }

// The discrete Tofts curve at one point (Ktrans, ve and the delay in grid steps).
void discreteTofts(const GlobalToftsTables& t, double ktrans, double ve, int delay, double* out) {
  const int m = int(t.grid.size());
  const double decay = std::exp(-ktrans / ve * t.delta);
  double sum = 0;
  for (int i = 0; i < m; ++i) {
    const int j = std::clamp(i - delay, 0, m - 1);
    sum = decay * sum + t.gridInput[j];
    out[i] = ktrans * t.delta * sum;
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

// Caps a bound as the optimiser expects: finite values at most 1e59, anything else 1e60.
double capped(double value) { return std::isfinite(value) ? std::min(value, 1e59) : VOID_VALUE; }

// Lower and upper bounds of the mean squared error over the box (Ktrans, ve, delay) and the error
// at its centre. The curve's enclosure follows the recursion S[i] = q * S[i-1] + Cp[i - d] with q
// the interval of exp(-k D) and Cp[i - d] the range of the input over the box's delays, so every
// point of the box lies inside it (the growth and decay factors of the closed sum would overflow
// for long curves and fast exchange).
void M57_CostBounds(void* context, const INTERVAL* box, const double*, const double*, double* lowerBound,
                    double* centreCost, double* upperBound) {
  GlobalToftsFit& fit = *static_cast<GlobalToftsFit*>(context);
  const GlobalToftsTables& t = *fit.tables;
  const int m = int(t.grid.size());

  // k = Ktrans / ve; unbounded when ve may be 0.
  const INTERVAL ve = box[1];
  const INTERVAL rate = (ve.lo <= 0 && ve.hi >= 0) ? INTERVAL{-VOID_VALUE, VOID_VALUE} : box[0] / ve;
  const INTERVAL q = IntervalExp(-rate * t.delta);
  const INTERVAL scale = box[0] * t.delta;
  const int dLow = delaySteps(box[2].lo, t.delta), dHigh = delaySteps(box[2].hi, t.delta);
  const double* input = t.gridInput.data();
  INTERVAL sum{0, 0};
  for (int i = 0; i < m; ++i) {
    INTERVAL value;
    if (dLow == dHigh) {
      value.lo = value.hi = input[std::clamp(i - dLow, 0, m - 1)];
    } else {
      const int first = std::clamp(i - dHigh, 0, m - 1), last = std::clamp(i - dLow, 0, m - 1);
      const auto [lo, hi] = std::minmax_element(input + first, input + last + 1);
      value = INTERVAL{*lo, *hi};
    }
    sum = product(q, sum) + value;
    const INTERVAL c = product(scale, sum);
    fit.lowConc[i] = c.lo;
    fit.highConc[i] = c.hi;
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
  } else {
    low = high = VOID_VALUE;
  }

  double centre = VOID_VALUE;
  const double kCentre = IntervalMid(box[0]), veCentre = IntervalMid(box[1]);
  if (std::fabs(veCentre) >= 1e-100) {
    discreteTofts(t, kCentre, veCentre, delaySteps(IntervalMid(box[2]), t.delta), fit.centreConc.data());
    if (ConcentrationToSignal(fit.centreConc.data(), m, fit.centreSignal.data(), fit.info)) {
      const double rmse = PR_ComputeRMSE(fit.centreSignal.data(), fit.measured, m);
      centre = rmse * rmse;
    }
  }
  // A lower bound that is not a number keeps the box: 0 never exceeds the true error.
  *lowerBound = std::isnan(low) ? 0.0 : capped(low);
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
  double info[3] = {};
  if (!SignalToConcentration(measured.data(), m, conc.data(), info)) return false;

  GlobalToftsFit fit{&t, measured.data(), info};
  for (auto* v : {&fit.lowConc, &fit.highConc, &fit.lowSignal, &fit.highSignal, &fit.centreConc, &fit.centreSignal})
    v->resize(m);

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
