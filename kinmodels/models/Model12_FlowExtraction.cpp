// Type 12, flow, extraction and transit time: the tissue curve is the input function convolved with
// an impulse response that is flat at the flow F during the capillary transit time Tc and then
// drops to E F and decays with the rate E F / Ve,
//   R(t) = F for t < Tc,  R(t) = E F exp(-E F (t - Tc) / Ve) after it,
// sampled as a piecewise-linear curve (half-second steps after Tc) and convolved exactly with the
// piecewise-linear input. Fitted in signal units through the host's conversions.

#include <algorithm>
#include <cmath>
#include <vector>

#include "numerics/CurveTools.h"
#include "CurveUtils.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelKit.h"
#include "ModelTable.h"
#include "numerics/Optimize.h"
#include "numerics/PwlCalculus.h"

namespace kin {
namespace {

constexpr int kType = 12;
constexpr int kMaxTimepoints = 256;
enum Output { kE, kF, kTc, kVe, kResidual };

struct FlowTables {
  int n = 0;
  std::vector<double> times;        // seconds from the first frame
  std::vector<double> inputPoints;  // (time, value) pairs of the input function
  INTERVAL bounds[4];               // E, F (per second), Tc (s), Ve
};

FlowTables& tables() {
  static FlowTables t;
  return t;
}

struct FlowFit {
  const FlowTables* tables;
  const double* measured;
  const double* info;
  std::vector<double> impulse, conc, signal;
};

// The impulse response as (time, value) points; its point count.
int AathImpulse(const FlowTables& t, double E, double F, double Tc, double Ve, std::vector<double>& points) {
  const double last = t.times[t.n - 1];
  const double tc = std::min(Tc, last);
  const int m = int(std::floor((last - tc) * 2));
  points.clear();
  const auto add = [&](double time, double value) {
    points.push_back(time);
    points.push_back(value);
  };
  add(0, F);
  add(tc, F);
  add(tc, E * F);
  for (int i = 1; i <= m; ++i) {
    const double d = tc + 0.5 * i;
    add(d, E * F * std::exp(-E * F * (d - tc) / Ve));
  }
  add(last, E * F * std::exp(-E * F * (last - tc) / Ve));
  return m + 4;
}

bool M12_ModelCurve(FlowFit& fit, const double* p) {
  const FlowTables& t = *fit.tables;
  const int count = AathImpulse(t, p[0], p[1], p[2], p[3], fit.impulse);
  return PR_ConvolutePWL(t.inputPoints.data(), t.n, fit.impulse.data(), count, t.times.data(), t.n, fit.conc.data());
}

double M12_Cost(void* context, const double* x, const double* dx) {
  FlowFit& fit = *static_cast<FlowFit*>(context);
  const FlowTables& t = *fit.tables;
  double p[4];
  kit::CostPoint(x, dx, 4, p);
  if (!M12_ModelCurve(fit, p)) return VOID_VALUE;
  if (!ConcentrationToSignal(fit.conc.data(), t.n, fit.signal.data(), fit.info)) return VOID_VALUE;
  const double cost = std::sqrt(PR_IntegrateDiffL2_PWL(fit.signal.data(), fit.measured, t.times.data(), t.n));
  return std::isfinite(cost) ? cost : VOID_VALUE;
}

void M12_ModelClose() { tables() = FlowTables{}; }

bool M12_ModelInit(const INPUTFUNC* ifuncs) {
  const int n = acquisition().n;
  if (n > kMaxTimepoints) {
    showNamedMessage(L"M12_ModelInit", L"Number of timepoints exceeds the maximum allowed for this model");
    return false;
  }
  if (ifuncs[0].count != n) {
    showNamedMessage(L"M12_ModelInit", L"Input functions is missing or incorrect");
    return false;
  }
  FlowTables t;
  if (!PrepareAndCheckTimeArr(n, t.times)) return false;
  std::vector<double> input;
  if (!kit::Take(PR_PrepareInputFunc(ifuncs, t.times.data(), n), n, input)) return false;
  t.inputPoints.resize(2 * size_t(n));
  PairInterleave(input.data(), t.times.data(), n, t.inputPoints.data());
  const double last = t.times[n - 1];
  t.bounds[0] = {0.01, 1};
  t.bounds[1] = {1.0 / 1200, 5.0 / 3};
  t.bounds[2] = {std::min({1.0, last, 100.0}), std::max(std::min(1.0, last), std::min(100.0, last))};
  t.bounds[3] = {0.1, 1};
  t.n = n;
  tables() = std::move(t);
  return true;
}

bool M12_ComputeParms(const CurveCall& call) {
  const FlowTables& t = tables();
  const int n = call.n;
  double info[3] = {};
  FlowFit fit{&t, call.curve, info, {}, std::vector<double>(n), std::vector<double>(n)};
  if (!SignalToConcentration(call.curve, n, fit.conc.data(), info)) return false;
  if (*std::max_element(fit.conc.begin(), fit.conc.end()) < 0.01) return false;
  const Optimisation choice = optimisation(kType);
  double best = VOID_VALUE, p[4] = {};
  if (!PR_OptimizeAmoebaOverGrid(choice.optA, 4, t.bounds, true, M12_Cost, &fit, choice.optB, 0, &best, p))
    return false;
  if (call.fitCurve) {
    if (!M12_ModelCurve(fit, p) || !ConcentrationToSignal(fit.conc.data(), n, call.fitCurve, info)) return false;
  }
  const OutputWriter& out = *call.out;
  out.put(kE, p[0]);
  out.put(kF, p[1] * 60);
  out.put(kTc, p[2]);
  out.put(kVe, p[3]);
  out.put(kResidual, best);
  return true;
}

constexpr ModelOps kOps = {.init = M12_ModelInit, .compute = M12_ComputeParms, .close = M12_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs12[] = {
    {"E", "", 1},
    {"F", "1/min", 1},
    {"Tc", "sec", 1},
    {"Ve", "", 1},
    {"residual", "", 1},
};
const ModelSpec kModel12 = {
    .type = 12,
    .name = "",
    .outputs = kOutputs12,
    .freeParms = {},
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 3, .optB = 500,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};
}  // namespace kin
