// The ROI statistics 4D window.

#include "DlgRoiStat4D.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "DrawView.h"
#include "DynExpDialogs.h"
#include "DynExpQtKit.h"
#include "TwkMem.h"
#include "UiHelpers.h"
#include "Vol.h"
#include "ViewGeometry.h"

using twkdx::colourOf;
using twkdx::fromQt;
using twkdx::toQt;

CDlgRoiStat4D::CDlgRoiStat4D(TW_ROISTAT4D* state, QWidget* parent) : QDialog(parent), s_(state) {
  setWindowTitle(toQt(TW_RoiStat4DCaption(*s_)));
  auto* layout = new QVBoxLayout(this);
  auto* values = new QHBoxLayout;
  valueHigh_ = new QLabel(this);
  status_ = new QLabel(this);
  values->addWidget(valueHigh_);
  values->addStretch(1);
  values->addWidget(status_);
  layout->addLayout(values);
  plot_ = new QWidget(this);
  plot_->setMinimumSize(420, 240);
  plot_->installEventFilter(this);
  layout->addWidget(plot_, 1);
  valueLow_ = new QLabel(this);
  layout->addWidget(valueLow_);

  auto* info = new QGridLayout;
  start_ = new QLabel(this);
  end_ = new QLabel(this);
  units_ = new QLabel(this);
  axisLine_ = new QLabel(this);
  method_ = new QLabel(this);
  skipStart_ = new QLineEdit(QStringLiteral("0"), this);
  skipEnd_ = new QLineEdit(QStringLiteral("0"), this);
  label_ = new QLineEdit(toQt(s_->label), this);
  allTacs_ = new QCheckBox(QStringLiteral("All ROI TACs"), this);
  allTacs_->setEnabled(false);
  info->addWidget(new QLabel(QStringLiteral("Skip start timepoints"), this), 0, 0);
  info->addWidget(skipStart_, 0, 1);
  info->addWidget(start_, 0, 2);
  info->addWidget(new QLabel(QStringLiteral("Skip end timepoints"), this), 1, 0);
  info->addWidget(skipEnd_, 1, 1);
  info->addWidget(end_, 1, 2);
  info->addWidget(units_, 0, 3);
  info->addWidget(axisLine_, 2, 0, 1, 4);
  info->addWidget(method_, 3, 0, 1, 2);
  info->addWidget(label_, 3, 2);
  info->addWidget(allTacs_, 3, 3);
  layout->addLayout(info);

  auto* buttons = new QGridLayout;
  auto add = [&](const wchar_t* text, int row, int col, auto slot) {
    auto* b = new QPushButton(toQt(text), this);
    b->setObjectName(toQt(text));
    connect(b, &QPushButton::clicked, this, slot);
    buttons->addWidget(b, row, col);
  };
  add(L"Concentration", 0, 0, [this] { OnConcentration(); });
  add(L"Go to Peak", 0, 1, [this] {
    int k = 0;
    if (TW_RoiStat4DPeak(*s_, &k)) TW_RoiStat4DGoTo(*s_, k);
  });
  add(L"Go to Bolus arrival", 0, 2, [this] {
    int k = 0;
    if (TW_RoiStat4DBolusArrival(*s_, &k)) TW_RoiStat4DGoTo(*s_, k);
  });
  add(L"Background", 0, 3, [this] {
    COLORREF colour = s_->background;
    if (TW_ChooseColor(&colour)) {
      s_->background = colour;
      plot_->update();
    }
  });
  add(L"Save ", 1, 0, [this] {
    s_->label = fromQt(label_->text());
    TW_RoiStat4DSave(*s_);
  });
  add(L"Copy to Clipboard", 1, 1, [this] {
    s_->label = fromQt(label_->text());
    TW_RoiStat4DCopy(*s_);
  });
  add(L"Gamma-variate fit", 1, 2, [this] { TW_RoiStat4DGammaFit(*s_); });
  add(L"OK", 1, 3, [this] { accept(); });
  layout->addLayout(buttons);

  connect(skipStart_, &QLineEdit::editingFinished, this, &CDlgRoiStat4D::OnSkipChanged);
  connect(skipEnd_, &QLineEdit::editingFinished, this, &CDlgRoiStat4D::OnSkipChanged);
  connect(allTacs_, &QCheckBox::toggled, this, [this](bool on) {
    s_->allRoiTacs = on;
    plot_->update();
  });
  refreshInfo();
}

void CDlgRoiStat4D::refreshInfo() {
  const TW_ROISTAT4DINFO info = TW_RoiStat4DInfo(*s_);
  start_->setText(toQt(info.start));
  end_->setText(toQt(info.end));
  units_->setText(toQt(info.units));
  axisLine_->setText(toQt(info.axisLine));
  method_->setText(toQt(info.method));
}

void CDlgRoiStat4D::OnSkipChanged() {
  bool ok = false;
  const int a = skipStart_->text().trimmed().toInt(&ok);
  if (ok && a >= 0 && a <= 10000) s_->skipStart = a;
  else skipStart_->setText(QString::number(s_->skipStart));
  const int b = skipEnd_->text().trimmed().toInt(&ok);
  if (ok && b >= 0 && b <= 10000) s_->skipEnd = b;
  else skipEnd_->setText(QString::number(s_->skipEnd));
  refreshInfo();
  plot_->update();
}

void CDlgRoiStat4D::OnConcentration() {
  TW_DlgConcConv(this, 511, false, &s_->conc, TW_FirstDicom(s_->vol));
  refreshInfo();
  plot_->update();
}

TW_PLOT_SCENE CDlgRoiStat4D::Scene(const TW_PANE_RECT& pane) {
  TW_PLOT_SCENE scene;
  scene.fillBackground = true;
  scene.background = s_->background;
  status_->clear();
  std::vector<double> probe;
  if (!s_->curves.empty() && !TW_RoiStat4DConverted(*s_, 0, &probe)) {
    status_->setText(QStringLiteral("Invalid concentration conversion"));
    return scene;
  }
  double low = 0, high = 0;
  if (!TW_RoiStat4DValueRange(*s_, &low, &high)) return scene;
  valueLow_->setText(toQt(FmtStr(L"%e", low)));
  valueHigh_->setText(toQt(FmtStr(L"%e", high)));
  int first = 0, last = 0;
  TW_RoiStat4DSpan(*s_, &first, &last);
  const int shown = s_->allRoiTacs ? int(s_->curves.size()) : 1;
  for (int i = 0; i < shown; ++i) {
    std::vector<double> conc;
    if (!TW_RoiStat4DConverted(*s_, i, &conc)) continue;
    double yMin = low, yMax = high;
    TW_DrawPaneTac(&scene, &yMin, &yMax, pane, conc.data(), s_->axis.data() + first, last - first,
                   s_->colours[size_t(i)], s_->colours[size_t(i)], s_->background, 2, nullptr, 0, false);
  }
  return scene;
}

bool CDlgRoiStat4D::eventFilter(QObject* watched, QEvent* event) {
  if (watched == plot_ && event->type() == QEvent::Paint) {
    QPainter painter(plot_);
    const QRect r = plot_->rect();
    painter.fillRect(r, colourOf(s_->background));
    const TW_PLOT_SCENE scene = Scene(TW_PANE_RECT{r.left(), r.top(), r.right(), r.bottom()});
    twkdx::paintScene(painter, scene);
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void CDlgRoiStat4D::keyPressEvent(QKeyEvent* event) {
  // The arrows scroll the view (its time points) as in the view itself.
  if ((event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) && s_->view) {
    s_->view->OnViewKey(event->key() == Qt::Key_Left ? TW_VK_LEFT : TW_VK_RIGHT, false);
    plot_->update();
    return;
  }
  QDialog::keyPressEvent(event);
}
