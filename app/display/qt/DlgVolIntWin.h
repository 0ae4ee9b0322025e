#pragma once
// The View Filter dialog ("View Filter"): a thin Qt view over CViewFilterModel. Every change of a
// control applies at once; OK and Cancel only close the dialog.

#include <QDialog>

#include <array>
#include <memory>

#include "ViewFilter.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

class CDlgVolIntWin : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgVolIntWin(CDrawVol* layer, QWidget* parent = nullptr);

  CViewFilterModel& Model() { return model_; }
  // The texts of the five scale labels from the bottom of the bar to its top.
  std::array<QString, 5> ScaleLabelTexts() const;
  bool LevelWidthEnabled() const;

  QCheckBox* adaptive = nullptr;
  QCheckBox* invert = nullptr;
  QComboBox* scheme = nullptr;
  QLineEdit* level = nullptr;
  QLineEdit* width = nullptr;
  QPushButton* defaultButton = nullptr;

 private:
  void refresh();
  void showValues();
  CViewFilterModel model_;
  QWidget* colorBar_ = nullptr;
  std::array<QLabel*, 5> scaleLabels_{};
};
