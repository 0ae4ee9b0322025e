#pragma once
// The cursors a view window shows (Qt): the brush circle and the pixmap cursors of the tools.

#include <QCursor>

#include "DrawView.h"

// The brush cursor: a circle of pixel radius r (at least 1) on a transparent square, green while
// painting and red while erasing, with its hot spot in the middle.
QCursor TW_CreateBrushCursor(bool paint, int radius);
// The cursor of a kind: the arrow, the edit, zoom and window/level pixmaps, the move cursor, and the
// brush circle of the brush settings' radius, green when the last stroke painted.
QCursor TW_ViewCursor(TW_CURSOR kind, bool lastStrokePainted = true);
