#pragma once
// "MagTrace Parameters" (CDlgMagPoly): the magnetic-trace tool's record (snap radius, spline
// tension, connect end to start, centered auto zoom, and its edge parameters through the
// multiscale texture-gradient dialog), and the application presets of the tool.

#include "trace/MagTrace.h"

class CDrawView;

// Modal on the record; true on OK. A null record writes the tool's defaults into g_MagTraceParms
// (true).
bool TW_DlgMagPoly(CDrawView* view, VA_MAGTRACE* record);
// The presets: 0 femur MR (0.24 x 0.24 mm), 1 hippocampus (1 x 1 mm); then the dialog on
// g_MagTraceParms. Another type: "Uknown MagTrace application type" and false.
bool TW_MagtracePresetParms(int type);
