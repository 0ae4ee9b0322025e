// Type 21, stretched-exponential diffusion: S(b) = S0 * exp(-(b * DDC)^alpha), S0 the signal at b = 0.
//
// DDC and alpha are searched by the interval optimiser over [0, "DDC upper limit"] x [0, 1]. Given
// wanted b-values, the fit extrapolates the series to them instead of reporting outputs.
// b in s/mm^2, DDC in mm^2/s.

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

constexpr int kType = 21;
enum Output { kDdc, kAlpha, kResidual };

struct Settings {
  double tailCutoff = 0;
  double ddcMax = 0.05;
} settings;

bool M21_ModelInit(const INPUTFUNC*) {
  const wchar_t* const kName = L"M21_ModelInit";
  const Acquisition& acq = acquisition();
  if (acq.n <= 2) {
    showNamedMessage(kName, L"This model requires at least 3 dynamic points");
    return false;
  }
  if (!IsValidDynamicComponent(L"b-value", acq.bValue, acq.n)) return false;
  if (std::fabs(*std::min_element(acq.bValue, acq.bValue + acq.n)) >= 1e-100) {
    showNamedMessage(kName, L"bval=0 is required in this model");
    return false;
  }
  settings.tailCutoff = freeParm(kType, 0);
  settings.ddcMax = freeParm(kType, 1);
  return true;
}

struct CostData {
  int count;
  double s0;
};

double stretched(double s0, double b, double ddc, double alpha) {
  return s0 * std::exp(-std::pow(std::max(0.0, b * ddc), alpha));
}

// Sum of squared residuals over a box (DDC, alpha). For b * DDC >= 0, (b * DDC)^alpha is monotone in
// each variable, so its range over the box lies between the four corner values.
void boxCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
             double* centreCost, double* upperBound) {
  const CostData& data = *static_cast<const CostData*>(context);
  const INTERVAL ddc = box[0], alpha = box[1];
  const double ddcC = IntervalMid(ddc), alphaC = IntervalMid(alpha);
  mr::ResidualSum sum;
  for (int i = 0; i < data.count; ++i) {
    const double lo = std::max(0.0, x[i] * ddc.lo), hi = std::max(0.0, x[i] * ddc.hi);
    const double corners[4] = {std::pow(lo, alpha.lo), std::pow(lo, alpha.hi), std::pow(hi, alpha.lo),
                               std::pow(hi, alpha.hi)};
    const INTERVAL power = mr::widen({*std::min_element(corners, corners + 4), *std::max_element(corners, corners + 4)});
    sum.add(data.s0 * IntervalExp(-power), stretched(data.s0, x[i], ddcC, alphaC), y[i]);
  }
  sum.report(1, lowerBound, centreCost, upperBound);
}

bool M21_ComputeParms(const CurveCall& call) {
  SingleCurveAnnouncement announce(kType);
  const int n = call.n;
  const bool extrapolate = mr::wantsExtrapolation(call);
  if (extrapolate) std::fill_n(call.fitCurve, call.numExtra, 0.0);
  const double* bValue = acquisition().bValue;
  mr::SortedCurve sorted;
  if (!mr::sortByAxis(call.curve, bValue, n, &sorted)) return false;
  const double* s = sorted.signal.data();

  // The cut-off only decides whether the curve is worth fitting; all points enter the fit.
  int above = 0;
  while (above < n && s[above] >= settings.tailCutoff) ++above;
  if (above <= 2) return false;
  const double s0 = s[0];
  if (CurveMaxSpan(s, n) < 1e-6 || s0 <= 0) return false;

  const INTERVAL box[2] = {IntervalOf(0, settings.ddcMax), IntervalOf(0, 1)};
  CostData data{n, s0};
  INTERVAL best[2], confidence[2], costRange{};
  double bestCost = VOID_VALUE;
  if (!PR_GO_NonconstrCostOptimizeSLX(2, boxCost, &data, box, s, sorted.axis.data(), 1e-8, 1e-6,
                                      optimisation(kType).optB, best, &bestCost, confidence, &costRange, nullptr,
                                      false))
    return false;
  const double ddc = IntervalMid(best[0]), alpha = IntervalMid(best[1]);
  const auto model = [&](double bv) { return stretched(s0, bv, ddc, alpha); };
  if (mr::writeDiffusionModel(call, bValue, extrapolate, model)) return true;
  const INTERVAL meanCost = IntervalOf(costRange.lo / n, costRange.hi / n);
  const INTERVAL residualRange =
      meanCost.hi < 0 ? INTERVAL{-VOID_VALUE, VOID_VALUE} : IntervalSquareRoot(meanCost);
  const OutputWriter& out = *call.out;
  out.put(kDdc, ddc, confidence[0].lo, confidence[0].hi);
  out.put(kAlpha, alpha, confidence[1].lo, confidence[1].hi);
  out.put(kResidual, std::sqrt(bestCost / n), residualRange.lo, residualRange.hi);
  return true;
}

constexpr ModelOps kOps = {.init = M21_ModelInit, .compute = M21_ComputeParms};

}  // namespace

constexpr OutputSpec kOutputs21[] = {
    {"DDC", "mm^2/sec", 1},
    {"alpha", "", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms21[] = {
    {"Low signal tail cutoff", 0},
    {"DDC upper limit", 0.05},
};
const ModelSpec kModel21 = {
    .type = 21,
    .name = "21. Stretched exponential diffusion: S = S0*exp((-b*DDC)^alpha)",
    .outputs = kOutputs21,
    .freeParms = kFreeParms21,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisBValue,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(2),
    .method = 2, .optA = 0, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = true,
    .ops = kOps,
};

}  // namespace kin
