#pragma once
// The view window: a QWidget that shows one document through CDrawView's geometry. Every paint
// renders the document into an off-screen 24-bit image (TW_RenderView) and copies it to the screen
// in one step, with the rubber band of the tools drawn over it; resizing zooms to fit; keys go to
// the view keys of CDrawView and mouse messages to its input handlers. The window tracks the mouse
// without a button pressed, so a tool that holds the capture sees every move.

#include <QImage>
#include <QWidget>

#include "DrawView.h"

class CDrawDoc;

class CDrawViewWidget : public QWidget, public CDrawView {
  Q_OBJECT
 public:
  explicit CDrawViewWidget(CDrawDoc* doc, QWidget* parent = nullptr);
  ~CDrawViewWidget() override;

  // Selects a single object, gives every volume set of the document a projection record for this
  // view and repaints.
  void OnInitialUpdate();
  // The view becomes (or stops being) the active one: its flag follows and it repaints at once.
  void OnActivateView(bool activate);
  void RedrawNow() override;
  void ZoomAll() override;
  void InvalidateClient() override;
  void InvalidateRect(const RECT2D& rect) override;
  void SetViewCursor(TW_CURSOR cursor, int brushRadius = 0, bool paint = true) override;
  void SetFocusRect(const RECT2D* rect) override;
  bool GetCursorClientPos(POINT2D* point) const override;
  void SetCursorClientPos(POINT2D point) override;
  void MaximizeFrame() override;

  // The cursor the view shows, and the rubber band (empty when none).
  TW_CURSOR ShownCursor() const { return shownCursor_; }
  QRect FocusRect() const { return focusRect_; }

  // Virtual-key code of a Qt key (0 when the key has none among the view keys).
  static int VirtualKey(int qtKey);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  QImage bitmap_;  // the off-screen bitmap, kept between paints
  QRect focusRect_;
  TW_CURSOR shownCursor_ = TW_CURSOR::Arrow;
  int wheelRemainder_ = 0;
};
