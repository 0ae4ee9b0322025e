#pragma once
// Voxel-kind conversions, value ranges, void voxels, mirroring and test patterns of the imaging core.
// Frames returned are new and belong to the caller (PR_FrameDelete); volumes returned are new.
// Void voxels are 1e60 in real frames and 16777215 in 32-bit integer frames; conversions carry them
// across (a void that a narrower integer frame cannot mark becomes 0 there).

#include <cstdint>

#include "TwkTypes.h"

class CVol;

// A real frame as unsigned integers of bits result bits (1..32; 8-, 16- or 32-bit voxels): each
// value plus bias, rounded to the nearest integer and clamped to [0, 2^bits - 1]. Null for a frame
// that is not real or bits out of range (reported when show is set).
FRAME* VA_VolRealToInteger(const FRAME* frame, double bias, int bits, bool show);
// A copy with bpv bits per voxel: 8, 16, 32 (integers, clamped) or 64 (reals); an ROI becomes 0/1.
// The two further arguments are accepted for the callers that pass them and change nothing.
FRAME* VA_VolConvertBits(const FRAME* frame, int bpv, int reserved1 = 0, int reserved2 = 0);
// A copy of an integer volume with real voxels (geometry and records copied).
CVol* VA_VolIntegerToReal(const CVol* vol, bool show);
// Converts an integer volume to real voxels in place: value * scale + offset.
bool VA_VolIntegerToReal(CVol* vol, double scale, double offset);
// A copy of an ROI volume as 8-bit integers, 1 inside and 0 outside.
CVol* VA_RoiToInteger(const CVol* roi, bool show);

// Minimum and maximum of the defined voxels of time point t (-1: all), inside mask when given (an
// ROI of the frame's width, height and depth, one time point or the frame's). False when no voxel
// counts.
bool VA_VolMinMax(const FRAME* frame, int t, const FRAME* mask, double* minimum, double* maximum);
// Every defined voxel of a real frame is a whole number (integer frames always are).
bool VA_IsQuasiInteger(const FRAME* frame);
// The minimum and maximum of the defined voxels of a real frame (all time points) and whether every
// one of them is a whole number, in one pass. False for a frame that is not real or holds no defined
// voxel (void voxels, 1e60, are left out; a NaN counts as not whole).
bool VA_VolRealRange(const FRAME* frame, double* minimum, double* maximum, bool* whole);
// The frame holds at least one void voxel.
bool VA_VoidVoxPresent(const FRAME* frame);
int64_t VA_VolCountVoidVoxels(const FRAME* frame);

// Reverses the voxel order along axis 0 (x), 1 (y), 2 (z) or 3 (time points) in place. With
// keepWorld (spatial axes only) orientation and image positions change so that every voxel keeps
// its place in the patient: mirroring twice restores the volume exactly.
bool VA_VolMirror(CVol* vol, bool keepWorld, int axis);

// Fills the frame with a checkerboard of 8-voxel cubes alternating 0 and 1000 (the largest value of
// 8-bit frames, 1 in ROI frames).
bool VA_MakeCheckerBoard(FRAME* frame, bool show);
