// Messages, label names, paths and logs, and the checks of the training record.
#include "AnnLib.h"

#include <cmath>
#include <cstdarg>
#include <mutex>
#include <thread>
#include <vector>

#include "TextCodec.h"
#include "paths/FilePaths.h"
#include "volume/Frame.h"

namespace {

std::mutex g_messageMutex;
std::thread::id g_messageThread = std::this_thread::get_id();
std::vector<std::pair<CString, unsigned>> g_deferred;

}  // namespace

void ANN_SetMessageThread() {
  std::lock_guard<std::mutex> lock(g_messageMutex);
  g_messageThread = std::this_thread::get_id();
}

void ANN_ShowMessage(const CString& text, unsigned type) {
  {
    std::lock_guard<std::mutex> lock(g_messageMutex);
    if (std::this_thread::get_id() != g_messageThread) {
      g_deferred.emplace_back(text, type);
      return;
    }
  }
  twk::ui().messageBox(text, L"Tarnwick", type);
}

void ANN_NamedMessage(const wchar_t* name, const CString& message) { ANN_ShowMessage(CString(name) + L" : " + message); }

void ANN_FlushDeferredMessages() {
  std::vector<std::pair<CString, unsigned>> pending;
  {
    std::lock_guard<std::mutex> lock(g_messageMutex);
    pending.swap(g_deferred);
  }
  for (const auto& [text, type] : pending) twk::ui().messageBox(text, L"Tarnwick", type);
}

void ANN_LabelName9(CString& out, int index) {
  static const char* const names[] = {"Background//air", "FGT", "Lesion (malignant)", "Lesion (benign)",
                                      "Pectoralis muscles", "Skin", "Liver", "Heart", "Vessels"};
  out = index >= 0 && index < 9 ? CString(names[index]) : CString();
}

void ANN_LabelName3(CString& out, int index) {
  static const char* const names[] = {"Background//air", "Whole breast", "FGT"};
  out = index >= 0 && index < 3 ? CString(names[index]) : CString();
}

void ANN_LabelName(CString& out, int scheme, int index) {
  if (scheme == 1) ANN_LabelName9(out, index);
  else if (scheme == 2) ANN_LabelName3(out, index);
  else out.Empty();
}

std::string ANN_NarrowPath(const wchar_t* path) { return twk::pathToNative(path); }

FILE* ANN_OpenFile(const wchar_t* path, const char* mode) {
  return path && *path ? std::fopen(ANN_NarrowPath(path).c_str(), mode) : nullptr;
}

bool ANN_WriteUtf16(FILE* file, const CString& text) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < text.GetLength(); ++i) {
    const uint32_t c = uint32_t(text[i]);
    auto unit = [&](uint32_t u) { bytes.push_back(uint8_t(u & 0xFF)), bytes.push_back(uint8_t(u >> 8)); };
    if (c >= 0x10000) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0;
}

bool ANN_Printf(FILE* file, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = std::vfprintf(file, format, args);
  va_end(args);
  return written >= 0 && std::fflush(file) == 0;
}

CString ANN_FoldFileName(const wchar_t* path, const char* suffix) { return PR_GetFileName(path) + CString(suffix); }

ANN_FrameOwner::~ANN_FrameOwner() { PR_FrameDelete(&p); }

bool ANN_CheckTrainParm(const wchar_t* name, const ANNTRAINPARM* parm, ANN_Family family) {
  auto refuse = [name](const CString& message) {
    ANN_NamedMessage(name, message);
    return false;
  };
  if (!parm) return refuse(L"No training parameters");
  if (family == ANN_Family::Unet3D) {
    if (parm->NumBaseFeatureLayers < 1) return refuse(L"NumBaseFeatureLayers must be at least 1");
    return true;
  }
  if (parm->NumClasses < 2 || parm->NumClasses > 32) return refuse(FmtStr(L"NumClasses must be 2 to 32 (%d)", parm->NumClasses));
  if (parm->NumBaseFeatureLayers < 1) return refuse(L"NumBaseFeatureLayers must be at least 1");
  if (parm->SlabR < 0) return refuse(L"SlabR must not be negative");
  if (!parm->ModelPath || !*parm->ModelPath || !parm->ModelCfgPath || !*parm->ModelCfgPath)
    return refuse(L"Model and configuration paths are required");
  if (parm->XentropyClassW) {
    double sum = 0;
    for (int c = 0; c < parm->NumClasses; ++c) {
      if (!(parm->XentropyClassW[c] >= 0)) return refuse(L"Class weights must not be negative");
      sum += parm->XentropyClassW[c];
    }
    if (!(sum > 0)) return refuse(L"Class weights sum to zero");
  }
  if (family == ANN_Family::Brunet2D) {
    if (parm->MicrobatchLng < 1) return refuse(L"MicrobatchLng must be at least 1");
    if (parm->TensorType != TORCHDT_FLOAT32) return refuse(L"Unsupported data type");
    if (!parm->ClassLossTable) return refuse(L"Class loss table is required");
    double sum = 0;
    for (int c = 0; c < parm->NumClasses; ++c) {
      if (!(parm->ClassLossTable[c].Weight >= 0)) return refuse(L"Class loss weights must not be negative");
      sum += parm->ClassLossTable[c].Weight;
    }
    if (!(sum > 0)) return refuse(L"Class loss weights sum to zero");
  }
  return true;
}

ANNMODELCFG ANN_ModelConfigOf(const ANNTRAINPARM* parm, int channels, const DIM3D& dims) {
  ANNMODELCFG cfg;
  cfg.ConvKern = 3;
  cfg.DropRate = parm->DropRate;
  cfg.BaseChan = parm->NumBaseFeatureLayers;
  cfg.useResidual = parm->UseResidConn != 0;
  cfg.uInChan = channels;
  cfg.SlabR = parm->SlabR;
  cfg.numClassesMC = parm->NumClasses;
  cfg.Wi = dims.w;
  cfg.Hi = dims.h;
  cfg.Ti = dims.t;
  cfg.SignalNorm = parm->SigNormMethod;
  cfg.NumCat = 0;
  return cfg;
}

bool ANN_OpenEpochLog(const wchar_t* name, const wchar_t* path, const char* header, ANN_File* log) {
  if (!path || !*path) return true;
  log->f = ANN_OpenFile(path, "w+b");
  if (!log->f) {
    ANN_NamedMessage(name, L"Unable to create Output Log");
    return false;
  }
  return ANN_Printf(log->f, "%s", header);
}
