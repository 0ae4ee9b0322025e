#include "CurveViewer.h"

#include <utility>

namespace {
TW_CURVEVIEWERVIEW g_curveViewerView;
}  // namespace

void TW_SetCurveViewerView(TW_CURVEVIEWERVIEW view) { g_curveViewerView = std::move(view); }

bool TW_DlgViewCurves(const TW_CURVEVIEWER& curves) {
  if (!curves.curves || curves.count < 1 || !curves.x || curves.n < 1) return false;
  return g_curveViewerView ? g_curveViewerView(curves) : true;
}
