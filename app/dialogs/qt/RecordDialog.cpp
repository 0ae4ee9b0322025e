#include "RecordDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QSignalBlocker>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

twk::DialogScript* g_script = nullptr;
std::function<bool(const std::function<bool()>&)> g_modalScope;

QString toQt(const CString& s) { return QString::fromStdWString(s.wstr()); }
CString fromQt(const QString& s) { return CString(s.toStdWString()); }

bool runWindow(const TW_DIALOG& dialog, TW_DIALOG_VALUES& values, bool silent) {
  CRecordDialog window(dialog, values, QApplication::activeWindow());
  if (silent) {
    // Created and shown, then its OK step at once: the stored values pass its checks.
    window.show();
    const bool ok = window.OnOK();
    if (ok) values = window.Values();
    return ok;
  }
  bool accepted = false;
  if (g_script) {
    g_script->titles.push_back(dialog.title);
    window.show();
    accepted = g_script->play(window);
  } else {
    auto run = [&window] { return window.exec() == QDialog::Accepted; };
    accepted = g_modalScope ? g_modalScope(run) : run();
  }
  if (accepted) values = window.Values();
  return accepted;
}

}  // namespace

CRecordDialog::CRecordDialog(const TW_DIALOG& dialog, const TW_DIALOG_VALUES& values, QWidget* parent)
    : QDialog(parent), dialog_(dialog), base_(values) {
  base_.fields = &dialog_.fields;
  setWindowTitle(toQt(dialog.title));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  for (size_t i = 0; i < dialog.fields.size(); ++i) {
    const TW_DIALOG_FIELD& f = dialog.fields[i];
    QWidget* editor = nullptr;
    switch (f.kind) {
      case TW_DIALOG_FIELD::Kind::Integer:
      case TW_DIALOG_FIELD::Kind::Real:
      case TW_DIALOG_FIELD::Kind::Text: {
        auto* edit = new QLineEdit(toQt(values.texts[i]), this);
        connect(edit, &QLineEdit::textChanged, this, [this, i] { changed(int(i)); });
        editor = edit;
        break;
      }
      case TW_DIALOG_FIELD::Kind::Check: {
        auto* box = new QCheckBox(this);
        box->setChecked(values.states[i] != 0);
        connect(box, &QCheckBox::toggled, this, [this, i] { changed(int(i)); });
        editor = box;
        break;
      }
      case TW_DIALOG_FIELD::Kind::Choice: {
        auto* list = new QComboBox(this);
        for (const CString& item : f.choices) list->addItem(toQt(item));
        list->setCurrentIndex(values.states[i]);
        connect(list, &QComboBox::currentIndexChanged, this, [this, i] { changed(int(i)); });
        editor = list;
        break;
      }
    }
    editor->setObjectName(toQt(f.label));
    editors_.push_back(editor);
    form->addRow(new QLabel(toQt(f.label), this), editor);
  }
  layout->addLayout(form);
  for (size_t b = 0; b < dialog.buttons.size(); ++b) {
    auto* button = new QPushButton(toQt(dialog.buttons[b].label), this);
    button->setObjectName(toQt(dialog.buttons[b].label));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, b] { pressed(b); });
    layout->addWidget(button);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &CRecordDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  updateEnabled();
}

TW_DIALOG_VALUES CRecordDialog::Values() const {
  TW_DIALOG_VALUES v = base_;
  for (size_t i = 0; i < editors_.size(); ++i) {
    if (auto* edit = qobject_cast<QLineEdit*>(editors_[i])) v.texts[i] = fromQt(edit->text());
    else if (auto* box = qobject_cast<QCheckBox*>(editors_[i])) v.states[i] = box->isChecked() ? 1 : 0;
    else if (auto* list = qobject_cast<QComboBox*>(editors_[i])) v.states[i] = list->currentIndex();
  }
  return v;
}

QWidget* CRecordDialog::Editor(const wchar_t* label) const {
  const int i = base_.IndexOf(label);
  return i >= 0 ? editors_[size_t(i)] : nullptr;
}

void CRecordDialog::updateEnabled() {
  const TW_DIALOG_VALUES v = Values();
  for (size_t i = 0; i < editors_.size(); ++i) editors_[i]->setEnabled(v.Enabled(i));
}

void CRecordDialog::changed(int field) {
  if (dialog_.onChange) {
    const TW_DIALOG_VALUES before = Values();
    TW_DIALOG_VALUES after = before;
    dialog_.onChange(after, field);
    showValues(before, after);
  }
  updateEnabled();
}

void CRecordDialog::pressed(size_t button) {
  if (button >= dialog_.buttons.size() || !dialog_.buttons[button].press) return;
  const TW_DIALOG_VALUES before = Values();
  TW_DIALOG_VALUES after = before;
  dialog_.buttons[button].press(after);
  showValues(before, after);
  updateEnabled();
}

void CRecordDialog::showValues(const TW_DIALOG_VALUES& before, const TW_DIALOG_VALUES& after) {
  {
    // Only fields whose value the reaction changed are rewritten, so an edit being typed keeps
    // its cursor.
    for (size_t i = 0; i < editors_.size(); ++i) {
      const QSignalBlocker block(editors_[i]);
      if (auto* edit = qobject_cast<QLineEdit*>(editors_[i])) {
        if (after.texts[i] != before.texts[i]) edit->setText(toQt(after.texts[i]));
      } else if (auto* box = qobject_cast<QCheckBox*>(editors_[i])) {
        if (after.states[i] != before.states[i]) box->setChecked(after.states[i] != 0);
      } else if (auto* list = qobject_cast<QComboBox*>(editors_[i])) {
        if (after.states[i] != before.states[i]) list->setCurrentIndex(after.states[i]);
      }
    }
  }
}

bool CRecordDialog::OnOK() {
  int bad = -1;
  if (!TW_CheckDialogValues(dialog_, Values(), &bad)) {
    if (bad >= 0) editors_[size_t(bad)]->setFocus();
    return false;
  }
  QDialog::accept();
  return true;
}

void CRecordDialog::accept() { OnOK(); }

void TW_InstallRecordDialog(std::function<bool(const std::function<bool()>&)> modalScope) {
  g_modalScope = std::move(modalScope);
  TW_SetDialogView(runWindow);
}

void TW_RemoveRecordDialog() {
  g_modalScope = nullptr;
  TW_SetDialogView(nullptr);
}

namespace twk {

DialogScript& DialogScript::set(const CString& label, const CString& text) {
  steps_.push_back({STEP::Kind::Set, label, text, 0});
  return *this;
}
DialogScript& DialogScript::check(const CString& label, bool on) {
  steps_.push_back({STEP::Kind::Check, label, CString(), on ? 1 : 0});
  return *this;
}
DialogScript& DialogScript::choose(const CString& label, int index) {
  steps_.push_back({STEP::Kind::Choose, label, CString(), index});
  return *this;
}
DialogScript& DialogScript::press(const CString& label) {
  steps_.push_back({STEP::Kind::Press, label, CString(), 0});
  return *this;
}
DialogScript& DialogScript::ok() {
  steps_.push_back({STEP::Kind::Ok, CString(), CString(), 0});
  return *this;
}
DialogScript& DialogScript::cancel() {
  steps_.push_back({STEP::Kind::Cancel, CString(), CString(), 0});
  return *this;
}

bool DialogScript::play(CRecordDialog& window) {
  while (!steps_.empty()) {
    const STEP step = steps_.front();
    steps_.pop_front();
    QWidget* editor = step.label.IsEmpty() ? nullptr : window.Editor(step.label);
    switch (step.kind) {
      case STEP::Kind::Set:
        if (auto* edit = qobject_cast<QLineEdit*>(editor); edit && edit->isEnabled()) edit->setText(toQt(step.text));
        break;
      case STEP::Kind::Check:
        if (auto* box = qobject_cast<QCheckBox*>(editor); box && box->isEnabled()) box->setChecked(step.number != 0);
        break;
      case STEP::Kind::Choose:
        if (auto* list = qobject_cast<QComboBox*>(editor); list && list->isEnabled()) list->setCurrentIndex(step.number);
        break;
      case STEP::Kind::Press:
        if (auto* button = window.findChild<QPushButton*>(toQt(step.label)); button && button->isEnabled())
          button->click();
        break;
      case STEP::Kind::Ok:
        if (window.OnOK()) return true;
        break;
      case STEP::Kind::Cancel:
        window.reject();
        return false;
    }
  }
  window.reject();
  return false;
}

ScopedDialogScript::ScopedDialogScript(DialogScript& script) : previous_(g_script) { g_script = &script; }
ScopedDialogScript::~ScopedDialogScript() { g_script = previous_; }

}  // namespace twk
