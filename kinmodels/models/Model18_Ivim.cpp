// Type 18, IVIM fitted at once: S(b) = S0 * ((1 - f) * exp(-b * Dt) + f * exp(-b * Dp)).
//
// The curve is scaled by its largest value and all four parameters are searched together by the
// interval best-solution optimiser; f, Dt and Dp carry the optimiser's confidence box, the RMSE its
// cost bounds. b in s/mm^2, D in mm^2/s.

#include <algorithm>
#include <cmath>
#include <vector>

#include "CurveUtils.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelTable.h"
#include "MrSignalModels.h"
#include "numerics/Optimize.h"

namespace kin {
namespace {

constexpr int kType = 18;
enum Output { kFraction, kDt, kDp, kRmse };

struct Settings {
  double s0Noise = 0.2;
  double fMin = 0, fMax = 1;
  double dtMin = 0.00014, dtMax = 0.0031;
  double dpMin = 0.006, dpMax = 0.2;
} settings;

bool M18_ModelInit(const INPUTFUNC*) {
  settings.s0Noise = freeParm(kType, 0);
  settings.fMin = freeParm(kType, 1);
  settings.fMax = freeParm(kType, 2);
  settings.dtMin = freeParm(kType, 3);
  settings.dtMax = freeParm(kType, 4);
  settings.dpMin = freeParm(kType, 5);
  settings.dpMax = freeParm(kType, 6);
  return mr::hasIvimBValues(L"M18_ModelInit");
}

bool M18_ComputeParms(const CurveCall& call) {
  SingleCurveAnnouncement announce(kType);
  const int n = call.n;
  const double* bValue = acquisition().bValue;
  mr::SortedCurve sorted;
  if (!mr::sortByAxis(call.curve, bValue, n, &sorted)) return false;
  const double scale = *std::max_element(sorted.signal.begin(), sorted.signal.end());
  // Nothing to fit in an empty curve: no output, no fitted curve.
  if (std::fabs(scale) < 1e-100) return true;
  for (double& v : sorted.signal) v /= scale;

  mr::BiExpDiffusionFit fit;
  if (!mr::fitBiExpDiffusion(call, bValue, sorted, scale, settings.s0Noise, IntervalOf(settings.fMin, settings.fMax),
                             IntervalOf(settings.dpMin, settings.dpMax), IntervalOf(settings.dtMin, settings.dtMax),
                             1e-8, optimisation(kType).optB, &fit))
    return false;

  const OutputWriter& out = *call.out;
  out.put(kFraction, fit.f, fit.fRange.lo, fit.fRange.hi);
  out.put(kDt, fit.d, fit.dRange.lo, fit.dRange.hi);
  out.put(kDp, fit.dStar, fit.dStarRange.lo, fit.dStarRange.hi);
  out.put(kRmse, fit.rmse, fit.rmseRange.lo, fit.rmseRange.hi);
  return true;
}

constexpr ModelOps kOps = {.init = M18_ModelInit, .compute = M18_ComputeParms};

}  // namespace

constexpr OutputSpec kOutputs18[] = {
    {"f", "", 1},
    {"Dt", "mm^2/sec", 1},
    {"Dp", "mm^2/sec", 1},
    {"RMSE", "", 1},
};
constexpr FreeParmSpec kFreeParms18[] = {
    {"S0 noise", 0.2},
    {"min f", 0},
    {"max f", 1},
    {"min Dt (mm^2/sec)", 0.00014},
    {"max Dt (mm^2/sec)", 0.0031},
    {"min Dp (mm^2/sec)", 0.006},
    {"max Dp (mm^2/sec)", 0.2},
};
const ModelSpec kModel18 = {
    .type = 18,
    .name = "18. IVIM bi-exponential diffusion: S(b) = S0*((1-f)*exp(-b*Dt) + f*exp(-b*Dp))",
    .outputs = kOutputs18,
    .freeParms = kFreeParms18,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisBValue,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(2) | methodBit(7),
    .method = 7, .optA = 0, .optB = 100000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};

}  // namespace kin
