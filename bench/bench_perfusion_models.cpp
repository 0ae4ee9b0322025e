// Voxels per second of the Tofts fits of the kinetic-model plug-in: the Tofts model (type 8), the
// modified Tofts model (type 9) and the global Tofts fit with vessel and flat-curve rejection
// (type 57), each with its catalogue settings, on curves of 25, 60 and 661 time points over the
// same 330 s. One thread, and all cores through a parallel loop as a map run does.

#include <benchmark/benchmark.h>
#include <tbb/parallel_for.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "KinmodelsApi.h"

namespace {

constexpr double kDuration = 330;  // seconds

void identity(const double* in, int64_t n, double* out, int64_t, void*) { std::memcpy(out, in, size_t(n) * sizeof(double)); }
void identityBack(const double* in, int64_t n, double* out, int64_t, const void*) {
  std::memcpy(out, in, size_t(n) * sizeof(double));
}

double inputAt(double t) { return t <= 0 ? 0 : 6 * (std::exp(-t / 200) - std::exp(-t / 20)); }

// Tofts curve of the bi-exponential input in closed form, rates per second.
double toftsAt(double t, double ktrans, double ve) {
  if (t <= 0) return 0;
  const double kep = ktrans / ve;
  const double a[2] = {6, -6}, m[2] = {1.0 / 200, 1.0 / 20};
  double sum = 0;
  for (int i = 0; i < 2; ++i) sum += a[i] * (std::exp(-m[i] * t) - std::exp(-kep * t)) / (kep - m[i]);
  return ktrans * sum;
}

struct MapRun {
  int type;
  int outputs;
  int voxels;
  std::vector<std::vector<double>> curves;
  std::vector<DEMPOUT> records;

  MapRun(int modelType, int points, int count) : type(modelType), voxels(count) {
    std::vector<double> times(points);
    for (int i = 0; i < points; ++i) times[i] = kDuration * i / (points - 1);
    DIDU_DefineTimeProfile(times.data(), points);
    DIDU_SetTissue_SigToConc(identity);
    DIDU_SetTissue_ConcToSig(identityBack);
    DIDU_SetCalcMode(0);
    DIDU_DefaultFreeParms(type);
    outputs = DIDU_GetNumOutParms(type);
    const std::vector<int> flags(12, 1);
    DIDU_SetParmReq(flags.data(), outputs);
    auto input = std::make_unique<INPUTFUNC>();
    input->count = points;
    for (int i = 0; i < points; ++i) {
      input->times[i] = times[i];
      input->values[i] = inputAt(times[i]);
    }
    DIDU_ModelInit(type, input.get(), nullptr, nullptr);
    // Tissues of varied Ktrans (0.05 to 0.6 per minute) and ve (0.1 to 0.6), with a small ripple.
    for (int c = 0; c < voxels; ++c) {
      const double ktrans = (0.05 + 0.55 * (c % 23) / 22.0) / 60, ve = 0.1 + 0.5 * (c % 17) / 16.0;
      std::vector<double> curve(points);
      for (int i = 0; i < points; ++i) curve[i] = toftsAt(times[i], ktrans, ve) + 0.01 * std::sin(0.7 * i + c);
      curves.push_back(std::move(curve));
    }
    records.resize(size_t(voxels) * outputs);
  }
  ~MapRun() { DIDU_ModelClose(type); }

  void computeOne(int c) {
    const double* curve[1] = {curves[c].data()};
    DIDU_ComputeParmArray(type, curve, 1, nullptr, &records[size_t(c) * outputs], nullptr, 0);
  }
};

// The global fit spends its whole bisection budget on every voxel (about two seconds on one core
// with the catalogue's 200000 bisections, whatever the number of points, since it works on a grid
// of 2 s steps): a few voxels per round keep a round short.
int voxelsPerRound(int type, int points) {
  if (type == 57) return 4;
  return points > 100 ? 256 : 2048;
}

void singleThread(benchmark::State& state, int type) {
  const int points = int(state.range(0));
  MapRun run(type, points, voxelsPerRound(type, points));
  for (auto _ : state) {
    for (int c = 0; c < run.voxels; ++c) run.computeOne(c);
    benchmark::DoNotOptimize(run.records.data());
  }
  state.SetItemsProcessed(state.iterations() * run.voxels);
  state.SetLabel("items = voxels");
}

void allCores(benchmark::State& state, int type) {
  const int points = int(state.range(0));
  MapRun run(type, points, voxelsPerRound(type, points) * 8);
  for (auto _ : state) {
    tbb::parallel_for(0, run.voxels, [&](int c) { run.computeOne(c); });
    benchmark::DoNotOptimize(run.records.data());
  }
  state.SetItemsProcessed(state.iterations() * run.voxels);
  state.SetLabel("items = voxels");
}

void BM_Tofts_SingleThread(benchmark::State& state) { singleThread(state, 8); }
void BM_Tofts_AllCores(benchmark::State& state) { allCores(state, 8); }
void BM_ModifiedTofts_SingleThread(benchmark::State& state) { singleThread(state, 9); }
void BM_ModifiedTofts_AllCores(benchmark::State& state) { allCores(state, 9); }
void BM_GlobalTofts_SingleThread(benchmark::State& state) { singleThread(state, 57); }
void BM_GlobalTofts_AllCores(benchmark::State& state) { allCores(state, 57); }

BENCHMARK(BM_Tofts_SingleThread)->Arg(25)->Arg(60)->Arg(661)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tofts_AllCores)->Arg(25)->Arg(60)->Arg(661)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ModifiedTofts_SingleThread)->Arg(25)->Arg(60)->Arg(661)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ModifiedTofts_AllCores)->Arg(25)->Arg(60)->Arg(661)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GlobalTofts_SingleThread)->Arg(25)->Arg(60)->Arg(661)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GlobalTofts_AllCores)->Arg(25)->Arg(60)->Arg(661)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
