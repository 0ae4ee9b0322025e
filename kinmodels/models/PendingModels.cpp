// Catalogue entries of the models whose computation is not written yet.
//
// Their metadata is complete, so the host can list them, show their parameters and run a cycle:
// init succeeds without preparing anything and every curve gives the failure value (1e60 in each
// requested output, a fitted curve of 1e60).
//
// The entries are weak definitions: a model's own file models/ModelNN_Name.cpp defines kModelNN
// with its operations and replaces the entry here at link time, so several models can be written
// at once without touching this file. Delete an entry once its model's file is committed.
// ModelTable.cpp needs no change: it refers to kModelNN wherever it is defined.

#include "ModelTable.h"

#define KIN_PENDING_MODEL extern __attribute__((weak))

namespace kin {
namespace {

// The failure value for every curve: no init work, no computation.
constexpr ModelOps kNotYetWritten = {};

}  // namespace

constexpr OutputSpec kOutputs02[] = {
    {"Effective Peak Reach Time", "sec", 1},
    {"mTTP from Bolus", "sec", 1},
    {"Weighted Peak", "sec", 1},
    {"Time of Bolus arrival _mTTP-based_", "sec", 1},
    {"Peak time", "sec", 1},
    {"mTTP absolute", "sec", 1},
};
constexpr FreeParmSpec kFreeParms02[] = {
    {"Minimal surge length", 2},
};
KIN_PENDING_MODEL const ModelSpec kModel02 = {
    .type = 2,
    .name = "2. Peak analysis",
    .outputs = kOutputs02,
    .freeParms = kFreeParms02,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(1),
    .method = 1, .optA = 0, .optB = 0,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs03[] = {
    {"mean of odd frames", "", 1},
    {"stdev of odd frames", "", 1},
    {"mean of even frames", "", 1},
    {"stdev of even frames", "", 1},
};
KIN_PENDING_MODEL const ModelSpec kModel03 = {
    .type = 3,
    .name = "3. Interleaved 2-state profile",
    .outputs = kOutputs03,
    .freeParms = {},
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvSignalOnly,
    .allowedDynDim = kAxisAny,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(1),
    .method = 1, .optA = 0, .optB = 0,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs04[] = {
    {"Distance", "", 1},
    {"correlation", "", 1},
};
constexpr FreeParmSpec kFreeParms04[] = {
    {"L-norm", 2},
    {"start index", 0},
    {"end index", 0},
};
KIN_PENDING_MODEL const ModelSpec kModel04 = {
    .type = 4,
    .name = "4. Reference curve distance and correlation",
    .outputs = kOutputs04,
    .freeParms = kFreeParms04,
    .numIfuncs = 1,
    .ifPanelName = "Reference curve",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(1),
    .method = 1, .optA = 0, .optB = 0,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs05[] = {
    {"Active rise time", "sec", 1},
    {"Slope", "", 1},
};
constexpr FreeParmSpec kFreeParms05[] = {
    {"Active Rise Low Threshold", 0.2},
    {"Active Rise High Threshold", 0.95},
};
KIN_PENDING_MODEL const ModelSpec kModel05 = {
    .type = 5,
    .name = "5. Time of active rise",
    .outputs = kOutputs05,
    .freeParms = kFreeParms05,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(1),
    .method = 1, .optA = 0, .optB = 0,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs06[] = {
    {"CBV baseline integral", "", 1},
};
constexpr FreeParmSpec kFreeParms06[] = {
    {"Background Threshold", 20},
    {"Skip Initial Time Points", 0},
};
KIN_PENDING_MODEL const ModelSpec kModel06 = {
    .type = 6,
    .name = "",
    .outputs = kOutputs06,
    .freeParms = kFreeParms06,
    .numIfuncs = 0,
    .ifPanelName = "",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(1),
    .method = 1, .optA = 0, .optB = 0,
    .preprocessTasks = {1, 1},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs10[] = {
    {"RPF", "", 1},
    {"vACx", "", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms10[] = {
    {"RPF_max", 5},
    {"Va_max", 5},
};
KIN_PENDING_MODEL const ModelSpec kModel10 = {
    .type = 10,
    .name = "10. RPF\\vACx (AIF integration)",
    .outputs = kOutputs10,
    .freeParms = kFreeParms10,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModCT | kModMR | kModPET,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 20, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs12[] = {
    {"E", "", 1},
    {"F", "1/min", 1},
    {"Tc", "sec", 1},
    {"Ve", "", 1},
    {"residual", "", 1},
};
KIN_PENDING_MODEL const ModelSpec kModel12 = {
    .type = 12,
    .name = "",
    .outputs = kOutputs12,
    .freeParms = {},
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 3, .optB = 500,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs13[] = {
    {"Ki blood flow", "", 1},
    {"Ti minimum transit time", "sec", 1},
    {"voxel blood volume", "", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms13[] = {
    {"Convolution precision", 0.01},
};
KIN_PENDING_MODEL const ModelSpec kModel13 = {
    .type = 13,
    .name = "13. Transit Model {wa,ki,kti} (AIF convolution)",
    .outputs = kOutputs13,
    .freeParms = kFreeParms13,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 6, .optB = 200,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs14[] = {
    {"k_trans", "1/min", 1},
    {"V_e", "", 1},
    {"IWL_tau", "sec", 1},
    {"resid", "", 1},
};
constexpr FreeParmSpec kFreeParms14[] = {
    {"Ktrans_Min", 0.01},
    {"Ktrans_Max", 10},
    {"Ve_Min", 0.01},
    {"Ve_Max", 10},
    {"Tau_Min", 0.05},
    {"Tau_Max", 1},
};
KIN_PENDING_MODEL const ModelSpec kModel14 = {
    .type = 14,
    .name = "14. GKM with two site water exchange",
    .outputs = kOutputs14,
    .freeParms = kFreeParms14,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 1, .optB = 200,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs15[] = {
    {"k_trans", "1/min", 1},
    {"V_e", "", 1},
    {"ArtFract", "", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms15[] = {
    {"Ktrans_Min", 0.2},
    {"Ktrans_Max", 0.8},
    {"Ve_Min", 0.2},
    {"Ve_Max", 10},
};
KIN_PENDING_MODEL const ModelSpec kModel15 = {
    .type = 15,
    .name = "15. Dual Input (Arterial\\Portal Vein): {k_trans,V_e,Artf}",
    .outputs = kOutputs15,
    .freeParms = kFreeParms15,
    .numIfuncs = 2,
    .ifPanelName = "Two Input Functions",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 5, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs20[] = {
    {"Combined Distance", "", 1},
    {"Label Map", "", 1},
};
constexpr FreeParmSpec kFreeParms20[] = {
    {"Distance Mode", 2},
    {"Distance Threshold", 0.02},
    {"Noise Level", 0},
    {"FLAT Threshold", 0},
};
KIN_PENDING_MODEL const ModelSpec kModel20 = {
    .type = 20,
    .name = "",
    .outputs = kOutputs20,
    .freeParms = kFreeParms20,
    .numIfuncs = 2,
    .ifPanelName = "Two Input functions",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModAll,
    .allowedOptimization = methodBit(1),
    .method = 1, .optA = 0, .optB = 0,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs27[] = {
    {"Vt", "", 1},
    {"Intersect", "", 1},
    {"t-star", "sec", 1},
};
constexpr FreeParmSpec kFreeParms27[] = {
    {"Equilibration time t* (min)", 0},
    {"Max Err (%)", 10},
    {"Background threshold", 3},
};
KIN_PENDING_MODEL const ModelSpec kModel27 = {
    .type = 27,
    .name = "27. Vt (Logan Plot)",
    .outputs = kOutputs27,
    .freeParms = kFreeParms27,
    .numIfuncs = 1,
    .ifPanelName = "Reference Curve",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModPET,
    .allowedOptimization = methodBit(1),
    .method = 1, .optA = 0, .optB = 0,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs29[] = {
    {"BPnd - binding potential", "", 8},
    {"k2'- clearance rate constant", "", 8},
    {"R1- relative radioligand delivery", "", 1},
    {"b - Fitting intercept", "", 8},
    {"t-star equilibration time (sec)", "", 1},
};
constexpr FreeParmSpec kFreeParms29[] = {
    {"Start Lin (sec)", 0},
    {"End Lin  (sec)", 3600},
    {"Max Err %", 10},
    {"Background threshold", 3},
};
KIN_PENDING_MODEL const ModelSpec kModel29 = {
    .type = 29,
    .name = "29. Ichise's Non-Invasive Plot (MRTM0)",
    .outputs = kOutputs29,
    .freeParms = kFreeParms29,
    .numIfuncs = 1,
    .ifPanelName = "Reference Curve",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModPET,
    .allowedOptimization = methodBit(1),
    .method = 1, .optA = 0, .optB = 0,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs30[] = {
    {"BPnd - binding potential", "", 8},
    {"k2'- clearance rate constant", "", 8},
    {"R1- relative radioligand delivery", "", 1},
    {"t-star equilibration time (sec)", "", 1},
};
constexpr FreeParmSpec kFreeParms30[] = {
    {"Start (sec)", 0},
    {"End   (sec)", 3600},
    {"Max Err %", 10},
    {"Background threshold", 3},
};
KIN_PENDING_MODEL const ModelSpec kModel30 = {
    .type = 30,
    .name = "30. Ichise's Multilinear Reference Tissue Model (MRTM)",
    .outputs = kOutputs30,
    .freeParms = kFreeParms30,
    .numIfuncs = 1,
    .ifPanelName = "Reference Curve",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModPET,
    .allowedOptimization = methodBit(1),
    .method = 1, .optA = 0, .optB = 0,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs31[] = {
    {"BPnd - binding potential", "", 8},
    {"R1- relative radioligand delivery", "min", 8},
    {"t-star - equilibration time", "sec", 1},
    {"max relative error", "", 1},
    {"residual over average signal", "", 1},
};
constexpr FreeParmSpec kFreeParms31[] = {
    {"Start (min)", 0},
    {"End   (min)", 600},
    {"Max Err %", 10},
    {"Background threshold", 3},
    {"k2' (1/min)", 0.022},
};
KIN_PENDING_MODEL const ModelSpec kModel31 = {
    .type = 31,
    .name = "31. Ichise MRTM2 with fixed k2'",
    .outputs = kOutputs31,
    .freeParms = kFreeParms31,
    .numIfuncs = 1,
    .ifPanelName = "Reference Curve",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModPET,
    .allowedOptimization = methodBit(1),
    .method = 1, .optA = 0, .optB = 0,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs32[] = {
    {"K1", "1/min", 1},
    {"k2", "1/min", 1},
    {"k3", "1/min", 1},
    {"k4", "1/min", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms32[] = {
    {"K1 max (1/min)", 100},
    {"k2 max (1/min)", 100},
    {"k3 max (1/min)", 100},
    {"k4 max (1/min)", 100},
};
KIN_PENDING_MODEL const ModelSpec kModel32 = {
    .type = 32,
    .name = "32. FDG  2-Tissue Compartment Models {K1,k2,k3,k4}",
    .outputs = kOutputs32,
    .freeParms = kFreeParms32,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModPET,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 7, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs33[] = {
    {"K1", "1/min", 1},
    {"k2", "1/min", 1},
    {"k3", "1/min", 1},
    {"Ki", "", 1},
    {"Ta - arterial delay", "sec", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms33[] = {
    {"K1 min (1/min)", 0.001},
    {"K1 max (1/min)", 1.5},
    {"k2 min (1/min)", 0.001},
    {"k2 max (1/min)", 1},
    {"k3 min (1/min)", 0.001},
    {"k3 max (1/min)", 1},
    {"blood volume", 0.045},
    {"Min Arterial delay (sec)", 0},
    {"Max Arterial delay (sec)", 0},
    {"Arterial delay precision (sec)", 0.1},
    {"Use L1\\L2 residual metric {1,2}", 2},
};
KIN_PENDING_MODEL const ModelSpec kModel33 = {
    .type = 33,
    .name = "33. Two-compartment model short formula (Sokoloff'79)",
    .outputs = kOutputs33,
    .freeParms = kFreeParms33,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModPET,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 5, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = true,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs34[] = {
    {"K1", "1/min", 1},
    {"k2", "1/min", 1},
    {"k3", "1/min", 1},
    {"Ta - arterial delay", "sec", 1},
    {"residual", "", 1},
};
constexpr FreeParmSpec kFreeParms34[] = {
    {"K1 min (1/min)", 0.001},
    {"K1 max (1/min)", 1.5},
    {"k2 min (1/min)", 0.001},
    {"k2 max (1/min)", 1},
    {"k3 min (1/min)", 0.001},
    {"k3 max (1/min)", 1},
    {"blood volume", 0.045},
    {"Max Arterial delay (sec)", 0},
    {"Use L1\\L2 residual metric {1,2}", 2},
};
KIN_PENDING_MODEL const ModelSpec kModel34 = {
    .type = 34,
    .name = "34. Two-compartment model long formula (Reivich'85)",
    .outputs = kOutputs34,
    .freeParms = kFreeParms34,
    .numIfuncs = 1,
    .ifPanelName = "Input function",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModPET,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 5, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs35[] = {
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
constexpr FreeParmSpec kFreeParms35[] = {
    {"Flow max [0.01,500]", 250},
    {"fa min   [0,1]", 0.05},
    {"fa max   [0,1]", 0.9},
    {"Max Arterial delay (sec)", 0},
    {"Max Venous delay (sec)", 0},
    {"Arterial arrives first", 0},
    {"Use L1\\L2 metric", 2},
};
KIN_PENDING_MODEL const ModelSpec kModel35 = {
    .type = 35,
    .name = "",
    .outputs = kOutputs35,
    .freeParms = kFreeParms35,
    .numIfuncs = 2,
    .ifPanelName = "Dual Compartment Dual Input ",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 3, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs36[] = {
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
constexpr FreeParmSpec kFreeParms36[] = {
    {"Flow max [0.01,500]", 200},
    {"fa min   [0,1]", 0.05},
    {"fa max   [0,1]", 0.9},
    {"Max Venous arrival relative to arterial (sec)", 0},
};
KIN_PENDING_MODEL const ModelSpec kModel36 = {
    .type = 36,
    .name = "",
    .outputs = kOutputs36,
    .freeParms = kFreeParms36,
    .numIfuncs = 2,
    .ifPanelName = "Two Input functions",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 5, .optB = 1000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs37[] = {
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
constexpr FreeParmSpec kFreeParms37[] = {
    {"fa min   [0,1]", 0.05},
    {"fa max   [0,1]", 0.9},
    {"Max Venous arrival relative to arterial (sec)", 0},
};
KIN_PENDING_MODEL const ModelSpec kModel37 = {
    .type = 37,
    .name = "",
    .outputs = kOutputs37,
    .freeParms = kFreeParms37,
    .numIfuncs = 2,
    .ifPanelName = "Two Input functions",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 1, .optB = 500,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs38[] = {
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
constexpr FreeParmSpec kFreeParms38[] = {
    {"Flow max [1,150]", 150},
    {"fa min   [0,1]", 0.05},
    {"fa max   [0,1]", 0.9},
    {"Ki max   [0.01,50]", 0},
    {"Max Arterial delay (sec)", 15},
    {"Max Venous delay (sec", 0},
    {"Analysis length (sec)", 1},
    {"Concentration linear=1\\log=0", 0},
};
KIN_PENDING_MODEL const ModelSpec kModel38 = {
    .type = 38,
    .name = "",
    .outputs = kOutputs38,
    .freeParms = kFreeParms38,
    .numIfuncs = 2,
    .ifPanelName = "Two Input functions",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 5, .optB = 1000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs39[] = {
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
constexpr FreeParmSpec kFreeParms39[] = {
    {"Flow max [0.01,100]", 100},
    {"MonoTail start (sec)", 100},
    {"Max Arterial delay (sec)", 15},
    {"Max Venous delay (sec", 0},
    {"Arterial arrives first", 0},
    {"Use L1\\L2 metric", 2},
};
KIN_PENDING_MODEL const ModelSpec kModel39 = {
    .type = 39,
    .name = "",
    .outputs = kOutputs39,
    .freeParms = kFreeParms39,
    .numIfuncs = 2,
    .ifPanelName = "Two Input functions",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 3, .optB = 2000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

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
KIN_PENDING_MODEL const ModelSpec kModel40 = {
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
    .ops = kNotYetWritten,
};

constexpr OutputSpec kOutputs41[] = {
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
constexpr FreeParmSpec kFreeParms41[] = {
    {"Flow max", 200},
    {"fa min   [0,1]", 0.05},
    {"fa max   [0,1]", 0.9},
    {"Ki max", 100},
    {"Max Arterial delay (sec)", 5},
    {"Max Venous delay (sec", 0},
    {"Analysis length (sec)", 400},
    {"Use L1\\L2 residual metric", 2},
};
KIN_PENDING_MODEL const ModelSpec kModel41 = {
    .type = 41,
    .name = "",
    .outputs = kOutputs41,
    .freeParms = kFreeParms41,
    .numIfuncs = 2,
    .ifPanelName = "Two Input functions",
    .allowedConcConv = kConvAll,
    .allowedDynDim = kAxisTime,
    .allowedModality = kModMR,
    .allowedOptimization = methodBit(3),
    .method = 3, .optA = 5, .optB = 1000,
    .preprocessTasks = {0, 0},
    .extrapolate = false,
    .ops = kNotYetWritten,
};

}  // namespace kin
