#include "DrawViewWidget.h"

#include <cmath>

#include <QCursor>
#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include "DocDraw.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "ViewGeometry.h"
#include "ViewCursors.h"

namespace {

unsigned mouseFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
  unsigned flags = 0;
  if (buttons & Qt::LeftButton) flags |= TW_MK_LBUTTON;
  if (buttons & Qt::RightButton) flags |= TW_MK_RBUTTON;
  if (modifiers & Qt::ShiftModifier) flags |= TW_MK_SHIFT;
  if (modifiers & Qt::ControlModifier) flags |= TW_MK_CONTROL;
  return flags;
}

POINT2D clientPoint(const QPointF& p) { return POINT2D{int(std::floor(p.x())), int(std::floor(p.y()))}; }

}  // namespace

CDrawViewWidget::CDrawViewWidget(CDrawDoc* doc, QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  clientWidth = width();
  clientHeight = height();
  if (doc) doc->AddView(this);
}

CDrawViewWidget::~CDrawViewWidget() {
  if (CDrawDoc* doc = GetDocument()) doc->RemoveView(this);
}

void CDrawViewWidget::OnInitialUpdate() {
  CDrawDoc* doc = GetDocument();
  if (!doc) return;
  if (doc->objects.size() == 1) doc->SetSelection({doc->objects.front()});
  for (CDrawObj* obj : doc->objects)
    if (obj->kind == DRAWOBJ_SET && static_cast<CDrawSet*>(obj)->IsVolumeSet())
      static_cast<CDrawSet*>(obj)->AddViewProjection(this);
  update();
}

void CDrawViewWidget::OnActivateView(bool activate) {
  const bool changed = IsActive() != activate;
  SetActive(activate);
  if (changed) RedrawNow();
  if (activate && TW_ViewHooks().activateView) TW_ViewHooks().activateView(this);
}

void CDrawViewWidget::RedrawNow() { repaint(); }

void CDrawViewWidget::ZoomAll() {
  ZoomAllObjects();
  update();
}

void CDrawViewWidget::InvalidateClient() { update(); }

void CDrawViewWidget::InvalidateRect(const RECT2D& r) {
  update(QRect(QPoint(r.left, r.top), QPoint(r.right, r.bottom)));
}

void CDrawViewWidget::SetViewCursor(TW_CURSOR cursor, int brushRadius, bool paint) {
  shownCursor_ = cursor;
  setCursor(cursor == TW_CURSOR::Brush ? TW_CreateBrushCursor(paint, brushRadius) : TW_ViewCursor(cursor));
}

void CDrawViewWidget::SetFocusRect(const RECT2D* r) {
  const QRect old = focusRect_;
  focusRect_ = r ? QRect(QPoint(r->left, r->top), QPoint(r->right, r->bottom)) : QRect();
  update(old.adjusted(-1, -1, 1, 1));
  update(focusRect_.adjusted(-1, -1, 1, 1));
}

bool CDrawViewWidget::GetCursorClientPos(POINT2D* point) const {
  if (!point) return false;
  // The pointer as the last mouse message found it; before any, where the screen has it.
  if (CDrawView::GetCursorClientPos(point)) return true;
  const QPoint p = mapFromGlobal(QCursor::pos());
  *point = POINT2D{p.x(), p.y()};
  return true;
}

void CDrawViewWidget::SetCursorClientPos(POINT2D point) {
  NoteCursor(point);
  if (isVisible()) QCursor::setPos(mapToGlobal(QPoint(point.x, point.y)));
}

void CDrawViewWidget::MaximizeFrame() {
  for (QWidget* w = parentWidget(); w; w = w->parentWidget())
    if (auto* frame = qobject_cast<QMdiSubWindow*>(w)) {
      frame->showMaximized();
      return;
    }
}

void CDrawViewWidget::paintEvent(QPaintEvent*) {
  clientWidth = width();
  clientHeight = height();
  if (!TW_RenderViewInto(this, &bitmap_)) return;
  QPainter painter(this);
  painter.drawImage(0, 0, bitmap_);
  if (!focusRect_.isNull()) {
    // The tools' rubber band over the picture, visible on light and dark images alike.
    painter.setPen(QPen(Qt::white, 1, Qt::SolidLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(focusRect_);
    painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
    painter.drawRect(focusRect_);
  }
}

void CDrawViewWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  clientWidth = width();
  clientHeight = height();
  ZoomAll();
}

int CDrawViewWidget::VirtualKey(int k) {
  switch (k) {
    case Qt::Key_Backspace: return TW_VK_BACK;
    case Qt::Key_Escape: return TW_VK_ESCAPE;
    case Qt::Key_Space: return TW_VK_SPACE;
    case Qt::Key_PageUp: return TW_VK_PRIOR;
    case Qt::Key_PageDown: return TW_VK_NEXT;
    case Qt::Key_Left: return TW_VK_LEFT;
    case Qt::Key_Up: return TW_VK_UP;
    case Qt::Key_Right: return TW_VK_RIGHT;
    case Qt::Key_Down: return TW_VK_DOWN;
    case Qt::Key_F3: return TW_VK_F3;
    case Qt::Key_F4: return TW_VK_F4;
    case Qt::Key_F5: return TW_VK_F5;
    case Qt::Key_F7: return TW_VK_F7;
    case Qt::Key_F8: return TW_VK_F8;
    case Qt::Key_F9: return TW_VK_F9;
    case Qt::Key_F11: return TW_VK_F11;
    case Qt::Key_F12: return TW_VK_F12;
    case Qt::Key_Plus:
    case Qt::Key_Equal: return TW_VK_OEM_PLUS;
    case Qt::Key_Minus:
    case Qt::Key_Underscore: return TW_VK_OEM_MINUS;
    default: return 0;
  }
}

void CDrawViewWidget::keyPressEvent(QKeyEvent* event) {
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  const int vk = VirtualKey(event->key());
  bool handled = vk && OnViewKey(vk, ctrl);
  // The character message follows the key message, as both reach the view.
  const QString text = event->text();
  if (!(event->modifiers() & Qt::AltModifier)) {
    int ch = text.isEmpty() ? 0 : text.at(0).unicode();
    if (ctrl && (event->key() == Qt::Key_Plus || event->key() == Qt::Key_Equal)) ch = '+';
    if (ctrl && (event->key() == Qt::Key_Minus || event->key() == Qt::Key_Underscore)) ch = '-';
    // Ctrl with plus or minus was handled as a key; the character would zoom a second time. A
    // Backspace handled as a key has removed its point: the character must not remove another.
    const bool zoomChar = ctrl && (ch == '+' || ch == '-' || ch == '=' || ch == '_');
    const bool backspaceDone = ch == 8 && vk == TW_VK_BACK && handled;
    if (!zoomChar && !backspaceDone) handled = OnViewChar(ch, ctrl) || handled;
  }
  if (!handled) QWidget::keyPressEvent(event);
}

void CDrawViewWidget::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  OnActivateView(true);
  OnSetFocus();
}

void CDrawViewWidget::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  OnActivateView(false);
}

void CDrawViewWidget::mousePressEvent(QMouseEvent* event) {
  const unsigned flags = mouseFlags(event->buttons(), event->modifiers());
  const POINT2D p = clientPoint(event->position());
  if (event->button() == Qt::LeftButton) OnLButtonDown(flags, p);
  else if (event->button() == Qt::RightButton) OnRButtonDown(flags, p);
  event->accept();
}

void CDrawViewWidget::mouseReleaseEvent(QMouseEvent* event) {
  const unsigned flags = mouseFlags(event->buttons(), event->modifiers());
  const POINT2D p = clientPoint(event->position());
  if (event->button() == Qt::LeftButton) OnLButtonUp(flags, p);
  else if (event->button() == Qt::RightButton) OnRButtonUp(flags, p);
  event->accept();
}

void CDrawViewWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  const unsigned flags = mouseFlags(event->buttons(), event->modifiers());
  const POINT2D p = clientPoint(event->position());
  if (event->button() == Qt::LeftButton) OnLButtonDblClk(flags, p);
  else if (event->button() == Qt::RightButton) OnRButtonDblClk(flags, p);
  event->accept();
}

void CDrawViewWidget::mouseMoveEvent(QMouseEvent* event) {
  OnMouseMove(mouseFlags(event->buttons(), event->modifiers()), clientPoint(event->position()));
  event->accept();
}

void CDrawViewWidget::wheelEvent(QWheelEvent* event) {
  // One notch is 120; finer wheels add up until a notch is reached.
  wheelRemainder_ += event->angleDelta().y();
  const unsigned flags = mouseFlags(event->buttons(), event->modifiers());
  const POINT2D p = clientPoint(event->position());
  while (wheelRemainder_ >= 120 || wheelRemainder_ <= -120) {
    const int step = wheelRemainder_ > 0 ? 120 : -120;
    wheelRemainder_ -= step;
    OnMouseWheel(flags, step, p);
  }
  event->accept();
}
