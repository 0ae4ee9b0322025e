// Type 44: the two-compartment exchange model fitted by interval branch and bound over the plasma
// transit time Tc = vp/Fp, the gap Te - Tc between the extravascular transit time Te = ve/PS and Tc,
// the plasma flow Fp and PS (per second), in the concentration domain on a uniform time grid.
// Boxes whose implied volumes vp = Fp Tc and ve = PS Te cannot meet the volume limits are dropped.

#include <algorithm>
#include <cmath>
#include <vector>

#include "Messages.h"
#include "ModelTable.h"
#include "PerfusionCommon.h"
#include "numerics/CurveStats.h"
#include "numerics/IntervalArith.h"
#include "numerics/Optimize.h"
#include "numerics/PwlCalculus.h"

namespace kin {
namespace {

using namespace perfusion;

constexpr int kType = 44;
// The curve builder keeps its work arrays within this many grid points.
constexpr int kMaxGridPoints = 2001;

// Prepared by the init, read-only while curves are computed.
struct IntervalExchangeTables {
  int n = 0;
  std::vector<double> times;      // seconds from the first acquisition
  std::vector<double> input;      // the input function at those times
  std::vector<double> grid;       // uniform grid covering the times
  std::vector<double> gridInput;  // the input function on the grid
  INTERVAL bounds[4];             // Tc (s), Te - Tc (s), Fp (1/s), PS (1/s)
  INTERVAL vpLimits, veLimits;
};

IntervalExchangeTables& tables() {
  static IntervalExchangeTables t;
  return t;
}

// The working data of one curve, handed to the box cost.
struct IntervalExchangeFit {
  const IntervalExchangeTables* tables;
  std::vector<INTERVAL> plus, minus;  // J over the intervals of the two rates
  std::vector<double> conc{}, work{};
};

bool within(double value, INTERVAL limits) { return value >= limits.lo && value <= limits.hi; }

// The exchange curve on the grid for (Tc, Te, Fp, PS); false when the volumes leave their limits or
// the two time constants cannot be separated.
bool M44_ExchangeCurve(const IntervalExchangeTables& t, double tc, double te, double fp, double ps, double* out,
                       double* work) {
  if (!within(fp * tc, t.vpLimits) || !within(te * ps, t.veLimits)) return false;
  const double total = tc + te * ps / fp;
  const double a = total + te;
  if (!(a * a - 4 * tc * te >= 1e-100)) return false;
  const double d = std::sqrt(a * a - 4 * tc * te);
  if (!((d + te - total) / 2 >= 1e-100)) return false;
  return ExchangeCurve(tc, te, fp, ps, t.gridInput.data(), t.grid.data(), int(t.grid.size()), out, work);
}

INTERVAL intersect(INTERVAL a, INTERVAL b) { return {std::max(a.lo, b.lo), std::min(a.hi, b.hi)}; }

// Bounds of the RMSE against the measured concentration y over a box of (Tc, Te - Tc, Fp, PS), and
// the RMSE at its centre. The curve is Fp * (w J(1/T+) + (1 - w) J(1/T-)) with the time constants
// T- <= min(Tc, Te), max(T, Te) <= T+ and the weight w = (T - T-)/(T+ - T-) in [0, 1]; the
// enclosure is the interval form of that sum, cut to Fp times the hull of the two integrals.
void M44_CostBounds(void* context, const INTERVAL* box, const double* y, const double*, double* lowerBound,
                    double* centreCost, double* /*upperBound*/) {
  IntervalExchangeFit& fit = *static_cast<IntervalExchangeFit*>(context);
  const IntervalExchangeTables& t = *fit.tables;
  const int m = int(t.grid.size());
  *lowerBound = VOID_VALUE;
  *centreCost = VOID_VALUE;

  const INTERVAL tc = box[0], fp = box[2], ps = box[3];
  if (tc.lo == tc.hi && box[1].lo == box[1].hi && fp.lo == fp.hi && ps.lo == ps.hi) {
    // A single point (the optimiser's local fits): its cost is all there is to know.
    if (M44_ExchangeCurve(t, tc.lo, tc.lo + box[1].lo, fp.lo, ps.lo, fit.conc.data(), fit.work.data()))
      *centreCost = PR_ComputeRMSE(fit.conc.data(), y, m);
    if (!std::isfinite(*centreCost)) *centreCost = VOID_VALUE;
    *lowerBound = *centreCost < VOID_VALUE ? *centreCost * (1 - 1e-12) : VOID_VALUE;
    return;
  }
  const INTERVAL te = tc + box[1];
  const INTERVAL vp = fp * tc, ve = ps * te;
  if (vp.hi < t.vpLimits.lo || vp.lo > t.vpLimits.hi || ve.hi < t.veLimits.lo || ve.lo > t.veLimits.hi) return;

  const INTERVAL total = tc + te * ps / fp;
  const INTERVAL a = total + te;
  const INTERVAL d = IntervalSquareRoot(IntervalSquare(a) - 4.0 * tc * te);
  // Both forms enclose the time constants; their intersection is empty only through rounding.
  const INTERVAL tPlusForm = (a + d) / 2.0, tMinusForm = 2.0 * tc * te / (a + d);
  INTERVAL tPlus = intersect(tPlusForm, INTERVAL{std::max(total.lo, te.lo), a.hi});
  INTERVAL tMinus = intersect(tMinusForm, INTERVAL{0, std::min(tc.hi, te.hi)});
  if (tPlus.lo > tPlus.hi) tPlus = tPlusForm;
  if (tMinus.lo > tMinus.hi) tMinus = tMinusForm;
  INTERVAL w = intersect((total - tMinus) / d, INTERVAL{0, 1});
  if (w.lo > w.hi) w = INTERVAL{0, 1};

  // 0 never exceeds the true error: the box is kept when no enclosure can be made.
  double low = 0;
  if (tPlus.lo > 0 && tMinus.lo > 0 &&
      PR_IntegralFuncUniX_PWL_NegExp(1.0 / tPlus, t.gridInput.data(), t.grid.data(), m, fit.plus.data()) &&
      PR_IntegralFuncUniX_PWL_NegExp(1.0 / tMinus, t.gridInput.data(), t.grid.data(), m, fit.minus.data())) {
    // (1 - w) J- + w J+ is linear in w with non-negative weights, so over the box it lies between
    // its values at the ends of w with both integrals at their low (high) ends; the positive flow
    // scales it. Sums of products are widened by a few units in the last place for their rounding.
    const bool positiveFlow = fp.lo >= 0;
    const double margin = 0x1p-49;
    for (int i = 0; i < m; ++i) {
      const INTERVAL jp = fit.plus[i], jm = fit.minus[i];
      INTERVAL form;
      if (positiveFlow) {
        const double lo1 = (1 - w.lo) * jm.lo + w.lo * jp.lo, lo2 = (1 - w.hi) * jm.lo + w.hi * jp.lo;
        const double hi1 = (1 - w.lo) * jm.hi + w.lo * jp.hi, hi2 = (1 - w.hi) * jm.hi + w.hi * jp.hi;
        const double spread = margin * (std::fabs(jm.lo) + std::fabs(jp.lo) + std::fabs(jm.hi) + std::fabs(jp.hi)) + 1e-300;
        const double innerLo = std::min(lo1, lo2) - spread, innerHi = std::max(hi1, hi2) + spread;
        form.lo = innerLo >= 0 ? fp.lo * innerLo : fp.hi * innerLo;
        form.hi = innerHi >= 0 ? fp.hi * innerHi : fp.lo * innerHi;
        form.lo -= margin * std::fabs(form.lo) + 1e-300;
        form.hi += margin * std::fabs(form.hi) + 1e-300;
      } else {
        form = fp * (jm + w * (jp - jm));
        const INTERVAL cut = intersect(form, fp * IntervalHull(jp, jm));
        if (cut.lo <= cut.hi) form = cut;
      }
      const double below = form.lo - y[i], above = y[i] - form.hi;
      const double gap = below > 0 ? below : above > 0 ? above : 0;
      low += gap * gap * (1 - margin);
    }
    low = std::sqrt(low / m);
    if (std::isnan(low)) low = 0;
  }
  *lowerBound = low;

  const double tcMid = IntervalMid(tc), teMid = tcMid + IntervalMid(box[1]);
  if (M44_ExchangeCurve(t, tcMid, teMid, IntervalMid(fp), IntervalMid(ps), fit.conc.data(), fit.work.data()))
    *centreCost = PR_ComputeRMSE(fit.conc.data(), y, m);
  if (!std::isfinite(*centreCost)) *centreCost = VOID_VALUE;
}

void M44_ModelClose() { tables() = IntervalExchangeTables{}; }

bool M44_ModelInit(const INPUTFUNC* ifuncs) {
  M44_ModelClose();
  IntervalExchangeTables t;
  const double* p = freeParms(kType);
  t.bounds[0] = {0.01, 150};
  t.bounds[1] = {0.01, 150};
  t.bounds[2] = IntervalOf(p[2] / 60, 0.001 * p[2] / 60);
  t.bounds[3] = IntervalOf(p[3] / 60, 0.001 * p[3] / 60);
  t.vpLimits = IntervalOf(p[0], 0.001 * p[0]);
  t.veLimits = IntervalOf(p[1], 0.001 * p[1]);
  if (!PrepareTimesAndInput(ifuncs, t.times, t.input)) return false;
  if (!MakeUniformGrid(t.times, t.grid)) return false;
  const int m = int(t.grid.size());
  if (m >= kMaxGridPoints) {
    showNamedMessage(L"M44_ModelInit", L"Too many timepoints");
    return false;
  }
  t.gridInput.resize(m);
  if (!Resample(t.input.data(), t.times.data(), int(t.times.size()), t.grid.data(), m, t.gridInput.data()))
    return false;
  t.n = int(t.times.size());
  tables() = std::move(t);
  return true;
}

bool M44_ComputeParms(const CurveCall& call) {
  const IntervalExchangeTables& t = tables();
  const int n = call.n;
  if (t.n != n || n < 1) return false;
  const int m = int(t.grid.size());

  std::vector<double> measured(m), conc(m);
  if (!Resample(call.curve, t.times.data(), n, t.grid.data(), m, measured.data())) return false;
  double info[3] = {};
  if (!SignalToConcentration(measured.data(), m, conc.data(), info)) return false;

  IntervalExchangeFit fit{&t, std::vector<INTERVAL>(m), std::vector<INTERVAL>(m)};
  fit.conc.resize(m);
  fit.work.resize(m);
  const Optimisation choice = optimisation(kType);
  INTERVAL bestBox[4];
  double bestCost = VOID_VALUE;
  if (!PR_GO_NonconstrCostOptimizeSLX(4, M44_CostBounds, &fit, t.bounds, conc.data(), t.grid.data(), 1e-8, 1e-6,
                                      choice.optB, bestBox, &bestCost, nullptr, nullptr, nullptr, false))
    return false;

  const double tc = IntervalMid(bestBox[0]), te = tc + IntervalMid(bestBox[1]);
  const double fp = IntervalMid(bestBox[2]), ps = IntervalMid(bestBox[3]);
  if (call.fitCurve) {
    std::vector<double> signal(m);
    if (!M44_ExchangeCurve(t, tc, te, fp, ps, fit.conc.data(), fit.work.data())) return false;
    if (!ConcentrationToSignal(fit.conc.data(), m, signal.data(), info)) return false;
    if (!Resample(signal.data(), t.grid.data(), m, t.times.data(), n, call.fitCurve)) return false;
  }
  call.out->put(0, fp * tc);
  call.out->put(1, ps * te);
  call.out->put(2, fp * 60);
  call.out->put(3, ps * 60);
  call.out->put(4, bestCost);
  return true;
}

}  // namespace

constexpr OutputSpec kOutputs44[] = {
    {"vp", "", 1},
    {"ve", "", 1},
    {"Fp", "1/min", 1},
    {"PS", "1/min", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms44[] = {
    {"vp max", 1},
    {"ve max", 1},
    {"Fp max (1/min)", 10},
    {"PS max (1/min)", 10},
};
const ModelSpec kModel44 = {
    .type = 44,
    .name = "",
    .outputs = kOutputs44,
    .freeParms = kFreeParms44,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(2),
    .method = 2, .optA = 0, .optB = 10000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = {.init = M44_ModelInit, .compute = M44_ComputeParms, .close = M44_ModelClose},
};

}  // namespace kin
