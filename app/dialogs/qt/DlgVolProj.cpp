#include "DlgVolProj.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "AppOptions.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "Vol.h"
#include "render/ProjectionGeometry.h"
#include "volops/VolumeOperations.h"

double TW_ProjAngleSpin(double angle, int delta) {
  return delta < 1 ? std::min(360.0, angle + 0.5) : std::max(0.0, angle - 0.5);
}

double TW_ProjAngleQuarter(double angle, bool up) {
  if (up) {
    angle += 90;
    if (angle > 180) angle -= 360;
  } else {
    angle -= 90;
    if (angle < -180) angle += 360;
  }
  return angle;
}

double TW_ProjSlabSpin(double thickness, int delta) {
  return delta >= 1 ? std::max(0.0, thickness - 0.1) : thickness + 0.1;
}

namespace {

QString number(double v) { return QString::number(v, 'g', 10); }

QToolButton* arrow(QWidget* parent, Qt::ArrowType type) {
  auto* b = new QToolButton(parent);
  b->setArrowType(type);
  b->setAutoRepeat(true);
  return b;
}

}  // namespace

CDlgVolProj::CDlgVolProj(CDrawView* view, VA_VOLPROJ* record, QWidget* parent)
    : QDialog(parent), view_(view), record_(record) {
  setWindowTitle(QStringLiteral("Specify Volume Projection"));
  auto* layout = new QVBoxLayout(this);
  auto* rotation = new QGroupBox(QStringLiteral("Rotation"), this);
  auto* grid = new QGridLayout(rotation);
  const char* names[3] = {"X", "Y", "Z"};
  for (int k = 0; k < 3; ++k) {
    const size_t i = size_t(k);
    grid->addWidget(new QLabel(QString::fromLatin1(names[k]), rotation), k, 0);
    angle[i] = new QLineEdit(number(record ? record->rotation[k] : 0), rotation);
    spinUp[i] = arrow(rotation, Qt::UpArrow);
    spinDown[i] = arrow(rotation, Qt::DownArrow);
    minus90[i] = new QPushButton(QStringLiteral("-90<"), rotation);
    plus90[i] = new QPushButton(QStringLiteral(">90"), rotation);
    grid->addWidget(angle[i], k, 1);
    grid->addWidget(spinUp[i], k, 2);
    grid->addWidget(spinDown[i], k, 3);
    grid->addWidget(minus90[i], k, 4);
    grid->addWidget(plus90[i], k, 5);
    // The up arrow notifies a negative delta, the down arrow a positive one.
    connect(spinUp[i], &QToolButton::clicked, this, [this, k] {
      setAngle(k, TW_ProjAngleSpin(angleValue(k), -1));
      Apply();
    });
    connect(spinDown[i], &QToolButton::clicked, this, [this, k] {
      setAngle(k, TW_ProjAngleSpin(angleValue(k), 1));
      Apply();
    });
    connect(minus90[i], &QPushButton::clicked, this, [this, k] {
      setAngle(k, TW_ProjAngleQuarter(angleValue(k), false));
      Apply();
    });
    connect(plus90[i], &QPushButton::clicked, this, [this, k] {
      setAngle(k, TW_ProjAngleQuarter(angleValue(k), true));
      Apply();
    });
    connect(angle[i], &QLineEdit::editingFinished, this, [this] { Apply(); });
  }
  layout->addWidget(rotation);

  auto* planes = new QHBoxLayout;
  native = new QPushButton(QStringLiteral("Native"), this);
  axial = new QPushButton(QStringLiteral("Axial"), this);
  coronal = new QPushButton(QStringLiteral("Coronal"), this);
  sagittal = new QPushButton(QStringLiteral("Sagittal"), this);
  for (QPushButton* b : {native, axial, coronal, sagittal}) planes->addWidget(b);
  layout->addLayout(planes);
  connect(native, &QPushButton::clicked, this, [this] {
    for (int k = 0; k < 3; ++k) setAngle(k, 0);
    const CDrawSet* set = view_ && view_->GetDocument() ? view_->GetDocument()->GetActiveSet() : nullptr;
    const CVol* base = set ? set->GetBaseVol() : nullptr;
    if (record_ && base && base->frame) record_->slice = base->D() / 2;
    Apply();
  });
  connect(axial, &QPushButton::clicked, this, [this] { turnTo(1); });
  connect(coronal, &QPushButton::clicked, this, [this] { turnTo(2); });
  connect(sagittal, &QPushButton::clicked, this, [this] { turnTo(0); });

  auto* form = new QGridLayout;
  form->addWidget(new QLabel(QStringLiteral("Type"), this), 0, 0);
  type = new QComboBox(this);
  type->addItems({QStringLiteral("Normal"), QStringLiteral("Max Intensity"), QStringLiteral("Min Intensity"),
                  QStringLiteral("Average Intensity")});
  type->setCurrentIndex(record ? std::clamp(record->projType, 0, type->count() - 1) : 0);
  form->addWidget(type, 0, 1, 1, 3);
  form->addWidget(new QLabel(QStringLiteral("Slab thickness (mm)"), this), 1, 0);
  slab = new QLineEdit(number(record ? record->slabThickness : 0), this);
  slabUp = arrow(this, Qt::UpArrow);
  slabDown = arrow(this, Qt::DownArrow);
  form->addWidget(slab, 1, 1);
  form->addWidget(slabUp, 1, 2);
  form->addWidget(slabDown, 1, 3);
  layout->addLayout(form);
  connect(type, &QComboBox::currentIndexChanged, this, [this] { Apply(); });
  connect(slab, &QLineEdit::editingFinished, this, [this] { Apply(); });
  connect(slabUp, &QToolButton::clicked, this, [this] {
    slab->setText(number(TW_ProjSlabSpin(slab->text().toDouble(), -1)));
    Apply();
  });
  connect(slabDown, &QToolButton::clicked, this, [this] {
    slab->setText(number(TW_ProjSlabSpin(slab->text().toDouble(), 1)));
    Apply();
  });
  const bool slabOn = type->currentIndex() != 0;
  for (QWidget* w : {static_cast<QWidget*>(slab), static_cast<QWidget*>(slabUp), static_cast<QWidget*>(slabDown)})
    w->setEnabled(slabOn);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

double CDlgVolProj::angleValue(int axis) const {
  bool ok = false;
  const double v = angle[size_t(axis)]->text().toDouble(&ok);
  return ok && std::isfinite(v) ? v : 0.0;
}

void CDlgVolProj::setAngle(int axis, double value) { angle[size_t(axis)]->setText(number(value)); }

void CDlgVolProj::turnTo(int plane) {
  const CDrawSet* set = view_ && view_->GetDocument() ? view_->GetDocument()->GetActiveSet() : nullptr;
  const CVol* base = set ? set->GetBaseVol() : nullptr;
  DPOINT3D angles{angleValue(0), angleValue(1), angleValue(2)};
  if (!VA_RotateToSpecifiedOrient(base, TW_Options().projViewConvention, plane, &angles, true)) return;
  setAngle(0, angles.x);
  setAngle(1, angles.y);
  setAngle(2, angles.z);
  Apply();
}

void CDlgVolProj::Apply() {
  if (!record_) return;
  for (int k = 0; k < 3; ++k) record_->rotation[k] = angleValue(k);
  record_->projType = type->currentIndex();
  bool ok = false;
  const double thickness = slab->text().toDouble(&ok);
  if (ok && std::isfinite(thickness) && thickness >= 0) record_->slabThickness = thickness;
  const bool slabOn = record_->projType != 0;
  for (QWidget* w : {static_cast<QWidget*>(slab), static_cast<QWidget*>(slabUp), static_cast<QWidget*>(slabDown)})
    w->setEnabled(slabOn);
  CDrawDoc* doc = view_ ? view_->GetDocument() : nullptr;
  CDrawSet* set = doc ? doc->GetActiveSet() : nullptr;
  // A turn changes the depth of the projection: the slice stays within it.
  if (const CVol* base = set ? set->GetBaseVol() : nullptr; base && base->frame) {
    DIM3D dims;
    if (VA_VolProjGridDimensions(base->Dim(), base->Spc(), record_, &dims))
      record_->slice = std::clamp(record_->slice, 0, std::max(0, dims.d - 1));
  }
  if (view_) view_->ZoomAll();
  if (set) set->FreeAllViewCaches();
  if (doc) doc->RedrawAllViews(false);
  if (view_) view_->SetViewCursor(TW_CURSOR::Arrow);
}

void CDlgVolProj::accept() {
  Apply();
  QDialog::accept();
}

bool TW_DlgVolProj(CDrawView* view, VA_VOLPROJ* record) {
  CDlgVolProj dialog(view, record, dynamic_cast<QWidget*>(view));
  return dialog.exec() == QDialog::Accepted;
}
