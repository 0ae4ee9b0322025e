#include "Fitting.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "numerics/CurveTools.h"
#include "numerics/IntervalArith.h"
#include "numerics/LinearAlgebra.h"
#include "Messages.h"
#include "ModelFrame.h"
#include "numerics/Optimize.h"
#include "TwkMem.h"

namespace kin {
namespace {

// Normal equations of a small regression solved through the SVD, as every regression here does.
bool solveNormalEquations(const double* matrix, const double* rhs, int k, double* solution) {
  return PR_SolveLinearSystemParSVD(0, INT_MAX, matrix, k, rhs, solution, false, 10, nullptr);
}

double largestRelativeDeviation(const double* y, const double* fit, int count) {
  double largest = 0;
  for (int i = 0; i < count; ++i)
    if (std::fabs(y[i]) >= 1e-100) largest = std::max(largest, std::fabs(y[i] - fit[i]) / std::fabs(y[i]));
  return largest;
}

struct DecayData {
  int count;
  const double* y;
  const double* x;
};

DecayData dataOf(void* context, const double* y, const double* x) {
  const auto* c = static_cast<const DecayFitContext*>(context);
  return {c->count, y ? y : c->y, x ? x : c->x};
}

// Lower and upper bound of the mean squared residual of a model interval per point.
template <class ModelAt>
void boxCost(const DecayData& d, ModelAt modelAt, double* lowerBound, double* upperBound) {
  double lower = 0, upper = 0;
  for (int i = 0; i < d.count; ++i) {
    const INTERVAL square = IntervalSquaredResidual(modelAt(d.x[i]), d.y[i]);
    lower += square.lo;
    upper += square.hi;
  }
  *lowerBound = d.count > 0 ? lower / d.count : 0;
  if (upperBound) *upperBound = d.count > 0 ? upper / d.count : 0;
}

// Widens an enclosure computed from end-point formulas by a few units in the last place, so that
// their rounding can never put the true range outside it.
INTERVAL widened(INTERVAL a) {
  const double margin = 0x1p-48;
  return INTERVAL{a.lo - (std::fabs(a.lo) * margin + 1e-300), a.hi + (std::fabs(a.hi) * margin + 1e-300)};
}

// Box costs of A * (w * exp(-x * r1) + (1 - w) * exp(-x * r2)) on the decay data, over a box of
// (A, w, r1, r2). For A >= 0, w in [0, 1] and x >= 0 the model falls with both rates and moves with
// w one way when the rate ranges do not overlap, so its range and its slopes at each point are
// taken at the corners (sums of non-negative terms, so rounding stays relative to the result);
// otherwise the interval forms serve. The lower bound is the best of the summed per-point bounds
// (tight on wide boxes), the mean-value form cost(centre) - sum_j |dcost/dp_j over the box| *
// halfwidth_j, and the least-squares bound of the centre's linearisation (PR_LeastSquaresBoxBound),
// which closes as the square of the box around the minimum, so that the boxes there are settled
// after a few bisections even on noisy data and the search stops when its enclosure closes.
void biExponentialBoxCost(const DecayData& d, const INTERVAL* box, double* lowerBound, double* centreCost,
                          double* upperBound) {
  const INTERVAL a = box[0], w = box[1], r1 = box[2], r2 = box[3];
  const double aC = IntervalMid(a), wC = IntervalMid(w), r1C = IntervalMid(r1), r2C = IntervalMid(r2);
  if (a.lo == a.hi && w.lo == w.hi && r1.lo == r1.hi && r2.lo == r2.hi) {
    // A single point (the optimiser's local fits): its cost is all there is to know.
    const double cost = BiExpCentreCost({d.count, d.y, d.x}, aC, wC, r1C, r2C);
    *centreCost = std::isfinite(cost) ? cost : VOID_VALUE;
    *lowerBound = cost * (1 - 1e-12);
    if (upperBound) *upperBound = cost * (1 + 1e-12);
    return;
  }
  const bool positive = a.lo >= 0 && w.lo >= 0 && w.hi <= 1;
  const bool firstFaster = r1.lo >= r2.hi, firstSlower = r1.hi <= r2.lo;
  const int n = std::max(d.count, 0);
  // Per-point scratch on the stack for the usual short curves.
  constexpr int kOnStack = 64;
  double stackResidual[kOnStack], stackJacobian[4 * kOnStack], stackSlack[kOnStack], stackWork[2 * kOnStack];
  INTERVAL stackSlopes[4 * kOnStack];
  std::vector<double> heap;
  std::vector<INTERVAL> heapSlopes;
  double *residualC = stackResidual, *jacobian = stackJacobian, *slack = stackSlack, *work = stackWork;
  INTERVAL* slopeRows = stackSlopes;
  if (n > kOnStack) {
    heap.resize(size_t(n) * 8);
    heapSlopes.resize(size_t(n) * 4);
    residualC = heap.data();
    jacobian = residualC + n;
    slack = jacobian + 4 * size_t(n);
    work = slack + n;
    slopeRows = heapSlopes.data();
  }

  double lower = 0, upper = 0, centre = 0;
  for (int i = 0; i < n; ++i) {
    const double x = d.x[i], y = d.y[i];
    INTERVAL model;
    INTERVAL* slopes = slopeRows + 4 * i;
    if (positive && x >= 0 && (firstFaster || firstSlower)) {
      // exp(-x r) at the low and high rate ends: e(lo rate) >= e(hi rate).
      const double e1Lo = std::exp(-x * r1.hi), e1Hi = std::exp(-x * r1.lo);
      const double e2Lo = std::exp(-x * r2.hi), e2Hi = std::exp(-x * r2.lo);
      // The shape is lowest with the weight on the smaller exponential.
      const double wLow = firstFaster ? w.hi : w.lo, wHigh = firstFaster ? w.lo : w.hi;
      const INTERVAL shape = widened({(1 - wLow) * e2Lo + wLow * e1Lo, (1 - wHigh) * e2Hi + wHigh * e1Hi});
      model = widened({a.lo * shape.lo, a.hi * shape.hi});
      slopes[0] = shape;
      slopes[1] = a * widened({e1Lo - e2Hi, e1Hi - e2Lo});
      slopes[2] = widened({-a.hi * w.hi * x * e1Hi, -a.lo * w.lo * x * e1Lo});
      slopes[3] = widened({-a.hi * (1 - w.lo) * x * e2Hi, -a.lo * (1 - w.hi) * x * e2Lo});
    } else {
      const INTERVAL e1 = IntervalExp(-(r1 * x)), e2 = IntervalExp(-(r2 * x));
      const INTERVAL shape = e2 + w * (e1 - e2);
      model = a * shape;
      slopes[0] = shape;
      slopes[1] = a * (e1 - e2);
      slopes[2] = -(a * w * x * e1);
      slopes[3] = -(a * (1.0 - w) * x * e2);
    }
    const INTERVAL residual = model - y;
    const INTERVAL square = IntervalSquare(residual);
    lower += square.lo;
    upper += square.hi;
    // The centre: residual and Jacobian of the linearisation.
    const double e1 = std::exp(-x * r1C), e2 = std::exp(-x * r2C);
    const double shapeC = (1 - wC) * e2 + wC * e1, modelC = aC * shapeC;
    const double r = modelC - y;
    residualC[i] = r;
    slack[i] = 0x1p-48 * (std::fabs(modelC) + std::fabs(y)) + 1e-300;
    double* row = jacobian + 4 * i;
    row[0] = shapeC;
    row[1] = aC * (e1 - e2);
    row[2] = -aC * wC * x * e1;
    row[3] = -aC * (1 - wC) * x * e2;
    centre += r * r;
  }
  const double count = n > 0 ? double(n) : 1.0;
  double halfWidth[4];
  for (int j = 0; j < 4; ++j) {
    const double c = IntervalMid(box[j]);
    halfWidth[j] = std::max(c - box[j].lo, box[j].hi - c) * (1 + 0x1p-50);
  }
  const double linearised = PR_LeastSquaresBoxBound(n, 4, residualC, jacobian, slopeRows, halfWidth, slack, work, true);
  double best = lower;
  if (std::isfinite(linearised)) best = std::max(best, linearised);
  *lowerBound = best / count;
  *centreCost = std::isfinite(centre) ? centre / count : VOID_VALUE;
  if (upperBound) *upperBound = upper / count;
}

}  // namespace

// --- least squares ---

bool FitLine(const double* x, const double* y, int count, double* slope, double* intercept, double* maxRelDev) {
  double sxx = 0, sx = 0, sxy = 0, sy = 0;
  for (int i = 0; i < count; ++i) {
    sxx += x[i] * x[i];
    sx += x[i];
    sxy += x[i] * y[i];
    sy += y[i];
  }
  const double matrix[4] = {sxx, sx, sx, double(count)};
  const double rhs[2] = {sxy, sy};
  double solution[2];
  if (!solveNormalEquations(matrix, rhs, 2, solution)) return false;
  *slope = solution[0];
  *intercept = solution[1];
  if (maxRelDev) {
    double largest = 0;
    for (int i = 0; i < count; ++i) {
      const double fit = *slope * x[i] + *intercept;
      if (fit >= 1e-100) largest = std::max(largest, std::fabs((y[i] - fit) / fit));
    }
    *maxRelDev = largest;
  }
  return true;
}

bool FitTwoRegressors(const double* y, const double* x1, const double* x2, int count, double* a, double* b,
                      double* maxRelDev, double* relRms) {
  double s11 = 0, s12 = 0, s22 = 0, s1y = 0, s2y = 0;
  for (int i = 0; i < count; ++i) {
    s11 += x1[i] * x1[i];
    s12 += x1[i] * x2[i];
    s22 += x2[i] * x2[i];
    s1y += x1[i] * y[i];
    s2y += x2[i] * y[i];
  }
  const double matrix[4] = {s11, s12, s12, s22};
  const double rhs[2] = {s1y, s2y};
  double solution[2];
  if (!solveNormalEquations(matrix, rhs, 2, solution)) return false;
  *a = solution[0];
  *b = solution[1];
  std::vector<double> fit(std::max(count, 0));
  double squares = 0, mean = 0;
  for (int i = 0; i < count; ++i) {
    fit[i] = *a * x1[i] + *b * x2[i];
    squares += (y[i] - fit[i]) * (y[i] - fit[i]);
    mean += y[i];
  }
  if (maxRelDev) *maxRelDev = largestRelativeDeviation(y, fit.data(), count);
  if (relRms) {
    mean = count > 0 ? mean / count : 0;
    *relRms = std::fabs(mean) < 1e-100 || count < 1 ? 0 : std::sqrt(squares / count) / mean;
  }
  return true;
}

bool FitThreeRegressorsA(const double* y, const double* x1, const double* x2, const double* x3, int count, double* a,
                         double* b, double* c, double* maxRelDev) {
  const double* x[3] = {x1, x2, x3};
  double matrix[9] = {}, rhs[3] = {};
  for (int i = 0; i < count; ++i)
    for (int r = 0; r < 3; ++r) {
      rhs[r] += x[r][i] * y[i];
      for (int k = 0; k < 3; ++k) matrix[r * 3 + k] += x[r][i] * x[k][i];
    }
  double solution[3];
  if (!solveNormalEquations(matrix, rhs, 3, solution)) return false;
  *a = solution[0];
  *b = solution[1];
  *c = solution[2];
  if (maxRelDev) {
    std::vector<double> fit(std::max(count, 0));
    for (int i = 0; i < count; ++i) fit[i] = *a * x1[i] + *b * x2[i] + *c * x3[i];
    *maxRelDev = largestRelativeDeviation(y, fit.data(), count);
  }
  return true;
}

bool FitThreeRegressorsB(const double* y, const double* x1, const double* x2, int count, double* a, double* b,
                         double* c, double* maxRelDev) {
  const std::vector<double> ones(std::max(count, 0), 1.0);
  return FitThreeRegressorsA(y, x1, x2, ones.data(), count, a, b, c, maxRelDev);
}

// --- box costs ---

double MonoExpCentreCost(const DecayFitContext& data, double amplitude, double rate) {
  if (data.count < 1) return 0;
  double sum = 0;
  for (int i = 0; i < data.count; ++i) {
    const double r = data.y[i] - amplitude * std::exp(-rate * data.x[i]);
    sum += r * r;
  }
  return sum / data.count;
}

double BiExpCentreCost(const DecayFitContext& data, double amplitude, double fraction, double fastRate,
                       double slowRate) {
  if (data.count < 1) return 0;
  double sum = 0;
  for (int i = 0; i < data.count; ++i) {
    const double x = data.x[i];
    const double model = amplitude * ((1 - fraction) * std::exp(-x * slowRate) + fraction * std::exp(-x * fastRate));
    sum += (data.y[i] - model) * (data.y[i] - model);
  }
  return sum / data.count;
}

void MonoExpIntervalCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
                         double* centreCost, double*) {
  const DecayData d = dataOf(context, y, x);
  const INTERVAL amplitude = box[0], rate = box[1];
  boxCost(d, [&](double xi) { return amplitude * IntervalExp(-(rate * xi)); }, lowerBound, nullptr);
  *centreCost = MonoExpCentreCost({d.count, d.y, d.x}, IntervalMid(amplitude), IntervalMid(rate));
}

void BiExpIntervalCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
                       double* centreCost, double* upperBound) {
  // A * ((1 - f) exp(-x slow) + f exp(-x fast)): the weight f goes with the fast rate.
  biExponentialBoxCost(dataOf(context, y, x), box, lowerBound, centreCost, upperBound);
}

void BiExpNoiseIntervalCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
                            double* centreCost, double* upperBound) {
  // S0 * (w exp(-x rate1) + (1 - w) exp(-x rate2)): the same form with the weight on the first rate.
  biExponentialBoxCost(dataOf(context, y, x), box, lowerBound, centreCost, upperBound);
}

bool FitMonoExp(double halfWidth, const double* y, const double* x, int count, double rateLimit1, double rateLimit2,
                int iterations, double* amplitude, double* rate, double* rmse, INTERVAL* confidenceBox,
                INTERVAL* costRange) {
  if (count < 1) return false;
  const INTERVAL rates = IntervalOf(rateLimit1, rateLimit2);
  const double width = halfWidth < 0 ? -halfWidth * y[0] : halfWidth;
  // The amplitude at x = 0 that the first point implies for every rate of the box.
  const double corners[4] = {(y[0] - width) * std::exp(x[0] * rates.lo), (y[0] - width) * std::exp(x[0] * rates.hi),
                             (y[0] + width) * std::exp(x[0] * rates.lo), (y[0] + width) * std::exp(x[0] * rates.hi)};
  const INTERVAL box[2] = {{*std::min_element(corners, corners + 4), *std::max_element(corners, corners + 4)}, rates};

  DecayFitContext context{count, y, x};
  INTERVAL best[2];
  double bestCost = VOID_VALUE;
  if (!PR_GO_NonconstrCostOptimizeSLX(2, MonoExpIntervalCost, &context, box, y, x, 1e-6, 1e-8, iterations, best,
                                      &bestCost, confidenceBox, costRange, nullptr, false))
    return false;
  *amplitude = IntervalMid(best[0]);
  *rate = IntervalMid(best[1]);
  *rmse = std::sqrt(MonoExpCentreCost(context, *amplitude, *rate));
  return true;
}

// --- input function on the data's time grid ---

bool CombineTacAndIfuncTiming(const INPUTFUNC* ifunc, int n, UniformTiming& timing) {
  const wchar_t* const kName = L"CombineTacAndIfuncTiming";
  if (std::fabs(ifunc->times[0]) >= 1e-100) {
    showNamedMessage(kName, L"Input function start time should always be zero");
    return false;
  }
  if (n < 1) return false;
  const double* time = acquisition().time;
  std::vector<double> rel(n);
  for (int i = 0; i < n; ++i) rel[i] = time[i] - time[0];

  bool sameTimes = ifunc->count == n;
  for (int i = 0; sameTimes && i < n; ++i) sameTimes = std::fabs(ifunc->times[i] - rel[i]) < 1e-100;

  double* grid = nullptr;
  double* resampled = nullptr;
  int m = 0;
  if (sameTimes) {
    grid = PR_MakeUniformSamplingArray(rel.data(), n, &m);
    if (grid) resampled = PR_ResampleFunction(ifunc->values, rel.data(), n, grid, m, true);
  } else {
    if (!askYesNo(L"Input function different number of timepoints from data.\nProceed?")) return false;
    // The finest step of either curve; repeated times carry no step.
    double dt = VOID_VALUE;
    for (int i = 1; i < n; ++i)
      if (rel[i] > rel[i - 1]) dt = std::min(dt, rel[i] - rel[i - 1]);
    for (int i = 1; i < ifunc->count; ++i)
      if (ifunc->times[i] > ifunc->times[i - 1]) dt = std::min(dt, ifunc->times[i] - ifunc->times[i - 1]);
    if (dt == VOID_VALUE || rel[n - 1] <= 0) return false;
    // A grid finer than the largest curve would be is coarsened to it.
    dt = std::max(dt, rel[n - 1] / (kMaxPoints - 1));
    m = std::min(int(std::ceil(rel[n - 1] / dt)), kMaxPoints);
    grid = static_cast<double*>(pf_malloc(int64_t(m) * sizeof(double)));
    if (grid) {
      for (int i = 0; i < m; ++i) grid[i] = i * dt;
      resampled = PR_ResampleFunction(ifunc->values, ifunc->times, ifunc->count, grid, m, true);
    }
  }
  const bool ok = grid && resampled;
  if (ok) {
    timing.grid.assign(grid, grid + m);
    timing.ifunc.assign(resampled, resampled + m);
  }
  pf_free(&grid);
  pf_free(&resampled);
  return ok;
}

// --- progress ---

CString SingleCurveTitle(int type) {
  const ModelSpec* entry = modelSpec(type);
  return CString(L"Compute parameters for a single ROI TAC : ") + CString(entry ? entry->name : "");
}

SingleCurveAnnouncement::SingleCurveAnnouncement(int type)
    : progress_(SingleCurveTitle(type).GetString(), acquisition().calcMode == kCalcModeSingleCurve) {}

}  // namespace kin
