// The command-table rows the view and its vector objects serve: rasterising vector objects, the
// polyline length, the vector-ROI commands of a set, the optimal window and the options dialog.

#include "CommandTable.h"
#include "DlgUserOpt.h"
#include "DrawSet.h"
#include "DrawView.h"

TW_COMMAND_BINDINGS(view_commands) {
  TW_BindOperation("CDrawView::VectorObjectsToRoi", [](const TW_COMMAND_CALL& c) {
    if (c.view) c.view->VectorObjectsToRoi(c.Int(0));
  });
  TW_BindOperation("CDrawView::MeasurePolylineLength", [](const TW_COMMAND_CALL& c) {
    if (c.view) c.view->MeasurePolylineLength();
  });
  TW_BindOperation("CDrawSet::VectRoiSave", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->VectRoiSave();
  });
  TW_BindOperation("CDrawSet::VectRoiLoad", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->VectRoiLoad(nullptr);
  });
  TW_BindOperation("CDrawSet::DeleteVectROIs", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->DeleteVectROIs(c.Int(0), c.Flag(1));
  });
  TW_BindOperation("CDrawSet::ListAllVectorROIs", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->ListAllVectorROIs();
  });
  // Runs on the vector ROI the view operates on (the selected one, else the only one).
  TW_BindOperation("CDrawSet::VectorRoi_2Dto3D", [](const TW_COMMAND_CALL& c) {
    if (!c.view) return;
    if (CDrawSet* roi = c.view->OperVectRoi(true)) roi->VectorRoi_2Dto3D(c.view);
  });
  TW_BindOperation("CDrawSet::OptimalWindow", [](const TW_COMMAND_CALL& c) {
    if (c.set) c.set->OptimalWindow(c.view, c.Int(1));
  });
  TW_BindOperation("TW_DlgUserOpt", [](const TW_COMMAND_CALL& c) { TW_DlgUserOpt(c.Flag(0)); });
}
