// Type 40, a retired variant of the dual-input liver model. Its curve is no longer available, so
// the model refuses at init with the information text of the retired curve builder, once, instead
// of announcing it for every curve of a map.

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

constexpr OutputSpec kOutputs40[] = {
    {"F-total plasma flow", "ml/min/100ml", 3},
    {"Fa-arterial plasma flow", "ml/min/100ml", 3},
    {"Fv-venous plasma flow", "ml/min/100ml", 3},
    {"fa-arterial flow fraction", "", 3},
    {"Ve-extracellular volume", "ml/100ml", 3},
    {"EMTT-extracellular mean transit time", "sec", 3},
    {"Ki-intracellular uptake rate", "1/100/min", 3},
    {"fi-hepatic uptake fraction", "", 3},
    {"Arterial delay", "sec", 3},
    {"Venous delay", "sec", 3},
    {"residual", "", 3},
};
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
    .outputs = kOutputs40,
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
