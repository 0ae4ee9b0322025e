// Interval branch and bound: best-first bisection of boxes ordered by their cost lower bound, with
// a grid-and-simplex search of the whole box at the start (its cost bounds the search from above, so
// that most boxes are discarded early, and it is not trapped in the basin of the box centre), short
// local fits from box centres that become the best point, and a polish of the best point at the end
// (the answer is the best point found, not a box centre).
#include <algorithm>
#include <cmath>
#include <queue>
#include <vector>

#include "TwkMem.h"
#include "TwkTypes.h"
#include "numerics/IntervalArith.h"
#include "numerics/Optimize.h"
#include "numerics/SimplexCore.h"

namespace {

constexpr double kInfinity = HUGE_VAL;

struct Settings {
  double boxTolerance = 1e-12;   // relative to the search box
  double costTolerance = 0;      // enclosure width at which the search ends
  bool relativeCost = true;      // costTolerance scaled by max(1, |best|)
  double targetCost = -kInfinity;
  int maxIterations = 0;
  bool showProgress = false;
};

// Point searches (nFree searched variables; a simplex iteration evaluates the cost at most
// nFree + 2 times). Their sizes follow the bisection budget B, so that a small budget stays cheap:
//   - first, PR_OptimizeAmoebaOverGrid over the whole search box with about
//     G = min(kSeedGridSize, B) grid points (at least 2 per variable) and
//     min(kSeedIterations nFree, B / 2) simplex iterations, so that the upper bound does not depend
//     on the basin of the box centre (a few hundred points find the basin; with bounds that close
//     as the square of the box the bisections settle the rest for less than a finer grid costs);
//   - a short fit of kPolishIterations per variable + 1 from each box centre that becomes the best
//     point (at most kMaxPolishes), and one from the centre of the open box of the lowest bound
//     every kProbeInterval bisections;
//   - last, a probe of the lowest open box (min(kLocalIterations nFree, B) iterations) and a
//     polish of the best point (min(kPolishBudget nFree, 2 B) iterations), which the
//     ill-conditioned costs of the exchange models need to converge.
// Optimize.h states the resulting bound on point evaluations.
constexpr int kLocalIterations = 60;
constexpr int kSeedIterations = 300;
constexpr int kPolishBudget = 1200;
constexpr double kSeedGridSize = 500;
constexpr int kPolishIterations = 15;
constexpr int kMaxPolishes = 24;
constexpr int kProbeInterval = 500;

int seedGridPoints(int nFree, int budget) {
  const double size = std::clamp(double(budget), 1.0, kSeedGridSize);
  return std::max(2, int(std::floor(std::pow(size, 1.0 / std::max(1, nFree)) + 1e-9)));
}

struct Result {
  std::vector<INTERVAL> bestBox;
  double bestCost = VOID_VALUE;
  std::vector<INTERVAL> confidence;
  INTERVAL costRange{VOID_VALUE, VOID_VALUE};
  int bisections = 0;
  bool stopped = false;
};

// Boxes live in a pool of nVars intervals per slot; freed slots are reused.
class BoxPool {
 public:
  explicit BoxPool(int nVars) : n_(nVars) {}
  int take() {
    if (!free_.empty()) {
      const int id = free_.back();
      free_.pop_back();
      return id;
    }
    data_.resize(data_.size() + n_);
    return int(data_.size() / n_) - 1;
  }
  void give(int id) { free_.push_back(id); }
  INTERVAL* at(int id) { return data_.data() + size_t(id) * n_; }

 private:
  int n_;
  std::vector<INTERVAL> data_;
  std::vector<int> free_;
};

// The side the cost callback named while it evaluated the current box (PR_SuggestBisectionAxis);
// one per thread, so that searches in many threads never see each other's hints.
thread_local int suggestedAxis = -1;

struct Entry {
  double lower;
  long long serial;  // insertion order breaks ties, so the search is deterministic
  int id;
  int axis;  // the side the callback named for this box, or -1
  bool operator>(const Entry& other) const {
    return lower > other.lower || (lower == other.lower && serial > other.serial);
  }
};

class BranchAndBound {
 public:
  BranchAndBound(int nVars, PR_BOXCOSTFUNC cost, void* context, const double* y, const double* x,
                 const Settings& settings)
      : n_(nVars), cost_(cost), context_(context), y_(y), x_(x), settings_(settings), pool_(nVars) {}

  bool run(const INTERVAL* box, Result& result) {
    root_.resize(n_);
    for (int i = 0; i < n_; ++i) {
      root_[i] = INTERVAL{std::min(box[i].lo, box[i].hi), std::max(box[i].lo, box[i].hi)};
      if (!std::isfinite(root_[i].lo) || !std::isfinite(root_[i].hi)) return false;
    }
    const int rootId = pool_.take();
    std::copy(root_.begin(), root_.end(), pool_.at(rootId));
    consider(rootId, -kInfinity);
    freeAxes_.clear();
    for (int i = 0; i < n_; ++i)
      if (root_[i].hi > root_[i].lo) freeAxes_.push_back(i);
    // A global point search first: its cost is an upper bound that discards most boxes at once.
    seedSearch();
    weighAxes();
    polishPending_ = false;
    std::vector<double> steps(freeAxes_.size());

    twk::ProgressGuard progress(L"Global optimization", settings_.showProgress);
    int iteration = 0;
    while (!open_.empty() && iteration < settings_.maxIterations) {
      const Entry top = open_.top();
      if (top.lower > best_) {  // cannot hold anything better than what was found
        open_.pop();
        pool_.give(top.id);
        continue;
      }
      const double lowest = std::min(top.lower, finalLowest_);
      if (best_ <= settings_.targetCost) break;
      const double scale = settings_.relativeCost ? std::max(1.0, std::fabs(best_)) : 1.0;
      if (best_ - lowest <= settings_.costTolerance * scale) break;
      open_.pop();

      INTERVAL* b = pool_.at(top.id);
      // The side to halve: the longest in the cost's own units (width times axis weight); a box
      // whose every side is within the tolerance is kept whole.
      int axis = -1;
      double longest = 0, widest = 0;
      for (int i = 0; i < n_; ++i) {
        const double rootWidth = root_[i].hi - root_[i].lo;
        if (!(rootWidth > 0)) continue;
        const double relative = (b[i].hi - b[i].lo) / rootWidth;
        widest = std::max(widest, relative);
        const double scaled = relative * axisWeight_[i];
        if (relative > settings_.boxTolerance && scaled > longest) {
          longest = scaled;
          axis = i;
        }
      }
      // The side the callback named, while it is still above the tolerance.
      if (top.axis >= 0 && root_[top.axis].hi > root_[top.axis].lo &&
          (b[top.axis].hi - b[top.axis].lo) / (root_[top.axis].hi - root_[top.axis].lo) > settings_.boxTolerance)
        axis = top.axis;
      if (axis < 0 || widest <= settings_.boxTolerance) {
        keepFinal(top);  // small enough: stays a candidate without further splitting
        continue;
      }
      const double mid = 0.5 * (b[axis].lo + b[axis].hi);
      if (!(mid > b[axis].lo && mid < b[axis].hi)) {
        keepFinal(top);  // no double lies strictly inside: cannot split further
        continue;
      }
      const int leftId = pool_.take();
      const int rightId = pool_.take();
      b = pool_.at(top.id);  // the pool may have moved
      std::copy(b, b + n_, pool_.at(leftId));
      std::copy(b, b + n_, pool_.at(rightId));
      pool_.at(leftId)[axis].hi = mid;
      pool_.at(rightId)[axis].lo = mid;
      pool_.give(top.id);
      consider(leftId, top.lower);
      consider(rightId, top.lower);
      // A box centre that became the best point: a short fit from it, sized to its box.
      if (polishPending_ && polishes_ < kMaxPolishes) {
        ++polishes_;
        for (size_t k = 0; k < freeAxes_.size(); ++k) steps[k] = 0.5 * bestHalf_[freeAxes_[k]];
        localFit(steps, kPolishIterations * (int(freeAxes_.size()) + 1));
      }
      polishPending_ = false;
      ++iteration;
      if (iteration % kProbeInterval == 0) probeLowestBox(steps, kPolishIterations * (int(freeAxes_.size()) + 1));
      if (!progress.Step(iteration, settings_.maxIterations, 1, 98)) {
        result.stopped = true;
        break;
      }
    }
    progress.End();

    // Probe the most promising open box, and polish the best point within reach of the box that
    // gave it.
    if (!result.stopped && best_ < VOID_VALUE) {
      const int budget = settings_.maxIterations, nFree = int(freeAxes_.size());
      probeLowestBox(steps, std::min(kLocalIterations * nFree, budget));
      for (size_t k = 0; k < freeAxes_.size(); ++k) {
        const INTERVAL r = root_[freeAxes_[k]];
        steps[k] = std::max(bestHalf_[freeAxes_[k]], 1e-9 * (r.hi - r.lo));
      }
      localFit(steps, std::min(kPolishBudget * nFree, 2 * budget));
    }

    result.bisections = iteration;
    result.bestCost = best_;
    // The reported box is centred on the best point, as wide as the box it came from (within the
    // search box).
    result.bestBox.resize(n_);
    for (int i = 0; i < n_ && !bestPoint_.empty(); ++i) {
      const double p = bestPoint_[i];
      const double h = std::max(0.0, std::min({bestHalf_[i], p - root_[i].lo, root_[i].hi - p}));
      result.bestBox[i] = INTERVAL{p - h, p + h};
    }
    // The enclosure: every box that may still hold a minimiser.
    double lowest = best_;
    bool any = false;
    std::vector<INTERVAL> hull(n_);
    auto include = [&](const Entry& e) {
      if (e.lower > best_) return;
      lowest = std::min(lowest, e.lower);
      const INTERVAL* b = pool_.at(e.id);
      for (int i = 0; i < n_; ++i) {
        hull[i] = any ? INTERVAL{std::min(hull[i].lo, b[i].lo), std::max(hull[i].hi, b[i].hi)} : b[i];
      }
      any = true;
    };
    for (const Entry& e : final_) include(e);
    while (!open_.empty()) {
      include(open_.top());
      open_.pop();
    }
    result.confidence = any ? hull : result.bestBox;
    result.costRange = INTERVAL{std::min(lowest, best_), best_};
    return !result.stopped && !bestPoint_.empty() && std::isfinite(best_) && best_ < VOID_VALUE;
  }

 private:
  // Evaluates a box: keeps it when it may hold a point better than the best so far, and records its
  // centre when that is the best point yet.
  void consider(int id, double parentLower) {
    INTERVAL* b = pool_.at(id);
    double lower = kInfinity, centre = VOID_VALUE, upper = VOID_VALUE;
    suggestedAxis = -1;
    cost_(context_, b, y_, x_, &lower, &centre, &upper);
    const int hint = suggestedAxis;
    suggestedAxis = -1;
    if (std::isnan(lower)) lower = -kInfinity;
    if (std::isnan(centre)) centre = VOID_VALUE;
    // A sub-box never has a smaller minimum than the box it came from.
    lower = std::max(lower, parentLower);
    b = pool_.at(id);
    if (bestPoint_.empty() || centre < best_) {
      best_ = std::min(best_, centre);
      bestPoint_.resize(n_);
      bestHalf_.resize(n_);
      for (int i = 0; i < n_; ++i) {
        bestPoint_[i] = IntervalMid(b[i]);
        bestHalf_[i] = 0.5 * (b[i].hi - b[i].lo);
      }
      polishPending_ = centre < VOID_VALUE;
    }
    if (lower >= VOID_VALUE || lower > best_) {
      pool_.give(id);
      return;
    }
    open_.push(Entry{lower, serial_++, id, hint >= 0 && hint < n_ ? hint : -1});
  }

  // The cost at a point: the callback's centre cost of the box that holds only that point.
  struct PointCost : twk::simplex::Objective {
    BranchAndBound* self = nullptr;
    double operator()(const double* z, double* plain) const override {
      BranchAndBound& s = *self;
      for (int i = 0; i < s.n_; ++i) s.point_[i] = s.root_[i];
      for (size_t k = 0; k < s.freeAxes_.size(); ++k) s.point_[s.freeAxes_[k]] = IntervalPoint(z[k]);
      double lower = kInfinity, centre = VOID_VALUE, upper = VOID_VALUE;
      s.cost_(s.context_, s.point_.data(), s.y_, s.x_, &lower, &centre, &upper);
      const double value = std::isnan(centre) || centre >= VOID_VALUE ? twk::simplex::kWorst : centre;
      // Every point evaluated counts: a better one becomes the best point at once, so that it
      // discards boxes from then on.
      if (value < s.best_) {
        s.best_ = value;
        for (size_t k = 0; k < s.freeAxes_.size(); ++k) s.bestPoint_[s.freeAxes_[k]] = z[k];
      }
      *plain = value;
      return value;
    }
  };

  // The cost at a full point x for the grid search; every point it evaluates may become the best.
  static double seedCost(void* context, const double* x, const double* dx) {
    BranchAndBound& s = *static_cast<BranchAndBound*>(context);
    std::vector<double>& z = s.seedZ_;
    for (size_t k = 0; k < s.freeAxes_.size(); ++k) {
      const int i = s.freeAxes_[k];
      z[k] = dx ? x[i] + dx[i] : x[i];
    }
    PointCost f;
    f.self = &s;
    double plain = VOID_VALUE;
    f(z.data(), &plain);
    return plain;
  }

  // Grid, division and simplexes over the whole search box (PR_OptimizeAmoebaOverGrid).
  void seedSearch() {
    const int nFree = int(freeAxes_.size());
    if (nFree == 0) return;
    point_.resize(n_);
    seedZ_.resize(nFree);
    if (bestPoint_.empty()) {
      bestPoint_.resize(n_);
      bestHalf_.resize(n_);
      for (int i = 0; i < n_; ++i) {
        bestPoint_[i] = IntervalMid(root_[i]);
        bestHalf_[i] = 0.5 * (root_[i].hi - root_[i].lo);
      }
    }
    std::vector<double> x(n_);
    double cost = VOID_VALUE;
    const int budget = settings_.maxIterations;
    const int perAxis = seedGridPoints(nFree, budget);
    PR_OptimizeAmoebaOverGrid(perAxis, n_, root_.data(), true, seedCost, this,
                              std::max(1, std::min(kSeedIterations * nFree, budget / 2)), 0.0, &cost,
                              x.data());
    // The best point's reach: half a grid cell.
    for (int i : freeAxes_) bestHalf_[i] = 0.5 * (root_[i].hi - root_[i].lo) / perAxis;
  }

  // Weights of the axes for the choice of the side to halve: the square root of the cost's
  // curvature along each axis at the best point (second differences over a thousandth of the
  // search box), times the axis's width in the search box, so that a side is halved when it is long
  // compared with the scale on which the cost changes there, not compared with the search box. A
  // well determined parameter is then cut finely and a poorly determined one is left wide, which is
  // what closes the bounds of a least-squares cost with few boxes. Axes without curvature get a
  // small floor, so that every side is halved in the end.
  void weighAxes() {
    axisWeight_.assign(n_, 1.0);
    const int nFree = int(freeAxes_.size());
    if (nFree == 0 || bestPoint_.empty() || !(best_ < VOID_VALUE)) return;
    std::vector<double> z(nFree), weight(nFree, 0.0);
    PointCost f;
    f.self = this;
    point_.resize(n_);
    const std::vector<double> centre = bestPoint_;
    double middle = VOID_VALUE;
    for (int k = 0; k < nFree; ++k) z[k] = centre[freeAxes_[k]];
    f(z.data(), &middle);
    double largest = 0;
    for (int k = 0; k < nFree; ++k) {
      const INTERVAL r = root_[freeAxes_[k]];
      const double step = 1e-3 * (r.hi - r.lo);
      const double at = std::clamp(centre[freeAxes_[k]], r.lo + step, r.hi - step);
      double values[3];
      for (int s = 0; s < 3; ++s) {
        for (int m = 0; m < nFree; ++m) z[m] = centre[freeAxes_[m]];
        z[k] = at + (s - 1) * step;
        f(z.data(), &values[s]);
      }
      const double curvature = (values[0] - 2 * values[1] + values[2]) / (step * step);
      if (std::isfinite(curvature) && curvature > 0 && values[0] < VOID_VALUE && values[2] < VOID_VALUE)
        weight[k] = std::sqrt(curvature) * (r.hi - r.lo);
      largest = std::max(largest, weight[k]);
    }
    if (!(largest > 0)) return;
    for (int k = 0; k < nFree; ++k) axisWeight_[freeAxes_[k]] = std::max(weight[k], 1e-3 * largest) / largest;
  }

  // A simplex fit inside the search box from the best point, with initial edges `steps` (one per
  // free axis); the points it evaluates enter the best point through PointCost.
  void localFit(const std::vector<double>& steps, int iterations, const INTERVAL* from = nullptr) {
    const int nFree = int(freeAxes_.size());
    if (nFree == 0 || bestPoint_.empty() || !(best_ < VOID_VALUE)) return;
    std::vector<double> start(nFree), lower(nFree), upper(nFree);
    for (int k = 0; k < nFree; ++k) {
      start[k] = from ? IntervalMid(from[freeAxes_[k]]) : bestPoint_[freeAxes_[k]];
      lower[k] = root_[freeAxes_[k]].lo;
      upper[k] = root_[freeAxes_[k]].hi;
    }
    point_.resize(n_);
    PointCost f;
    f.self = this;
    double value = best_;
    if (from) f(start.data(), &value);
    int budget = iterations;
    twk::simplex::minimise(f, nFree, start, value, value, steps, lower.data(), upper.data(), budget);
  }

  // A short fit from the centre of the open box of the lowest lower bound: the basin the bounds
  // point to, which need not be the basin of the best point.
  void probeLowestBox(std::vector<double>& steps, int iterations) {
    if (open_.empty()) return;
    const INTERVAL* b = pool_.at(open_.top().id);
    std::vector<INTERVAL> box(b, b + n_);
    for (size_t k = 0; k < freeAxes_.size(); ++k) steps[k] = 0.5 * (box[freeAxes_[k]].hi - box[freeAxes_[k]].lo);
    localFit(steps, iterations, box.data());
  }

  void keepFinal(const Entry& e) {
    final_.push_back(e);
    finalLowest_ = std::min(finalLowest_, e.lower);
  }

  int n_;
  PR_BOXCOSTFUNC cost_;
  void* context_;
  const double* y_;
  const double* x_;
  Settings settings_;
  BoxPool pool_;
  std::vector<INTERVAL> root_;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> open_;
  std::vector<Entry> final_;
  double finalLowest_ = kInfinity;
  double best_ = VOID_VALUE;
  std::vector<double> bestPoint_, bestHalf_;  // the best point found and the half-widths of its box
  std::vector<int> freeAxes_;                 // the axes the search box does not hold fixed
  std::vector<double> axisWeight_;            // how finely each axis is halved (weighAxes)
  std::vector<INTERVAL> point_;               // the point box of the local fits
  std::vector<double> seedZ_;                 // the free variables of a grid search point
  bool polishPending_ = false;                // a box centre has just become the best point
  int polishes_ = 0;
  long long serial_ = 0;
};

bool search(int nVars, PR_BOXCOSTFUNC cost, void* context, const INTERVAL* box, const double* y, const double* x,
            const Settings& settings, INTERVAL* bestBox, double* bestCost, INTERVAL* confidenceBox,
            INTERVAL* costRange, double* bisections) {
  if (nVars < 1 || !cost || !box || !bestBox || !bestCost) return false;
  Result result;
  BranchAndBound engine(nVars, cost, context, y, x, settings);
  const bool ok = engine.run(box, result);
  if (bisections) *bisections = result.bisections;
  if (!ok) return false;
  std::copy(result.bestBox.begin(), result.bestBox.end(), bestBox);
  *bestCost = result.bestCost;
  if (confidenceBox) std::copy(result.confidence.begin(), result.confidence.end(), confidenceBox);
  if (costRange) *costRange = result.costRange;
  return true;
}

}  // namespace

void PR_SuggestBisectionAxis(int axis) { suggestedAxis = axis; }

bool PR_GO_NonconstrCostOptimizeSLX(int nVars, PR_BOXCOSTFUNC cost, void* context, const INTERVAL* box,
                                    const double* y, const double* x, double boxTolerance,
                                    double costTolerance, int maxIterations, INTERVAL* bestBox,
                                    double* bestCost, INTERVAL* confidenceBox, INTERVAL* costRange,
                                    double* bisections, bool showProgress) {
  Settings settings;
  settings.boxTolerance = boxTolerance > 0 ? boxTolerance : 1e-12;
  settings.costTolerance = std::max(0.0, costTolerance);
  settings.relativeCost = true;
  settings.maxIterations = std::max(0, maxIterations);
  settings.showProgress = showProgress;
  return search(nVars, cost, context, box, y, x, settings, bestBox, bestCost, confidenceBox, costRange, bisections);
}

bool PR_GOWSS_OptimizeBestSol(int nVars, PR_BOXCOSTFUNC cost, void* context, const INTERVAL* box,
                              double targetCost, int maxIterations, INTERVAL* bestBox, double* bestCost,
                              INTERVAL* confidenceBox, INTERVAL* costRange, double* bisections,
                              bool showProgress) {
  Settings settings;
  settings.boxTolerance = 1e-12;
  settings.costTolerance = std::max(0.0, targetCost);
  settings.relativeCost = false;
  settings.targetCost = targetCost;
  settings.maxIterations = std::max(0, maxIterations);
  settings.showProgress = showProgress;
  return search(nVars, cost, context, box, nullptr, nullptr, settings, bestBox, bestCost, confidenceBox, costRange,
                bisections);
}
