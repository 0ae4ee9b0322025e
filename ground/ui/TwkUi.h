#pragma once
// The one interface through which code outside the Qt program talks to the user: message boxes,
// questions, value prompts, file and folder pickers, status text, progress, and showing text results
// (the program's "Notepad"). The Qt program installs its implementation at start-up; tests install a
// ScriptedUi (ScriptedUi.h) whose answers are queued and whose shown texts are captured.
// Until something is installed, a silent default answers every question with its cancel/no value,
// so a headless run never blocks.

#include <vector>

#include "CString.h"

// Message box styles and results, with the values of the desktop convention the texts were written for.
enum : unsigned {
  MB_OK = 0x0,
  MB_OKCANCEL = 0x1,
  MB_ABORTRETRYIGNORE = 0x2,
  MB_YESNOCANCEL = 0x3,
  MB_YESNO = 0x4,
  MB_RETRYCANCEL = 0x5,
  MB_ICONHAND = 0x10,
  MB_ICONSTOP = 0x10,
  MB_ICONERROR = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONEXCLAMATION = 0x30,
  MB_ICONWARNING = 0x30,
  MB_ICONASTERISK = 0x40,
  MB_ICONINFORMATION = 0x40,
  MB_DEFBUTTON2 = 0x100,
  MB_DEFBUTTON3 = 0x200,
  MB_TOPMOST = 0x40000,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

namespace twk {

// One field of a value prompt. The caller fills label and value; the prompt writes the value back
// only when the user confirms.
struct PromptField {
  enum class Kind { Int, Double, Text, Bool, Choice };
  Kind kind = Kind::Double;
  CString label;
  double number = 0;             // Int, Double, Bool (0/1), Choice (index)
  CString text;                  // Text
  std::vector<CString> choices;  // Choice
  double minimum = -1e300;       // Int and Double: allowed range
  double maximum = 1e300;

  static PromptField integer(const CString& label, long long v) { PromptField f; f.kind = Kind::Int; f.label = label; f.number = double(v); return f; }
  static PromptField real(const CString& label, double v) { PromptField f; f.kind = Kind::Double; f.label = label; f.number = v; return f; }
  static PromptField string(const CString& label, const CString& v) { PromptField f; f.kind = Kind::Text; f.label = label; f.text = v; return f; }
  static PromptField check(const CString& label, bool v) { PromptField f; f.kind = Kind::Bool; f.label = label; f.number = v ? 1 : 0; return f; }
  static PromptField choice(const CString& label, std::vector<CString> options, int index) { PromptField f; f.kind = Kind::Choice; f.label = label; f.choices = std::move(options); f.number = index; return f; }
};

// A file filter in the desktop form "Description (*.ext)|*.ext|All Files (*.*)|*.*||".
struct FileRequest {
  CString title;
  CString filter;
  CString initialPath;       // folder or file name to start from
  CString defaultExtension;  // without the dot
  int filterIndex = 0;       // the file type selected when the dialog opens (1-based; 0: the first)
};

class Ui {
 public:
  virtual ~Ui() = default;

  // A message box; type combines MB_* buttons and icon; returns IDOK, IDYES, IDNO, IDCANCEL, ...
  virtual int messageBox(const CString& text, const CString& caption, unsigned type) = 0;
  // Three buttons with the caller's labels; returns 0, 1 or 2 for the button pressed (2 on close).
  virtual int threeButtons(const CString& text, const CString& caption, const CString& button0,
                           const CString& button1, const CString& button2) = 0;
  // A modal prompt for one or more values; true on OK, and only then are the fields written back.
  virtual bool askValues(const CString& title, std::vector<PromptField>& fields) = 0;

  // Pickers: true with the chosen path(s), false on cancel.
  virtual bool openFileName(const FileRequest& request, CString& path) = 0;
  virtual bool openFileNames(const FileRequest& request, std::vector<CString>& paths) = 0;
  virtual bool saveFileName(const FileRequest& request, CString& path) = 0;
  virtual bool folderName(const CString& title, const CString& initialFolder, CString& folder) = 0;

  // Status line, progress bar (percent 0..100, -1 hides it) and the event pump of long work.
  virtual void setStatusText(const CString& text) = 0;
  virtual void setProgress(int percent) = 0;
  virtual void pumpEvents() = 0;

  // Shows a text file to the user (the text viewer that stands in for Notepad).
  virtual bool showTextFile(const CString& path) = 0;
};

// The installed interface (never null: a silent default until one is installed).
Ui& ui();
// Installs an implementation; null restores the silent default. Returns the previous one.
Ui* setUi(Ui* ui);

// Installs an implementation for the life of a scope and restores the previous one afterwards.
class ScopedUi {
 public:
  explicit ScopedUi(Ui& installed) : previous_(setUi(&installed)) {}
  ~ScopedUi() { setUi(previous_); }
  ScopedUi(const ScopedUi&) = delete;
  ScopedUi& operator=(const ScopedUi&) = delete;

 private:
  Ui* previous_;
};

// Convenience wrappers used all over the program.
inline int messageBox(const CString& text, unsigned type = MB_OK, const CString& caption = L"Tarnwick") {
  return ui().messageBox(text, caption, type);
}
inline bool askYesNo(const CString& text, const CString& caption = L"Tarnwick") {
  return ui().messageBox(text, caption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}
// "<function> : <message>" in an error box, the program's usual failure report.
inline void showNamedError(const CString& function, const CString& message) {
  ui().messageBox(function + L" : " + message, L"Tarnwick", MB_OK | MB_ICONERROR);
}

}  // namespace twk
