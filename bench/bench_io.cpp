// Loading a 512x512x300 int16 NIfTI and its .nii.gz, against reading the same bytes with `cat` and
// `gzip -dc` in the same run: the loads should stay within 1.3 times the plain reads.

#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "CString.h"
#include "Vol.h"
#include "io/ImageFiles.h"

namespace {

struct Files {
  std::string dir, nii, gz;
  Files() {
    dir = (std::filesystem::temp_directory_path() / ("bench_io_" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(dir);
    nii = dir + "/scan.nii";
    gz = dir + "/scan.nii.gz";
    const int w = 512, h = 512, d = 300;
    // A NIfTI-1 header written by hand: int16 voxels of an MR-like range (0..4095).
    uint8_t hdr[352] = {};
    auto put32 = [&](int off, int32_t v) { std::memcpy(hdr + off, &v, 4); };
    auto put16 = [&](int off, int16_t v) { std::memcpy(hdr + off, &v, 2); };
    auto putf = [&](int off, float v) { std::memcpy(hdr + off, &v, 4); };
    put32(0, 348);
    const int16_t dims[8] = {3, w, h, d, 1, 1, 1, 1};
    for (int i = 0; i < 8; ++i) put16(40 + 2 * i, dims[i]);
    put16(70, 4);   // int16
    put16(72, 16);  // bits
    for (int i = 0; i < 4; ++i) putf(76 + 4 * i, i == 0 ? 1.0f : 0.7f);
    putf(108, 352);
    putf(112, 1.0f);  // slope
    std::memcpy(hdr + 344, "n+1", 4);
    std::vector<int16_t> voxels(size_t(w) * h * d);
    for (size_t i = 0; i < voxels.size(); ++i) voxels[i] = int16_t((i * 2654435761u >> 7) & 4095);
    FILE* fp = std::fopen(nii.c_str(), "wb");
    std::fwrite(hdr, 1, sizeof(hdr), fp);
    std::fwrite(voxels.data(), 2, voxels.size(), fp);
    std::fclose(fp);
    gzFile g = gzopen(gz.c_str(), "wb6");
    gzwrite(g, hdr, sizeof(hdr));
    gzwrite(g, voxels.data(), unsigned(voxels.size() * 2));
    gzclose(g);
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

void BM_LoadNifti(benchmark::State& s) { load(s, files().nii); }
void BM_CatNifti(benchmark::State& s) { shell(s, "cat '" + files().nii + "' > /dev/null"); }
void BM_LoadNiftiGz(benchmark::State& s) { load(s, files().gz); }
void BM_GunzipNiftiGz(benchmark::State& s) { shell(s, "gzip -dc '" + files().gz + "' > /dev/null"); }

}  // namespace

BENCHMARK(BM_CatNifti)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadNifti)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GunzipNiftiGz)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadNiftiGz)->Unit(benchmark::kMillisecond)->UseRealTime();
