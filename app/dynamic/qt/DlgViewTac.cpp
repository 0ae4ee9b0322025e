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
#include "CommandTable.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "PanelSlots.h"
#include "dynamics/Dynamics.h"
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
CDlgViewTac* g_browser = nullptr;

VA_CONCCONV tacConversion() {
  VA_CONCCONV r;
  r.method = 0;
  r.hct = 0;
  r.flipAngle = 10.0;
  r.tr = 0.012;
  r.te = 0.00385;
  r.r1 = 4.2;
  r.waterFraction = 0.8;
  r.lifetime = 0.69;
  r.relaxationRate = 1.1;
  r.manualBaseline = 0;
  r.skipFirst = 0;
  r.averageNext = 1;
  return r;
}

VA_TISSUEATTRIB tacAttributes() {
  VA_TISSUEATTRIB a;
  a.t1 = 1.48;
  return a;
}
}  // namespace

VA_CONCCONV g_ConcConvTac = tacConversion();
VA_TISSUEATTRIB g_TissueAttribTac = tacAttributes();

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
  status_ = new QLabel(this);
  top->addWidget(status_);
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

bool CDlgViewTac::collapsed() const {
  if (n_ < 2) return false;
  const auto [lo, hi] = std::minmax_element(times_.begin(), times_.end());
  return std::fabs(*hi - *lo) < 1e-100;
}

void CDlgViewTac::updateLabels() {
  double lo = 0, hi = 0;
  status_->setText(collapsed() ? QStringLiteral("Function argument axis is collapsed") : QString());
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
  // A collapsed time axis is told by the status text, not by a box on every repaint.
  if (n_ == 0 || collapsed() || !PlotRange(&lo, &hi)) return scene;
  const uint32_t background = twkdx::colourRef(palette().color(QPalette::Window));
  for (size_t i = 0; i < converted_.size(); ++i) {
    double yMin = lo, yMax = hi;
    // A one-point curve is drawn across the pane.
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
    twkdx::paintScene(painter, Scene(pane));
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
  if (!TW_GetFileSaveName(TW_FILTER_TAC, &TW_EditOptions().tacLoadFolder, &filterIndex, &extension, &path)) return false;
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

void CDlgViewTac::done(int result) {
  QDialog::done(result);
  if (modeless_) deleteLater();
}

CDlgViewTac::~CDlgViewTac() {
  if (g_browser == this) g_browser = nullptr;
}

CDlgViewTac* TW_VoxelTacBrowser() { return g_browser; }

CDlgViewTac* TW_NewVoxelTacBrowser() {
  auto* browser = new CDlgViewTac(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, true);
  browser->modeless_ = true;
  browser->setWindowTitle(browser->windowTitle());
  g_browser = browser;
  return browser;
}

void TW_FeedVoxelTacBrowser(CDrawView* view, CDrawSet* set, const RECT3D* voxel) {
  if (!g_browser || !set || !voxel) return;
  // The set's 4D volume: the active layer when it is 4D, else the first 4D layer.
  const CVol* vol = nullptr;
  if (CDrawVol* active = set->GetActiveLayer(); active && active->vol && active->vol->frame && active->vol->T() > 1)
    vol = active->vol;
  for (int i = 0; !vol && i < set->NumLayers(); ++i)
    if (const CVol* v = set->GetLayerVol(i); v && v->frame && v->T() > 1) vol = v;
  if (!vol) return;
  double* curve = VA_VolGetTac(vol->frame, voxel->x0, voxel->y0, voxel->z0, g_browser->Radius(), g_browser->Is2D());
  CString name, unit;
  double* times = nullptr;
  if (curve && vol->GetDynamicDimension(&name, &unit, &times) && vol->TacToDynamicOrder(curve)) {
    const double* curves[1] = {curve};
    g_browser->SetCurves(view ? view->CurrentTime() : 0, curves, 1, nullptr, times, vol->T());
  }
  pf_free(&curve);
  pf_free(&times);
}

bool TW_TacToConcentration() {
  CString path, extension;
  int filterIndex = 0;
  if (!TW_GetFileLoadName(TW_FILTER_INPUT_FUNCTION, &TW_EditOptions().tacLoadFolder, &filterIndex, &extension, &path))
    return false;
  CString header;
  double *times = nullptr, *values = nullptr;
  int count = 0;
  if (!PR_LoadTacFile(path.GetString(), &header, &times, &count, &values, false)) {
    twk::showNamedError(L"TW_TacToConcentration", L"Failed to load Dynamic Activity Curve");
    return false;
  }
  CDlgViewTac viewer(nullptr, path.GetString(), L"", L"", L"Time", L"sec", &g_ConcConvTac, &g_TissueAttribTac, true);
  const double* curves[1] = {values};
  viewer.SetCurves(0, curves, 1, nullptr, times, count);
  pf_free(&times);
  pf_free(&values);
  return twkdx::runModal([&viewer] { return viewer.exec() == QDialog::Accepted; });
}

// "Convert TAC to Concentration" and "Voxel Time Activity Curve Browser" (slot 1 of the panels).
TW_COMMAND_BINDINGS(dynexp_dialogs) {
  TW_BindOperation("TW_TacToConcentration", [](const TW_COMMAND_CALL&) { TW_TacToConcentration(); });
  TW_BindPanelCommand("CDrawView::OnVoxelTacBrowser", 1, [](CDrawView*) -> QWidget* { return TW_NewVoxelTacBrowser(); });
}
