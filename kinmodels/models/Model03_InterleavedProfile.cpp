// Type 3, interleaved two-state profile: a series acquired in two alternating states is split into
// the odd frames (1, 3, 5, ... counted from 1) and the even ones, and the mean and the sample
// standard deviation of each group are reported.

#include <vector>

#include "numerics/CurveStats.h"
#include "ModelTable.h"

namespace kin {
namespace {

enum Output { kOddMean, kOddStdDev, kEvenMean, kEvenStdDev };

bool M3_ComputeParms(const CurveCall& call) {
  const int n = call.n;
  std::vector<double> c(n);
  if (!SignalToConcentration(call.curve, n, c.data())) return false;
  std::vector<double> odd, even;
  for (int k = 0; k < n; ++k) (k % 2 == 0 ? odd : even).push_back(c[k]);
  double oddStdDev = 0, evenStdDev = 0;
  const double oddMean = PR_ArrStats(odd.data(), int64_t(odd.size()), &oddStdDev);
  const double evenMean = PR_ArrStats(even.data(), int64_t(even.size()), &evenStdDev);
  const OutputWriter& out = *call.out;
  out.put(kOddMean, oddMean);
  out.put(kOddStdDev, oddStdDev);
  out.put(kEvenMean, evenMean);
  out.put(kEvenStdDev, evenStdDev);
  return true;
}

constexpr ModelOps kOps = {.compute = M3_ComputeParms};

}  // namespace

constexpr OutputSpec kOutputs03[] = {
    {"mean of odd frames", "", 1},
    {"stdev of odd frames", "", 1},
    {"mean of even frames", "", 1},
    {"stdev of even frames", "", 1},
};
const ModelSpec kModel03 = {
    .type = 3,
    .name = "3. Interleaved 2-state profile",
    .outputs = kOutputs03,
    .freeParms = {},
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisAny,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(1),
    .method = 1, .optA = 0, .optB = 0,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};
}  // namespace kin
