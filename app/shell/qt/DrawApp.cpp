// Start-up and shutdown of the program.
#include "DrawApp.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>

#include <cfenv>

#include "AppOptions.h"
#include "AutofocusPresets.h"
#include "TransformOperations.h"
#include "DicomNodeImages.h"
#include "DrawShapes.h"
#include "DrawView.h"
#include "DynExp.h"
#include "LandmarkRegistration.h"
#include "MainFrame.h"
#include "OptionsFile.h"
#include "ProgressPump.h"
#include "QtUi.h"
#include "TwkAnnLoader.h"
#include "TwkDicom.h"
#include "DynExpDialogs.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "paths/FilePaths.h"

namespace {

CDrawApp* g_app = nullptr;
CString g_programFolder;
CString g_optionsPath;

CString fromQt(const QString& s) { return CString(s.toStdWString()); }

// The executable's folder.
CString executableFolder() {
  const QString dir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
  return fromQt(QDir::cleanPath(dir));
}

bool makeFolder(const CString& folder) { return QDir().mkpath(QString::fromStdWString(folder.wstr())); }

}  // namespace

void TW_GetProgramFolder(CString* folder) {
  if (folder) *folder = g_programFolder;
}

void TW_SetProgramFolder(const CString& folder) { g_programFolder = folder; }

CString TW_OptionsFilePath() { return g_optionsPath; }

CDrawApp::CDrawApp() : dynExp_(std::make_unique<CDynExp>()) {
  g_app = this;
  TW_SetDynExpHost(dynExp_.get());
}

CDrawApp::~CDrawApp() {
  if (mainFrame_) {
    closing_ = true;
    CloseAllDocuments(false);
    delete mainFrame_;
    mainFrame_ = nullptr;
  }
  removeHooks();
  if (qtUi_) twk::setUi(previousUi_);
  if (TW_DynExpHost() == dynExp_.get()) TW_SetDynExpHost(nullptr);
  dynExp_.reset();
  if (g_app == this) g_app = nullptr;
}

CDrawApp* CDrawApp::Get() { return g_app; }

void CDrawApp::SetProgramFolder(const CString& folder) {
  programFolder_ = folder;
  programFolderSet_ = true;
}

CString CDrawApp::OptionsPath() const { return PR_JoinPath(settingsFolder_, L"TarnwickConfig.txt"); }

CString CDrawApp::ProfilePath() const { return PR_JoinPath(settingsFolder_, L"Tarnwick.ini"); }

bool CDrawApp::CreateTempWorkDir() {
  CString folder;
  if (PR_UsableFolder(programFolder_, false)) {
    folder = PR_JoinPath(programFolder_, L"Temp");
  } else {
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    folder = PR_JoinPath(fromQt(cache), L"Tarnwick/Temp");
  }
  makeFolder(folder);  // an existing folder is fine
  if (!PR_UsableFolder(folder, false)) {
    twk::showNamedError(L"CDrawApp::CreateTempWorkDir", L"Unable to find working folder for temporary files");
    return false;
  }
  TW_DeleteFolderFiles(folder);
  TW_EditOptions().tempFolder = folder;
  return true;
}

bool CDrawApp::InitInstance() {
  if (installQtUi_) {
    qtUi_ = std::make_unique<CQtUi>();
    previousUi_ = twk::setUi(qtUi_.get());
  }
  // 1. The program folder and where the writable files go.
  if (!programFolderSet_) programFolder_ = executableFolder();
  g_programFolder = programFolder_;
  if (PR_UsableFolder(programFolder_, false)) {
    settingsFolder_ = programFolder_;
  } else {
    settingsFolder_ = fromQt(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)) + L"/Tarnwick";
    makeFolder(settingsFolder_);
  }
  g_optionsPath = OptionsPath();
  // 2. Round to nearest.
  std::fesetround(FE_TONEAREST);
  // 3. The options file (its absence keeps the defaults).
  TW_LoadUserOptions(g_optionsPath);
  // 4. The temporary work folder.
  if (TW_Options().tempFolder.IsEmpty() || !PR_UsableFolder(TW_Options().tempFolder, false)) {
    if (!CreateTempWorkDir()) return false;
    if (!PR_UsableFolder(TW_Options().tempFolder, false)) {
      PR_DisplaySystemError(CString(L"Unable to create a folder : ") + TW_Options().tempFolder);
      twk::showNamedError(L"CDrawApp::InitInstance",
                          L"Run TarnWick As Administrator or reinstall to a different folder");
      return false;
    }
  }
  TW_EditOptions().deidentifySourceFolder = TW_Options().tempFolder;
  // 6. The profile and its eight recent files.
  profile_ = std::make_unique<QSettings>(QString::fromStdWString(ProfilePath().wstr()), QSettings::IniFormat);
  // 7. Parameter defaults.
  TW_InitParameterDefaults();
  // 8. The node pictures of the DICOM trees.
  if (!TW_InitTreeNodeImgList()) return false;
  // 9. The allocation counter, with allocation failures reported.
  PR_InitTotalAllocSize();
  // 10. The document template and the services the document model asks of the shell.
  installHooks();
  // 11. The main frame.
  mainFrame_ = new CMainFrame(profile_.get());
  mainFrame_->UpdateRecentFileMenu();
  // 12. Display defaults: rectangles and ellipses are drawn with 50 % line and 25 % fill opacity.
  g_DrawSettings.penPercent = 50;
  g_DrawSettings.fillPercent = 25;
  // 15. The kinetic-model plug-in; without it the kinetic-model commands find no models.
  dynExp_->LoadDomain(programFolder_ + L"\\Kinmodels.dll");
  // 17. The library start-up.
  if (!PRX_InitLibrary()) return false;
  // 18. The main window.
  mainFrame_->ShowInitial();
  // 19. The network library, when it stands beside the program.
  TW_LoadTwkANN();
  return true;
}

bool PRX_InitLibrary() {
  CMainFrame* frame = CMainFrame::Get();
  auto failed = [] {
    twk::messageBox(L"Failed to initialize the program libraries", MB_OK | MB_ICONSTOP);
    return false;
  };
  QScreen* screen = frame ? frame->screen() : nullptr;
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!frame || !screen) return failed();
  PR_InitFrameFunctions(frame->MessageBlock());
  if (screen->depth() < 16) {
    twk::showNamedError(L"PRX_InitLibrary", L"High-bit display color mode is required for this application");
    PR_CloseFrameFunctions();
    return failed();
  }
  if (!TWKDCM_Initialize()) return failed();
  TWKDCM_SetPHItags(PR_JoinPath(g_programFolder, L"TarnwickPHIprofile.txt"));
  return true;
}

void TW_InitParameterDefaults() {
  // The defaults routines of the processing subsystems are called here, in this order, as they
  // come: MagTrace, lung segmentation, AutoFocus 3D and 4D, neck workflows, FLEXR, CT fat, brain
  // atlas stage 1, then the kidney preset of the imaging core.
  TW_InitAutofocus3DDefaults();
  TW_InitAutofocus4DDefaults();
  TW_InitNeckAutofocusDefaults();
  TW_InitTransformTaskDefaults();
  TW_InitLandmarkRegisterDefaults();
}
