// The parallel SVD self-test; Eigen's decomposition is included here only for the independent check.
#include <Eigen/Dense>
#include <Eigen/SVD>
#include <tbb/info.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

#include "TwkUi.h"
#include "numerics/LinearAlgebra.h"

namespace {

constexpr int kMatrices = 512;
constexpr int kSize = 24;

struct Decomposition {
  std::vector<double> u, s, v;
  bool ok = false;
};

Decomposition decompose(const std::vector<double>& a) {
  Decomposition d;
  d.u.resize(kSize * kSize);
  d.s.resize(kSize);
  d.v.resize(kSize * kSize);
  d.ok = PR_SingularValueDecomposition(a.data(), kSize, kSize, d.u.data(), d.s.data(), d.v.data());
  return d;
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

bool PR_TestParSVD(bool show, CString* report) {
  std::mt19937_64 random(20261210);
  std::normal_distribution<double> normal;
  std::vector<std::vector<double>> matrices(kMatrices, std::vector<double>(kSize * kSize));
  for (auto& m : matrices)
    for (double& value : m) value = normal(random);

  auto start = std::chrono::steady_clock::now();
  std::vector<Decomposition> serial(kMatrices);
  for (int i = 0; i < kMatrices; ++i) serial[size_t(i)] = decompose(matrices[size_t(i)]);
  const double serialMs = millisecondsSince(start);

  start = std::chrono::steady_clock::now();
  std::vector<Decomposition> parallel(kMatrices);
  tbb::parallel_for(0, kMatrices, [&](int i) { parallel[size_t(i)] = decompose(matrices[size_t(i)]); });
  const double parallelMs = millisecondsSince(start);

  bool identical = true, allOk = true;
  double worstSingular = 0, worstReconstruction = 0;
  using RowMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
  for (int i = 0; i < kMatrices; ++i) {
    const Decomposition& a = serial[size_t(i)];
    const Decomposition& b = parallel[size_t(i)];
    allOk = allOk && a.ok && b.ok;
    identical = identical && a.u == b.u && a.s == b.s && a.v == b.v;
    const RowMatrix m = Eigen::Map<const RowMatrix>(matrices[size_t(i)].data(), kSize, kSize);
    const Eigen::JacobiSVD<Eigen::MatrixXd> reference(m);
    const double scale = reference.singularValues()(0);
    for (int k = 0; k < kSize; ++k)
      worstSingular = std::max(worstSingular, std::fabs(a.s[size_t(k)] - reference.singularValues()(k)) / scale);
    const RowMatrix u = Eigen::Map<const RowMatrix>(a.u.data(), kSize, kSize);
    const RowMatrix v = Eigen::Map<const RowMatrix>(a.v.data(), kSize, kSize);
    const Eigen::VectorXd s = Eigen::Map<const Eigen::VectorXd>(a.s.data(), kSize);
    worstReconstruction = std::max(worstReconstruction, (m - u * s.asDiagonal() * v.transpose()).cwiseAbs().maxCoeff() / scale);
  }
  const bool passed = allOk && identical && worstSingular < 1e-12 && worstReconstruction < 1e-12;
  CString text;
  text.Format(
      L"Parallel SVD : %s\nMatrices\t%d of %d x %d\nThreads\t%d\nSerial\t%.1f ms\nParallel\t%.1f ms\n"
      L"Largest singular value difference\t%.3e\nLargest reconstruction error\t%.3e\nParallel equals serial\t%s",
      passed ? L"passed" : L"FAILED", kMatrices, kSize, kSize, tbb::info::default_concurrency(), serialMs, parallelMs,
      worstSingular, worstReconstruction, identical ? L"yes" : L"no");
  if (report) *report = text;
  if (show) twk::messageBox(text, passed ? MB_OK | MB_ICONINFORMATION : MB_OK | MB_ICONERROR);
  return passed;
}
