#include "roi/RoiDistance.h"

#include <itkBinaryContourImageFilter.h>
#include <itkContourMeanDistanceImageFilter.h>
#include <itkHausdorffDistanceImageFilter.h>
#include <itkSignedMaurerDistanceMapImageFilter.h>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "itk/ItkImageViews.h"
#include "roi/RoiComponents.h"
#include "roi/RoiStatistics.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

using namespace twk::itkv;

namespace twk::roi {

// Distance of every voxel to the nearest nonzero voxel of the mask on the mask's spacing (0 on
// those voxels); +infinity everywhere when the mask has none. Null on failure or Esc.
FloatImage::Pointer distanceToSet(MaskImage* mask, const wchar_t* name, bool show) {
  capThreads();
  const int64_t n = int64_t(mask->GetPixelContainer()->Size());
  const uint8_t* m = mask->GetBufferPointer();
  bool any = false;
  for (int64_t i = 0; i < n && !any; ++i) any = m[i] != 0;
  if (!any) {
    auto inf = FloatImage::New();
    inf->CopyInformation(mask);
    inf->SetRegions(mask->GetLargestPossibleRegion());
    inf->Allocate();
    inf->FillBuffer(std::numeric_limits<float>::infinity());
    return inf;
  }
  using Maurer = itk::SignedMaurerDistanceMapImageFilter<MaskImage, FloatImage>;
  auto maurer = Maurer::New();
  maurer->SetInput(mask);
  maurer->SetBackgroundValue(0);
  maurer->SetInsideIsPositive(false);
  maurer->SetSquaredDistance(false);
  maurer->SetUseImageSpacing(true);
  if (!update(maurer, name, show)) return nullptr;
  FloatImage::Pointer out = maurer->GetOutput();
  out->DisconnectPipeline();
  float* d = out->GetBufferPointer();
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, n, 1 << 15), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t i = r.begin(); i < r.end(); ++i) d[i] = std::max(d[i], 0.0f);
  });
  return out;
}

// Flips a 0/1 mask in place.
void invertMask(MaskImage* mask) {
  uint8_t* m = mask->GetBufferPointer();
  const int64_t n = int64_t(mask->GetPixelContainer()->Size());
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, n, 1 << 16), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t i = r.begin(); i < r.end(); ++i) m[i] = m[i] ? 0 : 1;
  });
}

}  // namespace twk::roi

using namespace twk::roi;

namespace {

bool isRoi(const FRAME* f) { return f && f->type == FRM_ROI && f->data && f->bpv == 1; }

void report(const wchar_t* name, const CString& text, bool show) {
  if (show) twk::showNamedError(name, text);
}

// Slices never reach each other in 2D mode: their distance in z is beyond any radius.
constexpr double kApartInZ = 1e6;

bool morph(const wchar_t* name, bool grow, FRAME* roi, const SPC* spc, bool mode3D, bool allTimePoints, double rx,
           double ry, double rz, bool show) {
  if (!isRoi(roi)) {
    report(name, L"ROI is required", show);
    return false;
  }
  if (!(rx > 0 && ry > 0 && rz > 0) || !std::isfinite(rx) || !std::isfinite(ry) || !std::isfinite(rz)) {
    report(name, L"Radius should be positive", show);
    return false;
  }
  const SPC base = spc ? *spc : SPC{1, 1, 1};
  const SPC scaled{base.x / rx, base.y / ry, mode3D ? base.z / rz : kApartInZ};
  const int times = allTimePoints ? roi->dim.t : 1;
  twk::ProgressGuard progress(grow ? L"Grow ROI" : L"Peel ROI", show);
  // The result is built in a copy, so that a failure or Esc leaves the ROI as it was.
  FRAME* result = VA_VolClone(roi);
  if (!result) return false;
  bool ok = true;
  const float limit = 1.0f + 1e-6f;
  for (int t = 0; t < times && ok; ++t) {
    auto mask = unpackRoi(roi, t, &scaled);
    if (!mask) {
      ok = false;
      break;
    }
    if (!grow) invertMask(mask);
    FloatImage::Pointer distance = distanceToSet(mask, name, show);
    if (!distance) {
      ok = false;
      break;
    }
    uint8_t* m = mask->GetBufferPointer();
    const float* d = distance->GetBufferPointer();
    const int64_t n = int64_t(mask->GetPixelContainer()->Size());
    tbb::parallel_for(tbb::blocked_range<int64_t>(0, n, 1 << 15), [&](const tbb::blocked_range<int64_t>& r) {
      // Grow: within reach of the ROI. Peel (mask holds the clear voxels): ROI voxels out of reach.
      if (grow) {
        for (int64_t i = r.begin(); i < r.end(); ++i) m[i] = d[i] <= limit;
      } else {
        for (int64_t i = r.begin(); i < r.end(); ++i) m[i] = !m[i] && d[i] > limit;
      }
    });
    ok = packRoi(mask.GetPointer(), result, t) && progress.Step(t + 1, times);
  }
  if (ok) std::memcpy(roi->data, result->data, PR_FrameMemSize(roi));
  PR_FrameDelete(&result);
  return ok;
}

}  // namespace

bool VA_RoiInflate(FRAME* roi, const SPC* spc, bool mode3D, bool allTimePoints, double rx, double ry, double rz,
                   bool show) {
  return morph(L"VA_RoiInflate", true, roi, spc, mode3D, allTimePoints, rx, ry, rz, show);
}

bool VA_RoiDeflate(FRAME* roi, const SPC* spc, bool mode3D, bool allTimePoints, double rx, double ry, double rz,
                   bool show) {
  return morph(L"VA_RoiDeflate", false, roi, spc, mode3D, allTimePoints, rx, ry, rz, show);
}

bool VA_RoiPeelGrow(FRAME* roi, const SPC* spc, double peel, double grow, bool mode3D, int reserved, const void* unused,
                    bool show) {
  const wchar_t* name = L"VA_RoiPeelGrow";
  (void)reserved;
  (void)unused;
  if (!isRoi(roi)) {
    report(name, L"ROI is required", show);
    return false;
  }
  if (!(peel >= 0 && grow >= 0)) {
    report(name, L"Peel and grow should not be negative", show);
    return false;
  }
  FRAME* result = VA_VolClone(roi);
  if (!result) return false;
  bool ok = true;
  for (int t = 0; t < roi->dim.t && ok; ++t) {
    // The enclosed holes (per time point) stay holes; the filled shape is peeled and grown.
    FRAME* one = VA_VolCropTimepoint(roi, t, show);
    FRAME* holes = one && mode3D ? VA_RoiExtractHoles3D(one, show) : nullptr;
    if (one && !mode3D) {
      holes = VA_VolClone(one);
      ok = holes && VA_FillSliceContours(holes, show);
      if (ok) {
        for (int64_t i = 0; i < int64_t(PR_FrameMemSize(one)); ++i) holes->data[i] &= uint8_t(~one->data[i]);
      }
    }
    ok = ok && one && holes;
    if (ok) {
      for (int64_t i = 0; i < int64_t(PR_FrameMemSize(one)); ++i) one->data[i] |= holes->data[i];
      if (peel > 0) ok = VA_RoiDeflate(one, spc, mode3D, false, peel, peel, peel, show);
      if (ok && grow > 0) ok = VA_RoiInflate(one, spc, mode3D, false, grow, grow, grow, show);
      if (ok) {
        for (int64_t i = 0; i < int64_t(PR_FrameMemSize(one)); ++i) one->data[i] &= uint8_t(~holes->data[i]);
        const RECT3D whole{0, 0, 0, roi->dim.w - 1, roi->dim.h - 1, roi->dim.d - 1};
        ok = VA_VolSetBox(result, t, &whole, one, 0, &whole);
      }
    }
    PR_FrameDelete(&one);
    PR_FrameDelete(&holes);
  }
  if (ok) std::memcpy(roi->data, result->data, PR_FrameMemSize(roi));
  PR_FrameDelete(&result);
  return ok;
}

FRAME* VA_RoiWaveDistance_x100(const FRAME* roi, const SPC* spc, bool inside, bool outside, bool show) {
  const wchar_t* name = L"VA_RoiWaveDistance_x100";
  if (!isRoi(roi)) {
    report(name, L"ROI is required", show);
    return nullptr;
  }
  twk::ProgressGuard progress(L"Surface wave distance", show);
  FRAME* out = PR_FrameCreate(FRM_INT, 32, roi->dim, false);
  if (!out) return nullptr;
  for (int t = 0; t < roi->dim.t; ++t) {
    auto mask = unpackRoi(roi, t, spc);
    if (!mask) {
      PR_FrameDelete(&out);
      return nullptr;
    }
    const int64_t n = int64_t(mask->GetPixelContainer()->Size());
    // The ROI voxels, kept before the mask is reused for the inside distances.
    std::vector<uint8_t> in(mask->GetBufferPointer(), mask->GetBufferPointer() + n);
    FloatImage::Pointer toRoi, toClear;
    if (outside && !(toRoi = distanceToSet(mask, name, show))) {
      PR_FrameDelete(&out);
      return nullptr;
    }
    if (inside) {
      invertMask(mask);
      if (!(toClear = distanceToSet(mask, name, show))) {
        PR_FrameDelete(&out);
        return nullptr;
      }
    }
    uint32_t* dst = reinterpret_cast<uint32_t*>(twk::frameLine(out, 0, 0, t));
    tbb::parallel_for(tbb::blocked_range<int64_t>(0, n, 1 << 15), [&](const tbb::blocked_range<int64_t>& r) {
      for (int64_t i = r.begin(); i < r.end(); ++i) {
        const FloatImage::Pointer& side = in[size_t(i)] ? toClear : toRoi;
        uint32_t v = VOID_INT_VALUE;
        if (side) {
          const double d = double(side->GetBufferPointer()[i]) * 100.0;
          if (std::isfinite(d)) v = d >= double(VOID_INT_VALUE - 1) ? VOID_INT_VALUE - 1 : uint32_t(d + 0.5);
        }
        dst[i] = v;
      }
    });
    if (!progress.Step(t + 1, roi->dim.t)) {
      PR_FrameDelete(&out);
      return nullptr;
    }
  }
  return out;
}

FRAME* VA_RoiInsideDistance(const FRAME* roi, int t, const SPC* spc, bool show) {
  const wchar_t* name = L"VA_RoiInsideDistance";
  if (!isRoi(roi) || t < 0 || t >= roi->dim.t) {
    report(name, L"ROI is required", show);
    return nullptr;
  }
  auto mask = unpackRoi(roi, t, spc);
  if (!mask) return nullptr;
  const int64_t n = int64_t(mask->GetPixelContainer()->Size());
  std::vector<uint8_t> in(mask->GetBufferPointer(), mask->GetBufferPointer() + n);
  invertMask(mask);
  FloatImage::Pointer d = distanceToSet(mask, name, show);
  if (!d) return nullptr;
  FRAME* out = PR_FrameCreate(FRM_REAL, 64, DIM3D{roi->dim.w, roi->dim.h, roi->dim.d, 1}, false);
  if (!out) return nullptr;
  double* dst = reinterpret_cast<double*>(out->data);
  const float* src = d->GetBufferPointer();
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, n, 1 << 15), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t i = r.begin(); i < r.end(); ++i) dst[i] = in[size_t(i)] ? double(src[i]) : 0.0;
  });
  return out;
}

bool VA_RoiGetPeelProfile(const FRAME* volume, int t, const FRAME* roi, int step, double** mean, double** stdev,
                          double** skewness, double** kurtosis, double** median, int* count, bool show) {
  const wchar_t* name = L"VA_RoiGetPeelProfile";
  if (count) *count = 0;
  if (!volume || !isRoi(roi) || !count || t < 0 || t >= volume->dim.t || volume->dim.w != roi->dim.w ||
      volume->dim.h != roi->dim.h || volume->dim.d != roi->dim.d) {
    report(name, L"Volume and ROI of one size are required", show);
    return false;
  }
  if (step < 1) {
    report(name, L"Layer step should be positive", show);
    return false;
  }
  FRAME* depth = VA_RoiInsideDistance(roi, 0, nullptr, show);
  if (!depth) return false;
  const int64_t w = roi->dim.w, h = roi->dim.h, n = w * h * roi->dim.d;
  const double* d = reinterpret_cast<const double*>(depth->data);
  double deepest = 0;
  for (int64_t i = 0; i < n; ++i) deepest = std::max(deepest, d[i]);
  const int rings = int(std::ceil(deepest / step - 1e-9));
  std::vector<std::vector<double>> values(size_t(std::max(rings, 0)));
  for (int64_t i = 0; i < n; ++i) {
    if (d[i] <= 0) continue;
    const int64_t x = i % w, y = (i / w) % h, z = i / (w * h);
    const double v = twk::voxelValue(volume, x, y, z, t);
    if (v == VOID_VALUE || (volume->type == FRM_INT && volume->bpv == 32 && v == double(VOID_INT_VALUE))) continue;
    const int k = std::min(rings - 1, int(std::ceil(d[i] / step - 1e-9)) - 1);
    values[size_t(std::max(k, 0))].push_back(v);
  }
  PR_FrameDelete(&depth);
  double* out[5] = {};
  double** targets[5] = {mean, stdev, skewness, kurtosis, median};
  for (int k = 0; k < 5; ++k) {
    out[k] = static_cast<double*>(pf_calloc(int64_t(std::max(rings, 1)) * int64_t(sizeof(double))));
    if (!out[k]) {
      for (auto& p : out) pf_free(&p);
      return false;
    }
  }
  for (int r = 0; r < rings; ++r) {
    VA_ROIINFO info;
    if (!VA_StatisticsOfValues(values[size_t(r)].data(), int64_t(values[size_t(r)].size()), &info)) continue;
    out[0][r] = info.mean;
    out[1][r] = info.stdev;
    out[2][r] = info.skewness;
    out[3][r] = info.kurtosis;
    out[4][r] = info.median;
  }
  for (int k = 0; k < 5; ++k) {
    if (targets[k]) *targets[k] = out[k];
    else pf_free(&out[k]);
  }
  *count = rings;
  return rings > 0;
}

bool VA_MeasureDICE(const FRAME* a, int ta, const FRAME* b, int tb, int z0, int z1, double* dice, int64_t* countA,
                    int64_t* countB) {
  if (!isRoi(a) || !isRoi(b) || !dice || a->dim.w != b->dim.w || a->dim.h != b->dim.h || a->dim.d != b->dim.d)
    return false;
  if (ta < 0 || ta >= a->dim.t || tb < 0 || tb >= b->dim.t || z0 < 0 || z1 >= a->dim.d || z1 < z0) return false;
  int64_t na = 0, nb = 0, both = 0;
  const int64_t w = a->dim.w;
  for (int z = z0; z <= z1; ++z)
    for (int y = 0; y < a->dim.h; ++y) {
      const uint8_t* la = twk::frameLine(a, y, z, ta);
      const uint8_t* lb = twk::frameLine(b, y, z, tb);
      for (int64_t x = 0; x < w; ++x) {
        const bool ia = twk::getBit(la, x), ib = twk::getBit(lb, x);
        na += ia;
        nb += ib;
        both += ia && ib;
      }
    }
  *dice = na + nb > 0 ? 2.0 * double(both) / double(na + nb) : 0.0;
  if (countA) *countA = na;
  if (countB) *countB = nb;
  return true;
}

bool VA_HausfdoffDist(bool edgeBased, const FRAME* a, const FRAME* b, const SPC* spc, double* hausdorff,
                      double* average) {
  if (!isRoi(a) || !isRoi(b) || a->dim.w != b->dim.w || a->dim.h != b->dim.h || a->dim.d != b->dim.d) return false;
  if (VA_CheckRoiIsEmpty(false, a, nullptr, nullptr) || VA_CheckRoiIsEmpty(false, b, nullptr, nullptr)) return false;
  capThreads();
  auto ma = unpackRoi(a, 0, spc), mb = unpackRoi(b, 0, spc);
  if (!ma || !mb) return false;
  MaskImage::Pointer ia = ma, ib = mb;
  if (edgeBased) {
    for (MaskImage::Pointer* m : {&ia, &ib}) {
      auto contour = itk::BinaryContourImageFilter<MaskImage, MaskImage>::New();
      contour->SetInput(*m);
      contour->SetForegroundValue(1);
      contour->SetBackgroundValue(0);
      contour->SetFullyConnected(false);
      if (!update(contour, L"VA_HausfdoffDist", false)) return false;
      *m = contour->GetOutput();
      (*m)->DisconnectPipeline();
    }
  }
  auto hd = itk::HausdorffDistanceImageFilter<MaskImage, MaskImage>::New();
  hd->SetInput1(ia);
  hd->SetInput2(ib);
  hd->SetUseImageSpacing(true);
  if (!update(hd, L"VA_HausfdoffDist", false)) return false;
  double avg = hd->GetAverageHausdorffDistance();
  if (edgeBased) {
    auto mean = itk::ContourMeanDistanceImageFilter<MaskImage, MaskImage>::New();
    mean->SetInput1(ma);
    mean->SetInput2(mb);
    mean->SetUseImageSpacing(true);
    if (!update(mean, L"VA_HausfdoffDist", false)) return false;
    avg = mean->GetMeanDistance();
  }
  if (hausdorff) *hausdorff = hd->GetHausdorffDistance();
  if (average) *average = avg;
  return true;
}

FRAME* VA_ProduceMultipleZoneConcentricObjects(const VA_MZCO* record, const FRAME* first, const FRAME* second,
                                               bool show) {
  const wchar_t* name = L"VA_ProduceMultipleZoneConcentricObjects";
  if (!record || !isRoi(first) || !isRoi(second) || first->dim.w != second->dim.w ||
      first->dim.h != second->dim.h || first->dim.d != second->dim.d) {
    report(name, L"Two ROIs of one size are required", show);
    return nullptr;
  }
  if (record->zones < 1) {
    report(name, L"Number of zones should be positive", show);
    return nullptr;
  }
  int64_t countFirst = 0, countSecond = 0;
  VA_RoiNumVox(first, 0, -1, &countFirst);
  VA_RoiNumVox(second, 0, -1, &countSecond);
  if (countFirst == 0 || countSecond == 0) {
    report(name, L"ROI is empty", show);
    return nullptr;
  }
  const FRAME* inner = countFirst <= countSecond ? first : second;
  const FRAME* outer = inner == first ? second : first;
  twk::ProgressGuard progress(L"Concentric zones", show);
  auto innerMask = unpackRoi(inner, 0, nullptr);
  auto outerMask = unpackRoi(outer, 0, nullptr);
  if (!innerMask || !outerMask) return nullptr;
  FloatImage::Pointer toInner = distanceToSet(innerMask, name, show);
  if (!toInner) return nullptr;
  // Distance to the clear voxels of the outer ROI (the volume's edge is no surface).
  invertMask(outerMask);
  FloatImage::Pointer toOutside = distanceToSet(outerMask, name, show);
  if (!toOutside) return nullptr;
  FRAME* out = PR_FrameCreate(FRM_INT, 32, DIM3D{outer->dim.w, outer->dim.h, outer->dim.d, 1}, true);
  if (!out) {
    report(name, L"Not enough memory", show);
    return nullptr;
  }
  const uint8_t* in = innerMask->GetBufferPointer();
  const uint8_t* clear = outerMask->GetBufferPointer();
  const float* a = toInner->GetBufferPointer();
  const float* b = toOutside->GetBufferPointer();
  const int64_t w = outer->dim.w, h = outer->dim.h, zones = record->zones;
  tbb::parallel_for(tbb::blocked_range<int64_t>(0, h * outer->dim.d, 16), [&](const tbb::blocked_range<int64_t>& r) {
    for (int64_t line = r.begin(); line < r.end(); ++line) {
      uint32_t* dst = reinterpret_cast<uint32_t*>(twk::frameLine(out, line % h, line / h, 0));
      for (int64_t x = 0; x < w; ++x) {
        const int64_t i = line * w + x;
        if (in[i] || clear[i]) continue;
        // b is infinite when the outer ROI fills the volume: every voxel is then in zone 1.
        const double s = std::isfinite(b[i]) ? double(a[i]) / (double(a[i]) + double(b[i])) : 0.0;
        dst[x] = uint32_t(std::min<int64_t>(zones, 1 + int64_t(std::floor(s * double(zones)))));
      }
    }
  });
  return out;
}

bool VA_RoiContourSimpleClosureAndFill2D(FRAME* roi, const SPC* spc, double distance, int z0, int z1, bool show) {
  const wchar_t* name = L"VA_RoiContourSimpleClosureAndFill2D";
  if (!isRoi(roi)) {
    report(name, L"ROI is required", show);
    return false;
  }
  if (!(distance > 0) || !std::isfinite(distance)) {
    report(name, L"Distance should be positive", show);
    return false;
  }
  if (z0 < 0 || z1 < z0 || z1 >= roi->dim.d) {
    report(name, L"Invalid slice range", show);
    return false;
  }
  FRAME* closed = VA_VolClone(roi);
  if (!closed) return false;
  const double r = distance / 2;
  bool ok = VA_RoiInflate(closed, spc, false, true, r, r, r, show) &&
            VA_RoiDeflate(closed, spc, false, true, r, r, r, show) && VA_FillSliceContours(closed, show);
  if (ok) {
    const int64_t bytes = twk::voxelLineBytes(roi->dim.w, twk::VoxelElem::Bit);
    for (int t = 0; t < roi->dim.t; ++t)
      for (int z = z0; z <= z1; ++z)
        for (int y = 0; y < roi->dim.h; ++y) {
          uint8_t* dst = twk::frameLine(roi, y, z, t);
          const uint8_t* src = twk::frameLine(closed, y, z, t);
          for (int64_t i = 0; i < bytes; ++i) dst[i] |= src[i];
        }
  }
  PR_FrameDelete(&closed);
  return ok;
}
