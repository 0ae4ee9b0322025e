#include "DlgPolyline.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "UiHelpers.h"
#include "DrawDoc.h"
#include "DrawShapes.h"
#include "DrawView.h"

namespace {

QString number(double v) { return QString::number(v, 'g', 10); }

// The edit's number, or the fallback when the text is not a finite number.
double numberOf(const QLineEdit* edit, double fallback) {
  bool ok = false;
  const double v = edit->text().toDouble(&ok);
  return ok && std::isfinite(v) ? v : fallback;
}

}  // namespace

CDlgPolyline::CDlgPolyline(CDrawPoly* poly, QWidget* parent) : QDialog(parent), poly_(poly) {
  setWindowTitle(QStringLiteral("Polyline and Spline Properties"));
  fillColorMember_ = poly->style.fillColor;
  lineColorMember_ = poly->style.lineColor;
  auto* layout = new QVBoxLayout(this);

  auto* area = new QGroupBox(QStringLiteral("Area"), this);
  auto* areaGrid = new QGridLayout(area);
  fill = new QCheckBox(QStringLiteral("Fill"), area);
  fill->setChecked(poly->style.filled != 0);
  fillColor = new QPushButton(QStringLiteral("Color"), area);
  areaGrid->addWidget(fill, 0, 0);
  areaGrid->addWidget(fillColor, 0, 1);
  layout->addWidget(area);

  auto* line = new QGroupBox(QStringLiteral("Contour"), this);
  auto* lineGrid = new QGridLayout(line);
  contour = new QCheckBox(QStringLiteral("Draw "), line);
  contour->setChecked(poly->style.outlined != 0);
  lineColor = new QPushButton(QStringLiteral("Color"), line);
  width = new QLineEdit(number(poly->style.lineWidth), line);
  lineGrid->addWidget(contour, 0, 0);
  lineGrid->addWidget(lineColor, 0, 1);
  lineGrid->addWidget(new QLabel(QStringLiteral("Width:"), line), 1, 0);
  lineGrid->addWidget(width, 1, 1);
  closed = new QCheckBox(QStringLiteral("Close"), line);
  closed->setChecked(poly->closed != 0);
  lineGrid->addWidget(closed, 2, 0);
  layout->addWidget(line);

  auto* splineBox = new QGroupBox(QStringLiteral("Spline"), this);
  auto* splineGrid = new QGridLayout(splineBox);
  spline = new QCheckBox(QStringLiteral("Spline"), splineBox);
  spline->setChecked(poly->spline != 0);
  tension = new QLineEdit(number(poly->tension), splineBox);
  splineGrid->addWidget(spline, 0, 0);
  splineGrid->addWidget(new QLabel(QStringLiteral("Tension"), splineBox), 1, 0);
  splineGrid->addWidget(tension, 1, 1);
  layout->addWidget(splineBox);

  auto* rest = new QGridLayout;
  slice = new QLineEdit(QString::number(poly->slice), this);
  alpha = new QLineEdit(number(double(poly->opacity)), this);
  rest->addWidget(new QLabel(QStringLiteral("Slice index"), this), 0, 0);
  rest->addWidget(slice, 0, 1);
  rest->addWidget(new QLabel(QStringLiteral("Alpha [0,100]"), this), 1, 0);
  rest->addWidget(alpha, 1, 1);
  layout->addLayout(rest);
  showColors();

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  for (QCheckBox* box : {fill, contour, closed, spline}) connect(box, &QCheckBox::toggled, this, [this] { Apply(); });
  for (QLineEdit* edit : {width, tension, slice, alpha})
    connect(edit, &QLineEdit::textEdited, this, [this] { Apply(); });
  connect(fillColor, &QPushButton::clicked, this, [this] { chooseColor(&fillColorMember_); });
  connect(lineColor, &QPushButton::clicked, this, [this] { chooseColor(&lineColorMember_); });
}

void CDlgPolyline::showColors() {
  const auto swatch = [](QPushButton* b, COLORREF c) {
    b->setStyleSheet(QStringLiteral("QPushButton { border-left: 12px solid rgb(%1,%2,%3); }")
                         .arg(GetRValue(c))
                         .arg(GetGValue(c))
                         .arg(GetBValue(c)));
  };
  swatch(fillColor, fillColorMember_);
  swatch(lineColor, lineColorMember_);
}

void CDlgPolyline::chooseColor(COLORREF* member) {
  TW_ChooseColor(member);
  showColors();
  if (poly_ && poly_->document) poly_->document->RedrawAllViews(false);
}

void CDlgPolyline::Apply() {
  if (!poly_) return;
  poly_->style.filled = fill->isChecked() ? 1 : 0;
  poly_->style.outlined = contour->isChecked() ? 1 : 0;
  poly_->style.fillColor = fillColorMember_;
  poly_->style.lineColor = lineColorMember_;
  poly_->style.lineWidth = numberOf(width, poly_->style.lineWidth);
  poly_->closed = closed->isChecked() ? 1 : 0;
  poly_->spline = spline->isChecked() ? 1 : 0;
  poly_->tension = numberOf(tension, poly_->tension);
  const double s = numberOf(slice, poly_->slice);
  if (s >= -2147483648.0 && s <= 2147483647.0) poly_->slice = int32_t(s);
  // The opacity is shown as a number and stored truncated to whole percent.
  poly_->opacity = int32_t(std::clamp(numberOf(alpha, poly_->opacity), 0.0, 100.0));
  poly_->ComputeBounds();
  if (CDrawDoc* doc = poly_->document) {
    doc->SetModifiedFlag();
    doc->RedrawAllViews(false);
    if (CDrawView* view = doc->GetActiveOrFirstView()) view->SetViewCursor(TW_CURSOR::Arrow);
  }
}

void CDlgPolyline::accept() {
  Apply();
  QDialog::accept();
}

bool TW_DlgPolyline(CDrawPoly* poly) {
  if (!poly || poly->kind != DRAWOBJ_POLY) return false;
  CDlgPolyline dialog(poly, QApplication::activeWindow());
  return dialog.exec() == QDialog::Accepted;
}
