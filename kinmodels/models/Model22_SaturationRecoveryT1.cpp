// Type 22, saturation-recovery T1 from six fixed delays TD (ms):
// S = M0 * (1 - exp(-TD / T1)), with M0 taken from the last (longest-delay) point.
//
// R1 = 1 / T1 is searched in [1e-4, 0.01] 1/ms by the interval optimiser; an analytic T1 from the
// 700 ms and 4000 ms points is reported beside it with its difference to the fit. T1 in ms.

#include <algorithm>
#include <cmath>

#include "CurveUtils.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelTable.h"
#include "MrSignalModels.h"
#include "numerics/Optimize.h"

namespace kin {
namespace {

constexpr int kType = 22;
constexpr int kNumDelays = 6;
constexpr double kDelays[kNumDelays] = {350, 700, 1050, 1750, 2450, 4000};
enum Output { kT1, kResidual, kAnalyticT1, kDiff, kDiffRelative, kDiffPercentage };

struct Settings {
  bool roundT1 = true;
} settings;

bool M22_ModelInit(const INPUTFUNC*) {
  if (acquisition().n != kNumDelays) {
    showNamedMessage(L"M22_ModelInit", L"6 dynamic poitns are required here");
    return false;
  }
  settings.roundT1 = freeParm(kType, 0) > 0;
  return true;
}

// Sum over the points of (S / M - (1 - exp(-TD * R1)))^2 over an interval of R1.
void boxCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
             double* centreCost, double* upperBound) {
  const double scale = *static_cast<const double*>(context);
  const INTERVAL r1 = box[0];
  const double r1C = IntervalMid(r1);
  mr::ResidualSum sum;
  for (int i = 0; i < kNumDelays; ++i)
    sum.add(1.0 - IntervalExp(-x[i] * r1), 1 - std::exp(-x[i] * r1C), y[i] / scale);
  sum.report(1, lowerBound, centreCost, upperBound);
}

double rounded(double t1) { return settings.roundT1 ? std::floor(t1 + 0.5) : t1; }

bool M22_ComputeParms(const CurveCall& call) {
  SingleCurveAnnouncement announce(kType);
  const double* s = call.curve;
  double scale = std::max(1.0, s[kNumDelays - 1]);
  const INTERVAL box[1] = {{1e-4, 0.01}};
  INTERVAL best[1];
  double bestCost = VOID_VALUE;
  if (!PR_GO_NonconstrCostOptimizeSLX(1, boxCost, &scale, box, s, kDelays, 1e-6, 1e-8, optimisation(kType).optB,
                                      best, &bestCost, nullptr, nullptr, nullptr, false))
    return false;
  const double t1 = rounded(1 / IntervalMid(best[0]));

  // The 700 ms point against the 4000 ms point, taken as fully recovered.
  const double early = std::max(1.0, s[1]), late = std::max(1.0, s[5]);
  const double analytic = early >= late ? VOID_VALUE : rounded(std::fabs(-700 / std::log(1 - early / late)));

  const OutputWriter& out = *call.out;
  out.put(kT1, t1);
  out.put(kResidual, bestCost);
  out.put(kAnalyticT1, analytic);
  out.put(kDiff, std::fabs(analytic - t1));
  out.put(kDiffRelative, (analytic - t1) / t1);
  out.put(kDiffPercentage, (analytic - t1) * 100 / t1);
  return true;
}

constexpr ModelOps kOps = {.init = M22_ModelInit, .compute = M22_ComputeParms};

}  // namespace

constexpr OutputSpec kOutputs22[] = {
    {"T1", "ms", 1},
    {"Fitting residual", "", 1},
    {"Analytic T1", "ms", 1},
    {"Analytic T1 Diff", "ms", 1},
    {"Analytic T1 Diff Relative", "", 1},
    {"Analytic T1 Diff Percentage", "pct", 1},
};
constexpr FreeParmSpec kFreeParms22[] = {
    {"Round T1 values", 1},
};
const ModelSpec kModel22 = {
    .type = 22,
    .name = "22. S = M0*(1-exp(-TD/T1) with 6 fixed TD values",
    .outputs = kOutputs22,
    .freeParms = kFreeParms22,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(2),
    .method = 2, .optA = 0, .optB = 100000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};

}  // namespace kin
