#pragma once
// Ridge detection of the imaging core: dark or bright line structures (vessels, septa, sulci).
//
// Method:
//   1. Base: the time point, its grid refined by the resolution coefficient (in-plane, and across
//      slices in 3D processing) with the record's interpolation (nearest, trilinear, or windowed
//      sinc of order 2 to 4) through ITK's resampler.
//   2. Relative elevation: E = (s - B) / |B| for bright ridges, (B - s) / |B| for dark ones, with
//      the background B the mean of the smooth radius's neighbourhood (kernel "Uniform": a box of
//      that radius; every other kernel: a Gaussian of sigma = radius / 2) of the base; negative
//      elevations are 0.
//   3. Ridge strength: ITK's Hessian objectness of E for line structures (object dimension 1,
//      bright objects, Hessian of a 1-voxel Gaussian), in 3D or slice by slice, divided by its
//      maximum so that it lies in [0, 1].
//   4. Output 0 the strength as a real frame (elevation map); 1 the ridge mask, the voxels whose
//      strength reaches the strength threshold; 2 the mask's skeletons (topology-preserving
//      thinning, in 3D or per slice).

#include <cstdint>

#include "TwkTypes.h"

#pragma pack(push, 1)
// Ridge detection settings (37 bytes).
struct VA_RIDGEPARM {
  uint8_t mode3D = 0;
  double resolutionCoefficient = 1.0;  // 1 .. 10
  double smoothRadius = 8.0;           // voxels, 1 .. 1000
  int32_t kernel = 0;                  // 0 uniform, 1 Gaussian, ...
  int32_t interpolation = 1;           // VA_INTERP: 0 nearest, 1 trilinear, 2..4 windowed sinc
  int32_t output = 1;                  // 0 elevation map, 1 ridge mask, 2 ridge skeletons
  double strengthThreshold = 0.05;
};
#pragma pack(pop)
static_assert(sizeof(VA_RIDGEPARM) == 37, "VA_RIDGEPARM is 37 bytes");

// Ridges of time point t of a signal frame: *base receives the base (the refined grid, real) and
// *ridges the output, both of one time point on the base grid, *outSpc the base's spacing. The
// unused flag is reserved. False (nothing returned) for bad arguments, an ROI frame, or Esc.
bool VA_VolDetectRelativeRidges(bool bright, const VA_RIDGEPARM* record, const FRAME* frame, int t, const SPC* spc,
                                bool unused, FRAME** base, FRAME** ridges, SPC* outSpc, bool show);
