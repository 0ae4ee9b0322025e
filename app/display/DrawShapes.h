#pragma once
// The plain vector objects of a document: rectangles and ellipses (CDrawRect), arcs (CDrawArc) and
// polylines, polygons and splines of one or more contours (CDrawPoly), in world coordinates. Their
// control points, hit tests and visibility are CDrawObj's (DrawObjGeometry.cpp); they draw with
// QPainter (ShapeDraw.cpp). Also the display settings that vector drawing reads and the helpers
// that turn computed geometry into line objects.

#include <cstdint>

#include "DrawObj.h"
#include "TwkTypes.h"

class CDrawSet;
class CVol;

// The style of new rectangles, ellipses, arcs and polylines (fill 0x00FF00, line 0x0000FF).
extern DRAWSTYLE g_DefaultDrawStyle;

// Display settings of vector drawing: the fill and pen opacity of rectangles in percent, whether
// polylines show their measurement labels, and the program's curve-length display ("Display\Hide
// Curve Length"; off at start, not stored), with which a polyline shows its length in mm.
struct TW_DRAWSETTINGS {
  int fillPercent = 25;
  int penPercent = 50;
  bool measurementLabels = false;
  bool m_bShowCurveLength = false;
};
extern TW_DRAWSETTINGS g_DrawSettings;

// The current tool of all views: 0 selection, 1 zoom, 2 vector-ROI rectangle, 4 ellipse,
// 5 polyline, 6 arc, 10 window/level drag, 11 magnetic trace.
extern int g_CurrentTool;
// Set by the selection tool while a right-button drag moves the selection.
extern bool g_MovingSelectionWithRightButton;

class CDrawRect : public CDrawObj {
 public:
  // kind 2 rectangle, 3 or 4 ellipse; the default style.
  explicit CDrawRect(int kind = DRAWOBJ_RECT, const DRECT& rect = DRECT{});
  void ComputeBounds() override;
  void Draw(CDrawView* view, QPainter* dc, int dx, int dy);

  DRECT rect;
};

class CDrawArc : public CDrawObj {
 public:
  // The arc of the ellipse in rect from (cx, y0) to (x1, cy).
  explicit CDrawArc(const DRECT& rect = DRECT{});
  void ComputeBounds() override;
  void Draw(CDrawView* view, QPainter* dc, int dx, int dy);

  DRECT rect;
  DPOINT start, end;
};

class CDrawPoly : public CDrawObj {
 public:
  CDrawPoly(int contours, int points, bool spline, double tension, bool closed, int slice, const double plane[3]);
  ~CDrawPoly() override;  // frees both arrays

  void ComputeBounds() override;
  int NumPoints() const;
  // Rubber-band protocol of the polyline tools (single contour only).
  bool AppendPoint(DPOINT p);
  // Index or -1 for the last point of the first contour; nothing for a contour under 3 points.
  void RemovePoint(int index);
  bool DeletePoint(int index);
  int ContourOfPoint(int index) const;
  bool InsertSplinePoint(DPOINT p);
  void CloseContour();
  CDrawPoly* ToSampledPolyline(double step) const;
  CDrawPoly* Clone() const;
  bool HitTestRect(bool closed, const DRECT& world, bool* hit) const;
  void ComputePolyBounds(DRECT* out) const;
  // The points of one contour (a spline sampled with step 0.1) in a new pf_malloc array.
  DPOINT* ContourPoints(int contour, int* count) const;
  // The length in mm of the first contour (a spline along its samples) in the view's active set,
  // with the voxel sizes the view's measurements use; -1 without a volume.
  double CurveLengthMm(CDrawView* view) const;
  void Draw(CDrawView* view, QPainter* dc, int dx, int dy);
  // Moves the points of a single-contour polyline onto the edges of the active set's signal
  // operand (app/display/PolyTools.cpp); false (points kept) when that fails.
  bool MagTrace_Resnap(CDrawView* view, int mode);

  int32_t contourCount = 1;
  int32_t* pointsPerContour = nullptr;  // pf_malloc, one entry per contour
  DPOINT* points = nullptr;             // pf_malloc, all contours one after the other
  int32_t slice = 0;
  double planePoint[3] = {0, 0, 0};
  uint8_t spline = 0;
  int32_t reserved = 0;
  double tension = 0;
  uint8_t closed = 0;
};

// Called by every polyline's destructor when set (the drawing tools let go of it there).
extern void (*g_PolylineDestroyed)(const CDrawPoly* poly);

// A two-point line object in the view's projection from projected voxel coordinates (slice
// floor(z0 + 0.5)), appended to the set's document.
bool TW_AddLineSegment(CDrawSet* set, CDrawView* view, double x0, double y0, double z0, double x1, double y1,
                       double z1, COLORREF color);
// One red line per masked voxel of a vector field (vx, vy, vz per voxel), scaled so that the longest
// masked vector is length long.
bool TW_AddGradientLines(CDrawSet* set, CDrawView* view, const double* vectors, const DIM3D* dims, double length,
                         const CVol* mask);
