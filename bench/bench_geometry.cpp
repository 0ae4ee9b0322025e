// Geometry and 4D maps against numpy/scipy in the same run: rotating a 256^3 real volume by 10
// degrees about each axis with linear interpolation (scipy.ndimage.affine_transform, order 1, on
// the same matrix) and the dynamic average of a 256 x 256 x 64 x 40 16-bit series (numpy.mean over
// time). The Python side's time (best of three, Debian's own Python) is the counter py_s; peak_MB
// is the process's peak resident memory after the run.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "TwkMem.h"
#include "geometry/Dynamic4D.h"
#include "geometry/Geometry.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

double peakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;
}

// Seconds Python needs for the timed statement after the setup (best of three).
double pythonSeconds(const std::string& setup, const std::string& statement) {
  const std::string path = "/tmp/bench_geometry.py";
  if (FILE* f = std::fopen(path.c_str(), "w")) {
    std::fprintf(f,
                 "import time\nimport numpy as np\nfrom scipy import ndimage as ndi\n%s\nbest = 1e9\n"
                 "for i in range(3):\n    t = time.perf_counter()\n    %s\n    best = min(best, time.perf_counter() - t)\n"
                 "print(best)\n",
                 setup.c_str(), statement.c_str());
    std::fclose(f);
  }
  FILE* p = ::popen(("/usr/bin/python3 " + path).c_str(), "r");
  double seconds = -1;
  if (p) {
    if (std::fscanf(p, "%lf", &seconds) != 1) seconds = -1;
    ::pclose(p);
  }
  std::remove(path.c_str());
  return seconds;
}

// A smooth test volume (the same formula on both sides).
double smooth(int x, int y, int z) { return 1000 + 400 * std::sin(0.05 * x) * std::cos(0.07 * y) + 3.0 * z; }

void BM_Rotate256Linear(benchmark::State& state) {
  const int n = 256;
  FRAME* f = PR_FrameCreate(FRM_REAL, 64, DIM3D{n, n, n, 1}, false);
  for (int z = 0; z < n; ++z)
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) twk::setVoxelValue(f, x, y, z, 0, smooth(x, y, z));
  const SPC spc{1, 1, 1};
  double m[16];
  for (auto _ : state) {
    FRAME* out = VA_VolRotation(f, &spc, nullptr, &spc, 10, 10, 10, true, false, VA_INTERP_LINEAR, false, 50, m, false);
    benchmark::DoNotOptimize(out);
    PR_FrameDelete(&out);
  }
  state.counters["peak_MB"] = peakMegabytes();
  // numpy holds the volume as [z, y, x]: the matrix with its axes reversed.
  char matrix[512];
  std::snprintf(matrix, sizeof matrix,
                "M = np.array([[%.17g, %.17g, %.17g], [%.17g, %.17g, %.17g], [%.17g, %.17g, %.17g]]); "
                "o = np.array([%.17g, %.17g, %.17g])",
                m[10], m[9], m[8], m[6], m[5], m[4], m[2], m[1], m[0], m[11], m[7], m[3]);
  state.counters["py_s"] = pythonSeconds(
      "z, y, x = np.mgrid[0:256, 0:256, 0:256].astype(np.float64)\n"
      "v = 1000 + 400 * np.sin(0.05 * x) * np.cos(0.07 * y) + 3.0 * z\ndel z, y, x\n" + std::string(matrix),
      "ndi.affine_transform(v, M, offset=o, order=1)");
  PR_FrameDelete(&f);
}
BENCHMARK(BM_Rotate256Linear)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_DynamicAverage256x256x64x40(benchmark::State& state) {
  const DIM3D d{256, 256, 64, 40};
  FRAME* f = PR_FrameCreate(FRM_INT, 16, d, false);
  auto* v = reinterpret_cast<uint16_t*>(f->data);
  const int64_t total = int64_t(d.w) * d.h * d.d * d.t;
  for (int64_t i = 0; i < total; ++i) v[i] = uint16_t((i * 2654435761u) >> 20 & 0xFFF);
  for (auto _ : state) {
    FRAME* out = VA_VolDynamicAverage(f, 0, d.t - 1, false);
    benchmark::DoNotOptimize(out);
    PR_FrameDelete(&out);
  }
  state.counters["peak_MB"] = peakMegabytes();
  state.counters["py_s"] = pythonSeconds(
      "v = ((np.arange(256 * 256 * 64 * 40, dtype=np.uint64) * 2654435761 >> 20) & 0xFFF).astype(np.uint16)"
      ".reshape(40, 64, 256, 256)",
      "v.mean(axis=0)");
  PR_FrameDelete(&f);
}
BENCHMARK(BM_DynamicAverage256x256x64x40)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
