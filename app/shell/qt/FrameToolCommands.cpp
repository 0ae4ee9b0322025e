// The main frame's application and diagnostic commands: the About box and the CPU information,
// opening every document of a folder, the single-curve display and measurements, and the
// self-tests of System > Test (parallel SVD, the network library, rounding, checkerboard volume).
#include "AboutDlg.h"
#include "CommandTable.h"
#include "DocumentFolder.h"
#include "FilePickers.h"
#include "FrameTools.h"
#include "numerics/LinearAlgebra.h"
#include "MainFrame.h"
#include "ProgressPump.h"
#include "TwkAnnLoader.h"
#include "TwkUi.h"
#include "UiHelpers.h"

namespace {

// Rows the command table lacks: the About box and the CPU information, in both menus.
// clang-format off
const TW_COMMAND_ROW kFrameToolRows[] = {
    {ID_APP_ABOUT, "System", "About this Application", TW_FRAME_COMMAND, "CAboutDlg", "", TW_FRAME_MENU | TW_DOCUMENT_MENU, nullptr, nullptr},
    {ID_CPU_INFO, "System", "CPU Info", TW_FRAME_COMMAND, "PR_GetCpuInfo", "", TW_FRAME_MENU | TW_DOCUMENT_MENU, nullptr, nullptr},
};
// clang-format on

}  // namespace

TW_COMMAND_BINDINGS(frame_tools) {
  TW_AddCommandRows(kFrameToolRows, int(sizeof(kFrameToolRows) / sizeof(kFrameToolRows[0])));
  TW_BindOperation("CAboutDlg", [](const TW_COMMAND_CALL&) {
    TW_MODAL_SCOPE modal;
    CAboutDlg(CMainFrame::Get()).exec();
  });
  TW_BindOperation("PR_GetCpuInfo", [](const TW_COMMAND_CALL&) { TW_ShowCpuInfo(); });
  TW_BindOperation("TWK_LoadAllTwkDocuments", [](const TW_COMMAND_CALL&) {
    static CString folder;
    if (TW_SpecifyFolder(&folder)) TWK_LoadAllTwkDocuments(folder);
  });
  TW_BindOperation("TW_DisplaySingleCurve", [](const TW_COMMAND_CALL&) { TW_DisplaySingleCurve(); });
  TW_BindOperation("CMainFrame::OnSingleCurveBasicMeasurement",
                   [](const TW_COMMAND_CALL&) { TW_SingleCurveBasicMeasurement(); });
  TW_BindOperation("PR_TestParSVD", [](const TW_COMMAND_CALL&) { PR_TestParSVD(true); });
  TW_BindOperation("TWKANN_TestSGD", [](const TW_COMMAND_CALL&) {
    const TW_TWKANN& ann = TW_TwkAnn();
    if (ann.module && ann.TestSGD) reinterpret_cast<bool (*)()>(ann.TestSGD)();
  });
  TW_BindOperation("CMainFrame::OnTestRounding", [](const TW_COMMAND_CALL&) { TW_TestRounding(100000000); });
  TW_BindOperation("CMainFrame::OnMakeCheckerboardVolume", [](const TW_COMMAND_CALL&) { TW_MakeCheckerboardVolume(); });
}
