#pragma once
// Small dense linear algebra on row-major arrays of doubles: singular value decomposition, linear
// systems and least squares solved through it, and the straight-line fit. Reentrant.

#include "CString.h"

// Solves the k x k system matrix * solution = rhs through the singular value decomposition.
//   relTolerance  singular values at or below relTolerance * the largest count as zero (<= 0: 1e-14);
//   maxRank       at most this many singular values are used (the largest ones); the others are
//                 dropped on purpose (a truncated pseudo-inverse, minimum-norm solution);
//   showErrors    report a failure through a message box;
//   refineSteps   rounds of iterative refinement on the residual (0: none);
//   singularValues  optional, receives the k singular values in descending order.
// False when an argument is invalid, an input is not finite, or a singular value within maxRank
// counts as zero (a singular system has no unique solution to report).
bool PR_SolveLinearSystemParSVD(double relTolerance, int maxRank, const double* matrix, int k, const double* rhs,
                                double* solution, bool showErrors, int refineSteps, double* singularValues);

// Thin SVD of the rows x cols matrix A = U * diag(S) * V^T: U rows x r, S r values (descending),
// V cols x r, with r = min(rows, cols). Any output may be null. False on invalid arguments.
bool PR_SingularValueDecomposition(const double* a, int rows, int cols, double* u, double* s, double* v);

// Least squares: the x (cols) that minimises |A x - b| for the rows x cols matrix A, minimum norm
// when A is rank deficient (singular values below 1e-12 of the largest are dropped). residualNorm
// (optional) receives |A x - b|. False on invalid arguments or non-finite input.
bool PR_SolveLeastSquares(const double* a, int rows, int cols, const double* b, double* x, double* residualNorm);

// Least-squares line y = slope * x + intercept; returns the sum of squared residuals. n < 2 or all x
// equal gives 1e60 with slope and intercept 0.
double PR_MSlineEquation(const double* x, const double* y, int n, double* slope, double* intercept);

// Self-test of the decomposition on all cores: a fixed set of random square matrices is decomposed
// one after the other and then in parallel (oneTBB); the report gives the timings, the largest
// difference of the singular values from Eigen's JacobiSVD computed independently, the largest
// reconstruction error |A - U S V^T| and whether the parallel results equal the serial ones bit for
// bit. Shown in a message box when show is set; true when every check passed.
bool PR_TestParSVD(bool show, CString* report = nullptr);
