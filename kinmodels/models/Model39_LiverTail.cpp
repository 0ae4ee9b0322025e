// Type 39, the dual-input liver model fitted on the tail of the curve (from "MonoTail start (sec)"
// on) with the mean of the two inputs: F and Ve are fitted, the extracellular level is split into a
// constant part B set by the tissue slope at the tail start and a part x that the uptake equation
// carries, and Ki follows from the slopes at the start and the end of the tail. Delays are not
// searched; the arterial fraction is not resolved (reported as 0), Ve is reported as a fraction.

#include <algorithm>
#include <cmath>
#include <vector>

#include "numerics/CurveStats.h"
#include "numerics/CurveTools.h"
#include "DualInputLiver.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelKit.h"
#include "ModelTable.h"
#include "numerics/Optimize.h"
#include "numerics/PwlCalculus.h"

namespace kin {
namespace {

constexpr int kType = 39;
constexpr int kStartFrames = 5;
constexpr int kEndFrames = 6;

struct Liver39Tables {
  liver::DualInputs inputs;
  int tailStart = 0;                // first frame of the tail
  std::vector<double> tailTimes;    // seconds from the tail start
  std::vector<double> input;        // the mean input over the tail
  INTERVAL box[2];                  // F (per second), Ve
  int metric = 2;
};

Liver39Tables& tables() {
  static Liver39Tables t;
  return t;
}

// The per-curve data of the tail fit.
struct Liver39Fit {
  const Liver39Tables* tables;
  const double* tissue;  // the tail of the concentration curve
  double startSlope, endSlope;
  std::vector<double> drive, x, flux, model;
};

// Ki of the tail for F and Ve.
double TailKi(const Liver39Fit& fit, double F, double Ve, double* B) {
  const Liver39Tables& t = *fit.tables;
  const int m = int(t.tailTimes.size());
  const double inLast = t.input[m - 1], inStart = t.input[0];
  *B = std::max(0.0, inLast - fit.startSlope / F);
  return (std::max(0.0, inLast - fit.endSlope / F) - *B) * Ve * F /
         (fit.tissue[m - 1] - fit.tissue[0] - (inLast - inStart) * F);
}

// The tail model: Ce = x + B with Ve dx/dtau = F Cin - (F + Ki) B - (F + Ki) x, x(0) = 0, and
// C(tau) = C_start + integral of F (Cin - Ce).
bool M39_TailCurve(Liver39Fit& fit, double F, double Ve, double* ki) {
  const Liver39Tables& t = *fit.tables;
  const int m = int(t.tailTimes.size());
  if (!(Ve > 0) || !(F > 0)) return false;
  double B = 0;
  *ki = TailKi(fit, F, Ve, &B);
  if (!std::isfinite(*ki)) return false;
  for (int i = 0; i < m; ++i) fit.drive[i] = (F * t.input[i] - (F + *ki) * B) / Ve;
  PR_SolveLinearFirstOrderDE_PWL((F + *ki) / Ve, fit.drive.data(), t.tailTimes.data(), m, fit.x.data());
  for (int i = 0; i < m; ++i) fit.flux[i] = F * (t.input[i] - (fit.x[i] + B));
  PR_CalculateIntegral(fit.flux.data(), t.tailTimes.data(), m, fit.model.data());
  for (int i = 0; i < m; ++i) {
    fit.model[i] += fit.tissue[0];
    if (!std::isfinite(fit.model[i])) return false;
  }
  return true;
}

double M39_Cost(void* context, const double* x, const double* dx) {
  Liver39Fit& fit = *static_cast<Liver39Fit*>(context);
  const double F = x[0] + (dx ? dx[0] : 0.0), Ve = x[1] + (dx ? dx[1] : 0.0);
  double ki = 0;
  if (!M39_TailCurve(fit, F, Ve, &ki)) return VOID_VALUE;
  const Liver39Tables& t = *fit.tables;
  const int m = int(t.tailTimes.size());
  const double* times = t.tailTimes.data();
  return kit::IntegralDistanceCost(t.metric, fit.model.data(), fit.tissue, times, m);
}

void M39_ModelClose() { tables() = Liver39Tables{}; }

bool M39_ModelInit(const INPUTFUNC* ifuncs) {
  Liver39Tables t;
  const double* p = freeParms(kType);
  if (!liver::PrepareDualInputs(ifuncs, false, t.inputs)) return false;
  if (!kit::ReadMetric(p[5], L"M39_ModelInit", &t.metric)) return false;
  const int n = t.inputs.n;
  t.tailStart = kit::FirstIndexAtOrAfter(t.inputs.times.data(), n, p[1]);
  if (t.tailStart == 0 || t.tailStart >= n - 1) {
    showNamedMessage(L"M39_ModelInit", L"Invalid Monotail start");
    return false;
  }
  for (int i = t.tailStart; i < n; ++i) {
    t.tailTimes.push_back(t.inputs.times[i] - t.inputs.times[t.tailStart]);
    t.input.push_back((t.inputs.arterial[i] + t.inputs.venous[i]) / 2);
  }
  t.box[0] = {std::min(1.0, p[0]) / 6000, std::max(1.0, p[0]) / 6000};
  t.box[1] = {0.01, 0.99};
  tables() = std::move(t);
  return true;
}

bool M39_ComputeParms(const CurveCall& call) {
  const Liver39Tables& t = tables();
  const int n = call.n;
  const int m = int(t.tailTimes.size());
  std::vector<double> conc(n);
  if (!SignalToConcentration(call.curve, n, conc.data())) return false;
  const double* tissue = conc.data() + t.tailStart;
  const double* tau = t.tailTimes.data();
  // The tissue slopes over the first and the last frames of the tail.
  const int first = std::min(kStartFrames, m) - 1, last = std::min(kEndFrames, m);
  const double startSlope = (tissue[first] - tissue[0]) / (tau[first] - tau[0]);
  const double endSlope = (tissue[m - 1] - tissue[m - last]) / (tau[m - 1] - tau[m - last]);

  Liver39Fit fit{&t, tissue, startSlope, endSlope, std::vector<double>(m), std::vector<double>(m),
                 std::vector<double>(m), std::vector<double>(m)};
  const SingleCurveAnnouncement announcement(kType);
  const Optimisation choice = optimisation(kType);
  double best = VOID_VALUE, p[2] = {};
  if (!PR_OptimizeAmoebaOverGrid(choice.optA, 2, t.box, true, M39_Cost, &fit, choice.optB, 0, &best, p)) return false;
  double ki = 0;
  if (!M39_TailCurve(fit, p[0], p[1], &ki)) return false;

  const double F = p[0], Ve = p[1];
  const OutputWriter& out = *call.out;
  out.put(0, F * 6000);
  out.put(1, 0);
  out.put(2, 0);
  out.put(3, 0);
  out.put(4, Ve);
  out.put(5, Ve / (F + ki));  // seconds
  out.put(6, ki * 6000);
  out.put(7, ki / (F + ki));
  out.put(8, 0);
  out.put(9, 0);
  out.put(10, best);
  return true;
}

constexpr ModelOps kOps = {.init = M39_ModelInit, .compute = M39_ComputeParms, .close = M39_ModelClose};

}  // namespace

constexpr FreeParmSpec kFreeParms39[] = {
    {"Flow max [0.01,100]", 100},
    {"MonoTail start (sec)", 100},
    {"Max Arterial delay (sec)", 15},
    {"Max Venous delay (sec", 0},
    {"Arterial arrives first", 0},
    {"Use L1\\L2 metric", 2},
};
const ModelSpec kModel39 = {
    .type = 39,
    .name = "",
    .outputs = liver::kOutputs,
    .freeParms = kFreeParms39,
    .numIfuncs = 2,
    .ifPanelName = "Two Input functions",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 3, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};
}  // namespace kin
