#pragma once
// Binary readers of the document readers: little-endian fields as the files store them (this
// platform is little-endian, as the files are).

#include <cstdint>
#include <cstdio>

#include "TwkMem.h"

// Reads 4 bytes into *out, zero-extended; the number of items read (1 or 0).
inline size_t PR_FileReadUInt32To64(FILE* f, uint64_t* out) {
  uint32_t v = 0;
  const size_t n = fread(&v, 4, 1, f);
  if (n == 1) *out = v;
  return n;
}

// Reads 4 bytes into *out; the number of items read (1 or 0).
inline size_t PR_FileReadInt32(FILE* f, int32_t* out) { return fread(out, 4, 1, f); }

// A zeroed pf_calloc block of nAlloc 72-byte records (DYNCRD) with the first nRead read from the
// file; null (nothing left allocated) when nRead is negative or above nAlloc, or the allocation or
// the read fails.
inline void* PR_FileReadRecords72(FILE* f, int64_t nAlloc, int64_t nRead) {
  if (nAlloc <= 0 || nRead < 0 || nRead > nAlloc) return nullptr;
  void* buf = pf_calloc(72 * nAlloc);
  if (!buf) return nullptr;
  if (nRead > 0 && fread(buf, size_t(72 * nRead), 1, f) != 1) {
    pf_free(&buf);
    return nullptr;
  }
  return buf;
}
