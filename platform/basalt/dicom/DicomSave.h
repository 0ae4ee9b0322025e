#pragma once
// DICOM export of a volume: CVol::SaveToDicom (declared in the shared Vol.h).
//
//   CVol::SaveToDicom(vol, keepIdentifiers, path, filter, compress, multipleFiles, numberedNames,
//                     keepAcquisitionValues, show)
//
//   keepIdentifiers   keep the study, series, frame-of-reference and SOP instance UIDs of the
//                     volume's records (a SOP instance UID that would repeat in the set gets a new
//                     one); otherwise one new study, series and frame-of-reference UID for the set
//                     and a new SOP instance UID per image;
//   path              the file name the written names are made from (its folder, title and
//                     extension, "dcm" when it has none); a path naming an existing folder writes
//                     there under the volume's title;
//   filter            the display filter: its window becomes the images' window centre and width
//                     (null: the headers' own window is kept);
//   compress          JPEG-LS lossless for images of up to 16 bits (32-bit images stay uncompressed);
//   multipleFiles     one file per slice and time point; otherwise (and always for the extension
//                     "dic") one multi-frame file holding every slice in functional groups;
//   numberedNames     files named <title>_tTTTT_nNNNNNN.<ext> (time point, slice; from 0), else
//                     <title>_NNNNNN.<ext> (running number from 0);
//   keepAcquisitionValues  echo, inversion and repetition times, flip angle and b-value stay as the
//                     headers hold them; otherwise the volume's dynamic coordinates are written;
//   show              progress and failure messages.
//
// Each header is the slice's record header with the volume's geometry and dynamic coordinates (see
// DicomWrite). Voxels: integer volumes are written as stored (unsigned 8, 16 or 32 bits; CT volumes
// in "HU" carry the 1024 bias, so they get the rescale intercept -1024 and the files hold Hounsfield
// units); real volumes whose values are whole numbers within 16 bits are written as such, other real
// volumes as 32-bit values with a rescale slope and intercept per image (per file for a multi-frame
// file); void voxels take the lowest value; ROI volumes are written as 0 and 1. Every file is written
// to a temporary name, read back and renamed. False on a failure (reported when show is set); files
// written before it remain.
