#pragma once
// DICOM records (DICOMREC) of the imaging core: one record of header facts per image, read from
// files or made from TwkDicom headers, with the image's whole header kept as a block inside the
// record when a volume needs it (documents store it, DICOM export and de-identification use it).
//
// Records are made with new; arrays of them are pf_malloc arrays (TW_FreeDicomRecArray frees both).
// Reading never shows messages: failures come back as a kind and a reason for the caller to report.

#include <cstdint>

#include "CString.h"
#include "DicomRec.h"

struct DCMFF;

// What a file turned out to be.
enum VA_DICOMFILEKIND : int32_t {
  DCMFILE_IMAGE = 0,       // a DICOM image of one frame: the record describes it
  DCMFILE_MULTIFRAME = 1,  // a DICOM image of several frames: split it before use
  DCMFILE_NOT_IMAGE = 2,   // a DICOM object without pixel data (DICOMDIR, report, presentation state)
  DCMFILE_NOT_DICOM = 3,   // not a DICOM file
  DCMFILE_DAMAGED = 4,     // truncated, pixel data shorter than the image, or an unsupported pixel format
};

// The record of one file (filePath set), or null; *kind (may be null) tells what the file is and
// *reason (may be null) why it gives no image. With withHeader the header block is read too.
// Multi-frame images give their record (numberOfFrames > 1) with kind DCMFILE_MULTIFRAME.
DICOMREC* VA_ReadDicomRec(const wchar_t* path, bool withHeader, int* kind, CString* reason);
// Whether the file is a DICOM file (of any kind); used before image files are tried as other formats.
bool VA_IsDicomFileLoading(const wchar_t* path);

// Records of TwkDicom headers (the document reader's headers): a new array of count records, each
// with its header block and facts; null when a header is null or cannot be written.
DICOMREC** VA_GetDicomRecArr(DCMFF* const* headers, int64_t count);
// Fills a record (facts and header block) from a header. The file path is left as it is.
bool VA_DicomRecFromHeader(const DCMFF* header, DICOMREC* rec);
// A new TwkDicom header of the record: from its header block, else read from its file; null when
// it has neither. The caller frees it with TWKDCM_DeleteFF.
DCMFF* VA_DicomRecGetHeader(const DICOMREC* rec);
// Replaces the record's header block by the header and refreshes its facts (after a tag was set).
bool VA_DicomRecSetHeader(DICOMREC* rec, const DCMFF* header);
// Reads the header block from the record's file when the record has none; true when it has one.
bool VA_DicomRecLoadHeader(DICOMREC* rec);

// Orders records by series instance UID (then instance number), or by increasing slice position
// (sliceZ, then instance number; undefined positions last). Stable.
void VA_SortDICOMRECbySeriesUID(DICOMREC** records, int64_t count);
void VA_SortDICOMRECbyIncreasingZ(DICOMREC** records, int64_t count);
