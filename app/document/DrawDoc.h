#pragma once
// CDrawDoc, the program's document: an ordered list of drawing objects (layer sets and the vector
// objects drawn over them; first drawn first), the selection, the background colour, the stored
// view projection of a document file, the views that show it and the undo history of in-place
// voxel changes.
//
// Open documents register themselves on construction and leave on destruction; the TW_ helpers
// below search them in the order they were opened. The active layer set of a document is the first
// volume set of its object list.
//
// Undo: a linear history of UNDOREC records with a current position. Entries [0, current) can be
// undone (the one at current - 1 first), entries [current, count) redone. A push drops the redo
// tail. The capacity grows by 100 entries. Records are tied to their layer by its stable identity.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "CString.h"
#include "TwkTypes.h"
#include "UndoRec.h"
#include "VolProj.h"
#include "render/RectHelpers.h"

class CDrawObj;
class CDrawSet;
class CDrawVol;
class CDrawView;
class CVol;
class QPainter;
struct MFILE;

// The cursor position that the voxel information display records and the crosshair shows.
struct TW_LINKEDCURSOR {
  DPOINT3D volume;      // volume voxel coordinates
  int32_t time = 0;
  DPOINT3D projection;  // projection coordinates of the recording view
  int32_t slice = 0;
};

class CDrawDoc {
 public:
  CDrawDoc();
  // Deletes every object, frees the stored projection and every undo record.
  virtual ~CDrawDoc();
  CDrawDoc(const CDrawDoc&) = delete;
  CDrawDoc& operator=(const CDrawDoc&) = delete;

  // --- framework state ---
  bool OnNewDocument() { return true; }
  // True when the document may close: unmodified, or the user said No, or Yes and the save worked.
  bool SaveModified();
  // The file the document came from or was last saved to: a document file, or the image it was
  // opened from (isDocument false). Only a document path may be written back without a dialog.
  const CString& GetPathName() const { return pathName_; }
  void SetPathName(const CString& path, bool isDocument = true) {
    pathName_ = path;
    documentPath_ = isDocument && !path.IsEmpty();
  }
  // True when the path name is a Tarnwick document this document was loaded from or saved as.
  bool HasDocumentPath() const { return documentPath_; }
  // The path name when it is a document path, else empty.
  CString GetDocumentPath() const { return documentPath_ ? pathName_ : CString(); }
  const CString& GetTitle() const { return title_; }
  void SetTitle(const CString& title) { title_ = title; }
  bool IsModified() const { return modified_; }
  void SetModifiedFlag(bool modified = true) { modified_ = modified; }

  // --- objects ---
  // Appends *obj, computes its bounds and makes this its document; clears *obj when take is set.
  bool AddObject(CDrawObj** obj, bool take);
  // Removes the object from the selection and the object list (it is not deleted).
  void RemoveObject(CDrawObj* obj);
  // The polyline objects (kind 5) in list order; a pf_malloc array the caller frees.
  CDrawObj** GetObjectsArray(int* count) const;
  // Replaces the selection and updates the vector-ROI panel.
  void SetSelection(const std::vector<CDrawObj*>& objects);
  // The selection follow-up of the vector-ROI panel: bound to the single selected vector ROI, else to none.
  void UpdateVectorRoiPanel();
  // The panel's fields recomputed from its bound record while that record changes under a drag.
  void RefreshVectorRoiPanel();

  CDrawSet* GetActiveSet() const;
  CVol* GetActiveVol() const;
  CDrawVol* GetBaseLayer() const;
  bool CheckVolumetricType(int modality, bool want3D, bool want4D) const;

  // Rebuilds the per-slice rectangles of the marked vector ROIs on the slices the view shows (defined
  // by the display, app/display/VectorProjection.cpp); false without a view or its record.
  bool ProjectHighObjects(CDrawView* view);

  // --- views ---
  void AddView(CDrawView* view);
  // Also removes the view's projection records from every set.
  void RemoveView(CDrawView* view);
  const std::vector<CDrawView*>& Views() const { return views_; }
  // Every view in a pf_malloc array the caller frees; null and count 0 without views.
  CDrawView** GetViews(int* count) const;
  CDrawView* GetActiveOrFirstView() const;
  CDrawView* GetActiveView(bool report) const;
  CDrawView* GetActiveOrSingleView() const;
  bool HasActiveView() const;
  // Repaints every view, the (last) active one once more at the end; refreshPanel also refills the
  // Layers panel when it shows the active set. A null document does nothing.
  static void RedrawAllViews(CDrawDoc* doc, bool refreshPanel);
  void RedrawAllViews(bool refreshPanel) { RedrawAllViews(this, refreshPanel); }

  // --- undo ---
  bool PushUndo(UNDOREC** record);
  // Records the layer's present voxels (only the 4D box when given) and display filter.
  void PushUndoForLayer(CDrawVol* layer, const RECT4D* box = nullptr);
  // Removes every frame-change record of the frame (records of layers known to be destroyed).
  bool PurgeUndoForFrame(const FRAME* frame);
  // Removes every frame-change record of the layer identity.
  bool PurgeUndoForLayer(uint64_t layerId, const FRAME* frame);
  bool CanUndo() const;
  bool CanRedo() const;
  // The Undo and Redo commands; false when nothing was done or the step failed.
  bool Undo();
  bool Redo();
  int UndoCount() const { return int(undo_.size()); }
  int UndoCurrent() const { return undoCurrent_; }
  int UndoCapacity() const { return undoCapacity_; }
  const UNDOREC* UndoRecord(int i) const { return i >= 0 && i < UndoCount() ? undo_[size_t(i)].get() : nullptr; }

  // --- document file; defined by the document file code (app/files/DocumentFile.h) ---
  // Fills the new document from a path: a ".twk" file through the document reader, any other path
  // as an image in a new layer set, its format decided once at the door; showProgress goes on to
  // the document reader and the layer load.
  bool OnOpenDocument(const wchar_t* path, bool showProgress = false);
  // Fills the new document with a volume in a new layer set (*vol is taken; deleted on failure).
  bool OnOpenVolume(CVol** vol, bool showProgress = false);
  // The whole document as a ".twk" file in a new memory file (the caller closes it); null on failure.
  MFILE* WriteToMemFile(CDrawView* view, bool showProgress);
  // Reads a ".twk" file of any supported version into this empty document.
  bool Load(const wchar_t* path, bool showProgress);
  // Writes the document to path (or the chosen or own path name), verifies the written file and
  // only then replaces the target and clears the modified flag. cancelled (may be null) tells a
  // cancelled save-file dialog, which gives false without a message.
  bool Save(const wchar_t* path, CDrawView* view, bool askName, bool setPathName, bool showMessages,
            bool* cancelled = nullptr);

  // --- commands on the document; defined by the command layer (app/operations) ---
  // Removes every spline; "No splines were found" when there is none. True when any was removed.
  bool DeleteAllSplines();

  // --- further views; defined by the display (app/display/OrthogonalViews.cpp) ---
  // Opens a further view of the document in a new window placed at frameRect (main-frame client
  // coordinates; null: the shell's choice) whose record in the active set becomes a copy of
  // projection (the view field stays the new view's); the view is zoomed to fit and its window
  // fitted. Null when no window could be made.
  CDrawView* CreateNewProjectionView(const RECT2D* frameRect, const VA_VOLPROJ* projection);

  // --- drawing; defined by the display (app/display/DocDraw.cpp) ---
  // Draws the document into a view's 24-bit bitmap (bits, the painter's target) under the lock.
  void Draw(CDrawView* view, QPainter* dc, uint8_t* bits);
  bool DisplayCrosshair(CDrawView* view, QPainter* dc);
  void DrawGrid(CDrawView* view, QPainter* dc, double step);
  void SyncLinkedCursor(CDrawView* view);
  static bool DrawOrientationLetters(QPainter* dc, const VA_VOLPROJ* projection, CDrawSet* set, CVol* base,
                                     const RECT2D& client);
  TW_LINKEDCURSOR lastCursor;         // recorded by the voxel information display
  TW_LINKEDCURSOR linkedCursor;       // the copy the crosshair shows

  std::vector<CDrawObj*> objects;     // drawing order; owned
  std::vector<CDrawObj*> selection;   // not owned
  VA_VOLPROJ* storedProjection = nullptr;  // pf_malloc, from a document file
  COLORREF backgroundColor;
  uint8_t interactiveRedraw = 0;
  std::recursive_mutex lock;          // taken by the document draw
  int drawing = 0;

 private:
  bool removeUndoSlot(int index);
  // Deletes the records that drop selects (and empty slots), keeping the others in order.
  bool purgeUndoWhere(const std::function<bool(const UNDOREC&)>& drop);
  // The history owns its records; its size is the entry count. The capacity grows in steps of 100
  // entries, reserved ahead.
  std::vector<std::unique_ptr<UNDOREC>> undo_;
  int undoCapacity_ = 0;
  int undoCurrent_ = 0;
  std::vector<CDrawView*> views_;
  CString pathName_;
  bool documentPath_ = false;
  CString title_;
  bool modified_ = false;
};

// --- open documents ---
// Every open document, in opening order (at most 2048); a pf_malloc array the caller frees.
CDrawDoc** TW_GetAllDocuments(int* count);
CDrawDoc* TW_FindDocumentByPath(const wchar_t* path);
CDrawDoc* TW_GetSingleVolumetricDoc();
CDrawDoc* TW_LocateAnotherVolumetricDoc(CDrawDoc* const* skip, int skipCount, int* count);
CDrawDoc* TW_GetSingleDoc(int modality, bool want3D, bool want4D);
void TW_CloseAllDocumentsBut(CDrawDoc* keep, bool ask);
// Whether two documents hold the same data: their active sets' layers (voxels) and the vector ROIs
// those sets own, or, when neither has a volume layer, the same objects. False when it cannot compare.
bool TW_DocumentsIdentical(CDrawDoc* a, CDrawDoc* b, bool* identical);
// The volume layer, among the active sets of all open documents, whose volume holds the frame.
CDrawVol* TW_FindDrawVolOfFrame(const FRAME* frame);
// The layer an undo record belongs to: its identity and its frame must both match.
CDrawVol* TW_FindDrawVolOfUndoRec(const UNDOREC* record);
