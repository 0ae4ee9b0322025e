#pragma once
// CDrawApp, the application object: start-up in a fixed order, the document template (documents
// CDrawDoc in MDI windows CChildFrame with views CDrawViewWidget), the list of eight recent files
// and the kinetic-model host (CDynExp) that documents save and the dynamic-experiment dialogs use.
//
// Folders. The program folder is the folder of the executable; the plug-ins (the kinetic-model
// plug-in Kinmodels, found as libKinmodels.so, and the network library TwkANN, found as
// libTwkANN.so; the desktop names are Kinmodels.dll and TwkANN.dll) and the PHI profile
// "TarnwickPHIprofile.txt" are looked up there. The program's writable files - the options file
// "TarnwickConfig.txt", the profile "Tarnwick.ini" (section "Settings" with "WindowPos", section
// "Recent File List") and the temporary work folder "Temp" - stay beside the program when that
// folder is writable. Otherwise the options file and the profile go to the user's configuration
// folder ($XDG_CONFIG_HOME/Tarnwick) and "Temp" to the user's cache folder ($XDG_CACHE_HOME/Tarnwick).
//
// Start-up order (InitInstance): program folder, rounding mode, options file, temporary work folder
// (emptied of its files at every start), profile and recent files, parameter defaults, allocation
// counter, document template, main frame, display defaults, kinetic-model plug-in, library start-up
// (PRX_InitLibrary: progress callbacks, display depth, DICOM library, PHI profile), the main window
// shown, and last the optional network library. Shutdown: the main frame's close writes the options
// file and the placement; its destruction shuts the DICOM library down.

#include <QStringList>

#include <memory>
#include <vector>

#include "CString.h"

class CChildFrame;
class CDrawDoc;
class CDrawView;
class CDynExp;
class CMainFrame;
class QSettings;

namespace twk {
class Ui;
}

class CDrawApp {
 public:
  CDrawApp();
  // Closes the main frame if it is still open and releases the kinetic-model host.
  ~CDrawApp();
  CDrawApp(const CDrawApp&) = delete;
  CDrawApp& operator=(const CDrawApp&) = delete;

  // The application object (null before one is constructed).
  static CDrawApp* Get();

  // Test seams, set before InitInstance: the program folder (default: the executable's folder) and
  // whether start-up installs the Qt implementation of the UI interface and the raw-volume dialog
  // (tests keep a scripted UI and its prompts).
  void SetProgramFolder(const CString& folder);
  void SetInstallQtUi(bool install) { installQtUi_ = install; }

  // Brings the program up; false ends it (the failing step has told the user when it has a message).
  bool InitInstance();

  const CString& ProgramFolder() const { return programFolder_; }
  const CString& SettingsFolder() const { return settingsFolder_; }
  CString OptionsPath() const;
  CString ProfilePath() const;
  CMainFrame* MainFrame() const { return mainFrame_; }
  QSettings* Profile() const { return profile_.get(); }
  CDynExp& DynExp() { return *dynExp_; }

  // CDrawApp::CreateTempWorkDir: "Temp" in the settings folder, created when missing and emptied of
  // its files; it becomes the options' temporary work folder. False (with its message) when unusable.
  bool CreateTempWorkDir();

  // --- documents ---
  // The framework's open: layout and progress, then every view of the document redrawn.
  CDrawDoc* OpenDocumentFile(const wchar_t* path);
  CDrawDoc* OpenDocumentFile(const wchar_t* path, bool applyLayout, bool showProgress);
  // The document template: a document window with its view, after the view's initial update.
  CDrawView* CreateDocumentView(CDrawDoc* doc);
  // Closes the document's windows and deletes it, without questions.
  void CloseDocument(CDrawDoc* doc);
  // Asks every modified document whether to save (when ask is set), then closes them all; false,
  // with every document left open, when the user cancels.
  bool CloseAllDocuments(bool ask);
  // The documents that have windows, in opening order.
  const std::vector<CDrawDoc*>& Documents() const { return documents_; }
  // A document window closed its document's last view: the document goes.
  void OnLastViewClosed(CDrawDoc* doc);

  // --- recent files (eight, newest first) ---
  void AddToRecentFileList(const CString& path);
  void RemoveFromRecentFileList(const CString& path);
  QStringList RecentFiles() const;

 private:
  void installHooks();
  void installDialogHooks();
  void removeHooks();

  CString programFolder_;
  CString settingsFolder_;
  bool programFolderSet_ = false;
  bool installQtUi_ = true;
  std::unique_ptr<twk::Ui> qtUi_;
  twk::Ui* previousUi_ = nullptr;
  std::unique_ptr<QSettings> profile_;
  std::unique_ptr<CDynExp> dynExp_;
  CMainFrame* mainFrame_ = nullptr;
  std::vector<CDrawDoc*> documents_;
  bool closing_ = false;
};

// The library start-up: installs the main frame's progress callbacks in the utility library,
// requires a display of at least 16 bits per pixel, starts the DICOM library and loads the PHI
// profile beside the program. False after its messages.
bool PRX_InitLibrary();

// The program folder that TW_GetProgramFolder (MainFrame.h) gives; start-up sets it.
void TW_SetProgramFolder(const CString& folder);

// The path of the options file (in the settings folder).
CString TW_OptionsFilePath();

// Sets, once per process, the defaults of the program-wide parameter records that their own
// constructors do not set. Each subsystem's defaults routine is called from here as it lands.
void TW_InitParameterDefaults();

// Every view of every open document is repainted now; each document's active view once more last.
void TW_RedrawAllOpenViews();
