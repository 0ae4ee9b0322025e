#pragma once
// "Dynamic Experiment Single Curve Results": the fitted outputs of a chosen curve with their
// bounds, and a plot of the measured and fitted curves.

#include <QDialog>

#include <vector>

#include "DynExpDialogs.h"
#include "PlotPane.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QTreeWidget;
class QWidget;

class CDlgDiduSingleCurveResult : public QDialog {
  Q_OBJECT
 public:
  CDlgDiduSingleCurveResult(const TW_SINGLECURVE& results, const CString& report, QWidget* parent = nullptr);
  // False when the dynamic axis or the curves cannot be read (the dialog then closes at once).
  bool Ready() const { return ready_; }

  QComboBox* Curves() const { return curves_; }
  QTreeWidget* Table() const { return table_; }
  QCheckBox* OffsetSignal() const { return offset_; }
  QLabel* YLabel(int i) const { return yLabels_[i]; }
  QLabel* XLabel(int i) const { return xLabels_[i]; }
  const CString& AxisUnits() const { return axisUnits_; }
  const std::vector<double>& Axis() const { return axis_; }
  const std::vector<double>& Measured(int curve) const { return measured_[size_t(curve)]; }
  const std::vector<double>& Fitted(int curve) const { return fitted_[size_t(curve)]; }
  // The plot of the selected curve in a pane; fills the axis labels.
  TW_PLOT_SCENE Scene(const TW_PANE_RECT& pane);
  void OnReport();

  // Plot colours, kept for the program's run.
  static uint32_t background, dataColour, fitColour;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void fillTable(int curve);
  void chooseColour(uint32_t* colour);
  TW_SINGLECURVE results_;
  CString report_, axisUnits_;
  int kind_ = 0;
  bool ready_ = false;
  std::vector<double> axis_;
  std::vector<std::vector<double>> measured_, fitted_;
  QComboBox* curves_;
  QTreeWidget* table_;
  QCheckBox* offset_;
  QWidget* plot_;
  QLabel* yLabels_[6];
  QLabel* xLabels_[6];
  QLabel* swatches_[3];
};

// The modal view of the single-curve results (the runner's view).
bool TW_ShowSingleCurveResults(const TW_SINGLECURVE& results, const CString& report);
