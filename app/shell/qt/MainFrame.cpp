#include "MainFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPalette>
#include <QResizeEvent>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QToolBar>

#include <cstdio>

#include "AppOptions.h"
#include "ChildFrame.h"
#include "DrawApp.h"
#include "OptionsFile.h"
#include "PanelSlots.h"
#include "ProgressPump.h"
#include "ToggleBar.h"
#include "TwkDicom.h"

namespace {

CMainFrame* g_mainFrame = nullptr;
CString g_lastStatusText;

QString toQt(const wchar_t* text) { return QString::fromWCharArray(text ? text : L""); }

}  // namespace

bool TW_ParseWindowPlacement(const CString& text, TW_WINDOWPLACEMENT* p) {
  if (!p || text.IsEmpty()) return false;
  TW_WINDOWPLACEMENT r;
  const std::string narrow = text.toUtf8();
  const int read = std::sscanf(narrow.c_str(), "%i:%i:%i:%i:%i:%i:%i:%i:%i:%i", &r.flags, &r.showCmd, &r.minX, &r.minY,
                               &r.maxX, &r.maxY, &r.left, &r.top, &r.right, &r.bottom);
  if (read != 10) return false;
  *p = r;
  return true;
}

CString TW_FormatWindowPlacement(const TW_WINDOWPLACEMENT& p) {
  CString s;
  s.Format(L"%i:%i:%i:%i:%i:%i:%i:%i:%i:%i", p.flags, p.showCmd, p.minX, p.minY, p.maxX, p.maxY, p.left, p.top, p.right,
           p.bottom);
  return s;
}

CMainFrame::CMainFrame(QSettings* profile, QWidget* parent) : QMainWindow(parent), profile_(profile) {
  g_mainFrame = this;
  setObjectName(QStringLiteral("MainFrame"));
  setWindowTitle(QStringLiteral("Tarnwick"));
  mdiArea_ = new QMdiArea(this);
  mdiArea_->setObjectName(QStringLiteral("MdiArea"));
  mdiArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  mdiArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(mdiArea_);
  ApplyVisualStyle(TW_Options().visualStyle);

  statusBar_ = new CToggleBar(this);
  setStatusBar(statusBar_);
  statusBar_->SetPaneText(QStringLiteral("Ready"));
  messageBlock_.progressSink = &CMainFrame::ProgressSink;
  messageBlock_.showMessage = &CMainFrame::ShowMessage;
  messageBlock_.setStatusText = &CMainFrame::SetStatusText;
  messageBlock_.reserved[0] = messageBlock_.reserved[1] = nullptr;

  createMenus();
  createToolBar();
  DockToolBar(TW_Options().toolbarAlign);

  connect(mdiArea_, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* window) {
    for (QMdiSubWindow* w : mdiArea_->subWindowList())
      if (auto* frame = qobject_cast<CChildFrame*>(w); frame && w != window) frame->ActivateView(false);
    if (auto* frame = qobject_cast<CChildFrame*>(window)) frame->ActivateView(true);
    // The caption names the active document.
    setWindowTitle(window ? QStringLiteral("Tarnwick - ") + window->windowTitle() : QStringLiteral("Tarnwick"));
    UpdateCommandStates();
  });
  TW_InstallInputGuard();
  // The modeless tool dialogs find their slots here.
  TW_SetPanelSlots({[this](int slot) { return Panel(slot); }, [this](int slot, QWidget* panel) { SetPanel(slot, panel); }});
  // Command states follow the active document (undo and redo change without a command).
  auto* idle = new QTimer(this);
  connect(idle, &QTimer::timeout, this, [this] { UpdateCommandStates(); });
  idle->start(250);
  UpdateCommandStates();
}

CMainFrame::~CMainFrame() {
  TW_SetPanelSlots({});
  TWKDCM_Shutdown();
  PR_CloseFrameFunctions();
  if (g_mainFrame == this) g_mainFrame = nullptr;
}

CMainFrame* CMainFrame::Get() { return g_mainFrame; }

// ---------------------------------------------------------------------------------------------
// Progress protocol
// ---------------------------------------------------------------------------------------------

void CMainFrame::ProgressSink(uint64_t value) {
  if (g_mainFrame) g_mainFrame->onProgressValue(value);
}

bool CMainFrame::ShowMessage(const wchar_t* text, bool pump) {
  return g_mainFrame ? g_mainFrame->onShowMessage(text, pump) : false;
}

void CMainFrame::SetStatusText(const wchar_t* text) {
  if (g_mainFrame) g_mainFrame->onSetStatusText(text);
}

const CString& CMainFrame::LastStatusText() { return g_lastStatusText; }

void CMainFrame::onProgressValue(uint64_t value) {
  constexpr uint64_t kColourMask = 0xFFFFFFFFC0000000ull;
  if (value == PR_MSG_RESET) {
    nextIsText_ = 1;
    return;
  }
  if ((value & kColourMask) == kColourMask) {
    statusBar_->SetProgressBackground(uint32_t(value & 0x3FFFFFFF));
    return;
  }
  if (value == PR_MSG_END) {
    statusBar_->SetPaneText(QStringLiteral("Ready"));
    statusBar_->ResetProgressBackground();
    statusBar_->SetProgressPos(0);
    TW_SetWaitCursor(false);
    return;
  }
  // Texts come through the typed message callback only: any other value is a number, and one
  // outside 1..99 is ignored.
  if (value >= 1 && value <= 99) {
    statusBar_->SetProgressPos(int(value));
    TW_PumpMessages();
    TW_SetWaitCursor(true);
  }
}

bool CMainFrame::onShowMessage(const wchar_t* text, bool pump) {
  if (text && nextIsText_) {
    // The title of an operation that has just begun.
    TW_PumpMessages();
    nextIsText_ = 0;
    g_lastStatusText = text;
    statusBar_->SetPaneText(toQt(text));
    TW_SetWaitCursor(true);
    return true;
  }
  if (text) statusBar_->SetPaneText(toQt(text));
  if (pump) TW_PumpMessages();
  return true;
}

void CMainFrame::onSetStatusText(const wchar_t* text) {
  g_lastStatusText = text ? text : L"";
  statusBar_->SetPaneText(toQt(text));
  TW_PumpMessages();
  // The wait cursor belongs to running work; a status text outside it leaves the arrow.
  if (PR_InWorkProcess()) TW_SetWaitCursor(true);
}

// ---------------------------------------------------------------------------------------------
// Placement
// ---------------------------------------------------------------------------------------------

bool CMainFrame::ReadWindowPlacement(const wchar_t* entry, TW_WINDOWPLACEMENT* placement) const {
  if (!profile_ || !placement) return false;
  const QString value = profile_->value(QStringLiteral("Settings/") + toQt(entry)).toString();
  if (value.isEmpty()) return false;
  TW_WINDOWPLACEMENT read;
  if (!TW_ParseWindowPlacement(CString(value.toStdWString()), &read)) return false;
  *placement = read;
  return true;
}

void CMainFrame::WriteWindowPlacement(const TW_WINDOWPLACEMENT& placement, const wchar_t* entry) {
  if (!profile_) return;
  profile_->setValue(QStringLiteral("Settings/") + toQt(entry),
                     QString::fromStdWString(TW_FormatWindowPlacement(placement).wstr()));
  profile_->sync();
}

TW_WINDOWPLACEMENT CMainFrame::CurrentPlacement() const {
  TW_WINDOWPLACEMENT p;
  const Qt::WindowStates state = windowState();
  QRect normal = normalGeometry();
  if (!normal.isValid()) normal = geometry();
  if (state & Qt::WindowMinimized) p.showCmd = 5;  // the next start must not open minimised
  else if (state & Qt::WindowMaximized) p.showCmd = 3;
  else p.showCmd = 1;
  if (state & Qt::WindowMaximized) p.flags |= 2;  // restore to maximised
  p.left = normal.x();
  p.top = normal.y();
  p.right = normal.x() + normal.width();
  p.bottom = normal.y() + normal.height();
  return p;
}

void CMainFrame::ApplyPlacement(const TW_WINDOWPLACEMENT& p) {
  if (p.right > p.left && p.bottom > p.top) setGeometry(p.left, p.top, p.right - p.left, p.bottom - p.top);
  if (p.showCmd == 3 || (p.showCmd == 2 && (p.flags & 2))) setWindowState(Qt::WindowMaximized);
  else if (p.showCmd == 2) setWindowState(Qt::WindowMinimized);
  else setWindowState(Qt::WindowNoState);
}

void CMainFrame::ShowInitial() {
  TW_WINDOWPLACEMENT placement;
  if (ReadWindowPlacement(L"WindowPos", &placement)) {
    ApplyPlacement(placement);
    show();
  } else {
    showMaximized();
  }
  shown_ = true;
}

// ---------------------------------------------------------------------------------------------
// Documents and panels
// ---------------------------------------------------------------------------------------------

int CMainFrame::TileCommandFor(int width, int height) { return height > width ? ID_MDI_TILE_HORZ : ID_MDI_TILE_VERT; }

void CMainFrame::TileByAspect() {
  const QSize client = mdiArea_->viewport()->size();
  lastTile_ = TileCommandFor(client.width(), client.height());
  QList<QMdiSubWindow*> windows;
  for (QMdiSubWindow* w : mdiArea_->subWindowList())
    if (w->isVisible() && !w->isMinimized()) windows.append(w);
  const int n = int(windows.size());
  if (n == 0) return;
  for (int i = 0; i < n; ++i) {
    QMdiSubWindow* w = windows[i];
    if (w->isMaximized()) w->showNormal();
    if (lastTile_ == ID_MDI_TILE_HORZ) {
      const int top = client.height() * i / n;
      w->setGeometry(0, top, client.width(), client.height() * (i + 1) / n - top);
    } else {
      const int left = client.width() * i / n;
      w->setGeometry(left, 0, client.width() * (i + 1) / n - left, client.height());
    }
  }
}

QWidget* CMainFrame::Panel(int slot) const { return slot >= 0 && slot < TW_PANEL_COUNT ? panels_[slot] : nullptr; }

void CMainFrame::SetPanel(int slot, QWidget* panel) {
  if (slot < 0 || slot >= TW_PANEL_COUNT) return;
  panels_[slot] = panel;
  if (panel)
    connect(panel, &QObject::destroyed, this, [this, slot, panel] {
      if (panels_[slot] == panel) panels_[slot] = nullptr;
    });
}

bool CMainFrame::AnyPanelOpen() const {
  for (QWidget* p : panels_)
    if (p) return true;
  return false;
}

void CMainFrame::ReleasePanels() {
  const int order[TW_PANEL_COUNT] = {TW_PANEL_EDGEWAVE_LIVE, TW_PANEL_CURVE_VIEWER, TW_PANEL_VECTOR_ROI,
                                     TW_PANEL_LAYERS, TW_PANEL_MOTION_PROFILE};
  for (int slot : order)
    if (QWidget* panel = panels_[slot]) {
      panels_[slot] = nullptr;
      delete panel;
    }
}

CDrawView* CMainFrame::ActiveView() const {
  auto* frame = qobject_cast<CChildFrame*>(mdiArea_->currentSubWindow());
  return frame ? frame->View() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Toolbar edge and visual style
// ---------------------------------------------------------------------------------------------

void CMainFrame::DockToolBar(int align) {
  if (align < 0 || align > 3) align = 2;
  toolBarEdge_ = align;
  const Qt::ToolBarArea areas[4] = {Qt::LeftToolBarArea, Qt::TopToolBarArea, Qt::RightToolBarArea,
                                    Qt::BottomToolBarArea};
  toolBar_->setAllowedAreas(areas[align]);
  toolBar_->setOrientation(align == 1 || align == 3 ? Qt::Horizontal : Qt::Vertical);
  addToolBar(areas[align], toolBar_);
}

void CMainFrame::ApplyVisualStyle(int style) {
  // 0: the plain look of the platform; 1 to 4: tinted palettes (Aqua, Luna Blue, Obsidian Black,
  // Silver); other values the neutral tinted look.
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!app) return;
  if (style == 0) {
    app->setPalette(app->style()->standardPalette());
    return;
  }
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app->setStyle(fusion);
  QPalette palette = app->style()->standardPalette();
  QColor window(0xE4, 0xE8, 0xEE), button(0xDA, 0xE0, 0xEA), text(Qt::black);
  switch (style) {
    case 1: window = QColor(0xD9, 0xE8, 0xF5); button = QColor(0xC4, 0xDD, 0xF2); break;
    case 2: window = QColor(0xC9, 0xDB, 0xF2); button = QColor(0xB0, 0xCA, 0xEE); break;
    case 3:
      window = QColor(0x35, 0x35, 0x38);
      button = QColor(0x45, 0x45, 0x4A);
      text = QColor(0xEE, 0xEE, 0xEE);
      palette.setColor(QPalette::Base, QColor(0x2A, 0x2A, 0x2D));
      palette.setColor(QPalette::Text, text);
      break;
    case 4: window = QColor(0xE8, 0xE9, 0xEC); button = QColor(0xDC, 0xDE, 0xE2); break;
    default: break;
  }
  palette.setColor(QPalette::Window, window);
  palette.setColor(QPalette::Button, button);
  palette.setColor(QPalette::WindowText, text);
  palette.setColor(QPalette::ButtonText, text);
  app->setPalette(palette);
}

// ---------------------------------------------------------------------------------------------
// Window events
// ---------------------------------------------------------------------------------------------

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (TW_PumpRunning()) {  // an operation is running below this close
    event->ignore();
    return;
  }
  TW_SaveUserOptions(TW_OptionsFilePath());
  WriteWindowPlacement(CurrentPlacement(), L"WindowPos");
  ReleasePanels();
  CDrawApp* app = CDrawApp::Get();
  if (app && !app->CloseAllDocuments(true)) {
    event->ignore();
    return;
  }
  event->accept();
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (TW_Options().autoTile) TileByAspect();
}

// ---------------------------------------------------------------------------------------------
// Free helpers
// ---------------------------------------------------------------------------------------------

void TW_ShowChildFrameFitted(CDrawView* view) {
  CMainFrame* frame = CMainFrame::Get();
  if (!frame) return;
  CChildFrame* child = view ? CChildFrame::OfView(view) : nullptr;
  if (!TW_Options().autoTile && child) {
    child->showNormal();
    child->setGeometry(QRect(QPoint(0, 0), frame->MdiArea()->viewport()->size()));
    child->show();
    return;
  }
  frame->TileByAspect();
}
