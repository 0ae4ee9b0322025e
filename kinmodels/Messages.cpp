#include "Messages.h"

#include <mutex>
#include <utility>
#include <vector>

#include "TwkUi.h"

namespace kin {
namespace {

const wchar_t kCaption[] = L"Tarnwick";

std::mutex& callbackMutex() {
  static std::mutex m;
  return m;
}
DIDU_CALLBACKS& installed() {
  static DIDU_CALLBACKS callbacks{nullptr, nullptr};
  return callbacks;
}

struct PendingMessages {
  std::mutex mutex;
  std::vector<std::pair<CString, unsigned>> messages;  // in order of first appearance
};
PendingMessages& pending() {
  static PendingMessages p;
  return p;
}

}  // namespace

void setCallbacks(const DIDU_CALLBACKS* callbacks) {
  std::lock_guard lock(callbackMutex());
  installed() = callbacks ? *callbacks : DIDU_CALLBACKS{nullptr, nullptr};
}

int messageBox(const CString& text, unsigned type) {
  DIDU_CALLBACKS callbacks;
  {
    std::lock_guard lock(callbackMutex());
    callbacks = installed();
  }
  if (callbacks.messageBox) return callbacks.messageBox(callbacks.user, text, kCaption, type);
  return twk::ui().messageBox(text, kCaption, type);
}

void showNamedMessage(const wchar_t* function, const CString& message) {
  messageBox(CString(function) + L" : " + message, MB_OK);
}

bool askYesNo(const CString& text) { return messageBox(text, MB_YESNO | MB_ICONQUESTION) == IDYES; }

void curveMessage(const CString& text, unsigned type) {
  PendingMessages& p = pending();
  std::lock_guard lock(p.mutex);
  for (const auto& m : p.messages)
    if (m.first == text && m.second == type) return;
  p.messages.emplace_back(text, type);
}

void flushCurveMessages() {
  std::vector<std::pair<CString, unsigned>> messages;
  {
    PendingMessages& p = pending();
    std::lock_guard lock(p.mutex);
    messages.swap(p.messages);
  }
  for (const auto& m : messages) messageBox(m.first, m.second);
}

}  // namespace kin
