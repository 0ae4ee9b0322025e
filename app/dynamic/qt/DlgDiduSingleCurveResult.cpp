// The single-curve results window.

#include "DlgDiduSingleCurveResult.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "AppOptions.h"
#include "DynExpQtKit.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "UiHelpers.h"
#include "Vol.h"

using twkdx::colourOf;
using twkdx::toQt;

uint32_t CDlgDiduSingleCurveResult::background = 0xFFFFFF;
uint32_t CDlgDiduSingleCurveResult::dataColour = 0x800000;
uint32_t CDlgDiduSingleCurveResult::fitColour = 0x000080;

namespace {

// An axis value in the format of the dynamic axis kind; empty for other kinds.
CString axisText(int kind, double value, const CString& units) {
  switch (kind) {
    case 0: return FmtStr(L"%6.5lf %s", value, units.GetString());
    case 1: return FmtStr(L"%6.4lf %s", value, units.GetString());
    case 2: return FmtStr(L"%5.2lf %s", value, units.GetString());
    case 3: return FmtStr(L"%5.1lf %s", value, units.GetString());
    case 4: return FmtStr(L"%3.1lf %s", value, units.GetString());
    case 5: return FmtStr(L"%5.3lf %s", value, units.GetString());
    default: return CString();
  }
}

}  // namespace

CDlgDiduSingleCurveResult::CDlgDiduSingleCurveResult(const TW_SINGLECURVE& results, const CString& report,
                                                     QWidget* parent)
    : QDialog(parent), results_(results), report_(report) {
  CString caption = L"Dynamic Experiment Single Curve Results";
  if (CDynExp* host = TW_DynExpHost()) caption += L" : " + host->GetModelName(host->GetCurrentModel());
  setWindowTitle(toQt(caption));
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  curves_ = new QComboBox(this);
  offset_ = new QCheckBox(QStringLiteral("Offset signal"), this);
  offset_->setChecked(true);
  auto* reportButton = new QPushButton(QStringLiteral("Report"), this);
  top->addWidget(curves_, 1);
  top->addWidget(offset_);
  top->addWidget(reportButton);
  layout->addLayout(top);
  table_ = new QTreeWidget(this);
  table_->setHeaderLabels({QStringLiteral("name"), QStringLiteral("value"), QStringLiteral("units"),
                           QStringLiteral("solution bound"), QStringLiteral("spread %")});
  table_->setRootIsDecorated(false);
  table_->setColumnWidth(1, 192);
  table_->setColumnWidth(2, 96);
  table_->setColumnWidth(3, 240);
  table_->setColumnWidth(4, 96);
  layout->addWidget(table_);
  auto* plotGrid = new QGridLayout;
  plot_ = new QWidget(this);
  plot_->setMinimumSize(420, 220);
  plot_->installEventFilter(this);
  auto* yColumn = new QVBoxLayout;
  for (int i = 5; i >= 0; --i) {
    yLabels_[i] = new QLabel(this);
    yColumn->addWidget(yLabels_[i]);
    if (i > 0) yColumn->addStretch(1);
  }
  auto* xRow = new QHBoxLayout;
  for (int i = 0; i < 6; ++i) {
    xLabels_[i] = new QLabel(this);
    xRow->addWidget(xLabels_[i]);
    if (i < 5) xRow->addStretch(1);
  }
  plotGrid->addLayout(yColumn, 0, 0);
  plotGrid->addWidget(plot_, 0, 1);
  plotGrid->addLayout(xRow, 1, 1);
  layout->addLayout(plotGrid, 1);
  auto* colours = new QHBoxLayout;
  const wchar_t* names[3] = {L"Data Curve", L"Fit Curve", L"Background"};
  uint32_t* targets[3] = {&dataColour, &fitColour, &background};
  for (int i = 0; i < 3; ++i) {
    auto* b = new QPushButton(toQt(names[i]), this);
    uint32_t* target = targets[i];
    connect(b, &QPushButton::clicked, this, [this, target] { chooseColour(target); });
    swatches_[i] = new QLabel(this);
    swatches_[i]->setFixedSize(16, 16);
    swatches_[i]->setAutoFillBackground(true);
    colours->addWidget(swatches_[i]);
    colours->addWidget(b);
  }
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  colours->addStretch(1);
  colours->addWidget(ok);
  layout->addLayout(colours);
  connect(reportButton, &QPushButton::clicked, this, &CDlgDiduSingleCurveResult::OnReport);
  connect(offset_, &QCheckBox::toggled, plot_, [this] { plot_->update(); });

  // The dynamic axis, the measured and fitted curves in dynamic order.
  const CVol* vol = results_.vol;
  CString axisName;
  double* axis = nullptr;
  if (!vol || !vol->GetDynamicDimension(&axisName, &axisUnits_, &axis)) return;
  const int n = vol->T();
  axis_.assign(axis, axis + n);
  pf_free(&axis);
  if (axisName == L"TSL") {
    for (double& v : axis_) v *= 1000;
    axisUnits_ = L"ms";
  }
  kind_ = int(vol->GetDynType());
  for (int r = 0; r < results_.count; ++r) {
    const CVol* roi = results_.rois ? results_.rois[r] : nullptr;
    double* tac = vol->GetRoiTac(roi ? roi->frame : nullptr);
    if (!tac) return;
    std::vector<double> measured(tac, tac + n);
    pf_free(&tac);
    std::vector<double> fitted(size_t(n), 1e60);
    if (results_.fitted) std::copy_n(results_.fitted + int64_t(r) * (n + 1), n, fitted.begin());
    if (!vol->TacToDynamicOrder(measured.data()) || !vol->TacToDynamicOrder(fitted.data())) return;
    measured_.push_back(std::move(measured));
    fitted_.push_back(std::move(fitted));
    curves_->addItem(toQt(roi ? roi->name : CString(L"whole volume")));
  }
  connect(curves_, &QComboBox::currentIndexChanged, this, [this](int i) {
    fillTable(i);
    plot_->update();
  });
  fillTable(0);
  ready_ = true;
}

void CDlgDiduSingleCurveResult::fillTable(int curve) {
  table_->clear();
  if (curve < 0) return;
  for (int j = 0; j < results_.nReq; ++j) {
    const TW_SINGLECURVEROW row = TW_SingleCurveRow(results_, curve, j);
    table_->addTopLevelItem(new QTreeWidgetItem(
        {toQt(row.name), toQt(row.value), toQt(row.units), toQt(row.bounds), toQt(row.spread)}));
  }
}

TW_PLOT_SCENE CDlgDiduSingleCurveResult::Scene(const TW_PANE_RECT& pane) {
  TW_PLOT_SCENE scene;
  scene.fillBackground = true;
  scene.background = background;
  const int c = curves_->currentIndex();
  if (c < 0 || c >= int(measured_.size()) || axis_.empty()) return scene;
  const int n = int(axis_.size());
  double lo = 1e60, hi = 1e60, lo2 = 1e60, hi2 = 1e60;
  TW_GetPlotRange(measured_[size_t(c)].data(), n, &lo, &hi);
  TW_GetPlotRange(fitted_[size_t(c)].data(), n, &lo2, &hi2);
  if (lo == 1e60) lo = lo2, hi = hi2;
  else if (lo2 != 1e60) lo = std::min(lo, lo2), hi = std::max(hi, hi2);
  if (lo == 1e60) return scene;
  if (!offset_->isChecked() && lo > 0) lo = 0;
  for (int i = 0; i < 6; ++i) yLabels_[i]->setText(toQt(FmtStr(L"%8.4lf", lo + i * (hi - lo) / 5)));
  const auto [amin, amax] = std::minmax_element(axis_.begin(), axis_.end());
  for (int i = 0; i < 6; ++i) {
    double v = *amin + i * (*amax - *amin) / 5;
    if (kind_ == 0) v -= axis_[0];  // time as the offset from the axis start
    xLabels_[i]->setText(toQt(axisText(kind_, v, axisUnits_)));
  }
  double yMin = lo, yMax = hi;
  TW_DrawPaneTac(&scene, &yMin, &yMax, pane, fitted_[size_t(c)].data(), axis_.data(), n, fitColour, 0xFFFFFFFF,
                 background, 0, nullptr, 0, false);
  yMin = lo, yMax = hi;
  TW_DrawPaneTac(&scene, &yMin, &yMax, pane, measured_[size_t(c)].data(), axis_.data(), n, dataColour, dataColour,
                 background, 3, nullptr, 0, false);
  return scene;
}

bool CDlgDiduSingleCurveResult::eventFilter(QObject* watched, QEvent* event) {
  if (watched == plot_ && event->type() == QEvent::Paint) {
    QPainter painter(plot_);
    const QRect r = plot_->rect();
    painter.fillRect(r, colourOf(background));
    const TW_PLOT_SCENE scene = Scene(TW_PANE_RECT{r.left(), r.top(), r.right(), r.bottom()});
    twkdx::paintScene(painter, scene);
    const uint32_t swatch[3] = {dataColour, fitColour, background};
    for (int i = 0; i < 3; ++i) {
      QPalette p = swatches_[i]->palette();
      p.setColor(QPalette::Window, colourOf(swatch[i]));
      swatches_[i]->setPalette(p);
    }
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void CDlgDiduSingleCurveResult::chooseColour(uint32_t* colour) {
  COLORREF chosen = *colour;
  if (!TW_ChooseColor(&chosen)) return;
  *colour = chosen;
  plot_->update();
}

void CDlgDiduSingleCurveResult::OnReport() { PR_NotepadExeOpenString(TW_Options().tempFolder.GetString(), report_.GetString()); }

bool TW_ShowSingleCurveResults(const TW_SINGLECURVE& results, const CString& report) {
  CDlgDiduSingleCurveResult window(results, report);
  if (!window.Ready()) return false;
  return twkdx::runModal([&window] { return window.exec() == QDialog::Accepted; });
}
