#pragma once
// The N-tuple file of several parametric maps: tab-separated text, a header row naming the
// columns ("x", "y", "z" with coordinates, then each map's file title), and a row per voxel of
// the ROI (every voxel without one) in voxel order, values written in full precision and "NaN"
// where a map is undefined (void or not finite). The file is written to a temporary file beside
// the target and renamed over it only when complete.

class CVol;

// False (with the reason shown when show) for fewer than two maps, maps that are not real 3D
// volumes of equal width, height and depth ("Maps of equal dimensions are required"), an ROI of
// another size, or a file that cannot be written.
bool VA_SaveParamMapNtupleFile(bool coordinates, const wchar_t* path, CVol* const* maps, int count, const CVol* roi,
                               bool show);
