#pragma once
// Dynamic coordinates of 4D volumes: which coordinate varies along the time points (the dynamic
// dimension) with its name and unit, the order of the time points along a coordinate ("dynamic
// index" = position in ascending order of the coordinate, equal values kept in acquisition order;
// "time index" = position as stored), chronological ordering of a volume, the per-time-point
// repetition time, echo time and flip angle, and voxel curves.
//
// The volume forms take the CVol as first argument (VA_Vol...): the CVol class itself belongs to
// the shared header. Units: times in seconds, b-values in s/mm^2, flip angles in degrees.

#include <cstdint>

#include "CString.h"
#include "TwkTypes.h"

class CVol;

// Name and unit of a dynamic dimension ("Time"/"sec", "Inversion time"/"sec", "Echo time"/"sec",
// "B-value"/"s/mm2", "Flip Angle"/"deg", "TSL"/"sec"); "Unknown"/"" for others.
const wchar_t* VA_DynDimName(DYNDIM kind);
const wchar_t* VA_DynDimUnit(DYNDIM kind);
// The value of one coordinate of a record (the time for DYN_TIME and DYN_UNKNOWN).
double VA_DynCoordinate(const DYNCRD& record, DYNDIM kind);

// order[i] = the time index of the i-th time point in ascending order of the coordinate kind (ties
// in acquisition time order, then stored order). False for null arguments or n < 1.
bool VA_SpecifiedDynComponentToChronoOrder(DYNDIM kind, const DYNCRD* dyn, int n, int* order);
// The same for the coordinate that varies (VA_GetDynType); kind, name and unit may be null.
bool VA_MainDynComponentToChronoOrder(const DYNCRD* dyn, int n, int* order, DYNDIM* kind, CString* name,
                                      CString* unit);
// Between the dynamic index along components (ties by times, then stored order) and the time index.
bool VA_DynInxToTimeInx(const double* times, const double* components, int n, int dynInx, int* timeInx);
bool VA_TimeInxToDynInx(const double* times, const double* components, int n, int timeInx, int* dynInx);

// The dynamic dimension of a volume: its kind, name, unit and a new pf_malloc array of T values in
// dynamic order (ascending). False for a volume without frame or dynamic coordinates.
bool VA_VolGetDynamicDimension(const CVol* vol, DYNDIM* kind, CString* name, CString* unit, double** values);
bool VA_VolDynInxToTimeInx(const CVol* vol, int dynInx, int* timeInx);
bool VA_VolTimeInxToDynInx(const CVol* vol, int timeInx, int* dynInx);
// Reorders a curve of T values from time order into dynamic order, in place.
bool VA_VolTacToDynamicOrder(const CVol* vol, double* curve);
// Puts the time points of the volume in order of acquisition time when they are not: the frame's
// time blocks, the dynamic records and the DICOM records (depth per time point) move together.
// True when the volume is (now) in order; false for a volume without frame or dynamic records.
bool VA_EnforceChronoOrder(CVol* vol, bool show);
// Per time point repetition time, echo time (seconds) and flip angle (degrees), as a new pf_malloc
// array of T values (1e60 where unknown).
double* VA_VolGetAll_TR(const CVol* vol);
double* VA_VolGetAll_TE(const CVol* vol);
double* VA_VolGetAll_FA(const CVol* vol);

// The curve of a voxel: the mean over the neighbourhood of the given radius (a square in the slice
// when is2D, else a cube), clipped to the volume, at every time point; void voxels are left out and
// a time point without defined voxels gives 1e60. New pf_malloc array of T values; null when the
// voxel is outside the frame or the frame is an ROI.
double* VA_VolGetTac(const FRAME* frame, int x, int y, int z, int radius, bool is2D);

// A synthetic real 4D frame of dims.w x dims.h x dims.d voxels and `count` time points, every voxel
// holding the curve plus Gaussian noise of standard deviation noise x the curve's largest absolute
// value (noise 0: the curve itself). The noise of each voxel is drawn from a generator seeded by
// the voxel's index, so a frame is the same on every run. Null for a bad argument or no memory.
FRAME* VA_VolumeCreateFromTAC(const double* values, int count, const DIM3D& dims, double noise);
