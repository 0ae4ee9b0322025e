#include "DocSupport.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_reduce.h>

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

#include "ArrayHelpers.h"
#include "DicomRec.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "paths/FilePaths.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

bool isVoid(const FRAME* f, double v) {
  if (f->type == FRM_REAL) return v == VOID_VALUE || v != v;
  if (f->type == FRM_INT && f->bpv == 32) return v == double(VOID_INT_VALUE);
  return false;
}

}  // namespace

CVol* VA_CloneByReformat(const CVol* templateVol, FRAME** frame, const SPC* spacing, const double* orientation,
                         const DPOINT3D* position, bool show) {
  if (!templateVol) return nullptr;
  FRAME* voxels = frame ? *frame : nullptr;
  FRAME* copied = nullptr;
  if (!voxels) {
    copied = VA_VolClone(templateVol->frame);
    if (!copied) {
      if (show) twk::showNamedError(L"CVol::CloneByReformat", L"Unable to copy the voxels");
      return nullptr;
    }
    voxels = copied;
  }
  CVol* vol = new CVol;
  vol->name = templateVol->name;
  vol->unit = templateVol->unit;
  vol->modality = templateVol->modality;
  vol->spc = spacing ? *spacing : templateVol->spc;
  std::memcpy(vol->orient, orientation ? orientation : templateVol->orient, sizeof vol->orient);
  vol->frame = voxels;
  const DIM3D* srcDim = templateVol->frame ? &templateVol->frame->dim : nullptr;
  const int t = voxels->dim.t, d = voxels->dim.d;
  if (srcDim && srcDim->t == t && templateVol->dyn) vol->dyn = pf_duplicate(templateVol->dyn, t);
  if (!vol->dyn) {
    vol->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(t) * int64_t(sizeof(DYNCRD))));
    if (vol->dyn)
      for (int i = 0; i < t; ++i) vol->dyn[i].time = vol->dyn[i].timeEnd = double(i);
  }
  if (srcDim && srcDim->d == d && templateVol->imgPos) vol->imgPos = pf_duplicate(templateVol->imgPos, d);
  if (position) {
    // The slices follow the first along the normal of the orientation, one spacing apart.
    if (!vol->imgPos) vol->imgPos = static_cast<DPOINT3D*>(pf_calloc(int64_t(d) * int64_t(sizeof(DPOINT3D))));
    if (vol->imgPos) {
      const double* o = vol->orient;
      const double n[3] = {o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5], o[0] * o[4] - o[1] * o[3]};
      for (int z = 0; z < d; ++z) {
        vol->imgPos[z].x = position->x + n[0] * vol->spc.z * z;
        vol->imgPos[z].y = position->y + n[1] * vol->spc.z * z;
        vol->imgPos[z].z = position->z + n[2] * vol->spc.z * z;
      }
    }
  }
  if (templateVol->dicom && templateVol->numDicom > 0) {
    vol->dicom = static_cast<DICOMREC**>(pf_calloc(templateVol->numDicom * int64_t(sizeof(DICOMREC*))));
    if (vol->dicom) {
      vol->numDicom = templateVol->numDicom;
      for (int64_t i = 0; i < vol->numDicom; ++i)
        if (templateVol->dicom[i]) vol->dicom[i] = new DICOMREC(*templateVol->dicom[i]);
    }
  }
  if (!vol->dyn) {
    // Out of memory: give the frame back to the caller untouched.
    vol->frame = nullptr;
    delete vol;
    PR_FrameDelete(&copied);
    if (show) twk::showNamedError(L"CVol::CloneByReformat", L"Memory allocation failure");
    return nullptr;
  }
  if (frame && !copied) *frame = nullptr;
  return vol;
}

bool VA_MinimizeDicomHeaders(CVol* vol) {
  if (!vol) return false;
  if (!vol->dicom || vol->numDicom <= 1) return true;
  for (int64_t i = 1; i < vol->numDicom; ++i) {
    delete vol->dicom[i];
    vol->dicom[i] = nullptr;
  }
  vol->numDicom = 1;
  return true;
}

bool VA_CloneDicomRecsWithNewGeometry(const CVol* source, const DIM3D* dim, FRMTYPE kind, DICOMREC*** records,
                                      int64_t* count) {
  if (!records || !count || !dim) return false;
  *records = nullptr;
  *count = 0;
  if (!source || !source->dicom || source->numDicom <= 0) return true;
  const int64_t n = int64_t(dim->d) * dim->t;
  if (n <= 0) return false;
  auto* out = static_cast<DICOMREC**>(pf_calloc(n * int64_t(sizeof(DICOMREC*))));
  if (!out) return false;
  int bits = 16;
  if (kind == FRM_ROI) bits = 8;
  else if (kind == FRM_REAL) bits = 32;
  else if (source->frame && source->frame->bpv == 32) bits = 32;
  for (int64_t i = 0; i < n; ++i) {
    const DICOMREC* src = source->dicom[std::min(i, source->numDicom - 1)];
    DICOMREC* rec = src ? new DICOMREC(*src) : new DICOMREC;
    rec->width = uint16_t(dim->w);
    rec->height = uint16_t(dim->h);
    rec->bitsAllocated = bits;
    rec->instanceNumber = int32_t(i + 1);
    rec->temporalPosition = int32_t(i / std::max(1, dim->d) + 1);
    rec->numberOfFrames = 1;
    if (kind == FRM_REAL) {
      rec->rescaleSlope = 1;
      rec->rescaleIntercept = 0;
    }
    out[i] = rec;
  }
  *records = out;
  *count = n;
  return true;
}

bool VA_CopyAllSpatialInfo(CVol* dst, const CVol* src) {
  if (!dst || !src) return false;
  dst->spc = src->spc;
  std::memcpy(dst->orient, src->orient, sizeof dst->orient);
  if (src->imgPos && src->frame && dst->frame && src->frame->dim.d == dst->frame->dim.d) {
    DPOINT3D* positions = pf_duplicate(src->imgPos, src->frame->dim.d);
    if (!positions) return false;
    pf_free(&dst->imgPos);
    dst->imgPos = positions;
  }
  return true;
}

bool VA_IsEqualDim(const CVol* a, const CVol* b) {
  if (!a || !b || !a->frame || !b->frame) return false;
  const DIM3D &p = a->frame->dim, &q = b->frame->dim;
  return p.w == q.w && p.h == q.h && p.d == q.d;
}

bool VA_LayersAreCompatible(const CVol* layer, const CVol* base, int mode) {
  if (!VA_IsEqualDim(layer, base)) return false;
  if (mode == 1) return layer->T() == 1 || base->T() == 1 || layer->T() == base->T();
  return true;
}

bool VA_ConstructVolumeName(const DICOMREC* record, bool withNumber, bool withDescription, int maxDescription,
                            const wchar_t* folder, const wchar_t* suffix, CString* name) {
  if (!name) return false;
  CString title;
  if (record && withNumber) title.Format(L"%d", record->seriesNumber);
  if (record && withDescription) {
    CString description = record->seriesDescription;
    if (description.IsEmpty()) description = record->protocolName;
    description.Trim();
    if (maxDescription > 0 && description.GetLength() > maxDescription) description = description.Left(maxDescription);
    PR_FilenameReplaceInvalidChars(&description);
    if (!description.IsEmpty()) {
      if (!title.IsEmpty()) title += L"_";
      title += description;
    }
  }
  if (title.IsEmpty()) title = L"Volume";
  if (suffix) title += suffix;
  CString out;
  if (folder && *folder) {
    out = folder;
    if (out[out.GetLength() - 1] != L'\\' && out[out.GetLength() - 1] != L'/') out += L"\\";
  }
  *name = out + title;
  return true;
}

bool VA_VolGetTimeOfMaxSignal(const FRAME* frame, int* t) {
  if (!frame || !frame->data || !t || twk::voxelElemOf(frame) == twk::VoxelElem::Invalid) return false;
  *t = 0;
  if (frame->dim.t <= 1) return true;
  double best = -1e308;
  for (int ti = 0; ti < frame->dim.t; ++ti) {
    double sum = 0;
    for (int z = 0; z < frame->dim.d; ++z)
      for (int y = 0; y < frame->dim.h; ++y)
        for (int x = 0; x < frame->dim.w; ++x) {
          const double v = twk::voxelValue(frame, x, y, z, ti);
          if (!isVoid(frame, v)) sum += v;
        }
    if (sum > best) {
      best = sum;
      *t = ti;
    }
  }
  return true;
}

namespace {

// Smallest and largest defined voxel of one line, inside the mask line when one is given.
template <class T>
void lineRange(const T* line, int64_t w, const uint8_t* mask, bool void32, double* lo, double* hi) {
  for (int64_t x = 0; x < w; ++x) {
    if (mask && !twk::getBit(mask, x)) continue;
    const T v = line[x];
    if constexpr (std::is_floating_point_v<T>) {
      if (v == VOID_VALUE || v != v) continue;
    } else {
      if (void32 && uint32_t(v) == VOID_INT_VALUE) continue;
    }
    *lo = std::min(*lo, double(v));
    *hi = std::max(*hi, double(v));
  }
}

// Smallest and largest defined voxel of time point t (inside the mask when given), one pass over
// the slices in parallel; false when there is none.
bool frameRange(const FRAME* frame, int t, const FRAME* mask, double* lo, double* hi) {
  const DIM3D& d = frame->dim;
  const int mt = mask && mask->dim.t > 1 ? t : 0;
  struct Range {
    double lo = 1e308, hi = -1e308;
  };
  const Range r = tbb::parallel_reduce(
      tbb::blocked_range<int64_t>(0, int64_t(d.d) * d.h), Range{},
      [&](const tbb::blocked_range<int64_t>& rows, Range acc) {
        for (int64_t row = rows.begin(); row != rows.end(); ++row) {
          const int64_t y = row % d.h, z = row / d.h;
          const uint8_t* line = twk::frameLine(frame, y, z, t);
          const uint8_t* m = mask ? twk::frameLine(mask, y, z, mt) : nullptr;
          switch (twk::voxelElemOf(frame)) {
            case twk::VoxelElem::U8: lineRange(line, d.w, m, false, &acc.lo, &acc.hi); break;
            case twk::VoxelElem::U16: lineRange(reinterpret_cast<const uint16_t*>(line), d.w, m, false, &acc.lo, &acc.hi); break;
            case twk::VoxelElem::U32: lineRange(reinterpret_cast<const uint32_t*>(line), d.w, m, true, &acc.lo, &acc.hi); break;
            case twk::VoxelElem::F64: lineRange(reinterpret_cast<const double*>(line), d.w, m, false, &acc.lo, &acc.hi); break;
            default: break;
          }
        }
        return acc;
      },
      [](Range a, const Range& b) {
        a.lo = std::min(a.lo, b.lo);
        a.hi = std::max(a.hi, b.hi);
        return a;
      });
  if (r.lo > r.hi) return false;
  *lo = r.lo;
  *hi = r.hi;
  return true;
}

bool optimalWindow(const wchar_t* name, int mode, const FRAME* frame, int t, const FRAME* mask, PR_VIEWFILT* filter,
                   bool show) {
  auto fail = [&](const wchar_t* why) {
    if (show) twk::showNamedError(name, why);
    return false;
  };
  if (!frame || !frame->data || !filter || twk::voxelElemOf(frame) == twk::VoxelElem::Invalid)
    return fail(L"Invalid volume");
  if (t < 0 || t >= frame->dim.t) return fail(L"Invalid time point");
  if (mask && (!mask->data || mask->type != FRM_ROI || mask->dim.w != frame->dim.w || mask->dim.h != frame->dim.h ||
               mask->dim.d != frame->dim.d || (mask->dim.t != 1 && mask->dim.t != frame->dim.t)))
    return fail(L"ROI of the volume's dimensions is required");
  if (frame->type == FRM_ROI) {
    filter->level = 0.5;
    filter->width = 1.0;
    return true;
  }
  double lo, hi;
  if (mode == 1) {
    // A regular sample of at most about four million voxels is enough for the percentiles.
    const int64_t total = int64_t(frame->dim.w) * frame->dim.h * frame->dim.d;
    const int64_t step = std::max<int64_t>(1, total / (int64_t(1) << 22));
    const int mt = mask && mask->dim.t > 1 ? t : 0;
    std::vector<double> values;
    values.reserve(size_t(std::min<int64_t>(total, (int64_t(1) << 22) + 1)));
    for (int64_t i = 0; i < total; i += step) {
      const int64_t x = i % frame->dim.w, y = (i / frame->dim.w) % frame->dim.h,
                    z = i / (int64_t(frame->dim.w) * frame->dim.h);
      if (mask && !twk::roiBit(mask, x, y, z, mt)) continue;
      const double v = twk::voxelValue(frame, x, y, z, t);
      if (!isVoid(frame, v)) values.push_back(v);
    }
    if (values.empty()) return fail(L"No defined voxels");
    const size_t n = values.size();
    const size_t iLo = size_t(double(n - 1) * 0.005), iHi = size_t(double(n - 1) * 0.995 + 0.5);
    std::nth_element(values.begin(), values.begin() + iLo, values.end());
    lo = values[iLo];
    std::nth_element(values.begin(), values.begin() + iHi, values.end());
    hi = values[iHi];
  } else if (!frameRange(frame, t, mask, &lo, &hi)) {
    return fail(L"No defined voxels");
  }
  double width = hi - lo;
  if (!(width > 0)) width = 1.0;
  filter->level = lo + (hi - lo) / 2;
  filter->width = width;
  return true;
}

}  // namespace

bool VA_OptimalIntensWindow(int mode, const FRAME* frame, int t, PR_VIEWFILT* filter, bool show) {
  return optimalWindow(L"VA_OptimalIntensWindow", mode, frame, t, nullptr, filter, show);
}

bool VA_OptimalIntensWindowInMask(int mode, const FRAME* frame, int t, const FRAME* mask, PR_VIEWFILT* filter,
                                  bool show) {
  if (!mask) {
    if (show) twk::showNamedError(L"VA_OptimalIntensWindowInMask", L"ROI of the volume's dimensions is required");
    return false;
  }
  return optimalWindow(L"VA_OptimalIntensWindowInMask", mode, frame, t, mask, filter, show);
}

const wchar_t* VA_ImageOpenLayoutTypeName(int layout) {
  static const wchar_t* const names[] = {L"FilmView", L"Single Slice", L"Axial, Sagittal and Coronal projections"};
  return layout >= 0 && layout < 3 ? names[layout] : L"Unknown";
}

const wchar_t* VA_ProjViewConventionTypeName(int convention) {
  static const wchar_t* const names[] = {L"Original Data", L"Radiological", L"Neurological"};
  return convention >= 0 && convention < 3 ? names[convention] : L"Unknown";
}

const wchar_t* VA_GetInterpolationName(int interpolation) {
  static const wchar_t* const names[] = {L"Nearest Neighbor", L"Tri linear", L"Wsinc2", L"Wsinc3", L"Wsinc4"};
  return interpolation >= 0 && interpolation < 5 ? names[interpolation] : L"Unknown";
}
