#pragma once
// What the views' mouse input shares beyond CDrawView's members (DrawView.h): the program's brush
// settings, the window/level drag's step rule and the voxel-information texts. No Qt here: the
// cursors are the window's (ViewCursors.h).

#include "CString.h"
#include "DrawView.h"
#include "BrushParms.h"
#include "TwkTypes.h"

class CDrawVol;

// The change of a window width or level for a drag of move pixels (right or down positive):
// |value| x 0.005 x move with the move's sign; an integer layer moves by that rounded to the
// nearest integer, at least 1 either way; a level of 0 steps by the width's measure instead.
double TW_WindowLevelStep(double value, double widthForZeroLevel, int move, bool integerLayer);
// One step of the window/level drag on the layer: dx changes the width, dy the level; only the
// larger move is used (dy when they are equal). The width stays above 0. False when nothing moved.
bool TW_WindowLevelDrag(CDrawVol* layer, int dx, int dy);

// The value text of the voxel information for a voxel kind: "VOID", "Real=%i (%s)", "Real=%e (%s)",
// "ROI=ON"/"ROI=OFF", "SI=%u".
CString TW_VoxelValueText(int frameType, double value, const CString& secondText);
