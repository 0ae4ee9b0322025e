#include "DlgVROI.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "DocHooks.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "PanelSlots.h"
#include "Prompts.h"
#include "UiHelpers.h"
#include "VectorRois.h"
#include "ViewGeometry.h"
#include "Vol.h"

namespace {

// The unit every new panel starts with; a closing panel leaves its own here.
int g_VroiUnit = 0;

std::function<void(CDlgVROI&)> g_modalScript;

// The main frame's slot of the vector-ROI panel.
constexpr int kVroiSlot = 3;

double roundTo1e5(double v) { return std::floor(v / 1e-5 + 0.5) * 1e-5; }

QString number(double v) { return QString::number(v, 'g', 12); }

// The edit's number within [lo, hi]; false (the value kept) when the text is no number or lies outside.
bool readNumber(const QLineEdit* edit, double lo, double hi, double* value) {
  bool ok = false;
  const double v = edit->text().trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(v) || v < lo || v > hi) return false;
  *value = v;
  return true;
}

// The colour swatch: painted with the object's colour; a double click asks for a new one.
class CVroiSwatch : public QWidget {
 public:
  explicit CVroiSwatch(CDlgVROI* panel) : QWidget(panel), panel_(panel) {
    setObjectName(QStringLiteral("Colour"));
    setMinimumSize(40, 20);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const COLORREF c = panel_->Object() ? panel_->Colour() : 0xC0C0C0;
    p.fillRect(rect(), QColor(GetRValue(c), GetGValue(c), GetBValue(c)));
  }
  void mouseDoubleClickEvent(QMouseEvent*) override {
    if (isEnabled()) panel_->OnColour();
  }

 private:
  CDlgVROI* panel_;
};

QLineEdit* addEdit(QGridLayout* grid, QWidget* parent, const char* caption, int row, int column) {
  auto* label = new QLabel(QString::fromLatin1(caption), parent);
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(caption));
  grid->addWidget(label, row, column);
  grid->addWidget(edit, row, column + 1);
  return edit;
}

}  // namespace

CDlgVROI::CDlgVROI(CDrawSet* object, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Vector ROI Properties"));
  unit = g_VroiUnit;
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  nameEdit = addEdit(grid, this, "Name", 0, 0);
  swatch = new CVroiSwatch(this);
  grid->addWidget(swatch, 0, 2);
  unitCombo = new QComboBox(this);
  unitCombo->setObjectName(QStringLiteral("Units"));
  unitCombo->addItems({QStringLiteral("voxels"), QStringLiteral("mm")});
  grid->addWidget(unitCombo, 0, 3);
  static const char* const coordCaptions[6] = {"X0", "X1", "Y0", "Y1", "Z0", "Z1"};
  for (int i = 0; i < 6; ++i) coordEdit[i] = addEdit(grid, this, coordCaptions[i], 1 + i / 2, (i % 2) * 2);
  static const char* const sizeCaptions[3] = {"Width:", "Height:", "Depth:"};
  static const char* const centreCaptions[3] = {"X:", "Y:", "Z:"};
  for (int i = 0; i < 3; ++i) {
    sizeEdit[i] = addEdit(grid, this, sizeCaptions[i], 4 + i, 0);
    centreEdit[i] = addEdit(grid, this, centreCaptions[i], 4 + i, 2);
  }
  grid->addWidget(new QLabel(QStringLiteral("Dynamic index interval"), this), 7, 0, 1, 2);
  startEdit = addEdit(grid, this, "Start", 8, 0);
  endEdit = addEdit(grid, this, "End", 8, 2);
  layout->addLayout(grid);

  auto* row = new QHBoxLayout;
  const auto button = [this, row](const char* caption, void (CDlgVROI::*action)()) {
    auto* b = new QPushButton(QString::fromLatin1(caption), this);
    b->setObjectName(QString::fromLatin1(caption));
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, [this, action] { (this->*action)(); });
    row->addWidget(b);
    return b;
  };
  centerButton = button("Center", &CDlgVROI::OnCenter);
  fullVolumeButton = button("Full Volume", &CDlgVROI::OnFullVolume);
  allTimepointsButton = button("All Timepoints", &CDlgVROI::OnAllTimepoints);
  scaleButton = button("Scale Dimensions", &CDlgVROI::OnScaleDimensions);
  undoButton = button("Undo", &CDlgVROI::OnUndo);
  layout->addLayout(row);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  // Edits commit when they lose focus (or on Return).
  connect(nameEdit, &QLineEdit::editingFinished, this, [this] { OnName(); });
  for (QLineEdit* e : coordEdit) connect(e, &QLineEdit::editingFinished, this, [this] { OnCoordinates(); });
  for (QLineEdit* e : {startEdit, endEdit}) connect(e, &QLineEdit::editingFinished, this, [this] { OnTimes(); });
  for (int i = 0; i < 3; ++i) {
    connect(sizeEdit[i], &QLineEdit::editingFinished, this, [this, i] { OnSize(i); });
    connect(centreEdit[i], &QLineEdit::editingFinished, this, [this, i] { OnCentre(i); });
  }
  unitCombo->setCurrentIndex(unit);
  connect(unitCombo, qOverload<int>(&QComboBox::activated), this, [this] { OnUnit(); });

  SetObject(object);
  UpdateFromObject(true);
  writeFields();
  EnableControls(object_ != nullptr);
}

CDlgVROI::~CDlgVROI() { g_VroiUnit = unit; }

HIGHOBJ* CDlgVROI::record() const { return object_ ? object_->vroi : nullptr; }

double CDlgVROI::factor(int axis) const { return f_[axis]; }

void CDlgVROI::SetObject(CDrawSet* object) {
  object_ = object && object->IsVectorRoi() && object->vroi ? object : nullptr;
  w_ = h_ = d_ = t_ = 0;
  spc_[0] = spc_[1] = spc_[2] = 0;
  colour_ = 0;
  start = end = 0;
  undo_ = HIGHOBJ{};
  if (!object_) {
    name = L"none selected";
    return;
  }
  const HIGHOBJ& h = *object_->vroi;
  if (CDrawSet* owner = h.owner) {
    // Sizes of the owner's layer with the most time points, else of its first volume layer.
    int maxT = 0, index = 0;
    const CVol* sized = owner->MaxT(&maxT, &index) ? owner->GetLayerVol(index) : nullptr;
    if (!sized || !sized->frame) sized = owner->GetLayerVol(0);
    if (sized && sized->frame) {
      w_ = sized->W();
      h_ = sized->H();
      d_ = sized->D();
      t_ = sized->T();
    }
    if (const CVol* base = owner->GetBaseVol(); base && base->Spc()) {
      spc_[0] = base->Spc()->x;
      spc_[1] = base->Spc()->y;
      spc_[2] = base->Spc()->z;
    }
  }
  start = h.t0 + 1;
  end = h.t1 + 1;
  colour_ = object_->style.fillColor;
  name = CString::fromUtf8(std::string(h.label, strnlen(h.label, sizeof h.label)));
  undo_ = h;
}

void CDlgVROI::UpdateFromObject(bool skipDisplay) {
  HIGHOBJ* h = record();
  if (h) {
    // The box is clipped to the volume when the two overlap; a box that misses it stays as it is.
    const double lo[3] = {0, 0, 0}, hi[3] = {double(w_), double(h_), double(d_)};
    double* a0[3] = {&h->x0, &h->y0, &h->z0};
    double* a1[3] = {&h->x1, &h->y1, &h->z1};
    bool overlap = true;
    for (int k = 0; k < 3; ++k)
      if (*a0[k] > hi[k] || lo[k] > *a1[k]) overlap = false;
    if (overlap)
      for (int k = 0; k < 3; ++k) {
        *a0[k] = std::max(*a0[k], lo[k]);
        *a1[k] = std::min(*a1[k], hi[k]);
      }
  }
  for (int k = 0; k < 3; ++k) f_[k] = unit == 1 && h ? spc_[k] : 1.0;
  if (h) {
    X0 = roundTo1e5(f_[0] * h->x0);
    X1 = roundTo1e5(f_[0] * h->x1);
    Y0 = roundTo1e5(f_[1] * h->y0);
    Y1 = roundTo1e5(f_[1] * h->y1);
    Z0 = roundTo1e5(f_[2] * h->z0);
    Z1 = roundTo1e5(f_[2] * h->z1);
  } else {
    X0 = X1 = Y0 = Y1 = Z0 = Z1 = 0;
    start = end = 0;
  }
  width = X1 - X0;
  height = Y1 - Y0;
  depth = Z1 - Z0;
  centreX = (X0 + X1) / 2;
  centreY = (Y0 + Y1) / 2;
  centreZ = (Z0 + Z1) / 2;
  if (skipDisplay) return;
  writeFields();
  if (object_ && object_->document) {
    object_->document->RedrawAllViews(false);
    if (CDrawView* view = object_->document->GetActiveOrFirstView()) view->SetViewCursor(TW_CURSOR::Arrow);
  }
}

void CDlgVROI::writeFields() {
  const QSignalBlocker block(unitCombo);
  nameEdit->setText(QString::fromStdString(name.toUtf8()));
  const double coords[6] = {X0, X1, Y0, Y1, Z0, Z1};
  for (int i = 0; i < 6; ++i) coordEdit[i]->setText(number(coords[i]));
  const double sizes[3] = {width, height, depth}, centres[3] = {centreX, centreY, centreZ};
  for (int i = 0; i < 3; ++i) {
    sizeEdit[i]->setText(number(sizes[i]));
    centreEdit[i]->setText(number(centres[i]));
  }
  startEdit->setText(QString::number(start));
  endEdit->setText(QString::number(end));
  unitCombo->setCurrentIndex(unit);
  swatch->update();
}

void CDlgVROI::EnableControls(bool enable) {
  for (QWidget* w : {static_cast<QWidget*>(nameEdit), static_cast<QWidget*>(startEdit),
                     static_cast<QWidget*>(endEdit), static_cast<QWidget*>(unitCombo),
                     static_cast<QWidget*>(centerButton), static_cast<QWidget*>(fullVolumeButton),
                     static_cast<QWidget*>(allTimepointsButton), static_cast<QWidget*>(scaleButton),
                     static_cast<QWidget*>(undoButton), swatch})
    w->setEnabled(enable);
  for (QLineEdit* e : coordEdit) e->setEnabled(enable);
  for (int i = 0; i < 3; ++i) {
    sizeEdit[i]->setEnabled(enable);
    centreEdit[i]->setEnabled(enable);
  }
}

bool CDlgVROI::readFields() {
  // A field outside its range or not a number keeps its shown value.
  name = CString::fromUtf8(nameEdit->text().toStdString());
  double* coords[6] = {&X0, &X1, &Y0, &Y1, &Z0, &Z1};
  for (int i = 0; i < 6; ++i) readNumber(coordEdit[i], 0, i < 4 ? 1e6 : 100000, coords[i]);
  double* sizes[3] = {&width, &height, &depth};
  double* centres[3] = {&centreX, &centreY, &centreZ};
  for (int i = 0; i < 3; ++i) {
    readNumber(sizeEdit[i], 0, 10000, sizes[i]);
    readNumber(centreEdit[i], 0, 1e6, centres[i]);
  }
  const int lowest = std::min(1, t_);
  double s = start, e = end;
  readNumber(startEdit, -2147483648.0, 2147483647.0, &s);
  readNumber(endEdit, -2147483648.0, 2147483647.0, &e);
  // Time points outside 1 .. T are clamped into it.
  start = std::clamp(int(s), lowest, std::max(lowest, t_));
  end = std::clamp(int(e), lowest, std::max(lowest, t_));
  unit = std::clamp(unitCombo->currentIndex(), 0, 1);
  return record() != nullptr;
}

void CDlgVROI::changed() {
  UpdateFromObject(false);
  if (object_ && object_->document) object_->document->SetModifiedFlag();
}

void CDlgVROI::OnName() {
  if (!readFields()) return;
  HIGHOBJ* h = record();
  TW_SetVectRoiLabel(h, name.toUtf8().c_str());
  name = CString::fromUtf8(std::string(h->label, strnlen(h->label, sizeof h->label)));
  changed();
}

void CDlgVROI::OnCoordinates() {
  if (!readFields()) return;
  HIGHOBJ* h = record();
  h->x0 = X0 / f_[0];
  h->x1 = X1 / f_[0];
  h->y0 = Y0 / f_[1];
  h->y1 = Y1 / f_[1];
  h->z0 = Z0 / f_[2];
  h->z1 = Z1 / f_[2];
  object_->ComputeBounds();
  changed();
}

void CDlgVROI::OnTimes() {
  if (!readFields()) return;
  HIGHOBJ* h = record();
  h->t0 = start - 1;
  h->t1 = end - 1;
  changed();
}

void CDlgVROI::OnSize(int axis) {
  if (!readFields() || axis < 0 || axis > 2) return;
  HIGHOBJ* h = record();
  double* a0[3] = {&h->x0, &h->y0, &h->z0};
  double* a1[3] = {&h->x1, &h->y1, &h->z1};
  const double sizes[3] = {width, height, depth};
  const double c = (*a0[axis] + *a1[axis]) / 2;
  *a0[axis] = c - (sizes[axis] / 2) / f_[axis];
  *a1[axis] = c + (sizes[axis] / 2) / f_[axis];
  object_->ComputeBounds();
  changed();
}

void CDlgVROI::OnCentre(int axis) {
  if (!readFields() || axis < 0 || axis > 2) return;
  HIGHOBJ* h = record();
  double* a0[3] = {&h->x0, &h->y0, &h->z0};
  double* a1[3] = {&h->x1, &h->y1, &h->z1};
  const double centres[3] = {centreX, centreY, centreZ};
  const double half = (*a1[axis] - *a0[axis]) / 2;
  *a0[axis] = centres[axis] / f_[axis] - half;
  *a1[axis] = centres[axis] / f_[axis] + half;
  object_->ComputeBounds();
  changed();
}

void CDlgVROI::OnUnit() {
  readFields();
  UpdateFromObject(false);
  update();
}

void CDlgVROI::OnCenter() {
  if (!readFields()) return;
  HIGHOBJ* h = record();
  double* a0[3] = {&h->x0, &h->y0, &h->z0};
  double* a1[3] = {&h->x1, &h->y1, &h->z1};
  const int centre[3] = {w_ / 2, h_ / 2, d_ / 2};
  for (int k = 0; k < 3; ++k) {
    const double half = (*a1[k] - *a0[k]) / 2;
    *a0[k] = centre[k] - half;
    *a1[k] = centre[k] + half;
  }
  object_->ComputeBounds();
  changed();
}

void CDlgVROI::OnFullVolume() {
  if (!readFields()) return;
  HIGHOBJ* h = record();
  h->x0 = h->y0 = h->z0 = 0;
  h->x1 = w_;
  h->y1 = h_;
  h->z1 = d_;
  object_->ComputeBounds();
  changed();
}

void CDlgVROI::OnAllTimepoints() {
  if (!readFields()) return;
  HIGHOBJ* h = record();
  start = 1;
  end = t_;
  h->t0 = 0;
  h->t1 = t_ - 1;
  changed();
}

void CDlgVROI::OnScaleDimensions() {
  if (!readFields()) return;
  double scale = 1.0;
  if (!TW_EnterDouble(L"scale", &scale) || !(scale > 0) || !std::isfinite(scale)) return;
  HIGHOBJ* h = record();
  double box[6] = {h->x0, h->y0, h->z0, h->x1, h->y1, h->z1};
  for (int k = 0; k < 3; ++k) {
    const double c = (box[k] + box[k + 3]) / 2, half = (box[k + 3] - box[k]) / 2 * scale;
    box[k] = c - half;
    box[k + 3] = c + half;
  }
  const double size[3] = {double(w_), double(h_), double(d_)};
  // A scaled box that no longer meets the volume is not taken.
  for (int k = 0; k < 3; ++k)
    if (box[k] > size[k] || box[k + 3] < 0) return;
  for (int k = 0; k < 3; ++k) {
    box[k] = std::clamp(box[k], 0.0, size[k]);
    box[k + 3] = std::clamp(box[k + 3], 0.0, size[k]);
  }
  h->x0 = box[0];
  h->y0 = box[1];
  h->z0 = box[2];
  h->x1 = box[3];
  h->y1 = box[4];
  h->z1 = box[5];
  object_->ComputeBounds();
  changed();
}

void CDlgVROI::OnUndo() {
  if (!readFields()) return;
  *record() = undo_;
  start = undo_.t0 + 1;
  end = undo_.t1 + 1;
  name = CString::fromUtf8(std::string(undo_.label, strnlen(undo_.label, sizeof undo_.label)));
  object_->ComputeBounds();
  changed();
}

void CDlgVROI::OnColour() {
  if (!readFields()) return;
  COLORREF c = colour_;
  if (!TW_ChooseColor(&c)) return;
  colour_ = c;
  object_->style.fillColor = c;
  object_->style.lineColor = c;
  swatch->update();
  changed();
}

void CDlgVROI::cancelStep() {
  g_VroiUnit = unit;
  if (object_ && object_->document) object_->document->RedrawAllViews(false);
  if (closing_) return;
  closing_ = true;
  if (modal_) {
    QDialog::reject();
    return;
  }
  // The modeless panel leaves the frame's slot and deletes itself once its window is gone.
  if (TW_PanelInSlot(kVroiSlot) == this) TW_StorePanelInSlot(kVroiSlot, nullptr);
  hide();
  deleteLater();
}

void CDlgVROI::accept() {
  // OK commits the field that has the focus, then closes like Cancel.
  if (QWidget* focus = QApplication::focusWidget(); focus && isAncestorOf(focus))
    if (auto* edit = qobject_cast<QLineEdit*>(focus)) emit edit->editingFinished();
  cancelStep();
}

void CDlgVROI::reject() { cancelStep(); }

CDlgVROI* TW_VectorRoiPanel() { return qobject_cast<CDlgVROI*>(TW_PanelInSlot(kVroiSlot)); }

CDlgVROI* TW_OpenDlgVROI(CDrawObj* object, bool modal) {
  if (TW_PanelInSlot(kVroiSlot)) return nullptr;
  auto* set = object && object->kind == DRAWOBJ_SET ? static_cast<CDrawSet*>(object) : nullptr;
  if (modal) {
    CDlgVROI panel(set, QApplication::activeWindow());
    panel.modal_ = true;
    if (g_modalScript) {
      panel.show();
      g_modalScript(panel);
      panel.accept();
    } else {
      panel.exec();
    }
    return nullptr;
  }
  auto* panel = new CDlgVROI(set, QApplication::activeWindow());
  panel->setWindowFlag(Qt::Tool);
  if (!TW_StorePanelInSlot(kVroiSlot, panel)) {
    delete panel;
    return nullptr;
  }
  panel->show();
  return panel;
}

void TW_InstallVectorRoiPanel() {
  TW_DOCUMENT_HOOKS& hooks = TW_DocumentHooks();
  hooks.vroiPanelOpen = [] { return TW_VectorRoiPanel() != nullptr; };
  hooks.vroiPanelObject = []() -> CDrawObj* {
    CDlgVROI* panel = TW_VectorRoiPanel();
    return panel ? panel->Object() : nullptr;
  };
  hooks.vroiPanelBind = [](CDrawObj* object, bool enable) {
    CDlgVROI* panel = TW_VectorRoiPanel();
    if (!panel) return;
    panel->SetObject(object && object->kind == DRAWOBJ_SET ? static_cast<CDrawSet*>(object) : nullptr);
    panel->UpdateFromObject(false);
    panel->EnableControls(enable && panel->Object());
    panel->update();
  };
  hooks.vroiPanelRefresh = [] {
    if (CDlgVROI* panel = TW_VectorRoiPanel(); panel && panel->Object()) panel->UpdateFromObject(false);
  };
  hooks.vroiPanelDestroy = [] {
    if (CDlgVROI* panel = TW_VectorRoiPanel()) {
      TW_StorePanelInSlot(kVroiSlot, nullptr);
      delete panel;
    }
  };
  TW_ViewHooks().vectorRoiPanel = [](CDrawView*, CDrawObj* object, bool otherPanelOpen) {
    TW_OpenDlgVROI(object, otherPanelOpen);
  };
}

void TW_RemoveVectorRoiPanel() {
  TW_DOCUMENT_HOOKS& hooks = TW_DocumentHooks();
  hooks.vroiPanelOpen = nullptr;
  hooks.vroiPanelObject = nullptr;
  hooks.vroiPanelBind = nullptr;
  hooks.vroiPanelRefresh = nullptr;
  hooks.vroiPanelDestroy = nullptr;
  TW_ViewHooks().vectorRoiPanel = nullptr;
}

void TW_SetDlgVROIModalScript(std::function<void(CDlgVROI& panel)> script) { g_modalScript = std::move(script); }
