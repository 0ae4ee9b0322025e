// BRUNET2D runs: inference of a volume with a trained model (kept in a cache between calls) and
// the training of one fold of a FlexDim training folder.
#include <filesystem>
#include <string>
#include <system_error>

#include "Brunet2D.h"
#include "Clock.h"
#include "ops/VolumeOps.h"
#include "paths/FilePaths.h"
#include "paths/ValueText.h"
#include "volume/Frame.h"
#include "volume/VolumeBox.h"

// ---------------------------------------------------------------------------------------------
// Inference
// ---------------------------------------------------------------------------------------------

namespace {

// What identifies a loaded model: both files by canonical path, size and modification time, and
// the device. A changed or replaced file, or another configuration, loads again.
struct ModelKey {
  std::string model, config, device;
  uintmax_t modelSize = 0, configSize = 0;
  int64_t modelTime = 0, configTime = 0;
  bool operator==(const ModelKey&) const = default;
};

void describeFile(const wchar_t* path, std::string* canonical, uintmax_t* size, int64_t* time) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path p(ANN_NarrowPath(path));
  const fs::path c = fs::canonical(p, ec);
  *canonical = ec ? p.string() : c.string();
  *size = fs::file_size(p, ec);
  if (ec) *size = 0;
  const auto t = fs::last_write_time(p, ec);
  *time = ec ? 0 : int64_t(t.time_since_epoch().count());
}

ModelKey modelKey(const wchar_t* configPath, const wchar_t* modelPath, const torch::Device& device) {
  ModelKey key;
  describeFile(modelPath, &key.model, &key.modelSize, &key.modelTime);
  describeFile(configPath, &key.config, &key.configSize, &key.configTime);
  key.device = device.str();
  return key;
}

struct InferenceCache {
  ModelKey key;
  BRUNET2DPtr net;
  ANNMODELCFG cfg;
};

InferenceCache& inferenceCache() {
  static InferenceCache cache;
  return cache;
}

FRAME* SegmentationInference_TmsAsCatOrChan(bool useGpu, const wchar_t* configPath, const wchar_t* modelPath,
                                            FRAME* volume) {
  const wchar_t* name = L"SegmentationInference_TmsAsCatOrChan";
  std::unique_ptr<torch::Device> device(ANN_ChooseDevice(useGpu));
  if (!device) return nullptr;
  if (!volume || !volume->data || volume->dim.w < 1 || volume->dim.h < 1 || volume->dim.d < 1 || volume->dim.t < 1) {
    ANN_NamedMessage(name, L"Invalid volume");
    return nullptr;
  }
  InferenceCache& cache = inferenceCache();
  const ModelKey key = modelKey(configPath, modelPath, *device);
  if (!cache.net || !(cache.key == key)) {
    cache = InferenceCache{};
    ANNMODELCFG cfg;
    BRUNET2DPtr net = ANN_LoadBRUNET2D(*device, configPath, modelPath, &cfg);
    if (!net) return nullptr;
    net->eval();
    cache = InferenceCache{key, net, cfg};
  }
  const ANNMODELCFG cfg = cache.cfg;
  BRUNET2DFXImpl& net = *cache.net;
  const int Wi = cfg.Wi, Hi = cfg.Hi, Ti = cfg.Ti, slabR = cfg.SlabR, numCat = cfg.NumCat;
  const bool categoryMode = numCat == 1;
  if (numCat > 1) {
    // Such a network needs category indices for every category; inference gives time points only.
    ANN_NamedMessage(name, FmtStr(L"Models of %d categories are not supported", numCat));
    return nullptr;
  }
  const int expected = (2 * slabR + 1) * (categoryMode ? 1 : Ti);
  if (cfg.uInChan != expected) {
    ANN_NamedMessage(name, L"Data channels mismatch");
    return nullptr;
  }
  const DIM3D dims = volume->dim;
  const int W = dims.w, H = dims.h, D = dims.d, T = dims.t;
  if (!categoryMode && T != Ti) {
    ANN_NamedMessage(name, L"volume timepoints mismatch to model");
    return nullptr;
  }
  ANN_Progress progress(L"Perform BRUNET2D Segmentation", true);
  ANN_FrameOwner resampled;
  {
    ANN_FrameOwner wide(VA_VolConvertBits(volume, 64, 1, 0));
    if (!wide.p) return nullptr;
    resampled.p = VA_ResampleSlices(wide.p, Wi, Hi, 1);
    if (!resampled.p) return nullptr;
  }
  progress.step(10, 100, 0, 100);
  ANN_FrameOwner labels(VA_VolCreateUniform(FRM_INT, DIM3D{Wi, Hi, D, categoryMode ? T : 1}, 0.0, 8));
  if (!labels.p) return nullptr;
  int64_t slabBytes = 0, numSlabs = 0;
  ANN_Counted<float> slabs(static_cast<float*>(
      categoryMode ? VA_ExtractSlabs_SeparateTimepoints(resampled.p, TORCHDT_FLOAT32, cfg.SignalNorm, slabR, &slabBytes, &numSlabs)
                   : VA_ExtractSlabs_TimepointsAsChannels(resampled.p, TORCHDT_FLOAT32, cfg.SignalNorm, slabR, &slabBytes, &numSlabs)));
  PR_FrameDelete(&resampled.p);
  if (!slabs) return nullptr;
  const int64_t slabElements = int64_t(cfg.uInChan) * Hi * Wi;
  {
    c10::InferenceMode inference;
    if (categoryMode) {
      if (numSlabs != int64_t(T) * D) {
        ANN_NamedMessage(name, L"Unexpected NumSlabs layout");
        return nullptr;
      }
      // The slices of a time point go through in blocks, each block one forward pass (instance
      // normalisation works per slice, so the blocks do not change the result).
      constexpr int64_t kBlock = 16;
      std::vector<uint8_t> timePoint(size_t(int64_t(Wi) * Hi * D));
      for (int t = 0; t < T; ++t) {
        progress.step(t, T, 20, 98);  // not a stopping point: the segmentation runs to its end
        for (int64_t z0 = 0; z0 < D; z0 += kBlock) {
          const int64_t n = std::min<int64_t>(kBlock, D - z0);
          const torch::Tensor x =
              torch::from_blob(slabs.get() + (int64_t(t) * D + z0) * slabElements, {n, cfg.uInChan, Hi, Wi}, torch::kFloat)
                  .to(*device);
          const torch::Tensor category = torch::full({n, 1}, std::min(t, Ti - 1), torch::TensorOptions(torch::kLong).device(*device));
          const torch::Tensor arg = net.forward(x, category).argmax(1).to(torch::kCPU).to(torch::kUInt8).contiguous();
          std::memcpy(timePoint.data() + z0 * Wi * Hi, arg.data_ptr<uint8_t>(), size_t(n * Wi * Hi));
        }
        if (!VA_VolSetBox(labels.p, t, nullptr, timePoint.data(), 8)) return nullptr;
      }
    } else {
      if (numSlabs != D) {
        ANN_NamedMessage(name, L"Unexpected NumSlabs layout");
        return nullptr;
      }
      if (slabBytes != int64_t(VA_TorchDataSize(TORCHDT_FLOAT32)) * slabElements) {
        ANN_NamedMessage(name, L"Slab size mismatch");
        return nullptr;
      }
      for (int z = 0; z < D; ++z) {
        const torch::Tensor x = torch::from_blob(slabs.get() + z * slabElements, {1, cfg.uInChan, Hi, Wi}, torch::kFloat).to(*device);
        const torch::Tensor arg = net.forward(x, torch::Tensor()).argmax(1).to(torch::kCPU).to(torch::kUInt8).contiguous();
        if (!VA_VolSetSlice(labels.p, 0, z, arg.data_ptr<uint8_t>(), 8)) return nullptr;
      }
    }
  }
  return VA_ResampleSlices(labels.p, W, H, 0);
}

}  // namespace

TWKANN_API FRAME* TWKANN_BRUNET2D_SegmentationTmsAsCat(bool useGpu, const wchar_t* configPath, const wchar_t* modelPath,
                                                       FRAME* volume) {
  return ANN_Guarded(L"TWKANN_BRUNET2D_SegmentationTmsAsCat", static_cast<FRAME*>(nullptr), [&] {
    return SegmentationInference_TmsAsCatOrChan(useGpu, configPath, modelPath, volume);
  });
}

// ---------------------------------------------------------------------------------------------
// Training
// ---------------------------------------------------------------------------------------------

namespace {

// The run's library-wide values, cleared when the run ends however it ends.
struct RunState {
  RunState() { clear(); }
  ~RunState() { clear(); }
  static void clear() {
    ANN_ReleaseClassLossTables();
    ANN_Brunet2DState() = ANN_Brunet2DRun{};
  }
};

struct Groups {
  VA_SAMPLEGROUP train, eval, test;
  wchar_t** names = nullptr;
  wchar_t** maskNames = nullptr;
  int numNames = 0;
  int* categorySizes = nullptr;
  ~Groups() {
    VA_FreeSampleGroup(&train);
    VA_FreeSampleGroup(&eval);
    VA_FreeSampleGroup(&test);
    pf_free_parr(&names, numNames);
    pf_free_parr(&maskNames, numNames);
    pf_free(&categorySizes);
  }
};

// A batch: new copies of its samples, freed by whoever holds it last.
struct Batch {
  std::vector<void*> images, labels, masks;
  Batch() = default;
  Batch(Batch&&) = default;
  Batch& operator=(Batch&& other) noexcept {
    clear();
    images = std::move(other.images), labels = std::move(other.labels), masks = std::move(other.masks);
    return *this;
  }
  ~Batch() { clear(); }
  void clear() {
    for (auto* list : {&images, &labels, &masks}) {
      for (void*& p : *list) pf_free(&p);
      list->clear();
    }
  }
  int64_t count() const { return int64_t(images.size()); }
};

bool labelsWithinClasses(const VA_SAMPLEGROUP& g, int numClasses, int W, int H) {
  for (int64_t i = 0; i < g.count; ++i) {
    const uint8_t* y = VA_FlexDimBytes(g.labels[i]);
    for (int64_t k = 0; k < int64_t(W) * H; ++k)
      if (y[k] >= numClasses) return false;
  }
  return true;
}

// Per-class Dice of the test samples of one category token (the test group's samples whose first
// category is the token); not-a-number where the token has no sample.
std::vector<double> tokenDice(const VA_SAMPLEGROUP& group, uint8_t* const* predictions, int numClasses, int token, int64_t pixels) {
  std::vector<void*> labels, masks;
  std::vector<uint8_t*> preds;
  std::vector<int32_t> table;
  for (int64_t i = 0; i < group.count; ++i)
    if (VA_FlexDimCategories(group.images[i])[0] == token) {
      labels.push_back(group.labels[i]), masks.push_back(group.masks[i]);
      preds.push_back(predictions[i]), table.push_back(group.table[i]);
    }
  std::vector<double> result(size_t(numClasses), NAN);
  ANN_Counted<double> dice(VA_CalculateDICEperClassAveragedOverVolumes(numClasses, pixels, labels.data(), masks.data(),
                                                                       preds.data(), int64_t(labels.size()), group.volumes,
                                                                       table.data()));
  if (dice) std::copy(dice.get(), dice.get() + numClasses, result.begin());
  return result;
}

bool ANN_ReportTestDice(int numClasses, const uint8_t* classMask, int labelScheme, const int* catSizes,
                        BRUNET2DFXImpl& net, const torch::Device& device, int microbatch, int numEpochs, int tensorType,
                        int channels, const VA_SAMPLEGROUP& test, bool show) {
  ANN_Progress progress(L"Generating results", show);
  const ANN_Brunet2DRun& run = ANN_Brunet2DState();
  ANN_Counted<double> dice(ANN_GroupDice(numClasses, net, device, tensorType, microbatch, channels, test));
  if (!dice) return false;
  const double mean = ANN_MeanClassDice(dice.get(), classMask, numClasses);
  CString text = FmtStr(L"Nepoch=%u\nBest Test HardDICE=%e\n", unsigned(numEpochs), mean);
  text += FmtStr(L"Timepoints as Category = %u\n", unsigned(run.timesAsCategory));
  text += FmtStr(L"Use FiLM = %u\n", unsigned(run.useFiLM));
  CString className;
  if (!catSizes) {
    for (int c = 0; c < numClasses; ++c) {
      ANN_LabelName(className, labelScheme, c);
      text += FmtStr(L"%s : %.6f\n", className.GetString(), dice[c]);
    }
  } else {
    uint8_t** predictions = ProducePredLabelMaps(numClasses, net, device, tensorType, microbatch, channels, test.images, test.count);
    if (!predictions) return false;
    for (int k = 0; k < catSizes[0]; ++k) {
      const std::vector<double> perToken = tokenDice(test, predictions, numClasses, k, int64_t(run.W) * run.H);
      text += FmtStr(L"\nCategory token %u\n-------------------------------\n", unsigned(k));
      for (int c = 0; c < numClasses; ++c) {
        ANN_LabelName(className, labelScheme, c);
        text += FmtStr(L"%s : %.6f\n", className.GetString(), perToken[size_t(c)]);
      }
    }
    pf_free_parr(&predictions, test.count);
  }
  PR_CopyStrToClipboard(text.GetString());
  ANN_ShowMessage(text, MB_OK | MB_ICONINFORMATION);
  return true;
}

bool TrainBreastUnet25D_FlexDim(ANNTRAINPARM* parm, int fold, int numFolds, const wchar_t* dataFolder, bool show) {
  const wchar_t* name = L"TrainBreastUnet25D_FlexDim";
  const CString title = CString(L"Breast Unet2D") + FmtStr(L"_fold#%u_of_%u", unsigned(fold), unsigned(numFolds));
  RunState runState;
  const CString foldModel = ANN_FoldFileName(parm->ModelPath, FmtStr("_f%u.pt", unsigned(fold)).toUtf8().c_str());
  const CString foldConfig = ANN_FoldFileName(parm->ModelCfgPath, FmtStr("_f%u.mcfg", unsigned(fold)).toUtf8().c_str());
  std::error_code ec;
  std::filesystem::remove(ANN_NarrowPath(foldModel), ec);
  std::filesystem::remove(ANN_NarrowPath(foldConfig), ec);
  ANN_Brunet2DRun& run = ANN_Brunet2DState();
  run.timesAsCategory = run.useFiLM = parm->TimesAsCategory != 0;

  std::unique_ptr<torch::Device> device(ANN_ChooseDevice(parm->UseGpu != 0));
  if (!device) return false;
  run.alpha = parm->XentropyAlpha;
  if (!ANN_MakeClassLossTables(parm->ClassLossTable, parm->NumClasses, *device)) return false;
  run.classWeights = ANN_MakeClassWeights(parm->XentropyClassW, parm->NumClasses, *device, parm->TensorType);
  if (!run.classWeights.defined()) return false;
  const int64_t B = std::max(1, parm->BatchLng);

  VA_DATALOADPARM load;
  load.trainFraction = parm->TrainFraction;
  load.testFraction = parm->TestFraction;
  load.validFraction = parm->ValidFraction;
  load.normMethod = parm->SigNormMethod;
  load.normLo = parm->SigNormIntvLo;
  load.normHi = parm->SigNormIntvHi;
  load.tensorType = parm->TensorType;
  load.slabR = parm->SlabR;
  load.loadLimit = parm->Augment.LoadLimit;
  Groups g;
  DIM3D dims;
  int numCategories = 0;
  if (!VA_Load4DVolumesAndTargetLabelsFromFolder_As25D_FlexDim(fold, &load, run.timesAsCategory, dataFolder, parm->ScaleParam,
                                                               parm->ScaleMode, 16, &g.train, &g.eval, &g.test, &g.names,
                                                               &g.maskNames, &g.numNames, &dims, &numCategories,
                                                               &g.categorySizes, show))
    return false;
  run.W = dims.w;
  run.H = dims.h;
  for (const VA_SAMPLEGROUP* group : {&g.train, &g.eval, &g.test})
    if (!labelsWithinClasses(*group, parm->NumClasses, dims.w, dims.h)) {
      ANN_NamedMessage(name, FmtStr(L"Label values outside the %d classes", parm->NumClasses));
      return false;
    }
  const int channels = (run.timesAsCategory ? 1 : dims.t) * (2 * parm->SlabR + 1);
  ANNMODELCFG cfg = ANN_ModelConfigOf(parm, channels, dims);
  cfg.NumCat = run.timesAsCategory ? std::min(numCategories, 32) : 0;
  for (int i = 0; i < cfg.NumCat; ++i) cfg.catsz[i] = g.categorySizes[i];

  std::shared_ptr<BRUNET2DFXImpl> net;
  try {
    net = std::make_shared<BRUNET2DFXImpl>(cfg, cfg.NumCat, cfg.catsz);
    net->to(*device);
    if (!ANN_WriteModelCfg(foldConfig, &cfg, parm)) return false;
  } catch (const std::exception&) {
    ANN_NamedMessage(name, L"Model\\Optimizer initialization error : \n");
    return false;
  }
  ANN_InitBRUNET2DWeights(*net);
  ANN_RandGen gen;
  if (!gen.p) return false;
  ANN_SeedGenerators();

  const int64_t numTrain = g.train.count;
  const int64_t numBatches = (numTrain + B - 1) / B;
  const int64_t total = numBatches * std::max(0, parm->NumEpochs);
  ANN_Progress progress(title, show);
  ANN_File epochLog;
  if (!ANN_OpenEpochLog(name, parm->FoldLogPath, parm->LogHardDice ? "epoch\tTrainLoss\tTrainHardDICE\tEvalLoss\tEvalHardDICE\n"
                                                                   : "epoch\tTrainLoss\tEvalLoss\tEvalHardDICE\n",
                        &epochLog))
    return false;
  const long startClock = twk::clockMs();
  std::unique_ptr<torch::optim::AdamW> optimizer = ANN_MakeAdamW(*net, 0.001, 0.0001);
  if (!optimizer) return false;

  double lr = 0.001, trainLoss = 0, evalLoss = 0, trainDice = 0, best = 0;
  const int numClasses = parm->NumClasses, micro = parm->MicrobatchLng, type = parm->TensorType;
  for (int e = 0; e < parm->NumEpochs; ++e) {
    ANN_Counted<int> perm(PR_ShuffleIntegerArray(gen.p, numTrain));
    if (!perm) return false;
    if (parm->LRscheme == 1) {
      lr *= parm->LRexpdecay;
      ANN_SetLearningRate(*optimizer, lr);
    } else if (parm->LRscheme == 2) {
      lr = (std::cos(M_PI * e / std::max(1, parm->NumEpochs - 1)) + 1) * 0.0004995 + 1e-6;
      ANN_SetLearningRate(*optimizer, lr);
    }
    double lossSum = 0;
    Batch current, next;
    for (int64_t b = 0; b <= numBatches; ++b) {
      if (parm->LRscheme == 3 && b == 1) progress.start(title);
      auto prepare = [&] {
        if (b >= numBatches) return;
        for (int64_t k = b * B; k < std::min((b + 1) * B, numTrain); ++k) {
          const int s = perm[k];
          next.images.push_back(VA_FlexDim_AllocAndCopyData(type, g.train.images[s], channels));
          next.labels.push_back(VA_FlexDim_AllocAndCopyData(TORCHDT_UINT8, g.train.labels[s], 1));
          next.masks.push_back(VA_FlexDim_AllocAndCopyData(TORCHDT_UINT8, g.train.masks[s], 1));
          if (!next.images.back() || !next.labels.back() || !next.masks.back()) throw std::bad_alloc();
        }
        VA_PerformBatchAugmentation_ImageAndBytemap_FlexDim(gen.p, &parm->Augment, type, next.images.data(),
                                                            next.labels.data(), next.masks.data(), next.count(), channels);
      };
      auto train = [&] {
        if (b == 0) return;
        double loss = 0;
        if (BatchForward_FlexDim(*device, type, channels, *net, *optimizer, numClasses, current.count(), micro,
                                 current.images.data(), current.labels.data(), current.masks.data(), &loss))
          lossSum += loss;
        current.clear();
      };
      ANN_ParallelStep(prepare, train, true);
      if (b < numBatches) current = std::move(next);
      if (b > 0) {
        const int64_t step = e * numBatches + b;
        const CString line = FmtStr(
            L"%s : (tsamples=%u\\LR=%e\\Mem=%3.1lf GB) E%u_of_%u\\B%u_of_%u Epoch loss=%e TrainHD=%e EvalLoss=%e BestEvalHD=%e",
            title.GetString(), unsigned(numTrain), ANN_LearningRate(*optimizer), 0.0, unsigned(e), unsigned(parm->NumEpochs),
            unsigned(b), unsigned(numBatches), trainLoss, trainDice, evalLoss, best);
        if (!progress.trainingStep(name, step, total, line, startClock, show)) return false;
      }
    }
    trainLoss = lossSum / double(numTrain);
    if (!ANN_EvalLoss(*device, type, channels, *net, numClasses, micro, g.eval.images, g.eval.labels, g.eval.masks,
                      g.eval.count, &evalLoss))
      return false;
    ANN_Counted<double> evalPerClass(ANN_GroupDice(numClasses, *net, *device, type, micro, channels, g.eval));
    if (!evalPerClass) return false;
    const double evalDice = ANN_MeanClassDice(evalPerClass.get(), parm->DiceClassMask, numClasses);
    if (parm->LogHardDice) {
      ANN_Counted<double> trainPerClass(ANN_GroupDice(numClasses, *net, *device, type, micro, channels, g.train));
      if (!trainPerClass) return false;
      trainDice = ANN_MeanClassDice(trainPerClass.get(), parm->DiceClassMask, numClasses);
    }
    if (epochLog.f) {
      const bool written = parm->LogHardDice
                               ? ANN_Printf(epochLog.f, "%u\t%e\t%e\t%e\t%e\n", unsigned(e), trainLoss, 1 - trainDice, evalLoss, 1 - evalDice)
                               : ANN_Printf(epochLog.f, "%u\t%e\t%e\t%e\n", unsigned(e), trainLoss, evalLoss, 1 - evalDice);
      if (!written) return false;
    }
    if (evalDice > best) {
      ANN_SaveModule(*net, foldModel);
      best = evalDice;
    }
  }
  progress.end();
  net.reset();
  optimizer.reset();
  BRUNET2DPtr bestNet = ANN_LoadBRUNET2D(*device, foldConfig, foldModel, nullptr);
  if (!bestNet) return false;
  if (!ANN_ReportTestDice(numClasses, parm->DiceClassMask, parm->LabelScheme, run.timesAsCategory ? g.categorySizes : nullptr,
                          *bestNet, *device, micro, parm->NumEpochs, type, channels, g.test, show))
    return false;
  CString names;
  for (int i = 0; i < g.numNames; ++i) names += CString(g.names[i]) + L"\n";
  PR_CopyStrToClipboard(names.GetString());
  return true;
}

}  // namespace

TWKANN_API bool TWKANN_TrainBRUNET2D_FlexDim(ANNTRAINPARM* parm, const wchar_t* dataFolder, bool show) {
  const wchar_t* name = L"TWKANN_TrainBRUNET2D_FlexDim";
  return ANN_Guarded(name, false, [&] {
    if (!ANN_CheckTrainParm(name, parm, ANN_Family::Brunet2D)) return false;
    ANN_File outputLog(ANN_OpenFile(parm->OutputLogPath, "w+b"));
    if (!outputLog.f) {
      ANN_NamedMessage(name, L"Unable to create Output Log");
      return false;
    }
    CString header = L"fold\tname\t";
    CString className;
    for (int c = 0; c < parm->NumClasses; ++c) {
      ANN_LabelName(className, parm->LabelScheme, c);
      header += className + L"\t";
    }
    if (!ANN_WriteUtf16(outputLog.f, header + L"\n")) return false;
    int cases = 0, folds = 0;
    if (!VA_CalculateDatasetNumCasesAndFolds(dataFolder, parm->ValidFraction, &cases, &folds, true)) return false;
    if (!PR_AskYesNo(FmtStr(L"%u cases and %u folds were detected.\nProceed?", unsigned(cases), unsigned(folds)))) return false;
    return TrainBreastUnet25D_FlexDim(parm, 0, 1, dataFolder, show);
  });
}
