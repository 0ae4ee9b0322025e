// Type 1, area under the curve: the time integral of the concentration curve over an index range,
// on the absolute acquisition times.

#include <vector>

#include "CurveUtils.h"
#include "ModelTable.h"
#include "numerics/PwlCalculus.h"

namespace kin {
namespace {

constexpr int kType = 1;
enum Output { kIntegral };

// The 0-based range chosen by the free parameters, set by init.
struct Range {
  int first = 0;
  int last = 0;
} range;

bool M1_ModelInit(const INPUTFUNC*) {
  return RangeFromStartLength(freeParm(kType, 0), freeParm(kType, 1), acquisition().n, &range.first, &range.last);
}

bool M1_ComputeParms(const CurveCall& call) {
  std::vector<double> conc(call.n);
  if (!SignalToConcentration(call.curve, call.n, conc.data())) return false;
  const int count = range.last - range.first + 1;
  call.out->put(kIntegral, PR_CalculateIntegral(conc.data() + range.first, acquisition().time + range.first, count));
  return true;
}

constexpr ModelOps kOps = {.init = M1_ModelInit, .compute = M1_ComputeParms};

}  // namespace

constexpr OutputSpec kOutputs01[] = {
    {"Curve integral by time", "", 1},
};
constexpr FreeParmSpec kFreeParms01[] = {
    {"Start Index", 0},
    {"Length (0=all remaining)", 0},
};
const ModelSpec kModel01 = {
    .type = 1,
    .name = "1. Area Under the Curve (AUC)",
    .outputs = kOutputs01,
    .freeParms = kFreeParms01,
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
