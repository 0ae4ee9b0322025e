#pragma once
// TwkANN, the network library: trains and runs the segmentation networks (the 2D FiLM U-Net
// BRUNET2D, the Xnet and Ynet breast networks, two 3D U-Nets) on the CPU, prepares NIfTI training
// pairs and writes the model configuration files. The program loads "libTwkANN.so" from its own
// folder and binds the exports below by name; this header gives their records and signatures, and
// includes no tensor-library header.
//
// Every export reports its failures itself (a message box "<export> : <message>" through the UI
// interface) and returns false or null; no exception leaves an export. Wide paths are
// null-terminated wchar_t strings; files are opened by their UTF-8 names. The caller owns the
// records and everything they point to; the library never frees or keeps them.

#include <cstddef>
#include <cstdint>

#include "CString.h"
#include "TwkTypes.h"
#include "anndata/AnnData.h"

#define TWKANN_API __attribute__((visibility("default")))

// Hyper-parameters of a trained model, written beside its archive as the .mcfg file.
struct ANNMODELCFG {
  int32_t ConvKern = 3;         // kernel of the double-convolution blocks; odd
  double DropRate = 0;          // dropout at the deepest level
  int32_t BaseChan = 16;        // channels of the first level; level k has BaseChan * 2^k
  bool useResidual = true;      // residual connection inside the double-convolution blocks
  int32_t uInChan = 1;          // input channels
  int32_t SlabR = 0;            // slab radius: 2*SlabR+1 adjacent slices per time point
  int32_t numClassesMC = 2;     // output classes
  int32_t Wi = 0, Hi = 0;       // input width and height, pixels
  int32_t Ti = 1;               // time points of the input
  int32_t SignalNorm = 0;       // DATANORMMETHOD of the input
  int32_t NumCat = 0;           // categorical conditioning variables (0: none)
  int32_t catsz[32] = {};       // vocabulary of each category, NumCat entries used
};

// The augmentation block inside the training record is the imaging core's record in place.
using ANNAUGMENT = VA_AUGMENT3D;

// Per-class coefficients of the BRUNET2D overlap loss.
struct ANNCLASSLOSS {
  double Weight;    // normalised over the classes to sum 1 before use
  double FPcoef;    // false-positive coefficient
  double FNcoef;    // false-negative coefficient
  double Exponent;  // exponent of the overlap loss
};

#pragma pack(push, 1)
// Training parameters, byte-packed: the program and the library agree on this layout exactly.
struct ANNTRAINPARM {
  uint8_t UseGpu;
  uint8_t TimesAsCategory;         // time points are a category (4D labels); else input channels (3D label)
  int32_t LabelScheme;             // 1 nine tissue labels, 2 three labels
  const wchar_t* FoldLogPath;      // per-epoch log, or null
  const wchar_t* OutputLogPath;    // the run's output log
  uint8_t LogHardDice;             // the epoch log carries the training hard Dice
  int32_t EvalEvery;               // 3D U-Nets: evaluate every EvalEvery-th epoch (values < 1 count as 1)
  const wchar_t* ModelCfgPath;     // .mcfg to write
  wchar_t* ModelPath;              // .pt to write
  double TrainFraction;
  double TestFraction;
  double ValidFraction;
  int32_t UnetNlev;
  double ScaleParam;
  int32_t ScaleMode;
  int32_t SigNormMethod;           // DATANORMMETHOD
  double SigNormIntvLo;
  double SigNormIntvHi;
  int32_t NumClasses;              // background included
  uint8_t DiceClassMask[32];       // 1: the class enters the mean Dice; all 0: every class does
  int32_t TensorType;              // 6 32-bit float, otherwise 64-bit float
  int32_t SlabR;
  int32_t NumEpochs;
  int32_t BatchLng;                // values below 1 count as 1
  int32_t MicrobatchLng;
  int32_t NumBaseFeatureLayers;
  uint8_t UseAttnGates;
  uint8_t UseDeepSupervis;
  uint8_t UseResidConn;
  double XentropyAlpha;
  double BinLossAlpha;
  float* XentropyClassW;           // NumClasses weights, or null
  ANNCLASSLOSS* ClassLossTable;    // NumClasses records
  double DropRate;
  ANNAUGMENT Augment;
  uint32_t LRscheme;               // 1 exponential decay, 2 cosine (BRUNET2D), 3 per-epoch search (Xnet, Ynet)
  double LRexpdecay;
  double Reserved[2];              // carried, not read
};
#pragma pack(pop)

static_assert(sizeof(ANNAUGMENT) == 249, "ANNAUGMENT is 249 bytes");
static_assert(offsetof(ANNAUGMENT, ProbAffine) == 37 && offsetof(ANNAUGMENT, AffMaxT) == 53 &&
                  offsetof(ANNAUGMENT, ProbGRBF) == 133 && offsetof(ANNAUGMENT, GRBFgrid) == 141 &&
                  offsetof(ANNAUGMENT, ProbInputGaussNoise) == 161 && offsetof(ANNAUGMENT, PoissonScale) == 241,
              "ANNAUGMENT field offsets");
static_assert(sizeof(ANNTRAINPARM) == 483, "ANNTRAINPARM is 483 bytes");
static_assert(offsetof(ANNTRAINPARM, LabelScheme) == 2 && offsetof(ANNTRAINPARM, FoldLogPath) == 6 &&
                  offsetof(ANNTRAINPARM, LogHardDice) == 22 && offsetof(ANNTRAINPARM, ModelCfgPath) == 27 &&
                  offsetof(ANNTRAINPARM, TrainFraction) == 43 && offsetof(ANNTRAINPARM, UnetNlev) == 67 &&
                  offsetof(ANNTRAINPARM, NumClasses) == 103 && offsetof(ANNTRAINPARM, DiceClassMask) == 107 &&
                  offsetof(ANNTRAINPARM, TensorType) == 139 && offsetof(ANNTRAINPARM, UseAttnGates) == 163 &&
                  offsetof(ANNTRAINPARM, XentropyAlpha) == 166 && offsetof(ANNTRAINPARM, XentropyClassW) == 182 &&
                  offsetof(ANNTRAINPARM, DropRate) == 198 && offsetof(ANNTRAINPARM, Augment) == 206 &&
                  offsetof(ANNTRAINPARM, LRscheme) == 455 && offsetof(ANNTRAINPARM, LRexpdecay) == 459 &&
                  offsetof(ANNTRAINPARM, Reserved) == 467,
              "ANNTRAINPARM field offsets");

extern "C" {
// Start-up check; true on this CPU build whatever the flag.
TWKANN_API bool TWKANN_InitLib(bool useGpu);
// The version of the tensor library the library runs on.
TWKANN_API void TWKANN_GetTorchVersion(CString& out);
// Prints a fixed series of tensor operations to the standard output; true.
TWKANN_API bool TWKANN_TestSGD();
TWKANN_API bool TWKANN_PrepareTraining_BRUNET2D_Binary(const wchar_t* inFolder, wchar_t* outFolder, bool show);
TWKANN_API bool TWKANN_PrepareTraining_BinarySegmentMinBoundRect(const wchar_t* workFolder, const wchar_t* imageFolder,
                                                                 const wchar_t* maskFolder, uint32_t flags,
                                                                 double workingResolutionMm, double inflateMm,
                                                                 int sizeMultiple, const wchar_t* outFolder, bool show);
TWKANN_API bool TWKANN_PrepareTraining_BinarySegmentCommonBoundRect(const wchar_t* workFolder, const wchar_t* imageFolder,
                                                                    const wchar_t* maskFolder, uint32_t flags,
                                                                    double workingResolutionMm, double inflateMm,
                                                                    int sizeMultiple, const wchar_t* outFolder, bool show);
TWKANN_API bool TWKANN_TrainBRUNET2D_FlexDim(ANNTRAINPARM* parm, const wchar_t* dataFolder, bool show);
// A new label frame (8-bit class indices) of the volume, owned by the caller; null on failure.
TWKANN_API FRAME* TWKANN_BRUNET2D_SegmentationTmsAsCat(bool useGpu, const wchar_t* configPath, const wchar_t* modelPath,
                                                       FRAME* volume);
TWKANN_API bool TWKANN_TrainBreastXnet2D(ANNTRAINPARM* parm, const wchar_t* folder, bool show);
TWKANN_API bool TWKANN_TrainBreastYnet2D(ANNTRAINPARM* parm, const wchar_t* folder, bool show);
TWKANN_API bool TWKANN_TrainUnet3DwSftMax(ANNTRAINPARM* parm, const wchar_t* dataFolder, bool show);
TWKANN_API bool TWKANN_TrainUnetPI3DwSftMax(ANNTRAINPARM* parm, const wchar_t* dataFolder, bool show);
}

// Reads an MNIST (IDX) label file, magic 2049 in either byte order: *count labels in a new
// pf_malloc buffer *labels (labels may be null to check the header and count only). False for a
// file that cannot be read or is short; a wrong magic number is reported.
TWKANN_API bool TWKANN_LoadMNIST_LabelFile(const wchar_t* path, unsigned char** labels, int* count);
