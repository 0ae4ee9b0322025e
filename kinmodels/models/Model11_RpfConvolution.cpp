// Type 11: a catalogue entry without computation. Every curve gives the failure value, so that a
// map of this type never shows stale memory of the host's output records.

#include "ModelTable.h"

namespace kin {
namespace {

constexpr ModelOps kOps = {};

}  // namespace

constexpr OutputSpec kOutputs11[] = {
    {"RPF", "", 1},
    {"vACx", "", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms11[] = {
    {"Convolution precision", 0.01},
};
const ModelSpec kModel11 = {
    .type = 11,
    .name = "",
    .outputs = kOutputs11,
    .freeParms = kFreeParms11,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 1, .optB = 200,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kOps,
};

}  // namespace kin
