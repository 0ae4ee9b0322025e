#pragma once
// CDrawObj, the base of every drawing object of a document: its world bounds, the marked flag (the
// Layers panel's check box: an unmarked volume layer is neither drawn nor an operand), opacity in
// percent, the owning document, the object kind and the drawing style. Layer sets (kind 8) and
// volume layers (kind 9) are drawing objects too; volume layers live inside sets, not in the
// document's object list.

#include <cstdint>
#include <cstdio>

#include "TwkTypes.h"
#include "render/RectHelpers.h"

class CDrawDoc;
class CDrawView;
class QPainter;
struct MFILE;

// Object kinds.
enum : int32_t {
  DRAWOBJ_NONE = 0,
  DRAWOBJ_RECT = 2,
  DRAWOBJ_ROUNDRECT = 3,
  DRAWOBJ_ELLIPSE = 4,
  DRAWOBJ_POLY = 5,
  DRAWOBJ_ARC = 6,
  DRAWOBJ_SET = 8,
  DRAWOBJ_VOL = 9,
};

#pragma pack(push, 1)
// Drawing style (36 bytes, stored whole in document files). Colours are COLORREF (0x00BBGGRR).
struct DRAWSTYLE {
  COLORREF fillColor = 0xFFFFFF;
  COLORREF lineColor = 0xFFFFFF;
  double lineWidth = 0.0;  // pixels for polylines, world units for arcs
  int32_t reserved0 = 0;
  int32_t filled = 0;
  int32_t outlined = 1;
  int32_t reserved1 = 0;
  int32_t reserved2 = 0;
};
#pragma pack(pop)
static_assert(sizeof(DRAWSTYLE) == 36, "DRAWSTYLE is 36 bytes");

class CDrawObj {
 public:
  CDrawObj() = default;
  virtual ~CDrawObj() = default;
  CDrawObj(const CDrawObj&) = delete;
  CDrawObj& operator=(const CDrawObj&) = delete;

  // Recomputes position from the object's own geometry.
  virtual void ComputeBounds() {}
  // Bytes of voxel and record memory the object holds (0 for vector objects).
  virtual int64_t MemSize() const { return 0; }
  // Sets the owning document; sets pass it on to their layers.
  virtual void SetDocument(CDrawDoc* doc) { document = doc; }

  // --- control points, hit tests, visibility and drawing; defined by the display (app/display) ---
  // The control points in a new pf_malloc array (null points: the count only).
  bool GetControlPoints(int* count, DPOINT** points) const;
  DPOINT GetControlPoint(int index) const;  // 1-based
  // Writes the control points back in GetControlPoints order; refused while highlight is not 0.
  bool SetControlSeq(CDrawView* view, const DPOINT* points);
  // Drag step of the tools: handle > 0 moves that control point to the client point, 0 moves the
  // whole object by the world difference of the two client points.
  void MoveControlPoint(CDrawView* view, int* handle, POINT2D previous, POINT2D point);
  bool Intersects(CDrawView* view, const RECT2D& client);
  // -1 miss, 0 the body, n > 0 the 1-based control point under the client point.
  int HitTest(POINT2D point, CDrawView* view, bool handles);
  bool IsVisibleInView(const CDrawView* view) const;
  void GetWorldRect(DRECT* out);
  bool DisplayedBounds(const CDrawView* view, DRECT* out) const;
  // Draws the object by its kind (sets, rectangles, ellipses, arcs, polylines).
  void Draw(CDrawView* view, QPainter* dc, int dx, int dy);
  void DrawTracker(CDrawView* view, QPainter* dc);
  void Invalidate(bool redraw);
  // The object's properties: a polyline's dialog, the vector-ROI panel or the Layers panel.
  void OnEditProperties(CDrawView* view);

  // --- document file records; defined by the document file code (app/files) ---
  // Appends the object's record, chosen by its kind, to the memory file; false at the first write
  // that fails.
  bool Write(MFILE* mf);
  // Reads the 78-byte base record (marked flag, opacity, world rectangle, style, highlight code)
  // into the object; false on a short read.
  bool Read(FILE* fp);

  CDrawDoc* GetDocument() const { return document; }
  int Kind() const { return kind; }
  bool IsMarked() const { return marked != 0; }
  void SetMarked(bool on) { marked = on ? 1 : 0; }

  DRECT position;              // world bounds
  uint8_t marked = 1;
  int32_t opacity = 100;       // percent
  CDrawDoc* document = nullptr;
  int32_t kind = DRAWOBJ_NONE;
  DRAWSTYLE style;
  int32_t highlight = 0;       // 1 a layer set, 2 a volume layer made from a file; 0 vector objects
  int32_t lockState = 0;       // 0 free, 1 pinned, 2 locked (the view's Lock and Pin commands; not stored)
};
