// Type 50, one or two T1rho components above a noise floor:
// S = Noise + A * (fS * exp(-TSL / T1rhoS) + (1 - fS) * exp(-TSL / T1rhoL)).
//
// The bi-exponential is searched first by the interval optimiser, with T1rhoS below and T1rhoL above
// "Min T1rhoL (ms)" and T1rhoL at least "T1rhoL >= T1rhoS*" times T1rhoS. When either fraction falls
// below "Monoexponential fraction limit", a single component is fitted instead and reported as the
// long or the short one by its time. TSL and times in seconds.

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

constexpr int kType = 50;
enum Output { kT1rhoS, kFS, kT1rhoL, kFL, kComponents, kRmse, kRrse };

struct Settings {
  double noise = 1;
  double ratio = 4;          // T1rhoL >= ratio * T1rhoS
  double minLong = 0.025;    // s
  double fractionLimit = 0.1;
} settings;

bool M50_ModelInit(const INPUTFUNC*) {
  settings.noise = freeParm(kType, 0);
  settings.ratio = freeParm(kType, 1);
  settings.minLong = freeParm(kType, 2) / 1000;
  settings.fractionLimit = freeParm(kType, 3);
  return true;
}

// exp(-t / T) over an interval of T > 0: rises with T.
INTERVAL decayOver(double t, INTERVAL time) {
  return mr::widen(IntervalOf(std::exp(-t / time.lo), std::exp(-t / time.hi)));
}

struct CostData {
  int count;
  double ratio;
};

// Sum of squared residuals over a box (A, T1rhoS, fS, T1rhoL). For fS in [0, 1] the two-component
// form rises with both times and is linear in fS, so its range is taken at the corners. Boxes where
// T1rhoL < ratio * T1rhoS everywhere hold no admissible point.
void biExpCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
               double* centreCost, double* upperBound) {
  const CostData& d = *static_cast<const CostData*>(context);
  const INTERVAL a = box[0], shortT = box[1], fs = box[2], longT = box[3];
  if (longT.hi < d.ratio * shortT.lo) {
    *lowerBound = VOID_VALUE;
    *centreCost = VOID_VALUE;
    return;
  }
  const double aC = IntervalMid(a), sC = IntervalMid(shortT), fC = IntervalMid(fs), lC = IntervalMid(longT);
  const bool centreAdmissible = lC >= d.ratio * sC;
  const double fLo = std::clamp(fs.lo, 0.0, 1.0), fHi = std::clamp(fs.hi, 0.0, 1.0);
  mr::ResidualSum sum;
  for (int i = 0; i < d.count; ++i) {
    const INTERVAL es = decayOver(x[i], shortT), el = decayOver(x[i], longT);
    const INTERVAL mix = {std::min(fLo * es.lo + (1 - fLo) * el.lo, fHi * es.lo + (1 - fHi) * el.lo),
                          std::max(fLo * es.hi + (1 - fLo) * el.hi, fHi * es.hi + (1 - fHi) * el.hi)};
    const double centre = aC * (fC * std::exp(-x[i] / sC) + (1 - fC) * std::exp(-x[i] / lC));
    sum.add(a * mr::widen(mix), centre, y[i]);
  }
  sum.report(1, lowerBound, centreCost, upperBound);
  if (!centreAdmissible) *centreCost = VOID_VALUE;
}

// Sum of squared residuals over a box (A, T1rho).
void monoExpCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
                 double* centreCost, double* upperBound) {
  const CostData& d = *static_cast<const CostData*>(context);
  const INTERVAL a = box[0], t = box[1];
  const double aC = IntervalMid(a), tC = IntervalMid(t);
  mr::ResidualSum sum;
  for (int i = 0; i < d.count; ++i) sum.add(a * decayOver(x[i], t), aC * std::exp(-x[i] / tC), y[i]);
  sum.report(1, lowerBound, centreCost, upperBound);
}

bool M50_ComputeParms(const CurveCall& call) {
  SingleCurveAnnouncement announce(kType);
  const int n = call.n;
  const double* tsl = acquisition().spinLockTime;
  std::vector<double> y(call.curve, call.curve + n);
  for (double& v : y) v = std::max(0.0, v - settings.noise);
  const double largest = *std::max_element(y.begin(), y.end());
  const int budget = optimisation(kType).optB;
  CostData data{n, settings.ratio};
  const INTERVAL amplitude = IntervalOf(0, 2 * largest);
  const double minLong = settings.minLong, limit = settings.fractionLimit;

  const INTERVAL biBox[4] = {amplitude, IntervalOf(1e-5, minLong), {0, 1}, IntervalOf(minLong, 1)};
  INTERVAL best[4], confidence[4], costRange{};
  double bestCost = VOID_VALUE;
  if (!PR_GO_NonconstrCostOptimizeSLX(4, biExpCost, &data, biBox, y.data(), tsl, 1e-6, 0, budget, best, &bestCost,
                                      confidence, &costRange, nullptr, false))
    return false;

  const OutputWriter& out = *call.out;
  std::vector<double> fit(n);
  const double fs = IntervalMid(best[2]);
  if (limit <= fs && limit <= 1 - fs) {
    const double a = IntervalMid(best[0]), shortT = IntervalMid(best[1]), longT = IntervalMid(best[3]);
    for (int i = 0; i < n; ++i)
      fit[i] = a * (fs * std::exp(-tsl[i] / shortT) + (1 - fs) * std::exp(-tsl[i] / longT)) + settings.noise;
    out.put(kT1rhoS, shortT, confidence[1].lo, confidence[1].hi);
    out.put(kFS, fs, confidence[2].lo, confidence[2].hi);
    out.put(kT1rhoL, longT, confidence[3].lo, confidence[3].hi);
    out.put(kFL, 1 - fs, std::max(0.0, 1 - confidence[2].hi), std::min(1.0, 1 - confidence[2].lo));
    out.put(kComponents, 2);
  } else {
    const INTERVAL monoBox[2] = {amplitude, {1e-5, 1}};
    if (!PR_GO_NonconstrCostOptimizeSLX(2, monoExpCost, &data, monoBox, y.data(), tsl, 1e-5, 0, budget, best,
                                        &bestCost, confidence, &costRange, nullptr, false))
      return false;
    const double a = IntervalMid(best[0]), t = IntervalMid(best[1]);
    for (int i = 0; i < n; ++i) fit[i] = a * std::exp(-tsl[i] / t) + settings.noise;
    if (t >= minLong) {
      out.put(kT1rhoS, VOID_VALUE);
      out.put(kFS, VOID_VALUE);
      out.put(kT1rhoL, t, confidence[1].lo, confidence[1].hi);
      out.put(kFL, 1, 1, 1);
    } else {
      out.put(kT1rhoS, t, confidence[1].lo, confidence[1].hi);
      out.put(kFS, 1, 1, 1);
      out.put(kT1rhoL, VOID_VALUE);
      out.put(kFL, VOID_VALUE, 0, 0);
    }
    out.put(kComponents, 1);
  }
  if (call.fitCurve) std::copy(fit.begin(), fit.end(), call.fitCurve);
  out.put(kRmse, std::sqrt(bestCost), mr::rootOrVoid(costRange.lo), mr::rootOrVoid(costRange.hi));
  out.put(kRrse, PR_RRSE(call.curve, fit.data(), n));
  return true;
}

constexpr ModelOps kOps = {.init = M50_ModelInit, .compute = M50_ComputeParms};

}  // namespace

constexpr OutputSpec kOutputs50[] = {
    {"T1rhoS", "sec", 3},
    {"fS", "", 3},
    {"T1rhoL", "sec", 3},
    {"fL", "", 3},
    {"number of components", "", 3},
    {"RMSE", "", 3},
    {"RRSE", "", 3},
};
constexpr FreeParmSpec kFreeParms50[] = {
    {"Noise", 1},
    {"T1rhoL >= T1rhoS*", 4},
    {"Min T1rhoL (ms)", 25},
    {"Monoexponential fraction limit", 0.1},
};
const ModelSpec kModel50 = {
    .type = 50,
    .name = "50. T1rho bi-exponential model : S = S0*(fS*exp(-TSL[i]/T1rhoS) + fL*exp(-TSL[i]/T1rhoL))",
    .outputs = kOutputs50,
    .freeParms = kFreeParms50,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisSpinLockTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(2),
    .method = 2, .optA = 0, .optB = 25000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};

}  // namespace kin
