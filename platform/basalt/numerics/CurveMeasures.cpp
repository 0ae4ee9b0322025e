#include "numerics/CurveMeasures.h"

#include <cmath>

#include "TwkUi.h"

namespace {

// x where the line through (x0, y0) and (x1, y1) reaches level.
double crossing(double x0, double y0, double x1, double y1, double level) {
  return y1 == y0 ? x0 : x0 + (level - y0) * (x1 - x0) / (y1 - y0);
}

}  // namespace

bool VA_CurveBasicMeasurement(const double* y, const double* x, int n, CString* report) {
  const wchar_t* fn = L"VA_CurveBasicMeasurement";
  if (report) report->Empty();
  if (!y || !x || !report || n < 2) {
    twk::showNamedError(fn, L"At least two points are required");
    return false;
  }
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(x[i]) || !std::isfinite(y[i]) || std::fabs(y[i]) >= 1e60) {
      twk::showNamedError(fn, L"The curve holds undefined values");
      return false;
    }
  int iMin = 0, iMax = 0;
  double sum = 0, area = 0, slope = 0;
  int iSlope = -1;
  double xLow = x[0], xHigh = x[0];
  for (int i = 0; i < n; ++i) {
    if (y[i] < y[iMin]) iMin = i;
    if (y[i] > y[iMax]) iMax = i;
    sum += y[i];
    xLow = std::fmin(xLow, x[i]);
    xHigh = std::fmax(xHigh, x[i]);
    if (i + 1 < n) {
      const double dx = x[i + 1] - x[i];
      if (dx == 0) {
        twk::showNamedError(fn, L"Neighbouring points share one x value");
        return false;
      }
      area += 0.5 * (y[i] + y[i + 1]) * dx;
      const double s = (y[i + 1] - y[i]) / dx;
      if (iSlope < 0 || std::fabs(s) > std::fabs(slope)) {
        slope = s;
        iSlope = i;
      }
    }
  }
  // Full width at half maximum: the first crossings of the half level on either side of the peak.
  const double half = 0.5 * (y[iMin] + y[iMax]);
  bool haveLeft = false, haveRight = false;
  double left = 0, right = 0;
  for (int i = iMax; i > 0 && !haveLeft; --i)
    if (y[i - 1] <= half) {
      left = crossing(x[i - 1], y[i - 1], x[i], y[i], half);
      haveLeft = true;
    }
  for (int i = iMax; i + 1 < n && !haveRight; ++i)
    if (y[i + 1] <= half) {
      right = crossing(x[i], y[i], x[i + 1], y[i + 1], half);
      haveRight = true;
    }
  CString fwhm = L"undefined";
  if (haveLeft && haveRight && y[iMax] > y[iMin]) fwhm.Format(L"%.9g", std::fabs(right - left));

  report->Format(
      L"Points\t%d\nX range\t%.9g\t%.9g\nMinimum\t%.9g\tat x\t%.9g\nMaximum\t%.9g\tat x\t%.9g\nMean\t%.9g\n"
      L"Area (trapezoids)\t%.9g\nFWHM\t%s\nSteepest slope\t%.9g\tfrom x\t%.9g\n",
      n, xLow, xHigh, y[iMin], x[iMin], y[iMax], x[iMax], sum / n, area, fwhm.GetString(), slope, x[iSlope]);
  return true;
}
