#pragma once
// CDrawView as the document sees it: the interface the document and its layer sets use to refresh
// the views that show them. The display's view class derives from it and implements the redraw
// calls; tests use a counting fake. A view registers with its document (CDrawDoc::AddView) and
// leaves it when destroyed (CDrawDoc::RemoveView), which also drops its projection records.

#include <cstdint>

#include "TwkTypes.h"
#include "render/RectHelpers.h"

class CDrawDoc;
class CDrawSet;
class CVol;
struct VA_VOLPROJ;

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
  virtual ~CDrawView() = default;
  CDrawView(const CDrawView&) = delete;
  CDrawView& operator=(const CDrawView&) = delete;

  // Repaints the whole view now (invalidate, update and erase at once).
  virtual void RedrawNow() = 0;
  // Zooms so that all objects of the document are visible, then repaints.
  virtual void ZoomAll() = 0;
  // Marks the client area for a later repaint.
  virtual void InvalidateClient() {}

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

  // --- conventional planes; defined by the display (app/display/OrthogonalViews.cpp) ---
  // Turns the view's plane to the conventional view of that plane under "ProjViewConvention".
  void ApplyProjectionConvention();
  // "Display orthogonal projections": opens views of the conventional axial, coronal and sagittal
  // planes that no view of the document shows yet.
  void OnCreateOrthogonalViews();

  // --- command handlers of the view; defined by the command layer (app/operations) ---
  // "Close Document": the save question, then the document closes with its windows.
  void OnCloseDocument();
  // "Save Alignment (*.vtf)": the active layer's alignment transform into a transform file.
  void OnTransformSaveAlignmentVTF();
  // "Display\Hide Curve Length" flips the program's curve-length display; its check mark.
  void OnCurveLength();
  bool OnUpdateCurveLength() const;
  // Mode 0 closes every document, 1 the document's other views, 2 every other document.
  void CloseOtherViews(int mode);
  // Redraws the view's document the number of times asked and shows the time taken (view may be null).
  static void TestRedrawSpeed(CDrawView* view);
  // Crops the active set (allLayers) or its active layer to the box, or to the operated 4D vector
  // ROI when there is no box, into a new document named with the suffix ("_cropped" when none).
  CDrawDoc* VolumeCrop(bool allLayers, const RECT4D* box, const wchar_t* suffix, bool cloneFlag);
  // The 4D vector ROI to operate on: the selected one, or the only one; null after its message.
  CDrawSet* OperVectRoi(bool report);

  // Client size in pixels (kept by the window) and the view's display state.
  int clientWidth = 0, clientHeight = 0;
  double worldLeft = 0, worldTop = 0, scale = 1.0;
  uint8_t contoursOnly = 0, showRaster = 1, showVector = 1, enumerate = 0, showGrid = 0;
  double gridStep = 10.0;
  uint8_t paintMode = 0, eraseMode = 0;
  POINT2D lastButtonPoint;
  double brushAnchor[3] = {0, 0, 0};
  int32_t brushTime = 0;
  // The target of the document draw running into this view; empty (no bits) between draws.
  TW_PAINTTARGET paintTarget;

  CDrawDoc* GetDocument() const { return document_; }
  // The view's active flag: set while the view is the one the user works in.
  bool IsActive() const { return active_; }
  void SetActive(bool on) { active_ = on; }

 private:
  friend class CDrawDoc;
  CDrawDoc* document_ = nullptr;
  bool active_ = false;
};
