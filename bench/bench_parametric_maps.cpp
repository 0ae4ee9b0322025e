// Tofts maps through the kinetic-model host: voxels per second of CalculateDynamicExperiment on a
// 128 x 128 x slices x 60 signal volume (one thread and all cores), against the plug-in's own
// per-curve time on the same curves (a plain loop over DIDU_ComputeParmArray with curves already in
// memory), and the host's peak counted memory beyond the 4D volume.
//
// The Tofts fit takes milliseconds per curve, so the runs use a slab of the 30-slice volume
// (TWK_BENCH_SLICES slices, 2 by default); voxels per second do not depend on the slice count.

#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>

#include <cmath>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <vector>

#include "ConcConv.h"
#include "DynExp.h"
#include "KinmodelsApi.h"
#include "TwkMem.h"
#include "Vol.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace {

constexpr int kW = 128, kH = 128, kT = 60;

int slices() {
  const char* s = std::getenv("TWK_BENCH_SLICES");
  return s ? std::max(1, std::atoi(s)) : 2;
}

double plasma(double t) {
  const double x = (t - 10) / 15;
  return x <= 0 ? 0.0 : 6 * x * std::exp(1 - x) + 0.8 * (1 - std::exp(-x));
}

struct Setup {
  CDynExp host;
  std::unique_ptr<CVol> vol;
  VA_TISSUEATTRIB attrib;
  Setup() {
    host.LoadDomain(CString(KINMODELS_LIBRARY));
    host.SetCurrentModel(8);
    const int req[DYNEXP_NUM_OUTPUTS] = {1, 1};
    host.SetParmReq(req, DYNEXP_NUM_OUTPUTS);
    host.tissueConc.method = 4;
    host.tissueConc.tr = 0.0057;
    host.tissueConc.flipAngle = 10;
    host.tissueConc.r1 = 4.2;
    attrib.t1 = 1.4;
    std::vector<double> times;
    for (int k = 0; k < kT; ++k) times.push_back(5.0 * k);
    const auto path = std::filesystem::temp_directory_path() / "bench_parametric_maps_aif.txt";
    {
      std::ofstream out(path);
      for (double t : times) out << t << " " << plasma(t) << "\n";
    }
    host.LoadInputFunction(CString(path.string().c_str()));
    vol = std::make_unique<CVol>();
    const int d = slices();
    vol->frame = PR_FrameCreate(FRM_INT, 16, DIM3D{kW, kH, d, kT}, false);
    std::vector<DYNCRD> dyn(kT);
    for (int k = 0; k < kT; ++k) dyn[size_t(k)].time = times[size_t(k)];
    vol->SetDynamicCoords(dyn.data(), kT);
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 2);
    VA_CONCSETUP conv{host.tissueConc, 1.4, false};
    for (int z = 0; z < d; ++z)
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
          const double kt = (0.05 + 0.3 * x / kW) / 60, ve = 0.1 + 0.5 * y / kH, kep = kt / ve;
          std::vector<double> c(kT, 0.0), s(kT);
          for (int k = 1; k < kT; ++k) {
            const double h = 5.0, e = std::exp(-kep * h), a = plasma(times[k - 1]), sl = (plasma(times[k]) - a) / h;
            c[k] = c[k - 1] * e + kt * (a * (1 - e) / kep + sl * (h / kep - (1 - e) / (kep * kep)));
          }
          VA_ConcentrationToSignal(conv, 200.0, c.data(), kT, s.data());
          for (int k = 0; k < kT; ++k) twk::setVoxelValue(vol->frame, x, y, z, k, s[k] + noise(rng));
        }
  }
};

Setup& setup() {
  static Setup s;
  return s;
}

void hostMap(benchmark::State& state, int threads) {
  tbb::global_control limit(tbb::global_control::max_allowed_parallelism, size_t(threads));
  Setup& s = setup();
  int64_t peakExtra = 0;
  for (auto _ : state) {
    PR_ResetAllocMemInfo();
    const int64_t before = PR_GetTotalAllocSize();
    double** maps = s.host.CalculateDynamicExperiment(s.vol.get(), nullptr, &s.attrib, 8, 1, nullptr, nullptr, nullptr, 0);
    uint64_t peak = 0, largest = 0;
    PR_GetAllocMemInfo(&peak, &largest, false);
    peakExtra = int64_t(peak) - before;
    benchmark::DoNotOptimize(maps);
    pf_free_parr(&maps, 2);
  }
  const int64_t voxels = s.vol->NumVox();
  state.SetItemsProcessed(state.iterations() * voxels);
  state.counters["peak_extra_over_maps"] = double(peakExtra) / double(2 * voxels * 8);
  state.SetLabel("items = voxels");
}

// The plug-in alone: the same curves in memory, the same model cycle the host runs.
void pluginLoop(benchmark::State& state, int threads) {
  tbb::global_control limit(tbb::global_control::max_allowed_parallelism, size_t(threads));
  Setup& s = setup();
  void* lib = dlopen(KINMODELS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  auto compute = reinterpret_cast<decltype(&DIDU_ComputeParmArray)>(dlsym(lib, "DIDU_ComputeParmArray"));
  const int64_t voxels = s.vol->NumVox();
  std::vector<double> curves(size_t(voxels) * kT);
  for (int64_t v = 0; v < voxels; ++v)
    for (int k = 0; k < kT; ++k)
      curves[size_t(v) * kT + k] = twk::voxelValue(s.vol->frame, v % kW, (v / kW) % kH, v / (kW * kH), k);
  std::vector<DEMPOUT> out(size_t(voxels) * 2);
  for (auto _ : state) {
    // The host closes its cycle after each run: a mode-3 call leaves the plug-in set up as a map
    // run does, then the loop opens its own cycle.
    state.PauseTiming();
    double** once = s.host.CalculateDynamicExperiment(s.vol.get(), nullptr, &s.attrib, 8, 3, nullptr, nullptr, nullptr, 0);
    pf_free_parr(&once, 2);
    auto init = reinterpret_cast<decltype(&DIDU_ModelInit)>(dlsym(lib, "DIDU_ModelInit"));
    auto close = reinterpret_cast<decltype(&DIDU_ModelClose)>(dlsym(lib, "DIDU_ModelClose"));
    std::unique_ptr<INPUTFUNC[]> inputs(new INPUTFUNC[4]);
    std::memcpy(inputs.get(), s.host.ifunc, sizeof(INPUTFUNC) * 4);
    init(8, inputs.get(), nullptr, nullptr);
    state.ResumeTiming();
    tbb::parallel_for(int64_t(0), voxels, [&](int64_t v) {
      const double* c[1] = {&curves[size_t(v) * kT]};
      compute(8, c, 1, nullptr, &out[size_t(v) * 2], nullptr, 0);
    });
    close(8);
    benchmark::DoNotOptimize(out.data());
  }
  dlclose(lib);
  state.SetItemsProcessed(state.iterations() * voxels);
  state.SetLabel("items = curves");
}

void BM_ToftsMap_Host_OneThread(benchmark::State& state) { hostMap(state, 1); }
void BM_ToftsMap_Host_AllCores(benchmark::State& state) { hostMap(state, std::max(1, PR_GetNumLogicalCpus())); }
void BM_ToftsMap_PluginLoop_OneThread(benchmark::State& state) { pluginLoop(state, 1); }
void BM_ToftsMap_PluginLoop_AllCores(benchmark::State& state) { pluginLoop(state, std::max(1, PR_GetNumLogicalCpus())); }

BENCHMARK(BM_ToftsMap_Host_OneThread)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_ToftsMap_PluginLoop_OneThread)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_ToftsMap_Host_AllCores)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_ToftsMap_PluginLoop_AllCores)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
