#include "RoiStat3DWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

std::function<bool(const std::function<bool()>&)> g_modalScope;
std::function<bool(CRoiStat3DWindow&)> g_script;

QString toQt(const CString& s) { return QString::fromStdWString(s.wstr()); }

RECT2D areaRect(const QWidget* w) { return RECT2D{0, 0, w->width(), w->height()}; }

bool runWindow(CDlgRoiStat3D& dialog) {
  CRoiStat3DWindow window(dialog, QApplication::activeWindow());
  if (g_script) {
    window.show();
    const bool ok = g_script(window);
    if (ok) window.accept();
    return ok;
  }
  auto run = [&window] { return window.exec() == QDialog::Accepted; };
  return g_modalScope ? g_modalScope(run) : run();
}

}  // namespace

// The histogram area: white, the bars and the model curves of the dialog's plot, and the cursor
// read-out while the mouse moves over it.
class CRoiStatHistogram : public QWidget {
 public:
  explicit CRoiStatHistogram(CRoiStat3DWindow* window) : QWidget(window), window_(window) {
    setMouseTracking(true);
    setMinimumSize(360, 180);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const CDlgRoiStat3D::Plot plot = window_->dialog_.PlotIn(areaRect(this));
    p.setPen(Qt::NoPen);
    for (const CDlgRoiStat3D::Bar& b : plot.bars)
      p.fillRect(QRect(QPoint(b.rect.left, b.rect.top), QPoint(b.rect.right - 1, b.rect.bottom)),
                 QColor(int(b.rgb >> 16) & 0xFF, int(b.rgb >> 8) & 0xFF, int(b.rgb) & 0xFF));
    p.setPen(QPen(QColor(255, 0, 0), 2));
    for (const auto& curve : plot.curves) {
      QPolygon line;
      for (const POINT2D& pt : curve) line << QPoint(pt.x, pt.y);
      p.drawPolyline(line);
    }
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    const QPoint at = e->position().toPoint();
    window_->cursor_->setText(toQt(window_->dialog_.CursorText(at.x(), at.y(), areaRect(this))));
  }
  void leaveEvent(QEvent*) override { window_->cursor_->clear(); }

 private:
  CRoiStat3DWindow* window_;
};

CRoiStat3DWindow::CRoiStat3DWindow(CDlgRoiStat3D& dialog, QWidget* parent) : QDialog(parent), dialog_(dialog) {
  setWindowTitle(toQt(dialog.Title()));
  auto* layout = new QVBoxLayout(this);

  auto* boxes = new QHBoxLayout;
  auto textBox = [this, boxes](const char* name) {
    auto* box = new QPlainTextEdit(this);
    box->setObjectName(QString::fromUtf8(name));
    box->setReadOnly(true);
    box->setMinimumWidth(110);
    boxes->addWidget(box);
    return box;
  };
  firstLabels_ = textBox("FirstOrderLabels");
  firstValues_ = textBox("FirstOrderValues");
  geometryLabels_ = textBox("GeometryLabels");
  geometryValues_ = textBox("GeometryValues");
  layout->addLayout(boxes);

  auto* peaks = new QHBoxLayout;
  for (QLabel** label : {&min_, &maxCount_, &maxBin_, &max_}) {
    *label = new QLabel(this);
    peaks->addWidget(*label);
  }
  layout->addLayout(peaks);
  area_ = new CRoiStatHistogram(this);
  area_->setObjectName(QStringLiteral("Histogram"));
  layout->addWidget(area_, 1);
  cursor_ = new QLabel(this);
  cursor_->setObjectName(QStringLiteral("Cursor"));
  layout->addWidget(cursor_);

  auto* grid = new QGridLayout;
  int row = 0;
  auto readOut = [&](const char* caption, QLabel** label, QPushButton* button) {
    grid->addWidget(new QLabel(QString::fromUtf8(caption), this), row, 0);
    *label = new QLabel(this);
    grid->addWidget(*label, row, 1);
    if (button) grid->addWidget(button, row, 2);
    ++row;
  };
  readOut("Bin width", &binWidth_, addButton("Bin Width", &CDlgRoiStat3D::OnBinWidth));
  readOut("Number of bins", &bins_, addButton("Number of Bins", &CDlgRoiStat3D::OnNumberOfBins));
  readOut("Range", &range_, addButton("Range", &CDlgRoiStat3D::OnRange));
  auto* rangeButtons = new QHBoxLayout;
  full_ = addButton("Full", &CDlgRoiStat3D::OnFull);
  rangeButtons->addWidget(full_);
  rangeButtons->addWidget(addButton("%", &CDlgRoiStat3D::OnRangePercent));
  clip_ = new QCheckBox(QStringLiteral("Clip"), this);
  clip_->setObjectName(QStringLiteral("Clip"));
  connect(clip_, &QCheckBox::clicked, this, [this] {
    readControls();
    dialog_.OnClip();
    Refresh();
  });
  rangeButtons->addWidget(clip_);
  grid->addLayout(rangeButtons, row++, 0, 1, 3);
  layout->addLayout(grid);

  auto* segmentation = new QGridLayout;
  method_ = new QComboBox(this);
  method_->setObjectName(QStringLiteral("Method"));
  method_->addItems({QStringLiteral("Otsu"), QStringLiteral("Bimodal Gauss ratio constrained"),
                     QStringLiteral("Bimodal Laplace ratio constrained"), QStringLiteral("Gaussian Mixture Model")});
  showModel_ = new QComboBox(this);
  showModel_->setObjectName(QStringLiteral("Show model"));
  showModel_->addItems({QStringLiteral("None"), QStringLiteral("All Curves"), QStringLiteral("Cumulative")});
  segments_ = new QSpinBox(this);
  segments_->setObjectName(QStringLiteral("Number of segments"));
  segments_->setRange(0, 10);
  segmentation->addWidget(new QLabel(QStringLiteral("Method"), this), 0, 0);
  segmentation->addWidget(method_, 0, 1);
  segmentation->addWidget(new QLabel(QStringLiteral("Show model"), this), 1, 0);
  segmentation->addWidget(showModel_, 1, 1);
  segmentation->addWidget(new QLabel(QStringLiteral("Number of segments"), this), 2, 0);
  segmentation->addWidget(segments_, 2, 1);
  segmentation->addWidget(addButton("Update", &CDlgRoiStat3D::OnUpdate), 0, 2);
  segmentation->addWidget(new QLabel(QStringLiteral("Thresholds:"), this), 3, 0);
  thresholds_ = new QLabel(this);
  thresholds_->setObjectName(QStringLiteral("Thresholds"));
  segmentation->addWidget(thresholds_, 3, 1, 1, 2);
  layout->addLayout(segmentation);

  clip_->setChecked(dialog_.clip != 0);
  method_->setCurrentIndex(dialog_.method);
  showModel_->setCurrentIndex(dialog_.showModel);
  segments_->setValue(dialog_.segments);
  connect(method_, &QComboBox::currentIndexChanged, this, [this] {
    readControls();
    dialog_.OnMethodChanged();
    Refresh();
  });
  connect(showModel_, &QComboBox::currentIndexChanged, this, [this] {
    readControls();
    dialog_.OnShowModelChanged();
    Refresh();
  });

  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(addButton("Save Stats", nullptr), QDialogButtonBox::ActionRole);
  connect(Button("Save Stats"), &QPushButton::clicked, this, [this] {
    readControls();
    dialog_.OnSaveStats();
  });
  buttons->addButton(QDialogButtonBox::Ok);
  buttons->addButton(QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  Refresh();
}

QPushButton* CRoiStat3DWindow::addButton(const char* caption, void (CDlgRoiStat3D::*action)()) {
  auto* button = new QPushButton(QString::fromUtf8(caption), this);
  button->setObjectName(QString::fromUtf8(caption));
  button->setAutoDefault(false);
  if (action)
    connect(button, &QPushButton::clicked, this, [this, action] {
      readControls();
      (dialog_.*action)();
      Refresh();
    });
  return button;
}

QPushButton* CRoiStat3DWindow::Button(const char* caption) const {
  return findChild<QPushButton*>(QString::fromUtf8(caption));
}

QString CRoiStat3DWindow::CursorText() const { return cursor_->text(); }
QString CRoiStat3DWindow::ThresholdsText() const { return thresholds_->text(); }

void CRoiStat3DWindow::readControls() {
  dialog_.clip = clip_->isChecked() ? 1 : 0;
  dialog_.method = method_->currentIndex();
  dialog_.showModel = showModel_->currentIndex();
  dialog_.segments = segments_->value();
}

void CRoiStat3DWindow::Refresh() {
  clip_->setChecked(dialog_.clip != 0);
  firstLabels_->setPlainText(toQt(dialog_.FirstOrderLabels()));
  firstValues_->setPlainText(toQt(dialog_.FirstOrderValues()));
  geometryLabels_->setPlainText(toQt(dialog_.GeometryLabels()));
  geometryValues_->setPlainText(toQt(dialog_.GeometryValues()));
  binWidth_->setText(toQt(dialog_.BinWidthText()));
  bins_->setText(toQt(dialog_.BinsText()));
  range_->setText(toQt(dialog_.RangeText()));
  maxCount_->setText(toQt(dialog_.MaxCountText()));
  min_->setText(toQt(dialog_.MinText()));
  max_->setText(toQt(dialog_.MaxText()));
  maxBin_->setText(toQt(dialog_.MaxBinText()));
  thresholds_->setText(toQt(dialog_.ThresholdsText()));
  full_->setEnabled(dialog_.FullEnabled());
  area_->update();
}

void CRoiStat3DWindow::accept() {
  readControls();
  dialog_.OnOK();
  QDialog::accept();
}

void TW_InstallRoiStat3DDialog(std::function<bool(const std::function<bool()>&)> modalScope) {
  g_modalScope = std::move(modalScope);
  TW_SetRoiStat3DView(runWindow);
}

void TW_RemoveRoiStat3DDialog() {
  g_modalScope = nullptr;
  TW_SetRoiStat3DView(nullptr);
}

void TW_SetRoiStat3DWindowScript(std::function<bool(CRoiStat3DWindow&)> script) { g_script = std::move(script); }
