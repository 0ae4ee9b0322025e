// Type 46: the two-compartment filtration model: plasma (vp, flow Fp) filters into an
// extravascular compartment (ve) through PS without backflux; the extravascular compartment drains
// with the time constant Te = ve/PS. Fitted on a uniform time grid by grid search and simplex for
// each arterial delay of a delay grid, with the time-integral L1 or L2 residual.

#include "ModelTable.h"
#include "PerfusionCommon.h"
#include "numerics/IntervalArith.h"
#include "numerics/PwlCalculus.h"

namespace kin {
namespace {

using namespace perfusion;

constexpr int kType = 46;
// The two time constants must differ by this much (seconds) for the closed form to hold.
constexpr double kMinTimeSeparation = 0.1;

GridModelTables& tables() {
  static GridModelTables t;
  return t;
}

// p = (vp, ve, Fp, PS): C(t) = Fp / (Te - Tp) * [(Te - T) J(1/Tp) + (T - Tp) J(1/Te)], Tp = vp/Fp,
// Te = ve/PS, T = (vp + ve)/Fp; false when Te is not at least 0.1 s above Tp.
bool M46_FiltrationCurve(const double* p, const double* ca, const double* grid, int m, double* out, double* work) {
  const double vp = p[0], ve = p[1], fp = p[2], ps = p[3];
  const double tp = vp / fp, te = ve / ps, t = (vp + ve) / fp;
  if (!(te - tp >= kMinTimeSeparation)) return false;
  PR_IntegralFunc_PWL_NegExp(1 / tp, ca, grid, m, out);
  PR_IntegralFunc_PWL_NegExp(1 / te, ca, grid, m, work);
  const double scale = fp / (te - tp);
  for (int i = 0; i < m; ++i) out[i] = scale * ((te - t) * out[i] + (t - tp) * work[i]);
  return true;
}

void M46_ModelClose() { tables() = GridModelTables{}; }

bool M46_ModelInit(const INPUTFUNC* ifuncs) {
  M46_ModelClose();
  GridModelTables t;
  const double* p = freeParms(kType);
  if (!InitGridModel(L"M46_ModelInit", ifuncs, M46_FiltrationCurve, p[4], p[5], p[6], p[7], t)) return false;
  t.bounds = {IntervalOf(1e-4, p[0]), IntervalOf(1e-4, p[1]), IntervalOf(1e-4, p[2] / 60), IntervalOf(1e-4, p[3] / 60)};
  tables() = std::move(t);
  return true;
}

bool M46_ComputeParms(const CurveCall& call) { return ComputeVolumesAndFlows(kType, tables(), call); }

}  // namespace

constexpr OutputSpec kOutputs46[] = {
    {"vp", "", 1},
    {"ve", "", 1},
    {"Fp", "1/min", 1},
    {"PS", "1/min", 1},
    {"Ta", "sec", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms46[] = {
    {"vp max", 1},
    {"ve max", 1},
    {"Fp max (1/min)", 10},
    {"PS max (1/min)", 10},
    {"Use L1\\L2 residual metric", 2},
    {"Min Arterial delay (sec)", 0},
    {"Max Arterial delay (sec)", 0},
    {"Arterial delay delta (sec)", 0.5},
};
const ModelSpec kModel46 = {
    .type = 46,
    .name = "46. 2CFM {vp,ve,Fp,PS} simplex optimization [Flouri 2016]",
    .outputs = kOutputs46,
    .freeParms = kFreeParms46,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 5, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = {.init = M46_ModelInit, .compute = M46_ComputeParms, .close = M46_ModelClose},
};

}  // namespace kin
