// The model configuration file, label names, the MNIST label reader and the checks of the
// training record.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "AnnLib.h"
#include "ScriptedUi.h"
#include "TestKit.h"

namespace fs = std::filesystem;
using annkit::scratch;
using annkit::wide;
using annkit::readFile;
using annkit::writeFile;

namespace {

float g_classWeights[3] = {0.3f, 1.0f, 1.3f};

// The record that the main program's BRUNET2D command fills, with distinct augmentation values.
ANNTRAINPARM trainingRecord() {
  ANNTRAINPARM p{};
  p.UseGpu = 1;
  p.LabelScheme = 2;
  p.EvalEvery = 1;
  p.TrainFraction = 0.8;
  p.ValidFraction = 0.2;
  p.UnetNlev = 4;
  p.ScaleParam = 1.0;
  p.SigNormMethod = 4;
  p.SigNormIntvLo = 0;
  p.SigNormIntvHi = 0;
  p.NumClasses = 3;
  p.TensorType = 6;
  p.NumEpochs = 100;
  p.BatchLng = 16;
  p.MicrobatchLng = 8;
  p.NumBaseFeatureLayers = 38;
  p.UseResidConn = 1;
  p.XentropyAlpha = 1.0;
  p.BinLossAlpha = 0.25;
  p.XentropyClassW = g_classWeights;
  p.LRscheme = 1;
  p.LRexpdecay = 0.995;
  ANNAUGMENT& a = p.Augment;
  a.ProbAffine = 0.5, a.AffMaxT = 7, a.AffMaxR = 3, a.affMaxScale = 1.5, a.affMaxRot = 20, a.affMaxShear = 5;
  a.affMaxTrans = 40, a.WarpProb = 0.5, a.WarpDist = 5, a.WarpGaussRad = 30, a.ProbGRBF = 0.1, a.GRBFgrid = 4;
  a.GRBFmaxdisp = 6, a.GRBFsmoothK = 0.75, a.ProbInputGaussNoise = 0.5, a.InputGaussNoiseStdev = 0.005;
  a.ProbPoisson = 0, a.PoissonScale = 200, a.ProbMirrorX = 0.5, a.ProbSigScaleAndShift = 0, a.SigScaleMax = 0.05;
  a.SigShiftMax = 0.05, a.ProbContrastAdjustment = 0, a.ContrastAdjMax = 0.05;
  return p;
}

ANNMODELCFG modelRecord(int numCat) {
  ANNMODELCFG c;
  c.ConvKern = 3;
  c.DropRate = 0.25;
  c.BaseChan = 38;
  c.useResidual = true;
  c.uInChan = 5;
  c.SlabR = 2;
  c.numClassesMC = 3;
  c.Wi = 320;
  c.Hi = 256;
  c.Ti = 6;
  c.SignalNorm = 4;
  c.NumCat = numCat;
  c.catsz[0] = 6;
  c.catsz[1] = 20;
  return c;
}

// The training part of the expected file, written out by hand.
const char* kTrainingLines =
    "LabelScheme=2\n"
    "UnetNlev=4\n"
    "SigNormMethod=4\n"
    "SigNormIntvLo=0.000000e+00\n"
    "SigNormIntvHi=0.000000e+00\n"
    "NumClasses=3\n"
    "NumEpochs=100\n"
    "BatchLng=16\n"
    "MicrobatchLng=8\n"
    "NumBaseFeatureLayers=38\n"
    "UseAttnGates=0\n"
    "UseDeepSupervis=0\n"
    "UseResidConn=1\n"
    "XentropyAlpha=1.000000e+00\n"
    "BinLossAlpha=2.500000e-01\n"
    "XentropyClassW[0]=3.000000e-01\n"
    "XentropyClassW[1]=1.000000e+00\n"
    "XentropyClassW[2]=1.300000e+00\n"
    "LRscheme=1\n"
    "LRexpdecay=9.950000e-01\n"
    "A.ProbAffine=5.000000e-01\n"
    "A.AffMaxT=7.000000e+00\n"
    "A.AffMaxR=3.000000e+00\n"
    "A.affMaxScale=1.500000e+00\n"
    "A.affMaxRot=2.000000e+01\n"
    "A.affMaxShear=5.000000e+00\n"
    "A.affMaxTrans=4.000000e+01\n"
    "A.WarpProb=5.000000e-01\n"
    "A.WarpDist=5.000000e+00\n"
    "A.WarpGaussRad=3.000000e+01\n"
    "A.ProbGRBF=1.000000e-01\n"
    "A.GRBFgrid=4.000000e+00\n"
    "A.GRBFmaxdisp=6.000000e+00\n"
    "A.GRBFsmoothK=7.500000e-01\n"
    "A.ProbInputGaussNoise=5.000000e-01\n"
    "A.InputGaussNoiseStdev=5.000000e-03\n"
    "A.ProbPoisson=0.000000e+00\n"
    "A.PoissonScale=2.000000e+02\n"
    "A.ProbMirrorX=5.000000e-01\n"
    "A.ProbSigScaleAndShift=0.000000e+00\n"
    "A.SigScaleMax=5.000000e-02\n"
    "A.SigShiftMax=5.000000e-02\n"
    "A.ProbContrastAdjustment=0.000000e+00\n"
    "A.ContrastAdjMax=5.000000e-02\n";

}  // namespace

TEST(ModelCfg, WriterGivesTheDocumentedLines) {
  const fs::path folder = scratch("records_writer");
  const ANNTRAINPARM parm = trainingRecord();
  const std::string head =
      "ConvKern=3\nuInChan=5\nuseResidual=1\nnumClassesMC=3\nDropRate=0.25\nBaseChan=38\nWi=320\nHi=256\nTi=6\n"
      "SignalNorm=4\nSlabR=2\n";
  const struct {
    int numCat;
    std::string categories;
  } cases[] = {{0, "NumCat=0\n"}, {2, "NumCat=2\ncatsz=6\ncatsz=20\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.numCat);
    const ANNMODELCFG cfg = modelRecord(c.numCat);
    const fs::path path = folder / ("model" + std::to_string(c.numCat) + ".mcfg");
    ASSERT_TRUE(ANN_WriteModelCfg(wide(path), &cfg, &parm));
    EXPECT_EQ(readFile(path), head + c.categories + kTrainingLines);

    ANNMODELCFG back;
    ASSERT_TRUE(ANN_ReadModelCfg(wide(path), &back));
    EXPECT_EQ(std::memcmp(&back.catsz, &cfg.catsz, sizeof(int32_t) * size_t(c.numCat)), 0);
    EXPECT_EQ(back.NumCat, cfg.NumCat);
    EXPECT_EQ(back.DropRate, 0.25);
    EXPECT_EQ(back.Wi, 320);
    EXPECT_EQ(back.Hi, 256);
    EXPECT_EQ(back.SlabR, 2);
    EXPECT_EQ(back.SignalNorm, 4);
  }
  // Without class weights no weight lines; an unwritable path gives false.
  ANNTRAINPARM noWeights = parm;
  noWeights.XentropyClassW = nullptr;
  const ANNMODELCFG cfg = modelRecord(0);
  ASSERT_TRUE(ANN_WriteModelCfg(wide(folder / "plain.mcfg"), &cfg, &noWeights));
  EXPECT_EQ(readFile(folder / "plain.mcfg").find("XentropyClassW"), std::string::npos);
  EXPECT_FALSE(ANN_WriteModelCfg(wide(folder / "missing" / "x.mcfg"), &cfg, &parm));
}

TEST(ModelCfg, ReaderAcceptsAndRefuses) {
  const fs::path folder = scratch("records_reader");
  const struct {
    const char* text;
    bool ok;
    int wi, convKern, numCat;
    double dropRate;
    bool residual;
  } cases[] = {
      // Accepted: keys in any order, the last of a repeated key, training keys and lines without '='
      // ignored; a file without model keys leaves the record as it was.
      {"Wi=64\nConvKern=5\nWi=48\nLabelScheme=2\nno equals sign\nA.ProbAffine=1\n", true, 48, 5, 0, 0.0, false},
      {"DropRate=0.25\nuseResidual=7\n", true, 32, 3, 0, 0.25, true},
      {"useResidual=no\n", true, 32, 3, 0, 0.0, false},
      {"LabelScheme=1\nNumEpochs=3\n", true, 32, 3, 0, 0.0, false},
      {"NumCat=2\ncatsz=4\ncatsz=9\nHi=16\n", true, 32, 3, 2, 0.0, false},
      {"numClassesMC=256\n", true, 32, 3, 0, 0.0, false},
      // Refused.
      {"NumCat=2\ncatsz=4\nLabelScheme=2\n", false, 0, 0, 0, 0, false},
      {"NumCat=2\ncatsz=4\n", false, 0, 0, 0, 0, false},
      {"NumCat=1\ncatsz\n", false, 0, 0, 0, 0, false},
      {"NumCat=33\n", false, 0, 0, 0, 0, false},
      {"NumCat=-1\n", false, 0, 0, 0, 0, false},
      {"NumCat=1\ncatsz=0\n", false, 0, 0, 0, 0, false},
      {"ConvKern=4\n", false, 0, 0, 0, 0, false},
      {"ConvKern=-1\n", false, 0, 0, 0, 0, false},
      {"BaseChan=0\n", false, 0, 0, 0, 0, false},
      {"uInChan=-2\n", false, 0, 0, 0, 0, false},
      {"Ti=0\n", false, 0, 0, 0, 0, false},
      {"Wi=15\n", false, 0, 0, 0, 0, false},
      {"Wi=wide\n", false, 0, 0, 0, 0, false},
      {"Hi=0\n", false, 0, 0, 0, 0, false},
      {"numClassesMC=0\n", false, 0, 0, 0, 0, false},
      {"numClassesMC=257\n", false, 0, 0, 0, 0, false},
      {"SlabR=-1\n", false, 0, 0, 0, 0, false},
      {"SignalNorm=9\n", false, 0, 0, 0, 0, false},
      {"DropRate=1.5\n", false, 0, 0, 0, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const fs::path path = folder / "case.mcfg";
    writeFile(path, c.text);
    ANNMODELCFG cfg;
    cfg.Wi = 32;
    cfg.useResidual = false;
    const ANNMODELCFG before = cfg;
    ASSERT_EQ(ANN_ReadModelCfg(wide(path), &cfg), c.ok);
    if (!c.ok) {
      EXPECT_EQ(std::memcmp(&cfg, &before, sizeof cfg), 0) << "a refused file changes nothing";
      continue;
    }
    EXPECT_EQ(cfg.Wi, c.wi);
    EXPECT_EQ(cfg.ConvKern, c.convKern);
    EXPECT_EQ(cfg.NumCat, c.numCat);
    EXPECT_EQ(cfg.DropRate, c.dropRate);
    EXPECT_EQ(cfg.useResidual, c.residual);
  }
  ANNMODELCFG cfg;
  EXPECT_FALSE(ANN_ReadModelCfg(wide(folder / "absent.mcfg"), &cfg));
  // A line longer than the read buffer continues as a line of its own.
  writeFile(folder / "long.mcfg", std::string(2047, 'x') + "Wi=40\n");
  ASSERT_TRUE(ANN_ReadModelCfg(wide(folder / "long.mcfg"), &cfg));
  EXPECT_EQ(cfg.Wi, 40);
}

TEST(AnnLib, LabelNames) {
  const struct {
    int scheme, index;
    const wchar_t* name;
  } cases[] = {{2, 1, L"Whole breast"}, {2, 0, L"Background//air"}, {2, 2, L"FGT"}, {2, 3, L""},
               {1, 2, L"Lesion (malignant)"}, {1, 8, L"Vessels"}, {1, 9, L""}, {3, 0, L""}, {1, -1, L""}};
  for (const auto& c : cases) {
    CString out = L"stale";
    ANN_LabelName(out, c.scheme, c.index);
    EXPECT_EQ(out, c.name) << c.scheme << " " << c.index;
  }
}

TEST(AnnLib, Utf16LogTextAndFoldNames) {
  const fs::path folder = scratch("records_utf16");
  {
    ANN_File f(ANN_OpenFile(wide(folder / "log.txt"), "w+b"));
    ASSERT_TRUE(ANN_WriteUtf16(f.f, L"a\tµ\n"));
  }
  EXPECT_EQ(readFile(folder / "log.txt"), std::string("a\0\t\0\xB5\0\n\0", 8));
  EXPECT_EQ(ANN_FoldFileName(L"/d/model.pt", "_f0.pt"), L"/d/model_f0.pt");
  EXPECT_EQ(ANN_FoldFileName(L"/d/cfg.x.mcfg", "_f3.mcfg"), L"/d/cfg.x_f3.mcfg");
}

TEST(Mnist, LabelFileHeadersAndLabels) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  const fs::path folder = scratch("records_mnist");
  const int64_t baseline = PR_GetTotalAllocSize();
  const std::string big("\x00\x00\x08\x01\x00\x00\x00\x03\x07\x02\x09", 11);
  const std::string little("\x01\x08\x00\x00\x03\x00\x00\x00\x07\x02\x09", 11);
  for (const std::string& file : {big, little}) {
    writeFile(folder / "labels.idx", file);
    unsigned char* labels = nullptr;
    int count = 0;
    ASSERT_TRUE(TWKANN_LoadMNIST_LabelFile(wide(folder / "labels.idx"), &labels, &count));
    ASSERT_EQ(count, 3);
    EXPECT_EQ(std::vector<int>(labels, labels + 3), (std::vector<int>{7, 2, 9}));
    pf_free(&labels);
    count = 0;
    EXPECT_TRUE(TWKANN_LoadMNIST_LabelFile(wide(folder / "labels.idx"), nullptr, &count));
    EXPECT_EQ(count, 3);
  }
  EXPECT_TRUE(script.messages.empty());

  const struct {
    std::string bytes;
    bool message;
  } refused[] = {
      {std::string("\x00\x00\x08\x03\x00\x00\x00\x01\x05", 9), true},  // the image-file magic
      {std::string("\x00\x00\x08\x01\x00\x00", 6), false},             // count cut short
      {std::string("\x00\x00\x08", 3), false},                         // magic cut short
      {std::string("\x00\x00\x08\x01\x00\x00\x00\x05\x01\x02", 10), false},  // fewer labels than counted
  };
  for (const auto& r : refused) {
    script.clear();
    writeFile(folder / "bad.idx", r.bytes);
    unsigned char* labels = nullptr;
    int count = -1;
    EXPECT_FALSE(TWKANN_LoadMNIST_LabelFile(wide(folder / "bad.idx"), &labels, &count));
    EXPECT_EQ(labels, nullptr);
    if (r.message) {
      ASSERT_EQ(script.messages.size(), 1u);
      EXPECT_EQ(script.messages[0], L"TWKANN_LoadMNIST_LabelFile : Invalid file header" + wide(folder / "bad.idx"));
    } else {
      EXPECT_TRUE(script.messages.empty());
    }
  }
  EXPECT_FALSE(TWKANN_LoadMNIST_LabelFile(wide(folder / "absent.idx"), nullptr, nullptr));
  EXPECT_EQ(PR_GetTotalAllocSize(), baseline);
}

TEST(AnnLib, TrainingRecordChecks) {
  twk::ScriptedUi script;
  twk::ScopedUi installed(script);
  ANNCLASSLOSS losses[3] = {{0.0, 0.5, 0.5, 0.75}, {0.4, 0.55, 0.45, 1.5}, {0.8, 0.3, 0.7, 2.0}};
  ANNCLASSLOSS zeroLosses[3] = {{0, 0.5, 0.5, 1}, {0, 0.5, 0.5, 1}, {0, 0.5, 0.5, 1}};
  float zeroWeights[3] = {0, 0, 0};
  wchar_t model[] = L"/tmp/m.pt";
  auto record = [&] {
    ANNTRAINPARM p = trainingRecord();
    p.ClassLossTable = losses;
    p.ModelPath = model;
    p.ModelCfgPath = L"/tmp/m.mcfg";
    return p;
  };
  const struct {
    const char* what;
    void (*change)(ANNTRAINPARM&, ANNCLASSLOSS*, float*);
    ANN_Family family;
    const wchar_t* message;  // null: accepted
  } cases[] = {
      {"defaults", [](ANNTRAINPARM&, ANNCLASSLOSS*, float*) {}, ANN_Family::Brunet2D, nullptr},
      {"33 classes", [](ANNTRAINPARM& p, ANNCLASSLOSS*, float*) { p.NumClasses = 33; }, ANN_Family::Brunet2D,
       L"T : NumClasses must be 2 to 32 (33)"},
      {"one class", [](ANNTRAINPARM& p, ANNCLASSLOSS*, float*) { p.NumClasses = 1; }, ANN_Family::Xnet,
       L"T : NumClasses must be 2 to 32 (1)"},
      {"micro-batch 0", [](ANNTRAINPARM& p, ANNCLASSLOSS*, float*) { p.MicrobatchLng = 0; }, ANN_Family::Brunet2D,
       L"T : MicrobatchLng must be at least 1"},
      {"micro-batch 0 of Xnet", [](ANNTRAINPARM& p, ANNCLASSLOSS*, float*) { p.MicrobatchLng = 0; }, ANN_Family::Xnet, nullptr},
      {"double tensors", [](ANNTRAINPARM& p, ANNCLASSLOSS*, float*) { p.TensorType = 7; }, ANN_Family::Brunet2D,
       L"T : Unsupported data type"},
      {"zero loss weights", [](ANNTRAINPARM& p, ANNCLASSLOSS* z, float*) { p.ClassLossTable = z; }, ANN_Family::Brunet2D,
       L"T : Class loss weights sum to zero"},
      {"zero class weights", [](ANNTRAINPARM& p, ANNCLASSLOSS*, float* w) { p.XentropyClassW = w; }, ANN_Family::Xnet,
       L"T : Class weights sum to zero"},
      {"no model path", [](ANNTRAINPARM& p, ANNCLASSLOSS*, float*) { p.ModelPath = nullptr; }, ANN_Family::Xnet,
       L"T : Model and configuration paths are required"},
      {"negative slab", [](ANNTRAINPARM& p, ANNCLASSLOSS*, float*) { p.SlabR = -1; }, ANN_Family::Brunet2D,
       L"T : SlabR must not be negative"},
      {"no base channels", [](ANNTRAINPARM& p, ANNCLASSLOSS*, float*) { p.NumBaseFeatureLayers = 0; }, ANN_Family::Unet3D,
       L"T : NumBaseFeatureLayers must be at least 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    script.clear();
    ANNTRAINPARM p = record();
    c.change(p, zeroLosses, zeroWeights);
    EXPECT_EQ(ANN_CheckTrainParm(L"T", &p, c.family), c.message == nullptr);
    EXPECT_EQ(script.lastMessage(), c.message ? c.message : L"");
  }
}
