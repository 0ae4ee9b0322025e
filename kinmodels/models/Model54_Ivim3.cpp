// Type 54, IVIM with three fitted parameters: S(b) = S0 * ((1 - f) * exp(-b * D) + f * exp(-b * Dstar)).
//
// The curve is scaled by its largest value; S0 within "S0 noise" of the lowest-b signal, f, Dstar and
// D are searched by the interval best-solution optimiser until the fit explains 99.9 % of the
// curve's variance. b in s/mm^2, D in mm^2/s.

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

constexpr int kType = 54;
enum Output { kFraction, kD, kDstar, kRmse };

struct Settings {
  double s0Noise = 0.2;
  double dMax = 0.005;
  double dStarMin = 0.005, dStarMax = 0.3;
} settings;

bool M54_ModelInit(const INPUTFUNC*) {
  settings.s0Noise = freeParm(kType, 0);
  settings.dMax = freeParm(kType, 1);
  settings.dStarMin = freeParm(kType, 2);
  settings.dStarMax = freeParm(kType, 3);
  return mr::hasIvimBValues(L"M54_ModelInit");
}

bool M54_ComputeParms(const CurveCall& call) {
  SingleCurveAnnouncement announce(kType);
  const int n = call.n;
  const double* bValue = acquisition().bValue;
  mr::SortedCurve sorted;
  if (!mr::sortByAxis(call.curve, bValue, n, &sorted)) return false;
  const double scale = *std::max_element(sorted.signal.begin(), sorted.signal.end());
  // Nothing to fit in an empty curve: no output, no fitted curve.
  if (scale < 1e-100) return true;
  for (double& v : sorted.signal) v /= scale;

  // Searched until the fit explains 99.9 % of the scaled curve's variance.
  const double target = PR_CODtoRMSE(0.999, sorted.signal.data(), n);
  mr::BiExpDiffusionFit fit;
  if (!mr::fitBiExpDiffusion(call, bValue, sorted, scale, settings.s0Noise, IntervalOf(0, 1),
                             IntervalOf(settings.dStarMin, settings.dStarMax), IntervalOf(0, settings.dMax),
                             target * target, optimisation(kType).optB, &fit))
    return false;

  const OutputWriter& out = *call.out;
  out.put(kFraction, fit.f, fit.fRange.lo, fit.fRange.hi);
  out.put(kD, fit.d, fit.dRange.lo, fit.dRange.hi);
  out.put(kDstar, fit.dStar, fit.dStarRange.lo, fit.dStarRange.hi);
  out.put(kRmse, fit.rmse, fit.rmseRange.lo, fit.rmseRange.hi);
  return true;
}

constexpr ModelOps kOps = {.init = M54_ModelInit, .compute = M54_ComputeParms};

}  // namespace

constexpr OutputSpec kOutputs54[] = {
    {"f", "", 1},
    {"D", "mm^2/sec", 1},
    {"Dstar", "mm^2/sec", 1},
    {"RMSE", "", 1},
};
constexpr FreeParmSpec kFreeParms54[] = {
    {"S0 noise", 0.2},
    {"max D (mm^2/sec)", 0.005},
    {"min D1 (mm^2/sec)", 0.005},
    {"max D1 (mm^2/sec)", 0.3},
};
const ModelSpec kModel54 = {
    .type = 54,
    .name = "",
    .outputs = kOutputs54,
    .freeParms = kFreeParms54,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisBValue,
    .allowedModality = 0,
    .allowedOptimization = methodBit(2) | methodBit(7),
    .method = 7, .optA = 0, .optB = 100000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};

}  // namespace kin
