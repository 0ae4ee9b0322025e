#include "geometry/Dynamic4D.h"

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/enumerable_thread_specific.h>
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

#include "DicomRec.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "docsupport/DocSupport.h"
#include "dynamics/Dynamics.h"
#include "filters/Filters.h"
#include "paths/FilePaths.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

bool usable(const FRAME* f) {
  return f && f->data && twk::voxelElemOf(f) != twk::VoxelElem::Invalid && f->type != FRM_ROI;
}

// One line of time point t as doubles; void voxels read as VOID_VALUE.
void readLine(const FRAME* f, int64_t y, int64_t z, int64_t t, double* out) {
  const uint8_t* line = twk::frameLine(f, y, z, t);
  const int64_t w = f->dim.w;
  switch (twk::voxelElemOf(f)) {
    case twk::VoxelElem::U8: for (int64_t x = 0; x < w; ++x) out[x] = line[x]; break;
    case twk::VoxelElem::U16:
      for (int64_t x = 0; x < w; ++x) out[x] = reinterpret_cast<const uint16_t*>(line)[x];
      break;
    case twk::VoxelElem::U32:
      for (int64_t x = 0; x < w; ++x) {
        const uint32_t v = reinterpret_cast<const uint32_t*>(line)[x];
        out[x] = v == VOID_INT_VALUE ? VOID_VALUE : double(v);
      }
      break;
    case twk::VoxelElem::F64: std::memcpy(out, line, size_t(w) * sizeof(double)); break;
    case twk::VoxelElem::Bit: for (int64_t x = 0; x < w; ++x) out[x] = twk::getBit(line, x) ? 1 : 0; break;
    default: std::fill(out, out + w, 0.0); break;
  }
}

// Calls fn(y, z, lines) for every line of the w x h x d grid in parallel, lines[t] holding line
// (y, z) of time point t0 + t as doubles.
template <class Fn>
void forLines(const FRAME* f, int t0, int t1, Fn&& fn) {
  const int64_t h = f->dim.h, n = t1 - t0 + 1, w = f->dim.w;
  tbb::enumerable_thread_specific<std::vector<double>> buffers;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, h * f->dim.d, 16), [&](const tbb::blocked_range<int64_t>& r) {
    std::vector<double>& buffer = buffers.local();
    buffer.resize(size_t(n * w));
    std::vector<const double*> lines(static_cast<size_t>(n));
    for (int64_t i = r.begin(); i < r.end(); ++i) {
      const int64_t y = i % h, z = i / h;
      for (int64_t t = 0; t < n; ++t) {
        readLine(f, y, z, t0 + t, buffer.data() + t * w);
        lines[size_t(t)] = buffer.data() + t * w;
      }
      fn(y, z, lines.data());
    }
  });
}

double* realLine(FRAME* f, int64_t y, int64_t z, int64_t t) {
  return reinterpret_cast<double*>(twk::frameLine(f, y, z, t));
}

bool checkInterval(const FRAME* f, int t0, int t1, const wchar_t* name, bool show) {
  if (t0 < 0 || t1 < t0 || t1 >= f->dim.t) {
    if (show) twk::showNamedError(name, L"Invalid time interval");
    return false;
  }
  return true;
}

FRAME* failFrame(const wchar_t* name, const wchar_t* why, bool show) {
  if (show) twk::showNamedError(name, why);
  return nullptr;
}

}  // namespace

FRAME* VA_VolDynSubtraction(const FRAME* frame, bool show) {
  const wchar_t* name = L"VA_VolDynSubtraction";
  if (!usable(frame)) return failFrame(name, L"Integer or Real volume is required", show);
  if (frame->dim.t < 2) return failFrame(name, L"4D volume is required", show);
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, frame->dim, false);
  if (!out) return failFrame(name, L"Not enough memory", show);
  const int T = frame->dim.t;
  forLines(frame, 0, T - 1, [&](int64_t y, int64_t z, const double* const* lines) {
    for (int t = 0; t < T; ++t) {
      double* dst = realLine(out, y, z, t);
      for (int64_t x = 0; x < frame->dim.w; ++x) {
        const double a = lines[t][x], b = lines[0][x];
        dst[x] = a == VOID_VALUE || b == VOID_VALUE ? VOID_VALUE : a - b;
      }
    }
  });
  return out;
}

namespace {

// A 3D real map of each voxel's defined values over t0..t1 reduced by reduce(values, count).
template <class Reduce>
FRAME* reduceOverTime(const FRAME* frame, int t0, int t1, const wchar_t* name, bool show, Reduce&& reduce) {
  if (!usable(frame)) return failFrame(name, L"Integer or Real volume is required", show);
  if (!checkInterval(frame, t0, t1, name, show)) return nullptr;
  const DIM3D d{frame->dim.w, frame->dim.h, frame->dim.d, 1};
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, d, false);
  if (!out) return failFrame(name, L"Not enough memory", show);
  const int n = t1 - t0 + 1;
  forLines(frame, t0, t1, [&](int64_t y, int64_t z, const double* const* lines) {
    double* dst = realLine(out, y, z, 0);
    for (int64_t x = 0; x < d.w; ++x) dst[x] = reduce(lines, x, n);
  });
  return out;
}

}  // namespace

namespace {

// The mean over t0..t1 of a frame of 8- or 16-bit voxels, which cannot hold the void value: every
// line summed straight from the time points into one accumulator line, no conversion buffers.
template <class V>
FRAME* averageNarrow(const FRAME* frame, int t0, int t1) {
  const DIM3D d{frame->dim.w, frame->dim.h, frame->dim.d, 1};
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, d, false);
  if (!out) return nullptr;
  const double n = t1 - t0 + 1;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, int64_t(d.h) * d.d, 8), [&](const tbb::blocked_range<int64_t>& r) {
    std::vector<uint32_t> sum(static_cast<size_t>(d.w));
    for (int64_t i = r.begin(); i < r.end(); ++i) {
      const int64_t y = i % d.h, z = i / d.h;
      std::fill(sum.begin(), sum.end(), 0u);
      for (int t = t0; t <= t1; ++t) {
        const V* line = reinterpret_cast<const V*>(twk::frameLine(frame, y, z, t));
        for (int64_t x = 0; x < d.w; ++x) sum[size_t(x)] += line[x];
      }
      double* dst = realLine(out, y, z, 0);
      for (int64_t x = 0; x < d.w; ++x) dst[x] = sum[size_t(x)] / n;
    }
  });
  return out;
}

}  // namespace

FRAME* VA_VolDynamicAverage(const FRAME* frame, int t0, int t1, bool show) {
  // Sums of up to 65,536 16-bit values fit 32 bits.
  if (usable(frame) && t1 - t0 < 65536 && checkInterval(frame, t0, t1, L"VA_VolDynamicAverage", false)) {
    const twk::VoxelElem e = twk::voxelElemOf(frame);
    FRAME* out = e == twk::VoxelElem::U8    ? averageNarrow<uint8_t>(frame, t0, t1)
                 : e == twk::VoxelElem::U16 ? averageNarrow<uint16_t>(frame, t0, t1)
                                            : nullptr;
    if (out) return out;
  }
  return reduceOverTime(frame, t0, t1, L"VA_VolDynamicAverage", show, [](const double* const* lines, int64_t x, int n) {
    double sum = 0;
    int count = 0;
    for (int t = 0; t < n; ++t)
      if (lines[t][x] != VOID_VALUE) {
        sum += lines[t][x];
        ++count;
      }
    return count ? sum / count : VOID_VALUE;
  });
}

FRAME* VA_VolDynamicMax(const FRAME* frame, int t0, int t1, bool show) {
  return reduceOverTime(frame, t0, t1, L"VA_VolDynamicMax", show, [](const double* const* lines, int64_t x, int n) {
    double best = -VOID_VALUE;
    bool any = false;
    for (int t = 0; t < n; ++t)
      if (lines[t][x] != VOID_VALUE) {
        best = any ? std::max(best, lines[t][x]) : lines[t][x];
        any = true;
      }
    return any ? best : VOID_VALUE;
  });
}

FRAME* VA_VolDynamicIntegral(const FRAME* frame, const DYNCRD* dyn, const int* order, int t0, int t1, bool show) {
  const wchar_t* name = L"VA_VolDynamicIntegral";
  if (!usable(frame)) return failFrame(name, L"Integer or Real volume is required", show);
  if (!dyn || !order) return failFrame(name, L"Dynamic coordinates are required", show);
  if (!checkInterval(frame, t0, t1, name, show)) return nullptr;
  const int T = frame->dim.t;
  for (int i = 0; i < T; ++i)
    if (order[i] < 0 || order[i] >= T) return failFrame(name, L"Invalid time order", show);
  const DIM3D d{frame->dim.w, frame->dim.h, frame->dim.d, 1};
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, d, false);
  if (!out) return failFrame(name, L"Not enough memory", show);
  // The whole frame's lines are read (time points in stored order); the sum walks the order.
  forLines(frame, 0, T - 1, [&](int64_t y, int64_t z, const double* const* lines) {
    double* dst = realLine(out, y, z, 0);
    for (int64_t x = 0; x < d.w; ++x) {
      double sum = 0;
      bool any = false;
      for (int i = t0; i < t1; ++i) {
        const double a = lines[order[i]][x], b = lines[order[i + 1]][x];
        if (a == VOID_VALUE || b == VOID_VALUE) continue;
        sum += 0.5 * (a + b) * (dyn[order[i + 1]].time - dyn[order[i]].time);
        any = true;
      }
      dst[x] = any || t0 == t1 ? sum : VOID_VALUE;
    }
  });
  return out;
}

CVol* VA_AggregateVolume4D(int type, bool all, const CVol* vol, bool show) {
  const wchar_t* name = L"VA_AggregateVolume4D";
  auto fail = [&](const wchar_t* why) -> CVol* {
    if (show) twk::showNamedError(name, why);
    return nullptr;
  };
  if (!vol || !usable(vol->frame)) return fail(L"Integer or Real volume is required");
  if (vol->T() < 2 || !vol->dyn) return fail(L"4D volume is required");
  if (type < 0 || type > 3) return fail(L"Invalid Aggregate type");
  const DYNDIM kind = vol->GetDynType();
  if (kind == DYN_TIME || kind == DYN_UNKNOWN) return fail(L"Invalid Dynamic dimension");
  // Groups of time indices.
  std::vector<std::vector<int>> groups;
  const int T = vol->T();
  auto value = [&](int t) { return VA_DynCoordinate(vol->dyn[t], kind); };
  for (int t = 0; t < T; ++t) {
    std::vector<int>* group = nullptr;
    if (all) {
      for (auto& g : groups)
        if (value(g[0]) == value(t)) group = &g;
    } else if (!groups.empty() && value(groups.back().back()) == value(t)) {
      group = &groups.back();
    }
    if (group) group->push_back(t);
    else groups.push_back({t});
  }
  const int G = int(groups.size());
  const DIM3D d{vol->W(), vol->H(), vol->D(), G};
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, d, false);
  if (!out) return fail(L"Not enough memory");
  forLines(vol->frame, 0, T - 1, [&](int64_t y, int64_t z, const double* const* lines) {
    std::vector<double> v;
    for (int g = 0; g < G; ++g) {
      double* dst = realLine(out, y, z, g);
      for (int64_t x = 0; x < d.w; ++x) {
        v.clear();
        for (int t : groups[size_t(g)])
          if (lines[t][x] != VOID_VALUE) v.push_back(lines[t][x]);
        if (v.empty()) {
          dst[x] = VOID_VALUE;
          continue;
        }
        const double mean = std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
        if (type == 1) {
          std::sort(v.begin(), v.end());
          const size_t m = v.size() / 2;
          dst[x] = v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
        } else if (type == 0) {
          dst[x] = mean;
        } else {
          double ss = 0;
          for (double a : v) ss += (a - mean) * (a - mean);
          const double residual = std::sqrt(ss / double(v.size()));
          dst[x] = type == 2 ? residual : (mean != 0 ? residual / std::fabs(mean) : 0.0);
        }
      }
    }
  });
  CVol* result = VA_CloneByReformat(vol, &out, nullptr, nullptr, nullptr, show);
  if (!result) {
    PR_FrameDelete(&out);
    return nullptr;
  }
  pf_free(&result->dyn);
  result->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(G) * int64_t(sizeof(DYNCRD))));
  if (result->dyn)
    for (int g = 0; g < G; ++g) result->dyn[g] = vol->dyn[groups[size_t(g)][0]];
  // The records of the first time point stand for every group.
  if (result->dicom && result->numDicom > vol->D()) {
    for (int64_t i = vol->D(); i < result->numDicom; ++i) delete result->dicom[i];
    result->numDicom = vol->D();
  }
  return result;
}

bool VA_SortVolumeArrayByTime(CVol** volumes, int n, bool show) {
  if (!volumes || n < 0) {
    if (show) twk::showNamedError(L"VA_SortVolumeArrayByTime", L"Invalid volume array");
    return false;
  }
  auto timeOf = [](const CVol* v) { return v && v->dyn ? v->dyn[0].time : 0.0; };
  std::stable_sort(volumes, volumes + n, [&](const CVol* a, const CVol* b) { return timeOf(a) < timeOf(b); });
  return true;
}

bool VA_FoldMultiechoVolume4D(const CVol* vol, const VA_VOLSMOOTH* smooth, double airThreshold, CVol** s0, CVol** t2,
                              bool show) {
  const wchar_t* name = L"CVol::FoldMultiechoVolume4D";
  auto fail = [&](const wchar_t* why) {
    if (show) twk::showNamedError(name, why);
    return false;
  };
  if (!s0 || !t2) return false;
  *s0 = *t2 = nullptr;
  if (!vol || !usable(vol->frame) || vol->T() < 2 || !vol->dyn) return fail(L"4D volume is required");
  const int T = vol->T();
  std::vector<double> te(static_cast<size_t>(T));
  for (int t = 0; t < T; ++t) te[size_t(t)] = vol->dyn[t].echoTime;
  if (*std::max_element(te.begin(), te.end()) - *std::min_element(te.begin(), te.end()) <= 0)
    return fail(L"Echo times should differ");
  // The smoothed echoes, when asked for, are the only copy of the series made here.
  FRAME* smoothed = smooth ? VA_VolSmoothWithROI(smooth, vol->frame, -1, nullptr, vol->Spc(), false, show) : nullptr;
  if (smooth && !smoothed) return false;
  const FRAME* source = smoothed ? smoothed : vol->frame;
  const DIM3D d{vol->W(), vol->H(), vol->D(), 1};
  FRAME* a = PR_FrameCreate(FRM_REAL, 64, d, false);
  FRAME* b = PR_FrameCreate(FRM_REAL, 64, d, false);
  if (!a || !b) {
    PR_FrameDelete(&a);
    PR_FrameDelete(&b);
    PR_FrameDelete(&smoothed);
    return fail(L"Not enough memory");
  }
  forLines(source, 0, T - 1, [&](int64_t y, int64_t z, const double* const* lines) {
    double* out0 = realLine(a, y, z, 0);
    double* out1 = realLine(b, y, z, 0);
    for (int64_t x = 0; x < d.w; ++x) {
      // ln S = ln S0 - TE / T2, weighted by S^2 (the variance of ln S goes as 1 / S^2).
      double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, top = 0;
      for (int t = 0; t < T; ++t) {
        const double s = lines[t][x];
        if (s == VOID_VALUE) continue;
        top = std::max(top, s);
        if (!(s > 0)) continue;
        const double w = s * s, l = std::log(s);
        sw += w;
        sx += w * te[size_t(t)];
        sy += w * l;
        sxx += w * te[size_t(t)] * te[size_t(t)];
        sxy += w * te[size_t(t)] * l;
      }
      const double det = sw * sxx - sx * sx;
      const double slope = det > 0 ? (sw * sxy - sx * sy) / det : 0.0;
      if (top <= airThreshold || !(det > 0) || !(slope < 0)) {
        out0[x] = out1[x] = 0;
        continue;
      }
      out0[x] = std::exp((sy - slope * sx) / sw);
      out1[x] = -1.0 / slope;
    }
  });
  PR_FrameDelete(&smoothed);
  *s0 = VA_CloneByReformat(vol, &a, nullptr, nullptr, nullptr, show);
  *t2 = *s0 ? VA_CloneByReformat(vol, &b, nullptr, nullptr, nullptr, show) : nullptr;
  PR_FrameDelete(&a);
  PR_FrameDelete(&b);
  if (!*s0 || !*t2) {
    delete *s0;
    delete *t2;
    *s0 = *t2 = nullptr;
    return false;
  }
  (*s0)->name = PR_AddFileNameSfx((*s0)->name, L"_TE0");
  (*t2)->name = PR_AddFileNameSfx((*t2)->name, L"_T2");
  (*t2)->unit = L"sec";
  for (CVol* v : {*s0, *t2}) {
    if (v->dyn) v->dyn[0] = vol->dyn[0];
    if (v->dicom && v->numDicom > vol->D()) {
      for (int64_t i = vol->D(); i < v->numDicom; ++i) delete v->dicom[i];
      v->numDicom = vol->D();
    }
  }
  return true;
}

double VA_SampleMutualInfo(int measure, const double* a, const double* b, int64_t n, double* value) {
  constexpr int kBins = 64;
  auto range = [n](const double* v, double* lo, double* hi) {
    *lo = n ? *std::min_element(v, v + n) : 0;
    *hi = n ? *std::max_element(v, v + n) : 0;
    // numpy widens an empty range by 0.5 on either side.
    if (*hi == *lo) {
      *lo -= 0.5;
      *hi += 0.5;
    }
  };
  double alo, ahi, blo, bhi;
  range(a, &alo, &ahi);
  range(b, &blo, &bhi);
  auto bin = [](double v, double lo, double hi) {
    const int k = int((v - lo) / (hi - lo) * kBins);
    return std::clamp(k, 0, kBins - 1);
  };
  std::vector<double> joint(kBins * kBins, 0.0), pa(kBins, 0.0), pb(kBins, 0.0);
  for (int64_t i = 0; i < n; ++i) joint[size_t(bin(a[i], alo, ahi) * kBins + bin(b[i], blo, bhi))] += 1;
  for (int i = 0; i < kBins; ++i)
    for (int j = 0; j < kBins; ++j) {
      pa[size_t(i)] += joint[size_t(i * kBins + j)];
      pb[size_t(j)] += joint[size_t(i * kBins + j)];
    }
  const double total = double(n);
  double ha = 0, hb = 0, hab = 0;
  for (double c : joint)
    if (c > 0) hab -= c / total * std::log(c / total);
  for (double c : pa)
    if (c > 0) ha -= c / total * std::log(c / total);
  for (double c : pb)
    if (c > 0) hb -= c / total * std::log(c / total);
  const double v = measure == 3 ? ha + hb - hab : (hab > 0 ? (ha + hb) / hab : 0.0);
  if (value) *value = v;
  return v;
}

bool VA_Vol4D_CalculateMutualInfoOverROI(int measure, const FRAME* frame, const FRAME* roi, double* value, bool show) {
  const wchar_t* name = L"VA_Vol4D_CalculateMutualInfoOverROI";
  auto fail = [&](const wchar_t* why) {
    if (show) twk::showNamedError(name, why);
    return false;
  };
  if (!value) return false;
  if (!usable(frame)) return fail(L"Integer or Real volume is required");
  if (frame->dim.t < 2) return fail(L"4D volume is required");
  if (measure != 3 && measure != 4) return fail(L"Unknown measure");
  if (roi && (roi->type != FRM_ROI || roi->dim.w != frame->dim.w || roi->dim.h != frame->dim.h ||
              roi->dim.d != frame->dim.d || (roi->dim.t != 1 && roi->dim.t != frame->dim.t)))
    return fail(L"ROI does not match the volume");
  const int T = frame->dim.t;
  // Each time point's defined voxels inside the ROI, in one fixed voxel order.
  std::vector<std::vector<double>> values(static_cast<size_t>(T));
  tbb::parallel_for(0, T, [&](int t) {
    std::vector<double>& v = values[size_t(t)];
    std::vector<double> line(static_cast<size_t>(frame->dim.w));
    for (int z = 0; z < frame->dim.d; ++z)
      for (int y = 0; y < frame->dim.h; ++y) {
        readLine(frame, y, z, t, line.data());
        for (int x = 0; x < frame->dim.w; ++x)
          if (!roi || twk::roiBit(roi, x, y, z, roi->dim.t == 1 ? 0 : t)) v.push_back(line[size_t(x)]);
      }
  });
  std::vector<double> per(static_cast<size_t>(T - 1));
  tbb::parallel_for(0, T - 1, [&](int t) {
    const std::vector<double>& a = values[size_t(t)];
    VA_SampleMutualInfo(measure, a.data(), values[size_t(t + 1)].data(), int64_t(a.size()), &per[size_t(t)]);
  });
  if (values[0].empty()) return fail(L"ROI is empty");
  *value = std::accumulate(per.begin(), per.end(), 0.0) / double(T - 1);
  return true;
}

FRAME* VA_VolumeTimeToDepth(const FRAME* frame, bool show) {
  const wchar_t* name = L"VA_VolumeTimeToDepth";
  if (!frame || !frame->data || twk::voxelElemOf(frame) == twk::VoxelElem::Invalid)
    return failFrame(name, L"Invalid volume", show);
  const int64_t depth = int64_t(frame->dim.d) * frame->dim.t;
  if (depth > INT32_MAX) return failFrame(name, L"Volume is too large", show);
  FRAME* out = PR_FrameCreate(frame->type, frame->bpv, DIM3D{frame->dim.w, frame->dim.h, int(depth), 1}, false);
  if (!out) return failFrame(name, L"Not enough memory", show);
  // Slices are stored z + t * depth: the same bytes in the same order.
  std::memcpy(out->data, frame->data, size_t(PR_FrameMemSize(frame)));
  return out;
}

FRAME* VA_VolumeDepthToTime(const CVol* vol, DIM3D* dims, bool show) {
  const wchar_t* name = L"VA_VolumeDepthToTime";
  if (!vol || !vol->frame || !vol->frame->data || vol->T() != 1) return failFrame(name, L"3D volume is required", show);
  const int D = vol->D();
  int period = 0;
  if (vol->imgPos)
    for (int k = 1; k < D && !period; ++k) {
      const DPOINT3D& a = vol->imgPos[0];
      const DPOINT3D& b = vol->imgPos[k];
      if (std::fabs(a.x - b.x) < 0.001 && std::fabs(a.y - b.y) < 0.001 && std::fabs(a.z - b.z) < 0.001) period = k;
    }
  if (period == 0 || D % period != 0) return failFrame(name, L"No repeating slice positions are found", show);
  const DIM3D d{vol->W(), vol->H(), period, D / period};
  FRAME* out = PR_FrameCreate(vol->frame->type, vol->frame->bpv, d, false);
  if (!out) return failFrame(name, L"Not enough memory", show);
  std::memcpy(out->data, vol->frame->data, size_t(PR_FrameMemSize(vol->frame)));
  if (dims) *dims = d;
  return out;
}

DYNCRD* VA_AllocDynCrd(int n) {
  if (n < 1) return nullptr;
  auto* dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(n) * int64_t(sizeof(DYNCRD))));
  if (dyn)
    for (int i = 0; i < n; ++i) dyn[i].time = dyn[i].timeEnd = double(i);
  return dyn;
}

FRAME* VA_VolumeUserToVolumeMosaic(const FRAME* frame, bool show) {
  const wchar_t* name = L"VA_VolumeUserToVolumeMosaic";
  if (!frame || !frame->data || twk::voxelElemOf(frame) == twk::VoxelElem::Invalid)
    return failFrame(name, L"Invalid volume", show);
  const int n = frame->dim.d;
  int grid = 1;
  while (int64_t(grid) * grid < n) ++grid;
  const DIM3D d{frame->dim.w * grid, frame->dim.h * grid, 1, frame->dim.t};
  FRAME* out = PR_FrameCreate(frame->type, frame->bpv, d, true);
  if (!out) return failFrame(name, L"Not enough memory", show);
  // One task per time point: tiles side by side share the bytes of ROI lines.
  tbb::parallel_for(0, d.t, [&](int t) {
    for (int k = 0; k < n; ++k) {
      const int x0 = (k % grid) * frame->dim.w, y0 = (k / grid) * frame->dim.h;
      for (int y = 0; y < frame->dim.h; ++y)
        for (int x = 0; x < frame->dim.w; ++x)
          twk::setVoxelValue(out, x0 + x, y0 + y, 0, t, twk::voxelValue(frame, x, y, k, t));
    }
  });
  return out;
}

namespace {

// A 3D map that matches the w x h x d grid of a series.
bool matchesGrid(const CVol* map, const FRAME* series) {
  return map && usable(map->frame) && map->frame->dim.w == series->dim.w && map->frame->dim.h == series->dim.h &&
         map->frame->dim.d == series->dim.d;
}

}  // namespace

FRAME* VA_RecoverIvimResidual(const CVol* base, const CVol* s0, const CVol* f, const CVol* dp, const CVol* dt,
                              bool show) {
  const wchar_t* name = L"VA_RecoverIvimResidual";
  if (!base || !usable(base->frame) || !base->dyn) return failFrame(name, L"Integer or Real volume is required", show);
  const FRAME* series = base->frame;
  const int T = series->dim.t;
  if (T < 2) return failFrame(name, L"4D volume is required", show);
  if (!matchesGrid(f, series) || !matchesGrid(dp, series) || !matchesGrid(dt, series) ||
      (s0 && !matchesGrid(s0, series)))
    return failFrame(name, L"Parameter maps should match the volume's dimensions", show);
  std::vector<double> b(static_cast<size_t>(T));
  for (int t = 0; t < T; ++t) b[size_t(t)] = base->dyn[t].bValue;
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, DIM3D{series->dim.w, series->dim.h, series->dim.d, 1}, false);
  if (!out) return failFrame(name, L"Not enough memory", show);
  const int64_t w = series->dim.w;
  tbb::enumerable_thread_specific<std::vector<double>> buffers;
  forLines(series, 0, T - 1, [&](int64_t y, int64_t z, const double* const* lines) {
    std::vector<double>& p = buffers.local();
    p.resize(size_t(4 * w));
    double *fv = p.data(), *dpv = fv + w, *dtv = dpv + w, *s0v = dtv + w;
    readLine(f->frame, y, z, 0, fv);
    readLine(dp->frame, y, z, 0, dpv);
    readLine(dt->frame, y, z, 0, dtv);
    if (s0) readLine(s0->frame, y, z, 0, s0v);
    double* dst = realLine(out, y, z, 0);
    for (int64_t x = 0; x < w; ++x) {
      const double fx = fv[x], dpx = dpv[x], dtx = dtv[x];
      if (fx == VOID_VALUE || dtx == VOID_VALUE || (s0 && s0v[x] == VOID_VALUE)) {
        dst[x] = VOID_VALUE;
        continue;
      }
      const bool mono = dpx == VOID_VALUE;
      auto shape = [&](double bv) {
        return mono ? std::exp(-bv * dtx) : (1 - fx) * std::exp(-bv * dtx) + fx * std::exp(-bv * dpx);
      };
      double amplitude = s0 ? s0v[x] : 0.0;
      if (!s0) {
        double sym = 0, smm = 0;
        for (int t = 0; t < T; ++t)
          if (lines[t][x] != VOID_VALUE) {
            const double m = shape(b[size_t(t)]);
            sym += lines[t][x] * m;
            smm += m * m;
          }
        amplitude = smm > 0 ? sym / smm : 0.0;
      }
      double sum = 0;
      int n = 0;
      for (int t = 0; t < T; ++t)
        if (lines[t][x] != VOID_VALUE) {
          const double r = lines[t][x] - amplitude * shape(b[size_t(t)]);
          sum += r * r;
          ++n;
        }
      dst[x] = n ? std::sqrt(sum / n) : VOID_VALUE;
    }
  });
  return out;
}

bool VA_VolGetBoxPeak(const FRAME* frame, const RECT3D* box, int* timeIndex, bool show) {
  const wchar_t* name = L"VA_VolGetBoxPeak";
  auto fail = [&](const wchar_t* why) {
    if (show) twk::showNamedError(name, why);
    return false;
  };
  if (!usable(frame) || !box || !timeIndex) return fail(L"Integer or Real volume is required");
  if (frame->dim.t < 2) return fail(L"4D volume is required");
  const int64_t x0 = std::max<int64_t>(0, std::min(box->x0, box->x1)),
                x1 = std::min<int64_t>(frame->dim.w - 1, std::max(box->x0, box->x1));
  const int64_t y0 = std::max<int64_t>(0, std::min(box->y0, box->y1)),
                y1 = std::min<int64_t>(frame->dim.h - 1, std::max(box->y0, box->y1));
  const int64_t z0 = std::max<int64_t>(0, std::min(box->z0, box->z1)),
                z1 = std::min<int64_t>(frame->dim.d - 1, std::max(box->z0, box->z1));
  if (x0 > x1 || y0 > y1 || z0 > z1) return fail(L"Box is outside the volume");
  const int T = frame->dim.t;
  std::vector<double> mean(static_cast<size_t>(T), -HUGE_VAL);
  tbb::parallel_for(0, T, [&](int t) {
    std::vector<double> line(static_cast<size_t>(frame->dim.w));
    double sum = 0;
    int64_t n = 0;
    for (int64_t z = z0; z <= z1; ++z)
      for (int64_t y = y0; y <= y1; ++y) {
        readLine(frame, y, z, t, line.data());
        for (int64_t x = x0; x <= x1; ++x)
          if (line[size_t(x)] != VOID_VALUE) {
            sum += line[size_t(x)];
            ++n;
          }
      }
    if (n) mean[size_t(t)] = sum / double(n);
  });
  const auto peak = std::max_element(mean.begin(), mean.end());
  if (*peak == -HUGE_VAL) return fail(L"Box holds no defined voxel");
  *timeIndex = int(peak - mean.begin());
  return true;
}

FRAME* VA_VolBasicGradient4D(const FRAME* frame, const DYNCRD* dyn, const FRAME* roi, int type, bool show) {
  const wchar_t* name = L"VA_VolBasicGradient4D";
  if (!usable(frame)) return failFrame(name, L"Integer or Real volume is required", show);
  const DIM3D dim = frame->dim;
  if (dim.t < 2 || !dyn) return failFrame(name, L"4D volume is required", show);
  if (type != 0) return failFrame(name, L"Invalid gradient type", show);
  if (roi && (roi->type != FRM_ROI || roi->dim.w != dim.w || roi->dim.h != dim.h || roi->dim.d != dim.d ||
              (roi->dim.t != 1 && roi->dim.t != dim.t)))
    return failFrame(name, L"ROI should match the volume's dimensions", show);
  const int T = dim.t;
  // Chronological neighbours: rank[k] is the time index of the k-th time point by time.
  std::vector<int> rank(static_cast<size_t>(T));
  std::iota(rank.begin(), rank.end(), 0);
  std::stable_sort(rank.begin(), rank.end(), [&](int a, int b) { return dyn[a].time < dyn[b].time; });
  for (int k = 1; k < T; ++k)
    if (!(dyn[rank[size_t(k)]].time > dyn[rank[size_t(k - 1)]].time))
      return failFrame(name, L"Times should differ", show);
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, dim, false);
  if (!out) return failFrame(name, L"Not enough memory", show);
  const int64_t w = dim.w, h = dim.h, d = dim.d;
  // Central difference of a line pair, one-sided where only one neighbour exists.
  auto centred = [](const double* lo, const double* mid, const double* hi, int64_t x, double step) {
    if (!lo) return mid[x] == VOID_VALUE || hi[x] == VOID_VALUE ? VOID_VALUE : (hi[x] - mid[x]) / step;
    if (!hi) return mid[x] == VOID_VALUE || lo[x] == VOID_VALUE ? VOID_VALUE : (mid[x] - lo[x]) / step;
    return lo[x] == VOID_VALUE || hi[x] == VOID_VALUE ? VOID_VALUE : (hi[x] - lo[x]) / (2 * step);
  };
  tbb::enumerable_thread_specific<std::vector<double>> buffers;
  twk::ProgressGuard progress(L"4D gradient", show);
  // One parallel pass per time point (in chronological order), progress after each.
  for (int k = 0; k < T; ++k) {
    const int t = rank[size_t(k)];
    tbb::parallel_for(tbb::blocked_range<int64_t>(0, h * d, 16), [&](const tbb::blocked_range<int64_t>& r) {
      std::vector<double>& buf = buffers.local();
      buf.resize(size_t(7 * w));
      double* line[7];
      for (int i = 0; i < 7; ++i) line[i] = buf.data() + i * w;
      for (int64_t i = r.begin(); i < r.end(); ++i) {
        const int64_t y = i % h, z = i / h;
        double* dst = realLine(out, y, z, t);
        readLine(frame, y, z, t, line[0]);
        // y, z and time neighbours (null where the grid ends).
        const double* ny0 = y > 0 ? (readLine(frame, y - 1, z, t, line[1]), line[1]) : nullptr;
        const double* ny1 = y + 1 < h ? (readLine(frame, y + 1, z, t, line[2]), line[2]) : nullptr;
        const double* nz0 = z > 0 ? (readLine(frame, y, z - 1, t, line[3]), line[3]) : nullptr;
        const double* nz1 = z + 1 < d ? (readLine(frame, y, z + 1, t, line[4]), line[4]) : nullptr;
        const double* nt0 = k > 0 ? (readLine(frame, y, z, rank[size_t(k - 1)], line[5]), line[5]) : nullptr;
        const double* nt1 = k + 1 < T ? (readLine(frame, y, z, rank[size_t(k + 1)], line[6]), line[6]) : nullptr;
        const double tPrev = k > 0 ? dyn[rank[size_t(k - 1)]].time : 0,
                     tNext = k + 1 < T ? dyn[rank[size_t(k + 1)]].time : 0;
        const double tHere = dyn[t].time;
        const uint8_t* roiLine = roi ? twk::frameLine(roi, y, z, roi->dim.t == 1 ? 0 : t) : nullptr;
        for (int64_t x = 0; x < w; ++x) {
          if (roiLine && !twk::getBit(roiLine, x)) {
            dst[x] = 0;
            continue;
          }
          const double* c = line[0];
          double gx = VOID_VALUE;
          if (w == 1)
            gx = 0;
          else if (x == 0)
            gx = c[1] == VOID_VALUE || c[0] == VOID_VALUE ? VOID_VALUE : c[1] - c[0];
          else if (x == w - 1)
            gx = c[x] == VOID_VALUE || c[x - 1] == VOID_VALUE ? VOID_VALUE : c[x] - c[x - 1];
          else
            gx = c[x + 1] == VOID_VALUE || c[x - 1] == VOID_VALUE ? VOID_VALUE : (c[x + 1] - c[x - 1]) / 2;
          const double gy = ny0 || ny1 ? centred(ny0, c, ny1, x, 1.0) : 0.0;
          const double gz = nz0 || nz1 ? centred(nz0, c, nz1, x, 1.0) : 0.0;
          double gt = VOID_VALUE;
          if (!nt0)
            gt = c[x] == VOID_VALUE || nt1[x] == VOID_VALUE ? VOID_VALUE : (nt1[x] - c[x]) / (tNext - tHere);
          else if (!nt1)
            gt = c[x] == VOID_VALUE || nt0[x] == VOID_VALUE ? VOID_VALUE : (c[x] - nt0[x]) / (tHere - tPrev);
          else
            gt = nt0[x] == VOID_VALUE || nt1[x] == VOID_VALUE ? VOID_VALUE : (nt1[x] - nt0[x]) / (tNext - tPrev);
          dst[x] = gx == VOID_VALUE || gy == VOID_VALUE || gz == VOID_VALUE || gt == VOID_VALUE || c[x] == VOID_VALUE
                       ? VOID_VALUE
                       : std::sqrt(gx * gx + gy * gy + gz * gz + gt * gt);
        }
      }
    });
    if (!progress.Step(k + 1, T)) {
      PR_FrameDelete(&out);
      return nullptr;
    }
  }
  return out;
}

double* VA_ImageGradAverageOverTimeSubtractMin(const FRAME* frame, FRAME** averaged, bool show) {
  const wchar_t* name = L"VA_ImageGradAverageOverTimeSubtractMin";
  if (averaged) *averaged = nullptr;
  if (!averaged) return nullptr;
  FRAME* mean = VA_VolDynamicAverage(frame, 0, frame && usable(frame) ? frame->dim.t - 1 : 0, false);
  if (!mean) {
    failFrame(name, L"Integer or Real volume is required", show);
    return nullptr;
  }
  const int64_t w = mean->dim.w, h = mean->dim.h, d = mean->dim.d, n = w * h * d;
  auto* a = reinterpret_cast<double*>(mean->data);  // one time point of contiguous lines
  double low = HUGE_VAL;
  for (int64_t i = 0; i < n; ++i)
    if (a[i] != VOID_VALUE) low = std::min(low, a[i]);
  auto* g = static_cast<double*>(pf_malloc(3 * n * int64_t(sizeof(double))));
  if (!g) {
    PR_FrameDelete(&mean);
    failFrame(name, L"Not enough memory", show);
    return nullptr;
  }
  tbb::parallel_for(int64_t(0), n, [&](int64_t i) {
    if (a[i] != VOID_VALUE) a[i] -= low;
  });
  const int64_t step[3] = {1, w, w * h}, size[3] = {w, h, d};
  tbb::parallel_for(int64_t(0), n, [&](int64_t i) {
    const int64_t at[3] = {i % w, (i / w) % h, i / (w * h)};
    for (int k = 0; k < 3; ++k) {
      double v = 0;
      if (size[k] > 1) {
        const bool lo = at[k] > 0, hi = at[k] + 1 < size[k];
        const double before = a[lo ? i - step[k] : i], after = a[hi ? i + step[k] : i];
        v = before == VOID_VALUE || after == VOID_VALUE ? 0.0 : (after - before) / ((lo && hi) ? 2.0 : 1.0);
      }
      g[3 * i + k] = v;
    }
  });
  *averaged = mean;
  return g;
}

FRAME* VA_BreastBPEmapAnalysisAndReport(const FRAME* frame, const FRAME* roi, const SPC* spc, const double* times,
                                        double threshold, bool header, CString* report, bool show) {
  const wchar_t* name = L"VA_BreastBPEmapAnalysisAndReport";
  if (report) *report = CString();
  if (!usable(frame) || !times || !spc) return failFrame(name, L"Integer or Real volume is required", show);
  const DIM3D dim = frame->dim;
  const int T = dim.t;
  if (T < 2) return failFrame(name, L"4D volume is required", show);
  if (!roi || roi->type != FRM_ROI || roi->dim.w != dim.w || roi->dim.h != dim.h || roi->dim.d != dim.d)
    return failFrame(name, L"ROI should match the volume's dimensions", show);
  if (!(threshold >= 0 && threshold <= 100)) return failFrame(name, L"Threshold percentage should lie in [0,100]", show);
  // Post-contrast times in minutes, and their least-squares denominators.
  std::vector<double> minutes(static_cast<size_t>(T));
  for (int t = 0; t < T; ++t) minutes[size_t(t)] = times[t] / 60.0;
  double mt = 0;
  for (int t = 1; t < T; ++t) mt += minutes[size_t(t)];
  mt /= (T - 1);
  double stt = 0;
  for (int t = 1; t < T; ++t) stt += (minutes[size_t(t)] - mt) * (minutes[size_t(t)] - mt);
  if (T > 2 && !(stt > 0)) return failFrame(name, L"Times should differ", show);
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, DIM3D{dim.w, dim.h, dim.d, 1}, true);
  if (!out) return failFrame(name, L"Not enough memory", show);
  struct Sums {
    int64_t roi = 0, bpe = 0;
    double early = 0, slope = 0;
  };
  tbb::enumerable_thread_specific<Sums> sums;
  forLines(frame, 0, T - 1, [&](int64_t y, int64_t z, const double* const* lines) {
    const uint8_t* mask = twk::frameLine(roi, y, z, 0);
    double* dst = realLine(out, y, z, 0);
    Sums& s = sums.local();
    for (int64_t x = 0; x < dim.w; ++x) {
      if (!twk::getBit(mask, x)) continue;
      ++s.roi;
      const double s0 = lines[0][x];
      if (s0 == VOID_VALUE || !(s0 > 0) || lines[1][x] == VOID_VALUE) continue;
      const double early = 100 * (lines[1][x] - s0) / s0;
      if (!(early >= threshold)) continue;
      double slope = early;
      if (T > 2) {
        double sxy = 0;
        bool defined = true;
        for (int t = 1; t < T && defined; ++t) {
          defined = lines[t][x] != VOID_VALUE;
          sxy += (minutes[size_t(t)] - mt) * 100 * (lines[t][x] - s0) / s0;
        }
        if (!defined) continue;
        slope = sxy / stt;
      }
      dst[x] = slope;
      ++s.bpe;
      s.early += early;
      s.slope += slope;
    }
  });
  Sums total;
  for (const Sums& s : sums) {
    total.roi += s.roi;
    total.bpe += s.bpe;
    total.early += s.early;
    total.slope += s.slope;
  }
  if (total.roi == 0) {
    PR_FrameDelete(&out);
    return failFrame(name, L"ROI is empty", show);
  }
  if (report) {
    const double cm3 = spc->x * spc->y * spc->z / 1000.0;
    const double n = double(total.bpe);
    if (header)
      *report += L"ROI voxels\tROI volume (cm3)\tBPE voxels\tBPE volume (cm3)\tBPE fraction (%)\t"
                 L"Mean early enhancement (%)\tMean slope (%/min)\n";
    *report += FmtStr(L"%lld\t%.4lf\t%lld\t%.4lf\t%.4lf\t%.4lf\t%.4lf\n", static_cast<long long>(total.roi),
                      double(total.roi) * cm3, static_cast<long long>(total.bpe), n * cm3,
                      100.0 * n / double(total.roi), n > 0 ? total.early / n : 0.0, n > 0 ? total.slope / n : 0.0);
  }
  return out;
}

FRAME* VA_MSTG_Aggregate4D(const CVol* vol, const VA_URALGRAD* record, double noise, const FRAME* roi, bool show) {
  const wchar_t* name = L"CVol::MSTG_Aggregate4D";
  if (!vol || !usable(vol->frame) || !record) return failFrame(name, L"Integer or Real volume is required", show);
  const DIM3D dim = vol->frame->dim;
  if (roi && (roi->type != FRM_ROI || roi->dim.w != dim.w || roi->dim.h != dim.h || roi->dim.d != dim.d))
    return failFrame(name, L"ROI should match the volume's dimensions", show);
  VA_URALGRAD settings = *record;
  if (noise > 0 && settings.magnitude == 2) settings.normalization = noise;
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, DIM3D{dim.w, dim.h, dim.d, 1}, false);
  if (!out) return failFrame(name, L"Not enough memory", show);
  const int64_t n = int64_t(dim.w) * dim.h * dim.d;
  auto* top = reinterpret_cast<double*>(out->data);
  std::fill(top, top + n, -HUGE_VAL);
  twk::ProgressGuard progress(L"Multiscale texture gradient 4D", show);
  for (int t = 0; t < dim.t; ++t) {
    FRAME* magnitude = nullptr;
    if (!VA_DetectGrad3D(&settings, vol->frame, t, vol->Spc(), nullptr, nullptr, nullptr, &magnitude, show) ||
        !magnitude) {
      PR_FrameDelete(&out);
      return nullptr;
    }
    const auto* m = reinterpret_cast<const double*>(magnitude->data);
    tbb::parallel_for(int64_t(0), n, [&](int64_t i) {
      if (m[i] != VOID_VALUE && m[i] > top[i]) top[i] = m[i];
    });
    PR_FrameDelete(&magnitude);
    if (!progress.Step(t + 1, dim.t)) {
      PR_FrameDelete(&out);
      return nullptr;
    }
  }
  tbb::parallel_for(int64_t(0), n, [&](int64_t i) {
    const int64_t x = i % dim.w, y = (i / dim.w) % dim.h, z = i / (int64_t(dim.w) * dim.h);
    if (roi && !twk::getBit(twk::frameLine(roi, y, z, 0), x)) top[i] = 0;
    else if (top[i] == -HUGE_VAL) top[i] = VOID_VALUE;
  });
  return out;
}
