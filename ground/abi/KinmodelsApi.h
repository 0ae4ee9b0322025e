#pragma once
// The exported interface of the Kinmodels plug-in: a catalogue of 58 kinetic and signal models
// (types 0..57) that turn the curves of dynamic experiments into parametric-map outputs.
//
// The host loads the library with dlopen and resolves every DIDU_* function by name; all exports
// have C linkage and plain types. Calling order of one model cycle:
//   catalogue and metadata -> model choice, free parameters, optimisation, requested outputs ->
//   acquisition profiles and settings -> DIDU_ModelInit -> DIDU_ComputeParmArray per curve ->
//   DIDU_ModelClose.
// Between a successful DIDU_ModelInit and DIDU_ModelClose, DIDU_ComputeParmArray may be called from
// many threads at once, provided nothing else of the plug-in is changed meanwhile; the outputs are
// the same as those of sequential calls. Everything else is called from one thread.
//
// Units: times in seconds; rate constants reported per minute, flows per unit volume in
// ml/min/100ml; flip angles are handed over in degrees and kept in radians.
// The value 1e60 means "no value" in curves, outputs and fitted curves.

#include <cstdint>

#define DIDU_EXPORT extern "C" __attribute__((visibility("default")))

// The largest number of dynamic points of a curve, a profile or an input function.
constexpr int DIDU_MAX_POINTS = 20000;

#ifndef TWK_INPUTFUNC_DEFINED
#define TWK_INPUTFUNC_DEFINED
// An input-function curve. The layout follows the fields: 20000 values, then 20000 times (seconds,
// the first 0), then the number of points; several records follow one another as an ordinary C
// array (stride sizeof(INPUTFUNC) = 320008 bytes on 64-bit Linux, the count padded to 8 bytes).
struct INPUTFUNC {
  double values[DIDU_MAX_POINTS];
  double times[DIDU_MAX_POINTS];
  int32_t count;
};
#endif

// One requested output of a curve: the value, a lower and an upper bound where the model reports
// an interval (else 1e60), and a spare double that the plug-in never writes. The host passes one
// record per requested output, in output order, without gaps for outputs not requested.
struct DEMPOUT {
  double value;
  double aux1;
  double aux2;
  double spare;
};

// The host's conversions between measured signal and concentration; the plug-in passes mode 1,
// except for the curve bounds of the global Tofts fit's boxes (type 57), which go back to signal in
// mode 2. info is null or a record of three doubles that SigToConc fills for the same curve and
// that ConcToSig reads back. Both may be called from several threads at once during a map.
typedef void (*DIDU_SigToConcFunc)(const double* signal, int64_t n, double* conc, int64_t mode, void* info);
typedef void (*DIDU_ConcToSigFunc)(const double* conc, int64_t n, double* signal, int64_t mode, const void* info);

// The host's user interface for the plug-in's message boxes and yes/no questions. messageBox gets
// the text, the caption and the MB_* type and returns IDOK, IDYES, IDNO, ... It is called only from
// the thread that calls DIDU_ModelInit and DIDU_ModelClose: messages that curves raise during a map
// are collected and shown once each when the cycle closes.
struct DIDU_CALLBACKS {
  void* user;
  int (*messageBox)(void* user, const wchar_t* text, const wchar_t* caption, unsigned type);
};

// --- catalogue and selection ---
DIDU_EXPORT const char* DIDU_GetDomainName();
DIDU_EXPORT int DIDU_GetNumModels();
DIDU_EXPORT const char* DIDU_GetModelName(unsigned type);
DIDU_EXPORT void DIDU_SetCurrentModel(int type);
DIDU_EXPORT int DIDU_GetCurrentModel();
DIDU_EXPORT int DIDU_SetCurrentModelByName(const wchar_t* text);

// --- per-model metadata (an unknown type or an index out of range gives null, 0 or an empty mask) ---
DIDU_EXPORT int DIDU_GetNumOutParms(unsigned type);
DIDU_EXPORT const char* DIDU_GetOutParmName(unsigned type, int index);
DIDU_EXPORT const char* DIDU_GetOutParmUnits(unsigned type, int index);
DIDU_EXPORT int DIDU_GetDefaultClrScheme(unsigned type, int index);
DIDU_EXPORT int DIDU_GetNumFreeParms(unsigned type);
DIDU_EXPORT const char* DIDU_GetFreeParmName(unsigned type, int index);
DIDU_EXPORT const double* DIDU_DefaultFreeParms(int type);
DIDU_EXPORT const double* DIDU_SetFreeParms(int type, const double* values);
DIDU_EXPORT const double* DIDU_GetFreeParms(int type, double* dst);
DIDU_EXPORT int DIDU_GetNumIfuncs(unsigned type);
DIDU_EXPORT const char* DIDU_GetIFpanelName(unsigned type);
DIDU_EXPORT int DIDU_GetAllowedConcConv(unsigned type);
DIDU_EXPORT int DIDU_GetAllowedDynDim(unsigned type);
DIDU_EXPORT int DIDU_GetAllowedModality(unsigned type);
DIDU_EXPORT int DIDU_GetAllowedOptimization(unsigned type);
DIDU_EXPORT void DIDU_SetCurrentOptimization(unsigned type, int method, int optA, int optB);
DIDU_EXPORT int DIDU_GetCurrentOptimization(unsigned type, int* optA, int* optB);
DIDU_EXPORT void DIDU_GetPreprocessTasks(unsigned type, int* tasks);
DIDU_EXPORT bool DIDU_ExtrapolateEnabled(int type);
DIDU_EXPORT int DIDU_GetCalcVicRad(int type);
// Always false: no model offers a separate fitted-curve output; fitted curves come back through
// DIDU_ComputeParmArray.
DIDU_EXPORT bool DIDU_ModelOutputFitCurve();

// --- requested outputs (12 flags) ---
DIDU_EXPORT void DIDU_SetParmReq(const int* flags, int n);
DIDU_EXPORT void DIDU_GetParmReq(int* dst, int n);

// --- acquisition profiles and settings ---
DIDU_EXPORT void DIDU_DefineTimeProfile(const double* seconds, int n);
DIDU_EXPORT void DIDU_DefineEchoTmsProfile(const double* values, int n);
DIDU_EXPORT void DIDU_DefineBfactorProfile(const double* values, int n);
DIDU_EXPORT void DIDU_DefineFlipAngleProfile(const double* degrees, int n);
DIDU_EXPORT void DIDU_DefineRepetitionTimeProfile(const double* values, int n);
DIDU_EXPORT void DIDU_DefineTSLProfile(const double* values, int n);
DIDU_EXPORT void DIDU_DefineInvTmsProfile(const double* values, int n);
DIDU_EXPORT void DIDU_SetTR(double tr);
DIDU_EXPORT void DIDU_SetNoiseLev(double level);
// Does nothing: flip angles reach the models through DIDU_DefineFlipAngleProfile.
DIDU_EXPORT void DIDU_SetFlipAngle();
DIDU_EXPORT void DIDU_SetGlobalTac(double* curve);
DIDU_EXPORT void DIDU_SetTissue_SigToConc(DIDU_SigToConcFunc callback);
DIDU_EXPORT void DIDU_SetTissue_ConcToSig(DIDU_ConcToSigFunc callback);
DIDU_EXPORT void DIDU_SetCalcMode(int mode);
// Installs the host's message callbacks; null restores the default (the program's UI interface).
DIDU_EXPORT void DIDU_SetCallbacks(const DIDU_CALLBACKS* callbacks);

// --- the computation cycle ---
DIDU_EXPORT bool DIDU_ModelInit(int type, const INPUTFUNC* ifuncs, void* reserved, void** work);
DIDU_EXPORT void DIDU_ComputeParmArray(int type, const double* const* curves, int nCurves, double* fitCurve,
                                       DEMPOUT* out, double* extra, int nExtra);
DIDU_EXPORT void DIDU_ModelClose(unsigned type);
DIDU_EXPORT void DIDU_ModelAutoTest(int type);
