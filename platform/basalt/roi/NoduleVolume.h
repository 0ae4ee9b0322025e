#pragma once
// Nodule volume by partial volumes: the volume of a lung nodule drawn roughly inside an ROI of a
// 3D attenuation volume (values as stored: air low, soft tissue high), counting every voxel by the
// fraction of it that the nodule fills.
//
// Method (ours). The nodule's pure attenuation is the mean of the brightest purePercent % of the
// ROI's voxels that are at least half ground glass; at or above the ground-glass/solid threshold the nodule is
// solid and its reference attenuation is the solid one, else the ground-glass one. A voxel of
// value v fills f = (v - background) / (reference - background) of itself, clamped to [0, 1];
// fractions below lowClamp count as 0 (background noise) and above highClamp as 1 (the nodule's
// inside). The volume is sum(f) times the voxel volume; the solid component sums, over the voxels
// at or above the threshold, their fraction of the solid attenuation. Blurring moves signal from
// the nodule into its border without changing its sum, so the partial-volume sum recovers the
// volume of the object before the blur; the low clamp drops the faintest part of that border,
// which on a curved surface outweighs what the high clamp adds (a few percent low for a 5 mm ball
// blurred by 1 mm).
//
// The iterative form first measures over the whole ROI, then measures again inside the sphere
// around the nodule's centre (weighted by f) whose radius is the nodule's equivalent radius plus
// targetDeltaR millimetres, until the radius changes by less than 0.01 mm (at most 50 times): the
// margin takes in the blurred border and leaves out other bright structures of a generous ROI.
// Inside the sphere the low clamp is not applied: the margin bounds the background noise that the
// faint border brings in, so its whole fraction counts.

#include "CString.h"
#include "TwkTypes.h"

#pragma pack(push, 1)
struct VA_VOLNODEPARM {
  int32_t groundGlass = 620;   // ground-glass nodule attenuation
  int32_t solid = 1020;        // solid nodule attenuation
  int32_t threshold = 820;     // assumed threshold between ground glass and solid
  int32_t background = 300;    // background (lung) attenuation
  double purePercent = 7.5;    // share of the brightest ROI voxels that give the pure attenuation
  double lowClamp = 0.2, highClamp = 0.8;
  double targetDeltaR = 1.5;   // mm beyond the equivalent radius that the iterative form measures
};
#pragma pack(pop)

// Both give false (reported under the function's name) for a bad frame, an ROI that does not fit
// or is empty, attenuations not above the background, or an ROI without nodule voxels. The report
// holds "name\tvalue" lines; the clipboard text a header line and a line of values, tab-separated.
// region (may be null) restricts the measurement further (an ROI of the frame's size).
bool VA_VolNod_Basic(const FRAME* frame, const DIM3D* dims, const SPC* spacing, const FRAME* roi,
                     const VA_VOLNODEPARM* parms, const FRAME* region, CString* report, CString* clipboard);
bool VA_VolNod_MatchDeltaR(const FRAME* frame, const DIM3D* dims, const SPC* spacing, const FRAME* roi,
                           const VA_VOLNODEPARM* parms, CString* report, CString* clipboard);
