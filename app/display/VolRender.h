#pragma once
// The per-view render cache of a volume layer. Volume layers write their pixels straight into the
// paint target of the view they draw into (CDrawView::paintTarget), a 24-bit top-down bitmap.

#include <cstdint>

#include "DrawView.h"
#include "DrawVol.h"
#include "TwkTypes.h"
#include "VolProj.h"
#include "render/RectHelpers.h"

// Bytes per row of a 24-bit bitmap of the given width: ((width + 1) * 3) / 4 * 4.
inline int64_t TW_BitmapStride(int width) { return (int64_t(width) + 1) * 3 / 4 * 4; }

// One view's zoomed picture of a layer and the key it was made for.
class TW_RENDERCACHE : public CRenderCache {
 public:
  ~TW_RENDERCACHE() override;

  VA_VOLPROJ projection;             // copy of the view's record (its view is the key)
  int32_t roiColor = 0;
  DRECT layerRect;
  double visible[4] = {0, 0, 0, 0};
  int32_t width = 0, height = 0;
  RECT2D client;
  // Identity of the voxels the picture was made from: the frame and its voxel buffer.
  const FRAME* frame = nullptr;
  const uint8_t* frameData = nullptr;
  DIM3D frameDims;
  int32_t pixelType = 0;
  void* picture = nullptr;           // pf_malloc, width x height pixels
  int64_t pictureBytes = 0;          // size of the picture buffer
  double geometry[16] = {};
};

// Display counters of the document draw: draws counted in the active view and their summed time.
extern int32_t g_DocDisplayCount;
extern double g_DocDisplayClock;
