// N4 bias-field correction on ITK: the fit on a shrunk copy, the field at full size from the
// fitted B-spline control points.
#include <itkBSplineControlPointImageFilter.h>
#include <itkN4BiasFieldCorrectionImageFilter.h>
#include <itkShrinkImageFilter.h>

#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "filters/BiasField.h"
#include "filters/FilterCore.h"
#include "itk/ItkImageViews.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"
#include "volume/VoxelAccess.h"

using namespace twk::filters;
using namespace twk::itkv;

namespace {

void report(const CString& text, bool show) {
  if (show) twk::showNamedError(L"VA_N4BiasCorrection", text);
}

}  // namespace

FRAME* VA_N4BiasCorrection(const VA_N4PARAM* record, const FRAME* frame, const SPC* spc, int t, const FRAME* mask,
                           FRAME** fieldOut, bool show) {
  if (fieldOut) *fieldOut = nullptr;
  if (!record || !frame || !frame->data || (frame->type != FRM_INT && frame->type != FRM_REAL)) {
    report(L"Integer or Real volume is required", show);
    return nullptr;
  }
  if (record->iterations < 1 || !(record->splineDistance > 0) || !(record->fwhm > 0) || !(record->noise > 0)) {
    report(L"Invalid parameters", show);
    return nullptr;
  }
  if (frame->dim.d < 4) {
    report(L"A volume of at least 4 slices is required", show);
    return nullptr;
  }
  if (mask && (mask->type != FRM_ROI || mask->dim.w != frame->dim.w || mask->dim.h != frame->dim.h ||
               mask->dim.d != frame->dim.d)) {
    report(L"The mask does not match the volume", show);
    return nullptr;
  }
  if (t < 0 || t >= frame->dim.t) {
    report(L"Invalid time point", show);
    return nullptr;
  }
  // The volume is read slice by slice and never held as doubles: the fit needs a float copy (freed
  // once shrunk), the result is written slice by slice from the frame and the float log field.
  const int w = frame->dim.w, h = frame->dim.h, d = frame->dim.d;
  const int64_t plane = int64_t(w) * h, n = plane * d;
  const DIM3D dims{w, h, d, 1};
  auto image = newImage<float>(dims, spc, false);
  auto fitMask = newImage<uint8_t>(dims, spc, true);
  const itk::ImageBase<3>::PointType origin = image->GetOrigin();
  const itk::ImageBase<3>::SpacingType imageSpacing = image->GetSpacing();
  const itk::ImageBase<3>::DirectionType direction = image->GetDirection();
  const auto fullSize = image->GetLargestPossibleRegion().GetSize();
  uint8_t* inside = fitMask->GetBufferPointer();
  {
    // The fit covers positive defined voxels above the air threshold (N4 works on logarithms).
    float* pixels = image->GetBufferPointer();
    std::atomic<bool> readable{true};
    tbb::parallel_for(0, d, [&](int z) {
      std::vector<double> v(static_cast<size_t>(plane));
      std::vector<uint8_t> ok(static_cast<size_t>(plane));
      if (!readSlice(frame, t, z, v.data(), ok.data())) {
        readable = false;
        return;
      }
      for (int64_t i = 0; i < plane; ++i) {
        const bool use = ok[size_t(i)] && v[size_t(i)] > 0 && v[size_t(i)] > record->airThreshold;
        pixels[z * plane + i] = use ? float(v[size_t(i)]) : 0.0f;
        inside[z * plane + i] = use && (!mask || twk::roiBit(mask, int(i % w), int(i / w), z, 0)) ? 1 : 0;
      }
    });
    if (!readable) {
      report(L"Invalid time point", show);
      return nullptr;
    }
  }
  int64_t count = 0;
  for (int64_t i = 0; i < n; ++i) count += inside[i];
  if (count < 64) {
    report(L"Too few voxels above the air threshold", show);
    return nullptr;
  }

  capThreads();
  twk::ProgressGuard progress(L"N4 bias field correction", show);
  // Shrink by 4, capped so that every axis keeps at least 8 voxels.
  itk::ShrinkImageFilter<FloatImage, FloatImage>::ShrinkFactorsType factors;
  const int size[3] = {w, h, d};
  for (int a = 0; a < 3; ++a) factors[a] = unsigned(std::clamp(size[a] / 8, 1, 4));
  FloatImage::Pointer shrunkImage;
  MaskImage::Pointer shrunkMask;
  {
    auto shrinkImage = itk::ShrinkImageFilter<FloatImage, FloatImage>::New();
    shrinkImage->SetInput(image);
    shrinkImage->SetShrinkFactors(factors);
    auto shrinkMask = itk::ShrinkImageFilter<MaskImage, MaskImage>::New();
    shrinkMask->SetInput(fitMask);
    shrinkMask->SetShrinkFactors(factors);
    if (!update(shrinkImage, L"VA_N4BiasCorrection", show, 1, 2) ||
        !update(shrinkMask, L"VA_N4BiasCorrection", show, 2, 3))
      return nullptr;
    shrunkImage = shrinkImage->GetOutput();
    shrunkImage->DisconnectPipeline();
    shrunkMask = shrinkMask->GetOutput();
    shrunkMask->DisconnectPipeline();
  }
  image = nullptr;  // the full-size float copy is no longer needed

  using Correcter = itk::N4BiasFieldCorrectionImageFilter<FloatImage, MaskImage, FloatImage>;
  auto n4 = Correcter::New();
  n4->SetInput(shrunkImage);
  n4->SetMaskImage(shrunkMask);
  constexpr unsigned kLevels = 4;
  Correcter::VariableSizeArrayType iterations(kLevels);
  iterations.Fill(unsigned(record->iterations));
  n4->SetMaximumNumberOfIterations(iterations);
  n4->SetNumberOfFittingLevels(kLevels);
  n4->SetConvergenceThreshold(1e-6);
  n4->SetBiasFieldFullWidthAtHalfMaximum(record->fwhm);
  n4->SetWienerFilterNoise(record->noise);
  // Knots every spline distance (mm) over the volume's extent at the first level.
  const SPC s = spc ? *spc : SPC{};
  const double spacing[3] = {s.x, s.y, s.z};
  Correcter::ArrayType controlPoints;
  for (int a = 0; a < 3; ++a) {
    const double extent = (size[a] - 1) * spacing[a];
    controlPoints[a] = unsigned(std::max(1.0, std::ceil(extent / record->splineDistance))) + n4->GetSplineOrder();
  }
  n4->SetNumberOfControlPoints(controlPoints);
  if (!update(n4, L"VA_N4BiasCorrection", show, 3, 90)) return nullptr;

  // The log field at full size.
  using Bspliner = itk::BSplineControlPointImageFilter<Correcter::BiasFieldControlPointLatticeType,
                                                       Correcter::ScalarImageType>;
  auto bspliner = Bspliner::New();
  bspliner->SetInput(n4->GetLogBiasFieldControlPointLattice());
  bspliner->SetSplineOrder(n4->GetSplineOrder());
  bspliner->SetSize(fullSize);
  bspliner->SetOrigin(origin);
  bspliner->SetDirection(direction);
  bspliner->SetSpacing(imageSpacing);
  if (!update(bspliner, L"VA_N4BiasCorrection", show, 90, 95)) return nullptr;
  n4 = nullptr;
  const auto* logField = bspliner->GetOutput()->GetBufferPointer();
  // The corrected volume keeps the fitted voxels' mean: the field is scaled to do so.
  double sumIn = 0, sumOut = 0;
  {
    std::vector<double> v(static_cast<size_t>(plane));
    std::vector<uint8_t> ok(static_cast<size_t>(plane));
    for (int z = 0; z < d; ++z) {
      if (!readSlice(frame, t, z, v.data(), ok.data())) return nullptr;
      for (int64_t i = 0; i < plane; ++i)
        if (inside[z * plane + i])
          sumIn += v[size_t(i)], sumOut += v[size_t(i)] / std::exp(double(logField[z * plane + i][0]));
    }
  }
  const double scale = sumOut > 0 ? sumOut / sumIn : 1.0;
  auto fieldAt = [&](int64_t i) { return std::exp(double(logField[i][0])) * scale; };

  // Writes time point k of out (of the volume's size) from value(i, v, valid) slice by slice.
  auto writeSlices = [&](FRAME* out, int k, int readK, auto value) {
    std::atomic<bool> ok{true};
    tbb::parallel_for(0, d, [&](int z) {
      std::vector<double> v(static_cast<size_t>(plane));
      std::vector<uint8_t> valid(static_cast<size_t>(plane), 1);
      if (readK >= 0 && !readSlice(frame, readK, z, v.data(), valid.data())) {
        ok = false;
        return;
      }
      for (int64_t i = 0; i < plane; ++i) v[size_t(i)] = value(z * plane + i, v[size_t(i)], valid[size_t(i)] != 0);
      const RECT3D box{0, 0, z, w - 1, h - 1, z};
      if (!VA_VolSetBox(out, k, &box, v.data(), 64)) ok = false;
    });
    return ok.load();
  };
  FRAME* fieldFrame = nullptr;
  if (fieldOut || record->outputBiasField) {
    fieldFrame = PR_FrameCreate(FRM_REAL, 64, dims, false);
    if (!fieldFrame || !writeSlices(fieldFrame, 0, -1, [&](int64_t i, double, bool) { return fieldAt(i); })) {
      PR_FrameDelete(&fieldFrame);
      report(L"Not enough memory", show);
      return nullptr;
    }
    if (record->outputBiasField && !fieldOut) return fieldFrame;
    *fieldOut = fieldFrame;
    if (record->outputBiasField) return VA_VolClone(fieldFrame);
  }
  FRAME* result = PR_FrameCreate(FRM_REAL, 64, frame->dim, false);
  if (!result) {
    if (fieldOut) PR_FrameDelete(fieldOut);
    report(L"Not enough memory", show);
    return nullptr;
  }
  for (int k = 0; k < frame->dim.t; ++k) {
    if (!writeSlices(result, k, k, [&](int64_t i, double v, bool valid) { return valid ? v / fieldAt(i) : VOID_VALUE; })) {
      PR_FrameDelete(&result);
      if (fieldOut) PR_FrameDelete(fieldOut);
      return nullptr;
    }
    if (!progress.Step(95 * frame->dim.t + 5 * (k + 1), 100 * int64_t(frame->dim.t))) {
      PR_FrameDelete(&result);
      if (fieldOut) PR_FrameDelete(fieldOut);
      return nullptr;
    }
  }
  return result;
}

FRAME* VA_VolN4(const CVol* vol, const VA_N4PARAM* record, int t, const FRAME* mask, FRAME** field, bool show) {
  return vol && vol->frame ? VA_N4BiasCorrection(record, vol->frame, vol->Spc(), vol->effT(t), mask, field, show)
                           : nullptr;
}
