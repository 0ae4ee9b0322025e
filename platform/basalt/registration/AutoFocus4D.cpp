// AutoFocus registration of 4D volumes and slice by slice: motion correction of a series onto its
// base time point, a 4D source onto a 3D target, and the in-plane registration of every slice. Each
// registration is the 3D engine's (AfCore: afPrepare, afRegister); the results are resliced by the
// one reslicer of registration (VA_ResliceAffine).

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "AfCore.h"
#include "AutoFocus.h"
#include "Reslice.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

using namespace twk::af;

namespace {

bool fail(const wchar_t* name, const wchar_t* why, bool show) {
  if (show) twk::showNamedError(name, why);
  return false;
}

// Outside the source: 0 in integer and ROI frames, the void value in real ones.
double outsideOf(const FRAME* f) { return f->type == FRM_REAL ? VOID_VALUE : 0.0; }

int64_t timePointBytes(const FRAME* f) { return f->lineBytes * f->dim.h * f->dim.d; }

// Slice z of time point t as a new single-slice frame.
FRAME* sliceOf(const FRAME* f, int t, int z) {
  FRAME* s = PR_FrameCreate(f->type, f->bpv, DIM3D{f->dim.w, f->dim.h, 1, 1}, false);
  if (!s) return nullptr;
  std::memcpy(s->data, twk::frameLine(f, 0, z, t), size_t(f->lineBytes) * f->dim.h);
  return s;
}

// Copies a single time point (or single slice) into time point t (at slice z) of out.
void putTimePoint(FRAME* out, int t, const FRAME* one) {
  std::memcpy(twk::frameLine(out, 0, 0, t), one->data, size_t(timePointBytes(one)));
}
void putSlice(FRAME* out, int t, int z, const FRAME* one) {
  std::memcpy(twk::frameLine(out, 0, z, t), one->data, size_t(out->lineBytes) * out->dim.h);
}

// Reslices a one-time-point frame by a millimetre map onto a grid.
FRAME* resliceBy(const AfAffine& map, const FRAME* one, const SPC& srcSpc, const DIM3D& dims, const SPC& tgtSpc,
                 int interpolation, bool show) {
  double m[16];
  afAffineToIndexMatrix(map, srcSpc, tgtSpc, m);
  const DIM3D d{dims.w, dims.h, dims.d, 1};
  return VA_ResliceAffine(m, one, &d, std::clamp(interpolation, 0, 4), outsideOf(one), show);
}

struct Guard {
  FRAME* f = nullptr;
  explicit Guard(FRAME* frame = nullptr) : f(frame) {}
  ~Guard() { PR_FrameDelete(&f); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;
};

// Translation of the centre (mm) and rotation angles (degrees, R = Rz Ry Rx) of a map.
void motionOf(const AfAffine& m, const double centre[3], double t[3], double r[3]) {
  double q[3];
  m.apply(centre, q);
  for (int k = 0; k < 3; ++k) t[k] = q[k] - centre[k];
  r[1] = -std::asin(std::clamp(m.a[2][0], -1.0, 1.0)) * 180 / M_PI;
  r[0] = std::atan2(m.a[2][1], m.a[2][2]) * 180 / M_PI;
  r[2] = std::atan2(m.a[1][0], m.a[0][0]) * 180 / M_PI;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

FRAME* VA_RegisterAF4Dto3D(const VA_AF3D& record, const wchar_t* folder, const FRAME* source, const SPC* srcSpc,
                           const FRAME* target, const FRAME* mask, const SPC* tgtSpc, bool singleTransform, int baseT,
                           double* finalCost, bool show) {
  const wchar_t* name = L"VA_RegisterAF4Dto3D";
  (void)folder;
  if (!source || !source->data || !target || !target->data || !srcSpc || !tgtSpc) {
    fail(name, L"Invalid volume", show);
    return nullptr;
  }
  if (target->dim.t != 1) {
    fail(name, L"Target volume must be 3D", show);
    return nullptr;
  }
  const int n = source->dim.t;
  baseT = std::clamp(baseT, 0, n - 1);
  twk::ProgressGuard guard(L"AutoFocus registration", show);
  const DIM3D out{target->dim.w, target->dim.h, target->dim.d, n};
  Guard result(PR_FrameCreate(source->type, source->bpv, out, source->type == FRM_ROI));
  if (!result.f) {
    fail(name, L"Not enough memory", show);
    return nullptr;
  }
  double costSum = 0;
  AfAffine shared;
  const int registrations = singleTransform ? 1 : n;
  for (int i = 0; i < registrations; ++i) {
    const int t = singleTransform ? baseT : i;
    AfPrepared p;
    if (!afPrepare(name, record, source, t, srcSpc, target, 0, mask, tgtSpc, &p, show)) return nullptr;
    AfAffine map;
    double cost = 0;
    if (!afRegister(name, record, p, afCentreMap(p.source, p.target), &guard, 100 * i / registrations,
                    100 * (i + 1) / registrations, &map, &cost, show))
      return nullptr;
    costSum += cost;
    if (singleTransform) shared = map;
    if (!singleTransform) {
      Guard one(VA_VolCropTimepoint(source, t));
      Guard moved(one.f ? resliceBy(map, one.f, *srcSpc, out, *tgtSpc, record.interpolation, show) : nullptr);
      if (!moved.f) return nullptr;
      putTimePoint(result.f, t, moved.f);
    }
  }
  if (singleTransform) {
    for (int t = 0; t < n; ++t) {
      Guard one(VA_VolCropTimepoint(source, t));
      Guard moved(one.f ? resliceBy(shared, one.f, *srcSpc, out, *tgtSpc, record.interpolation, show) : nullptr);
      if (!moved.f) return nullptr;
      putTimePoint(result.f, t, moved.f);
    }
  }
  if (finalCost) *finalCost = costSum / registrations;
  FRAME* r = result.f;
  result.f = nullptr;
  return r;
}

// ---------------------------------------------------------------------------------------------

FRAME* VA_RegisterAF4D_EX(const VA_AF4D* record, const wchar_t* layerName, const FRAME* frame, const SPC* spc,
                          const FRAME* mask, int currentT, int* baseT, CString* report, bool show) {
  const wchar_t* name = L"VA_RegisterAF4D_EX";
  if (!record || !frame || !frame->data || !spc) {
    fail(name, L"Invalid volume", show);
    return nullptr;
  }
  if (frame->dim.t < 2) {
    fail(name, L"4D volume is required", show);
    return nullptr;
  }
  if (record->algorithm4D < 0 || record->algorithm4D > 3) {
    fail(name, L"Unknown 4D algorithm", show);
    return nullptr;
  }
  const int n = frame->dim.t;
  const int base = std::clamp(currentT, 0, n - 1);
  const bool serial = record->algorithm4D == 0 || record->algorithm4D == 2;
  const bool forward = record->algorithm4D >= 2;
  const bool mode2D = record->mode2D || frame->dim.d == 1;
  const int slices = mode2D ? frame->dim.d : 1;
  const VA_AF3D& rec = *record;

  // The time points to register, in order of their registration (serial: outwards from the base).
  std::vector<int> order;
  for (int t = base + 1; t < n; ++t) order.push_back(t);
  if (!forward)
    for (int t = base - 1; t >= 0; --t) order.push_back(t);

  twk::ProgressGuard guard(L"AutoFocus motion correction", show);
  Guard result(VA_VolClone(frame));  // the base and the time points not registered stay as they are
  if (!result.f) {
    fail(name, L"Not enough memory", show);
    return nullptr;
  }
  // Per time point and slice: the map base grid mm -> time point mm.
  std::vector<std::vector<AfAffine>> maps(n, std::vector<AfAffine>(slices));
  std::vector<double> costs(n, 0.0);
  const int64_t work = int64_t(order.size()) * slices;
  int64_t done = 0;
  for (int t : order) {
    const int neighbour = !serial ? base : (t > base ? t - 1 : t + 1);
    for (int z = 0; z < slices; ++z, ++done) {
      const int from = int(100 * done / std::max<int64_t>(1, work)), to = int(100 * (done + 1) / std::max<int64_t>(1, work));
      AfPrepared p;
      bool ok;
      if (mode2D) {
        Guard src(sliceOf(frame, t, z)), tgt(sliceOf(frame, neighbour, z));
        Guard msk(mask && rec.useTargetRoi ? sliceOf(mask, 0, z) : nullptr);
        if (!src.f || !tgt.f) {
          fail(name, L"Not enough memory", show);
          return nullptr;
        }
        ok = afPrepare(name, rec, src.f, 0, spc, tgt.f, 0, msk.f, spc, &p, show);
      } else {
        ok = afPrepare(name, rec, frame, t, spc, frame, neighbour, mask, spc, &p, show);
      }
      if (!ok) return nullptr;
      AfAffine step;
      if (!afRegister(name, rec, p, AfAffine(), &guard, from, to, &step, &costs[t], show)) return nullptr;
      // Serial: the neighbour's map followed by this step, polished against the base so that the
      // small errors of the steps do not add up along the series.
      maps[t][z] = serial && neighbour != base ? maps[neighbour][z].then(step) : step;
      if (serial && neighbour != base && rec.power > 0) {
        AfPrepared onBase;
        bool prepared;
        if (mode2D) {
          Guard src(sliceOf(frame, t, z)), tgt(sliceOf(frame, base, z));
          Guard msk(mask && rec.useTargetRoi ? sliceOf(mask, 0, z) : nullptr);
          prepared = src.f && tgt.f && afPrepare(name, rec, src.f, 0, spc, tgt.f, 0, msk.f, spc, &onBase, show);
        } else {
          prepared = afPrepare(name, rec, frame, t, spc, frame, base, mask, spc, &onBase, show);
        }
        if (!prepared) return nullptr;
        afPolishPrepared(rec, onBase, &maps[t][z]);
      }
    }
  }
  // Reslice every registered time point (or slice) onto the base grid.
  for (int t : order) {
    for (int z = 0; z < slices; ++z) {
      Guard one(mode2D ? sliceOf(frame, t, z) : VA_VolCropTimepoint(frame, t));
      const DIM3D dims{frame->dim.w, frame->dim.h, mode2D ? 1 : frame->dim.d, 1};
      Guard moved(one.f ? resliceBy(maps[t][z], one.f, *spc, dims, *spc, rec.interpolation, show) : nullptr);
      if (!moved.f) return nullptr;
      if (mode2D) putSlice(result.f, t, z, moved.f);
      else putTimePoint(result.f, t, moved.f);
    }
    if (!guard.Poll()) return nullptr;
  }

  if (baseT) *baseT = base;
  if (report) {
    const double centre[3] = {(frame->dim.w - 1) * 0.5 * spc->x, (frame->dim.h - 1) * 0.5 * spc->y,
                              (frame->dim.d - 1) * 0.5 * spc->z};
    // The mask's centroid for the ROI motion.
    double roiCentre[3] = {0, 0, 0};
    bool roi = false;
    if (record->outputRoiMotion && mask && mask->type == FRM_ROI) {
      double sum[3] = {0, 0, 0}, count = 0;
      for (int z = 0; z < mask->dim.d; ++z)
        for (int y = 0; y < mask->dim.h; ++y)
          for (int x = 0; x < mask->dim.w; ++x)
            if (twk::roiBit(mask, x, y, z, 0)) {
              sum[0] += x * spc->x;
              sum[1] += y * spc->y;
              sum[2] += z * spc->z;
              count += 1;
            }
      if (count > 0) {
        roi = true;
        for (int k = 0; k < 3; ++k) roiCentre[k] = sum[k] / count;
      }
    }
    CString text;
    text.Format(L"AutoFocus motion correction of %s\r\nAlgorithm: %s%s\r\nMeasure: %s\r\nBase timepoint: %d\r\n",
                layerName ? layerName : L"", serial ? L"Serial" : L"Radial", forward ? L" Forward" : L"",
                VA_GetRegMeasureName(rec.measure), base + 1);
    text += L"Timepoint\tSlice\tdX mm\tdY mm\tdZ mm\tRotX deg\tRotY deg\tRotZ deg\tMeasure";
    if (roi) text += L"\tROI dX mm\tROI dY mm\tROI dZ mm";
    text += L"\r\n";
    for (int t = 0; t < n; ++t) {
      for (int z = 0; z < slices; ++z) {
        double tr[3], r[3];
        motionOf(maps[t][z], centre, tr, r);
        CString line;
        line.Format(L"%d\t%d\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%.6g", t + 1, mode2D ? z + 1 : 0, tr[0], tr[1], tr[2],
                    r[0], r[1], r[2], costs[t]);
        text += line;
        if (roi) {
          double q[3];
          maps[t][z].apply(roiCentre, q);
          line.Format(L"\t%.3f\t%.3f\t%.3f", q[0] - roiCentre[0], q[1] - roiCentre[1], q[2] - roiCentre[2]);
          text += line;
        }
        text += L"\r\n";
        if (record->saveTimepointTransform) {
          double m[16];
          afAffineToIndexMatrix(maps[t][z], *spc, *spc, m);
          for (int row = 0; row < 3; ++row) {
            line.Format(L"\t%.9g %.9g %.9g %.9g\r\n", m[row * 4], m[row * 4 + 1], m[row * 4 + 2], m[row * 4 + 3]);
            text += line;
          }
        }
      }
    }
    *report = text;
  }
  FRAME* r = result.f;
  result.f = nullptr;
  return r;
}

// ---------------------------------------------------------------------------------------------

bool VA_RegisterSliceBySliceAllowed(const DIM3D* srcDims, const SPC* srcSpc, const DIM3D* tgtDims, const SPC* tgtSpc,
                                    bool show) {
  const bool ok = srcDims && srcSpc && tgtDims && tgtSpc && srcDims->d == tgtDims->d && tgtSpc->z > 0 &&
                  std::fabs(srcSpc->z - tgtSpc->z) <= 0.01 * tgtSpc->z;
  if (!ok)
    fail(L"VA_RegisterSliceBySliceAllowed",
         L"Slice-by-slice registration requires the same number of slices and slice spacing", show);
  return ok;
}

FRAME* VA_RegisterAF3Dto3D_SliceBySlice(const VA_AF3D& record, int t, const FRAME* source, const SPC* srcSpc,
                                        const FRAME* target, const FRAME* mask, const SPC* tgtSpc, bool show) {
  const wchar_t* name = L"VA_RegisterAF3Dto3D_SliceBySlice";
  if (!source || !source->data || !target || !target->data || !srcSpc || !tgtSpc) {
    fail(name, L"Invalid volume", show);
    return nullptr;
  }
  if (!VA_RegisterSliceBySliceAllowed(&source->dim, srcSpc, &target->dim, tgtSpc, show)) return nullptr;
  if (t >= source->dim.t) {
    fail(name, L"Invalid time point", show);
    return nullptr;
  }
  const int n = source->dim.t, depth = target->dim.d;
  const DIM3D out{target->dim.w, target->dim.h, depth, n};
  Guard result(PR_FrameCreate(source->type, source->bpv, out, source->type == FRM_ROI));
  if (!result.f) {
    fail(name, L"Not enough memory", show);
    return nullptr;
  }
  twk::ProgressGuard guard(L"Slice-by-slice registration", show);
  const DIM3D sliceDims{target->dim.w, target->dim.h, 1, 1};
  const int registrations = t >= 0 ? 1 : n;
  for (int z = 0; z < depth; ++z) {
    Guard tgt(sliceOf(target, 0, z));
    Guard msk(mask && record.useTargetRoi ? sliceOf(mask, 0, z) : nullptr);
    AfAffine shared;
    for (int k = 0; k < n; ++k) {
      const int from = 100 * (z * n + k) / (depth * n), to = 100 * (z * n + k + 1) / (depth * n);
      AfAffine map = shared;
      if (k < registrations) {
        Guard src(sliceOf(source, t >= 0 ? t : k, z));
        AfPrepared p;
        if (!src.f || !tgt.f || !afPrepare(name, record, src.f, 0, srcSpc, tgt.f, 0, msk.f, tgtSpc, &p, show))
          return nullptr;
        if (!afRegister(name, record, p, afCentreMap(p.source, p.target), &guard, from, to, &map, nullptr, show))
          return nullptr;
        shared = map;
      }
      Guard one(sliceOf(source, k, z));
      Guard moved(one.f ? resliceBy(map, one.f, *srcSpc, sliceDims, *tgtSpc, record.interpolation, show) : nullptr);
      if (!moved.f) return nullptr;
      putSlice(result.f, k, z, moved.f);
    }
  }
  FRAME* r = result.f;
  result.f = nullptr;
  return r;
}
