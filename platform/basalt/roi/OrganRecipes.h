#pragma once
// Fixed recipes that segment or measure one structure, and the measures of the all-document
// reports: knee cartilage beside a bone mask, segments along the longest axis of an ROI (pancreas),
// the mean of volumes over ROIs, and the vicinity irregularity of a slice stack.

#include <cstdint>

#include "CString.h"
#include "TwkTypes.h"

class CVol;

#pragma pack(push, 1)
// Cartilage beside the femur and tibia (two doubles).
struct VA_GETCARTILAGE {
  double maxThickness = 5.0;  // mm from the bone surface
  double coefficient = 2.0;   // times the bone average
};
#pragma pack(pop)

// Where the longest-axis segments start: 0 the axis's negative end, 1 its positive end, 2 the
// thicker end (the end whose outermost segment holds more voxels; the head of a pancreas).
enum VA_AXISSTART : int { VA_AXISSTART_NEGATIVE = 0, VA_AXISSTART_POSITIVE = 1, VA_AXISSTART_THICKER = 2 };

// Cartilage: the voxels outside the bone mask (time point 0 of both) within the maximum thickness
// of its surface (mm on spc) whose signal is at least coefficient x the mean signal inside the bone,
// kept where they are connected (26) to a voxel next to the bone. A new ROI frame; null on failure
// ("Bone mask is empty").
FRAME* VA_VolDetectCartilageFromFemurAndTibia3(const VA_GETCARTILAGE* record, const FRAME* volume, const FRAME* bone,
                                               const SPC* spc, bool show);

// The ROI's longest axis (the first principal axis of its voxel centres in millimetres) cut into
// `segments` slabs of equal length perpendicular to it, numbered from the start end: a 32-bit label
// frame (segment k + 1 on the ROI voxels of slab k) and a report: the axis length and direction
// (in patient coordinates through the six direction cosines of the volume's rows and columns), then
// per segment its voxels, volume in cm3 and the volume's mean over it. Null on failure (an empty
// ROI, fewer than 2 segments).
FRAME* VA_RoiLongestAxis_MeasureNonopverlappingSegments(const CVol* volume, const CVol* roi, const double* orientation,
                                                        int segments, int start, CString* report, bool show);

// The mean of each volume (time point t, or its last) over each 3D ROI, as text: a header line
// "ROI" and the volumes' file titles, then one line per ROI with its file title and the means
// ("%e"; "void" when the ROI holds no defined voxel of the volume). False when an ROI does not
// match a volume's size.
bool VA_CalcMeanOverAllRois(int t, const CVol* const* volumes, int volumeCount, const CVol* const* rois, int roiCount,
                            CString* text, bool show);

// The vicinity irregularity of time point 0: the mean absolute difference between each defined
// voxel and the mean of its defined in-plane 8-neighbours, over the mean absolute value of those
// voxels (0 for a flat volume). Per slice, so that slice thickness does not enter. False for a
// bad frame or a volume without a voxel that has a neighbour.
bool VA_VolVicIrregularity2D(const FRAME* frame, double* value);
