#include "roi/Detectors.h"

#include <itkImportImageFilter.h>
#include <itkLaplacianRecursiveGaussianImageFilter.h>
#include <itkSmoothingRecursiveGaussianImageFilter.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "itk/ItkImageViews.h"
#include "roi/FloatImages.h"
#include "roi/RunComponents.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

void report(const CString& text, bool show) {
  if (show) twk::showNamedError(L"VA_VolDetectSpots", text);
}

using twk::itkv::FImage;

// Feature of the block (one slice in 2D, the volume in 3D): -+ sigma^2 LoG / background.
template <unsigned D>
bool featureOf(const float* values, float* feature, const int* size, const double* sp, double sigmaVoxels,
               double smoothVoxels, bool bright, float floor, bool show) {
  using namespace twk::itkv;
  const double voxel = *std::min_element(sp, sp + D);
  auto image = twk::itkv::floatImageOf<D>(values, size, sp);
  auto log = itk::LaplacianRecursiveGaussianImageFilter<FImage<D>, FImage<D>>::New();
  log->SetInput(image);
  log->SetSigma(sigmaVoxels * voxel);
  log->SetNormalizeAcrossScale(true);
  if (!update(log, L"VA_VolDetectSpots", show)) return false;
  size_t n = 1;
  for (unsigned k = 0; k < D; ++k) n *= size_t(size[k]);
  std::vector<float> magnitude(n);
  for (size_t i = 0; i < n; ++i) magnitude[i] = std::fabs(values[i]);
  auto absImage = twk::itkv::floatImageOf<D>(magnitude.data(), size, sp);
  auto smooth = itk::SmoothingRecursiveGaussianImageFilter<FImage<D>, FImage<D>>::New();
  smooth->SetInput(absImage);
  smooth->SetSigma(std::max(0.5, smoothVoxels) * voxel);
  if (!update(smooth, L"VA_VolDetectSpots", show)) return false;
  const float* response = log->GetOutput()->GetBufferPointer();
  const float* background = smooth->GetOutput()->GetBufferPointer();
  for (size_t i = 0; i < n; ++i) {
    const float r = bright ? -response[i] : response[i];
    feature[i] = r / std::max(background[i], floor);
  }
  return true;
}

}  // namespace

FRAME* VA_VolDetectSpots(bool bright, const VA_DETECTSPOTS* record, const FRAME* frame, const SPC* spc, bool show) {
  if (!record || !frame || !frame->data || frame->type == FRM_ROI || frame->dim.t != 1 ||
      twk::voxelElemOf(frame) == twk::VoxelElem::Invalid) {
    report(L"Invalid parameters", show);
    return nullptr;
  }
  if (record->maxSpotSize < 1) {
    report(L"Invalid spot size", show);
    return nullptr;
  }
  twk::itkv::capThreads();
  twk::ProgressGuard progress(L"Detecting spots", show);
  const DIM3D& d = frame->dim;
  const size_t n = size_t(d.w) * d.h * d.d;
  std::vector<float> values(n);
  float lo = 1e30f, hi = -1e30f;
  for (int z = 0; z < d.d; ++z)
    for (int y = 0; y < d.h; ++y)
      for (int x = 0; x < d.w; ++x) {
        double v = twk::voxelValue(frame, x, y, z, 0);
        if (v == VOID_VALUE) v = 0;
        const float f = float(v);
        values[(size_t(z) * d.h + y) * d.w + x] = f;
        lo = std::min(lo, f);
        hi = std::max(hi, f);
      }
  const float floor = std::max(1e-6f * (hi - lo), 1e-12f);
  const bool mode3D = record->mode3D != 0 && d.d > 1;
  const double size = record->maxSpotSize;
  const double radius = mode3D ? std::cbrt(3.0 * size / (4.0 * std::numbers::pi)) : std::sqrt(size / std::numbers::pi);
  const double sigma = std::max(0.5, radius / std::sqrt(mode3D ? 3.0 : 2.0));
  std::vector<float> feature(n);
  const double sp[3] = {spc ? spc->x : 1.0, spc ? spc->y : 1.0, spc ? spc->z : 1.0};
  if (mode3D) {
    const int dims[3] = {d.w, d.h, d.d};
    if (!featureOf<3>(values.data(), feature.data(), dims, sp, sigma, record->smoothRadius, bright, floor, show))
      return nullptr;
  } else {
    const int dims[2] = {d.w, d.h};
    const size_t plane = size_t(d.w) * d.h;
    for (int z = 0; z < d.d; ++z) {
      if (!featureOf<2>(values.data() + plane * z, feature.data() + plane * z, dims, sp, sigma, record->smoothRadius,
                        bright, floor, show))
        return nullptr;
      if (!progress.Step(z + 1, d.d)) return nullptr;
    }
  }
  FRAME* candidates = PR_FrameCreate(FRM_ROI, 1, DIM3D{d.w, d.h, d.d, 1}, true);
  if (!candidates) return nullptr;
  for (int z = 0; z < d.d; ++z)
    for (int y = 0; y < d.h; ++y) {
      uint8_t* line = twk::frameLine(candidates, y, z, 0);
      for (int x = 0; x < d.w; ++x)
        if (feature[(size_t(z) * d.h + y) * d.w + x] >= record->featureThreshold) twk::setBit(line, x, true);
    }
  twk::cc::RunLabels labels;
  const bool labelled = twk::cc::labelRoi(candidates, 0, 26, !mode3D, false, &labels);
  FRAME* spots = labelled ? PR_FrameCreate(FRM_ROI, 1, DIM3D{d.w, d.h, d.d, 1}, true) : nullptr;
  if (spots)
    twk::cc::writeRuns(labels, spots, 0, true,
                       [&](uint32_t c) { return labels.size[c] <= int64_t(record->maxSpotSize); });
  PR_FrameDelete(&candidates);
  return spots;
}
