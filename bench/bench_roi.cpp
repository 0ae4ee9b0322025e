// ROI algorithms against scipy in the same run: 26-connected components of a 512^3 mask
// (scipy.ndimage.label) and the surface distance map of a 256^3 mask
// (scipy.ndimage.distance_transform_edt on the same anisotropic spacing). scipy's time is
// measured by Debian's Python on the same mask and reported as the counter scipy_s; peak_MB is
// the process's peak resident memory after the run.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "TwkMem.h"
#include "roi/RoiComponents.h"
#include "roi/RoiDistance.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

// Random balls of radius 3..12 voxels filling about a fifth of an n^3 grid, as bytes (z, y, x).
std::vector<uint8_t> balls(int n, uint32_t seed) {
  std::vector<uint8_t> m(size_t(n) * n * n, 0);
  std::mt19937 rng(seed);
  const int count = n * n * n / 2500;
  for (int b = 0; b < count; ++b) {
    const int r = 3 + int(rng() % 10), cx = int(rng() % n), cy = int(rng() % n), cz = int(rng() % n);
    for (int z = std::max(0, cz - r); z <= std::min(n - 1, cz + r); ++z)
      for (int y = std::max(0, cy - r); y <= std::min(n - 1, cy + r); ++y)
        for (int x = std::max(0, cx - r); x <= std::min(n - 1, cx + r); ++x)
          if ((x - cx) * (x - cx) + (y - cy) * (y - cy) + (z - cz) * (z - cz) <= r * r) m[(size_t(z) * n + y) * n + x] = 1;
  }
  return m;
}

// Seconds scipy needs for the statement on the mask saved as a .npy file (best of three).
double scipySeconds(const std::vector<uint8_t>& mask, int n, const std::string& statement) {
  const std::string path = "/tmp/bench_roi_mask.npy";
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return -1;
    std::string header = "{'descr': '|u1', 'fortran_order': False, 'shape': (" + std::to_string(n) + ", " +
                         std::to_string(n) + ", " + std::to_string(n) + "), }";
    while ((10 + header.size() + 1) % 64) header += ' ';
    header += '\n';
    const unsigned char magic[8] = {0x93, 'N', 'U', 'M', 'P', 'Y', 1, 0};
    std::fwrite(magic, 1, 8, f);
    const uint16_t len = uint16_t(header.size());
    std::fwrite(&len, 2, 1, f);
    std::fwrite(header.data(), 1, header.size(), f);
    std::fwrite(mask.data(), 1, mask.size(), f);
    std::fclose(f);
  }
  const std::string script = "import numpy as np, time; from scipy import ndimage as ndi; m = np.load('" + path +
                             "').astype(bool); best = 1e9\nfor i in range(3):\n  t = time.perf_counter(); " +
                             statement + "; best = min(best, time.perf_counter() - t)\nprint(best)";
  FILE* p = ::popen(("/usr/bin/python3 -c \"" + script + "\"").c_str(), "r");
  double seconds = -1;
  if (p) {
    if (std::fscanf(p, "%lf", &seconds) != 1) seconds = -1;
    ::pclose(p);
  }
  std::remove(path.c_str());
  return seconds;
}

double peakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;
}

void BM_Components26_512(benchmark::State& state) {
  const int n = 512;
  const std::vector<uint8_t> mask = balls(n, 1);
  FRAME* roi = VA_CreateVol(mask.data(), 1, n, n, n, 1);
  for (auto _ : state) {
    int count = 0;
    DRECT3D* boxes = VA_RoiCCrects(roi, nullptr, 0, 26, &count);
    benchmark::DoNotOptimize(boxes);
    state.counters["components"] = count;
    pf_free(&boxes);
  }
  state.counters["peak_MB"] = peakMegabytes();
  state.counters["scipy_s"] = scipySeconds(mask, n, "ndi.label(m, structure=np.ones((3, 3, 3)))");
  PR_FrameDelete(&roi);
}
BENCHMARK(BM_Components26_512)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_LargestComponent26_512(benchmark::State& state) {
  const int n = 512;
  const std::vector<uint8_t> mask = balls(n, 1);
  FRAME* roi = VA_CreateVol(mask.data(), 1, n, n, n, 1);
  for (auto _ : state) {
    FRAME* largest = VA_RoiExtractMaxCC(roi, 0, 26, false, false);
    benchmark::DoNotOptimize(largest);
    PR_FrameDelete(&largest);
  }
  state.counters["peak_MB"] = peakMegabytes();
  PR_FrameDelete(&roi);
}
BENCHMARK(BM_LargestComponent26_512)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_WaveDistance_256(benchmark::State& state) {
  const int n = 256;
  const std::vector<uint8_t> mask = balls(n, 2);
  FRAME* roi = VA_CreateVol(mask.data(), 1, n, n, n, 1);
  const SPC spc{0.7, 0.7, 2.5};
  for (auto _ : state) {
    FRAME* d = VA_RoiWaveDistance_x100(roi, &spc, false, true, false);
    benchmark::DoNotOptimize(d);
    PR_FrameDelete(&d);
  }
  state.counters["peak_MB"] = peakMegabytes();
  state.counters["scipy_s"] = scipySeconds(mask, n, "ndi.distance_transform_edt(~m, sampling=(2.5, 0.7, 0.7))");
  PR_FrameDelete(&roi);
}
BENCHMARK(BM_WaveDistance_256)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
