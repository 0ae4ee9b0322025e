#pragma once
// Spot detection of the imaging core.
//
// Method: the signal is filtered by ITK's Laplacian of a Gaussian (LaplacianRecursiveGaussian),
// normalised across scale (sigma^2 times the Laplacian), at the scale of the largest spot: the
// spot's radius r is that of a ball (3D) or disc (per slice) of the maximum spot size in voxels, and
// sigma = r / sqrt(3) in 3D, r / sqrt(2) per slice (at least half a voxel), where the response of a
// spot of that size peaks. Bright spots take the negated response, dark spots the response itself.
// The response is divided by the local background, a Gaussian of the smooth radius (voxels) of the
// signal's absolute value (at least 1e-6 of the signal's range), so the feature is the spot's
// contrast relative to its surroundings. Voxels whose feature reaches the feature threshold form
// candidate components (26-connected, or 8-connected in their slice); components larger than the
// maximum spot size are not spots and are dropped.

#include <cstdint>

#include "TwkTypes.h"

#pragma pack(push, 1)
// Spot detection settings (21 bytes).
struct VA_DETECTSPOTS {
  uint8_t mode3D = 0;
  double featureThreshold = 0.075;  // 0 .. 1
  double smoothRadius = 8.0;        // voxels, 0 .. 100
  int32_t maxSpotSize = 8;          // voxels, 1 .. 10000
};
#pragma pack(pop)
static_assert(sizeof(VA_DETECTSPOTS) == 21, "VA_DETECTSPOTS is 21 bytes");

// The spots of the first time point of a signal frame as an ROI frame (one time point); bright
// selects bright spots on a darker surround, otherwise dark spots. spc gives the true spacing (null:
// 1 mm voxels). Null for bad arguments, a 4D or ROI frame, or Esc.
FRAME* VA_VolDetectSpots(bool bright, const VA_DETECTSPOTS* record, const FRAME* frame, const SPC* spc, bool show);
