#pragma once
// The downhill simplex (Nelder-Mead) shared by the grid search and PR_AmoebaPlus. Internal to the
// numerics family: callers use Optimize.h.

#include <cmath>
#include <vector>

namespace twk::simplex {

constexpr double kWorst = HUGE_VAL;

// A cost as the simplex sees it: NaN is the worst value.
inline double sane(double v) { return std::isnan(v) ? kWorst : v; }

// The objective over the free variables z (dimension n). It returns the value the simplex minimises
// and writes the plain cost of the point through `plain`.
struct Objective {
  virtual ~Objective() = default;
  virtual double operator()(const double* z, double* plain) const = 0;
};

struct Result {
  std::vector<double> z;
  double value = kWorst;  // minimised objective
  double plain = kWorst;  // the caller's cost at z
  bool converged = false;  // false: the iteration budget ran out first
};

// When a run ends: its vertex values agree to `spread` of their magnitude and its vertices lie within
// `size` of the initial edges of the best one (or it has stopped improving).
struct Tolerance {
  double spread = 1e-11;
  double size = 1e-9;
};

// Minimises from `start` (whose objective value and plain cost are known) with initial simplex
// edges `steps`, within [lower, upper] when both are given (vertices are clamped into the box),
// and restarts a fresh simplex at its own minimum while a restart still improves it, so that a
// simplex that collapsed (onto a bound, or flat along some direction) gets a new shape. Uses at most
// `budget` iterations, which it decrements; an iteration evaluates the objective at most n + 2 times.
Result minimise(const Objective& f, int n, const std::vector<double>& start, double startValue, double startPlain,
                const std::vector<double>& steps, const double* lower, const double* upper, int& budget,
                const Tolerance& tolerance = {});

}  // namespace twk::simplex
