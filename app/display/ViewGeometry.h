#pragma once
// What the view keys and navigation hand on to other parts of the program (statistics, contour
// filling, the View Filter and projection dialogs, the vector-ROI panel, the mouse tools, the voxel
// information display and the view's window), as replaceable callbacks. Unset callbacks do nothing.
// The geometry itself is CDrawView's (DrawView.h), defined in ViewGeometry.cpp.

#include <functional>

#include "render/RectHelpers.h"

class CDrawDoc;
class CDrawSet;
class CDrawView;

// Virtual-key codes of the view keys.
enum : int {
  TW_VK_BACK = 8, TW_VK_ESCAPE = 27, TW_VK_SPACE = 32, TW_VK_PRIOR = 33, TW_VK_NEXT = 34,
  TW_VK_LEFT = 37, TW_VK_UP = 38, TW_VK_RIGHT = 39, TW_VK_DOWN = 40,
  TW_VK_F3 = 114, TW_VK_F4 = 115, TW_VK_F5 = 116, TW_VK_F7 = 118, TW_VK_F8 = 119, TW_VK_F9 = 120,
  TW_VK_F11 = 122, TW_VK_F12 = 123, TW_VK_OEM_PLUS = 187, TW_VK_OEM_MINUS = 189,
};

struct TW_VIEW_HOOKS {
  std::function<void(CDrawSet* set, CDrawView* view, int operandMode)> roiStatistics;  // F3, F4
  std::function<void(CDrawSet* set, CDrawView* view)> fillContours2D;                // F7
  std::function<void(CDrawSet* set, CDrawView* view)> viewFilter;                    // F8
  std::function<void(CDrawView* view)> projectionDialog;                             // F9, F12
  std::function<void(CDrawView* view)> nextVectorRoi;                                // F11
  std::function<void(CDrawView* view)> cancelTool;                                   // Esc
  std::function<void(CDrawView* view)> toolSpaceAction;                              // Space key
  std::function<void(CDrawView* view)> maximizeFrame;                                // Space character
  std::function<void(CDrawView* view)> centerOnCursor;
  std::function<void(CDrawView* view)> activateView;                                 // OnActivateView(true)
  std::function<void(CDrawView* view, CDrawSet* set)> refreshVoxelInfo;
  // Windows of views (the shell's): a new window of the document at the rectangle (main-frame
  // client coordinates; null: the shell's choice) with its view after the initial update, or null;
  std::function<CDrawView*(CDrawDoc* doc, const RECT2D* frameRect)> createView;
  // the view's window rectangle in main-frame client coordinates clipped to the client area;
  std::function<bool(CDrawView* view, RECT2D* rect)> frameRect;
  // the view's window fitted into the main frame (TW_ShowChildFrameFitted);
  std::function<void(CDrawView* view)> showFitted;
  // all windows tiled by the shape of the main frame's client area (CMainFrame::TileByAspect).
  std::function<void()> tileWindows;
};

TW_VIEW_HOOKS& TW_ViewHooks();

// True when the record shows the native plane (all three rotations below 1e-100 in magnitude).
struct VA_VOLPROJ;
bool TW_IsProjUnrotated(const VA_VOLPROJ* projection);
