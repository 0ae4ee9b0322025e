// View interaction: one brush segment (radius 10, a ball, its undo record included) on a
// 512 x 512 x 300 16-bit volume and on a 256 x 256 x 40 x 60 ROI with all time points, each
// against an undo record of the whole frame measured in the same run ("x_faster", aim >= 100;
// "record_bytes" against "box_bytes", the voxels of the segment's box); and the window of an ROI
// ("Optimal for current ROI") on a 128 x 128 x 30 x 50 real volume against the full-range window
// of the same time point ("x_slower", aim <= 1.5), taking no copy of the volume
// ("largest_block_bytes", the largest counted block it allocates).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>

#include "TwkMem.h"
#include "UndoRec.h"
#include "docsupport/DocSupport.h"
#include "render/ProjectionGeometry.h"
#include "volops/Brush.h"
#include "volume/Frame.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsOf(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The mean time of a whole-frame undo record of the frame.
double wholeFrameRecordSeconds(FRAME* f) {
  const int runs = 3;
  const auto start = Clock::now();
  for (int i = 0; i < runs; ++i) {
    UNDOREC* r = VA_CompleteUndoRec(nullptr, f);
    benchmark::DoNotOptimize(r);
    delete r;
  }
  return secondsOf(Clock::now() - start) / runs;
}

void BrushSegment(benchmark::State& state) {
  const bool roi = state.range(0) != 0;
  const DIM3D dims = roi ? DIM3D{256, 256, 40, 60} : DIM3D{512, 512, 300, 1};
  FRAME* f = roi ? VA_VolCreateUniform(FRM_ROI, dims, 0.0) : VA_VolCreateUniform(FRM_INT, dims, 100.0, 16);
  const SPC spc;
  VA_VOLPROJ proj;
  VA_InitVOLPROJ(&proj);
  BRUSHPARMS parms;
  parms.radius = 10;
  parms.allTimepoints = 1;
  const double cx = dims.w / 2.0, cy = dims.h / 2.0, cz = dims.d / 2.0;
  const VA_BRUSHPOINT anchor{cx, cy, cz, 0}, current{cx + 14.3, cy + 6.1, cz, 0};
  const double whole = wholeFrameRecordSeconds(f);
  RECT4D box;
  VA_BrushSegmentBox(f, &spc, &parms, &proj, &anchor, &current, VA_BRUSH_SPHERE, &box);
  const double boxBytes = double((box.x1 - box.x0 + 1) * (roi ? 1.0 / 8 : 2.0)) * (box.y1 - box.y0 + 1) *
                          (box.z1 - box.z0 + 1) * (box.t1 - box.t0 + 1);
  double recordBytes = 0;
  bool paint = true;
  const auto start = Clock::now();
  for (auto _ : state) {
    UNDOREC* undo = nullptr;
    benchmark::DoNotOptimize(VA_ApplyBrush(f, &spc, &parms, &proj, &anchor, &current, paint, VA_BRUSH_SPHERE, &undo));
    recordBytes = undo ? double(undo->MemSize()) : 0;
    delete undo;
    paint = !paint;
  }
  const double each = secondsOf(Clock::now() - start) / double(state.iterations());
  state.counters["x_faster"] = whole / each;
  state.counters["record_bytes"] = recordBytes;
  state.counters["box_bytes"] = boxBytes;
  PR_FrameDelete(&f);
}
BENCHMARK(BrushSegment)->Arg(0)->Arg(1)->ArgName("roi_all_timepoints")->Unit(benchmark::kMicrosecond);

void WholeFrameUndoRecord(benchmark::State& state) {
  const bool roi = state.range(0) != 0;
  FRAME* f = roi ? VA_VolCreateUniform(FRM_ROI, DIM3D{256, 256, 40, 60}, 0.0)
                 : VA_VolCreateUniform(FRM_INT, DIM3D{512, 512, 300, 1}, 100.0, 16);
  for (auto _ : state) {
    UNDOREC* r = VA_CompleteUndoRec(nullptr, f);
    benchmark::DoNotOptimize(r);
    delete r;
  }
  PR_FrameDelete(&f);
}
BENCHMARK(WholeFrameUndoRecord)->Arg(0)->Arg(1)->ArgName("roi_all_timepoints")->Unit(benchmark::kMillisecond);

struct RoiScene {
  FRAME* signal = nullptr;
  FRAME* roi = nullptr;
  RoiScene() {
    const DIM3D dims{128, 128, 30, 50};
    signal = PR_FrameCreate(FRM_REAL, 64, dims, false);
    auto* v = reinterpret_cast<double*>(signal->data);
    for (int64_t i = 0; i < int64_t(128) * 128 * 30 * 50; ++i) v[i] = std::sin(double(i) * 1e-3) * 1000.0;
    roi = PR_FrameCreate(FRM_ROI, 1, DIM3D{128, 128, 30, 1}, true);
    // An ellipsoid of about a fifth of the volume.
    for (int z = 0; z < 30; ++z)
      for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) {
          const double dx = (x - 64) / 50.0, dy = (y - 60) / 40.0, dz = (z - 15) / 12.0;
          if (dx * dx + dy * dy + dz * dz <= 1) roi->data[(z * 128 + y) * roi->lineBytes + x / 8] |= uint8_t(0x80 >> (x % 8));
        }
  }
  ~RoiScene() {
    PR_FrameDelete(&signal);
    PR_FrameDelete(&roi);
  }
};

void OptimalWindowWholeTimePoint(benchmark::State& state) {
  RoiScene scene;
  PR_VIEWFILT filter;
  for (auto _ : state) benchmark::DoNotOptimize(VA_OptimalIntensWindow(0, scene.signal, 25, &filter, false));
}
BENCHMARK(OptimalWindowWholeTimePoint)->Unit(benchmark::kMicrosecond);

void OptimalWindowInRoi(benchmark::State& state) {
  RoiScene scene;
  PR_VIEWFILT filter;
  // The whole-time-point window of the same run, for the ratio.
  const int runs = 20;
  const auto wholeStart = Clock::now();
  for (int i = 0; i < runs; ++i) benchmark::DoNotOptimize(VA_OptimalIntensWindow(0, scene.signal, 25, &filter, false));
  const double whole = secondsOf(Clock::now() - wholeStart) / runs;
  PR_ResetAllocMemInfo();
  const auto start = Clock::now();
  for (auto _ : state)
    benchmark::DoNotOptimize(VA_OptimalIntensWindowInMask(0, scene.signal, 25, scene.roi, &filter, false));
  const double each = secondsOf(Clock::now() - start) / double(state.iterations());
  uint64_t peak = 0, largest = 0;
  PR_GetAllocMemInfo(&peak, &largest, false);
  state.counters["x_slower"] = each / whole;
  state.counters["largest_block_bytes"] = double(largest);
}
BENCHMARK(OptimalWindowInRoi)->Unit(benchmark::kMicrosecond);

}  // namespace
