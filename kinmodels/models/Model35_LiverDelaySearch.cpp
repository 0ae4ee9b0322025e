// Type 35, the dual-input liver model with a full search over the arterial and venous delays: for
// every whole-second arterial delay up to "Max Arterial delay (sec)" and every venous delay of its
// range, F, fa and Ve are fitted while Ki follows from the balance at the last frame. With
// "Arterial arrives first" set, the venous delays start where the venous bolus would arrive after
// the delayed arterial one.

#include <algorithm>
#include <cmath>
#include <vector>

#include "numerics/CurveStats.h"
#include "numerics/CurveTools.h"
#include "DualInputLiver.h"
#include "Fitting.h"
#include "ModelKit.h"
#include "ModelTable.h"
#include "numerics/Optimize.h"
#include "numerics/PwlCalculus.h"

namespace kin {
namespace {

constexpr int kType = 35;
constexpr int kTailFrames = 5;

struct Liver35Tables {
  liver::DualInputs inputs;
  INTERVAL box[3];  // F (per second), fa, Ve
  INTERVAL kiBox;   // per second
  double maxArterialDelay = 0, maxVenousDelay = 0;
  bool arterialFirst = false;
  int metric = 2;
  liver::LateUptake late;  // the input part; the tissue part is set per curve
};

Liver35Tables& tables() {
  static Liver35Tables t;
  return t;
}

struct Liver35Fit {
  const Liver35Tables* tables;
  const double* ca;      // delayed arterial input
  const double* cv;      // delayed venous input
  const double* tissue;  // concentration
  liver::LateUptake late;
  liver::CurveWork work;
  std::vector<double> model;
};

double M35_Cost(void* context, const double* x, const double* dx) {
  Liver35Fit& fit = *static_cast<Liver35Fit*>(context);
  double p[3];
  kit::CostPoint(x, dx, 3, p);
  const Liver35Tables& t = *fit.tables;
  const double* times = t.inputs.times.data();
  // Ki follows from the late-uptake balance, clamped into its box.
  if (!liver::LateUptakeCurve(fit.late, t.kiBox, p, fit.ca, fit.cv, times, t.inputs.n, fit.work, fit.model.data()))
    return VOID_VALUE;
  return kit::IntegralDistanceCost(t.metric, fit.model.data(), fit.tissue, times, t.inputs.n);
}

void M35_ModelClose() { tables() = Liver35Tables{}; }

bool M35_ModelInit(const INPUTFUNC* ifuncs) {
  Liver35Tables t;
  const double* p = freeParms(kType);
  t.arterialFirst = kit::Rounded(p[5]) != 0;
  if (!liver::PrepareDualInputs(ifuncs, t.arterialFirst, t.inputs)) return false;
  if (!kit::ReadMetric(p[6], L"M35_ModelInit", &t.metric)) return false;
  liver::LateUptakeBoxes(p[0], p[1], p[2], t.box, &t.kiBox);
  t.maxArterialDelay = std::clamp(p[3], 0.0, 60.0);
  t.maxVenousDelay = std::clamp(p[4], 0.0, 60.0);
  t.late = liver::LateInputs(t.inputs);
  tables() = std::move(t);
  return true;
}

bool M35_ComputeParms(const CurveCall& call) {
  const Liver35Tables& t = tables();
  const int n = call.n;
  const double* times = t.inputs.times.data();
  std::vector<double> tissue(n);
  if (!SignalToConcentration(call.curve, n, tissue.data())) return false;

  Liver35Fit fit{&t,
                 nullptr,
                 nullptr,
                 tissue.data(),
                 liver::WithTissue(t.late, tissue.data(), times, n, kTailFrames),
                 liver::CurveWork(n),
                 std::vector<double>(n)};

  const SingleCurveAnnouncement announcement(kType);
  const Optimisation choice = optimisation(kType);
  const long long total = std::max(1LL, (long long)std::ceil(t.maxVenousDelay)) *
                          std::max(1LL, (long long)std::ceil(t.maxArterialDelay));
  double best = VOID_VALUE, bestP[3] = {}, bestTa = 0, bestTv = 0;
  std::vector<double> ca, cv;
  long long step = 0;
  for (double ta = 0; ta <= t.maxArterialDelay; ta += 1) {
    if (!kit::Take(PR_DelayThisFunction(t.inputs.arterial.data(), times, n, ta), n, ca)) return false;
    const double lo =
        t.arterialFirst ? std::trunc(std::max(0.0, t.inputs.arterialBolusTime + ta - t.inputs.venousBolusTime)) : 0.0;
    const double hi = lo + std::trunc(t.maxVenousDelay);
    for (double tv = lo; tv <= hi; tv += 1) {
      kit::ReportStep(step++, total);
      if (!kit::Take(PR_DelayThisFunction(t.inputs.venous.data(), times, n, tv), n, cv)) return false;
      fit.ca = ca.data();
      fit.cv = cv.data();
      double cost = VOID_VALUE, p[3] = {};
      if (!PR_OptimizeAmoebaOverGrid(choice.optA, 3, t.box, true, M35_Cost, &fit, choice.optB, 0, &cost, p))
        return false;
      if (cost < best) {
        best = cost;
        std::copy(p, p + 3, bestP);
        bestTa = ta;
        bestTv = tv;
      }
    }
  }
  if (!(best < VOID_VALUE)) return false;

  const double F = bestP[0], fa = bestP[1], Ve = bestP[2];
  const double ki = liver::LateUptakeKi(fit.late, F, fa, Ve);  // reported without clamping
  liver::PutOutputs(*call.out, F, fa, Ve * 100, ki, bestTa, bestTv, best);
  return true;
}

constexpr ModelOps kOps = {.init = M35_ModelInit, .compute = M35_ComputeParms, .close = M35_ModelClose};

}  // namespace

constexpr FreeParmSpec kFreeParms35[] = {
    {"Flow max [0.01,500]", 250},
    {"fa min   [0,1]", 0.05},
    {"fa max   [0,1]", 0.9},
    {"Max Arterial delay (sec)", 0},
    {"Max Venous delay (sec)", 0},
    {"Arterial arrives first", 0},
    {"Use L1\\L2 metric", 2},
};
const ModelSpec kModel35 = {
    .type = 35,
    .name = "",
    .outputs = liver::kOutputs,
    .freeParms = kFreeParms35,
    .numIfuncs = 2,
    .ifPanelName = "Dual Compartment Dual Input ",
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
