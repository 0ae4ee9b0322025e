// Type 24, T1 from a variable-flip-angle spoiled gradient-echo series:
// S = M0 * (1 - E) * sin(A) / (1 - E * cos(A)), E = exp(-TR / T1), TR set by the host.
//
// Method 2 searches E in [1e-6, 1] and M0 in [0.01, 100] times the largest signal with the interval
// optimiser; method 6 is the linear form S / sin(A) = E * S / tan(A) + M0 * (1 - E). Curves whose
// every signal lies at or below "Background threshold (xNoise)" times the noise level are background.
// T1 in seconds (the unit of TR).

#include <algorithm>
#include <cmath>
#include <vector>

#include "CurveUtils.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelTable.h"
#include "MrSignalModels.h"
#include "numerics/CurveStats.h"
#include "numerics/LinearAlgebra.h"
#include "numerics/Optimize.h"

namespace kin {
namespace {

constexpr int kType = 24;
enum Output { kT1, kM0, kResidual };

// Copied and tabulated by init; read-only while curves are computed.
struct Tables {
  double tr = 0;
  double signalFloor = 0;
  std::vector<double> sine, cosine, tangent;  // of each flip angle
} tables;

void M24_ModelClose() {
  tables.sine = {};
  tables.cosine = {};
  tables.tangent = {};
}

bool M24_ModelInit(const INPUTFUNC*) {
  const Acquisition& acq = acquisition();
  const int n = acq.n;
  if (!IsValidDynamicComponent(L"b-value", acq.flipAngle, n)) return false;
  tables.tr = acq.tr;
  tables.signalFloor = freeParm(kType, 0) * acq.noiseLevel;
  tables.sine.resize(n);
  tables.cosine.resize(n);
  tables.tangent.resize(n);
  for (int i = 0; i < n; ++i) {
    tables.sine[i] = std::sin(acq.flipAngle[i]);
    tables.cosine[i] = std::cos(acq.flipAngle[i]);
    tables.tangent[i] = std::tan(acq.flipAngle[i]);
  }
  return true;
}

// Sum of squared residuals over a box (E, M0).
void boxCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
             double* centreCost, double* upperBound) {
  const int n = *static_cast<const int*>(context);
  const INTERVAL e = box[0], m0 = box[1];
  const double eC = IntervalMid(e), m0C = IntervalMid(m0);
  mr::ResidualSum sum;
  for (int i = 0; i < n; ++i)
    sum.add(m0 * mr::spoiledFactor(e, IntervalPoint(x[i])), m0C * mr::spoiledFactor(eC, x[i]), y[i]);
  sum.report(1, lowerBound, centreCost, upperBound);
}

bool M24_ComputeParms(const CurveCall& call) {
  SingleCurveAnnouncement announce(kType);
  const int n = call.n;
  const double* s = call.curve;
  const OutputWriter& out = *call.out;
  const double largest = *std::max_element(s, s + n);
  if (largest <= tables.signalFloor) {
    for (int output : {kT1, kM0, kResidual}) out.put(output, VOID_VALUE);
    return true;
  }
  const double tr = tables.tr;
  const Optimisation choice = optimisation(kType);
  double t1 = VOID_VALUE, m0 = VOID_VALUE;
  if (choice.method == 2) {
    const INTERVAL box[2] = {{1e-6, 1}, {0.01 * largest, 100 * largest}};
    int count = n;
    INTERVAL best[2];
    double bestCost = VOID_VALUE;
    if (!PR_GO_NonconstrCostOptimizeSLX(2, boxCost, &count, box, s, acquisition().flipAngle, 1e-8, 1e-6, choice.optB,
                                        best, &bestCost, nullptr, nullptr, nullptr, false))
      return false;
    t1 = -tr / std::log(IntervalMid(best[0]));
    m0 = IntervalMid(best[1]);
  } else if (choice.method == 6) {
    std::vector<double> x(n), y(n);
    for (int i = 0; i < n; ++i) {
      y[i] = s[i] / tables.sine[i];
      x[i] = s[i] / tables.tangent[i];
    }
    double slope = 0, intercept = 0;
    PR_MSlineEquation(x.data(), y.data(), n, &slope, &intercept);
    t1 = -tr / std::log(slope);
    m0 = intercept / (1 - slope);
  }

  std::vector<double> model(n);
  const double e = std::exp(-tr / t1);
  for (int i = 0; i < n; ++i) model[i] = (1 - e) * m0 * tables.sine[i] / (1 - e * tables.cosine[i]);
  if (call.fitCurve) std::copy(model.begin(), model.end(), call.fitCurve);
  out.put(kT1, t1);
  out.put(kM0, m0);
  out.put(kResidual, PR_ComputeRMSE(model.data(), s, n));
  return true;
}

constexpr ModelOps kOps = {.init = M24_ModelInit, .compute = M24_ComputeParms, .close = M24_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs24[] = {
    {"T1", "sec", 1},
    {"M0", "", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms24[] = {
    {"Background threshold (xNoise)", 5},
};
const ModelSpec kModel24 = {
    .type = 24,
    .name = "24. T1 mapping using variable flip angle: S = M0*(1-exp(-TR/T1))*sin(A)/(1-exp(-TR/T1)*cos(A)) ",
    .outputs = kOutputs24,
    .freeParms = kFreeParms24,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisFlipAngle,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(2) | methodBit(6),
    .method = 2, .optA = 0, .optB = 1000,
    .preprocessTasks = {1, 0},
    .extrapolate = false,
    .ops = kOps,
};

}  // namespace kin
