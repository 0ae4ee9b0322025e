#pragma once
// Parameter dialogs and their runners. A parameter record outlives its dialog (one static record
// per command or preset); the dialog is a thin view over it, described here as data; a runner is
// what an operation calls instead of touching any dialog class.
//
// ---------------------------------------------------------------------------------------------
// HOW TO USE THE RUNNERS
// ---------------------------------------------------------------------------------------------
// 1. Describe the record's dialog: its title and the fields that it shows, each bound to a field
//    of the record, with inclusive ranges, the items of its lists and, where the dialog greys a
//    field, an enable rule on the values as edited:
//
//      TW_DIALOG d(L"Inflate\\Deflate ROI", L"CDlgRoiInflate");
//      d.Real(L"Radius", &record->radius);
//      d.Flag(L"Use voxels (uncheck for mm)", &record->useVoxels);
//      d.Real(L"Grid", &record->grid, 1, 999).EnabledWhen(
//          [](const TW_DIALOG_VALUES& v) { return v.Checked(L"Use voxels (uncheck for mm)"); });
//      d.Choice(L"Shape", &record->shape, {L"Circle", L"Sphere", L"Cylinder"});
//
// 2. Run it:
//      modal form        TW_RunDialog(d)                -> true on OK; the record holds the values
//      two-mode form     TW_RunDialog(silent, d)        -> silent: no window waits for the user; the
//                        stored values pass through the dialog's own checks and are written back
//      method-selecting  TW_RunMethodDialog(L"TW_DlgBimodalHistSplit", known, L"Invalid histogram
//                        segmentation method", [&] { return TW_RunDialog(d); })
//      preset function   TW_RunPresetDialog(L"TW_MagtracePresetParms", known, L"Invalid ...",
//                        [&] { fill the record for the type; return TW_RunDialog(d); })
//    Modeless tool dialogs (the five panel slots of the main frame) open through
//    TW_OpenModelessDialog / TW_BindPanelCommand in dialogs/qt/PanelSlots.h.
//
// 3. Checks beyond the ranges go into d.onCheck (show the message, return false: the dialog stays
//    open, and a silent run returns false); context that the dialog cannot work with goes into
//    d.onInit (show "<class>::OnInitDialog : <message>", return false: the dialog cancels itself).
//
// Rules of every runner: the record is written only by an OK whose values all pass their checks;
// Cancel, Esc, closing the window, a refused opening or a failed check leave it as it was. A
// silent run returns true only when the values passed and were written. Doubles are shown and
// read back at round-trip precision, so values that pass through a silent run are unchanged.
//
// Tests: without the program's dialogs (headless) the runners ask through twk::ui().askValues,
// one field a value in order (a ScriptedUi answers with answerValues / cancelValues); a refused
// value is reported with twk::ui().messageBox and asked again. The Qt dialog itself is tested
// offscreen with the dialog script of dialogs/qt/RecordDialog.h.
// ---------------------------------------------------------------------------------------------

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <vector>

#include "CString.h"

class TW_DIALOG_VALUES;

struct TW_DIALOG_FIELD {
  enum class Kind { Integer, Real, Check, Choice, Text };
  Kind kind = Kind::Real;
  CString label;
  // The record's field (exactly one is set).
  int32_t* integer = nullptr;  // Integer, Choice, and Check of an int flag
  uint8_t* byteFlag = nullptr; // Check of a one-byte flag (stored back as 0 or 1)
  double* real = nullptr;      // Real
  CString* text = nullptr;     // Text
  // Inclusive range of Integer and Real fields; none when not ranged.
  bool ranged = false;
  double minimum = -std::numeric_limits<double>::infinity();
  double maximum = std::numeric_limits<double>::infinity();
  std::vector<CString> choices;  // Choice
  std::function<bool(const TW_DIALOG_VALUES&)> enabled;

  TW_DIALOG_FIELD& EnabledWhen(std::function<bool(const TW_DIALOG_VALUES&)> rule) {
    enabled = std::move(rule);
    return *this;
  }
};

// The values as the dialog shows them: numbers as the texts of their edits, checks and list
// choices as integers.
class TW_DIALOG_VALUES {
 public:
  std::vector<CString> texts;  // Integer, Real, Text fields; empty for the others
  std::vector<int> states;     // Check (0/1) and Choice (index) fields
  const std::vector<TW_DIALOG_FIELD>* fields = nullptr;

  int IndexOf(const wchar_t* label) const;
  // The number an Integer or Real field holds (0 when its text does not read).
  double Number(const wchar_t* label) const;
  bool Checked(const wchar_t* label) const;
  int Choice(const wchar_t* label) const;
  CString Text(const wchar_t* label) const;
  void SetText(const wchar_t* label, const CString& text);
  void SetState(const wchar_t* label, int state);
  bool Enabled(size_t field) const;
};

// A push button of the dialog that opens a dialog of its own (an "Edge Settings" button): press
// may edit the record's sub-records it holds and rewrite the shown values. Only the window offers
// the buttons; the headless prompt asks the fields alone.
struct TW_DIALOG_BUTTON {
  CString label;
  std::function<void(TW_DIALOG_VALUES&)> press;
};

struct TW_DIALOG {
  TW_DIALOG(const CString& caption, const CString& dialogClass) : title(caption), className(dialogClass) {}

  CString title;      // the window's caption
  CString className;  // the dialog class, for messages ("CDlgRastPaintbrush")
  std::vector<TW_DIALOG_FIELD> fields;
  // Context checks when the dialog opens; false: the dialog refuses (it has said why).
  std::function<bool(TW_DIALOG_VALUES&)> onInit;
  // Checks of OK beyond the fields' ranges; false: OK is refused (it has said why).
  std::function<bool(const TW_DIALOG_VALUES&)> onCheck;
  // The window's reaction when the user changes field `field` (a list's choice, a check, an edit):
  // it may rewrite other fields' values, which the window then shows (a unit switch converting
  // distances). The headless prompt, which asks all fields at once, does not call it.
  std::function<void(TW_DIALOG_VALUES&, int field)> onChange;
  std::vector<TW_DIALOG_BUTTON> buttons;

  TW_DIALOG_FIELD& Integer(const CString& label, int32_t* field);
  TW_DIALOG_FIELD& Integer(const CString& label, int32_t* field, double minimum, double maximum);
  TW_DIALOG_FIELD& Real(const CString& label, double* field);
  TW_DIALOG_FIELD& Real(const CString& label, double* field, double minimum, double maximum);
  TW_DIALOG_FIELD& Flag(const CString& label, uint8_t* field);
  TW_DIALOG_FIELD& Flag(const CString& label, int32_t* field);
  TW_DIALOG_FIELD& Choice(const CString& label, int32_t* field, std::initializer_list<const wchar_t*> items);
  TW_DIALOG_FIELD& Text(const CString& label, CString* field);
  void Button(const CString& label, std::function<void(TW_DIALOG_VALUES&)> press);
};

// --- runners ---
bool TW_RunDialog(const TW_DIALOG& dialog);
bool TW_RunDialog(bool silent, const TW_DIALOG& dialog);
// Refuses an unknown method with "<runner> : <message>" (and false) before anything is shown.
bool TW_RunMethodDialog(const wchar_t* runner, bool knownMethod, const wchar_t* message,
                        const std::function<bool()>& run);
// The same for preset functions and their application types.
bool TW_RunPresetDialog(const wchar_t* function, bool knownType, const wchar_t* message,
                        const std::function<bool()>& fillAndRun);

// --- the parts a dialog window uses ---
// The record's values as the dialog shows them (doubles at round-trip precision).
TW_DIALOG_VALUES TW_LoadDialogValues(const TW_DIALOG& dialog);
// The check of OK: every enabled field reads and lies in its range, then onCheck. On a refusal the
// message is shown (twk::ui) and *badField (may be null) names the field; false.
bool TW_CheckDialogValues(const TW_DIALOG& dialog, const TW_DIALOG_VALUES& values, int* badField);
// Writes checked values into the record (flags as 0 or 1).
void TW_StoreDialogValues(const TW_DIALOG& dialog, const TW_DIALOG_VALUES& values);
// A double as its shortest text that reads back to the same value.
CString TW_RoundTripText(double value);

// The window of a dialog. Modal (silent false): true when the user pressed OK and the values
// passed TW_CheckDialogValues (the window refuses OK otherwise and stays open); values then hold
// them. Silent: the window is created and shown and its OK step runs at once: the result of the
// check. The program installs its Qt dialog; unset, the runners ask through twk::ui().askValues.
using TW_DIALOG_VIEW = std::function<bool(const TW_DIALOG& dialog, TW_DIALOG_VALUES& values, bool silent)>;
void TW_SetDialogView(TW_DIALOG_VIEW view);
