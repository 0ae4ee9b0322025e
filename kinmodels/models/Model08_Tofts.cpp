// Type 8: the Tofts two-compartment exchange model, C(t) = Ktrans * integral of Cp(tau - delay) *
// exp(-Ktrans/ve * (t - tau)) d tau, fitted in the measured signal domain with the host's
// conversion. Ktrans is fitted per second and reported per minute; the arterial delay in seconds.
//
// Method 4 fits Ktrans, ve and the delay together (grid search plus simplex); method 3 runs one
// fit of Ktrans and ve per whole-second delay from the minimum to the maximum delay.

#include <cmath>

#include "ModelTable.h"
#include "PerfusionCommon.h"
#include "numerics/PwlCalculus.h"

namespace kin {
namespace {

using namespace perfusion;

constexpr int kType = 8;

DelayedInputTables& tables() {
  static DelayedInputTables t;
  return t;
}

// p = (Ktrans, ve): the Tofts concentration Ktrans * J(Ktrans / ve) for the input cp on the times;
// false when ve is 0.
bool M8_ToftsCurve(const double* p, const double* cp, const double* times, int n, double* out) {
  const double ktrans = p[0], ve = p[1];
  if (!(std::fabs(ve) >= 1e-100)) return false;
  PR_IntegralFunc_PWL_NegExp(ktrans / ve, cp, times, n, out);
  for (int i = 0; i < n; ++i) out[i] *= ktrans;
  return true;
}

void M8_ModelClose() { tables() = DelayedInputTables{}; }

bool M8_ModelInit(const INPUTFUNC* ifuncs) {
  M8_ModelClose();
  DelayedInputTables t;
  if (!InitDelayedInputModel(kType, L"M8_ModelInit", ifuncs, {}, M8_ToftsCurve, t)) return false;
  tables() = std::move(t);
  return true;
}

bool M8_ComputeParms(const CurveCall& call) {
  return FitToftsOutputs(kType, tables(), call);
}

}  // namespace

constexpr OutputSpec kOutputs08[] = {
    {"K-trans", "1/min", 1},
    {"Ve", "", 1},
    {"Ta delay", "sec", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms08[] = {
    {"K-trans max (1/min)", 5},
    {"Ve max", 10},
    {"Min arterial delay (sec)", 0},
    {"Max arterial delay (sec)", 0},
    {"Use L1\\L2 residual metric", 2},
    {"Use balanced solution (0\\1)", 1},
};
const ModelSpec kModel08 = {
    .type = 8,
    .name = "8.  Tofts two compartment exchange model {k-trans,Ve}",
    .outputs = kOutputs08,
    .freeParms = kFreeParms08,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(3) | methodBit(4),
    .method = 4, .optA = 11, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = {.init = M8_ModelInit, .compute = M8_ComputeParms, .close = M8_ModelClose},
};

}  // namespace kin
