// Type 40, a retired variant of the dual-input liver model. Its curve is no longer available, so
// the model refuses at init with the information text of the retired curve builder, once, instead
// of announcing it for every curve of a map.

#include "DualInputLiver.h"
#include "Messages.h"
#include "ModelTable.h"

namespace kin {
namespace {

bool M40_ModelInit(const INPUTFUNC*) {
  messageBox(L"Function Unavailable # since Build 254", MB_OK | MB_ICONINFORMATION);
  return false;
}

constexpr ModelOps kOps = {.init = M40_ModelInit};

}  // namespace

constexpr FreeParmSpec kFreeParms40[] = {
    {"Flow max [1,150]", 150},
    {"fa min   [0,1]", 0.05},
    {"fa max   [0,1]", 0.9},
    {"Ki max   [0.01,50]", 50},
    {"Max Arterial delay (sec)", 15},
    {"Max Venous delay (sec)", 15},
    {"Use L1\\L2 metric", 2},
    {"Monotail start (sec)", 180},
};
const ModelSpec kModel40 = {
    .type = 40,
    .name = "",
    .outputs = liver::kOutputs,
    .freeParms = kFreeParms40,
    .numIfuncs = 2,
    .ifPanelName = "Two Input functions",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 5, .optB = 1000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};
}  // namespace kin
