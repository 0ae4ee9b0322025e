// BRUNET2D: architecture, initialisation, optimiser, loss, batch step, evaluation and loader.
#include "Brunet2D.h"

#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------------------------------------
// Architecture
// ---------------------------------------------------------------------------------------------

torch::Tensor ApplyFiLM2D(const torch::Tensor& x, const torch::Tensor& gamma, const torch::Tensor& beta) {
  TORCH_CHECK(gamma.dim() == 2 && beta.dim() == 2, "FiLM expects [N,C] gamma/beta");
  const int64_t c = x.size(1);
  TORCH_CHECK(gamma.size(1) == c && beta.size(1) == c, "FiLM C mismatch: got gamma/beta C=", gamma.size(1),
              ", expected ", c);
  const auto g = gamma.to(x.scalar_type()).reshape({gamma.size(0), c, 1, 1});
  const auto b = beta.to(x.scalar_type()).reshape({beta.size(0), c, 1, 1});
  return x * g + b;
}

namespace {

torch::nn::Conv2dOptions convOptions(int in, int out, int kernel) {
  return torch::nn::Conv2dOptions(in, out, kernel).stride(1).padding(kernel / 2).bias(true);
}

}  // namespace

DoubleconvPI2DImpl::DoubleconvPI2DImpl(bool residual_, int kernel, double dropoutRate, int in, int out, bool affine)
    : residual(residual_) {
  TORCH_CHECK(kernel >= 1 && kernel % 2 == 1, "Kernel must be odd");
  conv1 = register_module("conv1", torch::nn::Conv2d(convOptions(in, out, kernel)));
  conv2 = register_module("conv2", torch::nn::Conv2d(convOptions(out, out, kernel)));
  inn1 = register_module("inn1", torch::nn::InstanceNorm2d(torch::nn::InstanceNorm2dOptions(out).affine(affine)));
  inn2 = register_module("inn2", torch::nn::InstanceNorm2d(torch::nn::InstanceNorm2dOptions(out).affine(affine)));
  if (std::abs(dropoutRate) >= 1e-100)
    dropout = register_module("dropout", torch::nn::Dropout2d(torch::nn::Dropout2dOptions(dropoutRate)));
  if (in != out) equalize_channels = register_module("equalize_channels", torch::nn::Conv2d(convOptions(in, out, 1)));
}

torch::Tensor DoubleconvPI2DImpl::forward(torch::Tensor x) {
  const torch::Tensor identity = x;
  x = torch::silu(inn1(conv1(x)));
  x = inn2(conv2(x));
  if (dropout) x = dropout(x);
  if (residual) x = x + (equalize_channels ? equalize_channels(identity) : identity);
  return torch::silu(x);
}

torch::Tensor DoubleconvPI2DImpl::forward(torch::Tensor x, const torch::Tensor& gamma1, const torch::Tensor& beta1,
                                          const torch::Tensor& gamma2, const torch::Tensor& beta2) {
  const torch::Tensor identity = x;
  x = torch::silu(ApplyFiLM2D(inn1(conv1(x)), gamma1, beta1));
  x = ApplyFiLM2D(inn2(conv2(x)), gamma2, beta2);
  if (dropout) x = dropout(x);
  if (residual) x = x + (equalize_channels ? equalize_channels(identity) : identity);
  return torch::silu(x);
}

DownblockPI2DImpl::DownblockPI2DImpl(bool residual, int kernel, double dropout, int in, int out, int pool_)
    : pool(pool_) {
  dblconv = register_module("dblconv", DoubleconvPI2D(residual, kernel, dropout, in, out, true));
}

std::tuple<torch::Tensor, torch::Tensor, torch::Tensor> DownblockPI2DImpl::forward(const torch::Tensor& x) {
  torch::Tensor f = dblconv->forward(x);
  auto [pooled, indices] = at::max_pool2d_with_indices(f, {pool, pool}, {pool, pool}, {0, 0}, {1, 1}, false);
  return {f, pooled, indices};
}

Upunpool2DImpl::Upunpool2DImpl(bool residual, int kernel, double dropout, int in, int out, bool affine) {
  dblconv = register_module("dblconv", DoubleconvPI2D(residual, kernel, dropout, 2 * in, out, affine));
}

torch::Tensor Upunpool2DImpl::forward(const torch::Tensor& x, const torch::Tensor& skip, const torch::Tensor& indices,
                                      const torch::Tensor& gamma1, const torch::Tensor& beta1,
                                      const torch::Tensor& gamma2, const torch::Tensor& beta2) {
  // Unpooled to the skip's size, so odd sizes come back exactly.
  const torch::Tensor u = at::max_unpool2d(x, indices, {skip.size(2), skip.size(3)});
  return dblconv->forward(torch::cat({u, skip}, 1), gamma1, beta1, gamma2, beta2);
}

int MetaFiLMMultiImpl::EmbeddingWidth(int v) {
  const int bits = int(std::ceil(std::log2(double(std::max(v, 2)))));
  return std::min(v, std::min(16, std::max(4, 2 * bits)));
}

MetaFiLMMultiImpl::MetaFiLMMultiImpl(const std::vector<int>& categorySizes, int hidden, int outWidth)
    : numCategories(int(categorySizes.size())) {
  emb_list = register_module("emb_list", torch::nn::ModuleList());
  int total = 0;
  for (size_t i = 0; i < categorySizes.size(); ++i) {
    const int v = categorySizes[i];
    TORCH_CHECK(v >= 1, "CategorySize[", i, "] must be >= 1");
    const int w = EmbeddingWidth(v);
    emb_list->push_back(torch::nn::Embedding(v, w));
    total += w;
  }
  mlp = register_module("mlp", torch::nn::Sequential(torch::nn::Linear(total, hidden), torch::nn::ReLU(),
                                                     torch::nn::Linear(hidden, outWidth)));
}

torch::Tensor MetaFiLMMultiImpl::forward(const torch::Tensor& metaIdx) {
  TORCH_CHECK(metaIdx.size(1) == numCategories, "meta_idx.size(1) must equal NumberOfCategories");
  std::vector<torch::Tensor> lookups;
  for (int i = 0; i < numCategories; ++i)
    lookups.push_back(emb_list[size_t(i)]->as<torch::nn::Embedding>()->forward(metaIdx.select(1, i).to(torch::kLong)));
  const torch::Tensor h = mlp->forward(torch::cat(lookups, 1));
  const int64_t half = h.size(1) / 2;
  const torch::Tensor gamma = 1 + 0.3 * torch::tanh(h.slice(1, 0, half));
  const torch::Tensor beta = 0.5 * torch::tanh(h.slice(1, half, 2 * half));
  return torch::cat({gamma, beta}, 1);
}

BRUNET2DFXImpl::BRUNET2DFXImpl(const ANNMODELCFG& cfg, int categories, const int* categorySizes)
    : residual(cfg.useResidual),
      numClassesMC(cfg.numClassesMC),
      dropRate(cfg.DropRate),
      baseChan(cfg.BaseChan),
      kernel(cfg.ConvKern),
      inChannels(cfg.uInChan),
      numCategories(categories < 1 ? 0 : categories) {
  const int B = baseChan, K = kernel;
  const double d = dropRate;
  filmChannels = {8 * B, 8 * B, 4 * B, 4 * B, 2 * B, 2 * B, B, B};
  sumC = 0;
  for (int c : filmChannels) sumC += c;
  const bool decoderAffine = numCategories == 0;
  start = register_module("start", torch::nn::Conv2d(convOptions(inChannels, B, 1)));
  down1 = register_module("down1", DownblockPI2D(residual, K, 0.25 * d, B, 2 * B, 2));
  down2 = register_module("down2", DownblockPI2D(residual, K, 0.5 * d, 2 * B, 4 * B, 2));
  down3 = register_module("down3", DownblockPI2D(residual, K, 0.75 * d, 4 * B, 8 * B, 2));
  down4 = register_module("down4", DownblockPI2D(residual, K, d, 8 * B, 16 * B, 2));
  bottom = register_module("bottom", DoubleconvPI2D(residual, K, d, 16 * B, 16 * B, true));
  up1_mc = register_module("up1_mc", Upunpool2D(residual, K, 0.75 * d, 16 * B, 8 * B, decoderAffine));
  up2_mc = register_module("up2_mc", Upunpool2D(residual, K, 0.5 * d, 8 * B, 4 * B, decoderAffine));
  up3_mc = register_module("up3_mc", Upunpool2D(residual, K, 0.25 * d, 4 * B, 2 * B, decoderAffine));
  up4_mc = register_module("up4_mc", Upunpool2D(residual, K, 0.0, 2 * B, B, decoderAffine));
  final_mc = register_module("final_mc", torch::nn::Conv2d(convOptions(B, numClassesMC, 1)));
  if (numCategories > 0)
    meta = register_module("meta", MetaFiLMMulti(std::vector<int>(categorySizes, categorySizes + numCategories), 128,
                                                 2 * sumC));
}

torch::Tensor BRUNET2DFXImpl::forward(torch::Tensor x, torch::Tensor metaIdx) {
  torch::Tensor gammaAll, betaAll;
  const int64_t n = x.size(0);
  if (numCategories > 0) {
    TORCH_CHECK(metaIdx.defined() && metaIdx.dim() == 2, "meta_idx must be [N, NumberOfCategories]");
    const torch::Tensor film = meta(metaIdx.to(torch::kLong));
    gammaAll = film.slice(1, 0, sumC);
    betaAll = film.slice(1, sumC, 2 * sumC);
    TORCH_CHECK(gammaAll.size(1) == sumC && betaAll.size(1) == sumC, "Unexpected FiLM sizes");
  } else {
    gammaAll = torch::ones({n, sumC}, x.options());
    betaAll = torch::zeros({n, sumC}, x.options());
  }
  const torch::Tensor x0 = start(x);
  auto [s1, p1, i1] = down1(x0);
  auto [s2, p2, i2] = down2(p1);
  auto [s3, p3, i3] = down3(p2);
  auto [s4, p4, i4] = down4(p3);
  const torch::Tensor b = bottom->forward(p4);
  int64_t cursor = 0;
  auto slice = [&](torch::Tensor& gamma, torch::Tensor& beta, int c) {
    TORCH_CHECK(cursor + c <= sumC, "FiLM slicing overflow");
    gamma = gammaAll.slice(1, cursor, cursor + c);
    beta = betaAll.slice(1, cursor, cursor + c);
    cursor += c;
  };
  torch::Tensor g[8], be[8];
  for (int k = 0; k < 8; ++k) slice(g[k], be[k], filmChannels[size_t(k)]);
  torch::Tensor u = up1_mc(b, s4, i4, g[0], be[0], g[1], be[1]);
  u = up2_mc(u, s3, i3, g[2], be[2], g[3], be[3]);
  u = up3_mc(u, s2, i2, g[4], be[4], g[5], be[5]);
  u = up4_mc(u, s1, i1, g[6], be[6], g[7], be[7]);
  return final_mc(u);
}

// ---------------------------------------------------------------------------------------------
// Initialisation and optimiser
// ---------------------------------------------------------------------------------------------

void ANN_InitBRUNET2DWeights(BRUNET2DFXImpl& net) {
  torch::NoGradGuard noGrad;
  for (const auto& m : net.modules(false)) {
    if (auto* conv = m->as<torch::nn::Conv2d>()) {
      torch::nn::init::kaiming_normal_(conv->weight, 0, torch::kFanIn, torch::kReLU);
      if (conv->bias.defined()) conv->bias.zero_();
    } else if (auto* norm = m->as<torch::nn::InstanceNorm2d>()) {
      if (norm->weight.defined()) norm->weight.fill_(1);
      if (norm->bias.defined()) norm->bias.zero_();
    } else if (auto* linear = m->as<torch::nn::Linear>()) {
      torch::nn::init::kaiming_uniform_(linear->weight, 0, torch::kFanIn, torch::kLeakyReLU);
      if (linear->bias.defined()) {
        const double bound = 1.0 / std::sqrt(double(linear->weight.size(1)));
        linear->bias.uniform_(-bound, bound);
      }
    }
  }
  ANN_InitMetaOutputLayer(net, 0.001);
}

void ANN_InitMetaOutputLayer(BRUNET2DFXImpl& net, double std) {
  if (!net.meta) return;
  torch::NoGradGuard noGrad;
  auto* last = net.meta->mlp[2]->as<torch::nn::Linear>();
  last->weight.normal_(0, std);
  last->bias.zero_();
}

std::unique_ptr<torch::optim::AdamW> ANN_MakeAdamW(BRUNET2DFXImpl& net, double lr, double weightDecay) {
  std::vector<torch::Tensor> decay, noDecay;
  for (const auto& p : net.named_parameters(true)) {
    if (!p.value().requires_grad()) continue;
    const std::string& name = p.key();
    auto has = [&](const char* part) { return name.find(part) != std::string::npos; };
    const bool bias = name.size() >= 5 && name.compare(name.size() - 5, 5, ".bias") == 0;
    const bool free = bias || has("norm") || has("inn") || has("bn") || has("ln") || has("embedding") ||
                      has("emb_list") || has("meta.");
    (free ? noDecay : decay).push_back(p.value());
  }
  std::vector<torch::optim::OptimizerParamGroup> groups;
  const auto options = torch::optim::AdamWOptions(lr).weight_decay(weightDecay);
  if (!decay.empty()) groups.emplace_back(decay, std::make_unique<torch::optim::AdamWOptions>(options));
  if (!noDecay.empty()) groups.emplace_back(noDecay, std::make_unique<torch::optim::AdamWOptions>(torch::optim::AdamWOptions(options).weight_decay(0)));
  if (groups.empty()) return nullptr;
  return std::make_unique<torch::optim::AdamW>(std::move(groups), options);
}

// ---------------------------------------------------------------------------------------------
// Loader
// ---------------------------------------------------------------------------------------------

BRUNET2DPtr ANN_LoadBRUNET2D(const torch::Device& device, const wchar_t* configPath, const wchar_t* modelPath,
                             ANNMODELCFG* cfgOut) {
  ANN_Progress progress(L"Loading Model", true);
  ANNMODELCFG cfg;
  if (!ANN_ReadModelCfg(configPath, &cfg)) return nullptr;
  if (cfgOut) *cfgOut = cfg;
  try {
    auto net = std::make_shared<BRUNET2DFXImpl>(cfg, cfg.NumCat, cfg.catsz);
    ANN_LoadModuleStrict(*net, modelPath);
    net->to(device);
    return net;
  } catch (...) {
    ANN_ShowMessage(L"Load model error : \n" + ANN_CurrentExceptionText(), MB_OK | MB_ICONINFORMATION);
    return nullptr;
  }
}

// ---------------------------------------------------------------------------------------------
// Loss and batch step
// ---------------------------------------------------------------------------------------------

ANN_Brunet2DRun& ANN_Brunet2DState() {
  static ANN_Brunet2DRun state;
  return state;
}

torch::Tensor ANN_MaskedMean(const torch::Tensor& mask, const torch::Tensor& values) {
  const torch::Tensor m = mask.to(values.scalar_type()).flatten(1);
  const torch::Tensor v = values.flatten(1);
  return ((v * m).sum(1) / m.sum(1).clamp_min(1e-6)).mean();
}

torch::Tensor ANN_BRUNET2DLoss(const torch::Tensor& logits, int numClasses, const torch::Tensor& labels,
                               const torch::Tensor& masks) {
  const ANN_Brunet2DRun& run = ANN_Brunet2DState();
  const double alpha = run.alpha;
  const bool alphaOne = std::abs(alpha - 1) < 1e-100, alphaZero = std::abs(alpha) < 1e-100;
  const torch::Tensor target = labels.squeeze(1).to(torch::kLong);
  const torch::Tensor valid = (masks.squeeze(1) > 0).to(logits.scalar_type());
  torch::Tensor overlap;
  if (!alphaOne) {
    const int64_t n = logits.size(0), c = logits.size(1);
    const torch::Tensor p = torch::softmax(logits.to(torch::kDouble), 1).reshape({n, c, -1});
    const torch::Tensor v = valid.to(torch::kDouble).reshape({n, 1, -1});
    const torch::Tensor t = target.reshape({n, 1, -1});
    const torch::Tensor S = (p * v).sum(2);
    // The valid pixels of each class, scattered along the target indices.
    const torch::Tensor hit = torch::zeros_like(p).scatter_(1, t, 1.0) * v;
    const torch::Tensor I = (p * hit).sum(2), G = hit.sum(2);
    const ANN_ClassLossTensors& k = ANN_ClassLoss();
    const torch::Tensor fp = (S - I).clamp_min(0), fn = (G - I).clamp_min(0);
    const torch::Tensor ti = ((I + 1e-8) / (I + k.a * fp + k.b * fn + 1e-8)).clamp(0, 1);
    const torch::Tensor f = torch::pow(1 - ti, k.g);
    const torch::Tensor q = k.w * (G > 0).to(torch::kDouble);
    overlap = ((f * q).sum(1) / q.sum(1).clamp_min(1e-8)).mean().to(logits.scalar_type());
    if (alphaZero) return overlap;
  }
  (void)numClasses;
  auto options = torch::nn::functional::CrossEntropyFuncOptions().reduction(torch::kNone);
  if (run.classWeights.defined()) options.weight(run.classWeights.to(logits.scalar_type()));
  const torch::Tensor ce = torch::nn::functional::cross_entropy(logits, target, options);
  const torch::Tensor x = ANN_MaskedMean(valid, ce);
  return alphaOne ? x : alpha * x + (1 - alpha) * overlap;
}

namespace {

torch::ScalarType computeType(int tensorType) { return tensorType == TORCHDT_FLOAT32 ? torch::kFloat : torch::kDouble; }

bool sampleFits(const void* image, int channels, int W, int H) {
  const VA_FLEXDIM_HEAD* head = VA_FlexDimHead(image);
  return head->width == W && head->height == H && head->channels == channels;
}

// One micro-batch on the device: images, labels, masks and (with categories) category indices.
struct MicroBatch {
  torch::Tensor x, y, m, categories;
};

MicroBatch assemble(const torch::Device& device, torch::ScalarType type, int channels, int numCategories,
                    int64_t start, int64_t mb, void* const* images, void* const* labels, void* const* masks,
                    bool reportCopyProblems) {
  const ANN_Brunet2DRun& run = ANN_Brunet2DState();
  const int W = run.W, H = run.H;
  // Zeroed: a row whose copy fails stays empty and its mask excludes it from the loss.
  MicroBatch b;
  b.x = torch::zeros({mb, channels, H, W}, torch::TensorOptions(type).device(device));
  b.y = torch::zeros({mb, 1, H, W}, torch::TensorOptions(torch::kUInt8).device(device));
  b.m = torch::zeros({mb, 1, H, W}, torch::TensorOptions(torch::kUInt8).device(device));
  if (numCategories > 0) b.categories = torch::zeros({mb, numCategories}, torch::TensorOptions(torch::kLong).device(device));
  for (int64_t k = 0; k < mb; ++k) {
    const int64_t i = start + k;
    try {
      b.x[k].copy_(torch::from_blob(const_cast<float*>(VA_FlexDimPixels(images[i])), {channels, H, W}, torch::kFloat));
      b.y[k][0].copy_(torch::from_blob(const_cast<uint8_t*>(VA_FlexDimBytes(labels[i])), {H, W}, torch::kUInt8));
      b.m[k][0].copy_(torch::from_blob(const_cast<uint8_t*>(VA_FlexDimBytes(masks[i])), {H, W}, torch::kUInt8));
    } catch (...) {
      b.x[k].zero_(), b.y[k].zero_(), b.m[k].zero_();
      if (reportCopyProblems)
        ANN_ShowMessage(L"copy_ problem : \n" + ANN_CurrentExceptionText(), MB_OK | MB_ICONINFORMATION);
    }
    if (numCategories > 0)
      b.categories[k].copy_(torch::from_blob(const_cast<int64_t*>(VA_FlexDimCategories(images[i])), {numCategories}, torch::kLong));
  }
  return b;
}

bool checkSizes(void* const* images, int64_t count, int channels, const wchar_t* name) {
  const ANN_Brunet2DRun& run = ANN_Brunet2DState();
  for (int64_t i = 0; i < count; ++i)
    if (!images[i] || !sampleFits(images[i], channels, run.W, run.H)) {
      ANN_NamedMessage(name, L"Individual image dimensions mismatch");
      return false;
    }
  return true;
}

}  // namespace

bool BatchForward_FlexDim(const torch::Device& device, int tensorType, int channels, BRUNET2DFXImpl& net,
                          torch::optim::Optimizer& optimizer, int numClasses, int64_t count, int microbatch,
                          void* const* images, void* const* labels, void* const* masks, double* lossOut) {
  if (microbatch < 1) microbatch = 1;
  net.train();
  ANN_ClearGradients(optimizer);
  if (!checkSizes(images, count, channels, L"BatchForward_FlexDim")) return false;
  const torch::ScalarType type = computeType(tensorType);
  torch::Tensor accumulator = torch::zeros({}, torch::TensorOptions(torch::kDouble).device(device));
  for (int64_t start = 0; start < count; start += microbatch) {
    const int64_t mb = std::min<int64_t>(microbatch, count - start);
    MicroBatch b = assemble(device, type, channels, net.numCategories, start, mb, images, labels, masks, true);
    const torch::Tensor logits = net.forward(b.x, b.categories);
    const torch::Tensor loss = ANN_BRUNET2DLoss(logits, numClasses, b.y, b.m);
    {
      torch::NoGradGuard noGrad;
      accumulator += loss.detach().to(torch::kDouble) * double(mb);
    }
    (loss * (double(mb) / double(count))).backward();
  }
  optimizer.step();
  if (lossOut) *lossOut = accumulator.item<double>();
  return true;
}

bool ANN_EvalLoss(const torch::Device& device, int tensorType, int channels, BRUNET2DFXImpl& net, int numClasses,
                  int microbatch, void* const* images, void* const* labels, void* const* masks, int64_t count,
                  double* lossOut) {
  if (microbatch < 1) microbatch = 1;
  // Every block is read as W x H pixels of `channels` planes: a sample of another size would be read
  // past its end.
  if (!checkSizes(images, count, channels, L"ANN_EvalLoss")) return false;
  const bool wasTraining = net.is_training();
  net.eval();
  double sum = 0;
  {
    c10::InferenceMode inference;
    const torch::ScalarType type = computeType(tensorType);
    for (int64_t start = 0; start < count; start += microbatch) {
      const int64_t mb = std::min<int64_t>(microbatch, count - start);
      MicroBatch b = assemble(device, type, channels, net.numCategories, start, mb, images, labels, masks, false);
      sum += ANN_BRUNET2DLoss(net.forward(b.x, b.categories), numClasses, b.y, b.m).item<double>() * double(mb);
    }
  }
  if (lossOut) *lossOut = sum / double(count);
  if (wasTraining) net.train();
  return true;
}

uint8_t** ProducePredLabelMaps(int numClasses, BRUNET2DFXImpl& net, const torch::Device& device, int tensorType,
                               int64_t microbatch, int channels, void* const* images, int64_t count) {
  const wchar_t* name = L"ProducePredLabelMaps";
  net.eval();
  c10::InferenceMode inference;
  if (tensorType != TORCHDT_FLOAT32) {
    ANN_NamedMessage(name, L"Unsupported data type");
    return nullptr;
  }
  if (numClasses > 255) {
    ANN_NamedMessage(name, L"Invalid NumClasses");
    return nullptr;
  }
  if (microbatch < 1) microbatch = 1;
  const ANN_Brunet2DRun& run = ANN_Brunet2DState();
  const int W = run.W, H = run.H;
  if (!checkSizes(images, count, channels, name)) return nullptr;
  ANN_CountedArray result;
  result.p = static_cast<void**>(pf_calloc(std::max<int64_t>(count, 1) * int64_t(sizeof(void*))));
  result.n = count;
  if (!result.p) return nullptr;
  for (int64_t start = 0; start < count; start += microbatch) {
    const int64_t mb = std::min(microbatch, count - start);
    std::vector<torch::Tensor> xs, cs;
    for (int64_t k = 0; k < mb; ++k) {
      xs.push_back(torch::from_blob(const_cast<float*>(VA_FlexDimPixels(images[start + k])), {channels, H, W}, torch::kFloat));
      if (net.numCategories > 0)
        cs.push_back(torch::from_blob(const_cast<int64_t*>(VA_FlexDimCategories(images[start + k])), {net.numCategories}, torch::kLong));
    }
    const torch::Tensor x = torch::stack(xs).to(device);
    const torch::Tensor c = cs.empty() ? torch::Tensor() : torch::stack(cs).to(device);
    const torch::Tensor labels = net.forward(x, c).argmax(1).to(torch::kCPU).to(torch::kUInt8).contiguous();
    for (int64_t k = 0; k < mb; ++k) {
      auto* block = static_cast<uint8_t*>(pf_malloc(int64_t(W) * H));
      if (!block) return nullptr;
      std::memcpy(block, labels[k].data_ptr<uint8_t>(), size_t(W) * size_t(H));
      result.p[start + k] = block;
    }
  }
  return reinterpret_cast<uint8_t**>(std::exchange(result.p, nullptr));
}

double* ANN_GroupDice(int numClasses, BRUNET2DFXImpl& net, const torch::Device& device, int tensorType,
                      int64_t microbatch, int channels, const VA_SAMPLEGROUP& group) {
  uint8_t** predictions = ProducePredLabelMaps(numClasses, net, device, tensorType, microbatch, channels, group.images, group.count);
  if (!predictions) return nullptr;
  const ANN_Brunet2DRun& run = ANN_Brunet2DState();
  double* dice = VA_CalculateDICEperClassAveragedOverVolumes(numClasses, int64_t(run.W) * run.H, group.labels, group.masks,
                                                             predictions, group.count, group.volumes, group.table);
  pf_free_parr(&predictions, group.count);
  return dice;
}

double ANN_MeanClassDice(const double* perClass, const uint8_t* classMask, int numClasses) {
  if (std::none_of(classMask, classMask + numClasses, [](uint8_t b) { return b != 0; }))
    return PR_AverageFinite(perClass, numClasses);
  double sum = 0;
  int n = 0;
  for (int c = 0; c < numClasses; ++c)
    if (classMask[c] && std::isfinite(perClass[c])) sum += perClass[c], ++n;
  return n > 0 ? sum / n : NAN;
}
