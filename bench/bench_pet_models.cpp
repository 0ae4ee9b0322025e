// Voxels per second of three model families of the kinetic-model plug-in: the Logan plot (type 27),
// the four-parameter two-tissue FDG fit (type 32) and the dual-input liver fit over a delay grid
// (type 41); one thread, and all cores through a parallel loop as a map run does.

#include <benchmark/benchmark.h>
#include <tbb/parallel_for.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "KinmodelsApi.h"

namespace {

void identity(const double* in, int64_t n, double* out, int64_t, void*) { std::memcpy(out, in, size_t(n) * sizeof(double)); }
void identityBack(const double* in, int64_t n, double* out, int64_t, const void*) {
  std::memcpy(out, in, size_t(n) * sizeof(double));
}

// PET frames: 12 x 10 s, 8 x 30 s, 10 x 2 min, 8 x 5 min (60 min); frame start times.
std::vector<double> petFrames() {
  std::vector<double> t;
  double s = 0;
  for (const auto& [count, length] : {std::pair{12, 10.0}, {8, 30.0}, {10, 120.0}, {8, 300.0}})
    for (int i = 0; i < count; ++i, s += length) t.push_back(s);
  t.push_back(s);
  return t;
}

double arterial(double t) {
  if (t <= 0) return 0;
  const double m = t / 60;
  return (851.1225 * m - 21.8798 - 20.8113) * std::exp(-4.1339 * m) + 21.8798 * std::exp(-0.1191 * m) +
         20.8113 * std::exp(-0.0104 * m);
}

// Tissue curves of a compartment model by Euler steps of 0.1 s, varied per curve.
struct MapRun {
  int type;
  int outputs;
  int n;
  std::vector<double> times;
  std::unique_ptr<INPUTFUNC[]> inputs;
  std::vector<std::vector<double>> curves;
  std::vector<DEMPOUT> records;

  MapRun(int modelType, std::vector<double> frameTimes, int numInputs, int numCurves,
         double (*input)(int which, double t), double (*tissue)(int curve, double t))
      : type(modelType), n(int(frameTimes.size())), times(std::move(frameTimes)), inputs(new INPUTFUNC[2]) {
    DIDU_DefineTimeProfile(times.data(), n);
    DIDU_SetTissue_SigToConc(identity);
    DIDU_SetTissue_ConcToSig(identityBack);
    DIDU_SetCalcMode(0);
    for (int k = 0; k < numInputs; ++k) {
      inputs[k].count = n;
      for (int i = 0; i < n; ++i) {
        inputs[k].times[i] = times[i];
        inputs[k].values[i] = input(k, times[i]);
      }
    }
    outputs = DIDU_GetNumOutParms(type);
    const std::vector<int> flags(12, 1);
    DIDU_SetParmReq(flags.data(), outputs);
    for (int c = 0; c < numCurves; ++c) {
      std::vector<double> curve(n);
      for (int i = 0; i < n; ++i) curve[i] = tissue(c, times[i]);
      curves.push_back(std::move(curve));
    }
    records.resize(size_t(numCurves) * outputs);
  }
  bool init() { return DIDU_ModelInit(type, inputs.get(), nullptr, nullptr); }
  ~MapRun() { DIDU_ModelClose(type); }

  void computeOne(int c) {
    const double* curve[1] = {curves[c].data()};
    DIDU_ComputeParmArray(type, curve, 1, nullptr, &records[size_t(c) * outputs], nullptr, 0);
  }
};

// Two-tissue curve by Euler integration in steps of 0.1 s, sampled at t.
double twoTissue(double K1, double k2, double k3, double k4, double refK, double refk, double t, bool reference) {
  double c1 = 0, c2 = 0, cr = 0;
  const double h = 0.1;
  for (double s = 0; s < t - 1e-9; s += h) {
    const double cp = arterial(s);
    const double d1 = K1 * cp - (k2 + k3) * c1 + k4 * c2, d2 = k3 * c1 - k4 * c2, dr = refK * cp - refk * cr;
    c1 += h * d1 / 60, c2 += h * d2 / 60, cr += h * dr / 60;
  }
  return reference ? cr : c1 + c2;
}

double loganReference(int, double t) { return twoTissue(0, 0, 0, 0, 0.1, 0.15, t, true); }
double loganTissue(int c, double t) { return twoTissue(0.12 + 0.0005 * (c % 40), 0.18, 0.9, 0.6, 0, 0, t, false); }
double fdgInput(int, double t) { return arterial(t); }
double fdgTissue(int c, double t) { return twoTissue(0.08 + 0.001 * (c % 40), 0.13, 0.06, 0.012, 0, 0, t, false); }

double bolus(double t, double arrival, double height, double tau) {
  const double u = (t - arrival) / tau;
  return u <= 0 ? 0 : height * u * u * std::exp(2 - u);
}
double liverInput(int which, double t) {
  return which == 0 ? bolus(t, 8, 6, 3) + 0.5 * (t > 8) : bolus(t, 16, 2.5, 7) + 0.5 * (t > 16);
}
double liverTissue(int c, double t) {
  const double F = (80 + c % 40) / 6000.0, fa = 0.25, ve = 0.25, ki = 3 / 6000.0, h = 0.05;
  double ce = 0, ci = 0;
  for (double s = 0; s < t - 1e-9; s += h) {
    const double dce = (F * (fa * liverInput(0, s) + (1 - fa) * liverInput(1, s)) - (F + ki) * ce) / ve;
    ci += h * ki * ce;
    ce += h * dce;
  }
  return ve * ce + ci;
}

std::unique_ptr<MapRun> makeRun(int type) {
  switch (type) {
    case 27: return std::make_unique<MapRun>(27, petFrames(), 1, 1024, loganReference, loganTissue);
    case 32: return std::make_unique<MapRun>(32, petFrames(), 1, 32, fdgInput, fdgTissue);
    default: {
      std::vector<double> t(151);
      for (int i = 0; i < 151; ++i) t[i] = 2.0 * i;
      return std::make_unique<MapRun>(41, t, 2, 32, liverInput, liverTissue);
    }
  }
}

void singleThread(benchmark::State& state, int type) {
  auto run = makeRun(type);
  if (!run->init()) {
    state.SkipWithError("init failed");
    return;
  }
  const int curves = int(run->curves.size());
  for (auto _ : state) {
    for (int c = 0; c < curves; ++c) run->computeOne(c);
    benchmark::DoNotOptimize(run->records.data());
  }
  state.SetItemsProcessed(state.iterations() * curves);
  state.SetLabel("items = voxels");
}

void allCores(benchmark::State& state, int type) {
  auto run = makeRun(type);
  if (!run->init()) {
    state.SkipWithError("init failed");
    return;
  }
  const int curves = int(run->curves.size());
  for (auto _ : state) {
    tbb::parallel_for(0, curves, [&](int c) { run->computeOne(c); });
    benchmark::DoNotOptimize(run->records.data());
  }
  state.SetItemsProcessed(state.iterations() * curves);
  state.SetLabel("items = voxels");
}

void BM_Logan_SingleThread(benchmark::State& state) { singleThread(state, 27); }
void BM_Logan_AllCores(benchmark::State& state) { allCores(state, 27); }
void BM_Fdg2Tissue_SingleThread(benchmark::State& state) { singleThread(state, 32); }
void BM_Fdg2Tissue_AllCores(benchmark::State& state) { allCores(state, 32); }
void BM_LiverDelayGrid_SingleThread(benchmark::State& state) { singleThread(state, 41); }
void BM_LiverDelayGrid_AllCores(benchmark::State& state) { allCores(state, 41); }

BENCHMARK(BM_Logan_SingleThread)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Logan_AllCores)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Fdg2Tissue_SingleThread)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fdg2Tissue_AllCores)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LiverDelayGrid_SingleThread)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LiverDelayGrid_AllCores)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
