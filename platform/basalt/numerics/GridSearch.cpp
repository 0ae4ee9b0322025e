// Global search over a box: a grid of cell centres, division of the promising cells, and simplex
// searches from the distinct basins the division has seen (PR_OptimizeAmoebaOverGrid).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <queue>
#include <vector>

#include "TwkTypes.h"
#include "numerics/Optimize.h"
#include "numerics/SimplexCore.h"

namespace {

using twk::simplex::kWorst;
using twk::simplex::sane;

constexpr double kMaxGridPoints = 1e7;
// Cells are not divided below 3^-kMaxLevel of a grid cell.
constexpr int kMaxLevel = 30;
// Potentially optimal cells must promise an improvement of this fraction of the best value.
constexpr double kDivisionEpsilon = 1e-4;
// Simplex searches started from distinct basins.
constexpr int kMaxStarts = 3;
// Iterations per free variable and one of a simplex run before a fresh simplex takes over (or a
// seventh of the budget when that is more).
constexpr int kRunIterations = 30;

// Objective over the free variables: they fill their slots of the full point; the balance term pulls
// towards the box centre.
struct GridObjective : twk::simplex::Objective {
  PR_AMOEBACOSTFUNC cost = nullptr;
  void* context = nullptr;
  std::vector<double>* point = nullptr;  // full point, held variables already set
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

// The cells of the search: grid cells and the thirds they are divided into. A cell is a box of the
// free variables given by its centre and, per variable, its level: its side is the grid cell's side
// divided by 3^level. Centres are evaluated once; a divided cell keeps its centre as its middle third.
class CellPool {
 public:
  CellPool(int n, const std::vector<double>& gridSide) : n_(n), gridSide_(gridSide) {}

  int add(const double* centre, const uint8_t* level, double value, double plain) {
    centres_.insert(centres_.end(), centre, centre + n_);
    levels_.insert(levels_.end(), level, level + n_);
    values_.push_back(value);
    plains_.push_back(plain);
    sizes_.push_back(shapeSize(level));
    return size() - 1;
  }
  // Divides cell c along variable i: one level finer there.
  void refine(int c, int i) {
    ++level(c)[i];
    sizes_[c] = shapeSize(level(c));
  }
  int size() const { return int(values_.size()); }
  const double* centre(int c) const { return centres_.data() + size_t(c) * n_; }
  uint8_t* level(int c) { return levels_.data() + size_t(c) * n_; }
  const uint8_t* level(int c) const { return levels_.data() + size_t(c) * n_; }
  double value(int c) const { return values_[c]; }
  double plain(int c) const { return plains_[c]; }
  double side(int c, int i) const {
    const int k = level(c)[i];
    return gridSide_[i] * (k < kThirds ? thirds_[k] : std::pow(3.0, -double(k)));
  }
  // Half the diagonal of the cell, in grid-cell units (the same for cells of the same shape).
  double size(int c) const { return sizes_[c]; }
  // Whether two cells touch or overlap.
  bool touch(int a, int b) const {
    for (int i = 0; i < n_; ++i) {
      const double reach = 0.5 * (side(a, i) + side(b, i));
      if (std::fabs(centre(a)[i] - centre(b)[i]) > reach * (1 + 1e-9)) return false;
    }
    return true;
  }

 private:
  // Half the diagonal of a cell of the given levels (summed in a fixed order, so that cells of the
  // same shape get the same bits).
  double shapeSize(const uint8_t* cellLevel) const {
    uint8_t sorted[64];
    const int m = std::min(n_, 64);
    std::copy(cellLevel, cellLevel + m, sorted);
    std::sort(sorted, sorted + m, std::greater<>());
    double s = 0;
    for (int i = 0; i < m; ++i) s += std::pow(9.0, -double(sorted[i]));
    return 0.5 * std::sqrt(s);
  }

  // 3^-k for the levels cells usually reach, computed once.
  static constexpr int kThirds = 40;
  struct Thirds {
    double value[kThirds];
    Thirds() {
      for (int k = 0; k < kThirds; ++k) value[k] = std::pow(3.0, -double(k));
    }
    double operator[](int k) const { return value[k]; }
  };
  inline static const Thirds thirds_{};

  int n_;
  std::vector<double> gridSide_;
  std::vector<double> sizes_;
  std::vector<double> centres_;
  std::vector<uint8_t> levels_;
  std::vector<double> values_, plains_;
};

// The cells worth dividing: of the cells of each size the best one, kept when it lies on the lower
// right convex hull of (size, value) and promises a real improvement over the best value for some
// rate of change (the potentially optimal cells of the DIRECT method).
std::vector<int> potentiallyOptimal(const CellPool& pool) {
  struct Candidate {
    double size, value;
    int cell;
  };
  // The best of each size (the first cell among equal values), by size ascending. Cells come in few
  // sizes, so a sorted list of the sizes seen is searched for each cell.
  std::vector<Candidate> best;
  for (int c = 0; c < pool.size(); ++c) {
    const Candidate candidate{pool.size(c), std::min(pool.value(c), VOID_VALUE), c};
    const auto at = std::lower_bound(best.begin(), best.end(), candidate.size,
                                     [](const Candidate& a, double size) { return a.size < size; });
    if (at == best.end() || at->size != candidate.size)
      best.insert(at, candidate);
    else if (candidate.value < at->value)
      *at = candidate;
  }
  // Start at the lowest value (the largest cell among equal lowest values).
  size_t first = 0;
  for (size_t i = 1; i < best.size(); ++i)
    if (best[i].value <= best[first].value) first = i;
  const double fMin = best[first].value;
  std::vector<Candidate> hull;
  for (size_t i = first; i < best.size(); ++i) {
    const Candidate& p = best[i];
    while (hull.size() >= 2) {
      const Candidate& a = hull[hull.size() - 2];
      const Candidate& b = hull.back();
      // Drop b when it lies on or above the line from a to p.
      if ((b.value - a.value) * (p.size - a.size) >= (p.value - a.value) * (b.size - a.size))
        hull.pop_back();
      else
        break;
    }
    hull.push_back(p);
  }
  std::vector<int> chosen;
  const double threshold = fMin - kDivisionEpsilon * std::fabs(fMin);
  for (size_t i = 0; i < hull.size(); ++i) {
    if (i + 1 == hull.size()) {
      chosen.push_back(hull[i].cell);
      continue;
    }
    const double rate = (hull[i + 1].value - hull[i].value) / (hull[i + 1].size - hull[i].size);
    if (hull[i].value - rate * hull[i].size <= threshold) chosen.push_back(hull[i].cell);
  }
  std::sort(chosen.begin(), chosen.end());
  return chosen;
}

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
  std::vector<double> point = lo;

  GridObjective objective;
  objective.cost = cost;
  objective.context = context;
  objective.point = &point;
  objective.freeIndex = &freeIndex;
  objective.centre = &centre;
  objective.halfWidth = &halfWidth;
  objective.balance = balance;

  auto finish = [&](const std::vector<double>& z, double plain) {
    if (!(std::isfinite(plain) && plain < VOID_VALUE)) return false;
    std::vector<double> x = lo;
    for (int i = 0; i < nFree; ++i) x[freeIndex[i]] = z[i];
    *bestCost = plain;
    std::copy(x.begin(), x.end(), bestPoint);
    return true;
  };
  if (nFree == 0) {
    double plain = kWorst;
    objective(nullptr, &plain);
    return finish({}, plain);
  }

  // 1. The grid: perAxis cell centres per free variable, first variable outermost (the last one
  //    varies fastest); the first point with the lowest value wins. Only the cells the division can
  //    reach are kept.
  int perAxis = std::max(1, gridPoints);
  if (std::pow(double(perAxis), nFree) > kMaxGridPoints)
    perAxis = std::max(1, int(std::floor(std::pow(kMaxGridPoints, 1.0 / nFree))));
  int64_t total = 1;
  for (int i = 0; i < nFree; ++i) total *= perAxis;
  std::vector<double> gridSide(nFree), zLo(nFree), zHi(nFree);
  for (int i = 0; i < nFree; ++i) {
    const int k = freeIndex[i];
    gridSide[i] = (hi[k] - lo[k]) / perAxis;
    zLo[i] = lo[k];
    zHi[i] = hi[k];
  }
  const bool search = maxIterations > 0;
  // Division evaluations: as many as the grid has points, at least 40 per free variable, at most 4000.
  const int64_t divisionBudget = search ? std::clamp<int64_t>(total, 40 * int64_t(nFree), 4000) : 0;
  const int64_t keep = std::min<int64_t>(total, divisionBudget / 2 + 4);
  struct Ranked {
    double value, plain;
    int64_t index;
    bool operator<(const Ranked& other) const {
      return value < other.value || (value == other.value && index < other.index);
    }
  };
  std::priority_queue<Ranked> kept;  // the worst kept cell on top
  std::vector<double> z(nFree);
  std::vector<int> counter(nFree, 0);
  for (int64_t g = 0; g < total; ++g) {
    for (int i = 0; i < nFree; ++i) {
      const int k = freeIndex[i];
      z[i] = lo[k] + (counter[i] + 0.5) * (hi[k] - lo[k]) / perAxis;
    }
    double plain = kWorst;
    const double value = sane(objective(z.data(), &plain));
    const Ranked r{value, plain, g};
    if (int64_t(kept.size()) < keep) {
      kept.push(r);
    } else if (r < kept.top()) {
      kept.pop();
      kept.push(r);
    }
    for (int i = nFree - 1; i >= 0; --i) {
      if (++counter[i] < perAxis) break;
      counter[i] = 0;
    }
  }
  std::vector<Ranked> gridBest;
  while (!kept.empty()) {
    gridBest.push_back(kept.top());
    kept.pop();
  }
  std::sort(gridBest.begin(), gridBest.end(), [](const Ranked& a, const Ranked& b) { return a.index < b.index; });
  CellPool pool(nFree, gridSide);
  const std::vector<uint8_t> gridLevel(nFree, 0);
  for (const Ranked& r : gridBest) {
    int64_t g = r.index;
    for (int i = nFree - 1; i >= 0; --i) {
      const int k = freeIndex[i];
      z[i] = lo[k] + (double(g % perAxis) + 0.5) * (hi[k] - lo[k]) / perAxis;
      g /= perAxis;
    }
    pool.add(z.data(), gridLevel.data(), r.value, r.plain);
  }
  // The best cell: lowest value, the earliest on ties.
  auto bestCell = [&] {
    int b = 0;
    for (int c = 1; c < pool.size(); ++c)
      if (pool.value(c) < pool.value(b)) b = c;
    return b;
  };
  // Nothing but failures on the grid: no basin to search (a curve of NaN, an input of zeros that
  // leaves every cost undefined).
  if (!search || !(pool.value(bestCell()) < VOID_VALUE)) {
    const int b = bestCell();
    return finish(std::vector<double>(pool.centre(b), pool.centre(b) + nFree), pool.plain(b));
  }

  // 2. Division: the potentially optimal cells are divided into thirds along their longest sides,
  //    the side whose two new centres are better first, until the division budget is spent.
  int64_t divisionEvaluations = 0;
  std::vector<double> probe(nFree), minusValue(nFree), plusValue(nFree), minusPlain(nFree), plusPlain(nFree);
  std::vector<int> axes;
  bool budgetLeft = true;
  while (budgetLeft) {
    const std::vector<int> chosen = potentiallyOptimal(pool);
    bool divided = false;
    for (int c : chosen) {
      const uint8_t* level = pool.level(c);
      const int longest = *std::min_element(level, level + nFree);
      if (longest >= kMaxLevel) continue;
      axes.clear();
      for (int i = 0; i < nFree; ++i)
        if (level[i] == longest) axes.push_back(i);
      if (divisionEvaluations + 2 * int64_t(axes.size()) > divisionBudget) {
        budgetLeft = false;
        break;
      }
      divisionEvaluations += 2 * int64_t(axes.size());
      const std::vector<double> middle(pool.centre(c), pool.centre(c) + nFree);
      std::vector<double> best(axes.size());
      for (size_t a = 0; a < axes.size(); ++a) {
        const int i = axes[a];
        const double third = pool.side(c, i) / 3;
        probe = middle;
        probe[i] = middle[i] - third;
        minusValue[i] = sane(objective(probe.data(), &minusPlain[i]));
        probe[i] = middle[i] + third;
        plusValue[i] = sane(objective(probe.data(), &plusPlain[i]));
        best[a] = std::min(minusValue[i], plusValue[i]);
      }
      std::vector<size_t> order(axes.size());
      std::iota(order.begin(), order.end(), 0);
      std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return best[a] < best[b]; });
      for (size_t a : order) {
        const int i = axes[a];
        const double third = pool.side(c, i) / 3;
        pool.refine(c, i);
        const std::vector<uint8_t> childLevel(pool.level(c), pool.level(c) + nFree);
        probe = middle;
        probe[i] = middle[i] - third;
        pool.add(probe.data(), childLevel.data(), minusValue[i], minusPlain[i]);
        probe[i] = middle[i] + third;
        pool.add(probe.data(), childLevel.data(), plusValue[i], plusPlain[i]);
      }
      divided = true;
    }
    if (!divided) break;
  }

  // 3. Simplex searches from the best cell and from the next best cells that are local minima of
  //    the pool (no touching cell is better), each sized to its cell; they share the iteration
  //    budget. The answer is the best point evaluated anywhere.
  std::vector<int> byValue(pool.size());
  std::iota(byValue.begin(), byValue.end(), 0);
  std::stable_sort(byValue.begin(), byValue.end(), [&](int a, int b) { return pool.value(a) < pool.value(b); });
  std::vector<int> starts;
  for (int c : byValue) {
    if (int(starts.size()) >= kMaxStarts) break;
    if (!starts.empty()) {
      bool minimum = true;
      for (int other = 0; other < pool.size() && minimum; ++other)
        if (other != c && pool.value(other) < pool.value(c) && pool.touch(c, other)) minimum = false;
      if (!minimum) continue;
    }
    starts.push_back(c);
  }

  const int best0 = byValue.front();
  twk::simplex::Result best{std::vector<double>(pool.centre(best0), pool.centre(best0) + nFree), pool.value(best0),
                            pool.plain(best0), true};
  int budget = maxIterations;
  std::vector<double> steps(nFree), bestSteps(nFree);
  for (int i = 0; i < nFree; ++i) bestSteps[i] = 0.5 * pool.side(best0, i);
  // The starts, best first, each take what the budget still holds. Each is searched to a coarse
  // tolerance, so that a start in a false basin does not spend the budget polishing its minimum,
  // in runs of at most 30 (nFree + 1) iterations or a seventh of the budget, whichever is more: a run
  // that has not met the tolerance by then is going down a long valley slowly, and a fresh simplex of
  // the cell's size from its end takes the valley's direction again (a larger budget lets runs go on
  // longer, since each fresh simplex spends iterations contracting again). The best end is then
  // polished to the full tolerance with what the starts left.
  const twk::simplex::Tolerance coarse{1e-6, 1e-4};
  const int runIterations = std::max(kRunIterations * (nFree + 1), maxIterations / 7);
  for (size_t s = 0; s < starts.size() && budget > 0; ++s) {
    const int c = starts[s];
    for (int i = 0; i < nFree; ++i) steps[i] = 0.5 * pool.side(c, i);
    twk::simplex::Result r{std::vector<double>(pool.centre(c), pool.centre(c) + nFree), pool.value(c), pool.plain(c),
                           false};
    while (budget > 0) {
      int run = std::min(budget, runIterations);
      const int before = run;
      twk::simplex::Result q = twk::simplex::minimise(objective, nFree, r.z, r.value, r.plain, steps,
                                                      keepInBounds ? zLo.data() : nullptr,
                                                      keepInBounds ? zHi.data() : nullptr, run, coarse);
      budget -= before - run;
      const bool improved = q.value < r.value, converged = q.converged;
      if (improved) r = std::move(q);
      r.converged = converged;
      if (converged || !improved) break;
    }
    if (r.value < best.value) {
      best = std::move(r);
      bestSteps = steps;
    }
  }
  if (budget > 0) {
    // An end that met the coarse tolerance lies close to its minimum: smaller edges polish it.
    if (best.converged)
      for (double& step : bestSteps) step *= 0.01;
    twk::simplex::Result r =
        twk::simplex::minimise(objective, nFree, best.z, best.value, best.plain, bestSteps,
                               keepInBounds ? zLo.data() : nullptr, keepInBounds ? zHi.data() : nullptr, budget);
    if (r.value < best.value) best = std::move(r);
  }
  return finish(best.z, best.plain);
}
