#include "CurveUtils.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

#include "numerics/CurveStats.h"
#include "Messages.h"
#include "ModelFrame.h"

namespace kin {

bool IsValidDynamicComponent(const wchar_t* label, const double* values, int n) {
  CString problem;
  bool allEqual = true;
  for (int i = 0; i < n; ++i) {
    if (values[i] == VOID_VALUE) {
      problem = L"invalid values are present";
      break;
    }
    if (i > 0 && !(values[i] == values[0])) allEqual = false;
  }
  if (problem.IsEmpty() && allEqual) problem = L"all values are constant";
  if (problem.IsEmpty() && std::wcscmp(label, L"Time") == 0) {
    for (int i = 0; i + 1 < n; ++i)
      if (values[i] > values[i + 1]) {
        problem = L"values should be in the increasing order";
        break;
      }
  }
  if (problem.IsEmpty()) return true;
  CString text;
  text.Format(L"Dynamic component %s: ", label);
  showNamedMessage(L"IsValidDynamicComponent", text + problem);
  return false;
}

bool PrepareAndCheckTimeArr(int n, std::vector<double>& relativeTimes) {
  if (n <= 2) {
    CString text;
    text.Format(L"At least %u timepoints are required", 3u);
    showNamedMessage(L"PrepareAndCheckTimeArr", text);
    return false;
  }
  const double* time = acquisition().time;
  relativeTimes.resize(n);
  for (int i = 0; i < n; ++i) relativeTimes[i] = time[i] - time[0];
  return true;
}

bool CheckIfuncTiming(const INPUTFUNC* ifuncs, int count, int n) {
  const double* time = acquisition().time;
  for (int f = 0; f < count; ++f) {
    bool same = ifuncs[f].count == n;
    for (int i = 0; same && i < n; ++i) same = std::fabs(ifuncs[f].times[i] - time[i]) <= 1e-6;
    if (!same) {
      CString text;
      text.Format(L"Input function %u timing info differs from the voxel data", unsigned(f));
      messageBox(text, MB_OK | MB_ICONSTOP);
      return false;
    }
  }
  return true;
}

bool RangeFromStartLength(double start1, double length, int n, int* first, int* last) {
  const long long start = std::clamp(std::llround(start1), 1LL, std::max(1LL, (long long)n)) - 1;
  long long count = std::max(0LL, std::llround(length));
  if (count == 0) count = n - start;
  // A range reaching past the curve is cut at its end.
  const long long end = std::min(start + count - 1, (long long)n - 1);
  *first = int(start);
  *last = int(std::max(end, start));
  return true;
}

int NearestIndex(const double* values, int n, double x) {
  int best = 0;
  for (int i = 1; i < n; ++i)
    if (std::fabs(values[i] - x) < std::fabs(values[best] - x)) best = i;
  return best;
}

void ScatterByIndex(const int* index, const double* src, double* dst, int n) {
  for (int i = 0; i < n; ++i) dst[index[i]] = src[i];
}

void TimesToMinutes(std::vector<double>& times) {
  for (double& t : times) t /= 60.0;
}

std::vector<double> RelativeTimesFromFirstChange(const double* times, int n) {
  if (n < 1) return {};
  int c = 1;
  while (c < n && times[c] == times[0]) ++c;
  if (c == n) c = 1;
  std::vector<double> out(times + (c - 1), times + n);
  const double origin = out[0];
  for (double& t : out) t -= origin;
  return out;
}

double CurveStdDev(const double* values, int n) {
  if (n < 1) return 0;
  double mean = 0;
  for (int i = 0; i < n; ++i) mean += values[i];
  mean /= n;
  double sum = 0;
  for (int i = 0; i < n; ++i) sum += (values[i] - mean) * (values[i] - mean);
  return std::sqrt(sum / n);
}

double SumOfSquares(const double* values, bool skip, int count) {
  if (skip) return 0;
  double sum = 0;
  for (int i = 0; i < count; ++i) sum += values[i] * values[i];
  return sum;
}

double CurveRmsDiff(const double* a, const double* b, int count) {
  if (count < 1) return 0;
  double sum = 0;
  for (int i = 0; i < count; ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return std::sqrt(sum / count);
}

double IntegralAbs(const double* values, const double* times, int count) {
  double area = 0;
  if (!times) {
    for (int i = 0; i < count; ++i) area += std::fabs(values[i]);
    return area;
  }
  for (int i = 0; i + 1 < count; ++i) {
    const double y0 = values[i], y1 = values[i + 1];
    const double s = std::fabs(y0) + std::fabs(y1);
    if (s < 1e-100) continue;
    const double dt = times[i + 1] - times[i];
    // A sign change splits the interval into two triangles.
    area += y0 * y1 >= 0 ? dt * s / 2 : dt * (y0 * y0 + y1 * y1) / s;
  }
  return area;
}

double CurveDiffIntegralAbs(const double* a, const double* b, int n, int mode, const double* relativeTimes) {
  std::vector<double> d(std::max(n, 0));
  for (int i = 0; i < n; ++i) d[i] = (b ? b[i] : 0.0) - (a ? a[i] : 0.0);
  if (!a && b) std::copy_n(b, n, d.begin());
  if (a && !b) std::copy_n(a, n, d.begin());
  switch (mode) {
    case 0: return IntegralAbs(d.data(), nullptr, n);
    case 1: return IntegralAbs(d.data(), relativeTimes, n);
    case 3:
      if (relativeTimes) return 0;
      [[fallthrough]];
    default: return SumOfSquares(d.data(), false, n);
  }
}

void CumulativeTrapezoid(const double* values, const double* times, int n, double* out) {
  if (n < 1) return;
  out[0] = 0;
  for (int i = 1; i < n; ++i) out[i] = out[i - 1] + (values[i - 1] + values[i]) * (times[i] - times[i - 1]) / 2;
}

double AreaAbsTrapezoid(const double* values, const double* times, int count) {
  double sum = 0;
  for (int i = 0; i + 1 < count; ++i) sum += std::fabs((times[i + 1] - times[i]) * (values[i] + values[i + 1]));
  return sum / 2;
}

double InterpolateLinear(const double* times, int count, double x, const double* values) {
  if (count < 1) return VOID_VALUE;
  if (x <= times[0]) return values[0];
  for (int i = 1; i < count; ++i) {
    if (times[i] < x) continue;
    const double dt = times[i] - times[i - 1];
    if (dt == 0) return values[i];
    return values[i - 1] + (values[i] - values[i - 1]) * (x - times[i - 1]) / dt;
  }
  return VOID_VALUE;
}

double CurveMaxSpan(const double* values, int n, double* max) {
  if (n < 1) {
    if (max) *max = 0;
    return 0;
  }
  const auto [lo, hi] = std::minmax_element(values, values + n);
  if (max) *max = *hi;
  return *hi - *lo;
}

bool IsAboveMinimum(const double* values, int n, double x) {
  if (n < 1) return false;
  return x > *std::min_element(values, values + n);
}

void PairInterleave(const double* a, const double* b, int count, double* pairs) {
  for (int i = 0; i < count; ++i) {
    pairs[2 * i] = b[i];
    pairs[2 * i + 1] = a[i];
  }
}

double KeepLower(double a, double b, const double* src, double* dst) {
  if (a < b) {
    dst[0] = src[0];
    dst[1] = src[1];
    return a;
  }
  return b;
}

bool BlendTables(double w, const double* table1, const double* table2, int n, double* dst) {
  for (int i = 0; i < n; ++i) dst[i] = w * table1[i] + (1 - w) * table2[i];
  // A blend of zero norm stays as it is.
  PR_FuncNormalizeSumL2(dst, n);
  return true;
}

}  // namespace kin
