// Type 23, saturation-recovery T1 with M0 fitted: S = M0 * (1 - exp(-TD / T1)), for two delays
// TD = (700, 4000) ms or six delays (350, 700, 1050, 1750, 2450, 4000) ms.
//
// R1 = 1 / T1 in [1e-4, 0.01] 1/ms and M0 within 30 % of the last signal are searched by the
// interval optimiser; the analytic T1 of the 700 ms point against the last one is reported beside
// the fit. T1 in ms.

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

constexpr int kType = 23;
constexpr double kTwoDelays[2] = {700, 4000};
constexpr double kSixDelays[6] = {350, 700, 1050, 1750, 2450, 4000};
enum Output { kAnalyticT1, kT1, kResidual, kDiff, kDiffRelative, kDiffPercentage };

// The delay table chosen by init for the number of points.
struct Settings {
  const double* delays = kSixDelays;
  int count = 6;
} settings;

bool M23_ModelInit(const INPUTFUNC*) {
  const int n = acquisition().n;
  if (n == 2) {
    settings = {kTwoDelays, 2};
  } else if (n == 6) {
    settings = {kSixDelays, 6};
  } else {
    showNamedMessage(L"M23_ModelInit", L"2 or 6 dynamic poitns are required");
    return false;
  }
  return true;
}

// Sum of (S - M0 * (1 - exp(-TD * R1)))^2 over a box (R1, M0); of two points only the second enters.
void boxCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound, double* centreCost,
             double* upperBound) {
  const INTERVAL r1 = box[0], m0 = box[1];
  const double r1C = IntervalMid(r1), m0C = IntervalMid(m0);
  mr::ResidualSum sum;
  const int count = *static_cast<const int*>(context);
  for (int i = count == 2 ? 1 : 0; i < count; ++i)
    sum.add(m0 * (1.0 - IntervalExp(-x[i] * r1)), m0C * (1 - std::exp(-x[i] * r1C)), y[i]);
  sum.report(1, lowerBound, centreCost, upperBound);
}

bool M23_ComputeParms(const CurveCall& call) {
  SingleCurveAnnouncement announce(kType);
  const double* s = call.curve;
  const int last = settings.count - 1;
  const double a = std::max(1.0, s[settings.count == 2 ? 0 : 1]), b = std::max(1.0, s[last]);
  const double analytic = a >= b ? VOID_VALUE : std::fabs(-700 / std::log(1 - a / b));
  const OutputWriter& out = *call.out;
  out.put(kAnalyticT1, analytic);

  const double m = std::max(1.0, s[last]);
  const INTERVAL box[2] = {{1e-4, 0.01}, {0.7 * m, 1.3 * m}};
  INTERVAL best[2];
  double bestCost = VOID_VALUE;
  int count = settings.count;
  if (!PR_GO_NonconstrCostOptimizeSLX(2, boxCost, &count, box, s, settings.delays, 1e-8, 1e-6,
                                      optimisation(kType).optB, best, &bestCost, nullptr, nullptr, nullptr, false))
    return false;
  const double t1 = 1 / IntervalMid(best[0]);
  out.put(kT1, t1);
  out.put(kResidual, bestCost);
  out.put(kDiff, std::fabs(analytic - t1));
  out.put(kDiffRelative, (analytic - t1) / t1);
  out.put(kDiffPercentage, (analytic - t1) * 100 / t1);
  return true;
}

constexpr ModelOps kOps = {.init = M23_ModelInit, .compute = M23_ComputeParms};

}  // namespace

constexpr OutputSpec kOutputs23[] = {
    {"Analytic T1", "ms", 1},
    {"T1", "ms", 1},
    {"Fitting residual", "", 1},
    {"Analytic T1 Diff", "ms", 1},
    {"Analytic T1 Diff Relative", "", 1},
    {"Analytic T1 Diff Percentage", "pct", 1},
};
const ModelSpec kModel23 = {
    .type = 23,
    .name = "23. S=M0*(1-exp(-TD/T1) - 2 variables, TD=(700/4000) or TD=(350,700,1050,1750,2450,4000)",
    .outputs = kOutputs23,
    .freeParms = {},
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(2),
    .method = 2, .optA = 0, .optB = 50000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};

}  // namespace kin
