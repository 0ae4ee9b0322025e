#pragma once
// CQtUi, the program's implementation of the UI interface (twk::Ui): message boxes, the
// three-button box, the value prompt built from its fields, the file and folder dialogs (desktop
// filters "Desc (*.a;*.b)|*.a;*.b|...|" converted to Qt's form), the status bar text, progress and
// event pump of the main frame, and a text viewer window in place of Notepad.
//
// Dialogs opened while an operation's progress pump runs still get their input (TW_MODAL_SCOPE).
// The start-up script (StartupScript.h) can queue answers for the next file dialogs, so that the
// program's menus can be driven without a person.

#include <QStringList>

#include <deque>
#include <optional>

#include "TwkUi.h"

class CQtUi : public twk::Ui {
 public:
  int messageBox(const CString& text, const CString& caption, unsigned type) override;
  int threeButtons(const CString& text, const CString& caption, const CString& button0, const CString& button1,
                   const CString& button2) override;
  bool askValues(const CString& title, std::vector<twk::PromptField>& fields) override;
  bool openFileName(const twk::FileRequest& request, CString& path) override;
  bool openFileNames(const twk::FileRequest& request, std::vector<CString>& paths) override;
  bool saveFileName(const twk::FileRequest& request, CString& path) override;
  bool folderName(const CString& title, const CString& initialFolder, CString& folder) override;
  void setStatusText(const CString& text) override;
  void setProgress(int percent) override;
  void pumpEvents() override;
  bool showTextFile(const CString& path) override;

  // The next file or folder dialog answers with these paths instead of opening (an empty list
  // answers Cancel).
  void QueueFileAnswer(const QStringList& paths);
  bool HasQueuedAnswers() const { return !queued_.empty() || !queuedButtons_.empty(); }
  // The next message box answers with this button (IDYES, IDNO, ...) instead of opening.
  void QueueMessageAnswer(int button) { queuedButtons_.push_back(button); }
  // The texts of the message boxes shown or answered so far, oldest first.
  const QStringList& MessageTexts() const { return messageTexts_; }

 private:
  bool takeQueued(QStringList* paths);
  // The queued answer of a dialog that gives one path: nothing when none is queued, else whether
  // it chose a path (then in path).
  std::optional<bool> takeQueuedPath(CString& path);
  // One file to open (an existing one) or to save: the queued answer, else the file dialog.
  bool chooseOneFile(const twk::FileRequest& request, bool save, CString& path);
  std::deque<QStringList> queued_;
  std::deque<int> queuedButtons_;
  QStringList messageTexts_;
};

// "Desc (*.a;*.b)|*.a;*.b|Other|*.c||" as Qt name filters "Desc (*.a;*.b) (*.a *.b)", "Other (*.c)".
QStringList TW_QtNameFilters(const CString& filter);
