// The resampler: every time point of a frame through ITK's ResampleImageFilter with an affine
// transform or a point mapping of our own, in the convention Geometry.h describes. Real sources are viewed in place and real
// results are written straight into the new frame; integer and ROI time points pass through one
// image of doubles (floats for ROIs) that is converted back in one parallel pass.
#include "geometry/Geometry.h"

#include <itkAffineTransform.h>
#include <itkCastImageFilter.h>
#include <itkDiscreteGaussianImageFilter.h>
#include <itkLinearInterpolateImageFunction.h>
#include <itkNearestNeighborInterpolateImageFunction.h>
#include <itkResampleImageFilter.h>
#include <itkTransform.h>
#include <itkWindowedSincInterpolateImageFunction.h>

#include <oneapi/tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <new>

#include "TwkMem.h"
#include "TwkUi.h"
#include "itk/ItkImageViews.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

using namespace twk::itkv;

namespace {

constexpr const wchar_t* kName = L"VA_VolResample";

template <class TOut>
typename itk::InterpolateImageFunction<TOut, double>::Pointer makeInterpolator(int code) {
  switch (code) {
    case VA_INTERP_NEAREST: return itk::NearestNeighborInterpolateImageFunction<TOut, double>::New().GetPointer();
    case VA_INTERP_WSINC2: return itk::WindowedSincInterpolateImageFunction<TOut, 2>::New().GetPointer();
    case VA_INTERP_WSINC3: return itk::WindowedSincInterpolateImageFunction<TOut, 3>::New().GetPointer();
    case VA_INTERP_WSINC4: return itk::WindowedSincInterpolateImageFunction<TOut, 4>::New().GetPointer();
    default: return itk::LinearInterpolateImageFunction<TOut, double>::New().GetPointer();
  }
}

// The affine transform of a target-to-source index matrix in physical space (origin 0, identity
// direction): p_src = Ssrc * M3 * Stgt^-1 * p_tgt + Ssrc * m.
itk::AffineTransform<double, 3>::Pointer physicalTransform(const double m[16], const SPC& s, const SPC& t) {
  const double ss[3] = {s.x, s.y, s.z}, ts[3] = {t.x, t.y, t.z};
  auto transform = itk::AffineTransform<double, 3>::New();
  itk::AffineTransform<double, 3>::MatrixType a;
  itk::AffineTransform<double, 3>::OutputVectorType b;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) a(r, c) = ss[r] * m[4 * r + c] / ts[c];
    b[r] = ss[r] * m[4 * r + 3];
  }
  transform->SetMatrix(a);
  transform->SetOffset(b);
  return transform;
}

// A transform that maps physical points (origin 0, identity direction) through a point function on
// voxel indices: p_src = Ssrc * f(t, Stgt^-1 * p_tgt). It has no parameters; ITK samples it point by
// point.
class PointMapTransform : public itk::Transform<double, 3, 3> {
 public:
  using Self = PointMapTransform;
  using Pointer = itk::SmartPointer<Self>;
  itkTypeMacro(PointMapTransform, Transform);

  static Pointer make(const std::function<void(int, const double*, double*)>* map, int t, const SPC& s, const SPC& tg) {
    Pointer p = new Self;
    p->UnRegister();
    p->map_ = map;
    p->t_ = t;
    p->src_[0] = s.x, p->src_[1] = s.y, p->src_[2] = s.z;
    p->tgt_[0] = tg.x, p->tgt_[1] = tg.y, p->tgt_[2] = tg.z;
    return p;
  }

  OutputPointType TransformPoint(const InputPointType& p) const override {
    const double in[3] = {p[0] / tgt_[0], p[1] / tgt_[1], p[2] / tgt_[2]};
    double out[3];
    (*map_)(t_, in, out);
    OutputPointType q;
    for (int k = 0; k < 3; ++k) q[k] = out[k] * src_[k];
    return q;
  }
  void SetParameters(const ParametersType&) override {}
  void SetFixedParameters(const FixedParametersType&) override {}
  void ComputeJacobianWithRespectToParameters(const InputPointType&, JacobianType& j) const override { j.SetSize(3, 0); }

 private:
  PointMapTransform() : itk::Transform<double, 3, 3>(0) {}
  const std::function<void(int, const double*, double*)>* map_ = nullptr;
  int t_ = 0;
  double src_[3] = {1, 1, 1}, tgt_[3] = {1, 1, 1};
};

// Gaussian variances (mm^2) per axis that bring the source to the target's coarser resolution;
// false when no axis is coarser.
bool downscaleVariance(const SPC& s, const SPC& t, double variance[3]) {
  const double ss[3] = {s.x, s.y, s.z}, ts[3] = {t.x, t.y, t.z};
  bool any = false;
  for (int k = 0; k < 3; ++k) {
    const double sigma = ts[k] > ss[k] ? std::sqrt(ts[k] * ts[k] - ss[k] * ss[k]) / 2.3548200450309493 : 0.0;
    variance[k] = sigma * sigma;
    any = any || sigma > 0;
  }
  return any;
}

// One time point: source image (any pixel type) -> resampled image of TOut pixels. The output
// image may view memory of its own (a container set before the run is kept by ITK's allocation).
template <class TIn, class TOut>
bool resampleOne(typename Image3<TIn>::Pointer input, const itk::Transform<double, 3, 3>* transform,
                 const DIM3D& tdims, const SPC& tspc, int interpolation, const double* variance, double outside,
                 typename Image3<TOut>::Pointer output, bool show, int from, int to) {
  using OutImage = Image3<TOut>;
  typename OutImage::Pointer source;
  if constexpr (std::is_same_v<TIn, TOut>) {
    source = input;
  } else {
    auto cast = itk::CastImageFilter<Image3<TIn>, OutImage>::New();
    cast->SetInput(input);
    if (!update(cast, kName, show, from, from)) return false;
    source = cast->GetOutput();
    source->DisconnectPipeline();
  }
  if (variance) {
    auto gauss = itk::DiscreteGaussianImageFilter<OutImage, OutImage>::New();
    gauss->SetInput(source);
    gauss->SetVariance(variance);
    gauss->SetUseImageSpacing(true);
    gauss->SetMaximumKernelWidth(64);
    if (!update(gauss, kName, show, from, from + (to - from) / 3)) return false;
    source = gauss->GetOutput();
    source->DisconnectPipeline();
    from += (to - from) / 3;
  }
  auto filter = itk::ResampleImageFilter<OutImage, OutImage, double>::New();
  filter->SetInput(source);
  filter->SetTransform(transform);
  filter->SetInterpolator(makeInterpolator<OutImage>(interpolation));
  filter->SetDefaultPixelValue(TOut(outside));
  typename OutImage::SizeType size;
  size[0] = itk::SizeValueType(tdims.w);
  size[1] = itk::SizeValueType(tdims.h);
  size[2] = itk::SizeValueType(tdims.d);
  filter->SetSize(size);
  typename OutImage::SpacingType spacing;
  spacing[0] = tspc.x;
  spacing[1] = tspc.y;
  spacing[2] = tspc.z;
  filter->SetOutputSpacing(spacing);
  typename OutImage::PointType origin;
  origin.Fill(0.0);
  filter->SetOutputOrigin(origin);
  if (output) filter->GraftOutput(output);
  if (!update(filter, kName, show, from, to)) return false;
  if (!output) return true;
  // The graft keeps the caller's buffer; a filter that allocated anew is copied over.
  OutImage* result = filter->GetOutput();
  if (result->GetBufferPointer() != output->GetBufferPointer()) {
    const int64_t n = int64_t(tdims.w) * tdims.h * tdims.d;
    std::copy(result->GetBufferPointer(), result->GetBufferPointer() + n, output->GetBufferPointer());
  }
  return true;
}

// Writes an image of doubles (or floats) into time point t of an integer or ROI frame.
template <class P>
void storeTimePoint(const Image3<P>* image, FRAME* out, int t, int binaryThreshold) {
  const P* in = image->GetBufferPointer();
  const int64_t w = out->dim.w, h = out->dim.h;
  const twk::VoxelElem elem = twk::voxelElemOf(out);
  tbb::parallel_for(int64_t(0), int64_t(out->dim.d) * h, [&](int64_t i) {
    const int64_t z = i / h, y = i % h;
    const P* src = in + (z * h + y) * w;
    uint8_t* line = twk::frameLine(out, y, z, t);
    switch (elem) {
      case twk::VoxelElem::Bit:
        for (int64_t x = 0; x < w; ++x) twk::setBit(line, x, double(src[x]) * 100.0 > binaryThreshold);
        break;
      case twk::VoxelElem::U8:
        for (int64_t x = 0; x < w; ++x) line[x] = twk::voxelFromDouble<uint8_t>(src[x]);
        break;
      case twk::VoxelElem::U16:
        for (int64_t x = 0; x < w; ++x) reinterpret_cast<uint16_t*>(line)[x] = twk::voxelFromDouble<uint16_t>(src[x]);
        break;
      case twk::VoxelElem::U32:
        for (int64_t x = 0; x < w; ++x) reinterpret_cast<uint32_t*>(line)[x] = twk::voxelFromDouble<uint32_t>(src[x]);
        break;
      default: break;
    }
  });
}

// An image of the target grid whose pixels are time point t of a real frame (no copy).
Image3<double>::Pointer viewOutput(FRAME* out, int t, const SPC& tspc) {
  return viewTimePoint<double>(out, t, &tspc);
}

}  // namespace

FRAME* VA_VolResample(const FRAME* frame, const SPC* spc, const double matrix[16], const DIM3D* targetDims,
                      const SPC* targetSpc, int interpolation, bool gaussianDownscale, int binaryThreshold, bool show) {
  VA_RESAMPLE_MAP map;
  map.matrices = matrix;
  map.matrixCount = 1;
  return VA_VolResampleMapped(frame, spc, map, targetDims, targetSpc, interpolation, gaussianDownscale, binaryThreshold,
                              VA_RESAMPLE_DEFAULT_OUTSIDE, show);
}

FRAME* VA_VolResampleMapped(const FRAME* frame, const SPC* spc, const VA_RESAMPLE_MAP& map, const DIM3D* targetDims,
                            const SPC* targetSpc, int interpolation, bool gaussianDownscale, int binaryThreshold,
                            double outside, bool show) {
  auto fail = [&](const wchar_t* why) -> FRAME* {
    if (show) twk::showNamedError(kName, why);
    return nullptr;
  };
  if (!frame || !frame->data || twk::voxelElemOf(frame) == twk::VoxelElem::Invalid) return fail(L"Invalid volume");
  if (!targetDims || !targetSpc || targetDims->w < 1 || targetDims->h < 1 || targetDims->d < 1)
    return fail(L"Invalid target grid");
  const SPC s = spc ? *spc : SPC{};
  const SPC t = *targetSpc;
  for (double v : {s.x, s.y, s.z, t.x, t.y, t.z})
    if (!std::isfinite(v) || !(v > 0)) return fail(L"Invalid voxel size");
  if (!map.point) {
    if (!map.matrices || (map.matrixCount != 1 && map.matrixCount != frame->dim.t)) return fail(L"Invalid transform");
    for (int i = 0; i < 16 * map.matrixCount; ++i)
      if ((i % 16) < 12 && !std::isfinite(map.matrices[i])) return fail(L"Invalid transform");
  }
  if (interpolation < VA_INTERP_NEAREST || interpolation > VA_INTERP_WSINC4) return fail(L"Unknown interpolation");
  const bool defaultOutside = std::isnan(outside);
  const DIM3D tdims{targetDims->w, targetDims->h, targetDims->d, frame->dim.t};
  FRAME* out = PR_FrameCreate(frame->type, frame->bpv, tdims, frame->type == FRM_ROI);
  if (!out) return fail(L"Not enough memory");
  capThreads();
  twk::ProgressGuard progress(L"Resampling", show);
  bool ok = true;
  try {
    double variance[3];
    const double* var = gaussianDownscale && downscaleVariance(s, t, variance) ? variance : nullptr;
    const int n = frame->dim.t;
    Image3<double>::Pointer work;
    Image3<float>::Pointer mask;
    for (int k = 0; k < n && ok; ++k) {
      itk::Transform<double, 3, 3>::Pointer transform;
      if (map.point)
        transform = PointMapTransform::make(&map.point, k, s, t).GetPointer();
      else
        transform = physicalTransform(map.matrices + 16 * (map.matrixCount == 1 ? 0 : k), s, t).GetPointer();
      const int from = int(1 + 97.0 * k / n), to = int(1 + 97.0 * (k + 1) / n);
      switch (twk::voxelElemOf(frame)) {
        case twk::VoxelElem::F64:
          ok = resampleOne<double, double>(viewTimePoint<double>(frame, k, &s), transform, tdims, t, interpolation, var,
                                           defaultOutside ? VOID_VALUE : outside, viewOutput(out, k, t), show, from, to);
          break;
        case twk::VoxelElem::Bit: {
          if (!mask) mask = newImage<float>(tdims, &t, false);
          ok = resampleOne<uint8_t, float>(unpackRoi(frame, k, &s), transform, tdims, t, interpolation, var, 0.0, mask,
                                           show, from, to);
          if (ok) storeTimePoint<float>(mask, out, k, std::clamp(binaryThreshold, 0, 100));
          break;
        }
        default: {
          if (!work) work = newImage<double>(tdims, &t, false);
          withPixelType(frame, [&](auto pixel) {
            using P = decltype(pixel);
            ok = resampleOne<P, double>(viewTimePoint<P>(frame, k, &s), transform, tdims, t, interpolation, var,
                                        defaultOutside ? 0.0 : outside, work, show, from, to);
          });
          if (ok) storeTimePoint<double>(work, out, k, 0);
          break;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    PR_FrameDelete(&out);
    return fail(L"Not enough memory");
  } catch (const itk::ExceptionObject& e) {
    PR_FrameDelete(&out);
    if (show) twk::showNamedError(kName, CString(e.GetDescription()));
    return nullptr;
  }
  if (!ok) PR_FrameDelete(&out);
  return out;
}
