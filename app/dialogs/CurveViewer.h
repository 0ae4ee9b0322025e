#pragma once
// The curve viewer on a caller's curves: count curves of n points each over the abscissa x, shown
// modally with the title, the value label and the abscissa label. Without an installed view
// (headless runs) nothing is shown and the runner answers true; the caller keeps the arrays.

#include <functional>

#include "CString.h"

struct TW_CURVEVIEWER {
  CString title, valueName, argName;
  const double* const* curves = nullptr;
  int count = 0;
  const double* x = nullptr;
  int n = 0;
};
using TW_CURVEVIEWERVIEW = std::function<bool(const TW_CURVEVIEWER& curves)>;
void TW_SetCurveViewerView(TW_CURVEVIEWERVIEW view);
// False without curves or points.
bool TW_DlgViewCurves(const TW_CURVEVIEWER& curves);
