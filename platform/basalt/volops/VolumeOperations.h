#pragma once
// Volume operations of the imaging core that work on whole CVol objects: voxel-wise operations
// between layers, cropping into a new volume, comparisons of geometry and voxels, masking, and the
// small geometry and acquisition queries of a volume. The CVol member forms (Vol.h) forward here.
//
// Void voxels are 1e60 in real frames and 16777215 in 32-bit integer frames. Volumes returned are
// new and belong to the caller; failures are reported (prefix: the function's name) when show is
// set and give null or false.

#include <cstdint>

#include "CString.h"
#include "TwkTypes.h"
#include "VolProj.h"

class CVol;

// Voxel-wise operations between the marked layers of a set (the layer operations dialog).
enum VA_LAYEROP : int32_t {
  VA_LAYEROP_UNION = 1,           // ROIs: inside any operand
  VA_LAYEROP_INTERSECT = 2,       // ROIs: inside every operand
  VA_LAYEROP_A_AND_NOT_B = 3,     // ROIs: inside the first and none of the others
  VA_LAYEROP_XOR = 4,             // ROIs: inside an odd number of operands
  VA_LAYEROP_NOT = 5,             // ROIs: inside none of the operands (one operand: its complement)
  VA_LAYEROP_ABS_DIFF = 6,        // two volumes: |A - B|
  VA_LAYEROP_MAX_ZERO_DIFF = 7,   // two volumes: max(0, A - B)
};

// Name of an operation, used to name its result layer ("Union", "Intersection", "A_AND_NOT_B",
// "XOR", "NOT", "AbsDiff", "MaxZeroDiff"); "Unknown" for other codes.
const wchar_t* VA_LayerOperationName(int code);

// A new volume from count operands of equal width, height and depth. The ROI operations (1 to 5)
// take ROI operands only (two or more; NOT also one) and give an ROI; the differences (6, 7) take
// exactly two volumes of any kind (an ROI reads 1 inside, 0 outside) and give a real volume in
// which a voxel void in either operand is void. Operands of different time points combine when
// one of them has a single time point, which then applies to every time point of the other. The
// result takes the geometry, dynamic coordinates and records of the first operand with the most
// time points (an ROI result keeps only its first DICOM record); the caller names it.
CVol* VA_OperationOnVolumes(int code, CVol* const* operands, int count, bool show);

// Crops a volume into a new one: either a 4D box (inclusive voxel bounds and time-point range,
// inside the volume) or a list of time points ({count, t0, t1, ...}: count 0-based time indices in
// the order wanted, repeats allowed) is given, never both. Spacing, orientation, modality, name and
// unit are kept; image positions follow the box's corner; the kept time points keep their dynamic
// coordinates. With cloneDicom the DICOM records of the kept slices and time points are carried
// over (width, height and image position set for the crop), otherwise only the first one.
CVol* VA_VolCloneByCrop(const CVol* vol, const RECT4D* box, const int32_t* timeList, bool cloneDicom, bool show);

// Spacing and orientation equal within the program's tolerances (TwkMem's PR_IsEqualSpc and
// PR_IsEqualOrient); false when either volume is null.
bool VA_VolIsEqualSpc(const CVol* a, const CVol* b);
bool VA_VolIsEqualOrient(const CVol* a, const CVol* b);
// Whether two volumes describe the same data: equal width, height, depth and time points,
// spacing, orientation and, when both carry them, image positions; and unless tolerance is 1e60
// (or more), every voxel pair within tolerance x max(1, |a|, |b|), void matching only void.
// Voxel kinds may differ (an ROI reads 1 and 0). False (match untouched) for null arguments or
// volumes without voxels.
bool VA_VolIsMatchingVolume(const CVol* a, const CVol* b, double tolerance, bool* match);
// Same kind, bits, dimensions and voxels (the padding of ROI lines is not compared).
bool PR_FramesHaveIdenticalData(const FRAME* a, const FRAME* b);

// Sets the voxels of frame outside (inside false) or inside the mask to value, at time point t or
// at every time point (t = -1). The mask is an ROI of the frame's width, height and depth with one
// time point (used for all) or the frame's time points.
bool VA_VolCleanMask(FRAME* frame, int t, const FRAME* mask, bool inside, double value, bool show);
// The time point whose defined voxels (inside the ROI when one is given) have the largest sum;
// 0 for a single time point. False for a bad frame or ROI.
bool VA_VolGetTimeOfMaxInfo(const FRAME* frame, const FRAME* roi, int64_t* t, bool show);

// Spacing usable for display and measurement: the three spacings finite and positive (the void
// value is not a spacing).
bool VA_VolIsValidSpc(const CVol* vol);
// Length in millimetres of the diagonal of the volume's box (width x, height y, depth z spacing).
double VA_VolUnivoxDiam(const CVol* vol);
// Changes the nominal bits per voxel: an integer volume takes 1 to 32 (stored in 8, 16 or 32 bits,
// values clamped), an ROI only 1, a real volume only 64. The DICOM records take the stored width.
bool VA_VolSetBpv(CVol* vol, int bits);
// The volume's flip angle (degrees), repetition time and echo time (seconds): from its first DICOM
// record, else from the dynamic coordinates of its first time point; 1e60 when unknown.
double VA_VolGetFlipAngle(const CVol* vol);
double VA_VolGetTR(const CVol* vol);
double VA_VolGetTE(const CVol* vol);
// Replaces the volume's frame by a new one of kind type (FRM_ROI, FRM_INT, FRM_REAL; bpv 0: the
// kind's default) with every voxel set to value. The dynamic coordinates and image positions are
// resized to the new time points and depth when they do not fit (new entries zeroed); a volume
// without a frame keeps them as they are (they are expected to fit the dimensions).
bool VA_VolSetUniformFrame(CVol* vol, int type, const DIM3D& dims, double value, int bpv = 0);

// The anatomical plane that a view with this record (null: the native plane) shows: the patient
// axis closest to the viewing direction gives 0 sagittal (left-right), 1 axial (head-foot) or
// 2 coronal (front-back). -1 when the volume has no valid orientation.
int VA_VolGetMajorProjType(const CVol* vol, const VA_VOLPROJ* proj);
// The row and column direction cosines, in patient space, of the plane that a view with this
// record (null: the native plane) shows. False without a valid orientation.
bool VA_VolGetProjOrientation(const CVol* vol, const VA_VOLPROJ* proj, double orient[6]);

// A short text naming the plane that a view with this record (null: the native plane) shows as the
// screen shows it: "<plane> <a>><b> <c>><d>", where the plane is "AX", "COR" or "SAG" (the major
// projection type), a>b are the patient ends at the screen's left and right edge and c>d those at
// its top and bottom edge, each one of R/L, A/P, S/I by the strongest patient component of the
// screen axis. "AX R>L A>P" is an axial slice seen from the feet with the patient's right on the
// screen's left and the front at the top. False without a valid orientation.
bool VA_VolGetProjText(const CVol* vol, const VA_VOLPROJ* proj, CString* text);

// Values of the option "ProjViewConvention": how views name and turn their planes.
enum : int {
  VA_PROJ_CONVENTION_NONE = 0,          // views keep the plane they are given
  VA_PROJ_CONVENTION_RADIOLOGICAL = 1,  // axial from the feet, coronal from the front: right on the left
  VA_PROJ_CONVENTION_NEUROLOGICAL = 2,  // axial and coronal mirrored left to right: right on the right
};
// The projection text (VA_VolGetProjText) of the conventional view of a plane (0 sagittal, 1 axial,
// 2 coronal) under a convention. Both conventions show the sagittal plane with the front on the
// left and the head at the top ("SAG A>P S>I"); the radiological one shows axial as "AX R>L A>P"
// and coronal as "COR R>L S>I", the neurological one "AX L>R A>P" and "COR L>R S>I". Null for
// VA_PROJ_CONVENTION_NONE, an unknown convention or plane.
const wchar_t* VA_GetProjectionConventionName(int convention, int type);

// The rotation angles of the conventional view of an anatomical plane (0 sagittal, 1 axial,
// 2 coronal) under a convention (VA_PROJ_CONVENTION_*): the angles in *angles are kept when they
// already show that view, else the first quarter-turn triple that does is written (turns about x,
// then y, then z, tried in the order (i mod 4, (i div 4) mod 4, i div 16) x 90 degrees). Without a
// convention the view is any one of that plane. False (angles unchanged; reported when show is set)
// without a volume, a valid orientation or a known plane.
bool VA_RotateToSpecifiedOrient(const CVol* vol, int convention, int plane, DPOINT3D* angles, bool show);

// Splits a mosaic (one slice holding n images tiled row by row from the top left, in a square grid
// of ceil(sqrt(n)) columns and rows) into a volume of n slices of one tile each, for every time
// point. The width and height must divide by the grid size. Null (reported when show is set) for
// a frame of more than one slice, n < 1 or a grid that does not fit.
FRAME* VA_VolumeMosaicToVolumeUser(const FRAME* frame, int n, bool show);
