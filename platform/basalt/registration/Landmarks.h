#pragma once
// Transforms fitted to pairs of landmarks, and the plane through landmarks.
//
// Landmarks are voxel positions (DPOINT3D, voxel indices, centres at integers); landmark i of the
// source pairs with landmark i of the target. Fitted transforms map target voxel indices to source
// voxel indices (registration/Transform.h). Failures are reported with the function's name when
// show is set and give null or false.

#include <cstdint>

#include "TwkTypes.h"
#include "registration/TransformFiles.h"

// The least-squares transform of the kind taking the target landmarks onto the source landmarks:
//  - 1 rigid: rotation and translation in millimetres (Kabsch), returned as kind 1's 4 x 4 matrix;
//  - 2 affine: the least-squares 4 x 4 matrix (at least 4 landmarks, not all in one plane);
//  - 3 polynomial of the degree (at least as many landmarks as terms, in general position).
// A new pf_malloc coefficient array. Per landmark, errors1[i] is the distance in source millimetres
// between the transformed target landmark and its source landmark; for kinds 1 and 2, errors2[i]
// is the distance in target millimetres between the inversely transformed source landmark and its
// target landmark (errors2 is zero for kind 3). rmse1 and rmse2 are their root mean squares. Any
// of the error outputs may be null; targetDims is only checked.
double* VA_FindOptimalTransform(int type, int degree, const DPOINT3D* source, const DPOINT3D* target, int count,
                                const SPC* sourceSpc, const SPC* targetSpc, double* errors1, double* errors2,
                                double* rmse1, double* rmse2, bool show, const DIM3D* targetDims);

// A flow field on the target grid from Gaussian radial basis functions of sigma (mm) centred on the
// target landmarks, whose weights (regularised by lambda) make the field carry every target
// landmark onto its source landmark (exactly when lambda is 0); with affine, an affine fit is taken
// first and the basis functions carry its residuals. The field's grids go to info. A new pf_malloc
// field of targetDims->w x h x d displacements (see registration/TransformFiles.h), or null.
DPOINT3D* VA_PerformGaussRBF(double sigma, double lambda, bool affine, const DPOINT3D* source, const DPOINT3D* target,
                             int count, const DIM3D* sourceDims, const SPC* sourceSpc, const DIM3D* targetDims,
                             const SPC* targetSpc, VA_FLOWFIELDINFO* info, bool show);

// The least-squares plane through points (millimetres): plane[0..2] the unit normal (its z part not
// negative), plane[3] = -normal . centroid, so that normal . p + plane[3] = 0 on the plane; error
// the root mean square distance of the points from it. At least three points not on one line.
bool VA_CalculateOptimalPlane(const DPOINT3D* points, int count, double plane[4], double* error, bool show);

// The rotation angles (degrees, about x then y; geometry/Geometry.h's convention) whose rotated grid
// has its slices parallel to the plane: the turned grid's z axis runs along the plane's normal.
bool VA_CalculateRotationByPlane(const double plane[4], double* angleX, double* angleY, bool show);
