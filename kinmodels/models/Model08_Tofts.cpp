// Type 8: the Tofts two-compartment exchange model, C(t) = Ktrans * integral of Cp(tau - delay) *
// exp(-Ktrans/ve * (t - tau)) d tau, fitted in the measured signal domain with the host's
// conversion. Ktrans is fitted per second and reported per minute; the arterial delay in seconds.
//
// Method 4 fits Ktrans, ve and the delay together (grid search plus simplex); method 3 runs one
// fit of Ktrans and ve per whole-second delay from the minimum to the maximum delay.

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

constexpr int kType = 8;

// Prepared by the init, read-only while curves are computed.
struct ToftsTables {
  int n = 0;
  std::vector<double> times;  // seconds from the first acquisition
  std::vector<double> input;  // the input function at those times
  int metric = 2;             // 1: L1 distance, 2: RMSE
  bool balanced = true;
  INTERVAL bounds[3];         // Ktrans (1/s), ve, delay (s)
};

ToftsTables& tables() {
  static ToftsTables t;
  return t;
}

// The working data of one curve, handed to the cost callbacks.
struct ToftsFit {
  const ToftsTables* tables;
  const double* input;     // the delayed input (fixed-delay cost) or the undelayed one
  const double* measured;  // the measured signal
  const double* info;      // the conversion record of the measured curve
  std::vector<double> delayed, conc, signal;
};

// The Tofts concentration for the input cp on the times; false when ve is 0.
bool M8_ToftsCurve(double ktrans, double ve, const double* cp, const double* times, int n, double* out) {
  if (!(std::fabs(ve) >= 1e-100)) return false;
  PR_IntegralFunc_PWL_NegExp(ktrans / ve, cp, times, n, out);
  for (int i = 0; i < n; ++i) out[i] *= ktrans;
  return true;
}

double residual(int metric, const double* fit, const double* measured, int n) {
  return metric == 1 ? PR_FuncDistL1(fit, measured, n) : PR_ComputeRMSE(fit, measured, n);
}

// Cost of Ktrans and ve for the input cp; leaves the model's signal in fit.signal.
double evaluate(ToftsFit& fit, double ktrans, double ve, const double* cp) {
  const ToftsTables& t = *fit.tables;
  if (!M8_ToftsCurve(ktrans, ve, cp, t.times.data(), t.n, fit.conc.data())) return VOID_VALUE;
  if (!ConcentrationToSignal(fit.conc.data(), t.n, fit.signal.data(), fit.info)) return VOID_VALUE;
  return residual(t.metric, fit.signal.data(), fit.measured, t.n);
}

// x = (Ktrans, ve, delay), the input delayed by the last variable first.
double M8_CostWithDelay(void* context, const double* x, const double* dx) {
  ToftsFit& fit = *static_cast<ToftsFit*>(context);
  double p[3];
  for (int i = 0; i < 3; ++i) p[i] = x[i] + (dx ? dx[i] : 0.0);
  const ToftsTables& t = *fit.tables;
  if (!DelayOnTimes(fit.input, t.times.data(), t.n, p[2], fit.delayed.data())) return VOID_VALUE;
  return evaluate(fit, p[0], p[1], fit.delayed.data());
}

// x = (Ktrans, ve) with the input already delayed.
double M8_CostFixedDelay(void* context, const double* x, const double* dx) {
  ToftsFit& fit = *static_cast<ToftsFit*>(context);
  const double ktrans = x[0] + (dx ? dx[0] : 0.0);
  const double ve = x[1] + (dx ? dx[1] : 0.0);
  return evaluate(fit, ktrans, ve, fit.input);
}

void M8_ModelClose() { tables() = ToftsTables{}; }

bool M8_ModelInit(const INPUTFUNC* ifuncs) {
  M8_ModelClose();
  ToftsTables t;
  if (!PrepareTimesAndInput(ifuncs, t.times, t.input)) return false;
  const double* p = freeParms(kType);
  if (!kit::ReadMetric(p[4], L"M8_ModelInit", &t.metric)) return false;
  t.balanced = kit::Rounded(p[5]) == 1;
  const double minDelay = p[2], maxDelay = p[3];
  if (minDelay > maxDelay) {
    showNamedMessage(L"M8_ModelInit", L"Invalid Input Function delay interval");
    return false;
  }
  const double kmax = p[0] / 60;
  t.bounds[0] = {std::min(1e-6, kmax), std::max(1e-6, kmax)};
  t.bounds[1] = {std::min(0.01, p[1]), std::max(0.01, p[1])};
  t.bounds[2] = {minDelay, maxDelay};
  t.n = int(t.times.size());
  tables() = std::move(t);
  return true;
}

bool M8_ComputeParms(const CurveCall& call) {
  const ToftsTables& t = tables();
  const int n = call.n;
  if (t.n != n || n < 1) return false;

  double info[3] = {};
  ToftsFit fit{&t, t.input.data(), call.curve, info, std::vector<double>(n), std::vector<double>(n),
               std::vector<double>(n)};
  // Only the conversion record is used: the fit compares signals.
  if (!SignalToConcentration(call.curve, n, fit.conc.data(), info)) return false;

  const Optimisation choice = optimisation(kType);
  const double balance = t.balanced ? 0.01 : 0.0;
  std::optional<SingleCurveAnnouncement> announcement;
  if (choice.method == 3) announcement.emplace(kType);

  double best = VOID_VALUE;
  double point[3] = {};
  if (choice.method == 4) {
    if (!PR_OptimizeAmoebaOverGrid(choice.optA, 3, t.bounds, true, M8_CostWithDelay, &fit, choice.optB, balance,
                                   &best, point))
      return false;
  } else if (choice.method == 3) {
    const double minDelay = t.bounds[2].lo, maxDelay = t.bounds[2].hi;
    const long long steps = std::max(2LL, (long long)std::ceil(maxDelay - minDelay) + 1);
    std::vector<double> delayed(n);
    for (long long i = 0; minDelay + double(i) <= maxDelay; ++i) {
      const double delay = minDelay + double(i);
      kit::ReportStep(i, steps);
      if (!DelayOnTimes(t.input.data(), t.times.data(), n, delay, delayed.data())) return false;
      fit.input = delayed.data();
      double cost = VOID_VALUE, x[2] = {};
      if (!PR_OptimizeAmoebaOverGrid(choice.optA, 2, t.bounds, true, M8_CostFixedDelay, &fit, choice.optB, balance,
                                     &cost, x))
        return false;
      if (cost < best) {
        best = cost;
        point[0] = x[0];
        point[1] = x[1];
        point[2] = delay;
      }
    }
    fit.input = t.input.data();
  } else {
    return false;  // the catalogue offers methods 3 and 4 only
  }

  for (int i = 0; i < 3; ++i) point[i] = std::clamp(point[i], t.bounds[i].lo, t.bounds[i].hi);
  if (!DelayOnTimes(t.input.data(), t.times.data(), n, point[2], fit.delayed.data())) return false;
  const double cost = evaluate(fit, point[0], point[1], fit.delayed.data());
  if (cost >= VOID_VALUE) return false;
  if (call.fitCurve) std::copy_n(fit.signal.data(), n, call.fitCurve);

  call.out->put(0, point[0] * 60);
  call.out->put(1, point[1]);
  call.out->put(2, point[2]);
  call.out->put(3, cost);
  return true;
}

}  // namespace

constexpr OutputSpec kOutputs08[] = {
    {"K-trans", "1/min", 1},
    {"Ve", "", 1},
    {"Ta delay", "sec", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms08[] = {
    {"K-trans max (1/min)", 5},
    {"Ve max", 10},
    {"Min arterial delay (sec)", 0},
    {"Max arterial delay (sec)", 0},
    {"Use L1\\L2 residual metric", 2},
    {"Use balanced solution (0\\1)", 1},
};
const ModelSpec kModel08 = {
    .type = 8,
    .name = "8.  Tofts two compartment exchange model {k-trans,Ve}",
    .outputs = kOutputs08,
    .freeParms = kFreeParms08,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(3) | methodBit(4),
    .method = 4, .optA = 11, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = {.init = M8_ModelInit, .compute = M8_ComputeParms, .close = M8_ModelClose},
};

}  // namespace kin
