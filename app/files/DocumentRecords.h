#pragma once
// Records of the document file and the checked stream helpers that read and write them. Internal
// to the document file code (app/files).
//
// Object records of version 17 (int32 tag first; the base record follows the tag of 5, 8 and 9):
//   base record, 78 bytes: byte marked, int32 opacity, 4 doubles world rectangle, 36-byte style,
//                          int32 highlight code, byte reserved (0)
//   5 polyline:   base; int32 slice; 3 doubles plane point; byte spline; int32 reserved; double
//                 tension; byte closed; int32 contour count K (>= 1); K int32 counts (>= 0);
//                 N = sum of the counts points of two doubles
//   8 layer set:  base; text line name; byte vector-ROI flag; then
//                 volume set:     int32 active layer, int32 layer count L, byte interlace mode,
//                                 int32 interlace cell, L volume layer records
//                 vector-ROI set: text line label, int32 kind, int32 shape, int32 owner (position
//                                 of the owning set in the document's object list, -1 for none),
//                                 int32 t0, int32 t1, 6 doubles box
//   9 volume layer: base; 26-byte display filter; text lines file title and unit; 128-byte volume
//                 block (VOLBLOCK); frame (FrameFile.h); byte stored-dynamics flag and T x 72 bytes
//                 of DYNCRD when it is 1; int64 DICOM header size U; int64 stored size S (S > 0:
//                 S bytes of zlib data that inflate to U bytes; S < 0: -S = U raw bytes; 0 invalid);
//                 the headers (TWKDCM_SaveHeaders form, one per slice and time point)
//   2, 3, 4 rectangle and ellipse: int32 kind, 4 doubles rectangle, int32 highlight, 36-byte style
//   6 arc:        int32 6, int32 highlight, 36-byte style, 4 doubles rectangle, 2 doubles start,
//                 2 doubles end

#include <cstdint>
#include <cstdio>
#include <type_traits>

#include "CString.h"
#include "DrawObj.h"
#include "TwkTypes.h"

class CVol;
struct MFILE;

namespace twk::files {

#pragma pack(push, 1)
// The base record of every polyline, set and volume layer.
struct BASEREC {
  uint8_t marked = 1;
  int32_t opacity = 100;
  DRECT world;
  DRAWSTYLE style;
  int32_t highlight = 0;
  uint8_t reserved = 0;
};

// The volume layer's 128-byte block: the geometry that the per-slice DICOM headers cannot carry
// exactly (spacing, direction cosines, modality), whether the volume has image positions, and the
// T1 of an ROI's tissue attributes (0 in documents written before it was kept).
struct VOLBLOCK {
  SPC spacing;
  int32_t modality = 0;
  double orientation[6] = {1, 0, 0, 0, 1, 0};
  uint8_t hasImagePositions = 0;
  double tissueT1 = 0;
  uint8_t reserved[43] = {};
};
#pragma pack(pop)
static_assert(sizeof(BASEREC) == 78, "the base record is 78 bytes");
static_assert(sizeof(VOLBLOCK) == 128, "the volume block is 128 bytes");

// Smallest size of an object record, used to bound counts read from a file.
constexpr int64_t kMinObjectRecord = 4 + 32 + 4 + 36;  // a rectangle record
constexpr int64_t kMinLayerRecord = 4 + int64_t(sizeof(BASEREC));

void packVolumeBlock(const CVol* vol, VOLBLOCK* block);
// Spacing, orientation (when valid) and modality of the block into the volume; without image
// positions the volume's positions are dropped.
void unpackVolumeBlock(const VOLBLOCK& block, CVol* vol);

// ---- writing into a memory file ----
bool writeBytes(MFILE* mf, const void* data, int64_t count);
template <class T>
bool writeValue(MFILE* mf, const T& value) {
  static_assert(std::is_trivially_copyable_v<T>);
  return writeBytes(mf, &value, int64_t(sizeof(T)));
}
// A text line: UTF-16LE text and one line feed. Line feeds inside the text would end the line early
// and shift every later field, so they are written as blanks.
bool writeLine(MFILE* mf, const CString& text);

// ---- reading from a file ----
// Bytes between the stream's position and the end of the file; 0 when unknown.
int64_t bytesLeft(FILE* fp);
bool readBytes(FILE* fp, void* out, int64_t count);
template <class T>
bool readValue(FILE* fp, T* value) {
  static_assert(std::is_trivially_copyable_v<T>);
  return readBytes(fp, value, int64_t(sizeof(T)));
}
// Skips count bytes that must lie within the file.
bool skipBytes(FILE* fp, int64_t count);
// One text line, no longer than the bytes left in the file.
bool readLine(FILE* fp, CString* line);

// The base record into obj (position, marked flag, opacity, style, highlight).
bool readBaseRecord(FILE* fp, CDrawObj* obj);
bool writeBaseRecord(MFILE* mf, CDrawObj* obj);

}  // namespace twk::files
