// Type 20, two-input curve labelling: the shape of a curve (scaled to unit Euclidean norm) is
// compared with 101 blends w * input 1 + (1 - w) * input 2, w = 0, 0.01, ... 1, each of unit norm;
// the nearest blend gives the distance and the label: 2 when it leans to the first input
// (w >= 0.5), 1 when it leans to the second.

#include <vector>

#include "numerics/CurveStats.h"
#include "numerics/CurveTools.h"
#include "CurveUtils.h"
#include "Messages.h"
#include "ModelKit.h"
#include "ModelTable.h"

namespace kin {
namespace {

constexpr int kType = 20;
constexpr int kBlends = 101;
enum Output { kDistance, kLabel };

struct LabelTables {
  int n = 0;
  int distanceMode = 2;
  double distanceLimit = 0.02;
  double flatLimit = 0;
  std::vector<double> times;      // seconds from the first frame
  std::vector<double> templates;  // kBlends curves of n values
};

LabelTables& tables() {
  static LabelTables t;
  return t;
}

void M20_ModelClose() { tables() = LabelTables{}; }

bool M20_ModelInit(const INPUTFUNC* ifuncs) {
  const Acquisition& acq = acquisition();
  const int n = acq.n;
  LabelTables t;
  t.distanceMode = int(kit::Rounded(freeParm(kType, 0)));
  t.distanceLimit = freeParm(kType, 1);
  t.flatLimit = freeParm(kType, 2) * freeParm(kType, 3);
  if (!kit::Take(PR_MakeRelativeArr(acq.time, n), n, t.times)) return false;
  if (ifuncs[0].count != n || ifuncs[1].count != n) {
    showNamedMessage(L"M20_ModelInit", L"Input functions is missing or incorrect");
    return false;
  }
  t.templates.resize(size_t(kBlends) * n);
  for (int i = 0; i < kBlends; ++i)
    if (!BlendTables(i * 0.01, ifuncs[0].values, ifuncs[1].values, n, t.templates.data() + size_t(i) * n))
      return false;
  t.n = n;
  tables() = std::move(t);
  return true;
}

bool M20_ComputeParms(const CurveCall& call) {
  const LabelTables& t = tables();
  const int n = call.n;
  // A flat curve has no shape: nothing is written.
  if (CurveStdDev(call.curve, n) <= t.flatLimit) return true;
  std::vector<double> shape(call.curve, call.curve + n);
  PR_FuncNormalizeSumL2(shape.data(), n);
  double best = VOID_VALUE;
  int label = 1;
  for (int i = 0; i < kBlends; ++i) {
    const double d =
        CurveDiffIntegralAbs(t.templates.data() + size_t(i) * n, shape.data(), n, t.distanceMode, t.times.data());
    if (d < best) {
      best = d;
      label = i < 50 ? 1 : 2;
    }
  }
  if (best > t.distanceLimit) return false;
  call.out->put(kDistance, best);
  call.out->put(kLabel, label);
  return true;
}

constexpr ModelOps kOps = {.init = M20_ModelInit, .compute = M20_ComputeParms, .close = M20_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs20[] = {
    {"Combined Distance", "", 1},
    {"Label Map", "", 1},
};
constexpr FreeParmSpec kFreeParms20[] = {
    {"Distance Mode", 2},
    {"Distance Threshold", 0.02},
    {"Noise Level", 0},
    {"FLAT Threshold", 0},
};
const ModelSpec kModel20 = {
    .type = 20,
    .name = "",
    .outputs = kOutputs20,
    .freeParms = kFreeParms20,
    .numIfuncs = 2,
    .ifPanelName = "Two Input functions",
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
