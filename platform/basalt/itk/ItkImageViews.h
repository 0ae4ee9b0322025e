#pragma once
// ITK views of the imaging core's voxel frames, for the .cpp files of the families that link
// twk_itk (see itk/CMakeLists.txt). This header includes ITK: never include it from a header that
// code outside those .cpp files sees; public headers of an ITK-using family declare plain
// functions on FRAME and SPC only.
//
//   #include "itk/ItkImageViews.h"
//   using namespace twk::itkv;
//   capThreads();                                          // ITK's threads = TBB's concurrency
//   auto signal = viewTimePoint<uint16_t>(frame, t, spc);  // the frame's own voxels, no copy
//   auto mask = unpackRoi(roi, t, spc);                    // 1 byte per voxel, one parallel pass
//   auto filter = itk::BinaryFillholeImageFilter<MaskImage>::New();
//   filter->SetInput(mask);
//   filter->SetForegroundValue(1);
//   if (!update(filter, L"VA_RoiFillHoles", show)) return false;  // progress, Esc, errors
//   packRoi(filter->GetOutput(), roi, t);                  // nonzero voxels set, one parallel pass
//
// Integer and real time points are viewed in place through an ImportImageContainer that does not
// own the memory: the frame must outlive the image, and filters only read their inputs (an ITK
// filter run in place on a view writes the frame's voxels, which is what an in-place caller wants).
// Spacing comes from the SPC record (1 mm when none is given); origin 0 and identity direction:
// the core keeps orientation itself and hands ITK voxel grids only.
//
// ROI frames hold 1 bit per voxel in padded lines, which ITK cannot view: they are unpacked to one
// byte per voxel and packed back, each in one oneTBB pass over the lines.

#include <itkImage.h>
#include <itkImportImageContainer.h>
#include <itkProcessObject.h>

#include <cstdint>
#include <type_traits>

#include "TwkTypes.h"
#include "volume/VoxelAccess.h"

namespace twk::itkv {

template <class P>
using Image3 = itk::Image<P, 3>;
using MaskImage = Image3<uint8_t>;
using LabelImage = Image3<uint32_t>;
using RealImage = Image3<double>;
using FloatImage = Image3<float>;

// Caps ITK's threads (its global default and maximum) to the concurrency TBB grants this thread,
// so that ITK filters and TBB loops share the same cores and honour the same limits. Cheap; called
// by every wrapper before it builds a filter.
void capThreads();

// Voxel element type that a pixel type views.
template <class P>
constexpr VoxelElem elemOfPixel() {
  if constexpr (std::is_same_v<P, uint8_t>) return VoxelElem::U8;
  else if constexpr (std::is_same_v<P, uint16_t>) return VoxelElem::U16;
  else if constexpr (std::is_same_v<P, uint32_t>) return VoxelElem::U32;
  else if constexpr (std::is_same_v<P, double>) return VoxelElem::F64;
  else return VoxelElem::Invalid;
}

// Sets the largest region (w x h x d), spacing (1 mm for null) and a zero origin.
template <class TImage>
void setGrid(TImage* image, const DIM3D& dims, const SPC* spc) {
  typename TImage::RegionType region;
  region.SetSize(0, itk::SizeValueType(dims.w));
  region.SetSize(1, itk::SizeValueType(dims.h));
  region.SetSize(2, itk::SizeValueType(dims.d));
  image->SetRegions(region);
  typename TImage::SpacingType spacing;
  spacing[0] = spc ? spc->x : 1.0;
  spacing[1] = spc ? spc->y : 1.0;
  spacing[2] = spc ? spc->z : 1.0;
  image->SetSpacing(spacing);
  typename TImage::PointType origin;
  origin.Fill(0.0);
  image->SetOrigin(origin);
}

// A new image of the frame's w x h x d grid with allocated (zeroed when zero) pixels.
template <class P>
typename Image3<P>::Pointer newImage(const DIM3D& dims, const SPC* spc, bool zero = true) {
  auto image = Image3<P>::New();
  setGrid(image.GetPointer(), dims, spc);
  image->Allocate(zero);
  return image;
}

// Time point t of an integer or real frame as an image whose pixel buffer is the frame's own
// memory (nothing copied). Null when P does not match the frame's voxel type or t is out of range.
template <class P>
typename Image3<P>::Pointer viewTimePoint(const FRAME* frame, int t, const SPC* spc) {
  if (!frame || !frame->data || t < 0 || t >= frame->dim.t) return nullptr;
  if (voxelElemOf(frame) != elemOfPixel<P>() || elemOfPixel<P>() == VoxelElem::Invalid) return nullptr;
  if (frame->lineBytes != int64_t(sizeof(P)) * frame->dim.w) return nullptr;
  const int64_t n = int64_t(frame->dim.w) * frame->dim.h * frame->dim.d;
  auto image = Image3<P>::New();
  setGrid(image.GetPointer(), frame->dim, spc);
  using Container = typename Image3<P>::PixelContainer;
  auto container = Container::New();
  P* first = reinterpret_cast<P*>(frameLine(frame, 0, 0, t));
  container->SetImportPointer(first, itk::SizeValueType(n), false);
  image->SetPixelContainer(container);
  return image;
}

// Calls fn with a value of the pixel type of an integer or real frame (uint8_t, uint16_t,
// uint32_t or double); false without calling it for ROI or invalid frames.
template <class Fn>
bool withPixelType(const FRAME* frame, Fn&& fn) {
  switch (frame ? voxelElemOf(frame) : VoxelElem::Invalid) {
    case VoxelElem::U8: fn(uint8_t{}); return true;
    case VoxelElem::U16: fn(uint16_t{}); return true;
    case VoxelElem::U32: fn(uint32_t{}); return true;
    case VoxelElem::F64: fn(double{}); return true;
    default: return false;
  }
}

// Time point t of an ROI frame as one byte per voxel: inside where the bit is set, 0 elsewhere.
// Null for a frame that is not an ROI, a bad time point or no memory.
MaskImage::Pointer unpackRoi(const FRAME* roi, int t, const SPC* spc, uint8_t inside = 1);
// Unpacks into an existing image of the frame's grid (reused buffers); false on a size mismatch.
bool unpackRoiInto(const FRAME* roi, int t, MaskImage* image, uint8_t inside = 1);

// Writes an image of the frame's grid into time point t of an ROI frame: a voxel is set where the
// pixel is nonzero (with label: where it equals label). False on a kind or size mismatch.
template <class P>
bool packRoi(const Image3<P>* image, FRAME* roi, int t);
template <class P>
bool packRoiLabel(const Image3<P>* image, P label, FRAME* roi, int t);

// Runs the filter's pipeline with progress through the utility library's protocol (the ITK
// progress 0..1 mapped onto progressFrom..progressTo percent) and stops it when the user presses
// Esc (the protocol's stop flag). ITK errors are reported as "<name> : <description>" when show is
// set and out of memory as "<name> : Not enough memory"; a stop is silent. True when it finished.
// Progress is only reported while the caller (or the wrapper) has started a progress message.
bool update(itk::ProcessObject* filter, const wchar_t* name, bool show, int progressFrom = 1, int progressTo = 98);

}  // namespace twk::itkv
