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
#include "render/ProjectionGeometry.h"

namespace twk::itkv {

// Origin and direction columns (row, column, slice) of a volume, as the adapter reads them.
inline void patientFrame(const CVol* vol, double origin[3], double direction[3][3]) {
  double rows[3] = {1, 0, 0}, cols[3] = {0, 1, 0}, slice[3] = {0, 0, 1};
  if (vol && VA_IsValidOrientation(vol->orient) && VA_VolSliceDirection(vol, slice))
    for (int c = 0; c < 3; ++c) {
      rows[c] = vol->orient[c];
      cols[c] = vol->orient[3 + c];
    }
  for (int r = 0; r < 3; ++r) {
    direction[r][0] = rows[r];
    direction[r][1] = cols[r];
    direction[r][2] = slice[r];
  }
  origin[0] = origin[1] = origin[2] = 0;
  if (vol && vol->imgPos) {
    origin[0] = vol->imgPos[0].x;
    origin[1] = vol->imgPos[0].y;
    origin[2] = vol->imgPos[0].z;
  }
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
