#include "PerfusionCommon.h"

#include <algorithm>
#include <cmath>

#include "CurveUtils.h"
#include "Messages.h"
#include "numerics/CurveTools.h"
#include "numerics/PiecewiseLinear.h"

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

GridFit::GridFit(const GridModelTables& t)
    : tables(&t),
      input(t.grid.size()),
      measured(t.grid.size()),
      conc(t.grid.size()),
      signal(t.grid.size()),
      work(t.grid.size()) {}

bool InitGridModel(const wchar_t* function, const INPUTFUNC* ifuncs, double metric, double minDelay,
                   double maxDelay, double delayStep, int maxGridPoints, GridModelTables& t) {
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
  if (int(t.grid.size()) >= maxGridPoints) {
    showNamedMessage(function, L"Too many timepoints");
    return false;
  }
  t.n = int(t.times.size());
  return true;
}

bool PrepareGridFit(const GridModelTables& t, const double* curve, GridFit& fit) {
  const int m = int(t.grid.size());
  if (!Resample(curve, t.times.data(), t.n, t.grid.data(), m, fit.measured.data())) return false;
  // Only the conversion record is used: the fit compares signals.
  return SignalToConcentration(fit.measured.data(), m, fit.conc.data(), fit.info);
}

bool DelaySearchOnGrid(int type, const GridModelTables& t, GridFit& fit, PR_AMOEBACOSTFUNC cost, double* point,
                       double* delay, double* residual, std::vector<double>& bestSignal) {
  const Optimisation choice = optimisation(type);
  const int nVars = int(t.bounds.size());
  const int m = int(t.grid.size());
  std::vector<double> x(nVars);
  double best = VOID_VALUE;
  for (double d = t.minDelay;;) {
    if (!DelayOntoGrid(t.input.data(), t.times.data(), t.n, d, t.grid.data(), m, fit.input.data())) return false;
    double cost0 = VOID_VALUE;
    if (!PR_OptimizeAmoebaOverGrid(choice.optA, nVars, t.bounds.data(), true, cost, &fit, choice.optB, 0.0, &cost0,
                                   x.data()))
      return false;
    const double r = cost(&fit, x.data(), nullptr);
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
  return true;
}

bool FitCurveFromGrid(const GridModelTables& t, const std::vector<double>& gridSignal, double* fitCurve) {
  if (!fitCurve) return true;
  return Resample(gridSignal.data(), t.grid.data(), int(t.grid.size()), t.times.data(), t.n, fitCurve);
}

}  // namespace kin::perfusion
