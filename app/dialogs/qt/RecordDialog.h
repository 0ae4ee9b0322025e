#pragma once
// The Qt window of the parameter dialogs described by TW_DIALOG (ParameterDialog.h): a form with one
// control per field (edits for numbers and texts, check boxes, lists), greyed by the fields' enable
// rules as the values change, and an OK that checks the values first and stays open on a refusal.
// TW_InstallRecordDialog makes it the window of every runner.
//
// Offscreen tests drive it with a dialog script: while one is installed, a runner does not wait for
// the user but plays the script's steps on the real window:
//   twk::DialogScript script;
//   twk::ScopedDialogScript installed(script);
//   script.set(L"Radius (vox)", L"257").ok()      // refused: the window stays open
//         .set(L"Radius (vox)", L"3").ok();        // accepted
//   TW_DlgRastPaintbrush();
//   EXPECT_EQ(script.titles, ...);

#include <QDialog>

#include <deque>
#include <functional>
#include <map>
#include <vector>

#include "ParameterDialog.h"

class CRecordDialog : public QDialog {
  Q_OBJECT
 public:
  CRecordDialog(const TW_DIALOG& dialog, const TW_DIALOG_VALUES& values, QWidget* parent = nullptr);

  // The values as the controls stand.
  TW_DIALOG_VALUES Values() const;
  QWidget* Editor(const wchar_t* label) const;
  // The OK step: the values are checked (a refusal is shown and focuses its field) and the window
  // is accepted only when they pass. True when accepted.
  bool OnOK();

  void accept() override;

 private:
  void updateEnabled();
  void changed(int field);
  void pressed(size_t button);
  void showValues(const TW_DIALOG_VALUES& before, const TW_DIALOG_VALUES& after);
  const TW_DIALOG& dialog_;
  TW_DIALOG_VALUES base_;
  std::vector<QWidget*> editors_;
};

// Makes the window that of every runner. modalScope, when given, wraps each modal run (the shell
// lifts its input guard there).
void TW_InstallRecordDialog(std::function<bool(const std::function<bool()>& run)> modalScope = {});
// Back to the headless prompt.
void TW_RemoveRecordDialog();

namespace twk {

class DialogScript {
 public:
  DialogScript& set(const CString& label, const CString& text);   // an edit's text
  DialogScript& check(const CString& label, bool on);             // a check box
  DialogScript& choose(const CString& label, int index);          // a list's item
  DialogScript& press(const CString& label);                      // a button (its dialog plays the next steps)
  DialogScript& ok();                                             // OK (refused values keep it open)
  DialogScript& cancel();

  // Every window title the runners opened, in order; the steps not yet played.
  std::vector<CString> titles;
  bool pending() const { return !steps_.empty(); }

  // Plays steps on the window until it closes; a window left open is cancelled. The result of the
  // window (accepted or not).
  bool play(CRecordDialog& window);

 private:
  struct STEP {
    enum class Kind { Set, Check, Choose, Press, Ok, Cancel } kind;
    CString label;
    CString text;
    int number = 0;
  };
  std::deque<STEP> steps_;
};

class ScopedDialogScript {
 public:
  explicit ScopedDialogScript(DialogScript& script);
  ~ScopedDialogScript();
  ScopedDialogScript(const ScopedDialogScript&) = delete;
  ScopedDialogScript& operator=(const ScopedDialogScript&) = delete;

 private:
  DialogScript* previous_;
};

}  // namespace twk
