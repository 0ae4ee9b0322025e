// The model configuration file (.mcfg): "key=value" lines ending in a line feed.
#include <cstdlib>
#include <cstring>
#include <string>

#include "AnnLib.h"

bool ANN_WriteModelCfg(const wchar_t* path, const ANNMODELCFG* cfg, const ANNTRAINPARM* parm) {
  if (!cfg || !parm) return false;
  std::string text;
  char line[256];
  auto add = [&](const char* format, auto... values) {
    std::snprintf(line, sizeof line, format, values...);
    text += line;
  };
  add("ConvKern=%d\n", cfg->ConvKern);
  add("uInChan=%d\n", cfg->uInChan);
  add("useResidual=%d\n", cfg->useResidual ? 1 : 0);
  add("numClassesMC=%d\n", cfg->numClassesMC);
  add("DropRate=%.8g\n", cfg->DropRate);
  add("BaseChan=%d\n", cfg->BaseChan);
  add("Wi=%d\n", cfg->Wi);
  add("Hi=%d\n", cfg->Hi);
  add("Ti=%d\n", cfg->Ti);
  add("SignalNorm=%d\n", cfg->SignalNorm);
  add("SlabR=%d\n", cfg->SlabR);
  add("NumCat=%d\n", cfg->NumCat);
  for (int i = 0; i < cfg->NumCat && i < 32; ++i) add("catsz=%d\n", cfg->catsz[i]);
  add("LabelScheme=%d\n", parm->LabelScheme);
  add("UnetNlev=%d\n", parm->UnetNlev);
  add("SigNormMethod=%d\n", parm->SigNormMethod);
  add("SigNormIntvLo=%e\n", parm->SigNormIntvLo);
  add("SigNormIntvHi=%e\n", parm->SigNormIntvHi);
  add("NumClasses=%d\n", parm->NumClasses);
  add("NumEpochs=%d\n", parm->NumEpochs);
  add("BatchLng=%d\n", parm->BatchLng);
  add("MicrobatchLng=%d\n", parm->MicrobatchLng);
  add("NumBaseFeatureLayers=%d\n", parm->NumBaseFeatureLayers);
  add("UseAttnGates=%d\n", int(parm->UseAttnGates));
  add("UseDeepSupervis=%d\n", int(parm->UseDeepSupervis));
  add("UseResidConn=%d\n", int(parm->UseResidConn));
  add("XentropyAlpha=%e\n", parm->XentropyAlpha);
  add("BinLossAlpha=%e\n", parm->BinLossAlpha);
  if (parm->XentropyClassW)
    for (int c = 0; c < parm->NumClasses; ++c) add("XentropyClassW[%u]=%e\n", unsigned(c), double(parm->XentropyClassW[c]));
  add("LRscheme=%u\n", parm->LRscheme);
  add("LRexpdecay=%e\n", parm->LRexpdecay);
  const ANNAUGMENT& a = parm->Augment;
  const std::pair<const char*, double> augment[] = {
      {"ProbAffine", a.ProbAffine}, {"AffMaxT", a.AffMaxT}, {"AffMaxR", a.AffMaxR},
      {"affMaxScale", a.affMaxScale}, {"affMaxRot", a.affMaxRot}, {"affMaxShear", a.affMaxShear},
      {"affMaxTrans", a.affMaxTrans}, {"WarpProb", a.WarpProb}, {"WarpDist", a.WarpDist},
      {"WarpGaussRad", a.WarpGaussRad}, {"ProbGRBF", a.ProbGRBF}, {"GRBFgrid", double(a.GRBFgrid)},
      {"GRBFmaxdisp", a.GRBFmaxdisp}, {"GRBFsmoothK", a.GRBFsmoothK}, {"ProbInputGaussNoise", a.ProbInputGaussNoise},
      {"InputGaussNoiseStdev", a.InputGaussNoiseStdev}, {"ProbPoisson", a.ProbPoisson}, {"PoissonScale", a.PoissonScale},
      {"ProbMirrorX", a.ProbMirrorX}, {"ProbSigScaleAndShift", a.ProbSigScaleAndShift}, {"SigScaleMax", a.SigScaleMax},
      {"SigShiftMax", a.SigShiftMax}, {"ProbContrastAdjustment", a.ProbContrastAdjustment},
      {"ContrastAdjMax", a.ContrastAdjMax}};
  for (const auto& [key, value] : augment) add("A.%s=%e\n", key, value);

  ANN_File file(ANN_OpenFile(path, "wb"));
  if (!file.f) return false;
  return std::fwrite(text.data(), 1, text.size(), file.f) == text.size() && std::fflush(file.f) == 0;
}

namespace {

// Splits "key=value" as "%63[^=]=%63s" does; false when either part is missing.
bool splitLine(const char* line, char* key, char* value) { return std::sscanf(line, "%63[^=]=%63s", key, value) == 2; }

// Reads the next line (at most 2047 characters; the rest of a longer line comes as the next one).
bool nextLine(FILE* f, char* buffer) { return std::fgets(buffer, 2048, f) != nullptr; }

}  // namespace

bool ANN_ReadModelCfg(const wchar_t* path, ANNMODELCFG* cfg) {
  if (!cfg) return false;
  ANN_File file(ANN_OpenFile(path, "r"));
  if (!file.f) return false;
  ANNMODELCFG read = *cfg;
  char buffer[2048], key[64], value[64];
  while (nextLine(file.f, buffer)) {
    if (!splitLine(buffer, key, value)) continue;
    const int number = std::atoi(value);
    if (!std::strcmp(key, "ConvKern")) {
      if (number < 1 || number % 2 == 0) return false;
      read.ConvKern = number;
    } else if (!std::strcmp(key, "uInChan")) {
      if (number < 1) return false;
      read.uInChan = number;
    } else if (!std::strcmp(key, "useResidual")) {
      read.useResidual = number != 0;
    } else if (!std::strcmp(key, "numClassesMC")) {
      if (number < 1 || number > 256) return false;
      read.numClassesMC = number;
    } else if (!std::strcmp(key, "DropRate")) {
      const double rate = std::atof(value);
      if (!(rate >= 0 && rate < 1)) return false;
      read.DropRate = rate;
    } else if (!std::strcmp(key, "BaseChan")) {
      if (number < 1) return false;
      read.BaseChan = number;
    } else if (!std::strcmp(key, "Wi") || !std::strcmp(key, "Hi")) {
      if (number < 16) return false;
      (key[0] == 'W' ? read.Wi : read.Hi) = number;
    } else if (!std::strcmp(key, "Ti")) {
      if (number < 1) return false;
      read.Ti = number;
    } else if (!std::strcmp(key, "SignalNorm")) {
      if (number < DATANORM_NONE || number > DATANORM_PERCENTILE) return false;
      read.SignalNorm = number;
    } else if (!std::strcmp(key, "SlabR")) {
      if (number < 0) return false;
      read.SlabR = number;
    } else if (!std::strcmp(key, "NumCat")) {
      // The category sizes follow on the next NumCat lines; the array has room for 32.
      if (number < 0 || number > 32) return false;
      read.NumCat = number;
      for (int i = 0; i < number; ++i) {
        if (!nextLine(file.f, buffer) || !splitLine(buffer, key, value) || std::strcmp(key, "catsz") != 0) return false;
        const int size = std::atoi(value);
        if (size < 1) return false;
        read.catsz[i] = size;
      }
    }
  }
  *cfg = read;
  return true;
}
