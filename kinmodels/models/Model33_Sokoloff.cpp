// Type 33, the irreversible two-tissue model in its short form (k4 = 0) with a blood-volume factor:
//   C(t) = (1 - vB) * K1 / (k2 + k3) * [k2 * (Cp conv exp(-(k2 + k3) t)) + k3 * integral Cp],
// fitted for K1, k2 and k3 at every arterial delay of a grid from "Min Arterial delay (sec)" in
// steps of "Arterial delay precision (sec)". Input and tissue are divided by the input's peak, and
// the residual is the root of the integrated squared difference (or the integrated absolute one).
//
// Given wanted times, the fit extrapolates the tissue curve to them instead of reporting outputs.

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

constexpr int kType = 33;
constexpr long long kMaxDelaySteps = 100000;
enum Output { kK1, kK2, kK3, kKi, kDelay, kResidual };

struct SokoloffTables {
  int n = 0;
  std::vector<double> times;  // seconds from the first frame
  std::vector<double> input;  // the input function's first n values divided by its peak
  INTERVAL box[3];            // K1, k2, k3 per second
  double bloodVolume = 0.045;
  double delayMin = 0, delayRange = 0, delayStep = 0.1;
  int metric = 2;
  double ifPeak = 1;
};

SokoloffTables& tables() {
  static SokoloffTables t;
  return t;
}

struct SokoloffFit {
  const SokoloffTables* tables;
  const double* input;   // the delayed, normalised input
  const double* tissue;  // the normalised tissue curve
  std::vector<double> conv, integral, model;
};

// The model on the frames for the delayed input; the running integral of the input is kept by the
// caller in fit.integral.
void M33_ModelCurve(const SokoloffTables& t, const double* input, const double* integral, const double* times, int n,
                    const double* p, double* conv, double* out) {
  const double K1 = p[0], k2 = p[1], k3 = p[2];
  const double rate = k2 + k3;
  PR_IntegralFunc_PWL_NegExp(rate, input, times, n, conv);
  const double scale = (1 - t.bloodVolume) * K1 / rate;
  for (int i = 0; i < n; ++i) out[i] = scale * (k2 * conv[i] + k3 * integral[i]);
}

double M33_Cost(void* context, const double* x, const double* dx) {
  SokoloffFit& fit = *static_cast<SokoloffFit*>(context);
  const SokoloffTables& t = *fit.tables;
  double p[3];
  kit::CostPoint(x, dx, 3, p);
  if (!(std::fabs(p[1] + p[2]) >= 1e-100)) return VOID_VALUE;
  M33_ModelCurve(t, fit.input, fit.integral.data(), t.times.data(), t.n, p, fit.conv.data(), fit.model.data());
  return kit::IntegralDistanceCost(t.metric, fit.model.data(), fit.tissue, t.times.data(), t.n);
}

void M33_ModelClose() { tables() = SokoloffTables{}; }

bool M33_ModelInit(const INPUTFUNC* ifuncs) {
  const int n = acquisition().n;
  SokoloffTables t;
  t.input.assign(ifuncs[0].values, ifuncs[0].values + n);
  if (!PrepareAndCheckTimeArr(n, t.times)) return false;
  const double* p = freeParms(kType);
  t.bloodVolume = p[6];
  t.delayMin = p[7];
  t.delayRange = std::max(0.0, p[8] - p[7]);
  t.delayStep = p[9];
  if (!kit::ReadMetric(p[10], L"M33_ModelInit", &t.metric)) return false;
  for (int i = 0; i < 3; ++i) {
    const double a = p[2 * i] / 60, b = p[2 * i + 1] / 60;
    t.box[i] = {std::min(a, b), std::max(a, b)};
  }
  t.ifPeak = *std::max_element(t.input.begin(), t.input.end());
  if (std::fabs(t.ifPeak) < 1e-100) {
    showNamedMessage(L"M33_ModelInit", L"Input Function is a flat zero");
    return false;
  }
  for (double& v : t.input) v /= t.ifPeak;
  t.n = n;
  tables() = std::move(t);
  return true;
}

// The number of delay steps: max(1, ceil(range / step)), bounded so that a zero or tiny step
// cannot run away.
long long DelaySteps(const SokoloffTables& t) {
  if (!(t.delayStep > 0)) return 1;
  const double steps = std::ceil(t.delayRange / t.delayStep);
  if (!(steps < double(kMaxDelaySteps))) return kMaxDelaySteps;
  return std::max(1LL, (long long)steps);
}

bool M33_ComputeParms(const CurveCall& call) {
  const SokoloffTables& t = tables();
  const int n = call.n;
  std::vector<double> tissue(call.curve, call.curve + n);
  for (double& v : tissue) v /= t.ifPeak;

  SokoloffFit fit{&t, nullptr, tissue.data(), std::vector<double>(n), std::vector<double>(n), std::vector<double>(n)};
  const SingleCurveAnnouncement announcement(kType);
  const Optimisation choice = optimisation(kType);
  const long long steps = DelaySteps(t);
  double best = VOID_VALUE, bestDelay = 0, bestP[3] = {};
  std::vector<double> delayed;
  for (long long i = 0; i <= steps; ++i) {
    const double delay = t.delayMin + double(i) * (t.delayStep > 0 ? t.delayStep : 0.0);
    kit::ReportStep(i, steps);
    if (!kit::Take(PR_DelayThisFunction(t.input.data(), t.times.data(), n, delay), n, delayed)) return false;
    fit.input = delayed.data();
    PR_CalculateIntegral(delayed.data(), t.times.data(), n, fit.integral.data());
    double cost = VOID_VALUE, p[3] = {};
    if (!PR_OptimizeAmoebaOverGrid(choice.optA, 3, t.box, true, M33_Cost, &fit, choice.optB, 0, &cost, p))
      return false;
    if (cost < best) {
      best = cost;
      bestDelay = delay;
      std::copy(p, p + 3, bestP);
    }
  }
  if (!(best < VOID_VALUE)) return false;

  // The best fit on the frames.
  if (!kit::Take(PR_DelayThisFunction(t.input.data(), t.times.data(), n, bestDelay), n, delayed)) return false;
  PR_CalculateIntegral(delayed.data(), t.times.data(), n, fit.integral.data());
  std::vector<double> model(n);
  M33_ModelCurve(t, delayed.data(), fit.integral.data(), t.times.data(), n, bestP, fit.conv.data(), model.data());

  if (call.extra && call.fitCurve && call.numExtra > 0) {
    // The model at the wanted times (on the acquisition's time axis).
    const int count = call.numExtra;
    const double origin = acquisition().time[0];
    std::vector<double> wanted(count);
    for (int j = 0; j < count; ++j) wanted[j] = call.extra[j] - origin;
    // The model is a running integral: evaluate it on the acquisition times merged with the wanted
    // ones, in ascending order, and read the wanted values back.
    std::vector<double> merged(t.times);
    merged.insert(merged.end(), wanted.begin(), wanted.end());
    std::sort(merged.begin(), merged.end());
    merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
    const int mm = int(merged.size());
    std::vector<double> mergedInput, mergedIntegral(mm), mergedConv(mm), mergedModel(mm);
    if (!kit::Take(PR_ResampleFunction(delayed.data(), t.times.data(), n, merged.data(), mm, false), mm, mergedInput))
      return false;
    PR_CalculateIntegral(mergedInput.data(), merged.data(), mm, mergedIntegral.data());
    M33_ModelCurve(t, mergedInput.data(), mergedIntegral.data(), merged.data(), mm, bestP, mergedConv.data(),
                   mergedModel.data());
    const double* acquired = acquisition().time;
    for (int j = 0; j < count; ++j) {
      const int at = int(std::lower_bound(merged.begin(), merged.end(), wanted[j]) - merged.begin());
      double value = mergedModel[std::min(at, mm - 1)] * t.ifPeak;
      if (n < count) {
        const double* found = std::find(acquired, acquired + n, call.extra[j]);
        if (found != acquired + n) value = call.curve[found - acquired];
      }
      call.fitCurve[j] = value;
    }
    return true;
  }

  if (call.fitCurve)
    for (int i = 0; i < n; ++i) call.fitCurve[i] = model[i] * t.ifPeak;
  const double K1 = bestP[0] * 60, k2 = bestP[1] * 60, k3 = bestP[2] * 60;
  const OutputWriter& out = *call.out;
  out.put(kK1, K1);
  out.put(kK2, k2);
  out.put(kK3, k3);
  out.put(kKi, k3 * K1 / (k3 + k2));
  out.put(kDelay, bestDelay);
  out.put(kResidual, best);
  return true;
}

constexpr ModelOps kOps = {.init = M33_ModelInit, .compute = M33_ComputeParms, .close = M33_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs33[] = {
    {"K1", "1/min", 1},
    {"k2", "1/min", 1},
    {"k3", "1/min", 1},
    {"Ki", "", 1},
    {"Ta - arterial delay", "sec", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms33[] = {
    {"K1 min (1/min)", 0.001},
    {"K1 max (1/min)", 1.5},
    {"k2 min (1/min)", 0.001},
    {"k2 max (1/min)", 1},
    {"k3 min (1/min)", 0.001},
    {"k3 max (1/min)", 1},
    {"blood volume", 0.045},
    {"Min Arterial delay (sec)", 0},
    {"Max Arterial delay (sec)", 0},
    {"Arterial delay precision (sec)", 0.1},
    {"Use L1\\L2 residual metric {1,2}", 2},
};
const ModelSpec kModel33 = {
    .type = 33,
    .name = "33. Two-compartment model short formula (Sokoloff'79)",
    .outputs = kOutputs33,
    .freeParms = kFreeParms33,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModPET,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 5, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = true,
    .ops = kOps,
};
}  // namespace kin
