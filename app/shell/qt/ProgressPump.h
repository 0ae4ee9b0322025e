#pragma once
// The message pump of long work. Long operations run on the GUI thread and pump pending events
// from their progress reports, so painting and the status bar stay alive. Whatever such a pump
// dispatches runs inside the operation, so user input must not reach the program then: a click on
// Close, Exit or "Remove Active" would delete what the operation is using. While a pump runs, the
// input guard holds back every mouse, keyboard, wheel, drag and close event; Esc alone gets through,
// and it stops the work (the utility library's in-work flag is cleared, so the next progress report
// returns false). Outside the pumps, input is dispatched as usual.

// Dispatches every pending event and returns when the queue is empty (does not wait).
void TW_PumpMessages();

// True while TW_PumpMessages dispatches, i.e. while an operation is running below the caller.
bool TW_PumpRunning();

// Installs the application-wide input guard (once; the application object must exist).
void TW_InstallInputGuard();

// A modal dialog opened while a pump runs must get its input: this scope lifts the guard for its
// lifetime and restores it afterwards.
class TW_MODAL_SCOPE {
 public:
  TW_MODAL_SCOPE();
  ~TW_MODAL_SCOPE();
  TW_MODAL_SCOPE(const TW_MODAL_SCOPE&) = delete;
  TW_MODAL_SCOPE& operator=(const TW_MODAL_SCOPE&) = delete;

 private:
  int savedDepth_;
};

// The wait cursor of long work (on) and the arrow (off); repeated calls do not stack.
void TW_SetWaitCursor(bool wait);
bool TW_WaitCursorShown();
