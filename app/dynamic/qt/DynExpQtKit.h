#pragma once
// Small helpers the parametric-map windows share.

#include <QColor>
#include <QString>

#include <cstdint>
#include <functional>

#include "CString.h"
#include "PlotPane.h"

class QPainter;

namespace twkdx {

inline QString toQt(const CString& s) { return QString::fromStdWString(s.wstr()); }
inline CString fromQt(const QString& s) { return CString(s.toStdWString()); }
// A colour value 0x00BBGGRR as a Qt colour.
inline QColor colourOf(uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }
inline uint32_t colourRef(const QColor& c) {
  return uint32_t(c.red()) | (uint32_t(c.green()) << 8) | (uint32_t(c.blue()) << 16);
}

// Draws a plot scene's lines and markers (anti-aliased) with the painter.
void paintScene(QPainter& painter, const TW_PLOT_SCENE& scene);

// Runs a modal window through the program's modal scope (when one is installed).
bool runModal(const std::function<bool()>& run);
void setModalScope(std::function<bool(const std::function<bool()>&)> scope);

}  // namespace twkdx
