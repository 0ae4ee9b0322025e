#pragma once
// Merging a VIBE volume with a GRASP series: the VIBE (a 3D volume of the same patient, usually at
// another resolution and turned) becomes a new first time point of the GRASP series.
//
//   1. Turn: with axis 0, 1 or 2 the VIBE is turned about its own x, y or z axis through its
//      centre by the rotation in whole quarter turns (an exact permutation of voxels, the grid's
//      centre kept in place); any other axis value (the start value 3) turns nothing.
//   2. Target: the average of the first "GRASP frames to average" time points of the GRASP series.
//   3. Alignment: the translation (millimetres, patient space) that best maps the target onto the
//      turned VIBE by normalised correlation (ITK v4 registration: translation transform,
//      correlation metric, gradient descent over three resolution levels), its length clamped to
//      the maximum translation (0: no search).
//   4. Resampling: the turned VIBE on the GRASP grid through that translation, linear
//      interpolation, 0 outside the VIBE.
//   5. Scaling (flag 1 with a normalisation ROI over the VIBE): the VIBE is scaled so that its mean
//      inside the ROI equals the target's mean inside the same ROI carried onto the GRASP grid.
//   6. Result: the GRASP geometry, records and voxel kind with T + 1 time points, the VIBE first
//      (integer series: rounded into the voxel range), its time one frame interval before the
//      first GRASP time point.

#include <cstdint>

#include "TwkTypes.h"

class CVol;

// The merge parameters, kept between runs (prompt texts in the command).
struct VA_VIBEGRASPPARMS {
  int32_t axis = 3;              // "Axis (0,1,2)"; other values: no turn
  double rotation = -90.0;       // "Rotation (deg)", a multiple of 90
  double maxTranslation = 20.0;  // "Alignment max translation (mm)"
  int32_t flag = 1;              // 1: scale the VIBE to the target's ROI mean
  int32_t graspFrames = 3;       // "Number GRASP frames to average"
};

// A new merged volume, or null with "VA_VibeGraspMerge : <reason>" shown when show is set (Esc
// during the alignment stops silently). reserved must be null. The inputs are not changed.
CVol* VA_VibeGraspMerge(const VA_VIBEGRASPPARMS* parms, const void* reserved, const CVol* vibe, const CVol* roi,
                        const CVol* grasp, bool show);

// The exact quarter turns of step 1 on a frame's first time point (integer, real or ROI): a new
// frame, its spacing through outSpc. turns counts quarter turns (any integer, taken modulo 4) about
// axis 0, 1 or 2; with turns 1 about z the voxel (x, y) of the result is the voxel
// (y, h - 1 - x) of the source. Null for a bad axis or frame.
FRAME* VA_VolQuarterTurn(const FRAME* frame, const SPC* spc, int axis, int turns, SPC* outSpc);
