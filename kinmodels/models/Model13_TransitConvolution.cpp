// Type 13, the transit model by input-function convolution: the measured curve is the input
// convolved with an impulse response that stays at the level K up to the minimum transit time Ti
// and then decays with the rate b,
//   R(t) = K for t <= Ti,  R(t) = K exp(-b (t - Ti)) after it.
// R is sampled as a piecewise-linear curve within a tolerance set by "Convolution precision" and
// convolved exactly with the input. A full grid over (b, Ti, K) is refined by a simplex.

#include <algorithm>
#include <cmath>
#include <vector>

#include "CurveUtils.h"
#include "Messages.h"
#include "ModelKit.h"
#include "ModelTable.h"
#include "numerics/Optimize.h"
#include "numerics/PwlCalculus.h"
#include "TwkMem.h"

namespace kin {
namespace {

constexpr int kType = 13;
enum Output { kRate, kTransitTime, kLevel, kResidual };

struct TransitTables {
  int m = 0;                        // points from the first time change
  std::vector<double> times;        // seconds from the frame before the first change
  std::vector<double> inputPoints;  // (time, value) pairs of the input
  double tolerance = 0.01;
  std::vector<double> rates, transits, levels;  // the grid
};

TransitTables& tables() {
  static TransitTables t;
  return t;
}

struct TransitParameters {
  double b, Ti, K;
};

double TransitImpulse(void* context, double t, double* secondDerivative) {
  const auto& p = *static_cast<const TransitParameters*>(context);
  if (t <= p.Ti) {
    *secondDerivative = 0;
    return p.K;
  }
  const double value = p.K * std::exp(-p.b * (t - p.Ti));
  *secondDerivative = p.b * p.b * value;
  return value;
}

struct TransitFit {
  const TransitTables* tables;
  const double* curve;
  std::vector<double> model;
};

double M13_Cost(void* context, const double* x, const double* dx) {
  TransitFit& fit = *static_cast<TransitFit*>(context);
  const TransitTables& t = *fit.tables;
  TransitParameters p{x[0] + (dx ? dx[0] : 0.0), x[1] + (dx ? dx[1] : 0.0), x[2] + (dx ? dx[2] : 0.0)};
  const double first = t.times[0], last = t.times[t.m - 1];
  double breakpoints[3] = {first, std::clamp(p.Ti, first, last), last};
  int nBreakpoints = 3;
  if (breakpoints[1] <= first || breakpoints[1] >= last) {
    breakpoints[1] = last;
    nBreakpoints = 2;
  }
  int count = 0;
  double* points = PR_InterpolateAnalyticFunctionD3_PWL(TransitImpulse, &p, breakpoints, nBreakpoints, t.tolerance,
                                                        0.1, &count);
  if (!points) return VOID_VALUE;
  const bool ok = PR_ConvolutePWL(t.inputPoints.data(), t.m, points, count, t.times.data(), t.m, fit.model.data());
  pf_free(&points);
  if (!ok) return VOID_VALUE;
  const double cost = CurveRmsDiff(fit.model.data(), fit.curve, t.m);
  return std::isfinite(cost) ? cost : VOID_VALUE;
}

void M13_ModelClose() { tables() = TransitTables{}; }

std::vector<double> GridOf(double first, double last, int count) {
  std::vector<double> values(std::max(count, 1), first);
  for (int i = 1; i < count; ++i) values[i] = first + i * (last - first) / (count - 1);
  return values;
}

bool M13_ModelInit(const INPUTFUNC* ifuncs) {
  const Acquisition& acq = acquisition();
  const int n = acq.n;
  if (ifuncs[0].count != n) {
    showNamedMessage(L"M13_ModelInit", L"Input functions is missing or incorrect");
    return false;
  }
  TransitTables t;
  t.times = RelativeTimesFromFirstChange(acq.time, n);
  t.m = int(t.times.size());
  if (t.m < 2) return false;
  t.inputPoints.resize(2 * size_t(t.m));
  PairInterleave(ifuncs[0].values, t.times.data(), t.m, t.inputPoints.data());
  const double area = PR_IntegratePWL(t.inputPoints.data(), t.m);
  const double precision = freeParm(kType, 0);
  t.tolerance = std::fabs(area) > 1e-100 ? precision / area : precision;
  const int gridPoints = std::max(1, optimisation(kType).optA);
  t.rates = GridOf(1, 30, gridPoints);
  t.transits = GridOf(0, 20, gridPoints);
  t.levels = GridOf(0, 10, gridPoints);
  tables() = std::move(t);
  return true;
}

bool M13_ComputeParms(const CurveCall& call) {
  const TransitTables& t = tables();
  if (*std::max_element(call.curve, call.curve + t.m) < 0.01) return false;
  TransitFit fit{&t, call.curve, std::vector<double>(t.m)};
  double best = VOID_VALUE, base[3] = {t.rates[0], t.transits[0], t.levels[0]};
  for (double b : t.rates)
    for (double ti : t.transits)
      for (double k : t.levels) {
        const double x[3] = {b, ti, k};
        const double cost = M13_Cost(&fit, x, nullptr);
        if (cost < best) {
          best = cost;
          std::copy(x, x + 3, base);
        }
      }
  if (!(best < VOID_VALUE)) return false;
  const auto step = [](const std::vector<double>& grid) { return grid.size() > 1 ? grid[1] - grid[0] : 0.0; };
  const double steps[3] = {step(t.rates) / 100, step(t.transits) / 100, step(t.levels) / 100};
  double offset[3] = {0, 0, 0};
  double cost = best;
  const Optimisation choice = optimisation(kType);
  if (!PR_AmoebaPlus(M13_Cost, &fit, base, 3, offset, steps, 100.0, choice.optB, &cost)) return false;
  double point[3] = {base[0] + offset[0], base[1] + offset[1], base[2] + offset[2]};
  // The refinement stays within one grid step of the best grid point, and the grid is coarse (K in
  // steps of 2 with the defaults): curves whose level or transit time falls between grid points can
  // leave the best grid point in another basin. The global search over the grid's box, with the
  // grid's own counts and the same simplex budget, finds the basin; the lower of the two ends wins.
  const INTERVAL box[3] = {{t.rates.front(), t.rates.back()},
                           {t.transits.front(), t.transits.back()},
                           {t.levels.front(), t.levels.back()}};
  double globalCost = VOID_VALUE, global[3] = {};
  if (PR_OptimizeAmoebaOverGrid(int(t.rates.size()), 3, box, true, M13_Cost, &fit, choice.optB, 0, &globalCost,
                                global) &&
      globalCost < cost) {
    cost = globalCost;
    std::copy(global, global + 3, point);
  }
  const OutputWriter& out = *call.out;
  out.put(kRate, point[0]);
  out.put(kTransitTime, point[1]);
  out.put(kLevel, point[2]);
  out.put(kResidual, cost);
  return true;
}

constexpr ModelOps kOps = {.init = M13_ModelInit, .compute = M13_ComputeParms, .close = M13_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs13[] = {
    {"Ki blood flow", "", 1},
    {"Ti minimum transit time", "sec", 1},
    {"voxel blood volume", "", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms13[] = {
    {"Convolution precision", 0.01},
};
const ModelSpec kModel13 = {
    .type = 13,
    .name = "13. Transit Model {wa,ki,kti} (AIF convolution)",
    .outputs = kOutputs13,
    .freeParms = kFreeParms13,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 6, .optB = 200,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};
}  // namespace kin
