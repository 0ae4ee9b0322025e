// Type 36, the dual-input liver model with the arterial delay taken from the bolus arrivals: the
// arterial input is shifted by the tissue's bolus start minus the arterial one, and the venous
// delay is searched in whole seconds from the venous bolus offset on, up to "Max Venous arrival
// relative to arterial (sec)" further. F, fa and Ve are fitted; Ki follows from the balance at the
// last frame.

#include <algorithm>
#include <cmath>
#include <vector>

#include "CurveStats.h"
#include "CurveTools.h"
#include "DualInputLiver.h"
#include "Fitting.h"
#include "ModelKit.h"
#include "ModelTable.h"
#include "Optimize.h"
#include "PiecewiseLinear.h"

namespace kin {
namespace {

constexpr int kType = 36;
constexpr int kTailFrames = 4;

struct Liver36Tables {
  liver::DualInputs inputs;
  INTERVAL box[3];  // F (per second), fa, Ve
  INTERVAL kiBox;   // per second
  double maxVenousArrival = 0;
  liver::LateUptake late;
};

Liver36Tables& tables() {
  static Liver36Tables t;
  return t;
}

struct Liver36Fit {
  const Liver36Tables* tables;
  const double* ca;
  const double* cv;
  const double* tissue;
  liver::LateUptake late;
  liver::CurveWork work;
  std::vector<double> model;
};

bool M36_ModelCurve(Liver36Fit& fit, const double* p) {
  const Liver36Tables& t = *fit.tables;
  const double ki = liver::LateUptakeKi(fit.late, p[0], p[1], p[2]);
  if (std::isnan(ki)) return false;
  return liver::UptakeCurve(p[0], p[1], p[2], std::clamp(ki, t.kiBox.lo, t.kiBox.hi), fit.ca, fit.cv,
                            t.inputs.times.data(), t.inputs.n, fit.work, fit.model.data());
}

// The integrated squared difference; the reported residual is its root.
double M36_Cost(void* context, const double* x, const double* dx) {
  Liver36Fit& fit = *static_cast<Liver36Fit*>(context);
  double p[3];
  for (int i = 0; i < 3; ++i) p[i] = x[i] + (dx ? dx[i] : 0.0);
  if (!M36_ModelCurve(fit, p)) return VOID_VALUE;
  const Liver36Tables& t = *fit.tables;
  const double cost = PR_IntegrateDiffL2_PWL(fit.model.data(), fit.tissue, t.inputs.times.data(), t.inputs.n);
  return std::isfinite(cost) ? cost : VOID_VALUE;
}

void M36_ModelClose() { tables() = Liver36Tables{}; }

bool M36_ModelInit(const INPUTFUNC* ifuncs) {
  Liver36Tables t;
  const double* p = freeParms(kType);
  if (!liver::PrepareDualInputs(ifuncs, true, t.inputs)) return false;
  const double flowMax = std::clamp(p[0], 1e-4, 1e4);
  t.box[0] = {std::min(1e-4, flowMax) / 6000, std::max(1e-4, flowMax) / 6000};
  const double fa1 = std::clamp(p[1], 1e-4, 1.0), fa2 = std::clamp(p[2], 1e-4, 1.0);
  t.box[1] = {std::min(fa1, fa2), std::max(fa1, fa2)};
  t.box[2] = {1e-4, 0.9999};
  t.kiBox = {1e-4 / 6000, 100.0 / 6000};
  t.maxVenousArrival = std::clamp(p[3], 0.0, 60.0);
  const int n = t.inputs.n;
  const double* times = t.inputs.times.data();
  t.late.caLast = t.inputs.arterial[n - 1];
  t.late.cvLast = t.inputs.venous[n - 1];
  t.late.caIntegral = PR_CalculateIntegral(t.inputs.arterial.data(), times, n);
  t.late.cvIntegral = PR_CalculateIntegral(t.inputs.venous.data(), times, n);
  tables() = std::move(t);
  return true;
}

bool M36_ComputeParms(const CurveCall& call) {
  const Liver36Tables& t = tables();
  const int n = call.n;
  const double* times = t.inputs.times.data();
  std::vector<double> tissue(n);
  if (!SignalToConcentration(call.curve, n, tissue.data())) return false;
  int start = 0;
  if (!PR_GetBolusStart(tissue.data(), times, n, 0.1, &start)) return false;
  const double tissueBolusTime = times[start];

  // The arterial input shifted by the bolus offset (earlier when the offset is negative).
  const double ta = tissueBolusTime - t.inputs.arterialBolusTime;
  std::vector<double> shiftedTimes(n), ca, cv;
  PR_GetDelayedTimes(times, n, ta, shiftedTimes.data());
  if (!kit::Take(PR_ResampleFunction(t.inputs.arterial.data(), shiftedTimes.data(), n, times, n, false), n, ca))
    return false;

  Liver36Fit fit{&t, ca.data(), nullptr, tissue.data(), t.late, liver::CurveWork(n), std::vector<double>(n)};
  fit.late.tissueLast = tissue[n - 1];
  fit.late.tissueSlope = liver::TailSlope(tissue.data(), times, n, kTailFrames);

  const SingleCurveAnnouncement announcement(kType);
  const Optimisation choice = optimisation(kType);
  const double lo = std::max(0.0, tissueBolusTime - t.inputs.venousBolusTime);
  const double hi = lo + t.maxVenousArrival;
  const long long total = std::max(1LL, (long long)std::ceil(t.maxVenousArrival));
  double best = VOID_VALUE, bestP[3] = {}, bestTv = 0;
  long long step = 0;
  for (double tv = lo; tv <= hi; tv += 1) {
    kit::ReportStep(step++, total);
    if (!kit::Take(PR_DelayThisFunction(t.inputs.venous.data(), times, n, tv), n, cv)) return false;
    fit.cv = cv.data();
    double cost = VOID_VALUE, p[3] = {};
    if (!PR_OptimizeAmoebaOverGrid(choice.optA, 3, t.box, true, M36_Cost, &fit, choice.optB, 0, &cost, p))
      return false;
    if (cost < best) {
      best = cost;
      std::copy(p, p + 3, bestP);
      bestTv = tv;
    }
  }
  if (!(best < VOID_VALUE)) return false;

  const double F = bestP[0], fa = bestP[1], Ve = bestP[2];
  const double ki = liver::LateUptakeKi(fit.late, F, fa, Ve);  // reported without clamping
  liver::PutOutputs(*call.out, F, fa, Ve * 100, Ve * 100 / ((ki * 6000 + F * 6000) / 60), ki, ta, bestTv,
                    std::sqrt(best));
  return true;
}

constexpr ModelOps kOps = {.init = M36_ModelInit, .compute = M36_ComputeParms, .close = M36_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs36[] = {
    {"F-total plasma flow", "ml/min/100ml", 3},
    {"Fa-arterial plasma flow", "ml/min/100ml", 3},
    {"Fv-venous plasma flow", "ml/min/100ml", 3},
    {"fa-arterial flow fraction", "", 3},
    {"Ve-extracellular volume", "ml/100ml", 3},
    {"EMTT-extracellular mean transit time", "sec", 3},
    {"Ki-intracellular uptake rate", "1/100/min", 3},
    {"fi-hepatic uptake fraction", "", 3},
    {"Arterial delay", "sec", 3},
    {"Venous delay", "sec", 3},
    {"residual", "", 3},
};
constexpr FreeParmSpec kFreeParms36[] = {
    {"Flow max [0.01,500]", 200},
    {"fa min   [0,1]", 0.05},
    {"fa max   [0,1]", 0.9},
    {"Max Venous arrival relative to arterial (sec)", 0},
};
const ModelSpec kModel36 = {
    .type = 36,
    .name = "",
    .outputs = kOutputs36,
    .freeParms = kFreeParms36,
    .numIfuncs = 2,
    .ifPanelName = "Two Input functions",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 5, .optB = 1000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};
}  // namespace kin
