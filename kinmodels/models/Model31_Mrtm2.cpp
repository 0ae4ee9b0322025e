// Type 31, MRTM2: the multilinear reference tissue model with the reference clearance k2' fixed,
//   Ct = g1 * (integral Cref + Cref / k2') + g2 * integral Ct,
// where g1 = R1 * k2' and g2 = -k2a. BPnd = -(g1 / g2 + 1) and R1 = g1 / k2', with k2' in the same
// unit (per second) as the regression, so R1 comes out as the dimensionless ratio K1 / K1'.
//
// The reference curve is read frame by frame as the host gives it (no resampling). When the t*
// output is requested the start moves forward until the largest relative error falls below
// "Max Err %"; otherwise the regression runs from the frame nearest to "Start (min)".

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

constexpr int kType = 31;
enum Output { kBPnd, kR1, kTStar, kMaxRelErr, kRelResidual };

struct Mrtm2Tables {
  int n = 0;
  std::vector<double> times;        // seconds from the first frame
  std::vector<double> reference;    // the reference curve, one value per frame
  std::vector<double> refIntegral;  // its running integral
  double startTime = 0, endTime = 36000;  // seconds
  double maxErr = 0.1;
  double threshold = 3;
  double k2Ref = 0.022 / 60;  // per second
};

Mrtm2Tables& tables() {
  static Mrtm2Tables t;
  return t;
}

void M31_ModelClose() { tables() = Mrtm2Tables{}; }

bool M31_ModelInit(const INPUTFUNC* ifuncs) {
  const Acquisition& acq = acquisition();
  const int n = acq.n;
  if (n <= 2) {
    showNamedMessage(L"M31_ModelInit", L"This model requires at least 3 dynamic points");
    return false;
  }
  Mrtm2Tables t;
  if (!kit::Take(PR_MakeRelativeArr(acq.time, n), n, t.times)) return false;
  if (!IsValidDynamicComponent(L"Time", t.times.data(), n)) return false;
  if (ifuncs[0].count != n) {
    showNamedMessage(L"M31_ModelInit", L"Input functions are missing or incorrect");
    return false;
  }
  t.reference.assign(ifuncs[0].values, ifuncs[0].values + n);
  t.refIntegral.resize(n);
  CumulativeTrapezoid(t.reference.data(), t.times.data(), n, t.refIntegral.data());
  t.startTime = freeParm(kType, 0) * 60;
  t.endTime = freeParm(kType, 1) * 60;
  t.maxErr = freeParm(kType, 2) * 0.01;
  t.threshold = freeParm(kType, 3);
  t.k2Ref = freeParm(kType, 4) / 60;
  t.n = n;
  tables() = std::move(t);
  return true;
}

bool M31_ComputeParms(const CurveCall& call) {
  const Mrtm2Tables& t = tables();
  const int n = call.n;
  const double* c = call.curve;
  std::vector<double> integral;
  if (!reference::TargetIntegral(c, t.times.data(), n, t.threshold, integral)) return false;
  std::vector<double> x(n);
  for (int k = 0; k < n; ++k) x[k] = t.reference[k] / t.k2Ref + t.refIntegral[k];

  const int s0 = NearestIndex(t.times.data(), n, t.startTime);
  const int e = NearestIndex(t.times.data(), n, t.endTime);
  double g1 = 0, g2 = 0, maxErr = 0, relResidual = 0;
  const auto regress = [&](int start, double* error) {
    const bool solved = FitTwoRegressors(c + start, x.data() + start, integral.data() + start, e - start + 1, &g1,
                                         &g2, &maxErr, &relResidual);
    if (error) *error = maxErr;
    return solved;
  };
  int s = s0;
  if (!call.out->requested(kTStar)) {
    if (e - s + 1 < 1 || !regress(s, nullptr)) return false;
  } else {
    s = reference::EquilibrationStart(e - 1, t.maxErr, regress);
    if (s < 0) return false;
  }

  if (call.fitCurve) {
    for (int k = 0; k < s; ++k) call.fitCurve[k] = 0;
    for (int k = s; k < n; ++k) call.fitCurve[k] = g1 * x[k] + g2 * integral[k];
  }
  const OutputWriter& out = *call.out;
  out.put(kBPnd, -(g1 / g2 + 1));
  out.put(kR1, g1 / t.k2Ref);
  out.put(kTStar, t.times[s]);
  out.put(kMaxRelErr, maxErr);
  out.put(kRelResidual, relResidual);
  return true;
}

constexpr ModelOps kOps = {.init = M31_ModelInit, .compute = M31_ComputeParms, .close = M31_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs31[] = {
    {"BPnd - binding potential", "", 8},
    {"R1- relative radioligand delivery", "min", 8},
    {"t-star - equilibration time", "sec", 1},
    {"max relative error", "", 1},
    {"residual over average signal", "", 1},
};
constexpr FreeParmSpec kFreeParms31[] = {
    {"Start (min)", 0},
    {"End   (min)", 600},
    {"Max Err %", 10},
    {"Background threshold", 3},
    {"k2' (1/min)", 0.022},
};
const ModelSpec kModel31 = {
    .type = 31,
    .name = "31. Ichise MRTM2 with fixed k2'",
    .outputs = kOutputs31,
    .freeParms = kFreeParms31,
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
