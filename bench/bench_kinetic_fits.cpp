// Fits per second of the kinetic models whose searches must reach the global minimum, on noisy
// curves of their physiological ranges, with the catalogue's settings:
//   - Tofts (type 8) and modified Tofts (type 9) in the signal domain of the spoiled gradient-echo
//     conversion (TR 5 ms, 30 degrees, T10 1 s, r1 4.5 /(mM s)) on 60-point (5 s) and 1321-point
//     (0.5 s) curves, 2 % noise of the baseline signal;
//   - the global Tofts fit (type 57) on the 60-point curves;
//   - the interval IVIM fits (types 18 and 54, each over its own ranges) on 10 b-values from 0 to
//     1000 s/mm2, SNR 100;
//   - the interval exchange fit (type 44), the uptake fit (type 47) and the global variable flip
//     angle T1 fit (type 24, method 2) on their sweep curves.
// One thread, and all cores through a parallel loop as a map run does (types 8 and 9).

#include <benchmark/benchmark.h>
#include <tbb/parallel_for.h>

#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "KinmodelsApi.h"
#include "ReferenceCurves.h"

namespace {

using modeltest::populationInput;

struct FitRun {
  int type;
  int outputs = 0;
  std::vector<std::vector<double>> curves;
  std::vector<DEMPOUT> records;

  explicit FitRun(int modelType) : type(modelType) {
    DIDU_SetCalcMode(0);
    DIDU_DefaultFreeParms(type);
    outputs = DIDU_GetNumOutParms(type);
    const std::vector<int> flags(12, 1);
    DIDU_SetParmReq(flags.data(), outputs);
  }
  ~FitRun() { DIDU_ModelClose(type); }
  void init(const INPUTFUNC* input) {
    DIDU_ModelInit(type, input, nullptr, nullptr);
    records.resize(curves.size() * size_t(outputs));
  }
  void computeOne(size_t c) {
    const double* curve[1] = {curves[c].data()};
    DIDU_ComputeParmArray(type, curve, 1, nullptr, &records[c * size_t(outputs)], nullptr, 0);
  }
};

std::vector<double> uniformTimes(int points, double step) {
  std::vector<double> t(points);
  for (int i = 0; i < points; ++i) t[i] = step * i;
  return t;
}

std::unique_ptr<INPUTFUNC> populationInputRecord(const std::vector<double>& times) {
  auto input = std::make_unique<INPUTFUNC>();
  input->count = int(times.size());
  for (size_t i = 0; i < times.size(); ++i) {
    input->times[i] = times[i];
    input->values[i] = populationInput(times[i]);
  }
  return input;
}

void addNoise(std::vector<double>& curve, double sigma, std::mt19937& random) {
  std::normal_distribution<double> noise(0, sigma);
  for (double& v : curve) v += noise(random);
}

// Tofts-family curves in the signal domain: the usual phantom grid of Ktrans and ve (and vp for
// the modified model), baseline signal 1000 with 2 % noise.
void toftsCurves(FitRun& run, const std::vector<double>& times, bool vascular) {
  std::mt19937 random(8);
  for (double ktrans : {0.01, 0.02, 0.05, 0.1, 0.2, 0.35})
    for (double ve : {0.01, 0.05, 0.1, 0.2, 0.5})
      for (double vp : vascular ? std::vector<double>{0.01, 0.05, 0.1} : std::vector<double>{0.0}) {
        std::vector<double> curve =
            modeltest::spgrSignal(modeltest::toftsReference(times, ktrans / 60, ve, vp, 0.05), 1000);
        addNoise(curve, 20, random);
        run.curves.push_back(std::move(curve));
      }
}

void run(benchmark::State& state, FitRun& fit, bool allCores) {
  for (auto _ : state) {
    if (allCores)
      tbb::parallel_for(size_t(0), fit.curves.size(), [&](size_t c) { fit.computeOne(c); });
    else
      for (size_t c = 0; c < fit.curves.size(); ++c) fit.computeOne(c);
    benchmark::DoNotOptimize(fit.records.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(fit.curves.size()));
  state.SetLabel("items = fits");
}

// Arguments: points (60 or 1321), all cores (0 or 1).
void toftsFamily(benchmark::State& state, int type) {
  const int points = int(state.range(0));
  const std::vector<double> times = uniformTimes(points, points == 60 ? 5.0 : 0.5);
  DIDU_DefineTimeProfile(times.data(), points);
  DIDU_SetTissue_SigToConc(modeltest::spgrSigToConc);
  DIDU_SetTissue_ConcToSig(modeltest::spgrConcToSig);
  FitRun fit(type);
  toftsCurves(fit, times, type == 9);
  const auto input = populationInputRecord(times);
  fit.init(input.get());
  run(state, fit, state.range(1) != 0);
}
void BM_Tofts(benchmark::State& state) { toftsFamily(state, 8); }
void BM_ModifiedTofts(benchmark::State& state) { toftsFamily(state, 9); }

// The global Tofts fit on the 60-point curves of the whole grid, at the catalogue's budget.
void BM_GlobalTofts(benchmark::State& state) {
  const std::vector<double> times = uniformTimes(60, 5.0);
  DIDU_DefineTimeProfile(times.data(), 60);
  DIDU_SetTissue_SigToConc(modeltest::spgrSigToConc);
  DIDU_SetTissue_ConcToSig(modeltest::spgrConcToSig);
  FitRun fit(57);
  toftsCurves(fit, times, false);
  const auto input = populationInputRecord(times);
  fit.init(input.get());
  run(state, fit, false);
}

// IVIM curves on 10 b-values from 0 to 1000 s/mm2 with Gaussian noise of 1 % of S0 (SNR 100), their
// parameters drawn uniformly from the ranges given (D and D* in mm2/s).
struct IvimRanges {
  double fLow, fHigh, dLow, dHigh, dStarLow, dStarHigh;
};
void ivim(benchmark::State& state, int type, const IvimRanges& r) {
  const std::vector<double> b = {0, 10, 20, 40, 60, 100, 200, 400, 700, 1000};
  const std::vector<double> times = uniformTimes(10, 1);
  DIDU_DefineTimeProfile(times.data(), 10);
  DIDU_DefineBfactorProfile(b.data(), 10);
  FitRun fit(type);
  std::mt19937 random(type);
  std::uniform_real_distribution<double> f(r.fLow, r.fHigh), d(r.dLow, r.dHigh), dStar(r.dStarLow, r.dStarHigh);
  for (int c = 0; c < int(state.range(0)); ++c) {
    const double fc = f(random), dc = d(random), sc = dStar(random);
    std::vector<double> curve(10);
    for (int i = 0; i < 10; ++i) curve[i] = 1000 * ((1 - fc) * std::exp(-b[i] * dc) + fc * std::exp(-b[i] * sc));
    addNoise(curve, 10, random);
    fit.curves.push_back(std::move(curve));
  }
  fit.init(nullptr);
  run(state, fit, false);
}
// The full IVIM fit (type 18): f 0.05-0.25, D 0.5-2.5e-3, D* 0.01-0.05 mm2/s.
void BM_IvimGlobal(benchmark::State& state) { ivim(state, 18, {0.05, 0.25, 0.5e-3, 2.5e-3, 0.01, 0.05}); }
// The three-parameter IVIM fit (type 54) over its own default box (D <= 0.005, D* 0.005-0.3 mm2/s):
// f 0.05-0.3, D 0.3-3e-3, D* 0.01-0.2 mm2/s.
void BM_IvimThreeParameters(benchmark::State& state) {
  ivim(state, 54, {0.05, 0.3, 0.3e-3, 3e-3, 0.01, 0.2});
}

// Exchange curves over vp 0.02-0.2, ve 0.1-0.4, Fp 5-200 ml/100 ml/min, PS 0.05-2 /min on 150
// points 2 s apart, concentration domain, noise 1 % of the peak.
void BM_IntervalExchange(benchmark::State& state) {
  const std::vector<double> times = uniformTimes(150, 2);
  DIDU_DefineTimeProfile(times.data(), 150);
  DIDU_SetTissue_SigToConc([](const double* in, int64_t n, double* out, int64_t, void*) {
    std::copy(in, in + n, out);
  });
  DIDU_SetTissue_ConcToSig([](const double* in, int64_t n, double* out, int64_t, const void*) {
    std::copy(in, in + n, out);
  });
  FitRun fit(44);
  std::mt19937 random(44);
  for (double vp : {0.02, 0.2})
    for (double ve : {0.1, 0.4})
      for (double fp : {5.0, 50.0, 200.0})
        for (double ps : {0.05, 2.0}) {
          std::vector<double> curve = modeltest::exchangeReference(times, vp, ve, fp / 6000, ps / 60, 0.05);
          addNoise(curve, 0.01 * *std::max_element(curve.begin(), curve.end()), random);
          fit.curves.push_back(std::move(curve));
        }
  const auto input = populationInputRecord(times);
  fit.init(input.get());
  run(state, fit, false);
}

// Uptake curves over vp 0.02-0.2, Fp 5-100 ml/100 ml/min, PS 0-0.3 /min (27 curves) on 150 points
// 2 s apart, concentration domain, noise 1 % of the peak.
void BM_Uptake(benchmark::State& state) {
  const std::vector<double> times = uniformTimes(150, 2);
  DIDU_DefineTimeProfile(times.data(), 150);
  DIDU_SetTissue_SigToConc([](const double* in, int64_t n, double* out, int64_t, void*) {
    std::copy(in, in + n, out);
  });
  DIDU_SetTissue_ConcToSig([](const double* in, int64_t n, double* out, int64_t, const void*) {
    std::copy(in, in + n, out);
  });
  FitRun fit(47);
  std::mt19937 random(47);
  for (double vp : {0.02, 0.08, 0.2})
    for (double fp : {5.0, 30.0, 100.0})
      for (double ps : {0.0, 0.05, 0.3}) {
        std::vector<double> curve = modeltest::uptakeReference(times, vp, fp / 6000, ps / 60, 0, 0.05);
        addNoise(curve, 0.01 * *std::max_element(curve.begin(), curve.end()), random);
        fit.curves.push_back(std::move(curve));
      }
  const auto input = populationInputRecord(times);
  fit.init(input.get());
  run(state, fit, false);
}

// Variable flip angle T1 (method 2) for T1 0.3 to 4 s on flip angles 2 to 20 degrees, TR 10 ms,
// noise 0.5 % of the largest signal.
void BM_VariableFlipAngleGlobal(benchmark::State& state) {
  const std::vector<double> angles = {2, 4, 6, 8, 10, 12, 15, 20};
  const int n = int(angles.size());
  const std::vector<double> times = uniformTimes(n, 1);
  DIDU_DefineTimeProfile(times.data(), n);
  DIDU_DefineFlipAngleProfile(angles.data(), n);
  DIDU_SetTR(0.01);
  DIDU_SetNoiseLev(0);
  FitRun fit(24);
  DIDU_SetCurrentOptimization(24, 2, 0, 1000);
  std::mt19937 random(24);
  for (double t1 : {0.3, 0.45, 0.6, 0.8, 1.0, 1.3, 1.6, 2.0, 2.5, 3.0, 3.5, 4.0}) {
    const double e = std::exp(-0.01 / t1);
    std::vector<double> curve(n);
    for (int i = 0; i < n; ++i) {
      const double a = angles[i] * std::numbers::pi / 180;
      curve[i] = 3000 * (1 - e) * std::sin(a) / (1 - e * std::cos(a));
    }
    addNoise(curve, 0.005 * *std::max_element(curve.begin(), curve.end()), random);
    fit.curves.push_back(std::move(curve));
  }
  fit.init(nullptr);
  run(state, fit, false);
}

BENCHMARK(BM_Tofts)->ArgsProduct({{60, 1321}, {0, 1}})->ArgNames({"points", "allCores"})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ModifiedTofts)->ArgsProduct({{60, 1321}, {0, 1}})->ArgNames({"points", "allCores"})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GlobalTofts)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_IvimGlobal)->Arg(40)->ArgName("curves")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_IvimThreeParameters)->Arg(40)->ArgName("curves")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_IntervalExchange)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_Uptake)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_VariableFlipAngleGlobal)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
