// Type 5, time of active rise: the time the concentration curve takes to rise from the low to the
// high fraction of its peak ("Active Rise Low Threshold", "Active Rise High Threshold"), each
// crossing interpolated linearly between the samples up to the first peak, and the mean slope of
// that rise. No value when either crossing is missing or both coincide.

#include <cmath>
#include <vector>

#include "numerics/CurveTools.h"
#include "CurveUtils.h"
#include "ModelKit.h"
#include "ModelTable.h"

namespace kin {
namespace {

constexpr int kType = 5;
enum Output { kRiseTime, kSlope };

struct RiseTables {
  double low = 0.2, high = 0.95;
  std::vector<double> times;  // seconds from the first frame
};

RiseTables& tables() {
  static RiseTables t;
  return t;
}

void M5_ModelClose() { tables() = RiseTables{}; }

bool M5_ModelInit(const INPUTFUNC*) {
  const Acquisition& acq = acquisition();
  RiseTables t;
  t.low = freeParm(kType, 0);
  t.high = freeParm(kType, 1);
  if (!kit::Take(PR_MakeRelativeArr(acq.time, acq.n), acq.n, t.times)) return false;
  tables() = std::move(t);
  return true;
}

// Rise time and slope of the curve; false when the rise does not exist.
bool M5_ActiveRise(const double* c, int n, double* riseTime, double* slope) {
  const RiseTables& t = tables();
  const int peak = kit::FirstMaxIndex(c, n);
  const double p = c[peak];
  // The curve's values serve as abscissa, the times as ordinate: the first time each level is reached.
  const double tLow = InterpolateLinear(c, peak + 1, t.low * p, t.times.data());
  const double tHigh = InterpolateLinear(c, peak + 1, t.high * p, t.times.data());
  if (tLow == VOID_VALUE || tHigh == VOID_VALUE || !(std::fabs(tHigh - tLow) >= 1e-100)) return false;
  *riseTime = tHigh - tLow;
  *slope = (t.high - t.low) * p / (tHigh - tLow);
  return true;
}

bool M5_ComputeParms(const CurveCall& call) {
  std::vector<double> c(call.n);
  double info[3] = {};
  if (!SignalToConcentration(call.curve, call.n, c.data(), info)) return false;
  double riseTime = 0, slope = 0;
  if (!M5_ActiveRise(c.data(), call.n, &riseTime, &slope)) return false;
  call.out->put(kRiseTime, riseTime);
  call.out->put(kSlope, slope);
  return true;
}

constexpr ModelOps kOps = {.init = M5_ModelInit, .compute = M5_ComputeParms, .close = M5_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs05[] = {
    {"Active rise time", "sec", 1},
    {"Slope", "", 1},
};
constexpr FreeParmSpec kFreeParms05[] = {
    {"Active Rise Low Threshold", 0.2},
    {"Active Rise High Threshold", 0.95},
};
const ModelSpec kModel05 = {
    .type = 5,
    .name = "5. Time of active rise",
    .outputs = kOutputs05,
    .freeParms = kFreeParms05,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(1),
    .method = 1, .optA = 0, .optB = 0,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};
}  // namespace kin
