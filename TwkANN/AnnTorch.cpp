// The library frame (start-up check, version, tensor self test), the device of a run, seeding,
// model archives and the training helpers that all networks share.
#include "AnnTorch.h"

#include <tbb/parallel_invoke.h>

#include <exception>
#include <iostream>
#include <new>
#include <set>

#include "paths/ValueText.h"

#ifndef TWKANN_TORCH_VERSION
#define TWKANN_TORCH_VERSION TORCH_VERSION
#endif

CString ANN_CurrentExceptionText() {
  try {
    throw;
  } catch (const c10::Error& e) {
    return CString(e.what_without_backtrace());
  } catch (const std::exception& e) {
    return CString(e.what());
  } catch (...) {
    return CString(L"unknown exception");
  }
}

// ---------------------------------------------------------------------------------------------
// Frame exports
// ---------------------------------------------------------------------------------------------

TWKANN_API bool TWKANN_InitLib(bool /*useGpu*/) {
  // This build runs on the CPU only: there is no driver to check and nothing to set up.
  return true;
}

TWKANN_API void TWKANN_GetTorchVersion(CString& out) {
  ANN_Guarded(L"TWKANN_GetTorchVersion", false, [&] {
    out = CString(TWKANN_TORCH_VERSION);
    return true;
  });
}

namespace {

void printTensor(const torch::Tensor& t) {
  at::print(std::cout, t, 80);
  std::cout << std::endl;
}

}  // namespace

TWKANN_API bool TWKANN_TestSGD() {
  return ANN_Guarded(L"TWKANN_TestSGD", false, [] {
    torch::Tensor t = torch::full({10}, 3.0);
    torch::Tensor v = t.view({1, 2, -1});
    printTensor(v);
    v = t.view({1, 2, -1});
    printTensor(v);
    torch::Tensor w = v.transpose(0, 1);
    printTensor(w);
    v[0] = 1;  // v and w are views of t's storage: both show the change
    printTensor(v);
    printTensor(w);
    torch::Tensor r = torch::randn({3, 4});
    torch::Tensor m = torch::zeros({3, 4}, torch::kBool);
    m[0][0] = true;
    m[2][3] = true;
    printTensor(r);
    printTensor(r.index({m}));
    return true;
  });
}

// ---------------------------------------------------------------------------------------------
// Device, seeds, archives
// ---------------------------------------------------------------------------------------------

torch::Device* ANN_ChooseDevice(bool useGpu) {
  if (useGpu && !PR_AskYesNo(L"CUDA is not available.\nProceed anyway?")) return nullptr;
  return new (std::nothrow) torch::Device(torch::kCPU, 0);
}

void ANN_SeedGenerators() { torch::manual_seed(1234); }

void ANN_SaveModule(const torch::nn::Module& module, const wchar_t* path) {
  torch::serialize::OutputArchive archive;
  module.save(archive);
  archive.save_to(ANN_NarrowPath(path));
}

namespace {

void loadStrict(torch::serialize::InputArchive& archive, torch::nn::Module& module, const std::string& prefix) {
  torch::NoGradGuard noGrad;
  std::set<std::string> expected;
  auto readInto = [&](const std::string& key, torch::Tensor& target, bool buffer) {
    expected.insert(key);
    torch::Tensor stored;
    if (!archive.try_read(key, stored, buffer))
      TORCH_CHECK(false, "Missing tensor '", prefix, key, "' in the model archive");
    TORCH_CHECK(stored.sizes() == target.sizes() && stored.scalar_type() == target.scalar_type(), "Tensor '", prefix,
                key, "' of the model archive has shape ", stored.sizes(), " ", stored.scalar_type(),
                "; the network expects ", target.sizes(), " ", target.scalar_type());
    target.copy_(stored);
  };
  for (auto& p : module.named_parameters(false)) readInto(p.key(), p.value(), false);
  for (auto& b : module.named_buffers(false))
    if (b.value().defined()) readInto(b.key(), b.value(), true);
  // Modules without parameters or buffers (dropout, activations) hold nothing to load: an archive
  // may have them or not.
  auto holdsTensors = [](const torch::nn::Module& m) {
    return !m.parameters(true).empty() || !m.buffers(true).empty();
  };
  for (auto& child : module.named_children()) {
    expected.insert(child.key());
    torch::serialize::InputArchive sub;
    if (!archive.try_read(child.key(), sub)) {
      TORCH_CHECK(!holdsTensors(*child.value()), "Missing module '", prefix, child.key(), "' in the model archive");
      continue;
    }
    loadStrict(sub, *child.value(), prefix + child.key() + ".");
  }
  for (const std::string& key : archive.keys()) {
    if (expected.count(key)) continue;
    torch::serialize::InputArchive sub;
    TORCH_CHECK(archive.try_read(key, sub) && sub.keys().empty(), "The model archive holds '", prefix, key,
                "', which the network does not have");
  }
}

}  // namespace

void ANN_LoadModuleStrict(torch::nn::Module& module, const wchar_t* path) {
  torch::serialize::InputArchive archive;
  archive.load_from(ANN_NarrowPath(path));
  loadStrict(archive, module, "");
}

int64_t ANN_ParameterCount(const torch::nn::Module& module) {
  int64_t n = 0;
  for (const auto& p : module.parameters()) n += p.numel();
  return n;
}

void ANN_ClearGradients(torch::optim::Optimizer& optimizer) {
  for (auto& group : optimizer.param_groups())
    for (auto& p : group.params()) p.mutable_grad() = torch::Tensor();
}

void ANN_SetLearningRate(torch::optim::Optimizer& optimizer, double lr) {
  for (auto& group : optimizer.param_groups()) group.options().set_lr(lr);
}

double ANN_LearningRate(const torch::optim::Optimizer& optimizer) {
  return optimizer.param_groups().empty() ? 0.0 : optimizer.param_groups()[0].options().get_lr();
}

// ---------------------------------------------------------------------------------------------
// Shared training helpers
// ---------------------------------------------------------------------------------------------

ANN_ClassLossTensors& ANN_ClassLoss() {
  static ANN_ClassLossTensors tensors;
  return tensors;
}

void ANN_ReleaseClassLossTables() { ANN_ClassLoss() = ANN_ClassLossTensors{}; }

bool ANN_MakeClassLossTables(const ANNCLASSLOSS* table, int n, const torch::Device& device) {
  ANN_ReleaseClassLossTables();
  if (!table || n < 1 || n > 256) return false;
  std::vector<double> fields[4];
  double sum = 0;
  for (int c = 0; c < n; ++c) {
    fields[0].push_back(table[c].Weight);
    fields[1].push_back(table[c].FPcoef);
    fields[2].push_back(table[c].FNcoef);
    fields[3].push_back(table[c].Exponent);
    sum += table[c].Weight;
  }
  if (!(sum > 0)) return false;  // normalising a zero sum would divide by zero
  for (double& w : fields[0]) w /= sum;
  auto make = [&](const std::vector<double>& v) {
    return torch::tensor(v, torch::kDouble).view({1, n}).to(device);
  };
  ANN_ClassLoss() = {make(fields[0]), make(fields[1]), make(fields[2]), make(fields[3])};
  return true;
}

torch::Tensor ANN_MakeClassWeights(const float* weights, int n, const torch::Device& device, int typeCode) {
  if (n < 1 || n > 256) return {};
  const auto type = typeCode == TORCHDT_FLOAT32 ? torch::kFloat : torch::kDouble;
  if (!weights) return torch::ones({n}, torch::TensorOptions(type).device(device));
  float scaled[256];
  float sum = 0;
  for (int c = 0; c < n; ++c) sum += weights[c];
  if (!(sum > 0)) return {};
  const float s = float(n) / sum;
  for (int c = 0; c < n; ++c) scaled[c] = weights[c] * s;
  return torch::from_blob(scaled, {n}, torch::kFloat).to(type).to(device).clone();
}

std::unique_ptr<std::stringstream> ANN_SaveSnapshot(torch::nn::Module& model, torch::optim::Optimizer& optimizer) {
  torch::serialize::OutputArchive archive, modelArchive, optimizerArchive;
  model.save(modelArchive);
  optimizer.save(optimizerArchive);
  archive.write("model", modelArchive);
  archive.write("optimizer", optimizerArchive);
  auto stream = std::make_unique<std::stringstream>();
  archive.save_to(*stream);
  return stream;
}

void ANN_RestoreSnapshot(std::stringstream& stream, torch::nn::Module& model, torch::optim::Optimizer& optimizer) {
  stream.clear();
  stream.seekg(0);
  torch::serialize::InputArchive archive, modelArchive, optimizerArchive;
  archive.load_from(stream);
  archive.read("model", modelArchive);
  archive.read("optimizer", optimizerArchive);
  model.load(modelArchive);
  optimizer.load(optimizerArchive);
}

std::pair<torch::Tensor, torch::Tensor> ANN_SoftDiceLoss(const torch::Tensor& logits, const torch::Tensor& target) {
  const torch::Tensor p = torch::softmax(logits, 1).select(1, 1);
  const torch::Tensor t = target.reshape(p.sizes()).to(p.scalar_type());
  const torch::Tensor dice = 2 * (p * t).sum() / (p.sum() + t.sum());
  return {1 - dice, dice};
}

double ANN_BatchDice(const std::function<torch::Tensor(const torch::Tensor&)>& forward, const torch::Device& device,
                     torch::ScalarType type, int d1, int d2, int d3, int storageType, void* imageStage,
                     void* labelStage, void* const* images, void* const* labels, int64_t n) {
  const int64_t elements = int64_t(d1) * d2 * d3;
  const int64_t bytes = elements * VA_TorchDataSize(storageType);
  double sum = 0;
  for (int64_t i = 0; i < n; ++i) {
    std::memcpy(imageStage, images[i], size_t(bytes));
    std::memcpy(labelStage, labels[i], size_t(bytes));
    const auto storage = storageType == TORCHDT_FLOAT32 ? torch::kFloat : torch::kDouble;
    const torch::Tensor x = torch::from_blob(imageStage, {1, 1, d3, d2, d1}, storage).to(type).to(device);
    const torch::Tensor y = torch::from_blob(labelStage, {1, 1, d3, d2, d1}, storage).to(type).to(device);
    const torch::Tensor p = torch::softmax(forward(x), 1).select(1, 1);
    const torch::Tensor pred = (p > 0.5).to(torch::kFloat);
    const torch::Tensor label = y.select(1, 0).to(torch::kFloat);
    sum += (2 * (pred * label).sum() / (pred.sum() + label.sum())).item<double>();
  }
  return sum / double(n);
}

void ANN_InitParamsXavier(torch::nn::Module& module) {
  torch::NoGradGuard noGrad;
  for (auto& p : module.parameters())
    if (p.dim() >= 2) torch::nn::init::xavier_uniform_(p, 1.0);
}

void ANN_ParallelStep(const std::function<void()>& task0, const std::function<void()>& task1, bool concurrent) {
  try {
    if (concurrent) {
      tbb::parallel_invoke(task0, task1);
    } else {
      task0();
      task1();
    }
  } catch (...) {
    ANN_FlushDeferredMessages();
    throw;
  }
  ANN_FlushDeferredMessages();
}
