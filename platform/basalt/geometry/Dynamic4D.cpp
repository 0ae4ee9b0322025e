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

FRAME* VA_VolDynamicAverage(const FRAME* frame, int t0, int t1, bool show) {
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

bool VA_FoldMultiechoVolume4D(const CVol* vol, double airThreshold, CVol** s0, CVol** t2, bool show) {
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
  const DIM3D d{vol->W(), vol->H(), vol->D(), 1};
  FRAME* a = PR_FrameCreate(FRM_REAL, 64, d, false);
  FRAME* b = PR_FrameCreate(FRM_REAL, 64, d, false);
  if (!a || !b) {
    PR_FrameDelete(&a);
    PR_FrameDelete(&b);
    return fail(L"Not enough memory");
  }
  forLines(vol->frame, 0, T - 1, [&](int64_t y, int64_t z, const double* const* lines) {
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
