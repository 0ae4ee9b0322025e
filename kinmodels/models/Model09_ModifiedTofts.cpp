// Type 9: the modified Tofts model with a vascular fraction,
// C(t) = Va * Cp(t - delay) + (1 - Va) * Ktrans * integral of Cp(tau - delay) * exp(-Ktrans/ve * (t - tau)) d tau,
// fitted in the measured signal domain with the host's conversion. Ktrans is fitted per second and
// reported per minute; the arterial delay in seconds.
//
// Method 4 fits Ktrans, ve, Va and the delay together (grid search plus simplex); method 3 runs one
// fit of Ktrans, ve and Va per whole-second delay from the minimum to the maximum delay.

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "Fitting.h"
#include "Messages.h"
#include "ModelTable.h"
#include "PerfusionCommon.h"
#include "numerics/CurveStats.h"
#include "numerics/Optimize.h"
#include "numerics/PiecewiseLinear.h"

namespace kin {
namespace {

using namespace perfusion;

constexpr int kType = 9;

// Prepared by the init, read-only while curves are computed.
struct ModifiedToftsTables {
  int n = 0;
  std::vector<double> times;  // seconds from the first acquisition
  std::vector<double> input;  // the input function at those times
  int metric = 2;             // 1: L1 distance, 2: RMSE
  bool balanced = true;
  INTERVAL bounds[4];         // Ktrans (1/s), ve, Va, delay (s)
};

ModifiedToftsTables& tables() {
  static ModifiedToftsTables t;
  return t;
}

// The working data of one curve, handed to the cost callbacks.
struct ModifiedToftsFit {
  const ModifiedToftsTables* tables;
  const double* input;     // the delayed input (fixed-delay cost) or the undelayed one
  const double* measured;  // the measured signal
  const double* info;      // the conversion record of the measured curve
  std::vector<double> delayed, conc, signal;
};

// The modified Tofts concentration for the input cp on the times; false when ve is 0.
bool M9_ModifiedToftsCurve(double ktrans, double ve, double va, const double* cp, const double* times, int n,
                           double* out) {
  if (!(std::fabs(ve) >= 1e-100)) return false;
  PR_IntegralFunc_PWL_NegExp(ktrans / ve, cp, times, n, out);
  for (int i = 0; i < n; ++i) out[i] = va * cp[i] + (1 - va) * ktrans * out[i];
  return true;
}

double residual(int metric, const double* fit, const double* measured, int n) {
  return metric == 1 ? PR_FuncDistL1(fit, measured, n) : PR_ComputeRMSE(fit, measured, n);
}

// Cost of (Ktrans, ve, Va) for the input cp; leaves the model's signal in fit.signal.
double evaluate(ModifiedToftsFit& fit, const double* p, const double* cp) {
  const ModifiedToftsTables& t = *fit.tables;
  if (!M9_ModifiedToftsCurve(p[0], p[1], p[2], cp, t.times.data(), t.n, fit.conc.data())) return VOID_VALUE;
  if (!ConcentrationToSignal(fit.conc.data(), t.n, fit.signal.data(), fit.info)) return VOID_VALUE;
  return residual(t.metric, fit.signal.data(), fit.measured, t.n);
}

// x = (Ktrans, ve, Va, delay), the input delayed by the last variable first.
double M9_CostWithDelay(void* context, const double* x, const double* dx) {
  ModifiedToftsFit& fit = *static_cast<ModifiedToftsFit*>(context);
  double p[4];
  for (int i = 0; i < 4; ++i) p[i] = x[i] + (dx ? dx[i] : 0.0);
  const ModifiedToftsTables& t = *fit.tables;
  if (!DelayOnTimes(fit.input, t.times.data(), t.n, p[3], fit.delayed.data())) return VOID_VALUE;
  return evaluate(fit, p, fit.delayed.data());
}

// x = (Ktrans, ve, Va) with the input already delayed.
double M9_CostFixedDelay(void* context, const double* x, const double* dx) {
  ModifiedToftsFit& fit = *static_cast<ModifiedToftsFit*>(context);
  double p[3];
  for (int i = 0; i < 3; ++i) p[i] = x[i] + (dx ? dx[i] : 0.0);
  return evaluate(fit, p, fit.input);
}

void M9_ModelClose() { tables() = ModifiedToftsTables{}; }

bool M9_ModelInit(const INPUTFUNC* ifuncs) {
  M9_ModelClose();
  ModifiedToftsTables t;
  if (!PrepareTimesAndInput(ifuncs, t.times, t.input)) return false;
  const double* p = freeParms(kType);
  if (!kit::ReadMetric(p[4], L"M9_ModelInit", &t.metric)) return false;
  t.balanced = kit::Rounded(p[5]) == 1;
  const double minDelay = p[2], maxDelay = p[3];
  if (minDelay > maxDelay) {
    showNamedMessage(L"M9_ModelInit", L"Invalid Input Function delay interval");
    return false;
  }
  const double kmax = p[0] / 60;
  t.bounds[0] = {std::min(1e-6, kmax), std::max(1e-6, kmax)};
  t.bounds[1] = {std::min(0.01, p[1]), std::max(0.01, p[1])};
  t.bounds[2] = {0, 1};
  t.bounds[3] = {minDelay, maxDelay};
  t.n = int(t.times.size());
  tables() = std::move(t);
  return true;
}

bool M9_ComputeParms(const CurveCall& call) {
  const ModifiedToftsTables& t = tables();
  const int n = call.n;
  if (t.n != n || n < 1) return false;

  double info[3] = {};
  ModifiedToftsFit fit{&t, t.input.data(), call.curve, info, std::vector<double>(n), std::vector<double>(n),
                       std::vector<double>(n)};
  // Only the conversion record is used: the fit compares signals.
  if (!SignalToConcentration(call.curve, n, fit.conc.data(), info)) return false;

  const Optimisation choice = optimisation(kType);
  const double balance = t.balanced ? 0.01 : 0.0;
  std::optional<SingleCurveAnnouncement> announcement;
  if (choice.method == 3) announcement.emplace(kType);

  double best = VOID_VALUE;
  double point[4] = {};
  if (choice.method == 4) {
    if (!PR_OptimizeAmoebaOverGrid(choice.optA, 4, t.bounds, true, M9_CostWithDelay, &fit, choice.optB, balance,
                                   &best, point))
      return false;
  } else if (choice.method == 3) {
    const double minDelay = t.bounds[3].lo, maxDelay = t.bounds[3].hi;
    const long long steps = std::max(2LL, (long long)std::ceil(maxDelay - minDelay) + 1);
    std::vector<double> delayed(n);
    for (long long i = 0; minDelay + double(i) <= maxDelay; ++i) {
      const double delay = minDelay + double(i);
      kit::ReportStep(i, steps);
      if (!DelayOnTimes(t.input.data(), t.times.data(), n, delay, delayed.data())) return false;
      fit.input = delayed.data();
      double cost = VOID_VALUE, x[3] = {};
      if (!PR_OptimizeAmoebaOverGrid(choice.optA, 3, t.bounds, true, M9_CostFixedDelay, &fit, choice.optB, balance,
                                     &cost, x))
        return false;
      if (cost < best) {
        best = cost;
        std::copy_n(x, 3, point);
        point[3] = delay;
      }
    }
    fit.input = t.input.data();
  } else {
    return false;  // the catalogue offers methods 3 and 4 only
  }

  for (int i = 0; i < 4; ++i) point[i] = std::clamp(point[i], t.bounds[i].lo, t.bounds[i].hi);
  if (!DelayOnTimes(t.input.data(), t.times.data(), n, point[3], fit.delayed.data())) return false;
  const double cost = evaluate(fit, point, fit.delayed.data());
  if (cost >= VOID_VALUE) return false;
  if (call.fitCurve) std::copy_n(fit.signal.data(), n, call.fitCurve);

  call.out->put(0, point[0] * 60);
  call.out->put(1, point[1]);
  call.out->put(2, point[2]);
  call.out->put(3, point[3]);
  call.out->put(4, cost);
  return true;
}

}  // namespace

constexpr OutputSpec kOutputs09[] = {
    {"K-trans", "1/min", 1},
    {"Ve", "", 1},
    {"Va", "", 1},
    {"Arterial_delay", "sec", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms09[] = {
    {"K-trans max (1/min)", 5},
    {"Ve max", 10},
    {"Min arterial delay (sec)", 0},
    {"Max arterial delay (sec)", 0},
    {"Use L1\\L2 residual metric", 2},
    {"Use Balanced solution (0\\1)", 1},
};
const ModelSpec kModel09 = {
    .type = 9,
    .name = "9.  Modified Tofts two compartment exchange model {k-trans,Ve,Va}",
    .outputs = kOutputs09,
    .freeParms = kFreeParms09,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(3) | methodBit(4),
    .method = 4, .optA = 7, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = {.init = M9_ModelInit, .compute = M9_ComputeParms, .close = M9_ModelClose},
};

}  // namespace kin
