#pragma once
// The modeless Qt window of EdgeWave Live ("EdgeWave Live with Constraint ROI") over a
// CEdgeWaveLiveSession: the five values with their edits, step buttons ("<<", ">>") and spin arrows,
// the three check boxes, Process, Range and its slider, Settings, N3 Options, Accept and Cancel.
// TW_InstallEdgeWaveLiveDialog makes it the window of TW_OpenDlgEWL, in the main frame's slot of
// the live region growing.

#include <QDialog>

#include <map>
#include <memory>

#include "EdgeWaveLive.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

class CEdgeWaveLiveDialog : public QDialog {
 public:
  explicit CEdgeWaveLiveDialog(std::unique_ptr<CEdgeWaveLiveSession> session, QWidget* parent = nullptr);
  ~CEdgeWaveLiveDialog() override;

  CEdgeWaveLiveSession& Session() { return *session_; }
  QLineEdit* Edit(CEdgeWaveLiveSession::Field field) const { return edits_.at(field); }
  QSlider* Slider() const { return slider_; }
  QPushButton* Button(const QString& text) const;
  QLabel* VolumeLabel() const { return volume_; }

  void accept() override;
  void reject() override;

 private:
  void refresh();
  std::unique_ptr<CEdgeWaveLiveSession> session_;
  std::map<CEdgeWaveLiveSession::Field, QLineEdit*> edits_;
  QCheckBox* peelAndGrow_ = nullptr;
  QCheckBox* useEdges_ = nullptr;
  QCheckBox* correct_ = nullptr;
  QSlider* slider_ = nullptr;
  QLabel* edgeRange_ = nullptr;
  QLabel* peelRange_ = nullptr;
  QLabel* volume_ = nullptr;
};

// The live slot of the main frame (TW_PANEL_SLOT 0).
void TW_InstallEdgeWaveLiveDialog();
void TW_RemoveEdgeWaveLiveDialog();
