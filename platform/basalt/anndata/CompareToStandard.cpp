// Comparison of a volume with a stored reference volume.
#include <algorithm>
#include <cmath>
#include <memory>

#include "io/ImageFiles.h"
#include "TwkMem.h"
#include "Vol.h"
#include "volume/VolumeBox.h"

bool CVol::CompareToStandard(int t, const wchar_t* path, double maxBound, double meanBound, bool* passed) const {
  if (!frame || !path || !passed) return false;
  std::unique_ptr<CVol> standard(VA_RAW_LoadVolume(path, nullptr, nullptr, nullptr, false));
  if (!standard || !standard->frame || !IsEqualDim(standard.get())) return false;
  const bool all = t < 0 || t >= T();
  if (all && standard->T() != T()) return false;
  // A single time point is compared with the reference's own time point t, or its only one.
  const int first = all ? 0 : t, count = all ? T() : 1;
  const int standardFirst = all ? 0 : std::min(t, standard->T() - 1);
  auto* a = static_cast<double*>(VA_VolGetAll(frame, first, 64, count, false));
  auto* b = static_cast<double*>(VA_VolGetAll(standard->frame, standardFirst, 64, count, false));
  bool ok = a && b;
  if (ok) {
    const int64_t n = NumVox() * count;
    double largest = 0, sum = 0;
    bool voidMismatch = false;
    for (int64_t i = 0; i < n; ++i) {
      const bool voidA = !(std::abs(a[i]) < VOID_VALUE * 0.5), voidB = !(std::abs(b[i]) < VOID_VALUE * 0.5);
      if (voidA || voidB) {
        voidMismatch |= voidA != voidB;
        continue;
      }
      const double d = std::abs(a[i] - b[i]);
      largest = std::max(largest, d);
      sum += d;
    }
    const double mean = n > 0 ? sum / double(n) : 0;
    *passed = !voidMismatch && (maxBound >= VOID_VALUE || largest <= maxBound) && (meanBound >= VOID_VALUE || mean <= meanBound);
  }
  pf_free(&a);
  pf_free(&b);
  return ok;
}
