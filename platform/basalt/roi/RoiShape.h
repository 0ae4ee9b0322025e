#pragma once
// ROI shape algorithms of our own (ITK 5.2 has none for them), each with its method:
//
// Convex hull per slice: the hull of the edge midpoints of the slice's voxels (a diamond around
// each centre); a voxel is inside when its centre lies in the hull or on its edge, as
// skimage.morphology.convex_hull_image decides.
// Interslice morph: shape-based interpolation. The slices that hold voxels ("drawn" slices) get
// signed distance maps (negative inside, the boundary half-way between voxels); a slice between
// two drawn slices takes the linear blend of their maps at its relative position and keeps the
// voxels where the blend is negative. The arc variant first moves each drawn slice's map along a
// curve through the drawn slices' centroids (Catmull-Rom through the centroids, sampled with
// bilinear interpolation), so that a bent object keeps its course.
// Cylinders: the drawn slices' filled contours extruded through the whole depth: mode 0 their
// union, mode 1 their intersection, written into every slice.
// Salt and pepper: pepper removal deletes the ROI's pieces of fewer voxels than its threshold,
// salt removal fills clear pieces of fewer voxels than its threshold (also at the border), as
// skimage's remove_small_objects and remove_small_holes do; the first field is the connectivity
// (6: faces, else faces, edges and corners), in slices with 2D mode.
// Skeleton: topology-preserving thinning. Border voxels are removed in six directional sub-passes
// while they are simple (removing them changes neither the 26-connected ROI components nor the
// 6-connected clear components in their 3x3x3 neighbourhood) and are not curve ends (more than one
// neighbour), until nothing changes; per slice the same in 3x3 (8/4 connectivity).
// Ridges and medial axis: on the inside distance map (millimetres), ridges are its local maxima
// over the 26 neighbours and their depth is averaged. The medial axis (Blum) takes the centres of
// maximal balls (d(q) < d(p) + |q - p| for every neighbour q) from the deepest down; a centre
// that already lies in a kept ball at least as deep is dropped (this prunes the small balls of the
// voxel grid's steps), and the average depth is the mean, over the ROI, of the radius of the
// deepest kept ball holding each voxel (half the local thickness).

#include <cstdint>

#include "TwkTypes.h"

#pragma pack(push, 1)
struct VA_SALTPEPPER {
  int32_t connectivity = 6;
  uint8_t mode2D = 1;
  uint8_t saltRemoval = 1;
  int32_t saltThreshold = 4;
  uint8_t pepperRemoval = 1;
  int32_t pepperThreshold = 4;
};
#pragma pack(pop)

// Slice by slice convex hulls of every time point, as a new ROI.
FRAME* VA_RoiConvexHull2D(const FRAME* roi, bool show);
// Fills the gaps between drawn slices in place (fillFirst: the contours of the drawn slices are
// filled first).
bool VA_RoiIntersliceMorph(FRAME* roi, bool fillFirst, bool show);
// The arc variant, as a new ROI.
FRAME* VA_RoiIntesliceArcMorph(const FRAME* roi, bool fillFirst, bool show);
// Mode 0 union, 1 intersection of the drawn slices' filled contours in every slice, in place.
bool VA_FormCylinderFrom2Dcontours(FRAME* roi, int mode, bool show = true);
// Salt and pepper removal as a new ROI.
FRAME* VA_FilterSaltPepper(const VA_SALTPEPPER* record, const FRAME* roi, bool show);
// The skeleton of time point 0 (perSlice: of every slice on its own) as a new ROI.
FRAME* VA_RoiMakeMiddlePlain(const FRAME* roi, double reserved, const void* unused, bool perSlice = false);
// Ridges of the depth map and their average depth (mm).
FRAME* VA_RoiMAT(const FRAME* roi, const SPC* spc, double reserved, double* averageDepth, bool show);
// Medial axis (centres of maximal balls) and its average depth (mm).
FRAME* VA_MAT3D_Blums(const FRAME* roi, const SPC* spc, double reserved, double* averageDepth, bool show);
// A 4D ROI of dims (w, h, d as the 3D ROI) holding the 3D ROI at time point t, empty elsewhere.
FRAME* VA_RoiConvert3Dto4D(const FRAME* roi, int t, const DIM3D* dims);
