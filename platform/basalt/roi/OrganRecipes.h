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

#pragma pack(push, 1)
// The heart recipe of a chest CT (an integer and two doubles).
struct VA_HEARTSEGCT {
  int32_t maxSI = 1400;   // signal above it (bone cortex, calcium, metal) is not heart (HU)
  double opening = 5.0;   // mm: the candidate is peeled and grown back by this much (3D opening),
                          // which cuts the heart from the great vessels and the chest wall
  double closing = 8.0;   // mm: per-slice closing of the result (valves, calcium, contrast gaps)
};
// The triangle structure graph's parameters; the first field is the triangle size threshold.
struct VA_STRUCGRAPHPARM {
  double sizeThreshold = 2.0;  // legs of the lattice triangles, pixels (rounded, at least 1)
};
#pragma pack(pop)

// One triangle of a slice's structure graph: three vertices in slice pixels and, across the edge
// from vertex k to vertex k + 1 (mod 3), the index of the neighbouring triangle or
// VA_TRINODE_NONE.
constexpr uint32_t VA_TRINODE_NONE = 0xFFFFFF;
struct TRINODE {
  int32_t x[3] = {0, 0, 0};
  int32_t y[3] = {0, 0, 0};
  uint32_t neighbour[3] = {VA_TRINODE_NONE, VA_TRINODE_NONE, VA_TRINODE_NONE};
};

// The heart of a 3D chest CT between two lung ROIs (time point 0 of each, the CT's grid;
// distances in mm on the CT's voxel size):
// 1. the mediastinum, per axial slice where both lungs are present, is the convex hull of the two
//    lungs' pixels without the lungs;
// 2. heart candidates are its voxels from a low threshold up to maxSI; the low threshold is the
//    Otsu level (256 bins) of its signal between the lungs' mean and its upper quartile, values
//    above the quartile counted in the top bin: it parts fat from muscle and blood without being
//    drawn up by bone;
// 3. a 3D opening of `opening` mm (peel, largest component, grow back inside the candidates) cuts
//    the vessels, the oesophagus and the chest wall off; the largest piece is the heart;
// 4. a per-slice closing of `closing` mm, kept inside the mediastinum, fills gaps of valves and
//    calcifications.
// A new ROI frame of the CT's size; null with "Invalid parameters", "Lung ROIs do not overlap in
// any slice" or "Heart is not found".
FRAME* VA_VolSegmentHeartCT(const VA_HEARTSEGCT* record, const CVol* ct, const CVol* lung1, const CVol* lung2,
                            bool show);

// The structure graph of an ROI slice (time point 0, slice 0 of the frame): the slice is covered by
// a lattice of right triangles whose legs are the size threshold in pixels (two per lattice cell,
// split along the cell's falling diagonal); a triangle is kept when its three vertices are ROI
// pixels. Each triangle lists its edge neighbours among the kept ones, so that the triangles of
// the ROI's interior have three and those along its border fewer. A new pf_malloc array of *count
// triangles (row-major by lattice cell, the upper-right triangle of a cell first); null with a
// count of 0 when none is kept or the arguments are bad.
TRINODE* VA_RoiSliceStructureGraph(const VA_STRUCGRAPHPARM* parameters, const FRAME* slice, int* count);
