#pragma once
// The Qt window of the threshold split ("Specify SI Threshold") over a CSplitThrSession: the
// threshold and opacity sliders, the range and threshold texts, Default, Specify, OK and Cancel;
// the arrow keys scroll the view's slices. TW_InstallSplitThrDialog makes it the window of
// TW_DlgSplitThr.

#include <QDialog>

#include <functional>

class CSplitThrSession;
class QLabel;
class QSlider;

class CSplitThrDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CSplitThrDialog(CSplitThrSession& session, QWidget* parent = nullptr);

  QSlider* ThresholdSlider() const { return threshold_; }
  QSlider* OpacitySlider() const { return opacity_; }
  QLabel* ThresholdText() const { return value_; }
  void OnDefault();
  void OnSpecify();

  void accept() override;
  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void refresh(bool moveSlider);
  CSplitThrSession& session_;
  QSlider* threshold_ = nullptr;
  QSlider* opacity_ = nullptr;
  QLabel* value_ = nullptr;
};

// modalScope, when given, wraps each modal run (the shell lifts its input guard there).
void TW_InstallSplitThrDialog(std::function<bool(const std::function<bool()>& run)> modalScope = {});
void TW_RemoveSplitThrDialog();
