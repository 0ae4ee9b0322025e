#pragma once
// CDrawVol, a volume layer (object kind 9): owns one CVol and shows it through its display filter.
// Every layer carries a stable identity (LayerId) that no other layer of the process ever gets, so
// that undo records stay tied to the layer even when a frame is freed and another one later takes
// its address.
//
// Render caches belong to the display: it keeps one per view in caches (a CRenderCache subclass)
// and every operation that changes voxels in place drops them (FreeViewCaches).

#include <cstdint>
#include <memory>
#include <vector>

#include "DrawObj.h"
#include "RoiStatPreset.h"
#include "ViewFilt.h"

class CVol;
class QPainter;
struct VA_VOLPROJ;

// A per-view render cache of a layer; the display derives its cache records from it.
class CRenderCache {
 public:
  virtual ~CRenderCache() = default;
};

class CDrawVol : public CDrawObj {
 public:
  CDrawVol();
  // Frees the render caches, removes this layer's undo records from its document and deletes the
  // volume.
  ~CDrawVol() override;

  // Takes the volume (*vol is cleared). A filter whose width and level are both above 0 is taken
  // as it is; otherwise the window is computed at the time point of maximal signal (non-ROI 4D) or
  // at time point 0, and the invert flag, colour scheme and ROI colour are zeroed. False when the
  // window cannot be computed (the layer then holds the volume all the same).
  bool Init(CVol** vol, const PR_VIEWFILT* filter, bool show);
  // Replaces the volume by *vol (taken over; the old one is deleted). The layer's undo records
  // describe the old voxels and are removed first.
  void ReplaceVol(CVol** vol);

  CVol* GetVol() const { return vol; }
  uint64_t LayerId() const { return layerId_; }
  void FreeViewCaches();

  // --- drawing; defined by the display (app/display) ---
  // Draws the layer through the view's record into the paint target (VolRender.h).
  void Draw(VA_VOLPROJ* projection, QPainter* dc);
  // Position among the marked non-ROI layers of the active set, and their count.
  int InterlacePosition(int* count) const;
  bool IsCacheValid(CRenderCache* cache, const VA_VOLPROJ* projection, int32_t roiColor, const DRECT* layerRect);
  int64_t MemSize() const override;

  PR_VIEWFILT filter;
  std::vector<std::unique_ptr<CRenderCache>> caches;
  uint8_t displaySettings[128] = {};
  double zoomGeometry[16] = {};
  double unsetValues[3] = {1e60, 1e60, 1e60};
  int32_t reserved = 0;
  ROISTATPRESET roiStats;  // histogram settings of the ROI statistics over this ROI
  CVol* vol = nullptr;

 private:
  void purgeUndo();
  uint64_t layerId_;
};
