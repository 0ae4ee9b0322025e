// Type 16, T2 or T2* mapping: S(TE) = S0 * exp(-TE / T2) fitted to the measured signal at the echo
// times by the interval optimiser, T2 searched between "T2 low (sec)" and "T2 high (sec)".

#include <cmath>

#include "CurveUtils.h"
#include "Fitting.h"
#include "ModelTable.h"

namespace kin {
namespace {

constexpr int kType = 16;
enum Output { kS0, kT2, kR2, kResidual };

// The T2 search range in seconds, copied by init.
struct Limits {
  double t2Low = 0.01;
  double t2High = 1;
} limits;

bool M16_ModelInit(const INPUTFUNC*) {
  const Acquisition& acq = acquisition();
  if (!IsValidDynamicComponent(L"Echo Time", acq.echoTime, acq.n)) return false;
  limits.t2Low = freeParm(kType, 0);
  limits.t2High = freeParm(kType, 1);
  return true;
}

bool M16_ComputeParms(const CurveCall& call) {
  const OutputWriter& out = *call.out;
  // A flat curve has no decay to fit.
  if (CurveMaxSpan(call.curve, call.n) < 1e-7) {
    for (int output : {kS0, kT2, kR2, kResidual}) out.put(output, 0);
    return true;
  }
  const double* echoTime = acquisition().echoTime;
  double s0 = 0, r2 = 0, residual = 0;
  if (!FitMonoExp(0, call.curve, echoTime, call.n, 1 / limits.t2Low, 1 / limits.t2High, optimisation(kType).optB,
                  &s0, &r2, &residual))
    return false;
  const double t2 = 1 / r2;
  if (call.fitCurve)
    for (int i = 0; i < call.n; ++i) call.fitCurve[i] = s0 * std::exp(-echoTime[i] / t2);
  out.put(kS0, s0);
  out.put(kT2, t2);
  out.put(kR2, r2);
  out.put(kResidual, residual);
  return true;
}

constexpr ModelOps kOps = {.init = M16_ModelInit, .compute = M16_ComputeParms};

}  // namespace

constexpr OutputSpec kOutputs16[] = {
    {"S0", "", 1},
    {"T2", "sec", 1},
    {"R2", "1/sec", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms16[] = {
    {"T2 low (sec)", 0.01},
    {"T2 high (sec)", 1},
};
const ModelSpec kModel16 = {
    .type = 16,
    .name = "16. T2 or T2* mono-exponential mapping",
    .outputs = kOutputs16,
    .freeParms = kFreeParms16,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisEchoTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(2),
    .method = 2, .optA = 0, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};

}  // namespace kin
