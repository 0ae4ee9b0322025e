#pragma once
// The last-used histogram settings of the ROI statistics for one layer: the ROI statistics dialog
// opens with them and its OK writes them back. An ROI layer keeps one for the operand it was last
// measured against; the radiomics parameters embed one as their discretisation.

#include <cstdint>

struct ROISTATPRESET {
  uint64_t owner = 0;  // CDrawVol::LayerId of the layer the values belong to; 0: none
  double rangeLow = 1e60, rangeHigh = 1e60, binWidth = 1e60;  // 1e60: not set
  uint8_t clip = 0;

  // Back to "nothing set" for the given owner.
  void Reset(uint64_t newOwner) { *this = ROISTATPRESET{newOwner}; }
};
