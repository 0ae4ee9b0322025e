#pragma once
// The blood-vessel map of a 4D perfusion series: the voxels of an ROI whose time curves follow one
// of the input functions (the blood curves of arteries or veins) form one map per input function;
// every other voxel of the ROI is organ tissue.

#include <cstdint>

#include "TwkTypes.h"

struct INPUTFUNC;

#pragma pack(push, 1)
struct VA_VESSMAP_PARM {
  int32_t baselinePoints = 1;  // first time points (chronological) averaged as a curve's baseline
  int32_t minVoxels = 10;      // vessel pieces with fewer voxels are organ
  int32_t maxLag = 2;          // time points a voxel curve may lag behind its input function
  double maxShapeError = 10.0; // %: RMS difference of the peak-normalised enhancement curves
  double minEnhancement = 10.0;  // %: least peak enhancement of a vessel voxel, of the function's
  double maxEnhancement = 10.0;  // times: most peak enhancement of a vessel voxel, of the function's
  uint8_t mode3D = 1;          // vessel pieces are 26-connected in 3D (else 8-connected per slice)
};
#pragma pack(pop)

// Method. The enhancement curve of a voxel is its signal at the time points in chronological order
// (order[k] is the stored time point of the k-th) minus its baseline, the mean of the first
// baselinePoints values; the input function's values are taken at the same positions (point k of
// the function belongs to the k-th time point) and enhanced the same way. A voxel matches a
// function when its peak enhancement lies between minEnhancement % and maxEnhancement times the
// function's, and the root-mean-square difference of both curves, each divided by its peak, is at
// most maxShapeError % for a lag of 0..maxLag time points of the voxel behind the function (the
// function's first value before its start). Of several matching functions the one with the
// smallest difference wins (the first on ties). Vessel pieces smaller than minVoxels go back to
// the organ. With smooth, a voxel's curve is the mean over it and its face neighbours inside the
// ROI (in-plane only when the slices are more than twice as thick as the pixels on spc) before
// matching, which steadies noisy curves.
//
// frame: a 4D volume of T >= 2 time points; roi: an ROI of its size (time point 0); ifuncs: n
// records of at least T points each, n >= 1. Returns a new pf_malloc array of n + 1 ROI frames
// (free with PR_FrameArrDelete): the map of each function, then the organ. Null on failure
// ("Invalid parameters", "Input function %d is shorter than the series", "Input function %d does
// not enhance") or Esc.
FRAME** VA_VolVesselMap(const VA_VESSMAP_PARM* record, const FRAME* frame, const FRAME* roi, const SPC* spc,
                        const int* order, const INPUTFUNC* ifuncs, int n, bool smooth, bool show);
