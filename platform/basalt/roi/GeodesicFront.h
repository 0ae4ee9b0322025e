#pragma once
// Geodesic growth of labelled fronts, the last step of EdgeWave and its variants.
//
// What it computes: the voxels with a label (non-zero) are the sources, at distance 0. A path runs
// through passable voxels by steps to the 26 neighbours (the 8 in-plane ones per slice), each as
// long as its offset on the grid's spacing; a voxel marked "reached, not passed" (pass 2) ends
// every path that enters it. Each unlabelled passable voxel within `reach` of a source takes the
// label of its nearest source; the distance of a path is summed in float in path order, and of
// paths of equal distance the one whose last step comes from the voxel nearer to its source wins,
// then the voxel first in (z, y, x) order. That rule is what one best-first front visiting voxels in
// order of (distance, position) gives, so the labels do not depend on how the work is split.
//
// How: only the box of the sources widened by the reach is visited. In 3D it is cut into slabs of
// planes, each grown by its own best-first front in parallel; a step into a neighbouring slab is
// handed over as a proposal, and the slabs whose voxels improved grow again, until no proposal
// improves anything. Every voxel then holds the best (distance, previous distance, previous
// voxel) of all its neighbours' final states, which has exactly one solution (distances grow
// strictly along a path), so one thread and many give the same bits. Per slice, slices are the
// slabs and never exchange.

#include <cstdint>

#include "TwkMem.h"
#include "TwkTypes.h"

namespace twk::geo {

struct Grid {
  DIM3D dim;               // w, h, d of the voxels (t ignored)
  double sx = 1, sy = 1, sz = 1;
  bool mode3D = true;      // false: every slice grows on its own with in-plane steps
};

// Grows the labels in place (w x h x d, x fastest) through pass (0 blocked, 1 free, 2 reached but
// never left) up to reach. slabPlanes: planes per slab in 3D (0 chooses). False when Esc stopped it
// (the labels are then partly grown) or memory ran out.
bool grow(const Grid& g, uint32_t* labels, const uint8_t* pass, double reach, const twk::ProgressGuard& progress,
          int slabPlanes = 0);

}  // namespace twk::geo
