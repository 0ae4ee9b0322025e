// The CVol member forms of the geometry functions.
#include "Vol.h"
#include "geometry/Geometry.h"

CVol* CVol::OrthoRotate(const VA_ROT* rotation, bool keepWorld, bool show) const {
  return VA_VolOrthoRotate(this, rotation, keepWorld, show);
}
bool CVol::SetSpecifiedOrientation3AXIS(const wchar_t* letters, bool show) {
  return VA_VolSetSpecifiedOrientation3AXIS(this, letters, show);
}
bool CVol::SetImagePositions(const DPOINT3D* start) { return VA_VolSetImagePositions(this, start); }
