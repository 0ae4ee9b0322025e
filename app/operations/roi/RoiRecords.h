#pragma once
// Parameter records of the ROI operations that outlive one command, with their start values.

#include <cstdint>

#pragma pack(push, 1)
// The peel and grow record of twk::roiops::RoiPeelGrow, edited by the "Inflate\Deflate ROI" dialog.
struct ROIPEELGROW {
  double radius = 1.0;      // its absolute value is used on all three axes
  uint8_t useVoxels = 1;    // the radius is in voxels, else in millimetres
  uint8_t allLayers = 0;    // every ROI layer of the set, else the operand ROI only
  uint8_t grow = 0;         // grow, else peel
  uint8_t mode3D = 1;
};
#pragma pack(pop)
static_assert(sizeof(ROIPEELGROW) == 12, "ROIPEELGROW is byte-packed");

// The records of "Peel (all timepoints)" and "Grow (all timepoints)".
extern ROIPEELGROW g_RoiPeelParms;
extern ROIPEELGROW g_RoiGrowParms;

struct VA_SALTPEPPER;
// The record of "Remove "Salt and Pepper" artefacts" (connectivity 6, 2D mode, salt and pepper
// removal on, both thresholds 4).
extern VA_SALTPEPPER g_SaltPepperParms;
