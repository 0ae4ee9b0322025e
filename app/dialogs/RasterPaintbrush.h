#pragma once
// The "Raster Paintbrush" dialog (CDlgRastPaintbrush): the settings of the voxel paintbrush,
// edited in the program's brush record (g_BrushParms, BrushParms.h). OK stores them; Cancel keeps
// the record as it was.

struct BRUSHPARMS;
struct TW_DIALOG;

// The dialog over a brush record.
TW_DIALOG TW_RastPaintbrushDialog(BRUSHPARMS* brush);
// Runs it modally on g_BrushParms; true on OK.
bool TW_DlgRastPaintbrush();
