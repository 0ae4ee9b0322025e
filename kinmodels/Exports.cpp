// The DIDU_* exports: catalogue and metadata, the host's settings and the computation cycle.
// Every index and count that the host passes is checked here, so that no model and no getter
// reads outside its tables: an unknown type or index gives null, 0 or the failure value.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <climits>
#include <cstring>
#include <cwchar>
#include <numbers>

#include "KinmodelsApi.h"
#include "Messages.h"
#include "ModelFrame.h"

using namespace kin;

namespace {

std::atomic<int> currentModel{0};
int requestedOutputs[kNumOutputFlags] = {};

// Types whose init succeeded and whose close has not run yet: only they are computed, and only
// while the number of dynamic points is the one their init prepared for.
std::atomic<bool> initialised[kNumModels] = {};
std::atomic<int> initialisedPoints[kNumModels] = {};

const ModelSpec* specOf(long long type) { return modelSpec(type); }

const OutputSpec* outputOf(unsigned type, int index) {
  const ModelSpec* entry = specOf(type);
  if (!entry || index < 0 || index >= int(entry->outputs.size())) return nullptr;
  return &entry->outputs[index];
}

const FreeParmSpec* freeParmOf(unsigned type, int index) {
  const ModelSpec* entry = specOf(type);
  if (!entry || index < 0 || index >= int(entry->freeParms.size())) return nullptr;
  return &entry->freeParms[index];
}

void copyProfile(double* profile, const double* values, int n, double scale = 1.0) {
  if (!values || n <= 0) return;
  const int count = std::min(n, kMaxPoints);
  for (int i = 0; i < count; ++i) profile[i] = values[i] * scale;
}

bool inputFunctionsUsable(const ModelSpec& entry, const INPUTFUNC* ifuncs) {
  if (entry.numIfuncs == 0) return true;
  if (!ifuncs) return false;
  for (int i = 0; i < entry.numIfuncs; ++i)
    if (ifuncs[i].count < 0 || ifuncs[i].count > kMaxPoints) return false;
  return true;
}

}  // namespace

// --- catalogue and selection ---

const char* DIDU_GetDomainName() { return "Dynamic experiment framework"; }

int DIDU_GetNumModels() { return kNumModels; }

const char* DIDU_GetModelName(unsigned type) {
  const ModelSpec* entry = specOf(type);
  return entry ? entry->name : nullptr;
}

void DIDU_SetCurrentModel(int type) { currentModel = type; }

int DIDU_GetCurrentModel() { return currentModel; }

int DIDU_SetCurrentModelByName(const wchar_t* text) {
  if (!text) return 0;
  for (int type = 0; type < kNumModels; ++type) {
    const ModelSpec* entry = specOf(type);
    if (!entry || !entry->name[0]) continue;
    const CString name(entry->name);
    if (std::wcsstr(text, name.GetString())) {
      currentModel = type;
      return 1;
    }
  }
  return 0;
}

// --- per-model metadata ---

int DIDU_GetNumOutParms(unsigned type) {
  const ModelSpec* entry = specOf(type);
  return entry ? int(entry->outputs.size()) : 0;
}

const char* DIDU_GetOutParmName(unsigned type, int index) {
  const OutputSpec* output = outputOf(type, index);
  return output ? output->name : nullptr;
}

const char* DIDU_GetOutParmUnits(unsigned type, int index) {
  const OutputSpec* output = outputOf(type, index);
  return output ? output->units : nullptr;
}

int DIDU_GetDefaultClrScheme(unsigned type, int index) {
  const OutputSpec* output = outputOf(type, index);
  return output ? output->colourScheme : 0;
}

int DIDU_GetNumFreeParms(unsigned type) {
  const ModelSpec* entry = specOf(type);
  return entry ? int(entry->freeParms.size()) : 0;
}

const char* DIDU_GetFreeParmName(unsigned type, int index) {
  const FreeParmSpec* parm = freeParmOf(type, index);
  return parm ? parm->name : nullptr;
}

const double* DIDU_DefaultFreeParms(int type) {
  double* values = mutableFreeParms(type);
  if (!values) return nullptr;
  const ModelSpec* entry = specOf(type);
  for (size_t i = 0; i < entry->freeParms.size(); ++i) values[i] = entry->freeParms[i].defaultValue;
  return values;
}

const double* DIDU_SetFreeParms(int type, const double* values) {
  double* current = mutableFreeParms(type);
  if (!current) return nullptr;
  if (values) std::copy_n(values, specOf(type)->freeParms.size(), current);
  return current;
}

const double* DIDU_GetFreeParms(int type, double* dst) {
  const double* current = freeParms(type);
  if (!current || !dst) return nullptr;
  std::copy_n(current, specOf(type)->freeParms.size(), dst);
  return dst;
}

int DIDU_GetNumIfuncs(unsigned type) {
  const ModelSpec* entry = specOf(type);
  return entry ? entry->numIfuncs : 0;
}

const char* DIDU_GetIFpanelName(unsigned type) {
  const ModelSpec* entry = specOf(type);
  return entry ? entry->ifPanelName : nullptr;
}

int DIDU_GetAllowedConcConv(unsigned type) {
  const ModelSpec* entry = specOf(type);
  return entry ? entry->allowedConcConv : 0;
}

int DIDU_GetAllowedDynDim(unsigned type) {
  const ModelSpec* entry = specOf(type);
  return entry ? entry->allowedDynDim : 0;
}

int DIDU_GetAllowedModality(unsigned type) {
  const ModelSpec* entry = specOf(type);
  return entry ? entry->allowedModality : 0;
}

int DIDU_GetAllowedOptimization(unsigned type) {
  const ModelSpec* entry = specOf(type);
  return entry ? entry->allowedOptimization : 0;
}

void DIDU_SetCurrentOptimization(unsigned type, int method, int optA, int optB) {
  setOptimisation(int(std::min<unsigned>(type, INT_MAX)), {method, optA, optB});
}

int DIDU_GetCurrentOptimization(unsigned type, int* optA, int* optB) {
  const Optimisation choice = optimisation(int(std::min<unsigned>(type, INT_MAX)));
  if (optA) *optA = choice.optA;
  if (optB) *optB = choice.optB;
  return choice.method;
}

void DIDU_GetPreprocessTasks(unsigned type, int* tasks) {
  if (!tasks) return;
  const ModelSpec* entry = specOf(type);
  tasks[0] = entry ? entry->preprocessTasks[0] : 0;
  tasks[1] = entry ? entry->preprocessTasks[1] : 0;
}

bool DIDU_ExtrapolateEnabled(int type) {
  const ModelSpec* entry = specOf(type);
  return entry && entry->extrapolate;
}

int DIDU_GetCalcVicRad(int type) {
  const ModelSpec* entry = specOf(type);
  if (!entry) return 0;
  for (size_t i = 0; i < entry->freeParms.size(); ++i) {
    if (!std::strstr(entry->freeParms[i].name, "Vicinity Rad")) continue;
    const double radius = freeParm(type, int(i));
    // Truncated toward zero; a value beyond the int range is no radius at all.
    if (!(std::fabs(radius) < double(INT_MAX))) return 0;
    return int(radius);
  }
  return 0;
}

bool DIDU_ModelOutputFitCurve() { return false; }

// --- requested outputs ---

void DIDU_SetParmReq(const int* flags, int n) {
  std::fill(std::begin(requestedOutputs), std::end(requestedOutputs), 0);
  if (!flags || n <= 0) return;
  std::copy_n(flags, std::min(n, kNumOutputFlags), requestedOutputs);
}

void DIDU_GetParmReq(int* dst, int n) {
  if (!dst || n <= 0) return;
  std::fill_n(dst, n, 0);
  std::copy_n(requestedOutputs, std::min(n, kNumOutputFlags), dst);
}

// --- acquisition profiles and settings ---

void DIDU_DefineTimeProfile(const double* seconds, int n) {
  if (!seconds) return;
  // A count above the buffer is kept so that DIDU_ModelInit can refuse it; only the buffer is copied.
  mutableAcquisition().n = std::max(n, 0);
  copyProfile(mutableAcquisition().time, seconds, n);
}

void DIDU_DefineEchoTmsProfile(const double* values, int n) { copyProfile(mutableAcquisition().echoTime, values, n); }
void DIDU_DefineBfactorProfile(const double* values, int n) { copyProfile(mutableAcquisition().bValue, values, n); }
void DIDU_DefineRepetitionTimeProfile(const double* values, int n) {
  copyProfile(mutableAcquisition().repetitionTime, values, n);
}
void DIDU_DefineTSLProfile(const double* values, int n) { copyProfile(mutableAcquisition().spinLockTime, values, n); }
void DIDU_DefineInvTmsProfile(const double* values, int n) {
  copyProfile(mutableAcquisition().inversionTime, values, n);
}
void DIDU_DefineFlipAngleProfile(const double* degrees, int n) {
  copyProfile(mutableAcquisition().flipAngle, degrees, n, std::numbers::pi / 180.0);
}

void DIDU_SetTR(double tr) { mutableAcquisition().tr = tr; }
void DIDU_SetNoiseLev(double level) { mutableAcquisition().noiseLevel = level; }
void DIDU_SetFlipAngle() {}
void DIDU_SetGlobalTac(double* curve) { mutableAcquisition().globalTac = curve; }
void DIDU_SetTissue_SigToConc(DIDU_SigToConcFunc callback) { mutableAcquisition().sigToConc = callback; }
void DIDU_SetTissue_ConcToSig(DIDU_ConcToSigFunc callback) { mutableAcquisition().concToSig = callback; }
void DIDU_SetCalcMode(int mode) { mutableAcquisition().calcMode = mode; }
void DIDU_SetCallbacks(const DIDU_CALLBACKS* callbacks) { setCallbacks(callbacks); }

// --- the computation cycle ---

bool DIDU_ModelInit(int type, const INPUTFUNC* ifuncs, void* /*reserved*/, void** work) {
  if (work) *work = nullptr;
  flushCurveMessages();
  const int n = acquisition().n;
  if (n > kMaxPoints) {
    messageBox(L"Number of time points exceeds maximum", MB_OK);
    return false;
  }
  const ModelSpec* entry = specOf(type);
  if (!entry || n < 1) return false;
  if (!inputFunctionsUsable(*entry, ifuncs)) {
    showNamedMessage(L"DIDU_ModelInit", L"Input functions is missing or incorrect");
    return false;
  }
  // A new init replaces the tables of an earlier one that was not closed.
  initialised[type] = false;
  if (entry->ops.close) entry->ops.close();
  if (entry->ops.init && !entry->ops.init(ifuncs)) {
    if (entry->ops.close) entry->ops.close();
    return false;
  }
  initialisedPoints[type] = n;
  initialised[type] = true;
  return true;
}

void DIDU_ComputeParmArray(int type, const double* const* curves, int nCurves, double* fitCurve, DEMPOUT* out,
                           double* extra, int nExtra) {
  const ModelSpec* entry = specOf(type);
  const OutputWriter writer(out, requestedOutputs, entry ? int(entry->outputs.size()) : 0);
  const int n = acquisition().n;
  // In extrapolation the fitted-curve buffer holds one value per wanted b-value (or time), which
  // may be fewer than the points of the curve: the buffer is only ever filled to its own length.
  const bool extrapolating = entry && entry->extrapolate && extra && nExtra > 0;
  const int fitLength = extrapolating ? nExtra : n;
  if (fitCurve && fitLength > 0) std::fill_n(fitCurve, fitLength, VOID_VALUE);

  bool computable = entry && initialised[type] && initialisedPoints[type] == n && curves && curves[0];
  if (computable) computable = std::find(curves[0], curves[0] + n, VOID_VALUE) == curves[0] + n;

  bool ok = false;
  if (computable && entry->ops.compute) {
    CurveCall call;
    call.n = n;
    call.curve = curves[0];
    call.curves = curves;
    // Neighbour curves up to the first missing one.
    call.numCurves = 1;
    while (call.numCurves < nCurves && curves[call.numCurves]) ++call.numCurves;
    call.fitCurve = fitCurve;
    call.out = &writer;
    if (extrapolating) {
      call.extra = extra;
      call.numExtra = nExtra;
    }
    ok = entry->ops.compute(call);
  }
  if (!ok) {
    writer.fail();
    if (fitCurve && fitLength > 0) std::fill_n(fitCurve, fitLength, VOID_VALUE);
  }
}

void DIDU_ModelClose(unsigned type) {
  const ModelSpec* entry = specOf(type);
  if (entry) {
    initialised[type] = false;
    if (entry->ops.close) entry->ops.close();
  }
  flushCurveMessages();
}

void DIDU_ModelAutoTest(int type) {
  const ModelSpec* entry = specOf(type);
  if (entry && entry->ops.autoTest) entry->ops.autoTest();
}
