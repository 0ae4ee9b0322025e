#pragma once
// Geometry of a volume seen through a view's projection record (VA_VOLPROJ) at any plane.
//
// Quarter-turn planes use the volume's own voxel grid, as volume/VolumeProjection.h describes.
// Any other plane is resampled: the rotated volume's bounding box is covered by an isotropic grid
// whose spacing is the smallest voxel spacing, centred on the volume's centre; the rotation turns
// the viewing plane about the volume's x, then y, then z axis (degrees), as for quarter turns.
// Projection voxel space: x to the right, y downwards, z the slice; voxel i covers [i, i + 1).
//
// The film view lays every slice of the projection out as a tile, row by row from the top left;
// the displayed world rectangle of a layer set is its world rectangle with the picture (one tile
// or the whole film) fitted in at its true millimetre aspect and centred.

#include "CString.h"
#include "RectHelpers.h"
#include "TwkTypes.h"
#include "VolProj.h"

class CVol;

// A record in its initial state: no view, native plane, slice 0, time 0, film view off, plain
// slices, mode 1 (interpolation on), no slab.
void VA_InitVOLPROJ(VA_VOLPROJ* proj);
// Copies every field but the view, which stays the target's. False (target unchanged) without a
// source or target.
bool VA_CopyVOLPROJ(VA_VOLPROJ* dst, const VA_VOLPROJ* src);

// How a record's projection space maps into volume voxel space: a volume point v (continuous voxel
// coordinates) = matrix * (projection point, 1). For a quarter-turn plane ortho is set and
// axis/reversed tell along which volume axis each projection axis runs.
struct VA_PROJMAP {
  bool ortho = true;
  int axis[3] = {0, 1, 2};
  bool reversed[3] = {false, false, false};
  DIM3D dims;           // projected dimensions (time points kept)
  SPC spc;              // projected spacing, millimetres
  double matrix[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
};
// False for a null argument, non-positive dimensions or rotations that are not finite. A null
// spacing counts as 1 mm.
bool VA_VolProjMap(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, VA_PROJMAP* map);

// The forms of VA_VolProjDimensions, VA_VolBoxProjConversion and VA_VolProjConversion that take any
// plane (the plain forms refuse planes that are not quarter turns). Direction 0: projection to
// volume; 1: volume to projection. A converted box of an oblique plane is the bounding box of the
// converted corners.
bool VA_VolProjGridDimensions(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, DIM3D* out,
                              SPC* outSpc = nullptr);
bool VA_VolProjGridBoxConversion(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, const DRECT3D* in,
                                 DRECT3D* out, int direction);
bool VA_VolProjGridConversion(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, const DPOINT3D* in,
                              DPOINT3D* out, int direction);

// Spacing in millimetres of the projection's voxels (x, y in the viewing plane, z across it): the
// volume's spacing along the axes a quarter-turn plane shows, the smallest voxel spacing in every
// direction for any other plane (its isotropic grid). A null spacing counts as 1 mm. False for a
// null record or output, a non-positive spacing or rotations that are not finite.
bool VA_GetProjSpc(const VA_VOLPROJ* proj, const SPC* spc, SPC* out);

// Whether the record shows the film view: its flag is set and the projection has several slices.
bool VA_IsFilmView(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj);
// Columns and rows of the film's tiles (1 x 1 when the record does not show the film view).
bool VA_VolProjFilmViewLayout(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, int* cols, int* rows);
// Size of the film in projection voxels (one tile's size without the film view).
bool VA_FilmViewDimensions(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, int* width, int* height);
// The tile of a slice in film voxels: left/top inclusive, right/bottom exclusive (left + width).
// Without the film view every slice has the tile at 0, 0. False for a slice outside the projection.
bool VA_FilmViewTilePos(const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj, int slice, RECT2D* tile);

// The world rectangle that a layer set of world rectangle setRect covers in a view with this record.
bool VA_VolDisplayActualWorldRect(const DRECT* setRect, const DIM3D* dims, const SPC* spc, const VA_VOLPROJ* proj,
                                  DRECT* out);

// The slices of a projection of the given depth that a box from z0 to z1 (projection coordinates)
// reaches: every slice s with [s, s + 1) meeting [z0, z1); a box of no depth reaches the slice it
// lies in. False when none of 0 .. depth - 1 is reached.
bool VA_DetermineVisibleSlices(double z0, double z1, int depth, int* first, int* last);

// Whether six direction cosines are two orthogonal unit vectors.
bool VA_IsValidOrientation(const double orient[6]);

// Patient direction (unit vector) in which the volume's slice index grows: the normal of the row
// and column directions (row x column), turned round when the image positions of the first and
// last slice say the slices run the other way. False without a valid orientation.
bool VA_VolSliceDirection(const CVol* vol, double direction[3]);

// Patient-direction letters of the four edges of a view with this record: top, bottom, left and
// right (L/R, A/P, S/I of the patient's left, posterior and superior along +x, +y, +z, the
// strongest component first). A volume without a valid orientation is read as the identity.
bool VA_GenerateOrientTxt(const CVol* vol, const VA_VOLPROJ* proj, CString texts[4]);
