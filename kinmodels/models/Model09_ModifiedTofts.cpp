// Type 9: the modified Tofts model with a vascular fraction,
// C(t) = Va * Cp(t - delay) + (1 - Va) * Ktrans * integral of Cp(tau - delay) * exp(-Ktrans/ve * (t - tau)) d tau,
// fitted in the measured signal domain with the host's conversion. Ktrans is fitted per second and
// reported per minute; the arterial delay in seconds.
//
// Method 4 fits Ktrans, ve, Va and the delay together (grid search plus simplex); method 3 runs one
// fit of Ktrans, ve and Va per whole-second delay from the minimum to the maximum delay.

#include <cmath>

#include "ModelTable.h"
#include "PerfusionCommon.h"
#include "numerics/PwlCalculus.h"

namespace kin {
namespace {

using namespace perfusion;

constexpr int kType = 9;

DelayedInputTables& tables() {
  static DelayedInputTables t;
  return t;
}

// p = (Ktrans, ve, Va): the modified Tofts concentration for the input cp on the times; false when
// ve is 0.
bool M9_ModifiedToftsCurve(const double* p, const double* cp, const double* times, int n, double* out) {
  const double ktrans = p[0], ve = p[1], va = p[2];
  if (!(std::fabs(ve) >= 1e-100)) return false;
  PR_IntegralFunc_PWL_NegExp(ktrans / ve, cp, times, n, out);
  for (int i = 0; i < n; ++i) out[i] = va * cp[i] + (1 - va) * ktrans * out[i];
  return true;
}

void M9_ModelClose() { tables() = DelayedInputTables{}; }

bool M9_ModelInit(const INPUTFUNC* ifuncs) {
  M9_ModelClose();
  DelayedInputTables t;
  if (!InitDelayedInputModel(kType, L"M9_ModelInit", ifuncs, {INTERVAL{0, 1}}, M9_ModifiedToftsCurve, t))
    return false;
  tables() = std::move(t);
  return true;
}

bool M9_ComputeParms(const CurveCall& call) {
  return FitToftsOutputs(kType, tables(), call);
}

}  // namespace

constexpr OutputSpec kOutputs09[] = {
    {"K-trans", "1/min", 1},
    {"Ve", "", 1},
    {"Va", "", 1},
    {"Arterial_delay", "sec", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms09[] = {
    {"K-trans max (1/min)", 5},
    {"Ve max", 10},
    {"Min arterial delay (sec)", 0},
    {"Max arterial delay (sec)", 0},
    {"Use L1\\L2 residual metric", 2},
    {"Use Balanced solution (0\\1)", 1},
};
const ModelSpec kModel09 = {
    .type = 9,
    .name = "9.  Modified Tofts two compartment exchange model {k-trans,Ve,Va}",
    .outputs = kOutputs09,
    .freeParms = kFreeParms09,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(3) | methodBit(4),
    .method = 4, .optA = 7, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = {.init = M9_ModelInit, .compute = M9_ComputeParms, .close = M9_ModelClose},
};

}  // namespace kin
