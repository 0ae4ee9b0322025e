// Type 37, the dual-input liver model with the arterial flow taken from the first pass: before the
// venous input and the outflow matter, the tissue holds Fa times the integral of the (delayed)
// arterial input, so Fa = C / integral of Ca at the frame before the end of the first pass. The
// venous flow Fv (within the limits that "fa min" and "fa max" set on fa = Fa / (Fa + Fv)) and Ve
// are then fitted with Ki from the balance at the last frame, clamped into its range.

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

constexpr int kType = 37;
constexpr int kTailFrames = 3;

struct Liver37Tables {
  liver::DualInputs inputs;
  double faMin = 0.05, faMax = 0.9;
  INTERVAL veBox{1e-4, 0.9999};
  INTERVAL kiBox;  // per second
  double maxVenousArrival = 0;
  liver::LateUptake late;
};

Liver37Tables& tables() {
  static Liver37Tables t;
  return t;
}

struct Liver37Fit {
  const Liver37Tables* tables;
  double arterialFlow;  // Fa per second
  const double* ca;
  const double* cv;
  const double* tissue;
  liver::LateUptake late;
  liver::CurveWork work;
  std::vector<double> model;
};

// F, fa and the clamped Ki of (Fv, Ve).
void FlowsOf(const Liver37Fit& fit, double fv, double ve, double* F, double* fa, double* ki) {
  const Liver37Tables& t = *fit.tables;
  *F = fit.arterialFlow + fv;
  *fa = fit.arterialFlow / *F;
  const double formula = liver::LateUptakeKi(fit.late, *F, *fa, ve);
  *ki = std::isnan(formula) ? formula : std::clamp(formula, t.kiBox.lo, t.kiBox.hi);
}

bool M37_ModelCurve(Liver37Fit& fit, double fv, double ve) {
  double F, fa, ki;
  FlowsOf(fit, fv, ve, &F, &fa, &ki);
  if (std::isnan(ki)) return false;
  const Liver37Tables& t = *fit.tables;
  return liver::UptakeCurve(F, fa, ve, ki, fit.ca, fit.cv, t.inputs.times.data(), t.inputs.n, fit.work,
                            fit.model.data());
}

double M37_Cost(void* context, const double* x, const double* dx) {
  Liver37Fit& fit = *static_cast<Liver37Fit*>(context);
  const double fv = x[0] + (dx ? dx[0] : 0.0), ve = x[1] + (dx ? dx[1] : 0.0);
  if (!M37_ModelCurve(fit, fv, ve)) return VOID_VALUE;
  const Liver37Tables& t = *fit.tables;
  const double cost =
      std::sqrt(PR_IntegrateDiffL2_PWL(fit.model.data(), fit.tissue, t.inputs.times.data(), t.inputs.n));
  return std::isfinite(cost) ? cost : VOID_VALUE;
}

void M37_ModelClose() { tables() = Liver37Tables{}; }

bool M37_ModelInit(const INPUTFUNC* ifuncs) {
  Liver37Tables t;
  const double* p = freeParms(kType);
  if (!liver::PrepareDualInputs(ifuncs, true, t.inputs)) return false;
  const INTERVAL fa = liver::FractionBox(p[0], p[1]);
  t.faMin = fa.lo;
  t.faMax = fa.hi;
  t.kiBox = liver::LateUptakeKiBox();
  t.maxVenousArrival = std::clamp(p[2], 0.0, 60.0);
  t.late = liver::LateInputs(t.inputs);
  tables() = std::move(t);
  return true;
}

bool M37_ComputeParms(const CurveCall& call) {
  const Liver37Tables& t = tables();
  const int n = call.n;
  const double* times = t.inputs.times.data();
  std::vector<double> tissue;
  int start = 0, firstPassEnd = 0;
  if (!liver::TissueBolusStart(call, times, tissue, &start, &firstPassEnd)) return false;
  const double ta = times[start] - t.inputs.arterialBolusTime;
  std::vector<double> ca, cv;
  if (!liver::ShiftedArterial(t.inputs, n, ta, ca)) return false;

  // The arterial flow of the first pass.
  const int last = firstPassEnd - 1;
  if (last < 1) return false;
  const double arterialIntegral = PR_CalculateIntegral(ca.data(), times, last + 1);
  const double arterialFlow = tissue[last] / arterialIntegral;
  if (!(arterialFlow > 0) || !std::isfinite(arterialFlow)) return false;
  CString text;
  text.Format(L"%s = %.10g", L"Fa", arterialFlow * 6000);
  liver::ShowCurveValues(text);

  const double fv1 = (1 / t.faMax - 1) * arterialFlow, fv2 = (1 / t.faMin - 1) * arterialFlow;
  const INTERVAL box[2] = {{std::min(fv1, fv2), std::max(fv1, fv2)}, t.veBox};

  Liver37Fit fit{&t,
                 arterialFlow,
                 ca.data(),
                 nullptr,
                 tissue.data(),
                 liver::WithTissue(t.late, tissue.data(), times, n, kTailFrames),
                 liver::CurveWork(n),
                 std::vector<double>(n)};

  const SingleCurveAnnouncement announcement(kType);
  double best = VOID_VALUE, bestP[2] = {}, bestTv = 0;
  if (!liver::SearchVenousArrival(kType, t.inputs, times[start], t.maxVenousArrival, box, 2, M37_Cost, &fit, &fit.cv,
                                  cv, &best, bestP, &bestTv))
    return false;

  double F, fa, ki;
  FlowsOf(fit, bestP[0], bestP[1], &F, &fa, &ki);
  const double Ve = bestP[1];
  liver::PutOutputs(*call.out, F, fa, Ve * 100, ki, ta, bestTv, best);
  return true;
}

constexpr ModelOps kOps = {.init = M37_ModelInit, .compute = M37_ComputeParms, .close = M37_ModelClose};

}  // namespace

constexpr FreeParmSpec kFreeParms37[] = {
    {"fa min   [0,1]", 0.05},
    {"fa max   [0,1]", 0.9},
    {"Max Venous arrival relative to arterial (sec)", 0},
};
const ModelSpec kModel37 = {
    .type = 37,
    .name = "",
    .outputs = liver::kOutputs,
    .freeParms = kFreeParms37,
    .numIfuncs = 2,
    .ifPanelName = "Two Input functions",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 1, .optB = 500,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};
}  // namespace kin
