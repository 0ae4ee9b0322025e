#pragma once
// CDrawSet, a layer set (object kind 8): what the user sees as one image. An ordered array of
// volume layers (CDrawVol) with one active layer; the first layer is the base layer whose geometry
// every further layer matches. A set that holds a vector-ROI record (HIGHOBJ of kind 1) instead is a
// vector-ROI object; its entries are the per-slice rectangles of the last projection.
//
// The set keeps one projection record (VA_VOLPROJ) per view of its document, the display settings
// of the Layers panel (unmarked display, interlace) and offers the operand rule: the pickers that
// every processing command uses to choose its operand layers (WorkVol*).
//
// Messages go through twk::ui(); a message with a prefix reads "<prefix> : <text>".

#include <cstdint>
#include <memory>
#include <vector>

#include "CString.h"
#include "DrawObj.h"
#include "TwkTypes.h"
#include "ViewFilt.h"
#include "VolProj.h"

class CVol;
class CDrawVol;
struct HIGHOBJ;

// The ambiguity message of the operand rule.
extern const wchar_t* const TW_AMBIGUOUS_LAYERS;

class CDrawSet : public CDrawObj {
 public:
  explicit CDrawSet(CDrawDoc* doc = nullptr);
  // Frees the projection records, the vector-ROI record and every entry.
  ~CDrawSet() override;

  void SetDocument(CDrawDoc* doc) override;
  int64_t MemSize() const override;
  // A vector-ROI set takes the union of its entries' bounds; a volume set keeps its world rectangle
  // (its layers share it).
  void ComputeBounds() override;

  // --- kinds ---
  // Kind 8, no vector-ROI record of kind 1, non-empty, first entry a volume layer.
  bool IsVolumeSet() const;
  bool IsVectorRoi() const;

  // --- access (volume-layer indices) ---
  int NumEntries() const { return int(entries_.size()); }
  CDrawObj* GetEntry(int i) const { return i >= 0 && i < NumEntries() ? entries_[size_t(i)].get() : nullptr; }
  int NumLayers() const;
  CDrawVol* GetLayer(int i) const;
  CVol* GetLayerVol(int i) const;
  CVol* GetBaseVol() const;
  CDrawVol* GetBaseLayer() const;
  CDrawVol* GetLayerOfVol(const CVol* vol) const;
  bool IsLayerMarked(const CVol* vol) const;
  CDrawVol* SetLayerMarked(const CVol* vol, bool marked);
  int IndexOfVol(const CVol* vol) const;
  int IndexOfLayer(const CDrawObj* layer) const;
  CDrawVol* FindLayerByFrame(const FRAME* frame) const;
  int FindVolumeLayer(const wchar_t* name, bool matchCase) const;
  bool MaxT(int* maxT, int* index) const;
  bool HasLayer4D() const;
  int CountMarkedNonRoi() const;
  int CountMarkedRoi() const;
  // Marked volume layers, and marked region-of-interest layers among them (DrawSetMarks.cpp).
  int NumMarkedLayers() const;
  int NumMarkedRoiLayers() const;
  // The first two marked ROI layers' volumes in layer order when exactly two are marked; otherwise
  // "Two ROIs are required" and false.
  bool GetTwoMarkedROIs(CVol** first, CVol** second) const;
  // Compares the file titles (without extension, case-sensitive) of the volume layers - only the
  // marked ones with markedOnly - pairwise in layer order; the first name found twice goes to
  // duplicate and the result is false. True (duplicate emptied) when all differ.
  bool CheckUniqueLayerNames(bool markedOnly, CString* duplicate) const;

  // --- activation and order (array positions) ---
  int GetActive() const { return activeLayer; }
  CDrawVol* GetActiveLayer() const { return GetLayer(activeLayer); }
  CVol* GetActiveVol() const { return GetLayerVol(activeLayer); }
  bool SetActive(int i);
  bool SetActiveVol(const CVol* vol);
  bool SwapLayers(int i, int j);
  int SetActiveLayerLast();
  // Moves the layer before another one (null: to the end) and makes it active; false when the
  // layer is not in the set.
  bool MoveLayer(CDrawVol* layer, CDrawVol* before);

  // --- insertion and removal ---
  bool AppendLayer(CDrawObj* layer);
  bool RemoveLayer(int i, bool deleteObject);
  bool DeleteLayerVol(CVol** vol);
  bool AddLayer(CVol** vol, int percent, int scheme, int colour);
  // A volume layer read from a file (the format decided once at the door), or from a volume the
  // caller has made (*vol is taken, and deleted on failure), named by the title of layerName.
  bool AddLayerVol(bool askSpatial, const wchar_t* path, int percent, int scheme, int colour, const PR_VIEWFILT* filter,
                   bool showProgress);
  bool AddLayerVol(bool askSpatial, CVol** vol, const wchar_t* layerName, int percent, int scheme, int colour,
                   const PR_VIEWFILT* filter, bool showProgress);
  // The three reformat arguments (spacing, orientation, first image position; null keeps the
  // template's) are handed to the clone.
  bool AddResultLayer(bool askSpatial, bool showProgress, const wchar_t* name, CVol* templateVol, FRAME** result,
                      int percent, int scheme, int colour, const SPC* spacing = nullptr,
                      const double* orientation = nullptr, const DPOINT3D* position = nullptr,
                      const PR_VIEWFILT* filter = nullptr);
  bool AddResultLayerNewGeometry(CVol* source, bool showProgress, const wchar_t* name, FRAME** result, int percent,
                                 int scheme, int colour);
  bool NewRoiLayer(bool is4D);
  bool DeleteParamMapLayers();
  // The first palette colour no ROI layer uses, else a random bright, non-grey colour; 0 for a set
  // that is not a volume set.
  COLORREF NewRoiColor() const;

  // --- operand rule ---
  CVol* WorkVolSI();
  CVol* WorkVolNonRoi(bool* ambiguous = nullptr);
  CVol* WorkVolROI(int* count);
  CVol* WorkVolNonROI4D();
  CVol* WorkVolReal();
  CVol* WorkVolAny();
  CVol* WorkVolRoiFirstMarked();
  CVol* WorkVolPET4D();
  bool WorkVolNonROIandROI(bool require3D, bool require4D, bool roiRequired, CVol** volume, CVol** roi);
  bool WorkVolSIandROI(bool require3D, bool require4D, bool roiRequired, CVol** volume, CVol** roi);
  bool WorkVolNonROIandTwoROIs(CVol** volume, CVol** roi1, CVol** roi2);
  bool WorkVolROI_SingleOptional(CVol** roi);
  bool GetMarkedRoiLayers(bool want3D, bool want4D, CVol*** array, int* count);
  // The same pickers for a set that may be null (see each for what a null set gives).
  static CVol* WorkVolSI(CDrawSet* set);                     // null, no message
  static CVol* WorkVolNonRoi(CDrawSet* set, bool* ambiguous);  // null, no message
  static CVol* WorkVolROI(CDrawSet* set, int* count);        // "Volumetric Entity is required"
  static CVol* WorkVolNonROI4D(CDrawSet* set);               // null, no message
  static CVol* WorkVolReal(CDrawSet* set);                   // "Volumetric Entity is required"
  static CVol* WorkVolAny(CDrawSet* set);                    // null, no message
  static CVol* WorkVolRoiFirstMarked(CDrawSet* set);         // null, no message
  static CVol* WorkVolPET4D(CDrawSet* set);                  // "Volumetric Entity is required"
  static bool WorkVolROI_SingleOptional(CDrawSet* set, CVol** roi);  // "Operand is not present"

  // --- per-view projection records ---
  VA_VOLPROJ* FindViewProjection(const CDrawView* view) const;
  // Creates the view's record (slice at the base depth / 2, film view on unless single-slice);
  // nothing when the view has one already. False when the record cannot be made.
  bool AddViewProjection(CDrawView* view);
  void RemoveViewProjection(const CDrawView* view);
  const std::vector<VA_VOLPROJ*>& Projections() const { return projections_; }
  bool SetFilmView(VA_VOLPROJ* projection, bool on);
  // mask bit 1 time index, bit 2 slice, bit 4 film view (code 1 toggle, 2 on, 3 off).
  bool VolChangeSlice(CDrawView* view, int mask, int timeIndex, int slice, int filmCode);

  void FreeAllViewCaches();

  // --- view geometry and drawing; defined by the display (app/display) ---
  // World rectangle of a projection-space box in the view (film view: of the tile of that slice).
  bool VolBoxToWorldRect(const CDrawView* view, const DRECT3D* box, int tile, DRECT* out) const;
  // The inverse: time index, volume-space and projection-space boxes of a world rectangle.
  bool GetInVolCoords(const CDrawView* view, const DRECT* world, int* time, DRECT3D* volumeBox,
                      DRECT3D* projectionBox) const;
  bool ClientToVoxelCentre(const CDrawView* view, POINT2D point, double* x, double* y, double* z, int* time) const;
  // A vector ROI's rectangle (world x0, y0, x1, y1) moved or sized in the view: its box takes the
  // rectangle's in-plane bounds in the view's plane and keeps its extent along the view's axis.
  bool ModifyHighObjCrossectionXY(CDrawView* view, const double rect[4]);
  // One key step (37 Left, 38 Up, 39 Right, 40 Down) of the view's record.
  bool ScrollVolume(CDrawView* view, int key);
  void Draw(CDrawView* view, QPainter* dc, int dx, int dy);
  // The display window of the operand signal layer from its voxels at the view's time point:
  // mode 0 all values, 1 the percentile window, 2 all values inside the operand ROI.
  bool OptimalWindow(CDrawView* view, int mode);

  // --- protected health information ---
  // The records of this set's layers.
  bool ExtractPHIrecords(CString*** lines, int* count);
  // The records of every volume set of the set's document (the PHI a de-identification removes).
  bool ExtractDocumentPHIrecords(CString*** lines, int* count);
  // De-identifies every volume set of the document; with ask, the records are listed first and
  // Cancel keeps them (true). "No PHI is present" when there are none. A failure is named; false.
  bool Deidentify(bool ask);


  // Refills the Layers panel when it shows this set.
  void RefreshLayerPanel(bool redraw = true) const;

  CString name;
  HIGHOBJ* vroi = nullptr;        // vector-ROI record (pf_malloc), owned
  uint8_t displayUnmarked = 0;
  int32_t interlaceMode = 0;      // 0 none, 1 X, 2 Y, 3 XY
  int32_t interlaceCell = 1;      // pixels, 1..200
  int activeLayer = 0;

 private:
  bool guardVolumeSet(const wchar_t* prefix) const;
  // Puts a loaded layer (taken; null: the load failed) into the set after the dimension and spatial
  // checks; "Failed to add new layer" on failure.
  bool insertLoadedLayer(CDrawVol* layer, bool askSpatial, int percent, int scheme, int colour);
  std::vector<std::unique_ptr<CDrawObj>> entries_;  // the set owns its entries
  std::vector<VA_VOLPROJ*> projections_;  // pf_malloc records, one per view
};


// Entry index % 20 of the ROI colour palette (COLORREF); curve windows colour curves with it.
COLORREF TW_RoiPaletteColour(int index);

class VA_ImageReader;

// A new volume layer, in no set: from a path (classified here), from a file classified at the door
// (its header may have been read already), or around a volume (*vol is taken; deleted on failure)
// named by the title of name. A DICOM path is not read here (the DICOM loader reads series).
CDrawVol* LoadVolFile(CDrawDoc* doc, const wchar_t* path, const PR_VIEWFILT* filter, bool showProgress);
CDrawVol* LoadVolFile(CDrawDoc* doc, VA_ImageReader& file, const PR_VIEWFILT* filter, bool showProgress);
CDrawVol* LoadVolFile(CDrawDoc* doc, CVol** vol, const wchar_t* name, const PR_VIEWFILT* filter, bool showProgress);
