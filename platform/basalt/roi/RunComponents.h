#pragma once
// Connected components of ROI frames, labelled on runs instead of voxels.
//
// Method: every image line of the packed ROI is cut into runs of set voxels (one parallel pass
// over the lines); each run is joined to the runs of the already seen neighbouring lines that
// touch it under the connectivity (a lock-free union-find whose roots are the smallest run index,
// linked in parallel over the lines); the roots are then numbered in raster order (z, y, x of the
// component's first voxel, as scipy.ndimage.label numbers them). Memory and time follow the
// number of runs, not of voxels: no label image is made unless a caller asks for one.
//
// Connectivity 6, 18 or 26 in 3D; with twoD the components stay inside their slice, 4-connected
// for 6 and 8-connected otherwise.

#include <cstdint>
#include <vector>

#include "TwkTypes.h"

namespace twk::cc {

struct Run {
  int32_t x0 = 0, x1 = 0;  // inclusive
};

struct RunLabels {
  DIM3D dim;                        // w, h, d of the labelled time point (t = 1)
  std::vector<int64_t> lineStart;   // h * d + 1 offsets: runs of line (z, y) are [lineStart[z*h+y], lineStart[z*h+y+1])
  std::vector<Run> runs;
  std::vector<uint32_t> label;      // component of each run, 0 .. count - 1
  std::vector<int64_t> size;        // voxels of each component
  int64_t count = 0;

  int64_t lineOf(int64_t z, int64_t y) const { return z * dim.h + y; }
};

// Labels the set voxels of time point t (invert: the clear voxels, which is how holes are found).
// False for a frame that is not an ROI, a bad time point or connectivity, more runs than 32-bit
// labels hold, no memory, or a stop by Esc when stop is given (it is polled between the passes).
bool labelRoi(const FRAME* roi, int t, int connectivity, bool twoD, bool invert, RunLabels* out,
              bool (*stop)(void*) = nullptr, void* stopContext = nullptr);

// Writes the runs of the components for which keep(label) is true into time point t of dst, an
// ROI frame of the same w, h, d whose time point is cleared first (clear false: set voxels are
// added to what is there). One parallel pass over the lines.
template <class Keep>
void writeRuns(const RunLabels& labels, FRAME* dst, int t, bool clear, Keep keep);

// Component of the largest size (the first in label order on ties); -1 when there is none.
int64_t largestComponent(const RunLabels& labels);

// Inclusive voxel box of every component.
std::vector<RECT3D> componentBoxes(const RunLabels& labels);

// True when the component touches a face of the grid (in 2D labellings: an edge of its slice).
std::vector<uint8_t> componentsOnBorder(const RunLabels& labels, bool twoD);

}  // namespace twk::cc

#include "roi/RunComponents.inl"
