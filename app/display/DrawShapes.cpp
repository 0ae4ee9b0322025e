#include "DrawShapes.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "TwkMem.h"
#include "Vol.h"
#include "VolProj.h"
#include "render/HermiteSpline.h"
#include "render/RectHelpers.h"
#include "volume/VolumeBox.h"

DRAWSTYLE g_DefaultDrawStyle = [] {
  DRAWSTYLE s;
  s.fillColor = 0x00FF00;
  s.lineColor = 0x0000FF;
  s.lineWidth = 0.0;
  s.filled = 0;
  s.outlined = 1;
  return s;
}();
TW_DRAWSETTINGS g_DrawSettings;
int g_CurrentTool = 0;
bool g_MovingSelectionWithRightButton = false;

CDrawRect::CDrawRect(int k, const DRECT& r) : rect(r) {
  kind = k;
  style = g_DefaultDrawStyle;
  position = r;
}

void CDrawRect::ComputeBounds() {
  const DPOINT p[2] = {{rect.x0, rect.y0}, {rect.x1, rect.y1}};
  PR_PointSetBndRect(p, 2, &position);
}

CDrawArc::CDrawArc(const DRECT& r) : rect(r) {
  kind = DRAWOBJ_ARC;
  style = g_DefaultDrawStyle;
  start = DPOINT{(r.x0 + r.x1) / 2, r.y0};
  end = DPOINT{r.x1, (r.y0 + r.y1) / 2};
  ComputeBounds();
}

void CDrawArc::ComputeBounds() {
  const DPOINT p[4] = {{rect.x0, rect.y0}, {rect.x1, rect.y1}, start, end};
  PR_PointSetBndRect(p, 4, &position);
}

CDrawPoly::CDrawPoly(int contours, int n, bool isSpline, double t, bool isClosed, int s, const double plane[3]) {
  kind = DRAWOBJ_POLY;
  opacity = 100;
  style = g_DefaultDrawStyle;
  contourCount = std::max(1, contours);
  pointsPerContour = static_cast<int32_t*>(pf_calloc(int64_t(contourCount) * int64_t(sizeof(int32_t))));
  points = static_cast<DPOINT*>(pf_calloc(int64_t(std::max(1, n)) * int64_t(sizeof(DPOINT))));
  if (!pointsPerContour || !points) {
    pf_free(&pointsPerContour);
    pf_free(&points);
  }
  spline = isSpline ? 1 : 0;
  tension = t;
  closed = isClosed ? 1 : 0;
  slice = s;
  if (plane) std::copy(plane, plane + 3, planePoint);
}

void (*g_PolylineDestroyed)(const CDrawPoly* poly) = nullptr;

CDrawPoly::~CDrawPoly() {
  if (g_PolylineDestroyed) g_PolylineDestroyed(this);
  pf_free(&pointsPerContour);
  pf_free(&points);
}

int CDrawPoly::NumPoints() const {
  if (!pointsPerContour) return 0;
  int n = 0;
  for (int c = 0; c < contourCount; ++c) n += pointsPerContour[c];
  return n;
}

void CDrawPoly::ComputeBounds() { ComputePolyBounds(&position); }

DPOINT* CDrawPoly::ContourPoints(int contour, int* count) const {
  *count = 0;
  if (!points || !pointsPerContour || contour < 0 || contour >= contourCount) return nullptr;
  int first = 0;
  for (int c = 0; c < contour; ++c) first += pointsPerContour[c];
  const int n = pointsPerContour[contour];
  if (n < 1) return nullptr;
  if (spline) return PR_CubicHermiteSpline2D(closed != 0, 0, tension, points + first, n, 0.1, count);
  auto* out = static_cast<DPOINT*>(pf_malloc(int64_t(n) * int64_t(sizeof(DPOINT))));
  if (!out) return nullptr;
  std::copy(points + first, points + first + n, out);
  *count = n;
  return out;
}

void CDrawPoly::ComputePolyBounds(DRECT* out) const {
  DRECT r{VOID_VALUE - 1, VOID_VALUE - 1, -VOID_VALUE + 1, -VOID_VALUE + 1};
  bool any = false;
  for (int c = 0; c < contourCount; ++c) {
    int n = 0;
    DPOINT* p = ContourPoints(c, &n);
    for (int i = 0; i < n; ++i) {
      r.x0 = std::min(r.x0, p[i].x - 1.0);
      r.y0 = std::min(r.y0, p[i].y - 1.0);
      r.x1 = std::max(r.x1, p[i].x + 1.0);
      r.y1 = std::max(r.y1, p[i].y + 1.0);
      any = true;
    }
    pf_free(&p);
  }
  (void)any;
  *out = r;
}

bool CDrawPoly::AppendPoint(DPOINT p) {
  if (contourCount != 1 || !points || !pointsPerContour) return false;
  const int n = pointsPerContour[0];
  if (n >= 2 && std::fabs(points[n - 1].x - points[n - 2].x) < 1e-100 &&
      std::fabs(points[n - 1].y - points[n - 2].y) < 1e-100) {
    points[n - 1] = p;
  } else {
    if (!pf_realloc(&points, int64_t(n + 1) * int64_t(sizeof(DPOINT)))) return false;
    points[n] = p;
    pointsPerContour[0] = n + 1;
  }
  ComputeBounds();
  if (document) document->SetModifiedFlag();
  return true;
}

void CDrawPoly::RemovePoint(int index) {
  if (!points || !pointsPerContour) return;
  const int n = pointsPerContour[0];
  if (contourCount == 1 && n < 3) return;
  if (n < 1) return;
  const int i = index < 0 || index >= n ? n - 1 : index;
  const int total = NumPoints();
  std::copy(points + i + 1, points + total, points + i);
  pointsPerContour[0] = n - 1;
  ComputeBounds();
  if (document) document->SetModifiedFlag();
}

int CDrawPoly::ContourOfPoint(int index) const {
  if (!pointsPerContour || index < 0) return -1;
  int first = 0;
  for (int c = 0; c < contourCount; ++c) {
    if (index < first + pointsPerContour[c]) return c;
    first += pointsPerContour[c];
  }
  return -1;
}

bool CDrawPoly::DeletePoint(int index) {
  const int c = ContourOfPoint(index);
  if (c < 0) return false;
  if (pointsPerContour[c] < 3) return true;
  const int total = NumPoints();
  std::copy(points + index + 1, points + total, points + index);
  --pointsPerContour[c];
  ComputeBounds();
  if (document) document->SetModifiedFlag();
  return true;
}

bool CDrawPoly::InsertSplinePoint(DPOINT p) {
  if (contourCount != 1 || !points || !pointsPerContour) return false;
  int n = pointsPerContour[0];
  if (!PR_CubicHermiteSpline2D_InsertPoint(&points, &n, p, closed != 0, tension)) return false;
  pointsPerContour[0] = n;
  ComputeBounds();
  return true;
}

void CDrawPoly::CloseContour() {
  if (contourCount != 1 || !points || !pointsPerContour || style.filled) return;
  const int n = pointsPerContour[0];
  if (n < 3) return;
  if (!pf_realloc(&points, int64_t(n + 1) * int64_t(sizeof(DPOINT)))) return;
  points[n] = points[0];
  pointsPerContour[0] = n + 1;
  ComputeBounds();
}

CDrawPoly* CDrawPoly::ToSampledPolyline(double step) const {
  if (!spline || !pointsPerContour) return nullptr;
  if (std::fabs(step) < 1e-100) step = 0.1;
  std::vector<std::vector<DPOINT>> contours;
  for (int c = 0; c < contourCount; ++c) {
    int first = 0;
    for (int k = 0; k < c; ++k) first += pointsPerContour[k];
    int n = 0;
    DPOINT* s = pointsPerContour[c] > 0
                    ? PR_CubicHermiteSpline2D(closed != 0, 0, tension, points + first, pointsPerContour[c], step, &n)
                    : nullptr;
    contours.emplace_back(s, s + n);
    pf_free(&s);
  }
  int total = 0;
  for (const auto& c : contours) total += int(c.size());
  auto* out = new CDrawPoly(contourCount, total, false, 0, closed != 0, slice, planePoint);
  if (!out->points) {
    delete out;
    return nullptr;
  }
  out->style = style;
  out->opacity = opacity;
  int at = 0;
  for (int c = 0; c < contourCount; ++c) {
    std::copy(contours[c].begin(), contours[c].end(), out->points + at);
    out->pointsPerContour[c] = int(contours[c].size());
    at += int(contours[c].size());
  }
  out->ComputeBounds();
  return out;
}

CDrawPoly* CDrawPoly::Clone() const {
  const int n = NumPoints();
  auto* out = new CDrawPoly(contourCount, n, spline != 0, tension, closed != 0, slice, planePoint);
  if (!out->points || !points) {
    delete out;
    return nullptr;
  }
  std::copy(pointsPerContour, pointsPerContour + contourCount, out->pointsPerContour);
  std::copy(points, points + n, out->points);
  out->style = style;
  out->opacity = opacity;
  out->marked = marked;
  out->reserved = reserved;
  out->position = position;
  return out;
}

namespace {

// Even-odd point-in-polygon test of all contours together.
bool insideContours(const std::vector<std::vector<DPOINT>>& contours, double x, double y) {
  bool inside = false;
  for (const auto& c : contours)
    for (size_t i = 0, j = c.size() - 1; i < c.size(); j = i++) {
      if ((c[i].y > y) != (c[j].y > y) && x < (c[j].x - c[i].x) * (y - c[i].y) / (c[j].y - c[i].y) + c[i].x)
        inside = !inside;
    }
  return inside;
}

}  // namespace

bool CDrawPoly::HitTestRect(bool closedTest, const DRECT& world, bool* hit) const {
  *hit = false;
  std::vector<std::vector<DPOINT>> contours;
  for (int c = 0; c < contourCount; ++c) {
    int n = 0;
    DPOINT* p = ContourPoints(c, &n);
    if (n > 0) contours.emplace_back(p, p + n);
    pf_free(&p);
  }
  if (style.outlined)
    for (const auto& c : contours)
      if (PR_PolylineDrectIntersect(c.data(), int(c.size()), closed != 0, style.lineWidth, &world)) {
        *hit = true;
        return true;
      }
  if (closedTest && !contours.empty()) {
    // The polygon region with integer vertices: any corner inside, or any vertex inside the rectangle.
    std::vector<std::vector<DPOINT>> rounded = contours;
    for (auto& c : rounded)
      for (auto& p : c) p = DPOINT{std::floor(p.x + 0.5), std::floor(p.y + 0.5)};
    DRECT r = world;
    PR_DrectNormalize(&r);
    const DPOINT corners[5] = {{r.x0, r.y0}, {r.x1, r.y0}, {r.x0, r.y1}, {r.x1, r.y1}, {(r.x0 + r.x1) / 2, (r.y0 + r.y1) / 2}};
    for (const DPOINT& q : corners)
      if (insideContours(rounded, q.x, q.y)) *hit = true;
    for (const auto& c : rounded)
      for (const DPOINT& p : c)
        if (p.x >= r.x0 && p.x <= r.x1 && p.y >= r.y0 && p.y <= r.y1) *hit = true;
    for (const auto& c : rounded)
      if (!*hit && PR_PolylineDrectIntersect(c.data(), int(c.size()), true, 0, &r)) *hit = true;
  }
  return true;
}

namespace {

CDrawPoly* newLine(CDrawView* view, int slice, DPOINT a, DPOINT b, COLORREF color) {
  const VA_VOLPROJ* proj = view ? view->GetProjection() : nullptr;
  const double zero[3] = {0, 0, 0};
  auto* poly = new CDrawPoly(1, 2, false, 0, false, slice, proj ? proj->rotation : zero);
  if (!poly->points) {
    delete poly;
    return nullptr;
  }
  poly->points[0] = a;
  poly->points[1] = b;
  poly->pointsPerContour[0] = 2;
  poly->style.lineColor = color;
  return poly;
}

bool appendTo(CDrawSet* set, CDrawPoly* poly) {
  CDrawDoc* doc = set->GetDocument();
  if (!doc) {
    delete poly;
    return false;
  }
  CDrawObj* obj = poly;
  return doc->AddObject(&obj, true);
}

}  // namespace

bool TW_AddLineSegment(CDrawSet* set, CDrawView* view, double x0, double y0, double z0, double x1, double y1,
                       double /*z1*/, COLORREF color) {
  if (!set || !view) return false;
  const double L = view->worldLeft, T = view->worldTop;
  CDrawPoly* poly = newLine(view, int(std::floor(z0 + 0.5)), {L + x0, T - y0}, {L + x1, T - y1}, color);
  return poly && appendTo(set, poly);
}

bool TW_AddGradientLines(CDrawSet* set, CDrawView* view, const double* vectors, const DIM3D* dims, double length,
                         const CVol* mask) {
  if (!set || !view || !vectors || !dims || !mask || !mask->frame) return false;
  const RECT3D all{0, 0, 0, mask->W() - 1, mask->H() - 1, mask->D() - 1};
  auto* bytes = static_cast<uint8_t*>(mask->GetBox(0, &all, 8));
  if (!bytes) return false;
  const int64_t n = int64_t(dims->w) * dims->h * dims->d;
  double largest = 0;
  for (int64_t i = 0; i < n; ++i)
    if (bytes[i]) {
      const double* v = vectors + 3 * i;
      largest = std::max(largest, v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    }
  const double scale = largest > 0 ? length / std::sqrt(largest) : 0;
  const double L = view->worldLeft, T = view->worldTop;
  bool ok = true;
  for (int z = 0; z < dims->d && ok; ++z)
    for (int y = 0; y < dims->h && ok; ++y)
      for (int x = 0; x < dims->w && ok; ++x) {
        const int64_t i = (int64_t(z) * dims->h + y) * dims->w + x;
        const double* v = vectors + 3 * i;
        if (!bytes[i] || v[0] * v[0] + v[1] * v[1] + v[2] * v[2] < 1e-100) continue;
        CDrawPoly* poly = newLine(view, z, {L + x, T - y}, {L + x + v[0] * scale, T - (y + v[1] * scale)}, 255);
        ok = poly && appendTo(set, poly);
      }
  pf_free(&bytes);
  return ok;
}
