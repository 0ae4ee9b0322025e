#pragma once
// Peeling and growing of byte masks by a Euclidean distance, for the voxel pipelines that keep
// their masks as one byte per voxel (EdgeWave): no packing into ROI frames, no image copies.
//
// Method: the exact squared Euclidean distance to the nearest site on the true spacing, one axis
// after the other (the lower envelope of parabolas on every image line: x, then y, then z;
// per slice without z), lines in parallel. Only distances up to the radius matter, so larger
// values are kept as "far", which lets the distances live in floats. A voxel is peeled when a
// clear voxel lies within the radius, and grown when a mask voxel does (both with the tolerance
// of 1e-6 of the radius that the ROI operations use, so that both agree voxel for voxel).

#include <cstdint>

#include "TwkTypes.h"

namespace twk::maskdist {

// distance > 0 peels, < 0 grows (millimetres on spc, voxels without); 0 leaves the mask. mask holds
// 0 or 1 per voxel (w x h x d, x fastest). scratch (may be null): w x h x d floats the distances
// may use (their values are lost). False when memory runs out (the mask is then unchanged).
bool peelOrGrow(uint8_t* mask, const DIM3D& dim, const SPC* spc, bool mode3D, double distance,
                float* scratch = nullptr);

}  // namespace twk::maskdist
