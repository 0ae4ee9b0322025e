#pragma once
// Small tools shared by the PET, curve-shape, curve-measure and dual-input models: ownership of the
// arrays the imaging core returns, peak search, parameter rounding, the residual metric choice and
// the progress of a single region curve. Nothing here keeps state.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "Messages.h"
#include "ModelFrame.h"
#include "TwkMem.h"

namespace kin::kit {

// Copies an array that the imaging core returned (pf_malloc) into a vector and frees it. False when
// the core returned null.
inline bool Take(double* array, int n, std::vector<double>& out) {
  if (!array) return false;
  out.assign(array, array + std::max(n, 0));
  pf_free(&array);
  return true;
}

// Index of the first largest value (a later equal value does not replace it); 0 for n < 1.
inline int FirstMaxIndex(const double* values, int n) {
  int best = 0;
  for (int i = 1; i < n; ++i)
    if (values[i] > values[best]) best = i;
  return best;
}

// A parameter rounded to the nearest integer, half away from zero; values beyond the int range
// become a value no check accepts.
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
