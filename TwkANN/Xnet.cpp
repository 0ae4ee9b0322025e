// The Xnet and Ynet breast networks: architecture, losses, batch step, learning-rate search,
// evaluation and the two training exports.
#include "Xnet.h"

#include <cmath>
#include <filesystem>
#include <system_error>

#include "Clock.h"
#include "paths/ValueText.h"

// ---------------------------------------------------------------------------------------------
// Architecture
// ---------------------------------------------------------------------------------------------

namespace {

torch::nn::Conv2dOptions convOptions(int in, int out, int kernel) {
  return torch::nn::Conv2dOptions(in, out, kernel).stride(1).padding(kernel / 2).bias(true);
}

}  // namespace

Comboconv2DImpl::Comboconv2DImpl(bool useResidual_, int Kern, double dropRate, int inChannels, int outChannels)
    : useResidual(useResidual_), sameChannels(inChannels == outChannels) {
  TORCH_CHECK(Kern >= 1 && Kern % 2 == 1, "Kernel must be odd");
  conv1 = register_module("conv1", torch::nn::Conv2d(convOptions(inChannels, outChannels, Kern)));
  conv2 = register_module("conv2", torch::nn::Conv2d(convOptions(outChannels, outChannels, Kern)));
  conv3 = register_module("conv3", torch::nn::Conv2d(convOptions(outChannels, outChannels, Kern)));
  norm1 = register_module("norm1", torch::nn::InstanceNorm2d(outChannels));
  norm2 = register_module("norm2", torch::nn::InstanceNorm2d(outChannels));
  norm3 = register_module("norm3", torch::nn::InstanceNorm2d(outChannels));
  if (std::abs(dropRate) >= 1e-100)
    dropout = register_module("dropout", torch::nn::Dropout2d(torch::nn::Dropout2dOptions(dropRate)));
  equalize_channels = register_module("equalize_channels", torch::nn::Conv2d(convOptions(inChannels, outChannels, 1)));
}

torch::Tensor Comboconv2DImpl::forward(torch::Tensor x, bool singleConv) {
  const torch::Tensor identity = x;
  x = norm1(conv1(x));
  if (!singleConv) x = norm2(conv2(torch::silu(x)));
  if (dropout) x = dropout(x);
  if (useResidual) x = x + (sameChannels ? identity : equalize_channels(identity));
  return torch::silu(x);
}

XMODELImpl::XMODELImpl(const ANNMODELCFG& cfg)
    : useResidual(cfg.useResidual),
      numClassesMC(cfg.numClassesMC),
      dropRate(0.0),
      baseChan(cfg.BaseChan),
      convKern(cfg.ConvKern),
      inChannels(cfg.uInChan) {
  // Width 40, kernel 3 and no dropout whatever the configuration says.
  start = register_module("start", torch::nn::Conv2d(convOptions(inChannels, 40, 1)));
  for (int k = 1; k <= 20; ++k)
    feat.push_back(register_module("feat" + std::to_string(k), Comboconv2D(useResidual, 3, 0.0, 40, 40)));
  final_bin = register_module("final_bin", Comboconv2D(useResidual, 3, 0.0, 840, 1));
  final_mc = register_module("final_mc", Comboconv2D(useResidual, 3, 0.0, 840, numClassesMC));
}

std::pair<torch::Tensor, torch::Tensor> XMODELImpl::forward(torch::Tensor x) {
  try {
    std::vector<torch::Tensor> maps{start(x)};
    for (auto& block : feat) maps.push_back(block(maps.back(), false));
    const torch::Tensor c = torch::cat(maps, 1);
    const torch::Tensor p = torch::sigmoid(final_bin(c, true));
    const torch::Tensor m = final_mc(c, true);
    return {p, m * p};
  } catch (...) {
    ANN_ShowMessage(L"Forward Error: " + ANN_CurrentExceptionText(), MB_OK | MB_ICONINFORMATION);
    return {torch::Tensor(), torch::Tensor()};
  }
}

YMODELImpl::YMODELImpl(const ANNMODELCFG& cfg, bool binaryHead_)
    : useResidual(cfg.useResidual),
      numClassesMC(cfg.numClassesMC),
      dropRate(0.0),
      baseChan(cfg.BaseChan),
      convKern(cfg.ConvKern),
      inChannels(cfg.uInChan),
      binaryHead(binaryHead_) {
  for (int k = 1; k <= 23; k += 2)
    feat.push_back(register_module("feat" + std::to_string(k), torch::nn::Conv2d(convOptions(inChannels, 16, k))));
  if (binaryHead) final_bin = register_module("final_bin", Comboconv2D(useResidual, 1, 0.0, 192, 1));
  final_mc = register_module("final_mc", Comboconv2D(useResidual, 1, 0.0, 192, numClassesMC));
}

std::pair<torch::Tensor, torch::Tensor> YMODELImpl::forward(torch::Tensor x) {
  std::vector<torch::Tensor> maps;
  for (auto& conv : feat) maps.push_back(conv(x));
  const torch::Tensor c = torch::cat(maps, 1);
  const torch::Tensor m = final_mc(c, true);
  if (!binaryHead) return {torch::Tensor(), m};
  const torch::Tensor p = torch::sigmoid(final_bin(c, true));
  return {p, m * p};
}

// ---------------------------------------------------------------------------------------------
// Losses and batch step
// ---------------------------------------------------------------------------------------------

ANN_XnetSettings& ANN_XnetSettingsOf(bool ynet) {
  static ANN_XnetSettings settings[2];
  return settings[ynet ? 1 : 0];
}

namespace {

torch::Tensor oneHot(const torch::Tensor& classes, int C) {
  return torch::one_hot(classes, C).permute({0, 3, 1, 2}).to(torch::kFloat);
}

}  // namespace

std::pair<torch::Tensor, torch::Tensor> ANN_XnetMultiClassLoss(const ANN_XnetSettings& s, int C, const torch::Tensor& m,
                                                               const torch::Tensor& y) {
  const torch::Tensor t = y.squeeze(1).to(torch::kLong);
  auto options = torch::nn::functional::CrossEntropyFuncOptions();
  if (s.classWeights.defined()) options.weight(s.classWeights.to(m.scalar_type()));
  const torch::Tensor ce = torch::nn::functional::cross_entropy(m, t, options);
  const torch::Tensor q = torch::softmax(m, 1);
  const torch::Tensor o = oneHot(t, C).to(q.scalar_type());
  const torch::Tensor I = (q * o).sum({2, 3}), P = q.sum({2, 3}), T = o.sum({2, 3});
  const torch::Tensor dice = (2 * I + 1e-8) / (P + T + 1e-8);
  const torch::Tensor soft = dice.slice(1, 1, C).mean(1).mean();
  return {s.alpha * ce + (1 - s.alpha) * (1 - soft), soft};
}

std::pair<torch::Tensor, torch::Tensor> ANN_XnetBinaryLoss(const torch::Tensor& p, const torch::Tensor& y) {
  const torch::Tensor g = (y > 0).to(p.scalar_type());
  const torch::Tensor I = (p * g).sum({1, 2, 3}), P = p.sum({1, 2, 3}), G = g.sum({1, 2, 3});
  const torch::Tensor d = ((2 * I + 1e-8) / (P + G + 1e-8)).mean();
  return {1 - d, d};
}

torch::Tensor ANN_XnetHardDice(int C, const torch::Tensor& m, const torch::Tensor& y) {
  const torch::Tensor a = oneHot(m.argmax(1), C);
  const torch::Tensor o = oneHot(y.squeeze(1).to(torch::kLong), C);
  const torch::Tensor dice = (2 * (a * o).sum({2, 3}) + 1e-8) / (a.sum({2, 3}) + o.sum({2, 3}) + 1e-8);
  return dice.slice(1, 1, C).mean();
}

std::tuple<torch::Tensor, torch::Tensor, torch::Tensor> ANN_XnetCombinedLoss(const ANN_XnetSettings& s, int C,
                                                                             const torch::Tensor& p,
                                                                             const torch::Tensor& m,
                                                                             const torch::Tensor& y) {
  auto [lm, soft] = ANN_XnetMultiClassLoss(s, C, m, y);
  if (!s.binaryHead) return {soft, torch::zeros({}, m.options()), lm};
  auto [lb, d] = ANN_XnetBinaryLoss(p, y);
  return {soft, d, (1 - s.beta) * lm + s.beta * lb};
}

bool ANN_XnetBatchStep(const ANN_XnetSettings& s, bool train, const torch::Device& device, Base_XMODELImpl& model,
                       torch::optim::Optimizer& optimizer, int numClasses, int64_t n, int microbatch,
                       const float* hostImages, const uint8_t* hostLabels, int W, int H, int C,
                       const torch::Tensor& deviceImages, const torch::Tensor& deviceLabels, double* totalSum,
                       double* softSum) {
  if (microbatch < 1) microbatch = 1;
  std::unique_ptr<torch::NoGradGuard> noGrad;
  if (train) {
    model.train();
    ANN_ClearGradients(optimizer);
  } else {
    model.eval();
    noGrad = std::make_unique<torch::NoGradGuard>();
  }
  double total = 0, soft = 0;
  const int64_t plane = int64_t(W) * H;
  for (int64_t start = 0; start < n; start += microbatch) {
    const int64_t k = std::min<int64_t>(microbatch, n - start);
    torch::Tensor x, y;
    if (hostImages && hostLabels) {
      x = torch::from_blob(const_cast<float*>(hostImages + start * plane * C), {k, C, H, W}, torch::kFloat).to(device);
      y = torch::from_blob(const_cast<uint8_t*>(hostLabels + start * plane), {k, 1, H, W}, torch::kUInt8).to(device);
    } else {
      x = deviceImages.slice(0, start, start + k);
      y = deviceLabels.slice(0, start, start + k);
    }
    auto [p, m] = model.forward(x);
    if (!m.defined()) return false;  // the forward pass failed and has said why
    auto [sd, bd, loss] = ANN_XnetCombinedLoss(s, numClasses, p, m, y);
    total += loss.item<double>() * double(k);
    soft += sd.item<double>() * double(k);
    if (train) (loss * (double(k) / double(n))).backward();
  }
  if (train) optimizer.step();
  if (totalSum) *totalSum = total;
  if (softSum) *softSum = soft;
  return true;
}

bool ANN_XnetLearningRateSearch(const ANN_XnetSettings& s, const torch::Device& device, Base_XMODELImpl& model,
                                torch::optim::Optimizer& optimizer, int numClasses, int64_t n, int microbatch,
                                const float* hostImages, const uint8_t* hostLabels, int W, int H, int C, double lowest,
                                double highest, bool show) {
  ANN_Progress progress(L"Determine LR for the epoch", show);
  const std::unique_ptr<std::stringstream> snapshot = ANN_SaveSnapshot(model, optimizer);
  const torch::Tensor images = torch::from_blob(const_cast<float*>(hostImages), {n, C, H, W}, torch::kFloat).to(device).clone();
  const torch::Tensor labels = torch::from_blob(const_cast<uint8_t*>(hostLabels), {n, 1, H, W}, torch::kUInt8).to(device).clone();
  const double lo = std::log10(lowest), hi = std::log10(highest), step = (hi - lo) / 49;
  double bestLoss = 1e60, bestRate = lowest;
  for (int i = 0; i < 50; ++i) {
    progress.step(i, 50, 1, 98);
    const double rate = std::pow(10.0, lo + i * step);
    ANN_RestoreSnapshot(*snapshot, model, optimizer);
    ANN_SetLearningRate(optimizer, rate);
    if (!ANN_XnetBatchStep(s, true, device, model, optimizer, numClasses, n, microbatch, nullptr, nullptr, W, H, C, images, labels, nullptr, nullptr))
      return false;
    double loss = NAN;
    if (!ANN_XnetBatchStep(s, false, device, model, optimizer, numClasses, n, microbatch, nullptr, nullptr, W, H, C, images, labels, &loss, nullptr))
      return false;
    if (loss < bestLoss) bestLoss = loss, bestRate = rate;  // a not-a-number loss never wins
  }
  ANN_RestoreSnapshot(*snapshot, model, optimizer);
  ANN_SetLearningRate(optimizer, bestRate);
  return true;
}

bool ANN_XnetEvaluate(const ANN_XnetSettings& s, Base_XMODELImpl& model, const torch::Device& device,
                      void* const* images, void* const* labels, int64_t n, int W, int H, int C, int numClasses,
                      ANN_XnetEvaluation* out) {
  model.eval();
  c10::InferenceMode inference;
  ANN_XnetEvaluation e;
  std::vector<double> overlap(static_cast<size_t>(numClasses), 0.0), sum(static_cast<size_t>(numClasses), 0.0);
  for (int64_t i = 0; i < n; ++i) {
    const torch::Tensor x = torch::from_blob(images[i], {1, C, H, W}, torch::kFloat).to(device);
    const torch::Tensor y = torch::from_blob(labels[i], {1, 1, H, W}, torch::kUInt8).to(device);
    auto [p, m] = model.forward(x);
    if (!m.defined()) return false;
    auto [soft, binary, loss] = ANN_XnetCombinedLoss(s, numClasses, p, m, y);
    e.softDice += soft.item<double>();
    e.binaryDice += binary.item<double>();
    e.hardDice += ANN_XnetHardDice(numClasses, m, y).item<double>();
    const torch::Tensor a = oneHot(m.argmax(1), numClasses), o = oneHot(y.squeeze(1).to(torch::kLong), numClasses);
    const torch::Tensor inter = (a * o).sum({0, 2, 3}).to(torch::kDouble).cpu(), both = (a.sum({0, 2, 3}) + o.sum({0, 2, 3})).to(torch::kDouble).cpu();
    for (int c = 0; c < numClasses; ++c) overlap[size_t(c)] += inter[c].item<double>(), sum[size_t(c)] += both[c].item<double>();
  }
  e.softDice /= double(n), e.binaryDice /= double(n), e.hardDice /= double(n);
  for (int c = 0; c < numClasses; ++c) e.classDice.push_back(2 * (overlap[size_t(c)] + 1e-8) / (sum[size_t(c)] + 1e-8));
  *out = std::move(e);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Training
// ---------------------------------------------------------------------------------------------

namespace {

struct XnetKind {
  bool ynet;
  const wchar_t* exportName;
  const wchar_t* prefix;
  const wchar_t* caption;
};

XModelPtr buildModel(const XnetKind& kind, const ANNMODELCFG& cfg) {
  if (kind.ynet) return std::make_shared<YMODELImpl>(cfg, ANN_XnetSettingsOf(true).binaryHead);
  return std::make_shared<XMODELImpl>(cfg);
}

// The best model back from its files, or null ("Best model reload error : \n" and the text).
XModelPtr LoadModelFromFile(const XnetKind& kind, bool useGpu, const wchar_t* configPath, const wchar_t* modelPath) {
  ANN_Progress progress(L"Loading Model", true);
  std::unique_ptr<torch::Device> device(ANN_ChooseDevice(useGpu));
  if (!device) return nullptr;
  ANNMODELCFG cfg;
  if (!ANN_ReadModelCfg(configPath, &cfg)) return nullptr;
  try {
    XModelPtr model = buildModel(kind, cfg);
    ANN_LoadModuleStrict(*model, modelPath);
    model->to(*device);
    return model;
  } catch (...) {
    ANN_NamedMessage(L"LoadModelFromFile", L"Best model reload error : \n" + ANN_CurrentExceptionText());
    return nullptr;
  }
}

struct SettingsScope {
  bool ynet;
  ~SettingsScope() { ANN_XnetSettingsOf(ynet) = ANN_XnetSettings{}; }
};

bool trainXnet(const XnetKind& kind, ANNTRAINPARM* parm, const wchar_t* folder, bool show) {
  const wchar_t* prefix = kind.prefix;
  if (!ANN_CheckTrainParm(kind.exportName, parm, ANN_Family::Xnet)) return false;
  std::error_code ec;
  std::filesystem::remove(ANN_NarrowPath(parm->ModelPath), ec);
  std::filesystem::remove(ANN_NarrowPath(parm->ModelCfgPath), ec);
  std::unique_ptr<torch::Device> device(ANN_ChooseDevice(parm->UseGpu != 0));
  if (!device) return false;
  SettingsScope scope{kind.ynet};
  ANN_XnetSettings& s = ANN_XnetSettingsOf(kind.ynet);
  s.alpha = parm->XentropyAlpha;
  s.beta = parm->BinLossAlpha;
  s.binaryHead = std::abs(s.beta) >= 1e-100;
  s.classWeights = ANN_MakeClassWeights(parm->XentropyClassW, parm->NumClasses, *device, TORCHDT_FLOAT32);
  if (!s.classWeights.defined()) return false;
  const int64_t B = std::max(1, parm->BatchLng);
  const int micro = std::max(1, parm->MicrobatchLng);
  if (parm->Augment.ExpandByRegistration) {
    ANN_NamedMessage(prefix, L"Training-set expansion by registration is not available");
    return false;
  }
  ANN_SampleSet train, test;
  DIM3D dims;
  int C = 0;
  if (!ANN_LoadSlicePairs(prefix, folder, parm->SlabR, parm->SigNormMethod, parm->SigNormIntvLo, parm->SigNormIntvHi,
                          parm->NumClasses, &train, &test, &dims, &C, show))
    return false;
  const int W = dims.w, H = dims.h;
  const int64_t N = train.count, plane = int64_t(W) * H;
  const ANNMODELCFG cfg = ANN_ModelConfigOf(parm, C, dims);
  XModelPtr model;
  try {
    model = buildModel(kind, cfg);
    model->to(*device);
  } catch (...) {
    ANN_NamedMessage(prefix, L"Model\\Optimizer initialization error : \n");
    return false;
  }
  if (!ANN_WriteModelCfg(parm->ModelCfgPath, &cfg, parm)) return false;
  ANN_InitParamsXavier(*model);
  // Staging buffers receive the next batch while the current one stands in the transfer buffers.
  ANN_Counted<float> stageImages(static_cast<float*>(pf_malloc(B * plane * C * 4)));
  ANN_Counted<uint8_t> stageLabels(static_cast<uint8_t*>(pf_malloc(B * plane)));
  if (!stageImages || !stageLabels) return false;
  ANN_Counted<float> batchImages(static_cast<float*>(pf_malloc(B * plane * C * 4)));
  ANN_Counted<uint8_t> batchLabels(static_cast<uint8_t*>(pf_malloc(B * plane)));
  if (!batchImages || !batchLabels) {
    ANN_NamedMessage(prefix, L"Failed CUDA host alloc");
    return false;
  }
  ANN_RandGen gen;
  if (!gen.p) return false;
  const int64_t nB = (N + B - 1) / B;
  const int64_t total = nB * std::max(0, parm->NumEpochs);
  ANN_Progress progress(kind.caption, show);
  ANN_File log;
  if (!ANN_OpenEpochLog(prefix, parm->FoldLogPath, "epoch\tTrainDICEloss\tTestBinDICELoss\tTestSoftDICEloss\tTestHardDICEloss\n", &log))
    return false;
  const long startClock = twk::clockMs();
  const int64_t startCounter = PR_GetPerformanceCounter();
  std::unique_ptr<torch::optim::Adam> optimizer;
  try {
    optimizer = std::make_unique<torch::optim::Adam>(model->parameters(), torch::optim::AdamOptions(0.001));
  } catch (...) {
    ANN_NamedMessage(prefix, L"Model\\Optimizer initialization error : \n");
    return false;
  }
  double lr = 0.001, best = 0, epochSoft = 0;
  ANN_XnetEvaluation last;
  for (int e = 0; e < parm->NumEpochs; ++e) {
    ANN_Counted<int> order(PR_ShuffleIntegerArray(gen.p, N));
    if (!order) return false;
    if (parm->LRscheme == 1) {
      lr *= parm->LRexpdecay;
      ANN_SetLearningRate(*optimizer, lr);
    }
    double softSum = 0;
    int64_t pending = 0;  // samples in the transfer buffers
    for (int64_t b = 0; b <= nB; ++b) {
      int64_t fetched = 0;
      if (b < nB) {
        const int64_t first = b * B, lastIndex = std::min((b + 1) * B, N) - 1;
        fetched = lastIndex - first + 1;
        VA_ObtainNextBatch(TORCHDT_FLOAT32, train.images, plane * C, TORCHDT_UINT8, train.labels, plane, order.get(),
                           first, lastIndex, stageImages.get(), stageLabels.get());
      }
      if (b >= 1) {
        if (parm->LRscheme == 3 && b == 1) {
          progress.end();
          if (!ANN_XnetLearningRateSearch(s, *device, *model, *optimizer, parm->NumClasses, pending, micro,
                                          batchImages.get(), batchLabels.get(), W, H, C, 1e-6, 1e-3, show))
            return false;
          progress.start(kind.caption);
        }
        double soft = 0;
        if (!ANN_XnetBatchStep(s, true, *device, *model, *optimizer, parm->NumClasses, pending, micro, batchImages.get(),
                               batchLabels.get(), W, H, C, torch::Tensor(), torch::Tensor(), nullptr, &soft))
          return false;
        softSum += soft;
      }
      if (b < nB) {
        std::memcpy(batchImages.get(), stageImages.get(), size_t(fetched * plane * C) * sizeof(float));
        std::memcpy(batchLabels.get(), stageLabels.get(), size_t(fetched * plane));
        pending = fetched;
      }
      if (b >= 1) {
        const int64_t step = e * nB + b;
        const CString line = FmtStr(
            L"%s : (tsamples=%u\\LR=%e\\Mem=%3.1lf GB) E%u_of_%u\\B%u_of_%u EpochDICE=%e binValidDICE=%e ValidDICE=%e BestValidDICE=%e",
            kind.caption, unsigned(N), ANN_LearningRate(*optimizer), 0.0, unsigned(e), unsigned(parm->NumEpochs),
            unsigned(b - 1), unsigned(nB), epochSoft, last.binaryDice, last.softDice, best);
        if (!progress.trainingStep(prefix, step, total, line, startClock, show)) return false;
      }
    }
    epochSoft = softSum / double(N);
    if (!ANN_XnetEvaluate(s, *model, *device, test.images, test.labels, test.count, W, H, C, parm->NumClasses, &last)) return false;
    if (last.hardDice > best) {
      ANN_SaveModule(*model, parm->ModelPath);
      best = last.hardDice;
    }
    if (log.f && !ANN_Printf(log.f, "%u\t%e\t%e\t%e\t%e\n", unsigned(e), 1 - epochSoft, 1 - last.binaryDice,
                             1 - last.softDice, 1 - last.hardDice))
      return false;
  }
  progress.end();
  optimizer.reset();
  model.reset();
  XModelPtr bestModel = LoadModelFromFile(kind, parm->UseGpu != 0, parm->ModelCfgPath, parm->ModelPath);
  if (!bestModel) return false;

  // The result report.
  bestModel->eval();
  const double elapsed = PR_GetElapsedTime(startCounter);
  ANN_Progress results(L"Generating results", show);
  ANN_XnetEvaluation e;
  if (!ANN_XnetEvaluate(s, *bestModel, *device, test.images, test.labels, test.count, W, H, C, parm->NumClasses, &e)) return false;
  PR_DisplayDoubleValue(L"FinMcHardDice", e.hardDice);
  CString table = L"Tissue\tSoftGate-HardDice\n", className;
  for (int c = 0; c < parm->NumClasses; ++c) {
    ANN_LabelName(className, parm->LabelScheme, c);
    table += FmtStr(L"%s : %f\n", className.GetString(), e.classDice[size_t(c)]);
  }
  ANN_ShowMessage(table, MB_OK | MB_ICONINFORMATION);
  PR_CopyStrToClipboard(table.GetString());
  results.end();
  ANN_ShowMessage(FmtStr(L"Nepoch=%u\nBest SoftDICE=%e\nBest HardDICE=%e\nTime (s)=%8.2lf", unsigned(parm->NumEpochs),
                         e.softDice, e.hardDice, elapsed),
                  MB_OK | MB_ICONINFORMATION);
  return true;
}

}  // namespace

TWKANN_API bool TWKANN_TrainBreastXnet2D(ANNTRAINPARM* parm, const wchar_t* folder, bool show) {
  const XnetKind kind{false, L"TWKANN_TrainBreastXnet2D", L"TrainBreastXnet2D", L"Xmodel"};
  return ANN_Guarded(kind.exportName, false, [&] { return trainXnet(kind, parm, folder, show); });
}

TWKANN_API bool TWKANN_TrainBreastYnet2D(ANNTRAINPARM* parm, const wchar_t* folder, bool show) {
  const XnetKind kind{true, L"TWKANN_TrainBreastYnet2D", L"TrainBreastYnet2D", L"Ymodel"};
  return ANN_Guarded(kind.exportName, false, [&] { return trainXnet(kind, parm, folder, show); });
}
