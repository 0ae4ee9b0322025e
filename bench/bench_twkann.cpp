// Speed of the network library's BRUNET2D against the same network written here as plain torch::nn
// modules with a hand-written forward, in the same run: inference of a batch of 256 x 256 slices
// and one training epoch on synthetic data (same loss, optimiser and micro-batches), at one intra-op
// thread and at all cores. Also the whole inference export on a 256 x 256 x 8 volume. The counter
// peak_rss_MB is the process's peak resident memory after the benchmark (it only grows within a run).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "Brunet2D.h"
#include "volume/Frame.h"

namespace {

constexpr int kBase = 16, kClasses = 3, kSize = 256, kBatch = 8;

ANNMODELCFG config() {
  ANNMODELCFG c;
  c.ConvKern = 3;
  c.BaseChan = kBase;
  c.useResidual = true;
  c.uInChan = 1;
  c.numClassesMC = kClasses;
  c.Wi = c.Hi = kSize;
  return c;
}

// The plain network: the same layers, registered flatly, and one forward written out.
struct PlainUNet : torch::nn::Module {
  struct Block {
    torch::nn::Conv2d c1{nullptr}, c2{nullptr}, eq{nullptr};
    torch::nn::InstanceNorm2d n1{nullptr}, n2{nullptr};
  };
  std::vector<Block> blocks;
  torch::nn::Conv2d start{nullptr}, final{nullptr};

  Block block(int i, int in, int out) {
    Block b;
    auto conv = [](int a, int o, int k) { return torch::nn::Conv2d(torch::nn::Conv2dOptions(a, o, k).padding(k / 2)); };
    const std::string p = "b" + std::to_string(i) + "_";
    b.c1 = register_module(p + "c1", conv(in, out, 3));
    b.c2 = register_module(p + "c2", conv(out, out, 3));
    b.n1 = register_module(p + "n1", torch::nn::InstanceNorm2d(torch::nn::InstanceNorm2dOptions(out).affine(true)));
    b.n2 = register_module(p + "n2", torch::nn::InstanceNorm2d(torch::nn::InstanceNorm2dOptions(out).affine(true)));
    if (in != out) b.eq = register_module(p + "eq", conv(in, out, 1));
    return b;
  }
  PlainUNet() {
    const int B = kBase;
    start = register_module("start", torch::nn::Conv2d(torch::nn::Conv2dOptions(1, B, 1)));
    const int io[9][2] = {{B, 2 * B}, {2 * B, 4 * B}, {4 * B, 8 * B}, {8 * B, 16 * B}, {16 * B, 16 * B},
                          {32 * B, 8 * B}, {16 * B, 4 * B}, {8 * B, 2 * B}, {4 * B, B}};
    for (int i = 0; i < 9; ++i) blocks.push_back(block(i, io[i][0], io[i][1]));
    final = register_module("final", torch::nn::Conv2d(torch::nn::Conv2dOptions(B, kClasses, 1)));
  }
  static torch::Tensor run(Block& b, const torch::Tensor& x) {
    torch::Tensor y = torch::silu(b.n1(b.c1(x)));
    y = b.n2(b.c2(y));
    return torch::silu(y + (b.eq ? b.eq(x) : x));
  }
  torch::Tensor forward(const torch::Tensor& x) {
    torch::Tensor h = start(x);
    torch::Tensor skips[4], indices[4];
    for (int i = 0; i < 4; ++i) {
      skips[i] = run(blocks[size_t(i)], h);
      std::tie(h, indices[i]) = at::max_pool2d_with_indices(skips[i], {2, 2}, {2, 2}, {0, 0}, {1, 1}, false);
    }
    h = run(blocks[4], h);
    for (int i = 0; i < 4; ++i) {
      const torch::Tensor& s = skips[3 - i];
      h = at::max_unpool2d(h, indices[3 - i], {s.size(2), s.size(3)});
      h = run(blocks[size_t(5 + i)], torch::cat({h, s}, 1));
    }
    return final(h);
  }
};

int threadsOf(const benchmark::State& state) {
  return state.range(0) == 0 ? int(std::thread::hardware_concurrency()) : int(state.range(0));
}

void reportPeak(benchmark::State& state) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MB"] = double(usage.ru_maxrss) / 1024.0;
}

template <class Forward>
void inference(benchmark::State& state, Forward&& forward) {
  at::set_num_threads(threadsOf(state));
  torch::manual_seed(1);
  const torch::Tensor x = torch::randn({kBatch, 1, kSize, kSize});
  c10::InferenceMode guard;
  for (auto _ : state) benchmark::DoNotOptimize(forward(x).argmax(1));
  state.SetItemsProcessed(int64_t(state.iterations()) * kBatch);
  state.counters["threads"] = threadsOf(state);
  reportPeak(state);
}

void LibraryInference(benchmark::State& state) {
  const ANNMODELCFG cfg = config();
  BRUNET2DFXImpl net(cfg, 0, cfg.catsz);
  net.eval();
  inference(state, [&](const torch::Tensor& x) { return net.forward(x, torch::Tensor()); });
}

void PlainInference(benchmark::State& state) {
  PlainUNet net;
  net.eval();
  inference(state, [&](const torch::Tensor& x) { return net.forward(x); });
}

// One epoch over 32 synthetic samples of 128 x 128: batches of 8 in micro-batches of 4.
constexpr int kTrainSize = 128, kSamples = 32, kTrainBatch = 8, kMicro = 4;

struct Samples {
  std::vector<void*> images, labels, masks;
  Samples() {
    torch::manual_seed(2);
    for (int i = 0; i < kSamples; ++i) {
      images.push_back(VA_FlexDim_NewImage(kTrainSize, kTrainSize, 1));
      labels.push_back(VA_FlexDim_NewBytemap(kTrainSize, kTrainSize));
      masks.push_back(VA_FlexDim_NewBytemap(kTrainSize, kTrainSize));
      const torch::Tensor r = torch::rand({kTrainSize * kTrainSize});
      std::memcpy(VA_FlexDimPixels(images.back()), r.data_ptr<float>(), size_t(r.numel()) * 4);
      const auto values = r.accessor<float, 1>();
      for (int k = 0; k < kTrainSize * kTrainSize; ++k)
        VA_FlexDimBytes(labels.back())[k] = uint8_t(values[k] * kClasses), VA_FlexDimBytes(masks.back())[k] = 1;
    }
  }
  ~Samples() {
    for (auto* list : {&images, &labels, &masks})
      for (void*& p : *list) pf_free(&p);
  }
};

void setLossState() {
  static const ANNCLASSLOSS table[kClasses] = {{0.2, 0.5, 0.5, 1}, {0.4, 0.5, 0.5, 1.5}, {0.4, 0.3, 0.7, 2}};
  ANN_Brunet2DState().alpha = 0.5;
  ANN_Brunet2DState().W = ANN_Brunet2DState().H = kTrainSize;
  ANN_MakeClassLossTables(table, kClasses, torch::kCPU);
}

void LibraryTrainingEpoch(benchmark::State& state) {
  at::set_num_threads(threadsOf(state));
  setLossState();
  Samples s;
  const ANNMODELCFG cfg = config();
  BRUNET2DFXImpl net(cfg, 0, cfg.catsz);
  auto adam = ANN_MakeAdamW(net, 0.001, 0.0001);
  for (auto _ : state)
    for (int b = 0; b < kSamples; b += kTrainBatch)
      BatchForward_FlexDim(torch::kCPU, 6, 1, net, *adam, kClasses, kTrainBatch, kMicro, s.images.data() + b,
                           s.labels.data() + b, s.masks.data() + b, nullptr);
  state.SetItemsProcessed(int64_t(state.iterations()) * kSamples);
  state.counters["threads"] = threadsOf(state);
  reportPeak(state);
}

void PlainTrainingEpoch(benchmark::State& state) {
  at::set_num_threads(threadsOf(state));
  setLossState();
  Samples s;
  PlainUNet net;
  torch::optim::AdamW adam(net.parameters(), torch::optim::AdamWOptions(0.001).weight_decay(0.0001));
  const int n = kTrainSize;
  for (auto _ : state)
    for (int b = 0; b < kSamples; b += kTrainBatch) {
      net.train();
      adam.zero_grad();
      for (int m = 0; m < kTrainBatch; m += kMicro) {
        torch::Tensor x = torch::empty({kMicro, 1, n, n}), y = torch::empty({kMicro, 1, n, n}, torch::kUInt8);
        torch::Tensor mask = torch::empty({kMicro, 1, n, n}, torch::kUInt8);
        for (int k = 0; k < kMicro; ++k) {
          const int i = b + m + k;
          x[k].copy_(torch::from_blob(VA_FlexDimPixels(s.images[size_t(i)]), {1, n, n}));
          y[k][0].copy_(torch::from_blob(VA_FlexDimBytes(s.labels[size_t(i)]), {n, n}, torch::kUInt8));
          mask[k][0].copy_(torch::from_blob(VA_FlexDimBytes(s.masks[size_t(i)]), {n, n}, torch::kUInt8));
        }
        (ANN_BRUNET2DLoss(net.forward(x), kClasses, y, mask) * (double(kMicro) / kTrainBatch)).backward();
      }
      adam.step();
    }
  state.SetItemsProcessed(int64_t(state.iterations()) * kSamples);
  state.counters["threads"] = threadsOf(state);
  reportPeak(state);
}

// The whole export: model load from the cache, in-plane resampling, slabs, the network, arg-max
// and the resampling back, for a 256 x 256 x 8 volume.
void InferenceExport(benchmark::State& state) {
  at::set_num_threads(threadsOf(state));
  const std::string folder = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/bench_twkann";
  std::filesystem::create_directories(folder);
  const CString model(CString((folder + "/model.pt").c_str())), cfgPath(CString((folder + "/model.mcfg").c_str()));
  const ANNMODELCFG cfg = config();
  BRUNET2DFXImpl net(cfg, 0, cfg.catsz);
  ANN_SaveModule(net, model);
  ANNTRAINPARM parm{};
  ANN_WriteModelCfg(cfgPath, &cfg, &parm);
  FRAME* volume = VA_VolCreateUniform(FRM_REAL, DIM3D{kSize, kSize, kBatch, 1}, 1.0);
  for (auto _ : state) {
    FRAME* labels = TWKANN_BRUNET2D_SegmentationTmsAsCat(false, cfgPath, model, volume);
    benchmark::DoNotOptimize(labels);
    PR_FrameDelete(&labels);
  }
  PR_FrameDelete(&volume);
  state.SetItemsProcessed(int64_t(state.iterations()) * kBatch);
  state.counters["threads"] = threadsOf(state);
  reportPeak(state);
}

}  // namespace

// Argument: intra-op threads (0: every core). Plain before library, so that the library's peak
// memory figure includes anything the plain run left.
BENCHMARK(PlainInference)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LibraryInference)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(PlainTrainingEpoch)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LibraryTrainingEpoch)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(InferenceExport)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
