// Reading DICOM: the tree of a folder of 1,000 small single-slice files, and the load of a
// 300-slice 512x512 series into a volume, against dcm2niix converting the same folders in the same
// run (dcm2niix reads every header and the voxels, then writes a NIfTI file).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ArrayHelpers.h"
#include "CString.h"
#include "DicomRec.h"
#include "TwkDicom.h"
#include "Vol.h"
#include "dicom/DicomTree.h"
#include "DicomBenchSeries.h"
#include "dicom/DicomVolume.h"
#include "volume/Frame.h"

namespace fs = std::filesystem;

namespace {

struct Folders {
  std::string dir, small, large, nii;
  Folders() {
    dir = (fs::temp_directory_path() / ("bench_dicom_" + std::to_string(::getpid()))).string();
    small = dir + "/small";
    large = dir + "/large";
    nii = dir + "/nii";
    fs::create_directories(nii);
    TWKDCM_Initialize();
    TW_WriteBenchSeries(small, 64, 64, 1000);
    TW_WriteBenchSeries(large, 512, 512, 300);
  }
  ~Folders() { fs::remove_all(dir); }
};

const Folders& folders() {
  static Folders f;
  return f;
}

void BM_TreeOf1000Files(benchmark::State& state) {
  const CString folder = CString::fromUtf8(folders().small);
  for (auto _ : state) {
    VA_DICOMTREE tree;
    DICOMREC** records = nullptr;
    int count = 0;
    if (!VA_FolderFullDicomTree(true, nullptr, folder, nullptr, false, nullptr, &tree, nullptr, 0, &records, &count,
                                nullptr, nullptr, false))
      state.SkipWithError("tree failed");
    benchmark::DoNotOptimize(tree.imageCount);
    TW_FreeDicomRecArray(&records, count);
  }
}
BENCHMARK(BM_TreeOf1000Files)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Load300x512x512(benchmark::State& state) {
  const std::vector<CString> files = TW_BenchSeriesFiles(folders().large);
  std::vector<const wchar_t*> list;
  for (const CString& f : files) list.push_back(f);
  for (auto _ : state) {
    CVol* vol = VA_LoadDicomVolume(list.data(), int(list.size()), false);
    if (!vol || vol->D() != 300) state.SkipWithError("load failed");
    delete vol;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 300 * 512 * 512 * 2);
}
BENCHMARK(BM_Load300x512x512)->Unit(benchmark::kMillisecond)->UseRealTime();

void runDcm2niix(benchmark::State& state, const std::string& folder) {
  const std::string command = "dcm2niix -o " + folders().nii + " -f out -z n -b n " + folder + " > /dev/null 2>&1";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("dcm2niix failed");
}

void BM_Dcm2niix1000Files(benchmark::State& state) { runDcm2niix(state, folders().small); }
BENCHMARK(BM_Dcm2niix1000Files)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Dcm2niix300x512x512(benchmark::State& state) { runDcm2niix(state, folders().large); }
BENCHMARK(BM_Dcm2niix300x512x512)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
