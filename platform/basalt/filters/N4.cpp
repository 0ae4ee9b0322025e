// N4 bias-field correction on ITK: the fit on a shrunk copy, the field at full size from the
// fitted B-spline control points.
#include <itkBSplineControlPointImageFilter.h>
#include <itkN4BiasFieldCorrectionImageFilter.h>
#include <itkShrinkImageFilter.h>

#include <algorithm>
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
  Volume3 vol;
  if (!readTimePoint(frame, t, &vol)) {
    report(L"Invalid time point", show);
    return nullptr;
  }
  const int64_t n = vol.size();
  const DIM3D dims{vol.w, vol.h, vol.d, 1};
  // The fit covers positive defined voxels above the air threshold (N4 works on logarithms).
  auto image = newImage<float>(dims, spc, false);
  auto fitMask = newImage<uint8_t>(dims, spc, true);
  float* pixels = image->GetBufferPointer();
  uint8_t* inside = fitMask->GetBufferPointer();
  int64_t count = 0;
  for (int64_t i = 0; i < n; ++i) {
    const double v = vol.v[size_t(i)];
    const bool use = vol.valid[size_t(i)] && v > 0 && v > record->airThreshold;
    pixels[i] = use ? float(v) : 0.0f;
    inside[i] = use ? 1 : 0;
  }
  if (mask)
    for (int z = 0; z < vol.d; ++z)
      for (int y = 0; y < vol.h; ++y)
        for (int x = 0; x < vol.w; ++x)
          if (!twk::roiBit(mask, x, y, z, 0)) inside[vol.index(x, y, z)] = 0;
  for (int64_t i = 0; i < n; ++i) count += inside[i];
  if (count < 64) {
    report(L"Too few voxels above the air threshold", show);
    return nullptr;
  }

  capThreads();
  twk::ProgressGuard progress(L"N4 bias field correction", show);
  // Shrink by 4, capped so that every axis keeps at least 8 voxels.
  itk::ShrinkImageFilter<FloatImage, FloatImage>::ShrinkFactorsType factors;
  const int size[3] = {vol.w, vol.h, vol.d};
  for (int a = 0; a < 3; ++a) factors[a] = unsigned(std::clamp(size[a] / 8, 1, 4));
  auto shrinkImage = itk::ShrinkImageFilter<FloatImage, FloatImage>::New();
  shrinkImage->SetInput(image);
  shrinkImage->SetShrinkFactors(factors);
  auto shrinkMask = itk::ShrinkImageFilter<MaskImage, MaskImage>::New();
  shrinkMask->SetInput(fitMask);
  shrinkMask->SetShrinkFactors(factors);
  if (!update(shrinkImage, L"VA_N4BiasCorrection", show, 1, 2) || !update(shrinkMask, L"VA_N4BiasCorrection", show, 2, 3))
    return nullptr;

  using Correcter = itk::N4BiasFieldCorrectionImageFilter<FloatImage, MaskImage, FloatImage>;
  auto n4 = Correcter::New();
  n4->SetInput(shrinkImage->GetOutput());
  n4->SetMaskImage(shrinkMask->GetOutput());
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
  bspliner->SetSize(image->GetLargestPossibleRegion().GetSize());
  bspliner->SetOrigin(image->GetOrigin());
  bspliner->SetDirection(image->GetDirection());
  bspliner->SetSpacing(image->GetSpacing());
  if (!update(bspliner, L"VA_N4BiasCorrection", show, 90, 95)) return nullptr;
  const auto* logField = bspliner->GetOutput()->GetBufferPointer();
  std::vector<double> field(static_cast<size_t>(n));
  double sumIn = 0, sumOut = 0;
  for (int64_t i = 0; i < n; ++i) {
    field[size_t(i)] = std::exp(double(logField[i][0]));
    if (inside[i]) sumIn += vol.v[size_t(i)], sumOut += vol.v[size_t(i)] / field[size_t(i)];
  }
  // The corrected volume keeps the fitted voxels' mean: the field is scaled to do so.
  const double scale = sumOut > 0 ? sumOut / sumIn : 1.0;
  for (double& f : field) f *= scale;

  if (fieldOut || record->outputBiasField) {
    FRAME* f = VA_CreateVol(field.data(), 64, vol.w, vol.h, vol.d, 1);
    if (!f) {
      report(L"Not enough memory", show);
      return nullptr;
    }
    if (record->outputBiasField && !fieldOut) return f;
    *fieldOut = f;
    if (record->outputBiasField) return VA_VolClone(f);
  }
  FRAME* result = PR_FrameCreate(FRM_REAL, 64, frame->dim, false);
  if (!result) {
    if (fieldOut) PR_FrameDelete(fieldOut);
    report(L"Not enough memory", show);
    return nullptr;
  }
  for (int k = 0; k < frame->dim.t; ++k) {
    Volume3 tp;
    if (k != t && !readTimePoint(frame, k, &tp)) {
      PR_FrameDelete(&result);
      if (fieldOut) PR_FrameDelete(fieldOut);
      return nullptr;
    }
    std::vector<double>& values = k == t ? vol.v : tp.v;
    const std::vector<uint8_t>& valid = k == t ? vol.valid : tp.valid;
    for (int64_t i = 0; i < n; ++i)
      values[size_t(i)] = valid[size_t(i)] ? values[size_t(i)] / field[size_t(i)] : VOID_VALUE;
    writeTimePoint(result, k, values.data());
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
