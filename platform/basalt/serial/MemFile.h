#pragma once
// The growing in-memory file of the imaging core and the wide line reader.
//
// A document is written into an MFILE first and only then to disk, so that a failed write never
// touches the file system and the saved bytes can be compared with what was meant to be written.
// Text lines of document files are UTF-16LE, ended by one line feed (U+000A), with no byte-order
// mark: PR_MemFileWriteString writes them and PR_fgetts reads them back.

#include <cstdint>
#include <cstdio>
#include <vector>

#include "CString.h"

struct MFILE {
  std::vector<uint8_t> bytes;  // the content written so far; its size is the file size
};

// A new, empty memory file with room for initialBytes before it has to grow (0 is allowed).
// Null only when the initial room cannot be taken.
MFILE* PR_MemFileOpen(int64_t initialBytes);
// Appends count bytes; false (and nothing appended) for a null file, a null source with a
// non-zero count, a negative count or when the file cannot grow.
bool PR_MemFileWrite(MFILE* mf, const void* data, int64_t count);
// Formats with the program's printf conventions (%s wide) and appends the text as UTF-16LE.
bool PR_MemFileWriteString(MFILE* mf, const wchar_t* format, ...);
// Writes the memory file's bytes from offset start to the end into path. The bytes go to a
// temporary file beside the target first, which is renamed over the target only when complete, so
// a failed save keeps the previous file. Failures are shown (when show is set) naming the file.
bool PR_MemFileSaveToFile(const MFILE* mf, const wchar_t* path, int64_t start, bool show);
namespace twk {
// The same save without a message: on failure, failure gets what went wrong and why, naming
// shownName (the file the user chose, when path is a temporary file beside it) instead of path.
bool saveMemFile(const MFILE* mf, const wchar_t* path, int64_t start, const wchar_t* shownName, CString* failure);
}  // namespace twk
// Compares the memory file's bytes from offset start with the whole content of path: equal is
// set when they match byte for byte (same length included). False when the file cannot be read.
bool PR_MemFileCompareToFile(const MFILE* mf, const wchar_t* path, int64_t start, bool* equal, bool show);
// Frees the memory file and nulls the handle; a null handle or file is accepted.
void PR_MemFileClose(MFILE** mf);
// Size in bytes of what was written.
int64_t PR_MemFileSize(const MFILE* mf);

// Reads one line of 16-bit little-endian characters up to a line feed, which is dropped (a
// carriage return before it is kept, as the file holds it). False at the end of the file when
// nothing was read, or on a read error; a last line without a line feed is returned as it is.
// Lines longer than maxChars characters are refused (false) so that a damaged file cannot make
// the reader take unbounded memory.
bool PR_fgetts(FILE* fp, CString* line, int64_t maxChars = 1 << 20);
