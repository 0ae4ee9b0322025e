#pragma once
// VA_BODYFORG, the parameters of the body-foreground detection (the body mask of a volume): the
// body's radius, the relative threshold that separates body from background, and the peel or grow
// applied to the mask (negative peels), with the two integer settings the detection takes.

#include <cstdint>

#include "TwkTypes.h"

struct VA_BODYFORG {
  int32_t mode = 0;
  double bodyRadius = 200.0;          // mm
  double relativeThreshold = 0.0005;  // of the volume's signal range
  double peelGrow = 0.0;              // mm; negative peels the mask
  double peelGrowApplied = 0.0;       // the peel or grow the detection applies (a copy of peelGrow)
  int32_t passes = 3;
};

// The body foreground of time point t as a new ROI of one time point (defined in roi/BodyMask.cpp).
// Voxels above minimum + relativeThreshold x (maximum - minimum) of the defined voxels are
// candidates; the largest 26-connected candidate component is the body; everything farther than
// bodyRadius mm (in the slice plane) from its centre of mass is cleared; the enclosed holes of every
// slice and then of the whole mask are filled (lungs, bowel gas); last the mask's outer surface is
// peeled (peelGrow < 0) or grown (> 0) by |peelGrow| mm on the true spacing. Null (reported when
// show is set) for a bad frame, a radius not above 0, no candidate voxel or Esc.
FRAME* VA_DetectBodyForeground(const VA_BODYFORG* parms, const FRAME* frame, const SPC* spacing, int t, bool show);
