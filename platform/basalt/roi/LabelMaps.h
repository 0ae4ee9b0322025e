#pragma once
// Label maps of the imaging core: several ROIs into one label frame and back, averages of ROIs,
// and onion-peel shells of an ROI.

#include <cstdint>

#include "TwkTypes.h"

// One 32-bit integer label frame: ROI i gives label i + 1 (a later ROI wins where they overlap),
// 0 elsewhere. The ROIs share width, height and depth; the frame takes the most time points, and
// a 3D ROI applies to every time point. Null for no ROIs or mismatched sizes.
FRAME* VA_MakeAtlas(const FRAME* const* rois, int count);
// One ROI frame per region label that occurs in the label frame (integer or real, values rounded),
// in label order: the labels 1 .. labelCount - 1 (labelCount 0: any label from 1), only those of
// list when it is not empty (integers separated by commas). count receives the number of frames and
// outLabels (may be null) a pf_malloc array of their labels. Null (count 0) when none occurs or the
// list does not read ("Invalid region list").
FRAME** VA_AtlasSplit(const FRAME* labels, const wchar_t* list, int labelCount, int** outLabels, int* count,
                      bool show);
// The voxel-wise mean of count 3D ROIs times normalisation as a real frame; voxels in none of them
// take background (-1: the void value, drawn transparent).
FRAME* VA_AverageRois(const FRAME* const* rois, int count, double normalisation, double background);
// n shells peeled from the surface of time point t inwards, width millimetres each (inside
// distance in (k width, (k + 1) width]); the last shell holds the rest of the ROI. Null for n < 1,
// width <= 0 or an empty ROI.
FRAME** VA_RoiOnionPeel(const FRAME* roi, const SPC* spc, int t, double width, int n, bool show);
