// Type 30, the multilinear reference tissue model (MRTM):
//   Ct = g1 * integral Cref + g2 * integral Ct + g3 * Cref,
// regressed from the start frame to the frame nearest to "End   (sec)". With a one-tissue
// reference region, g3 = R1 (the relative delivery K1 / K1'), g1 = R1 * k2' and g2 = -k2a (the
// apparent efflux of the target), so BPnd = -g1 / g2 - 1, k2' = g1 / g3 (per second) and R1 = g3.
//
// When the t* output is requested the start moves forward frame by frame until the regression's
// largest relative error falls below "Max Err %"; otherwise it is the frame nearest to
// "Start (sec)".

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

namespace kin {
namespace {

constexpr int kType = 30;
enum Output { kBPnd, kK2Ref, kR1, kTStar };

reference::MultilinearTables& tables() {
  static reference::MultilinearTables t;
  return t;
}

void M30_ModelClose() { tables() = reference::MultilinearTables{}; }

bool M30_ModelInit(const INPUTFUNC* ifuncs) {
  reference::MultilinearTables t;
  if (!reference::InitMultilinear(kType, L"M30_ModelInit", ifuncs, t)) return false;
  tables() = std::move(t);
  return true;
}

bool M30_ComputeParms(const CurveCall& call) {
  const reference::MultilinearTables& t = tables();
  const int n = call.n;
  const double* c = call.curve;
  std::vector<double> integral;
  if (!reference::TargetIntegral(c, t.times.data(), n, t.threshold, integral)) return false;

  const int e = NearestIndex(t.times.data(), n, t.endTime);
  double g1 = 0, g2 = 0, g3 = 0;
  const auto regress = [&](int start, double* maxErr) {
    return FitThreeRegressorsA(c + start, t.refIntegral.data() + start, integral.data() + start,
                               t.reference.data() + start, e - start + 1, &g1, &g2, &g3, maxErr);
  };
  const int s = reference::MultilinearStart(t, n, e, call.out->requested(kTStar), regress);
  if (s < 0) return false;

  if (call.fitCurve) {
    for (int k = 0; k < s; ++k) call.fitCurve[k] = 0;
    for (int k = s; k < n; ++k) call.fitCurve[k] = g1 * t.refIntegral[k] + g2 * integral[k] + g3 * t.reference[k];
  }
  const OutputWriter& out = *call.out;
  out.put(kBPnd, -g1 / g2 - 1);
  out.put(kK2Ref, g1 / g3);
  out.put(kR1, g3);
  out.put(kTStar, t.times[s]);
  return true;
}

constexpr ModelOps kOps = {.init = M30_ModelInit, .compute = M30_ComputeParms, .close = M30_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs30[] = {
    {"BPnd - binding potential", "", 8},
    {"k2'- clearance rate constant", "", 8},
    {"R1- relative radioligand delivery", "", 1},
    {"t-star equilibration time (sec)", "", 1},
};
constexpr FreeParmSpec kFreeParms30[] = {
    {"Start (sec)", 0},
    {"End   (sec)", 3600},
    {"Max Err %", 10},
    {"Background threshold", 3},
};
const ModelSpec kModel30 = {
    .type = 30,
    .name = "30. Ichise's Multilinear Reference Tissue Model (MRTM)",
    .outputs = kOutputs30,
    .freeParms = kFreeParms30,
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
