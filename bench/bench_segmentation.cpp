// Segmentation against ITK in the same run: EdgeWave on a 256^3 sphere phantom (radius 60, noise
// SD 5 %, 1-voxel blurred edge) against ITK's ConfidenceConnectedImageFilter from the same seed,
// each with its DICE against the true sphere as a counter; local Otsu of radius 5 on a 256^3
// shaded two-class volume against ITK's OtsuThresholdImageFilter on the whole volume.
#include <benchmark/benchmark.h>

#include <itkConfidenceConnectedImageFilter.h>
#include <itkImage.h>
#include <itkOtsuThresholdImageFilter.h>

#include <cmath>
#include <random>
#include <vector>

#include "TwkMem.h"
#include "roi/EdgeWave.h"
#include "roi/EdgeWaveLive.h"
#include "roi/Thresholds.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

constexpr int kN = 256;
constexpr double kRadius = 60, kCentre = 128;

bool inSphere(int x, int y, int z) {
  return (x - kCentre) * (x - kCentre) + (y - kCentre) * (y - kCentre) + (z - kCentre) * (z - kCentre) <=
         kRadius * kRadius;
}

// The phantom as floats (z, y, x): 100 inside, 0 outside; the edge blurred over one voxel by a
// linear ramp of the distance to the surface; Gaussian noise of SD 5.
const std::vector<float>& phantom() {
  static std::vector<float> v = [] {
    std::vector<float> out(size_t(kN) * kN * kN);
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0.f, 5.f);
    for (int z = 0; z < kN; ++z)
      for (int y = 0; y < kN; ++y)
        for (int x = 0; x < kN; ++x) {
          const double r = std::sqrt((x - kCentre) * (x - kCentre) + (y - kCentre) * (y - kCentre) +
                                     (z - kCentre) * (z - kCentre));
          const double inside = std::clamp(kRadius + 0.5 - r, 0.0, 1.0);
          out[(size_t(z) * kN + y) * kN + x] = float(100.0 * inside) + noise(rng);
        }
    return out;
  }();
  return v;
}

template <class Inside>
double dice(Inside inside) {
  int64_t a = 0, b = 0, both = 0;
  for (int z = 0; z < kN; ++z)
    for (int y = 0; y < kN; ++y)
      for (int x = 0; x < kN; ++x) {
        const bool r = inside(x, y, z), t = inSphere(x, y, z);
        a += r;
        b += t;
        both += r && t;
      }
  return 2.0 * double(both) / double(a + b);
}

void BM_EdgeWaveSphere256(benchmark::State& state) {
  std::vector<double> values(phantom().begin(), phantom().end());
  FRAME* frame = VA_CreateVol(values.data(), 64, kN, kN, kN, 1);
  values.clear();
  values.shrink_to_fit();
  const DRECT3D seed{124, 124, 124, 132, 132, 132};
  const SPC spc{1, 1, 1};
  VA_EW record;  // the command's start values: relative 0.528 .. 1.35, peel 2.9, grow 6.4 mm
  FRAME* roi = nullptr;
  for (auto _ : state) {
    PR_FrameDelete(&roi);
    roi = VA_EdgeWave(&record, frame, &spc, &seed, 1, nullptr, nullptr, false);
  }
  state.counters["dice"] = roi ? dice([&](int x, int y, int z) { return twk::roiBit(roi, x, y, z, 0); }) : 0.0;
  PR_FrameDelete(&roi);
  PR_FrameDelete(&frame);
}
BENCHMARK(BM_EdgeWaveSphere256)->Unit(benchmark::kMillisecond)->Iterations(2)->MeasureProcessCPUTime();

void BM_ItkConfidenceConnectedSphere256(benchmark::State& state) {
  using Image = itk::Image<float, 3>;
  auto image = Image::New();
  Image::RegionType region;
  region.SetSize({kN, kN, kN});
  image->SetRegions(region);
  image->Allocate();
  std::copy(phantom().begin(), phantom().end(), image->GetBufferPointer());
  using Filter = itk::ConfidenceConnectedImageFilter<Image, itk::Image<uint8_t, 3>>;
  Filter::Pointer filter;
  for (auto _ : state) {
    filter = Filter::New();
    filter->SetInput(image);
    filter->SetSeed({{128, 128, 128}});
    filter->SetMultiplier(2.5);
    filter->SetNumberOfIterations(3);
    filter->SetInitialNeighborhoodRadius(4);
    filter->SetReplaceValue(1);
    filter->Update();
  }
  const uint8_t* out = filter->GetOutput()->GetBufferPointer();
  state.counters["dice"] = dice([&](int x, int y, int z) { return out[(size_t(z) * kN + y) * kN + x] != 0; });
}
BENCHMARK(BM_ItkConfidenceConnectedSphere256)->Unit(benchmark::kMillisecond)->Iterations(2)->MeasureProcessCPUTime();

// Two classes (80 and 160) in blocks of 32 voxels, shaded by 60 across x, noise SD 5.
const std::vector<double>& shaded() {
  static std::vector<double> v = [] {
    std::vector<double> out(size_t(kN) * kN * kN);
    std::mt19937 rng(9);
    std::normal_distribution<double> noise(0.0, 5.0);
    for (int z = 0; z < kN; ++z)
      for (int y = 0; y < kN; ++y)
        for (int x = 0; x < kN; ++x)
          out[(size_t(z) * kN + y) * kN + x] = (((x / 32 + y / 32 + z / 32) & 1) ? 160.0 : 80.0) + 60.0 * x / kN +
                                               noise(rng);
    return out;
  }();
  return v;
}

void BM_LocalOtsuRadius5_256(benchmark::State& state) {
  FRAME* frame = VA_CreateVol(shaded().data(), 64, kN, kN, kN, 1);
  VA_ADAPTIVETHR record;
  record.radius = 5.0;
  for (auto _ : state) {
    FRAME* roi = VA_LocalOtzuThresholdToROI(&record, frame, nullptr, 0, false);
    benchmark::DoNotOptimize(roi);
    PR_FrameDelete(&roi);
  }
  PR_FrameDelete(&frame);
}
BENCHMARK(BM_LocalOtsuRadius5_256)->Unit(benchmark::kMillisecond)->Iterations(2)->MeasureProcessCPUTime();

void BM_ItkOtsuWhole256(benchmark::State& state) {
  using Image = itk::Image<double, 3>;
  auto image = Image::New();
  Image::RegionType region;
  region.SetSize({kN, kN, kN});
  image->SetRegions(region);
  image->Allocate();
  std::copy(shaded().begin(), shaded().end(), image->GetBufferPointer());
  for (auto _ : state) {
    auto filter = itk::OtsuThresholdImageFilter<Image, itk::Image<uint8_t, 3>>::New();
    filter->SetInput(image);
    filter->Update();
    benchmark::DoNotOptimize(filter->GetOutput()->GetBufferPointer());
  }
}
BENCHMARK(BM_ItkOtsuWhole256)->Unit(benchmark::kMillisecond)->Iterations(2)->MeasureProcessCPUTime();

}  // namespace

namespace {

// The live range of the start record (30 peel steps x 30 edge steps: 870 growings) on a 64^3 crop:
// a sphere of radius 20 (100) in a blanket sphere of radius 30 (20), noise SD 5, one shared edge map
// and value cache, as the EdgeWave Live dialog runs it.
void BM_EdgeWaveLiveRange64(benchmark::State& state) {
  constexpr int n = 64;
  std::vector<double> v(size_t(n) * n * n);
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0.0, 5.0);
  FRAME* blanket = PR_FrameCreate(FRM_ROI, 1, DIM3D{n, n, n, 1}, true);
  for (int z = 0; z < n; ++z)
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        const double r2 = (x - 32.0) * (x - 32.0) + (y - 32.0) * (y - 32.0) + (z - 32.0) * (z - 32.0);
        v[(size_t(z) * n + y) * n + x] = (r2 <= 400 ? 100.0 : r2 <= 900 ? 20.0 : 0.0) + noise(rng);
        if (r2 <= 900) twk::setRoiBit(blanket, x, y, z, 0, true);
      }
  FRAME* frame = VA_CreateVol(v.data(), 64, n, n, n, 1);
  VA_EWL record;
  record.correctNonuniformity = 0;
  double maximum = 0;
  double* edges = VA_EdgeStrengthMap(&record.edge, frame, 0, blanket, &maximum, false);
  const DRECT3D seed{30, 30, 30, 34, 34, 34};
  const SPC spc{1, 1, 1};
  const DIM3D dims{n, n, n, 1};
  VA_EWLCACHE cache;
  int64_t results = 0;
  for (auto _ : state) {
    const double peelStep = record.peelRange / (record.peelSteps - 1);
    const double edgeStep = (maximum + 1e-100) / (record.edgeSteps - 1);
    for (int i = 1; i < record.peelSteps; ++i)
      for (int j = 0; j < record.edgeSteps; ++j) {
        record.peel = std::floor(i * peelStep / 0.01 + 0.5) * 0.01;
        record.edge.edgeThreshold = std::floor(j * edgeStep / 0.01 + 0.5) * 0.01;
        FRAME* roi = VA_EdgeWaveLive(&record, 0, &seed, frame, &dims, &spc, blanket, &cache, edges, false);
        results += roi != nullptr;
        PR_FrameDelete(&roi);
      }
  }
  state.counters["growings"] = double(results);
  VA_EWLCacheFree(&cache);
  pf_free(&edges);
  PR_FrameDelete(&frame);
  PR_FrameDelete(&blanket);
}

}  // namespace
BENCHMARK(BM_EdgeWaveLiveRange64)->Unit(benchmark::kMillisecond)->Iterations(1);
