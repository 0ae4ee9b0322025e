#pragma once
// The Xnet and Ynet breast networks: one binary (foreground) probability map and a class map that
// it gates, built from one convolution block; their losses, batch step, learning-rate search and
// evaluation. Registered names are the model-archive format.

#include <memory>
#include <utility>
#include <vector>

#include "AnnTorch.h"

// conv1 -> norm1 [-> SiLU -> conv2 -> norm2] -> dropout -> (+ residual) -> SiLU. conv3 and norm3
// are registered (saved, optimised) but unused; equalize_channels is always registered.
struct Comboconv2DImpl : torch::nn::Module {
  Comboconv2DImpl(bool useResidual, int Kern, double dropRate, int inChannels, int outChannels);
  torch::Tensor forward(torch::Tensor x, bool singleConv);

  bool useResidual;
  bool sameChannels;
  torch::nn::Conv2d conv1{nullptr}, conv2{nullptr}, conv3{nullptr};
  torch::nn::InstanceNorm2d norm1{nullptr}, norm2{nullptr}, norm3{nullptr};
  torch::nn::Dropout2d dropout{nullptr};
  torch::nn::Conv2d equalize_channels{nullptr};
};
TORCH_MODULE(Comboconv2D);

struct Base_XMODELImpl : torch::nn::Module {
  // (binary probability [N,1,H,W] or undefined, class map [N,C,H,W])
  virtual std::pair<torch::Tensor, torch::Tensor> forward(torch::Tensor x) = 0;
};
using XModelPtr = std::shared_ptr<Base_XMODELImpl>;

// "start" 1x1 to 40 channels, twenty 40-channel blocks, heads on the 840 concatenated channels.
// A forward error is shown ("Forward Error: " and the text) and gives two undefined tensors.
struct XMODELImpl : Base_XMODELImpl {
  explicit XMODELImpl(const ANNMODELCFG& cfg);
  std::pair<torch::Tensor, torch::Tensor> forward(torch::Tensor x) override;

  bool useResidual;
  int numClassesMC;
  double dropRate;
  int baseChan, convKern, inChannels;
  torch::nn::Conv2d start{nullptr};
  std::vector<Comboconv2D> feat;
  Comboconv2D final_bin{nullptr}, final_mc{nullptr};
};

// Twelve convolutions of kernels 1, 3, ..., 23 on the input, heads on the 192 concatenated
// channels; "final_bin" exists only with the binary head.
struct YMODELImpl : Base_XMODELImpl {
  YMODELImpl(const ANNMODELCFG& cfg, bool binaryHead);
  std::pair<torch::Tensor, torch::Tensor> forward(torch::Tensor x) override;

  bool useResidual;
  int numClassesMC;
  double dropRate;
  int baseChan, convKern, inChannels;
  bool binaryHead;
  std::vector<torch::nn::Conv2d> feat;
  Comboconv2D final_bin{nullptr}, final_mc{nullptr};
};

// Loss settings of one network family (one set for Xnet, one for Ynet), library-wide for its run.
struct ANN_XnetSettings {
  double alpha = 1.0;          // cross-entropy weight of the multi-class loss
  double beta = 0.0;           // weight of the binary loss
  bool binaryHead = false;     // |beta| >= 1e-100
  torch::Tensor classWeights;  // float per class on the device
};
ANN_XnetSettings& ANN_XnetSettingsOf(bool ynet);

// (loss, soft Dice) of the class map; (loss, Dice) of the binary map; hard Dice of the class map.
std::pair<torch::Tensor, torch::Tensor> ANN_XnetMultiClassLoss(const ANN_XnetSettings& s, int C, const torch::Tensor& m,
                                                               const torch::Tensor& y);
std::pair<torch::Tensor, torch::Tensor> ANN_XnetBinaryLoss(const torch::Tensor& p, const torch::Tensor& y);
torch::Tensor ANN_XnetHardDice(int C, const torch::Tensor& m, const torch::Tensor& y);
// (soft Dice, binary Dice, total loss)
std::tuple<torch::Tensor, torch::Tensor, torch::Tensor> ANN_XnetCombinedLoss(const ANN_XnetSettings& s, int C,
                                                                             const torch::Tensor& p,
                                                                             const torch::Tensor& m,
                                                                             const torch::Tensor& y);

// One batch of n samples in micro-batches: from host buffers (images n x C x H x W floats, labels
// n x H x W bytes) when given, else from rows of the device tensors. Training: one optimiser step
// with gradients accumulated as for the batch mean. Out: sums of k x total loss and k x soft Dice.
// False when the model's forward failed (it has shown why).
bool ANN_XnetBatchStep(const ANN_XnetSettings& s, bool train, const torch::Device& device, Base_XMODELImpl& model,
                       torch::optim::Optimizer& optimizer, int numClasses, int64_t n, int microbatch,
                       const float* hostImages, const uint8_t* hostLabels, int W, int H, int C,
                       const torch::Tensor& deviceImages, const torch::Tensor& deviceLabels, double* totalSum,
                       double* softSum);
// Tries 50 rates from lowest to highest (even in the logarithm) on the batch, each from the same
// snapshot; leaves model and optimiser as they were with the rate of the lowest loss set.
bool ANN_XnetLearningRateSearch(const ANN_XnetSettings& s, const torch::Device& device, Base_XMODELImpl& model,
                                torch::optim::Optimizer& optimizer, int numClasses, int64_t n, int microbatch,
                                const float* hostImages, const uint8_t* hostLabels, int W, int H, int C, double lowest,
                                double highest, bool show);

// Test measures averaged over the samples, and the per-class hard Dice over the whole set.
struct ANN_XnetEvaluation {
  double binaryDice = 0, softDice = 0, hardDice = 0;
  std::vector<double> classDice;
};
bool ANN_XnetEvaluate(const ANN_XnetSettings& s, Base_XMODELImpl& model, const torch::Device& device,
                      void* const* images, void* const* labels, int64_t n, int W, int H, int C, int numClasses,
                      ANN_XnetEvaluation* out);
