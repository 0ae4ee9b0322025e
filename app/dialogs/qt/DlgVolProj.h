#pragma once
// The "Specify Volume Projection" dialog: edits, while the user works, how one view shows the
// active layer set: the three rotation angles of the viewing plane, the projection type (a plain
// slice or an intensity projection over a slab) and the slab thickness. Every change is written into
// the view's projection record at once and all views of the document are redrawn; Cancel keeps what
// was applied.
//
// The angle spins step by 0.5 degree within 0 to 360, the "-90<" and ">90" buttons by a quarter turn
// within -180 to 180; the slab spin steps by 0.1 mm from 0 upwards. "Native" shows the volume's own
// plane at its middle slice; "Axial", "Coronal" and "Sagittal" turn to the conventional view of that
// plane under the option "ProjViewConvention".

#include <QDialog>

#include <array>

#include "VolProj.h"

class CDrawView;
class QComboBox;
class QLineEdit;
class QPushButton;
class QToolButton;

// The step rules of the controls, as the dialog applies them. A spin notification's delta is
// negative for the up arrow and positive for the down arrow.
double TW_ProjAngleSpin(double angle, int delta);     // below 1: + 0.5 up to 360; else - 0.5 down to 0
double TW_ProjAngleQuarter(double angle, bool up);    // +90 (above 180: -360) or -90 (below -180: +360)
double TW_ProjSlabSpin(double thickness, int delta);  // 1 or more: - 0.1 down to 0; else + 0.1

class CDlgVolProj : public QDialog {
  Q_OBJECT
 public:
  CDlgVolProj(CDrawView* view, VA_VOLPROJ* record, QWidget* parent = nullptr);
  // OK: the apply step, then the dialog closes.
  void accept() override;

  // The apply step: the controls into the record, the slab enabled off "Normal", the view refitted,
  // the set's render caches dropped, all views redrawn.
  void Apply();

  std::array<QLineEdit*, 3> angle{};         // X, Y, Z (degrees)
  std::array<QToolButton*, 3> spinUp{};      // the spins' up arrows
  std::array<QToolButton*, 3> spinDown{};
  std::array<QPushButton*, 3> minus90{};     // "-90<"
  std::array<QPushButton*, 3> plus90{};      // ">90"
  QComboBox* type = nullptr;                 // "Normal", "Max Intensity", "Min Intensity", "Average Intensity"
  QLineEdit* slab = nullptr;                 // "Slab thickness (mm)"
  QToolButton* slabUp = nullptr;
  QToolButton* slabDown = nullptr;
  QPushButton* native = nullptr;
  QPushButton* axial = nullptr;
  QPushButton* coronal = nullptr;
  QPushButton* sagittal = nullptr;

 private:
  double angleValue(int axis) const;
  void setAngle(int axis, double value);
  void turnTo(int plane);
  CDrawView* view_;
  VA_VOLPROJ* record_;
};

// Runs the dialog modally on the view's record; true on OK. The changes are applied either way.
bool TW_DlgVolProj(CDrawView* view, VA_VOLPROJ* record);
