#pragma once
// MapFit, the multi-agent contour evolution of the imaging core: a contour drawn on one slice is
// carried to the neighbouring slices one at a time. On each new slice every point (an agent) moves
// along the contour's normal, at most "Contour evolution step" voxels either way, to the best edge
// the record's switches describe; the displacements are then smoothed along the contour over
// "Contour smoothness" points either side, so that single agents do not leave the outline.
//
// The edge score of a candidate position is the gradient magnitude of the slice (Gaussian
// derivative, sigma = half the edge radius):
//   "Max gradient"                 the score is the magnitude (else 1 wherever it is non-zero);
//   "Gradient contour normal"      times |cos| of the angle between the gradient and the normal;
//   "Similar gradient direction"   candidates whose gradient turns against the agent's gradient on
//                                  the previous slice (negative dot product) are skipped;
//   "Prefer dark"                  candidates on the darker side of the edge win ties.
// An agent without a scoring candidate stays where it was. The other switches are kept in the
// record for the dialog and do not change this evolution.

#include <cstdint>

#include "TwkTypes.h"

#pragma pack(push, 1)
struct VA_MAPFITAGPARM {
  uint8_t similarSignature = 1;
  uint8_t maxEdge = 0;
  uint8_t similarGradient = 1;
  uint8_t similarGradientDirection = 1;
  uint8_t gradientContourNormal = 1;
  uint8_t wholeContourSimilarSignature = 1;
  uint8_t similarHistogramSignature = 0;
  uint8_t maxGradient = 1;
  uint8_t ridgeMap = 1;
  uint8_t reserved10 = 0;
  uint8_t preferDark = 0;
  int32_t reserved12 = 2;
  uint8_t snapContourEndsToBottomY = 1;
  double reserved14 = 2.0;
  double edgeRadius = 3.0;       // voxels
  double evolutionStep = 10.0;   // voxels
  int32_t smoothness = 5;        // points either side
  uint8_t reserved18 = 1;
  uint8_t reserved19 = 0;
  uint8_t reserved20 = 0;
  double signatureRadius = 5.0;  // voxels
  int32_t reserved22 = -1;
  int32_t reserved23 = 0;
  int32_t reserved24 = 100;
  uint8_t reserved25 = 1;
};
#pragma pack(pop)

// Carries the contour (continuous voxel coordinates of one slice, floor(z) its slice) over the
// slices z0 .. z1 of time point t. Returns z1 - z0 + 1 point arrays (pf_malloc; the array too),
// one per slice from z0, with their point counts in *counts (pf_malloc); the contour's own slice
// keeps the contour as it was drawn. Null (with its message when show) for a bad range or time
// point, a contour of fewer than 3 points or one outside 0 .. depth - 1, or on Esc.
DPOINT3D** VA_MorphContourMultiAgent(const VA_MAPFITAGPARM* parms, const FRAME* frame, const SPC* spc, int t,
                                     int z0, int z1, const DPOINT3D* contour, int count, int** counts, bool show);
// Frees what VA_MorphContourMultiAgent returned.
void VA_FreeMorphContours(DPOINT3D*** contours, int** counts, int slices);
