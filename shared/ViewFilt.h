#pragma once
// PR_VIEWFILT, the display filter of a volume layer: the intensity window (level is its centre,
// width its extent: the window runs from level - width/2 to level + width/2), inversion, colour
// scheme and the colour of an ROI layer. Byte-packed (26 bytes): document files store it whole.

#include <cstdint>

#include "TwkTypes.h"

#pragma pack(push, 1)
struct PR_VIEWFILT {
  uint8_t adaptive = 0;   // the window follows the shown slice
  double level = 0;       // window centre
  double width = 0;       // window width
  uint8_t invert = 0;     // grey levels inverted
  int32_t scheme = 0;     // colour-scheme number
  int32_t roiColor = 0;   // COLORREF of an ROI layer
};
#pragma pack(pop)

static_assert(sizeof(PR_VIEWFILT) == 26, "PR_VIEWFILT is 26 bytes");
