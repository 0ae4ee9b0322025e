// Type 2, peak analysis: times of the bolus passage of a concentration curve. The rise is the
// straight segment between a bolus arrival j and a rise end i before the peak P that, together
// with a flat baseline at the first value before j and a plateau at the peak value after i, fits
// the curve up to the peak best. Times are relative to the first frame.

#include <algorithm>
#include <cmath>
#include <vector>

#include "numerics/CurveStats.h"
#include "numerics/CurveTools.h"
#include "numerics/LinearAlgebra.h"
#include "ModelKit.h"
#include "ModelTable.h"

namespace kin {
namespace {

constexpr int kType = 2;
enum Output { kEffectivePeak, kMttpFromBolus, kWeightedPeak, kBolusArrival, kPeakTime, kMttpAbsolute };

struct PeakTables {
  std::vector<double> times;  // seconds from the first frame
};

PeakTables& tables() {
  static PeakTables t;
  return t;
}

void M2_ModelClose() { tables() = PeakTables{}; }

bool M2_ModelInit(const INPUTFUNC*) {
  const Acquisition& acq = acquisition();
  PeakTables t;
  if (!kit::Take(PR_MakeRelativeArr(acq.time, acq.n), acq.n, t.times)) return false;
  tables() = std::move(t);
  return true;
}

// The best rise [j, i] before the peak; false when no candidate exists.
bool M2_RiseFit(const double* c, const double* t, int peak, int* riseStart, int* riseEnd) {
  double best = VOID_VALUE;
  bool found = false;
  if (!(c[0] < c[peak])) return false;
  for (int j = 1; j <= peak - 2; ++j)
    for (int i = j + 1; i <= peak - 1; ++i) {
      if (!(c[j] < c[i])) continue;
      double slope = 0, intercept = 0;
      const double lineError = PR_MSlineEquation(t + j, c + j, i - j + 1, &slope, &intercept);
      if (!(slope > 0)) continue;
      double error = lineError;
      for (int m = 0; m < j; ++m) error += (c[0] - c[m]) * (c[0] - c[m]);
      for (int m = i + 1; m <= peak; ++m) error += (c[peak] - c[m]) * (c[peak] - c[m]);
      if (error < best) {
        best = error;
        *riseStart = j;
        *riseEnd = i;
        found = true;
      }
    }
  return found;
}

bool M2_ComputeParms(const CurveCall& call) {
  const PeakTables& tab = tables();
  const int n = call.n;
  const double* t = tab.times.data();
  std::vector<double> c(n);
  if (!SignalToConcentration(call.curve, n, c.data())) return false;
  const int peak = kit::FirstMaxIndex(c.data(), n);
  const double cmax = c[peak];

  int effective = 0;
  while (effective < n && !(c[effective] >= 0.9 * cmax)) ++effective;
  double sum = 0, weighted = 0;
  for (int k = 0; k < n; ++k) {
    sum += c[k];
    weighted += c[k] * t[k];
  }
  int j = 0, i = 0;
  const bool rise = M2_RiseFit(c.data(), t, peak, &j, &i);

  const OutputWriter& out = *call.out;
  out.put(kEffectivePeak, t[std::min(effective, n - 1)]);
  out.put(kMttpFromBolus, rise ? t[i] - t[j] : VOID_VALUE);
  out.put(kWeightedPeak, std::fabs(sum) < 1e-100 ? VOID_VALUE : weighted / sum);
  out.put(kBolusArrival, rise ? t[j] : VOID_VALUE);
  out.put(kPeakTime, t[peak]);
  out.put(kMttpAbsolute, rise ? t[i] - t[0] : VOID_VALUE);
  return true;
}

constexpr ModelOps kOps = {.init = M2_ModelInit, .compute = M2_ComputeParms, .close = M2_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs02[] = {
    {"Effective Peak Reach Time", "sec", 1},
    {"mTTP from Bolus", "sec", 1},
    {"Weighted Peak", "sec", 1},
    {"Time of Bolus arrival _mTTP-based_", "sec", 1},
    {"Peak time", "sec", 1},
    {"mTTP absolute", "sec", 1},
};
constexpr FreeParmSpec kFreeParms02[] = {
    {"Minimal surge length", 2},
};
const ModelSpec kModel02 = {
    .type = 2,
    .name = "2. Peak analysis",
    .outputs = kOutputs02,
    .freeParms = kFreeParms02,
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
