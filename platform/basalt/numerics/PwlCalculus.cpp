#include "numerics/PwlCalculus.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "TwkMem.h"

namespace {

// Weights of a linear piece under the kernel exp(-k * (end - tau)) over an interval of length h,
// z = k * h: phi1(z) = (1 - e^-z) / z and phi2(z) = (1 - e^-z (1 + z)) / z^2 (1 and 1/2 at z = 0),
// together with the decay e^-z over the interval.
struct NegExpWeights {
  double decay, phi1, phi2;
};

// Taylor coefficients of phi2: (-1)^j (j + 1) / (j + 2)!, j = 0, 1, ...
constexpr double kPhi2Series[] = {
    1.0 / 2,
    -2.0 / 6,
    3.0 / 24,
    -4.0 / 120,
    5.0 / 720,
    -6.0 / 5040,
    7.0 / 40320,
    -8.0 / 362880,
    9.0 / 3628800,
    -10.0 / 39916800,
    11.0 / 479001600,
    -12.0 / 6227020800.0,
    13.0 / 87178291200.0,
    -14.0 / 1307674368000.0,
    15.0 / 20922789888000.0,
    -16.0 / 355687428096000.0,
    17.0 / 6402373705728000.0,
    -18.0 / 121645100408832000.0,
    19.0 / 2432902008176640000.0};

// Where |z| < 1 the closed form of phi2 cancels (it subtracts two numbers near z), so phi2 comes
// from its series, cut where the first omitted term is below 1e-17 of phi2: 7 terms up to
// |z| = 1/64, 11 up to 1/8, 15 up to 1/2, 19 up to 1. That keeps phi1 and phi2 within 2.5 ulp
// everywhere. phi1 = e^-z + z phi2 exactly, which needs no second exponential and, for z >= 0,
// adds two terms of one sign.
inline NegExpWeights negExpWeights(double z) {
  const double decay = std::exp(-z);
  const double a = std::fabs(z);
  if (a < 1) {
    const int terms = a <= 1.0 / 64 ? 7 : a <= 1.0 / 8 ? 11 : a < 0.5 ? 15 : 19;
    double phi2 = kPhi2Series[terms - 1];
    for (int j = terms - 2; j >= 0; --j) phi2 = phi2 * z + kPhi2Series[j];
    return {decay, decay + z * phi2, phi2};
  }
  // 1 - e^-z loses nothing here: e^-z is at most 1/e for z >= 1 and at least e for z <= -1.
  const double phi1 = (1.0 - decay) / z;
  return {decay, phi1, (phi1 - decay) / z};
}

// Integral over an interval of length h of a linear function going from ya to yb, weighted by
// exp(-k * (end - tau)): h * (yb * phi1 - (yb - ya) * phi2) with z = k * h.
inline double segmentNegExp(const NegExpWeights& w, double h, double ya, double yb) {
  return h * (yb * w.phi1 - (yb - ya) * w.phi2);
}

double segmentNegExp(double k, double h, double ya, double yb) {
  if (h <= 0 || (ya == 0 && yb == 0)) return 0;
  return segmentNegExp(negExpWeights(k * h), h, ya, yb);
}

// Running exponentially weighted integral with start value y0 at times[0].
void negExpRunning(double k, const double* values, const double* times, int n, double* out, double y0) {
  if (n < 1) return;
  double previous = values[0];
  double running = y0;
  out[0] = running;
  // Uniform steps share their weights: they are computed again only when the step changes.
  double lastStep = -1;
  NegExpWeights w{};
  for (int i = 1; i < n; ++i) {
    const double current = values[i];
    const double h = times[i] - times[i - 1];
    if (h > 0) {
      if (h != lastStep) {
        w = negExpWeights(k * h);
        lastStep = h;
      }
      const double segment = (previous == 0 && current == 0) ? 0.0 : segmentNegExp(w, h, previous, current);
      running = (running == 0 ? 0.0 : w.decay * running) + segment;
    }
    out[i] = running;
    previous = current;
  }
}

// The same integral of the positive part (sign +1) or of the negative part (sign -1, as a positive
// function) of the curve: zero crossings split an interval so that each part stays linear.
void negExpRunningPart(double k, const double* values, const double* times, int n, int sign, double* out) {
  double running = 0;
  out[0] = 0;
  double lastStep = -1;
  NegExpWeights w{};
  for (int i = 1; i < n; ++i) {
    const double y0 = sign * values[i - 1], y1 = sign * values[i];
    const double h = times[i] - times[i - 1];
    if (h > 0) {
      if (h != lastStep) {
        w = negExpWeights(k * h);
        lastStep = h;
      }
      double segment = 0;
      if (y0 >= 0 && y1 >= 0) {
        segment = (y0 == 0 && y1 == 0) ? 0.0 : segmentNegExp(w, h, y0, y1);
      } else if (y0 > 0 && y1 < 0) {
        const double hc = h * y0 / (y0 - y1);  // the crossing, from the interval start
        segment = std::exp(-k * (h - hc)) * segmentNegExp(k, hc, y0, 0);
      } else if (y0 < 0 && y1 > 0) {
        const double hc = h * y0 / (y0 - y1);
        segment = segmentNegExp(k, h - hc, 0, y1);
      }
      running = (running == 0 ? 0.0 : w.decay * running) + segment;
    }
    out[i] = running;
  }
}

// Linear piece of a point list: value at tau of the segment from point i to point i + 1.
inline double pieceValue(const double* p, int i, double tau) {
  const double t0 = p[2 * i], t1 = p[2 * i + 2];
  const double v0 = p[2 * i + 1], v1 = p[2 * i + 3];
  return v0 + (v1 - v0) * (tau - t0) / (t1 - t0);
}

}  // namespace

double PR_CalculateIntegral(const double* values, const double* times, int n) {
  if (!values || !times || n < 2) return 0;
  double sum = 0;
  for (int i = 1; i < n; ++i) sum += 0.5 * (values[i - 1] + values[i]) * (times[i] - times[i - 1]);
  return sum;
}

void PR_CalculateIntegral(const double* values, const double* times, int n, double* out) {
  if (!values || !times || !out || n < 1) return;
  double previous = values[0];
  out[0] = 0;
  for (int i = 1; i < n; ++i) {
    const double current = values[i];
    out[i] = out[i - 1] + 0.5 * (previous + current) * (times[i] - times[i - 1]);
    previous = current;
  }
}

double PR_IntegratePWL(const double* points, int count) {
  if (!points || count < 2) return 0;
  double sum = 0;
  for (int i = 1; i < count; ++i)
    sum += 0.5 * (points[2 * i - 1] + points[2 * i + 1]) * (points[2 * i] - points[2 * i - 2]);
  return sum;
}

double PR_IntegrateDiffL2_PWL(const double* a, const double* b, const double* times, int n) {
  if (!a || !b || !times || n < 2) return 0;
  double sum = 0;
  double d0 = a[0] - b[0];
  for (int i = 1; i < n; ++i) {
    const double d1 = a[i] - b[i];
    sum += (times[i] - times[i - 1]) * (d0 * d0 + d0 * d1 + d1 * d1) / 3.0;
    d0 = d1;
  }
  return sum;
}

double PR_IntegrateDiffL1_PWL(const double* a, const double* b, const double* times, int n) {
  if (!a || !b || !times || n < 2) return 0;
  double sum = 0;
  double d0 = a[0] - b[0];
  for (int i = 1; i < n; ++i) {
    const double d1 = a[i] - b[i];
    const double h = times[i] - times[i - 1];
    const double s = std::fabs(d0) + std::fabs(d1);
    if (s > 0) {
      if (d0 * d1 >= 0)
        sum += h * s / 2.0;
      else
        sum += h * (d0 * d0 + d1 * d1) / (2.0 * s);  // two triangles meeting at the crossing
    }
    d0 = d1;
  }
  return sum;
}

void PR_IntegralFunc_PWL_NegExp(double k, const double* values, const double* times, int n, double* out) {
  if (!values || !times || !out) return;
  negExpRunning(k, values, times, n, out, 0.0);
}

bool PR_IntegralFuncUniX_PWL_NegExp(INTERVAL k, const double* values, const double* times, int n, INTERVAL* out) {
  if (!values || !times || !out || n < 1) return false;
  const double kLo = std::fmin(k.lo, k.hi), kHi = std::fmax(k.lo, k.hi);
  // The kernel exp(-k s), s >= 0, falls as k grows, so the integral of the positive part is largest
  // at kLo and smallest at kHi, and the negative part the other way round.
  // Scratch reused by the thread (interval searches call this for every box), and a curve that is
  // never negative has no negative part to integrate.
  thread_local std::vector<double> scratch;
  scratch.resize(4 * size_t(n));
  double* posAtLo = scratch.data();
  double* posAtHi = posAtLo + n;
  double* negAtLo = posAtHi + n;
  double* negAtHi = negAtLo + n;
  negExpRunningPart(kLo, values, times, n, +1, posAtLo);
  negExpRunningPart(kHi, values, times, n, +1, posAtHi);
  if (std::any_of(values, values + n, [](double v) { return v < 0; })) {
    negExpRunningPart(kLo, values, times, n, -1, negAtLo);
    negExpRunningPart(kHi, values, times, n, -1, negAtHi);
  } else {
    std::fill(negAtLo, negAtLo + 2 * size_t(n), 0.0);
  }
  // Each part is a sum of non-negative terms; a relative margin covers its rounding.
  const double margin = 1e-14 + 4e-16 * n;
  for (int i = 0; i < n; ++i) {
    const double lo = posAtHi[i] * (1 - margin) - negAtLo[i] * (1 + margin);
    const double hi = posAtLo[i] * (1 + margin) - negAtHi[i] * (1 - margin);
    out[i] = INTERVAL{std::isnan(lo) ? -HUGE_VAL : lo, std::isnan(hi) ? HUGE_VAL : hi};
  }
  return true;
}

void PR_SolveLinearFirstOrderDE_PWL(double rate, const double* input, const double* times, int n, double* out,
                                    double y0) {
  if (!input || !times || !out) return;
  negExpRunning(rate, input, times, n, out, y0);
}

bool PR_ConvolutePWL(const double* f, int countF, const double* g, int countG, const double* times, int nTimes,
                     double* out) {
  if (!f || !g || !times || !out || countF < 1 || countG < 1 || nTimes < 0) return false;
  const double fFirst = f[0], fLast = f[2 * (countF - 1)];
  const double gFirst = g[0], gLast = g[2 * (countG - 1)];
  for (int s = 0; s < nTimes; ++s) {
    const double t = times[s];
    out[s] = 0;
    if (countF < 2 || countG < 2) continue;
    // tau runs where both f(tau) and g(t - tau) are defined.
    const double lo = std::max(fFirst, t - gLast), hi = std::min(fLast, t - gFirst);
    if (!(hi > lo)) continue;
    // f piece holding (lo, ...): the last piece of positive length starting at or before lo.
    int fi = 0;
    while (fi + 1 < countF - 1 && f[2 * (fi + 1)] <= lo) ++fi;
    while (fi + 1 < countF - 1 && f[2 * fi + 2] <= f[2 * fi]) ++fi;
    // g piece holding (..., t - lo] in s = t - tau, which falls as tau grows.
    const double sStart = t - lo;
    int gj = countG - 2;
    while (gj > 0 && g[2 * gj] >= sStart) --gj;
    while (gj > 0 && g[2 * gj + 2] <= g[2 * gj]) --gj;
    double sum = 0;
    double tau0 = lo;
    for (int guard = 0; guard < 2 * (countF + countG) + 4 && tau0 < hi; ++guard) {
      const double fEnd = f[2 * fi + 2];
      const double gEnd = t - g[2 * gj];  // tau where s reaches the lower end of the g piece
      double tau1 = std::min(hi, std::min(fEnd, gEnd));
      if (tau1 > tau0) {
        const double h = tau1 - tau0, mid = 0.5 * (tau0 + tau1);
        const bool fFlat = f[2 * fi + 2] <= f[2 * fi], gFlat = g[2 * gj + 2] <= g[2 * gj];
        if (!fFlat && !gFlat) {
          const double p0 = pieceValue(f, fi, tau0) * pieceValue(g, gj, t - tau0);
          const double pm = pieceValue(f, fi, mid) * pieceValue(g, gj, t - mid);
          const double p1 = pieceValue(f, fi, tau1) * pieceValue(g, gj, t - tau1);
          sum += h / 6.0 * (p0 + 4.0 * pm + p1);  // Simpson: exact for the quadratic product
        }
      }
      tau0 = tau1;
      if (tau0 >= hi) break;
      if (fEnd <= tau0 && fi + 1 < countF - 1) {
        ++fi;
        while (fi + 1 < countF - 1 && f[2 * fi + 2] <= f[2 * fi]) ++fi;
      }
      if (gEnd <= tau0 && gj > 0) {
        --gj;
        while (gj > 0 && g[2 * gj + 2] <= g[2 * gj]) --gj;
      }
    }
    out[s] = sum;
  }
  return true;
}

double* PR_InterpolateAnalyticFunctionD3_PWL(PR_ANALYTICFUNC f, void* context, const double* breakpoints,
                                             int nBreakpoints, double tolerance, double minStep, int* count) {
  if (count) *count = 0;
  if (!f || !breakpoints || !count || nBreakpoints < 2) return nullptr;
  const double first = breakpoints[0], last = breakpoints[nBreakpoints - 1];
  if (!std::isfinite(first) || !std::isfinite(last) || last < first) return nullptr;
  for (int i = 1; i < nBreakpoints; ++i)
    if (!(breakpoints[i] >= breakpoints[i - 1])) return nullptr;
  const double span = last - first;
  if (!(minStep > 0)) minStep = span > 0 ? span * 1e-6 : 1.0;
  if (span / minStep + nBreakpoints > 1e7) return nullptr;

  auto stepFor = [&](double curvature) {
    curvature = std::fabs(curvature);
    if (!std::isfinite(curvature)) return minStep;
    if (!(tolerance > 0)) return minStep;
    if (curvature == 0) return HUGE_VAL;
    return std::max(minStep, std::sqrt(8.0 * tolerance / curvature));
  };

  std::vector<double> points;
  double d2 = 0;
  points.push_back(first);
  points.push_back(f(context, first, &d2));
  for (int b = 1; b < nBreakpoints; ++b) {
    const double p = breakpoints[b - 1], q = breakpoints[b];
    if (!(q > p)) continue;
    double t = p;
    // The curvature is sampled inside the piece (a breakpoint may be a kink), at both ends of the
    // trial step and in its middle; the step shrinks until it suits the largest of them.
    auto curvatureAt = [&](double u) {
      double c = 0;
      f(context, u, &c);
      return std::fabs(c);
    };
    const double inside = (q - p) * 1e-9;
    while (t < q) {
      double largest = curvatureAt(t == p ? p + inside : t);
      double h = std::min(stepFor(largest), q - t);
      for (int refine = 0; refine < 4; ++refine) {
        const double c = std::max(curvatureAt(t + 0.5 * h), curvatureAt(t + h == q ? q - inside : t + h));
        if (!(c > largest)) break;
        largest = c;
        h = std::min(stepFor(largest), q - t);
      }
      double next = t + h;
      if (q - next < 0.5 * minStep) next = q;  // no sliver before the breakpoint
      points.push_back(next);
      points.push_back(f(context, next, &d2));
      t = next;
    }
  }
  const int n = int(points.size() / 2);
  auto* result = static_cast<double*>(pf_malloc(int64_t(points.size()) * int64_t(sizeof(double))));
  if (!result) return nullptr;
  std::copy(points.begin(), points.end(), result);
  *count = n;
  return result;
}
