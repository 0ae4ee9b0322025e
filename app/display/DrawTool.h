#pragma once
// The mouse tools of the views. Each tool is a CDrawTool with an id; the tools are static objects
// made at start-up, each appending itself to the process-wide tool list. A view looks up the
// current tool id (g_CurrentTool, DrawShapes.h) in the list on every mouse message and calls the
// tool's operation; an id without a tool object gets nothing (id 10, the window/level drag, is the
// view's own). This file holds the selection tool (id 0), the zoom tool (id 1) and the rectangle
// tools (ids 2 vector-ROI box, 4 ellipse, 6 arc); the polyline and trace tools add themselves.

#include <vector>

#include "DrawView.h"
#include "render/RectHelpers.h"

class CDrawObj;

// The state the tools share (one for the process).
struct TW_TOOLSTATE {
  POINT2D down;            // client point of the last button press
  POINT2D last;            // client point of the last mouse move seen by a tool
  int handle = -1;         // control point being dragged: -1 none, 0 the whole object, n > 0 point n
  int selectMode = 0;      // 0 none, 1 rubber band, 2 with Shift, 3 with Ctrl, 4 move (right button), 5 point
  bool creating = false;   // a rectangle-tool object is being sized
  bool zoomDragging = false;
  double zoomAspect = 1.0; // client height / client width at the zoom press
  unsigned vroiCounter = 0;  // numbers the vector-ROI names "vroi_%u"
};
extern TW_TOOLSTATE g_ToolState;

// The trace smoothing that the wheel changes while the trace tool is current (0 .. 32).
extern double g_MagTraceSmoothing;

class CDrawTool {
 public:
  // Appends the tool to the tool list.
  explicit CDrawTool(int id);
  virtual ~CDrawTool();
  CDrawTool(const CDrawTool&) = delete;
  CDrawTool& operator=(const CDrawTool&) = delete;

  // The first tool of the list with that id, or null.
  static CDrawTool* FindTool(int id);
  static const std::vector<CDrawTool*>& Tools();

  virtual void OnLButtonDown(CDrawView* view, unsigned flags, POINT2D point);
  virtual void OnLButtonDblClk(CDrawView* view, unsigned flags, POINT2D point);
  virtual void OnLButtonUp(CDrawView* view, unsigned flags, POINT2D point);
  virtual void OnRButtonDown(CDrawView* view, unsigned flags, POINT2D point);
  virtual void OnRButtonUp(CDrawView* view, unsigned flags, POINT2D point);
  virtual void OnEditProperties(CDrawView* view);
  virtual void OnMouseMove(CDrawView* view, unsigned flags, POINT2D point);
  // Esc (and the other cancels); toolId is the tool current when it came.
  virtual void OnCancel(CDrawView* view, int toolId);
  virtual void OnSpaceAction(CDrawView* view);

  const int id;
};

class CSelectTool : public CDrawTool {
 public:
  CSelectTool() : CDrawTool(0) {}
  void OnLButtonDown(CDrawView* view, unsigned flags, POINT2D point) override;
  void OnLButtonDblClk(CDrawView* view, unsigned flags, POINT2D point) override;
  void OnLButtonUp(CDrawView* view, unsigned flags, POINT2D point) override;
  void OnRButtonDown(CDrawView* view, unsigned flags, POINT2D point) override;
  void OnRButtonUp(CDrawView* view, unsigned flags, POINT2D point) override;
  void OnEditProperties(CDrawView* view) override;
  void OnMouseMove(CDrawView* view, unsigned flags, POINT2D point) override;
};

class CZoomTool : public CDrawTool {
 public:
  CZoomTool() : CDrawTool(1) {}
  void OnLButtonDown(CDrawView* view, unsigned flags, POINT2D point) override;
  void OnLButtonUp(CDrawView* view, unsigned flags, POINT2D point) override;
  void OnMouseMove(CDrawView* view, unsigned flags, POINT2D point) override;
};

class CRectTool : public CDrawTool {
 public:
  explicit CRectTool(int toolId) : CDrawTool(toolId) {}
  void OnLButtonDown(CDrawView* view, unsigned flags, POINT2D point) override;
  void OnLButtonDblClk(CDrawView* view, unsigned flags, POINT2D point) override;
  void OnLButtonUp(CDrawView* view, unsigned flags, POINT2D point) override;
  void OnMouseMove(CDrawView* view, unsigned flags, POINT2D point) override;
  void OnCancel(CDrawView* view, int toolId) override;
  void OnSpaceAction(CDrawView* view) override;

  CDrawObj* object = nullptr;  // the object being created, null when idle
};
