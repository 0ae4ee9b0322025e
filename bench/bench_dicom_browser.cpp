// The DICOM browser and loader of the workstation against the imaging core they stand on, in the
// same run: a folder of 10,000 single-image files into the browser (tree, columns, expansion)
// against the core's tree builder alone (aim: at most 1.15 times), and a 300-slice 512 x 512 CT
// series (rescale intercept -1024, so the load converts whole-number Hounsfield units to integers
// with the bias 1024) through TW_LoadDicomFileSet against the core's VA_LoadDicomVolume and dcm2niix
// (aim: at most 1.2 times the core). The load also reports its peak of counted memory against the
// real frame plus the integer frame (aim: at most 1).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "AppOptions.h"
#include "ArrayHelpers.h"
#include "CString.h"
#include "DicomLoad.h"
#include "DicomRec.h"
#include "OpenDicomDir.h"
#include "ScriptedUi.h"
#include "TwkDicom.h"
#include "TwkMem.h"
#include "Vol.h"
#include "dicom/DicomTree.h"
#include "DicomBenchSeries.h"
#include "dicom/DicomVolume.h"
#include "volume/Frame.h"

namespace fs = std::filesystem;

namespace {

struct Folders {
  std::string dir, files, ct, nii;
  Folders() {
    dir = (fs::temp_directory_path() / ("bench_dicom_browser_" + std::to_string(::getpid()))).string();
    files = dir + "/files";
    ct = dir + "/ct";
    nii = dir + "/nii";
    fs::create_directories(nii);
    TWKDCM_Initialize();
    TW_EditOptions().tempFolder = CString::fromUtf8(dir);
    TW_WriteBenchSeries(files, 8, 8, 10000, false);
    TW_WriteBenchSeries(ct, 512, 512, 300, true);
  }
  ~Folders() { fs::remove_all(dir); }
};

const Folders& folders() {
  static Folders f;
  return f;
}

void BM_CoreTree10000Files(benchmark::State& state) {
  const CString folder = CString::fromUtf8(folders().files);
  VA_DICOMFOLDEROPTS options;
  for (auto _ : state) {
    VA_DICOMTREE tree;
    DICOMREC** records = nullptr;
    int count = 0;
    if (!VA_FolderFullDicomTree(true, &options, folder, L"", false, nullptr, &tree, nullptr, 0, &records, &count,
                                nullptr, nullptr, false))
      state.SkipWithError("tree failed");
    benchmark::DoNotOptimize(tree.imageCount);
    TW_FreeDicomRecArray(&records, count);
  }
}
BENCHMARK(BM_CoreTree10000Files)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BrowserTree10000Files(benchmark::State& state) {
  const CString folder = CString::fromUtf8(folders().files);
  for (auto _ : state) {
    OpenDicomDir browser(folder, nullptr, nullptr, false, true, nullptr, false, false);
    if (!browser.OnInitDialog()) state.SkipWithError("browser failed");
    benchmark::DoNotOptimize(browser.RowText(browser.Tree().items.front().get()));
  }
}
BENCHMARK(BM_BrowserTree10000Files)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CoreLoadCt300x512x512(benchmark::State& state) {
  const std::vector<CString> files = TW_BenchSeriesFiles(folders().ct);
  std::vector<const wchar_t*> list(files.begin(), files.end());
  for (auto _ : state) {
    CVol* vol = VA_LoadDicomVolume(list.data(), int(list.size()), false);
    if (!vol || vol->D() != 300) state.SkipWithError("load failed");
    delete vol;
  }
}
BENCHMARK(BM_CoreLoadCt300x512x512)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadFileSetCt300x512x512(benchmark::State& state) {
  const std::vector<CString> files = TW_BenchSeriesFiles(folders().ct);
  std::vector<const wchar_t*> list(files.begin(), files.end());
  twk::ScriptedUi ui;
  twk::ScopedUi installed(ui);
  const double frames = 300.0 * 512 * 512 * (8 + 2);  // the real frame and the 16-bit integer frame
  double peakRatio = 0;
  for (auto _ : state) {
    ui.clear();
    ui.answerValues({1024});  // the bias offered for CT
    const int64_t baseline = PR_GetTotalAllocSize();
    PR_ResetAllocMemInfo();
    CVol* vol = TW_LoadDicomFileSet(list.data(), int(list.size()), L"", nullptr, false, true);
    uint64_t peak = 0, largest = 0;
    PR_GetAllocMemInfo(&peak, &largest, false);
    peakRatio = double(int64_t(peak) - baseline) / frames;
    if (!vol || vol->D() != 300 || !vol->IsINT()) state.SkipWithError("load failed");
    delete vol;
  }
  state.counters["peak_over_real_plus_integer"] = peakRatio;
}
BENCHMARK(BM_LoadFileSetCt300x512x512)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Dcm2niixCt300x512x512(benchmark::State& state) {
  const std::string command = "dcm2niix -o " + folders().nii + " -f out -z n -b n " + folders().ct + " > /dev/null 2>&1";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("dcm2niix failed");
}
BENCHMARK(BM_Dcm2niixCt300x512x512)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
