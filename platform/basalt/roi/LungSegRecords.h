#pragma once
// The parameter records of the lung and trachea segmentation (byte-packed, as stored and exchanged
// with the segmentation's dialog). The fields marked "internal" are the segmentation's own and are
// not edited by the dialog; the callers that fill the records give every field its value.

#include <cstdint>

#pragma pack(push, 1)
struct VA_SEGLUNG4D {
  uint8_t nonuniformityCorrection = 0;
  double biasFieldPrecision = 200.0;  // mm
  double smoothRadius = 4.0;          // mm
  double airThreshold = 10.0;         // times the noise
  double internal0 = 40.0;
  int32_t internal1 = 0;
  uint8_t internal2[16] = {};
  double bodyFilterRadius = 100.0;    // mm
  double bodyFilterThreshold = 0.001; // 0..1
  uint8_t internal3[16] = {};
  int32_t internal4 = 3;
  double lungSplit = 15.0;            // mm between the left and right lung
  double internal5 = 6.0;
  double internal6 = 6.0;
  double minLungThickness = 6.0;      // mm
  uint8_t correctFringes = 0;
  uint8_t excludeTrachea = 1;
  uint8_t outputLungMask = 1;
};

struct VA_SEGTRACHEA4D {
  double centralZoneWidth = 30.0;      // mm
  double adaptiveFilterRadius = 10.0;  // mm
  double filterThreshold = 0.1;        // 0..1
  double minRadius = 5.0;              // mm
  uint8_t outputTracheaMask = 0;
};
#pragma pack(pop)

static_assert(sizeof(VA_SEGLUNG4D) == 124, "VA_SEGLUNG4D is 124 bytes");
static_assert(sizeof(VA_SEGTRACHEA4D) == 33, "VA_SEGTRACHEA4D is 33 bytes");
