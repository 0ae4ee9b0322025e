#pragma once
// 2D radiomics features of the imaging core, as the Image Biomarker Standardisation Initiative
// reference manual defines them, slice by slice over ROIs:
//   - first order (intensity statistics of the ROI's voxel values, population moments;
//     intensity-histogram entropy and uniformity on the discretised values);
//   - GLCM (distances of the record's list, the four in-plane directions of each at Chebyshev
//     distance d, symmetric or not), GLRLM (the four in-plane directions) and GLDM (the
//     neighbourhood grey-level dependence matrix: Chebyshev distance 1, coarseness = dependence
//     eps).
// Discretisation: a fixed bin width w from the range's low end, bin = floor((v - low) / w) + 1 of
// Ng bins (VA_CalcRangeBins); voxels outside the range are clipped into the end bins with the
// clip flag and left out otherwise. Aggregation: each slice's directional matrices are merged with
// the record's weights (1 constant, 2 1/infinity norm, 3 1/Euclidean norm, 4 1/Manhattan norm of
// the offset) and the features of the merged matrix averaged over the slices; with "No averaging"
// (0) the features of every directional matrix are averaged instead. Void voxels are left out.
// The table: with the header row, a line naming the settings, then the column names; one row per
// ROI (the whole volume without one); undefined features are written "NaN".

#include <cstdint>

#include "CString.h"
#include "TwkTypes.h"
#include "roi/RoiStatPreset.h"

class CVol;

#pragma pack(push, 1)

// "Radiomics Features 2D".
struct VA_PARM_RADIOM2D {
  double resolution = 0.0;  // working resolution in mm; 0: the volume's own
  ROISTATPRESET discretisation;
  uint8_t glcm = 1, symmetric = 1, glrlm = 1, gldm = 1;
  int32_t dependenceEps = 0;
  uint8_t firstOrder = 1;
  wchar_t distances[32] = L"1";
  int32_t weights = 1;  // 0 no averaging, 1 constant, 2 infinity, 3 Euclidean, 4 Manhattan norm
  uint8_t headerRow = 1, toFile = 1, toClipboard = 1;
};
#pragma pack(pop)

// The feature table of time point t of vol over the ROIs (count of them, 3D ROIs of the volume's
// size; none: the whole volume), rows named by the ROIs' file titles (or name when given). A
// working resolution other than the volume's in-plane voxel size resamples the time point and the
// ROIs in-plane to it first (slice thickness kept; the signal linearly, an ROI voxel inside where
// the linear interpolation of the ROI exceeds one half). False, with the reason shown when show,
// for an undefined discretisation ("Histogram-based discretization is undefined."), a distance
// list that does not read or is longer than 31 characters, a negative working resolution,
// mismatching ROIs or a bad time point.
bool VA_VolumeRadiomics2D(const VA_PARM_RADIOM2D* record, const wchar_t* name, const CVol* vol, int t,
                          CVol* const* rois, int count, CString* text, bool show);
