#pragma once
// The frame that every model of the plug-in plugs into: the catalogue record of a model (its
// metadata and its operations), the acquisition profiles and settings that the host hands over,
// the per-call work record of one curve and the writer of requested outputs.
//
// A model lives in one source file (models/ModelNN_Name.cpp) that defines its ModelSpec: display
// name, outputs, free parameters, masks, initial optimisation and its operations. The fit loop,
// the 1e60 rules and the export functions live once, in Exports.cpp; ModelTable.cpp lists the
// models by type.
//
// Writing a model:
//   - Its file defines kModelNN (declared in ModelTable.h) with its operations Mnn_ModelInit,
//     Mnn_ComputeParms and, when init keeps arrays, Mnn_ModelClose.
//   - Init reads the free parameters (freeParm), the optimisation choice (optimisation) and the
//     profiles (acquisition), checks them, and keeps what it prepares in the file's statics. A failed
//     check shows one box through showNamedMessage(L"Mnn_ModelInit", message) and returns false;
//     the frame then calls close. Init may assume: 1 <= n <= kMaxPoints, and when the catalogue
//     entry has input functions, ifuncs points to that many records whose counts lie in 0..kMaxPoints.
//   - Compute is called only between a successful init and close, with a curve of n values none of
//     which is 1e60. It writes each output through call.out->put (skipped when not requested) and
//     the model curve into call.fitCurve when that is not null; false means failure, and the frame
//     then writes 1e60 into every requested record and the whole fitted curve.
//   - Messages that a curve raises go through curveMessage (shown once per map, at close), never
//     through a box of their own. Formulas that need the runtime's random numbers use twk::msRand.
//
// Threading: a model's init and close run on the host's thread and may change the model's statics.
// Its compute must treat everything but the CurveCall as read-only, because the host may compute
// many curves at once; per-curve working data lives in the compute's locals and reaches cost
// callbacks through their context pointer.

#include <span>

#include "KinmodelsApi.h"
#include "TwkTypes.h"

namespace kin {

constexpr int kNumModels = 58;
constexpr int kMaxPoints = DIDU_MAX_POINTS;
constexpr int kNumOutputFlags = 12;

// Bits of the allowed dynamic axes.
enum : int {
  kAxisTime = 1 << DYN_TIME,
  kAxisInversionTime = 1 << DYN_INVERSION_TIME,
  kAxisEchoTime = 1 << DYN_ECHO_TIME,
  kAxisBValue = 1 << DYN_BVALUE,
  kAxisFlipAngle = 1 << DYN_FLIP_ANGLE,
  kAxisSpinLockTime = 1 << DYN_SPINLOCK_TIME,
  kAxisAny = 63,
};
// Bits of the allowed modalities.
enum : int { kModCT = 1, kModMR = 2, kModPET = 4, kModUS = 8, kModAll = 15 };
// Bits of the allowed concentration conversions: all nine, or only the identity (fits on the signal).
enum : int { kConvAll = 511, kConvSignalOnly = 1 };
constexpr int methodBit(int method) { return 1 << method; }

struct OutputSpec {
  const char* name;
  const char* units;  // "" when the output has no unit
  int colourScheme;   // index into the host's colour-scheme list
};

struct FreeParmSpec {
  const char* name;
  double defaultValue;
};

class OutputWriter;

// Everything one call of DIDU_ComputeParmArray hands to a model's compute.
struct CurveCall {
  int n = 0;                                // number of dynamic points
  const double* curve = nullptr;            // the curve to fit (n values, none of them 1e60)
  const double* const* curves = nullptr;    // the curve and its neighbours (vicinity models); the
  int numCurves = 0;                        // neighbours are not null but may hold 1e60
  double* fitCurve = nullptr;               // null, or n values preset to 1e60
  const OutputWriter* out = nullptr;
  const double* extra = nullptr;            // wanted dynamic values (extrapolating models only)
  int numExtra = 0;
};

struct ModelOps {
  // Validates the acquisition for the model and prepares its read-only tables; shows its own
  // message on failure. Null: nothing to prepare.
  bool (*init)(const INPUTFUNC* ifuncs) = nullptr;
  // Fits one curve and writes the requested outputs; false makes the frame write the failure value.
  // Null: the model is not computed (every requested output reads 1e60).
  bool (*compute)(const CurveCall& call) = nullptr;
  // Releases what init prepared; must be harmless when called twice or without init.
  void (*close)() = nullptr;
  void (*autoTest)() = nullptr;
};

struct ModelSpec {
  int type;
  const char* name;                       // display name; "" for models chosen by type only
  std::span<const OutputSpec> outputs;    // at most 11
  std::span<const FreeParmSpec> freeParms;  // at most 11
  int numIfuncs;
  const char* ifPanelName;
  int allowedConcConv;
  int allowedDynDim;
  int allowedModality;
  int allowedOptimization;
  int method, optA, optB;                 // initial optimisation choice
  int preprocessTasks[2];
  bool extrapolate;
  ModelOps ops;
};

// The catalogue record of a type, or null for 55, 56 and anything outside 0..57.
const ModelSpec* modelSpec(long long type);

// --- per-model settings chosen by the host (read-only while curves are computed) ---
struct Optimisation {
  int method = 0;
  int optA = 0;
  int optB = 0;
};
const double* freeParms(int type);   // current values, null for a type without free parameters
double freeParm(int type, int index);
Optimisation optimisation(int type);
// For the exports that change them (host thread only).
double* mutableFreeParms(int type);
void setOptimisation(int type, const Optimisation& choice);

// --- acquisition profiles and settings (read-only while curves are computed) ---
struct Acquisition {
  int n = 0;  // number of dynamic points as the host set it (may exceed kMaxPoints; init refuses that)
  double time[kMaxPoints] = {};            // seconds
  double echoTime[kMaxPoints] = {};
  double bValue[kMaxPoints] = {};
  double flipAngle[kMaxPoints] = {};       // radians
  double repetitionTime[kMaxPoints] = {};
  double spinLockTime[kMaxPoints] = {};
  double inversionTime[kMaxPoints] = {};
  double tr = 0;
  double noiseLevel = 0;
  int calcMode = 0;                        // 3: a single region curve is computed
  const double* globalTac = nullptr;       // host-owned, n values
  DIDU_SigToConcFunc sigToConc = nullptr;
  DIDU_ConcToSigFunc concToSig = nullptr;
};
const Acquisition& acquisition();
Acquisition& mutableAcquisition();  // for the profile exports only

// The calculation mode that shows progress for a single region curve.
constexpr int kCalcModeSingleCurve = 3;

// Concentration of a measured curve through the host's conversion (mode 1), and back (mode 1 unless
// a model asks for another). When the host has not installed the conversion the curve fails, and the
// map reports it once at its close.
bool SignalToConcentration(const double* signal, int n, double* conc, void* info = nullptr);
bool ConcentrationToSignal(const double* conc, int n, double* signal, const void* info = nullptr, int mode = 1);

// Writes requested outputs into the host's packed records. Outputs not requested are skipped.
class OutputWriter {
 public:
  OutputWriter(DEMPOUT* records, const int* flags, int numOutputs);
  bool requested(int index) const { return index >= 0 && index < kNumOutputFlags && slot_[index] >= 0; }
  int count() const { return count_; }
  // value with an interval; the interval defaults to "none" (1e60, 1e60).
  void put(int index, double value, double low = VOID_VALUE, double high = VOID_VALUE) const;
  // The failure value: 1e60 in value, aux1 and aux2 of every requested record.
  void fail() const;

 private:
  DEMPOUT* records_;
  int slot_[kNumOutputFlags];
  int count_ = 0;
};

}  // namespace kin
