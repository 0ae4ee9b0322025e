#pragma once
// The "Specify RAW Volume" dialog: a thin Qt view over RawVolumeSettings. "Update" recomputes the four
// dimensions from the shape and the order; OK writes the controls back into the record (the runner
// checks them and shows the dialog again when they are refused); Cancel leaves the record alone.

#include <QDialog>

#include <array>

#include "RawVolumeSettings.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

class CDlgSpecifyRawVolume : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgSpecifyRawVolume(const RawVolumeSettings& settings, QWidget* parent = nullptr);

  // The record as the controls stand.
  RawVolumeSettings Settings() const;

  std::array<QSpinBox*, 4> dims{};      // width, height, depth, number of timepoints
  std::array<QLineEdit*, 3> voxel{};    // Vx, Vy, Vz
  QComboBox* dynamicKind = nullptr;
  QLineEdit* dynamicValues = nullptr;
  QLineEdit* order = nullptr;
  QPushButton* update = nullptr;

 private:
  void onUpdate();
  RawVolumeSettings settings_;
};

// Makes the dialog the view of TW_SpecifyRawVolume (the shell calls it at start-up).
void TW_InstallRawVolumeDialog();
