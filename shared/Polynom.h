#pragma once
// Polynomial transforms of the imaging core. A Polynom is a sum of terms, each a coefficient times
// a product of the variables raised to small non-negative integer powers; a Poly3D maps a 3D point
// through one polynomial per output coordinate (an affine transform when all three are of order 1).
//
// Term layout: a double coefficient followed by one int32 exponent per variable; consecutive terms
// lie termStride bytes apart (the stride need not keep the doubles aligned, so terms are read
// through memcpy). Copies share the terms (the owner of the term block frees it).

#include <cstdint>
#include <cstring>

#include "TwkTypes.h"

struct TERM {
  double coefficient;
  // followed by numVars int32 exponents
};

struct Polynom {
  int32_t order = 0;
  int32_t numVars = 0;
  int32_t numTerms = 0;
  int32_t termStride = 0;  // bytes from one term to the next
  TERM* terms = nullptr;

  TERM* GetTerm(int i) const {
    return reinterpret_cast<TERM*>(reinterpret_cast<uint8_t*>(terms) + int64_t(i) * termStride);
  }
  double Coefficient(int i) const {
    double c;
    std::memcpy(&c, GetTerm(i), sizeof c);
    return c;
  }
  int32_t Exponent(int i, int v) const {
    int32_t e;
    std::memcpy(&e, reinterpret_cast<const uint8_t*>(GetTerm(i)) + sizeof(double) + v * sizeof(int32_t), sizeof e);
    return e;
  }

  // Product over the variables of x[v] to the power of term i's exponent for v (coefficient not
  // applied); 1.0 without variables. Powers by repeated multiplication: exponents <= 0 give 1.
  double TermExponent(int i, const double* x) const {
    double product = 1.0;
    for (int v = 0; v < numVars; ++v) {
      const int32_t e = Exponent(i, v);
      for (int32_t k = 0; k < e; ++k) product *= x[v];
    }
    return product;
  }

  // Sum over the terms of coefficient * TermExponent; 0.0 without terms.
  double Calc(const double* x) const {
    double sum = 0.0;
    for (int i = 0; i < numTerms; ++i) sum += Coefficient(i) * TermExponent(i, x);
    return sum;
  }
};

struct Poly3D {
  Polynom* px = nullptr;
  Polynom* py = nullptr;
  Polynom* pz = nullptr;

  // out may be the same point as in.
  void Calc(const DPOINT3D* in, DPOINT3D* out) const {
    const double x[3] = {in->x, in->y, in->z};
    const DPOINT3D r{px->Calc(x), py->Calc(x), pz->Calc(x)};
    *out = r;
  }
  bool IsAffine() const { return px->order == 1 && py->order == 1 && pz->order == 1; }

  // The 4 x 4 target-to-source matrix (row-major, translation last, last row 0 0 0 1) of the
  // constant and first-order terms; the terms of higher order are left out. True when affine.
  bool GetAffineKoff(double matrix[16]) const {
    const Polynom* rows[3] = {px, py, pz};
    for (int r = 0; r < 3; ++r) {
      double* m = matrix + 4 * r;
      m[0] = m[1] = m[2] = m[3] = 0.0;
      const Polynom* p = rows[r];
      for (int i = 0; p && i < p->numTerms; ++i) {
        int total = 0, axis = 3;
        for (int v = 0; v < p->numVars && v < 3; ++v) {
          const int32_t e = p->Exponent(i, v);
          total += e;
          if (e == 1) axis = v;
        }
        if (total == 0) m[3] += p->Coefficient(i);
        else if (total == 1) m[axis] += p->Coefficient(i);
      }
    }
    matrix[12] = matrix[13] = matrix[14] = 0.0;
    matrix[15] = 1.0;
    return IsAffine();
  }
};
