#pragma once
// CChildFrame, the MDI window of one view of a document. Activating it activates its view (which
// attaches the Layers panel). Closing the last window of a document asks whether to save the
// document; the document is closed with it.

#include <QMdiSubWindow>

class CDrawDoc;
class CDrawView;
class CDrawViewWidget;

class CChildFrame : public QMdiSubWindow {
  Q_OBJECT
 public:
  explicit CChildFrame(CDrawDoc* doc, QWidget* parent = nullptr);
  ~CChildFrame() override;

  CDrawView* View() const;
  CDrawViewWidget* ViewWidget() const { return view_; }
  CDrawDoc* Document() const;
  // The window that shows the view, or null.
  static CChildFrame* OfView(const CDrawView* view);
  void ActivateView(bool activate);
  // Closes without asking (the document has been dealt with).
  void CloseWithoutQuestion();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  CDrawViewWidget* view_ = nullptr;
  bool noQuestion_ = false;
};
