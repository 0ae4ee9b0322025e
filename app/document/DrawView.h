#pragma once
// CDrawView as the document sees it: the interface the document and its layer sets use to refresh
// the views that show them. The display's view class derives from it and implements the redraw
// calls; tests use a counting fake. A view registers with its document (CDrawDoc::AddView) and
// leaves it when destroyed (CDrawDoc::RemoveView), which also drops its projection records.

#include <cstdint>

#include "TwkTypes.h"
#include "render/RectHelpers.h"

class CDrawDoc;
class CDrawObj;
class CDrawSet;
class CVol;
struct VA_VOLPROJ;

// Modifier and button bits of the mouse messages.
enum : unsigned { TW_MK_LBUTTON = 1, TW_MK_RBUTTON = 2, TW_MK_SHIFT = 4, TW_MK_CONTROL = 8 };

// The cursors a view shows: the arrow, the edit cursor over control points and editable objects,
// the zoom cursor, the move cursor of a dragged selection, the window/level cursor and the brush
// circle (whose pixel radius and colour come with it).
enum class TW_CURSOR { Arrow, Edit, Zoom, Move, WindowLevel, Brush };

// The state of a command for its menu item and toolbar button.
struct TW_CMDUI {
  bool enabled = true;
  bool checked = false;
};

// Where a document draw into a view's bitmap writes: the pixel bits of the 24-bit top-down bitmap
// (blue, green, red bytes per pixel, rows of TW_BitmapStride bytes), its size in client pixels, the
// visible world rectangle and the client rectangle with inclusive edges. The document draw fills
// it before its objects draw and empties it when done; volume layers write straight into the bits.
struct TW_PAINTTARGET {
  uint8_t* bits = nullptr;
  int32_t width = 0, height = 0;  // client pixels
  DRECT visible;                  // visible world rectangle
  RECT2D client;                  // client rectangle, inclusive edges
};

class CDrawView {
 public:
  CDrawView() = default;
  virtual ~CDrawView() {
    if (captured_ == this) captured_ = nullptr;
  }
  CDrawView(const CDrawView&) = delete;
  CDrawView& operator=(const CDrawView&) = delete;

  // Repaints the whole view now (invalidate, update and erase at once).
  virtual void RedrawNow() = 0;
  // Zooms so that all objects of the document are visible, then repaints.
  virtual void ZoomAll() = 0;
  // Marks the client area for a later repaint.
  virtual void InvalidateClient() {}
  // Marks a part of the client area (client pixels, inclusive) for a later repaint.
  virtual void InvalidateRect(const RECT2D& rect) {
    (void)rect;
    InvalidateClient();
  }

  // --- geometry and navigation; defined by the display (app/display/ViewGeometry.cpp) ---
  // Client pixels (y downwards) and world coordinates (y upwards): x = px / scale + worldLeft,
  // y = worldTop - py / scale.
  DPOINT ClientToWorldPoint(POINT2D p) const;
  POINT2D WorldToClientPoint(DPOINT p, int dx = 0, int dy = 0) const;
  DRECT ClientToWorldRect(const RECT2D& r) const;
  RECT2D WorldToClientRect(const DRECT& r, int dx = 0, int dy = 0) const;
  DRECT GetVisibleWorldRect() const;
  void ZoomBy(double factor);
  void ZoomToWorldRect(const DRECT& r);
  void CenterOnWorldPoint(DPOINT p, bool redraw);
  // The world point under the mouse pointer becomes the centre, and the pointer moves onto it.
  void CenterOnCursor();
  // The zoom of ZoomAll: the union of the displayed bounds of the document's objects.
  void ZoomAllObjects();
  bool ScrollSlices(int key, int count);
  CDrawSet* GetActiveSet() const;
  VA_VOLPROJ* GetProjection() const;
  int CurrentTime() const;
  int CurrentDynInx() const;
  bool IsFilmView(int* slice) const;
  bool HasOriginalProjection() const;
  void OnResetProjection();
  bool ClientToVolume(CDrawSet* set, POINT2D p, DPOINT3D* volume, DPOINT3D* projection) const;
  bool WorldToVolume(CDrawSet* set, const DPOINT3D* projection, int tile, DPOINT* world) const;
  // The view keys: a virtual-key code with the Ctrl state; true when handled.
  bool OnViewKey(int key, bool ctrl);
  bool OnViewChar(int ch, bool ctrl);

  // --- mouse input; defined by the display (app/display/ViewInput.cpp) ---
  // Each takes the TW_MK_* bits of the message and the client point.
  void OnLButtonDown(unsigned flags, POINT2D point);
  void OnLButtonUp(unsigned flags, POINT2D point);
  void OnLButtonDblClk(unsigned flags, POINT2D point);
  void OnRButtonDown(unsigned flags, POINT2D point);
  void OnRButtonUp(unsigned flags, POINT2D point);
  void OnRButtonDblClk(unsigned flags, POINT2D point);
  void OnMouseMove(unsigned flags, POINT2D point);
  // delta > 0 a forward turn, < 0 a backward one; 0 is ignored.
  void OnMouseWheel(unsigned flags, int delta, POINT2D point);
  void OnSetFocus();
  // Esc, the cancel command and the zoom tool's right click: capture released, the tool's cancel,
  // the selection tool current, arrow cursor, all views redrawn.
  void CancelTool();
  // Space: capture released, the current tool's space action.
  void SpaceAction();

  // --- selection and objects (app/display/ViewInput.cpp) ---
  void Select(CDrawObj* obj);
  void SelectFirst(CDrawObj* obj);
  void ClearSelection();
  // The topmost object whose control-point hit test at the point is not negative.
  CDrawObj* HitObject(POINT2D point);
  // The topmost object whose body lies under the point (hit test without handles not -1).
  CDrawObj* ObjectAtPoint(POINT2D point);
  void InvalidateObject(CDrawObj* obj);
  // Inserts (true) or deletes a spline point under the mouse pointer; true when the polyline changed.
  bool EditSplinePoint(bool insert);
  // F11 and "Next Vector ROI (F11)": the next vector ROI of the active set becomes the only selection.
  void OnNextLandmark();

  // --- voxel information (app/display/VoxelInfo.cpp) and the ROI brush (app/display/RoiBrush.cpp) ---
  void DisplayVoxelInfo(CDrawSet* set, bool readValue);
  // Mode 0 paint, 1 erase, 2 change the radius by delta.
  bool RoiBrush(int mode, POINT2D point, int delta);
  bool UpdateBrushCursor(POINT2D point, bool paint, double radius);
  // True when the view's last brush stroke painted, false when it erased (the colour of the cursor
  // while the radius changes).
  bool lastStrokePainted = true;

  // --- vector objects into the ROI and polyline length (app/display/VectorRaster.cpp) ---
  // Mode 0 the selected vector ROIs and polylines, 1 every spline, 2 every plain polyline, 3 every
  // vector ROI of the active set; one undo record covers the command.
  bool VectorObjectsToRoi(int mode);
  // "Polyline length": the open and closed lengths in millimetres of the single selected polyline.
  void MeasurePolylineLength();

  // --- view commands (app/display/ViewCommands.cpp); each redraws the view ---
  void OnZoomIn();
  void OnZoomOut();
  void OnZoom1x1();
  void OnZoomByWindow();
  void OnWindowLevelTool();
  void OnDisplayRaster();
  void OnDisplayVector();
  void OnDisplayGrid();
  void OnContoursOnly();
  void OnEnumeratePolylines();
  void OnNewView();
  void On3DProjectionSet();
  void OnChooseSelectTool();
  void OnVectorRoiTool();
  void OnEllipseTool();
  void OnArcTool();
  void OnInsertPolyline();
  void OnVolMagTrace();
  void OnSelectAll();
  void OnEditClear();
  void OnMoveToFront();
  void OnMoveToBack();
  void OnMoveForward();
  void OnMoveBackward();
  void OnObjectLock();
  void OnObjectPin();
  void OnEditProperties();
  void OnContourFillProperties();
  void OnShowDocDisplayClock();
  void OnResetDocDisplayClock();
  void OnOptimalWindow(int mode);
  void OnTileByAspect();
  // The polyline being drawn (app/display/PolyTools.cpp): finish (Tab), remove its last node, close it.
  void OnFinishPolyline();
  void OnRemoveLastNode();
  void OnClosePolyline();
  // Trace commands (app/display/PolyTools.cpp): re-snap the selected single-contour polylines onto
  // edges (mode 0 any direction, 1 along the normal); copy the selected polyline onto the shown
  // slice; the shown slice's edge map as a new layer "edge slice=%u".
  bool MagTrace_ResnapSelectedSpline(int mode);
  bool CopyPolyContoursFromAdjacentSlice();
  void OnTrace_OverlayEdges();
  // MapFit: the document's only polyline carried over a slice range by the multi-agent evolution
  // (its dialog, then the range "Specify [Z0,Z1]"); one new polyline per slice.
  bool MapFitMultiAgent();
  // Update rules of the commands that have one.
  void OnUpdateZoomByWindow(TW_CMDUI* ui) const;
  void OnUpdateWindowLevelTool(TW_CMDUI* ui) const;
  void OnUpdateDisplayRaster(TW_CMDUI* ui) const;
  void OnUpdateDisplayVector(TW_CMDUI* ui) const;
  void OnUpdateDisplayGrid(TW_CMDUI* ui) const;
  void OnUpdateContoursOnly(TW_CMDUI* ui) const;
  void OnUpdateEnumeratePolylines(TW_CMDUI* ui) const;
  void OnUpdateChooseSelectTool(TW_CMDUI* ui) const;
  void OnUpdateVectorRoiTool(TW_CMDUI* ui) const;
  void OnUpdateInsertPolyline(TW_CMDUI* ui) const;
  void OnUpdateVolMagTrace(TW_CMDUI* ui) const;
  void OnUpdateObjectLock(TW_CMDUI* ui) const;
  void OnUpdateNeedsSelection(TW_CMDUI* ui) const;

  // --- window services of the input; the view's window implements them ---
  virtual void SetViewCursor(TW_CURSOR cursor, int brushRadius = 0, bool paint = true) {
    (void)cursor, (void)brushRadius, (void)paint;
  }
  // The rubber band over the picture (client rectangle, normalised); null removes it.
  virtual void SetFocusRect(const RECT2D* rect) { (void)rect; }
  // The mouse pointer in client coordinates (by default where the last mouse message found it);
  // false when it cannot be read.
  virtual bool GetCursorClientPos(POINT2D* point) const {
    if (!cursorKnown_ || !point) return false;
    *point = cursorPoint_;
    return true;
  }
  // Moves the mouse pointer onto a client point.
  virtual void SetCursorClientPos(POINT2D point) { NoteCursor(point); }
  // Records where a mouse message found the pointer.
  void NoteCursor(POINT2D point) {
    cursorPoint_ = point;
    cursorKnown_ = true;
  }
  // Maximises the view's window (the Space character).
  virtual void MaximizeFrame() {}
  // The mouse capture: one view of the process at most holds it; the view's window keeps tracking
  // the mouse while it does.
  void SetCapture() { captured_ = this; }
  void ReleaseCapture() {
    if (captured_ == this) captured_ = nullptr;
  }
  bool HasCapture() const { return captured_ == this; }
  static CDrawView* GetCapture() { return captured_; }

  // --- conventional planes; defined by the display (app/display/OrthogonalViews.cpp) ---
  // Turns the view's plane to the conventional view of that plane under "ProjViewConvention".
  void ApplyProjectionConvention();
  // "Display orthogonal projections": opens views of the conventional axial, coronal and sagittal
  // planes that no view of the document shows yet.
  void OnCreateOrthogonalViews();

  // Client size in pixels (kept by the window) and the view's display state.
  int clientWidth = 0, clientHeight = 0;
  double worldLeft = 0, worldTop = 0, scale = 1.0;
  uint8_t contoursOnly = 0, showRaster = 1, showVector = 1, enumerate = 0, showGrid = 0;
  double gridStep = 10.0;
  uint8_t paintMode = 0, eraseMode = 0;
  POINT2D lastButtonPoint;
  // The brush stroke anchor: the previous brush position in volume voxel coordinates and its time
  // index; a time index of -1 marks that the next brush call starts a stroke.
  double brushAnchor[3] = {0, 0, 0};
  int32_t brushTime = -1;
  // The target of the document draw running into this view; empty (no bits) between draws.
  TW_PAINTTARGET paintTarget;

  CDrawDoc* GetDocument() const { return document_; }
  // The view's active flag: set while the view is the one the user works in.
  bool IsActive() const { return active_; }
  void SetActive(bool on) { active_ = on; }

 protected:
  // The last client point a mouse message brought (the pointer as the view last saw it).
  POINT2D cursorPoint_;
  bool cursorKnown_ = false;

 private:
  friend class CDrawDoc;
  CDrawDoc* document_ = nullptr;
  bool active_ = false;
  inline static CDrawView* captured_ = nullptr;
};
