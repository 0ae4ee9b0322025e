#pragma once
// Pieces shared by the MR signal models (diffusion, relaxometry and flip-angle series): interval
// enclosures of their signal equations for the box costs of the interval optimisers, the sum of
// squared residuals over a box, sorting a curve along its dynamic axis and the extrapolation of a
// fitted diffusion curve to wanted b-values.
//
// Everything here is reentrant: computes call it from many threads at once.

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "CurveUtils.h"
#include "Fitting.h"
#include "Messages.h"
#include "ModelTable.h"
#include "numerics/CurveTools.h"
#include "numerics/IntervalArith.h"
#include "numerics/Optimize.h"

namespace kin::mr {

// Widens an enclosure computed from exact end-point formulas by a few units in the last place, so
// that the rounding of those formulas can never put the true range outside it.
inline INTERVAL widen(INTERVAL a) {
  const double margin = 0x1p-48;
  return INTERVAL{a.lo - (std::fabs(a.lo) * margin + 1e-300), a.hi + (std::fabs(a.hi) * margin + 1e-300)};
}

// Sum of squared residuals over a box: per point, the range of (model - y)^2 for the model's
// interval, and the squared residual at the box centre.
struct ResidualSum {
  double lower = 0;   // never above the sum anywhere in the box
  double upper = 0;   // never below it
  double centre = 0;  // at the box centre

  void add(INTERVAL model, double modelAtCentre, double y) {
    const INTERVAL sq = IntervalSquaredResidual(model, y);
    lower += sq.lo;
    upper += sq.hi;
    const double d = modelAtCentre - y;
    centre += d * d;
  }
  // Writes the optimiser's outputs, each divided by `divisor` (1 for a sum, n for a mean).
  void report(double divisor, double* lowerBound, double* centreCost, double* upperBound) const {
    *lowerBound = lower / divisor;
    *centreCost = std::isfinite(centre) ? centre / divisor : VOID_VALUE;
    if (upperBound) *upperBound = upper / divisor;
  }
};

// Spoiled gradient-echo factor (1 - E) sin(theta) / (1 - E cos(theta)) over an interval of E in [0, 1]
// and of the angle in [0, pi]. It decreases in E for every angle and, for a fixed E, rises up to the
// Ernst angle acos(E) and falls after it: the range is taken at those points exactly.
inline double spoiledFactor(double e, double theta) {
  const double d = 1 - e * std::cos(theta);
  return d == 0 ? 0.0 : (1 - e) * std::sin(theta) / d;
}
inline INTERVAL spoiledFactor(INTERVAL e, INTERVAL theta) {
  e.lo = std::clamp(e.lo, 0.0, 1.0);
  e.hi = std::clamp(e.hi, 0.0, 1.0);
  // A single angle outside [0, pi]: still monotone in E, with the sign of its sine.
  if (theta.lo == theta.hi && (theta.lo < 0 || theta.lo > std::numbers::pi))
    return widen(IntervalOf(spoiledFactor(e.lo, theta.lo), spoiledFactor(e.hi, theta.lo)));
  const double lo = std::min(spoiledFactor(e.hi, theta.lo), spoiledFactor(e.hi, theta.hi));
  const double peak = std::clamp(std::acos(e.lo), theta.lo, theta.hi);
  const double hi = spoiledFactor(e.lo, peak);
  return widen(INTERVAL{std::max(0.0, lo), hi});
}
// The true angle b * alpha kept within [0, pi].
inline double clampAngle(double angle) { return std::clamp(angle, 0.0, std::numbers::pi); }
inline INTERVAL angleRange(INTERVAL bias, double alpha) {
  return IntervalOf(clampAngle(bias.lo * alpha), clampAngle(bias.hi * alpha));
}

// The curve and its axis sorted by the axis, ascending.
struct SortedCurve {
  std::vector<double> signal, axis;
};
inline bool sortByAxis(const double* curve, const double* axis, int n, SortedCurve* sorted) {
  sorted->signal.resize(n);
  sorted->axis.resize(n);
  return PR_SortByDynamicComponent(curve, axis, sorted->signal.data(), sorted->axis.data(), n);
}

// Index of the first value exactly equal to v, or -1.
inline int findExact(const double* values, int n, double v) {
  for (int i = 0; i < n; ++i)
    if (values[i] == v) return i;
  return -1;
}

// Fitted diffusion models on wanted b-values: when the host gives more wanted b-values than points,
// acquired b-values keep their measured signal and only the others take the model's value.
template <class Model>
void writeWantedValues(const CurveCall& call, const double* bValues, const Model& model) {
  for (int j = 0; j < call.numExtra; ++j) {
    const double w = call.extra[j];
    const int k = call.n >= call.numExtra ? -1 : findExact(bValues, call.n, w);
    call.fitCurve[j] = k >= 0 ? call.curve[k] : model(w);
  }
}
// Writes a fitted diffusion model out: onto the wanted b-values when extrapolating (the call then
// reports nothing else), otherwise onto the acquired b-values into the host's fitted curve when it
// asks for one. True when it extrapolated.
template <class Model>
bool writeDiffusionModel(const CurveCall& call, const double* bValues, bool extrapolate, const Model& model) {
  if (extrapolate) {
    writeWantedValues(call, bValues, model);
    return true;
  }
  if (call.fitCurve)
    for (int i = 0; i < call.n; ++i) call.fitCurve[i] = model(bValues[i]);
  return false;
}
// Extrapolation is asked when the host gives wanted b-values and a buffer for them.
inline bool wantsExtrapolation(const CurveCall& call) {
  return call.extra && call.fitCurve && call.numExtra > 0;
}

// The bi-exponential diffusion model S0 ((1 - f) e^(-b D) + f e^(-b D*)) of a fit on the acquired
// b-values, into the host's fitted curve when it asks for one. When the RMSE of the model against
// the curve differs from the optimiser's by more than 1e-8, a note is shown once per map.
inline void writeBiExpDiffusionCurve(const CurveCall& call, const double* bValues, double s0, double f, double d,
                                     double dStar, double rmse) {
  double squares = 0;
  for (int i = 0; i < call.n; ++i) {
    const double model = s0 * ((1 - f) * std::exp(-bValues[i] * d) + f * std::exp(-bValues[i] * dStar));
    if (call.fitCurve) call.fitCurve[i] = model;
    squares += (model - call.curve[i]) * (model - call.curve[i]);
  }
  if (std::fabs(std::sqrt(squares / call.n) - rmse) > 1e-8)
    curveMessage(L"Residual problem in model #54", MB_ICONINFORMATION);
}

// The RMSE range of a fit on a curve scaled by 1 / scale, from the optimiser's range of the mean
// squared residual (a negative bound counts as 0).
inline INTERVAL scaledRmseRange(INTERVAL costRange, double scale) {
  return IntervalOf(std::sqrt(std::max(0.0, costRange.lo)) * std::fabs(scale),
                    std::sqrt(std::max(0.0, costRange.hi)) * std::fabs(scale));
}

// The b-value check of the global IVIM fits: a valid b-value axis of at least 5 values (else a
// message under the init's name). False stops the init.
inline bool hasIvimBValues(const wchar_t* function) {
  const Acquisition& acq = acquisition();
  if (!IsValidDynamicComponent(L"b-value", acq.bValue, acq.n)) return false;
  if (acq.n < 5) {
    showNamedMessage(function, L"IVIM3 requires at least 5 b-values");
    return false;
  }
  return true;
}

// One bi-exponential diffusion fit by the interval best-solution optimiser, on a curve sorted by
// b-value and divided by scale: the amplitude within s0Noise of the first (lowest-b) sorted signal,
// f, D* and D within their boxes, searched until the mean squared residual reaches tolerance or
// maxIterations pass. Results are back on the curve's scale; the fitted curve goes to the host.
struct BiExpDiffusionFit {
  double s0 = 0, f = 0, d = 0, dStar = 0, rmse = 0;
  INTERVAL fRange{}, dRange{}, dStarRange{}, rmseRange{};  // the optimiser's confidence box
};
inline bool fitBiExpDiffusion(const CurveCall& call, const double* bValues, const SortedCurve& sorted, double scale,
                              double s0Noise, INTERVAL f, INTERVAL dStar, INTERVAL d, double tolerance,
                              int maxIterations, BiExpDiffusionFit* fit) {
  // A sample without a value leaves the error undefined everywhere: the search would spend its whole
  // budget before failing.
  if (!std::all_of(sorted.signal.begin(), sorted.signal.end(), [](double v) { return std::isfinite(v); }))
    return false;
  const double y0 = sorted.signal[0];
  const INTERVAL box[4] = {IntervalOf((1 - s0Noise) * y0, (1 + s0Noise) * y0), f, dStar, d};
  DecayFitContext data{call.n, sorted.signal.data(), sorted.axis.data()};
  INTERVAL best[4], confidence[4], costRange{};
  double bestCost = VOID_VALUE;
  if (!PR_GOWSS_OptimizeBestSol(4, BiExpIntervalCost, &data, box, tolerance, maxIterations, best, &bestCost,
                                confidence, &costRange, nullptr, false))
    return false;
  fit->s0 = IntervalMid(best[0]) * scale;
  fit->f = IntervalMid(best[1]);
  fit->dStar = IntervalMid(best[2]);
  fit->d = IntervalMid(best[3]);
  fit->rmse = std::sqrt(bestCost) * std::fabs(scale);
  fit->fRange = confidence[1];
  fit->dStarRange = confidence[2];
  fit->dRange = confidence[3];
  fit->rmseRange = scaledRmseRange(costRange, scale);
  writeBiExpDiffusionCurve(call, bValues, fit->s0, fit->f, fit->d, fit->dStar, fit->rmse);
  return true;
}

// Square root of a cost bound; a negative bound has none (1e60).
inline double rootOrVoid(double v) { return v >= 0 ? std::sqrt(v) : VOID_VALUE; }

}  // namespace kin::mr
