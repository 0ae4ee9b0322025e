#pragma once
// CDlgDicomExtractorCT, the "Dicom File Extractor" dialog: a thin Qt view over
// DicomExtractorCTSettings (source and target folders with "&Browse", the month and slice rules and
// the modality list).

#include <QDialog>

#include "DicomExtractorCT.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

class CDlgDicomExtractorCT : public QDialog {
  Q_OBJECT
 public:
  explicit CDlgDicomExtractorCT(const DicomExtractorCTSettings& settings, QWidget* parent = nullptr);
  // The record as the controls stand.
  DicomExtractorCTSettings Settings() const;

  QLineEdit* source = nullptr;
  QLineEdit* target = nullptr;
  QCheckBox* separated = nullptr;
  QSpinBox* months = nullptr;
  QCheckBox* sliceRange = nullptr;
  QSpinBox* minSlices = nullptr;
  QSpinBox* maxSlices = nullptr;
  QComboBox* modality = nullptr;
};
