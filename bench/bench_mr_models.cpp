// Voxels per second of the MR signal models of the kinetic-model plug-in on their typical point
// counts: IVIM on 10 b-values (segmented and global fits), ADC on 4 b-values, variable flip angle
// T1 on 10 flip angles (global and linear fits, and with the bias field). One thread, and all cores
// through a parallel loop as a map run does.

#include <benchmark/benchmark.h>
#include <tbb/parallel_for.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

#include "KinmodelsApi.h"

namespace {

struct Acquisition {
  void (*define)(const double*, int);
  std::vector<double> axis;
};

struct MapRun {
  int type;
  int outputs;
  std::vector<std::vector<double>> curves;
  std::vector<DEMPOUT> records;

  MapRun(int modelType, int method, const Acquisition& acq, int count,
         const std::function<double(double axis, int curve)>& signal)
      : type(modelType) {
    const int n = int(acq.axis.size());
    std::vector<double> times(n);
    for (int i = 0; i < n; ++i) times[i] = i;
    DIDU_DefineTimeProfile(times.data(), n);
    acq.define(acq.axis.data(), n);
    DIDU_SetTR(0.01);
    int optA = 0, optB = 0;
    DIDU_GetCurrentOptimization(type, &optA, &optB);
    DIDU_SetCurrentOptimization(type, method, optA, optB);
    outputs = DIDU_GetNumOutParms(type);
    const std::vector<int> flags(12, 1);
    DIDU_SetParmReq(flags.data(), outputs);
    DIDU_ModelInit(type, nullptr, nullptr, nullptr);
    for (int c = 0; c < count; ++c) {
      std::vector<double> curve(n);
      for (int i = 0; i < n; ++i) curve[i] = signal(acq.axis[i], c);
      curves.push_back(std::move(curve));
    }
    records.resize(size_t(count) * outputs);
  }
  ~MapRun() { DIDU_ModelClose(type); }

  void computeOne(int c) {
    const double* curve[1] = {curves[c].data()};
    DIDU_ComputeParmArray(type, curve, 1, nullptr, &records[size_t(c) * outputs], nullptr, 0);
  }
  int count() const { return int(curves.size()); }
};

void run(benchmark::State& state, MapRun& map, bool allCores) {
  for (auto _ : state) {
    if (allCores)
      tbb::parallel_for(0, map.count(), [&](int c) { map.computeOne(c); });
    else
      for (int c = 0; c < map.count(); ++c) map.computeOne(c);
    benchmark::DoNotOptimize(map.records.data());
  }
  state.SetItemsProcessed(state.iterations() * map.count());
  state.SetLabel("items = voxels");
}

// Diffusion-weighted curves of varied perfusion fraction and diffusivities.
double ivim(double b, int c) {
  const double f = 0.05 + 0.002 * (c % 50), d = 0.0006 + 0.00002 * (c % 40), dStar = 0.01 + 0.0005 * (c % 30);
  return 1000 * ((1 - f) * std::exp(-b * d) + f * std::exp(-b * dStar));
}
// Spoiled gradient echoes at TR 10 ms with T1 from 0.5 to 2 s and a flip-angle scale 0.85 .. 1.1.
double vfa(double degrees, int c, bool biased) {
  const double t1 = 0.5 + 0.03 * (c % 50), e1 = std::exp(-0.01 / t1);
  const double alpha = (biased ? 0.85 + 0.01 * (c % 25) : 1.0) * degrees * std::numbers::pi / 180;
  return 5000 * (1 - e1) * std::sin(alpha) / (1 - e1 * std::cos(alpha));
}

const Acquisition kIvimB{DIDU_DefineBfactorProfile, {0, 10, 20, 50, 100, 200, 400, 600, 800, 1000}};
const Acquisition kAdcB{DIDU_DefineBfactorProfile, {0, 500, 1000, 1500}};
const Acquisition kFlipAngles{DIDU_DefineFlipAngleProfile, {2, 4, 6, 8, 10, 12, 14, 16, 18, 20}};

void BM_IvimSegmented(benchmark::State& state) {
  MapRun map(17, 2, kIvimB, 256, ivim);
  run(state, map, state.range(0));
}
void BM_IvimGlobal(benchmark::State& state) {
  MapRun map(18, 7, kIvimB, 256, ivim);
  run(state, map, state.range(0));
}
void BM_Adc(benchmark::State& state) {
  MapRun map(19, 2, kAdcB, 4096, [](double b, int c) { return 1000 * std::exp(-b * (0.0005 + 0.00003 * (c % 50))); });
  run(state, map, state.range(0));
}
void BM_VariableFlipAngleGlobal(benchmark::State& state) {
  MapRun map(24, 2, kFlipAngles, 1024, [](double a, int c) { return vfa(a, c, false); });
  run(state, map, state.range(0));
}
void BM_VariableFlipAngleLinear(benchmark::State& state) {
  MapRun map(24, 6, kFlipAngles, 4096, [](double a, int c) { return vfa(a, c, false); });
  run(state, map, state.range(0));
}
void BM_VariableFlipAngleBiasField(benchmark::State& state) {
  MapRun map(42, 2, kFlipAngles, 64, [](double a, int c) { return vfa(a, c, true); });
  run(state, map, state.range(0));
}

// Argument 0: one thread; 1: all cores.
BENCHMARK(BM_IvimSegmented)->Arg(0)->Arg(1)->ArgName("allCores")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_IvimGlobal)->Arg(0)->Arg(1)->ArgName("allCores")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Adc)->Arg(0)->Arg(1)->ArgName("allCores")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_VariableFlipAngleGlobal)->Arg(0)->Arg(1)->ArgName("allCores")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_VariableFlipAngleLinear)->Arg(0)->Arg(1)->ArgName("allCores")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_VariableFlipAngleBiasField)->Arg(0)->Arg(1)->ArgName("allCores")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
