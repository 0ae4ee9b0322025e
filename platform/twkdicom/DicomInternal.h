#pragma once
// Shared pieces of the TwkDicom sources: the header object, tag keys, text and number conversions,
// safe file replacement and the decoder registration guard. Not installed; DCMTK types live here.

#include <cstdint>
#include <string>
#include <vector>

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dctk.h"

#include "CString.h"
#include "TwkDicom.h"

struct DCMFF {
  DcmFileFormat file;
};

namespace twk::dicom {

inline DcmTagKey key(uint32_t tag) { return DcmTagKey(TWKDCM_TagGroup(tag), TWKDCM_TagElement(tag)); }
inline uint32_t tagOf(const DcmTagKey& k) { return TWKDCM_TAG(k.getGroup(), k.getElement()); }

// DCMTK's getters are not const; headers handed in as const are only read.
inline DcmDataset* dataset(const DCMFF* header) {
  return header ? const_cast<DCMFF*>(header)->file.getDataset() : nullptr;
}

// The element at the top level of an item, or null.
DcmElement* findElement(DcmItem* item, uint32_t tag);
// The element's values as one 8-bit string ("a\b\c"), false when absent or without a value.
bool elementString(DcmElement* element, std::string& value);
// Value number index of a numeric or numeric-text element.
bool elementNumber(DcmElement* element, int index, double& value);
int elementCount(DcmElement* element);
// Writes a number into an existing element according to its VR (DS and IS as text).
bool putNumber(DcmElement* element, double value);
// Set-or-insert at the top level of an item; the dictionary VR decides the encoding.
bool setNumber(DcmItem* item, uint32_t tag, double value);
bool setText(DcmItem* item, uint32_t tag, const std::string& bytes);
// The numbers as one multi-valued decimal string (finite values only), set-or-insert; and the first
// count numbers of an element.
bool setMultiNumbers(DcmItem* item, uint32_t tag, const double* values, int count);
bool getNumbers(DcmItem* item, uint32_t tag, double* values, int count);
// Updates every existing element with the tag, at any depth; returns how many were changed.
int replaceNumberEverywhere(DcmItem* item, uint32_t tag, double value);

// Decimal String text of at most 16 characters.
std::string formatDecimalString(double value);
// "HHMMSS.FFFFFF" of seconds since midnight (taken modulo one day).
std::string formatTime(double seconds);
bool parseTime(const std::string& text, double& seconds);
// Days since 1970-01-01 of a DA text (YYYYMMDD or YYYY.MM.DD).
bool parseDate(const std::string& text, int64_t& days);

// Text of a header in wide characters: UTF-8 when the data set declares ISO_IR 192, else Windows-1252.
bool isUtf8(DcmItem* item);
CString decodeText(DcmItem* item, const std::string& bytes);
std::string encodeText(DcmItem* item, const wchar_t* text);

// A new globally unique UID (2.25 form, from 128 random bits).
std::string newUid();

// Loads a whole file (pixel data included). False for a missing, truncated or non-DICOM file.
bool loadWholeFile(const wchar_t* path, DcmFileFormat& file, std::string* reason);
// True when a freshly loaded object holds a DICOM data set rather than bytes that merely parsed.
bool looksLikeDicom(DcmFileFormat& file);
// Writes the file to a temporary file beside path, reads it back and renames it over path.
// xfer EXS_Unknown keeps the original transfer syntax.
bool saveFileSafely(DcmFileFormat& file, const std::string& nativePath, E_TransferSyntax xfer,
                    E_FileWriteMode mode, std::string* reason);

// Counted registration of the JPEG, JPEG-LS and RLE decoders for one scope.
class DecoderScope {
 public:
  DecoderScope() { TWKDCM_DJDecodeRegister(); }
  ~DecoderScope() { TWKDCM_DJDecodeClean(); }
  DecoderScope(const DecoderScope&) = delete;
  DecoderScope& operator=(const DecoderScope&) = delete;
};

// "<function> : <message>" through the UI.
void reportError(const char* function, const CString& message);

// Clears the de-identification UID map (shutdown).
void forgetReplacedUids();
// Puts the default PHI profile in force.
void resetPhiProfile();

}  // namespace twk::dicom
