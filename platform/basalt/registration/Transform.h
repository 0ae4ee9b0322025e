#pragma once
// Transforms of registration: the kinds (VA_TRANSFORM), their coefficient arrays, Poly3D objects
// made from them, and the 4 x 4 matrix helpers.
//
// Every transform maps TARGET voxel indices to SOURCE voxel indices (the convention of
// geometry/Geometry.h: voxel centres at integer indices, millimetres = index x spacing).
//
// Coefficient arrays:
//  - affine (kinds 1 and 2): a 4 x 4 homogeneous matrix, row-major, rows of four with the
//    translation last; the last row is 0 0 0 1;
//  - polynomial (kind 3) of degree n: three rows (the source x, y and z) of VA_PolyTermCount(n)
//    coefficients each, on the terms x, y, z, 1, then for each degree d = 2..n the monomials of
//    degree d with the exponent of x falling first, then that of y (degree 2: xx, xy, xz, yy, yz, zz).
//    The first four terms of a row are the affine row, so a polynomial of degree 1 is an affine
//    transform written without its last row.

#include <cstdint>

#include "Polynom.h"
#include "TwkTypes.h"

enum VA_TRANSFORM : int32_t {
  VA_TRANSFORM_RIGID = 1,       // affine matrix of a rigid motion
  VA_TRANSFORM_AFFINE = 2,
  VA_TRANSFORM_POLYNOMIAL = 3,
  VA_TRANSFORM_GAUSS_RBF = 4,   // Gaussian radial basis functions (a flow field)
  VA_TRANSFORM_TPS = 5,         // thin-plate spline (not available)
};

// Highest polynomial degree a transform may have.
constexpr int VA_POLY_MAX_DEGREE = 5;

// Number of monomials of degree <= degree in three variables: (n+1)(n+2)(n+3)/6; 0 outside 1..5.
int VA_PolyTermCount(int degree);
// Exponents of x, y and z of term i of the layout above; false outside the range.
bool VA_PolyTermExponents(int degree, int term, int exponents[3]);
// Number of coefficients of one transform of the kind: 16 for kinds 1 and 2, 3 x terms for kind 3
// (degree 1..5), 0 for other kinds.
int VA_TransformCoefficientCount(int type, int degree);
// Maps a target index through one transform of the kind (coefficients as above).
void VA_TransformPoint(int type, int degree, const double* coefficients, const double target[3], double source[3]);

// A new Poly3D of the transform (one pf_malloc block holding the object, its three polynomials and
// their terms; free it with VA_Poly3DDelete). Null for other kinds, bad degrees or non-finite values.
Poly3D* VA_Poly3DCreate(int type, int degree, const double* coefficients);
void VA_Poly3DDelete(Poly3D** transform);
// The coefficient array (layout above) of a Poly3D whose three polynomials are of one order n:
// a new pf_malloc array of 3 x VA_PolyTermCount(n) doubles, the order in *degree. An affine Poly3D
// gives kind 2's 16 coefficients when affineMatrix is set. Null for a malformed Poly3D.
double* VA_Poly3DCoefficients(const Poly3D* transform, bool affineMatrix, int* degree);

// 4 x 4 row-major matrices. out may be one of the inputs.
// out = a x b.
void PR_MatxMultiplyMatx(const double a[16], const double b[16], double out[16]);
// The inverse; false (out unchanged) for a singular or non-finite matrix.
bool PR_MatxInverse(const double m[16], double out[16]);
// Determinant of an n x n row-major matrix by expansion in minors (n 1..6); false for other sizes
// or non-finite entries.
bool PR_MatrixDeterminantByMinors(const double* m, int n, double* determinant);
