#pragma once
// Interval arithmetic on INTERVAL {lo, hi} for the box costs of the interval optimisers.
//
// Every operation returns an interval that contains the exact result for every pair of points of
// its operands. Results are computed in round-to-nearest and then widened outwards: by one unit in
// the last place for + - * / and sqrt (which IEEE rounds correctly) and by four units for exp, log
// and pow (the C library keeps them within one unit). Infinite bounds are allowed; 0 * inf counts
// as 0, and a division by an interval containing 0 gives the whole line.
//
// Operators + - * / work on intervals and on interval/double mixes, so a box cost reads like the
// model: residual = y - A * IntervalExp(-r * x).

#include <cmath>
#include <limits>

#include "TwkTypes.h"

namespace twk::interval_detail {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTiny = std::numeric_limits<double>::denorm_min();

// x - |x| * 2^-52 lies at least one unit in the last place below x, so the exact result of a
// correctly rounded operation is never below it; kTiny covers results that underflowed to 0.
// Infinite bounds stay as they are.
inline double down(double x) { return std::isinf(x) ? x : x - (std::fabs(x) * 0x1p-52 + kTiny); }
inline double up(double x) { return std::isinf(x) ? x : x + (std::fabs(x) * 0x1p-52 + kTiny); }
// Four units for library functions.
inline double down4(double x) { return std::isinf(x) ? x : x - (std::fabs(x) * 0x1p-50 + kTiny); }
inline double up4(double x) { return std::isinf(x) ? x : x + (std::fabs(x) * 0x1p-50 + kTiny); }

// Product for bounds: 0 * inf is 0.
inline double mulBound(double a, double b) {
  if (a == 0 || b == 0) return 0;
  return a * b;
}

inline double min4(double a, double b, double c, double d) { return std::fmin(std::fmin(a, b), std::fmin(c, d)); }
inline double max4(double a, double b, double c, double d) { return std::fmax(std::fmax(a, b), std::fmax(c, d)); }

}  // namespace twk::interval_detail

inline INTERVAL IntervalPoint(double v) { return INTERVAL{v, v}; }
// The interval between two values in either order.
inline INTERVAL IntervalOf(double a, double b) { return a <= b ? INTERVAL{a, b} : INTERVAL{b, a}; }
inline INTERVAL IntervalWhole() { return INTERVAL{-twk::interval_detail::kInf, twk::interval_detail::kInf}; }
inline double IntervalMid(INTERVAL a) { return 0.5 * a.lo + 0.5 * a.hi; }
inline double IntervalWidth(INTERVAL a) { return a.hi - a.lo; }
inline bool IntervalContains(INTERVAL a, double v) { return a.lo <= v && v <= a.hi; }
inline INTERVAL IntervalHull(INTERVAL a, INTERVAL b) { return INTERVAL{std::fmin(a.lo, b.lo), std::fmax(a.hi, b.hi)}; }

inline INTERVAL operator+(INTERVAL a, INTERVAL b) {
  using namespace twk::interval_detail;
  return INTERVAL{down(a.lo + b.lo), up(a.hi + b.hi)};
}
inline INTERVAL operator-(INTERVAL a, INTERVAL b) {
  using namespace twk::interval_detail;
  return INTERVAL{down(a.lo - b.hi), up(a.hi - b.lo)};
}
inline INTERVAL operator-(INTERVAL a) { return INTERVAL{-a.hi, -a.lo}; }

inline INTERVAL operator*(INTERVAL a, INTERVAL b) {
  using namespace twk::interval_detail;
  const double p1 = mulBound(a.lo, b.lo), p2 = mulBound(a.lo, b.hi);
  const double p3 = mulBound(a.hi, b.lo), p4 = mulBound(a.hi, b.hi);
  return INTERVAL{down(min4(p1, p2, p3, p4)), up(max4(p1, p2, p3, p4))};
}

inline INTERVAL operator/(INTERVAL a, INTERVAL b) {
  using namespace twk::interval_detail;
  if (b.lo <= 0 && b.hi >= 0) return IntervalWhole();
  // 1/b for b of one sign, then the product.
  const INTERVAL inv{down(1.0 / b.hi), up(1.0 / b.lo)};
  return a * inv;
}

inline INTERVAL operator+(INTERVAL a, double b) { return a + IntervalPoint(b); }
inline INTERVAL operator+(double a, INTERVAL b) { return IntervalPoint(a) + b; }
inline INTERVAL operator-(INTERVAL a, double b) { return a - IntervalPoint(b); }
inline INTERVAL operator-(double a, INTERVAL b) { return IntervalPoint(a) - b; }
inline INTERVAL operator*(INTERVAL a, double b) { return a * IntervalPoint(b); }
inline INTERVAL operator*(double a, INTERVAL b) { return IntervalPoint(a) * b; }
inline INTERVAL operator/(INTERVAL a, double b) { return a / IntervalPoint(b); }
inline INTERVAL operator/(double a, INTERVAL b) { return IntervalPoint(a) / b; }

// x^2: never negative; 0 when the interval contains 0.
inline INTERVAL IntervalSquare(INTERVAL a) {
  using namespace twk::interval_detail;
  const double l2 = mulBound(a.lo, a.lo), h2 = mulBound(a.hi, a.hi);
  if (a.lo <= 0 && a.hi >= 0) return INTERVAL{0, up(std::fmax(l2, h2))};
  return INTERVAL{std::fmax(0.0, down(std::fmin(l2, h2))), up(std::fmax(l2, h2))};
}

inline INTERVAL IntervalExp(INTERVAL a) {
  using namespace twk::interval_detail;
  return INTERVAL{std::fmax(0.0, down4(std::exp(a.lo))), up4(std::exp(a.hi))};
}

// Natural logarithm; the part of the interval at or below 0 lies outside the domain and maps to
// minus infinity.
inline INTERVAL IntervalLog(INTERVAL a) {
  using namespace twk::interval_detail;
  const double lo = a.lo > 0 ? down4(std::log(a.lo)) : -kInf;
  const double hi = a.hi > 0 ? up4(std::log(a.hi)) : -kInf;
  return INTERVAL{lo, hi};
}

// Square root over the non-negative part of the interval (negative values lie outside the domain).
inline INTERVAL IntervalSquareRoot(INTERVAL a) {
  using namespace twk::interval_detail;
  const double lo = a.lo > 0 ? std::fmax(0.0, down(std::sqrt(a.lo))) : 0.0;
  const double hi = a.hi > 0 ? up(std::sqrt(a.hi)) : 0.0;
  return INTERVAL{lo, hi};
}

// Integer power: odd powers are monotone; even powers are monotone in |x| and never negative.
inline INTERVAL IntervalPowInt(INTERVAL a, int k) {
  using namespace twk::interval_detail;
  if (k == 0) return IntervalPoint(1);
  if (k < 0) return IntervalPoint(1) / IntervalPowInt(a, -k);
  if (k == 1) return a;
  if (k % 2 == 1) return INTERVAL{down4(std::pow(a.lo, k)), up4(std::pow(a.hi, k))};
  const double nearest = (a.lo <= 0 && a.hi >= 0) ? 0.0 : std::fmin(std::fabs(a.lo), std::fabs(a.hi));
  const double farthest = std::fmax(std::fabs(a.lo), std::fabs(a.hi));
  return INTERVAL{std::fmax(0.0, down4(std::pow(nearest, k))), up4(std::pow(farthest, k))};
}

// x^p for a real exponent over the non-negative part of the interval (x^p is monotone there).
inline INTERVAL IntervalPow(INTERVAL a, double p) {
  using namespace twk::interval_detail;
  const double lo = std::fmax(a.lo, 0.0), hi = std::fmax(a.hi, 0.0);
  if (p == 0) return IntervalPoint(1);
  const double vlo = std::pow(lo, p), vhi = std::pow(hi, p);
  const double l = std::fmin(vlo, vhi), h = std::fmax(vlo, vhi);
  return INTERVAL{std::fmax(0.0, down4(l)), up4(h)};
}

// x^p with an interval exponent, x > 0: exp(p * log(x)).
inline INTERVAL IntervalPow(INTERVAL a, INTERVAL p) { return IntervalExp(p * IntervalLog(a)); }

// The range of (y - model)^2 for one measured value against a model interval: 0 when the model
// interval contains y, else the squares of the nearer and the farther end.
inline INTERVAL IntervalSquaredResidual(INTERVAL model, double y) { return IntervalSquare(model - y); }
