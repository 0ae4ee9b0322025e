#include "dynamics/Dynamics.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <cstring>
#include <numeric>
#include <vector>

#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "volume/Frame.h"
#include "volume/VolumeCurves.h"
#include "volume/VoxelAccess.h"

namespace {

// Stored indices sorted by (component, time, index).
std::vector<int> sortedOrder(const double* times, const double* components, int n) {
  std::vector<int> order(static_cast<size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    if (components[a] != components[b]) return components[a] < components[b];
    return times && times[a] < times[b];
  });
  return order;
}

std::vector<double> coordinates(const DYNCRD* dyn, int n, DYNDIM kind) {
  std::vector<double> v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) v[size_t(i)] = VA_DynCoordinate(dyn[i], kind);
  return v;
}

double* perTimePoint(const CVol* vol, double DYNCRD::*field, double scale) {
  if (!vol || !vol->frame) return nullptr;
  const int T = vol->T();
  auto* out = static_cast<double*>(pf_malloc(int64_t(T) * 8));
  if (!out) return nullptr;
  for (int t = 0; t < T; ++t) {
    const double v = vol->dyn ? vol->dyn[t].*field : VOID_VALUE;
    out[t] = v == VOID_VALUE ? VOID_VALUE : v * scale;
  }
  return out;
}

}  // namespace

const wchar_t* VA_DynDimName(DYNDIM kind) {
  switch (kind) {
    case DYN_TIME: return L"Time";
    case DYN_INVERSION_TIME: return L"Inversion time";
    case DYN_ECHO_TIME: return L"Echo time";
    case DYN_BVALUE: return L"B-value";
    case DYN_FLIP_ANGLE: return L"Flip Angle";
    case DYN_SPINLOCK_TIME: return L"TSL";
    default: return L"Unknown";
  }
}

const wchar_t* VA_DynDimUnit(DYNDIM kind) {
  switch (kind) {
    case DYN_TIME:
    case DYN_INVERSION_TIME:
    case DYN_ECHO_TIME:
    case DYN_SPINLOCK_TIME: return L"sec";
    case DYN_BVALUE: return L"s/mm2";
    case DYN_FLIP_ANGLE: return L"deg";
    default: return L"";
  }
}

double VA_DynCoordinate(const DYNCRD& r, DYNDIM kind) {
  switch (kind) {
    case DYN_INVERSION_TIME: return r.inversionTime;
    case DYN_ECHO_TIME: return r.echoTime;
    case DYN_BVALUE: return r.bValue;
    case DYN_FLIP_ANGLE: return r.flipAngle;
    case DYN_SPINLOCK_TIME: return r.spinLockTime;
    default: return r.time;
  }
}

bool VA_SpecifiedDynComponentToChronoOrder(DYNDIM kind, const DYNCRD* dyn, int n, int* order) {
  if (!dyn || !order || n < 1) return false;
  const auto comps = coordinates(dyn, n, kind);
  const auto times = coordinates(dyn, n, DYN_TIME);
  const auto sorted = sortedOrder(times.data(), comps.data(), n);
  std::copy(sorted.begin(), sorted.end(), order);
  return true;
}

bool VA_MainDynComponentToChronoOrder(const DYNCRD* dyn, int n, int* order, DYNDIM* kind, CString* name,
                                      CString* unit) {
  const DYNDIM k = VA_GetDynType(dyn, n);
  if (k == DYN_UNKNOWN || !VA_SpecifiedDynComponentToChronoOrder(k, dyn, n, order)) return false;
  if (kind) *kind = k;
  if (name) *name = VA_DynDimName(k);
  if (unit) *unit = VA_DynDimUnit(k);
  return true;
}

bool VA_DynInxToTimeInx(const double* times, const double* components, int n, int dynInx, int* timeInx) {
  if (!components || !timeInx || n < 1 || dynInx < 0 || dynInx >= n) return false;
  *timeInx = sortedOrder(times, components, n)[size_t(dynInx)];
  return true;
}

bool VA_TimeInxToDynInx(const double* times, const double* components, int n, int timeInx, int* dynInx) {
  if (!components || !dynInx || n < 1 || timeInx < 0 || timeInx >= n) return false;
  const auto order = sortedOrder(times, components, n);
  *dynInx = int(std::find(order.begin(), order.end(), timeInx) - order.begin());
  return true;
}

bool VA_VolGetDynamicDimension(const CVol* vol, DYNDIM* kind, CString* name, CString* unit, double** values) {
  if (!vol || !vol->frame || !vol->dyn) return false;
  const int T = vol->T();
  std::vector<int> order(static_cast<size_t>(T));
  DYNDIM k = DYN_TIME;
  if (!VA_MainDynComponentToChronoOrder(vol->dyn, T, order.data(), &k, name, unit)) return false;
  if (kind) *kind = k;
  if (values) {
    *values = static_cast<double*>(pf_malloc(int64_t(T) * 8));
    if (!*values) return false;
    for (int i = 0; i < T; ++i) (*values)[i] = VA_DynCoordinate(vol->dyn[order[size_t(i)]], k);
  }
  return true;
}

bool VA_VolDynInxToTimeInx(const CVol* vol, int dynInx, int* timeInx) {
  if (!vol || !vol->frame || !vol->dyn) return false;
  const int T = vol->T();
  std::vector<int> order(static_cast<size_t>(T));
  if (!VA_MainDynComponentToChronoOrder(vol->dyn, T, order.data(), nullptr, nullptr, nullptr) || dynInx < 0 ||
      dynInx >= T || !timeInx)
    return false;
  *timeInx = order[size_t(dynInx)];
  return true;
}

bool VA_VolTimeInxToDynInx(const CVol* vol, int timeInx, int* dynInx) {
  if (!vol || !vol->frame || !vol->dyn) return false;
  const int T = vol->T();
  std::vector<int> order(static_cast<size_t>(T));
  if (!VA_MainDynComponentToChronoOrder(vol->dyn, T, order.data(), nullptr, nullptr, nullptr) || timeInx < 0 ||
      timeInx >= T || !dynInx)
    return false;
  *dynInx = int(std::find(order.begin(), order.end(), timeInx) - order.begin());
  return true;
}

bool VA_VolTacToDynamicOrder(const CVol* vol, double* curve) {
  if (!vol || !vol->frame || !vol->dyn || !curve) return false;
  const int T = vol->T();
  std::vector<int> order(static_cast<size_t>(T));
  if (!VA_MainDynComponentToChronoOrder(vol->dyn, T, order.data(), nullptr, nullptr, nullptr)) return false;
  std::vector<double> copy(curve, curve + T);
  for (int i = 0; i < T; ++i) curve[i] = copy[size_t(order[size_t(i)])];
  return true;
}

bool VA_EnforceChronoOrder(CVol* vol, bool show) {
  if (!vol || !vol->frame || !vol->frame->data || !vol->dyn) {
    if (show) twk::showNamedError(L"VA_EnforceChronoOrder", L"Volume with dynamic coordinates is required");
    return false;
  }
  const int T = vol->T(), D = vol->D();
  std::vector<int> order(static_cast<size_t>(T));
  VA_SpecifiedDynComponentToChronoOrder(DYN_TIME, vol->dyn, T, order.data());
  bool sorted = true;
  for (int i = 0; i < T; ++i) sorted = sorted && order[size_t(i)] == i;
  if (sorted) return true;
  // Reorder into a new frame first, so that a failure leaves the volume as it was.
  FRAME* frame = PR_FrameCreate(vol->frame->type, vol->frame->bpv, vol->frame->dim, false);
  auto* dyn = static_cast<DYNCRD*>(pf_malloc(int64_t(T) * sizeof(DYNCRD)));
  if (!frame || !dyn) {
    PR_FrameDelete(&frame);
    pf_free(&dyn);
    if (show) twk::showNamedError(L"VA_EnforceChronoOrder", L"Not enough memory");
    return false;
  }
  const int64_t block = vol->frame->lineBytes * vol->H() * D;
  for (int i = 0; i < T; ++i) {
    const int from = order[size_t(i)];
    std::memcpy(frame->data + i * block, vol->frame->data + from * block, size_t(block));
    dyn[i] = vol->dyn[from];
  }
  if (vol->dicom && vol->numDicom == int64_t(D) * T) {
    std::vector<DICOMREC*> records(vol->dicom, vol->dicom + vol->numDicom);
    for (int i = 0; i < T; ++i)
      for (int z = 0; z < D; ++z) vol->dicom[int64_t(i) * D + z] = records[size_t(int64_t(order[size_t(i)]) * D + z)];
  }
  PR_FrameDelete(&vol->frame);
  vol->frame = frame;
  pf_free(&vol->dyn);
  vol->dyn = dyn;
  return true;
}

double* VA_VolGetAll_TR(const CVol* vol) { return perTimePoint(vol, &DYNCRD::repetitionTime, 1.0); }
double* VA_VolGetAll_TE(const CVol* vol) { return perTimePoint(vol, &DYNCRD::echoTime, 1.0); }
double* VA_VolGetAll_FA(const CVol* vol) { return perTimePoint(vol, &DYNCRD::flipAngle, 1.0); }

double* VA_VolGetTac(const FRAME* frame, int x, int y, int z, int radius, bool is2D) {
  if (!frame || !frame->data || frame->type == FRM_ROI || radius < 0) return nullptr;
  const DIM3D& d = frame->dim;
  if (x < 0 || y < 0 || z < 0 || x >= d.w || y >= d.h || z >= d.d) return nullptr;
  auto* curve = static_cast<double*>(pf_malloc(int64_t(d.t) * 8));
  if (!curve) return nullptr;
  const int zr = is2D ? 0 : radius;
  for (int t = 0; t < d.t; ++t) {
    double sum = 0;
    int64_t count = 0;
    for (int k = std::max(0, z - zr); k <= std::min(d.d - 1, z + zr); ++k)
      for (int j = std::max(0, y - radius); j <= std::min(d.h - 1, y + radius); ++j)
        for (int i = std::max(0, x - radius); i <= std::min(d.w - 1, x + radius); ++i) {
          const double v = twk::voxelValue(frame, i, j, k, t);
          const bool isVoid = frame->type == FRM_REAL ? v == VOID_VALUE : (frame->bpv == 32 && v == VOID_INT_VALUE);
          if (isVoid) continue;
          sum += v;
          ++count;
        }
    curve[t] = count ? sum / double(count) : VOID_VALUE;
  }
  return curve;
}

FRAME* VA_VolumeCreateFromTAC(const double* values, int count, const DIM3D& dims, double noise) {
  if (!values || count < 1 || dims.w < 1 || dims.h < 1 || dims.d < 1 || !(noise >= 0) || !std::isfinite(noise))
    return nullptr;
  FRAME* frame = PR_FrameCreate(FRM_REAL, 64, DIM3D{dims.w, dims.h, dims.d, count}, false);
  if (!frame) return nullptr;
  double peak = 0;
  for (int t = 0; t < count; ++t)
    if (values[t] != VOID_VALUE) peak = std::max(peak, std::fabs(values[t]));
  const double sigma = noise * peak;
  const int64_t lines = int64_t(dims.h) * dims.d;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, lines), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t line = r.begin(); line != r.end(); ++line) {
      const int y = int(line % dims.h), z = int(line / dims.h);
      for (int x = 0; x < dims.w; ++x) {
        std::mt19937_64 rng(uint64_t(line * dims.w + x));
        std::normal_distribution<double> gauss(0.0, 1.0);
        for (int t = 0; t < count; ++t) {
          const double v = values[t];
          reinterpret_cast<double*>(twk::frameLine(frame, y, z, t))[x] =
              v == VOID_VALUE || sigma == 0 ? v : v + sigma * gauss(rng);
        }
      }
    }
  });
  return frame;
}
