#include "seriesmerge/VibeGraspMerge.h"

#include <itkCorrelationImageToImageMetricv4.h>
#include <itkImageRegistrationMethodv4.h>
#include <itkLinearInterpolateImageFunction.h>
#include <itkNearestNeighborInterpolateImageFunction.h>
#include <itkRegularStepGradientDescentOptimizerv4.h>
#include <itkResampleImageFilter.h>
#include <itkTranslationTransform.h>
#include <tbb/parallel_for.h>

#include <cmath>
#include <memory>
#include <vector>

#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "itk/ItkGeometry.h"
#include "itk/ItkImageViews.h"
#include "paths/FilePaths.h"
#include "volops/VolumeOperations.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

using namespace twk::itkv;

namespace {

const wchar_t* const kName = L"VA_VibeGraspMerge";

// Integer rotation matrix of quarter turns about axis (right-handed): maps an offset of the source
// grid to the offset it takes in the turned grid.
struct QuarterTurn {
  int m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  QuarterTurn(int axis, int turns) {
    const int a = (axis + 1) % 3, b = (axis + 2) % 3;  // the turned plane, a towards b
    for (int q = 0; q < ((turns % 4) + 4) % 4; ++q)
      for (int c = 0; c < 3; ++c) {
        const int ra = m[a][c], rb = m[b][c];
        m[a][c] = -rb;
        m[b][c] = ra;
      }
  }
  // |R| applied to a size vector (a permutation).
  template <class T>
  void sizes(const T in[3], T out[3]) const {
    for (int r = 0; r < 3; ++r) {
      out[r] = 0;
      for (int c = 0; c < 3; ++c) out[r] += T(std::abs(m[r][c])) * in[c];
    }
  }
};

void fail(bool show, const CString& why) {
  if (show) twk::showNamedError(kName, why);
}

// One time point of an integer or real frame as float pixels on a new image of the volume's patient
// geometry; void voxels read 0.
FloatImage::Pointer floatImage(const CVol* vol, const FRAME* frame, int t0, int count) {
  auto image = newImage<float>(frame->dim, &vol->spc, false);
  setPatientGeometry(image.GetPointer(), vol);
  float* out = image->GetBufferPointer();
  const DIM3D d = frame->dim;
  tbb::parallel_for(0, d.d, [&](int z) {
    for (int y = 0; y < d.h; ++y) {
      float* line = out + (int64_t(z) * d.h + y) * d.w;
      for (int x = 0; x < d.w; ++x) {
        double sum = 0;
        for (int t = t0; t < t0 + count; ++t) {
          const double v = twk::voxelValue(frame, x, y, z, t);
          if (v < VOID_VALUE) sum += v;
        }
        line[x] = float(sum / count);
      }
    }
  });
  return image;
}

// The patient geometry of a turned grid: the source's directions, the turned spacing, and the
// origin that keeps the grid's centre where the source's centre was.
void turnedGeometry(FloatImage* turned, const CVol* source, const SPC& turnedSpc) {
  double origin[3], direction[3][3];
  patientFrame(source, origin, direction);
  const DIM3D sd = source->frame->dim;
  const double half[3] = {0.5 * (sd.w - 1) * source->spc.x, 0.5 * (sd.h - 1) * source->spc.y,
                          0.5 * (sd.d - 1) * source->spc.z};
  const auto size = turned->GetLargestPossibleRegion().GetSize();
  const double turnedHalf[3] = {0.5 * (double(size[0]) - 1) * turnedSpc.x, 0.5 * (double(size[1]) - 1) * turnedSpc.y,
                                0.5 * (double(size[2]) - 1) * turnedSpc.z};
  FloatImage::PointType o;
  for (int r = 0; r < 3; ++r) {
    o[r] = origin[r];
    for (int c = 0; c < 3; ++c) o[r] += direction[r][c] * (half[c] - turnedHalf[c]);
  }
  turned->SetOrigin(o);
  FloatImage::DirectionType dir;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) dir(r, c) = direction[r][c];
  turned->SetDirection(dir);
  FloatImage::SpacingType s;
  s[0] = turnedSpc.x;
  s[1] = turnedSpc.y;
  s[2] = turnedSpc.z;
  turned->SetSpacing(s);
}

// Resamples an image onto the reference grid through the transform.
template <class TInterpolator>
FloatImage::Pointer resampleOnto(FloatImage* image, const FloatImage* reference, const itk::Transform<double, 3, 3>* transform,
                                 bool show, bool* ok) {
  auto resample = itk::ResampleImageFilter<FloatImage, FloatImage>::New();
  resample->SetInput(image);
  resample->SetReferenceImage(reference);
  resample->UseReferenceImageOn();
  resample->SetTransform(transform);
  resample->SetInterpolator(TInterpolator::New());
  resample->SetDefaultPixelValue(0);
  *ok = update(resample, kName, show, 60, 90);
  return *ok ? FloatImage::Pointer(resample->GetOutput()) : nullptr;
}

}  // namespace

FRAME* VA_VolQuarterTurn(const FRAME* frame, const SPC* spc, int axis, int turns, SPC* outSpc) {
  if (!frame || !frame->data || axis < 0 || axis > 2) return nullptr;
  const QuarterTurn turn(axis, turns);
  const int64_t inDims[3] = {frame->dim.w, frame->dim.h, frame->dim.d};
  int64_t outDims[3];
  turn.sizes(inDims, outDims);
  if (spc && outSpc) {
    const double in[3] = {spc->x, spc->y, spc->z};
    double out[3];
    turn.sizes(in, out);
    *outSpc = SPC{out[0], out[1], out[2]};
  }
  const DIM3D dims{int32_t(outDims[0]), int32_t(outDims[1]), int32_t(outDims[2]), 1};
  FRAME* result = PR_FrameCreate(frame->type, frame->bpv, dims, true);
  if (!result) return nullptr;
  // Doubled offsets from the centre stay integers: d = 2 u - (n - 1); source = R^T turned.
  tbb::parallel_for(int64_t(0), outDims[2], [&](int64_t z) {
    for (int64_t y = 0; y < outDims[1]; ++y)
      for (int64_t x = 0; x < outDims[0]; ++x) {
        const int64_t u[3] = {x, y, z};
        int64_t d[3], source[3];
        for (int r = 0; r < 3; ++r) d[r] = 2 * u[r] - (outDims[r] - 1);
        for (int c = 0; c < 3; ++c) {
          int64_t v = 0;
          for (int r = 0; r < 3; ++r) v += turn.m[r][c] * d[r];
          source[c] = (v + inDims[c] - 1) / 2;
        }
        twk::setVoxelValue(result, x, y, z, 0, twk::voxelValue(frame, source[0], source[1], source[2], 0));
      }
  });
  return result;
}

CVol* VA_VibeGraspMerge(const VA_VIBEGRASPPARMS* parms, const void* reserved, const CVol* vibe, const CVol* roi,
                        const CVol* grasp, bool show) {
  if (!parms || reserved || !vibe || !vibe->frame || !grasp || !grasp->frame) {
    fail(show, L"Invalid arguments");
    return nullptr;
  }
  if (vibe->IsROI() || vibe->T() != 1) {
    fail(show, L"VIBE volume should be a 3D signal volume");
    return nullptr;
  }
  const int T = grasp->T();
  if (grasp->IsROI() || T < 2) {
    fail(show, L"GRASP series should be a 4D signal volume");
    return nullptr;
  }
  if (roi && (!roi->IsROI() || roi->W() != vibe->W() || roi->H() != vibe->H() || roi->D() != vibe->D())) {
    fail(show, L"Normalization ROI does not match the VIBE volume");
    return nullptr;
  }
  if (parms->graspFrames < 1 || parms->graspFrames > T) {
    fail(show, FmtStr(L"Number of GRASP frames to average should be between 1 and %d", T));
    return nullptr;
  }
  if (!std::isfinite(parms->maxTranslation) || parms->maxTranslation < 0) {
    fail(show, L"Alignment max translation should not be negative");
    return nullptr;
  }
  int turns = 0;
  const bool turning = parms->axis >= 0 && parms->axis <= 2;
  if (turning) {
    const double quarters = parms->rotation / 90.0;
    if (!std::isfinite(quarters) || std::fabs(quarters - std::round(quarters)) > 1e-9) {
      fail(show, L"Rotation should be a multiple of 90 degrees");
      return nullptr;
    }
    turns = int(std::fmod(std::round(quarters), 4.0));
  }
  capThreads();

  // Target and turned VIBE in patient space.
  const FloatImage::Pointer target = floatImage(grasp, grasp->frame, 0, parms->graspFrames);
  FRAME* turnedFrame = nullptr;
  SPC turnedSpc = vibe->spc;
  if (turning) {
    turnedFrame = VA_VolQuarterTurn(vibe->frame, &vibe->spc, parms->axis, turns, &turnedSpc);
    if (!turnedFrame) {
      fail(show, L"Not enough memory");
      return nullptr;
    }
  }
  const std::unique_ptr<FRAME, void (*)(FRAME*)> turnedOwner(turnedFrame, [](FRAME* f) { PR_FrameDelete(&f); });
  FloatImage::Pointer moving = floatImage(vibe, turnedFrame ? turnedFrame : vibe->frame, 0, 1);
  if (turnedFrame) {
    FloatImage::RegionType region;
    region.SetSize(0, itk::SizeValueType(turnedFrame->dim.w));
    region.SetSize(1, itk::SizeValueType(turnedFrame->dim.h));
    region.SetSize(2, itk::SizeValueType(turnedFrame->dim.d));
    moving->SetRegions(region);
    turnedGeometry(moving.GetPointer(), vibe, turnedSpc);
  }

  // Translation by normalised correlation, within the maximum.
  using Transform = itk::TranslationTransform<double, 3>;
  Transform::Pointer transform = Transform::New();
  transform->SetIdentity();
  const twk::ProgressGuard progress(L"Merge VIBE and GRASP", show);
  if (parms->maxTranslation > 0) {
    using Registration = itk::ImageRegistrationMethodv4<FloatImage, FloatImage, Transform>;
    auto metric = itk::CorrelationImageToImageMetricv4<FloatImage, FloatImage>::New();
    auto optimizer = itk::RegularStepGradientDescentOptimizerv4<double>::New();
    optimizer->SetLearningRate(std::fmin(4.0, parms->maxTranslation));
    optimizer->SetMinimumStepLength(0.005);
    optimizer->SetRelaxationFactor(0.5);
    optimizer->SetNumberOfIterations(300);
    optimizer->SetReturnBestParametersAndValue(true);
    auto registration = Registration::New();
    registration->SetFixedImage(target);
    registration->SetMovingImage(moving);
    registration->SetMetric(metric);
    registration->SetOptimizer(optimizer);
    registration->SetInitialTransform(transform);
    registration->InPlaceOn();
    Registration::ShrinkFactorsArrayType shrink(3);
    Registration::SmoothingSigmasArrayType sigmas(3);
    shrink[0] = 4, shrink[1] = 2, shrink[2] = 1;
    sigmas[0] = 2, sigmas[1] = 1, sigmas[2] = 0;
    registration->SetNumberOfLevels(3);
    registration->SetShrinkFactorsPerLevel(shrink);
    registration->SetSmoothingSigmasPerLevel(sigmas);
    registration->SetSmoothingSigmasAreSpecifiedInPhysicalUnits(false);
    if (!update(registration, kName, show, 1, 60)) return nullptr;
    Transform::ParametersType p = transform->GetParameters();
    const double length = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    if (length > parms->maxTranslation) {
      for (int c = 0; c < 3; ++c) p[c] *= parms->maxTranslation / length;
      transform->SetParameters(p);
    }
  }

  bool ok = false;
  FloatImage::Pointer resampled =
      resampleOnto<itk::LinearInterpolateImageFunction<FloatImage, double>>(moving, target, transform, show, &ok);
  if (!ok) return nullptr;

  // Scaling on the GRASP grid, where the result lives: the ROI carried there through the same
  // translation (linear interpolation of its 0/1 mask gives each voxel its share of the ROI) weighs
  // the resampled VIBE and the target, and the VIBE is scaled to the target's weighted mean.
  double scale = 1.0;
  if (parms->flag == 1 && roi) {
    FRAME* turnedRoi = turning ? VA_VolQuarterTurn(roi->frame, &roi->spc, parms->axis, turns, nullptr) : nullptr;
    FloatImage::Pointer roiImage = floatImage(vibe, turnedRoi ? turnedRoi : roi->frame, 0, 1);
    PR_FrameDelete(&turnedRoi);
    roiImage->SetRegions(moving->GetLargestPossibleRegion());
    roiImage->CopyInformation(moving);
    FloatImage::Pointer weights =
        resampleOnto<itk::LinearInterpolateImageFunction<FloatImage, double>>(roiImage, target, transform, show, &ok);
    if (!ok) return nullptr;
    const float* w = weights->GetBufferPointer();
    const float* t = target->GetBufferPointer();
    const float* v = resampled->GetBufferPointer();
    const int64_t n = int64_t(grasp->W()) * grasp->H() * grasp->D();
    double targetSum = 0, vibeSum = 0;
    for (int64_t i = 0; i < n; ++i) {
      targetSum += double(w[i]) * t[i];
      vibeSum += double(w[i]) * v[i];
    }
    if (vibeSum != 0 && std::isfinite(targetSum / vibeSum)) scale = targetSum / vibeSum;
  }

  // The GRASP series with its first time point repeated, which the VIBE then replaces.
  std::vector<int32_t> times(size_t(T) + 2);
  times[0] = T + 1;
  times[1] = 0;
  for (int t = 0; t < T; ++t) times[size_t(t) + 2] = t;
  CVol* merged = VA_VolCloneByCrop(grasp, nullptr, times.data(), true, false);
  if (!merged) {
    fail(show, L"Not enough memory");
    return nullptr;
  }
  const float* values = resampled->GetBufferPointer();
  FRAME* out = merged->frame;
  tbb::parallel_for(0, out->dim.d, [&](int z) {
    for (int y = 0; y < out->dim.h; ++y)
      for (int x = 0; x < out->dim.w; ++x)
        twk::setVoxelValue(out, x, y, z, 0, scale * values[(int64_t(z) * out->dim.h + y) * out->dim.w + x]);
  });
  if (merged->dyn && T >= 2) {
    const double interval = grasp->dyn[1].time - grasp->dyn[0].time;
    merged->dyn[0].time -= interval;
    merged->dyn[0].timeEnd -= interval;
  }
  merged->name = PR_AddFileNameSfx(grasp->name, L"_VIBE");
  return merged;
}
