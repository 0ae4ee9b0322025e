#pragma once
// Geometry of volumes: the one resampler of the imaging core (free rotation, scaling, change of
// resolution), exact quarter-turn rotations, padding, the patient orientation and image positions
// that go with a new grid, bounding boxes of ROIs and landmark files. Registration resamples
// through the same functions and the same convention.
//
// THE CONVENTION
//  - Voxel centres lie at integer indices (i, j, k). In the volume's own millimetre frame a voxel
//    centre is at (i * sx, j * sy, k * sz); in the patient (LPS, millimetres) it is
//      first image position + row * (i * sx) + column * (j * sy) + slice * (k * sz)
//    with row and column the direction cosines and slice the direction in which the slice index
//    grows (itk/ItkGeometry.h holds the adapter to ITK's physical space, which is exactly this).
//  - Rotation angles (ax, ay, az) in degrees give R = Rz * Ry * Rx: turn about x first, then y,
//    then z, as a view's projection record turns its plane. Column k of R is the direction in the
//    source's millimetre frame along which target axis k runs, so a rotation by a view's angles
//    makes the view's plane the native plane of the result.
//  - The rotation turns about the centre of the source grid ((dim - 1) / 2 * spacing), which lands
//    on the centre of the target grid.
//  - The target-to-source matrix (4 x 4, row-major, homogeneous, voxel indices):
//      source index = M * (target index, 1),   M = Ssrc^-1 * [R | csrc - R * ctgt] * Stgt
//    with S the diagonal spacings and c the grid centres in millimetres. In ITK terms the images
//    have origin 0, identity direction and their spacing, and the transform maps a target physical
//    point p to the source point R * p + (csrc - R * ctgt).
//  - Outside the source a voxel is 0 in integer and ROI results and void (1e60) in real results.
//    Integer results are rounded and clamped into the range of their width (a windowed sinc that
//    overshoots below 0 or above the range is clamped, never wrapped).
//
// Frames and volumes returned are new and belong to the caller. Failures are reported (prefix: the
// function's name) when show is set and give null or false; Esc during a resample stops it silently.

#include <cstdint>
#include <functional>
#include <limits>

#include "CString.h"
#include "TwkTypes.h"
#include "VolProj.h"

class CVol;

// Interpolation codes of the resampler.
enum VA_INTERP : int32_t {
  VA_INTERP_NEAREST = 0,
  VA_INTERP_LINEAR = 1,
  VA_INTERP_WSINC2 = 2,  // Hamming-windowed sinc of radius 2
  VA_INTERP_WSINC3 = 3,  // radius 3
  VA_INTERP_WSINC4 = 4,  // radius 4
};

// The patient frame of a volume as the convention reads it: the first slice's image position (0
// without positions) and the direction columns row, column and slice (the identity without a
// valid orientation).
void VA_VolPatientFrame(const CVol* vol, double origin[3], double axes[3][3]);

// R = Rz * Ry * Rx of angles in degrees (row-major 3 x 3).
void VA_RotationMatrix(double ax, double ay, double az, double r[3][3]);

// The grid of a rotation: with preserve the source's dimensions (the field of view and spacing of
// the source, only turned), otherwise the smallest grid of the target spacing whose voxel boxes
// cover the turned box of the source voxels; singleSlice keeps one slice (turns about z only).
// Fills the target dimensions (time points of the source) and the target-to-source matrix.
// False for bad dimensions, spacings or angles.
bool VA_RotationGrid(const DIM3D* dims, const SPC* spc, const SPC* targetSpc, double ax, double ay, double az,
                     bool preserve, bool singleSlice, DIM3D* targetDims, double matrix[16]);

// Resamples every time point of a frame through the target-to-source matrix onto a grid of
// targetDims (time points: the frame's) with the given interpolation. ROI frames are resampled as
// 0/1 and a voxel is inside where the interpolated value x 100 exceeds binaryThreshold (0..99).
// With gaussianDownscale the source is first smoothed along the axes where the target spacing is
// coarser (Gaussian of sigma = sqrt(target^2 - source^2) / 2.3548 mm, the FWHM difference).
FRAME* VA_VolResample(const FRAME* frame, const SPC* spc, const double matrix[16], const DIM3D* targetDims,
                      const SPC* targetSpc, int interpolation, bool gaussianDownscale, int binaryThreshold, bool show);

// How VA_VolResampleMapped maps a target voxel index to a source voxel index: a point function
// when set (non-linear transforms such as polynomials and flow fields; called for every target
// voxel from several threads at once, with the time point), else the 4 x 4 target-to-source
// matrices, one for every time point (matrixCount 1) or one per time point of the frame.
struct VA_RESAMPLE_MAP {
  const double* matrices = nullptr;  // 16 doubles each
  int matrixCount = 0;
  std::function<void(int t, const double target[3], double source[3])> point;
};

// The outside value (NaN) that keeps the convention's default: 0 for integer frames, void for real ones.
constexpr double VA_RESAMPLE_DEFAULT_OUTSIDE = std::numeric_limits<double>::quiet_NaN();

// VA_VolResample through a general mapping and with the value of voxels that map outside the
// source (ROI results read 0 there whatever it is). The sampling, interpolation, Gaussian
// downscale and threshold are VA_VolResample's.
FRAME* VA_VolResampleMapped(const FRAME* frame, const SPC* spc, const VA_RESAMPLE_MAP& map, const DIM3D* targetDims,
                            const SPC* targetSpc, int interpolation, bool gaussianDownscale, int binaryThreshold,
                            double outside, bool show);

// Free rotation into a new frame: the grid of VA_RotationGrid (targetDims, when given, overrides
// its dimensions) and VA_VolResample. The target-to-source matrix goes to matrix when given.
FRAME* VA_VolRotation(const FRAME* frame, const SPC* spc, const DIM3D* targetDims, const SPC* targetSpc, double ax,
                      double ay, double az, bool preserve, bool singleSlice, int interpolation,
                      bool gaussianDownscale, int binaryThreshold, double matrix[16], bool show);

// The patient geometry of a grid made from a volume through a target-to-source matrix: the
// orientation (row and column cosines) and the image position of every target slice
// (targetDims->d entries), so that every voxel keeps its place in the patient.
bool VA_GeometryThroughMatrix(const CVol* source, const double matrix[16], const DIM3D* targetDims,
                              const SPC* targetSpc, double orient[6], DPOINT3D* positions);
// The same for a rotation (VA_RotationGrid with preserve off unless the dimensions are the
// source's): the orientation and the first slice's image position.
bool VA_DicomOrientation_ChangeByRotation(const CVol* vol, double ax, double ay, double az, const DIM3D* rotatedDims,
                                          const SPC* targetSpc, double orient[6], DPOINT3D* position);

// A new volume of the same field of view at another voxel size (each axis: round(extent / size)
// voxels, at least 1), every layer property, dynamic coordinate and DICOM record carried; the
// patient geometry follows. Sizes below 0.001 mm or not finite: "Invalid resolution is specified".
CVol* VA_VolChangeResolution(const CVol* vol, const SPC* voxelSize, int interpolation, bool show);

// A new volume from a frame resampled out of vol through matrix: spacing, orientation and image
// positions of the target grid, everything else carried. Takes *frame (cleared) on success.
CVol* VA_CloneResampled(const CVol* vol, FRAME** frame, const double matrix[16], const SPC* targetSpc, bool show);

// The line-guide moves of a volume, resampled in place on its own grid (the frame keeps its
// address; every time point). The shift moves the voxels by the vector from points[0] to points[1]
// (voxel coordinates); "Shift vector is zero" for none. The sector turn rotates them about
// points[1] by the angle from points[0] to points[2], about the normal of the sector's plane, in
// millimetres (so the turn is a true rotation on anisotropic voxels); "Rotation is not specified"
// when the arms point the same way, "Sector arms should not lie on one line" for a straight
// sector. Outside the old field of view: 0 for integer and ROI volumes, void for real ones.
bool VA_VolShiftUsingVector(CVol* vol, const DPOINT3D points[2], int interpolation, bool show);
bool VA_VolRotateUsingSector(CVol* vol, const DPOINT3D points[3], int interpolation, bool show);

// Up to three turns by multiples of 90 degrees about the volume axes, applied in order.
#pragma pack(push, 1)
struct VA_ROT {
  int32_t axis[3] = {0, 0, 0};       // 0 none, 1 x, 2 y, 3 z
  double angle[3] = {0.0, 0.0, 0.0};  // degrees, multiples of 90
};
#pragma pack(pop)

// True when no axis turns (every axis none or its angle a multiple of 360).
bool VA_RotIsIdentity(const VA_ROT* rot);
// The 3 x 4 matrix (row-major, voxel indices) of an orthogonal rotation: with dstToSrc the target
// index maps to the source index, otherwise the inverse. Target spacing and dimensions (time
// points kept) go where given. False for axis codes outside 0..3 or angles off quarter turns.
bool VA_FitOrthoRotation_DstToSrcMatx(bool dstToSrc, const SPC* spc, const DIM3D* dims, const VA_ROT* rot,
                                      SPC* targetSpc, DIM3D* targetDims, double matrix[12]);
// The exact rotation of a volume by quarter turns into a new volume (one parallel pass, voxels
// copied, never interpolated); with keepWorld the orientation and image positions turn with the
// voxels so every voxel keeps its place in the patient. "Rotation is not specified" for none.
CVol* VA_VolOrthoRotate(const CVol* vol, const VA_ROT* rot, bool keepWorld, bool show);

// A frame grown by px, py, pz voxels on both sides of each axis (only after the end with
// endOnly), the new voxels set to value; the new dimensions go to dims when given. Negative pads:
// "Pad size must not be negative".
FRAME* VA_VolumePad(const FRAME* frame, int px, int py, int pz, bool endOnly, double value, DIM3D* dims, bool show);

// The box of an ROI's voxels over all its time points; an empty ROI gives x0 > x1 (the box
// INT_MAX.. -1). False for a frame that is not an ROI.
bool VA_RoiBoundRectAllTimes(const FRAME* roi, RECT3D* box);
// The same for the first time point.
bool VA_GetSingleBoundRect(const FRAME* roi, RECT3D* box);

// The identity 4 x 4 transform (row-major).
void VA_SetIdentityTransform(double matrix[16]);

// Landmarks of a text file: one landmark a line, its voxel x, y and z (0-based voxel centres,
// numbers separated by spaces, tabs or commas; blank lines and lines starting with '#' skipped).
// Every landmark must lie inside the frame's width, height and depth. A new pf_malloc array of
// *count points; null with "Invalid landmark line %d" or "Landmark %d is outside the volume".
DPOINT3D* VA_LoadLandmarkFile(const FRAME* frame, const wchar_t* path, int* count, bool show);

// Orientation from six patient letters (L, R, A, P, S, I): the screen's top, bottom, left and
// right edge and the first and last slice of the native plane, three opposite pairs on three
// different axes. The row direction points to the right letter, the column direction to the
// bottom letter and the slices run towards the last-slice letter; the first slice keeps its image
// position and the others follow it one spacing apart. False with
// "Orientation letters should be three pairs of opposite directions" for other letters.
bool VA_VolSetSpecifiedOrientation3AXIS(CVol* vol, const wchar_t* letters, bool show);
// Image positions: the first slice at start, the others one slice spacing apart along the normal
// of the orientation (row x column).
bool VA_VolSetImagePositions(CVol* vol, const DPOINT3D* start);
