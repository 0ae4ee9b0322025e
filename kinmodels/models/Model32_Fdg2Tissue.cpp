// Type 32, the reversible two-tissue compartment model of a PET tracer,
//   C(t) = K1 / (a2 - a1) * [(a2 - k3 - k4) * (Cp conv exp(-a2 t)) + (k3 + k4 - a1) * (Cp conv exp(-a1 t))],
//   a1,2 = (s -+ sqrt(s^2 - 4 k2 k4)) / 2,  s = k2 + k3 + k4,
// fitted for K1, k2, k3 and k4 on the common uniform grid of the tissue curve and the arterial input
// function. The model is compared in signal units through the host's conversions, by the root of the
// time-averaged squared difference. Rates are fitted per second and reported per minute.

#include <algorithm>
#include <cmath>
#include <vector>

#include "numerics/CurveTools.h"
#include "CurveUtils.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelKit.h"
#include "ModelTable.h"
#include "numerics/Optimize.h"
#include "numerics/PwlCalculus.h"

namespace kin {
namespace {

constexpr int kType = 32;
constexpr int kMaxGridPoints = 5000;
enum Output { kK1, kK2, kK3, kK4, kResidual };

struct Fdg2TissueTables {
  int n = 0;
  std::vector<double> times;  // acquisition times from the first, seconds
  UniformTiming timing;       // the common grid and the input function on it
  INTERVAL box[4];            // K1, k2, k3, k4 per second
};

Fdg2TissueTables& tables() {
  static Fdg2TissueTables t;
  return t;
}

// The working data of one curve, handed to the cost.
struct Fdg2TissueFit {
  const Fdg2TissueTables* tables;
  const double* measured;  // the curve on the grid (signal)
  const double* info;      // its conversion record
  std::vector<double> fast, slow, conc, signal;
};

// The model concentration on the grid; false when the rates give no real eigenvalues.
bool M32_ModelCurve(Fdg2TissueFit& fit, const double* p) {
  const Fdg2TissueTables& t = *fit.tables;
  const int m = int(t.timing.grid.size());
  const double K1 = p[0], k2 = p[1], k3 = p[2], k4 = p[3];
  const double s = k2 + k3 + k4;
  const double d = std::sqrt(std::max(0.0, s * s - 4 * k2 * k4));
  if (!std::isfinite(d)) return false;
  const double a1 = (s - d) / 2, a2 = (s + d) / 2;
  const double* grid = t.timing.grid.data();
  const double* cp = t.timing.ifunc.data();
  if (a2 - a1 > 1e-12 * std::max(1e-300, std::fabs(s))) {
    PR_IntegralFunc_PWL_NegExp(a1, cp, grid, m, fit.slow.data());
    PR_IntegralFunc_PWL_NegExp(a2, cp, grid, m, fit.fast.data());
    const double scale = K1 / (a2 - a1);
    for (int i = 0; i < m; ++i)
      fit.conc[i] = scale * ((a2 - k3 - k4) * fit.fast[i] + (k3 + k4 - a1) * fit.slow[i]);
  } else {
    // Coinciding eigenvalues: the limit of the two exponentials, K1 (1 + (k3 + k4 - a) t) exp(-a t),
    // taken through a tiny split of the rate.
    const double a = s / 2, h = std::max(1e-9, 1e-6 * a);
    PR_IntegralFunc_PWL_NegExp(a - h, cp, grid, m, fit.slow.data());
    PR_IntegralFunc_PWL_NegExp(a + h, cp, grid, m, fit.fast.data());
    for (int i = 0; i < m; ++i) {
      const double mean = (fit.slow[i] + fit.fast[i]) / 2;
      const double derivative = (fit.slow[i] - fit.fast[i]) / (2 * h);  // integral of t Cp exp(-a t)
      fit.conc[i] = K1 * (mean + (k3 + k4 - a) * derivative);
    }
  }
  return true;
}

double M32_Cost(void* context, const double* x, const double* dx) {
  Fdg2TissueFit& fit = *static_cast<Fdg2TissueFit*>(context);
  double p[4];
  kit::CostPoint(x, dx, 4, p);
  if (!M32_ModelCurve(fit, p)) return VOID_VALUE;
  const Fdg2TissueTables& t = *fit.tables;
  const int m = int(t.timing.grid.size());
  if (!ConcentrationToSignal(fit.conc.data(), m, fit.signal.data(), fit.info)) return VOID_VALUE;
  const double span = t.timing.grid[m - 1] - t.timing.grid[0];
  if (!(span > 0)) return VOID_VALUE;
  const double cost = std::sqrt(PR_IntegrateDiffL2_PWL(fit.signal.data(), fit.measured, t.timing.grid.data(), m) / span);
  return std::isfinite(cost) ? cost : VOID_VALUE;
}

void M32_ModelClose() { tables() = Fdg2TissueTables{}; }

bool M32_ModelInit(const INPUTFUNC* ifuncs) {
  const Acquisition& acq = acquisition();
  Fdg2TissueTables t;
  for (int i = 0; i < 4; ++i) {
    const double limit = freeParm(kType, i) / 60;
    t.box[i] = {std::min(1e-4, limit), std::max(1e-4, limit)};
  }
  if (!kit::Take(PR_MakeRelativeArr(acq.time, acq.n), acq.n, t.times)) return false;
  if (!CombineTacAndIfuncTiming(ifuncs, acq.n, t.timing)) return false;
  if (int(t.timing.grid.size()) > kMaxGridPoints) {
    showNamedMessage(L"M32_ModelInit", L"Too many timepoints");
    return false;
  }
  if (t.timing.grid.size() < 2) return false;
  t.n = acq.n;
  tables() = std::move(t);
  return true;
}

bool M32_ComputeParms(const CurveCall& call) {
  const Fdg2TissueTables& t = tables();
  const int n = call.n;
  const int m = int(t.timing.grid.size());
  std::vector<double> measured;
  if (!kit::Take(PR_ResampleFunction(call.curve, t.times.data(), n, t.timing.grid.data(), m, true), m, measured))
    return false;
  double info[3] = {};
  Fdg2TissueFit fit{&t, measured.data(), info, std::vector<double>(m), std::vector<double>(m),
                    std::vector<double>(m), std::vector<double>(m)};
  // Only the conversion record is used: the fit compares signals.
  if (!SignalToConcentration(measured.data(), m, fit.conc.data(), info)) return false;

  const SingleCurveAnnouncement announcement(kType);
  const Optimisation choice = optimisation(kType);
  double best = VOID_VALUE, p[4] = {};
  if (!PR_OptimizeAmoebaOverGrid(choice.optA, 4, t.box, true, M32_Cost, &fit, choice.optB, 0, &best, p)) return false;
  const double residual = M32_Cost(&fit, p, nullptr);
  if (residual >= VOID_VALUE) return false;

  if (call.fitCurve) {
    std::vector<double> back;
    if (!kit::Take(PR_ResampleFunction(fit.signal.data(), t.timing.grid.data(), m, t.times.data(), n, false), n, back))
      return false;
    std::copy(back.begin(), back.end(), call.fitCurve);
  }
  const OutputWriter& out = *call.out;
  out.put(kK1, p[0] * 60);
  out.put(kK2, p[1] * 60);
  out.put(kK3, p[2] * 60);
  out.put(kK4, p[3] * 60);
  out.put(kResidual, residual);
  return true;
}

constexpr ModelOps kOps = {.init = M32_ModelInit, .compute = M32_ComputeParms, .close = M32_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs32[] = {
    {"K1", "1/min", 1},
    {"k2", "1/min", 1},
    {"k3", "1/min", 1},
    {"k4", "1/min", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms32[] = {
    {"K1 max (1/min)", 100},
    {"k2 max (1/min)", 100},
    {"k3 max (1/min)", 100},
    {"k4 max (1/min)", 100},
};
const ModelSpec kModel32 = {
    .type = 32,
    .name = "32. FDG  2-Tissue Compartment Models {K1,k2,k3,k4}",
    .outputs = kOutputs32,
    .freeParms = kFreeParms32,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModPET,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 7, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};
}  // namespace kin
