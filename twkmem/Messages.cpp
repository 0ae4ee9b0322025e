// The message and progress protocol: forwards progress and status texts to the main window's
// callbacks and carries cancellation through the in-work flag.
//
// The desktop build kept the computer awake between start and end of an operation; nothing of the
// kind is done here (no sleep inhibition).

#include <atomic>
#include <cmath>
#include <string>
#include <thread>

#include "Clock.h"
#include "TextCodec.h"
#include "TwkMem.h"

namespace {

std::atomic<void (*)(uint64_t)> progressSink{nullptr};
std::atomic<bool (*)(const wchar_t*, bool)> messageCallback{nullptr};
std::atomic<int32_t> inWork{0};
// Progress guards alive with show set; the first of them owns the work.
std::atomic<int32_t> shownGuards{0};
// The part of the owner's bar onto which the steps of joined guards are mapped.
std::atomic<int64_t> nestStart{0};
std::atomic<int64_t> nestEnd{100};

constexpr int64_t kMaxReports = 10000;

void sendToSink(uint64_t value) {
  if (auto sink = progressSink.load()) sink(value);
}

void sendMessage(const wchar_t* text, bool pump) {
  if (auto callback = messageCallback.load()) callback(text, pump);
}

// Steps between two reports: a loop reports at most about 10,000 times.
int64_t reportStride(int64_t n) {
  const int64_t stride = n / kMaxReports;
  return stride > 0 ? stride : 1;
}

int64_t clampPercent(int64_t percent) {
  if (percent >= 100) return 99;
  if (percent <= 0) return 1;
  return percent;
}

// Sends the percent and pumps pending events so that Esc and repaints are handled.
void reportPercent(int64_t percent) {
  sendToSink(uint64_t(clampPercent(percent)));
  sendMessage(nullptr, true);
}

}  // namespace

bool PR_InitFrameFunctions(MSGBLOCK* block) {
  if (block) {
    progressSink.store(block->progressSink);
    messageCallback.store(block->showMessage);
  }
  inWork.exchange(0);
  return true;
}

bool PR_CloseFrameFunctions() { return true; }

void PR_StartMessage(const wchar_t* text, bool show) {
  if (!show) return;
  inWork.exchange(1);
  sendToSink(PR_MSG_RESET);
  // The title goes through the typed callback, never through the sink as an integer.
  sendMessage(text ? text : L"", true);
}

void PR_StartMessage(const char* text, bool show) {
  if (!show) return;
  // The whole text is converted; the sink copies it before this returns.
  const CString wide(text ? text : "");
  PR_StartMessage(wide.GetString(), show);
}

void PR_EndMessage(bool show) {
  if (!show) return;
  inWork.exchange(0);
  sendToSink(PR_MSG_END);
}

bool PR_SendMessageInterval(int64_t start, int64_t end, int64_t i, int64_t n, bool show) {
  if (!show) return true;
  if (n <= 0) return true;  // nothing to report on; no division by the step count
  if (i % reportStride(n) != 0) return true;
  if (!inWork.load()) return false;
  reportPercent(start + ((end - start) * i) / n);
  return true;
}

bool PR_DisplayRemainingTime(CString title, long startClock, int64_t i, int64_t n, bool show) {
  if (!show) return true;
  if (n <= 0) return true;
  const bool onStride = i % reportStride(n) == 0;
  if (onStride) {
    if (!inWork.load()) return false;
    reportPercent(i * 97 / n + 1);
  }
  if (i <= 0) {
    sendMessage(title.GetString(), true);
  } else if (onStride) {
    // Wall time since the start, spread over the steps done, times the steps left.
    const double elapsedSeconds = double(twk::clockMs() - startClock) / 1000.0;
    double remaining = std::ceil(elapsedSeconds / double(i) * double(n - i));
    if (!(remaining > 0)) remaining = 0;
    if (remaining > 4294967295.0) remaining = 4294967295.0;
    const unsigned seconds = unsigned(remaining);
    const CString text = title + FmtStr(L"  %u:%.2d min remaining", seconds / 60, int(seconds % 60));
    sendMessage(text.GetString(), true);
  }
  return true;
}

bool PR_DisplayRemainingTime(const char* title, long startClock, int64_t i, int64_t n, bool show) {
  return PR_DisplayRemainingTime(CString(title ? title : ""), startClock, i, n, show);
}

void PR_SendMessage(uint64_t value, bool show) {
  if (show) sendToSink(value);
}

void PR_SendMessage(uint64_t value) { sendToSink(value); }

void PR_SendSingleMessage(const wchar_t* text, bool pump) { sendMessage(text, pump); }

bool PR_InWorkProcess() { return inWork.load() != 0; }

void PR_SetInWorkProcess(bool value) { inWork.exchange(value ? 1 : 0); }

int PR_GetNumLogicalCpus() {
  const unsigned count = std::thread::hardware_concurrency();
  return count > 0 ? int(count) : 1;
}

namespace twk {

ProgressGuard::ProgressGuard(const wchar_t* title, bool show) : show_(show) {
  if (!show_) return;
  // Work already under way (a guard, or a start without one) is joined, never reset.
  owner_ = shownGuards.fetch_add(1) == 0 && !inWork.load();
  if (owner_) {
    NestInto(0, 100);
    PR_StartMessage(title, true);
  }
}

ProgressGuard::ProgressGuard(const char* title, bool show)
    : ProgressGuard(CString(title ? title : "").GetString(), show) {}

ProgressGuard::~ProgressGuard() { End(); }

void ProgressGuard::End() {
  if (!show_ || ended_) return;
  ended_ = true;
  shownGuards.fetch_sub(1);
  if (owner_) PR_EndMessage(true);
}

bool ProgressGuard::Step(int64_t i, int64_t n) { return Step(i, n, 0, 100); }

bool ProgressGuard::Step(int64_t i, int64_t n, int64_t startPercent, int64_t endPercent) {
  if (!show_ || ended_) return true;
  if (!owner_) {
    const int64_t from = nestStart.load(), span = nestEnd.load() - from;
    startPercent = from + span * startPercent / 100;
    endPercent = from + span * endPercent / 100;
  }
  PR_SendMessageInterval(startPercent, endPercent, i, n, true);
  return !Stopped();
}

void ProgressGuard::NestInto(int64_t startPercent, int64_t endPercent) {
  if (!owner_) return;
  nestStart.store(startPercent);
  nestEnd.store(endPercent);
}

bool ProgressGuard::Stopped() const { return show_ && !ended_ && !inWork.load(); }

bool ProgressGuard::Poll() {
  if (!show_ || ended_) return true;
  sendMessage(nullptr, true);
  return !Stopped();
}

}  // namespace twk
