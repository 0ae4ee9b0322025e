#include "numerics/CurveStats.h"

#include <cmath>

#include "TwkTypes.h"

namespace {

double mean(const double* v, int n) {
  double sum = 0;
  for (int i = 0; i < n; ++i) sum += v[i];
  return sum / n;
}

double sumSquaredDeviation(const double* v, int n) {
  const double m = mean(v, n);
  double sum = 0;
  for (int i = 0; i < n; ++i) sum += (v[i] - m) * (v[i] - m);
  return sum;
}

}  // namespace

double PR_ComputeRMSE(const double* a, const double* b, int n) {
  if (!a || !b || n < 1) return 0;
  double sum = 0;
  for (int i = 0; i < n; ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return std::sqrt(sum / n);
}

double PR_FuncDistL1(const double* a, const double* b, int n) {
  if (!a || !b || n < 1) return 0;
  double sum = 0;
  for (int i = 0; i < n; ++i) sum += std::fabs(a[i] - b[i]);
  return sum;
}

double PR_Correlation(const double* a, const double* b, int n) {
  if (!a || !b || n < 2) return 0;
  const double ma = mean(a, n), mb = mean(b, n);
  double sab = 0, saa = 0, sbb = 0;
  for (int i = 0; i < n; ++i) {
    const double da = a[i] - ma, db = b[i] - mb;
    sab += da * db;
    saa += da * da;
    sbb += db * db;
  }
  if (!(saa > 0) || !(sbb > 0)) return 0;
  const double r = sab / std::sqrt(saa * sbb);
  return std::fmax(-1.0, std::fmin(1.0, r));
}

double PR_RRSE(const double* measured, const double* fit, int n) {
  if (!measured || !fit || n < 1) return 0;
  double residual = 0;
  for (int i = 0; i < n; ++i) residual += (fit[i] - measured[i]) * (fit[i] - measured[i]);
  const double spread = sumSquaredDeviation(measured, n);
  if (!(spread > 0)) return residual == 0 ? 0.0 : VOID_VALUE;
  return std::sqrt(residual / spread);
}

double PR_CODtoRMSE(double cod, const double* curve, int n) {
  if (!curve || n < 1) return 0;
  const double unexplained = std::fmax(0.0, 1.0 - cod);
  return std::sqrt(unexplained * sumSquaredDeviation(curve, n) / n);
}

double PR_FlatlineRMSE(const double* curve, int n) {
  if (!curve || n < 1) return 0;
  return std::sqrt(sumSquaredDeviation(curve, n) / n);
}

double PR_ArrStats(const double* values, int64_t n, double* stdDev) {
  if (stdDev) *stdDev = 0;
  if (!values || n < 1) return 0;
  double sum = 0;
  for (int64_t i = 0; i < n; ++i) sum += values[i];
  const double m = sum / double(n);
  if (stdDev && n > 1) {
    double squares = 0;
    for (int64_t i = 0; i < n; ++i) squares += (values[i] - m) * (values[i] - m);
    *stdDev = std::sqrt(squares / double(n - 1));
  }
  return m;
}

bool PR_IsConstantArray(const double* values, int n) {
  if (!values) return false;
  for (int i = 1; i < n; ++i)
    if (!(values[i] == values[0])) return false;
  return true;
}

bool PR_FuncNormalizeSumL2(double* values, int n) {
  if (!values || n < 1) return false;
  double squares = 0;
  for (int i = 0; i < n; ++i) squares += values[i] * values[i];
  if (!(squares >= 1e-200) || !std::isfinite(squares)) return false;
  const double scale = 1.0 / std::sqrt(squares);
  for (int i = 0; i < n; ++i) values[i] *= scale;
  return true;
}

bool PR_GetBolusStart(const double* curve, const double* times, int n, double fraction, int* start,
                      int* firstPassEnd) {
  if (!curve || !start || n < 3 || !(fraction > 0 && fraction < 1)) return false;
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(curve[i]) || curve[i] >= VOID_VALUE) return false;
  if (times)
    for (int i = 0; i < n; ++i)
      if (!std::isfinite(times[i])) return false;
  int peak = 0;
  for (int i = 1; i < n; ++i)
    if (curve[i] > curve[peak]) peak = i;
  if (peak == 0) return false;
  double baseline = curve[0];
  for (int i = 1; i < peak; ++i) baseline = std::fmin(baseline, curve[i]);
  const double rise = curve[peak] - baseline;
  if (!(rise > 0)) return false;
  const double threshold = baseline + fraction * rise;
  int s = peak - 1;
  while (s > 0 && curve[s] > threshold) --s;
  if (curve[s] > threshold) return false;  // the curve starts above the threshold: no arrival seen
  *start = s;
  if (firstPassEnd) {
    const double half = baseline + 0.5 * rise;
    int end = peak;
    for (int i = s; i < n - 1; ++i) {
      if (curve[i] > half && curve[i + 1] < curve[i]) {
        end = i;
        break;
      }
    }
    *firstPassEnd = end;
  }
  return true;
}
