#pragma once
// Curves of 4D volumes: which dynamic coordinate varies over the time points, and the mean signal
// inside an ROI at every time point (a time-activity curve).

#include <cstdint>

#include "TwkTypes.h"

// The coordinate that varies over the n time points: inversion time, echo time, b-value, flip
// angle or spin-lock time when one of them does (checked in that order, because series that vary
// an acquisition parameter often carry differing acquisition times as well), else time. A single
// time point is time; null coordinates give DYN_UNKNOWN.
DYNDIM VA_GetDynType(const DYNCRD* dyn, int numTimes);

// The mean of the frame's voxels inside the ROI at every time point, as a new pf_malloc array of
// T doubles. The ROI has the frame's width, height and depth and either one time point (used for
// every time point) or the frame's T; a null ROI takes the whole volume. Void voxels (1e60) of
// real frames are left out. A time point without voxels gives 1e60; validFlags, when given,
// receives a new pf_malloc array of T bytes, 1 where the mean is defined. Null on failure.
double* VA_VolGetRoiTac(const FRAME* frame, const FRAME* roi, uint8_t** validFlags = nullptr);
