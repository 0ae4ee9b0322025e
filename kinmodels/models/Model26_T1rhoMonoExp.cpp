// Type 26, mono-exponential T1rho above a noise floor: S = Noise + S0 * exp(-TSL / T1rho).
//
// The noise floor is subtracted (clipped at 0); S0 in [0, 2 * largest] and T1rho in [1e-6, 10] s are
// searched by the interval optimiser. TSL in seconds.

#include <algorithm>
#include <cmath>
#include <vector>

#include "CurveUtils.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelTable.h"
#include "MrSignalModels.h"
#include "numerics/CurveStats.h"
#include "numerics/Optimize.h"

namespace kin {
namespace {

constexpr int kType = 26;
enum Output { kT1rho, kR1rho, kRmse, kRrse };

struct Settings {
  double noise = 1;
} settings;

bool M26_ModelInit(const INPUTFUNC*) {
  settings.noise = freeParm(kType, 0);
  return true;
}

// Mean squared residual over a box (S0, T1rho), T1rho > 0.
void boxCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
             double* centreCost, double* upperBound) {
  const int n = *static_cast<const int*>(context);
  const INTERVAL s0 = box[0], t1rho = box[1];
  const double s0C = IntervalMid(s0), tC = IntervalMid(t1rho);
  mr::ResidualSum sum;
  for (int i = 0; i < n; ++i) {
    // -TSL / T1rho rises with T1rho for TSL >= 0.
    const INTERVAL exponent = mr::widen(IntervalOf(-x[i] / t1rho.lo, -x[i] / t1rho.hi));
    sum.add(s0 * IntervalExp(exponent), s0C * std::exp(-x[i] / tC), y[i]);
  }
  sum.report(n, lowerBound, centreCost, upperBound);
}

bool M26_ComputeParms(const CurveCall& call) {
  SingleCurveAnnouncement announce(kType);
  const int n = call.n;
  const double* tsl = acquisition().spinLockTime;
  std::vector<double> y(call.curve, call.curve + n);
  for (double& v : y) v = std::max(0.0, v - settings.noise);
  const double m = *std::max_element(y.begin(), y.end());

  const INTERVAL box[2] = {IntervalOf(0, 2 * m), {1e-6, 10}};
  int count = n;
  INTERVAL best[2], confidence[2], costRange{};
  double bestCost = VOID_VALUE;
  if (!PR_GO_NonconstrCostOptimizeSLX(2, boxCost, &count, box, y.data(), tsl, 1e-6, 1e-6, optimisation(kType).optB,
                                      best, &bestCost, confidence, &costRange, nullptr, false))
    return false;
  const double s0 = IntervalMid(best[0]), t1rho = IntervalMid(best[1]);
  const INTERVAL t1rhoRange = confidence[1];
  const INTERVAL r1rhoRange = t1rhoRange.lo <= 0 && t1rhoRange.hi >= 0
                                  ? INTERVAL{-VOID_VALUE, VOID_VALUE}
                                  : IntervalOf(1 / t1rhoRange.hi, 1 / t1rhoRange.lo);

  std::vector<double> fit(n);
  for (int i = 0; i < n; ++i) fit[i] = s0 * std::exp(-tsl[i] / t1rho) + settings.noise;
  if (call.fitCurve) std::copy(fit.begin(), fit.end(), call.fitCurve);

  const OutputWriter& out = *call.out;
  out.put(kT1rho, t1rho, t1rhoRange.lo, t1rhoRange.hi);
  out.put(kR1rho, 1 / t1rho, r1rhoRange.lo, r1rhoRange.hi);
  out.put(kRmse, std::sqrt(bestCost), mr::rootOrVoid(costRange.lo), mr::rootOrVoid(costRange.hi));
  out.put(kRrse, PR_RRSE(call.curve, fit.data(), n));
  return true;
}

constexpr ModelOps kOps = {.init = M26_ModelInit, .compute = M26_ComputeParms};

}  // namespace

constexpr OutputSpec kOutputs26[] = {
    {"T1rho", "sec", 1},
    {"R1rho", "", 1},
    {"RMSE", "", 1},
    {"RRSE", "", 1},
};
constexpr FreeParmSpec kFreeParms26[] = {
    {"Noise", 1},
};
const ModelSpec kModel26 = {
    .type = 26,
    .name = "26. T1rho mono-exponential model",
    .outputs = kOutputs26,
    .freeParms = kFreeParms26,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisSpinLockTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(2),
    .method = 2, .optA = 0, .optB = 1000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};

}  // namespace kin
