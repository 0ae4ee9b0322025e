// The windows of the parametric-map runners.

#include "DynExpDialogsQt.h"

#include <QApplication>
#include <QPainter>

#include "DlgDiduSingleCurveResult.h"
#include "DlgRoiStat4D.h"
#include "DlgViewTac.h"
#include "ViewGeometry.h"
#include "DynExpQtKit.h"

namespace twkdx {

namespace {
std::function<bool(const std::function<bool()>&)> g_modalScope;
}

bool runModal(const std::function<bool()>& run) { return g_modalScope ? g_modalScope(run) : run(); }
void paintScene(QPainter& painter, const TW_PLOT_SCENE& scene) {
  painter.setRenderHint(QPainter::Antialiasing);
  for (const TW_PLOT_LINE& line : scene.lines) {
    painter.setPen(colourOf(line.colour));
    painter.drawLine(line.x0, line.y0, line.x1, line.y1);
  }
  for (const TW_PLOT_MARKER& m : scene.markers) {
    painter.setPen(colourOf(m.pen));
    painter.setBrush(m.filled ? QBrush(colourOf(m.brush)) : Qt::NoBrush);
    painter.drawEllipse(QRect(QPoint(m.left, m.top), QPoint(m.right, m.bottom)));
  }
}

void setModalScope(std::function<bool(const std::function<bool()>&)> scope) { g_modalScope = std::move(scope); }

}  // namespace twkdx

namespace {
// The views' curve-panel hook as it was before the voxel browser joined it.
std::function<void(CDrawView*, CDrawSet*, const RECT3D*)> g_previousCurvePanels;
bool g_curvePanelsJoined = false;
}  // namespace

void TW_InstallDynExpDialogs(std::function<bool(const std::function<bool()>&)> modalScope) {
  twkdx::setModalScope(std::move(modalScope));
  TW_SetPpmCalcView([](TW_PPMCALC* d) {
    CDlgPpmCalc window(d, QApplication::activeWindow());
    return twkdx::runModal([&window] { return window.exec() == QDialog::Accepted; });
  });
  TW_SetConcConvView([](TW_CONCCONVDLG* d) {
    CDlgConcConv window(d, nullptr);
    return twkdx::runModal([&window] { return window.exec() == QDialog::Accepted; });
  });
  TW_SetRelaxivityView([](double* r1) {
    CDlgRelaxivity window(QApplication::activeWindow());
    if (!twkdx::runModal([&window] { return window.exec() == QDialog::Accepted; })) return false;
    *r1 = window.Value();
    return true;
  });
  TW_SetSingleCurveView(TW_ShowSingleCurveResults);
  TW_SetCurveViewerView([](const TW_CURVEVIEWER& c) {
    CDlgViewTac window(QApplication::activeWindow(), c.title, c.valueName, L"", c.argName, L"", nullptr, nullptr, false);
    window.SetCurves(0, c.curves, c.count, nullptr, c.x, c.n);
    return twkdx::runModal([&window] { return window.exec() == QDialog::Accepted; });
  });
  // The pointer over a view feeds the voxel browser (after the panels that were there before).
  if (!g_curvePanelsJoined) {
    g_previousCurvePanels = TW_ViewHooks().updateCurvePanels;
    TW_ViewHooks().updateCurvePanels = [](CDrawView* view, CDrawSet* set, const RECT3D* voxel) {
      if (g_previousCurvePanels) g_previousCurvePanels(view, set, voxel);
      TW_FeedVoxelTacBrowser(view, set, voxel);
    };
    g_curvePanelsJoined = true;
  }
  TW_SetRoiStat4DView([](TW_ROISTAT4D* state, bool silent) {
    CDlgRoiStat4D window(state, QApplication::activeWindow());
    if (silent) {
      window.show();
      return true;
    }
    return twkdx::runModal([&window] { return window.exec() == QDialog::Accepted; });
  });
}

void TW_RemoveDynExpDialogs() {
  TW_SetPpmCalcView(nullptr);
  TW_SetConcConvView(nullptr);
  TW_SetRelaxivityView(nullptr);
  TW_SetSingleCurveView(nullptr);
  TW_SetCurveViewerView(nullptr);
  TW_SetRoiStat4DView(nullptr);
  if (g_curvePanelsJoined) {
    TW_ViewHooks().updateCurvePanels = g_previousCurvePanels;
    g_previousCurvePanels = nullptr;
    g_curvePanelsJoined = false;
  }
  twkdx::setModalScope(nullptr);
}
