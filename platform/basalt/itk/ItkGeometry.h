#pragma once
// The one adapter between a volume's patient geometry and ITK's physical space, for the .cpp files
// of ITK-using families (it includes ITK; see ItkImageViews.h for the rule).
//
// A voxel's centre lies at its integer index; its patient position (LPS, millimetres) is
//   position(i, j, k) = first image position + row * (i * spacing.x) + column * (j * spacing.y)
//                       + slice * (k * spacing.z)
// with row and column the volume's direction cosines and slice the direction in which the slice
// index grows (VA_VolSliceDirection: the normal, turned when the slices run against it). This is
// exactly ITK's index-to-physical mapping with origin = first image position, direction columns =
// row, column, slice, and spacing = the volume's spacing. A volume without a valid orientation reads
// as the identity, one without image positions as origin 0.

#include <itkImage.h>

#include "Vol.h"
#include "geometry/Geometry.h"

namespace twk::itkv {

// Origin and direction columns (row, column, slice) of a volume, as the adapter reads them.
inline void patientFrame(const CVol* vol, double origin[3], double direction[3][3]) {
  VA_VolPatientFrame(vol, origin, direction);
}

// Gives an image of the volume's grid the volume's spacing, origin and direction.
template <class TImage>
void setPatientGeometry(TImage* image, const CVol* vol) {
  double origin[3], direction[3][3];
  patientFrame(vol, origin, direction);
  typename TImage::PointType o;
  typename TImage::DirectionType d;
  typename TImage::SpacingType s;
  for (int r = 0; r < 3; ++r) {
    o[r] = origin[r];
    for (int c = 0; c < 3; ++c) d(r, c) = direction[r][c];
  }
  s[0] = vol ? vol->spc.x : 1.0;
  s[1] = vol ? vol->spc.y : 1.0;
  s[2] = vol ? vol->spc.z : 1.0;
  image->SetOrigin(o);
  image->SetDirection(d);
  image->SetSpacing(s);
}

}  // namespace twk::itkv
