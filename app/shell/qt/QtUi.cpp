#include "QtUi.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringDecoder>
#include <QVBoxLayout>

#include <cmath>
#include <optional>

#include "MainFrame.h"
#include "ProgressPump.h"
#include "ToggleBar.h"

using twk::PromptField;

namespace {

QString toQt(const CString& s) { return QString::fromStdWString(s.wstr()); }
CString fromQt(const QString& s) { return CString(s.toStdWString()); }

QWidget* dialogParent() {
  if (QWidget* active = QApplication::activeModalWidget()) return active;
  return CMainFrame::Get();
}

// A prompt's fields as a form: numbers and texts in edits, flags as check boxes, choices as lists.
class PromptDialog : public QDialog {
 public:
  PromptDialog(const QString& title, std::vector<PromptField>& fields, QWidget* parent)
      : QDialog(parent), fields_(fields) {
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    for (PromptField& f : fields_) {
      QWidget* editor = nullptr;
      switch (f.kind) {
        case PromptField::Kind::Int:
          editor = new QLineEdit(QString::number(static_cast<long long>(f.number)), this);
          break;
        case PromptField::Kind::Double:
          editor = new QLineEdit(QString::number(f.number, 'g', 12), this);
          break;
        case PromptField::Kind::Text:
          editor = new QLineEdit(toQt(f.text), this);
          break;
        case PromptField::Kind::Bool: {
          auto* box = new QCheckBox(this);
          box->setChecked(f.number != 0);
          editor = box;
          break;
        }
        case PromptField::Kind::Choice: {
          auto* list = new QComboBox(this);
          for (const CString& c : f.choices) list->addItem(toQt(c));
          list->setCurrentIndex(int(f.number));
          editor = list;
          break;
        }
      }
      editors_.push_back(editor);
      form->addRow(new QLabel(toQt(f.label), this), editor);
    }
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &PromptDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    if (!editors_.empty()) editors_.front()->setFocus();
  }

  void accept() override {
    std::vector<PromptField> out = fields_;
    for (size_t i = 0; i < out.size(); ++i) {
      PromptField& f = out[i];
      QWidget* editor = editors_[i];
      switch (f.kind) {
        case PromptField::Kind::Int:
        case PromptField::Kind::Double: {
          bool ok = false;
          const QString text = static_cast<QLineEdit*>(editor)->text().trimmed();
          const double v = f.kind == PromptField::Kind::Int ? double(text.toLongLong(&ok)) : text.toDouble(&ok);
          if (!ok || !std::isfinite(v)) {
            QMessageBox::warning(this, QStringLiteral("Tarnwick"),
                                 f.kind == PromptField::Kind::Int ? QStringLiteral("Please enter an integer.")
                                                                  : QStringLiteral("Please enter a number."));
            editor->setFocus();
            return;
          }
          f.number = v;
          break;
        }
        case PromptField::Kind::Text: f.text = fromQt(static_cast<QLineEdit*>(editor)->text()); break;
        case PromptField::Kind::Bool: f.number = static_cast<QCheckBox*>(editor)->isChecked() ? 1 : 0; break;
        case PromptField::Kind::Choice: f.number = static_cast<QComboBox*>(editor)->currentIndex(); break;
      }
    }
    fields_ = out;
    QDialog::accept();
  }

 private:
  std::vector<PromptField>& fields_;
  std::vector<QWidget*> editors_;
};

// A text file shown in a window of its own (the program's Notepad).
QString readText(const CString& path, bool* ok) {
  QFile file(toQt(path));
  *ok = file.open(QIODevice::ReadOnly);
  if (!*ok) return QString();
  const QByteArray bytes = file.readAll();
  const bool utf16 = (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) ||
                     (bytes.size() >= 2 && bytes[1] == 0 && bytes[0] != 0);
  QStringDecoder decoder(utf16 ? QStringDecoder::Utf16LE : QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = decoder(bytes);
  if (!text.isEmpty() && text.front() == QChar(0xFEFF)) text.remove(0, 1);
  return text;
}

void applyRequest(QFileDialog& dialog, const twk::FileRequest& request) {
  const QStringList filters = TW_QtNameFilters(request.filter);
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    const int index = request.filterIndex > 0 ? request.filterIndex - 1 : 0;
    if (index < filters.size()) dialog.selectNameFilter(filters[index]);
  }
  if (!request.defaultExtension.IsEmpty()) dialog.setDefaultSuffix(toQt(request.defaultExtension));
  const QString initial = toQt(request.initialPath);
  const QFileInfo info(initial);
  if (!initial.isEmpty() && info.isDir()) {
    dialog.setDirectory(initial);
  } else if (!initial.isEmpty()) {
    dialog.setDirectory(info.absolutePath());
    dialog.selectFile(info.fileName());
  }
  if (!request.title.IsEmpty()) dialog.setWindowTitle(toQt(request.title));
}

}  // namespace

QStringList TW_QtNameFilters(const CString& filter) {
  QStringList out;
  const QStringList parts = toQt(filter).split(QLatin1Char('|'));
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    if (description.isEmpty()) break;
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& p : patterns) p = p.trimmed();
    out.append(description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')'));
  }
  return out;
}

int CQtUi::messageBox(const CString& text, const CString& caption, unsigned type) {
  messageTexts_.append(toQt(text));
  if (!queuedButtons_.empty()) {
    const int answer = queuedButtons_.front();
    queuedButtons_.pop_front();
    return answer;
  }
  TW_MODAL_SCOPE modal;
  QMessageBox box(dialogParent());
  box.setWindowTitle(toQt(caption.IsEmpty() ? CString(L"Tarnwick") : caption));
  box.setText(toQt(text));
  switch (type & 0xF0) {
    case MB_ICONSTOP: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::Warning); break;
  }
  struct Button {
    QMessageBox::StandardButton qt;
    int id;
  };
  std::vector<Button> buttons;
  switch (type & 0xF) {
    case MB_OKCANCEL: buttons = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}}; break;
    case MB_ABORTRETRYIGNORE:
      buttons = {{QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}};
      break;
    case MB_YESNOCANCEL:
      buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    case MB_YESNO: buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}}; break;
    case MB_RETRYCANCEL: buttons = {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}}; break;
    default: buttons = {{QMessageBox::Ok, IDOK}}; break;
  }
  QMessageBox::StandardButtons standard;
  for (const Button& b : buttons) standard |= b.qt;
  box.setStandardButtons(standard);
  const size_t defaultIndex = (type & MB_DEFBUTTON3) ? 2 : (type & MB_DEFBUTTON2) ? 1 : 0;
  if (defaultIndex < buttons.size()) box.setDefaultButton(buttons[defaultIndex].qt);
  const int pressed = box.exec();
  for (const Button& b : buttons)
    if (pressed == b.qt) return b.id;
  // Closed with Esc or the close box: the answer of the cancelling button.
  switch (type & 0xF) {
    case MB_YESNO: return IDNO;
    case MB_OK: return IDOK;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    default: return IDCANCEL;
  }
}

int CQtUi::threeButtons(const CString& text, const CString& caption, const CString& button0, const CString& button1,
                        const CString& button2) {
  TW_MODAL_SCOPE modal;
  QMessageBox box(dialogParent());
  box.setWindowTitle(toQt(caption));
  box.setText(toQt(text));
  box.setIcon(QMessageBox::NoIcon);
  const CString texts[3] = {button0, button1, button2};
  QPushButton* buttons[3];
  for (int i = 0; i < 3; ++i) {
    buttons[i] = box.addButton(toQt(texts[i]), QMessageBox::ActionRole);
    buttons[i]->setEnabled(!texts[i].IsEmpty());
    if (texts[i].IsEmpty()) buttons[i]->setText(QStringLiteral(" "));
  }
  box.exec();
  for (int i = 0; i < 3; ++i)
    if (box.clickedButton() == buttons[i]) return i;
  return 2;
}

bool CQtUi::askValues(const CString& title, std::vector<PromptField>& fields) {
  TW_MODAL_SCOPE modal;
  std::vector<PromptField> edited = fields;
  PromptDialog dialog(toQt(title), edited, dialogParent());
  if (dialog.exec() != QDialog::Accepted) return false;
  fields = edited;
  return true;
}

void CQtUi::QueueFileAnswer(const QStringList& paths) { queued_.push_back(paths); }

bool CQtUi::takeQueued(QStringList* paths) {
  if (queued_.empty()) return false;
  *paths = queued_.front();
  queued_.pop_front();
  return true;
}

std::optional<bool> CQtUi::takeQueuedPath(CString& path) {
  QStringList queued;
  if (!takeQueued(&queued)) return std::nullopt;
  if (queued.isEmpty()) return false;
  path = fromQt(queued.front());
  return true;
}

bool CQtUi::chooseOneFile(const twk::FileRequest& request, bool save, CString& path) {
  if (const std::optional<bool> answer = takeQueuedPath(path)) return *answer;
  TW_MODAL_SCOPE modal;
  QFileDialog dialog(dialogParent());
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  // The save pickers ask about replacing a file themselves, through the UI interface.
  if (save) dialog.setOption(QFileDialog::DontConfirmOverwrite);
  applyRequest(dialog, request);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  path = fromQt(dialog.selectedFiles().front());
  return true;
}

bool CQtUi::openFileName(const twk::FileRequest& request, CString& path) { return chooseOneFile(request, false, path); }

bool CQtUi::openFileNames(const twk::FileRequest& request, std::vector<CString>& paths) {
  QStringList chosen;
  if (!takeQueued(&chosen)) {
    TW_MODAL_SCOPE modal;
    QFileDialog dialog(dialogParent());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    applyRequest(dialog, request);
    if (dialog.exec() != QDialog::Accepted) return false;
    chosen = dialog.selectedFiles();
  }
  if (chosen.isEmpty()) return false;
  paths.clear();
  for (const QString& p : chosen) paths.push_back(fromQt(p));
  return true;
}

bool CQtUi::saveFileName(const twk::FileRequest& request, CString& path) { return chooseOneFile(request, true, path); }

bool CQtUi::folderName(const CString& title, const CString& initialFolder, CString& folder) {
  if (const std::optional<bool> answer = takeQueuedPath(folder)) return *answer;
  TW_MODAL_SCOPE modal;
  const QString chosen = QFileDialog::getExistingDirectory(dialogParent(), toQt(title), toQt(initialFolder));
  if (chosen.isEmpty()) return false;
  folder = fromQt(chosen);
  return true;
}

void CQtUi::setStatusText(const CString& text) { CMainFrame::SetStatusText(text.GetString()); }

void CQtUi::setProgress(int percent) {
  if (CMainFrame* frame = CMainFrame::Get())
    frame->StatusBarCtrl()->SetProgressPos(percent < 0 ? 0 : std::min(percent, 100));
}

void CQtUi::pumpEvents() { TW_PumpMessages(); }

bool CQtUi::showTextFile(const CString& path) {
  bool ok = false;
  const QString text = readText(path, &ok);
  if (!ok) return false;
  // A window of its own that closes with the main frame.
  auto* viewer = new QPlainTextEdit(CMainFrame::Get());
  viewer->setWindowFlag(Qt::Window);
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->setWindowTitle(QFileInfo(toQt(path)).fileName());
  viewer->setReadOnly(true);
  viewer->setLineWrapMode(QPlainTextEdit::NoWrap);
  viewer->setPlainText(text);
  viewer->resize(760, 520);
  viewer->show();
  return true;
}
