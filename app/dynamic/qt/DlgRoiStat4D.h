#pragma once
// "Roi Stats 4D": the mean curve of a ROI converted to concentration, its interval and peak, and
// the commands of TW_ROISTAT4D (RoiStat4D.h).

#include <QDialog>

#include "PlotPane.h"
#include "RoiStat4D.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

class CDlgRoiStat4D : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgRoiStat4D(TW_ROISTAT4D* state, QWidget* parent = nullptr);

  QLineEdit* SkipStart() const { return skipStart_; }
  QLineEdit* SkipEnd() const { return skipEnd_; }
  QLabel* StartText() const { return start_; }
  QLabel* EndText() const { return end_; }
  QLabel* AxisText() const { return axisLine_; }
  QLabel* ValueLow() const { return valueLow_; }
  QLabel* ValueHigh() const { return valueHigh_; }
  QLabel* Status() const { return status_; }
  // The plot in a pane: the curves, or the status text "Invalid concentration conversion" (painting
  // never raises a message box). Updates the value-axis labels when there is a range.
  TW_PLOT_SCENE Scene(const TW_PANE_RECT& pane);
  // Leaving a skip edit: the values are read again, the info refreshed and the plot redrawn.
  void OnSkipChanged();
  void OnConcentration();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void refreshInfo();
  TW_ROISTAT4D* s_;
  QWidget* plot_;
  QLineEdit *skipStart_, *skipEnd_, *label_;
  QCheckBox* allTacs_;
  QLabel *start_, *end_, *units_, *axisLine_, *method_, *valueLow_, *valueHigh_, *status_;
};
