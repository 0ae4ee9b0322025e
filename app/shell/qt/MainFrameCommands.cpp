// The main frame's menus and toolbar, built from the command table (CommandTable.h): the frame's
// menu bar while no document window is active, a document window's menu bar otherwise; the
// recent files and Exit stand in both. Every item fires its row through the table's dispatch.
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
#include "CommandTable.h"
#include "DlgLayerCtrl.h"
#include "DrawApp.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "FilePickers.h"
#include "ImageOpen.h"
#include "MainFrame.h"
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

void CMainFrame::SetViewCommandUpdate(int id, std::function<void(CDrawView*, TW_CMDUI*)> update) {
  viewUpdates_[id] = std::move(update);
  UpdateCommandStates();
}

void CMainFrame::runViewCommand(int id) {
  // A row of the command table runs through its dispatch; ids without a row keep their handler.
  if (TW_FindCommandRow(id)) {
    TW_DispatchCommand(id, ActiveView());
  } else {
    auto it = viewCommands_.find(id);
    CDrawView* view = ActiveView();
    if (it == viewCommands_.end() || !it->second || !view) return;
    it->second(view);
  }
  UpdateCommandStates();
}

namespace {

// The item text of a path's last part; a literal '&' is doubled so that it is not a mnemonic.
QString itemText(const std::string& part) {
  QString text = QString::fromUtf8(part.c_str());
  text.replace(QLatin1Char('&'), QStringLiteral("&&"));
  return text;
}

std::vector<std::string> splitPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = path.find(" > ", start);
    parts.push_back(path.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 3;
  }
  return parts;
}

}  // namespace

QMenu* CMainFrame::menuAt(std::map<std::string, QMenu*>& menus, std::vector<QMenu*>& top,
                          const std::vector<std::string>& parts) {
  // parts: the top-level entry and the submenus, without the item itself.
  std::string key;
  QMenu* parent = nullptr;
  for (const std::string& part : parts) {
    key += key.empty() ? part : " > " + part;
    QMenu*& menu = menus[key];
    if (!menu) {
      const QString title = itemText(part);
      if (parent) {
        menu = parent->addMenu(title);
      } else {
        menu = new QMenu(title, this);
        top.push_back(menu);
      }
    }
    parent = menu;
  }
  return parent;
}

void CMainFrame::createMenus() {
  // One action for every command of the table, whatever menus show it.
  for (const TW_COMMAND_ROW* row : TW_CommandRows()) {
    if (row->family == TW_UPDATE_HANDLER || actions_.count(row->id)) continue;
    const std::string path = row->path;
    const size_t last = path.rfind(" > ");
    const int id = row->id;
    QAction* action = addCommand(nullptr, id, itemText(last == std::string::npos ? path : path.substr(last + 3)),
                                 [this, id] { runViewCommand(id); });
    if (row->accelerator) {
      action->setShortcut(QKeySequence(QString::fromLatin1(row->accelerator)));
      // A command reached only by its keys lives on the window itself.
      if (!row->menus) addAction(action);
    }
    if (TW_FindUpdateRow(id) || (TW_FindBinding(row->operation) && TW_FindBinding(row->operation)->checked))
      action->setCheckable(true);
  }

  // The frame's own items: the recent files and Exit stand in both File menus.
  recentMenu_ = new QMenu(QStringLiteral("Recent File"), this);
  addCommand(nullptr, ID_APP_EXIT, QStringLiteral("E&xit"), [this] { close(); });

  auto place = [this](std::map<std::string, QMenu*>& menus, std::vector<QMenu*>& top, const std::string& where,
                      QAction* action) {
    std::vector<std::string> parts = splitPath(where);
    parts.pop_back();
    if (QMenu* menu = menuAt(menus, top, parts)) menu->addAction(action);
  };
  // The frame's menu bar: File and View first, then the groups as the rows give them.
  {
    std::map<std::string, QMenu*> menus;
    menuAt(menus, frameMenus_, {"File"});
    menuAt(menus, frameMenus_, {"View"});
    for (const TW_COMMAND_ROW* row : TW_CommandRows())
      if (row->family != TW_UPDATE_HANDLER && (row->menus & TW_FRAME_MENU))
        place(menus, frameMenus_, row->framePath ? std::string(row->framePath) : TW_RowMenuPath(row), Action(row->id));
    QMenu* file = menus["File"];
    file->addSeparator();
    file->addMenu(recentMenu_);
    file->addSeparator();
    file->addAction(Action(ID_APP_EXIT));
  }
  // A document window's menu bar: File, Edit and View first; the frame's commands it repeats
  // lead their menus.
  {
    std::map<std::string, QMenu*> menus;
    for (const char* name : {"File", "Edit", "View"}) menuAt(menus, documentMenus_, {name});
    std::vector<const TW_COMMAND_ROW*> rows;
    for (const TW_COMMAND_ROW* row : TW_CommandRows())
      if (row->family == TW_FRAME_COMMAND) rows.push_back(row);
    for (const TW_COMMAND_ROW* row : TW_CommandRows())
      if (row->family != TW_FRAME_COMMAND) rows.push_back(row);
    for (const TW_COMMAND_ROW* row : rows)
      if (row->family != TW_UPDATE_HANDLER && (row->menus & TW_DOCUMENT_MENU))
        place(menus, documentMenus_, TW_RowMenuPath(row), Action(row->id));
    QMenu* file = menus["File"];
    file->addSeparator();
    file->addMenu(recentMenu_);
    file->addSeparator();
    file->addAction(Action(ID_APP_EXIT));
  }
  showMenus(false);

  // The view's toolbar tools that have no row of their own.
  viewCommands_[34130] = [](CDrawView* v) { v->OnWindowLevelTool(); };
  viewUpdates_[34130] = [](CDrawView* v, TW_CMDUI* ui) { v->OnUpdateWindowLevelTool(ui); };
  viewCommands_[32819] = [](CDrawView* v) { v->OnZoomByWindow(); };
  viewUpdates_[32819] = [](CDrawView* v, TW_CMDUI* ui) { v->OnUpdateZoomByWindow(ui); };
  viewCommands_[32813] = [](CDrawView* v) { v->OnZoomIn(); };
  viewCommands_[32814] = [](CDrawView* v) { v->OnZoomOut(); };
  viewCommands_[33428] = [](CDrawView* v) { v->On3DProjectionSet(); };
  viewCommands_[34553] = [](CDrawView* v) { v->OnVectorRoiTool(); };
  viewUpdates_[34553] = [](CDrawView* v, TW_CMDUI* ui) { v->OnUpdateVectorRoiTool(ui); };
}

void CMainFrame::showMenus(bool document) {
  std::vector<QMenu*>& wanted = document ? documentMenus_ : frameMenus_;
  if (documentMenusShown_ == document && !menuBar()->actions().isEmpty()) return;
  menuBar()->clear();
  for (QMenu* menu : wanted) menuBar()->addMenu(menu);
  documentMenusShown_ = document;
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
    // A button fires its row of the command table; a button without one waits for its command.
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
  showMenus(view != nullptr);
  static const QString notYet = QStringLiteral("Not available yet");
  for (auto& [id, action] : actions_) {
    if (id == ID_APP_EXIT) continue;
    const TW_COMMAND_ROW* row = TW_FindCommandRow(id);
    bool enabled = false;
    if (row) {
      enabled = TW_CommandEnabled(id, view);
      const bool available = TW_RowAvailable(row);
      if (available && action->statusTip() == notYet) action->setStatusTip(QString());
      if (!available && action->statusTip() != notYet) action->setStatusTip(notYet);
      if (action->isCheckable()) action->setChecked(TW_CommandChecked(id, view));
    } else {
      const auto handler = viewCommands_.find(id);
      enabled = view && handler != viewCommands_.end() && handler->second;
      if (!enabled && action->statusTip() != notYet) action->setStatusTip(notYet);
      const auto update = viewUpdates_.find(id);
      if (enabled && update != viewUpdates_.end() && update->second) {
        TW_CMDUI ui;
        update->second(view, &ui);
        enabled = ui.enabled;
        action->setCheckable(true);
        action->setChecked(ui.checked);
      }
    }
    action->setEnabled(enabled);
  }
}
