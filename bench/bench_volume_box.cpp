// Speed of reading and writing voxel boxes: a 256 x 256 x 64 x 20 volume of 16-bit integers and an
// ROI of the same size, whole time points (runs of whole slices) and inner boxes (a run per line,
// for the ROI at a bit offset that is not a byte boundary). Bytes are counted at the frame's own
// width, so the figures compare with memory bandwidth.

#include <benchmark/benchmark.h>

#include "TwkMem.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"

namespace {

const DIM3D kDims{256, 256, 64, 20};
const RECT3D kWhole{0, 0, 0, 255, 255, 63};
const RECT3D kInner{3, 2, 1, 252, 253, 62};

FRAME* volume(bool roi) {
  FRAME* f = roi ? VA_VolCreateUniform(FRM_ROI, kDims, 0.0) : VA_VolCreateUniform(FRM_INT, kDims, 0.0, 16);
  // Some content, so that no page stays untouched.
  const RECT3D box{10, 20, 0, 200, 220, 63};
  VA_VolFillBox(f, -1, &box, true, 1234.0);
  return f;
}

const RECT3D& boxOf(int64_t which) { return which == 0 ? kWhole : kInner; }

void GetBox(benchmark::State& state) {
  FRAME* f = volume(state.range(0) != 0);
  const RECT3D& box = boxOf(state.range(1));
  const int64_t bytes = VA_VolBoxBytes(f, &box, 0);
  void* buffer = pf_malloc(bytes);
  int t = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(VA_VolGetBox(f, t, &box, buffer));
    benchmark::ClobberMemory();
    t = (t + 1) % kDims.t;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
  pf_free(&buffer);
  PR_FrameDelete(&f);
}

void SetBox(benchmark::State& state) {
  FRAME* f = volume(state.range(0) != 0);
  const RECT3D& box = boxOf(state.range(1));
  void* buffer = VA_VolGetBox(f, 0, &box);
  const int64_t bytes = VA_VolBoxBytes(f, &box, 0);
  int t = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(VA_VolSetBox(f, t, &box, buffer));
    benchmark::ClobberMemory();
    t = (t + 1) % kDims.t;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
  pf_free(&buffer);
  PR_FrameDelete(&f);
}

// Arguments: {ROI (1) or 16-bit (0), whole time point (0) or inner box (1)}.
BENCHMARK(GetBox)->ArgNames({"roi", "inner"})->Args({0, 0})->Args({0, 1})->Args({1, 0})->Args({1, 1})->UseRealTime();
BENCHMARK(SetBox)->ArgNames({"roi", "inner"})->Args({0, 0})->Args({0, 1})->Args({1, 0})->Args({1, 1})->UseRealTime();

}  // namespace
