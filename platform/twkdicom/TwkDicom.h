#pragma once
// TwkDicom: DICOM headers, element trees, tag values, protected-health-information (PHI) handling
// and pixel access for the workstation, built on DCMTK (no DCMTK type appears here).
//
// Conventions
//   - Tags are 32-bit values (group << 16) | element; TWKDCM_TAG(0x0018, 0x0081) is Echo Time.
//   - A header (DCMFF) is an opaque handle owned by the caller: null means failure. Delete functions
//     take the ADDRESS of the owner's pointer and set it to null, as pf_free does.
//   - Arrays of headers are pf_malloc arrays of handles (TWKDCM_DeleteFFarr frees them).
//   - Wide texts returned as wchar_t* are new pf_malloc strings that the caller frees with pf_free;
//     null means the value is absent.
//   - Getters return false when the element is absent, empty or not readable as asked, and then
//     leave their outputs untouched unless the function says otherwise. They never show messages.
//   - Units: repetition and echo times in SECONDS (DICOM stores milliseconds), flip angle in
//     degrees, positions in millimetres, b-values in s/mm^2, times of day in seconds since midnight.
//   - Narrow (char*) values are 8-bit Windows-1252 text, as TstrToCstr makes them; they are stored
//     as UTF-8 when the header declares that character set (ISO_IR 192).
//   - Bad input (a truncated or non-DICOM file, a short blob) gives null or false, never a crash.
//   - Operations that the user starts on files (rewriting a value, splitting a file) report their
//     failure once through twk::ui(), naming the file and the cause; queries stay silent.
//   - Different headers may be used from several threads at once; one header is used by one thread
//     at a time. The PHI profile and the decoder registration are process-wide and guarded.

#include <cstdint>

#include "CString.h"
#include "TwkTypes.h"

#define TWKDCM_TAG(group, element) ((uint32_t(uint16_t(group)) << 16) | uint32_t(uint16_t(element)))
inline uint16_t TWKDCM_TagGroup(uint32_t tag) { return uint16_t(tag >> 16); }
inline uint16_t TWKDCM_TagElement(uint32_t tag) { return uint16_t(tag & 0xFFFF); }

// An opaque DICOM header: the meta information and the data set of one image, without its pixel data
// when it was read from a file.
struct DCMFF;

// One node of an element tree. The root (tag 0) stands for the whole header; its children are the
// elements in tag order (file meta elements first). A sequence has one child per item (tag
// FFFE,E000, text "Item #n : FFFE,E000") whose children are the item's elements.
// Every pointer of a node is pf_malloc memory owned by the node; TWKDCM_DeleteDCMNODE frees the tree.
struct DCMNODE {
  wchar_t* text = nullptr;       // display text: name, " : " and the tag as "GGGG,EEEE" (upper-case hex),
                                 // so the last 9 characters are the tag and dropping the last 12 leaves the name
  uint32_t tag = 0;
  uint16_t vr = 0;               // the two VR letters, the first in the low byte ('P' | 'N' << 8); 0 for root and items
  wchar_t* name = nullptr;       // dictionary name, e.g. "EchoTime"
  wchar_t* value = nullptr;      // all values as text separated by '\'; null for the root, items and sequences
  uint32_t numChildren = 0;
  DCMNODE** children = nullptr;  // numChildren nodes
};

inline uint16_t TWKDCM_VR(char first, char second) { return uint16_t(uint8_t(first) | (uint16_t(uint8_t(second)) << 8)); }

// ---------------------------------------------------------------------------------------------
// Life cycle
// ---------------------------------------------------------------------------------------------

// Once at start-up: checks that the DICOM data dictionary is present (its absence is reported and
// gives false), quiets the toolkit's console logging and puts the default PHI profile in force.
bool TWKDCM_Initialize();
// Once at exit: releases the decoders and forgets the UIDs that de-identification replaced.
void TWKDCM_Shutdown();

// ---------------------------------------------------------------------------------------------
// Protected health information
// ---------------------------------------------------------------------------------------------
//
// The profile file ("TarnwickPHIprofile.txt") is text, one rule a line:
//     (gggg,eeee) action [value]
// with hexadecimal digits or 'x' (any digit, for repeating groups such as (60xx,3000)) and the
// actions
//     remove   the element is deleted
//     empty    the element is kept with an empty value
//     replace  the element gets the given value, or a neutral one of its kind when none is given
//              ("ANONYMOUS" for names, "19000101" for dates, "000000" for times, "0" for numbers);
//              UIDs get a new UID, the same new UID for the same old one within the process
//     keep     the element stays as it is (overrides a wider rule)
// and one line "private remove" or "private keep" for the private elements (odd groups).
// Empty lines and lines starting with '#' are ignored. Rules apply in sequences at every depth.
// The default profile follows the Basic Application Level Confidentiality Profile of the DICOM
// standard (PS3.15 Annex E): patient identity and demographics, physicians and operators,
// institution, dates and times of the study, descriptions and comments, private elements removed
// or emptied; study, series, instance, frame-of-reference and referenced UIDs replaced.

// Reads the profile file and puts it in force. An absent file puts the default profile in force and
// gives false; a file with a bad line is reported (file, line number and text), leaves the default
// profile in force and gives false. True when the file's profile is in force.
bool TWKDCM_SetPHItags(const wchar_t* profilePath);
// Writes the profile in force, in the file form above, to path (replacing the file). Silent.
bool TWKDCM_SaveCurrentPHIprofile(const wchar_t* path);
// The PHI that the header holds under the profile in force: one text "(gggg,eeee) Name : value" per
// element, appended to *records (a pf_malloc array of CString made with new; delete each, then pf_free
// the array) and counted in *count. Replaced UIDs are listed only while the header is not marked as
// de-identified (Patient Identity Removed "YES"). True also when nothing is found.
bool TWKDCM_ExtractPHIrecords(const DCMFF* header, CString*** records, int64_t* count);
// De-identifies a header in memory through the profile in force and marks it: Patient Identity
// Removed (0012,0062) "YES" and De-identification Method (0012,0063).
bool TWKDCM_DeidentifyFF(DCMFF* header);
// De-identifies a DICOM file, pixel data kept as stored, into target (null or the same path: the file
// is replaced through a temporary file). Failures are reported.
bool TWKDCM_DeidentifyFile(const wchar_t* sourcePath, const wchar_t* targetPath);

// ---------------------------------------------------------------------------------------------
// Headers
// ---------------------------------------------------------------------------------------------

// The header of a DICOM file (with or without a meta header), read up to its pixel data. Null for a
// missing, truncated or non-DICOM file. Silent.
DCMFF* TWKDCM_LoadDcmFF(const wchar_t* path);
// Headers from the bytes that TWKDCM_SaveHeaders made: a new array of headerCount headers, or null
// when the bytes do not hold that many well-formed headers within byteCount.
DCMFF** TWKDCM_LoadHeaders(const void* bytes, int64_t byteCount, int64_t headerCount);
// The headers as one block of bytes (each header: a 64-bit little-endian length, then the header as a
// DICOM file in Explicit VR Little Endian). A new pf_malloc block, its size in *byteCount; null on
// failure or when a header is null.
void* TWKDCM_SaveHeaders(DCMFF* const* headers, int64_t headerCount, int64_t* byteCount);
void TWKDCM_DeleteFF(DCMFF** header);
// Deletes the count headers of the array (null entries are fine), frees the array, nulls *headers.
void TWKDCM_DeleteFFarr(DCMFF*** headers, int64_t count);
// A deep copy of a header.
DCMFF* TWKDCM_CloneHeader(const DCMFF* header);

// Headers for a volume of new dimensions and voxel kind made from the source volume's headers
// (sourceCount of them, ordered time point by time point, slice fastest): a new array of
// dim->d x dim->t headers in the same order. Header i is a copy of source header i, or of the last
// source header when there are fewer; it gets rows and columns from dim, the bit depth of the kind
// (ROI 8 bits, integer 16 bits or 32 when the source had 32, real 32 bits signed; ROI and real also
// rescale slope 1 and intercept 0), instance number i + 1, temporal position t + 1 and a new SOP
// instance UID; pixel data and frame counts are dropped. Image positions stay those of the copied header; the caller
// sets them when the geometry moved.
DCMFF** TWKDCM_CloneHeaderWithNewGeometryAndType(DCMFF* const* source, int64_t sourceCount, const DIM3D* dim,
                                                 FRMTYPE kind);
// Headers for the slices of mosaic images (several slices tiled in one image): for each of the
// mosaicCount headers (one per time point) numImages slice headers, time point by time point. The
// tiles are laid out in a square of ceil(sqrt(numImages)) per side; each slice header gets the tile's
// rows and columns, its own image position (the mosaic's position, which is that of the whole
// mosaic's corner, moved to the first tile's corner along the row and column directions by half the
// difference of the mosaic and tile sizes, then along the slice normal by the spacing between
// slices, or the slice thickness when that is missing), instance number and a new SOP instance UID,
// and loses the mosaic marks (the private slice count, MOSAIC in the image type). The slice normal
// is that of the orientation, turned round when the scanner's private slice normal points the other
// way (the tiles then follow each other against the orientation's normal). Null when a mosaic is
// not divisible into tiles or numImages < 1.
DCMFF** TWKDCM_CloneHeaderFromMosaic(DCMFF* const* mosaics, int64_t mosaicCount, int numImages);
// The number of images of a mosaic that the header gives: the private count (0019,xx0A) of the
// creator "SIEMENS MR HEADER", else, when the image type says MOSAIC, NumberOfImagesInMosaic of the
// private image header (0029,xx10); false when the header gives none.
bool TWKDCM_GetNumImagesInMosaic(const DCMFF* header, int* numImages);

// A basic header made from an element tree (see TWKDCM_NewDCMNODE) and the facts of one slice:
// study, series and SOP instance UIDs (an empty SOP instance UID when missing), patient name and ID,
// image orientation and position (zero when missing), pixel spacing and slice spacing (Spacing
// Between Slices, else Slice Thickness), repetition time, modality (required: null without one),
// rows = height, columns = width, the bit depth of bitsPerVoxel (1 and 8 become 8 bits, 16 and 32 stay,
// 64 becomes 32), temporal position timeIndex + 1, instance number sliceIndex + 1, and when dyn is
// given its echo time, inversion time, flip angle, repetition time, b-value and time (as acquisition
// time), each where it is defined (not 1e60); dyn's repetition time takes precedence over the tree's.
DCMFF* TWKDCM_CreateBasicDCMFF(const DCMNODE* tree, int width, int height, int bitsPerVoxel, int timeIndex,
                               int sliceIndex, const DYNCRD* dyn);
// Modality code of a header as the volumes use it: "CT" 0, "MR" 1, "PT" 2, any other 10000; false
// when the header has no modality.
bool TWKDCM_GetModality(const DCMFF* header, int* modality);

// ---------------------------------------------------------------------------------------------
// Element trees
// ---------------------------------------------------------------------------------------------

// The element tree of a header, or null. Binary values longer than 64 numbers, and pixel data, show as
// "<n bytes>".
DCMNODE* TWKDCM_CreateDCMNODE(const DCMFF* header);
void TWKDCM_DeleteDCMNODE(DCMNODE** root);
// A new node for a tree built by the caller: its name comes from the dictionary (null node when the
// tag has none), its value from the bytes as stored in Little Endian (texts for the string kinds,
// numbers for US, SS, UL, SL, FL, FD, AT; other kinds show their length). Null on failure.
DCMNODE* TWKDCM_NewDCMNODE(uint32_t tag, uint16_t vr, const void* value, int64_t length);
// Appends child (the parent takes it over). False, child untouched, on failure.
bool TWKDCM_AddDCMNODEchild(DCMNODE* parent, DCMNODE* child);
// The first node with the tag among the root's children, else the first one found deeper; null when absent.
const DCMNODE* TWKDCM_FindDCMNODE(const DCMNODE* root, uint32_t tag);
// All values of the node as text; null for a null node or a node without a value.
wchar_t* TWKDCM_GetValueToString(const DCMNODE* node);
// The first value of the node as text (numbers in their shortest decimal form); null as above.
wchar_t* TWKDCM_GetFirstConvertVal(const DCMNODE* node);
// The dictionary name of a tag; false when the dictionary does not know it.
bool TWKDCM_GetTagName(uint32_t tag, CString* name);

// ---------------------------------------------------------------------------------------------
// Element access by tag (top level of the header)
// ---------------------------------------------------------------------------------------------

bool TWKDCM_GetString(const DCMFF* header, uint32_t tag, CString* value);  // all values, separated by '\'
bool TWKDCM_GetDouble(const DCMFF* header, uint32_t tag, double* value, int index = 0);
bool TWKDCM_GetDoubles(const DCMFF* header, uint32_t tag, double* values, int count);  // needs count values
bool TWKDCM_GetInt(const DCMFF* header, uint32_t tag, int64_t* value, int index = 0);
// Element of item `item` (0-based) of a sequence at the top level.
bool TWKDCM_GetSequenceString(const DCMFF* header, uint32_t sequenceTag, int item, uint32_t tag, CString* value);
// A time (TM) element in seconds since midnight, e.g. "100030.5" gives 36030.5.
bool TWKDCM_GetTimeSeconds(const DCMFF* header, uint32_t tag, double* seconds);

// Setters create the element when it is absent (set-or-insert); the tag's dictionary VR decides the
// encoding. False for a null header, an unknown private tag or a value the VR cannot hold.
bool TWKDCM_SetString(DCMFF* header, uint32_t tag, const char* value);  // 8-bit text
bool TWKDCM_SetStringW(DCMFF* header, uint32_t tag, const wchar_t* value);
bool TWKDCM_SetInt(DCMFF* header, uint32_t tag, int64_t value);
bool TWKDCM_SetDouble(DCMFF* header, uint32_t tag, double value);
bool TWKDCM_SetTimeSeconds(DCMFF* header, uint32_t tag, double seconds);  // written as HHMMSS.FFFFFF
// Deletes the element at the top level; false when it was absent.
bool TWKDCM_RemoveElement(DCMFF* header, uint32_t tag);
// The image index is the Instance Number (0020,0013).
bool TWKDCM_SetImageIndex(DCMFF* header, int index);
bool TWKDCM_GetImageIndex(const DCMFF* header, int* index);

// ---------------------------------------------------------------------------------------------
// Acquisition values
// ---------------------------------------------------------------------------------------------

// Repetition Time (0018,0080), seconds.
bool TWKDCM_GetTR(const DCMFF* header, double* seconds);
bool TWKDCM_SetTR(DCMFF* header, double seconds);
// Echo Time (0018,0081), else Effective Echo Time (0018,9082); seconds. The setter writes (0018,0081)
// and also (0018,9082) when the header has it.
bool TWKDCM_GetTE(const DCMFF* header, double* seconds);
bool TWKDCM_SetTE(DCMFF* header, double seconds);
// Flip Angle (0018,1314), degrees.
bool TWKDCM_GetFlipAngle(const DCMFF* header, double* degrees);
bool TWKDCM_SetFlipAngle(DCMFF* header, double degrees);
// Image Position (Patient) (0020,0032), mm.
bool TWKDCM_GetImagePosition(const DCMFF* header, DPOINT3D* position);
bool TWKDCM_SetImagePosition(DCMFF* header, const DPOINT3D* position);
// Image Orientation (Patient) (0020,0037): row then column direction cosines.
bool TWKDCM_GetImageOrientation(const DCMFF* header, double orientation[6]);
// What stands for a missing orientation or position (every value 1e60).
void TWKDCM_GetVoidOrientation(double orientation[6]);
void TWKDCM_GetVoidPosition(DPOINT3D* position);
// Study Description (0008,1030) and Study Instance UID (0020,000D). The getter gives true when the UID
// is present (a missing description is left empty); the setter writes both (an empty description
// empties the element).
bool TWKDCM_GetStudyDescriptionAndUID(const DCMFF* header, CString* description, CString* uid);
bool TWKDCM_SetStudyDescriptionAndUID(DCMFF* header, const wchar_t* description, const wchar_t* uid);
// Rescale Slope (0028,1053) and Intercept (0028,1052). Both outputs are always written: a missing
// value is given as 1 or 0 and the result is then false.
bool TWKDCM_GetSlopeIntercept(const DCMFF* header, double* slope, double* intercept);
bool TWKDCM_SetSlopeIntercept(DCMFF* header, double slope, double intercept);
// Acquisition Time (0008,0032), else Content Time (0008,0033), else Series Time (0008,0031); seconds
// since midnight. The setter writes Acquisition Time.
bool TWKDCM_GetAcquisitionTime(const DCMFF* header, double* seconds);
bool TWKDCM_SetAcquisitionTime(DCMFF* header, double seconds);
// Acquisition date and time as seconds since 1970-01-01 00:00 (the header's own clock, no time zone):
// Acquisition DateTime (0008,002A), else Acquisition Date and Time, else Content, Series, Study.
bool TWKDCM_GetAbsoluteTime(const DCMFF* header, double* seconds);
// Diffusion b-value in s/mm^2: Diffusion b-value (0018,9087) at the top level or in the functional
// groups, else the vendors' private elements: Siemens (0019,100C), GE (0043,1039) first value (less
// any 1e9 offset), Philips (2001,1003), and (0019,10B0) under other private creators.
bool TWKDCM_GetDiffusionBvalue(const DCMFF* header, double* bvalue);
// Writes (0018,9087) and every vendor b-value element the header already has.
bool TWKDCM_SetDiffusionBvalue(DCMFF* header, double bvalue);
// Patient ID (0010,0020), sex (0010,0040) and birth date (0010,0030): true when the ID is present; the
// other two are empty when absent.
bool TWKDCM_GetPatientInfo(const DCMFF* header, CString* patientId, CString* sex, CString* birthDate);
// Study Date (0008,0020), else Series, Acquisition or Content Date, as stored (YYYYMMDD).
bool TWKDCM_GetGeneralDate(const DCMFF* header, CString* date);
// Series Number (0020,0011).
bool TWKDCM_GetSeriesNumber(const DCMFF* header, int* number);
// Display name of a volume modality code: 0 "CT", 1 "MR", 2 "PET"; null for any other code.
const wchar_t* TWKDCM_GetModalityName(int modality);

// Rewrite one value of a DICOM file in place (a temporary file beside it, then renamed over it;
// pixel data and transfer syntax kept). Failures are reported.
bool TWKDCM_ReplaceTEval(const wchar_t* path, double seconds);
bool TWKDCM_ReplaceDiffusionBvalue(const wchar_t* path, double bvalue);

// ---------------------------------------------------------------------------------------------
// Pixels
// ---------------------------------------------------------------------------------------------

// Registers the JPEG, JPEG-LS, RLE and JPEG 2000 decoders (high-throughput JPEG 2000 is decoded by
// the pixel functions themselves); every call is paired with TWKDCM_DJDecodeClean,
// which releases them after the last pair. Pixel functions work without them too (they register
// for their own duration).
void TWKDCM_DJDecodeRegister();
void TWKDCM_DJDecodeClean();
// The first frame of a DICOM file as 32-bit values, in any transfer syntax the toolkit decodes:
// *pixels is a new pf_malloc block of width x height values (row by row), stored values without the
// rescale; *isSigned tells whether the stored values are signed (else read them as unsigned). Colour
// images give their luminance; float pixel data give their values rounded (signed). False, outputs
// untouched, on failure. Silent.
bool TWKDCM_GetImage(const wchar_t* path, int* width, int* height, int32_t** pixels, bool* isSigned);
// Byte size of the pixel data as stored (the fragments' sum for compressed data) and the name of the
// transfer syntax, e.g. "Little Endian Explicit", "JPEG-LS Lossless". False when the file has no pixel data.
bool TWKDCM_GetPixelDataInfo(const wchar_t* path, int64_t* pixelDataSize, CString* transferSyntax);
// Splits a multi-frame file (classic or enhanced) into single-frame files in targetFolder, named
// name + "_%04u.dcm" (frame number from 1; name null or empty: the file's title). Each file gets its
// own SOP instance UID, instance number = frame number and, for enhanced files, the frame's
// functional groups as plain elements (image position and orientation, pixel spacing, echo time,
// b-value, rescale...). Pixel data are written uncompressed, Explicit VR Little Endian.
// A DICOM file of one frame is copied unchanged (as name + ".dcm", or under its own file name when
// name is null or empty) when copySingleFrame is set, else refused; a non-DICOM file is refused. Failures are reported when showMessages is set.
bool TWKDCM_SplitMultiframeFile(const wchar_t* path, const wchar_t* targetFolder, const wchar_t* name,
                                bool copySingleFrame, bool showMessages);
