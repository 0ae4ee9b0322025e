#include "numerics/CurveTools.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "DynExp.h"
#include "TwkMem.h"
#include "TwkTypes.h"
#include "numerics/PwlCalculus.h"

namespace {

constexpr int kMaxUniformPoints = 20000;

double* newArray(int n) {
  if (n < 1) return nullptr;
  return static_cast<double*>(pf_malloc(int64_t(n) * int64_t(sizeof(double))));
}

// The curve at x: linear between its points, its end values outside them.
double interpolate(const double* values, const double* times, int n, double x) {
  if (n == 1 || !(x > times[0])) return values[0];
  if (x >= times[n - 1]) return values[n - 1];
  const int j = int(std::upper_bound(times, times + n, x) - times);  // times[j - 1] <= x < times[j]
  const int i = j - 1;
  const double h = times[j] - times[i];
  if (!(h > 0)) return values[j];
  return values[i] + (values[j] - values[i]) * ((x - times[i]) / h);
}

bool isUsable(double v) { return std::isfinite(v) && std::fabs(v) < VOID_VALUE; }

}  // namespace

double* PR_MakeRelativeArr(const double* times, int n) {
  if (!times || n < 1) return nullptr;
  double* out = newArray(n);
  if (!out) return nullptr;
  const double first = times[0];
  for (int i = 0; i < n; ++i) out[i] = times[i] - first;
  return out;
}

double* PR_MakeUniformSamplingArray(const double* times, int n, int* m) {
  if (m) *m = 0;
  if (!times || !m || n < 1) return nullptr;
  const double first = times[0], span = times[n - 1] - times[0];
  if (!std::isfinite(first) || !std::isfinite(span) || span < 0) return nullptr;
  double step = HUGE_VAL;
  for (int i = 1; i < n; ++i) {
    const double d = times[i] - times[i - 1];
    if (d > 0) step = std::fmin(step, d);
  }
  int count = 1;
  if (span > 0 && std::isfinite(step)) {
    const double cells = std::ceil(span / step - 1e-9);
    if (cells + 1 > kMaxUniformPoints) {
      count = kMaxUniformPoints;
      step = span / (kMaxUniformPoints - 1);
    } else {
      count = int(cells) + 1;
    }
  }
  double* grid = newArray(count);
  if (!grid) return nullptr;
  for (int i = 0; i < count; ++i) grid[i] = first + i * (count > 1 ? step : 0.0);
  *m = count;
  return grid;
}

double* PR_ResampleFunction(const double* values, const double* times, int n, const double* newTimes, int m,
                            bool validate) {
  if (!values || !times || !newTimes || n < 1 || m < 1) return nullptr;
  if (validate) {
    for (int i = 0; i < n; ++i)
      if (!isUsable(values[i]) || !isUsable(times[i]) || (i > 0 && times[i] < times[i - 1])) return nullptr;
    for (int i = 0; i < m; ++i)
      if (!std::isfinite(newTimes[i])) return nullptr;
  }
  double* out = newArray(m);
  if (!out) return nullptr;
  for (int i = 0; i < m; ++i) out[i] = interpolate(values, times, n, newTimes[i]);
  return out;
}

double* PR_PrepareInputFunc(const INPUTFUNC* input, const double* times, int n) {
  if (!input || !times || n < 1) return nullptr;
  const int count = input->count;
  if (count < 1 || count > INPUTFUNC_MAX_POINTS) return nullptr;
  // Interpolation needs ascending times; a record out of order would be sampled wrongly.
  for (int i = 0; i < count; ++i)
    if (!std::isfinite(input->times[i]) || (i > 0 && input->times[i] < input->times[i - 1])) return nullptr;
  double* out = newArray(n);
  if (!out) return nullptr;
  for (int i = 0; i < n; ++i) out[i] = interpolate(input->values, input->times, count, times[i]);
  return out;
}

double* PR_DelayThisFunction(const double* values, const double* times, int n, double delay) {
  if (!values || !times || n < 1 || !std::isfinite(delay)) return nullptr;
  double* out = newArray(n);
  if (!out) return nullptr;
  for (int i = 0; i < n; ++i) out[i] = interpolate(values, times, n, times[i] - delay);
  return out;
}

void PR_GetDelayedTimes(const double* times, int n, double delay, double* out) {
  if (!times || !out) return;
  for (int i = 0; i < n; ++i) out[i] = times[i] + delay;
}

bool PR_SortByDynamicComponent(const double* values, const double* axis, double* sortedValues, double* sortedAxis,
                               int n) {
  if (!values || !axis || !sortedValues || !sortedAxis || n < 0) return false;
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return axis[a] < axis[b]; });
  std::vector<double> v(n), a(n);
  for (int i = 0; i < n; ++i) {
    v[i] = values[order[i]];
    a[i] = axis[order[i]];
  }
  std::copy(v.begin(), v.end(), sortedValues);
  std::copy(a.begin(), a.end(), sortedAxis);
  return true;
}

bool PR_AverageOfCurves(const double* const* curves, int nCurves, int n, double* out) {
  if (!curves || !out || nCurves < 1 || n < 0) return false;
  for (int c = 0; c < nCurves; ++c)
    if (!curves[c]) return false;
  for (int i = 0; i < n; ++i) {
    double sum = 0;
    int count = 0;
    for (int c = 0; c < nCurves; ++c) {
      const double v = curves[c][i];
      if (isUsable(v)) {
        sum += v;
        ++count;
      }
    }
    out[i] = count ? sum / count : VOID_VALUE;
  }
  return true;
}

int PR_ExtractDiffentVals(const double* values, int n, double* distinct) {
  if (!values || n < 1) return 0;
  std::vector<double> found;
  for (int i = 0; i < n; ++i) {
    bool seen = false;
    for (double f : found)
      if (f == values[i]) {
        seen = true;
        break;
      }
    if (!seen) found.push_back(values[i]);
  }
  if (distinct) std::copy(found.begin(), found.end(), distinct);
  return int(found.size());
}

double* PR_MakeModel_Ktrans2P(const double* input, const double* times, int n, double ktrans, double ve,
                              double delay) {
  if (!input || !times || n < 1 || !(std::fabs(ve) >= 1e-100)) return nullptr;
  double* out = PR_DelayThisFunction(input, times, n, delay);
  if (!out) return nullptr;
  PR_IntegralFunc_PWL_NegExp(ktrans / ve, out, times, n, out);
  for (int i = 0; i < n; ++i) out[i] *= ktrans;
  return out;
}

double* PR_StretchFit(const double* curve, const double* times, const double* input, int n, double* amplitude,
                      double* stretch) {
  if (!curve || !times || !input || n < 1) return nullptr;
  std::vector<double> g(n);
  // Residual of the best amplitude for a stretch s; fills g with input(t / s).
  auto fit = [&](double s, double* bestAmplitude) {
    double gy = 0, gg = 0;
    for (int i = 0; i < n; ++i) {
      g[i] = interpolate(input, times, n, times[i] / s);
      gy += g[i] * curve[i];
      gg += g[i] * g[i];
    }
    const double a = gg > 0 ? std::fmax(0.0, gy / gg) : 0.0;
    double ss = 0;
    for (int i = 0; i < n; ++i) ss += (curve[i] - a * g[i]) * (curve[i] - a * g[i]);
    if (bestAmplitude) *bestAmplitude = a;
    return std::isnan(ss) ? HUGE_VAL : ss;
  };
  // Stretch on a logarithmic grid over [1/4, 4], then golden-section search around the best node.
  constexpr int kNodes = 49;
  const double logLo = std::log(0.25), logHi = std::log(4.0), dl = (logHi - logLo) / (kNodes - 1);
  int best = 0;
  double bestCost = HUGE_VAL;
  for (int k = 0; k < kNodes; ++k) {
    const double c = fit(std::exp(logLo + k * dl), nullptr);
    if (c < bestCost) {
      bestCost = c;
      best = k;
    }
  }
  double lo = logLo + std::max(0, best - 1) * dl, hi = logLo + std::min(kNodes - 1, best + 1) * dl;
  double bestLog = logLo + best * dl;
  const double ratio = 0.5 * (std::sqrt(5.0) - 1.0);
  double x1 = hi - ratio * (hi - lo), x2 = lo + ratio * (hi - lo);
  double f1 = fit(std::exp(x1), nullptr), f2 = fit(std::exp(x2), nullptr);
  for (int it = 0; it < 40; ++it) {
    if (f1 <= f2) {
      hi = x2;
      x2 = x1;
      f2 = f1;
      x1 = hi - ratio * (hi - lo);
      f1 = fit(std::exp(x1), nullptr);
    } else {
      lo = x1;
      x1 = x2;
      f1 = f2;
      x2 = lo + ratio * (hi - lo);
      f2 = fit(std::exp(x2), nullptr);
    }
  }
  const double refined = f1 <= f2 ? x1 : x2;
  if (std::fmin(f1, f2) < bestCost) bestLog = refined;
  const double s = std::exp(bestLog);
  double a = 0;
  fit(s, &a);
  double* out = newArray(n);
  if (!out) return nullptr;
  for (int i = 0; i < n; ++i) out[i] = a * g[i];
  if (amplitude) *amplitude = a;
  if (stretch) *stretch = s;
  return out;
}
