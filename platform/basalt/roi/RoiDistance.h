#pragma once
// Distance-based ROI operations: peel (deflate) and grow (inflate), surface distance maps, ring
// profiles, overlap and surface distances between two ROIs.
//
// Distances are exact Euclidean distances between voxel centres on the true spacing (ITK's signed
// Maurer distance map): a voxel outside the ROI is as far as the nearest ROI voxel, a voxel inside
// as far as the nearest voxel outside (as scipy.ndimage.distance_transform_edt measures them with
// its sampling). The volume's edge is not a surface: peeling works from the ROI's clear voxels.
// A null spacing means 1 per axis (voxel units).
//
// Grow by radii (rx, ry, rz) adds the voxels within the ellipsoid of those radii around the ROI:
// distance <= 1 on the spacing (sx / rx, sy / ry, sz / rz). Peel keeps the voxels whose clear
// neighbourhood lies farther than 1 on that spacing. Without 3D mode each slice is treated on its
// own (its neighbours in z never count).

#include <cstdint>

#include "TwkTypes.h"

// Grows (inflate) or peels (deflate) the ROI in place: every time point with allTimePoints, else
// time point 0. Radii must be positive ("Radius should be positive"); false on failure or Esc
// (the ROI is then unchanged).
bool VA_RoiInflate(FRAME* roi, const SPC* spc, bool mode3D, bool allTimePoints, double rx, double ry, double rz,
                   bool show);
bool VA_RoiDeflate(FRAME* roi, const SPC* spc, bool mode3D, bool allTimePoints, double rx, double ry, double rz,
                   bool show);

// Peels the ROI's external surface by peel and then grows it by grow (millimetres on spc, voxels
// without), in place, in 3D (mode3D) or per slice, at every time point. Only the external surface
// moves: the ROI's enclosed holes are kept as they are. Zero skips a step; negative values are
// refused.
bool VA_RoiPeelGrow(FRAME* roi, const SPC* spc, double peel, double grow, bool mode3D, int reserved, const void* unused,
                    bool show);

// Distances from the ROI's surface in hundredths of a millimetre as a new 32-bit integer frame of
// the ROI's size: inside voxels measure to the nearest clear voxel, outside voxels to the nearest
// ROI voxel; the side not asked for, and voxels without any surface to measure to, hold the void
// 16,777,215 ("unmeasured"); larger distances are clamped below it.
FRAME* VA_RoiWaveDistance_x100(const FRAME* roi, const SPC* spc, bool inside, bool outside, bool show);

// Inside distance map of time point t in voxel units (spacing 1) or millimetres (spc given) as a
// new 64-bit real frame: 0 outside the ROI.
FRAME* VA_RoiInsideDistance(const FRAME* roi, int t, const SPC* spc, bool show);

// First-order statistics of the rings peeled from the ROI's surface inwards, step voxels thick:
// ring k holds the ROI voxels whose inside distance in voxels lies in (k step, (k + 1) step].
// Arrays (pf_malloc, count entries each, any may be null) of mean, population standard deviation,
// skewness, excess kurtosis and median of the volume's defined voxels at time point t.
bool VA_RoiGetPeelProfile(const FRAME* volume, int t, const FRAME* roi, int step, double** mean, double** stdev,
                          double** skewness, double** kurtosis, double** median, int* count, bool show);

// DICE coefficient 2 |A and B| / (|A| + |B|) of time points ta and tb over slices z0..z1; 0 when
// both are empty there. The two counts (may be null) receive |A| and |B|.
bool VA_MeasureDICE(const FRAME* a, int ta, const FRAME* b, int tb, int z0, int z1, double* dice, int64_t* countA,
                    int64_t* countB);

// Symmetric Hausdorff distance and average distance (mm, spacing of a) between two 3D ROIs of one
// size. Area based: over all voxels (the average is the mean of the two directed mean distances).
// Edge based: over their surface voxels (the voxels with a clear face neighbour); the average is
// the contour mean distance. False for empty or mismatched ROIs.
bool VA_HausfdoffDist(bool edgeBased, const FRAME* a, const FRAME* b, const SPC* spc, double* hausdorff,
                      double* average);

// Concentric zones between two ROIs (distances in voxels: the frames carry no spacing). The ROI
// of fewer voxels is the inner object, the other the outer one. A voxel of the outer ROI outside
// the inner one lies at the normalised depth s = a / (a + b), a its distance to the inner ROI and
// b its distance to the nearest voxel outside the outer ROI; its zone is 1 + floor(s zones)
// (at most zones). The result is a 32-bit integer label frame, 0 outside the zones.
#pragma pack(push, 1)
struct VA_MZCO {
  int32_t method = 3;  // 3: normalised distance between the two surfaces (the only method)
  int32_t zones = 10;
};
#pragma pack(pop)
FRAME* VA_ProduceMultipleZoneConcentricObjects(const VA_MZCO* record, const FRAME* first, const FRAME* second,
                                               bool show);
// Closes broken contours in slices z0..z1 of every time point in place: a closing by a disc of
// diameter distance (mm on spc, voxels without), that is a grow and a peel by distance / 2 in
// each slice, then the slices' contours filled. Gaps up to distance wide are bridged; no voxel of
// the ROI is removed. False (ROI unchanged) for distance <= 0, a bad slice range or Esc.
bool VA_RoiContourSimpleClosureAndFill2D(FRAME* roi, const SPC* spc, double distance, int z0, int z1, bool show);
