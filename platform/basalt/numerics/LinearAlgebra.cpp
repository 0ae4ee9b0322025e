// The only file of the numerics that includes Eigen's decompositions (they are slow to compile).
#include "numerics/LinearAlgebra.h"

#include <Eigen/Dense>
#include <Eigen/SVD>
#include <algorithm>
#include <cmath>

#include "TwkTypes.h"
#include "TwkUi.h"

namespace {

// Relative size below which a singular value counts as zero when the caller gives no tolerance.
constexpr double kDefaultRelTolerance = 1e-14;

using RowMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

bool allFinite(const double* v, long long n) {
  for (long long i = 0; i < n; ++i)
    if (!std::isfinite(v[i])) return false;
  return true;
}

// x = V * S+ * U^T * b with the singular values below the cut-off or beyond maxRank dropped.
Eigen::VectorXd pseudoSolve(const Eigen::JacobiSVD<Eigen::MatrixXd>& svd, const Eigen::VectorXd& b, double cutoff,
                            int maxRank) {
  const Eigen::VectorXd& s = svd.singularValues();
  Eigen::VectorXd coefficients = svd.matrixU().transpose() * b;
  for (Eigen::Index i = 0; i < s.size(); ++i)
    coefficients[i] = (i < maxRank && s[i] > cutoff) ? coefficients[i] / s[i] : 0.0;
  return svd.matrixV() * coefficients;
}

}  // namespace

bool PR_SolveLinearSystemParSVD(double relTolerance, int maxRank, const double* matrix, int k, const double* rhs,
                                double* solution, bool showErrors, int refineSteps, double* singularValues) {
  auto fail = [&](const wchar_t* why) {
    if (showErrors) twk::showNamedError(L"PR_SolveLinearSystemParSVD", why);
    return false;
  };
  if (!matrix || !rhs || !solution || k < 1) return fail(L"Invalid arguments");
  if (!allFinite(matrix, (long long)k * k) || !allFinite(rhs, k)) return fail(L"Invalid values in the system");
  const Eigen::MatrixXd a = Eigen::Map<const RowMatrix>(matrix, k, k);
  const Eigen::VectorXd b = Eigen::Map<const Eigen::VectorXd>(rhs, k);
  Eigen::JacobiSVD<Eigen::MatrixXd> svd(a, Eigen::ComputeFullU | Eigen::ComputeFullV);
  const Eigen::VectorXd& s = svd.singularValues();
  if (singularValues)
    for (int i = 0; i < k; ++i) singularValues[i] = s[i];
  if (!(s[0] > 0)) return fail(L"The matrix is zero");
  const double tolerance = relTolerance > 0 ? relTolerance : kDefaultRelTolerance;
  const double cutoff = tolerance * s[0];
  const int rank = std::max(1, std::min(k, maxRank));
  // A singular value inside the requested rank that vanishes makes the system singular: its solution
  // would be arbitrary, so the solve fails rather than return one.
  if (!(s[rank - 1] > cutoff)) return fail(L"The system is singular");
  Eigen::VectorXd x = pseudoSolve(svd, b, cutoff, rank);
  for (int step = 0; step < refineSteps; ++step) {
    const Eigen::VectorXd residual = b - a * x;
    if (residual.norm() == 0) break;
    const Eigen::VectorXd improved = x + pseudoSolve(svd, residual, cutoff, rank);
    // Stop when a round no longer reduces the residual (rank-deficient systems cannot be solved exactly).
    if (!((b - a * improved).norm() < residual.norm())) break;
    x = improved;
  }
  if (!x.allFinite()) return fail(L"The system has no finite solution");
  for (int i = 0; i < k; ++i) solution[i] = x[i];
  return true;
}

bool PR_SingularValueDecomposition(const double* a, int rows, int cols, double* u, double* s, double* v) {
  if (!a || rows < 1 || cols < 1 || !allFinite(a, (long long)rows * cols)) return false;
  const Eigen::MatrixXd m = Eigen::Map<const RowMatrix>(a, rows, cols);
  Eigen::JacobiSVD<Eigen::MatrixXd> svd(m, Eigen::ComputeThinU | Eigen::ComputeThinV);
  const int r = std::min(rows, cols);
  if (s)
    for (int i = 0; i < r; ++i) s[i] = svd.singularValues()[i];
  if (u) Eigen::Map<RowMatrix>(u, rows, r) = svd.matrixU();
  if (v) Eigen::Map<RowMatrix>(v, cols, r) = svd.matrixV();
  return true;
}

bool PR_SolveLeastSquares(const double* a, int rows, int cols, const double* b, double* x, double* residualNorm) {
  if (!a || !b || !x || rows < 1 || cols < 1) return false;
  if (!allFinite(a, (long long)rows * cols) || !allFinite(b, rows)) return false;
  const Eigen::MatrixXd m = Eigen::Map<const RowMatrix>(a, rows, cols);
  const Eigen::VectorXd rhs = Eigen::Map<const Eigen::VectorXd>(b, rows);
  Eigen::JacobiSVD<Eigen::MatrixXd> svd(m, Eigen::ComputeThinU | Eigen::ComputeThinV);
  const Eigen::VectorXd& s = svd.singularValues();
  Eigen::VectorXd coefficients = svd.matrixU().transpose() * rhs;
  for (Eigen::Index i = 0; i < s.size(); ++i)
    coefficients[i] = (s[i] > 1e-12 * s[0] && s[i] > 0) ? coefficients[i] / s[i] : 0.0;
  const Eigen::VectorXd solution = svd.matrixV() * coefficients;
  if (!solution.allFinite()) return false;
  for (int i = 0; i < cols; ++i) x[i] = solution[i];
  if (residualNorm) *residualNorm = (m * solution - rhs).norm();
  return true;
}

double PR_MSlineEquation(const double* x, const double* y, int n, double* slope, double* intercept) {
  if (slope) *slope = 0;
  if (intercept) *intercept = 0;
  if (!x || !y || n < 2) return VOID_VALUE;
  // Centred sums keep the fit accurate when x lies far from 0 (absolute times, flip-angle ratios).
  double mx = 0, my = 0;
  for (int i = 0; i < n; ++i) {
    mx += x[i];
    my += y[i];
  }
  mx /= n;
  my /= n;
  double sxx = 0, sxy = 0;
  for (int i = 0; i < n; ++i) {
    sxx += (x[i] - mx) * (x[i] - mx);
    sxy += (x[i] - mx) * (y[i] - my);
  }
  if (!(sxx > 0) || !std::isfinite(sxx) || !std::isfinite(sxy)) return VOID_VALUE;
  const double b = sxy / sxx, a = my - b * mx;
  double error = 0;
  for (int i = 0; i < n; ++i) error += (y[i] - (b * x[i] + a)) * (y[i] - (b * x[i] + a));
  if (slope) *slope = b;
  if (intercept) *intercept = a;
  return error;
}
