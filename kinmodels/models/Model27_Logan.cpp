// Type 27, the Logan plot with a reference region: for every frame x = integral of Cref / Ct and
// y = integral of Ct / Ct; from the equilibration time t* on the points lie on a line whose slope
// is the distribution volume ratio Vt and whose intercept is reported as "Intersect".
//
// When the t* output is requested the start of the line moves forward frame by frame until the
// line's largest relative deviation from the points falls below "Max Err (%)"; otherwise the line
// starts at the frame nearest to "Equilibration time t* (min)".

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

constexpr int kType = 27;
enum Output { kVt, kIntersect, kTStar };

// Prepared by init, read-only while curves are computed.
struct LoganTables {
  int n = 0;
  std::vector<double> times;       // seconds from the first frame
  std::vector<double> reference;   // the reference curve at those times
  std::vector<double> refIntegral; // its running integral
  double tStar = 0;                // seconds
  double maxErr = 0.1;             // fraction
  double threshold = 3;
};

LoganTables& tables() {
  static LoganTables t;
  return t;
}

void M27_ModelClose() { tables() = LoganTables{}; }

bool M27_ModelInit(const INPUTFUNC* ifuncs) {
  const Acquisition& acq = acquisition();
  const int n = acq.n;
  LoganTables t;
  if (!IsValidDynamicComponent(L"Time", acq.time, n)) return false;
  if (!PrepareAndCheckTimeArr(n, t.times)) return false;
  if (!kit::Take(PR_PrepareInputFunc(ifuncs, t.times.data(), n), n, t.reference)) return false;
  if (ifuncs[0].count != n) {
    showNamedMessage(L"M27_ModelInit", L"Input functions are missing or incorrect");
    return false;
  }
  t.refIntegral.resize(n);
  CumulativeTrapezoid(t.reference.data(), t.times.data(), n, t.refIntegral.data());
  t.tStar = freeParm(kType, 0) * 60;
  t.maxErr = freeParm(kType, 1) * 0.01;
  t.threshold = freeParm(kType, 2);
  t.n = n;
  tables() = std::move(t);
  return true;
}

bool M27_ComputeParms(const CurveCall& call) {
  const LoganTables& t = tables();
  const int n = call.n;
  const double* c = call.curve;
  // Background voxels are not fitted.
  std::vector<double> integral;
  if (!reference::TargetIntegral(c, t.times.data(), n, t.threshold, integral)) return false;
  std::vector<double> x(n), y(n);
  for (int k = 0; k < n; ++k) {
    if (std::fabs(c[k]) < 1e-100) continue;  // x = y = 0
    x[k] = t.refIntegral[k] / c[k];
    y[k] = integral[k] / c[k];
  }

  double slope = 0, intercept = 0;
  int s = 0;
  if (call.out->requested(kTStar)) {
    s = reference::EquilibrationStart(n - 1, t.maxErr, [&](int start, double* maxRelDev) {
      return FitLine(x.data() + start, y.data() + start, n - start, &slope, &intercept, maxRelDev);
    });
    if (s < 0) return false;
  } else {
    s = NearestIndex(t.times.data(), n, t.tStar);
    if (!FitLine(x.data() + s, y.data() + s, n - s, &slope, &intercept)) return false;
  }

  if (call.fitCurve)
    for (int k = s; k < n; ++k) call.fitCurve[k] = (integral[k] - slope * t.refIntegral[k]) / intercept;
  // Before the regression start the fitted curve is 0.
  if (call.fitCurve)
    for (int k = 0; k < s; ++k) call.fitCurve[k] = 0;
  const OutputWriter& out = *call.out;
  out.put(kVt, slope);
  out.put(kIntersect, intercept);
  out.put(kTStar, t.times[s]);
  return true;
}

constexpr ModelOps kOps = {.init = M27_ModelInit, .compute = M27_ComputeParms, .close = M27_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs27[] = {
    {"Vt", "", 1},
    {"Intersect", "", 1},
    {"t-star", "sec", 1},
};
constexpr FreeParmSpec kFreeParms27[] = {
    {"Equilibration time t* (min)", 0},
    {"Max Err (%)", 10},
    {"Background threshold", 3},
};
const ModelSpec kModel27 = {
    .type = 27,
    .name = "27. Vt (Logan Plot)",
    .outputs = kOutputs27,
    .freeParms = kFreeParms27,
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
