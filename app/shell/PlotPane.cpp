#include "PlotPane.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "DocMessages.h"

namespace {

constexpr double kUnset = 1e60;
constexpr COLORREF kOff = 0xFFFFFFFF;

int clampInt(double v, int lo, int hi) { return int(std::clamp(v, double(lo), double(hi))); }

// Widens an empty range around its value: by a tenth of the value, or by 1 around zero.
void widen(double* lo, double* hi) {
  if (*hi - *lo >= 1e-100) return;
  const double centre = *lo;
  const double half = centre != 0 ? std::fabs(centre) * 0.1 : 1.0;
  *lo = centre - half;
  *hi = centre + half;
}

}  // namespace

bool TW_GetPlotRange(const double* values, int n, double* min, double* max) {
  double lo = kUnset, hi = -kUnset;
  for (int i = 0; values && i < n; ++i) {
    if (values[i] == kUnset) continue;
    lo = std::min(lo, values[i]);
    hi = std::max(hi, values[i]);
  }
  if (lo <= hi) {
    *min = lo;
    *max = hi;
  } else {
    *min = *max = kUnset;
  }
  return true;
}

bool TW_DrawPaneGrid(const TW_PANE_RECT& p, TW_PLOT_SCENE* scene) {
  const int l = p.left, t = p.top, r = p.right, b = p.bottom;
  for (int i = 1; i <= 4; ++i) {
    const int y = int(std::floor(i * (b - t) / 5.0 + t + 0.5));
    scene->lines.push_back({l, y, r, y, 0xC0C0C0});
    scene->lines.push_back({l, y, l - 8, y, 0x606060});
  }
  for (int i = 1; i <= 4; ++i) {
    const int x = int(std::floor(i * (r - l) / 5.0 + l + 0.5));
    scene->lines.push_back({x, t, x, b, 0xC0C0C0});
    scene->lines.push_back({x, b + 8, x, b, 0x606060});
  }
  return true;
}

int TW_FindNearestPlotCurve(double yMin, double yMax, const TW_PANE_RECT& p, const double* const* curves,
                            int curveCount, const double* x, int n, int pointX, int pointY) {
  if (!curves || !x || n < 2) return 0;
  const int px = std::clamp(pointX, p.left, p.right);
  const int py = std::clamp(pointY, p.top, p.bottom);
  const double dx = (x[n - 1] - x[0]) * (px - p.left) / double(p.right - p.left + 1);
  const double y = (p.bottom - py) * (yMax - yMin) / double(p.bottom - p.top + 1) + yMin;
  int best = 0;
  double bestDistance = kUnset;
  for (int c = 0; c < curveCount; ++c) {
    double distance = kUnset;
    for (int j = 0; j + 1 < n; ++j) {
      const double a = x[j] - x[0], b = x[j + 1] - x[0];
      if (!(a <= dx && dx <= b) || std::fabs(x[j + 1] - x[j]) < 1e-100) continue;
      const double value = curves[c][j] + (curves[c][j + 1] - curves[c][j]) * (dx - a) / (b - a);
      distance = std::min(distance, std::fabs(y - value));
    }
    if (distance < bestDistance) {
      bestDistance = distance;
      best = c;
    }
  }
  return best;
}

COLORREF TW_MarkerBrushColour(COLORREF colour) {
  auto channel = [](int c) {
    return c <= 128 ? std::min(255, int(std::lround(c * 1.75))) : int(std::lround(c / 1.75));
  };
  return RGB(channel(GetRValue(colour)), channel(GetGValue(colour)), channel(GetBValue(colour)));
}

bool TW_DrawPaneTac(TW_PLOT_SCENE* scene, double* yMin, double* yMax, const TW_PANE_RECT& p, const double* y,
                    const double* x, int n, COLORREF lineColour, COLORREF markerColour, COLORREF background,
                    int markerRadius, const int* filled, int filledCount, bool fillBackground) {
  if (!scene || !yMin || !yMax) return false;
  scene->fillBackground = fillBackground;
  scene->background = background;
  if (*yMin == kUnset || *yMax == kUnset) TW_GetPlotRange(y, n, yMin, yMax);
  if (*yMin == kUnset || *yMax == kUnset || n < 1 || !x || !y) return true;
  // Points sorted by x (a stable sort keeps the order of equal x).
  std::vector<int> order(static_cast<size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return x[a] < x[b]; });
  std::vector<double> sx(static_cast<size_t>(n)), sy(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    sx[size_t(i)] = x[order[size_t(i)]];
    sy[size_t(i)] = y[order[size_t(i)]];
  }
  double x0 = sx.front(), x1 = sx.back();
  if (std::fabs(x1 - x0) < 1e-100) {
    if (n > 1) {
      twk::doc::message(L"TW_DrawPaneTac", L"Function argument axis is collapsed");
      return false;
    }
    widen(&x0, &x1);
  }
  double lo = *yMin, hi = *yMax;
  widen(&lo, &hi);
  const double w = p.right - p.left + 1, h = p.bottom - p.top + 1;
  auto px = [&](double v) { return clampInt(p.left + std::floor((v - x0) * w / (x1 - x0) + 0.5), p.left, p.right); };
  auto py = [&](double v) { return clampInt(p.bottom - std::floor((v - lo) * h / (hi - lo) + 0.5), p.top, p.bottom); };

  if (lineColour != kOff) {
    bool havePrevious = false;
    int prevX = 0, prevY = 0;
    for (int i = 0; i < n;) {
      if (sy[size_t(i)] == kUnset) {
        ++i;
        continue;
      }
      // A run of defined points with equal x.
      int j = i;
      double sum = 0, rmin = sy[size_t(i)], rmax = sy[size_t(i)];
      int count = 0;
      while (j < n && sx[size_t(j)] == sx[size_t(i)]) {
        if (sy[size_t(j)] != kUnset) {
          sum += sy[size_t(j)];
          rmin = std::min(rmin, sy[size_t(j)]);
          rmax = std::max(rmax, sy[size_t(j)]);
          ++count;
        }
        ++j;
      }
      const int cx = px(sx[size_t(i)]), cy = py(sum / count);
      if (havePrevious) scene->lines.push_back({prevX, prevY, cx, cy, lineColour});
      if (count >= 2) scene->lines.push_back({cx, py(rmin), cx, py(rmax), lineColour});
      prevX = cx;
      prevY = cy;
      havePrevious = true;
      i = j;
    }
  }
  if (markerColour != kOff) {
    const COLORREF brush = TW_MarkerBrushColour(markerColour);
    for (int i = 0; i < n; ++i) {
      if (sy[size_t(i)] == kUnset) continue;
      const int cx = px(sx[size_t(i)]), cy = py(sy[size_t(i)]);
      const bool isFilled = !filled || std::find(filled, filled + std::max(0, filledCount), i) != filled + std::max(0, filledCount);
      scene->markers.push_back({cx - markerRadius, cy - markerRadius, cx + markerRadius - 1, cy + markerRadius - 1,
                                isFilled, markerColour, brush});
    }
  }
  return true;
}
