#include "DicomNodeImages.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>

#include <vector>

#include "DocMessages.h"

namespace {

std::vector<QIcon> g_icons;

const QColor kInk(0x30, 0x30, 0x40);

void folder(QPainter& p, bool open) {
  p.setPen(kInk);
  p.setBrush(QColor(0xE8, 0xC0, 0x40));
  p.drawRect(1, 4, 13, 9);
  p.drawRect(1, 2, 5, 2);
  if (open) {
    p.setBrush(QColor(0xF8, 0xDC, 0x70));
    p.drawPolygon(QPolygon({QPoint(3, 7), QPoint(15, 7), QPoint(13, 13), QPoint(1, 13)}));
  }
}

void sheet(QPainter& p, int x, int y, int w, int h, const QColor& fill) {
  p.setPen(kInk);
  p.setBrush(fill);
  p.drawRect(x, y, w, h);
}

// A series: one image, or a stack; a composite series shows two sizes of images.
void series(QPainter& p, bool stack, bool composite, bool commented) {
  const QColor grey(0xB8, 0xC8, 0xD8), light(0xE0, 0xE8, 0xF0);
  if (composite) {
    sheet(p, 1, 1, 8, 8, grey);
    if (stack) sheet(p, 3, 3, 8, 8, grey);
    sheet(p, 8, 8, 6, 6, light);
  } else if (stack) {
    sheet(p, 1, 1, 9, 9, grey);
    sheet(p, 3, 3, 9, 9, grey);
    sheet(p, 5, 5, 9, 9, light);
  } else {
    sheet(p, 3, 3, 10, 10, light);
  }
  if (commented) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xD0, 0x30, 0x30));
    p.drawEllipse(10, 0, 5, 5);
  }
}

QIcon make(int index) {
  QPixmap pixmap(16, 16);
  if (pixmap.isNull()) return QIcon();
  pixmap.fill(Qt::white);
  {
    QPainter p(&pixmap);
    switch (index) {
      case 0: folder(p, false); break;
      case 1: folder(p, true); break;
      case 2:
        sheet(p, 3, 1, 10, 14, QColor(0xF4, 0xF4, 0xF4));
        p.drawLine(5, 5, 11, 5);
        p.drawLine(5, 8, 11, 8);
        p.drawLine(5, 11, 9, 11);
        break;
      case 3: series(p, false, false, false); break;
      case 4: series(p, false, true, false); break;
      case 5: series(p, true, false, false); break;
      case 6: series(p, true, true, false); break;
      case 7: series(p, false, true, true); break;
      case 8: series(p, true, true, true); break;
      default: break;
    }
  }
  // White is transparent.
  pixmap.setMask(pixmap.createMaskFromColor(Qt::white, Qt::MaskInColor));
  return QIcon(pixmap);
}

}  // namespace

bool TW_InitTreeNodeImgList() {
  g_icons.clear();
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
    for (int i = 0; i < 9; ++i) {
      QIcon icon = make(i);
      if (icon.isNull()) break;
      g_icons.push_back(icon);
    }
  if (g_icons.size() == 9) return true;
  g_icons.clear();
  twk::doc::message(L"TW_InitTreeNodeImgList", L"Unable to load DICOM tree node bitmaps");
  return false;
}

QIcon TW_DicomNodeIcon(int index) {
  return index >= 0 && index < int(g_icons.size()) ? g_icons[size_t(index)] : QIcon();
}
