#include "RasterPaintbrush.h"

#include "BrushParms.h"
#include "CommandTable.h"
#include "ParameterDialog.h"

TW_DIALOG TW_RastPaintbrushDialog(BRUSHPARMS* brush) {
  TW_DIALOG d(L"Raster Paintbrush", L"CDlgRastPaintbrush");
  d.Real(L"Paint Signal", &brush->paintSignal, 0, 1.6e7);
  d.Real(L"Erase Signal", &brush->eraseSignal, 0, 1.6e7);
  d.Real(L"Radius (vox)", &brush->radius, 0, 256);
  d.Choice(L"Shape", &brush->shape, {L"Circle", L"Sphere", L"Cylinder"});
  d.Flag(L"ROIs", &brush->onRois);
  d.Flag(L"Integer volumes", &brush->onIntegerVolumes);
  d.Flag(L"Real volumes", &brush->onRealVolumes);
  d.Flag(L"Modify all timepoints", &brush->allTimepoints);
  d.Flag(L"Center Zoom on Mouse", &brush->centerZoomOnMouse);
  return d;
}

bool TW_DlgRastPaintbrush() { return TW_RunDialog(TW_RastPaintbrushDialog(&g_BrushParms)); }

TW_COMMAND_BINDINGS(dialogs) {
  // "Voxel Paintbrush settings": the dialog's answer is not used.
  TW_BindOperation("CDlgRastPaintbrush", [](const TW_COMMAND_CALL&) { TW_DlgRastPaintbrush(); });
}
