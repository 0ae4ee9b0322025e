// Type 53, variable-flip-angle T1 from series at two repetition times, each with its own scale:
// S_i = M * (1 - E1_i) * sin(theta_i) / (1 - E1_i * cos(theta_i)), E1_i = exp(-TR_i / T1),
// theta_i = b * alpha_i in [0, pi], M = M0 at the first repetition time and M1 at the other.
//
// The host passes the curves within "Vicinity Rad"; their mean is fitted. T1, M0, M1 and b are
// searched by the interval optimiser; no T2 is fitted. T1 limits in ms, T1 reported in seconds.

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "CurveUtils.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelTable.h"
#include "MrSignalModels.h"
#include "numerics/CurveTools.h"
#include "numerics/Optimize.h"

namespace kin {
namespace {

constexpr int kType = 53;
enum Output { kT1, kT2, kM0, kM1, kBias, kRmse };

struct Settings {
  double biasMin = 0.5, biasMax = 2;
  double t1Min = 0.2, t1Max = 3;
  double firstTr = 0;  // points at this repetition time scale with M0, the others with M1
} settings;

bool M53_ModelInit(const INPUTFUNC*) {
  const wchar_t* const kName = L"M53_ModelInit";
  const Acquisition& acq = acquisition();
  const int n = acq.n;
  if (!IsValidDynamicComponent(L"b-value", acq.flipAngle, n)) return false;
  const double largestAngle = *std::max_element(acq.flipAngle, acq.flipAngle + n);
  if (largestAngle < 0 || largestAngle > std::numbers::pi / 2) {
    showNamedMessage(kName, L"Flip Angle should be in [0,90] deg");
    return false;
  }
  std::vector<double> distinct(n);
  if (PR_ExtractDiffentVals(acq.repetitionTime, n, distinct.data()) != 2) {
    showNamedMessage(kName, L"This model requires exactly two different TR values");
    return false;
  }
  settings.firstTr = distinct[0];
  settings.biasMin = freeParm(kType, 1);
  settings.biasMax = freeParm(kType, 2);
  settings.t1Min = freeParm(kType, 3) * 0.001;
  settings.t1Max = freeParm(kType, 4) * 0.001;
  return true;
}

struct CostData {
  int count;
  double firstTr;
  const double* repetitionTime;
};

double signalAt(const CostData& d, int i, double alpha, double t1, double m0, double m1, double bias) {
  const double tr = d.repetitionTime[i];
  return (tr == d.firstTr ? m0 : m1) * mr::spoiledFactor(std::exp(-tr / t1), mr::clampAngle(bias * alpha));
}

// Sum of squared residuals over a box (T1, M0, M1, b), T1 > 0.
void boxCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
             double* centreCost, double* upperBound) {
  const CostData& d = *static_cast<const CostData*>(context);
  const INTERVAL t1 = box[0], m0 = box[1], m1 = box[2], bias = box[3];
  const double t1C = IntervalMid(t1), m0C = IntervalMid(m0), m1C = IntervalMid(m1), biasC = IntervalMid(bias);
  mr::ResidualSum sum;
  for (int i = 0; i < d.count; ++i) {
    const double tr = d.repetitionTime[i];
    const INTERVAL e1 = mr::widen(IntervalOf(std::exp(-tr / t1.lo), std::exp(-tr / t1.hi)));
    const INTERVAL model = (tr == d.firstTr ? m0 : m1) * mr::spoiledFactor(e1, mr::angleRange(bias, x[i]));
    sum.add(model, signalAt(d, i, x[i], t1C, m0C, m1C, biasC), y[i]);
  }
  sum.report(1, lowerBound, centreCost, upperBound);
}

bool M53_ComputeParms(const CurveCall& call) {
  SingleCurveAnnouncement announce(kType);
  const int n = call.n;
  const Acquisition& acq = acquisition();
  std::vector<double> s(n);
  if (!PR_AverageOfCurves(call.curves, call.numCurves, n, s.data())) return false;

  const double largest = *std::max_element(s.begin(), s.end());
  const INTERVAL scale = IntervalOf(largest / 1000, largest * 1000);
  const INTERVAL box[4] = {IntervalOf(settings.t1Min, settings.t1Max), scale, scale,
                           IntervalOf(settings.biasMin, settings.biasMax)};
  CostData data{n, settings.firstTr, acq.repetitionTime};
  INTERVAL best[4], confidence[4], costRange{};
  double bestCost = VOID_VALUE;
  if (!PR_GO_NonconstrCostOptimizeSLX(4, boxCost, &data, box, s.data(), acq.flipAngle, 1e-8, 1e-6,
                                      optimisation(kType).optB, best, &bestCost, confidence, &costRange, nullptr,
                                      false))
    return false;
  const double t1 = IntervalMid(best[0]), m0 = IntervalMid(best[1]), m1 = IntervalMid(best[2]);
  const double bias = IntervalMid(best[3]);
  if (call.fitCurve)
    for (int i = 0; i < n; ++i) call.fitCurve[i] = signalAt(data, i, acq.flipAngle[i], t1, m0, m1, bias);

  const OutputWriter& out = *call.out;
  out.put(kT1, t1, confidence[0].lo, confidence[0].hi);
  out.put(kT2, 0);
  out.put(kM0, m0, confidence[1].lo, confidence[1].hi);
  out.put(kM1, m1, confidence[2].lo, confidence[2].hi);
  out.put(kBias, bias, confidence[3].lo, confidence[3].hi);
  out.put(kRmse, std::sqrt(bestCost / n), mr::rootOrVoid(costRange.lo / n), mr::rootOrVoid(costRange.hi / n));
  return true;
}

constexpr ModelOps kOps = {.init = M53_ModelInit, .compute = M53_ComputeParms};

}  // namespace

constexpr OutputSpec kOutputs53[] = {
    {"T1", "sec", 1},
    {"T2", "sec", 1},
    {"M0", "", 1},
    {"M1", "", 1},
    {"Bias field", "", 0},
    {"fitting RMSE", "", 0},
};
constexpr FreeParmSpec kFreeParms53[] = {
    {"Vicinity Rad", 4},
    {"Min bias", 0.5},
    {"Max bias", 2},
    {"Min T1 (ms)", 200},
    {"Max T1 (ms)", 3000},
    {"Min T2 (ms)", 40},
    {"Max T2 (ms)", 60},
};
const ModelSpec kModel53 = {
    .type = 53,
    .name = "53. T1 mapping using variable flip angle and two TR values",
    .outputs = kOutputs53,
    .freeParms = kFreeParms53,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisFlipAngle,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(2),
    .method = 2, .optA = 0, .optB = 500000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};

}  // namespace kin
