// Reading DICOM: the tree of a folder of 1,000 small single-slice files, the load of a 300-slice
// 512x512 series into a volume, a 4-D functional mosaic series (100 images of 35 tiles, converted
// into its slices) and a 300-frame enhanced file, against dcm2niix converting the same folders in
// the same run (dcm2niix reads every header and the voxels, then writes a NIfTI file). A CT series
// with a rescale to HU loads into a real frame: compared with reading its files' bytes and filling
// a real buffer once.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
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

// A series of the DICOM tests' fixture script (pydicom, Debian's Python).
void writeFixture(const std::string& kind, const std::string& folder) {
  const std::string command = std::string(TWK_DEBIAN_PYTHON) + " -W ignore " + TWK_DICOM_TESTDATA + "/make_series.py " +
                              kind + " " + folder;
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "cannot write the %s series\n", kind.c_str());
}

struct Folders {
  std::string dir, small, large, ct, mosaic, enhanced, nii;
  Folders() {
    dir = (fs::temp_directory_path() / ("bench_dicom_" + std::to_string(::getpid()))).string();
    small = dir + "/small";
    large = dir + "/large";
    ct = dir + "/ct";
    mosaic = dir + "/mosaic";
    enhanced = dir + "/enhanced";
    nii = dir + "/nii";
    fs::create_directories(nii);
    TWKDCM_Initialize();
    TW_WriteBenchSeries(small, 64, 64, 1000);
    TW_WriteBenchSeries(large, 512, 512, 300);
    TW_WriteBenchSeries(ct, 512, 512, 300, true);
    writeFixture("benchmosaic", mosaic);
    writeFixture("benchenhanced", enhanced);
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

// Loads a folder as one volume; D x T must be as given.
void loadFolder(benchmark::State& state, const std::string& folder, int D, int T, int64_t bytes) {
  const std::vector<CString> files = TW_BenchSeriesFiles(folder);
  std::vector<const wchar_t*> list;
  for (const CString& f : files) list.push_back(f);
  for (auto _ : state) {
    std::unique_ptr<CVol> vol(VA_LoadDicomVolume(list.data(), int(list.size()), false));
    if (!vol || vol->D() != D || vol->T() != T) state.SkipWithError("load failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

void BM_LoadCtInHu300x512x512(benchmark::State& state) {
  loadFolder(state, folders().ct, 300, 1, int64_t(300) * 512 * 512 * 2);
}
BENCHMARK(BM_LoadCtInHu300x512x512)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor of the rescaled load: every file's bytes read, and the last 512 x 512 samples of each
// (its pixel data) turned into real values in one buffer of the volume's size.
void BM_ReadBytesAndFillCt300x512x512(benchmark::State& state) {
  const std::vector<CString> files = TW_BenchSeriesFiles(folders().ct);
  const size_t plane = size_t(512) * 512;
  for (auto _ : state) {
    std::vector<double> values(plane * files.size());
    std::vector<char> bytes;
    for (size_t k = 0; k < files.size(); ++k) {
      std::ifstream in(files[k].toUtf8(), std::ios::binary | std::ios::ate);
      bytes.resize(size_t(in.tellg()));
      in.seekg(0);
      in.read(bytes.data(), std::streamsize(bytes.size()));
      if (bytes.size() < plane * 2) {
        state.SkipWithError("short file");
        break;
      }
      const char* pixels = bytes.data() + bytes.size() - plane * 2;
      double* out = values.data() + k * plane;
      for (size_t i = 0; i < plane; ++i) {
        int16_t v;
        std::memcpy(&v, pixels + 2 * i, 2);
        out[i] = double(v) - 1024.0;
      }
    }
    benchmark::DoNotOptimize(values.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 300 * 512 * 512 * 2);
}
BENCHMARK(BM_ReadBytesAndFillCt300x512x512)->Unit(benchmark::kMillisecond)->UseRealTime();

// The mosaic series loads as 100 tiled images, then turns into 35 slices of 64 x 64 per time point.
void BM_LoadMosaic4D(benchmark::State& state) {
  const std::vector<CString> files = TW_BenchSeriesFiles(folders().mosaic);
  std::vector<const wchar_t*> list;
  for (const CString& f : files) list.push_back(f);
  for (auto _ : state) {
    std::unique_ptr<CVol> tiled(VA_LoadDicomVolume(list.data(), int(list.size()), false));
    std::unique_ptr<CVol> vol(tiled ? VA_VolMosaicToVolume(tiled.get(), 35, false) : nullptr);
    if (!vol || vol->D() != 35 || vol->T() != 100) state.SkipWithError("load failed");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 100 * 384 * 384 * 2);
}
BENCHMARK(BM_LoadMosaic4D)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadEnhanced300Frames(benchmark::State& state) {
  loadFolder(state, folders().enhanced, 60, 5, int64_t(300) * 256 * 256 * 2);
}
BENCHMARK(BM_LoadEnhanced300Frames)->Unit(benchmark::kMillisecond)->UseRealTime();

void runDcm2niix(benchmark::State& state, const std::string& folder) {
  const std::string command = "dcm2niix -o " + folders().nii + " -f out -z n -b n " + folder + " > /dev/null 2>&1";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("dcm2niix failed");
}

void BM_Dcm2niix1000Files(benchmark::State& state) { runDcm2niix(state, folders().small); }
BENCHMARK(BM_Dcm2niix1000Files)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Dcm2niix300x512x512(benchmark::State& state) { runDcm2niix(state, folders().large); }
BENCHMARK(BM_Dcm2niix300x512x512)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Dcm2niixMosaic4D(benchmark::State& state) { runDcm2niix(state, folders().mosaic); }
BENCHMARK(BM_Dcm2niixMosaic4D)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Dcm2niixEnhanced300Frames(benchmark::State& state) { runDcm2niix(state, folders().enhanced); }
BENCHMARK(BM_Dcm2niixEnhanced300Frames)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
