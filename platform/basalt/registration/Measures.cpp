// Comparison measures of frames: one parallel pass over the lines of the frames, read in place.
#include "registration/Measures.h"

#include <oneapi/tbb/enumerable_thread_specific.h>
#include <oneapi/tbb/parallel_for.h>

#include <cmath>
#include <vector>

#include "TwkUi.h"
#include "geometry/Dynamic4D.h"
#include "volops/VoxelLines.h"
#include "volume/Frame.h"

namespace {

bool report(bool show, const wchar_t* name, const wchar_t* why) {
  if (show) twk::showNamedError(name, why);
  return false;
}

bool volume(const FRAME* f) {
  return f && f->data && f->type != FRM_ROI && twk::voxelElemOf(f) != twk::VoxelElem::Invalid;
}

bool sameGrid(const FRAME* a, const FRAME* b) {
  return a->dim.w == b->dim.w && a->dim.h == b->dim.h && a->dim.d == b->dim.d;
}

// The ROI (or null) fits the volume of T time points.
bool roiFits(const FRAME* roi, const FRAME* v, int T) {
  return !roi || (roi->type == FRM_ROI && roi->data && sameGrid(roi, v) && (roi->dim.t == 1 || roi->dim.t == T));
}

// Calls fn(x, va, vb) for every voxel of line (y, z) at time points ta, tb defined in both and
// inside the ROI (at time point tr).
template <class Fn>
void forPairs(const FRAME* a, const FRAME* b, const FRAME* roi, int ta, int tb, int tr, int64_t y, int64_t z,
              std::vector<double>& la, std::vector<double>& lb, Fn&& fn) {
  twk::lineToDoubles(a, y, z, ta, la);
  twk::lineToDoubles(b, y, z, tb, lb);
  const uint8_t* mask = roi ? twk::frameLine(roi, y, z, tr) : nullptr;
  for (int64_t x = 0; x < a->dim.w; ++x) {
    if (mask && !twk::getBit(mask, x)) continue;
    if (la[size_t(x)] == VOID_VALUE || lb[size_t(x)] == VOID_VALUE) continue;
    fn(la[size_t(x)], lb[size_t(x)]);
  }
}

struct Sums {
  double n = 0, sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0, sd = 0;
  std::vector<double> la, lb;
};

}  // namespace

bool VA_VolumeSingleMeasurement(int count, const FRAME* const* frames, const FRAME* roi, int measure, double* value,
                                bool show) {
  const wchar_t* name = L"VA_VolumeSingleMeasurement";
  if (count != 2 || !frames || !value) return report(show, name, L"Two volumes are required");
  if (measure != VA_SINGLEMEASURE_RMSD) return report(show, name, L"Unknown measure");
  const FRAME* a = frames[0];
  const FRAME* b = frames[1];
  if (!volume(a) || !volume(b)) return report(show, name, L"Integer or Real volume is required");
  if (!sameGrid(a, b) || a->dim.t != b->dim.t) return report(show, name, L"Equal dimensions are expected");
  if (!roiFits(roi, a, a->dim.t)) return report(show, name, L"ROI does not match the volumes");
  const int64_t h = a->dim.h, d = a->dim.d, T = a->dim.t;
  tbb::enumerable_thread_specific<Sums> local;
  tbb::parallel_for(int64_t(0), T * d * h, [&](int64_t i) {
    Sums& s = local.local();
    const int64_t y = i % h, z = (i / h) % d, t = i / (h * d);
    forPairs(a, b, roi, int(t), int(t), roi && roi->dim.t == 1 ? 0 : int(t), y, z, s.la, s.lb, [&](double va, double vb) {
      s.n += 1;
      s.sd += (va - vb) * (va - vb);
    });
  });
  double n = 0, sd = 0;
  for (const Sums& s : local) n += s.n, sd += s.sd;
  if (n == 0) return report(show, name, L"No voxels to compare (empty ROI or void volumes)");
  *value = std::sqrt(sd / n);
  return true;
}

FRAME* VA_RoisXOR(const FRAME* a, const FRAME* b, bool show) {
  const wchar_t* name = L"VA_RoisXOR";
  if (!a || !b || a->type != FRM_ROI || b->type != FRM_ROI || !a->data || !b->data) {
    report(show, name, L"Two ROIs are required");
    return nullptr;
  }
  if (!sameGrid(a, b)) {
    report(show, name, L"Equal dimensions are expected");
    return nullptr;
  }
  const int T = std::max(a->dim.t, b->dim.t);
  FRAME* out = PR_FrameCreate(FRM_ROI, 1, DIM3D{a->dim.w, a->dim.h, a->dim.d, T}, true);
  if (!out) {
    report(show, name, L"Not enough memory");
    return nullptr;
  }
  const int64_t h = a->dim.h, d = a->dim.d, bytes = out->lineBytes;
  auto lineOf = [](const FRAME* f, int64_t y, int64_t z, int t) -> const uint8_t* {
    if (f->dim.t == 1) return twk::frameLine(f, y, z, 0);
    return t < f->dim.t ? twk::frameLine(f, y, z, t) : nullptr;
  };
  tbb::parallel_for(int64_t(0), int64_t(T) * d * h, [&](int64_t i) {
    const int64_t y = i % h, z = (i / h) % d;
    const int t = int(i / (h * d));
    const uint8_t* la = lineOf(a, y, z, t);
    const uint8_t* lb = lineOf(b, y, z, t);
    uint8_t* lo = twk::frameLine(out, y, z, t);
    for (int64_t k = 0; k < bytes; ++k) lo[k] = uint8_t((la ? la[k] : 0) ^ (lb ? lb[k] : 0));
    twk::clearRoiPadding(lo, a->dim.w, bytes);
  });
  return out;
}

bool VA_VolPairCalculateMutualInfoOverROI(int measure, const FRAME* a, const FRAME* b, const FRAME* roi, int t,
                                          double* value, bool show) {
  const wchar_t* name = L"VA_VolPairCalculateMutualInfoOverROI";
  if (!value) return false;
  if (measure != 3 && measure != 4) return report(show, name, L"Unknown measure");
  if (!volume(a) || !volume(b)) return report(show, name, L"Integer or Real volume is required");
  if (!sameGrid(a, b)) return report(show, name, L"Equal dimensions are expected");
  const int T = std::max(a->dim.t, b->dim.t);
  if ((a->dim.t != 1 && a->dim.t != T) || (b->dim.t != 1 && b->dim.t != T))
    return report(show, name, L"Equal numbers of time points are expected");
  if (t < 0 || t >= T) return report(show, name, L"Invalid time point");
  if (!roiFits(roi, a, T)) return report(show, name, L"ROI does not match the volumes");
  const int ta = a->dim.t == 1 ? 0 : t, tb = b->dim.t == 1 ? 0 : t, tr = roi && roi->dim.t == 1 ? 0 : t;
  // The pairs in one fixed voxel order (slice by slice, gathered in parallel).
  const int64_t h = a->dim.h, d = a->dim.d;
  std::vector<std::vector<double>> pa(static_cast<size_t>(d)), pb(static_cast<size_t>(d));
  tbb::parallel_for(int64_t(0), d, [&](int64_t z) {
    std::vector<double> la, lb;
    for (int64_t y = 0; y < h; ++y)
      forPairs(a, b, roi, ta, tb, tr, y, z, la, lb, [&](double va, double vb) {
        pa[size_t(z)].push_back(va);
        pb[size_t(z)].push_back(vb);
      });
  });
  std::vector<double> sa, sb;
  for (int64_t z = 0; z < d; ++z) {
    sa.insert(sa.end(), pa[size_t(z)].begin(), pa[size_t(z)].end());
    sb.insert(sb.end(), pb[size_t(z)].begin(), pb[size_t(z)].end());
  }
  if (sa.empty()) return report(show, name, L"No voxels to compare (empty ROI or void volumes)");
  VA_SampleMutualInfo(measure, sa.data(), sb.data(), int64_t(sa.size()), value);
  return true;
}

bool VA_VolCalcZNCC(const FRAME* a, const FRAME* b, const FRAME* roi, double* value, bool show) {
  const wchar_t* name = L"VA_VolCalcZNCC";
  if (!value) return false;
  if (!volume(a) || !volume(b)) return report(show, name, L"Integer or Real volume is required");
  if (!sameGrid(a, b)) return report(show, name, L"Equal dimensions are expected");
  if (a->dim.t != 1 || b->dim.t != 1) return report(show, name, L"3D volume is required");
  if (!roiFits(roi, a, 1)) return report(show, name, L"ROI does not match the volumes");
  const int64_t h = a->dim.h, d = a->dim.d;
  tbb::enumerable_thread_specific<Sums> local;
  tbb::parallel_for(int64_t(0), d * h, [&](int64_t i) {
    Sums& s = local.local();
    forPairs(a, b, roi, 0, 0, 0, i % h, i / h, s.la, s.lb, [&](double va, double vb) {
      s.n += 1, s.sa += va, s.sb += vb;
    });
  });
  double n = 0, ma = 0, mb = 0;
  for (const Sums& s : local) n += s.n, ma += s.sa, mb += s.sb;
  if (n == 0) return report(show, name, L"No voxels to compare (empty ROI or void volumes)");
  ma /= n;
  mb /= n;
  // Second pass about the means: no cancellation for volumes with a large offset.
  tbb::enumerable_thread_specific<Sums> second;
  tbb::parallel_for(int64_t(0), d * h, [&](int64_t i) {
    Sums& s = second.local();
    forPairs(a, b, roi, 0, 0, 0, i % h, i / h, s.la, s.lb, [&](double va, double vb) {
      s.saa += (va - ma) * (va - ma), s.sbb += (vb - mb) * (vb - mb), s.sab += (va - ma) * (vb - mb);
    });
  });
  double saa = 0, sbb = 0, sab = 0;
  for (const Sums& s : second) saa += s.saa, sbb += s.sbb, sab += s.sab;
  if (!(saa > 0) || !(sbb > 0)) return report(show, name, L"The correlation of a constant volume is undefined");
  *value = sab / std::sqrt(saa * sbb);
  return true;
}

bool VA_VolMeasureTV(bool twoD, const FRAME* frame, double* value, bool show) {
  const wchar_t* name = L"VA_VolMeasureTV";
  if (!value) return false;
  if (!volume(frame)) return report(show, name, L"Integer or Real volume is required");
  const int64_t w = frame->dim.w, h = frame->dim.h, d = frame->dim.d, T = frame->dim.t;
  struct Lines {
    std::vector<double> here, below, next;
    double sum = 0;
  };
  tbb::enumerable_thread_specific<Lines> local;
  tbb::parallel_for(int64_t(0), T * d * h, [&](int64_t i) {
    Lines& l = local.local();
    const int64_t y = i % h, z = (i / h) % d, t = i / (h * d);
    twk::lineToDoubles(frame, y, z, t, l.here);
    if (y + 1 < h) twk::lineToDoubles(frame, y + 1, z, t, l.below);
    if (!twoD && z + 1 < d) twk::lineToDoubles(frame, y, z + 1, t, l.next);
    auto diff = [](double from, double to) { return from == VOID_VALUE || to == VOID_VALUE ? 0.0 : to - from; };
    for (int64_t x = 0; x < w; ++x) {
      const double v = l.here[size_t(x)];
      const double dx = x + 1 < w ? diff(v, l.here[size_t(x + 1)]) : 0.0;
      const double dy = y + 1 < h ? diff(v, l.below[size_t(x)]) : 0.0;
      const double dz = !twoD && z + 1 < d ? diff(v, l.next[size_t(x)]) : 0.0;
      l.sum += std::sqrt(dx * dx + dy * dy + dz * dz);
    }
  });
  double sum = 0;
  for (const Lines& l : local) sum += l.sum;
  *value = sum;
  return true;
}
