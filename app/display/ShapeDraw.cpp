// Drawing of vector objects and selection trackers with QPainter, and the kind dispatch of
// CDrawObj::Draw.

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygon>

#include <algorithm>
#include <cmath>
#include <vector>

#include "DocDraw.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawShapes.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "TwkMem.h"
#include "Vol.h"
#include "VolProj.h"
#include "ViewGeometry.h"
#include "render/HermiteSpline.h"
#include "render/ProjectionGeometry.h"

namespace {

QColor argb(COLORREF c, int alpha) {
  return QColor(int(GetRValue(c)), int(GetGValue(c)), int(GetBValue(c)), std::clamp(alpha, 0, 255));
}
QColor fromArgb(uint32_t v) { return QColor(int((v >> 16) & 0xFF), int((v >> 8) & 0xFF), int(v & 0xFF), int(v >> 24)); }

QString qstr(const CString& s) { return QString::fromWCharArray(s.GetString(), s.GetLength()); }

void prepare(QPainter* dc) {
  dc->setRenderHint(QPainter::Antialiasing, true);
  dc->setRenderHint(QPainter::SmoothPixmapTransform, true);
}

}  // namespace

void CDrawObj::Draw(CDrawView* view, QPainter* dc, int dx, int dy) {
  switch (kind) {
    case DRAWOBJ_RECT:
    case DRAWOBJ_ROUNDRECT:
    case DRAWOBJ_ELLIPSE: static_cast<CDrawRect*>(this)->Draw(view, dc, dx, dy); break;
    case DRAWOBJ_POLY: static_cast<CDrawPoly*>(this)->Draw(view, dc, dx, dy); break;
    case DRAWOBJ_ARC: static_cast<CDrawArc*>(this)->Draw(view, dc, dx, dy); break;
    case DRAWOBJ_SET: static_cast<CDrawSet*>(this)->Draw(view, dc, dx, dy); break;
    default: break;  // volume layers are drawn by their set
  }
}

bool TW_DrawLine(QPainter* dc, COLORREF color, int x0, int y0, int x1, int y1) {
  if (!dc) return false;
  dc->save();
  dc->setRenderHint(QPainter::Antialiasing, false);
  QPen pen(argb(color, 255));
  pen.setCosmetic(true);
  pen.setWidth(0);
  dc->setPen(pen);
  dc->drawLine(x0, y0, x1, y1);
  dc->restore();
  return true;
}

void TW_ArrowHeadPoints(DPOINT from, DPOINT to, double length, double halfWidth, POINT2D out[4]) {
  double ux = from.x - to.x, uy = from.y - to.y;
  const double len = std::hypot(ux, uy);
  if (len > 0) {
    ux /= len;
    uy /= len;
  }
  const double nx = -uy, ny = ux;
  auto r = [](double v) { return int32_t(std::floor(v + 0.5)); };
  const POINT2D tip{r(to.x), r(to.y)};
  out[0] = tip;
  out[1] = POINT2D{tip.x + r(length * ux + halfWidth * nx), tip.y + r(length * uy + halfWidth * ny)};
  out[2] = POINT2D{tip.x + r(length * ux - halfWidth * nx), tip.y + r(length * uy - halfWidth * ny)};
  out[3] = tip;
}

void TW_DrawRotatedText(QPainter* dc, const wchar_t* text, double x, double y, double angle, COLORREF color) {
  if (!dc || !text) return;
  dc->save();
  QFont font(QStringLiteral("Times New Roman"));
  font.setPixelSize(16);
  dc->setFont(font);
  dc->translate(x, y);
  dc->rotate(angle);
  dc->setPen(argb(color, 255));
  dc->drawText(QPointF(0, 0), QString::fromWCharArray(text));
  dc->restore();
}

void CDrawRect::Draw(CDrawView* view, QPainter* dc, int dx, int dy) {
  if (!view || !dc) return;
  dc->save();
  prepare(dc);
  const RECT2D r = view->WorldToClientRect(rect, -dx, -dy);
  if (kind == DRAWOBJ_RECT) {
    const QRect q(r.left, r.top, r.right - r.left + 1, r.bottom - r.top + 1);
    if (!view->contoursOnly && (!document || style.filled))
      dc->fillRect(q, argb(style.fillColor, std::min(255, g_DrawSettings.fillPercent * 255 / 100)));
    QPen pen(argb(style.lineColor, g_DrawSettings.penPercent * 255 / 100));
    pen.setWidthF(1.0);
    dc->setPen(pen);
    dc->setBrush(Qt::NoBrush);
    if (!document || style.outlined) dc->drawRect(q);
    if (!document) {
      dc->drawLine(r.left, r.top, r.right + 1, r.bottom + 1);
      dc->drawLine(r.left, r.bottom + 1, r.right + 1, r.top);
    }
  } else {
    dc->restore();
    // An ellipse draws with the context's current pen and brush.
    dc->save();
    dc->drawEllipse(QRect(QPoint(r.left, r.top), QPoint(r.right, r.bottom)));
  }
  dc->restore();
}

void CDrawArc::Draw(CDrawView* view, QPainter* dc, int dx, int dy) {
  if (!view || !dc || !IsVisibleInView(view)) return;
  const RECT2D r = view->WorldToClientRect(rect, -dx, -dy);
  const POINT2D s = view->WorldToClientPoint(start, -dx, -dy), e = view->WorldToClientPoint(end, -dx, -dy);
  dc->save();
  prepare(dc);
  if (style.outlined) {
    const int width =
        view->contoursOnly || style.lineWidth < 1e-6 ? 1 : int(std::floor(style.lineWidth * view->scale));
    dc->setPen(QPen(argb(style.lineColor, 255), width));
  } else {
    dc->setPen(Qt::NoPen);
  }
  const double cx = (r.left + r.right) / 2.0, cy = (r.top + r.bottom) / 2.0;
  // Counter-clockwise on the screen from the start radial to the end radial.
  const double a0 = std::atan2(-(s.y - cy), s.x - cx) * 180 / M_PI, a1 = std::atan2(-(e.y - cy), e.x - cx) * 180 / M_PI;
  double span = a1 - a0;
  while (span <= 0) span += 360;
  dc->drawArc(QRect(QPoint(r.left, r.top), QPoint(r.right, r.bottom)), int(std::lround(a0 * 16)), int(std::lround(span * 16)));
  dc->restore();
}

namespace {

bool collinear(const std::vector<QPoint>& p) {
  for (size_t i = 2; i < p.size(); ++i) {
    const long long ax = p[i - 1].x() - p[i - 2].x(), ay = p[i - 1].y() - p[i - 2].y();
    const long long bx = p[i].x() - p[i - 1].x(), by = p[i].y() - p[i - 1].y();
    if (ax * by - ay * bx != 0) return false;
  }
  return true;
}

void drawAngle(QPainter* dc, QPoint p0, QPoint p1, QPoint p2, bool labels) {
  const double r = std::min(std::hypot(p2.x() - p1.x(), p2.y() - p1.y()), std::hypot(p0.x() - p1.x(), p0.y() - p1.y())) / 2;
  if (r < 1e-100) return;
  double a0 = std::atan2(p0.y() - p1.y(), p0.x() - p1.x()) * 180 / M_PI;
  double a2 = std::atan2(p2.y() - p1.y(), p2.x() - p1.x()) * 180 / M_PI;
  if (a2 < a0) a2 += 360;
  double start = a0, sweep = a2 - a0;
  if (sweep >= 180) {
    sweep = 360 - sweep;
    start = a2;
  }
  auto rnd = [](double v) { return int(std::floor(v + 0.5)); };
  const QRect box(QPoint(rnd(p1.x() - r), rnd(p1.y() - r)), QPoint(rnd(p1.x() + r), rnd(p1.y() + r)));
  QPen pen(fromArgb(0xC000FF00));
  pen.setWidth(0);
  dc->setPen(pen);
  dc->setBrush(Qt::NoBrush);
  // Angles here grow clockwise on the screen (y downwards), QPainter's counter-clockwise.
  dc->drawArc(box, int(std::lround(-start * 16)), int(std::lround(-sweep * 16)));
  const double endAngle = (start + sweep) * M_PI / 180;
  const DPOINT tip{p1.x() + r * std::cos(endAngle), p1.y() + r * std::sin(endAngle)};
  const double back = (start + sweep - 10) * M_PI / 180;
  const DPOINT from{p1.x() + r * std::cos(back), p1.y() + r * std::sin(back)};
  POINT2D head[4];
  TW_ArrowHeadPoints(from, tip, 15, 5, head);
  QPolygon poly;
  for (const POINT2D& h : head) poly << QPoint(h.x, h.y);
  dc->drawPolyline(poly);
  if (labels) {
    CString text;
    text.Format(L"%8.3lf deg", sweep);
    dc->setPen(argb(0x00FF00, 255));
    dc->drawText(p1, qstr(text));
  }
}

// The mm per world unit along x and y of the view's measurements: the voxel sizes in the
// unrotated projection, the isotropic size otherwise; false without a volume.
bool measureScale(CDrawView* view, double* sx, double* sy) {
  CDrawSet* set = view->GetActiveSet();
  const CVol* base = set ? set->GetBaseVol() : nullptr;
  if (!base || !base->frame) return false;
  const VA_VOLPROJ* proj = view->GetProjection();
  const bool original = proj && TW_IsProjUnrotated(proj);
  *sx = original ? base->Vx() : base->IsoVox();
  *sy = original ? base->Vy() : base->IsoVox();
  return true;
}

}  // namespace

double CDrawPoly::CurveLengthMm(CDrawView* view) const {
  double sx = 0, sy = 0;
  if (!view || !measureScale(view, &sx, &sy)) return -1;
  int n = 0;
  DPOINT* p = ContourPoints(0, &n);
  double length = 0;
  for (int i = 1; i < n; ++i) length += std::hypot((p[i].x - p[i - 1].x) * sx, (p[i].y - p[i - 1].y) * sy);
  pf_free(&p);
  return length;
}

void CDrawPoly::Draw(CDrawView* view, QPainter* dc, int dx, int dy) {
  if (!view || !dc || !document || !IsVisibleInView(view) || NumPoints() < 1) return;
  dc->save();
  prepare(dc);
  const int alpha = std::clamp(opacity * 255 / 100, 0, 255);
  const bool labels = g_DrawSettings.measurementLabels || g_CurrentTool == 5 ||
                      (g_CurrentTool == 0 && g_MovingSelectionWithRightButton);
  std::vector<std::vector<QPoint>> contours;
  const int drawn = spline ? 1 : contourCount;
  for (int c = 0; c < drawn; ++c) {
    int n = 0;
    DPOINT* p = ContourPoints(c, &n);
    std::vector<QPoint> q;
    for (int i = 0; i < n; ++i) {
      const POINT2D cp = view->WorldToClientPoint(p[i], -dx, -dy);
      q.emplace_back(cp.x, cp.y);
    }
    pf_free(&p);
    contours.push_back(std::move(q));
  }
  for (const auto& q : contours) {
    if (q.empty()) continue;
    const QPolygon poly(QList<QPoint>(q.begin(), q.end()));
    const bool fill = !view->contoursOnly && style.filled && q.size() > 2 && !collinear(q);
    if (fill) {
      dc->setPen(Qt::NoPen);
      dc->setBrush(argb(style.fillColor, alpha));
      dc->drawPolygon(poly, Qt::OddEvenFill);
    }
    if (style.outlined) {
      QPen pen(argb(style.lineColor, alpha));
      pen.setWidthF(view->contoursOnly ? 0.0 : style.lineWidth);
      dc->setPen(pen);
      dc->setBrush(Qt::NoBrush);
      if (closed || fill) dc->drawPolygon(poly);
      else dc->drawPolyline(poly);
    }
  }
  if (view->enumerate && !contours.empty()) {
    dc->setPen(argb(style.lineColor, 255));
    int k = 1;
    for (const auto& q : contours)
      for (const QPoint& p : q) dc->drawText(p, QString::number(k++));
  }
  if (!spline && contourCount == 1 && !contours.empty()) {
    const auto& q = contours[0];
    if (q.size() == 3) {
      drawAngle(dc, q[0], q[1], q[2], labels);
    } else if (q.size() == 2) {
      POINT2D head[4];
      TW_ArrowHeadPoints({double(q[0].x()), double(q[0].y())}, {double(q[1].x()), double(q[1].y())}, 15, 5, head);
      QPolygon tri;
      for (const POINT2D& h : head) tri << QPoint(h.x, h.y);
      dc->setPen(Qt::NoPen);
      dc->setBrush(argb(style.lineColor, 255));
      dc->drawPolygon(tri);
      double sx = 0, sy = 0;
      if (labels && measureScale(view, &sx, &sy)) {
        const double wdx = (points[1].x - points[0].x) * sx, wdy = (points[1].y - points[0].y) * sy;
        CString text;
        text.Format(L"%8.3lf mm", std::hypot(wdx, wdy));
        double angle = -std::atan2(wdy, wdx) * 180 / M_PI;
        if (angle > 90) angle -= 180;
        if (angle < -90) angle += 180;
        TW_DrawRotatedText(dc, text, (q[0].x() + q[1].x()) / 2.0, (q[0].y() + q[1].y()) / 2.0, angle, style.lineColor);
      }
    }
  }
  // The curve-length display: an open polyline shows its length by its last point.
  if (g_DrawSettings.m_bShowCurveLength && !closed && !contours.empty() && contours[0].size() >= 2) {
    const double mm = CurveLengthMm(view);
    if (mm >= 0) {
      CString text;
      text.Format(L"%.2lf mm", mm);
      const QPoint last = contours[0].back();
      TW_DrawRotatedText(dc, text, last.x() + 6.0, last.y() - 6.0, 0, style.lineColor);
    }
  }
  dc->restore();
}

void CDrawObj::DrawTracker(CDrawView* view, QPainter* dc) {
  if (!view || !dc) return;
  const uint32_t c = highlight == 1 ? 0x00FF00u : highlight == 2 ? 0x0000FFu : 0xFF0000u;
  // As COLORREF for plain lines, as ARGB for anti-aliased pens.
  const QColor gdi(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
  const QColor plus = fromArgb(0xFF000000u | c);
  dc->save();
  if (kind == DRAWOBJ_SET) {
    auto* set = static_cast<CDrawSet*>(this);
    if (set->IsVolumeSet()) {
      DRECT shown;
      if (DisplayedBounds(view, &shown)) {
        const RECT2D r = view->WorldToClientRect(shown);
        QPen pen(plus);
        pen.setWidth(0);
        dc->setPen(pen);
        dc->setBrush(Qt::NoBrush);
        dc->drawRect(QRect(QPoint(r.left, r.top), QPoint(r.right, r.bottom)));
        const VA_VOLPROJ* proj = view->GetProjection();
        const CVol* base = set->GetBaseVol();
        int cols = 1, rows = 1;
        if (proj && base && base->frame && VA_IsFilmView(base->Dim(), base->Spc(), proj) &&
            VA_VolProjFilmViewLayout(base->Dim(), base->Spc(), proj, &cols, &rows)) {
          QPen grid(fromArgb(0x40000000u | c));
          grid.setWidth(0);
          dc->setPen(grid);
          for (int i = 1; i < cols; ++i) {
            const int x = r.left + int(std::lround(double(r.right - r.left) * i / cols));
            dc->drawLine(x, r.top, x, r.bottom);
          }
          for (int j = 1; j < rows; ++j) {
            const int y = r.top + int(std::lround(double(r.bottom - r.top) * j / rows));
            dc->drawLine(r.left, y, r.right, y);
          }
        }
        for (const QPoint& corner : {QPoint(r.left, r.top), QPoint(r.right, r.top), QPoint(r.left, r.bottom),
                                     QPoint(r.right, r.bottom)})
          dc->fillRect(QRect(corner.x() - 5, corner.y() - 5, 10, 10), Qt::black);
      }
    } else {
      for (int i = 0; i < set->NumEntries(); ++i) set->GetEntry(i)->DrawTracker(view, dc);
    }
    dc->restore();
    return;
  }
  if (kind == DRAWOBJ_ARC) {
    const auto* a = static_cast<CDrawArc*>(this);
    const POINT2D s = view->WorldToClientPoint(a->start), e = view->WorldToClientPoint(a->end);
    const POINT2D m = view->WorldToClientPoint({(a->rect.x0 + a->rect.x1) / 2, (a->rect.y0 + a->rect.y1) / 2});
    dc->setPen(gdi);
    dc->drawLine(s.x, s.y, m.x, m.y);
    dc->drawLine(m.x, m.y, e.x, e.y);
  }
  prepare(dc);
  int n = 0;
  DPOINT* points = nullptr;
  GetControlPoints(&n, &points);
  dc->setPen(QPen(fromArgb(0xC000FF00u), 1));
  dc->setBrush(fromArgb(0x4000FF00u));
  for (int i = 0; i < n; ++i) {
    const POINT2D p = view->WorldToClientPoint(points[i]);
    dc->drawEllipse(QRect(p.x - 5, p.y - 5, 10, 10));
  }
  pf_free(&points);
  dc->restore();
}
