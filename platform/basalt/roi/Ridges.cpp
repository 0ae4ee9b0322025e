#include "roi/Ridges.h"

#include <itkBoxMeanImageFilter.h>
#include <itkHessianRecursiveGaussianImageFilter.h>
#include <itkHessianToObjectnessMeasureImageFilter.h>
#include <itkLinearInterpolateImageFunction.h>
#include <itkNearestNeighborInterpolateImageFunction.h>
#include <itkResampleImageFilter.h>
#include <itkSmoothingRecursiveGaussianImageFilter.h>
#include <itkWindowedSincInterpolateImageFunction.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "itk/ItkImageViews.h"
#include "roi/FloatImages.h"
#include "roi/RoiShape.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

const wchar_t* const kName = L"VA_VolDetectRelativeRidges";

void report(const CString& text, bool show) {
  if (show) twk::showNamedError(kName, text);
}

using twk::itkv::FImage;

// The image resampled onto a grid finer by factor on the first `axes` axes.
typename FImage<3>::Pointer refine(FImage<3>* image, double factor, int axes, int interpolation, bool show) {
  using Resample = itk::ResampleImageFilter<FImage<3>, FImage<3>>;
  auto filter = Resample::New();
  filter->SetInput(image);
  auto size = image->GetLargestPossibleRegion().GetSize();
  auto spacing = image->GetSpacing();
  auto origin = image->GetOrigin();
  for (int k = 0; k < axes; ++k) {
    const double old = spacing[k];
    size[k] = itk::SizeValueType(std::max(1.0, std::round(size[k] * factor)));
    spacing[k] = old / factor;
    origin[k] = origin[k] - 0.5 * old + 0.5 * spacing[k];  // the same field of view
  }
  filter->SetSize(size);
  filter->SetOutputSpacing(spacing);
  filter->SetOutputOrigin(origin);
  filter->SetOutputDirection(image->GetDirection());
  switch (interpolation) {
    case 0: filter->SetInterpolator(itk::NearestNeighborInterpolateImageFunction<FImage<3>, double>::New()); break;
    case 2: filter->SetInterpolator(itk::WindowedSincInterpolateImageFunction<FImage<3>, 2>::New()); break;
    case 3: filter->SetInterpolator(itk::WindowedSincInterpolateImageFunction<FImage<3>, 3>::New()); break;
    case 4: filter->SetInterpolator(itk::WindowedSincInterpolateImageFunction<FImage<3>, 4>::New()); break;
    default: filter->SetInterpolator(itk::LinearInterpolateImageFunction<FImage<3>, double>::New()); break;
  }
  if (!twk::itkv::update(filter, kName, show)) return nullptr;
  typename FImage<3>::Pointer out = filter->GetOutput();
  out->DisconnectPipeline();
  return out;
}

// Relative elevation and its objectness for one block (a slice in 2D, the volume in 3D).
template <unsigned D>
bool strengthOf(const float* base, float* strength, const int* size, const double* sp, const VA_RIDGEPARM& r,
                bool bright, bool show) {
  using namespace twk::itkv;
  size_t n = 1;
  for (unsigned k = 0; k < D; ++k) n *= size_t(size[k]);
  auto image = twk::itkv::floatImageOf<D>(base, size, sp);
  std::vector<float> background(n);
  if (r.kernel == 0) {
    auto mean = itk::BoxMeanImageFilter<FImage<D>, FImage<D>>::New();
    mean->SetInput(image);
    typename FImage<D>::SizeType radius;
    radius.Fill(itk::SizeValueType(std::max(1.0, std::round(r.smoothRadius))));
    mean->SetRadius(radius);
    if (!update(mean, kName, show)) return false;
    std::copy_n(mean->GetOutput()->GetBufferPointer(), n, background.begin());
  } else {
    auto smooth = itk::SmoothingRecursiveGaussianImageFilter<FImage<D>, FImage<D>>::New();
    smooth->SetInput(image);
    typename itk::SmoothingRecursiveGaussianImageFilter<FImage<D>, FImage<D>>::SigmaArrayType sigma;
    for (unsigned k = 0; k < D; ++k) sigma[k] = std::max(0.5, r.smoothRadius / 2.0) * sp[k];
    smooth->SetSigmaArray(sigma);
    if (!update(smooth, kName, show)) return false;
    std::copy_n(smooth->GetOutput()->GetBufferPointer(), n, background.begin());
  }
  float scale = 0;
  for (size_t i = 0; i < n; ++i) scale = std::max(scale, std::fabs(background[i]));
  const float floor = std::max(1e-6f * scale, 1e-12f);
  std::vector<float> elevation(n);
  for (size_t i = 0; i < n; ++i) {
    const float b = std::max(std::fabs(background[i]), floor);
    const float e = (bright ? base[i] - background[i] : background[i] - base[i]) / b;
    elevation[i] = std::max(0.f, e);
  }
  auto elevated = twk::itkv::floatImageOf<D>(elevation.data(), size, sp);
  using Hessian = itk::HessianRecursiveGaussianImageFilter<FImage<D>>;
  auto hessian = Hessian::New();
  hessian->SetInput(elevated);
  hessian->SetSigma(*std::min_element(sp, sp + D));
  using Objectness = itk::HessianToObjectnessMeasureImageFilter<typename Hessian::OutputImageType, FImage<D>>;
  auto objectness = Objectness::New();
  objectness->SetInput(hessian->GetOutput());
  objectness->SetObjectDimension(1);
  objectness->SetBrightObject(true);
  objectness->SetScaleObjectnessMeasure(false);
  if (!update(objectness, kName, show)) return false;
  std::copy_n(objectness->GetOutput()->GetBufferPointer(), n, strength);
  return true;
}

}  // namespace

bool VA_VolDetectRelativeRidges(bool bright, const VA_RIDGEPARM* record, const FRAME* frame, int t, const SPC* spc,
                                bool, FRAME** base, FRAME** ridges, SPC* outSpc, bool show) {
  if (!record || !frame || !frame->data || frame->type == FRM_ROI || t < 0 || t >= frame->dim.t || !base ||
      !ridges || twk::voxelElemOf(frame) == twk::VoxelElem::Invalid) {
    report(L"Invalid parameters", show);
    return false;
  }
  if (!(record->resolutionCoefficient >= 1.0 && record->resolutionCoefficient <= 10.0) ||
      record->output < 0 || record->output > 2) {
    report(L"Invalid parameters", show);
    return false;
  }
  *base = nullptr;
  *ridges = nullptr;
  twk::itkv::capThreads();
  twk::ProgressGuard progress(L"Detecting ridges", show);
  const DIM3D& d = frame->dim;
  std::vector<float> values(size_t(d.w) * d.h * d.d);
  for (int z = 0; z < d.d; ++z)
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x) {
        const double v = twk::voxelValue(frame, x, y, z, t);
        values[(size_t(z) * d.h + y) * d.w + x] = v == VOID_VALUE ? 0.f : float(v);
      }
  const bool mode3D = record->mode3D != 0 && d.d > 1;
  double sp[3] = {spc ? spc->x : 1.0, spc ? spc->y : 1.0, spc ? spc->z : 1.0};
  int size[3] = {d.w, d.h, d.d};
  if (record->resolutionCoefficient > 1.0) {
    const int sizes[3] = {d.w, d.h, d.d};
    auto image = twk::itkv::floatImageOf<3>(values.data(), sizes, sp);
    auto fine = refine(image, record->resolutionCoefficient, mode3D ? 3 : 2, record->interpolation, show);
    if (!fine) return false;
    const auto s = fine->GetLargestPossibleRegion().GetSize();
    for (int k = 0; k < 3; ++k) {
      size[k] = int(s[k]);
      sp[k] = fine->GetSpacing()[k];
    }
    values.assign(fine->GetBufferPointer(), fine->GetBufferPointer() + size_t(size[0]) * size[1] * size[2]);
  }
  if (!progress.Poll()) return false;
  std::vector<float> strength(values.size());
  if (mode3D) {
    if (!strengthOf<3>(values.data(), strength.data(), size, sp, *record, bright, show)) return false;
  } else {
    const size_t plane = size_t(size[0]) * size[1];
    for (int z = 0; z < size[2]; ++z) {
      if (!strengthOf<2>(values.data() + plane * z, strength.data() + plane * z, size, sp, *record, bright, show))
        return false;
      if (!progress.Step(z + 1, size[2])) return false;
    }
  }
  float top = 0;
  for (float s : strength) top = std::max(top, s);
  if (top > 0)
    for (float& s : strength) s /= top;

  const DIM3D grid{size[0], size[1], size[2], 1};
  std::vector<double> baseValues(values.begin(), values.end());
  FRAME* baseFrame = VA_CreateVol(baseValues.data(), 64, grid.w, grid.h, grid.d, 1);
  FRAME* out = nullptr;
  if (record->output == 0) {
    std::vector<double> map(strength.begin(), strength.end());
    out = VA_CreateVol(map.data(), 64, grid.w, grid.h, grid.d, 1);
  } else {
    std::vector<uint8_t> mask(strength.size());
    for (size_t i = 0; i < mask.size(); ++i) mask[i] = strength[i] >= record->strengthThreshold && top > 0 ? 1 : 0;
    out = VA_CreateVol(mask.data(), 1, grid.w, grid.h, grid.d, 1);
    if (out && record->output == 2) {
      FRAME* skeleton = VA_RoiMakeMiddlePlain(out, 0.0, nullptr, !mode3D);
      PR_FrameDelete(&out);
      out = skeleton;
    }
  }
  if (!baseFrame || !out) {
    PR_FrameDelete(&baseFrame);
    PR_FrameDelete(&out);
    return false;
  }
  *base = baseFrame;
  *ridges = out;
  if (outSpc) *outSpc = SPC{sp[0], sp[1], sp[2]};
  return true;
}
