// Type 51, variable-flip-angle T1 with a repetition time per point and a flip-angle scale b:
// S_i = M0 * (1 - E1_i) * sin(theta_i) / (1 - E1_i * cos(theta_i)) * exp(-TE_i / T2),
// E1_i = exp(-TR_i / T1), theta_i = b * alpha_i in [0, pi]; the T2 decay enters only when the echo
// times differ.
//
// The host passes the curves within "Vicinity Rad"; their mean is fitted. T1, M0, b (and T2) are
// searched by the interval optimiser. Limits in ms, times reported in seconds.

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "CurveUtils.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelTable.h"
#include "MrSignalModels.h"
#include "numerics/CurveStats.h"
#include "numerics/CurveTools.h"
#include "numerics/Optimize.h"

namespace kin {
namespace {

constexpr int kType = 51;
enum Output { kT1, kM0, kBias, kT2, kRmse };

struct Settings {
  double biasMin = 0.5, biasMax = 2;
  double t1Min = 0.2, t1Max = 3;
  double t2Min = 0.04, t2Max = 0.06;
  bool withT2 = false;  // the echo times differ
} settings;

bool M51_ModelInit(const INPUTFUNC*) {
  const Acquisition& acq = acquisition();
  const int n = acq.n;
  if (!IsValidDynamicComponent(L"b-value", acq.flipAngle, n)) return false;
  settings.biasMin = freeParm(kType, 1);
  settings.biasMax = freeParm(kType, 2);
  settings.t1Min = freeParm(kType, 3) * 0.001;
  settings.t1Max = freeParm(kType, 4) * 0.001;
  settings.t2Min = freeParm(kType, 5) * 0.001;
  settings.t2Max = freeParm(kType, 6) * 0.001;
  const double largestAngle = *std::max_element(acq.flipAngle, acq.flipAngle + n);
  if (largestAngle < 0 || largestAngle > std::numbers::pi / 2) {
    showNamedMessage(L"M51_ModelInit", L"Flip Angle should be in [0,90] deg");
    return false;
  }
  settings.withT2 = !PR_IsConstantArray(acq.echoTime, n);
  return true;
}

struct CostData {
  int count;
  bool withT2;
  const double* repetitionTime;
  const double* echoTime;
};

double signalAt(const CostData& d, int i, double alpha, double t1, double m0, double bias, double t2) {
  const double e1 = std::exp(-d.repetitionTime[i] / t1);
  double s = m0 * mr::spoiledFactor(e1, mr::clampAngle(bias * alpha));
  if (d.withT2) s *= std::exp(-d.echoTime[i] / t2);
  return s;
}

// Sum of squared residuals over a box (T1, M0, b[, T2]), T1 and T2 > 0.
void boxCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
             double* centreCost, double* upperBound) {
  const CostData& d = *static_cast<const CostData*>(context);
  const INTERVAL t1 = box[0], m0 = box[1], bias = box[2];
  const double t1C = IntervalMid(t1), m0C = IntervalMid(m0), biasC = IntervalMid(bias);
  const double t2C = d.withT2 ? IntervalMid(box[3]) : 1;
  mr::ResidualSum sum;
  for (int i = 0; i < d.count; ++i) {
    const double tr = d.repetitionTime[i];
    const INTERVAL e1 = mr::widen(IntervalOf(std::exp(-tr / t1.lo), std::exp(-tr / t1.hi)));
    INTERVAL model = m0 * mr::spoiledFactor(e1, mr::angleRange(bias, x[i]));
    if (d.withT2) {
      const double te = d.echoTime[i];
      model = model * mr::widen(IntervalOf(std::exp(-te / box[3].lo), std::exp(-te / box[3].hi)));
    }
    sum.add(model, signalAt(d, i, x[i], t1C, m0C, biasC, t2C), y[i]);
  }
  sum.report(1, lowerBound, centreCost, upperBound);
}

bool M51_ComputeParms(const CurveCall& call) {
  SingleCurveAnnouncement announce(kType);
  const int n = call.n;
  const Acquisition& acq = acquisition();
  std::vector<double> s(n);
  if (!PR_AverageOfCurves(call.curves, call.numCurves, n, s.data())) return false;

  const bool withT2 = settings.withT2;
  const int numVars = withT2 ? 4 : 3;
  const INTERVAL box[4] = {IntervalOf(settings.t1Min, settings.t1Max), IntervalOf(s[0] / 1000, s[0] * 1000),
                           IntervalOf(settings.biasMin, settings.biasMax),
                           IntervalOf(settings.t2Min, settings.t2Max)};
  CostData data{n, withT2, acq.repetitionTime, acq.echoTime};
  INTERVAL best[4], confidence[4], costRange{};
  double bestCost = VOID_VALUE;
  if (!PR_GO_NonconstrCostOptimizeSLX(numVars, boxCost, &data, box, s.data(), acq.flipAngle, 1e-8, 1e-6,
                                      optimisation(kType).optB, best, &bestCost, confidence, &costRange, nullptr,
                                      false))
    return false;
  const double t1 = IntervalMid(best[0]), m0 = IntervalMid(best[1]), bias = IntervalMid(best[2]);
  const double t2 = withT2 ? IntervalMid(best[3]) : 0;
  if (call.fitCurve)
    for (int i = 0; i < n; ++i) call.fitCurve[i] = signalAt(data, i, acq.flipAngle[i], t1, m0, bias, t2);

  const OutputWriter& out = *call.out;
  out.put(kT1, t1, confidence[0].lo, confidence[0].hi);
  out.put(kM0, m0, confidence[1].lo, confidence[1].hi);
  out.put(kBias, bias, confidence[2].lo, confidence[2].hi);
  if (withT2)
    out.put(kT2, t2, confidence[3].lo, confidence[3].hi);
  else
    out.put(kT2, 0);
  out.put(kRmse, std::sqrt(bestCost / n), mr::rootOrVoid(costRange.lo / n), mr::rootOrVoid(costRange.hi / n));
  return true;
}

constexpr ModelOps kOps = {.init = M51_ModelInit, .compute = M51_ComputeParms};

}  // namespace

constexpr OutputSpec kOutputs51[] = {
    {"T1", "sec", 1},
    {"M0", "", 1},
    {"Bias field", "", 1},
    {"T2", "sec", 1},
    {"fitting RMSE", "", 0},
};
constexpr FreeParmSpec kFreeParms51[] = {
    {"Vicinity Rad", 4},
    {"Min bias", 0.5},
    {"Max bias", 2},
    {"Min T1 (ms)", 200},
    {"Max T1 (ms)", 3000},
    {"Min T2 (ms)", 40},
    {"Max T2 (ms)", 60},
};
const ModelSpec kModel51 = {
    .type = 51,
    .name = "51. T1 mapping using variable flip angle and TR with bias field",
    .outputs = kOutputs51,
    .freeParms = kFreeParms51,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisFlipAngle,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(2) | methodBit(3),
    .method = 2, .optA = 5, .optB = 20000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};

}  // namespace kin
