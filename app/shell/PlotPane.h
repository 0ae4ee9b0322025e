#pragma once
// The curve plot pane as a computation: where the grid lines, curve segments and point markers of a
// pane go, in pane pixels. The desktop painter draws the result (anti-aliased lines, circles);
// tests read it directly. Pixel y grows downwards; the pane is an inclusive rectangle.

#include <vector>

#include "TwkTypes.h"

struct TW_PANE_RECT {
  int left = 0, top = 0, right = 0, bottom = 0;
};

struct TW_PLOT_LINE {
  int x0, y0, x1, y1;
  COLORREF colour;
};

struct TW_PLOT_MARKER {
  int left, top, right, bottom;  // the circle's box: centre - r to centre + r - 1
  bool filled;
  COLORREF pen, brush;
};

struct TW_PLOT_SCENE {
  bool fillBackground = false;
  COLORREF background = 0;
  std::vector<TW_PLOT_LINE> lines;
  std::vector<TW_PLOT_MARKER> markers;
};

// Smallest and largest value that is not 1e60; both 1e60 when there is none. Always true.
bool TW_GetPlotRange(const double* values, int n, double* min, double* max);

// The 5 x 5 grid with ticks outside the left and bottom edges.
bool TW_DrawPaneGrid(const TW_PANE_RECT& pane, TW_PLOT_SCENE* scene);

// The index of the curve nearest to a point clicked in the pane (0 when no curve qualifies).
int TW_FindNearestPlotCurve(double yMin, double yMax, const TW_PANE_RECT& pane, const double* const* curves,
                            int curveCount, const double* x, int n, int pointX, int pointY);

// The brush colour of markers: dark channels lightened, light ones darkened.
COLORREF TW_MarkerBrushColour(COLORREF colour);

// One curve (y over x) in the pane. yMin/yMax of 1e60 are taken from the values (and written back).
// A flat curve gets its value range widened so that it lies in the middle of the pane; a single
// point is drawn in the middle across. Two or more points with one x only give "Function argument
// axis is collapsed" and false. A colour of 0xFFFFFFFF turns the line or the markers off; filled
// lists the (sorted) point indices whose markers are filled (null: all).
bool TW_DrawPaneTac(TW_PLOT_SCENE* scene, double* yMin, double* yMax, const TW_PANE_RECT& pane, const double* y,
                    const double* x, int n, COLORREF lineColour, COLORREF markerColour, COLORREF background,
                    int markerRadius, const int* filled, int filledCount, bool fillBackground);
