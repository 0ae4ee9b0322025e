#pragma once
// EdgeWave Live: EdgeWave from one seed inside a constraint ROI (the blanket), run again and again
// while its parameters are tuned, so everything that does not depend on them (the working values,
// the nonuniformity-corrected values, the edge strength map) is computed once and kept by the caller.
//
// Method (one call, on a crop that holds the blanket):
//   1. Values: the volume's time point t, or with "Correct nonuniformity" its N3 correction
//      (filters/BiasField.h), taken from the caller's cache (filled on first use).
//   2. Seed average: the mean value over the seed box's voxels that lie in the blanket (over the
//      whole box when none does).
//   3. Allowed region: blanket voxels whose value is at least SI low x the seed average (when "use
//      SI low") and at most SI high x the seed average (when "use SI high").
//   4. Edges ("use edges"): voxels of the allowed region whose edge strength exceeds the edge
//      threshold; they can be reached by the growth but not passed, and do not belong to the core.
//   5. Core: the allowed region without its edge voxels, peeled by the peel distance (mm on the
//      true spacing) when "peel and grow" is set; the core components (26-connected) that the seed
//      box touches are kept.
//   6. Growth: the kept core grows back through the allowed region along geodesic paths up to
//      peel distance x (1 + grow factor), so that the grow factor is the growth beyond the peeled
//      surface in units of the peel distance (grow factor 2.21 at peel 2.9 mm reaches 6.4 mm past
//      the surface). Without "peel and grow" the result is the kept core itself.
// A seed whose core component is lost gives an empty ROI (a valid answer of the live range).

#include <cstdint>

#include "TwkTypes.h"
#include "filters/BiasField.h"
#include "roi/EdgeWave.h"

#pragma pack(push, 1)
// The EdgeWave Live parameter record (134 bytes).
struct VA_EWL {
  uint8_t storeBack = 1;        // Accept writes the dialog's values back into the record
  uint8_t useSiLow = 1, useSiHigh = 1;
  double siLow = 0.528, siHigh = 1.35;  // relative to the seed average
  uint8_t peelAndGrow = 1;
  double peel = 2.9;            // mm
  double peelRange = 6.4;       // largest peel distance of the live range
  int32_t peelSteps = 30;       // peel values of the live range
  uint8_t useEdges = 1;
  int32_t edgeSteps = 30;       // edge thresholds of the live range
  VA_URALEDGE edge{0, 0, 3.0, 3.0, 0.0};  // the edge threshold is edge.edgeThreshold
  double growFactor = 2.21;
  uint8_t correctNonuniformity = 1;
  VA_N3PARM n3;
};
#pragma pack(pop)
static_assert(sizeof(VA_EWL) == 134, "VA_EWL is 134 bytes");

// The values one crop keeps between calls (plain or corrected); freed by VA_EWLCacheFree.
struct VA_EWLCACHE {
  FRAME* values = nullptr;        // real frame of one time point
  const FRAME* source = nullptr;  // the frame it was computed from, and its time point
  int t = -1;
};
void VA_EWLCacheFree(VA_EWLCACHE* cache);

// The edge strength map of time point t of a crop: the texture gradient magnitude of the edge
// settings (metric, weights, radii low..high) inside the blanket (0 outside; the whole crop without
// blanket), w x h x d doubles (x fastest, pf_malloc), its largest value in *maximum. Null on
// failure or Esc.
double* VA_EdgeStrengthMap(const VA_URALEDGE* edge, const FRAME* volume, int t, const FRAME* blanket, double* maximum,
                           bool show);

// One live EdgeWave (the method above): seed in crop voxel coordinates (upper bounds one past the
// last voxel, as vector ROIs hold them), dims the crop's size, spc its spacing, blanket a 3D ROI of
// the crop (null: the whole crop), edgeMap as VA_EdgeStrengthMap gives (null: no edges). A new ROI
// frame of one time point; null on failure (with its message when show).
FRAME* VA_EdgeWaveLive(const VA_EWL* record, int t, const DRECT3D* seed, const FRAME* volume, const DIM3D* dims,
                       const SPC* spc, const FRAME* blanket, VA_EWLCACHE* cache, const double* edgeMap, bool show);
