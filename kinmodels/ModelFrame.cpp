#include "ModelFrame.h"

#include <algorithm>
#include <array>

#include "Messages.h"

namespace kin {
namespace {

constexpr int kMaxFreeParms = 11;

// The host's current choices per model, initialised from the catalogue when first used.
struct ModelState {
  double values[kMaxFreeParms] = {};
  Optimisation optimisation;
};

std::array<ModelState, kNumModels>& states() {
  static std::array<ModelState, kNumModels> all = [] {
    std::array<ModelState, kNumModels> s{};
    for (int type = 0; type < kNumModels; ++type) {
      const ModelSpec* entry = modelSpec(type);
      if (!entry) continue;
      for (size_t i = 0; i < entry->freeParms.size() && i < kMaxFreeParms; ++i)
        s[type].values[i] = entry->freeParms[i].defaultValue;
      s[type].optimisation = {entry->method, entry->optA, entry->optB};
    }
    return s;
  }();
  return all;
}

}  // namespace

double* mutableFreeParms(int type) {
  const ModelSpec* entry = modelSpec(type);
  if (!entry || entry->freeParms.empty()) return nullptr;
  return states()[type].values;
}

const double* freeParms(int type) { return mutableFreeParms(type); }

double freeParm(int type, int index) {
  const ModelSpec* entry = modelSpec(type);
  if (!entry || index < 0 || index >= int(entry->freeParms.size())) return VOID_VALUE;
  return states()[type].values[index];
}

Optimisation optimisation(int type) {
  if (!modelSpec(type)) return {};
  return states()[type].optimisation;
}

void setOptimisation(int type, const Optimisation& choice) {
  if (modelSpec(type)) states()[type].optimisation = choice;
}

const Acquisition& acquisition() { return mutableAcquisition(); }

Acquisition& mutableAcquisition() {
  static Acquisition* acquisition = new Acquisition();  // 1.1 MB of profiles: kept off the static image
  return *acquisition;
}

bool SignalToConcentration(const double* signal, int n, double* conc, void* info) {
  const DIDU_SigToConcFunc convert = acquisition().sigToConc;
  if (!convert) {
    curveMessage(L"DIDU_ComputeParmArray : Signal to concentration conversion is not set", MB_OK);
    return false;
  }
  convert(signal, n, conc, 1, info);
  return true;
}

bool ConcentrationToSignal(const double* conc, int n, double* signal, const void* info, int mode) {
  const DIDU_ConcToSigFunc convert = acquisition().concToSig;
  if (!convert) {
    curveMessage(L"DIDU_ComputeParmArray : Concentration to signal conversion is not set", MB_OK);
    return false;
  }
  convert(conc, n, signal, mode, info);
  return true;
}

OutputWriter::OutputWriter(DEMPOUT* records, const int* flags, int numOutputs) : records_(records) {
  std::fill(std::begin(slot_), std::end(slot_), -1);
  const int count = std::clamp(numOutputs, 0, kNumOutputFlags);
  for (int i = 0; i < count; ++i)
    if (flags[i]) slot_[i] = count_++;
  if (!records_) count_ = 0, std::fill(std::begin(slot_), std::end(slot_), -1);
}

void OutputWriter::put(int index, double value, double low, double high) const {
  if (!requested(index)) return;
  DEMPOUT& r = records_[slot_[index]];
  r.value = value;
  r.aux1 = low;
  r.aux2 = high;
}

void OutputWriter::fail() const {
  for (int i = 0; i < count_; ++i) {
    records_[i].value = VOID_VALUE;
    records_[i].aux1 = VOID_VALUE;
    records_[i].aux2 = VOID_VALUE;
  }
}

}  // namespace kin
