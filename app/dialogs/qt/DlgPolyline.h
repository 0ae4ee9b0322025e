#pragma once
// The "Polyline and Spline Properties" dialog of one polyline or spline: area fill and its colour,
// the contour with its colour and width, closing, the spline and its tension, the slice and the
// opacity. Every change of a check box or an edit is written into the object at once and all views
// of its document are redrawn; a "Color" button changes the dialog's colour, which reaches the
// object at the next change or OK. Cancel keeps what was applied.

#include <QDialog>

#include "TwkTypes.h"

class CDrawPoly;
class QCheckBox;
class QLineEdit;
class QPushButton;

class CDlgPolyline : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgPolyline(CDrawPoly* poly, QWidget* parent = nullptr);
  // OK: the apply step, then the dialog closes.
  void accept() override;

  // Every field from the controls into the object, then the views redrawn.
  void Apply();

  QCheckBox* fill = nullptr;        // "Fill"
  QPushButton* fillColor = nullptr;
  QCheckBox* contour = nullptr;     // "Draw "
  QPushButton* lineColor = nullptr;
  QLineEdit* width = nullptr;       // "Width:"
  QCheckBox* closed = nullptr;      // "Close"
  QCheckBox* spline = nullptr;      // "Spline"
  QLineEdit* tension = nullptr;     // "Tension"
  QLineEdit* slice = nullptr;       // "Slice index"
  QLineEdit* alpha = nullptr;       // "Alpha [0,100]"

  COLORREF FillColorMember() const { return fillColorMember_; }
  COLORREF LineColorMember() const { return lineColorMember_; }

 private:
  void chooseColor(COLORREF* member);
  void showColors();
  CDrawPoly* poly_;
  COLORREF fillColorMember_ = 0, lineColorMember_ = 0;
};

// Runs the dialog modally on a polyline (kind 5); true on OK.
bool TW_DlgPolyline(CDrawPoly* poly);
