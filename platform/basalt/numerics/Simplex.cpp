// Downhill simplex (Nelder-Mead) with grid start and restarts.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "TwkTypes.h"
#include "numerics/Optimize.h"

namespace {

constexpr double kWorst = HUGE_VAL;
constexpr double kMaxGridPoints = 1e7;
constexpr int kMaxRestarts = 10;
// Grid costs are kept (to find the grid's local minima as further starts) up to this many points.
constexpr int64_t kMaxStoredGrid = 1000000;
constexpr int kMaxStarts = 3;

// A cost as the simplex sees it: NaN is the worst value.
inline double sane(double v) { return std::isnan(v) ? kWorst : v; }

// The objective over the free variables z (dimension n). It returns the value the simplex minimises
// and writes the plain cost of the point through `plain`.
struct Objective {
  virtual ~Objective() = default;
  virtual double operator()(const double* z, double* plain) const = 0;
};

struct Vertex {
  std::vector<double> z;
  double value = kWorst;  // minimised objective
  double plain = kWorst;  // the caller's cost
};

struct SimplexResult {
  std::vector<double> z;
  double value = kWorst;
  double plain = kWorst;
};

class Simplex {
 public:
  Simplex(const Objective& objective, int n, const double* lower, const double* upper)
      : f_(objective), n_(n), lower_(lower), upper_(upper) {
    if (n_ >= 3) {
      // Dimension-adapted coefficients keep the simplex from collapsing in higher dimensions.
      expand_ = 1.0 + 2.0 / n_;
      contract_ = 0.75 - 0.5 / n_;
      shrink_ = 1.0 - 1.0 / n_;
    }
  }

  // Minimises from `start` with initial edges `steps`; uses at most `budget` iterations (decremented).
  SimplexResult run(const std::vector<double>& start, const std::vector<double>& steps, int& budget) const {
    std::vector<Vertex> v(n_ + 1);
    v[0].z = start;
    clamp(v[0].z);
    evaluate(v[0]);
    for (int i = 0; i < n_; ++i) {
      v[i + 1].z = v[0].z;
      double& c = v[i + 1].z[i];
      c += steps[i];
      if (upper_ && c > upper_[i]) c = v[0].z[i] - steps[i];
      clamp(v[i + 1].z);
      if (v[i + 1].z[i] == v[0].z[i]) v[i + 1].z[i] = v[0].z[i] + 0.5 * steps[i];
      clamp(v[i + 1].z);
      evaluate(v[i + 1]);
    }
    std::vector<double> xtol(n_);
    for (int i = 0; i < n_; ++i) xtol[i] = 1e-10 * std::fabs(steps[i]);

    std::vector<int> order(n_ + 1);
    std::vector<double> centroid(n_);
    Vertex reflected, expanded, contracted;
    double lastBest = kWorst;
    int sinceImprovement = 0;
    while (budget > 0) {
      std::iota(order.begin(), order.end(), 0);
      std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return v[a].value < v[b].value; });
      const Vertex& best = v[order[0]];
      const Vertex& worst = v[order[n_]];
      const Vertex& secondWorst = v[order[n_ - 1]];
      if (best.value < lastBest) {
        lastBest = best.value;
        sinceImprovement = 0;
      } else {
        ++sinceImprovement;
      }
      if (converged(v, order, xtol, sinceImprovement)) break;
      --budget;

      std::fill(centroid.begin(), centroid.end(), 0.0);
      for (int k = 0; k < n_; ++k)
        for (int i = 0; i < n_; ++i) centroid[i] += v[order[k]].z[i];
      for (int i = 0; i < n_; ++i) centroid[i] /= n_;

      along(centroid, worst.z, -reflect_, reflected);
      if (reflected.value < best.value) {
        along(centroid, worst.z, -reflect_ * expand_, expanded);
        v[order[n_]] = expanded.value < reflected.value ? expanded : reflected;
        continue;
      }
      if (reflected.value < secondWorst.value) {
        v[order[n_]] = reflected;
        continue;
      }
      // Contract outside (towards the reflected point) or inside (towards the worst vertex).
      if (reflected.value < worst.value) {
        along(centroid, worst.z, -reflect_ * contract_, contracted);
        if (contracted.value <= reflected.value) {
          v[order[n_]] = contracted;
          continue;
        }
      } else {
        along(centroid, worst.z, contract_, contracted);
        if (contracted.value < worst.value) {
          v[order[n_]] = contracted;
          continue;
        }
      }
      // Shrink every vertex towards the best one.
      const std::vector<double> bestZ = v[order[0]].z;
      for (int k = 1; k <= n_; ++k) {
        Vertex& w = v[order[k]];
        for (int i = 0; i < n_; ++i) w.z[i] = bestZ[i] + shrink_ * (w.z[i] - bestZ[i]);
        clamp(w.z);
        evaluate(w);
      }
    }
    int bestIndex = 0;
    for (int k = 1; k <= n_; ++k)
      if (v[k].value < v[bestIndex].value) bestIndex = k;
    return SimplexResult{v[bestIndex].z, v[bestIndex].value, v[bestIndex].plain};
  }

 private:
  void clamp(std::vector<double>& z) const {
    if (!lower_ || !upper_) return;
    for (int i = 0; i < n_; ++i) z[i] = std::min(upper_[i], std::max(lower_[i], z[i]));
  }
  void evaluate(Vertex& w) const {
    double plain = kWorst;
    w.value = sane(f_(w.z.data(), &plain));
    w.plain = sane(plain);
  }
  // centroid + t * (from - centroid)
  void along(const std::vector<double>& centroid, const std::vector<double>& from, double t, Vertex& out) const {
    out.z.resize(n_);
    for (int i = 0; i < n_; ++i) out.z[i] = centroid[i] + t * (from[i] - centroid[i]);
    clamp(out.z);
    evaluate(out);
  }
  bool converged(const std::vector<Vertex>& v, const std::vector<int>& order, const std::vector<double>& xtol,
                 int sinceImprovement) const {
    const double fBest = v[order[0]].value, fWorst = v[order[n_]].value;
    if (!std::isfinite(fBest)) return false;
    const double fSpread = fWorst - fBest;
    const double fTolerance = 1e-13 * (std::fabs(fBest) + std::fabs(fWorst)) + 1e-290;
    if (!(fSpread <= fTolerance)) return false;
    // Values agree: done when the simplex is also small, or when it has stopped improving (a
    // direction in which the cost does not change never shrinks).
    if (sinceImprovement > 20 * (n_ + 1)) return true;
    const std::vector<double>& b = v[order[0]].z;
    for (int k = 1; k <= n_; ++k)
      for (int i = 0; i < n_; ++i)
        if (std::fabs(v[order[k]].z[i] - b[i]) > xtol[i]) return false;
    return true;
  }

  const Objective& f_;
  int n_;
  const double* lower_;
  const double* upper_;
  double reflect_ = 1.0, expand_ = 2.0, contract_ = 0.5, shrink_ = 0.5;
};

// Runs the simplex and restarts it at its own minimum while a restart still improves the result.
SimplexResult minimiseWithRestarts(const Objective& f, int n, const std::vector<double>& start,
                                   const std::vector<double>& steps, const double* lower, const double* upper,
                                   int& budget) {
  Simplex simplex(f, n, lower, upper);
  SimplexResult best;
  best.z = start;
  {
    double plain = kWorst;
    best.value = sane(f(start.data(), &plain));
    best.plain = sane(plain);
  }
  for (int restart = 0; restart <= kMaxRestarts && budget > 0; ++restart) {
    SimplexResult r = simplex.run(best.z, steps, budget);
    const bool improved = r.value < best.value;
    const double gain = best.value - r.value;
    if (improved) best = r;
    if (!improved || !(gain > 1e-10 * std::fabs(best.value))) break;
  }
  return best;
}

// Objective of the grid optimiser: the free variables fill their slots of the full point; the
// balance term pulls towards the box centre.
struct GridObjective : Objective {
  PR_AMOEBACOSTFUNC cost = nullptr;
  void* context = nullptr;
  std::vector<double>* point = nullptr;  // full point, fixed variables already set
  const std::vector<int>* freeIndex = nullptr;
  const std::vector<double>* centre = nullptr;
  const std::vector<double>* halfWidth = nullptr;
  double balance = 0;

  double operator()(const double* z, double* plain) const override {
    std::vector<double>& x = *point;
    for (size_t i = 0; i < freeIndex->size(); ++i) x[(*freeIndex)[i]] = z[i];
    const double c = sane(cost(context, x.data(), nullptr));
    *plain = c;
    if (!(balance > 0) || !std::isfinite(c)) return c;
    double q = 0;
    for (size_t i = 0; i < freeIndex->size(); ++i) {
      const int k = (*freeIndex)[i];
      const double d = (x[k] - (*centre)[k]) / (*halfWidth)[k];
      q += d * d;
    }
    q /= double(freeIndex->size());
    return c + balance * std::fabs(c) * q;
  }
};

struct OffsetObjective : Objective {
  PR_AMOEBACOSTFUNC cost = nullptr;
  void* context = nullptr;
  const double* base = nullptr;
  std::vector<double>* offset = nullptr;  // full offset, held variables already set
  const std::vector<int>* freeIndex = nullptr;

  double operator()(const double* z, double* plain) const override {
    std::vector<double>& d = *offset;
    for (size_t i = 0; i < freeIndex->size(); ++i) d[(*freeIndex)[i]] = z[i];
    const double c = sane(cost(context, base, d.data()));
    *plain = c;
    return c;
  }
};

inline bool usableCost(double c) { return std::isfinite(c) && c < VOID_VALUE; }

}  // namespace

bool PR_OptimizeAmoebaOverGrid(int gridPoints, int nVars, const INTERVAL* bounds, bool keepInBounds,
                               PR_AMOEBACOSTFUNC cost, void* context, int maxIterations, double balance,
                               double* bestCost, double* bestPoint) {
  if (nVars < 1 || !bounds || !cost || !bestCost || !bestPoint) return false;
  std::vector<double> lo(nVars), hi(nVars), centre(nVars), halfWidth(nVars);
  std::vector<int> freeIndex;
  for (int i = 0; i < nVars; ++i) {
    lo[i] = std::min(bounds[i].lo, bounds[i].hi);
    hi[i] = std::max(bounds[i].lo, bounds[i].hi);
    if (!std::isfinite(lo[i]) || !std::isfinite(hi[i])) return false;
    centre[i] = 0.5 * (lo[i] + hi[i]);
    halfWidth[i] = 0.5 * (hi[i] - lo[i]);
    if (hi[i] > lo[i]) freeIndex.push_back(i);
  }
  const int nFree = int(freeIndex.size());

  // Grid over the free variables at cell centres, first variable outermost (the last one varies
  // fastest); the first point with the lowest cost wins.
  int perAxis = std::max(1, gridPoints);
  if (nFree > 0 && std::pow(double(perAxis), nFree) > kMaxGridPoints)
    perAxis = std::max(1, int(std::floor(std::pow(kMaxGridPoints, 1.0 / nFree))));
  int64_t total = 1;
  for (int i = 0; i < nFree; ++i) total *= perAxis;
  auto cellCentre = [&](int k, int cell) { return lo[k] + (cell + 0.5) * (hi[k] - lo[k]) / perAxis; };
  auto digitsOf = [&](int64_t g, std::vector<int>& digits) {
    for (int i = nFree - 1; i >= 0; --i) {
      digits[i] = int(g % perAxis);
      g /= perAxis;
    }
  };
  std::vector<double> point(nVars);
  for (int i = 0; i < nVars; ++i) point[i] = lo[i];
  std::vector<double> gridCost(total <= kMaxStoredGrid ? size_t(total) : 0);
  int64_t bestIndex = 0;
  double bestGridCost = kWorst;
  std::vector<int> counter(nFree, 0);
  for (int64_t g = 0; g < total; ++g) {
    for (int i = 0; i < nFree; ++i) point[freeIndex[i]] = cellCentre(freeIndex[i], counter[i]);
    const double c = sane(cost(context, point.data(), nullptr));
    if (!gridCost.empty()) gridCost[size_t(g)] = c;
    if (g == 0 || c < bestGridCost) {
      bestGridCost = c;
      bestIndex = g;
    }
    for (int i = nFree - 1; i >= 0; --i) {
      if (++counter[i] < perAxis) break;
      counter[i] = 0;
    }
  }

  // Simplex starts: the best grid point, then the grid's other local minima by rising cost (skipping
  // those next to a start already taken), so that a second basin the grid has seen is searched too.
  std::vector<int64_t> starts = {bestIndex};
  if (!gridCost.empty() && nFree > 0 && total > 1) {
    std::vector<int64_t> minima;
    std::vector<int> digits(nFree), other(nFree);
    for (int64_t g = 0; g < total; ++g) {
      if (g == bestIndex || !std::isfinite(gridCost[size_t(g)])) continue;
      digitsOf(g, digits);
      bool isMinimum = true;
      int64_t stride = 1;
      for (int i = nFree - 1; i >= 0 && isMinimum; --i) {
        if (digits[i] > 0 && gridCost[size_t(g - stride)] < gridCost[size_t(g)]) isMinimum = false;
        if (digits[i] + 1 < perAxis && gridCost[size_t(g + stride)] < gridCost[size_t(g)]) isMinimum = false;
        stride *= perAxis;
      }
      if (isMinimum) minima.push_back(g);
    }
    std::stable_sort(minima.begin(), minima.end(),
                     [&](int64_t a, int64_t b) { return gridCost[size_t(a)] < gridCost[size_t(b)]; });
    for (int64_t g : minima) {
      if (int(starts.size()) >= kMaxStarts) break;
      digitsOf(g, digits);
      bool nearTaken = false;
      for (int64_t taken : starts) {
        digitsOf(taken, other);
        int distance = 0;
        for (int i = 0; i < nFree; ++i) distance = std::max(distance, std::abs(digits[i] - other[i]));
        nearTaken |= distance <= 1;
      }
      if (!nearTaken) starts.push_back(g);
    }
  }

  std::vector<double> result(nVars);
  std::vector<int> digits(nFree);
  auto gridPoint = [&](int64_t g, std::vector<double>& x) {
    x = lo;
    digitsOf(g, digits);
    for (int i = 0; i < nFree; ++i) x[freeIndex[i]] = cellCentre(freeIndex[i], digits[i]);
  };
  gridPoint(bestIndex, result);
  double resultCost = bestGridCost;
  if (nFree > 0 && maxIterations > 0) {
    GridObjective objective;
    objective.cost = cost;
    objective.context = context;
    objective.point = &point;
    objective.freeIndex = &freeIndex;
    objective.centre = &centre;
    objective.halfWidth = &halfWidth;
    objective.balance = balance;
    std::vector<double> start(nFree), steps(nFree), zLo(nFree), zHi(nFree), x(nVars);
    for (int i = 0; i < nFree; ++i) {
      const int k = freeIndex[i];
      steps[i] = 0.5 * (hi[k] - lo[k]) / perAxis;
      zLo[i] = lo[k];
      zHi[i] = hi[k];
    }
    // The starts share the iteration budget; a start that converges early leaves the rest to the next.
    int budget = maxIterations;
    double bestValue = kWorst;
    for (size_t s = 0; s < starts.size() && budget > 0; ++s) {
      gridPoint(starts[s], x);
      point = x;
      for (int i = 0; i < nFree; ++i) start[i] = x[freeIndex[i]];
      const SimplexResult r = minimiseWithRestarts(objective, nFree, start, steps,
                                                   keepInBounds ? zLo.data() : nullptr,
                                                   keepInBounds ? zHi.data() : nullptr, budget);
      if (s == 0 || r.value < bestValue) {
        bestValue = r.value;
        for (int i = 0; i < nFree; ++i) result[freeIndex[i]] = r.z[i];
        resultCost = r.plain;
      }
    }
  }
  if (!usableCost(resultCost)) return false;
  *bestCost = resultCost;
  std::copy(result.begin(), result.end(), bestPoint);
  return true;
}

bool PR_AmoebaPlus(PR_AMOEBACOSTFUNC cost, void* context, const double* base, int nVars, double* offset,
                   const double* steps, double scale, int maxIterations, double* bestCost) {
  if (!cost || !base || !offset || !steps || nVars < 1) return false;
  std::vector<int> freeIndex;
  for (int i = 0; i < nVars; ++i) {
    if (!std::isfinite(base[i]) || !std::isfinite(offset[i]) || !std::isfinite(steps[i])) return false;
    if (steps[i] != 0) freeIndex.push_back(i);
  }
  const int nFree = int(freeIndex.size());
  std::vector<double> full(offset, offset + nVars);
  std::vector<double> start(nFree), edge(nFree), zLo(nFree), zHi(nFree);
  const bool bounded = scale > 0;
  for (int i = 0; i < nFree; ++i) {
    const int k = freeIndex[i];
    edge[i] = std::fabs(steps[k]);
    zLo[i] = -scale * edge[i];
    zHi[i] = scale * edge[i];
    start[i] = bounded ? std::min(zHi[i], std::max(zLo[i], offset[k])) : offset[k];
    full[k] = start[i];
  }
  OffsetObjective objective;
  objective.cost = cost;
  objective.context = context;
  objective.base = base;
  objective.offset = &full;
  objective.freeIndex = &freeIndex;

  double resultCost = kWorst;
  std::vector<double> result = full;
  if (nFree == 0 || maxIterations <= 0) {
    resultCost = sane(cost(context, base, full.data()));
  } else {
    const SimplexResult r = minimiseWithRestarts(objective, nFree, start, edge, bounded ? zLo.data() : nullptr,
                                                 bounded ? zHi.data() : nullptr, maxIterations);
    for (int i = 0; i < nFree; ++i) result[freeIndex[i]] = r.z[i];
    resultCost = r.plain;
  }
  if (!usableCost(resultCost)) return false;
  std::copy(result.begin(), result.end(), offset);
  if (bestCost) *bestCost = resultCost;
  return true;
}
