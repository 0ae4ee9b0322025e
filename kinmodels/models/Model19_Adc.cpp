// Type 19, apparent diffusion coefficient: S(b) = S0 * exp(-b * ADC).
//
// Two b-values give the exact solution; more are fitted by the interval optimiser with S0 within
// 10 % of the lowest-b signal. Given wanted b-values, the fit extrapolates the series to them
// instead of reporting outputs. b in s/mm^2, ADC in mm^2/s.

#include <cmath>

#include "CurveUtils.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelTable.h"
#include "MrSignalModels.h"

namespace kin {
namespace {

constexpr int kType = 19;
enum Output { kAdc, kResidual };

struct Settings {
  double adcMax = 0.05;
} settings;

bool M19_ModelInit(const INPUTFUNC*) {
  const Acquisition& acq = acquisition();
  if (acq.n < 2) {
    showNamedMessage(L"M19_ModelInit", L"This model requires at least 2 dynamic points");
    return false;
  }
  if (!IsValidDynamicComponent(L"b-value", acq.bValue, acq.n)) return false;
  // "Low signal tail cutoff" (the first parameter) does not enter this fit.
  settings.adcMax = freeParm(kType, 1);
  return true;
}

bool M19_ComputeParms(const CurveCall& call) {
  SingleCurveAnnouncement announce(kType);
  const int n = call.n;
  const bool extrapolate = mr::wantsExtrapolation(call);
  if (extrapolate) std::fill_n(call.fitCurve, call.numExtra, 0.0);
  const double* bValue = acquisition().bValue;
  mr::SortedCurve sorted;
  if (!mr::sortByAxis(call.curve, bValue, n, &sorted)) return false;
  const double* s = sorted.signal.data();
  const double* b = sorted.axis.data();
  const double a = s[0];
  if (a <= 0) return false;

  double s0 = 0, adc = 0, residual = 0;
  INTERVAL adcRange{}, residualRange{};
  if (n == 2) {
    const double h = s[1];
    if (h <= 0 || a <= h) return false;
    adc = std::log(a / h) / (b[1] - b[0]);
    s0 = a * std::exp(adc * b[0]);
    // The exact solution: no search interval around it.
    adcRange = {adc, adc};
    residualRange = {0, 0};
  } else {
    INTERVAL confidence[2], costRange{};
    if (!FitMonoExp(-0.1, s, b, n, 0, settings.adcMax, optimisation(kType).optB, &s0, &adc, &residual, confidence,
                    &costRange))
      return false;
    adcRange = confidence[1];
    residualRange = {mr::rootOrVoid(costRange.lo), mr::rootOrVoid(costRange.hi)};
  }

  const auto model = [&](double bv) { return s0 * std::exp(-bv * adc); };
  if (mr::writeDiffusionModel(call, bValue, extrapolate, model)) return true;
  const OutputWriter& out = *call.out;
  out.put(kAdc, adc, adcRange.lo, adcRange.hi);
  out.put(kResidual, residual, residualRange.lo, residualRange.hi);
  return true;
}

constexpr ModelOps kOps = {.init = M19_ModelInit, .compute = M19_ComputeParms};

}  // namespace

constexpr OutputSpec kOutputs19[] = {
    {"ADC", "mm^2/sec", 8},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms19[] = {
    {"Low signal tail cutoff", 0},
    {"maximal ADC (mm^2/sec)", 0.05},
};
const ModelSpec kModel19 = {
    .type = 19,
    .name = "19. ADC monoexponential diffusion: S = S0*exp(-b*ADC)",
    .outputs = kOutputs19,
    .freeParms = kFreeParms19,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisBValue,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(2),
    .method = 2, .optA = 0, .optB = 5000,
    .preprocessTasks = {0, 0},
    .extrapolate = true,
    .ops = kOps,
};

}  // namespace kin
