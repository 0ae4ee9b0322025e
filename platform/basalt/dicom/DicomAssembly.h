#pragma once
// Internal to the imaging core's DICOM family: arranging the images of one or more series into the
// slices and time points of a volume. Used by the tree builder (the dimensions of every series) and
// by the volume loader.

#include <vector>

#include "CString.h"
#include "DicomRec.h"

namespace twk::dcm {

// Tolerances: image positions closer than this along the slice normal are one slice position;
// directions whose cosines differ by less than this are one orientation; a gap larger than
// kMissingSliceFactor times the median gap means a slice is missing.
constexpr double kPositionTolerance = 0.01;
constexpr double kOrientationTolerance = 1e-4;
constexpr double kPixelSpacingTolerance = 0.01;
constexpr double kMissingSliceFactor = 1.5;

struct Assembly {
  int depth = 0;                        // slices per time point
  int times = 0;                        // time points
  std::vector<const DICOMREC*> order;   // depth x times images: index t * depth + z
  double spacing = 1e60;                // mean distance of the slice positions, 1e60 when unknown
  bool positionsKnown = false;          // slices were placed by their positions
  CString problem;                      // why the images form no volume (empty when they do)
};

// Arranges the images: they must belong to one patient and agree on size, orientation and pixel
// spacing; images at one slice
// position (within kPositionTolerance along the normal) are the time points of that slice, ordered
// by acquisition time, then instance number (or, when that mixes acquisition parameters between
// slices, by the parameter that varies: b-value, echo, inversion, flip angle, spin-lock time).
// Every position must hold the same number of images, no image may appear twice and no slice may
// be missing. Images without positions are stacked by instance number, one time point per
// temporal position when the header numbers them. False, with out.problem set, when they form no volume.
bool assemble(std::vector<const DICOMREC*> images, Assembly& out);

// The spin-lock time number that an image's comments give after "TSL" (unit unknown), 1e60 when none.
double spinLockNumber(const DICOMREC& rec);

}  // namespace twk::dcm
