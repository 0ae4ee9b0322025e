#pragma once
// CDynExp: the imaging core's host of the kinetic-model plug-in (Kinmodels). The application owns
// one; every model choice, free parameter, requested output, optimisation, input function and
// concentration-conversion record of the dynamic-experiment dialogs lives in it until the program
// exits, and documents save and restore it as their dynamic-experiment block.
//
// The plug-in is bound by LoadDomain (dlopen by path) and released by the destructor. Until then
// the host is "not loaded": it keeps and saves its settings, and has no models. The host holds the
// settings itself and hands each change to the plug-in, whose own state is process-wide; on
// LoadDomain it takes over the plug-in's settings (the catalogue's defaults on a first load).
//
// Copies are deep: settings, curves and texts are copied, and a copy of a loaded host opens the
// plug-in again for itself, so that both can be destroyed in any order.
//
// The dynamic-experiment block (Write / Load), little-endian, no padding:
//   offset  size  field
//   0       8     magic "TWKDYNEX"
//   8       4     uint32 format version (1)
//   12      8     uint64 payload length L (bytes that follow)
//   20      L     payload:
//     byte     1 when the document had a layer with more than one time point at saving (kept
//              for information; the payload is the same either way)
//     int32    current model
//     int32    R, number of requested-output flags (0..12), then R x int32 flags
//     int32    M, number of models (0..1024), then per model:
//              int32 F free parameters (0..12), F x double, int32 optimisation, int32 grid,
//              int32 iterations
//     80 bytes tissue VA_CONCCONV, 80 bytes input-function VA_CONCCONV, 128 bytes blood
//              VA_TISSUEATTRIB, each as packed below
//     int32    S, number of input-function slots (0..4), then per slot: uint32 byte count B
//              (even, at most 2048) and B bytes of UTF-16LE name; int32 N points (0..20000);
//              N x double times; N x double values
//   The payload must be used up exactly. Every count is checked against its range and against the
//   bytes left before anything is taken, so a damaged block is refused without large allocations.
//   Points of an input function beyond its count are not stored (they read back as 0); the output
//   texts (outPath, outName, outUnits) are refilled by every calculation and are not stored.
// Documents of every version carry this block: the loaders named after older document versions
// read it the same way, as their own blocks have no format of their own.

#include <cstdint>
#include <cstdio>
#include <vector>

#include "CString.h"
#include "TwkTypes.h"

struct MFILE;
struct FRAME;
class CVol;

constexpr int INPUTFUNC_MAX_POINTS = 20000;
constexpr int DYNEXP_NUM_INPUTFUNCS = 4;
constexpr int DYNEXP_NUM_OUTPUTS = 12;      // requested-output flags and output texts
constexpr int DYNEXP_MAX_FREE_PARMS = 12;   // free parameters kept per model
constexpr int DYNEXP_MAX_MODELS = 1024;     // models a block may carry

#ifndef TWK_INPUTFUNC_DEFINED
#define TWK_INPUTFUNC_DEFINED
// An input-function curve: values, then times (seconds, the first 0), then the number of points.
// The layout is shared with the model plug-in, which reads arrays of these records.
struct INPUTFUNC {
  double values[20000];
  double times[20000];
  int32_t count;
};
#endif
static_assert(sizeof(INPUTFUNC{}.values) / sizeof(double) == INPUTFUNC_MAX_POINTS, "input-function capacity");

#pragma pack(push, 4)
// Signal-to-concentration conversion settings (80 bytes); the method is a CONCTYPE 0..8.
struct VA_CONCCONV {
  uint32_t method = 0;
  double hct = 0;               // haematocrit, 0..1
  double flipAngle = 0;         // degrees
  double tr = 0;                // seconds
  double te = 0;                // seconds
  double r1 = 0;                // relaxivity, 1/(mM*s)
  double waterFraction = 0;     // tissue water fraction fw
  double lifetime = 0;          // mean intracellular lifetime, seconds
  double relaxationRate = 0;    // intracellular relaxation rate without exchange, 1/s
  int32_t manualBaseline = 0;
  int32_t skipFirst = 0;        // time points left out of the baseline
  int32_t averageNext = 0;      // time points averaged for the baseline
};
#pragma pack(pop)
static_assert(sizeof(VA_CONCCONV) == 80, "VA_CONCCONV is 80 bytes");

// The settings of one model of the catalogue.
struct DYNEXP_MODELSET {
  int32_t numFreeParms = 0;  // 0..DYNEXP_MAX_FREE_PARMS
  double freeParms[DYNEXP_MAX_FREE_PARMS] = {};
  int32_t optimization = 0;  // optimisation method (bit k of the allowed mask: method k)
  int32_t grid = 0;
  int32_t iterations = 0;
};

struct DynExpDomain;  // the opened plug-in and its resolved exports (imaging core)

class CDynExp {
 public:
  CDynExp();
  ~CDynExp();
  CDynExp(const CDynExp& other);
  CDynExp& operator=(const CDynExp& other);

  // --- the plug-in ---
  // Binds the plug-in file. A desktop name ("...\Kinmodels.dll") is also found as its Linux form
  // (".../libKinmodels.so") beside it. A file that cannot be opened, or a missing export ("Loading
  // DLL: unable to locate " + name), is reported and leaves the host not loaded (false); the host
  // keeps its settings either way. A host already loaded releases its plug-in first.
  bool LoadDomain(const wchar_t* path);
  bool IsLoaded() const { return domain_ != nullptr; }
  const CString& DomainPath() const { return domainPath_; }
  // Models of the plug-in's catalogue; 0 when not loaded.
  int GetNumModels() const;

  // --- settings (held by the host, handed to the plug-in when it is loaded) ---
  int GetCurrentModel() const { return currentModel; }
  // False for a model outside the catalogue (any model when not loaded).
  bool SetCurrentModel(int model);
  // Copies the model's free parameters into dst (room for DYNEXP_MAX_FREE_PARMS values); false
  // for a model the host has no settings for.
  bool GetFreeParms(int model, double* dst) const;
  bool SetFreeParms(int model, const double* values);
  // Back to the catalogue's default free parameters of the model; false when not loaded or out of range.
  bool DefaultFreeParms(int model);
  // The model's optimisation method (-1 for a model the host has no settings for).
  int GetCurrentOptimization(int model, int* grid, int* iterations) const;
  bool SetCurrentOptimization(int model, int method, int grid, int iterations);
  // Requested-output flags (n up to DYNEXP_NUM_OUTPUTS; the rest are cleared or left out).
  void SetParmReq(const int* flags, int n);
  void GetParmReq(int* flags, int n) const;
  // Input-function slots holding a curve (a non-empty name).
  int NumberIfuncs() const;
  // Empties every input-function slot.
  bool ClearInputFunctions();

  // --- the plug-in's catalogue (empty texts, 0 or false when not loaded or out of range) ---
  CString GetModelName(int model) const;
  // Selects the model of that name; a name followed by " : <n>IF" (as the model list shows
  // models that take input functions) is accepted. False when no model has the name.
  bool SetCurrentModelByName(const wchar_t* text);
  int GetNumOutParms(int model) const;
  CString GetOutParmName(int model, int index) const;
  CString GetOutParmUnits(int model, int index) const;
  int GetNumFreeParms(int model) const;
  CString GetFreeParmName(int model, int index) const;
  int GetNumRequiredIfuncs(int model) const;
  CString GetIFpanelName(int model) const;
  int GetDefaultClrScheme(int model, int index) const;
  int GetAllowedOptimization(int model) const;  // bit k: optimisation k
  int GetAllowedConcConv(int model) const;      // bit i: conversion method i
  int GetAllowedDynDim(int model) const;        // bit k: dynamic axis kind k (DYNDIM)
  int GetAllowedModality(int model) const;      // bits: 1 CT, 2 MR, 4 PET, 8 US
  bool ExtrapolateEnabled(int model) const;
  // Does the volume suit the model: a 4D volume whose dynamic axis and modality the model takes.
  bool ModelIsAllowed(const CVol* vol, int model) const;
  // Outputs of the current model, and how many of them are requested (0: nothing to compute).
  int NumOutputParms() const;
  int NumReqOutputParms() const;

  // --- input functions ---
  // Loads a curve text file into the first empty slot, named by the file's title (or by a
  // "# name:" line). The format, one point per line:
  //   # name: Aorta            (optional; any other line starting with '#' is a comment)
  //   0        0.0             time in seconds, then the value; separated by spaces, tabs,
  //   1.5      0.25            commas or semicolons; values are read exactly as written
  // Times start at 0 or later and increase strictly; 2..20000 points. A file that cannot be read,
  // breaks these rules, or finds all four slots full is reported and changes nothing (false).
  bool LoadInputFunction(const wchar_t* path);

  // The input-function slots in concentration (the input-function conversion with the blood
  // attributes' T1; a slot that does not convert keeps its values): DYNEXP_NUM_INPUTFUNCS records,
  // empty slots with count 0.
  void GetIfuncConc(INPUTFUNC* dst) const;

  // --- calculations ---
  // Conversions the volume allows (bit i: method i): PET volumes only method 0, CT volumes 0, 2
  // and 7, others every method but 7; the tissue and input-function records are moved into that
  // mask and the current model's. False (reported) without a 4D volume or a loaded plug-in.
  bool VerifyAndChangeDefaultConcConv(const CVol* vol, int* mask);
  // Checks a run of the current model before any fitting: the volume, its dynamic axis and time
  // points, the input functions and their time span, the conversions and the ROIs of mode 2. A
  // problem is reported and gives false.
  bool VerifyProcessing(int mode, const CVol* vol, CVol* const* rois, int count, bool regularised);
  // Fits the model: mode 1 every voxel, mode 2 the voxels inside roi, mode 3 the mean curve of roi
  // (of the whole volume without one). Voxel curves are read from the frame in dynamic order and
  // fitted in parallel; progress is shown and Esc stops the run. Returns a new pf_malloc array of
  // NumReqOutputParms() pf_malloc buffers (free with pf_free_parr), each of width x height x depth
  // values (one value in mode 3); voxels not fitted or whose fit failed hold 1e60. Mode 3 fills
  // fitCurve (T + 1 values: the fitted curve in stored time order; the last value is left as it
  // is) and intervals (NumReqOutputParms() records of value, lower, upper bound and a spare).
  // fitVolume, when given in modes 1 and 2, receives a new real frame of the fitted curves. Null
  // on failure (reported) or when stopped (silent); nothing is left allocated then.
  double** CalculateDynamicExperiment(const CVol* vol, const FRAME* roi, const VA_TISSUEATTRIB* attrib, int model,
                                      int mode, double* fitCurve, double* intervals, FRAME** fitVolume, int flag);

  // Extrapolates the volume along its dynamic axis with a model that allows it: every voxel (inside
  // roi when given) is fitted, and the model's curve at the wanted dynamic values (text: numbers
  // separated by blanks, commas or semicolons) becomes the time points of a new real volume, whose
  // dynamic coordinates are those values. Null, reported, for a model that does not extrapolate, a
  // text without numbers or a volume the model cannot use; null and silent when stopped with Esc.
  CVol* VolExtrapolateModel(const CVol* vol, const FRAME* roi, const VA_TISSUEATTRIB* attrib, int model,
                            const wchar_t* text);

  // --- the document's dynamic-experiment block ---
  // Appends the block; false (and nothing appended) when the memory file cannot grow.
  bool Write(MFILE* mf, bool has4D) const;
  // Reads the block at the stream's position. With apply the settings replace the host's (and go
  // to the plug-in when loaded); without, the block is only checked and passed over. A damaged or
  // truncated block is reported naming the path and leaves the host unchanged (false).
  bool Load(const wchar_t* path, FILE* fp, bool apply);
  // The same from bytes in memory; used receives the block's size in bytes.
  bool Load(const uint8_t* bytes, int64_t size, bool apply, int64_t* used = nullptr);
  // Older document versions carry the same block.
  bool Load_v16(const wchar_t* path, FILE* fp) { return Load(path, fp, true); }
  bool Load_v15(const wchar_t* path, FILE* fp) { return Load(path, fp, true); }
  bool Load_v14(const wchar_t* path, FILE* fp) { return Load(path, fp, true); }
  bool Load_v11_v12(const wchar_t* path, FILE* fp) { return Load(path, fp, true); }
  bool Load_v2_v10(const wchar_t* path, FILE* fp) { return Load(path, fp, true); }

  // --- data members ---
  int32_t currentModel = 0;
  int32_t parmReq[DYNEXP_NUM_OUTPUTS] = {};
  std::vector<DYNEXP_MODELSET> models;  // one entry per model of the catalogue
  VA_CONCCONV tissueConc;               // conversion of tissue signal
  VA_CONCCONV ifuncConc;                // conversion of input-function signal
  VA_TISSUEATTRIB bloodAttrib;
  // Input-function slots; an empty name marks an empty slot.
  INPUTFUNC ifunc[DYNEXP_NUM_INPUTFUNCS] = {};
  CString ifuncName[DYNEXP_NUM_INPUTFUNCS];
  // Per requested output: the file path, parameter name and units that a calculation names.
  CString outPath[DYNEXP_NUM_OUTPUTS];
  CString outName[DYNEXP_NUM_OUTPUTS];
  CString outUnits[DYNEXP_NUM_OUTPUTS];

 private:
  void releaseDomain();
  void pushSettingsToDomain() const;
  void takeSettingsFromDomain();
  CString runProblem(int model, int mode, const CVol* vol, const FRAME* roi, const VA_TISSUEATTRIB* attrib) const;
  bool loadBlock(const uint8_t* bytes, int64_t size, bool apply, int64_t* used, const wchar_t* path);

  DynExpDomain* domain_ = nullptr;  // owned
  std::vector<double> extrapolateTo_;  // while extrapolating: the wanted dynamic values
  CString domainPath_;
};
