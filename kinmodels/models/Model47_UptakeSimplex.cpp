// Type 47: the tissue uptake model: plasma (vp, flow Fp) from which the tracer is taken up through
// PS into a compartment it does not leave. Fitted on a uniform time grid by grid search and simplex
// for each arterial delay of a delay grid, with the time-integral L1 or L2 residual. Ktrans is the
// series combination of Fp and PS.

#include "ModelTable.h"
#include "PerfusionCommon.h"
#include "numerics/IntervalArith.h"
#include "numerics/PwlCalculus.h"

namespace kin {
namespace {

using namespace perfusion;

constexpr int kType = 47;

GridModelTables& tables() {
  static GridModelTables t;
  return t;
}

// p = (vp, Fp, PS): C(t) = E * integral of Ca up to t + (Fp - E) * J(1/Tp), Tp = vp/(Fp + PS),
// E = Fp PS/(Fp + PS).
bool M47_UptakeCurve(const double* p, const double* ca, const double* grid, int m, double* out, double* work) {
  const double vp = p[0], fp = p[1], ps = p[2];
  const double tp = vp / (fp + ps);
  const double e = fp * ps / (fp + ps);
  PR_CalculateIntegral(ca, grid, m, work);
  PR_IntegralFunc_PWL_NegExp(1 / tp, ca, grid, m, out);
  for (int i = 0; i < m; ++i) out[i] = e * work[i] + (fp - e) * out[i];
  return true;
}

void M47_ModelClose() { tables() = GridModelTables{}; }

bool M47_ModelInit(const INPUTFUNC* ifuncs) {
  M47_ModelClose();
  GridModelTables t;
  const double* p = freeParms(kType);
  if (!InitGridModel(L"M47_ModelInit", ifuncs, M47_UptakeCurve, p[3], p[4], p[5], p[6], t)) return false;
  t.bounds = {IntervalOf(1e-4, p[0]), IntervalOf(1e-4, p[1] / 60), IntervalOf(1e-4, p[2] / 60)};
  tables() = std::move(t);
  return true;
}

bool M47_ComputeParms(const CurveCall& call) {
  double point[3] = {}, delay = 0, residual = VOID_VALUE;
  if (!FitOnGrid(kType, tables(), call, point, &delay, &residual)) return false;
  const double fp = point[1] * 60, ps = point[2] * 60;
  call.out->put(0, point[0]);
  call.out->put(1, fp);
  call.out->put(2, ps);
  call.out->put(3, delay);
  call.out->put(4, ps * fp / (ps + fp));
  call.out->put(5, residual);
  return true;
}

}  // namespace

constexpr OutputSpec kOutputs47[] = {
    {"vp", "", 1},
    {"Fp", "1/min", 1},
    {"PS", "1/min", 1},
    {"Ta", "sec", 1},
    {"Ktrans", "1/min", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms47[] = {
    {"vp max", 1},
    {"Fp max (1/min)", 5},
    {"PS max (1/min)", 5},
    {"Use L1\\L2 residual metric", 2},
    {"Min Arterial delay (sec)", 0},
    {"Max Arterial delay (sec)", 0},
    {"Arterial delay delta (sec)", 0.5},
};
const ModelSpec kModel47 = {
    .type = 47,
    .name = "47. Tissue Uptake Model {vp,Fp,PS} simplex optimization [Sourbron 2013]",
    .outputs = kOutputs47,
    .freeParms = kFreeParms47,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 5, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = {.init = M47_ModelInit, .compute = M47_ComputeParms, .close = M47_ModelClose},
};

}  // namespace kin
