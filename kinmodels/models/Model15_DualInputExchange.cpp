// Type 15, the dual-input exchange model: one exchange compartment fed by a mixture of the arterial
// and the portal-venous input, m(t) = f Aa(t) + (1 - f) Ap(t),
//   C(t) = K * integral of m(tau) exp(-k (t - tau)) d tau,
// fitted in concentration for (K, k, f) by a grid search and simplex. K is reported per minute and
// V_e = K / k.

#include <algorithm>
#include <cmath>
#include <vector>

#include "numerics/CurveStats.h"
#include "numerics/CurveTools.h"
#include "CurveUtils.h"
#include "Fitting.h"
#include "ModelKit.h"
#include "ModelTable.h"
#include "numerics/Optimize.h"
#include "numerics/PwlCalculus.h"

namespace kin {
namespace {

constexpr int kType = 15;
enum Output { kKtrans, kVe, kArterialFraction, kResidual };

struct DualExchangeTables {
  int n = 0;
  std::vector<double> times;              // seconds from the first frame
  std::vector<double> arterial, portal;   // both inputs at those times
  INTERVAL bounds[3];                     // K, k (per second), f
};

DualExchangeTables& tables() {
  static DualExchangeTables t;
  return t;
}

struct DualExchangeFit {
  const DualExchangeTables* tables;
  const double* conc;
  std::vector<double> model;
};

void M15_ModelCurve(const DualExchangeTables& t, const double* p, double* out) {
  const double K = p[0], k = p[1], f = p[2];
  for (int i = 0; i < t.n; ++i) out[i] = (1 - f) * t.portal[i] + f * t.arterial[i];
  PR_IntegralFunc_PWL_NegExp(k, out, t.times.data(), t.n, out);
  for (int i = 0; i < t.n; ++i) out[i] *= K;
}

double M15_Cost(void* context, const double* x, const double* dx) {
  DualExchangeFit& fit = *static_cast<DualExchangeFit*>(context);
  double p[3];
  kit::CostPoint(x, dx, 3, p);
  M15_ModelCurve(*fit.tables, p, fit.model.data());
  const double cost = PR_ComputeRMSE(fit.model.data(), fit.conc, fit.tables->n);
  return std::isfinite(cost) ? cost : VOID_VALUE;
}

void M15_ModelClose() { tables() = DualExchangeTables{}; }

bool M15_ModelInit(const INPUTFUNC* ifuncs) {
  const int n = acquisition().n;
  DualExchangeTables t;
  if (!PrepareAndCheckTimeArr(n, t.times)) return false;
  if (!kit::Take(PR_PrepareInputFunc(&ifuncs[0], t.times.data(), n), n, t.arterial)) return false;
  if (!kit::Take(PR_PrepareInputFunc(&ifuncs[1], t.times.data(), n), n, t.portal)) return false;
  const double* p = freeParms(kType);
  t.bounds[0] = {std::min(p[0], p[1]), std::max(p[0], p[1])};
  t.bounds[1] = {std::min(p[2], p[3]), std::max(p[2], p[3])};
  t.bounds[2] = {0.01, 0.99};
  t.n = n;
  tables() = std::move(t);
  return true;
}

bool M15_ComputeParms(const CurveCall& call) {
  const DualExchangeTables& t = tables();
  const int n = call.n;
  double info[3] = {};
  std::vector<double> conc(n);
  if (!SignalToConcentration(call.curve, n, conc.data(), info)) return false;
  DualExchangeFit fit{&t, conc.data(), std::vector<double>(n)};
  const SingleCurveAnnouncement announcement(kType);
  const Optimisation choice = optimisation(kType);
  double best = VOID_VALUE, p[3] = {};
  if (!PR_OptimizeAmoebaOverGrid(choice.optA, 3, t.bounds, true, M15_Cost, &fit, choice.optB, 0, &best, p))
    return false;
  M15_ModelCurve(t, p, fit.model.data());
  std::vector<double> signal(n);
  if (!ConcentrationToSignal(fit.model.data(), n, signal.data(), info)) return false;
  const double residual = PR_ComputeRMSE(signal.data(), call.curve, n);
  if (call.fitCurve) std::copy(signal.begin(), signal.end(), call.fitCurve);
  const OutputWriter& out = *call.out;
  out.put(kKtrans, p[0] * 60);
  out.put(kVe, p[0] / p[1]);
  out.put(kArterialFraction, p[2]);
  out.put(kResidual, residual);
  return true;
}

constexpr ModelOps kOps = {.init = M15_ModelInit, .compute = M15_ComputeParms, .close = M15_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs15[] = {
    {"k_trans", "1/min", 1},
    {"V_e", "", 1},
    {"ArtFract", "", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms15[] = {
    {"Ktrans_Min", 0.2},
    {"Ktrans_Max", 0.8},
    {"Ve_Min", 0.2},
    {"Ve_Max", 10},
};
const ModelSpec kModel15 = {
    .type = 15,
    .name = "15. Dual Input (Arterial\\Portal Vein): {k_trans,V_e,Artf}",
    .outputs = kOutputs15,
    .freeParms = kFreeParms15,
    .numIfuncs = 2,
    .ifPanelName = "Two Input Functions",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 5, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};
}  // namespace kin
