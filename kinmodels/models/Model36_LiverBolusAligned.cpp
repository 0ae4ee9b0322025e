// Type 36, the dual-input liver model with the arterial delay taken from the bolus arrivals: the
// arterial input is shifted by the tissue's bolus start minus the arterial one, and the venous
// delay is searched in whole seconds from the venous bolus offset on, up to "Max Venous arrival
// relative to arterial (sec)" further. F, fa and Ve are fitted; Ki follows from the balance at the
// last frame.

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

// The integrated squared difference; the reported residual is its root.
double M36_Cost(void* context, const double* x, const double* dx) {
  Liver36Fit& fit = *static_cast<Liver36Fit*>(context);
  double p[3];
  kit::CostPoint(x, dx, 3, p);
  const Liver36Tables& t = *fit.tables;
  // Ki follows from the late-uptake balance, clamped into its box.
  if (!liver::LateUptakeCurve(fit.late, t.kiBox, p, fit.ca, fit.cv, t.inputs.times.data(), t.inputs.n, fit.work,
                              fit.model.data()))
    return VOID_VALUE;
  const double cost = PR_IntegrateDiffL2_PWL(fit.model.data(), fit.tissue, t.inputs.times.data(), t.inputs.n);
  return std::isfinite(cost) ? cost : VOID_VALUE;
}

void M36_ModelClose() { tables() = Liver36Tables{}; }

bool M36_ModelInit(const INPUTFUNC* ifuncs) {
  Liver36Tables t;
  const double* p = freeParms(kType);
  if (!liver::PrepareDualInputs(ifuncs, true, t.inputs)) return false;
  liver::LateUptakeBoxes(p[0], p[1], p[2], t.box, &t.kiBox);
  t.maxVenousArrival = std::clamp(p[3], 0.0, 60.0);
  t.late = liver::LateInputs(t.inputs);
  tables() = std::move(t);
  return true;
}

bool M36_ComputeParms(const CurveCall& call) {
  const Liver36Tables& t = tables();
  const int n = call.n;
  const double* times = t.inputs.times.data();
  std::vector<double> tissue;
  int start = 0;
  if (!liver::TissueBolusStart(call, times, tissue, &start)) return false;
  const double tissueBolusTime = times[start];

  // The arterial input shifted by the bolus offset (earlier when the offset is negative).
  const double ta = tissueBolusTime - t.inputs.arterialBolusTime;
  std::vector<double> ca, cv;
  if (!liver::ShiftedArterial(t.inputs, n, ta, ca)) return false;

  Liver36Fit fit{&t,
                 ca.data(),
                 nullptr,
                 tissue.data(),
                 liver::WithTissue(t.late, tissue.data(), times, n, kTailFrames),
                 liver::CurveWork(n),
                 std::vector<double>(n)};

  const SingleCurveAnnouncement announcement(kType);
  double best = VOID_VALUE, bestP[3] = {}, bestTv = 0;
  if (!liver::SearchVenousArrival(kType, t.inputs, tissueBolusTime, t.maxVenousArrival, t.box, 3, M36_Cost, &fit,
                                  &fit.cv, cv, &best, bestP, &bestTv))
    return false;

  const double F = bestP[0], fa = bestP[1], Ve = bestP[2];
  const double ki = liver::LateUptakeKi(fit.late, F, fa, Ve);  // reported without clamping
  liver::PutOutputs(*call.out, F, fa, Ve * 100, ki, ta, bestTv, std::sqrt(best));
  return true;
}

constexpr ModelOps kOps = {.init = M36_ModelInit, .compute = M36_ComputeParms, .close = M36_ModelClose};

}  // namespace

constexpr FreeParmSpec kFreeParms36[] = {
    {"Flow max [0.01,500]", 200},
    {"fa min   [0,1]", 0.05},
    {"fa max   [0,1]", 0.9},
    {"Max Venous arrival relative to arterial (sec)", 0},
};
const ModelSpec kModel36 = {
    .type = 36,
    .name = "",
    .outputs = liver::kOutputs,
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
