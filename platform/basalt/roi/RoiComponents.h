#pragma once
// Connected components, holes and simple measures of ROI frames (1 bit per voxel).
//
// Components are labelled on runs (RunComponents.h): connectivity 6, 18 or 26 in 3D; with twoD
// components stay inside their slice (4-connected for 6, 8-connected otherwise). Holes are the
// components of the clear voxels that do not reach the border (6-connected in 3D, 4-connected in
// a slice), as scipy.ndimage.binary_fill_holes finds them with its default structure.
//
// Frames returned are new and belong to the caller (PR_FrameDelete; arrays PR_FrameArrDelete);
// arrays of boxes are pf_malloc blocks (pf_free). Failures are reported as "<function> : <text>"
// when show is set; a stop by Esc is silent. Long work reports progress and stops on Esc.

#include <cstdint>

#include "TwkTypes.h"

// The largest component of time point t as a new ROI of one time point (twoD: the largest
// component of every slice). Null for a frame that is not an ROI, a bad time point or
// connectivity, no memory or Esc; an empty ROI gives an empty frame.
FRAME* VA_RoiExtractMaxCC(const FRAME* roi, int t, int connectivity, bool twoD, bool show);
// The n largest components of time point t (all when there are fewer; ties keep the earlier
// component in raster order). n must be at least 1.
FRAME* VA_RoiExtractUptoNLargestCCs(const FRAME* roi, int t, int n, int connectivity, bool twoD, bool show);
// One frame per component, in raster order of their first voxels, each of the ROI's size. A 4D
// ROI is split per time point: each frame holds its component at its own time point only.
// Refused with "Not enough memory for %u component layers" when the frames would not fit in the
// memory that is free. Null (count 0) for an empty ROI or a failure.
FRAME** VA_RoiSplitConnectedComponents(const FRAME* roi, int connectivity, int* count, bool show = true);
// Boxes of the components of time point t in voxel coordinates, lower bounds at the first voxel
// and upper bounds one past the last (x0, y0, z0, x1 + 1, y1 + 1, z1 + 1), as vector ROIs hold
// them; dims (may be null) must match the frame. A pf_malloc array, null with count 0 when the
// time point is empty; false-like null with count -1 on failure.
DRECT3D* VA_RoiCCrects(const FRAME* roi, const DIM3D* dims, int t, int connectivity, int* count);

// The enclosed holes of a 3D ROI as a new ROI. Null for a 4D ROI (reported) or a failure.
FRAME* VA_RoiExtractHoles3D(const FRAME* roi, bool show);
// Fills the enclosed holes of a 3D ROI in place.
bool VA_RoiFillHoles3D(FRAME* roi, bool show);
// Fills the holes of every slice of every time point in place: closed contours become areas.
bool VA_FillSliceContours(FRAME* roi, bool show);

// Voxels of time point t (-1: all) and slice z (-1: all) of an ROI; false for a bad frame.
bool VA_RoiNumVox(const FRAME* roi, int t, int z, int64_t* count);
// True when the ROI (time point *t only when t is given) holds no voxel. With show an empty ROI
// is reported as "<name> - ROI is empty" (name null: "ROI is empty"). A frame that is not an ROI
// counts as empty. count (may be null) receives the voxels.
bool VA_CheckRoiIsEmpty(bool show, const FRAME* roi, const int* t, int64_t* count, const wchar_t* name = nullptr);
// The voxel box of every time point (an array of dim.t RECT3D, pf_malloc); a time point without
// voxels gets the box -1, -1, -1, -1, -1, -1. Null when the whole ROI is empty or on failure.
RECT3D* VA_RoiBoundRect(const FRAME* roi);
// Centre of mass of time point t in voxel coordinates (the mean of the voxel indices). False for
// an empty time point or a bad frame.
bool VA_RoiGetMassCenter(const FRAME* roi, int t, DPOINT3D* centre);
