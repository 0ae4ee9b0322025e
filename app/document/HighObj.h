#pragma once
// HIGHOBJ, the record of a vector ROI: a labelled box in the voxel space of its owner layer set,
// limited to a range of time points. 200 bytes, stored whole in document files.

#include <cstdint>

class CDrawSet;

enum : int32_t { HIGHOBJ_VECTOR_ROI = 1 };
enum : int32_t { HIGHOBJ_SHAPE_BOX = 1 };

#pragma pack(push, 1)
struct HIGHOBJ {
  char label[128] = {};     // narrow text, zero-terminated
  int32_t kind = 0;         // 1: vector ROI
  int32_t shape = 0;        // 1: box
  CDrawSet* owner = nullptr;
  int32_t t0 = 0, t1 = 0;   // time range
  double x0 = 0, y0 = 0, z0 = 0, x1 = 0, y1 = 0, z1 = 0;  // box in the owner's voxel coordinates
};
#pragma pack(pop)
static_assert(sizeof(HIGHOBJ) == 200, "HIGHOBJ is 200 bytes");
