// Type 25, bi-exponential T2 above a noise floor:
// S = Noise + S0 * (RWP * exp(-TE / T2short) + FWP * exp(-TE / T2long)), FWP = 1 - RWP.
//
// The noise floor is subtracted (clipped at 0) and S0, the fraction and both rates are searched by
// the interval optimiser within the T2 limits (seconds); the shorter time is always reported as
// T2short.

#include <algorithm>
#include <cmath>
#include <utility>

#include "CurveUtils.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelTable.h"
#include "MrSignalModels.h"
#include "numerics/Optimize.h"

namespace kin {
namespace {

constexpr int kType = 25;
enum Output { kS0, kT2Short, kT2Long, kR2Short, kR2Long, kRwp, kFwp, kResidual };

struct Settings {
  double t2sLow = 0.01, t2sHigh = 3;
  double t2lLow = 0.01, t2lHigh = 3;
  double noise = 1;
} settings;

bool M25_ModelInit(const INPUTFUNC*) {
  const Acquisition& acq = acquisition();
  if (!IsValidDynamicComponent(L"Echo Time", acq.echoTime, acq.n)) return false;
  settings.t2sLow = freeParm(kType, 0);
  settings.t2sHigh = freeParm(kType, 1);
  settings.t2lLow = freeParm(kType, 2);
  settings.t2lHigh = freeParm(kType, 3);
  settings.noise = freeParm(kType, 4);
  if (std::fabs(settings.t2sLow) < 1e-100 || std::fabs(settings.t2lLow) < 1e-100) {
    showNamedMessage(L"M25_ModelInit", L"T2 lower limits should be >0");
    return false;
  }
  return true;
}

bool M25_ComputeParms(const CurveCall& call) {
  SingleCurveAnnouncement announce(kType);
  const int n = call.n;
  const double* echoTime = acquisition().echoTime;
  mr::SortedCurve sorted;
  if (!mr::sortByAxis(call.curve, echoTime, n, &sorted)) return false;
  for (double& v : sorted.signal) v = std::max(0.0, v - settings.noise);

  const INTERVAL r2s = IntervalOf(1 / settings.t2sHigh, 1 / settings.t2sLow);
  const INTERVAL r2l = IntervalOf(1 / settings.t2lHigh, 1 / settings.t2lLow);
  // The amplitude at TE = 0 that the first echo implies for every rate of either range.
  const double te0 = sorted.axis[0], y0 = sorted.signal[0];
  const double largest = std::exp(-te0 * std::min(r2s.lo, r2l.lo));
  const double smallest = std::exp(-te0 * std::max(r2s.hi, r2l.hi));
  const INTERVAL box[4] = {IntervalOf(0.8 * y0 / largest, 1.2 * y0 / smallest), {0, 1}, r2s, r2l};

  DecayFitContext data{n, sorted.signal.data(), sorted.axis.data()};
  INTERVAL best[4];
  double bestCost = VOID_VALUE;
  if (!PR_GO_NonconstrCostOptimizeSLX(4, BiExpNoiseIntervalCost, &data, box, data.y, data.x, 1e-8, 1e-6,
                                      optimisation(kType).optB, best, &bestCost, nullptr, nullptr, nullptr, false))
    return false;
  const double s0 = IntervalMid(best[0]);
  double rwp = IntervalMid(best[1]);
  double t2Short = 1 / IntervalMid(best[2]), t2Long = 1 / IntervalMid(best[3]);
  double fwp = 1 - rwp;
  if (t2Short > t2Long) {
    std::swap(t2Short, t2Long);
    std::swap(rwp, fwp);
  }
  if (call.fitCurve)
    for (int i = 0; i < n; ++i)
      call.fitCurve[i] = s0 * (rwp * std::exp(-echoTime[i] / t2Short) + fwp * std::exp(-echoTime[i] / t2Long));

  const OutputWriter& out = *call.out;
  out.put(kS0, s0);
  out.put(kT2Short, t2Short);
  out.put(kT2Long, t2Long);
  out.put(kR2Short, 1 / t2Short);
  out.put(kR2Long, 1 / t2Long);
  out.put(kRwp, rwp);
  out.put(kFwp, fwp);
  out.put(kResidual, bestCost);
  return true;
}

constexpr ModelOps kOps = {.init = M25_ModelInit, .compute = M25_ComputeParms};

}  // namespace

constexpr OutputSpec kOutputs25[] = {
    {"S0", "", 1},
    {"T2short", "sec", 1},
    {"T2long", "sec", 1},
    {"R2short", "1/sec", 1},
    {"R2long", "1/sec", 1},
    {"RWP", "", 1},
    {"FWP", "", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms25[] = {
    {"T2short low (s)", 0.01},
    {"T2short high (s)", 3},
    {"T2long low (s)", 0.01},
    {"T2long high (s)", 3},
    {"Noise", 1},
};
const ModelSpec kModel25 = {
    .type = 25,
    .name = "25. T2 mapping biexponential: S = Noise + S0*(RWP*exp(-TE/T2short)+FWP*exp(-TE/T2long))",
    .outputs = kOutputs25,
    .freeParms = kFreeParms25,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisEchoTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(2),
    .method = 2, .optA = 0, .optB = 50000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};

}  // namespace kin
