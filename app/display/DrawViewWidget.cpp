#include "DrawViewWidget.h"

#include <QCursor>
#include <QKeyEvent>
#include <QPainter>

#include "DocDraw.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "ViewGeometry.h"

CDrawViewWidget::CDrawViewWidget(CDrawDoc* doc, QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
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

void CDrawViewWidget::CenterOnCursor() {
  const QPoint p = mapFromGlobal(QCursor::pos());
  const DPOINT w = ClientToWorldPoint({p.x(), p.y()});
  CenterOnWorldPoint(w, true);
  const POINT2D c = WorldToClientPoint(w);
  QCursor::setPos(mapToGlobal(QPoint(c.x, c.y)));
}

void CDrawViewWidget::RedrawNow() { repaint(); }

void CDrawViewWidget::ZoomAll() {
  ZoomAllObjects();
  update();
}

void CDrawViewWidget::InvalidateClient() { update(); }

void CDrawViewWidget::paintEvent(QPaintEvent*) {
  clientWidth = width();
  clientHeight = height();
  if (!TW_RenderViewInto(this, &bitmap_)) return;
  QPainter painter(this);
  painter.drawImage(0, 0, bitmap_);
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
    // Ctrl with plus or minus was handled as a key; the character would zoom a second time.
    if (!(ctrl && (ch == '+' || ch == '-' || ch == '=' || ch == '_'))) handled = OnViewChar(ch, ctrl) || handled;
  }
  if (!handled) QWidget::keyPressEvent(event);
}

void CDrawViewWidget::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  OnActivateView(true);
}

void CDrawViewWidget::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  OnActivateView(false);
}
