#include "Fitting.h"

#include <algorithm>
#include <climits>
#include <cmath>

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

// Two exponentials weighted w and 1 - w, written with w once so that its interval is not counted twice.
INTERVAL twoExponentials(INTERVAL w, INTERVAL rateW, INTERVAL rateRest, double x) {
  const INTERVAL first = IntervalExp(-(rateW * x));
  const INTERVAL rest = IntervalExp(-(rateRest * x));
  return rest + w * (first - rest);
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
  const DecayData d = dataOf(context, y, x);
  const INTERVAL amplitude = box[0], fraction = box[1], fast = box[2], slow = box[3];
  boxCost(d, [&](double xi) { return amplitude * twoExponentials(fraction, fast, slow, xi); }, lowerBound, upperBound);
  *centreCost = BiExpCentreCost({d.count, d.y, d.x}, IntervalMid(amplitude), IntervalMid(fraction), IntervalMid(fast),
                                IntervalMid(slow));
}

void BiExpNoiseIntervalCost(void* context, const INTERVAL* box, const double* y, const double* x, double* lowerBound,
                            double* centreCost, double* upperBound) {
  const DecayData d = dataOf(context, y, x);
  const INTERVAL amplitude = box[0], weight = box[1], rate1 = box[2], rate2 = box[3];
  boxCost(d, [&](double xi) { return amplitude * twoExponentials(weight, rate1, rate2, xi); }, lowerBound, upperBound);
  // The same curve as the bi-exponential form with the weight on the first rate.
  *centreCost = BiExpCentreCost({d.count, d.y, d.x}, IntervalMid(amplitude), IntervalMid(weight), IntervalMid(rate1),
                                IntervalMid(rate2));
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
