// Layer export and layer operations against plain baselines in the same run:
//   - a 512 x 512 x 300 16-bit layer written as NIfTI and as 300 DICOM files, against fwrite of the
//     same bytes (aims: 1.3x and 3x of fwrite);
//   - the raw export of a layer with void voxels: the peak memory it adds (counter "peak_copies", in
//     copies of the voxel bytes; aim: at most one copy);
//   - VA_OperationOnVolumes' absolute difference against a plain serial loop (aim: 3x faster on 4
//     cores).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "AppOptions.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "LayerExport.h"
#include "ScriptedUi.h"
#include "TwkMem.h"
#include "Vol.h"
#include "io/ImageFiles.h"
#include "volops/VolumeOperations.h"
#include "volume/Frame.h"
#include "volume/VoxelAccess.h"

namespace fs = std::filesystem;

namespace {

constexpr int W = 512, H = 512, D = 300;

std::string scratch() {
  static const std::string folder = "/tmp/bench_export_" + std::to_string(::getpid());
  fs::create_directories(folder);
  return folder;
}

CVol* makeLayerVolume(FRMTYPE type, int bpv) {
  auto* vol = new CVol;
  vol->frame = PR_FrameCreate(type, bpv, DIM3D{W, H, D, 1}, false);
  vol->name = L"bench";
  vol->spc = SPC{0.7, 0.7, 1.5};
  vol->imgPos = static_cast<DPOINT3D*>(pf_calloc(int64_t(D) * int64_t(sizeof(DPOINT3D))));
  for (int z = 0; z < D; ++z) vol->imgPos[z] = DPOINT3D{-180, -180, 1.5 * z};
  vol->dyn = static_cast<DYNCRD*>(pf_calloc(int64_t(sizeof(DYNCRD))));
  const int64_t n = int64_t(W) * H * D;
  if (type == FRM_REAL) {
    auto* v = reinterpret_cast<double*>(vol->frame->data);
    for (int64_t i = 0; i < n; ++i) v[i] = double(i % 4096);
  } else {
    auto* v = reinterpret_cast<uint16_t*>(vol->frame->data);
    for (int64_t i = 0; i < n; ++i) v[i] = uint16_t(i % 4096);
  }
  return vol;
}

const CVol& layer16() {
  static std::unique_ptr<CVol> vol(makeLayerVolume(FRM_INT, 16));
  return *vol;
}

void BM_Fwrite(benchmark::State& state) {
  const FRAME* f = layer16().frame;
  const std::string path = scratch() + "/raw.bin";
  for (auto _ : state) {
    FILE* fp = std::fopen(path.c_str(), "wb");
    std::fwrite(f->data, 1, size_t(PR_FrameMemSize(f)), fp);
    std::fclose(fp);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * PR_FrameMemSize(f));
}

void BM_SaveNifti(benchmark::State& state) {
  const CVol& vol = layer16();
  const CString path = CString::fromUtf8(scratch() + "/layer.nii");
  for (auto _ : state)
    VA_RAW_VolSaveFile(path, vol.frame, -1, &vol.spc, vol.orient, &vol.imgPos[0], &vol.imgPos[D - 1], MODALITY_MR, 0,
                       L"", nullptr, vol.dyn, false);
  state.SetBytesProcessed(int64_t(state.iterations()) * PR_FrameMemSize(vol.frame));
}

void BM_SaveDicomFiles(benchmark::State& state) {
  CVol& vol = const_cast<CVol&>(layer16());
  const std::string folder = scratch() + "/dicom";
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(folder);
    fs::create_directories(folder);
    state.ResumeTiming();
    CVol::SaveToDicom(&vol, false, CString::fromUtf8(folder + "/s.dcm"), nullptr, false, true, true, false, false);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * PR_FrameMemSize(vol.frame));
}

// Peak resident memory (kB) since the last reset.
int64_t peakKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6));
  return 0;
}
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void BM_SaveRawWithVoids(benchmark::State& state) {
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  CDrawDoc doc;
  auto* set = new CDrawSet(&doc);
  CVol* vol = makeLayerVolume(FRM_REAL, 64);
  for (int z = 0; z < D; z += 7) twk::setVoxelValue(vol->frame, 5, 5, z, 0, VOID_VALUE);
  const int64_t bytes = PR_FrameMemSize(vol->frame);
  auto* layer = new CDrawVol;
  layer->Init(&vol, nullptr, false);
  set->AppendLayer(layer);
  CDrawObj* obj = set;
  doc.AddObject(&obj, true);
  const CString path = CString::fromUtf8(scratch() + "/voids.nii");
  double worst = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::remove(path.toUtf8().c_str());
    ui.clear();
    ui.answerSaveFile(path).answerMessage(IDNO).answerValuesText({L"0"});
    resetPeak();
    const int64_t before = peakKb();
    state.ResumeTiming();
    twk::files::SaveActiveVolumeToRAW(*set);
    state.PauseTiming();
    worst = std::max(worst, double(peakKb() - before) * 1024.0 / double(bytes));
    state.ResumeTiming();
  }
  state.counters["peak_copies"] = worst;
  state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

const std::pair<std::unique_ptr<CVol>, std::unique_ptr<CVol>>& realPair() {
  static const auto pair = [] {
    std::pair<std::unique_ptr<CVol>, std::unique_ptr<CVol>> p{std::unique_ptr<CVol>(makeLayerVolume(FRM_REAL, 64)),
                                                               std::unique_ptr<CVol>(makeLayerVolume(FRM_REAL, 64))};
    auto* b = reinterpret_cast<double*>(p.second->frame->data);
    for (int64_t i = 0; i < int64_t(W) * H * D; ++i) b[i] = double((i * 7) % 5000);
    return p;
  }();
  return pair;
}

void BM_AbsDiffOperation(benchmark::State& state) {
  const auto& [a, b] = realPair();
  CVol* operands[2] = {a.get(), b.get()};
  for (auto _ : state) {
    std::unique_ptr<CVol> result(VA_OperationOnVolumes(VA_LAYEROP_ABS_DIFF, operands, 2, false));
    benchmark::DoNotOptimize(result.get());
  }
}

void BM_AbsDiffSerialLoop(benchmark::State& state) {
  const auto& [a, b] = realPair();
  const int64_t n = int64_t(W) * H * D;
  for (auto _ : state) {
    FRAME* out = PR_FrameCreate(FRM_REAL, 64, DIM3D{W, H, D, 1}, false);
    const auto* x = reinterpret_cast<const double*>(a->frame->data);
    const auto* y = reinterpret_cast<const double*>(b->frame->data);
    auto* z = reinterpret_cast<double*>(out->data);
    for (int64_t i = 0; i < n; ++i) z[i] = x[i] >= VOID_VALUE || y[i] >= VOID_VALUE ? VOID_VALUE : std::fabs(x[i] - y[i]);
    benchmark::DoNotOptimize(z);
    PR_FrameDelete(&out);
  }
}

}  // namespace

BENCHMARK(BM_Fwrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveNifti)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveDicomFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_SaveRawWithVoids)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_AbsDiffOperation)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AbsDiffSerialLoop)->Unit(benchmark::kMillisecond)->UseRealTime();
