#pragma once
// BRUSHPARMS, the settings of the voxel paintbrush: the program's one record, read by the view's
// paintbrush and edited by the "Raster Paintbrush" dialog (TW_DlgRastPaintbrush). It holds its
// start values from program start and the last values accepted until the program exits. The
// record itself is the imaging core's, which paints with it.

#include "volops/Brush.h"

extern BRUSHPARMS g_BrushParms;
