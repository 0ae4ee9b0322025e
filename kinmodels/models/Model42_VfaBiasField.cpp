// Type 42, variable-flip-angle T1 with a flip-angle scale (the bias field b, true angle = b * alpha):
// S = M0 * (1 - E1) * sin(theta) / (1 - E1 * cos(theta)), E1 = exp(-TR / T1), theta = b * alpha in
// [0, pi], one TR for all points.
//
// Method 2 searches b, E1 and M0 with the interval optimiser; method 6 solves the linear form
// S / sin(theta) = E1 * S / tan(theta) + M0 * (1 - E1) at each of "Bias precision" biases and keeps
// the straightest line. T1 limits in ms, T1 reported in seconds (the unit of TR).

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
#include "numerics/LinearAlgebra.h"
#include "numerics/Optimize.h"

namespace kin {
namespace {

constexpr int kType = 42;
enum Output { kT1, kM0, kBias, kRmse };

// Copied and tabulated by init; read-only while curves are computed.
struct Tables {
  double tr = 0;
  double biasMin = 0.5, biasMax = 2;
  int biasSteps = 1;
  double biasStep = 0;
  INTERVAL e1Range{};
  double regularisation = 0;
  std::vector<double> sine, cosine;  // [step * n + point] of the true angle at each bias step
} tables;

void M42_ModelClose() {
  tables.sine = {};
  tables.cosine = {};
}

bool M42_ModelInit(const INPUTFUNC*) {
  const wchar_t* const kName = L"M42_ModelInit";
  const Acquisition& acq = acquisition();
  const int n = acq.n;
  if (!IsValidDynamicComponent(L"b-value", acq.flipAngle, n)) return false;
  tables.tr = acq.tr;
  tables.biasMin = freeParm(kType, 0);
  tables.biasMax = freeParm(kType, 1);
  tables.biasSteps = int(std::lround(freeParm(kType, 2)));
  const double t1Min = freeParm(kType, 3) * 0.001, t1Max = freeParm(kType, 4) * 0.001;
  tables.regularisation = freeParm(kType, 5);
  if (optimisation(kType).method != 2 && std::fabs(tables.biasMax - tables.biasMin) >= 1e-100) {
    showNamedMessage(kName, L"Linearized solution requires constant bias field");
    return false;
  }
  const double largestAngle = *std::max_element(acq.flipAngle, acq.flipAngle + n);
  if (largestAngle < 0 || largestAngle > std::numbers::pi / 2) {
    showNamedMessage(kName, L"Flip Angle should be in [0,90] deg");
    return false;
  }
  tables.e1Range = IntervalOf(std::exp(-tables.tr / t1Max), std::exp(-tables.tr / t1Min));
  if (tables.biasSteps < 2) {
    tables.biasSteps = 1;
    tables.biasStep = 0;
  } else {
    tables.biasStep = (tables.biasMax - tables.biasMin) / (tables.biasSteps - 1);
  }
  tables.sine.resize(size_t(tables.biasSteps) * n);
  tables.cosine.resize(size_t(tables.biasSteps) * n);
  for (int k = 0; k < tables.biasSteps; ++k)
    for (int i = 0; i < n; ++i) {
      const double theta = mr::clampAngle((tables.biasMin + k * tables.biasStep) * acq.flipAngle[i]);
      tables.sine[size_t(k) * n + i] = std::sin(theta);
      tables.cosine[size_t(k) * n + i] = std::cos(theta);
    }
  return true;
}

// The signal at every flip angle for T1, M0 and the bias.
void signalCurve(double t1, double m0, double bias, const double* flipAngle, int n, double* out) {
  const double e1 = std::exp(-tables.tr / t1);
  for (int i = 0; i < n; ++i) out[i] = m0 * mr::spoiledFactor(e1, mr::clampAngle(bias * flipAngle[i]));
}

struct CostData {
  int count;
  double regularisation;
};

// Sum of squared residuals over a box (b, E1, M0), plus the regularisation times the sum of squared
// model values when the coefficient is not 0.
void boxCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
             double* centreCost, double* upperBound) {
  const CostData& data = *static_cast<const CostData*>(context);
  const INTERVAL bias = box[0], e1 = box[1], m0 = box[2];
  const double biasC = IntervalMid(bias), e1C = IntervalMid(e1), m0C = IntervalMid(m0);
  mr::ResidualSum sum;
  INTERVAL squares{0, 0};
  double squaresC = 0;
  for (int i = 0; i < data.count; ++i) {
    const INTERVAL model = m0 * mr::spoiledFactor(e1, mr::angleRange(bias, x[i]));
    const double modelC = m0C * mr::spoiledFactor(e1C, mr::clampAngle(biasC * x[i]));
    sum.add(model, modelC, y[i]);
    squares = squares + IntervalSquare(model);
    squaresC += modelC * modelC;
  }
  if (std::fabs(data.regularisation) >= 1e-100) {
    const INTERVAL penalty = data.regularisation * squares;
    sum.lower += penalty.lo;
    sum.upper += penalty.hi;
    sum.centre += data.regularisation * squaresC;
  }
  sum.report(1, lowerBound, centreCost, upperBound);
}

// The M0 that the point of largest signal implies over the b and E1 ranges.
INTERVAL amplitudeBox(const double* s, const double* flipAngle, int n, INTERVAL bias) {
  const int p = int(std::max_element(s, s + n) - s);
  const INTERVAL factor = mr::spoiledFactor(tables.e1Range, mr::angleRange(bias, flipAngle[p]));
  if (factor.lo <= 0 && factor.hi >= 0) return {-VOID_VALUE, VOID_VALUE};
  return s[p] / factor;
}

double t1Of(double e1) { return -tables.tr / std::log(e1); }

bool computeGlobal(const CurveCall& call) {
  const int n = call.n;
  const double* s = call.curve;
  const double* flipAngle = acquisition().flipAngle;
  const INTERVAL bias = IntervalOf(tables.biasMin, tables.biasMax);
  const INTERVAL box[3] = {bias, tables.e1Range, amplitudeBox(s, flipAngle, n, bias)};
  CostData data{n, tables.regularisation};
  INTERVAL best[3], confidence[3], costRange{};
  double bestCost = VOID_VALUE;
  if (!PR_GO_NonconstrCostOptimizeSLX(3, boxCost, &data, box, s, flipAngle, 1e-8, 1e-6, optimisation(kType).optB,
                                      best, &bestCost, confidence, &costRange, nullptr, false))
    return false;
  const double b = IntervalMid(best[0]), e1 = IntervalMid(best[1]), m0 = IntervalMid(best[2]);
  const double t1 = t1Of(e1);
  const INTERVAL t1Range =
      tables.tr == 0 ? INTERVAL{0, 0} : IntervalOf(t1Of(confidence[1].lo), t1Of(confidence[1].hi));
  if (call.fitCurve) signalCurve(t1, m0, b, flipAngle, n, call.fitCurve);
  const OutputWriter& out = *call.out;
  out.put(kT1, t1, t1Range.lo, t1Range.hi);
  out.put(kM0, m0, confidence[2].lo, confidence[2].hi);
  out.put(kBias, b, confidence[0].lo, confidence[0].hi);
  out.put(kRmse, std::sqrt(bestCost / n), mr::rootOrVoid(costRange.lo / n), mr::rootOrVoid(costRange.hi / n));
  return true;
}

// The linear form at each tabulated bias; the line with the smallest error wins (the first of equals).
bool computeLinear(const CurveCall& call) {
  const int n = call.n;
  const double* s = call.curve;
  std::vector<double> x(n), y(n);
  double bestError = VOID_VALUE, t1 = VOID_VALUE, m0 = VOID_VALUE, b = tables.biasMin;
  bool found = false;
  for (int k = 0; k < tables.biasSteps; ++k) {
    const double* sine = &tables.sine[size_t(k) * n];
    const double* cosine = &tables.cosine[size_t(k) * n];
    for (int i = 0; i < n; ++i) {
      y[i] = s[i] / sine[i];
      x[i] = y[i] * cosine[i];  // S / tan(theta)
    }
    double slope = 0, intercept = 0;
    const double error = PR_MSlineEquation(x.data(), y.data(), n, &slope, &intercept);
    if (!found || error < bestError) {
      found = true;
      bestError = error;
      t1 = t1Of(slope);
      m0 = intercept / (1 - slope);
      b = tables.biasMin + k * tables.biasStep;
    }
  }
  std::vector<double> model(n);
  signalCurve(t1, m0, b, acquisition().flipAngle, n, model.data());
  if (call.fitCurve) std::copy(model.begin(), model.end(), call.fitCurve);
  const OutputWriter& out = *call.out;
  out.put(kT1, t1);
  out.put(kM0, m0);
  out.put(kBias, b);
  out.put(kRmse, PR_ComputeRMSE(model.data(), s, n));
  return true;
}

bool M42_ComputeParms(const CurveCall& call) {
  SingleCurveAnnouncement announce(kType);
  return optimisation(kType).method == 6 ? computeLinear(call) : computeGlobal(call);
}

constexpr ModelOps kOps = {.init = M42_ModelInit, .compute = M42_ComputeParms, .close = M42_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs42[] = {
    {"T1", "sec", 1},
    {"M0", "", 1},
    {"Bias field", "", 1},
    {"fitting RMSE", "", 1},
};
constexpr FreeParmSpec kFreeParms42[] = {
    {"Min bias", 0.5},
    {"Max bias", 2},
    {"Bias precision", 100},
    {"Min T1 (ms)", 500},
    {"Max T1 (ms)", 3000},
    {"Regularize cost coefficient", 0},
};
const ModelSpec kModel42 = {
    .type = 42,
    .name = "42. T1 mapping using variable flip angle with B-field",
    .outputs = kOutputs42,
    .freeParms = kFreeParms42,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisFlipAngle,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(2),
    .method = 2, .optA = 0, .optB = 20000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};

}  // namespace kin
