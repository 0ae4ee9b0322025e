// The commands of the command table that the shell runs: opening documents, images and NumPy
// arrays, saving, undo and redo, the drawing-object properties that open the Layers panel, the
// PHI profile and the options in force, the toolbar switch, tiling, and the view's fitting and
// orthogonal views.
#include <QToolBar>

#include "AppOptions.h"
#include "DicomExtractorCT.h"
#include "DicomFolderCommands.h"
#include "DicomLoad.h"
#include "CommandTable.h"
#include "DlgLayerCtrl.h"
#include "DrawApp.h"
#include "DrawDoc.h"
#include "DrawSet.h"
#include "DrawView.h"
#include "FilePickers.h"
#include "ImageOpen.h"
#include "OpenDicomDir.h"
#include "MainFrame.h"
#include "OptionsFile.h"
#include "TwkMem.h"
#include "TwkUi.h"
#include "UiHelpers.h"

namespace {

// Opens every file chosen with the filter in the remembered RAW load folder.
void openChosenFiles(int filterId) {
  int count = 0;
  CString** paths = TW_GetMultiFileLoadName(filterId, &TW_EditOptions().rawLoadFolder, &TW_EditOptions().rawLoadFilterInx,
                                            &TW_EditOptions().rawLoadExt, &count);
  if (!paths) return;
  for (int i = 0; i < count; ++i) {
    if (CDrawApp* app = CDrawApp::Get()) app->OpenDocumentFile(*paths[i], true, true);
    delete paths[i];
  }
  pf_free(&paths);
}

void editProperties(CDrawView* view) {
  CDrawDoc* doc = view ? view->GetDocument() : nullptr;
  if (!doc || doc->selection.size() != 1 || doc->selection.front()->kind != DRAWOBJ_SET) return;
  auto* set = static_cast<CDrawSet*>(doc->selection.front());
  if (!set->IsVolumeSet()) {
    if (!set->IsVectorRoi()) twk::messageBox(L"Volumetric Entity is required");
    return;
  }
  CMainFrame* frame = CMainFrame::Get();
  if (frame && !frame->AnyPanelOpen()) TW_OpenDlgLayerCtrl(view);
}

}  // namespace

TW_COMMAND_BINDINGS(shell_qt) {
  TW_BindOperation("TW_GetMultiFileLoadName", [](const TW_COMMAND_CALL& c) { openChosenFiles(c.Int(0)); });
  TW_BindOperation("TW_OpenRawVolume", [](const TW_COMMAND_CALL&) { TW_OpenRawVolume(); });
  TW_BindOperation("TW_ShowPHIprofile", [](const TW_COMMAND_CALL&) { TW_ShowPHIprofile(); });
  TW_BindOperation("TW_ShowUserOptions", [](const TW_COMMAND_CALL&) { TW_ShowUserOptions(); });

  TW_OPERATION_BINDING toolbar;
  toolbar.run = [](const TW_COMMAND_CALL&) {
    if (CMainFrame* frame = CMainFrame::Get()) frame->OnShowMainToolbar();
  };
  toolbar.checked = [](const TW_COMMAND_CALL&) {
    CMainFrame* frame = CMainFrame::Get();
    return frame && frame->MainToolBar() && !frame->MainToolBar()->isHidden();
  };
  TW_BindOperation("CMainFrame::OnShowMainToolbar", toolbar);
  TW_BindOperation("CMainFrame::TileByAspect", [](const TW_COMMAND_CALL&) {
    if (CMainFrame* frame = CMainFrame::Get()) frame->TileByAspect();
  });

  // "Quick Save" (flags 0, 0) and "Save As" (1, 1): document, no path, the view, ask for a name,
  // take the name, show messages.
  TW_BindOperation("CDrawDoc::Save", [](const TW_COMMAND_CALL& c) {
    if (c.doc) c.doc->Save(nullptr, c.view, c.Flag(3), c.Flag(4), c.Flag(5));
  });
  TW_OPERATION_BINDING undo;
  undo.run = [](const TW_COMMAND_CALL& c) {
    if (c.doc) c.doc->Undo();
  };
  undo.enabled = [](const TW_COMMAND_CALL& c) { return c.doc && c.doc->CanUndo(); };
  TW_BindOperation("CDrawDoc::Undo", undo);
  TW_OPERATION_BINDING redo;
  redo.run = [](const TW_COMMAND_CALL& c) {
    if (c.doc) c.doc->Redo();
  };
  redo.enabled = [](const TW_COMMAND_CALL& c) { return c.doc && c.doc->CanRedo(); };
  TW_BindOperation("CDrawDoc::Redo", redo);
  TW_BindOperation("CDrawObj::OnEditProperties", [](const TW_COMMAND_CALL& c) { editProperties(c.view); });
  TW_BindOperation("CDrawView::ZoomAll", [](const TW_COMMAND_CALL& c) {
    if (c.view) c.view->ZoomAll();
  });
  TW_BindOperation("CDrawView::OnCreateOrthogonalViews", [](const TW_COMMAND_CALL& c) {
    if (c.view) c.view->OnCreateOrthogonalViews();
  });

  // The DICOM commands of the frame: the folder opens (keep the browser open, then load, show
  // messages), the single file, the folder jobs of File > DICOM, the CT extractor and the folder of
  // diffusion NIfTI images.
  TW_BindOperation("TW_DlgOpenDicomDir", [](const TW_COMMAND_CALL& c) {
    TW_DlgOpenDicomDir(&TW_EditOptions().dcmLoadFolder, nullptr, c.Flag(1), c.Flag(2), nullptr, c.Flag(4));
  });
  TW_BindOperation("TW_OpenSingleDicomFile", [](const TW_COMMAND_CALL&) { TW_OpenSingleDicomFile(&TW_EditOptions().dcmLoadFolder); });
  TW_BindOperation("CMainFrame::OnDeidentifyDicomFolder", [](const TW_COMMAND_CALL&) { TW_DeidentifyDicomFolderCommand(); });
  TW_BindOperation("VA_DicomTreeToFolders", [](const TW_COMMAND_CALL&) { TW_DicomTreeToFoldersCommand(); });
  TW_BindOperation("VA_DicomFolderTotalPixSize", [](const TW_COMMAND_CALL&) { TW_DicomFolderTotalPixelSizeCommand(); });
  TW_BindOperation("CMainFrame::OnSplitMultiframeDicomFile", [](const TW_COMMAND_CALL&) {
    CString folder;
    TW_GetProgramFolder(&folder);
    TW_SplitMultiframeDicomFileCommand(folder);
  });
  TW_BindOperation("CMainFrame::OnSplitMultiframeDicomFolder",
                   [](const TW_COMMAND_CALL&) { TW_SplitMultiframeDicomFolderCommand(); });
  TW_BindOperation("TW_DlgDicomExtractorCT", [](const TW_COMMAND_CALL&) { TW_DlgDicomExtractorCT(); });
  TW_BindOperation("VA_Load4DvolumeFromDWIfolderOfNIFTIimages",
                   [](const TW_COMMAND_CALL&) { TW_LoadDwiFolderOfNiiImagesCommand(); });
}
