#pragma once
// Feature points of the imaging core from the structure tensor J: the image is smoothed at the
// derivative scale (a Gaussian of sigma = scale / 2 mm), its gradient taken by central
// differences, and the products of the gradient's components smoothed at the integration scale
// (sigma = scale mm). The response is the smallest eigenvalue of J (type 1, Tomasi) or the basic
// Harris measure det J - k (trace J)^n (type 0; k = 0.04, n = 2 in single slices, k = 0.005, n = 3
// in volumes). Feature points are the voxels whose response exceeds threshold times the median of
// the positive responses and is the largest within density (mm) around them. Single-slice
// volumes are handled in their plane. Only time point 0 is used; an ROI (3D) limits both.

#include <cstdint>

#include "TwkTypes.h"

#pragma pack(push, 1)
struct VA_FEATUREDETECT {
  int32_t type = 1;        // 1 Tomasi, 0 basic (Harris)
  double scale = 1.5;      // spatial scale, mm
  double density = 5.0;    // the smallest distance between two points, mm
  double threshold = 1.0;  // in medians of the positive responses
};
#pragma pack(pop)
static_assert(sizeof(VA_FEATUREDETECT) == 28, "VA_FEATUREDETECT is 28 bytes");

// The response map (a new real frame of one time point, 0 outside the ROI); null on failure.
FRAME* VA_VolFeatureResponseMap(const VA_FEATUREDETECT* record, const FRAME* frame, const SPC* spc, const FRAME* roi,
                                bool show);
// The feature points (a new pf_malloc array of *count points, strongest first); null with *count
// 0 when there are none or on failure.
POINT3D* VA_VolFeaturePointCoords(const VA_FEATUREDETECT* record, const FRAME* frame, const SPC* spc,
                                  const FRAME* roi, int* count, bool show);
