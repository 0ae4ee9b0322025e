#pragma once
// Bias-field (intensity non-uniformity) correction of the imaging core: N4 on ITK's
// N4BiasFieldCorrectionImageFilter, N3 and BiCal of our own. Each estimates a smooth
// multiplicative field on one time point and divides every time point of the volume by it; the
// corrected volume keeps the mean of the voxels the field was fitted on. Results are new real
// frames of the volume's size: the corrected volume, or the field itself when the record asks
// for it. Void voxels are left out of the fit and stay void.

#include <cstdint>

#include "TwkTypes.h"

class CVol;

#pragma pack(push, 1)
// "N4 nonuniformity correction" (37 bytes).
struct VA_N4PARAM {
  double airThreshold = 0.0;     // voxels at or below it are background (left out of the fit)
  int32_t iterations = 50;       // per fitting level
  double splineDistance = 200.0; // mm between the B-spline knots of the first level
  double fwhm = 0.1;             // of the bias field's log histogram (Wiener sharpening)
  double noise = 0.01;           // Wiener filter noise
  uint8_t outputBiasField = 0;   // the result is the field instead of the corrected volume
};
#pragma pack(pop)
static_assert(sizeof(VA_N4PARAM) == 37, "VA_N4PARAM is 37 bytes");

// N4 of time point t of frame (spacing spc, null: 1 mm): the fit runs on the volume shrunk by 4
// (capped per axis so that at least 8 voxels remain), over 4 fitting levels that each halve the
// knot distance; the field is then evaluated at full size from the fitted control points. The fit
// covers the voxels above the air threshold (and inside mask, a 3D ROI, when given). With field
// given, the full-size field goes there too (a new real frame of one time point). Null on failure
// or Esc (nothing else is changed). Needs at least 4 slices.
FRAME* VA_N4BiasCorrection(const VA_N4PARAM* record, const FRAME* frame, const SPC* spc, int t, const FRAME* mask,
                           FRAME** field, bool show);
// The volume's form (the volume's N4): time point t of a 4D volume, the volume's spacing.
FRAME* VA_VolN4(const CVol* vol, const VA_N4PARAM* record, int t, const FRAME* mask, FRAME** field, bool show);
