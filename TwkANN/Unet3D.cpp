// The 3D U-Nets and their two training exports.
#include "Unet3D.h"

#include <cmath>

#include "Clock.h"

// ---------------------------------------------------------------------------------------------
// Blocks and networks
// ---------------------------------------------------------------------------------------------

namespace {

torch::nn::Conv3dOptions conv3(int in, int out, int kernel) {
  return torch::nn::Conv3dOptions(in, out, kernel).stride(1).padding(kernel / 2).dilation(1).groups(1).bias(true);
}

// Pads x by edge replication to the skip's depth, height and width (the odd voxel on the high side).
torch::Tensor matchSize(const torch::Tensor& x, const torch::Tensor& skip) {
  std::vector<int64_t> pad;
  for (int axis = 4; axis >= 2; --axis) {
    const int64_t diff = skip.size(axis) - x.size(axis);
    pad.push_back(diff / 2);
    pad.push_back(diff - diff / 2);
  }
  if (std::all_of(pad.begin(), pad.end(), [](int64_t p) { return p == 0; })) return x;
  return torch::nn::functional::pad(x, torch::nn::functional::PadFuncOptions(pad).mode(torch::kReplicate));
}

}  // namespace

Doubleconv3DImpl::Doubleconv3DImpl(bool useResidual_, int Kern, double dropRate, int inChannels, int midChannels,
                                   int outChannels)
    : useResidual(useResidual_) {
  TORCH_CHECK(Kern >= 1 && Kern % 2 == 1, "Kernel must be odd");
  conv1 = register_module("conv1", torch::nn::Conv3d(conv3(inChannels, midChannels, Kern)));
  conv2 = register_module("conv2", torch::nn::Conv3d(conv3(midChannels, outChannels, Kern)));
  inn1 = register_module("inn1", torch::nn::InstanceNorm3d(midChannels));
  inn2 = register_module("inn2", torch::nn::InstanceNorm3d(outChannels));
  if (std::abs(dropRate) >= 1e-100)
    dropout = register_module("dropout", torch::nn::Dropout3d(torch::nn::Dropout3dOptions(dropRate)));
  equalize_chanels = register_module("equalize_chanels", torch::nn::Conv3d(conv3(inChannels, outChannels, 1)));
}

torch::Tensor Doubleconv3DImpl::forward(torch::Tensor x) {
  const torch::Tensor identity = x;
  x = conv1(x);
  x = inn1(torch::relu_(x));
  x = conv2(x);
  x = inn2(torch::relu_(x));
  if (dropout) x = dropout(x);
  if (useResidual) x = x + equalize_chanels(identity);
  return x;
}

Downblock3DImpl::Downblock3DImpl(bool useResidual, int Kern, double dropRate, int inChannels, int midChannels,
                                 int outChannels, int poolSize) {
  dblconv = register_module("dblconv", Doubleconv3D(useResidual, Kern, dropRate, inChannels, midChannels, outChannels));
  pool = register_module("pool", torch::nn::MaxPool3d(torch::nn::MaxPool3dOptions(poolSize).stride(poolSize).padding(0).dilation(1).ceil_mode(false)));
}

std::pair<torch::Tensor, torch::Tensor> Downblock3DImpl::forward(const torch::Tensor& x) {
  torch::Tensor f = dblconv(x);
  return {pool(f), f};
}

DownblockPI3DImpl::DownblockPI3DImpl(bool useResidual, int Kern, double dropRate, int inChannels, int midChannels,
                                     int outChannels, int poolSize_)
    : poolSize(poolSize_) {
  dblconv = register_module("dblconv", DoubleconvPI3D(useResidual, Kern, dropRate, inChannels, midChannels, outChannels));
}

std::tuple<torch::Tensor, torch::Tensor, torch::Tensor> DownblockPI3DImpl::forward(const torch::Tensor& x) {
  torch::Tensor f = dblconv(x);
  const int64_t p = poolSize;
  auto [pooled, indices] = at::max_pool3d_with_indices(f, {p, p, p}, {p, p, p}, {0, 0, 0}, {1, 1, 1}, false);
  return {f, pooled, indices};
}

Upinterpol3DImpl::Upinterpol3DImpl(bool useResidual, int Kern, double dropRate, int inChannels, int outChannels) {
  conv = register_module("conv", torch::nn::Conv3d(conv3(inChannels, outChannels, 1)));
  dblconv = register_module("dblconv", Doubleconv3D(useResidual, Kern, dropRate, 2 * outChannels, outChannels, outChannels));
}

torch::Tensor Upinterpol3DImpl::forward(torch::Tensor x, const torch::Tensor& skip) {
  x = torch::nn::functional::interpolate(x, torch::nn::functional::InterpolateFuncOptions()
                                                .scale_factor(std::vector<double>{2.0, 2.0, 2.0})
                                                .mode(torch::kTrilinear)
                                                .align_corners(false));
  x = matchSize(conv(x), skip);
  return dblconv(torch::cat({x, skip}, 1));
}

Upunpool3DImpl::Upunpool3DImpl(bool useResidual, int Kern, double dropRate, int inChannels_, int outChannels_, int poolSize_)
    : poolSize(poolSize_), inChannels(inChannels_), outChannels(outChannels_) {
  dblconv = register_module("dblconv", DoubleconvPI3D(useResidual, Kern, dropRate, 2 * inChannels, outChannels, outChannels));
}

torch::Tensor Upunpool3DImpl::forward(torch::Tensor x, const torch::Tensor& skip, const torch::Tensor& indices) {
  const int64_t p = poolSize;
  x = at::max_unpool3d(x, indices, {skip.size(2), skip.size(3), skip.size(4)}, {p, p, p}, {0, 0, 0});
  x = matchSize(x, skip);
  return dblconv(torch::cat({x, skip}, 1));
}

UNet3D4LEVwSftMaxImpl::UNet3D4LEVwSftMaxImpl(const ANNTRAINPARM* parm, int, double d, int, int B) {
  const bool r = parm && parm->UseResidConn;
  down1 = register_module("down1", Downblock3D(r, 3, 0.0, 1, B, B, 2));
  down2 = register_module("down2", Downblock3D(r, 3, 0.25 * d, B, 2 * B, 2 * B, 2));
  down3 = register_module("down3", Downblock3D(r, 3, 0.5 * d, 2 * B, 4 * B, 4 * B, 2));
  down4 = register_module("down4", Downblock3D(r, 3, 0.75 * d, 4 * B, 8 * B, 8 * B, 2));
  bottom = register_module("bottom", Doubleconv3D(r, 3, d, 8 * B, 16 * B, 16 * B));
  aux_output1 = register_module("aux_output1", torch::nn::Conv3d(conv3(8 * B, 1, 1)));
  aux_output2 = register_module("aux_output2", torch::nn::Conv3d(conv3(4 * B, 1, 1)));
  aux_output3 = register_module("aux_output3", torch::nn::Conv3d(conv3(2 * B, 1, 1)));
  up1 = register_module("up1", Upinterpol3D(r, 3, 0.75 * d, 16 * B, 8 * B));
  up2 = register_module("up2", Upinterpol3D(r, 3, 0.5 * d, 8 * B, 4 * B));
  up3 = register_module("up3", Upinterpol3D(r, 3, 0.25 * d, 4 * B, 2 * B));
  up4 = register_module("up4", Upinterpol3D(r, 3, 0.0, 2 * B, B));
  final = register_module("final", torch::nn::Conv3d(conv3(B, 2, 1)));
}

torch::Tensor UNet3D4LEVwSftMaxImpl::forward(torch::Tensor x) {
  auto [p1, s1] = down1(x);
  auto [p2, s2] = down2(p1);
  auto [p3, s3] = down3(p2);
  auto [p4, s4] = down4(p3);
  torch::Tensor u = up1(bottom(p4), s4);
  u = up2(u, s3);
  u = up3(u, s2);
  u = up4(u, s1);
  return final(u);
}

UNetPI3D4LEVwSftMaxImpl::UNetPI3D4LEVwSftMaxImpl(const ANNTRAINPARM* parm, int, double d, int, int B) {
  const bool r = parm && parm->UseResidConn;
  start = register_module("start", torch::nn::Conv3d(conv3(1, B, 1)));
  down1 = register_module("down1", DownblockPI3D(r, 3, 0.25 * d, B, 2 * B, 2 * B, 2));
  down2 = register_module("down2", DownblockPI3D(r, 3, 0.5 * d, 2 * B, 4 * B, 4 * B, 2));
  down3 = register_module("down3", DownblockPI3D(r, 3, 0.75 * d, 4 * B, 8 * B, 8 * B, 2));
  down4 = register_module("down4", DownblockPI3D(r, 3, d, 8 * B, 16 * B, 16 * B, 2));
  bottom = register_module("bottom", DoubleconvPI3D(r, 3, d, 16 * B, 16 * B, 16 * B));
  up1 = register_module("up1", Upunpool3D(r, 3, 0.75 * d, 16 * B, 8 * B, 2));
  up2 = register_module("up2", Upunpool3D(r, 3, 0.5 * d, 8 * B, 4 * B, 2));
  up3 = register_module("up3", Upunpool3D(r, 3, 0.25 * d, 4 * B, 2 * B, 2));
  up4 = register_module("up4", Upunpool3D(r, 3, 0.0, 2 * B, B, 2));
  final = register_module("final", torch::nn::Conv3d(conv3(B, 2, 1)));
}

torch::Tensor UNetPI3D4LEVwSftMaxImpl::forward(torch::Tensor x) {
  x = start(x);
  auto [s1, p1, i1] = down1(x);
  auto [s2, p2, i2] = down2(p1);
  auto [s3, p3, i3] = down3(p2);
  auto [s4, p4, i4] = down4(p3);
  torch::Tensor u = up1(bottom(p4), s4, i4);
  u = up2(u, s3, i3);
  u = up3(u, s2, i2);
  u = up4(u, s1, i1);
  return final(u);
}

// ---------------------------------------------------------------------------------------------
// Training
// ---------------------------------------------------------------------------------------------

namespace {

template <class Net>
bool trainUnet3D(const wchar_t* prefix, bool concurrent, ANNTRAINPARM* parm, const wchar_t* folder, bool show) {
  const CString title = L"Unet3D with SoftMax";
  if (!ANN_CheckTrainParm(prefix, parm, ANN_Family::Unet3D)) return false;
  std::unique_ptr<torch::Device> device(ANN_ChooseDevice(parm->UseGpu != 0));
  if (!device) return false;
  uint64_t available = 0;
  PR_GetTotalSystemMemory(nullptr, &available);
  const int64_t B = std::max(1, parm->BatchLng);
  const int evalEvery = std::max(1, parm->EvalEvery);
  const int storage = parm->TensorType == TORCHDT_FLOAT32 ? TORCHDT_FLOAT32 : TORCHDT_FLOAT64;
  const torch::ScalarType type = storage == TORCHDT_FLOAT32 ? torch::kFloat : torch::kDouble;
  ANN_SampleSet train, test;
  DIM3D dims;
  if (!ANN_LoadVolumePairs(prefix, folder, storage, parm->SigNormMethod, parm->SigNormIntvLo, parm->SigNormIntvHi,
                           &train, &test, &dims, show))
    return false;
  std::shared_ptr<Net> net;
  try {
    net = std::make_shared<Net>(parm, 0, 0.0, 0, parm->NumBaseFeatureLayers);
    net->to(*device, type);
  } catch (...) {
    ANN_NamedMessage(prefix, L"Model\\Optimizer initialization error : \n" + ANN_CurrentExceptionText());
    return false;
  }
  ANN_InitParamsXavier(*net);
  // A CPU run has no device memory to report: the memory lines show 0.
  ANN_ShowMessage(FmtStr(L"Num Model Parms= %u\nCUDA TotMem (MB)= %u\nCUDA_StartUsed= %u\nModel uses= %u\n",
                         unsigned(ANN_ParameterCount(*net)), 0u, 0u, 0u),
                  MB_OK | MB_ICONINFORMATION);
  int W = 0, H = 0, D = 0;
  int64_t V = 0;
  VA_VolWHDTPV(&dims, &W, &H, &D, nullptr, nullptr, &V);
  const int bytes = VA_TorchDataSize(storage);
  ANN_Counted<uint8_t> stageImages(static_cast<uint8_t*>(pf_malloc(B * V * bytes)));
  ANN_Counted<uint8_t> stageLabels(static_cast<uint8_t*>(pf_malloc(B * V * bytes)));
  if (!stageImages || !stageLabels) return false;
  ANN_Counted<uint8_t> batchImages(static_cast<uint8_t*>(pf_malloc(B * V * bytes)));
  ANN_Counted<uint8_t> batchLabels(static_cast<uint8_t*>(pf_malloc(B * V * bytes)));
  if (!batchImages || !batchLabels) {
    ANN_NamedMessage(prefix, L"Failed CUDA host alloc");
    return false;
  }
  ANN_RandGen gen;
  if (!gen.p) return false;
  const int64_t tsamples = train.count;
  const int64_t nBatches = (tsamples + B - 1) / B;
  const int64_t total = nBatches * std::max(0, parm->NumEpochs);
  ANN_Progress progress(title, show);
  ANN_File log;
  if (!ANN_OpenEpochLog(prefix, parm->FoldLogPath, "epoch\tTrainDICElossWithAug\tTestDICElossNoAug\t\n", &log)) return false;
  const long startClock = twk::clockMs();
  const int64_t startCounter = PR_GetPerformanceCounter();
  torch::optim::Adam optimizer(net->parameters(), torch::optim::AdamOptions(0.001));
  auto forward = [&](const torch::Tensor& x) { return net->forward(x); };
  double epochLoss = 0, epochDice = 0, validDice = 0, bestValid = 0;
  for (int e = 0; e < parm->NumEpochs; ++e) {
    const double lr = (std::cos(e * 2 * M_PI / 10) + 1) * 0.000999 * 0.5 + 1e-6;
    ANN_SetLearningRate(optimizer, lr);
    ANN_Counted<int> order(PR_ShuffleIntegerArray(gen.p, tsamples));
    if (!order) return false;
    double lossSum = 0, diceSum = 0;
    net->train();
    int64_t pending = 0;
    for (int64_t b = 0; b <= nBatches; ++b) {
      double batchLoss = 0;
      int64_t gathered = 0;
      bool trained = true;
      CString failure;
      auto gather = [&] {
        if (b >= nBatches) return;
        const int64_t first = b * B, last = std::min(tsamples, first + B) - 1;
        gathered = last - first + 1;
        VA_ObtainNextBatch(storage, train.images, V, storage, train.labels, V, order.get(), first, last,
                           stageImages.get(), stageLabels.get());
      };
      auto trainTask = [&] {
        if (b < 1) return;
        try {
          const int64_t n = pending;
          const torch::Tensor x = torch::from_blob(batchImages.get(), {n, 1, D, H, W}, type).to(*device);
          const torch::Tensor y = torch::from_blob(batchLabels.get(), {n, 1, D, H, W}, type).to(*device);
          ANN_ClearGradients(optimizer);
          for (int64_t i = 0; i < n; ++i) {
            auto [loss, dice] = ANN_SoftDiceLoss(net->forward(x.slice(0, i, i + 1)), y.slice(0, i, i + 1));
            loss = loss / double(n);
            batchLoss += loss.item().toDouble();
            diceSum += dice.item().toDouble();
            loss.backward();
          }
          optimizer.step();
          lossSum += batchLoss;
        } catch (...) {
          failure = ANN_CurrentExceptionText();
          trained = false;
        }
      };
      ANN_ParallelStep(gather, trainTask, concurrent);
      if (!trained) {
        ANN_NamedMessage(prefix, L"Error : \n" + failure);
        return false;
      }
      if (b < nBatches) {
        std::memcpy(batchImages.get(), stageImages.get(), size_t(B * V * bytes));
        std::memcpy(batchLabels.get(), stageLabels.get(), size_t(B * V * bytes));
        pending = gathered;
      }
      if (b > 0) {
        const int64_t step = e * nBatches + b;
        const CString line = FmtStr(
            L"%s : (tsamples=%u\\LR=%e) E%u_of_%u\\B%u_of_%u BatchLoss=%e EpochLoss=%e EpochDICE=%e ValidDICE=%e BestValidDICE=%e",
            title.GetString(), unsigned(tsamples), lr, unsigned(e), unsigned(parm->NumEpochs), unsigned(b - 1),
            unsigned(nBatches), batchLoss, epochLoss, epochDice, validDice, bestValid);
        if (!progress.trainingStep(prefix, step, total, line, startClock, show)) return false;
      }
    }
    epochLoss = lossSum / double(tsamples);
    epochDice = diceSum / double(tsamples);
    if (e % evalEvery == 0) {
      net->eval();
      c10::InferenceMode inference;
      validDice = ANN_BatchDice(forward, *device, type, W, H, D, storage, stageImages.get(), stageLabels.get(),
                                test.images, test.labels, test.count);
      if (validDice > bestValid) bestValid = validDice;  // not-a-number leaves the best as it is
    }
    if (log.f && !ANN_Printf(log.f, "%u\t%e\t%e\t\n", unsigned(e), 1 - epochDice, 1 - validDice)) return false;
  }
  progress.end();
  const double elapsed = PR_GetElapsedTime(startCounter);
  ANN_Progress results(L"Generating results", show);
  net->eval();
  double testDice = 0, trainDice = 0;
  {
    c10::InferenceMode inference;
    testDice = ANN_BatchDice(forward, *device, type, W, H, D, storage, stageImages.get(), stageLabels.get(), test.images,
                             test.labels, test.count);
    trainDice = ANN_BatchDice(forward, *device, type, W, H, D, storage, stageImages.get(), stageLabels.get(),
                              train.images, train.labels, train.count);
  }
  ANN_ShowMessage(FmtStr(L"Nepoch=%u\nLasDice = %e\nTrainDICE = %e\nTestDICE = %e\nBestValidDICE=%e\nTime (s)=%8.2lf",
                         unsigned(parm->NumEpochs), epochDice, trainDice, testDice, bestValid, elapsed),
                  MB_OK | MB_ICONINFORMATION);
  return true;
}

}  // namespace

TWKANN_API bool TWKANN_TrainUnet3DwSftMax(ANNTRAINPARM* parm, const wchar_t* dataFolder, bool show) {
  return ANN_Guarded(L"TWKANN_TrainUnet3DwSftMax", false, [&] {
    return trainUnet3D<UNet3D4LEVwSftMaxImpl>(L"TrainUnet3DwSftMax", true, parm, dataFolder, show);
  });
}

TWKANN_API bool TWKANN_TrainUnetPI3DwSftMax(ANNTRAINPARM* parm, const wchar_t* dataFolder, bool show) {
  return ANN_Guarded(L"TWKANN_TrainUnetPI3DwSftMax", false, [&] {
    return trainUnet3D<UNetPI3D4LEVwSftMaxImpl>(L"TrainUnetPI3DwSftMax", false, parm, dataFolder, show);
  });
}
