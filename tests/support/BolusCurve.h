#pragma once
// A contrast bolus for perfusion phantoms: 0 until its start, then a gamma-variate rise and fall
// whose peak, 1, comes one width after the start.

#include <cmath>

namespace twk::phantom {

inline double bolus(double t, double start, double width) {
  if (t <= start) return 0;
  const double s = (t - start) / width;
  return s * s * std::exp(2.0 - 2.0 * s);
}

}  // namespace twk::phantom
