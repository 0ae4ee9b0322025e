// Display speed: painting a 512 x 512 slice with two overlay layers (a parametric map at half
// opacity and an ROI) into a 1024 x 1024 view, repainted from the render caches and from scratch,
// and stepping through the slices of a 512 x 512 x 300 volume, into a bitmap kept between paints as
// the view keeps it; and 100 window/level drag steps, each with its repaint, against 100 fresh
// paints of the first scene ("x_fresh_paint" of a step, aim <= 1.1). Frames per second are reported as
// the "fps" counter (one thread: run with TBB limited to one worker for the single-core figure).

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "AppOptions.h"
#include "ViewBenchKit.h"
#include "DocDraw.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "TwkMem.h"
#include "ViewInput.h"
#include "Vol.h"
#include "volume/Frame.h"

namespace {

using namespace twk::viewbench;

// A document of a w x h x d signal volume, a real map and an ROI, seen in a 1024 x 1024 view.
struct Scene {
  CDrawDoc doc;
  CDrawSet* set = nullptr;
  std::unique_ptr<BenchView> view;

  explicit Scene(int depth) {
    ensureApp();
    TW_EditOptions().displayOrient = 0;
    const DIM3D dims{512, 512, depth, 1};
    FRAME* signal = PR_FrameCreate(FRM_INT, 16, dims, false);
    auto* s16 = reinterpret_cast<uint16_t*>(signal->data);
    for (int64_t i = 0; i < int64_t(512) * 512 * depth; ++i) s16[i] = uint16_t((i * 2654435761u) >> 22);
    FRAME* map = PR_FrameCreate(FRM_REAL, 64, dims, false);
    auto* m = reinterpret_cast<double*>(map->data);
    for (int64_t i = 0; i < int64_t(512) * 512 * depth; ++i) m[i] = double(i % 512) / 512.0;
    FRAME* roi = PR_FrameCreate(FRM_ROI, 1, dims, true);
    for (int64_t i = 0; i < roi->lineBytes * 512 * depth; i += 3) roi->data[i] = 0xF0;
    set = new CDrawSet(&doc);
    set->AppendLayer(layerOf(signal, 512, 1024, 100));
    CDrawVol* overlay = layerOf(map, 0.5, 1, 50);
    overlay->filter.scheme = 3;
    set->AppendLayer(overlay);
    CDrawVol* mask = layerOf(roi, 0.5, 1, 20);
    mask->filter.roiColor = 0x0000FF;
    set->AppendLayer(mask);
    set->position = DRECT{0, 0, 512, 512};
    CDrawObj* obj = set;
    doc.AddObject(&obj, true);
    set->position = DRECT{0, 0, 512, 512};
    view = std::make_unique<BenchView>(&doc, 1024, 1024);
    set->AddViewProjection(view.get());
    view->GetProjection()->filmView = 0;
    view->ZoomAll();
  }
};

void BM_PaintSliceTwoOverlaysCached(benchmark::State& state) {
  Scene scene(1);
  QImage bitmap;
  for (auto _ : state) benchmark::DoNotOptimize(TW_RenderViewInto(scene.view.get(), &bitmap));
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PaintSliceTwoOverlaysCached)->Unit(benchmark::kMillisecond);

void BM_PaintSliceTwoOverlaysFresh(benchmark::State& state) {
  Scene scene(1);
  TW_EditOptions().interpVols = TW_EditOptions().interpPmaps = uint8_t(state.range(0));
  QImage bitmap;
  for (auto _ : state) {
    scene.set->FreeAllViewCaches();
    benchmark::DoNotOptimize(TW_RenderViewInto(scene.view.get(), &bitmap));
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PaintSliceTwoOverlaysFresh)->Arg(0)->Arg(1)->ArgName("interpolated")->Unit(benchmark::kMillisecond);

void BM_StepThroughSlices(benchmark::State& state) {
  Scene scene(300);
  TW_EditOptions().interpVols = TW_EditOptions().interpPmaps = uint8_t(state.range(0));
  VA_VOLPROJ* p = scene.view->GetProjection();
  QImage bitmap;
  for (auto _ : state) {
    p->slice = (p->slice + 1) % 300;
    benchmark::DoNotOptimize(TW_RenderViewInto(scene.view.get(), &bitmap));
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StepThroughSlices)->Arg(0)->Arg(1)->ArgName("interpolated")->Unit(benchmark::kMillisecond);

void BM_WindowLevelStepsWithRepaint(benchmark::State& state) {
  Scene scene(1);
  QImage bitmap;
  CDrawVol* layer = scene.set->GetLayer(0);
  // The fresh paints of the same run, for the ratio.
  const int fresh = 20;
  const auto freshStart = std::chrono::steady_clock::now();
  for (int i = 0; i < fresh; ++i) {
    scene.set->FreeAllViewCaches();
    benchmark::DoNotOptimize(TW_RenderViewInto(scene.view.get(), &bitmap));
  }
  const double freshPaint =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - freshStart).count() / fresh;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state)
    for (int step = 0; step < 100; ++step) {
      TW_WindowLevelDrag(layer, step % 2 ? -1 : 1, 0);
      benchmark::DoNotOptimize(TW_RenderViewInto(scene.view.get(), &bitmap));
    }
  const double each =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / double(state.iterations()) / 100;
  state.counters["x_fresh_paint"] = each / freshPaint;
}
BENCHMARK(BM_WindowLevelStepsWithRepaint)->Unit(benchmark::kMillisecond);

}  // namespace
