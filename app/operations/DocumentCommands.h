#pragma once
// Commands of the view that act on documents, windows and the display rather than on voxels
// (DocumentCommands.cpp).

class CDrawView;

namespace twk::ops {

// "Close Document": the save question, then the document closes with its windows (the view
// with them).
void OnCloseDocument(CDrawView& view);
// Mode 0 closes every document, 1 the document's other views, 2 every other document.
void CloseOtherViews(CDrawView& view, int mode);
// Redraws the view's document the number of times asked and shows the time taken (view may be null).
void TestRedrawSpeed(CDrawView* view);
// "Display\Hide Curve Length" flips the program's curve-length display and redraws every view; its
// check mark (the same for every view, which may be null).
void OnCurveLength(CDrawView& view);
bool OnUpdateCurveLength(const CDrawView* view);

}  // namespace twk::ops
