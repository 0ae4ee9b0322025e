// Saving (written into memory, to a temporary file, read back and compared, renamed over the
// target) and reloading a document that holds a 256x256x40x50 16-bit layer, against writing the
// same voxel bytes to a file (flushed to the disk, as the save does) and reading them back, in the
// same run. The counter "ratio" is document time over raw time; it should stay under 1.5.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "AppOptions.h"
#include "DocumentFile.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawVol.h"
#include "TwkMem.h"
#include "Vol.h"
#include "volume/Frame.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Fixture {
  std::string dir;
  std::unique_ptr<CDrawDoc> doc;
  Fixture() {
    dir = (std::filesystem::temp_directory_path() / ("bench_document_" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(dir);
    TW_EditOptions().tempFolder = CString::fromUtf8(dir);
    auto* vol = new CVol;
    vol->frame = PR_FrameCreate(FRM_INT, 16, DIM3D{256, 256, 40, 50}, false);
    vol->name = L"perfusion.nii";
    vol->dyn = static_cast<DYNCRD*>(pf_calloc(50 * int64_t(sizeof(DYNCRD))));
    for (int t = 0; t < 50; ++t) vol->dyn[t].time = vol->dyn[t].timeEnd = 2.5 * t;
    auto* voxels = reinterpret_cast<uint16_t*>(vol->frame->data);
    const size_t n = size_t(PR_FrameMemSize(vol->frame) / 2);
    for (size_t i = 0; i < n; ++i) voxels[i] = uint16_t((i * 2654435761u >> 9) & 4095);
    doc = std::make_unique<CDrawDoc>();
    auto* layer = new CDrawVol;
    PR_VIEWFILT filter;
    filter.level = 2048;
    filter.width = 4096;
    layer->Init(&vol, &filter, false);
    auto* set = new CDrawSet(doc.get());
    set->AppendLayer(layer);
    CDrawObj* obj = set;
    doc->AddObject(&obj, true);
  }
  ~Fixture() {
    doc.reset();
    std::filesystem::remove_all(dir);
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

double saveAndReload(const std::string& path) {
  const auto start = Clock::now();
  const CString p = CString::fromUtf8(path);
  if (!fixture().doc->Save(p, nullptr, false, false, false)) return -1;
  std::unique_ptr<CDrawDoc> back(TW_LoadDocumentNoView(p, false));
  if (!back) return -1;
  back.reset();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double writeAndReadRaw(const std::string& path, const FRAME* frame) {
  const auto start = Clock::now();
  const size_t bytes = size_t(PR_FrameMemSize(frame));
  FILE* fp = std::fopen(path.c_str(), "wb");
  std::fwrite(frame->data, 1, bytes, fp);
  std::fflush(fp);
  ::fsync(::fileno(fp));
  std::fclose(fp);
  std::vector<uint8_t> back(bytes);
  fp = std::fopen(path.c_str(), "rb");
  const size_t got = std::fread(back.data(), 1, bytes, fp);
  std::fclose(fp);
  benchmark::DoNotOptimize(got);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_DocumentSaveReloadAgainstRaw(benchmark::State& state) {
  Fixture& f = fixture();
  const FRAME* frame = f.doc->GetActiveSet()->GetBaseVol()->frame;
  double documentTime = 0, rawTime = 0;
  for (auto _ : state) {
    const double raw = writeAndReadRaw(f.dir + "/raw.bin", frame);
    const double document = saveAndReload(f.dir + "/perfusion.twk");
    if (document < 0) {
      state.SkipWithError("save or reload failed");
      return;
    }
    state.SetIterationTime(document);
    documentTime += document;
    rawTime += raw;
  }
  state.counters["raw_s"] = benchmark::Counter(rawTime / double(state.iterations()));
  state.counters["ratio"] = benchmark::Counter(documentTime / rawTime);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(PR_FrameMemSize(frame)));
}
BENCHMARK(BM_DocumentSaveReloadAgainstRaw)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
