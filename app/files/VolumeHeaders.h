#pragma once
// The per-slice DICOM headers of a volume layer in document files: one header per slice and time
// point (depth x time points, slice fastest), as the imaging core's DICOM family packs them
// (dicom/DicomHeaderBlob.h), and the way back from the header bytes to records and a volume.

#include <cstdint>

#include "TwkTypes.h"

class CVol;
struct DCMNODE;
struct DICOMREC;

namespace twk::files {

// The headers as stored: compressed when that is smaller (*storedSize > 0), else the uncompressed
// header bytes (*storedSize = -*headerSize). A new pf_malloc block; null on failure.
void* storedHeaderBytes(const CVol* vol, int64_t* headerSize, int64_t* storedSize);
// The uncompressed header bytes (TWKDCM_SaveHeaders form): a new pf_malloc block of *size bytes.
void* volumeHeaderBytes(const CVol* vol, int64_t* size);
// The compressed form back to exactly headerSize bytes of count headers; null when it does not.
uint8_t* unpackHeaderBytes(const void* stored, int64_t storedSize, int64_t headerSize, int64_t count);

// Records, each with its own header block, for the count headers of the bytes: a new pf_malloc array
// of count records made with new; null when the bytes do not hold count well-formed headers.
DICOMREC** recordsFromHeaderBytes(const uint8_t* bytes, int64_t size, int64_t count);

// A new volume around *frame (taken: *frame is cleared) made from its depth x time points records
// (freed: *records is cleared): modality, unit, orientation, spacing, image positions and dynamic
// coordinates come from the records. Null (nothing taken) on bad arguments.
CVol* volumeFromRecords(FRAME** frame, DICOMREC*** records, int64_t count);

// A basic header of an element tree of an old document (TWKDCM_CreateBasicDCMFF) as a record with
// its header block; null when the tree lacks a modality or the header cannot be made.
DICOMREC* recordFromTree(const DCMNODE* tree, const FRAME* frame, int timeIndex, int sliceIndex, const DYNCRD* dyn);

}  // namespace twk::files
