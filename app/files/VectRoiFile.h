#pragma once
// Vector-ROI files (".vroi"): the vector ROIs of one volume layer set as key=value lines of UTF-16LE
// text without a byte-order mark, each line ending with a single line feed:
//   Number of ROIs=N
// then per ROI: Roi Label, color (0x00BBGGRR), t0, t1, x0, x1, y0, y1, z0, z1 (boxes as "%le").
//
// The reader reads keys in file order with one line of lookahead: a key that is not on the next
// line is reported missing and that line stays for the next key, so a missing "color" line gives
// the default colour and the "t0" line after it still loads.

#include <cstdint>
#include <cstdio>
#include <string>

struct HIGHOBJ;
class CDrawSet;

// Colour of a ROI whose "color" line is missing: green.
constexpr uint32_t TW_VROI_DEFAULT_COLOR = 65280;

// A line reader over a UTF-16LE file opened in binary mode.
struct PR_USTREAM {
  std::FILE* file = nullptr;
  bool havePending = false;  // a line read ahead that no key took
  bool eof = false;
  std::wstring pending;
};

// Each reads the next line when it holds "key=value": the line is consumed and the value, when it
// parses, goes to *value (true). Another key or the end of the file gives false and the line stays
// for the next call; a value that does not parse gives false with its line consumed.
bool PR_Uread_int(PR_USTREAM* stream, const wchar_t* key, int* value);
bool PR_Uread_uint(PR_USTREAM* stream, const wchar_t* key, uint32_t* value);
bool PR_Uread_str(PR_USTREAM* stream, const wchar_t* key, std::wstring* value);
bool PR_Uread_double(PR_USTREAM* stream, const wchar_t* key, double* value);

// Writes n records with their colours to path (created or truncated). 1 when the whole file was
// written and closed, 0 on any failure (what was written stays).
int TW_WriteVectRoiFile(HIGHOBJ* const* records, const uint32_t* colours, uint32_t n, const wchar_t* path);

// Reads a file into a new pf_malloc array of n records owned by owner (kind 1, shape 1) and a
// parallel pf_malloc array of colours (*colours, *count). Null (outputs unchanged) when the file
// cannot be opened, has no count, holds a count its size cannot hold, or misses a "Roi Label" line.
// Missing t0, t1 or box lines leave zeros; labels are cut to 127 characters.
HIGHOBJ* TW_ReadVectRoiFile(CDrawSet* owner, const wchar_t* path, uint32_t** colours, uint32_t* count);
