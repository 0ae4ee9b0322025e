#pragma once
// The program's kinetic-model host and the dialogs of the parametric maps as the driver sees them:
// runners that edit the host's state and return true on OK. Each runs the view installed by the
// program (its Qt dialog); without one it asks through twk::ui()'s value prompt, so tests and
// headless runs script the answers.

#include <functional>
#include <vector>

#include "CString.h"
#include "CurveViewer.h"
#include "DynExp.h"
#include "KineticModelHost.h"  // the host the program owns: TW_DynExpHost, TW_SetDynExpHost

class CVol;
struct DICOMREC;

// The volume's first DICOM header record, or null.
const DICOMREC* TW_FirstDicom(const CVol* vol);

// The parametric-map dialog. The driver fills the inputs; the dialog writes every choice into the
// host and answers with the button pressed.
struct TW_PPMCALC {
  CDynExp* host = nullptr;
  const CVol* vol = nullptr;
  int roiCount = 0;          // ROI candidates
  int mask = 15;             // allowed buttons: 1 voxelwise, 2 ROI voxelwise, 4 curves, 8 extrapolate
  const int* requested = nullptr;  // preset of requested outputs, or null
  int allowedConc = 511;     // conversions the volume allows
  int press = 0;             // 1, 2 or 3: pressed at once without user input (silent); 0: modal
  // Answers.
  int mode = 0;              // the button pressed: 1, 2, 3 or 5
  bool fitVolume = false;    // "Create model volume layer"
};
// The buttons' texts by the number of ROI candidates.
CString TW_PpmCalcButtonText(int mode, int roiCount);
// Whether button mode (1, 2, 3, 5) is enabled for the mask, the ROI count and the host's model.
bool TW_PpmCalcButtonEnabled(const TW_PPMCALC& dialog, int mode);
// Runs the dialog: a silent press checks the stored state as the dialog's own button would
// ("At least one Output parameter is required" when nothing is requested) and answers that mode;
// a modal run shows the view, or without one asks for the button. False on Cancel or a refused press.
bool TW_DlgPpmCalc(TW_PPMCALC* dialog);
using TW_PPMCALCVIEW = std::function<bool(TW_PPMCALC* dialog)>;
void TW_SetPpmCalcView(TW_PPMCALCVIEW view);

// The tissue-properties prompt: kind 4 "Blood attributes", 5 "Tissue attributes"; edits the first
// value (T1, seconds, 0..10000). True on OK.
bool TW_DlgTissueProp(void* parent, int kind, VA_TISSUEATTRIB* record);
using TW_TISSUEPROPVIEW = std::function<bool(int kind, VA_TISSUEATTRIB* record)>;
void TW_SetTissuePropView(TW_TISSUEPROPVIEW view);

// The single-curve results (mode 3): c curves, their fitted curves (c x (T + 1), stored time order)
// and interval records (c x nReq x 4 doubles), the names and units of the requested outputs.
struct TW_SINGLECURVE {
  const CVol* vol = nullptr;
  CVol* const* rois = nullptr;  // c ROI volumes, or null: one whole-volume curve
  int count = 1;
  const double* fitted = nullptr;
  const double* intervals = nullptr;
  const CString* names = nullptr;
  const CString* units = nullptr;
  int nReq = 0;
};
// The plain-text report of all curves: the volume's name and "\n", then per curve its name (ROI
// name or "whole volume"), " : ", and per output its name, a tab, the value as "%e\t" ("undefined\t"
// for a failed fit), the units and a tab; each curve line ends with "\n".
CString TW_SingleCurveReport(const TW_SINGLECURVE& results);
// One table row of curve r, output j: name, value ("%.10g" or "undefined"), units, bound text
// "[ %lf , %lf ]" and spread "%2.3lf" (empty when the fit failed or has no bounds).
struct TW_SINGLECURVEROW {
  CString name, value, units, bounds, spread;
};
TW_SINGLECURVEROW TW_SingleCurveRow(const TW_SINGLECURVE& results, int r, int j);
// Collects the measured curves and shows the results (modally unless silent); report receives the
// report. False when the curves cannot be read or the dialog is cancelled.
bool TW_DlgDiduSingleCurveResult(bool silent, const TW_SINGLECURVE& results, CString* report);
using TW_SINGLECURVEVIEW = std::function<bool(const TW_SINGLECURVE& results, const CString& report)>;
void TW_SetSingleCurveView(TW_SINGLECURVEVIEW view);

// The curve viewer on a caller's curves (TW_DlgViewCurves) is the dialogs' (CurveViewer.h).

// --- the optimisation methods of the plug-in, named by the host ---
// Name of method 1..7 (false, text emptied, for a method without a name).
bool VA_GetOptimizationName(int method, CString* name);
// The method of a name; -1 when none.
int VA_GetOptimizationFromName(const wchar_t* name);

// --- the parametric-map dialog's lists, as the dialog fills them ---
// The model list: every model with a name that suits the volume, as the name or, for models with
// n >= 1 input functions, "<name> : <n>IF"; models receives the model of each entry.
std::vector<CString> TW_PpmCalcModelEntries(const CDynExp& host, const CVol* vol, std::vector<int>* models);
// The entry selected for the current model: the last entry containing its name; -1 when none.
int TW_PpmCalcSelectedEntry(const CDynExp& host, const std::vector<CString>& entries);
// The optimisation list of the model: the allowed methods 1..7 in order (a method without a name
// ends the list) and the index of the current one. False, with "Invalid Optimization method", when
// the current method is not allowed.
bool TW_PpmCalcOptimizations(const CDynExp& host, int model, std::vector<int>* methods, int* current);
// The conversions the model and the volume allow together; both records of the host are moved
// into that mask. The mask.
int TW_PpmCalcConcMask(CDynExp* host, int model, int allowedConc);
// The slot colours (0x00BBGGRR): red, blue, green, yellow; white for an empty slot.
uint32_t TW_PpmCalcSlotColour(const CDynExp& host, int slot);

// --- concentration conversion settings ---
// The controls of the conversion dialog (bit flags).
enum : unsigned {
  CONCCTRL_HCT = 1u << 0,
  CONCCTRL_FLIP = 1u << 1,
  CONCCTRL_TR = 1u << 2,
  CONCCTRL_TE = 1u << 3,
  CONCCTRL_R1 = 1u << 4,
  CONCCTRL_FW = 1u << 5,
  CONCCTRL_LIFETIME = 1u << 6,
  CONCCTRL_RATE = 1u << 7,
  CONCCTRL_MANUAL = 1u << 8,
  CONCCTRL_BASELINE = 1u << 9,  // "Skip first" and "Average next"
};
// The controls that a method enables: r1 and "Manual" for every method but 0; TE for method 3; TR
// and flip angle for 4, 5 and 8, with the water-exchange fields for 6; the haematocrit for blood
// records; the baseline counts when "Manual" is ticked.
unsigned TW_ConcConvControls(int method, bool tissue, bool manual);
// The methods the dialog lists for a mask, in order; method 6 only for tissue records.
std::vector<int> TW_ConcConvMethods(int mask, bool tissue);
// Why the values of the enabled controls cannot be taken (the ranges of the dialog); empty when
// they can.
CString TW_ConcConvRangeProblem(const VA_CONCCONV& record, unsigned controls);

// The conversion dialog on a copy of the record; OK writes the whole record back (true). A record
// whose method the mask does not allow gives "Invalid Initial Concentration method in the dialog"
// and no dialog. dicom: the volume's first DICOM header, or null ("from DICOM" disabled).
bool TW_DlgConcConv(void* parent, int mask, bool tissue, VA_CONCCONV* record, const DICOMREC* dicom);
struct TW_CONCCONVDLG {
  std::vector<int> methods;  // listed methods
  bool tissue = true;
  const DICOMREC* dicom = nullptr;
  VA_CONCCONV record;        // the copy the dialog edits
};
using TW_CONCCONVVIEW = std::function<bool(TW_CONCCONVDLG* dialog)>;
void TW_SetConcConvView(TW_CONCCONVVIEW view);

// The relaxivity lookup: agent, field strength and medium as the dialog lists them.
const std::vector<CString>& TW_RelaxivityAgents();
const std::vector<CString>& TW_RelaxivityFields();
const std::vector<CString>& TW_RelaxivityMedia();
// The value text of the lookup: "%3.3lf  (1/(mM*s))".
CString TW_RelaxivityText(double r1);
// True on OK with *r1 the looked-up relaxivity.
bool TW_DlgRelaxivity(double* r1);
using TW_RELAXIVITYVIEW = std::function<bool(double* r1)>;
void TW_SetRelaxivityView(TW_RELAXIVITYVIEW view);
