// The tolerances with which volumes are compared, bit depths, and checks on arrays of doubles.

#include <cmath>
#include <cstring>

#include "TwkMem.h"
#include "TwkUi.h"

namespace {

// Tolerances are meant in decimal: 1.01 - 1.0 is 0.010000000000000009 in binary, yet lies within
// 0.01; 10.001 - 10.0 is 0.00099999999999945, yet is not less than 0.001. A margin of a millionth
// of the tolerance absorbs the rounding of the operands and nothing a measurement could produce.
bool withinAtMost(double a, double b, double tolerance) { return std::fabs(a - b) <= tolerance * (1 + 1e-6); }
bool withinLessThan(double a, double b, double tolerance) { return std::fabs(a - b) < tolerance * (1 - 1e-6); }

constexpr double kSpacingTolerance = 0.01;
constexpr double kPositionTolerance = 0.001;
constexpr double kOrientTolerance = 1e-5;
constexpr double kExactTolerance = 1e-100;

}  // namespace

bool PR_IsIsoPix(const SPC* spc) { return withinAtMost(spc->x, spc->y, kSpacingTolerance); }

bool PR_IsEqualSpc(const SPC* a, const SPC* b) {
  return withinAtMost(a->x, b->x, kSpacingTolerance) && withinAtMost(a->y, b->y, kSpacingTolerance) &&
         withinAtMost(a->z, b->z, kSpacingTolerance);
}

bool PR_IsEqualImgpos(const double* a, const double* b) {
  return withinLessThan(a[0], b[0], kPositionTolerance) && withinLessThan(a[1], b[1], kPositionTolerance) &&
         withinLessThan(a[2], b[2], kPositionTolerance);
}

bool PR_IsEqualImgpos(const DPOINT3D* a, const DPOINT3D* b) {
  const double pa[3] = {a->x, a->y, a->z};
  const double pb[3] = {b->x, b->y, b->z};
  return PR_IsEqualImgpos(pa, pb);
}

bool PR_AreEqualImgpos(const DPOINT3D* a, const DPOINT3D* b, int64_t n) {
  for (int64_t k = 0; k < n; ++k)
    if (!PR_IsEqualImgpos(&a[k], &b[k])) return false;
  return true;
}

bool PR_IsEqualOrient(const double* a, const double* b) {
  for (int k = 0; k < 6; ++k)
    if (!withinAtMost(a[k], b[k], kOrientTolerance)) return false;
  return true;
}

bool PR_IsEqual(const double* a, const double* b, int64_t n) {
  if (n < 0) return false;
  for (int64_t k = 0; k < n; ++k)
    if (!(std::fabs(a[k] - b[k]) < kExactTolerance)) return false;
  return true;
}

bool PR_IsEqualDynCrd(DYNDIM kind, const DYNCRD* a, const DYNCRD* b) {
  auto same = [](double x, double y) { return std::fabs(x - y) < kExactTolerance; };
  switch (int(kind)) {
    case 0: return same(a->time, b->time) && same(a->timeEnd, b->timeEnd);
    case 1: return same(a->inversionTime, b->inversionTime);
    case 2: return same(a->echoTime, b->echoTime);
    case 3: return same(a->bValue, b->bValue);
    case 5: return same(a->spinLockTime, b->spinLockTime);
    default: return false;
  }
}

bool PR_IsValidResult(const uint8_t* values, int64_t n) {
  for (int64_t k = 0; k < n; ++k)
    if (values[k] == 0) return false;
  return true;
}

bool PR_ArrayValidNumbers(const double* values, int64_t n) {
  for (int64_t k = 0; k < n; ++k)
    if (!std::isfinite(values[k])) return false;
  return true;
}

void PR_ArrayReplaceInvalidNumbers(double* values, int n, double replacement) {
  for (int k = 0; k < n; ++k)
    if (!std::isfinite(values[k])) values[k] = replacement;
}

void PR_GetNormalFromOrient(const double orient[6], double normal[3]) {
  const double r0 = orient[0], r1 = orient[1], r2 = orient[2];
  const double c0 = orient[3], c1 = orient[4], c2 = orient[5];
  normal[0] = r1 * c2 - c1 * r2;
  normal[1] = c0 * r2 - r0 * c2;
  normal[2] = c1 * r0 - r1 * c0;
}

FRMTYPE VA_VolType(int bitsPerVoxel) {
  switch (bitsPerVoxel) {
    case 1: return FRM_ROI;
    case 8:
    case 16:
    case 32: return FRM_INT;
    case 64: return FRM_REAL;
    default: return FRM_INVALID;
  }
}

int64_t PR_VolLineSize(int64_t width, int bitsPerVoxel) {
  switch (bitsPerVoxel) {
    case 1: return (width + 15) / 16 * 2;  // whole 16-bit words
    case 8: return width;
    case 16: return 2 * width;
    case 32: return 4 * width;
    case 64: return 8 * width;
    default:
      twk::showNamedError(L"PR_VolLineSize", L" Incorrect number of bits");
      return -1;
  }
}

void PR_SwapByteOrder(double* values, int n) {
  for (int k = 0; k < n; ++k) {
    unsigned char bytes[8];
    std::memcpy(bytes, &values[k], 8);
    for (int j = 0; j < 4; ++j) {
      const unsigned char t = bytes[j];
      bytes[j] = bytes[7 - j];
      bytes[7 - j] = t;
    }
    std::memcpy(&values[k], bytes, 8);
  }
}

double PR_PointSetDiameter(const DPOINT3D* points, int n, DPOINT3D* vector) {
  if (vector) *vector = DPOINT3D{};
  if (!points || n < 2) return 0;
  double best = -1;
  for (int i = 0; i < n; ++i) {
    for (int j = i + 1; j < n; ++j) {
      const double dx = points[i].x - points[j].x, dy = points[i].y - points[j].y, dz = points[i].z - points[j].z;
      const double d2 = dx * dx + dy * dy + dz * dz;
      if (d2 > best) {
        best = d2;
        if (vector) *vector = DPOINT3D{dx, dy, dz};
      }
    }
  }
  return std::sqrt(best);
}
