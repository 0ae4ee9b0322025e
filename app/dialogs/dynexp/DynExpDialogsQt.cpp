// The windows of the parametric-map runners.

#include "DynExpDialogsQt.h"

#include <QApplication>

#include "DlgDiduSingleCurveResult.h"
#include "DynExpQtKit.h"

namespace twkdx {

namespace {
std::function<bool(const std::function<bool()>&)> g_modalScope;
}

bool runModal(const std::function<bool()>& run) { return g_modalScope ? g_modalScope(run) : run(); }
void setModalScope(std::function<bool(const std::function<bool()>&)> scope) { g_modalScope = std::move(scope); }

}  // namespace twkdx

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
}

void TW_RemoveDynExpDialogs() {
  TW_SetPpmCalcView(nullptr);
  TW_SetConcConvView(nullptr);
  TW_SetRelaxivityView(nullptr);
  TW_SetSingleCurveView(nullptr);
  twkdx::setModalScope(nullptr);
}
