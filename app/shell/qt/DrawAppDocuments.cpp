// The document template of the program, the services the document model asks of the shell, and
// the list of recent files.
#include <QApplication>
#include <QClipboard>
#include <QMdiArea>
#include <QSettings>

#include <algorithm>

#include "AppOptions.h"
#include "ChildFrame.h"
#include "ChooseColor.h"
#include "DlgPolyline.h"
#include "DlgUserOpt.h"
#include "DlgVolProj.h"
#include "DlgVROI.h"
#include "DocDraw.h"
#include "DocHooks.h"
#include "DlgLayerCtrl.h"
#include "DlgLayerOpers.h"
#include "DlgMapFitAG.h"
#include "DrawVol.h"
#include "LayerOperationsView.h"
#include "DlgOpenDicomDir.h"
#include "DlgRawVolume.h"
#include "DocumentFile.h"
#include "DrawApp.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawShapes.h"
#include "DrawViewWidget.h"
#include "DynExpDialogsQt.h"
#include "ImageOpen.h"
#include "LayerConversions.h"
#include "LayerExport.h"
#include "MainFrame.h"
#include "OpenDicomDir.h"
#include "ProgressPump.h"
#include "RecordDialog.h"
#include "RoiStat3DWindow.h"
#include "RoiStat4D.h"
#include "RoiStatisticsOperation.h"
#include "SplitThrDialog.h"
#include "EdgeWaveLiveDialog.h"
#include "TwkMem.h"
#include "UiHelpers.h"
#include "Vol.h"
#include "VolInfo.h"
#include "ViewFilter.h"
#include "ViewGeometry.h"

namespace {

constexpr int kRecentFiles = 8;

QString toQt(const CString& s) { return QString::fromStdWString(s.wstr()); }

}  // namespace

void CDrawApp::installHooks() {
  TW_InstallShellServices();
  TW_InstallDocumentFileServices();
  // The raw-volume record is edited in its dialog; tests that keep a scripted UI keep its prompt.
  if (installQtUi_) TW_InstallRawVolumeDialog();
  // So are the parameter records (scripted tests keep their prompts).
  if (installQtUi_)
    TW_InstallRecordDialog([](const std::function<bool()>& run) {
      TW_MODAL_SCOPE modal;
      return run();
    });
  if (installQtUi_)
    TW_InstallSplitThrDialog([](const std::function<bool()>& run) {
      TW_MODAL_SCOPE modal;
      return run();
    });
  if (installQtUi_) TW_InstallEdgeWaveLiveDialog();
  if (installQtUi_) TW_InstallDicomDialogs();
  // The parametric-map dialogs (scripted tests keep their prompts).
  if (installQtUi_)
    TW_InstallDynExpDialogs([](const std::function<bool()>& run) {
      TW_MODAL_SCOPE modal;
      return run();
    });
  if (installQtUi_)
    TW_InstallRoiStat3DDialog([](const std::function<bool()>& run) {
      TW_MODAL_SCOPE modal;
      return run();
    });
  // The Layers panel's DICOM commands. Saving layers as DICOM files comes with the layer export.
  TW_LAYERPANEL_HOOKS& layerHooks = TW_LayerPanelHooks();
  layerHooks.loadDicom = [](CDrawSet* set) {
    const int before = set->NumLayers();
    TW_DlgOpenDicomDir(&TW_EditOptions().dcmLoadFolder, set, false, true, nullptr, true);
    return set->NumLayers() > before;
  };
  layerHooks.info = [](CDrawSet* set, CDrawView* view) { twk::files::ShowInfoDialog(*set, view); };
  // "ROI Stats 3D" / "ROI Stats 4D" and the view's F3 / F4.
  layerHooks.roiStatistics = [](CDrawSet* set, CDrawView* view, int mode) {
    if (set) twk::roiops::RoiStatistics(*set, view, mode, false, TW_DlgRoiStat4D);
  };
  TW_ViewHooks().roiStatistics = layerHooks.roiStatistics;
  layerHooks.saveDicom = [](CDrawSet* set) { twk::files::SaveDicomData(*set); };
  layerHooks.saveImage = [](CDrawSet* set) { twk::files::SaveActiveVolumeToRAW(*set); };
  layerHooks.saveAll = [](CDrawSet* set, CDrawView* view) { twk::files::SaveAllMarkedVolumeLayersToRAW(*set, view); };
  layerHooks.duplicate = [](CDrawSet* set) { return twk::files::CloneLayer(*set); };
  layerHooks.attributes = [](CDrawVol* roiLayer) {
    if (roiLayer && roiLayer->vol && TW_DlgTissueProp(5, &roiLayer->vol->tissue))
      if (CDrawDoc* doc = roiLayer->GetDocument()) doc->SetModifiedFlag();
  };
  layerHooks.operation = [](CDrawSet* set) { TW_DlgLayerOpers(set); };
  if (installQtUi_) TW_InstallLayerOperationsDialog();
  TW_SetDocumentDynExp(dynExp_.get());
  TW_SetRecentFileSink([this](const CString& path) { AddToRecentFileList(path); });

  TW_OPENSERVICES& services = TW_DocumentHooks().open;
  services.createView = [this](CDrawDoc* doc) { return CreateDocumentView(doc); };
  services.showFitted = [](CDrawView* view) { TW_ShowChildFrameFitted(view); };
  services.createOrthogonalViews = [](CDrawView* view) { view->OnCreateOrthogonalViews(); };
  services.applyProjectionConvention = [](CDrawView* view) { view->ApplyProjectionConvention(); };

  // Further views of a document (orthogonal views, "New View"): a window of their own at the given
  // rectangle of the MDI client area.
  TW_VIEW_HOOKS& viewHooks = TW_ViewHooks();
  viewHooks.createView = [this](CDrawDoc* doc, const RECT2D* rect) -> CDrawView* {
    CDrawView* view = CreateDocumentView(doc);
    CChildFrame* frame = view ? CChildFrame::OfView(view) : nullptr;
    if (frame && rect && rect->right > rect->left && rect->bottom > rect->top)
      frame->setGeometry(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top);
    return view;
  };
  viewHooks.frameRect = [this](CDrawView* view, RECT2D* rect) {
    CChildFrame* frame = CChildFrame::OfView(view);
    if (!frame || !mainFrame_ || !rect) return false;
    const QRect clipped = frame->geometry() & mainFrame_->MdiArea()->viewport()->rect();
    if (clipped.isEmpty()) return false;
    *rect = RECT2D{clipped.left(), clipped.top(), clipped.left() + clipped.width(), clipped.top() + clipped.height()};
    return true;
  };
  viewHooks.showFitted = [](CDrawView* view) { TW_ShowChildFrameFitted(view); };
  viewHooks.tileWindows = [] {
    if (CMainFrame* frame = CMainFrame::Get()) frame->TileByAspect();
  };

  TW_DOCUMENT_HOOKS& hooks = TW_DocumentHooks();
  hooks.layerPanelSet = []() -> const CDrawSet* {
    CDlgLayerCtrl* panel = TW_LayerPanel();
    return panel ? panel->Set() : nullptr;
  };
  hooks.fillLayerTree = [](bool redraw) {
    CDlgLayerCtrl* panel = TW_LayerPanel();
    return panel && panel->FillLayerTree(redraw);
  };
  hooks.floatingPanelsOpen = [] { return CMainFrame::Get() && CMainFrame::Get()->AnyPanelOpen(); };
  hooks.closeFloatingPanels = [] {
    if (CMainFrame* frame = CMainFrame::Get()) frame->ReleasePanels();
  };
  hooks.closeDocument = [this](CDrawDoc* doc) { CloseDocument(doc); };
  hooks.closeView = [](CDrawView* view) {
    CChildFrame* frame = CChildFrame::OfView(view);
    if (!frame) return false;
    frame->CloseWithoutQuestion();
    return true;
  };

  TW_ViewHooks().activateView = [](CDrawView* view) {
    if (CDlgLayerCtrl* panel = TW_LayerPanel()) panel->AttachToView(view);
  };
  installDialogHooks();
  TW_DocDrawHooks().waitCursor = [](bool wait) { TW_SetWaitCursor(wait); };

  PR_SetClipboardHooks(
      [](std::wstring& text) {
        const QClipboard* clipboard = QGuiApplication::clipboard();
        if (!clipboard || clipboard->text().isEmpty()) return false;
        text = clipboard->text().toStdWString();
        return true;
      },
      [](const std::wstring& text) {
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (!clipboard) return false;
        clipboard->setText(QString::fromStdWString(text));
        return true;
      });
}

void CDrawApp::installDialogHooks() {
  // The dialogs the views open, and what the options dialog's immediate effects ask of the frame.
  TW_VIEW_HOOKS& viewHooks = TW_ViewHooks();
  viewHooks.projectionDialog = [](CDrawView* view, VA_VOLPROJ* record) { TW_DlgVolProj(view, record); };
  viewHooks.polylineProperties = [](CDrawView*, CDrawObj* poly) { TW_DlgPolyline(static_cast<CDrawPoly*>(poly)); };
  viewHooks.layersPanel = [](CDrawView* view) { TW_OpenDlgLayerCtrl(view); };
  viewHooks.viewFilter = [](CDrawSet* set, CDrawView* view) { TW_DlgVolIntWin(set, view); };
  viewHooks.mapFitDialog = [](VA_MAPFITAGPARM* record) { return TW_DlgMapFitAG(record); };
  TW_InstallVectorRoiPanel();
  TW_USEROPT_HOOKS& options = TW_UserOptHooks();
  options.applyVisualStyle = [this](int style) {
    if (mainFrame_) mainFrame_->ApplyVisualStyle(style);
  };
  options.dockToolbar = [this](int edge) {
    if (mainFrame_) mainFrame_->DockToolBar(edge);
  };
  // A scripted UI keeps answering colours through its prompts.
  if (installQtUi_) TW_InstallColorDialog();
}

void CDrawApp::removeHooks() {
  TW_VIEW_HOOKS& dialogHooks = TW_ViewHooks();
  dialogHooks.projectionDialog = nullptr;
  dialogHooks.polylineProperties = nullptr;
  dialogHooks.layersPanel = nullptr;
  dialogHooks.viewFilter = nullptr;
  dialogHooks.mapFitDialog = nullptr;
  TW_RemoveVectorRoiPanel();
  TW_UserOptHooks() = TW_USEROPT_HOOKS{};
  TW_SetColorChooserView(nullptr);
  TW_SetRawVolumeView(nullptr);
  TW_RemoveRecordDialog();
  TW_RemoveDynExpDialogs();
  TW_RemoveDicomDialogs();
  TW_RemoveRoiStat3DDialog();
  TW_RemoveEdgeWaveLiveDialog();
  TW_ViewHooks().roiStatistics = nullptr;
  TW_LayerPanelHooks() = TW_LAYERPANEL_HOOKS{};
  TW_SetLayerOperationsView(nullptr);
  TW_SetRecentFileSink(nullptr);
  TW_SetDocumentDynExp(nullptr);
  TW_DOCUMENT_HOOKS& hooks = TW_DocumentHooks();
  hooks.layerPanelSet = nullptr;
  hooks.fillLayerTree = nullptr;
  hooks.floatingPanelsOpen = nullptr;
  hooks.closeFloatingPanels = nullptr;
  hooks.closeDocument = nullptr;
  hooks.closeView = nullptr;
  hooks.open = TW_OPENSERVICES{};
  hooks.specifyModality = nullptr;
  TW_VIEW_HOOKS& viewHooks = TW_ViewHooks();
  viewHooks.activateView = nullptr;
  viewHooks.createView = nullptr;
  viewHooks.frameRect = nullptr;
  viewHooks.showFitted = nullptr;
  viewHooks.tileWindows = nullptr;
  TW_DocDrawHooks().waitCursor = nullptr;
  PR_SetClipboardHooks(nullptr, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Documents
// ---------------------------------------------------------------------------------------------

CDrawDoc* CDrawApp::OpenDocumentFile(const wchar_t* path) {
  CDrawDoc* doc = OpenDocumentFile(path, true, true);
  if (doc) doc->RedrawAllViews(false);
  return doc;
}

CDrawDoc* CDrawApp::OpenDocumentFile(const wchar_t* path, bool applyLayout, bool showProgress) {
  return TW_OpenImageDocument(path, applyLayout, showProgress);
}

CDrawView* CDrawApp::CreateDocumentView(CDrawDoc* doc) {
  if (!doc || !mainFrame_) return nullptr;
  if (std::find(documents_.begin(), documents_.end(), doc) == documents_.end()) documents_.push_back(doc);
  auto* frame = new CChildFrame(doc);
  mainFrame_->MdiArea()->addSubWindow(frame);
  frame->show();
  CDrawViewWidget* view = frame->ViewWidget();
  view->OnInitialUpdate();
  mainFrame_->MdiArea()->setActiveSubWindow(frame);
  mainFrame_->UpdateCommandStates();
  return view;
}

void CDrawApp::CloseDocument(CDrawDoc* doc) {
  if (!doc) return;
  std::vector<CChildFrame*> frames;
  if (mainFrame_)
    for (QMdiSubWindow* w : mainFrame_->MdiArea()->subWindowList())
      if (auto* frame = qobject_cast<CChildFrame*>(w); frame && frame->Document() == doc) frames.push_back(frame);
  if (frames.empty()) {
    // A document that has no window (yet): it goes at once.
    if (CDlgLayerCtrl* panel = TW_LayerPanel()) panel->DetachDocument(doc);
    documents_.erase(std::remove(documents_.begin(), documents_.end(), doc), documents_.end());
    delete doc;
  } else {
    // The last window's destruction closes the document (OnLastViewClosed).
    if (std::find(documents_.begin(), documents_.end(), doc) == documents_.end()) documents_.push_back(doc);
    for (CChildFrame* frame : frames) delete frame;
  }
  if (mainFrame_) mainFrame_->UpdateCommandStates();
}

bool CDrawApp::CloseAllDocuments(bool ask) {
  if (ask)
    for (CDrawDoc* doc : documents_)
      if (!doc->SaveModified()) return false;
  const std::vector<CDrawDoc*> open = documents_;
  for (CDrawDoc* doc : open) CloseDocument(doc);
  return true;
}

void CDrawApp::OnLastViewClosed(CDrawDoc* doc) {
  auto it = std::find(documents_.begin(), documents_.end(), doc);
  if (it == documents_.end()) return;  // a document outside the framework
  documents_.erase(it);
  if (CDlgLayerCtrl* panel = TW_LayerPanel()) panel->DetachDocument(doc);
  delete doc;
  if (mainFrame_ && !closing_) mainFrame_->UpdateCommandStates();
}

void TW_RedrawAllOpenViews() {
  CDrawApp* app = CDrawApp::Get();
  if (!app) return;
  for (CDrawDoc* doc : app->Documents()) {
    CDrawView* current = nullptr;
    for (CDrawView* view : doc->Views()) {
      view->RedrawNow();
      if (view->IsActive()) current = view;
    }
    if (current) current->RedrawNow();
  }
}

// ---------------------------------------------------------------------------------------------
// Recent files
// ---------------------------------------------------------------------------------------------

QStringList CDrawApp::RecentFiles() const {
  QStringList files;
  if (!profile_) return files;
  for (int i = 1; i <= kRecentFiles; ++i) {
    const QString path = profile_->value(QStringLiteral("Recent File List/File%1").arg(i)).toString();
    if (!path.isEmpty()) files.append(path);
  }
  return files;
}

namespace {

void writeRecentFiles(QSettings* profile, const QStringList& files) {
  for (int i = 1; i <= kRecentFiles; ++i) {
    const QString key = QStringLiteral("Recent File List/File%1").arg(i);
    if (i <= files.size()) profile->setValue(key, files[i - 1]);
    else profile->remove(key);
  }
  profile->sync();
}

}  // namespace

void CDrawApp::AddToRecentFileList(const CString& path) {
  if (!profile_ || path.IsEmpty()) return;
  QStringList files = RecentFiles();
  files.removeAll(toQt(path));
  files.prepend(toQt(path));
  while (files.size() > kRecentFiles) files.removeLast();
  writeRecentFiles(profile_.get(), files);
  if (mainFrame_) mainFrame_->UpdateRecentFileMenu();
}

void CDrawApp::RemoveFromRecentFileList(const CString& path) {
  if (!profile_) return;
  QStringList files = RecentFiles();
  files.removeAll(toQt(path));
  writeRecentFiles(profile_.get(), files);
  if (mainFrame_) mainFrame_->UpdateRecentFileMenu();
}
