// Type 43: the two-compartment exchange model (plasma volume vp with flow Fp, extravascular
// extracellular volume ve exchanging with it through PS), fitted on a uniform time grid by grid
// search and simplex for each arterial delay of a delay grid. The residual is the point-wise RMSE
// of the signals on the grid; Fp and PS are fitted per second and reported per minute.

#include "ModelTable.h"
#include "PerfusionCommon.h"
#include "numerics/IntervalArith.h"

namespace kin {
namespace {

using namespace perfusion;

constexpr int kType = 43;

GridModelTables& tables() {
  static GridModelTables t;
  return t;
}

// p = (vp, ve, Fp, PS): the exchange curve on the delayed input.
bool M43_ExchangeCurve(const double* p, const double* ca, const double* grid, int m, double* out, double* work) {
  const double vp = p[0], ve = p[1], fp = p[2], ps = p[3];
  return ExchangeCurve(vp / fp, ve / ps, fp, ps, ca, grid, m, out, work);
}

void M43_ModelClose() { tables() = GridModelTables{}; }

bool M43_ModelInit(const INPUTFUNC* ifuncs) {
  M43_ModelClose();
  GridModelTables t;
  const double* p = freeParms(kType);
  // The metric is checked as for the other simplex models; the fit itself always uses the RMSE.
  if (!InitGridModel(L"M43_ModelInit", ifuncs, M43_ExchangeCurve, p[4], p[5], p[6], p[7], t)) return false;
  t.pointRmse = true;
  t.bounds = {IntervalOf(1e-4, p[0]), IntervalOf(1e-4, p[1]), IntervalOf(1e-4, p[2] / 60), IntervalOf(1e-4, p[3] / 60)};
  tables() = std::move(t);
  return true;
}

bool M43_ComputeParms(const CurveCall& call) { return ComputeVolumesAndFlows(kType, tables(), call); }

}  // namespace

constexpr OutputSpec kOutputs43[] = {
    {"vp", "", 1},
    {"ve", "", 1},
    {"Fp", "1/min", 1},
    {"PS", "1/min", 1},
    {"Ta", "sec", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms43[] = {
    {"vp max", 1},
    {"ve max", 1},
    {"Fp max (1/min)", 5},
    {"PS max (1/min)", 5},
    {"Use L1\\L2 residual metric", 2},
    {"Min Arterial delay (sec)", 0},
    {"Max Arterial delay (sec)", 0},
    {"Arterial delay delta (sec)", 0.5},
};
const ModelSpec kModel43 = {
    .type = 43,
    .name = "43. 2CXM {vp,ve,Fp,PS} simplex optimization [Flouri 2016]",
    .outputs = kOutputs43,
    .freeParms = kFreeParms43,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 5, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = {.init = M43_ModelInit, .compute = M43_ComputeParms, .close = M43_ModelClose},
};

}  // namespace kin
