#pragma once
// Voxel values changed in place or mapped into a new frame: replacing one value, making a value
// void and filling void voxels, copying one time point onto another, the clamped linear
// conversion, histogram equalisation and the natural logarithm.
//
// Void voxels are 1e60 in real frames and 16777215 in 32-bit integer frames; 8- and 16-bit integer
// frames hold none. The in-place functions run over every voxel in parallel, in one pass, on the
// frame itself. Failures are reported (prefix: the function's name) when show is set and give
// false or null; a refused call changes nothing.

#include "TwkTypes.h"

class CVol;

// Every voxel equal to value (inside roi when given: an ROI of the frame's width, height and
// depth with one time point or the frame's) becomes replacement. For an integer frame the
// replacement must be a whole number the voxels can hold (or 1e60 for 32-bit voids).
bool VA_VolReplaceValue(FRAME* frame, const FRAME* roi, double value, double replacement, bool show);
// Every voxel equal to value becomes void. An 8- or 16-bit integer frame is widened to 32 bits
// first (in place: the frame keeps its address) when any voxel is to change.
bool VA_VolMakeSignalVoid(FRAME* frame, double value, bool show);
// Every void voxel becomes value (for an integer frame a whole number the voxels can hold).
bool VA_VolChangeVoidToSignal(FRAME* frame, double value, bool show);
// Copies time point srcT of src onto time point dstT of dst; both of one kind, width, height and
// depth (they may be the same frame). False for indices outside the frames.
bool VA_VolCopy(FRAME* dst, int dstT, const FRAME* src, int srcT);
// The clamped linear conversion (VA_LINCONV, VA_VolLinearConversionWithClamp) is declared with
// the ROI statistics (roi/RoiStatistics.h) and defined here: every defined voxel inside the ROI,
// voids stay void, integer results rounded and kept within the voxels' range.
// A new frame of the same kind with the histogram equalised onto the frame's own value range:
// v' = min + (max - min) * F(v), F the cumulative distribution of the defined voxels (of each
// integer value for integer frames; of 256 bins, interpolated at the bin centres, for real ones).
// Void voxels stay void; a constant frame is copied.
FRAME* VA_VolEqualizeHist(const FRAME* frame, bool show);
// A new real frame of the natural logarithm of every voxel; values <= 0 and void voxels are void.
FRAME* VA_VolLogConvert(const FRAME* frame, bool show);
