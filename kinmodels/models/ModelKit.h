#pragma once
// Small tools that every model family shares: ownership of the arrays the imaging core returns,
// peak search, parameter rounding, the residual metric choice and its time-integral distance, and
// the progress of a single region curve. Nothing here keeps state.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "Messages.h"
#include "ModelFrame.h"
#include "TwkMem.h"
#include "numerics/PwlCalculus.h"

namespace kin::kit {

// The point a cost callback evaluates: the optimiser's x, moved by dx when it gives an offset.
inline void CostPoint(const double* x, const double* dx, int n, double* p) {
  for (int i = 0; i < n; ++i) p[i] = x[i] + (dx ? dx[i] : 0.0);
}

// Owns an array of doubles that the imaging core returned (pf_malloc) and frees it with pf_free.
class CoreArray {
 public:
  CoreArray() = default;
  explicit CoreArray(double* values) : values_(values) {}
  CoreArray(const CoreArray&) = delete;
  CoreArray& operator=(const CoreArray&) = delete;
  CoreArray(CoreArray&& other) noexcept : values_(std::exchange(other.values_, nullptr)) {}
  CoreArray& operator=(CoreArray&& other) noexcept {
    if (this != &other) {
      pf_free(&values_);
      values_ = std::exchange(other.values_, nullptr);
    }
    return *this;
  }
  ~CoreArray() { pf_free(&values_); }

  double* get() const { return values_; }
  explicit operator bool() const { return values_ != nullptr; }
  double& operator[](size_t i) const { return values_[i]; }
  // The first n values as a vector (empty when there is no array).
  std::vector<double> copy(int n) const {
    if (!values_ || n <= 0) return {};
    return std::vector<double>(values_, values_ + n);
  }

 private:
  double* values_ = nullptr;
};

// Copies an array that the imaging core returned (pf_malloc) into a vector and frees it. False when
// the core returned null.
inline bool Take(double* array, int n, std::vector<double>& out) {
  const CoreArray owned(array);
  if (!owned) return false;
  out = owned.copy(n);
  return true;
}

// Index of the first largest value (a later equal value does not replace it); 0 for n < 1.
inline int FirstMaxIndex(const double* values, int n) {
  int best = 0;
  for (int i = 1; i < n; ++i)
    if (values[i] > values[best]) best = i;
  return best;
}

// A parameter rounded to the nearest integer, half away from zero, as the flags and choices are
// read; values beyond the int range (and NaN) become a value no check accepts.
inline long long Rounded(double value) {
  if (!(std::fabs(value) < 1e15)) return -999999;
  return std::llround(value);
}

// The residual metric of a parameter: 1 (L1) or 2 (L2); anything else shows "Specify L1 or L2
// metric only" under the function's name.
inline bool ReadMetric(double parameter, const wchar_t* function, int* metric) {
  const long long m = Rounded(parameter);
  if (m != 1 && m != 2) {
    showNamedMessage(function, L"Specify L1 or L2 metric only");
    return false;
  }
  *metric = int(m);
  return true;
}

// Distance of two piecewise-linear curves over their n times by a residual metric: 1, the integral
// of |a - b|; 2, the root of the integral of (a - b)^2.
inline double IntegralDistance(int metric, const double* a, const double* b, const double* times, int n) {
  return metric == 1 ? PR_IntegrateDiffL1_PWL(a, b, times, n) : std::sqrt(PR_IntegrateDiffL2_PWL(a, b, times, n));
}
// The same as an optimiser's cost: 1e60 where it is not finite.
inline double IntegralDistanceCost(int metric, const double* a, const double* b, const double* times, int n) {
  const double distance = IntegralDistance(metric, a, b, times, n);
  return std::isfinite(distance) ? distance : VOID_VALUE;
}

// Progress is shown only while a single region curve is computed.
inline bool ShowsProgress() { return acquisition().calcMode == kCalcModeSingleCurve; }
inline void ReportStep(int64_t i, int64_t count) { PR_SendMessageInterval(1, 98, i, count, ShowsProgress()); }

// Index of the first time at or after t, or n when none is.
inline int FirstIndexAtOrAfter(const double* times, int n, double t) {
  for (int i = 0; i < n; ++i)
    if (times[i] >= t) return i;
  return n;
}

}  // namespace kin::kit
