// The main frame's menus and toolbar and the commands they start: opening documents, images and
// NumPy arrays, saving, closing, the recent files, undo and redo, the PHI profile and the options
// in force, the toolbar switch and the drawing-object properties that open the Layers panel.
#include <algorithm>

#include <QAction>
#include <QFileInfo>
#include <QFont>
#include <QIcon>
#include <QKeySequence>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QToolBar>

#include "AppOptions.h"
#include "DicomExtractorCT.h"
#include "DicomFolderCommands.h"
#include "DicomLoad.h"
#include "DlgLayerCtrl.h"
#include "DrawApp.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "FilePickers.h"
#include "ImageOpen.h"
#include "MainFrame.h"
#include "OpenDicomDir.h"
#include "OptionsFile.h"
#include "ProgressPump.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "UiHelpers.h"

namespace {

// A toolbar image: the button's short sign on a light tile.
QIcon toolIcon(const QString& sign) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QColor(0x50, 0x60, 0x78));
  painter.setBrush(QColor(0xEE, 0xF2, 0xF8));
  painter.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 5, 5);
  QFont font = painter.font();
  font.setPixelSize(sign.size() > 2 ? 10 : 13);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(QColor(0x20, 0x30, 0x50));
  painter.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, sign);
  return QIcon(pixmap);
}

CDrawDoc* documentOf(CDrawView* view) { return view ? view->GetDocument() : nullptr; }

// Opens every file chosen with the filter in the remembered RAW load folder.
void openChosenFiles(int filterId) {
  int count = 0;
  CString** paths = TW_GetMultiFileLoadName(filterId, &g_UserOpt.rawLoadFolder, &g_UserOpt.rawLoadFilterInx,
                                            &g_UserOpt.rawLoadExt, &count);
  if (!paths) return;
  for (int i = 0; i < count; ++i) {
    if (CDrawApp* app = CDrawApp::Get()) app->OpenDocumentFile(*paths[i], true, true);
    delete paths[i];
  }
  pf_free(&paths);
}

}  // namespace

QAction* CMainFrame::addCommand(QMenu* menu, int id, const QString& text, std::function<void()> handler) {
  auto* action = new QAction(text, this);
  action->setData(id);
  connect(action, &QAction::triggered, this, [handler = std::move(handler)] {
    // A command never starts inside a running operation's pump.
    if (!TW_PumpRunning()) handler();
  });
  if (menu) menu->addAction(action);
  actions_[id] = action;
  return action;
}

QAction* CMainFrame::Action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::SetViewCommand(int id, std::function<void(CDrawView*)> handler) {
  viewCommands_[id] = std::move(handler);
  UpdateCommandStates();
}

void CMainFrame::runViewCommand(int id) {
  auto it = viewCommands_.find(id);
  CDrawView* view = ActiveView();
  if (it == viewCommands_.end() || !it->second || !view) return;
  it->second(view);
  UpdateCommandStates();
}

void CMainFrame::createMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  addCommand(file, ID_FILE_OPEN_TWK, QStringLiteral("Open Tarnwick document"),
             [] { openChosenFiles(TW_FILTER_DOCUMENT); });
  addCommand(file, ID_FILE_OPEN_IMAGE, QStringLiteral("Open Image"), [] { openChosenFiles(TW_FILTER_RAW_ALL); });
  addCommand(file, ID_FILE_OPEN_RAW, QStringLiteral("Open RAW Data"), [] { TW_OpenRawVolume(); });
  addDicomCommands(file);
  QMenu* dicom = file->addMenu(QStringLiteral("DICOM"));
  addCommand(dicom, ID_FILE_SHOW_PHI_PROFILE, QStringLiteral("Show PHI profile"), [] { TW_ShowPHIprofile(); });
  addDicomFolderCommands(dicom);
  file->addSeparator();
  addCommand(file, ID_FILE_QUICK_SAVE, QStringLiteral("Quick Save Tarnwick Document"),
             [this] { runViewCommand(ID_FILE_QUICK_SAVE); });
  addCommand(file, ID_FILE_SAVE_AS, QStringLiteral("Save As Tarnwick Document"),
             [this] { runViewCommand(ID_FILE_SAVE_AS); });
  addCommand(file, ID_FILE_CLOSE_DOCUMENT, QStringLiteral("Close Document"),
             [this] { runViewCommand(ID_FILE_CLOSE_DOCUMENT); });
  file->addSeparator();
  recentMenu_ = file->addMenu(QStringLiteral("Recent File"));
  file->addSeparator();
  addCommand(file, ID_APP_EXIT, QStringLiteral("E&xit"), [this] { close(); });

  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  addCommand(edit, ID_EDIT_UNDO_LAYER, QStringLiteral("Undo"), [this] { runViewCommand(ID_EDIT_UNDO_LAYER); })
      ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
  addCommand(edit, ID_EDIT_REDO_LAYER, QStringLiteral("Redo"), [this] { runViewCommand(ID_EDIT_REDO_LAYER); })
      ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Y));
  edit->addSeparator();
  addCommand(edit, ID_EDIT_PROPERTIES, QStringLiteral("Edit drawing object properties"),
             [this] { runViewCommand(ID_EDIT_PROPERTIES); });

  QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
  QAction* toolbar = addCommand(view, ID_VIEW_MAIN_TOOLBAR, QStringLiteral("Show Main Toolbar"),
                                [this] { OnShowMainToolbar(); });
  toolbar->setCheckable(true);
  toolbar->setChecked(true);

  QMenu* applications = menuBar()->addMenu(QStringLiteral("&Applications"));
  addCommand(applications->addMenu(QStringLiteral("CT")), ID_CT_DICOM_FILE_EXTRACTOR,
             QStringLiteral("CT  DICOM file extractor"), [] { TW_DlgDicomExtractorCT(); });

  QMenu* system = menuBar()->addMenu(QStringLiteral("&System"));
  addCommand(system, ID_SYSTEM_SHOW_OPTIONS, QStringLiteral("Display current UI configuration"),
             [] { TW_ShowUserOptions(); });
  addCommand(system->addMenu(QStringLiteral("Test")), ID_TEST_LOAD_DWI_NII_FOLDER,
             QStringLiteral("Load DWI folder of NII images"), [] { TW_LoadDwiFolderOfNiiImagesCommand(); });

  // The document commands the shell handles itself.
  viewCommands_[ID_FILE_QUICK_SAVE] = [](CDrawView* v) {
    if (CDrawDoc* doc = documentOf(v)) doc->Save(nullptr, v, false, false, true);
  };
  viewCommands_[ID_FILE_SAVE_AS] = [](CDrawView* v) {
    if (CDrawDoc* doc = documentOf(v)) doc->Save(nullptr, v, true, true, true);
  };
  viewCommands_[ID_FILE_CLOSE_DOCUMENT] = [](CDrawView* v) {
    CDrawDoc* doc = documentOf(v);
    if (!doc || !doc->SaveModified()) return;
    doc->RedrawAllViews(false);
    if (CDrawSet* set = doc->GetActiveSet()) set->FreeAllViewCaches();
    if (CDrawApp* app = CDrawApp::Get()) app->CloseDocument(doc);
  };
  viewCommands_[ID_EDIT_UNDO_LAYER] = [](CDrawView* v) {
    if (CDrawDoc* doc = documentOf(v)) doc->Undo();
  };
  viewCommands_[ID_EDIT_REDO_LAYER] = [](CDrawView* v) {
    if (CDrawDoc* doc = documentOf(v)) doc->Redo();
  };
  viewCommands_[ID_EDIT_PROPERTIES] = [this](CDrawView* v) {
    CDrawDoc* doc = documentOf(v);
    if (!doc || doc->selection.size() != 1 || doc->selection.front()->kind != DRAWOBJ_SET) return;
    auto* set = static_cast<CDrawSet*>(doc->selection.front());
    if (!set->IsVolumeSet()) {
      if (!set->IsVectorRoi()) twk::messageBox(L"Volumetric Entity is required");
      return;
    }
    if (!AnyPanelOpen()) TW_OpenDlgLayerCtrl(v);
  };
  viewCommands_[32825] = [](CDrawView* v) { v->ZoomAll(); };  // Zoom All and fit to View
}

// The File menu's three DICOM opens.
void CMainFrame::addDicomCommands(QMenu* file) {
  addCommand(file, ID_FILE_OPEN_DICOM_SINGLE, QStringLiteral("Open DICOM folder : Single Document"),
             [] { TW_DlgOpenDicomDir(&g_UserOpt.dcmLoadFolder, nullptr, false, true, nullptr, true); });
  addCommand(file, ID_FILE_OPEN_DICOM_MULTIPLE, QStringLiteral("Open DICOM folder : Multiple Documents"),
             [] { TW_DlgOpenDicomDir(&g_UserOpt.dcmLoadFolder, nullptr, true, true, nullptr, true); });
  addCommand(file, ID_FILE_OPEN_SINGLE_DICOM_FILE, QStringLiteral("Open Single DICOM File"),
             [] { TW_OpenSingleDicomFile(&g_UserOpt.dcmLoadFolder); });
}

// File > DICOM (the conversions of subfolders are batch jobs and come with them).
void CMainFrame::addDicomFolderCommands(QMenu* dicom) {
  addCommand(dicom, ID_DICOM_DEIDENTIFY_FOLDER, QStringLiteral("De-identify DICOM folder"),
             [] { TW_DeidentifyDicomFolderCommand(); });
  addCommand(dicom, ID_DICOM_TREE_TO_FOLDERS, QStringLiteral("DICOM Tree to Folders"),
             [] { TW_DicomTreeToFoldersCommand(); });
  addCommand(dicom, ID_DICOM_FOLDER_PIXEL_SIZE, QStringLiteral("DICOM folder total Pixel Element size"),
             [] { TW_DicomFolderTotalPixelSizeCommand(); });
  addCommand(dicom, ID_DICOM_OPEN_SELECTED_SERIES, QStringLiteral("Open selected SERIES"),
             [] { TW_DlgOpenDicomDir(&g_UserOpt.dcmLoadFolder, nullptr, false, false, nullptr, true); });
  addCommand(dicom, ID_DICOM_SPLIT_MULTIFRAME_FILE, QStringLiteral("Split Multiframe DICOM file"), [] {
    CString folder;
    TW_GetProgramFolder(&folder);
    TW_SplitMultiframeDicomFileCommand(folder);
  });
  addCommand(dicom, ID_DICOM_SPLIT_MULTIFRAME_FOLDER, QStringLiteral("Split Multiframe DICOM folder"),
             [] { TW_SplitMultiframeDicomFolderCommand(); });
}

bool CMainFrame::IsFrameCommand(int id) {
  static const int frameCommands[] = {
      ID_FILE_OPEN_TWK, ID_FILE_OPEN_IMAGE, ID_FILE_OPEN_RAW, ID_FILE_SHOW_PHI_PROFILE, ID_SYSTEM_SHOW_OPTIONS,
      ID_APP_EXIT, ID_VIEW_MAIN_TOOLBAR, ID_FILE_OPEN_DICOM_SINGLE, ID_FILE_OPEN_DICOM_MULTIPLE,
      ID_FILE_OPEN_SINGLE_DICOM_FILE, ID_DICOM_OPEN_SELECTED_SERIES, ID_DICOM_DEIDENTIFY_FOLDER,
      ID_DICOM_TREE_TO_FOLDERS, ID_DICOM_FOLDER_PIXEL_SIZE, ID_DICOM_SPLIT_MULTIFRAME_FILE,
      ID_DICOM_SPLIT_MULTIFRAME_FOLDER, ID_CT_DICOM_FILE_EXTRACTOR, ID_TEST_LOAD_DWI_NII_FOLDER};
  return std::find(std::begin(frameCommands), std::end(frameCommands), id) != std::end(frameCommands);
}

void CMainFrame::createToolBar() {
  toolBar_ = new QToolBar(QStringLiteral("Main toolbar"), this);
  toolBar_->setObjectName(QStringLiteral("MainToolBar"));
  toolBar_->setIconSize(QSize(32, 32));
  toolBar_->setFloatable(false);
  const struct {
    int id;  // 0: a separator
    const char* sign;
    const char* tip;
  } buttons[] = {
      {34130, "W/L", "horizontal drag to the right >> increase W; drag down >> increase L, ESC>> exit"},
      {0, "", ""},
      {32819, "Z[]", "Zoom by window selection"},
      {0, "", ""},
      {32825, "ZA", "Zoom All and fit to View"},
      {32813, "Z+", "Zoom In with fixed left upper corner"},
      {32814, "Z-", "Zoom Out with fixed left upper corner"},
      {33428, "Prj", "View Projection of the selected Entity"},
      {0, "", ""},
      {33277, "4D", "Play 4D experiment"},
      {33360, "TAC", "Voxel Time Activity Curve Browser"},
      {0, "", ""},
      {34553, "VR", "Construct Vector ROI"},
      {34608, "PL", "Insert Polyline"},
      {0, "", ""},
      {34184, "MT", "Magnetic Trace"},
      {34545, "Ras", "Rasterize selected vector entities"},
      {34609, "", ""},
      {33304, "PB", "Voxel Paintbrush settings"},
      {0, "", ""},
      {33251, "EW", "EdgeWave"},
      {0, "", ""},
      {33288, "PM", "Calculate Parametric Map"},
      {0, "", ""},
      {ID_VIEW_ORTHOGONAL_PROJECTIONS, "Ort", "Display orthogonal projections"},
      {0, "", ""},
      {ID_EDIT_UNDO_LAYER, "\u21B6", "Undo"},
      {ID_EDIT_REDO_LAYER, "\u21B7", "Redo"},
  };
  for (const auto& b : buttons) {
    if (b.id == 0) {
      toolBar_->addSeparator();
      continue;
    }
    QAction* action = Action(b.id);
    if (!action) {
      const int id = b.id;
      action = addCommand(nullptr, id, QString::fromUtf8(b.tip), [this, id] { runViewCommand(id); });
    }
    action->setIcon(toolIcon(QString::fromUtf8(b.sign)));
    action->setToolTip(QString::fromUtf8(b.tip));
    toolBar_->addAction(action);
  }
}

void CMainFrame::OnShowMainToolbar() {
  if (!toolBar_->isHidden()) {
    toolBar_->hide();
  } else {
    DockToolBar(toolBarEdge_);
    toolBar_->show();
  }
  if (QAction* a = Action(ID_VIEW_MAIN_TOOLBAR)) a->setChecked(!toolBar_->isHidden());
  TileByAspect();
}

void CMainFrame::UpdateRecentFileMenu() {
  if (!recentMenu_) return;
  recentMenu_->clear();
  CDrawApp* app = CDrawApp::Get();
  const QStringList files = app ? app->RecentFiles() : QStringList();
  if (files.isEmpty()) {
    QAction* none = recentMenu_->addAction(QStringLiteral("Recent File"));
    none->setEnabled(false);
    return;
  }
  for (int i = 0; i < files.size(); ++i) {
    const QString path = files[i];
    QAction* action = recentMenu_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(path));
    action->setData(ID_FILE_MRU_FIRST + i);
    connect(action, &QAction::triggered, this, [path] {
      CDrawApp* drawApp = CDrawApp::Get();
      if (!drawApp || TW_PumpRunning()) return;
      const CString file(path.toStdWString());
      // A file that no longer opens leaves the list, as the framework does.
      if (!drawApp->OpenDocumentFile(file) && !QFileInfo::exists(path)) drawApp->RemoveFromRecentFileList(file);
    });
  }
}

void CMainFrame::UpdateCommandStates() {
  CDrawView* view = ActiveView();
  CDrawDoc* doc = documentOf(view);
  for (auto& [id, action] : actions_) {
    // The frame's own commands are always available.
    if (IsFrameCommand(id)) continue;
    const auto handler = viewCommands_.find(id);
    bool enabled = view && handler != viewCommands_.end() && handler->second;
    if (enabled && id == ID_EDIT_UNDO_LAYER) enabled = doc && doc->CanUndo();
    if (enabled && id == ID_EDIT_REDO_LAYER) enabled = doc && doc->CanRedo();
    action->setEnabled(enabled);
  }
}
