// Type 10, RPF and vACx by input-function integration: the tissue curve is the arterial input
// passed through a first-order filter of rate k = RPF / vACx,
//   M(t) = k * integral of A(tau) exp(-k (t - tau)) d tau,
// computed exactly for the piecewise-linear input, and fitted in signal units through the host's
// conversions by a grid search and simplex over (RPF, vACx).

#include <algorithm>
#include <cmath>
#include <vector>

#include "numerics/CurveStats.h"
#include "numerics/CurveTools.h"
#include "CurveUtils.h"
#include "Fitting.h"
#include "ModelKit.h"
#include "ModelTable.h"
#include "numerics/Optimize.h"

namespace kin {
namespace {

constexpr int kType = 10;
enum Output { kRpf, kVacx, kResidual };

struct RpfTables {
  int n = 0;
  std::vector<double> times;  // seconds from the first frame
  std::vector<double> input;  // the input function at those times
  std::vector<double> slope, intercept;  // of the input per interval i = 1..n-1
  INTERVAL bounds[2];          // RPF, vACx
};

RpfTables& tables() {
  static RpfTables t;
  return t;
}

struct RpfFit {
  const RpfTables* tables;
  const double* measured;
  const double* info;
  std::vector<double> model, signal;
};

void RpfModelCurve(const RpfTables& t, double rpf, double vacx, double* out) {
  const int n = t.n;
  const double k = rpf / vacx;
  const double* time = t.times.data();
  if (!(std::fabs(k) * time[n - 1] < 300)) {
    std::copy(t.input.begin(), t.input.end(), out);
    return;
  }
  out[0] = 0;
  double sum = 0, previous = std::exp(k * time[0]);
  for (int i = 1; i < n; ++i) {
    const double e = std::exp(k * time[i]);
    sum += (t.intercept[i] - t.slope[i] / k) * (e - previous) + t.slope[i] * (time[i] * e - time[i - 1] * previous);
    out[i] = sum / e;
    previous = e;
  }
}

double M10_Cost(void* context, const double* x, const double* dx) {
  RpfFit& fit = *static_cast<RpfFit*>(context);
  const RpfTables& t = *fit.tables;
  RpfModelCurve(t, x[0] + (dx ? dx[0] : 0.0), x[1] + (dx ? dx[1] : 0.0), fit.model.data());
  if (!ConcentrationToSignal(fit.model.data(), t.n, fit.signal.data(), fit.info)) return VOID_VALUE;
  const double cost = PR_ComputeRMSE(fit.signal.data(), fit.measured, t.n);
  return std::isfinite(cost) ? cost : VOID_VALUE;
}

void M10_ModelClose() { tables() = RpfTables{}; }

bool M10_ModelInit(const INPUTFUNC* ifuncs) {
  const int n = acquisition().n;
  RpfTables t;
  if (!PrepareAndCheckTimeArr(n, t.times)) return false;
  if (!kit::Take(PR_PrepareInputFunc(ifuncs, t.times.data(), n), n, t.input)) return false;
  const double rpfMax = freeParm(kType, 0), vaMax = freeParm(kType, 1);
  t.bounds[0] = {std::min(0.001, rpfMax), std::max(0.001, rpfMax)};
  t.bounds[1] = {std::min(0.001, vaMax), std::max(0.001, vaMax)};
  t.slope.assign(n, 0.0);
  t.intercept.assign(n, 0.0);
  for (int i = 1; i < n; ++i) {
    const double dt = t.times[i] - t.times[i - 1];
    t.slope[i] = dt > 0 ? (t.input[i] - t.input[i - 1]) / dt : 0.0;
    t.intercept[i] = t.input[i - 1] - t.times[i - 1] * t.slope[i];
  }
  t.n = n;
  tables() = std::move(t);
  return true;
}

bool M10_ComputeParms(const CurveCall& call) {
  const RpfTables& t = tables();
  const int n = call.n;
  double info[3] = {};
  RpfFit fit{&t, call.curve, info, std::vector<double>(n), std::vector<double>(n)};
  if (!SignalToConcentration(call.curve, n, fit.model.data(), info)) return false;
  const SingleCurveAnnouncement announcement(kType);
  const Optimisation choice = optimisation(kType);
  double best = VOID_VALUE, p[2] = {};
  if (!PR_OptimizeAmoebaOverGrid(choice.optA, 2, t.bounds, true, M10_Cost, &fit, choice.optB, 0, &best, p))
    return false;
  const double rpf = std::clamp(p[0], t.bounds[0].lo, t.bounds[0].hi);
  const double vacx = std::clamp(p[1], t.bounds[1].lo, t.bounds[1].hi);
  const double clamped[2] = {rpf, vacx};
  const double residual = M10_Cost(&fit, clamped, nullptr);
  if (residual >= VOID_VALUE) return false;
  if (call.fitCurve) std::copy(fit.signal.begin(), fit.signal.end(), call.fitCurve);
  const OutputWriter& out = *call.out;
  out.put(kRpf, rpf);
  out.put(kVacx, vacx);
  out.put(kResidual, residual);
  return true;
}

constexpr ModelOps kOps = {.init = M10_ModelInit, .compute = M10_ComputeParms, .close = M10_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs10[] = {
    {"RPF", "", 1},
    {"vACx", "", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms10[] = {
    {"RPF_max", 5},
    {"Va_max", 5},
};
const ModelSpec kModel10 = {
    .type = 10,
    .name = "10. RPF\\vACx (AIF integration)",
    .outputs = kOutputs10,
    .freeParms = kFreeParms10,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModCT | kModMR | kModPET,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 20, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};
}  // namespace kin
