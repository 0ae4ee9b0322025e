#pragma once
// EdgeWave on signal volumes, its labelled form and the variants built on it: competing ROIs
// (multi-label), the N largest components of an ROI, and the seed average the dialog shows.
//
// Method on a signal time point (units: the record's distance units, millimetres on the true
// spacing or voxels):
//   1. Signal: the time point's values; with "Gaussian downscale" the values smoothed by a Gaussian
//      of one voxel's sigma on each axis, the anti-aliasing filter of a half-resolution grid, so
//      that the interval test sees noise-reduced values while the boundary stays on the full grid.
//   2. Allowed region: voxels whose signal lies in [SI low, SI high] (absolute, or factors of the
//      seed average: the mean signal over the seed boxes), inside the box limit. With texture
//      similarity (2D: 3x3 window in the slice, 3D: 3x3x3) a voxel must also have a local standard
//      deviation of at most twice the seed boxes' mean local standard deviation.
//   3. Edges ("Use edges"): the gradient magnitude of a Gaussian of sigma = low radius / 2.6 voxels
//      (the edge settings' radius); edge voxels exceed the edge threshold, or, with threshold 0,
//      the mean plus four standard deviations of the gradient over the allowed region's interior
//      (its voxels at least three voxels from its boundary on every axis), so that only true steps
//      count. "Thin edge" keeps an edge voxel only where the gradient is a maximum along its own
//      direction.
//   4. Core set: the allowed region (without its edge voxels unless "Strict Core Set surface" is
//      set, which keeps the allowed region's surface as it is) peeled by the peel distance; a
//      negative peel dilates it instead.
//   5. Components of the core (26-connected in 3D, 8-connected per slice): the largest, all, or
//      those a seed box touches. In absolute units the seeds are ignored and "seed components"
//      keeps the largest.
//   6. Growth: the kept components grow back through the allowed region along geodesic paths
//      (26 or in-plane 8 neighbours, steps of their true length) up to peel + grow; an edge voxel
//      is reached but never passed. With "Competitive growth" the discarded components grow too,
//      every voxel goes to the front that reaches it first, and in labelled growth each seed's
//      components race as their own label: first arrival wins.
// Growth runs per slice in parallel, or as one front in 3D; Esc stops it.

#include <cstdint>

#include "TwkTypes.h"
#include "roi/EdgeWave.h"

class CVol;

// Labelled EdgeWave of time point t: a 32-bit integer frame (one time point) in which the kept
// components of seed box i carry label i + 1 (components met by several seeds take the first);
// without seeds every kept component carries 1. Null on failure or Esc (reported when show).
FRAME* VA_EdgeWaveLabels(const VA_EW* record, const FRAME* frame, int t, const SPC* spc, const DRECT3D* seeds,
                         int numSeeds, const RECT3D* limit, bool show);

// The EdgeWave of signal time point t as an ROI frame of one time point (VA_EdgeWave hands signal
// frames here with t 0).
FRAME* VA_EdgeWaveSignal(const VA_EW* record, const FRAME* frame, int t, const SPC* spc, const DRECT3D* seeds,
                         int numSeeds, const RECT3D* limit, bool show);

// The mean of time point t over the voxels of the seed boxes whose values lie in [low, high]; 1e60
// when no voxel qualifies. False for a bad frame, time point or seed count.
bool VA_VolAverageOverSeeds(const FRAME* frame, int t, const DRECT3D* seeds, int numSeeds, double low, double high,
                            double* average);

// The volume's EdgeWave (the volume-level entry the commands call): time point t of the volume as
// a one-time-point ROI, or with eachTimePoint every time point segmented on its own (its own seed
// average) into an ROI of the volume's time points. Spacing from the volume. Null on failure or Esc.
FRAME* VA_VolEdgeWave(const CVol* vol, const VA_EW* record, const DRECT3D* seeds, int numSeeds, bool eachTimePoint,
                      int t, bool show);

// Competing ROIs: the union of count ROI frames (one time point each, same w, h, d) is shared out
// among them. Each ROI's core is its voxels held by no other ROI, peeled by peel (voxels for units
// 0, millimetres on spc for 1); the cores race through the union (first arrival wins). With
// boundaryOnly, voxels held by exactly one ROI keep it and only the shared voxels race. A label map
// (32-bit integers, label i + 1 for ROI i, 0 outside the union); null on failure or Esc.
FRAME* VA_EdgeWaveML(const FRAME* const* rois, const SPC* spc, int count, int units, double peel, bool boundaryOnly,
                     bool show);

// One ROI frame for each label value 1 .. count of the label map, in label order; a label that does
// not occur gives an empty ROI, so frame i always belongs to label i + 1. Null on failure.
FRAME** VA_LabelMapToRoiArr(const FRAME* labels, int count, bool show);

// The N largest EdgeWave components of an ROI: the ROI is peeled by the record's peel distance,
// the N largest components of that core are kept and grow back competitively inside the ROI up to
// peel + grow. *count receives the number of frames (at most N; fewer when the core has fewer
// components); the array and its frames belong to the caller (PR_FrameArrDelete). Null when
// nothing is left or on failure.
FRAME** VA_RoiEdgeWaveMultiMaxCC(const VA_EW* record, const FRAME* roi, const SPC* spc, int n, int* count, bool show);
