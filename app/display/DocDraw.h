#pragma once
// Rendering a view's document off-screen (the view's paint), the document draw's hooks, and the
// helpers of vector drawing. Uses QtGui only (QPainter on a QImage), declared here without its
// headers: callers that make images include <QImage>. The window lives in DrawViewWidget.h.

#include <functional>

#include "TwkTypes.h"
#include "render/RectHelpers.h"

class CDrawDoc;
class CDrawView;
class QImage;
class QPainter;

struct TW_DOCDRAW_HOOKS {
  // Projects the document's vector ROIs into the view before it draws (CDrawDoc::ProjectHighObjects).
  std::function<void(CDrawDoc* doc, CDrawView* view)> projectHighObjects;
  // Wait cursor on (true) and back to the arrow (false) around slow draws.
  std::function<void(bool wait)> waitCursor;
};
TW_DOCDRAW_HOOKS& TW_DocDrawHooks();

// The view's paint: a 24-bit image (blue, green, red bytes, 4-byte aligned rows) of the view's
// client size with the document drawn into it. A null image when the client area is empty.
QImage TW_RenderView(CDrawView* view);
// The same into an image that is kept between paints: it is reallocated only when the client size
// changes, which spares a fresh bitmap per frame. False for an empty client area.
bool TW_RenderViewInto(CDrawView* view, QImage* image);

// A solid line of the colour (COLORREF) with a cosmetic pen.
bool TW_DrawLine(QPainter* dc, COLORREF color, int x0, int y0, int x1, int y1);
// The arrow head at "to" of a segment from "from": tip, two back corners and the tip again.
void TW_ArrowHeadPoints(DPOINT from, DPOINT to, double length, double halfWidth, POINT2D out[4]);
// Text rotated by angle degrees about (x, y) in "Times New Roman" 16 pixels.
void TW_DrawRotatedText(QPainter* dc, const wchar_t* text, double x, double y, double angle, COLORREF color);
// A width x height array of doubles rendered into a new image of the box size (keepAspect: the
// longer side fills the smaller box side) through the colour scheme, windowed from its smallest to
// its largest defined value. Returns the zoom's pixel type (0: nothing rendered).
int TW_RenderImageToBitmap(const double* values, int width, int height, bool keepAspect, int boxWidth, int boxHeight,
                           int scheme, QImage* out);
