#pragma once
// EdgeWave, the seeded region growing of the imaging core, and its parameter record.
//
// Binary operand (an ROI frame), method: the ROI is peeled by the peel distance (its core set),
// the core's components are chosen by the "connected components" setting (the largest, all, or
// those that a seed box touches), and the chosen components are grown back by the peel plus the
// grow distance without leaving the ROI. With both distances 0 this keeps the ROI's components
// that the seeds reach. The signal-intensity fields are not used by this branch; signal operands
// follow the method written in roi/EdgeWaveRegions.h.

#include <cstdint>

#include "TwkTypes.h"

#pragma pack(push, 1)
// Settings of the texture edge detector (32 bytes).
struct VA_URALEDGE {
  int32_t distanceMetric = 0;  // 0 signal difference, 1 earth mover distance
  int32_t voxelWeights = 0;    // 0 constant, 1 Gaussian, 2 Rayleigh, 3 radial
  double lowRadius = 2.6;      // voxels
  double highRadius = 2.6;
  double edgeThreshold = 0.0;
};

// The EdgeWave parameter record (91 bytes) with the start values of the "EdgeWave Parameters"
// dialog's command record.
struct VA_EW {
  uint8_t mode3D = 1;
  double siLow = 0.528, siHigh = 1.35;  // signal interval
  int32_t siUnits = 1;                   // 0 absolute, 1 relative to the seed average
  int32_t textureSimilarity = 0;         // 0 none, 1 2D, 2 3D
  int32_t distanceUnits = 1;             // 0 voxels, 1 mm
  double peel = 2.9, grow = 6.4;
  uint8_t competitiveGrowth = 0;
  int32_t connectedComponents = 2;       // 0 max component only, 1 all, 2 seed components
  uint8_t strictCoreSurface = 1;
  uint8_t useEdges = 0;
  uint8_t thinEdge = 1;
  VA_URALEDGE edge;
  int32_t subvoxelLevel = 1;
  uint8_t outputBinaryRoi = 1;
  uint8_t gaussianDownscale = 1;
};
#pragma pack(pop)
static_assert(sizeof(VA_URALEDGE) == 32, "VA_URALEDGE is 32 bytes");
static_assert(sizeof(VA_EW) == 91, "VA_EW is 91 bytes");

// The basic edge settings: both radii r, the given threshold, metric and weights 0.
void VA_UralEdgeBasicParms(VA_URALEDGE* edge, double radius, double threshold);

// Segments from seed boxes (voxel coordinates; upper bounds one past the last voxel, as vector
// ROIs hold them) within box limit (null: the whole volume). A new ROI frame of one time point;
// null on failure or Esc, or with "At least one seed is expected" when seed components are asked
// for without seeds. spc (null: voxels) gives millimetres when the record's units are mm.
// Signal frames are segmented at time point 0 as roi/EdgeWaveRegions.h describes; outValue is unused.
FRAME* VA_EdgeWave(const VA_EW* record, const FRAME* frame, const SPC* spc, const DRECT3D* seeds, int numSeeds,
                   const RECT3D* limit, double* outValue, bool show);
