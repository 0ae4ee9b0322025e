// Training and inference runs through the exports, on tiny synthetic data made here: moving disks
// for BRUNET2D (trained, then segmenting a phantom), disks for Xnet and Ynet, spheres for the 3D
// U-Nets; and the refusals and failures of the runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Brunet2D.h"
#include "ScriptedUi.h"
#include "TestKit.h"
#include "Vol.h"
#include "io/ImageFiles.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"

namespace fs = std::filesystem;
using annkit::scratch;
using annkit::wide;
using annkit::readFile;
using annkit::startsWith;
using annkit::lines;

namespace {

// Status texts and pumps of the message protocol; optionally presses Esc at the n-th pump.
struct ProgressRecorder {
  static inline std::vector<CString> texts;
  static inline int pumps = 0, escAt = -1;
  static bool show(const wchar_t* text, bool pump) {
    if (text) texts.push_back(text);
    if (pump && ++pumps == escAt) PR_SetInWorkProcess(false);
    return true;
  }
  static void sink(uint64_t) {}
  explicit ProgressRecorder(int esc = -1) {
    texts.clear();
    pumps = 0;
    escAt = esc;
    MSGBLOCK block;
    block.progressSink = &sink;
    block.showMessage = &show;
    PR_InitFrameFunctions(&block);
  }
  ~ProgressRecorder() {
    MSGBLOCK none;
    PR_InitFrameFunctions(&none);
  }
  static int count(const wchar_t* text) {
    int n = 0;
    for (const CString& t : texts) n += t == text;
    return n;
  }
};

void saveVolume(const fs::path& path, const std::vector<double>& values, int bpv, DIM3D dims, SPC spc = {1, 1, 1}) {
  std::vector<uint8_t> bytes;
  const void* data = values.data();
  if (bpv == 8) {
    bytes.assign(values.begin(), values.end());
    data = bytes.data();
  }
  ASSERT_TRUE(VA_NiftiSaveVol(wide(path), data, bpv, &dims, &spc, nullptr, nullptr, nullptr, 1, nullptr, false));
}

// An ellipse of radii rx, ry around (cx, cy), bright (1 plus noise) on a dark background.
void drawEllipse(std::vector<double>& image, std::vector<double>* mask, int64_t offset, int w, int h, double cx, double cy,
                 double rx, double ry, std::mt19937& rng) {
  std::normal_distribution<double> noise(0, 0.1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool inside = std::pow((x - cx) / rx, 2) + std::pow((y - cy) / ry, 2) <= 1;
      image[size_t(offset + y * w + x)] = (inside ? 1.0 : 0.0) + noise(rng);
      if (mask) (*mask)[size_t(offset + y * w + x)] = inside;
    }
}

// Cases of w x h x d slices and t time points: a disk that moves with time and slice.
void writeMovingDisks(const fs::path& folder, int cases, int w, int h, int d, int t, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> centre(0.3, 0.7), radius(0.15, 0.25);
  fs::create_directories(folder);
  for (int c = 0; c < cases; ++c) {
    std::vector<double> image(size_t(w * h * d * t)), mask(image.size());
    const double cx = centre(rng) * w, cy = centre(rng) * h, r = radius(rng) * w;
    for (int tt = 0; tt < t; ++tt)
      for (int z = 0; z < d; ++z)
        drawEllipse(image, &mask, int64_t(tt * d + z) * w * h, w, h, cx + 2 * tt, cy - z, r, r, rng);
    saveVolume(folder / ("image_" + std::to_string(c) + ".nii"), image, 64, DIM3D{w, h, d, t});
    saveVolume(folder / ("mask_" + std::to_string(c) + ".nii"), mask, 8, DIM3D{w, h, d, t});
  }
}

ANNCLASSLOSS g_classLoss[2] = {{0.5, 0.5, 0.5, 1.0}, {0.5, 0.5, 0.5, 1.0}};

struct Paths {
  fs::path folder;
  std::wstring model, config, foldLog, outputLog;
  explicit Paths(const fs::path& f)
      : folder(f),
        model(wide(f / "model.pt").wstr()),
        config(wide(f / "model.mcfg").wstr()),
        foldLog(wide(f / "epochs.txt").wstr()),
        outputLog(wide(f / "output.txt").wstr()) {}
};

ANNTRAINPARM brunetRecord(Paths& paths) {
  ANNTRAINPARM p{};
  p.TimesAsCategory = 1;
  p.LabelScheme = 2;
  p.FoldLogPath = paths.foldLog.c_str();
  p.OutputLogPath = paths.outputLog.c_str();
  p.LogHardDice = 1;
  p.EvalEvery = 1;
  p.ModelCfgPath = paths.config.c_str();
  p.ModelPath = paths.model.data();
  p.TrainFraction = 0.8;
  p.ValidFraction = 0.2;
  p.UnetNlev = 4;
  p.ScaleParam = 1;
  p.SigNormMethod = DATANORM_MINMAX;
  p.NumClasses = 2;
  p.DiceClassMask[1] = 1;
  p.TensorType = 6;
  p.NumEpochs = 12;
  p.BatchLng = 8;
  p.MicrobatchLng = 4;
  p.NumBaseFeatureLayers = 4;
  p.UseResidConn = 1;
  p.XentropyAlpha = 0.5;
  p.ClassLossTable = g_classLoss;
  p.Augment.ProbAffine = p.Augment.WarpProb = p.Augment.ProbInputGaussNoise = 0;
  p.Augment.ProbMirrorX = 0.5;
  p.LRscheme = 0;
  return p;
}

// A phantom of w x h x d x t: an ellipse whose in-plane radii follow the model's resampling.
FRAME* phantom(int w, int h, int d, int t, std::vector<double>* truth) {
  std::mt19937 rng(77);
  std::vector<double> image(size_t(w * h * d * t));
  truth->assign(image.size(), 0);
  for (int tt = 0; tt < t; ++tt)
    for (int z = 0; z < d; ++z)
      drawEllipse(image, truth, int64_t(tt * d + z) * w * h, w, h, 0.5 * w + tt, 0.5 * h, 0.2 * w, 0.2 * h, rng);
  return VA_CreateVol(image.data(), 64, w, h, d, t);
}

double dice(const FRAME* labels, const std::vector<double>& truth) {
  auto* values = static_cast<double*>(VA_VolGetAll(labels, 0, 64, labels->dim.t));
  double overlap = 0, sum = 0;
  for (size_t i = 0; i < truth.size(); ++i) overlap += (values[i] > 0) && truth[i] > 0, sum += (values[i] > 0) + (truth[i] > 0);
  pf_free(&values);
  return 2 * overlap / sum;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// BRUNET2D
// ---------------------------------------------------------------------------------------------

class Brunet2DRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    torch::manual_seed(21);
    folder_ = scratch("brunet");
    writeMovingDisks(folder_ / "data", 6, 32, 32, 4, 2, 5);
  }
  static inline fs::path folder_;
};

TEST_F(Brunet2DRun, TrainsOnMovingDisksAndSegmentsAPhantom) {
  const int64_t baseline = PR_GetTotalAllocSize();
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  ProgressRecorder progress;
  Paths paths(folder_);
  ANNTRAINPARM parm = brunetRecord(paths);
  script.answerMessage(IDYES);
  torch::manual_seed(3);
  ASSERT_TRUE(TWKANN_TrainBRUNET2D_FlexDim(&parm, wide(folder_ / "data"), true)) << script.lastMessage().toUtf8();
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
  ASSERT_GE(script.messages.size(), 2u);
  EXPECT_EQ(script.messages[0], L"6 cases and 5 folds were detected.\nProceed?");
  const CString report = script.messages.back();
  EXPECT_TRUE(startsWith(report, L"Nepoch=12\nBest Test HardDICE=")) << report.toUtf8();
  EXPECT_NE(report.Find(L"Timepoints as Category = 1\nUse FiLM = 1\n"), -1);
  EXPECT_NE(report.Find(L"\nCategory token 1\n-------------------------------\nBackground//air : "), -1) << report.toUtf8();
  EXPECT_EQ(report.Find(L"nan"), -1) << "every token has test samples";
  EXPECT_EQ(ProgressRecorder::count(L"Breast Unet2D_fold#0_of_1"), 1);
  // The test cases' names end on the clipboard.
  char* clipboard = PR_LoadStrFromClipboard();
  ASSERT_NE(clipboard, nullptr);
  EXPECT_EQ(std::string(clipboard), "image_0.nii\nimage_5.nii\n");
  pf_free(&clipboard);

  auto utf16 = [](const std::string& ascii) {
    std::string bytes;
    for (char c : ascii) bytes += c, bytes += '\0';
    return bytes;
  };
  EXPECT_EQ(readFile(paths.outputLog), utf16("fold\tname\tBackground//air\tWhole breast\t\n"));
  EXPECT_TRUE(fs::exists(folder_ / "model_f0.pt"));
  EXPECT_TRUE(fs::exists(folder_ / "model_f0.mcfg"));
  EXPECT_FALSE(fs::exists(folder_ / "model.pt"));
  const std::vector<std::string> log = lines(readFile(paths.foldLog));
  ASSERT_EQ(log.size(), 13u);
  EXPECT_EQ(log[0], "epoch\tTrainLoss\tTrainHardDICE\tEvalLoss\tEvalHardDICE");
  double firstLoss = 0, lastLoss = 0, lastEval = 1;
  std::sscanf(log[1].c_str(), "%*u\t%lf", &firstLoss);
  std::sscanf(log[12].c_str(), "%*u\t%lf\t%*f\t%*f\t%lf", &lastLoss, &lastEval);
  EXPECT_LT(lastLoss, 0.5 * firstLoss);
  EXPECT_LT(lastEval, 0.1) << "evaluation Dice above 0.9";

  // Inference with the trained model: a 3D volume and a 4D one with more time points than trained.
  script.clear();
  for (int t : {1, 3}) {
    SCOPED_TRACE(t);
    std::vector<double> truth;
    FRAME* volume = phantom(64, 48, 5, t, &truth);
    FRAME* labels = TWKANN_BRUNET2D_SegmentationTmsAsCat(false, wide(folder_ / "model_f0.mcfg"), wide(folder_ / "model_f0.pt"), volume);
    ASSERT_NE(labels, nullptr) << script.lastMessage().toUtf8();
    EXPECT_EQ(labels->type, FRM_INT);
    EXPECT_EQ(labels->bpv, 8);
    EXPECT_EQ(labels->dim.w, 64);
    EXPECT_EQ(labels->dim.h, 48);
    EXPECT_EQ(labels->dim.d, 5);
    EXPECT_EQ(labels->dim.t, t);
    EXPECT_GE(dice(labels, truth), 0.9);
    PR_FrameDelete(&labels);
    PR_FrameDelete(&volume);
  }
  EXPECT_TRUE(script.messages.empty());
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
}

TEST_F(Brunet2DRun, RefusalsAndFailuresLeaveNothingBehind) {
  const int64_t baseline = PR_GetTotalAllocSize();
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const fs::path folder = scratch("brunet_refusals");
  Paths paths(folder);
  const CString data = wide(folder_ / "data");
  const std::wstring unwritable = wide(folder / "no" / "log.txt").wstr();
  const struct {
    const char* what;
    void (*change)(ANNTRAINPARM&, const std::wstring&);
    int answer;  // 0: no question expected
    const wchar_t* message;
  } cases[] = {
      {"declined", [](ANNTRAINPARM&, const std::wstring&) {}, IDNO, L"6 cases and 5 folds were detected.\nProceed?"},
      {"micro-batch 0", [](ANNTRAINPARM& p, const std::wstring&) { p.MicrobatchLng = 0; }, 0,
       L"TWKANN_TrainBRUNET2D_FlexDim : MicrobatchLng must be at least 1"},
      {"33 classes", [](ANNTRAINPARM& p, const std::wstring&) { p.NumClasses = 33; }, 0,
       L"TWKANN_TrainBRUNET2D_FlexDim : NumClasses must be 2 to 32 (33)"},
      {"double tensors", [](ANNTRAINPARM& p, const std::wstring&) { p.TensorType = 7; }, 0,
       L"TWKANN_TrainBRUNET2D_FlexDim : Unsupported data type"},
      {"unwritable output log", [](ANNTRAINPARM& p, const std::wstring& u) { p.OutputLogPath = u.c_str(); }, 0,
       L"TWKANN_TrainBRUNET2D_FlexDim : Unable to create Output Log"},
      {"unwritable epoch log", [](ANNTRAINPARM& p, const std::wstring& u) { p.FoldLogPath = u.c_str(); }, IDYES,
       L"TrainBreastUnet25D_FlexDim : Unable to create Output Log"},
      {"GPU declined", [](ANNTRAINPARM& p, const std::wstring&) { p.UseGpu = 1; }, IDYES,
       L"CUDA is not available.\nProceed anyway?"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    script.clear();
    ANNTRAINPARM parm = brunetRecord(paths);
    parm.NumEpochs = 1;
    c.change(parm, unwritable);
    if (c.answer) script.answerMessage(c.answer);
    if (parm.UseGpu) script.answerMessage(IDNO);
    EXPECT_FALSE(TWKANN_TrainBRUNET2D_FlexDim(&parm, data, false));
    EXPECT_EQ(script.lastMessage(), c.message);
    EXPECT_FALSE(script.pendingAnswers());
    EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
  }
  // Labels beyond the classes are refused before training.
  {
    script.clear();
    const fs::path three = folder / "three";
    fs::create_directories(three);
    writeMovingDisks(three, 3, 16, 16, 1, 1, 9);
    std::vector<double> mask(256, 2.0);
    saveVolume(three / "mask_1.nii", mask, 8, DIM3D{16, 16, 1, 1});
    ANNTRAINPARM parm = brunetRecord(paths);
    parm.ValidFraction = 0.5;
    script.answerMessage(IDYES);
    EXPECT_FALSE(TWKANN_TrainBRUNET2D_FlexDim(&parm, wide(three), false));
    EXPECT_EQ(script.lastMessage(), L"TrainBreastUnet25D_FlexDim : Label values outside the 2 classes");
  }
  // Esc during training ends the run with a message.
  {
    script.clear();
    ProgressRecorder esc(6);
    ANNTRAINPARM parm = brunetRecord(paths);
    script.answerMessage(IDYES);
    EXPECT_FALSE(TWKANN_TrainBRUNET2D_FlexDim(&parm, data, true));
    EXPECT_EQ(script.lastMessage(), L"TrainBreastUnet25D_FlexDim : Training stopped by the user");
  }
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
}

TEST_F(Brunet2DRun, InferenceCacheAndRefusals) {
  const int64_t baseline = PR_GetTotalAllocSize();
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  ProgressRecorder progress;
  const fs::path folder = scratch("inference");
  ANNTRAINPARM parm{};
  // Channel-mode models (no categories) of one and three time points, and one of two categories.
  auto makeModel = [&](const std::string& name, int ti, int numCat) {
    ANNMODELCFG cfg;
    cfg.BaseChan = 2;
    cfg.uInChan = numCat == 1 ? 1 : ti;
    cfg.numClassesMC = 2;
    cfg.Wi = cfg.Hi = 16;
    cfg.Ti = ti;
    cfg.NumCat = numCat;
    cfg.catsz[0] = cfg.catsz[1] = 3;
    BRUNET2DFXImpl net(cfg, numCat, cfg.catsz);
    ANN_SaveModule(net, wide(folder / (name + ".pt")));
    ASSERT_TRUE(ANN_WriteModelCfg(wide(folder / (name + ".mcfg")), &cfg, &parm));
  };
  makeModel("t1", 1, 0);
  makeModel("t3", 3, 0);
  makeModel("cat2", 3, 2);
  makeModel("t1other", 1, 0);
  std::vector<double> truth;
  FRAME* volume = phantom(20, 18, 3, 1, &truth);
  auto segment = [&](const std::string& config, const std::string& model) {
    return TWKANN_BRUNET2D_SegmentationTmsAsCat(false, wide(folder / config), wide(folder / model), volume);
  };
  FRAME* labels = segment("t1.mcfg", "t1.pt");
  ASSERT_NE(labels, nullptr);
  EXPECT_EQ(labels->dim.w, 20);
  EXPECT_EQ(labels->dim.t, 1);
  PR_FrameDelete(&labels);
  // The same files (by another spelling of the path) are not read again.
  labels = TWKANN_BRUNET2D_SegmentationTmsAsCat(false, wide(folder / "t1.mcfg"), wide(folder / "." / "t1.pt"), volume);
  PR_FrameDelete(&labels);
  EXPECT_EQ(ProgressRecorder::count(L"Loading Model"), 1);
  // A replaced archive is read again.
  fs::rename(folder / "t1other.pt", folder / "t1.pt");
  labels = segment("t1.mcfg", "t1.pt");
  PR_FrameDelete(&labels);
  EXPECT_EQ(ProgressRecorder::count(L"Loading Model"), 2);
  EXPECT_TRUE(script.messages.empty());

  const struct {
    const char* config;
    const char* model;
    const wchar_t* message;  // empty: none
  } cases[] = {
      {"t3.mcfg", "t3.pt", L"SegmentationInference_TmsAsCatOrChan : volume timepoints mismatch to model"},
      {"cat2.mcfg", "cat2.pt", L"SegmentationInference_TmsAsCatOrChan : Models of 2 categories are not supported"},
      {"absent.mcfg", "t3.pt", L""},
      {"t3.mcfg", "absent.pt", L"Load model error : \n"},
      {"t1.mcfg", "cat2.pt", L"Load model error : \n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    script.clear();
    EXPECT_EQ(segment(c.config, c.model), nullptr);
    EXPECT_TRUE(startsWith(script.lastMessage(), c.message));
    EXPECT_EQ(script.messages.size(), c.message[0] ? 1u : 0u);
  }
  // After a failed load the cache is empty: the earlier model is read again.
  const int before = ProgressRecorder::count(L"Loading Model");
  labels = segment("t1.mcfg", "t1.pt");
  EXPECT_NE(labels, nullptr);
  PR_FrameDelete(&labels);
  EXPECT_EQ(ProgressRecorder::count(L"Loading Model"), before + 1);
  script.clear();
  script.answerMessage(IDNO);
  EXPECT_EQ(TWKANN_BRUNET2D_SegmentationTmsAsCat(true, wide(folder / "t1.mcfg"), wide(folder / "t1.pt"), volume), nullptr);
  EXPECT_EQ(script.messages.size(), 1u);
  PR_FrameDelete(&volume);
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
}

// ---------------------------------------------------------------------------------------------
// Xnet and Ynet
// ---------------------------------------------------------------------------------------------

namespace {

// Pairs of w x h x d slices with disks (the mask's class 1), as the 2D preparation writes them.
void writeDiskSlices(const fs::path& folder, int pairs, int w, int h, int d, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> centre(0.35, 0.65);
  fs::create_directories(folder);
  for (int c = 0; c < pairs; ++c) {
    std::vector<double> image(size_t(w * h * d)), mask(image.size());
    for (int z = 0; z < d; ++z) drawEllipse(image, &mask, int64_t(z) * w * h, w, h, centre(rng) * w, centre(rng) * h, 0.25 * w, 0.25 * h, rng);
    saveVolume(folder / ("image_" + std::to_string(c) + ".nii"), image, 64, DIM3D{w, h, d, 1});
    saveVolume(folder / ("mask_" + std::to_string(c) + ".nii"), mask, 8, DIM3D{w, h, d, 1});
  }
}

ANNTRAINPARM xnetRecord(Paths& paths) {
  ANNTRAINPARM p{};
  p.LabelScheme = 2;
  p.FoldLogPath = paths.foldLog.c_str();
  p.ModelCfgPath = paths.config.c_str();
  p.ModelPath = paths.model.data();
  p.SigNormMethod = DATANORM_MINMAX;
  p.NumClasses = 2;
  p.TensorType = 6;
  p.NumEpochs = 3;
  p.BatchLng = 0;  // counts as 1
  p.MicrobatchLng = 0;
  p.NumBaseFeatureLayers = 4;
  p.UseResidConn = 1;
  p.XentropyAlpha = 0.5;
  p.BinLossAlpha = 0.5;
  p.LRscheme = 1;
  p.LRexpdecay = 0.9;
  return p;
}

}  // namespace

TEST(XnetRun, BothNetworksTrainAndReport) {
  const int64_t baseline = PR_GetTotalAllocSize();
  const fs::path folder = scratch("xnet");
  writeDiskSlices(folder / "data", 5, 16, 16, 2, 3);
  const struct {
    bool ynet;
    unsigned scheme;
    double beta;
    const wchar_t* prefix;
  } cases[] = {{false, 1, 0.5, L"TrainBreastXnet2D"}, {true, 3, 0.0, L"TrainBreastYnet2D"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ynet);
    twk::ScriptedUi script;
    twk::ScopedUi installed(script);
    Paths paths(folder);
    ANNTRAINPARM parm = xnetRecord(paths);
    parm.LRscheme = c.scheme;
    parm.BinLossAlpha = c.beta;
    torch::manual_seed(4);
    auto train = c.ynet ? TWKANN_TrainBreastYnet2D : TWKANN_TrainBreastXnet2D;
    ASSERT_TRUE(train(&parm, wide(folder / "data"), false)) << script.lastMessage().toUtf8();
    ASSERT_EQ(script.messages.size(), 3u);
    EXPECT_TRUE(startsWith(script.messages[0], L"FinMcHardDice = "));
    EXPECT_TRUE(startsWith(script.messages[1], L"Tissue\tSoftGate-HardDice\nBackground//air : "));
    EXPECT_TRUE(startsWith(script.messages[2], L"Nepoch=3\n"));
    const std::vector<std::string> log = lines(readFile(paths.foldLog));
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], "epoch\tTrainDICEloss\tTestBinDICELoss\tTestSoftDICEloss\tTestHardDICEloss");
    EXPECT_EQ(log[1].substr(0, 2), "0\t");
    EXPECT_TRUE(fs::exists(folder / "model.pt"));
    EXPECT_NE(readFile(folder / "model.mcfg").find("BinLossAlpha="), std::string::npos);

    // No epoch: no archive, the reload fails and so does the run; expansion is not available.
    script.clear();
    parm.NumEpochs = 0;
    EXPECT_FALSE(train(&parm, wide(folder / "data"), false));
    EXPECT_TRUE(startsWith(script.lastMessage(), L"LoadModelFromFile : Best model reload error : \n"));
    EXPECT_FALSE(fs::exists(folder / "model.pt"));
    script.clear();
    parm.NumEpochs = 1;
    parm.Augment.ExpandByRegistration = 1;
    EXPECT_FALSE(train(&parm, wide(folder / "data"), false));
    EXPECT_EQ(script.lastMessage(), CString(c.prefix) + L" : Training-set expansion by registration is not available");
  }
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
}

// ---------------------------------------------------------------------------------------------
// 3D U-Nets
// ---------------------------------------------------------------------------------------------

TEST(Unet3DRun, BothNetworksTrainOnSpheres) {
  const int64_t baseline = PR_GetTotalAllocSize();
  const fs::path folder = scratch("unet3d");
  std::mt19937 rng(2);
  fs::create_directories(folder / "data");
  for (int c = 0; c < 4; ++c) {
    std::vector<double> image(16 * 16 * 16), mask(image.size());
    const double r = 4 + c;
    for (int z = 0; z < 16; ++z)
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
          const bool inside = std::pow(x - 8.0, 2) + std::pow(y - 7.0, 2) + std::pow(z - 8.0, 2) <= r * r;
          image[size_t((z * 16 + y) * 16 + x)] = inside + std::normal_distribution<double>(0, 0.1)(rng);
          mask[size_t((z * 16 + y) * 16 + x)] = inside;
        }
    saveVolume(folder / "data" / ("image_" + std::to_string(c) + ".nii"), image, 64, DIM3D{16, 16, 16, 1});
    saveVolume(folder / "data" / ("mask_" + std::to_string(c) + ".nii"), mask, 8, DIM3D{16, 16, 16, 1});
  }
  const std::wstring log = wide(folder / "log.txt").wstr();
  for (bool unpool : {false, true}) {
    SCOPED_TRACE(unpool);
    twk::ScriptedUi script;
    twk::ScopedUi installed(script);
    ANNTRAINPARM parm{};
    parm.FoldLogPath = log.c_str();
    parm.EvalEvery = 0;  // counts as 1
    parm.TensorType = 6;
    parm.NumEpochs = 2;
    parm.BatchLng = 0;  // counts as 1
    parm.NumBaseFeatureLayers = 2;
    parm.UseResidConn = 1;
    parm.SigNormMethod = DATANORM_MINMAX;
    torch::manual_seed(5);
    auto train = unpool ? TWKANN_TrainUnetPI3DwSftMax : TWKANN_TrainUnet3DwSftMax;
    ASSERT_TRUE(train(&parm, wide(folder / "data"), false)) << script.lastMessage().toUtf8();
    ASSERT_EQ(script.messages.size(), 2u);
    EXPECT_TRUE(startsWith(script.messages[0], L"Num Model Parms= "));
    EXPECT_NE(script.messages[0].Find(L"\nCUDA TotMem (MB)= 0\nCUDA_StartUsed= 0\nModel uses= 0\n"), -1);
    EXPECT_TRUE(startsWith(script.messages[1], L"Nepoch=2\n"));
    const std::vector<std::string> lines_ = lines(readFile(log));
    ASSERT_EQ(lines_.size(), 3u);
    EXPECT_EQ(lines_[0], "epoch\tTrainDICElossWithAug\tTestDICElossNoAug\t");
    EXPECT_EQ(lines_[2].substr(0, 2), "1\t");
    // An unwritable log is refused.
    script.clear();
    const std::wstring bad = wide(folder / "no" / "log.txt").wstr();
    parm.FoldLogPath = bad.c_str();
    EXPECT_FALSE(train(&parm, wide(folder / "data"), false));
    EXPECT_EQ(script.lastMessage(), CString(unpool ? L"TrainUnetPI3DwSftMax" : L"TrainUnet3DwSftMax") + L" : Unable to create Output Log");
  }
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
}
