// Type 17, IVIM in two segments: S(b) = S0 * ((1 - f) * exp(-b * Dt) + f * exp(-b * Dp)).
//
// The tail (b at or above "B-value Tail Start") is a mono-exponential A * exp(-b * Dt) fitted with
// its intercept within 20 % of the first tail signal; what the tail leaves at the low b-values is
// a second mono-exponential B * exp(-b * Dp) starting at the lowest-b excess. Without an excess the
// curve has no perfusion component: Dp has no value and f is 0. b in s/mm^2, D in mm^2/s.

#include <cmath>
#include <vector>

#include "CurveUtils.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelTable.h"
#include "MrSignalModels.h"

namespace kin {
namespace {

constexpr int kType = 17;
enum Output { kS0, kFraction, kDt, kDp, kDtWeighted, kDpWeighted, kRmse };

// Copied by init from the free parameters.
struct Settings {
  double dtMin = 0.00014, dtMax = 0.0031;
  double dpMin = 0.006, dpMax = 0.2;
  double tailStart = 199.99;
  int numLow = 0;  // b-values below the tail start
} settings;

bool M17_ModelInit(const INPUTFUNC*) {
  const wchar_t* const kName = L"M17_ModelInit";
  settings.dtMin = freeParm(kType, 0);
  settings.dtMax = freeParm(kType, 1);
  settings.dpMin = freeParm(kType, 2);
  settings.dpMax = freeParm(kType, 3);
  settings.tailStart = freeParm(kType, 4) - 1e-100;
  const Acquisition& acq = acquisition();
  const int n = acq.n;
  if (!IsValidDynamicComponent(L"b-value", acq.bValue, n)) return false;
  if (n < 4) {
    showNamedMessage(kName, L"IVIM with segmented fit requires at least 4 b-values");
    return false;
  }
  int numTail = 0;
  for (int i = 0; i < n; ++i)
    if (acq.bValue[i] >= settings.tailStart) ++numTail;
  // The messages name 200 whatever the tail start is.
  if (numTail < 2) {
    showNamedMessage(kName,
                     L"IVIM with segmented fit requires at least two bvalues\nlarger than 200 mm^2/s. Use the regular "
                     L"IVIM instead.");
    return false;
  }
  settings.numLow = n - numTail;
  if (settings.numLow < 2) {
    showNamedMessage(kName,
                     L"IVIM with segmented fit requires at least two bvalues\n<=200 mm^2/s. Use the regular IVIM "
                     L"instead.");
    return false;
  }
  return true;
}

bool M17_ComputeParms(const CurveCall& call) {
  SingleCurveAnnouncement announce(kType);
  const int n = call.n, numLow = settings.numLow, numTail = n - numLow;
  const int budget = optimisation(kType).optB;
  const double* bValue = acquisition().bValue;
  mr::SortedCurve sorted;
  if (!mr::sortByAxis(call.curve, bValue, n, &sorted)) return false;
  const double* s = sorted.signal.data();
  const double* b = sorted.axis.data();

  double tailAmplitude = 0, dt = 0, rmse = 0;
  if (!FitMonoExp(-0.2, s + numLow, b + numLow, numTail, settings.dtMin, settings.dtMax, budget, &tailAmplitude, &dt,
                  &rmse))
    return false;
  if (tailAmplitude <= 0) return false;

  std::vector<double> excess(n);
  for (int k = 0; k < n; ++k) excess[k] = s[k] - tailAmplitude * std::exp(-dt * b[k]);
  double dp = VOID_VALUE, f = 0;
  if (excess[0] > 0) {
    double excessAmplitude = 0, rate = 0;
    if (!FitMonoExp(0, excess.data(), b, numLow, settings.dpMin, settings.dpMax, budget, &excessAmplitude, &rate,
                    &rmse))
      return false;
    if (excessAmplitude > 0) {
      dp = rate;
      f = 1 / (tailAmplitude / excessAmplitude + 1);
    }
  }
  const double s0 = tailAmplitude / (1 - f);

  double squares = 0;
  for (int i = 0; i < n; ++i) {
    const double bi = bValue[i];
    const double model = dp == VOID_VALUE ? s0 * std::exp(-bi * dt)
                                          : s0 * ((1 - f) * std::exp(-bi * dt) + f * std::exp(-bi * dp));
    if (call.fitCurve) call.fitCurve[i] = model;
    squares += (model - call.curve[i]) * (model - call.curve[i]);
  }
  const OutputWriter& out = *call.out;
  out.put(kS0, s0);
  out.put(kFraction, f);
  out.put(kDt, dt);
  out.put(kDp, dp);
  out.put(kDtWeighted, (1 - f) * dt);
  out.put(kDpWeighted, f == 0 ? 0.0 : dp * f);
  out.put(kRmse, std::sqrt(squares / n));
  return true;
}

constexpr ModelOps kOps = {.init = M17_ModelInit, .compute = M17_ComputeParms};

}  // namespace

constexpr OutputSpec kOutputs17[] = {
    {"S0", "", 1},
    {"f microcirculation fraction", "", 1},
    {"Dt component", "mm^2/sec", 1},
    {"Dp component", "mm^2/sec", 1},
    {"Dt_x_1-f", "mm^2/sec", 1},
    {"Dp_x_f", "mm^2/sec", 1},
    {"RMSE", "", 1},
};
constexpr FreeParmSpec kFreeParms17[] = {
    {"min Dt (mm^2/sec)", 0.00014},
    {"max Dt (mm^2/sec)", 0.0031},
    {"min Dp (mm^2/sec)", 0.006},
    {"max Dp (mm^2/sec)", 0.2},
    {"B-value Tail Start", 199.99},
};
const ModelSpec kModel17 = {
    .type = 17,
    .name = "17. IVIM bi-exponential diffusion Segmented Fit:  S0*(f*exp(-b*Dp)+(1-f)*exp(-b*Dt))",
    .outputs = kOutputs17,
    .freeParms = kFreeParms17,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisBValue,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(2),
    .method = 2, .optA = 0, .optB = 20000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};

}  // namespace kin
