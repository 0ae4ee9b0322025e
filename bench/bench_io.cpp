// Loading a 512x512x300 int16 NIfTI and its .nii.gz, against reading the same bytes with `cat` and
// `gzip -dc` in the same run: the loads should stay within 1.3 times the plain reads. Volumes whose
// values need a real frame (int16 CT values with negatives, float32, int16 with a rescale) are
// compared with reading their bytes plus filling a real buffer of the volume's size once
// (BM_FillRealBuffer): those loads should stay within 3 times that sum.

#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <tbb/parallel_for.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "Vol.h"
#include "io/ImageFiles.h"

namespace {

constexpr int kW = 512, kH = 512, kD = 300;

// A NIfTI-1 file written by hand: datatype 4 (int16) or 16 (float32), slope and intercept as given.
template <class T>
void writeNifti(const std::string& path, int16_t datatype, float slope, float intercept, const std::vector<T>& voxels) {
  uint8_t hdr[352] = {};
  auto put32 = [&](int off, int32_t v) { std::memcpy(hdr + off, &v, 4); };
  auto put16 = [&](int off, int16_t v) { std::memcpy(hdr + off, &v, 2); };
  auto putf = [&](int off, float v) { std::memcpy(hdr + off, &v, 4); };
  put32(0, 348);
  const int16_t dims[8] = {3, kW, kH, kD, 1, 1, 1, 1};
  for (int i = 0; i < 8; ++i) put16(40 + 2 * i, dims[i]);
  put16(70, datatype);
  put16(72, int16_t(8 * sizeof(T)));
  for (int i = 0; i < 4; ++i) putf(76 + 4 * i, i == 0 ? 1.0f : 0.7f);
  putf(108, 352);
  putf(112, slope);
  putf(116, intercept);
  std::memcpy(hdr + 344, "n+1", 4);
  FILE* fp = std::fopen(path.c_str(), "wb");
  std::fwrite(hdr, 1, sizeof(hdr), fp);
  std::fwrite(voxels.data(), sizeof(T), voxels.size(), fp);
  std::fclose(fp);
}

struct Files {
  std::string dir, nii, gz, ct, real, rescaled;
  Files() {
    dir = (std::filesystem::temp_directory_path() / ("bench_io_" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(dir);
    nii = dir + "/scan.nii";
    gz = dir + "/scan.nii.gz";
    ct = dir + "/ct.nii";
    real = dir + "/real.nii";
    rescaled = dir + "/rescaled.nii";
    const size_t n = size_t(kW) * kH * kD;
    // int16 voxels of an MR-like range (0..4095): the unsigned path.
    std::vector<int16_t> voxels(n);
    for (size_t i = 0; i < n; ++i) voxels[i] = int16_t((i * 2654435761u >> 7) & 4095);
    writeNifti(nii, 4, 1.0f, 0.0f, voxels);
    gzFile g = gzopen(gz.c_str(), "wb6");
    std::vector<uint8_t> bytes(352);
    FILE* fp = std::fopen(nii.c_str(), "rb");
    std::fread(bytes.data(), 1, bytes.size(), fp);
    std::fclose(fp);
    gzwrite(g, bytes.data(), unsigned(bytes.size()));
    gzwrite(g, voxels.data(), unsigned(voxels.size() * 2));
    gzclose(g);
    // CT in Hounsfield units (-1024..3071): signed values that need a real frame.
    for (size_t i = 0; i < n; ++i) voxels[i] = int16_t(int((i * 2654435761u >> 7) & 4095) - 1024);
    writeNifti(ct, 4, 1.0f, 0.0f, voxels);
    // The same stored values with a rescale, as scanners write CT.
    for (size_t i = 0; i < n; ++i) voxels[i] = int16_t((i * 2654435761u >> 7) & 4095);
    writeNifti(rescaled, 4, 1.0f, -1024.0f, voxels);
    std::vector<float> floats(n);
    for (size_t i = 0; i < n; ++i) floats[i] = float((i * 2654435761u >> 7) & 4095) * 0.25f - 100.0f;
    writeNifti(real, 16, 1.0f, 0.0f, floats);
  }
  ~Files() { std::filesystem::remove_all(dir); }
};

const Files& files() {
  static Files f;
  return f;
}

void load(benchmark::State& state, const std::string& path) {
  const CString p = CString::fromUtf8(path);
  // One untimed load first: the first run of a process also starts the thread pool and takes the
  // file's pages into the cache, which would make the iteration estimate settle on one run.
  delete VA_RAW_LoadVolume(p, nullptr, nullptr, nullptr, false);
  for (auto _ : state) {
    CVol* vol = VA_RAW_LoadVolume(p, nullptr, nullptr, nullptr, false);
    if (!vol) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(vol);
    delete vol;
  }
}

void shell(benchmark::State& state, const std::string& command) {
  if (std::system(command.c_str()) != 0) state.SkipWithError("command failed");  // untimed, as for the loads
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("command failed");
}

// A fresh buffer of the real frame's size filled once, as a load that converts must at least do:
// in parallel blocks, each thread populating its own pages, so the aim is set by the fastest fill.
void BM_FillRealBuffer(benchmark::State& state) {
  const int64_t bytes = int64_t(kW) * kH * kD * 8, block = int64_t(4) << 20;
  for (auto _ : state) {
    auto* p = static_cast<uint8_t*>(pf_malloc(bytes));
    if (!p) state.SkipWithError("out of memory");
    pf_advise_hugepages(p, bytes);
    tbb::parallel_for(int64_t(0), (bytes + block - 1) / block, [&](int64_t b) {
      const int64_t first = b * block, count = std::min(block, bytes - first);
      pf_prefault(p + first, count, 0);
      std::memset(p + first, 1, size_t(count));
    });
    benchmark::DoNotOptimize(p);
    pf_free(&p);
  }
}

void BM_LoadNifti(benchmark::State& s) { load(s, files().nii); }
void BM_CatNifti(benchmark::State& s) { shell(s, "cat '" + files().nii + "' > /dev/null"); }
void BM_LoadNiftiGz(benchmark::State& s) { load(s, files().gz); }
void BM_GunzipNiftiGz(benchmark::State& s) { shell(s, "gzip -dc '" + files().gz + "' > /dev/null"); }
void BM_LoadNiftiSignedCt(benchmark::State& s) { load(s, files().ct); }
void BM_LoadNiftiRescaled(benchmark::State& s) { load(s, files().rescaled); }
void BM_LoadNiftiFloat(benchmark::State& s) { load(s, files().real); }
void BM_CatNiftiFloat(benchmark::State& s) { shell(s, "cat '" + files().real + "' > /dev/null"); }

}  // namespace

BENCHMARK(BM_CatNifti)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadNifti)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GunzipNiftiGz)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadNiftiGz)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FillRealBuffer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadNiftiSignedCt)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadNiftiRescaled)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CatNiftiFloat)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadNiftiFloat)->Unit(benchmark::kMillisecond)->UseRealTime();
