// Type 29, the non-invasive plot of the multilinear reference tissue analysis (MRTM0):
//   integral Ct / D = g1 * integral Cref / D + g2 * Cref / D + b,  D = max(1, Ct),
// regressed from the start frame to the frame nearest to "End Lin  (sec)". g1 is the distribution
// volume ratio (BPnd = g1 - 1), g1 / g2 the reference clearance k2' (per second) and -g2 / b the
// relative delivery R1.
//
// When the t* output is requested the start moves forward frame by frame until the regression's
// largest relative error falls below "Max Err %"; otherwise it is the frame nearest to
// "Start Lin (sec)".

#include <algorithm>
#include <cmath>
#include <vector>

#include "numerics/CurveStats.h"
#include "numerics/CurveTools.h"
#include "CurveUtils.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelKit.h"
#include "ModelTable.h"
#include "ReferenceTissue.h"
#include "TwkMem.h"

namespace kin {
namespace {

constexpr int kType = 29;
enum Output { kBPnd, kK2Ref, kR1, kIntercept, kTStar };

reference::MultilinearTables& tables() {
  static reference::MultilinearTables t;
  return t;
}

void M29_ModelClose() { tables() = reference::MultilinearTables{}; }

bool M29_ModelInit(const INPUTFUNC* ifuncs) {
  reference::MultilinearTables t;
  if (!reference::InitMultilinear(kType, L"M29_ModelInit", ifuncs, t)) return false;
  tables() = std::move(t);
  return true;
}

bool M29_ComputeParms(const CurveCall& call) {
  const reference::MultilinearTables& t = tables();
  const int n = call.n;
  const double* c = call.curve;
  std::vector<double> integral;
  if (!reference::TargetIntegral(c, t.times.data(), n, t.threshold, integral)) return false;
  std::vector<double> y(n), x1(n), x2(n);
  for (int k = 0; k < n; ++k) {
    const double d = std::max(1.0, c[k]);
    y[k] = integral[k] / d;
    x1[k] = t.refIntegral[k] / d;
    x2[k] = t.reference[k] / d;
  }

  const int e = NearestIndex(t.times.data(), n, t.endTime);
  double g1 = 0, g2 = 0, b = 0;
  const auto regress = [&](int start, double* maxErr) {
    return FitThreeRegressorsB(y.data() + start, x1.data() + start, x2.data() + start, e - start + 1, &g1, &g2, &b,
                               maxErr);
  };
  const int s = reference::MultilinearStart(t, n, e, call.out->requested(kTStar), regress);
  if (s < 0) return false;

  if (call.fitCurve) {
    for (int k = 0; k < s; ++k) call.fitCurve[k] = 0;
    for (int k = s; k < n; ++k)
      call.fitCurve[k] = (integral[k] - g1 * t.refIntegral[k] - g2 * t.reference[k]) / b;
  }
  const OutputWriter& out = *call.out;
  out.put(kBPnd, g1 - 1);
  out.put(kK2Ref, g1 / g2);
  out.put(kR1, std::max(0.0, -g2 / b));
  out.put(kIntercept, b);
  out.put(kTStar, t.times[s]);
  return true;
}

constexpr ModelOps kOps = {.init = M29_ModelInit, .compute = M29_ComputeParms, .close = M29_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs29[] = {
    {"BPnd - binding potential", "", 8},
    {"k2'- clearance rate constant", "", 8},
    {"R1- relative radioligand delivery", "", 1},
    {"b - Fitting intercept", "", 8},
    {"t-star equilibration time (sec)", "", 1},
};
constexpr FreeParmSpec kFreeParms29[] = {
    {"Start Lin (sec)", 0},
    {"End Lin  (sec)", 3600},
    {"Max Err %", 10},
    {"Background threshold", 3},
};
const ModelSpec kModel29 = {
    .type = 29,
    .name = "29. Ichise's Non-Invasive Plot (MRTM0)",
    .outputs = kOutputs29,
    .freeParms = kFreeParms29,
    .numIfuncs = 1,
    .ifPanelName = "Reference Curve",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModPET,
    .allowedOptimization = methodBit(1),
    .method = 1, .optA = 0, .optB = 0,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};
}  // namespace kin
