// The command-table rows the view and its vector objects serve: the view's own menu rows (zoom,
// display switches, projection, new view, tool choices, the selection's order, lock and pin, the
// display clock, tiling), rasterising vector objects, the polyline length, the vector-ROI
// commands of a set, the optimal window and the options dialog.

#include "CommandTable.h"
#include "CropOperations.h"
#include "DlgUserOpt.h"
#include "DrawSet.h"
#include "DrawTool.h"
#include "DrawView.h"
#include "VectRois.h"

namespace {

// The view's own commands. The toolbar's view buttons share the ids of their menu rows; the rest
// are numbered from 36000.
// clang-format off
const TW_COMMAND_ROW kViewOwnRows[] = {
    {32813, "View", "Zoom In", TW_VIEW_FORWARDER, "CDrawView::OnZoomIn", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {32814, "View", "Zoom Out", TW_VIEW_FORWARDER, "CDrawView::OnZoomOut", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36000, "View", "Zoom 1x1", TW_VIEW_FORWARDER, "CDrawView::OnZoom1x1", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {32819, "View", "Zoom By Window", TW_VIEW_FORWARDER, "CDrawView::OnZoomByWindow", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {34130, "View", "horizontal drag to the right >> increase W; drag down >> increase L, ESC>> exit", TW_VIEW_FORWARDER, "CDrawView::OnWindowLevelTool", "view", 0, nullptr, nullptr},
    {36001, "View", "Display\\Hide Raster", TW_VIEW_FORWARDER, "CDrawView::OnDisplayRaster", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36002, "View", "Display\\Hide Vector", TW_VIEW_FORWARDER, "CDrawView::OnDisplayVector", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36003, "View", "Display\\Hide Grid", TW_VIEW_FORWARDER, "CDrawView::OnDisplayGrid", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36004, "View", "Show Object contours only", TW_VIEW_FORWARDER, "CDrawView::OnContoursOnly", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36005, "View", "Enumerate polylines", TW_VIEW_FORWARDER, "CDrawView::OnEnumeratePolylines", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36006, "View", "Reset Projection for this View", TW_VIEW_FORWARDER, "CDrawView::OnResetProjection", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {33428, "View", "Set Projection for this View", TW_VIEW_FORWARDER, "CDrawView::On3DProjectionSet", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36007, "View", "New View", TW_VIEW_FORWARDER, "CDrawView::OnNewView", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36008, "View", "Display All Volumes and their projections", TW_VIEW_FORWARDER, "CDrawView::OnTileByAspect", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36009, "View", "Next Vector ROI (F11)", TW_VIEW_FORWARDER, "CDrawView::OnNextLandmark", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36010, "View", "Show DocDisplay Clock", TW_VIEW_FORWARDER, "CDrawView::OnShowDocDisplayClock", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36011, "View", "Reset DocDisplay Clock", TW_VIEW_FORWARDER, "CDrawView::OnResetDocDisplayClock", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36012, "Edit", "Select All", TW_VIEW_FORWARDER, "CDrawView::OnSelectAll", "view", TW_DOCUMENT_MENU, "Ctrl+A", nullptr},
    {36013, "Edit", "Erase", TW_VIEW_FORWARDER, "CDrawView::OnEditClear", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36014, "Edit", "Pop To Top", TW_VIEW_FORWARDER, "CDrawView::OnMoveToFront", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36015, "Edit", "Push To Bottom", TW_VIEW_FORWARDER, "CDrawView::OnMoveToBack", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36016, "Edit", "Pop Up", TW_VIEW_FORWARDER, "CDrawView::OnMoveForward", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36017, "Edit", "Push Down", TW_VIEW_FORWARDER, "CDrawView::OnMoveBackward", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36018, "Edit", "Lock", TW_VIEW_FORWARDER, "CDrawView::OnObjectLock", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36019, "Edit", "Pin", TW_VIEW_FORWARDER, "CDrawView::OnObjectPin", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36020, "Edit", "Contour and Fill Properties...", TW_VIEW_FORWARDER, "CDrawView::OnContourFillProperties", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36021, "Edit", "Selection Tool", TW_VIEW_FORWARDER, "CDrawView::OnChooseSelectTool", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {33500, "Edit", "Cancel", TW_VIEW_FORWARDER, "CDrawView::CancelTool", "view", 0, nullptr, nullptr},
    {34553, "Vector", "Construct vector ROI", TW_VIEW_FORWARDER, "CDrawView::OnVectorRoiTool", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36022, "Vector", "Draw ellipse", TW_VIEW_FORWARDER, "CDrawView::OnEllipseTool", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {36023, "Vector", "Draw arc", TW_VIEW_FORWARDER, "CDrawView::OnArcTool", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {34608, "Vector", "Insert Polyline", TW_VIEW_FORWARDER, "CDrawView::OnInsertPolyline", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {32842, "Vector", "Finish Polyline", TW_VIEW_FORWARDER, "CDrawView::OnFinishPolyline", "view", TW_DOCUMENT_MENU, "Tab", nullptr},
    {33106, "Vector", "Close Polyline", TW_VIEW_FORWARDER, "CDrawView::OnClosePolyline", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {32843, "Vector", "Remove Last Node", TW_VIEW_FORWARDER, "CDrawView::OnRemoveLastNode", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {32996, "Vector", "Insert spline point", TW_VIEW_FORWARDER, "CDrawView::EditSplinePoint", "view; true", 0, nullptr, nullptr},
    {32997, "Vector", "Delete spline point", TW_VIEW_FORWARDER, "CDrawView::EditSplinePoint", "view; false", 0, nullptr, nullptr},
    {34184, "Trace", "Start MagTrace", TW_VIEW_FORWARDER, "CDrawView::OnVolMagTrace", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
    {34194, "Trace", "Overlay Edges", TW_VIEW_FORWARDER, "CDrawView::OnTrace_OverlayEdges", "view", TW_DOCUMENT_MENU, nullptr, nullptr},
};
// clang-format on

using VIEW_COMMAND = void (CDrawView::*)();
using VIEW_UPDATE = void (CDrawView::*)(TW_CMDUI*) const;

// Binds a view command; its update handler (when given) gives the item's enabled state and check mark.
void bindView(const char* operation, VIEW_COMMAND run, VIEW_UPDATE update = nullptr) {
  TW_OPERATION_BINDING b;
  b.run = [run](const TW_COMMAND_CALL& c) {
    if (c.view) (c.view->*run)();
  };
  if (update) {
    auto state = [update](const TW_COMMAND_CALL& c) {
      TW_CMDUI ui;
      if (c.view) (c.view->*update)(&ui);
      return ui;
    };
    b.enabled = [state](const TW_COMMAND_CALL& c) { return c.view && state(c).enabled; };
    b.checked = [state](const TW_COMMAND_CALL& c) { return c.view && state(c).checked; };
  }
  TW_BindOperation(operation, b);
}

}  // namespace

TW_COMMAND_BINDINGS(view_commands) {
  TW_AddCommandRows(kViewOwnRows, int(sizeof(kViewOwnRows) / sizeof(kViewOwnRows[0])));
  bindView("CDrawView::OnZoomIn", &CDrawView::OnZoomIn);
  bindView("CDrawView::OnZoomOut", &CDrawView::OnZoomOut);
  bindView("CDrawView::OnZoom1x1", &CDrawView::OnZoom1x1);
  bindView("CDrawView::OnZoomByWindow", &CDrawView::OnZoomByWindow, &CDrawView::OnUpdateZoomByWindow);
  bindView("CDrawView::OnWindowLevelTool", &CDrawView::OnWindowLevelTool, &CDrawView::OnUpdateWindowLevelTool);
  bindView("CDrawView::OnDisplayRaster", &CDrawView::OnDisplayRaster, &CDrawView::OnUpdateDisplayRaster);
  bindView("CDrawView::OnDisplayVector", &CDrawView::OnDisplayVector, &CDrawView::OnUpdateDisplayVector);
  bindView("CDrawView::OnDisplayGrid", &CDrawView::OnDisplayGrid, &CDrawView::OnUpdateDisplayGrid);
  bindView("CDrawView::OnContoursOnly", &CDrawView::OnContoursOnly, &CDrawView::OnUpdateContoursOnly);
  bindView("CDrawView::OnEnumeratePolylines", &CDrawView::OnEnumeratePolylines, &CDrawView::OnUpdateEnumeratePolylines);
  bindView("CDrawView::OnResetProjection", &CDrawView::OnResetProjection);
  bindView("CDrawView::On3DProjectionSet", &CDrawView::On3DProjectionSet);
  bindView("CDrawView::OnNewView", &CDrawView::OnNewView);
  bindView("CDrawView::OnTileByAspect", &CDrawView::OnTileByAspect);
  bindView("CDrawView::OnNextLandmark", &CDrawView::OnNextLandmark);
  bindView("CDrawView::OnShowDocDisplayClock", &CDrawView::OnShowDocDisplayClock);
  bindView("CDrawView::OnResetDocDisplayClock", &CDrawView::OnResetDocDisplayClock);
  bindView("CDrawView::OnSelectAll", &CDrawView::OnSelectAll);
  bindView("CDrawView::OnEditClear", &CDrawView::OnEditClear);
  bindView("CDrawView::OnMoveToFront", &CDrawView::OnMoveToFront);
  bindView("CDrawView::OnMoveToBack", &CDrawView::OnMoveToBack);
  bindView("CDrawView::OnMoveForward", &CDrawView::OnMoveForward);
  bindView("CDrawView::OnMoveBackward", &CDrawView::OnMoveBackward);
  bindView("CDrawView::OnObjectLock", &CDrawView::OnObjectLock, &CDrawView::OnUpdateObjectLock);
  bindView("CDrawView::OnObjectPin", &CDrawView::OnObjectPin);
  bindView("CDrawView::OnContourFillProperties", &CDrawView::OnContourFillProperties);
  bindView("CDrawView::OnChooseSelectTool", &CDrawView::OnChooseSelectTool, &CDrawView::OnUpdateChooseSelectTool);
  bindView("CDrawView::CancelTool", &CDrawView::CancelTool);
  bindView("CDrawView::OnVectorRoiTool", &CDrawView::OnVectorRoiTool, &CDrawView::OnUpdateVectorRoiTool);
  bindView("CDrawView::OnEllipseTool", &CDrawView::OnEllipseTool);
  bindView("CDrawView::OnArcTool", &CDrawView::OnArcTool);
  bindView("CDrawView::OnInsertPolyline", &CDrawView::OnInsertPolyline, &CDrawView::OnUpdateInsertPolyline);
  bindView("CDrawView::OnFinishPolyline", &CDrawView::OnFinishPolyline);
  bindView("CDrawView::OnClosePolyline", &CDrawView::OnClosePolyline);
  bindView("CDrawView::OnRemoveLastNode", &CDrawView::OnRemoveLastNode);
  bindView("CDrawView::OnVolMagTrace", &CDrawView::OnVolMagTrace, &CDrawView::OnUpdateVolMagTrace);
  bindView("CDrawView::OnTrace_OverlayEdges", &CDrawView::OnTrace_OverlayEdges);
  TW_RegisterPreset("g_MagTraceParms", &g_MagTraceParms);
  TW_BindOperation("CDrawView::MagTrace_ResnapSelectedSpline", [](const TW_COMMAND_CALL& c) {
    if (c.view) c.view->MagTrace_ResnapSelectedSpline(c.Int(0));
  });
  // "Copy selected spline" passes the view; "Copy from adjacent Slice and Snap" the re-snap mode
  // that follows a successful copy.
  TW_BindOperation("CDrawView::CopyPolyContoursFromAdjacentSlice", [](const TW_COMMAND_CALL& c) {
    if (!c.view) return;
    const TW_COMMAND_ARG* mode = c.Arg(0);
    if (c.view->CopyPolyContoursFromAdjacentSlice() && mode && mode->kind == TW_COMMAND_ARG::Kind::Number)
      c.view->MagTrace_ResnapSelectedSpline(c.Int(0));
  });
  TW_BindOperation("CDrawView::MapFitMultiAgent", [](const TW_COMMAND_CALL& c) {
    if (c.view) c.view->MapFitMultiAgent();
  });
  TW_BindOperation("CDrawView::EditSplinePoint", [](const TW_COMMAND_CALL& c) {
    if (c.view) c.view->EditSplinePoint(c.Flag(1));
  });
  TW_BindOperation("CDrawView::VectorObjectsToRoi", [](const TW_COMMAND_CALL& c) {
    if (c.view) c.view->VectorObjectsToRoi(c.Int(0));
  });
  TW_BindOperation("CDrawView::MeasurePolylineLength", [](const TW_COMMAND_CALL& c) {
    if (c.view) c.view->MeasurePolylineLength();
  });
  TW_BindOperation("CDrawSet::VectRoiSave", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::files::VectRoiSave(*c.set);
  });
  TW_BindOperation("CDrawSet::VectRoiLoad", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::files::VectRoiLoad(*c.set, nullptr);
  });
  TW_BindOperation("CDrawSet::DeleteVectROIs", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::files::DeleteVectROIs(*c.set, c.Int(0), c.Flag(1));
  });
  TW_BindOperation("CDrawSet::ListAllVectorROIs", [](const TW_COMMAND_CALL& c) {
    if (c.set) twk::files::ListAllVectorROIs(*c.set);
  });
  // Runs on the vector ROI the view operates on (the selected one, else the only one).
  TW_BindOperation("CDrawSet::VectorRoi_2Dto3D", [](const TW_COMMAND_CALL& c) {
    if (!c.view) return;
    if (CDrawSet* roi = twk::ops::OperVectRoi(*c.view, true)) twk::files::VectorRoi_2Dto3D(*roi, c.view);
  });
  TW_BindOperation("CDrawSet::OptimalWindow", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->OptimalWindow(c.view, c.Int(1));
  });
  TW_BindOperation("TW_DlgUserOpt", [](const TW_COMMAND_CALL& c) { TW_DlgUserOpt(c.Flag(0)); });
}
