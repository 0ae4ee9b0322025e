// The networks: shapes, parameter counts from the layer formulas, registered names, archives that
// reload bit for bit, the losses on hand-computed tensors, the batch step's gradient accumulation,
// and the shared training helpers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "Brunet2D.h"
#include "ScriptedUi.h"
#include "TestKit.h"
#include "Unet3D.h"
#include "Xnet.h"

namespace fs = std::filesystem;
using annkit::scratch;
using annkit::wide;

namespace {

// Parameters of a 2D (dims 2) or 3D (dims 3) convolution with bias.
int64_t conv(int64_t in, int64_t out, int64_t k, int dims = 2) { return out * in * (dims == 2 ? k * k : k * k * k) + out; }

std::vector<std::string> parameterNames(const torch::nn::Module& m) {
  std::vector<std::string> names;
  for (const auto& p : m.named_parameters()) names.push_back(p.key());
  return names;
}

std::string errorText(const std::function<void()>& f) {
  try {
    f();
  } catch (const c10::Error& e) {
    return e.what_without_backtrace();
  }
  return "";
}

ANNMODELCFG brunetConfig(int numCat, bool residual, double dropRate = 0) {
  ANNMODELCFG c;
  c.ConvKern = 3;
  c.BaseChan = 4;
  c.useResidual = residual;
  c.uInChan = 3;
  c.numClassesMC = 3;
  c.DropRate = dropRate;
  c.Wi = c.Hi = 32;
  c.NumCat = numCat;
  c.catsz[0] = 3;
  c.catsz[1] = 20;
  return c;
}

// Parameters of the double convolution of BRUNET2D.
int64_t doubleconv2D(int64_t in, int64_t out, bool affine) {
  return conv(in, out, 3) + conv(out, out, 3) + (affine ? 4 * out : 0) + (in != out ? conv(in, out, 1) : 0);
}

int64_t brunetParameters(const ANNMODELCFG& c) {
  const int64_t B = c.BaseChan;
  const bool affine = c.NumCat == 0;
  int64_t n = conv(c.uInChan, B, 1) + doubleconv2D(B, 2 * B, true) + doubleconv2D(2 * B, 4 * B, true) +
              doubleconv2D(4 * B, 8 * B, true) + doubleconv2D(8 * B, 16 * B, true) + doubleconv2D(16 * B, 16 * B, true) +
              doubleconv2D(32 * B, 8 * B, affine) + doubleconv2D(16 * B, 4 * B, affine) +
              doubleconv2D(8 * B, 2 * B, affine) + doubleconv2D(4 * B, B, affine) + conv(B, c.numClassesMC, 1);
  if (c.NumCat > 0) {
    int64_t e = 0;
    for (int i = 0; i < c.NumCat; ++i) {
      const int w = MetaFiLMMultiImpl::EmbeddingWidth(c.catsz[i]);
      n += int64_t(c.catsz[i]) * w;
      e += w;
    }
    n += (e * 128 + 128) + (128 * 60 * B + 60 * B);
  }
  return n;
}

// The registered parameter names of a BRUNET2D double convolution under a prefix.
void addDoubleconvNames(std::vector<std::string>& names, const std::string& prefix, bool affine, bool equalize) {
  for (const char* n : {"conv1.weight", "conv1.bias", "conv2.weight", "conv2.bias"}) names.push_back(prefix + n);
  if (affine)
    for (const char* n : {"inn1.weight", "inn1.bias", "inn2.weight", "inn2.bias"}) names.push_back(prefix + n);
  if (equalize)
    for (const char* n : {"equalize_channels.weight", "equalize_channels.bias"}) names.push_back(prefix + n);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// BRUNET2D
// ---------------------------------------------------------------------------------------------

TEST(Brunet2D, ShapesParameterCountsAndNames) {
  torch::manual_seed(5);
  for (int numCat : {0, 2}) {
    for (bool residual : {true, false}) {
      SCOPED_TRACE(std::to_string(numCat) + (residual ? " residual" : ""));
      const ANNMODELCFG cfg = brunetConfig(numCat, residual);
      BRUNET2DFXImpl net(cfg, cfg.NumCat, cfg.catsz);
      EXPECT_EQ(ANN_ParameterCount(net), brunetParameters(cfg));
      // 100 x 100 does not divide by 16: unpooling restores every skip's size.
      const torch::Tensor x = torch::randn({2, 3, 100, 100});
      const torch::Tensor idx = torch::tensor({{1, 7}, {2, 19}}, torch::kLong);
      EXPECT_EQ(net.forward(x, idx).sizes(), (std::vector<int64_t>{2, 3, 100, 100}));
    }
  }
  const ANNMODELCFG cfg = brunetConfig(2, true);
  BRUNET2DFXImpl net(cfg, 2, cfg.catsz);
  std::vector<std::string> expected = {"start.weight", "start.bias"};
  addDoubleconvNames(expected, "down1.dblconv.", true, true);
  addDoubleconvNames(expected, "down2.dblconv.", true, true);
  addDoubleconvNames(expected, "down3.dblconv.", true, true);
  addDoubleconvNames(expected, "down4.dblconv.", true, true);
  addDoubleconvNames(expected, "bottom.", true, false);
  for (const char* up : {"up1_mc", "up2_mc", "up3_mc", "up4_mc"}) addDoubleconvNames(expected, std::string(up) + ".dblconv.", false, true);
  for (const char* n : {"final_mc.weight", "final_mc.bias", "meta.emb_list.0.weight", "meta.emb_list.1.weight",
                        "meta.mlp.0.weight", "meta.mlp.0.bias", "meta.mlp.2.weight", "meta.mlp.2.bias"})
    expected.push_back(n);
  EXPECT_EQ(parameterNames(net), expected);
}

TEST(Brunet2D, ConstructionChecksAndConditioning) {
  ANNMODELCFG even = brunetConfig(0, true);
  even.ConvKern = 4;
  EXPECT_EQ(errorText([&] { BRUNET2DFXImpl net(even, 0, even.catsz); }), "Kernel must be odd");
  ANNMODELCFG badCategory = brunetConfig(1, true);
  badCategory.catsz[0] = 0;
  EXPECT_EQ(errorText([&] { BRUNET2DFXImpl net(badCategory, 1, badCategory.catsz); }), "CategorySize[0] must be >= 1");

  const struct { int v, width; } widths[] = {{1, 1}, {2, 2}, {3, 3}, {8, 6}, {20, 10}, {300, 16}};
  for (const auto& w : widths) EXPECT_EQ(MetaFiLMMultiImpl::EmbeddingWidth(w.v), w.width) << w.v;

  ANNMODELCFG b16 = brunetConfig(1, true);
  b16.BaseChan = 16;
  BRUNET2DFXImpl big(b16, 1, b16.catsz);
  EXPECT_EQ(big.filmChannels, (std::vector<int>{128, 128, 64, 64, 32, 32, 16, 16}));
  EXPECT_EQ(big.sumC, 480);
  EXPECT_EQ(big.meta->mlp[2]->as<torch::nn::Linear>()->weight.size(0), 960);

  // Without categories the category index changes nothing.
  torch::manual_seed(3);
  const ANNMODELCFG plain = brunetConfig(0, true);
  BRUNET2DFXImpl net(plain, 0, plain.catsz);
  net.eval();
  const torch::Tensor x = torch::randn({2, 3, 32, 32});
  EXPECT_TRUE(torch::equal(net.forward(x, torch::zeros({2, 1}, torch::kLong)), net.forward(x, torch::tensor({{5}, {9}}))));
  EXPECT_TRUE(torch::equal(net.forward(x, torch::zeros({2, 1}, torch::kLong)), net.forward(x, torch::Tensor())));
  // With categories, an index beyond the vocabulary fails inside the lookup.
  const ANNMODELCFG conditioned = brunetConfig(1, true);
  BRUNET2DFXImpl cnet(conditioned, 1, conditioned.catsz);
  EXPECT_THROW(cnet.forward(x, torch::tensor({{0}, {3}})), c10::Error);

  EXPECT_EQ(errorText([&] { ApplyFiLM2D(x, torch::ones({2, 3, 1}), torch::ones({2, 3})); }), "FiLM expects [N,C] gamma/beta");
  EXPECT_EQ(errorText([&] { ApplyFiLM2D(x, torch::ones({2, 4}), torch::ones({2, 4})); }),
            "FiLM C mismatch: got gamma/beta C=4, expected 3");
}

TEST(Brunet2D, DropoutRatesPerLevel) {
  const ANNMODELCFG none = brunetConfig(0, true, 0.0);
  BRUNET2DFXImpl plain(none, 0, none.catsz);
  for (const auto& m : plain.named_modules("", false)) EXPECT_EQ(m.key().find("dropout"), std::string::npos) << m.key();

  const ANNMODELCFG cfg = brunetConfig(0, true, 0.2);
  BRUNET2DFXImpl net(cfg, 0, cfg.catsz);
  const struct { const char* block; double rate; } cases[] = {
      {"down1.dblconv", 0.05}, {"down2.dblconv", 0.1}, {"down3.dblconv", 0.15}, {"down4.dblconv", 0.2},
      {"bottom", 0.2}, {"up1_mc.dblconv", 0.15}, {"up2_mc.dblconv", 0.1}, {"up3_mc.dblconv", 0.05}, {"up4_mc.dblconv", 0}};
  auto modules = net.named_modules("", false);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.block);
    auto* dropout = modules.find(std::string(c.block) + ".dropout");
    if (c.rate == 0) {
      EXPECT_EQ(dropout, nullptr);
    } else {
      ASSERT_NE(dropout, nullptr);
      EXPECT_NEAR((*dropout)->as<torch::nn::Dropout2d>()->options.p(), c.rate, 1e-12);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Xnet and Ynet
// ---------------------------------------------------------------------------------------------

namespace {

int64_t comboconv(int64_t in, int64_t out, int64_t k) { return conv(in, out, k) + 2 * conv(out, out, k) + conv(in, out, 1); }

ANNMODELCFG xnetConfig() {
  ANNMODELCFG c;
  c.uInChan = 3;
  c.numClassesMC = 3;
  c.BaseChan = 7;  // not read: the widths are fixed
  c.useResidual = true;
  return c;
}

}  // namespace

TEST(Xnet, ShapesParameterCountsAndNames) {
  torch::manual_seed(1);
  const ANNMODELCFG cfg = xnetConfig();
  XMODELImpl x(cfg);
  EXPECT_EQ(ANN_ParameterCount(x), conv(3, 40, 1) + 20 * comboconv(40, 40, 3) + comboconv(840, 1, 3) + comboconv(840, 3, 3));
  auto [p, m] = x.forward(torch::randn({2, 3, 20, 18}));
  EXPECT_EQ(p.sizes(), (std::vector<int64_t>{2, 1, 20, 18}));
  EXPECT_EQ(m.sizes(), (std::vector<int64_t>{2, 3, 20, 18}));
  const std::vector<std::string> names = parameterNames(x);
  EXPECT_EQ(names[2], "feat1.conv1.weight");
  EXPECT_EQ(names[8], "feat1.equalize_channels.weight");  // conv1..3, then equalize_channels (norms have no parameters)

  for (bool head : {false, true}) {
    SCOPED_TRACE(head);
    YMODELImpl y(cfg, head);
    int64_t expected = comboconv(192, 3, 1) + (head ? comboconv(192, 1, 1) : 0);
    for (int k = 1; k <= 23; k += 2) expected += conv(3, 16, k);
    EXPECT_EQ(ANN_ParameterCount(y), expected);
    auto [yp, ym] = y.forward(torch::randn({1, 3, 24, 24}));
    EXPECT_EQ(yp.defined(), head);
    EXPECT_EQ(ym.sizes(), (std::vector<int64_t>{1, 3, 24, 24}));
    std::vector<std::string> children;
    for (const auto& c : y.named_children()) children.push_back(c.key());
    EXPECT_EQ(children.size(), head ? 14u : 13u);
    EXPECT_EQ(children[11], "feat23");
    EXPECT_EQ(children[12], head ? "final_bin" : "final_mc");
  }
  Comboconv2DImpl withDropout(true, 3, 0.5, 4, 4);
  std::vector<std::string> children;
  for (const auto& c : withDropout.named_children()) children.push_back(c.key());
  EXPECT_EQ(children, (std::vector<std::string>{"conv1", "conv2", "conv3", "norm1", "norm2", "norm3", "dropout", "equalize_channels"}));
  EXPECT_EQ(errorText([] { Comboconv2DImpl block(true, 2, 0, 4, 4); }), "Kernel must be odd");
}

TEST(Xnet, ForwardErrorIsShownAndEndsTheStep) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const ANNMODELCFG cfg = xnetConfig();
  XMODELImpl x(cfg);
  auto [p, m] = x.forward(torch::randn({1, 5, 16, 16}));  // five channels for a three-channel network
  EXPECT_FALSE(p.defined());
  EXPECT_FALSE(m.defined());
  ASSERT_EQ(script.messages.size(), 1u);
  EXPECT_EQ(script.messages[0].Left(15), L"Forward Error: ");
  torch::optim::SGD sgd(x.parameters(), torch::optim::SGDOptions(0.1));
  ANN_XnetSettings s;
  std::vector<float> images(5 * 16 * 16);
  std::vector<uint8_t> labels(16 * 16);
  EXPECT_FALSE(ANN_XnetBatchStep(s, true, torch::kCPU, x, sgd, 3, 1, 1, images.data(), labels.data(), 16, 16, 5,
                                 torch::Tensor(), torch::Tensor(), nullptr, nullptr));
}

// ---------------------------------------------------------------------------------------------
// 3D U-Nets
// ---------------------------------------------------------------------------------------------

namespace {

int64_t doubleconv3D(int64_t in, int64_t mid, int64_t out) { return conv(in, mid, 3, 3) + conv(mid, out, 3, 3) + conv(in, out, 1, 3); }

}  // namespace

TEST(Unet3D, ShapesParameterCountsAndNamesAtOddSizes) {
  torch::manual_seed(2);
  ANNTRAINPARM parm{};
  parm.UseResidConn = 0;  // the 1x1x1 channel equaliser is registered all the same
  const int64_t B = 2;
  UNet3D4LEVwSftMaxImpl interp(&parm, 0, 0.0, 0, int(B));
  const int64_t expectedInterp = doubleconv3D(1, B, B) + doubleconv3D(B, 2 * B, 2 * B) + doubleconv3D(2 * B, 4 * B, 4 * B) +
                                 doubleconv3D(4 * B, 8 * B, 8 * B) + doubleconv3D(8 * B, 16 * B, 16 * B) +
                                 conv(8 * B, 1, 1, 3) + conv(4 * B, 1, 1, 3) + conv(2 * B, 1, 1, 3) +
                                 conv(16 * B, 8 * B, 1, 3) + doubleconv3D(16 * B, 8 * B, 8 * B) + conv(8 * B, 4 * B, 1, 3) +
                                 doubleconv3D(8 * B, 4 * B, 4 * B) + conv(4 * B, 2 * B, 1, 3) + doubleconv3D(4 * B, 2 * B, 2 * B) +
                                 conv(2 * B, B, 1, 3) + doubleconv3D(2 * B, B, B) + conv(B, 2, 1, 3);
  EXPECT_EQ(ANN_ParameterCount(interp), expectedInterp);
  UNetPI3D4LEVwSftMaxImpl unpool(&parm, 0, 0.0, 0, int(B));
  const int64_t expectedUnpool = conv(1, B, 1, 3) + doubleconv3D(B, 2 * B, 2 * B) + doubleconv3D(2 * B, 4 * B, 4 * B) +
                                 doubleconv3D(4 * B, 8 * B, 8 * B) + doubleconv3D(8 * B, 16 * B, 16 * B) +
                                 doubleconv3D(16 * B, 16 * B, 16 * B) + doubleconv3D(32 * B, 8 * B, 8 * B) +
                                 doubleconv3D(16 * B, 4 * B, 4 * B) + doubleconv3D(8 * B, 2 * B, 2 * B) +
                                 doubleconv3D(4 * B, B, B) + conv(B, 2, 1, 3);
  EXPECT_EQ(ANN_ParameterCount(unpool), expectedUnpool);
  const torch::Tensor x = torch::randn({1, 1, 33, 34, 35});
  EXPECT_EQ(interp.forward(x).sizes(), (std::vector<int64_t>{1, 2, 33, 34, 35}));
  EXPECT_EQ(unpool.forward(x).sizes(), (std::vector<int64_t>{1, 2, 33, 34, 35}));

  std::vector<std::string> children;
  for (const auto& c : interp.named_children()) children.push_back(c.key());
  EXPECT_EQ(children, (std::vector<std::string>{"down1", "down2", "down3", "down4", "bottom", "aux_output1", "aux_output2",
                                                "aux_output3", "up1", "up2", "up3", "up4", "final"}));
  const std::vector<std::string> names = parameterNames(unpool);
  const std::vector<std::string> head(names.begin(), names.begin() + 8);
  EXPECT_EQ(head, (std::vector<std::string>{"start.weight", "start.bias", "down1.dblconv.conv1.weight", "down1.dblconv.conv1.bias",
                                            "down1.dblconv.conv2.weight", "down1.dblconv.conv2.bias",
                                            "down1.dblconv.equalize_chanels.weight", "down1.dblconv.equalize_chanels.bias"}));
  // A dropout rate gives dropout everywhere but in the blocks whose rate is 0.
  UNet3D4LEVwSftMaxImpl withDropout(&parm, 0, 0.4, 0, 1);
  auto modules = withDropout.named_modules("", false);
  EXPECT_EQ(modules.find("down1.dblconv.dropout"), nullptr);
  EXPECT_EQ(modules.find("up4.dblconv.dropout"), nullptr);
  EXPECT_NE(modules.find("down2.dblconv.dropout"), nullptr);
  EXPECT_NE(modules.find("bottom.dropout"), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Archives
// ---------------------------------------------------------------------------------------------

TEST(Archives, ReloadIsBitExactForEveryArchitecture) {
  const fs::path folder = scratch("archives");
  ANNTRAINPARM parm{};
  parm.UseResidConn = 1;
  const ANNMODELCFG b0 = brunetConfig(0, true, 0.1), b2 = brunetConfig(2, true), xc = xnetConfig();
  struct Case {
    const char* name;
    std::function<std::shared_ptr<torch::nn::Module>()> make;
    std::function<torch::Tensor(torch::nn::Module&)> run;
  };
  const torch::Tensor x2 = torch::randn({2, 3, 32, 32}), x3 = torch::randn({1, 1, 17, 18, 19});
  const torch::Tensor idx = torch::tensor({{2, 4}, {0, 11}});
  const Case cases[] = {
      {"brunet0", [&] { return std::make_shared<BRUNET2DFXImpl>(b0, 0, b0.catsz); },
       [&](torch::nn::Module& m) { return static_cast<BRUNET2DFXImpl&>(m).forward(x2, torch::Tensor()); }},
      {"brunet2", [&] { return std::make_shared<BRUNET2DFXImpl>(b2, 2, b2.catsz); },
       [&](torch::nn::Module& m) { return static_cast<BRUNET2DFXImpl&>(m).forward(x2, idx); }},
      {"xnet", [&] { return std::make_shared<XMODELImpl>(xc); },
       [&](torch::nn::Module& m) { return static_cast<XMODELImpl&>(m).forward(x2).second; }},
      {"ynet", [&] { return std::make_shared<YMODELImpl>(xc, true); },
       [&](torch::nn::Module& m) { return static_cast<YMODELImpl&>(m).forward(x2).second; }},
      {"unet3d", [&] { return std::make_shared<UNet3D4LEVwSftMaxImpl>(&parm, 0, 0.0, 0, 2); },
       [&](torch::nn::Module& m) { return static_cast<UNet3D4LEVwSftMaxImpl&>(m).forward(x3); }},
      {"unetpi3d", [&] { return std::make_shared<UNetPI3D4LEVwSftMaxImpl>(&parm, 0, 0.0, 0, 2); },
       [&](torch::nn::Module& m) { return static_cast<UNetPI3D4LEVwSftMaxImpl&>(m).forward(x3); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    torch::manual_seed(11);
    auto first = c.make();
    ANN_InitParamsXavier(*first);
    first->eval();
    const torch::Tensor before = c.run(*first);
    const fs::path path = folder / (std::string(c.name) + ".pt");
    ANN_SaveModule(*first, wide(path));
    torch::manual_seed(12);
    auto second = c.make();
    second->eval();
    EXPECT_FALSE(torch::equal(c.run(*second), before));
    ANN_LoadModuleStrict(*second, wide(path));
    EXPECT_TRUE(torch::equal(c.run(*second), before));
  }
  // Another network's archive, a conditioned archive for an unconditioned network, a missing or
  // truncated file: all refused with the name of the first disagreement.
  BRUNET2DFXImpl plain(b0, 0, b0.catsz);
  const std::string other = errorText([&] { ANN_LoadModuleStrict(plain, wide(folder / "xnet.pt")); });
  EXPECT_NE(other.find("start.weight"), std::string::npos) << other;
  const std::string conditioned = errorText([&] { ANN_LoadModuleStrict(plain, wide(folder / "brunet2.pt")); });
  EXPECT_NE(conditioned.find("up1_mc.dblconv.inn1.weight"), std::string::npos) << conditioned;
  ANNMODELCFG wider = b0;
  wider.BaseChan = 5;
  BRUNET2DFXImpl widerNet(wider, 0, wider.catsz);
  const std::string shape = errorText([&] { ANN_LoadModuleStrict(widerNet, wide(folder / "brunet0.pt")); });
  EXPECT_NE(shape.find("start.weight"), std::string::npos) << shape;
  EXPECT_THROW(ANN_LoadModuleStrict(plain, wide(folder / "absent.pt")), c10::Error);
  fs::copy_file(folder / "brunet0.pt", folder / "cut.pt");
  fs::resize_file(folder / "cut.pt", fs::file_size(folder / "cut.pt") / 2);
  EXPECT_THROW(ANN_LoadModuleStrict(plain, wide(folder / "cut.pt")), c10::Error);
  EXPECT_THROW(ANN_SaveModule(plain, wide(folder / "no" / "such" / "folder.pt")), c10::Error);
}

TEST(Archives, ModelLoaderReportsFailures) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const fs::path folder = scratch("loader");
  ANNTRAINPARM parm{};
  ANNMODELCFG cfg = brunetConfig(0, true);
  BRUNET2DFXImpl net(cfg, 0, cfg.catsz);
  ANN_SaveModule(net, wide(folder / "m.pt"));
  ASSERT_TRUE(ANN_WriteModelCfg(wide(folder / "m.mcfg"), &cfg, &parm));
  ANNMODELCFG read;
  EXPECT_NE(ANN_LoadBRUNET2D(torch::kCPU, wide(folder / "m.mcfg"), wide(folder / "m.pt"), &read), nullptr);
  EXPECT_EQ(read.BaseChan, 4);
  EXPECT_TRUE(script.messages.empty());
  // A configuration that cannot be read: null without a message.
  EXPECT_EQ(ANN_LoadBRUNET2D(torch::kCPU, wide(folder / "absent.mcfg"), wide(folder / "m.pt"), nullptr), nullptr);
  EXPECT_TRUE(script.messages.empty());
  // A configuration that disagrees with the archive: the load error with the exception's text.
  cfg.NumCat = 1;
  ASSERT_TRUE(ANN_WriteModelCfg(wide(folder / "other.mcfg"), &cfg, &parm));
  EXPECT_EQ(ANN_LoadBRUNET2D(torch::kCPU, wide(folder / "other.mcfg"), wide(folder / "m.pt"), nullptr), nullptr);
  ASSERT_EQ(script.messages.size(), 1u);
  EXPECT_EQ(script.messages[0].Left(20), L"Load model error : \n");
  EXPECT_EQ(script.messageTypes[0], unsigned(MB_OK | MB_ICONINFORMATION));
}

// ---------------------------------------------------------------------------------------------
// Losses and the batch step
// ---------------------------------------------------------------------------------------------

namespace {

// Sets the library-wide BRUNET2D loss state for two classes on 2 x 2 images.
struct LossState {
  explicit LossState(double alpha, ANNCLASSLOSS table0 = {1, 0.5, 0.5, 1}, ANNCLASSLOSS table1 = {1, 0.5, 0.5, 1}) {
    ANN_Brunet2DState().alpha = alpha;
    ANN_Brunet2DState().W = ANN_Brunet2DState().H = 2;
    const ANNCLASSLOSS table[2] = {table0, table1};
    EXPECT_TRUE(ANN_MakeClassLossTables(table, 2, torch::kCPU));
  }
  ~LossState() {
    ANN_ReleaseClassLossTables();
    ANN_Brunet2DState() = ANN_Brunet2DRun{};
  }
};

}  // namespace

TEST(Losses, Brunet2DLossOnTwoByTwoImages) {
  // One sample, logits 0 for class 0 and log 3 for class 1 everywhere: p1 = 0.75, p0 = 0.25.
  const torch::Tensor logits = torch::stack({torch::zeros({2, 2}), torch::full({2, 2}, std::log(3.0))}).unsqueeze(0).to(torch::kDouble);
  const torch::Tensor labels = torch::tensor({1, 0, 1, 1}, torch::kUInt8).reshape({1, 1, 2, 2});
  const torch::Tensor mask = torch::tensor({1, 1, 1, 0}, torch::kUInt8).reshape({1, 1, 2, 2});
  // Cross-entropy over the three valid pixels: two of class 1 (-log 0.75), one of class 0 (-log 0.25).
  const double ce = (2 * -std::log(0.75) + -std::log(0.25)) / 3;
  // Overlap term, exponent 1 and coefficients 0.5/0.5 (one minus the soft Dice), equal weights:
  // class 0: I = 0.25, S = 0.75, G = 1 -> Dice 0.25 / 0.5 ... as (I + e)/(I + 0.5 FP + 0.5 FN + e).
  auto tversky = [](double I, double S, double G) { return 1 - I / (I + 0.5 * (S - I) + 0.5 * (G - I)); };
  const double overlap = 0.5 * tversky(0.25, 0.75, 1) + 0.5 * tversky(1.5, 2.25, 2);
  const struct { double alpha, expected; } cases[] = {{1, ce}, {0, overlap}, {0.5, 0.5 * ce + 0.5 * overlap}};
  for (const auto& c : cases) {
    LossState state(c.alpha);
    EXPECT_NEAR(ANN_BRUNET2DLoss(logits, 2, labels, mask).item<double>(), c.expected, 1e-7) << c.alpha;  // the 1e-8 smoothing
  }
  {
    // A class absent from the valid region has no weight; an all-zero mask counts as a sample with 0.
    LossState state(0.0, {1, 0.5, 0.5, 1}, {3, 0.5, 0.5, 1});
    const torch::Tensor zeros = torch::zeros({1, 1, 2, 2}, torch::kUInt8);
    EXPECT_NEAR(ANN_BRUNET2DLoss(logits, 2, zeros, torch::ones({1, 1, 2, 2}, torch::kUInt8)).item<double>(),
                tversky(1.0, 1.0, 4), 1e-7);
    EXPECT_EQ(ANN_BRUNET2DLoss(logits, 2, labels, zeros).item<double>(), 0.0);
  }
  const torch::Tensor values = torch::tensor({1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0}).reshape({2, 2, 2});
  const torch::Tensor masks = torch::tensor({1.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0}).reshape({2, 2, 2});
  EXPECT_NEAR(ANN_MaskedMean(masks, values).item<double>(), (2.0 + 0.0) / 2, 1e-12);
}

TEST(Losses, XnetLossesOnTwoByTwoImages) {
  ANN_XnetSettings s;
  s.alpha = 0;  // soft Dice only
  // Class map scores for 3 classes: pixel 0 class 1, pixel 1 class 2, pixels 2-3 class 0, confidently.
  torch::Tensor m = torch::full({1, 3, 2, 2}, -30.0);
  m[0][1][0][0] = 30, m[0][2][0][1] = 30, m[0][0][1][0] = 30, m[0][0][1][1] = 30;
  const torch::Tensor y = torch::tensor({1, 1, 0, 0}, torch::kUInt8).reshape({1, 1, 2, 2});
  // Class 1: overlap 1, prediction 1, truth 2 -> 2/3; class 2: prediction 1, truth 0 -> 0.
  auto [loss, soft] = ANN_XnetMultiClassLoss(s, 3, m, y);
  EXPECT_NEAR(soft.item<double>(), (2.0 / 3 + 0) / 2, 1e-6);
  EXPECT_NEAR(loss.item<double>(), 1 - (2.0 / 3) / 2, 1e-6);
  EXPECT_NEAR(ANN_XnetHardDice(3, m, y).item<double>(), (2.0 / 3 + 0) / 2, 1e-6);
  // A class absent from prediction and labels scores 1 in the hard Dice.
  EXPECT_NEAR(ANN_XnetHardDice(4, m, y).item<double>(), (2.0 / 3 + 0 + 1) / 3, 1e-6);
  // Binary Dice of p against the foreground.
  const torch::Tensor p = torch::tensor({1.0, 0.5, 0.0, 0.5}).reshape({1, 1, 2, 2});
  auto [bl, bd] = ANN_XnetBinaryLoss(p, y);
  EXPECT_NEAR(bd.item<double>(), 2 * 1.5 / (2 + 2), 1e-6);
  EXPECT_NEAR(bl.item<double>(), 1 - 0.75, 1e-6);
  // Without the binary head the total is the multi-class loss and the binary Dice 0.
  auto [s0, d0, t0] = ANN_XnetCombinedLoss(s, 3, torch::Tensor(), m, y);
  EXPECT_EQ(d0.item<double>(), 0.0);
  EXPECT_NEAR(t0.item<double>(), loss.item<double>(), 1e-12);
  s.binaryHead = true, s.beta = 0.5;
  auto [s1, d1, t1] = ANN_XnetCombinedLoss(s, 3, p, m, y);
  EXPECT_NEAR(t1.item<double>(), 0.5 * loss.item<double>() + 0.5 * 0.25, 1e-6);
  // With alpha 1 the weighted cross-entropy alone.
  s.alpha = 1;
  s.classWeights = ANN_MakeClassWeights(nullptr, 3, torch::kCPU, 6);
  EXPECT_NEAR(ANN_XnetMultiClassLoss(s, 3, m, y).first.item<double>(),
              torch::nn::functional::cross_entropy(m, y.squeeze(1).to(torch::kLong)).item<double>(), 1e-12);
}

TEST(Losses, MicroBatchesGiveTheGradientOfTheWholeBatch) {
  torch::manual_seed(4);
  const int W = 16, H = 16, channels = 2;
  const ANNCLASSLOSS table[3] = {{0.2, 0.5, 0.5, 1.0}, {0.4, 0.3, 0.7, 1.5}, {0.4, 0.6, 0.4, 2.0}};
  ANN_Brunet2DState().alpha = 0.5;
  ANN_Brunet2DState().W = W;
  ANN_Brunet2DState().H = H;
  ASSERT_TRUE(ANN_MakeClassLossTables(table, 3, torch::kCPU));
  const float weights[3] = {0.3f, 1.0f, 1.3f};
  ANN_Brunet2DState().classWeights = ANN_MakeClassWeights(weights, 3, torch::kCPU, 6);
  std::vector<void*> images, labels, masks;
  for (int i = 0; i < 10; ++i) {
    images.push_back(VA_FlexDim_NewImage(W, H, channels));
    labels.push_back(VA_FlexDim_NewBytemap(W, H));
    masks.push_back(VA_FlexDim_NewBytemap(W, H));
    const torch::Tensor r = torch::rand({channels * W * H});
    std::memcpy(VA_FlexDimPixels(images.back()), r.data_ptr<float>(), size_t(r.numel()) * 4);
    for (int k = 0; k < W * H; ++k) VA_FlexDimBytes(labels.back())[k] = uint8_t((k + i) % 3), VA_FlexDimBytes(masks.back())[k] = (k % 7) != 0;
  }
  ANNMODELCFG cfg = brunetConfig(0, true);
  cfg.uInChan = channels;
  std::vector<std::vector<torch::Tensor>> gradients;
  double losses[2] = {};
  for (int micro : {4, 10}) {
    torch::manual_seed(9);
    BRUNET2DFXImpl net(cfg, 0, cfg.catsz);
    torch::optim::SGD sgd(net.parameters(), torch::optim::SGDOptions(0.0));
    ASSERT_TRUE(BatchForward_FlexDim(torch::kCPU, 6, channels, net, sgd, 3, 10, micro, images.data(), labels.data(),
                                     masks.data(), &losses[micro == 10]));
    gradients.emplace_back();
    for (const auto& p : net.parameters()) gradients.back().push_back(p.grad().clone());
  }
  ASSERT_EQ(gradients[0].size(), gradients[1].size());
  for (size_t i = 0; i < gradients[0].size(); ++i)
    EXPECT_LT((gradients[0][i] - gradients[1][i]).abs().max().item<double>(), 1e-6) << i;
  EXPECT_NEAR(losses[0], losses[1], 1e-5);
  // A sample of another size is refused before any step.
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  void* odd = VA_FlexDim_NewImage(W, H + 1, channels);
  std::swap(images[3], odd);
  BRUNET2DFXImpl net(cfg, 0, cfg.catsz);
  torch::optim::SGD sgd(net.parameters(), torch::optim::SGDOptions(0.1));
  double loss = -1;
  EXPECT_FALSE(BatchForward_FlexDim(torch::kCPU, 6, channels, net, sgd, 3, 10, 4, images.data(), labels.data(), masks.data(), &loss));
  EXPECT_EQ(loss, -1);
  EXPECT_EQ(script.lastMessage(), L"BatchForward_FlexDim : Individual image dimensions mismatch");
  EXPECT_FALSE(ANN_EvalLoss(torch::kCPU, 6, channels, net, 3, 4, images.data(), labels.data(), masks.data(), 10, &loss));
  std::swap(images[3], odd);
  pf_free(&odd);
  for (auto* list : {&images, &labels, &masks})
    for (void*& p : *list) pf_free(&p);
  ANN_ReleaseClassLossTables();
  ANN_Brunet2DState() = ANN_Brunet2DRun{};
}

// ---------------------------------------------------------------------------------------------
// Shared helpers
// ---------------------------------------------------------------------------------------------

TEST(Helpers, ClassTablesAndWeights) {
  const ANNCLASSLOSS table[3] = {{0.0, 0.5, 0.5, 0.75}, {0.4, 0.55, 0.45, 1.5}, {0.8, 0.3, 0.7, 2.0}};
  ASSERT_TRUE(ANN_MakeClassLossTables(table, 3, torch::kCPU));
  const ANN_ClassLossTensors& t = ANN_ClassLoss();
  EXPECT_EQ(t.w.sizes(), (std::vector<int64_t>{1, 3}));
  EXPECT_NEAR(t.w[0][1].item<double>(), 1.0 / 3, 1e-15);
  EXPECT_NEAR(t.w[0][2].item<double>(), 2.0 / 3, 1e-15);
  EXPECT_EQ(t.g[0][0].item<double>(), 0.75);
  const ANNCLASSLOSS zero[2] = {{0, 0.5, 0.5, 1}, {0, 0.5, 0.5, 1}};
  EXPECT_FALSE(ANN_MakeClassLossTables(zero, 2, torch::kCPU));
  EXPECT_FALSE(ANN_ClassLoss().w.defined());

  const float weights[3] = {0.3f, 1.0f, 1.3f};
  const torch::Tensor w = ANN_MakeClassWeights(weights, 3, torch::kCPU, 6);
  EXPECT_EQ(w.scalar_type(), torch::kFloat);
  EXPECT_NEAR(w[0].item<double>(), 0.3 * 3 / 2.6, 1e-6);
  EXPECT_NEAR(w[1].item<double>(), 3 / 2.6, 1e-6);
  EXPECT_NEAR(w[2].item<double>(), 1.5, 1e-6);
  EXPECT_EQ(ANN_MakeClassWeights(nullptr, 2, torch::kCPU, 7).scalar_type(), torch::kDouble);
  const float zeros[2] = {0, 0};
  EXPECT_FALSE(ANN_MakeClassWeights(zeros, 2, torch::kCPU, 6).defined());
  EXPECT_FALSE(ANN_MakeClassWeights(nullptr, 257, torch::kCPU, 6).defined());
}

TEST(Helpers, DeviceChoice) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  std::unique_ptr<torch::Device> cpu(ANN_ChooseDevice(false));
  ASSERT_NE(cpu, nullptr);
  EXPECT_TRUE(cpu->is_cpu());
  EXPECT_TRUE(script.messages.empty());
  script.answerMessage(IDNO);
  EXPECT_EQ(ANN_ChooseDevice(true), nullptr);
  EXPECT_EQ(script.lastMessage(), L"CUDA is not available.\nProceed anyway?");
  script.answerMessage(IDYES);
  std::unique_ptr<torch::Device> yes(ANN_ChooseDevice(true));
  ASSERT_NE(yes, nullptr);
  EXPECT_TRUE(yes->is_cpu());
}

TEST(Helpers, SnapshotsOptimiserGroupsAndDice) {
  torch::manual_seed(6);
  ANNMODELCFG cfg = brunetConfig(1, true);
  cfg.uInChan = 1;
  BRUNET2DFXImpl net(cfg, 1, cfg.catsz);
  ANN_InitBRUNET2DWeights(net);
  // The conditioning's last layer starts near zero, so every FiLM scale starts near 1.
  EXPECT_LT(net.meta->mlp[2]->as<torch::nn::Linear>()->weight.abs().max().item<double>(), 0.01);
  auto adam = ANN_MakeAdamW(net, 0.001, 0.0001);
  ASSERT_NE(adam, nullptr);
  ASSERT_EQ(adam->param_groups().size(), 2u);
  auto decayOf = [&](const torch::Tensor& p) {
    for (auto& g : adam->param_groups())
      for (auto& q : g.params())
        if (q.is_same(p)) return static_cast<torch::optim::AdamWOptions&>(g.options()).weight_decay();
    return -1.0;
  };
  EXPECT_EQ(decayOf(net.down1->dblconv->conv1->weight), 0.0001);
  EXPECT_EQ(decayOf(net.down1->dblconv->conv1->bias), 0.0);
  EXPECT_EQ(decayOf(net.meta->mlp[0]->as<torch::nn::Linear>()->weight), 0.0);
  EXPECT_EQ(decayOf(net.down1->dblconv->inn1->weight), 0.0);

  // Restoring a snapshot twice gives the same parameters both times.
  auto snapshot = ANN_SaveSnapshot(net, *adam);
  const torch::Tensor start = net.start->weight.clone();
  auto step = [&] {
    adam->zero_grad();
    net.forward(torch::randn({2, 1, 16, 16}), torch::zeros({2, 1}, torch::kLong)).sum().backward();
    adam->step();
  };
  step();
  EXPECT_FALSE(torch::equal(net.start->weight, start));
  ANN_RestoreSnapshot(*snapshot, net, *adam);
  EXPECT_TRUE(torch::equal(net.start->weight, start));
  step();
  ANN_RestoreSnapshot(*snapshot, net, *adam);
  EXPECT_TRUE(torch::equal(net.start->weight, start));

  const double classDice[3] = {0.5, NAN, 0.9};
  const uint8_t none[3] = {0, 0, 0}, last[3] = {0, 0, 1}, middle[3] = {0, 1, 0};
  EXPECT_NEAR(ANN_MeanClassDice(classDice, none, 3), 0.7, 1e-15);
  EXPECT_EQ(ANN_MeanClassDice(classDice, last, 3), 0.9);
  EXPECT_TRUE(std::isnan(ANN_MeanClassDice(classDice, middle, 3)));

  // Hard Dice of a 3D network: an empty prediction and label give not-a-number, so does no sample.
  std::vector<float> image(8, 0.f), label(8, 0.f), stage1(8), stage2(8);
  void* images[1] = {image.data()};
  void* labels[1] = {label.data()};
  auto background = [](const torch::Tensor& x) { return torch::cat({torch::ones_like(x), torch::zeros_like(x)}, 1); };
  EXPECT_TRUE(std::isnan(ANN_BatchDice(background, torch::kCPU, torch::kFloat, 2, 2, 2, 6, stage1.data(), stage2.data(), images, labels, 1)));
  EXPECT_TRUE(std::isnan(ANN_BatchDice(background, torch::kCPU, torch::kFloat, 2, 2, 2, 6, stage1.data(), stage2.data(), images, labels, 0)));
  label[3] = 1;
  auto foreground = [](const torch::Tensor& x) { return torch::cat({torch::zeros_like(x), torch::ones_like(x)}, 1); };
  EXPECT_NEAR(ANN_BatchDice(foreground, torch::kCPU, torch::kFloat, 2, 2, 2, 6, stage1.data(), stage2.data(), images, labels, 1),
              2.0 / 9, 1e-6);
}

TEST(Helpers, LearningRateSearchLeavesNoTrace) {
  torch::manual_seed(8);
  ANN_XnetSettings s;
  s.alpha = 0.5;
  ANNMODELCFG cfg = xnetConfig();
  cfg.uInChan = 1;
  YMODELImpl y(cfg, false);
  torch::optim::Adam adam(y.parameters(), torch::optim::AdamOptions(0.001));
  const int n = 3, W = 16, H = 16;
  const torch::Tensor images = torch::rand({n, 1, H, W});
  const torch::Tensor labels = (images > 0.5).to(torch::kUInt8);
  const std::vector<torch::Tensor> before = [&] {
    std::vector<torch::Tensor> v;
    for (auto& p : y.parameters()) v.push_back(p.clone());
    return v;
  }();
  ASSERT_TRUE(ANN_XnetLearningRateSearch(s, torch::kCPU, y, adam, 3, n, 2, images.data_ptr<float>(),
                                         labels.data_ptr<uint8_t>(), W, H, 1, 1e-6, 1e-3, false));
  size_t i = 0;
  for (auto& p : y.parameters()) EXPECT_TRUE(torch::equal(p, before[i++]));
  const double rate = ANN_LearningRate(adam);
  const double k = std::log10(rate / 1e-6) * 49 / 3;  // the rates are 1e-6 * 10^(3 i / 49)
  EXPECT_NEAR(k, std::round(k), 1e-6);
  EXPECT_GE(rate, 1e-6 * (1 - 1e-12));
  EXPECT_LE(rate, 1e-3 * (1 + 1e-12));
}
