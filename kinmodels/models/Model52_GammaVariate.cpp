// Type 52, gamma-variate bolus fit: Y(t) = K * u^alpha * exp(-u / beta), u = (t - TA) / Tspan for
// t >= TA and 0 before, with t relative to the first time and Tspan the last relative time.
//
// The curve is fitted as concentration. Each arrival time TA from "Minimal Time of Arrival (sec)"
// to "Maximal Time of Arrival (sec)" in steps of 0.1 s gets its own interval search of K, alpha
// and 1/beta; the TA with the smallest RMSE wins.

#include <algorithm>
#include <cmath>
#include <vector>

#include "CurveUtils.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelTable.h"
#include "MrSignalModels.h"
#include "TwkMem.h"
#include "numerics/CurveTools.h"
#include "numerics/Optimize.h"

namespace kin {
namespace {

constexpr int kType = 52;
constexpr double kArrivalStep = 0.1;
enum Output { kK, kAlpha, kBeta, kArrival, kResidual };

// Prepared by init; read-only while curves are computed.
struct Tables {
  std::vector<double> relativeTimes;
  double arrivalMin = 0, arrivalMax = 0;
  double span = 0;  // the last relative time
} tables;

void M52_ModelClose() { tables.relativeTimes = {}; }

bool M52_ModelInit(const INPUTFUNC*) {
  const Acquisition& acq = acquisition();
  const int n = acq.n;
  if (n < 4) {
    showNamedMessage(L"M52_ModelInit", L"This model requires at least 4 dynamic points");
    return false;
  }
  tables.relativeTimes.resize(n);
  for (int i = 0; i < n; ++i) tables.relativeTimes[i] = acq.time[i] - acq.time[0];
  tables.arrivalMin = freeParm(kType, 0);
  tables.arrivalMax = freeParm(kType, 1);
  tables.span = tables.relativeTimes[n - 1];
  return true;
}

struct CostData {
  int count;
  double arrival;
  double span;
};

double gammaVariate(double t, double arrival, double span, double k, double alpha, double inverseBeta) {
  if (t < arrival) return 0;
  const double u = (t - arrival) / span;
  return k * std::pow(u, alpha) * std::exp(-u * inverseBeta);
}

// Sum of squared residuals over a box (K, alpha, 1/beta) for one arrival time. u >= 0 is fixed per
// point, so u^alpha and exp(-u / beta) are monotone in their one variable.
void boxCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
             double* centreCost, double* upperBound) {
  const CostData& d = *static_cast<const CostData*>(context);
  const INTERVAL k = box[0], alpha = box[1], inverseBeta = box[2];
  const double kC = IntervalMid(k), alphaC = IntervalMid(alpha), ibC = IntervalMid(inverseBeta);
  mr::ResidualSum sum;
  for (int i = 0; i < d.count; ++i) {
    const double centre = gammaVariate(x[i], d.arrival, d.span, kC, alphaC, ibC);
    if (x[i] < d.arrival) {
      sum.add(IntervalPoint(0), centre, y[i]);
      continue;
    }
    const double u = (x[i] - d.arrival) / d.span;
    const INTERVAL power = mr::widen(IntervalOf(std::pow(u, alpha.lo), std::pow(u, alpha.hi)));
    const INTERVAL damping = mr::widen(IntervalOf(std::exp(-u * inverseBeta.lo), std::exp(-u * inverseBeta.hi)));
    sum.add(k * power * damping, centre, y[i]);
  }
  sum.report(1, lowerBound, centreCost, upperBound);
}

bool M52_ComputeParms(const CurveCall& call) {
  SingleCurveAnnouncement announce(kType);
  const bool show = acquisition().calcMode == kCalcModeSingleCurve;
  const int n = call.n;
  std::vector<double> conc(n);
  if (!SignalToConcentration(call.curve, n, conc.data())) return false;
  const double* t = tables.relativeTimes.data();
  const double first = tables.arrivalMin, last = tables.arrivalMax;
  const int steps = std::max(1, int(std::ceil((last - first) / kArrivalStep)) + 1);
  const int budget = optimisation(kType).optB;

  double bestRmse = VOID_VALUE, k = 0, alpha = 0, beta = 0, arrival = 0;
  INTERVAL rmseRange{VOID_VALUE, VOID_VALUE};
  // The arrival times are counted, not accumulated, so that the last one is not lost to rounding.
  for (int step = 0;; ++step) {
    const double ta = first + step * kArrivalStep;
    if (ta > last + 1e-9) break;
    if (!PR_SendMessageInterval(1, 98, step, steps, show)) return false;
    double* shifted = PR_DelayThisFunction(conc.data(), t, n, ta);
    if (!shifted) return false;
    const double peak = *std::max_element(shifted, shifted + n);
    pf_free(&shifted);
    const INTERVAL box[3] = {IntervalOf(0.1 * peak, 10 * peak), {0.01, 100}, {0.001, 100}};
    CostData data{n, ta, tables.span};
    INTERVAL best[3], costRange{};
    double bestCost = VOID_VALUE;
    if (!PR_GO_NonconstrCostOptimizeSLX(3, boxCost, &data, box, conc.data(), t, 1e-8, 1e-6, budget, best, &bestCost,
                                        nullptr, &costRange, nullptr, false))
      continue;
    const double rmse = std::sqrt(bestCost / n);
    if (rmse < bestRmse) {
      bestRmse = rmse;
      k = IntervalMid(best[0]);
      alpha = IntervalMid(best[1]);
      beta = 1 / IntervalMid(best[2]);
      arrival = ta;
      rmseRange = IntervalOf(mr::rootOrVoid(costRange.lo / n), mr::rootOrVoid(costRange.hi / n));
    }
  }
  // No arrival time in range, or no fit at any: nothing was fitted.
  if (bestRmse == VOID_VALUE) return false;

  if (call.fitCurve) {
    std::vector<double> model(n);
    for (int i = 0; i < n; ++i) model[i] = gammaVariate(t[i], arrival, tables.span, k, alpha, 1 / beta);
    if (!ConcentrationToSignal(model.data(), n, call.fitCurve)) return false;
  }
  const OutputWriter& out = *call.out;
  out.put(kK, k);
  out.put(kAlpha, alpha);
  out.put(kBeta, beta);
  out.put(kArrival, arrival);
  out.put(kResidual, bestRmse, rmseRange.lo, rmseRange.hi);
  return true;
}

constexpr ModelOps kOps = {.init = M52_ModelInit, .compute = M52_ComputeParms, .close = M52_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs52[] = {
    {"K", "", 8},
    {"alpha", "", 1},
    {"beta", "", 8},
    {"TA", "sec", 1},
    {"residual", "", 8},
};
constexpr FreeParmSpec kFreeParms52[] = {
    {"Minimal Time of Arrival (sec)", 0},
    {"Maximal Time of Arrival (sec)", 0},
};
const ModelSpec kModel52 = {
    .type = 52,
    .name = "52. Gamma Variate fit: Y(t) = K*((t-TA)/Tspan)^alpha*exp(-(t-TA)/Tspan/beta)",
    .outputs = kOutputs52,
    .freeParms = kFreeParms52,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModCT | kModMR | kModPET,
    .allowedOptimization = methodBit(2) | methodBit(7),
    .method = 7, .optA = 0, .optB = 50000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};

}  // namespace kin
