#pragma once
// The magnetic trace of the imaging core: the trace parameter record, the edge and gradient maps of
// one slice, snapping a point to the strongest nearby edge and re-snapping a contour onto edges.
//
// The maps of a slice are computed on its voxel values (void voxels as 0):
//   gradient  the Gaussian-smoothed gradient (recursive Gaussian derivative, sigma in voxels), two
//             or three components per voxel in intensity per voxel;
//   edges     Canny edges of the slice (Gaussian variance sigma^2, hysteresis between the lower and
//             the upper threshold of the gradient magnitude, non-maximum suppression), 1.0 on an
//             edge and 0.0 elsewhere.
// The trace record steers both: sigma is the edge block's `normalization` field (1 voxel when not
// above 0) and the upper threshold is the record's edge strength (`strength`, the lower one half
// of it). VA_URALGRADtoURALEDGE carries those two into an edge record (both radii = sigma, the
// edge threshold = the strength).
//
// Voxel coordinates are continuous: voxel i covers [i, i + 1), its centre is i + 0.5.

#include <cstdint>

#include "TwkTypes.h"
#include "registration/AutoFocus.h"  // VA_URALGRAD
#include "roi/EdgeWave.h"            // VA_URALEDGE

class CVol;

#pragma pack(push, 1)
// The application-wide record of the magnetic-trace tool.
struct VA_MAGTRACE {
  double snapRadius = 2.0;   // voxels
  double tension = 0.5;      // spline tension [0, 1]
  uint8_t connectEndToStart = 1;
  VA_URALGRAD edge{1, 0, 2, 1.0, 5.0, 5.0};
  double strength = 70.0;    // edge strength: Canny's upper threshold (intensity per voxel)
  uint8_t wholeSliceMaps = 0;  // the tool computes the maps of the whole slice once per slice
  uint8_t centeredAutoZoom = 0;
};
#pragma pack(pop)

// The time point t of slice z of a frame as a new frame of one slice and one time point (the same
// voxel type); null for a bad slice or time point.
FRAME* VA_VolCropSlice(const FRAME* frame, int z, int t);
// The voxel values of a frame's first time point as doubles (void voxels 0), w x h x d, x fastest:
// the working image of the edge maps. A new pf_malloc array; null for an empty or ROI frame.
double* VA_GetEdgeWorkVol(const FRAME* frame);
// The edge record of a gradient record and edge strength (see above).
void VA_URALGRADtoURALEDGE(const VA_URALGRAD* grad, double strength, VA_URALEDGE* edge);
// Gradient map of values (w x h x d doubles of dims, x fastest), slice by slice when perSlice (the
// z component 0), else in 3D: three doubles (gx, gy, gz) per voxel, a new pf_malloc array. Voxels
// outside mask (one byte per voxel, may be null) get 0. Null on failure (with its message when show).
double* VA_DetectGrad3D(const VA_URALGRAD* grad, double strength, int perSlice, const double* values,
                        const uint8_t* mask, const DIM3D* dims, bool show);
// Canny edge map of values, slice by slice (perSlice must be 1): 1.0 on edges, 0.0 elsewhere and
// outside mask. Sigma is the record's lowRadius, the thresholds its edgeThreshold and half of it.
double* VA_DetectEdge3D(const VA_URALEDGE* edge, int perSlice, const double* values, const uint8_t* mask,
                        const DIM3D* dims, bool show);

// The maps of one slice the tool keeps, keyed by what they were computed from.
struct VA_SLICEMAPS {
  const FRAME* frame = nullptr;
  int z = -1, t = -1, w = 0, h = 0;
  double* edges = nullptr;     // w x h
  double* gradient = nullptr;  // 3 per voxel
};
// Computes (or keeps, when the key matches) the maps of slice z, time t of frame.
bool VA_SliceMapsFor(const VA_MAGTRACE* parms, const FRAME* frame, int z, int t, VA_SLICEMAPS* maps);
void VA_FreeSliceMaps(VA_SLICEMAPS* maps);

// The volume's strongest edge voxel within the snap radius of the seed (the voxel under the pointer;
// its slice floor(z), time point t), the nearest on ties, edges whose gradient turns the way the
// previous node's does favoured; refined to sub-voxel along its gradient (continuous voxel
// coordinates, z the slice's centre). maps may be null or of another slice: the seed's slice maps
// are then computed for this call. False without an edge in reach.
bool VA_MagPoly(const CVol* vol, const VA_MAGTRACE* parms, const VA_SLICEMAPS* maps, const DPOINT3D* nodes,
                int numNodes, const DPOINT3D* seed, int t, DPOINT3D* snapped);
// Moves the contour's points (continuous voxel coordinates) onto edges of time point t: mode 0 to
// the strongest edge within the snap radius in any direction, mode 1 along the contour's normal
// only; order and count are kept. False (points unchanged) when no point finds an edge.
bool VA_MagTraceResnap(const CVol* vol, const VA_MAGTRACE* parms, int mode, int t, DPOINT3D* points, int count,
                       bool show);
