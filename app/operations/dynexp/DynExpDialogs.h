#pragma once
// The program's kinetic-model host and the dialogs of the parametric maps as the driver sees them:
// runners that edit the host's state and return true on OK. Each runs the view installed by the
// program (its Qt dialog); without one it asks through twk::ui()'s value prompt, so tests and
// headless runs script the answers.

#include <functional>

#include "CString.h"
#include "DynExp.h"

class CVol;

// The host the program owns (installed at start-up); null before.
CDynExp* TW_DynExpHost();
void TW_SetDynExpHost(CDynExp* host);

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
