// Downhill simplex (Nelder-Mead) with restarts, and the offset refinement PR_AmoebaPlus.
#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "TwkTypes.h"
#include "numerics/Optimize.h"
#include "numerics/SimplexCore.h"

namespace twk::simplex {
namespace {

constexpr int kMaxRestarts = 10;
// A run ends when its values agree to a fraction of their magnitude (by default 1e-11: costs computed
// from thousands of samples carry rounding noise well above 1e-13 of their value) and its vertices lie
// within a fraction of the initial edges of the best one, or it has stopped improving.

struct Vertex {
  std::vector<double> z;
  double value = kWorst;  // minimised objective
  double plain = kWorst;  // the caller's cost
};

class Simplex {
 public:
  Simplex(const Objective& objective, int n, const double* lower, const double* upper, double spread)
      : f_(objective), n_(n), lower_(lower), upper_(upper), spread_(spread), v_(n + 1), order_(n + 1), centroid_(n),
        bestZ_(n) {
    if (n_ >= 3) {
      // Dimension-adapted coefficients keep the simplex from collapsing in higher dimensions.
      expand_ = 1.0 + 2.0 / n_;
      contract_ = 0.75 - 0.5 / n_;
      shrink_ = 1.0 - 1.0 / n_;
    }
    for (Vertex* w : {&reflected_, &expanded_, &contracted_}) w->z.resize(n_);
  }

  // How a run ended.
  enum class Stop { kBudget, kSmall, kStalled };

  // Minimises from `start` (objective value and plain cost known) with initial edges `steps` until
  // the vertices lie within xtol of the best one (and agree in value) or the run stalls; uses at most
  // `budget` iterations (decremented).
  Result run(const std::vector<double>& start, double startValue, double startPlain, const std::vector<double>& steps,
             const std::vector<double>& xtol, int& budget, Stop* stop) {
    std::vector<Vertex>& v = v_;
    v[0].z = start;
    clamp(v[0].z);
    if (v[0].z == start) {
      v[0].value = sane(startValue);
      v[0].plain = sane(startPlain);
    } else {
      evaluate(v[0]);
    }
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
    double lastBest = kWorst;
    int sinceImprovement = 0;
    *stop = Stop::kBudget;
    while (budget > 0) {
      std::iota(order_.begin(), order_.end(), 0);
      std::stable_sort(order_.begin(), order_.end(), [&](int a, int b) { return v[a].value < v[b].value; });
      const Vertex& best = v[order_[0]];
      const Vertex& worst = v[order_[n_]];
      const Vertex& secondWorst = v[order_[n_ - 1]];
      if (best.value < lastBest) {
        lastBest = best.value;
        sinceImprovement = 0;
      } else {
        ++sinceImprovement;
      }
      if (isConverged(xtol, sinceImprovement, stop)) break;
      --budget;

      std::fill(centroid_.begin(), centroid_.end(), 0.0);
      for (int k = 0; k < n_; ++k)
        for (int i = 0; i < n_; ++i) centroid_[i] += v[order_[k]].z[i];
      for (int i = 0; i < n_; ++i) centroid_[i] /= n_;

      along(worst.z, -reflect_, reflected_);
      if (reflected_.value < best.value) {
        along(worst.z, -reflect_ * expand_, expanded_);
        v[order_[n_]] = expanded_.value < reflected_.value ? expanded_ : reflected_;
        continue;
      }
      if (reflected_.value < secondWorst.value) {
        v[order_[n_]] = reflected_;
        continue;
      }
      // Contract outside (towards the reflected point) or inside (towards the worst vertex).
      if (reflected_.value < worst.value) {
        along(worst.z, -reflect_ * contract_, contracted_);
        if (contracted_.value <= reflected_.value) {
          v[order_[n_]] = contracted_;
          continue;
        }
      } else {
        along(worst.z, contract_, contracted_);
        if (contracted_.value < worst.value) {
          v[order_[n_]] = contracted_;
          continue;
        }
      }
      // Shrink every vertex towards the best one.
      bestZ_ = v[order_[0]].z;
      for (int k = 1; k <= n_; ++k) {
        Vertex& w = v[order_[k]];
        for (int i = 0; i < n_; ++i) w.z[i] = bestZ_[i] + shrink_ * (w.z[i] - bestZ_[i]);
        clamp(w.z);
        evaluate(w);
      }
    }
    int bestIndex = 0;
    for (int k = 1; k <= n_; ++k)
      if (v[k].value < v[bestIndex].value) bestIndex = k;
    return Result{v[bestIndex].z, v[bestIndex].value, v[bestIndex].plain, *stop != Stop::kBudget};
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
  void along(const std::vector<double>& from, double t, Vertex& out) const {
    for (int i = 0; i < n_; ++i) out.z[i] = centroid_[i] + t * (from[i] - centroid_[i]);
    clamp(out.z);
    evaluate(out);
  }
  bool isConverged(const std::vector<double>& xtol, int sinceImprovement, Stop* stop) const {
    const std::vector<Vertex>& v = v_;
    const double fBest = v[order_[0]].value, fWorst = v[order_[n_]].value;
    if (!std::isfinite(fBest)) return false;
    const double fSpread = fWorst - fBest;
    const double fTolerance = spread_ * (std::fabs(fBest) + std::fabs(fWorst)) + 1e-290;
    if (!(fSpread <= fTolerance)) return false;
    // Values agree: done when the simplex is also small, or when it has stopped improving (a
    // direction in which the cost does not change never shrinks).
    const std::vector<double>& b = v[order_[0]].z;
    bool small = true;
    for (int k = 1; k <= n_ && small; ++k)
      for (int i = 0; i < n_ && small; ++i) small = std::fabs(v[order_[k]].z[i] - b[i]) <= xtol[i];
    if (small) {
      *stop = Stop::kSmall;
      return true;
    }
    if (sinceImprovement > 20 * (n_ + 1)) {
      *stop = Stop::kStalled;
      return true;
    }
    return false;
  }

  const Objective& f_;
  int n_;
  const double* lower_;
  const double* upper_;
  double spread_;
  double reflect_ = 1.0, expand_ = 2.0, contract_ = 0.5, shrink_ = 0.5;
  std::vector<Vertex> v_;
  std::vector<int> order_;
  std::vector<double> centroid_, bestZ_;
  Vertex reflected_, expanded_, contracted_;
};

}  // namespace

Result minimise(const Objective& f, int n, const std::vector<double>& start, double startValue, double startPlain,
                const std::vector<double>& steps, const double* lower, const double* upper, int& budget,
                const Tolerance& tolerance) {
  Simplex simplex(f, n, lower, upper, tolerance.spread);
  std::vector<double> xtol(n);
  for (int i = 0; i < n; ++i) xtol[i] = tolerance.size * std::fabs(steps[i]);
  Result best{start, sane(startValue), sane(startPlain), false};
  for (int restart = 0; restart <= kMaxRestarts && budget > 0; ++restart) {
    Simplex::Stop stop = Simplex::Stop::kBudget;
    Result r = simplex.run(best.z, best.value, best.plain, steps, xtol, budget, &stop);
    const bool improved = r.value < best.value;
    const double gain = best.value - r.value;
    const bool converged = r.converged;
    if (improved) best = std::move(r);
    best.converged = converged;
    // A run that shrank to a point away from the bounds has found its minimum. One that ended on a
    // bound, or stalled, may have collapsed: a fresh simplex from its end gets a new shape.
    bool onBound = false;
    for (int i = 0; lower && upper && i < n && !onBound; ++i)
      onBound = best.z[i] == lower[i] || best.z[i] == upper[i];
    if (stop == Simplex::Stop::kSmall && !onBound) break;
    if (!improved || !(gain > 1e-10 * std::fabs(best.value))) break;
  }
  return best;
}

}  // namespace twk::simplex

namespace {

using twk::simplex::kWorst;
using twk::simplex::sane;

// The offset refinement's objective: the free offset components fill their slots of the full offset.
struct OffsetObjective : twk::simplex::Objective {
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

}  // namespace

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
    double startPlain = kWorst;
    const double startValue = objective(start.data(), &startPlain);
    int budget = maxIterations;
    const twk::simplex::Result r =
        twk::simplex::minimise(objective, nFree, start, startValue, startPlain, edge, bounded ? zLo.data() : nullptr,
                               bounded ? zHi.data() : nullptr, budget);
    for (int i = 0; i < nFree; ++i) result[freeIndex[i]] = r.z[i];
    resultCost = r.plain;
  }
  if (!(std::isfinite(resultCost) && resultCost < VOID_VALUE)) return false;
  std::copy(result.begin(), result.end(), offset);
  if (bestCost) *bestCost = resultCost;
  return true;
}
