// Fine optimisation of AutoFocus registration on ITK's v4 framework: the registration method runs
// a pyramid of shrink factors with the optimised transform (translation, Euler rigid, or a
// scale-skew-versor affine) composed after the coarse search's map. Signal difference, cross
// correlation and Mattes mutual information are ITK's v4 metrics; ratio image uniformity,
// normalised mutual information and the normalised gradient fields are our own v4 metric, which
// evaluates the shared measures (AfCore) and differentiates them numerically.

#include "AfFine.h"

#include <itkAffineTransform.h>
#include <itkCommand.h>
#include <itkCorrelationImageToImageMetricv4.h>
#include <itkEuler3DTransform.h>
#include <itkImageMaskSpatialObject.h>
#include <itkImageRegistrationMethodv4.h>
#include <itkMattesMutualInformationImageToImageMetricv4.h>
#include <itkMeanSquaresImageToImageMetricv4.h>
#include <itkRegistrationParameterScalesFromPhysicalShift.h>
#include <itkRegularStepGradientDescentOptimizerv4.h>
#include <itkScaleSkewVersor3DTransform.h>
#include <itkTranslationTransform.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "itk/ItkImageViews.h"

namespace twk::af {

namespace {

using FImage = itk::Image<float, 3>;
using MImage = itk::Image<unsigned char, 3>;
using MetricBase = itk::ImageToImageMetricv4<FImage, FImage>;

// The fewest voxels along any axis of the two images (ITK's recursive Gaussians need 4).
int shortestAxis(const AfFineInput& in) {
  return std::min({in.target->w, in.target->h, in.target->d, in.source->w, in.source->h, in.source->d});
}

// An allocated ITK image of an AfImage's grid (origin 0, identity direction).
template <class P>
typename itk::Image<P, 3>::Pointer gridImage(const AfImage& a) {
  const SPC spc{a.sx, a.sy, a.sz};
  return twk::itkv::newImage<P>(DIM3D{a.w, a.h, a.d, 1}, &spc, false);
}

// The image's values with voids as 0.
FImage::Pointer toItk(const AfImage& a) {
  auto img = gridImage<float>(a);
  float* dst = img->GetBufferPointer();
  const size_t n = a.v.size();
  for (size_t i = 0; i < n; ++i) dst[i] = a.v[i] == a.v[i] ? a.v[i] : 0.0f;
  return img;
}

// A mask image of the grid: inside where the mask (when given) is set and the voxel is defined.
// Null when every voxel is inside.
MImage::Pointer maskImage(const AfImage& a, const std::vector<uint8_t>* mask) {
  const size_t n = a.v.size();
  auto inside = [&](size_t i) { return a.v[i] == a.v[i] && !(mask && !mask->empty() && !(*mask)[i]); };
  bool any = false;
  for (size_t i = 0; i < n && !any; ++i) any = !inside(i);
  if (!any) return nullptr;
  auto img = gridImage<unsigned char>(a);
  unsigned char* dst = img->GetBufferPointer();
  for (size_t i = 0; i < n; ++i) dst[i] = inside(i) ? 1 : 0;
  return img;
}

// The map of a transform, read from the images of the origin and the three unit points.
template <class T>
AfAffine mapOf(const T* t) {
  using P = typename T::InputPointType;
  P o;
  o.Fill(0.0);
  const auto q0 = t->TransformPoint(o);
  AfAffine m;
  for (int c = 0; c < 3; ++c) {
    P e;
    e.Fill(0.0);
    e[c] = 1.0;
    const auto q = t->TransformPoint(e);
    for (int r = 0; r < 3; ++r) m.a[r][c] = q[r] - q0[r];
  }
  for (int r = 0; r < 3; ++r) m.b[r] = q0[r];
  return m;
}

// Our own v4 metric: the shared measures on the level's points, numerically differentiated.
class OwnMetric : public MetricBase {
 public:
  ITK_DISALLOW_COPY_AND_MOVE(OwnMetric);
  using Self = OwnMetric;
  using Superclass = MetricBase;
  using Pointer = itk::SmartPointer<Self>;
  itkNewMacro(Self);
  itkTypeMacro(OwnMetric, ImageToImageMetricv4);

  void Configure(const AfFineInput* in) { in_ = in; }

  void Initialize() override {
    Superclass::Initialize();
    // The level's source: the smoothed moving image, voids of the original kept.
    const FImage* moving = this->GetMovingImage();
    level_ = *in_->source;
    const float* mv = moving->GetBufferPointer();
    for (size_t i = 0; i < level_.v.size(); ++i)
      if (level_.v[i] == level_.v[i]) level_.v[i] = mv[i];
    // The level's target points: the virtual domain's voxels inside the mask, their smoothed values.
    AfImage fixedLevel = *in_->target;
    const float* fv = this->GetFixedImage()->GetBufferPointer();
    for (size_t i = 0; i < fixedLevel.v.size(); ++i)
      if (fixedLevel.v[i] == fixedLevel.v[i]) fixedLevel.v[i] = fv[i];
    samples_ = AfSamples();
    const auto region = this->GetVirtualRegion();
    itk::ImageRegionConstIteratorWithIndex<VirtualImageType> it(this->GetVirtualImage(), region);
    const auto* mask = this->GetFixedImageMask();
    for (; !it.IsAtEnd(); ++it) {
      VirtualPointType p;
      this->TransformVirtualIndexToPhysicalPoint(it.GetIndex(), p);
      if (mask && !mask->IsInsideInWorldSpace(p)) continue;
      double v;
      if (!fixedLevel.sample(p[0], p[1], p[2], &v)) continue;
      samples_.pos.push_back({float(p[0]), float(p[1]), float(p[2])});
      samples_.value.push_back(float(v));
    }
    // At most 50000 points per level, evenly spread: the numerical derivative evaluates the measure
    // twice per parameter.
    const size_t cap = 50000;
    if (samples_.pos.size() > cap) {
      const double stride = double(samples_.pos.size()) / double(cap);
      for (size_t i = 0; i < cap; ++i) {
        samples_.pos[i] = samples_.pos[size_t(i * stride)];
        samples_.value[i] = samples_.value[size_t(i * stride)];
      }
      samples_.pos.resize(cap);
      samples_.value.resize(cap);
    }
    measure_ = std::make_unique<AfMeasure>(in_->measure, in_->bins, &level_, in_->sourceGrad, in_->sourceNoise);
    measure_->prepare(&samples_, in_->targetGrad, in_->targetNoise);
    // Numerical derivative steps: a shift of a quarter of the level's voxel at the domain corners (a
    // whole voxel for the gradient fields, whose values vary less smoothly).
    const auto spacing = this->GetVirtualSpacing();
    shift_ = (in_->measure >= VA_REGMEASURE_GRADIENT_FIELD ? 1.0 : 0.25) * std::min({spacing[0], spacing[1], spacing[2]});
    corners_.clear();
    const auto size = region.GetSize();
    for (int c = 0; c < 8; ++c) {
      VirtualIndexType idx = region.GetIndex();
      for (int k = 0; k < 3; ++k)
        if (c & (1 << k)) idx[k] += itk::IndexValueType(size[k]) - 1;
      VirtualPointType p;
      this->TransformVirtualIndexToPhysicalPoint(idx, p);
      corners_.push_back(p);
    }
  }

  MeasureType GetValue() const override { return costOf(); }

  void GetDerivative(DerivativeType& derivative) const override {
    MeasureType value;
    GetValueAndDerivative(value, derivative);
  }

  void GetValueAndDerivative(MeasureType& value, DerivativeType& derivative) const override {
    auto* transform = this->m_MovingTransform.GetPointer();
    const ParametersType p0 = transform->GetParameters();
    const unsigned n = p0.GetSize();
    value = costOf();
    derivative.SetSize(n);
    derivative.Fill(0.0);
    for (unsigned k = 0; k < n; ++k) {
      // The step that moves the domain's corners by about a quarter voxel.
      ParametersType p = p0;
      const double probe = 1e-3;
      p[k] += probe;
      transform->SetParameters(p);
      double moved = 0;
      for (const auto& c : corners_) {
        transform->SetParameters(p0);
        const auto a = transform->TransformPoint(c);
        transform->SetParameters(p);
        const auto b = transform->TransformPoint(c);
        moved = std::max(moved, a.EuclideanDistanceTo(b));
      }
      const double h = moved > 0 ? probe * shift_ / moved : probe;
      p = p0;
      p[k] = p0[k] + h;
      transform->SetParameters(p);
      const double up = costOf();
      p[k] = p0[k] - h;
      transform->SetParameters(p);
      const double down = costOf();
      transform->SetParameters(p0);
      if (std::isfinite(up) && std::isfinite(down)) derivative[k] = -(up - down) / (2 * h);
    }
    transform->SetParameters(p0);
  }

 protected:
  OwnMetric() {
    // The threaders are never run (the value and derivative are computed above); the base
    // requires them to exist.
    this->m_DenseGetValueAndDerivativeThreader =
        itk::MeanSquaresImageToImageMetricv4GetValueAndDerivativeThreader<itk::ThreadedImageRegionPartitioner<3>,
                                                                         Superclass, Self>::New();
    this->m_SparseGetValueAndDerivativeThreader =
        itk::MeanSquaresImageToImageMetricv4GetValueAndDerivativeThreader<itk::ThreadedIndexedContainerPartitioner,
                                                                         Superclass, Self>::New();
  }
  ~OwnMetric() override = default;

 private:
  double costOf() const {
    const double c = measure_->cost(samples_, mapOf(this->m_MovingTransform.GetPointer()));
    return std::isfinite(c) ? c : std::numeric_limits<double>::max();
  }

  const AfFineInput* in_ = nullptr;
  AfImage level_;
  AfSamples samples_;
  std::unique_ptr<AfMeasure> measure_;
  double shift_ = 0.25;
  std::vector<VirtualPointType> corners_;
};

// Observer of the optimiser: progress and Esc.
class Watcher : public itk::Command {
 public:
  using Self = Watcher;
  using Pointer = itk::SmartPointer<Self>;
  itkNewMacro(Self);
  void Execute(itk::Object* caller, const itk::EventObject& event) override {
    Execute(static_cast<const itk::Object*>(caller), event);
  }
  void Execute(const itk::Object* caller, const itk::EventObject& event) override {
    if (!itk::IterationEvent().CheckEvent(&event) || stopped) return;
    ++count;
    if (progress && !progress(int(std::min<int64_t>(99, 100 * count / std::max<int64_t>(1, total))))) {
      stopped = true;
      auto* opt = const_cast<itk::ObjectToObjectOptimizerBase*>(
          dynamic_cast<const itk::ObjectToObjectOptimizerBase*>(caller));
      if (auto* gd = dynamic_cast<itk::RegularStepGradientDescentOptimizerv4<double>*>(opt)) gd->StopOptimization();
    }
  }
  std::function<bool(int)> progress;
  int64_t count = 0, total = 1;
  bool stopped = false;
};

template <class TTransform>
bool run(const AfFineInput& in, typename TTransform::Pointer optimised, const std::vector<double>& weights,
         AfAffine* map, CString* error, const std::function<bool(int)>& progress) {
  using Method = itk::ImageRegistrationMethodv4<FImage, FImage, TTransform, FImage>;
  auto method = Method::New();
  auto fixed = toItk(*in.target);
  auto moving = toItk(*in.source);
  method->SetFixedImage(fixed);
  method->SetMovingImage(moving);

  // The coarse map as the moving initial transform: p_src = init(optimised(p)).
  using Init = itk::AffineTransform<double, 3>;
  auto init = Init::New();
  {
    Init::MatrixType a;
    Init::OutputVectorType b;
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) a(r, c) = map->a[r][c];
      b[r] = map->b[r];
    }
    init->SetMatrix(a);
    init->SetOffset(b);
  }
  method->SetMovingInitialTransform(init);
  method->SetInitialTransform(optimised);
  method->InPlaceOn();

  typename MetricBase::Pointer metric;
  const int bins = in.bins > 1 ? in.bins : 32;
  switch (in.measure) {
    case VA_REGMEASURE_SIGNAL_DIFFERENCE: metric = itk::MeanSquaresImageToImageMetricv4<FImage, FImage>::New(); break;
    case VA_REGMEASURE_CROSS_CORRELATION: metric = itk::CorrelationImageToImageMetricv4<FImage, FImage>::New(); break;
    case VA_REGMEASURE_MUTUAL_INFO: {
      auto mi = itk::MattesMutualInformationImageToImageMetricv4<FImage, FImage>::New();
      mi->SetNumberOfHistogramBins(bins);
      metric = mi;
      break;
    }
    default: {
      auto own = OwnMetric::New();
      own->Configure(&in);
      metric = own;
      break;
    }
  }
  // The metrics' recursive-Gaussian gradient filter needs four voxels along every axis: thin images
  // (the single slices of the in-slice form) take their gradients point by point instead.
  if (std::min({in.target->w, in.target->h, in.target->d}) < 4 || std::min({in.source->w, in.source->h, in.source->d}) < 4) {
    metric->SetUseFixedImageGradientFilter(false);
    metric->SetUseMovingImageGradientFilter(false);
  }
  auto fixedMask = maskImage(*in.target, in.mask);
  if (fixedMask) {
    auto so = itk::ImageMaskSpatialObject<3>::New();
    so->SetImage(fixedMask);
    so->Update();
    metric->SetFixedImageMask(so);
  }
  auto movingMask = maskImage(*in.source, nullptr);
  if (movingMask) {
    auto so = itk::ImageMaskSpatialObject<3>::New();
    so->SetImage(movingMask);
    so->Update();
    metric->SetMovingImageMask(so);
  }
  // The metrics' image gradients come from a recursive Gaussian too, which needs 4 voxels on every
  // axis; shorter images take central differences.
  if (shortestAxis(in) < 4) {
    metric->SetUseFixedImageGradientFilter(false);
    metric->SetUseMovingImageGradientFilter(false);
  }
  method->SetMetric(metric);

  // Pyramid: shrink factors from the coarsest, halving, down to 1; an axis never shrinks below 4
  // voxels (a single slice never).
  std::vector<int> factors;
  for (int f = std::max(1, in.shrink); f > 1; f /= 2) factors.push_back(f);
  factors.push_back(1);
  const int dims[3] = {in.target->w, in.target->h, in.target->d};
  method->SetNumberOfLevels(factors.size());
  typename Method::SmoothingSigmasArrayType sigmas(factors.size());
  typename Method::ShrinkFactorsArrayType shrink(factors.size());
  // The level smoothing is a recursive Gaussian over every axis, which needs 4 voxels on each: with
  // a shorter axis (a single slice) the levels are shrunk without smoothing.
  const bool smooth = shortestAxis(in) >= 4;
  for (size_t l = 0; l < factors.size(); ++l) {
    shrink[l] = factors[l];
    sigmas[l] = smooth && factors[l] > 1 ? 0.5 * factors[l] : 0.0;
  }
  method->SetShrinkFactorsPerLevel(shrink);
  for (size_t l = 0; l < factors.size(); ++l) {
    typename Method::ShrinkFactorsPerDimensionContainerType perDim;
    for (int k = 0; k < 3; ++k) perDim[k] = std::max(1, std::min(factors[l], dims[k] / 4));
    method->SetShrinkFactorsPerDimension(l, perDim);
  }
  method->SetSmoothingSigmasPerLevel(sigmas);
  method->SetSmoothingSigmasAreSpecifiedInPhysicalUnits(false);

  // Sampling: every voxel of small levels, a regular fraction of large ones.
  const double voxels = double(in.target->w) * in.target->h * in.target->d;
  if (voxels > 200000 && in.measure <= VA_REGMEASURE_MUTUAL_INFO && in.measure != VA_REGMEASURE_RATIO_UNIFORMITY) {
    method->SetMetricSamplingStrategy(Method::MetricSamplingStrategyEnum::REGULAR);
    method->SetMetricSamplingPercentage(std::max(0.02, std::min(1.0, 200000.0 / voxels)));
    method->MetricSamplingReinitializeSeed(20211);
  }

  using Optimizer = itk::RegularStepGradientDescentOptimizerv4<double>;
  auto optimizer = Optimizer::New();
  const double minSpacing = std::min({in.target->sx, in.target->sy, in.target->sz});
  const double maxSpacing = std::max({in.target->sx, in.target->sy, in.target->sz});
  optimizer->SetLearningRate(std::max(1.0, 0.5 * in.shrink) * maxSpacing);
  optimizer->SetMinimumStepLength(0.0005 * minSpacing);
  optimizer->SetRelaxationFactor(0.8);
  optimizer->SetGradientMagnitudeTolerance(1e-12);
  optimizer->SetNumberOfIterations(std::max(1, in.iterations));
  optimizer->SetReturnBestParametersAndValue(true);
  using Scales = itk::RegistrationParameterScalesFromPhysicalShift<MetricBase>;
  auto scales = Scales::New();
  scales->SetMetric(metric);
  optimizer->SetScalesEstimator(scales);
  optimizer->SetDoEstimateLearningRateOnce(false);
  optimizer->SetDoEstimateLearningRateAtEachIteration(false);
  if (!weights.empty()) {
    Optimizer::ScalesType w(weights.size());
    for (size_t i = 0; i < weights.size(); ++i) w[i] = weights[i];
    optimizer->SetWeights(w);
  }
  method->SetOptimizer(optimizer);

  auto watcher = Watcher::New();
  watcher->progress = progress;
  watcher->total = int64_t(factors.size()) * std::max(1, in.iterations);
  optimizer->AddObserver(itk::IterationEvent(), watcher);

  try {
    method->Update();
  } catch (const itk::ExceptionObject& e) {
    *error = CString(e.GetDescription());
    return false;
  }
  if (watcher->stopped) {
    error->Empty();
    return false;
  }
  // The whole map: the initial map after the optimised transform.
  const AfAffine opt = mapOf(method->GetModifiableTransform());
  *map = opt.then(*map);
  return true;
}

}  // namespace

bool afFineTune(const AfFineInput& in, AfAffine* map, CString* error, const std::function<bool(int)>& progress) {
  twk::itkv::capThreads();
  itk::Point<double, 3> centre;
  for (int k = 0; k < 3; ++k) centre[k] = in.centre[k];
  switch (in.transformType) {
    case 0: {
      using T = itk::TranslationTransform<double, 3>;
      auto t = T::New();
      t->SetIdentity();
      std::vector<double> w;
      if (in.singleSlice) w = {1, 1, 0};
      return run<T>(in, t, w, map, error, progress);
    }
    case 1: {
      using T = itk::Euler3DTransform<double>;
      auto t = T::New();
      t->SetIdentity();
      t->SetCenter(centre);
      std::vector<double> w;
      if (in.singleSlice) w = {0, 0, 1, 1, 1, 0};
      return run<T>(in, t, w, map, error, progress);
    }
    default: {
      using T = itk::ScaleSkewVersor3DTransform<double>;
      auto t = T::New();
      t->SetIdentity();
      t->SetCenter(centre);
      std::vector<double> w;
      // versor (3), translation (3), scale (3), skew (6: xy, xz, yx, yz, zx, zy)
      if (in.singleSlice) w = {0, 0, 1, 1, 1, 0, 1, 1, 0, 1, 0, 1, 0, 0, 0};
      return run<T>(in, t, w, map, error, progress);
    }
  }
}

}  // namespace twk::af
