#pragma once
// Float ITK images of D dimensions filled from a buffer, for the .cpp files of this family that
// run ITK filters on slices or volumes held as floats. Includes ITK: never include it in a header.

#include <itkImage.h>

#include <algorithm>
#include <cstddef>

namespace twk::itkv {

template <unsigned D>
using FImage = itk::Image<float, D>;

// A new image of size[0] x ... x size[D-1] pixels copied from values (x fastest), spacing sp.
template <unsigned D>
typename FImage<D>::Pointer floatImageOf(const float* values, const int* size, const double* sp) {
  auto image = FImage<D>::New();
  typename FImage<D>::RegionType region;
  typename FImage<D>::SpacingType spacing;
  for (unsigned k = 0; k < D; ++k) {
    region.SetSize(k, itk::SizeValueType(size[k]));
    spacing[k] = sp[k];
  }
  image->SetRegions(region);
  image->SetSpacing(spacing);
  image->Allocate();
  size_t n = 1;
  for (unsigned k = 0; k < D; ++k) n *= size_t(size[k]);
  std::copy_n(values, n, image->GetBufferPointer());
  return image;
}

}  // namespace twk::itkv
