#pragma once
// Internal helpers of the imaging core's DICOM family, shared by its sources and tests only: reading
// files with DCMTK, value access that checks presence and length, the record facts of a data set,
// header blocks and the program's own private element of dynamic coordinates.
// DCMTK types appear here and in the family's .cpp files, never in the family's public headers.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dctk.h"

#include "CString.h"
#include "DicomRec.h"
#include "TwkTypes.h"

namespace twk::dcm {

// What a file turned out to be when it was read.
enum class FileKind {
  Image,        // a DICOM image of one frame
  MultiFrame,   // a DICOM image of several frames (split before it is used)
  NotImage,     // a DICOM object without pixel data (DICOMDIR, reports, presentation states)
  NotDicom,     // not a DICOM file
  Damaged,      // a DICOM file that cannot be read whole (truncated, short pixel data, bad values)
};

// UTF-8 path of the file system.
std::string native(const wchar_t* path);

// Reads a file's header with its pixel data left in the file (large values are read on demand), or
// the whole file. The reading checks that every element lies within the file, so a truncated file
// fails. False, with the reason, for a missing, non-DICOM or damaged file.
bool loadFile(const std::string& nativePath, DcmFileFormat& file, bool whole, std::string* reason,
              bool* notDicom = nullptr);
// A header block (see DICOMREC::header) parsed back into a file object; null when malformed.
std::unique_ptr<DcmFileFormat> fileFromBlock(const uint8_t* bytes, int64_t length);
inline std::unique_ptr<DcmFileFormat> fileFromBlock(const std::vector<uint8_t>& block) {
  return fileFromBlock(block.data(), int64_t(block.size()));
}
// The header block of a file: its pixel data are removed from the object first.
std::vector<uint8_t> headerBlock(DcmFileFormat& file);

// Value access at the top level of an item. Absent, empty or unreadable values give false.
bool getText(DcmItem* item, const DcmTagKey& key, std::string& value);  // all values, '\' between, trimmed
CString getWide(DcmItem* item, const DcmTagKey& key);                   // decoded text, empty when absent
bool getNumber(DcmItem* item, const DcmTagKey& key, double& value, unsigned long index = 0);
bool getNumbers(DcmItem* item, const DcmTagKey& key, double* values, int count);
bool getInt32(DcmItem* item, const DcmTagKey& key, int32_t& value);  // false also when out of the 32-bit range
int valueCount(DcmItem* item, const DcmTagKey& key);
// Seconds since midnight of a TM text ("HHMMSS.FFFFFF", also with colons).
bool parseTime(const std::string& text, double& seconds);
// Days since 1970-01-01 of a DA text.
bool parseDate(const std::string& text, int64_t& days);

// Writing: set-or-insert at the top level of an item.
bool putText(DcmItem* item, const DcmTagKey& key, const std::string& value);
bool putWide(DcmItem* item, const DcmTagKey& key, const CString& value);  // encoded as the item declares
bool putNumbers(DcmItem* item, const DcmTagKey& key, const double* values, int count);  // DS, IS or binary VRs
inline bool putNumber(DcmItem* item, const DcmTagKey& key, double value) { return putNumbers(item, key, &value, 1); }
std::string formatDS(double value);  // at most 16 characters
std::string formatTime(double secondsSinceMidnight);

// A new UID (2.25 and 128 random bits).
std::string newUid();

// Fills the record's facts from a file object (the header block is left alone).
void fillRecord(DcmFileFormat& file, DICOMREC& rec);
// Diffusion b-value of a data set: (0018,9087) at the top level or in the functional groups, else
// the vendors' private elements (Siemens, GE, Philips, and (0019,10B0) of other creators).
bool diffusionBvalue(DcmItem* data, double& bvalue);

// The program's own dynamic coordinates of an image, kept in a private element, so that documents
// and files the program writes give them back exactly.
bool putStoredDyn(DcmItem* data, const DYNCRD& dyn);
bool getStoredDyn(DcmItem* data, DYNCRD& dyn);
void removeStoredDyn(DcmItem* data);

// Orientation helpers: the normal of the two direction cosines.
void sliceNormal(const double orient[6], double normal[3]);
bool validOrientation(const double orient[6]);

}  // namespace twk::dcm
