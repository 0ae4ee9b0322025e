// The CVol member forms of the geometry functions.
#include "Vol.h"
#include "geometry/Dynamic4D.h"
#include "geometry/Geometry.h"

CVol* CVol::OrthoRotate(const VA_ROT* rotation, bool keepWorld, bool show) const {
  return VA_VolOrthoRotate(this, rotation, keepWorld, show);
}
bool CVol::SetSpecifiedOrientation3AXIS(const wchar_t* letters, bool show) {
  return VA_VolSetSpecifiedOrientation3AXIS(this, letters, show);
}
bool CVol::SetImagePositions(const DPOINT3D* start) { return VA_VolSetImagePositions(this, start); }
bool CVol::ShiftUsingVector(const VA_VOLPROJ*, const DPOINT3D points[2], int interpolation, bool show) {
  return VA_VolShiftUsingVector(this, points, interpolation, show);
}
bool CVol::RotateUsingSector(const VA_VOLPROJ*, const DPOINT3D points[3], int interpolation, bool show) {
  return VA_VolRotateUsingSector(this, points, interpolation, show);
}
FRAME* CVol::MSTG_Aggregate4D(const VA_URALGRAD* record, double noise, const FRAME* roi, bool show) const {
  return VA_MSTG_Aggregate4D(this, record, noise, roi, show);
}
