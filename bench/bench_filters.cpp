// Filters of the imaging core: N4 of a 256^3 volume with a known field (shrink 4, 4 levels),
// non-local means of 128 x 128 x 64 (patch radius 2, search radius 5) against scikit-image's fast
// denoise_nl_means on the same volume (its time as the counter skimage_s, measured by Debian's
// Python), and the 2D radiomics of a 100 x 100 ROI against scikit-image's GLCM part (the counter
// skimage_s). peak_MB is the process's peak resident memory after the run.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "CString.h"
#include "TwkMem.h"
#include "Vol.h"
#include "filters/BiasField.h"
#include "filters/Denoise.h"
#include "filters/Radiomics.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

double peakMegabytes() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_maxrss) / 1024.0;
}

// Seconds of a Python statement (best of three) after the setup, run by Debian's Python.
double pythonSeconds(const std::string& setup, const std::string& statement) {
  const std::string script = "import timeit, numpy as np\n" + setup + "\nprint(min(timeit.repeat(lambda: " + statement +
                             ", number=1, repeat=3)))\n";
  const std::string path = "/tmp/bench_filters.py";
  if (FILE* f = std::fopen(path.c_str(), "w")) {
    std::fputs(script.c_str(), f);
    std::fclose(f);
  }
  FILE* p = ::popen(("/usr/bin/python3 " + path).c_str(), "r");
  if (!p) return -1;
  double s = -1;
  if (std::fscanf(p, "%lf", &s) != 1) s = -1;
  ::pclose(p);
  return s;
}

// A volume of w x h x d doubles from value(x, y, z), saved as raw doubles (z, y, x) when a path is given.
FRAME* volume(int w, int h, int d, double (*value)(int, int, int, std::mt19937&), const char* raw) {
  std::mt19937 rng(1);
  FRAME* f = PR_FrameCreate(FRM_REAL, 64, DIM3D{w, h, d, 1}, false);
  double* p = reinterpret_cast<double*>(f->data);
  for (int z = 0; z < d; ++z)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) *p++ = value(x, y, z, rng);
  if (raw)
    if (FILE* out = std::fopen(raw, "wb")) {
      std::fwrite(f->data, 8, size_t(w) * h * d, out);
      std::fclose(out);
    }
  return f;
}

void BM_N4_256(benchmark::State& state) {
  FRAME* f = volume(256, 256, 256, [](int x, int y, int z, std::mt19937& rng) {
    const double r2 = (x - 128.0) * (x - 128) + (y - 128.0) * (y - 128) + (z - 128.0) * (z - 128);
    const double tissue = r2 < 60 * 60 ? 300 : r2 < 115 * 115 ? 100 : 0;
    return tissue ? tissue * (1 + 0.3 * std::sin(M_PI * (x - 128) / 255)) + std::normal_distribution<double>(0, 3)(rng)
                  : 0.0;
  }, nullptr);
  VA_N4PARAM record;
  record.airThreshold = 10;
  for (auto _ : state) {
    FRAME* r = VA_N4BiasCorrection(&record, f, nullptr, 0, nullptr, nullptr, false);
    benchmark::DoNotOptimize(r);
    PR_FrameDelete(&r);
  }
  state.counters["peak_MB"] = peakMegabytes();
  state.counters["input_MB"] = 256.0 * 256 * 256 * 8 / 1048576;
  PR_FrameDelete(&f);
}
BENCHMARK(BM_N4_256)->Unit(benchmark::kSecond)->Iterations(1);

void BM_NLM_128x128x64(benchmark::State& state) {
  FRAME* f = volume(128, 128, 64, [](int x, int y, int, std::mt19937& rng) {
    return ((x - 64) * (x - 64) + (y - 64) * (y - 64) < 40 * 40 ? 160.0 : 60.0) +
           std::normal_distribution<double>(0, 10)(rng);
  }, "/tmp/bench_nlm.raw");
  const VA_NLMDENOISE record{1, 2, 5, 10.0, 0.8};
  for (auto _ : state) {
    FRAME* r = VA_VolDenoiseNLM(&record, f, nullptr, -1, false);
    benchmark::DoNotOptimize(r);
    PR_FrameDelete(&r);
  }
  state.counters["skimage_s"] = pythonSeconds(
      "from skimage.restoration import denoise_nl_means\nv = np.fromfile('/tmp/bench_nlm.raw').reshape(64, 128, 128)",
      "denoise_nl_means(v, patch_size=5, patch_distance=5, h=8.0, sigma=10.0, fast_mode=True)");
  state.counters["peak_MB"] = peakMegabytes();
  PR_FrameDelete(&f);
}
BENCHMARK(BM_NLM_128x128x64)->Unit(benchmark::kSecond)->Iterations(1);

void BM_Radiomics_100x100(benchmark::State& state) {
  FRAME* f = volume(100, 100, 1, [](int x, int y, int, std::mt19937& rng) {
    return 100 + 50 * std::sin(x / 7.0) * std::cos(y / 5.0) + std::normal_distribution<double>(0, 5)(rng);
  }, "/tmp/bench_radiomics.raw");
  CVol vol;
  vol.frame = f;
  VA_PARM_RADIOM2D record;
  record.discretisation.rangeLow = 0;
  record.discretisation.rangeHigh = 200;
  record.discretisation.binWidth = 6.25;  // 32 levels
  // The GLCM part alone, as scikit-image computes it (distance 1, four directions, symmetric).
  record.firstOrder = record.glrlm = record.gldm = 0;
  record.weights = 0;
  for (auto _ : state) {
    CString text;
    benchmark::DoNotOptimize(VA_VolumeRadiomics2D(&record, nullptr, &vol, 0, nullptr, 0, &text, false));
  }
  state.counters["skimage_s"] = pythonSeconds(
      "from skimage.feature import graycomatrix, graycoprops\n"
      "v = np.clip(np.floor(np.fromfile('/tmp/bench_radiomics.raw').reshape(100, 100) / 6.25), 0, 31).astype(np.uint8)",
      "[graycoprops(graycomatrix(v, [1], [0, np.pi/4, np.pi/2, 3*np.pi/4], levels=32, symmetric=True), p) for p in "
      "('contrast', 'dissimilarity', 'homogeneity', 'ASM', 'correlation')]");
}
BENCHMARK(BM_Radiomics_100x100)->Unit(benchmark::kMillisecond);

}  // namespace
