// Type 7, T1 from an inversion-recovery series: S(TI) = M0 * (1 - 2 exp(-TI / T1) + exp(-TR / T1)),
// TR set by the host.
//
// M0 in [0, 10000] and T1 in [0.1, 4] s are searched by the interval optimiser. Method 0 fits real
// (signed) images; method 1 fits magnitude images, whose points before the null lost their sign:
// it tries every number j of leading (shortest-TI) points negated and keeps the best fit. Curves
// whose span is below "Air threhsold" are background.

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "CurveUtils.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelTable.h"
#include "MrSignalModels.h"
#include "numerics/Optimize.h"

namespace kin {
namespace {

constexpr int kType = 7;
enum Output { kM0, kT1, kResidual };

// Copied and prepared by init; read-only while curves are computed.
struct Tables {
  int method = 0;  // 0 real, 1 magnitude
  double airThreshold = 20;
  double offset = 0;
  std::vector<int> order;              // acquisition index of the k-th shortest inversion time
  std::vector<double> inversionTimes;  // ascending
} tables;

void M7_ModelClose() {
  tables.order = {};
  tables.inversionTimes = {};
}

bool M7_ModelInit(const INPUTFUNC*) {
  const double method = freeParm(kType, 0);
  tables.method = int(method);
  if (tables.method != 0 && tables.method != 1) {
    showNamedMessage(L"M7_ModelInit", L"Choose Method 0 or 1");
    return false;
  }
  tables.airThreshold = freeParm(kType, 1);
  tables.offset = freeParm(kType, 2);
  const Acquisition& acq = acquisition();
  const int n = acq.n;
  if (!IsValidDynamicComponent(L"Inversion Time", acq.inversionTime, n)) return false;
  tables.order.resize(n);
  std::iota(tables.order.begin(), tables.order.end(), 0);
  std::stable_sort(tables.order.begin(), tables.order.end(),
                   [&](int a, int b) { return acq.inversionTime[a] < acq.inversionTime[b]; });
  tables.inversionTimes.resize(n);
  for (int k = 0; k < n; ++k) tables.inversionTimes[k] = acq.inversionTime[tables.order[k]];
  return true;
}

double recovery(double ti, double tr, double t1) { return 1 - 2 * std::exp(-ti / t1) + std::exp(-tr / t1); }

struct CostData {
  int count;
  double tr;
};

// Sum of squared residuals over a box (M0, T1), T1 > 0.
void boxCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
             double* centreCost, double* upperBound) {
  const CostData& d = *static_cast<const CostData*>(context);
  const INTERVAL m0 = box[0], t1 = box[1];
  const double m0C = IntervalMid(m0), t1C = IntervalMid(t1);
  // exp(-t / T1) rises with T1 for t >= 0.
  const auto decayOver = [&](double t) { return mr::widen(IntervalOf(std::exp(-t / t1.lo), std::exp(-t / t1.hi))); };
  const INTERVAL steady = decayOver(d.tr);
  mr::ResidualSum sum;
  for (int i = 0; i < d.count; ++i)
    sum.add(m0 * (1.0 - 2.0 * decayOver(x[i]) + steady), m0C * recovery(x[i], d.tr, t1C), y[i]);
  sum.report(1, lowerBound, centreCost, upperBound);
}

struct Fit {
  INTERVAL best[2], confidence[2], costRange{};
  double cost = VOID_VALUE;
};

bool M7_ComputeParms(const CurveCall& call) {
  SingleCurveAnnouncement announce(kType);
  const int n = call.n;
  std::vector<double> y(n);
  for (int k = 0; k < n; ++k) y[k] = call.curve[tables.order[k]];
  if (tables.airThreshold > CurveMaxSpan(y.data(), n)) return false;
  for (double& v : y) v += tables.offset;

  const double* ti = tables.inversionTimes.data();
  const INTERVAL box[2] = {{0, 10000}, {0.1, 4}};
  CostData data{n, acquisition().tr};
  const int budget = optimisation(kType).optB;
  const auto fitCurve = [&](const std::vector<double>& values, Fit* fit) {
    return PR_GO_NonconstrCostOptimizeSLX(2, boxCost, &data, box, values.data(), ti, 1e-8, 1e-6, budget, fit->best,
                                          &fit->cost, fit->confidence, &fit->costRange, nullptr, false);
  };

  Fit fit;
  int negated = 0;
  if (tables.method == 0) {
    if (!fitCurve(y, &fit)) return false;
  } else {
    // Restore the polarity of the j shortest inversion times, j = 0, 1, ...; the first best j wins.
    bool found = false;
    std::vector<double> signed_ = y;
    for (int j = 0; j < n; ++j) {
      if (j > 0) signed_[j - 1] = -y[j - 1];
      Fit trial;
      if (!fitCurve(signed_, &trial)) continue;
      if (!found || trial.cost < fit.cost) {
        fit = trial;
        negated = j;
        found = true;
      }
    }
    if (!found) return false;
  }

  const double m0 = IntervalMid(fit.best[0]), t1 = IntervalMid(fit.best[1]);
  if (call.fitCurve)
    for (int k = 0; k < n; ++k) {
      double v = m0 * recovery(ti[k], data.tr, t1);
      if (k < negated) v = std::max(0.0, -v);
      call.fitCurve[tables.order[k]] = v - tables.offset;
    }
  const OutputWriter& out = *call.out;
  out.put(kM0, m0, fit.confidence[0].lo, fit.confidence[0].hi);
  out.put(kT1, t1, fit.confidence[1].lo, fit.confidence[1].hi);
  out.put(kResidual, std::sqrt(fit.cost), mr::rootOrVoid(fit.costRange.lo), mr::rootOrVoid(fit.costRange.hi));
  return true;
}

constexpr ModelOps kOps = {.init = M7_ModelInit, .compute = M7_ComputeParms, .close = M7_ModelClose};

}  // namespace

constexpr OutputSpec kOutputs07[] = {
    {"S0 spin", "", 1},
    {"T1 relaxation time (sec)", "sec", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms07[] = {
    {"Method (0=Real\\1=Modulus)", 0},
    {"Air threhsold", 20},
    {"Offset signal", 0},
};
const ModelSpec kModel07 = {
    .type = 7,
    .name = "7.  T1 mapping using inversion-recovery",
    .outputs = kOutputs07,
    .freeParms = kFreeParms07,
    .numIfuncs = 0,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisInversionTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(2),
    .method = 2, .optA = 0, .optB = 4000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};

}  // namespace kin
