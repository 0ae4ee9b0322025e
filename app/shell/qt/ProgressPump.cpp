#include "ProgressPump.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QKeyEvent>
#include <QObject>
#include <QWidget>

#include "TwkMem.h"

namespace {

int g_pumpDepth = 0;
bool g_waitCursor = false;

bool isUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      return true;
    default:
      return false;
  }
}

// Holds back user input while a pump dispatches; Esc clears the in-work flag instead.
class InputGuard : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (g_pumpDepth <= 0) return false;
    const QEvent::Type type = event->type();
    if (type == QEvent::KeyPress || type == QEvent::KeyRelease || type == QEvent::ShortcutOverride) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Escape) {
        if (type == QEvent::KeyPress && PR_InWorkProcess()) PR_SetInWorkProcess(false);
        return true;
      }
    }
    if (isUserInput(type)) return true;
    // A window asked to close (the close box, Alt+F4) stays open while work runs.
    if (type == QEvent::Close && watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow()) {
      event->ignore();
      return true;
    }
    return false;
  }
};

InputGuard* g_guard = nullptr;

}  // namespace

void TW_PumpMessages() {
  ++g_pumpDepth;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  --g_pumpDepth;
}

bool TW_PumpRunning() { return g_pumpDepth > 0; }

void TW_InstallInputGuard() {
  if (g_guard || !QCoreApplication::instance()) return;
  g_guard = new InputGuard(QCoreApplication::instance());
  QCoreApplication::instance()->installEventFilter(g_guard);
}

TW_MODAL_SCOPE::TW_MODAL_SCOPE() : savedDepth_(g_pumpDepth) { g_pumpDepth = 0; }

TW_MODAL_SCOPE::~TW_MODAL_SCOPE() { g_pumpDepth = savedDepth_; }

void TW_SetWaitCursor(bool wait) {
  if (wait == g_waitCursor || !qobject_cast<QApplication*>(QCoreApplication::instance())) return;
  if (wait) QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  else QApplication::restoreOverrideCursor();
  g_waitCursor = wait;
}

bool TW_WaitCursorShown() { return g_waitCursor; }
