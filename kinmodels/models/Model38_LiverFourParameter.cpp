// Type 38, the dual-input liver model with all four parameters F, fa, Ve and Ki fitted on an
// analysis window (the frames before "Analysis length (sec)"). The arterial delay is the tissue's
// bolus start minus the arterial one (not below 0), and the venous input is delayed so that it
// starts with the delayed arterial one.

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

constexpr int kType = 38;

struct Liver38Tables {
  liver::DualInputs inputs;
  int window = 0;   // frames of the analysis window
  INTERVAL box[4];  // F (per second), fa, Ve, Ki (per second)
};

Liver38Tables& tables() {
  static Liver38Tables t;
  return t;
}

struct Liver38Fit {
  const Liver38Tables* tables;
  const double* ca;
  const double* cv;
  const double* tissue;
  liver::CurveWork work;
  std::vector<double> model;
};

// The integrated squared difference over the window; the reported residual is its root.
double M38_Cost(void* context, const double* x, const double* dx) {
  Liver38Fit& fit = *static_cast<Liver38Fit*>(context);
  double p[4];
  kit::CostPoint(x, dx, 4, p);
  const Liver38Tables& t = *fit.tables;
  const double* times = t.inputs.times.data();
  if (!liver::UptakeCurve(p[0], p[1], p[2], p[3], fit.ca, fit.cv, times, t.window, fit.work, fit.model.data()))
    return VOID_VALUE;
  const double cost = PR_IntegrateDiffL2_PWL(fit.model.data(), fit.tissue, times, t.window);
  return std::isfinite(cost) ? cost : VOID_VALUE;
}

void M38_ModelClose() { tables() = Liver38Tables{}; }

bool M38_ModelInit(const INPUTFUNC* ifuncs) {
  Liver38Tables t;
  const double* p = freeParms(kType);
  if (!liver::PrepareDualInputs(ifuncs, true, t.inputs)) return false;
  const long long scale = kit::Rounded(p[7]);
  if (scale != 0 && scale != 1) {
    showNamedMessage(L"M38_ModelInit", L"Specify 1 for Linear, or 0 for Log concentration");
    return false;
  }
  liver::FourParameterBoxes(p, {0.02, 0.9}, t.box);
  // The frames before the first one at or after the analysis length (all when none reaches it).
  t.window = kit::FirstIndexAtOrAfter(t.inputs.times.data(), t.inputs.n, p[6]);
  tables() = std::move(t);
  return true;
}

bool M38_ComputeParms(const CurveCall& call) {
  const Liver38Tables& t = tables();
  const int w = t.window;
  if (w < 2) return false;
  const double* times = t.inputs.times.data();
  std::vector<double> tissue;
  int start = 0;
  if (!liver::TissueBolusStart(call, times, tissue, &start)) return false;
  const double tissueBolusTime = times[start];
  CString text;
  text.Format(L"%s = %.10g\n%s = %.10g", L"AifBAt", t.inputs.arterialBolusTime, L"BAT", tissueBolusTime);
  liver::ShowCurveValues(text);

  const double ta = std::max(0.0, tissueBolusTime - t.inputs.arterialBolusTime);
  const double tv = std::max(0.0, t.inputs.arterialBolusTime + ta - t.inputs.venousBolusTime);
  std::vector<double> ca, cv;
  if (!kit::Take(PR_DelayThisFunction(t.inputs.arterial.data(), times, w, ta), w, ca)) return false;
  if (!kit::Take(PR_DelayThisFunction(t.inputs.venous.data(), times, w, tv), w, cv)) return false;

  Liver38Fit fit{&t, ca.data(), cv.data(), tissue.data(), liver::CurveWork(w), std::vector<double>(w)};
  const SingleCurveAnnouncement announcement(kType);
  const Optimisation choice = optimisation(kType);
  double best = VOID_VALUE, p[4] = {};
  if (!PR_OptimizeAmoebaOverGrid(choice.optA, 4, t.box, true, M38_Cost, &fit, choice.optB, 0, &best, p)) return false;

  const double F = p[0], fa = p[1], Ve = p[2], ki = p[3];
  liver::PutOutputs(*call.out, F, fa, Ve * 100, ki, ta, tv, std::sqrt(best));
  return true;
}

constexpr ModelOps kOps = {.init = M38_ModelInit, .compute = M38_ComputeParms, .close = M38_ModelClose};

}  // namespace

constexpr FreeParmSpec kFreeParms38[] = {
    {"Flow max [1,150]", 150},
    {"fa min   [0,1]", 0.05},
    {"fa max   [0,1]", 0.9},
    {"Ki max   [0.01,50]", 0},
    {"Max Arterial delay (sec)", 15},
    {"Max Venous delay (sec", 0},
    {"Analysis length (sec)", 1},
    {"Concentration linear=1\\log=0", 0},
};
const ModelSpec kModel38 = {
    .type = 38,
    .name = "",
    .outputs = liver::kOutputs,
    .freeParms = kFreeParms38,
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
