#pragma once
// The view window: a QWidget that shows one document through CDrawView's geometry. Every paint
// renders the document into an off-screen 24-bit image (TW_RenderView) and copies it to the screen
// in one step; resizing zooms to fit; keys go to the view keys of CDrawView.

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
  // Centres the world point under the mouse pointer and moves the pointer onto it.
  void CenterOnCursor();

  void RedrawNow() override;
  void ZoomAll() override;
  void InvalidateClient() override;

  // Virtual-key code of a Qt key (0 when the key has none among the view keys).
  static int VirtualKey(int qtKey);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  QImage bitmap_;  // the off-screen bitmap, kept between paints
};
