#pragma once
// Geometry of a volume seen through a view's projection record (VA_VOLPROJ) for the orthogonal
// planes: rotations of the viewing plane by multiples of 90 degrees about the volume's x, y and z
// axes (the rotation about x first, then y, then z), which give the axial, coronal and sagittal
// views of a volume and their mirror images.
//
// Projection voxel space: x to the right, y downwards, z the slice index. Coordinates are
// continuous voxel coordinates in which voxel i covers [i, i + 1), so a box that covers slice s is
// z0 = s, z1 = s + 1 (or just below it). A projection axis that runs against its volume axis maps
// coordinate c to size - c. Planes at other angles are not handled: the functions return false.

#include "TwkTypes.h"
#include "VolProj.h"

// True when the record's three rotations are multiples of 90 degrees.
bool VA_IsOrthoProj(const VA_VOLPROJ* proj);

// Dimensions (and, when outSpc is given, spacing) of the volume as the record shows it; the time
// points stay. False for a null argument or a plane that is not orthogonal.
bool VA_VolProjDimensions(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, DIM3D* out,
                          SPC* outSpc = nullptr);

// Converts a box between projection space and volume space: direction 0 projection to volume,
// 1 volume to projection. An ordered box stays ordered. in and out may be the same box.
bool VA_VolBoxProjConversion(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, const DRECT3D* in,
                             DRECT3D* out, int direction);

// The same for one point.
bool VA_VolProjConversion(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, const DPOINT3D* in,
                          DPOINT3D* out, int direction);
