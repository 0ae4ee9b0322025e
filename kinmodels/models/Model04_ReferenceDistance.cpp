// Type 4, reference curve distance and correlation: over an index range, the distance between the
// concentration curve and a reference curve, the root of the integrated squared difference ("L-norm"
// 2) or the integrated absolute difference (1), both curves piecewise linear in time, and their
// Pearson correlation.

#include <cmath>
#include <vector>

#include "numerics/CurveStats.h"
#include "numerics/CurveTools.h"
#include "Messages.h"
#include "ModelKit.h"
#include "ModelTable.h"
#include "numerics/PwlCalculus.h"

namespace kin {
namespace {

constexpr int kType = 4;
enum Output { kDistance, kCorrelation };

struct DistanceTables {
  int metric = 2;
  int first = 0, count = 0;       // the analysed index range
  std::vector<double> times;      // seconds from the first frame
  std::vector<double> reference;  // at those times
};

DistanceTables& tables() {
  static DistanceTables t;
  return t;
}

void M4_ModelClose() { tables() = DistanceTables{}; }

bool M4_ModelInit(const INPUTFUNC* ifuncs) {
  const Acquisition& acq = acquisition();
  const int n = acq.n;
  DistanceTables t;
  if (ifuncs[0].count != n) {
    showNamedMessage(L"M4_ModelInit", L"Input functions are missing or incorrect");
    return false;
  }
  if (!kit::ReadMetric(freeParm(kType, 0), L"M4_ModelInit", &t.metric)) return false;
  if (!kit::Take(PR_MakeRelativeArr(acq.time, n), n, t.times)) return false;
  if (!kit::Take(PR_PrepareInputFunc(ifuncs, t.times.data(), n), n, t.reference)) return false;
  const long long start = kit::Rounded(freeParm(kType, 1)), end = kit::Rounded(freeParm(kType, 2));
  if (start == 0 || end == 0) {
    t.first = 0;
    t.count = n;
  } else if (1 <= start && start <= end && end <= n) {
    t.first = int(start - 1);
    t.count = int(end - start + 1);
  } else {
    showNamedMessage(L"M4_ModelInit", L"Invalid time index");
    return false;
  }
  tables() = std::move(t);
  return true;
}

bool M4_ComputeParms(const CurveCall& call) {
  const DistanceTables& t = tables();
  std::vector<double> c(call.n);
  double info[3] = {};
  if (!SignalToConcentration(call.curve, call.n, c.data(), info)) return false;
  const double* curve = c.data() + t.first;
  const double* reference = t.reference.data() + t.first;
  const double* times = t.times.data() + t.first;
  const double distance = kit::IntegralDistance(t.metric, curve, reference, times, t.count);
  const OutputWriter& out = *call.out;
  out.put(kDistance, distance);
  out.put(kCorrelation, PR_Correlation(reference, curve, t.count));
  return true;
}

constexpr ModelOps kOps = {.init = M4_ModelInit, .compute = M4_ComputeParms, .close = M4_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs04[] = {
    {"Distance", "", 1},
    {"correlation", "", 1},
};
constexpr FreeParmSpec kFreeParms04[] = {
    {"L-norm", 2},
    {"start index", 0},
    {"end index", 0},
};
const ModelSpec kModel04 = {
    .type = 4,
    .name = "4. Reference curve distance and correlation",
    .outputs = kOutputs04,
    .freeParms = kFreeParms04,
    .numIfuncs = 1,
    .ifPanelName = "Reference curve",
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
