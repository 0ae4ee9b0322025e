#pragma once
// The two four-level 3D U-Nets: one upsampling by trilinear interpolation (with three auxiliary
// heads that the forward pass does not use), one by max unpooling with the pooling indices. Both
// map [N, 1, D, H, W] to two-class scores [N, 2, D, H, W]. Registered names are the archive format.

#include <memory>
#include <tuple>
#include <utility>

#include "AnnTorch.h"

// conv -> ReLU -> instance norm, twice; dropout; residual through the 1x1x1 "equalize_chanels"
// (always registered). No activation after the sum.
struct Doubleconv3DImpl : torch::nn::Module {
  Doubleconv3DImpl(bool useResidual, int Kern, double dropRate, int inChannels, int midChannels, int outChannels);
  torch::Tensor forward(torch::Tensor x);

  bool useResidual;
  torch::nn::Conv3d conv1{nullptr}, conv2{nullptr}, equalize_chanels{nullptr};
  torch::nn::Dropout3d dropout{nullptr};
  torch::nn::InstanceNorm3d inn1{nullptr}, inn2{nullptr};
};
TORCH_MODULE(Doubleconv3D);

// The same block under its own name for the unpooling network.
struct DoubleconvPI3DImpl : Doubleconv3DImpl {
  using Doubleconv3DImpl::Doubleconv3DImpl;
};
TORCH_MODULE(DoubleconvPI3D);

struct Downblock3DImpl : torch::nn::Module {
  Downblock3DImpl(bool useResidual, int Kern, double dropRate, int inChannels, int midChannels, int outChannels, int poolSize);
  std::pair<torch::Tensor, torch::Tensor> forward(const torch::Tensor& x);  // (pooled, before pooling)

  Doubleconv3D dblconv{nullptr};
  torch::nn::MaxPool3d pool{nullptr};
};
TORCH_MODULE(Downblock3D);

struct DownblockPI3DImpl : torch::nn::Module {
  DownblockPI3DImpl(bool useResidual, int Kern, double dropRate, int inChannels, int midChannels, int outChannels, int poolSize);
  std::tuple<torch::Tensor, torch::Tensor, torch::Tensor> forward(const torch::Tensor& x);  // (before, pooled, indices)

  DoubleconvPI3D dblconv{nullptr};
  int poolSize;
};
TORCH_MODULE(DownblockPI3D);

struct Upinterpol3DImpl : torch::nn::Module {
  Upinterpol3DImpl(bool useResidual, int Kern, double dropRate, int inChannels, int outChannels);
  torch::Tensor forward(torch::Tensor x, const torch::Tensor& skip);

  torch::nn::Conv3d conv{nullptr};
  Doubleconv3D dblconv{nullptr};
};
TORCH_MODULE(Upinterpol3D);

struct Upunpool3DImpl : torch::nn::Module {
  Upunpool3DImpl(bool useResidual, int Kern, double dropRate, int inChannels, int outChannels, int poolSize);
  torch::Tensor forward(torch::Tensor x, const torch::Tensor& skip, const torch::Tensor& indices);

  DoubleconvPI3D dblconv{nullptr};
  int poolSize, inChannels, outChannels;
};
TORCH_MODULE(Upunpool3D);

struct UNet3DBaseSftMaxImpl : torch::nn::Module {
  virtual torch::Tensor forward(torch::Tensor x) = 0;
};
struct UNetPI3DBaseSftMaxImpl : torch::nn::Module {
  virtual torch::Tensor forward(torch::Tensor x) = 0;
};

// Of the training record only UseResidConn is read; kernel 3, one input channel, two classes.
struct UNet3D4LEVwSftMaxImpl : UNet3DBaseSftMaxImpl {
  UNet3D4LEVwSftMaxImpl(const ANNTRAINPARM* parm, int unused1, double dropRate, int unused2, int baseChannels);
  torch::Tensor forward(torch::Tensor x) override;

  Downblock3D down1{nullptr}, down2{nullptr}, down3{nullptr}, down4{nullptr};
  Doubleconv3D bottom{nullptr};
  Upinterpol3D up1{nullptr}, up2{nullptr}, up3{nullptr}, up4{nullptr};
  torch::nn::Conv3d final{nullptr}, aux_output1{nullptr}, aux_output2{nullptr}, aux_output3{nullptr};
};

struct UNetPI3D4LEVwSftMaxImpl : UNetPI3DBaseSftMaxImpl {
  UNetPI3D4LEVwSftMaxImpl(const ANNTRAINPARM* parm, int unused1, double dropRate, int unused2, int baseChannels);
  torch::Tensor forward(torch::Tensor x) override;

  DownblockPI3D down1{nullptr}, down2{nullptr}, down3{nullptr}, down4{nullptr};
  DoubleconvPI3D bottom{nullptr};
  Upunpool3D up1{nullptr}, up2{nullptr}, up3{nullptr}, up4{nullptr};
  torch::nn::Conv3d start{nullptr}, final{nullptr};
};
