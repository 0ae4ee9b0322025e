// Transform kinds, their coefficient arrays and Poly3D objects, and the 4 x 4 matrix helpers.
#include "registration/Transform.h"

#include <Eigen/Dense>

#include <cmath>
#include <cstring>

#include "TwkMem.h"

int VA_PolyTermCount(int degree) {
  if (degree < 1 || degree > VA_POLY_MAX_DEGREE) return 0;
  return (degree + 1) * (degree + 2) * (degree + 3) / 6;
}

bool VA_PolyTermExponents(int degree, int term, int exponents[3]) {
  if (term < 0 || term >= VA_PolyTermCount(degree)) return false;
  if (term < 4) {
    exponents[0] = term == 0, exponents[1] = term == 1, exponents[2] = term == 2;
    return true;
  }
  int i = 4;
  for (int d = 2; d <= degree; ++d)
    for (int ex = d; ex >= 0; --ex)
      for (int ey = d - ex; ey >= 0; --ey, ++i)
        if (i == term) {
          exponents[0] = ex, exponents[1] = ey, exponents[2] = d - ex - ey;
          return true;
        }
  return false;
}

int VA_TransformCoefficientCount(int type, int degree) {
  if (type == VA_TRANSFORM_RIGID || type == VA_TRANSFORM_AFFINE) return 16;
  if (type == VA_TRANSFORM_POLYNOMIAL) return 3 * VA_PolyTermCount(degree);
  return 0;
}

void VA_TransformPoint(int type, int degree, const double* c, const double target[3], double source[3]) {
  const double x = target[0], y = target[1], z = target[2];
  if (type != VA_TRANSFORM_POLYNOMIAL) degree = 1;
  const int n = VA_PolyTermCount(degree);
  for (int r = 0; r < 3; ++r) {
    const double* row = c + (type == VA_TRANSFORM_POLYNOMIAL ? r * n : 4 * r);
    double v = row[0] * x + row[1] * y + row[2] * z + row[3];
    for (int i = 4; i < n; ++i) {
      int e[3];
      VA_PolyTermExponents(degree, i, e);
      v += row[i] * std::pow(x, e[0]) * std::pow(y, e[1]) * std::pow(z, e[2]);
    }
    source[r] = v;
  }
}

namespace {

constexpr int kTermBytes = int(sizeof(double) + 3 * sizeof(int32_t));

}  // namespace

Poly3D* VA_Poly3DCreate(int type, int degree, const double* coefficients) {
  if (type == VA_TRANSFORM_RIGID || type == VA_TRANSFORM_AFFINE) degree = 1;
  else if (type != VA_TRANSFORM_POLYNOMIAL) return nullptr;
  const int n = VA_PolyTermCount(degree);
  if (!coefficients || n == 0) return nullptr;
  const int stride = (type == VA_TRANSFORM_POLYNOMIAL) ? n : 4;
  for (int r = 0; r < 3; ++r)
    for (int i = 0; i < n; ++i)
      if (!std::isfinite(coefficients[r * stride + i])) return nullptr;
  const int64_t size = int64_t(sizeof(Poly3D)) + 3 * int64_t(sizeof(Polynom)) + 3 * int64_t(n) * kTermBytes;
  auto* block = static_cast<uint8_t*>(pf_calloc(size));
  if (!block) return nullptr;
  auto* poly = new (block) Poly3D;
  Polynom* polys = new (block + sizeof(Poly3D)) Polynom[3];
  uint8_t* terms = block + sizeof(Poly3D) + 3 * sizeof(Polynom);
  for (int r = 0; r < 3; ++r) {
    Polynom& p = polys[r];
    p.order = degree;
    p.numVars = 3;
    p.numTerms = n;
    p.termStride = kTermBytes;
    p.terms = reinterpret_cast<TERM*>(terms + int64_t(r) * n * kTermBytes);
    for (int i = 0; i < n; ++i) {
      uint8_t* t = reinterpret_cast<uint8_t*>(p.GetTerm(i));
      int32_t e[3];
      int ei[3];
      VA_PolyTermExponents(degree, i, ei);
      for (int k = 0; k < 3; ++k) e[k] = ei[k];
      std::memcpy(t, &coefficients[r * stride + i], sizeof(double));
      std::memcpy(t + sizeof(double), e, sizeof e);
    }
  }
  poly->px = &polys[0];
  poly->py = &polys[1];
  poly->pz = &polys[2];
  return poly;
}

void VA_Poly3DDelete(Poly3D** transform) {
  if (transform) pf_free(transform);
}

double* VA_Poly3DCoefficients(const Poly3D* transform, bool affineMatrix, int* degree) {
  if (!transform || !transform->px || !transform->py || !transform->pz) return nullptr;
  const Polynom* rows[3] = {transform->px, transform->py, transform->pz};
  const int order = rows[0]->order;
  const int n = VA_PolyTermCount(order);
  if (n == 0 || rows[1]->order != order || rows[2]->order != order) return nullptr;
  const bool matrix = affineMatrix && order == 1;
  auto* c = static_cast<double*>(pf_calloc(int64_t(sizeof(double)) * (matrix ? 16 : 3 * n)));
  if (!c) return nullptr;
  const int stride = matrix ? 4 : n;
  for (int r = 0; r < 3; ++r) {
    const Polynom* p = rows[r];
    if (p->numVars != 3) {
      pf_free(&c);
      return nullptr;
    }
    // Terms may stand in any order in a Poly3D: each is placed by its exponents.
    for (int i = 0; i < p->numTerms; ++i) {
      const int e[3] = {p->Exponent(i, 0), p->Exponent(i, 1), p->Exponent(i, 2)};
      int slot = -1;
      for (int j = 0; j < n && slot < 0; ++j) {
        int f[3];
        VA_PolyTermExponents(order, j, f);
        if (f[0] == e[0] && f[1] == e[1] && f[2] == e[2]) slot = j;
      }
      if (slot < 0) {
        pf_free(&c);
        return nullptr;
      }
      c[r * stride + slot] += p->Coefficient(i);
    }
  }
  if (matrix) c[15] = 1.0;
  if (degree) *degree = order;
  return c;
}

void PR_MatxMultiplyMatx(const double a[16], const double b[16], double out[16]) {
  using M = Eigen::Matrix<double, 4, 4, Eigen::RowMajor>;
  const M product = Eigen::Map<const M>(a) * Eigen::Map<const M>(b);
  Eigen::Map<M> result(out);
  result = product;
}

bool PR_MatxInverse(const double m[16], double out[16]) {
  using M = Eigen::Matrix<double, 4, 4, Eigen::RowMajor>;
  const Eigen::Map<const M> a(m);
  if (!a.allFinite()) return false;
  const Eigen::FullPivLU<M> lu(a);
  if (!lu.isInvertible()) return false;
  const M inverse = lu.inverse();
  if (!inverse.allFinite()) return false;
  Eigen::Map<M> result(out);
  result = inverse;
  return true;
}

namespace {

double determinantByMinors(const double* m, int n, int stride, const int* columns) {
  if (n == 1) return m[columns[0]];
  double sum = 0.0, sign = 1.0;
  int rest[6];
  for (int j = 0; j < n; ++j, sign = -sign) {
    for (int k = 0, r = 0; k < n; ++k)
      if (k != j) rest[r++] = columns[k];
    sum += sign * m[columns[j]] * determinantByMinors(m + stride, n - 1, stride, rest);
  }
  return sum;
}

}  // namespace

bool PR_MatrixDeterminantByMinors(const double* m, int n, double* determinant) {
  if (!m || !determinant || n < 1 || n > 6) return false;
  for (int i = 0; i < n * n; ++i)
    if (!std::isfinite(m[i])) return false;
  const int columns[6] = {0, 1, 2, 3, 4, 5};
  const double d = determinantByMinors(m, n, n, columns);
  if (!std::isfinite(d)) return false;
  *determinant = d;
  return true;
}
