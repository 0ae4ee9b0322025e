#pragma once
// CToggleBar, the main frame's status bar: pane 0 shows the status text (it stretches), pane 1
// holds the progress bar (0 to 100, as wide as 52 blanks). A left click in a pane flips that pane's
// flag; nothing else reads the flags.

#include <QStatusBar>

#include <cstdint>

class QLabel;
class QProgressBar;

class CToggleBar : public QStatusBar {
  Q_OBJECT
 public:
  explicit CToggleBar(QWidget* parent = nullptr);

  // Writes the text into pane 0 and repaints the bar at once.
  void SetPaneText(const QString& text);
  QString PaneText() const;

  // The progress bar: position 0..100 (shown from then on) and its background (a COLORREF).
  void SetProgressPos(int percent);
  int ProgressPos() const;
  void SetProgressBackground(uint32_t colorref);
  // The background of the menus, the bar's colour when no operation runs.
  void ResetProgressBackground();
  uint32_t ProgressBackground() const;
  QProgressBar* Progress() const { return progress_; }

  int PaneFlag(int pane) const { return pane >= 0 && pane < 2 ? paneFlags_[pane] : 0; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QLabel* text_ = nullptr;
  QProgressBar* progress_ = nullptr;
  int paneFlags_[2] = {0, 0};
};
