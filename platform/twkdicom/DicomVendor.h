#pragma once
// Scanner-specific facts of a data set that the standard elements do not give, for TwkDicom and the
// imaging core's DICOM family: the slice count and slice direction of mosaic images and the
// diffusion gradient direction. The toolkit's types are only forward-declared here.

#include <string>
#include <vector>

class DcmElement;
class DcmItem;

namespace twk::dicom {

// The element at offset `element` (0x00..0xFF) of the private block of `group` whose creator
// contains creatorPart (and not excludedPart, when given), searching every block (gggg,0010) to
// (gggg,00FF); null when absent.
DcmElement* privateElement(DcmItem* data, unsigned group, const char* creatorPart, unsigned element,
                           const char* excludedPart = nullptr);

// The numbers of a named entry of the scanner's private image header (group 0029 of the creator
// "SIEMENS CSA HEADER", offset 10: a block of named entries, each with text items); false when
// the header or the entry is absent, or the block is malformed.
bool privateImageHeaderNumbers(DcmItem* data, const char* name, std::vector<double>& values);

// The slices tiled in a mosaic image: the private count (0019,xx0A) of "SIEMENS MR HEADER", else,
// for an image type that says MOSAIC, the private image header's NumberOfImagesInMosaic; 0 when
// the image is no mosaic.
int mosaicImageCount(DcmItem* data);
// The direction in which the tiles of a mosaic follow each other (the private image header's
// SliceNormalVector), unit length; false when absent.
bool mosaicSliceNormal(DcmItem* data, double normal[3]);

// The diffusion gradient direction: (0018,9089) at the top level or in the MR Diffusion macro
// (0018,9117)/(0018,9076), else the vendors' private elements (Siemens (0019,xx0E) or the private
// image header's DiffusionGradientDirection, GE (0019,xxBB..BD), Philips (2005,xxB0..B2)); false when
// none is given or it is the zero vector.
bool diffusionGradientDirection(DcmItem* data, double direction[3]);

}  // namespace twk::dicom
