#pragma once
// Progress of the ROI family's long work, held for a scope: the same interface as the utility
// library's scoped progress guard, so the family's code reads the same once that guard is used.
// A guard made while other work is shown joins it (no new start, no end); show false never stops.

#include "TwkMem.h"

namespace twk {

class RoiProgress {
 public:
  RoiProgress(const wchar_t* title, bool show) : show_(show) {
    if (!show_) return;
    owner_ = !PR_InWorkProcess();
    if (owner_) PR_StartMessage(title, true);
  }
  ~RoiProgress() { End(); }
  RoiProgress(const RoiProgress&) = delete;
  RoiProgress& operator=(const RoiProgress&) = delete;

  bool Step(int64_t i, int64_t n) { return Step(i, n, 1, 98); }
  bool Step(int64_t i, int64_t n, int64_t from, int64_t to) {
    if (!show_ || ended_) return true;
    return PR_SendMessageInterval(from, to, i, n, true);
  }
  bool Stopped() const { return show_ && !ended_ && !PR_InWorkProcess(); }
  void End() {
    if (show_ && owner_ && !ended_) PR_EndMessage(true);
    ended_ = true;
  }
  bool Shown() const { return show_; }

 private:
  bool show_ = false;
  bool owner_ = false;
  bool ended_ = false;
};

}  // namespace twk
