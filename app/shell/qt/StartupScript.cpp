#include "StartupScript.h"

#include <QAction>
#include <QApplication>
#include <QAbstractButton>
#include <QDialog>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QSet>
#include <QTextStream>
#include <QTimer>
#include <QComboBox>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QWindow>

#include <cstdio>
#include <memory>
#include <utility>

#include "ColumnTreeCtrl.h"
#include "DlgLayerCtrl.h"
#include "DocumentFile.h"
#include "DrawApp.h"
#include "DrawDoc.h"
#include "DrawView.h"
#include "MainFrame.h"
#include "ProgressPump.h"
#include "QtUi.h"
#include "ToggleBar.h"
#include "TwkAnnLoader.h"
#include "TwkMem.h"
#include "TwkUi.h"

namespace {

// A menu text as shown: '&' marks a mnemonic, "&&" stands for a literal '&'.
QString plain(const QString& text) {
  QString shown;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] != QLatin1Char('&')) shown += text[i];
    else if (i + 1 < text.size() && text[i + 1] == QLatin1Char('&')) shown += text[++i];
  }
  return shown;
}

// The button id of a message-box answer named in a script.
int buttonByName(const QString& name) {
  static const std::pair<const char*, int> buttons[] = {
      {"OK", IDOK}, {"Cancel", IDCANCEL}, {"Yes", IDYES}, {"No", IDNO}};
  for (const auto& [text, id] : buttons)
    if (name.compare(QLatin1String(text), Qt::CaseInsensitive) == 0) return id;
  return 0;
}

CDrawDoc* activeDocument(CMainFrame* frame) {
  CDrawView* view = frame->ActiveView();
  return view ? view->GetDocument() : nullptr;
}

// Menu levels are separated by " > " (item texts may hold '/'), or by '/' in short paths.
QAction* findMenuAction(QMenuBar* bar, const QString& path) {
  const QStringList parts = path.contains(QStringLiteral(" > ")) ? path.split(QStringLiteral(" > "))
                                                                 : path.split(QLatin1Char('/'));
  if (parts.size() < 2) return nullptr;
  QList<QAction*> actions = bar->actions();
  QAction* found = nullptr;
  for (int level = 0; level < parts.size(); ++level) {
    found = nullptr;
    for (QAction* a : actions)
      if (plain(a->text()) == parts[level]) {
        found = a;
        break;
      }
    if (!found) return nullptr;
    if (level + 1 < parts.size()) {
      if (!found->menu()) return nullptr;
      emit found->menu()->aboutToShow();
      actions = found->menu()->actions();
    }
  }
  return found;
}

// The main window and every visible panel, composed at their screen positions.
QImage composeWindows(CMainFrame* frame) {
  QList<QWidget*> windows{frame};
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w != frame && w->isVisible() && !w->isMinimized()) windows.append(w);
  QRect area;
  for (QWidget* w : windows) area |= w->frameGeometry();
  QImage image(area.size(), QImage::Format_RGB32);
  image.fill(QColor(0x30, 0x30, 0x30));
  QPainter painter(&image);
  for (QWidget* w : windows) painter.drawPixmap(w->geometry().topLeft() - area.topLeft(), w->grab());
  return image;
}

class ScriptRunner : public QObject {
 public:
  explicit ScriptRunner(QStringList lines) : lines_(std::move(lines)) {}

  void next() {
    while (line_ < lines_.size()) {
      const QString text = lines_[line_++].trimmed();
      if (text.isEmpty() || text.startsWith(QLatin1Char('#'))) continue;
      const int space = text.indexOf(QLatin1Char(' '));
      const QString verb = space < 0 ? text : text.left(space);
      const QString argument = space < 0 ? QString() : text.mid(space + 1).trimmed();
      const qsizetype at = line_;
      int delay = 0;
      if (!run(verb, argument, &delay)) return;
      if (line_ == at) waiting_ = false;  // done: a line that waits steps back to run again
      QTimer::singleShot(delay, this, [this] { next(); });
      return;
    }
  }

 private:
  bool fail(const QString& why) {
    std::fprintf(stderr, "TARNWICK_SCRIPT line %d: %s\n", int(line_), why.toUtf8().constData());
    QCoreApplication::exit(3);
    return false;
  }

  bool run(const QString& verb, const QString& argument, int* delay) {
    CMainFrame* frame = CMainFrame::Get();
    CDrawApp* app = CDrawApp::Get();
    if (!frame || !app) return fail(QStringLiteral("the program is not running"));
    if (!started_) {
      const QWindow* window = frame->windowHandle();
      if (!window || !window->isExposed()) return retry(QStringLiteral("the main window is not shown"), delay);
      started_ = true;
    }
    if (verb == QLatin1String("files")) {
      auto* ui = dynamic_cast<CQtUi*>(&twk::ui());
      if (!ui) return fail(QStringLiteral("the program's dialogs are not installed"));
      ui->QueueFileAnswer(argument.split(QLatin1Char(' '), Qt::SkipEmptyParts));
    } else if (verb == QLatin1String("answer")) {
      auto* ui = dynamic_cast<CQtUi*>(&twk::ui());
      if (!ui) return fail(QStringLiteral("the program's dialogs are not installed"));
      const int button = buttonByName(argument);
      if (!button) return fail(QStringLiteral("no message-box button ") + argument);
      ui->QueueMessageAnswer(button);
    } else if (verb == QLatin1String("expect-answers-used")) {
      auto* ui = dynamic_cast<CQtUi*>(&twk::ui());
      if (ui && ui->HasQueuedAnswers()) return retry(QStringLiteral("a queued answer was not asked for"), delay);
    } else if (verb == QLatin1String("expect-message")) {
      auto* ui = dynamic_cast<CQtUi*>(&twk::ui());
      QString text = argument;
      text.replace(QLatin1String("\\n"), QLatin1String("\n"));
      if (!ui || !ui->MessageTexts().contains(text))
        return retry(QStringLiteral("no message \"%1\" was shown").arg(text), delay);
    } else if (verb == QLatin1String("set-modified")) {
      CDrawDoc* doc = activeDocument(frame);
      if (!doc) return retry(QStringLiteral("no active document"), delay);
      doc->SetModifiedFlag(true);
    } else if (verb == QLatin1String("expect-identical")) {
      CDrawDoc* doc = activeDocument(frame);
      if (!doc) return retry(QStringLiteral("no active document"), delay);
      const CString path(argument.toStdWString());
      std::unique_ptr<CDrawDoc> stored(TW_LoadDocumentNoView(path, false));
      bool identical = false;
      if (!stored || !TW_DocumentsIdentical(doc, stored.get(), &identical) || !identical)
        return retry(QStringLiteral("the active document differs from ") + argument, delay);
    } else if (verb == QLatin1String("menu")) {
      frame->UpdateCommandStates();
      QAction* action = findMenuAction(frame->menuBar(), argument);
      if (!action) return fail(QStringLiteral("no menu command ") + argument);
      if (!action->isEnabled()) return fail(QStringLiteral("menu command disabled: ") + argument);
      // A modal dialog runs its own event loop inside the command: the watch cancels it from there,
      // whatever it is, so that an unexpected message cannot hold the script.
      std::unique_ptr<QTimer> watch;
      QStringList shown;
      if (!dialogTitle_.isEmpty()) {
        watch = std::make_unique<QTimer>();
        QObject::connect(watch.get(), &QTimer::timeout, [this, &shown] {
          if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            shown.append(dialog->windowTitle());
            if (!dialogAccept_) {
              dialog->reject();
              return;
            }
            // The values go into the dialog's text fields in their order, then OK.
            const QList<QLineEdit*> edits = dialog->findChildren<QLineEdit*>();
            for (qsizetype i = 0; i < edits.size() && i < dialogValues_.size(); ++i) edits[i]->setText(dialogValues_[i]);
            dialog->accept();
          }
        });
        watch->start(50);
      }
      action->trigger();
      watch.reset();
      const QString expected = std::exchange(dialogTitle_, QString());
      if (!expected.isEmpty() && shown != QStringList{expected})
        return fail(QStringLiteral("expected the dialog %1, shown: %2").arg(expected, shown.join(QLatin1String(", "))));
      *delay = 50;
    } else if (verb == QLatin1String("cancel-dialog")) {
      dialogTitle_ = argument;
      dialogAccept_ = false;
    } else if (verb == QLatin1String("accept-dialog")) {
      const qsizetype equals = argument.indexOf(QStringLiteral(" = "));
      dialogTitle_ = equals < 0 ? argument : argument.left(equals).trimmed();
      dialogValues_ = equals < 0 ? QStringList() : argument.mid(equals + 3).split(QLatin1Char(' '), Qt::SkipEmptyParts);
      dialogAccept_ = true;
    } else if (verb == QLatin1String("wait")) {
      *delay = argument.toInt();
    } else if (verb == QLatin1String("expect-documents")) {
      if (int(app->Documents().size()) != argument.toInt())
        return retry(QStringLiteral("%1 documents open").arg(app->Documents().size()), delay);
    } else if (verb == QLatin1String("expect-network-library")) {
      if (!TW_TwkAnn().module) return retry(QStringLiteral("the network library is not loaded"), delay);
    } else if (verb == QLatin1String("expect-layers")) {
      CDlgLayerCtrl* panel = TW_LayerPanel();
      if (!panel) return retry(QStringLiteral("the Layers panel is not open"), delay);
      if (panel->Tree()->topLevelItemCount() != argument.toInt())
        return retry(QStringLiteral("the Layers panel shows %1 rows").arg(panel->Tree()->topLevelItemCount()), delay);
    } else if (verb == QLatin1String("expect-view-content")) {
      auto* view = dynamic_cast<QWidget*>(frame->ActiveView());
      if (!view) return retry(QStringLiteral("no active view"), delay);
      const QImage shot = view->grab().toImage();
      QSet<QRgb> colours;
      for (int y = 0; y < shot.height() && colours.size() < 64; y += 3)
        for (int x = 0; x < shot.width() && colours.size() < 64; x += 3) colours.insert(shot.pixel(x, y));
      if (colours.size() < 16) return retry(QStringLiteral("the view shows %1 colours").arg(colours.size()), delay);
    } else if (verb == QLatin1String("screenshot")) {
      if (!composeWindows(frame).save(argument, "PNG")) return fail(QStringLiteral("cannot write ") + argument);
    } else if (verb == QLatin1String("quit")) {
      frame->close();
    } else {
      bool handled = false;
      if (!runDialogAction(frame, verb, argument, delay, &handled)) return false;
      if (!handled) {
        QString error;
        bool notYet = false;
        const TW_SCRIPT_WATCHED watch = [this](const std::function<void()>& trigger, QString* why) {
          return watched(trigger, why);
        };
        if (!TW_RunViewScriptAction(verb, argument, watch, &error, delay, &notYet))
          return notYet ? retry(error, delay) : fail(error);
      }
    }
    return true;
  }

  // Runs the trigger; when the script expects a modal dialog, the watch cancels whatever modal
  // dialog the trigger opens (so that an unexpected message cannot hold the script) and checks that
  // it was the one expected.
  bool watched(const std::function<void()>& trigger, QString* error) {
    std::unique_ptr<QTimer> watch;
    QStringList shown;
    if (!dialogTitle_.isEmpty()) {
      watch = std::make_unique<QTimer>();
      QObject::connect(watch.get(), &QTimer::timeout, [&shown] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
          shown.append(dialog->windowTitle());
          dialog->reject();
        }
      });
      watch->start(50);
    }
    trigger();
    watch.reset();
    const QString expected = std::exchange(dialogTitle_, QString());
    if (!expected.isEmpty() && shown != QStringList{expected}) {
      *error = QStringLiteral("expected the dialog %1, shown: %2").arg(expected, shown.join(QLatin1String(", ")));
      return false;
    }
    return true;
  }

  // --- actions on modal dialogs ---

  // The dialog the user would work in: the modal one, else the last visible dialog.
  static QDialog* topDialog() {
    if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) return modal;
    QDialog* last = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) last = d;
    return last;
  }

  static QDialog* findDialog(const QString& title) {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible() && (d->windowTitle() == title || d->objectName() == title))
        return d;
    return nullptr;
  }

  static QTreeWidget* dialogTree(QDialog* dialog) {
    if (!dialog) return nullptr;
    if (auto* study = dialog->findChild<QTreeWidget*>(QStringLiteral("StudyTree"))) return study;
    return dialog->findChild<QTreeWidget*>();
  }

  static QTreeWidgetItem* findRow(QTreeWidget* tree, const QString& text) {
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
      if ((*it)->text(0).startsWith(text)) return *it;
    return nullptr;
  }

  static bool working() { return TW_PumpRunning() || PR_InWorkProcess(); }

  static int progressValue(CMainFrame* frame) { return frame->StatusBarCtrl()->ProgressPos(); }

  // Repeats the current line after a short pause; when it has waited longer than seconds, the script
  // fails with the failure text instead.
  bool retry(const QString& failure, int* delay, int seconds = kStateSeconds) {
    if (!waiting_) {
      waiting_ = true;
      waitClock_.start();
    }
    if (waitClock_.elapsed() > qint64(seconds) * 1000) {
      waiting_ = false;
      return fail(failure);
    }
    --line_;
    *delay = 20;
    return true;
  }

  // Repeats the current line after a short pause until the condition holds; false when it timed out.
  bool waitFor(bool done, int seconds, int* delay, const QString& what) {
    if (done) {
      waiting_ = false;
      return true;
    }
    return retry(QStringLiteral("timed out waiting for ") + what, delay, seconds);
  }

  bool runDialogAction(CMainFrame* frame, const QString& verb, const QString& argument, int* delay, bool* handled) {
    *handled = true;
    if (verb == QLatin1String("menu-start")) {
      frame->UpdateCommandStates();
      QAction* action = findMenuAction(frame->menuBar(), argument);
      if (!action) return fail(QStringLiteral("no menu command ") + argument);
      if (!action->isEnabled()) return fail(QStringLiteral("menu command disabled: ") + argument);
      QTimer::singleShot(0, action, [action] { action->trigger(); });
      *delay = 50;
    } else if (verb == QLatin1String("wait-dialog")) {
      return waitFor(findDialog(argument) != nullptr, 30, delay, QStringLiteral("the dialog ") + argument);
    } else if (verb == QLatin1String("wait-idle")) {
      return waitFor(!working(), 60, delay, QStringLiteral("the end of the operation"));
    } else if (verb == QLatin1String("wait-working")) {
      return waitFor(TW_PumpRunning() && PR_InWorkProcess(), 60, delay, QStringLiteral("an operation to run"));
    } else if (verb == QLatin1String("wait-progress")) {
      return waitFor(working() && progressValue(frame) >= argument.toInt(), 60, delay,
                     QStringLiteral("progress ") + argument);
    } else if (verb == QLatin1String("press")) {
      QAbstractButton* button = nullptr;
      QList<QDialog*> dialogs;
      if (QDialog* top = topDialog()) dialogs.append(top);
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible() && !dialogs.contains(d)) dialogs.append(d);
      for (QDialog* d : dialogs) {
        for (QAbstractButton* b : d->findChildren<QAbstractButton*>())
          if (b->isVisible() && plain(b->text()) == argument) {
            button = b;
            break;
          }
        if (button) break;
      }
      if (!button) return retry(QStringLiteral("no button ") + argument, delay);
      if (!button->isEnabled()) return retry(QStringLiteral("button disabled: ") + argument, delay);
      // Clicked from the event loop: a dialog or message it opens does not hold the script.
      QTimer::singleShot(0, button, [button] { button->click(); });
      *delay = 50;
    } else if (verb == QLatin1String("select-row") || verb == QLatin1String("tick-row")) {
      QTreeWidget* tree = dialogTree(topDialog());
      QTreeWidgetItem* row = tree ? findRow(tree, argument) : nullptr;
      if (!row) return retry(QStringLiteral("no row ") + argument, delay);
      if (verb == QLatin1String("select-row")) {
        tree->scrollToItem(row);
        tree->setCurrentItem(row);
      } else if (auto* columns = qobject_cast<CColumnTreeCtrl*>(tree)) {
        // As a click on the box: the tree toggles it and tells its owner.
        const QRect box = columns->CheckBoxRect(row);
        if (box.isEmpty()) return fail(QStringLiteral("the row has no check box: ") + argument);
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(box.center()), QPointF(columns->viewport()->mapToGlobal(box.center())),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(columns->viewport(), &press);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(box.center()),
                            QPointF(columns->viewport()->mapToGlobal(box.center())), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(columns->viewport(), &release);
      } else {
        row->setCheckState(0, row->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
      }
    } else if (verb == QLatin1String("choose")) {
      QDialog* top = topDialog();
      QComboBox* list = nullptr;
      int index = -1;
      for (QComboBox* c : top ? top->findChildren<QComboBox*>() : QList<QComboBox*>()) {
        for (int i = 0; i < c->count() && index < 0; ++i)
          if (c->itemText(i).startsWith(argument)) index = i;
        if (index >= 0) {
          list = c;
          break;
        }
      }
      if (!list) return retry(QStringLiteral("no list item ") + argument, delay);
      list->setCurrentIndex(index);
    } else if (verb == QLatin1String("esc-after")) {
      QTimer::singleShot(argument.toInt(), this, [this, frame] {
        escProgress_ = progressValue(frame);
        highestAfterEsc_ = escProgress_;
        stepsAfterEsc_ = 0;
        QWidget* window = QApplication::activeModalWidget();
        if (!window) window = QApplication::activeWindow();
        if (!window) window = frame;
        QWidget* target = window->focusWidget() ? window->focusWidget() : window;
        QApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        QApplication::postEvent(target, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier));
      });
      if (!progressWatch_) {
        progressWatch_ = true;
        QObject::connect(frame->StatusBarCtrl()->Progress(), &QProgressBar::valueChanged, this,
                         [this](int value) {
                           if (value <= highestAfterEsc_) return;
                           highestAfterEsc_ = value;
                           ++stepsAfterEsc_;
                         });
      }
      *delay = argument.toInt() + 50;
    } else if (verb == QLatin1String("expect-stopped")) {
      if (working()) return waitFor(false, 30, delay, QStringLiteral("the stopped operation to end"));
      waiting_ = false;
      if (escProgress_ < 0) return fail(QStringLiteral("no Esc was pressed"));
      // The key is posted: the report after the one it came in may still show (the pump of that
      // report delivers it); a second one means the work went on.
      if (stepsAfterEsc_ > 1)
        return fail(QStringLiteral("the work went on after Esc: progress %1 then %2").arg(escProgress_).arg(highestAfterEsc_));
    } else if (verb == QLatin1String("expect-dialog")) {
      if (!findDialog(argument)) return retry(QStringLiteral("no dialog ") + argument, delay);
    } else if (verb == QLatin1String("expect-no-dialog")) {
      if (findDialog(argument)) return retry(QStringLiteral("the dialog %1 is still shown").arg(argument), delay);
    } else if (verb == QLatin1String("expect-rows")) {
      QTreeWidget* tree = dialogTree(topDialog());
      if (!tree) return retry(QStringLiteral("no dialog tree"), delay);
      int rows = 0;
      for (QTreeWidgetItemIterator it(tree); *it; ++it) ++rows;
      if (rows != argument.toInt()) return retry(QStringLiteral("the dialog's tree holds %1 rows").arg(rows), delay);
    } else {
      *handled = false;
    }
    return true;
  }

  // How long a state that the script expects or needs may take to come.
  static constexpr int kStateSeconds = 30;

  QStringList lines_;
  qsizetype line_ = 0;
  bool started_ = false;  // the main window has been on the screen
  QString dialogTitle_;  // the dialog that the next menu command must show
  bool dialogAccept_ = false;
  QStringList dialogValues_;
  // Actions on modal dialogs.
  bool waiting_ = false;
  QElapsedTimer waitClock_;
  int escProgress_ = -1;      // the progress when Esc was pressed
  int highestAfterEsc_ = -1;  // the highest progress shown since
  int stepsAfterEsc_ = 0;     // the progress reports that moved it on since
  bool progressWatch_ = false;
};

}  // namespace

bool TW_RunStartupScript(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    std::fprintf(stderr, "TARNWICK_SCRIPT: cannot read %s\n", path.toUtf8().constData());
    return false;
  }
  QStringList lines;
  QTextStream in(&file);
  while (!in.atEnd()) lines.append(in.readLine());
  auto* runner = new ScriptRunner(lines);
  runner->setParent(QCoreApplication::instance());
  QTimer::singleShot(0, runner, [runner] { runner->next(); });
  return true;
}
