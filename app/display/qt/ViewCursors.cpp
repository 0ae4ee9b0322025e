// The cursors of the views, drawn as pixmaps.

#include "ViewCursors.h"

#include <QPainter>
#include <QPixmap>

#include <algorithm>

#include "ViewInput.h"

QCursor TW_CreateBrushCursor(bool paint, int radius) {
  const int r = std::clamp(radius, 1, 512);
  QPixmap pixmap(2 * r + 2, 2 * r + 2);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(paint ? QColor(0, 255, 0) : QColor(255, 0, 0), 2));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(QRectF(1, 1, 2 * r, 2 * r));
  painter.end();
  return QCursor(pixmap, r + 1, r + 1);
}

QCursor TW_ViewCursor(TW_CURSOR kind, bool lastStrokePainted) {
  switch (kind) {
    case TW_CURSOR::Move: return QCursor(Qt::SizeAllCursor);
    case TW_CURSOR::Brush: return TW_CreateBrushCursor(lastStrokePainted, int(g_BrushParms.radius));
    case TW_CURSOR::Edit:
    case TW_CURSOR::Zoom:
    case TW_CURSOR::WindowLevel: break;
    default: return QCursor(Qt::ArrowCursor);
  }
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPen outline(Qt::black, 1), inner(Qt::white, 1);
  int hotX = 16, hotY = 16;
  if (kind == TW_CURSOR::Edit) {
    // A cross with an open centre: the point under it stays visible.
    for (const QPen& pen : {QPen(Qt::white, 3), QPen(Qt::black, 1)}) {
      painter.setPen(pen);
      painter.drawLine(16, 2, 16, 12);
      painter.drawLine(16, 20, 16, 30);
      painter.drawLine(2, 16, 12, 16);
      painter.drawLine(20, 16, 30, 16);
    }
  } else if (kind == TW_CURSOR::Zoom) {
    // A magnifier with its hot spot in the middle of the lens.
    hotX = hotY = 12;
    painter.setPen(QPen(Qt::black, 3));
    painter.drawLine(18, 18, 29, 29);
    painter.setPen(outline);
    painter.setBrush(QColor(255, 255, 255, 160));
    painter.drawEllipse(QPointF(12, 12), 9, 9);
    painter.drawLine(8, 12, 16, 12);
    painter.drawLine(12, 8, 12, 16);
  } else {
    // Window/level: a disc half white, half black.
    painter.setPen(outline);
    painter.setBrush(Qt::white);
    painter.drawPie(QRectF(6, 6, 20, 20), 90 * 16, 180 * 16);
    painter.setBrush(Qt::black);
    painter.drawPie(QRectF(6, 6, 20, 20), -90 * 16, 180 * 16);
    painter.setPen(inner);
    painter.drawEllipse(QRectF(5, 5, 22, 22));
  }
  painter.end();
  return QCursor(pixmap, hotX, hotY);
}
