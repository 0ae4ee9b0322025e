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
struct VA_BODYFORG;
struct ROIPEELGROW;
struct VA_EW;
struct VA_ROT;
struct VOLROTATEPARM;
struct VA_BICALZF;

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
  bool AddLayerVol(bool askSpatial, const wchar_t* path, int percent, int scheme, int colour, const PR_VIEWFILT* filter,
                   bool showProgress);
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

  // --- ROI operations (app/operations/roi) ---
  // Each returns true on success. The static forms take a set that may be null ("Operand is not
  // present", or silence where the operation says so) and are what the command rows call.
  // In place (RoiOperations.cpp).
  bool RoiExtractMaxCC(CDrawView* view, bool twoD, bool bySeeds);
  static bool RoiExtractMaxCC(CDrawSet* set, CDrawView* view, bool twoD, bool bySeeds);
  bool RoiFillContours2D();
  static bool RoiFillContours2D(CDrawSet* set);
  bool RoiPeelGrow(bool showDialog, ROIPEELGROW* record);
  static bool RoiPeelGrow(CDrawSet* set, bool showDialog, ROIPEELGROW* record);
  bool RoiMakeConvex2D();
  static bool RoiMakeConvex2D(CDrawSet* set);
  bool RoiFillContoursArcMorph();
  static bool RoiFillContoursArcMorph(CDrawSet* set);
  bool RoiMorphConvex(bool fillFirst);
  static bool RoiMorphConvex(CDrawSet* set, bool fillFirst);
  bool RoiRemoveSaltPepper();
  static bool RoiRemoveSaltPepper(CDrawSet* set);
  bool RoiUnionCylinder2D();
  static bool RoiUnionCylinder2D(CDrawSet* set);
  bool RoiIntersectCylinder2D();
  static bool RoiIntersectCylinder2D(CDrawSet* set);
  // Derived layers (RoiDerived.cpp).
  bool RoiExtractHoles3D();
  static bool RoiExtractHoles3D(CDrawSet* set);
  bool RoiConvert3Dto4D(CDrawView* view);
  static bool RoiConvert3Dto4D(CDrawSet* set, CDrawView* view);
  bool RoiSkeleton(CDrawView* view, int mode);
  static bool RoiSkeleton(CDrawSet* set, CDrawView* view, int mode);
  // Signal layers with an ROI (RoiSignalOperations.cpp).
  bool BandOfAverageSignal();
  static bool BandOfAverageSignal(CDrawSet* set);
  bool LinearConversionOverROI();
  static bool LinearConversionOverROI(CDrawSet* set);
  bool NormalizeByROI(CDrawView* view);
  static bool NormalizeByROI(CDrawSet* set, CDrawView* view);
  bool VolumeClipByRoi();
  static bool VolumeClipByRoi(CDrawSet* set);
  bool InvertActiveLayer();
  static bool InvertActiveLayer(CDrawSet* set);
  bool NodVolume(bool basic);
  static bool NodVolume(CDrawSet* set, bool basic);
  // Label maps and components (LabelMapOperations.cpp).
  bool RoiSplitComponentsToLayers();
  static bool RoiSplitComponentsToLayers(CDrawSet* set);
  bool CreateLabelMapFromROIs();
  static bool CreateLabelMapFromROIs(CDrawSet* set);
  bool AverageRoiLayers();
  static bool AverageRoiLayers(CDrawSet* set);
  bool RoiOnionPeel(int* unused);
  static bool RoiOnionPeel(CDrawSet* set, int* unused);
  // Several layers (MultiLayerOperations.cpp).
  bool SharpenTemplateUsingAtlas(bool unused);
  static bool SharpenTemplateUsingAtlas(CDrawSet* set, bool unused);
  bool CombineProbMapsToAtlas(bool unused);
  static bool CombineProbMapsToAtlas(CDrawSet* set, bool unused);
  bool VolMultilayerPCA(bool unused);
  static bool VolMultilayerPCA(CDrawSet* set, bool unused);
  bool GenerateTwoLayerJointHist();
  static bool GenerateTwoLayerJointHist(CDrawSet* set);
  bool RoiUnclumpComponents(bool unused, int mode);
  static bool RoiUnclumpComponents(CDrawSet* set, bool unused, int mode);
  // Shapes (RoiShapeOperations.cpp).
  bool RoiClearSlicesZ0Z1(bool inside);
  static bool RoiClearSlicesZ0Z1(CDrawSet* set, bool inside);
  bool RoiPeelGrowExternal();
  static bool RoiPeelGrowExternal(CDrawSet* set);
  bool MultipleZonesConcentricObjects();
  static bool MultipleZonesConcentricObjects(CDrawSet* set);
  bool MorphologyCloseContours2D();
  static bool MorphologyCloseContours2D(CDrawSet* set);
  bool RoiOptimalZoom(CDrawView* view);
  static bool RoiOptimalZoom(CDrawSet* set, CDrawView* view);
  bool RoiEncloseCCByVectRois(CDrawView* view);
  static bool RoiEncloseCCByVectRois(CDrawSet* set, CDrawView* view);
  bool DetectBodyMask(bool unused, CDrawView* view, VA_BODYFORG* record);
  static bool DetectBodyMask(CDrawSet* set, bool unused, CDrawView* view, VA_BODYFORG* record);
  // Measurements (RoiMeasurements.cpp).
  bool RoiMassCenterDistance();
  static bool RoiMassCenterDistance(CDrawSet* set);
  bool MeasureDICE_SelectSlices(CDrawView* view);
  static bool MeasureDICE_SelectSlices(CDrawSet* set, CDrawView* view);
  bool RoiHausdorffDistance(bool edgeBased);
  static bool RoiHausdorffDistance(CDrawSet* set, bool edgeBased);
  bool RoiSurfaceWaveDistance(bool inside, bool outside);
  static bool RoiSurfaceWaveDistance(CDrawSet* set, bool inside, bool outside);
  // The operand split in two ROI layers "A" and "B" at a threshold picked on its histogram in the
  // ROI statistics dialog.
  bool RoiSplitUsingHist(CDrawView* view);
  static bool RoiSplitUsingHist(CDrawSet* set, CDrawView* view);
  // First-order statistics of the rings peeled from the ROI inwards: copied as a table and plotted.
  bool RoiRingProfiles();
  static bool RoiRingProfiles(CDrawSet* set);
  // ROI statistics, mode 1 (3D) or 2 (4D) (RoiStatisticsOperation.cpp).
  bool RoiStatistics(CDrawView* view, int mode, bool silent);
  static bool RoiStatistics(CDrawSet* set, CDrawView* view, int mode, bool silent);

  // --- segmentation (app/operations/seg) ---
  // EdgeWave of the active (marked) layer, or the first marked layer, at the view's time point from
  // the set's seed boxes; ask runs the parameter dialog first (silent: without showing it). The
  // result becomes a new layer (AddEdgeWaveMaskLayer). True when a layer was added, and when the
  // user declined to ignore the seeds.
  bool EdgeWave(bool ask, bool silent, CDrawView* view, VA_EW* record);
  static bool EdgeWave(CDrawSet* set, bool ask, bool silent, CDrawView* view, VA_EW* record);
  // The result frame (consumed) as a layer named "<title>_ewmask", or "_ewmask-<dimension>#<t>" for a
  // 4D operand: the ROI itself (binary), or the operand's time point t cleared outside it with the
  // operand layer's display window.
  bool AddEdgeWaveMaskLayer(bool binary, int t, CVol* operand, FRAME** result);
  // The marked ROI layers compete for their union ("Peel size (vox)"); each layer is rewritten in
  // place with an undo record of its own.
  bool EdgeWaveML(bool boundaryOnly);
  static bool EdgeWaveML(CDrawSet* set, bool boundaryOnly);
  // The N largest EdgeWave components of the operand ROI as layers "CC_0", "CC_1", ...
  bool EdgeWaveNLargest(CDrawView* view);
  static bool EdgeWaveNLargest(CDrawSet* set, CDrawView* view);
  // Thresholds of the signal operand into a new active ROI layer at the view's time point: a signal
  // interval (all time points on request), a signal-to-gradient ratio, a local Otsu threshold.
  bool ThesholdToROI(CDrawView* view);
  static bool ThesholdToROI(CDrawSet* set, CDrawView* view);
  bool ThesholdToROI_SignalToGradRatio(CDrawView* view);
  static bool ThesholdToROI_SignalToGradRatio(CDrawSet* set, CDrawView* view);
  bool LocalOtzuThresholdToROI(CDrawView* view);
  static bool LocalOtzuThresholdToROI(CDrawSet* set, CDrawView* view);
  // The operand's histogram inside the ROI split in two: "mask_lo_thr%d" (from the volume's
  // minimum up to the threshold) and "mask_hi_thr%d" (from the threshold up).
  bool ThresholdBimodalHistSplit(CDrawView* view);
  static bool ThresholdBimodalHistSplit(CDrawSet* set, CDrawView* view);
  // Dark (bright false) or bright spots of the 3D signal operand as a layer "spots".
  bool DetectSpots(bool bright);
  static bool DetectSpots(CDrawSet* set, bool bright);

  // --- geometry and dynamic-series operations (app/operations/geometry) ---
  // Geometry; rotations and resolution changes make new documents, mirroring works in place.
  bool CheckValidOrientation(bool showMessage);
  bool SetVolumeOrientation(CDrawView* view);
  bool RotateVolumeOrtho(bool askUser, VA_ROT* rotation, bool keepWorld);
  CDrawDoc* ChangeResolution();
  bool MirrorVolume(int axis);
  bool Rotate(bool ask, CDrawView* view, const VOLROTATEPARM* record, int code, const wchar_t* suffix, bool* rotated,
              bool flag);
  bool MakeIsotropic(CDrawView* view);
  bool PadVolume();
  bool CropByROI(CDrawView* view);
  bool SetImagePositionOrientation(bool silent);
  void DiscardAlignment();
  bool LoadLandmarkFile(CDrawView* view);
  // The marked layers moved in place along the selected guide polyline of the view: a two-point
  // vector, or a three-point sector turned about its middle point; one undo record per layer.
  bool TranslateUsingLineGuide(CDrawView* view);
  bool RotateUsingLineGuides(CDrawView* view);
  // Dynamic series (DynamicOperations.cpp).
  bool SUVmapCalculation();
  void DynSubtractionVolume();
  bool AggregateDynamicPoints(int type);
  bool Cross4DMutualInfoOverRoi(int measure);
  bool DynamicAccumulate(int mode, bool ask);
  bool Volume4DtoPCA(bool withoutPrompt);
  bool VolumeTimeToDepth();
  bool VolumeDepthToTime(CDrawView* view);
  bool CropEmptyAreas(CDrawView* view);
  // The sets of all open documents whose 4D layer has this set's dynamic axis (label, unit and
  // values equal); this set first. A pf_malloc array the caller frees.
  bool FindTimeSyncedSets(CDrawSet*** sets, int* count);
  bool Play4D(CDrawView* view);
  bool ExtrapolateMultiechoToTE0();
  bool RestoreIvimResidualMap();
  bool AdvanceToTimepointOfVroiPeak(CDrawView* view);
  bool Basic4Dgradient();
  bool ImageGradientAverageOverTime(CDrawView* view);
  bool BPEmapAnalysisAndReport(bool unused);
  bool AggregateGrad4D();

  // --- filters, smoothing, noise, denoising and bias fields (app/operations/filters) ---
  // The static forms take a set that may be null and are what the command rows call.
  bool SmoothVolume(bool withoutDialog);
  static bool SmoothVolume(CDrawSet* set, bool withoutDialog);
  bool SingleVolConstrainedSmooth();
  static bool SingleVolConstrainedSmooth(CDrawSet* set);
  bool ConstrainedSmooth(CDrawView* view);
  static bool ConstrainedSmooth(CDrawSet* set, CDrawView* view);
  bool RoiSmoothShape();
  static bool RoiSmoothShape(CDrawSet* set);
  // The noise of the operand at the view's time point by estimator algorithm, shown to the user.
  bool MeasureNoise(CDrawView* view, int algorithm);
  static bool MeasureNoise(CDrawSet* set, CDrawView* view, int algorithm);
  // Bias fields: N4 of the view's time point; N3 (with or without its dialog).
  bool N4BiasCorrection(CDrawView* view);
  static bool N4BiasCorrection(CDrawSet* set, CDrawView* view);
  bool VolProc_N3(CDrawView* view, bool withDialog);
  static bool VolProc_N3(CDrawSet* set, CDrawView* view, bool withDialog);
  bool Bical(int mode, VA_BICALZF* record);
  static bool Bical(CDrawSet* set, int mode, VA_BICALZF* record);
  // Denoising (each adds its result as the new active layer).
  bool NLMdenoising();
  static bool NLMdenoising(CDrawSet* set);
  bool TSMdenoising();
  static bool TSMdenoising(CDrawSet* set);
  bool STSMdenoising();
  static bool STSMdenoising(CDrawSet* set);
  bool ModelBasedTSMdenoising();
  static bool ModelBasedTSMdenoising(CDrawSet* set);
  bool ComplexTSMdenoising();
  static bool ComplexTSMdenoising(CDrawSet* set);
  bool Incoherence2Map();
  static bool Incoherence2Map(CDrawSet* set);
  bool RemoveSliceStreaks(CDrawView* view);
  static bool RemoveSliceStreaks(CDrawSet* set, CDrawView* view);
  // Features, radiomics and export.
  bool ProduceFeatureMap(int type, bool points);
  static bool ProduceFeatureMap(CDrawSet* set, int type, bool points);
  bool Radiomics2Dfeatures(bool silent, CDrawView* view, bool allRois);
  static bool Radiomics2Dfeatures(CDrawSet* set, bool silent, CDrawView* view, bool allRois);
  bool OutputParamMapNtupleFile();
  static bool OutputParamMapNtupleFile(CDrawSet* set);
  CDrawDoc* ProjectionSnapshot(CDrawView* view);
  static CDrawDoc* ProjectionSnapshot(CDrawSet* set, CDrawView* view);

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
  std::vector<std::unique_ptr<CDrawObj>> entries_;  // the set owns its entries
  std::vector<VA_VOLPROJ*> projections_;  // pf_malloc records, one per view
};

// The non-ROI 3D layers of the document's active set stacked by time into one 4D volume in a new
// document (app/operations/geometry).
CDrawDoc* TW_ConvertDocumentLayersTo4D(CDrawDoc* doc);

// Entry index % 20 of the ROI colour palette (COLORREF); curve windows colour curves with it.
COLORREF TW_RoiPaletteColour(int index);

// --- the pending volume: at most one CVol waiting to become a layer or a document ---
// Puts vol into the slot (a volume still there is deleted).
void TW_SetPendingVol(CVol* vol);
// Takes the volume out of the slot (null when empty).
CVol* TW_TakePendingVol();
CVol* TW_PeekPendingVol();
void TW_DeletePendingVol();

namespace twk {
// One hand-off through the pending slot: puts the volume in on construction and, at the end of the
// scope, deletes it when nothing took it out, so no path leaves it behind for a later load.
class PendingVolumeHandoff {
 public:
  explicit PendingVolumeHandoff(CVol* vol) : vol_(vol) { TW_SetPendingVol(vol); }
  ~PendingVolumeHandoff() {
    if (TW_PeekPendingVol() == vol_) TW_DeletePendingVol();
  }
  PendingVolumeHandoff(const PendingVolumeHandoff&) = delete;
  PendingVolumeHandoff& operator=(const PendingVolumeHandoff&) = delete;

 private:
  CVol* vol_;
};
}  // namespace twk

// Makes a new volume layer for a path (the pending volume when one is held); the layer is in no set.
CDrawVol* LoadVolFile(CDrawDoc* doc, const wchar_t* path, const PR_VIEWFILT* filter, bool showProgress);

// The modality picker the layer load uses for 4D volumes of unknown modality (the shell's
// TW_SpecifyModality); without one the modality stays unknown.
using TW_MODALITY_PROMPT = bool (*)(unsigned* modality);
void TW_SetModalityPrompt(TW_MODALITY_PROMPT prompt);
