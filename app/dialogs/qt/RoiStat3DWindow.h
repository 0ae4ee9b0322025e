#pragma once
// The Qt window of "3D ROI Statistics" (RoiStat3D.h): the statistics boxes, the histogram painter
// with its cursor read-out, the range and bin buttons, the segmentation controls and "Save Stats".
// Every control carries its caption as object name ("Update", "Clip", "Method", ...), so that tests
// find it.

#include <QDialog>

#include <functional>

#include "RoiStat3D.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

class CRoiStat3DWindow : public QDialog {
  Q_OBJECT
 public:
  CRoiStat3DWindow(CDlgRoiStat3D& dialog, QWidget* parent = nullptr);

  CDlgRoiStat3D& Dialog() { return dialog_; }
  QPushButton* Button(const char* caption) const;
  QWidget* HistogramArea() const { return area_; }
  // The texts as shown.
  QString CursorText() const;
  QString ThresholdsText() const;
  // Shows the dialog's state again.
  void Refresh();

  void accept() override;

 private:
  void readControls();
  QPushButton* addButton(const char* caption, void (CDlgRoiStat3D::*action)());

  CDlgRoiStat3D& dialog_;
  QWidget* area_ = nullptr;
  QCheckBox* clip_ = nullptr;
  QComboBox* method_ = nullptr;
  QComboBox* showModel_ = nullptr;
  QSpinBox* segments_ = nullptr;
  QLabel *binWidth_ = nullptr, *bins_ = nullptr, *range_ = nullptr, *maxCount_ = nullptr, *min_ = nullptr,
         *max_ = nullptr, *maxBin_ = nullptr, *cursor_ = nullptr, *thresholds_ = nullptr;
  QPlainTextEdit *firstLabels_ = nullptr, *firstValues_ = nullptr, *geometryLabels_ = nullptr,
                 *geometryValues_ = nullptr;
  QPushButton* full_ = nullptr;
  friend class CRoiStatHistogram;
};

// Makes the window that of TW_DlgRoiStat3D. modalScope, when given, wraps each modal run.
void TW_InstallRoiStat3DDialog(std::function<bool(const std::function<bool()>& run)> modalScope = {});
void TW_RemoveRoiStat3DDialog();
// Tests: while set, the window is shown and the script plays on it instead of waiting for the
// user; its answer is the window's (true: OK).
void TW_SetRoiStat3DWindowScript(std::function<bool(CRoiStat3DWindow& window)> script);
