#pragma once
// The motion profile of a 4D series at one voxel: for each chosen axis the line of voxels through
// the point along that axis, shown over time, so that a structure that moves along the axis draws
// a slanted or wavy edge instead of a straight one.
//
// The profile is an image of doubles, row by row (row 0 at the top):
// - one block per chosen axis, in the order x, y, z, side by side, one void column (1e60) between
//   neighbouring blocks; a block is as wide as its axis is long (w, h or d voxels) and has one row
//   per time point (row t = time point t); value (i, t) = the series at the point with the axis
//   coordinate replaced by i, at time point t;
// - with a second series, its blocks form a second band below the first one, after one void row
//   (height 2T + 1), so both series can be compared line by line;
// - a mask with any voxel set leaves the line voxels outside it void (a mask of zeros, or none,
//   keeps every voxel); void input voxels stay void;
// - "equalize" scales each row of a block so that its mean over the defined voxels equals the
//   mean of the whole block (rows whose mean is 0 or that have no defined voxel are kept as they
//   are): a global signal change over time (contrast uptake, drift) no longer hides the motion.

#include <cstdint>

#include "TwkTypes.h"

// a, b: every voxel of every time point as doubles in voxel order (x fastest, then y, z, t), b
// optional (null) with the same dimensions; mask: one byte per voxel of one time point (null: no
// mask); dims: w x h x d x t of the series; point: the voxel (z from 0). Returns a new pf_malloc
// array of *width x *height doubles, or null (no axis chosen, no series, bad dimensions, the point
// outside the volume, no memory).
double* VA_VolMotionProfile(bool equalize, bool xAxis, bool yAxis, bool zAxis, const double* a, const double* b,
                            const uint8_t* mask, const DIM3D* dims, const uint32_t point[3], int* width,
                            int* height);
