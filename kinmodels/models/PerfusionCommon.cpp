#include "PerfusionCommon.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "CurveUtils.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelKit.h"
#include "numerics/CurveStats.h"
#include "numerics/CurveTools.h"
#include "numerics/PwlCalculus.h"

namespace kin::perfusion {

bool PrepareTimesAndInput(const INPUTFUNC* ifuncs, std::vector<double>& times, std::vector<double>& input) {
  times.clear();
  input.clear();
  const int n = acquisition().n;
  if (!PrepareAndCheckTimeArr(n, times)) return false;
  if (!ifuncs) return false;
  return kit::Take(PR_PrepareInputFunc(ifuncs, times.data(), n), n, input);
}

bool DelayOnTimes(const double* values, const double* times, int n, double delay, double* out) {
  if (delay == 0) {
    std::copy_n(values, n, out);
    return true;
  }
  kit::CoreArray delayed(PR_DelayThisFunction(values, times, n, delay));
  if (!delayed) return false;
  std::copy_n(delayed.get(), n, out);
  return true;
}

bool DelayOntoGrid(const double* input, const double* times, int n, double delay, const double* grid, int m,
                   double* out) {
  std::vector<double> shifted(n);
  PR_GetDelayedTimes(times, n, delay, shifted.data());
  return Resample(input, shifted.data(), n, grid, m, out);
}

bool MakeUniformGrid(const std::vector<double>& times, std::vector<double>& grid) {
  int m = 0;
  kit::CoreArray uniform(PR_MakeUniformSamplingArray(times.data(), int(times.size()), &m));
  if (!uniform || m < 1) return false;
  grid = uniform.copy(m);
  return true;
}

bool Resample(const double* values, const double* from, int count, const double* to, int m, double* out) {
  kit::CoreArray resampled(PR_ResampleFunction(values, from, count, to, m, false));
  if (!resampled) return false;
  std::copy_n(resampled.get(), m, out);
  return true;
}

bool ExchangeCurve(double tc, double te, double fp, double ps, const double* ca, const double* grid, int m,
                   double* out, double* work) {
  const double t = tc + te * ps / fp;  // (vp + ve) / Fp
  const double a = t + te;
  const double discriminant = a * a - 4 * tc * te;
  if (!(discriminant >= 1e-100)) {
    std::fill_n(out, m, 0.0);
    return false;
  }
  const double d = std::sqrt(discriminant);
  const double tPlus = (a + d) / 2;
  // The smaller constant from the product Tc * Te, free of the cancellation in (A - D) / 2.
  const double tMinus = 2 * tc * te / (a + d);
  const double wPlus = (d + t - te) / 2;
  const double wMinus = (d + te - t) / 2;
  PR_IntegralFunc_PWL_NegExp(1 / tPlus, ca, grid, m, out);
  PR_IntegralFunc_PWL_NegExp(1 / tMinus, ca, grid, m, work);
  const double scale = fp / d;
  for (int i = 0; i < m; ++i) out[i] = scale * (wPlus * out[i] + wMinus * work[i]);
  return true;
}

double IntegralResidual(const double* a, const double* b, const double* grid, int m, int metric) {
  const double duration = m > 1 ? grid[m - 1] - grid[0] : 0;
  if (!(duration > 0)) return VOID_VALUE;
  if (metric == 1) return PR_IntegrateDiffL1_PWL(a, b, grid, m) / duration;
  return std::sqrt(PR_IntegrateDiffL2_PWL(a, b, grid, m) / duration);
}

// --- the Tofts models ---

namespace {

// The working data of one curve, handed to the cost callbacks of a Tofts model.
struct DelayedInputFit {
  const DelayedInputTables* tables;
  const double* input;     // the delayed input (fixed-delay cost) or the undelayed one
  const double* measured;  // the measured signal
  const double* info;      // the conversion record of the measured curve
  std::vector<double> delayed, conc, signal;
};

// The Tofts models fit at most this many kinetic variables besides the delay.
constexpr int kMaxKineticVariables = 7;

// Cost of the kinetic variables p for the input cp; leaves the model's signal in fit.signal.
double evaluateDelayedInput(DelayedInputFit& fit, const double* p, const double* cp) {
  const DelayedInputTables& t = *fit.tables;
  if (!t.curve(p, cp, t.times.data(), t.n, fit.conc.data())) return VOID_VALUE;
  if (!ConcentrationToSignal(fit.conc.data(), t.n, fit.signal.data(), fit.info)) return VOID_VALUE;
  return t.metric == 1 ? PR_FuncDistL1(fit.signal.data(), fit.measured, t.n)
                       : PR_ComputeRMSE(fit.signal.data(), fit.measured, t.n);
}

// x = (kinetic variables, delay), the input delayed by the last variable first.
double costWithDelay(void* context, const double* x, const double* dx) {
  DelayedInputFit& fit = *static_cast<DelayedInputFit*>(context);
  const DelayedInputTables& t = *fit.tables;
  const int count = int(t.bounds.size());
  double p[kMaxKineticVariables + 1];
  kit::CostPoint(x, dx, count, p);
  if (!DelayOnTimes(fit.input, t.times.data(), t.n, p[count - 1], fit.delayed.data())) return VOID_VALUE;
  return evaluateDelayedInput(fit, p, fit.delayed.data());
}

// x = the kinetic variables, with the input already delayed.
double costFixedDelay(void* context, const double* x, const double* dx) {
  DelayedInputFit& fit = *static_cast<DelayedInputFit*>(context);
  const int count = int(fit.tables->bounds.size()) - 1;
  double p[kMaxKineticVariables];
  kit::CostPoint(x, dx, count, p);
  return evaluateDelayedInput(fit, p, fit.input);
}

}  // namespace

bool InitDelayedInputModel(int type, const wchar_t* function, const INPUTFUNC* ifuncs,
                           std::initializer_list<INTERVAL> extraBounds, DelayedInputCurve curve,
                           DelayedInputTables& t) {
  if (!PrepareTimesAndInput(ifuncs, t.times, t.input)) return false;
  const double* p = freeParms(type);
  if (!kit::ReadMetric(p[4], function, &t.metric)) return false;
  t.balanced = kit::Rounded(p[5]) == 1;
  const double minDelay = p[2], maxDelay = p[3];
  if (minDelay > maxDelay) {
    showNamedMessage(function, L"Invalid Input Function delay interval");
    return false;
  }
  const double kmax = p[0] / 60;
  t.bounds = {{std::min(1e-6, kmax), std::max(1e-6, kmax)}, {std::min(0.01, p[1]), std::max(0.01, p[1])}};
  t.bounds.insert(t.bounds.end(), extraBounds);
  t.bounds.push_back({minDelay, maxDelay});
  t.curve = curve;
  t.n = int(t.times.size());
  return int(t.bounds.size()) <= kMaxKineticVariables + 1;
}

bool FitWithArterialDelay(int type, const DelayedInputTables& t, const CurveCall& call, double* point,
                          double* residual) {
  const int n = call.n;
  if (t.n != n || n < 1 || !t.curve) return false;
  const int count = int(t.bounds.size()), kinetic = count - 1;

  double info[3] = {};
  DelayedInputFit fit{&t, t.input.data(), call.curve, info, std::vector<double>(n), std::vector<double>(n),
                      std::vector<double>(n)};
  // Only the conversion record is used: the fit compares signals.
  if (!SignalToConcentration(call.curve, n, fit.conc.data(), info)) return false;

  const Optimisation choice = optimisation(type);
  const double balance = t.balanced ? 0.01 : 0.0;
  std::optional<SingleCurveAnnouncement> announcement;
  if (choice.method == 3) announcement.emplace(type);

  double best = VOID_VALUE;
  std::fill_n(point, count, 0.0);
  if (choice.method == 4) {
    if (!PR_OptimizeAmoebaOverGrid(choice.optA, count, t.bounds.data(), true, costWithDelay, &fit, choice.optB,
                                   balance, &best, point))
      return false;
  } else if (choice.method == 3) {
    const double minDelay = t.bounds[kinetic].lo, maxDelay = t.bounds[kinetic].hi;
    const long long steps = std::max(2LL, (long long)std::ceil(maxDelay - minDelay) + 1);
    std::vector<double> delayed(n);
    for (long long i = 0; minDelay + double(i) <= maxDelay; ++i) {
      const double delay = minDelay + double(i);
      kit::ReportStep(i, steps);
      if (!DelayOnTimes(t.input.data(), t.times.data(), n, delay, delayed.data())) return false;
      fit.input = delayed.data();
      double cost = VOID_VALUE, x[kMaxKineticVariables] = {};
      if (!PR_OptimizeAmoebaOverGrid(choice.optA, kinetic, t.bounds.data(), true, costFixedDelay, &fit, choice.optB,
                                     balance, &cost, x))
        return false;
      if (cost < best) {
        best = cost;
        std::copy_n(x, kinetic, point);
        point[kinetic] = delay;
      }
    }
    fit.input = t.input.data();
  } else {
    return false;  // the catalogue offers methods 3 and 4 only
  }

  for (int i = 0; i < count; ++i) point[i] = std::clamp(point[i], t.bounds[i].lo, t.bounds[i].hi);
  if (!DelayOnTimes(t.input.data(), t.times.data(), n, point[kinetic], fit.delayed.data())) return false;
  const double cost = evaluateDelayedInput(fit, point, fit.delayed.data());
  if (cost >= VOID_VALUE) return false;
  if (call.fitCurve) std::copy_n(fit.signal.data(), n, call.fitCurve);
  *residual = cost;
  return true;
}

bool FitToftsOutputs(int type, const DelayedInputTables& t, const CurveCall& call) {
  const int count = int(t.bounds.size());
  std::vector<double> point(count, 0.0);
  double residual = VOID_VALUE;
  if (!FitWithArterialDelay(type, t, call, point.data(), &residual)) return false;
  call.out->put(0, point[0] * 60);
  for (int i = 1; i < count; ++i) call.out->put(i, point[i]);
  call.out->put(count, residual);
  return true;
}

// --- the simplex models on a uniform grid ---

namespace {

// The curve builders of the simplex models keep their work arrays within this many grid points.
constexpr int kMaxGridPoints = 5001;
// The grid models fit at most this many variables.
constexpr int kMaxGridVariables = 8;

// The working data of one curve, handed to a grid model's cost: the delayed input and the
// measured signal on the grid, the conversion record and room for the model's curves.
struct GridFit {
  explicit GridFit(const GridModelTables& t)
      : tables(&t),
        input(t.grid.size()),
        measured(t.grid.size()),
        conc(t.grid.size()),
        signal(t.grid.size()),
        work(t.grid.size()) {}
  const GridModelTables* tables;
  std::vector<double> input;     // the delayed input function on the grid
  std::vector<double> measured;  // the measured signal on the grid
  double info[3] = {};           // the conversion record of the measured curve
  std::vector<double> conc, signal, work;
};

// The grid model's curve for x on the delayed input, its signal and the residual; leaves the
// signal in fit.signal.
double gridCost(void* context, const double* x, const double* dx) {
  GridFit& fit = *static_cast<GridFit*>(context);
  const GridModelTables& t = *fit.tables;
  const int count = int(t.bounds.size());
  double p[kMaxGridVariables];
  kit::CostPoint(x, dx, count, p);
  const int m = int(t.grid.size());
  if (!t.curve(p, fit.input.data(), t.grid.data(), m, fit.conc.data(), fit.work.data())) return VOID_VALUE;
  if (!ConcentrationToSignal(fit.conc.data(), m, fit.signal.data(), fit.info)) return VOID_VALUE;
  if (t.pointRmse) return PR_ComputeRMSE(fit.signal.data(), fit.measured.data(), m);
  return IntegralResidual(fit.signal.data(), fit.measured.data(), t.grid.data(), m, t.metric);
}

}  // namespace

bool InitGridModel(const wchar_t* function, const INPUTFUNC* ifuncs, GridCurve curve, double metric,
                   double minDelay, double maxDelay, double delayStep, GridModelTables& t) {
  if (!kit::ReadMetric(metric, function, &t.metric)) return false;
  if (minDelay > maxDelay) {
    showNamedMessage(function, L"Min Arterial delay exceeds Max Arterial delay");
    return false;
  }
  // A step that is not positive would never reach the maximum delay.
  if (minDelay < maxDelay && !(delayStep > 0)) {
    showNamedMessage(function, L"Arterial delay delta should be greater than 0");
    return false;
  }
  t.minDelay = minDelay;
  t.maxDelay = maxDelay;
  t.delayStep = delayStep;
  if (!PrepareTimesAndInput(ifuncs, t.times, t.input)) return false;
  if (!MakeUniformGrid(t.times, t.grid)) return false;
  if (int(t.grid.size()) >= kMaxGridPoints) {
    showNamedMessage(function, L"Too many timepoints");
    return false;
  }
  t.curve = curve;
  t.n = int(t.times.size());
  return true;
}

bool FitOnGrid(int type, const GridModelTables& t, const CurveCall& call, double* point, double* delay,
               double* residual) {
  if (t.n != call.n || t.n < 1 || !t.curve || t.bounds.size() > size_t(kMaxGridVariables)) return false;
  GridFit fit(t);
  const int m = int(t.grid.size());
  if (!Resample(call.curve, t.times.data(), t.n, t.grid.data(), m, fit.measured.data())) return false;
  // Only the conversion record is used: the fit compares signals.
  if (!SignalToConcentration(fit.measured.data(), m, fit.conc.data(), fit.info)) return false;
  const SingleCurveAnnouncement announcement(type);

  const Optimisation choice = optimisation(type);
  const int nVars = int(t.bounds.size());
  std::vector<double> x(nVars), bestSignal;
  double best = VOID_VALUE;
  for (double d = t.minDelay;;) {
    if (!DelayOntoGrid(t.input.data(), t.times.data(), t.n, d, t.grid.data(), m, fit.input.data())) return false;
    double cost0 = VOID_VALUE;
    if (!PR_OptimizeAmoebaOverGrid(choice.optA, nVars, t.bounds.data(), true, gridCost, &fit, choice.optB, 0.0,
                                   &cost0, x.data()))
      return false;
    const double r = gridCost(&fit, x.data(), nullptr);
    if (r < best) {
      best = r;
      std::copy(x.begin(), x.end(), point);
      *delay = d;
      bestSignal = fit.signal;
    }
    if (std::fabs(d - t.maxDelay) < 1e-100) break;
    d = std::min(t.maxDelay, d + t.delayStep);
  }
  if (!(best < VOID_VALUE)) return false;
  *residual = best;
  if (!call.fitCurve) return true;
  return Resample(bestSignal.data(), t.grid.data(), m, t.times.data(), t.n, call.fitCurve);
}

bool ComputeVolumesAndFlows(int type, const GridModelTables& t, const CurveCall& call) {
  double point[4] = {}, delay = 0, residual = VOID_VALUE;
  if (t.bounds.size() != 4 || !FitOnGrid(type, t, call, point, &delay, &residual)) return false;
  call.out->put(0, point[0]);
  call.out->put(1, point[1]);
  call.out->put(2, point[2] * 60);
  call.out->put(3, point[3] * 60);
  call.out->put(4, delay);
  call.out->put(5, residual);
  return true;
}

}  // namespace kin::perfusion
