#pragma once
// The picture of one view on one volume layer: the slice (or slab projection, or film of slices)
// that a view's projection record selects, resampled to the view's client pixels.
//
// Placement: the layer's world rectangle holds the displayed picture as VA_VolDisplayActualWorldRect
// places it; client pixel (px, py) is the world point at its centre, (x0 + (px + 0.5)/s,
// y1 - (py + 0.5)/s), of the visible world rectangle {x0, y0, x1, y1} at s pixels per world unit
// (s = (width - 1)/(x1 - x0), or from the heights when the width is one pixel).
//
// Sampling: the record's mode 1 interpolates (bilinear in the plane, trilinear on oblique planes;
// a void neighbour falls back to the nearest voxel), mode 0 takes the nearest voxel. Projection
// types 1, 2 and 3 take the maximum, minimum and mean over a slab of round(thickness / slice spacing)
// slices (at least one) centred on the record's slice (a thickness of 0: all slices); void voxels are left out. Other
// types show the plain slice. The record's time index is limited to the frame's time points.

#include <cstdint>

#include "ColorSchemes.h"
#include "RectHelpers.h"
#include "TwkTypes.h"
#include "VolProj.h"

// Entries of the 16 geometry doubles that VA_PictureZoom returns.
enum : int {
  VA_ZOOMGEO_X0 = 0,          // displayed world rectangle x0, y0, x1, y1 (indices 0..3)
  VA_ZOOMGEO_WIDTH = 4,       // projected width, height, depth in voxels (4..6)
  VA_ZOOMGEO_COLS = 7,        // film columns and rows (7, 8)
  VA_ZOOMGEO_SCALE = 9,       // client pixels per projected voxel in x and y (9, 10)
  VA_ZOOMGEO_SPACING = 11,    // projected spacing x, y in millimetres (11, 12)
  VA_ZOOMGEO_SLICE = 13,      // slice and time index drawn (13, 14)
  VA_ZOOMGEO_PIXELTYPE = 15,  // the pixel type returned
};

// Zooms the record's view of a frame onto width x height client pixels. ROI frames give colour
// labels in roiColor (a COLORREF, 0x00BBGGRR, written as 0x00RRGGBB; outside transparent), integer
// frames 32-bit grey values, real frames doubles (see ColorSchemes.h for the pixel types). spc null
// means 1 mm voxels; proj null a native plain slice 0 with interpolation. *picture receives a new
// pf_malloc buffer of width x height pixels that the caller frees with pf_free; geometry (may be
// null) the 16 values above. Returns the pixel type, or 0 (nothing allocated) for bad arguments.
int VA_PictureZoom(const FRAME* frame, uint32_t roiColor, const DRECT* layerRect, const SPC* spc, const VA_VOLPROJ* proj,
                   const double visibleWorld[4], int width, int height, const RECT2D* client, void** picture,
                   double geometry[16]);

// Bytes of the picture that VA_PictureZoom makes of a frame at width x height pixels (0 for a frame
// of invalid kind).
int64_t VA_PictureZoomBytes(const FRAME* frame, int width, int height);
// VA_PictureZoom into a caller buffer of at least VA_PictureZoomBytes bytes, so that a repaint can
// reuse the buffer of an outdated picture. Returns the pixel type, 0 for bad arguments.
int VA_PictureZoomInto(const FRAME* frame, uint32_t roiColor, const DRECT* layerRect, const SPC* spc,
                       const VA_VOLPROJ* proj, const double visibleWorld[4], int width, int height, void* buffer,
                       int64_t bufferBytes, double geometry[16]);
