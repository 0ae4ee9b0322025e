#pragma once
// What the view keys, navigation and input hand on to other parts of the program (statistics,
// contour filling, the View Filter and projection dialogs, the properties dialogs and panels, the
// curve panels, atlas names and the view's windows), as replaceable callbacks. Unset callbacks do
// nothing.
// The geometry itself is CDrawView's (DrawView.h), defined in ViewGeometry.cpp.

#include <functional>

#include "CString.h"
#include "TwkTypes.h"
#include "render/RectHelpers.h"

class CDrawDoc;
class CDrawObj;
class CDrawSet;
class CDrawView;
struct VA_VOLPROJ;

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
  // The "Specify Volume Projection" dialog on the view's record (F9, F12, "Set Projection for this View").
  std::function<void(CDrawView* view, VA_VOLPROJ* record)> projectionDialog;
  std::function<void(CDrawView* view)> activateView;                                 // OnActivateView(true)
  // The floating curve panels follow the voxel under the pointer (null: the pointer left the volume).
  std::function<void(CDrawView* view, CDrawSet* set, const RECT3D* voxel)> updateCurvePanels;
  // The CerebrA atlas region name of a label.
  std::function<CString(int label)> atlasRegionName;
  // The polyline properties dialog of a polyline, and the vector-ROI panel of a vector ROI (true
  // when another floating panel is open).
  std::function<void(CDrawView* view, CDrawObj* polyline)> polylineProperties;
  std::function<void(CDrawView* view, CDrawObj* vectorRoi, bool otherPanelOpen)> vectorRoiPanel;
  // The Layers panel of the view's document when neither it nor another floating panel is open.
  std::function<void(CDrawView* view)> layersPanel;
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
bool TW_IsProjUnrotated(const VA_VOLPROJ* projection);
