// Type 34, the irreversible two-tissue model in its long form (k4 = 0):
//   G = Cp conv exp(-(k2 + k3) t),  C(t) = K1 * (G + k3 * integral G),
// fitted for K1, k2 and k3 on a uniform grid (step: the smallest frame spacing, at most 5 s) at
// arterial delays 0, 5, 10, ... s up to "Max Arterial delay (sec)". Input and tissue are divided by
// the input's peak; the residual is the root of the integrated squared difference (or the
// integrated absolute one).

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

constexpr int kType = 34;
constexpr double kDelayStep = 5;
enum Output { kK1, kK2, kK3, kDelay, kResidual };

struct ReivichTables {
  int n = 0;
  std::vector<double> times;  // acquisition times from the first, seconds
  std::vector<double> grid;   // uniform grid from 0
  std::vector<double> input;  // the input function on the grid divided by its peak
  INTERVAL box[3];            // K1, k2, k3 per second
  double delayMax = 0;
  int metric = 2;
  double ifPeak = 1;
};

ReivichTables& tables() {
  static ReivichTables t;
  return t;
}

struct ReivichFit {
  const ReivichTables* tables;
  const double* input;   // the delayed input on the grid
  const double* tissue;  // the tissue on the grid
  std::vector<double> g, integral, model;
};

void M34_ModelCurve(ReivichFit& fit, const double* p) {
  const ReivichTables& t = *fit.tables;
  const int m = int(t.grid.size());
  const double K1 = p[0], k2 = p[1], k3 = p[2];
  PR_IntegralFunc_PWL_NegExp(k2 + k3, fit.input, t.grid.data(), m, fit.g.data());
  PR_CalculateIntegral(fit.g.data(), t.grid.data(), m, fit.integral.data());
  for (int i = 0; i < m; ++i) fit.model[i] = K1 * (fit.g[i] + k3 * fit.integral[i]);
}

double M34_Cost(void* context, const double* x, const double* dx) {
  ReivichFit& fit = *static_cast<ReivichFit*>(context);
  const ReivichTables& t = *fit.tables;
  double p[3];
  kit::CostPoint(x, dx, 3, p);
  M34_ModelCurve(fit, p);
  const int m = int(t.grid.size());
  return kit::IntegralDistanceCost(t.metric, fit.model.data(), fit.tissue, t.grid.data(), m);
}

void M34_ModelClose() { tables() = ReivichTables{}; }

bool M34_ModelInit(const INPUTFUNC* ifuncs) {
  const int n = acquisition().n;
  ReivichTables t;
  if (!PrepareAndCheckTimeArr(n, t.times)) return false;
  double step = kDelayStep;
  for (int i = 1; i < n; ++i)
    if (t.times[i] > t.times[i - 1]) step = std::min(step, t.times[i] - t.times[i - 1]);
  const double span = t.times[n - 1] - t.times[0];
  const long long points = (long long)std::ceil(span / step) + 1;
  if (points < 2 || points > kMaxPoints) return false;
  t.grid.resize(points);
  for (long long i = 0; i < points; ++i) t.grid[i] = double(i) * step;

  const double* p = freeParms(kType);
  t.delayMax = p[7];
  if (!kit::ReadMetric(p[8], L"M34_ModelInit", &t.metric)) return false;
  for (int i = 0; i < 3; ++i) {
    const double limit = p[2 * i + 1];
    t.box[i] = {std::min(0.001, limit) / 60, std::max(0.001, limit) / 60};
  }
  const int m = int(t.grid.size());
  if (!kit::Take(PR_ResampleFunction(ifuncs[0].values, ifuncs[0].times, ifuncs[0].count, t.grid.data(), m, true), m,
                 t.input))
    return false;
  t.ifPeak = *std::max_element(t.input.begin(), t.input.end());
  if (std::fabs(t.ifPeak) < 1e-100) {
    showNamedMessage(L"M34_ModelInit", L"Input Function is a flat zero");
    return false;
  }
  for (double& v : t.input) v /= t.ifPeak;
  t.n = n;
  tables() = std::move(t);
  return true;
}

bool M34_ComputeParms(const CurveCall& call) {
  const ReivichTables& t = tables();
  const int n = call.n;
  const int m = int(t.grid.size());
  std::vector<double> tissue;
  if (!kit::Take(PR_ResampleFunction(call.curve, t.times.data(), n, t.grid.data(), m, true), m, tissue)) return false;
  for (double& v : tissue) v /= t.ifPeak;

  ReivichFit fit{&t, nullptr, tissue.data(), std::vector<double>(m), std::vector<double>(m), std::vector<double>(m)};
  const SingleCurveAnnouncement announcement(kType);
  const Optimisation choice = optimisation(kType);
  const long long steps = t.delayMax > 0 ? std::max(1LL, (long long)std::ceil(std::min(t.delayMax, 1e9) / kDelayStep)) : 1;
  double best = VOID_VALUE, bestDelay = 0, bestP[3] = {};
  std::vector<double> delayed, bestInput;
  long long i = 0;
  for (double delay = 0; delay <= t.delayMax; delay = double(++i) * kDelayStep) {
    kit::ReportStep(i, steps);
    if (!kit::Take(PR_DelayThisFunction(t.input.data(), t.grid.data(), m, delay), m, delayed)) return false;
    fit.input = delayed.data();
    double cost = VOID_VALUE, p[3] = {};
    if (!PR_OptimizeAmoebaOverGrid(choice.optA, 3, t.box, true, M34_Cost, &fit, choice.optB, 0, &cost, p))
      return false;
    if (cost < best) {
      best = cost;
      bestDelay = delay;
      std::copy(p, p + 3, bestP);
      bestInput = delayed;
    }
  }
  if (!(best < VOID_VALUE)) return false;  // a negative maximum delay runs no fit

  if (call.fitCurve) {
    fit.input = bestInput.data();
    M34_ModelCurve(fit, bestP);
    std::vector<double> back;
    if (!kit::Take(PR_ResampleFunction(fit.model.data(), t.grid.data(), m, t.times.data(), n, false), n, back))
      return false;
    for (int k = 0; k < n; ++k) call.fitCurve[k] = back[k] * t.ifPeak;
  }
  const OutputWriter& out = *call.out;
  out.put(kK1, bestP[0] * 60);
  out.put(kK2, bestP[1] * 60);
  out.put(kK3, bestP[2] * 60);
  out.put(kDelay, bestDelay);
  out.put(kResidual, best);
  return true;
}

constexpr ModelOps kOps = {.init = M34_ModelInit, .compute = M34_ComputeParms, .close = M34_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs34[] = {
    {"K1", "1/min", 1},
    {"k2", "1/min", 1},
    {"k3", "1/min", 1},
    {"Ta - arterial delay", "sec", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms34[] = {
    {"K1 min (1/min)", 0.001},
    {"K1 max (1/min)", 1.5},
    {"k2 min (1/min)", 0.001},
    {"k2 max (1/min)", 1},
    {"k3 min (1/min)", 0.001},
    {"k3 max (1/min)", 1},
    {"blood volume", 0.045},
    {"Max Arterial delay (sec)", 0},
    {"Use L1\\L2 residual metric {1,2}", 2},
};
const ModelSpec kModel34 = {
    .type = 34,
    .name = "34. Two-compartment model long formula (Reivich'85)",
    .outputs = kOutputs34,
    .freeParms = kFreeParms34,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModPET,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 5, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};
}  // namespace kin
