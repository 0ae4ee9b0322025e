#pragma once
// BRUNET2D: the library's four-level 2D (2.5D) U-Net whose decoder is conditioned feature-wise
// (FiLM) on categorical side information such as the time point of a dynamic series, with its
// loss, batch step, evaluation and model loader. The names under which the modules register their
// sub-modules are the model-archive format.

#include <memory>
#include <tuple>
#include <vector>

#include "AnnTorch.h"

// x * gamma + beta with gamma and beta [N, C] broadcast over [N, C, H, W].
torch::Tensor ApplyFiLM2D(const torch::Tensor& x, const torch::Tensor& gamma, const torch::Tensor& beta);

// Two K x K convolutions, each followed by instance normalisation (FiLM-conditioned in the
// conditioned form) and SiLU; channel dropout; an optional residual connection.
struct DoubleconvPI2DImpl : torch::nn::Module {
  DoubleconvPI2DImpl(bool residual, int kernel, double dropout, int in, int out, bool affine);
  torch::Tensor forward(torch::Tensor x);
  torch::Tensor forward(torch::Tensor x, const torch::Tensor& gamma1, const torch::Tensor& beta1,
                        const torch::Tensor& gamma2, const torch::Tensor& beta2);

  bool residual;
  torch::nn::Conv2d conv1{nullptr}, conv2{nullptr};
  torch::nn::InstanceNorm2d inn1{nullptr}, inn2{nullptr};
  torch::nn::Dropout2d dropout{nullptr};
  torch::nn::Conv2d equalize_channels{nullptr};
};
TORCH_MODULE(DoubleconvPI2D);

// Encoder step: a double convolution, then 2 x 2 max pooling keeping the indices.
struct DownblockPI2DImpl : torch::nn::Module {
  DownblockPI2DImpl(bool residual, int kernel, double dropout, int in, int out, int pool);
  // (features before pooling, pooled features, pooling indices)
  std::tuple<torch::Tensor, torch::Tensor, torch::Tensor> forward(const torch::Tensor& x);

  DoubleconvPI2D dblconv{nullptr};
  int pool;
};
TORCH_MODULE(DownblockPI2D);

// Decoder step: max unpooling to the skip's size, concatenation with the skip, conditioned
// double convolution.
struct Upunpool2DImpl : torch::nn::Module {
  Upunpool2DImpl(bool residual, int kernel, double dropout, int in, int out, bool affine);
  torch::Tensor forward(const torch::Tensor& x, const torch::Tensor& skip, const torch::Tensor& indices,
                        const torch::Tensor& gamma1, const torch::Tensor& beta1, const torch::Tensor& gamma2,
                        const torch::Tensor& beta2);

  DoubleconvPI2D dblconv{nullptr};
};
TORCH_MODULE(Upunpool2D);

// Category embeddings to FiLM scales (1 + 0.3 tanh) and shifts (0.5 tanh): [N, outWidth].
struct MetaFiLMMultiImpl : torch::nn::Module {
  MetaFiLMMultiImpl(const std::vector<int>& categorySizes, int hidden, int outWidth);
  torch::Tensor forward(const torch::Tensor& metaIdx);
  // Embedding width of a vocabulary of v entries.
  static int EmbeddingWidth(int v);

  int numCategories;
  torch::nn::ModuleList emb_list{nullptr};
  torch::nn::Sequential mlp{nullptr};
};
TORCH_MODULE(MetaFiLMMulti);

struct Base_BRUNET2DFXImpl : torch::nn::Module {
  // x [N, uInChan, H, W] floats, metaIdx [N, NumCat] category indices -> raw class scores [N, C, H, W].
  virtual torch::Tensor forward(torch::Tensor x, torch::Tensor metaIdx) = 0;
};

struct BRUNET2DFXImpl : Base_BRUNET2DFXImpl {
  BRUNET2DFXImpl(const ANNMODELCFG& cfg, int numCategories, const int* categorySizes);
  torch::Tensor forward(torch::Tensor x, torch::Tensor metaIdx) override;

  bool residual;
  int numClassesMC;
  double dropRate;
  int baseChan, kernel, inChannels;
  std::vector<int> filmChannels;  // 8B, 8B, 4B, 4B, 2B, 2B, B, B
  int sumC;
  int numCategories;
  torch::nn::Conv2d start{nullptr};
  DownblockPI2D down1{nullptr}, down2{nullptr}, down3{nullptr}, down4{nullptr};
  DoubleconvPI2D bottom{nullptr};
  Upunpool2D up1_mc{nullptr}, up2_mc{nullptr}, up3_mc{nullptr}, up4_mc{nullptr};
  torch::nn::Conv2d final_mc{nullptr};
  MetaFiLMMulti meta{nullptr};
};
using BRUNET2DPtr = std::shared_ptr<BRUNET2DFXImpl>;

// Weight initialisation: He-normal convolutions with zero biases, unit affine norms, He-uniform
// linear layers; then the last layer of the conditioning gets N(0, std) weights and zero bias.
void ANN_InitBRUNET2DWeights(BRUNET2DFXImpl& net);
void ANN_InitMetaOutputLayer(BRUNET2DFXImpl& net, double std);
// AdamW with biases, normalisations, embeddings and the conditioning module free of weight decay.
std::unique_ptr<torch::optim::AdamW> ANN_MakeAdamW(BRUNET2DFXImpl& net, double lr, double weightDecay);

// Reads the configuration, builds the network, loads its archive and moves it to the device; a
// configuration that cannot be read gives null silently, anything that throws "Load model error :
// \n" and the text (information icon) and null. cfgOut receives the configuration read.
BRUNET2DPtr ANN_LoadBRUNET2D(const torch::Device& device, const wchar_t* configPath, const wchar_t* modelPath,
                             ANNMODELCFG* cfgOut);

// Library-wide values of a BRUNET2D training run, set before its epoch loop.
struct ANN_Brunet2DRun {
  bool timesAsCategory = false;
  bool useFiLM = false;
  double alpha = 1.0;           // weight of the cross-entropy term
  torch::Tensor classWeights;   // cross-entropy class weights (undefined: none)
  int W = 0, H = 0;             // the data set's width and height
};
ANN_Brunet2DRun& ANN_Brunet2DState();

// The masked per-sample mean: mean over n of sum(values * mask) / max(sum(mask), 1e-6).
torch::Tensor ANN_MaskedMean(const torch::Tensor& mask, const torch::Tensor& values);
// alpha * masked weighted cross-entropy + (1 - alpha) * focal Tversky overlap term.
torch::Tensor ANN_BRUNET2DLoss(const torch::Tensor& logits, int numClasses, const torch::Tensor& labels,
                               const torch::Tensor& masks);
// One optimiser step over count samples in micro-batches; false (with a message) for a sample of
// the wrong size. lossOut: sum over micro-batches of size times mean loss.
bool BatchForward_FlexDim(const torch::Device& device, int tensorType, int channels, BRUNET2DFXImpl& net,
                          torch::optim::Optimizer& optimizer, int numClasses, int64_t count, int microbatch,
                          void* const* images, void* const* labels, void* const* masks, double* lossOut);
// Mean loss over a sample set without gradients; false (with a message) for a sample of the wrong size.
bool ANN_EvalLoss(const torch::Device& device, int tensorType, int channels, BRUNET2DFXImpl& net, int numClasses,
                  int microbatch, void* const* images, void* const* labels, void* const* masks, int64_t count,
                  double* lossOut);
// Arg-max label maps (count blocks of W*H bytes, pf_malloc array) of the samples; null on failure.
uint8_t** ProducePredLabelMaps(int numClasses, BRUNET2DFXImpl& net, const torch::Device& device, int tensorType,
                               int64_t microbatch, int channels, void* const* images, int64_t count);
// Per-class Dice of a sample group (new array of numClasses doubles) or null.
double* ANN_GroupDice(int numClasses, BRUNET2DFXImpl& net, const torch::Device& device, int tensorType,
                      int64_t microbatch, int channels, const VA_SAMPLEGROUP& group);
// Mean of the finite Dice values of the classes the mask selects (all when none is set).
double ANN_MeanClassDice(const double* perClass, const uint8_t* classMask, int numClasses);
