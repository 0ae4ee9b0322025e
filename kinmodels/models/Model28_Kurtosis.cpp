// Type 28, diffusional kurtosis: S(b) = S0 * exp(-b * D + (b * D)^2 * K / 6).
//
// D is searched in [0, 0.005] mm^2/s, K between the two kurtosis limits and S0 within 10 % of the
// lowest-b signal, either by the interval optimiser (method 2) or by simplex searches started from
// a grid (method 3). Given wanted b-values, the fit extrapolates the series to them instead of
// reporting outputs. b in s/mm^2.

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

constexpr int kType = 28;
constexpr int kMaxPointsOfModel = 256;
enum Output { kD, kK, kResidual };

struct Settings {
  double kMin = 0, kMax = 3;
} settings;

bool M28_ModelInit(const INPUTFUNC*) {
  const wchar_t* const kName = L"M28_ModelInit";
  const Acquisition& acq = acquisition();
  if (acq.n <= 2) {
    showNamedMessage(kName, L"This model requires at least 3 dynamic points");
    return false;
  }
  if (acq.n > kMaxPointsOfModel) {
    showNamedMessage(kName, L"Number of timepoints exceeds the maximum allowed for this model");
    return false;
  }
  if (!IsValidDynamicComponent(L"b-value", acq.bValue, acq.n)) return false;
  settings.kMin = freeParm(kType, 0);
  settings.kMax = freeParm(kType, 1);
  return true;
}

double kurtosisSignal(double b, double d, double k, double s0) {
  const double u = b * d;
  return s0 * std::exp(-u + u * u * k / 6);
}

// Range of -u + k u^2 / 6 over u in [uLo, uHi] for one k: the ends and, for k > 0, the vertex 3 / k.
INTERVAL exponentRange(double uLo, double uHi, double k) {
  const auto g = [k](double u) { return -u + u * u * k / 6; };
  double lo = std::min(g(uLo), g(uHi)), hi = std::max(g(uLo), g(uHi));
  if (k > 0) {
    const double vertex = 3 / k;
    if (vertex > uLo && vertex < uHi) lo = std::min(lo, g(vertex));
  }
  return {lo, hi};
}

struct CostData {
  int count;
  const double* y;
  const double* b;
};

// Mean squared residual over a box (D, K, S0). The exponent is linear in K, so its range over the
// box is the hull of its ranges over u = b * D at the two ends of K.
void boxCost(void* context, const INTERVAL* box, const double*, const double*, double* lowerBound,
             double* centreCost, double* upperBound) {
  const CostData& data = *static_cast<const CostData*>(context);
  const INTERVAL d = box[0], k = box[1], s0 = box[2];
  const double dC = IntervalMid(d), kC = IntervalMid(k), s0C = IntervalMid(s0);
  mr::ResidualSum sum;
  for (int i = 0; i < data.count; ++i) {
    const double b = data.b[i];
    const double uLo = std::min(b * d.lo, b * d.hi), uHi = std::max(b * d.lo, b * d.hi);
    const INTERVAL exponent = mr::widen(IntervalHull(exponentRange(uLo, uHi, k.lo), exponentRange(uLo, uHi, k.hi)));
    sum.add(s0 * IntervalExp(exponent), kurtosisSignal(b, dC, kC, s0C), data.y[i]);
  }
  sum.report(data.count, lowerBound, centreCost, upperBound);
}

// Root mean squared residual of a parameter point (D, K, S0), for the simplex search.
double pointCost(void* context, const double* p, const double* dp) {
  const CostData& data = *static_cast<const CostData*>(context);
  double v[3] = {p[0], p[1], p[2]};
  if (dp)
    for (int j = 0; j < 3; ++j) v[j] += dp[j];
  double squares = 0;
  for (int i = 0; i < data.count; ++i) {
    const double r = data.y[i] - kurtosisSignal(data.b[i], v[0], v[1], v[2]);
    squares += r * r;
  }
  return std::sqrt(squares / data.count);
}

bool M28_ComputeParms(const CurveCall& call) {
  SingleCurveAnnouncement announce(kType);
  const int n = call.n;
  const bool extrapolate = mr::wantsExtrapolation(call);
  if (extrapolate) std::fill_n(call.fitCurve, call.numExtra, 0.0);
  const double* bValue = acquisition().bValue;
  mr::SortedCurve sorted;
  if (!mr::sortByAxis(call.curve, bValue, n, &sorted)) return false;
  const double y0 = sorted.signal[0];
  if (CurveMaxSpan(sorted.signal.data(), n) < 1 || y0 < 1) return false;

  const INTERVAL box[3] = {{0, 0.005}, IntervalOf(settings.kMin, settings.kMax), IntervalOf(0.9 * y0, 1.1 * y0)};
  CostData data{n, sorted.signal.data(), sorted.axis.data()};
  const Optimisation choice = optimisation(kType);
  double d = 0, k = 0, s0 = 0, residual = 0;
  INTERVAL dRange{VOID_VALUE, VOID_VALUE}, kRange{VOID_VALUE, VOID_VALUE}, residualRange{VOID_VALUE, VOID_VALUE};
  if (choice.method == 3) {
    double best[3], bestCost = VOID_VALUE;
    if (!PR_OptimizeAmoebaOverGrid(choice.optA, 3, box, true, pointCost, &data, choice.optB, -1, &bestCost, best))
      return false;
    d = best[0], k = best[1], s0 = best[2];
    residual = bestCost;
  } else {
    INTERVAL best[3], confidence[3], costRange{};
    double bestCost = VOID_VALUE;
    if (!PR_GO_NonconstrCostOptimizeSLX(3, boxCost, &data, box, nullptr, nullptr, 1e-8, 1e-6, choice.optB, best,
                                        &bestCost, confidence, &costRange, nullptr, false))
      return false;
    d = IntervalMid(best[0]), k = IntervalMid(best[1]), s0 = IntervalMid(best[2]);
    const double point[3] = {d, k, s0};
    residual = pointCost(&data, point, nullptr);
    dRange = confidence[0];
    kRange = confidence[1];
    residualRange = {mr::rootOrVoid(costRange.lo), mr::rootOrVoid(costRange.hi)};
  }

  const auto model = [&](double bv) { return kurtosisSignal(bv, d, k, s0); };
  if (mr::writeDiffusionModel(call, bValue, extrapolate, model)) return true;
  const OutputWriter& out = *call.out;
  out.put(kD, d, dRange.lo, dRange.hi);
  out.put(kK, k, kRange.lo, kRange.hi);
  out.put(kResidual, residual, residualRange.lo, residualRange.hi);
  return true;
}

constexpr ModelOps kOps = {.init = M28_ModelInit, .compute = M28_ComputeParms};

}  // namespace

constexpr OutputSpec kOutputs28[] = {
    {"D corrected diffusion", "mm^2/sec", 8},
    {"K excess kurtosis", "", 8},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms28[] = {
    {"minimal K excess kurtosis", 0},
    {"maximal K excess kurtosis", 3},
};
const ModelSpec kModel28 = {
    .type = 28,
    .name = "28. Diffusional kurtosis: S = S0*exp(-b*D + b^2*D^2*K/6)",
    .outputs = kOutputs28,
    .freeParms = kFreeParms28,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisBValue,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(2) | methodBit(3),
    .method = 2, .optA = 5, .optB = 20000,
    .preprocessTasks = {0, 0},
    .extrapolate = true,
    .ops = kOps,
};

}  // namespace kin
