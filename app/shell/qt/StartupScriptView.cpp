// The script actions that drive and check a document view: toolbar buttons, mouse and keys in the
// active view's pixels, the status text, the window of the operand layer, the Layers panel's rows
// and the voxels of the ROI.

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMouseEvent>
#include <QToolBar>
#include <QWheelEvent>

#include <cmath>

#include "ColumnTreeCtrl.h"
#include "DlgLayerCtrl.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "MainFrame.h"
#include "StartupScript.h"
#include "ToggleBar.h"
#include "Vol.h"
#include "volume/VoxelAccess.h"

namespace {

struct Modifiers {
  Qt::MouseButton button = Qt::LeftButton;
  Qt::KeyboardModifiers keys = Qt::NoModifier;
};

// Leading words "left", "right", "ctrl", "shift" of an argument list; the rest is returned.
QStringList takeModifiers(QStringList words, Modifiers* m) {
  while (!words.isEmpty()) {
    const QString w = words.front().toLower();
    if (w == QLatin1String("left")) m->button = Qt::LeftButton;
    else if (w == QLatin1String("right")) m->button = Qt::RightButton;
    else if (w == QLatin1String("ctrl")) m->keys |= Qt::ControlModifier;
    else if (w == QLatin1String("shift")) m->keys |= Qt::ShiftModifier;
    else break;
    words.pop_front();
  }
  return words;
}

bool parsePoint(const QString& text, QPointF* p) {
  const QStringList xy = text.split(QLatin1Char(','));
  bool okX = false, okY = false;
  if (xy.size() != 2) return false;
  *p = QPointF(xy[0].toDouble(&okX), xy[1].toDouble(&okY));
  return okX && okY;
}

void sendMouse(QWidget* view, QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons held,
               Qt::KeyboardModifiers keys) {
  QMouseEvent event(type, at, view->mapToGlobal(at), button, held, keys);
  QApplication::sendEvent(view, &event);
}

CDrawView* activeView() { return CMainFrame::Get() ? CMainFrame::Get()->ActiveView() : nullptr; }

// The operand ROI of the active view's document and the number of its voxels that are set.
bool roiVoxels(int64_t* count, QString* error) {
  CDrawView* view = activeView();
  CDrawSet* set = view ? view->GetActiveSet() : nullptr;
  int candidates = 0;
  CVol* roi = set ? set->WorkVolROI(&candidates) : nullptr;
  if (!roi || !roi->frame) {
    *error = QStringLiteral("no single ROI layer (%1 marked)").arg(candidates);
    return false;
  }
  int64_t n = 0;
  const FRAME* f = roi->frame;
  for (int t = 0; t < f->dim.t; ++t)
    for (int z = 0; z < f->dim.d; ++z)
      for (int y = 0; y < f->dim.h; ++y)
        for (int x = 0; x < f->dim.w; ++x) n += twk::roiBit(f, x, y, z, t) ? 1 : 0;
  *count = n;
  return true;
}

}  // namespace

bool TW_RunViewScriptAction(const QString& verb, const QString& argument, const TW_SCRIPT_WATCHED& watched,
                            QString* error, int* delay, bool* notYet) {
  CMainFrame* frame = CMainFrame::Get();
  auto* view = dynamic_cast<QWidget*>(activeView());
  const QStringList words = argument.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  *notYet = false;
  // The state an expectation looks for has not come (yet): the script tries the line again.
  auto notHeld = [&](const QString& seen) {
    *error = seen;
    *notYet = true;
    return false;
  };
  // Pointer and key input go to a view that is shown.
  auto needView = [&] { return (view && view->isVisible()) || notHeld(QStringLiteral("no active view")); };

  if (verb == QLatin1String("toolbar")) {
    // The buttons' states as the idle update leaves them before the user's next input.
    frame->UpdateCommandStates();
    for (QAction* action : frame->MainToolBar()->actions())
      if (action->toolTip() == argument) {
        if (!action->isEnabled()) {
          *error = QStringLiteral("toolbar button disabled: ") + argument;
          return false;
        }
        if (!watched([action] { action->trigger(); }, error)) return false;
        *delay = 50;
        return true;
      }
    *error = QStringLiteral("no toolbar button ") + argument;
    return false;
  }
  if (verb == QLatin1String("click") || verb == QLatin1String("dblclick")) {
    Modifiers m;
    const QStringList rest = takeModifiers(words, &m);
    QPointF at;
    if (!needView()) return false;
    if (rest.size() != 1 || !parsePoint(rest[0], &at)) {
      *error = QStringLiteral("%1 [left|right] [ctrl] [shift] x,y").arg(verb);
      return false;
    }
    const bool twice = verb == QLatin1String("dblclick");
    return watched(
        [&] {
          sendMouse(view, QEvent::MouseButtonPress, at, m.button, m.button, m.keys);
          sendMouse(view, QEvent::MouseButtonRelease, at, m.button, Qt::NoButton, m.keys);
          if (twice) {
            sendMouse(view, QEvent::MouseButtonDblClick, at, m.button, m.button, m.keys);
            sendMouse(view, QEvent::MouseButtonRelease, at, m.button, Qt::NoButton, m.keys);
          }
        },
        error);
  }
  if (verb == QLatin1String("move")) {
    QPointF at;
    if (!needView()) return false;
    if (words.size() != 1 || !parsePoint(words[0], &at)) {
      *error = QStringLiteral("move x,y");
      return false;
    }
    return watched([&] { sendMouse(view, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton, Qt::NoModifier); }, error);
  }
  if (verb == QLatin1String("expect-label")) {
    const QString name = words.value(0), text = argument.section(QLatin1Char(' '), 1);
    QString seen;
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (!top->isVisible()) continue;
      for (QLabel* label : top->findChildren<QLabel*>(name)) {
        if (label->text().contains(text)) return true;
        seen = label->text();
      }
    }
    return notHeld(seen.isNull() ? QStringLiteral("no visible label ") + name
                                 : QStringLiteral("the label %1 reads \"%2\"").arg(name, seen));
  }
  if (verb == QLatin1String("drag")) {
    Modifiers m;
    const QStringList rest = takeModifiers(words, &m);
    QPointF from, to;
    bool okSteps = false;
    const int steps = rest.size() == 3 ? rest[2].toInt(&okSteps) : 0;
    if (!needView()) return false;
    if (rest.size() != 3 || !parsePoint(rest[0], &from) || !parsePoint(rest[1], &to) || !okSteps || steps < 1) {
      *error = QStringLiteral("drag <left|right> [ctrl] x0,y0 x1,y1 <steps>");
      return false;
    }
    return watched(
        [&] {
          sendMouse(view, QEvent::MouseButtonPress, from, m.button, m.button, m.keys);
          for (int i = 1; i <= steps; ++i)
            sendMouse(view, QEvent::MouseMove, from + (to - from) * (double(i) / steps), Qt::NoButton, m.button, m.keys);
          sendMouse(view, QEvent::MouseButtonRelease, to, m.button, Qt::NoButton, m.keys);
        },
        error);
  }
  if (verb == QLatin1String("wheel")) {
    Modifiers m;
    const QStringList rest = takeModifiers(words, &m);
    QPointF at;
    bool okNotches = false;
    const int notches = rest.size() == 2 ? rest[0].toInt(&okNotches) : 0;
    if (!needView()) return false;
    if (rest.size() != 2 || !okNotches || !parsePoint(rest[1], &at)) {
      *error = QStringLiteral("wheel [ctrl] <notches> x,y");
      return false;
    }
    QWheelEvent event(at, view->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, m.keys,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &event);
    return true;
  }
  if (verb == QLatin1String("key")) {
    Modifiers m;
    QStringList rest = words;
    if (rest.size() == 2 && rest[1].toLower() == QLatin1String("ctrl")) {
      m.keys |= Qt::ControlModifier;
      rest.pop_back();
    }
    const QKeySequence sequence = QKeySequence::fromString(rest.value(0));
    if (rest.size() != 1 || sequence.isEmpty()) {
      *error = QStringLiteral("key <name> [ctrl]");
      return false;
    }
    const QKeyCombination key = sequence[0];
    const QKeySequence pressed(QKeyCombination(m.keys | key.keyboardModifiers(), key.key()));
    // A shortcut of the frame's commands goes to its command, as the keyboard would have it (with the
    // commands' states brought up to date, as the idle update does before input).
    frame->UpdateCommandStates();
    for (QAction* action : frame->findChildren<QAction*>())
      if (action->shortcut() == pressed && action->isEnabled()) return watched([action] { action->trigger(); }, error);
    if (!needView()) return false;
    const QString text = key.key() == Qt::Key_Backspace ? QStringLiteral("\b")
                         : key.key() == Qt::Key_Escape  ? QStringLiteral("\x1b")
                         : key.key() == Qt::Key_Space   ? QStringLiteral(" ")
                         : key.key() < 0x80             ? QString(QChar(key.key())).toLower()
                                                        : QString();
    return watched(
        [&] {
          QKeyEvent press(QEvent::KeyPress, key.key(), m.keys | key.keyboardModifiers(), text);
          QApplication::sendEvent(view, &press);
          QKeyEvent release(QEvent::KeyRelease, key.key(), m.keys | key.keyboardModifiers(), text);
          QApplication::sendEvent(view, &release);
        },
        error);
  }
  if (verb == QLatin1String("expect-status")) {
    const QString shown = frame->StatusBarCtrl()->PaneText();
    if (!shown.contains(argument)) return notHeld(QStringLiteral("the status reads \"%1\"").arg(shown));
    return true;
  }
  if (verb == QLatin1String("expect-window")) {
    CDrawView* v = activeView();
    CDrawSet* set = v ? v->GetActiveSet() : nullptr;
    CVol* vol = set ? set->WorkVolNonRoi() : nullptr;
    CDrawVol* layer = vol ? set->GetLayerOfVol(vol) : nullptr;
    bool okLevel = false, okWidth = false;
    const double level = words.value(0).toDouble(&okLevel), width = words.value(1).toDouble(&okWidth);
    if (!okLevel || !okWidth) {
      *error = QStringLiteral("expect-window <level> <width>");
      return false;
    }
    if (!layer) return notHeld(QStringLiteral("no operand layer"));
    const auto near = [](double a, double b) { return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b)); };
    if (!near(layer->filter.level, level) || !near(layer->filter.width, width))
      return notHeld(QStringLiteral("the window is level %1 width %2").arg(layer->filter.level).arg(layer->filter.width));
    return true;
  }
  if (verb == QLatin1String("expect-layer")) {
    CDlgLayerCtrl* panel = TW_LayerPanel();
    bool okRow = false;
    const int row = words.value(0).toInt(&okRow);
    const QString name = argument.section(QLatin1Char(' '), 1).trimmed();
    if (!okRow) {
      *error = QStringLiteral("expect-layer <row> <name>");
      return false;
    }
    if (!panel) return notHeld(QStringLiteral("the Layers panel is not open"));
    QTreeWidgetItem* item = panel->Tree()->topLevelItem(row);
    const QString shown = item ? panel->Tree()->ItemText(item).section(QLatin1Char('\t'), 0, 0) : QString();
    if (shown != name) return notHeld(QStringLiteral("row %1 shows \"%2\"").arg(row).arg(shown));
    return true;
  }
  if (verb == QLatin1String("expect-roi-voxels")) {
    // "<n>" exactly, or ">n" more than n.
    const bool more = argument.startsWith(QLatin1Char('>'));
    bool ok = false;
    const qlonglong n = (more ? argument.mid(1) : argument).toLongLong(&ok);
    if (!ok) {
      *error = QStringLiteral("expect-roi-voxels <n> | ><n>");
      return false;
    }
    int64_t count = 0;
    if (!roiVoxels(&count, error)) return notHeld(*error);
    if (more ? count <= n : count != n) return notHeld(QStringLiteral("the ROI holds %1 voxels").arg(count));
    return true;
  }
  *error = QStringLiteral("unknown action ") + verb;
  return false;
}
