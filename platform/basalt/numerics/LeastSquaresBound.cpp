// A lower bound of a sum of squared residuals over a box from a linearisation at its centre.
//
// For every residual r_i and every point p = c + d of the box (|d_j| <= h_j), the mean value theorem
// gives r_i(p) = r_i(c) + J_i(xi) d for a xi in the box, so that with any matrix M
//   r_i(p) = r_i(c) + M_i d + rho_i,  |rho_i| <= e_i = sum_j max(|J_ij.hi - M_ij|, |M_ij - J_ij.lo|) h_j,
// J_ij the caller's enclosure of dr_i/dp_j over the box. For any unit vector z,
//   ||r(p)|| >= |z.r(p)| >= |z.r(c)| - sum_j |(M^T z)_j| h_j - sum_i |z_i| e_i.
// The bound is valid for every z and every M. With M the Jacobian at the centre and z the residual of
// the linear least-squares step taken within the box, the first two terms together are the box's
// own minimum of the linearisation (optimality of the step), and the last one shrinks as the square
// of the box: boxes near a minimum close quickly, and boxes away from it are pruned as soon as
// their linearised minimum lies above the best cost. The residual itself as z gives the first-order
// form; the larger of the two is returned. Rounding of the sums is covered by a margin
// proportional to the sums of magnitudes.
#include <algorithm>
#include <cmath>

#include "numerics/Optimize.h"

namespace {

constexpr int kMaxColumns = 8;

// |z.r(c)| - sum_j |(M^T z)_j| h_j - sum_i |z_i| e_i, divided by ||z||, with rounding margins; 0 when
// z is zero or not finite.
double boundAlong(int n, int k, const double* z, const double* residual, const double* jacobian,
                  const double* spread, const double* halfWidth) {
  const double eps = double(n + 8) * 0x1p-52;
  double along = 0, alongAbs = 0, norm = 0, spreadSum = 0;
  double column[kMaxColumns] = {}, columnAbs[kMaxColumns] = {};
  for (int i = 0; i < n; ++i) {
    const double zi = z[i];
    along += zi * residual[i];
    alongAbs += std::fabs(zi * residual[i]);
    norm += zi * zi;
    spreadSum += std::fabs(zi) * spread[i];
    const double* row = jacobian + size_t(i) * k;
    for (int j = 0; j < k; ++j) {
      column[j] += zi * row[j];
      columnAbs[j] += std::fabs(zi * row[j]);
    }
  }
  if (!(norm > 0) || !std::isfinite(norm)) return 0;
  double bound = std::fabs(along) - eps * alongAbs - spreadSum * (1 + eps);
  for (int j = 0; j < k; ++j) bound -= (std::fabs(column[j]) + eps * columnAbs[j]) * halfWidth[j] * (1 + eps);
  bound /= std::sqrt(norm) * (1 + eps);
  return std::isfinite(bound) ? std::max(0.0, bound) : 0;
}

// Solves the k x k symmetric system A x = b by Cholesky with a small ridge; false when A is not
// positive even then.
bool solveSymmetric(int k, double* a, double* b) {
  double trace = 0;
  for (int j = 0; j < k; ++j) trace += a[j * k + j];
  const double ridge = 1e-13 * trace + 1e-300;
  for (int j = 0; j < k; ++j) a[j * k + j] += ridge;
  for (int j = 0; j < k; ++j) {
    double d = a[j * k + j];
    for (int m = 0; m < j; ++m) d -= a[j * k + m] * a[j * k + m];
    if (!(d > 0)) return false;
    d = std::sqrt(d);
    a[j * k + j] = d;
    for (int i = j + 1; i < k; ++i) {
      double s = a[i * k + j];
      for (int m = 0; m < j; ++m) s -= a[i * k + m] * a[j * k + m];
      a[i * k + j] = s / d;
    }
  }
  for (int i = 0; i < k; ++i) {
    double s = b[i];
    for (int m = 0; m < i; ++m) s -= a[i * k + m] * b[m];
    b[i] = s / a[i * k + i];
  }
  for (int i = k - 1; i >= 0; --i) {
    double s = b[i];
    for (int m = i + 1; m < k; ++m) s -= a[m * k + i] * b[m];
    b[i] = s / a[i * k + i];
  }
  return true;
}

// Minimises q(d) = 1/2 d'Ad + b'd over |d_j| <= h_j (A = M'M, b = M'r: the linear least-squares
// step restricted to the box) by a primal active-set method from the centre d = 0: solve for the
// free variables with the others held on their bounds, walk towards that solution until a bound is
// met (which then holds its variable), and free a held variable whose gradient points into the box.
// Any d in the box keeps the caller's bound valid, so the iteration count is simply capped.
void boxStep(int k, const double* a, const double* b, const double* h, double* d) {
  bool held[kMaxColumns] = {};
  for (int j = 0; j < k; ++j) d[j] = 0;
  for (int round = 0; round < 4 * k + 4; ++round) {
    int freeIndex[kMaxColumns], nFree = 0;
    for (int j = 0; j < k; ++j)
      if (!held[j]) freeIndex[nFree++] = j;
    double target[kMaxColumns];
    for (int j = 0; j < k; ++j) target[j] = d[j];
    if (nFree > 0) {
      double sub[kMaxColumns * kMaxColumns], rhs[kMaxColumns];
      for (int u = 0; u < nFree; ++u) {
        const int j = freeIndex[u];
        double v = -b[j];
        for (int m = 0; m < k; ++m)
          if (held[m]) v -= a[j * k + m] * d[m];
        rhs[u] = v;
        for (int w = 0; w < nFree; ++w) sub[u * nFree + w] = a[j * k + freeIndex[w]];
      }
      if (!solveSymmetric(nFree, sub, rhs)) return;
      for (int u = 0; u < nFree; ++u) target[freeIndex[u]] = rhs[u];
    }
    // Walk from d towards the target, stopping at the first bound met.
    double step = 1;
    int blocking = -1;
    for (int u = 0; u < nFree; ++u) {
      const int j = freeIndex[u];
      const double move = target[j] - d[j];
      if (move > 0 && target[j] > h[j]) {
        const double s = (h[j] - d[j]) / move;
        if (s < step) step = s, blocking = j;
      } else if (move < 0 && target[j] < -h[j]) {
        const double s = (-h[j] - d[j]) / move;
        if (s < step) step = s, blocking = j;
      }
    }
    for (int u = 0; u < nFree; ++u) {
      const int j = freeIndex[u];
      d[j] = std::clamp(d[j] + std::max(0.0, step) * (target[j] - d[j]), -h[j], h[j]);
    }
    if (blocking >= 0) {
      d[blocking] = target[blocking] > 0 ? h[blocking] : -h[blocking];
      held[blocking] = true;
      continue;
    }
    // At the minimum over the free variables: free the held variable whose gradient points most
    // into the box, or stop.
    int release = -1;
    double worst = 0;
    for (int j = 0; j < k; ++j) {
      if (!held[j]) continue;
      double g = b[j];
      for (int m = 0; m < k; ++m) g += a[j * k + m] * d[m];
      const double into = d[j] >= h[j] ? g : -g;  // > 0: decreasing q moves d_j inside
      if (into > worst) worst = into, release = j;
    }
    if (release < 0) return;
    held[release] = false;
  }
}

// Names to the branch and bound the side that loses most of the bound along z: the first-order
// term |(M^T z)_j| h_j plus the side's share of the remainder, h_j sum_i |z_i| |J_ij - M_ij|.
void suggestSide(int n, int k, const double* z, const double* jacobian, const INTERVAL* slopes,
                 const double* halfWidth) {
  double loss[kMaxColumns] = {}, column[kMaxColumns] = {};
  for (int i = 0; i < n; ++i) {
    const double* row = jacobian + size_t(i) * k;
    const INTERVAL* s = slopes + size_t(i) * k;
    const double zi = std::fabs(z[i]);
    for (int j = 0; j < k; ++j) {
      column[j] += z[i] * row[j];
      loss[j] += zi * std::max(std::fabs(s[j].hi - row[j]), std::fabs(row[j] - s[j].lo));
    }
  }
  int axis = -1;
  double largest = 0;
  for (int j = 0; j < k; ++j) {
    const double total = (std::fabs(column[j]) + loss[j]) * halfWidth[j];
    if (total > largest) largest = total, axis = j;
  }
  if (axis >= 0) PR_SuggestBisectionAxis(axis);
}

}  // namespace

double PR_LeastSquaresBoxBound(int n, int k, const double* residual, const double* jacobian, const INTERVAL* slopes,
                               const double* halfWidth, const double* slack, double* work, bool suggestAxis) {
  if (n < 1 || k < 1 || k > kMaxColumns || !residual || !jacobian || !slopes || !halfWidth || !work) return 0;
  double* spread = work;
  double* z = work + n;
  for (int i = 0; i < n; ++i) {
    double e = slack ? slack[i] : 0;
    const double* row = jacobian + size_t(i) * k;
    const INTERVAL* s = slopes + size_t(i) * k;
    for (int j = 0; j < k; ++j) e += std::max(std::fabs(s[j].hi - row[j]), std::fabs(row[j] - s[j].lo)) * halfWidth[j];
    spread[i] = e * (1 + 0x1p-50);
  }
  // The residual's own direction: the first-order form.
  double best = boundAlong(n, k, residual, residual, jacobian, spread, halfWidth);

  // The residual left by the least-squares step d = -(M^T M)^-1 M^T r.
  double normal[kMaxColumns * kMaxColumns] = {}, rhs[kMaxColumns] = {};
  for (int i = 0; i < n; ++i) {
    const double* row = jacobian + size_t(i) * k;
    for (int j = 0; j < k; ++j) {
      rhs[j] -= row[j] * residual[i];
      for (int m = 0; m <= j; ++m) normal[j * k + m] += row[j] * row[m];
    }
  }
  for (int j = 0; j < k; ++j)
    for (int m = j + 1; m < k; ++m) normal[j * k + m] = normal[m * k + j];
  // The residual after the least-squares step within the box (its direction gives the box's own
  // minimum of the linearisation).
  double gradient[kMaxColumns], step[kMaxColumns];
  for (int j = 0; j < k; ++j) gradient[j] = -rhs[j];
  boxStep(k, normal, gradient, halfWidth, step);
  for (int i = 0; i < n; ++i) {
    const double* row = jacobian + size_t(i) * k;
    double v = residual[i];
    for (int j = 0; j < k; ++j) v += row[j] * step[j];
    z[i] = v;
  }
  best = std::max(best, boundAlong(n, k, z, residual, jacobian, spread, halfWidth));
  if (suggestAxis) suggestSide(n, k, z, jacobian, slopes, halfWidth);
  return best * best * (1 - 0x1p-50);
}
