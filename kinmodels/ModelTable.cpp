#include "ModelTable.h"

namespace kin {
namespace {

// Indexed by type. Addresses only: the table is constant-initialised, ready before any code runs.
const ModelSpec* const kModels[kNumModels] = {
    &kModel00,
    &kModel01,
    &kModel02,
    &kModel03,
    &kModel04,
    &kModel05,
    &kModel06,
    &kModel07,
    &kModel08,
    &kModel09,
    &kModel10,
    &kModel11,
    &kModel12,
    &kModel13,
    &kModel14,
    &kModel15,
    &kModel16,
    &kModel17,
    &kModel18,
    &kModel19,
    &kModel20,
    &kModel21,
    &kModel22,
    &kModel23,
    &kModel24,
    &kModel25,
    &kModel26,
    &kModel27,
    &kModel28,
    &kModel29,
    &kModel30,
    &kModel31,
    &kModel32,
    &kModel33,
    &kModel34,
    &kModel35,
    &kModel36,
    &kModel37,
    &kModel38,
    &kModel39,
    &kModel40,
    &kModel41,
    &kModel42,
    &kModel43,
    &kModel44,
    &kModel45,
    &kModel46,
    &kModel47,
    &kModel48,
    &kModel49,
    &kModel50,
    &kModel51,
    &kModel52,
    &kModel53,
    &kModel54,
    nullptr,  // 55: no model
    nullptr,  // 56: no model
    &kModel57,
};

}  // namespace

const ModelSpec* modelSpec(long long type) {
  if (type < 0 || type >= kNumModels) return nullptr;
  return kModels[type];
}

}  // namespace kin
