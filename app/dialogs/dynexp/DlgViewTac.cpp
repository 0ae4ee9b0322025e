// The curve window.

#include "DlgViewTac.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "AppOptions.h"
#include "ConcConv.h"
#include "DrawSet.h"
#include "DynExpDialogs.h"
#include "DynExpQtKit.h"
#include "FilePickers.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"

using twkdx::colourOf;
using twkdx::toQt;

namespace {
constexpr double kVoid = 1e60;
}

CDlgViewTac::CDlgViewTac(QWidget* /*parent*/, const wchar_t* title, const wchar_t* valueName,
                         const wchar_t* valueUnits, const wchar_t* argName, const wchar_t* argUnits,
                         VA_CONCCONV* conc, const VA_TISSUEATTRIB* attrib, bool enableConcentration)
    : QDialog(nullptr),
      title_(title ? title : L"Dynamic Activity Curve"),
      valueName_(valueName ? valueName : L""),
      valueUnits_(valueUnits ? valueUnits : L""),
      argName_(argName ? argName : L""),
      argUnits_(argUnits ? argUnits : L"") {
  own_.manualBaseline = 1;
  own_.averageNext = 1;
  conc_ = conc ? conc : &own_;
  if (attrib) attrib_ = *attrib;
  else attrib_.t1 = 1.0;

  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  valueMax_ = new QLabel(this);
  valueUnitsLabel_ = new QLabel(toQt(valueUnits_), this);
  top->addWidget(valueMax_);
  top->addWidget(valueUnitsLabel_);
  top->addStretch(1);
  layout->addLayout(top);
  pane_ = new QGroupBox(this);
  pane_->setMinimumSize(360, 220);
  pane_->installEventFilter(this);
  layout->addWidget(pane_, 1);
  auto* bottom = new QHBoxLayout;
  timeMin_ = new QLabel(this);
  timeMax_ = new QLabel(this);
  argUnitsLabel_ = new QLabel(toQt(argUnits_), this);
  bottom->addWidget(timeMin_);
  bottom->addStretch(1);
  bottom->addWidget(timeMax_);
  bottom->addWidget(argUnitsLabel_);
  layout->addLayout(bottom);
  auto* controls = new QHBoxLayout;
  auto* attributes = new QPushButton(QStringLiteral("Attributes"), this);
  concButton_ = new QPushButton(QStringLiteral("Concentration"), this);
  concButton_->setEnabled(enableConcentration);
  radiusText_ = new QLabel(this);
  auto* up = new QToolButton(this);
  up->setArrowType(Qt::UpArrow);
  auto* down = new QToolButton(this);
  down->setArrowType(Qt::DownArrow);
  twoD_ = new QCheckBox(QStringLiteral("2D"), this);
  twoD_->setChecked(true);
  allLayers_ = new QCheckBox(QStringLiteral("Show all layers"), this);
  auto* save = new QPushButton(QStringLiteral("Save"), this);
  for (QWidget* w : std::initializer_list<QWidget*>{attributes, concButton_, radiusText_, up, down, twoD_, allLayers_, save})
    controls->addWidget(w);
  layout->addLayout(controls);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  connect(attributes, &QPushButton::clicked, this, &CDlgViewTac::OnAttributes);
  connect(concButton_, &QPushButton::clicked, this, &CDlgViewTac::OnConcentration);
  connect(up, &QToolButton::clicked, this, [this] { OnSpin(0); });
  connect(down, &QToolButton::clicked, this, [this] { OnSpin(1); });
  connect(save, &QPushButton::clicked, this, &CDlgViewTac::OnSave);
  radiusText_->setText(QStringLiteral("radius 0 voxels"));
  setCaption();
}

bool CDlgViewTac::Is2D() const { return twoD_->isChecked(); }

void CDlgViewTac::SetCurves(int tag, const double* const* curves, int count, const uint32_t* colours,
                            const double* times, int n) {
  curves_.clear();
  converted_.clear();
  colours_.clear();
  times_.clear();
  tag_ = tag;
  n_ = 0;
  if (!curves || !times || count < 0 || n < 0) return;
  for (int i = 0; i < count; ++i) {
    curves_.emplace_back(curves[i], curves[i] + n);
    // Without colours the ROI palette is cycled, so any number of curves has one.
    colours_.push_back(colours ? colours[i] : uint32_t(TW_RoiPaletteColour(i)));
  }
  times_.assign(times, times + n);
  n_ = n;
  if (n > 0) {
    const auto [lo, hi] = std::minmax_element(times_.begin(), times_.end());
    timeMin_v = *lo;
    timeMax_v = *hi;
    // Absolute clock times (seconds since an epoch) are labelled from 0.
    if (timeMin_v > 1e9) {
      timeMax_v -= timeMin_v;
      timeMin_v = 0;
    }
  }
  rebuild();
}

void CDlgViewTac::rebuild() {
  converted_ = curves_;
  for (auto& curve : converted_) VA_TacToConc(&attrib_, conc_, curve.data(), n_);
  updateLabels();
  pane_->update();
}

void CDlgViewTac::setCaption() {
  CString name;
  VA_GetConcentrationName(int(conc_->method), &name);
  setWindowTitle(toQt(title_ + L" : " + name));
}

bool CDlgViewTac::PlotRange(double* min, double* max) const {
  double lo = kVoid, hi = -kVoid;
  bool any = false;
  for (const auto& curve : converted_) {
    double cmin = kVoid, cmax = kVoid;
    TW_GetPlotRange(curve.data(), n_, &cmin, &cmax);
    if (cmin == kVoid) continue;
    any = true;
    lo = std::min(lo, cmin);
    hi = std::max(hi, cmax);
  }
  if (!any) return false;
  if (lo > 0) lo = 0;
  *min = lo;
  *max = hi;
  return true;
}

void CDlgViewTac::updateLabels() {
  double lo = 0, hi = 0;
  if (n_ == 0) return;
  if (!PlotRange(&lo, &hi)) {
    for (QLabel* l : {valueMax_, timeMin_, timeMax_}) l->setText(QStringLiteral("void"));
    return;
  }
  valueMax_->setText(toQt(FmtStr(L"%lf", hi)));
  timeMin_->setText(toQt(FmtStr(L"%lf", timeMin_v)));
  timeMax_->setText(toQt(FmtStr(L"%lf", timeMax_v)));
}

TW_PLOT_SCENE CDlgViewTac::Scene(const TW_PANE_RECT& pane) {
  TW_PLOT_SCENE scene;
  double lo = 0, hi = 0;
  if (n_ == 0 || !PlotRange(&lo, &hi)) return scene;
  const uint32_t background = twkdx::colourRef(palette().color(QPalette::Window));
  for (size_t i = 0; i < converted_.size(); ++i) {
    double yMin = lo, yMax = hi;
    // A one-point or collapsed axis is drawn as the pane can (no message from painting).
    TW_DrawPaneTac(&scene, &yMin, &yMax, pane, converted_[i].data(), times_.data(), n_, colours_[i],
                   colours_[i] ^ background, background, 3, nullptr, 0, false);
  }
  return scene;
}

bool CDlgViewTac::eventFilter(QObject* watched, QEvent* event) {
  if (watched == pane_ && event->type() == QEvent::Paint) {
    QPainter painter(pane_);
    const QRect r = pane_->contentsRect();
    const TW_PANE_RECT pane{r.left() + 3, r.top() + 9, r.right() - 9, r.bottom() - 3};
    painter.setRenderHint(QPainter::Antialiasing);
    for (const TW_PLOT_LINE& line : Scene(pane).lines) {
      painter.setPen(colourOf(line.colour));
      painter.drawLine(line.x0, line.y0, line.x1, line.y1);
    }
    for (const TW_PLOT_MARKER& m : Scene(pane).markers) {
      painter.setPen(colourOf(m.pen));
      painter.setBrush(m.filled ? QBrush(colourOf(m.brush)) : Qt::NoBrush);
      painter.drawEllipse(QRect(QPoint(m.left, m.top), QPoint(m.right, m.bottom)));
    }
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void CDlgViewTac::OnSpin(int delta) {
  radius_ = std::clamp(delta < 1 ? radius_ + 1 : radius_ - 1, 0, 1000);
  radiusText_->setText(toQt(FmtStr(L"radius %u voxels", unsigned(radius_))));
}

void CDlgViewTac::OnConcentration() {
  TW_DlgConcConv(this, 511, false, conc_, nullptr);
  setCaption();
  rebuild();
}

void CDlgViewTac::OnAttributes() {
  TW_DlgTissueProp(this, 5, &attrib_);
  rebuild();
}

bool CDlgViewTac::OnSave() {
  CString path, extension;
  int filterIndex = 0;
  if (!TW_GetFileSaveName(TW_FILTER_TAC, &g_UserOpt.tacLoadFolder, &filterIndex, &extension, &path)) return false;
  const CString header = valueName_ + L" (" + valueUnits_ + L")\t" + argName_ + L" (" + argUnits_ + L")";
  if (converted_.empty() ||
      !VA_SaveTacFile(path.GetString(), nullptr, header.GetString(), n_, times_.data(), converted_[0].data())) {
    twk::showNamedError(L"CDlgViewTac::OnBnClickedSave", L"Failed to save Dynamic Activity Curve");
    return false;
  }
  return true;
}

void TW_ViewInputFunctions(CDynExp* host, const CVol* vol) {
  if (!host) return;
  // A PET volume of integer or real voxels converts nothing.
  if (vol && vol->IsPET()) host->ifuncConc.method = 0;
  std::vector<const double*> curves;
  std::vector<uint32_t> colours;
  int last = -1;
  for (int s = 0; s < DYNEXP_NUM_INPUTFUNCS; ++s)
    if (!host->ifuncName[s].IsEmpty()) {
      curves.push_back(host->ifunc[s].values);
      colours.push_back(TW_PpmCalcSlotColour(*host, s));
      last = s;
    }
  if (last < 0) return;
  CDlgViewTac viewer(nullptr, L"Input Functions", L"Concentation", L"mmol/L", L"time", L"sec", &host->ifuncConc,
                     &host->bloodAttrib, false);
  viewer.SetCurves(0, curves.data(), int(curves.size()), colours.data(), host->ifunc[last].times,
                   host->ifunc[last].count);
  twkdx::runModal([&viewer] { return viewer.exec() == QDialog::Accepted; });
}
