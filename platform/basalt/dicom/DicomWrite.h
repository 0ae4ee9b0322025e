#pragma once
// Internal to the imaging core's DICOM family: the DICOM header of one slice of a volume, as
// documents store it and DICOM export writes it.

#include <memory>
#include <string>

#include "dicom/DicomCore.h"

class CVol;

namespace twk::dcm {

// UIDs shared by the slices of one volume that have no identifiers of their own.
struct HeaderContext {
  std::string studyUid, seriesUid, frameUid;
};

// Modality text and a single-frame image SOP class of a volume modality code.
const char* modalityText(int modality);
const char* imageSopClass(int modality);

// The image position of slice z: the volume's own, else from the first position (or the origin)
// along the normal of the orientation.
DPOINT3D slicePosition(const CVol& vol, int z);

// The header of slice z of time point t: the slice's record header (its header block, else its
// file, else a basic header from its facts and the volume), without pixel data, with the volume's
// geometry (rows, columns, pixel spacing, orientation, position, slice spacing and location),
// instance number t * depth + z + 1, temporal position, and the time point's dynamic coordinates in
// the program's private element; with writeAcquisition also as echo, inversion and repetition time,
// flip angle and b-value where they are defined.
std::unique_ptr<DcmFileFormat> sliceHeader(const CVol& vol, int t, int z, HeaderContext& context, bool writeAcquisition);

}  // namespace twk::dcm
