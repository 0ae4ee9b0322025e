#include "SplitThrDialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include "DrawView.h"
#include "Prompts.h"
#include "SplitThreshold.h"
#include "TwkMem.h"

namespace {

QString toQt(const CString& s) { return QString::fromStdWString(s.wstr()); }

std::function<bool(const std::function<bool()>&)> g_modalScope;

// The threshold shown with two significant decimals.
CString thresholdText(double v) { return FmtStr(L"%lf", std::round(v * 100.0) / 100.0); }

}  // namespace

CSplitThrDialog::CSplitThrDialog(CSplitThrSession& session, QWidget* parent) : QDialog(parent), session_(session) {
  auto* layout = new QVBoxLayout(this);
  auto* captions = new QHBoxLayout;
  captions->addWidget(new QLabel(toQt(FmtStr(L"%s<", session.LowerCaption().GetString())), this));
  value_ = new QLabel(this);
  value_->setObjectName("threshold");
  captions->addWidget(value_);
  captions->addWidget(new QLabel(toQt(FmtStr(L">%s", session.UpperCaption().GetString())), this));
  layout->addLayout(captions);
  auto* range = new QHBoxLayout;
  range->addWidget(new QLabel(toQt(FmtStr(L"[%lf", session.Minimum())), this));
  threshold_ = new QSlider(Qt::Horizontal, this);
  threshold_->setRange(0, 1000);
  threshold_->setFocusPolicy(Qt::NoFocus);
  range->addWidget(threshold_);
  range->addWidget(new QLabel(toQt(FmtStr(L"%lf]", session.Maximum())), this));
  layout->addLayout(range);
  opacity_ = new QSlider(Qt::Horizontal, this);
  opacity_->setRange(0, 100);
  opacity_->setValue(session.Opacity());
  opacity_->setFocusPolicy(Qt::NoFocus);
  layout->addWidget(opacity_);
  auto* buttons = new QHBoxLayout;
  auto* defaults = new QPushButton(QStringLiteral("Default"), this);
  auto* specify = new QPushButton(QStringLiteral("Specify"), this);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  for (QPushButton* b : {defaults, specify, ok, cancel}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  layout->addLayout(buttons);
  connect(threshold_, &QSlider::valueChanged, this, [this](int p) {
    session_.SetSliderPosition(p);
    refresh(false);
  });
  connect(opacity_, &QSlider::valueChanged, this, [this](int p) {
    session_.SetOpacity(p);
    refresh(false);
  });
  connect(defaults, &QPushButton::clicked, this, &CSplitThrDialog::OnDefault);
  connect(specify, &QPushButton::clicked, this, &CSplitThrDialog::OnSpecify);
  connect(ok, &QPushButton::clicked, this, &CSplitThrDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &CSplitThrDialog::reject);
  refresh(true);
}

void CSplitThrDialog::refresh(bool moveSlider) {
  if (moveSlider) {
    const QSignalBlocker block(threshold_);
    threshold_->setValue(session_.SliderPosition());
  }
  value_->setText(toQt(thresholdText(session_.Threshold())));
  setWindowTitle(toQt(session_.Title()));
}

void CSplitThrDialog::OnDefault() {
  session_.Default();
  refresh(true);
}

void CSplitThrDialog::OnSpecify() {
  double v = session_.Threshold();
  if (!TW_EnterDouble(L"Threshold", &v)) return;
  session_.SetThreshold(v);
  refresh(false);
}

void CSplitThrDialog::accept() {
  session_.Ok();
  QDialog::accept();
}

void CSplitThrDialog::reject() {
  session_.Cancel();
  QDialog::reject();
}

void CSplitThrDialog::keyPressEvent(QKeyEvent* event) {
  // The arrow keys page the view's slices while the dialog has the focus.
  const int key = event->key();
  const int code = key == Qt::Key_Left ? 37 : key == Qt::Key_Up ? 38 : key == Qt::Key_Right ? 39 : key == Qt::Key_Down ? 40 : 0;
  if (code && session_.View()) {
    session_.View()->ScrollSlices(code, 1);
    return;
  }
  QDialog::keyPressEvent(event);
}

void TW_InstallSplitThrDialog(std::function<bool(const std::function<bool()>&)> modalScope) {
  g_modalScope = std::move(modalScope);
  TW_SetSplitThrView([](CSplitThrSession& session) {
    CSplitThrDialog window(session, QApplication::activeWindow());
    auto run = [&window] { return window.exec() == QDialog::Accepted; };
    return g_modalScope ? g_modalScope(run) : run();
  });
}

void TW_RemoveSplitThrDialog() {
  g_modalScope = nullptr;
  TW_SetSplitThrView(nullptr);
}
