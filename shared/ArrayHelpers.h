#pragma once
// Helpers on plain arrays shared by every module: searching and reducing double arrays, interval
// square roots, sums and sorts of integer arrays, minimum and maximum with an excluded value,
// scaling that skips void values, counted copies of arrays, and releasing arrays of owned frames
// and DICOM records. Memory comes from pf_malloc/pf_calloc/pf_realloc and goes back with pf_free.
// Counts are 64-bit unless a helper says otherwise.

#include <cmath>
#include <cstdint>
#include <cstring>

#include "DicomRec.h"
#include "TwkMem.h"
#include "TwkTypes.h"

void PR_FrameDelete(FRAME** frame);

// ---- double arrays and intervals ----

// Index of the first element equal to x, -1 if none (a NaN never matches).
inline int64_t PR_FindValueD(const double* values, int64_t n, double x) {
  for (int64_t i = 0; i < n; ++i)
    if (values[i] == x) return i;
  return -1;
}

// Sum, added in index order.
inline double PR_ArraySumD(const double* values, int64_t n) {
  double s = 0.0;
  for (int64_t i = 0; i < n; ++i) s += values[i];
  return s;
}

// Minimum; an empty array (n <= 0) is not read and gives 1e60.
inline double PR_ArrayMinD(const double* values, int64_t n) {
  if (n <= 0) return VOID_VALUE;
  double m = values[0];
  for (int64_t i = 1; i < n; ++i)
    if (values[i] < m) m = values[i];
  return m;
}

// Maximum and, through the optional index, its first occurrence; an empty array (n <= 0) is not
// read and gives 1e60 with index -1.
inline double PR_ArrayMaxD(const double* values, int64_t n, int64_t* index = nullptr) {
  if (n <= 0) {
    if (index) *index = -1;
    return VOID_VALUE;
  }
  double m = values[0];
  int64_t at = 0;
  for (int64_t i = 1; i < n; ++i)
    if (values[i] > m) { m = values[i]; at = i; }
  if (index) *index = at;
  return m;
}

// Divides every element by x in place; n < 1 does nothing.
inline void PR_ArrayDivideD(double* values, double x, int64_t n) {
  for (int64_t i = 0; i < n; ++i) values[i] /= x;
}

// Subtracts x from every element; results below 0 become 0.
inline void PR_ArraySubtractClipD(double* values, int64_t n, double x) {
  for (int64_t i = 0; i < n; ++i) {
    const double v = values[i] - x;
    values[i] = v < 0.0 ? 0.0 : v;
  }
}

// Square root of each bound; a negative bound becomes 1e60.
inline void PR_IntervalSqrt(INTERVAL* r) {
  r->lo = r->lo < 0.0 ? VOID_VALUE : std::sqrt(r->lo);
  r->hi = r->hi < 0.0 ? VOID_VALUE : std::sqrt(r->hi);
}

// Upper bound below 0: (-1e60, 1e60); else the roots of max(lower, 0) and of upper, ascending.
// dst may be src.
inline void PR_IntervalSqrtOrdered(INTERVAL* dst, const INTERVAL* src) {
  if (src->hi < 0.0) {
    dst->lo = -VOID_VALUE;
    dst->hi = VOID_VALUE;
    return;
  }
  const double a = std::sqrt(src->lo > 0.0 ? src->lo : 0.0);
  const double b = std::sqrt(src->hi);
  dst->lo = a < b ? a : b;
  dst->hi = a < b ? b : a;
}

// ---- integer arrays ----

// Sum of n values as uint32 (wrapping).
inline uint32_t PR_SumU32(const uint32_t* a, int64_t n) {
  uint32_t s = 0;
  for (int64_t i = 0; i < n; ++i) s += a[i];
  return s;
}

// A growable array of int32 values; owns its values (pf_realloc'ed).
struct IntArray {
  int32_t count = 0;
  int32_t* values = nullptr;

  IntArray() = default;
  IntArray(const IntArray&) = delete;
  IntArray& operator=(const IntArray&) = delete;
  IntArray(IntArray&& other) noexcept : count(other.count), values(other.values) {
    other.count = 0;
    other.values = nullptr;
  }
  ~IntArray() { pf_free(&values); }

  // Grows by one and stores v; false (array unchanged) when memory runs out.
  bool Append(int32_t v) {
    if (!pf_realloc(&values, (int64_t(count) + 1) * int64_t(sizeof(int32_t)))) return false;
    values[count++] = v;
    return true;
  }
};

// Sorts ascending in place (adjacent swaps); always true.
inline bool PR_BubbleSortInt(IntArray* a) {
  if (a->count <= 1) return true;
  for (int32_t end = a->count - 1; end > 0; --end) {
    bool swapped = false;
    for (int32_t i = 0; i < end; ++i) {
      if (a->values[i] > a->values[i + 1]) {
        const int32_t v = a->values[i];
        a->values[i] = a->values[i + 1];
        a->values[i + 1] = v;
        swapped = true;
      }
    }
    if (!swapped) break;
  }
  return true;
}

// ---- minimum and maximum with an excluded value ----

namespace twk_detail {
// Widens [lo, hi] by the elements of a[i..n) that differ from ignore.
inline void MinMaxFrom(const double* a, int64_t i, int64_t n, double ignore, double& lo, double& hi) {
  for (; i < n; ++i) {
    const double v = a[i];
    if (v == ignore) continue;
    if (v < lo) lo = v;
    if (v > hi) hi = v;
  }
}
}  // namespace twk_detail

// Minimum and maximum over the elements that differ from ignore; false when there is none.
// Starts from the first such element when *min equals ignore on entry, else continues from what
// *min and *max hold. max may be null (it is then neither read nor written).
inline bool PR_ArrayMinMaxExcludingD(const double* a, int n, double ignore, double* min, double* max) {
  int i = 0;
  while (i < n && a[i] == ignore) ++i;
  if (i >= n) return false;
  double lo = *min, hi = max ? *max : 0.0;
  if (*min == ignore) {
    lo = a[i];
    hi = a[i];
  }
  twk_detail::MinMaxFrom(a, i, n, ignore, lo, hi);
  *min = lo;
  if (max) *max = hi;
  return true;
}

// As above, but always starting from the first element that differs from ignore.
inline bool PR_ArrayMinMaxExcludingD(const double* a, int64_t n, double ignore, double* min, double* max) {
  int64_t i = 0;
  while (i < n && a[i] == ignore) ++i;
  if (i >= n) return false;
  double lo = a[i], hi = a[i];
  twk_detail::MinMaxFrom(a, i, n, ignore, lo, hi);
  *min = lo;
  if (max) *max = hi;
  return true;
}

// Multiplies every element by factor, except the void value 1e60.
inline void PR_ArrayScaleExcludingVoid(double* a, double factor, int n) {
  for (int i = 0; i < n; ++i)
    if (a[i] != VOID_VALUE) a[i] *= factor;
}

// Position of value between low and high on a 0..1000 scale, rounded and clamped; 0 when the
// position is undefined (NaN, e.g. value == low == high).
inline int PR_PercentPos1000(double value, double low, double high) {
  const double p = std::floor((value - low) / (high - low) * 1000.0 + 0.5);
  if (!(p > 0.0)) return 0;  // also NaN (low == high == value)
  if (p >= 1000.0) return 1000;
  return int(p);
}

// ---- counted copies ----

// n bytes of value in a new pf_malloc block; false when the allocation fails.
inline bool PR_AllocFilled(void** out, int64_t n, uint8_t value) {
  if (n < 0) return false;
  *out = pf_malloc(n);
  if (!*out) return false;
  std::memset(*out, value, size_t(n));
  return true;
}

// A new pf_malloc array with a copy of n pointers; false when the allocation fails.
inline bool PR_DupPtrArray(void*** out, int64_t n, void** src) {
  if (n < 0) return false;
  *out = static_cast<void**>(pf_malloc(8 * n));
  if (!*out) return false;
  if (n > 0) std::memcpy(*out, src, size_t(8 * n));
  return true;
}

// A new pf_malloc block with a copy of n 72-byte records (DYNCRD); false when the allocation fails.
inline bool PR_DupRecords72(void** out, int64_t n, const void* src) {
  if (n < 0) return false;
  *out = pf_malloc(72 * n);
  if (!*out) return false;
  if (n > 0) std::memcpy(*out, src, size_t(72 * n));
  return true;
}

// ---- arrays of owned objects ----

// Deletes every non-null frame (record included) and clears its slot, then frees the array.
// A null array does nothing; n < 1 only frees the array.
inline void TW_FreeFrameArray(FRAME*** arr, int n) {
  if (!arr || !*arr) return;
  for (int i = 0; i < n; ++i) PR_FrameDelete(&(*arr)[i]);
  pf_free(arr);
}

// The same for DICOM records made with new.
inline void TW_FreeDicomRecArray(DICOMREC*** arr, int n) {
  if (!arr || !*arr) return;
  for (int i = 0; i < n; ++i) {
    delete (*arr)[i];
    (*arr)[i] = nullptr;
  }
  pf_free(arr);
}
