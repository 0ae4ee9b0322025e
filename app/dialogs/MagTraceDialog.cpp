#include "MagTraceDialog.h"

#include <cstdint>

#include "DocMessages.h"
#include "DrawTool.h"
#include "ParameterDialog.h"
#include "TextureEdgeDialog.h"

bool TW_DlgMagPoly(CDrawView*, VA_MAGTRACE* record) {
  if (!record) {
    g_MagTraceParms = VA_MAGTRACE{};
    return true;
  }
  // Aligned copies of the packed record's shown fields; the others pass through unchanged.
  double snap = record->snapRadius, tension = record->tension;
  uint8_t connect = record->connectEndToStart, zoom = record->centeredAutoZoom;
  VA_URALGRAD edge = record->edge;
  TW_DIALOG d(L"MagTrace Parameters", L"CDlgMagPoly");
  d.Real(L"Snap-to-Edge radius (vox):", &snap, 0, 100);
  d.Real(L"Spline tension [0,1]", &tension, 0, 1);
  d.Flag(L"Connect end to start", &connect);
  d.Flag(L"Centered auto zoom", &zoom);
  d.Button(L"Edge Parameters", [&edge](TW_DIALOG_VALUES&) {
    VA_URALGRAD edited = edge;
    if (TW_DlgMultiScaleTextureGrad(&edited)) edge = edited;
  });
  if (!TW_RunDialog(d)) return false;
  record->snapRadius = snap;
  record->tension = tension;
  record->connectEndToStart = connect;
  record->centeredAutoZoom = zoom;
  record->edge = edge;
  return true;
}

bool TW_MagtracePresetParms(int type) {
  if (type != 0 && type != 1) {
    twk::doc::message(L"TW_MagtracePresetParms", L"Uknown MagTrace application type");
    return false;
  }
  VA_MAGTRACE& r = g_MagTraceParms;
  r.tension = 0.5;
  r.connectEndToStart = 1;
  r.wholeSliceMaps = 0;
  r.centeredAutoZoom = 0;
  r.edge.metric = 1;
  r.edge.magnitude = 2;
  r.edge.normalization = 1.0;
  r.strength = 70.0;
  if (type == 0) {  // femur MR, 0.24 x 0.24 mm
    r.snapRadius = 10.0;
    r.edge.weights = 0;
    r.edge.lowRadius = r.edge.highRadius = 6.0;
  } else {  // hippocampus, 1 x 1 mm
    r.snapRadius = 8.0;
    r.edge.weights = 2;
    r.edge.lowRadius = r.edge.highRadius = 2.2;
  }
  return TW_DlgMagPoly(nullptr, &r);
}
