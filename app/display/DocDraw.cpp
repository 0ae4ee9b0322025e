// The document draw: background, objects in list order, crosshair, grid, orientation letters and
// selection trackers, into the view's off-screen 24-bit bitmap.

#include "DocDraw.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>

#include "AppOptions.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawShapes.h"
#include "DrawView.h"
#include "DrawVol.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "Vol.h"
#include "ViewGeometry.h"
#include "VolRender.h"
#include "render/ColorSchemes.h"
#include "render/PictureZoom.h"
#include "render/ProjectionGeometry.h"
#include "volume/Frame.h"

TW_DOCDRAW_HOOKS& TW_DocDrawHooks() {
  static TW_DOCDRAW_HOOKS hooks;
  return hooks;
}

namespace {

CDrawSet* firstVolumeSet(const CDrawDoc* doc) {
  for (CDrawObj* obj : doc->objects)
    if (obj->kind == DRAWOBJ_SET && static_cast<CDrawSet*>(obj)->IsVolumeSet()) return static_cast<CDrawSet*>(obj);
  return nullptr;
}

// Inverts a horizontal or vertical run of pixels of a paint target (the XOR pen of a crosshair).
void xorLine(const TW_PAINTTARGET& t, int x0, int y0, int x1, int y1) {
  if (!t.bits) return;
  const int64_t stride = TW_BitmapStride(t.width);
  if (y0 == y1) {
    if (y0 < 0 || y0 >= t.height) return;
    for (int x = std::max(0, std::min(x0, x1)); x <= std::min(t.width - 1, std::max(x0, x1)); ++x)
      for (int c = 0; c < 3; ++c) t.bits[y0 * stride + 3 * x + c] ^= 0xFF;
  } else if (x0 == x1) {
    if (x0 < 0 || x0 >= t.width) return;
    for (int y = std::max(0, std::min(y0, y1)); y <= std::min(t.height - 1, std::max(y0, y1)); ++y)
      for (int c = 0; c < 3; ++c) t.bits[y * stride + 3 * x0 + c] ^= 0xFF;
  }
}

}  // namespace

void CDrawDoc::Draw(CDrawView* view, QPainter* dc, uint8_t* bits) {
  if (!view || !dc) return;
  std::unique_lock<std::recursive_mutex> guard(lock);
  if (drawing) return;
  drawing = 1;
  const VA_VOLPROJ* record = view->GetProjection();
  const bool wait = !interactiveRedraw && !(record && !view->IsFilmView(nullptr) && record->projType == 0);
  if (wait && TW_DocDrawHooks().waitCursor) TW_DocDrawHooks().waitCursor(true);
  if (TW_DocDrawHooks().projectHighObjects) TW_DocDrawHooks().projectHighObjects(this, view);
  else ProjectHighObjects(view);

  const RECT2D client{0, 0, view->clientWidth - 1, view->clientHeight - 1};
  if (bits) {
    // The background straight into the bitmap: the first row, then copies of it.
    const int64_t stride = TW_BitmapStride(view->clientWidth);
    for (int x = 0; x < view->clientWidth; ++x) {
      bits[3 * x] = GetBValue(backgroundColor);
      bits[3 * x + 1] = GetGValue(backgroundColor);
      bits[3 * x + 2] = GetRValue(backgroundColor);
    }
    for (int y = 1; y < view->clientHeight; ++y) std::memcpy(bits + y * stride, bits, size_t(3 * view->clientWidth));
  } else {
    dc->fillRect(QRect(0, 0, view->clientWidth, view->clientHeight),
                 QColor(int(GetRValue(backgroundColor)), int(GetGValue(backgroundColor)), int(GetBValue(backgroundColor))));
  }
  TW_PAINTTARGET& target = view->paintTarget;
  target.visible = view->ClientToWorldRect(client);
  target.width = client.right - client.left + 1;
  target.height = client.bottom - client.top + 1;
  target.bits = bits;
  target.client = client;
  const auto started = std::chrono::steady_clock::now();

  for (CDrawObj* obj : objects)
    if (obj->IsVisibleInView(view)) obj->Draw(view, dc, 0, 0);

  bool finished = true;
  CDrawSet* baseSet = firstVolumeSet(this);
  CVol* base = baseSet ? baseSet->GetBaseVol() : nullptr;
  if (base && base->frame) {
    DIM3D pd;
    const bool haveDims = record && VA_VolProjGridDimensions(base->Dim(), base->Spc(), record, &pd);
    if (record && TW_Options().volCursor == 1 && HasActiveView() && (!record->filmView || (haveDims && pd.d == 1)) &&
        Views().size() > 1)
      DisplayCrosshair(view, dc);
    if (view->showGrid) DrawGrid(view, dc, view->gridStep);
    if ((TW_Options().displayOrient || !VA_IsValidOrientation(base->orient)) && record)
      finished = DrawOrientationLetters(dc, record, baseSet, base, client);
  }
  if (finished && view->IsActive()) {
    if (TW_Options().volCursor == 2) SyncLinkedCursor(view);
    for (CDrawObj* obj : selection)
      if (obj != baseSet && obj->IsVisibleInView(view)) obj->DrawTracker(view, dc);
    ++g_DocDisplayCount;
    g_DocDisplayClock += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  }
  target = TW_PAINTTARGET();
  if (wait && TW_DocDrawHooks().waitCursor) TW_DocDrawHooks().waitCursor(false);
  drawing = 0;
}

bool CDrawDoc::DisplayCrosshair(CDrawView* view, QPainter* /*dc*/) {
  if (!view) {
    twk::showNamedError(L"CDrawDoc::DisplayCrosshair", L"Existing view is required");
    return false;
  }
  CDrawSet* set = GetActiveSet();
  const VA_VOLPROJ* p = view->GetProjection();
  const CVol* vol = set ? set->GetActiveVol() : nullptr;
  if (!p || !vol || !vol->frame || view->IsFilmView(nullptr)) return true;
  DPOINT3D point = linkedCursor.projection;
  if (view->IsActive()) {
    if (std::floor(point.z + 0.5) != p->slice) return true;
  } else if (!VA_VolProjGridConversion(vol->Dim(), vol->Spc(), p, &linkedCursor.volume, &point, 1)) {
    return true;
  }
  const DRECT3D box{point.x, point.y, point.z, point.x, point.y, point.z};
  DRECT world;
  if (!set->VolBoxToWorldRect(view, &box, p->slice, &world)) return false;
  const POINT2D c = view->WorldToClientPoint({(world.x0 + world.x1) / 2, (world.y0 + world.y1) / 2});
  DRECT shown;
  if (!set->DisplayedBounds(view, &shown)) return false;
  const RECT2D r = view->WorldToClientRect(shown);
  xorLine(view->paintTarget, r.left, c.y, r.right, c.y);
  xorLine(view->paintTarget, c.x, r.top, c.x, r.bottom);
  return true;
}

void CDrawDoc::DrawGrid(CDrawView* view, QPainter* dc, double step) {
  if (!(step >= 0) || !std::isfinite(step) || !view || !dc) return;
  CDrawSet* set = GetActiveSet();
  const VA_VOLPROJ* p = view->GetProjection();
  const CVol* vol = set ? set->GetActiveVol() : nullptr;
  if (!p || !vol || !vol->frame || view->IsFilmView(nullptr) || !TW_IsProjUnrotated(p)) return;
  DRECT r;
  if (!VA_VolDisplayActualWorldRect(&set->position, vol->Dim(), vol->Spc(), p, &r)) return;
  double sx = step / vol->Vx(), sy = step / vol->Vy();
  if (std::fabs(step) < 1e-100) sx = sy = 1.0;
  if (!(sx > 0) || !(sy > 0) || !std::isfinite(sx) || !std::isfinite(sy)) return;
  // Lines closer than 2 pixels are thinned to every k-th line of the grid, and only the lines
  // within the visible rectangle are drawn: a tiny step costs no more than the screen's width.
  const double minWorld = 2.0 / view->scale;
  const double kx = sx < minWorld ? std::ceil(minWorld / sx) : 1.0, ky = sy < minWorld ? std::ceil(minWorld / sy) : 1.0;
  const DRECT v = view->GetVisibleWorldRect();
  dc->save();
  dc->setRenderHint(QPainter::Antialiasing, false);
  QPen pen(QColor(0, 255, 0));
  pen.setWidth(0);
  dc->setPen(pen);
  // Grid line i stands at x0 + i * step for i = 0 .. floor(extent / step).
  auto range = [](double origin, double extent, double stepWorld, double k, double lo, double hi, double* first,
                  double* last) {
    const double n = std::floor(std::fabs(extent) / stepWorld);
    *first = std::max(0.0, std::ceil((lo - origin) / (stepWorld * k))) * k;
    *last = std::min(n, std::floor((hi - origin) / (stepWorld * k)) * k);
  };
  double first, last;
  range(r.x0, r.x1 - r.x0, sx, kx, v.x0, v.x1, &first, &last);
  for (double i = first; i <= last; i += kx) {
    const POINT2D a = view->WorldToClientPoint({r.x0 + i * sx, r.y0}), b = view->WorldToClientPoint({r.x0 + i * sx, r.y1});
    dc->drawLine(a.x, a.y, b.x, b.y);
  }
  range(r.y0, r.y1 - r.y0, sy, ky, v.y0, v.y1, &first, &last);
  for (double j = first; j <= last; j += ky) {
    const POINT2D a = view->WorldToClientPoint({r.x0, r.y0 + j * sy}), b = view->WorldToClientPoint({r.x1, r.y0 + j * sy});
    dc->drawLine(a.x, a.y, b.x, b.y);
  }
  dc->restore();
}

void CDrawDoc::SyncLinkedCursor(CDrawView* view) {
  linkedCursor = lastCursor;
  CDrawSet* set = GetActiveSet();
  const CVol* vol = set ? set->GetActiveVol() : nullptr;
  if (!vol || !vol->frame) return;
  for (CDrawView* v : Views()) {
    VA_VOLPROJ* p = set->FindViewProjection(v);
    if (!p || v->IsFilmView(nullptr)) continue;
    DPOINT3D point = linkedCursor.projection;
    if (v != view && !VA_VolProjGridConversion(vol->Dim(), vol->Spc(), p, &linkedCursor.volume, &point, 1)) continue;
    DIM3D pd;
    if (!VA_VolProjGridDimensions(vol->Dim(), vol->Spc(), p, &pd)) continue;
    if (point.x >= 0 && point.x <= pd.w && point.y >= 0 && point.y <= pd.h && point.z >= 0 && point.z <= pd.d) {
      p->slice = int(std::floor(point.z + 0.5));
      p->timeIndex = linkedCursor.time;
      if (v != view) v->RedrawNow();
    }
  }
  // Another draw of this document is running (the caller's): the other views repaint by themselves.
  for (CDrawView* v : Views())
    if (v != view) v->InvalidateClient();
}

bool CDrawDoc::DrawOrientationLetters(QPainter* dc, const VA_VOLPROJ* projection, CDrawSet* set, CVol* base,
                                      const RECT2D& client) {
  if (!base || !dc || !set) return false;
  CString texts[4];
  if (!VA_GenerateOrientTxt(base, projection, texts)) return false;
  CDrawView* view = projection->view;
  DRECT shown;
  if (!view || !set->DisplayedBounds(view, &shown)) return true;
  RECT2D r = view->WorldToClientRect(shown);
  r.left = std::max(r.left, client.left);
  r.top = std::max(r.top, client.top);
  r.right = std::min(r.right, client.right);
  r.bottom = std::min(r.bottom, client.bottom);
  if (r.left > r.right || r.top > r.bottom) return true;
  const int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
  dc->save();
  dc->setRenderHint(QPainter::Antialiasing, true);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(40);
  QPainterPath path;
  auto add = [&](const CString& text, int x, int y) {
    // Text placed by its top-left corner, as the path of the desktop drawing does.
    path.addText(QPointF(x, y + QFontMetricsF(font).ascent()), font, QString::fromWCharArray(text.GetString()));
  };
  add(texts[0], cx, r.top);
  add(texts[1], cx, r.bottom - 40);
  add(texts[2], r.left, cy);
  add(texts[3], r.right - 40, cy);
  QPen pen(QColor(0, 255, 0, 255));
  pen.setWidth(1);
  pen.setJoinStyle(Qt::RoundJoin);
  dc->setPen(pen);
  dc->setBrush(Qt::NoBrush);
  dc->drawPath(path);
  dc->restore();
  return true;
}

bool TW_RenderViewInto(CDrawView* view, QImage* image) {
  if (!view || !image || view->clientWidth < 1 || view->clientHeight < 1 || !view->GetDocument()) return false;
  if (image->width() != view->clientWidth || image->height() != view->clientHeight ||
      image->format() != QImage::Format_BGR888)
    *image = QImage(view->clientWidth, view->clientHeight, QImage::Format_BGR888);
  if (image->isNull()) return false;
  uint8_t* bits = image->bits();
  QPainter painter(image);
  view->GetDocument()->Draw(view, &painter, bits);
  painter.end();
  return true;
}

QImage TW_RenderView(CDrawView* view) {
  QImage image;
  TW_RenderViewInto(view, &image);
  return image;
}

int TW_RenderImageToBitmap(const double* values, int width, int height, bool keepAspect, int boxWidth, int boxHeight,
                           int scheme, QImage* out) {
  if (!values || !out || width < 1 || height < 1 || boxWidth < 1 || boxHeight < 1) return 0;
  int w = boxWidth, h = boxHeight;
  if (keepAspect) {
    const int m = std::min(boxWidth, boxHeight);
    const double longer = std::max(width, height), shorter = std::min(width, height);
    const int other = int(std::floor(shorter / longer * m + 0.5));
    w = width >= height ? m : other;
    h = width >= height ? other : m;
    w = std::max(w, 1);
    h = std::max(h, 1);
  }
  FramePtr frame(VA_CreateVol(values, 64, width, height, 1, 1));
  if (!frame) return 0;
  const DRECT layer{0, 0, double(width), double(height)};
  // The picture's world: the layer rectangle seen at w x h pixels.
  const double sx = double(w) / width, sy = double(h) / height, s = std::min(sx, sy);
  const double visible[4] = {0, height - (h - 1) / s, (w - 1) / s, double(height)};
  void* picture = nullptr;
  const int type = VA_PictureZoom(frame.get(), 0, &layer, nullptr, nullptr, visible, w, h, nullptr, &picture, nullptr);
  frame.reset();
  *out = QImage(w, h, QImage::Format_BGR888);
  out->fill(Qt::black);
  if (type == VA_PIXEL_REAL) {
    const double* v = static_cast<const double*>(picture);
    double mn = VOID_VALUE, mx = -VOID_VALUE;
    for (int64_t i = 0; i < int64_t(w) * h; ++i)
      if (v[i] != VOID_VALUE) {
        mn = std::min(mn, v[i]);
        mx = std::max(mx, v[i]);
      }
    PR_VIEWFILT filt;
    filt.level = (mn + mx) / 2;
    filt.width = mx - mn;
    filt.scheme = scheme;
    VA_VolFiltDrawRGB(type, picture, w, h, &filt, out->bits(), out->bytesPerLine(), 0xFFFFFFFF);
  }
  pf_free(&picture);
  return type;
}
