#pragma once
// The DICOM headers of a volume as documents store them: one header per slice and time point
// (depth x time points, time point by time point), each describing the volume as it stands.
//
// Uncompressed form: the TwkDicom header block of each header in turn (a 64-bit little-endian length,
// then the header as a DICOM file in Explicit VR Little Endian, without pixel data), readable with
// TWKDCM_LoadHeaders. Compressed form, all numbers little-endian:
//     offset 0   4 bytes   "TWKH"
//     offset 4   uint32    format version, 1
//     offset 8   uint64    number of headers
//     offset 16  uint64    byte count of the uncompressed form
//     offset 24  ...       the uncompressed form as one zlib stream
// Each header carries the volume's geometry (rows, columns, pixel spacing, orientation, image
// position), its slice's instance number and temporal position, and the time point's dynamic
// coordinates in the program's private element (group 0071, creator "TARNWICK DYNCRD", element
// 0071,1000: nine FD values in DYNCRD order), so that a document gives the volume back as it was.

#include <cstdint>

class CVol;

// The headers of the volume in the compressed form when compress is set and that is smaller, else
// uncompressed: a new pf_malloc block of |*storedSize| bytes; *storedSize is positive for the
// compressed form and negative for the uncompressed one, *headerSize the byte count uncompressed.
// Slices without a record of their own take the last record; a volume without records gets basic
// headers. Null when the volume has no frame or a header cannot be made.
void* VA_VolCompressDicomHeaders(const CVol* vol, bool compress, int64_t* headerSize, int64_t* storedSize);
// Unpacks the compressed form into output (outputSize bytes, the stored uncompressed byte count).
// False when the bytes are not this form, hold another number of headers (headerCount > 0), do not
// inflate to exactly outputSize bytes, or do not hold headerCount well-formed header blocks.
bool VA_VolDecompressDicomHeaders(const void* stored, int64_t storedSize, int64_t headerCount, void* output,
                                  int64_t outputSize);
