// Curves per second of the kinetic-model plug-in for the basic measurements (type 0) and the area
// under the curve (type 1): one thread, and all cores through a parallel loop as a map run does.

#include <benchmark/benchmark.h>
#include <tbb/parallel_for.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "KinmodelsApi.h"

namespace {

constexpr int kPoints = 60;
constexpr int kCurves = 4096;

void identity(const double* in, int64_t n, double* out, int64_t, void*) { std::memcpy(out, in, size_t(n) * sizeof(double)); }

struct MapRun {
  int type;
  int outputs;
  std::vector<std::vector<double>> curves;
  std::vector<DEMPOUT> records;

  explicit MapRun(int modelType) : type(modelType) {
    std::vector<double> times(kPoints);
    for (int i = 0; i < kPoints; ++i) times[i] = 2.5 * i;
    DIDU_DefineTimeProfile(times.data(), kPoints);
    DIDU_SetTissue_SigToConc(identity);
    outputs = DIDU_GetNumOutParms(type);
    const std::vector<int> flags(12, 1);
    DIDU_SetParmReq(flags.data(), outputs);
    DIDU_ModelInit(type, nullptr, nullptr, nullptr);
    // Enhancement curves of varied height and wash-out.
    for (int c = 0; c < kCurves; ++c) {
      std::vector<double> curve(kPoints);
      for (int i = 0; i < kPoints; ++i) {
        const double t = times[i];
        curve[i] = 100 + (c % 50) * t * std::exp(-t / (20 + c % 37));
      }
      curves.push_back(std::move(curve));
    }
    records.resize(size_t(kCurves) * outputs);
  }
  ~MapRun() { DIDU_ModelClose(type); }

  void computeOne(int c) {
    const double* curve[1] = {curves[c].data()};
    DIDU_ComputeParmArray(type, curve, 1, nullptr, &records[size_t(c) * outputs], nullptr, 0);
  }
};

void singleThread(benchmark::State& state, int type) {
  MapRun run(type);
  for (auto _ : state) {
    for (int c = 0; c < kCurves; ++c) run.computeOne(c);
    benchmark::DoNotOptimize(run.records.data());
  }
  state.SetItemsProcessed(state.iterations() * kCurves);
  state.SetLabel("items = curves");
}

void allCores(benchmark::State& state, int type) {
  MapRun run(type);
  for (auto _ : state) {
    tbb::parallel_for(0, kCurves, [&](int c) { run.computeOne(c); });
    benchmark::DoNotOptimize(run.records.data());
  }
  state.SetItemsProcessed(state.iterations() * kCurves);
  state.SetLabel("items = curves");
}

void BM_BasicMeasurements_SingleThread(benchmark::State& state) { singleThread(state, 0); }
void BM_BasicMeasurements_AllCores(benchmark::State& state) { allCores(state, 0); }
void BM_AreaUnderCurve_SingleThread(benchmark::State& state) { singleThread(state, 1); }
void BM_AreaUnderCurve_AllCores(benchmark::State& state) { allCores(state, 1); }

BENCHMARK(BM_BasicMeasurements_SingleThread)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BasicMeasurements_AllCores)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AreaUnderCurve_SingleThread)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AreaUnderCurve_AllCores)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
