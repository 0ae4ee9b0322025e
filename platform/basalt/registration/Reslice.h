#pragma once
// Reslicing of frames through transforms (target voxel index -> source voxel index, see
// registration/Transform.h) on the one resampler of the imaging core (VA_VolResampleMapped of
// geometry/Geometry.h): its interpolations (VA_INTERP), its 1-bit ROI handling and its threshold.
// The grids are voxel grids: without spacings the sampling is done in voxel units.
//
// Every frame returned is new and the caller's, of the source's voxel kind and time points (unless
// said otherwise) and of the target dimensions; voxels that map outside the source take the outside
// value (ROIs: 0). Null on failure, reported with the function's name when show is set.

#include <cstdint>

#include "Polynom.h"
#include "TwkTypes.h"

// Affine reslice by a 4 x 4 target-to-source matrix.
FRAME* VA_ResliceAffine(const double matrix[16], const FRAME* frame, const DIM3D* targetDims, int interpolation,
                        double outside, bool show = true);

// Reslice by a Poly3D (affine or polynomial).
FRAME* VA_ResliceTB(const Poly3D* transform, const FRAME* frame, const DIM3D* targetDims, int interpolation,
                    double outside, bool show = true);
// Reslice by coefficients of a transform kind (1 or 2 affine, 3 polynomial of the degree).
FRAME* VA_ResliceTB(int type, int degree, const double* coefficients, const FRAME* frame, const DIM3D* targetDims,
                    int interpolation, double outside, bool show = true);

// Reslice by the content of a transform file: timePoints coefficient sets (one for every time point
// when 1, else one per time point of the frame, whose time-point count must then be timePoints),
// the file's grids (the frame's grid is the source grid; the result is of the target dimensions),
// Gaussian downscale to a coarser target and the ROI threshold (0..99 per cent).
FRAME* VA_ResliceTB_EX(int type, int degree, const double* coefficients, int timePoints, const FRAME* frame,
                       const DIM3D* sourceDims, const SPC* sourceSpc, const DIM3D* targetDims, const SPC* targetSpc,
                       int interpolation, bool gaussianDownscale, int threshold, double outside, bool show = true);

// Reslice by a flow field of targetDims (see registration/TransformFiles.h for its meaning). A
// time point of -1 reslices every time point, else only that one (the result has one time point).
FRAME* VA_ResliceByFlow(const FRAME* frame, int timePoint, const DPOINT3D* field, const DIM3D* targetDims,
                        int interpolation, double outside, bool show = true);
