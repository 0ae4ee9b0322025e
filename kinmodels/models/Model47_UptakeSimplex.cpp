// Type 47: the tissue uptake model: plasma (vp, flow Fp) from which the tracer is taken up through
// PS into a compartment it does not leave. Fitted on a uniform time grid by grid search and simplex
// for each arterial delay of a delay grid, with the time-integral L1 or L2 residual. Ktrans is the
// series combination of Fp and PS.

#include <algorithm>
#include <vector>

#include "Fitting.h"
#include "ModelTable.h"
#include "PerfusionCommon.h"
#include "numerics/IntervalArith.h"
#include "numerics/PiecewiseLinear.h"

namespace kin {
namespace {

using namespace perfusion;

constexpr int kType = 47;
// The curve builders of the simplex models keep their work arrays within this many grid points.
constexpr int kMaxGridPoints = 5001;

GridModelTables& tables() {
  static GridModelTables t;
  return t;
}

// C(t) = E * integral of Ca up to t + (Fp - E) * J(1/Tp), Tp = vp/(Fp + PS), E = Fp PS/(Fp + PS).
void M47_UptakeCurve(double vp, double fp, double ps, const double* ca, const double* grid, int m, double* out,
                     double* work) {
  const double tp = vp / (fp + ps);
  const double e = fp * ps / (fp + ps);
  PR_CalculateIntegral(ca, grid, m, work);
  PR_IntegralFunc_PWL_NegExp(1 / tp, ca, grid, m, out);
  for (int i = 0; i < m; ++i) out[i] = e * work[i] + (fp - e) * out[i];
}

// x = (vp, Fp, PS).
double M47_Cost(void* context, const double* x, const double* dx) {
  GridFit& fit = *static_cast<GridFit*>(context);
  const GridModelTables& t = *fit.tables;
  double p[3];
  for (int i = 0; i < 3; ++i) p[i] = x[i] + (dx ? dx[i] : 0.0);
  const int m = int(t.grid.size());
  M47_UptakeCurve(p[0], p[1], p[2], fit.input.data(), t.grid.data(), m, fit.conc.data(), fit.work.data());
  if (!ConcentrationToSignal(fit.conc.data(), m, fit.signal.data(), fit.info)) return VOID_VALUE;
  return IntegralResidual(fit.signal.data(), fit.measured.data(), t.grid.data(), m, t.metric);
}

void M47_ModelClose() { tables() = GridModelTables{}; }

bool M47_ModelInit(const INPUTFUNC* ifuncs) {
  M47_ModelClose();
  GridModelTables t;
  const double* p = freeParms(kType);
  if (!InitGridModel(L"M47_ModelInit", ifuncs, p[3], p[4], p[5], p[6], kMaxGridPoints, t)) return false;
  t.bounds = {IntervalOf(1e-4, p[0]), IntervalOf(1e-4, p[1] / 60), IntervalOf(1e-4, p[2] / 60)};
  tables() = std::move(t);
  return true;
}

bool M47_ComputeParms(const CurveCall& call) {
  const GridModelTables& t = tables();
  if (t.n != call.n || t.n < 1) return false;
  GridFit fit(t);
  if (!PrepareGridFit(t, call.curve, fit)) return false;
  SingleCurveAnnouncement announcement(kType);

  double point[3] = {}, delay = 0, residual = VOID_VALUE;
  std::vector<double> fitted;
  if (!DelaySearchOnGrid(kType, t, fit, M47_Cost, point, &delay, &residual, fitted)) return false;
  if (!FitCurveFromGrid(t, fitted, call.fitCurve)) return false;

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
