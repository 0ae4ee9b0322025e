// Drawing and vector ROIs, each against a reference measured in the same run:
// - a snapped trace click (the slice's edge and gradient maps, then the snap) on a 512 x 512 slice
//   against ITK's Canny filter alone on that slice ("x_canny", aim <= 1.5; the click itself under
//   50 ms);
// - "Rasterize All Polylines" with a 500-vertex polygon on each of 300 slices of 512 x 512 against
//   reading and writing back those 300 slices of the ROI ("x_slice_io", aim <= 1.5);
// - a paint of a 512 x 512 x 300 document that holds 1,000 vector ROIs spread over the slices
//   against the same paint without them ("x_plain_paint", aim <= 1.3), stepping through the slices.

#include <benchmark/benchmark.h>

// GCC's bounds check misreads the 2D instantiation of ITK's Canny filter (a 3D index loop in
// itkSize.h, inlined); the filter itself is sound.
#pragma GCC diagnostic ignored "-Warray-bounds"
#include <itkCannyEdgeDetectionImageFilter.h>
#include <itkImage.h>

#include <QGuiApplication>
#include <QImage>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include "AppOptions.h"
#include "ViewBenchKit.h"
#include "DocDraw.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawShapes.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "TwkMem.h"
#include "VectorRaster.h"
#include "VectorRois.h"
#include "Vol.h"
#include "trace/MagTrace.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsOf(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// --- the trace click ---

constexpr int kSide = 512;

// A real 512 x 512 slice: 1000 inside a disc of radius 150 about the centre, edge blurred by sigma 1,
// noise SD 50.
std::unique_ptr<CVol> discSlice() {
  auto vol = std::make_unique<CVol>();
  vol->frame = PR_FrameCreate(FRM_REAL, 64, DIM3D{kSide, kSide, 1, 1}, true);
  auto* v = reinterpret_cast<double*>(vol->frame->data);
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0.0, 50.0);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      const double r = std::hypot(x + 0.5 - kSide / 2.0, y + 0.5 - kSide / 2.0);
      v[int64_t(y) * kSide + x] = 1000 * 0.5 * std::erfc((r - 150) / std::sqrt(2.0)) + noise(rng);
    }
  return vol;
}

VA_MAGTRACE traceParms() {
  VA_MAGTRACE p;
  p.snapRadius = 4;
  p.edge.normalization = 1.0;
  p.strength = 70.0;
  return p;
}

// ITK's Canny filter on the slice, as the trace configures it, in seconds per run.
double cannySeconds(const CVol& vol, const VA_MAGTRACE& p, int runs) {
  using Slice = itk::Image<double, 2>;
  auto image = Slice::New();
  Slice::RegionType region;
  region.SetSize(0, kSide);
  region.SetSize(1, kSide);
  image->SetRegions(region);
  image->Allocate();
  std::memcpy(image->GetBufferPointer(), vol.frame->data, sizeof(double) * kSide * kSide);
  const auto start = Clock::now();
  for (int i = 0; i < runs; ++i) {
    auto filter = itk::CannyEdgeDetectionImageFilter<Slice, Slice>::New();
    filter->SetInput(image);
    filter->SetVariance(p.edge.normalization * p.edge.normalization);
    filter->SetMaximumError(0.01);
    filter->SetUpperThreshold(p.strength);
    filter->SetLowerThreshold(p.strength / 2);
    filter->Update();
    benchmark::DoNotOptimize(filter->GetOutput()->GetBufferPointer());
  }
  return secondsOf(Clock::now() - start) / runs;
}

void BM_TraceClickOnNewSlice(benchmark::State& state) {
  const auto vol = discSlice();
  const VA_MAGTRACE p = traceParms();
  const double canny = cannySeconds(*vol, p, 10);
  const DPOINT3D seed{kSide / 2.0 + 152.5, kSide / 2.0, 0.5};
  bool snapped = true;
  const auto start = Clock::now();
  for (auto _ : state) {
    // A click on a slice whose maps are not kept yet: both maps, then the snap.
    VA_SLICEMAPS maps;
    DPOINT3D out;
    snapped = VA_SliceMapsFor(&p, vol->frame, 0, 0, &maps) &&
              VA_MagPoly(vol.get(), &p, &maps, nullptr, 0, &seed, 0, &out) && snapped;
    benchmark::DoNotOptimize(out);
    VA_FreeSliceMaps(&maps);
  }
  const double each = secondsOf(Clock::now() - start) / double(state.iterations());
  if (!snapped) state.SkipWithError("the click found no edge");
  state.counters["x_canny"] = each / canny;
  state.counters["canny_ms"] = canny * 1e3;
}
BENCHMARK(BM_TraceClickOnNewSlice)->Unit(benchmark::kMillisecond);

// --- documents for rasterising and painting ---

using namespace twk::viewbench;

// A 512 x 512 x 300 16-bit volume (and, when asked, an empty ROI layer) seen in a 1024 x 1024 view.
struct Scene {
  static constexpr int kDepth = 300;
  CDrawDoc doc;
  CDrawSet* set = nullptr;
  CVol* roi = nullptr;
  std::unique_ptr<BenchView> view;

  explicit Scene(bool withRoi) {
    ensureApp();
    TW_EditOptions().displayOrient = 0;
    const DIM3D dims{kSide, kSide, kDepth, 1};
    FRAME* signal = PR_FrameCreate(FRM_INT, 16, dims, false);
    auto* s16 = reinterpret_cast<uint16_t*>(signal->data);
    for (int64_t i = 0; i < int64_t(kSide) * kSide * kDepth; ++i) s16[i] = uint16_t((i * 2654435761u) >> 22);
    set = new CDrawSet(&doc);
    set->AppendLayer(layerOf(signal, 512, 1024, 100));
    if (withRoi) {
      CDrawVol* mask = layerOf(PR_FrameCreate(FRM_ROI, 1, dims, true), 0.5, 1, 100);
      mask->filter.roiColor = 0x0000FF;
      set->AppendLayer(mask);
      roi = set->GetLayerVol(1);
    }
    set->position = DRECT{0, 0, kSide, kSide};
    CDrawObj* obj = set;
    doc.AddObject(&obj, true);
    set->position = DRECT{0, 0, kSide, kSide};
    view = std::make_unique<BenchView>(&doc, 1024, 1024);
    set->AddViewProjection(view.get());
    view->GetProjection()->filmView = 0;
    view->ZoomAll();
  }
};

// --- "Rasterize All Polylines" ---

void BM_RasterizeAllPolylines(benchmark::State& state) {
  Scene scene(true);
  // A 500-vertex star-shaped polygon on every slice (world units = voxels here).
  const double plane[3] = {0, 0, 0};
  for (int z = 0; z < Scene::kDepth; ++z) {
    auto* poly = new CDrawPoly(1, 500, false, 0.5, true, 1, plane);
    poly->pointsPerContour[0] = 500;
    poly->slice = z;
    for (int i = 0; i < 500; ++i) {
      const double a = 2 * M_PI * i / 500, r = 180 + 40 * std::sin(7 * a + z * 0.01);
      poly->points[i] = DPOINT{kSide / 2.0 + r * std::cos(a), kSide / 2.0 + r * std::sin(a)};
    }
    CDrawObj* obj = poly;
    scene.doc.AddObject(&obj, true);
  }
  FRAME* f = scene.roi->frame;
  // Reading and writing back the same 300 slices, for the ratio.
  const int runs = 3;
  const auto ioStart = Clock::now();
  for (int r = 0; r < runs; ++r)
    for (int z = 0; z < Scene::kDepth; ++z) {
      const RECT3D slice{0, 0, z, kSide - 1, kSide - 1, z};
      auto* buffer = static_cast<uint8_t*>(VA_VolGetBox(f, 0, &slice));
      benchmark::DoNotOptimize(VA_VolSetSlice(f, 0, z, buffer, 0));
      pf_free(&buffer);
    }
  const double io = secondsOf(Clock::now() - ioStart) / runs;
  bool ok = true;
  const auto start = Clock::now();
  for (auto _ : state) ok = TW_PolylinesToRoi(&scene.doc, scene.view.get(), false, true) && ok;
  const double each = secondsOf(Clock::now() - start) / double(state.iterations());
  if (!ok) state.SkipWithError("rasterising failed");
  state.counters["x_slice_io"] = each / io;
  state.counters["slice_io_ms"] = io * 1e3;
}
BENCHMARK(BM_RasterizeAllPolylines)->Unit(benchmark::kMillisecond);

// --- painting with vector ROIs ---

// Paints the view on every slice in turn, seconds per paint.
double paintSeconds(Scene& scene, int paints) {
  VA_VOLPROJ* p = scene.view->GetProjection();
  QImage bitmap;
  const auto start = Clock::now();
  for (int i = 0; i < paints; ++i) {
    p->slice = (p->slice + 1) % Scene::kDepth;
    benchmark::DoNotOptimize(TW_RenderViewInto(scene.view.get(), &bitmap));
  }
  return secondsOf(Clock::now() - start) / paints;
}

void BM_PaintWithThousandVectorRois(benchmark::State& state) {
  Scene plain(false);
  const double without = paintSeconds(plain, 60);
  Scene scene(false);
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> at(0, kSide - 40), slice(0, Scene::kDepth - 8);
  for (int i = 0; i < 1000; ++i) {
    const double x = at(rng), y = at(rng), z = std::floor(slice(rng));
    const double box[6] = {x, y, z, x + 30, y + 20, z + 6};
    TW_CreateVectRoiFromLabel(scene.set, box, 0, 0, "b");
  }
  VA_VOLPROJ* p = scene.view->GetProjection();
  QImage bitmap;
  const auto start = Clock::now();
  for (auto _ : state) {
    p->slice = (p->slice + 1) % Scene::kDepth;
    benchmark::DoNotOptimize(TW_RenderViewInto(scene.view.get(), &bitmap));
  }
  const double each = secondsOf(Clock::now() - start) / double(state.iterations());
  state.counters["x_plain_paint"] = each / without;
  state.counters["plain_paint_ms"] = without * 1e3;
}
BENCHMARK(BM_PaintWithThousandVectorRois)->Unit(benchmark::kMillisecond);

}  // namespace
