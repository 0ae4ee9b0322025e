// "File > Open" through the entries the File menu uses, headless (a scripted UI answers, no view):
// a 256 x 256 x 256 16-bit NIfTI volume as .nii and as .nii.gz through TW_OpenImageDocument (the
// "Open Image" command's CDrawApp::OpenDocumentFile, with layout and progress), and a 300-file
// 256 x 256 DICOM series through TW_DlgOpenDicomDir ("Open DICOM folder : Single Document"), the
// series chosen by a load request instead of a click in the browser. Each iteration opens a new
// document and closes it again.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "AppOptions.h"
#include "CString.h"
#include "DicomBenchSeries.h"
#include "DicomLoad.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "ImageOpen.h"
#include "OpenDicomDir.h"
#include "ScriptedUi.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "Vol.h"
#include "io/ImageFiles.h"
#include "volume/Frame.h"

namespace fs = std::filesystem;

namespace {

struct Files {
  std::string dir, nii, niiGz, series;
  Files() {
    dir = (fs::temp_directory_path() / ("bench_open_" + std::to_string(::getpid()))).string();
    fs::create_directories(dir + "/work");
    TWKDCM_Initialize();
    TW_EditOptions().tempFolder = CString::fromUtf8(dir + "/work");
    // Varied 12-bit values, as a scanner writes them.
    FRAME* frame = PR_FrameCreate(FRM_INT, 16, DIM3D{256, 256, 256, 1}, false);
    auto* v = reinterpret_cast<uint16_t*>(frame->data);
    const size_t n = size_t(PR_FrameMemSize(frame) / 2);
    for (size_t i = 0; i < n; ++i) v[i] = uint16_t((i * 2654435761u >> 7) & 4095);
    const SPC spc{0.9, 0.9, 1.0};
    nii = dir + "/head.nii";
    VA_RAW_VolSaveFile(CString::fromUtf8(nii), frame, -1, &spc, nullptr, nullptr, nullptr, MODALITY_MR, 0, L"", nullptr,
                       nullptr, false);
    PR_FrameDelete(&frame);
    niiGz = dir + "/packed.nii.gz";
    const std::string gzip = "gzip -c '" + nii + "' > '" + niiGz + "'";
    if (std::system(gzip.c_str()) != 0) niiGz.clear();
    series = dir + "/series";
    TW_WriteBenchSeries(series, 256, 256, 300, false);
  }
  ~Files() { fs::remove_all(dir); }
};

const Files& files() {
  static Files f;
  return f;
}

void openImage(benchmark::State& state, const std::string& path) {
  if (path.empty()) {
    state.SkipWithError("no file");
    return;
  }
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  TW_EditOptions().imageOpenLayout = 1;
  const CString name = CString::fromUtf8(path);
  for (auto _ : state) {
    std::unique_ptr<CDrawDoc> doc(TW_OpenImageDocument(name, true, true));
    if (!doc || doc->GetActiveSet()->GetBaseVol()->D() != 256) state.SkipWithError("open failed");
  }
}

void BM_OpenNifti256(benchmark::State& state) { openImage(state, files().nii); }
BENCHMARK(BM_OpenNifti256)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenNiftiGz256(benchmark::State& state) { openImage(state, files().niiGz); }
BENCHMARK(BM_OpenNiftiGz256)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenDicomSeries300(benchmark::State& state) {
  const std::vector<CString> series = TW_BenchSeriesFiles(files().series);
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  DICOMLOADREQ request;
  if (series.empty() || !TW_SetDicomLoadRequest(&request, series.front(), DICOMLOAD_3D, true)) {
    state.SkipWithError("no series");
    return;
  }
  for (auto _ : state) {
    CString folder = CString::fromUtf8(files().series);
    std::unique_ptr<CDrawDoc> doc(TW_DlgOpenDicomDir(&folder, nullptr, false, true, &request, true));
    if (!doc || doc->GetActiveSet()->GetBaseVol()->D() != 300) state.SkipWithError("open failed");
  }
}
BENCHMARK(BM_OpenDicomSeries300)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
