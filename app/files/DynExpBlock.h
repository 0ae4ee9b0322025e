#pragma once
// The dynamic-experiment block at the end of a document file: the kinetic-model host's settings
// that a document carries (the input functions with their names), and whether the document held a
// 4D layer when it was saved.
//
// The imaging core's host (CDynExp) has no block writer and reader of its own yet, so the document
// file code writes and reads this block itself. Layout (little-endian, no padding):
//   0    4   magic "DXB1"
//   4    4   int32 flags: bit 0 set when the active layer set had a 4D layer
//   8    4   int32 slot count S (the host's input-function slots, at most 64)
//   then S slots: int32 name length L (UTF-16 code units, at most 4096), L x 2 bytes name
//   (UTF-16LE), int32 point count P (0 .. 20000), P doubles times, P doubles values
// The older document versions carry the same block where they carry one.

#include <cstdio>

class CDynExp;
struct MFILE;

namespace twk::files {

bool writeDynExpBlock(MFILE* mf, const CDynExp& dynExp, bool has4D);
// Reads and checks a block at the stream's position; into is null to pass over the block (it is
// checked all the same), else it receives the settings. False for a short or damaged block, which
// leaves into unchanged.
bool readDynExpBlock(FILE* fp, CDynExp* into);

}  // namespace twk::files
