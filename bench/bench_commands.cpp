// The voxel work of the view's commands against numpy doing the same in the same run:
//   "Scale to Interval" (minimum and maximum, then the clamped linear conversion in place) and
//   "Replace Signal Value" on a 512 x 512 x 300 volume of 16-bit voxels (aim: 3 times faster than
//   numpy, on all cores);
//   cropping a 2 GB 4D volume (512 x 512 x 64 slices x 64 time points of 16 bits) to a quarter of
//   its box, against numpy slicing and copying; the crop's peak of counted memory beyond the
//   source is reported as extra_MB (aim: the crop's own size, no further copy).
// numpy runs in /usr/bin/python3 and times only its own operation (manual time).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "TwkMem.h"
#include "Vol.h"
#include "ops/VolumeOps.h"
#include "ops/VoxelValues.h"
#include "roi/RoiStatistics.h"
#include "volume/Frame.h"

namespace {

constexpr int W = 512, H = 512, D = 300;

FRAME* volume16(int w, int h, int d, int t) {
  FRAME* f = PR_FrameCreate(FRM_INT, 16, DIM3D{w, h, d, t}, false);
  auto* v = reinterpret_cast<uint16_t*>(f->data);
  const size_t n = size_t(w) * h * d * t;
  for (size_t i = 0; i < n; ++i) v[i] = uint16_t((i * 2654435761u >> 11) & 4095);
  return f;
}

// Seconds numpy takes for the statement (after the setup), as python measures it.
double numpySeconds(const std::string& setup, const std::string& statement) {
  const std::string script = "import time, numpy as np\n" + setup + "\nt0 = time.perf_counter()\n" + statement +
                             "\nprint(time.perf_counter() - t0)\n";
  const std::string path = "/tmp/bench_commands_" + std::to_string(::getpid()) + ".py";
  if (FILE* f = std::fopen(path.c_str(), "w")) {
    std::fputs(script.c_str(), f);
    std::fclose(f);
  }
  FILE* pipe = ::popen(("/usr/bin/python3 " + path).c_str(), "r");
  if (!pipe) return -1;
  double seconds = -1;
  if (std::fscanf(pipe, "%lf", &seconds) != 1) seconds = -1;
  ::pclose(pipe);
  std::remove(path.c_str());
  return seconds;
}

const char* kNumpyVolume =
    "a = ((np.arange(512*512*300, dtype=np.uint64) * 2654435761 >> 11) & 4095).astype(np.uint16)"
    ".reshape(300, 512, 512)";

void BM_ScaleToInterval(benchmark::State& state) {
  FRAME* f = volume16(W, H, D, 1);
  for (auto _ : state) {
    double lo = 0, hi = 0;
    VA_VolMinMax(f, -1, nullptr, &lo, &hi);
    VA_LINCONV c;
    c.coefficient = (1000.0 - 10.0) / (hi - lo);
    c.bias = 1000.0 - c.coefficient * hi;
    c.lowLimit = 10.0;
    c.highLimit = 1000.0;
    VA_VolLinearConversionWithClamp(f, &c, nullptr, false);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * W * H * D * 2);
  PR_FrameDelete(&f);
}
BENCHMARK(BM_ScaleToInterval)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScaleToIntervalNumpy(benchmark::State& state) {
  for (auto _ : state) {
    const double s = numpySeconds(kNumpyVolume,
                                  "lo, hi = int(a.min()), int(a.max()); slope = 990.0 / (hi - lo)\n"
                                  "r = np.clip(a * slope + (1000 - slope * hi), 10, 1000)\n"
                                  "a[...] = np.floor(r + 0.5)");
    if (s < 0) state.SkipWithError("python3 with numpy failed");
    state.SetIterationTime(s);
  }
}
BENCHMARK(BM_ScaleToIntervalNumpy)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_ReplaceSignalValue(benchmark::State& state) {
  FRAME* f = volume16(W, H, D, 1);
  int k = 0;
  for (auto _ : state) {
    // A value that many voxels hold, replaced by another, and back on the next run.
    VA_VolReplaceValue(f, nullptr, k % 2 ? 4095.0 : 17.0, k % 2 ? 17.0 : 4095.0, false);
    ++k;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * W * H * D * 2);
  PR_FrameDelete(&f);
}
BENCHMARK(BM_ReplaceSignalValue)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReplaceSignalValueNumpy(benchmark::State& state) {
  for (auto _ : state) {
    const double s = numpySeconds(kNumpyVolume, "a[a == 17] = 4095");
    if (s < 0) state.SkipWithError("python3 with numpy failed");
    state.SetIterationTime(s);
  }
}
BENCHMARK(BM_ReplaceSignalValueNumpy)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// 512 x 512 x 64 x 64 voxels of 16 bits: 2 GiB.
void BM_Crop4D2GB(benchmark::State& state) {
  CVol vol;
  vol.frame = volume16(512, 512, 64, 64);
  vol.dyn = static_cast<DYNCRD*>(pf_calloc(64 * int64_t(sizeof(DYNCRD))));
  const RECT4D box{128, 128, 16, 383, 383, 47, 0, 63};
  const int64_t cropBytes = int64_t(256) * 256 * 32 * 64 * 2;
  double extraMB = 0;
  for (auto _ : state) {
    // The counters restart: the peak is then what the crop itself holds at most.
    PR_ResetAllocMemInfo();
    CVol* crop = vol.CloneByCrop(&box, nullptr, false, false);
    uint64_t peak = 0, largest = 0;
    PR_GetAllocMemInfo(&peak, &largest, false);
    if (!crop) state.SkipWithError("crop failed");
    extraMB = double(peak) / (1 << 20);
    delete crop;
  }
  state.counters["extra_MB"] = extraMB;
  state.counters["crop_MB"] = double(cropBytes) / (1 << 20);
}
BENCHMARK(BM_Crop4D2GB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_Crop4D2GBNumpy(benchmark::State& state) {
  for (auto _ : state) {
    const double s = numpySeconds(
        "a = np.empty((64, 64, 512, 512), dtype=np.uint16); a[...] = np.arange(512, dtype=np.uint16)",
        "c = a[:, 16:48, 128:384, 128:384].copy()");
    if (s < 0) state.SkipWithError("python3 with numpy failed");
    state.SetIterationTime(s);
  }
}
BENCHMARK(BM_Crop4D2GBNumpy)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace
