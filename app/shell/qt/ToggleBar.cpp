#include "ToggleBar.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QProgressBar>

namespace {

QColor fromColorref(uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

uint32_t toColorref(const QColor& c) { return uint32_t(c.red()) | uint32_t(c.green()) << 8 | uint32_t(c.blue()) << 16; }

}  // namespace

CToggleBar::CToggleBar(QWidget* parent) : QStatusBar(parent) {
  setObjectName(QStringLiteral("StatusBar"));
  text_ = new QLabel(this);
  text_->setObjectName(QStringLiteral("StatusText"));
  text_->setTextFormat(Qt::PlainText);
  addWidget(text_, 1);
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("Progress"));
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  // The progress pane is as wide as 52 blanks of the bar's font.
  progress_->setFixedWidth(QFontMetrics(font()).horizontalAdvance(QString(52, QLatin1Char(' '))) + 2);
  progress_->setAutoFillBackground(true);
  addPermanentWidget(progress_);
  ResetProgressBackground();
}

void CToggleBar::SetPaneText(const QString& text) {
  text_->setText(text);
  repaint();
}

QString CToggleBar::PaneText() const { return text_->text(); }

void CToggleBar::SetProgressPos(int percent) {
  progress_->setVisible(true);
  progress_->setValue(percent);
}

int CToggleBar::ProgressPos() const { return progress_->value(); }

void CToggleBar::SetProgressBackground(uint32_t colorref) {
  QPalette palette = progress_->palette();
  palette.setColor(QPalette::Base, fromColorref(colorref));
  palette.setColor(QPalette::Window, fromColorref(colorref));
  progress_->setPalette(palette);
}

void CToggleBar::ResetProgressBackground() {
  SetProgressBackground(toColorref(QApplication::palette().color(QPalette::Window)));
}

uint32_t CToggleBar::ProgressBackground() const { return toColorref(progress_->palette().color(QPalette::Base)); }

void CToggleBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    const QPoint p = event->position().toPoint();
    const QWidget* panes[2] = {text_, progress_};
    for (int i = 0; i < 2; ++i)
      if (panes[i]->geometry().contains(p)) {
        paneFlags_[i] = paneFlags_[i] ? 0 : 1;
        break;
      }
  }
  event->accept();
}
