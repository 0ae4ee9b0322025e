#pragma once
// The voxel brush of the views: the brush settings record (the "Raster Paintbrush" settings) and the
// painting of one brush segment into a frame.
//
// A segment runs from the previous brush position (the anchor) to the current one, both in volume
// voxel coordinates (continuous: voxel i covers [i, i + 1), its centre is i + 0.5). Every voxel whose
// centre lies within the brush of the segment is painted (ROI voxels set, integer and real voxels
// given the paint signal) or erased (ROI voxels cleared, the others given the erase signal):
//   - shape 0, circle: a disc in the view's plane: on the current point's slice, the voxel centres
//     whose in-plane distance to the segment, in voxels, is at most the radius;
//   - shape 1, sphere: a ball round in millimetres: the voxel centres whose distance to the segment
//     in millimetres is at most the radius in millimetres (the radius times the smaller in-plane
//     spacing of the view's plane);
//   - shape 2, cylinder: the disc of shape 0 on every slice whose centre lies within the radius in
//     millimetres of the segment along the plane's normal.
// One time point (the current point's; 3D frames have only 0) or all of them are changed. The undo
// record covers the segment's box grown by the brush (never the whole frame), and the work is
// proportional to that box. Planes must be quarter turns of the volume (any of the orthogonal views);
// oblique planes are refused.

#include <cstdint>

#include "TwkTypes.h"
#include "VolProj.h"

struct UNDOREC;

enum : int32_t { VA_BRUSH_CIRCLE = 0, VA_BRUSH_SPHERE = 1, VA_BRUSH_CYLINDER = 2 };

#pragma pack(push, 1)
// The brush settings, 48 bytes; one record for the whole program, edited in the "Raster Paintbrush"
// dialog and passed whole to the brush.
struct BRUSHPARMS {
  int32_t shape = VA_BRUSH_CIRCLE;  // "Circle", "Sphere", "Cylinder"
  double eraseSignal = 0.0;         // written into integer and real voxels by an erase
  double paintSignal = 255.0;       // written into integer and real voxels by a paint
  double radius = 2.0;              // "Radius (vox)"
  int32_t allTimepoints = 0;        // "Modify all timepoints"
  int32_t onIntegerVolumes = 0;         // "Paintbrush allowed on": "Integer volumes"
  int32_t onRois = 1;             // "ROIs"
  int32_t onRealVolumes = 0;            // "Real volumes"
  int32_t centerZoomOnMouse = 0;           // "Center Zoom on Mouse"
};
#pragma pack(pop)
static_assert(sizeof(BRUSHPARMS) == 48, "BRUSHPARMS is 48 bytes");

// A brush position: the point under the pointer in volume voxel coordinates and the time index of
// the view that gave it.
struct VA_BRUSHPOINT {
  double x = 0, y = 0, z = 0;
  int32_t time = 0;
};

// Paints (paint true) or erases the segment from anchor to current into the frame with the given
// shape (the settings' own shape field is not read). spc is the frame's spacing; proj the record of
// the view whose plane the disc shapes lie in. When undo is given, a new record of the box about to
// change is made first and handed over (the caller owns it); its filter is left for the caller.
// False, with nothing changed and no record, for a bad argument, a radius that is not above 0, a
// time index outside the frame, an oblique plane, a segment whose box misses the frame, or when the
// record cannot be made.
bool VA_ApplyBrush(FRAME* frame, const SPC* spc, const BRUSHPARMS* parms, const VA_VOLPROJ* proj,
                   const VA_BRUSHPOINT* anchor, const VA_BRUSHPOINT* current, bool paint, int shape, UNDOREC** undo);

// The box (inclusive voxel indices and time points, clipped to the frame) that a segment changes;
// false when it misses the frame or the arguments are refused as above.
bool VA_BrushSegmentBox(const FRAME* frame, const SPC* spc, const BRUSHPARMS* parms, const VA_VOLPROJ* proj,
                        const VA_BRUSHPOINT* anchor, const VA_BRUSHPOINT* current, int shape, RECT4D* box);
