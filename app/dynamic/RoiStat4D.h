#pragma once
// ROI statistics of a 4D volume: the mean curve of one ROI converted to concentration, its interval
// and peak, the view moved to the peak or to the bolus arrival, the curve saved or copied as curve
// text, and a gamma-variate fit of the ROI through the parametric-map driver. The state below is
// the dialog's; the functions are its steps, shared by the Qt window and headless runs.

#include <functional>
#include <vector>

#include "CString.h"
#include "DynExp.h"
#include "TwkTypes.h"

class CDrawSet;
class CDrawView;
class CVol;
struct FRAME;

struct TW_ROISTAT4D {
  // Inputs.
  CDrawView* view = nullptr;
  CDrawSet* set = nullptr;
  const CVol* vol = nullptr;
  const FRAME* roi = nullptr;
  COLORREF roiColour = 0;
  CString roiName;
  // Settings ("Skip start timepoints", "Skip end timepoints": 0..10000).
  int skipStart = 0, skipEnd = 0;
  CString label = L"none";
  bool allRoiTacs = false;
  COLORREF background = 0xFFFFFF;
  VA_CONCCONV conc;  // method 0, HCT 0.4, 10 deg, TR 0.0057 s, TE 0.0015 s, r1 4.2, fw 0.8, 0.69 s, 1.1/s
  // Read at opening: the dynamic axis and the curves (dynamic order; 1e60 missing).
  CString axisName, axisUnits;
  std::vector<double> axis;
  std::vector<std::vector<double>> curves;
  std::vector<std::vector<uint8_t>> valid;
  std::vector<COLORREF> colours;
  std::vector<VA_TISSUEATTRIB> attribs;

  TW_ROISTAT4D();
};

// Opening: the background by the ROI colour, the ROI check ("At least one ROI is required",
// prefixed CDlgRoiStat4D::OnInitDialog), the caption's texts, the axis and the ROI's mean curve.
// False closes the dialog (only the missing ROI says why).
bool TW_RoiStat4DOpen(TW_ROISTAT4D* s);
CString TW_RoiStat4DCaption(const TW_ROISTAT4D& s);

// The points shown: [first, last) after the skips, clamped into the curve; empty when none is left.
void TW_RoiStat4DSpan(const TW_ROISTAT4D& s, int* first, int* last);
// The info fields: start and end of the shown span, the axis units, the axis name with the maximum
// (",  max at %u (%e)") and the conversion's name. Start and end are empty when no point is shown.
struct TW_ROISTAT4DINFO {
  CString start, end, units, axisLine, method;
};
TW_ROISTAT4DINFO TW_RoiStat4DInfo(const TW_ROISTAT4D& s);
// Curve i converted over the shown span (points of 1e60 stay 1e60); false when the conversion
// fails: the plot then shows "Invalid concentration conversion" instead of curves.
bool TW_RoiStat4DConverted(const TW_ROISTAT4D& s, int i, std::vector<double>* conc);
// The value axis of the plot: min(0, minimum) .. 1.05 x maximum over the shown converted curves;
// false when no point is shown or every shown point is 0 or missing (the labels stay as they are).
bool TW_RoiStat4DValueRange(const TW_ROISTAT4D& s, double* low, double* high);

// "Go to Peak" and "Go to Bolus arrival": the dynamic index (false when there is none; the bolus
// only on a "Time" axis), and moving the view's time point of the set there.
bool TW_RoiStat4DPeak(const TW_ROISTAT4D& s, int* dynIndex);
bool TW_RoiStat4DBolusArrival(const TW_ROISTAT4D& s, int* dynIndex);
bool TW_RoiStat4DGoTo(const TW_ROISTAT4D& s, int dynIndex);
// The curve text of "Save " and "Copy to Clipboard" (the first curve converted, with its header);
// false when the conversion fails.
bool TW_RoiStat4DCurveText(const TW_ROISTAT4D& s, const wchar_t* path, CString* text);
// "Save ": the file picker, then the file ("Failed to save TAC file" when it cannot be written).
bool TW_RoiStat4DSave(const TW_ROISTAT4D& s);
// "Copy to Clipboard" ("Failed to obtain information" when the text cannot be made).
bool TW_RoiStat4DCopy(const TW_ROISTAT4D& s);
// "Gamma-variate fit": model 52 with every output, mask 15, modal dialog, redraw and results on.
bool TW_RoiStat4DGammaFit(const TW_ROISTAT4D& s);

// The dialog: modal, or silent (opened and closed at once). False when it does not open.
bool TW_DlgRoiStat4D(bool silent, CDrawView* view, CDrawSet* set, const CVol* vol, const FRAME* roi,
                     COLORREF roiColour, const CString& roiName);
using TW_ROISTAT4DVIEW = std::function<bool(TW_ROISTAT4D* state, bool silent)>;
void TW_SetRoiStat4DView(TW_ROISTAT4DVIEW view);
