#pragma once
// VA_BODYFORG, the parameters of the body-foreground detection (the body mask of a volume): the
// body's radius, the relative threshold that separates body from background, and the peel or grow
// applied to the mask (negative peels), with the two integer settings the detection takes.

#include <cstdint>

struct VA_BODYFORG {
  int32_t mode = 0;
  double bodyRadius = 200.0;          // mm
  double relativeThreshold = 0.0005;  // of the volume's signal range
  double peelGrow = 0.0;              // mm; negative peels the mask
  double peelGrowApplied = 0.0;       // the peel or grow the detection applies (a copy of peelGrow)
  int32_t passes = 3;
};
