#pragma once
// CMainFrame, the program's one top-level window: an MDI frame (QMdiArea) with the menus, the main
// toolbar, the status bar with its progress bar (CToggleBar) and five slots for the modeless
// panels. It supplies the MSGBLOCK through which every module reports progress, keeps its placement
// in the profile ("Settings", "WindowPos": ten integers "%i:%i:%i:%i:%i:%i:%i:%i:%i:%i" - flags, show
// command, minimised x, y, maximised x, y, normal left, top, right, bottom), applies the visual style
// and the toolbar edge of the options file and tiles the document windows by the shape of its
// client area.
//
// Closing writes the options file and the placement, destroys the panels and then asks every
// document whether to save; while an operation runs (a progress pump is active) it refuses.

#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "CString.h"
#include "TwkMem.h"
#include "UiHelpers.h"

class CDrawDoc;
class CDrawView;
struct TW_CMDUI;
class CToggleBar;
class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QSettings;
class QToolBar;

// The five panel slots, in the frame's order.
enum TW_PANEL_SLOT : int {
  TW_PANEL_EDGEWAVE_LIVE = 0,  // live region growing
  TW_PANEL_CURVE_VIEWER = 1,
  TW_PANEL_LAYERS = 2,
  TW_PANEL_VECTOR_ROI = 3,
  TW_PANEL_MOTION_PROFILE = 4,
  TW_PANEL_COUNT = 5
};

// The platform's window-placement record, field for field as stored.
struct TW_WINDOWPLACEMENT {
  int flags = 0;
  int showCmd = 0;  // 1 normal, 2 minimised, 3 maximised, 5 shown
  int minX = -1, minY = -1;
  int maxX = -1, maxY = -1;
  int left = 0, top = 0, right = 0, bottom = 0;
};
// True only when all ten integers were read.
bool TW_ParseWindowPlacement(const CString& text, TW_WINDOWPLACEMENT* placement);
CString TW_FormatWindowPlacement(const TW_WINDOWPLACEMENT& placement);

// Command ids of the frame's menus and toolbar.
enum : int {
  ID_FILE_OPEN_TWK = 33827,
  ID_FILE_OPEN_IMAGE = 34472,
  ID_FILE_OPEN_RAW = 34776,
  ID_FILE_SHOW_PHI_PROFILE = 34615,
  ID_SYSTEM_SHOW_OPTIONS = 34263,
  ID_FILE_QUICK_SAVE = 32890,
  ID_FILE_SAVE_AS = 32891,
  ID_FILE_CLOSE_DOCUMENT = 32892,
  ID_FILE_MRU_FIRST = 57616,
  ID_APP_EXIT = 57665,
  ID_EDIT_UNDO_LAYER = 34492,
  ID_EDIT_REDO_LAYER = 34493,
  ID_VIEW_MAIN_TOOLBAR = 33019,
  ID_EDIT_PROPERTIES = 32893,
  ID_VIEW_ORTHOGONAL_PROJECTIONS = 33478,  // "Display orthogonal projections"
  ID_FILE_USER_OPTIONS = 33323,            // "User Interface Options"
  ID_MDI_TILE_HORZ = 57651,  // windows stacked one above the other
  ID_MDI_TILE_VERT = 57652,  // windows side by side
  // DICOM commands of the frame (File, File > DICOM, Applications > CT, System > Test).
  ID_FILE_OPEN_DICOM_SINGLE = 33731,
  ID_FILE_OPEN_DICOM_MULTIPLE = 33732,
  ID_FILE_OPEN_SINGLE_DICOM_FILE = 34728,
  ID_DICOM_OPEN_SELECTED_SERIES = 34633,
  ID_DICOM_DEIDENTIFY_FOLDER = 34135,
  ID_DICOM_TREE_TO_FOLDERS = 34617,
  ID_DICOM_FOLDER_PIXEL_SIZE = 34619,
  ID_DICOM_SPLIT_MULTIFRAME_FILE = 34558,
  ID_DICOM_SPLIT_MULTIFRAME_FOLDER = 34726,
  ID_CT_DICOM_FILE_EXTRACTOR = 34016,
  ID_TEST_LOAD_DWI_NII_FOLDER = 34715,
  // Application and diagnostic commands of the frame.
  ID_APP_ABOUT = 57664,
  ID_CPU_INFO = 33605,
};

class CMainFrame : public QMainWindow {
  Q_OBJECT
 public:
  // Creates the window: visual style, status bar, MSGBLOCK, toolbar docked on the options' edge.
  // The saved placement is read from the profile and applied when the frame is first shown.
  explicit CMainFrame(QSettings* profile, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // The application's main window (null before it is created and after it is destroyed).
  static CMainFrame* Get();

  // --- progress protocol (MSGBLOCK) ---
  MSGBLOCK* MessageBlock() { return &messageBlock_; }
  static void ProgressSink(uint64_t value);
  static bool ShowMessage(const wchar_t* text, bool pump);
  static void SetStatusText(const wchar_t* text);
  // The last text shown by the sink or the status-text setter.
  static const CString& LastStatusText();
  // Whether the next text is an operation's title (set by a reset, cleared when the text came).
  bool NextValueIsText() const { return nextIsText_ != 0; }
  CToggleBar* StatusBarCtrl() const { return statusBar_; }

  // --- placement ---
  bool ReadWindowPlacement(const wchar_t* entry, TW_WINDOWPLACEMENT* placement) const;
  void WriteWindowPlacement(const TW_WINDOWPLACEMENT& placement, const wchar_t* entry);
  // The placement as the window stands (a minimised frame is stored as shown normally, a maximised
  // one with the restore-to-maximised flag).
  TW_WINDOWPLACEMENT CurrentPlacement() const;
  void ApplyPlacement(const TW_WINDOWPLACEMENT& placement);
  // Shows the frame with the saved placement, or maximised when there is none.
  void ShowInitial();

  // --- documents and panels ---
  QMdiArea* MdiArea() const { return mdiArea_; }
  // The MDI tile command for a client area: stacked when it is taller than wide, else side by side.
  static int TileCommandFor(int width, int height);
  void TileByAspect();
  int LastTileCommand() const { return lastTile_; }
  QWidget* Panel(int slot) const;
  // Registers a panel in its slot; the slot clears itself when the panel is destroyed.
  void SetPanel(int slot, QWidget* panel);
  bool AnyPanelOpen() const;
  // Destroys every open panel (live region growing, curve viewer, vector ROI, Layers, motion profile).
  void ReleasePanels();
  // The view of the active document window, or null.
  CDrawView* ActiveView() const;

  // --- commands ---
  QAction* Action(int id) const;
  QToolBar* MainToolBar() const { return toolBar_; }
  // The toolbar on the options' edge (0 left, 1 top, 2 right, 3 bottom).
  void DockToolBar(int align);
  int ToolBarEdge() const { return toolBarEdge_; }
  void ApplyVisualStyle(int style);
  // A handler for an id that has no row in the command table (rows are bound through the table's
  // registry instead); it is enabled while a document window is active.
  void SetViewCommand(int id, std::function<void(CDrawView*)> handler);
  // The update rule of a view command (enabled state and check mark), asked with the active view.
  void SetViewCommandUpdate(int id, std::function<void(CDrawView*, TW_CMDUI*)> update);
  // Refreshes the recent-file entries of the File menu.
  void UpdateRecentFileMenu();
  void UpdateCommandStates();

  void OnShowMainToolbar();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void createMenus();
  void createToolBar();
  // The menu of a path (top-level entry and submenus), made when missing.
  QMenu* menuAt(std::map<std::string, QMenu*>& menus, std::vector<QMenu*>& top, const std::vector<std::string>& parts);
  // The document window's menu bar (true) or the frame's (false).
  void showMenus(bool document);
  QAction* addCommand(QMenu* menu, int id, const QString& text, std::function<void()> handler);
  void runViewCommand(int id);
  void onProgressValue(uint64_t value);
  bool onShowMessage(const wchar_t* text, bool pump);
  void onSetStatusText(const wchar_t* text);

  QSettings* profile_;
  QToolBar* toolBar_ = nullptr;
  CToggleBar* statusBar_ = nullptr;
  QMdiArea* mdiArea_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  int nextIsText_ = 0;  // set by a reset only: a title is expected right after one
  QWidget* panels_[TW_PANEL_COUNT] = {};
  MSGBLOCK messageBlock_;
  std::map<int, QAction*> actions_;
  std::vector<QMenu*> frameMenus_;
  std::vector<QMenu*> documentMenus_;
  bool documentMenusShown_ = false;
  std::map<int, std::function<void(CDrawView*)>> viewCommands_;
  std::map<int, std::function<void(CDrawView*, TW_CMDUI*)>> viewUpdates_;
  int toolBarEdge_ = 2;
  int lastTile_ = 0;
  bool shown_ = false;
};

// The process-wide program folder and the folder of the writable files (see DrawApp.h).
void TW_GetProgramFolder(CString* folder);

// The document window of a view is fitted: with "MainframeAutoTile" off it fills the frame's client
// area, otherwise the frame re-tiles all document windows.
void TW_ShowChildFrameFitted(CDrawView* view);
