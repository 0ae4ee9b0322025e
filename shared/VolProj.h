#pragma once
// VA_VOLPROJ, the projection record through which one view shows a volume layer set: the plane
// (three rotation angles about the volume's x, y and z axes, in degrees; all zero is the native
// plane), the slice and time point shown, the film-view flag, the projection type and the slab.
// The record is byte-packed (57 bytes): the document file stores it whole.

#include <cstdint>

class CDrawView;

#pragma pack(push, 1)
struct VA_VOLPROJ {
  CDrawView* view = nullptr;          // the view the record belongs to (meaningless in a file)
  double rotation[3] = {0, 0, 0};     // degrees about the volume's x, y and z axes
  int32_t slice = 0;                  // slice shown, 0 .. projected depth - 1
  int32_t timeIndex = 0;              // time point shown
  uint8_t filmView = 0;               // all slices laid out as tiles
  int32_t projType = 0;               // 0 plain slice; 1 to 4 intensity projections over a slab
  int32_t mode = 1;                   // interpolation switch, set by the layer drawing
  double slabThickness = 0;           // millimetres, used when projType is not 0
};
#pragma pack(pop)

static_assert(sizeof(VA_VOLPROJ) == 57, "VA_VOLPROJ is 57 bytes");
